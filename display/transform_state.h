// What the live transforms and the transformation view share: each medium
// registers its arrays and sizes here; the display manager owns one instance.
#pragma once

enum TransformMode {
  kModeNone = 0,
  kModeTfield = 1,
  kModeTstring = 2,
  kModeTether = 3,
  kModeUnfold = 4,
  kModeMirage = 5,
};

struct TransformState {
  static constexpr int kSlots = 12;
  static constexpr int kBlock = 512;

  void *display[kSlots];  // per slot, the array the view draws
  double *live[kSlots];   // per slot, a surface's current u (copied into display)
  void *aux[kSlots];      // ether weights, or a surface's wall mask
  int dim1[kSlots];
  int dim2[kSlots];
  int slot_count;
  int mode;               // TransformMode
  int transform_delay;    // pause after each live step, x 100 ms
  double fpermu;          // tstring/tether fpermu; tfield/mirage passes
  double damp;            // tstring/tether damp; tfield/mirage gain
  double max_octave;
  double alpha;
  double scale;
  char surface_file[256]; // own copy: a later "set s.file" must not pull it away
  double *in_block;       // 512
  double *out_block;      // 512, the transform buffer
  int in_count;
  int block_size;         // 512 while a live transform is configured
  void *medium;           // owned; its kind is medium_kind
  int medium_kind;        // the mode the medium was built for

  // Installed by the media at start-up, so the display side can step and stop
  // a live medium without depending on the media code.
  void (*step_hook)(TransformState *view);
  void (*stop_hook)(TransformState *view);
};

inline bool live_active(const TransformState &v) {
  return v.medium && v.in_block && v.out_block && v.block_size;
}
