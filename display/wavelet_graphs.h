// Wavelet graphs: "wlet" rings of the nine wavelet levels, "w2d" the 2-D
// wavelet pyramid of the scrolling spectrogram.
#pragma once

struct graphs_t;
struct Analyser;
struct DisplaySlot;
struct AnalysisLog;

void draw_wlet(graphs_t &manager, int slot_index, Analyser *analyser, DisplaySlot &slot, AnalysisLog *log);
void draw_w2d(graphs_t &manager, int slot_index, Analyser *analyser, DisplaySlot &slot, AnalysisLog *log);
