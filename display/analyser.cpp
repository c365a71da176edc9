// Per-slot spectrum analyser.
#include "display/analyser.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/feed.h"

namespace {

double *fftw_zeros(int count) {
  double *p = static_cast<double *>(fftw_malloc(sizeof(double) * count));
  if (p) memset(p, 0, sizeof(double) * count);
  return p;
}

inline double load(double v) { return v; }
inline double load(const std::atomic<double> &v) { return v.load(std::memory_order_relaxed); }

}  // namespace

Analyser::Analyser(int length, int row_count) : n(length), rows(row_count) {
  history = static_cast<double *>(calloc(static_cast<size_t>(n) * kHistoryRows, sizeof(double)));
  fft_in = fftw_zeros(n);
  fft_out = fftw_zeros(n);
  filter_in = fftw_zeros(n);
  filter_out = fftw_zeros(n);
  if (!fft_in || !fft_out || !filter_in || !filter_out) return;
  // Asking for every planner flag yields no plan at all (it includes
  // FFTW_WISDOM_ONLY); the estimate gives the same transform.
  plan = fftw_plan_r2r_1d(n, fft_in, fft_out, FFTW_R2HC, FFTW_ESTIMATE);
  filter_plan = fftw_plan_r2r_1d(n, filter_in, filter_out, FFTW_R2HC, 1);
  // Measuring may have scribbled on the arrays.
  memset(fft_in, 0, sizeof(double) * n);
  memset(filter_in, 0, sizeof(double) * n);
}

Analyser::~Analyser() {
  free(history);
  if (plan) fftw_destroy_plan(plan);
  if (filter_plan) fftw_destroy_plan(filter_plan);
  fftw_free(fft_in);
  fftw_free(fft_out);
  fftw_free(filter_in);
  fftw_free(filter_out);
  free(w2d_scratch);
  free(w2d_row);
  free(w2d_col);
  free(w2d_low);
}

template <class Sample>
void Analyser::read_window(const Sample *ring, int start, int ring_len) {
  int p = start % ring_len;
  if (p < 0) p += ring_len;
  for (int k = 0; k < n; ++k) {
    fft_in[k] = load(ring[p]);
    if (--p < 0) p = ring_len - 1;
  }
}

double Analyser::magnitude(int k) const {
  return sqrt(fft_out[k] * fft_out[k] + fft_out[n - k] * fft_out[n - k]);
}

void Analyser::write_half_row(double *row) {
  int half = n / 2;
  for (int k = 1; k < half; ++k) row[k - 1] = magnitude(k);
  row[half - 1] = 0;
}

template <class Sample>
void Analyser::spectrum_step(const Sample *ring, int start, int ring_len, int half_sel,
                             const BandFilter *filter) {
  int half = n / 2;
  int offset = half_sel ? half : 0;
  // Only this half of a row is ever written by the spectrum step (the other
  // stays as it was), so only it needs to scroll: half the memory traffic.
  for (int r = rows - 1; r > 0; --r)
    memcpy(history + static_cast<size_t>(r) * n + offset, history + static_cast<size_t>(r - 1) * n + offset,
           sizeof(double) * half);
  read_window(ring, start, ring_len);
  fftw_execute(plan);
  if (filter) {
    filter_in[0] = fft_out[0];
    for (int k = 1; k < half; ++k) {
      if (k < filter->lower_bin || k > filter->upper_bin) {
        filter_in[k] = filter_in[n - k] = 0;
        fft_out[k] = fft_out[n - k] = 0;
      } else {
        filter_in[k] = fft_out[k];
        filter_in[n - k] = fft_out[n - k];
      }
    }
    filter_in[half] = 0;  // the planner's flags let the transform overwrite it
    fftw_execute(filter_plan);
    memcpy(fft_in, filter_out, sizeof(double) * n);
    fftw_execute(plan);
    for (int k = 0; k < n; ++k) fft_out[k] /= half;
  }
  write_half_row(history + offset);
}

template <class Sample>
void Analyser::level_step(int level, const Sample *ring, int start, int ring_len) {
  read_window(ring, start, ring_len);
  fftw_execute(plan);
  write_half_row(history + static_cast<size_t>(level) * n);
}

template <class Sample>
void Analyser::detail_step(int level, const Sample *ring, const Sample *coarser, int start,
                           int ring_len) {
  int p = start % ring_len;
  if (p < 0) p += ring_len;
  for (int i = 0; i < n; ++i) {
    int q = p - 1 < 0 ? ring_len - 1 : p - 1;
    fft_in[i] = coarser ? load(ring[p]) - load(coarser[q]) : 0.0;
    p = q;
  }
  fftw_execute(plan);
  write_half_row(history + static_cast<size_t>(level) * n);
}

void haar_step(double *data, double *tmp, int count) {
  const double r = 0.70710678118654752444;
  int h = count / 2;
  for (int i = 0; i < h; ++i) {
    tmp[i] = (data[2 * i] + data[2 * i + 1]) * r;
    tmp[h + i] = (data[2 * i] - data[2 * i + 1]) * r;
  }
  memcpy(data, tmp, sizeof(double) * count);
}

void haar_2d(double *matrix, int stride, int size, double *row_tmp, double *col_tmp) {
  while (size > 1) {
    for (int r = 0; r < size; ++r) haar_step(matrix + static_cast<size_t>(r) * stride, row_tmp, size);
    for (int c = size - 1; c >= 0; --c) {
      for (int r = 0; r < size; ++r) col_tmp[r] = matrix[static_cast<size_t>(r) * stride + c];
      haar_step(col_tmp, row_tmp, size);
      for (int r = 0; r < size; ++r) matrix[static_cast<size_t>(r) * stride + c] = col_tmp[r];
    }
    size /= 2;
  }
}

