// The whole program with its window under Xvfb and the file-backed sound
// card: drawing (the spectrum graphs; spiral, iviv, wlet and w2d), the mouse,
// the close button, and running without a display.
#include <gtest/gtest.h>
// X11 after gtest: its macros (None, Bool) clash with gtest's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <png.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/live_kit.h"
#include "tests/support/testkit.h"

namespace {

using livekit::demo_wav;
using livekit::have_display;
using livekit::look;
using livekit::Picture;
using livekit::send_close;
using livekit::wait_window;
using livekit::Yelm;

std::string shell_quote(const std::string &s) { return "'" + s + "'"; }

void xdotool(const std::string &args) { ASSERT_TRUE(livekit::xdotool(args)) << args; }

// Parses "ALT:%g AZ:%g SCALE:%g" after `from`.
bool viewport(const std::string &text, size_t from, double &alt, double &az, double &scale) {
  size_t p = text.find("ALT:", from);
  return p != std::string::npos && sscanf(text.c_str() + p, "ALT:%lf AZ:%lf SCALE:%lf", &alt, &az, &scale) == 3;
}

// A PNG file as RGB rows, top first.
struct Png {
  int width = 0, height = 0;
  std::vector<unsigned char> rgb;
};

bool read_png(const std::string &path, Png &p) {
  png_image img;
  memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, path.c_str())) return false;
  img.format = PNG_FORMAT_RGB;
  p.rgb.resize(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, p.rgb.data(), 0, nullptr)) {
    png_image_free(&img);
    return false;
  }
  p.width = static_cast<int>(img.width);
  p.height = static_cast<int>(img.height);
  return true;
}

// Names after "saved picture " in text, from `from` on.
std::vector<std::string> saved_pictures(const std::string &text, size_t from) {
  std::vector<std::string> names;
  const std::string mark = "saved picture ";
  for (size_t p = text.find(mark, from); p != std::string::npos; p = text.find(mark, p + 1)) {
    size_t start = p + mark.size();
    names.push_back(text.substr(start, text.find(' ', start) - start));
  }
  return names;
}

class Window_ : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_display()) GTEST_SKIP() << "DISPLAY is not set";
    dpy = XOpenDisplay(nullptr);
    if (!dpy) GTEST_SKIP() << "cannot open the display";
    dir = testkit::make_temp_dir("window");
    testkit::write_file(dir + "/.yelmrc", ":0 style fft\n:1 style c5\n:2 style c5c\n:3 style hide\n:3 scale 2\n");
    ASSERT_TRUE(testkit::file_exists(demo_wav()));
  }
  void TearDown() override {
    if (dpy) XCloseDisplay(dpy);
  }
  Display *dpy = nullptr;
  std::string dir;
};

