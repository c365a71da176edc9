// The iviv display: a plane tree of fourths and fifths, extruded upward
// through a slot's spectrum history.
#pragma once

struct graphs_t;
struct Analyser;
struct DisplaySlot;
struct AnalysisLog;

// One node of the tree: the apex of a triangle on the edge base_a-base_b.
struct IvivNode {
  float base_a[2];
  float base_b[2];
  float apex[2];
  float ratio;  // frequency as a multiple of the tuning frequency
  int node_a;   // earlier node owning base_a, or -1
  int node_b;   // earlier node owning base_b, or -1
};

// Nodes 0 and 1 are the base (ratio 1 and 2); level L (1..8) holds the
// nodes 2^(L-1)+1 .. 2^L.
constexpr int kIvivLevels = 8;
constexpr int kIvivNodes = (1 << kIvivLevels) + 1;
constexpr float kIvivBaseWidth = 0.3f;

// An iviv slot's work state, made by its setup from the manager's relh and
// hshrink: each configuration rebuilds it.
struct IvivState {
  IvivNode tree[kIvivNodes];
};

// Fills all kIvivNodes nodes for base width w.
void build_iviv_tree(IvivNode *nodes, float w, double relh, double hshrink);
// The recursive step: the node on edge P->Q at `level` with height factor a,
// then its children (next[L] is level L's next free index, L = 1..8).
void add_iviv_node(IvivNode *nodes, int level, double a, double hshrink, const float *p, const float *q, int *next,
                   float ratio, int node_a, int node_b);

// Draws one iviv slot (GuiMutex held); leaves the matrix stack as it was.
void draw_iviv(graphs_t &manager, int slot_index, Analyser *analyser, DisplaySlot &slot, AnalysisLog *log);
