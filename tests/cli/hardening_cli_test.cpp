// Hostile runs of the file commands: a full disk, outputs and logs that name
// an input, endless side files, absurd counts and bands, a silent input, and
// the program ending in the middle of a run.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/live_kit.h"
#include "tests/support/testkit.h"

namespace {

struct Dir {
  std::string path = testkit::make_temp_dir("hardening");
  std::string operator/(const std::string &name) const { return path + "/" + name; }
  testkit::RunResult run(const std::string &commands, int timeout_s = 120) const {
    testkit::RunOptions o;
    o.cwd = path;
    o.timeout_s = timeout_s;
    return testkit::run_yelm(commands + "exit\n", o);
  }
  // A good input of a few blocks, a codebook and a surface description.
  void fill() const {
    ASSERT_TRUE(testkit::write_wav(*this / "in.wav", testkit::sine_wav(44100, 512 * 6 + 100, {{440, 0.3}, {660, 0.2}})));
    ASSERT_TRUE(testkit::write_file(*this / "cb.txt", "0 5 6 0.5 0.25\n0.01 20 6 0.4 0.2\n"));
    ASSERT_TRUE(testkit::write_file(*this / "field", "dim 8 6\nin 2 2\nshape 1\n"));
  }
};

// Each command's own closing line, which must never follow a failed write.
const char *const kSuccessLines[] = {"---------- processed", "[.]", " OUTPUT: '"};

TEST(HardeningCli, FullDiskStopsEveryWriterWithoutItsSuccessLine) {
  Dir d;
  d.fill();
  for (const char *command : {"fold", "tstring", "tether", "tfield", "mirage", "unfold", "reconstruct"}) {
    std::string line = std::string(command) + " /dev/full in.wav";
    if (std::string(command) == "reconstruct") line += " cb.txt";
    auto r = d.run(line + "\n");
    EXPECT_EQ(r.status, 0) << command;
    EXPECT_EQ(testkit::count(r.out, "cannot write output file '/dev/full' (No space left on device). aborting.\n"), 1)
        << command << "\n" << r.out;
    for (const char *done : kSuccessLines) EXPECT_EQ(r.out.find(done), std::string::npos) << command << ": " << done;
  }
  // The side files a command writes are checked alike.
  unlink((d / "reconstruct.param").c_str());  // left by the runs above
  ASSERT_EQ(symlink("/dev/full", (d / "reconstruct.param").c_str()), 0);
  ASSERT_EQ(symlink("/dev/full", (d / "iviv.txt").c_str()), 0);
  auto r = d.run("reconstruct o.wav in.wav cb.txt\nset u.debug 1\nunfold o.wav in.wav\n");
  for (const char *file : {"reconstruct.param", "iviv.txt"})
    EXPECT_EQ(testkit::count(r.out, std::string("cannot write output file '") + file +
                                        "' (No space left on device). aborting.\n"),
              1)
        << file << "\n" << r.out;
  EXPECT_EQ(r.out.find("SUMMARY"), std::string::npos);
  EXPECT_EQ(r.out.find("---------- processed"), std::string::npos);
}

TEST(HardeningCli, NoWrittenFileMayBeAFileTheCommandReads) {
  Dir d;
  d.fill();
  ASSERT_TRUE(testkit::write_file(d / "log.txt", "keep log\n"));
  ASSERT_TRUE(testkit::write_file(d / "iviv.txt", "keep iviv\n"));
  ASSERT_TRUE(testkit::write_file(d / "reconstruct.param", "keep param\n"));
  const std::string field = testkit::read_file(d / "field");
  auto r = d.run(
      "tfield field in.wav\nmirage field in.wav\nunfold o.wav log.txt\nset u.debug 1\nunfold o.wav iviv.txt\n"
      "unfold iviv.txt in.wav\nset u.debug 0\nreconstruct o.wav reconstruct.param cb.txt\n"
      "reconstruct o.wav in.wav reconstruct.param\nreconstruct reconstruct.param in.wav cb.txt\n");
  EXPECT_EQ(testkit::count(r.out, "output 'field' is the same file as an input. aborting.\n"), 2) << r.out;
  EXPECT_EQ(testkit::count(r.out, "log 'log.txt' is the same file as an input. aborting.\n"), 1);
  EXPECT_EQ(testkit::count(r.out, "log 'iviv.txt' is the same file as an input. aborting.\n"), 1);
  EXPECT_EQ(testkit::count(r.out, "output 'iviv.txt' is the same file as a log. aborting.\n"), 1);
  EXPECT_EQ(testkit::count(r.out, "parameter file 'reconstruct.param' is the same file as an input. aborting.\n"), 2);
  EXPECT_EQ(testkit::count(r.out, "output 'reconstruct.param' is the same file as the parameter file. aborting.\n"),
            1);
  EXPECT_EQ(testkit::read_file(d / "field"), field);
  EXPECT_EQ(testkit::read_file(d / "log.txt"), "keep log\n");
  EXPECT_EQ(testkit::read_file(d / "iviv.txt"), "keep iviv\n");
  EXPECT_EQ(testkit::read_file(d / "reconstruct.param"), "keep param\n");
  EXPECT_FALSE(testkit::file_exists(d / "o.wav"));
}

TEST(HardeningCli, EndlessSideFilesAndHugeCountsEndPromptly) {
  Dir d;
  d.fill();
  ASSERT_EQ(symlink("/dev/zero", (d / ".yelmrc").c_str()), 0);
  auto r = d.run(
      "set s.file /dev/zero\ntfield a.wav in.wav\nreconstruct b.wav in.wav /dev/zero\n"
      "set s.file field\nset s.passes 1000000\ntfield c.wav in.wav\n"
      "set r.iter 2147483647\nreconstruct e.wav in.wav cb.txt\n",
      60);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("*** warning: settings file '.yelmrc' is not a regular file, not read\n.yelmrc had errors.\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("*** warning: surface file '/dev/zero' is not a regular file, not read\n"), std::string::npos);
  EXPECT_NE(r.out.find("*** warning: codebook '/dev/zero' is not a regular file, not read\n"), std::string::npos);
  EXPECT_NE(r.err.find("Cannot open file\n"), std::string::npos);
  EXPECT_FALSE(testkit::file_exists(d / "b.wav"));
  EXPECT_NE(r.out.find("*** warning: passes 1000000 capped at 10\ntransform: gain=1 passes=10\n"), std::string::npos);
  EXPECT_NE(r.out.find("*** warning: iterations 2147483647 capped at 100\n"), std::string::npos);
  EXPECT_NE(r.out.find(" MODE: normal RESCALE: 1 #ITER: 100\n"), std::string::npos);
  testkit::Wav c, e;
  EXPECT_TRUE(testkit::read_wav(d / "c.wav", c));
  EXPECT_EQ(c.frames(), 512u * 6);
  EXPECT_TRUE(testkit::read_wav(d / "e.wav", e));
  EXPECT_EQ(e.frames(), 512u * 6 + 100);
}

// Nobody is at the FIFO's other end: opening it would wait for ever. Every
// command that would open it, to read or to write, refuses it at once.
TEST(HardeningCli, AFifoIsRefusedByEveryCommandThatWouldOpenIt) {
  Dir d;
  d.fill();
  ASSERT_EQ(mkfifo((d / "pf").c_str(), 0644), 0);
  auto r = d.run("fold o.wav pf\nfold pf in.wav\ntstring o.wav pf\ntether pf in.wav\ntfield o.wav pf\n"
                 "mirage pf in.wav\nunfold o.wav pf\nreconstruct o.wav pf cb.txt\nreconstruct pf in.wav cb.txt\n"
                 "analyse :0 pf\n",
                 60);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(testkit::count(r.out, "'pf': not a regular file. aborting.\n"), 10) << r.out;
  EXPECT_FALSE(testkit::file_exists(d / "o.wav"));
}

TEST(HardeningCli, LiveSurfacesTakeNoMorePassesThanAFileRun) {
  Dir d;
  d.fill();
  auto r = d.run("set s.passes 1000000\ntfield\nmute\n", 60);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("*** warning: passes 1000000 capped at 10\n"), std::string::npos) << r.out;
}

TEST(HardeningCli, ReconstructRefusesOnlyABandWithoutFiniteEdges) {
  Dir d;
  d.fill();
  auto r = d.run("set r.lo nan\nreconstruct b.wav in.wav cb.txt\nset r.lo 0\nset r.hi -inf\n"
                 "reconstruct c.wav in.wav cb.txt\nset r.hi 30000\nreconstruct a.wav in.wav cb.txt\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("reconstruct band nan..775.2 Hz is not usable: it needs finite edges. aborting.\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("reconstruct band 0..-inf Hz is not usable"), std::string::npos);
  for (const char *f : {"b.wav", "c.wav"}) EXPECT_FALSE(testkit::file_exists(d / f)) << f;
  // Above half the rate: the band runs to the top of the spectrum.
  EXPECT_NE(r.out.find(" BANDPASS f:0..30000 (index: 0..256)\n"), std::string::npos);
  testkit::Wav a;
  EXPECT_TRUE(testkit::read_wav(d / "a.wav", a));
}

TEST(HardeningCli, UnfoldOfSilenceHasADefinedAverageDistance) {
  Dir d;
  testkit::Wav silent;
  silent.samples.assign(2 * 512 * 4, 0);
  ASSERT_TRUE(testkit::write_wav(d / "silent.wav", silent));
  auto r = d.run("unfold o.wav silent.wav\n");
  EXPECT_NE(r.out.find("---------- processed 0.0464399 sec(#4) avg.distance 0 avg.q 100.00%\n"), std::string::npos)
      << r.out;
}

}  // namespace