TEST_F(Window_, PlotOfFourDisplaysDrawsAndTheMouseZooms) {
  Yelm y;
  ASSERT_TRUE(y.start(dir, true));
  Window w = wait_window(dpy, y.pid, 10000);
  ASSERT_NE(w, 0u) << y.text;
  ASSERT_TRUE(y.wait_for("yelm--scope$ ", 5000));

  y.send("set VIEWPORT");
  ASSERT_TRUE(y.wait_for("SCALE:", 5000)) << y.text;
  EXPECT_NE(y.text.find("ALT:90 AZ:270 SCALE:0.9\n"), std::string::npos) << y.text;

  Picture idle = look(dpy, w);
  EXPECT_GT(idle.lit, 0) << "idle screen is blank";

  y.send("plot " + demo_wav());
  ASSERT_TRUE(y.wait_for("audio device started", 10000)) << y.text;
  EXPECT_NE(y.text.find("    3  1.00  1.00  2.00  hide\n"), std::string::npos) << y.text;
  y.pump(1500);

  std::string shot = std::string(YELM_TEST_TMP) + "/window-four-displays.png";
  std::string cmd = "timeout 20 /usr/bin/import -window " + std::to_string(w) + " " + shell_quote(shot) + " >/dev/null 2>&1";
  EXPECT_EQ(system(cmd.c_str()), 0);
  EXPECT_TRUE(testkit::file_exists(shot));
  Picture p = look(dpy, w);
  ASSERT_GT(p.total, 0);
  EXPECT_GT(p.lit, p.total / 10) << "window nearly blank";
  EXPECT_GT(p.colours, 20) << "too few colours for the three graphs";

  // Middle button, 100 pixels down: the scene grows by e. Other viewers may
  // sit at the origin (tests run side by side): move this one clear first.
  std::string id = std::to_string(w);
  xdotool("windowmove " + id + " 560 300 windowraise " + id);
  y.pump(300);
  xdotool("mousemove --window " + id + " 200 100 mousedown 2 mousemove --window " + id +
          " 200 125 mousemove --window " + id + " 200 150 mousemove --window " + id + " 200 175 mousemove --window " +
          id + " 200 200 mouseup 2");
  y.pump(500);
  size_t from = y.text.size();
  y.send("set VIEWPORT");
  ASSERT_TRUE(y.wait_for("SCALE:", 5000, from));
  double alt, az, scale;
  ASSERT_TRUE(viewport(y.text, from, alt, az, scale)) << y.text.substr(from);
  EXPECT_NEAR(scale, 0.9 * M_E, 0.01);
  EXPECT_NEAR(alt, 90, 1e-3);
  EXPECT_NEAR(az, 270, 1e-3);

  y.send("exit");
  ASSERT_TRUE(y.wait_exit(10000)) << y.text;
  EXPECT_EQ(y.status, 0) << y.text;
  EXPECT_NE(y.text.find("exit.\n"), std::string::npos);
}

// Pixels in the scene rectangle [x0, x1] x [y0, y1] (the start-up view: scale
// 0.9, y up) that pass `keep`.
int count_in(Display *dpy, Window w, double x0, double x1, double y0, double y1,
             const std::function<bool(int, int, int)> &keep) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(dpy, w, &a) || a.height <= 0) return -1;
  XImage *img = XGetImage(dpy, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
  if (!img) return -1;
  const double aspect = static_cast<double>(a.width) / a.height;
  auto col = [&](double x) { return static_cast<int>((0.9 * x + aspect) / (2 * aspect) * a.width); };
  auto row = [&](double y) { return static_cast<int>((1 - 0.9 * y) / 2 * a.height); };
  int n = 0;
  for (int py = std::max(0, row(y1)); py <= std::min(a.height - 1, row(y0)); ++py)
    for (int px = std::max(0, col(x0)); px <= std::min(a.width - 1, col(x1)); ++px) {
      unsigned long v = XGetPixel(img, px, py);
      if (keep((v >> 16) & 0xff, (v >> 8) & 0xff, v & 0xff)) ++n;
    }
  XDestroyImage(img);
  return n;
}

TEST_F(Window_, SpiralIvivWletAndW2dDrawAPlayedFile) {
  // Placed apart on the screen (y is depth for all but w2d): the spiral on the
  // left in front, the wlet rings behind on the right, w2d's grids reaching
  // above the others' tops; iviv in the middle.
  testkit::write_file(dir + "/.yelmrc",
                      ":0 style spiral\n:0 x -0.95\n:0 y 3\n:1 style iviv\n:1 x -0.2\n:1 y 0\n"
                      ":2 style wlet\n:2 x 0.75\n:2 y -3\n:3 style w2d\n:3 x 0.1\n:3 y 1\n");
  Yelm y;
  ASSERT_TRUE(y.start(dir, true));
  Window w = wait_window(dpy, y.pid, 10000);
  ASSERT_NE(w, 0u) << y.text;
  ASSERT_TRUE(y.wait_for("yelm--scope$ ", 5000));
  y.send("plot " + demo_wav());
  ASSERT_TRUE(y.wait_for("audio device started", 10000)) << y.text;
  EXPECT_NE(y.text.find("    3  0.10  1.00  1.00  w2d quadrant:2\n"), std::string::npos) << y.text;
  y.pump(1500);

  std::string shot = std::string(YELM_TEST_TMP) + "/window-spiral-iviv-wlet-w2d.png";
  std::string cmd = "timeout 20 /usr/bin/import -window " + std::to_string(w) + " " + shell_quote(shot) + " >/dev/null 2>&1";
  EXPECT_EQ(system(cmd.c_str()), 0);
  Picture p = look(dpy, w);
  ASSERT_GT(p.total, 0);
  EXPECT_GT(p.lit, p.total / 10) << "window nearly blank";

  auto lit = [](int r, int g, int b) { return r + g + b > 0; };
  auto coloured = [](int r, int g, int b) { return std::max({r, g, b}) - std::min({r, g, b}) > 30; };
  // The spiral's ribbon (radius up to 0.2 round x -0.95).
  EXPECT_GT(count_in(dpy, w, -1.08, -0.8, -0.95, 0.95, lit), 500) << "spiral";
  // The wlet rings' colours (its axis and spokes are white).
  EXPECT_GT(count_in(dpy, w, 0.4, 1.05, -0.85, -0.1, coloured), 500) << "wlet";
  // w2d's grids above height 1.
  EXPECT_GT(count_in(dpy, w, 0.15, 1.05, 1.02, 1.1, lit), 500) << "w2d";

  y.send("exit");
  ASSERT_TRUE(y.wait_exit(10000)) << y.text;
  EXPECT_EQ(y.status, 0) << y.text;
}

