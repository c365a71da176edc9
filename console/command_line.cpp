// --help, --version and nothing else: the program is driven from its console.
#include "console/command_line.h"

#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "usage: yelm [--help | --version]\n"
    "\n"
    "A console program for music: it shows the harmonic content of sound live in\n"
    "an OpenGL window and runs whole-file music transforms that write new WAV\n"
    "files. Commands are typed at the prompt 'yelm--scope$ ' (or piped in, one a\n"
    "line); type 'help' there for the list of commands, 'exit' to leave.\n"
    "\n"
    "Settings are read once at start-up from .yelmrc in the working folder.\n"
    "\n"
    "It needs:\n"
    "  a display (DISPLAY, with GLX) for the window; without one it warns and\n"
    "    goes on without it;\n"
    "  a sound card for 'plot'; the whole-file commands need none.\n"
    "\n"
    "  --help     this text\n"
    "  --version  the version line\n";

}  // namespace

int handle_command_line(int argc, char **argv, const char *version) {
  bool help = false, show_version = false;
  for (int i = 1; i < argc; ++i) {
    const char *a = argv[i];
    if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
      help = true;
    } else if (strcmp(a, "--version") == 0) {
      show_version = true;
    } else {
      // Anything else would be ignored silently: say so instead.
      fprintf(stderr, "yelm: %s '%s' (try 'yelm --help')\n",
              a[0] == '-' ? "unknown option" : "unexpected argument", a);
      return 2;
    }
  }
  if (help) {
    fputs(kUsage, stdout);
    return 0;
  }
  if (show_version) {
    printf("yelm %s\n", version);
    return 0;
  }
  return -1;
}
