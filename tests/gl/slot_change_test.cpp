// A slot that changes type draws its new type (through the way every
// command changes a slot); the ifs pick outlives a new configuration.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "display/analyser.h"
#include "display/graphs.h"
#include "display/viewport.h"
#include "harmonic/harmonic.h"
#include "harmonic/ifs.h"
#include "options/options.h"
#include "tests/gl/gl_capture.h"

using namespace glcap;

namespace {

class SlotChange : public SlotTest {
 protected:
  void SetUp() override {
    SlotTest::SetUp();
    if (IsSkipped()) return;
    install_display_graphs();
    install_harmonic_graphs();
    g_options.release();
    g_options.set(0, "tuna", "440");
  }
  void TearDown() override {
    testing::internal::CaptureStdout();
    g_graphs.release_work(0);
    testing::internal::GetCapturedStdout();
    g_graphs.slots[0] = DisplaySlot{};
    g_options.release();
  }
  // What the whole-file medium commands do to the displays.
  void restyle(const char *style) {
    g_options.set(0, "style", style);
    testing::internal::CaptureStdout();
    g_graphs.read_display_options();
    testing::internal::GetCapturedStdout();
    // Something to draw in every row of the slot's half.
    Analyser *a = g_graphs.analysers[0];
    for (int r = 0; r < Analyser::kHistoryRows; ++r)
      for (int k = 0; k < 256; ++k) a->history[r * 512 + k] = 1e6;
  }
  // Points, lines and polygons the slot's renderer gives, in feedback mode.
  int draw(DisplaySlot &s) {
    std::vector<float> buf(8 << 20);
    glFeedbackBuffer(static_cast<GLsizei>(buf.size()), GL_3D_COLOR, buf.data());
    glRenderMode(GL_FEEDBACK);
    g_graph_types[s.type].draw(g_graphs, 0, g_graphs.analysers[0], s, nullptr);
    const int used = glRenderMode(GL_RENDER);
    EXPECT_GE(used, 0) << "feedback buffer too small";
    int n = 0;
    for (int i = 0; i < used;) {
      const int token = static_cast<int>(buf[i++]);
      if (token == GL_POINT_TOKEN) {
        i += 7;
      } else if (token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN) {
        i += 14;
      } else if (token == GL_POLYGON_TOKEN) {
        i += 1 + 7 * static_cast<int>(buf[i]);
      } else {
        i += 1;  // pass-through and bitmap tokens carry no primitive
        continue;
      }
      ++n;
    }
    return n;
  }
};

TEST_F(SlotChange, EachNewTypeDrawsItselfFromItsOwnWorkState) {
  // The sequence that crashed, and the changes that read past buffers.
  const char *styles[] = {"iviv", "ifs", "iviv", "mirror", "iviv", "ifs", "mirror", "ifs", "w2d", "iviv", "hide", "ifs"};
  for (const char *style : styles) {
    SCOPED_TRACE(style);
    restyle(style);
    DisplaySlot &s = g_graphs.slots[0];
    ASSERT_EQ(s.type, graph_type_by_name(style));
    if (s.work) {
      EXPECT_EQ(s.work_type, s.type);
    }
    if (s.type == kGraphHide) continue;
    const int drawn = draw(s);
    if (s.type == kGraphIfs) {
      // Three grey planes, then the eight octants' 256 leaves each.
      EXPECT_GE(drawn, 3 + 8 * 256);
    } else if (s.type == kGraphIviv) {
      // More than its axis: without the tree only the axes are drawn.
      void *tree = s.work;
      s.work = nullptr;
      const int axes = draw(s);
      s.work = tree;
      EXPECT_GT(drawn, axes + 100);
    } else {
      EXPECT_GT(drawn, 100);
    }
  }
}

TEST_F(SlotChange, TheIfsPickOutlivesANewConfiguration) {
  restyle("ifs");
  DisplaySlot &s = g_graphs.slots[0];
  ASSERT_EQ(s.type, kGraphIfs);
  draw(s);  // far out: picks
  ASSERT_NE(s.slice, nullptr);
  const IfsNode *picked = s.slice;
  const void *stores = s.work;
  const double hz = g_graphs.slice_frequency(0);
  EXPECT_GT(hz, 0);
  restyle("ifs");
  EXPECT_EQ(s.work, stores);
  EXPECT_EQ(s.slice, picked);
  EXPECT_EQ(g_graphs.slice_frequency(0), hz);
}

}  // namespace
