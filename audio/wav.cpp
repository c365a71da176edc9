// WAV header checks, WavPair block I/O and the acquisition block reader.
#include "audio/wav.h"

#include <pthread.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "options/side_file.h"

namespace {

uint32_t le32(const unsigned char *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t le16(const unsigned char *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Little-endian, `bytes` wide.
void store_le(unsigned char *p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

long long file_size(FILE *f) {
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

void report_format(const SoundFile &d) {
  printf("format: %s\n", d.format);
  printf("samplerate: %d\n", d.sample_rate);
  if (d.bits_per_sample == 0)
    printf("bits/sample: auto\n");
  else
    printf("bits/sample: %d\n", d.bits_per_sample);
}

void track_output(WavPair *pair);
void untrack_output(WavPair *pair);

void report_channels(int channels) {
  if (channels == 2)
    printf("stereo wave\n");
  else
    printf("warning: MONO (#channels: %d). making L=R.\n", channels);
}

bool is_directory(FILE *f) {
  struct stat st;
  return fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool WavHeader::is_riff() const { return memcmp(bytes, "RIFF", 4) == 0; }
int WavHeader::channels() const { return le16(bytes + 22); }
int WavHeader::sample_rate() const { return static_cast<int32_t>(le32(bytes + 24)); }
int WavHeader::bits_per_sample() const { return le16(bytes + 34); }

static_assert(SoundFile::kIntScale * 65536.0 == static_cast<double>(kSampleScale),
              "decoded integers and 16-bit samples must share one scale");

bool is_canonical_wav(const WavHeader &h, long long file_bytes) {
  const unsigned char *b = h.bytes;
  const int bits = h.bits_per_sample();
  if (!h.is_riff() || memcmp(b + 8, "WAVE", 4) != 0 || memcmp(b + 12, "fmt ", 4) != 0 || le32(b + 16) != 16 ||
      le16(b + 20) != 1 || (bits != 16 && bits != 0) || memcmp(b + 36, "data", 4) != 0)
    return false;
  const long long data = le32(b + 40);
  return file_bytes < 0 || data == 0 || data >= file_bytes - kWavHeaderBytes;
}

void make_canonical_header(unsigned char out[kWavHeaderBytes], int channels, int sample_rate,
                           long long frames) {
  const uint32_t block = static_cast<uint32_t>(channels) * 2;
  // The length the input claims, if a header can hold it; a run that writes
  // another length has its header told at the end.
  const long long most = (0xffffffffLL - 36) / (block ? block : 1);
  const uint32_t data = static_cast<uint32_t>((frames > 0 ? (frames < most ? frames : most) : 0) * block);
  memcpy(out, "RIFF", 4);
  store_le(out + 4, data + 36, 4);
  memcpy(out + 8, "WAVEfmt ", 8);
  store_le(out + 16, 16, 4);
  store_le(out + 20, 1, 2);
  store_le(out + 22, static_cast<uint16_t>(channels), 2);
  store_le(out + 24, static_cast<uint32_t>(sample_rate), 4);
  store_le(out + 28, static_cast<uint32_t>(sample_rate) * block, 4);
  store_le(out + 32, static_cast<uint16_t>(block), 2);
  store_le(out + 34, 16, 2);
  memcpy(out + 36, "data", 4);
  store_le(out + 40, data, 4);
}

void report_unreadable(const char *path, const SoundFile &decoded) {
  printf("'%s': %s. aborting.\n", path ? path : "input", decoded.reason);
}

bool same_file(const char *a, const char *b) {
  if (!a || !b) return false;
  struct stat sa, sb;
  if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool output_is_safe(const char *output, const char *input, const char *other_input) {
  if (same_file(output, input) || same_file(output, other_input)) {
    printf("output '%s' is the same file as an input. aborting.\n", output);
    return false;
  }
  return true;
}

namespace {

// Where a path will lead once made: its folder's real path and its last part.
std::string intended_place(const char *path) {
  std::string p = path;
  size_t slash = p.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
  std::string base = slash == std::string::npos ? p : p.substr(slash + 1);
  char real[PATH_MAX];
  if (!realpath(dir.c_str(), real)) return p;
  return std::string(real) + "/" + base;
}

bool same_place(const char *a, const char *b) {
  if (!a || !b) return false;
  struct stat sa, sb;
  const bool ha = stat(a, &sa) == 0, hb = stat(b, &sb) == 0;
  if (ha && hb) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (ha || hb) return false;
  return intended_place(a) == intended_place(b);
}

}  // namespace

bool written_file_is_safe(const char *kind, const char *written, const char *const *inputs, int count,
                          const char *inputs_kind) {
  for (int i = 0; i < count; ++i)
    if (same_place(written, inputs[i])) {
      printf("%s '%s' is the same file as %s. aborting.\n", kind, written, inputs_kind);
      return false;
    }
  return true;
}

FILE *open_sound_input(const char *path, bool *refused) {
  FILE *f = nullptr;
  *refused = open_file(path, "rb", &f) == SideFile::NotRegular;
  if (*refused) report_not_regular(path);
  return f;
}

void report_write_failure(const char *path, int err) {
  printf("cannot write output file '%s' (%s). aborting.\n", path, err ? strerror(err) : "short write");
}

bool close_written_file(FILE *f, const char *path) {
  if (!f) return true;
  // The flush retries what an earlier write left behind, with a fresh errno.
  int err = 0;
  errno = 0;
  if (fflush(f) != 0) err = errno ? errno : EIO;
  if (!err && ferror(f)) err = EIO;
  errno = 0;
  if (fclose(f) != 0 && !err) err = errno ? errno : EIO;
  if (err) {
    report_write_failure(path, err);
    return false;
  }
  return true;
}

bool WavPair::open(FILE *in, const char *in_path, const char *out_path, int frames,
                   WavVariant variant, const char *other_path) {
  return read_header(in, in_path) && finish_open(in_path, out_path, frames, variant, other_path);
}

bool WavPair::read_header(FILE *in, const char *in_path) {
  release();
  input = in;
  WavHeader h;
  size_t got = is_directory(in) ? 0 : fread(h.bytes, 1, kWavHeaderBytes, in);
  if (got < static_cast<size_t>(kWavHeaderBytes)) {
    printf("not a valid WAV file. aborting.\n");
    return false;
  }
  if (!is_canonical_wav(h, file_size(in))) {
    if (!decoded.open(in)) {
      report_unreadable(in_path, decoded);
      return false;
    }
    sample_rate = decoded.sample_rate;
    channels = decoded.channels;
    bits_per_sample = decoded.bits_per_sample;
    make_canonical_header(header, channels, sample_rate, decoded.frames);
    report_format(decoded);
    report_channels(channels);
    return true;
  }
  memcpy(header, h.bytes, kWavHeaderBytes);
  sample_rate = h.sample_rate();
  channels = h.channels();
  bits_per_sample = h.bits_per_sample();
  printf("samplerate: %d\n", sample_rate);
  printf("bits/sample: %d\n", bits_per_sample);
  report_channels(channels);
  return true;
}

bool WavPair::finish_open(const char *in_path, const char *out_path, int frames,
                          WavVariant variant, const char *other_path) {
  if (variant != WavVariant::OptionalOutput && !out_path) {
    printf("no output file given. aborting.\n");
    return false;
  }
  if (out_path) {
    if (!output_is_safe(out_path, in_path, other_path)) return false;
    const SideFile how = open_file(out_path, "wb+", &output);
    out_name = out_path;
    write_errno = 0;
    if (how == SideFile::NotRegular) {
      report_not_regular(out_path);
      return false;
    }
    if (!output) {
      printf("cannot create output file '%s'. aborting.\n", out_path);
      return false;
    }
    setvbuf(output, nullptr, _IOFBF, 1 << 16);
    if (fwrite(header, 1, kWavHeaderBytes, output) < static_cast<size_t>(kWavHeaderBytes)) {
      printf("not a valid WAV file. aborting.\n");
      return false;
    }
    if (variant == WavVariant::Codebook) printf("Output file prepared...[OK]\n");
    track_output(this);
  }
  block_frames = frames > 0 ? frames : 1;
  size_t n = static_cast<size_t>(block_frames) * frame_samples();
  in_block = static_cast<int16_t *>(calloc(n, sizeof(int16_t)));
  out_block = static_cast<int16_t *>(calloc(n, sizeof(int16_t)));
  if (!in_block || !out_block || (decoded.is_open() && !decoded.allocate(block_frames))) {
    printf("not enough memory for %d-frame blocks. aborting.\n", block_frames);
    return false;
  }
  if (variant != WavVariant::Codebook) printf("audio I/O ok\n");
  return true;
}

int WavPair::read_block(double *values, int frames) {
  if (!in_block || frames <= 0) return 0;
  if (frames > block_frames) frames = block_frames;
  if (decoded.is_open()) {
    const int n = decoded.read(frames);
    for (int i = 0; i < n; ++i)
      values[i] = channels == 2 ? (decoded.value(i, 0) + decoded.value(i, 1)) * 0.5 : decoded.value(i, 0);
    return n;
  }
  const int fs = frame_samples();
  size_t bytes = fread(in_block, 1, static_cast<size_t>(frames) * fs * 2, input);
  int n = static_cast<int>(bytes / (static_cast<size_t>(fs) * 2));
  for (int i = 0; i < n; ++i) {
    const int16_t *s = in_block + static_cast<size_t>(i) * fs;
    if (channels == 2)
      values[i] = (s[0] * static_cast<double>(kSampleScale) + s[1] * static_cast<double>(kSampleScale)) * 0.5;
    else
      values[i] = sample_to_value(s[0]);
  }
  return n;
}

int WavPair::write_block(const double *values, int frames) {
  if (!out_block || !output || frames <= 0) return 0;
  if (frames > block_frames) frames = block_frames;
  const int fs = frame_samples();
  for (int i = 0; i < frames; ++i) {
    int16_t *s = out_block + static_cast<size_t>(i) * fs;
    s[0] = value_to_sample(values[i]);
    if (channels == 2) s[1] = s[0];
    // Further channels of a multi-channel file stay silent.
  }
  const size_t want = static_cast<size_t>(frames) * fs * 2;
  errno = 0;
  size_t bytes = fwrite(out_block, 1, want, output);
  data_bytes += static_cast<long long>(bytes);
  if (bytes < want && !write_errno) write_errno = errno ? errno : EIO;
  return static_cast<int>(bytes / (static_cast<size_t>(fs) * 2));
}

namespace {

void failure_line(const char *path, int err, int dots) {
  if (dots > 0) putchar('\n');
  report_write_failure(path, err);
}

}  // namespace

namespace {

void put_le32(unsigned char *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

std::atomic<int> g_stop_transforms{0};

namespace {

// An output given up on (a write failed, or the run ended early): what
// reached the file, cut to whole frames, is what its header tells, as a
// finished run's does. What the disk would not take is dropped, so nothing
// lands after the header is mended. The sample bytes it then holds; -1 when
// there is nothing to mend (no regular file, or not even a header) or it
// cannot be done.
long long leave_true_sizes(FILE *f, int frame_bytes) {
  fflush(f);
  __fpurge(f);
  const int fd = fileno(f);
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < kWavHeaderBytes) return -1;
  long long data = st.st_size - kWavHeaderBytes;
  data -= data % frame_bytes;
  if (ftruncate(fd, kWavHeaderBytes + data) != 0) return -1;
  const long long most = 0xffffffffLL - 36;
  const uint32_t told = static_cast<uint32_t>(data > most ? most : data);
  unsigned char riff[4], size[4];
  put_le32(riff, told + 36);
  put_le32(size, told);
  // Rewriting bytes the file already holds needs no room on the disk;
  // pwrite leaves the stream's position alone.
  if (pwrite(fd, riff, 4, 4) != 4 || pwrite(fd, size, 4, 40) != 4) return -1;
  return data;
}

// The output being written, for the way out. The guard is held while it is
// changed, and kept by the way out once it has taken the output over.
pthread_mutex_t g_output_guard = PTHREAD_MUTEX_INITIALIZER;
WavPair *g_tracked_output = nullptr;

void track_output(WavPair *pair) {
  pthread_mutex_lock(&g_output_guard);
  g_tracked_output = pair;
  pthread_mutex_unlock(&g_output_guard);
}

void untrack_output(WavPair *pair) {
  pthread_mutex_lock(&g_output_guard);
  if (g_tracked_output == pair) g_tracked_output = nullptr;
  pthread_mutex_unlock(&g_output_guard);
}

}  // namespace

void finish_abandoned_output() {
  pthread_mutex_lock(&g_output_guard);  // never given back: the process ends
  WavPair *p = g_tracked_output;
  if (!p || !p->output) return;
  FILE *f = p->output;
  // A transform stuck inside a write of this very file holds its lock.
  if (ftrylockfile(f) != 0) {
    printf("\nstopped: the program is ending; '%s' could not be finished.\n", p->out_name ? p->out_name : "");
    return;
  }
  const long long data = leave_true_sizes(f, 2 * p->frame_samples());
  funlockfile(f);
  if (data >= 0)
    printf("\nstopped: the program is ending; '%s' holds the %lld frames made so far.\n",
           p->out_name ? p->out_name : "", data / (2LL * p->frame_samples()));
  else
    printf("\nstopped: the program is ending; '%s' could not be finished.\n", p->out_name ? p->out_name : "");
}

bool WavPair::tell_length() {
  // The copied header claims the input's length; a run that wrote less (a
  // last partial block, or a run cut short) must not leave it claiming more.
  const uint32_t data = data_bytes > 0xffffffffLL - 36 ? 0xffffffffu - 36 : static_cast<uint32_t>(data_bytes);
  const uint32_t claimed = static_cast<uint32_t>(header[40]) | static_cast<uint32_t>(header[41]) << 8 |
                           static_cast<uint32_t>(header[42]) << 16 | static_cast<uint32_t>(header[43]) << 24;
  if (data == claimed) return true;
  unsigned char riff[4], size[4];
  put_le32(riff, data + 36);
  put_le32(size, data);
  const long end = ftell(output);
  bool ok = fflush(output) == 0 && fseek(output, 4, SEEK_SET) == 0 && fwrite(riff, 1, 4, output) == 4 &&
            fseek(output, 40, SEEK_SET) == 0 && fwrite(size, 1, 4, output) == 4;
  if (end >= 0) fseek(output, end, SEEK_SET);
  return ok;
}

bool WavPair::cut_short(int dots) {
  if (dots > 0) putchar('\n');
  if (!output) {
    printf("stopped: the program is ending.\n");
    return false;
  }
  bool ok = tell_length();
  untrack_output(this);
  ok = fclose(output) == 0 && ok;
  output = nullptr;
  if (ok)
    printf("stopped: the program is ending; '%s' holds the %lld frames made so far.\n", out_name ? out_name : "",
           data_bytes / (2LL * frame_samples()));
  else
    printf("stopped: the program is ending; '%s' could not be finished.\n", out_name ? out_name : "");
  return false;
}

bool WavPair::write_checked(const double *values, int frames, int dots) {
  if (g_stop_transforms.load(std::memory_order_acquire)) return cut_short(dots);
  if (!output) return true;
  if (frames <= 0) return true;
  if (write_block(values, frames) == frames && !write_errno) return true;
  failure_line(out_name, write_errno ? write_errno : EIO, dots);
  return false;
}

bool WavPair::close_output(int dots) {
  if (!output) return true;
  untrack_output(this);
  FILE *f = output;
  output = nullptr;
  int err = write_errno;
  errno = 0;
  if (fflush(f) != 0 && !err) err = errno ? errno : EIO;
  if (!err && ferror(f)) err = EIO;
  if (!err) {
    // Not every output can seek (a pipe): its header then stays as copied.
    output = f;
    tell_length();
    output = nullptr;
    errno = 0;
    if (fflush(f) != 0) err = errno ? errno : EIO;
  }
  if (err) leave_true_sizes(f, 2 * frame_samples());
  errno = 0;
  if (fclose(f) != 0 && !err) err = errno ? errno : EIO;
  if (err) {
    failure_line(out_name, err, dots);
    return false;
  }
  return true;
}

void WavPair::release() {
  decoded.close();
  free(in_block);
  free(out_block);
  in_block = out_block = nullptr;
  untrack_output(this);
  // Still open here: the run did not finish.
  if (output) {
    leave_true_sizes(output, 2 * frame_samples());
    fclose(output);
  }
  output = nullptr;
}

int AcqReader::open_input(const char *path, bool report) {
  FILE *f = nullptr;
  const SideFile how = open_file(path, "rb", &f);
  return open_input(path, f, how, report);
}

int AcqReader::open_input(const char *path, FILE *opened, SideFile how, bool report) {
  close();
  block_bytes = kBlockBytes;
  decoded_frames = kDecodedFrames;
  file = opened;
  if (!file) {
    if (!report) return 1;
    if (how == SideFile::NotRegular)
      report_not_regular(path);
    else
      printf("file not found '%s'. aborting.\n", path);
    return 1;
  }
  WavHeader h;
  if (fread(h.bytes, 1, kWavHeaderBytes, file) < static_cast<size_t>(kWavHeaderBytes)) {
    if (report) printf("not a valid WAV file. aborting.\n");
    close();
    return 2;
  }
  block_pos = kBlockBytes;
  if (!is_canonical_wav(h, file_size(file))) {
    if (!decoded.open(file) || !decoded.allocate(kDecodedFrames)) {
      if (decoded.is_open()) snprintf(decoded.reason, sizeof decoded.reason, "not enough memory to decode it");
      if (report) report_unreadable(path, decoded);
      close();
      return 3;
    }
    sample_rate = decoded.sample_rate;
    channels = decoded.channels;
    bits_per_sample = decoded.bits_per_sample;
    decoded_pos = kDecodedFrames;
    decoded_ahead = decoded.read(kDecodedFrames);
    if (report) {
      report_format(decoded);
      report_channels(channels);
    }
    return 0;
  }
  sample_rate = h.sample_rate();
  channels = h.channels();
  bits_per_sample = h.bits_per_sample();
  if (!report) return 0;
  printf("samplerate: %d\n", sample_rate);
  if (bits_per_sample == 0)
    printf("bits/sample: auto\n");
  else
    printf("bits/sample: %d\n", bits_per_sample);
  report_channels(channels);
  return 0;
}

bool AcqReader::next_block() {
  if (!file) return false;
  if (decoded.is_open()) {
    const int got = decoded_ahead >= 0 ? decoded_ahead : decoded.read(kDecodedFrames);
    decoded_ahead = -1;
    if (got < (keep_tail ? 1 : kDecodedFrames)) return false;
    decoded_frames = got;
    block_pos = 0;
    decoded_pos = 0;
    return true;
  }
  const int got = static_cast<int>(fread(block, 1, kBlockBytes, file));
  if (got < kBlockBytes && !(keep_tail && got >= frame_bytes())) return false;
  block_bytes = got == kBlockBytes ? kBlockBytes : got - got % frame_bytes();
  block_pos = 0;
  return true;
}

bool AcqReader::next_frame(double &left, double &right) {
  if (decoded.is_open()) {
    if (decoded_pos >= decoded_frames && !next_block()) return false;
    block_frame(decoded_pos++, left, right);
    return true;
  }
  const int fb = frame_bytes();
  // A frame that would straddle the block's end starts the next block.
  if (block_pos + fb > block_bytes && !next_block()) return false;
  left = sample_to_value(sample_at(block, block_pos));
  right = channels <= 1 ? left : sample_to_value(sample_at(block, block_pos + 2));
  block_pos += fb;
  return true;
}

void AcqReader::block_frame(int i, double &left, double &right) const {
  if (decoded.is_open()) {
    left = decoded.value(i, 0);
    right = channels > 1 ? decoded.value(i, 1) : left;
    return;
  }
  const int p = i * frame_bytes();
  left = sample_to_value(sample_at(block, p));
  right = channels > 1 ? sample_to_value(sample_at(block, p + 2)) : left;
}

void AcqReader::close() {
  decoded.close();
  decoded_ahead = -1;
  if (file) fclose(file);
  file = nullptr;
}
