// Opening the text files a command reads beside its sound (settings,
// surface descriptions, codebooks, parameters).
#pragma once

#include <cstdio>

// Caps on side files. A settings file holds at most 300 entries, a surface
// description at most twelve short blocks, a parameter file seven lines: a
// mebibyte is far beyond any real one. A codebook is an analysis log, which
// grows with the music it was recorded from; 256 MiB is some hours of it and
// still reads in about a second.
constexpr long kSettingsFileMax = 1L << 20;
constexpr long kSurfaceFileMax = 1L << 20;
constexpr long kParamFileMax = 1L << 20;
constexpr long kCodebookFileMax = 256L << 20;

// True when opening path cannot block: a name not made yet, a regular
// file, a directory or a character device (/dev/null). A FIFO waits for its
// other end (for ever, when nobody comes), and a socket cannot be opened.
bool opens_without_blocking(const char *path);

enum class SideFile { Open, Missing, NotRegular, TooLarge };

// Opens path for reading when it is a regular file of at most max_bytes.
// A device, FIFO or directory is never opened (a FIFO would block, /dev/zero
// never ends); those and too large files print one line naming the file as
// `what` and give NotRegular or TooLarge. A file that cannot be opened gives
// Missing with nothing printed: each reader has its own word for that.
SideFile open_side_file(const char *path, const char *mode, long max_bytes, const char *what, FILE **out);

// Reads the next line of a side file into buf: at most size - 1 of its
// bytes, the line end included, then a terminator; the rest of a longer line
// is dropped, so it never passes for a line of its own. The line runs to its
// line end whatever bytes it holds: a NUL in it is kept as a blank (the text
// readers would stop at it), and ends neither the line nor the text. False
// at the end of the file.
bool read_side_line(FILE *f, char *buf, int size);
