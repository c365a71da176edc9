// The plain string medium and the offline drivers of tstring and tether.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "media/ether.h"
#include "media/string_medium.h"
#include "media/tstring.h"
#include "tests/support/testkit.h"

namespace {

// Reference string, straight from the update rule.
struct RefString {
  std::vector<double> u, up, up2;
  double f, d;
  RefString(int m, double fpermu, double damp) : u((1 << m) + 1), up(u), up2(u), f(fpermu), d(damp) {}
  double step(double x) {
    up2 = up;
    up = u;
    u[0] = x;
    size_t n = u.size();
    for (size_t i = 1; i + 1 < n; ++i)
      u[i] = up[i] + 0.5 * f * (up[i + 1] - 2 * up[i] + up[i - 1]) + d * (up[i] - up2[i]);
    u[n - 1] = u[n - 2];
    return std::tanh(2 * u[n - 1]);
  }
};

// Reference ether: a direct walk over its own path and weights.
struct RefEther {
  std::vector<int> path;
  std::vector<double> w, u, up, up2;
  double f, d;
  RefEther(int m, double alpha, double fpermu, double damp) : f(fpermu), d(damp) {
    std::vector<int> level{0, 1};
    path = level;
    int next = 2;
    for (int k = 0; k < m; ++k) {
      std::vector<int> n;
      for (size_t i = 0; i < level.size(); ++i) {
        n.push_back(level[i]);
        if (i + 1 < level.size()) n.push_back(next++);
      }
      level = n;
      path.insert(path.end(), level.begin(), level.end());
    }
    u.assign((1 << m) + 1, 0);
    up = up2 = u;
    double s = 0;
    std::vector<double> raw;
    for (int k = 0; k < m; ++k) {
      double p = std::pow(2.0, k);
      float x = static_cast<float>(p - alpha * p - 1);
      raw.push_back(std::exp(-16.0 * x * x));
      s += raw.back();
    }
    for (double r : raw) w.push_back(r / s);
    w.push_back(0);
  }
  double step(double x) {
    up2 = up;
    up = u;
    u[0] = x;
    size_t level = 0;
    for (size_t i = 0; i + 1 < path.size(); ++i) {
      int a = path[i], n = path[i + 1];
      double b = w[level];
      if (a == 1) continue;
      if (n == 1) {
        u[1] = b * u[a] + (1 - b) * u[1];
        ++level;
      } else {
        int r = path[i + 2];
        u[n] += b * (0.5 * f * (up[r] - 2 * up[n] + up[a]) + d * (up[n] - up2[n]));
      }
    }
    return std::tanh(2 * u[1]);
  }
};

double frame_value(const testkit::Wav &w, size_t i) {
  const double s = static_cast<double>(1.0f / 32767.0f);
  if (w.channels == 2) return (w.samples[2 * i] * s + w.samples[2 * i + 1] * s) * 0.5;
  return w.samples[i] * s;
}

int to_sample(double v) { return static_cast<int16_t>(static_cast<long>(v * 32767.0)); }

std::vector<char *> vec(std::vector<std::string> &words) {
  std::vector<char *> v;
  for (auto &w : words) v.push_back(&w[0]);
  return v;
}

struct DriverRun {
  int result;
  std::string out;
};

template <typename F>
DriverRun capture(F f) {
  testing::internal::CaptureStdout();
  int r = f();
  fflush(stdout);
  return {r, testing::internal::GetCapturedStdout()};
}

}  // namespace

TEST(StringMedium, RegistersAndClears) {
  TransformState view{};
  {
    StringMedium s(4, &view);
    EXPECT_EQ(s.nodes, 17);
    EXPECT_EQ(view.display[0], s.u);
    EXPECT_EQ(view.aux[0], nullptr);
    EXPECT_EQ(view.dim1[0], 17);
    EXPECT_EQ(view.slot_count, 1);
    EXPECT_EQ(s.fpermu, 1.0);
    EXPECT_EQ(s.damp, 0.99);
  }
  EXPECT_EQ(view.display[0], nullptr);
  EXPECT_EQ(view.dim1[0], 0);
}

TEST(StringMedium, SizeZeroIsTanhOfTwiceTheInput) {
  StringMedium s(0, nullptr);
  EXPECT_EQ(s.nodes, 2);
  const double xs[] = {0.0, 0.1, -0.3, 0.9, -1.0, 0.5, 0.25, -0.75};
  for (double x : xs) EXPECT_NEAR(s.step(x), std::tanh(2 * x), 1e-15) << x;
}

