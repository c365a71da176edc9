// The mirror display: drawing and the slot set-up.
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
#include "harmonic/slot_readers.h"

namespace {

constexpr double kFourth = 4.0 / 3.0;
constexpr double kFifth = 1.5;
constexpr double kPi = 3.141592653589793;

}  // namespace

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
      auto point = [&](double s) {
        const double x = (1 - s) * qx + s * px, y = (1 - s) * qy + s * py;
        const double v = m->current[m->mirror_cell(x, y)] * slot.scale;
        float r, g, b;
        heat_colour(static_cast<float>(v), &r, &g, &b);
        glColor3f(r, g, b);
        glVertex3d(x * sx, y * sy, (1 - s) * zq + s * zp);
      };
      if (d <= m->width + m->height + 2) {
        for (double s = 0; s < 1; s += stride) point(s);
        continue;
      }
      // Longer, the stretch runs mostly outside the window (a spiral that
      // winds inwards), or is endless: only its points over the window are
      // drawn, or the frame would take millions of them, or never end.
      double lo, hi;
      if (!(stride > 0) ||
          !clip_segment(qx, qy, px - qx, py - qy, m->min_x - 1, m->min_y - 1, m->max_x + 1, m->max_y + 1, &lo, &hi))
        continue;
      for (double k = ceil(lo / stride); k * stride < 1 && k * stride <= hi; ++k) point(k * stride);
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
  MirrorState *m = read_mirror(i, manager.feed->sample_rate);
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
