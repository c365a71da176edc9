// The acquisition engine: reset, preparation, input, stream, callback.
#include "audio/feed.h"

#include <libresample.h>
#include <portaudio.h>
#include <sched.h>
#include <semaphore.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "audio/devices.h"
#include "audio/quiet.h"
#include "options/deadline.h"
#include "options/notice.h"
#include "options/options.h"

namespace {

constexpr int kFramesPerBuffer = 64;
constexpr int kBlockBytes = AcqReader::kBlockBytes;
// How long a stream may take to stop: when its sound server has gone away
// the library waits for minutes.
constexpr int kStopBoundMs = 3000;

// One stream's stop and close, on a thread of their own so that they can be
// waited for with a bound. Given up on (kStopLeft), the thread ends on its
// own and frees the record; the library is never called for that stream
// again (Pa_Terminate after a lost server aborts the process).
enum StopFate { kStopRunning, kStopDone, kStopLeft };
struct StreamStop {
  PaStream *stream = nullptr;
  PaError err = paNoError;
  std::atomic<int> fate{kStopRunning};
  sem_t done;
};

// Stops given up on whose library calls have not come back yet.
std::atomic<int> g_stops_left{0};

void *run_stop(void *arg) {
  StreamStop *job = static_cast<StreamStop *>(arg);
  PaError err = Pa_StopStream(job->stream);
  if (!err) err = Pa_CloseStream(job->stream);
  job->err = err;
  sem_post(&job->done);
  int expected = kStopRunning;
  if (job->fate.compare_exchange_strong(expected, kStopDone)) return nullptr;
  g_stops_left.fetch_sub(1);
  sem_destroy(&job->done);
  delete job;
  return nullptr;
}

// Pa_StopStream and Pa_CloseStream within the bound: true with their result
// in err, false when the stream was given up on.
bool stop_within_bound(PaStream *s, PaError &err) {
  StreamStop *job = new (std::nothrow) StreamStop;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  bool started = false;
  if (job) {
    job->stream = s;
    sem_init(&job->done, 0, 0);
    started = pthread_create(&thread, &attr, run_stop, job) == 0;
  }
  pthread_attr_destroy(&attr);
  if (!started) {
    // No thread to spare: stopped here, without a bound.
    if (job) {
      sem_destroy(&job->done);
      delete job;
    }
    err = Pa_StopStream(s);
    if (!err) err = Pa_CloseStream(s);
    return true;
  }
  const timespec until = deadline_in_ms(kStopBoundMs);
  bool posted = false;
  while (!(posted = sem_clockwait(&job->done, CLOCK_MONOTONIC, &until) == 0) && errno == EINTR) {
  }
  if (posted)
    while (job->fate.load() == kStopRunning) sched_yield();  // one step from its end
  // Counted before it can be given up, so the thread never counts it off first.
  g_stops_left.fetch_add(1);
  int expected = kStopRunning;
  if (job->fate.compare_exchange_strong(expected, kStopLeft)) return false;
  g_stops_left.fetch_sub(1);
  err = job->err;
  sem_destroy(&job->done);
  delete job;
  return true;
}

// A stream given up on still holds the library: nothing else may call it.
bool library_held() {
  if (g_stops_left.load() == 0) return false;
  printf("*** warning: the sound card has not let go of the last stream: not started\n");
  return true;
}

void report_pa_error(PaError err) {
  fprintf(stderr, "An error occured while using the portaudio stream\n");
  fprintf(stderr, "Error number: %d\n", err);
  fprintf(stderr, "Error message: %s\n", Pa_GetErrorText(err));
}

int pa_callback(const void *input, void *output, unsigned long frames,
                const PaStreamCallbackTimeInfo *time_info, PaStreamCallbackFlags, void *user) {
  DataFeed *feed = static_cast<DataFeed *>(user);
  const double t = time_info ? time_info->outputBufferDacTime * feed->sample_rate : 0.0;
  return audio_callback(static_cast<const float *>(input), static_cast<float *>(output), frames, t,
                        feed);
}

// The ring a "listen" number selects; anything else would index outside the rings.
int checked_ring(int ring, const char *side) {
  if (ring >= 0 && ring < kRings) return ring;
  printf("*** warning: listen %s ring %d is not 0..3 (using 0)\n", side, ring);
  return 0;
}

// A device name option, without surrounding blanks; empty when unset.
void read_device_option(const char *key, char *out, int capacity) {
  const char *v = g_options.get_text(-1, key, false, "");
  while (*v == ' ' || *v == '\t') ++v;
  int n = static_cast<int>(strlen(v));
  while (n > 0 && (v[n - 1] == ' ' || v[n - 1] == '\t' || v[n - 1] == '\r')) --n;
  if (n > capacity) n = capacity;
  memcpy(out, v, n);
  out[n] = 0;
}

// The stream's two sides on the chosen devices; false when one is missing.
bool stream_parameters(int in_device, int out_device, PaStreamParameters &in, PaStreamParameters &out) {
  if (in_device < 0 || out_device < 0) return false;
  in = PaStreamParameters{};
  out = PaStreamParameters{};
  in.device = in_device;
  in.channelCount = 2;
  in.sampleFormat = paFloat32;
  in.suggestedLatency = Pa_GetDeviceInfo(in_device)->defaultLowInputLatency;
  out.device = out_device;
  out.channelCount = 2;
  out.sampleFormat = paFloat32;
  out.suggestedLatency = Pa_GetDeviceInfo(out_device)->defaultLowOutputLatency;
  return true;
}

// The same stream Pa_OpenDefaultStream opens, on the chosen devices.
PaError open_stream(PaStream **s, int in_device, int out_device, int rate, DataFeed *feed) {
  PaStreamParameters in, out;
  if (!stream_parameters(in_device, out_device, in, out)) return paDeviceUnavailable;
  return Pa_OpenStream(s, &in, &out, rate, kFramesPerBuffer, paNoFlag, pa_callback, feed);
}

// Before the library's own words: the file's rate and the card's own both
// refused, and what to do.
void report_refused_rate(const DataFeed &feed, int out_device) {
  const PaDeviceInfo *d = out_device >= 0 ? Pa_GetDeviceInfo(out_device) : nullptr;
  const int card = d ? static_cast<int>(d->defaultSampleRate) : 0;
  fprintf(stderr,
          "the card '%s' plays neither the file's %d Hz nor its own %d Hz: convert the file to a rate the card "
          "plays (for example: sox in.wav -r %d out.wav) or choose another card with 'set audio.out'\n",
          device_name(out_device), feed.file_rate, card, card);
}

}  // namespace

