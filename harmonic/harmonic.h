// The harmonic displays: ifs, iviv, spiral, origami and mirror.
#pragma once

#include "display/graphs.h"

// Their numbers in the graph type table.
enum HarmonicGraphType {
  kGraphIfs = 6,
  kGraphIviv = 7,
  kGraphSpiral = 8,
  kGraphOrigami = 10,
  kGraphMirror = 11,
};

// Each type's description, beside its renderer.
extern const GraphType kIfsGraph;
extern const GraphType kIvivGraph;
extern const GraphType kSpiralGraph;
extern const GraphType kOrigamiGraph;
extern const GraphType kMirrorGraph;

// Installs the five types; call once from main before the GUI thread starts.
void install_harmonic_graphs();
