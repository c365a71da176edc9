// The ifs display's node stores: eight blocks for the subdivision work and
// the grid of the detail view.
#pragma once

#include "harmonic/ifs_node.h"

struct IfsState {
  static constexpr int kBlocks = 8;
  static constexpr int kBlockNodes = 341;
  static constexpr int kGridNodes = 21845;

  IfsNode *work[kBlocks] = {};
  IfsNode *grid = nullptr;

  // Zeroed stores; a second call keeps what is there. False when memory ran out.
  bool alloc_ifs();
  void release();
};
