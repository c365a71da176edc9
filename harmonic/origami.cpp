// The origami display: the recursive fold, drawing and the slot set-up.
#include "harmonic/origami.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdio>

#include "display/analyser.h"
#include "harmonic/harmonic.h"
#include "harmonic/slot_readers.h"

namespace {

constexpr double kMaxAngle = 1.046150353645401;

double magnitude_at(const double *m, int h, int k) { return k >= 0 && k < h ? m[k] : 0; }

void colour_of(double c) {
  glColor3f(static_cast<float>(2 * c), static_cast<float>(2 * c * c), static_cast<float>(2 * (c - 0.5) * (c - 0.5)));
}

}  // namespace

void origami_fold(const float a[3], const float b[3], int levels, int axis, const double *m, int h,
                  double tuning_bin, double ratio, double scale, OrigamiPass pass) {
  const double x = tuning_bin * ratio;
  const int k1 = static_cast<int>(floor(x));
  const int k4 = static_cast<int>(floor(x * 4 / 3));
  const int k5 = static_cast<int>(floor(x * 1.5));
  const double m1 = magnitude_at(m, h, k1), m4 = magnitude_at(m, h, k4), m5 = magnitude_at(m, h, k5);
  const double z = scale * (m4 + m5 - m1);
  const double theta = (1 - 2 / (1 + exp(-z))) * kMaxAngle;

  const float mid[3] = {(a[0] + b[0]) / 2, (a[1] + b[1]) / 2, (a[2] + b[2]) / 2};
  const float ex = b[0] - a[0], ey = b[1] - a[1], ez = b[2] - a[2];
  const float k = sqrtf(ex * ex + ey * ey + ez * ez) * 0.70710677f;
  const float c = static_cast<float>(cos(theta)), s = static_cast<float>(sin(theta));
  float p[3], q[3];
  if (axis == 0) {
    const float phi = -atan2f(ez, ex);
    const float sinp = sinf(phi), cosp = cosf(phi);
    p[0] = q[0] = mid[0] - k * s * sinp;
    p[1] = mid[1] - k * c;
    q[1] = mid[1] + k * c;
    p[2] = q[2] = mid[2] - k * s * cosp;
  } else {
    const float phi = -atan2f(ez, ey);
    const float sinp = sinf(phi), cosp = cosf(phi);
    p[0] = mid[0] - k * c;
    q[0] = mid[0] + k * c;
    p[1] = q[1] = mid[1] - k * s * sinp;
    p[2] = q[2] = mid[2] - k * s * cosp;
  }

  if (pass == kOrigamiCreases) {
    glColor3f(0.5f, 0.5f, 0.5f);
    glVertex3fv(a);
    glVertex3fv(b);
    glVertex3fv(mid);
    glVertex3fv(q);
    glVertex3fv(mid);
    glVertex3fv(p);
  } else {
    colour_of(scale * m4);
    glVertex3fv(a);
    glVertex3fv(b);
    glVertex3fv(p);
    colour_of(scale * m5);
    glVertex3fv(a);
    glVertex3fv(b);
    glVertex3fv(q);
  }

  if (levels > 1) {
    origami_fold(p, mid, levels - 1, 1 - axis, m, h, tuning_bin, ratio * 4 / 3, scale, pass);
    origami_fold(mid, q, levels - 1, 1 - axis, m, h, tuning_bin, ratio * 1.5, scale, pass);
  }
}

void draw_origami(graphs_t &, int slot_index, Analyser *an, DisplaySlot &slot, AnalysisLog *) {
  if (!an) return;
  const int h = an->n / 2;
  const double *row = an->history + (slot_index % 2 ? h : 0);
  static const float kA[3] = {-1, 0, 0}, kB[3] = {1, 0, 0};
  glPushMatrix();
  glTranslated(slot.x, 0, slot.y);
  // All creases in one primitive, then all flaps: a begin and end per fold
  // would cost more than the fold itself.
  glBegin(GL_LINES);
  origami_fold(kA, kB, slot.o_depth, 0, row, h, slot.tuning_bin, 1.0, slot.scale, kOrigamiCreases);
  glEnd();
  glBegin(GL_TRIANGLES);
  origami_fold(kA, kB, slot.o_depth, 0, row, h, slot.tuning_bin, 1.0, slot.scale, kOrigamiFlaps);
  glEnd();
  glPopMatrix();
}

namespace {

bool setup_origami(graphs_t &, int, DisplaySlot &s, Analyser *) {
  s.o_depth = checked_origami_depth(s.o_depth);
  return true;
}

}  // namespace

const GraphType kOrigamiGraph = {"origami", kFeedSpectrum, draw_origami, setup_origami, nullptr};
