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

#include "tests/support/testkit.h"

namespace {

const char kTitle[] = "yelm >- DOV Audio Viewer";

std::string demo_wav() { return std::string(YELM_SOURCE_DIR) + "/examples/demo.wav"; }

struct Yelm {
  pid_t pid = -1;
  int in = -1, out = -1;
  std::string text;
  int status = -1;

  bool start(const std::string &cwd) {
    int pin[2], pout[2];
    if (pipe(pin) || pipe(pout)) return false;
    pid = fork();
    if (pid == 0) {
      dup2(pin[0], 0);
      dup2(pout[1], 1);
      dup2(pout[1], 2);
      close(pin[1]);
      close(pout[0]);
      if (chdir(cwd.c_str()) != 0) _exit(126);
      const std::string card = std::string(YELM_SOURCE_DIR) + "/tests/support/asound.conf";
      setenv("ALSA_CONFIG_PATH", card.c_str(), 1);
      setenv("VSND_IN", "/dev/zero", 1);
      setenv("VSND_OUT", "/dev/null", 1);
      execl(YELM_BINARY_PATH, YELM_BINARY_PATH, static_cast<char *>(nullptr));
      _exit(127);
    }
    close(pin[0]);
    close(pout[1]);
    in = pin[1];
    out = pout[0];
    fcntl(out, F_SETFL, O_NONBLOCK);
    return pid > 0;
  }
  void send(const std::string &line) {
    std::string l = line + "\n";
    ssize_t n = write(in, l.data(), l.size());
    (void)n;
  }
  void pump(int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{out, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) {
        char buf[4096];
        ssize_t n = read(out, buf, sizeof buf);
        if (n > 0) text.append(buf, n);
      }
    }
  }
  bool wait_for(const std::string &what, int ms, size_t from = 0) {
    for (int t = 0; t < ms; t += 50) {
      if (text.find(what, from) != std::string::npos) return true;
      pump(50);
    }
    return text.find(what, from) != std::string::npos;
  }
  // The console's answer to a command: the text from what it prints first
  // up to the end of that line.
  std::string ask(const std::string &command, const std::string &answer) {
    size_t from = text.size();
    send(command);
    if (!wait_for(answer, 5000, from)) return "";
    size_t p = text.find(answer, from);
    while (text.find('\n', p) == std::string::npos) pump(50);
    return text.substr(p, text.find('\n', p) - p);
  }
  bool wait_exit(int ms) {
    for (int t = 0; t < ms; t += 50) {
      pump(50);
      int st;
      if (waitpid(pid, &st, WNOHANG) == pid) {
        status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        pid = -1;
        return true;
      }
    }
    return false;
  }
  ~Yelm() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (in >= 0) close(in);
    if (out >= 0) close(out);
  }
};

// The viewer window of process pid (tests may run side by side).
Window wait_window(pid_t pid, int ms) {
  const std::string cmd = "timeout 5 xdotool search --all --pid " + std::to_string(pid) + " --name '^" + kTitle +
                          "$' 2>/dev/null";
  for (int t = 0; t < ms; t += 100) {
    FILE *p = popen(cmd.c_str(), "r");
    unsigned long id = 0;
    bool found = p && fscanf(p, "%lu", &id) == 1;
    if (p) pclose(p);
    if (found) return static_cast<Window>(id);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return 0;
}

struct Picture {
  int lit = 0, colours = 0, total = 0;
};

Picture look(Display *dpy, Window w) {
  Picture p;
  XWindowAttributes a;
  if (!XGetWindowAttributes(dpy, w, &a)) return p;
  XImage *img = XGetImage(dpy, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
  if (!img) return p;
  std::set<unsigned long> seen;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      unsigned long px = XGetPixel(img, x, y) & 0xffffff;
      if (px) ++p.lit;
      if (seen.size() < 4096) seen.insert(px);
    }
  p.colours = static_cast<int>(seen.size());
  p.total = a.width * a.height;
  XDestroyImage(img);
  return p;
}

void xdotool(const std::string &args) {
  std::string cmd = "timeout 20 xdotool " + args + " >/dev/null 2>&1";
  ASSERT_EQ(system(cmd.c_str()), 0) << cmd;
}

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
  ASSERT_TRUE(y.start(dir));
  Window w = wait_window(y.pid, 10000);
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
