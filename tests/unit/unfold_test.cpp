// unfold: the option scanner, the IVIV decoder and the engine's output
// against a plain evaluation (the ether stepped here, a direct DFT, the
// decoder's formulas written out once more).
#include "media/unfold.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "display/graphs.h"
#include "display/transform_state.h"
#include "media/ether.h"
#include "media/tfield.h"
#include "tests/support/testkit.h"

namespace {

int scan_all(std::vector<std::string> args, const char *opts, std::string &trace) {
  std::vector<char *> v;
  for (auto &a : args) v.push_back(&a[0]);
  unfold_option_index = 0;
  int calls = 0;
  for (int c; (c = unfold_next_option(static_cast<int>(v.size()), v.data(), opts)) != -1 && calls < 50; ++calls) {
    trace += c == 0 ? std::string("<0>") : std::string(1, static_cast<char>(c));
    if (c != 0 && c != '?' && strchr(opts, c)[1] == ':') trace += "=" + std::string(unfold_option_argument) + ";";
  }
  return calls;
}

// The decoder's rules, written out plainly over 512-entry arrays.
struct RefDecoder {
  std::vector<double> ratio, w4, w5;
  double scale;
  RefDecoder(int depth, double bin_scale) : scale(bin_scale) {
    int n = (1 << depth) - 1;
    ratio.assign(n, 0);
    w4.assign(n, 0);
    w5.assign(n, 0);
    ratio[0] = 1;
    for (int i = 1; i < n; ++i) ratio[i] = ratio[(i - 1) / 2] * (i % 2 ? 4.0 / 3.0 : 3.0 / 2.0);
  }
  int bin(double f) const { return static_cast<int>(std::floor(f * scale)); }
  void measure(double *b, double bass) {
    b[0] = 0;
    for (int k = 1; k < 256; ++k) {
      b[k] = std::hypot(b[k], b[512 - k]);
      b[512 - k] = 0;
    }
    for (size_t i = 0; i < ratio.size(); ++i) {
      double f = bass * ratio[i];
      int r = bin(f), r4 = bin(f * 4 / 3), r5 = bin(f * 3 / 2);
      if (r >= 256 || b[r] < 0.0001) continue;
      if (r4 < 256 && b[r4] > 0.0001) w4[i] = b[r4] / b[r];
      if (r5 < 256 && b[r5] > 0.0001) w5[i] = b[r5] / b[r];
    }
  }
  void spread(double *b, double bass, size_t i, double a4, double a5) {
    double f = bass * ratio[i];
    int r = bin(f), r4 = bin(f * 4 / 3), r5 = bin(f * 3 / 2);
    if (r4 < 256) b[r4] = (b[r] * a4 + b[r4]) * 0.5;
    if (r5 < 256) b[r5] = (b[r] * a5 + b[r5]) * 0.5;
  }
  void repair(double *b, double bass) {
    for (size_t s = 0; s < 3 * ratio.size(); ++s) spread(b, bass, s % ratio.size(), w4[s % ratio.size()], w5[s % ratio.size()]);
  }
  void octaves(double *b, double bass) {
    for (size_t i = 4; i < ratio.size(); i = 4 * i + 4) spread(b, bass, i, w4[0], w5[0]);
  }
};

// A fixed "spectrum" with structure in every bin, in half-complex layout.
void test_spectrum(double *b) {
  for (int k = 0; k < 512; ++k) b[k] = std::sin(k * 0.7) * (1 + (k % 13)) * 0.1;
}

class UnfoldEngine : public testing::Test {
 protected:
  std::string dir = testkit::make_temp_dir("unfold-unit");
  char old[4096] = {};
  void SetUp() override {
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(chdir(old), 0); }
};

struct RunOut {
  std::string out;
  testkit::Wav wav;
};

RunOut run_unfold(std::vector<std::string> args) {
  args.insert(args.begin(), "binary");
  std::vector<char *> v;
  for (auto &a : args) v.push_back(&a[0]);
  TransformState view{};
  testing::internal::CaptureStdout();
  unfold_main(static_cast<int>(v.size()), v.data(), &view);
  RunOut r;
  r.out = testing::internal::GetCapturedStdout();
  testkit::read_wav("out.wav", r.wav);
  EXPECT_EQ(view.display[0], nullptr);  // the ether has cleared its slot
  EXPECT_EQ(view.dim1[0], 0);
  return r;
}

double to_value(int s) { return s * static_cast<double>(1.0f / 32767.0f); }
int to_sample(double v) { return static_cast<int16_t>(static_cast<long long>(v * 32767.0)); }

// unfold's engine, evaluated plainly: per sample the growing alpha and an
// ether step, per block the magnitudes by a direct DFT, the optional repair
// and the zero-phase sum of sines.
std::vector<int> reference(const testkit::Wav &in, double g, double scale, double bass, int depth, bool repair) {
  TransformState view{};
  Ether e(9, &view);
  e.alpha = 0;
  e.fpermu = 1.0;
  e.damp = 0.99;
  e.compute_weights();
  RefDecoder dec(depth, 512.0 / in.sample_rate);
  std::vector<int> out;
  long n = 0;
  const size_t blocks = in.frames() / 512;
  std::vector<double> sn(512), cs(512);
  for (int t = 0; t < 512; ++t) sn[t] = std::sin(2 * M_PI * t / 512), cs[t] = std::cos(2 * M_PI * t / 512);
  for (size_t b = 0; b < blocks; ++b) {
    double a[512], spectrum[512], y[512];
    for (int j = 0; j < 512; ++j) a[j] = to_value(in.samples[(b * 512 + j) * in.channels]);
    if (repair) e.snapshot();
    const long kept = n;
    for (int j = 0; j < 512; ++j) {
      e.set_alpha(e.alpha + g * std::exp(-g * static_cast<double>(n++)));
      a[j] = e.step(a[j]);
    }
    for (int k = 0; k < 512; ++k) spectrum[k] = 0;
    for (int k = 1; k < 256; ++k) {
      double re = 0, im = 0;
      for (int t = 0; t < 512; ++t) {
        re += a[t] * cs[(k * t) % 512];
        im -= a[t] * sn[(k * t) % 512];
      }
      spectrum[k] = re;
      spectrum[512 - k] = im;
    }
    dec.measure(spectrum, bass);
    if (repair) {
      if (e.peak < 256) dec.octaves(spectrum, bass);
      dec.repair(spectrum, bass);
    }
    for (int t = 0; t < 512; ++t) {
      double s = 0;
      for (int k = 1; k < 256; ++k) s += spectrum[k] * sn[(k * t) % 512];
      y[t] = -2 * scale * s / 256;
      out.push_back(to_sample(y[t]));
    }
    if (repair) {
      n = kept;
      e.restore();
      for (int j = 0; j < 512; ++j) {
        e.set_alpha(e.alpha + g * std::exp(-g * static_cast<double>(n++)));
        e.step(a[j]);  // the block as the first pass left it: the medium's output
        e.u[1] = y[j];
      }
    }
  }
  for (size_t t = blocks * 512; t < in.frames(); ++t) out.push_back(to_sample(to_value(in.samples[t * in.channels])));
  return out;
}

}  // namespace

