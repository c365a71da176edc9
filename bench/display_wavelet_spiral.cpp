// Speed of the spiral, wlet and w2d slots: the analysis cost per frame of a
// w2d and a wlet slot (against a bare FFT, with w2d's step taken apart), and
// the window's frame time with one slot of each type while a file plays,
// against a bare loop that submits the same vertices from arrays made
// beforehand. Needs DISPLAY for the frame times (Xvfb + Mesa) and the sound
// card of tests/support/asound.conf (ALSA_CONFIG_PATH).
#include <GL/freeglut.h>
#include <GL/freeglut_ext.h>
#include <fftw3.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/analyser.h"
#include "bench/bench_window.h"
#include "display/graphs.h"
#include "display/text.h"
#include "harmonic/harmonic.h"
#include "options/options.h"

namespace {

using Clock = std::chrono::steady_clock;
double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

double thread_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// Processor time of this thread: on a shared machine the wall clock mostly
// measures the other processes.
template <class F>
double micros_per_call(int calls, F f) {
  for (int i = 0; i < calls / 10 + 1; ++i) f();
  double t0 = thread_seconds();
  for (int i = 0; i < calls; ++i) f();
  return (thread_seconds() - t0) / calls * 1e6;
}

void fill_rings() {
  unsigned seed = 1;
  DataFeed &f = *g_graphs.feed;
  for (int r = 0; r < kRings; ++r)
    for (int k = 0; k < kRingLength; ++k) {
      seed = seed * 1103515245u + 12345u;
      double v = ((seed >> 8) & 0xffff) / 32768.0 - 1;
      f.window[r][k].store(v, std::memory_order_relaxed);
      if (f.wavelet[r]) f.push_wavelet(r, v);
    }
}

void only_slot(int slot, int type) {
  graphs_t &m = g_graphs;
  for (int i = 0; i < kDisplays; ++i) m.slots[i].type = kGraphHide;
  m.slots[slot].type = type;
  m.prepare_slot(slot);
  for (int i = 0; i < kDisplays; ++i)
    if (i != slot) {
      delete m.analysers[i];
      m.analysers[i] = nullptr;
    }
}

void bench_analysis() {
  graphs_t &m = g_graphs;
  DataFeed &f = *m.feed;
  delete[] f.wavelet[2];
  f.wavelet[2] = new std::atomic<double>[kWaveletSize]();
  fill_rings();
  const int frames = 4000;

  // Baseline: one bare 512-point transform with its magnitudes.
  double *in = static_cast<double *>(fftw_malloc(sizeof(double) * 512));
  double *out = static_cast<double *>(fftw_malloc(sizeof(double) * 512));
  fftw_plan p = fftw_plan_r2r_1d(512, in, out, FFTW_R2HC, FFTW_ESTIMATE);
  for (int k = 0; k < 512; ++k) in[k] = sin(k * 0.1);
  double mags[256], sink = 0;
  double fft = micros_per_call(frames * 5, [&] {
    fftw_execute(p);
    for (int k = 1; k < 256; ++k) mags[k] = std::sqrt(out[k] * out[k] + out[512 - k] * out[512 - k]);
    sink += mags[7];
  });
  fftw_destroy_plan(p);
  fftw_free(in);
  fftw_free(out);
  printf("\n(processor time of the analysing thread)\nbare FFT with magnitudes: %.2f us%s\n", fft,
         sink == 0.123 ? " " : "");

  only_slot(3, kGraphW2d);
  double w2d = micros_per_call(frames, [&] { analyse_slots(m); });
  printf("analysis, one w2d slot: %.1f us per frame (%.1fx a bare FFT)\n", w2d, w2d / fft);
  // For comparison, on the same buffers: what the spectrogram's scroll, its
  // plain copy into the history and the pyramid done by rows and gathered
  // columns would cost (the step keeps the spectrogram as a ring and copies
  // it into the history through the pyramid's first level instead).
  Analyser &a = *m.analysers[3];
  const size_t row = sizeof(double) * a.n;
  double scroll = micros_per_call(frames / 4, [&] { memmove(a.w2d_scratch + a.n, a.w2d_scratch, row * 255); });
  double copy = micros_per_call(frames / 4, [&] { memcpy(a.history, a.w2d_scratch, row * 256); });
  double pyramid = micros_per_call(frames / 4, [&] { haar_2d(a.history, a.n, 256, a.w2d_row, a.w2d_col); });
  printf("  instead of: scroll %.1f us + copy %.1f us + pyramid by gathered columns %.1f us = %.1f us\n", scroll, copy,
         pyramid, scroll + copy + pyramid);

  g_options.set(2, "wlet.detail", "0");
  only_slot(2, kGraphWlet);
  double wlet = micros_per_call(frames, [&] { analyse_slots(m); });
  g_options.set(2, "wlet.detail", "1");
  only_slot(2, kGraphWlet);
  double detail = micros_per_call(frames, [&] { analyse_slots(m); });
  g_options.set(2, "wlet.detail", "0");
  printf("analysis, one wlet slot: %.1f us per frame, %.1f us in detail mode (%.1fx and %.1fx a bare FFT; "
         "nine levels)\n", wlet, detail, wlet / fft, detail / fft);
  for (int i = 0; i < kDisplays; ++i) m.slots[i].type = kGraphHide;
}

// What a bare loop submits: batches of vertices with their colours, and the
// same texts.
struct Batch {
  GLenum mode;
  std::vector<float> v;  // x y z r g b a per vertex
  void add(double x, double y, double z, double r, double g, double b, double a = 1) {
    for (double e : {x, y, z, r, g, b, a}) v.push_back(static_cast<float>(e));
  }
};
struct Label {
  double x, y, z;
  bool turned;  // the spoke labels lie in the horizontal plane
  float size;
  std::string text;
};
struct Scene {
  std::vector<Batch> batches;
  std::vector<Label> labels;
  bool blend = false;
  int vertices() const {
    size_t n = 0;
    for (const Batch &b : batches) n += b.v.size() / 7;
    return static_cast<int>(n);
  }
};

double amp(double gain, double m) { return 1 - exp(-gain * m); }

Scene spiral_scene(const DisplaySlot &s, const Analyser &a, int slot) {
  Scene sc;
  Batch strip{GL_QUAD_STRIP, {}};
  const int b0 = static_cast<int>(s.tuning_bin), n = 256 - b0, h = slot % 2 ? 256 : 0;
  for (int e = 0; e < n; ++e) {
    double angle = 2 * M_PI * log2(1 + static_cast<double>(e) / b0), w = -1 + 2.0 * e / n;
    double c = amp(0.1 * s.scale, 2 * a.history[h + b0 + e]);
    strip.add(s.x + 0.05 * sin(angle), w, s.y + 0.05 * cos(angle), c, c * c, 2 * (c - 0.5) * (c - 0.5));
    strip.add(s.x + 0.1 * (1 + c) * sin(angle), w, s.y + 0.1 * (1 + c) * cos(angle), c, c * c, 2 * (c - 0.5) * (c - 0.5));
  }
  sc.batches.push_back(strip);
  return sc;
}

Scene wlet_scene(const DisplaySlot &s, const Analyser &a) {
  Scene sc;
  const double x = s.x, y = s.y;
  const int o = static_cast<int>(s.tuning_bin), t = (4 * o >= 256 || o < 1) ? 64 : o;
  Batch axis{GL_LINES, {}};
  axis.add(x, -1, y, 1, 1, 1);
  axis.add(x, 1, y, 1, 1, 1);
  sc.batches.push_back(axis);
  const char *names[4] = {"TONICA", "V", "OCTAVE", "V '"};
  for (int k = 0; k < 4; ++k) {
    double th = k * M_PI / 2, ix = x + 0.1 * sin(th), iz = y + 0.1 * cos(th), ox = x + 1.1 * sin(th),
           oz = y + 1.1 * cos(th);
    Batch loop{GL_LINE_LOOP, {}};
    loop.add(ix, -1, iz, 1, 1, 1);
    loop.add(ox, -1, oz, 1, 1, 1);
    loop.add(ox, 1, oz, 1, 1, 1);
    loop.add(ix, 1, iz, 1, 1, 1);
    sc.batches.push_back(loop);
    sc.labels.push_back({k % 2 ? ox : ox - 0.08, -1.1, oz, true, 0.05f, names[k]});
  }
  Batch ticks{GL_LINES, {}};
  for (int k = 0; k < 21; ++k) {
    ticks.add(x - 0.01, -1 + 0.1 * k, y, 1, 1, 1);
    ticks.add(x - 0.11, -1 + 0.1 * k, y, 1, 1, 1);
  }
  sc.batches.push_back(ticks);
  for (int k = 0; k < 9; ++k)
    sc.labels.push_back({x - 0.13, -1 + k * 2.0 / 9 + 0.05, y, false, 0.04f, std::string(1, static_cast<char>('r' + k))});
  for (int r = 1; r < 9; ++r) {
    Batch strip{GL_QUAD_STRIP, {}};
    double hr = -8.0 / 9 + r * 2.0 / 9;
    for (int j = t; j <= 4 * t; ++j) {
      int k = j == 4 * t ? t : j;
      double phi = M_PI * log2(static_cast<double>(j) / t);
      double v = amp(s.scale, a.history[(r - 1) * 512 + k]), w = amp(s.scale, a.history[r * 512 + k]);
      strip.add(x + v * sin(phi), hr - 2.0 / 9, y + v * cos(phi), v, (hr + 1) / 2, 4 * (v - 0.5) * (v - 0.5));
      strip.add(x + w * sin(phi), hr, y + w * cos(phi), w, (hr + 1) / 2, 4 * (w - 0.5) * (w - 0.5));
    }
    sc.batches.push_back(strip);
  }
  return sc;
}

Scene w2d_scene(const DisplaySlot &s, const Analyser &a, double nyquist) {
  Scene sc;
  sc.blend = true;
  const double x = s.x, y = s.y;
  Batch ticks{GL_LINES, {}};
  for (int k = 0; k < 11; ++k) {
    ticks.add(x + 0.1 * k, -1.05, 0, 1, 1, 1);
    ticks.add(x + 0.1 * k, -1.1, 0, 1, 1, 1);
  }
  sc.batches.push_back(ticks);
  for (int k = 0; k < 5; ++k) {
    char text[32];
    snprintf(text, sizeof text, "%5.1f", k * 0.2 * nyquist);
    sc.labels.push_back({x + k * 0.2 - 0.01, -1.13, 0, false, 0.02f, text});
  }
  Batch marker{GL_LINE_LOOP, {}};
  double g = s.tuning_bin / 256, lo = x + g, hi = x + std::min(2 * g, 1.0);
  for (double px : {lo, hi})
    for (double py : {1.04, -1.04}) marker.add(px, px == lo ? py : -py, 0, 1, 1, 0);
  sc.batches.push_back(marker);
  const int r0 = s.quadrant & 1, c0 = (s.quadrant & 2) / 2;
  for (int i = 1; i <= 7; ++i) {
    const int cells = 1 << i;
    const double c = 1.0 / cells, z = 0.01 * i;
    Batch quads{GL_QUADS, {}}, stems{GL_LINES, {}};
    for (int j = 0; j < cells; ++j)
      for (int k = 0; k < cells; ++k) {
        double m = a.history[(r0 * cells + j) * 512 + c0 * cells + k], v = amp(s.scale, m * m);
        double xx = x + k * c, yy = y - 1 + j * 2 * c, b = 4 * (v - 0.5) * (v - 0.5);
        if (i == 7) {
          stems.add(xx + c / 2, yy, z + 0.001 + 0.05 * v, v, v * v, b);
          stems.add(xx + c / 2, yy, z + 0.001, v, v * v, b);
        }
        quads.add(xx, yy, z, v, v * v, b, 0.2);
        quads.add(xx + c, yy, z, v, v * v, b, 0.2);
        quads.add(xx + c, yy + 2 * c, z, v, v * v, b, 0.2);
        quads.add(xx, yy + 2 * c, z, v, v * v, b, 0.2);
      }
    if (i == 7) sc.batches.push_back(stems);
    sc.batches.push_back(quads);
  }
  return sc;
}

void submit(const Scene &sc) {
  glPushMatrix();
  for (const Batch &b : sc.batches) {
    if (b.mode == GL_QUADS && sc.blend) {
      glEnable(GL_BLEND);
      glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    glBegin(b.mode);
    // A colour is set when it changes, as the renderers do.
    const float *last = nullptr;
    for (size_t i = 0; i < b.v.size(); i += 7) {
      const float *c = &b.v[i + 3];
      if (!last || memcmp(last, c, 4 * sizeof(float)) != 0) glColor4fv(c);
      last = c;
      glVertex3f(b.v[i], b.v[i + 1], b.v[i + 2]);
    }
    glEnd();
  }
  glDisable(GL_BLEND);
  glColor3f(1, 1, 1);
  for (const Label &l : sc.labels) {
    glPushMatrix();
    glTranslated(l.x, l.y, l.z);
    if (l.turned) glRotatef(90, 1, 0, 0);
    stroke_text(0, 0, 0, l.size, "%s", l.text.c_str());
    glPopMatrix();
  }
  glPopMatrix();
}

// The real path: the idle step's analysis section and the display callback.
// (The file-backed sound card plays far faster than real time, so the
// analysis is driven here; the rings hold the file's last samples.)
double window_frames(double seconds_cap, int frames) {
  graphs_t &m = g_graphs;
  auto t0 = Clock::now();
  int start = g_app.display_frames, drawn = 0;
  while (drawn < frames && seconds_since(t0) < seconds_cap) {
    {
      GuiLock lock(m);
      analyse_slots(m);
    }
    display_frame();
    drawn = g_app.display_frames - start;
  }
  return seconds_since(t0) / (drawn > 0 ? drawn : 1) * 1e3;
}

double bare_frames(const Scene &sc, double seconds_cap, int frames) {
  auto t0 = Clock::now();
  int n = 0;
  while (n < frames && seconds_since(t0) < seconds_cap) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    submit(sc);
    glutSwapBuffers();
    ++n;
  }
  return seconds_since(t0) / n * 1e3;
}

bool open_window() {
  if (!open_bench_window("frame times")) return false;
  standard_bench_view();
  return true;
}

void bench_window() {
  if (!open_window()) return;
  std::string bin = YELM_BINARY_PATH;
  std::string dir = bin.substr(0, bin.rfind('/'));
  std::string wav = dir + "/bench-long-demo.wav";
  if (system((dir + "/mkdemo " + wav + " 60 >/dev/null").c_str()) != 0) {
    printf("frame times: cannot make %s, skipped\n", wav.c_str());
    return;
  }
  graphs_t &m = g_graphs;
  const char *types[] = {"spiral", "spiral", "wlet", "w2d"};  // the first run warms the driver up
  for (int run = 0; run < 4; ++run) {
    // Slot 2 analyses the file's left channel.
    for (int i = 0; i < 4; ++i) g_options.set(i, "style", i == 2 ? types[run] : "hide");
    m.configure(wav.c_str());
    if (!m.feed->stream.load()) {
      printf("frame times: the input did not start, skipped\n");
      return;
    }
    usleep(1500 * 1000);
    m.shutdown();
    window_frames(1, 5);
    const DisplaySlot &s = m.slots[2];
    const Analyser &a = *m.analysers[2];
    Scene sc = s.type == kGraphSpiral ? spiral_scene(s, a, 2)
               : s.type == kGraphWlet ? wlet_scene(s, a)
                                      : w2d_scene(s, a, a.bin_frequency(m.feed->sample_rate, -1));
    // Short turns of each, so both see the same load on a shared machine.
    double real = 0, bare = 0;
    auto t0 = Clock::now();
    int turns = 0;
    while (turns < 60 && seconds_since(t0) < 16) {
      real += window_frames(2, 5);
      bare += bare_frames(sc, 2, 5);
      ++turns;
    }
    real /= turns;
    bare /= turns;
    if (run == 0) continue;
    printf("window, one %s slot: %.2f ms per frame; bare loop, same %d vertices: %.2f ms; %.2fx the bare loop's\n",
           types[run], real, sc.vertices(), bare, real / bare);
  }
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  install_display_graphs();
  install_harmonic_graphs();
  g_options.set(-1, "tuna", "440");
  bench_analysis();
  bench_window();
  quiet_gui();
  return 0;
}
