// Analysis logs on their own: the semitone score, the line formats, the line
// limit, and starts and stops racing a writer.
#include "analysis/analysis_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/testkit.h"

namespace {

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// The comb written out term by term: thirteen peaks at 2^(j/12) - 1.
double direct_score(const std::vector<double> &m, int a, int b, double scale) {
  double s = 0;
  for (int k = a; k <= b; ++k) {
    double x = b > a ? static_cast<double>(k - a) / (b - a) : 0, g = 0;
    for (int j = 0; j <= 12; ++j) g += std::exp(-5000 * std::pow(x + 1 - std::pow(2.0, j / 12.0), 2));
    s += (1 - std::exp(-0.2 * scale * m[k])) * g;
  }
  return s;
}

class Log : public ::testing::Test {
 protected:
  void SetUp() override { dir = testkit::make_temp_dir("analysis-log"); }
  void TearDown() override { stop_analysis_log(log); }
  std::string start(const std::string &name, int slot = 1) {
    testing::internal::CaptureStdout();
    start_analysis_log(log, slot, (dir + "/" + name).c_str());
    return testing::internal::GetCapturedStdout();
  }
  AnalysisLog log;
  std::string dir;
};

}  // namespace

TEST(SemitoneScore, MatchesTheCombEvaluatedDirectly) {
  std::vector<double> row(257, 0.0);
  for (int k = 0; k < 257; ++k) row[k] = 0.5 + std::fabs(std::sin(k * 0.7)) * 8;
  // One octave from the default tuning bin, a wide one, a one-bin one.
  for (auto ab : {std::pair<int, int>{5, 10}, {24, 48}, {60, 120}, {7, 7}}) {
    for (double scale : {1.0, 0.3}) {
      const double want = direct_score(row, ab.first, ab.second, scale);
      EXPECT_NEAR(semitone_score(row.data(), ab.first, ab.second, scale), want, 1e-9 * (1 + want))
          << ab.first << ".." << ab.second << " scale " << scale;
    }
  }
  // An octave of twelve bins puts every bin near a semitone: a flat row
  // scores far higher there than over a thirteen-bin one.
  std::vector<double> flat(257, 10.0);
  EXPECT_GT(semitone_score(flat.data(), 12, 24, 1), 2 * semitone_score(flat.data(), 13, 26, 1));
  EXPECT_EQ(semitone_score(row.data(), 11, 10, 1), 0.0);
}

// Shapes and times of whole runs are checked end to end; here, what the
// writers do with and without a file.
TEST_F(Log, EachLineIsInTheFileByTheStopAndNoneAfterIt) {
  start("a.log");
  std::vector<double> row(256, 3.0);
  log_c5_frame(log, row.data(), 5, 10, 1.0);
  log_iviv_pair(log, 7, 5, 0.25, 1.5, 1.5, 1.0);
  EXPECT_EQ(log.lines.load(), 2);
  testing::internal::CaptureStdout();
  stop_analysis_log(log);
  stop_analysis_log(log);  // nothing open: nothing said
  EXPECT_EQ(testing::internal::GetCapturedStdout(), " +analysis done.\n");
  std::vector<std::string> l = lines_of(testkit::read_file(dir + "/a.log"));
  ASSERT_EQ(l.size(), 2u);
  char score[32];
  snprintf(score, sizeof score, "%f", semitone_score(row.data(), 5, 10, 1.0));
  EXPECT_EQ(l[0].substr(l[0].find(' ') + 1), score);
  EXPECT_EQ(l[1].substr(l[1].find(' ') + 1), "7 5 0.250000 1.500000 1.500000 1.000000");
  log_c5_frame(log, row.data(), 5, 10, 1.0);
  EXPECT_EQ(lines_of(testkit::read_file(dir + "/a.log")).size(), 2u);
}

// Lines made faster than the file takes them are dropped, and count: the
// limit is the session's length.
TEST_F(Log, StopsAtTheLineLimitAndCountsAfreshAfterANewStart) {
  start("big.log");
  for (int i = 0; i < kMaxLogLines - 1; ++i) log_iviv_pair(log, 5, 7, 1, 1, 1, 1.5);
  EXPECT_TRUE(log.wants_lines());
  testing::internal::CaptureStdout();
  log_iviv_pair(log, 5, 7, 1, 1, 1, 1.5);
  EXPECT_FALSE(log.wants_lines());
  log_iviv_pair(log, 5, 7, 1, 1, 1, 1.5);  // the file is closing: written nowhere
  stop_analysis_log(log);
  const std::string said = testing::internal::GetCapturedStdout();
  EXPECT_EQ(said.rfind("max. analysis filesize reached. stopping.\n +analysis done.\n", 0), 0u) << said;
  EXPECT_EQ(testkit::count(said, "+analysis done."), 1);
  long dropped = 0;
  const size_t at = said.find("*** warning: ");
  if (at != std::string::npos) dropped = atol(said.c_str() + at + 13);
  EXPECT_EQ(testkit::count(testkit::read_file(dir + "/big.log"), "\n") + dropped, kMaxLogLines) << said;

  // A new start, even into the same file, counts from 0.
  EXPECT_EQ(testkit::count(start("big.log"), "starting analysis"), 1);
  EXPECT_EQ(log.lines.load(), 0);
  EXPECT_TRUE(log.wants_lines());
  log_iviv_pair(log, 5, 7, 1, 1, 1, 1.5);
  stop_analysis_log(log);
  EXPECT_EQ(testkit::count(testkit::read_file(dir + "/big.log"), "\n"), 1);
}

