// The spiral display.
#include <cstdio>

#include "harmonic/harmonic.h"
#include "options/options.h"

namespace {

bool setup_spiral(graphs_t &, int i, DisplaySlot &s, Analyser *) {
  s.beat = g_options.get_int(i, "beat", false, 0);
  if (s.beat >= 127) {
    s.beat = 0;
    printf("SPIRAL display's beat time  not acceptable (defaulting to ZERO)\n");
  }
  return true;
}

}  // namespace

const GraphType kSpiralGraph = {"spiral", kFeedSpectrum, nullptr, setup_spiral, nullptr};
