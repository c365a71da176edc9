// The program's few command-line options.
#pragma once

// Handles argv before anything else starts. Returns -1 to go on and start
// the console (no arguments), or the exit status: 0 after --help or
// --version, 2 after an option it does not know (with a one-line error on
// standard error).
int handle_command_line(int argc, char **argv, const char *version);
