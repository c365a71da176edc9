// WAV scaling rules, header checks and the acquisition block reader.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include "audio/wav.h"
#include "tests/support/testkit.h"

namespace {

TEST(SampleScaling, ReadingUsesTheSinglePrecisionFactor) {
  const double k = static_cast<double>(1.0f / 32767.0f);
  EXPECT_NE(k, 1.0 / 32767.0);
  EXPECT_EQ(sample_to_value(16384), 16384 * k);
  EXPECT_NEAR(sample_to_value(16384), 0.50002, 1e-5);
}

TEST(SampleScaling, WritingTruncatesAndWraps) {
  EXPECT_EQ(value_to_sample(1.0), 32767);
  EXPECT_EQ(value_to_sample(-1.0), -32767);
  EXPECT_EQ(value_to_sample(0.99999), 32766);
  EXPECT_EQ(value_to_sample(-0.99999), -32766);
  EXPECT_EQ(value_to_sample(1.5), -16386);
  EXPECT_EQ(value_to_sample(NAN), 0);
  EXPECT_EQ(value_to_sample(1e300), 0);
}

struct Files : ::testing::Test {
  std::string dir = testkit::make_temp_dir("wav");
  std::string path(const char *n) { return dir + "/" + n; }
  std::string out;
};

TEST_F(Files, HeaderOnlyFileOpensAndReadsNothing) {
  testkit::Wav w;
  testkit::write_wav(path("h.wav"), w);
  FILE *f = fopen(path("h.wav").c_str(), "rb");
  WavPair p;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(p.open(f, path("h.wav").c_str(), path("o.wav").c_str(), 512, WavVariant::RequiredOutput));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "samplerate: 44100\nbits/sample: 16\nstereo wave\naudio I/O ok\n");
  double v[512];
  EXPECT_EQ(p.read_block(v, 512), 0);
  p.release();
  fclose(f);
  EXPECT_EQ(testkit::read_file(path("o.wav")).size(), 44u);
}

TEST_F(Files, StereoFramesAverageAndMonoIsCopiedToBothChannels) {
  testkit::Wav w;
  w.samples = {32767, -32767, 16384, 0};
  testkit::write_wav(path("s.wav"), w);
  FILE *f = fopen(path("s.wav").c_str(), "rb");
  WavPair p;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(p.open(f, path("s.wav").c_str(), path("o.wav").c_str(), 4, WavVariant::RequiredOutput));
  testing::internal::GetCapturedStdout();
  double v[4];
  ASSERT_EQ(p.read_block(v, 4), 2);
  EXPECT_EQ(v[0], 0.0);
  EXPECT_NEAR(v[1], 0.25001, 1e-5);
  double o[2] = {1.5, 0.99999};
  EXPECT_EQ(p.write_block(o, 2), 2);
  p.release();
  fclose(f);
  testkit::Wav r;
  std::vector<unsigned char> h;
  ASSERT_TRUE(testkit::read_wav(path("o.wav"), r, &h));
  EXPECT_EQ(r.samples, (std::vector<int16_t>{-16386, -16386, 32766, 32766}));
  EXPECT_EQ(h, testkit::wav_header(44100, 2, 16, 8));  // copied, sizes not recomputed
}

// The header's width is believed: these four bytes are four 8-bit samples
// (unsigned, 128 is silence), not two 16-bit ones.
TEST_F(Files, AHeaderSaying8BitsIsDecodedAs8Bit) {
  testkit::Wav w;
  w.channels = 1;
  w.bits = 8;
  w.samples = {16384, -16384};  // bytes 00 40 00 c0
  testkit::write_wav(path("m8.wav"), w);
  FILE *f = fopen(path("m8.wav").c_str(), "rb");
  WavPair p;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(p.open(f, path("m8.wav").c_str(), nullptr, 8, WavVariant::OptionalOutput));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "format: WAV, 8-bit\nsamplerate: 44100\nbits/sample: 8\n"
            "warning: MONO (#channels: 1). making L=R.\naudio I/O ok\n");
  double v[8];
  ASSERT_EQ(p.read_block(v, 8), 4);
  const int16_t as16[4] = {-128 * 256, -64 * 256, -128 * 256, 64 * 256};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(v[i], sample_to_value(as16[i])) << i;
  fclose(f);
}

