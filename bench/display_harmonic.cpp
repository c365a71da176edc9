// Speed of the mirror, origami and ifs displays: the frame time of each
// renderer against a bare loop that submits the same vertices (the frame's
// own geometry, caught once through feedback mode and replayed from an
// array), and the per-frame cost of the mirror's transfers with the default
// options. Needs DISPLAY (Xvfb + Mesa) for the frame times.
#include <GL/freeglut.h>
#include <GL/freeglut_ext.h>
#include <csetjmp>
#include <cstdarg>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/analyser.h"
#include "bench/bench_window.h"
#include "display/graphs.h"
#include "display/viewport.h"
#include "harmonic/harmonic.h"
#include "harmonic/mirror.h"
#include "options/options.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

constexpr int kSize = 400;

// A spectrum with some life in it: a few partials over a low floor.
void fill_spectrum(Analyser *a) {
  unsigned seed = 7;
  for (int j = 0; j < a->n; ++j) {
    seed = seed * 1103515245u + 12345u;
    a->history[j] = 0.01 * ((seed >> 8) & 0xff) / 255.0;
  }
  for (int k : {5, 10, 15, 20, 30, 45, 60, 90})
    for (int half : {0, 256}) a->history[half + k] = 4.0 / (1 + k / 20.0);
}

void set_zoom(double scale) {
  double *m = g_viewport.modelview;
  memset(m, 0, 16 * sizeof(double));
  m[0] = m[10] = scale;
  m[15] = 1;
}

void scene_projection() {
  glViewport(0, 0, kSize, kSize);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-1, 1, -1, 1, -10, 10);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glScalef(0.9f, 0.9f, 0.9f);
}

// The geometry one frame put on screen, in window coordinates.
struct Geometry {
  std::vector<float> points, lines, triangles;  // x y z r g b per vertex
  size_t vertices() const { return (points.size() + lines.size() + triangles.size()) / 6; }
};

// Caught through a projection four times wider, so that what the frame
// sends off screen is caught too; kept as the frame's own device
// coordinates.
Geometry catch_frame(void (*frame)()) {
  static std::vector<float> buf(32 << 20);
  constexpr double kWide = 4;
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  double projection[16];
  glGetDoublev(GL_PROJECTION_MATRIX, projection);
  glLoadIdentity();
  glScaled(1 / kWide, 1 / kWide, 1 / kWide);
  glMultMatrixd(projection);
  glMatrixMode(GL_MODELVIEW);
  glFeedbackBuffer(static_cast<GLsizei>(buf.size()), GL_3D_COLOR, buf.data());
  glRenderMode(GL_FEEDBACK);
  frame();
  int used = glRenderMode(GL_RENDER);
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  Geometry g;
  if (used < 0) {
    printf("feedback buffer too small\n");
    return g;
  }
  auto take = [&](std::vector<float> &to, int at) {
    const float *v = &buf[at];
    const float half = kSize / 2.0f;
    to.insert(to.end(), {static_cast<float>(kWide * (v[0] / half - 1)), static_cast<float>(kWide * (v[1] / half - 1)),
                         static_cast<float>(kWide * (2 * v[2] - 1)), v[3], v[4], v[5]});
  };
  for (int i = 0; i < used;) {
    int token = static_cast<int>(buf[i++]);
    if (token == GL_POINT_TOKEN) {
      take(g.points, i);
      i += 7;
    } else if (token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN) {
      take(g.lines, i);
      take(g.lines, i + 7);
      i += 14;
    } else if (token == GL_POLYGON_TOKEN) {
      int n = static_cast<int>(buf[i++]);
      for (int k = 1; k + 1 < n; ++k) {
        take(g.triangles, i);
        take(g.triangles, i + 7 * k);
        take(g.triangles, i + 7 * (k + 1));
      }
      i += 7 * n;
    } else if (token == GL_PASS_THROUGH_TOKEN) {
      i += 1;
    } else {
      i += 7;
    }
  }
  return g;
}

const Geometry *g_replay = nullptr;

void submit(GLenum mode, const std::vector<float> &v) {
  glBegin(mode);
  for (size_t k = 0; k < v.size(); k += 6) {
    glColor3f(v[k + 3], v[k + 4], v[k + 5]);
    glVertex3f(v[k], v[k + 1], v[k + 2]);
  }
  glEnd();
}

// The bare loop: the caught vertices straight from the array, through
// identity matrices.
void bare_frame() {
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  submit(GL_POINTS, g_replay->points);
  submit(GL_LINES, g_replay->lines);
  submit(GL_TRIANGLES, g_replay->triangles);
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
}

