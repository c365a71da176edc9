// Helpers of the whole-program tests with a window: the real yelm as a child
// process with its console on a pipe, its window found on the X server, the
// close button, and what the window shows.
// Include after gtest: Xlib's macros (None, Bool) clash with gtest's names.
#pragma once

#include <X11/Xlib.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace livekit {

bool have_display();
// The bundled example music.
std::string demo_wav();

// yelm with a pipe on standard input and its output (both streams) gathered
// as it comes.
struct Yelm {
  pid_t pid = -1;
  int in = -1, out = -1;
  std::string text;
  int status = -1;
  std::vector<std::pair<std::string, std::string>> env;  // set in the child only

  // file_card: the file-backed sound card of the tests, playing silence.
  bool start(const std::string &cwd, bool with_display = true, bool file_card = false);
  // One console line (the line end is added).
  void send(const std::string &line);
  // Gathers output for ms milliseconds.
  void pump(int ms);
  // Waits until the output holds `what` (from `from` on); false on time-out.
  bool wait_for(const std::string &what, int ms, size_t from = 0);
  // The console's answer to a command: from the first `answer` it prints
  // to the end of that line; empty on time-out.
  std::string ask(const std::string &command, const std::string &answer);
  // Waits for the process to end; false on time-out (it is killed later).
  bool wait_exit(int ms);
  // Processor time used so far, in clock ticks; -1 when unknown.
  long cpu_ticks() const;
  ~Yelm();
};

// The _NET_WM_PID mark the program puts on its window; -1 without one.
long window_pid(Display *dpy, Window w);
// The viewer window of process pid below w (tests may run side by side).
Window find_window(Display *dpy, Window w, pid_t pid);
Window wait_window(Display *dpy, pid_t pid, int ms);
// What a window manager's close button sends.
void send_close(Display *dpy, Window w);

struct Picture {
  int lit = 0;      // pixels that are not black
  int colours = 0;  // distinct colours
  int total = 0;
};
Picture look(Display *dpy, Window w);

// Runs xdotool with these arguments; true when it succeeded.
bool xdotool(const std::string &args);

// jackd's dummy card at one rate, under a name of its own, stopped by its
// PID (at the latest when the record goes).
struct JackServer {
  std::string name = "yelm-test-" + std::to_string(getpid());
  int pid = -1;
  bool start(int rate, const std::string &dir);
  // The card's frame clock and JACK's microsecond clock at one moment. The
  // dummy card keeps its pace only with real-time scheduling; where the
  // machine refuses that it runs slow, so the pace is measured.
  std::pair<double, double> clocks() const;
  void stop(int signal = SIGTERM);
  ~JackServer() { stop(); }
};

// An X server of the test's own (Xvfb), for tests that end it.
struct XServer {
  int pid = -1;
  std::string display;  // ":N"
  bool start(const std::string &dir);
  void stop();
  ~XServer() { stop(); }
};

}  // namespace livekit
