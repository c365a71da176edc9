// The audio callback driven directly with built buffers: ring routing,
// playback routing, filters, the end of a played file, and bad settings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "audio/feed.h"
#include "options/options.h"
#include "tests/support/testkit.h"

// The allocator is counted by taking the place of malloc in this program
// (not under the sanitizers, which bring their own: nothing is counted there).
namespace {
bool g_counting = false;
long g_allocations = 0;
}  // namespace
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *malloc(size_t n) { return g_allocations += g_counting, __libc_malloc(n); }
void *calloc(size_t n, size_t size) { return g_allocations += g_counting, __libc_calloc(n, size); }
void *realloc(void *p, size_t n) { return g_allocations += g_counting, __libc_realloc(p, n); }
}
#endif

namespace {

// The value a 16-bit sample reads as: sample x the float nearest 1/32767.
double value_of(int16_t s) { return s * static_cast<double>(1.0f / 32767.0f); }

int16_t left_sample(int t) { return static_cast<int16_t>((t * 37) % 20000 - 10000); }
int16_t right_sample(int t) { return static_cast<int16_t>(15000 - (t * 53) % 30000); }

testkit::Wav pattern_wav(int frames, int channels) {
  testkit::Wav w;
  w.channels = channels;
  for (int t = 0; t < frames; ++t) {
    w.samples.push_back(left_sample(t));
    if (channels == 2) w.samples.push_back(right_sample(t));
  }
  return w;
}

float card_left(long t) { return static_cast<float>(0.001 * (t % 500)); }
float card_right(long t) { return static_cast<float>(-0.002 * (t % 300)); }

class FeedCallback : public ::testing::Test {
 protected:
  void SetUp() override {
    g_options.release();
    feed = std::make_unique<DataFeed>();
    dir = testkit::make_temp_dir("feed-callback");
  }
  void TearDown() override {
    // The stream handle is only a marker here: no real stream may be stopped.
    feed->stream.store(nullptr);
    feed.reset();
    g_options.release();
  }
  // reset, prepare, open, prepare the filters; then mark the stream running.
  std::string configure(const std::string &path) {
    feed->stream.store(nullptr);
    testing::internal::CaptureStdout();
    feed->reset();
    feed->prepare();
    int r = feed->open_input(path.empty() ? nullptr : path.c_str());
    for (int i = 0; i < kRings; ++i) feed->prepare_filter(i);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(r, 0) << out;
    feed->stream.store(&marker);
    feed->state.store(kFeedRunning);
    return out;
  }
  // One 64-frame callback with the sound-card test signal from frame t.
  int run(long &t, unsigned long frames = 64) {
    in.assign(2 * frames, 0.f);
    out.assign(2 * frames, 99.f);
    for (unsigned long i = 0; i < frames; ++i) {
      in[2 * i] = card_left(t + i);
      in[2 * i + 1] = card_right(t + i);
    }
    int r = audio_callback(in.data(), out.data(), frames, static_cast<double>(t), feed.get());
    t += frames;
    return r;
  }
  std::string file(const testkit::Wav &w, const char *name = "in.wav") {
    std::string p = dir + "/" + name;
    EXPECT_TRUE(testkit::write_wav(p, w));
    return p;
  }
  double ring(int r, int k) const { return feed->sample(r, k); }

  std::unique_ptr<DataFeed> feed;
  std::string dir;
  std::vector<float> in, out;
  int marker = 0;
};

}  // namespace

TEST_F(FeedCallback, EachRingCarriesItsChannelAndTheDefaultListenPlaysRingZero) {
  configure(file(pattern_wav(3000, 2)));
  long t = 0;
  for (int b = 0; b < 10; ++b) {
    ASSERT_EQ(run(t), 0);
    for (int i = 0; i < 64; ++i) {
      const int k = b * 64 + i;
      ASSERT_DOUBLE_EQ(ring(0, k), card_left(k));
      ASSERT_DOUBLE_EQ(ring(1, k), card_right(k));
      ASSERT_DOUBLE_EQ(ring(2, k), value_of(left_sample(k)));
      ASSERT_DOUBLE_EQ(ring(3, k), value_of(right_sample(k)));
      ASSERT_EQ(out[2 * i], card_left(k));
      ASSERT_EQ(out[2 * i + 1], card_left(k));
    }
  }
  EXPECT_EQ(feed->current_index(), 640);
  EXPECT_DOUBLE_EQ(feed->time.load(), 576.0 / 44100);
  EXPECT_EQ(feed->state.load(), kFeedRunning);
}

