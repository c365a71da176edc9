// The files musicians have, made by sox from one source: every lossless
// variant folds to what the canonical file folds to, every output is a
// 16-bit WAV that sox reads without a word, and a file the library cannot
// read leaves an existing output alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/testkit.h"

namespace {

struct FormatsCli : ::testing::Test {
  std::string dir = testkit::make_temp_dir("formats");
  std::string at(const std::string &name) const { return dir + "/" + name; }
  bool sox(const std::string &args) const { return system(("cd " + dir + " && sox " + args + " 2>&1").c_str()) == 0; }
  testkit::RunResult run(const std::string &cmds) const {
    testkit::RunOptions o;
    o.cwd = dir;
    o.env = {{"DISPLAY", ""}};
    return testkit::run_yelm(cmds + "exit\n", o);
  }
};

uint32_t le32(const std::string &b, size_t at) {
  return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8 |
         static_cast<unsigned char>(b[at + 2]) << 16 | static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

// What sox says on standard error when it reads the whole file.
std::string sox_complaints(const std::string &path) {
  std::string text;
  FILE *p = popen(("sox -V2 '" + path + "' -n 2>&1").c_str(), "r");
  if (!p) return "popen failed";
  char buf[256];
  while (fgets(buf, sizeof buf, p)) text += buf;
  pclose(p);
  return text;
}

// A LIST chunk between the format and the samples, as most tools write one.
std::string with_list_chunk(const std::string &wav) {
  const std::string list = std::string("LIST\x1a\0\0\0INFOISFT\x0e\0\0\0Lavf58.76.100\0", 34);
  std::string out = wav.substr(0, 36) + list + wav.substr(36);
  const uint32_t riff = static_cast<uint32_t>(out.size() - 8);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<char>(riff >> (8 * i));
  return out;
}

}  // namespace

TEST_F(FormatsCli, EveryLosslessVariantFoldsLikeTheCanonicalFileAndEveryOutputIsA16BitWav) {
  // An 8-bit source made 16-bit: every variant below holds it exactly.
  ASSERT_TRUE(sox("-n -r 44100 -c 2 -b 8 -e unsigned src8.wav synth 2 sine 220 sine 660 vol 0.5"));
  ASSERT_TRUE(sox("src8.wav -b 16 -e signed canon.wav"));
  const std::string canon = testkit::read_file(at("canon.wav"));
  ASSERT_EQ(canon.compare(36, 4, "data"), 0) << "sox no longer writes the 44-byte layout";
  ASSERT_TRUE(testkit::write_file(at("list.wav"), with_list_chunk(canon)));
  struct Variant {
    const char *file, *sox_args, *format;
    int tolerance;  // 16-bit steps; -1: lossy, not compared
  } variants[] = {
      {"list.wav", nullptr, "format: WAV, 16-bit\n", 0},
      {"s8.wav", "-D canon.wav -b 8 s8.wav", "format: WAV, 8-bit\n", 0},
      {"s24.wav", "canon.wav -b 24 s24.wav", "format: WAV, 24-bit\n", 0},
      {"s32.wav", "canon.wav -b 32 s32.wav", "format: WAV, 32-bit\n", 0},
      // A float holds s / 32768 where the 16-bit path reads s / 32767.
      {"f32.wav", "canon.wav -e floating-point -b 32 f32.wav", "format: WAV, 32-bit float\n", 1},
      {"c16.flac", "canon.wav c16.flac", "format: FLAC, 16-bit\n", 0},
      {"c24.flac", "canon.wav -b 24 c24.flac", "format: FLAC, 24-bit\n", 0},
      {"c.aiff", "canon.wav c.aiff", "format: AIFF, 16-bit\n", 0},
      {"c.ogg", "canon.wav c.ogg", "format: Ogg Vorbis\n", -1},
      {"r48.flac", "canon.wav -r 48000 r48.flac", "format: FLAC, 16-bit\n", -1},
      {"r22.wav", "canon.wav -r 22050 -c 1 -b 24 r22.wav", "format: WAV, 24-bit\n", -1},
  };
  std::string cmds = "fold o-canon.wav canon.wav\n";
  for (const Variant &v : variants) {
    if (v.sox_args) {
      ASSERT_TRUE(sox(v.sox_args)) << v.sox_args;
    }
    cmds += std::string("fold o-") + v.file + ".wav " + v.file + "\n";
  }
  testkit::RunResult r = run(cmds);
  ASSERT_EQ(r.status, 0) << r.err;

  const std::string reference = testkit::read_file(at("o-canon.wav"));
  ASSERT_GT(reference.size(), 44u + 4 * 44100);
  EXPECT_EQ(reference.compare(0, 44, canon, 0, 44), 0) << "a canonical output keeps its input's header";
  testkit::Wav ref;
  ASSERT_TRUE(testkit::read_wav(at("o-canon.wav"), ref));
  for (const Variant &v : variants) {
    const std::string out = at(std::string("o-") + v.file + ".wav");
    SCOPED_TRACE(v.file);
    // Its run names the format where the canonical run says nothing.
    const size_t run_of = r.out.find(std::string(" in:") + v.file + " |");
    ASSERT_NE(run_of, std::string::npos);
    EXPECT_EQ(r.out.compare(r.out.find("---------- reading input .wav\n", run_of) + 30, strlen(v.format), v.format), 0);
    const std::string bytes = testkit::read_file(out);
    ASSERT_GT(bytes.size(), 44u);
    EXPECT_EQ(sox_complaints(out), "");
    // A canonical 16-bit PCM header whose sizes tell the file's.
    EXPECT_EQ(bytes.compare(0, 4, "RIFF"), 0);
    EXPECT_EQ(bytes.compare(8, 8, "WAVEfmt "), 0);
    EXPECT_EQ(le32(bytes, 16), 16u);
    EXPECT_EQ(le32(bytes, 20) & 0xffff, 1u);
    EXPECT_EQ(le32(bytes, 32) >> 16, 16u);
    EXPECT_EQ(bytes.compare(36, 4, "data"), 0);
    EXPECT_EQ(le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(le32(bytes, 40), bytes.size() - 44);
    testkit::Wav got;
    ASSERT_TRUE(testkit::read_wav(out, got));
    if (v.tolerance < 0) {
      // Its own rate and channels, and its length.
      const int rate = std::string(v.file) == "r48.flac" ? 48000 : std::string(v.file) == "r22.wav" ? 22050 : 44100;
      EXPECT_EQ(got.sample_rate, rate);
      EXPECT_EQ(got.channels, std::string(v.file) == "r22.wav" ? 1 : 2);
      EXPECT_NEAR(static_cast<double>(got.frames()), 2.0 * rate, rate * 0.01);
      continue;
    }
    EXPECT_EQ(bytes.compare(0, 44, reference, 0, 44), 0);
    ASSERT_EQ(got.samples.size(), ref.samples.size());
    int worst = 0;
    for (size_t i = 0; i < ref.samples.size(); ++i) worst = std::max(worst, std::abs(got.samples[i] - ref.samples[i]));
    EXPECT_LE(worst, v.tolerance);
  }
}

TEST_F(FormatsCli, AFileTheLibraryCannotReadLeavesAnExistingOutputAlone) {
  testkit::write_wav(at("in.wav"), testkit::sine_wav(44100, 4000, {{440, 0.5}}));
  std::string tagged = testkit::read_file(at("in.wav"));
  tagged[20] = '\x34';
  tagged[21] = '\x12';
  ASSERT_TRUE(testkit::write_file(at("tag.wav"), tagged));
  ASSERT_TRUE(testkit::write_file(at("notes.wav"), std::string(200, 'n')));
  ASSERT_TRUE(testkit::write_file(at("keep.wav"), "what was there before"));
  testkit::RunResult r = run("fold keep.wav tag.wav\nfold keep.wav notes.wav\ntstring keep.wav notes.wav\n");
  EXPECT_EQ(testkit::count(r.out, "'tag.wav': unsupported sample format (format tag 0x1234). aborting.\n"), 1) << r.out;
  EXPECT_EQ(testkit::count(r.out, "'notes.wav': not a sound file of a known format. aborting.\n"), 2);
  EXPECT_EQ(testkit::read_file(at("keep.wav")), "what was there before");
}
