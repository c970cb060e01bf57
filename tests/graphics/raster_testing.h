// Shared by the rasteriser tests: a callback device drawing into memory that logs its calls, and
// a drawing on it.
#ifndef TAVIRON_TESTS_GRAPHICS_RASTER_TESTING_H
#define TAVIRON_TESTS_GRAPHICS_RASTER_TESTING_H

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "eevg_internal.h"
#include "eevg.h"
#include "graphics_testing.h"

namespace taviron::graphics::testing {

// Pixels of the canvas are Eevg_Color values (opacity 0 = never written), addressed by column and
// image row. Every callback appends a line to the log.
struct Canvas {
  int32_t width = 0, height = 0;
  std::vector<Eevg_Color> pixels;
  std::vector<std::string> log;
  bool failPut = false;     // putPixel reports a failure
  int32_t polygonDone = 0;  // answer of the polygon callbacks
  Eevg_GrIOInfo io{};

  Canvas(int32_t w, int32_t h) : width(w), height(h), pixels(static_cast<size_t>(w) * h) {
    io.userData = this;
  }
  Eevg_Color &At(int32_t column, int32_t row) {
    return pixels[static_cast<size_t>(row) * width + column];
  }
  // The pixel at device position (column, y upward).
  Eevg_Color &Device(int32_t column, int32_t y) { return At(column, height - 1 - y); }
  bool Set(int32_t column, int32_t y) { return Device(column, y).opacity != 0; }

  static Canvas &Of(void *user) { return *static_cast<Canvas *>(user); }
  static std::string Pos(const double *p) {
    return std::to_string(static_cast<int>(p[0])) + "," + std::to_string(static_cast<int>(p[1]));
  }
  static void GetPixel(void *user, Eevg_Color *color, const double *p, Eerr_ErrorReport **) {
    *color = Of(user).At(static_cast<int32_t>(p[0]), static_cast<int32_t>(p[1]));
  }
  static void PutPixel(void *user, const Eevg_Color *color, const double *p,
                       Eerr_ErrorReport **err) {
    Canvas &c = Of(user);
    c.log.push_back("pixel " + Pos(p));
    if (c.failPut) {
      if (err) *err = eerr_CreateErrorReport("device", 7, 2, nullptr, "disk full");
      return;
    }
    c.At(static_cast<int32_t>(p[0]), static_cast<int32_t>(p[1])) = *color;
  }
  static int32_t PutPixelOpacity(void *user, const Eevg_Color *color, const double *p,
                                 Eerr_ErrorReport **) {
    Canvas &c = Of(user);
    c.log.push_back("opacity pixel " + Pos(p));
    c.At(static_cast<int32_t>(p[0]), static_cast<int32_t>(p[1])) = *color;
    return 1;
  }
  static void PutVector(void *user, const Eevg_Color *color, const double *a, const double *b,
                        Eerr_ErrorReport **) {
    Canvas &c = Of(user);
    c.log.push_back("vector " + Pos(a) + " " + Pos(b));
    // Only the runs of the rasteriser (one row) are painted.
    if (a[1] == b[1])
      for (int32_t x = static_cast<int32_t>(a[0]); x <= static_cast<int32_t>(b[0]); ++x)
        c.At(x, static_cast<int32_t>(a[1])) = *color;
  }
  static int32_t PutVectorOpacity(void *user, const Eevg_Color *, const double *a, const double *b,
                                  Eerr_ErrorReport **) {
    Canvas &c = Of(user);
    c.log.push_back("opacity vector " + Pos(a) + " " + Pos(b));
    return c.polygonDone;
  }
  static void PutSpan(void *user, Egda_BaseDataStack *span, const double *start, int32_t count,
                      Eerr_ErrorReport **) {
    Canvas &c = Of(user);
    std::string text = "span " + Pos(start) + " " + std::to_string(count) + ":";
    for (int32_t k = 0; k < count; ++k) text += " " + std::to_string(span->layers[0]->origin[k]);
    c.log.push_back(text);
  }
  static int32_t PutPolygon(void *user, Eevg_FillPattern *, int32_t, const int32_t *,
                            const int32_t *, Eerr_ErrorReport **) {
    Canvas &c = Of(user);
    c.log.push_back("polygon");
    return c.polygonDone;
  }
  static int32_t PutPolygonOpacity(void *user, Eevg_FillPattern *, int32_t, const int32_t *,
                                   const int32_t *, Eerr_ErrorReport **) {
    Canvas &c = Of(user);
    c.log.push_back("opacity polygon");
    return c.polygonDone;
  }
  static int32_t PutPatternPolygon(void *user, Eevg_FillPattern *, int32_t, const int32_t *,
                                   const int32_t *, Eerr_ErrorReport **) {
    Canvas &c = Of(user);
    c.log.push_back("pattern polygon");
    return c.polygonDone;
  }
};

// Which device pixels (column, y) of the canvas are set, as rows of '#' and '.' from the top.
inline std::string Picture(Canvas &canvas) {
  std::string text;
  for (int32_t y = canvas.height - 1; y >= 0; --y) {
    for (int32_t x = 0; x < canvas.width; ++x) text += canvas.Set(x, y) ? '#' : '.';
    text += '\n';
  }
  return text;
}

// A drawing of the canvas's size over the world (0, 0)-(width-1, height-1).
class RasterDrawing {
 public:
  RasterDrawing(Canvas &canvas, int32_t antiAlias = 0) {
    Eerr_ErrorReport *err = nullptr;
    control_ = eevg_Init(&err);
    EXPECT_TRUE(control_) << Chain(err);
    device_ = eevg_DeviceInfoCreate(nullptr);
    world_ = eevg_WorldInfoCreate(nullptr);
    device_->width = canvas.width;
    device_->height = canvas.height;
    device_->antiAlias = antiAlias;
    world_->upperRight->x = canvas.width - 1;
    world_->upperRight->y = canvas.height - 1;
    drawing_ = eevg_DrawingInit(control_, device_, world_, &canvas.io, &err);
    EXPECT_TRUE(drawing_) << Chain(err);
    eerr_DeleteErrorReportEx(&err);
  }
  ~RasterDrawing() {
    eevg_DrawingFree(&drawing_, nullptr);
    eevg_WorldInfoFree(&world_);
    eevg_DeviceInfoFree(&device_);
  }
  Eevg_Drawing *operator->() const { return drawing_; }
  Eevg_Drawing *get() const { return drawing_; }

