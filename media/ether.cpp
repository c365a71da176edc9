#include "media/ether.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

template <typename T>
T *zeroed(long count) {
  return static_cast<T *>(calloc(static_cast<size_t>(count > 0 ? count : 1), sizeof(T)));
}

// Bell over the levels, peaking where 2^k = 1/(1 - alpha).
double raw_weight(int level, double alpha) {
  double p = std::ldexp(1.0, level);
  float x = static_cast<float>(p - alpha * p - 1.0);
  double xd = x;
  return std::exp(-16.0 * xd * xd);
}

}  // namespace

double medium_output(double u) {
  constexpr double kEdge = 1.0 - 0x1p-53;  // the largest double below 1
  double y = 2.0 / (1.0 + std::exp(-4.0 * u)) - 1.0;
  if (y > kEdge) return kEdge;
  if (y < -kEdge) return -kEdge;
  return y;
}

bool ether_size_ok(int max_octave) {
  if (max_octave >= 0 && max_octave <= kEtherMaxOctave) return true;
  printf("*** warning: max-octave %d out of range 0..%d, nothing done\n", max_octave, kEtherMaxOctave);
  return false;
}

Ether::Ether(int size, TransformState *v) {
  if (size < 0) size = 0;
  if (size > kEtherMaxOctave) size = kEtherMaxOctave;
  alpha = 0.5;
  saved_alpha = 0.5;
  fpermu = 1.0;
  damp = 0.99;
  max_octave = size;
  nodes = (1 << size) + 1;
  path_length = size + (1 << (size + 1));
  peak = 2;
  view = v;

  path = zeroed<int>(path_length);
  weights = zeroed<double>(size + 1);
  u = zeroed<double>(nodes);
  u_prev = zeroed<double>(nodes);
  u_prev2 = zeroed<double>(nodes);
  snap_u = zeroed<double>(nodes);
  snap_prev = zeroed<double>(nodes);
  snap_prev2 = zeroed<double>(nodes);

  // Level k+1 is level k with a new node between every two neighbours,
  // numbered consecutively from 2 in the order of insertion.
  path[0] = 0;
  path[1] = 1;
  int start = 0, length = 2, next_node = 2;
  for (int k = 0; k < size; ++k) {
    int out = start + length;
    for (int i = 0; i < length; ++i) {
      path[out++] = path[start + i];
      if (i + 1 < length) path[out++] = next_node++;
    }
    start += length;
    length = 2 * length - 1;
  }

  // Inner nodes of every level with their neighbours, and the node next to
  // the output end: the step then runs over flat index lists.
  long inner = static_cast<long>(path_length) - 2L * (size + 1);
  step_n = zeroed<int>(inner);
  step_l = zeroed<int>(inner);
  step_r = zeroed<int>(inner);
  level_start = zeroed<int>(size + 2);
  pull_node = zeroed<int>(size + 1);
  start = 0;
  length = 2;
  int t = 0;
  for (int k = 0; k <= size; ++k) {
    level_start[k] = t;
    const int *level = path + start;
    for (int i = 1; i + 1 < length; ++i) {
      step_l[t] = level[i - 1];
      step_n[t] = level[i];
      step_r[t] = level[i + 1];
      ++t;
    }
    pull_node[k] = level[length - 2];
    start += length;
    length = 2 * length - 1;
  }
  level_start[size + 1] = t;

  if (view) {
    view->display[0] = u;
    view->display[1] = path;
    view->aux[0] = weights;
    view->dim1[0] = nodes;
    view->dim2[0] = 0;
    view->slot_count = max_octave;
  }
}

Ether::~Ether() {
  if (view) {
    // Only clear what is still ours: a later medium may have registered since.
    if (view->display[0] == u) view->display[0] = nullptr;
    if (view->display[1] == path) view->display[1] = nullptr;
    if (view->aux[0] == weights) view->aux[0] = nullptr;
    view->dim1[0] = 0;
  }
  free(path);
  free(weights);
  free(u);
  free(u_prev);
  free(u_prev2);
  free(snap_u);
  free(snap_prev);
  free(snap_prev2);
  free(step_n);
  free(step_l);
  free(step_r);
  free(level_start);
  free(pull_node);
}

bool Ether::compute_weights() {
  if (max_octave < 1) return false;
  double raw[kEtherMaxOctave + 1];
  double sum = 0;
  for (int k = 0; k < max_octave; ++k) {
    raw[k] = raw_weight(k, alpha);
    sum += raw[k];
  }
  if (sum < 0.05) return false;
  peak = 1;
  double best = 0;
  for (int k = 0; k < max_octave; ++k) {
    weights[k] = raw[k] / sum;
    if (weights[k] > best) {
      best = weights[k];
      peak = 1 << k;
    }
  }
  return true;
}

bool Ether::set_alpha(double a) {
  double old = alpha;
  alpha = a;
  if (compute_weights()) return true;
  alpha = old;
  return false;
}

void Ether::snapshot() {
  size_t bytes = sizeof(double) * static_cast<size_t>(nodes);
  memcpy(snap_u, u, bytes);
  memcpy(snap_prev, u_prev, bytes);
  memcpy(snap_prev2, u_prev2, bytes);
  saved_alpha = alpha;
}

void Ether::restore() {
  size_t bytes = sizeof(double) * static_cast<size_t>(nodes);
  memcpy(u, snap_u, bytes);
  memcpy(u_prev, snap_prev, bytes);
  memcpy(u_prev2, snap_prev2, bytes);
  alpha = saved_alpha;
}

void Ether::report() const {
  printf("[WEATHER-REPORT  max-octave %d #nodes(sz) %d]\n** alpha %g peak@ %g fpermu %g damp %g\n", max_octave,
         nodes, alpha, alpha == 1.0 ? -1.0 : 1.0 / (1.0 - alpha), fpermu, damp);
  printf("path-w:     ");
  for (int k = 0; k < max_octave; ++k) printf("%5.2f ", raw_weight(k, alpha));
  printf("\n");
  printf("path-wnorm: ");
  for (int k = 0; k < max_octave; ++k) printf("%5.2f ", weights[k]);
  printf("\n");
}

double Ether::step(double x) {
  // Rotate the arrays (the oldest becomes the new u) and start u from
  // u_prev: one copy instead of two.
  double *oldest = u_prev2;
  u_prev2 = u_prev;
  u_prev = u;
  u = oldest;
  if (view && view->display[0] == u_prev) view->display[0] = u;
  memcpy(u, u_prev, sizeof(double) * static_cast<size_t>(nodes));
  u[0] = x;
  const double *__restrict up = u_prev;
  const double *__restrict up2 = u_prev2;
  double *__restrict cur = u;
  const int *__restrict ns = step_n;
  const int *__restrict ls = step_l;
  const int *__restrict rs = step_r;
  for (int k = 0; k <= max_octave; ++k) {
    const double b = weights[k];
    // A level of weight 0 adds exactly nothing to any node, nor pulls the end.
    if (b == 0.0) continue;
    // b (f/2 (up[r] - 2 up[n] + up[l]) + d (up[n] - up2[n])), gathered by
    // array: the same increment to within rounding, in fewer operations.
    const double side = b * 0.5 * fpermu;
    const double centre = b * (damp - fpermu);
    const double back = b * damp;
    for (int i = level_start[k], e = level_start[k + 1]; i < e; ++i) {
      const int n = ns[i];
      cur[n] += side * (up[ls[i]] + up[rs[i]]) + centre * up[n] - back * up2[n];
    }
    cur[1] = b * cur[pull_node[k]] + (1.0 - b) * cur[1];
  }
  return medium_output(cur[1]);
}
