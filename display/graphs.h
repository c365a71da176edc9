// Display manager: the four display slots, GuiMutex, the data feed and the
// live transform state; the GUI thread's body.
#pragma once

#include <pthread.h>

#include <atomic>

#include "display/display_slot.h"
#include "display/transform_state.h"

struct Analyser;
struct DataFeed;

struct graphs_t {
  std::atomic<int> stopping{0};  // set once at shutdown; callbacks then return at once
  pthread_mutex_t mutex;         // GuiMutex
  int acqdelay = 1;
  int guidelay = 1;
  TransformState live{};
  DataFeed *feed = nullptr;
  Analyser *analysers[4] = {};
  DisplaySlot slots[4] = {};

  graphs_t();
  ~graphs_t();

  // Display configuration for a new input (null: the sound card).
  void configure(const char *input);
  void read_display_options();
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

// Body of the GUI thread (argument: int *window_id).
void *gui_thread_main(void *window_id);
