// tstring and tether: music passed through a plain string or the ether,
// offline over a WAV file.
#pragma once

#include "display/transform_state.h"

constexpr int kMediumBlock = 512;

// Console handler of both the "tstring" and the "tether" rows.
int tstring(char *line);

// Offline drivers. vector: "binary", input, output, max_octave, fpermu,
// damp, alpha (tether only); missing trailing elements take the defaults.
// 0 done, 1 the input cannot be opened or the size is refused.
int tstring_main(int count, char **vector, TransformState *view);
int tether_main(int count, char **vector, TransformState *view);
