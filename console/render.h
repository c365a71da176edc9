// Rendering a file through the displays to pictures or a video, on a clock
// of counted frames: `yelm --render OUT IN [options]`.
#pragma once

#include <cstddef>

enum RenderOutput { kRenderFrames = 0, kRenderPicture = 1, kRenderVideo = 2 };
enum VideoFormat { kVideoMp4 = 0, kVideoMkv = 1, kVideoWebm = 2 };

struct RenderRequest {
  static constexpr int kMaxSide = 16384;
  static constexpr int kMinSide = 16;
  static constexpr int kMaxFps = 240;
  static constexpr double kMaxSeconds = 1e6;
  static constexpr size_t kNameChars = 4095;

  const char *out = nullptr;
  const char *in = nullptr;
  const char *settings = nullptr;  // null: .yelmrc in the working folder
  int fps = 25;
  int width = 1280, height = 720;
  double from = 0;
  double to = -1;  // below 0: to the end
  int output = kRenderFrames;
  int format = kVideoMp4;
  // Frame names: prefix, the number (at least `digits` wide, zero-padded),
  // suffix.
  char prefix[kNameChars + 1] = {};
  char suffix[kNameChars + 1] = {};
  int digits = 0;
  bool make_folder = false;  // OUT names a folder that is not there yet

  // Reads a render's command line (argv[0] the program): 0, or 2 after a
  // one-line usage error on standard error.
  int parse(int argc, char **argv);
  // The name of frame number n (counted from 1); false when it does not fit.
  bool frame_name(long long n, char *name, size_t capacity) const;
};

// Which frames a render makes: frame g of the whole file is drawn when
// sample_of(g) frames of the file have passed, g/fps seconds in.
struct FrameClock {
  long long rate = 44100, fps = 25;
  long long first = 0, end = 0;  // the frames made: first .. end-1
  long long from_sample = 0, to_sample = 0;

  long long sample_of(long long g) const { return g * rate / fps; }
  // Every frame that starts inside [from, to) of a file of `frames` frames
  // (to below 0: its end). False when --from lies at or past the end.
  bool cut(long long frames, double from, double to);
  long long count() const { return end - first; }
};

// Runs a render and returns the process status: 0 made, 1 an input or
// output that fails, 2 a bad argument, 128 + the signal when stopped.
int run_render(const RenderRequest &request, const char *version);
