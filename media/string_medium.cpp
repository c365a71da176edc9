#include "media/string_medium.h"

#include <cmath>
#include <cstdlib>

#include "media/ether.h"

StringMedium::StringMedium(int size, TransformState *v) {
  if (size < 0) size = 0;
  if (size > kEtherMaxOctave) size = kEtherMaxOctave;
  max_octave = size;
  nodes = (1 << size) + 1;
  fpermu = 1.0;
  damp = 0.99;
  view = v;
  u = static_cast<double *>(calloc(nodes, sizeof(double)));
  u_prev = static_cast<double *>(calloc(nodes, sizeof(double)));
  u_prev2 = static_cast<double *>(calloc(nodes, sizeof(double)));
  if (view) {
    view->display[0] = u;
    view->aux[0] = nullptr;
    view->dim1[0] = nodes;
    view->dim2[0] = 0;
    view->slot_count = 1;
  }
}

StringMedium::~StringMedium() {
  if (view) {
    if (view->display[0] == u) view->display[0] = nullptr;
    view->dim1[0] = 0;
  }
  free(u);
  free(u_prev);
  free(u_prev2);
}

double StringMedium::step(double x) {
  // Every node is rewritten, so the three arrays rotate instead of being
  // copied: the oldest becomes the new u.
  double *oldest = u_prev2;
  u_prev2 = u_prev;
  u_prev = u;
  u = oldest;
  if (view && view->display[0] == u_prev) view->display[0] = u;
  u[0] = x;
  // up[i] + f/2 (up[i+1] - 2 up[i] + up[i-1]) + d (up[i] - up2[i]), gathered
  // by array: the same value to within rounding, in fewer operations.
  const double side = 0.5 * fpermu;
  const double centre = 1.0 - fpermu + damp;
  const double back = damp;
  const double *__restrict up = u_prev;
  const double *__restrict up2 = u_prev2;
  double *__restrict cur = u;
  const int last = nodes - 1;
  for (int i = 1; i < last; ++i) cur[i] = centre * up[i] + side * (up[i + 1] + up[i - 1]) - back * up2[i];
  cur[last] = cur[last - 1];  // the free end follows its neighbour
  return medium_output(cur[last]);
}
