// Saving what the window shows as a PNG file in the working folder.
#pragma once

#include <cstddef>
#include <ctime>

// Asks for a picture of the next frame drawn, one for each call (the key p).
// GUI thread only.
void ask_picture();

// Called by the display callback after drawing and before the buffers swap:
// saves the frame if a picture was asked for. GUI thread only.
void snapshot_if_asked();

// Creates a new file "yelm-YYYYMMDD-HHMMSS.png" for the local time t, or,
// when that name is taken, the same with "-2", "-3", ... before ".png";
// never opens an existing file. Returns the open descriptor and the name,
// or -1 (name then holds the last name tried).
int create_picture_file(time_t t, char *name, size_t capacity);

// Writes rgb (3 bytes a pixel, rows top first) as an 8-bit RGB PNG to the
// open descriptor fd, which it closes. False when writing failed. `quick`
// trades some size for speed (frames of a render).
bool write_png(int fd, const unsigned char *rgb, int width, int height, bool quick = false);
