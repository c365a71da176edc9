// Per-slot analysis logs: text files of what the c5 and iviv displays measure,
// one line per measurement, while audio is acquired.
//
// Threads: the console starts and stops logs, the GUI thread makes lines from
// inside a frame (GuiMutex held), so GuiMutex always comes first. A frame
// never waits on the file: it puts whole lines into the log's ring, and the
// log's own writer thread takes them to the file with no lock held. A line
// that finds no room (a slow disk, a terminal that takes no more) is dropped
// and counted, and the count is said when the log closes. `sink` is guarded
// by the log's own mutex; it and `taking` are atomic only so that a renderer
// can peek before taking the mutex. `lines` is reset by the console and
// counted by the GUI thread.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <cstdio>

// A log stops by itself after this many lines (dropped ones included: the
// limit is the length of the session).
constexpr int kMaxLogLines = 50000;

struct LogSink;  // a file being written and the lines on their way to it

struct AnalysisLog {
  std::atomic<LogSink *> sink{nullptr};  // changed only under `mutex`
  std::atomic<unsigned> taking{0};       // the sink's session while it takes lines; 0: none
  std::atomic<int> lines{0};             // lines offered to the current file
  pthread_mutex_t mutex;
  long start_sec = 0, start_usec = 0;  // wall clock at the start; under `mutex`

  // No destructor on purpose: a log lives as long as the process, and a GUI
  // thread still in a frame at exit may hold its mutex.
  AnalysisLog() { pthread_mutex_init(&mutex, nullptr); }
  AnalysisLog(const AnalysisLog &) = delete;
  AnalysisLog &operator=(const AnalysisLog &) = delete;

  // The caller's cheap check before a writer: a file takes lines and the
  // line limit is not reached. (The caller also checks that acquisition runs.)
  bool wants_lines() const {
    return taking.load(std::memory_order_acquire) && lines.load(std::memory_order_relaxed) < kMaxLogLines;
  }
  // True when the file st describes is still being written by this log.
  bool writes_to(dev_t dev, ino_t ino);
};

// The four slots' logs; they live as long as the process.
constexpr int kAnalysisLogs = 4;
extern AnalysisLog g_analysis_logs[kAnalysisLogs];

// Closes the slot's current file, then opens `name` for writing (truncated),
// and starts the clock and the count. A name that is no regular file (nor a
// device, such as /dev/null) is refused with its one line; one that cannot
// be opened leaves the log without a file ("log file not valid.").
void start_analysis_log(AnalysisLog &log, int slot, const char *name);
// Closes the file, if one is open (" +analysis done."), once the lines on
// their way are written: a file that takes none for a few seconds is left
// to its writer, with a line saying so.
void stop_analysis_log(AnalysisLog &log);

// How much of the row's energy between bins first and last (inclusive) sits
// on the twelve-semitone grid of the octave, with the c5 amplitude mapping.
double semitone_score(const double *row, int first, int last, double scale);

// One c5 line: time and the row's semitone score.
void log_c5_frame(AnalysisLog &log, const double *row, int first, int last, double scale);
// One iviv line: time, the two bins, their magnitudes and their ratios.
void log_iviv_pair(AnalysisLog &log, int bin, int partner_bin, double magnitude, double partner_magnitude,
                   double ratio, double partner_ratio);
