// Analysis logs: start, stop, and the two kinds of line.
#include "analysis/analysis_log.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "options/notice.h"

AnalysisLog g_analysis_logs[kAnalysisLogs];

namespace {

// The octave's equal-tempered places, 2^(j/12) for j = 0..12.
struct SemitoneGrid {
  double place[13];
  SemitoneGrid() {
    for (int j = 0; j <= 12; ++j) place[j] = pow(2.0, j / 12.0);
  }
};
const SemitoneGrid kGrid;

double comb(double x) {
  double g = 0;
  for (double p : kGrid.place) {
    const double d = x + 1 - p;
    g += exp(-5000 * d * d);
  }
  return g;
}

// Log mutex held. Closes the file; the next stop or line finds none.
void close_locked(AnalysisLog &log) {
  FILE *f = log.file.load(std::memory_order_relaxed);
  if (!f) return;
  print_notice(" +analysis done.");
  log.file.store(nullptr, std::memory_order_release);
  if (fclose(f) != 0) print_notice("*** warning: analysis log was not written whole (%s)", strerror(errno));
}

double seconds_since_start(const AnalysisLog &log) {
  timeval now;
  gettimeofday(&now, nullptr);
  return static_cast<double>(now.tv_sec - log.start_sec) + (now.tv_usec - log.start_usec) * 1e-6;
}

// The longest line: five reals of up to 317 characters, two ints, blanks.
constexpr int kLineChars = 2048;

// Log mutex held, file open. The line goes to the file at once, so a line is
// never left half-written whatever ends the process; and the part of it a
// full disk took is taken back, so no half line stays behind either. The
// stream's own buffer is never used.
void write_line_locked(AnalysisLog &log, FILE *f, const char *line, int length) {
  if (length <= 0 || length >= kLineChars) return;
  const int fd = fileno(f);
  ssize_t put = 0;
  int err = 0;
  while (put < length && !err) {
    const ssize_t n = write(fd, line + put, length - put);
    if (n > 0)
      put += n;
    else if (n == 0 || errno != EINTR)
      err = n == 0 ? EIO : errno;
  }
  if (err) {
    if (put > 0) {
      const off_t end = lseek(fd, 0, SEEK_CUR);
      if (end >= put && ftruncate(fd, end - put) == 0) lseek(fd, end - put, SEEK_SET);
    }
    print_notice("*** warning: analysis log cannot be written (%s). stopping.", strerror(err));
    close_locked(log);
    return;
  }
  // Counted under the mutex, so a start on the console never sees a count
  // that belongs to the file before.
  if (log.lines.fetch_add(1, std::memory_order_relaxed) + 1 >= kMaxLogLines) {
    print_notice("max. analysis filesize reached. stopping.");
    close_locked(log);
  }
}

}  // namespace

bool AnalysisLog::writes_to(dev_t dev, ino_t ino) {
  pthread_mutex_lock(&mutex);
  FILE *f = file.load(std::memory_order_relaxed);
  struct stat st;
  const bool same = f && fstat(fileno(f), &st) == 0 && st.st_dev == dev && st.st_ino == ino;
  pthread_mutex_unlock(&mutex);
  return same;
}

void start_analysis_log(AnalysisLog &log, int slot, const char *name) {
  printf("analysis for display :%d\nANALYSIS ONLY FOR C5 and IVIV\n", slot);
  stop_analysis_log(log);
  pthread_mutex_lock(&log.mutex);
  FILE *f = fopen(name, "w+");
  if (f)
    printf("starting analysis and log to '%s'\n", name);
  else
    printf("log file not valid.\n");
  timeval now;
  gettimeofday(&now, nullptr);
  log.start_sec = now.tv_sec;
  log.start_usec = now.tv_usec;
  log.lines.store(0, std::memory_order_relaxed);
  log.file.store(f, std::memory_order_release);
  pthread_mutex_unlock(&log.mutex);
}

void stop_analysis_log(AnalysisLog &log) {
  pthread_mutex_lock(&log.mutex);
  close_locked(log);
  pthread_mutex_unlock(&log.mutex);
  fflush(stdout);
}

double semitone_score(const double *row, int first, int last, double scale) {
  if (first > last) return 0;
  const int n = last - first;
  // A one-bin octave has a single place, at x = 0.
  const double step = n > 0 ? 1.0 / n : 0;
  double x = 0, s = 0;
  for (int k = first; k <= last; ++k, x += step) s += (1 - exp(-0.2 * scale * row[k])) * comb(x);
  return s;
}

void log_c5_frame(AnalysisLog &log, const double *row, int first, int last, double scale) {
  const double score = semitone_score(row, first, last, scale);
  pthread_mutex_lock(&log.mutex);
  if (FILE *f = log.file.load(std::memory_order_relaxed)) {
    char line[kLineChars];
    write_line_locked(log, f, line, snprintf(line, sizeof line, "%f %f\n", seconds_since_start(log), score));
  }
  pthread_mutex_unlock(&log.mutex);
}

void log_iviv_pair(AnalysisLog &log, int bin, int partner_bin, double magnitude, double partner_magnitude,
                   double ratio, double partner_ratio) {
  pthread_mutex_lock(&log.mutex);
  if (FILE *f = log.file.load(std::memory_order_relaxed)) {
    char line[kLineChars];
    write_line_locked(log, f, line,
                      snprintf(line, sizeof line, "%f %d %d %f %f %f %f\n", seconds_since_start(log), bin,
                               partner_bin, magnitude, partner_magnitude, ratio, partner_ratio));
  }
  pthread_mutex_unlock(&log.mutex);
}
