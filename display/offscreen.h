// Drawing off screen at any size: a framebuffer object in the GL context of
// a small window that is never shown, read back as RGB rows.
#pragma once

struct OffscreenFrame {
  unsigned framebuffer = 0, colour = 0, depth = 0;
  int width = 0, height = 0;
  unsigned char *gl_rows = nullptr;  // as GL reads them, bottom row first
  unsigned char *rgb = nullptr;      // 3 bytes a pixel, top row first

  // Needs a current GL context. Makes the target, binds it for drawing and
  // reading, and sets the window's projection for its size. False, with why
  // filled, when the GL cannot draw at that size or memory runs out.
  bool make(int w, int h, const char **why);
  // Reads what was drawn into rgb.
  void read();
  void release();
  ~OffscreenFrame() { release(); }
};

// GLUT and a GL context on the calling thread, with a window that is never
// shown; false (why says what failed) when there is no display to draw with.
bool open_drawing_context(const char **why);
