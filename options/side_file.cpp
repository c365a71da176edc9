// Files opened without waiting; side files regular and of a bounded size, or
// not read at all.
#include "options/side_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool usable(mode_t mode, bool writing) { return S_ISREG(mode) || (writing && S_ISCHR(mode)); }

}  // namespace

bool opens_without_blocking(const char *path, bool writing) {
  struct stat st;
  if (!path) return false;
  if (stat(path, &st) != 0) return true;
  return usable(st.st_mode, writing);
}

namespace {

// Non-blocking open of a path checked before and after: for writing it is
// created or truncated, read_too opens it for both.
int open_checked(const char *path, bool writing, bool read_too, SideFile *how) {
  *how = SideFile::Missing;
  if (!path) {
    errno = ENOENT;
    return -1;
  }
  if (!opens_without_blocking(path, writing)) {
    *how = SideFile::NotRegular;
    return -1;
  }
  const int access = writing ? (read_too ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC : O_RDONLY;
  const int fd = open(path, access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    // What a FIFO without a reader, or a socket, says to a non-blocking open.
    if (errno == ENXIO) *how = SideFile::NotRegular;
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !usable(st.st_mode, writing)) {
    close(fd);
    *how = SideFile::NotRegular;
    return -1;
  }
  *how = SideFile::Open;
  return fd;
}

}  // namespace

int open_descriptor(const char *path, bool writing, SideFile *how) { return open_checked(path, writing, false, how); }

SideFile open_file(const char *path, const char *mode, FILE **out) {
  *out = nullptr;
  SideFile how;
  const int fd = open_checked(path, mode[0] == 'w', strchr(mode, '+') != nullptr, &how);
  if (fd < 0) return how;
  // Known now not to be a FIFO: reads and writes may wait as usual.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE *f = fdopen(fd, mode);
  if (!f) {
    const int err = errno;
    close(fd);
    errno = err;
    return SideFile::Missing;
  }
  *out = f;
  return SideFile::Open;
}

void report_not_regular(const char *path) { printf("'%s': not a regular file. aborting.\n", path ? path : ""); }

SideFile open_side_file(const char *path, const char *mode, long max_bytes, const char *what, FILE **out) {
  *out = nullptr;
  FILE *f = nullptr;
  // Read: a device never ends either, so only a regular file opens.
  const SideFile how = open_file(path, mode, &f);
  if (how == SideFile::NotRegular) {
    printf("*** warning: %s '%s' is not a regular file, not read\n", what, path);
    return how;
  }
  if (how != SideFile::Open) return SideFile::Missing;
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || st.st_size > max_bytes) {
    fclose(f);
    printf("*** warning: %s '%s' is larger than %ld bytes, not read\n", what, path, max_bytes);
    return SideFile::TooLarge;
  }
  *out = f;
  return SideFile::Open;
}

bool read_side_line(FILE *f, char *buf, int size) {
  int n = 0, c = EOF;
  while ((c = getc_unlocked(f)) != EOF) {
    if (n < size - 1) buf[n++] = c ? static_cast<char>(c) : ' ';
    if (c == '\n') break;
  }
  buf[n] = 0;
  return n > 0 || c != EOF;
}
