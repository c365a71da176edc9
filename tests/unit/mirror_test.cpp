// The mirror display's state: window sizing, cells, gain and transfers; and
// the slot set-up of the mirror and origami types.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "audio/feed.h"
#include "display/graphs.h"
#include "harmonic/harmonic.h"
#include "harmonic/mirror.h"
#include "harmonic/origami.h"
#include "harmonic/slot_readers.h"
#include "options/options.h"

namespace {

MirrorState *make(double bass, double growth, double rate, int iter, std::string *report = nullptr) {
  testing::internal::CaptureStdout();
  MirrorState *m = create_mirror(bass, growth, rate, iter);
  std::string out = testing::internal::GetCapturedStdout();
  if (report) *report = out;
  return m;
}

void destroy(MirrorState *m) {
  testing::internal::CaptureStdout();
  destroy_mirror(m);
  testing::internal::GetCapturedStdout();
}

TEST(Mirror, WindowOfTheDefaultsAndItsReport) {
  std::string report;
  MirrorState *m = make(10, 1, 44100, 10, &report);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->min_x, -255);
  EXPECT_EQ(m->min_y, -288);
  EXPECT_EQ(m->max_x, 323);
  EXPECT_EQ(m->max_y, 226);
  EXPECT_EQ(m->width, 578);
  EXPECT_EQ(m->height, 514);
  EXPECT_EQ(m->highest_f_in_window, 41308);
  EXPECT_DOUBLE_EQ(m->spiral_b, log(1.618033988749895));
  EXPECT_EQ(report,
            "***MIRRORS INITIALIZED***\n bass 10\n min[-255 -288] max[323 226]\n size 578 x 514\n"
            " highest_f_in_window=41308 spiral_b 0.481212 iter 10\n");
  // Noise in [0, 1], the same in both grids.
  const int cells = m->width * m->height;
  double lo = 1, hi = 0;
  for (int c = 0; c < cells; ++c) {
    ASSERT_EQ(m->current[c], m->next[c]);
    lo = std::min(lo, m->next[c]);
    hi = std::max(hi, m->next[c]);
  }
  EXPECT_GE(lo, 0);
  EXPECT_LE(hi, 1);
  EXPECT_GT(hi - lo, 0.9);

  testing::internal::CaptureStdout();
  destroy_mirror(m);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Internal mirror structure cleaned\n");
}

TEST(Mirror, SampleRateAndGridSizeStayBounded) {
  // A negative rate traces up to 22050 Hz; one beyond the feed's limit no
  // further than the limit.
  MirrorState *low = make(10, 1, -1, 10);
  ASSERT_NE(low, nullptr);
  EXPECT_EQ(low->max_freq, 22050);
  EXPECT_LT(low->highest_f_in_window, 22050);
  destroy(low);
  MirrorState *high = make(10, 1, 1e12, 10);
  ASSERT_NE(high, nullptr);
  EXPECT_EQ(high->max_freq, kMaxSampleRate);
  destroy(high);

  // A large grid is made when memory allows (two grids of about 211 MB).
  MirrorState *wide = make(10, 1.4, 44100, 10);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(wide->width, 5594);
  EXPECT_EQ(wide->height, 4727);
  destroy(wide);

  // A steep spiral asks for more than any grid: refused with the message.
  std::string report;
  EXPECT_EQ(make(10, 40, 44100, 10, &report), nullptr);
  EXPECT_EQ(report, "window creation:: out of memory!\n");

  // No usable spiral (bass 0): an empty window that still has element 0.
  MirrorState *flat = make(0, 1, 44100, 10);
  ASSERT_NE(flat, nullptr);
  EXPECT_EQ(flat->width * flat->height, 0);
  EXPECT_EQ(flat->mirror_cell(3, 4), 0u);
  flat->next[0] = 0.5;
  double row[256] = {};
  flat->mirror_bin(0.2, row, 256, 22050, 5);  // highest frequency 0: nothing to mirror
  EXPECT_EQ(flat->next[0], 0.5);
  destroy(flat);
}

TEST(Mirror, CellsAndOutOfWindowPoints) {
  MirrorState *m = make(10, 1, 44100, 10);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->mirror_cell(-255, -288), 0u);
  EXPECT_EQ(m->mirror_cell(-252.5, -285.2), 2u + 2u * 578);
  EXPECT_EQ(m->mirror_cell(322.9, 225.9), 577u + 513u * 578);
  // Truncation toward zero: just left of the window is still column 0.
  EXPECT_EQ(m->mirror_cell(-255.5, -287), 578u);
  // Outside, or not a number: element 0.
  EXPECT_EQ(m->mirror_cell(323, 0), 0u);
  EXPECT_EQ(m->mirror_cell(0, 226), 0u);
  EXPECT_EQ(m->mirror_cell(-257, 0), 0u);
  EXPECT_EQ(m->mirror_cell(NAN, 0), 0u);
  EXPECT_EQ(m->mirror_cell(1e300, 1e300), 0u);
  destroy(m);
}

