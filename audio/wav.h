// Sound files: sample scaling, block-wise transform I/O, and the block
// reader that plays a file into the acquisition engine. Canonical 16-bit WAV
// files are read by the program's own byte path; every other file is
// decoded by libsndfile (audio/sound_file.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "audio/sound_file.h"
#include "options/side_file.h"

// Nearest single-precision number to 1/32767; products are taken in double.
constexpr float kSampleScale = 1.0f / 32767.0f;

inline double sample_to_value(int16_t s) { return s * static_cast<double>(kSampleScale); }

// Truncate value x 32767 toward zero and keep the low 16 bits: no clipping,
// so 1.5 wraps to -16386. Values no 64-bit integer can hold (and NaN) give 0
// instead of undefined behaviour.
inline int16_t value_to_sample(double v) {
  double t = v * 32767.0;
  if (!(t > -9.2e18 && t < 9.2e18)) return 0;
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(static_cast<int64_t>(t))));
}

constexpr int kWavHeaderBytes = 44;

struct WavHeader {
  unsigned char bytes[kWavHeaderBytes];
  bool is_riff() const;
  int channels() const;
  int sample_rate() const;
  int bits_per_sample() const;
};

// Whether a file is read by the program's own 16-bit path, byte for byte as
// it always was (its header then also heads every output made from it).
// Canonical means the 44-byte layout of plain 16-bit PCM:
//   "RIFF" at 0, "WAVE" at 8, "fmt " at 12 with a chunk size of 16,
//   format tag 1 (PCM), 16 bits per sample (or 0, which early writers left
//   for 16: shown as "auto"), and "data" at 36, so the samples start at 44;
//   and nothing but samples after the header: the data size at 40 is not
//   smaller than what follows the header (file_bytes, -1 when unknown), or
//   it is 0, which a writer that never went back to fill it in leaves.
// Channel count and rate are not looked at. Every other file (another
// sample format, WAVE_FORMAT_EXTENSIBLE, chunks before or after the samples,
// FLAC, Ogg, AIFF, MP3, ...) goes through libsndfile.
bool is_canonical_wav(const WavHeader &h, long long file_bytes);

// A canonical 16-bit PCM header for an output of the given layout.
void make_canonical_header(unsigned char out[kWavHeaderBytes], int channels, int sample_rate,
                           long long frames);

// The one line that refuses a file the library cannot read.
void report_unreadable(const char *path, const SoundFile &decoded);

// True when both paths name one existing file (also through links or other
// spellings of the path). A transform must never write over its own input.
bool same_file(const char *a, const char *b);

// Refuses, with a message, an output path that names the same file as one of
// the inputs; true when the run may go on.
bool output_is_safe(const char *output, const char *input, const char *other_input = nullptr);

// The same check for any file a command writes (kind: "output", "log",
// "parameter file") against all the files it reads (count of them, nulls
// skipped). Two names of files not yet made count as the same file when they
// lead to the same place.
bool written_file_is_safe(const char *kind, const char *written, const char *const *inputs, int count,
                          const char *inputs_kind = "an input");

// Opens a whole-file command's input for reading. A FIFO, socket, device or
// directory is refused with its one line (*refused set); otherwise null
// when it cannot be opened, which each command says in its own words.
FILE *open_sound_input(const char *path, bool *refused);

// The one message of a failed write, flush or close; err is the errno.
void report_write_failure(const char *path, int err);

// Flushes and closes a text file the program wrote (a log, a parameter
// file); false, after the write-failure message, when any of its writes, the
// flush or the close failed. The file is closed in every case.
bool close_written_file(FILE *f, const char *path);

// Set once when the program is ending while a transform runs: the transform
// stops at its next block and leaves a whole, shorter file.
extern std::atomic<int> g_stop_transforms;

// For the way out when the transform did not stop (stuck in a read of an
// input that stalls): makes the output being written tell the length it
// holds, and says so as the transform would have. Once called, the running
// transform can no longer close or free its output; the process must end.
void finish_abandoned_output();

enum class WavVariant {
  RequiredOutput,  // fold
  OptionalOutput,  // tstring, tether, tfield, mirage, unfold
  Codebook,        // reconstruct
};

// One input and at most one output file for a block-wise transform run.
// The caller opens and closes the input. The output is opened here, by path,
// only once the input is known to be readable and the output is known not to
// be one of the inputs, so a bad command never empties a file. An output is
// always 16-bit PCM: it starts with a canonical input's own header, or with
// a canonical header made from any other input's channels and rate.
struct WavPair {
  FILE *input = nullptr;
  FILE *output = nullptr;  // owned: opened by open(), closed by release()
  int sample_rate = 0;
  int channels = 0;
  int bits_per_sample = 0;
  int block_frames = 0;
  int16_t *in_block = nullptr;
  int16_t *out_block = nullptr;
  unsigned char header[kWavHeaderBytes] = {};
  const char *out_name = nullptr;  // the output's path, for messages
  int write_errno = 0;             // first failure of a write to the output
  long long data_bytes = 0;        // sample bytes written to the output
  SoundFile decoded;               // open when the input is not canonical

