// Times fold with the default options on a 60 s stereo 44100 Hz file, beside
// sox copying the same file, in the same run. Best of five of each.
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

void write_music(const std::string &path, int seconds) {
  const int sr = 44100, frames = sr * seconds;
  FILE *f = fopen(path.c_str(), "wb");
  auto p16 = [&](int v) { fputc(v & 255, f); fputc((v >> 8) & 255, f); };
  auto p32 = [&](unsigned v) { p16(v & 0xffff); p16(v >> 16); };
  unsigned data = frames * 4u;
  fwrite("RIFF", 1, 4, f); p32(36 + data); fwrite("WAVEfmt ", 1, 8, f);
  p32(16); p16(1); p16(2); p32(sr); p32(sr * 4); p16(4); p16(16); fwrite("data", 1, 4, f); p32(data);
  for (int t = 0; t < frames; ++t) {
    double x = 0.2 * std::sin(2 * M_PI * 110 * t / sr) + 0.2 * std::sin(2 * M_PI * 440 * t / sr) +
               0.1 * std::sin(2 * M_PI * 660 * t / sr) * ((t / 11025) % 2);
    p16(static_cast<int>(x * 32767));
    p16(static_cast<int>(x * 30000));
  }
  fclose(f);
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/yelm-bench-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  std::string in = dir + "/in.wav", out = dir + "/out.wav", sox_out = dir + "/sox.wav";
  const double seconds = 60;
  write_music(in, static_cast<int>(seconds));

  double best_fold = 1e9, best_cmd = 1e9, best_sox = 1e9;
  for (int rep = 0; rep < 5; ++rep) {
    // In-process engine run, progress output sent to /dev/null.
    fflush(stdout);
    int saved = dup(1);
    if (!freopen("/dev/null", "w", stdout)) return 1;
    double t0 = now();
    std::string o = "-o" + out, i = "-i" + in;
    const char *v[] = {"binary", o.c_str(), i.c_str()};
    fold_main(3, const_cast<char **>(v));
    fflush(stdout);
    double t1 = now();
    dup2(saved, 1);
    close(saved);
    stdout = fdopen(1, "w");
    best_fold = std::min(best_fold, t1 - t0);

    // The whole command through the console, as a user runs it.
    std::string cmd = "cd " + dir + " && printf 'fold out.wav in.wav\\nexit\\n' | DISPLAY= " YELM_BINARY_PATH
                      " >/dev/null 2>&1";
    t0 = now();
    if (system(cmd.c_str()) != 0) fprintf(stderr, "yelm run failed\n");
    best_cmd = std::min(best_cmd, now() - t0);

    std::string sox = "sox " + in + " " + sox_out + " >/dev/null 2>&1";
    t0 = now();
    if (system(sox.c_str()) != 0) {
      fprintf(stderr, "sox failed (is it installed?)\n");
      best_sox = NAN;
    }
    best_sox = std::min(best_sox, now() - t0);
  }
  printf("fold, 60 s stereo 44100 Hz, default options (best of 5):\n");
  printf("  engine:        %.3f s  = %.0fx realtime\n", best_fold, seconds / best_fold);
  printf("  whole command: %.3f s  = %.0fx realtime (yelm start-up and exit included)\n", best_cmd,
         seconds / best_cmd);
  printf("  sox copy:      %.3f s\n", best_sox);
  printf("  engine / sox copy = %.2f, whole command / sox copy = %.2f\n", best_fold / best_sox,
         best_cmd / best_sox);
  std::string rm = "rm -rf " + dir;
  return system(rm.c_str()) == 0 ? 0 : 1;
}
