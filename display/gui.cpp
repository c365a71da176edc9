// The GUI thread: the GLUT window with its idle and display callbacks, the
// renderer table, and a window-less loop when no display can be had.
#include <GL/freeglut.h>
#include <GL/freeglut_ext.h>
#include <GL/glu.h>
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <time.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "display/analyser.h"
#include "display/graphs.h"
#include "display/snapshot.h"
#include "display/text.h"
#include "display/viewport.h"
#include "options/notice.h"

namespace {

// With nothing running the loop would spin a core redrawing the same
// picture; this pause keeps it near idle and the mouse still responsive.
constexpr useconds_t kQuietPauseUs = 40 * 1000;
// The window-less loop's pause between passes while an input runs.
constexpr useconds_t kHeadlessPauseUs = 5 * 1000;

bool input_running(const DataFeed *feed) {
  return feed && feed->stream.load(std::memory_order_acquire) && feed->state.load() == kFeedRunning;
}

void report_gl_error() {
  GLenum err = glGetError();
  if (err != GL_NO_ERROR) print_notice("-%s", gluErrorString(err));
}

}  // namespace

void analyse_slots(graphs_t &m) {
  DataFeed *feed = m.feed;
  const int start = feed->current_index();
  for (int i = 0; i < kDisplays; ++i) {
    Analyser *a = m.analysers[i];
    if (!a) continue;
    const DisplaySlot &s = m.slots[i];
    // The ring (and its wavelet levels) come from the display's source; the
    // fb band is the display's own, cut at its own tuning.
    const int ring = m.ring_of(i);
    switch (g_graph_types[s.type].feed_kind) {
      case kFeedSpectrum: {
        const BandFilter *band = feed->feedback[i];
        a->spectrum_step(feed->window[ring], start, kRingLength, i % 2, band && band->kind ? band : nullptr);
        break;
      }
      case kFeedWavelet: {
        const std::atomic<double> *levels = feed->wavelet[ring];
        if (!levels) break;
        const int wstart = feed->wavelet_index[ring].load(std::memory_order_acquire);
        for (int j = 0; j < kWaveletLevels; ++j) {
          const std::atomic<double> *level = levels + kWaveletLength * j;
          if (s.wlet_detail)
            a->detail_step(j, level, j > 0 ? level - kWaveletLength : nullptr, wstart, kWaveletLength);
          else
            a->level_step(j, level, wstart, kWaveletLength);
        }
        break;
      }
      case kFeedW2d:
        a->w2d_step(feed->window[ring], start, kRingLength);
        break;
      default:
        break;
    }
  }
  const double t = feed->time.load(std::memory_order_relaxed);
  for (Analyser *a : m.analysers)
    if (a) a->update_time_span(t);
}

void idle_step() {
  graphs_t &m = g_graphs;
  if (m.stopping) {
    // The process is ending (leave_program, step 4). Park here for good:
    // once the exit handlers finalise freeglut, any further GLUT call from
    // this thread would end in a second, concurrent exit. quiet_gui and the
    // manager's teardown wait for this flag.
    m.gui_running.store(0, std::memory_order_release);
    if (m.has_window.load(std::memory_order_acquire))
      for (;;) pause();
    return;
  }
  // Without GuiMutex: stop() sleeps while the callback winds down.
  if (m.feed->state.load() == kFeedEnded) m.feed->stop_if_ended();

  // A live transform steps only while its capture runs; its fields are
  // read under GuiMutex alone. Without them the picture only changes when
  // something else changes it: it is not drawn again for nothing.
  if (!input_running(m.feed)) {
    usleep(kQuietPauseUs);
    if (m.redraw.exchange(0, std::memory_order_relaxed) && m.has_window.load(std::memory_order_relaxed))
      glutPostRedisplay();
    return;
  }

  int now = static_cast<int>(clock());
  if (now == g_app.idle_clock) return;
  g_app.idle_clock = now;
  if (++g_app.idle_frames % m.acqdelay != 0) return;

  {
    GuiLock lock(m);
    if (input_running(m.feed)) {
      TransformState &v = m.live;
      if (live_active(v)) {
        v.in_count = m.feed->copy_oldest(v.in_block, v.block_size, 0);
        if (v.step_hook) v.step_hook(&v);
        const long long pause = transform_pause_us(v.transform_delay);
        if (pause > 0) {
          timespec t = {static_cast<time_t>(pause / 1000000), static_cast<long>(pause % 1000000) * 1000};
          nanosleep(&t, nullptr);
        }
      }
      analyse_slots(m);
    }
  }
  if (m.has_window.load(std::memory_order_relaxed)) glutPostRedisplay();
}

