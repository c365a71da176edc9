// A node of the ifs display's stores: the smoothed level of a sub-triangle
// and the spectrum bin of its note. 16 bytes.
#pragma once

struct IfsNode {
  double value;  // smoothed level
  double bin;    // spectrum bin of the node's note
};
