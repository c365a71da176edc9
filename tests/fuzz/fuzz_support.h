// Shared by the harnesses: the readers under test take paths, so each input
// is put into a file of this process's own (in memory where possible).
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

inline const std::string &scratch_path() {
  static const std::string path = [] {
    const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string p = std::string(dir) + "/yelm-fuzz-" + std::to_string(getpid());
    atexit([] { unlink(scratch_path().c_str()); });
    return p;
  }();
  return path;
}

// Writes the input to the scratch file; its path, or null when it failed.
inline const char *put_in_file(const unsigned char *data, size_t size) {
  FILE *f = fopen(scratch_path().c_str(), "wb");
  if (!f) return nullptr;
  const bool ok = fwrite(data, 1, size, f) == size;
  if (fclose(f) != 0 || !ok) return nullptr;
  return scratch_path().c_str();
}

// The readers report on standard output; the fuzzer has no use for it.
inline void quiet_stdout() {
  if (!freopen("/dev/null", "w", stdout)) abort();
}

}  // namespace fuzz
