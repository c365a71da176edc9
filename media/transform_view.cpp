// The transformation view: whatever medium the last medium command built,
// read through the transform state it registered in.
#include "media/transform_view.h"

#include <GL/gl.h>

#include <cmath>
#include <cstring>

#include "display/analyser.h"
#include "display/text.h"
#include "media/live.h"

namespace {

// The saturating level of a value: tanh(2 scale v).
double level(double scale, double v) { return 2 / (1 + std::exp(-4 * scale * v)) - 1; }

void heat(double v) {
  float r, g, b;
  heat_colour(static_cast<float>(v), &r, &g, &b);
  glColor3f(r, g, b);
}

void label(float x, const char *text) {
  glColor3f(1, 1, 0);
  stroke_text(x, 0, 0.01f, 0.2f, "%s", text);
}

void square(float grey) {
  glColor3f(grey, grey, grey);
  glBegin(GL_TRIANGLE_FAN);
  glVertex3d(-1, -1, 0);
  glVertex3d(1, -1, 0);
  glVertex3d(1, 1, 0);
  glVertex3d(-1, 1, 0);
  glEnd();
}

// One vertex of a surface strip at level a; a wall or a missing cell (a < 0)
// is black at the depth of the vertex before it.
void surface_vertex(double x, double y, double a, double &depth) {
  if (a < 0) {
    glColor3f(0, 0, 0);
  } else {
    heat(a);
    depth = -0.3 * a;
  }
  glVertex3d(x, y, depth);
}

// Each row's levels serve as the lower edge of one strip and the upper edge
// of the next: kept here for surfaces up to this width, so each cell's level
// is computed once per frame.
constexpr int kRowCache = 1024;
double g_row_levels[kRowCache];

double cell_level(const double *cells, const unsigned char *walls, int k, double scale) {
  if (walls && walls[k]) return -1;
  const double v = cells[k];
  return level(scale, v * v);
}

void draw_surface(const TransformState &view, int i, double scale) {
  const int w = view.dim1[i], h = view.dim2[i];
  const double *cells = static_cast<const double *>(view.display[i]);
  const unsigned char *walls = static_cast<const unsigned char *>(view.aux[i]);
  const double s = 2.0 / w;
  const bool cached = w <= kRowCache;
  double depth = 0;
  for (int y = 0; y < h; ++y) {
    glBegin(GL_TRIANGLE_STRIP);
    for (int x = 0; x < w; ++x) {
      const int k = y * w + x;
      const double px = -1 + x * s;
      const double upper = cached && y > 0 ? g_row_levels[x] : cell_level(cells, walls, k, scale);
      const double lower = y + 1 < h ? cell_level(cells, walls, k + w, scale) : -1;
      if (cached) g_row_levels[x] = lower;
      surface_vertex(px, -1 + y * s, upper, depth);
      surface_vertex(px, -1 + (y + 1) * s, lower, depth);
    }
    glEnd();
  }
}

constexpr int kProfile = 40;

// Entry of a profile at position a in -1..1; outside it counts as 0.
double profile(const double *p, double a) {
  const int k = static_cast<int>(std::floor((a + 1) * 20));
  return k >= 0 && k < kProfile ? p[k] : 0;
}

struct Hologram {
  double x[kProfile], y[kProfile], z[kProfile];
  int count;
};

// Where chords of the gradient profile P meet the line c0 + d0 x, turned by
// the direction phi and tilted by the profile G.
void trace(const double *P, const double *G, double phi, double c0, double d0, Hologram &out) {
  out.count = 0;
  for (int step = 0; step < 60; ++step) {
    const double l = -0.6 + 0.02 * step;
    const double a = l + 0.2, b = l;
    const double pa = profile(P, a), pb = profile(P, b);
    const double den = (a - b) * d0 + (pb - pa);
    if (den == 0) continue;  // parallel: they never meet
    const double x = a + (a - b) * (pa - d0 * a - c0) / den;
    const double k = (a - b) / den;
    const int g = static_cast<int>(std::floor((0.5 * l + 0.55) * 40));
    const double theta = g >= 0 && g < kProfile ? G[g] : 0;
    const double X = k * std::sin(theta) * std::sin(phi) + x * std::cos(phi);
    if (!(std::fabs(X) < 1.5)) continue;
    const double Y = x * std::sin(phi) - k * std::sin(theta) * std::cos(phi);
    if (std::fabs(Y) < 1.5 && out.count < kProfile) {
      out.x[out.count] = X;
      out.y[out.count] = Y;
      out.z[out.count] = k * std::cos(theta);
      ++out.count;
    }
  }
}

double sigmoid(double t) { return 1 / (1 + std::exp(-t)); }

void draw_hologram(const Hologram &h) {
  for (int i = 0; i < h.count; ++i) {
    const double z = h.z[i];
    if (!(z > 0)) continue;
    glVertex3d(sigmoid(1.5 * h.x[i] / z) - 0.5, sigmoid(1.5 * h.y[i] / z) - 0.5, sigmoid(1.5 * z) - 0.2);
  }
}

}  // namespace

