// Holding back the audio library's text on standard error.
#include "audio/quiet.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace {

int anonymous_file() {
  int fd = memfd_create("yelm-audio-text", MFD_CLOEXEC);
  if (fd >= 0) return fd;
  // Kernels without memfd: an unnamed file in /tmp.
  return open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

}  // namespace

bool QuietStderr::begin(bool show_all) {
  end();
  release();
  if (show_all) return false;
  capture = anonymous_file();
  if (capture < 0) return false;
  saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (saved < 0) {
    release();
    return false;
  }
  fflush(stderr);
  if (dup2(capture, STDERR_FILENO) < 0) {
    close(saved);
    saved = -1;
    release();
    return false;
  }
  return true;
}

void QuietStderr::end() {
  if (saved < 0) return;
  fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  saved = -1;
}

namespace {

// Collects lines of held-back text and writes the first few distinct ones.
struct LineDigest {
  char shown[QuietStderr::kShownLines][QuietStderr::kLineChars + 1];
  int count = 0, more = 0;
  char line[QuietStderr::kLineChars + 1];
  int len = 0;
  bool cut = false;

  void add(char c) {
    if (c == '\n') return finish_line();
    if (len < QuietStderr::kLineChars) line[len++] = c == '\r' || c == '\t' ? ' ' : c;
    else cut = true;
  }
  void finish_line() {
    if (cut) {
      strcpy(line + QuietStderr::kLineChars - 4, " ...");
    } else {
      while (len > 0 && line[len - 1] == ' ') --len;
      line[len] = 0;
    }
    len = 0;
    cut = false;
    if (strspn(line, " ") == strlen(line)) return;
    // The back-ends are probed more than once and repeat themselves.
    for (int k = 0; k < count; ++k)
      if (strcmp(shown[k], line) == 0) return;
    if (count == QuietStderr::kShownLines) {
      ++more;
      return;
    }
    strcpy(shown[count++], line);
  }
};

}  // namespace

int QuietStderr::show(FILE *out) const {
  if (capture < 0) return 0;
  LineDigest d;
  char buf[4096];
  off_t pos = 0;
  for (ssize_t n; (n = pread(capture, buf, sizeof buf, pos)) > 0; pos += n)
    for (ssize_t i = 0; i < n; ++i) d.add(buf[i]);
  if (d.len > 0) d.finish_line();
  for (int k = 0; k < d.count; ++k) fprintf(out, "    %s\n", d.shown[k]);
  if (d.more > 0)
    fprintf(out, "    (%d more line%s held back; 'set audio.verbose 1' shows them all)\n", d.more,
            d.more == 1 ? "" : "s");
  fflush(out);
  return d.count + (d.more > 0);
}

void QuietStderr::release() {
  if (capture >= 0) close(capture);
  capture = -1;
}
