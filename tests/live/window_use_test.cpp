// The window as a musician uses it, whole program under Xvfb with the
// file-backed card: the view keys, the window's size, a frozen frame that
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
#include <functional>
#include <string>
#include <vector>

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

// Once the file has ended nothing changes: the busiest types cost nothing.
TEST_F(WindowUse, AFrozenFrameIsNotDrawnAgain) {
  Yelm y;
  const Window w = start(y, ":0 style fft\n:0 source file.left\n:1 style mirror\n:1 source file.right\n");
  ASSERT_NE(w, 0u) << y.text;
  y.send("plot " + demo_wav());
  ASSERT_TRUE(y.wait_for("end of file ", 10000)) << y.text;
  y.pump(500);
  const long before = y.cpu_ticks();
  const auto t0 = std::chrono::steady_clock::now();
  y.pump(3000);
  const long after = y.cpu_ticks();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  ASSERT_GE(before, 0);
  const double share = (after - before) / static_cast<double>(sysconf(_SC_CLK_TCK)) / wall;
  printf("frozen frame of fft and mirror: %.1f%% of a core\n", 100 * share);
  // Redrawn on every tick these two take a third of a core or more here.
  EXPECT_LT(share, 0.10);
  y.send("exit");
  EXPECT_TRUE(y.wait_exit(10000)) << y.text;
}

// What a command prints on standard output.
std::string output_of(const std::string &command) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// The non-empty lines of a terminal screen.
std::vector<std::string> screen_lines(const std::string &screen) {
  std::vector<std::string> lines;
  size_t p = 0;
  while (p < screen.size()) {
    size_t e = screen.find('\n', p);
    if (e == std::string::npos) e = screen.size();
    std::string line = screen.substr(p, e - p);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    p = e + 1;
  }
  return lines;
}

// yelm at a terminal (tmux): the end-of-file line and the picture notice
// come from other threads while a half-typed command waits at the prompt.
TEST_F(WindowUse, LinesOfOtherThreadsGoAboveThePromptAndTheTypedText) {
  testkit::write_file(dir + "/.yelmrc", ":0 style fft\n:0 source file.left\n");
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
  auto screen = [&] { return screen_lines(output_of(tmux + "capture-pane -p")); };
  auto wait_screen = [&](const std::function<bool(const std::vector<std::string> &)> &done) {
    for (int t = 0; t < 10000; t += 100) {
      if (done(screen())) return true;
      usleep(100 * 1000);
    }
    return false;
  };
  const std::string waiting = "yelm--scope$ set VIE";
  auto last_is = [](const std::vector<std::string> &l, const std::string &what) {
    return !l.empty() && l.back() == what;
  };
  ASSERT_TRUE(wait_screen([&](const std::vector<std::string> &l) { return last_is(l, "yelm--scope$"); }));
  const pid_t pid = atoi(output_of(tmux + "display -p '#{pane_pid}'").c_str());
  const Window w = wait_window(dpy, pid, 10000);
  ASSERT_NE(w, 0u);

  // Typed while plot runs: the file ends at once on this card.
  ASSERT_EQ(system((tmux + "send-keys 'plot " + demo_wav() + "' Enter 'set VIE'").c_str()), 0);
  auto whole_line_then_prompt = [&](const std::vector<std::string> &l, const std::string &start) {
    for (size_t i = 0; i + 1 < l.size(); ++i)
      if (l[i].compare(0, start.size(), start) == 0) return last_is(l, waiting);
    return false;
  };
  EXPECT_TRUE(wait_screen([&](const std::vector<std::string> &l) {
    return whole_line_then_prompt(l, "end of file " + demo_wav() + ": 20.0 s played");
  })) << output_of(tmux + "capture-pane -p");

  key(w, "p");
  EXPECT_TRUE(wait_screen([&](const std::vector<std::string> &l) {
    return whole_line_then_prompt(l, "saved picture yelm-");
  })) << output_of(tmux + "capture-pane -p");
  const std::vector<std::string> l = screen();
  ASSERT_GE(l.size(), 2u);
  EXPECT_EQ(l[l.size() - 2].compare(0, 19, "saved picture yelm-"), 0) << l[l.size() - 2];

  EXPECT_EQ(system((tmux + "send-keys C-u exit Enter").c_str()), 0);
  EXPECT_TRUE(wait_screen([&](const std::vector<std::string> &l) {
    return std::find(l.begin(), l.end(), "exit.") != l.end();
  })) << output_of(tmux + "capture-pane -p");
}

}  // namespace
