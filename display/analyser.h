// Per-slot spectrum analyser: a 512-point real FFT, a history of magnitude
// rows (row 0 newest) and the work buffers of the w2d graph.
#pragma once

#include <fftw3.h>

#include <atomic>

struct BandFilter;   // audio/feed.h

struct Analyser {
  static constexpr int kHistoryRows = 256;

  double *history = nullptr;  // n x 256, row r at r * n
  int n = 0;
  int rows = 0;               // rows in use (256, or 9 for wavelets)
  double time_span = 0;       // smoothed seconds the rows cover
  double last_time = 0;
  double *fft_in = nullptr, *fft_out = nullptr;
  double *filter_in = nullptr, *filter_out = nullptr;
  fftw_plan plan = nullptr, filter_plan = nullptr;
  double *w2d_scratch = nullptr;  // spectrogram, 256 x n, a ring of rows
  int w2d_newest = 0;             // its newest row
  double *w2d_row = nullptr, *w2d_col = nullptr;
  // Low-pass blocks of the pyramid's levels, 128 x 128 and 64 x 64.
  static constexpr int kW2dLowFirst = (kHistoryRows / 2) * (kHistoryRows / 2);
  double *w2d_low = nullptr;

  // Plans are made here, on the configuring thread (FFTW's planner is not
  // thread-safe). Check ok() afterwards.
  Analyser(int n, int rows);
  ~Analyser();
  Analyser(const Analyser &) = delete;
  Analyser &operator=(const Analyser &) = delete;
  bool ok() const { return history && fft_in && fft_out && filter_in && filter_out && plan && filter_plan; }

  // The rings are the feed's (atomic elements, written by the audio thread)
  // or plain arrays; both forms are built.
  // Data-feed kind 1: scroll the history and write the newest spectrum into
  // half `half` (0 lower, 1 upper) of row 0.
  template <class Sample>
  void spectrum_step(const Sample *ring, int start, int ring_len, int half, const BandFilter *filter);
  // Data-feed kind 2: row `level` from one wavelet level ring, or from its
  // difference with the next finer level (coarser may be null: zeros).
  template <class Sample>
  void level_step(int level, const Sample *ring, int start, int ring_len);
  template <class Sample>
  void detail_step(int level, const Sample *ring, const Sample *coarser, int start, int ring_len);
  // Data-feed kind 3: scrolling spectrogram and its 2-D Haar pyramid.
  template <class Sample>
  void w2d_step(const Sample *ring, int start, int ring_len);
  void update_time_span(double feed_time);

  // Makes the w2d buffers that are missing (and clears the history's columns
  // the w2d step leaves alone); true when all exist.
  bool alloc_w2d();
  bool w2d_ready() const { return w2d_scratch && w2d_row && w2d_col && w2d_low; }
  // Row r of the w2d spectrogram, 0 the newest (w2d buffers made).
  const double *w2d_spectrum(int row) const;

  // bin -1 means n/2 (Nyquist).
  double bin_frequency(double rate, int bin) const;
  int frequency_bin(double rate, double freq) const;

  // Magnitude of term k of the last forward transform.
  double magnitude(int k) const;

 private:
  template <class Sample>
  void read_window(const Sample *ring, int start, int ring_len);
  void write_half_row(double *row);
};

void heat_colour(float v, float *r, float *g, float *b);

// One Haar step over count elements of data (tmp holds count elements), and
// the in-place 2-D pyramid of the size x size block of a matrix.
void haar_step(double *data, double *tmp, int count);
void haar_2d(double *matrix, int stride, int size, double *row_tmp, double *col_tmp);
