// Program entry: banner, settings, optional demonstration, GUI thread, console.
#include <readline/history.h>
#include <readline/readline.h>
#include <unistd.h>
#include <fcntl.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/command_line.h"
#include "console/console.h"
#include "display/graphs.h"
#include "harmonic/harmonic.h"
#include "media/transform_view.h"
#include "options/options.h"

pthread_t gui_thread;
bool g_console_detached = false;

static const char kVersion[] = "v1.9-jan-2010";

void exit_notice() {
  if (pthread_equal(gui_thread, pthread_self())) {
    printf("\n\nExit via close button... ");
    fflush(stdout);
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

void run_console() {
  for (;;) {
    char *line = readline("yelm--scope$ ");
    if (!line) {
      quiet_gui();
      exit(1);
    }
    if (line[0] == 0) {
      free(line);
      continue;
    }
    add_history(line);
    int result = dispatch_command(line, nullptr);
    free(line);
    fflush(stdout);
    if (result < 0) return;
  }
}

int main(int argc, char **argv) {
  const int early = handle_command_line(argc, argv, kVersion);
  if (early >= 0) return early;
  // The GUI thread talks to X; older libX11 needs this before any other call.
  XInitThreads();
  // Every graph type, by the folder that brings it; before any settings are
  // read or the GUI thread runs.
  install_display_graphs();
  install_harmonic_graphs();
  install_media_graphs();
  printf("yelm %s - harmonic audio viewer and music transforms\n", kVersion);
  g_options.set(-1, "VERSION", kVersion);
  if (g_options.load_file(".yelmrc") == 0) printf(".yelmrc had errors.\n");

  int demo = g_options.get_int(-1, "demo", false, 0);
  if (demo != 0) {
    detach_console();
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
  rl_initialize();
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

  g_graphs.shutdown();
  g_graphs.stopping = 1;
  usleep(300 * 1000);
  quiet_gui();
  printf("exit.\n");
  fflush(stdout);
  return 0;
}
