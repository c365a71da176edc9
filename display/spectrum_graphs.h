// Spectrum graphs: "fft" waterfall, "c5" octave rings, "c5c" octave spiral.
#pragma once

struct graphs_t;
struct Analyser;
struct DisplaySlot;
struct AnalysisLog;

void draw_fft(graphs_t &manager, int slot_index, Analyser *analyser, DisplaySlot &slot, AnalysisLog *log);
void draw_c5(graphs_t &manager, int slot_index, Analyser *analyser, DisplaySlot &slot, AnalysisLog *log);
void draw_c5c(graphs_t &manager, int slot_index, Analyser *analyser, DisplaySlot &slot, AnalysisLog *log);

// The 21 ticks left of x at depth z, from -1 up by 0.1.
void draw_axis_ticks(double x, double z);
// The time axis the three share: ticks and labels left of x at depth z.
void draw_time_axis(double x, double z, double time_span);
