// What the mirror display emits, caught through GL feedback mode: the bowl
// of points and the frame's update of its grids.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "display/analyser.h"
#include "display/graphs.h"
#include "harmonic/harmonic.h"
#include "harmonic/mirror.h"
#include "options/options.h"
#include "tests/gl/gl_capture.h"

using namespace glcap;

namespace {

// The points of a drawing (the shared capture only counts them).
std::vector<Vertex> points_of(const std::function<void()> &draw) {
  std::vector<float> buf(8 << 20);
  glFeedbackBuffer(static_cast<GLsizei>(buf.size()), GL_3D_COLOR, buf.data());
  glRenderMode(GL_FEEDBACK);
  draw();
  int used = glRenderMode(GL_RENDER);
  EXPECT_GE(used, 0) << "feedback buffer too small";
  std::vector<Vertex> out;
  for (int i = 0; i < used;) {
    int token = static_cast<int>(buf[i++]);
    if (token == GL_POINT_TOKEN) {
      out.push_back(to_scene(&buf[i]));
      i += 7;
    } else if (token == GL_PASS_THROUGH_TOKEN) {
      i += 1;
    } else {
      ADD_FAILURE() << "unexpected token " << token;
      break;
    }
  }
  return out;
}

class Mirror : public SlotTest {
 protected:
  void SetUp() override {
    SlotTest::SetUp();
    if (IsSkipped()) return;
    testing::internal::CaptureStdout();
    DisplaySlot &s = make_slot0(kGraphMirror);
    testing::internal::GetCapturedStdout();
    m = static_cast<MirrorState *>(s.work);
    ASSERT_NE(m, nullptr);
    a = g_graphs.analysers[0];
    memset(a->history, 0, sizeof(double) * 512 * 256);
    cells = static_cast<size_t>(m->width) * m->height;
  }
  void TearDown() override {
    testing::internal::CaptureStdout();
    g_graphs.release_work(0);
    testing::internal::GetCapturedStdout();
    g_graphs.slots[0] = DisplaySlot{};
  }
  std::vector<Vertex> draw() {
    return points_of([&] { draw_mirror(g_graphs, 0, a, g_graphs.slots[0], nullptr); });
  }
  MirrorState *m = nullptr;
  Analyser *a = nullptr;
  size_t cells = 0;
};

TEST_F(Mirror, PointsLieOnTheBowlColouredByTheirCells) {
  for (size_t c = 0; c < cells; ++c) m->current[c] = m->next[c] = 0.25;
  g_graphs.slots[0].scale = 2;
  g_graphs.slots[0].x = 0.5;
  g_graphs.slots[0].y = -1;
  Stacks before = stacks();
  std::vector<Vertex> pts = draw();
  expect_same_stacks(before, stacks());
  ASSERT_GT(pts.size(), 1000u);
  for (const Vertex &v : pts) {
    ASSERT_TRUE(colour(v, 0.5, 0.25, 0)) << v.r << " " << v.g << " " << v.b;  // heat of 0.25 x 2
    ASSERT_GE(v.z, -1 - 1 - 1e-4);
    ASSERT_LE(v.z, -1 + 1 + 1e-4);
  }
  // Each stretch starts at Q = the point of f x 4/3, at depth
  // cos(pi x its normalised radius); none for t = 0.
  const double sx = 2.0 / m->width, sy = 2.0 / m->height;
  for (int i = 1; i < 10; ++i) {
    const double f = i / 10.0 * 22050 * (4.0 / 3);
    double qx, qy;
    m->spiral_point(f, qx, qy);
    const double z = cos(M_PI * sqrt(sy * sy * qy * qy + sx * sx * qx * qx));
    int found = 0;
    for (const Vertex &v : pts)
      if (near(v, 0.5 + qx * sx, qy * sy, -1 + z, 1e-3)) ++found;
    EXPECT_GE(found, 1) << i;
  }
}

TEST_F(Mirror, AFrameMirrorsIntoNextAndCopiesItIntoCurrent) {
  for (size_t c = 0; c < cells; ++c) {
    m->current[c] = 0.25;
    m->next[c] = 0.5;
  }
  // Silence: every mirrored stretch (t 0.1 .. 0.4 of 22050 Hz, above the
  // tuning bin and below half of the window's highest frequency) fades to 0.
  draw();
  size_t zero = 0, kept = 0;
  for (size_t c = 0; c < cells; ++c) {
    ASSERT_EQ(m->current[c], m->next[c]);
    if (m->next[c] == 0) ++zero;
    if (m->next[c] == 0.5) ++kept;
  }
  EXPECT_GT(zero, 100u);
  EXPECT_EQ(zero + kept, cells);
  double px, py;
  m->spiral_point(0.2 * 22050, px, py);
  EXPECT_EQ(m->current[m->mirror_cell(px, py)], 0);

  // Every note as strong as its fourth and fifth: gain 2. Two samples a
  // frame (t = 0 and 0.5), so no later chord crosses the stretch of t = 0.5.
  for (int j = 0; j < 256; ++j) a->history[j] = 1;
  for (size_t c = 0; c < cells; ++c) m->current[c] = m->next[c] = 0.5;
  m->iter = 2;
  m->spiral_point(0.5 * 22050, px, py);
  draw();
  const double v = 0.5 * 2;
  EXPECT_NEAR(m->current[m->mirror_cell(px, py)], 2 / (1 + exp(-5 * v * v)) - 1, 1e-12);
}

// A spiral winding inwards leaves its low notes millions of cells outside
// the window: the frame draws the stretches over the window and ends.
TEST_F(Mirror, StretchesFarOutsideTheWindowAreDrawnOnlyOverIt) {
  testing::internal::CaptureStdout();
  g_graphs.release_work(0);
  m = create_mirror(81001, -6, 44100, 10);
  testing::internal::GetCapturedStdout();
  ASSERT_NE(m, nullptr);
  g_graphs.slots[0].work = m;
  g_graphs.slots[0].work_type = kGraphMirror;
  const double sx = 2.0 / m->width, sy = 2.0 / m->height;
  std::vector<Vertex> pts = draw();
  ASSERT_GT(pts.size(), 1000u);
  for (const Vertex &v : pts) {
    ASSERT_GE(v.x - g_graphs.slots[0].x, (m->min_x - 1.001) * sx);
    ASSERT_LE(v.x - g_graphs.slots[0].x, (m->max_x + 1.001) * sx);
    ASSERT_GE(v.y, (m->min_y - 1.001) * sy);
    ASSERT_LE(v.y, (m->max_y + 1.001) * sy);
  }
}

TEST_F(Mirror, NoStateDrawsNothing) {
  testing::internal::CaptureStdout();
  g_graphs.release_work(0);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(draw().empty());
}

}  // namespace
