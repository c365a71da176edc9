// tstring / tether: the command handler and the offline drivers.
#include "media/tstring.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/wav.h"
#include "display/graphs.h"
#include "media/ether.h"
#include "media/live.h"
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

int tether_main(int count, char **vector, TransformState *shared) {
  TransformState spare{};
  TransformState *view = offline_view(shared, spare);
  const MediumArgs a = parse_args(count, vector);
  bool refused = false;
  FILE *in = open_sound_input(a.input, &refused);
  if (!in) {
    if (!refused) printf("file arguments not ok\n");
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

int tstring_main(int count, char **vector, TransformState *shared) {
  TransformState spare{};
  TransformState *view = offline_view(shared, spare);
  const MediumArgs a = parse_args(count, vector);
  bool refused = false;
  FILE *in = open_sound_input(a.input, &refused);
  if (!in) {
    if (!refused) printf("file arguments not ok\n");
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
  stop_live_for_command();
  char *pos = nullptr;
  char *word = strtok_r(line, " ", &pos);
  char *a1 = strtok_r(nullptr, " ", &pos);
  char *a2 = a1 ? strtok_r(nullptr, " ", &pos) : nullptr;
  const bool plain = word && strcmp(word, "tstring") == 0;
  if (!a1) printf(" output  .wav file  missing\n");
  if (!a2) printf(" no output, only transform buffer.\n");
  if (!a1) {
    const double scale = g_options.get_double(-1, "e.scale", false, 1.0);
    const double alpha = g_options.get_double(-1, "e.alpha", false, 0.75);
    const double damp = g_options.get_double(-1, "e.damp", false, 0.98);
    const double fpermu = g_options.get_double(-1, "e.fpermu", false, 1.0);
    const int max_octave = g_options.get_int(-1, "e.maxoct", false, 9);
    {
      GuiLock lock;
      view->scale = scale;
      view->alpha = alpha;
      view->damp = damp;
      view->fpermu = fpermu;
      view->max_octave = max_octave;
    }
    if (plain)
      start_live(kModeTstring, live_string);
    else
      start_live(kModeTether, live_ether);
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
  g_graphs.read_display_options();
  {
    GuiLock lock;
    view->mode = plain ? kModeTstring : kModeTether;
  }
  if (plain)
    tstring_main(7, vector, view);
  else
    tether_main(7, vector, view);
  return 0;
}
