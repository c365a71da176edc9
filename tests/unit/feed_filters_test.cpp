// Input filters, wavelet level rings and block resampling of the data feed.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "audio/feed.h"
#include "audio/filters.h"
#include "options/options.h"
#include "tests/support/testkit.h"

namespace {

constexpr double kPi = 3.141592653589793;

std::vector<double> fresh_state(double c, double r) {
  std::vector<double> s(kFilterStateSize, 0.0);
  s[kFsC] = c;
  s[kFsR] = r;
  return s;
}

// Steady-state peak of the filter's response to a unit sine.
double sine_gain(FilterOperation op, double c, double r, double freq, double fs) {
  std::vector<double> s = fresh_state(c, r);
  double peak = 0;
  for (int n = 0; n < 40000; ++n) {
    double y = op(sin(2 * kPi * freq * n / fs), s.data());
    if (n >= 30000) peak = std::max(peak, std::fabs(y));
  }
  return peak;
}

}  // namespace

TEST(FeedFilters, TableRowsAndNames) {
  const char *names[] = {"nop", "mute", "simpl", "lp", "hp", "fb", "delay"};
  for (int k = 0; k < kFilterKinds; ++k) {
    EXPECT_STREQ(kFilterTable[k].name, names[k]);
    EXPECT_EQ(filter_by_name(names[k]), k);
  }
  EXPECT_EQ(kFilterTable[kFilterKinds].name, nullptr);
  EXPECT_EQ(filter_by_name("LP"), -1);
  EXPECT_EQ(filter_by_name("lp "), -1);
  EXPECT_EQ(filter_by_name(nullptr), -1);
  double s[kFilterStateSize] = {};
  EXPECT_EQ(kFilterTable[kFilterNop].operation(0.37, s), 0.37);
  EXPECT_EQ(kFilterTable[kFilterMute].operation(0.37, s), 0.0);
  EXPECT_EQ(kFilterTable[kFilterFb].operation(-0.2, s), -0.2);
  EXPECT_EQ(kFilterTable[kFilterDelay].operation(0.9, s), 0.9);
}

TEST(FeedFilters, SimplOnAConstantClimbsToOneFromBelow) {
  double s[kFilterStateSize] = {};
  EXPECT_DOUBLE_EQ(filter_simpl(1.0, s), 0.5);
  EXPECT_DOUBLE_EQ(filter_simpl(1.0, s), 0.625);
  EXPECT_DOUBLE_EQ(filter_simpl(1.0, s), 0.6953125);
  double prev = 0.6953125, y = 0;
  for (int n = 0; n < 5000; ++n) {
    y = filter_simpl(1.0, s);
    ASSERT_GT(y, prev);
    ASSERT_LT(y, 1.0);
    prev = y;
  }
  EXPECT_GT(y, 0.999);
  // A squarer, not a root: 0.5 in gives (0 + 0.25) / 2 first.
  double t[kFilterStateSize] = {};
  EXPECT_DOUBLE_EQ(filter_simpl(-0.5, t), 0.125);
}

TEST(FeedFilters, LowPassWarpAndUnitDcGain) {
  const double c = lp_warp(1000, 44100);
  EXPECT_NEAR(c, 14.01, 0.005);
  EXPECT_NEAR(c, std::cos(kPi * 1000 / 44100) / std::sin(kPi * 1000 / 44100), 1e-9);
  for (double r : {0.5, 1.0, 1.4142135623730951, 3.0}) {
    std::vector<double> s = fresh_state(c, r);
    double y = 0;
    for (int n = 0; n < 20000; ++n) y = filter_lp(0.3, s.data());
    EXPECT_NEAR(y, 0.3, 1e-9) << "r " << r;
    // The stored coefficients have (a0 + a1 + a2) / (1 + b1 + b2) = 1.
    EXPECT_NEAR((s[2] + s[3] + s[4]) / (1 + s[5] + s[6]), 1.0, 1e-12);
    EXPECT_DOUBLE_EQ(s[3], 2 * s[2]);
    EXPECT_DOUBLE_EQ(s[4], s[2]);
  }
}

TEST(FeedFilters, TwoPoleGainsAtCornerAndFarAway) {
  const double fs = 44100, f = 1000, butter = std::sqrt(2.0);
  const double lc = lp_warp(f, fs), hc = hp_warp(f, fs);
  // The bilinear two-pole sections have gain 1/r at the corner.
  EXPECT_NEAR(sine_gain(filter_lp, lc, butter, f, fs), 1 / butter, 0.005);
  EXPECT_NEAR(sine_gain(filter_lp, lc, 1.0, f, fs), 1.0, 0.005);
  EXPECT_NEAR(sine_gain(filter_hp, hc, butter, f, fs), 1 / butter, 0.005);
  // Two poles: about -40 dB a decade beyond the corner.
  EXPECT_LT(sine_gain(filter_lp, lc, butter, 10000, fs), 0.012);
  EXPECT_NEAR(sine_gain(filter_hp, hc, butter, 15000, fs), 1.0, 0.01);
  EXPECT_LT(sine_gain(filter_hp, hc, butter, 100, fs), 0.012);
}

