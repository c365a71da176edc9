// The iviv display: which fourths and fifths sound together, and for how
// long. The tree stands flat in the horizontal plane; each history row raises
// a wall along every side whose two notes sound in that row and the one
// before it.
#include "harmonic/iviv.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "analysis/analysis_log.h"
#include "display/analyser.h"
#include "display/spectrum_graphs.h"
#include "harmonic/harmonic.h"

void add_iviv_node(IvivNode *nodes, int level, double a, double hshrink, const float *p, const float *q, int *next,
                   float ratio, int node_a, int node_b) {
  float pp[2] = {p[0], p[1]};
  const float qq[2] = {q[0], q[1]};
  while (level != kIvivLevels + 1) {
    const double dx = qq[0] - pp[0], dy = qq[1] - pp[1], d = std::sqrt(dx * dx + dy * dy);
    // The apex stands a*d off the edge's midpoint, a quarter-turn clockwise
    // from P->Q (so the first one lies at -y).
    const double ux = dx / d, uy = dy / d;
    const float r[2] = {static_cast<float>(pp[0] + d / 2 * ux + a * d * uy),
                        static_cast<float>(pp[1] + d / 2 * uy - a * d * ux)};
    const int k = next[level]++;
    IvivNode &node = nodes[k];
    node.base_a[0] = pp[0];
    node.base_a[1] = pp[1];
    node.base_b[0] = qq[0];
    node.base_b[1] = qq[1];
    node.apex[0] = r[0];
    node.apex[1] = r[1];
    node.ratio = ratio;
    node.node_a = node_a;
    node.node_b = node_b;
    a *= hshrink;
    ++level;
    // Left child: a fourth up, on P->R.
    add_iviv_node(nodes, level, a, hshrink, pp, r, next, ratio * 4.0f / 3.0f, node_a, k);
    // Right child: a fifth up, on R->Q.
    pp[0] = r[0];
    pp[1] = r[1];
    ratio *= 1.5f;
    node_a = k;
  }
}

void build_iviv_tree(IvivNode *nodes, float w, double relh, double hshrink) {
  int next[kIvivLevels + 2] = {};
  for (int level = 1; level <= kIvivLevels; ++level) next[level] = (1 << (level - 1)) + 1;
  const float half = w / 2;
  nodes[0] = {{-half, 0}, {0, 0}, {-half, 0}, 1.0f, -1, -1};
  nodes[1] = {{0, 0}, {half, 0}, {half, 0}, 2.0f, -1, -1};
  const float p[2] = {-half, 0}, q[2] = {half, 0};
  add_iviv_node(nodes, 1, relh, hshrink, p, q, next, 1.5f, 0, 1);
}

namespace {

// A plane point at height z.
void vertex(const float *point, double z) { glVertex3d(point[0], z, -point[1]); }

// Quads are independent: one set holds the walls of every row, opened at
// the first (silence then costs no GL calls).
void wall(bool &open, const float *from, const float *to, double low, double high, double c) {
  if (!open) {
    glBegin(GL_QUADS);
    open = true;
  }
  float r, g, b;
  heat_colour(static_cast<float>(c), &r, &g, &b);
  glColor3f(r, g, b);
  vertex(from, low);
  vertex(to, low);
  vertex(to, high);
  vertex(from, high);
}

// Row 1's measurements, one per tree side whose two bins lie inside the
// spectrum, whatever their intensity: what the slot's analysis log records.
// bin[j] < 0 marks a node outside the spectrum; row is history row 1 at the
// slot's half.
void log_row_one(graphs_t &manager, AnalysisLog *log, const IvivNode *tree, const int *bin, const double *row) {
  if (!log || !log->wants_lines() || !manager.acquiring()) return;
  for (int j = 2; j < kIvivNodes; ++j) {
    if (bin[j] < 0) continue;
    const IvivNode &node = tree[j];
    const int partners[2] = {node.node_a, node.node_b};
    for (int partner : partners) {
      if (partner < 0 || bin[partner] < 0) continue;
      // The limit may be reached within the frame.
      if (!log->wants_lines()) return;
      const int k = bin[j], kp = bin[partner];
      log_iviv_pair(*log, k, kp, row[k], row[kp], node.ratio, tree[partner].ratio);
    }
  }
}

bool setup_iviv(graphs_t &manager, int, DisplaySlot &slot, Analyser *) {
  // relh and hshrink may have changed: the tree is rebuilt in place.
  IvivState *state = slot.work ? static_cast<IvivState *>(slot.work) : new (std::nothrow) IvivState;
  if (!state) {
    printf("cannot create IVIV work buffers. memory problems.");
    fflush(stdout);
    abort();
  }
  build_iviv_tree(state->tree, kIvivBaseWidth, manager.relh, manager.hshrink);
  slot.work = state;
  return true;
}

void release_iviv(DisplaySlot &slot) { delete static_cast<IvivState *>(slot.work); }

}  // namespace

