// Command console: the command table, the read-dispatch loop, start-up.
#pragma once

#include <pthread.h>

// Handlers receive the whole line as typed (a modifiable copy) and return a
// negative value to end the console.
typedef int (*CommandHandler)(char *line);

struct CommandEntry {
  const char *name;
  CommandHandler handler;
  const char *summary;
  const char *detail;  // may be null
};

extern const CommandEntry kCommandTable[];

// Runs the handler of the first row whose name begins the line; false when
// no row matches ("unknown command?" has been printed).
int dispatch_command(char *line, bool *matched);
void run_console();

int history_command(char *line);
int help_command(char *line);
int exit_command(char *line);
int set_command(char *line);
int analyse_command(char *line);
// Plugs the four analysis logs into the display manager; once, from main,
// before the GUI thread starts.
void install_analysis_logs();

void exit_notice();
extern pthread_t gui_thread;

// Detaches the process from its terminal for the demonstration mode.
void detach_console();
extern bool g_console_detached;
