// Display manager: the four display slots, GuiMutex, the data feed and the
// live transform state; the GUI thread's body.
#pragma once

#include <pthread.h>

#include <atomic>

#include "audio/feed.h"
#include "display/transform_state.h"

struct Analyser;
struct AnalysisLog;  // a slot's analysis log (analysis/), plugged in from main
struct IfsNode;      // the ifs display's node record (harmonic/)

// What the display side does with the slots' logs; the logs plug in from
// main (install_analysis_logs) and none of this is called before.
struct LogHooks {
  bool (*wants_lines)(const AnalysisLog *log);  // a file is open, with room
  void (*c5_frame)(AnalysisLog *log, const double *row, int first, int last, double scale);
  void (*close)(AnalysisLog *log);
};

// What the idle step computes for a slot of a graph type.
enum FeedKind { kFeedNothing = 0, kFeedSpectrum = 1, kFeedWavelet = 2, kFeedW2d = 3 };

// Graph type numbers are fixed: the settings file and "set :N style" name
// them, and each folder that brings a type defines its number beside it.
// These are the display's own.
enum GraphTypeNumber {
  kGraphHide = 0,
  kGraphFft = 1,
  kGraphC5 = 2,
  kGraphC5c = 3,
  kGraphWlet = 4,
  kGraphW2d = 5,
  kGraphTypes = 12,
};

constexpr int kDisplays = 4;
constexpr int kAnalyserLength = 512;

struct DisplaySlot {
  int type;
  double scale;
  double x;
  double y;
  double tuning_bin;  // floor(512 / sample_rate x tuna)
  int wlet_detail;
  int quadrant;
  int beat;
  int o_depth;
  float ifs_triangle[3][3];
  IfsNode *slice;     // picked by the ifs display; null until then
  double slice_bin;   // spectrum bin position of `slice`, kept with it
  void *work;         // the type's own work state, made by its setup
  int work_type;      // the type that made `work` (and so releases it)
  int source = -1;    // the ring analysed (0..3); -1: the slot's own
};

// What the option store says one display shows, read before GuiMutex is
// taken and handed to graphs_t::change_slot under it.
struct SlotOptions {
  int type;  // an installed type's number (an unknown name reads as hide)
  double x, y, scale;
  int wlet_detail, quadrant, beat, o_depth;
  int source;  // the ring the display analyses, 0..3

  // The slot's settings as they stand (for a caller that set them itself).
  static SlotOptions of(const DisplaySlot &slot);
};

// Every display's options and the global ones that shape the slots.
struct DisplayOptions {
  int transform_delay;
  double relh, hshrink;  // the iviv tree's shape
  SlotOptions slot[kDisplays];

  // Reads the store; an unknown style name is reported here and hides.
  void read();
};

// Live transform pauses beyond this many 100 ms units are cut to it: the
// pause holds GuiMutex, and the console and the way out wait on it.
constexpr int kMaxTransformDelay = 10;

// The pause after each live transform step, in microseconds, for a
// transformdelay of `delay` units of 100 ms: none for 0 or less, at most
// kMaxTransformDelay units. Taken in 64 bits, so that no setting wraps.
inline long long transform_pause_us(int delay) {
  const long long units = delay < 0 ? 0 : delay > kMaxTransformDelay ? kMaxTransformDelay : delay;
  return units * 100 * 1000;
}

struct graphs_t;

// Draws one slot; the analyser is null only for graph types of feed kind 0.
// The log is the slot's own; types that measure write to it. Called with
// GuiMutex held.
typedef void (*Renderer)(graphs_t &manager, int slot_index, Analyser *analyser, DisplaySlot &slot,
                         AnalysisLog *log);

// One graph type, described by the folder that brings it.
struct GraphType {
  const char *name;  // null: no type of this number is installed
  int feed_kind;
  Renderer draw;     // null draws nothing (the slot still counts as drawn)
  // Reads the type's own slot options and makes its work state in
  // slot.work; runs in graphs_t::change_slot under GuiMutex after the
  // analyser is made (null for feed kind 0). slot.work is null or made by an
  // earlier setup of this same type, to keep or remake. False hides the
  // slot; the type has printed why.
  bool (*setup)(graphs_t &manager, int slot_index, DisplaySlot &slot, Analyser *analyser);
  // Frees slot.work (before the next setup, and at the end).
  void (*release)(DisplaySlot &slot);
};

