// The surface description loader, then a few steps of the field it built.
#include <cstdint>
#include <cstring>

#include "display/transform_state.h"
#include "media/surface.h"
#include "tests/fuzz/fuzz_support.h"

int fuzz_file(const char *path, const uint8_t *data, size_t size) {
  static TransformState view;
  memset(&view, 0, sizeof view);
  SurfaceField field;
  field.load(path, &view);
  field.print();
  long cells = 0;
  for (int i = 0; i < field.count; ++i)
    if (field.surfaces[i].built()) cells += static_cast<long>(field.surfaces[i].width) * field.surfaces[i].height;
  // Stepping is checked for small fields only; large ones are just built.
  if (cells <= 1 << 14)
    for (int t = 0; t < 32; ++t) field.step(t % 2 ? 0.5 : -0.25);
  field.release();
  for (int i = 0; i < TransformState::kSlots; ++i)
    if (view.display[i] || view.live[i]) __builtin_trap();  // a slot left pointing at freed arrays
  return 0;
}
