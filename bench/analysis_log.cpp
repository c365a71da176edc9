// Cost of analysis logging in the frame: the window's frame time with one
// iviv slot (510 log lines a frame) and with one c5 slot (one line a frame),
// each with and without an open log, in the same run. Needs DISPLAY (Xvfb +
// Mesa).
//
// The renderers write only while an input runs. A real stream on the
// file-backed sound card would keep a core busy and skew both sides, so the
// feed is marked running here with no stream behind it (and unmarked before
// the end); the history is filled by hand.
#include <GL/freeglut.h>
#include <GL/freeglut_ext.h>
#include <csetjmp>
#include <cstdarg>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "display/analyser.h"
#include "analysis/analysis_log.h"
#include "bench/bench_window.h"
#include "console/console.h"
#include "display/graphs.h"
#include "harmonic/harmonic.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

bool open_window() {
  if (!open_bench_window("analysis log frame times")) return false;
  standard_bench_view();
  glRotatef(30, 1, 0, 0);
  return true;
}

// A chord on the tree's bins 5, 7, 10, 11, 15 and 22 in every row: some
// sides light, as with music.
void fill_chord(Analyser &a) {
  for (int r = 0; r < Analyser::kHistoryRows; ++r) {
    double *row = a.history + r * a.n;
    for (int k = 0; k < a.n; ++k) row[k] = 0.01;
    for (int k : {5, 7, 10, 11, 15, 22}) row[k] = 4;
  }
}

// Seconds for `frames` frames through the display callback; the log (when
// given) is started first, so the line limit is never reached inside.
double batch(int frames, const std::string *log_path, int *lines) {
  AnalysisLog &log = *g_graphs.logs[0];
  if (log_path) start_analysis_log(log, 0, log_path->c_str());
  auto t0 = Clock::now();
  const int start = g_app.display_frames;
  while (g_app.display_frames - start < frames) display_frame();
  const double s = seconds_since(t0);
  if (lines) *lines = log.lines.load();
  stop_analysis_log(log);
  return s;
}

void compare(const char *what, int type, int frames_per_batch, int batches, const std::string &path) {
  graphs_t &m = g_graphs;
  m.slots[0].type = type;
  m.slots[0].scale = 1;
  m.prepare_slot(0);
  fill_chord(*m.analysers[0]);
  m.analysers[0]->time_span = 1;
  batch(5, nullptr, nullptr);  // warm the driver up
  double bare = 0, logged = 0;
  std::vector<double> ratios;
  int lines = 0;
  // Interleaved, in turns first and second, so both see the same load; the
  // median of the pairs' ratios is the figure (a shared machine is noisy).
  for (int b = 0; b < batches; ++b) {
    double with = 0, without;
    if (b % 2) with = batch(frames_per_batch, &path, &lines);
    without = batch(frames_per_batch, nullptr, nullptr);
    if (b % 2 == 0) with = batch(frames_per_batch, &path, &lines);
    bare += without;
    logged += with;
    ratios.push_back(with / without);
  }
  std::sort(ratios.begin(), ratios.end());
  const double frames = static_cast<double>(frames_per_batch) * batches;
  printf("%s: %.2f ms a frame without a log, %.2f ms with one (%d lines a batch of %d frames); "
         "median ratio of %d pairs %.3fx (total %.3fx)\n",
         what, 1e3 * bare / frames, 1e3 * logged / frames, lines, frames_per_batch, batches,
         ratios[ratios.size() / 2], logged / bare);
  m.slots[0].type = kGraphHide;
  m.prepare_slot(0);
}

// The writer alone: one frame's 510 iviv lines, each put on its way to the
// file (a burst this fast outruns the file: the log says how many it dropped).
void lines_alone(const std::string &path) {
  AnalysisLog &log = *g_graphs.logs[0];
  start_analysis_log(log, 0, path.c_str());
  const int frames = 90;
  auto t0 = Clock::now();
  for (int f = 0; f < frames; ++f)
    for (int i = 0; i < 510; ++i) log_iviv_pair(log, 7 + i % 100, 5 + i % 50, 4.0, 0.01, 1.5, 1.0);
  const double s = seconds_since(t0);
  stop_analysis_log(log);
  printf("iviv log lines alone: %.3f ms for one frame's 510 lines (%.2f us a line)\n", 1e3 * s / frames,
         1e6 * s / (frames * 510.0));
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  install_display_graphs();
  install_harmonic_graphs();
  install_analysis_logs();
  if (!open_window()) return 0;
  std::string bin = YELM_BINARY_PATH;
  const std::string path = bin.substr(0, bin.rfind('/')) + "/bench-analysis.log";

  graphs_t &m = g_graphs;
  m.feed->sample_rate = 44100;
  static int no_stream;
  m.feed->stream.store(&no_stream);
  m.feed->state.store(kFeedRunning);
  lines_alone(path);
  // 90 iviv frames write 45900 lines, under the 50000 limit.
  compare("iviv, one slot of 256 rows", kGraphIviv, 90, 21, path);
  compare("c5, one slot of 256 rows", kGraphC5, 90, 21, path);
  m.feed->state.store(kFeedStopped);
  m.feed->stream.store(nullptr);
  remove(path.c_str());
  quiet_gui();
  return 0;
}