TEST_F(FeedCallback, ListenPicksTheRingsPlayedLeftAndRight) {
  const std::string path = file(pattern_wav(3000, 2));
  struct Case { const char *text; int left, right; } cases[] = {
      {":2:3", 2, 3}, {":1:0", 1, 0}, {"x:3", 3, 0}, {":1", 1, 0}};
  for (const Case &c : cases) {
    g_options.set(-1, "listen", c.text);
    configure(path);
    EXPECT_EQ(feed->listen_left, c.left) << c.text;
    EXPECT_EQ(feed->listen_right, c.right) << c.text;
    long t = 0;
    run(t);
    run(t);
    for (int i = 0; i < 64; ++i) {
      const int k = 64 + i;
      ASSERT_EQ(out[2 * i], static_cast<float>(ring(c.left, k))) << c.text;
      ASSERT_EQ(out[2 * i + 1], static_cast<float>(ring(c.right, k))) << c.text;
    }
  }
  // :2:3 plays the file itself.
  g_options.set(-1, "listen", ":2:3");
  configure(path);
  long t = 0;
  run(t);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(out[2 * i], static_cast<float>(value_of(left_sample(i))));
    EXPECT_EQ(out[2 * i + 1], static_cast<float>(value_of(right_sample(i))));
  }
}

TEST_F(FeedCallback, ListenOutsideTheRingsWarnsAndPlaysRingZero) {
  g_options.set(-1, "listen", ":7:-2");
  std::string msg = configure("");
  EXPECT_NE(msg.find("*** warning: listen left ring 7 is not 0..3 (using 0)\n"), std::string::npos) << msg;
  EXPECT_NE(msg.find("*** warning: listen right ring -2 is not 0..3 (using 0)\n"), std::string::npos);
  EXPECT_EQ(feed->listen_left, 0);
  EXPECT_EQ(feed->listen_right, 0);
  long t = 5;
  run(t);
  EXPECT_EQ(out[0], card_left(5));
  EXPECT_EQ(out[1], card_left(5));
}

TEST_F(FeedCallback, MuteFilterSilencesItsRingOnly) {
  g_options.set(0, "filter", "mute");
  configure(file(pattern_wav(3000, 2)));
  long t = 0;
  run(t);
  run(t);
  for (int i = 0; i < 64; ++i) {
    const int k = 64 + i;
    ASSERT_EQ(out[2 * i], 0.f);
    ASSERT_EQ(out[2 * i + 1], 0.f);
    ASSERT_EQ(ring(0, k), 0.0);
    ASSERT_DOUBLE_EQ(ring(1, k), card_right(k));
    ASSERT_DOUBLE_EQ(ring(2, k), value_of(left_sample(k)));
    ASSERT_DOUBLE_EQ(ring(3, k), value_of(right_sample(k)));
  }
}

TEST_F(FeedCallback, WithoutAFileTheFileRingsHoldFilteredSilence) {
  g_options.set(2, "filter", "lp");
  configure("");
  EXPECT_EQ(feed->reader.file, nullptr);
  long t = 0;
  for (int b = 0; b < 20; ++b) ASSERT_EQ(run(t), 0);
  for (int k = 0; k < 1280; ++k) {
    ASSERT_EQ(ring(2, k), 0.0);
    ASSERT_EQ(ring(3, k), 0.0);
  }
}

TEST_F(FeedCallback, ShortBlockEndsTheInput) {
  // 1100 stereo frames: one whole 4096-byte block (1024 frames), then 304 bytes.
  configure(file(pattern_wav(1100, 2)));
  long t = 0;
  int calls = 0, r = 0;
  while ((r = run(t)) == 0 && calls < 100) ++calls;
  EXPECT_EQ(r, 1);
  EXPECT_EQ(calls, 16);  // 16 x 64 = 1024 frames played in full
  EXPECT_EQ(feed->state.load(), kFeedEnded);
  EXPECT_EQ(feed->current_index(), 1024);
  // The cut-off buffer plays silence.
  for (float v : out) ASSERT_EQ(v, 0.f);
  EXPECT_DOUBLE_EQ(ring(2, 1023), value_of(left_sample(1023)));
  // Once ended, a further callback produces nothing and asks to stop.
  EXPECT_EQ(run(t), 1);
  EXPECT_EQ(feed->current_index(), 1024);
}

TEST_F(FeedCallback, TenThousandDataBytesPlayEightThousandOneHundredNinetyTwo) {
  configure(file(pattern_wav(2500, 2)));  // 10000 data bytes
  long t = 0;
  int frames = 0;
  while (run(t, 32) == 0) frames += 32;
  EXPECT_EQ(frames * 4, 8192);
  EXPECT_EQ(feed->current_index(), 2048);
  EXPECT_DOUBLE_EQ(ring(3, 2047), value_of(right_sample(2047)));
}