const char *const kRingNames[kRings] = {"card.left", "card.right", "file.left", "file.right"};

int source_ring(int display, bool warn) {
  if (display < 0 || display >= kRings) return 0;
  const char *name = g_options.get_text(display, "source", false, nullptr);
  if (!name) return display;
  for (int r = 0; r < kRings; ++r)
    if (strcmp(name, kRingNames[r]) == 0) return r;
  if (warn)
    printf("*** warning: source '%s' of display %d is not card.left, card.right, file.left or file.right (using "
           "%s)\n",
           name, display, kRingNames[display]);
  return display;
}

int checked_sample_rate(int rate, const char *what) {
  if (rate > 0 && rate <= kMaxSampleRate) return rate;
  printf("*** warning: %s %d is not a usable sample rate (using 44100)\n", what, rate);
  return 44100;
}

DataFeed::DataFeed() {
  pthread_mutex_init(&control, nullptr);
  reset();
}

DataFeed::~DataFeed() {
  reset();
  for (int i = 0; i < kRings; ++i) {
    delete feedback[i];
    feedback[i] = nullptr;
  }
  pthread_mutex_destroy(&control);
}

void DataFeed::close_resamplers() {
  for (int c = 0; c < 2; ++c) {
    if (resampler[c]) resample_close(resampler[c]);
    resampler[c] = nullptr;
  }
}

