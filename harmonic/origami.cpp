// The origami display.
#include "harmonic/harmonic.h"
#include "options/options.h"

namespace {

bool setup_origami(graphs_t &, int i, DisplaySlot &s, Analyser *) {
  s.o_depth = g_options.get_int(i, "o.depth", false, 0);
  return true;
}

}  // namespace

const GraphType kOrigamiGraph = {"origami", kFeedSpectrum, nullptr, setup_origami, nullptr};
