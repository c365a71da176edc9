// Surface medium: description file, walls, the membrane step and the field.
#include "media/surface.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "display/transform_state.h"
#include "options/side_file.h"

namespace {

// A bigger grid would take hundreds of megabytes and minutes per second of music.
constexpr long kMaxCells = 1L << 20;

bool blank_line(const char *s) {
  for (; *s; ++s)
    if (*s != ' ' && *s != '\t') return false;
  return true;
}

}  // namespace

bool surface_wall(int shape, double shape_param, int width, int height, int x, int y) {
  const double w = width, h = height;
  const double cx = width / 2, cy = height / 2;
  const double fx = x, fy = y;
  switch (shape) {
    case 1: {
      double a = (fx - cx) / (w / 2), b = (fy - cy) / (h / 2);
      return a * a + b * b >= 1;
    }
    case 2:
      return fx / w + fy / h > 1;
    case 3: {
      const double qw = w / 4, qh = h / 4;
      return fx / qw + fy / qh < 1 || (w - fx) / qw + fy / qh < 1 || fx / qw + (h - fy) / qh < 1 ||
             (w - fx) / qw + (h - fy) / qh < 1;
    }
    default:
      if (shape_param < 0) {
        double t = std::fabs(2 * (fx / w - 0.5));
        return fy / h > std::exp(shape_param * t * t);
      }
      return false;
  }
}

void Surface::parse_property(const char *line) {
  char name[64], a[64], b[64], extra[2];
  int n = sscanf(line, " %63s %63s %63s %1s", name, a, b, extra);
  if (n < 1) return;
  const int values = n - 1;
  if (strcmp(name, "dim") == 0) {
    if (values >= 1) width = atoi(a);
    if (values >= 2) height = atoi(b);
  } else if (strcmp(name, "in") == 0) {
    if (values >= 1) in_x = atoi(a);
    if (values >= 2) in_y = atoi(b);
  } else if (strcmp(name, "coupling") == 0) {
    if (values >= 1) coupling_in = atof(a);
    if (values >= 2) coupling_out = atof(b);
  } else if (strcmp(name, "fpermu") == 0) {
    if (values == 1) fpermu = atof(a);
  } else if (strcmp(name, "damp") == 0) {
    if (values == 1) damp = atof(a);
  } else if (strcmp(name, "shape") == 0) {
    if (values >= 1) {
      shape = atoi(a);
      shape_param = atof(a);
    }
  } else {
    fprintf(stderr, "unknown property %s\n", name);
  }
}

bool Surface::build() {
  release();
  const long n = static_cast<long>(width) * height;
  if (n == 0) {
    fprintf(stderr, "dimension is zero?");
    return false;
  }
  if (width < 0 || height < 0) {
    fprintf(stderr, "dimension %d x %d is negative?\n", width, height);
    return false;
  }
  if (n > kMaxCells) {
    fprintf(stderr, "dimension %d x %d is too large (at most %ld cells)\n", width, height, kMaxCells);
    return false;
  }
  const long padded = static_cast<long>(width + 2) * (height + 2);
  display_copy = static_cast<double *>(calloc(n, sizeof(double)));
  u = static_cast<double *>(calloc(n, sizeof(double)));
  grid = static_cast<double *>(calloc(padded, sizeof(double)));
  grid_prev = static_cast<double *>(calloc(padded, sizeof(double)));
  moving = static_cast<double *>(calloc(padded, sizeof(double)));
  wall = static_cast<unsigned char *>(calloc(n, 1));
  if (!display_copy || !u || !grid || !grid_prev || !moving || !wall) {
    fprintf(stderr, "not enough memory for a %d x %d surface\n", width, height);
    release();
    return false;
  }
  if (shape != 0 && shape != 1 && shape != 2 && shape != 3 && shape_param >= 0)
    printf("unknown shape '%d'!\n", shape);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) wall[y * width + x] = surface_wall(shape, shape_param, width, height, x, y);
  driven = (in_x >= 0 && in_x < width && in_y >= 0 && in_y < height) ? in_y * width + in_x : -1;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const int i = y * width + x;
      moving[(y + 1) * static_cast<long>(width + 2) + x + 1] = (wall[i] || i == driven) ? 0.0 : 1.0;
    }
  return true;
}

// The stencil over all cells, written so that the compiler can vectorise it:
// one run over the padded rows without bounds tests (the border is zero and
// its mask keeps it zero), walls and the driven cell masked out by a factor
// of 0, the driven cell forced afterwards. The vector sum only changes the
// rounding of the answer.
// An AVX2 copy is chosen at load time where the processor has it. Its
// resolver runs before the thread sanitizer's runtime is up, so that build
// keeps the one plain version.
#if defined(__SANITIZE_THREAD__)
#define SURFACE_CLONES
#else
#define SURFACE_CLONES __attribute__((target_clones("avx2", "default")))
#endif
SURFACE_CLONES
static double surface_kernel(const double *__restrict grid, double *__restrict next,
                             const double *__restrict moving, long begin, long end, long pw,
                             double half_fpermu, double damp) {
  double sum = 0;
#pragma omp simd reduction(+ : sum)
  for (long i = begin; i < end; ++i) {
    const double c = grid[i];
    double v = c + half_fpermu * (grid[i - 1] + grid[i + 1] + grid[i - pw] + grid[i + pw] - 4 * c) +
               damp * (c - next[i]);
    v *= moving[i];
    next[i] = v;
    sum += v;
  }
  return sum;
}