// Indexed by type number; a row with no name is a type not installed.
extern GraphType g_graph_types[kGraphTypes + 1];
// Installs a type at its number, before the GUI thread starts. False when
// the number is out of range or taken by another name.
bool install_graph_type(int number, const GraphType &type);
// The number of the installed type of that exact name, or -1.
int graph_type_by_name(const char *name);
// The display's own types: hide, fft, c5, c5c, wlet, w2d.
void install_display_graphs();

struct graphs_t {
  std::atomic<int> stopping{0};  // set once at shutdown; callbacks then return at once
  std::atomic<int> command_running{0};  // the console is inside a command
  pthread_t command_thread{};           // the console's thread, valid with it
  pthread_mutex_t mutex;         // GuiMutex
  std::atomic<pthread_t> lock_owner{};  // the thread inside a GuiLock, if any
  std::atomic<int> display_lost{0};     // the X server went away; the way out is taken
  std::atomic<int> acqdelay{1};
  std::atomic<int> guidelay{1};
  double relh = 0.66;     // iviv tree apex height
  double hshrink = 1.0;   // per-level factor of relh
  DataFeed *feed = nullptr;
  Analyser *analysers[kDisplays] = {};
  DisplaySlot slots[kDisplays] = {};
  TransformState live{};
  bool line_open = false;  // the console's last text (the tuning message) has no line end yet
  bool measuring = false;  // the view's framing draws the displays unseen: nothing is logged
  // Set when another thread has changed what the window shows (a new
  // configuration, a medium stepped by a whole-file command): while nothing
  // runs, the window is drawn again only then, or for the mouse, a key or
  // a new size.
  std::atomic<int> redraw{1};
  std::atomic<int> gui_running{0};  // the GUI thread's loop is live
  std::atomic<int> gui_probed{0};   // the display was probed (and any warning printed)
  std::atomic<int> has_window{0};   // the GUI thread runs a GLUT window
  pthread_t gui_thread_id{};        // valid once gui_running is set
  AnalysisLog *logs[kDisplays] = {};  // one per slot, once plugged in
  LogHooks log_hooks{};

  graphs_t();
  ~graphs_t();

  // Display configuration for a new input (null: the sound card).
  void configure(const char *input);
  // All of it but the display list and the stream (GuiMutex held), with the
  // input opened beforehand (open_file's result, taken over): false when
  // it cannot be read. Without `card` the file's own rate is kept (a
  // render, which has no card).
  bool configure_input(const char *input, FILE *file, SideFile how, bool card);
  // Reads the display options and shows them (takes GuiMutex): what the
  // commands that change no input run.
  void read_display_options();
  // Shows options read before (GuiMutex held): transformdelay and the iviv
  // shape, then every slot through change_slot; with a new input, each
  // slot's channel filter too.
  void apply_display_options(const DisplayOptions &options, bool new_input);
  // The one way a slot changes what it shows (GuiMutex held): the slot's
  // options are checked (the beat and quadrant warnings), work state made by
  // another type goes through that type's release, a visible slot gets its
  // analyser and its type's setup (a failed setup hides it).
  void change_slot(int slot, const SlotOptions &options);
  // Makes the slot's analyser (once), sets its row count and the tuning bin.
  void create_analyser(int slot);
  // change_slot with the slot's own current settings.
  void prepare_slot(int slot);
  // Frees the slot's work state through the type that made it.
  void release_work(int slot);
  // The ring slot i analyses (its source).
  int ring_of(int slot) const {
    const int r = slots[slot].source;
    return r >= 0 && r < kRings ? r : slot;
  }
  // Frequency in Hz of the slot's picked bin; -1 when there is none.
  double slice_frequency(int slot);
  void print_displays();
  // Stops the input stream and closes the analysis logs.
  void shutdown();
  // Closes the four analysis logs (each under its own mutex only).
  void close_logs();
  // The input stream is open and running: the renderers' condition for
  // writing to a log.
  bool acquiring() const;
  // The caller is the running GUI thread.
  bool on_gui_thread() const {
    return gui_running.load(std::memory_order_acquire) && pthread_equal(pthread_self(), gui_thread_id);
  }
  // Tears a live transform down (through live.stop_hook) under GuiMutex.
  void stop_live();
  // Gives GuiMutex up when this thread holds it: for the loss of the
  // display, which may come in the middle of a frame that never goes on.
  void drop_lock_if_held();
};

