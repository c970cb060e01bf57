// Shared by the text tests: the fonts of data/text.fdb served by the box servers and the
// FreeType server, a device painting every pixel and vector, a drawing on it, text styles and
// polylines.
//
// The drawing is 400 x 250 pixels over the world (0, 0)-(399, 249): one world unit is one pixel,
// and a text height of kUnitHeight world units makes one font unit one sub-pixel, so that the box
// font's em of 1000 units is 125 pixels and its advance of 500 units 62.5 pixels.
#ifndef TAVIRON_TESTS_GRAPHICS_TEXT_TEXT_TESTING_H
#define TAVIRON_TESTS_GRAPHICS_TEXT_TEXT_TESTING_H

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "eevg.h"
#include "eevg_internal.h"
#include "graphics_testing.h"
#include "glyph_testing.h"
#include "raster_testing.h"

namespace taviron::graphics::testing {

inline const bool kTextFontsSet = [] {
  setenv("NORIX_FONT_PATH", TAVIRON_TEST_DATA_DIR, 1);
  setenv("NORIX_FONT_SERVERS_PATH", TAVIRON_TEST_GOOD_SERVERS ":" TAVIRON_FREETYPE_SERVERS, 1);
  return true;
}();

// A canvas whose vectors are painted whole (one pixel per step of the major axis).
struct TextCanvas : Canvas {
  TextCanvas(int32_t w = 400, int32_t h = 250) : Canvas(w, h) {
    io.getPixel = GetPixel;
    io.putPixel = PutPixel;
    io.putVector = [](void *user, const Eevg_Color *color, const double *a, const double *b,
                      Eerr_ErrorReport **) {
      Canvas &c = Of(user);
      const double dx = b[0] - a[0], dy = b[1] - a[1];
      const int steps = static_cast<int>(std::max(std::fabs(dx), std::fabs(dy)));
      for (int k = 0; k <= steps; ++k) {
        const int x = static_cast<int>(std::lround(a[0] + (steps ? dx * k / steps : 0)));
        const int y = static_cast<int>(std::lround(a[1] + (steps ? dy * k / steps : 0)));
        if (x >= 0 && x < c.width && y >= 0 && y < c.height) c.At(x, y) = *color;
      }
    };
  }
  // Pixels set in the device row y (upward), as the runs "from-to" of set columns.
  std::vector<std::string> Runs(int32_t y) {
    std::vector<std::string> runs;
    for (int32_t x = 0; x < width; ++x) {
      if (!Set(x, y)) continue;
      int32_t end = x;
      while (end + 1 < width && Set(end + 1, y)) ++end;
      runs.push_back(std::to_string(x) + "-" + std::to_string(end));
      x = end;
    }
    return runs;
  }
  int32_t Count(const Eevg_Color &colour) {
    int32_t n = 0;
    for (const Eevg_Color &p : pixels)
      n += p.red == colour.red && p.green == colour.green && p.blue == colour.blue && p.opacity != 0;
    return n;
  }
};


// A text drawing on a canvas (line widths in pixels).
class TextDrawing : public RasterDrawing {
 public:
  explicit TextDrawing(TextCanvas &canvas, int32_t antiAlias = 0) : RasterDrawing(canvas, antiAlias) {
    get()->lineWidthUnit = 1;
  }
};

// A coordinate block of one part (x0, y0, x1, y1, ...) in world units.
class Polyline {
 public:
  explicit Polyline(const std::vector<double> &xy)
      : block_(efga_BaseCoordBlockCreate(2, static_cast<int32_t>(xy.size() / 2), 1, 10, nullptr)) {
    Egda_BaseData *part = block_->parts[0];
    for (size_t i = 0; i < xy.size() / 2; ++i) {
      auto *column = reinterpret_cast<double *>(part->origin + i * part->pitch);
      column[0] = xy[2 * i];
      column[1] = xy[2 * i + 1];
    }
  }
  ~Polyline() { efga_CoordBlockDelete(block_, nullptr); }
  Polyline(const Polyline &) = delete;
  Polyline &operator=(const Polyline &) = delete;
  Efga_CoordinateBlock *get() const { return block_; }

 private:
  Efga_CoordinateBlock *block_;
};


} // namespace taviron::graphics::testing

#endif
