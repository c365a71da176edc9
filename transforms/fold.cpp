// fold: each 512-frame block keeps its invariant octave and rebuilds the rest
// of its magnitude spectrum through a tree of fourths and fifths whose weights
// come from about one beat earlier; zero-phase resynthesis.
#include "transforms/fold.h"

#include <fftw3.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/wav.h"
#include "options/options.h"

int option_index = 0;
const char *option_argument = nullptr;

namespace {

// floor() into an int without overflow: far-out values only need to stay
// far out of every bin range.
int floor_int(double v) {
  if (!(v > -1e9)) return -1000000000;
  if (v > 1e9) return 1000000000;
  return static_cast<int>(std::floor(v));
}

int wrap(int v, int n) {
  int r = v % n;
  return r < 0 ? r + n : r;
}

bool in_spectrum(int b) { return b >= 0 && b < kFoldBins; }

}  // namespace

FoldGeometry fold_geometry(int sr, double beat, double bassline, double key) {
  FoldGeometry g;
  g.nbeat = floor_int(sr * beat / kFoldBlock);
  g.n2beat = 2 * g.nbeat < 1 ? 1 : 2 * g.nbeat;
  g.m = g.n2beat - g.nbeat;
  g.band_lo = floor_int(key * kFoldBlock / sr);
  g.band_hi = floor_int(2 * key * kFoldBlock / sr);
  if (g.band_hi > 255) g.band_hi = 255;
  g.bass_bin = floor_int(kFoldBlock * bassline / sr);
  return g;
}

void fold_node_bins(double bassline, double ratio, int sr, int bins[3]) {
  bins[0] = floor_int(bassline * ratio * 512.0 / sr);
  bins[1] = floor_int(bassline * ratio * (4.0 / 3.0) * 512.0 / sr);
  bins[2] = floor_int(bassline * ratio * (3.0 / 2.0) * 512.0 / sr);
}

void build_fold_tree(FoldNode *nodes, int index, int levels, double ratio) {
  nodes[index].ratio = ratio;
  nodes[index].w_fourth = 0;
  nodes[index].w_fifth = 0;
  if (levels > 1) {
    build_fold_tree(nodes, 2 * index + 1, levels - 1, ratio * (4.0 / 3.0));
    build_fold_tree(nodes, 2 * index + 2, levels - 1, ratio * (3.0 / 2.0));
  }
}

int next_option(int count, char **vector, const char *option_string) {
  while (option_index < count && vector[option_index][0] != '-') ++option_index;
  if (option_index >= count) {
    option_index = 0;
    return -1;
  }
  const char *element = vector[option_index++];
  char letter = element[1];
  const char *entry = letter ? strchr(option_string, letter) : nullptr;
  if (!entry || letter == ':') return '?';
  if (entry[1] == ':') {
    if (element[2]) {
      option_argument = element + 2;
    } else if (option_index < count) {
      option_argument = vector[option_index++];
    } else {
      return '?';  // the argument is missing
    }
  }
  return letter;
}

int fold_command(char *line) {
  char *pos = nullptr;
  strtok_r(line, " ", &pos);
  char *out = strtok_r(nullptr, " ", &pos);
  if (!out) {
    printf("fold output  .wav file  missing\n");
    return 0;
  }
  char *in = strtok_r(nullptr, " ", &pos);
  if (!in) {
    printf("fold input   .wav file  missing\n");
    return 0;
  }
  const char *texts[7] = {
      out,
      in,
      g_options.get_text(-1, "f.beat", true, "0.2"),
      g_options.get_text(-1, "f.bass", true, "110"),
      g_options.get_text(-1, "f.key", true, "440"),
      g_options.get_text(-1, "f.depth", true, "9"),
      g_options.get_text(-1, "f.scale", true, "0.5"),
  };
  static const char *const flags[7] = {"-o", "-i", "-B", "-b", "-k", "-d", "-s"};
  char storage[7][64];
  char *vector[8];
  vector[0] = const_cast<char *>("binary");
  for (int i = 0; i < 7; ++i) {
    if (strlen(texts[i]) >= 50) {
      printf("fold  parameter too big [%s]\n", texts[i]);
      return 0;
    }
    snprintf(storage[i], sizeof storage[i], "%s%s", flags[i], texts[i]);
    vector[i + 1] = storage[i];
  }
  fold_main(8, vector);
  return 0;
}