TEST_F(Files, BadInputsAreRefusedAndTheOutputIsNeverCreated) {
  testkit::write_file(path("short.wav"), "RIFF1234");
  auto h = testkit::wav_header(44100, 2, 16, 0);
  h[0] = 'r';
  testkit::write_file(path("riff.wav"), std::string(h.begin(), h.end()));
  struct Case { const char *file; std::string message; } cases[] = {
      {"short.wav", "not a valid WAV file. aborting.\n"},
      {"riff.wav", "'" + path("riff.wav") + "': not a sound file of a known format. aborting.\n"},
      {"", "not a valid WAV file. aborting.\n"},  // the folder itself
  };
  for (auto &c : cases) {
    std::string in = path(c.file);
    FILE *f = fopen(in.c_str(), "rb");
    ASSERT_NE(f, nullptr) << in;
    WavPair p;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(p.open(f, in.c_str(), path("never.wav").c_str(), 512, WavVariant::RequiredOutput));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message) << c.file;
    fclose(f);
    EXPECT_FALSE(testkit::file_exists(path("never.wav")));
  }
}

TEST_F(Files, SameFileThroughAnotherPathOrLinkIsRefused) {
  testkit::write_wav(path("a.wav"), testkit::sine_wav(44100, 600, {{440, 0.5}}));
  std::string before = testkit::read_file(path("a.wav"));
  ASSERT_EQ(symlink(path("a.wav").c_str(), path("link.wav").c_str()), 0);
  std::string other_spelling = dir + "/./a.wav";
  for (const std::string &out : {path("a.wav"), path("link.wav"), other_spelling}) {
    FILE *f = fopen(path("a.wav").c_str(), "rb");
    WavPair p;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(p.open(f, path("a.wav").c_str(), out.c_str(), 512, WavVariant::RequiredOutput));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("is the same file as an input"),
              std::string::npos);
    fclose(f);
  }
  EXPECT_EQ(testkit::read_file(path("a.wav")), before);
}

TEST_F(Files, AnOutputThatCouldBlockIsRefusedAndADeviceIsNot) {
  testkit::write_wav(path("a.wav"), testkit::sine_wav(44100, 600, {{440, 0.5}}));
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0644), 0);
  for (const std::string &out : {path("fifo"), std::string("/dev/null")}) {
    FILE *f = fopen(path("a.wav").c_str(), "rb");
    WavPair p;
    testing::internal::CaptureStdout();
    // Nobody reads the FIFO: opening it for writing would wait for ever.
    const bool opened = p.open(f, path("a.wav").c_str(), out.c_str(), 512, WavVariant::RequiredOutput);
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(opened, out == "/dev/null") << said;
    EXPECT_EQ(said.find("'" + out + "': not a regular file. aborting.\n") != std::string::npos, !opened);
    p.release();
    fclose(f);
  }
}

TEST_F(Files, UnwritableOutputFolderIsReported) {
  testkit::write_wav(path("a.wav"), testkit::sine_wav(44100, 10, {{440, 0.5}}));
  FILE *f = fopen(path("a.wav").c_str(), "rb");
  WavPair p;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(p.open(f, path("a.wav").c_str(), path("no/such/dir/o.wav").c_str(), 512,
                      WavVariant::RequiredOutput));
  EXPECT_NE(testing::internal::GetCapturedStdout().find("cannot create output file"), std::string::npos);
  fclose(f);
}

// /dev/full takes the header and the buffered blocks, then fails: the
// failure must come out at the latest when the output is closed.
TEST_F(Files, FullDiskIsReportedByTheBlockWriteOrTheClose) {
  testkit::write_wav(path("a.wav"), testkit::sine_wav(44100, 100, {{440, 0.5}}));
  for (int blocks : {1, 200}) {
    FILE *f = fopen(path("a.wav").c_str(), "rb");
    WavPair p;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(p.open(f, path("a.wav").c_str(), "/dev/full", 512, WavVariant::RequiredOutput));
    double v[512] = {0.25};
    bool ok = true;
    int written = 0;
    while (ok && written < blocks) ok = p.write_checked(v, 512, written++);
    if (ok) ok = p.close_output(written);
    std::string got = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(ok) << blocks;
    EXPECT_EQ(testkit::count(got, "cannot write output file '/dev/full' (No space left on device). aborting.\n"), 1)
        << got;
    // Many blocks overflow the buffer: the write itself fails, mid-run.
    if (blocks == 200) {
      EXPECT_LT(written, blocks);
    }
    fclose(f);
  }
}

