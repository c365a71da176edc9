// Program entry: banner, settings, optional demonstration, GUI thread, console.
#include <readline/readline.h>
#include <unistd.h>
#include <fcntl.h>
#include <signal.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/command_line.h"
#include "console/console.h"
#include "console/render.h"
#include "display/graphs.h"
#include "display/slot_readers.h"
#include "harmonic/harmonic.h"
#include "media/transform_view.h"
#include "options/notice.h"
#include "options/options.h"

pthread_t gui_thread;
bool g_console_detached = false;

static const char kVersion[] = "v1.9-jan-2010";

void exit_notice() {
  if (pthread_equal(gui_thread, pthread_self())) {
    // The display's loss has said its own line.
    if (!g_graphs.display_lost.load()) print_notice("\n\nExit via close button... ");
    // readline still owns the terminal on the main thread: give echo and
    // line editing back before the process goes.
    rl_deprep_terminal();
  }
}

void detach_console() {
  // Like FreeConsole: the process keeps running without its terminal.
  fflush(stdout);
  fflush(stderr);
  int null_fd = open("/dev/null", O_RDWR);
  if (null_fd >= 0) {
    dup2(null_fd, STDIN_FILENO);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
    if (null_fd > STDERR_FILENO) close(null_fd);
  }
  g_console_detached = true;
}

namespace {

// Signals that end the program; blocked in every thread but the one that
// waits for them, so they arrive where the way out can be taken safely.
sigset_t g_ending_signals;

void *signal_main(void *) {
  pthread_detach(pthread_self());
  int sig = 0;
  while (sigwait(&g_ending_signals, &sig) != 0) {
  }
  // readline may hold the terminal on the main thread.
  rl_deprep_terminal();
  leave_program(0, "exit.\n");
}

}  // namespace

int main(int argc, char **argv) {
  RenderRequest render;
  const int early = handle_command_line(argc, argv, kVersion, &render);
  if (early >= 0) return early;
  if (early == kStartRender) {
    install_display_graphs();
    install_harmonic_graphs();
    install_media_graphs();
    return run_render(render, kVersion);
  }
  // Before any thread exists, so every later thread inherits the mask.
  sigemptyset(&g_ending_signals);
  sigaddset(&g_ending_signals, SIGINT);
  sigaddset(&g_ending_signals, SIGTERM);
  sigaddset(&g_ending_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &g_ending_signals, nullptr);
  // The GUI thread talks to X; older libX11 needs this before any other call.
  XInitThreads();
  // Every graph type, by the folder that brings it; before any settings are
  // read or the GUI thread runs.
  install_display_graphs();
  install_harmonic_graphs();
  install_media_graphs();
  install_analysis_logs();
  printf("yelm %s - harmonic audio viewer and music transforms\n", kVersion);
  g_options.set(-1, "VERSION", kVersion);
  if (g_options.load_file(".yelmrc") == 0) printf(".yelmrc had errors.\n");
  // Once: the window is made with this size.
  window_size_of(g_options.get_text(-1, "window", false, nullptr), g_app.window_width, g_app.window_height);

  int demo = g_options.get_int(-1, "demo", false, 0);
  if (demo != 0) {
    // Without a window there would be nothing left to end the demonstration
    // with: the console stays, and the GUI thread's warning says why.
    const char *why = "";
    if (window_possible(&why)) detach_console();
    char empty[1] = {0};
    bool matched = false;
    char word[8];
    strcpy(word, demo == 1 ? "mirage" : "tfield");
    for (const CommandEntry *row = kCommandTable; row->name; ++row)
      if (strcmp(row->name, word) == 0) {
        row->handler(empty);
        matched = true;
      }
    (void)matched;
  }

  atexit(exit_notice);
  // readline sets up its locale on first use, and Xlib reads the locale as
  // the window opens: do readline's part before the GUI thread exists.
  // Signals are the signal thread's, not readline's.
  rl_catch_signals = 0;
  rl_initialize();
  pthread_t signal_thread;
  if (pthread_create(&signal_thread, nullptr, signal_main, nullptr) != 0) {
    printf("*** warning: no signal thread: ctrl-c ends the program without its shutdown\n");
    pthread_sigmask(SIG_UNBLOCK, &g_ending_signals, nullptr);
  }
  if (pthread_create(&gui_thread, nullptr, gui_thread_main, &g_app.gui_window) != 0) {
    printf("pthread_create() error");
    return 1;
  }
  // Not the window, only the display probe: its warning must not land in
  // the middle of the first prompt.
  for (int n = 0; n < 200 && !g_graphs.gui_probed.load(std::memory_order_acquire); ++n) usleep(5 * 1000);

  if (g_console_detached) {
    // No terminal to read from: the demonstration runs until the window
    // closes or the process is signalled.
    for (;;) pause();
  }
  run_console();
  leave_program(0, "exit.\n");
}
