// Surface medium: description files, walls, and the step against a plain
// evaluation of the wave equation.
#include "media/surface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "display/transform_state.h"
#include "tests/support/testkit.h"
#include "tests/unit/surface_reference.h"

namespace {

std::string field_file(const std::string &text) {
  static int serial = 0;
  std::string dir = testkit::make_temp_dir("surface");
  std::string path = dir + "/field" + std::to_string(serial++);
  testkit::write_file(path, text);
  return path;
}

struct Loaded {
  TransformState view{};
  SurfaceField field;
  std::string err;
  explicit Loaded(const std::string &text) {
    testing::internal::CaptureStderr();
    field.load(field_file(text).c_str(), &view);
    err = testing::internal::GetCapturedStderr();
  }
};

surface_ref::Surf ref_of(const Surface &s) {
  surface_ref::Surf r;
  r.w = s.width;
  r.h = s.height;
  r.ix = s.in_x;
  r.iy = s.in_y;
  r.shape = s.shape;
  r.param = s.shape_param;
  r.cin = s.coupling_in;
  r.cout = s.coupling_out;
  r.fpermu = s.fpermu;
  r.damp = s.damp;
  r.build();
  return r;
}

double input_at(int t) { return 0.6 * std::sin(t * 0.031) + 0.3 * std::sin(t * 0.37 + 1) + (t % 97 == 0 ? 0.5 : 0); }

}  // namespace

TEST(SurfaceFile, CommentsAndEmptyLinesGiveAnEmptyFieldThatPassesSamplesThrough) {
  Loaded l("# only comments\n\n\n# and empty lines\n\n");
  EXPECT_EQ(l.field.count, 0);
  EXPECT_EQ(l.view.slot_count, 0);
  EXPECT_EQ(l.field.step(0.25), 0.25);
  EXPECT_EQ(l.field.step(-0.75), -0.75);
}

TEST(SurfaceFile, MissingFileGivesMessageAndEmptyField) {
  TransformState view{};
  SurfaceField f;
  testing::internal::CaptureStderr();
  f.load("/nonexistent/field", &view);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "cannot open file /nonexistent/field\n");
  EXPECT_EQ(f.count, 0);
  EXPECT_EQ(f.step(0.5), 0.5);
}

TEST(SurfaceFile, BlocksCommentsAndEndOfFile) {
  // A comment inside a block neither closes it nor opens a new one; several
  // empty lines separate one pair of blocks; the last block ends at the end
  // of the file without a line feed; CR LF line ends are cut.
  Loaded l("# head\ndim 5 4\n# inside\nin 1 2\n\n\n\r\ndim 6 3\r\ndamp 0.5\n\n# between\n\ndim 7 2\nshape 2");
  ASSERT_EQ(l.field.count, 3);
  EXPECT_EQ(l.field.surfaces[0].width, 5);
  EXPECT_EQ(l.field.surfaces[0].height, 4);
  EXPECT_EQ(l.field.surfaces[0].in_x, 1);
  EXPECT_EQ(l.field.surfaces[0].in_y, 2);
  EXPECT_EQ(l.field.surfaces[1].width, 6);
  EXPECT_EQ(l.field.surfaces[1].damp, 0.5);
  EXPECT_EQ(l.field.surfaces[2].width, 7);
  EXPECT_EQ(l.field.surfaces[2].height, 2);
  EXPECT_TRUE(l.field.surfaces[2].built());
  EXPECT_EQ(l.field.surfaces[2].shape, 2);
  // Registration in the view.
  EXPECT_EQ(l.view.slot_count, 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(l.view.live[i], l.field.surfaces[i].u);
    EXPECT_EQ(l.view.display[i], l.field.surfaces[i].display_copy);
    EXPECT_EQ(l.view.aux[i], l.field.surfaces[i].wall);
    EXPECT_EQ(l.view.dim1[i], l.field.surfaces[i].width);
    EXPECT_EQ(l.view.dim2[i], l.field.surfaces[i].height);
  }
  EXPECT_DOUBLE_EQ(l.field.total_couple, 1.5);
  l.field.release();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(l.view.live[i], nullptr);
    EXPECT_EQ(l.view.display[i], nullptr);
    EXPECT_EQ(l.view.dim1[i], 0);
    EXPECT_EQ(l.view.dim2[i], 0);
  }
}

