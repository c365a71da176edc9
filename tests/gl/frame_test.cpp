// The display callback's dispatch by graph type, and no allocation in the
// analysis and drawing of configured slots.
#include <gtest/gtest.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <malloc.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "console/console.h"
#include "display/analyser.h"
#include "display/graphs.h"
#include "display/spectrum_graphs.h"
#include "display/text.h"
#include "harmonic/harmonic.h"
#include "media/transform_view.h"
#include "tests/gl/gl_capture.h"

using namespace glcap;

// Allocation counting on the measuring thread. Sanitizer builds bring their
// own allocator, so there only operator new is counted. The X and GL
// libraries allocate on their own while a frame is swapped; an allocation
// with one of them on its stack is counted apart.
namespace {
thread_local bool t_counting = false;
std::atomic<long> g_allocations{0};
std::atomic<long> g_driver_allocations{0};

bool driver_library(const void *pc) {
  Dl_info info;
  if (!dladdr(pc, &info) || !info.dli_fname) return false;
  static const char *const kDriver[] = {"libGL", "libX11", "libxcb", "dri", "libglapi", "libLLVM", "libgallium",
                                        "libglut", "libEGL", "libdrm", "libXext"};
  for (const char *d : kDriver)
    if (strstr(info.dli_fname, d)) return true;
  return false;
}

inline void note_allocation() {
  if (!t_counting) return;
  t_counting = false;  // backtrace and dladdr must not count themselves
  void *frames[48];
  int n = backtrace(frames, 48);
  bool driver = false;
  for (int i = 1; i < n && !driver; ++i) driver = driver_library(frames[i]);
  (driver ? g_driver_allocations : g_allocations).fetch_add(1, std::memory_order_relaxed);
  t_counting = true;
}
}  // namespace

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void *__libc_memalign(size_t, size_t);
void *malloc(size_t n) {
  note_allocation();
  return __libc_malloc(n);
}
void *calloc(size_t n, size_t s) {
  note_allocation();
  return __libc_calloc(n, s);
}
void *realloc(void *p, size_t n) {
  note_allocation();
  return __libc_realloc(p, n);
}
int posix_memalign(void **out, size_t align, size_t n) {
  note_allocation();
  void *p = __libc_memalign(align, n);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}
void *aligned_alloc(size_t align, size_t n) {
  note_allocation();
  return __libc_memalign(align, n);
}
void *memalign(size_t align, size_t n) {
  note_allocation();
  return __libc_memalign(align, n);
}
}
constexpr bool kCountsMalloc = true;
#else
// Sanitizers own the allocator (and the GL driver mixes their operator new
// with free): nothing is replaced, and the test below says so.
constexpr bool kCountsMalloc = false;
#endif

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
void *operator new(size_t n) {
  note_allocation();
  bool was = t_counting;
  t_counting = false;  // the malloc below is the same allocation
  void *p = malloc(n ? n : 1);
  t_counting = was;
  if (!p) abort();
  return p;
}
void *operator new[](size_t n) { return operator new(n); }
void operator delete(void *p) noexcept { free(p); }  // NOLINT
void operator delete[](void *p) noexcept { free(p); }
void operator delete(void *p, size_t) noexcept { free(p); }
void operator delete[](void *p, size_t) noexcept { free(p); }
#endif

namespace {

struct Call {
  int count = 0;
  int slot = -1;
  Analyser *analyser = reinterpret_cast<Analyser *>(1);
  AnalysisLog *log = reinterpret_cast<AnalysisLog *>(1);
};
Call g_call;

void recording_renderer(graphs_t &, int slot_index, Analyser *a, DisplaySlot &, AnalysisLog *log) {
  ++g_call.count;
  g_call.slot = slot_index;
  g_call.analyser = a;
  g_call.log = log;
}

// The display callback draws once per new processor-clock value.
void next_clock() {
  clock_t now = clock();
  while (clock() == now) {
  }
}

Capture frame() {
  next_clock();
  return capture([] { display_frame(); });
}

class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_display()) GTEST_SKIP() << "DISPLAY is not set";
    open_window();
    standard_view();
    install_display_graphs();
    install_harmonic_graphs();
    install_media_graphs();
    install_analysis_logs();
    saved_transform = g_graph_types[kGraphTransform];
    for (DisplaySlot &s : g_graphs.slots) s = DisplaySlot{};
  }
  void TearDown() override {
    for (DisplaySlot &s : g_graphs.slots) s = DisplaySlot{};
    g_graph_types[kGraphTransform] = saved_transform;
  }
  // Draws type 9 with the given renderer.
  void draw_transform_with(Renderer r) { g_graph_types[kGraphTransform].draw = r; }
  GraphType saved_transform{};
};

