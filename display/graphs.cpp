// Display manager: construction, configuration, shutdown, GUI thread, and the
// commands that start and stop the live input.
#include "display/graphs.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "options/options.h"

graphs_t g_graphs;
AppState g_app;

const GraphType kGraphTypeTable[kGraphTypes + 1] = {
    {"hide", kFeedNothing},      {"fft", kFeedSpectrum},    {"c5", kFeedSpectrum},
    {"c5c", kFeedSpectrum},      {"wlet", kFeedWavelet},    {"w2d", kFeedW2d},
    {"ifs", kFeedSpectrum},      {"iviv", kFeedSpectrum},   {"spiral", kFeedSpectrum},
    {"transform", kFeedNothing}, {"origami", kFeedSpectrum}, {"mirror", kFeedSpectrum},
    {nullptr, 0},
};

namespace {

// How long the GUI thread's loop sleeps between passes.
constexpr useconds_t kIdlePauseUs = 5 * 1000;

int graph_type_by_name(const char *name) {
  for (int t = 0; kGraphTypeTable[t].name; ++t)
    if (strcmp(kGraphTypeTable[t].name, name) == 0) return t;
  return -1;
}

}  // namespace

graphs_t::graphs_t() {
  static bool made = false;
  if (made) {
    printf("cannot create two display graphs_t managers");
    abort();
  }
  made = true;
  pthread_mutex_init(&mutex, nullptr);
  feed = new DataFeed;
}

graphs_t::~graphs_t() {
  stopping = 1;
  // The GUI thread must be out of its loop before the feed goes.
  for (int n = 0; n < 400 && gui_running.load(std::memory_order_acquire); ++n) usleep(kIdlePauseUs);
  delete feed;
  feed = nullptr;
}

void graphs_t::read_display_options() {
  live.transform_delay = g_options.get_int(-1, "transformdelay", false, 0);
  for (int i = 0; i < kDisplays; ++i) {
    DisplaySlot &s = slots[i];
    const char *style = g_options.get_text(i, "style", false, nullptr);
    s.type = kGraphHide;
    if (style) {
      const int t = graph_type_by_name(style);
      if (t < 0)
        printf("unkown graph-type '%s' for display %d (hiding...)\n", style, i);
      else
        s.type = t;
    }
    s.x = g_options.get_double(i, "x", false, (i == 0 || i == 2) ? -1.0 : 1.0);
    s.y = g_options.get_double(i, "y", false, (i == 0 || i == 1) ? -1.0 : 1.0);
    s.scale = g_options.get_double(i, "scale", false, 1.0);
  }
}

void graphs_t::create_analyser(int i) {
  // The analyser itself is made here once the analysis side exists; the
  // tuning bin is what the filters' set-up needs already.
  const char *tuna_text = g_options.get_text(i, "tuna", false, nullptr);
  double tuna = tuna_text ? atof(tuna_text) : 0.0;
  if (!tuna_text || tuna <= 0) {
    printf("no tuning? ('tuna' settings). assuming 440 Hz.");
    tuna = 440.0;
  }
  slots[i].tuning_bin = floor(static_cast<double>(kAnalyserLength) / feed->sample_rate * tuna);
}

void graphs_t::print_displays() {
  printf("\nGraphic Displays:\n    #     x     y  scale type\n-----------------------------\n");
  for (int i = 0; i < kDisplays; ++i) {
    const DisplaySlot &s = slots[i];
    printf("% 5d %5.2f %5.2f %5.2f  %s", i, s.x, s.y, s.scale, kGraphTypeTable[s.type].name);
    if (s.type == kGraphW2d) printf(" quadrant:%d", s.quadrant);
    printf("\n");
  }
  printf("-----------------------------\n    DELAY ACQ:% 3d  GUI:% 3d\n-----------------------------\n",
         acqdelay, guidelay);
}

void graphs_t::configure(const char *input) {
  pthread_mutex_lock(&mutex);
  feed->reset();
  feed->prepare();
  if (feed->open_input(input) != 0) {
    pthread_mutex_unlock(&mutex);
    return;
  }
  acqdelay = g_options.get_int(-1, "acqdelay", false, 1);
  guidelay = g_options.get_int(-1, "guidelay", false, 1);
  relh = g_options.get_double(-1, "relh", false, 0.66);
  hshrink = g_options.get_double(-1, "hshrink", false, 1.0);
  if (acqdelay <= 0) {
    acqdelay = 1;
    printf("*** warning: delay must be >=1\n");
  }
  if (guidelay <= 0) {
    guidelay = 1;
    printf("*** warning: delay must be >=1\n");
  }
  read_display_options();
  for (int i = 0; i < kDisplays; ++i) {
    DisplaySlot &s = slots[i];
    s.wlet_detail = g_options.get_int(i, "wlet.detail", false, 0);
    s.quadrant = g_options.get_int(i, "quadrant", false, 2);
    s.beat = g_options.get_int(i, "beat", false, 0);
    s.o_depth = g_options.get_int(i, "o.depth", false, 0);
    if (s.beat >= 127) {
      s.beat = 0;
      printf("SPIRAL display's beat time  not acceptable (defaulting to ZERO)\n");
    }
    if (s.quadrant >= 4) {
      s.quadrant = 2;
      printf("w2D quadrant index out-of-scope (defaulting to 2)\n");
    }
    if (s.type != kGraphHide) create_analyser(i);
    feed->prepare_filter(i);
    BandFilter *band = feed->feedback[i];
    if (band && analysers[i]) {
      if (band->kind == kFilterFb) {
        const int half = kAnalyserLength / 2;
        const double upper = 2 * s.tuning_bin < half ? 2 * s.tuning_bin : half;
        band->lower_bin = static_cast<int>(floor(s.tuning_bin));
        band->upper_bin = static_cast<int>(floor(upper));
        printf("BAND FFT Feedback Filter ready (octave idx: [%d..%d]).\n", band->lower_bin,
               band->upper_bin);
      } else {
        printf("Impossible error.  Unknown feedback filter.\n");
      }
    }
  }
  print_displays();
  feed->start();
  pthread_mutex_unlock(&mutex);
}

void graphs_t::shutdown() { feed->stop(); }

void idle_step() {
  if (g_graphs.stopping) return;
  // Without GuiMutex: stop() sleeps while the callback winds down.
  if (g_graphs.feed->state.load() == kFeedEnded) g_graphs.feed->stop_if_ended();
}

void *gui_thread_main(void *window_id) {
  // Nobody joins this thread: the process ends while it runs.
  pthread_detach(pthread_self());
  g_graphs.gui_running.store(1);
  while (!g_graphs.stopping) {
    idle_step();
    usleep(kIdlePauseUs);
  }
  g_graphs.gui_running.store(0, std::memory_order_release);
  return nullptr;
}

int plot_command(char *line) {
  pthread_mutex_lock(&g_graphs.mutex);
  g_graphs.live.mode = kModeNone;
  pthread_mutex_unlock(&g_graphs.mutex);
  char *pos = nullptr;
  strtok_r(line, " \t\r\n", &pos);
  const char *path = strtok_r(nullptr, " \t\r\n", &pos);
  printf("audio: reset & capture from %s..\n", path ? "file" : "device");
  g_graphs.configure(path);
  return 0;
}

int mute_command(char *line) {
  printf("stopping audio-capture...\n");
  g_graphs.shutdown();
  if (g_graphs.live.stop_hook) g_graphs.live.stop_hook(&g_graphs.live);
  return 0;
}
