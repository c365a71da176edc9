// The mirror, origami and ifs displays in the whole program, with its window
// under Xvfb and the file-backed sound card: each draws, and the ifs display
// follows the mouse (a zoom switches it to its detail view, which keeps the
// picked frequency that "set :N SLICE" reports).
#include <gtest/gtest.h>
// X11 after gtest: its macros (None, Bool) clash with gtest's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "tests/support/live_kit.h"
#include "tests/support/testkit.h"

namespace {

using livekit::demo_wav;
using livekit::look;
using livekit::Picture;
using livekit::Yelm;

void xdotool(const std::string &args) { ASSERT_TRUE(livekit::xdotool(args)) << args; }

// A drag with button b from (x, y) by (dx, dy), in four motion events.
void drag(const std::string &id, int b, int x, int y, int dx, int dy) {
  std::string cmd = "mousemove --window " + id + " " + std::to_string(x) + " " + std::to_string(y) + " mousedown " +
                    std::to_string(b);
  for (int k = 1; k <= 4; ++k)
    cmd += " mousemove --window " + id + " " + std::to_string(x + dx * k / 4) + " " + std::to_string(y + dy * k / 4);
  xdotool(cmd + " mouseup " + std::to_string(b));
}

double scale_of(const std::string &line) {
  double alt, az, scale;
  return sscanf(line.c_str(), "ALT:%lf AZ:%lf SCALE:%lf", &alt, &az, &scale) == 3 ? scale : -1;
}

// Named like the other window tests ("Window_"), which the thread-sanitizer
// run leaves out: a window comes up too slowly there.
class HarmonicWindow_ : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *d = getenv("DISPLAY");
    if (!d || !*d) GTEST_SKIP() << "DISPLAY is not set";
    dpy = XOpenDisplay(nullptr);
    if (!dpy) GTEST_SKIP() << "cannot open the display";
    dir = testkit::make_temp_dir("harmonic-window");
    testkit::write_file(dir + "/.yelmrc", ":0 x 0\n:0 y 0\n:0 tuna 440\n:0 o.depth 7\n");
    ASSERT_TRUE(testkit::file_exists(demo_wav()));
  }
  void TearDown() override {
    if (dpy) XCloseDisplay(dpy);
  }
  Display *dpy = nullptr;
  std::string dir;
};

TEST_F(HarmonicWindow_, MirrorOrigamiAndIfsDrawAndTheIfsFollowsTheMouse) {
  Yelm y;
  ASSERT_TRUE(y.start(dir, true, true));
  Window w = livekit::wait_window(dpy, y.pid, 10000);
  ASSERT_NE(w, 0u) << y.text;
  ASSERT_TRUE(y.wait_for("yelm--scope$ ", 5000));
  // Other viewers may sit at the origin (tests run side by side), and what
  // another window covers reads back black: move this one clear.
  std::string id = std::to_string(w);
  xdotool("windowmove " + id + " 20 340 windowraise " + id);
  y.pump(300);
  Picture idle = look(dpy, w);

  for (const char *style : {"mirror", "origami", "ifs"}) {
    size_t from = y.text.size();
    y.send(std::string("set :0 style ") + style);
    y.send("plot " + demo_wav());
    ASSERT_TRUE(y.wait_for("audio device started", 10000, from)) << y.text.substr(from);
    EXPECT_NE(y.text.find(std::string("    0  0.00  0.00  1.00  ") + style + "\n", from), std::string::npos)
        << y.text.substr(from);
    y.pump(1500);
    // A picture to look at, beside the checks.
    std::string shot = std::string(YELM_TEST_TMP) + "/window-" + style + ".png";
    EXPECT_EQ(system(("timeout 20 /usr/bin/import -window " + id + " '" + shot + "' >/dev/null 2>&1").c_str()), 0);
    Picture p = look(dpy, w);
    ASSERT_GT(p.total, 0);
    EXPECT_GT(p.lit, p.total / 20) << style << " nearly blank";
    EXPECT_GT(p.colours, 2) << style;  // black and at least two more
    EXPECT_GT(std::abs(p.lit - idle.lit), p.total / 50) << style << " looks like the idle screen";
  }
  EXPECT_NE(y.text.find("***MIRRORS INITIALIZED***\n bass 10\n min[-255 -288] max[323 226]\n"), std::string::npos);
  EXPECT_NE(y.text.find("Internal mirror structure cleaned\n"), std::string::npos) << "mirror state not released";

  // Far out the pick sits by the view vector, 11.25 degrees off the +z pole:
  // a node of bin 1.
  EXPECT_EQ(y.ask("set :0 SLICE", "SLICE Freq"), "SLICE Freq (Hz):  86.13");

  // Zoom in to 0.9 e^1.5 = 4.03 (level 1): detail. Turning the view now
  // keeps the pick.
  drag(id, 2, 200, 100, 0, 150);
  y.pump(500);
  EXPECT_NEAR(scale_of(y.ask("set VIEWPORT", "ALT:")), 0.9 * exp(1.5), 0.02);
  Picture zoomed = look(dpy, w);
  EXPECT_GT(zoomed.lit, zoomed.total / 20) << "detail view nearly blank";
  drag(id, 1, 100, 200, 60, 0);  // 60 degrees about the scene's z axis
  y.pump(500);
  EXPECT_NE(y.ask("set VIEWPORT", "ALT:").find(" AZ:330 "), std::string::npos);
  EXPECT_EQ(y.ask("set :0 SLICE", "SLICE Freq"), "SLICE Freq (Hz):  86.13");

  // Back out: selection again, from the turned view (a bin-6 node).
  drag(id, 2, 200, 250, 0, -150);
  y.pump(500);
  EXPECT_NEAR(scale_of(y.ask("set VIEWPORT", "ALT:")), 0.9, 0.01);
  EXPECT_EQ(y.ask("set :0 SLICE", "SLICE Freq"), "SLICE Freq (Hz): 516.80");

  y.send("exit");
  ASSERT_TRUE(y.wait_exit(10000)) << y.text;
  EXPECT_EQ(y.status, 0) << y.text;
}

}  // namespace
