// Speed of the surface and unfold transforms on 60 s of 44100 Hz stereo
// music: realtime factors (seconds of music per second of work) and, for the
// field, cell updates per second; the surface kernel against a plain step.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "display/transform_state.h"
#include "media/surface.h"
#include "media/tfield.h"
#include "media/unfold.h"

namespace {

constexpr int kRate = 44100;
constexpr double kSeconds = 60;

std::string g_dir;
std::string g_input;
const std::string g_field = std::string(YELM_SOURCE_DIR) + "/examples/field";

void put16(FILE *f, int v) {
  fputc(v & 255, f);
  fputc((v >> 8) & 255, f);
}
void put32(FILE *f, unsigned v) {
  put16(f, v & 0xffff);
  put16(f, v >> 16);
}

// Chords over a bass, in the manner of the example music.
void write_music(const std::string &path) {
  const int frames = static_cast<int>(kSeconds * kRate);
  FILE *f = fopen(path.c_str(), "wb");
  fwrite("RIFF", 1, 4, f);
  put32(f, 36 + frames * 4);
  fwrite("WAVEfmt ", 1, 8, f);
  put32(f, 16);
  put16(f, 1);
  put16(f, 2);
  put32(f, kRate);
  put32(f, kRate * 4);
  put16(f, 4);
  put16(f, 16);
  fwrite("data", 1, 4, f);
  put32(f, frames * 4);
  const double chord[3] = {261.6, 329.6, 392.0};
  for (int t = 0; t < frames; ++t) {
    double time = static_cast<double>(t) / kRate, bar = time - std::floor(time);
    double v = 0.25 * std::exp(-2 * bar) * std::sin(2 * M_PI * 65.4 * time);
    for (double c : chord) v += 0.15 * std::sin(2 * M_PI * c * (1 + 0.25 * (static_cast<int>(time) % 4)) * time);
    int s = static_cast<int>(v * 32767);
    put16(f, s);
    put16(f, s);
  }
  fclose(f);
}

// The transforms report on standard output; keep it out of the figures.
struct Quiet {
  int saved;
  Quiet() {
    fflush(stdout);
    saved = dup(1);
    int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    close(null_fd);
  }
  ~Quiet() {
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
  }
};

long field_cells() {
  TransformState view{};
  SurfaceField f;
  f.load(g_field.c_str(), &view);
  long cells = 0;
  for (int i = 0; i < f.count; ++i) cells += static_cast<long>(f.surfaces[i].width) * f.surfaces[i].height;
  return cells;
}

void run_field(benchmark::State &state, const char *passes) {
  TransformState view{};
  std::string out = g_dir + "/field.wav";
  std::vector<std::string> args = {"binary", g_input, out, g_field, "1", passes};
  std::vector<char *> v;
  for (auto &a : args) v.push_back(&a[0]);
  for (auto _ : state) {
    Quiet q;
    field_main(static_cast<int>(v.size()), v.data(), &view);
  }
  state.counters["realtime"] = benchmark::Counter(kSeconds * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["cell_updates/s"] = benchmark::Counter(
      static_cast<double>(field_cells()) * kSeconds * kRate * atoi(passes) * state.iterations(),
      benchmark::Counter::kIsRate);
}

void BM_TfieldCopy(benchmark::State &state) { run_field(state, "0"); }
void BM_TfieldExampleField(benchmark::State &state) { run_field(state, "1"); }

void run_unfold(benchmark::State &state, bool repair) {
  TransformState view{};
  std::vector<std::string> args = {"binary", "-o" + g_dir + "/unfold.wav", "-i" + g_input, "-a.00005", "-f1.0",
                                   "-p0.99", "-m9", "-b25", "-d9", "-s0.4"};
  if (repair) args.push_back("-R");
  std::vector<char *> v;
  for (auto &a : args) v.push_back(&a[0]);
  for (auto _ : state) {
    Quiet q;
    unfold_main(static_cast<int>(v.size()), v.data(), &view);
  }
  state.counters["realtime"] = benchmark::Counter(kSeconds * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_Unfold(benchmark::State &state) { run_unfold(state, false); }
void BM_UnfoldRepair(benchmark::State &state) { run_unfold(state, true); }

// The stencil as written out cell by cell, with bounds tests and copies: the
// baseline for the kernel's speed-up.
struct PlainSurface {
  int w, h, k;
  std::vector<double> u, up, up2;
  std::vector<unsigned char> wall;
  double step(double v) {
    up2 = up;
    up = u;
    u[k] = v;
    double sum = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        int i = y * w + x;
        if (i == k) continue;
        if (wall[i]) {
          u[i] = 0;
          continue;
        }
        double L = x > 0 ? up[i - 1] : 0, R = x < w - 1 ? up[i + 1] : 0;
        double U = y > 0 ? up[i - w] : 0, D = y < h - 1 ? up[i + w] : 0;
        u[i] = up[i] + 0.5 * (L + R + U + D - 4 * up[i]) + 0.9999 * (up[i] - up2[i]);
        sum += u[i];
      }
    return sum;
  }
};

void BM_SurfaceKernel(benchmark::State &state) {
  TransformState view{};
  SurfaceField f;
  f.load(g_field.c_str(), &view);
  Surface &s = f.surfaces[0];
  double x = 0, acc = 0;
  for (auto _ : state) acc += s.step(std::sin(x += 0.01) * 0.02);
  benchmark::DoNotOptimize(acc);
  state.counters["cell_updates/s"] =
      benchmark::Counter(static_cast<double>(s.width) * s.height * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_SurfacePlain(benchmark::State &state) {
  TransformState view{};
  SurfaceField f;
  f.load(g_field.c_str(), &view);
  const Surface &s = f.surfaces[0];
  PlainSurface p{s.width, s.height, s.in_y * s.width + s.in_x, {}, {}, {}, {}};
  const int n = s.width * s.height;
  p.u.assign(n, 0);
  p.up.assign(n, 0);
  p.up2.assign(n, 0);
  p.wall.assign(s.wall, s.wall + n);
  double x = 0, acc = 0;
  for (auto _ : state) acc += p.step(std::sin(x += 0.01) * 0.02);
  benchmark::DoNotOptimize(acc);
  state.counters["cell_updates/s"] =
      benchmark::Counter(static_cast<double>(n) * state.iterations(), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_TfieldCopy)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_TfieldExampleField)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_Unfold)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_UnfoldRepair)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_SurfaceKernel);
BENCHMARK(BM_SurfacePlain);

int main(int argc, char **argv) {
  char templ[] = "/tmp/yelm-bench-field-XXXXXX";
  if (!mkdtemp(templ)) return 1;
  g_dir = templ;
  g_input = g_dir + "/music.wav";
  write_music(g_input);
  // unfold writes log.txt into the working folder.
  if (chdir(g_dir.c_str()) != 0) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const char *name : {"/music.wav", "/field.wav", "/unfold.wav", "/log.txt"}) unlink((g_dir + name).c_str());
  rmdir(g_dir.c_str());
  return 0;
}
