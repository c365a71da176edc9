// tfield and mirage over a WAV file: each 512-frame block runs through the
// surface field a number of passes, each pass saturating with tanh(2 g y).
#include "media/tfield.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "audio/wav.h"
#include "display/graphs.h"
#include "media/live.h"
#include "media/surface.h"
#include "options/options.h"

namespace {

constexpr int kBlock = 512;
// Every pass repeats the whole run through the field: ten already take ten
// times as long, and a typo of a million would take days.
constexpr int kMaxFieldPasses = 10;

// The pass count a run takes, from a file or live (where a block's passes run
// under the GUI lock: a huge count would freeze the window and the console).
int checked_passes(int passes) {
  if (passes < 0) {
    printf("*** warning: passes must be >=0, using 0\n");
    return 0;
  }
  if (passes > kMaxFieldPasses) {
    printf("*** warning: passes %d capped at %d\n", passes, kMaxFieldPasses);
    return kMaxFieldPasses;
  }
  return passes;
}

int field_command(char *line, int mode) {
  TransformState *view = &g_graphs.live;
  stop_live_for_command();
  char *pos = nullptr;
  strtok_r(line, " ", &pos);
  char *a1 = strtok_r(nullptr, " ", &pos);
  char *a2 = a1 ? strtok_r(nullptr, " ", &pos) : nullptr;
  const char *input = nullptr;
  const char *output = "-";
  if (!a1) printf(" output  .wav file  missing\n");
  if (!a2) {
    printf(" no output, only transform buffer.\n");
    input = a1;
  } else {
    output = a1;
    input = a2;
  }
  const char *texts[3] = {
      g_options.get_text(-1, "s.file", false, "field"),
      g_options.get_text(-1, "s.gain", false, "1"),
      g_options.get_text(-1, "s.passes", false, "1"),
  };
  for (const char *t : texts)
    if (strlen(t) >= 50) {
      printf("  parameter too big [%s]\n", t);
      return 0;
    }
  if (!input) {
    const double gain = g_options.get_double(-1, "s.gain", false, 1.0);
    const int passes = checked_passes(g_options.get_int(-1, "s.passes", false, 1));
    {
      GuiLock lock;
      snprintf(view->surface_file, sizeof view->surface_file, "%s", texts[0]);
      view->damp = gain;
      view->fpermu = passes;
    }
    start_live(mode, live_surfaces);
    return 0;
  }
  g_graphs.read_display_options();
  {
    GuiLock lock;
    view->mode = mode;
  }
  for (const char *t : {input, output})
    if (strlen(t) >= 50) {
      printf("  parameter too big [%s]\n", t);
      return 0;
    }
  char *vector[6] = {const_cast<char *>("binary"), const_cast<char *>(input), const_cast<char *>(output),
                     const_cast<char *>(texts[0]), const_cast<char *>(texts[1]),
                     const_cast<char *>(texts[2])};
  field_main(6, vector, view);
  return 0;
}

}  // namespace

int tfield(char *line) { return field_command(line, kModeTfield); }
int mirage(char *line) { return field_command(line, kModeMirage); }

int field_main(int count, char **vector, TransformState *shared) {
  TransformState spare{};
  TransformState *view = offline_view(shared, spare);
  const char *input = count > 1 ? vector[1] : "test.wav";
  const char *output = count > 2 ? vector[2] : "out.wav";
  const char *surface_file = count > 3 ? vector[3] : "field";
  const double gain = count > 4 ? atof(vector[4]) : 1.0;
  int passes = count > 5 ? atoi(vector[5]) : 1;

  // The output is created by the WAV pair, once the input is known to be good.
  bool refused = false;
  FILE *in = open_sound_input(input, &refused);
  if (!in) {
    if (!refused) printf("file arguments not ok\n");
    return 1;
  }
  printf("---------- reading surfaces from file \n");
  SurfaceField field;
  field.load(surface_file, nullptr);
  {
    GuiLock lock;
    field.show_in(view);
  }
  field.print();
  passes = checked_passes(passes);
  printf("transform: gain=%g passes=%d\n", gain, passes);
  printf("---------- reading input .wav\n");

  WavPair wav;
  // The output must not overwrite the surface description either.
  wav.open(in, input, output[0] == '-' ? nullptr : output, kBlock, WavVariant::OptionalOutput, surface_file);
  double in_block[kBlock], out_block[kBlock];
  int dots = 0;
  bool ok = true;
  while (ok && wav.read_block(in_block, kBlock) == kBlock) {
    if (passes == 0) memcpy(out_block, in_block, sizeof out_block);
    {
      // The view may draw the field meanwhile: one block at a time under the lock.
      GuiLock lock;
      for (int p = 0; p < passes; ++p) {
        for (int i = 0; i < kBlock; ++i)
          out_block[i] = 2 / (1 + std::exp(-4 * gain * field.step(in_block[i]))) - 1;
        memcpy(in_block, out_block, sizeof in_block);
      }
    }
    if (!wav.write_checked(out_block, kBlock, dots)) {
      ok = false;
      break;
    }
    putchar('.');
    fflush(stdout);
    ++dots;
  }
  if (ok) ok = wav.close_output(dots);
  if (ok) printf("[.]\n\n");
  fclose(in);
  wav.release();
  GuiLock lock;
  field.release();
  return 0;
}
