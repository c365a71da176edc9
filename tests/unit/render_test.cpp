// The render's command line, its frame names and which frames it makes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/render.h"

namespace {

// A command line and the request read from it; the request points into it.
struct Line {
  std::vector<std::string> args;
  std::vector<char *> argv;
  RenderRequest r;
  int parse(std::vector<std::string> a) {
    args = std::move(a);
    args.insert(args.begin(), "yelm");
    for (std::string &s : args) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    return r.parse(static_cast<int>(args.size()), argv.data());
  }
};

std::string name_of(const RenderRequest &r, long long n) {
  char name[256];
  EXPECT_TRUE(r.frame_name(n, name, sizeof name));
  return name;
}

TEST(RenderRequest, DefaultsAndEachOption) {
  Line line;
  ASSERT_EQ(line.parse({"--render", "song.mp4", "song.flac"}), 0);
  const RenderRequest &r = line.r;
  EXPECT_STREQ(r.out, "song.mp4");
  EXPECT_STREQ(r.in, "song.flac");
  EXPECT_TRUE(r.fps == 25 && r.width == 1280 && r.height == 720 && r.from == 0 && r.to < 0);
  EXPECT_EQ(r.settings, nullptr);
  EXPECT_TRUE(r.output == kRenderVideo && r.format == kVideoMp4);

  Line other;
  ASSERT_EQ(other.parse({"--fps", "30", "--render=a.WEBM", "in.wav", "--size=1920x1080", "--from", "1.5", "--to",
                         "2", "--settings", "rc"}),
            0);
  const RenderRequest &s = other.r;
  EXPECT_TRUE(s.fps == 30 && s.width == 1920 && s.height == 1080 && s.from == 1.5 && s.to == 2);
  EXPECT_STREQ(s.settings, "rc");
  EXPECT_EQ(s.format, kVideoWebm);
}

TEST(RenderRequest, OutputKindsAndFrameNames) {
  Line pattern;
  ASSERT_EQ(pattern.parse({"--render", "shots/f%04d.png", "in.wav"}), 0);
  EXPECT_EQ(pattern.r.output, kRenderFrames);
  EXPECT_EQ(name_of(pattern.r, 7), "shots/f0007.png");
  EXPECT_EQ(name_of(pattern.r, 123456), "shots/f123456.png");

  Line folder;
  ASSERT_EQ(folder.parse({"--render", "not-there-yet/", "in.wav"}), 0);
  EXPECT_EQ(folder.r.output, kRenderFrames);
  EXPECT_TRUE(folder.r.make_folder);
  EXPECT_EQ(name_of(folder.r, 1), "not-there-yet/000001.png");

  Line picture;
  ASSERT_EQ(picture.parse({"--render", "iviv.png", "in.wav", "--from", "83"}), 0);
  EXPECT_EQ(picture.r.output, kRenderPicture);
}

TEST(RenderRequest, BadArgumentsAreUsageErrors) {
  const std::vector<std::vector<std::string>> bad = {
      {"--render", "a.mp4"},                                    // no input
      {"--render", "a.mp4", "in.wav", "more.wav"},              // two inputs
      {"in.wav", "--render", "a.mp4"},                          // input before output
      {"--render", "a.mp4", "in.wav", "--fps"},                 // no value
      {"--render", "a.mp4", "in.wav", "--fps", "0"},
      {"--render", "a.mp4", "in.wav", "--fps", "25.5"},
      {"--render", "a.mp4", "in.wav", "--size", "1280"},
      {"--render", "a.mp4", "in.wav", "--size", "8x8"},
      {"--render", "a.mp4", "in.wav", "--size", "99999x720"},
      {"--render", "a.mp4", "in.wav", "--size", "1281x720"},    // odd: no video
      {"--render", "a.mp4", "in.wav", "--from", "-1"},
      {"--render", "a.mp4", "in.wav", "--from", "nan"},
      {"--render", "a.mp4", "in.wav", "--from", "3", "--to", "2"},
      {"--render", "a.mp4", "in.wav", "--loud"},
      {"--render", "f%s.png", "in.wav"},                        // only a number field
      {"--render", "f%d%d.png", "in.wav"},
      {"--render", "a.avi", "in.wav"},
  };
  for (const auto &args : bad) {
    Line line;
    EXPECT_EQ(line.parse(args), 2) << args.back();
  }
  // An odd size is fine for pictures.
  Line frames;
  EXPECT_EQ(frames.parse({"--render", "f%d.png", "in.wav", "--size", "1281x721"}), 0);
}

TEST(FrameClock, OneFrameForEachStepThatStartsInTheCut) {
  FrameClock c;
  c.rate = 44100;
  c.fps = 25;
  ASSERT_TRUE(c.cut(2 * 44100, 0, -1));
  EXPECT_EQ(c.first, 0);
  EXPECT_EQ(c.count(), 50);
  EXPECT_EQ(c.sample_of(49), 49 * 1764);
  // A little more than 2 s: frame 50 starts inside the file.
  ASSERT_TRUE(c.cut(2 * 44100 + 1, 0, -1));
  EXPECT_EQ(c.count(), 51);
  // The cut keeps the whole file's frame times.
  ASSERT_TRUE(c.cut(2 * 44100, 0.5, 1.3));
  EXPECT_EQ(c.first, 13);
  EXPECT_EQ(c.count(), 20);
  EXPECT_GE(c.sample_of(c.first), c.from_sample);
  // --to past the end stops at the end; --from there is refused.
  ASSERT_TRUE(c.cut(2 * 44100, 1, 60));
  EXPECT_EQ(c.count(), 25);
  EXPECT_FALSE(c.cut(2 * 44100, 2, -1));
  // 24 fps at 44.1 kHz: frame times between samples fall to the one before.
  c.fps = 24;
  ASSERT_TRUE(c.cut(44100, 0, -1));
  EXPECT_EQ(c.count(), 24);
  EXPECT_EQ(c.sample_of(1), 1837);
  EXPECT_EQ(c.sample_of(2), 3675);
}

}  // namespace
