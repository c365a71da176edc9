// The mirror display: a grid of cells over a golden logarithmic spiral of
// frequencies (one turn per octave). Each frame the arc from a note's
// interval (between a fourth and a fifth) to its octave is mirrored onto the
// stretch from the note to the interval, amplified by how strongly the
// fourth and fifth sound against the note.
#pragma once

#include <cstddef>

#include "display/graphs.h"

struct MirrorState {
  double spiral_b;             // ln(phi) x m.growth
  double max_freq;             // highest frequency traced when sizing
  double bass;                 // frequency at radius 1, angle 0
  int min_x, min_y, max_x, max_y;
  int width, height;           // grid size in cells
  int iter;                    // sampled frequencies per frame
  double *current;             // width x height; cell (cx, cy) at cx + cy * width
  double *next;
  double highest_f_in_window;  // where the window's x extent was last fixed

  // (x, y) of frequency f on the spiral.
  void spiral_point(double f, double &x, double &y) const;
  // Element of the cell under spiral point (x, y); out of the window: 0.
  size_t mirror_cell(double x, double y) const;
  // The same for window-relative coordinates.
  size_t relative_cell(double cx, double cy) const;
  // One line transfer: `next` along A->B from `current` along C->D, all end
  // points window-relative cells.
  void mirror_transfer(double gain, int ax, int ay, int bx, int by, int cx, int cy, int dx, int dy);
  // The arc f x rho .. 2f laid onto the stretch f .. f x rho.
  void mirror_interval(double f, double rho, double gain);
  // One sampled frequency t (0..1 of the top frequency) of a spectrum row of
  // h values; bins at or below the tuning bin are left alone.
  void mirror_bin(double t, const double *row, int h, double top_frequency, double tuning_bin);
};

// The stretch [*lo, *hi] of s in 0..1 where (ax, ay) + s (ux, uy) lies within
// min..max on both axes; false when there is none.
bool clip_segment(double ax, double ay, double ux, double uy, double min_x, double min_y, double max_x,
                  double max_y, double *lo, double *hi);

// A grid side at or beyond this many cells cannot be addressed (cell
// coordinates are ints of at most 1e9); such a grid is refused as out of
// memory.
constexpr double kMirrorMaxSide = 1e9;

// Cells of the grid these settings make (both grids hold this many).
double mirror_cells(double bass, double growth, double sample_rate);

// Makes and sizes the state, fills it with noise and reports it; null (with
// its message) when the grids cannot be had.
MirrorState *create_mirror(double bass, double growth, double sample_rate, int iter);
void destroy_mirror(MirrorState *state);

// Interval gain at relative position t of a row of h magnitudes: fourth plus
// fifth over the note, 0 above half the row or for a silent note.
double mirror_gain(double t, const double *row, int h);

void draw_mirror(graphs_t &manager, int slot_index, Analyser *analyser, DisplaySlot &slot, AnalysisLog *log);
