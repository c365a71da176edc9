// The per-slot analyser against straightforward DFTs written here.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/feed.h"
#include "display/analyser.h"

namespace {

constexpr int kN = 512;
constexpr int kHalf = kN / 2;
constexpr int kRing = 10240;

// Real-to-halfcomplex DFT as FFTW defines it (unnormalised).
std::vector<double> naive_r2hc(const std::vector<double> &x) {
  int n = static_cast<int>(x.size());
  std::vector<double> h(n, 0.0);
  for (int k = 0; k <= n / 2; ++k) {
    double re = 0, im = 0;
    for (int j = 0; j < n; ++j) {
      double a = -2 * M_PI * static_cast<double>(j) * k / n;
      re += x[j] * cos(a);
      im += x[j] * sin(a);
    }
    h[k] = re;
    if (k > 0 && k < n / 2) h[n - k] = im;
  }
  return h;
}

double mag(const std::vector<double> &h, int k) {
  int n = static_cast<int>(h.size());
  return std::hypot(h[k], h[n - k]);
}

// Window as the analyser must read it: ring[start] first, then backwards.
std::vector<double> window_of(const std::vector<double> &ring, int start) {
  std::vector<double> w(kN);
  int len = static_cast<int>(ring.size());
  for (int k = 0; k < kN; ++k) w[k] = ring[((start - k) % len + len) % len];
  return w;
}

std::vector<double> tone_ring(int len, double cycles_per_512, double amp, double phase = 0.3) {
  std::vector<double> r(len);
  for (int i = 0; i < len; ++i) r[i] = amp * cos(2 * M_PI * cycles_per_512 * i / kN + phase);
  return r;
}

std::vector<double> noise_ring(int len, unsigned seed) {
  std::vector<double> r(len);
  for (int i = 0; i < len; ++i) {
    seed = seed * 1103515245u + 12345u;
    r[i] = ((seed >> 8) & 0xffff) / 32768.0 - 1.0;
  }
  return r;
}

const double *row(const Analyser &a, int r) { return a.history + static_cast<size_t>(r) * a.n; }

TEST(Analyser, MadeWithZeroHistoryAndPlans) {
  Analyser a(kN, 256);
  ASSERT_TRUE(a.ok());
  EXPECT_EQ(a.n, kN);
  EXPECT_EQ(a.rows, 256);
  EXPECT_EQ(a.time_span, 0);
  for (int i = 0; i < kN * 256; ++i) ASSERT_EQ(a.history[i], 0) << i;
}

TEST(AnalyserSpectrum, PureToneAtBinKPeaksAtElementKMinusOneOfTheChosenHalf) {
  for (int half : {0, 1}) {
    for (int k : {5, 37, 200}) {
      Analyser a(kN, 256);
      std::vector<double> ring = tone_ring(kRing, k, 0.5);
      int start = 1234;
      a.spectrum_step(ring.data(), start, kRing, half, nullptr);
      const double *r = row(a, 0) + (half ? kHalf : 0);
      const double *other = row(a, 0) + (half ? 0 : kHalf);
      int peak = 0;
      for (int i = 1; i < kHalf; ++i)
        if (r[i] > r[peak]) peak = i;
      EXPECT_EQ(peak, k - 1) << "half " << half << " bin " << k;
      EXPECT_NEAR(r[k - 1], 0.5 * kN / 2, 1e-6);
      EXPECT_EQ(r[kHalf - 1], 0);
      for (int i = 0; i < kHalf; ++i) ASSERT_EQ(other[i], 0) << "other half touched at " << i;
    }
  }
}

TEST(AnalyserSpectrum, RowMatchesDftOfTheWindowReadBackwardsFromStart) {
  Analyser a(kN, 256);
  std::vector<double> ring = noise_ring(kRing, 7);
  // start near 0 so the window wraps round the ring's end
  int start = 100;
  a.spectrum_step(ring.data(), start, kRing, 0, nullptr);
  std::vector<double> h = naive_r2hc(window_of(ring, start));
  for (int k = 1; k < kHalf; ++k) ASSERT_NEAR(row(a, 0)[k - 1], mag(h, k), 1e-8) << k;
  EXPECT_EQ(row(a, 0)[kHalf - 1], 0);
}

TEST(AnalyserSpectrum, EachStepScrollsTheHistoryOneRow) {
  Analyser a(kN, 4);
  std::vector<double> r1 = tone_ring(kRing, 10, 1), r2 = tone_ring(kRing, 20, 1), r3 = tone_ring(kRing, 30, 1);
  a.spectrum_step(r1.data(), 0, kRing, 0, nullptr);
  a.spectrum_step(r2.data(), 0, kRing, 0, nullptr);
  a.spectrum_step(r3.data(), 0, kRing, 0, nullptr);
  EXPECT_GT(row(a, 0)[29], 100);
  EXPECT_GT(row(a, 1)[19], 100);
  EXPECT_GT(row(a, 2)[9], 100);
  EXPECT_LT(row(a, 0)[9], 1e-6);
  // rows beyond the ones in use stay untouched
  for (int i = 0; i < kN; ++i) ASSERT_EQ(row(a, 4)[i], 0);
}

TEST(AnalyserSpectrum, BandFilterPathIsSecondForwardTransformOfTheBandScaledBy256) {
  Analyser a(kN, 256);
  std::vector<double> ring = noise_ring(kRing, 99);
  int start = 5000;
  BandFilter band{5, 5, 10};  // kind, lower bin, upper bin
  a.spectrum_step(ring.data(), start, kRing, 1, &band);

  std::vector<double> h = naive_r2hc(window_of(ring, start));
  std::vector<double> limited(kN, 0.0);
  limited[0] = h[0];
  for (int k = band.lower_bin; k <= band.upper_bin; ++k) {
    limited[k] = h[k];
    limited[kN - k] = h[kN - k];
  }
  std::vector<double> again = naive_r2hc(naive_r2hc(limited));
  const double *r = row(a, 0) + kHalf;
  for (int k = 1; k < kHalf; ++k) ASSERT_NEAR(r[k - 1], mag(again, k) / 256.0, 1e-7) << k;
  EXPECT_EQ(r[kHalf - 1], 0);
  // the filtered row differs from the plain spectrum
  EXPECT_GT(std::fabs(r[99] - mag(h, 100)), 1e-3);
}

TEST(AnalyserSpectrum, BandFilterGivesTheSameRowEveryStepOfTheSameWindow) {
  // The filter input keeps no state of earlier steps.
  Analyser a(kN, 256);
  BandFilter band{5, 3, 40};
  std::vector<double> loud = tone_ring(kRing, 20, 0.9), ring = noise_ring(kRing, 3);
  a.spectrum_step(loud.data(), 0, kRing, 0, &band);
  a.spectrum_step(ring.data(), 77, kRing, 0, &band);
  std::vector<double> first(row(a, 0), row(a, 0) + kHalf);
  a.spectrum_step(ring.data(), 77, kRing, 0, &band);
  for (int i = 0; i < kHalf; ++i) ASSERT_DOUBLE_EQ(row(a, 0)[i], first[i]) << i;
}

TEST(AnalyserWavelet, LevelStepWritesRowOfLevelWithoutScrolling) {
  Analyser a(kN, 9);
  std::vector<double> level = noise_ring(512, 11);
  a.level_step(3, level.data(), 40, 512);
  std::vector<double> h = naive_r2hc(window_of(level, 40));
  for (int k = 1; k < kHalf; ++k) ASSERT_NEAR(row(a, 3)[k - 1], mag(h, k), 1e-8);
  EXPECT_EQ(row(a, 3)[kHalf - 1], 0);
  for (int r : {0, 2, 4}) {
    for (int i = 0; i < kN; ++i) ASSERT_EQ(row(a, r)[i], 0) << r;
  }
}

TEST(AnalyserWavelet, DetailRowZeroIsAllZerosAndHigherRowsUseTheLevelDifference) {
  Analyser a(kN, 9);
  std::vector<double> fine = noise_ring(512, 5), coarse = noise_ring(512, 6);
  // leave something in row 0 first: the detail step must overwrite it with zeros
  a.level_step(0, fine.data(), 0, 512);
  a.detail_step(0, fine.data(), static_cast<const double *>(nullptr), 17, 512);
  for (int i = 0; i < kHalf; ++i) ASSERT_EQ(row(a, 0)[i], 0) << i;

  int start = 3;
  a.detail_step(1, coarse.data(), fine.data(), start, 512);
  std::vector<double> diff(kN);
  int p = start;
  for (int i = 0; i < kN; ++i) {
    int q = (p - 1 + 512) % 512;
    diff[i] = coarse[p] - fine[q];
    p = q;
  }
  std::vector<double> h = naive_r2hc(diff);
  for (int k = 1; k < kHalf; ++k) ASSERT_NEAR(row(a, 1)[k - 1], mag(h, k), 1e-8) << k;
}

TEST(AnalyserTimeSpan, FollowsTheFeedTimeAndStaysWhenItDoesNotMove) {
  Analyser a(kN, 256);
  a.update_time_span(0.5);
  double expected = 0.5 * 256 * (1 - 0.9);
  EXPECT_NEAR(a.time_span, expected, 1e-12);
  a.update_time_span(0.5);
  EXPECT_EQ(a.time_span, expected);
  a.update_time_span(0.51);
  expected = 0.01 * 256 * 0.1 + expected * 0.9;
  EXPECT_NEAR(a.time_span, expected, 1e-12);
  EXPECT_EQ(a.last_time, 0.51);
  // a NaN time does not poison later spans
  a.update_time_span(NAN);
  a.update_time_span(0.52);
  EXPECT_TRUE(std::isfinite(a.time_span));
  EXPECT_NEAR(a.time_span, expected, 1e-12);
}

TEST(AnalyserTimeSpan, SettlesOnTheDurationTheRowsCover) {
  Analyser a(kN, 100);
  double t = 0;
  a.update_time_span(t);
  for (int i = 0; i < 400; ++i) a.update_time_span(t += 0.02);
  EXPECT_NEAR(a.time_span, 100 * 0.02, 1e-6);
}

TEST(AnalyserFrequencies, BinAndFrequencyConversions) {
  Analyser a(kN, 256);
  EXPECT_DOUBLE_EQ(a.bin_frequency(44100, -1), 22050);
  EXPECT_DOUBLE_EQ(a.bin_frequency(44100, 0), 0);
  EXPECT_DOUBLE_EQ(a.bin_frequency(48000, 32), 3000);
  EXPECT_EQ(a.frequency_bin(44100, 440), 5);
  EXPECT_EQ(a.frequency_bin(48000, 3000), 32);
  EXPECT_EQ(a.frequency_bin(44100, 22050), 256);
}

TEST(AnalyserHaar, StepSumsAndDifferencesPairs) {
  double d[4] = {1, 3, 10, 4}, tmp[4];
  haar_step(d, tmp, 4);
  const double r = 1 / sqrt(2.0);
  EXPECT_NEAR(d[0], 4 * r, 1e-14);
  EXPECT_NEAR(d[1], 14 * r, 1e-14);
  EXPECT_NEAR(d[2], -2 * r, 1e-14);
  EXPECT_NEAR(d[3], 6 * r, 1e-14);
}

TEST(AnalyserHaar, PyramidOfAKnownFourByFourMatrix) {
  // Stored in a wider matrix (stride 6) to check the stride is honoured.
  const int stride = 6;
  double m[4 * stride];
  const double a[4][4] = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 16}};
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < stride; ++c) m[r * stride + c] = c < 4 ? a[r][c] : -99;
  }
  double rt[4], ct[4];
  haar_2d(m, stride, 4, rt, ct);
  // Level 1 on 2x2 blocks [p q; s t]: LL=(p+q+s+t)/2, HL=(p-q+s-t)/2 (right),
  // LH=(p+q-s-t)/2 (below), HH=(p-q-s+t)/2. Level 2 repeats on the LL block.
  // Every block has HL -1, LH -4, HH 0; LL of the blocks: 7, 11, 23, 27 ->
  // LL2 = 34, HL2 = -4, LH2 = -16, HH2 = 0.
  const double expect[4][4] = {{34, -4, -1, -1}, {-16, 0, -1, -1}, {-4, -4, 0, 0}, {-4, -4, 0, 0}};
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(m[r * stride + c], expect[r][c], 1e-12) << r << "," << c;
    EXPECT_EQ(m[r * stride + 4], -99);
    EXPECT_EQ(m[r * stride + 5], -99);
  }
}

