// The audio callback allocates nothing while it plays a decoded file, also
// when the file is converted to the card's rate. The allocator is counted
// by taking the place of malloc in this program (not under sanitizers,
// which bring their own).
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "audio/feed.h"
#include "options/options.h"
#include "tests/support/testkit.h"

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define YELM_COUNT_ALLOCATIONS 1
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
}
namespace {
bool g_counting = false;
long g_allocations = 0;
}  // namespace
extern "C" void *malloc(size_t n) {
  if (g_counting) ++g_allocations;
  return __libc_malloc(n);
}
extern "C" void *calloc(size_t n, size_t size) {
  if (g_counting) ++g_allocations;
  return __libc_calloc(n, size);
}
extern "C" void *realloc(void *p, size_t n) {
  if (g_counting) ++g_allocations;
  return __libc_realloc(p, n);
}
extern "C" void free(void *p) { __libc_free(p); }
#endif

TEST(FeedRealtime, PlayingADecodedFileAllocatesNothing) {
#ifndef YELM_COUNT_ALLOCATIONS
  GTEST_SKIP() << "the sanitizer's allocator cannot be counted";
#else
  const std::string dir = testkit::make_temp_dir("feed-realtime");
  ASSERT_TRUE(testkit::write_wav(dir + "/src.wav", testkit::sine_wav(48000, 48000, {{440, 0.5}, {3000, 0.2}})));
  for (const char *made : {"-b 24 s24.wav", "c.flac", "c.ogg"}) {
    ASSERT_EQ(system(("cd " + dir + " && sox src.wav " + made).c_str()), 0) << made;
  }
  std::vector<float> in(128, 0.f), out(128);
  int marker = 0;
  for (const char *name : {"s24.wav", "c.flac", "c.ogg"})
    for (int card_rate : {0, 44100}) {
      g_options.release();
      auto feed = std::make_unique<DataFeed>();
      testing::internal::CaptureStdout();
      feed->prepare();
      ASSERT_EQ(feed->open_input((dir + "/" + name).c_str()), 0);
      if (card_rate) {
        ASSERT_TRUE(feed->convert_to(card_rate));
      }
      testing::internal::GetCapturedStdout();
      feed->stream.store(&marker);
      feed->state.store(kFeedRunning);
      long frames = 0;
      g_allocations = 0;
      g_counting = true;
      while (audio_callback(in.data(), out.data(), 64, static_cast<double>(frames), feed.get()) == 0) frames += 64;
      g_counting = false;
      EXPECT_GT(frames, 40000) << name;
      EXPECT_EQ(g_allocations, 0) << name << " at " << card_rate;
      feed->stream.store(nullptr);
    }
  g_options.release();
#endif
}
