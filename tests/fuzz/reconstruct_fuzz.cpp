// reconstruct's readers: the input is read as "reconstruct.param" (then the
// band it gives is validated and turned into bins), and as a codebook taken
// window by window into the table that revives a spectrum.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tests/fuzz/fuzz_support.h"
#include "transforms/reconstruct.h"

int fuzz_file(const char *path, const uint8_t *data, size_t size) {

  g_reconstruct_params = kReconstructDefaults;
  read_reconstruct_params(path);
  const ReconstructParams p = g_reconstruct_params;
  int lo = 4, hi = 9;
  for (int rate : {44100, 8000, 1}) {
    if (!reconstruct_band_ok(p, rate)) continue;
    reconstruct_band(p, rate, &lo, &hi);
    if (lo < 0 || hi > 256) __builtin_trap();  // a finite band is cut to the spectrum (lo > hi: empty)
  }

  static CodebookEntry table[kCodebookEntries];
  memset(table, 0, sizeof table);
  CodebookReader reader;
  reader.file = fopen(path, "r");
  if (!reader.file) return 0;
  reader.sample_rate = 44100;
  for (int w = 0; w < 64 && take_codebook_lines(reader, table, w); ++w) {
  }
  fclose(reader.file);
  static double v[kReconstructBlock];
  for (int k = 0; k < kReconstructBlock; ++k) v[k] = k % 7 ? 0.01 * k : 0;
  revive_spectrum(table, v, 4, 9, 2.0, 3);
  return 0;
}
