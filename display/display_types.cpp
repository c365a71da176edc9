// The display's own graph types and the slot options they read.
#include <cstdio>
#include <cstdlib>

#include "audio/feed.h"
#include "display/analyser.h"
#include "display/graphs.h"
#include "display/spectrum_graphs.h"
#include "display/wavelet_graphs.h"

namespace {

bool setup_wlet(graphs_t &, int, DisplaySlot &, Analyser *a) {
  a->rows = kWaveletLevels;
  return true;
}

bool setup_w2d(graphs_t &, int, DisplaySlot &, Analyser *a) {
  if (!a->alloc_w2d()) {
    printf("cannot create W2D work buffers. memory problems.");
    fflush(stdout);
    abort();
  }
  return true;
}

}  // namespace

void install_display_graphs() {
  install_graph_type(kGraphHide, {"hide", kFeedNothing, nullptr, nullptr, nullptr});
  install_graph_type(kGraphFft, {"fft", kFeedSpectrum, draw_fft, nullptr, nullptr});
  install_graph_type(kGraphC5, {"c5", kFeedSpectrum, draw_c5, nullptr, nullptr});
  install_graph_type(kGraphC5c, {"c5c", kFeedSpectrum, draw_c5c, nullptr, nullptr});
  install_graph_type(kGraphWlet, {"wlet", kFeedWavelet, draw_wlet, setup_wlet, nullptr});
  install_graph_type(kGraphW2d, {"w2d", kFeedW2d, draw_w2d, setup_w2d, nullptr});
}
