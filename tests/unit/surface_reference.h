// A plain evaluation of the surface medium for the tests: every cell in
// index order with bounds tests, arrays copied every step, walls from the
// shape formulas written out once more.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace surface_ref {

struct Surf {
  int w = 10, h = 1, ix = 0, iy = 0, shape = 0;
  double param = 0, cin = 0.5, cout = 0.5, fpermu = 1.0, damp = 0.9999;
  std::vector<double> u, up, up2;
  std::vector<int> wall;

  static bool is_wall(int shape, double param, int w, int h, int x, int y) {
    double W = w, H = h, cx = w / 2, cy = h / 2;
    if (shape == 1) return std::pow(x - cx, 2) / std::pow(W / 2, 2) + std::pow(y - cy, 2) / std::pow(H / 2, 2) >= 1;
    if (shape == 2) return x / W + y / H > 1;
    if (shape == 3) {
      double a = W / 4, b = H / 4;
      bool c1 = x / a + y / b < 1, c2 = (W - x) / a + y / b < 1, c3 = x / a + (H - y) / b < 1,
           c4 = (W - x) / a + (H - y) / b < 1;
      return c1 || c2 || c3 || c4;
    }
    if (param < 0) return y / H > std::exp(param * std::pow(std::fabs(2 * (x / W - 0.5)), 2));
    return false;
  }

  void build() {
    int n = w * h;
    u.assign(n, 0);
    up.assign(n, 0);
    up2.assign(n, 0);
    wall.assign(n, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) wall[y * w + x] = is_wall(shape, param, w, h, x, y);
  }

  double step(double v) {
    up2 = up;
    up = u;
    int k = iy * w + ix;
    bool driven = ix >= 0 && ix < w && iy >= 0 && iy < h;
    if (driven) u[k] = v;
    double sum = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int i = y * w + x;
        if (driven && i == k) continue;
        if (wall[i]) {
          u[i] = 0;
          continue;
        }
        double L = x > 0 ? up[i - 1] : 0, R = x < w - 1 ? up[i + 1] : 0;
        double U = y > 0 ? up[i - w] : 0, D = y < h - 1 ? up[i + w] : 0;
        u[i] = up[i] + 0.5 * fpermu * (L + R + U + D - 4 * up[i]) + damp * (up[i] - up2[i]);
        sum += u[i];
      }
    return sum;
  }
};

struct Field {
  std::vector<Surf> s;
  double total() const {
    double t = 0;
    for (auto &x : s) t += x.cout;
    return t;
  }
  double step(double x) {
    if (s.empty()) return x;
    double sum = 0;
    for (auto &m : s) sum += m.step(x * m.cin) * m.cout;
    return sum / total();
  }
};

// Sample scaling of the WAV files, written out independently.
inline double to_value(int s) { return s * static_cast<double>(1.0f / 32767.0f); }
inline int to_sample(double v) { return static_cast<int16_t>(static_cast<long long>(v * 32767.0)); }

}  // namespace surface_ref
