// Window pictures: the key asks, the next frame drawn is read back and saved.
#include "display/snapshot.h"

#include <GL/freeglut.h>
#include <GL/gl.h>
#include <errno.h>
#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "options/notice.h"

namespace {

// Pictures asked for and not yet saved, one for each press; the key and the
// frame both run on the GUI thread.
int g_pictures_asked = 0;
constexpr int kMaxAsked = 16;

constexpr int kMaxSameSecond = 1000;

// The PNG library reports errors by a jump back into write_png.
void png_failed(png_structp png, png_const_charp message) {
  fprintf(stderr, "png: %s\n", message);
  longjmp(png_jmpbuf(png), 1);
}

void png_warned(png_structp, png_const_charp) {}

}  // namespace

void ask_picture() {
  if (g_pictures_asked < kMaxAsked) ++g_pictures_asked;
}

int create_picture_file(time_t t, char *name, size_t capacity) {
  struct tm local;
  localtime_r(&t, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  for (int n = 1; n <= kMaxSameSecond; ++n) {
    if (n == 1)
      snprintf(name, capacity, "yelm-%s.png", stamp);
    else
      snprintf(name, capacity, "yelm-%s-%d.png", stamp, n);
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

bool write_png(int fd, const unsigned char *rgb, int width, int height, bool quick) {
  FILE *f = fdopen(fd, "wb");
  if (!f) {
    close(fd);
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_failed, png_warned);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    fclose(f);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    fclose(f);
    return false;
  }
  png_init_io(png, f);
  if (quick) {
    // One filter and light compression: about four times as fast here, on
    // pictures that are mostly black.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(png, 1);
  }
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y)
    png_write_row(png, const_cast<png_bytep>(rgb + static_cast<size_t>(y) * width * 3));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  const bool flushed = fflush(f) == 0;
  return fclose(f) == 0 && flushed;
}

void snapshot_if_asked() {
  if (g_pictures_asked == 0) return;
  // One picture a frame: presses that came together still give one file each.
  if (--g_pictures_asked > 0) glutPostRedisplay();
  const int width = glutGet(GLUT_WINDOW_WIDTH), height = glutGet(GLUT_WINDOW_HEIGHT);
  if (width <= 0 || height <= 0) return;
  const size_t row = static_cast<size_t>(width) * 3;
  // One buffer for GL's rows (bottom first) and one for the file's (top first).
  unsigned char *pixels = static_cast<unsigned char *>(malloc(row * height * 2));
  if (!pixels) {
    print_notice("*** warning: no memory for a picture of %dx%d", width, height);
    return;
  }
  unsigned char *flipped = pixels + row * height;
  glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  // The front buffer reads back empty here: take the frame before it swaps.
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels);
  glPopClientAttrib();
  for (int y = 0; y < height; ++y) memcpy(flipped + row * y, pixels + row * (height - 1 - y), row);

  char name[64];
  const int fd = create_picture_file(time(nullptr), name, sizeof name);
  if (fd < 0) {
    print_notice("*** warning: cannot create %s: %s", name, strerror(errno));
  } else if (!write_png(fd, flipped, width, height)) {
    print_notice("*** warning: cannot write %s", name);
    unlink(name);
  } else {
    print_notice("saved picture %s (%dx%d)", name, width, height);
  }
  free(pixels);
}
