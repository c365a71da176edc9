// unfold: the music passes through an ether whose alpha grows sample by
// sample, so its weight moves from the coarsest level to finer ones. Every
// 512-sample block of the output is judged by a tree of fourths and fifths
// over the bassline (the IVIV decoder), optionally repaired in its spectrum,
// and resynthesised with zero phase.
#include "media/unfold.h"

#include <fftw3.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "audio/wav.h"
#include "display/graphs.h"
#include "media/ether.h"
#include "media/live.h"
#include "options/options.h"
#include "options/side_file.h"

int unfold_option_index = 0;
const char *unfold_option_argument = nullptr;

namespace {

constexpr int kBlock = 512;
constexpr int kBins = 256;

// floor() into an int; values far outside any bin range stay far outside it.
int floor_int(double v) {
  if (!(v > -1e9)) return -1000000000;
  if (v > 1e9) return 1000000000;
  return static_cast<int>(std::floor(v));
}

bool valid_bin(int b) { return b >= 0 && b < kBins; }

}  // namespace

IvivDecoder::IvivDecoder(int d, double scale) {
  depth = d < 0 ? 0 : (d > kUnfoldMaxDepth ? kUnfoldMaxDepth : d);
  slot_count = 1 << depth;
  bin_scale = scale;
  nodes = static_cast<DecoderNode *>(calloc(slot_count, sizeof(DecoderNode)));
  if (!nodes) {
    slot_count = 0;
    return;
  }
  const int n = node_count();
  if (n > 0) nodes[0].ratio = 1.0;
  for (int i = 0; i < n; ++i) {
    if (2 * i + 1 < n) nodes[2 * i + 1].ratio = nodes[i].ratio * (4.0 / 3.0);
    if (2 * i + 2 < n) nodes[2 * i + 2].ratio = nodes[i].ratio * (3.0 / 2.0);
  }
}

IvivDecoder::~IvivDecoder() { free(nodes); }

int IvivDecoder::bin(double f) const { return floor_int(f * bin_scale); }

void IvivDecoder::measure(double t, double *b, double bass) {
  b[0] = 0;
  for (int k = 1; k < kBins; ++k) {
    b[k] = std::sqrt(b[k] * b[k] + b[kBlock - k] * b[kBlock - k]);
    b[kBlock - k] = 0;
  }
  for (int i = 0; i < node_count(); ++i) {
    DecoderNode &node = nodes[i];
    const double f = bass * node.ratio;
    const int r = bin(f), r4 = bin(f * 4.0 / 3.0), r5 = bin(f * 3.0 / 2.0);
    if (!valid_bin(r) || !(b[r] >= 0.0001)) continue;
    if (valid_bin(r4) && b[r4] > 0.0001) node.w_fourth = b[r4] / b[r];
    if (valid_bin(r5) && b[r5] > 0.0001) node.w_fifth = b[r5] / b[r];
  }
}

double IvivDecoder::quality(const double *b, double key) {
  const double s = key * bin_scale;
  const int r0 = floor_int(s), r4 = floor_int(s * 4.0 / 3.0), r5 = floor_int(s * 3.0 / 2.0);
  if (!valid_bin(r0) || !valid_bin(r4) || !valid_bin(r5)) return 0;
  angle_low = std::atan2(b[r5] - b[r0], b[r4] - b[r0]);
  const int o0 = floor_int(2 * s), o4 = floor_int(s * 8.0 / 3.0), o5 = floor_int(3 * s);
  if (!valid_bin(o0) || !valid_bin(o4) || !valid_bin(o5)) return 0;
  angle_high = std::atan2(b[o5] - b[o0], b[o4] - b[o0]);
  const double d = angle_high - angle_low;
  q = std::exp(-d * d);
  return q;
}

namespace {

// The fourth and fifth above the note with ratio `ratio` move halfway towards
// the note's magnitude times the given weights.
void spread_node(const IvivDecoder &dec, double *b, double bass, double ratio, double w4, double w5) {
  const double f = bass * ratio;
  const int r = dec.bin(f), r4 = dec.bin(f * 4.0 / 3.0), r5 = dec.bin(f * 3.0 / 2.0);
  if (!valid_bin(r)) return;
  if (valid_bin(r4)) b[r4] = (b[r] * w4 + b[r4]) * 0.5;
  if (valid_bin(r5)) b[r5] = (b[r] * w5 + b[r5]) * 0.5;
}

}  // namespace

void IvivDecoder::repair(double *b, double bass) {
  const int n = node_count();
  for (int step = 0; step < 3 * n; ++step) {
    const DecoderNode &node = nodes[step % n];
    spread_node(*this, b, bass, node.ratio, node.w_fourth, node.w_fifth);
  }
}

