// tstring and tether through the console.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/support/testkit.h"

namespace {

testkit::RunResult run_in(const std::string &dir, const std::string &commands) {
  testkit::RunOptions o;
  o.cwd = dir;
  return testkit::run_yelm(commands + "exit\n", o);
}

int to_sample(double v) { return static_cast<int16_t>(static_cast<long>(v * 32767.0)); }

}  // namespace

TEST(TstringCli, FirstArgumentIsTheOutputAndOneArgumentWritesNothing) {
  std::string dir = testkit::make_temp_dir("tstring_cli");
  ASSERT_TRUE(testkit::write_wav(dir + "/in.wav", testkit::sine_wav(44100, 2048, {{440, 0.5}})));
  auto r = run_in(dir, "tstring out.wav in.wav\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(testkit::count(r.out, " output  .wav file  missing"), 0);
  EXPECT_NE(r.out.find("audio I/O ok\n....[.]\n\n"), std::string::npos) << r.out;
  testkit::Wav o;
  ASSERT_TRUE(testkit::read_wav(dir + "/out.wav", o));
  EXPECT_EQ(o.frames(), 2048u);

  std::string dir2 = testkit::make_temp_dir("tstring_cli_one");
  ASSERT_TRUE(testkit::write_wav(dir2 + "/in.wav", testkit::sine_wav(44100, 2048, {{440, 0.5}})));
  r = run_in(dir2, "tether in.wav\n");
  EXPECT_NE(r.out.find(" no output, only transform buffer.\n---------- preparing ether\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("....[.]\n\n"), std::string::npos);
  EXPECT_FALSE(testkit::file_exists(dir2 + "/-"));
  EXPECT_FALSE(testkit::file_exists(dir2 + "/out.wav"));
}

TEST(TstringCli, OptionsReachTheDrivers) {
  std::string dir = testkit::make_temp_dir("tstring_cli_opts");
  testkit::Wav w = testkit::sine_wav(44100, 1024, {{440, 0.4}, {3000, 0.3}});
  ASSERT_TRUE(testkit::write_wav(dir + "/in.wav", w));
  // Defaults of the options: size 9, fpermu 1, damp 0.98, alpha 0.75.
  auto r = run_in(dir, "tether out.wav in.wav\n");
  EXPECT_NE(r.out.find("[WEATHER-REPORT  max-octave 9 #nodes(sz) 513]\n** alpha 0.75 peak@ 4 fpermu 1 damp 0.98\n"),
            std::string::npos)
      << r.out;
  // A size-0 string passes tanh(2x) of every input sample.
  r = run_in(dir, "set e.maxoct 0\ntstring out.wav in.wav\n");
  testkit::Wav o;
  ASSERT_TRUE(testkit::read_wav(dir + "/out.wav", o));
  ASSERT_EQ(o.frames(), 1024u);
  const double s = static_cast<double>(1.0f / 32767.0f);
  for (size_t i = 0; i < 1024; ++i) {
    double x = (w.samples[2 * i] * s + w.samples[2 * i + 1] * s) * 0.5;
    ASSERT_NEAR(o.samples[2 * i], to_sample(std::tanh(2 * x)), 1) << i;
  }
  // A word that only begins with "tstring" selects the ether.
  r = run_in(dir, "tstringy out.wav in.wav\n");
  EXPECT_NE(r.out.find("---------- preparing ether\n"), std::string::npos);
  r = run_in(dir, "tstring out.wav in.wav\n");
  EXPECT_EQ(r.out.find("---------- preparing ether\n"), std::string::npos);
}

TEST(TstringCli, SilenceAndRefusals) {
  std::string dir = testkit::make_temp_dir("tstring_cli_refuse");
  testkit::Wav silent;
  silent.samples.assign(2 * 2048, 0);
  ASSERT_TRUE(testkit::write_wav(dir + "/quiet.wav", silent));
  for (const char *cmd : {"tstring", "tether"}) {
    auto r = run_in(dir, std::string(cmd) + " out.wav quiet.wav\n");
    testkit::Wav o;
    ASSERT_TRUE(testkit::read_wav(dir + "/out.wav", o));
    ASSERT_EQ(o.frames(), 2048u);
    for (int16_t v : o.samples) ASSERT_EQ(v, 0) << cmd;
  }
  const std::string before = testkit::read_file(dir + "/quiet.wav");
  auto r = run_in(dir,
                  "tether quiet.wav quiet.wav\ntstring x.wav missing.wav\nset e.maxoct -3\ntether y.wav quiet.wav\n"
                  "set e.maxoct 99\ntstring y.wav quiet.wav\nset e.maxoct 4\n"
                  "tstring z.wav aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.wav\n"
                  "tether\nhelp\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("is the same file as an input"), std::string::npos);
  EXPECT_EQ(testkit::read_file(dir + "/quiet.wav"), before);
  EXPECT_NE(r.out.find("file arguments not ok\n"), std::string::npos);
  EXPECT_FALSE(testkit::file_exists(dir + "/x.wav"));
  EXPECT_NE(r.out.find("max-octave -3 out of range 0..20, nothing done\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("max-octave 99 out of range 0..20, nothing done\n"), std::string::npos);
  EXPECT_FALSE(testkit::file_exists(dir + "/y.wav"));
  EXPECT_NE(r.out.find("  parameter too big [aaaaaaaa"), std::string::npos);
  EXPECT_FALSE(testkit::file_exists(dir + "/z.wav"));
  // No argument: the live ether of the current size, then capture from the card.
  EXPECT_NE(r.out.find(" output  .wav file  missing\n no output, only transform buffer.\n"
                       "---------- creating configuration for live transform\nlive string size is 4\n"
                       "[WEATHER-REPORT  max-octave 4 #nodes(sz) 17]\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("audio: reset & capture from device..\n"), std::string::npos);
  // The console went on to the last command.
  EXPECT_NE(r.out.find("helps helpers helping"), std::string::npos);
}
