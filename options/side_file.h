// Opening files without ever waiting on them, and the text files a command
// reads beside its sound (settings, surface descriptions, codebooks,
// parameters).
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

// True when opening path cannot block and gives a file the program can use:
// a name not made yet or a regular file, and for writing also a character
// device (/dev/null, a terminal). A FIFO waits for its other end (for ever,
// when nobody comes), a socket cannot be opened, a directory holds no sound.
bool opens_without_blocking(const char *path, bool writing = false);

enum class SideFile { Open, Missing, NotRegular, TooLarge };

// fopen(path, mode) ("r", "w" or "w+", "b" allowed) that never waits: the
// path is checked by opens_without_blocking, opened non-blocking, and what
// was opened is checked again (the name may have been swapped for a FIFO
// meanwhile). Open; NotRegular, with nothing opened and nothing printed; or
// Missing, errno telling why.
SideFile open_file(const char *path, const char *mode, FILE **out);
// The same as a descriptor. A device stays non-blocking, so a terminal that
// takes no more gives EAGAIN rather than a wait; -1 unless Open.
int open_descriptor(const char *path, bool writing, SideFile *how);
// The one line that refuses a FIFO, socket, directory or (read) device.
void report_not_regular(const char *path);

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
