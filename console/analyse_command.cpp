// The analyse command: starts the log of one display, or stops them all;
// and the logs' place in the display manager.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analysis/analysis_log.h"
#include "console/console.h"
#include "display/graphs.h"

namespace {

void stop_all_logs() {
  printf("stopping analysis (all displays)\n");
  g_graphs.close_logs();
}

// A log is opened truncated: it must never be a file the program is reading
// or writing. The played input stays open (and may be played again) until
// the next plot; another display's log is being written. Transforms such as
// reconstruct run on this thread, so none reads a codebook meanwhile.
bool log_name_is_safe(int slot, const char *name) {
  struct stat st;
  if (stat(name, &st) != 0) return true;  // a new file
  bool played = false;
  {
    GuiLock lock;
    FILE *input = g_graphs.feed->reader.file;
    struct stat in;
    played = input && fstat(fileno(input), &in) == 0 && in.st_dev == st.st_dev && in.st_ino == st.st_ino;
  }
  if (played) {
    printf("log file '%s' is the file being played. analysis not started.\n", name);
    return false;
  }
  for (int i = 0; i < kDisplays; ++i) {
    if (i == slot || !g_analysis_logs[i].writes_to(st.st_dev, st.st_ino)) continue;
    printf("log file '%s' is the log of display :%d. analysis not started.\n", name, i);
    return false;
  }
  return true;
}

bool log_wants_lines(const AnalysisLog *log) { return log->wants_lines(); }
void log_c5(AnalysisLog *log, const double *row, int first, int last, double scale) {
  log_c5_frame(*log, row, first, last, scale);
}
void log_close(AnalysisLog *log) { stop_analysis_log(*log); }

}  // namespace

void install_analysis_logs() {
  static_assert(kAnalysisLogs == kDisplays, "one log per display slot");
  for (int i = 0; i < kDisplays; ++i) g_graphs.logs[i] = &g_analysis_logs[i];
  g_graphs.log_hooks = {log_wants_lines, log_c5, log_close};
}

int analyse_command(char *line) {
  char *pos = nullptr;
  const char *delims = " \t\r\n";
  strtok_r(line, delims, &pos);
  const char *display = strtok_r(nullptr, delims, &pos);
  if (!display) {
    stop_all_logs();
    return 0;
  }
  if (display[0] != ':') {
    printf("you must supply a display\n");
    return 0;
  }
  const char *name = strtok_r(nullptr, delims, &pos);
  if (!name) {
    printf("you must supply a filename\n");
    return 0;
  }
  // The whole token must be the number: ":x" or ":1x" names no display.
  char *end = nullptr;
  errno = 0;
  const long n = strtol(display + 1, &end, 10);
  const bool number = end != display + 1 && *end == 0 && errno == 0;
  if (number && n == -1) {
    stop_all_logs();
    return 0;
  }
  if (!number || n < 0 || n >= kDisplays) {
    printf("display index not valid (display: 0,1,2,3)\n");
    return 0;
  }
  const int slot = static_cast<int>(n);
  if (log_name_is_safe(slot, name)) start_analysis_log(g_analysis_logs[slot], slot, name);
  return 0;
}