TEST(SurfaceFile, OneAndTwoValueRules) {
  Loaded l(
      "dim 7\nin 3\ncoupling 0.3\nfpermu 0.2 0.4\ndamp 0.5 0.6\nshape -2.5\n\n"
      "dim 8 2\nin 4 1\ncoupling 0.1 0.7\nfpermu 0.6\ndamp 0.97\nfpermu\n\n"
      "  dim   3   2\nbogus 5\n");
  ASSERT_EQ(l.field.count, 3);
  const Surface &a = l.field.surfaces[0];
  EXPECT_EQ(a.width, 7);
  EXPECT_EQ(a.height, 1);  // untouched
  EXPECT_EQ(a.in_x, 3);
  EXPECT_EQ(a.in_y, 0);
  EXPECT_EQ(a.coupling_in, 0.3);
  EXPECT_EQ(a.coupling_out, 0.5);
  EXPECT_EQ(a.fpermu, 1.0);   // two values: nothing
  EXPECT_EQ(a.damp, 0.9999);  // two values: nothing
  EXPECT_EQ(a.shape, -2);
  EXPECT_EQ(a.shape_param, -2.5);
  const Surface &b = l.field.surfaces[1];
  EXPECT_EQ(b.height, 2);
  EXPECT_EQ(b.in_y, 1);
  EXPECT_EQ(b.coupling_out, 0.7);
  EXPECT_EQ(b.fpermu, 0.6);  // a bare name changes nothing
  EXPECT_EQ(b.damp, 0.97);
  const Surface &c = l.field.surfaces[2];
  EXPECT_EQ(c.width, 3);  // leading blanks skipped
  EXPECT_EQ(c.height, 2);
  EXPECT_EQ(l.err, "unknown property bogus\n");
  EXPECT_DOUBLE_EQ(l.field.total_couple, 0.5 + 0.7 + 0.5);
}

TEST(SurfaceFile, UnknownPropertyAloneStillOpensABlock) {
  Loaded l("colour red\n\ndim 4 4\n");
  EXPECT_EQ(l.err, "unknown property colour\n");
  ASSERT_EQ(l.field.count, 2);
  EXPECT_EQ(l.field.surfaces[0].width, 10);  // initial values
  EXPECT_EQ(l.field.surfaces[0].height, 1);
}

TEST(SurfaceFile, ThirteenthSurfaceStopsLoadingButKeepsTwelve) {
  std::string text;
  for (int i = 0; i < 14; ++i) text += "dim " + std::to_string(i + 2) + " 2\ncoupling 1 0.25\n\n";
  Loaded l(text);
  EXPECT_EQ(l.err, "too many surfaces\n");
  ASSERT_EQ(l.field.count, 12);
  EXPECT_EQ(l.field.surfaces[11].width, 13);
  EXPECT_DOUBLE_EQ(l.field.total_couple, 3.0);
  EXPECT_EQ(l.view.slot_count, 12);
  EXPECT_EQ(l.view.dim1[11], 13);
}

TEST(SurfaceFile, ZeroDimensionAndOutsideInputAreReported) {
  Loaded l("dim 0 5\ncoupling 1 0.5\n\ndim 4 3\nin 4 0\ncoupling 1 0.5\n\ndim 3 3\n");
  ASSERT_EQ(l.field.count, 3);
  EXPECT_FALSE(l.field.surfaces[0].built());
  EXPECT_TRUE(l.field.surfaces[1].built());
  EXPECT_NE(l.err.find("dimension is zero?"), std::string::npos);
  EXPECT_NE(l.err.find("crystal #1: input cell (4 0) lies outside its 4 x 3 grid"), std::string::npos);
  EXPECT_EQ(l.view.dim1[0], 0);
  EXPECT_EQ(l.view.live[0], nullptr);
  // The unbuilt surface answers 0, the undriven one stays at rest; the third
  // one moves.
  double last = 0;
  for (int t = 0; t < 50; ++t) last += std::fabs(l.field.step(0.5));
  EXPECT_GT(last, 0);
  EXPECT_EQ(l.field.surfaces[0].step(1.0), 0.0);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(l.field.surfaces[1].u[i], 0.0);
}

