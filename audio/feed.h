// The acquisition engine: one full-duplex sound-card stream whose callback
// filters the sound card's and the played file's channels into four rings.
//
// Sharing between threads: the audio callback is the only writer of the
// rings, write_index, time and the wavelet rings while a stream runs. They
// are atomics: the callback stores each ring element and wavelet element
// relaxed and publishes write_index (and each wavelet_index) with a release
// store after every frame; a reader loads the index with acquire and then the
// elements relaxed. On x86-64 all of these are plain moves, so the callback
// never waits, locks or allocates. A window read while the callback runs may
// mix two successive callbacks' samples, which the analysis tolerates.
// `state` is atomic too. `control` serialises start and stop (the console and
// the GUI thread may both stop the stream); the callback never takes it.
#pragma once

#include <pthread.h>

#include <atomic>

#include "audio/filters.h"
#include "audio/wav.h"

constexpr int kRingLength = 10240;
constexpr int kRings = 4;
constexpr int kResampleCapacity = 4096;
constexpr int kMaxSampleRate = 384000;
constexpr double kMinResampleFactor = 0.01;
constexpr double kMaxResampleFactor = 100.0;
// A file's rate converted to the card's: card / file, times the resample
// effect's factor when that is on too.
constexpr double kMinConvertFactor = 0.001;
constexpr double kMaxConvertFactor = 1000.0;
constexpr int kConvertChunk = 256;  // file frames offered to the converters at a time

// The band filter that the spectrum analyser reads for an "fb" channel.
struct BandFilter {
  int kind;  // 5 once prepared
  int lower_bin;
  int upper_bin;
};

enum FeedState { kFeedStopped = 0, kFeedRunning = 1, kFeedEnded = -1 };

// The rings by the names the "source" option gives them: 0 the card's left
// input, 1 its right, 2 the file's left channel, 3 its right.
extern const char *const kRingNames[kRings];
// The ring display `display` analyses: its "source" option, else ring
// `display`. A name that is no ring's gives ring `display`, with a warning
// when `warn` is set.
int source_ring(int display, bool warn);

struct DataFeed {
  std::atomic<void *> stream{nullptr};  // the PortAudio stream; null when none is open
  std::atomic<int> state{kFeedStopped};
  AcqReader reader;  // the played file (reader.file null: sound card only)
  static constexpr int kNameChars = 255;
  char input_name[kNameChars + 1] = {};  // its path as given (under `control`)
  std::atomic<long> frames_played{0};     // frames the stream has made since it started
  int sample_rate = 44100;
  int bits_per_sample = 0;
  int channels = 2;
  std::atomic<double> window[kRings][kRingLength];
  std::atomic<int> write_index{0};
  std::atomic<double> time{0.0};
  int listen_left = 0, listen_right = 0;
  int filter_kind[kRings] = {};
  double filter_state[kRings][kFilterStateSize] = {};
  BandFilter *feedback[kRings] = {};
  std::atomic<double> *wavelet[kRings] = {};  // kWaveletSize elements, or null
  std::atomic<int> wavelet_index[kRings] = {};
  void *resampler[2] = {};
  float resample_in[kResampleCapacity] = {};
  float resample_out[2][kResampleCapacity] = {};
  double resample_factor = -1.0;
  int resample_count = 0, resample_pos = 0;
  // When the card will not run at the file's rate the stream runs at the
  // card's (sample_rate) and the file is converted to it: file_rate is the
  // file's own rate (0 without a file). The converters are libresample
  // handles, each fed whole chunks and told what it took, so no sample is
  // lost; their output buffers are made with them.
  int file_rate = 0;
  void *converter[2] = {};
  double convert_factor = -1.0;  // -1: not converting
  float convert_in[2][kConvertChunk] = {};
  float *convert_out[2] = {};
  int convert_capacity = 0;
  int convert_in_count = 0, convert_in_pos = 0, convert_count = 0, convert_pos = 0;
  pthread_mutex_t control;
  // From the options at each prepare(): parts of the capture and playback
  // device names (empty: the defaults), and whether the audio library's own
  // text is shown as it comes rather than held back.
  static constexpr int kDeviceNameChars = 63;
  char device_in[kDeviceNameChars + 1] = {};
  char device_out[kDeviceNameChars + 1] = {};
  std::atomic<bool> audio_verbose{false};  // also read by stop() on the GUI thread
  // A render runs the feed with no sound card: the callback is driven from
  // the file by feed_to, and the feed's time is the frames passed. Set from
  // start_simulated until stop().
  std::atomic<bool> simulated{false};
  long long frames_fed = 0;  // frames through the callback since start_simulated

  DataFeed();
  ~DataFeed();
  DataFeed(const DataFeed &) = delete;
  DataFeed &operator=(const DataFeed &) = delete;

  void reset();
  void prepare();
  // 0 ready; 1 not found, 2 too short, 3 unreadable (nothing to play).
  int open_input(const char *path);
  // The same with the file opened beforehand (open_file's result), which is
  // taken over: the opening is done before GuiMutex is taken.
  int open_input(const char *path, FILE *opened, SideFile how);
  // After open_input: asks the card whether it runs at the file's rate and,
  // when it will not, converts the file to the card's own rate.
  void settle_rate();
  // The one way the stream's rate moves away from the file's: runs the
  // stream at card_rate and converts the file to it. False, with a warning,
  // when the rates lie too far apart or memory runs out.
  bool convert_to(int card_rate);
  void prepare_filter(int channel);
  // 0, or the PortAudio error code.
  int start();
  void stop();
  // Runs the feed on a clock of counted frames instead of a stream.
  void start_simulated();
  // Passes the input through the callback, in the card's buffer size and
  // with silent card input, until `frame` frames have passed since
  // start_simulated or the input has ended; returns the frames passed.
  long long feed_to(long long frame);
  // stop() only if the input is still marked ended: the idle step's rule,
  // safe against a plot that has meanwhile started a new stream. Then says
  // that the file has ended and how long it played.
  void stop_if_ended();
  // Copies count values of a ring, oldest first; returns the number copied.
  int copy_oldest(double *out, int count, int ring) const;
  // One sample of a ring, for readers on other threads.
  double sample(int ring, int index) const {
    return window[ring][index].load(std::memory_order_relaxed);
  }
  int current_index() const { return write_index.load(std::memory_order_acquire); }

  void push_wavelet(int channel, double v) {
    push_wavelet_rings(wavelet[channel], wavelet_index[channel], v);
  }
  // The next frame of the played file through the resamplers; false when the
  // input has ended.
  bool next_resampled_frame(double &left, double &right);
  // The next frame of the played file converted to the stream's rate.
  bool next_converted_frame(double &left, double &right);

 private:
  void stop_locked();
  void close_resamplers();
  void close_converters();
};

// The stream callback: interleaved stereo input (may be null) and output,
// output time in frames. 0 continue, 1 stop.
int audio_callback(const float *input, float *output, unsigned long frames, double output_time,
                   DataFeed *feed);

// Reads a sample rate option value; out-of-range values warn and give 44100.
int checked_sample_rate(int rate, const char *what);
