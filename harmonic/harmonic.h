// The harmonic displays: ifs, iviv, spiral, origami and mirror.
#pragma once

// Their numbers in the graph type table.
enum HarmonicGraphType {
  kGraphIfs = 6,
  kGraphIviv = 7,
  kGraphSpiral = 8,
  kGraphOrigami = 10,
  kGraphMirror = 11,
};

// Installs the five types; call once from main before the GUI thread starts.
void install_harmonic_graphs();