void render_frame() {
  graphs_t &m = g_graphs;
  const DisplaySlot &s = m.slots[0];
  GuiLock lock(m);
  g_graph_types[s.type].draw(m, 0, m.analysers[0], m.slots[0], nullptr);
}

double cpu_seconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// Processor milliseconds per frame (clear, draw, swap) of one run. The GL
// driver rasterises on this thread (LP_NUM_THREADS=0, set in main), so the
// figure is the frame's whole work and other load on the machine barely
// moves it.
double frame_ms(void (*frame)(), int frames) {
  const double t0 = cpu_seconds();
  for (int i = 0; i < frames; ++i) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    frame();
    glutSwapBuffers();
  }
  glFinish();
  return (cpu_seconds() - t0) / frames * 1e3;
}

bool open_window() { return open_bench_window("frame times", kSize); }

// Makes slot 0 of the type, at the centre.
bool configure_slot(const char *style) {
  graphs_t &m = g_graphs;
  DisplaySlot &s = m.slots[0];
  m.release_work(0);
  s = DisplaySlot{};
  s.type = graph_type_by_name(style);
  s.scale = 1;
  m.prepare_slot(0);
  if (s.type == kGraphHide) return false;
  fill_spectrum(m.analysers[0]);
  return true;
}

void compare(const char *what, int frames) {
  scene_projection();
  Geometry g = catch_frame(render_frame);
  g_replay = &g;
  frame_ms(render_frame, 3);
  frame_ms(bare_frame, 3);
  // Runs taken in turns, the best of each: the machine is shared.
  double ours = 1e9, bare = 1e9;
  for (int run = 0; run < 7; ++run) {
    ours = std::min(ours, frame_ms(render_frame, frames));
    bare = std::min(bare, frame_ms(bare_frame, frames));
  }
  printf("%-34s %7zu vertices: %8.3f processor ms per frame; bare loop, same vertices: %8.3f ms (%.2fx)\n", what,
         g.vertices(), ours, bare, ours / bare);
}

// The mirror's transfers of one frame with the defaults, against copying
// its grid once (the frame's other fixed cost).
void bench_transfers() {
  graphs_t &m = g_graphs;
  if (!configure_slot("mirror")) {
    printf("mirror: no state, skipped\n");
    return;
  }
  MirrorState *ms = static_cast<MirrorState *>(m.slots[0].work);
  const double *row = m.analysers[0]->history;
  const int frames = 2000;
  auto transfers = [&] {
    double t = 0;
    for (int i = 0; i < ms->iter; ++i, t += 1.0 / ms->iter) ms->mirror_bin(t, row, 256, 22050, 5);
  };
  for (int i = 0; i < 20; ++i) transfers();
  auto t0 = Clock::now();
  for (int i = 0; i < frames; ++i) transfers();
  double per_frame = seconds_since(t0) / frames * 1e6;
  const size_t cells = static_cast<size_t>(ms->width) * ms->height;
  t0 = Clock::now();
  for (int i = 0; i < frames; ++i) {
    memcpy(ms->current, ms->next, cells * sizeof(double));
    ms->next[i % cells] += 1e-9;  // keep the copy from being folded away
  }
  double copy = seconds_since(t0) / frames * 1e6;
  printf("mirror transfers (m.iter %d, %d x %d cells): %.1f us per frame; copying the grid once: %.1f us (%.2fx)\n",
         ms->iter, ms->width, ms->height, per_frame, copy, per_frame / copy);
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  setenv("LP_NUM_THREADS", "0", 0);
  install_display_graphs();
  install_harmonic_graphs();
  g_graphs.feed->sample_rate = 44100;
  g_options.set(0, "tuna", "440");
  bench_transfers();
  if (open_window()) {
    set_zoom(0.9);
    if (configure_slot("mirror")) compare("mirror, defaults", 60);
    for (const char *depth : {"0", "9", "12"}) {
      g_options.set(0, "o.depth", depth);
      char what[64];
      snprintf(what, sizeof what, "origami, o.depth %s", depth);
      if (configure_slot("origami")) compare(what, depth[0] == '0' ? 2000 : 60);
    }
    if (configure_slot("ifs")) {
      compare("ifs, selection (scale 0.9)", 100);
      set_zoom(6);  // zoom level 3: seven levels of detail
      compare("ifs, detail (scale 6)", 60);
    }
  }
  configure_slot("hide");
  quiet_gui();
  return 0;
}
