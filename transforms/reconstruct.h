// reconstruct: rebuilds a WAV file from one band of its own spectrum and the
// bin-pair magnitude ratios recorded in an iviv codebook.
#pragma once

#include <cstdio>

struct ReconstructParams {
  char mode;            // 'b' bandpass only, anything else band plus revival
  double band_lo_freq;  // Hz
  double band_hi_freq;  // Hz
  double rescale;       // factor on the target magnitude sum
  double tolerance;     // relative ratio change that replaces an entry
  double threshold;     // smallest magnitude taken from a codebook line
  int iterations;       // revival passes per window
};

// Kept for the whole program run; the parameter file overwrites what it names.
extern ReconstructParams g_reconstruct_params;
constexpr ReconstructParams kReconstructDefaults = {'n', 387.6, 775.2, 1.0, 0.05, 0.0001, 5};

struct CodebookEntry {
  double time;
  int bin;          // f
  int partner_bin;  // g
  double magnitude;          // h, at f
  double partner_magnitude;  // l, at g
  bool empty() const { return bin == 0 && partner_bin == 0; }
};

constexpr int kCodebookEntries = 1024;
constexpr int kReconstructBlock = 512;
constexpr int kCodebookLineChars = 256;

// Reading state of one codebook during one run.
struct CodebookReader {
  FILE *file = nullptr;
  int sample_rate = 44100;
  bool started = false;    // the first line has been read and t0 set
  bool exhausted = false;
  double t0 = -1;
  double line_time = 0;    // time stamp of the line in the buffer
  char line[kCodebookLineChars] = {};
  int entries = 0, accepted = 0, errors = 0;
  double tolerance = 0.05, threshold = 0.0001;

  // Next line into the buffer, without its line end; false at the end.
  bool read_line();
};

// Splits a codebook line into its first five fields; false when a field is
// missing or not a number, or a bin lies outside the 512-element spectrum.
bool parse_codebook_line(const char *line, CodebookEntry *entry);

// Takes the lines due by window w into the table; 1 while more lines remain.
int take_codebook_lines(CodebookReader &reader, CodebookEntry *table, int window);

void revive_spectrum(const CodebookEntry *table, double *v, int lo, int hi, double target,
                     int iterations);

// |a[0]| plus the magnitudes of terms 1..n/2-1 of a halfcomplex array.
double magnitude_sum(const double *a, int n);

// A band that is finite with 0 <= lo < hi <= half the sample rate; anything
// else is reported, and no run may start.
bool reconstruct_band_ok(const ReconstructParams &p, int sample_rate);
// Revival passes per window: each pass walks the whole table, so a typo of
// millions would keep the run busy for days; 100 is far past convergence.
constexpr int kReconstructMaxIterations = 100;

// Pass band bins for a sample rate.
void reconstruct_band(const ReconstructParams &p, int sample_rate, int *lo, int *hi);

// 1 read, 0 no such file, -1 refused (not a regular file, or too large).
int read_reconstruct_params(const char *path);
int reconstruct_file(const char *output, const char *input, const char *codebook);
int reconstruct_command(char *line);
