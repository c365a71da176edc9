// Side files: only regular files of a bounded size are opened.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>

#include <string>
#include <vector>

#include "options/side_file.h"
#include "tests/support/testkit.h"

namespace {

struct SideFiles : ::testing::Test {
  std::string dir = testkit::make_temp_dir("side");
  std::string path(const char *n) { return dir + "/" + n; }
  SideFile open(const std::string &p, long max, std::string *said) {
    FILE *f = nullptr;
    testing::internal::CaptureStdout();
    SideFile r = open_side_file(p.c_str(), "r", max, "codebook", &f);
    *said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(f != nullptr, r == SideFile::Open);
    if (f) fclose(f);
    return r;
  }
};

TEST_F(SideFiles, OnlyRegularFilesWithinTheLimitOpen) {
  std::string said;
  testkit::write_file(path("cb.txt"), "0 5 6 1 1\n");
  EXPECT_EQ(open(path("cb.txt"), 10, &said), SideFile::Open);
  EXPECT_EQ(said, "");
  EXPECT_EQ(open(path("cb.txt"), 9, &said), SideFile::TooLarge);
  EXPECT_EQ(said, "*** warning: codebook '" + path("cb.txt") + "' is larger than 9 bytes, not read\n");
  EXPECT_EQ(open(path("none.txt"), 10, &said), SideFile::Missing);
  EXPECT_EQ(said, "");
  // A FIFO with no writer would block the open for ever; a sparse file of a
  // terabyte would take hours to read.
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0644), 0);
  ASSERT_EQ(truncate((testkit::write_file(path("huge"), ""), path("huge")).c_str(), 1L << 40), 0);
  for (const std::string &p : {std::string("/dev/zero"), path("fifo"), dir}) {
    EXPECT_EQ(open(p, 1L << 20, &said), SideFile::NotRegular) << p;
    EXPECT_EQ(said, "*** warning: codebook '" + p + "' is not a regular file, not read\n");
  }
  EXPECT_EQ(open(path("huge"), kCodebookFileMax, &said), SideFile::TooLarge);
}

// Whatever could wait for ever is refused without waiting: a FIFO (whether
// or not a reader holds its other end), a socket, a folder; a device only
// for reading (it never ends), while /dev/null takes an output.
TEST_F(SideFiles, OpenFileRefusesWhatCouldBlock) {
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0644), 0);
  const int reader = ::open(path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(mkfifo(path("lonely").c_str(), 0644), 0);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path("sock").c_str());
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  for (const std::string &p : {path("fifo"), path("lonely"), path("sock"), dir})
    for (const char *mode : {"rb", "w", "wb+"}) {
      FILE *f = reinterpret_cast<FILE *>(1);
      EXPECT_EQ(open_file(p.c_str(), mode, &f), SideFile::NotRegular) << p << " " << mode;
      EXPECT_EQ(f, nullptr);
    }
  FILE *f = nullptr;
  EXPECT_EQ(open_file("/dev/zero", "rb", &f), SideFile::NotRegular);
  ASSERT_EQ(open_file("/dev/null", "wb", &f), SideFile::Open);
  fclose(f);
  EXPECT_EQ(open_file(path("none").c_str(), "rb", &f), SideFile::Missing);
  EXPECT_EQ(errno, ENOENT);
  // A regular file opens as fopen would have opened it: truncated, and
  // blocking again.
  testkit::write_file(path("out"), "old text");
  ASSERT_EQ(open_file(path("out").c_str(), "wb+", &f), SideFile::Open);
  EXPECT_EQ(fcntl(fileno(f), F_GETFL) & O_NONBLOCK, 0);
  fputs("new", f);
  rewind(f);
  char back[8] = {};
  EXPECT_EQ(fread(back, 1, sizeof back, f), 3u);
  EXPECT_STREQ(back, "new");
  fclose(f);
  close(reader);
  close(sock);
}

// A NUL ended the text of a line longer than the buffer, and the "rest of
// the line" skipped was the next line: a surface file lost its block break.
TEST_F(SideFiles, LinesRunToTheirLineEndWhateverBytesTheyHold) {
  const std::string text = std::string("dim 5 5\0\n\ndim 7 7\n", 18) + std::string(30, 'x') + '\0' + "y\n" +
                           std::string("a\0b\nlast", 8);
  testkit::write_file(path("field"), text);
  FILE *f = fopen(path("field").c_str(), "r");
  ASSERT_NE(f, nullptr);
  char buf[16];
  std::vector<std::string> lines;
  while (read_side_line(f, buf, sizeof buf)) lines.push_back(buf);
  fclose(f);
  EXPECT_EQ(lines, (std::vector<std::string>{"dim 5 5 \n", "\n", "dim 7 7\n", std::string(15, 'x'), "a b\n", "last"}));
}

}  // namespace
