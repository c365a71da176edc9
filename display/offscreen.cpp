// Off-screen drawing for renders: a framebuffer object of the requested
// size, whatever the screen's, in the context of a hidden GLUT window (the
// stroke font needs GLUT).
#include "display/offscreen.h"

#include <GL/freeglut.h>
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glx.h>

#include <cstdlib>
#include <cstring>

#include "display/graphs.h"
#include "display/viewport.h"

namespace {

// Core since GL 3.0; taken through GLX so no newer link-time symbols are needed.
struct FramebufferCalls {
  PFNGLGENFRAMEBUFFERSPROC gen_framebuffers;
  PFNGLBINDFRAMEBUFFERPROC bind_framebuffer;
  PFNGLDELETEFRAMEBUFFERSPROC delete_framebuffers;
  PFNGLGENRENDERBUFFERSPROC gen_renderbuffers;
  PFNGLBINDRENDERBUFFERPROC bind_renderbuffer;
  PFNGLDELETERENDERBUFFERSPROC delete_renderbuffers;
  PFNGLRENDERBUFFERSTORAGEPROC renderbuffer_storage;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC framebuffer_renderbuffer;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC check_framebuffer_status;
};

template <class F>
bool load(F &f, const char *name) {
  f = reinterpret_cast<F>(glXGetProcAddressARB(reinterpret_cast<const GLubyte *>(name)));
  return f != nullptr;
}

bool load_calls(FramebufferCalls &c) {
  return load(c.gen_framebuffers, "glGenFramebuffers") && load(c.bind_framebuffer, "glBindFramebuffer") &&
         load(c.delete_framebuffers, "glDeleteFramebuffers") && load(c.gen_renderbuffers, "glGenRenderbuffers") &&
         load(c.bind_renderbuffer, "glBindRenderbuffer") && load(c.delete_renderbuffers, "glDeleteRenderbuffers") &&
         load(c.renderbuffer_storage, "glRenderbufferStorage") &&
         load(c.framebuffer_renderbuffer, "glFramebufferRenderbuffer") &&
         load(c.check_framebuffer_status, "glCheckFramebufferStatus");
}

FramebufferCalls g_calls;

void draw_nothing() {}

}  // namespace

bool open_drawing_context(const char **why) {
  if (!window_possible(why)) return false;
  if (!init_glut(why)) return false;
  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(64, 64);
  glutInitWindowPosition(0, 0);
  glutCreateWindow("yelm render");
  // The toolkit asks for one when it handles the window's events.
  glutDisplayFunc(draw_nothing);
  glutHideWindow();
  glutMainLoopEvent();
  glEnable(GL_DEPTH_TEST);
  return true;
}

bool OffscreenFrame::make(int w, int h, const char **why) {
  release();
  if (!load_calls(g_calls)) {
    *why = "the GL has no framebuffer objects";
    return false;
  }
  GLint most = 0, dims[2] = {0, 0};
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &most);
  glGetIntegerv(GL_MAX_VIEWPORT_DIMS, dims);
  if (w > most || h > most || w > dims[0] || h > dims[1]) {
    *why = "the GL draws no picture that large";
    return false;
  }
  const size_t bytes = static_cast<size_t>(w) * h * 3;
  gl_rows = static_cast<unsigned char *>(malloc(bytes));
  rgb = static_cast<unsigned char *>(malloc(bytes));
  if (!gl_rows || !rgb) {
    release();
    *why = "not enough memory for a frame that large";
    return false;
  }
  FramebufferCalls &c = g_calls;
  c.gen_framebuffers(1, &framebuffer);
  c.gen_renderbuffers(1, &colour);
  c.gen_renderbuffers(1, &depth);
  c.bind_renderbuffer(GL_RENDERBUFFER, colour);
  c.renderbuffer_storage(GL_RENDERBUFFER, GL_RGBA8, w, h);
  c.bind_renderbuffer(GL_RENDERBUFFER, depth);
  c.renderbuffer_storage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, w, h);
  c.bind_framebuffer(GL_FRAMEBUFFER, framebuffer);
  c.framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
  c.framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
  if (c.check_framebuffer_status(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    release();
    *why = "the GL cannot draw off screen at that size";
    return false;
  }
  glDrawBuffer(GL_COLOR_ATTACHMENT0);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  width = w;
  height = h;
  // The window's own projection for a window of this size.
  reshape(w, h);
  return true;
}

void OffscreenFrame::read() {
  glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, gl_rows);
  glPopClientAttrib();
  const size_t row = static_cast<size_t>(width) * 3;
  for (int y = 0; y < height; ++y) memcpy(rgb + row * y, gl_rows + row * (height - 1 - y), row);
}

void OffscreenFrame::release() {
  if (framebuffer) {
    g_calls.bind_framebuffer(GL_FRAMEBUFFER, 0);
    g_calls.delete_framebuffers(1, &framebuffer);
  }
  if (colour) g_calls.delete_renderbuffers(1, &colour);
  if (depth) g_calls.delete_renderbuffers(1, &depth);
  framebuffer = colour = depth = 0;
  free(gl_rows);
  free(rgb);
  gl_rows = rgb = nullptr;
  width = height = 0;
}