extern graphs_t g_graphs;

// The one way GuiMutex is taken, by every thread and folder: held for the
// scope. Whatever the GUI thread reads is written under it, so a lock held
// by another thread may have changed the picture: the window is drawn anew.
class GuiLock {
 public:
  explicit GuiLock(graphs_t &manager = g_graphs) : manager_(manager) {
    pthread_mutex_lock(&manager_.mutex);
    manager_.lock_owner.store(pthread_self(), std::memory_order_relaxed);
  }
  ~GuiLock() {
    if (!manager_.on_gui_thread()) manager_.redraw.store(1, std::memory_order_relaxed);
    manager_.lock_owner.store(pthread_t{}, std::memory_order_relaxed);
    pthread_mutex_unlock(&manager_.mutex);
  }
  GuiLock(const GuiLock &) = delete;
  GuiLock &operator=(const GuiLock &) = delete;

 private:
  graphs_t &manager_;
};

// The one way out of the program, taken by `exit`, end of input, the
// window's close button and a signal, on whichever thread meets them:
//   0. a console command still running on another thread (a whole-file
//      transform) is told to stop at its next block and close its output as
//      a whole, shorter file; the way out waits for it (10 s at most);
//   1. stop the live transform (graphs_t::stop_live);
//   2. stop the input and 3. close the analysis logs (graphs_t::shutdown);
//   4. park the GUI thread (quiet_gui; nothing to wait for on that thread);
//   5. end: farewell (may be null) is printed, then exit(status).
// The first caller runs it; a later one (another thread) only waits for it.
// Whatever holds it up (a library call that does not come back, an output
// nobody reads), the process ends within kWayOutSeconds, the last second of
// it with a line saying where the way out was held up.
// A reason (may be null) is said first, once the bound is in force.
[[noreturn]] void leave_program(int status, const char *farewell, const char *reason = nullptr);
constexpr int kWayOutSeconds = 15;

// Program-wide GUI-side state.
struct AppState {
  int gui_window = 0;
  int window_width = 400, window_height = 400;  // the "window" option, read at start-up
  int idle_frames = 0, idle_clock = 0;
  int display_frames = 0, display_clock = 0;
};
extern AppState g_app;

// GLUT idle callback: stops a stream whose file has ended, steps a live
// transform and analyses every slot on each new clock tick.
void idle_step();
// Stops the callbacks and waits until the GUI thread has parked; call before
// ending the process from another thread (the toolkit and the GL driver must
// not be torn down under a frame).
void quiet_gui();
// GLUT display callback: draw_slots, a picture if one was asked for, swap.
void display_frame();
// Every visible slot through its renderer (GuiMutex held); false when none
// is visible.
bool draw_slots(graphs_t &manager);
// A whole picture (GuiMutex held): cleared, then draw_slots, or the idle
// screen when no slot is visible. The display callback's drawing.
void draw_picture(graphs_t &manager);
// GLUT keyboard callback of the window: p a picture of the next frame, r the
// start view, f the visible displays framed.
void window_key(unsigned char key, int x, int y);
// glutInit on the calling thread, tried again while the X server refuses
// the connection; false (why: the toolkit's words) after ten refusals.
bool init_glut(const char **why);
// The per-kind analysis of every slot (GuiMutex held by the caller).
void analyse_slots(graphs_t &manager);
// True when an X display with GLX and a double-buffered RGBA visual with
// depth can be had; GLUT would end the process otherwise.
bool window_possible(const char **why);
// Body of the GUI thread (argument: int *window_id).
void *gui_thread_main(void *window_id);

// Console handlers of "plot" and "mute".
int plot_command(char *line);
int mute_command(char *line);