bool draw_slots(graphs_t &m) {
  bool drawn = false;
  for (int i = 0; i < kDisplays; ++i) {
    DisplaySlot &s = m.slots[i];
    if (s.type == kGraphHide) continue;
    Analyser *a = m.analysers[i];
    const GraphType &type = g_graph_types[s.type];
    if (!a && type.feed_kind != kFeedNothing) continue;
    if (type.draw) type.draw(m, i, a, s, m.logs[i]);
    // A type with nothing to draw yet counts as drawn: its slot is set.
    drawn = true;
  }
  return drawn;
}

void draw_picture(graphs_t &m) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (!draw_slots(m)) draw_idle_screen(m);
}

void window_key(unsigned char key, int, int) {
  switch (key) {
    case 'p':
      ask_picture();
      break;
    case 'r':
      view_reset();
      break;
    case 'f': {
      GuiLock lock;
      frame_displays(g_graphs, glutGet(GLUT_WINDOW_WIDTH), glutGet(GLUT_WINDOW_HEIGHT));
      break;
    }
    default:
      return;
  }
  glutPostRedisplay();
}

void display_frame() {
  graphs_t &m = g_graphs;
  if (m.stopping) return;
  int now = static_cast<int>(clock());
  if (now == g_app.display_clock) {
    // A frozen frame gets no other call: keep this one for the next pass.
    glutPostRedisplay();
    return;
  }
  g_app.display_clock = now;
  ++g_app.display_frames;
  if (input_running(m.feed) && g_app.display_frames % m.guidelay != 0) return;

  bool broken = false;
  {
    GuiLock lock(m);
    draw_picture(m);
    snapshot_if_asked();
    glutSwapBuffers();
    static bool exit_guard = false;
    if (!exit_guard) {
      // For an exit() that does not come through leave_program (the
      // toolkit's own fatal errors): registered after freeglut and the GL
      // driver have set up, so it runs before their exit handlers.
      exit_guard = true;
      atexit(quiet_gui);
    }
    GLenum err = glGetError();
    if (err != GL_NO_ERROR) {
      print_notice("-%s", gluErrorString(err));
      broken = glGetError() != GL_NO_ERROR;
    }
  }
  if (broken) {
    // A second pending error: the GL context is gone. Out of the lock, so the
    // way out can take it.
    leave_program(0, nullptr);
  }
}

namespace {

// A busy X server now and then refuses a connection outright; try a few
// times before calling it unreachable.
Display *open_display() {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (Display *dpy = XOpenDisplay(nullptr)) return dpy;
    usleep(20 * 1000);
  }
  return nullptr;
}

// freeglut ends the process when it cannot open its own connection; during
// set-up its error function jumps back here instead, so the attempt can be
// repeated.
sigjmp_buf g_glut_failed;
char g_glut_error[256];
void glut_setup_error(const char *fmt, va_list ap) {
  vsnprintf(g_glut_error, sizeof g_glut_error, fmt, ap);
  siglongjmp(g_glut_failed, 1);
}

}  // namespace

bool init_glut(const char **why) {
  int argc = 1;
  char empty[1] = {0};
  char *argv[] = {empty, nullptr};
  glutInitErrorFunc(glut_setup_error);
  static volatile int attempts = 0;
  if (sigsetjmp(g_glut_failed, 1)) {
    if (++attempts >= 10) {
      glutInitErrorFunc(nullptr);
      *why = g_glut_error;
      return false;
    }
    usleep(20 * 1000);
  }
  argc = 1;
  glutInit(&argc, argv);
  glutInitErrorFunc(nullptr);
  return true;
}

bool window_possible(const char **why) {
  const char *name = getenv("DISPLAY");
  if (!name || !*name) {
    *why = "DISPLAY is not set";
    return false;
  }
  Display *dpy = open_display();
  if (!dpy) {
    *why = "the X server refused the connection";
    return false;
  }
  int error_base, event_base;
  bool ok = glXQueryExtension(dpy, &error_base, &event_base);
  if (!ok) {
    *why = "the X server has no GLX";
  } else {
    int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_DEPTH_SIZE, 1, None};
    XVisualInfo *visual = glXChooseVisual(dpy, DefaultScreen(dpy), attributes);
    ok = visual != nullptr;
    if (visual) XFree(visual);
    else *why = "no double-buffered RGBA visual with depth";
  }
  XCloseDisplay(dpy);
  return ok;
}