TEST(SurfaceFile, ZeroTotalCouplingSumsWithoutDividing) {
  Loaded l("dim 4 4\ncoupling 1 1\n\ndim 4 4\ncoupling 1 -1\nin 1 1\n");
  EXPECT_EQ(l.field.total_couple, 0.0);
  EXPECT_NE(l.err.find("total output couple is 0"), std::string::npos);
  surface_ref::Field ref;
  ref.s = {ref_of(l.field.surfaces[0]), ref_of(l.field.surfaces[1])};
  for (int t = 0; t < 200; ++t) {
    double x = input_at(t);
    double want = ref.s[0].step(x) * 1 + ref.s[1].step(x) * -1;
    double got = l.field.step(x);
    ASSERT_TRUE(std::isfinite(got));
    ASSERT_NEAR(got, want, 1e-9 * (1 + std::fabs(want))) << t;
  }
}

TEST(SurfaceShape, OctagonOnTenByTen) {
  Loaded l("dim 10 10\nshape 3\n");
  const Surface &s = l.field.surfaces[0];
  EXPECT_EQ(s.wall[0], 1);           // (0, 0)
  EXPECT_EQ(s.wall[5 * 10 + 5], 0);  // (5, 5)
  EXPECT_EQ(s.wall[9], 1);           // (9, 0)
  EXPECT_EQ(s.wall[9 * 10], 1);      // (0, 9)
  EXPECT_EQ(s.wall[9 * 10 + 9], 1);  // (9, 9)
  EXPECT_EQ(s.wall[5], 0);           // (5, 0): the middle of an edge stays open
  int walls = 0;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      walls += s.wall[y * 10 + x];
      EXPECT_EQ(s.wall[y * 10 + x], surface_ref::Surf::is_wall(3, 3, 10, 10, x, y)) << x << "," << y;
    }
  // x + y < 2.5 cuts 6 cells at (0, 0); the other corners are measured from
  // W and H, one cell beyond the grid, and cut 3, 3 and 1.
  EXPECT_EQ(walls, 13);
}

TEST(SurfaceShape, BellOfMinusFourOnSixtyFourBySixteen) {
  Loaded l("dim 64 16\ndamp 0.999\nshape -4\n");
  const Surface &s = l.field.surfaces[0];
  EXPECT_EQ(s.shape, -4);
  for (int y = 0; y < 16; ++y) EXPECT_EQ(s.wall[y * 64 + 32], 0) << y;  // middle column open
  for (int side : {0, 63}) {
    EXPECT_EQ(s.wall[side], 0);
    for (int y = 1; y < 16; ++y) EXPECT_EQ(s.wall[y * 64 + side], 1) << side << "," << y;
  }
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 64; ++x)
      ASSERT_EQ(s.wall[y * 64 + x], surface_ref::Surf::is_wall(-4, -4, 64, 16, x, y)) << x << "," << y;
}

TEST(SurfaceShape, EllipseTriangleRectangleAndUnknown) {
  testing::internal::CaptureStdout();
  Loaded l("dim 40 30\nshape 1\n\ndim 12 9\nshape 2\n\ndim 5 5\nshape 0\n\ndim 6 6\nshape 7\n");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "unknown shape '7'!\n");
  ASSERT_EQ(l.field.count, 4);
  const int shapes[4] = {1, 2, 0, 7};
  for (int k = 0; k < 4; ++k) {
    const Surface &s = l.field.surfaces[k];
    for (int y = 0; y < s.height; ++y)
      for (int x = 0; x < s.width; ++x)
        ASSERT_EQ(s.wall[y * s.width + x],
                  surface_ref::Surf::is_wall(shapes[k], shapes[k], s.width, s.height, x, y))
            << k << ":" << x << "," << y;
  }
  EXPECT_EQ(l.field.surfaces[0].wall[0], 1);
  EXPECT_EQ(l.field.surfaces[0].wall[15 * 40 + 20], 0);
  EXPECT_EQ(l.field.surfaces[1].wall[0], 0);
  EXPECT_EQ(l.field.surfaces[1].wall[8 * 12 + 11], 1);
  for (int i = 0; i < 25; ++i) EXPECT_EQ(l.field.surfaces[2].wall[i], 0);
  for (int i = 0; i < 36; ++i) EXPECT_EQ(l.field.surfaces[3].wall[i], 0);
}

