// GL test helpers: one hidden-away GLUT window, a fixed projection, and the
// capture of what a drawing emits through feedback mode, turned back into
// scene coordinates.
#pragma once

#include <GL/freeglut.h>
#include <GL/freeglut_ext.h>
#include <dlfcn.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdarg>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <vector>

#include "display/graphs.h"
#include "harmonic/harmonic.h"
#include "options/options.h"

namespace glcap {

// The projection the captures use: x, y in [-4, 4], z in [-10, 10].
constexpr double kRange = 4;
constexpr int kSize = 400;

struct Vertex {
  double x, y, z;
  float r = 0, g = 0, b = 0, a = 0;
};
struct Line {
  Vertex p, q;
};
struct Triangle {
  Vertex v[3];
};
struct Capture {
  std::vector<Line> lines;
  std::vector<Triangle> triangles;
  int points = 0;
  int markers = 0;
};

inline bool have_display() {
  const char *d = getenv("DISPLAY");
  return d && *d;
}

// A loaded X server now and then refuses a connection; freeglut would end the
// test program then, so its set-up error jumps back for another try.
inline sigjmp_buf &glut_failed() {
  static sigjmp_buf b;
  return b;
}
inline void glut_setup_error(const char *, va_list) { siglongjmp(glut_failed(), 1); }

inline void open_window() {
  static bool open = false;
  if (open) return;
  int argc = 1;
  char name[] = "gltest";
  char *argv[] = {name, nullptr};
  static volatile int attempts = 0;
  glutInitErrorFunc(glut_setup_error);
  if (sigsetjmp(glut_failed(), 1)) {
    if (++attempts >= 20) abort();
    usleep(50 * 1000);
  }
  argc = 1;
  glutInit(&argc, argv);
  glutInitErrorFunc(nullptr);
  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(kSize, kSize);
  glutInitWindowPosition(0, 0);
  glutCreateWindow("gl test");
  // Keep the GL driver mapped to the end so leak reports can name it.
  dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  open = true;
}

inline void standard_view() {
  glViewport(0, 0, kSize, kSize);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-kRange, kRange, -kRange, kRange, -10, 10);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

inline Vertex to_scene(const float *f) {
  Vertex v;
  v.x = f[0] / kSize * 2 * kRange - kRange;
  v.y = f[1] / kSize * 2 * kRange - kRange;
  v.z = (0.5 - f[2]) * 20;  // glOrtho(near -10, far 10): window z = 0.5 - z / 20
  v.r = f[3];
  v.g = f[4];
  v.b = f[5];
  v.a = f[6];
  return v;
}

inline Capture capture(const std::function<void()> &draw, int capacity = 4 << 20) {
  std::vector<float> buf(capacity);
  glFeedbackBuffer(capacity, GL_3D_COLOR, buf.data());
  glRenderMode(GL_FEEDBACK);
  draw();
  int used = glRenderMode(GL_RENDER);
  Capture c;
  EXPECT_GE(used, 0) << "feedback buffer too small";
  const int kV = 7;
  for (int i = 0; i < used;) {
    int token = static_cast<int>(buf[i++]);
    switch (token) {
      case GL_POINT_TOKEN:
        ++c.points;
        i += kV;
        break;
      case GL_LINE_TOKEN:
      case GL_LINE_RESET_TOKEN:
        c.lines.push_back({to_scene(&buf[i]), to_scene(&buf[i + kV])});
        i += 2 * kV;
        break;
      case GL_POLYGON_TOKEN: {
        int n = static_cast<int>(buf[i++]);
        EXPECT_EQ(n, 3);
        Triangle t;
        for (int k = 0; k < 3 && k < n; ++k) t.v[k] = to_scene(&buf[i + k * kV]);
        c.triangles.push_back(t);
        i += n * kV;
        break;
      }
      case GL_PASS_THROUGH_TOKEN:
        ++c.markers;
        i += 1;
        break;
      case GL_BITMAP_TOKEN:
      case GL_DRAW_PIXEL_TOKEN:
      case GL_COPY_PIXEL_TOKEN:
        i += kV;
        break;
      default:
        ADD_FAILURE() << "unknown feedback token " << token;
        return c;
    }
  }
  return c;
}

inline bool near(const Vertex &v, double x, double y, double z, double tol = 2e-4) {
  return std::fabs(v.x - x) < tol && std::fabs(v.y - y) < tol && std::fabs(v.z - z) < tol;
}
inline bool same_place(const Vertex &a, const Vertex &b, double tol = 2e-4) { return near(a, b.x, b.y, b.z, tol); }
inline bool colour(const Vertex &v, double r, double g, double b, double tol = 2e-3) {
  return std::fabs(v.r - r) < tol && std::fabs(v.g - g) < tol && std::fabs(v.b - b) < tol;
}

// A segment, either way round.
inline bool same_line(const Line &l, const Line &m, double tol = 2e-4) {
  return (same_place(l.p, m.p, tol) && same_place(l.q, m.q, tol)) ||
         (same_place(l.p, m.q, tol) && same_place(l.q, m.p, tol));
}

// Every line of `want` appears in `have`.
inline int missing_lines(const std::vector<Line> &have, const std::vector<Line> &want) {
  int missing = 0;
  for (const Line &w : want) {
    bool found = false;
    for (const Line &h : have)
      if (same_line(h, w)) {
        found = true;
        break;
      }
    if (!found) ++missing;
  }
  return missing;
}

struct Stacks {
  GLint modelview, projection, attrib, mode;
  GLdouble matrix[16];
};
inline Stacks stacks() {
  Stacks s;
  glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &s.modelview);
  glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &s.projection);
  glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &s.attrib);
  glGetIntegerv(GL_MATRIX_MODE, &s.mode);
  glGetDoublev(GL_MODELVIEW_MATRIX, s.matrix);
  return s;
}
inline void expect_same_stacks(const Stacks &a, const Stacks &b) {
  EXPECT_EQ(a.modelview, b.modelview);
  EXPECT_EQ(a.projection, b.projection);
  EXPECT_EQ(a.attrib, b.attrib);
  EXPECT_EQ(a.mode, b.mode);
  for (int i = 0; i < 16; ++i) EXPECT_DOUBLE_EQ(a.matrix[i], b.matrix[i]) << i;
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// The segments a text must give, drawn here straight with the stroke font:
// translate, scale by size x 0.006562541, one glutStrokeCharacter per byte.
inline std::vector<Line> text_lines(const std::function<void()> &frame, float x, float y, float z, float size,
                                    const char *text) {
  Capture c = capture([&] {
    glPushMatrix();
    frame();
    glTranslatef(x, y, z);
    float s = size * 0.006562541f;
    glScalef(s, s, s);
    for (const char *p = text; *p; ++p) glutStrokeCharacter(GLUT_STROKE_ROMAN, *p);
    glPopMatrix();
  });
  return c.lines;
}

// Every vertex of the captured triangles, in order.
inline std::vector<Vertex> triangle_vertices(const Capture &c) {
  std::vector<Vertex> all;
  for (const Triangle &t : c.triangles) all.insert(all.end(), t.v, t.v + 3);
  return all;
}

// A renderer's test: the window, the start-up view, a 44100 Hz feed, and
// `slot`, a cleared slot of scale 1. Skipped without a display.
class SlotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_display()) GTEST_SKIP() << "DISPLAY is not set";
    open_window();
    standard_view();
    g_graphs.feed->sample_rate = 44100;
    slot = DisplaySlot{};
    slot.scale = 1;
  }
  // Slot 0 of the manager made as a harmonic or display type through its
  // own setup, at tuna 440.
  static DisplaySlot &make_slot0(int type) {
    install_display_graphs();
    install_harmonic_graphs();
    g_options.set(0, "tuna", "440");
    DisplaySlot &s = g_graphs.slots[0];
    s = DisplaySlot{};
    s.type = type;
    s.scale = 1;
    g_graphs.prepare_slot(0);
    return s;
  }
  DisplaySlot slot{};
};

}  // namespace glcap
