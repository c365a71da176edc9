// Times fold on one 60 s stereo 44100 Hz piece as a canonical 16-bit WAV, a
// 24-bit WAV and a FLAC file (both made by sox from the canonical one), in
// the same run: the decoded files' times as ratios to the canonical file's.
// Best of five of each, taken in turns.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "transforms/fold.h"

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// fold in this process, its progress sent to /dev/null; the seconds it took.
double time_fold(const std::string &in, const std::string &out) {
  fflush(stdout);
  int saved = dup(1);
  if (!freopen("/dev/null", "w", stdout)) exit(1);
  const double t0 = now();
  std::string o = "-o" + out, i = "-i" + in;
  const char *v[] = {"binary", o.c_str(), i.c_str()};
  fold_main(3, const_cast<char **>(v));
  fflush(stdout);
  const double t = now() - t0;
  dup2(saved, 1);
  close(saved);
  stdout = fdopen(1, "w");
  return t;
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/yelm-bench-XXXXXX";
  const std::string dir = mkdtemp(tmpl);
  const std::string make = "cd " + dir +
                           " && sox -n -r 44100 -c 2 -b 16 canon.wav synth 60 sine 110 sine 440 vol 0.4"
                           " && sox canon.wav -b 24 s24.wav && sox canon.wav c.flac";
  if (system(make.c_str()) != 0) {
    fprintf(stderr, "sox could not make the files (is it installed?)\n");
    return 1;
  }
  const char *files[3] = {"canon.wav", "s24.wav", "c.flac"};
  double best[3] = {1e9, 1e9, 1e9};
  for (int rep = 0; rep < 5; ++rep)
    for (int k = 0; k < 3; ++k) best[k] = std::min(best[k], time_fold(dir + "/" + files[k], dir + "/out.wav"));
  printf("fold, 60 s stereo 44100 Hz, default options (best of 5, taken in turns):\n");
  printf("  canonical 16-bit WAV: %.3f s\n", best[0]);
  printf("  24-bit WAV:           %.3f s  = %.2f x canonical\n", best[1], best[1] / best[0]);
  printf("  FLAC:                 %.3f s  = %.2f x canonical\n", best[2], best[2] / best[0]);
  std::string rm = "rm -rf " + dir;
  return system(rm.c_str()) == 0 ? 0 : 1;
}
