// The ether: nested damped strings driven at node 0 and read at node 1.
// Level k halves every segment of level k-1; all levels share their nodes and
// each one moves the medium by its own weight.
#pragma once

#include "display/transform_state.h"

// Memory grows as 2^max_octave: 20 is about 100 MB of arrays.
constexpr int kEtherMaxOctave = 20;

// The output of a string end: tanh(2u) as 2/(1 + e^(-4u)) - 1, kept strictly
// inside (-1, 1), where the formula alone rounds to +-1 once |u| passes 9.
double medium_output(double u);

// True when a medium of this size may be built; otherwise prints why.
bool ether_size_ok(int max_octave);

struct Ether {
  double alpha;        // the peak level has 1/(1 - alpha) segments
  double saved_alpha;  // kept by snapshot()
  double fpermu;       // curvature factor
  double damp;         // velocity factor
  int *path;           // node numbers of all levels, level 0 first
  int path_length;     // max_octave + 2^(max_octave + 1)
  // Normalised weight of level k, for levels 0..max_octave. The finest
  // level's entry stays 0: any weight there comes on top of a sum that is
  // already 1, and nodes moved by a total weight above 1/damp grow without
  // bound.
  double *weights;
  double *u, *u_prev, *u_prev2;
  double *snap_u, *snap_prev, *snap_prev2;
  int max_octave;
  int nodes;           // 2^max_octave + 1
  int peak;            // segments of the level with the largest weight
  TransformState *view;

  // Step tables, built once from path: for level k the inner nodes
  // n[i], their neighbours l[i], r[i] for i in [level_start[k], level_start[k+1]),
  // and the node the output end is pulled towards.
  int *step_n, *step_l, *step_r;
  int *level_start;  // max_octave + 2 entries
  int *pull_node;    // max_octave + 1 entries

  // max_octave outside 0..kEtherMaxOctave is clamped into it (the commands
  // refuse such sizes before they build a medium).
  Ether(int max_octave, TransformState *view);
  ~Ether();
  Ether(const Ether &) = delete;
  Ether &operator=(const Ether &) = delete;

  bool compute_weights();
  bool set_alpha(double a);
  void snapshot();
  void restore();
  void report() const;
  double step(double x);
};
