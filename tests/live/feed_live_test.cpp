// The live input end to end: the real program on the file-backed sound card
// (tests/support/asound.conf). Its capture plays $VSND_IN and its playback
// records into $VSND_OUT, both raw float stereo. The card is not paced: it
// runs many times faster than real time, so these tests count frames.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/testkit.h"

extern char **environ;

namespace {

const std::string kCardConfig = std::string(YELM_SOURCE_DIR) + "/tests/support/asound.conf";

// The program with a console we can type into while it runs.
struct LiveYelm {
  pid_t pid = -1;
  int in_fd = -1, out_fd = -1, err_fd = -1;
  std::string out, err;
  int status = -1;

  bool start(const std::string &cwd, const std::vector<std::pair<std::string, std::string>> &env) {
    int in_p[2], out_p[2], err_p[2];
    if (pipe(in_p) || pipe(out_p) || pipe(err_p)) return false;
    std::vector<std::string> vars;
    for (char **e = environ; *e; ++e) {
      std::string kv = *e;
      bool replaced = false;
      for (auto &p : env)
        if (kv.compare(0, p.first.size() + 1, p.first + "=") == 0) replaced = true;
      if (!replaced) vars.push_back(kv);
    }
    for (auto &p : env) vars.push_back(p.first + "=" + p.second);
    std::vector<char *> envp;
    for (auto &s : vars) envp.push_back(const_cast<char *>(s.c_str()));
    envp.push_back(nullptr);
    std::string bin = testkit::yelm_binary();
    pid = fork();
    if (pid == 0) {
      dup2(in_p[0], 0);
      dup2(out_p[1], 1);
      dup2(err_p[1], 2);
      close(in_p[1]);
      close(out_p[0]);
      close(err_p[0]);
      if (chdir(cwd.c_str()) != 0) _exit(126);
      char *argv[] = {const_cast<char *>(bin.c_str()), nullptr};
      execve(bin.c_str(), argv, envp.data());
      _exit(127);
    }
    close(in_p[0]);
    close(out_p[1]);
    close(err_p[1]);
    in_fd = in_p[1];
    out_fd = out_p[0];
    err_fd = err_p[0];
    signal(SIGPIPE, SIG_IGN);
    return pid > 0;
  }
  void send(const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = write(in_fd, text.data() + done, text.size() - done);
      if (n <= 0) return;
      done += n;
    }
  }
  // Reads what is there for up to ms milliseconds; false once both pipes are closed.
  bool pump(int ms) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    int nfds = 0;
    pollfd live[2];
    for (auto &f : fds)
      if (f.fd >= 0) live[nfds++] = f;
    if (nfds == 0) return false;
    if (poll(live, nfds, ms) <= 0) return true;
    char buf[65536];
    for (int i = 0; i < nfds; ++i) {
      if (!(live[i].revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = read(live[i].fd, buf, sizeof buf);
      std::string &dest = live[i].fd == out_fd ? out : err;
      int &fd = live[i].fd == out_fd ? out_fd : err_fd;
      if (n > 0) {
        dest.append(buf, n);
      } else {
        close(fd);
        fd = -1;
      }
    }
    return true;
  }
  // Waits until standard output holds `times` copies of needle.
  bool wait_for(const std::string &needle, int times = 1, int timeout_s = 60) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    while (testkit::count(out, needle) < times) {
      if (std::chrono::steady_clock::now() > end || !pump(50)) return testkit::count(out, needle) >= times;
    }
    return true;
  }
  int finish(int timeout_s = 60) {
    close(in_fd);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    while (pump(50))
      if (std::chrono::steady_clock::now() > end) {
        kill(pid, SIGKILL);
        break;
      }
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

std::vector<float> read_floats(const std::string &path) {
  std::string bytes = testkit::read_file(path);
  std::vector<float> v(bytes.size() / sizeof(float));
  if (!v.empty()) memcpy(v.data(), bytes.data(), v.size() * sizeof(float));
  return v;
}

bool write_floats(const std::string &path, const std::vector<float> &v) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char *>(v.data()), v.size() * sizeof(float));
  return static_cast<bool>(f);
}

