// The program's few command-line options.
#pragma once

struct RenderRequest;

constexpr int kStartConsole = -1;
constexpr int kStartRender = -2;

// Handles argv before anything else starts. Returns kStartConsole to go on
// and start the console (no arguments), kStartRender with `render` filled
// when the line asks for a render (--render), or the exit status: 0 after
// --help or --version, 2 after an option it does not know (with a one-line
// error on standard error).
int handle_command_line(int argc, char **argv, const char *version, RenderRequest *render);
