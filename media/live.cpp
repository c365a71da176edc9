// The live transforms: the per-medium operations, the dispatch by the kind a
// medium was built as, and the console side of starting and stopping.
#include "media/live.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

#include "display/graphs.h"
#include "media/ether.h"
#include "media/string_medium.h"
#include "media/surface.h"

namespace {

bool surface_kind(int kind) { return kind == kModeTfield || kind == kModeMirage; }

// Frees the blocks and the medium, the latter as the kind it was built as.
void release_live(TransformState *v) {
  free(v->in_block);
  free(v->out_block);
  v->in_block = v->out_block = nullptr;
  if (v->medium) {
    switch (v->medium_kind) {
      case kModeTstring:
        delete static_cast<StringMedium *>(v->medium);
        break;
      case kModeTether:
        delete static_cast<Ether *>(v->medium);
        break;
      case kModeTfield:
      case kModeMirage:
        // The destructor clears the surfaces' registration.
        delete static_cast<SurfaceField *>(v->medium);
        break;
      default:
        break;
    }
  }
  v->medium = nullptr;
  v->medium_kind = kModeNone;
}

bool make_blocks(TransformState *v) {
  v->in_block = static_cast<double *>(calloc(TransformState::kBlock, sizeof(double)));
  v->out_block = static_cast<double *>(calloc(TransformState::kBlock, sizeof(double)));
  if (v->in_block && v->out_block) return true;
  printf("not enough memory for the live blocks\n");
  release_live(v);
  return false;
}

// The samples of the last capture that a step may use.
int step_count(const TransformState *v) {
  if (v->in_count < 0) return 0;
  return v->in_count > TransformState::kBlock ? TransformState::kBlock : v->in_count;
}

bool ready(const TransformState *v, bool kind_ok) { return v->medium && v->in_block && v->out_block && kind_ok; }

// Shared by both strings: create when needed, then step.
template <typename Medium>
int live_string_medium(int flag, TransformState *v, int kind) {
  if (flag == kLiveStop) {
    release_live(v);
    return 0;
  }
  if (flag == kLiveCreate && v->medium && v->medium_kind != kind) release_live(v);
  if (flag == kLiveCreate && !v->medium) {
    printf("---------- creating configuration for live transform\n");
    const int size = static_cast<int>(v->max_octave);
    printf("live string size is %d\n", size);
    if (!ether_size_ok(size) || !make_blocks(v)) return 1;
    Medium *m = new (std::nothrow) Medium(size, v);
    if (!m) {
      release_live(v);
      return 1;
    }
    m->fpermu = v->fpermu;
    m->damp = v->damp;
    v->medium = m;
    v->medium_kind = kind;
    v->block_size = TransformState::kBlock;
    if constexpr (std::is_same_v<Medium, Ether>) {
      Ether *e = m;
      const double old = e->alpha;
      e->alpha = v->alpha;
      if (!e->compute_weights()) e->alpha = old;
      e->report();
    }
  }
  if (!ready(v, v->medium_kind == kind)) return 1;
  Medium *m = static_cast<Medium *>(v->medium);
  const int n = step_count(v);
  for (int i = 0; i < n; ++i) v->out_block[i] = m->step(v->scale * v->in_block[i]);
  return 0;
}

}  // namespace

int live_string(int flag, TransformState *view) { return live_string_medium<StringMedium>(flag, view, kModeTstring); }

int live_ether(int flag, TransformState *view) { return live_string_medium<Ether>(flag, view, kModeTether); }

int live_surfaces(int flag, TransformState *v) {
  if (flag == kLiveStop) {
    release_live(v);
    return 0;
  }
  if (flag == kLiveCreate && v->medium && !surface_kind(v->medium_kind)) release_live(v);
  if (flag == kLiveCreate && !v->medium) {
    printf("---------- reading configuration for live transform\n");
    if (!make_blocks(v)) return 1;
    SurfaceField *field = new (std::nothrow) SurfaceField;
    if (!field) {
      release_live(v);
      return 1;
    }
    // A description that cannot be read leaves an empty field, which passes
    // the samples through: the live run goes on as the offline one does.
    field->load(v->surface_file, v);
    field->print();
    v->medium = field;
    v->medium_kind = v->mode == kModeMirage ? kModeMirage : kModeTfield;
    v->block_size = TransformState::kBlock;
  }
  if (!ready(v, surface_kind(v->medium_kind))) return 1;
  SurfaceField &field = *static_cast<SurfaceField *>(v->medium);
  const double g = v->damp;
  int passes = static_cast<int>(v->fpermu);
  if (passes < 0) passes = 0;  // as offline: a negative count passes the block through
  const int n = step_count(v);
  if (passes == 0) memcpy(v->out_block, v->in_block, sizeof(double) * n);
  for (int p = 0; p < passes; ++p) {
    for (int i = 0; i < n; ++i) v->out_block[i] = 2 / (1 + std::exp(-4 * g * field.step(v->in_block[i]))) - 1;
    memcpy(v->in_block, v->out_block, sizeof(double) * n);
  }
  return 0;
}

void live_step(TransformState *v) {
  switch (v->medium_kind) {
    case kModeTfield:
    case kModeMirage:
      live_surfaces(kLiveStep, v);
      break;
    case kModeTstring:
      live_string(kLiveStep, v);
      break;
    case kModeTether:
      live_ether(kLiveStep, v);
      break;
    default:
      break;
  }
}

void live_stop(TransformState *v) { release_live(v); }

void stop_live_for_command() {
  // Only the console thread changes whether a transform is configured.
  if (!live_active(g_graphs.live)) return;
  printf("stopping audio-capture...\n");
  g_graphs.shutdown();
  g_graphs.stop_live();
}

void start_live(int mode, int (*operation)(int, TransformState *)) {
  TransformState *view = &g_graphs.live;
  int result;
  {
    GuiLock lock;
    view->mode = mode;
    view->in_count = 0;
    result = operation(kLiveCreate, view);
  }
  if (result != 0) printf("error in engine?\n");
  printf("audio: reset & capture from %s..\n", "device");
  g_graphs.configure(nullptr);
}

TransformState *offline_view(TransformState *view, TransformState &spare) {
  return view && live_active(*view) ? &spare : view;
}