TEST(SurfaceStep, AllWallSurfacesAnswerZeroButTheDrivenCellFollows) {
  // A 1 x 1 octagon is one wall cell; a 2 x 1 ellipse is all wall but (1, 0).
  Loaded l("dim 1 1\nshape 3\n\ndim 2 1\nshape 1\nin 1 0\n");
  ASSERT_EQ(l.field.surfaces[0].wall[0], 1);
  ASSERT_EQ(l.field.surfaces[1].wall[0], 1);
  ASSERT_EQ(l.field.surfaces[1].wall[1], 0);
  for (int t = 0; t < 100; ++t) {
    double x = input_at(t);
    EXPECT_EQ(l.field.surfaces[0].step(x), 0.0);
    EXPECT_EQ(l.field.surfaces[0].u[0], x);
    EXPECT_EQ(l.field.surfaces[1].step(x), 0.0);
    EXPECT_EQ(l.field.surfaces[1].u[1], x);
    EXPECT_EQ(l.field.surfaces[1].u[0], 0.0);
  }
}

TEST(SurfaceStep, DrivenCellOnAWallStillFollowsTheInput) {
  // (5, 0) is on the ellipse's rim; (5, 1) below it is open.
  Loaded l("dim 10 10\nshape 1\nin 5 0\n");
  const Surface &s = l.field.surfaces[0];
  ASSERT_EQ(s.wall[5], 1);
  ASSERT_EQ(s.wall[15], 0);
  surface_ref::Surf ref = ref_of(s);
  double moved = 0;
  for (int t = 0; t < 300; ++t) {
    double x = input_at(t);
    double got = l.field.surfaces[0].step(x);
    double want = ref.step(x);
    EXPECT_EQ(s.u[5], x);
    ASSERT_NEAR(got, want, 1e-9 * (1 + std::fabs(want))) << t;
    moved += std::fabs(got);
  }
  EXPECT_GT(moved, 0.1);  // the wall cell drives the open cells next to it
}

TEST(SurfaceStep, FieldMatchesThePlainEvaluation) {
  Loaded l(
      "dim 28 20\nin 5 9\ncoupling 0.02 0.5\nshape 1\n\n"
      "dim 40 12\nin 20 1\ncoupling 0.015 0.3\ndamp 0.999\nshape -3\n\n"
      "dim 14 14\nin 7 3\ncoupling 0.03 0.2\nfpermu 0.7\ndamp 0.995\nshape 3\n\n"
      "dim 9 7\nin 8 6\nfpermu 0.9\ndamp 0.98\nshape 2\n\n"
      "dim 13 1\nin 0 0\n");
  ASSERT_EQ(l.field.count, 5);
  surface_ref::Field ref;
  for (int i = 0; i < 5; ++i) ref.s.push_back(ref_of(l.field.surfaces[i]));
  double energy = 0;
  for (int t = 0; t < 4000; ++t) {
    double x = input_at(t);
    double got = l.field.step(x);
    double want = ref.step(x);
    ASSERT_NEAR(got, want, 1e-9 * (1 + std::fabs(want))) << t;
    double g = 2 / (1 + std::exp(-4 * got)) - 1, w = std::tanh(2 * want);
    ASSERT_LE(std::abs(surface_ref::to_sample(g) - surface_ref::to_sample(w)), 1) << t;
    energy += got * got;
  }
  EXPECT_GT(energy, 1.0);
  for (int i = 0; i < 5; ++i) {
    const Surface &s = l.field.surfaces[i];
    for (int c = 0; c < s.width * s.height; ++c)
      ASSERT_NEAR(s.u[c], ref.s[i].u[c], 1e-9) << i << ":" << c;
  }
}
