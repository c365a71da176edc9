// Display manager: construction, configuration, shutdown, GUI thread, and the
// commands that start and stop the live input.
#include "display/graphs.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "audio/wav.h"
#include "display/analyser.h"
#include "display/slot_readers.h"
#include "display/viewport.h"
#include "options/deadline.h"
#include "options/notice.h"
#include "options/options.h"
#include "options/side_file.h"

graphs_t g_graphs;
AppState g_app;

GraphType g_graph_types[kGraphTypes + 1];

namespace {

// How long the manager's teardown waits between looks at the GUI thread.
constexpr useconds_t kIdlePauseUs = 5 * 1000;

}  // namespace

bool install_graph_type(int number, const GraphType &type) {
  if (number < 0 || number >= kGraphTypes || !type.name) return false;
  GraphType &row = g_graph_types[number];
  if (row.name && strcmp(row.name, type.name) != 0) return false;
  row = type;
  return true;
}

int graph_type_by_name(const char *name) {
  for (int t = 0; t < kGraphTypes; ++t)
    if (g_graph_types[t].name && strcmp(g_graph_types[t].name, name) == 0) return t;
  return -1;
}

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
  // The GUI thread must be out of its callbacks before the feed goes; when
  // the window's close button ends the process this runs on that thread.
  bool on_gui = gui_running.load(std::memory_order_acquire) && pthread_equal(pthread_self(), gui_thread_id);
  for (int n = 0; !on_gui && n < 400 && gui_running.load(std::memory_order_acquire); ++n) usleep(kIdlePauseUs);
  if (gui_running.load(std::memory_order_acquire) && !on_gui) {
    // Still busy (a long frame): leave the feed and analysers to process exit.
    return;
  }
  // Every way out of the process passes here (the close button, end of
  // input, a lost GL context, exit): no log is left open. Lines are flushed
  // one by one, so this only closes.
  close_logs();
  for (int i = 0; i < kDisplays; ++i) release_work(i);
  for (Analyser *&a : analysers) {
    delete a;
    a = nullptr;
  }
  delete feed;
  feed = nullptr;
  // The GLUT window is not destroyed here: this may run on a thread other
  // than the GUI thread, and process exit takes it down anyway.
}

SlotOptions SlotOptions::of(const DisplaySlot &s) {
  SlotOptions o{s.type, s.x, s.y, s.scale, s.wlet_detail, s.quadrant, s.beat, s.o_depth, s.source};
  return o;
}

void DisplayOptions::read() {
  transform_delay = g_options.get_int(-1, "transformdelay", false, 0);
  relh = g_options.get_double(-1, "relh", false, 0.66);
  hshrink = g_options.get_double(-1, "hshrink", false, 1.0);
  for (int i = 0; i < kDisplays; ++i) {
    SlotOptions &o = slot[i];
    const char *style = g_options.get_text(i, "style", false, nullptr);
    o.type = kGraphHide;
    if (style) {
      const int t = graph_type_by_name(style);
      if (t < 0)
        printf("unkown graph-type '%s' for display %d (hiding...)\n", style, i);
      else
        o.type = t;
    }
    o.x = g_options.get_double(i, "x", false, (i == 0 || i == 2) ? -1.0 : 1.0);
    o.y = g_options.get_double(i, "y", false, (i == 0 || i == 1) ? -1.0 : 1.0);
    o.scale = g_options.get_double(i, "scale", false, 1.0);
    o.source = source_ring(i, true);
  }
  for (int i = 0; i < kDisplays; ++i) {
    SlotOptions &o = slot[i];
    o.wlet_detail = g_options.get_int(i, "wlet.detail", false, 0);
    o.quadrant = g_options.get_int(i, "quadrant", false, 2);
    o.beat = g_options.get_int(i, "beat", false, 0);
    o.o_depth = g_options.get_int(i, "o.depth", false, 0);
  }
}

void graphs_t::read_display_options() {
  DisplayOptions options;
  options.read();
  GuiLock lock(*this);
  apply_display_options(options, false);
}

