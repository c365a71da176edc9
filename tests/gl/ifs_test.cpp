// What the ifs display emits, caught through GL feedback mode: the octants,
// the picked triangle's collar, the detail view and the node updates.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "display/analyser.h"
#include "display/graphs.h"
#include "display/viewport.h"
#include "harmonic/harmonic.h"
#include "harmonic/ifs.h"
#include "options/options.h"
#include "tests/gl/gl_capture.h"

using namespace glcap;

namespace {

// The read-out of the view is all the display looks at: a matrix that reads
// back as these angles and scale.
void set_view(double altitude, double azimuth, double scale) {
  const double r = M_PI / 180, b = (180 - azimuth) * r;
  double *m = g_viewport.modelview;
  memset(m, 0, 16 * sizeof(double));
  m[0] = -scale * sin(b);
  m[4] = scale * cos(b);
  m[9] = cos(altitude * r);
  m[10] = sin(altitude * r);
  m[15] = 1;
}

bool grey(const Triangle &t) { return colour(t.v[0], 0.2, 0.2, 0.2); }
bool white(const Triangle &t) { return colour(t.v[0], 1, 1, 1); }

class Ifs : public SlotTest {
 protected:
  void SetUp() override {
    SlotTest::SetUp();
    if (IsSkipped()) return;
    DisplaySlot &s = make_slot0(kGraphIfs);
    ASSERT_NE(s.work, nullptr);
    ASSERT_EQ(s.tuning_bin, 5);
    a = g_graphs.analysers[0];
    memset(a->history, 0, sizeof(double) * 512 * 256);
    state = static_cast<IfsState *>(s.work);
    set_view(90, 270, 0.9);  // the start-up view
  }
  void TearDown() override {
    g_graphs.release_work(0);
    g_graphs.slots[0] = DisplaySlot{};
    memset(g_viewport.modelview, 0, sizeof g_viewport.modelview);
  }
  Capture draw() {
    return capture([&] { draw_ifs(g_graphs, 0, a, g_graphs.slots[0], nullptr); });
  }
  DisplaySlot &slot() { return g_graphs.slots[0]; }
  Analyser *a = nullptr;
  IfsState *state = nullptr;
};

TEST_F(Ifs, FarOutDrawsFilledOctantsAndCollarsThePick) {
  Stacks before = stacks();
  Capture c = draw();
  expect_same_stacks(before, stacks());
  int planes = 0, collar = 0, leaves = 0;
  for (const Triangle &t : c.triangles) (grey(t) ? planes : white(t) ? collar : leaves)++;
  EXPECT_EQ(planes, 6);
  EXPECT_EQ(collar, 6);
  EXPECT_EQ(leaves, 8 * 256);

  // The pick lies near the view vector, 11.25 degrees off the +z pole toward
  // +y: a bin-1 node of a top octant, so 86.13 Hz.
  ASSERT_NE(slot().slice, nullptr);
  EXPECT_TRUE((slot().slice >= state->work[0] && slot().slice < state->work[0] + 341) ||
              (slot().slice >= state->work[1] && slot().slice < state->work[1] + 341));
  EXPECT_EQ(slot().slice_bin, slot().slice->bin);
  EXPECT_EQ(slot().slice_bin, 1);
  EXPECT_NEAR(g_graphs.slice_frequency(0), 44100 / 512.0, 1e-9);
  // The collar runs between the stored triangle and a copy 3% further out.
  const float(*p)[3] = slot().ifs_triangle;
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(sqrt(p[i][0] * p[i][0] + p[i][1] * p[i][1] + p[i][2] * p[i][2]), 1, 1e-5);
  for (const Triangle &t : c.triangles) {
    if (!white(t)) continue;
    for (const Vertex &v : t.v) {
      bool on = false;
      for (int i = 0; i < 3; ++i)
        on = on || near(v, p[i][0], p[i][1], p[i][2], 1e-3) ||
             near(v, 1.03 * p[i][0], 1.03 * p[i][1], 1.03 * p[i][2], 1e-3);
      EXPECT_TRUE(on) << v.x << " " << v.y << " " << v.z;
    }
  }

  // Looking from below, behind, left: the pick moves to octant 7.
  set_view(-135, 135, 0.9);
  draw();
  ASSERT_NE(slot().slice, nullptr);
  EXPECT_TRUE(slot().slice >= state->work[7] && slot().slice < state->work[7] + 341);
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) EXPECT_LE(slot().ifs_triangle[i][k], 1e-6);
}

