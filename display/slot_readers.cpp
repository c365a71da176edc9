// Slot option readers of the display's own graph types.
#include "display/slot_readers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

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