void refresh_surface_copies(TransformState &view) {
  for (int i = 0; i < view.slot_count && i < TransformState::kSlots; ++i)
    if (view.display[i] && view.live[i])
      memcpy(view.display[i], view.live[i], sizeof(double) * view.dim1[i] * view.dim2[i]);
}

void draw_surface_view(TransformState &view, double scale) {
  refresh_surface_copies(view);
  const int n = view.slot_count < TransformState::kSlots ? view.slot_count : TransformState::kSlots;
  const double c = n >= 3 ? 1 / std::tan(M_PI / n) : 0.3;
  bool drawn = false;
  for (int i = 0; i < n; ++i) {
    if (!view.dim1[i] || !view.dim2[i] || !view.display[i]) continue;
    glPushMatrix();
    if (n != 1) {
      // Several surfaces stand in a ring, each facing the centre.
      glScaled(c, c, c);
      glRotated(360.0 * i / n, 0, 0, 1);
      glTranslated(0, c + 1, 0);
      glColor3f(0.2f, 0.2f, 0.2f);
      glBegin(GL_LINES);
      glVertex3d(-1, -1, 0);
      glVertex3d(1, -1, 0);
      glEnd();
    }
    draw_surface(view, i, scale);
    glPopMatrix();
    drawn = true;
  }
  if (!drawn) {
    square(0.2f);
    label(-0.8f, "Transformation View");
  }
}

void draw_string_view(TransformState &view, double scale) {
  const double *p = static_cast<const double *>(view.display[0]);
  const int n = view.dim1[0];
  // dim2[0] is 0 while a string is registered: the view's frame counter.
  double phi = 0.2 * view.dim2[0];
  ++view.dim2[0];
  glPointSize(7);
  glBegin(GL_POINTS);
  glColor3f(0.8f, 1, 0.8f);
  glVertex3d(0, -1, 0);
  glColor3f(0.5f, 0, 0);
  glVertex3d(0, 1, 0);
  glEnd();
  glPointSize(1);
  if (p && n) {
    glLineWidth(3);
    glBegin(GL_LINE_STRIP);
    for (int k = 0; k < n; ++k) {
      const double z = -1 + 2.0 * k / n;
      const double a = level(scale, p[k]);
      heat(a);
      glVertex3d(0.15 * a * std::sin(phi), z, 0.15 * a * std::cos(phi));
      phi += 0.15 * a - 0.02;
    }
    glEnd();
    glLineWidth(1);
  } else {
    glColor3f(0.5f, 0.5f, 0.5f);
    glBegin(GL_LINES);
    glVertex3d(0, -1, 0);
    glVertex3d(0, 1, 0);
    glEnd();
    label(-0.8f, "string");
  }
}

