// Decoding through libsndfile, reading through the caller's FILE.
#include "audio/sound_file.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

namespace {

FILE *as_file(void *user) { return static_cast<FILE *>(user); }

sf_count_t vio_length(void *user) {
  struct stat st;
  if (fstat(fileno(as_file(user)), &st) == 0 && S_ISREG(st.st_mode)) return st.st_size;
  return 0;
}
sf_count_t vio_seek(sf_count_t offset, int whence, void *user) {
  FILE *f = as_file(user);
  if (fseeko(f, offset, whence) != 0) return -1;
  return ftello(f);
}
sf_count_t vio_read(void *ptr, sf_count_t count, void *user) {
  return static_cast<sf_count_t>(fread(ptr, 1, static_cast<size_t>(count), as_file(user)));
}
sf_count_t vio_write(const void *, sf_count_t, void *) { return 0; }
sf_count_t vio_tell(void *user) { return ftello(as_file(user)); }

SF_VIRTUAL_IO g_stdio = {vio_length, vio_seek, vio_read, vio_write, vio_tell};

int sample_width(int subtype) {
  switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
      return 8;
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ALAC_16:
      return 16;
    case SF_FORMAT_ALAC_20:
      return 20;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_ALAC_24:
      return 24;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_ALAC_32:
      return 32;
    case SF_FORMAT_DOUBLE:
      return 64;
    default:
      return 0;
  }
}

// Decoded as reals: integers would clip them or lose their fine steps.
bool real_valued(int subtype) {
  switch (subtype) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
      return true;
    default:
      return false;
  }
}

// The library's name of a format up to its first " (": "FLAC (Free ...)" -> "FLAC".
void library_name(int format, char *out, int capacity) {
  SF_FORMAT_INFO info{};
  info.format = format;
  const char *name = sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.name ? info.name : "?";
  const char *paren = strstr(name, " (");
  int n = paren ? static_cast<int>(paren - name) : static_cast<int>(strlen(name));
  if (n > capacity) n = capacity;
  memcpy(out, name, n);
  out[n] = 0;
}

// "FLAC, 24-bit", "WAV, 32-bit float", "Ogg Vorbis", "WAV, IMA ADPCM"; the
// length it would have had.
int describe(int format, char *out, int capacity) {
  const int major = format & SF_FORMAT_TYPEMASK, subtype = format & SF_FORMAT_SUBMASK;
  const int size = capacity + 1;
  if (major == SF_FORMAT_OGG && subtype == SF_FORMAT_VORBIS) return snprintf(out, size, "Ogg Vorbis");
  if (major == SF_FORMAT_OGG && subtype == SF_FORMAT_OPUS) return snprintf(out, size, "Ogg Opus");
  if (major == SF_FORMAT_MPEG && subtype == SF_FORMAT_MPEG_LAYER_III) return snprintf(out, size, "MP3");
  char container[24];
  if (major == SF_FORMAT_WAVEX)
    snprintf(container, sizeof container, "WAV");  // the extensible layout is still WAV to a user
  else
    library_name(major, container, static_cast<int>(sizeof container) - 1);
  const int width = sample_width(subtype);
  if (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE)
    return snprintf(out, size, "%s, %d-bit float", container, width);
  if (width > 0 && subtype != SF_FORMAT_ULAW && subtype != SF_FORMAT_ALAW)
    return snprintf(out, size, "%s, %d-bit", container, width);
  char codec[24];
  library_name(subtype, codec, static_cast<int>(sizeof codec) - 1);
  return snprintf(out, size, "%s, %s", container, codec);
}

// The library's log names a WAV format tag it does not decode as
// "Format : 0x1234 => Unknown format".
bool unknown_tag(char *out, int capacity) {
  char log[2048] = {};
  sf_command(nullptr, SFC_GET_LOG_INFO, log, sizeof log);
  const char *at = strstr(log, "Format");
  while (at) {
    const char *arrow = strstr(at, "=>");
    const char *line_end = strchr(at, '\n');
    if (arrow && (!line_end || arrow < line_end) && strstr(arrow, "Unknown") == arrow + 3) {
      const char *hex = strstr(at, "0x");
      if (hex && hex < arrow) {
        snprintf(out, capacity + 1, "unsupported sample format (format tag %.*s)", static_cast<int>(arrow - hex - 1),
                 hex);
        return true;
      }
    }
    at = line_end ? strstr(line_end, "Format") : nullptr;
  }
  return false;
}

void explain(int error, char *out, int capacity) {
  if (error == SF_ERR_UNRECOGNISED_FORMAT) {
    snprintf(out, capacity + 1, "not a sound file of a known format");
    return;
  }
  if (unknown_tag(out, capacity)) return;
  // The library's own text, without its closing full stop.
  int n = snprintf(out, capacity + 1, "%s", sf_error_number(error));
  if (n > capacity) n = capacity;
  while (n > 0 && (out[n - 1] == '.' || out[n - 1] == ' ' || out[n - 1] == '\n')) out[--n] = 0;
}

}  // namespace

bool SoundFile::open(FILE *f) {
  close();
  reason[0] = 0;
  if (!f || fseeko(f, 0, SEEK_SET) != 0) {
    snprintf(reason, sizeof reason, "cannot be read from its start");
    return false;
  }
  clearerr(f);
  SF_INFO info{};
  SNDFILE *s = sf_open_virtual(&g_stdio, SFM_READ, &info, f);
  if (!s) {
    explain(sf_error(nullptr), reason, kReasonChars);
    return false;
  }
  if (info.channels <= 0 || info.samplerate <= 0) {
    sf_close(s);
    snprintf(reason, sizeof reason, "no channels or no sample rate");
    return false;
  }
  handle = s;
  file = f;
  sample_rate = info.samplerate;
  channels = info.channels;
  frames = info.frames;
  const int subtype = info.format & SF_FORMAT_SUBMASK;
  bits_per_sample = sample_width(subtype);
  integer = !real_valued(subtype);
  if (describe(info.format, format, kFormatChars) > kFormatChars) format[kFormatChars] = 0;
  // Reals as the file holds them (1.0 is full scale), never rescaled.
  sf_command(s, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
  return true;
}

bool SoundFile::allocate(int block_frames) {
  free(ints);
  free(reals);
  ints = nullptr;
  reals = nullptr;
  block_capacity = 0;
  if (block_frames <= 0 || channels <= 0) return false;
  const size_t n = static_cast<size_t>(block_frames) * channels;
  if (integer)
    ints = static_cast<int32_t *>(calloc(n, sizeof(int32_t)));
  else
    reals = static_cast<double *>(calloc(n, sizeof(double)));
  if (!ints && !reals) return false;
  block_capacity = block_frames;
  return true;
}

int SoundFile::read(int want) {
  if (!handle || want <= 0) return 0;
  if (want > block_capacity) want = block_capacity;
  const sf_count_t got = integer ? sf_readf_int(handle, ints, want) : sf_readf_double(handle, reals, want);
  return got > 0 ? static_cast<int>(got) : 0;
}

void SoundFile::close() {
  if (handle) sf_close(handle);
  handle = nullptr;
  file = nullptr;
  free(ints);
  free(reals);
  ints = nullptr;
  reals = nullptr;
  block_capacity = 0;
}
