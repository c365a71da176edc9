// A 48 kHz file on a card that runs only at 44100 Hz (JACK's dummy card, in
// real time, under a server name of its own): the file is converted, plays
// for as long as it lasts, and its 440 Hz tone lands in the 440 Hz bin.
#include <gtest/gtest.h>
// X11 after gtest: its macros (None, Bool) clash with gtest's names.
#include <X11/Xlib.h>
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/live_kit.h"
#include "tests/support/testkit.h"

namespace {

// The numbers of each line of a log.
std::vector<std::vector<double>> numbers_of(const std::string &text) {
  std::vector<std::vector<double>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::istringstream l(line);
    rows.emplace_back();
    for (double v; l >> v;) rows.back().push_back(v);
  }
  return rows;
}

}  // namespace

TEST(RateLive, A48kHzFileOnA44100HzCardPlaysAtItsSpeedAndPitch) {
  if (!livekit::have_display()) GTEST_SKIP() << "DISPLAY is not set";
  if (system("command -v jackd >/dev/null 2>&1") != 0) GTEST_SKIP() << "jackd is not installed";
  Display *dpy = XOpenDisplay(nullptr);
  if (!dpy) GTEST_SKIP() << "cannot open the display";
  const std::string dir = testkit::make_temp_dir("rate-live");
  ASSERT_EQ(system(("sox -n -r 48000 -c 2 -b 16 " + dir + "/tone48.wav synth 6 sine 440 vol 0.5").c_str()), 0);
  livekit::JackServer jack;
  ASSERT_TRUE(jack.start(44100, dir)) << testkit::read_file(dir + "/jackd.log");
  // ALSA gets a card that fails quietly, so the stream opens on JACK.
  ASSERT_TRUE(testkit::write_file(dir + "/asound.conf", "pcm.!default { type hw card 99 }\n"));

  livekit::Yelm y;
  y.env = {{"ALSA_CONFIG_PATH", dir + "/asound.conf"}, {"JACK_DEFAULT_SERVER", jack.name}};
  ASSERT_TRUE(y.start(dir));
  ASSERT_NE(livekit::wait_window(dpy, y.pid, 30000), 0u) << y.text;
  const auto before = jack.clocks();
  y.send("set :2 style iviv\nset :2 tuna 270\nset :3 style c5\nanalyse :2 iviv.log\nanalyse :3 c5.log\nplot tone48.wav");
  ASSERT_TRUE(y.wait_for("the card runs at 44100 Hz: converting the file's 48000 Hz\n", 20000)) << y.text;
  ASSERT_TRUE(y.wait_for("audio device started ....\n", 20000)) << y.text;
  ASSERT_TRUE(y.wait_for("\a", 30000)) << y.text;  // the file has ended
  const auto after = jack.clocks();
  y.send("exit");
  ASSERT_TRUE(y.wait_exit(10000)) << y.text;
  XCloseDisplay(dpy);

  // One c5 line per drawn frame while the file played: the first and the last
  // lie a frame or two inside the time the card took for the 264365 frames
  // that 281 whole blocks of 1024 frames at 48 kHz make at 44.1 kHz.
  // Played unconverted, the file would have lasted 8.8 % longer.
  ASSERT_GT(before.first, 0);
  ASSERT_GT(after.first, before.first);
  const double pace = (after.first - before.first) / (after.second - before.second) * 1e6;
  EXPECT_NEAR(pace, 44100, 44100 * 0.25);
  const auto c5 = numbers_of(testkit::read_file(dir + "/c5.log"));
  ASSERT_GE(c5.size(), 10u);
  const double span = c5.back()[0] - c5.front()[0], played = 264365 / pace;
  EXPECT_GT(span, played - 0.4);
  EXPECT_LT(span, played + 0.15);

  // iviv lines: time, bin, partner bin, their magnitudes, their ratios.
  // Tuned to 270 Hz the tuning bin is floor(512 x 270 / 44100) = 3 (it would
  // be 2 at 48000 Hz), so every bin is floor(3 x ratio) (the ratio is logged
  // to six decimals: 2 may stand for 1.9999999); the fifth's bin 4 holds
  // spectrum term 5, where 440 Hz lies at 44100 Hz, and is the loudest.
  const auto iviv = numbers_of(testkit::read_file(dir + "/iviv.log"));
  ASSERT_GE(iviv.size(), 100u);
  const std::vector<double> *loudest = &iviv.front();
  for (const auto &f : iviv) {
    ASSERT_EQ(f.size(), 7u);
    ASSERT_LE(f[1], 3 * f[5] + 1e-4) << f[5];
    ASSERT_GT(f[1], 3 * f[5] - 1 - 1e-4) << f[5];
    if (f[3] > (*loudest)[3]) loudest = &f;
  }
  EXPECT_EQ((*loudest)[1], 4);
}
