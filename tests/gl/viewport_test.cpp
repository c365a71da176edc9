// Mouse-driven view changes in a real GL context: zoom, rotate, pan, the
// projection's bounds and the view read-out.
#include <gtest/gtest.h>

#include <cmath>

#include "display/viewport.h"
#include "tests/gl/gl_capture.h"

using namespace glcap;

namespace {

class Viewport : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_display()) GTEST_SKIP() << "DISPLAY is not set";
    open_window();
    reshape(400, 400);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glScalef(0.9f, 0.9f, 0.9f);
    g_viewport.left_down = g_viewport.middle_down = g_viewport.right_down = 0;
    viewport_init();
  }
  static void angles(double &alt, double &az, double &scale) { view_angles(alt, az, scale); }
  static void drag(int button, int x0, int y0, int x1, int y1, int steps = 4) {
    mouse(button, GLUT_DOWN, x0, y0);
    for (int i = 1; i <= steps; ++i) motion(x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps);
    mouse(button, GLUT_UP, x1, y1);
  }
};

TEST_F(Viewport, StartUpViewIsAltitude90Azimuth270Scale09) {
  double alt, az, scale;
  angles(alt, az, scale);
  EXPECT_NEAR(alt, 90, 1e-9);
  EXPECT_NEAR(az, 270, 1e-9);
  EXPECT_NEAR(scale, 0.9, 1e-6);
}

TEST_F(Viewport, MiddleDragDownHundredPixelsScalesByEAndBackUpRestores) {
  drag(GLUT_MIDDLE_BUTTON, 100, 100, 100, 200);
  double alt, az, scale;
  angles(alt, az, scale);
  EXPECT_NEAR(scale, 0.9 * M_E, 1e-5);
  EXPECT_NEAR(alt, 90, 1e-6);
  EXPECT_NEAR(az, 270, 1e-6);
  drag(GLUT_MIDDLE_BUTTON, 100, 200, 100, 100);
  angles(alt, az, scale);
  EXPECT_NEAR(scale, 0.9, 1e-5);
}

TEST_F(Viewport, LeftAndRightTogetherZoomInsteadOfRotatingOrPanning) {
  mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 50, 50);
  mouse(GLUT_RIGHT_BUTTON, GLUT_DOWN, 50, 50);
  motion(80, 0);  // 30 right, 50 up
  mouse(GLUT_LEFT_BUTTON, GLUT_UP, 80, 0);
  mouse(GLUT_RIGHT_BUTTON, GLUT_UP, 80, 0);
  double alt, az, scale;
  angles(alt, az, scale);
  EXPECT_NEAR(scale, 0.9 * exp(-0.5), 1e-5);
  EXPECT_NEAR(az, 270, 1e-6);
  EXPECT_NEAR(g_viewport.modelview[12], 0, 1e-9);
}

TEST_F(Viewport, MotionToTheSamePlaceChangesNothing) {
  mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 10, 10);
  double before[16];
  for (int i = 0; i < 16; ++i) before[i] = g_viewport.modelview[i];
  motion(10, 10);
  double now[16];
  glGetDoublev(GL_MODELVIEW_MATRIX, now);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(g_viewport.modelview[i], before[i]);
    EXPECT_EQ(now[i], before[i]);
  }
  mouse(GLUT_LEFT_BUTTON, GLUT_UP, 10, 10);
}

TEST_F(Viewport, LeftDragRightTurnsTheAzimuthByThePixels) {
  drag(GLUT_LEFT_BUTTON, 100, 100, 130, 100, 3);
  double alt, az, scale;
  angles(alt, az, scale);
  EXPECT_NEAR(az, 300, 1e-4);
  EXPECT_NEAR(alt, 90, 1e-4);
  EXPECT_NEAR(scale, 0.9, 1e-5);
  // A vertical drag then tilts about the screen's horizontal axis: the
  // altitude moves by the pixels, the scale stays.
  drag(GLUT_LEFT_BUTTON, 100, 100, 100, 120, 2);
  angles(alt, az, scale);
  EXPECT_NEAR(std::fabs(alt - 90), 20, 1e-3);
  EXPECT_NEAR(scale, 0.9, 1e-5);
}

TEST_F(Viewport, RightDragPansByTheSceneDistance) {
  // 400 pixels span 2 scene units: 40 right and 20 down is (0.2, -0.1).
  drag(GLUT_RIGHT_BUTTON, 200, 200, 240, 220);
  EXPECT_NEAR(g_viewport.modelview[12], 0.2, 1e-6);
  EXPECT_NEAR(g_viewport.modelview[13], -0.1, 1e-6);
  EXPECT_NEAR(g_viewport.modelview[0], 0.9, 1e-6);
  // the stored inverse undoes the pan
  EXPECT_NEAR(g_viewport.modelview_inverse[12], -0.2 / 0.9, 1e-6);
}

TEST_F(Viewport, ReshapeFollowsTheAspectRatio) {
  reshape(800, 400);
  EXPECT_DOUBLE_EQ(g_viewport.left, -2);
  EXPECT_DOUBLE_EQ(g_viewport.right, 2);
  EXPECT_DOUBLE_EQ(g_viewport.bottom, -1);
  EXPECT_DOUBLE_EQ(g_viewport.top, 1);
  double p[16];
  glGetDoublev(GL_PROJECTION_MATRIX, p);
  EXPECT_NEAR(p[0], 2.0 / 4, 1e-7);  // GL keeps floats
  EXPECT_NEAR(p[5], 1, 1e-7);
  EXPECT_NEAR(p[10], -2.0 / 20, 1e-7);
  GLint mode;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);
  // the view itself is kept
  double alt, az, scale;
  angles(alt, az, scale);
  EXPECT_NEAR(scale, 0.9, 1e-6);
  reshape(400, 400);
}

TEST_F(Viewport, PickPassLeavesTheStacksAndRenderMode) {
  Stacks before = stacks();
  pick(10, 10, 3, 3);
  expect_same_stacks(before, stacks());
  GLint mode;
  glGetIntegerv(GL_RENDER_MODE, &mode);
  EXPECT_EQ(mode, GL_RENDER);
}

}  // namespace
