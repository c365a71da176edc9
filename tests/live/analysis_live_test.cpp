// Analysis logs end to end: the program with its window under Xvfb and the
// file-backed sound card plays a steady chord into a c5 and an iviv display
// that log, then revives a file with the iviv log as its codebook.
#include <gtest/gtest.h>
// X11 after gtest: its macros (None, Bool) clash with gtest's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
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
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "analysis/analysis_log.h"
#include "harmonic/iviv.h"
#include "tests/support/live_kit.h"
#include "tests/support/testkit.h"

namespace {

using livekit::find_window;
using livekit::Yelm;

std::vector<std::vector<std::string>> fields_of(const std::string &text) {
  std::vector<std::vector<std::string>> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> f;
    std::istringstream l(line);
    for (std::string w; l >> w;) f.push_back(w);
    out.push_back(f);
  }
  return out;
}

std::string fixed(double v) {
  char b[64];
  snprintf(b, sizeof b, "%f", v);
  return b;
}

// Element k of an analyser half-row holds spectrum term k + 1: the tones sit
// on the terms after the tree's bins 7, 10 and 15 (ratios 1.5, 2 and 3 of
// tuning bin 5).
constexpr double kTerm = 44100.0 / 512;
const double kChord[] = {8 * kTerm, 11 * kTerm, 16 * kTerm};

testkit::Wav chord(int frames, double times) {
  std::vector<std::pair<double, double>> tones;
  for (double f : kChord) tones.push_back({f * times, 0.25});
  return testkit::sine_wav(44100, frames, tones);
}

}  // namespace

