// The ifs display: node stores, and the slot set-up.
#include "harmonic/ifs.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "harmonic/harmonic.h"

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

}  // namespace

const GraphType kIfsGraph = {"ifs", kFeedSpectrum, nullptr, setup_ifs, release_ifs};
