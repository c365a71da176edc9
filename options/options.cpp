// Option store: lookup with display fallback, KNOWN aliases, settings file.
#include "options/options.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "options/side_file.h"

OptionStore g_options;

namespace {

OptionEntry *scope_of(OptionStore &store, int display) {
  if (display < -1 || display > 3) return nullptr;
  return store.scopes[display + 1];
}

const char *search_scope(const OptionEntry *scope, const char *key) {
  for (int i = 0; i < OptionStore::kEntries && scope[i].key[0]; ++i)
    if (strcmp(scope[i].key, key) == 0) return scope[i].value;
  return nullptr;
}

char *copy_text(const char *text) {
  size_t n = strlen(text) + 1;
  char *p = static_cast<char *>(malloc(n));
  if (p) memcpy(p, text, n);
  return p;
}

// An integer as C atoi reads it (blanks, a sign, digits; the rest ignored),
// except that a number beyond int does not wrap round onto some other
// number: it is held at the nearer limit, where range checks see it, and the
// result is false.
bool read_int(const char *text, int *out) {
  errno = 0;
  const long v = strtol(text, nullptr, 10);
  if (errno == ERANGE || v > INT_MAX || v < INT_MIN) {
    *out = v < 0 ? INT_MIN : INT_MAX;
    return false;
  }
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

// strtok-like splitting on a delimiter set, without hidden state.
char *next_token(char **pos, const char *delims) {
  char *s = *pos;
  if (!s) return nullptr;
  s += strspn(s, delims);
  if (!*s) {
    *pos = s;
    return nullptr;
  }
  char *end = s + strcspn(s, delims);
  if (*end) {
    *end = 0;
    *pos = end + 1;
  } else {
    *pos = end;
  }
  return s;
}

const char *OptionStore::resolve_alias(const char *key, char buffer[20]) {
  if (strcmp(key, "KNOWN") == 0) return key;
  const char *known = search_scope(scopes[0], "KNOWN");
  if (!known || !*key) return key;
  // "=" immediately followed by the key, as a plain substring.
  const char *hit = nullptr;
  for (const char *p = strchr(known, '='); p; p = strchr(p + 1, '=')) {
    if (strncmp(p + 1, key, strlen(key)) == 0) {
      hit = p;
      break;
    }
  }
  if (!hit) return key;
  const char *plus = hit;
  while (plus > known && *plus != '+') --plus;
  if (*plus != '+') {
    printf("KNOWN variable is wrong build (+key=alias +key +key=alias ...)\n");
    return key;
  }
  // Keys in KNOWN longer than 19 characters are cut, as the store cuts them.
  int n = 0;
  for (const char *p = plus + 1; *p && *p != ' ' && *p != '=' && n < kKeyChars; ++p)
    buffer[n++] = *p;
  buffer[n] = 0;
  // "+=b" names no key: storing under the empty key would mark the entry
  // free, and the next option would overwrite it.
  if (n == 0) {
    printf("*** warning: alias '%s' in KNOWN stands for no key, ignored\n", key);
    return key;
  }
  return buffer;
}

bool OptionStore::is_unlisted(const char *key) {
  const char *known = search_scope(scopes[0], "KNOWN");
  if (!known) return false;
  if (strcmp(key, "KNOWN") == 0) return false;
  size_t n = strlen(key);
  for (const char *p = known; *p; ++p)
    if ((*p == '+' || *p == '=') && strncmp(p + 1, key, n) == 0) return false;
  return true;
}

const char *OptionStore::find(int display, const char *key, bool warn) {
  if (display < -1 || display > 3) {
    printf("unknown display :%d\n", display);
    return nullptr;
  }
  char buffer[20];
  const char *resolved = resolve_alias(key, buffer);
  const char *result = search_scope(scopes[0], resolved);
  if (display != -1) {
    const char *own = search_scope(scopes[display + 1], resolved);
    if (own) result = own;
  }
  if (!result && warn) printf("not found '%s'\n", resolved);
  return result;
}

double OptionStore::get_double(int display, const char *key, bool warn, double def) {
  const char *v = find(display, key, warn);
  return v ? atof(v) : def;
}

int OptionStore::get_int(int display, const char *key, bool warn, int def) {
  const char *v = find(display, key, warn);
  if (!v) return def;
  int n;
  read_int(v, &n);
  return n;
}

const char *OptionStore::get_text(int display, const char *key, bool warn, const char *def) {
  const char *v = find(display, key, warn);
  return v ? v : def;
}

int OptionStore::set(int display, const char *key, const char *text) {
  OptionEntry *scope = scope_of(*this, display);
  if (!scope) {
    printf("unknown display :%d\n", display);
    return 1;
  }
  if (is_unlisted(key))
    printf("warning: '%s' could be an unknown option (see option KNOWN)\n", key);
  char buffer[20];
  const char *resolved = resolve_alias(key, buffer);
  int i = 0;
  while (i < kEntries && scope[i].key[0] && strncmp(scope[i].key, resolved, kKeyChars) != 0) ++i;
  if (i == kEntries) {
    printf("nbr of options exceeded\n");
    return 0;
  }
  char *copy = copy_text(text);
  if (!copy) return 0;
  strncpy(scope[i].key, resolved, kKeyChars);
  scope[i].key[kKeyChars] = 0;
  free(scope[i].value);
  scope[i].value = copy;
  return 1;
}

int OptionStore::load_file(const char *path) {
  FILE *f = nullptr;
  const SideFile opened = open_side_file(path, "rb", kSettingsFileMax, "settings file", &f);
  if (opened == SideFile::Missing) return 1;
  if (opened != SideFile::Open) return 0;
  char line[1024];
  int ok = 1;
  while (fgets(line, sizeof line, f)) {
    line[strcspn(line, "\r\n")] = 0;
    if (line[0] == '#' || line[0] == 0) continue;
    char *pos = line;
    char *word = next_token(&pos, " ");
    int display = -1;
    bool known_display = true;
    char *key = word;
    if (word && word[0] == ':') {
      known_display = read_int(word + 1, &display);
      key = next_token(&pos, " ");
    }
    // next_token left pos just past the single blank that ended the key.
    const char *value = pos;
    if (!key || !value || !*value) {
      ok = 0;
      break;
    }
    // An index beyond int is a bad index like any other: reported, and the
    // reading goes on.
    if (!known_display) {
      printf("unknown display :%s\n", word + 1);
      continue;
    }
    if (set(display, key, value) == 0) {
      ok = 0;
      break;
    }
  }
  fclose(f);
  return ok;
}

void OptionStore::print_all() {
  printf("DISPLAY\t%10s\tVALUE\n-----------------------------\n", "OPTION");
  for (int s = 0; s < kScopes; ++s) {
    char letter = s == 0 ? '*' : static_cast<char>('0' + s - 1);
    for (int i = 0; i < kEntries && scopes[s][i].key[0]; ++i)
      printf(":%c\t%10s\t%s\n", letter, scopes[s][i].key, scopes[s][i].value ? scopes[s][i].value : "(null)");
  }
}

void OptionStore::release() {
  for (auto &scope : scopes)
    for (auto &e : scope) {
      free(e.value);
      e.value = nullptr;
      e.key[0] = 0;
    }
}

int set_line(char *line, int *display_out) {
  char *pos = line;
  next_token(&pos, " ");  // the command word
  char *word = next_token(&pos, " ");
  if (!word) {
    g_options.print_all();
    return kSetDone;
  }
  int display = -1;
  bool known_display = true;
  char *key = word;
  if (word[0] == ':') {
    known_display = read_int(word + 1, &display);
    key = next_token(&pos, " ");
    if (!key) {
      g_options.print_all();
      return kSetDone;
    }
  }
  *display_out = display;
  char *value = next_token(&pos, " \r\n");
  // An index beyond int names no display (wrapped, it would name display 0
  // or the global scope); only the viewport query needs none.
  const bool viewport = !value && strcmp(key, "VIEWPORT") == 0;
  if (!known_display && !viewport) {
    printf("unknown display :%s\n", word + 1);
    if (!value && strcmp(key, "SLICE") != 0) printf("%s -> (null)\n", key);
    return kSetDone;
  }
  if (value) {
    if (g_options.set(display, key, value) == 0) printf("cannot set option '%s'\n", key);
    return kSetDone;
  }
  if (strcmp(key, "VIEWPORT") == 0) return kSetViewport;
  if (strcmp(key, "SLICE") == 0) return kSetSlice;
  const char *found = g_options.find(display, key, true);
  printf("%s -> %s\n", key, found ? found : "(null)");
  return kSetDone;
}