void IvivDecoder::spread_octaves(double *b, double bass) {
  if (node_count() < 1) return;
  // Nodes 4, 20, 84, ...: a fourth then a fifth is an octave.
  for (long i = 4; i < node_count(); i = 4 * i + 4)
    spread_node(*this, b, bass, nodes[i].ratio, nodes[0].w_fourth, nodes[0].w_fifth);
}

int unfold_next_option(int count, char **vector, const char *option_string) {
  if (unfold_option_index >= count) {
    unfold_option_index = 0;
    return -1;
  }
  while (unfold_option_index < count && vector[unfold_option_index][0] != '-') ++unfold_option_index;
  if (unfold_option_index >= count) {
    unfold_option_index = count;
    return 0;
  }
  const char *element = vector[unfold_option_index++];
  const char letter = element[1];
  const char *entry = letter ? strchr(option_string, letter) : nullptr;
  if (!entry || letter == ':') return '?';
  if (entry[1] == ':') {
    if (element[2]) {
      unfold_option_argument = element + 2;
    } else if (unfold_option_index < count) {
      unfold_option_argument = vector[unfold_option_index++];
    } else {
      return '?';  // the argument is missing
    }
  }
  return letter;
}

int unfold(char *line) {
  TransformState *view = &g_graphs.live;
  char *pos = nullptr;
  strtok_r(line, " ", &pos);
  char *a1 = strtok_r(nullptr, " ", &pos);
  if (!a1) {
    printf(" output  .wav file  missing\n");
    return 0;
  }
  char *a2 = strtok_r(nullptr, " ", &pos);
  const char *input = a1, *output = "-";
  if (!a2)
    printf(" no output, only transform buffer.\n");
  else
    output = a1, input = a2;
  for (const char *t : {input, output})
    if (strlen(t) >= 50) {
      printf("  parameter too big [%s]\n", t);
      return 0;
    }
  static const char *const keys[7] = {"u.alpha", "u.fpermu", "u.damp", "u.maxoct",
                                      "u.fbass", "u.depth",  "u.rescale"};
  static const char *const defaults[7] = {".00005", "1.0", "0.99", "9", "25", "9", "0.4"};
  static const char *const flags[7] = {"-a", "-f", "-p", "-m", "-b", "-d", "-s"};
  char storage[9][64];
  char *vector[12];
  int n = 0;
  vector[n++] = const_cast<char *>("binary");
  snprintf(storage[0], sizeof storage[0], "-o%s", output);
  snprintf(storage[1], sizeof storage[1], "-i%s", input);
  vector[n++] = storage[0];
  vector[n++] = storage[1];
  for (int i = 0; i < 7; ++i) {
    const char *text = g_options.get_text(-1, keys[i], false, defaults[i]);
    if (strlen(text) >= 50) {
      printf("  parameter too big [%s]\n", text);
      return 0;
    }
    snprintf(storage[i + 2], sizeof storage[i + 2], "%s%s", flags[i], text);
    vector[n++] = storage[i + 2];
  }
  if (g_options.get_int(-1, "u.debug", false, 0)) vector[n++] = const_cast<char *>("-D");
  if (g_options.get_int(-1, "u.repair", false, 0)) vector[n++] = const_cast<char *>("-R");

  // A live transform goes on: only mute and the next medium command stop it.
  g_graphs.read_display_options();
  {
    GuiLock lock;
    view->mode = kModeUnfold;
  }
  unfold_main(n, vector, view);
  return 0;
}

