// What the iviv display emits, caught through GL feedback mode in a real
// context (Xvfb + Mesa): its time axis and the walls of the lit tree sides.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "display/analyser.h"
#include "display/graphs.h"
#include "harmonic/harmonic.h"
#include "harmonic/iviv.h"
#include "tests/gl/gl_capture.h"

using namespace glcap;

namespace {

constexpr double kLoud = 1e6;  // 1 - e^(-v) is exactly 1

class Iviv : public SlotTest {
 protected:
  void SetUp() override {
    SlotTest::SetUp();
    if (IsSkipped()) return;
    build_iviv_tree(state.tree, 0.3f, 0.66, 1.0);
    slot.tuning_bin = 5;
    slot.work = &state;
  }
  Capture draw(Analyser &a, int slot_index = 0) {
    return capture([&] { draw_iviv(g_graphs, slot_index, &a, slot, nullptr); });
  }
  // Sets bin k of the lower half in every row.
  static void loud(Analyser &a, int k, double v = kLoud) {
    for (int r = 0; r < a.rows; ++r) a.history[r * 512 + k] = v;
  }
  IvivState state;
};

// The walls drawn, as triangles (two per quad).
int walls(const Capture &c) { return static_cast<int>(c.triangles.size()); }

TEST_F(Iviv, TheTimeAxisHasTicksAndLabelsOnlyOnceFramesSpanTime) {
  Analyser a(512, 256);
  slot.x = -1;
  slot.y = 0.5;
  Stacks before = stacks();
  Capture c = draw(a);  // D = 0: the axis line alone
  expect_same_stacks(before, stacks());
  ASSERT_EQ(c.lines.size(), 1u);
  EXPECT_TRUE(colour(c.lines[0].p, 1, 1, 1));
  EXPECT_TRUE(same_line(c.lines[0], {{-1, -1, 0.5}, {-1, 1, 0.5}}));
  EXPECT_TRUE(c.triangles.empty());

  a.time_span = 3.0;
  c = draw(a);
  std::vector<Line> want;
  for (double t = -1; t < 1; t += 0.1) want.push_back({{-1.01, t, 0.5}, {-1.11, t, 0.5}});
  ASSERT_EQ(want.size(), 21u);
  for (int i = 0; i < 10; ++i) {
    char text[32];
    snprintf(text, sizeof text, "%5.1fs", i * 0.3);
    std::vector<Line> t = text_lines([] {}, -1.13f, static_cast<float>(-1 + 0.2 * i - 0.02), 0.5f, 0.02f, text);
    want.insert(want.end(), t.begin(), t.end());
  }
  EXPECT_EQ(missing_lines(c.lines, want), 0);
  EXPECT_EQ(c.lines.size(), 1 + want.size());
}

TEST_F(Iviv, FirstApexWallStandsAtDepthPlus0198AndRisesRowByRow) {
  // Bins 5 (node 0, ratio 1) and 7 (node 2, ratio 1.5) light node 2's side A
  // alone; its side B needs bin 10.
  Analyser a(512, 4);
  loud(a, 5, 2.0);
  loud(a, 7);
  slot.x = 0.25;
  slot.y = 0.1;
  Stacks before = stacks();
  Capture c = draw(a);
  expect_same_stacks(before, stacks());
  ASSERT_EQ(walls(c), 2 * 3);  // rows 1..3; row 0 is only the partner of row 1
  const double v = 1 - exp(-2.0), cA = v * v;
  const double step = 0.5;
  for (int i = 1; i <= 3; ++i) {
    const double low = -1 + i * step, high = low + step;
    // base_a (-0.15, 0) and the apex (0, -0.198), plane y drawn as -z.
    const double corners[4][3] = {
        {0.25 - 0.15, low, 0.1}, {0.25, low, 0.1 + 0.198}, {0.25, high, 0.1 + 0.198}, {0.25 - 0.15, high, 0.1}};
    for (const auto &p : corners) {
      bool found = false;
      for (const Triangle &t : c.triangles)
        for (const Vertex &w : t.v)
          if (near(w, p[0], p[1], p[2]) && colour(w, cA, cA * cA, 4 * (cA - 0.5) * (cA - 0.5))) found = true;
      EXPECT_TRUE(found) << "row " << i << " corner " << p[0] << "," << p[1] << "," << p[2];
    }
  }
  // The odd slot reads the upper half of each row: nothing there yet.
  EXPECT_EQ(walls(draw(a, 1)), 0);
  for (int r = 0; r < a.rows; ++r) a.history[r * 512 + 256 + 5] = a.history[r * 512 + 256 + 7] = kLoud;
  EXPECT_EQ(walls(draw(a, 1)), 2 * 3);
}

TEST_F(Iviv, ASideLightsOnlyWhereBothNotesSoundInTwoConsecutiveRows) {
  // Both notes in rows 2 and 3, one of them alone in row 5: only row 3's band.
  Analyser a(512, 6);
  for (int r : {2, 3}) a.history[r * 512 + 5] = a.history[r * 512 + 7] = kLoud;
  a.history[5 * 512 + 7] = kLoud;
  Capture c = draw(a);
  ASSERT_EQ(walls(c), 2);
  for (const Triangle &t : c.triangles)
    for (const Vertex &w : t.v) {
      EXPECT_TRUE(std::fabs(w.y - 0) < 1e-6 || std::fabs(w.y - 1.0 / 3) < 1e-6) << w.y;
    }
}

TEST_F(Iviv, AtTheDefaultTuningBins5To128LightEverySide) {
  Analyser a(512, 3);
  for (int k = 5; k <= 128; ++k) loud(a, k);
  EXPECT_EQ(walls(draw(a)), 255 * 2 * 2 * 2);
  // Bin 128 is the deepest fifth's alone (a leaf: two sides).
  loud(a, 128, 0);
  EXPECT_EQ(walls(draw(a)), (255 * 2 - 2) * 2 * 2);
}

TEST_F(Iviv, ASideWhosePartnerBinIsOutsideTheSpectrumIsSkippedAlone) {
  // Tuning bin 128: node 0 at 128 and node 2 at 192 inside, node 1 (and every
  // node from ratio 2 up) at 256 or more.
  Analyser a(512, 2);
  for (int k = 0; k < 256; ++k) loud(a, k);
  slot.tuning_bin = 128;
  Capture c = draw(a);
  ASSERT_EQ(walls(c), 2);
  for (const Triangle &t : c.triangles)
    for (const Vertex &w : t.v) EXPECT_TRUE(w.x < 1e-6 && w.x > -0.15 - 1e-6) << w.x;  // side A: x from -0.15 to 0
}

// Magnitudes of bin 5 in rows 1 and 0 whose terms multiply to exactly `target`.
bool magnitudes_for(double target, double *row1, double *row0) {
  double v = -log(1 - sqrt(target));
  for (int i = 0; i < 4000; ++i, v = nextafter(v, 1.0)) {
    const double t1 = 1 - exp(-v);
    double u = -log(1 - target / t1);
    for (int k = 0; k < 8; ++k) u = nextafter(u, 0.0);
    for (int k = 0; k < 16; ++k, u = nextafter(u, 1.0))
      if (t1 * (1 - exp(-u)) == target) {
        *row1 = v;
        *row0 = u;
        return true;
      }
  }
  return false;
}

TEST_F(Iviv, ASideOfIntensityExactlyATenthIsNotDrawn) {
  // Bin 7 (node 2) is loud in both rows, so c0 is 1 and the side's intensity
  // is the product of bin 5's two terms.
  Analyser a(512, 2);
  loud(a, 7);
  double row1 = 0, row0 = 0;
  ASSERT_TRUE(magnitudes_for(0.1, &row1, &row0));
  a.history[512 + 5] = row1;
  a.history[5] = row0;
  EXPECT_EQ(walls(draw(a)), 0);
  // The next products up are drawn.
  while ((1 - exp(-row1)) * (1 - exp(-row0)) <= 0.1) row0 = nextafter(row0, 1.0);
  ASSERT_LT((1 - exp(-row1)) * (1 - exp(-row0)), 0.1 + 1e-15);
  a.history[5] = row0;
  EXPECT_EQ(walls(draw(a)), 2);
}

}  // namespace