// Left and right differ, and no frame is silent, so the start is easy to find.
int16_t left_sample(int t) { return static_cast<int16_t>(1000 + (t * 37) % 20000); }
int16_t right_sample(int t) { return static_cast<int16_t>(-1000 - (t * 53) % 20000); }

testkit::Wav pattern_wav(int frames) {
  testkit::Wav w;
  for (int t = 0; t < frames; ++t) {
    w.samples.push_back(left_sample(t));
    w.samples.push_back(right_sample(t));
  }
  return w;
}

float played(int16_t s) { return static_cast<float>(s * static_cast<double>(1.0f / 32767.0f)); }

// First stereo frame that is not silent, or -1.
long first_sound(const std::vector<float> &rec) {
  for (size_t f = 0; 2 * f + 1 < rec.size(); ++f)
    if (rec[2 * f] != 0.f || rec[2 * f + 1] != 0.f) return static_cast<long>(f);
  return -1;
}

// Last stereo frame that is not silent, or -1.
long last_sound(const std::vector<float> &rec) {
  for (long f = static_cast<long>(rec.size() / 2) - 1; f >= 0; --f)
    if (rec[2 * f] != 0.f || rec[2 * f + 1] != 0.f) return f;
  return -1;
}

// Waits until the playback file holds at least `frames` stereo frames.
bool wait_for_played(LiveYelm &y, const std::string &path, long frames) {
  // Short polls: the card runs hundreds of times faster than real time.
  for (int n = 0; n < 5000; ++n) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && st.st_size >= 8 * frames) return true;
    y.pump(2);
  }
  return false;
}

class FeedLive : public ::testing::Test {
 protected:
  void SetUp() override { dir = testkit::make_temp_dir("feed-live"); }
  std::vector<std::pair<std::string, std::string>> card(const std::string &in, const std::string &out,
                                                        const std::string &config = kCardConfig) {
    return {{"ALSA_CONFIG_PATH", config}, {"VSND_IN", in}, {"VSND_OUT", out}};
  }
  std::string dir;
};

}  // namespace

TEST_F(FeedLive, PlaysAFileToTheCardAndStopsAtItsEndWithTheBell) {
  const int frames = 22050;  // 88200 data bytes: 21 whole blocks of 1024 frames
  ASSERT_TRUE(testkit::write_wav(dir + "/tune.wav", pattern_wav(frames)));
  LiveYelm y;
  ASSERT_TRUE(y.start(dir, card("/dev/zero", dir + "/played.raw")));
  y.send("set listen :2:3\nplot tune.wav\n");
  ASSERT_TRUE(y.wait_for("audio device started ....\n")) << y.out << y.err;
  // No further command: the idle thread stops the stream at the file's end.
  ASSERT_TRUE(y.wait_for("\a")) << y.out;
  y.send("exit\n");
  EXPECT_EQ(y.finish(), 0) << y.err;
  EXPECT_EQ(testkit::count(y.out, "\a"), 1);
  EXPECT_NE(y.out.find("listening to :2:3\n"), std::string::npos);
  EXPECT_EQ(y.err.find("An error occured"), std::string::npos) << y.err;

  std::vector<float> rec = read_floats(dir + "/played.raw");
  const long start = first_sound(rec);
  ASSERT_GE(start, 0);
  // PortAudio primes the output with whole buffers of silence.
  EXPECT_EQ(start % 64, 0);
  EXPECT_LT(start, 8192);
  const int whole = 21 * 1024;
  ASSERT_GE(static_cast<long>(rec.size() / 2), start + whole);
  for (int t = 0; t < whole; ++t) {
    ASSERT_EQ(rec[2 * (start + t)], played(left_sample(t))) << "frame " << t;
    ASSERT_EQ(rec[2 * (start + t) + 1], played(right_sample(t))) << "frame " << t;
  }
  // The partial last block is not played.
  for (size_t k = 2 * (start + whole); k < rec.size(); ++k) ASSERT_EQ(rec[k], 0.f) << k;
}