TEST_F(Ifs, AxesAndLabelsOfTheEightOctants) {
  slot().x = 0.5;
  slot().y = -0.5;
  Capture c = draw();
  const float tuning = static_cast<float>(5 * 44100.0 / 512);
  for (int i = 0; i < 8; ++i) {
    const double sx = i & 1 ? -1 : 1, sy = i & 2 ? -1 : 1, sz = i & 4 ? -1 : 1;
    const std::vector<Line> axis = {{{0.5, 0, -0.5}, {0.5 + 0.7 * sx, 0.7 * sy, -0.5 + 0.78 * sz}}};
    EXPECT_EQ(missing_lines(c.lines, axis), 0) << i;
    char text[32];
    snprintf(text, sizeof text, "%6.1f Hz", tuning * (1 + i * (1.0f / 9)));
    auto frame = [] { glTranslated(0.5, 0, -0.5); };
    EXPECT_EQ(missing_lines(c.lines, text_lines(frame, 0.71f * sx, 0.71f * sy, 0.71f * sz, 0.06f, text)), 0) << text;
  }
}

TEST_F(Ifs, SilenceSettlesAtBlue) {
  for (IfsNode *b : state->work)
    for (int j = 0; j < 341; ++j) b[j].value = 1;
  auto leaves_blue = [](const Capture &c) {
    int blue = 0, leaves = 0;
    for (const Triangle &t : c.triangles) {
      if (grey(t) || white(t)) continue;
      ++leaves;
      if (colour(t.v[0], 0, 0, 1) && colour(t.v[1], 0, 0, 1)) ++blue;
    }
    return leaves > 0 && blue == leaves;
  };
  EXPECT_FALSE(leaves_blue(draw()));
  for (int f = 0; f < 40; ++f) draw();
  EXPECT_TRUE(leaves_blue(draw()));
}

TEST_F(Ifs, ZoomLevelOneSwitchesToDetail) {
  const double edge = sqrt(20 * log(1.5));  // logistic 0.6: level exactly 1
  EXPECT_EQ(ifs_zoom_level(0.9), 0);
  EXPECT_EQ(ifs_zoom_level(edge - 1e-6), 0);
  EXPECT_EQ(ifs_zoom_level(edge + 1e-6), 1);
  EXPECT_EQ(ifs_zoom_level(6), 3);
  EXPECT_EQ(ifs_zoom_level(10), 4);
  EXPECT_EQ(ifs_zoom_level(NAN), 0);

  // Zoomed in before anything was picked: outlines, and no detail.
  set_view(90, 270, edge + 1e-6);
  Capture none = draw();
  EXPECT_EQ(slot().slice, nullptr);
  EXPECT_EQ(none.triangles.size(), 6u);
  EXPECT_GE(none.lines.size(), 8u * 256 * 3);

  set_view(90, 270, edge - 1e-6);
  draw();
  ASSERT_NE(slot().slice, nullptr);
  IfsNode *picked = slot().slice;
  float triangle[3][3];
  memcpy(triangle, slot().ifs_triangle, sizeof triangle);

  // Level 1: five levels of detail inside the picked triangle, filled; the
  // octants outlined; no collar. The pick stays while zoomed in, whatever
  // the direction.
  set_view(90, 30, edge + 1e-6);
  Capture detail = draw();
  EXPECT_EQ(slot().slice, picked);
  EXPECT_EQ(memcmp(triangle, slot().ifs_triangle, sizeof triangle), 0);
  int planes = 0, collar = 0, leaves = 0;
  for (const Triangle &t : detail.triangles) (grey(t) ? planes : white(t) ? collar : leaves)++;
  EXPECT_EQ(planes, 6);
  EXPECT_EQ(collar, 0);
  EXPECT_EQ(leaves, 1024);
  for (const Triangle &t : detail.triangles)
    if (!grey(t))
      for (const Vertex &v : t.v) {
        // inside the picked triangle's cap of the sphere
        double dot = v.x * triangle[0][0] + v.y * triangle[0][1] + v.z * triangle[0][2];
        EXPECT_GT(dot, 0.9);
      }
  // Deeper zoom, more levels, up to seven.
  set_view(90, 30, 6);
  Capture deep = draw();
  EXPECT_EQ(deep.triangles.size(), 6u + 16384);
}

