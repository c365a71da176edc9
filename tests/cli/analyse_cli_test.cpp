// The analyse command through the console: its argument rules, starts and
// stops, and the files a log must never overwrite.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "tests/support/testkit.h"

namespace {

const std::string kPrompt = "yelm--scope$ ";
const std::string kHeader = "analysis for display :%\nANALYSIS ONLY FOR C5 and IVIV\n";

std::string header(int slot) {
  std::string h = kHeader;
  return h.replace(h.find('%'), 1, std::to_string(slot));
}

// Output of one command: the text between its echoed line and the next prompt.
std::string reply(const std::string &out, const std::string &command, int nth = 1) {
  std::string marker = kPrompt + command + "\n";
  size_t p = 0;
  for (int i = 0; i < nth; ++i, p += marker.size())
    if ((p = out.find(marker, p)) == std::string::npos) return "<no such command in transcript>";
  size_t e = out.find(kPrompt, p);
  return out.substr(p, e == std::string::npos ? std::string::npos : e - p);
}

testkit::RunResult run(const std::string &dir, const std::string &input, bool card = false) {
  testkit::RunOptions o;
  o.cwd = dir;
  o.env = {{"DISPLAY", ""}};
  if (card)
    o.env.insert(o.env.end(), {{"ALSA_CONFIG_PATH", std::string(YELM_SOURCE_DIR) + "/tests/support/asound.conf"},
                               {"VSND_IN", "/dev/zero"},
                               {"VSND_OUT", "/dev/null"}});
  return testkit::run_yelm(input, o);
}

}  // namespace

TEST(AnalyseCli, ArgumentsStartsAndStops) {
  const std::string dir = testkit::make_temp_dir("analyse-cli");
  mkdir((dir + "/folder").c_str(), 0755);
  auto r = run(dir,
               "analyse :2\nanalyse 2 x.log\nanalyse :4 x.log\nanalyse :-2 x.log\nanalyse :1x x.log\n"
               "analyse :0 a.log\nanalyse :0 b.log\nanalyse :1 folder\nanalyse :1 no/x.log\nanalyse :3 b.log\nanalyse :3 c.log\n"
               "analyse :-1 any\nanalyse\nanalyse :1 c.log\nmute\nanalyse :2 d.log\nexit\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(reply(r.out, "analyse :2"), "you must supply a filename\n");
  EXPECT_EQ(reply(r.out, "analyse 2 x.log"), "you must supply a display\n");
  for (const char *bad : {"analyse :4 x.log", "analyse :-2 x.log", "analyse :1x x.log"})
    EXPECT_EQ(reply(r.out, bad), "display index not valid (display: 0,1,2,3)\n") << bad;
  EXPECT_FALSE(testkit::file_exists(dir + "/x.log"));
  EXPECT_EQ(reply(r.out, "analyse :0 a.log"), header(0) + "starting analysis and log to 'a.log'\n");
  // A second start on the same display closes the first file before the next.
  EXPECT_EQ(reply(r.out, "analyse :0 b.log"), header(0) + " +analysis done.\nstarting analysis and log to 'b.log'\n");
  EXPECT_EQ(reply(r.out, "analyse :1 folder"), header(1) + "'folder': not a regular file. aborting.\n");
  EXPECT_EQ(reply(r.out, "analyse :1 no/x.log"), header(1) + "log file not valid.\n");
  // Display 0 writes b.log: display 3 may not truncate it.
  EXPECT_EQ(reply(r.out, "analyse :3 b.log"), "log file 'b.log' is the log of display :0. analysis not started.\n");
  EXPECT_EQ(reply(r.out, "analyse :3 c.log"), header(3) + "starting analysis and log to 'c.log'\n");
  // Display -1 with a name stops all, like the word alone.
  EXPECT_EQ(reply(r.out, "analyse :-1 any"), "stopping analysis (all displays)\n +analysis done.\n +analysis done.\n");
  EXPECT_FALSE(testkit::file_exists(dir + "/any"));
  EXPECT_EQ(reply(r.out, "analyse"), "stopping analysis (all displays)\n");
  EXPECT_EQ(reply(r.out, "mute"), "stopping audio-capture...\n +analysis done.\n");
  // exit closes a log that is still open.
  EXPECT_EQ(reply(r.out, "exit"), "byebye ... \n\n +analysis done.\nexit.\n");
  for (const char *f : {"a.log", "b.log", "c.log", "d.log"}) EXPECT_TRUE(testkit::file_exists(dir + "/" + f)) << f;
}

TEST(AnalyseCli, NeverOverwritesThePlayedFileAndClosesAtEndOfInput) {
  const std::string dir = testkit::make_temp_dir("analyse-cli-played");
  ASSERT_TRUE(testkit::write_wav(dir + "/tune.wav", testkit::sine_wav(44100, 8192, {{440, 0.3}})));
  const std::string wav = testkit::read_file(dir + "/tune.wav");
  ASSERT_EQ(symlink("tune.wav", (dir + "/link.wav").c_str()), 0);
  // No exit: the console ends at the end of its input with a log open.
  auto r = run(dir, "plot tune.wav\nanalyse :1 link.wav\nanalyse :2 ./tune.wav\nanalyse :2 l.log\n", true);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(reply(r.out, "analyse :1 link.wav"), "log file 'link.wav' is the file being played. analysis not started.\n");
  EXPECT_EQ(reply(r.out, "analyse :2 ./tune.wav"),
            "log file './tune.wav' is the file being played. analysis not started.\n");
  EXPECT_EQ(testkit::read_file(dir + "/tune.wav"), wav);
  EXPECT_EQ(reply(r.out, "analyse :2 l.log"), header(2) + "starting analysis and log to 'l.log'\n");
  // End of input stops the input (its bell) and then closes the log.
  const std::string tail = r.out.substr(r.out.rfind(kPrompt));
  EXPECT_EQ(tail, kPrompt + "\a +analysis done.\n") << tail;
}
