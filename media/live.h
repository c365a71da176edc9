// Live transforms: a medium fed with the sound card's ring 0, stepped once
// per idle step by the GUI thread under GuiMutex. Creation and teardown run
// on the console thread, also under GuiMutex.
#pragma once

#include "display/transform_state.h"

// Flags of the live operations.
enum LiveFlag { kLiveStop = -1, kLiveStep = 0, kLiveCreate = 1 };

// One medium each. kLiveCreate builds the medium when there is none (a
// medium of another kind is released first, as the kind it was built as),
// then steps; kLiveStep only steps; kLiveStop frees blocks and medium.
// 0 done, 1 nothing configured to step (or the medium could not be built).
// The caller holds GuiMutex.
int live_string(int flag, TransformState *view);
int live_ether(int flag, TransformState *view);
int live_surfaces(int flag, TransformState *view);

// Step and stop by the kind the medium was built as (not by the view's mode,
// which plot and unfold change under a running medium). GuiMutex held.
void live_step(TransformState *view);
void live_stop(TransformState *view);

// Console side of every medium command: a running live transform is stopped
// first ("stopping audio-capture...", input and logs stopped, medium freed).
void stop_live_for_command();
// Console side of a live start: the view's mode and live fields set (the
// caller has stored the medium's parameters), the medium built under
// GuiMutex, then capture from the sound card.
void start_live(int mode, int (*operation)(int flag, TransformState *view));

// The view an offline run registers its medium in: while a live transform
// runs, a spare one, so the live medium keeps its registration.
TransformState *offline_view(TransformState *view, TransformState &spare);
