// fold through the console: files, headers, messages, refusals, sox.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/testkit.h"

namespace {

struct FoldCli : ::testing::Test {
  std::string dir = testkit::make_temp_dir("foldcli");
  testkit::RunResult run(const std::string &cmds) {
    testkit::RunOptions o;
    o.cwd = dir;
    o.env = {{"DISPLAY", ""}};
    return testkit::run_yelm(cmds + "exit\n", o);
  }
};

TEST_F(FoldCli, OutputHasTheInputsHeaderAndLength) {
  testkit::Wav w = testkit::sine_wav(44100, 512 * 20 + 77, {{110, 0.3}, {440, 0.3}});
  testkit::write_wav(dir + "/in.wav", w);
  auto r = run("fold out.wav in.wav\n");
  EXPECT_NE(r.out.find("not found 'f.beat'\nnot found 'f.bass'\nnot found 'f.key'\nnot found 'f.depth'\n"
                       "not found 'f.scale'\n"),
            std::string::npos);
  EXPECT_NE(r.out.find(" in:in.wav | out:out.wav | beat:0.2 sec | bassline:110 Hz\n"
                       " invariant_key: 440 Hz | depth: 9 | scale: 0.5\n"
                       "---------- reading input .wav\nsamplerate: 44100\nbits/sample: 16\nstereo wave\n"
                       "audio I/O ok\n+n2beat: 34     +ndepth: 512\n+invariant band [5,10]\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(std::string(20, '.') + "[.]\n\n---------- processed 0.2322 sec\n"), std::string::npos);
  testkit::Wav got;
  std::vector<unsigned char> h_in, h_out;
  testkit::Wav dummy;
  testkit::read_wav(dir + "/in.wav", dummy, &h_in);
  ASSERT_TRUE(testkit::read_wav(dir + "/out.wav", got, &h_out));
  EXPECT_EQ(h_in, h_out);
  EXPECT_EQ(got.samples.size(), w.samples.size());
  // The 77 frames after the last whole block are copied through (mono mean).
  for (size_t i = w.samples.size() - 2 * 77; i < w.samples.size(); ++i)
    EXPECT_NEAR(got.samples[i], w.samples[i], 1);
}

TEST_F(FoldCli, ShortInputIsCopiedThrough) {
  testkit::Wav w = testkit::sine_wav(22050, 300, {{440, 0.5}}, 1);
  testkit::write_wav(dir + "/s.wav", w);
  auto r = run("fold o.wav s.wav\n");
  EXPECT_NE(r.out.find("[.]\n\n---------- processed 0 sec\n"), std::string::npos);
  testkit::Wav got;
  ASSERT_TRUE(testkit::read_wav(dir + "/o.wav", got));
  ASSERT_EQ(got.samples.size(), w.samples.size());
  for (size_t i = 0; i < w.samples.size(); ++i) EXPECT_NEAR(got.samples[i], w.samples[i], 1) << i;
}

TEST_F(FoldCli, SameFileIsRefusedAndLeftUntouched) {
  testkit::write_wav(dir + "/a.wav", testkit::sine_wav(44100, 4000, {{440, 0.5}}));
  ASSERT_EQ(symlink("a.wav", (dir + "/l.wav").c_str()), 0);
  std::string before = testkit::read_file(dir + "/a.wav");
  auto r = run("fold a.wav a.wav\nfold ./a.wav a.wav\nfold l.wav a.wav\nfold a.wav l.wav\n");
  EXPECT_EQ(testkit::count(r.out, "is the same file as an input. aborting.\n"), 4);
  EXPECT_EQ(testkit::read_file(dir + "/a.wav"), before);
  EXPECT_EQ(r.status, 0);
}

TEST_F(FoldCli, BadArgumentsAndFilesKeepTheConsoleGoing) {
  testkit::write_file(dir + "/empty.wav", "");
  testkit::write_file(dir + "/junk.wav", std::string(100, 'x'));
  testkit::write_file(dir + "/trunc.wav", "RIFF\x10\0\0\0WAVE");
  ASSERT_EQ(mkdir((dir + "/folder").c_str(), 0755), 0);
  testkit::write_wav(dir + "/ok.wav", testkit::sine_wav(44100, 2000, {{440, 0.5}}));
  std::string long_name(60, 'n');
  auto r = run("fold\nfold o.wav\nfold o.wav missing.wav\nfold o.wav empty.wav\nfold o.wav junk.wav\n"
               "fold o.wav trunc.wav\nfold o.wav folder\nfold no/such/dir/o.wav ok.wav\nfold " + long_name +
               " ok.wav\n");
  EXPECT_NE(r.out.find("fold output  .wav file  missing\n"), std::string::npos);
  EXPECT_NE(r.out.find("fold input   .wav file  missing\n"), std::string::npos);
  EXPECT_EQ(testkit::count(r.out, "arguments not ok\n"), 1);
  EXPECT_EQ(testkit::count(r.out, "not a valid WAV file. aborting.\n"), 2);
  EXPECT_EQ(testkit::count(r.out, "'folder': not a regular file. aborting.\n"), 1);
  EXPECT_EQ(testkit::count(r.out, "'junk.wav': not a sound file of a known format. aborting.\n"), 1);
  EXPECT_NE(r.out.find("cannot create output file 'no/such/dir/o.wav'. aborting.\n"), std::string::npos);
  EXPECT_NE(r.out.find("fold  parameter too big [" + long_name + "]\n"), std::string::npos);
  EXPECT_FALSE(testkit::file_exists(dir + "/o.wav"));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("exit.\n"), std::string::npos);
}

TEST_F(FoldCli, OptionsComeFromTheStore) {
  testkit::write_wav(dir + "/in.wav", testkit::sine_wav(44100, 2048, {{440, 0.5}}));
  auto r = run("set f.beat 0.001\nset f.key 15000\nset f.depth x\nfold o.wav in.wav\n");
  EXPECT_NE(r.out.find("beat:0.001 sec"), std::string::npos);
  EXPECT_NE(r.out.find("depth: 0 |"), std::string::npos);  // text that is no number reads as 0
  EXPECT_NE(r.out.find("fold depth 0 out of range (1..20). aborting.\n"), std::string::npos);
  auto r2 = run("set f.beat 0.001\nset f.key 15000\nfold o.wav in.wav\n");
  EXPECT_NE(r2.out.find("+n2beat: 1     +ndepth: 512\n+invariant band [174,255]\n"), std::string::npos);
}

TEST_F(FoldCli, SoxReadsTheOutputWithoutComplaint) {
  if (system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
  testkit::write_wav(dir + "/in.wav", testkit::sine_wav(44100, 512 * 30 + 5, {{220, 0.3}, {330, 0.3}}));
  testkit::write_wav(dir + "/m.wav", testkit::sine_wav(22050, 512 * 9, {{220, 0.3}}, 1));
  run("fold out.wav in.wav\nfold outm.wav m.wav\n");
  for (const char *f : {"out.wav", "outm.wav"}) {
    std::string cmd = "cd '" + dir + "' && sox " + f + " -n stat 2> sox.txt";
    EXPECT_EQ(system(cmd.c_str()), 0) << f;
    std::string report = testkit::read_file(dir + "/sox.txt");
    EXPECT_EQ(report.find("WARN"), std::string::npos) << report;
    EXPECT_EQ(report.find("FAIL"), std::string::npos) << report;
    EXPECT_NE(report.find("Samples read"), std::string::npos) << report;
  }
}

}  // namespace