namespace {

// One level of the pyramid on a size x size block whose rows `row_of` gives:
// each 2 x 2 block goes through the row step and then the column step (the
// same sums in the same order as haar_2d). The three detail quadrants go
// straight to their final places in `out` (stride n), the low-pass quadrant
// to `low` (stride size/2) for the next level. Every element is read and
// written once, along rows; haar_2d's column pass reads with a stride of a
// whole row and misses the cache on every element.
template <class RowOf>
void haar_level(RowOf row_of, int size, double *out, int n, double *low) {
  const double r = 0.70710678118654752444;
  const int h = size / 2;
  for (int i = 0; i < h; ++i) {
    const double *a = row_of(2 * i), *b = row_of(2 * i + 1);
    double *top = out + static_cast<size_t>(i) * n, *bottom = out + static_cast<size_t>(h + i) * n;
    double *ll = low + static_cast<size_t>(i) * h;
    for (int j = 0; j < h; ++j) {
      const double a0 = (a[2 * j] + a[2 * j + 1]) * r, d0 = (a[2 * j] - a[2 * j + 1]) * r;
      const double a1 = (b[2 * j] + b[2 * j + 1]) * r, d1 = (b[2 * j] - b[2 * j + 1]) * r;
      ll[j] = (a0 + a1) * r;
      bottom[j] = (a0 - a1) * r;
      top[h + j] = (d0 + d1) * r;
      bottom[h + j] = (d0 - d1) * r;
    }
  }
}

}  // namespace

template <class Sample>
void Analyser::w2d_step(const Sample *ring, int start, int ring_len) {
  if (!w2d_ready()) return;
  // The spectrogram is a ring of rows: the newest moves back one row instead
  // of 255 rows moving down.
  w2d_newest = (w2d_newest + kHistoryRows - 1) % kHistoryRows;
  read_window(ring, start, ring_len);
  fftw_execute(plan);
  double *newest = w2d_scratch + static_cast<size_t>(w2d_newest) * n;
  newest[0] = 0;
  for (int k = 1; k < n / 2; ++k) newest[k] = magnitude(k);

  const int used = rows > kHistoryRows ? kHistoryRows : rows, half = n / 2;
  auto spectrum_row = [this](int row) { return w2d_spectrum(row); };
  if (used != kHistoryRows || half != kHistoryRows) {
    // Not the 256 x 256 block: copy, and the plain pyramid on what fits.
    for (int row = 0; row < used; ++row)
      memcpy(history + static_cast<size_t>(row) * n, spectrum_row(row), sizeof(double) * half);
    haar_2d(history, n, half > used ? used : half, w2d_row, w2d_col);
    return;
  }
  // The copy of the spectrogram into the history is the pyramid's first
  // level: the spectrum rows go through it on their way. The low-pass blocks
  // pass between the two halves of w2d_low; columns past n/2 of the history
  // hold no spectrum (alloc_w2d cleared them).
  double *low = w2d_low, *next = w2d_low + kW2dLowFirst;
  haar_level(spectrum_row, half, history, n, low);
  for (int size = half / 2; size > 1; size /= 2) {
    haar_level([low, size](int row) { return low + static_cast<size_t>(row) * size; }, size, history, n, next);
    double *t = low;
    low = next;
    next = t;
  }
  history[0] = low[0];
}

const double *Analyser::w2d_spectrum(int row) const {
  return w2d_scratch + static_cast<size_t>((w2d_newest + row) % kHistoryRows) * n;
}

void Analyser::update_time_span(double t) {
  // A NaN once folded into time_span would stay there for good.
  if (std::isnan(t) || std::isnan(last_time)) {
    last_time = t;
    return;
  }
  if (t != last_time) time_span = (t - last_time) * rows * 0.09999999999999998 + time_span * 0.9;
  last_time = t;
}

bool Analyser::alloc_w2d() {
  int side = n > kHistoryRows ? n : kHistoryRows;
  if (!w2d_scratch) w2d_scratch = static_cast<double *>(calloc(static_cast<size_t>(kHistoryRows) * n, sizeof(double)));
  if (!w2d_row) w2d_row = static_cast<double *>(calloc(side, sizeof(double)));
  if (!w2d_col) w2d_col = static_cast<double *>(calloc(side, sizeof(double)));
  if (!w2d_low) w2d_low = static_cast<double *>(calloc(kW2dLowFirst + kW2dLowFirst / 4, sizeof(double)));
  // The w2d step writes only the first n/2 columns of each row; the rest are
  // the spectrogram's empty columns, zero (another type may have left data).
  for (int r = 0; r < kHistoryRows; ++r) memset(history + static_cast<size_t>(r) * n + n / 2, 0, sizeof(double) * (n - n / 2));
  return w2d_ready();
}

double Analyser::bin_frequency(double rate, int bin) const {
  if (bin == -1) bin = n / 2;
  return bin * rate / n;
}

int Analyser::frequency_bin(double rate, double freq) const {
  return static_cast<int>(floor(n / rate * freq));
}

void heat_colour(float v, float *r, float *g, float *b) {
  *r = v;
  *g = v * v;
  *b = 4 * (v - 0.5f) * (v - 0.5f);
}

#define YELM_ANALYSER_STEPS(Sample)                                                               \
  template void Analyser::spectrum_step(const Sample *, int, int, int, const BandFilter *);       \
  template void Analyser::level_step(int, const Sample *, int, int);                              \
  template void Analyser::detail_step(int, const Sample *, const Sample *, int, int);             \
  template void Analyser::w2d_step(const Sample *, int, int);
YELM_ANALYSER_STEPS(double)
YELM_ANALYSER_STEPS(std::atomic<double>)
