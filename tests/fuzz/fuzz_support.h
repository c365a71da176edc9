// Shared by the harnesses: the readers under test take paths, so each input
// is put into a file of this process's own (in memory where possible).
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace fuzz {

inline const std::string &scratch_path() {
  static const std::string path = [] {
    const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/yelm-fuzz-" + std::to_string(getpid());
  }();
  return path;
}

// The input put into the scratch file for one run, removed again after it
// (libFuzzer ends without running exit handlers). path is null when the
// file could not be written.
struct ScratchFile {
  const char *path = nullptr;
  ScratchFile(const unsigned char *data, size_t size) {
    FILE *f = fopen(scratch_path().c_str(), "wb");
    if (!f) return;
    const bool ok = fwrite(data, 1, size, f) == size;
    if (fclose(f) == 0 && ok) path = scratch_path().c_str();
  }
  ~ScratchFile() { unlink(scratch_path().c_str()); }
};

// The readers report on standard output; the fuzzer has no use for it.
inline void quiet_stdout() {
  if (!freopen("/dev/null", "w", stdout)) abort();
}

// The input as the console hands lines to set: "set " and one line of at
// most 1024 bytes, without its line end, cut at a NUL; 300 lines at most.
template <typename Each>
void for_each_set_line(const uint8_t *data, size_t size, Each each) {
  const char *p = reinterpret_cast<const char *>(data);
  const char *end = p + size;
  for (int lines = 0; p < end && lines < 300; ++lines) {
    const char *nl = static_cast<const char *>(memchr(p, '\n', end - p));
    const char *stop = nl ? nl : end;
    std::string line = "set " + std::string(p, stop - p).substr(0, 1024);
    line.resize(strlen(line.c_str()));
    p = nl ? nl + 1 : end;
    each(line);
  }
}

}  // namespace fuzz

// Each harness defines this: one input, with its bytes also in a file at
// `path` (the readers read files).
int fuzz_file(const char *path, const uint8_t *data, size_t size);

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::quiet_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const fuzz::ScratchFile file(data, size);
  return file.path ? fuzz_file(file.path, data, size) : 0;
}
