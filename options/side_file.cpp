// Side files: regular and of a bounded size, or not read at all.
#include "options/side_file.h"

#include <sys/stat.h>

bool opens_without_blocking(const char *path) {
  struct stat st;
  if (!path) return false;
  if (stat(path, &st) != 0) return true;
  return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) || S_ISCHR(st.st_mode);
}

SideFile open_side_file(const char *path, const char *mode, long max_bytes, const char *what, FILE **out) {
  *out = nullptr;
  struct stat st;
  if (!path || stat(path, &st) != 0) return SideFile::Missing;
  // Stricter than opens_without_blocking: a device never ends either.
  if (!S_ISREG(st.st_mode) || !opens_without_blocking(path)) {
    printf("*** warning: %s '%s' is not a regular file, not read\n", what, path);
    return SideFile::NotRegular;
  }
  if (st.st_size > max_bytes) {
    printf("*** warning: %s '%s' is larger than %ld bytes, not read\n", what, path, max_bytes);
    return SideFile::TooLarge;
  }
  FILE *f = fopen(path, mode);
  if (!f) return SideFile::Missing;
  // The name may have been swapped for something else since the stat.
  struct stat now;
  if (fstat(fileno(f), &now) != 0 || !S_ISREG(now.st_mode)) {
    fclose(f);
    printf("*** warning: %s '%s' is not a regular file, not read\n", what, path);
    return SideFile::NotRegular;
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
