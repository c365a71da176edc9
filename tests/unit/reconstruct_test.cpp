// reconstruct: codebook intake, revival, and whole runs against a direct DFT.
#include "transforms/reconstruct.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/testkit.h"

namespace {

std::string captured(const std::function<void()> &f) {
  testing::internal::CaptureStdout();
  f();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

struct Line {
  double t;
  int f, g;
  double h, l;
};

std::string codebook_text(const std::vector<Line> &lines) {
  std::string s;
  char buf[160];
  for (const Line &x : lines) {
    snprintf(buf, sizeof buf, "%f %d %d %f %f 1.000000 1.333333\n", x.t, x.f, x.g, x.h, x.l);
    s += buf;
  }
  return s;
}

// A reader over a codebook file written for the test.
struct Book {
  std::string path;
  CodebookReader reader;
  std::vector<CodebookEntry> table = std::vector<CodebookEntry>(kCodebookEntries, CodebookEntry{});
  explicit Book(const std::string &text) {
    path = testkit::make_temp_dir("codebook") + "/iviv.log";
    testkit::write_file(path, text);
    reader.file = fopen(path.c_str(), "r");
    reader.sample_rate = 44100;
  }
  ~Book() {
    if (reader.file) fclose(reader.file);
  }
  int take(int w, std::string *out = nullptr) {
    int r = 0;
    std::string o = captured([&] { r = take_codebook_lines(reader, table.data(), w); });
    if (out) *out = o;
    return r;
  }
};

// Direct evaluation of one window: DFT magnitudes, pass band, optional
// revival with the given pairs, renormalisation and the sine resynthesis.
std::vector<double> reference_window(const std::vector<double> &x, int lo, int hi, bool revive,
                                     const std::vector<Line> &table, int iterations, double rescale) {
  const int n = 512;
  std::vector<double> mag(n, 0.0);
  double e = 0;
  for (int k = 0; k <= 255; ++k) {
    double re = 0, im = 0;
    for (int j = 0; j < n; ++j) {
      re += x[j] * std::cos(2 * M_PI * j * k / n);
      im -= x[j] * std::sin(2 * M_PI * j * k / n);
    }
    double m = k == 0 ? std::fabs(re) : std::hypot(re, im);
    e += m;
    if (k >= 1) mag[k] = m;
  }
  std::vector<double> v(n, 0.0);
  for (int k = 1; k <= 255; ++k)
    if (k >= lo && k <= hi) v[k] = mag[k];
  if (revive) {
    for (int it = 0; it < iterations; ++it) {
      for (const Line &p : table) {
        double q = p.h / p.l;
        if (p.f < lo || p.f > hi) v[p.f] = (q * v[p.g] + v[p.f]) / 2;
        if (p.g < lo || p.g > hi) v[p.g] = (v[p.f] / q + v[p.g]) / 2;
      }
      double s = 0;
      for (int k = 1; k <= 255; ++k) s += std::hypot(v[k], v[n - k]);
      double target = rescale * e;
      for (int k = 1; k < n; ++k) v[k] *= target / s;
    }
  }
  std::vector<double> out(n);
  for (int t = 0; t < n; ++t) {
    double sum = 0;
    for (int k = 1; k <= 255; ++k) sum += -2.0 * v[k] * std::sin(2 * M_PI * k * t / n);
    out[t] = sum / 256.0;
  }
  return out;
}

double frame_value(const testkit::Wav &w, size_t i) {
  const double s = static_cast<double>(1.0f / 32767.0f);
  return (w.samples[2 * i] * s + w.samples[2 * i + 1] * s) * 0.5;
}

int to_sample(double v) { return static_cast<int16_t>(static_cast<long>(v * 32767.0)); }

class Run : public ::testing::Test {
 protected:
  std::string dir = testkit::make_temp_dir("reconstruct");
  char old_cwd[4096] = {};
  void SetUp() override {
    ASSERT_TRUE(getcwd(old_cwd, sizeof old_cwd));
    ASSERT_EQ(chdir(dir.c_str()), 0);
    g_reconstruct_params = kReconstructDefaults;
  }
  void TearDown() override { ASSERT_EQ(chdir(old_cwd), 0); }
  int run(const char *out, const char *in, const char *book, std::string *text = nullptr) {
    int r = 0;
    testing::internal::CaptureStderr();
    std::string o = captured([&] { r = reconstruct_file(out, in, book); });
    std::string e = testing::internal::GetCapturedStderr();
    if (text) *text = o + e;
    return r;
  }
};

}  // namespace

TEST(ReconstructPieces, PassBand) {
  int lo, hi;
  reconstruct_band(kReconstructDefaults, 44100, &lo, &hi);
  EXPECT_EQ(lo, 4);
  EXPECT_EQ(hi, 9);
  ReconstructParams p = kReconstructDefaults;
  p.band_hi_freq = 30000;
  reconstruct_band(p, 44100, &lo, &hi);
  EXPECT_EQ(hi, 256);
  p.band_lo_freq = 1000;
  reconstruct_band(p, 22050, &lo, &hi);
  EXPECT_EQ(lo, 23);
}

TEST(ReconstructPieces, EveryFiniteBandIsUsableAndCutToTheSpectrum) {
  struct Case {
    double lo, hi;
    bool ok;
    int lo_bin, hi_bin;
  } cases[] = {
      {387.6, 775.2, true, 4, 9},   {0, 30000, true, 0, 256},     {-1, 775.2, true, 0, 9},
      {600, 500, true, 6, 5},       {1e308, 775.2, true, 1000000000, 9}, {NAN, 775.2, false, 0, 0},
      {0, INFINITY, false, 0, 0},   {-INFINITY, 10, false, 0, 0},
  };
  for (const Case &c : cases) {
    ReconstructParams p = kReconstructDefaults;
    p.band_lo_freq = c.lo;
    p.band_hi_freq = c.hi;
    testing::internal::CaptureStdout();
    EXPECT_EQ(reconstruct_band_ok(p, 44100), c.ok) << c.lo << ".." << c.hi;
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(said.find("is not usable: it needs finite edges. aborting.\n") != std::string::npos, !c.ok) << said;
    if (!c.ok) continue;
    int lo, hi;
    reconstruct_band(p, 44100, &lo, &hi);
    EXPECT_EQ(lo, c.lo_bin) << c.lo;
    EXPECT_EQ(hi, c.hi_bin) << c.hi;
  }
}

TEST(ReconstructPieces, MagnitudeSumSkipsNyquist) {
  std::vector<double> a(512, 0.0);
  a[0] = -2;
  a[3] = 3;
  a[509] = 4;
  a[256] = 100;
  a[100] = -1;
  EXPECT_DOUBLE_EQ(magnitude_sum(a.data(), 512), 2 + 5 + 1);
}

TEST(ReconstructPieces, CodebookLineChecks) {
  CodebookEntry e{};
  EXPECT_TRUE(parse_codebook_line("1.5 12 16 0.25 0.5 1.0 1.333 extra", &e));
  EXPECT_EQ(e.time, 1.5);
  EXPECT_EQ(e.bin, 12);
  EXPECT_EQ(e.partner_bin, 16);
  EXPECT_EQ(e.magnitude, 0.25);
  EXPECT_EQ(e.partner_magnitude, 0.5);
  EXPECT_TRUE(parse_codebook_line("0 0 511 1 1", &e));
  EXPECT_FALSE(parse_codebook_line("1.5 12 16 0.25", &e));
  EXPECT_FALSE(parse_codebook_line("", &e));
  EXPECT_FALSE(parse_codebook_line("1.5 12 sixteen 0.25 0.5", &e));
  EXPECT_FALSE(parse_codebook_line("1.5 12 16 0.25x 0.5", &e));
  EXPECT_FALSE(parse_codebook_line("1.5 512 16 0.25 0.5", &e));
  EXPECT_FALSE(parse_codebook_line("1.5 -1 16 0.25 0.5", &e));
  EXPECT_FALSE(parse_codebook_line("1.5 3 99999999999999999999 0.25 0.5", &e));
}

TEST(ReconstructPieces, ToleranceReplacesOrKeeps) {
  {
    Book b(codebook_text({{0, 10, 20, 0.2, 0.1}, {0, 10, 20, 0.3, 0.1}, {0, 10, 20, 0.3, 0.1}}));
    b.take(1);
    EXPECT_EQ(b.reader.entries, 3);  // the third line sees no change
    EXPECT_EQ(b.reader.accepted, 2);
    EXPECT_EQ(b.table[0].magnitude, 0.3);
    EXPECT_TRUE(b.table[1].empty());
  }
  {
    Book b(codebook_text({{0, 10, 20, 0.2, 0.1}, {0, 10, 20, 0.3, 0.1}}));
    b.take(1);
    EXPECT_EQ(b.reader.entries, 2);
    EXPECT_EQ(b.reader.accepted, 2);
  }
  {
    Book b(codebook_text({{0, 10, 20, 0.2, 0.1}, {0, 10, 20, 0.21, 0.1}}));
    b.take(1);
    EXPECT_EQ(b.reader.entries, 2);
    EXPECT_EQ(b.reader.accepted, 1);
    EXPECT_EQ(b.table[0].magnitude, 0.2);
  }
}

TEST(ReconstructPieces, IntakeFollowsTheTimeStamps) {
  const double dt = 512.0 / 44100;  // 11.6 ms per window
  Book b(codebook_text({{12.5, 5, 6, 1, 1},
                        {12.505, 5, 7, 1, 1},
                        {12.51, 5, 8, 1, 1},
                        {12.52, 5, 9, 1, 1},
                        {12.5 + 1.5 * dt, 5, 10, 1, 1},
                        {12.5 + 1.9 * dt, 5, 11, 1, 1},
                        {12.5 + 2.2 * dt, 5, 12, 1, 1},
                        {50.0, 5, 13, 1, 1}}));
  std::string out;
  EXPECT_EQ(b.take(0, &out), 1);
  EXPECT_EQ(out, "");  // nothing is due before the first stamp
  EXPECT_EQ(b.reader.t0, 12.5);
  EXPECT_EQ(b.reader.entries, 0);
  // Window 1: lines up to 11.6 ms past 12.5, plus the first one beyond.
  EXPECT_EQ(b.take(1, &out), 1);
  EXPECT_EQ(out, "[4]");
  EXPECT_EQ(b.reader.entries, 4);
  EXPECT_EQ(b.table[3].partner_bin, 9);
  // Window 2 starts at the buffered line (1.5 windows) and takes one beyond 2.
  EXPECT_EQ(b.take(2, &out), 1);
  EXPECT_EQ(out, "[3]");
  EXPECT_EQ(b.table[6].partner_bin, 12);
  EXPECT_EQ(b.take(3, &out), 1);
  EXPECT_EQ(out, "");
  // The last line is taken once its window comes; then the book is spent.
  EXPECT_EQ(b.take(5000, &out), 0);
  EXPECT_EQ(out, "[1]");
  EXPECT_EQ(b.reader.entries, 8);
  EXPECT_EQ(b.take(6000, &out), 0);
  EXPECT_EQ(b.reader.entries, 8);
}

TEST(ReconstructPieces, EmptyAndBadLines) {
  {
    Book b("");
    EXPECT_EQ(b.take(0), 0);
    EXPECT_EQ(b.take(1), 0);
    EXPECT_EQ(b.reader.entries, 0);
  }
  {
    Book b("0 1 2 0.5 0.5\n0 3 4 0.00001 0.5\n0 600 4 0.5 0.5\n0 3\nnonsense\n0 3 4 0.5 0\n0 5 6 0.5 0.5\n");
    b.reader.threshold = 0.0001;
    std::string out;
    EXPECT_EQ(b.take(1, &out), 0);
    EXPECT_EQ(out, "EEEEE[7]");
    EXPECT_EQ(b.reader.errors, 5);
    EXPECT_EQ(b.reader.entries, 2);
    EXPECT_EQ(b.table[1].bin, 5);
  }
}

TEST(ReconstructPieces, ReviveMatchesTheDirectRule) {
  std::vector<double> v(512, 0.0), w;
  for (int k = 4; k <= 9; ++k) v[k] = k * 0.1;
  std::vector<CodebookEntry> table(kCodebookEntries, CodebookEntry{});
  table[0] = {0, 20, 6, 0.5, 0.25};
  table[1] = {0, 7, 30, 0.3, 0.6};
  table[2] = {0, 40, 20, 0.2, 0.4};
  w = v;
  revive_spectrum(table.data(), v.data(), 4, 9, 10.0, 3);
  for (int it = 0; it < 3; ++it) {
    w[20] = (2 * w[6] + w[20]) / 2;
    w[30] = (w[7] / 0.5 + w[30]) / 2;
    w[40] = (0.5 * w[20] + w[40]) / 2;
    w[20] = (w[40] / 0.5 + w[20]) / 2;
    double s = 0;
    for (int k = 1; k < 256; ++k) s += w[k];
    for (int k = 1; k < 512; ++k) w[k] *= 10.0 / s;
  }
  for (int k = 0; k < 512; ++k) EXPECT_NEAR(v[k], w[k], 1e-12) << k;
  // Nothing left to scale: a silent window stays silent, never NaN.
  std::vector<double> z(512, 0.0);
  revive_spectrum(table.data(), z.data(), 4, 9, 10.0, 2);
  for (double x : z) EXPECT_EQ(x, 0.0);
}

TEST(ReconstructPieces, ParameterFile) {
  std::string path = testkit::make_temp_dir("param") + "/reconstruct.param";
  g_reconstruct_params = kReconstructDefaults;
  EXPECT_EQ(read_reconstruct_params(path.c_str()), 0);
  testkit::write_file(path,
                      "#reconstruct.param parameters dynamically created using *yelm*\n\nmode bandpass\n"
                      "band_lo_freq 100\r\nrescale\ntolerance 0.5\nunknown 3\n\nthreshold 0.01\niterations 7\n");
  EXPECT_EQ(read_reconstruct_params(path.c_str()), 1);
  const ReconstructParams &p = g_reconstruct_params;
  EXPECT_EQ(p.mode, 'b');
  EXPECT_EQ(p.band_lo_freq, 100);
  EXPECT_EQ(p.band_hi_freq, 775.2);  // absent: kept
  EXPECT_EQ(p.rescale, 1.0);         // no value: skipped
  EXPECT_EQ(p.tolerance, 0.5);
  EXPECT_EQ(p.threshold, 0.01);
  EXPECT_EQ(p.iterations, 7);
  g_reconstruct_params = kReconstructDefaults;
}

TEST_F(Run, BandpassOnlyIsTheBandAsSines) {
  testkit::Wav w = testkit::sine_wav(44100, 1512, {{500, 0.3}, {700, 0.2}, {3000, 0.3}});
  ASSERT_TRUE(testkit::write_wav("in.wav", w));
  ASSERT_TRUE(testkit::write_file("book.txt", codebook_text({{0, 20, 6, 0.5, 0.25}, {1, 7, 30, 0.3, 0.6}})));
  ASSERT_TRUE(testkit::write_file("reconstruct.param", "mode b\n"));
  std::string text;
  EXPECT_EQ(run("out.wav", "in.wav", "book.txt", &text), 0);
  EXPECT_NE(text.find(" MODE: bandpass RESCALE: 1 #ITER: 5\n"), std::string::npos) << text;
  // The codebook is still read and counted.
  EXPECT_NE(text.find(".[2].\n\n SUMMARY"), std::string::npos) << text;
  EXPECT_NE(text.find(" CODEBOOK: 2 entries, 0 errors,  2 accepted (tol. 5 %)\n"), std::string::npos) << text;
  testkit::Wav o;
  ASSERT_TRUE(testkit::read_wav("out.wav", o));
  ASSERT_EQ(o.frames(), 1512u);
  for (int win = 0; win < 2; ++win) {
    std::vector<double> x(512);
    for (int i = 0; i < 512; ++i) x[i] = frame_value(w, win * 512 + i);
    auto want = reference_window(x, 4, 9, false, {}, 0, 1);
    int loud = 0;
    for (int t = 0; t < 512; ++t) {
      ASSERT_NEAR(o.samples[2 * (win * 512 + t)], to_sample(want[t]), 1) << t;
      loud += std::abs(o.samples[2 * (win * 512 + t)]) > 1000;
    }
    EXPECT_GT(loud, 100);
  }
  for (size_t i = 1024; i < 1512; ++i) ASSERT_NEAR(o.samples[2 * i], w.samples[2 * i], 1) << i;
  EXPECT_NE(text.find(" DATA: 2 windows (FFT_SIZE 512 samples) = 20  samples used (16bps)\n"), std::string::npos);
}

TEST_F(Run, RevivalWithACodebook) {
  testkit::Wav w = testkit::sine_wav(44100, 3 * 512 + 100, {{450, 0.3}, {760, 0.2}, {2000, 0.2}});
  ASSERT_TRUE(testkit::write_wav("in.wav", w));
  std::vector<Line> lines{{0, 20, 6, 0.5, 0.25}, {0, 7, 30, 0.3, 0.6}, {0, 40, 20, 0.2, 0.4}, {100, 3, 8, 1.0, 0.5}};
  ASSERT_TRUE(testkit::write_file("book.txt", codebook_text(lines)));
  std::string text;
  EXPECT_EQ(run("out.wav", "in.wav", "book.txt", &text), 0);
  EXPECT_NE(text.find("'reconstruct.param' does not exist. continuing with defaults...\n"), std::string::npos);
  EXPECT_NE(text.find("Output file prepared...[OK]\n.[4]..\n\n SUMMARY"), std::string::npos) << text;
  testkit::Wav o;
  ASSERT_TRUE(testkit::read_wav("out.wav", o));
  ASSERT_EQ(o.frames(), 3u * 512 + 100);
  for (int win = 0; win < 3; ++win) {
    std::vector<double> x(512);
    for (int i = 0; i < 512; ++i) x[i] = frame_value(w, win * 512 + i);
    // Window 0 has no pairs yet; from window 1 on all four are known.
    std::vector<Line> table = win == 0 ? std::vector<Line>{} : lines;
    auto want = reference_window(x, 4, 9, true, table, 5, 1.0);
    for (int t = 0; t < 512; ++t) ASSERT_NEAR(o.samples[2 * (win * 512 + t)], to_sample(want[t]), 1) << win << " " << t;
  }
  EXPECT_NE(text.find("\n\n SUMMARY\n =======\n BANDPASS f:387.6..775.2 (index: 4..9)\n MODE: normal RESCALE: 1 "
                      "#ITER: 5\n DATA: 3 windows (FFT_SIZE 512 samples) = 30  samples used (16bps)\n CODEBOOK: 4 "
                      "entries, 0 errors,  4 accepted (tol. 5 %)\n SIZEOF ENTRY: 1 entry = 10 bytes (3 short+1 "
                      "float)\n TOTAL: 40 bytes in codebook + 60 bytes samples = 100 bytes\n OUTPUT: 'out.wav'\n\n"),
            std::string::npos)
      << text;
}

TEST_F(Run, EmptyCodebookRenormalisesTheBand) {
  // 1000 frames: one window, then the last 488 frames copied as they came.
  testkit::Wav w = testkit::sine_wav(44100, 1000, {{500, 0.3}, {5000, 0.3}});
  ASSERT_TRUE(testkit::write_wav("in.wav", w));
  ASSERT_TRUE(testkit::write_file("book.txt", ""));
  std::string text;
  EXPECT_EQ(run("out.wav", "in.wav", "book.txt", &text), 0);
  EXPECT_NE(text.find(" CODEBOOK: 0 entries, 0 errors,  0 accepted"), std::string::npos);
  EXPECT_NE(text.find(" DATA: 1 windows (FFT_SIZE 512 samples) = 10  samples used (16bps)\n"), std::string::npos);
  testkit::Wav o;
  ASSERT_TRUE(testkit::read_wav("out.wav", o));
  ASSERT_EQ(o.frames(), 1000u);
  std::vector<double> x(512);
  for (int i = 0; i < 512; ++i) x[i] = frame_value(w, i);
  // The band keeps the 500 Hz tone and is scaled up to the whole window's sum.
  auto want = reference_window(x, 4, 9, true, {}, 5, 1.0);
  for (int t = 0; t < 512; ++t) ASSERT_NEAR(o.samples[2 * t], to_sample(want[t]), 1);
  for (size_t i = 512; i < 1000; ++i) ASSERT_NEAR(o.samples[2 * i], w.samples[2 * i], 1) << i;
}

TEST_F(Run, FilesThatCannotBeUsed) {
  testkit::Wav w = testkit::sine_wav(44100, 1024, {{500, 0.3}});
  ASSERT_TRUE(testkit::write_wav("in.wav", w));
  ASSERT_TRUE(testkit::write_file("book.txt", "0 5 6 1 1\n"));
  std::string text;
  EXPECT_EQ(run("out.wav", "missing.wav", "book.txt", &text), 1);
  EXPECT_NE(text.find("Cannot open file\n"), std::string::npos);
  EXPECT_EQ(run("out.wav", "in.wav", "missing.txt", &text), 1);
  EXPECT_NE(text.find("Cannot open file\n"), std::string::npos);
  EXPECT_FALSE(testkit::file_exists("out.wav"));
  // The output may be neither the input nor the codebook.
  const std::string wav_before = testkit::read_file("in.wav");
  EXPECT_EQ(run("in.wav", "in.wav", "book.txt", &text), 1);
  EXPECT_NE(text.find("is the same file as an input"), std::string::npos);
  EXPECT_EQ(run("book.txt", "in.wav", "book.txt", &text), 1);
  EXPECT_EQ(testkit::read_file("in.wav"), wav_before);
  EXPECT_EQ(testkit::read_file("book.txt"), "0 5 6 1 1\n");
  // An unwritable output.
  EXPECT_EQ(run("nodir/out.wav", "in.wav", "book.txt", &text), 1);
  EXPECT_NE(text.find("Cannot open file\n"), std::string::npos);
  // A refused header: no window, no summary, no output.
  ASSERT_TRUE(testkit::write_file("bad.wav", std::string(60, 'z')));
  EXPECT_EQ(run("out.wav", "bad.wav", "book.txt", &text), 0);
  EXPECT_NE(text.find("'bad.wav': not a sound file of a known format. aborting.\n"), std::string::npos);
  EXPECT_EQ(text.find("SUMMARY"), std::string::npos);
  EXPECT_FALSE(testkit::file_exists("out.wav"));
}