TEST(FeedFilters, HighPassRejectsAConstant) {
  std::vector<double> s = fresh_state(hp_warp(1000, 44100), 1.0);
  double first = filter_hp(1.0, s.data());
  EXPECT_GT(first, 0.5);  // the step passes at first
  double y = first;
  for (int n = 0; n < 20000; ++n) y = filter_hp(1.0, s.data());
  EXPECT_NEAR(y, 0.0, 1e-9);
  EXPECT_DOUBLE_EQ(s[3], -2 * s[2]);
}

TEST(FeedFilters, WaveletLevelsFillFromTwoToTheJMinusOne) {
  std::vector<std::atomic<double>> rings(kWaveletSize);
  for (auto &v : rings) v = 0.0;
  std::atomic<int> index{0};
  for (int k = 0; k < 300; ++k) {
    push_wavelet_rings(rings.data(), index, 1.0);
    for (int j = 0; j < kWaveletLevels; ++j) {
      const double v = rings[kWaveletLength * j + k].load();
      if (k >= (1 << j) - 1)
        ASSERT_DOUBLE_EQ(v, 1.0) << "level " << j << " index " << k;
      else
        ASSERT_LT(v, 1.0) << "level " << j << " index " << k;
    }
  }
  EXPECT_EQ(index.load(), 300);
  for (int j = 0; j < kWaveletLevels; ++j) EXPECT_DOUBLE_EQ(rings[kWaveletLength * j + 255].load(), 1.0);
  EXPECT_LT(rings[kWaveletLength * 8 + 254].load(), 1.0);
}

TEST(FeedFilters, WaveletLevelIsTheMeanOfTheNewestSamplesAcrossTheWrap) {
  std::vector<std::atomic<double>> rings(kWaveletSize);
  for (auto &v : rings) v = 0.0;
  std::atomic<int> index{0};
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> d(-1, 1);
  std::vector<double> x;
  for (int n = 0; n < 1500; ++n) {
    x.push_back(d(gen));
    push_wavelet_rings(rings.data(), index, x.back());
  }
  EXPECT_EQ(index.load(), 1500 % 512);
  for (int n : {700, 1023, 1024, 1400, 1499}) {
    const int p = n % 512;
    for (int j = 0; j < kWaveletLevels; ++j) {
      // Only the newest 512 samples are still in the ring.
      if (n < 1499 - 511 + (1 << j)) continue;
      double mean = 0;
      for (int m = 0; m < (1 << j); ++m) mean += x[n - m];
      mean /= (1 << j);
      EXPECT_NEAR(rings[kWaveletLength * j + p].load(), mean, 1e-12) << "n " << n << " j " << j;
    }
  }
  // The newest sample: every level checked at 1499.
  double mean = 0;
  for (int m = 0; m < 256; ++m) mean += x[1499 - m];
  EXPECT_NEAR(rings[kWaveletLength * 8 + 1499 % 512].load(), mean / 256, 1e-12);
}

class FeedPrepare : public ::testing::Test {
 protected:
  void SetUp() override {
    g_options.release();
    feed = std::make_unique<DataFeed>();
  }
  void TearDown() override {
    feed.reset();
    g_options.release();
  }
  std::string prepare_output() {
    testing::internal::CaptureStdout();
    feed->reset();
    feed->prepare();
    feed->open_input(path.empty() ? nullptr : path.c_str());
    for (int i = 0; i < kRings; ++i) feed->prepare_filter(i);
    return testing::internal::GetCapturedStdout();
  }
  std::unique_ptr<DataFeed> feed;
  std::string path;
};