int unfold_main(int count, char **vector, TransformState *shared) {
  TransformState spare{};
  TransformState *view = offline_view(shared, spare);
  UnfoldParams p;
  const char *input = "test.wav";
  const char *output = "out.wav";
  printf(
      "use: unfold -i <music.wav> -o <out.wav> -D(ebug) -R(epair)\n            -a <alpha> -f <fpermu> -p "
      "<damp> -m maxoct\n            -b <bass(Hz)> -d <depth> -s <scale>\nignored options take their "
      "defaults.\n\n");
  unfold_option_index = 0;
  for (int c; (c = unfold_next_option(count, vector, "i:o:a:f:p:m:b:k:d:s:DR")) != -1;) {
    switch (c) {
      case 0: break;
      case 'i': input = unfold_option_argument; break;
      case 'o': output = unfold_option_argument; break;
      case 'a': p.alpha = atof(unfold_option_argument); break;
      case 'f': p.fpermu = atof(unfold_option_argument); break;
      case 'p': p.damp = atof(unfold_option_argument); break;
      case 'm': p.max_octave = atoi(unfold_option_argument); break;
      case 'b': p.bass = atof(unfold_option_argument); break;
      case 'k': break;
      case 'd': p.depth = atoi(unfold_option_argument); break;
      case 's': p.scale = atof(unfold_option_argument); break;
      case 'D': p.debug = 1; break;
      case 'R': p.repair = 1; break;
      default:
        unfold_option_index = 0;
        printf("option unknown. aborting.\n");
        return 1;
    }
  }
  printf(
      "current %s profile for %s:\n* in:%s | out:%s | bassline:%g Hz\n* codebook_depth: %d | scale: %g\n* "
      "alpha %g  | fpermu %g | damp %g | maxoct %d\n\n ",
      p.debug ? "debug" : "processing", p.repair ? "repair" : "simulation", input, output, p.bass, p.depth,
      p.scale, p.alpha, p.fpermu, p.damp, p.max_octave);
  // Every file this run writes is checked against its input before any of
  // them is made: creating a log would otherwise empty an input of that name.
  const char *out_path = output[0] == '-' ? nullptr : output;
  const char *reads[1] = {input};
  const char *logs[2] = {"log.txt", p.debug ? "iviv.txt" : nullptr};
  for (const char *log_name : logs)
    if (log_name && !written_file_is_safe("log", log_name, reads, 1)) return 1;
  if (out_path && (!written_file_is_safe("output", out_path, reads, 1) ||
                   !written_file_is_safe("output", out_path, logs, 2, "a log")))
    return 1;
  // The output is created by the WAV pair once the input has a good header.
  bool refused = false;
  FILE *in = open_sound_input(input, &refused);
  // Nothing is logged here yet; the file is kept for the record of a run.
  FILE *log = nullptr;
  const SideFile log_how = open_file("log.txt", "w", &log);
  if (log_how == SideFile::NotRegular) report_not_regular("log.txt");
  if (log_how == SideFile::NotRegular || (log && !close_written_file(log, "log.txt"))) {
    if (in) fclose(in);
    return 1;
  }
  if (!in) {
    if (!refused) printf("file arguments not ok\n");
    return 1;
  }
  unfold_process(in, input, output[0] == '-' ? nullptr : output, p, view);
  fclose(in);
  return 0;
}

namespace {

// The ether is registered in the view, which the GUI thread draws: it is
// made and destroyed under GuiMutex.
struct LockedEther {
  Ether *ether;
  LockedEther(int max_octave, TransformState *view) {
    GuiLock lock;
    ether = new Ether(max_octave, view);
  }
  ~LockedEther() {
    GuiLock lock;
    delete ether;
  }
  LockedEther(const LockedEther &) = delete;
  LockedEther &operator=(const LockedEther &) = delete;
};

struct UnfoldBuffers {
  double *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr;
  fftw_plan forward = nullptr, backward = nullptr;
  ~UnfoldBuffers() {
    if (forward) fftw_destroy_plan(forward);
    if (backward) fftw_destroy_plan(backward);
    fftw_free(a);
    fftw_free(b);
    fftw_free(c);
    fftw_free(d);
  }
};

}  // namespace

