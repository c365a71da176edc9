// The window as a musician uses it, whole program under Xvfb with the
// file-backed card: the view keys and the window's size, a frozen frame that
// costs nothing, and lines of other threads above the prompt.
#include <gtest/gtest.h>
// X11 after gtest: its macros (None, Bool) clash with gtest's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/live_kit.h"
#include "tests/support/testkit.h"

namespace {

using livekit::demo_wav;
using livekit::Yelm;

// Lit pixels of the window within `rim` pixels of its edge, and the width
// and height of the box all its lit pixels span.
struct Lit {
  int rim = 0, wide = 0, high = 0;
};

Lit lit_pixels(Display *dpy, Window w, int rim, XWindowAttributes &a) {
  Lit l;
  XGetWindowAttributes(dpy, w, &a);
  XImage *img = XGetImage(dpy, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
  if (!img) return l;
  int x0 = a.width, x1 = -1, y0 = a.height, y1 = -1;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      if (!(XGetPixel(img, x, y) & 0xffffff)) continue;
      l.rim += x < rim || y < rim || x >= a.width - rim || y >= a.height - rim;
      x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    }
  XDestroyImage(img);
  l.wide = x1 - x0, l.high = y1 - y0;
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
  // yelm with these settings, its window up, playing the example.
  Window play(Yelm &y, const std::string &settings) {
    testkit::write_file(dir + "/.yelmrc", settings);
    if (!y.start(dir, true, true)) return 0;
    const Window w = livekit::wait_window(dpy, y.pid, 10000);
    y.send("plot " + demo_wav());
    return y.wait_for("end of file ", 10000) ? w : 0;
  }
  std::string view(Yelm &y) { return y.ask("set VIEWPORT", "ALT:"); }
  Display *dpy = nullptr;
  std::string dir;
};

TEST_F(WindowUse, SizeFromTheWindowOptionKeyRForTheStartViewKeyFToFrameEveryDisplay) {
  Yelm y;
  // The places of old, which the start view cuts.
  const Window w = play(y, "window 640x400\n:0 style fft\n:1 style c5\n:2 style w2d\n:3 style spiral\n");
  ASSERT_NE(w, 0u) << y.text;
  const std::string id = std::to_string(w);
  ASSERT_TRUE(livekit::xdotool("windowmove " + id + " 0 0 windowraise " + id + " mousemove --window " + id +
                               " 100 100 mousedown 1 mousemove --window " + id + " 140 130 mousemove --window " +
                               id + " 180 170 mouseup 1"));
  y.pump(300);
  EXPECT_NE(view(y), "ALT:90 AZ:270 SCALE:0.9") << "the drag turned nothing";
  ASSERT_TRUE(livekit::xdotool("key --window " + id + " r"));
  y.pump(300);
  EXPECT_EQ(view(y), "ALT:90 AZ:270 SCALE:0.9");
  XWindowAttributes a;
  EXPECT_GT(lit_pixels(dpy, w, 2, a).rim, 0) << "the start view was expected to cut the displays";
  EXPECT_EQ(a.width, 640);
  EXPECT_EQ(a.height, 400);

  ASSERT_TRUE(livekit::xdotool("key --window " + id + " f"));
  y.pump(800);
  EXPECT_EQ(view(y).compare(0, 14, "ALT:90 AZ:270 "), 0) << "not from above";
  const Lit framed = lit_pixels(dpy, w, 2, a);
  EXPECT_EQ(framed.rim, 0) << "a display reaches the window's edge";
  EXPECT_TRUE(framed.wide > 0.8 * a.width || framed.high > 0.8 * a.height) << framed.wide << " x " << framed.high;
  y.send("exit");
  EXPECT_TRUE(y.wait_exit(10000)) << y.text;
}

TEST_F(WindowUse, AFrozenFrameIsNotDrawnAgain) {
  Yelm y;
  ASSERT_NE(play(y, ":0 style fft\n:0 source file.left\n:1 style mirror\n:1 source file.right\n"), 0u) << y.text;
  y.pump(500);
  const long before = y.cpu_ticks();
  const auto t0 = std::chrono::steady_clock::now();
  y.pump(3000);
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double share = (y.cpu_ticks() - before) / static_cast<double>(sysconf(_SC_CLK_TCK)) / wall;
  printf("frozen frame of fft and mirror: %.1f%% of a core\n", 100 * share);
  // Redrawn on every tick these two take a third of a core or more here.
  EXPECT_LT(share, 0.10);
  y.send("exit");
  EXPECT_TRUE(y.wait_exit(10000)) << y.text;
}

std::string output_of(const std::string &command) {
  std::string out;
  char buf[4096];
  FILE *p = popen(command.c_str(), "r");
  for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  if (p) pclose(p);
  return out;
}

// yelm at a terminal (tmux): the end-of-file line and the picture notice
// come from other threads while a half-typed command waits at the prompt.
TEST_F(WindowUse, LinesOfOtherThreadsGoAboveThePromptAndTheTypedText) {
  testkit::write_file(dir + "/.yelmrc", ":0 style fft\n");
  const std::string tmux = "tmux -S '" + dir + "/tmux' ";
  const std::string env = std::string("env DISPLAY=") + getenv("DISPLAY") + " ALSA_CONFIG_PATH=" + YELM_SOURCE_DIR +
                          "/tests/support/asound.conf VSND_IN=/dev/zero VSND_OUT=/dev/null ";
  ASSERT_EQ(system((tmux + "new-session -d -x 150 -y 50 -c '" + dir + "' '" + env + YELM_BINARY_PATH + "'").c_str()), 0);
  struct Server {
    std::string kill;
    ~Server() {
      if (system(kill.c_str()) != 0) fprintf(stderr, "tmux was gone already\n");
    }
  } server{tmux + "kill-server"};
  // The pane stays after the program, for its last words.
  ASSERT_EQ(system((tmux + "set-option remain-on-exit on").c_str()), 0);
  // The screen shows `line`, on a line of its own, then `last` as its last line.
  auto shows = [&](const std::string &line, const std::string &last) {
    for (int t = 0; t < 10000; t += 100, usleep(100 * 1000)) {
      std::string s = output_of(tmux + "capture-pane -p");
      while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
      if (s.compare(s.size() - std::min(s.size(), last.size()), last.size(), last) == 0 &&
          s.find("\n" + line) != std::string::npos)
        return true;
    }
    return false;
  };
  ASSERT_TRUE(shows("yelm--scope$", "\nyelm--scope$"));
  const Window w = livekit::wait_window(dpy, atoi(output_of(tmux + "display -p '#{pane_pid}'").c_str()), 10000);
  ASSERT_NE(w, 0u);

  // Typed while plot runs: the file ends at once on this card.
  ASSERT_EQ(system((tmux + "send-keys 'plot " + demo_wav() + "' Enter 'set VIE'").c_str()), 0);
  EXPECT_TRUE(shows("end of file " + demo_wav() + ": 20.0 s played\n", "\nyelm--scope$ set VIE"))
      << output_of(tmux + "capture-pane -p");
  ASSERT_TRUE(livekit::xdotool("key --window " + std::to_string(w) + " p"));
  EXPECT_TRUE(shows("saved picture yelm-", ")\nyelm--scope$ set VIE")) << output_of(tmux + "capture-pane -p");

  EXPECT_EQ(system((tmux + "send-keys C-u exit Enter").c_str()), 0);
  EXPECT_TRUE(shows("exit.", "")) << output_of(tmux + "capture-pane -p");
}

}  // namespace