TEST(Mirror, GainIsFourthPlusFifthOverTheNote) {
  double row[256] = {};
  const double t = 40 / 256.0;  // note bin 40, fourth 53, fifth 60
  row[40] = 2;
  row[53] = 1;
  row[60] = 3;
  EXPECT_DOUBLE_EQ(mirror_gain(t, row, 256), 2.0);
  EXPECT_EQ(mirror_gain(0.5001, row, 256), 0);
  row[40] = 0.0009;
  EXPECT_EQ(mirror_gain(t, row, 256), 0);
}

TEST(Mirror, TransfersWriteTheSquashedSourceAndEnd) {
  MirrorState *m = make(10, 1, 44100, 10);
  ASSERT_NE(m, nullptr);
  const int w = m->width;
  for (int c = 0; c < w * m->height; ++c) m->current[c] = m->next[c] = 0.25;
  // A zero-length target (both ends in one cell) ends after its two
  // samples; the last comes from the source's end (v = 0.4 x 2).
  m->current[9 + 8 * w] = 0.4;
  m->mirror_transfer(2, 3, 4, 3, 4, 7, 8, 9, 8);
  EXPECT_DOUBLE_EQ(m->next[3 + 4 * w], 2 / (1 + exp(-5 * 0.64)) - 1);
  // The target 10..20 of row 5 takes row 9's cells 30..40 in order (the
  // accumulated steps fall just short of the far end).
  for (int k = 0; k <= 10; ++k) m->current[30 + k + 9 * w] = k / 10.0;
  m->mirror_transfer(1, 10, 5, 20, 5, 30, 9, 40, 9);
  for (int k = 0; k < 10; ++k) {
    const double v = k / 10.0;
    EXPECT_NEAR(m->next[10 + k + 5 * w], 2 / (1 + exp(-5 * v * v)) - 1, 1e-12) << k;
  }
  EXPECT_EQ(m->next[21 + 5 * w], 0.25);
  // Gain 0 fades a target to 0; out-of-window targets land in element 0.
  m->mirror_transfer(0, 10, 5, 20, 5, 30, 9, 40, 9);
  EXPECT_EQ(m->next[15 + 5 * w], 0);
  m->next[0] = 0.25;
  m->mirror_transfer(1, -50, -50, -40, -50, 30, 9, 40, 9);
  EXPECT_NE(m->next[0], 0.25);
  destroy(m);
}

// A target far longer than the window (a spiral winding inwards puts its low
// notes millions of cells out) is walked only over the window: the result is
// the plain walk's, element 0 holding the last of its many writes.
TEST(Mirror, LongTargetsLeaveWhatThePlainWalkLeaves) {
  MirrorState *m = make(10, 1, 44100, 10);
  ASSERT_NE(m, nullptr);
  const size_t cells = static_cast<size_t>(m->width) * m->height;
  for (size_t c = 0; c < cells; ++c) m->current[c] = m->next[c] = (c * 7919 % 1000) / 1000.0;
  std::vector<double> want(m->next, m->next + cells);
  // Targets that leave the window, and that come into it; their sources stay
  // inside, so each write to element 0 differs.
  const int lines[2][8] = {{-2000, -700, 2600, 900, 300, 200, 100, 100}, {2600, 900, 300, 100, 100, 100, 300, 200}};
  for (const int *e : lines) {
    const double ux = e[2] - e[0], uy = e[3] - e[1], wx = e[6] - e[4], wy = e[7] - e[5];
    const double step = 1 / std::sqrt(ux * ux + uy * uy);
    for (double s = 0; s <= 1; s += step) {
      const double v = m->current[m->relative_cell(trunc(e[4] + s * wx), trunc(e[5] + s * wy))] * 1.5;
      want[m->relative_cell(trunc(e[0] + s * ux), trunc(e[1] + s * uy))] = 2 / (1 + exp(-5 * v * v)) - 1;
    }
    m->mirror_transfer(1.5, e[0], e[1], e[2], e[3], e[4], e[5], e[6], e[7]);
    EXPECT_EQ(std::vector<double>(m->next, m->next + cells), want) << e[2];
  }
  destroy(m);
}

