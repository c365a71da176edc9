// The iviv tree: its levels, ratios and geometry, and its set-up by the
// iviv graph type when a slot is prepared.
#include <gtest/gtest.h>

#include <cmath>

#include "display/graphs.h"
#include "harmonic/harmonic.h"
#include "harmonic/iviv.h"

namespace {

int level_of(int j) {
  int level = 0;
  while ((1 << level) < j) ++level;
  return level;  // 2 -> 1, 3..4 -> 2, 5..8 -> 3, ...
}

bool same_point(const float *a, const float *b) { return a[0] == b[0] && a[1] == b[1]; }

TEST(IvivTree, BaseFirstApexAndTheFirstThreeLevelsOfRatios) {
  IvivNode t[kIvivNodes];
  build_iviv_tree(t, 0.3f, 0.66, 1.0);
  const float left[2] = {-0.15f, 0}, mid[2] = {0, 0}, right[2] = {0.15f, 0};
  EXPECT_TRUE(same_point(t[0].base_a, left) && same_point(t[0].base_b, mid) && same_point(t[0].apex, left));
  EXPECT_TRUE(same_point(t[1].base_a, mid) && same_point(t[1].base_b, right) && same_point(t[1].apex, right));
  EXPECT_EQ(t[0].ratio, 1.0f);
  EXPECT_EQ(t[1].ratio, 2.0f);
  for (int j : {0, 1}) EXPECT_TRUE(t[j].node_a == -1 && t[j].node_b == -1) << j;
  // A quarter-turn clockwise from (-w/2, 0)->(w/2, 0), 0.66 w off.
  EXPECT_NEAR(t[2].apex[0], 0.0, 1e-7);
  EXPECT_NEAR(t[2].apex[1], -0.198, 1e-7);
  EXPECT_TRUE(t[2].node_a == 0 && t[2].node_b == 1);
  const double want[] = {1.5, 2.0, 2.25, 8.0 / 3, 3.0, 3.0, 3.375};
  for (int j = 2; j <= 8; ++j) EXPECT_NEAR(t[j].ratio, want[j - 2], 1e-6) << "node " << j;
  EXPECT_NEAR(t[256].ratio, pow(1.5, 8), 1e-4);  // fifths all the way: the last index
}

TEST(IvivTree, EveryNodeStandsOnItsNeighboursApexesAndIsAFourthOrFifthAboveItsParent) {
  IvivNode t[kIvivNodes];
  build_iviv_tree(t, 0.3f, 0.5, 0.8);
  int children[kIvivNodes] = {};
  for (int j = 2; j < kIvivNodes; ++j) {
    const IvivNode &node = t[j];
    ASSERT_GE(node.node_a, 0);
    ASSERT_LT(node.node_a, j);
    ASSERT_GE(node.node_b, 0);
    ASSERT_LT(node.node_b, j);
    EXPECT_TRUE(same_point(node.base_a, t[node.node_a].apex)) << j;
    EXPECT_TRUE(same_point(node.base_b, t[node.node_b].apex)) << j;
    // Height factor relh x hshrink^(L-1), on the clockwise side of base_a->base_b.
    const int level = level_of(j);
    const double px = node.base_a[0], py = node.base_a[1], qx = node.base_b[0], qy = node.base_b[1];
    const double d = std::hypot(qx - px, qy - py);
    const double mx = (px + qx) / 2, my = (py + qy) / 2;
    EXPECT_NEAR(std::hypot(node.apex[0] - mx, node.apex[1] - my) / d, 0.5 * pow(0.8, level - 1), 1e-4) << j;
    EXPECT_LT((qx - px) * (node.apex[1] - py) - (qy - py) * (node.apex[0] - px), 0) << j;
    if (level == 1) continue;
    // Exactly one neighbour is on the level above: the parent. A left child
    // (parent at base_b) is a fourth above it, a right child a fifth.
    const bool parent_b = level_of(node.node_b) == level - 1, parent_a = level_of(node.node_a) == level - 1;
    ASSERT_NE(parent_a, parent_b) << j;
    const int parent = parent_b ? node.node_b : node.node_a;
    ++children[parent];
    EXPECT_NEAR(node.ratio, t[parent].ratio * (parent_b ? 4.0 / 3 : 1.5), 1e-5 * node.ratio) << j;
  }
  for (int j = 2; j <= 128; ++j) EXPECT_EQ(children[j], 2) << j;
}

TEST(IvivTree, PreparingAnIvivSlotBuildsTheTreeFromTheManagersHeights) {
  install_display_graphs();
  install_harmonic_graphs();
  graphs_t &m = g_graphs;
  m.feed->sample_rate = 44100;
  m.relh = 0.5;
  m.hshrink = 1.0;
  DisplaySlot &s = m.slots[0];
  s.type = kGraphIviv;
  m.prepare_slot(0);
  ASSERT_EQ(s.type, kGraphIviv);
  ASSERT_NE(s.work, nullptr);
  EXPECT_EQ(s.work_type, kGraphIviv);
  const IvivNode *tree = static_cast<IvivState *>(s.work)->tree;
  EXPECT_NEAR(tree[2].apex[1], -0.15, 1e-7);
  EXPECT_EQ(s.tuning_bin, 5);
  // The next configuration rebuilds it.
  m.relh = 0.66;
  m.prepare_slot(0);
  tree = static_cast<IvivState *>(s.work)->tree;
  EXPECT_NEAR(tree[2].apex[1], -0.198, 1e-7);
  s.type = kGraphHide;
  m.prepare_slot(0);
  EXPECT_EQ(s.work, nullptr);
}

}  // namespace
