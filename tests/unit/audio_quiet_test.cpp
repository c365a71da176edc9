// Holding back standard error around the audio library, and device names.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "audio/devices.h"
#include "audio/quiet.h"
#include "tests/support/testkit.h"

namespace {

void say(const std::string &s) {
  ssize_t n = write(STDERR_FILENO, s.data(), s.size());
  (void)n;
}

// Runs body with standard error pointed at a file; returns what reached it.
template <typename Body>
std::string real_stderr(const std::string &path, Body body) {
  fflush(stderr);
  int saved = dup(STDERR_FILENO);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(fd, STDERR_FILENO);
  close(fd);
  body();
  fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  return testkit::read_file(path);
}

std::string shown(const QuietStderr &q, const std::string &path) {
  FILE *f = fopen(path.c_str(), "w+");
  q.show(f);
  fclose(f);
  return testkit::read_file(path);
}

}  // namespace

TEST(QuietStderr, HoldsBackOnlyBetweenBeginAndEndAndShowsAFewDistinctLines) {
  const std::string dir = testkit::make_temp_dir("quiet");
  QuietStderr q;
  std::string got = real_stderr(dir + "/err", [&] {
    say("before\n");
    ASSERT_TRUE(q.begin(false));
    say("lib: one\nlib: two\nlib: one\n\n   \nlib: three\r\n");
    fprintf(stderr, "lib: %s\n", std::string(300, 'x').c_str());
    say("lib: five\nlib: six\nlib: seven\nlib: no line end");
    q.end();
    say("after\n");
  });
  EXPECT_EQ(got, "before\nafter\n");
  // Repeats and blank lines dropped; four lines, a long one cut; the rest counted.
  const std::string cut = "    lib: " + std::string(QuietStderr::kLineChars - 4 - 5, 'x') + " ...\n";
  EXPECT_EQ(shown(q, dir + "/shown"),
            "    lib: one\n    lib: two\n    lib: three\n" + cut +
                "    (4 more lines held back; 'set audio.verbose 1' shows them all)\n");
  q.release();
  EXPECT_EQ(shown(q, dir + "/none"), "");
}

TEST(QuietStderr, ShowAllHoldsNothingBack) {
  const std::string dir = testkit::make_temp_dir("quiet");
  QuietStderr q;
  std::string got = real_stderr(dir + "/err", [&] {
    EXPECT_FALSE(q.begin(true));
    say("lib: as it comes\n");
    q.end();
  });
  EXPECT_EQ(got, "lib: as it comes\n");
  EXPECT_EQ(shown(q, dir + "/shown"), "");
}

TEST(DeviceNames, APartOfTheNameInAnyCase) {
  EXPECT_TRUE(device_name_matches("HDA Intel PCH: ALC892 Analog (hw:0,0)", "alc892"));
  EXPECT_TRUE(device_name_matches("HDA Intel PCH: ALC892 Analog (hw:0,0)", "HW:0,0)"));
  EXPECT_TRUE(device_name_matches("default", "DEFAULT"));
  EXPECT_TRUE(device_name_matches("default", ""));
  EXPECT_TRUE(device_name_matches("default", nullptr));
  EXPECT_FALSE(device_name_matches("default", "defaults"));
  EXPECT_FALSE(device_name_matches("pulse", "usb"));
  EXPECT_FALSE(device_name_matches(nullptr, "usb"));
}
