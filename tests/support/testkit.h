// Test helpers: run the real yelm binary with commands on standard input, and
// write and read 16-bit WAV files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testkit {

struct RunResult {
  std::string out;  // standard output (prompts and echoed lines included)
  std::string err;  // standard error
  int status = -1;  // exit status, or 128 + signal
};

struct RunOptions {
  std::string cwd;                                   // empty: a fresh temporary folder
  std::vector<std::pair<std::string, std::string>> env;  // set (empty value: unset)
  int timeout_s = 120;
  std::vector<std::string> args;  // command-line arguments after the program name
};

// Path of the yelm binary under test (YELM_BINARY, set by the build).
std::string yelm_binary();
// A new empty folder under the build's temporary area.
std::string make_temp_dir(const std::string &tag);
// Runs yelm in opts.cwd with the given text on standard input.
RunResult run_yelm(const std::string &input, const RunOptions &opts);

// WAV files with the canonical 44-byte header.
struct Wav {
  int sample_rate = 44100;
  int channels = 2;
  int bits = 16;
  std::vector<int16_t> samples;  // interleaved
  size_t frames() const { return channels ? samples.size() / channels : 0; }
};
std::vector<unsigned char> wav_header(int sample_rate, int channels, int bits, uint32_t data_bytes);
bool write_wav(const std::string &path, const Wav &w);
bool read_wav(const std::string &path, Wav &w, std::vector<unsigned char> *header = nullptr);
// Stereo sine mixture: each (frequency, amplitude) pair in both channels.
Wav sine_wav(int sample_rate, int frames, const std::vector<std::pair<double, double>> &tones,
             int channels = 2);

// Runs fn in a child process whose files cannot grow beyond `bytes`, as on a
// full disk: the write that reaches the limit is cut short there and later
// ones fail. The child's standard output goes nowhere. Its exit status
// (0 when fn returned), or -1.
int with_file_size_limit(long bytes, const std::function<void()> &fn);

std::string read_file(const std::string &path);
bool write_file(const std::string &path, const std::string &text);
bool file_exists(const std::string &path);
// Number of occurrences of needle in hay.
int count(const std::string &hay, const std::string &needle);

}  // namespace testkit
