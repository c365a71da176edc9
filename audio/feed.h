// Placeholder of the data feed's consumer view, until the acquisition engine
// lands; the display side reads only these fields.
#pragma once

struct BandFilter {
  int kind;  // 5: band FFT
  int lo, hi;
};

struct DataFeed {
  static constexpr int kRing = 10240;
  static constexpr int kLevelRing = 512;
  static constexpr int kLevels = 9;
  void *stream = nullptr;
  int state = 0;
  int sample_rate = 44100;
  double window[4][kRing] = {};
  int write_index = 0;
  double time = 0;
  BandFilter *feedback[4] = {};
  double *wavelet[4] = {};
  int wavelet_index[4] = {};
  void stop() {}
  int copy_oldest(double *out, int count, int ring) { return 0; }
};