TEST(UnfoldScanner, ArgumentsJoinedOrSeparateAndNonOptionsSkipped) {
  std::string trace;
  scan_all({"binary", "-oout.wav", "stray", "-i", "in.wav", "-D", "-a.00005", "-R"}, "i:o:a:DR", trace);
  EXPECT_EQ(trace, "o=out.wav;i=in.wav;Da=.00005;R");
}

TEST(UnfoldScanner, EndOfVectorGivesZeroThenMinusOneThenStartsAfresh) {
  std::vector<std::string> args = {"binary", "-D", "tail"};
  std::vector<char *> v;
  for (auto &a : args) v.push_back(&a[0]);
  unfold_option_index = 0;
  EXPECT_EQ(unfold_next_option(3, v.data(), "D"), 'D');
  EXPECT_EQ(unfold_next_option(3, v.data(), "D"), 0);  // ran past "tail"
  EXPECT_EQ(unfold_option_index, 3);
  EXPECT_EQ(unfold_next_option(3, v.data(), "D"), -1);
  EXPECT_EQ(unfold_option_index, 0);
  EXPECT_EQ(unfold_next_option(3, v.data(), "D"), 'D');
  // An option that is the last element: the next call is the end at once.
  unfold_option_index = 0;
  std::vector<std::string> args2 = {"binary", "-R"};
  std::vector<char *> v2 = {&args2[0][0], &args2[1][0]};
  EXPECT_EQ(unfold_next_option(2, v2.data(), "R"), 'R');
  EXPECT_EQ(unfold_next_option(2, v2.data(), "R"), -1);
}