TEST_F(FeedLive, MuteStopsAFileEarly) {
  const int frames = 44100 * 60;
  ASSERT_TRUE(testkit::write_wav(dir + "/long.wav", pattern_wav(frames)));
  LiveYelm y;
  ASSERT_TRUE(y.start(dir, card("/dev/zero", dir + "/played.raw")));
  y.send("set listen :2:3\nplot long.wav\n");
  ASSERT_TRUE(y.wait_for("audio device started ....\n")) << y.out << y.err;
  ASSERT_TRUE(wait_for_played(y, dir + "/played.raw", 20000));
  y.send("mute\n");
  ASSERT_TRUE(y.wait_for("stopping audio-capture...\n")) << y.out;
  ASSERT_TRUE(y.wait_for("\a")) << y.out;
  y.send("mute\nexit\n");
  EXPECT_EQ(y.finish(), 0) << y.err;
  // The second mute has nothing to stop: no second bell.
  EXPECT_EQ(testkit::count(y.out, "stopping audio-capture...\n"), 2);
  EXPECT_EQ(testkit::count(y.out, "\a"), 1);
  std::vector<float> rec = read_floats(dir + "/played.raw");
  const long start = first_sound(rec);
  ASSERT_GE(start, 0);
  const long got = last_sound(rec) + 1 - start;
  EXPECT_GE(got, 20000);
  EXPECT_LT(got, frames * 3 / 4) << "the file played on after mute";
  for (long t = 0; t < got; ++t) ASSERT_EQ(rec[2 * (start + t)], played(left_sample(t))) << t;
}

TEST_F(FeedLive, PlotWithoutAFileCapturesTheCardInput) {
  // The capture side's input: frame t is (t mod 1000 / 2000, -t mod 777 / 1000).
  const int frames = 400000;
  std::vector<float> in(2 * frames);
  for (int t = 0; t < frames; ++t) {
    in[2 * t] = (t % 1000) / 2000.0f + 0.01f;
    in[2 * t + 1] = -(t % 777) / 1000.0f - 0.01f;
  }
  ASSERT_TRUE(write_floats(dir + "/capture.raw", in));
  LiveYelm y;
  ASSERT_TRUE(y.start(dir, card(dir + "/capture.raw", dir + "/played.raw")));
  y.send("set listen :0:1\nplot\n");
  ASSERT_TRUE(y.wait_for("audio device started ....\n")) << y.out << y.err;
  // Let a good stretch reach the playback side, then stop.
  ASSERT_TRUE(wait_for_played(y, dir + "/played.raw", 40000));
  y.send("mute\n");
  ASSERT_TRUE(y.wait_for("\a")) << y.out << y.err;
  y.send("exit\n");
  EXPECT_EQ(y.finish(), 0) << y.err;
  EXPECT_NE(y.out.find("audio: reset & capture from device..\n"), std::string::npos);
  EXPECT_NE(y.out.find("samplerate: 44100\n"), std::string::npos);

  std::vector<float> rec = read_floats(dir + "/played.raw");
  const long start = first_sound(rec);
  ASSERT_GE(start, 0) << "nothing was played";
  const long got = last_sound(rec) + 1 - start;
  ASSERT_GT(got, 20000);
  // Rings 0 and 1 are the card's input, unfiltered: played back as captured
  // (the input has no silent frame; the silence after the stop is cut off).
  const long check = got < frames - 1000 ? got : frames - 1000;
  for (long t = 0; t < check; ++t) {
    ASSERT_EQ(rec[2 * (start + t)], in[2 * t]) << "frame " << t;
    ASSERT_EQ(rec[2 * (start + t) + 1], in[2 * t + 1]) << "frame " << t;
  }
}