TEST(Mirror, BinsAtTheTuningBinOrHighAreNotMirrored) {
  MirrorState *m = make(10, 1, 44100, 10);
  ASSERT_NE(m, nullptr);
  const int cells = m->width * m->height;
  double row[256] = {};
  auto untouched = [&] {
    for (int c = 0; c < cells; ++c)
      if (m->next[c] != 1) return false;
    return true;
  };
  for (int c = 0; c < cells; ++c) m->next[c] = 1;
  m->mirror_bin(5 / 256.0, row, 256, 22050, 5);  // bin 5 at tuning bin 5
  EXPECT_TRUE(untouched());
  m->mirror_bin(0.95, row, 256, 22050, 5);  // 20947 Hz, above half of 41308
  EXPECT_TRUE(untouched());
  m->mirror_bin(0.2, row, 256, 22050, 5);  // silent note: targets fade to 0
  EXPECT_FALSE(untouched());
  destroy(m);
}

// Set-ups of the two types: o.depth is capped, a mirror slot's state is made
// per configuration and a failing one hides the slot.
class HarmonicSetup : public ::testing::Test {
 protected:
  void SetUp() override {
    install_harmonic_graphs();
    g_graphs.feed->sample_rate = 44100;
  }
  void TearDown() override {
    testing::internal::CaptureStdout();
    g_graphs.release_work(2);
    g_graphs.slots[2] = DisplaySlot{};
    testing::internal::GetCapturedStdout();
  }
};

TEST_F(HarmonicSetup, OrigamiDepthIsCappedWithAWarning) {
  DisplaySlot s{};
  const struct {
    const char *value;
    int depth;
    const char *said;
  } cases[] = {
      {"9", 9, ""},
      {"12", 12, ""},
      {"13", 12, "*** warning: o.depth 13 is out of range 0..12 (using 12)\n"},
      {"-1", 0, "*** warning: o.depth -1 is out of range 0..12 (using 0)\n"},
  };
  for (const auto &c : cases) {
    s.o_depth = atoi(c.value);  // as the slot's options were read
    testing::internal::CaptureStdout();
    EXPECT_TRUE(kOrigamiGraph.setup(g_graphs, 2, s, nullptr));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.said);
    EXPECT_EQ(s.o_depth, c.depth) << c.value;
  }
}

TEST_F(HarmonicSetup, MirrorStateIsRemadeEachConfigurationOrTheSlotHides) {
  DisplaySlot &s = g_graphs.slots[2];
  g_options.set(2, "tuna", "440");
  g_options.set(2, "m.growth", "1");
  g_options.set(2, "m.bass", "10");
  g_options.set(2, "m.iter", "10");
  s.type = kGraphMirror;
  testing::internal::CaptureStdout();
  g_graphs.prepare_slot(2);
  std::string first = testing::internal::GetCapturedStdout();
  ASSERT_NE(s.work, nullptr);
  EXPECT_EQ(s.work_type, kGraphMirror);
  EXPECT_NE(first.find("***MIRRORS INITIALIZED***"), std::string::npos) << first;

  // The old state goes first.
  testing::internal::CaptureStdout();
  g_graphs.prepare_slot(2);
  std::string second = testing::internal::GetCapturedStdout();
  EXPECT_EQ(second.find("Internal mirror structure cleaned\n"), 0u) << second;
  EXPECT_NE(second.find("***MIRRORS INITIALIZED***"), std::string::npos);

  g_options.set(2, "m.growth", "40");
  testing::internal::CaptureStdout();
  g_graphs.prepare_slot(2);
  std::string failed = testing::internal::GetCapturedStdout();
  EXPECT_NE(failed.find("Internal mirror structure cleaned\nwindow creation:: out of memory!\n"
                        "cannot create MIRROR work buffers. memory problems.\n"),
            std::string::npos)
      << failed;
  EXPECT_EQ(s.type, kGraphHide);
  EXPECT_EQ(s.work, nullptr);
}

// Each iteration draws hundreds of points with GuiMutex held: 2147483647 of
// them held it for good.
TEST_F(HarmonicSetup, MirrorIterationsAreCapped) {
  DisplaySlot &s = g_graphs.slots[2];
  g_options.set(2, "tuna", "440");
  g_options.set(2, "m.growth", "1");
  g_options.set(2, "m.bass", "10");
  g_options.set(2, "m.iter", "2147483647");
  s.type = kGraphMirror;
  testing::internal::CaptureStdout();
  g_graphs.prepare_slot(2);
  const std::string said = testing::internal::GetCapturedStdout();
  ASSERT_NE(s.work, nullptr);
  EXPECT_NE(said.find("*** warning: m.iter 2147483647 capped at 256\n"), std::string::npos) << said;
  EXPECT_EQ(static_cast<MirrorState *>(s.work)->iter, kMirrorMaxIter);
  g_options.set(2, "m.iter", "256");
  testing::internal::CaptureStdout();
  g_graphs.prepare_slot(2);
  EXPECT_EQ(testing::internal::GetCapturedStdout().find("capped"), std::string::npos);
  EXPECT_EQ(static_cast<MirrorState *>(s.work)->iter, 256);
}

}  // namespace
