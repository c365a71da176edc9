// Whole-file speed of tether, tstring and reconstruct on 60 s of 44.1 kHz
// stereo music: realtime factor (audio seconds per second of run) and the
// cost per sample. A plain WAV copy through the same reader and writer is
// the baseline of the run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/wav.h"
#include "display/transform_state.h"
#include "media/tstring.h"
#include "transforms/reconstruct.h"

namespace {

constexpr int kRate = 44100;
constexpr int kFrames = 60 * kRate;

std::string dir() {
  static std::string d = [] {
    char tmpl[] = "/tmp/yelm_bench_XXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  return d;
}

void put32(FILE *f, uint32_t v) {
  for (int i = 0; i < 4; ++i) fputc((v >> (8 * i)) & 255, f);
}
void put16(FILE *f, uint16_t v) {
  fputc(v & 255, f);
  fputc(v >> 8, f);
}

const std::string &music() {
  static std::string path = [] {
    std::string p = dir() + "/music.wav";
    FILE *f = fopen(p.c_str(), "wb");
    uint32_t data = kFrames * 4;
    fwrite("RIFF", 1, 4, f);
    put32(f, 36 + data);
    fwrite("WAVEfmt ", 1, 8, f);
    put32(f, 16);
    put16(f, 1);
    put16(f, 2);
    put32(f, kRate);
    put32(f, kRate * 4);
    put16(f, 4);
    put16(f, 16);
    fwrite("data", 1, 4, f);
    put32(f, data);
    for (int i = 0; i < kFrames; ++i) {
      double t = static_cast<double>(i) / kRate;
      double v = 0.3 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 330 * t * (1 + 0.1 * std::sin(t))) +
                 0.1 * std::sin(2 * M_PI * 1760 * t);
      int16_t s = static_cast<int16_t>(v * 32767);
      put16(f, s);
      put16(f, s);
    }
    fclose(f);
    std::string book = dir() + "/iviv.log";
    FILE *b = fopen(book.c_str(), "w");
    for (int i = 0; i < 20000; ++i)
      fprintf(b, "%f %d %d %f %f 1.0 1.333333\n", i * 0.003, 3 + i % 40, 5 + (i * 7) % 60, 0.2 + (i % 13) * 0.01,
              0.1 + (i % 7) * 0.01);
    fclose(b);
    return p;
  }();
  return path;
}

// Runs f with standard output (the progress dots) sent to /dev/null.
template <typename F>
void quietly(F f) {
  fflush(stdout);
  int saved = dup(1);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  f();
  fflush(stdout);
  dup2(saved, 1);
  close(null);
  close(saved);
}

template <typename F>
void timed(benchmark::State &state, F f) {
  const std::string &in = music();
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    quietly([&] { f(in); });
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.SetIterationTime(s);
    state.counters["realtime_x"] = 60.0 / s;
    state.counters["ns_per_sample"] = s * 1e9 / kFrames;
  }
}

void run_driver(int (*driver)(int, char **, TransformState *), const std::string &in, const char *size,
                const char *alpha) {
  std::string out = dir() + "/out.wav";
  std::vector<std::string> words{"binary", in, out, size, "1", "0.98", alpha};
  std::vector<char *> v;
  for (auto &w : words) v.push_back(&w[0]);
  TransformState view{};
  driver(7, v.data(), &view);
}

void BM_copy_baseline(benchmark::State &state) {
  timed(state, [](const std::string &in) {
    FILE *f = fopen(in.c_str(), "rb");
    WavPair wav;
    std::string out = dir() + "/copy.wav";
    double block[512];
    if (wav.open(f, in.c_str(), out.c_str(), 512, WavVariant::OptionalOutput))
      while (wav.read_block(block, 512) == 512) wav.write_block(block, 512);
    wav.release();
    fclose(f);
  });
}

void BM_tether_defaults(benchmark::State &state) {
  timed(state, [](const std::string &in) { run_driver(tether_main, in, "9", "0.75"); });
}

// Every level carries weight: the whole path is walked for each sample.
void BM_tether_all_levels(benchmark::State &state) {
  timed(state, [](const std::string &in) { run_driver(tether_main, in, "9", "0.995"); });
}

void BM_tstring_defaults(benchmark::State &state) {
  timed(state, [](const std::string &in) { run_driver(tstring_main, in, "9", "0.75"); });
}

void BM_reconstruct_initial(benchmark::State &state) {
  timed(state, [](const std::string &in) {
    g_reconstruct_params = kReconstructDefaults;
    std::string out = dir() + "/rec.wav", book = dir() + "/iviv.log";
    if (chdir(dir().c_str()) != 0) return;
    reconstruct_file(out.c_str(), in.c_str(), book.c_str());
  });
}

}  // namespace

BENCHMARK(BM_copy_baseline)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_tether_defaults)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_tether_all_levels)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_tstring_defaults)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_reconstruct_initial)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
