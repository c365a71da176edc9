// The origami display: a tree of paper folds rebuilt from the newest
// spectrum every frame. A fold on an edge raises two flaps hinged by how
// strongly the fourth and fifth above its note sound against the note; each
// flap carries the fold of the fourth (first) or the fifth (second) above.
#pragma once

#include "display/graphs.h"

// Deepest o.depth drawn: the work doubles per level.
constexpr int kOrigamiMaxDepth = 12;

// What a walk through the folds emits, into the primitive the caller has
// begun: the grey edge and creases (lines), or the two flaps (triangles).
enum OrigamiPass { kOrigamiCreases, kOrigamiFlaps };

// One fold on edge A-B and, below it, levels - 1 more; magnitudes holds h
// values (bins at or beyond h count as 0).
void origami_fold(const float a[3], const float b[3], int levels, int axis, const double *magnitudes, int h,
                  double tuning_bin, double ratio, double scale, OrigamiPass pass);

void draw_origami(graphs_t &manager, int slot_index, Analyser *analyser, DisplaySlot &slot, AnalysisLog *log);
