// Per-sample input filters of the acquisition engine, and the wavelet level
// rings fed from a filtered channel.
#pragma once

#include <atomic>

constexpr int kFilterStateSize = 20;

// Layout of a channel's filter state.
enum FilterStateSlot {
  kFsC = 0,       // warping term c of lp/hp; the running value of simpl
  kFsR = 1,       // damping term r
  kFsA0 = 2,      // a0, a1, a2, b1, b2 at 2..6
  kFsX1 = 7,      // x[n-1], x[n-2], x[n-3] at 7..9
  kFsY1 = 10,     // y[n-1], y[n-2] at 10..11
  kFsF = 12,      // corner frequency in Hz
};

enum FilterKind {
  kFilterNop = 0,
  kFilterMute = 1,
  kFilterSimpl = 2,
  kFilterLp = 3,
  kFilterHp = 4,
  kFilterFb = 5,
  kFilterDelay = 6,
  kFilterKinds = 7,
};

typedef double (*FilterOperation)(double x, double *state);

struct FilterRow {
  const char *name;
  FilterOperation operation;
};

// Indexed by FilterKind; a row with no name ends it.
extern const FilterRow kFilterTable[kFilterKinds + 1];

// The row whose name equals the text exactly, or -1.
int filter_by_name(const char *name);

double filter_nop(double x, double *state);
double filter_mute(double x, double *state);
double filter_simpl(double x, double *state);
double filter_lp(double x, double *state);
double filter_hp(double x, double *state);

// Warping terms of the two-pole filters for corner f at sample rate fs.
double lp_warp(double f, double fs);
double hp_warp(double f, double fs);

// Wavelet level rings: 9 levels of 512, level j at element 512 j. Written by
// the audio callback only, read by the GUI thread: relaxed atomics, which
// compile to plain loads and stores.
constexpr int kWaveletLevels = 9;
constexpr int kWaveletLength = 512;
constexpr int kWaveletSize = kWaveletLevels * kWaveletLength;

// Level 0 takes v; level j averages level j-1 at p with its value 2^(j-1)
// places back, so level j is the mean of the newest 2^j samples.
inline void push_wavelet_rings(std::atomic<double> *rings, std::atomic<int> &index, double v) {
  const int p = index.load(std::memory_order_relaxed);
  rings[p].store(v, std::memory_order_relaxed);
  for (int j = 1; j < kWaveletLevels; ++j) {
    const int back = (p - (1 << (j - 1)) + kWaveletLength) & (kWaveletLength - 1);
    const std::atomic<double> *lower = rings + kWaveletLength * (j - 1);
    const double m = (lower[back].load(std::memory_order_relaxed) +
                      lower[p].load(std::memory_order_relaxed)) * 0.5;
    rings[kWaveletLength * j + p].store(m, std::memory_order_relaxed);
  }
  index.store((p + 1) & (kWaveletLength - 1), std::memory_order_release);
}
