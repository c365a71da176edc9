// Writes the bundled example: 20 s of stereo 16-bit 44100 Hz music, a
// I-vi-IV-V progression in C (one chord a second) over a plucked bass line.
// Usage: mkdemo <out.wav> [seconds]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double midi_hz(int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); }

void put16(FILE *f, int v) { fputc(v & 255, f); fputc((v >> 8) & 255, f); }
void put32(FILE *f, uint32_t v) { put16(f, v & 0xffff); put16(f, v >> 16); }

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: mkdemo <out.wav> [seconds]\n");
    return 2;
  }
  const int sr = 44100;
  const double seconds = argc > 2 ? atof(argv[2]) : 20.0;
  const int frames = static_cast<int>(seconds * sr);
  // Chords as MIDI notes (root position triads with the octave), bass roots.
  const int chords[4][4] = {{60, 64, 67, 72}, {57, 60, 64, 69}, {53, 57, 60, 65}, {55, 59, 62, 67}};
  const int bass[4] = {36, 33, 29, 31};
  std::vector<float> left(frames), right(frames);
  for (int t = 0; t < frames; ++t) {
    double time = static_cast<double>(t) / sr;
    int bar = static_cast<int>(time) % 4;
    double in_bar = time - std::floor(time);
    double env = std::exp(-1.5 * in_bar) * std::min(1.0, in_bar * 200.0);
    double l = 0, r = 0;
    for (int k = 0; k < 4; ++k) {
      double f = midi_hz(chords[bar][k]);
      // A few harmonics give the chord a clear spectrum; voices spread in stereo.
      double v = std::sin(2 * M_PI * f * time) + 0.3 * std::sin(4 * M_PI * f * time) +
                 0.1 * std::sin(6 * M_PI * f * time);
      double pan = 0.25 + 0.5 * k / 3.0;
      l += v * (1 - pan);
      r += v * pan;
    }
    // Bass plucks on every half second.
    double beat = time * 2 - std::floor(time * 2);
    double benv = std::exp(-4.0 * beat) * std::min(1.0, beat * 400.0);
    double fb = midi_hz(bass[bar] + (static_cast<int>(time * 2) % 2 ? 12 : 0));
    double b = benv * (std::sin(2 * M_PI * fb * time) + 0.5 * std::sin(4 * M_PI * fb * time));
    left[t] = static_cast<float>(0.09 * env * l + 0.3 * b);
    right[t] = static_cast<float>(0.09 * env * r + 0.3 * b);
  }
  FILE *f = fopen(argv[1], "wb");
  if (!f) {
    perror(argv[1]);
    return 1;
  }
  uint32_t data = static_cast<uint32_t>(frames) * 4;
  fwrite("RIFF", 1, 4, f); put32(f, 36 + data); fwrite("WAVEfmt ", 1, 8, f);
  put32(f, 16); put16(f, 1); put16(f, 2); put32(f, sr); put32(f, sr * 4); put16(f, 4); put16(f, 16);
  fwrite("data", 1, 4, f); put32(f, data);
  for (int t = 0; t < frames; ++t) {
    put16(f, static_cast<int>(std::lround(left[t] * 32767.0)));
    put16(f, static_cast<int>(std::lround(right[t] * 32767.0)));
  }
  return fclose(f) == 0 ? 0 : 1;
}
