// The live operations on a transform state of their own: create, reuse,
// release as the kind built, a surface file that does not load, and offline
// runs beside a running live medium.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include "media/ether.h"
#include "media/live.h"
#include "media/string_medium.h"
#include "media/tfield.h"
#include "media/tstring.h"
#include "media/unfold.h"
#include "tests/support/testkit.h"

namespace {

TransformState live_view(int mode) {
  TransformState v{};
  v.mode = mode;
  v.max_octave = 4;
  v.fpermu = 1.0;
  v.damp = 0.98;
  v.alpha = 0.75;
  v.scale = 0.5;
  return v;
}

TEST(LiveOps, CreateBuildsOnceAndStepOnlyStepsWhatExists) {
  TransformState v = live_view(kModeTether);
  EXPECT_EQ(live_ether(kLiveStep, &v), 1);  // nothing configured
  ASSERT_EQ(live_ether(kLiveCreate, &v), 0);
  ASSERT_TRUE(live_active(v));
  EXPECT_EQ(v.block_size, 512);
  EXPECT_EQ(v.dim1[0], 17);
  EXPECT_EQ(v.slot_count, 4);
  void *medium = v.medium;
  v.in_count = 3;
  v.in_block[0] = 0.2, v.in_block[1] = -0.1, v.in_block[2] = 0.4;
  ASSERT_EQ(live_ether(kLiveCreate, &v), 0);
  EXPECT_EQ(v.medium, medium) << "a second create rebuilt the medium";
  Ether twin(4, nullptr);
  twin.fpermu = 1.0, twin.damp = 0.98, twin.alpha = 0.75;
  ASSERT_TRUE(twin.compute_weights());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(v.out_block[i], twin.step(0.5 * v.in_block[i])) << i;
  live_stop(&v);
  EXPECT_FALSE(live_active(v));
  EXPECT_EQ(v.in_block, nullptr);
  EXPECT_EQ(v.display[0], nullptr);
  EXPECT_EQ(v.dim1[0], 0);
}

TEST(LiveOps, AMediumIsSteppedAndReleasedAsTheKindItWasBuiltAs) {
  TransformState v = live_view(kModeTether);
  ASSERT_EQ(live_ether(kLiveCreate, &v), 0);
  // plot and unfold change the mode under a running medium.
  v.mode = kModeUnfold;
  v.in_count = 1;
  v.in_block[0] = 0.5;
  live_step(&v);
  EXPECT_NE(v.out_block[0], 0.0) << "the ether was not stepped";
  // A create of another kind replaces it rather than stepping it as a string.
  v.mode = kModeTstring;
  ASSERT_EQ(live_string(kLiveCreate, &v), 0);
  EXPECT_EQ(v.medium_kind, kModeTstring);
  EXPECT_EQ(v.slot_count, 1);
  EXPECT_EQ(v.display[1], nullptr) << "the ether's path is still registered";
  v.mode = kModeNone;
  live_stop(&v);
  EXPECT_EQ(v.medium, nullptr);
  EXPECT_EQ(v.display[0], nullptr);
}

TEST(LiveOps, ASurfaceFileThatDoesNotLoadGivesAnEmptyFieldThatPassesSamples) {
  TransformState v = live_view(kModeTfield);
  snprintf(v.surface_file, sizeof v.surface_file, "/nonexistent/field");
  v.damp = 0.5;
  v.fpermu = 1;
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  v.in_count = 0;
  EXPECT_EQ(live_surfaces(kLiveCreate, &v), 0);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("total output couple: 0\n"), std::string::npos);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "cannot open file /nonexistent/field\n");
  ASSERT_TRUE(live_active(v));
  v.in_block[0] = 0.25;
  v.in_count = 1;
  EXPECT_EQ(live_surfaces(kLiveStep, &v), 0);
  EXPECT_DOUBLE_EQ(v.out_block[0], std::tanh(2 * 0.5 * 0.25));
  live_stop(&v);
}

TEST(LiveOps, OfflineRunsLeaveARunningLiveMediumAndItsRegistrationAlone) {
  std::string dir = testkit::make_temp_dir("live_ops");
  ASSERT_EQ(chdir(dir.c_str()), 0);  // unfold writes log.txt here
  ASSERT_TRUE(testkit::write_wav("in.wav", testkit::sine_wav(44100, 2048, {{440, 0.5}})));
  ASSERT_TRUE(testkit::write_file("field", "dim 6 4\nin 1 1\n"));
  TransformState v = live_view(kModeTether);
  ASSERT_EQ(live_ether(kLiveCreate, &v), 0);
  const TransformState before = v;
  char binary[] = "binary", in[] = "in.wav", out[] = "-", size[] = "3", field[] = "field", one[] = "1";
  char *strings[] = {binary, in, out, size, one, one};
  char *surfaces[] = {binary, in, out, field, one, one};
  char o[] = "-o-", i[] = "-iin.wav";
  char *unfolding[] = {binary, o, i};
  testing::internal::CaptureStdout();
  EXPECT_EQ(tstring_main(6, strings, &v), 0);
  EXPECT_EQ(tether_main(6, strings, &v), 0);
  EXPECT_EQ(field_main(6, surfaces, &v), 0);
  EXPECT_EQ(unfold_main(3, unfolding, &v), 0);
  std::string said = testing::internal::GetCapturedStdout();
  EXPECT_EQ(testkit::count(said, "[.]"), 4) << said;
  EXPECT_TRUE(live_active(v));
  EXPECT_EQ(v.medium, before.medium);
  EXPECT_EQ(v.in_block, before.in_block);
  EXPECT_EQ(v.out_block, before.out_block);
  for (int s = 0; s < TransformState::kSlots; ++s) {
    EXPECT_EQ(v.display[s], before.display[s]) << s;
    EXPECT_EQ(v.live[s], before.live[s]) << s;
    EXPECT_EQ(v.aux[s], before.aux[s]) << s;
    EXPECT_EQ(v.dim1[s], before.dim1[s]) << s;
    EXPECT_EQ(v.dim2[s], before.dim2[s]) << s;
  }
  EXPECT_EQ(v.slot_count, before.slot_count);
  EXPECT_EQ(live_ether(kLiveStep, &v), 0);
  live_stop(&v);
}

}  // namespace
