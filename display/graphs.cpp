// Display manager: construction, configuration, shutdown, GUI thread.
#include "display/graphs.h"

#include <cstdio>

#include "audio/feed.h"
#include "options/options.h"

graphs_t g_graphs;
AppState g_app;

graphs_t::graphs_t() {
  pthread_mutex_init(&mutex, nullptr);
  feed = new DataFeed;
}

graphs_t::~graphs_t() {}

void graphs_t::read_display_options() {
  live.transform_delay = g_options.get_int(-1, "transformdelay", false, 0);
}

void graphs_t::configure(const char *input) {
  printf("live capture is not available yet in this build\n");
}

void graphs_t::shutdown() {}

void *gui_thread_main(void *window_id) {
  // The window and the frame loop are not built yet: the thread has no work.
  return nullptr;
}
