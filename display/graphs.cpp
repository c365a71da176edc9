// Display manager: construction, configuration, shutdown, GUI thread, and the
// commands that start and stop the live input.
#include "display/graphs.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "display/analyser.h"
#include "display/viewport.h"
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

double query_slice_frequency(int slot) { return g_graphs.slice_frequency(slot); }

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
  // g_view_queries is zero-initialised before any constructor runs; setting
  // it here, before main, means the console never races the GUI thread on it.
  g_view_queries.view_angles = view_angles;
  g_view_queries.slice_frequency = query_slice_frequency;
}

graphs_t::~graphs_t() {
  stopping = 1;
  // The GUI thread must be out of its callbacks before the feed goes; when
  // the window's close button ends the process this runs on that thread.
  bool on_gui = gui_running.load(std::memory_order_acquire) && pthread_equal(pthread_self(), gui_thread_id);
  for (int n = 0; !on_gui && n < 400 && gui_running.load(std::memory_order_acquire); ++n) usleep(kIdlePauseUs);
  if (gui_running.load(std::memory_order_acquire) && !on_gui) {
    // Still busy (a long frame): leave the feed and analysers to process exit.
    return;
  }
  for (Analyser *&a : analysers) {
    delete a;
    a = nullptr;
  }
  delete feed;
  feed = nullptr;
  // The GLUT window is not destroyed here: this may run on a thread other
  // than the GUI thread, and process exit takes it down anyway.
}

void graphs_t::reread_display_options() {
  pthread_mutex_lock(&mutex);
  read_display_options();
  pthread_mutex_unlock(&mutex);
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
  DisplaySlot &s = slots[i];
  if (!analysers[i]) {
    Analyser *a = new (std::nothrow) Analyser(kAnalyserLength, Analyser::kHistoryRows);
    if (!a || !a->ok()) {
      printf("cannot create datafeed. not enough memory.");
      fflush(stdout);
      abort();
    }
    analysers[i] = a;
  }
  Analyser *a = analysers[i];
  a->rows = s.type == kGraphWlet ? kWaveletLevels : Analyser::kHistoryRows;

  const char *tuna_text = g_options.get_text(i, "tuna", false, nullptr);
  double tuna = tuna_text ? atof(tuna_text) : 0.0;
  if (!tuna_text || tuna <= 0) {
    printf("no tuning? ('tuna' settings). assuming 440 Hz.");
    tuna = 440.0;
  }
  s.tuning_bin = floor(static_cast<double>(kAnalyserLength) / feed->sample_rate * tuna);

  if (s.type == kGraphW2d && !a->alloc_w2d()) {
    printf("cannot create W2D work buffers. memory problems.");
    fflush(stdout);
    abort();
  }
  if (s.type == kGraphIfs && !a->alloc_ifs()) {
    printf("cannot create IFS work buffers. memory problems.");
    fflush(stdout);
    abort();
  }
  if (s.type == kGraphMirror) {
    double growth = g_options.get_double(i, "m.growth", true, 1.0);
    double bass = g_options.get_double(i, "m.bass", true, 10.0);
    int iterations = g_options.get_int(i, "m.iter", true, 10);
    // The mirror display owns the state's layout; without it there is
    // nothing to make (and nothing registered to draw it).
    if (g_mirror_hooks.make) {
      if (a->mirror && a->mirror_release) a->mirror_release(a->mirror);
      a->mirror = g_mirror_hooks.make(bass, growth, feed->sample_rate, iterations);
      a->mirror_release = g_mirror_hooks.release;
      if (!a->mirror) {
        printf("cannot create MIRROR work buffers. memory problems.");
        fflush(stdout);
        abort();
      }
    }
  }
}

double graphs_t::slice_frequency(int slot) {
  if (slot < 0 || slot >= kDisplays) return -1;
  pthread_mutex_lock(&mutex);
  double f = -1;
  const IfsNode *node = slots[slot].slice;
  if (node && analysers[slot]) f = analysers[slot]->bin_frequency(feed->sample_rate, static_cast<int>(floor(node->bin)));
  pthread_mutex_unlock(&mutex);
  return f;
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
         acqdelay.load(), guidelay.load());
}

void graphs_t::configure(const char *input) {
  pthread_mutex_lock(&mutex);
  feed->reset();
  feed->prepare();
  if (feed->open_input(input) != 0) {
    pthread_mutex_unlock(&mutex);
    return;
  }
  // The GUI thread divides by the delays without the lock: only checked
  // values are ever stored.
  int acq = g_options.get_int(-1, "acqdelay", false, 1);
  int gui = g_options.get_int(-1, "guidelay", false, 1);
  relh = g_options.get_double(-1, "relh", false, 0.66);
  hshrink = g_options.get_double(-1, "hshrink", false, 1.0);
  if (acq <= 0) {
    acq = 1;
    printf("*** warning: delay must be >=1\n");
  }
  if (gui <= 0) {
    gui = 1;
    printf("*** warning: delay must be >=1\n");
  }
  acqdelay = acq;
  guidelay = gui;
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
