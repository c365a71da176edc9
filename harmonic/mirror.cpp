// The mirror display.
#include "harmonic/harmonic.h"
#include "options/options.h"

namespace {

// The state itself comes with the mirror display; the keys are read (with
// their warnings) so that a misspelt one shows up now.
bool setup_mirror(graphs_t &, int i, DisplaySlot &, Analyser *) {
  g_options.get_double(i, "m.growth", true, 1.0);
  g_options.get_double(i, "m.bass", true, 10.0);
  g_options.get_int(i, "m.iter", true, 10);
  return true;
}

}  // namespace

const GraphType kMirrorGraph = {"mirror", kFeedSpectrum, nullptr, setup_mirror, nullptr};
