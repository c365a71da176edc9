// Speed of the live media: one 512-sample live step of each medium with its
// default options against the 11.6 ms that the block lasts at 44100 Hz, and
// the transformation view's frame time for examples/field against a bare loop
// that submits the same strips. The frame rates need DISPLAY (Xvfb + Mesa).
#include <GL/freeglut.h>
#include <GL/freeglut_ext.h>

#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/bench_window.h"
#include "display/graphs.h"
#include "media/live.h"
#include "media/transform_view.h"
#include "options/options.h"

namespace {

using Clock = std::chrono::steady_clock;
double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

const std::string kField = std::string(YELM_SOURCE_DIR) + "/examples/field";
constexpr double kBlockMs = 512 * 1000.0 / 44100;

// The live fields as the commands set them from the default options.
void defaults(TransformState &v, int mode) {
  v = TransformState{};
  v.mode = mode;
  if (mode == kModeTfield) {
    snprintf(v.surface_file, sizeof v.surface_file, "%s", kField.c_str());
    v.damp = 1;    // s.gain
    v.fpermu = 1;  // s.passes
  } else {
    v.scale = 1, v.alpha = 0.75, v.damp = 0.98, v.fpermu = 1, v.max_octave = 9;
  }
}

void bench_steps() {
  struct Medium {
    const char *name;
    int mode;
    int (*operation)(int, TransformState *);
  } media[] = {{"tstring", kModeTstring, live_string},
               {"tether", kModeTether, live_ether},
               {"tfield", kModeTfield, live_surfaces}};
  double music[512];
  for (int i = 0; i < 512; ++i) music[i] = 0.3 * std::sin(i * 0.05) + 0.1 * std::sin(i * 0.31);
  for (const Medium &m : media) {
    TransformState v;
    defaults(v, m.mode);
    // The set-up prints its report; keep it out of the figures.
    fflush(stdout);
    FILE *saved = stdout;
    stdout = fopen("/dev/null", "w");
    const int made = m.operation(kLiveCreate, &v);
    fclose(stdout);
    stdout = saved;
    if (made != 0) {
      printf("%s: the live medium could not be made\n", m.name);
      continue;
    }
    v.in_count = 512;
    auto step = [&] {
      memcpy(v.in_block, music, sizeof music);  // the idle step's copy from ring 0
      live_step(&v);
    };
    for (int i = 0; i < 50; ++i) step();
    int steps = 0;
    auto t0 = Clock::now();
    while (seconds_since(t0) < 2 || steps < 20) {
      step();
      ++steps;
    }
    const double ms = seconds_since(t0) / steps * 1e3;
    printf("live step, %s with defaults: %.3f ms per 512 samples = %.1f%% of the %.1f ms block\n", m.name, ms,
           100 * ms / kBlockMs, kBlockMs);
    live_stop(&v);
  }
}

// display_frame draws once per new processor-clock value.
double view_frames(int frames) {
  auto t0 = Clock::now();
  const int start = g_app.display_frames;
  while (g_app.display_frames - start < frames) display_frame();
  return seconds_since(t0) / frames;
}

// The surface view's strips for the same field, with nothing else.
double bare_frames(const TransformState &v, int frames) {
  auto t0 = Clock::now();
  const int n = v.slot_count;
  const double c = n >= 3 ? 1 / std::tan(M_PI / n) : 0.3;
  for (int f = 0; f < frames; ++f) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (int i = 0; i < n; ++i) {
      const int w = v.dim1[i], h = v.dim2[i];
      glPushMatrix();
      if (n != 1) {
        glScaled(c, c, c);
        glRotated(360.0 * i / n, 0, 0, 1);
        glTranslated(0, c + 1, 0);
      }
      const double s = 2.0 / w;
      for (int y = 0; y < h; ++y) {
        glBegin(GL_TRIANGLE_STRIP);
        for (int x = 0; x < w; ++x) {
          glColor3f(0, 0, 1);
          glVertex3d(-1 + x * s, -1 + y * s, 0);
          glColor3f(0, 0, 1);
          glVertex3d(-1 + x * s, -1 + (y + 1) * s, 0);
        }
        glEnd();
      }
      glPopMatrix();
    }
    glutSwapBuffers();
  }
  return seconds_since(t0) / frames;
}

void bench_view() {
  if (!open_bench_window("view frame time")) return;
  standard_bench_view();

  TransformState &v = g_graphs.live;
  int made;
  {
    GuiLock lock;
    defaults(v, kModeTfield);
    v.step_hook = live_step;
    v.stop_hook = live_stop;
    fflush(stdout);
    FILE *saved = stdout;
    stdout = fopen("/dev/null", "w");
    made = live_surfaces(kLiveCreate, &v);
    fclose(stdout);
    stdout = saved;
  }
  if (made != 0) {
    printf("view frame time: %s did not load, skipped\n", kField.c_str());
    return;
  }
  DisplaySlot &slot = g_graphs.slots[0];
  slot.type = kGraphTransform;
  slot.x = slot.y = 0;
  slot.scale = 1;
  view_frames(30);  // warm the driver up
  bare_frames(v, 30);
  // The machine is shared: alternate short runs and keep each one's best.
  double view = 1e9, bare = 1e9;
  for (int round = 0; round < 10; ++round) {
    view = std::fmin(view, view_frames(60));
    bare = std::fmin(bare, bare_frames(v, 60));
  }
  printf("transformation view, examples/field (%d surfaces): %.3f ms per frame; bare loop: %.3f ms (%.2fx)\n",
         v.slot_count, view * 1e3, bare * 1e3, view / bare);
  slot.type = kGraphHide;
  g_graphs.stop_live();
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  install_display_graphs();
  install_media_graphs();
  bench_steps();
  bench_view();
  quiet_gui();
  return 0;
}
