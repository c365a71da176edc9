// Analysis logs: start, stop, and the two kinds of line.
#include "analysis/analysis_log.h"

#include <sched.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "options/deadline.h"
#include "options/notice.h"
#include "options/side_file.h"

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

// The ring of lines on their way to a file: dozens of frames of the
// busiest display (510 iviv lines of some 55 bytes each).
constexpr uint64_t kRingBytes = 1 << 20;
// How often the writer looks for lines when nobody wakes it.
constexpr int kWriterPauseMs = 20;
// A stop waits this long for the lines on their way.
constexpr int kStopWaitMs = 2000;
// A device that takes nothing (a stopped terminal) is given up this long
// after the stop.
constexpr int kDeviceGiveUpMs = 1000;

enum SinkFate { kWriting, kFinished, kLeft };

bool passed(const timespec &t) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec > t.tv_sec || (now.tv_sec == t.tv_sec && now.tv_nsec >= t.tv_nsec);
}

// True when posted before the deadline.
bool wait_until(sem_t *sem, const timespec &t) {
  for (;;) {
    if (sem_clockwait(sem, CLOCK_MONOTONIC, &t) == 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace

// A file being written and the lines on their way to it. The renderer puts
// whole lines in at `head` (log mutex held), the writer thread takes them
// out at `tail`; both only ever grow, the ring position is their remainder.
// Once the writer has finished, whoever stopped the log frees it; when the
// stop gave up waiting (kLeft), the writer frees it itself.
struct LogSink {
  int fd = -1;
  bool regular = false;
  dev_t dev = 0;
  ino_t ino = 0;
  unsigned session = 0;
  std::atomic<unsigned> *taking = nullptr;  // the log's, cleared when a write fails
  char name[256] = {};
  char *ring = nullptr;
  std::atomic<uint64_t> head{0}, tail{0};
  uint64_t line_end = 0;  // writer: bytes up to the end of the last whole line written
  std::atomic<long> dropped{0};
  std::atomic<int> closing{0}, failed{0}, announced{0}, reported{0}, fate{kWriting};
  sem_t wake, done;
  pthread_t thread{};
};

namespace {

void free_sink(LogSink *s) {
  sem_destroy(&s->wake);
  sem_destroy(&s->done);
  free(s->ring);
  delete s;
}

// Line ends among the ring's bytes from..to.
long line_ends(const LogSink *s, uint64_t from, uint64_t to) {
  long n = 0;
  for (uint64_t b = from; b < to; ++b) n += s->ring[b % kRingBytes] == '\n';
  return n;
}

// " +analysis done." once per file, from whichever side closes it first.
void announce_done(LogSink *s, bool elsewhere) {
  if (s->announced.exchange(1)) return;
  if (elsewhere)
    print_notice(" +analysis done.\n");
  else
    printf(" +analysis done.\n");
}

void report_dropped(LogSink *s, bool elsewhere) {
  const long n = s->dropped.load();
  if (n <= 0 || s->reported.exchange(1)) return;
  const char *format = "*** warning: %ld line%s dropped from analysis log '%s'\n";
  if (elsewhere)
    print_notice(format, n, n == 1 ? "" : "s", s->name);
  else
    printf(format, n, n == 1 ? "" : "s", s->name);
}

// Writer. A write failed: the part of a line it left in a file is taken
// back, so that no half line stays behind; the log takes no more lines.
void fail(LogSink *s, int err) {
  if (s->regular && s->tail.load() > s->line_end) {
    const off_t end = lseek(s->fd, 0, SEEK_CUR);
    const off_t back = static_cast<off_t>(s->tail.load() - s->line_end);
    if (end >= back && ftruncate(s->fd, end - back) == 0) lseek(s->fd, end - back, SEEK_SET);
  }
  s->failed.store(err);
  print_notice("*** warning: analysis log cannot be written (%s). stopping.\n", strerror(err));
  announce_done(s, true);
  unsigned mine = s->session;
  s->taking->compare_exchange_strong(mine, 0);
  s->closing.store(1);
}

void *write_lines(void *arg) {
  LogSink *s = static_cast<LogSink *>(arg);
  timespec give_up{};
  bool giving_up = false;
  for (;;) {
    const bool closing = s->closing.load(std::memory_order_acquire);
    const uint64_t h = s->head.load(std::memory_order_acquire), t = s->tail.load(std::memory_order_relaxed);
    if (h == t || s->failed.load()) {
      if (closing) break;
      wait_until(&s->wake, deadline_in_ms(kWriterPauseMs));
      continue;
    }
    // Up to the ring's end, and on from its start: one write either way.
    const uint64_t at = t % kRingBytes, first = std::min(h - t, kRingBytes - at);
    iovec parts[2] = {{s->ring + at, first}, {s->ring, h - t - first}};
    const ssize_t n = writev(s->fd, parts, parts[1].iov_len ? 2 : 1);
    if (n > 0) {
      for (uint64_t b = t + n; b > t; --b)
        if (s->ring[(b - 1) % kRingBytes] == '\n') {
          s->line_end = b;
          break;
        }
      s->tail.store(t + n, std::memory_order_release);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // A device that takes no more for now: again shortly, but after a
      // stop not for long.
      if (closing && !giving_up) {
        give_up = deadline_in_ms(kDeviceGiveUpMs);
        giving_up = true;
      }
      if (giving_up && passed(give_up)) break;
      wait_until(&s->wake, deadline_in_ms(kWriterPauseMs));
      continue;
    }
    fail(s, n < 0 ? errno : EIO);
  }
  // Lines still on their way never reach the file.
  s->dropped.fetch_add(line_ends(s, s->tail.load(), s->head.load()));
  close(s->fd);
  // Closed by the line limit or a failure: nobody may stop it for a while.
  if (s->announced.load()) report_dropped(s, true);
  sem_post(&s->done);
  int expected = kWriting;
  if (s->fate.compare_exchange_strong(expected, kFinished)) return nullptr;
  // The stop did not wait this long: nobody else will say it, or free it.
  report_dropped(s, true);
  free_sink(s);
  return nullptr;
}

LogSink *make_sink(int fd, const char *name, std::atomic<unsigned> *taking) {
  static std::atomic<unsigned> sessions{0};
  LogSink *s = new (std::nothrow) LogSink;
  if (!s) return nullptr;
  s->ring = static_cast<char *>(malloc(kRingBytes));
  struct stat st;
  if (!s->ring || fstat(fd, &st) != 0) {
    free(s->ring);
    delete s;
    return nullptr;
  }
  s->fd = fd;
  s->regular = S_ISREG(st.st_mode);
  s->dev = st.st_dev;
  s->ino = st.st_ino;
  s->taking = taking;
  snprintf(s->name, sizeof s->name, "%s", name);
  do s->session = sessions.fetch_add(1) + 1;
  while (s->session == 0);
  sem_init(&s->wake, 0, 0);
  sem_init(&s->done, 0, 0);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  const bool started = pthread_create(&s->thread, &attr, write_lines, s) == 0;
  pthread_attr_destroy(&attr);
  if (!started) {
    free_sink(s);
    return nullptr;
  }
  return s;
}

// The log's file closes: its writer is told, and waited for a little.
void finish_sink(LogSink *s) {
  s->closing.store(1, std::memory_order_release);
  sem_post(&s->wake);
  if (wait_until(&s->done, deadline_in_ms(kStopWaitMs))) {
    // The writer is one step from its end, and then never touches it again.
    while (s->fate.load() == kWriting) sched_yield();
  }
  int expected = kWriting;
  if (s->fate.compare_exchange_strong(expected, kLeft)) {
    announce_done(s, false);
    printf("*** warning: analysis log '%s' could not be finished: its file takes no more lines\n", s->name);
    return;
  }
  announce_done(s, false);
  report_dropped(s, false);
  free_sink(s);
}

double seconds_since(const AnalysisLog &log) {
  timeval now;
  gettimeofday(&now, nullptr);
  return static_cast<double>(now.tv_sec - log.start_sec) + (now.tv_usec - log.start_usec) * 1e-6;
}

// The longest line: five reals of up to 317 characters, two ints, blanks.
constexpr int kLineChars = 2048;

// Log mutex held, the log taking lines. The line goes into the ring whole,
// or is dropped whole when there is no room; the frame never waits.
void put_line(AnalysisLog &log, LogSink *s, const char *line, int length) {
  if (length <= 0 || length >= kLineChars) return;
  const uint64_t h = s->head.load(std::memory_order_relaxed), t = s->tail.load(std::memory_order_acquire);
  if (kRingBytes - (h - t) >= static_cast<uint64_t>(length)) {
    const uint64_t at = h % kRingBytes, first = std::min<uint64_t>(length, kRingBytes - at);
    memcpy(s->ring + at, line, first);
    memcpy(s->ring, line + first, length - first);
    s->head.store(h + length, std::memory_order_release);
  } else {
    s->dropped.fetch_add(1, std::memory_order_relaxed);
  }
  // Counted under the mutex, so a start on the console never sees a count
  // that belongs to the file before.
  if (log.lines.fetch_add(1, std::memory_order_relaxed) + 1 >= kMaxLogLines) {
    print_notice("max. analysis filesize reached. stopping.");
    log.taking.store(0, std::memory_order_release);
    announce_done(s, true);
    s->closing.store(1, std::memory_order_release);
    sem_post(&s->wake);
  }
}

// Log mutex held: the sink taking lines, if any.
LogSink *taking_sink(AnalysisLog &log) {
  LogSink *s = log.sink.load(std::memory_order_relaxed);
  return s && log.taking.load(std::memory_order_relaxed) == s->session ? s : nullptr;
}

}  // namespace

bool AnalysisLog::writes_to(dev_t dev, ino_t ino) {
  pthread_mutex_lock(&mutex);
  LogSink *s = sink.load(std::memory_order_relaxed);
  const bool same = s && s->fate.load() == kWriting && s->dev == dev && s->ino == ino;
  pthread_mutex_unlock(&mutex);
  return same;
}

void start_analysis_log(AnalysisLog &log, int slot, const char *name) {
  printf("analysis for display :%d\nANALYSIS ONLY FOR C5 and IVIV\n", slot);
  stop_analysis_log(log);
  SideFile how;
  const int fd = open_descriptor(name, true, &how);
  LogSink *s = fd >= 0 ? make_sink(fd, name, &log.taking) : nullptr;
  if (fd >= 0 && !s) close(fd);
  if (s)
    printf("starting analysis and log to '%s'\n", name);
  else if (how == SideFile::NotRegular)
    report_not_regular(name);
  else
    printf("log file not valid.\n");
  pthread_mutex_lock(&log.mutex);
  timeval now;
  gettimeofday(&now, nullptr);
  log.start_sec = now.tv_sec;
  log.start_usec = now.tv_usec;
  log.lines.store(0, std::memory_order_relaxed);
  log.sink.store(s, std::memory_order_release);
  log.taking.store(s ? s->session : 0, std::memory_order_release);
  pthread_mutex_unlock(&log.mutex);
}

void stop_analysis_log(AnalysisLog &log) {
  pthread_mutex_lock(&log.mutex);
  LogSink *s = log.sink.load(std::memory_order_relaxed);
  log.sink.store(nullptr, std::memory_order_release);
  log.taking.store(0, std::memory_order_release);
  pthread_mutex_unlock(&log.mutex);
  // Waited for without the mutex: a frame may put lines meanwhile (into
  // nothing: the log has no file).
  if (s) finish_sink(s);
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
  if (LogSink *s = taking_sink(log)) {
    char line[kLineChars];
    put_line(log, s, line, snprintf(line, sizeof line, "%f %f\n", seconds_since(log), score));
  }
  pthread_mutex_unlock(&log.mutex);
}

void log_iviv_pair(AnalysisLog &log, int bin, int partner_bin, double magnitude, double partner_magnitude,
                   double ratio, double partner_ratio) {
  pthread_mutex_lock(&log.mutex);
  if (LogSink *s = taking_sink(log)) {
    char line[kLineChars];
    put_line(log, s, line,
             snprintf(line, sizeof line, "%f %d %d %f %f %f %f\n", seconds_since(log), bin, partner_bin, magnitude,
                      partner_magnitude, ratio, partner_ratio));
  }
  pthread_mutex_unlock(&log.mutex);
}
