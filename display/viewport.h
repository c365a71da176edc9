// Mouse-driven zoom/pan/rotate of the scene, accumulated in the GL modelview
// matrix; orthographic projection following the window's aspect.
#pragma once

#include <pthread.h>

struct graphs_t;

struct Viewport {
  double left, right, bottom, top;
  double near = -10, far = 10;
  double modelview[16];
  double modelview_inverse[16];
  int last_x, last_y;
  int left_down, middle_down, right_down;
  double drag_origin[3];
  float pivot[3];
  void (*pick_draw)();
  void (*pick_result)(int name);
  // The console reads the view from another thread: a copy taken under this
  // lock after every change, so a reading never sees half a matrix.
  pthread_mutex_t copy_lock = PTHREAD_MUTEX_INITIALIZER;
  double shared_modelview[16] = {0.9, 0, 0, 0, 0, 0.9, 0, 0, 0, 0, 0.9, 0, 0, 0, 0, 1};  // the start-up view
};

extern Viewport g_viewport;

// GUI thread, once, after the start-up scale: read the matrix and register
// reshape, mouse and motion.
void viewport_init();
void reshape(int w, int h);
void mouse(int button, int state, int x, int y);
void motion(int x, int y);
void pick(double x, double y, double width, double height);

// The start view: from above, scale 0.9 (altitude 90, azimuth 270). GUI thread.
void view_reset();
// Frames the visible displays for a picture of width x height pixels: a view
// from above, zoomed and centred so that everything they draw lies inside it
// (nothing visible: the start view). Measures by drawing them into the
// current GL buffer, which the caller then draws anew. GUI thread, GL context
// current, GuiMutex held; callable without a key press.
void frame_displays(graphs_t &manager, int width, int height);
// The view from above that shows the scene box x0..x1, y0..y1 (with depths
// z0..z1) centred in a width x height picture, with a margin.
void framing_matrix(const double box[6], int width, int height, double out[16]);

// Scene position of a window point under the current GL viewport.
void viewport_scene_position(int x, int y, double out[3]);
// General 4x4 inverse by cofactors; false (target untouched) when singular.
bool invert_matrix(const double m[16], double out[16]);
// Altitude and azimuth in degrees and scale of a modelview matrix.
void view_angles_of(const double m[16], double &altitude, double &azimuth, double &scale);
// Of the current view (any thread); installed as the set VIEWPORT query.
void view_angles(double &altitude, double &azimuth, double &scale);
