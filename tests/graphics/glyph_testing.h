// Shared by the tests of the text engines (font servers and outline fonts): colours, lines and
// text styles owned by the test, and matrices of positions the engines fill.
#ifndef TAVIRON_TESTS_GRAPHICS_GLYPH_TESTING_H
#define TAVIRON_TESTS_GRAPHICS_GLYPH_TESTING_H

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "eevg.h"
#include "eevg_fontserver.h"
#include "egda.h"
#include "estr.h"
#include "graphics_testing.h"

namespace taviron::graphics::testing {

// A text height of 1000 sub-pixels on the tests' drawings: (250 - 1) / 250 * 125.
constexpr double kUnitHeight = 124.5;

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
  explicit Style(const std::string &font = "box") : style_(eevg_TextStyleCreate(nullptr)) {
    style_->fontName = estr_Duplicate(font.c_str());
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

// A font table of the test's own under a control record of its own (a drawing may use it in place
// of the process's): the fonts loaded into it are opened afresh, their glyphs not yet read, and
// freed with it.
class FontTable {
 public:
  using Loader = int32_t (*)(const char *fontFileName, uint8_t *fontTable, int32_t *used, int32_t capacity,
                             Eerr_ErrorReport **err);
  explicit FontTable(int32_t capacity, Loader load = eevg_TextFontGet)
      : slots_(static_cast<std::size_t>(capacity)), control_{reinterpret_cast<uint8_t *>(slots_.data()), capacity, 0},
        load_(load) {}
  ~FontTable() {
    for (int32_t i = 0; i < control_.loadedFontsUsed; ++i) {
      if (Eevg_OutlineFont *font = eevg_FFFontGet(control_.loadedFonts, i))
        eevg_FFFree(font);
      else
        eevg_TextFontFree(&slots_[static_cast<std::size_t>(i)]);
    }
  }
  FontTable(const FontTable &) = delete;
  FontTable &operator=(const FontTable &) = delete;

  int32_t Load(const std::string &name, Eerr_ErrorReport **err) {
    return load_(name.c_str(), control_.loadedFonts, &control_.loadedFontsUsed, control_.loadedFontCount, err);
  }
  std::string Name(int32_t index) const {
    const Eevg_LoadedFont &slot = slots_[static_cast<std::size_t>(index)];
    return std::string(slot.fileName, strnlen(slot.fileName, sizeof slot.fileName));
  }
  int32_t Used() const { return control_.loadedFontsUsed; }
  Eevg_Control *Control() { return &control_; }

 private:
  std::vector<Eevg_LoadedFont> slots_;
  Eevg_Control control_;
  Loader load_;
};

} // namespace taviron::graphics::testing

#endif
