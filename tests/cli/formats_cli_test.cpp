// The files musicians have, made by sox from one source: every lossless
// variant folds to what the canonical file folds to, every output is a
// 16-bit WAV that sox reads without a word, and a file the library cannot
// read leaves an existing output alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/testkit.h"

namespace {

struct FormatsCli : ::testing::Test {
  std::string dir = testkit::make_temp_dir("formats");
  std::string at(const std::string &name) const { return dir + "/" + name; }
  testkit::RunResult run(const std::string &cmds) const {
    testkit::RunOptions o;
    o.cwd = dir;
    o.env = {{"DISPLAY", ""}};
    return testkit::run_yelm(cmds + "exit\n", o);
  }
};

// What sox says when it reads the whole file.
std::string sox_complaints(const std::string &path) {
  return system(("sox -V2 '" + path + "' -n >'" + path + ".sox' 2>&1").c_str()) == 0 ? testkit::read_file(path + ".sox")
                                                                                       : "sox failed";
}

}  // namespace

TEST_F(FormatsCli, EveryLosslessVariantFoldsLikeTheCanonicalFileAndEveryOutputIsA16BitWav) {
  // An 8-bit source made 16-bit, so every variant below holds it exactly.
  ASSERT_EQ(system(("cd " + dir + " && sox -n -r 44100 -c 2 -b 8 -e unsigned s8.wav synth 2 sine 220 sine 660"
                    " vol 0.5 && sox s8.wav -b 16 -e signed canon.wav").c_str()), 0);
  // A LIST chunk between the format and the samples, as most tools write one,
  // and a chunk after the samples, which must not be played as sound.
  auto riff_told = [](std::string w) {
    for (int i = 0; i < 4; ++i) w[4 + i] = static_cast<char>((w.size() - 8) >> (8 * i));
    return w;
  };
  std::string canon = testkit::read_file(at("canon.wav"));
  ASSERT_TRUE(testkit::write_file(at("list.wav"), riff_told(canon.substr(0, 36) + std::string(
      "LIST\x1a\0\0\0INFOISFT\x0e\0\0\0Lavf58.76.100\0", 34) + canon.substr(36))));
  ASSERT_TRUE(testkit::write_file(at("tail.wav"), riff_told(canon + std::string("id3 \4\0\0\0ID3\3", 12))));
  struct Variant {
    const char *file, *sox_args, *format;
    int rate, channels, tolerance;  // tolerance in 16-bit steps; -1: not compared
  } variants[] = {
      {"list.wav", nullptr, "WAV, 16-bit", 44100, 2, 0},
      {"tail.wav", nullptr, "WAV, 16-bit", 44100, 2, 0},
      {"s8.wav", nullptr, "WAV, 8-bit", 44100, 2, 0},
      {"s24.wav", "-b 24", "WAV, 24-bit", 44100, 2, 0},
      {"s32.wav", "-b 32", "WAV, 32-bit", 44100, 2, 0},
      // A float holds s / 32768 where the 16-bit path reads s x 1/32767.
      {"f32.wav", "-e floating-point -b 32", "WAV, 32-bit float", 44100, 2, 1},
      {"c24.flac", "-b 24", "FLAC, 24-bit", 44100, 2, 0},
      {"c.aiff", "", "AIFF, 16-bit", 44100, 2, 0},
      {"c.ogg", "", "Ogg Vorbis", 44100, 2, -1},
      {"r48.flac", "-r 48000", "FLAC, 16-bit", 48000, 2, -1},
      {"r22.wav", "-r 22050 -c 1 -b 24", "WAV, 24-bit", 22050, 1, -1},
  };
  std::string cmds = "fold o-canon.wav canon.wav\n";
  for (const Variant &v : variants) {
    if (v.sox_args) {
      ASSERT_EQ(system(("cd " + dir + " && sox canon.wav " + v.sox_args + " " + v.file).c_str()), 0) << v.file;
    }
    cmds += std::string("fold o-") + v.file + ".wav " + v.file + "\n";
  }
  testkit::RunResult r = run(cmds);
  ASSERT_EQ(r.status, 0) << r.err;
  testkit::Wav ref;
  std::vector<unsigned char> ref_header;
  ASSERT_TRUE(testkit::read_wav(at("o-canon.wav"), ref, &ref_header));
  ASSERT_EQ(ref.frames(), 2u * 44100);
  for (const Variant &v : variants) {
    SCOPED_TRACE(v.file);
    // Its run names the format; the canonical run says nothing of it.
    const size_t run_of = r.out.find(std::string(" in:") + v.file + " |");
    ASSERT_NE(run_of, std::string::npos);
    EXPECT_EQ(r.out.find("format: ", run_of), r.out.find(std::string("format: ") + v.format + "\n", run_of));
    const std::string out = at(std::string("o-") + v.file + ".wav");
    EXPECT_EQ(sox_complaints(out), "");
    testkit::Wav got;
    std::vector<unsigned char> header;
    ASSERT_TRUE(testkit::read_wav(out, got, &header));
    // A canonical 16-bit PCM header whose sizes tell the file's.
    EXPECT_EQ(header, testkit::wav_header(v.rate, v.channels, 16, got.samples.size() * 2));
    EXPECT_NEAR(static_cast<double>(got.frames()), 2.0 * v.rate, v.rate * 0.01);
    if (v.tolerance < 0) continue;
    ASSERT_EQ(got.samples.size(), ref.samples.size());
    int worst = 0;
    for (size_t i = 0; i < ref.samples.size(); ++i) worst = std::max(worst, std::abs(got.samples[i] - ref.samples[i]));
    EXPECT_LE(worst, v.tolerance);
  }
  const size_t canon_run = r.out.find(" in:canon.wav |");
  EXPECT_GT(r.out.find("format: ", canon_run), r.out.find(" in:", canon_run + 1));
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
