// Deadlines on the monotonic clock, for the waits that must not last for
// ever (a stream that will not stop, a log's writer, the way out).
#pragma once

#include <time.h>

// The moment `ms` milliseconds from now.
inline timespec deadline_in_ms(int ms) {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  t.tv_sec += ms / 1000;
  t.tv_nsec += (ms % 1000) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_sec += 1;
    t.tv_nsec -= 1000000000L;
  }
  return t;
}
