// The "set" command: options, and two read-outs of the live view.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/console.h"
#include "display/graphs.h"
#include "display/viewport.h"
#include "options/options.h"

int set_command(char *line) {
  char *pos = line;
  next_token(&pos, " ");  // the command word
  char *word = next_token(&pos, " ");
  if (!word) {
    g_options.print_all();
    return 0;
  }
  int display = -1;
  char *key = word;
  if (word[0] == ':') {
    display = atoi(word + 1);
    key = next_token(&pos, " ");
    if (!key) {
      g_options.print_all();
      return 0;
    }
  }
  char *value = next_token(&pos, " \r\n");
  if (value) {
    if (g_options.set(display, key, value) == 0) printf("cannot set option '%s'\n", key);
    return 0;
  }
  if (strcmp(key, "VIEWPORT") == 0) {
    double alt, az, scale;
    view_angles(alt, az, scale);
    printf("ALT:%g AZ:%g SCALE:%g\n", alt, az, scale);
    return 0;
  }
  if (strcmp(key, "SLICE") == 0) {
    if (display == -1) {
      printf("please, specify display (set :? SLICE)\n");
    } else if (display < 0 || display > 3) {
      printf("unknown display :%d\n", display);
    } else {
      double f = g_graphs.slice_frequency(display);
      printf("SLICE Freq (Hz): %6.2f\n", f);
    }
    return 0;
  }
  const char *found = g_options.find(display, key, true);
  printf("%s -> %s\n", key, found ? found : "(null)");
  return 0;
}
