// What the spectrum graphs, the stroke text and the idle screen emit, caught
// through GL feedback mode in a real context (Xvfb + Mesa).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "display/analyser.h"
#include "display/graphs.h"
#include "display/spectrum_graphs.h"
#include "display/text.h"
#include "tests/gl/gl_capture.h"

using namespace glcap;

namespace {

constexpr double kTilt = 0.62831855 * M_PI / 180;

// glRotatef(a, 0, 1, 0) applied to a point.
void tilt(double &x, double &z) {
  double c = cos(kTilt), s = sin(kTilt);
  double nx = x * c + z * s, nz = -x * s + z * c;
  x = nx;
  z = nz;
}

class SpectrumGraphs : public SlotTest {
 protected:
  // Lower half of row r, element j: 0.01 j (r + 1); upper half 0.003 j (r + 2).
  void fill(Analyser &a) {
    for (int r = 0; r < a.rows; ++r)
      for (int j = 0; j < 256; ++j) {
        a.history[r * 512 + j] = 0.01 * j * (r + 1);
        a.history[r * 512 + 256 + j] = 0.003 * j * (r + 2);
      }
  }
  static double value(int slot_index, int r, int j) {
    return slot_index % 2 ? 0.003 * j * (r + 2) : 0.01 * j * (r + 1);
  }
};

bool is_white(const Vertex &v) { return colour(v, 1, 1, 1); }
bool is_yellow(const Vertex &v) { return colour(v, 1, 1, 0); }

int count_lines(const Capture &c, const std::function<bool(const Line &)> &pred) {
  int n = 0;
  for (const Line &l : c.lines)
    if (pred(l)) ++n;
  return n;
}

TEST_F(SpectrumGraphs, FftWaterfallStripsBasePlaneAxesAndLabels) {
  Analyser a(512, 4);
  fill(a);
  a.time_span = 2.0;
  slot.x = -1;
  slot.y = -1;
  slot.scale = 1.5;
  slot.tuning_bin = 5;
  const double x = slot.x, base = slot.y - 0.01;
  Stacks before = stacks();
  Capture c = capture([&] { draw_fft(g_graphs, 0, &a, slot, nullptr); });
  expect_same_stacks(before, stacks());

  // Base plane: two grey triangles covering x..x+1, -1..1.
  int grey = 0;
  std::map<int, int> per_strip;
  for (const Triangle &t : c.triangles) {
    if (colour(t.v[0], 0.5, 0.5, 0.5) && std::fabs(t.v[0].z - base) < 1e-4) {
      ++grey;
      for (const Vertex &v : t.v) {
        EXPECT_TRUE((near(v, x, -1, base) || near(v, x + 1, -1, base) || near(v, x + 1, 1, base) ||
                     near(v, x, 1, base)));
      }
      continue;
    }
    // Strip i spans -1 + (i-1)/2 .. -1 + i/2; its lower edge shows row i-1.
    double ymin = std::min({t.v[0].y, t.v[1].y, t.v[2].y});
    int i = static_cast<int>(lround((ymin + 1) / 0.5)) + 1;
    ASSERT_GE(i, 1);
    ASSERT_LE(i, 3);
    ++per_strip[i];
    for (const Vertex &v : t.v) {
      int j = static_cast<int>(lround((v.x - x) * 256));
      ASSERT_NEAR(v.x, x + j / 256.0, 1e-4);
      bool lower = std::fabs(v.y - ymin) < 1e-4;
      ASSERT_NEAR(v.y, lower ? ymin : ymin + 0.5, 1e-4);
      int row = lower ? i - 1 : i;
      double m = value(0, row, j), amp = 1 - exp(-1.5 * m);
      ASSERT_NEAR(v.z, slot.y + amp, 2e-4) << "row " << row << " bin " << j;
      ASSERT_TRUE(colour(v, amp, amp * amp, 4 * (amp - 0.5) * (amp - 0.5))) << row << " " << j;
    }
  }
  EXPECT_EQ(grey, 2);
  ASSERT_EQ(per_strip.size(), 3u);
  for (auto &p : per_strip) EXPECT_EQ(p.second, 2 * (256 - 1)) << "strip " << p.first;

  // 11 frequency ticks at x + 0.1 k.
  std::set<int> ticks;
  for (const Line &l : c.lines)
    if (is_white(l.p) && std::fabs(l.p.x - l.q.x) < 1e-4 &&
        ((near(l.p, l.p.x, -1.05, base) && near(l.q, l.q.x, -1.1, base)) ||
         (near(l.q, l.q.x, -1.05, base) && near(l.p, l.p.x, -1.1, base))))
      ticks.insert(static_cast<int>(lround((l.p.x - x) * 10)));
  EXPECT_EQ(ticks.size(), 11u);
  EXPECT_EQ(*ticks.begin(), 0);
  EXPECT_EQ(*ticks.rbegin(), 10);

  // Octave marker: yellow loop of eight vertices at the tuning bin and twice it.
  const double h = x + 5 / 256.0, k = x + 10 / 256.0;
  std::vector<Line> loop = {
      {{h, 1.04, base}, {h, -1.04, base}},       {{h, -1.04, base}, {h, -1.04, slot.y + 1}},
      {{h, -1.04, slot.y + 1}, {h, 1.04, slot.y + 1}}, {{h, 1.04, slot.y + 1}, {k, 1.04, base}},
      {{k, 1.04, base}, {k, -1.04, base}},       {{k, -1.04, base}, {k, -1.04, slot.y + 1}},
      {{k, -1.04, slot.y + 1}, {k, 1.04, slot.y + 1}}, {{k, 1.04, slot.y + 1}, {h, 1.04, base}},
  };
  std::vector<Line> yellow;
  for (const Line &l : c.lines)
    if (is_yellow(l.p)) yellow.push_back(l);
  EXPECT_EQ(yellow.size(), 8u);
  EXPECT_EQ(missing_lines(yellow, loop), 0);

  // Time axis: 21 ticks left of the graph, the last just below 1.
  int time_ticks = count_lines(c, [&](const Line &l) {
    return is_white(l.p) && std::fabs(l.p.y - l.q.y) < 1e-5 &&
           ((std::fabs(l.p.x - (x - 0.01)) < 1e-4 && std::fabs(l.q.x - (x - 0.11)) < 1e-4) ||
            (std::fabs(l.q.x - (x - 0.01)) < 1e-4 && std::fabs(l.p.x - (x - 0.11)) < 1e-4));
  });
  EXPECT_EQ(time_ticks, 21);

  // Labels: seconds and Hz, drawn here with the font directly.
  auto none = [] {};
  for (int i = 0; i < 10; ++i) {
    char text[32];
    snprintf(text, sizeof text, "%5.1fs", i * 0.1 * 2.0);
    EXPECT_EQ(missing_lines(c.lines, text_lines(none, x - 0.13, -1 + 0.2 * i - 0.02, base, 0.02f, text)), 0)
        << text;
  }
  const char *hz[] = {"  0.0", "4410.0", "8820.0", "13230.0", "17640.0"};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(missing_lines(c.lines, text_lines(none, x + 0.2 * i - 0.01, -1.13f, base, 0.02f, hz[i])), 0) << hz[i];
}

TEST_F(SpectrumGraphs, FftWithoutTimeSpanOrTuningBinDrawsNeitherAxisNorMarker) {
  Analyser a(512, 3);
  fill(a);
  slot.x = 0.5;
  slot.y = 0;
  a.time_span = 0;
  slot.tuning_bin = 0;
  Capture c = capture([&] { draw_fft(g_graphs, 0, &a, slot, nullptr); });
  EXPECT_EQ(count_lines(c, [](const Line &l) { return is_yellow(l.p); }), 0);
  EXPECT_EQ(count_lines(c, [&](const Line &l) { return std::fabs(std::max(l.p.x, l.q.x) - (slot.x - 0.01)) < 1e-4; }),
            0);
  // Only the frequency axis: 11 ticks and the five labels.
  std::vector<Line> labels;
  for (int i = 0; i < 5; ++i) {
    char text[32];
    snprintf(text, sizeof text, "%5.1f", i * 0.2 * 22050);
    std::vector<Line> t = text_lines([] {}, slot.x + 0.2 * i - 0.01, -1.13f, -0.01f, 0.02f, text);
    labels.insert(labels.end(), t.begin(), t.end());
  }
  EXPECT_EQ(c.lines.size(), 11 + labels.size());
  EXPECT_EQ(c.triangles.size(), 2u + 2 * 2 * 255);
}

TEST_F(SpectrumGraphs, FftOfAnOddSlotReadsTheUpperHalfRow) {
  Analyser a(512, 2);
  fill(a);
  slot.x = 0;
  slot.y = 0;
  Capture c = capture([&] { draw_fft(g_graphs, 1, &a, slot, nullptr); });
  int checked = 0;
  for (const Triangle &t : c.triangles) {
    if (colour(t.v[0], 0.5, 0.5, 0.5)) continue;
    for (const Vertex &v : t.v) {
      int j = static_cast<int>(lround(v.x * 256));
      int row = v.y > -0.5 ? 1 : 0;
      ASSERT_NEAR(v.z, 1 - exp(-value(1, row, j)), 2e-4);
      ++checked;
    }
  }
  EXPECT_EQ(checked, 3 * 2 * 255);
}

// Spokes and labels of the circle graphs, in the frame `frame` sets up.
void check_spokes(const Capture &c, double x, double y, const std::function<void()> &frame,
                  const std::function<void(double &, double &, double &)> &map, float label_y, float size) {
  std::vector<Line> want;
  auto add = [&](double ax, double ay, double az, double bx, double by, double bz) {
    map(ax, ay, az);
    map(bx, by, bz);
    want.push_back({{ax, ay, az}, {bx, by, bz}});
  };
  add(x, -1, y, x, 1, y);
  for (int k = 0; k < 12; ++k) {
    double theta = (pow(2.0, k / 12.0) - 1) * 2 * M_PI;
    double px = x + 0.3 * sin(theta), pz = y + 0.3 * cos(theta);
    add(x, -1, y, px, -1, pz);
    add(px, -1, pz, px, 1, pz);
    add(px, 1, pz, x, 1, y);
    add(x, 1, y, x, -1, y);
    const char *label = k == 0 ? "T" : k == 5 ? "IV" : k == 7 ? "V" : nullptr;
    if (!label) continue;
    std::vector<Line> text = text_lines(
        [&] {
          frame();
          glTranslated(px, label_y, pz);
          glRotatef(90, 1, 0, 0);
        },
        0, 0, 0, size, label);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(missing_lines(c.lines, text), 0) << label;
    for (const Line &t : text) {
      for (const Line &l : c.lines)
        if (same_line(l, t)) {
          EXPECT_TRUE(is_yellow(l.p)) << label;
          break;
        }
    }
  }
  EXPECT_EQ(missing_lines(c.lines, want), 0);
}

TEST_F(SpectrumGraphs, C5RingsAreTiltedAndCloseOnTheirFirstValue) {
  Analyser a(512, 4);
  fill(a);
  a.time_span = 1.0;
  slot.x = 0.5;
  slot.y = 0.2;
  slot.scale = 2;
  slot.tuning_bin = 5.7;  // o = 5, e = 10
  const double x = slot.x, y = slot.y;
  Stacks before = stacks();
  Capture c = capture([&] { draw_c5(g_graphs, 0, &a, slot, nullptr); });
  expect_same_stacks(before, stacks());

  auto map = [](double &px, double &, double &pz) { tilt(px, pz); };
  check_spokes(c, x, y, [] { glRotatef(0.62831855f, 0, 1, 0); }, map, -1.1f, 0.05f);

  // Strips j = 1..3 of 6 vertex pairs: 10 triangles each, at the heights
  // -1 + j/2 and -1 + (j+1)/2.
  const int o = 5, e = 10;
  const double s = 2 * M_PI / o;
  std::map<int, std::vector<Vertex>> strips;
  for (const Triangle &t : c.triangles) {
    double ymin = std::min({t.v[0].y, t.v[1].y, t.v[2].y});
    int j = static_cast<int>(lround((ymin + 1) / 0.5));
    for (const Vertex &v : t.v) strips[j].push_back(v);
  }
  ASSERT_EQ(strips.size(), 3u);
  for (auto &st : strips) {
    int j = st.first;
    ASSERT_GE(j, 1);
    ASSERT_LE(j, 3);
    EXPECT_EQ(st.second.size(), 3u * 2 * (e - o));
    double yl = -1 + j * 0.5;
    // every expected vertex is there with its heat colour
    for (int i = o; i <= e; ++i) {
      int k = i == e ? o : i;
      double phi = (i - o) * s;
      for (int upper = 0; upper < 2; ++upper) {
        double m = value(0, j - 1 + upper, k), v = 1 - exp(-0.2 * 2 * m);
        double px = x + v * sin(phi), py = yl + upper * 0.5, pz = y + v * cos(phi);
        tilt(px, pz);
        bool found = false;
        for (const Vertex &w : st.second)
          if (near(w, px, py, pz) && colour(w, v, v * v, 4 * (v - 0.5) * (v - 0.5))) found = true;
        EXPECT_TRUE(found) << "strip " << j << " bin " << i << " upper " << upper;
      }
    }
  }
  // The time axis lies in the tilted frame at depth y.
  double tx0 = x - 0.01, tz0 = y, tx1 = x - 0.11, tz1 = y;
  tilt(tx0, tz0);
  tilt(tx1, tz1);
  std::vector<Line> axis;
  for (double yy = -1; yy < 1; yy += 0.1) axis.push_back({{tx0, yy, tz0}, {tx1, yy, tz1}});
  EXPECT_EQ(axis.size(), 21u);
  EXPECT_EQ(missing_lines(c.lines, axis), 0);
}

TEST_F(SpectrumGraphs, C5RingWithATuningBinAboveAQuarterStopsAtHalfWithoutClosing) {
  Analyser a(512, 2);
  fill(a);
  slot.x = 0;
  slot.y = 0;
  slot.tuning_bin = 200;  // e = 256, 57 pairs
  Capture c = capture([&] { draw_c5(g_graphs, 0, &a, slot, nullptr); });
  ASSERT_EQ(c.triangles.size(), 2u * 56);
  // first and last pair: the ring's end is at (256 - 200) steps of 2 pi / 200
  double v0 = 1 - exp(-0.2 * value(0, 0, 200));
  double phi_end = 56 * 2 * M_PI / 200;
  double fx = v0 * sin(0.0), fz = v0 * cos(0.0), lx = v0 * sin(phi_end), lz = v0 * cos(phi_end);
  tilt(fx, fz);
  tilt(lx, lz);
  bool first = false, last = false;
  for (const Triangle &t : c.triangles)
    for (const Vertex &v : t.v) {
      if (near(v, fx, -1 + 1.0, fz)) first = true;
      if (near(v, lx, -1 + 1.0, lz)) last = true;
    }
  EXPECT_TRUE(first);
  EXPECT_TRUE(last);
  EXPECT_GT(std::hypot(fx - lx, fz - lz), 0.1);
}

TEST_F(SpectrumGraphs, C5AndC5cWithoutTuningBinDrawNoStrips) {
  Analyser a(512, 3);
  fill(a);
  slot.tuning_bin = 0.5;
  Capture c = capture([&] { draw_c5(g_graphs, 0, &a, slot, nullptr); });
  EXPECT_TRUE(c.triangles.empty());
  EXPECT_EQ(c.lines.size() > 49, true);  // the spokes and labels still show
  Capture d = capture([&] { draw_c5c(g_graphs, 0, &a, slot, nullptr); });
  EXPECT_TRUE(d.triangles.empty());
}

TEST_F(SpectrumGraphs, C5cSpiralTurnsOncePerOctaveWithRadiusATenthOfTheAngle) {
  Analyser a(512, 3);
  fill(a);
  a.time_span = 3;
  slot.x = 0.4;
  slot.y = -0.2;
  slot.tuning_bin = 8;
  const double x = slot.x, y = slot.y;
  const int o = 8;
  Stacks before = stacks();
  Capture c = capture([&] { draw_c5c(g_graphs, 0, &a, slot, nullptr); });
  expect_same_stacks(before, stacks());

  auto map = [](double &px, double &py, double &pz) {
    tilt(px, pz);
    px *= 0.5;
    py *= 0.5;
    pz *= 0.5;
  };
  check_spokes(
      c, x, y,
      [] {
        glScalef(0.5f, 0.5f, 0.5f);
        glRotatef(0.62831855f, 0, 1, 0);
      },
      map, -1.2f, 0.1f);

  ASSERT_EQ(c.triangles.size(), 2u * 2 * (256 - o - 1));
  std::vector<Vertex> all;
  for (const Triangle &t : c.triangles)
    for (const Vertex &v : t.v) all.push_back(v);
  // Bins o, 2o, 4o (octaves) lie on the spoke of the tonic at radius 0.1 x 2 pi x octave.
  for (int i = 1; i <= 2; ++i) {
    double yl = -1 + i * (2.0 / 3);
    for (int j : {o, 2 * o, 4 * o, 3 * o, 255}) {
      double theta = 2 * M_PI * log(static_cast<double>(j) / o) / log(2.0), rho = 0.1 * theta;
      double blue = 1 - (j - o) / 256.0;
      for (int upper = 0; upper < 2; ++upper) {
        double m = value(0, i - 1 + upper, j), v = 1 - exp(-0.2 * m);
        double px = x + rho * sin(theta), py = yl + upper * (2.0 / 3), pz = y + rho * cos(theta);
        map(px, py, pz);
        bool found = false;
        for (const Vertex &w : all)
          if (near(w, px, py, pz) && colour(w, v, v * v, blue)) found = true;
        EXPECT_TRUE(found) << "row " << i << " bin " << j << " upper " << upper;
      }
    }
  }
}

class StrokeText : public SpectrumGraphs {};

TEST_F(StrokeText, EmptyTextDrawsNothingAndKeepsTheStacks) {
  Stacks before = stacks();
  Capture c = capture([] { stroke_text(0.1f, 0.2f, 0.3f, 1, "%s", ""); });
  expect_same_stacks(before, stacks());
  EXPECT_TRUE(c.lines.empty());
  EXPECT_TRUE(c.triangles.empty());
}

TEST_F(StrokeText, FormatsAndPlacesTheTextAtItsBaseline) {
  Stacks before = stacks();
  Capture c = capture([] { stroke_text(-0.5f, 0.25f, 0.1f, 0.3f, "%d Hz %s", 440, "tuna"); });
  expect_same_stacks(before, stacks());
  std::vector<Line> want = text_lines([] {}, -0.5f, 0.25f, 0.1f, 0.3f, "440 Hz tuna");
  EXPECT_EQ(c.lines.size(), want.size());
  EXPECT_EQ(missing_lines(c.lines, want), 0);
  // size 1 is about one scene unit: 0.3 gives capitals about 0.3 x 119/152 tall
  double top = -1e9, bottom = 1e9;
  for (const Line &l : c.lines) {
    top = std::max({top, l.p.y, l.q.y});
    bottom = std::min({bottom, l.p.y, l.q.y});
  }
  EXPECT_NEAR(bottom, 0.25, 0.01);
  EXPECT_GT(top - bottom, 0.18);
  EXPECT_LT(top - bottom, 0.32);
}

TEST_F(StrokeText, LongResultIsCutAt255Characters) {
  std::string long_text(300, 'W');
  Capture c = capture([&] { stroke_text(-3.9f, 0, 0, 0.01f, "%s", long_text.c_str()); });
  std::vector<Line> want = text_lines([] {}, -3.9f, 0, 0, 0.01f, std::string(255, 'W').c_str());
  EXPECT_EQ(c.lines.size(), want.size());
  EXPECT_EQ(missing_lines(c.lines, want), 0);
}

TEST_F(StrokeText, IdleScreenShowsItsThreeTextsInWhiteAndYellow) {
  Stacks before = stacks();
  Capture c = capture([] { draw_idle_screen(g_graphs); });
  expect_same_stacks(before, stacks());
  std::vector<Line> a = text_lines([] {}, -1, -1, 0, 0.1f, "waiting for your input ...");
  std::vector<Line> b = text_lines([] {}, -1, 0.5f, 0, 0.09f, "KALDRO - Audio Transformation");
  std::vector<Line> y = text_lines([] {}, -1, 0, 0, 0.4f, "* YELM *");
  EXPECT_EQ(c.lines.size(), a.size() + b.size() + y.size());
  EXPECT_EQ(missing_lines(c.lines, a), 0);
  EXPECT_EQ(missing_lines(c.lines, b), 0);
  EXPECT_EQ(missing_lines(c.lines, y), 0);
  // Emitted in order: the white texts first, then the yellow title.
  ASSERT_EQ(c.lines.size(), a.size() + b.size() + y.size());
  for (size_t i = 0; i < c.lines.size(); ++i) {
    if (i < a.size() + b.size()) EXPECT_TRUE(is_white(c.lines[i].p)) << i;
    else EXPECT_TRUE(is_yellow(c.lines[i].p)) << i;
  }
}

}  // namespace