TEST(AnalyserW2d, NothingWithoutBuffersThenSpectrogramPyramid) {
  Analyser a(kN, 256);
  std::vector<double> ring = noise_ring(kRing, 21);
  a.w2d_step(ring.data(), 0, kRing);
  for (int i = 0; i < kN * 256; ++i) ASSERT_EQ(a.history[i], 0);
  ASSERT_TRUE(a.alloc_w2d());

  for (int s = 0; s < 3; ++s) a.w2d_step(ring.data(), 300 * s, kRing);
  // scratch rows: newest first, element 0 cleared
  for (int s = 0; s < 3; ++s) {
    std::vector<double> h = naive_r2hc(window_of(ring, 300 * (2 - s)));
    const double *sr = a.w2d_spectrum(s);
    EXPECT_EQ(sr[0], 0);
    for (int k = 1; k < kHalf; k += 17) ASSERT_NEAR(sr[k], mag(h, k), 1e-8) << s << " " << k;
  }
  // The pyramid is orthonormal: the 256x256 block keeps its energy, and its
  // corner is the block's sum / 256.
  double sum = 0, energy = 0, out_energy = 0;
  for (int r = 0; r < 256; ++r) {
    for (int c = 0; c < 256; ++c) {
      double v = a.w2d_spectrum(r)[c];
      sum += v;
      energy += v * v;
      out_energy += a.history[r * kN + c] * a.history[r * kN + c];
    }
  }
  EXPECT_NEAR(a.history[0], sum / 256, 1e-9 * std::fabs(sum));
  EXPECT_NEAR(out_energy, energy, 1e-9 * energy);
  // columns past the block are a plain copy of the scratch
  EXPECT_EQ(a.history[1 * kN + 300], a.w2d_spectrum(1)[300]);
}

