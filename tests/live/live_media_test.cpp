// The live media in one process with the GUI thread running (without a
// window) and the file-backed sound card (tests/support/asound.conf): what
// the idle step feeds a medium, what the medium gives, mute, and many
// start/stop cycles.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "display/graphs.h"
#include "media/ether.h"
#include "media/live.h"
#include "media/string_medium.h"
#include "media/surface.h"
#include "media/tfield.h"
#include "media/transform_view.h"
#include "media/tstring.h"
#include "options/options.h"
#include "tests/support/testkit.h"

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
// The sanitizers' own allocator (their header is not always installed).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
size_t allocated_bytes() { return __sanitizer_get_current_allocated_bytes(); }
#else
size_t allocated_bytes() { return mallinfo2().uordblks; }
#endif

namespace {

// The captured signal: every value is k / 2048 for k in 1..1000, so a sample
// of it is never 0 (what the rings hold before capture).
float signal_value(long n) { return static_cast<float>((n % 1000 + 1) / 2048.0); }
bool signal_or_silence(double v) {
  const double k = v * 2048;
  return v == 0 || (k >= 1 && k <= 1000 && k == std::floor(k));
}

std::string g_dir;

// What the idle step handed the medium and what came out, block by block.
struct Recording {
  std::vector<double> in, out;
  int blocks = 0;
  bool wanted = false;
} g_rec;

void recording_step(TransformState *v) {
  // Before the step: the surfaces' passes overwrite in_block.
  const bool take = g_rec.wanted && g_rec.blocks < 40 && v->in_count == TransformState::kBlock;
  if (take) g_rec.in.insert(g_rec.in.end(), v->in_block, v->in_block + v->in_count);
  live_step(v);
  if (take) {
    g_rec.out.insert(g_rec.out.end(), v->out_block, v->out_block + v->in_count);
    ++g_rec.blocks;
  }
}

int recorded_blocks() {
  GuiLock lock;
  return g_rec.blocks;
}

void run_command(const char *text) {
  char line[64];
  snprintf(line, sizeof line, "%s", text);
  if (strncmp(line, "mute", 4) == 0)
    mute_command(line);
  else if (strncmp(line, "tfield", 6) == 0)
    tfield(line);
  else if (strncmp(line, "mirage", 6) == 0)
    mirage(line);
  else
    tstring(line);
}

class LiveEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_dir = testkit::make_temp_dir("live-media");
    std::vector<float> raw(2 * 200000);
    for (long n = 0; n < 200000; ++n) raw[2 * n] = raw[2 * n + 1] = signal_value(n);
    std::ofstream(g_dir + "/in.raw", std::ios::binary)
        .write(reinterpret_cast<const char *>(raw.data()), raw.size() * sizeof(float));
    testkit::write_file(g_dir + "/field", "dim 8 6\nin 2 3\ncoupling 0.3 0.5\n\ndim 5 5\nshape 1\nin 2 2\n");
    setenv("ALSA_CONFIG_PATH", (std::string(YELM_SOURCE_DIR) + "/tests/support/asound.conf").c_str(), 1);
    setenv("VSND_IN", (g_dir + "/in.raw").c_str(), 1);
    setenv("VSND_OUT", "/dev/null", 1);
    unsetenv("DISPLAY");  // the GUI thread runs its loop without a window
    install_display_graphs();
    install_media_graphs();
    g_options.set(-1, "e.scale", "0.5");
    g_options.set(-1, "e.maxoct", "6");
    // Option texts are limited to 49 characters: use the folder.
    ASSERT_EQ(chdir(g_dir.c_str()), 0);
    g_options.set(-1, "s.file", "field");
    g_options.set(-1, "s.gain", "0.7");
    g_options.set(-1, "s.passes", "2");
    pthread_t gui;
    ASSERT_EQ(pthread_create(&gui, nullptr, gui_thread_main, &g_app.gui_window), 0);
    while (!g_graphs.gui_probed.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  void TearDown() override {
    // The program's way out would end this process; only park the GUI thread.
    g_graphs.stop_live();
    g_graphs.shutdown();
    quiet_gui();
  }
};
::testing::Environment *const g_env = ::testing::AddGlobalTestEnvironment(new LiveEnvironment);

// Runs a live command until 40 blocks went through the medium, then mutes.
void record(const char *command) {
  {
    GuiLock lock;
    g_rec = Recording();
    g_rec.in.reserve(40 * 512);
    g_rec.out.reserve(40 * 512);
    g_rec.wanted = true;
    g_graphs.live.step_hook = recording_step;
  }
  run_command(command);
  for (int n = 0; n < 2000 && recorded_blocks() < 40; ++n) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  run_command("mute");
  GuiLock lock;
  g_graphs.live.step_hook = live_step;
  g_rec.wanted = false;
}

void expect_captured_signal() {
  ASSERT_EQ(g_rec.blocks, 40);
  int sound = 0;
  for (double v : g_rec.in) {
    ASSERT_TRUE(signal_or_silence(v)) << v;
    sound += v != 0;
  }
  EXPECT_GT(sound, 512) << "the card's input never reached ring 0";
}

void expect_torn_down() {
  const TransformState &v = g_graphs.live;
  EXPECT_FALSE(live_active(v));
  EXPECT_EQ(v.medium, nullptr);
  EXPECT_EQ(v.in_block, nullptr);
  EXPECT_EQ(v.out_block, nullptr);
  for (int s = 0; s < TransformState::kSlots; ++s) {
    EXPECT_EQ(v.display[s], nullptr) << s;
    EXPECT_EQ(v.live[s], nullptr) << s;
    EXPECT_EQ(v.dim1[s], 0) << s;
  }
}

template <typename Medium>
void expect_offline_equal(Medium &m, double scale) {
  for (size_t i = 0; i < g_rec.in.size(); ++i) ASSERT_EQ(g_rec.out[i], m.step(scale * g_rec.in[i])) << i;
}

TEST(LiveMedia, StringAndEtherGiveWhatTheOfflineStepsGiveForTheSameSamples) {
  record("tstring");
  expect_captured_signal();
  expect_torn_down();
  EXPECT_EQ(g_graphs.live.mode, kModeTstring);
  StringMedium string(6, nullptr);
  string.fpermu = 1.0, string.damp = 0.98;
  expect_offline_equal(string, 0.5);

  record("tether");
  expect_captured_signal();
  expect_torn_down();
  Ether ether(6, nullptr);
  ether.fpermu = 1.0, ether.damp = 0.98, ether.alpha = 0.75;
  ASSERT_TRUE(ether.compute_weights());
  expect_offline_equal(ether, 0.5);
}

TEST(LiveMedia, SurfacesRunTheirPassesAsOfflineAndMuteReleasesThem) {
  for (const char *command : {"tfield", "mirage"}) {
    record(command);
    expect_captured_signal();
    expect_torn_down();
    SurfaceField field;
    ASSERT_TRUE(field.load("field", nullptr));
    double in[512], out[512];
    for (int b = 0; b < g_rec.blocks; ++b) {
      memcpy(in, &g_rec.in[512 * b], sizeof in);
      for (int p = 0; p < 2; ++p) {
        for (int i = 0; i < 512; ++i) out[i] = 2 / (1 + std::exp(-4 * 0.7 * field.step(in[i]))) - 1;
        memcpy(in, out, sizeof in);
      }
      for (int i = 0; i < 512; ++i) ASSERT_EQ(g_rec.out[512 * b + i], out[i]) << command << " block " << b;
    }
  }
}

TEST(LiveMedia, HundredStartStopCyclesOfEachCommandLeakNothing) {
  // The starts print a page each: keep them out of the test log.
  fflush(stdout);
  const int saved = dup(1);
  const int quiet = open("/dev/null", O_WRONLY);
  dup2(quiet, 1);
  size_t after_warm_up[4] = {}, at_end[4] = {};
  const char *commands[4] = {"tstring", "tether", "tfield", "mirage"};
  for (int c = 0; c < 4; ++c) {
    for (int cycle = 0; cycle < 100; ++cycle) {
      run_command(commands[c]);
      // Now and then let the GUI thread step the medium before it goes.
      if (cycle % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      run_command("mute");
      if (cycle == 9) after_warm_up[c] = allocated_bytes();
    }
    at_end[c] = allocated_bytes();
  }
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(quiet);
  expect_torn_down();
  for (int c = 0; c < 4; ++c) {
    // One lost block per cycle alone would be 90 x 4 KiB.
    const long growth = static_cast<long>(at_end[c]) - static_cast<long>(after_warm_up[c]);
    printf("%s: %ld bytes more after 90 cycles\n", commands[c], growth);
    EXPECT_LT(growth, 64 * 1024) << commands[c];
  }
}

}  // namespace
