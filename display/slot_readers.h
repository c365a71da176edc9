// What the display configuration reads from a slot's options for the
// display's own graph types; no GL here, so every reader can be driven on its
// own.
#pragma once

// The tuning bin floor(512 / sample_rate x tuna) from the text of the slot's
// "tuna" option (null: none). A missing, non-positive or non-finite tuna is
// 440 Hz, with its message. The bin is kept inside the slot's half of a
// spectrum row (0..255), where every renderer looks for the octave.
// line_open (may be null), in and out: the console's line has no end yet
// (the 440 Hz message has none); a warning then starts a line of its own.
double tuning_bin_of(const char *tuna_text, double sample_rate, bool *line_open = nullptr);

// The window's size from the text of the "window" option, "WIDTHxHEIGHT"
// (null: not set), each 100 to 8192 pixels. Not set gives 400 x 400; a bad
// text too, with a one-line warning. False when the text was bad.
constexpr int kDefaultWindowSide = 400;
bool window_size_of(const char *text, int &width, int &height);
