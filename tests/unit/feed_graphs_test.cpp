// The display manager's slot settings that the live input needs.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "display/analyser.h"
#include "display/graphs.h"
#include "display/slot_readers.h"
#include "harmonic/harmonic.h"
#include "media/transform_view.h"
#include "options/options.h"

TEST(FeedGraphs, TuningBinFollowsTunaAndTheFeedRate) {
  g_options.release();
  g_graphs.feed->sample_rate = 44100;
  testing::internal::CaptureStdout();
  g_graphs.create_analyser(0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "no tuning? ('tuna' settings). assuming 440 Hz.");
  EXPECT_EQ(g_graphs.slots[0].tuning_bin, 5.0);  // floor(512 x 440 / 44100)

  g_options.set(2, "tuna", "880");
  g_graphs.feed->sample_rate = 22050;
  testing::internal::CaptureStdout();
  g_graphs.create_analyser(2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(g_graphs.slots[2].tuning_bin, 20.0);  // floor(20.43)

  g_options.set(1, "tuna", "-3");
  testing::internal::CaptureStdout();
  g_graphs.create_analyser(1);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("assuming 440 Hz."), std::string::npos);
  EXPECT_EQ(g_graphs.slots[1].tuning_bin, 10.0);  // floor(512 x 440 / 22050)
  g_graphs.feed->sample_rate = 44100;
  g_options.release();
}

// Renderers turn the bin into an int and read its octave from the slot's half row.
TEST(FeedGraphs, TuningBinStaysInsideTheHalfRowAndRefusesNonFiniteTuna) {
  const std::string guess = "no tuning? ('tuna' settings). assuming 440 Hz.";
  const struct {
    const char *tuna;
    double bin;
    std::string said;
  } cases[] = {
      {"inf", 5, guess},
      {"nan", 5, guess},
      {"1e308", 255, "*** warning: tuna 1e+308 Hz lies above the spectrum (using bin 255)\n"},
      {"21964", 255, ""},  // floor(255.002): the top bin itself
      {"1e-300", 0, ""},
  };
  for (const auto &c : cases) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(tuning_bin_of(c.tuna, 44100), c.bin) << c.tuna;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.said) << c.tuna;
  }
}

TEST(FeedGraphs, GraphTypeTableAndDisplayOptions) {
  // Before any folder installs its types no style name is known.
  EXPECT_EQ(graph_type_by_name("fft"), -1);
  install_display_graphs();
  install_harmonic_graphs();
  install_media_graphs();
  // A number is kept by its name: another name cannot take it.
  EXPECT_FALSE(install_graph_type(kGraphFft, {"other", kFeedSpectrum, nullptr, nullptr, nullptr}));
  EXPECT_FALSE(install_graph_type(kGraphTypes, {"other", kFeedSpectrum, nullptr, nullptr, nullptr}));
  const char *names[] = {"hide", "fft", "c5", "c5c", "wlet", "w2d", "ifs",
                         "iviv", "spiral", "transform", "origami", "mirror"};
  const int kinds[] = {0, 1, 1, 1, 2, 3, 1, 1, 1, 0, 1, 1};
  for (int t = 0; t < kGraphTypes; ++t) {
    EXPECT_STREQ(g_graph_types[t].name, names[t]);
    EXPECT_EQ(g_graph_types[t].feed_kind, kinds[t]);
    EXPECT_EQ(graph_type_by_name(names[t]), t);
  }
  EXPECT_EQ(g_graph_types[kGraphTypes].name, nullptr);

  g_options.release();
  g_options.set(-1, "style", "c5");  // the global scope backs every display
  g_options.set(1, "style", "mirror");
  g_options.set(3, "style", "Fft");
  g_options.set(-1, "transformdelay", "4");
  g_options.set(2, "x", "0.25");
  testing::internal::CaptureStdout();
  DisplayOptions o;
  o.read();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "unkown graph-type 'Fft' for display 3 (hiding...)\n");
  EXPECT_EQ(o.slot[0].type, kGraphC5);
  EXPECT_EQ(o.slot[1].type, kGraphMirror);
  EXPECT_EQ(o.slot[2].type, kGraphC5);
  EXPECT_EQ(o.slot[3].type, kGraphHide);
  EXPECT_EQ(o.transform_delay, 4);
  EXPECT_EQ(o.slot[2].x, 0.25);
  EXPECT_EQ(o.slot[3].x, 1.0);
  EXPECT_EQ(o.slot[1].y, -1.0);
  EXPECT_EQ(o.slot[2].y, 1.0);
  g_options.release();
}

