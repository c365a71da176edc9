// reconstruct: each 512-frame window keeps only its pass band of magnitudes;
// the bins outside it are revived from codebook pairs (f, g) and their
// magnitude ratio, then the window is resynthesised as sine components.
#include "transforms/reconstruct.h"

#include <fftw3.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "audio/wav.h"
#include "options/options.h"
#include "options/side_file.h"

ReconstructParams g_reconstruct_params = kReconstructDefaults;

namespace {

constexpr const char *kParamFile = "reconstruct.param";

int floor_int(double v) {
  if (!(v > -1e9)) return -1000000000;
  if (v > 1e9) return 1000000000;
  return static_cast<int>(std::floor(v));
}

// Codebook and parameter lines are read as every side file's are.
bool read_text_line(FILE *f, char *buf, int size) { return read_side_line(f, buf, size); }

bool parse_real(const char *token, double *out) {
  char *end = nullptr;
  errno = 0;
  double v = strtod(token, &end);
  if (end == token || *end || errno == ERANGE || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool parse_bin(const char *token, int *out) {
  char *end = nullptr;
  errno = 0;
  long v = strtol(token, &end, 10);
  if (end == token || *end || errno == ERANGE) return false;
  if (v < 0 || v >= kReconstructBlock) return false;
  *out = static_cast<int>(v);
  return true;
}

// Everything one run owns; freed on every way out.
struct ReconstructRun {
  FILE *input = nullptr, *codebook = nullptr;
  double *fwd_in = nullptr, *fwd_out = nullptr, *inv_in = nullptr, *inv_out = nullptr;
  fftw_plan forward = nullptr, inverse = nullptr;
  CodebookEntry *table = nullptr;
  ~ReconstructRun() {
    if (forward) fftw_destroy_plan(forward);
    if (inverse) fftw_destroy_plan(inverse);
    fftw_free(fwd_in);
    fftw_free(fwd_out);
    fftw_free(inv_in);
    fftw_free(inv_out);
    free(table);
    if (input) fclose(input);
    if (codebook) fclose(codebook);
  }
};

}  // namespace

bool CodebookReader::read_line() {
  if (!file || !read_text_line(file, line, sizeof line)) return false;
  line[strcspn(line, "\r\n")] = 0;
  line_time = atof(line);
  return true;
}

bool parse_codebook_line(const char *text, CodebookEntry *entry) {
  char copy[kCodebookLineChars];
  snprintf(copy, sizeof copy, "%s", text);
  char *pos = nullptr;
  char *field[5];
  for (int i = 0; i < 5; ++i) {
    field[i] = strtok_r(i == 0 ? copy : nullptr, " \t\r\n", &pos);
    if (!field[i]) return false;
  }
  CodebookEntry e;
  if (!parse_real(field[0], &e.time) || !parse_bin(field[1], &e.bin) ||
      !parse_bin(field[2], &e.partner_bin) || !parse_real(field[3], &e.magnitude) ||
      !parse_real(field[4], &e.partner_magnitude))
    return false;
  *entry = e;
  return true;
}

int take_codebook_lines(CodebookReader &r, CodebookEntry *table, int window) {
  if (r.exhausted) return 0;
  if (!r.started) {
    r.started = true;
    if (!r.read_line()) {
      r.exhausted = true;
      return 0;
    }
    r.t0 = r.line_time;
  }
  const double limit = window * static_cast<double>(kReconstructBlock) / r.sample_rate + r.t0;
  int n = 0;
  double cur = r.line_time;
  while (cur < limit) {
    CodebookEntry e;
    // Magnitudes must be positive as well: the revival divides by them.
    if (!parse_codebook_line(r.line, &e) || e.magnitude < r.threshold ||
        e.partner_magnitude < r.threshold || !(e.magnitude > 0) || !(e.partner_magnitude > 0)) {
      ++r.errors;
      printf("E");
    } else {
      for (int i = 0; i < kCodebookEntries; ++i) {
        CodebookEntry &t = table[i];
        if (t.empty()) {
          t = e;
          ++r.entries;
          ++r.accepted;
          break;
        }
        if (t.bin == e.bin && t.partner_bin == e.partner_bin) {
          ++r.entries;
          double change = (t.magnitude / t.partner_magnitude) * (e.partner_magnitude / e.magnitude) - 1.0;
          if (std::fabs(change) > r.tolerance) {
            t = e;
            ++r.accepted;
          }
          break;
        }
      }
    }
    ++n;
    cur = r.line_time;
    if (!r.read_line()) {
      r.exhausted = true;
      break;
    }
  }
  if (n > 0) printf("[%d]", n);
  return r.exhausted ? 0 : 1;
}

double magnitude_sum(const double *a, int n) {
  double s = std::fabs(a[0]);
  for (int k = 1; k < n / 2; ++k) s += std::sqrt(a[k] * a[k] + a[n - k] * a[n - k]);
  return s;
}

void revive_spectrum(const CodebookEntry *table, double *v, int lo, int hi, double target,
                     int iterations) {
  for (int pass = 0; pass < iterations; ++pass) {
    for (int i = 0; i < kCodebookEntries && !table[i].empty(); ++i) {
      const CodebookEntry &e = table[i];
      const int f = e.bin, g = e.partner_bin;
      const double q = e.magnitude / e.partner_magnitude;
      if (f < lo || f > hi) v[f] = (q * v[g] + v[f]) * 0.5;
      if (g < lo || g > hi) v[g] = (v[f] / q + v[g]) * 0.5;
    }
    if (target > 0) {
      double s = magnitude_sum(v, kReconstructBlock);
      // A window with nothing left in it stays silent.
      if (s > 0) {
        double factor = target / s;
        for (int k = 1; k < kReconstructBlock; ++k) v[k] *= factor;
      }
    }
  }
}

bool reconstruct_band_ok(const ReconstructParams &p, int) {
  // Any finite band has a meaning: one past the top is cut to it, and an
  // empty one keeps (next to) nothing.
  const double lo = p.band_lo_freq, hi = p.band_hi_freq;
  if (std::isfinite(lo) && std::isfinite(hi)) return true;
  printf("reconstruct band %g..%g Hz is not usable: it needs finite edges. aborting.\n", lo, hi);
  return false;
}

void reconstruct_band(const ReconstructParams &p, int sample_rate, int *lo, int *hi) {
  *lo = floor_int(512.0 * p.band_lo_freq / sample_rate);
  *hi = floor_int(512.0 * p.band_hi_freq / sample_rate);
  if (*lo < 0) *lo = 0;
  if (*hi > 256) *hi = 256;
}

int read_reconstruct_params(const char *path) {
  FILE *f = nullptr;
  const SideFile opened = open_side_file(path, "r", kParamFileMax, "parameter file", &f);
  if (opened == SideFile::Missing) return 0;
  if (opened != SideFile::Open) return -1;
  char buf[100];
  ReconstructParams &p = g_reconstruct_params;
  while (read_text_line(f, buf, sizeof buf)) {
    if (buf[0] == '#' || buf[0] == '\r' || buf[0] == '\n' || buf[0] == 0) continue;
    char *pos = nullptr;
    char *key = strtok_r(buf, " \t\r\n", &pos);
    char *value = strtok_r(nullptr, " \t\r\n", &pos);
    if (!key || !value) continue;
    if (strcmp(key, "mode") == 0)
      p.mode = value[0];
    else if (strcmp(key, "band_lo_freq") == 0)
      p.band_lo_freq = atof(value);
    else if (strcmp(key, "band_hi_freq") == 0)
      p.band_hi_freq = atof(value);
    else if (strcmp(key, "rescale") == 0)
      p.rescale = atof(value);
    else if (strcmp(key, "tolerance") == 0)
      p.tolerance = atof(value);
    else if (strcmp(key, "threshold") == 0)
      p.threshold = atof(value);
    else if (strcmp(key, "iterations") == 0)
      p.iterations = atoi(value);
  }
  fclose(f);
  return 1;
}

int reconstruct_file(const char *output, const char *input, const char *codebook) {
  if (read_reconstruct_params(kParamFile) == 0)
    fprintf(stderr, "'%s' does not exist. continuing with defaults...\n", kParamFile);
  ReconstructParams p = g_reconstruct_params;
  if (p.iterations > kReconstructMaxIterations) {
    printf("*** warning: iterations %d capped at %d\n", p.iterations, kReconstructMaxIterations);
    p.iterations = kReconstructMaxIterations;
  }

  ReconstructRun run;
  bool refused = false;
  run.input = open_sound_input(input, &refused);
  if (refused) return 1;
  if (run.input) open_side_file(codebook, "r", kCodebookFileMax, "codebook", &run.codebook);
  if (!run.input || !run.codebook) {
    fprintf(stderr, "Cannot open file\n");
    return 1;
  }
  const size_t bytes = sizeof(double) * kReconstructBlock;
  run.fwd_in = static_cast<double *>(fftw_malloc(bytes));
  run.fwd_out = static_cast<double *>(fftw_malloc(bytes));
  run.inv_in = static_cast<double *>(fftw_malloc(bytes));
  run.inv_out = static_cast<double *>(fftw_malloc(bytes));
  run.table = static_cast<CodebookEntry *>(calloc(kCodebookEntries, sizeof(CodebookEntry)));
  if (!run.fwd_in || !run.fwd_out || !run.inv_in || !run.inv_out || !run.table) {
    printf("reconstruct: not enough memory. aborting.\n");
    return 1;
  }
  memset(run.fwd_in, 0, bytes);
  memset(run.fwd_out, 0, bytes);
  memset(run.inv_in, 0, bytes);
  // Estimated plans: measuring would overwrite the buffers and cost seconds.
  run.forward = fftw_plan_r2r_1d(kReconstructBlock, run.fwd_in, run.fwd_out, FFTW_R2HC, FFTW_ESTIMATE);
  run.inverse = fftw_plan_r2r_1d(kReconstructBlock, run.inv_in, run.inv_out, FFTW_HC2R,
                                 FFTW_ESTIMATE | FFTW_DESTROY_INPUT);

  printf("---------- reading input .wav\n");
  WavPair wav;
  if (!wav.read_header(run.input, input)) return 0;
  const int sr = wav.sample_rate;
  if (sr <= 0) {
    printf("reconstruct: sample rate %d is not usable. aborting.\n", sr);
    return 0;
  }
  if (!reconstruct_band_ok(p, sr)) return 0;
  if (!wav.finish_open(input, output, kReconstructBlock, WavVariant::Codebook, codebook)) {
    fprintf(stderr, "Cannot open file\n");
    return 1;
  }
  int lo, hi;
  reconstruct_band(p, sr, &lo, &hi);

  CodebookReader reader;
  reader.file = run.codebook;
  reader.sample_rate = sr;
  reader.tolerance = p.tolerance;
  reader.threshold = p.threshold;

  double *out = run.fwd_out;
  int w = 0;
  int more = 1;
  int got = wav.read_block(run.fwd_in, kReconstructBlock);
  while (got == kReconstructBlock) {
    fftw_execute(run.forward);
    const double e = magnitude_sum(out, kReconstructBlock);
    for (int k = 1; k < 256; ++k) {
      out[k] = std::sqrt(out[k] * out[k] + out[512 - k] * out[512 - k]);
      out[512 - k] = 0;
    }
    out[0] = 0;
    for (int k = 1; k < 256; ++k)
      if (k < lo || k > hi) out[k] = 0;
    if (more) more = take_codebook_lines(reader, run.table, w);
    if (p.mode != 'b') revive_spectrum(run.table, out, lo, hi, p.rescale * e, p.iterations);
    run.inv_in[0] = out[0];
    for (int k = 1; k < 256; ++k) {
      run.inv_in[k] = 0;
      run.inv_in[512 - k] = out[k];
    }
    run.inv_in[256] = 0;
    fftw_execute(run.inverse);
    for (int t = 0; t < kReconstructBlock; ++t) run.inv_out[t] *= 0.00390625;
    if (!wav.write_checked(run.inv_out, kReconstructBlock, w)) return 0;
    printf(".");
    fflush(stdout);
    ++w;
    got = wav.read_block(run.fwd_in, kReconstructBlock);
  }
  if (got > 0 && !wav.write_checked(run.fwd_in, got, w)) return 0;
  if (!wav.close_output(w)) return 0;

  // Counted in 64 bits: a long file times a wide band passes 2^31.
  const long long band = hi > lo ? hi - lo : 0, windows = w, accepted = reader.accepted;
  printf(
      "\n\n SUMMARY\n =======\n BANDPASS f:%g..%g (index: %d..%d)\n MODE: %s RESCALE: %g #ITER: %d\n DATA: %d "
      "windows (FFT_SIZE %d samples) = %lld  samples used (16bps)\n CODEBOOK: %d entries, %d errors,  %d accepted "
      "(tol. %g %%)\n SIZEOF ENTRY: 1 entry = 10 bytes (3 short+1 float)\n TOTAL: %lld bytes in codebook + %lld bytes "
      "samples = %lld bytes\n OUTPUT: '%s'\n\n",
      p.band_lo_freq, p.band_hi_freq, lo, hi, p.mode == 'b' ? "bandpass" : "normal", p.rescale, p.iterations, w,
      kReconstructBlock, 2 * band * windows, reader.entries, reader.errors, reader.accepted, p.tolerance * 100,
      10 * accepted, 4 * band * windows, 10 * accepted + 4 * band * windows, output);
  return 0;
}

int reconstruct_command(char *line) {
  char *pos = nullptr;
  strtok_r(line, " ", &pos);
  char *output = strtok_r(nullptr, " ", &pos);
  char *input = output ? strtok_r(nullptr, " ", &pos) : nullptr;
  char *codebook = input ? strtok_r(nullptr, " ", &pos) : nullptr;
  if (!codebook) {
    printf("reconstruct parameter missing\n");
    return 0;
  }
  // Nothing is written until every written file is known to be none of the
  // files read: the parameter file is made before the input is opened.
  const char *reads[2] = {input, codebook};
  const char *param[1] = {kParamFile};
  if (!written_file_is_safe("output", output, reads, 2) ||
      !written_file_is_safe("parameter file", kParamFile, reads, 2) ||
      !written_file_is_safe("output", output, param, 1, "the parameter file"))
    return 0;
  FILE *f = nullptr;
  if (open_file(kParamFile, "w", &f) == SideFile::NotRegular) {
    report_not_regular(kParamFile);
    return 0;
  }
  if (!f) {
    printf("cannot create parameter file ? continuing with defaults...\n");
  } else {
    fprintf(f, "#reconstruct.param parameters dynamically created using *yelm*\n\n");
    static const char *const keys[7] = {"r.mode", "r.lo", "r.hi", "r.rescale", "r.tol", "r.thresh", "r.iter"};
    static const char *const lines[7] = {"mode %s\n",      "band_lo_freq %s\n", "band_hi_freq %s\n",
                                         "rescale %s\n",   "tolerance %s\n",    "threshold %s\n",
                                         "iterations %s\n"};
    for (int i = 0; i < 7; ++i) {
      const char *text = g_options.find(-1, keys[i], true);
      if (text) fprintf(f, lines[i], text);
    }
    // A parameter file cut short would be read back as other parameters.
    if (!close_written_file(f, kParamFile)) return 0;
  }
  reconstruct_file(output, input, codebook);
  return 0;
}
