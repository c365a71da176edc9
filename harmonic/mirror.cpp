// The mirror display: sizing, the transfers, drawing and the slot set-up.
#include "harmonic/mirror.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/feed.h"
#include "display/analyser.h"
#include "harmonic/harmonic.h"
#include "options/options.h"

namespace {

constexpr double kPhi = 1.618033988749895;
constexpr double kTurnsPerLn = 9.064720283654983;  // 2 pi / ln 2: one turn per octave
constexpr double kLog2E = 1.4426950408889634;
constexpr double kFourth = 4.0 / 3.0;
constexpr double kFifth = 1.5;
constexpr double kPi = 3.141592653589793;

// Truncation toward zero into a window-relative cell coordinate; anything
// that does not fit an int (or is not a number) lands outside the window.
int cell_coordinate(double v) {
  if (!(v > -1e9 && v < 1e9)) return -1;
  return static_cast<int>(v);
}

}  // namespace

void MirrorState::spiral_point(double f, double &x, double &y) const {
  const double l = log(f / bass);
  const double theta = l * kTurnsPerLn;
  const double r = exp(l * spiral_b * kLog2E);
  x = r * cos(theta);
  y = r * sin(theta);
}

size_t MirrorState::relative_cell(double cx, double cy) const {
  // Truncation toward zero: (-1, 0) is still column 0.
  if (!(cx > -1 && cx < width && cy > -1 && cy < height)) return 0;
  return static_cast<size_t>(static_cast<int>(cx)) + static_cast<size_t>(static_cast<int>(cy)) * width;
}

size_t MirrorState::mirror_cell(double x, double y) const { return relative_cell(x - min_x, y - min_y); }

void MirrorState::mirror_transfer(double gain, int ax, int ay, int bx, int by, int cx, int cy, int dx, int dy) {
  const double ux = static_cast<double>(bx) - ax, uy = static_cast<double>(by) - ay;
  const double wx = static_cast<double>(dx) - cx, wy = static_cast<double>(dy) - cy;
  const double len = sqrt(ux * ux + uy * uy);
  // Both ends in one cell: a unit step still visits both ends, and ends.
  const double step = len > 1 ? 1 / len : 1;
  for (double s = 0; s <= 1; s += step) {
    const double v = current[relative_cell(trunc(cx + s * wx), trunc(cy + s * wy))] * gain;
    next[relative_cell(trunc(ax + s * ux), trunc(ay + s * uy))] = 2 / (1 + exp(-5 * v * v)) - 1;
  }
}

void MirrorState::mirror_interval(double f, double rho, double gain) {
  double x1, y1, x2, y2, x3, y3;
  spiral_point(f, x1, y1);
  spiral_point(f * rho, x2, y2);
  spiral_point(2 * f, x3, y3);
  const int ax = cell_coordinate(x1 - min_x), ay = cell_coordinate(y1 - min_y);
  const int bx = cell_coordinate(x2 - min_x), by = cell_coordinate(y2 - min_y);
  const int dx = cell_coordinate(x3 - min_x), dy = cell_coordinate(y3 - min_y);
  mirror_transfer(gain, ax, ay, bx, by, bx, by, dx, dy);
}

void MirrorState::mirror_bin(double t, const double *row, int h, double top_frequency, double tuning_bin) {
  const double k = floor(h * t);
  if (tuning_bin >= k) return;
  const double f = t * top_frequency;
  if (f >= highest_f_in_window / 2 || k >= h) return;
  const double g = mirror_gain(t, row, h);
  for (double rho = kFourth; rho < kFifth; rho += 0.01) mirror_interval(f, rho, g);
}

double mirror_gain(double t, const double *row, int h) {
  if (t > 0.5) return 0;
  const double x = t * h;
  const int k = static_cast<int>(floor(x));
  const int k5 = static_cast<int>(floor(1.5 * x));
  const int k4 = static_cast<int>(floor(4 * x / 3));
  if (row[k] < 0.001) return 0;
  return (row[k4] + row[k5]) / row[k];
}

