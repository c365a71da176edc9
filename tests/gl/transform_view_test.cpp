// The transformation view's geometry, captured in feedback mode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "display/graphs.h"
#include "media/ether.h"
#include "media/transform_view.h"
#include "tests/gl/gl_capture.h"

using namespace glcap;

namespace {

class TransformView : public SlotTest {
 protected:
  void SetUp() override {
    SlotTest::SetUp();
    if (IsSkipped()) return;
    view = TransformState{};
    slot.type = kGraphTransform;
  }
  void TearDown() override { g_graphs.live = TransformState{}; }
  Capture draw() {
    g_graphs.live = view;
    Capture c = capture([&] { draw_transform_view(g_graphs, 0, nullptr, slot, nullptr); });
    view = g_graphs.live;
    return c;
  }
  // A width x height surface in slot i, with its walls.
  void add_surface(int i, int w, int h) {
    cells.emplace_back(w * h, 0.0);
    copies.emplace_back(w * h, 0.0);
    walls.emplace_back(w * h, 0);
    view.live[i] = cells.back().data();
    view.display[i] = copies.back().data();
    view.aux[i] = walls.back().data();
    view.dim1[i] = w;
    view.dim2[i] = h;
    view.slot_count = i + 1;
  }
  static std::vector<Vertex> vertices(const Capture &c) { return triangle_vertices(c); }
  TransformState view{};
  std::vector<std::vector<double>> cells, copies;
  std::vector<std::vector<unsigned char>> walls;
};

double level(double v) { return std::tanh(2 * v); }

TEST_F(TransformView, NoSurfaceShowsTheGreySquareAndItsLabel) {
  view.mode = kModeTfield;
  Capture c = draw();
  ASSERT_EQ(c.triangles.size(), 2u);
  for (const Vertex &v : vertices(c)) {
    EXPECT_TRUE(colour(v, 0.2, 0.2, 0.2));
    EXPECT_NEAR(std::fabs(v.x), 1, 1e-4);
    EXPECT_NEAR(std::fabs(v.y), 1, 1e-4);
  }
  std::vector<Line> text = text_lines([] {}, -0.8f, 0, 0.01f, 0.2f, "Transformation View");
  EXPECT_EQ(missing_lines(c.lines, text), 0);
  EXPECT_EQ(c.lines.size(), text.size());
  for (const Line &l : c.lines) EXPECT_TRUE(colour(l.p, 1, 1, 0));
}

TEST_F(TransformView, OneSurfaceFillsTheSquareAndTwoStandOppositeAtAThird) {
  view.mode = kModeTfield;
  add_surface(0, 4, 3);
  cells[0][1 * 4 + 1] = 0.5;  // the view draws what u holds at the frame's start
  walls[0][2 * 4 + 3] = 1;
  Capture one = draw();
  EXPECT_EQ(one.triangles.size(), 3u * 6);  // three rows of four columns
  EXPECT_TRUE(one.lines.empty()) << "a single surface has no ring line";
  bool raised = false, wall = false;
  for (const Vertex &v : vertices(one)) {
    EXPECT_GE(v.x, -1 - 1e-4);
    EXPECT_LE(v.x, 0.5 + 1e-4);  // cells are 2 / width wide
    EXPECT_GE(v.y, -1 - 1e-4);
    EXPECT_LE(v.y, 0.5 + 1e-4);
    if (near(v, -0.5, -0.5, -0.3 * level(0.25), 1e-3)) raised = colour(v, level(0.25), std::pow(level(0.25), 2), 4 * std::pow(level(0.25) - 0.5, 2));
    if (near(v, 0.5, 0, v.z) && colour(v, 0, 0, 0)) wall = true;
  }
  EXPECT_TRUE(raised) << "the moved cell is not drawn at its level";
  EXPECT_TRUE(wall) << "the wall cell is not black";

  add_surface(1, 4, 3);
  Capture two = draw();
  EXPECT_EQ(two.triangles.size(), 2u * 3 * 6);
  // Ring lines: (-1, -1) .. (1, -1) scaled by 0.3 after moving out by 1.3, the
  // second turned half round.
  std::vector<Line> ring = {{{-0.3, 0.09, 0}, {0.3, 0.09, 0}}, {{0.3, -0.09, 0}, {-0.3, -0.09, 0}}};
  EXPECT_EQ(missing_lines(two.lines, ring), 0);
  int above = 0, below = 0;
  for (const Vertex &v : vertices(two)) {
    EXPECT_LE(std::fabs(v.x), 0.3 + 1e-4);
    if (v.y >= 0.09 - 1e-4) ++above;
    if (v.y <= -0.09 + 1e-4) ++below;
  }
  EXPECT_EQ(above, 3 * 18);
  EXPECT_EQ(below, 3 * 18);
}

TEST_F(TransformView, NoStringShowsTheGreyLineAndItsLabel) {
  view.mode = kModeTstring;
  Capture c = draw();
  EXPECT_EQ(c.points, 2);
  std::vector<Line> text = text_lines([] {}, -0.8f, 0, 0.01f, 0.2f, "string");
  ASSERT_EQ(c.lines.size(), text.size() + 1);
  EXPECT_EQ(missing_lines(c.lines, text), 0);
  EXPECT_EQ(missing_lines(c.lines, {{{0, -1, 0}, {0, 1, 0}}}), 0);
  EXPECT_TRUE(colour(c.lines[0].p, 0.5, 0.5, 0.5));
  EXPECT_EQ(view.dim2[0], 1) << "the frame counter";
}

TEST_F(TransformView, AnEtherOfOneOctaveDrawsTwoStrips) {
  view.mode = kModeTether;
  Ether ether(1, &view);
  ether.alpha = 0;  // all weight on level 0
  ASSERT_TRUE(ether.compute_weights());
  Capture c = draw();
  // Level 0: straight up. Level 1: from the green start through node 2,
  // which stands out by 0.2 log2(2) at mid height, to the red end.
  EXPECT_EQ(missing_lines(c.lines, {{{0, -1, 0}, {0, 1, 0}}, {{0, -1, 0}, {0.2, 0, 0}}, {{0.2, 0, 0}, {0, 1, 0}}}), 0);
  int straight = 0;
  for (const Line &l : c.lines) {
    EXPECT_LE(std::fabs(l.p.x), 0.2 + 1e-4);
    if (same_line(l, {{0, -1, 0}, {0, 1, 0}})) {
      ++straight;
      const Vertex &bottom = l.p.y < l.q.y ? l.p : l.q, &top = l.p.y < l.q.y ? l.q : l.p;
      EXPECT_TRUE(colour(bottom, 0.5, 1, 0.5));  // node 0
      EXPECT_TRUE(colour(top, 1, 0, 0));         // the output end
    }
  }
  EXPECT_EQ(straight, 1);
  // Level 1's zero-length start segment may or may not be emitted.
  EXPECT_GE(c.lines.size(), 3u);
  EXPECT_LE(c.lines.size(), 4u);
  EXPECT_EQ(c.triangles.size(), 0u);
}

TEST_F(TransformView, MirageNeedlesOfASurfaceAtRestPointAtTheCentre) {
  view.mode = kModeMirage;
  add_surface(0, 10, 10);
  Capture c = draw();
  ASSERT_FALSE(c.lines.empty());
  EXPECT_EQ(c.triangles.size(), 2u);  // the dark square
  for (const Line &l : c.lines) {
    const Vertex &white = colour(l.p, 1, 1, 1) ? l.p : l.q;
    const Vertex &tip = colour(l.p, 1, 1, 1) ? l.q : l.p;
    ASSERT_TRUE(colour(white, 1, 1, 1));
    EXPECT_TRUE(colour(tip, 0, 0, 1));  // heat_colour(0)
    const double s = std::hypot(white.x, white.y);
    EXPECT_NEAR(white.z, 0.1 * s * s, 1e-3);
    EXPECT_NEAR(tip.z, white.z, 1e-3);
    EXPECT_NEAR(std::hypot(tip.x, tip.y), 0.97 * s, 1e-3);
    // Along the same ray.
    EXPECT_NEAR(white.x * tip.y - white.y * tip.x, 0, 1e-3);
  }
}

TEST_F(TransformView, OtherModesDrawNothing) {
  view.mode = 7;
  add_surface(0, 4, 4);
  Capture c = draw();
  EXPECT_TRUE(c.lines.empty());
  EXPECT_TRUE(c.triangles.empty());
  EXPECT_EQ(c.points, 0);
}

}  // namespace