TEST_F(FeedCallback, MonoFileFeedsBothFileRings) {
  std::string msg = configure(file(pattern_wav(6000, 1)));
  EXPECT_NE(msg.find("warning: MONO (#channels: 1). making L=R.\n"), std::string::npos);
  long t = 0;
  for (int b = 0; b < 40; ++b) ASSERT_EQ(run(t), 0);
  for (int k = 0; k < 2560; ++k) {
    ASSERT_DOUBLE_EQ(ring(2, k), value_of(left_sample(k)));
    ASSERT_DOUBLE_EQ(ring(3, k), value_of(left_sample(k)));
  }
}

TEST_F(FeedCallback, StoppedFeedWritesNothingAndAsksToStop) {
  configure("");
  feed->state.store(kFeedStopped);
  long t = 0;
  EXPECT_EQ(run(t), 1);
  EXPECT_EQ(feed->current_index(), 0);
  for (float v : out) ASSERT_EQ(v, 0.f);
}

TEST_F(FeedCallback, RingsWrapAndCopyOldestStartsAtTheWriteIndex) {
  configure("");
  long t = 0;
  const int total = kRingLength + 320;
  while (t < total) ASSERT_EQ(run(t), 0);
  EXPECT_EQ(feed->current_index(), 320);
  std::vector<double> got(kRingLength + 10, -7.0);
  EXPECT_EQ(feed->copy_oldest(got.data(), kRingLength + 10, 0), kRingLength);
  for (int n = 0; n < kRingLength; ++n)
    ASSERT_DOUBLE_EQ(got[n], card_left(total - kRingLength + n)) << n;
  EXPECT_EQ(got[kRingLength], -7.0);
  EXPECT_EQ(feed->copy_oldest(got.data(), 100, 4), 0);
  EXPECT_EQ(feed->copy_oldest(got.data(), 100, -1), 0);
  EXPECT_EQ(feed->copy_oldest(got.data(), 5, 1), 5);
  EXPECT_DOUBLE_EQ(got[0], card_right(total - kRingLength));
}

TEST_F(FeedCallback, WaveletRingsFollowTheFilteredChannel) {
  g_options.set(1, "style", "wlet");
  g_options.set(1, "filter", "simpl");
  std::string msg = configure("");
  EXPECT_NE(msg.find("io::prepare wlet-buffer for :1\n"), std::string::npos);
  ASSERT_NE(feed->wavelet[1], nullptr);
  EXPECT_EQ(feed->wavelet[0], nullptr);
  long t = 0;
  for (int b = 0; b < 10; ++b) run(t);
  EXPECT_EQ(feed->wavelet_index[1].load(), 640 % 512);
  for (int k = 640 - 512; k < 640; ++k)
    ASSERT_DOUBLE_EQ(feed->wavelet[1][k % 512].load(), ring(1, k)) << k;
  // A style set afterwards makes no rings until the next preparation.
  g_options.set(2, "style", "wlet");
  EXPECT_EQ(feed->wavelet[2], nullptr);
  feed->stream.store(nullptr);
  feed->reset();
  EXPECT_EQ(feed->wavelet[1], nullptr);
}

TEST_F(FeedCallback, ResampledFileFeedsTheFileRingsAnOctaveLower) {
  g_options.set(-1, "resample", "2");
  configure(file(testkit::sine_wav(44100, 1024 * 4 + 10, {{441, 0.5}})));
  long t = 0;
  int frames = 0;
  while (run(t) == 0 && frames < 100000) frames += 64;
  EXPECT_EQ(feed->state.load(), kFeedEnded);
  // Four blocks of 1024 frames stretched by 2, less the resampler's delay.
  EXPECT_GT(frames, 7500);
  ASSERT_LE(frames, 8192);
  // At the same stream rate the tone now has twice its period: 220.5 Hz.
  int rises = 0;
  double peak = 0;
  for (int k = 1000; k < 7000; ++k) {
    if (ring(2, k - 1) < 0 && ring(2, k) >= 0) ++rises;
    peak = std::max(peak, std::fabs(ring(2, k)));
    ASSERT_DOUBLE_EQ(ring(2, k), ring(3, k));
  }
  EXPECT_NEAR(rises, 30, 1);
  EXPECT_NEAR(peak, 0.5, 0.02);
}

