// The transformation view: graph type 9, drawn by the live transform's mode.
#pragma once

#include "display/graphs.h"

constexpr int kGraphTransform = 9;

// Installs the type and the live transform's step and stop; call once from
// main before the GUI thread starts.
void install_media_graphs();

// The type-9 renderer: the surface, string, ether or mirage view by the
// view's mode (GuiMutex held, as for every renderer).
void draw_transform_view(graphs_t &manager, int slot_index, Analyser *analyser, DisplaySlot &slot,
                         AnalysisLog *log);
void draw_surface_view(TransformState &view, double scale);
void draw_string_view(TransformState &view, double scale);
void draw_ether_view(TransformState &view, double scale);
void draw_mirage_view(TransformState &view, double scale);
// Copies each registered surface's current u into the copy the view draws.
void refresh_surface_copies(TransformState &view);
