// Wavelet graphs drawn from an analyser's level rows and w2d pyramid.
#include "display/wavelet_graphs.h"

#include "display/analyser.h"
#include "display/graphs.h"

// Not drawn yet: the slots count as drawn and show nothing.
void draw_wlet(graphs_t &, int, Analyser *, DisplaySlot &, AnalysisLog *) {}
void draw_w2d(graphs_t &, int, Analyser *, DisplaySlot &, AnalysisLog *) {}
