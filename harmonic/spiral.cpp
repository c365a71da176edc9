// The spiral display: one slot's spectrum wound round a helix, one turn per
// octave above the tuning bin, rhythmically folded round `beat` frames ago.
#include <GL/gl.h>

#include <cmath>
#include <cstdio>

#include "display/analyser.h"
#include "harmonic/harmonic.h"
#include "harmonic/slot_readers.h"

namespace {

constexpr double kTurn = 6.283185307179586;

bool setup_spiral(graphs_t &, int, DisplaySlot &s, Analyser *) {
  s.beat = checked_beat(s.beat);
  return true;
}

void draw_spiral(graphs_t &, int slot_index, Analyser *an, DisplaySlot &slot, AnalysisLog *) {
  if (!an) return;
  const int n = an->n, h = n / 2;
  const int b0 = static_cast<int>(floor(slot.tuning_bin));
  const int offset = slot_index % 2 ? h : 0;
  // Configure keeps beat in range; a slot set up otherwise reads the newest frame.
  const int beat = beat_acceptable(slot.beat) ? slot.beat : 0;

  glPushMatrix();
  glTranslated(slot.x, 0, slot.y);
  glBegin(GL_QUAD_STRIP);
  // No tuning bin (a tuna below one bin) gives no octave to wind: nothing.
  if (b0 >= 1 && b0 < h) {
    const int count = h - b0;
    const double dv = 1.0 / b0, dw = 2.0 / count, du = static_cast<double>(beat) / count;
    double u = 0, v = 1, w = -1;
    int k = 0;
    const double *p = an->history + static_cast<size_t>(beat) * n + offset;
    const double *q = p;
    for (int i = b0; i < h; ++i) {
      if (u > 1) {
        const double whole = floor(u);
        k += static_cast<int>(whole);
        u -= whole;
        p = an->history + static_cast<size_t>(beat + k) * n + offset;
        q = an->history + static_cast<size_t>(beat - k) * n + offset;
      }
      const double angle = kTurn * log2(v), sa = sin(angle), ca = cos(angle);
      const double m = p[i] + q[i];
      const float c = static_cast<float>(1 - exp(-0.1 * slot.scale * m));
      glColor3f(c, c * c, 2 * (c - 0.5f) * (c - 0.5f));
      glVertex3d(0.05 * sa, w, 0.05 * ca);
      glVertex3d(0.1 * (1 + c) * sa, w, 0.1 * (1 + c) * ca);
      v += dv;
      w += dw;
      u += du;
    }
  }
  glEnd();
  glPopMatrix();
}

}  // namespace

const GraphType kSpiralGraph = {"spiral", kFeedSpectrum, draw_spiral, setup_spiral, nullptr};