void draw_iviv(graphs_t &manager, int slot_index, Analyser *an, DisplaySlot &slot, AnalysisLog *log) {
  if (!an) return;
  const int n = an->n, h = n / 2, offset = slot_index % 2 ? h : 0;
  glPushMatrix();
  glTranslated(slot.x, 0, slot.y);
  glColor3f(1, 1, 1);
  glBegin(GL_LINES);
  glVertex3d(0, -1, 0);
  glVertex3d(0, 1, 0);
  glEnd();
  draw_time_axis(0, 0, an->time_span);

  const IvivState *state = static_cast<const IvivState *>(slot.work);
  const int rows = an->rows;
  if (state && rows >= 2) {
    const IvivNode *tree = state->tree;
    // Each node's bin, or -1 outside the spectrum; checked in floating point
    // so that no tuning overflows the conversion. The nodes share few bins
    // (about 40 at the default tuning): only those are measured.
    int bin[kIvivNodes];
    int used[kIvivNodes];
    int used_count = 0;
    bool seen[kAnalyserLength / 2] = {};
    for (int j = 0; j < kIvivNodes; ++j) {
      const double b = std::floor(tree[j].ratio * slot.tuning_bin);
      bin[j] = b >= 0 && b < h && b < kAnalyserLength / 2 ? static_cast<int>(b) : -1;
      if (bin[j] >= 0 && !seen[bin[j]]) {
        seen[bin[j]] = true;
        used[used_count++] = bin[j];
      }
    }
    // 1 - e^(-scale v) of the used bins, for the row and the one before it.
    double presence[2][kAnalyserLength / 2];
    const double scale = slot.scale;
    // Returns the largest term.
    auto measure = [&](double *out, const double *row) {
      double top = 0;
      // Silence is exact zeros, and its term is exactly 0.
      for (int u = 0; u < used_count; ++u) {
        const double v = row[used[u]];
        const double t = v == 0 ? 0.0 : 1 - std::exp(-scale * v);
        out[used[u]] = t;
        if (t > top) top = t;
      }
      return top;
    };
    double top_s = measure(presence[0], an->history + offset);
    // Magnitudes are never negative: with a non-negative scale every term is
    // in [0, 1], so a node whose own pair is not above the threshold lights
    // neither side, and a row pair whose largest terms are not lights nothing.
    const bool bounded = scale >= 0;
    const double step = 2.0 / rows;
    bool open = false;
    for (int i = 1; i < rows; ++i) {
      const double *row = an->history + static_cast<size_t>(i) * n + offset;
      const double *rw = presence[i & 1], *sw = presence[(i - 1) & 1];
      const double top_r = measure(presence[i & 1], row);
      if (i == 1) log_row_one(manager, log, tree, bin, row);
      const bool quiet = bounded && !(top_r * top_s > 0.1);
      top_s = top_r;
      if (quiet) continue;
      const double low = -1 + i * step, high = low + step;
      for (int j = 2; j < kIvivNodes; ++j) {
        const int k = bin[j];
        if (k < 0) continue;
        const IvivNode &node = tree[j];
        const double c0 = rw[k] * sw[k];
        if (bounded && !(c0 > 0.1)) continue;
        const int ka = node.node_a >= 0 ? bin[node.node_a] : -1;
        const int kb = node.node_b >= 0 ? bin[node.node_b] : -1;
        if (ka >= 0) {
          const double c = c0 * rw[ka] * sw[ka];
          if (c > 0.1) wall(open, node.base_a, node.apex, low, high, c);
        }
        if (kb >= 0) {
          const double c = c0 * rw[kb] * sw[kb];
          if (c > 0.1) wall(open, node.apex, node.base_b, low, high, c);
        }
      }
    }
    if (open) glEnd();
  }
  glPopMatrix();
}

const GraphType kIvivGraph = {"iviv", kFeedSpectrum, draw_iviv, setup_iviv, release_iviv};