void draw_ether_view(TransformState &view, double) {
  const double *u = static_cast<const double *>(view.display[0]);
  const int *path = static_cast<const int *>(view.display[1]);
  const double *weights = static_cast<const double *>(view.aux[0]);
  const int m = view.slot_count;
  if (!u || !path || m <= 0 || m > 30) {
    glBegin(GL_LINES);
    glColor3f(0, 1, 0);
    glVertex3d(0, -1, 0);
    glColor3f(1, 0, 0);
    glVertex3d(0, 1, 0);
    glEnd();
    label(-0.8f, "ether");
    return;
  }
  GLfloat width_before = 1;
  glGetFloatv(GL_LINE_WIDTH, &width_before);
  const int path_length = m + (1 << (m + 1));
  int j = 0, lvl = 0;
  double g = 2;
  glBegin(GL_LINE_STRIP);
  for (int pos = 0; pos < path_length - 1; ++pos) {
    const int e = path[pos];
    if (e == 1) {
      glColor3f(1, 0, 0);
      glVertex3d(0, 1, 0);
      glEnd();
      j = 0;
      g /= 2;
      ++lvl;
      // The finest level has no weight entry of its own (the ether keeps it
      // at 0): it is drawn at the thinnest width.
      double width = lvl < m && weights ? std::floor(6 * weights[lvl]) : 1;
      if (!(width >= 1)) width = 1;
      glLineWidth(static_cast<GLfloat>(width));
      glBegin(GL_LINE_STRIP);
      glColor3f(0, 1, 0);
      glVertex3d(0, -1, 0);
      continue;
    }
    if (e == 0)
      glColor3f(0.5f, 1, 0.5f);
    else
      heat(u[e]);
    const double theta = j * g;
    const double h = theta - 1;
    const double r = e > 1 ? 0.2 * std::log2(static_cast<double>(e)) * (1 - h * h) : 0;
    glVertex3d(r * std::cos(2 * M_PI * theta), h, r * std::sin(2 * M_PI * theta));
    ++j;
  }
  glColor3f(1, 0, 0);
  glVertex3d(0, 1, 0);
  glEnd();
  glLineWidth(width_before);
}

void draw_mirage_view(TransformState &view, double scale) {
  refresh_surface_copies(view);
  const int w = view.dim1[0], h = view.dim2[0];
  const double *v = static_cast<const double *>(view.display[0]);
  square(0.1f);
  if (w * h == 0 || !v) {
    label(-0.3f, "MIRAGE");
    return;
  }
  double P[kProfile], G[kProfile];
  Hologram hologram;
  glPushMatrix();
  for (int d = 0; d < 32; ++d) {
    const double phi = -M_PI / 2 + 0.1 * d;
    const double cp = std::cos(phi), sp = std::sin(phi);
    glBegin(GL_LINES);
    for (int i = 0; i < kProfile; ++i) {
      const double s = -1 + 0.05 * i;
      const double px = s * cp, py = s * sp;
      const int cx = w / 2 + static_cast<int>(w * px / 2);
      const int cy = h / 2 + static_cast<int>(h * py / 2);
      P[i] = G[i] = 0;
      if (!(0 < cx && cx < w && 0 < cy && cy < h)) continue;
      const int k = cy * w + cx;
      const double c = v[k], l = v[k - 1], r = v[k - w];
      const double a = level(scale, c * c);
      const double gx = a - level(scale, l * l);
      const double gy = a - level(scale, r * r);
      glColor3f(1, 1, 1);
      glVertex3d(px, py, 0.1 * s * s);
      heat(a);
      glVertex3d(px - 0.03 * (s - gx) * cp, py - 0.03 * (s - gy) * sp, 0.1 * a + 0.1 * s * s);
      P[i] = gx - s;
      G[i] = gy;
    }
    glEnd();
    glColor3f(1, 1, 1);
    glBegin(GL_POINTS);
    trace(P, G, phi, 0.2, 0.1 * sp, hologram);
    draw_hologram(hologram);
    trace(P, G, phi, -0.2, -0.1 * sp, hologram);
    draw_hologram(hologram);
    glEnd();
  }
  glPopMatrix();
}

void draw_transform_view(graphs_t &m, int, Analyser *, DisplaySlot &slot, AnalysisLog *) {
  TransformState &view = m.live;
  glPushMatrix();
  glTranslated(slot.x, 0, slot.y);
  switch (view.mode) {
    case kModeTfield:
      draw_surface_view(view, slot.scale);
      break;
    case kModeTstring:
      draw_string_view(view, slot.scale);
      break;
    case kModeTether:
    case kModeUnfold:
      draw_ether_view(view, slot.scale);
      break;
    case kModeMirage:
      draw_mirage_view(view, slot.scale);
      break;
    default:
      break;
  }
  glPopMatrix();
}

void install_media_graphs() {
  install_graph_type(kGraphTransform, {"transform", kFeedNothing, draw_transform_view, nullptr, nullptr});
  g_graphs.live.step_hook = live_step;
  g_graphs.live.stop_hook = live_stop;
}