TEST(StringMedium, StepMatchesTheStencil) {
  for (int m : {1, 3, 5, 9}) {
    StringMedium s(m, nullptr);
    s.damp = 0.98;
    RefString r(m, 1.0, 0.98);
    std::mt19937 gen(m);
    std::uniform_real_distribution<double> d(-0.8, 0.8);
    double biggest = 0;
    for (int i = 0; i < 1200; ++i) {
      double x = d(gen);
      double want = r.step(x);
      ASSERT_NEAR(s.step(x), want, 1e-12) << "m " << m << " sample " << i;
      biggest = std::max(biggest, std::fabs(want));
    }
    EXPECT_GT(biggest, 1e-3) << m;
  }
}

class Drivers : public ::testing::Test {
 protected:
  std::string dir = testkit::make_temp_dir("string");
  std::string in = dir + "/in.wav", out = dir + "/out.wav";
  TransformState view{};
};

TEST_F(Drivers, TstringFileMatchesTheReference) {
  testkit::Wav w = testkit::sine_wav(44100, 3000, {{440, 0.4}, {1234, 0.2}});
  ASSERT_TRUE(testkit::write_wav(in, w));
  std::vector<std::string> words{"binary", in, out, "6", "1", "0.98"};
  auto v = vec(words);
  DriverRun r = capture([&] { return tstring_main(6, v.data(), &view); });
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.out.find("---------- preparing"), std::string::npos);
  EXPECT_NE(r.out.find("---------- reading input .wav\n"), std::string::npos);
  // One dot per full block: five of them.
  EXPECT_NE(r.out.find("audio I/O ok\n.....[.]\n\n"), std::string::npos) << r.out;
  EXPECT_EQ(view.display[0], nullptr);

  testkit::Wav o;
  std::vector<unsigned char> header;
  ASSERT_TRUE(testkit::read_wav(out, o, &header));
  ASSERT_EQ(o.frames(), 5u * 512);  // the last 440 frames are dropped
  RefString ref(6, 1.0, 0.98);
  int moved = 0;
  for (size_t i = 0; i < o.frames(); ++i) {
    int want = to_sample(ref.step(frame_value(w, i)));
    ASSERT_NEAR(o.samples[2 * i], want, 1) << i;
    ASSERT_EQ(o.samples[2 * i], o.samples[2 * i + 1]);
    moved += want != 0;
  }
  EXPECT_GT(moved, 1000);
}

