// tfield and mirage through the console: whole files against a plain
// evaluation of the surface field, passes, gain and the failure paths.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/testkit.h"
#include "tests/unit/surface_reference.h"

namespace {

using testkit::RunOptions;
using testkit::Wav;

const char kField[] =
    "# two small surfaces\n"
    "dim 12 9\nin 3 4\ncoupling 0.05 0.6\nshape 1\n\n"
    "dim 16 6\nin 8 0\ncoupling 0.04 0.4\ndamp 0.995\nshape -3\n";

surface_ref::Field reference_field() {
  surface_ref::Field f;
  surface_ref::Surf a;
  a.w = 12, a.h = 9, a.ix = 3, a.iy = 4, a.cin = 0.05, a.cout = 0.6, a.shape = 1, a.param = 1;
  surface_ref::Surf b;
  b.w = 16, b.h = 6, b.ix = 8, b.iy = 0, b.cin = 0.04, b.cout = 0.4, b.damp = 0.995, b.shape = -3, b.param = -3;
  a.build();
  b.build();
  f.s = {a, b};
  return f;
}

// Stereo input whose channels differ, so the mono mean matters.
Wav stereo_input(int frames) {
  Wav w;
  w.channels = 2;
  for (int t = 0; t < frames; ++t) {
    double l = 0.5 * std::sin(2 * M_PI * 220 * t / 44100.0) + 0.2 * std::sin(2 * M_PI * 1375 * t / 44100.0);
    double r = 0.4 * std::sin(2 * M_PI * 330 * t / 44100.0);
    w.samples.push_back(static_cast<int16_t>(std::lround(l * 32767)));
    w.samples.push_back(static_cast<int16_t>(std::lround(r * 32767)));
  }
  return w;
}

double mono(const Wav &w, size_t t) {
  return (surface_ref::to_value(w.samples[2 * t]) + surface_ref::to_value(w.samples[2 * t + 1])) * 0.5;
}

// The expected output frames: whole blocks only, each pass saturated.
std::vector<int> expected(const Wav &in, double gain, int passes) {
  surface_ref::Field f = reference_field();
  std::vector<int> out;
  size_t blocks = in.frames() / 512;
  for (size_t b = 0; b < blocks; ++b) {
    double blk[512];
    for (int i = 0; i < 512; ++i) blk[i] = mono(in, b * 512 + i);
    for (int p = 0; p < passes; ++p)
      for (int i = 0; i < 512; ++i) blk[i] = std::tanh(2 * gain * f.step(blk[i]));
    for (int i = 0; i < 512; ++i) out.push_back(surface_ref::to_sample(blk[i]));
  }
  return out;
}

struct Dir {
  std::string path = testkit::make_temp_dir("tfield");
  std::string operator/(const std::string &name) const { return path + "/" + name; }
  testkit::RunResult run(const std::string &commands) const {
    RunOptions o;
    o.cwd = path;
    return testkit::run_yelm(commands + "exit\n", o);
  }
};

void expect_frames(const Wav &got, const std::vector<int> &want, int tolerance) {
  ASSERT_EQ(got.frames(), want.size());
  int worst = 0;
  for (size_t t = 0; t < want.size(); ++t) {
    EXPECT_EQ(got.samples[2 * t], got.samples[2 * t + 1]);
    worst = std::max(worst, std::abs(got.samples[2 * t] - want[t]));
  }
  EXPECT_LE(worst, tolerance);
}

}  // namespace

