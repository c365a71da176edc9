// What the harmonic displays make of a slot's options; no GL here, so every
// reader can be driven on its own.
#pragma once

struct MirrorState;

// The spiral folds round `beat` frames ago and reads up to 2 x beat rows
// back, inside the history's 256 rows.
constexpr int kMaxBeat = 126;
inline bool beat_acceptable(int beat) { return beat >= 0 && beat <= kMaxBeat; }

// The beat a spiral uses: outside 0..126 it is 0, with the message.
int checked_beat(int beat);
// The origami's depth, held inside 0..kOrigamiMaxDepth with a warning.
int checked_origami_depth(int depth);
// The mirror samples at most one frequency per bin of the half spectrum a
// frame: more only samples the same bins again, and a frame (GuiMutex held)
// costs some milliseconds for each.
constexpr int kMirrorMaxIter = 256;
// "m.iter" beyond that is capped, with a warning.
int checked_mirror_iter(int iter);
// The mirror's work state from "m.growth", "m.bass" and "m.iter" (each
// reported when missing) at the given sample rate; null, with its message,
// when its grids cannot be had.
MirrorState *read_mirror(int display, double sample_rate);
