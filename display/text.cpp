// Stroke text and the idle screen.
#include "display/text.h"

#include <GL/freeglut.h>

#include <cstdarg>
#include <cstdio>

void stroke_text(float x, float y, float z, float size, const char *format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);

  glPushMatrix();
  glPushAttrib(GL_TEXTURE_BIT);
  glDisable(GL_TEXTURE_2D);
  glTranslatef(x, y, z);
  // The Roman font is about 152 units high.
  float s = size * 0.006562541f;
  glScalef(s, s, s);
  for (const char *c = text; *c; ++c) glutStrokeCharacter(GLUT_STROKE_ROMAN, static_cast<unsigned char>(*c));
  glPopAttrib();
  glPopMatrix();
}

void draw_idle_screen(graphs_t &) {
  glPushMatrix();
  glColor3f(1, 1, 1);
  stroke_text(-1, -1, 0, 0.1f, "waiting for your input ...");
  stroke_text(-1, 0.5f, 0, 0.09f, "KALDRO - Audio Transformation");
  glColor3f(1, 1, 0);
  stroke_text(-1, 0, 0, 0.4f, "* YELM *");
  glPopMatrix();
}