void DataFeed::close_converters() {
  for (int c = 0; c < 2; ++c) {
    if (converter[c]) resample_close(converter[c]);
    converter[c] = nullptr;
    free(convert_out[c]);
    convert_out[c] = nullptr;
  }
  convert_factor = -1.0;
  convert_capacity = 0;
  convert_in_count = convert_in_pos = convert_count = convert_pos = 0;
}

void DataFeed::reset() {
  stop();
  close_converters();
  file_rate = 0;
  pthread_mutex_lock(&control);
  input_name[0] = 0;
  pthread_mutex_unlock(&control);
  frames_played.store(0, std::memory_order_relaxed);
  reader.close();
  reader.block_pos = 0;
  memset(reader.block, 0, sizeof reader.block);
  time.store(0.0, std::memory_order_relaxed);
  sample_rate = 44100;
  bits_per_sample = 0;
  channels = 2;
  for (int r = 0; r < kRings; ++r)
    for (int k = 0; k < kRingLength; ++k) window[r][k].store(0.0, std::memory_order_relaxed);
  write_index.store(0, std::memory_order_release);
  state.store(kFeedStopped);
  stream.store(nullptr);
  listen_left = listen_right = 0;
  for (int i = 0; i < kRings; ++i) {
    filter_kind[i] = kFilterNop;
    delete[] wavelet[i];
    wavelet[i] = nullptr;
    wavelet_index[i].store(0, std::memory_order_relaxed);
    if (feedback[i]) *feedback[i] = BandFilter{0, 0, 0};
  }
  if (resampler[0] || resampler[1]) {
    close_resamplers();
    memset(resample_in, 0, sizeof resample_in);
    memset(resample_out, 0, sizeof resample_out);
  }
  resample_factor = -1.0;
  resample_count = resample_pos = 0;
}

void DataFeed::prepare() {
  sample_rate = checked_sample_rate(g_options.get_int(-1, "samplerate", true, 44100), "samplerate");
  read_device_option("audio.in", device_in, kDeviceNameChars);
  read_device_option("audio.out", device_out, kDeviceNameChars);
  audio_verbose.store(g_options.get_int(-1, "audio.verbose", false, 0) != 0);

  // ":L:R" picks the rings played on the left and right output.
  const char *listen = g_options.get_text(-1, "listen", true, nullptr);
  if (listen) {
    const char *colon = strchr(listen, ':');
    if (colon) {
      listen_left = checked_ring(atoi(colon + 1), "left");
      const char *second = strchr(colon + 1, ':');
      if (second) listen_right = checked_ring(atoi(second + 1), "right");
    }
  }

  const double factor = g_options.get_double(-1, "resample", false, -1.0);
  if (factor > 0) {
    // Beyond this range a block would give almost nothing, or far more than
    // the 4096 output values a block can hold.
    if (factor < kMinResampleFactor || factor > kMaxResampleFactor) {
      printf("*** warning: resample factor %g is outside %g..%g (not resampling)\n", factor,
             kMinResampleFactor, kMaxResampleFactor);
    } else {
      resampler[0] = resample_open(1, factor, factor);
      resampler[1] = resampler[0] ? resample_open(1, factor, factor) : nullptr;
      if (resampler[0] && resampler[1]) {
        resample_factor = factor;
      } else {
        printf("*** warning: cannot make the resamplers (not resampling)\n");
        close_resamplers();
      }
    }
  }

  for (int i = 0; i < kRings; ++i) {
    const char *style = g_options.get_text(i, "style", false, nullptr);
    if (style && strcmp(style, "wlet") == 0) {
      // The level rings belong to the ring the display shows; displays that
      // show one ring share them.
      printf("io::prepare wlet-buffer for :%d\n", i);
      const int ring = source_ring(i, false);
      if (!wavelet[ring]) {
        wavelet[ring] = new (std::nothrow) std::atomic<double>[kWaveletSize];
        if (wavelet[ring]) {
          for (int k = 0; k < kWaveletSize; ++k) wavelet[ring][k].store(0.0, std::memory_order_relaxed);
        } else {
          printf("not enough memory..\n");
        }
        wavelet_index[ring].store(0, std::memory_order_relaxed);
      }
    }
    const int kind = filter_by_name(g_options.get_text(i, "filter", false, nullptr));
    if (kind >= 0) filter_kind[i] = kind;
    memset(filter_state[i], 0, sizeof filter_state[i]);
    if (filter_kind[i] == kFilterLp || filter_kind[i] == kFilterHp) {
      const bool lp = filter_kind[i] == kFilterLp;
      filter_state[i][kFsF] = g_options.get_double(i, lp ? "lp.f" : "hp.f", true, 1000.0);
      filter_state[i][kFsR] = g_options.get_double(i, lp ? "lp.r" : "hp.r", true, 1.0);
    } else if (filter_kind[i] == kFilterFb) {
      if (!feedback[i]) feedback[i] = new (std::nothrow) BandFilter{0, 0, 0};
      if (feedback[i])
        *feedback[i] = BandFilter{kFilterFb, 0, 0};
      else
        printf("fbfilter memory problem.\n");
    }
  }
}

