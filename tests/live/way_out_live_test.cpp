// The world outside failing under a running program: the sound server or
// the X server goes away, and the program still answers and ends well.
#include <gtest/gtest.h>
// X11 after gtest: its macros (None, Bool) clash with gtest's names.
#include <X11/Xlib.h>
#include <signal.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/live_kit.h"
#include "tests/support/testkit.h"

namespace {

const char kPrompt[] = "yelm--scope$ ";
// The way out ends the program within 15 s, whatever holds it up.
constexpr int kWayOutMs = 20000;

uint32_t le32(const std::vector<unsigned char> &b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

}  // namespace

// JACK ends while a file plays: stopping the stream would wait in the
// library for some ten minutes, holding the feed, and closing the library
// afterwards aborted the process.
TEST(WayOutLive, TheSoundServersLossLeavesTheStreamBehind) {
  if (system("command -v jackd >/dev/null 2>&1") != 0) GTEST_SKIP() << "jackd is not installed";
  const std::string dir = testkit::make_temp_dir("way-out-jack");
  ASSERT_TRUE(testkit::write_wav(dir + "/long.wav", testkit::sine_wav(44100, 44100 * 30, {{440, 0.3}})));
  livekit::JackServer jack;
  ASSERT_TRUE(jack.start(44100, dir)) << testkit::read_file(dir + "/jackd.log");
  // ALSA gets a card that fails quietly, so the stream opens on JACK.
  ASSERT_TRUE(testkit::write_file(dir + "/asound.conf", "pcm.!default { type hw card 99 }\n"));
  livekit::Yelm y;
  y.env = {{"ALSA_CONFIG_PATH", dir + "/asound.conf"}, {"JACK_DEFAULT_SERVER", jack.name}};
  ASSERT_TRUE(y.start(dir, false));
  y.send("plot long.wav");
  ASSERT_TRUE(y.wait_for("audio device started ....\n", 20000)) << y.text;
  y.pump(500);
  jack.stop();
  y.pump(1000);

  size_t from = y.text.size();
  y.send("mute");
  const std::string left = "*** warning: the sound card did not stop within 3 s: the stream is left behind\n";
  ASSERT_TRUE(y.wait_for(left, 10000, from)) << y.text.substr(from);
  EXPECT_TRUE(y.wait_for(kPrompt, 5000, y.text.find(left, from))) << y.text.substr(from);
  // Nothing else may call the library while it holds the stream.
  from = y.text.size();
  y.send("plot long.wav");
  EXPECT_TRUE(y.wait_for("*** warning: the sound card has not let go of the last stream: not started\n", 10000, from))
      << y.text.substr(from);
  y.send("exit");
  ASSERT_TRUE(y.wait_exit(kWayOutMs)) << y.text;
  EXPECT_EQ(y.status, 0) << y.text;
  EXPECT_NE(y.text.find("exit.\n"), std::string::npos) << y.text;
}

// The X server ends during a whole-file command: Xlib's own ending skipped
// the way out, so the output kept a header claiming the whole input.
TEST(WayOutLive, TheDisplaysLossStopsTheCommandWithATrueOutput) {
  const std::string dir = testkit::make_temp_dir("way-out-x");
  livekit::XServer x;
  ASSERT_TRUE(x.start(dir)) << "no X server of the test's own";
  Display *dpy = XOpenDisplay(x.display.c_str());
  ASSERT_NE(dpy, nullptr);
  const int frames = 44100 * 40;
  ASSERT_TRUE(testkit::write_wav(dir + "/long.wav", testkit::sine_wav(44100, frames, {{440, 0.3}})));
  ASSERT_TRUE(testkit::write_file(dir + "/field", testkit::read_file(std::string(YELM_SOURCE_DIR) + "/examples/field")));
  livekit::Yelm y;
  y.env = {{"DISPLAY", x.display}};
  ASSERT_TRUE(y.start(dir, true));
  ASSERT_NE(livekit::wait_window(dpy, y.pid, 30000), 0u) << y.text;
  XCloseDisplay(dpy);
  y.send("set s.passes 10");
  y.send("tfield out.wav long.wav");
  ASSERT_TRUE(y.wait_for("audio I/O ok\n..", 30000)) << y.text;
  x.stop();
  ASSERT_TRUE(y.wait_exit(kWayOutMs)) << y.text;
  EXPECT_EQ(y.status, 1);
  EXPECT_NE(y.text.find("*** the display was lost: the X server went away. leaving.\n"), std::string::npos) << y.text;
  EXPECT_EQ(y.text.find("Exit via close button"), std::string::npos) << y.text;
  const std::string mark = "stopped: the program is ending; 'out.wav' holds the ";
  const size_t at = y.text.find(mark);
  ASSERT_NE(at, std::string::npos) << y.text;
  const long made = atol(y.text.c_str() + at + mark.size());
  EXPECT_GT(made, 0);
  EXPECT_LT(made, frames);
  testkit::Wav out;
  std::vector<unsigned char> header;
  ASSERT_TRUE(testkit::read_wav(dir + "/out.wav", out, &header));
  EXPECT_EQ(static_cast<long>(out.frames()), made);
  EXPECT_EQ(testkit::read_file(dir + "/out.wav").size(), 44u + le32(header, 40));
  EXPECT_EQ(le32(header, 4), 36u + le32(header, 40));
}
