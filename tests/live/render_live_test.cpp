// A render shows what the window shows: a 440 Hz tone through a c5 display,
// rendered from a file and plotted live from the card, lights the same bins.
#include <gtest/gtest.h>
// X11 after gtest: its macros (None, Bool) clash with gtest's names.
#include <X11/Xlib.h>
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/live_kit.h"
#include "tests/support/testkit.h"

namespace {

constexpr int kRate = 44100;

// The pixels a c5 bin of middling strength lights (heat colours, not the
// white spokes and labels or the blue of an empty bin).
std::vector<bool> hot_pixels(const std::string &path, int &count) {
  png_image img;
  memset(&img, 0, sizeof img);
  img.version = PNG_IMAGE_VERSION;
  std::vector<bool> hot;
  count = 0;
  if (!png_image_begin_read_from_file(&img, path.c_str())) return hot;
  img.format = PNG_FORMAT_RGB;
  std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, rgb.data(), 0, nullptr)) return hot;
  hot.resize(rgb.size() / 3);
  for (size_t i = 0; i < hot.size(); ++i) {
    hot[i] = rgb[3 * i] >= 77 && rgb[3 * i + 2] <= 128;
    count += hot[i];
  }
  return hot;
}

TEST(RenderAndPlot, A440HzToneLightsTheSameC5BinsInBoth) {
  if (!livekit::have_display()) GTEST_SKIP() << "DISPLAY is not set";
  Display *dpy = XOpenDisplay(nullptr);
  if (!dpy) GTEST_SKIP() << "cannot open the display";
  const std::string dir = testkit::make_temp_dir("render-live");
  // One c5 display in the middle of the window, quiet enough that the tone's
  // bins do not saturate. Seen from above, a bin swings out sideways by the
  // sine of its angle on the circle: at 350 Hz tuning, 440 Hz lies a
  // quarter turn round.
  const std::string places = "tuna 350\nwindow 400x400\n:0 style c5\n:0 x 0\n:0 y 0\n:0 scale 0.05\n";

  // Rendered: the file's left channel, at 11 s, when all 256 rows of the
  // history hold the tone.
  ASSERT_TRUE(testkit::write_wav(dir + "/tone.wav", testkit::sine_wav(kRate, 12 * kRate, {{440, 0.3}})));
  ASSERT_TRUE(testkit::write_file(dir + "/render.rc", places + ":0 source file.left\n"));
  testkit::RunOptions o;
  o.cwd = dir;
  o.args = {"--render", "render.png", "tone.wav", "--size", "400x400", "--from", "11", "--settings", "render.rc"};
  const testkit::RunResult r = testkit::run_yelm("", o);
  ASSERT_EQ(r.status, 0) << r.out << r.err;

  // Plotted: the card's left input carries the same tone, from a FIFO the
  // file-backed card reads as fast as it is filled; one second holds 440
  // whole periods, so it repeats seamlessly.
  const std::string fifo = dir + "/card.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int card = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(card, 0);
  fcntl(card, F_SETPIPE_SZ, 1 << 20);
  std::vector<float> second(2 * kRate);
  for (int i = 0; i < kRate; ++i)
    second[2 * i] = second[2 * i + 1] = static_cast<float>(0.3 * 32767 / 32768 * sin(2 * M_PI * 440 * i / kRate));
  size_t at = 0;  // bytes of `second` written
  auto top_up = [&] {
    const char *bytes = reinterpret_cast<const char *>(second.data());
    const size_t size = second.size() * sizeof(float);
    for (;;) {
      const ssize_t n = write(card, bytes + at, size - at);
      if (n <= 0) return;
      at = (at + n) % size;
    }
  };
  ASSERT_TRUE(testkit::write_file(dir + "/.yelmrc", places));
  livekit::Yelm y;
  y.env = {{"VSND_IN", fifo}};
  ASSERT_TRUE(y.start(dir, true, true));
  const Window w = livekit::wait_window(dpy, y.pid, 10000);
  ASSERT_NE(w, 0u) << y.text;
  ASSERT_TRUE(y.wait_for("yelm--scope$ ", 5000));
  y.send("plot");
  for (int t = 0; t < 400; ++t) {  // 4 s: the history fills with the tone
    top_up();
    y.pump(10);
  }
  const size_t from = y.text.size();
  ASSERT_TRUE(livekit::xdotool("key --window " + std::to_string(w) + " p"));
  for (int t = 0; t < 1000 && y.text.find(".png", from) == std::string::npos; ++t) {
    top_up();
    y.pump(10);
  }
  close(card);  // the card reads the end of its input and no longer waits
  const size_t mark = y.text.find("saved picture ", from);
  ASSERT_NE(mark, std::string::npos) << y.text.substr(from);
  const size_t name = mark + strlen("saved picture ");
  const std::string live = y.text.substr(name, y.text.find(' ', name) - name);
  y.send("exit");
  EXPECT_TRUE(y.wait_exit(10000)) << y.text;
  XCloseDisplay(dpy);

  int rendered_count = 0, live_count = 0;
  const std::vector<bool> rendered = hot_pixels(dir + "/render.png", rendered_count);
  const std::vector<bool> plotted = hot_pixels(dir + "/" + live, live_count);
  ASSERT_EQ(rendered.size(), plotted.size()) << live;
  ASSERT_GT(rendered_count, 500) << "the tone lights nothing in the render";
  ASSERT_GT(live_count, 500) << "the tone lights nothing in the window";
  int both = 0;
  for (size_t i = 0; i < rendered.size(); ++i) both += rendered[i] && plotted[i];
  const double overlap = static_cast<double>(both) / (rendered_count + live_count - both);
  EXPECT_GT(overlap, 0.8) << rendered_count << " lit in the render, " << live_count << " in the window, " << both
                          << " in both";
}

}  // namespace
