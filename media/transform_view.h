// The transformation view: graph type 9, drawn by the live transform's mode.
#pragma once

constexpr int kGraphTransform = 9;

// Installs the type; call once from main before the GUI thread starts.
void install_media_graphs();
