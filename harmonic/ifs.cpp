// The ifs display: node stores.
#include "harmonic/ifs.h"

#include <cstdlib>

bool IfsState::alloc_ifs() {
  for (IfsNode *&block : work)
    if (!block) block = static_cast<IfsNode *>(calloc(kBlockNodes, sizeof(IfsNode)));
  if (!grid) grid = static_cast<IfsNode *>(calloc(kGridNodes, sizeof(IfsNode)));
  for (IfsNode *block : work)
    if (!block) return false;
  return grid != nullptr;
}

void IfsState::release() {
  for (IfsNode *&block : work) {
    free(block);
    block = nullptr;
  }
  free(grid);
  grid = nullptr;
}
