// The window as a musician uses it, whole program under Xvfb with the
// file-backed card: the view keys, the window's size, a frozen frame that
// costs nothing, and lines of other threads above the prompt.
#include <gtest/gtest.h>
// X11 after gtest: its macros (None, Bool) clash with gtest's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "tests/support/live_kit.h"
#include "tests/support/testkit.h"

namespace {

using livekit::demo_wav;
using livekit::wait_window;
using livekit::Yelm;

// Lit pixels of the window: on its outermost `rim` pixels, and the box
// they all span.
struct Lit {
  int rim = 0;
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
  int width = 0, height = 0;
};

Lit lit_pixels(Display *dpy, Window w, int rim) {
  Lit l;
  XWindowAttributes a;
  if (!XGetWindowAttributes(dpy, w, &a)) return l;
  XImage *img = XGetImage(dpy, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
  if (!img) return l;
  l.width = a.width;
  l.height = a.height;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      if (!(XGetPixel(img, x, y) & 0xffffff)) continue;
      if (x < rim || y < rim || x >= a.width - rim || y >= a.height - rim) ++l.rim;
      l.x0 = std::min(l.x0, x);
      l.x1 = std::max(l.x1, x);
      l.y0 = std::min(l.y0, y);
      l.y1 = std::max(l.y1, y);
    }
  XDestroyImage(img);
  return l;
}

class WindowUse : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!livekit::have_display()) GTEST_SKIP() << "DISPLAY is not set";
    dpy = XOpenDisplay(nullptr);
    if (!dpy) GTEST_SKIP() << "cannot open the display";
    dir = testkit::make_temp_dir("window-use");
  }
  void TearDown() override {
    if (dpy) XCloseDisplay(dpy);
  }
  // Starts yelm with these settings and waits for its window and prompt.
  Window start(Yelm &y, const std::string &settings) {
    testkit::write_file(dir + "/.yelmrc", settings);
    if (!y.start(dir, true, true)) return 0;
    Window w = wait_window(dpy, y.pid, 10000);
    if (w && !y.wait_for("yelm--scope$ ", 5000)) return 0;
    return w;
  }
  // The view as `set VIEWPORT` prints it.
  std::string view(Yelm &y) { return y.ask("set VIEWPORT", "ALT:"); }
  void key(Window w, const char *k) {
    ASSERT_TRUE(livekit::xdotool("key --window " + std::to_string(w) + " " + k));
  }
  Display *dpy = nullptr;
  std::string dir;
};

TEST_F(WindowUse, KeyRReturnsToTheStartViewAndKeyFFramesEveryDisplay) {
  Yelm y;
  // The places of old: in the start view these run off the window.
  const Window w = start(y, ":0 style fft\n:1 style c5\n:2 style w2d\n:3 style spiral\n");
  ASSERT_NE(w, 0u) << y.text;
  y.send("plot " + demo_wav());
  ASSERT_TRUE(y.wait_for("audio device started", 10000)) << y.text;
  y.pump(800);
  const std::string id = std::to_string(w);
  ASSERT_TRUE(livekit::xdotool("windowmove " + id + " 0 0 windowraise " + id));
  ASSERT_TRUE(livekit::xdotool("mousemove --window " + id + " 100 100 mousedown 1 mousemove --window " + id +
                               " 140 130 mousemove --window " + id + " 180 170 mouseup 1"));
  y.pump(300);
  EXPECT_NE(view(y), "ALT:90 AZ:270 SCALE:0.9") << "the drag turned nothing";
  key(w, "r");
  y.pump(300);
  EXPECT_EQ(view(y), "ALT:90 AZ:270 SCALE:0.9");
  EXPECT_GT(lit_pixels(dpy, w, 2).rim, 0) << "the start view was expected to cut the displays";

  key(w, "f");
  y.pump(800);
  double alt = 0, az = 0, scale = 0;
  ASSERT_EQ(sscanf(view(y).c_str(), "ALT:%lf AZ:%lf SCALE:%lf", &alt, &az, &scale), 3);
  EXPECT_NEAR(alt, 90, 1e-6);
  EXPECT_NEAR(az, 270, 1e-6);
  const Lit after = lit_pixels(dpy, w, 2);
  EXPECT_EQ(after.rim, 0) << "a display reaches the window's edge";
  // Zoomed to the window: the displays span most of its width or height.
  ASSERT_GE(after.x1, 0);
  EXPECT_TRUE(after.x1 - after.x0 > 0.8 * after.width || after.y1 - after.y0 > 0.8 * after.height)
      << after.x0 << ".." << after.x1 << " x " << after.y0 << ".." << after.y1;
  y.send("exit");
  EXPECT_TRUE(y.wait_exit(10000)) << y.text;
}

TEST_F(WindowUse, WindowOptionSetsTheWindowsSize) {
  Yelm y;
  const Window w = start(y, "window 800x600\n");
  ASSERT_NE(w, 0u) << y.text;
  XWindowAttributes a;
  ASSERT_TRUE(XGetWindowAttributes(dpy, w, &a));
  EXPECT_EQ(a.width, 800);
  EXPECT_EQ(a.height, 600);
  y.send("exit");
  EXPECT_TRUE(y.wait_exit(10000)) << y.text;
}

}  // namespace
