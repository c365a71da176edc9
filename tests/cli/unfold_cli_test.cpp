// unfold through the console: the handler's vector, the progress line, the
// debug files and the failure paths.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/support/testkit.h"

namespace {

struct Dir {
  std::string path = testkit::make_temp_dir("unfold");
  std::string operator/(const std::string &name) const { return path + "/" + name; }
  testkit::RunResult run(const std::string &commands) const {
    testkit::RunOptions o;
    o.cwd = path;
    return testkit::run_yelm(commands + "exit\n", o);
  }
};

testkit::Wav music(int frames) {
  return testkit::sine_wav(44100, frames, {{110, 0.3}, {146.8, 0.2}, {165, 0.2}, {440, 0.1}}, 2);
}

// The progress characters between the decoder banner and "[.]".
std::string progress(const std::string &out) {
  const std::string start = "---------- preparing IVIV decoder\n";
  size_t a = out.find(start);
  size_t b = out.find("[.]", a);
  if (a == std::string::npos || b == std::string::npos) return "";
  return out.substr(a + start.size(), b - a - start.size());
}

}  // namespace

TEST(UnfoldCli, DistanceStepsArePrintedOnceEach) {
  Dir d;
  ASSERT_TRUE(testkit::write_wav(d / "in.wav", music(44100 * 3)));
  auto r = d.run("unfold out.wav in.wav\n");
  EXPECT_NE(r.out.find("current processing profile for simulation:\n* in:in.wav | out:out.wav | bassline:25 Hz\n"
                       "* codebook_depth: 9 | scale: 0.4\n* alpha 5e-05  | fpermu 1 | damp 0.99 | maxoct 9\n\n "),
            std::string::npos)
      << r.out;
  std::string p = progress(r.out);
  for (const char *step : {"#1#", "#2#", "#4#"}) EXPECT_EQ(testkit::count(p, step), 1) << step << " in " << p;
  EXPECT_EQ(p.rfind("#1#", 0), 0u);  // the medium starts on level 0
  EXPECT_LT(p.find("#1#"), p.find("#2#"));
  EXPECT_LT(p.find("#2#"), p.find("#4#"));
  // One character per block besides the markers.
  std::string chars;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == '#') {
      i = p.find('#', i + 1);
      continue;
    }
    chars += p[i];
  }
  EXPECT_EQ(chars.size(), 44100u * 3 / 512);
  EXPECT_EQ(chars.find_first_not_of("*0123456789"), std::string::npos) << chars;
  double t = 0;
  for (int b = 0; b < 258; ++b) t += 512.0 / 44100;
  char line[96];
  snprintf(line, sizeof line, "\n\n---------- processed %g sec(#258) avg.distance ", t);
  EXPECT_NE(r.out.find(line), std::string::npos) << line;
  testkit::Wav out;
  ASSERT_TRUE(testkit::read_wav(d / "out.wav", out));
  EXPECT_EQ(out.frames(), 44100u * 3);
  EXPECT_TRUE(testkit::file_exists(d / "log.txt"));
  EXPECT_FALSE(testkit::file_exists(d / "iviv.txt"));
}

TEST(UnfoldCli, KeyBeyondTheSpectrumGivesZeroQuality) {
  // With a bassline of 8000 Hz the fifth one octave above the key lies past
  // bin 256 at every distance.
  Dir d;
  ASSERT_TRUE(testkit::write_wav(d / "in.wav", music(512 * 30)));
  auto r = d.run("set u.fbass 8000\nunfold out.wav in.wav\n");
  std::string p = progress(r.out);
  ASSERT_NE(p.find("#1#"), std::string::npos);
  std::string chars;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == '#') {
      i = p.find('#', i + 1);
      continue;
    }
    chars += p[i];
  }
  EXPECT_EQ(chars, std::string(30, '0'));
  EXPECT_NE(r.out.find("(#30) avg.distance 1 avg.q  0.00%\n"), std::string::npos) << r.out;
}

