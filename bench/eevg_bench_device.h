// The renderer benchmarks' targets: two devices writing RGBA into a square of memory through the
// renderer's callbacks, and the font list the renderer reads when it starts. Memory is a plain
// callback device as an application would write one; Direct does the least a device can do per
// call (one load or store per pixel, one fill per run, whole-pixel steps for other lines), so
// that what remains of the time is the renderer's own.
#ifndef TAVIRON_BENCH_EEVG_BENCH_DEVICE_H
#define TAVIRON_BENCH_EEVG_BENCH_DEVICE_H

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "eevg.h"

namespace taviron::bench {

template <int32_t kSize> struct Memory {
  std::vector<uint32_t> rgba = std::vector<uint32_t>(static_cast<std::size_t>(kSize) * kSize);
  uint32_t *At(const double *p) {
    return &rgba[static_cast<std::size_t>(p[1]) * kSize + static_cast<std::size_t>(p[0])];
  }

  static uint32_t Pack(const Eevg_Color *c) {
    return static_cast<uint32_t>(c->red & 0xFF) | static_cast<uint32_t>(c->green & 0xFF) << 8 |
           static_cast<uint32_t>(c->blue & 0xFF) << 16 |
           static_cast<uint32_t>(c->opacity & 0xFF) << 24;
  }
  static void GetPixel(void *user, Eevg_Color *c, const double *p, Eerr_ErrorReport **) {
    const uint32_t q = *static_cast<Memory *>(user)->At(p);
    c->red = q & 0xFF, c->green = q >> 8 & 0xFF, c->blue = q >> 16 & 0xFF, c->opacity = q >> 24;
  }
  static void PutPixel(void *user, const Eevg_Color *c, const double *p, Eerr_ErrorReport **) {
    *static_cast<Memory *>(user)->At(p) = Pack(c);
  }
  // A device vector: a run along a row, or any other line one pixel per step of its major axis.
  static void PutVector(void *user, const Eevg_Color *c, const double *a, const double *b,
                        Eerr_ErrorReport **) {
    Memory &memory = *static_cast<Memory *>(user);
    const uint32_t value = Pack(c);
    if (a[1] == b[1]) {
      const double *left = a[0] <= b[0] ? a : b, *right = a[0] <= b[0] ? b : a;
      std::fill_n(memory.At(left), static_cast<std::size_t>(right[0] - left[0]) + 1, value);
      return;
    }
    const double dx = b[0] - a[0], dy = b[1] - a[1];
    const int steps = static_cast<int>(std::max(std::fabs(dx), std::fabs(dy)));
    for (int k = 0; k <= steps; ++k) {
      const double p[2] = {std::round(a[0] + dx * k / steps), std::round(a[1] + dy * k / steps)};
      *memory.At(p) = value;
    }
  }
  // The callback record of the device.
  Eevg_GrIOInfo Callbacks() {
    Eevg_GrIOInfo io{};
    io.userData = this;
    io.getPixel = GetPixel;
    io.putPixel = PutPixel;
    io.putVector = PutVector;
    return io;
  }
};

template <int32_t kSize> struct Direct {
  std::vector<uint32_t> rgba = std::vector<uint32_t>(static_cast<std::size_t>(kSize) * kSize);
  static Direct &Of(void *user) { return *static_cast<Direct *>(user); }
  uint32_t *At(int32_t column, int32_t row) {
    return rgba.data() + static_cast<std::ptrdiff_t>(row) * kSize + column;
  }

  static void GetPixel(void *user, Eevg_Color *c, const double *p, Eerr_ErrorReport **) {
    const uint32_t q = *Of(user).At(static_cast<int32_t>(p[0]), static_cast<int32_t>(p[1]));
    c->red = q & 0xFF, c->green = q >> 8 & 0xFF, c->blue = q >> 16 & 0xFF, c->opacity = q >> 24;
  }
  static void PutPixel(void *user, const Eevg_Color *c, const double *p, Eerr_ErrorReport **) {
    *Of(user).At(static_cast<int32_t>(p[0]), static_cast<int32_t>(p[1])) = Memory<kSize>::Pack(c);
  }
  static void PutVector(void *user, const Eevg_Color *c, const double *a, const double *b,
                        Eerr_ErrorReport **) {
    Direct &d = Of(user);
    const uint32_t value = Memory<kSize>::Pack(c);
    int32_t x0 = static_cast<int32_t>(a[0]), y0 = static_cast<int32_t>(a[1]);
    int32_t x1 = static_cast<int32_t>(b[0]), y1 = static_cast<int32_t>(b[1]);
    if (y0 == y1) {
      if (x1 < x0) std::swap(x0, x1);
      std::fill(d.At(x0, y0), d.At(x1, y0) + 1, value);
      return;
    }
    // Whole-pixel steps along the major axis.
    const int32_t dx = std::abs(x1 - x0), dy = std::abs(y1 - y0);
    const int32_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int32_t e = dx - dy;
    for (;;) {
      *d.At(x0, y0) = value;
      if (x0 == x1 && y0 == y1) break;
      const int32_t e2 = 2 * e;
      if (e2 > -dy) e -= dy, x0 += sx;
      if (e2 < dx) e += dx, y0 += sy;
    }
  }
  Eevg_GrIOInfo Callbacks() {
    Eevg_GrIOInfo io{};
    io.userData = this;
    io.getPixel = GetPixel;
    io.putPixel = PutPixel;
    io.putVector = PutVector;
    return io;
  }
};

// The renderer reads its font list at start-up: give it a list of one font, in a folder removed
// when the program ends.
inline void FontPath() {
  static char dir[] = "/tmp/eevg_benchXXXXXX";
  static const bool done = [] {
    if (!mkdtemp(dir)) return false;
    const std::string list = std::string(dir) + "/fontlist.fdb";
    if (FILE *f = std::fopen(list.c_str(), "w")) {
      std::fputs("version 3\n\"Bench\" bench \"Bench\" bench left_to_right \"Bench\" Outline\n", f);
      std::fclose(f);
    }
    setenv("NORIX_FONT_PATH", dir, 1);
    std::atexit([] {
      std::remove((std::string(dir) + "/fontlist.fdb").c_str());
      std::remove(dir);
    });
    return true;
  }();
  (void)done;
}

} // namespace taviron::bench

#endif
