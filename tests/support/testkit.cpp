// Test helpers: process runner and WAV files.
#include "tests/support/testkit.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char **environ;

namespace testkit {

std::string yelm_binary() {
  const char *p = getenv("YELM_BINARY");
#ifdef YELM_BINARY_PATH
  if (!p) p = YELM_BINARY_PATH;
#endif
  return p ? p : "yelm";
}

std::string make_temp_dir(const std::string &tag) {
  std::string base;
#ifdef YELM_TEST_TMP
  base = YELM_TEST_TMP;
#else
  base = "/tmp";
#endif
  mkdir(base.c_str(), 0755);
  std::string templ = base + "/" + tag + "-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back(0);
  if (!mkdtemp(buf.data())) return base;
  return buf.data();
}

RunResult run_yelm(const std::string &input, const RunOptions &opts) {
  RunResult r;
  std::string cwd = opts.cwd.empty() ? make_temp_dir("yelm-run") : opts.cwd;
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) || pipe(out_pipe) || pipe(err_pipe)) return r;

  // Environment: ours with the requested changes.
  std::vector<std::string> env;
  for (char **e = environ; *e; ++e) {
    std::string kv = *e;
    bool replaced = false;
    for (auto &p : opts.env)
      if (kv.compare(0, p.first.size() + 1, p.first + "=") == 0) replaced = true;
    if (!replaced) env.push_back(kv);
  }
  for (auto &p : opts.env)
    if (!p.second.empty()) env.push_back(p.first + "=" + p.second);
  std::vector<char *> envp;
  for (auto &s : env) envp.push_back(const_cast<char *>(s.c_str()));
  envp.push_back(nullptr);

  std::string bin = yelm_binary();
  std::vector<char *> argv{const_cast<char *>(bin.c_str())};
  for (const std::string &a : opts.args) argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(in_pipe[1]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    execve(bin.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  signal(SIGPIPE, SIG_IGN);
  size_t written = 0;
  fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);
  bool in_open = true;
  if (input.empty()) {
    close(in_pipe[1]);
    in_open = false;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(opts.timeout_s);
  bool out_open = true, err_open = true;
  char buf[65536];
  while (out_open || err_open) {
    pollfd fds[3];
    int n = 0;
    int oi = -1, ei = -1, ii = -1;
    if (out_open) { fds[n] = {out_pipe[0], POLLIN, 0}; oi = n++; }
    if (err_open) { fds[n] = {err_pipe[0], POLLIN, 0}; ei = n++; }
    if (in_open) { fds[n] = {in_pipe[1], POLLOUT, 0}; ii = n++; }
    int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now()).count());
    if (ms <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, n, ms) < 0) continue;
    if (oi >= 0 && (fds[oi].revents & (POLLIN | POLLHUP))) {
      ssize_t k = read(out_pipe[0], buf, sizeof buf);
      if (k <= 0) out_open = false; else r.out.append(buf, k);
    }
    if (ei >= 0 && (fds[ei].revents & (POLLIN | POLLHUP))) {
      ssize_t k = read(err_pipe[0], buf, sizeof buf);
      if (k <= 0) err_open = false; else r.err.append(buf, k);
    }
    if (ii >= 0 && (fds[ii].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t k = write(in_pipe[1], input.data() + written, input.size() - written);
      if (k > 0) written += k;
      if (k < 0 || written >= input.size()) {
        close(in_pipe[1]);
        in_open = false;
      }
    }
  }
  if (in_open) close(in_pipe[1]);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

static void put32(std::vector<unsigned char> &v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = (x >> (8 * i)) & 255;
}
static void put16(std::vector<unsigned char> &v, size_t at, uint16_t x) {
  v[at] = x & 255;
  v[at + 1] = x >> 8;
}

std::vector<unsigned char> wav_header(int sr, int ch, int bits, uint32_t data_bytes) {
  std::vector<unsigned char> h(44, 0);
  memcpy(&h[0], "RIFF", 4);
  put32(h, 4, 36 + data_bytes);
  memcpy(&h[8], "WAVE", 4);
  memcpy(&h[12], "fmt ", 4);
  put32(h, 16, 16);
  put16(h, 20, 1);
  put16(h, 22, ch);
  put32(h, 24, sr);
  put32(h, 28, sr * ch * bits / 8);
  put16(h, 32, ch * bits / 8);
  put16(h, 34, bits);
  memcpy(&h[36], "data", 4);
  put32(h, 40, data_bytes);
  return h;
}

bool write_wav(const std::string &path, const Wav &w) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  auto h = wav_header(w.sample_rate, w.channels, w.bits, w.samples.size() * 2);
  fwrite(h.data(), 1, h.size(), f);
  for (int16_t s : w.samples) {
    unsigned char b[2] = {static_cast<unsigned char>(s & 255),
                          static_cast<unsigned char>((static_cast<uint16_t>(s) >> 8) & 255)};
    fwrite(b, 1, 2, f);
  }
  return fclose(f) == 0;
}

bool read_wav(const std::string &path, Wav &w, std::vector<unsigned char> *header) {
  std::string data = read_file(path);
  if (data.size() < 44) return false;
  const unsigned char *p = reinterpret_cast<const unsigned char *>(data.data());
  if (header) header->assign(p, p + 44);
  w.channels = p[22] | (p[23] << 8);
  w.sample_rate = p[24] | (p[25] << 8) | (p[26] << 16) | (p[27] << 24);
  w.bits = p[34] | (p[35] << 8);
  w.samples.clear();
  for (size_t i = 44; i + 1 < data.size(); i += 2)
    w.samples.push_back(static_cast<int16_t>(p[i] | (p[i + 1] << 8)));
  return true;
}

Wav sine_wav(int sr, int frames, const std::vector<std::pair<double, double>> &tones, int channels) {
  Wav w;
  w.sample_rate = sr;
  w.channels = channels;
  w.samples.resize(static_cast<size_t>(frames) * channels);
  for (int t = 0; t < frames; ++t) {
    double v = 0;
    for (auto &tone : tones) v += tone.second * std::sin(2 * M_PI * tone.first * t / sr);
    int16_t s = static_cast<int16_t>(std::lround(v * 32767.0));
    for (int c = 0; c < channels; ++c) w.samples[static_cast<size_t>(t) * channels + c] = s;
  }
  return w;
}

int with_file_size_limit(long bytes, const std::function<void()> &fn) {
  fflush(stdout);
  fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    // Past the limit the kernel would end the process instead of failing the write.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0 || !freopen("/dev/null", "w", stdout)) _exit(100);
    fn();
    _exit(0);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool write_file(const std::string &path, const std::string &text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
  return static_cast<bool>(f);
}

bool file_exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

int count(const std::string &hay, const std::string &needle) {
  int n = 0;
  for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + needle.size())) ++n;
  return n;
}

}  // namespace testkit
