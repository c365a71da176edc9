// The transformation view.
#include "media/transform_view.h"

#include "display/graphs.h"

void install_media_graphs() {
  install_graph_type(kGraphTransform, {"transform", kFeedNothing, nullptr, nullptr, nullptr});
}
