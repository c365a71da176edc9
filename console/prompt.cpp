// The read-dispatch loop. On a terminal the prompt runs through readline's
// callback interface: lines that other threads print (print_notice) go above
// it, and the prompt and the typed text are drawn again under them. On a pipe
// the plain readline loop runs, as scripts have always seen it.
#include <fcntl.h>
#include <pthread.h>
#include <readline/history.h>
#include <readline/readline.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "display/graphs.h"
#include "options/notice.h"

namespace {

const char kPrompt[] = "yelm--scope$ ";

// Runs one line as typed; false when the console ends.
bool run_line(char *line) {
  if (line[0] == 0) {
    free(line);
    return true;
  }
  add_history(line);
  // The way out lets a running command finish its file (leave_program).
  g_graphs.command_thread = pthread_self();
  g_graphs.command_running.store(1, std::memory_order_release);
  const int result = dispatch_command(line, nullptr);
  g_graphs.command_running.store(0, std::memory_order_release);
  free(line);
  fflush(stdout);
  return result >= 0;
}

void run_piped() {
  for (;;) {
    char *line = readline(kPrompt);
    if (!line) leave_program(1, nullptr);
    if (!run_line(line)) return;
  }
}

// Other threads write their lines into this pipe while the prompt shows;
// the console's thread prints them. Each line is one write of at most
// 1 KB, so it never mixes with another.
int g_pipe[2] = {-1, -1};
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
bool g_prompt_shown = false;  // under g_lock
// Lines read from the pipe and not yet printed (a read may end inside one).
char g_waiting[8192];
size_t g_waiting_count = 0;

void print_plain(const char *text, size_t n) {
  fwrite(text, 1, n, stdout);
  fflush(stdout);
}

// Any thread but the console's.
void show_notice(const char *line) {
  const size_t n = strlen(line);
  pthread_mutex_lock(&g_lock);
  // A full pipe (the console's thread held up) prints it as it comes.
  if (!g_prompt_shown || write(g_pipe[1], line, n) != static_cast<ssize_t>(n)) print_plain(line, n);
  pthread_mutex_unlock(&g_lock);
}

// g_lock held: what the pipe holds, printed as it is.
void print_waiting() {
  print_plain(g_waiting, g_waiting_count);
  g_waiting_count = 0;
  char buf[4096];
  ssize_t n;
  while ((n = read(g_pipe[0], buf, sizeof buf)) > 0) print_plain(buf, static_cast<size_t>(n));
}

// The way out (any thread): the prompt stays as it was, on a line of its own.
void release_prompt() {
  pthread_mutex_lock(&g_lock);
  if (g_prompt_shown) {
    print_plain("\n", 1);
    print_waiting();
    g_prompt_shown = false;
  }
  pthread_mutex_unlock(&g_lock);
}

// The console's thread, prompt shown: whole lines waiting go above it.
void show_waiting_lines() {
  pthread_mutex_lock(&g_lock);
  if (g_prompt_shown) {
    const ssize_t n = read(g_pipe[0], g_waiting + g_waiting_count, sizeof g_waiting - g_waiting_count);
    if (n > 0) g_waiting_count += static_cast<size_t>(n);
    size_t whole = g_waiting_count;
    while (whole > 0 && g_waiting[whole - 1] != '\n') --whole;
    if (whole == 0 && g_waiting_count == sizeof g_waiting) whole = g_waiting_count;
    if (whole > 0) {
      rl_clear_visible_line();
      print_plain(g_waiting, whole);
      memmove(g_waiting, g_waiting + whole, g_waiting_count - whole);
      g_waiting_count -= whole;
      rl_on_new_line();
      rl_redisplay();
    }
  }
  pthread_mutex_unlock(&g_lock);
}

char *g_line = nullptr;
bool g_line_taken = false;

void take_line(char *line) {
  g_line = line;
  g_line_taken = true;
  // Back to the terminal's own mode while the command runs.
  rl_callback_handler_remove();
}

void run_terminal() {
  set_notice_hook(show_notice, release_prompt);
  for (;;) {
    g_line_taken = false;
    pthread_mutex_lock(&g_lock);
    g_prompt_shown = true;
    pthread_mutex_unlock(&g_lock);
    rl_callback_handler_install(kPrompt, take_line);
    while (!g_line_taken) {
      fd_set ready;
      FD_ZERO(&ready);
      FD_SET(STDIN_FILENO, &ready);
      FD_SET(g_pipe[0], &ready);
      if (select(g_pipe[0] + 1, &ready, nullptr, nullptr, nullptr) < 0) {
        if (errno == EINTR) continue;
        g_line = nullptr;  // the terminal is gone: as at the end of input
        rl_callback_handler_remove();
        break;
      }
      if (FD_ISSET(g_pipe[0], &ready)) show_waiting_lines();
      if (FD_ISSET(STDIN_FILENO, &ready)) rl_callback_read_char();
    }
    // Lines that came with the typed one go before the command's output.
    pthread_mutex_lock(&g_lock);
    if (g_prompt_shown) print_waiting();
    g_prompt_shown = false;
    pthread_mutex_unlock(&g_lock);
    if (!g_line) leave_program(1, nullptr);
    if (!run_line(g_line)) return;
  }
}

}  // namespace

void run_console() {
  if (isatty(STDIN_FILENO) && isatty(STDOUT_FILENO) && pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) == 0)
    run_terminal();
  else
    run_piped();
}