TEST(TfieldCli, TransformsWholeBlocksLikeThePlainEvaluation) {
  Dir d;
  Wav in = stereo_input(512 * 6 + 300);
  ASSERT_TRUE(testkit::write_wav(d / "in.wav", in));
  testkit::write_file(d / "field", kField);
  auto r = d.run("tfield out.wav in.wav\n");
  EXPECT_NE(r.out.find("---------- reading surfaces from file \n"
                       "crystal #0: dim(12 9) in(3 4) damp(0.9999) coupling(0.05 0.6) fpermu(1) \n\n"
                       "crystal #1: dim(16 6) in(8 0) damp(0.995) coupling(0.04 0.4) fpermu(1) \n\n"
                       "total output couple: 1\ntransform: gain=1 passes=1\n---------- reading input .wav\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("audio I/O ok\n......[.]\n\n"), std::string::npos);
  Wav out;
  std::vector<unsigned char> header_out, header_in;
  ASSERT_TRUE(testkit::read_wav(d / "out.wav", out, &header_out));
  testkit::read_wav(d / "in.wav", in, &header_in);
  // The input's header, but for the sizes: the partial last block is not
  // made, and the header says so.
  ASSERT_EQ(header_out.size(), 44u);
  const uint32_t data = 512 * 6 * 2 * 2;
  auto le32 = [&](int at) {
    return uint32_t(header_out[at]) | uint32_t(header_out[at + 1]) << 8 | uint32_t(header_out[at + 2]) << 16 |
           uint32_t(header_out[at + 3]) << 24;
  };
  EXPECT_EQ(le32(40), data);
  EXPECT_EQ(le32(4), data + 36);
  for (int at : {4, 5, 6, 7, 40, 41, 42, 43}) header_out[at] = header_in[at];
  EXPECT_EQ(header_out, header_in);
  std::vector<int> want = expected(in, 1.0, 1);
  expect_frames(out, want, 1);
  int loud = 0;
  for (int v : want) loud = std::max(loud, std::abs(v));
  EXPECT_GT(loud, 1000);  // the field really answers
}

TEST(TfieldCli, MirageWritesTheSameFileAsTfield) {
  Dir d;
  ASSERT_TRUE(testkit::write_wav(d / "in.wav", stereo_input(512 * 4)));
  testkit::write_file(d / "field", kField);
  d.run("tfield a.wav in.wav\nmirage b.wav in.wav\n");
  std::string a = testkit::read_file(d / "a.wav"), b = testkit::read_file(d / "b.wav");
  EXPECT_EQ(a.size(), 44u + 4 * 512 * 4);
  EXPECT_EQ(a, b);
}

TEST(TfieldCli, PassesAndGain) {
  Dir d;
  Wav in = stereo_input(512 * 4);
  ASSERT_TRUE(testkit::write_wav(d / "in.wav", in));
  testkit::write_file(d / "field", kField);
  auto r = d.run(
      "set s.passes 0\ntfield p0.wav in.wav\n"
      "set s.passes 2\nset s.gain 0.7\ntfield p2.wav in.wav\n"
      "set s.passes 1\ntfield p1.wav in.wav\n"
      "set s.passes -3\ntfield pn.wav in.wav\n");
  EXPECT_NE(r.out.find("transform: gain=0.7 passes=2\n"), std::string::npos);
  EXPECT_NE(r.out.find("*** warning: passes must be >=0, using 0\ntransform: gain=0.7 passes=0\n"),
            std::string::npos);
  // Passes 0: the mono mean of the input, unsaturated.
  Wav p0, p1, p2, pn;
  ASSERT_TRUE(testkit::read_wav(d / "p0.wav", p0));
  std::vector<int> copy;
  for (size_t t = 0; t < in.frames(); ++t) copy.push_back(surface_ref::to_sample(mono(in, t)));
  expect_frames(p0, copy, 0);
  ASSERT_TRUE(testkit::read_wav(d / "pn.wav", pn));
  EXPECT_EQ(pn.samples, p0.samples);
  // Passes 2: the second pass runs on the first pass's saturated output,
  // with the field's state carried on.
  ASSERT_TRUE(testkit::read_wav(d / "p2.wav", p2));
  expect_frames(p2, expected(in, 0.7, 2), 1);
  ASSERT_TRUE(testkit::read_wav(d / "p1.wav", p1));
  expect_frames(p1, expected(in, 0.7, 1), 1);
  EXPECT_NE(p1.samples, p2.samples);
}

TEST(TfieldCli, OneArgumentTransformsWithoutOutput) {
  Dir d;
  ASSERT_TRUE(testkit::write_wav(d / "in.wav", stereo_input(512 * 2)));
  testkit::write_file(d / "field", kField);
  auto r = d.run("tfield in.wav\n");
  EXPECT_NE(r.out.find(" no output, only transform buffer.\n"), std::string::npos);
  EXPECT_EQ(r.out.find(" output  .wav file  missing"), std::string::npos);
  EXPECT_NE(r.out.find("audio I/O ok\n..[.]\n\n"), std::string::npos);
  EXPECT_FALSE(testkit::file_exists(d / "out.wav"));
  EXPECT_FALSE(testkit::file_exists(d / "-"));
}

TEST(TfieldCli, ShortInputGivesHeaderOnly) {
  Dir d;
  ASSERT_TRUE(testkit::write_wav(d / "in.wav", stereo_input(500)));
  testkit::write_file(d / "field", kField);
  auto r = d.run("mirage out.wav in.wav\n");
  EXPECT_NE(r.out.find("audio I/O ok\n[.]\n\n"), std::string::npos);
  EXPECT_EQ(testkit::read_file(d / "out.wav").size(), 44u);
}

TEST(TfieldCli, MissingSurfaceFilePassesSaturatedInput) {
  Dir d;
  Wav in = stereo_input(512 * 2);
  ASSERT_TRUE(testkit::write_wav(d / "in.wav", in));
  auto r = d.run("set s.file nofield\ntfield out.wav in.wav\n");
  EXPECT_NE(r.err.find("cannot open file nofield\n"), std::string::npos);
  EXPECT_NE(r.out.find("total output couple: 0\n"), std::string::npos);
  Wav out;
  ASSERT_TRUE(testkit::read_wav(d / "out.wav", out));
  std::vector<int> want;
  for (size_t t = 0; t < in.frames(); ++t) want.push_back(surface_ref::to_sample(std::tanh(2 * mono(in, t))));
  expect_frames(out, want, 1);
}

TEST(TfieldCli, RefusesBadArguments) {
  Dir d;
  ASSERT_TRUE(testkit::write_wav(d / "in.wav", stereo_input(512 * 2)));
  const std::string original = testkit::read_file(d / "in.wav");
  testkit::write_file(d / "field", kField);
  std::string longname(50, 'x');
  auto r = d.run("tfield out.wav missing.wav\ntfield in.wav in.wav\ntfield " + longname + " in.wav\nset s.gain " +
                 longname + "\ntfield out2.wav in.wav\n");
  EXPECT_NE(r.out.find("file arguments not ok\n"), std::string::npos);
  EXPECT_FALSE(testkit::file_exists(d / "out.wav"));
  EXPECT_NE(r.out.find("output 'in.wav' is the same file as an input. aborting.\n"), std::string::npos);
  EXPECT_EQ(testkit::read_file(d / "in.wav"), original);
  EXPECT_EQ(testkit::count(r.out, "  parameter too big [" + longname + "]\n"), 2);
  EXPECT_FALSE(testkit::file_exists(d / "out2.wav"));
}

TEST(TfieldCli, NoArgumentsStartsLiveAndAMissingFieldGivesAnEmptyField) {
  Dir d;
  auto r = d.run("tfield\nmirage\n");
  // No "field" here: an empty field that passes the samples through, and the
  // second command stops the first.
  EXPECT_EQ(testkit::count(r.out, " output  .wav file  missing\n no output, only transform buffer.\n"
                                  "---------- reading configuration for live transform\n"
                                  "total output couple: 0\naudio: reset & capture from device..\n"),
            2)
      << r.out;
  EXPECT_EQ(testkit::count(r.err, "cannot open file field\n"), 2);
  EXPECT_EQ(r.out.find("error in engine?"), std::string::npos);
  EXPECT_EQ(testkit::count(r.out, "stopping audio-capture...\n"), 1);
  EXPECT_EQ(r.status, 0);
}

TEST(TfieldCli, ExampleFieldWorksInTheExamplesFolder) {
  // The example settings name "field"; with a copy of the examples folder the
  // plain command works as it stands.
  Dir d;
  testkit::write_file(d / ".yelmrc", testkit::read_file(std::string(YELM_SOURCE_DIR) + "/examples/.yelmrc"));
  testkit::write_file(d / "field", testkit::read_file(std::string(YELM_SOURCE_DIR) + "/examples/field"));
  ASSERT_TRUE(testkit::write_wav(d / "in.wav", stereo_input(512 * 40)));
  auto r = d.run("tfield out.wav in.wav\n");
  EXPECT_NE(r.out.find("crystal #2: "), std::string::npos);
  EXPECT_EQ(r.err.find("unknown"), std::string::npos) << r.err;
  Wav out;
  ASSERT_TRUE(testkit::read_wav(d / "out.wav", out));
  ASSERT_EQ(out.frames(), 512u * 40);
  double rms = 0;
  for (size_t t = 0; t < out.frames(); ++t) rms += std::pow(out.samples[2 * t], 2);
  rms = std::sqrt(rms / out.frames());
  // Audible but not a square wave.
  EXPECT_GT(rms, 1000);
  EXPECT_LT(rms, 20000);
}
