// The console as a user meets it: prompt, help, history, set, exit.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/testkit.h"

namespace {

const std::string kPrompt = "yelm--scope$ ";

// Output of one command: the text between its echoed line and the next prompt.
std::string reply(const std::string &out, const std::string &command) {
  std::string marker = kPrompt + command + "\n";
  size_t p = out.find(marker);
  if (p == std::string::npos) return "<no such command in transcript>";
  p += marker.size();
  size_t e = out.find(kPrompt, p);
  return out.substr(p, e == std::string::npos ? std::string::npos : e - p);
}

testkit::RunResult run(const std::string &input, const std::string &rc = "") {
  testkit::RunOptions o;
  o.cwd = testkit::make_temp_dir("console");
  o.env = {{"DISPLAY", ""}};
  if (!rc.empty()) testkit::write_file(o.cwd + "/.yelmrc", rc);
  return testkit::run_yelm(input, o);
}

TEST(Console, HelpListsAllRowsOneOrNone) {
  auto r = run("help\nhelp fold\nhelp nosuch\nhelp mute\nexit\n");
  std::string all = reply(r.out, "help");
  EXPECT_EQ(testkit::count(all, "  - "), 14);
  const std::string first =
      "         set  - set global or display specific options\n"
      "              enter 'set KNOWN' for an overview\n";
  EXPECT_EQ(all.substr(0, first.size()), first);
  EXPECT_LT(all.find("        plot  -"), all.find("        mute  -"));
  EXPECT_LT(all.find("     unfold  -"), all.find("        exit  -"));
  EXPECT_EQ(reply(r.out, "help fold"),
            "        fold  - fold <outfile> <infile>\n"
            "              music transform using rhythm folding (rIVIV algorithm)\n");
  EXPECT_EQ(reply(r.out, "help nosuch"), "");
  EXPECT_EQ(reply(r.out, "help mute"), "        mute  - stop audio acquisition now\n");
}

TEST(Console, HistoryNumbersFromZeroAndSkipsEmptyLines) {
  auto r = run("history\n\nset a 1\nhistory\nexit\n");
  EXPECT_EQ(reply(r.out, "history"), "0: history\r\n");
  std::string second = r.out.substr(r.out.rfind(kPrompt + "history\n"));
  EXPECT_NE(second.find("0: history\r\n1: set a 1\r\n2: history\r\n"), std::string::npos);
}

TEST(Console, PrefixMatchingAndUnknownCommands) {
  auto r = run("settings\n set\nhelpme\nxyz\nexit\n");
  EXPECT_NE(reply(r.out, "settings").find("DISPLAY\t    OPTION\tVALUE\n"), std::string::npos);
  EXPECT_EQ(reply(r.out, " set"), "unknown command?\n");
  EXPECT_EQ(testkit::count(reply(r.out, "helpme"), "  - "), 14);  // no filter
  EXPECT_EQ(reply(r.out, "xyz"), "unknown command?\n");
}

TEST(Console, SetStoresListsAndQueries) {
  auto r = run("set :2 style fft\nset tuna 432\nset tuna\nset :2 style\nset nothing\nset :1 SLICE\n"
               "set SLICE\nset :7 x 1\nset\nexit\n");
  EXPECT_EQ(reply(r.out, "set tuna"), "tuna -> 432\n");
  EXPECT_EQ(reply(r.out, "set :2 style"), "style -> fft\n");
  EXPECT_EQ(reply(r.out, "set nothing"), "not found 'nothing'\nnothing -> (null)\n");
  EXPECT_EQ(reply(r.out, "set :1 SLICE"), "SLICE Freq (Hz):  -1.00\n");
  EXPECT_EQ(reply(r.out, "set SLICE"), "please, specify display (set :? SLICE)\n");
  EXPECT_EQ(reply(r.out, "set :7 x 1"), "unknown display :7\n");
  std::string listing = reply(r.out, "set");
  EXPECT_NE(listing.find(":*\t   VERSION\tv1.9-jan-2010\n:*\t      tuna\t432\n:2\t     style\tfft\n"),
            std::string::npos)
      << listing;
}

TEST(Console, SettingsFileAliasesAndErrors) {
  auto r = run("set cut\nset lp.x 3\nset :1 style\nexit\n",
               "KNOWN +lp.f=cut +lp.r +style\nlp.f 800\n:1 style   fft\nbroken\nlate 1\n");
  EXPECT_NE(r.out.find(".yelmrc had errors.\n"), std::string::npos);
  EXPECT_EQ(reply(r.out, "set cut"), "cut -> 800\n");
  EXPECT_EQ(reply(r.out, "set lp.x 3"), "warning: 'lp.x' could be an unknown option (see option KNOWN)\n");
  EXPECT_EQ(reply(r.out, "set :1 style"), "style ->   fft\n");
  EXPECT_EQ(r.out.find("late"), std::string::npos);
}

TEST(Console, ExitEndsOrderlyButEndOfInputDoesNot) {
  auto a = run("exit\n");
  EXPECT_EQ(a.status, 0);
  EXPECT_NE(a.out.find(kPrompt + "exit\nbyebye ... \n\nexit.\n"), std::string::npos);
  EXPECT_EQ(a.out.find("Exit via close button"), std::string::npos);
  auto b = run("set a 1\n");
  EXPECT_EQ(b.status, 1);
  EXPECT_EQ(b.out.find("byebye"), std::string::npos);
  EXPECT_EQ(b.out.find("exit."), std::string::npos);
}

TEST(Console, DemoWithoutADisplayKeepsTheConsoleWithOneWarning) {
  testkit::RunOptions o;
  o.cwd = testkit::make_temp_dir("console");
  o.env = {{"DISPLAY", ""},
           {"ALSA_CONFIG_PATH", std::string(YELM_SOURCE_DIR) + "/tests/support/asound.conf"},
           {"VSND_IN", "/dev/zero"},
           {"VSND_OUT", "/dev/null"}};
  testkit::write_file(o.cwd + "/.yelmrc", "demo 2\n");
  testkit::write_file(o.cwd + "/field", "dim 6 4\nin 1 1\n");
  auto r = testkit::run_yelm("exit\n", o);
  // tfield ran live before the prompt, and the console still reads commands.
  EXPECT_NE(r.out.find("---------- reading configuration for live transform\ncrystal #0: dim(6 4)"),
            std::string::npos)
      << r.out;
  EXPECT_LT(r.out.find("audio: reset & capture from device..\n"), r.out.find(kPrompt));
  EXPECT_EQ(testkit::count(r.out, "*** warning"), 1) << r.out;
  EXPECT_NE(r.out.find("*** warning: no window (DISPLAY is not set)"), std::string::npos);
  // The way out stops the running capture (its bell) before "exit.".
  EXPECT_NE(r.out.find(kPrompt + "exit\nbyebye ... \n\n\aexit.\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.status, 0);
}

TEST(Console, BannerComesBeforeTheFirstPrompt) {
  auto r = run("exit\n");
  size_t prompt = r.out.find(kPrompt);
  ASSERT_NE(prompt, std::string::npos);
  EXPECT_NE(r.out.substr(0, prompt).find("yelm v1.9-jan-2010"), std::string::npos);
}

}  // namespace
