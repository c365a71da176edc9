// Lines from other threads.
#include "options/say.h"

#include <cstdarg>
#include <cstdio>

void say_from_thread(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  flockfile(stdout);
  vprintf(format, ap);
  fflush(stdout);
  funlockfile(stdout);
  va_end(ap);
}
