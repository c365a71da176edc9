// What the origami display emits, caught through GL feedback mode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "display/analyser.h"
#include "display/graphs.h"
#include "harmonic/origami.h"
#include "tests/gl/gl_capture.h"

using namespace glcap;

namespace {

class Origami : public SlotTest {
 protected:
  void SetUp() override {
    SlotTest::SetUp();
    if (IsSkipped()) return;
    slot.tuning_bin = 5;
  }
  Capture draw(Analyser &a, int slot_index = 0) {
    return capture([&] { draw_origami(g_graphs, slot_index, &a, slot, nullptr); });
  }
  static bool grey(const Line &l) { return colour(l.p, 0.5, 0.5, 0.5) && colour(l.q, 0.5, 0.5, 0.5); }
  static bool dark(const Triangle &t) { return colour(t.v[0], 0, 0, 0.5); }
};

TEST_F(Origami, SilenceLaysTheFlapsFlatAndDark) {
  Analyser a(512, 4);
  slot.x = 0.5;
  slot.y = -1;
  Stacks before = stacks();
  Capture c = draw(a);
  expect_same_stacks(before, stacks());
  ASSERT_EQ(c.lines.size(), 3u);
  ASSERT_EQ(c.triangles.size(), 2u);
  for (const Line &l : c.lines) EXPECT_TRUE(grey(l));
  // Edge A-B, creases from M to M -+ k along y, k = |B - A| / sqrt 2.
  const double k = 2 * 0.70710677, x = slot.x, z = slot.y;
  const std::vector<Line> want = {
      {{x - 1, 0, z}, {x + 1, 0, z}}, {{x, 0, z}, {x, k, z}}, {{x, 0, z}, {x, -k, z}}};
  EXPECT_EQ(missing_lines(c.lines, want), 0);
  int flat = 0;
  for (const Triangle &t : c.triangles) {
    EXPECT_TRUE(dark(t));
    for (const Vertex &v : t.v) EXPECT_NEAR(v.z, z, 1e-4);  // theta 0: nothing sinks
    for (const Vertex &v : t.v)
      if (near(v, x, k, z) || near(v, x, -k, z)) ++flat;
  }
  EXPECT_EQ(flat, 2);
}

TEST_F(Origami, DepthGivesTwoToTheLMinusOneFolds) {
  Analyser a(512, 4);
  for (int depth : {0, 1, 2, 5, 9}) {
    slot.o_depth = depth;
    Capture c = draw(a);
    const size_t folds = depth <= 1 ? 1 : (size_t(1) << depth) - 1;
    EXPECT_EQ(c.lines.size(), 3 * folds) << depth;
    EXPECT_EQ(c.triangles.size(), 2 * folds) << depth;
  }
}

TEST_F(Origami, TheFoldAngleAndColoursFollowTheSpectrum) {
  Analyser a(512, 4);
  double *row = a.history;
  // Note alone (bin 5): theta = 1.046 tanh(1/2), the flaps sink by k sin theta
  // toward -z (phi = 0) and spread by k cos theta.
  row[5] = 1;
  Capture c = draw(a);
  const double theta = -1.046150353645401 * tanh(-0.5), k = 2 * 0.70710677;
  const std::vector<Line> creases = {{{0, 0, 0}, {0, k * cos(theta), -k * sin(theta)}},
                                     {{0, 0, 0}, {0, -k * cos(theta), -k * sin(theta)}}};
  EXPECT_EQ(missing_lines(c.lines, creases), 0);
  // Fourth (bin 6) and fifth (bin 7) colour their own flaps.
  row[5] = 0;
  row[6] = 0.2;
  row[7] = 0.4;
  slot.scale = 0.5;
  c = draw(a);
  ASSERT_EQ(c.triangles.size(), 2u);
  int fourth = 0, fifth = 0;
  for (const Triangle &t : c.triangles) {
    if (colour(t.v[0], 0.2, 0.02, 2 * 0.16)) ++fourth;  // c4 = 0.1
    if (colour(t.v[0], 0.4, 0.08, 2 * 0.09)) ++fifth;   // c5 = 0.2
  }
  EXPECT_EQ(fourth, 1);
  EXPECT_EQ(fifth, 1);
  // The odd slot reads the upper half of the row.
  memset(row, 0, 512 * sizeof(double));
  row[256 + 7] = 0.4;
  c = capture([&] { draw_origami(g_graphs, 1, &a, slot, nullptr); });
  EXPECT_TRUE(colour(c.triangles[0].v[0], 0.4, 0.08, 0.18) || colour(c.triangles[1].v[0], 0.4, 0.08, 0.18));
}

TEST_F(Origami, DeepestFifthStaysInsideTheSpectrumAndBinsBeyondCountAsZero) {
  Analyser a(512, 4);
  // At depth 9 the all-fifths fold reaches ratio 1.5^8: its fifth is bin
  // floor(5 x 25.6 x 1.5) = 192, the only fold that reads it.
  a.history[192] = 0.25;
  slot.o_depth = 9;
  Capture c = draw(a);
  int lit = 0;
  for (const Triangle &t : c.triangles)
    if (!dark(t)) {
      ++lit;
      EXPECT_TRUE(colour(t.v[0], 0.5, 0.125, 2 * 0.0625));
    }
  EXPECT_EQ(lit, 1);
  slot.o_depth = 8;
  c = draw(a);
  for (const Triangle &t : c.triangles) EXPECT_TRUE(dark(t));

  // Tuning bin 200: the fourth (266) and fifth (300) are past the 256 bins,
  // so with every bin at 1 both flaps stay dark and only the note folds.
  for (int j = 0; j < 512; ++j) a.history[j] = 1;
  slot.o_depth = 1;
  slot.tuning_bin = 200;
  c = draw(a);
  ASSERT_EQ(c.triangles.size(), 2u);
  for (const Triangle &t : c.triangles) EXPECT_TRUE(dark(t));
  const double theta = -1.046150353645401 * tanh(-0.5), k = 2 * 0.70710677;
  const std::vector<Line> crease = {{{0, 0, 0}, {0, k * cos(theta), -k * sin(theta)}}};
  EXPECT_EQ(missing_lines(c.lines, crease), 0);
}

}  // namespace