int DataFeed::open_input(const char *path) {
  FILE *f = nullptr;
  const SideFile how = path ? open_file(path, "rb", &f) : SideFile::Missing;
  return open_input(path, f, how);
}

int DataFeed::open_input(const char *path, FILE *opened, SideFile how) {
  if (!path) {
    sample_rate =
        checked_sample_rate(g_options.get_int(-1, "samplerate", true, 44100), "samplerate");
    printf("samplerate: %d\n", sample_rate);
    return 0;
  }
  const int result = reader.open_input(path, opened, how);
  if (result != 0) return result;
  pthread_mutex_lock(&control);
  snprintf(input_name, sizeof input_name, "%s", path);
  pthread_mutex_unlock(&control);
  sample_rate = checked_sample_rate(reader.sample_rate, "the file's samplerate");
  file_rate = sample_rate;
  channels = reader.channels;
  bits_per_sample = reader.bits_per_sample;
  return 0;
}

void DataFeed::settle_rate() {
  if (!reader.file) return;
  int card_rate = 0;
  pthread_mutex_lock(&control);
  if (g_stops_left.load() > 0) {
    // start() says why nothing plays.
    pthread_mutex_unlock(&control);
    return;
  }
  QuietStderr quiet;
  quiet.begin(audio_verbose);
  if (Pa_Initialize() == paNoError) {
    // Devices are chosen as start() will choose them; it reports names that match none.
    int in_device = match_device(device_in, true), out_device = match_device(device_out, false);
    if (in_device == -2) in_device = Pa_GetDefaultInputDevice();
    if (out_device == -2) out_device = Pa_GetDefaultOutputDevice();
    PaStreamParameters in{}, out{};
    if (stream_parameters(in_device, out_device, in, out) &&
        Pa_IsFormatSupported(&in, &out, sample_rate) == paInvalidSampleRate) {
      // The card's own rate: the playback side's, else the capture side's.
      const int sides[2] = {out_device, in_device};
      for (int device : sides) {
        const int rate = static_cast<int>(Pa_GetDeviceInfo(device)->defaultSampleRate);
        if (rate > 0 && rate <= kMaxSampleRate && rate != sample_rate &&
            Pa_IsFormatSupported(&in, &out, rate) == paFormatIsSupported) {
          card_rate = rate;
          break;
        }
      }
    }
    Pa_Terminate();
  }
  quiet.end();
  pthread_mutex_unlock(&control);
  // Otherwise start() opens at the file's rate, and says why if the card refuses it.
  if (card_rate > 0) convert_to(card_rate);
}

bool DataFeed::convert_to(int card_rate) {
  close_converters();
  if (!reader.file || file_rate <= 0 || card_rate <= 0) return false;
  double factor = static_cast<double>(card_rate) / file_rate;
  // The resample effect keeps its meaning: its factor times the conversion,
  // in one pass.
  if (resample_factor > 0) factor *= resample_factor;
  if (factor < kMinConvertFactor || factor > kMaxConvertFactor) {
    printf("*** warning: the card runs at %d Hz: the file's %d Hz lies too far from it to convert\n", card_rate,
           file_rate);
    return false;
  }
  convert_capacity = static_cast<int>(std::ceil(kConvertChunk * factor)) + 64;
  bool ok = true;
  for (int c = 0; c < 2; ++c) {
    converter[c] = resample_open(1, factor, factor);
    convert_out[c] = static_cast<float *>(calloc(convert_capacity, sizeof(float)));
    ok = ok && converter[c] && convert_out[c];
  }
  if (!ok) {
    printf("*** warning: cannot make the converters for the file's %d Hz\n", file_rate);
    close_converters();
    return false;
  }
  convert_factor = factor;
  sample_rate = card_rate;
  printf("the card runs at %d Hz: converting the file's %d Hz\n", card_rate, file_rate);
  return true;
}