TEST_F(Frame, InstalledTypesCarryTheirRenderers) {
  EXPECT_EQ(g_graph_types[kGraphFft].draw, &draw_fft);
  EXPECT_EQ(g_graph_types[kGraphC5].draw, &draw_c5);
  EXPECT_EQ(g_graph_types[kGraphC5c].draw, &draw_c5c);
  EXPECT_EQ(g_graph_types[kGraphHide].draw, nullptr);
}

TEST_F(Frame, NoVisibleSlotShowsTheIdleScreen) {
  Capture idle = capture([] { draw_idle_screen(g_graphs); });
  ASSERT_FALSE(idle.lines.empty());
  Capture c = frame();
  EXPECT_EQ(c.lines.size(), idle.lines.size());
  EXPECT_EQ(missing_lines(c.lines, idle.lines), 0);

  // A spectrum type without an analyser is not drawn either.
  g_graphs.slots[2].type = kGraphFft;
  Capture d = frame();
  EXPECT_EQ(d.lines.size(), idle.lines.size());
  EXPECT_TRUE(d.triangles.empty());
}

TEST_F(Frame, TransformTypeDrawsWithoutAnalyserThroughTheTable) {
  draw_transform_with(recording_renderer);
  g_graphs.slots[3].type = kGraphTransform;
  g_call = Call{};
  Capture c = frame();
  EXPECT_EQ(g_call.count, 1);
  EXPECT_EQ(g_call.slot, 3);
  EXPECT_EQ(g_call.analyser, nullptr);
  ASSERT_NE(g_graphs.logs[3], nullptr);
  EXPECT_EQ(g_call.log, g_graphs.logs[3]);  // the slot's own log
  EXPECT_TRUE(c.lines.empty()) << "idle screen drawn beside a visible slot";
}

TEST_F(Frame, AVisibleTypeWithNoRendererYetStillCountsAsDrawn) {
  draw_transform_with(nullptr);
  g_graphs.slots[3].type = kGraphTransform;  // nothing to draw with
  Capture c = frame();
  EXPECT_TRUE(c.lines.empty());
  EXPECT_TRUE(c.triangles.empty());
}

TEST_F(Frame, ConfiguredSlotsAnalyseAndDrawWithoutAllocating) {
  if (!kCountsMalloc) GTEST_SKIP() << "allocation counting needs the plain allocator (sanitizer build)";
  graphs_t &m = g_graphs;
  const int types[4] = {kGraphFft, kGraphC5, kGraphC5c, kGraphW2d};
  for (int i = 0; i < 4; ++i) {
    m.slots[i].type = types[i];
    m.slots[i].scale = 1;
    m.slots[i].x = i % 2 ? 0.2 : -1.2;
    m.slots[i].y = i < 2 ? -1 : 1;
    m.prepare_slot(i);
    ASSERT_NE(m.analysers[i], nullptr);
  }
  EXPECT_EQ(m.slots[0].tuning_bin, 5);
  ASSERT_NE(m.analysers[3]->w2d_scratch, nullptr);
  for (int r = 0; r < 4; ++r)
    for (int k = 0; k < kRingLength; ++k)
      m.feed->window[r][k].store(0.5 * sin(2 * M_PI * (20 + 10 * r) * k / 512.0), std::memory_order_relaxed);

  auto one_frame = [&] {
    {
      GuiLock lock(m);
      analyse_slots(m);
    }
    next_clock();
    display_frame();
  };
  for (int i = 0; i < 3; ++i) one_frame();
  void *warm[4];
  backtrace(warm, 4);  // loads its unwinder outside the count
  g_allocations = 0;
  t_counting = true;
  for (int i = 0; i < 20; ++i) {
    one_frame();
    idle_step();
  }
  t_counting = false;
  EXPECT_EQ(g_allocations.load(), 0) << (kCountsMalloc ? "malloc and new" : "new only");
  printf("allocations over 20 frames: ours %ld, X/GL libraries %ld\n", g_allocations.load(),
         g_driver_allocations.load());

  // The frames drew the analysed spectra: the tone of ring 0 at bin 20.
  EXPECT_GT(m.analysers[0]->history[19], 50);
  EXPECT_GT(m.analysers[0]->history[512 * 22 + 19], 50);
  next_clock();
  Capture c = capture([] { display_frame(); }, 12 << 20);
  EXPECT_GT(c.triangles.size(), 255u * 2 * 255);
  // Slot 1 (c5, odd) reads the upper half of its rows.
  EXPECT_GT(m.analysers[1]->history[256 + 29], 50);
  EXPECT_EQ(m.analysers[1]->history[29], 0);

  // The counter itself works.
  g_allocations = 0;
  t_counting = true;
  void *volatile p = malloc(10);  // volatile: the pair must not be folded away
  int *q = new int(3);
  t_counting = false;
  free(p);
  delete q;
  EXPECT_EQ(g_allocations.load(), 2);
}

}  // namespace
