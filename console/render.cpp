// Rendering a file through the displays: the settings and the slot door of
// plot, the feed's callback driven from the file on a clock of counted
// frames, the idle step's analysis and the display callback's drawing once
// per frame, off screen; the frames go to PNG files or to ffmpeg.
#include "console/render.h"

#include <errno.h>
#include <fcntl.h>
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/feed.h"
#include "console/video_out.h"
#include "display/graphs.h"
#include "display/offscreen.h"
#include "display/snapshot.h"
#include "display/viewport.h"
#include "options/options.h"

namespace {

int usage_error(const char *what, const char *value = nullptr) {
  if (value)
    fprintf(stderr, "yelm: %s '%s' (try 'yelm --help')\n", what, value);
  else
    fprintf(stderr, "yelm: %s (try 'yelm --help')\n", what);
  return 2;
}

bool ends_with(const char *s, const char *tail) {
  const size_t n = strlen(s), m = strlen(tail);
  return n >= m && strcasecmp(s + n - m, tail) == 0;
}

bool read_seconds(const char *text, double *out) {
  char *end = nullptr;
  errno = 0;
  const double v = strtod(text, &end);
  if (end == text || *end || errno || !std::isfinite(v) || v < 0 || v > RenderRequest::kMaxSeconds) return false;
  *out = v;
  return true;
}

bool read_whole(const char *text, long lo, long hi, int *out) {
  if (*text < '0' || *text > '9') return false;
  char *end = nullptr;
  errno = 0;
  const long v = strtol(text, &end, 10);
  if (*end || errno || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

bool read_size(const char *text, int *w, int *h) {
  const char *x = strchr(text, 'x');
  if (!x || x == text || x - text > 8) return false;
  char first[9] = {};
  memcpy(first, text, x - text);
  return read_whole(first, RenderRequest::kMinSide, RenderRequest::kMaxSide, w) &&
         read_whole(x + 1, RenderRequest::kMinSide, RenderRequest::kMaxSide, h);
}

bool is_folder(const char *path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int RenderRequest::parse(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    const char *a = argv[i];
    if (a[0] != '-' || a[1] == 0) {
      if (in) return usage_error("unexpected argument", a);
      if (!out) return usage_error("the output comes first: --render OUT IN");
      in = a;
      continue;
    }
    // --name value, or --name=value.
    char name[16] = {};
    const char *eq = strchr(a, '=');
    const size_t len = eq ? static_cast<size_t>(eq - a) : strlen(a);
    if (len >= sizeof name) return usage_error("unknown option", a);
    memcpy(name, a, len);
    const char *value = eq ? eq + 1 : nullptr;
    static const char *const kTaking[] = {"--render", "--fps", "--size", "--from", "--to", "--settings"};
    bool known = false;
    for (const char *k : kTaking) known = known || strcmp(name, k) == 0;
    if (!known) return usage_error("unknown option", a);
    if (!value) {
      if (i + 1 >= argc) return usage_error("a value is missing after", name);
      value = argv[++i];
    }
    if (strcmp(name, "--render") == 0) {
      out = value;
    } else if (strcmp(name, "--fps") == 0) {
      if (!read_whole(value, 1, kMaxFps, &fps)) return usage_error("--fps wants a whole number of frames a second, 1 to 240, not", value);
    } else if (strcmp(name, "--size") == 0) {
      if (!read_size(value, &width, &height)) return usage_error("--size wants WIDTHxHEIGHT, each 16 to 16384, not", value);
    } else if (strcmp(name, "--from") == 0) {
      if (!read_seconds(value, &from)) return usage_error("--from wants seconds from the start, not", value);
    } else if (strcmp(name, "--to") == 0) {
      if (!read_seconds(value, &to)) return usage_error("--to wants seconds from the start, not", value);
    } else {
      settings = value;
    }
  }
  if (!out || !*out || !in) return usage_error("--render wants an output and an input: --render OUT IN");
  if (to >= 0 && to <= from) return usage_error("--to must lie after --from");
  if (strlen(out) > kNameChars - 16) return usage_error("the output name is too long");

  if (ends_with(out, ".mp4") || ends_with(out, ".mkv") || ends_with(out, ".webm")) {
    output = kRenderVideo;
    format = ends_with(out, ".mp4") ? kVideoMp4 : ends_with(out, ".mkv") ? kVideoMkv : kVideoWebm;
    if (width % 2 || height % 2) return usage_error("a video needs an even width and height, not", nullptr);
    return 0;
  }
  const size_t n = strlen(out);
  if (ends_with(out, ".png")) {
    const char *field = strchr(out, '%');
    if (!field) {
      output = kRenderPicture;
      return 0;
    }
    // %d or %0Nd, once; nothing else of printf's.
    const char *p = field + 1;
    int width_digits = 0;
    if (*p == '0') ++p;
    while (*p >= '0' && *p <= '9' && width_digits < 2) width_digits = width_digits * 10 + (*p++ - '0');
    if (*p != 'd' || strchr(p, '%') || (field[1] >= '1' && field[1] <= '9'))
      return usage_error("the frame number in OUT is written %d or %0Nd, as in frames/%06d.png, not", out);
    output = kRenderFrames;
    digits = width_digits;
    memcpy(prefix, out, field - out);
    strcpy(suffix, p + 1);
    return 0;
  }
  if (out[n - 1] == '/' || is_folder(out)) {
    output = kRenderFrames;
    digits = 6;
    snprintf(prefix, sizeof prefix, "%s%s", out, out[n - 1] == '/' ? "" : "/");
    strcpy(suffix, ".png");
    make_folder = !is_folder(out);
    return 0;
  }
  return usage_error("OUT names .png frames with a %d field, a folder, one .png picture, or a .mp4, .mkv or .webm video, not",
                     out);
}

bool RenderRequest::frame_name(long long number, char *name, size_t capacity) const {
  const int written = snprintf(name, capacity, "%s%0*lld%s", prefix, digits, number, suffix);
  return written >= 0 && static_cast<size_t>(written) < capacity;
}

bool FrameClock::cut(long long frames, double from, double to) {
  from_sample = llround(from * rate);
  to_sample = to < 0 ? frames : llround(to * rate);
  if (to_sample > frames) to_sample = frames;
  if (from_sample >= frames) return false;
  // The first frame at or after --from, and the first that starts at or after --to.
  first = (from_sample * fps + rate - 1) / rate;
  end = (to_sample * fps + rate - 1) / rate;
  if (end < first) end = first;
  return true;
}

namespace {

volatile sig_atomic_t g_stop_signal = 0;

void stop_at_next_frame(int sig) { g_stop_signal = sig; }

double seconds_now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// The settings as plot would have them: the working folder's .yelmrc, or
// the named file. False when the named file cannot be read.
bool load_settings(const char *path, const char *version) {
  g_options.set(-1, "VERSION", version);
  const char *file = path ? path : ".yelmrc";
  if (path) {
    FILE *f = fopen(path, "rb");
    if (!f || is_folder(path)) {
      fprintf(stderr, "yelm: cannot read the settings file '%s': %s\n", path, f ? "it is a folder" : strerror(errno));
      if (f) fclose(f);
      return false;
    }
    fclose(f);
  }
  if (g_options.load_file(file) == 0) printf("%s had errors.\n", file);
  // A playback effect: the render shows and plays the file as it is.
  if (g_options.get_double(-1, "resample", false, -1.0) > 0) {
    printf("*** warning: resample changes the pace of playing only: the render shows the file as it is\n");
    g_options.set(-1, "resample", "-1");
  }
  return true;
}

// The frames the feed's reader gives for the file, counted by a reader of
// its own (every format plot reads, to its very last frame).
long long count_frames(const char *path) {
  AcqReader reader;
  reader.keep_tail = true;
  if (reader.open_input(path, false) != 0) return -1;
  long long frames = 0;
  double l, r;
  while (reader.next_frame(l, r)) ++frames;
  return frames;
}

// The sound of the frames shown, read by another reader of the file.
struct SoundTrack {
  AcqReader reader;
  int channels = 2;
  long long position = 0;  // frames read so far
  float *samples = nullptr;
  long long capacity = 0;  // frames samples holds

  bool open(const char *path, long long most_frames) {
    reader.keep_tail = true;
    if (reader.open_input(path, false) != 0) return false;
    channels = reader.channels == 1 ? 1 : 2;
    capacity = most_frames;
    samples = static_cast<float *>(malloc(static_cast<size_t>(capacity) * channels * sizeof(float)));
    return samples != nullptr;
  }
  // Reads frames up to `sample` (at most capacity at a time); the count.
  long long read_to(long long sample) {
    long long n = 0;
    double l, r;
    while (position < sample && n < capacity && reader.next_frame(l, r)) {
      // On ffmpeg's scale, where a 16-bit sample s is s / 32768.
      const double k = 32767.0 / 32768.0;
      samples[n * channels] = static_cast<float>(l * k);
      if (channels == 2) samples[n * channels + 1] = static_cast<float>(r * k);
      ++n;
      ++position;
    }
    return n;
  }
  ~SoundTrack() { free(samples); }
};

// PNG frames are compressed and written on a thread of their own while the
// next frame is drawn: the two take about as long for a busy picture.
struct PngWriter {
  pthread_t thread{};
  pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
  unsigned char *rgb = nullptr;  // the frame being written
  int width = 0, height = 0;
  char name[RenderRequest::kNameChars + 1] = {};
  bool full = false;     // rgb holds a frame not yet written
  bool quit = false;
  bool running = false;
  int error = 0;  // of the first write that failed (name then names it)

  bool start(int w, int h) {
    width = w;
    height = h;
    rgb = static_cast<unsigned char *>(malloc(static_cast<size_t>(w) * h * 3));
    running = rgb && pthread_create(&thread, nullptr, main, this) == 0;
    return running;
  }
  static void *main(void *self) {
    PngWriter &w = *static_cast<PngWriter *>(self);
    pthread_mutex_lock(&w.lock);
    for (;;) {
      while (!w.full && !w.quit) pthread_cond_wait(&w.changed, &w.lock);
      if (!w.full) break;
      pthread_mutex_unlock(&w.lock);
      errno = 0;
      const int fd = open(w.name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      int failed = fd < 0 ? errno : 0;
      if (fd >= 0 && !write_png(fd, w.rgb, w.width, w.height, true)) {
        failed = errno ? errno : EIO;
        unlink(w.name);
      }
      pthread_mutex_lock(&w.lock);
      w.error = failed;
      w.full = false;
      pthread_cond_broadcast(&w.changed);
      if (failed) break;
    }
    pthread_mutex_unlock(&w.lock);
    return nullptr;
  }
  // Waits for the frame before; false, leaving this one, when that failed.
  bool put(const unsigned char *frame, const char *frame_name) {
    pthread_mutex_lock(&lock);
    while (full) pthread_cond_wait(&changed, &lock);
    const bool ok = error == 0;
    if (ok) {
      memcpy(rgb, frame, static_cast<size_t>(width) * height * 3);
      snprintf(name, sizeof name, "%s", frame_name);
      full = true;
      pthread_cond_broadcast(&changed);
    }
    pthread_mutex_unlock(&lock);
    return ok;
  }
  // Waits for the last frame; false when a write failed.
  bool finish() {
    if (!running) return error == 0;
    pthread_mutex_lock(&lock);
    while (full) pthread_cond_wait(&changed, &lock);
    quit = true;
    pthread_cond_broadcast(&changed);
    pthread_mutex_unlock(&lock);
    pthread_join(thread, nullptr);
    running = false;
    return error == 0;
  }
  ~PngWriter() {
    finish();
    free(rgb);
  }
};

// Where the frames go.
struct RenderSink {
  const RenderRequest &request;
  VideoOut video;
  PngWriter pictures;
  char temporary[RenderRequest::kNameChars + 1] = {};  // the video until it is whole
  char name[RenderRequest::kNameChars + 1] = {};

  explicit RenderSink(const RenderRequest &r) : request(r) {}

  // Before any work: the output can be written. For a video, an empty file
  // beside OUT that ffmpeg fills and that becomes OUT when it is whole.
  bool prepare() {
    const RenderRequest &r = request;
    if (r.output == kRenderVideo) {
      snprintf(temporary, sizeof temporary, "%s.part-XXXXXX", r.out);
      const int fd = mkstemp(temporary);
      if (fd < 0) return fail_output(r.out);
      // mkstemp's 0600 would stay with the video.
      const mode_t mask = umask(0);
      umask(mask);
      fchmod(fd, 0666 & ~mask);
      close(fd);
      return true;
    }
    if (r.output == kRenderFrames && r.make_folder && mkdir(r.out, 0777) != 0 && errno != EEXIST)
      return fail_output(r.out);
    // A trial file where the first frame goes.
    const char *beside = r.output == kRenderPicture ? r.out : r.prefix[0] ? r.prefix : "./";
    if (snprintf(temporary, sizeof temporary, "%s.part-XXXXXX", beside) >= static_cast<int>(sizeof temporary)) {
      errno = ENAMETOOLONG;
      return fail_output(r.out);
    }
    const int fd = mkstemp(temporary);
    if (fd < 0) return fail_output(r.out);
    close(fd);
    unlink(temporary);
    temporary[0] = 0;
    return true;
  }

  bool fail_output(const char *path) {
    fprintf(stderr, "yelm: cannot write '%s': %s\n", path, strerror(errno));
    return false;
  }

  // Frame number `number` (from 1): a PNG, or the frame and its sound to ffmpeg.
  bool put(long long number, const OffscreenFrame &frame, const float *sound, long long sound_frames,
           int channels) {
    if (request.output == kRenderVideo) {
      if (video.write_sound(sound, static_cast<size_t>(sound_frames) * channels) &&
          video.write_frame(frame.rgb, static_cast<size_t>(frame.width) * frame.height * 3))
        return true;
      fprintf(stderr, "yelm: ffmpeg stopped taking frames for '%s'\n", request.out);
      return false;
    }
    if (request.output == kRenderPicture)
      snprintf(name, sizeof name, "%s", request.out);
    else if (!request.frame_name(number, name, sizeof name))
      return fail_output(request.out);
    if (!pictures.running && !pictures.start(frame.width, frame.height)) {
      errno = ENOMEM;
      return fail_output(name);
    }
    return pictures.put(frame.rgb, name) || finish_frames();
  }

  // The last frame written; false, after the message, when a write failed.
  bool finish_frames() {
    if (pictures.finish()) return true;
    errno = pictures.error;
    return fail_output(pictures.name);
  }

  // The video made whole under OUT's name; false (and nothing under it) when
  // ffmpeg did not finish it.
  bool finish_video() {
    const int status = video.finish();
    if (status == 0 && rename(temporary, request.out) == 0) {
      temporary[0] = 0;
      return true;
    }
    if (status != 0) fprintf(stderr, "yelm: ffmpeg could not make '%s' (status %d)\n", request.out, status);
    else fail_output(request.out);
    return false;
  }

  // Leaves nothing half-written.
  void abandon() {
    video.finish();
    if (temporary[0]) unlink(temporary);
    temporary[0] = 0;
  }
};

// Progress on the terminal: rewritten in place there, a line per tenth elsewhere.
struct Progress {
  bool terminal = isatty(STDOUT_FILENO);
  double started = seconds_now(), shown = 0;
  long long tenth = 0;

  double speed(long long done, int fps) const {
    const double spent = seconds_now() - started;
    return spent > 0 ? done / static_cast<double>(fps) / spent : 0;
  }
  void update(long long done, long long total, int fps) {
    if (terminal) {
      const double now = seconds_now();
      if (done < total && now - shown < 0.25) return;
      shown = now;
      printf("\rframe %lld of %lld, %.1fx real time ", done, total, speed(done, fps));
    } else {
      if (done * 10 / total == tenth && done < total) return;
      tenth = done * 10 / total;
      printf("frame %lld of %lld, %.1fx real time\n", done, total, speed(done, fps));
    }
    fflush(stdout);
  }
  void end_line() const {
    if (terminal) putchar('\n');
  }
};

}  // namespace

int run_render(const RenderRequest &r, const char *version) {
  // From here a ctrl-c ends at the next frame, never halfway through a file.
  struct sigaction on_stop = {};
  on_stop.sa_handler = stop_at_next_frame;
  on_stop.sa_flags = SA_RESTART | SA_RESETHAND;  // a second ctrl-c ends at once
  sigaction(SIGINT, &on_stop, nullptr);
  sigaction(SIGTERM, &on_stop, nullptr);
  sigaction(SIGHUP, &on_stop, nullptr);
  signal(SIGPIPE, SIG_IGN);
  if (r.output == kRenderVideo && !VideoOut::ffmpeg_found()) {
    fprintf(stderr, "yelm: a video needs ffmpeg, which is not installed (apt install ffmpeg); or render PNG frames: "
                    "yelm --render frames/ %s\n", r.in);
    return 1;
  }
  const char *why = "";
  if (!window_possible(&why)) {
    fprintf(stderr, "yelm: no display to draw with (%s); on a machine without one: xvfb-run -a yelm --render ...\n",
            why);
    return 1;
  }
  if (!load_settings(r.settings, version)) return 1;
  const char *view = g_options.get_text(-1, "render.view", false, "start");
  const bool framed = strcmp(view, "framed") == 0;
  if (!framed && strcmp(view, "start") != 0)
    printf("*** warning: render.view '%s' is neither start nor framed (using start)\n", view);

  struct stat st;
  if (stat(r.in, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    fprintf(stderr, "yelm: '%s' is not a file: a render reads its input twice\n", r.in);
    return 1;
  }
  // Every frame the GL driver and the PNG coder take and give back the same
  // large blocks: kept in the process, they are not faulted in anew each
  // time (a fifth of a frame's time went to that).
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  graphs_t &m = g_graphs;
  DataFeed &feed = *m.feed;
  printf("rendering %s to %s (%dx%d, %d fps)\n", r.in, r.out, r.width, r.height, r.fps);
  // The mirror fills its grid with noise: the same noise on every run.
  srand(1);
  {
    FILE *file = nullptr;
    const SideFile how = open_file(r.in, "rb", &file);
    GuiLock lock(m);
    m.live.mode = kModeNone;
    feed.reader.keep_tail = true;
    if (!m.configure_input(r.in, file, how, false)) return 1;
    m.print_displays();
  }
  FrameClock clock;
  clock.rate = feed.sample_rate;
  clock.fps = r.fps;
  const long long frames = count_frames(r.in);
  if (frames <= 0) {
    fprintf(stderr, "yelm: '%s' holds no sound\n", r.in);
    return 1;
  }
  if (!clock.cut(frames, r.from, r.to)) {
    fprintf(stderr, "yelm: --from %g lies at or past the end of '%s' (%.2f s) (try 'yelm --help')\n", r.from, r.in,
            frames / static_cast<double>(clock.rate));
    return 2;
  }
  if (r.output == kRenderPicture && clock.end > clock.first) clock.end = clock.first + 1;
  if (clock.count() <= 0) {
    fprintf(stderr, "yelm: no frame starts between --from and --to at %d fps (try 'yelm --help')\n", r.fps);
    return 2;
  }

  RenderSink sink(r);
  if (!sink.prepare()) return 1;
  OffscreenFrame frame;
  if (!open_drawing_context(&why) || !frame.make(r.width, r.height, &why)) {
    fprintf(stderr, "yelm: cannot draw at %dx%d: %s\n", r.width, r.height, why);
    sink.abandon();
    return 1;
  }
  view_reset();

  SoundTrack sound;
  if (r.output == kRenderVideo) {
    if (!sound.open(r.in, clock.rate / clock.fps + 2) ||
        !sink.video.start(sink.temporary, r.format, r.width, r.height, r.fps, clock.rate, sound.channels)) {
      fprintf(stderr, "yelm: cannot start ffmpeg: %s\n", strerror(errno ? errno : ENOMEM));
      sink.abandon();
      return 1;
    }
    // The sound starts with the first frame shown.
    while (sound.position < clock.sample_of(clock.first) &&
           sound.read_to(clock.sample_of(clock.first)) > 0) {
    }
  }

  feed.start_simulated();
  Progress progress;
  long long done = 0;
  bool failed = false;
  // Frames before the cut are analysed as in a whole render, not drawn, so
  // a frame is the same whatever the cut.
  for (long long g = 0; g < clock.end && !g_stop_signal; ++g) {
    feed.feed_to(clock.sample_of(g));
    const bool shown = g >= clock.first;
    {
      GuiLock lock(m);
      analyse_slots(m);
      if (g == 0 && framed) frame_displays(m, r.width, r.height);
      if (shown) draw_picture(m);
    }
    if (!shown) continue;
    frame.read();
    long long sound_frames = 0;
    if (r.output == kRenderVideo) {
      const long long until = g + 1 < clock.end ? clock.sample_of(g + 1) : clock.to_sample;
      sound_frames = sound.read_to(until);
    }
    if (!sink.put(g - clock.first + 1, frame, sound.samples, sound_frames, sound.channels)) {
      failed = true;
      break;
    }
    ++done;
    progress.update(done, clock.count(), r.fps);
  }
  if (!failed && r.output != kRenderVideo) failed = !sink.finish_frames();
  progress.end_line();
  feed.stop();
  const double seconds = done / static_cast<double>(r.fps);
  const double speed = progress.speed(done, r.fps);
  if (failed) {
    sink.abandon();
    return 1;
  }
  if (g_stop_signal && done == 0) {
    sink.abandon();
    printf("stopped before the first frame: nothing was made\n");
    return 128 + g_stop_signal;
  }
  if (r.output == kRenderVideo && !sink.finish_video()) {
    sink.abandon();
    return 1;
  }
  if (g_stop_signal) {
    if (r.output == kRenderVideo)
      printf("stopped at frame %lld of %lld: %s holds a playable video of the first %.2f s\n", done, clock.count(),
             r.out, seconds);
    else
      printf("stopped at frame %lld of %lld: the frames made so far are kept (%s)\n", done, clock.count(), r.out);
    fflush(stdout);
    return 128 + g_stop_signal;
  }
  printf("rendered %lld frame%s of %dx%d (%.2f s) to %s, %.1fx real time\n", done, done == 1 ? "" : "s", r.width,
         r.height, seconds, r.out, speed);
  return 0;
}
