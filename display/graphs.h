// Display manager: the four display slots, GuiMutex, the data feed and the
// live transform state; the GUI thread's body.
#pragma once

#include <pthread.h>

#include <atomic>

#include "audio/feed.h"
#include "display/transform_state.h"

struct Analyser;
struct AnalysisLog;
struct IfsNode;
struct MirrorState;

// What the idle step computes for a slot of a graph type.
enum FeedKind { kFeedNothing = 0, kFeedSpectrum = 1, kFeedWavelet = 2, kFeedW2d = 3 };

struct GraphType {
  const char *name;
  int feed_kind;
};

enum GraphTypeNumber {
  kGraphHide = 0,
  kGraphFft = 1,
  kGraphC5 = 2,
  kGraphC5c = 3,
  kGraphWlet = 4,
  kGraphW2d = 5,
  kGraphIfs = 6,
  kGraphIviv = 7,
  kGraphSpiral = 8,
  kGraphTransform = 9,
  kGraphOrigami = 10,
  kGraphMirror = 11,
  kGraphTypes = 12,
};

// Indexed by GraphTypeNumber; a row with no name ends it.
extern const GraphType kGraphTypeTable[kGraphTypes + 1];

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
  IfsNode *slice;
};

struct graphs_t;

// Draws one slot; the analyser is null only for graph types of feed kind 0,
// the log is null until analysis logging exists. Called with GuiMutex held.
typedef void (*Renderer)(graphs_t &manager, int slot_index, Analyser *analyser, DisplaySlot &slot,
                         AnalysisLog *log);

// Renderers by graph type. The display's own graphs are there from the start;
// the harmonic displays and the transformation view (type 9, which chooses
// its view by the live mode itself) register theirs at start-up.
void register_renderer(int type, Renderer renderer);
Renderer renderer_for(int type);

// Mirror work state, made and freed by the mirror display (installed there).
struct MirrorHooks {
  MirrorState *(*make)(double bass, double growth, double sample_rate, int iterations);
  void (*release)(MirrorState *state);
};
extern MirrorHooks g_mirror_hooks;

struct graphs_t {
  std::atomic<int> stopping{0};  // set once at shutdown; callbacks then return at once
  pthread_mutex_t mutex;         // GuiMutex
  std::atomic<int> acqdelay{1};
  std::atomic<int> guidelay{1};
  double relh = 0.66;     // iviv tree apex height
  double hshrink = 1.0;   // per-level factor of relh
  DataFeed *feed = nullptr;
  Analyser *analysers[kDisplays] = {};
  DisplaySlot slots[kDisplays] = {};
  TransformState live{};
  std::atomic<int> gui_running{0};  // the GUI thread's loop is live
  std::atomic<int> gui_probed{0};   // the display was probed (and any warning printed)
  std::atomic<int> has_window{0};   // the GUI thread runs a GLUT window
  pthread_t gui_thread_id{};        // valid once gui_running is set
  AnalysisLog *logs[kDisplays] = {};

  graphs_t();
  ~graphs_t();

  // Display configuration for a new input (null: the sound card).
  void configure(const char *input);
  void read_display_options();
  // The same for a command outside the display configuration: takes GuiMutex.
  void reread_display_options();
  // Makes the slot's analyser (once) and the work buffers its type needs;
  // sets the tuning bin.
  void create_analyser(int slot);
  // Frequency in Hz of the slot's picked bin; -1 when there is none.
  double slice_frequency(int slot);
  void print_displays();
  // Stops the input stream and closes the analysis logs.
  void shutdown();
};

extern graphs_t g_graphs;

// Program-wide GUI-side state.
struct AppState {
  int gui_window = 0;
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
// GLUT display callback: every visible slot through its renderer, or the
// idle screen.
void display_frame();
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
