// Installs the harmonic graph types.
#include "harmonic/harmonic.h"

void install_harmonic_graphs() {
  install_graph_type(kGraphIfs, kIfsGraph);
  install_graph_type(kGraphIviv, kIvivGraph);
  install_graph_type(kGraphSpiral, kSpiralGraph);
  install_graph_type(kGraphOrigami, kOrigamiGraph);
  install_graph_type(kGraphMirror, kMirrorGraph);
}