// The disk fills mid-run (a block write fails) or at the end (the close
// fails): the output keeps what reached it, whole frames, and its header
// tells that length instead of the input's.
TEST_F(Files, OutputCutShortByAFullDiskTellsWhatItHolds) {
  const std::string in = path("a.wav"), out = path("f.wav");
  testkit::write_wav(in, testkit::sine_wav(44100, 100 * 512, {{440, 0.5}}));
  for (auto [blocks, limit] : {std::pair<int, long>{100, 100001}, {20, 30001}}) {
    const int status = testkit::with_file_size_limit(limit, [&, blocks = blocks] {
      FILE *f = fopen(in.c_str(), "rb");
      WavPair p;
      if (!p.open(f, in.c_str(), out.c_str(), 512, WavVariant::RequiredOutput)) _exit(3);
      double v[512] = {0.25};
      int written = 0;
      while (written < blocks && p.write_checked(v, 512, written)) ++written;
      if (written == blocks && p.close_output(written)) _exit(4);
    });
    ASSERT_EQ(status, 0) << blocks;
    const std::string bytes = testkit::read_file(out);
    const auto le32 = [&](size_t at) {
      return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
             uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
    };
    ASSERT_GT(bytes.size(), 44u + 4 * 512) << blocks;
    EXPECT_EQ(bytes.size(), 44u + (limit - 44) / 4 * 4) << blocks;
    EXPECT_EQ(le32(4), bytes.size() - 8) << blocks;
    EXPECT_EQ(le32(40), bytes.size() - 44) << blocks;
  }
}

TEST_F(Files, FilesNotYetMadeAreTheSameWhenTheyLeadToOnePlace) {
  mkdir(path("sub").c_str(), 0755);
  const std::string a = path("sub/../log.txt"), b = path("log.txt"), c = path("other.txt");
  const char *reads[2] = {c.c_str(), a.c_str()};
  testing::internal::CaptureStdout();
  EXPECT_FALSE(written_file_is_safe("log", b.c_str(), reads, 2));
  EXPECT_TRUE(written_file_is_safe("log", path("log2.txt").c_str(), reads, 2));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "log '" + b + "' is the same file as an input. aborting.\n");
}

TEST_F(Files, AcquisitionReaderPlaysWholeBlocksOnly) {
  testkit::Wav w;
  w.samples.resize(5000);  // 10000 data bytes
  for (size_t i = 0; i < w.samples.size(); ++i) w.samples[i] = static_cast<int16_t>(i);
  testkit::write_wav(path("p.wav"), w);
  AcqReader r;
  testing::internal::CaptureStdout();
  ASSERT_EQ(r.open_input(path("p.wav").c_str()), 0);
  testing::internal::GetCapturedStdout();
  double l, rr;
  int frames = 0;
  while (r.next_frame(l, rr)) {
    EXPECT_EQ(l, sample_to_value(static_cast<int16_t>(2 * frames)));
    EXPECT_EQ(rr, sample_to_value(static_cast<int16_t>(2 * frames + 1)));
    ++frames;
  }
  EXPECT_EQ(frames * 4, 8192);
  r.close();
}

// A render's reader: to the very last frame, canonical or decoded, silently.
TEST_F(Files, AcquisitionReaderThatKeepsTheTailReadsEveryFrame) {
  for (int bits : {16, 8}) {
    testkit::Wav w;
    w.bits = bits;
    // 10000 bytes: 2500 16-bit or 5000 8-bit frames, whole blocks and a part.
    w.samples.assign(5000, 256);
    w.samples.back() = 512;
    const std::string name = path(bits == 16 ? "tail16.wav" : "tail8.wav");
    testkit::write_wav(name, w);
    AcqReader r;
    r.keep_tail = true;
    testing::internal::CaptureStdout();
    ASSERT_EQ(r.open_input(name.c_str(), false), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << bits;
    double l = 0, rr = 0, last = 0;
    int frames = 0;
    while (r.next_frame(l, rr)) {
      last = rr;
      ++frames;
    }
    EXPECT_EQ(frames, bits == 16 ? 2500 : 5000) << bits;
    if (bits == 16) {
      EXPECT_EQ(last, sample_to_value(512)) << "the last frame was not read";
    }
  }
}

TEST_F(Files, AcquisitionReaderMessagesAndMono) {
  AcqReader r;
  testing::internal::CaptureStdout();
  EXPECT_EQ(r.open_input(path("missing.wav").c_str()), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "file not found '" + path("missing.wav") + "'. aborting.\n");
  testkit::write_file(path("t.wav"), "RIFF");
  testing::internal::CaptureStdout();
  EXPECT_EQ(r.open_input(path("t.wav").c_str()), 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "not a valid WAV file. aborting.\n");

  testkit::Wav w;
  w.channels = 1;
  w.bits = 0;
  w.samples.assign(4096, 1000);
  testkit::write_wav(path("m.wav"), w);
  testing::internal::CaptureStdout();
  ASSERT_EQ(r.open_input(path("m.wav").c_str()), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "samplerate: 44100\nbits/sample: auto\nwarning: MONO (#channels: 1). making L=R.\n");
  double l, rr;
  ASSERT_TRUE(r.next_frame(l, rr));
  EXPECT_EQ(l, rr);
  EXPECT_EQ(l, sample_to_value(1000));
  r.close();
}

}  // namespace