TEST_F(Window_, CloseButtonEndsTheProgramWithItsNotice) {
  Yelm y;
  ASSERT_TRUE(y.start(dir, true));
  Window w = wait_window(dpy, y.pid, 10000);
  ASSERT_NE(w, 0u);
  ASSERT_TRUE(y.wait_for("yelm--scope$ ", 5000));
  y.send("analyse :1 c5.log");  // a log still open at the close
  y.send("plot " + demo_wav());
  ASSERT_TRUE(y.wait_for("audio device started", 10000)) << y.text;
  y.pump(500);
  send_close(dpy, w);
  ASSERT_TRUE(y.wait_exit(10000)) << y.text;
  // The way out closes the log before the process ends; the notice marks
  // the window close last.
  const size_t done = y.text.find(" +analysis done.\n");
  ASSERT_NE(done, std::string::npos) << y.text;
  EXPECT_NE(y.text.find("\n\nExit via close button... ", done), std::string::npos) << y.text;
  EXPECT_EQ(y.status, 0) << y.text;
}

TEST_F(Window_, EndOfInputWhileTheWindowRunsExitsCleanly) {
  Yelm y;
  ASSERT_TRUE(y.start(dir, true));
  ASSERT_NE(wait_window(dpy, y.pid, 10000), 0u);
  y.send("plot " + demo_wav());
  ASSERT_TRUE(y.wait_for("audio device started", 10000)) << y.text;
  y.pump(300);
  close(y.in);
  y.in = -1;
  ASSERT_TRUE(y.wait_exit(10000)) << y.text;
  EXPECT_EQ(y.status, 1) << "end of input exits with 1, not a crash: " << y.text;
}

TEST_F(Window_, IdleWindowDoesNotSpinACore) {
  Yelm y;
  ASSERT_TRUE(y.start(dir, true));
  ASSERT_NE(wait_window(dpy, y.pid, 10000), 0u);
  ASSERT_TRUE(y.wait_for("yelm--scope$ ", 5000));
  y.pump(500);
  long before = y.cpu_ticks();
  auto t0 = std::chrono::steady_clock::now();
  y.pump(3000);
  long after = y.cpu_ticks();
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  ASSERT_GE(before, 0);
  double share = (after - before) / static_cast<double>(sysconf(_SC_CLK_TCK)) / wall;
  printf("idle window: %.1f%% of a core\n", 100 * share);
  // Far above what the paced loop uses, far below a spinning one.
  EXPECT_LT(share, 0.10);
  y.send("exit");
  EXPECT_TRUE(y.wait_exit(10000));
}

// Pixels of the pure blue that heat_colour gives a medium at rest.
int blue_pixels(Display *dpy, Window w) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(dpy, w, &a)) return 0;
  XImage *img = XGetImage(dpy, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
  if (!img) return 0;
  int n = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      const unsigned long px = XGetPixel(img, x, y);
      const int r = (px >> 16) & 255, g = (px >> 8) & 255, b = px & 255;
      if (b > 150 && r < 80 && g < 80) ++n;
    }
  XDestroyImage(img);
  return n;
}