TEST_F(FeedLive, BadFilesStartNothingAndTheConsoleGoesOn) {
  mkdir((dir + "/folder.wav").c_str(), 0755);
  // Nobody writes to it: opening it to read would wait for ever, holding the window.
  ASSERT_EQ(mkfifo((dir + "/fifo.wav").c_str(), 0644), 0);
  testkit::write_file(dir + "/short.wav", "RIFF\x10\0\0\0WAVE");
  testkit::write_file(dir + "/text.wav", std::string(100, 'a'));
  std::vector<unsigned char> head = testkit::wav_header(44100, 2, 16, 4096);
  testkit::write_file(dir + "/cut.wav", std::string(head.begin(), head.begin() + 30));
  testkit::RunOptions opts;
  opts.cwd = dir;
  opts.env = card("/dev/zero", "/dev/null");
  testkit::RunResult r = testkit::run_yelm(
      "plot missing.wav\nplot folder.wav\nplot fifo.wav\nplot short.wav\nplot text.wav\nplot cut.wav\nmute\nexit\n", opts);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("file not found 'missing.wav'. aborting.\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("'folder.wav': not a regular file. aborting.\n"), std::string::npos);
  EXPECT_NE(r.out.find("'fifo.wav': not a regular file. aborting.\n"), std::string::npos);
  EXPECT_EQ(testkit::count(r.out, "not a valid WAV file. aborting.\n"), 2);
  EXPECT_EQ(testkit::count(r.out, "'text.wav': not a sound file of a known format. aborting.\n"), 1);
  EXPECT_EQ(r.out.find("audio device started"), std::string::npos);
  EXPECT_EQ(r.out.find("Graphic Displays"), std::string::npos);
  EXPECT_EQ(r.out.find("\a"), std::string::npos);
  EXPECT_NE(r.out.find("stopping audio-capture...\n"), std::string::npos);
  EXPECT_NE(r.out.find("byebye"), std::string::npos);
}

TEST_F(FeedLive, NoDeviceReportsTheLibraryErrorAndALaterPlotWorks) {
  const std::string config = dir + "/asound.conf";
  ASSERT_TRUE(testkit::write_file(config, "pcm.!default { type hw card 99 }\n"));
  ASSERT_TRUE(testkit::write_wav(dir + "/tune.wav", pattern_wav(5000)));
  LiveYelm y;
  ASSERT_TRUE(y.start(dir, card("/dev/zero", "/dev/null", config)));
  y.send("plot tune.wav\nmute\n");
  ASSERT_TRUE(y.wait_for("stopping audio-capture...\n")) << y.out;
  y.pump(200);
  EXPECT_NE(y.err.find("An error occured while using the portaudio stream\nError number: -9985\n"
                       "Error message: Device unavailable\n"),
            std::string::npos)
      << y.err;
  EXPECT_EQ(y.out.find("audio device started"), std::string::npos);
  EXPECT_EQ(y.out.find("\a"), std::string::npos);  // state stayed 0: nothing to stop
  // A card appears; the next plot uses it.
  ASSERT_TRUE(testkit::write_file(config, testkit::read_file(kCardConfig)));
  y.send("plot tune.wav\n");
  ASSERT_TRUE(y.wait_for("audio device started ....\n")) << y.out << y.err;
  ASSERT_TRUE(y.wait_for("\a"));
  y.send("exit\n");
  EXPECT_EQ(y.finish(), 0) << y.err;
  EXPECT_EQ(testkit::count(y.err, "An error occured"), 1);
}

TEST_F(FeedLive, PlotMuteAndPlotAgainAHundredTimes) {
  ASSERT_TRUE(testkit::write_wav(dir + "/tune.wav", pattern_wav(3000)));
  std::string cmds = "set listen :2:3\n";
  int starts = 0;
  for (int n = 0; n < 100; ++n) {
    cmds += "plot tune.wav\nmute\n";
    ++starts;
    if (n % 10 == 0) {
      cmds += "plot\nplot tune.wav\n";
      starts += 2;
    }
  }
  cmds += "mute\nexit\n";
  testkit::RunOptions opts;
  opts.cwd = dir;
  opts.env = card("/dev/zero", "/dev/null");
  opts.timeout_s = 300;
  testkit::RunResult r = testkit::run_yelm(cmds, opts);
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
  EXPECT_EQ(testkit::count(r.out, "audio device started ....\n"), starts);
  // Every stream was stopped once: by the next plot, a mute or its file's end.
  EXPECT_EQ(testkit::count(r.out, "\a"), starts);
  EXPECT_EQ(r.err.find("An error occured"), std::string::npos) << r.err.substr(0, 2000);
  EXPECT_NE(r.out.find("byebye"), std::string::npos);
}

TEST_F(FeedLive, PlotReadsTheDisplayOptionsAndListsTheDisplays) {
  testkit::Wav w = pattern_wav(3000);
  w.sample_rate = 22050;
  ASSERT_TRUE(testkit::write_wav(dir + "/slow.wav", w));
  testkit::RunOptions opts;
  opts.cwd = dir;
  opts.env = card("/dev/zero", "/dev/null");
  testkit::RunResult r = testkit::run_yelm(
      "set samplerate 48000\nset :0 style fft\nset :0 scale 2.5\nset :1 style w2d\nset :1 quadrant 4\n"
      "set :2 style ffft\nset :3 style spiral\nset :3 beat 127\nset :3 tuna 880\nset acqdelay 0\n"
      "set guidelay 3\nplot slow.wav\nmute\nexit\n",
      opts);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string &o = r.out;
  EXPECT_NE(o.find("samplerate: 22050\n"), std::string::npos) << o;
  EXPECT_NE(o.find("unkown graph-type 'ffft' for display 2 (hiding...)\n"), std::string::npos);
  EXPECT_NE(o.find("w2D quadrant index out-of-scope (defaulting to 2)\n"), std::string::npos);
  EXPECT_NE(o.find("SPIRAL display's beat time  not acceptable (defaulting to ZERO)\n"), std::string::npos);
  EXPECT_EQ(testkit::count(o, "*** warning: delay must be >=1\n"), 1);
  // Displays 0 and 1 have no tuna; display 3 has one; display 2 is hidden.
  EXPECT_EQ(testkit::count(o, "no tuning? ('tuna' settings). assuming 440 Hz."), 2);
  EXPECT_NE(o.find("\nGraphic Displays:\n    #     x     y  scale type\n-----------------------------\n"
                   "    0 -1.00 -1.00  2.50  fft\n"
                   "    1  1.00 -1.00  1.00  w2d quadrant:2\n"
                   "    2 -1.00  1.00  1.00  hide\n"
                   "    3  1.00  1.00  1.00  spiral\n"
                   "-----------------------------\n    DELAY ACQ:  1  GUI:  3\n-----------------------------\n"
                   "listening to :0:0\n\naudio device started ....\n"),
            std::string::npos)
      << o;
  EXPECT_EQ(testkit::count(o, "\a"), 1);
}

namespace {

// The file-backed card twice: "default" as before, and "yelmtwin" on its own
// files ($VSND_IN2, $VSND_OUT2).
std::string two_card_config() {
  return testkit::read_file(kCardConfig) +
         "pcm.yelmtwin {\n"
         "  type asym\n"
         "  playback.pcm { type file slave.pcm { type null } format \"raw\"\n"
         "    file { @func getenv vars [ VSND_OUT2 ] default \"/dev/null\" } }\n"
         "  capture.pcm { type file slave.pcm { type null } format \"raw\" file \"/dev/null\"\n"
         "    infile { @func getenv vars [ VSND_IN2 ] default \"/dev/zero\" } }\n"
         "}\n";
}

// Lines of text, without their ends.
std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> v;
  size_t p = 0;
  while (p < text.size()) {
    size_t q = text.find('\n', p);
    if (q == std::string::npos) q = text.size();
    v.push_back(text.substr(p, q - p));
    p = q + 1;
  }
  return v;
}

// Standard error without the leak checker's closing summary (sanitizer builds).
std::string program_stderr(const std::string &err) {
  size_t p = err.find("-----------------------------------------------------\nSuppressions used:");
  return p == std::string::npos ? err : err.substr(0, p);
}

const char kOwnErrorLines[] =
    "An error occured while using the portaudio stream\nError number: -9985\n"
    "Error message: Device unavailable\n";

}  // namespace

