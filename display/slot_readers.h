// What the display configuration reads from a slot's options for the
// display's own graph types; no GL here, so every reader can be driven on its
// own.
#pragma once

// The tuning bin floor(512 / sample_rate x tuna) from the text of the slot's
// "tuna" option (null: none). A missing, non-positive or non-finite tuna is
// 440 Hz, with its message. The bin is kept inside the slot's half of a
// spectrum row (0..255), where every renderer looks for the octave.
double tuning_bin_of(const char *tuna_text, double sample_rate);

// The w2d graph's "quadrant" (default 2; 4 and above become 2, with the
// message). Only its two low bits choose the quadrant drawn.
int read_quadrant(int display);