int fold_main(int count, char **vector) {
  const char *input = "test.wav";
  const char *output = "out.wav";
  double beat = 0.2, bassline = 110.0, key = 440.0, scale = 0.5;
  int depth = 9;
  option_index = 0;
  for (int c; (c = next_option(count, vector, "i:o:b:B:k:d:s:")) != -1;) {
    switch (c) {
      case 'i': input = option_argument; break;
      case 'o': output = option_argument; break;
      case 'B': beat = atof(option_argument); break;
      case 'b': bassline = atof(option_argument); break;
      case 'k': key = atof(option_argument); break;
      case 'd': depth = atoi(option_argument); break;
      case 's': scale = atof(option_argument); break;
      default:
        option_index = 0;
        printf("option unknown. aborting.\n");
        return 1;
    }
  }
  printf(
      "use: fold -i <music.wav> -o <out.wav> -B <beat(sec)> -b <bass(Hz)> -k <invariant(Hz)> -d "
      "<depth> -s <scale>\n\nconfiguration:\n in:%s | out:%s | beat:%g sec | bassline:%g Hz\n "
      "invariant_key: %g Hz | depth: %d | scale: %g\n",
      input, output, beat, bassline, key, depth, scale);
  // The output is created only once the input has shown a good header.
  bool refused = false;
  FILE *in = open_sound_input(input, &refused);
  if (!in) {
    if (!refused) printf("arguments not ok\n");
    return 0;
  }
  setvbuf(in, nullptr, _IOFBF, 1 << 16);
  fold_process(in, input, output, depth, bassline, key, beat, scale);
  fclose(in);
  return 0;
}

namespace {

// One fourth or fifth update of the synthesis: X[dst] mixes in X[src].
struct FoldMix {
  int src, dst, weight;
};

// Everything one run owns; freed on every way out.
struct FoldRun {
  double *block = nullptr, *spectrum = nullptr, *back_in = nullptr, *back_out = nullptr;
  fftw_plan forward = nullptr, backward = nullptr;
  FoldNode *nodes = nullptr;
  int (*node_bins)[3] = nullptr;
  double *half_weights = nullptr;  // half w_fourth, w_fifth of node j at 2j, 2j+1
  FoldMix *mixes = nullptr;
  double *ring = nullptr;
  ~FoldRun() {
    if (forward) fftw_destroy_plan(forward);
    if (backward) fftw_destroy_plan(backward);
    fftw_free(block);
    fftw_free(spectrum);
    fftw_free(back_in);
    fftw_free(back_out);
    free(nodes);
    free(node_bins);
    free(half_weights);
    free(mixes);
    free(ring);
  }
};

}  // namespace