// A 48 kHz FLAC file on a card that runs at 44100 Hz: the rings get 44100
// values per second of the file, so its tone keeps its pitch and the file its
// length; the resample effect still stretches it on top. The callback
// allocates nothing meanwhile (the decoder made its state at open).
TEST_F(FeedCallback, ConvertedFileKeepsItsPitchAndLengthAtTheCardsRate) {
  file(testkit::sine_wav(48000, 48000, {{440, 0.5}}), "tone.wav");
  ASSERT_EQ(system(("sox " + dir + "/tone.wav " + dir + "/tone.flac").c_str()), 0);
  for (double effect : {1.0, 2.0}) {
    g_options.set(-1, "resample", effect > 1 ? "2" : "0");
    configure(dir + "/tone.flac");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(feed->convert_to(44100));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "the card runs at 44100 Hz: converting the file's 48000 Hz\n");
    EXPECT_EQ(feed->sample_rate, 44100);
    long t = 0;
    in.reserve(128);
    out.reserve(128);
    g_allocations = 0;
    g_counting = true;
    while (run(t) == 0 && t < 200000) {
    }
    g_counting = false;
    EXPECT_EQ(g_allocations, 0);
    EXPECT_EQ(feed->state.load(), kFeedEnded);
    // 46 whole blocks of 1024 frames are played; the converter holds back a few.
    EXPECT_NEAR(static_cast<double>(t), 46 * 1024 * 44100.0 / 48000 * effect, 200 * effect);
    // 0.2 s of the newest values: 88 periods of 440 Hz (44 when stretched).
    const int end = feed->current_index();
    int rises = 0;
    for (int n = 1; n < 8820; ++n) {
      const int k = (end - 100 - n + 2 * kRingLength) % kRingLength;
      if (ring(2, k) < 0 && ring(2, (k + 1) % kRingLength) >= 0) ++rises;
    }
    EXPECT_NEAR(rises, 88 / effect, 1) << effect;
  }
}

TEST(FeedSettings, UnusableSampleRatesBecome44100) {
  for (const char *rate : {"0", "-8000", "1000000", "abc"}) {
    g_options.release();
    g_options.set(-1, "samplerate", rate);
    auto feed = std::make_unique<DataFeed>();
    testing::internal::CaptureStdout();
    feed->prepare();
    int r = feed->open_input(nullptr);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(r, 0);
    EXPECT_EQ(feed->sample_rate, 44100) << rate;
    EXPECT_NE(out.find("is not a usable sample rate (using 44100)\n"), std::string::npos) << rate << out;
    EXPECT_NE(out.find("samplerate: 44100\n"), std::string::npos);
  }
  g_options.release();
  g_options.set(-1, "samplerate", "22050");
  auto feed = std::make_unique<DataFeed>();
  testing::internal::CaptureStdout();
  feed->prepare();
  feed->open_input(nullptr);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(feed->sample_rate, 22050);
  EXPECT_EQ(out.find("warning"), std::string::npos);
  g_options.release();
}

TEST(FeedSettings, FileRateWinsOverTheOptionAndBadFilesOpenNothing) {
  g_options.release();
  g_options.set(-1, "samplerate", "48000");
  std::string dir = testkit::make_temp_dir("feed-settings");
  testkit::Wav w = pattern_wav(100, 2);
  w.sample_rate = 22050;
  ASSERT_TRUE(testkit::write_wav(dir + "/slow.wav", w));
  auto feed = std::make_unique<DataFeed>();
  testing::internal::CaptureStdout();
  feed->prepare();
  EXPECT_EQ(feed->open_input((dir + "/slow.wav").c_str()), 0);
  EXPECT_EQ(feed->sample_rate, 22050);
  EXPECT_EQ(feed->open_input((dir + "/none.wav").c_str()), 1);
  EXPECT_EQ(feed->open_input(dir.c_str()), 1);
  testkit::write_file(dir + "/short.wav", "RIFF1234");
  EXPECT_EQ(feed->open_input((dir + "/short.wav").c_str()), 2);
  testkit::write_file(dir + "/text.wav", std::string(60, 'x'));
  EXPECT_EQ(feed->open_input((dir + "/text.wav").c_str()), 3);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(feed->reader.file, nullptr);
  EXPECT_NE(out.find("file not found '" + dir + "/none.wav'. aborting.\n"), std::string::npos);
  EXPECT_NE(out.find("not a valid WAV file. aborting.\n"), std::string::npos);
  EXPECT_NE(out.find("'" + dir + "/text.wav': not a sound file of a known format. aborting.\n"), std::string::npos);
  g_options.release();
}
