// The command table and the console's own handlers.
#include <readline/history.h>

#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "display/graphs.h"
#include "options/options.h"
#include "media/tfield.h"
#include "media/tstring.h"
#include "media/unfold.h"
#include "transforms/fold.h"
#include "transforms/reconstruct.h"

const CommandEntry kCommandTable[] = {
    {"set", set_command, "set global or display specific options", "enter 'set KNOWN' for an overview"},
    {"plot", plot_command, "capture audio from file(1) or soundcard(2)",
     "for (1) 'plot <filename.wav>' or 'plot' for (2)"},
    {"mute", mute_command, "stop audio acquisition now", nullptr},
    {"analyse", analyse_command, "start(1) or stop(2) analysis",
     "for (1) 'analyse :display <filename>' or 'analyse' for (2)"},
    {"history", history_command, "list previous commands", nullptr},
    {"reconstruct", reconstruct_command, "reconstruct <outfile> <infile> <iviv>",
     "revive harmony using IVIV after bandpass"},
    {"fold", fold_command, "fold <outfile> <infile>", "music transform using rhythm folding (rIVIV algorithm)"},
    {"tstring", tstring, "tstring [<outfile>] [<infile>]", "tin-can music transform"},
    {"tether", tstring, "tether [<outfile>] [<infile>]", "simulate a multi-path elastic medium"},
    {"tfield", tfield, "tfield [<outfile>] [<infile>]", "multi-surface music transform"},
    {"mirage", mirage, "mirage [<outfile>] [<infile>]", "mirage -form hologram shaped by music"},
    {"unfold", unfold, "unfold <outfile> [<infile>]",
     "simulate an expanding medium. try to find an invariant."},
    {"help", help_command, "helps helpers helping", nullptr},
    {"exit", exit_command, "exit program (or use ctrl-c)", nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

int dispatch_command(char *line, bool *matched) {
  for (const CommandEntry *row = kCommandTable; row->name; ++row) {
    if (strncmp(line, row->name, strlen(row->name)) == 0) {
      if (matched) *matched = true;
      return row->handler(line);
    }
  }
  if (matched) *matched = false;
  printf("unknown command?\n");
  return 0;
}

int history_command(char *line) {
  HIST_ENTRY **list = history_list();
  if (list)
    for (int i = 0; list[i]; ++i) printf("%d: %s\r\n", i, list[i]->line);
  return 0;
}

int help_command(char *line) {
  char *pos = nullptr;
  strtok_r(line, " ", &pos);
  const char *filter = strtok_r(nullptr, "\r\n", &pos);
  for (const CommandEntry *row = kCommandTable; row->name; ++row) {
    if (filter && strcmp(filter, row->name) != 0) continue;
    if (row->detail)
      printf("%12s  - %s\n%*c%s\n", row->name, row->summary, 14, ' ', row->detail);
    else
      printf("%12s  - %s\n", row->name, row->summary);
  }
  return 0;
}

int exit_command(char *line) {
  printf("byebye ... \n\n");
  return -1;
}
