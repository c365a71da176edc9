// Speed of the live view: the idle step's analysis for four fft slots against
// four bare FFTs, and the window's frame rate with one and four fft displays
// of 256 rows while a file plays, against a bare loop that submits the same
// vertices. Needs DISPLAY for the frame rates (Xvfb + Mesa) and the sound card
// of tests/support/asound.conf (ALSA_CONFIG_PATH).
#include <GL/freeglut.h>
#include <GL/freeglut_ext.h>
#include <csetjmp>
#include <cstdarg>
#include <fftw3.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "display/analyser.h"
#include "bench/bench_window.h"
#include "display/graphs.h"
#include "options/options.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

void fill_rings() {
  unsigned seed = 1;
  for (int r = 0; r < kRings; ++r)
    for (int k = 0; k < kRingLength; ++k) {
      seed = seed * 1103515245u + 12345u;
      g_graphs.feed->window[r][k].store(((seed >> 8) & 0xffff) / 32768.0 - 1, std::memory_order_relaxed);
    }
}

void bench_analysis() {
  graphs_t &m = g_graphs;
  for (int i = 0; i < 4; ++i) {
    m.slots[i].type = kGraphFft;
    m.create_analyser(i);
  }
  printf("\n");
  fill_rings();
  const int frames = 20000;
  for (int i = 0; i < 200; ++i) analyse_slots(m);
  auto t0 = Clock::now();
  for (int i = 0; i < frames; ++i) analyse_slots(m);
  double per_frame = seconds_since(t0) / frames * 1e6;

  // Baseline: four bare 512-point transforms with their magnitudes.
  double *in = static_cast<double *>(fftw_malloc(sizeof(double) * 512));
  double *out = static_cast<double *>(fftw_malloc(sizeof(double) * 512));
  fftw_plan p = fftw_plan_r2r_1d(512, in, out, FFTW_R2HC, FFTW_ESTIMATE);
  double mags[256], sink = 0;
  for (int k = 0; k < 512; ++k) in[k] = sin(k * 0.1);
  t0 = Clock::now();
  for (int i = 0; i < frames; ++i)
    for (int s = 0; s < 4; ++s) {
      fftw_execute(p);
      for (int k = 1; k < 256; ++k) mags[k] = std::sqrt(out[k] * out[k] + out[512 - k] * out[512 - k]);
      sink += mags[7];
    }
  double bare = seconds_since(t0) / frames * 1e6;
  fftw_destroy_plan(p);
  fftw_free(in);
  fftw_free(out);
  printf("analysis, four fft slots: %.1f us per frame; four bare FFTs: %.1f us (%.2fx)%s\n", per_frame, bare,
         per_frame / bare, sink == 0.123 ? " " : "");
  for (int i = 0; i < 4; ++i) m.slots[i].type = kGraphHide;
}

// One frame of the real path: the idle step's analysis section and the
// display callback. (The file-backed sound card has no clock and plays a file
// through in seconds, so the analysis is driven here rather than through the
// idle step's running-input test; the rings hold the file's last samples.)
double window_frames(int seconds_cap, int frames) {
  graphs_t &m = g_graphs;
  auto t0 = Clock::now();
  int drawn = 0;
  int start = g_app.display_frames;
  while (drawn < frames && seconds_since(t0) < seconds_cap) {
    {
      GuiLock lock(m);
      analyse_slots(m);
    }
    display_frame();
    drawn = g_app.display_frames - start;
  }
  return drawn / seconds_since(t0);
}

// The same vertex count with nothing else: clear, strips, swap.
// Each group of 255 strips covers the same place as one display would.
double bare_frames(int groups, int seconds_cap, int frames) {
  auto t0 = Clock::now();
  int n = 0;
  while (n < frames && seconds_since(t0) < seconds_cap) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (int s = 0; s < 255 * groups; ++s) {
      const DisplaySlot &slot = g_graphs.slots[s / 255];
      glBegin(GL_QUAD_STRIP);
      for (int j = 0; j < 256; ++j) {
        double x = slot.x + j / 256.0, y = -1 + (s % 255) * (2.0 / 256);
        glColor3f(0.2f, 0.04f, 0.36f);
        glVertex3d(x, y, slot.y);
        glColor3f(0.2f, 0.04f, 0.36f);
        glVertex3d(x, y + 2.0 / 256, slot.y);
      }
      glEnd();
    }
    glutSwapBuffers();
    ++n;
  }
  return n / seconds_since(t0);
}

void bench_window() {
  if (!open_bench_window("frame rates")) return;
  standard_bench_view();

  // The file-backed sound card has no clock of its own and plays far faster
  // than real time: a long file keeps the input running through the runs.
  std::string bin = YELM_BINARY_PATH;
  std::string dir = bin.substr(0, bin.rfind('/'));
  std::string wav = dir + "/bench-long-demo.wav";
  std::string make = dir + "/mkdemo " + wav + " 60 >/dev/null";
  if (system(make.c_str()) != 0) {
    printf("frame rates: cannot make %s, skipped\n", wav.c_str());
    return;
  }
  int pass = 0;
  for (int displays : {4, 1, 4}) {  // the first pass warms the driver up
    for (int i = 0; i < 4; ++i) g_options.set(i, "style", i < displays ? "fft" : "hide");
    g_graphs.configure(wav.c_str());
    if (!g_graphs.feed->stream.load()) {
      printf("frame rates: the input did not start, skipped\n");
      return;
    }
    usleep(1500 * 1000);  // let the file play into the rings
    g_graphs.shutdown();
    window_frames(2, 5);  // warm up
    double fps = window_frames(8, 100);
    double bare = bare_frames(displays, 8, 100);
    if (++pass == 1) continue;
    printf("window, %d fft display%s of 256 rows: %.1f frames/s; bare loop, same vertices: %.1f frames/s; "
           "frame time %.2fx the bare loop's\n",
           displays, displays > 1 ? "s" : "", fps, bare, bare / fps);
  }
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  install_display_graphs();
  bench_analysis();
  bench_window();
  quiet_gui();
  return 0;
}
