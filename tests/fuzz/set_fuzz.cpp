// The set line at the limits: display indexes of every width and numbers
// beyond what an int or a double holds. Each line of the input is a set line;
// it may change only the scope its index names (none for an index outside
// -1..3, however wide), and every integer read back is the number its digits
// spell, held at int's limits. Both are worked out here from the text alone.
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "options/options.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The integer at the start of text as a C reader sees it, exactly: false when
// it does not fit in a long long (then *value is only its sign).
bool exact_integer(const char *text, long long *value) {
  while (isspace(static_cast<unsigned char>(*text))) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  while (*text == '0') ++text;
  long long v = 0;
  int digits = 0;
  for (; isdigit(static_cast<unsigned char>(*text)); ++text, ++digits) v = digits < 18 ? v * 10 + (*text - '0') : v;
  *value = negative ? -v : v;
  if (digits >= 18) *value = negative ? -1 : 1;
  return digits < 18;
}

// The scope a set line may change: 0 global, 1..4 a display, -1 none.
int scope_named(const std::string &line) {
  size_t at = line.find_first_not_of(' ', 4);
  if (at == std::string::npos || line[at] != ':') return 0;
  const size_t end = line.find(' ', at);
  long long n;
  if (!exact_integer(line.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1).c_str(), &n))
    return -1;
  return n >= -1 && n <= 3 ? static_cast<int>(n) + 1 : -1;
}

uint64_t fingerprint(const OptionEntry *scope) {
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](const char *s) {
    for (; *s; ++s) h = (h ^ static_cast<unsigned char>(*s)) * 1099511628211ull;
    h = (h ^ 0xff) * 1099511628211ull;
  };
  for (int i = 0; i < OptionStore::kEntries && scope[i].key[0]; ++i) {
    mix(scope[i].key);
    mix(scope[i].value ? scope[i].value : "");
  }
  return h;
}

}  // namespace

int fuzz_file(const char *, const uint8_t *data, size_t size) {
  fuzz::for_each_set_line(data, size, [](const std::string &line) {
    uint64_t before[OptionStore::kScopes];
    for (int s = 0; s < OptionStore::kScopes; ++s) before[s] = fingerprint(g_options.scopes[s]);
    const int may_change = scope_named(line);
    std::string typed = line;
    int display;
    set_line(&typed[0], &display);
    for (int s = 0; s < OptionStore::kScopes; ++s)
      if (s != may_change && fingerprint(g_options.scopes[s]) != before[s]) __builtin_trap();
  });

  for (int s = 0; s < OptionStore::kScopes; ++s)
    for (int i = 0; i < OptionStore::kEntries && g_options.scopes[s][i].key[0]; ++i) {
      const char *key = g_options.scopes[s][i].key;
      const char *text = g_options.find(s - 1, key, false);  // an alias may lead elsewhere
      if (!text) continue;
      long long want;
      if (!exact_integer(text, &want) || want > INT_MAX || want < INT_MIN) want = want < 0 ? INT_MIN : INT_MAX;
      if (g_options.get_int(s - 1, key, false, 0) != want) __builtin_trap();
      g_options.get_double(s - 1, key, false, 0);
    }
  g_options.print_all();
  g_options.release();
  return 0;
}
