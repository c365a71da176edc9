// unfold: an expanding ether whose output is judged by a tree of fourths
// and fifths over a bassline, and optionally repaired in its spectrum.
#pragma once

#include <cstdio>

struct TransformState;

struct UnfoldParams {
  int debug = 0;
  int repair = 0;
  double scale = 0.5;
  int depth = 9;
  double bass = 25.0;
  double alpha = 0.0019512176;  // growth of the ether's alpha per sample
  double fpermu = 1.0;
  double damp = 0.99;
  int max_octave = 9;
};

struct DecoderNode {
  double ratio;     // the note as a multiple of the bassline
  double w_fourth;  // last magnitude of the fourth above, relative to the note
  double w_fifth;
};

struct IvivDecoder {
  DecoderNode *nodes = nullptr;  // heap order; the first slot_count - 1 hold the tree
  int depth = 0;
  int slot_count = 0;  // 2^depth
  double bin_scale = 0;  // spectrum bins per Hz
  double angle_low = 0, angle_high = 0, q = 0;

  IvivDecoder(int depth, double bin_scale);
  ~IvivDecoder();
  IvivDecoder(const IvivDecoder &) = delete;
  IvivDecoder &operator=(const IvivDecoder &) = delete;

  int node_count() const { return slot_count > 0 ? slot_count - 1 : 0; }
  int bin(double f) const;
  // Turns the half-complex spectrum into magnitudes (in place) and measures
  // the fourth and fifth above every tree note.
  void measure(double t, double *spectrum, double bass);
  // Stability of the key: 1 when root, fourth and fifth stand in the same
  // proportion one octave up; 0 when the octave lies beyond the spectrum.
  double quality(const double *spectrum, double key);
  void repair(double *spectrum, double bass);
  void spread_octaves(double *spectrum, double bass);
};

// Largest decoder depth: 2^20 nodes of 24 bytes.
constexpr int kUnfoldMaxDepth = 20;

int unfold(char *line);
int unfold_main(int count, char **vector, TransformState *view);
int unfold_next_option(int count, char **vector, const char *option_string);
extern int unfold_option_index;
extern const char *unfold_option_argument;
void unfold_process(FILE *input, const char *input_name, const char *output_name,
                    const UnfoldParams &params, TransformState *view);
