// Speed of the iviv display: the window's frame time with one iviv slot of
// 256 rows (through the display callback) against a bare loop that submits
// the same walls, vertex for vertex, in the same run. Three histories: silence
// (only the examination of 255 rows x 255 nodes x 2 sides), a chord that
// lights some sides, and every node bin loud (every side of every row).
// Needs DISPLAY (Xvfb + Mesa).
#include <GL/freeglut.h>
#include <GL/freeglut_ext.h>
#include <csetjmp>
#include <cstdarg>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <vector>

#include "display/analyser.h"
#include "bench/bench_window.h"
#include "display/graphs.h"
#include "harmonic/harmonic.h"
#include "harmonic/iviv.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

struct BareVertex {
  double x, y, z;
  float r, g, b;
};

// The walls the display draws for this history, in its order.
std::vector<BareVertex> walls_of(const Analyser &a, const DisplaySlot &s) {
  const IvivNode *tree = static_cast<const IvivState *>(s.work)->tree;
  std::vector<BareVertex> out;
  auto term = [&](int row, int k) { return 1 - exp(-s.scale * a.history[row * a.n + k]); };
  const double step = 2.0 / a.rows;
  for (int i = 1; i < a.rows; ++i) {
    const double low = -1 + i * step, high = low + step;
    for (int j = 2; j < kIvivNodes; ++j) {
      const IvivNode &node = tree[j];
      const int k = static_cast<int>(floor(node.ratio * s.tuning_bin));
      if (k >= a.n / 2) continue;
      const double c0 = term(i, k) * term(i - 1, k);
      for (int side = 0; side < 2; ++side) {
        const int partner = side ? node.node_b : node.node_a;
        const int kp = static_cast<int>(floor(tree[partner].ratio * s.tuning_bin));
        if (kp >= a.n / 2) continue;
        const double c = c0 * term(i, kp) * term(i - 1, kp);
        if (!(c > 0.1)) continue;
        float r, g, b;
        heat_colour(static_cast<float>(c), &r, &g, &b);
        const float *from = side ? node.apex : node.base_a, *to = side ? node.base_b : node.apex;
        out.push_back({from[0], low, -from[1], r, g, b});
        out.push_back({to[0], low, -to[1], r, g, b});
        out.push_back({to[0], high, -to[1], r, g, b});
        out.push_back({from[0], high, -from[1], r, g, b});
      }
    }
  }
  return out;
}

double iviv_frames(int seconds_cap, int frames) {
  auto t0 = Clock::now();
  int start = g_app.display_frames;
  while (g_app.display_frames - start < frames && seconds_since(t0) < seconds_cap) display_frame();
  return (g_app.display_frames - start) / seconds_since(t0);
}

// Clear, the axis line, one quad set of every wall, swap.
double bare_frames(const std::vector<BareVertex> &v, int seconds_cap, int frames) {
  auto t0 = Clock::now();
  int n = 0;
  while (n < frames && seconds_since(t0) < seconds_cap) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPushMatrix();
    glTranslated(0, 0, 0);
    glColor3f(1, 1, 1);
    glBegin(GL_LINES);
    glVertex3d(0, -1, 0);
    glVertex3d(0, 1, 0);
    glEnd();
    if (!v.empty()) {
      glBegin(GL_QUADS);
      for (size_t q = 0; q < v.size(); ++q) {
        if (q % 4 == 0) glColor3f(v[q].r, v[q].g, v[q].b);
        glVertex3d(v[q].x, v[q].y, v[q].z);
      }
      glEnd();
    }
    glPopMatrix();
    glutSwapBuffers();
    ++n;
  }
  return n / seconds_since(t0);
}

bool open_window() {
  if (!open_bench_window("iviv frame rates")) return false;
  standard_bench_view();
  glRotatef(30, 1, 0, 0);
  return true;
}

// Fills every row: `loud` bins at a magnitude of 4, the rest silent.
void fill(Analyser &a, const std::vector<int> &loud) {
  for (int r = 0; r < Analyser::kHistoryRows; ++r) {
    double *row = a.history + r * a.n;
    for (int k = 0; k < a.n; ++k) row[k] = 0;
    for (int k : loud) row[k] = 4;
  }
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  install_display_graphs();
  install_harmonic_graphs();
  if (!open_window()) return 0;
  graphs_t &m = g_graphs;
  m.feed->sample_rate = 44100;
  DisplaySlot &s = m.slots[0];
  s.type = kGraphIviv;
  s.scale = 1;
  m.prepare_slot(0);
  printf("\n");
  Analyser &a = *m.analysers[0];
  a.time_span = 0;  // no labels: the bare loop draws the axis line alone too

  struct Case {
    const char *name;
    std::vector<int> loud;
  } cases[] = {
      {"silence", {}},
      {"chord (bins 5 7 10 11 15 22)", {5, 7, 10, 11, 15, 22}},
      {"every node bin loud", {}},
  };
  for (int k = 5; k <= 128; ++k) cases[2].loud.push_back(k);

  // The machine is shared: iviv and bare runs alternate, and each side's
  // best of three counts.
  int pass = 0;
  for (int c : {0, 0, 1, 2}) {  // the first pass warms the driver up
    fill(a, cases[c].loud);
    std::vector<BareVertex> bare = walls_of(a, s);
    iviv_frames(2, 3);
    double fps = 0, base = 0;
    for (int round = 0; round < 3; ++round) {
      fps = std::max(fps, iviv_frames(3, 40));
      base = std::max(base, bare_frames(bare, 3, 40));
    }
    if (++pass == 1) continue;
    printf("iviv, %s: %zu wall quads; %.1f frames/s (%.2f ms); bare loop, same vertices: %.1f frames/s "
           "(%.2f ms); frame time %.2fx the bare loop's\n",
           cases[c].name, bare.size() / 4, fps, 1e3 / fps, base, 1e3 / base, base / fps);
  }
  // The renderer's own work on silence, outside any frame: 255 rows of 255
  // nodes examined and nothing submitted but the axis line.
  fill(a, {});
  const int calls = 5000;
  auto t0 = Clock::now();
  for (int i = 0; i < calls; ++i) draw_iviv(m, 0, &a, s, nullptr);
  double per_call = seconds_since(t0) / calls * 1e6;
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glutSwapBuffers();
  printf("draw_iviv on silence alone: %.1f us per call\n", per_call);
  s.type = kGraphHide;
  m.prepare_slot(0);
  quiet_gui();
  return 0;
}