TEST(UnfoldScanner, UnknownLetterAndMissingArgument) {
  std::string trace;
  scan_all({"binary", "-x", "-k"}, "k:", trace);
  EXPECT_EQ(trace, "??");
  TransformState view{};
  std::vector<std::string> args = {"binary", "-q"};
  std::vector<char *> v = {&args[0][0], &args[1][0]};
  testing::internal::CaptureStdout();
  EXPECT_EQ(unfold_main(2, v.data(), &view), 1);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("option unknown. aborting.\n"), std::string::npos);
  EXPECT_EQ(unfold_option_index, 0);
}

TEST(IvivDecoder, TreeOfFourthsAndFifthsWithOctaveNodes) {
  IvivDecoder d(9, 512.0 / 44100);
  EXPECT_EQ(d.slot_count, 512);
  EXPECT_EQ(d.node_count(), 511);
  EXPECT_DOUBLE_EQ(d.nodes[0].ratio, 1.0);
  EXPECT_DOUBLE_EQ(d.nodes[1].ratio, 4.0 / 3.0);
  EXPECT_DOUBLE_EQ(d.nodes[2].ratio, 1.5);
  EXPECT_DOUBLE_EQ(d.nodes[5].ratio, 1.5 * 4.0 / 3.0);  // the fourth above the fifth
  EXPECT_DOUBLE_EQ(d.nodes[6].ratio, 1.5 * 1.5);
  for (int b : {4, 20, 84, 340}) EXPECT_NEAR(d.nodes[b].ratio, b == 4 ? 2 : b == 20 ? 4 : b == 84 ? 8 : 16, 1e-12);
  EXPECT_EQ(d.bin(100.0), static_cast<int>(std::floor(100.0 * 512 / 44100)));
}

TEST(IvivDecoder, MeasureRepairAndSpreadFollowTheirFormulas) {
  for (double bass : {25.0, 55.0, 300.0}) {
    IvivDecoder d(7, 512.0 / 44100);
    RefDecoder r(7, 512.0 / 44100);
    double b[512], rb[512];
    test_spectrum(b);
    test_spectrum(rb);
    b[256] = rb[256] = 42;  // left alone
    d.measure(0.5, b, bass);
    r.measure(rb, bass);
    EXPECT_EQ(b[256], 42);
    for (int k = 0; k < 512; ++k) ASSERT_NEAR(b[k], rb[k], 1e-12) << k;
    int set = 0;
    for (int i = 0; i < d.node_count(); ++i) {
      ASSERT_NEAR(d.nodes[i].w_fourth, r.w4[i], 1e-12) << i;
      ASSERT_NEAR(d.nodes[i].w_fifth, r.w5[i], 1e-12) << i;
      set += d.nodes[i].w_fourth != 0;
    }
    EXPECT_GT(set, 3);
    d.spread_octaves(b, bass);
    r.octaves(rb, bass);
    for (int k = 0; k < 512; ++k) ASSERT_NEAR(b[k], rb[k], 1e-9) << k;
    d.repair(b, bass);
    r.repair(rb, bass);
    for (int k = 0; k < 512; ++k) ASSERT_NEAR(b[k], rb[k], 1e-9 * (1 + std::fabs(rb[k]))) << k;
  }
}

TEST(IvivDecoder, QualityOfTheKey) {
  const double bs = 512.0 / 44100;
  IvivDecoder d(3, bs);
  double b[512] = {};
  const double key = 440;
  const double s = key * bs;
  auto at = [&](double f) -> double & { return b[static_cast<int>(std::floor(f))]; };
  // Same proportions one octave up: q = 1.
  at(s) = 1, at(s * 4 / 3) = 0.5, at(s * 3 / 2) = 0.8;
  at(2 * s) = 2, at(s * 8 / 3) = 1.0, at(3 * s) = 1.6;
  EXPECT_NEAR(d.quality(b, key), 1.0, 1e-12);
  // A different shape: q = exp(-(difference of the angles)^2).
  at(3 * s) = 0.1;
  double low = std::atan2(0.8 - 1, 0.5 - 1), high = std::atan2(0.1 - 2, 1.0 - 2);
  EXPECT_NEAR(d.quality(b, key), std::exp(-(high - low) * (high - low)), 1e-12);
  EXPECT_NEAR(d.angle_low, low, 1e-12);
  EXPECT_NEAR(d.angle_high, high, 1e-12);
  // The fifth one octave up at bin 256 or beyond: 0, the stored values stay.
  const double q_before = d.q;
  double high_key = 256 / (3 * bs) + 0.01;
  EXPECT_EQ(d.quality(b, high_key), 0.0);
  EXPECT_EQ(d.q, q_before);
  EXPECT_EQ(d.quality(b, 256 / bs), 0.0);
}