void DataFeed::prepare_filter(int i) {
  if (i < 0 || i >= kRings) return;
  double *s = filter_state[i];
  const int kind = filter_kind[i];
  if (kind == kFilterLp || kind == kFilterHp) {
    const bool lp = kind == kFilterLp;
    const char *name = lp ? "lp" : "hp";
    // A corner at 0 or at half the rate or above gives infinite or undefined
    // coefficients, and a damping of 0 or less an undamped or growing
    // resonance: every later sample of the channel would be inf or NaN.
    const double nyquist = sample_rate * 0.5;
    if (!(s[kFsF] > 0 && s[kFsF] < nyquist)) {
      const double f = nyquist * 0.5 < 1000.0 ? nyquist * 0.5 : 1000.0;
      printf("*** warning: %s.f %g must lie between 0 and %g (using %g)\n", name, s[kFsF], nyquist,
             f);
      s[kFsF] = f;
    }
    if (!(s[kFsR] > 0)) {
      printf("*** warning: %s.r %g must be >0 (using 1)\n", name, s[kFsR]);
      s[kFsR] = 1.0;
    }
    s[kFsC] = lp ? lp_warp(s[kFsF], sample_rate) : hp_warp(s[kFsF], sample_rate);
    printf("%s filter :%d  prepared (f:%g r:%g c:%g)\n", lp ? "LP" : "HP", i, s[kFsF], s[kFsR],
           s[kFsC]);
  } else if (kind == kFilterFb) {
    if (feedback[i]) *feedback[i] = BandFilter{kFilterFb, 0, 0};
  }
}

int DataFeed::start() {
  printf("listening to :%d:%d\n", listen_left, listen_right);
  pthread_mutex_lock(&control);
  if (stream.load()) stop_locked();
  if (library_held()) {
    pthread_mutex_unlock(&control);
    return paDeviceUnavailable;
  }
  QuietStderr quiet;
  quiet.begin(audio_verbose);
  PaError err = Pa_Initialize();
  const bool initialised = err == paNoError;
  PaStream *s = nullptr;
  int in_device = -1, out_device = -1;
  if (!err) {
    bool listed = false;
    in_device = choose_device(device_in, true, listed);
    out_device = choose_device(device_out, false, listed);
    err = open_stream(&s, in_device, out_device, sample_rate, this);
  }
  if (!err) {
    // Running before the first callback: a callback that found the state
    // still 0 would end the stream at once.
    stream.store(s);
    state.store(kFeedRunning);
    err = Pa_StartStream(s);
    if (err) {
      state.store(kFeedStopped);
      stream.store(nullptr);
      Pa_CloseStream(s);
    }
  }
  if (!err) {
    quiet.end();
    printf("\naudio device started ....\n");
    printf("devices: in '%s', out '%s'\n", device_name(in_device), device_name(out_device));
    fflush(stdout);
    pthread_mutex_unlock(&control);
    return 0;
  }
  if (err == paInvalidSampleRate && initialised && reader.file) report_refused_rate(*this, out_device);
  if (initialised) Pa_Terminate();
  quiet.end();
  report_pa_error(err);
  quiet.show(stderr);
  pthread_mutex_unlock(&control);
  return err;
}

void DataFeed::start_simulated() {
  pthread_mutex_lock(&control);
  if (stream.load()) stop_locked();
  frames_fed = 0;
  simulated.store(true);
  state.store(kFeedRunning);
  pthread_mutex_unlock(&control);
}

