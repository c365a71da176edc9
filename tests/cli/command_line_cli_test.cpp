// The program's own command-line options: they answer and end before the
// console starts.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/testkit.h"

namespace {

testkit::RunResult run_with(const std::vector<std::string> &args) {
  testkit::RunOptions opts;
  opts.args = args;
  opts.env = {{"DISPLAY", ""}};
  // A console that started would read this and say so.
  return testkit::run_yelm("help\nexit\n", opts);
}

std::string first_line(const std::string &s) { return s.substr(0, s.find('\n')); }

}  // namespace

TEST(CommandLine, HelpSaysWhatTheProgramNeedsAndStartsNoConsole) {
  for (const char *flag : {"--help", "-h"}) {
    testkit::RunResult r = run_with({flag});
    EXPECT_EQ(r.status, 0) << flag;
    EXPECT_EQ(first_line(r.out), "usage: yelm [--help | --version]") << r.out;
    EXPECT_NE(r.out.find(".yelmrc in the working folder"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("a display (DISPLAY"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("a sound card for 'plot'"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("type 'help' there"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("helps helpers helping"), std::string::npos) << "the console started";
    EXPECT_EQ(r.err, "");
  }
}

TEST(CommandLine, VersionPrintsTheVersionLineOnly) {
  testkit::RunResult r = run_with({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "yelm v1.9-jan-2010\n");
  EXPECT_EQ(r.err, "");
}

TEST(CommandLine, AnythingElseIsOneLineOfErrorAndStatusTwo) {
  struct Case {
    std::vector<std::string> args;
    const char *err;
  } cases[] = {
      {{"--bogus"}, "yelm: unknown option '--bogus' (try 'yelm --help')\n"},
      {{"-x"}, "yelm: unknown option '-x' (try 'yelm --help')\n"},
      {{"song.wav"}, "yelm: unexpected argument 'song.wav' (try 'yelm --help')\n"},
      // A bad option is refused even beside a good one.
      {{"--help", "--bogus"}, "yelm: unknown option '--bogus' (try 'yelm --help')\n"},
  };
  for (const Case &c : cases) {
    testkit::RunResult r = run_with(c.args);
    EXPECT_EQ(r.status, 2) << c.args[0];
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "") << c.args[0];
  }
}
