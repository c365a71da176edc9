// fold: rhythm folding of a WAV file over a tree of fourths and fifths.
#pragma once

#include <cstdio>

struct FoldNode {
  double ratio;     // multiple of the bassline; the root is 1
  double w_fourth;  // weight of the fourth above
  double w_fifth;   // weight of the fifth above
};

// Quantities fixed for one run by the sample rate and the options.
struct FoldGeometry {
  int nbeat;      // whole 512-frame blocks in one beat
  int n2beat;     // ring rows: 2 x nbeat, at least 1
  int m;          // n2beat - nbeat
  int band_lo;    // invariant band: band_lo <= bin < band_hi
  int band_hi;
  int bass_bin;
};

constexpr int kFoldBlock = 512;
constexpr int kFoldBins = 256;
constexpr int kFoldMaxDepth = 20;        // 2^20 - 1 nodes, 24 MiB
constexpr int kFoldMaxBeatBlocks = 20000;  // a ring of about 40 MiB

FoldGeometry fold_geometry(int sample_rate, double beat, double bassline, double invariant_key);

// Node bins b0, b1, b2 in the order of their factors.
void fold_node_bins(double bassline, double ratio, int sample_rate, int bins[3]);

void build_fold_tree(FoldNode *nodes, int index, int levels, double ratio);

// getopt-style scanner of fold_main; persistent between calls.
extern int option_index;
extern const char *option_argument;
int next_option(int count, char **vector, const char *option_string);

int fold_command(char *line);
int fold_main(int count, char **vector);
void fold_process(FILE *input, const char *input_name, const char *output_name, int depth,
                  double bassline, double invariant_key, double beat, double scale);