void graphs_t::apply_display_options(const DisplayOptions &o, bool new_input) {
  int delay = o.transform_delay;
  if (delay > kMaxTransformDelay) {
    printf("*** warning: transformdelay %d capped at %d\n", delay, kMaxTransformDelay);
    delay = kMaxTransformDelay;
  }
  live.transform_delay = delay;
  relh = o.relh;
  hshrink = o.hshrink;
  for (int i = 0; i < kDisplays; ++i) {
    change_slot(i, o.slot[i]);
    if (!new_input) continue;
    DisplaySlot &s = slots[i];
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
  // The display list that follows a new input starts on a line of its own.
  if (!new_input && line_open) putchar('\n');
  line_open = false;
}

void graphs_t::release_work(int i) {
  DisplaySlot &s = slots[i];
  if (!s.work) return;
  const GraphType &maker = g_graph_types[s.work_type];
  // Only the type that made it knows its layout.
  if (maker.release) maker.release(s);
  s.work = nullptr;
  s.work_type = kGraphHide;
}

namespace {

// A warning of the slot options starts a line of its own.
void slot_warning(graphs_t &m, const char *text) {
  if (m.line_open) putchar('\n');
  m.line_open = false;
  printf("%s", text);
}

}  // namespace

void graphs_t::change_slot(int i, const SlotOptions &o) {
  DisplaySlot &s = slots[i];
  s.x = o.x;
  s.y = o.y;
  s.scale = o.scale;
  s.wlet_detail = o.wlet_detail;
  s.quadrant = o.quadrant;
  s.beat = o.beat;
  s.o_depth = o.o_depth;
  s.source = o.source >= 0 && o.source < kRings ? o.source : i;
  if (s.beat >= 127) {
    s.beat = 0;
    slot_warning(*this, "SPIRAL display's beat time  not acceptable (defaulting to ZERO)\n");
  }
  if (s.quadrant >= 4) {
    s.quadrant = 2;
    slot_warning(*this, "w2D quadrant index out-of-scope (defaulting to 2)\n");
  }
  const int type = o.type >= 0 && o.type < kGraphTypes && g_graph_types[o.type].name ? o.type : kGraphHide;
  // Work state is only ever used by the type that made it.
  if (s.work && s.work_type != type) release_work(i);
  s.type = type;
  if (type == kGraphHide) return;
  create_analyser(i);
  const GraphType &t = g_graph_types[type];
  if (t.setup && !t.setup(*this, i, s, analysers[i])) {
    release_work(i);
    s.type = kGraphHide;
  }
  if (s.work) s.work_type = s.type;
}

void graphs_t::prepare_slot(int i) { change_slot(i, SlotOptions::of(slots[i])); }

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
  a->rows = Analyser::kHistoryRows;

  s.tuning_bin = tuning_bin_of(g_options.get_text(i, "tuna", false, nullptr), feed->sample_rate, &line_open);
}

double graphs_t::slice_frequency(int slot) {
  if (slot < 0 || slot >= kDisplays) return -1;
  GuiLock lock(*this);
  double f = -1;
  const DisplaySlot &s = slots[slot];
  if (s.slice && analysers[slot])
    f = analysers[slot]->bin_frequency(feed->sample_rate, static_cast<int>(floor(s.slice_bin)));
  return f;
}

void graphs_t::print_displays() {
  printf("\nGraphic Displays:\n    #     x     y  scale type\n-----------------------------\n");
  for (int i = 0; i < kDisplays; ++i) {
    const DisplaySlot &s = slots[i];
    printf("% 5d %5.2f %5.2f %5.2f  %s", i, s.x, s.y, s.scale, g_graph_types[s.type].name ? g_graph_types[s.type].name : "?");
    if (s.type == kGraphW2d) printf(" quadrant:%d", s.quadrant);
    if (ring_of(i) != i) printf(" source:%s", kRingNames[ring_of(i)]);
    printf("\n");
  }
  printf("-----------------------------\n    DELAY ACQ:% 3d  GUI:% 3d\n-----------------------------\n",
         acqdelay.load(), guidelay.load());
}

void graphs_t::configure(const char *input) {
  // Opened before GuiMutex is taken, so that no open holds up the window;
  // what went wrong is said in its place below.
  FILE *file = nullptr;
  const SideFile how = input ? open_file(input, "rb", &file) : SideFile::Missing;
  GuiLock lock(*this);
  if (!configure_input(input, file, how, true)) return;
  print_displays();
  feed->start();
}

bool graphs_t::configure_input(const char *input, FILE *file, SideFile how, bool card) {
  feed->reset();
  feed->prepare();
  if (feed->open_input(input, file, how) != 0) return false;
  // Before anything is sized by the rate: the card may run at its own.
  if (card) feed->settle_rate();
  // The GUI thread divides by the delays without the lock: only checked
  // values are ever stored.
  int acq = g_options.get_int(-1, "acqdelay", false, 1);
  int gui = g_options.get_int(-1, "guidelay", false, 1);
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
  DisplayOptions options;
  options.read();
  apply_display_options(options, true);
  return true;
}