long long DataFeed::feed_to(long long frame) {
  static const float kSilence[2 * kFramesPerBuffer] = {};
  float played[2 * kFramesPerBuffer];
  while (frames_fed < frame && simulated.load(std::memory_order_relaxed) &&
         state.load(std::memory_order_relaxed) == kFeedRunning) {
    const long long left = frame - frames_fed;
    const int n = left < kFramesPerBuffer ? static_cast<int>(left) : kFramesPerBuffer;
    const int before = write_index.load(std::memory_order_relaxed);
    // Stamped with the block's end: at a frame boundary the feed's time is
    // exactly the frames passed.
    audio_callback(kSilence, played, n, static_cast<double>(frames_fed + n), this);
    const int after = write_index.load(std::memory_order_relaxed);
    frames_fed += (after - before + kRingLength) % kRingLength;
  }
  return frames_fed;
}

void DataFeed::stop_locked() {
  state.store(kFeedStopped);
  simulated.store(false);
  void *s = stream.load();
  if (!s) return;
  usleep(100 * 1000);  // the callback sees the state and ends the stream itself
  QuietStderr quiet;
  quiet.begin(audio_verbose);
  PaError err = paNoError;
  if (!stop_within_bound(s, err)) {
    quiet.end();
    stream.store(nullptr);
    printf("*** warning: the sound card did not stop within %d s: the stream is left behind\n",
           kStopBoundMs / 1000);
    fflush(stdout);
    quiet.show(stderr);
    return;
  }
  // Pa_Terminate also closes a stream that would not stop or close.
  Pa_Terminate();
  quiet.end();
  stream.store(nullptr);
  if (!err) {
    putchar(7);
    fflush(stdout);
  } else {
    report_pa_error(err);
    quiet.show(stderr);
  }
  state.store(kFeedStopped);
}

void DataFeed::stop() {
  pthread_mutex_lock(&control);
  stop_locked();
  pthread_mutex_unlock(&control);
}

void DataFeed::stop_if_ended() {
  char name[kNameChars + 1] = {};
  double seconds = -1;
  pthread_mutex_lock(&control);
  if (state.load() == kFeedEnded) {
    stop_locked();
    memcpy(name, input_name, sizeof name);
    seconds = static_cast<double>(frames_played.load(std::memory_order_relaxed)) / sample_rate;
  }
  pthread_mutex_unlock(&control);
  if (seconds >= 0 && name[0]) print_notice("end of file %s: %.1f s played", name, seconds);
}

int DataFeed::copy_oldest(double *out, int count, int ring) const {
  if (ring < 0 || ring >= kRings || count <= 0) return 0;
  if (count > kRingLength) count = kRingLength;
  int k = current_index();
  for (int n = 0; n < count; ++n) {
    out[n] = window[ring][k].load(std::memory_order_relaxed);
    if (++k == kRingLength) k = 0;
  }
  return count;
}

bool DataFeed::next_resampled_frame(double &left, double &right) {
  // block_pos: 0 a block was just read, 1 it has been resampled, 4096 read the next.
  for (;;) {
    if (reader.block_pos >= kBlockBytes && !reader.next_block()) return false;
    if (reader.block_pos == 0) {
      int n = reader.block_frames();
      if (n > kResampleCapacity) n = kResampleCapacity;
      double l, r;
      for (int i = 0; i < n; ++i) {
        reader.block_frame(i, l, r);
        resample_in[i] = static_cast<float>(l);
      }
      int used = 0;
      const int got_left = resample_process(resampler[0], resample_factor, resample_in, n, 0, &used,
                                            resample_out[0], kResampleCapacity);
      if (reader.channels > 1) {
        for (int i = 0; i < n; ++i) {
          reader.block_frame(i, l, r);
          resample_in[i] = static_cast<float>(r);
        }
      }
      const int got_right = resample_process(resampler[1], resample_factor, resample_in, n, 0,
                                             &used, resample_out[1], kResampleCapacity);
      resample_count = got_left < got_right ? got_left : got_right;
      resample_pos = 0;
      reader.block_pos = 1;
      // The resampler may hold a whole block back while it fills; take the next.
      if (resample_count <= 0) {
        reader.block_pos = kBlockBytes;
        continue;
      }
    }
    left = resample_out[0][resample_pos];
    right = resample_out[1][resample_pos];
    if (++resample_pos >= resample_count) reader.block_pos = kBlockBytes;
    return true;
  }
}

