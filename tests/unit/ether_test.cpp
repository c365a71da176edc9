// The ether medium: path, weights, report, step against a direct walk.
#include "media/ether.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

// Bell weight, written out from the formula.
double bell(int k, double alpha) {
  double p = std::pow(2.0, k);
  float x = static_cast<float>(p - alpha * p - 1.0);
  return std::exp(-16.0 * static_cast<double>(x) * x);
}

// Reference medium: walks path pair by pair exactly as described, with its
// own state and its own weights.
struct RefEther {
  std::vector<int> path;
  std::vector<double> w, u, up, up2;
  int m;
  double fpermu, damp;
  RefEther(int max_octave, double alpha, double f, double d) : m(max_octave), fpermu(f), damp(d) {
    std::vector<std::vector<int>> levels{{0, 1}};
    int next = 2;
    for (int k = 0; k < m; ++k) {
      std::vector<int> n;
      const auto &prev = levels.back();
      for (size_t i = 0; i < prev.size(); ++i) {
        n.push_back(prev[i]);
        if (i + 1 < prev.size()) n.push_back(next++);
      }
      levels.push_back(n);
    }
    for (auto &l : levels) path.insert(path.end(), l.begin(), l.end());
    int nodes = (1 << m) + 1;
    u.assign(nodes, 0);
    up.assign(nodes, 0);
    up2.assign(nodes, 0);
    double s = 0;
    for (int k = 0; k < m; ++k) s += bell(k, alpha);
    for (int k = 0; k < m; ++k) w.push_back(bell(k, alpha) / s);
    w.push_back(0.0);  // the finest level is held still
  }
  double step(double x) {
    up2 = up;
    up = u;
    u[0] = x;
    int level = 0;
    double b = w[0];
    for (size_t i = 0; i + 1 < path.size(); ++i) {
      int a = path[i], n = path[i + 1];
      if (a == 1) continue;
      if (n == 1) {
        u[1] = b * u[a] + (1 - b) * u[1];
        ++level;
        if (level <= m) b = w[level];
        continue;
      }
      int r = path[i + 2];
      u[n] = u[n] + b * (0.5 * fpermu * (up[r] - 2 * up[n] + up[a]) + damp * (up[n] - up2[n]));
    }
    return 2.0 / (1.0 + std::exp(-4.0 * u[1])) - 1.0;
  }
};

std::vector<double> music(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> noise(-0.3, 0.3);
  std::vector<double> v(n);
  for (int i = 0; i < n; ++i) v[i] = 0.6 * std::sin(2 * M_PI * 440.0 * i / 44100.0) + noise(gen);
  return v;
}