MirrorState *create_mirror(double bass, double growth, double sample_rate, int iter) {
  MirrorState *m = static_cast<MirrorState *>(calloc(1, sizeof(MirrorState)));
  if (!m) {
    printf("window creation:: out of memory!\n");
    return nullptr;
  }
  m->spiral_b = log(kPhi) * growth;
  m->bass = bass;
  m->iter = iter;
  // The feed never runs above its limit; the sizing loop (one step per Hz)
  // must not either.
  m->max_freq = sample_rate < 0 ? 22050 : sample_rate > kMaxSampleRate ? kMaxSampleRate : sample_rate;

  // Each bound ends at the outermost turning point on its side.
  double min_x = 0, min_y = 0, max_x = 0, max_y = 0;
  double px = 0, py = 0, pdx = 0, pdy = 0;
  for (double f = 1; f < m->max_freq; f += 1) {
    double x, y;
    m->spiral_point(f, x, y);
    const double dx = x - px, dy = y - py;
    if (dy * pdy < 0) {
      if (y < 0)
        min_y = floor(y) - 1;
      else
        max_y = floor(y) + 1;
    }
    if (dx * pdx < 0) {
      if (x < 0)
        min_x = floor(x) - 1;
      else
        max_x = floor(x) + 1;
      m->highest_f_in_window = f;
    }
    px = x;
    py = y;
    pdx = dx;
    pdy = dy;
  }
  const double w = max_x - min_x, h = max_y - min_y;
  // Cells are addressed through int coordinates, and both grids' bytes must
  // be countable; beyond that only the allocation can say no.
  const double most = static_cast<double>(SIZE_MAX / (2 * sizeof(double)));
  if (!(w >= 0 && h >= 0 && w < kMirrorMaxSide && h < kMirrorMaxSide && w * h < most)) {
    printf("window creation:: out of memory!\n");
    free(m);
    return nullptr;
  }
  m->min_x = static_cast<int>(min_x);
  m->min_y = static_cast<int>(min_y);
  m->max_x = static_cast<int>(max_x);
  m->max_y = static_cast<int>(max_y);
  m->width = m->max_x - m->min_x;
  m->height = m->max_y - m->min_y;
  // Out-of-window cells go to element 0, so there is always one.
  size_t cells = static_cast<size_t>(m->width) * m->height;
  if (cells == 0) cells = 1;
  m->current = static_cast<double *>(malloc(cells * sizeof(double)));
  m->next = static_cast<double *>(malloc(cells * sizeof(double)));
  if (!m->current || !m->next) {
    printf("window creation:: out of memory!\n");
    free(m->current);
    free(m->next);
    free(m);
    return nullptr;
  }
  for (size_t c = 0; c < cells; ++c) m->next[c] = rand() / static_cast<double>(RAND_MAX);
  memcpy(m->current, m->next, cells * sizeof(double));
  printf("***MIRRORS INITIALIZED***\n bass %g\n min[%d %d] max[%d %d]\n size %d x %d\n highest_f_in_window=%g "
         "spiral_b %g iter %d\n",
         m->bass, m->min_x, m->min_y, m->max_x, m->max_y, m->width, m->height, m->highest_f_in_window, m->spiral_b,
         m->iter);
  return m;
}

void destroy_mirror(MirrorState *m) {
  if (!m) return;
  printf("Internal mirror structure cleaned\n");
  fflush(stdout);
  free(m->current);
  free(m->next);
  free(m);
}

void draw_mirror(graphs_t &manager, int slot_index, Analyser *a, DisplaySlot &slot, AnalysisLog *) {
  MirrorState *m = static_cast<MirrorState *>(slot.work);
  if (!m || !a || m->width <= 0 || m->height <= 0) return;
  const double sr = manager.feed ? manager.feed->sample_rate : 0;
  const double top = sr / 2;
  const int h = a->n / 2;
  const double *row = a->history + (slot_index % 2 ? h : 0);
  const double sx = 2.0 / m->width, sy = 2.0 / m->height;
  glPushMatrix();
  glTranslated(slot.x, 0, slot.y);
  glBegin(GL_POINTS);
  double t = 0;
  for (int i = 0; i < m->iter; ++i, t += 1.0 / m->iter) {
    m->mirror_bin(t, row, h, top, slot.tuning_bin);
    const double f = t * top;
    if (f == 0) continue;
    double px, py;
    m->spiral_point(f, px, py);
    const double zp = cos(kPi * sqrt(sy * sy * py * py + sx * sx * px * px));
    for (double rho = kFourth; rho < kFifth; rho += 0.002) {
      double qx, qy;
      m->spiral_point(f * rho, qx, qy);
      const double zq = cos(kPi * sqrt(sy * sy * qy * qy + sx * sx * qx * qx));
      const double d = sqrt((px - qx) * (px - qx) + (py - qy) * (py - qy));
      const double stride = d < 1 ? 0.1 : 1 / d;
      for (double s = 0; s < 1; s += stride) {
        const double x = (1 - s) * qx + s * px, y = (1 - s) * qy + s * py;
        const double v = m->current[m->mirror_cell(x, y)] * slot.scale;
        float r, g, b;
        heat_colour(static_cast<float>(v), &r, &g, &b);
        glColor3f(r, g, b);
        glVertex3d(x * sx, y * sy, (1 - s) * zq + s * zp);
      }
    }
  }
  const size_t cells = static_cast<size_t>(m->width) * m->height;
  memcpy(m->current, m->next, cells * sizeof(double));
  glEnd();
  glPopMatrix();
}

namespace {

bool setup_mirror(graphs_t &manager, int i, DisplaySlot &s, Analyser *) {
  // Sizes follow the options and the sample rate: always made anew.
  destroy_mirror(static_cast<MirrorState *>(s.work));
  s.work = nullptr;
  const double growth = g_options.get_double(i, "m.growth", true, 1.0);
  const double bass = g_options.get_double(i, "m.bass", true, 10.0);
  const int iter = g_options.get_int(i, "m.iter", true, 10);
  MirrorState *m = create_mirror(bass, growth, manager.feed->sample_rate, iter);
  if (!m) {
    printf("cannot create MIRROR work buffers. memory problems.\n");
    return false;
  }
  s.work = m;
  return true;
}

void release_mirror(DisplaySlot &s) { destroy_mirror(static_cast<MirrorState *>(s.work)); }

}  // namespace

const GraphType kMirrorGraph = {"mirror", kFeedSpectrum, draw_mirror, setup_mirror, release_mirror};
