// The ifs display: node stores, the subdivision walk, drawing and the slot
// set-up.
#include "harmonic/ifs.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "audio/feed.h"
#include "display/analyser.h"
#include "display/text.h"
#include "display/viewport.h"
#include "harmonic/harmonic.h"

bool IfsState::alloc_ifs() {
  for (IfsNode *&block : work)
    if (!block) block = static_cast<IfsNode *>(calloc(kBlockNodes, sizeof(IfsNode)));
  if (!grid) grid = static_cast<IfsNode *>(calloc(kGridNodes, sizeof(IfsNode)));
  for (IfsNode *block : work)
    if (!block) return false;
  return grid != nullptr;
}

void IfsState::release() {
  for (IfsNode *&block : work) {
    free(block);
    block = nullptr;
  }
  free(grid);
  grid = nullptr;
}

namespace {

constexpr double kElevationOffset = 1.3744467859455345;  // 78.75 degrees
constexpr double kRadians = 3.141592653589793 / 180;

// A bin position as an index; absurd tunings must not overflow the cast.
int bin_index(double p) {
  const double k = floor(p);
  if (!(k > 0)) return 0;
  return k < (1 << 30) ? static_cast<int>(k) : (1 << 30);
}

void normalise(float v[3]) {
  const float l = sqrtf(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (l == 0) return;
  v[0] /= l;
  v[1] /= l;
  v[2] /= l;
}

float distance(const float a[3], const float b[3]) {
  const float x = a[0] - b[0], y = a[1] - b[1], z = a[2] - b[2];
  return sqrtf(x * x + y * y + z * z);
}

void heat(float v) {
  float r, g, b;
  heat_colour(v, &r, &g, &b);
  glColor3f(r, g, b);
}

// Corner i moved 5% toward each of the other two.
void inset(const float *v[3], int i, float out[3]) {
  const float *a = v[i], *b = v[(i + 1) % 3], *c = v[(i + 2) % 3];
  for (int k = 0; k < 3; ++k) out[k] = a[k] + 0.05f * (b[k] - a[k]) + 0.05f * (c[k] - a[k]);
}

void grey_planes() {
  glColor3f(0.2f, 0.2f, 0.2f);
  glBegin(GL_QUADS);
  glVertex3f(-1, -1, 0);
  glVertex3f(1, -1, 0);
  glVertex3f(1, 1, 0);
  glVertex3f(-1, 1, 0);
  glVertex3f(0, -1, -1);
  glVertex3f(0, 1, -1);
  glVertex3f(0, 1, 1);
  glVertex3f(0, -1, 1);
  glVertex3f(-1, 0, -1);
  glVertex3f(1, 0, -1);
  glVertex3f(1, 0, 1);
  glVertex3f(-1, 0, 1);
  glEnd();
}

// White quads between the picked triangle and a copy 3% further out.
void collar(const float p[3][3]) {
  float s[3][3];
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) s[i][k] = p[i][k] * 1.03f;
  const int quads[3][2] = {{0, 1}, {0, 2}, {2, 1}};  // S1 S2 P2 P1, S1 S3 P3 P1, S3 S2 P2 P3
  glColor3f(1, 1, 1);
  glBegin(GL_QUADS);
  for (const auto &q : quads) {
    glVertex3fv(s[q[0]]);
    glVertex3fv(s[q[1]]);
    glVertex3fv(p[q[1]]);
    glVertex3fv(p[q[0]]);
  }
  glEnd();
}

}  // namespace

int ifs_bin(double p, int lower, int upper, int half_length) {
  const int k = bin_index(p);
  const int span = upper - lower;
  int b = span > 0 ? lower + (k - lower) % span : k;
  // An empty range (a tuning at or above the upper bin) wraps nothing.
  if (b < 0) b = 0;
  if (b >= half_length) b = half_length - 1;
  return b;
}