// A terminal nobody reads takes a few lines, then none: the frames that make
// lines never wait, the stop waits only a moment, and every line is either
// in the terminal or counted as dropped.
TEST_F(Log, ATerminalThatTakesNothingDropsLinesAndSaysHowMany) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string terminal = ptsname(master);
  testing::internal::CaptureStdout();
  start_analysis_log(log, 0, terminal.c_str());
  const int offered = 40000;
  for (int i = 0; i < offered; ++i) log_iviv_pair(log, 10, 15, 0.5, 0.25, 2, 3);
  stop_analysis_log(log);
  const std::string said = testing::internal::GetCapturedStdout();
  const std::string mark = "*** warning: ";
  const size_t at = said.find(mark);
  ASSERT_NE(at, std::string::npos) << said;
  const long dropped = atol(said.c_str() + at + mark.size());
  EXPECT_NE(said.find(" lines dropped from analysis log '" + terminal + "'\n", at), std::string::npos) << said;
  std::string got;
  char buf[4096];
  for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) got.append(buf, n);
  close(master);
  EXPECT_GT(dropped, 0);
  EXPECT_EQ(testkit::count(got, "\n") + dropped, offered);
}

// The console restarts a log while the GUI thread writes to it: every file
// holds whole lines only.
TEST_F(Log, StartsAndStopsWhileLinesAreWritten) {
  std::atomic<bool> done{false};
  testing::internal::CaptureStdout();
  std::thread writer([&] {
    while (!done.load())
      if (log.wants_lines()) log_iviv_pair(log, 10, 15, 0.5, 0.25, 2.0, 3.0);
  });
  for (int i = 0; i < 200; ++i) {
    start_analysis_log(log, 0, (dir + "/r" + std::to_string(i % 3) + ".log").c_str());
    if (i % 7 == 0) stop_analysis_log(log);
  }
  stop_analysis_log(log);
  done = true;
  writer.join();
  testing::internal::GetCapturedStdout();
  for (int f = 0; f < 3; ++f) {
    const std::string text = testkit::read_file(dir + "/r" + std::to_string(f) + ".log");
    ASSERT_TRUE(text.empty() || text.back() == '\n');
    for (const std::string &l : lines_of(text)) {
      ASSERT_EQ(l.substr(l.find(' ') + 1), "10 15 0.500000 0.250000 2.000000 3.000000") << f;
    }
  }
}

// The disk fills in the middle of a line: the part it took is taken back.
TEST_F(Log, AFullDiskLeavesNoHalfLine) {
  const std::string name = dir + "/full.log";
  const int status = testkit::with_file_size_limit(1000, [&] {
    start_analysis_log(log, 0, name.c_str());
    for (int i = 0; i < 100; ++i) log_iviv_pair(log, 10, 15, 0.5, 0.25, 2, 3);
    stop_analysis_log(log);
  });
  ASSERT_EQ(status, 0);
  const std::string text = testkit::read_file(name);
  ASSERT_GT(text.size(), 900u);
  ASSERT_LE(text.size(), 1000u);
  EXPECT_EQ(text.back(), '\n');
  for (const std::string &l : lines_of(text)) EXPECT_EQ(l.substr(l.find(' ') + 1), "10 15 0.500000 0.250000 2.000000 3.000000");
}

TEST_F(Log, AFileThatCannotBeWrittenStopsTheLog) {
  testing::internal::CaptureStdout();
  start_analysis_log(log, 0, "/dev/full");
  std::vector<double> row(256, 1.0);
  log_c5_frame(log, row.data(), 5, 10, 1.0);
  // The log's writer finds out, a moment later.
  for (int i = 0; i < 500 && log.wants_lines(); ++i) usleep(10 * 1000);
  EXPECT_FALSE(log.wants_lines());
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("*** warning: analysis log cannot be written (No space left on device). stopping.\n"
                     " +analysis done.\n"),
            std::string::npos)
      << out;
}