void graphs_t::shutdown() {
  feed->stop();
  close_logs();
}

void graphs_t::close_logs() {
  if (!log_hooks.close) return;
  for (AnalysisLog *log : logs)
    if (log) log_hooks.close(log);
}

bool graphs_t::acquiring() const {
  return !measuring && feed && feed->stream.load(std::memory_order_acquire) && feed->state.load() == kFeedRunning;
}

void graphs_t::stop_live() {
  GuiLock lock(*this);
  if (live.stop_hook) live.stop_hook(&live);
}

void graphs_t::drop_lock_if_held() {
  if (!pthread_equal(lock_owner.load(std::memory_order_relaxed), pthread_self())) return;
  lock_owner.store(pthread_t{}, std::memory_order_relaxed);
  pthread_mutex_unlock(&mutex);
}

namespace {

// Where the way out is, for its last resort's line.
std::atomic<const char *> g_way_out_step{"at its start"};
int g_way_out_status = 0;

// The way out's last resort: a second before its time is up, the process
// ends as it stands.
void *guard_way_out(void *) {
  const timespec until = deadline_in_ms((kWayOutSeconds - 1) * 1000);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
  // Standard output may be the very thing that holds the way out up: it is
  // written only when that cannot wait.
  pollfd out = {STDOUT_FILENO, POLLOUT, 0};
  if (poll(&out, 1, 0) == 1 && (out.revents & POLLOUT) && ftrylockfile(stdout) == 0) {
    fflush_unlocked(stdout);
    funlockfile(stdout);
    if (poll(&out, 1, 0) == 1 && (out.revents & POLLOUT)) {
      char line[160];
      const int n = snprintf(line, sizeof line, "*** ending now: the way out was held up %s\n", g_way_out_step.load());
      if (write(STDOUT_FILENO, line, n) < 0) {
      }
    }
  }
  _exit(g_way_out_status);
}

}  // namespace

void leave_program(int status, const char *farewell, const char *reason) {
  static std::atomic<int> leaving{0};
  graphs_t &m = g_graphs;
  if (leaving.exchange(1)) {
    // Someone else is ending the process; the GUI thread counts as parked.
    if (m.gui_running.load(std::memory_order_acquire) && pthread_equal(pthread_self(), m.gui_thread_id))
      m.gui_running.store(0, std::memory_order_release);
    for (;;) pause();
  }
  g_way_out_status = status;
  pthread_t guard;
  if (pthread_create(&guard, nullptr, guard_way_out, nullptr) == 0) pthread_detach(guard);
  // Lines from here on are printed as they come, below the prompt (after
  // the guard: a terminal that takes nothing may hold this up).
  release_notices();
  if (reason) print_notice("%s", reason);
  bool stuck = false;
  if (m.command_running.load(std::memory_order_acquire) && !pthread_equal(pthread_self(), m.command_thread)) {
    g_way_out_step = "while the running command stopped";
    g_stop_transforms.store(1, std::memory_order_release);
    for (int n = 0; n < 2000 && m.command_running.load(std::memory_order_acquire); ++n) usleep(5 * 1000);
    // Still inside a read or write that does not come back: its output is
    // made whole from here.
    stuck = m.command_running.load(std::memory_order_acquire);
    if (stuck) finish_abandoned_output();
  }
  g_way_out_step = "while the live transform stopped";
  m.stop_live();
  g_way_out_step = "while the sound card stopped and the analysis logs closed";
  m.shutdown();
  g_way_out_step = "while the window closed";
  quiet_gui();
  g_way_out_step = "while the program ended";
  if (stuck) {
    // exit() would flush every stream, waiting on the one the command holds.
    if (ftrylockfile(stdout) == 0) {
      if (farewell) fputs_unlocked(farewell, stdout);
      fflush_unlocked(stdout);
      funlockfile(stdout);
    }
    _exit(status);
  }
  if (farewell) printf("%s", farewell);
  fflush(stdout);
  exit(status);
}

int plot_command(char *line) {
  {
    GuiLock lock;
    g_graphs.live.mode = kModeNone;
  }
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
  g_graphs.stop_live();
  return 0;
}