namespace {

// No window: the idle work still stops ended inputs, steps live transforms
// and keeps the analysers current.
void run_headless() {
  graphs_t &m = g_graphs;
  while (!m.stopping) {
    idle_step();
    if (input_running(m.feed)) usleep(kHeadlessPauseUs);
  }
}

// Tells window managers (and scripts) which process owns the window;
// freeglut does not.
void mark_window_pid() {
  Display *dpy = glXGetCurrentDisplay();
  GLXDrawable win = glXGetCurrentDrawable();
  if (!dpy || !win) return;
  unsigned long pid = static_cast<unsigned long>(getpid());
  Atom atom = XInternAtom(dpy, "_NET_WM_PID", False);
  XChangeProperty(dpy, win, atom, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char *>(&pid), 1);
  XFlush(dpy);
}

}  // namespace

void quiet_gui() {
  graphs_t &m = g_graphs;
  m.stopping = 1;
  if (!m.gui_running.load(std::memory_order_acquire) || pthread_equal(pthread_self(), m.gui_thread_id)) return;
  for (int n = 0; n < 400 && m.gui_running.load(std::memory_order_acquire); ++n) usleep(5 * 1000);
}

namespace {

// The window's close button: the program's way out, on this thread. The
// toolkit also calls it for the window it destroys while the process ends.
void close_button() {
  if (!g_graphs.stopping) leave_program(0, nullptr);
}

// The X server went away. Xlib ends the process as soon as this returns, so
// it never does: the program's one way out is taken from here.
int display_lost(Display *) {
  static std::atomic<int> lost{0};
  if (lost.exchange(1)) {
    // The dead connection was touched again while the process ends.
    fflush(stdout);
    _exit(1);
  }
  graphs_t &m = g_graphs;
  m.display_lost.store(1);
  m.drop_lock_if_held();
  leave_program(1, nullptr, "\n*** the display was lost: the X server went away. leaving.\n");
}

}  // namespace

namespace {

// A frame drawn while the window was covered is lost, and the toolkit drops
// the redraw that the uncovering asks for when something covers it again
// before it runs: draw anew whenever the window comes into view.
void window_status(int status) {
  if (status == GLUT_FULLY_RETAINED || status == GLUT_PARTIALLY_RETAINED) glutPostRedisplay();
}

}  // namespace

void *gui_thread_main(void *window_id) {
  // Nobody joins this thread: the process ends while it runs.
  pthread_detach(pthread_self());
  graphs_t &m = g_graphs;
  m.gui_thread_id = pthread_self();
  m.gui_running.store(1, std::memory_order_release);

  const char *why = "";
  if (!window_possible(&why)) {
    printf("*** warning: no window (%s): going on without the viewer\n", why);
    fflush(stdout);
    m.gui_probed.store(1, std::memory_order_release);
    run_headless();
    m.gui_running.store(0, std::memory_order_release);
    return nullptr;
  }

  m.gui_probed.store(1, std::memory_order_release);
  // The console may already be ending (a short script); a window opened now
  // would only race the exit handlers.
  if (m.stopping) {
    m.gui_running.store(0, std::memory_order_release);
    return nullptr;
  }
  if (!init_glut(&why)) {
    printf("*** warning: no window (%s): going on without the viewer\n", why);
    fflush(stdout);
    run_headless();
    m.gui_running.store(0, std::memory_order_release);
    return nullptr;
  }
  XSetIOErrorHandler(display_lost);
  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(g_app.window_width, g_app.window_height);
  // Without a window manager the window would land off-screen.
  glutInitWindowPosition(0, 0);
  int id = glutCreateWindow("yelm >- DOV Audio Viewer");
  *static_cast<int *>(window_id) = id;
  mark_window_pid();
  glutCloseFunc(close_button);
  glutDisplayFunc(display_frame);
  glutIdleFunc(idle_step);
  glutKeyboardFunc(window_key);
  glutWindowStatusFunc(window_status);
  glScalef(0.9f, 0.9f, 0.9f);
  viewport_init();
  report_gl_error();
  glEnable(GL_DEPTH_TEST);
  m.has_window.store(1, std::memory_order_release);
  glutMainLoop();
  return nullptr;
}
