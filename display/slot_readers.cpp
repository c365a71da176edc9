// Slot option readers of the display's own graph types.
#include "display/slot_readers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display/graphs.h"

double tuning_bin_of(const char *tuna_text, double sample_rate, bool *line_open) {
  double tuna = tuna_text ? atof(tuna_text) : 0.0;
  // NaN fails the test too; a tuna of inf would give no bin at all.
  if (!tuna_text || !(tuna > 0) || !std::isfinite(tuna)) {
    printf("no tuning? ('tuna' settings). assuming 440 Hz.");
    if (line_open) *line_open = true;
    tuna = 440.0;
  }
  const double bin = floor(static_cast<double>(kAnalyserLength) / sample_rate * tuna);
  // A slot's half row holds bins 0..255; the renderers turn the bin into an
  // int and read up to its octave, so it must not lie beyond them.
  constexpr int top = kAnalyserLength / 2 - 1;
  if (!(bin <= top)) {
    if (line_open && *line_open) putchar('\n');
    if (line_open) *line_open = false;
    printf("*** warning: tuna %g Hz lies above the spectrum (using bin %d)\n", tuna, top);
    return top;
  }
  return bin >= 0 ? bin : 0;
}

bool window_size_of(const char *text, int &width, int &height) {
  width = height = kDefaultWindowSide;
  if (!text) return true;
  constexpr long kSmallest = 100, kLargest = 8192;
  const char *p = text + strspn(text, " \t");
  char *end = nullptr;
  const long w = strtol(p, &end, 10);
  bool ok = end != p && (*end == 'x' || *end == 'X') && w >= kSmallest && w <= kLargest;
  long h = 0;
  if (ok) {
    p = end + 1;
    h = strtol(p, &end, 10);
    ok = end != p && *p >= '0' && *p <= '9' && h >= kSmallest && h <= kLargest && end[strspn(end, " \t\r")] == 0;
  }
  if (!ok) {
    printf("*** warning: window '%s' is not WIDTHxHEIGHT of %ld to %ld pixels (using %dx%d)\n", text, kSmallest,
           kLargest, kDefaultWindowSide, kDefaultWindowSide);
    return false;
  }
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}