TEST_F(Window_, DemoStartsShowTheSurfacesAndTheCloseButtonEndsWithZero) {
  // The file-backed card with silence, unless the suite chose one already.
  setenv("ALSA_CONFIG_PATH", (std::string(YELM_SOURCE_DIR) + "/tests/support/asound.conf").c_str(), 0);
  setenv("VSND_IN", "/dev/zero", 0);
  setenv("VSND_OUT", "/dev/null", 0);
  testkit::write_file(dir + "/field", testkit::read_file(std::string(YELM_SOURCE_DIR) + "/examples/field"));
  for (int demo : {1, 2}) {
    SCOPED_TRACE(demo == 1 ? "demo 1: mirage" : "demo 2: tfield");
    testkit::write_file(dir + "/.yelmrc", "demo " + std::to_string(demo) + "\n:0 style transform\n:0 x 0\n:0 y 0\n");
    Yelm y;
    ASSERT_TRUE(y.start(dir, true));
    Window w = wait_window(dpy, y.pid, 10000);
    ASSERT_NE(w, 0u) << y.text;
    int blue = 0;
    for (int t = 0; t < 100 && blue == 0; ++t) {
      y.pump(50);
      blue = blue_pixels(dpy, w);
    }
    EXPECT_GT(blue, 0) << "no medium at rest in the window";
    send_close(dpy, w);
    ASSERT_TRUE(y.wait_exit(10000)) << y.text;
    EXPECT_EQ(y.status, 0) << y.text;
    // Detached before the live start: the banner only, and never a prompt.
    EXPECT_NE(y.text.find("yelm v1.9-jan-2010"), std::string::npos) << y.text;
    EXPECT_EQ(y.text.find("yelm--scope$"), std::string::npos) << y.text;
    EXPECT_EQ(y.text.find("crystal #0"), std::string::npos) << y.text;
  }
}

TEST(NoDisplay, ASignalTakesTheWayOutOfARunningLiveTransform) {
  setenv("ALSA_CONFIG_PATH", (std::string(YELM_SOURCE_DIR) + "/tests/support/asound.conf").c_str(), 0);
  setenv("VSND_IN", "/dev/zero", 0);
  setenv("VSND_OUT", "/dev/null", 0);
  std::string dir = testkit::make_temp_dir("signal");
  for (int sig : {SIGINT, SIGTERM}) {
    Yelm y;
    ASSERT_TRUE(y.start(dir, false));
    ASSERT_TRUE(y.wait_for("yelm--scope$ ", 5000)) << y.text;
    y.send("tether");
    ASSERT_TRUE(y.wait_for("audio device started", 10000)) << y.text;
    y.pump(200);
    kill(y.pid, sig);
    ASSERT_TRUE(y.wait_exit(10000)) << y.text;
    EXPECT_EQ(y.status, 0) << y.text;
    EXPECT_NE(y.text.find("exit.\n"), std::string::npos) << y.text;
  }
}

