// Helpers of the whole-program tests with a window.
#include "tests/support/live_kit.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "tests/support/testkit.h"

namespace livekit {

namespace {
const char kTitle[] = "yelm >- DOV Audio Viewer";
}

bool have_display() {
  const char *d = getenv("DISPLAY");
  return d && *d;
}

std::string demo_wav() { return std::string(YELM_SOURCE_DIR) + "/examples/demo.wav"; }

bool Yelm::start(const std::string &cwd, bool with_display, bool file_card) {
  int pin[2], pout[2];
  if (pipe(pin) || pipe(pout)) return false;
  pid = fork();
  if (pid == 0) {
    dup2(pin[0], 0);
    dup2(pout[1], 1);
    dup2(pout[1], 2);
    close(pin[1]);
    close(pout[0]);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    if (!with_display) unsetenv("DISPLAY");
    if (file_card) {
      setenv("ALSA_CONFIG_PATH", (std::string(YELM_SOURCE_DIR) + "/tests/support/asound.conf").c_str(), 1);
      setenv("VSND_IN", "/dev/zero", 1);
      setenv("VSND_OUT", "/dev/null", 1);
    }
    for (const auto &kv : env) setenv(kv.first.c_str(), kv.second.c_str(), 1);
    execl(YELM_BINARY_PATH, YELM_BINARY_PATH, static_cast<char *>(nullptr));
    _exit(127);
  }
  close(pin[0]);
  close(pout[1]);
  in = pin[1];
  out = pout[0];
  fcntl(out, F_SETFL, O_NONBLOCK);
  return pid > 0;
}

void Yelm::send(const std::string &line) {
  std::string l = line + "\n";
  ssize_t n = write(in, l.data(), l.size());
  (void)n;
}

void Yelm::pump(int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{out, POLLIN, 0};
    if (poll(&p, 1, 20) > 0) {
      char buf[65536];
      ssize_t n = read(out, buf, sizeof buf);
      if (n > 0) text.append(buf, n);
      // At the pipe's end poll answers at once: do not spin.
      else std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
}

bool Yelm::wait_for(const std::string &what, int ms, size_t from) {
  for (int t = 0; t < ms; t += 50) {
    if (text.find(what, from) != std::string::npos) return true;
    pump(50);
  }
  return text.find(what, from) != std::string::npos;
}

std::string Yelm::ask(const std::string &command, const std::string &answer) {
  size_t from = text.size();
  send(command);
  if (!wait_for(answer, 5000, from)) return "";
  size_t p = text.find(answer, from);
  for (int t = 0; t < 5000 && text.find('\n', p) == std::string::npos; t += 50) pump(50);
  return text.substr(p, text.find('\n', p) - p);
}

bool Yelm::wait_exit(int ms) {
  for (int t = 0; t < ms; t += 50) {
    pump(50);
    int st;
    if (waitpid(pid, &st, WNOHANG) == pid) {
      status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      pump(100);
      pid = -1;
      return true;
    }
  }
  return false;
}

long Yelm::cpu_ticks() const {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/stat", pid);
  std::string s = testkit::read_file(path);
  size_t close_paren = s.rfind(')');
  if (close_paren == std::string::npos) return -1;
  std::vector<std::string> f;
  size_t p = close_paren + 2;
  while (p < s.size()) {
    size_t q = s.find(' ', p);
    f.push_back(s.substr(p, q - p));
    if (q == std::string::npos) break;
    p = q + 1;
  }
  // fields after the name: state is [0]; utime [11], stime [12]
  return f.size() > 12 ? atol(f[11].c_str()) + atol(f[12].c_str()) : -1;
}

Yelm::~Yelm() {
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  if (in >= 0) close(in);
  if (out >= 0) close(out);
}

long window_pid(Display *dpy, Window w) {
  Atom type;
  int format;
  unsigned long items, after;
  unsigned char *data = nullptr;
  long pid = -1;
  if (XGetWindowProperty(dpy, w, XInternAtom(dpy, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL, &type, &format,
                         &items, &after, &data) == Success &&
      data && items == 1 && format == 32)
    pid = static_cast<long>(*reinterpret_cast<unsigned long *>(data));
  if (data) XFree(data);
  return pid;
}

Window find_window(Display *dpy, Window w, pid_t pid) {
  char *name = nullptr;
  if (XFetchName(dpy, w, &name) && name) {
    bool match = strcmp(name, kTitle) == 0;
    XFree(name);
    if (match && window_pid(dpy, w) == pid) return w;
  }
  Window root, parent, *children = nullptr;
  unsigned n = 0;
  if (!XQueryTree(dpy, w, &root, &parent, &children, &n)) return 0;
  Window found = 0;
  for (unsigned i = 0; i < n && !found; ++i) found = find_window(dpy, children[i], pid);
  if (children) XFree(children);
  return found;
}

Window wait_window(Display *dpy, pid_t pid, int ms) {
  for (int t = 0; t < ms; t += 50) {
    Window w = find_window(dpy, DefaultRootWindow(dpy), pid);
    if (w) return w;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return 0;
}

void send_close(Display *dpy, Window w) {
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(dpy, w, False, NoEventMask, &e);
  XFlush(dpy);
}

Picture look(Display *dpy, Window w) {
  Picture p;
  XWindowAttributes a;
  if (!XGetWindowAttributes(dpy, w, &a)) return p;
  XImage *img = XGetImage(dpy, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
  if (!img) return p;
  std::set<unsigned long> seen;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      unsigned long px = XGetPixel(img, x, y) & 0xffffff;
      if (px) ++p.lit;
      if (seen.size() < 4096) seen.insert(px);
    }
  p.colours = static_cast<int>(seen.size());
  p.total = a.width * a.height;
  XDestroyImage(img);
  return p;
}

bool xdotool(const std::string &args) {
  std::string cmd = "timeout 20 xdotool " + args + " >/dev/null 2>&1";
  return system(cmd.c_str()) == 0;
}

bool JackServer::start(int rate, const std::string &dir) {
  const std::string run = "JACK_NO_AUDIO_RESERVATION=1 jackd -n " + name + " -d dummy -r " + std::to_string(rate) +
                          " -p 64 >" + dir + "/jackd.log 2>&1 & echo $! >" + dir + "/jackd.pid";
  if (system(run.c_str()) != 0) return false;
  pid = atoi(testkit::read_file(dir + "/jackd.pid").c_str());
  return pid > 0 && system(("jack_wait -s " + name + " -w -t 10 >/dev/null 2>&1").c_str()) == 0;
}

std::pair<double, double> JackServer::clocks() const {
  double frames = -1, usecs = -1;
  FILE *p = popen(("JACK_DEFAULT_SERVER=" + name + " timeout -s KILL 1 jack_showtime 2>/dev/null | head -1").c_str(), "r");
  if (p && fscanf(p, "frame = %*d frame_time = %lf usecs = %lf", &frames, &usecs) != 2) frames = -1;
  if (p) pclose(p);
  return {frames, usecs};
}

void JackServer::stop(int signal) {
  if (pid <= 0 || kill(pid, signal) != 0) return;
  for (int n = 0; n < 100 && kill(pid, 0) == 0; ++n) usleep(20 * 1000);
  pid = -1;
}

bool XServer::start(const std::string &dir) {
  // The server writes its display number into a regular file once ready
  // (into a pipe it now and then fails); a busy machine may need a retry.
  const std::string num = dir + "/xserver.num";
  for (int attempt = 0; attempt < 3 && pid < 0; ++attempt) {
    remove(num.c_str());
    const std::string run = "exec 3>" + num + "; Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 & echo $! >" +
                            dir + "/xserver.pid";
    if (system(run.c_str()) != 0) continue;
    const int started = atoi(testkit::read_file(dir + "/xserver.pid").c_str());
    for (int n = 0; n < 200 && testkit::read_file(num).empty(); ++n) usleep(50 * 1000);
    const std::string text = testkit::read_file(num);
    if (text.empty()) {
      if (started > 0) kill(started, SIGKILL);
      continue;
    }
    pid = started;
    display = ":" + text.substr(0, text.find('\n'));
  }
  return pid > 0;
}

void XServer::stop() {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  for (int n = 0; n < 100 && kill(pid, 0) == 0; ++n) usleep(20 * 1000);
  pid = -1;
}

}  // namespace livekit