TEST_F(UnfoldEngine, OutputIsWhatTheMediumsSpectrumGives) {
  // Low bass, high key: a mixture whose spectrum is far from flat.
  testkit::Wav in = testkit::sine_wav(44100, 512 * 8 + 100, {{110, 0.3}, {165, 0.2}, {880, 0.1}}, 2);
  ASSERT_TRUE(testkit::write_wav("in.wav", in));
  RunOut plain = run_unfold({"-iin.wav", "-oout.wav", "-a.0002", "-s0.4"});
  EXPECT_NE(plain.out.find("current processing profile for simulation:\n"), std::string::npos);
  std::vector<int> want = reference(in, 0.0002, 0.4, 25, 9, false);
  ASSERT_EQ(plain.wav.frames(), want.size());
  int worst = 0;
  for (size_t t = 0; t < want.size(); ++t) worst = std::max(worst, std::abs(plain.wav.samples[2 * t] - want[t]));
  EXPECT_LE(worst, 1);
  // Every block is a sum of sines: it starts at 0.
  for (size_t b = 0; b < 8; ++b) EXPECT_EQ(plain.wav.samples[2 * 512 * b], 0) << b;
  int loud = 0;
  for (int v : want) loud = std::max(loud, std::abs(v));
  EXPECT_GT(loud, 300);

  RunOut fixed = run_unfold({"-iin.wav", "-oout.wav", "-a.0002", "-s0.4", "-R"});
  EXPECT_NE(fixed.out.find("current processing profile for repair:\n"), std::string::npos);
  EXPECT_NE(fixed.wav.samples, plain.wav.samples);
  std::vector<int> want_fixed = reference(in, 0.0002, 0.4, 25, 9, true);
  ASSERT_EQ(fixed.wav.frames(), want_fixed.size());
  worst = 0;
  for (size_t t = 0; t < want_fixed.size(); ++t)
    worst = std::max(worst, std::abs(fixed.wav.samples[2 * t] - want_fixed[t]));
  EXPECT_LE(worst, 1);
}

TEST_F(UnfoldEngine, ShortInputIsCopiedAndTheFinalLineNeedsNoBlock) {
  testkit::Wav in = testkit::sine_wav(44100, 300, {{440, 0.5}}, 1);
  ASSERT_TRUE(testkit::write_wav("in.wav", in));
  RunOut r = run_unfold({"-iin.wav", "-oout.wav"});
  ASSERT_EQ(r.wav.frames(), 300u);
  for (size_t t = 0; t < 300; ++t) EXPECT_EQ(r.wav.samples[t], to_sample(to_value(in.samples[t])));
  EXPECT_NE(r.out.find("[.]\n\n---------- processed 0 sec(#0): no full block, no averages\n"), std::string::npos);
  EXPECT_EQ(r.out.find("nan"), std::string::npos);
  EXPECT_TRUE(testkit::file_exists("log.txt"));
}

TEST_F(UnfoldEngine, MediumCommandsSetTheirModeAndClearTheViewAfterwards) {
  ASSERT_TRUE(testkit::write_wav("in.wav", testkit::sine_wav(44100, 512 * 2, {{440, 0.5}}, 2)));
  testkit::write_file("field", "dim 6 5\nshape 1\n");
  struct Case {
    int (*handler)(char *);
    const char *line;
    int mode;
  } cases[] = {{tfield, "tfield a.wav in.wav", 1}, {mirage, "mirage b.wav in.wav", 5}, {unfold, "unfold c.wav in.wav", 4}};
  for (const Case &c : cases) {
    char line[64];
    snprintf(line, sizeof line, "%s", c.line);
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.handler(line), 0);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(g_graphs.live.mode, c.mode) << c.line;
    EXPECT_EQ(g_graphs.live.display[0], nullptr) << c.line;
    EXPECT_EQ(g_graphs.live.live[0], nullptr) << c.line;
    EXPECT_EQ(g_graphs.live.dim1[0], 0) << c.line;
  }
  EXPECT_EQ(testkit::read_file("a.wav"), testkit::read_file("b.wav"));
  EXPECT_EQ(testkit::read_file("c.wav").size(), 44u + 4 * 1024);
}
