// Cost of one 64-frame audio callback: all four channels on "lp" filters and
// one wavelet channel, against the 64-frame period at 44100 Hz (1.451 ms).
// The baseline in the same run is the callback with every channel on "nop".
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <vector>

#include "audio/feed.h"
#include "options/options.h"

namespace {

constexpr double kPeriodSeconds = 64.0 / 44100.0;
int g_marker;

std::unique_ptr<DataFeed> make_feed(bool filters) {
  g_options.release();
  if (filters)
    for (int i = 0; i < kRings; ++i) g_options.set(i, "filter", "lp");
  g_options.set(0, "style", "wlet");
  auto feed = std::make_unique<DataFeed>();
  // The preparation's messages would clutter the report.
  fflush(stdout);
  const int saved = dup(1);
  const int null_fd = open("/dev/null", O_WRONLY);
  dup2(null_fd, 1);
  feed->prepare();
  feed->open_input(nullptr);
  for (int i = 0; i < kRings; ++i) feed->prepare_filter(i);
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(null_fd);
  feed->stream.store(&g_marker);  // marks the feed running; no real stream
  feed->state.store(kFeedRunning);
  return feed;
}

void run(benchmark::State &state, bool filters) {
  auto feed = make_feed(filters);
  std::vector<float> in(128), out(128);
  for (int i = 0; i < 128; ++i) in[i] = 0.001f * (i % 37);
  double t = 0;
  auto begin = std::chrono::steady_clock::now();
  for (auto _ : state) {
    audio_callback(in.data(), out.data(), 64, t, feed.get());
    t += 64;
    benchmark::DoNotOptimize(out.data());
  }
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  state.counters["period_fraction"] = secs / state.iterations() / kPeriodSeconds;
  feed->stream.store(nullptr);
}

void BM_CallbackNop(benchmark::State &state) { run(state, false); }
void BM_CallbackLpAndWavelet(benchmark::State &state) { run(state, true); }

}  // namespace

BENCHMARK(BM_CallbackNop);
BENCHMARK(BM_CallbackLpAndWavelet);
BENCHMARK_MAIN();
