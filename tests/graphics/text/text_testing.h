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
#include "raster_testing.h"

namespace taviron::graphics::testing {

inline const bool kTextFontsSet = [] {
  setenv("NORIX_FONT_PATH", TAVIRON_TEST_DATA_DIR, 1);
  setenv("NORIX_FONT_SERVERS_PATH", TAVIRON_TEST_GOOD_SERVERS ":" TAVIRON_FREETYPE_SERVERS, 1);
  return true;
}();

constexpr double kUnitHeight = 124.5; // (250 - 1) / 250 * 125: the box em is 1000 sub-pixels

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

inline Eevg_Color *NewColour(int32_t red, int32_t green, int32_t blue, int32_t opacity = 255) {
  Eevg_Color *c = eevg_ColorCreate(nullptr);
  *c = Eevg_Color{0, red, green, blue, opacity};
  return c;
}

inline Eevg_LineStyle *NewLine(double width, Eevg_Color *colour) {
  Eevg_LineStyle *line = eevg_LineStyleCreate(nullptr);
  eevg_LineCompositionCreate(1, &line->composition, nullptr);
  line->composition.data[0].width = width;
  line->composition.data[0].color = colour;
  return line;
}

// A text style owned by the test: the font, height kUnitHeight, left and top aligned, filled
// black, no outline.
class Style {
 public:
  explicit Style(const char *font = "box") : style_(eevg_TextStyleCreate(nullptr)) {
    style_->fontName = estr_Duplicate(font);
    style_->textHeight = kUnitHeight;
    style_->textChExt = 1;
    style_->textChSpace = 1;
    style_->xalign = EEVG_LEFT;
    style_->yalign = EEVG_TOP;
    style_->charFillStyle = eevg_FillStyleCreate(nullptr);
    style_->charFillStyle->fill = 1;
    style_->charFillStyle->pattern = eevg_FillPatternCreate(nullptr);
    style_->charFillStyle->pattern->color = NewColour(0, 0, 0);
  }
  ~Style() { eevg_TextStyleFree(&style_); }
  Style(const Style &) = delete;
  Style &operator=(const Style &) = delete;
  Eevg_TextStyle *operator->() const { return style_; }
  Eevg_TextStyle *get() const { return style_; }
  // Outlined with a line of that width (line units) and colour.
  void Outline(double width, Eevg_Color *colour) {
    style_->charFillStyle->trace = 1;
    style_->charFillStyle->traceStyle = NewLine(width, colour);
  }

 private:
  Eevg_TextStyle *style_;
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

// A matrix of doubles of rows x columns, every element NaN (never written).
class Matrix {
 public:
  Matrix(int32_t rows, int32_t columns)
      : m_(egda_BaseDataCreate(rows, columns, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr)) {
    for (int32_t c = 0; c < columns; ++c)
      for (int32_t r = 0; r < rows; ++r) Set(r, c, std::nan(""));
  }
  ~Matrix() { egda_BaseDataDelete(m_, nullptr); }
  Matrix(const Matrix &) = delete;
  Matrix &operator=(const Matrix &) = delete;
  Egda_BaseData *get() const { return m_; }
  double At(int32_t r, int32_t c) const {
    return reinterpret_cast<const double *>(m_->origin + c * m_->pitch)[r];
  }
  void Set(int32_t r, int32_t c, double v) { reinterpret_cast<double *>(m_->origin + c * m_->pitch)[r] = v; }
  // Columns written so far, as "x,y" (and ",angle" with a third row) rounded to 1/1000.
  std::vector<std::string> Columns() const {
    std::vector<std::string> out;
    for (int32_t c = 0; c < m_->columns && !std::isnan(At(0, c)); ++c) {
      std::string text;
      for (int32_t r = 0; r < m_->rows; ++r) {
        const double v = std::round(At(r, c) * 1000) / 1000;
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%s%g", r ? "," : "", v == 0 ? 0.0 : v);
        text += buffer;
      }
      out.push_back(text);
    }
    return out;
  }

 private:
  Egda_BaseData *m_;
};

} // namespace taviron::graphics::testing

#endif
