// The window the frame-time benchmarks draw in: the program's title and
// size, opened with retries, since a busy X server now and then refuses a
// connection.
#pragma once

#include <GL/freeglut.h>
#include <GL/freeglut_ext.h>

#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "display/graphs.h"

// Opens the window, or says why not (prefixed by `what`: no DISPLAY, no
// GLX, refused) and returns false.
inline bool open_bench_window(const char *what, int size = 400) {
  const char *display = getenv("DISPLAY");
  if (!display || !*display) {
    printf("%s: DISPLAY is not set, skipped\n", what);
    return false;
  }
  const char *why = "";
  if (!window_possible(&why)) {
    printf("%s: no window (%s), skipped\n", what, why);
    return false;
  }
  int argc = 1;
  char name[] = "bench";
  char *argv[] = {name, nullptr};
  static sigjmp_buf failed;
  static volatile int attempts = 0;
  glutInitErrorFunc([](const char *, va_list) { siglongjmp(failed, 1); });
  if (sigsetjmp(failed, 1) && ++attempts >= 20) {
    printf("%s: the display refused the window, skipped\n", what);
    return false;
  }
  argc = 1;
  glutInit(&argc, argv);
  glutInitErrorFunc(nullptr);
  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(size, size);
  glutInitWindowPosition(0, 0);
  glutCreateWindow("yelm >- DOV Audio Viewer");
  glEnable(GL_DEPTH_TEST);
  g_graphs.has_window = 1;
  return true;
}

// The program's start-up view: a unit cube seen head on, scaled by 0.9.
inline void standard_bench_view() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(-1, 1, -1, 1, -10, 10);
  glMatrixMode(GL_MODELVIEW);
  glScalef(0.9f, 0.9f, 0.9f);
}