double Surface::step(double v) {
  if (!u) return 0.0;
  const long pw = width + 2;
  double sum = surface_kernel(grid, grid_prev, moving, pw, pw * (height + 1), pw, 0.5 * fpermu, damp);
  if (driven >= 0) grid_prev[(in_y + 1) * pw + in_x + 1] = v;
  double *t = grid;
  grid = grid_prev;
  grid_prev = t;
  for (int y = 0; y < height; ++y) memcpy(u + static_cast<long>(y) * width, grid + (y + 1) * pw + 1, sizeof(double) * width);
  return sum;
}

void Surface::release() {
  free(display_copy);
  free(u);
  free(grid);
  free(grid_prev);
  free(moving);
  free(wall);
  display_copy = u = grid = grid_prev = moving = nullptr;
  wall = nullptr;
}

bool SurfaceField::load(const char *path, TransformState *v) {
  release();
  for (int i = 0; i < kMaxSurfaces; ++i) surfaces[i] = Surface();
  count = 0;
  total_couple = 0;
  view = v;

  FILE *f = nullptr;
  const SideFile opened = open_side_file(path, "r", kSurfaceFileMax, "surface file", &f);
  if (opened == SideFile::Missing) {
    fprintf(stderr, "cannot open file %s\n", path);
  } else if (opened == SideFile::Open) {
    char line[256];
    bool open_block = false;
    auto close_block = [&]() {
      if (!open_block) return;
      surfaces[count].build();
      ++count;
      open_block = false;
    };
    while (read_side_line(f, line, sizeof line)) {
      line[strcspn(line, "\r\n")] = 0;
      if (line[0] == '#') continue;
      if (blank_line(line)) {
        close_block();
        continue;
      }
      if (count == kMaxSurfaces) {
        fprintf(stderr, "too many surfaces\n");
        break;
      }
      surfaces[count].parse_property(line);
      open_block = true;
    }
    close_block();
    fclose(f);
  }

  for (int i = 0; i < count; ++i) total_couple += surfaces[i].coupling_out;
  for (int i = 0; i < count; ++i) {
    const Surface &s = surfaces[i];
    if (s.built() && s.driven < 0)
      fprintf(stderr, "crystal #%d: input cell (%d %d) lies outside its %d x %d grid; it is not driven\n",
              i, s.in_x, s.in_y, s.width, s.height);
  }
  if (count > 0 && total_couple == 0)
    fprintf(stderr, "total output couple is 0: the answers are summed without normalising\n");

  show_in(view);
  return f != nullptr;
}

void SurfaceField::show_in(TransformState *v) {
  view = v;
  if (view) {
    for (int i = 0; i < count; ++i) {
      Surface &s = surfaces[i];
      view->display[i] = s.display_copy;
      view->live[i] = s.u;
      view->aux[i] = s.wall;
      // An unbuilt surface has no arrays: show it as empty.
      view->dim1[i] = s.built() ? s.width : 0;
      view->dim2[i] = s.built() ? s.height : 0;
    }
    view->slot_count = count;
  }
}

void SurfaceField::print() const {
  for (int i = 0; i < count; ++i) {
    const Surface &s = surfaces[i];
    printf("crystal #%d: ", i);
    printf("dim(%d %d) in(%d %d) damp(%g) coupling(%g %g) fpermu(%g) \n\n", s.width, s.height, s.in_x,
           s.in_y, s.damp, s.coupling_in, s.coupling_out, s.fpermu);
  }
  printf("total output couple: %g\n", total_couple);
}

double SurfaceField::step(double x) {
  if (count == 0) return x;
  double sum = 0;
  for (int i = 0; i < count; ++i)
    sum += surfaces[i].step(x * surfaces[i].coupling_in) * surfaces[i].coupling_out;
  // Couplings that cancel out leave nothing to normalise by.
  return total_couple != 0 ? sum / total_couple : sum;
}

void SurfaceField::release() {
  if (view) {
    for (int i = 0; i < TransformState::kSlots; ++i) {
      view->display[i] = nullptr;
      view->live[i] = nullptr;
      view->dim1[i] = 0;
      view->dim2[i] = 0;
    }
    view = nullptr;
  }
  for (int i = 0; i < kMaxSurfaces; ++i) surfaces[i].release();
}
