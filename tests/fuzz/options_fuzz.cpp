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

  const char *p = reinterpret_cast<const char *>(data);
  const char *end = p + size;
  for (int lines = 0; p < end && lines < 300; ++lines) {
    const char *nl = static_cast<const char *>(memchr(p, '\n', end - p));
    const char *stop = nl ? nl : end;
    // The console hands set one line without its line end, and stops at a NUL.
    std::string line = "set " + std::string(p, stop - p).substr(0, 1024);
    line.resize(strlen(line.c_str()));
    int display;
    set_line(&line[0], &display);
    p = nl ? nl + 1 : end;
  }

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
