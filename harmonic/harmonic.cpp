// The harmonic graph types and the slot options each reads.
#include "harmonic/harmonic.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "display/graphs.h"
#include "harmonic/ifs.h"
#include "options/options.h"

namespace {

bool setup_ifs(graphs_t &, int, DisplaySlot &s, Analyser *) {
  IfsState *state = new (std::nothrow) IfsState;
  if (!state || !state->alloc_ifs()) {
    if (state) state->release();
    delete state;
    printf("cannot create IFS work buffers. memory problems.");
    fflush(stdout);
    abort();
  }
  s.work = state;
  s.slice = nullptr;
  return true;
}

void release_ifs(DisplaySlot &s) {
  IfsState *state = static_cast<IfsState *>(s.work);
  state->release();
  delete state;
  s.slice = nullptr;
}

bool setup_spiral(graphs_t &, int i, DisplaySlot &s, Analyser *) {
  s.beat = g_options.get_int(i, "beat", false, 0);
  if (s.beat >= 127) {
    s.beat = 0;
    printf("SPIRAL display's beat time  not acceptable (defaulting to ZERO)\n");
  }
  return true;
}

bool setup_origami(graphs_t &, int i, DisplaySlot &s, Analyser *) {
  s.o_depth = g_options.get_int(i, "o.depth", false, 0);
  return true;
}

// The state itself comes with the mirror display; the keys are read (with
// their warnings) so that a misspelt one shows up now.
bool setup_mirror(graphs_t &, int i, DisplaySlot &, Analyser *) {
  g_options.get_double(i, "m.growth", true, 1.0);
  g_options.get_double(i, "m.bass", true, 10.0);
  g_options.get_int(i, "m.iter", true, 10);
  return true;
}

}  // namespace

void install_harmonic_graphs() {
  install_graph_type(kGraphIfs, {"ifs", kFeedSpectrum, nullptr, setup_ifs, release_ifs});
  install_graph_type(kGraphIviv, {"iviv", kFeedSpectrum, nullptr, nullptr, nullptr});
  install_graph_type(kGraphSpiral, {"spiral", kFeedSpectrum, nullptr, setup_spiral, nullptr});
  install_graph_type(kGraphOrigami, {"origami", kFeedSpectrum, nullptr, setup_origami, nullptr});
  install_graph_type(kGraphMirror, {"mirror", kFeedSpectrum, nullptr, setup_mirror, nullptr});
}
