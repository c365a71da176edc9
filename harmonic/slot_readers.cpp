// Slot option readers of the harmonic displays.
#include "harmonic/slot_readers.h"

#include <cstdio>

#include "harmonic/mirror.h"
#include "harmonic/origami.h"
#include "options/options.h"

int checked_beat(int beat) {
  // A negative beat would read rows before the newest one.
  if (beat_acceptable(beat)) return beat;
  printf("SPIRAL display's beat time  not acceptable (defaulting to ZERO)\n");
  return 0;
}

int checked_origami_depth(int depth) {
  if (depth >= 0 && depth <= kOrigamiMaxDepth) return depth;
  const int use = depth < 0 ? 0 : kOrigamiMaxDepth;
  printf("*** warning: o.depth %d is out of range 0..%d (using %d)\n", depth, kOrigamiMaxDepth, use);
  return use;
}

int checked_mirror_iter(int iter) {
  if (iter <= kMirrorMaxIter) return iter;
  printf("*** warning: m.iter %d capped at %d\n", iter, kMirrorMaxIter);
  return kMirrorMaxIter;
}

MirrorState *read_mirror(int display, double sample_rate) {
  const double growth = g_options.get_double(display, "m.growth", true, 1.0);
  const double bass = g_options.get_double(display, "m.bass", true, 10.0);
  const int iter = checked_mirror_iter(g_options.get_int(display, "m.iter", true, 10));
  return create_mirror(bass, growth, sample_rate, iter);
}
