// Wavelet graphs drawn from an analyser's level rows and w2d pyramid, in the
// viewport's modelview matrix; each pushes and pops the matrix.
#include "display/wavelet_graphs.h"

#include <GL/gl.h>

#include <cmath>

#include "audio/feed.h"
#include "display/analyser.h"
#include "display/graphs.h"
#include "display/spectrum_graphs.h"
#include "display/text.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kLevelStep = 0.2222222222222222;  // 2/9: one wavelet level

// Level k's label: detail rows are differences, so the finest one is "0".
char level_label(int k, bool detail) {
  if (detail) return k == 0 ? '0' : static_cast<char>(97 + (k + 2) % 26);
  return static_cast<char>(97 + (k + 17) % 26);
}

}  // namespace

void draw_wlet(graphs_t &, int, Analyser *an, DisplaySlot &slot, AnalysisLog *) {
  if (!an) return;
  const double x = slot.x, y = slot.y;
  const int n = an->n, half = n / 2;
  const int o = static_cast<int>(floor(slot.tuning_bin));
  // Two octaves above the base must stay inside the half spectrum.
  const int t = (4 * o >= half || o < 1) ? half / 4 : o;

  glPushMatrix();
  glColor3f(1, 1, 1);
  glBegin(GL_LINES);
  glVertex3d(x, -1, y);
  glVertex3d(x, 1, y);
  glEnd();

  static const char *const kSpokeLabels[4] = {"TONICA", "V", "OCTAVE", "V '"};
  for (int s = 0; s < 4; ++s) {
    const double theta = s * (kPi / 2), st = sin(theta), ct = cos(theta);
    const double ix = x + 0.1 * st, iz = y + 0.1 * ct, ox = x + 1.1 * st, oz = y + 1.1 * ct;
    glBegin(GL_LINE_LOOP);
    glVertex3d(ix, -1, iz);
    glVertex3d(ox, -1, oz);
    glVertex3d(ox, 1, oz);
    glVertex3d(ix, 1, iz);
    glEnd();
    glColor3f(1, 1, 0);
    glPushMatrix();
    glTranslated(s % 2 == 0 ? ox - 0.08 : ox, -1.1, oz);
    glRotatef(90, 1, 0, 0);
    stroke_text(0, 0, 0, 0.05f, "%s", kSpokeLabels[s]);
    glPopMatrix();
    glColor3f(1, 1, 1);
  }

  draw_axis_ticks(x, y);
  for (int k = 0; k < kWaveletLevels; ++k)
    stroke_text(static_cast<float>(x - 0.13), static_cast<float>(-1 + k * 2.0 / 9 + 0.05), static_cast<float>(y),
                0.04f, "%c", level_label(k, slot.wlet_detail != 0));

  const double gain = slot.scale, ln2 = log(2.0);
  double hr = -8.0 / 9;
  for (int r = 0; r < kWaveletLevels; ++r, hr += kLevelStep) {
    if (r == 0) continue;
    const double *lower = an->history + static_cast<size_t>(r - 1) * n;
    const double *upper = an->history + static_cast<size_t>(r) * n;
    const float green = static_cast<float>((hr + 1) / 2);
    glBegin(GL_QUAD_STRIP);
    for (int j = t; j <= 4 * t; ++j) {
      const int k = j == 4 * t ? t : j;
      const double phi = kPi * log(static_cast<double>(j) / t) / ln2, sp = sin(phi), cp = cos(phi);
      const double v = 1 - exp(-gain * lower[k]);
      glColor3d(v, green, 4 * (v - 0.5) * (v - 0.5));
      glVertex3d(x + v * sp, hr - kLevelStep, y + v * cp);
      const double w = 1 - exp(-gain * upper[k]);
      glColor3d(w, green, 4 * (w - 0.5) * (w - 0.5));
      glVertex3d(x + w * sp, hr, y + w * cp);
    }
    glEnd();
  }
  glPopMatrix();
}

void draw_w2d(graphs_t &manager, int, Analyser *an, DisplaySlot &slot, AnalysisLog *) {
  // Until its work buffers exist the history holds no pyramid.
  if (!an || !an->w2d_ready()) return;
  const double x = slot.x, y = slot.y;
  const int n = an->n, half = n / 2;

  glPushMatrix();
  glColor3f(1, 1, 1);
  const double nyquist = an->bin_frequency(manager.feed ? manager.feed->sample_rate : 0, -1);
  if (nyquist > 0) {
    glBegin(GL_LINES);
    for (double b = 0; b < 1; b += 0.1) {
      glVertex3d(x + b, -1.05, 0);
      glVertex3d(x + b, -1.1, 0);
    }
    glEnd();
    for (int k = 0; k < 5; ++k)
      stroke_text(static_cast<float>(x + k * 0.2 - 0.01), -1.13f, 0, 0.02f, "%5.1f", k * 0.2 * nyquist);
    if (slot.tuning_bin > 0) {
      const double g = slot.tuning_bin / half, lo = x + g, hi = x + (2 * g < 1 ? 2 * g : 1);
      glColor3f(1, 1, 0);
      glBegin(GL_LINE_LOOP);
      glVertex3d(lo, 1.04, 0);
      glVertex3d(lo, -1.04, 0);
      glVertex3d(hi, -1.04, 0);
      glVertex3d(hi, 1.04, 0);
      glEnd();
      glColor3f(1, 1, 1);
    }
  }

  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  // Only the two low bits choose the quadrant (a negative value included).
  const bool lower_rows = slot.quadrant & 1, right_cols = slot.quadrant & 2;
  const double gain = slot.scale;
  for (int i = 1; i <= 7; ++i) {
    const int cells = 1 << i;
    const double c = 1.0 / cells, z = 0.01 * i;
    const int r0 = lower_rows ? cells : 0, c0 = right_cols ? cells : 0;
    const double *block = an->history + static_cast<size_t>(r0) * n + c0;
    // The finest level's stems stand in front of its cells, so drawing them
    // all first (one batch) shows the same as drawing each before its cell.
    if (i == 7) {
      glBegin(GL_LINES);
      for (int j = 0; j < cells; ++j) {
        const double yy = y - 1 + j * 2 * c;
        for (int k = 0; k < cells; ++k) {
          const double m = block[static_cast<size_t>(j) * n + k], v = 1 - exp(-gain * m * m);
          const double xx = x + k * c + c / 2;
          glColor4d(v, v * v, 4 * (v - 0.5) * (v - 0.5), 1);
          glVertex3d(xx, yy, z + 0.001 + 0.05 * v);
          glVertex3d(xx, yy, z + 0.001);
        }
      }
      glEnd();
    }
    glBegin(GL_QUADS);
    for (int j = 0; j < cells; ++j) {
      const double yy = y - 1 + j * 2 * c;
      for (int k = 0; k < cells; ++k) {
        const double m = block[static_cast<size_t>(j) * n + k], v = 1 - exp(-gain * m * m);
        const double xx = x + k * c;
        glColor4d(v, v * v, 4 * (v - 0.5) * (v - 0.5), 0.2);
        glVertex3d(xx, yy, z);
        glVertex3d(xx + c, yy, z);
        glVertex3d(xx + c, yy + 2 * c, z);
        glVertex3d(xx, yy + 2 * c, z);
      }
    }
    glEnd();
  }
  glDisable(GL_BLEND);
  glPopMatrix();
}
