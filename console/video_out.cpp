// ffmpeg as a child process, fed through pipes.
#include "console/video_out.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/render.h"

extern char **environ;

namespace {

// The child's descriptors for the two pipes.
constexpr int kVideoFd = 3;
constexpr int kSoundFd = 4;

bool write_all(int fd, const void *data, size_t bytes) {
  const char *p = static_cast<const char *>(data);
  while (bytes > 0) {
    const ssize_t n = write(fd, p, bytes);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    bytes -= static_cast<size_t>(n);
  }
  return true;
}

// A pipe whose ends lie above the child's fixed descriptors, closed on exec.
bool high_pipe(int ends[2]) {
  int raw[2];
  if (pipe2(raw, O_CLOEXEC) != 0) return false;
  for (int i = 0; i < 2; ++i) {
    ends[i] = fcntl(raw[i], F_DUPFD_CLOEXEC, 10);
    close(raw[i]);
  }
  if (ends[0] >= 0 && ends[1] >= 0) return true;
  if (ends[0] >= 0) close(ends[0]);
  if (ends[1] >= 0) close(ends[1]);
  return false;
}

}  // namespace

bool VideoOut::ffmpeg_found() {
  const char *path = getenv("PATH");
  if (!path) return false;
  char dir[4096];
  while (*path) {
    size_t n = strcspn(path, ":");
    if (n > 0 && n < sizeof dir - 8) {
      memcpy(dir, path, n);
      strcpy(dir + n, "/ffmpeg");
      struct stat st;
      if (stat(dir, &st) == 0 && S_ISREG(st.st_mode) && access(dir, X_OK) == 0) return true;
    }
    path += n;
    if (*path == ':') ++path;
  }
  return false;
}

bool VideoOut::start(const char *path, int format, int width, int height, int fps, int rate, int channels) {
  char size[32], frame_rate[16], sample_rate[16], channel_count[8];
  snprintf(size, sizeof size, "%dx%d", width, height);
  snprintf(frame_rate, sizeof frame_rate, "%d", fps);
  snprintf(sample_rate, sizeof sample_rate, "%d", rate);
  snprintf(channel_count, sizeof channel_count, "%d", channels);
  // Raw inputs need no probing, and probing would wait for far more sound
  // than the frames written so far carry, while this side waits to write
  // the next frame.
  const char *head[] = {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
                        "-probesize", "32", "-analyzeduration", "0", "-thread_queue_size", "64",
                        "-f", "rawvideo", "-pix_fmt", "rgb24", "-s", size, "-framerate", frame_rate, "-i", "pipe:3",
                        "-probesize", "32", "-analyzeduration", "0", "-thread_queue_size", "64",
                        "-f", "f32le", "-ar", sample_rate, "-ac", channel_count, "-i", "pipe:4",
                        "-map", "0:v", "-map", "1:a"};
  // H.264 with AAC, H.264 with lossless FLAC, VP9 with Opus.
  const char *mp4[] = {"-c:v", "libx264", "-preset", "fast", "-crf", "18", "-pix_fmt", "yuv420p",
                       "-c:a", "aac", "-b:a", "192k", "-movflags", "+faststart", "-f", "mp4"};
  const char *mkv[] = {"-c:v", "libx264", "-preset", "fast", "-crf", "18", "-pix_fmt", "yuv420p",
                       "-c:a", "flac", "-f", "matroska"};
  const char *webm[] = {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-row-mt", "1",
                        "-crf", "30", "-b:v", "0", "-pix_fmt", "yuv420p", "-c:a", "libopus", "-f", "webm"};
  const char **tail = format == kVideoMkv ? mkv : format == kVideoWebm ? webm : mp4;
  const size_t tail_count = format == kVideoMkv    ? sizeof mkv / sizeof *mkv
                            : format == kVideoWebm ? sizeof webm / sizeof *webm
                                                   : sizeof mp4 / sizeof *mp4;
  constexpr size_t kHead = sizeof head / sizeof *head;
  const char *argv[kHead + 20 + 2];
  size_t n = 0;
  for (const char *a : head) argv[n++] = a;
  for (size_t i = 0; i < tail_count; ++i) argv[n++] = tail[i];
  argv[n++] = path;
  argv[n] = nullptr;

  int video_pipe[2], sound_pipe[2];
  if (!high_pipe(video_pipe)) return false;
  if (!high_pipe(sound_pipe)) {
    close(video_pipe[0]);
    close(video_pipe[1]);
    return false;
  }
  // A frame is megabytes: a larger pipe lets the two processes overlap more.
  fcntl(video_pipe[1], F_SETPIPE_SZ, 1 << 20);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, video_pipe[0], kVideoFd);
  posix_spawn_file_actions_adddup2(&actions, sound_pipe[0], kSoundFd);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setpgroup(&attributes, 0);
  // The render blocks these and ignores SIGPIPE; ffmpeg gets the defaults.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGHUP);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const int failed = posix_spawnp(&pid, "ffmpeg", &actions, &attributes, const_cast<char *const *>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(video_pipe[0]);
  close(sound_pipe[0]);
  if (failed) {
    pid = -1;
    close(video_pipe[1]);
    close(sound_pipe[1]);
    errno = failed;
    return false;
  }
  video = video_pipe[1];
  sound = sound_pipe[1];
  return true;
}

bool VideoOut::write_frame(const unsigned char *rgb, size_t bytes) { return write_all(video, rgb, bytes); }

bool VideoOut::write_sound(const float *samples, size_t count) {
  return write_all(sound, samples, count * sizeof(float));
}

int VideoOut::finish() {
  if (video >= 0) close(video);
  if (sound >= 0) close(sound);
  video = sound = -1;
  if (pid <= 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