int ifs_zoom_level(double scale) {
  const double z = floor((1 / (1 + exp(-0.05 * scale * scale)) - 0.5) * 10);
  if (!(z > 0)) return 0;
  return z < 5 ? static_cast<int>(z) : 5;
}

// Leaves are emitted into the primitive the caller has begun: triangles, or
// lines (three per outlined leaf).
int ifs_subdivide(IfsWalk &w, int best, const float v1[3], const float v2[3], const float v3[3], int levels,
                  double p, double e, double f) {
  if (w.counter >= w.nodes) return best;
  const int index = w.counter;
  IfsNode &n = w.store[index];
  const int b = ifs_bin(p, w.lower, w.upper, w.bins);
  const double m = w.row[w.half + b];
  const double lv = 1 - exp(-0.2 * w.scale * m);
  n.bin = b;
  n.value = 0.5 * (0.9 * exp(-0.01 * (lv - e) * (lv - e)) * n.value + lv + f);

  if (levels <= 0) {
    const float wv = static_cast<float>(1 - exp(-2 * w.scale * n.value));
    heat(1.5f * wv * wv);
    const float *v[3] = {v1, v2, v3};
    if (w.outline) {
      for (int i = 0; i < 3; ++i) {
        glVertex3fv(v[i]);
        glVertex3fv(v[(i + 1) % 3]);
      }
    } else {
      for (int i = 0; i < 3; ++i) {
        float c[3];
        inset(v, i, c);
        glVertex3fv(c);
      }
    }
    return best;
  }
  if (levels == 1) {
    const double d = distance(v1, w.view) + distance(v2, w.view) + distance(v3, w.view);
    if (w.best_distance < 0 || w.best_distance > d) {
      for (int k = 0; k < 3; ++k) {
        w.best_triangle[0][k] = v1[k];
        w.best_triangle[1][k] = v2[k];
        w.best_triangle[2][k] = v3[k];
      }
      w.best_distance = d;
      best = index;
    }
  }
  float m12[3], m23[3], m31[3];
  for (int k = 0; k < 3; ++k) {
    m12[k] = (v1[k] + v2[k]) / 2;
    m23[k] = (v2[k] + v3[k]) / 2;
    m31[k] = (v3[k] + v1[k]) / 2;
  }
  normalise(m12);
  normalise(m23);
  normalise(m31);
  ++w.counter;
  best = ifs_subdivide(w, best, v1, m12, m31, levels - 1, n.bin * 3, lv, n.value);
  ++w.counter;
  best = ifs_subdivide(w, best, v2, m23, m12, levels - 1, n.bin * 0.5, lv, n.value);
  ++w.counter;
  best = ifs_subdivide(w, best, v3, m31, m23, levels - 1, n.bin / 3, lv, n.value);
  ++w.counter;
  best = ifs_subdivide(w, best, m12, m23, m31, levels - 1, n.bin * 2, lv, n.value);
  return best;
}