TEST(FeedGraphs, BeatAndQuadrantWarningsPrecedeEachDisplaysAnalyserOnLinesOfTheirOwn) {
  install_display_graphs();
  g_options.release();
  g_options.set(0, "style", "fft");
  g_options.set(0, "beat", "127");
  g_options.set(1, "quadrant", "4");  // hidden: warned all the same
  g_options.set(2, "style", "c5");
  g_options.set(2, "beat", "300");
  g_options.set(2, "quadrant", "9");
  g_graphs.line_open = false;  // no text of an earlier test is pending
  testing::internal::CaptureStdout();
  g_graphs.read_display_options();
  std::string out = testing::internal::GetCapturedStdout();
  const std::string beat = "SPIRAL display's beat time  not acceptable (defaulting to ZERO)\n";
  const std::string quadrant = "w2D quadrant index out-of-scope (defaulting to 2)\n";
  const std::string tuna = "no tuning? ('tuna' settings). assuming 440 Hz.\n";
  EXPECT_EQ(out, beat + tuna + quadrant + beat + quadrant + tuna);
  EXPECT_EQ(g_graphs.slots[0].beat, 0);
  EXPECT_EQ(g_graphs.slots[2].quadrant, 2);
  for (int i = 0; i < kDisplays; ++i) g_graphs.slots[i] = DisplaySlot{};
  g_options.release();
}

// A tone only in the file's right channel (ring 3): the display whose source
// is file.right sees it, the one on card.left does not; a wlet display's
// level rings are made for its source's ring.
TEST(FeedGraphs, SourceChoosesTheRingADisplayAnalyses) {
  install_display_graphs();
  g_options.release();
  g_options.set(-1, "tuna", "440");
  g_options.set(0, "style", "fft");
  g_options.set(0, "source", "file.right");
  g_options.set(1, "style", "fft");
  g_options.set(1, "source", "card.left");
  g_options.set(2, "source", "file.middle");
  g_options.set(3, "style", "wlet");
  g_options.set(3, "source", "file.left");
  testing::internal::CaptureStdout();
  g_graphs.read_display_options();
  g_graphs.feed->prepare();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("*** warning: source 'file.middle' of display 2 is not card.left, card.right, file.left or "
                     "file.right (using file.left)\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(g_graphs.ring_of(0), 3);
  EXPECT_EQ(g_graphs.ring_of(1), 0);
  EXPECT_EQ(g_graphs.ring_of(2), 2);
  EXPECT_NE(g_graphs.feed->wavelet[2], nullptr);
  EXPECT_EQ(g_graphs.feed->wavelet[3], nullptr);

  DataFeed &f = *g_graphs.feed;
  for (int k = 0; k < kRingLength; ++k) f.window[3][k].store(0.5 * sin(2 * M_PI * 1000.0 * k / 44100));
  f.write_index.store(0);
  analyse_slots(g_graphs);
  const int half = kAnalyserLength / 2;
  double lit = 0, dark = 0;
  for (int k = 0; k < half; ++k) {
    lit += g_graphs.analysers[0]->history[k];          // slot 0: lower half of row 0
    dark += g_graphs.analysers[1]->history[half + k];  // slot 1: upper half
  }
  EXPECT_GT(lit, 100.0);
  EXPECT_EQ(dark, 0.0);

  f.reset();
  for (int i = 0; i < kDisplays; ++i) {
    g_graphs.release_work(i);
    g_graphs.slots[i] = DisplaySlot{};
  }
  g_options.release();
}

TEST(FeedGraphs, WindowSizeIsWidthByHeightElseTheDefaultWithAWarning) {
  const struct {
    const char *text;
    int width, height;
    bool warned;
  } cases[] = {
      {nullptr, 400, 400, false}, {"800x600", 800, 600, false}, {" 1280X720 ", 1280, 720, false},
      {"800", 400, 400, true},    {"800x", 400, 400, true},      {"x600", 400, 400, true},
      {"99x600", 400, 400, true}, {"800x9000", 400, 400, true},  {"800x600x2", 400, 400, true},
  };
  for (const auto &c : cases) {
    int w = 0, h = 0;
    testing::internal::CaptureStdout();
    const bool ok = window_size_of(c.text, w, h);
    const std::string said = testing::internal::GetCapturedStdout();
    const std::string name = c.text ? c.text : "(not set)";
    EXPECT_EQ(w, c.width) << name;
    EXPECT_EQ(h, c.height) << name;
    EXPECT_EQ(ok, !c.warned) << name;
    if (c.warned)
      EXPECT_EQ(said, "*** warning: window '" + name + "' is not WIDTHxHEIGHT of 100 to 8192 pixels (using 400x400)\n");
    else
      EXPECT_EQ(said, "") << name;
  }
}
