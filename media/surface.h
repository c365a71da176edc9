// Surface medium: up to twelve damped membranes ("crystals") with walls cut
// out by a shape, all driven by the same input sample, read from a small
// description file.
#pragma once

#include <cstdio>

struct TransformState;

struct Surface {
  // What the transformation view sees: display_copy (filled by the view from
  // u), u (current displacement) and wall, each width x height, row-major.
  double *display_copy = nullptr;
  double *u = nullptr;
  // The wave equation runs on two grids with a zero border of one cell, so
  // neighbours need no bounds tests: grid holds the same values as u, and
  // grid_prev those of the step before. A step writes the new values over
  // grid_prev in place (each cell reads only its own older value) and then
  // swaps the two, so no array is copied.
  double *grid = nullptr;
  double *grid_prev = nullptr;
  unsigned char *wall = nullptr;  // 1 = wall cell
  // Padded like grid: 1.0 for a cell that moves and is summed; 0.0 for the
  // border, walls and the driven cell.
  double *moving = nullptr;
  int width = 10;
  int height = 1;
  int in_x = 0;
  int in_y = 0;
  int shape = 0;
  double shape_param = 0.0;
  double coupling_in = 0.5;
  double coupling_out = 0.5;
  double fpermu = 1.0;
  double damp = 0.9999;
  int driven = -1;  // cell index of (in_x, in_y), or -1 when it lies outside the grid

  // Applies one property line ("dim 40 30", "damp 0.999", ...).
  void parse_property(const char *line);
  // Allocates the arrays and computes the walls; false leaves it unbuilt.
  bool build();
  bool built() const { return u != nullptr; }
  // Drives the input cell with v, advances every cell by one time step and
  // returns the sum of the moving cells. An unbuilt surface answers 0.
  double step(double v);
  void release();
};

// Wall rule of a shape for cell (x, y) of a width x height grid.
bool surface_wall(int shape, double shape_param, int width, int height, int x, int y);

struct SurfaceField {
  static constexpr int kMaxSurfaces = 12;
  Surface surfaces[kMaxSurfaces];
  int count = 0;
  double total_couple = 0.0;
  TransformState *view = nullptr;

  // Reads the description file and registers the surfaces in the view
  // (view may be null). A file that cannot be read gives an empty field
  // and false.
  bool load(const char *path, TransformState *view);
  // Registers the surfaces in the view (null: none), for a field loaded
  // without one: the file is read before GuiMutex is taken, and only this
  // runs under it.
  void show_in(TransformState *view);
  void print() const;
  // One sample through all surfaces; an empty field passes it through.
  double step(double x);
  // Clears the registration and frees every surface's arrays.
  void release();
  ~SurfaceField() { release(); }
};