bool DataFeed::next_converted_frame(double &left, double &right) {
  while (convert_pos >= convert_count) {
    if (convert_in_pos >= convert_in_count) {
      int n = 0;
      double l, r;
      while (n < kConvertChunk && reader.next_frame(l, r)) {
        convert_in[0][n] = static_cast<float>(l);
        convert_in[1][n] = static_cast<float>(r);
        ++n;
      }
      if (n == 0) return false;  // the file has ended
      convert_in_count = n;
      convert_in_pos = 0;
    }
    const int offered = convert_in_count - convert_in_pos;
    int used_left = 0, used_right = 0;
    // Both converters see the same counts, so they take the same amount.
    const int got_left = resample_process(converter[0], convert_factor, convert_in[0] + convert_in_pos, offered, 0,
                                          &used_left, convert_out[0], convert_capacity);
    const int got_right = resample_process(converter[1], convert_factor, convert_in[1] + convert_in_pos, offered,
                                           0, &used_right, convert_out[1], convert_capacity);
    convert_in_pos += used_left;
    convert_count = got_left < got_right ? got_left : got_right;
    convert_pos = 0;
    if (convert_count <= 0 && used_left <= 0) return false;  // nothing moves: end rather than spin
  }
  left = convert_out[0][convert_pos];
  right = convert_out[1][convert_pos];
  ++convert_pos;
  return true;
}

int audio_callback(const float *input, float *output, unsigned long frames, double output_time,
                   DataFeed *feed) {
  DataFeed &f = *feed;
  f.time.store(output_time / f.sample_rate, std::memory_order_relaxed);
  const bool file = f.reader.file != nullptr;
  const bool converting = f.convert_factor > 0;
  const bool resampling = f.resample_factor > 0;
  int w = f.write_index.load(std::memory_order_relaxed);
  double in[kRings] = {0.0, 0.0, 0.0, 0.0};
  unsigned long i = 0;
  for (; i < frames; ++i) {
    if (!(f.stream.load(std::memory_order_relaxed) || f.simulated.load(std::memory_order_relaxed)) ||
        f.state.load(std::memory_order_relaxed) != kFeedRunning)
      break;
    if (file) {
      const bool more = converting   ? f.next_converted_frame(in[2], in[3])
                        : resampling ? f.next_resampled_frame(in[2], in[3])
                                     : f.reader.next_frame(in[2], in[3]);
      if (!more) {
        int running = kFeedRunning;
        f.state.compare_exchange_strong(running, kFeedEnded);
        memset(output + 2 * i, 0, 2 * (frames - i) * sizeof(float));
        f.frames_played.fetch_add(static_cast<long>(i), std::memory_order_relaxed);
        return 1;
      }
    }
    in[0] = input ? input[2 * i] : 0.0;
    in[1] = input ? input[2 * i + 1] : 0.0;
    double v[kRings];
    for (int c = 0; c < kRings; ++c) {
      v[c] = kFilterTable[f.filter_kind[c]].operation(in[c], f.filter_state[c]);
      f.window[c][w].store(v[c], std::memory_order_relaxed);
      if (f.wavelet[c]) f.push_wavelet(c, v[c]);
    }
    output[2 * i] = static_cast<float>(v[f.listen_left]);
    output[2 * i + 1] = static_cast<float>(v[f.listen_right]);
    if (++w == kRingLength) w = 0;
    f.write_index.store(w, std::memory_order_release);
  }
  f.frames_played.fetch_add(static_cast<long>(i), std::memory_order_relaxed);
  // Frames not produced play as silence.
  if (i < frames) memset(output + 2 * i, 0, 2 * (frames - i) * sizeof(float));
  return f.state.load(std::memory_order_relaxed) != kFeedRunning ? 1 : 0;
}
