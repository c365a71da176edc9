// The ifs display: the eight octant triangles of an octahedron, each
// subdivided four-fold onto the unit sphere; every sub-triangle carries a
// note (corner children x3, x1/2, x1/3, middle child x2) and is coloured by a
// smoothed level of it. Far out, the sub-triangle nearest the viewing
// direction is picked; zoomed in, it alone is drawn in finer detail.
#pragma once

#include "display/graphs.h"
#include "harmonic/ifs_node.h"

struct IfsState {
  static constexpr int kBlocks = 8;
  static constexpr int kBlockNodes = 341;  // four levels: 1 + 4 + 16 + 64 + 256
  static constexpr int kGridNodes = 21845; // seven levels
  static constexpr int kBlockLevels = 4;
  static constexpr int kGridLevels = 7;

  IfsNode *work[kBlocks] = {};
  IfsNode *grid = nullptr;

  // Zeroed stores; a second call keeps what is there. False when memory ran out.
  bool alloc_ifs();
  void release();
};

// What one subdivision walk shares across its nodes.
struct IfsWalk {
  IfsNode *store;
  int nodes;               // store size: a walk never runs past it
  int counter;             // pre-order number of the node being visited
  const double *row;       // newest spectrum row
  int half;                // offset of the slot's half in the row
  int bins;                // length of the half
  double scale;
  int upper, lower;        // bins wrap into [lower, upper)
  bool outline;            // leaves as line loops instead of filled
  float view[3];           // view vector
  float best_triangle[3][3];
  double best_distance;    // negative: none yet
};

// The wrapped bin of bin position p: at or above `upper` folds back into
// [lower, upper), below `lower` stays; always inside the slot's half row.
int ifs_bin(double p, int lower, int upper, int half_length);

// Updates node w.counter from bin position p (parent level e, parent value
// f), draws it as a leaf or recurses; returns the best index so far.
int ifs_subdivide(IfsWalk &w, int best, const float v1[3], const float v2[3], const float v3[3], int levels,
                  double p, double e, double f);

void draw_ifs(graphs_t &manager, int slot_index, Analyser *analyser, DisplaySlot &slot, AnalysisLog *log);

// Zoom level of a viewport scale: 0 (far out, selection) to 5.
int ifs_zoom_level(double scale);
