// Spectrum graphs drawn from an analyser's history, in the viewport's
// modelview matrix; each pushes and pops the matrix it changes.
#include "display/spectrum_graphs.h"

#include <GL/gl.h>

#include <cmath>

#include "audio/feed.h"
#include "display/analyser.h"
#include "display/graphs.h"
#include "display/text.h"

namespace {

constexpr double kTurn = 6.283185307179586;
constexpr double kSemitone = 1.0594630943592953;
constexpr double kSpoke = 0.3;

void tilt() { glRotatef(0.62831855f, 0, 1, 0); }

void heat(double v) {
  float r, g, b;
  heat_colour(static_cast<float>(v), &r, &g, &b);
  glColor3f(r, g, b);
}

double sample_rate_of(graphs_t &manager) { return manager.feed ? manager.feed->sample_rate : 0; }

// Axis and the twelve semitone spokes of the circle graphs; the tonic, fourth
// and fifth are labelled.
void draw_spokes(double x, double y, float label_y, float label_size) {
  glBegin(GL_LINES);
  glVertex3d(x, -1, y);
  glVertex3d(x, 1, y);
  glEnd();
  double ratio = 1;
  for (int k = 0; k < 12; ++k, ratio *= kSemitone) {
    double theta = (ratio - 1) * kTurn;
    double px = x + kSpoke * sin(theta), pz = y + kSpoke * cos(theta);
    glBegin(GL_LINE_LOOP);
    glVertex3d(x, -1, y);
    glVertex3d(px, -1, pz);
    glVertex3d(px, 1, pz);
    glVertex3d(x, 1, y);
    glEnd();
    const char *label = k == 0 ? "T" : k == 5 ? "IV" : k == 7 ? "V" : nullptr;
    if (!label) continue;
    glColor3f(1, 1, 0);
    glPushMatrix();
    glTranslated(px, label_y, pz);
    glRotatef(90, 1, 0, 0);
    stroke_text(0, 0, 0, label_size, "%s", label);
    glPopMatrix();
    glColor3f(1, 1, 1);
  }
}

}  // namespace

void draw_axis_ticks(double x, double z) {
  glBegin(GL_LINES);
  for (double y = -1; y < 1; y += 0.1) {
    glVertex3d(x - 0.01, y, z);
    glVertex3d(x - 0.11, y, z);
  }
  glEnd();
}

void draw_time_axis(double x, double z, double time_span) {
  if (!(time_span > 0)) return;
  glColor3f(1, 1, 1);
  draw_axis_ticks(x, z);
  for (int k = 0; k < 10; ++k)
    stroke_text(static_cast<float>(x - 0.13), static_cast<float>(-1 + k * 0.2 - 0.02), static_cast<float>(z), 0.02f,
                "%5.1fs", k * 0.1 * time_span);
}

void draw_fft(graphs_t &manager, int slot_index, Analyser *an, DisplaySlot &slot, AnalysisLog *) {
  if (!an) return;
  const double x = slot.x, y = slot.y, base = y - 0.01;
  const int n = an->n, half = n / 2, h = slot_index % 2 ? half : 0;
  glPushMatrix();
  glColor3f(0.5f, 0.5f, 0.5f);
  glBegin(GL_QUADS);
  glVertex3d(x, -1, base);
  glVertex3d(x + 1, -1, base);
  glVertex3d(x + 1, 1, base);
  glVertex3d(x, 1, base);
  glEnd();

  glColor3f(1, 1, 1);
  double nyquist = an->bin_frequency(sample_rate_of(manager), -1);
  if (nyquist > 0) {
    glBegin(GL_LINES);
    for (double b = 0; b < 1; b += 0.1) {
      glVertex3d(x + b, -1.05, base);
      glVertex3d(x + b, -1.1, base);
    }
    glEnd();
    double f = 0;
    for (int k = 0; k < 5; ++k, f += 0.2 * nyquist)
      stroke_text(static_cast<float>(x + k * 0.2 - 0.01), -1.13f, static_cast<float>(base), 0.02f, "%5.1f", f);
    if (slot.tuning_bin > 0) {
      double g = slot.tuning_bin / half;
      double hx = x + g, kx = x + (2 * g < 1 ? 2 * g : 1);
      glColor3f(1, 1, 0);
      glBegin(GL_LINE_LOOP);
      glVertex3d(hx, 1.04, base);
      glVertex3d(hx, -1.04, base);
      glVertex3d(hx, -1.04, y + 1);
      glVertex3d(hx, 1.04, y + 1);
      glVertex3d(kx, 1.04, base);
      glVertex3d(kx, -1.04, base);
      glVertex3d(kx, -1.04, y + 1);
      glVertex3d(kx, 1.04, y + 1);
      glEnd();
      glColor3f(1, 1, 1);
    }
  }
  draw_time_axis(x, base, an->time_span);

  const int rows = an->rows;
  if (rows >= 2) {
    const double step = 2.0 / rows, gain = slot.scale;
    for (int i = 1; i < rows; ++i) {
      const double *older = an->history + static_cast<size_t>(i - 1) * n + h;
      const double *newer = an->history + static_cast<size_t>(i) * n + h;
      double yy = -1 + (i - 1) * step;
      glBegin(GL_QUAD_STRIP);
      for (int j = 0; j < half; ++j) {
        double xx = x + static_cast<double>(j) / half;
        double v = 1 - exp(-gain * older[j]);
        heat(v);
        glVertex3d(xx, yy, y + v);
        double w = 1 - exp(-gain * newer[j]);
        heat(w);
        glVertex3d(xx, yy + step, y + w);
      }
      glEnd();
    }
  }
  glPopMatrix();
}

