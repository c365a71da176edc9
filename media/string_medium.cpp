#include "media/string_medium.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

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
  const size_t bytes = sizeof(double) * static_cast<size_t>(nodes);
  memcpy(u_prev2, u_prev, bytes);
  memcpy(u_prev, u, bytes);
  u[0] = x;
  const double half_f = 0.5 * fpermu;
  const double d = damp;
  const double *__restrict up = u_prev;
  const double *__restrict up2 = u_prev2;
  double *__restrict cur = u;
  const int last = nodes - 1;
  for (int i = 1; i < last; ++i)
    cur[i] = up[i] + half_f * (up[i + 1] - 2.0 * up[i] + up[i - 1]) + d * (up[i] - up2[i]);
  cur[last] = cur[last - 1];  // the free end follows its neighbour
  return medium_output(cur[last]);
}
