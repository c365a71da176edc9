// One display's settings and picks, read from the options by each plot.
#pragma once

// A node of the ifs display's stores; only `bin` is read outside the ifs
// display (the picked slice's spectrum position). 16 bytes.
struct IfsNode {
  float a, b, c;
  float bin;
};

struct DisplaySlot {
  int type;              // GraphType number
  double scale;          // amplitude gain
  double x, y;           // placement; the spectrum graphs use y as the base plane's depth
  double tuning_bin;     // floor(512 / sample_rate * tuna)
  int wlet_detail;       // nonzero: wavelet analysis of level differences
  int quadrant;          // w2d quadrant 0..3
  int beat;              // spiral beat time 0..126
  int o_depth;           // origami depth
  float ifs_triangle[3][3];
  IfsNode *slice;        // picked by the ifs display; null until then
};
