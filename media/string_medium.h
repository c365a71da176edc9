// A plain damped string: node 0 is driven, the far end follows its neighbour.
#pragma once

#include "display/transform_state.h"

struct StringMedium {
  double *u, *u_prev, *u_prev2;
  int max_octave;
  int nodes;  // 2^max_octave + 1
  double fpermu;
  double damp;
  TransformState *view;

  // max_octave is clamped into 0..kEtherMaxOctave (see ether_size_ok).
  StringMedium(int max_octave, TransformState *view);
  ~StringMedium();
  StringMedium(const StringMedium &) = delete;
  StringMedium &operator=(const StringMedium &) = delete;

  double step(double x);
};
