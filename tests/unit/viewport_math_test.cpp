// The viewport's matrix inverse and view read-out.
#include <gtest/gtest.h>

#include <cmath>

#include "display/viewport.h"

namespace {

void multiply(const double a[16], const double b[16], double out[16]) {
  // column-major: out = a * b
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 4; ++r) {
      double s = 0;
      for (int k = 0; k < 4; ++k) s += a[k * 4 + r] * b[c * 4 + k];
      out[c * 4 + r] = s;
    }
}

TEST(ViewportMath, InverseTimesMatrixIsIdentity) {
  const double m[16] = {2, 0.5, -1, 0, 0.3, 1.5, 0.2, 0, -0.7, 0.1, 3, 0, 4, -2, 1.5, 1};
  double inv[16], prod[16];
  ASSERT_TRUE(invert_matrix(m, inv));
  multiply(m, inv, prod);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(prod[i], i % 5 == 0 ? 1 : 0, 1e-12) << i;
  multiply(inv, m, prod);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(prod[i], i % 5 == 0 ? 1 : 0, 1e-12) << i;
}

TEST(ViewportMath, SingularMatrixLeavesTheTargetAsItWas) {
  const double m[16] = {1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 0, 0, 0, 1, 0};  // two parallel columns
  double out[16];
  for (int i = 0; i < 16; ++i) out[i] = 7;
  EXPECT_FALSE(invert_matrix(m, out));
  for (double v : out) EXPECT_EQ(v, 7);
}

TEST(ViewportMath, ViewAnglesOfKnownMatrices) {
  double alt, az, scale;
  const double start[16] = {0.9, 0, 0, 0, 0, 0.9, 0, 0, 0, 0, 0.9, 0, 0, 0, 0, 1};
  view_angles_of(start, alt, az, scale);
  EXPECT_DOUBLE_EQ(alt, 90);
  EXPECT_DOUBLE_EQ(az, 270);
  EXPECT_NEAR(scale, 0.9, 1e-15);
  // scale 2 turned 30 degrees about z: azimuth 300
  double c = cos(M_PI / 6), s = sin(M_PI / 6);
  const double turned[16] = {2 * c, 2 * s, 0, 0, -2 * s, 2 * c, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1};
  view_angles_of(turned, alt, az, scale);
  EXPECT_NEAR(az, 300, 1e-12);
  EXPECT_NEAR(alt, 90, 1e-12);
  EXPECT_NEAR(scale, 2, 1e-12);
  // azimuth wraps into [0, 360)
  const double back[16] = {0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  view_angles_of(back, alt, az, scale);
  EXPECT_GE(az, 0);
  EXPECT_LT(az, 360);
  EXPECT_NEAR(az, 180, 1e-12);
}

}  // namespace