void draw_c5(graphs_t &manager, int slot_index, Analyser *an, DisplaySlot &slot, AnalysisLog *log) {
  if (!an) return;
  const double x = slot.x, y = slot.y;
  const int n = an->n, half = n / 2, h = slot_index % 2 ? half : 0;
  glPushMatrix();
  tilt();
  glColor3f(1, 1, 1);
  draw_spokes(x, y, -1.1f, 0.05f);
  draw_time_axis(x, y, an->time_span);

  const int o = static_cast<int>(floor(slot.tuning_bin));
  // Row 0's octave goes to the log once per drawn frame. The slot's half of
  // a row holds bins 0..half-1: the octave's top is cut there, not read from
  // the other half.
  const LogHooks &logging = manager.log_hooks;
  if (log && logging.wants_lines(log) && manager.acquiring())
    logging.c5_frame(log, an->history + h, o, 2 * o < half - 1 ? 2 * o : half - 1, slot.scale);
  // Without a tuning bin there is no octave to wrap onto a turn.
  if (o >= 1) {
    const int e = 2 * o < half ? 2 * o : half;
    const double s = kTurn / o, step = 2.0 / an->rows, gain = 0.2 * slot.scale;
    for (int j = 1; j < an->rows; ++j) {
      const double *older = an->history + static_cast<size_t>(j - 1) * n + h;
      const double *newer = an->history + static_cast<size_t>(j) * n + h;
      double yy = -1 + j * step;
      glBegin(GL_QUAD_STRIP);
      for (int i = o; i <= e; ++i) {
        int k = i == e ? o : i;
        double phi = (i - o) * s, sp = sin(phi), cp = cos(phi);
        double v = 1 - exp(-gain * older[k]);
        heat(v);
        glVertex3d(x + v * sp, yy, y + v * cp);
        double w = 1 - exp(-gain * newer[k]);
        heat(w);
        glVertex3d(x + w * sp, yy + step, y + w * cp);
      }
      glEnd();
    }
  }
  glPopMatrix();
}

void draw_c5c(graphs_t &manager, int slot_index, Analyser *an, DisplaySlot &slot, AnalysisLog *) {
  if (!an) return;
  const double x = slot.x, y = slot.y;
  const int n = an->n, half = n / 2, h = slot_index % 2 ? half : 0;
  glPushMatrix();
  glScalef(0.5f, 0.5f, 0.5f);
  tilt();
  glColor3f(1, 1, 1);
  draw_spokes(x, y, -1.2f, 0.1f);
  draw_time_axis(x, y, an->time_span);

  const int o = static_cast<int>(floor(slot.tuning_bin));
  const int end = half < kAnalyserLength / 2 ? half : kAnalyserLength / 2;
  if (o >= 1 && o < end) {
    const double step = 2.0 / an->rows, gain = 0.2 * slot.scale, ln2 = log(2.0);
    // Every row lies on the same spiral: its points and blues are worked out
    // once a frame, and each row goes to GL as one array (a quarter of a
    // million immediate-mode calls a frame made this the slowest type).
    const int count = end - o;
    GLfloat vertices[kAnalyserLength][3], colours[kAnalyserLength][3];
    double qx[kAnalyserLength / 2], qz[kAnalyserLength / 2], blues[kAnalyserLength / 2];
    double ratio = 1, blue = 1;
    for (int j = o; j < end; ++j, ratio += 1.0 / o, blue -= 1.0 / half) {
      const double theta = kTurn * log(ratio) / ln2, rho = 0.1 * theta;
      qx[j - o] = x + rho * sin(theta);
      qz[j - o] = y + rho * cos(theta);
      blues[j - o] = blue;
    }
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, vertices);
    glColorPointer(3, GL_FLOAT, 0, colours);
    for (int i = 1; i < an->rows; ++i) {
      const double *older = an->history + static_cast<size_t>(i - 1) * n + h;
      const double *newer = an->history + static_cast<size_t>(i) * n + h;
      const double yy = -1 + i * step;
      for (int k = 0; k < count; ++k) {
        const double v = 1 - exp(-gain * older[o + k]), w = 1 - exp(-gain * newer[o + k]);
        GLfloat *a = vertices[2 * k], *b = vertices[2 * k + 1];
        a[0] = b[0] = static_cast<GLfloat>(qx[k]);
        a[1] = static_cast<GLfloat>(yy);
        b[1] = static_cast<GLfloat>(yy + step);
        a[2] = b[2] = static_cast<GLfloat>(qz[k]);
        GLfloat *c = colours[2 * k], *d = colours[2 * k + 1];
        c[0] = static_cast<GLfloat>(v);
        c[1] = static_cast<GLfloat>(v * v);
        d[0] = static_cast<GLfloat>(w);
        d[1] = static_cast<GLfloat>(w * w);
        c[2] = d[2] = static_cast<GLfloat>(blues[k]);
      }
      glDrawArrays(GL_QUAD_STRIP, 0, 2 * count);
    }
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
  }
  glPopMatrix();
}