TEST(UnfoldCli, DebugAndRepairOptions) {
  Dir d;
  ASSERT_TRUE(testkit::write_wav(d / "in.wav", music(512 * 30)));
  auto r = d.run("set u.debug 1\nset u.repair 1\nset u.alpha .0001\nunfold out.wav in.wav\n");
  EXPECT_NE(r.out.find("current debug profile for repair:\n"), std::string::npos);
  EXPECT_NE(r.out.find("* alpha 0.0001  |"), std::string::npos);
  EXPECT_EQ(testkit::count(r.out, "sec: stability @"), 30);
  EXPECT_NE(r.out.find(" 0.00 sec: stability @  25.0Hz(dist:  1): "), std::string::npos) << r.out;
  // A weather report after block 25 (and the one at the start).
  EXPECT_EQ(testkit::count(r.out, "[WEATHER-REPORT  max-octave 9 #nodes(sz) 513]"), 2);
  std::string iviv = testkit::read_file(d / "iviv.txt");
  EXPECT_EQ(testkit::count(iviv, "\n"), 30);
  EXPECT_EQ(testkit::count(iviv, "key "), 30);
  EXPECT_EQ(iviv.rfind("key 25 qlow ", 0), 0u);
  EXPECT_EQ(progress(r.out).find("#1#"), std::string::npos);  // no markers in debug output
}

TEST(UnfoldCli, ShortInputIsCopiedThrough) {
  Dir d;
  testkit::Wav in = music(400);
  ASSERT_TRUE(testkit::write_wav(d / "in.wav", in));
  auto r = d.run("unfold out.wav in.wav\n");
  EXPECT_NE(r.out.find("[.]\n\n---------- processed 0 sec(#0): no full block, no averages\n"), std::string::npos);
  testkit::Wav out;
  ASSERT_TRUE(testkit::read_wav(d / "out.wav", out));
  ASSERT_EQ(out.frames(), 400u);
  for (size_t t = 0; t < 400; ++t) {
    double v = in.samples[2 * t] * static_cast<double>(1.0f / 32767.0f);
    EXPECT_EQ(out.samples[2 * t], static_cast<int16_t>(static_cast<long long>(v * 32767.0)));
  }
}

TEST(UnfoldCli, ALiveTransformGoesOnUntilMute) {
  Dir d;
  ASSERT_TRUE(testkit::write_wav(d / "in.wav", music(512 * 3)));
  auto r = d.run("tether\nunfold out.wav in.wav\nmute\n");
  const size_t unfolded = r.out.find("---------- processed");
  ASSERT_NE(unfolded, std::string::npos) << r.out;
  // Only mute stops it, after unfold.
  EXPECT_EQ(testkit::count(r.out, "stopping audio-capture...\n"), 1) << r.out;
  EXPECT_GT(r.out.find("stopping audio-capture...\n"), unfolded);
}

TEST(UnfoldCli, ArgumentsAndFailures) {
  Dir d;
  ASSERT_TRUE(testkit::write_wav(d / "in.wav", music(512 * 3)));
  const std::string original = testkit::read_file(d / "in.wav");
  std::string longtext(50, '7');
  auto r = d.run("unfold\nunfold in.wav\nunfold out.wav nothere.wav\nunfold in.wav in.wav\nset u.damp " + longtext +
                 "\nunfold out2.wav in.wav\n");
  EXPECT_NE(r.out.find("unfold\n output  .wav file  missing\nyelm--scope$ "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" no output, only transform buffer.\n"), std::string::npos);
  EXPECT_NE(r.out.find("* in:in.wav | out:- |"), std::string::npos);
  EXPECT_FALSE(testkit::file_exists(d / "-"));
  EXPECT_NE(r.out.find("file arguments not ok\n"), std::string::npos);
  EXPECT_FALSE(testkit::file_exists(d / "out.wav"));
  EXPECT_NE(r.out.find("output 'in.wav' is the same file as an input. aborting.\n"), std::string::npos);
  EXPECT_EQ(testkit::read_file(d / "in.wav"), original);
  EXPECT_NE(r.out.find("  parameter too big [" + longtext + "]\n"), std::string::npos);
  EXPECT_FALSE(testkit::file_exists(d / "out2.wav"));
}