std::string report_of(const Ether &e) {
  testing::internal::CaptureStdout();
  e.report();
  fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(Ether, PathOfTwoOctaves) {
  TransformState view{};
  Ether e(2, &view);
  EXPECT_EQ(e.path_length, 10);
  EXPECT_EQ(e.nodes, 5);
  std::vector<int> path(e.path, e.path + e.path_length);
  EXPECT_EQ(path, (std::vector<int>{0, 1, 0, 2, 1, 0, 3, 2, 4, 1}));
  // Registration in the view.
  EXPECT_EQ(view.display[0], e.u);
  EXPECT_EQ(view.display[1], e.path);
  EXPECT_EQ(view.aux[0], e.weights);
  EXPECT_EQ(view.dim1[0], 5);
  EXPECT_EQ(view.dim2[0], 0);
  EXPECT_EQ(view.slot_count, 2);
  EXPECT_EQ(e.alpha, 0.5);
  EXPECT_EQ(e.peak, 2);
  for (int k = 0; k <= 2; ++k) EXPECT_EQ(e.weights[k], 0.0);
}

TEST(Ether, PathOfNineOctavesMatchesTheInsertionRule) {
  Ether e(9, nullptr);
  RefEther r(9, 0.5, 1, 0.99);
  ASSERT_EQ(e.path_length, 9 + 1024);
  ASSERT_EQ(static_cast<int>(r.path.size()), e.path_length);
  for (int i = 0; i < e.path_length; ++i) ASSERT_EQ(e.path[i], r.path[i]) << i;
  EXPECT_EQ(e.nodes, 513);
}

TEST(Ether, DestructorClearsTheViewSlot) {
  TransformState view{};
  {
    Ether e(3, &view);
    EXPECT_NE(view.display[0], nullptr);
  }
  EXPECT_EQ(view.display[0], nullptr);
  EXPECT_EQ(view.dim1[0], 0);
}

TEST(Ether, WeightsForThreeQuartersAndOneHalf) {
  Ether e(9, nullptr);
  ASSERT_TRUE(e.set_alpha(0.75));
  double s = 0;
  for (int k = 0; k < 9; ++k) s += bell(k, 0.75);
  for (int k = 0; k < 9; ++k) EXPECT_NEAR(e.weights[k], bell(k, 0.75) / s, 1e-15) << k;
  EXPECT_NEAR(e.weights[2], 0.98, 0.005);
  EXPECT_NEAR(e.weights[1], 0.02, 0.005);
  EXPECT_EQ(e.peak, 4);
  std::string rep = report_of(e);
  EXPECT_NE(rep.find("[WEATHER-REPORT  max-octave 9 #nodes(sz) 513]\n** alpha 0.75 peak@ 4 fpermu 1 damp 0.99\n"),
            std::string::npos)
      << rep;
  EXPECT_NE(rep.find("path-w:      0.00  0.02  1.00  0.00  0.00  0.00  0.00  0.00  0.00 \n"), std::string::npos) << rep;
  EXPECT_NE(rep.find("path-wnorm:  0.00  0.02  0.98  0.00  0.00  0.00  0.00  0.00  0.00 \n"), std::string::npos) << rep;

  ASSERT_TRUE(e.set_alpha(0.5));
  EXPECT_EQ(e.peak, 2);
  EXPECT_GT(e.weights[1], 0.9);
  EXPECT_EQ(e.weights[9], 0.0);
}

// Where the bell peaks at the finest level, a weight for that level on top of
// the normalised ones made the medium run away to infinity; it must not.
TEST(Ether, BellAtTheFinestLevelStaysBounded) {
  const struct {
    int m;
    double alpha;
  } cases[] = {{2, 0.68}, {3, 0.84}, {5, 0.96}, {7, 0.99}, {1, 0.43}};
  for (auto c : cases) {
    Ether e(c.m, nullptr);
    ASSERT_TRUE(e.set_alpha(c.alpha));
    EXPECT_EQ(e.weights[c.m], 0.0);
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> d(-1, 1);
    for (int i = 0; i < 20000; ++i) {
      double y = e.step(d(gen));
      ASSERT_TRUE(std::isfinite(e.u[1]) && std::fabs(e.u[1]) < 50) << c.m << " " << c.alpha << " " << i;
      ASSERT_TRUE(y > -1 && y < 1);
    }
  }
}

TEST(Ether, AlphaOneIsRefusedAndTheOldWeightsStay) {
  Ether e(9, nullptr);
  ASSERT_TRUE(e.set_alpha(0.75));
  std::vector<double> before(e.weights, e.weights + 10);
  EXPECT_FALSE(e.set_alpha(1.0));
  EXPECT_EQ(e.alpha, 0.75);
  EXPECT_EQ(std::vector<double>(e.weights, e.weights + 10), before);
  EXPECT_EQ(e.peak, 4);
  // Assigned directly, the report shows the refused value's peak as -1.
  e.alpha = 1.0;
  EXPECT_FALSE(e.compute_weights());
  EXPECT_NE(report_of(e).find("** alpha 1 peak@ -1 "), std::string::npos);
}

TEST(Ether, NoWeightsBelowOneOctave) {
  TransformState view{};
  Ether e(0, &view);
  EXPECT_EQ(e.nodes, 2);
  EXPECT_EQ(e.path_length, 2);
  EXPECT_FALSE(e.set_alpha(0.5));
  // With weights never formed the output end stays at rest.
  for (double x : music(200, 3)) EXPECT_EQ(e.step(x), 0.0);
  EXPECT_EQ(view.slot_count, 0);
}

TEST(Ether, StepMatchesTheDirectWalk) {
  struct Case {
    int m;
    double alpha, fpermu, damp;
  } cases[] = {{2, 0.5, 1.0, 0.99}, {4, 0.9, 0.8, 0.95}, {9, 0.75, 1.0, 0.98}, {9, 0.995, 1.0, 0.99}, {5, 0.96, 1.0, 0.99},
               {6, 0.97, 0.7, 0.9}};
  for (const Case &c : cases) {
    Ether e(c.m, nullptr);
    e.fpermu = c.fpermu;
    e.damp = c.damp;
    ASSERT_TRUE(e.set_alpha(c.alpha));
    RefEther r(c.m, c.alpha, c.fpermu, c.damp);
    auto in = music(1500, c.m);
    double biggest = 0;
    for (int i = 0; i < 1500; ++i) {
      double got = e.step(in[i]), want = r.step(in[i]);
      // Well inside one unit of a 16-bit sample.
      ASSERT_NEAR(got, want, 1e-12) << "m " << c.m << " sample " << i;
      biggest = std::max(biggest, std::fabs(want));
    }
    for (int n = 0; n < e.nodes; ++n) ASSERT_NEAR(e.u[n], r.u[n], 1e-12) << n;
    EXPECT_GT(biggest, 1e-4) << "m " << c.m << ": the case must move the output end";
  }
}

TEST(Ether, SilenceStaysExactlyZero) {
  Ether e(9, nullptr);
  ASSERT_TRUE(e.set_alpha(0.75));
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(e.step(0.0), 0.0);
  for (int n = 0; n < e.nodes; ++n) ASSERT_EQ(e.u[n], 0.0);
}

TEST(Ether, OutputStaysInsideTheOpenInterval) {
  Ether e(9, nullptr);
  e.damp = 0.99;
  ASSERT_TRUE(e.set_alpha(0.75));
  std::mt19937 gen(7);
  std::uniform_int_distribution<int> sign(0, 1);
  double lo = 0, hi = 0;
  for (int i = 0; i < 44100; ++i) {
    double y = e.step(sign(gen) ? 1.0 : -1.0);
    ASSERT_GT(y, -1.0);
    ASSERT_LT(y, 1.0);
    lo = std::min(lo, y);
    hi = std::max(hi, y);
  }
  EXPECT_LT(lo, -0.1);
  EXPECT_GT(hi, 0.1);
}

TEST(Ether, RestoreGivesBackWhatSnapshotSaw) {
  Ether e(5, nullptr);
  ASSERT_TRUE(e.set_alpha(0.9));
  auto in = music(300, 11);
  for (int i = 0; i < 100; ++i) e.step(in[i]);
  e.snapshot();
  std::vector<double> u(e.u, e.u + e.nodes), up(e.u_prev, e.u_prev + e.nodes), up2(e.u_prev2, e.u_prev2 + e.nodes);
  std::vector<double> next;
  for (int i = 100; i < 150; ++i) next.push_back(e.step(in[i]));
  ASSERT_TRUE(e.set_alpha(0.6));
  std::vector<double> w_after(e.weights, e.weights + 6);
  for (int i = 150; i < 300; ++i) e.step(in[i]);
  e.restore();
  EXPECT_EQ(e.alpha, 0.9);
  EXPECT_EQ(std::vector<double>(e.u, e.u + e.nodes), u);
  EXPECT_EQ(std::vector<double>(e.u_prev, e.u_prev + e.nodes), up);
  EXPECT_EQ(std::vector<double>(e.u_prev2, e.u_prev2 + e.nodes), up2);
  // The weights are not part of the snapshot.
  EXPECT_EQ(std::vector<double>(e.weights, e.weights + 6), w_after);
  // With the weights of the old alpha again the run repeats exactly.
  ASSERT_TRUE(e.compute_weights());
  for (int i = 100; i < 150; ++i) ASSERT_EQ(e.step(in[i]), next[i - 100]);
}

TEST(Ether, SizeLimits) {
  testing::internal::CaptureStdout();
  EXPECT_FALSE(ether_size_ok(-1));
  EXPECT_FALSE(ether_size_ok(kEtherMaxOctave + 1));
  EXPECT_FALSE(ether_size_ok(31));
  EXPECT_TRUE(ether_size_ok(0));
  EXPECT_TRUE(ether_size_ok(kEtherMaxOctave));
  fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "*** warning: max-octave -1 out of range 0..20, nothing done\n"
            "*** warning: max-octave 21 out of range 0..20, nothing done\n"
            "*** warning: max-octave 31 out of range 0..20, nothing done\n");
  // A size beyond the cap is never built as asked.
  Ether e(40, nullptr);
  EXPECT_EQ(e.max_octave, kEtherMaxOctave);
}