TEST_F(Ifs, NodeUpdateWrapsTheBinAndSmoothsTheLevel) {
  double row[512] = {};
  row[7] = 2;
  IfsNode nodes[341] = {};
  IfsWalk w{};
  w.store = nodes;
  w.nodes = 341;
  w.row = row;
  w.bins = 256;
  w.scale = 1;
  w.lower = 5;
  w.upper = 128;
  w.best_distance = -1;
  const float v1[3] = {1, 0, 0}, v2[3] = {0, 1, 0}, v3[3] = {0, 0, 1};
  nodes[0].value = 0.5;
  Capture c = capture([&] {
    glBegin(GL_TRIANGLES);
    ifs_subdivide(w, 0, v1, v2, v3, 0, 130, 0.3, 0.2);  // 130 wraps to 5 + 125 rem 123 = 7
    glEnd();
  });
  EXPECT_EQ(nodes[0].bin, 7);
  const double lv = 1 - exp(-0.4);
  const double value = 0.5 * (0.9 * exp(-0.01 * (lv - 0.3) * (lv - 0.3)) * 0.5 + lv + 0.2);
  EXPECT_NEAR(nodes[0].value, value, 1e-12);
  // The leaf: heat of 1.5 w^2, corners moved 5% toward the other two.
  ASSERT_EQ(c.triangles.size(), 1u);
  const double wv = 1 - exp(-2 * value), h = 1.5 * wv * wv;
  EXPECT_TRUE(colour(c.triangles[0].v[0], h, h * h, 4 * (h - 0.5) * (h - 0.5)));
  int insets = 0;
  for (const Vertex &v : c.triangles[0].v)
    if (near(v, 0.9, 0.05, 0.05, 1e-4) || near(v, 0.05, 0.9, 0.05, 1e-4) || near(v, 0.05, 0.05, 0.9, 1e-4)) ++insets;
  EXPECT_EQ(insets, 3);

  // Below the lower bin a bin stays; the doubled bin of a middle child wraps.
  EXPECT_EQ(ifs_bin(3, 5, 128, 256), 3);
  EXPECT_EQ(ifs_bin(256, 5, 128, 256), 10);
  // A tuning at or above the upper bin leaves nothing to wrap into: the bin
  // stays, within the half row.
  EXPECT_EQ(ifs_bin(150, 150, 128, 256), 150);
  EXPECT_EQ(ifs_bin(900, 300, 128, 256), 255);

  // Outlined leaves are three segments; a corner midpoint of length 0 stays
  // at the origin instead of becoming NaN.
  w.outline = true;
  w.counter = 0;
  const float a[3] = {1, 0, 0}, b[3] = {-1, 0, 0};
  c = capture([&] {
    glBegin(GL_LINES);
    ifs_subdivide(w, 0, a, b, v3, 1, 10, 1, 0);
    glEnd();
  });
  EXPECT_EQ(w.counter, 4);
  ASSERT_EQ(c.lines.size(), 12u);
  int at_origin = 0;
  for (const Line &l : c.lines) {
    ASSERT_TRUE(std::isfinite(l.p.x) && std::isfinite(l.q.x));
    if (near(l.p, 0, 0, 0)) ++at_origin;
  }
  EXPECT_GT(at_origin, 0);
}

}  // namespace