TEST(HardeningCli, TheWayOutStopsARunningTransformAtAWholeShorterFile) {
  Dir d;
  // Long enough, with the example field at ten passes, to be running when
  // the signal comes.
  const int frames = 44100 * 40;
  ASSERT_TRUE(testkit::write_wav(d / "long.wav", testkit::sine_wav(44100, frames, {{440, 0.3}})));
  ASSERT_TRUE(testkit::write_file(d / "field", testkit::read_file(std::string(YELM_SOURCE_DIR) + "/examples/field")));
  livekit::Yelm y;
  ASSERT_TRUE(y.start(d.path, false));
  y.send("set s.passes 10");
  y.send("tfield out.wav long.wav");
  ASSERT_TRUE(y.wait_for("audio I/O ok\n..", 30000)) << y.text;
  kill(y.pid, SIGTERM);
  ASSERT_TRUE(y.wait_exit(20000)) << y.text;
  EXPECT_EQ(y.status, 0);
  const std::string mark = "stopped: the program is ending; 'out.wav' holds the ";
  const size_t at = y.text.find(mark);
  ASSERT_NE(at, std::string::npos) << y.text;
  EXPECT_EQ(y.text.find("[.]"), std::string::npos);
  EXPECT_NE(y.text.find("exit.\n", at), std::string::npos);
  const long made = atol(y.text.c_str() + at + mark.size());
  EXPECT_GT(made, 0);
  EXPECT_LT(made, frames);
  // A whole file: its header tells the length that is there.
  testkit::Wav out;
  std::vector<unsigned char> header;
  ASSERT_TRUE(testkit::read_wav(d / "out.wav", out, &header));
  EXPECT_EQ(static_cast<long>(out.frames()), made);
  const std::string bytes = testkit::read_file(d / "out.wav");
  const uint32_t data = uint32_t(header[40]) | uint32_t(header[41]) << 8 | uint32_t(header[42]) << 16 |
                        uint32_t(header[43]) << 24;
  EXPECT_EQ(bytes.size(), 44u + data);
}

