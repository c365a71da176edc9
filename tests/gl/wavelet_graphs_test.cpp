// What the wavelet graphs wlet and w2d emit, caught through GL feedback mode
// in a real context (Xvfb + Mesa).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display/analyser.h"
#include "display/graphs.h"
#include "display/wavelet_graphs.h"
#include "options/options.h"
#include "tests/gl/gl_capture.h"

using namespace glcap;

namespace {

class WaveletGraphs : public SlotTest {
 protected:
  void SetUp() override {
    SlotTest::SetUp();
    if (IsSkipped()) return;
    install_display_graphs();
  }
};

std::vector<Vertex> vertices(const Capture &c) { return triangle_vertices(c); }

// Level r, element k: 0.01 (k + 1) (r + 1).
void fill_levels(Analyser &a) {
  for (int r = 0; r < 9; ++r)
    for (int k = 0; k < 512; ++k) a.history[r * 512 + k] = 0.01 * (k + 1) * (r + 1);
}

TEST_F(WaveletGraphs, WletRingsSpanTwoOctavesFromItsBaseBin) {
  Analyser a(512, 9);
  fill_levels(a);
  slot.x = 0.5;
  slot.y = -0.5;
  slot.scale = 0.7;
  for (double bin : {10.7, 0.0, 64.0, 63.0, 100.0}) {
    slot.tuning_bin = bin;
    const int t = bin >= 1 && bin < 64 ? static_cast<int>(bin) : 64;
    Stacks before = stacks();
    Capture c = capture([&] { draw_wlet(g_graphs, 1, &a, slot, nullptr); });
    expect_same_stacks(before, stacks());
    ASSERT_EQ(c.triangles.size(), 8u * 2 * 3 * t) << bin;
    std::vector<Vertex> all = vertices(c);
    // Per level: bin t at angle 0, bin 2t half a turn on; green marks the level.
    for (int r = 1; r < 9; ++r) {
      double h = -8.0 / 9 + r * 2.0 / 9, green = (h + 1) / 2;
      for (int lower = 0; lower < 2; ++lower) {
        int row = r - lower;
        for (int j : {t, 2 * t}) {
          double v = 1 - exp(-0.7 * 0.01 * (j + 1) * (row + 1)), side = j == t ? 1 : -1;
          bool found = false;
          for (const Vertex &w : all)
            if (near(w, slot.x, h - lower * 2.0 / 9, slot.y + side * v) &&
                colour(w, v, green, 4 * (v - 0.5) * (v - 0.5)))
              found = true;
          EXPECT_TRUE(found) << "bin " << bin << " level " << r << " row " << row << " j " << j;
        }
      }
    }
  }
}

TEST_F(WaveletGraphs, WletLabelsItsLevelsAndTicksItsAxis) {
  Analyser a(512, 9);
  slot.x = -0.3;
  slot.y = 0.2;
  for (int detail : {0, 1}) {
    slot.wlet_detail = detail;
    Capture c = capture([&] { draw_wlet(g_graphs, 0, &a, slot, nullptr); });
    const char *letters = detail ? "0defghijk" : "rstuvwxyz";
    for (int k = 0; k < 9; ++k) {
      char text[2] = {letters[k], 0};
      std::vector<Line> want = text_lines([] {}, -0.3f - 0.13f, -1 + k * 2.0f / 9 + 0.05f, 0.2f, 0.04f, text);
      EXPECT_EQ(missing_lines(c.lines, want), 0) << text;
    }
    int ticks = 0;
    for (const Line &l : c.lines)
      if (std::fabs(l.p.y - l.q.y) < 1e-6 && std::fabs(std::min(l.p.x, l.q.x) - (slot.x - 0.11)) < 1e-4 &&
          std::fabs(std::max(l.p.x, l.q.x) - (slot.x - 0.01)) < 1e-4)
        ++ticks;
    EXPECT_EQ(ticks, 21);
  }
}

TEST_F(WaveletGraphs, WletInDetailModeFromTheFeedHasAFlatLowestRing) {
  graphs_t &m = g_graphs;
  DataFeed &f = *m.feed;
  m.slots[2].wlet_detail = 1;
  m.slots[2].type = kGraphWlet;
  m.slots[2].scale = 1;
  m.slots[2].x = -0.4;
  m.slots[2].y = 0.3;
  m.prepare_slot(2);
  ASSERT_EQ(m.analysers[2]->rows, 9);
  delete[] f.wavelet[2];
  f.wavelet[2] = new std::atomic<double>[kWaveletSize];
  for (int k = 0; k < kWaveletSize; ++k) f.wavelet[2][k] = 0;
  for (int k = 0; k < 700; ++k) f.push_wavelet(2, sin(k * 0.3) + 0.5 * sin(k * 0.05));
  analyse_slots(m);
  Capture c = capture([&] { draw_wlet(m, 2, m.analysers[2], m.slots[2], nullptr); });
  int lowest = 0, off_axis = 0;
  const double x = m.slots[2].x, y = m.slots[2].y;
  for (const Vertex &v : vertices(c)) {
    if (std::fabs(v.y + 8.0 / 9) < 1e-4) {
      ++lowest;
      EXPECT_TRUE(near(v, x, v.y, y)) << "row 0 of the details is zero";
    } else if (std::hypot(v.x - x, v.z - y) > 0.01) {
      ++off_axis;
    }
  }
  EXPECT_GT(lowest, 0);
  EXPECT_GT(off_axis, 100) << "the coarser levels show their spectra";
  m.slots[2].type = kGraphHide;
  m.release_work(2);
  g_options.release();
}

// v = 1 - exp(-m^2) of cell (r, c) is want(r, c).
double want(int r, int c) { return ((r * 256 + c) % 997 + 1) / 1000.0; }

TEST_F(WaveletGraphs, W2dDrawsSevenLevelsOfTheChosenQuadrant) {
  Analyser a(512, 256);
  ASSERT_TRUE(a.alloc_w2d());
  for (int r = 0; r < 256; ++r)
    for (int c = 0; c < 512; ++c) a.history[r * 512 + c] = std::sqrt(-std::log(1 - want(r, c % 256)));
  slot.x = -0.5;
  slot.y = 0.5;
  slot.tuning_bin = 5;
  // 5 and -2 have the low bits of 1 and 2.
  for (int quadrant : {0, 3, 1, 5, 2, -2}) {
    slot.quadrant = quadrant;
    Stacks before = stacks();
    Capture c = capture([&] { draw_w2d(g_graphs, 0, &a, slot, nullptr); });
    expect_same_stacks(before, stacks());
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    ASSERT_EQ(c.triangles.size(), 2u * 21844);
    const int r_base = quadrant & 1, c_base = (quadrant & 2) / 2;
    for (const Triangle &t : c.triangles) {
      ASSERT_NEAR(t.v[0].a, 0.2, 1e-3);
      double z = t.v[0].z;
      int level = static_cast<int>(lround(z / 0.01)), cells = 1 << level;
      ASSERT_NEAR(z, 0.01 * level, 1e-4);
      double cx = (t.v[0].x + t.v[1].x + t.v[2].x) / 3, cy = (t.v[0].y + t.v[1].y + t.v[2].y) / 3;
      int k = static_cast<int>(floor((cx - slot.x) * cells)), j = static_cast<int>(floor((cy - slot.y + 1) * cells / 2));
      ASSERT_TRUE(k >= 0 && k < cells && j >= 0 && j < cells);
      double v = want(r_base * cells + j, c_base * cells + k);
      ASSERT_TRUE(colour(t.v[0], v, v * v, 4 * (v - 0.5) * (v - 0.5))) << level << " " << j << " " << k;
    }
    // Finest level: one opaque stem per cell, standing 0.05 v in front of it.
    int stems = 0, axis = 0, yellow = 0;
    for (const Line &l : c.lines) {
      if (std::fabs(l.p.a - 1) < 1e-3 && std::fabs(l.p.x - l.q.x) < 1e-5 && std::fabs(l.p.y - l.q.y) < 1e-5 &&
          std::min(l.p.z, l.q.z) > 0.07) {
        double v = std::fabs(l.p.z - l.q.z) / 0.05;
        int k = static_cast<int>(floor((l.p.x - slot.x) * 128)), j = static_cast<int>(lround((l.p.y - slot.y + 1) * 64));
        ASSERT_NEAR(std::min(l.p.z, l.q.z), 0.071, 1e-4);
        ASSERT_NEAR(v, want(r_base * 128 + j, c_base * 128 + k), 1e-3);
        ++stems;
      } else if (std::fabs(l.p.z) < 1e-5 && std::fabs(l.q.z) < 1e-5) {
        if (colour(l.p, 1, 1, 0)) ++yellow;
        else if (std::max(l.p.y, l.q.y) < -1.04) ++axis;  // ticks and labels stay at depth 0 below
      }
    }
    EXPECT_EQ(stems, 16384);
    EXPECT_EQ(yellow, 4);
    EXPECT_GT(axis, 11);
  }
}

TEST_F(WaveletGraphs, W2dBeforeItsWorkBuffersDrawsNothing) {
  Analyser a(512, 256);
  Capture c = capture([&] { draw_w2d(g_graphs, 0, &a, slot, nullptr); });
  EXPECT_TRUE(c.lines.empty());
  EXPECT_TRUE(c.triangles.empty());
}

}  // namespace
