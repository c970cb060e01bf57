// The renderer benchmarks' target: a callback device writing RGBA into a square of memory, and
// the font list the renderer reads when it starts.
#ifndef TAVIRON_BENCH_EEVG_BENCH_DEVICE_H
#define TAVIRON_BENCH_EEVG_BENCH_DEVICE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
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

// The renderer reads its font list at start-up: give it a list of one font.
inline void FontPath() {
  static const bool done = [] {
    char dir[] = "/tmp/eevg_benchXXXXXX";
    if (!mkdtemp(dir)) return false;
    const std::string list = std::string(dir) + "/fontlist.fdb";
    if (FILE *f = std::fopen(list.c_str(), "w")) {
      std::fputs("version 3\n\"Bench\" bench \"Bench\" bench left_to_right \"Bench\" Outline\n", f);
      std::fclose(f);
    }
    setenv("NORIX_FONT_PATH", dir, 1);
    return true;
  }();
  (void)done;
}

} // namespace taviron::bench

#endif
