// Sound file readers: the transforms' WavPair (with an output, so the header
// copy and block writes run too) and the player's block reader, on both
// routes: the canonical byte path and the library's decoders.
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/wav.h"
#include "tests/fuzz/fuzz_support.h"

int fuzz_file(const char *path, const uint8_t *data, size_t size) {
  // The block length varies with the input, as callers ask for 512 or less.
  const int frames = 1 + static_cast<int>(size % 600);

  FILE *in = fopen(path, "rb");
  if (in) {
    WavPair pair;
    if (pair.open(in, path, "/dev/null", frames, WavVariant::OptionalOutput)) {
      std::vector<double> values(frames);
      int got, dots = 0;
      while ((got = pair.read_block(values.data(), frames)) > 0) {
        if (!pair.write_checked(values.data(), got, dots++)) break;
      }
      pair.close_output(dots);
    }
    pair.release();
    fclose(in);
  }

  AcqReader reader;
  if (reader.open_input(path) == 0) {
    double left, right;
    // A frame size of zero must not keep the reader on one spot.
    for (int i = 0; i < (1 << 16) && reader.next_frame(left, right); ++i) {
    }
  }
  reader.close();
  return 0;
}
