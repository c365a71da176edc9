// What the spiral display emits, caught through GL feedback mode in a real
// context (Xvfb + Mesa); and its beat option.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "display/analyser.h"
#include "display/graphs.h"
#include "harmonic/harmonic.h"
#include "options/options.h"
#include "tests/gl/gl_capture.h"

using namespace glcap;

namespace {

using Spiral = SlotTest;

std::vector<Vertex> vertices(const Capture &c) { return triangle_vertices(c); }

bool has_vertex(const std::vector<Vertex> &all, double x, double y, double z) {
  for (const Vertex &v : all)
    if (near(v, x, y, z)) return true;
  return false;
}

TEST_F(Spiral, OfSilenceRunsFromMinusOneAtRadiiFiveAndTenHundredths) {
  Analyser a(512, 256);
  slot.x = -1.5;
  slot.y = 0.5;
  slot.tuning_bin = 8.9;  // b0 = 8, N = 248
  const int N = 248;
  Stacks before = stacks();
  Capture c = capture([&] { kSpiralGraph.draw(g_graphs, 0, &a, slot, nullptr); });
  expect_same_stacks(before, stacks());
  ASSERT_EQ(c.triangles.size(), 2u * (N - 1));
  std::vector<Vertex> all = vertices(c);
  double low = 9, high = -9;
  for (const Vertex &v : all) {
    ASSERT_TRUE(colour(v, 0, 0, 0.5));
    double r = std::hypot(v.x - slot.x, v.z - slot.y);
    ASSERT_TRUE(std::fabs(r - 0.05) < 1e-4 || std::fabs(r - 0.1) < 1e-4) << r;
    low = std::min(low, v.y);
    high = std::max(high, v.y);
  }
  EXPECT_NEAR(low, -1, 1e-5);
  EXPECT_NEAR(high, -1 + 2.0 * (N - 1) / N, 1e-5);
  // Angle 0 at the tuning bin and again an octave up (bin 16, height -1 + 16/N).
  for (double w : {-1.0, -1 + 2.0 * 8 / N})
    for (double r : {0.05, 0.1}) EXPECT_TRUE(has_vertex(all, slot.x, w, slot.y + r)) << w << " " << r;
}

TEST_F(Spiral, FoldsRowsRoundItsBeatUpToTwiceTheBeat) {
  // Row r holds 1e-4 r^2 in the upper half (slot 1) and junk in the lower:
  // the sum of rows beat + k and beat - k then tells k.
  Analyser a(512, 256);
  for (int r = 0; r < 256; ++r)
    for (int j = 0; j < 256; ++j) {
      a.history[r * 512 + j] = 50;
      a.history[r * 512 + 256 + j] = 1e-4 * r * r;
    }
  slot.tuning_bin = 5;
  const int N = 251;
  for (int beat : {0, 126}) {
    slot.beat = beat;
    Capture c = capture([&] { kSpiralGraph.draw(g_graphs, 1, &a, slot, nullptr); });
    ASSERT_EQ(c.triangles.size(), 2u * (N - 1));
    // k per element, from the outer vertices' colour (bottom to top)
    std::vector<std::pair<double, int>> ks;
    for (const Vertex &v : vertices(c)) {
      if (std::hypot(v.x, v.z) < 0.07) continue;
      double m = -10 * std::log(1 - v.r);  // c = 1 - exp(-0.1 m)
      double k2 = (m / 1e-4 - 2.0 * beat * beat) / 2;
      int k = static_cast<int>(lround(std::sqrt(std::max(0.0, k2))));
      ASSERT_NEAR(k2, k * k, 0.3) << "rows beat + k and beat - k";
      ASSERT_NEAR(v.g, v.r * v.r, 1e-5);
      ks.push_back({v.y, k});
    }
    std::sort(ks.begin(), ks.end());
    int last = 0;
    for (auto &p : ks) {
      int e = static_cast<int>(lround((p.first + 1) * N / 2));
      ASSERT_GE(p.second, last) << "k climbs";
      ASSERT_LE(std::fabs(p.second - e * static_cast<double>(beat) / N), 1.0) << e;
      ASSERT_LE(beat + p.second, 252);
      last = p.second;
    }
    EXPECT_EQ(ks.front().second, 0);
    EXPECT_EQ(ks.back().second, beat == 0 ? 0 : 125);
  }
}

TEST_F(Spiral, WithoutAnOctaveToWindDrawsAnEmptyStrip) {
  Analyser a(512, 256);
  for (double bin : {256.0, 300.0, 0.0}) {
    slot.tuning_bin = bin;
    Stacks before = stacks();
    Capture c = capture([&] { kSpiralGraph.draw(g_graphs, 0, &a, slot, nullptr); });
    expect_same_stacks(before, stacks());
    EXPECT_TRUE(c.triangles.empty()) << bin;
    EXPECT_TRUE(c.lines.empty()) << bin;
  }
}

TEST(SpiralBeat, OutsideZeroTo126BecomesZeroWithItsMessage) {
  const char kMessage[] = "SPIRAL display's beat time  not acceptable (defaulting to ZERO)\n";
  for (const char *beat : {"126", "127", "-1", "0"}) {
    DisplaySlot s{};
    s.beat = atoi(beat);  // as the slot's options were read
    testing::internal::CaptureStdout();
    EXPECT_TRUE(kSpiralGraph.setup(g_graphs, 2, s, nullptr));
    std::string out = testing::internal::GetCapturedStdout();
    bool bad = atoi(beat) < 0 || atoi(beat) > 126;
    EXPECT_EQ(out, bad ? kMessage : "") << beat;
    EXPECT_EQ(s.beat, bad ? 0 : atoi(beat)) << beat;
  }
  g_options.release();
}

}  // namespace
