// The display configuration's slot readers: the input is loaded as a settings
// file, then each display's tuning, beat and origami depth are read as a
// plot reads them, and a mirror slot's grid is made and run through a
// few transfers. What comes out must be what the renderers take for granted.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "audio/feed.h"
#include "display/slot_readers.h"
#include "harmonic/mirror.h"
#include "harmonic/origami.h"
#include "harmonic/slot_readers.h"
#include "options/options.h"
#include "tests/fuzz/fuzz_support.h"

constexpr double kFuzzMirrorCells = 1 << 24;

int fuzz_file(const char *path, const uint8_t *, size_t) {
  g_options.load_file(path);
  // The feed's rate: any other than 1..kMaxSampleRate is replaced by 44100.
  int rate = g_options.get_int(-1, "samplerate", false, 44100);
  if (rate <= 0 || rate > kMaxSampleRate) rate = 44100;

  for (int i = 0; i < 4; ++i) {
    const double bin = tuning_bin_of(g_options.get_text(i, "tuna", false, nullptr), rate);
    // Renderers convert it to an int and read up to its octave in a half row.
    if (!(bin >= 0 && bin <= kAnalyserLength / 2 - 1) || bin != std::floor(bin)) __builtin_trap();
    if (!beat_acceptable(checked_beat(g_options.get_int(i, "beat", false, 0)))) __builtin_trap();
    const int depth = checked_origami_depth(g_options.get_int(i, "o.depth", false, 0));
    if (depth < 0 || depth > kOrigamiMaxDepth) __builtin_trap();

    const char *style = g_options.get_text(i, "style", false, "");
    if (strcmp(style, "mirror") != 0) continue;
    // Grids the machine can hold are made whatever their size; here only
    // those that stay within the fuzzer's memory are made.
    const double cells = mirror_cells(g_options.get_double(i, "m.bass", false, 10.0),
                                      g_options.get_double(i, "m.growth", false, 1.0), rate);
    if (!(cells <= kFuzzMirrorCells)) continue;
    MirrorState *m = read_mirror(i, rate);
    if (!m) continue;
    if (m->width < 0 || m->height < 0 || static_cast<double>(m->width) * m->height > cells) __builtin_trap();
    double row[kAnalyserLength / 2];
    for (int k = 0; k < kAnalyserLength / 2; ++k) row[k] = 1 + (k % 7);
    for (double t = 0; t < 0.5; t += 0.0625) m->mirror_bin(t, row, kAnalyserLength / 2, rate / 2.0, bin);
    destroy_mirror(m);
  }
  g_options.release();
  return 0;
}