void draw_ifs(graphs_t &manager, int slot_index, Analyser *a, DisplaySlot &slot, AnalysisLog *) {
  IfsState *state = static_cast<IfsState *>(slot.work);
  if (!state || !a || !state->grid) return;
  const int n = a->n, bins = n / 2;
  const int half = slot_index % 2 ? bins : 0;
  const double sr = manager.feed ? manager.feed->sample_rate : 0;
  const float tuning = static_cast<float>(slot.tuning_bin * sr / n);
  const float ninth = 1.0f / 9;

  glPushMatrix();
  glTranslated(slot.x, 0, slot.y);
  grey_planes();

  // The GUI thread's own copy of the view: no lock needed here.
  double altitude, azimuth, scale;
  view_angles_of(g_viewport.modelview, altitude, azimuth, scale);
  const double elevation = altitude * kRadians - kElevationOffset, az = -azimuth * kRadians;
  const int zoom = ifs_zoom_level(scale);

  IfsWalk w{};
  w.row = a->history;
  w.half = half;
  w.bins = bins;
  w.scale = slot.scale;
  w.upper = n / 4;
  w.outline = zoom >= 1;
  w.view[0] = static_cast<float>(1.1 * sin(elevation) * cos(az));
  w.view[1] = static_cast<float>(1.1 * sin(elevation) * sin(az));
  w.view[2] = static_cast<float>(1.1 * cos(elevation));
  w.best_distance = -1;
  int best_octant = -1, best_index = 0;
  for (int i = 0; i < IfsState::kBlocks; ++i) {
    const float sx = i & 1 ? -1 : 1, sy = i & 2 ? -1 : 1, sz = i & 4 ? -1 : 1;
    glColor3f(1, 1, 1);
    glBegin(GL_LINES);
    glVertex3f(0, 0, 0);
    glVertex3f(0.7f * sx, 0.7f * sy, 0.78f * sz);
    glEnd();
    stroke_text(0.71f * sx, 0.71f * sy, 0.71f * sz, 0.06f, "%6.1f Hz", tuning * (1 + i * ninth));

    const float v1[3] = {sx, 0, 0}, v2[3] = {0, sy, 0}, v3[3] = {0, 0, sz};
    const double p = slot.tuning_bin * (1 + i * ninth);
    w.store = state->work[i];
    w.nodes = IfsState::kBlockNodes;
    w.counter = 0;
    w.lower = bin_index(p);
    const double before = w.best_distance;
    glBegin(w.outline ? GL_LINES : GL_TRIANGLES);
    const int found = ifs_subdivide(w, 0, v1, v2, v3, IfsState::kBlockLevels, p, 1, 0);
    glEnd();
    if (w.best_distance >= 0 && (before < 0 || w.best_distance < before)) {
      best_octant = i;
      best_index = found;
    }
  }

  if (zoom < 1) {
    if (best_octant >= 0) {
      slot.slice = &state->work[best_octant][best_index];
      slot.slice_bin = slot.slice->bin;
      collar(w.best_triangle);
      for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k) slot.ifs_triangle[i][k] = w.best_triangle[i][k];
    }
  } else if (slot.slice) {
    // Detail of the last selection; with none made yet there is nothing to detail.
    const IfsNode &slice = *slot.slice;
    IfsWalk d = w;
    d.store = state->grid;
    d.nodes = IfsState::kGridNodes;
    d.counter = 0;
    d.outline = false;
    d.lower = bin_index(slice.bin);
    d.best_distance = -1;
    const int levels = zoom + 4 < IfsState::kGridLevels ? zoom + 4 : IfsState::kGridLevels;
    const int k = ifs_bin(slice.bin, 0, 0, bins);
    glBegin(GL_TRIANGLES);
    ifs_subdivide(d, 0, slot.ifs_triangle[0], slot.ifs_triangle[1], slot.ifs_triangle[2], levels, slice.bin,
                  a->history[half + k], slice.value);
    glEnd();
  }
  glPopMatrix();
}

namespace {

bool setup_ifs(graphs_t &, int, DisplaySlot &s, Analyser *) {
  // The stores and the selection outlive a new configuration: detail mode
  // goes on showing the last pick.
  if (s.work) return true;
  IfsState *state = new (std::nothrow) IfsState;
  if (!state || !state->alloc_ifs()) {
    if (state) state->release();
    delete state;
    printf("cannot create IFS work buffers. memory problems.");
    fflush(stdout);
    abort();
  }
  s.work = state;
  s.slice = nullptr;
  return true;
}

void release_ifs(DisplaySlot &s) {
  IfsState *state = static_cast<IfsState *>(s.work);
  state->release();
  delete state;
  s.slice = nullptr;
}

}  // namespace

const GraphType kIfsGraph = {"ifs", kFeedSpectrum, draw_ifs, setup_ifs, release_ifs};