TEST_F(Window_, KeyPSavesWhatTheWindowShowsAndNeverOverwrites) {
  Yelm y;
  ASSERT_TRUE(y.start(dir, true));
  Window w = wait_window(dpy, y.pid, 10000);
  ASSERT_NE(w, 0u) << y.text;
  ASSERT_TRUE(y.wait_for("yelm--scope$ ", 5000));
  // Files already named for this second and the next ones: the pictures
  // must go around them.
  std::vector<std::string> decoys;
  const time_t now = time(nullptr);
  for (int s = 0; s < 8; ++s) {
    const time_t t = now + s;
    struct tm local;
    localtime_r(&t, &local);
    char name[64];
    strftime(name, sizeof name, "yelm-%Y%m%d-%H%M%S.png", &local);
    decoys.push_back(name);
    ASSERT_TRUE(testkit::write_file(dir + "/" + name, "decoy"));
  }
  // Clear of the viewers other tests leave at the origin, so the screen
  // shows this one's top rows.
  const std::string id = std::to_string(w);
  xdotool("windowmove " + id + " 610 0 windowraise " + id);
  y.pump(500);
  const size_t from = y.text.size();
  // Two presses at once: two pictures of the same second.
  xdotool("key --window " + id + " p p");
  for (int t = 0; t < 10000 && saved_pictures(y.text, from).size() < 2; t += 50) y.pump(50);
  std::vector<std::string> names = saved_pictures(y.text, from);
  ASSERT_EQ(names.size(), 2u) << y.text.substr(from);
  EXPECT_NE(names[0], names[1]);
  for (const std::string &d : decoys) {
    EXPECT_EQ(testkit::read_file(dir + "/" + d), "decoy") << d;
    for (const std::string &n : names) EXPECT_NE(n, d);
  }

  XWindowAttributes a;
  ASSERT_TRUE(XGetWindowAttributes(dpy, w, &a));
  const int rows = a.height < 280 ? a.height : 280;
  XImage *img = XGetImage(dpy, w, 0, 0, a.width, rows, AllPlanes, ZPixmap);
  ASSERT_NE(img, nullptr);
  for (const std::string &n : names) {
    EXPECT_EQ(n.compare(0, 5, "yelm-"), 0) << n;
    Png p;
    ASSERT_TRUE(read_png(dir + "/" + n, p)) << n;
    ASSERT_EQ(p.width, a.width);
    ASSERT_EQ(p.height, a.height);
    long lit = 0;
    for (size_t k = 0; k < p.rgb.size(); k += 3) lit += p.rgb[k] || p.rgb[k + 1] || p.rgb[k + 2];
    EXPECT_GT(lit, 100) << n << " is blank";
    // Upright and the same picture the screen shows: of the pixels lit in
    // either, nearly all agree.
    long either = 0, agree = 0;
    for (int yy = 0; yy < rows; ++yy)
      for (int x = 0; x < a.width; ++x) {
        const unsigned long px = XGetPixel(img, x, yy) & 0xffffff;
        const unsigned char *q = &p.rgb[3 * (static_cast<size_t>(yy) * a.width + x)];
        const unsigned long pq = (static_cast<unsigned long>(q[0]) << 16) | (q[1] << 8) | q[2];
        if (!px && !pq) continue;
        ++either;
        agree += px == pq;
      }
    EXPECT_GT(either, 100);
    EXPECT_GT(agree, 0.9 * either) << n << ": " << agree << " of " << either;
  }
  XDestroyImage(img);

  y.send("exit");
  ASSERT_TRUE(y.wait_exit(10000)) << y.text;
  EXPECT_EQ(y.status, 0);
}

TEST(NoDisplay, WarnsOnceAndTransformsStillRun) {
  std::string dir = testkit::make_temp_dir("nodisplay");
  testkit::Wav wav = testkit::sine_wav(44100, 44100, {{440, 0.3}});
  ASSERT_TRUE(testkit::write_wav(dir + "/in.wav", wav));
  Yelm y;
  ASSERT_TRUE(y.start(dir, false));
  ASSERT_TRUE(y.wait_for("yelm--scope$ ", 5000)) << y.text;
  y.send("set VIEWPORT");
  y.send("fold out.wav in.wav");
  y.send("plot in.wav");
  ASSERT_TRUE(y.wait_for("audio device started", 10000)) << y.text;
  // the one-second file ends; the idle loop stops the stream on its own
  y.pump(2500);
  y.send("exit");
  ASSERT_TRUE(y.wait_exit(10000)) << y.text;
  EXPECT_EQ(y.status, 0) << y.text;
  EXPECT_EQ(testkit::count(y.text, "*** warning: no window (DISPLAY is not set): going on without the viewer\n"), 1)
      << y.text;
  EXPECT_NE(y.text.find("ALT:90 AZ:270 SCALE:0.9"), std::string::npos);
  EXPECT_TRUE(testkit::file_exists(dir + "/out.wav")) << y.text;
  testkit::Wav out;
  ASSERT_TRUE(testkit::read_wav(dir + "/out.wav", out));
  EXPECT_GT(out.frames(), 0u);
  EXPECT_NE(y.text.find("[.]"), std::string::npos) << y.text;
}

}  // namespace
