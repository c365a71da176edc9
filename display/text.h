// Text in the 3-D window (GLUT Roman stroke font) and the idle screen.
#pragma once

struct graphs_t;

// printf-formatted text, baseline starting at (x, y, z); size 1 is about one
// scene unit tall. The colour is the caller's.
void stroke_text(float x, float y, float z, float size, const char *format, ...)
    __attribute__((format(printf, 5, 6)));

// What the window shows while no display is visible.
void draw_idle_screen(graphs_t &manager);