TEST(AnalysisLive, ChordIntoC5AndIvivLogsThenReconstructFromTheCodebook) {
  if (!getenv("DISPLAY") || !*getenv("DISPLAY")) GTEST_SKIP() << "DISPLAY is not set";
  Display *dpy = XOpenDisplay(nullptr);
  if (!dpy) GTEST_SKIP() << "cannot open the display";
  const std::string dir = testkit::make_temp_dir("analysis-live");
  // The card is not paced and plays a file in a blink. Resampling it tenfold
  // makes it last ten times as long, so the chord is written ten times as
  // high as the displays are to see it.
  ASSERT_TRUE(testkit::write_wav(dir + "/chord.wav", chord(44100 * 10, 10)));
  Yelm y;
  ASSERT_TRUE(y.start(dir, true, true));
  // Frames must be drawn while the short play lasts: the window first.
  Window w = 0;
  for (int t = 0; t < 600 && !w; ++t) {
    w = find_window(dpy, DefaultRootWindow(dpy), y.pid);
    if (!w) y.pump(50);
  }
  ASSERT_NE(w, 0u) << y.text;
  y.send("set resample 10\nset :0 style spiral\nset :2 style c5\nset :3 style iviv\n"
         "analyse :0 spiral.log\nanalyse :2 c5.log\nanalyse :3 iviv.log\nplot chord.wav");
  ASSERT_TRUE(y.wait_for("\a", 60000)) << y.text;  // the file has ended and its stream stopped
  const std::string c5_text = testkit::read_file(dir + "/c5.log");
  const std::string iviv_text = testkit::read_file(dir + "/iviv.log");
  // Frames go on being drawn while nothing is acquired: no line is added.
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_EQ(testkit::read_file(dir + "/c5.log"), c5_text);
  EXPECT_EQ(testkit::read_file(dir + "/iviv.log"), iviv_text);
  EXPECT_EQ(testkit::read_file(dir + "/spiral.log"), "");

  // c5: time and score; the steady chord keeps its notes on the grid.
  auto c5 = fields_of(c5_text);
  ASSERT_GE(c5.size(), 3u) << "too few frames drawn while the file played";
  double last = 0, score = 0;
  for (auto &f : c5) {
    ASSERT_EQ(f.size(), 2u);
    const double t = atof(f[0].c_str());
    score = atof(f[1].c_str());
    EXPECT_GE(t, last);
    last = t;
    EXPECT_EQ(fixed(score), f[1]);
  }
  // By the last frame the history holds the chord: its octave (bin 10) and
  // fifth (bin 7) lie on the grid.
  EXPECT_GT(score, 1) << c5_text.substr(0, 400);

  // iviv: every frame logs all 510 sides of the tree in tree order, whatever
  // their intensity; bins and ratios follow from the tree and tuning bin 5.
  IvivNode tree[kIvivNodes];
  build_iviv_tree(tree, kIvivBaseWidth, 0.66, 1.0);
  struct Side {
    int bin, partner;
    std::string ratio, partner_ratio;
  };
  std::vector<Side> sides;
  for (int j = 2; j < kIvivNodes; ++j)
    for (int p : {tree[j].node_a, tree[j].node_b})
      sides.push_back({static_cast<int>(std::floor(tree[j].ratio * 5)), static_cast<int>(std::floor(tree[p].ratio * 5)),
                       fixed(tree[j].ratio), fixed(tree[p].ratio)});
  ASSERT_EQ(sides.size(), 510u);
  auto iviv = fields_of(iviv_text);
  ASSERT_GE(iviv.size(), 2 * sides.size());
  const bool limit = iviv.size() == static_cast<size_t>(kMaxLogLines);
  EXPECT_TRUE(limit || iviv.size() % sides.size() == 0) << iviv.size();
  EXPECT_EQ(y.text.find("max. analysis filesize reached. stopping.\n +analysis done.\n") != std::string::npos, limit);
  last = 0;
  int loud = 0, weak = 0;
  std::set<std::pair<int, int>> pairs;
  for (size_t i = 0; i < iviv.size(); ++i) {
    const auto &f = iviv[i];
    const Side &s = sides[i % sides.size()];
    ASSERT_EQ(f.size(), 7u) << i;
    const double t = atof(f[0].c_str());
    ASSERT_GE(t, last) << i;
    last = t;
    ASSERT_EQ(atoi(f[1].c_str()), s.bin) << i;
    ASSERT_EQ(atoi(f[2].c_str()), s.partner) << i;
    ASSERT_EQ(f[5], s.ratio) << i;
    ASSERT_EQ(f[6], s.partner_ratio) << i;
    const double h = atof(f[3].c_str()), l = atof(f[4].c_str());
    if (s.bin == 10 && s.partner == 7 && h > 10 && l > 10) ++loud;  // the chord's octave over its fifth
    if (h < 0.0001 || l < 0.0001) ++weak;
    else pairs.insert({s.bin, s.partner});
  }
  EXPECT_GT(loud, 0);

  // The iviv log is reconstruct's codebook: a file long enough to take every
  // line, so each line is an entry or an error.
  const int frames = static_cast<int>((last + 2) * 44100);
  ASSERT_TRUE(testkit::write_wav(dir + "/in.wav", chord(frames, 1)));
  y.send("reconstruct out.wav in.wav iviv.log");
  ASSERT_TRUE(y.wait_for(" OUTPUT: 'out.wav'\n", 120000)) << y.text.substr(y.text.size() > 2000 ? y.text.size() - 2000 : 0);
  int entries = -1, errors = -1, accepted = -1;
  const size_t at = y.text.find(" CODEBOOK: ");
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(sscanf(y.text.c_str() + at, " CODEBOOK: %d entries, %d errors,  %d accepted", &entries, &errors, &accepted),
            3);
  EXPECT_EQ(entries + errors, static_cast<int>(iviv.size()));
  EXPECT_EQ(errors, weak);
  EXPECT_GE(accepted, static_cast<int>(pairs.size()));
  EXPECT_LE(accepted, entries);
  EXPECT_EQ(testkit::read_file(dir + "/iviv.log"), iviv_text);  // read, never written
  const std::string soxi = "soxi -s " + dir + "/out.wav 2>&1";
  FILE *p = popen(soxi.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char buf[128] = {};
  ASSERT_NE(fgets(buf, sizeof buf, p), nullptr);
  pclose(p);
  EXPECT_EQ(atoi(buf), frames) << buf;

  y.send("exit");
  ASSERT_TRUE(y.wait_exit(10000)) << y.text.substr(y.text.size() > 2000 ? y.text.size() - 2000 : 0);
  EXPECT_EQ(y.status, 0);
  XCloseDisplay(dpy);
}