TEST_F(FeedLive, AudioInNamingNoDeviceListsThemAndPlaysOnTheDefault) {
  const std::string config = dir + "/asound.conf";
  ASSERT_TRUE(testkit::write_file(config, two_card_config()));
  ASSERT_TRUE(testkit::write_wav(dir + "/tune.wav", pattern_wav(5000)));
  auto env = card("/dev/zero", dir + "/played.raw", config);
  env.push_back({"VSND_OUT2", dir + "/twin.raw"});
  LiveYelm y;
  ASSERT_TRUE(y.start(dir, env));
  y.send("set audio.in no-such-card\nset listen :2:3\nplot tune.wav\n");
  ASSERT_TRUE(y.wait_for("audio device started ....\n")) << y.out << y.err;
  ASSERT_TRUE(y.wait_for("\a")) << y.out;
  y.send("exit\n");
  EXPECT_EQ(y.finish(), 0) << y.err;
  const size_t warn = y.out.find(
      "*** warning: audio.in 'no-such-card' names no capture device with 2 channels (using the default)\n"
      "audio devices:\n");
  ASSERT_NE(warn, std::string::npos) << y.out;
  // Both devices, a line each with their channels, before the stream starts.
  const size_t started = y.out.find("audio device started");
  const std::string listing = y.out.substr(warn, started - warn);
  EXPECT_NE(listing.find(": yelmtwin (ALSA, in 128, out 128)\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find(": default (ALSA, in 128, out 128)\n"), std::string::npos) << listing;
  EXPECT_NE(y.out.find("audio device started ....\ndevices: in 'default', out 'default'\n"), std::string::npos)
      << y.out;
  EXPECT_EQ(program_stderr(y.err), "");
  // Played on the default card, nothing on the other.
  std::vector<float> rec = read_floats(dir + "/played.raw");
  const long start = first_sound(rec);
  ASSERT_GE(start, 0) << "nothing was played";
  for (int t = 0; t < 4096; ++t) ASSERT_EQ(rec[2 * (start + t)], played(left_sample(t))) << t;
  EXPECT_LT(first_sound(read_floats(dir + "/twin.raw")), 0);
}

TEST_F(FeedLive, AudioInAndOutOpenTheNamedDevice) {
  const std::string config = dir + "/asound.conf";
  ASSERT_TRUE(testkit::write_file(config, two_card_config()));
  const int frames = 200000;
  std::vector<float> in(2 * frames);
  for (int t = 0; t < frames; ++t) {
    in[2 * t] = (t % 900) / 2000.0f + 0.01f;
    in[2 * t + 1] = -(t % 555) / 1000.0f - 0.01f;
  }
  ASSERT_TRUE(write_floats(dir + "/twin-in.raw", in));
  auto env = card("/dev/zero", dir + "/played.raw", config);
  env.push_back({"VSND_IN2", dir + "/twin-in.raw"});
  env.push_back({"VSND_OUT2", dir + "/twin.raw"});
  LiveYelm y;
  ASSERT_TRUE(y.start(dir, env));
  // A part of the name in another case; blanks around it do not count.
  y.send("set audio.in TWIN\nset audio.out  YelmTwin \nset listen :0:1\nplot\n");
  ASSERT_TRUE(y.wait_for("audio device started ....\n")) << y.out << y.err;
  ASSERT_TRUE(wait_for_played(y, dir + "/twin.raw", 20000));
  y.send("mute\n");
  ASSERT_TRUE(y.wait_for("\a")) << y.out << y.err;
  y.send("exit\n");
  EXPECT_EQ(y.finish(), 0) << y.err;
  EXPECT_NE(y.out.find("audio device started ....\ndevices: in 'yelmtwin', out 'yelmtwin'\n"), std::string::npos)
      << y.out;
  EXPECT_EQ(y.out.find("audio devices:"), std::string::npos);
  // The named card's capture came back on the named card's playback.
  std::vector<float> rec = read_floats(dir + "/twin.raw");
  const long start = first_sound(rec);
  ASSERT_GE(start, 0);
  for (long t = 0; t < 10000; ++t) {
    ASSERT_EQ(rec[2 * (start + t)], in[2 * t]) << t;
    ASSERT_EQ(rec[2 * (start + t) + 1], in[2 * t + 1]) << t;
  }
  EXPECT_LT(first_sound(read_floats(dir + "/played.raw")), 0) << "the default card played too";
}

TEST_F(FeedLive, WithoutACardTheOwnErrorComesFirstAndTheLibrarysTextIsCut) {
  // No card at all, and a card whose PCM ALSA cannot find (ALSA then says so).
  const char *configs[] = {"pcm.!default { type hw card 99 }\n",
                           "pcm.!default { type asym playback.pcm \"yelm_no_such_pcm\" "
                           "capture.pcm \"yelm_no_such_pcm\" }\n"};
  for (const char *text : configs) {
    const std::string config = dir + "/asound.conf";
    ASSERT_TRUE(testkit::write_file(config, text));
    testkit::RunOptions opts;
    opts.cwd = dir;
    opts.env = card("/dev/zero", "/dev/null", config);
    testkit::RunResult r = testkit::run_yelm("plot\nmute\nexit\n", opts);
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.err.compare(0, strlen(kOwnErrorLines), kOwnErrorLines), 0) << text << r.err;
    std::vector<std::string> rest = lines_of(program_stderr(r.err).substr(strlen(kOwnErrorLines)));
    EXPECT_LE(rest.size(), 5u) << r.err;
    for (const std::string &l : rest) EXPECT_EQ(l.compare(0, 4, "    "), 0) << "not indented: " << l;
    EXPECT_EQ(r.out.find("audio device started"), std::string::npos);
    // ALSA's own complaint is among the few lines shown, once.
    if (strstr(text, "yelm_no_such_pcm")) {
      EXPECT_NE(r.err.find("\n    ALSA lib "), std::string::npos) << r.err;
      EXPECT_EQ(testkit::count(r.err, "Unknown PCM yelm_no_such_pcm\n"), 1) << r.err;
    }
  }
}

TEST_F(FeedLive, AudioVerboseShowsTheLibrarysTextAsItComes) {
  const std::string config = dir + "/asound.conf";
  ASSERT_TRUE(testkit::write_file(config, "pcm.!default { type asym playback.pcm \"yelm_no_such_pcm\" "
                                          "capture.pcm \"yelm_no_such_pcm\" }\n"));
  testkit::RunOptions opts;
  opts.cwd = dir;
  opts.env = card("/dev/zero", "/dev/null", config);
  testkit::RunResult r = testkit::run_yelm("set audio.verbose 1\nplot\nexit\n", opts);
  EXPECT_EQ(r.status, 0) << r.err;
  // ALSA's lines as it wrote them, before the error they led to, and all of them.
  const size_t library = r.err.find("ALSA lib pcm.c:");
  const size_t own = r.err.find(kOwnErrorLines);
  ASSERT_NE(library, std::string::npos) << r.err;
  ASSERT_NE(own, std::string::npos) << r.err;
  EXPECT_LT(library, own);
  EXPECT_TRUE(library == 0 || r.err[library - 1] == '\n') << "indented: " << r.err;
  EXPECT_GE(testkit::count(r.err, "Unknown PCM yelm_no_such_pcm\n"), 2) << r.err;
  EXPECT_EQ(r.err.find("held back"), std::string::npos);
}
