// reconstruct through the console: the parameter file, the run, refusals.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/testkit.h"

namespace {

testkit::RunResult run_in(const std::string &dir, const std::string &commands) {
  testkit::RunOptions o;
  o.cwd = dir;
  return testkit::run_yelm(commands + "exit\n", o);
}

}  // namespace

TEST(ReconstructCli, ParameterFileAndRun) {
  std::string dir = testkit::make_temp_dir("reconstruct_cli");
  ASSERT_TRUE(testkit::write_wav(dir + "/in.wav", testkit::sine_wav(44100, 2000, {{500, 0.3}, {2000, 0.2}})));
  ASSERT_TRUE(testkit::write_file(dir + "/iviv.log", "0.000000 20 6 0.500000 0.250000 1.0 1.333\n"
                                                     "0.001000 20 6 0.000001 0.250000 1.0 1.333\n"
                                                     "0.002000 20 6 0.510000 0.250000 1.0 1.333\n"));
  auto r = run_in(dir, "set r.mode b\nset r.iter 3\nset r.hi 22050\nreconstruct out.wav in.wav iviv.log\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(testkit::read_file(dir + "/reconstruct.param"),
            "#reconstruct.param parameters dynamically created using *yelm*\n\nmode b\nband_hi_freq 22050\n"
            "iterations 3\n");
  EXPECT_NE(r.out.find("not found 'r.lo'"), std::string::npos);
  EXPECT_NE(r.out.find(" BANDPASS f:387.6..22050 (index: 4..256)\n MODE: bandpass RESCALE: 1 #ITER: 3\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(".E[3].."), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" CODEBOOK: 2 entries, 1 errors,  1 accepted (tol. 5 %)\n"), std::string::npos);
  EXPECT_NE(r.out.find(" OUTPUT: 'out.wav'\n"), std::string::npos);
  testkit::Wav o;
  ASSERT_TRUE(testkit::read_wav(dir + "/out.wav", o));
  EXPECT_EQ(o.frames(), 2000u);
}

TEST(ReconstructCli, Refusals) {
  std::string dir = testkit::make_temp_dir("reconstruct_cli_refuse");
  ASSERT_TRUE(testkit::write_wav(dir + "/in.wav", testkit::sine_wav(44100, 1024, {{500, 0.3}})));
  ASSERT_TRUE(testkit::write_file(dir + "/iviv.log", "0 5 6 1 1\n"));
  const std::string wav = testkit::read_file(dir + "/in.wav");
  auto r = run_in(dir,
                  "reconstruct out.wav in.wav\nreconstruct iviv.log in.wav iviv.log\n"
                  "reconstruct in.wav in.wav iviv.log\nreconstruct out.wav none.wav iviv.log\nhelp\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("reconstruct parameter missing\n"), std::string::npos);
  EXPECT_EQ(testkit::count(r.out, "is the same file as an input"), 2);
  EXPECT_EQ(testkit::read_file(dir + "/iviv.log"), "0 5 6 1 1\n");
  EXPECT_EQ(testkit::read_file(dir + "/in.wav"), wav);
  EXPECT_NE(r.err.find("Cannot open file\n"), std::string::npos);
  EXPECT_FALSE(testkit::file_exists(dir + "/out.wav"));
  EXPECT_NE(r.out.find("helps helpers helping"), std::string::npos);
}
