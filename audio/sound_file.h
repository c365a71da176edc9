// Sound files other than canonical 16-bit WAV (other WAV layouts and sample
// formats, FLAC, Ogg, AIFF, MP3, ...), decoded by libsndfile through a FILE
// the caller owns, block by block into a buffer owned here.
#pragma once

#include <cstdint>
#include <cstdio>

struct sf_private_tag;  // libsndfile's SNDFILE

struct SoundFile {
  static constexpr int kFormatChars = 47;
  static constexpr int kReasonChars = 95;

  sf_private_tag *handle = nullptr;
  FILE *file = nullptr;  // read through, never closed here
  int sample_rate = 0;
  int channels = 0;
  int bits_per_sample = 0;  // 0 for codecs without a sample width
  long long frames = 0;     // as the file claims; may be more than it holds
  bool integer = true;      // read as integers (exact), else as reals
  char format[kFormatChars + 1] = {};  // "FLAC, 24-bit"
  char reason[kReasonChars + 1] = {};  // why open() failed
  int block_capacity = 0;              // frames the block buffer holds
  int32_t *ints = nullptr;             // interleaved block, integer formats
  double *reals = nullptr;             // interleaved block, real formats

  // Opens the file from its start; false, with `reason` filled, when the
  // library cannot read it.
  bool open(FILE *f);
  // The block buffer, made once before any read; false when out of memory.
  bool allocate(int frames);
  // Decodes up to `frames` frames (at most block_capacity) into the block;
  // the number decoded, short at the end or at a decoding error.
  int read(int frames);
  // Sample of a decoded frame on the scale of a 16-bit sample x 1/32767.
  double value(int frame, int channel) const {
    const long i = static_cast<long>(frame) * channels + channel;
    return integer ? ints[i] * kIntScale : reals[i];
  }
  bool is_open() const { return handle != nullptr; }
  void close();
  ~SoundFile() { close(); }

  // A 32-bit integer sample (a 16-bit one shifted up by 16) times this is
  // exactly the 16-bit sample times the float nearest 1/32767.
  static constexpr double kIntScale = static_cast<double>(1.0f / 32767.0f) / 65536.0;
};
