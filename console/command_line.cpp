// --help, --version, and --render with its options: the program is otherwise
// driven from its console.
#include "console/command_line.h"

#include <cstdio>
#include <cstring>

#include "console/render.h"

namespace {

const char kUsage[] =
    "usage: yelm [--help | --version]\n"
    "       yelm --render OUT IN [--fps N] [--size WxH] [--from SEC] [--to SEC] [--settings FILE]\n"
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
    "  --version  the version line\n"
    "\n"
    "--render draws the file IN (any file plot plays) through the displays of\n"
    ".yelmrc (or of --settings FILE) off screen, on a clock of the file's own\n"
    "frames, with no sound card, and writes OUT:\n"
    "  frames/%06d.png or a folder  numbered PNG frames (from 1);\n"
    "  picture.png                  the one frame at --from;\n"
    "  video.mp4, .mkv or .webm     a video with IN's sound, made by ffmpeg.\n"
    "  --fps N       frames a second (25)        --size WxH   frame size (1280x720)\n"
    "  --from SEC    the first frame (0)         --to SEC     the end (the file's)\n"
    "It needs an X display to draw with; without one: xvfb-run -a yelm --render ...\n"
    "ctrl-c stops at the next frame and keeps what was made.\n";

}  // namespace

int handle_command_line(int argc, char **argv, const char *version, RenderRequest *render) {
  bool help = false, show_version = false;
  bool rendering = false;
  for (int i = 1; i < argc; ++i)
    rendering = rendering || strcmp(argv[i], "--render") == 0 || strncmp(argv[i], "--render=", 9) == 0;
  if (rendering) {
    for (int i = 1; i < argc; ++i)
      if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
        fputs(kUsage, stdout);
        return 0;
      }
    return render->parse(argc, argv) == 0 ? kStartRender : 2;
  }
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
  return kStartConsole;
}
