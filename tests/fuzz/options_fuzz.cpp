// The settings file loader and the set command: the input is loaded as a
// settings file, then each of its lines is given to the set line, then everything is
// read back and listed.
#include <cstdint>
#include <cstring>
#include <string>

#include "options/options.h"
#include "tests/fuzz/fuzz_support.h"

int fuzz_file(const char *path, const uint8_t *data, size_t size) {
  g_options.load_file(path);

  fuzz::for_each_set_line(data, size, [](std::string line) {
    int display;
    set_line(&line[0], &display);
  });

  static const char *const keys[] = {"KNOWN", "lp.f", "style", "cutoff", "x", "", "samplerate"};
  for (int d = -2; d <= 4; ++d)
    for (const char *k : keys) {
      g_options.get_double(d, k, true, 1.0);
      g_options.get_int(d, k, false, 1);
      g_options.get_text(d, k, true, "def");
    }
  g_options.print_all();
  g_options.release();
  return 0;
}
