// A node of the ifs display's stores; only `bin` (a spectrum bin position of
// the picked slice) is read outside the ifs display. 16 bytes.
#pragma once

struct IfsNode {
  float a, b, c;
  float bin;
};
