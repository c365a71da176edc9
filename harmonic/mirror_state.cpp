// The mirror display's state: sizing, the spiral and the transfers (no GL).
#include "harmonic/mirror.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <utility>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/feed.h"

namespace {

constexpr double kPhi = 1.618033988749895;
constexpr double kTurnsPerLn = 9.064720283654983;  // 2 pi / ln 2: one turn per octave
constexpr double kLog2E = 1.4426950408889634;
constexpr double kFourth = 4.0 / 3.0;
constexpr double kFifth = 1.5;

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

bool clip_segment(double ax, double ay, double ux, double uy, double min_x, double min_y, double max_x,
                  double max_y, double *lo, double *hi) {
  *lo = 0;
  *hi = 1;
  const double start[2] = {ax, ay}, along[2] = {ux, uy}, low[2] = {min_x, min_y}, high[2] = {max_x, max_y};
  for (int i = 0; i < 2; ++i) {
    if (along[i] == 0) {
      if (!(start[i] >= low[i] && start[i] <= high[i])) return false;
      continue;
    }
    double a = (low[i] - start[i]) / along[i], b = (high[i] - start[i]) / along[i];
    if (a > b) std::swap(a, b);
    if (a > *lo) *lo = a;
    if (b < *hi) *hi = b;
  }
  return *lo <= *hi;
}

void MirrorState::mirror_transfer(double gain, int ax, int ay, int bx, int by, int cx, int cy, int dx, int dy) {
  const double ux = static_cast<double>(bx) - ax, uy = static_cast<double>(by) - ay;
  const double wx = static_cast<double>(dx) - cx, wy = static_cast<double>(dy) - cy;
  const double len = sqrt(ux * ux + uy * uy);
  // Both ends in one cell: a unit step still visits both ends, and ends.
  const double step = len > 1 ? 1 / len : 1;
  auto visit = [&](double s) {
    const double v = current[relative_cell(trunc(cx + s * wx), trunc(cy + s * wy))] * gain;
    next[relative_cell(trunc(ax + s * ux), trunc(ay + s * uy))] = 2 / (1 + exp(-5 * v * v)) - 1;
  };
  if (len <= width + height + 2) {
    for (double s = 0; s <= 1; s += step) visit(s);
    return;
  }
  // A longer target runs mostly outside the window (a spiral that winds
  // inwards leaves its low notes far out): millions of steps a frame, each of
  // them but the few inside writing element 0, where only the last write
  // stays. So: the last step before the window, the steps inside it, and the
  // very last step.
  const double last = floor(len);
  double lo, hi;
  if (!clip_segment(ax, ay, ux, uy, -1, -1, width, height, &lo, &hi)) {
    visit(last * step);
    return;
  }
  const double first = ceil(lo / step);
  if (first > 0) visit((first - 1) * step);
  double k = first;
  for (; k <= last && k * step <= hi; ++k) visit(k * step);
  if (k <= last) visit(last * step);
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

namespace {

// The window's bounds for the state's spiral: each bound ends at the
// outermost turning point on its side.
void trace_bounds(MirrorState *m, double *min_x, double *min_y, double *max_x, double *max_y) {
  *min_x = *min_y = *max_x = *max_y = 0;
  double px = 0, py = 0, pdx = 0, pdy = 0;
  for (double f = 1; f < m->max_freq; f += 1) {
    double x, y;
    m->spiral_point(f, x, y);
    const double dx = x - px, dy = y - py;
    if (dy * pdy < 0) {
      if (y < 0)
        *min_y = floor(y) - 1;
      else
        *max_y = floor(y) + 1;
    }
    if (dx * pdx < 0) {
      if (x < 0)
        *min_x = floor(x) - 1;
      else
        *max_x = floor(x) + 1;
      m->highest_f_in_window = f;
    }
    px = x;
    py = y;
    pdx = dx;
    pdy = dy;
  }
}

void shape(MirrorState *m, double bass, double growth, double sample_rate) {
  m->spiral_b = log(kPhi) * growth;
  m->bass = bass;
  // The feed never runs above its limit; the sizing loop (one step per Hz)
  // must not either.
  m->max_freq = sample_rate < 0 ? 22050 : sample_rate > kMaxSampleRate ? kMaxSampleRate : sample_rate;
}

// Both grids' bytes must be countable and no more than the machine holds:
// beyond that the allocator may promise memory that filling the grid with
// noise then cannot have.
bool grid_fits(double w, double h) {
  if (!(w >= 0 && h >= 0 && w < kMirrorMaxSide && h < kMirrorMaxSide)) return false;
  const double bytes = w * h * 2 * sizeof(double);
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
  const double held = pages > 0 && page > 0 ? static_cast<double>(pages) * page : static_cast<double>(SIZE_MAX);
  return bytes < static_cast<double>(SIZE_MAX) && bytes <= held;
}

}  // namespace

double mirror_cells(double bass, double growth, double sample_rate) {
  MirrorState m = {};
  shape(&m, bass, growth, sample_rate);
  double min_x, min_y, max_x, max_y;
  trace_bounds(&m, &min_x, &min_y, &max_x, &max_y);
  return (max_x - min_x) * (max_y - min_y);
}

MirrorState *create_mirror(double bass, double growth, double sample_rate, int iter) {
  MirrorState *m = static_cast<MirrorState *>(calloc(1, sizeof(MirrorState)));
  if (!m) {
    printf("window creation:: out of memory!\n");
    return nullptr;
  }
  shape(m, bass, growth, sample_rate);
  m->iter = iter;
  double min_x, min_y, max_x, max_y;
  trace_bounds(m, &min_x, &min_y, &max_x, &max_y);
  if (!grid_fits(max_x - min_x, max_y - min_y)) {
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
