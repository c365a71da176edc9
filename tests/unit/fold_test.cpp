// fold: derived quantities and a whole run against a direct evaluation of the
// transform (plain DFT sums, recursive tree, sine-sum resynthesis).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/testkit.h"
#include "transforms/fold.h"

namespace {

TEST(FoldGeometry, DefaultsAt44100) {
  FoldGeometry g = fold_geometry(44100, 0.2, 110, 440);
  EXPECT_EQ(g.nbeat, 17);
  EXPECT_EQ(g.n2beat, 34);
  EXPECT_EQ(g.m, 17);
  EXPECT_EQ(g.band_lo, 5);
  EXPECT_EQ(g.band_hi, 10);
  EXPECT_EQ(g.bass_bin, 1);
}

TEST(FoldGeometry, BeatShorterThanABlockAndHighKey) {
  FoldGeometry g = fold_geometry(44100, 0.001, 110, 15000);
  EXPECT_EQ(g.nbeat, 0);
  EXPECT_EQ(g.n2beat, 1);
  EXPECT_EQ(g.m, 1);
  EXPECT_EQ(g.band_hi, 255);
}

TEST(FoldTree, HeapOrderOfFourthsAndFifths) {
  FoldNode n[7];
  build_fold_tree(n, 0, 3, 1.0);
  EXPECT_DOUBLE_EQ(n[1].ratio, 4.0 / 3);
  EXPECT_DOUBLE_EQ(n[2].ratio, 1.5);
  EXPECT_DOUBLE_EQ(n[4].ratio, 2.0);  // a fourth then a fifth: the octave
  EXPECT_DOUBLE_EQ(n[6].ratio, 2.25);
}

TEST(FoldOptionScanner, SkipsPlainWordsAndTakesAttachedOrNextArgument) {
  const char *v[] = {"binary", "stray", "-ofile.wav", "-i", "in.wav", "-x", "-d"};
  char **vec = const_cast<char **>(v);
  option_index = 0;
  EXPECT_EQ(next_option(7, vec, "i:o:d:"), 'o');
  EXPECT_STREQ(option_argument, "file.wav");
  EXPECT_EQ(next_option(7, vec, "i:o:d:"), 'i');
  EXPECT_STREQ(option_argument, "in.wav");
  EXPECT_EQ(next_option(7, vec, "i:o:d:"), '?');
  EXPECT_EQ(next_option(7, vec, "i:o:d:"), '?');  // -d lacks its argument
  EXPECT_EQ(next_option(7, vec, "i:o:d:"), -1);
  EXPECT_EQ(option_index, 0);
}

// ---- the direct evaluation ----

struct RefNode {
  double ratio, w4 = 0, w5 = 0;
};

void ref_tree(std::vector<RefNode> &t, size_t i, int levels, double ratio) {
  t[i].ratio = ratio;
  if (levels > 1) {
    ref_tree(t, 2 * i + 1, levels - 1, ratio * (4.0 / 3.0));
    ref_tree(t, 2 * i + 2, levels - 1, ratio * (3.0 / 2.0));
  }
}

int16_t ref_sample(double v) {
  long long t = static_cast<long long>(v * 32767.0);
  return static_cast<int16_t>(static_cast<uint16_t>(t & 0xffff));
}

std::vector<int16_t> reference_fold(const testkit::Wav &in, double beat, double bass, double key,
                                    int depth, double scale) {
  const int sr = in.sample_rate, N = 512;
  const double k = static_cast<double>(1.0f / 32767.0f);
  std::vector<double> x(in.frames());
  for (size_t i = 0; i < x.size(); ++i)
    x[i] = (in.samples[2 * i] * k + in.samples[2 * i + 1] * k) * 0.5;
  int nbeat = static_cast<int>(std::floor(sr * beat / N));
  int n2beat = std::max(1, 2 * nbeat), M = n2beat - nbeat;
  int lo = static_cast<int>(std::floor(key * N / sr));
  int hi = std::min(255, static_cast<int>(std::floor(2 * key * N / sr)));
  int bassb = static_cast<int>(std::floor(N * bass / sr));
  std::vector<std::vector<double>> ring(n2beat, std::vector<double>(256, 0));
  std::vector<RefNode> tree((1u << depth) - 1);
  ref_tree(tree, 0, depth, 1.0);
  auto bin = [&](double r, double f) { return static_cast<int>(std::floor(bass * r * f * 512.0 / sr)); };
  std::vector<int16_t> out;
  size_t blocks = x.size() / N;
  for (size_t c = 0; c < blocks; ++c) {
    const double *b = &x[c * N];
    int s = static_cast<int>(c % n2beat);
    for (int kk = 1; kk < 256; ++kk) {
      double re = 0, im = 0;
      for (int t = 0; t < N; ++t) {
        re += b[t] * std::cos(2 * M_PI * kk * t / N);
        im -= b[t] * std::sin(2 * M_PI * kk * t / N);
      }
      ring[s][kk] = std::sqrt(re * re + im * im);
    }
    auto V = [&](int bb) {
      int lag = static_cast<int>(std::floor(static_cast<double>(bb - bassb) * nbeat / (255 - bassb)));
      int ra = ((static_cast<int>(c) + M - lag + 1) % n2beat + n2beat) % n2beat;
      int rb = ((static_cast<int>(c) + M + lag) % n2beat + n2beat) % n2beat;
      return 0.5 * (ring[ra][bb] + ring[rb][bb]);
    };
    for (auto &n : tree) {
      int b0 = bin(n.ratio, 1), b1 = bin(n.ratio, 4.0 / 3.0), b2 = bin(n.ratio, 1.5);
      if (b2 > 255) continue;
      double v0 = V(b0);
      if (v0 < 0.0001) continue;
      double v1 = V(b1);
      if (v1 < 0.0001) continue;
      double v2 = V(b2);
      if (v2 < 0.0001) continue;
      n.w4 = v1 / v0;
      n.w5 = v2 / v0;
    }
    std::vector<double> X(512, 0);
    auto band = [&](int bb) { return bb >= lo && bb < hi; };
    for (int sweep = 0; sweep < 5; ++sweep)
      for (auto &n : tree) {
        int b0 = bin(n.ratio, 1), b1 = bin(n.ratio, 4.0 / 3.0), b2 = bin(n.ratio, 1.5);
        if (b2 > 255) continue;
        if (band(b0)) X[b0] = ring[s][b0];
        X[b1] = band(b1) ? ring[s][b1] : 0.5 * (X[b0] * n.w4 + X[b1]);
        X[b2] = band(b2) ? ring[s][b2] : 0.5 * (X[b0] * n.w5 + X[b2]);
      }
    for (int t = 0; t < N; ++t) {
      double sum = 0;
      for (int kk = 1; kk < 256; ++kk) sum += X[kk] * std::sin(2 * M_PI * kk * t / N);
      int16_t smp = ref_sample((X[0] - 2 * scale * sum) / 256);
      out.push_back(smp);
      out.push_back(smp);
    }
  }
  for (size_t i = blocks * N; i < x.size(); ++i) {
    int16_t smp = ref_sample(x[i]);
    out.push_back(smp);
    out.push_back(smp);
  }
  return out;
}

struct FoldRun : ::testing::Test {
  std::string dir = testkit::make_temp_dir("fold");
  // The output file against the direct evaluation, within one 16-bit unit.
  void expect_reference(const testkit::Wav &w, double beat, double bass, double key, int depth,
                        double scale) {
    testkit::Wav got;
    ASSERT_TRUE(testkit::read_wav(dir + "/out.wav", got));
    std::vector<int16_t> want = reference_fold(w, beat, bass, key, depth, scale);
    ASSERT_EQ(got.samples.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) ASSERT_LE(std::abs(got.samples[i] - want[i]), 1) << i;
  }
  std::string run(const testkit::Wav &w, const char *beat = "0.2", const char *bass = "110",
                  const char *key = "440", const char *depth = "9", const char *scale = "0.5") {
    std::string in = dir + "/in.wav", out = dir + "/out.wav";
    testkit::write_wav(in, w);
    std::string o = "-o" + out, i = "-i" + in, B = std::string("-B") + beat, b = std::string("-b") + bass,
                k = std::string("-k") + key, d = std::string("-d") + depth, s = std::string("-s") + scale;
    const char *v[] = {"binary", o.c_str(), i.c_str(), B.c_str(), b.c_str(), k.c_str(), d.c_str(), s.c_str()};
    testing::internal::CaptureStdout();
    fold_main(8, const_cast<char **>(v));
    return testing::internal::GetCapturedStdout();
  }
};

// A chord with a bass note, a silent passage, then the chord again: the
// silence must freeze the tree's weights, not clear them.
testkit::Wav chord_with_pause() {
  const int sr = 44100;
  testkit::Wav a = testkit::sine_wav(sr, 512 * 40, {{110, 0.2}, {440, 0.2}, {587.3, 0.15}, {660, 0.15}});
  testkit::Wav b = testkit::sine_wav(sr, 512 * 12 + 300, {{110, 0.2}, {523.25, 0.2}, {700, 0.1}});
  testkit::Wav w = a;
  w.samples.insert(w.samples.end(), 2 * 512 * 10, 0);
  w.samples.insert(w.samples.end(), b.samples.begin(), b.samples.end());
  // Make the channels differ so the mono mean matters.
  for (size_t i = 0; i < w.samples.size(); i += 2) w.samples[i] = static_cast<int16_t>(w.samples[i] * 0.8);
  return w;
}

TEST_F(FoldRun, OutputEqualsTheDirectEvaluation) {
  testkit::Wav w = chord_with_pause();
  std::string log = run(w);
  EXPECT_NE(log.find("+n2beat: 34     +ndepth: 512\n+invariant band [5,10]\n"), std::string::npos);
  EXPECT_NE(log.find("[.]\n\n---------- processed 0.719819 sec\n"), std::string::npos) << log.substr(log.size() - 80);
  testkit::Wav got;
  ASSERT_TRUE(testkit::read_wav(dir + "/out.wav", got));
  std::vector<int16_t> want = reference_fold(w, 0.2, 110, 440, 9, 0.5);
  ASSERT_EQ(got.samples.size(), want.size());
  int worst = 0;
  size_t nonzero = 0;
  for (size_t i = 0; i < want.size(); ++i) {
    worst = std::max(worst, std::abs(got.samples[i] - want[i]));
    nonzero += want[i] != 0;
  }
  EXPECT_LE(worst, 1);
  EXPECT_GT(nonzero, want.size() / 2);  // the comparison covers real signal
}

TEST_F(FoldRun, ShortBeatFollowsTheCurrentBlock) {
  testkit::Wav w = testkit::sine_wav(44100, 512 * 6 + 100, {{110, 0.3}, {440, 0.3}, {660, 0.2}});
  run(w, "0.001", "110", "440", "7", "0.7");
  expect_reference(w, 0.001, 110, 440, 7, 0.7);
}

TEST_F(FoldRun, DeepTreeWithHighBassLeavesOutBinsPastTheSpectrum) {
  // Many nodes reach bins of 256 and more: they must stay out, and the
  // rest still match the direct evaluation.
  testkit::Wav w = testkit::sine_wav(44100, 512 * 4, {{2000, 0.3}, {2666, 0.3}, {3000, 0.2}});
  run(w, "0.02", "2000", "2000", "12", "0.5");
  expect_reference(w, 0.02, 2000, 2000, 12, 0.5);
}

TEST_F(FoldRun, RefusedSettingsCreateNoOutput) {
  testkit::Wav w = testkit::sine_wav(44100, 2048, {{440, 0.3}});
  struct Case { const char *beat, *bass, *depth, *message; } cases[] = {
      {"0.2", "110", "0", "fold depth 0 out of range (1..20). aborting.\n"},
      {"0.2", "110", "21", "fold depth 21 out of range (1..20). aborting.\n"},
      {"0.2", "21970", "9", "fold bassline 21970 Hz must lie above 0 and below 21963.9 Hz. aborting.\n"},
      {"0.2", "-5", "9", "fold bassline -5 Hz must lie above 0 and below 21963.9 Hz. aborting.\n"},
      {"1000", "110", "9", "fold beat 1000 sec is too long"},
  };
  for (auto &c : cases) {
    std::string log = run(w, c.beat, c.bass, "440", c.depth);
    EXPECT_NE(log.find(c.message), std::string::npos) << log;
    EXPECT_FALSE(testkit::file_exists(dir + "/out.wav"));
  }
}

}  // namespace
