// yelm --render: a file through the displays to PNG frames or a video,
// the real binary under the suite's X server.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/testkit.h"

namespace {

// Four displays with the types that keep state between frames: the
// mirror's seeded noise grid, the wavelet rings, the iviv tree.
const char kFourDisplays[] =
    "tuna 440\n:0 style c5\n:0 source file.left\n:1 style iviv\n:1 source file.right\n"
    ":2 style mirror\n:3 style wlet\n";

std::string shell(const std::string &command) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// "video frames,width,height" and "audio seconds" as ffprobe reads them.
std::string probe(const std::string &path, const char *stream, const char *entries) {
  std::string out = shell(std::string("ffprobe -v error -count_frames -select_streams ") + stream +
                          " -show_entries stream=" + entries + " -of csv=p=0 '" + path + "' 2>&1");
  while (!out.empty() && (out.back() == '\n' || out.back() == ',')) out.pop_back();
  return out;
}

class Render : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *d = getenv("DISPLAY");
    if (!d || !*d) GTEST_SKIP() << "DISPLAY is not set";
    dir = testkit::make_temp_dir("render");
    // Two seconds of a major third.
    testkit::Wav w = testkit::sine_wav(44100, 2 * 44100, {{440, 0.3}, {554.4, 0.2}});
    ASSERT_TRUE(testkit::write_wav(dir + "/in.wav", w));
  }
  testkit::RunResult render(std::vector<std::string> args, const std::string &settings = kFourDisplays) {
    testkit::write_file(dir + "/.yelmrc", settings);
    testkit::RunOptions o;
    o.cwd = dir;
    o.args = std::move(args);
    o.args.insert(o.args.begin(), "--render");
    return testkit::run_yelm("", o);
  }
  std::string frame(const std::string &folder, int n) {
    char name[32];
    snprintf(name, sizeof name, "/%06d.png", n);
    return testkit::read_file(dir + "/" + folder + name);
  }
  int frames_in(const std::string &folder) {
    int n = 0;
    while (testkit::file_exists(dir + "/" + folder + "/" + std::to_string(1000001 + n).substr(1) + ".png")) ++n;
    return n;
  }
  std::string dir;
};

TEST_F(Render, TwoRendersGiveTheSameFramesOneForEachFrameTime) {
  const testkit::RunResult a = render({"a/", "in.wav", "--size", "320x180"});
  ASSERT_EQ(a.status, 0) << a.out << a.err;
  const testkit::RunResult b = render({"b/", "in.wav", "--size", "320x180"});
  ASSERT_EQ(b.status, 0) << b.out << b.err;
  EXPECT_NE(a.out.find("rendered 50 frames of 320x180 (2.00 s) to a/"), std::string::npos) << a.out;
  ASSERT_EQ(frames_in("a"), 50);
  ASSERT_EQ(frames_in("b"), 50);
  for (int n = 1; n <= 50; ++n) EXPECT_TRUE(frame("a", n) == frame("b", n)) << "frame " << n << " differs";
  EXPECT_FALSE(frame("a", 2) == frame("a", 50)) << "the pictures do not move with the music";
}

TEST_F(Render, FromAndToCutFramesOutOfTheWholeRender) {
  // Types whose picture is the analysis alone.
  const std::string settings = "tuna 440\n:0 style fft\n:0 source file.left\n:1 style c5\n";
  ASSERT_EQ(render({"whole/", "in.wav", "--size", "160x90"}, settings).status, 0);
  const testkit::RunResult cut = render({"cut/", "in.wav", "--size", "160x90", "--from", "0.5", "--to", "1.3"}, settings);
  ASSERT_EQ(cut.status, 0) << cut.out << cut.err;
  // 0.8 s at 25 fps; the first frame at or after 0.5 s is the whole render's 14th (0.52 s).
  ASSERT_EQ(frames_in("cut"), 20);
  EXPECT_TRUE(frame("cut", 1) == frame("whole", 14));
  EXPECT_TRUE(frame("cut", 20) == frame("whole", 33));
}

