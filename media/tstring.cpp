// tstring / tether: the command handler and the offline drivers.
#include "media/tstring.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/wav.h"
#include "display/graphs.h"
#include "media/ether.h"
#include "media/string_medium.h"
#include "options/options.h"

namespace {

struct MediumArgs {
  const char *input = "test.wav";
  const char *output = "out.wav";
  int max_octave = 5;
  double fpermu = 1.0;
  double damp = 0.99;
  double alpha = 0.5;
};

MediumArgs parse_args(int count, char **vector) {
  MediumArgs a;
  if (count > 1) a.input = vector[1];
  if (count > 2) a.output = vector[2];
  if (count > 3) a.max_octave = atoi(vector[3]);
  if (count > 4) a.fpermu = atof(vector[4]);
  if (count > 5) a.damp = atof(vector[5]);
  if (count > 6) a.alpha = atof(vector[6]);
  return a;
}

struct Blocks {
  double *in = static_cast<double *>(calloc(kMediumBlock, sizeof(double)));
  double *out = static_cast<double *>(calloc(kMediumBlock, sizeof(double)));
  ~Blocks() {
    free(in);
    free(out);
  }
};

// Runs every full block of the input through step; a last, shorter block is
// neither transformed nor written.
// False when the run failed (its message printed): no closing "[.]" then.
template <typename Medium>
bool run_blocks(WavPair &wav, Medium &medium) {
  Blocks b;
  if (!b.in || !b.out) {
    printf("not enough memory for the blocks. aborting.\n");
    return false;
  }
  int dots = 0;
  while (wav.read_block(b.in, kMediumBlock) == kMediumBlock) {
    {
      GuiLock lock;
      for (int i = 0; i < kMediumBlock; ++i) b.out[i] = medium.step(b.in[i]);
    }
    if (!wav.write_checked(b.out, kMediumBlock, dots)) return false;
    printf(".");
    fflush(stdout);
    ++dots;
  }
  return wav.close_output(dots);
}

const char *output_path(const MediumArgs &a) { return a.output[0] == '-' ? nullptr : a.output; }

}  // namespace

int tether_main(int count, char **vector, TransformState *view) {
  const MediumArgs a = parse_args(count, vector);
  FILE *in = fopen(a.input, "rb");
  if (!in) {
    printf("file arguments not ok\n");
    return 1;
  }
  if (!ether_size_ok(a.max_octave)) {
    fclose(in);
    return 1;
  }
  printf("---------- preparing ether\n");
  Ether *ether;
  {
    GuiLock lock;
    ether = new Ether(a.max_octave, view);
    ether->fpermu = a.fpermu;
    ether->damp = a.damp;
    ether->set_alpha(a.alpha);
  }
  ether->report();
  printf("---------- reading input .wav\n");
  {
    WavPair wav;
    bool ok = true;
    if (wav.open(in, a.input, output_path(a), kMediumBlock, WavVariant::OptionalOutput)) ok = run_blocks(wav, *ether);
    if (ok) printf("[.]\n\n");
    fclose(in);
  }
  GuiLock lock;
  delete ether;
  return 0;
}

int tstring_main(int count, char **vector, TransformState *view) {
  const MediumArgs a = parse_args(count, vector);
  FILE *in = fopen(a.input, "rb");
  if (!in) {
    printf("file arguments not ok\n");
    return 1;
  }
  if (!ether_size_ok(a.max_octave)) {
    fclose(in);
    return 1;
  }
  printf("---------- reading input .wav\n");
  WavPair wav;
  bool ok = true;
  if (wav.open(in, a.input, output_path(a), kMediumBlock, WavVariant::OptionalOutput)) {
    StringMedium *medium;
    {
      GuiLock lock;
      medium = new StringMedium(a.max_octave, view);
      medium->fpermu = a.fpermu;
      medium->damp = a.damp;
    }
    ok = run_blocks(wav, *medium);
    GuiLock lock;
    delete medium;
  }
  if (ok) printf("[.]\n\n");
  wav.release();
  fclose(in);
  return 0;
}

int tstring(char *line) {
  TransformState *view = &g_graphs.live;
  if (live_active(*view)) {
    printf("stopping audio-capture...\n");
    g_graphs.shutdown();
    if (view->stop_hook) view->stop_hook(view);
  }
  char *pos = nullptr;
  char *word = strtok_r(line, " ", &pos);
  char *a1 = strtok_r(nullptr, " ", &pos);
  char *a2 = a1 ? strtok_r(nullptr, " ", &pos) : nullptr;
  const bool plain = word && strcmp(word, "tstring") == 0;
  if (!a1) printf(" output  .wav file  missing\n");
  if (!a2) printf(" no output, only transform buffer.\n");
  if (!a1) {
    printf("live transforms are not available yet in this build\n");
    return 0;
  }
  const char *input = a2 ? a2 : a1;
  const char *output = a2 ? a1 : "-";
  const char *texts[6] = {
      input,
      output,
      g_options.get_text(-1, "e.maxoct", false, "9"),
      g_options.get_text(-1, "e.fpermu", false, "1"),
      g_options.get_text(-1, "e.damp", false, "0.98"),
      g_options.get_text(-1, "e.alpha", false, "0.75"),
  };
  char storage[6][64];
  char *vector[7];
  vector[0] = const_cast<char *>("binary");
  for (int i = 0; i < 6; ++i) {
    if (strlen(texts[i]) >= 50) {
      printf("  parameter too big [%s]\n", texts[i]);
      return 0;
    }
    snprintf(storage[i], sizeof storage[i], "%s", texts[i]);
    vector[i + 1] = storage[i];
  }
  g_graphs.reread_display_options();
  if (plain) {
    view->mode = kModeTstring;
    tstring_main(7, vector, view);
  } else {
    view->mode = kModeTether;
    tether_main(7, vector, view);
  }
  return 0;
}