TEST_F(Drivers, TetherFileMatchesTheReference) {
  testkit::Wav w = testkit::sine_wav(22050, 2048, {{300, 0.7}}, 1);
  ASSERT_TRUE(testkit::write_wav(in, w));
  std::vector<std::string> words{"binary", in, out, "5", "0.9", "0.97", "0.875"};
  auto v = vec(words);
  DriverRun r = capture([&] { return tether_main(7, v.data(), &view); });
  EXPECT_EQ(r.result, 0);
  EXPECT_NE(r.out.find("---------- preparing ether\n[WEATHER-REPORT  max-octave 5 #nodes(sz) 33]\n"
                       "** alpha 0.875 peak@ 8 fpermu 0.9 damp 0.97\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("....[.]\n\n"), std::string::npos);
  testkit::Wav o;
  ASSERT_TRUE(testkit::read_wav(out, o));
  ASSERT_EQ(o.channels, 1);
  ASSERT_EQ(o.frames(), 2048u);
  RefEther ref(5, 0.875, 0.9, 0.97);
  int moved = 0;
  for (size_t i = 0; i < o.frames(); ++i) {
    int want = to_sample(ref.step(frame_value(w, i)));
    ASSERT_NEAR(o.samples[i], want, 1) << i;
    moved += want != 0;
  }
  EXPECT_GT(moved, 1000);
  EXPECT_EQ(view.display[0], nullptr);
}

TEST_F(Drivers, DefaultsOfTheVector) {
  testkit::Wav w = testkit::sine_wav(44100, 1024, {{440, 0.5}});
  ASSERT_TRUE(testkit::write_wav(in, w));
  // Only input and output given: size 5, fpermu 1, damp 0.99, alpha 0.5.
  std::vector<std::string> words{"binary", in, out};
  auto v = vec(words);
  DriverRun r = capture([&] { return tether_main(3, v.data(), &view); });
  EXPECT_NE(r.out.find("max-octave 5 #nodes(sz) 33]\n** alpha 0.5 peak@ 2 fpermu 1 damp 0.99\n"), std::string::npos)
      << r.out;
  testkit::Wav o;
  ASSERT_TRUE(testkit::read_wav(out, o));
  RefEther ref(5, 0.5, 1.0, 0.99);
  for (size_t i = 0; i < o.frames(); ++i) ASSERT_NEAR(o.samples[2 * i], to_sample(ref.step(frame_value(w, i))), 1);
}

TEST_F(Drivers, SilenceGivesSilence) {
  testkit::Wav w;
  w.samples.assign(2 * 4096, 0);
  ASSERT_TRUE(testkit::write_wav(in, w));
  for (int ether = 0; ether < 2; ++ether) {
    std::vector<std::string> words{"binary", in, out, "9", "1", "0.98", "0.75"};
    auto v = vec(words);
    DriverRun r = capture([&] { return ether ? tether_main(7, v.data(), &view) : tstring_main(7, v.data(), &view); });
    EXPECT_EQ(r.result, 0);
    testkit::Wav o;
    ASSERT_TRUE(testkit::read_wav(out, o));
    ASSERT_EQ(o.frames(), 4096u);
    for (int16_t s : o.samples) ASSERT_EQ(s, 0);
  }
}

TEST_F(Drivers, DashMeansNoOutputAndShortFilesWriteOnlyTheHeader) {
  testkit::Wav w = testkit::sine_wav(44100, 511, {{440, 0.5}});
  ASSERT_TRUE(testkit::write_wav(in, w));
  std::vector<std::string> words{"binary", in, "-", "3"};
  auto v = vec(words);
  DriverRun r = capture([&] { return tstring_main(4, v.data(), &view); });
  EXPECT_EQ(r.result, 0);
  EXPECT_FALSE(testkit::file_exists(dir + "/-"));
  // Under one block: no dot, and an output holding only the header.
  std::vector<std::string> words2{"binary", in, out, "3"};
  auto v2 = vec(words2);
  r = capture([&] { return tether_main(4, v2.data(), &view); });
  EXPECT_NE(r.out.find("audio I/O ok\n[.]\n\n"), std::string::npos) << r.out;
  EXPECT_EQ(testkit::read_file(out).size(), 44u);
}

TEST_F(Drivers, RefusalsLeaveFilesAlone) {
  // Missing input: message, result 1, no output made.
  std::vector<std::string> words{"binary", dir + "/none.wav", out};
  auto v = vec(words);
  DriverRun r = capture([&] { return tether_main(3, v.data(), &view); });
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.out, "file arguments not ok\n");
  r = capture([&] { return tstring_main(3, v.data(), &view); });
  EXPECT_EQ(r.result, 1);
  EXPECT_FALSE(testkit::file_exists(out));

  testkit::Wav w = testkit::sine_wav(44100, 2048, {{440, 0.5}});
  ASSERT_TRUE(testkit::write_wav(in, w));
  const std::string before = testkit::read_file(in);
  // Sizes out of range.
  for (const char *size : {"-1", "21", "40"}) {
    std::vector<std::string> ws{"binary", in, out, size};
    auto vs = vec(ws);
    r = capture([&] { return tether_main(4, vs.data(), &view); });
    EXPECT_EQ(r.result, 1);
    EXPECT_NE(r.out.find("out of range 0..20, nothing done"), std::string::npos) << r.out;
    r = capture([&] { return tstring_main(4, vs.data(), &view); });
    EXPECT_NE(r.out.find("out of range 0..20, nothing done"), std::string::npos) << r.out;
    EXPECT_FALSE(testkit::file_exists(out));
  }
  // The input as its own output.
  std::vector<std::string> same{"binary", in, in, "4"};
  auto vsame = vec(same);
  r = capture([&] { return tether_main(4, vsame.data(), &view); });
  EXPECT_NE(r.out.find("is the same file as an input"), std::string::npos);
  EXPECT_NE(r.out.find("[.]\n\n"), std::string::npos);
  r = capture([&] { return tstring_main(4, vsame.data(), &view); });
  EXPECT_NE(r.out.find("is the same file as an input"), std::string::npos);
  EXPECT_EQ(testkit::read_file(in), before);
  // A file that is not RIFF: the reader's message, then the end mark.
  ASSERT_TRUE(testkit::write_file(in, std::string(100, 'x')));
  r = capture([&] { return tstring_main(4, vsame.data(), &view); });
  EXPECT_NE(r.out.find("'" + in + "': not a sound file of a known format. aborting.\n[.]\n\n"), std::string::npos)
      << r.out;
}
