// A video made by ffmpeg as a child process: raw RGB frames reach it
// through one pipe and the sound, as 32-bit floats, through another.
#pragma once

#include <sys/types.h>

#include <cstddef>

struct VideoOut {
  pid_t pid = -1;
  int video = -1;  // write ends of the pipes
  int sound = -1;

  // True when an ffmpeg program is on the PATH.
  static bool ffmpeg_found();
  // Starts ffmpeg writing `path` in format (VideoFormat), from frames of
  // width x height at fps and sound of `channels` channels at `rate`. It
  // runs in a process group of its own, so a ctrl-c at the terminal reaches
  // only this program, which then ends the video properly.
  bool start(const char *path, int format, int width, int height, int fps, int rate, int channels);
  bool write_frame(const unsigned char *rgb, size_t bytes);
  bool write_sound(const float *samples, size_t count);
  // Closes the pipes and waits for ffmpeg: its exit status (0: the video is
  // whole), or -1 when it did not exit by itself.
  int finish();
};