TEST(AnalyserW2d, PyramidOfEveryStepIsTheTextbookOneBitForBit) {
  Analyser a(kN, 256);
  ASSERT_TRUE(a.alloc_w2d());
  std::vector<double> ring = noise_ring(kRing, 4);
  // Past a full turn of the spectrogram's 256 rows.
  for (int s = 0; s < 300; ++s) {
    a.w2d_step(ring.data(), 37 * s, kRing);
    if (s != 0 && s != 255 && s != 299) continue;
    // Row r of the spectrogram is the spectrum of r steps ago (none yet: zeros).
    for (int r : {0, 1, 100, 255}) {
      const double *row = a.w2d_spectrum(r);
      std::vector<double> h = naive_r2hc(window_of(ring, 37 * (s - r)));
      for (int k = 0; k < kHalf; k += 13) ASSERT_NEAR(row[k], r > s || k == 0 ? 0 : mag(h, k), 1e-8) << s << " " << r;
    }
    std::vector<double> want(static_cast<size_t>(kN) * 256, 0);
    for (int r = 0; r < 256; ++r)
      for (int k = 0; k < kHalf; ++k) want[r * kN + k] = a.w2d_spectrum(r)[k];
    std::vector<double> rt(256), ct(256);
    haar_2d(want.data(), kN, 256, rt.data(), ct.data());
    for (int i = 0; i < kN * 256; ++i) ASSERT_EQ(a.history[i], want[i]) << "step " << s << " element " << i;
  }
}

TEST(HeatColour, RampOfRedGreenBlue) {
  float r, g, b;
  heat_colour(0.25f, &r, &g, &b);
  EXPECT_FLOAT_EQ(r, 0.25f);
  EXPECT_FLOAT_EQ(g, 0.0625f);
  EXPECT_FLOAT_EQ(b, 0.25f);
  heat_colour(1, &r, &g, &b);
  EXPECT_FLOAT_EQ(b, 1);
}

}  // namespace
