// The filter table and its operations.
#include "audio/filters.h"

#include <cmath>
#include <cstring>

namespace {

constexpr double kPi = 3.141592653589793;

// y = a0 x + a1 x1 + a2 x2 - b1 y1 - b2 y2, then shift the histories.
inline double two_pole_step(double x, double *s) {
  const double y = s[2] * x + s[3] * s[kFsX1] + s[4] * s[kFsX1 + 1] - s[5] * s[kFsY1] -
                   s[6] * s[kFsY1 + 1];
  s[kFsY1 + 1] = s[kFsY1];
  s[kFsY1] = y;
  s[kFsX1 + 2] = s[kFsX1 + 1];
  s[kFsX1 + 1] = s[kFsX1];
  s[kFsX1] = x;
  return y;
}

}  // namespace

double filter_nop(double x, double *) { return x; }

double filter_mute(double, double *) { return 0.0; }

// A smoothed square of the input (not its root).
double filter_simpl(double x, double *s) {
  const double y = (s[kFsC] * s[kFsC] + x * x) * 0.5;
  s[kFsC] = y;
  return y;
}

// Coefficients are recomputed from c and r every sample: the preparation
// only sets c, and a changed r takes effect without another step.
double filter_lp(double x, double *s) {
  const double c = s[kFsC], r = s[kFsR];
  const double a0 = 1.0 / (1.0 + r * c + c * c);
  s[2] = a0;
  s[3] = 2.0 * a0;
  s[4] = a0;
  s[5] = 2.0 * (1.0 - c * c) * a0;
  s[6] = (1.0 - r * c + c * c) * a0;
  return two_pole_step(x, s);
}

double filter_hp(double x, double *s) {
  const double c = s[kFsC], r = s[kFsR];
  const double a0 = 1.0 / (1.0 + r * c + c * c);
  s[2] = a0;
  s[3] = -2.0 * a0;
  s[4] = a0;
  s[5] = 2.0 * (c * c - 1.0) * a0;
  s[6] = (1.0 - r * c + c * c) * a0;
  return two_pole_step(x, s);
}

const FilterRow kFilterTable[kFilterKinds + 1] = {
    {"nop", filter_nop},     {"mute", filter_mute}, {"simpl", filter_simpl}, {"lp", filter_lp},
    {"hp", filter_hp},       {"fb", filter_nop},    {"delay", filter_nop},   {nullptr, nullptr},
};

int filter_by_name(const char *name) {
  if (!name) return -1;
  for (int k = 0; kFilterTable[k].name; ++k)
    if (strcmp(kFilterTable[k].name, name) == 0) return k;
  return -1;
}

double lp_warp(double f, double fs) { return 1.0 / tan(kPi * f / fs); }

double hp_warp(double f, double fs) { return tan(kPi * f / fs); }