  // Reads and reports the header, creates the output (out_path null: none)
  // and copies the header into it; true when ready. other_path names a
  // further input (a codebook) that the output must not overwrite either.
  bool open(FILE *in, const char *in_path, const char *out_path, int frames, WavVariant variant,
            const char *other_path = nullptr);
  // open() in two halves, for a caller that checks its settings against the
  // header before any output exists. in_path names the input in messages.
  bool read_header(FILE *in, const char *in_path = nullptr);
  bool finish_open(const char *in_path, const char *out_path, int frames, WavVariant variant,
                   const char *other_path = nullptr);
  // One mono double per frame (the mean of a stereo frame).
  int read_block(double *values, int frames);
  // Writes each value into the first (and for stereo the second) channel.
  int write_block(const double *values, int frames);
  // write_block that must write every frame: false, after the write-failure
  // message, when it could not. dots: progress dots printed so far on the
  // line, so the message starts a line of its own. Also false once the
  // program is ending (g_stop_transforms): the output is then closed with a
  // header that tells the length written.
  bool write_checked(const double *values, int frames, int dots);
  // Flushes and closes the output (none: true), its header telling the
  // length written. False, after the message, when a write, the flush or
  // the close failed: the file is not whole.
  bool close_output(int dots);
  void release();
  ~WavPair() { release(); }
  // The end of a run cut short by the program's end (see write_checked).
  bool cut_short(int dots);
  // Makes the output's header tell the length written, where it differs
  // from the copied one; false when the output cannot be rewritten there.
  bool tell_length();

  // Frame size in 16-bit samples; a header claiming 0 channels reads as mono.
  int frame_samples() const { return channels > 0 ? channels : 1; }
};

// The acquisition engine's file reader, one frame at a time from blocks: a
// canonical file in blocks of 4096 bytes, any other in blocks of
// kDecodedFrames frames decoded into a buffer made when the file opens, so
// the audio callback that reads it allocates nothing (decoders that make
// their state on their first block, FLAC's and Vorbis's, have it made at
// open). A short block (the end, or a decoding error) ends the input; its
// frames are not played, unless keep_tail is set.
struct AcqReader {
  static constexpr int kBlockBytes = 4096;
  static constexpr int kDecodedFrames = 1024;
  FILE *file = nullptr;
  int sample_rate = 44100;
  int channels = 2;
  int bits_per_sample = 0;
  int block_pos = 0;    // canonical: byte position in block; both: 0 after a block read
  int decoded_pos = 0;  // decoded: next frame of the block
  int decoded_ahead = -1;  // frames of the first block, decoded at open; -1 once handed out
  unsigned char block[kBlockBytes] = {};
  SoundFile decoded;    // open when the file is not canonical
  // A render shows and plays a file to its last frame: the short last block
  // is read as well. Set before opening.
  bool keep_tail = false;
  int block_bytes = kBlockBytes;       // canonical: bytes of whole frames in block
  int decoded_frames = kDecodedFrames;  // decoded: frames in the block

  // 0 ready, 1 file not found (or not a regular file), 2 header too short,
  // 3 unreadable. Without `report` it prints nothing (a second reader of a
  // file already opened).
  int open_input(const char *path, bool report = true);
  // The same with the file opened beforehand (open_file's result), which is
  // taken over.
  int open_input(const char *path, FILE *opened, SideFile how, bool report = true);
  // Reads the next block; false when it comes up short (input ended).
  bool next_block();
  // Decodes the frame at block_pos (reading a block first when needed) and
  // advances; false when the input has ended.
  bool next_frame(double &left, double &right);
  // Whole frames in a block, and one of them as left and right values (a
  // mono file gives its one channel to both).
  int block_frames() const { return decoded.is_open() ? decoded_frames : block_bytes / frame_bytes(); }
  void block_frame(int i, double &left, double &right) const;
  // Bytes of one canonical frame: the samples are always 16-bit.
  int frame_bytes() const { return 2 * (channels > 0 ? channels : 1); }
  void close();
};

// Little-endian 16-bit sample at byte p of a buffer.
inline int16_t sample_at(const unsigned char *bytes, int p) {
  return static_cast<int16_t>(static_cast<uint16_t>(bytes[p] | (bytes[p + 1] << 8)));
}