TEST_F(FeedPrepare, LowAndHighPassPreparationMessages) {
  g_options.set(0, "filter", "lp");
  g_options.set(1, "filter", "hp");
  g_options.set(1, "hp.f", "200");
  g_options.set(1, "hp.r", "0.5");
  std::string out = prepare_output();
  char expect[200];
  snprintf(expect, sizeof expect, "LP filter :0  prepared (f:1000 r:1 c:%g)\n", 1 / tan(kPi * 1000 / 44100));
  EXPECT_NE(out.find(expect), std::string::npos) << out;
  snprintf(expect, sizeof expect, "HP filter :1  prepared (f:200 r:0.5 c:%g)\n", tan(kPi * 200 / 44100));
  EXPECT_NE(out.find(expect), std::string::npos) << out;
  EXPECT_NE(out.find("not found 'lp.f'\n"), std::string::npos);
  EXPECT_NE(out.find("not found 'lp.r'\n"), std::string::npos);
  EXPECT_EQ(feed->filter_kind[0], kFilterLp);
  EXPECT_EQ(feed->filter_kind[1], kFilterHp);
  EXPECT_EQ(feed->filter_kind[2], kFilterNop);
  EXPECT_NEAR(feed->filter_state[0][kFsC], 14.01, 0.005);
}

TEST_F(FeedPrepare, CornerAndDampingThatWouldPoisonTheChannelAreReplaced) {
  g_options.set(0, "filter", "lp");
  g_options.set(0, "lp.f", "0");
  g_options.set(1, "filter", "hp");
  g_options.set(1, "hp.f", "30000");
  g_options.set(2, "filter", "lp");
  g_options.set(2, "lp.r", "-1");
  std::string out = prepare_output();
  EXPECT_NE(out.find("*** warning: lp.f 0 must lie between 0 and 22050 (using 1000)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("*** warning: hp.f 30000 must lie between 0 and 22050 (using 1000)\n"), std::string::npos);
  EXPECT_NE(out.find("*** warning: lp.r -1 must be >0 (using 1)\n"), std::string::npos);
  for (int c = 0; c < 3; ++c) {
    double y = 0;
    for (int n = 0; n < 1000; ++n) y = kFilterTable[feed->filter_kind[c]].operation(0.5, feed->filter_state[c]);
    EXPECT_TRUE(std::isfinite(y)) << c;
  }
}

TEST_F(FeedPrepare, FeedbackRecordAndUnknownFilterName) {
  g_options.set(2, "filter", "fb");
  g_options.set(3, "filter", "lowpass");
  prepare_output();
  ASSERT_NE(feed->feedback[2], nullptr);
  EXPECT_EQ(feed->feedback[2]->kind, kFilterFb);
  EXPECT_EQ(feed->feedback[2]->lower_bin, 0);
  EXPECT_EQ(feed->feedback[3], nullptr);
  EXPECT_EQ(feed->filter_kind[3], kFilterNop);
  // A reset keeps the record but clears its kind.
  feed->reset();
  ASSERT_NE(feed->feedback[2], nullptr);
  EXPECT_EQ(feed->feedback[2]->kind, 0);
}

TEST_F(FeedPrepare, ResampleHalfGivesAboutHalfTheFramesOfABlock) {
  std::string dir = testkit::make_temp_dir("feed-resample");
  path = dir + "/tone.wav";
  ASSERT_TRUE(testkit::write_wav(path, testkit::sine_wav(44100, 1024 * 12, {{440, 0.5}})));
  g_options.set(-1, "resample", "0.5");
  prepare_output();
  ASSERT_DOUBLE_EQ(feed->resample_factor, 0.5);
  std::vector<int> counts;
  double l, r;
  int total = 0;
  while (feed->next_resampled_frame(l, r)) {
    ASSERT_GE(feed->resample_count, 1);
    ASSERT_LE(feed->resample_count, kResampleCapacity);
    if (feed->resample_pos == 1) counts.push_back(feed->resample_count);
    ++total;
  }
  ASSERT_GE(counts.size(), 8u);
  // After the resampler's start-up block, each 1024-frame block gives ~512.
  for (size_t b = 1; b < counts.size(); ++b) EXPECT_NEAR(counts[b], 512, 8) << "block " << b;
  EXPECT_NEAR(total, 12 * 512, 200);
  // The resampled tone keeps its amplitude: a 440 Hz sine at 0.5 peaks near 0.5.
  EXPECT_LT(std::fabs(l), 0.52);
}

TEST_F(FeedPrepare, ResampleFactorsOutsideTheSafeRangeAreRefused) {
  for (const char *f : {"1000", "0.001"}) {
    g_options.set(-1, "resample", f);
    std::string out = prepare_output();
    EXPECT_NE(out.find("*** warning: resample factor"), std::string::npos) << f;
    EXPECT_DOUBLE_EQ(feed->resample_factor, -1.0) << f;
    EXPECT_EQ(feed->resampler[0], nullptr);
  }
  g_options.set(-1, "resample", "0");
  std::string out = prepare_output();
  EXPECT_EQ(out.find("resample"), std::string::npos);
  EXPECT_DOUBLE_EQ(feed->resample_factor, -1.0);
}