// A FIFO is no longer read, so the command that does not come back is one
// writing to a terminal that takes nothing: the way out still ends the
// program, and says that the output could not be finished.
TEST(HardeningCli, AnOutputThatTakesNothingStillLetsTheProgramEnd) {
  Dir d;
  ASSERT_TRUE(testkit::write_wav(d / "in.wav", testkit::sine_wav(44100, 44100 * 4, {{440, 0.3}})));
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string terminal = ptsname(master);
  livekit::Yelm y;
  ASSERT_TRUE(y.start(d.path, false));
  y.send("fold " + terminal + " in.wav");
  EXPECT_TRUE(y.wait_for("audio I/O ok", 20000)) << y.text;
  y.pump(1500);
  kill(y.pid, SIGTERM);
  EXPECT_TRUE(y.wait_exit(20000)) << y.text;
  close(master);
  EXPECT_NE(y.text.find("stopped: the program is ending; '" + terminal + "' could not be finished.\n"),
            std::string::npos)
      << y.text;
  EXPECT_EQ(y.status, 0);
}

// Nobody reads the program's output any more: the console waits for ever
// to write its prompt, and so would the farewell and the last flush of the
// way out. A signal still ends the program, within the way out's bound.
TEST(HardeningCli, TheWayOutEndsTheProgramWhenNobodyReadsItsOutput) {
#ifdef __SANITIZE_THREAD__
  GTEST_SKIP() << "the thread sanitizer's _exit flushes standard output, which nobody reads here";
#endif
  Dir d;
  livekit::Yelm y;
  ASSERT_TRUE(y.start(d.path, false));
  ASSERT_TRUE(y.wait_for("yelm--scope$ ", 20000)) << y.text;
  // Some 100 KB of answers, more than the pipe holds; the test reads none.
  for (int i = 0; i < 80; ++i) y.send("help");
  sleep(2);
  kill(y.pid, SIGTERM);
  int st = 0;
  bool ended = false;
  for (int t = 0; t < 20000 && !ended; t += 50) {
    ended = waitpid(y.pid, &st, WNOHANG) == y.pid;
    if (!ended) usleep(50 * 1000);
  }
  ASSERT_TRUE(ended);
  y.pid = -1;
  EXPECT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0);
}

