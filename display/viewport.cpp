// Viewport control: projection, mouse rotate/pan/zoom, the pick pass and the
// read-out of the view.
#include "display/viewport.h"

#include <GL/freeglut.h>
#include <GL/glu.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "display/graphs.h"

Viewport g_viewport;

namespace {

constexpr double kDegrees = 57.29577951308232;

void store_matrix() {
  Viewport &v = g_viewport;
  glGetDoublev(GL_MODELVIEW_MATRIX, v.modelview);
  invert_matrix(v.modelview, v.modelview_inverse);
  pthread_mutex_lock(&v.copy_lock);
  memcpy(v.shared_modelview, v.modelview, sizeof v.modelview);
  pthread_mutex_unlock(&v.copy_lock);
}

// A new size shows the same scene anew.
void window_reshape(int w, int h) {
  reshape(w, h);
  glutPostRedisplay();
}

// Share of the picture that a framed scene fills; the rest is margin.
constexpr double kFill = 0.92;
// The measuring pass looks at a square of this half-size first, and at one
// four times larger while what it sees reaches the border.
constexpr double kFirstReach = 4, kLastReach = 1024;

// Draws the visible displays with the scene turned by `turn` degrees about
// x (0: from above; -90: from the front, depth upwards) into a region of
// half-height `reach`, and gives the region their lit pixels cover as
// box[0..1] (x) and box[2..3] (y). False when nothing is lit; `edge` says
// the lit region touches the border (it may go on beyond).
bool lit_region(graphs_t &m, float turn, double reach, unsigned char *pixels, int vw, int vh, double box[4],
                bool &edge) {
  const double aspect = static_cast<double>(vw) / vh;
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(-reach * aspect, reach * aspect, -reach, reach, -100 * reach, 100 * reach);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glRotatef(turn, 1, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  m.measuring = true;
  const bool drawn = draw_slots(m);
  m.measuring = false;
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  if (!drawn) return false;

  glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  // Where it was drawn: the window's back buffer, or a render's framebuffer.
  GLint drawn_into = GL_BACK;
  glGetIntegerv(GL_DRAW_BUFFER, &drawn_into);
  glReadBuffer(static_cast<GLenum>(drawn_into));
  glReadPixels(0, 0, vw, vh, GL_RGB, GL_UNSIGNED_BYTE, pixels);
  glPopClientAttrib();
  int x0 = vw, x1 = -1, y0 = vh, y1 = -1;
  for (int y = 0; y < vh; ++y) {
    const unsigned char *row = pixels + static_cast<size_t>(y) * vw * 3;
    for (int x = 0; x < vw; ++x) {
      if (!(row[3 * x] | row[3 * x + 1] | row[3 * x + 2])) continue;
      if (x < x0) x0 = x;
      if (x > x1) x1 = x;
      if (y < y0) y0 = y;
      if (y > y1) y1 = y;
    }
  }
  if (x1 < 0) return false;
  edge = x0 == 0 || y0 == 0 || x1 == vw - 1 || y1 == vh - 1;
  const double unit = 2 * reach / vh;  // scene units a pixel
  box[0] = -reach * aspect + x0 * unit;
  box[1] = -reach * aspect + (x1 + 1) * unit;
  box[2] = -reach + y0 * unit;
  box[3] = -reach + (y1 + 1) * unit;
  return true;
}

}  // namespace

void view_reset() {
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glScalef(0.9f, 0.9f, 0.9f);
  store_matrix();
}

void framing_matrix(const double box[6], int width, int height, double out[16]) {
  const double aspect = height > 0 ? static_cast<double>(width) / height : 1;
  const double w = fmax(box[1] - box[0], 1e-3), h = fmax(box[3] - box[2], 1e-3);
  const double depth = fmax(box[5] - box[4], 1e-3);
  // Wide enough and high enough, and every depth inside the projection's
  // -10..10 once the depths are centred.
  double s = kFill * fmin(2 * aspect / w, 2 / h);
  s = fmin(s, kFill * 20 / depth);
  memset(out, 0, 16 * sizeof(double));
  out[0] = out[5] = out[10] = s;
  out[12] = -s * (box[0] + box[1]) / 2;
  out[13] = -s * (box[2] + box[3]) / 2;
  out[14] = -s * (box[4] + box[5]) / 2;
  out[15] = 1;
}

void frame_displays(graphs_t &m, int width, int height) {
  GLint vp[4];
  glGetIntegerv(GL_VIEWPORT, vp);
  const int vw = vp[2], vh = vp[3];
  if (vw <= 0 || vh <= 0 || width <= 0 || height <= 0) return;
  unsigned char *pixels = static_cast<unsigned char *>(malloc(static_cast<size_t>(vw) * vh * 3));
  if (!pixels) return;
  double top[4], front[4];
  bool seen = false, edge = true;
  for (double reach = kFirstReach; edge && reach <= kLastReach; reach *= 4)
    seen = lit_region(m, 0, reach, pixels, vw, vh, top, edge);
  edge = true;
  for (double reach = kFirstReach; seen && edge && reach <= kLastReach; reach *= 4)
    seen = lit_region(m, -90, reach, pixels, vw, vh, front, edge);
  free(pixels);
  if (!seen) {
    view_reset();
    return;
  }
  // From the front, the picture's height is the scene's depth.
  const double box[6] = {top[0], top[1], top[2], top[3], front[2], front[3]};
  double matrix[16];
  framing_matrix(box, width, height, matrix);
  glMatrixMode(GL_MODELVIEW);
  glLoadMatrixd(matrix);
  store_matrix();
}

void viewport_init() {
  store_matrix();
  glutReshapeFunc(window_reshape);
  glutMouseFunc(mouse);
  glutMotionFunc(motion);
}

void reshape(int w, int h) {
  Viewport &v = g_viewport;
  glViewport(0, 0, w, h);
  if (h <= 0) h = 1;  // a minimised window reports height 0
  v.top = 1;
  v.bottom = -1;
  v.left = -static_cast<double>(w) / h;
  v.right = static_cast<double>(w) / h;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(v.left, v.right, v.bottom, v.top, v.near, v.far);
  glMatrixMode(GL_MODELVIEW);
}

void viewport_scene_position(int x, int y, double out[3]) {
  const Viewport &v = g_viewport;
  GLint vp[4];
  glGetIntegerv(GL_VIEWPORT, vp);
  double vw = vp[2] > 0 ? vp[2] : 1, vh = vp[3] > 0 ? vp[3] : 1;
  out[0] = v.left + (x - vp[0]) / vw * (v.right - v.left);
  out[1] = v.top + (y - vp[1]) / vh * (v.bottom - v.top);
  out[2] = v.near;
}

void mouse(int button, int state, int x, int y) {
  Viewport &v = g_viewport;
  if (state == GLUT_DOWN) pick(x, glutGet(GLUT_WINDOW_HEIGHT) - y - 1, 3, 3);
  v.last_x = x;
  v.last_y = y;
  int flag = state == GLUT_DOWN ? 1 : 0;
  if (button == GLUT_LEFT_BUTTON) v.left_down = flag;
  else if (button == GLUT_MIDDLE_BUTTON) v.middle_down = flag;
  else if (button == GLUT_RIGHT_BUTTON) v.right_down = flag;
  viewport_scene_position(x, y, v.drag_origin);
  glutPostRedisplay();
}

void motion(int x, int y) {
  Viewport &v = g_viewport;
  int dx = x - v.last_x, dy = y - v.last_y;
  if (dx == 0 && dy == 0) return;
  bool zoom = v.middle_down || (v.left_down && v.right_down);
  bool rotate = !zoom && v.left_down && !v.right_down;
  bool pan = !zoom && v.right_down && !v.left_down;
  const float *c = v.pivot;
  if (zoom) {
    float s = static_cast<float>(exp(0.01 * dy));
    glTranslatef(c[0], c[1], c[2]);
    glScalef(s, s, s);
    glTranslatef(-c[0], -c[1], -c[2]);
  } else if (rotate) {
    glTranslatef(c[0], c[1], c[2]);
    glRotatef(static_cast<float>(dx), 0, 0, 1);
    store_matrix();
    glRotatef(static_cast<float>(dy), static_cast<float>(v.modelview[0]), static_cast<float>(v.modelview[4]), 0);
    glTranslatef(-c[0], -c[1], -c[2]);
  } else if (pan) {
    double p[3];
    viewport_scene_position(x, y, p);
    glLoadIdentity();
    glTranslatef(static_cast<float>(p[0] - v.drag_origin[0]), static_cast<float>(p[1] - v.drag_origin[1]),
                 static_cast<float>(p[2] - v.drag_origin[2]));
    glMultMatrixd(v.modelview);
    memcpy(v.drag_origin, p, sizeof p);
  }
  v.last_x = x;
  v.last_y = y;
  if (zoom || rotate || pan) {
    store_matrix();
    glutPostRedisplay();
  }
}

void pick(double x, double y, double width, double height) {
  Viewport &v = g_viewport;
  static GLuint buffer[1024];
  glSelectBuffer(1024, buffer);
  glRenderMode(GL_SELECT);
  glInitNames();
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  GLint viewport[4];
  GLdouble projection[16];
  glGetIntegerv(GL_VIEWPORT, viewport);
  glGetDoublev(GL_PROJECTION_MATRIX, projection);
  glLoadIdentity();
  gluPickMatrix(x, y, width, height, viewport);
  glMultMatrixd(projection);
  glMatrixMode(GL_MODELVIEW);
  if (v.pick_draw) v.pick_draw();
  int hits = glRenderMode(GL_RENDER);
  int result = -1;
  GLuint best = UINT32_MAX;
  const GLuint *rec = buffer;
  const GLuint *end = buffer + 1024;
  for (int h = 0; h < hits && rec + 3 <= end; ++h) {
    GLuint names = rec[0], min_depth = rec[1];
    if (rec + 3 + names > end) break;
    if (min_depth < best) {
      best = min_depth;
      result = names ? static_cast<int>(rec[2 + names]) : -1;
    }
    rec += 3 + names;
  }
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  if (v.pick_result) v.pick_result(result);
}

bool invert_matrix(const double m[16], double out[16]) {
  double inv[16];
  inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] + m[9] * m[7] * m[14] +
           m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
  inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15] - m[8] * m[7] * m[14] -
           m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
  inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] + m[8] * m[7] * m[13] +
           m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
  inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14] - m[8] * m[6] * m[13] -
            m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
  inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15] - m[9] * m[3] * m[14] -
           m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
  inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] + m[8] * m[3] * m[14] +
           m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
  inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] - m[8] * m[3] * m[13] -
           m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
  inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] + m[8] * m[2] * m[13] +
            m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
  inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14] +
           m[13] * m[2] * m[7] - m[13] * m[3] * m[6];
  inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] - m[4] * m[3] * m[14] -
           m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
  inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] + m[4] * m[3] * m[13] +
            m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
  inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] - m[4] * m[2] * m[13] -
            m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
  inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] - m[5] * m[3] * m[10] -
           m[9] * m[2] * m[7] + m[9] * m[3] * m[6];
  inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10] +
           m[8] * m[2] * m[7] - m[8] * m[3] * m[6];
  inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9] -
            m[8] * m[1] * m[7] + m[8] * m[3] * m[5];
  inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9] +
            m[8] * m[1] * m[6] - m[8] * m[2] * m[5];
  double det = m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
  if (det == 0) return false;
  for (int i = 0; i < 16; ++i) out[i] = inv[i] / det;
  return true;
}

void view_angles_of(const double m[16], double &altitude, double &azimuth, double &scale) {
  altitude = atan2(m[10], m[9]) * kDegrees;
  double a = 180 - atan2(-m[0], m[4]) * kDegrees;
  azimuth = a - floor(a / 360) * 360;
  scale = sqrt(m[0] * m[0] + m[4] * m[4] + m[8] * m[8]);
}

void view_angles(double &altitude, double &azimuth, double &scale) {
  Viewport &v = g_viewport;
  double m[16];
  pthread_mutex_lock(&v.copy_lock);
  memcpy(m, v.shared_modelview, sizeof m);
  pthread_mutex_unlock(&v.copy_lock);
  view_angles_of(m, altitude, azimuth, scale);
}