TEST_F(Render, VideoOfAFlacFileHasEveryFrameAndTheSound) {
  ASSERT_EQ(system(("ffmpeg -v error -i '" + dir + "/in.wav' '" + dir + "/in.flac'").c_str()), 0);
  const testkit::RunResult r = render({"song.mp4", "in.flac", "--size", "320x240"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(probe(dir + "/song.mp4", "v:0", "codec_name,width,height,nb_read_frames"), "h264,320,240,50");
  const double sound = atof(probe(dir + "/song.mp4", "a:0", "duration").c_str());
  EXPECT_NEAR(sound, 2.0, 0.05);
  EXPECT_EQ(shell("ls '" + dir + "' | grep -c part"), "0\n") << "a temporary file is left";
}

TEST_F(Render, CtrlCLeavesAPlayableShorterVideo) {
  testkit::write_file(dir + "/.yelmrc", kFourDisplays);
  testkit::Wav w = testkit::sine_wav(44100, 30 * 44100, {{440, 0.3}});
  ASSERT_TRUE(testkit::write_wav(dir + "/long.wav", w));
  const std::string log = dir + "/log.txt";
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0 || !freopen(log.c_str(), "w", stdout)) _exit(126);
    execl(YELM_BINARY_PATH, YELM_BINARY_PATH, "--render", "long.mp4", "long.wav", "--size", "320x240",
          static_cast<char *>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  // Once a tenth is done (progress goes to a file a line at a time).
  for (int t = 0; t < 1200 && testkit::read_file(log).find("frame ") == std::string::npos; ++t) usleep(50 * 1000);
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  const std::string out = testkit::read_file(log);
  ASSERT_TRUE(WIFEXITED(status)) << out;
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT) << out;
  long long done = 0, total = 0;
  const size_t at = out.find("stopped at frame ");
  ASSERT_NE(at, std::string::npos) << out;
  ASSERT_EQ(sscanf(out.c_str() + at, "stopped at frame %lld of %lld", &done, &total), 2);
  EXPECT_EQ(total, 750);
  EXPECT_LT(done, total);
  EXPECT_NE(out.find("long.mp4 holds a playable video"), std::string::npos) << out;
  EXPECT_EQ(probe(dir + "/long.mp4", "v:0", "nb_read_frames"), std::to_string(done));
  EXPECT_NEAR(atof(probe(dir + "/long.mp4", "a:0", "duration").c_str()), done / 25.0, 0.05);
}

TEST_F(Render, ErrorsAreOneLineAndLeaveNothingUnderTheOutputsName) {
  testkit::RunResult r = render({"x.mp4", "none.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("file not found 'none.wav'. aborting.\n"), std::string::npos) << r.out;
  EXPECT_EQ(shell("ls '" + dir + "' | grep -c x.mp4"), "0\n");

  r = render({"missing/x.mp4", "in.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "yelm: cannot write 'missing/x.mp4': No such file or directory\n");

  r = render({"x.mp4", "in.wav", "--size", "12x"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "yelm: --size wants WIDTHxHEIGHT, each 16 to 16384, not '12x' (try 'yelm --help')\n");
  EXPECT_EQ(r.out, "");

  testkit::RunOptions o;
  o.cwd = dir;
  o.args = {"--render", "x.mp4", "in.wav"};
  o.env = {{"PATH", "/nonexistent"}};
  r = testkit::run_yelm("", o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(testkit::count(r.err, "\n"), 1) << r.err;
  EXPECT_NE(r.err.find("ffmpeg, which is not installed"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("yelm --render frames/ in.wav"), std::string::npos) << r.err;
  EXPECT_EQ(shell("ls '" + dir + "' | grep -c x.mp4"), "0\n");
}

}  // namespace