// A live step that never ends, or a pause of half a minute, would hold
// GuiMutex and keep mute from answering.
struct LiveAnswer {
  const char *setting, *command, *warning;
};

class HardeningLive : public ::testing::TestWithParam<LiveAnswer> {};

TEST_P(HardeningLive, MuteAnswersWithinAFewSeconds) {
  Dir d;
  d.fill();
  livekit::Yelm y;
  ASSERT_TRUE(y.start(d.path, false, true));
  y.send(GetParam().setting);
  y.send(GetParam().command);
  ASSERT_TRUE(y.wait_for("audio device started", 20000)) << y.text;
  EXPECT_NE(y.text.find(GetParam().warning), std::string::npos) << y.text;
  y.pump(1500);
  const size_t from = y.text.size();
  y.send("mute");
  ASSERT_TRUE(y.wait_for("stopping audio-capture...\n", 5000, from)) << y.text.substr(from);
  EXPECT_TRUE(y.wait_for("yelm--scope$ ", 5000, y.text.find("stopping audio-capture...\n", from)))
      << y.text.substr(from);
}

INSTANTIATE_TEST_SUITE_P(Caps, HardeningLive,
                         ::testing::Values(LiveAnswer{"set s.passes 1000000", "tfield",
                                                      "*** warning: passes 1000000 capped at 10\n"},
                                           LiveAnswer{"set transformdelay 300", "tstring",
                                                      "*** warning: transformdelay 300 capped at 10\n"}));
