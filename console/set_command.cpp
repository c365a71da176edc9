// The "set" command: the option store's part, then the two read-outs of the
// live view that only the console can reach.
#include <cstdio>

#include "console/console.h"
#include "display/graphs.h"
#include "display/viewport.h"
#include "options/options.h"

int set_command(char *line) {
  int display = -1;
  switch (set_line(line, &display)) {
    case kSetViewport: {
      double alt, az, scale;
      view_angles(alt, az, scale);
      printf("ALT:%g AZ:%g SCALE:%g\n", alt, az, scale);
      break;
    }
    case kSetSlice:
      if (display == -1)
        printf("please, specify display (set :? SLICE)\n");
      else if (display < 0 || display > 3)
        printf("unknown display :%d\n", display);
      else
        printf("SLICE Freq (Hz): %6.2f\n", g_graphs.slice_frequency(display));
      break;
    default:
      break;
  }
  return 0;
}