void unfold_process(FILE *input, const char *input_name, const char *output_name, const UnfoldParams &p,
                    TransformState *view) {
  if (p.depth < 0 || p.depth > kUnfoldMaxDepth) {
    printf("*** warning: depth %d out of range 0..%d, nothing done\n", p.depth, kUnfoldMaxDepth);
    return;
  }
  if (!ether_size_ok(p.max_octave)) return;

  printf("---------- preparing DSP... \n");
  UnfoldBuffers buf;
  const size_t bytes = sizeof(double) * kBlock;
  buf.a = static_cast<double *>(fftw_malloc(bytes));
  buf.b = static_cast<double *>(fftw_malloc(bytes));
  buf.c = static_cast<double *>(fftw_malloc(bytes));
  buf.d = static_cast<double *>(fftw_malloc(bytes));
  if (!buf.a || !buf.b || !buf.c || !buf.d) {
    printf("unfold: not enough memory. aborting.\n");
    return;
  }
  // Out of place with FFTW_ESTIMATE: the forward input stays intact for the
  // repair pass.
  buf.forward = fftw_plan_r2r_1d(kBlock, buf.a, buf.b, FFTW_R2HC, FFTW_ESTIMATE);
  buf.backward = fftw_plan_r2r_1d(kBlock, buf.c, buf.d, FFTW_HC2R, FFTW_ESTIMATE);
  printf("* prepared fwd/rev FFT plan w/ size %d\n", kBlock);
  double *A = buf.a, *B = buf.b, *C = buf.c, *D = buf.d;

  printf("---------- preparing medium ether\n");
  LockedEther owner(p.max_octave, view);
  Ether &ether = *owner.ether;
  {
    GuiLock lock;
    ether.alpha = 0.0;
    ether.fpermu = p.fpermu;
    ether.damp = p.damp;
    ether.compute_weights();
  }
  ether.report();

  printf("---------- reading input .wav\n");
  WavPair wav;
  if (!wav.read_header(input, input_name)) return;
  const int sr = wav.sample_rate;
  if (sr <= 0) {
    printf("unfold: sample rate %d is not usable. aborting.\n", sr);
    return;
  }
  if (!wav.finish_open(input_name, output_name, kBlock, WavVariant::OptionalOutput)) return;

  printf("---------- preparing IVIV decoder\n");
  IvivDecoder decoder(p.depth, static_cast<double>(kBlock) / sr);
  if (!decoder.nodes) {
    printf("unfold: not enough memory for the decoder. aborting.\n");
    return;
  }

  FILE *iviv = nullptr;
  if (p.debug) {
    errno = 0;
    if (open_file("iviv.txt", "w", &iviv) == SideFile::NotRegular) {
      report_not_regular("iviv.txt");
      return;
    }
    if (!iviv) {
      report_write_failure("iviv.txt", errno);
      return;
    }
  }
  const double g = p.alpha;
  double t = 0;
  long n = 0;
  int blocks = 0;
  double q_sum = 0;
  int last_dist = -1;
  int got;
  while ((got = wav.read_block(A, kBlock)) == kBlock) {
    const long kept_n = n;
    {
      GuiLock lock;
      if (p.repair) ether.snapshot();
      for (int j = 0; j < kBlock; ++j) {
        ether.set_alpha(ether.alpha + g * std::exp(-g * static_cast<double>(n)));
        A[j] = ether.step(A[j]);
        ++n;
      }
    }
    fftw_execute(buf.forward);
    decoder.measure(t, B, p.bass);
    const int dist = ether.peak;
    const double key = dist * p.bass;
    double q = decoder.quality(B, key);
    // A medium that has run away (inf or NaN) has no measurable key.
    if (!(q == q)) q = 0;
    if (iviv && fprintf(iviv, "key %g qlow %g qhigh %g q %g\n", key, decoder.angle_low, decoder.angle_high,
                        decoder.q) < 0) {
      const int err = errno;
      fclose(iviv);
      report_write_failure("iviv.txt", err);
      return;
    }
    if (p.repair) {
      if (dist < 256) decoder.spread_octaves(B, p.bass);
      decoder.repair(B, p.bass);
    }
    C[0] = B[0];
    for (int i = 1; i <= kBins; ++i) C[i] = 0;
    for (int i = 1; i < kBins; ++i) C[kBlock - i] = p.scale * B[i];
    fftw_execute(buf.backward);
    for (int j = 0; j < kBlock; ++j) D[j] /= 256;
    if (!wav.write_checked(D, kBlock, p.debug ? 0 : blocks)) {
      if (iviv) fclose(iviv);
      return;
    }
    if (p.repair) {
      // Leave the ether in the state that the repaired output implies.
      n = kept_n;
      GuiLock lock;
      ether.restore();
      for (int j = 0; j < kBlock; ++j) {
        ether.set_alpha(ether.alpha + g * std::exp(-g * static_cast<double>(n)));
        ether.step(A[j]);
        ether.u[1] = D[j];
        ++n;
      }
    }
    if (p.debug) {
      printf("%5.2f sec: stability @%6.1fHz(dist:%3d): %3.2f%%\n", t, key, ether.peak, 100 * q);
      if (blocks > 0 && blocks % 25 == 0) ether.report();
    } else {
      if (ether.peak != last_dist) {
        printf("#%d#", ether.peak);
        last_dist = ether.peak;
      }
      int digit = floor_int(10 * q);
      if (digit < 0) digit = 0;  // also a q that is not a number
      if (digit > 9) digit = 9;
      printf("%c", q >= 1.0 ? '*' : static_cast<char>('0' + digit));
    }
    fflush(stdout);
    t += static_cast<double>(kBlock) / sr;
    q_sum += q;
    ++blocks;
  }
  const bool ok = (got <= 0 || wav.write_checked(A, got, p.debug ? 0 : blocks)) &&
                  wav.close_output(p.debug ? 0 : blocks);
  if (iviv && !ok) fclose(iviv);
  if (!ok || (iviv && !close_written_file(iviv, "iviv.txt"))) return;
  printf("[.]");
  if (blocks > 0) {
    // 1/(1 - avg.q) has no finite value when every block was fully stable
    // (a silent input gives q = 1 throughout): 0 stands for that, a value the
    // formula itself never gives.
    const double avg_q = q_sum / blocks;
    const double avg_distance = avg_q < 1 ? 1 / (1 - avg_q) : 0;
    printf("\n\n---------- processed %g sec(#%d) avg.distance %g avg.q %5.2f%%\n", t, blocks, avg_distance,
           100 * avg_q);
  } else {
    printf("\n\n---------- processed 0 sec(#0): no full block, no averages\n");
  }
}