 private:
  Eevg_Control *control_ = nullptr;
  Eevg_DeviceInfo *device_ = nullptr;
  Eevg_WorldInfo *world_ = nullptr;
  Eevg_Drawing *drawing_ = nullptr;
};

inline constexpr Eevg_DeviceColor kRed{255, 0, 0, 7, 255};

using Ring = std::vector<int32_t>;

// A device that takes every polygon itself and keeps the rings (sub-pixel points); thin lines
// go to putVector and are only logged.
struct PolygonDevice {
  Canvas canvas{100, 100};
  std::vector<Ring> rings;
  PolygonDevice() {
    canvas.io.userData = this;
    canvas.io.putVector = [](void *user, const Eevg_Color *, const double *a, const double *b,
                             Eerr_ErrorReport **) {
      static_cast<PolygonDevice *>(user)->canvas.log.push_back(
          "vector " + Canvas::Pos(a) + " " + Canvas::Pos(b));
    };
    canvas.io.putPolygon = [](void *user, Eevg_FillPattern *, int32_t count,
                              const int32_t *starts, const int32_t *points,
                              Eerr_ErrorReport **) -> int32_t {
      auto *self = static_cast<PolygonDevice *>(user);
      for (int32_t r = 0; r < count; ++r)
        self->rings.emplace_back(points + 2 * starts[r], points + 2 * starts[r + 1]);
      self->canvas.log.push_back("polygon");
      return 1;
    };
  }
  // The x extent of each ring, "min-max".
  std::vector<std::string> Spans() const {
    std::vector<std::string> spans;
    for (const Ring &ring : rings) {
      int32_t lo = ring[0], hi = ring[0];
      for (size_t i = 0; i < ring.size(); i += 2) lo = std::min(lo, ring[i]), hi = std::max(hi, ring[i]);
      spans.push_back(std::to_string(lo) + "-" + std::to_string(hi));
    }
    return spans;
  }
};


// A device that counts the writes outside a pixel rectangle (columns xMin..xMax, image rows
// rowMin..rowMax) instead of making them; reads give opaque black.
struct GuardedDevice {
  Canvas canvas;
  int32_t xMin, xMax, rowMin, rowMax;
  int64_t writes = 0, outside = 0;
  GuardedDevice(int32_t width, int32_t height, int32_t x0, int32_t x1, int32_t row0, int32_t row1)
      : canvas(width, height), xMin(x0), xMax(x1), rowMin(row0), rowMax(row1) {
    canvas.io.userData = this;
    canvas.io.getPixel = [](void *, Eevg_Color *color, const double *, Eerr_ErrorReport **) {
      *color = Eevg_Color{0, 0, 0, 0, 255};
    };
    canvas.io.putPixel = [](void *user, const Eevg_Color *, const double *p, Eerr_ErrorReport **) {
      static_cast<GuardedDevice *>(user)->Check(p[0], p[1]);
    };
    canvas.io.putVector = [](void *user, const Eevg_Color *, const double *a, const double *b,
                             Eerr_ErrorReport **) {
      auto &d = *static_cast<GuardedDevice *>(user);
      d.Check(a[0], a[1]);
      d.Check(b[0], b[1]);
    };
  }
  void Check(double column, double row) {
    ++writes;
    if (!(column >= xMin && column <= xMax && row >= rowMin && row <= rowMax)) ++outside;
  }
};

} // namespace taviron::graphics::testing

#endif