void fold_process(FILE *input, const char *input_name, const char *output_name, int depth,
                  double bassline, double key, double beat, double scale) {
  if (depth < 1 || depth > kFoldMaxDepth) {
    printf("fold depth %d out of range (1..%d). aborting.\n", depth, kFoldMaxDepth);
    return;
  }
  if (!std::isfinite(beat) || !std::isfinite(bassline) || !std::isfinite(key) ||
      !std::isfinite(scale)) {
    printf("fold options must be finite numbers. aborting.\n");
    return;
  }
  FoldRun run;
  const size_t bytes = sizeof(double) * kFoldBlock;
  run.block = static_cast<double *>(fftw_malloc(bytes));
  run.spectrum = static_cast<double *>(fftw_malloc(bytes));
  run.back_in = static_cast<double *>(fftw_malloc(bytes));
  run.back_out = static_cast<double *>(fftw_malloc(bytes));
  const int node_count = (1 << depth) - 1;
  run.nodes = static_cast<FoldNode *>(calloc(node_count, sizeof(FoldNode)));
  run.node_bins = static_cast<int(*)[3]>(calloc(node_count, sizeof(int[3])));
  run.half_weights = static_cast<double *>(calloc(2 * static_cast<size_t>(node_count), sizeof(double)));
  run.mixes = static_cast<FoldMix *>(calloc(2 * static_cast<size_t>(node_count), sizeof(FoldMix)));
  if (!run.block || !run.spectrum || !run.back_in || !run.back_out || !run.nodes || !run.node_bins ||
      !run.half_weights || !run.mixes) {
    printf("fold: not enough memory. aborting.\n");
    return;
  }
  run.forward = fftw_plan_r2r_1d(kFoldBlock, run.block, run.spectrum, FFTW_R2HC, FFTW_ESTIMATE);
  run.backward = fftw_plan_r2r_1d(kFoldBlock, run.back_in, run.back_out, FFTW_HC2R, FFTW_ESTIMATE);
  build_fold_tree(run.nodes, 0, depth, 1.0);

  printf("---------- reading input .wav\n");
  WavPair wav;
  if (!wav.read_header(input, input_name)) return;
  const int sr = wav.sample_rate;
  if (sr <= 0) {
    printf("fold: sample rate %d is not usable. aborting.\n", sr);
    return;
  }
  // Below the bassline's limit the lag divisor 255 - bass_bin stays positive.
  const double bass_limit = 255.0 * sr / 512.0;
  if (bassline <= 0 || bassline >= bass_limit) {
    printf("fold bassline %g Hz must lie above 0 and below %g Hz. aborting.\n", bassline,
           bass_limit);
    return;
  }
  if (sr * beat / kFoldBlock >= kFoldMaxBeatBlocks) {
    printf("fold beat %g sec is too long (below %g sec). aborting.\n", beat,
           kFoldMaxBeatBlocks * 512.0 / sr);
    return;
  }
  if (!wav.finish_open(input_name, output_name, kFoldBlock, WavVariant::RequiredOutput)) return;

  const FoldGeometry g = fold_geometry(sr, beat, bassline, key);
  run.ring = static_cast<double *>(calloc(static_cast<size_t>(g.n2beat) * kFoldBins, sizeof(double)));
  if (!run.ring) {
    printf("fold: not enough memory for %d spectrum rows. aborting.\n", g.n2beat);
    return;
  }
  printf("+n2beat: %d     +ndepth: %d\n+invariant band [%d,%d]\n", g.n2beat, 1 << depth, g.band_lo,
         g.band_hi);

  // Bins that fall outside the 256-bin spectrum take no part: such a node (and
  // so all of its subtree, which lies higher still) is left out.
  for (int j = 0; j < node_count; ++j) fold_node_bins(bassline, run.nodes[j].ratio, sr, run.node_bins[j]);
  int lag[kFoldBins];
  for (int b = 0; b < kFoldBins; ++b)
    lag[b] = floor_int(static_cast<double>(b - g.bass_bin) * g.nbeat / (255 - g.bass_bin));
  auto in_band = [&](int b) { return b >= g.band_lo && b < g.band_hi; };
  int mix_count = 0;
  bool band_reached[kFoldBins] = {};
  for (int j = 0; j < node_count; ++j) {
    const int *nb = run.node_bins[j];
    if (!in_spectrum(nb[0]) || !in_spectrum(nb[2])) continue;
    for (int q = 0; q < 3; ++q) band_reached[nb[q]] |= in_band(nb[q]);
    if (!in_band(nb[1])) run.mixes[mix_count++] = {nb[0], nb[1], 2 * j};
    if (!in_band(nb[2])) run.mixes[mix_count++] = {nb[0], nb[2], 2 * j + 1};
  }

  double folded[kFoldBins];
  double rebuilt[kFoldBins];
  double processed = 0;
  int c = 0;
  int got = wav.read_block(run.block, kFoldBlock);
  while (got == kFoldBlock) {
    fftw_execute(run.forward);
    const int s = c % g.n2beat;
    double *row = run.ring + static_cast<size_t>(s) * kFoldBins;
    row[0] = 0;
    for (int k = 1; k < kFoldBins; ++k) {
      double re = run.spectrum[k], im = run.spectrum[kFoldBlock - k];
      row[k] = std::sqrt(re * re + im * im);
    }
    // Folded values: two rows placed symmetrically around one beat back.
    for (int b = 0; b < kFoldBins; ++b) {
      int ra = wrap(c + g.m - lag[b] + 1, g.n2beat);
      int rb = wrap(c + g.m + lag[b], g.n2beat);
      folded[b] = 0.5 * (run.ring[static_cast<size_t>(ra) * kFoldBins + b] +
                         run.ring[static_cast<size_t>(rb) * kFoldBins + b]);
    }
    for (int j = 0; j < node_count; ++j) {
      const int *nb = run.node_bins[j];
      if (!in_spectrum(nb[0]) || !in_spectrum(nb[2])) continue;
      double v0 = folded[nb[0]], v1 = folded[nb[1]], v2 = folded[nb[2]];
      if (v0 < 0.0001 || v1 < 0.0001 || v2 < 0.0001) continue;
      run.nodes[j].w_fourth = v1 / v0;
      run.nodes[j].w_fifth = v2 / v0;
      run.half_weights[2 * j] = 0.5 * run.nodes[j].w_fourth;
      run.half_weights[2 * j + 1] = 0.5 * run.nodes[j].w_fifth;
    }
    // Band bins only ever take the block's own magnitudes, and a node copies
    // its band bins before it reads them; so the band bins some node reaches
    // start with their magnitudes and the sweeps reduce to the fourth/fifth
    // updates, in node order.
    for (int b = 0; b < kFoldBins; ++b) rebuilt[b] = band_reached[b] ? row[b] : 0.0;
    for (int sweep = 0; sweep < 5; ++sweep)
      for (int i = 0; i < mix_count; ++i) {
        const FoldMix &op = run.mixes[i];
        // Same value as 0.5 * (X[src] * w + X[dst]): halving is exact, and
        // the two products can run side by side.
        rebuilt[op.dst] = rebuilt[op.src] * run.half_weights[op.weight] + 0.5 * rebuilt[op.dst];
      }
    run.back_in[0] = rebuilt[0];
    for (int k = 1; k <= 256; ++k) run.back_in[k] = 0;
    for (int k = 1; k < kFoldBins; ++k) run.back_in[kFoldBlock - k] = scale * rebuilt[k];
    fftw_execute(run.backward);
    for (int t = 0; t < kFoldBlock; ++t) run.back_out[t] *= 0.00390625;
    if (!wav.write_checked(run.back_out, kFoldBlock, c)) return;
    putchar('.');
    if (c % 64 == 0) fflush(stdout);  // progress stays visible without a write per block
    processed += 512.0 / sr;
    ++c;
    got = wav.read_block(run.block, kFoldBlock);
  }
  if (got > 0 && !wav.write_checked(run.block, got, c)) return;
  if (!wav.close_output(c)) return;
  printf("[.]");
  printf("\n\n---------- processed %g sec\n", processed);
}
