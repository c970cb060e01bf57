// Text drawn into pixels: the outline-width rule, the fill order, shadows, underlines, the
// FreeType server's widths and glyphs, and the engine's work arrays when memory runs out.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "eevg.h"
#include "taviron_testing.h"
#include "text_testing.h"

namespace {

using namespace taviron::graphics::testing;
using Strings = std::vector<std::string>;

// Bottom-aligned at (100, 50): the first baseline lies at device y 75.5, the box glyph's left
// edge 6.25 pixels right of the pen at x 100.5, its right edge at 56.25, its top 87.5 above.
constexpr Eevg_Coord kAt{100, 50};

Style &Bottom(Style &style) {
  style->yalign = EEVG_BOTTOM;
  return style;
}

// The lengths of the runs of set pixels of a device row.
std::vector<int32_t> RunLengths(TextCanvas &canvas, int32_t y) {
  std::vector<int32_t> lengths;
  for (const std::string &run : canvas.Runs(y)) {
    const size_t dash = run.find('-');
    lengths.push_back(std::stoi(run.substr(dash + 1)) - std::stoi(run.substr(0, dash)) + 1);
  }
  return lengths;
}

TEST(TextDrawing, OutlineWidthsAreOddWholePixels) {
  // Without anti-aliasing and without shadow, an outline of an even number of pixels above three
  // is drawn one pixel wider so that it stays centred on the glyph's edge.
  struct Case {
    double width;
    int32_t drawn;
  } cases[] = {{4, 5}, {3, 3}, {6, 7}};
  for (const Case &c : cases) {
    TextCanvas canvas;
    TextDrawing drawing(canvas);
    Style style;
    Bottom(style);
    style->charFillStyle->fill = 0;
    style.Outline(c.width, NewColour(200, 0, 0));
    ErrorSlot err;
    ASSERT_EQ(eevg_DrawText(drawing.get(), style.get(), &kAt, "I", &err), 0) << Chain(err.get());
    EXPECT_EQ(RunLengths(canvas, 120), (std::vector<int32_t>{c.drawn, c.drawn})) << c.width;
  }
}

TEST(TextDrawing, GiantGlyphsAndOutlinesCoverTheWindow) {
  // A glyph far larger than the window, outlined thinly, and a small glyph outlined far wider
  // than the window: both cover every pixel, in the fill and in the outline colour, without
  // walking their edges out of sight.
  struct Case {
    double height, outline;
    int32_t red;
  } cases[] = {{1e7, 1, 0}, {kUnitHeight, 1e6, 200}};
  for (const Case &c : cases) {
    TextCanvas canvas;
    TextDrawing drawing(canvas);
    Style style;
    style->textHeight = c.height;
    style.Outline(c.outline, NewColour(200, 0, 0));
    const Eevg_Coord at{-c.height / 4, c.height / 2}; // the window inside the glyph
    ErrorSlot err;
    ASSERT_EQ(eevg_DrawText(drawing.get(), style.get(), &at, "I", &err), 0) << Chain(err.get());
    EXPECT_EQ(canvas.Count(Eevg_Color{0, c.red, 0, 0, 255}), canvas.width * canvas.height) << c.height;
  }
}

TEST(TextDrawing, FillOrderFollowsThePreference) {
  for (int32_t order : {0, 1}) {
    TextCanvas canvas;
    canvas.polygonDone = 1;
    canvas.io.putPolygon = Canvas::PutPolygon;
    canvas.io.putVector = Canvas::PutVector;
    TextDrawing drawing(canvas);
    drawing->textFillOrder = order; // 0 "Fill-First", 1 "Fill-Last"
    Style style;
    style.Outline(1, NewColour(200, 0, 0));
    ErrorSlot err;
    ASSERT_EQ(eevg_DrawText(drawing.get(), style.get(), &kAt, "I", &err), 0) << Chain(err.get());
    ASSERT_FALSE(canvas.log.empty());
    EXPECT_EQ(canvas.log.front() == "polygon", order == 0) << canvas.log.front();
    EXPECT_EQ(canvas.log.back() == "polygon", order == 1) << canvas.log.back();
  }
}

TEST(TextDrawing, ShadowUnderlineAndOverride) {
  TextCanvas canvas;
  TextDrawing drawing(canvas);
  Style style;
  Bottom(style);
  style->shadow = 1;
  style->shadowPattern = eevg_FillPatternCreate(nullptr);
  style->shadowPattern->color = NewColour(128, 128, 128);
  style->dropShadowX = 5;
  style->dropShadowY = -5;
  style->underline = 1;
  style->underlineStyle = NewLine(2, nullptr);
  style->underlineDist = 10;
  ErrorSlot err;
  ASSERT_EQ(eevg_DrawText(drawing.get(), style.get(), &kAt, "II", &err), 0) << Chain(err.get());
  auto colour = [&](int32_t x, int32_t y) {
    const Eevg_Color &c = canvas.Device(x, y);
    return c.opacity ? std::to_string(c.red) : std::string("-");
  };
  // The glyph over its shadow, the shadow beside it, 5 pixels right and down.
  EXPECT_EQ(colour(130, 120), "0");
  EXPECT_EQ(colour(159, 120), "128");
  EXPECT_EQ(colour(159, 168), "-");
  EXPECT_EQ(colour(159, 150), "128");
  // The underline of each pass, 10 pixels below its baseline, across both characters.
  EXPECT_EQ(canvas.Runs(65), (Strings{"100-225"}));
  EXPECT_EQ(colour(150, 65), "0");
  EXPECT_EQ(colour(228, 60), "128");

  // The override colour paints everything.
  TextCanvas plain;
  TextDrawing other(plain);
  const Eevg_Color override{0, 9, 9, 9, 255};
  eevg_ColorOverride(other.get(), &override, nullptr);
  ASSERT_EQ(eevg_DrawText(other.get(), style.get(), &kAt, "II", &err), 0) << Chain(err.get());
  EXPECT_GT(plain.Count(override), 0);
  EXPECT_EQ(plain.Count(override), plain.Count(override) + plain.Count(Eevg_Color{0, 0, 0, 0, 255}) +
                                       plain.Count(Eevg_Color{0, 128, 128, 128, 255}));
}

TEST(TextDrawing, UnderlineEndsBelowTheLastCharacter) {
  // The glyph widths in fractions of a sub-pixel leave the line a little longer than its
  // baseline: the walker's last segment has no length, and the underline stays below it.
  TextCanvas canvas;
  TextDrawing drawing(canvas, 1);
  Style style("DejaVuSans");
  Bottom(style);
  style->textHeight = 24;
  style->underline = 1;
  style->underlineStyle = NewLine(2, nullptr);
  style->underlineDist = 4;
  const char *text = "Underlined";
  double width = 0, height = 0, ascent = 0, descent = 0;
  ErrorSlot err;
  ASSERT_EQ(eevg_GetTextSizes(drawing.get(), style.get(), text, &width, &height, &ascent, &descent, &err), 0);
  ASSERT_EQ(eevg_DrawText(drawing.get(), style.get(), &kAt, text, &err), 0) << Chain(err.get());
  const double baseline = kAt.y + descent + 0.5, end = kAt.x + 0.5 + width;
  int32_t between = 0;
  for (int32_t y = static_cast<int32_t>(baseline - 4 + 2); y < static_cast<int32_t>(baseline - 1); ++y)
    for (int32_t x = static_cast<int32_t>(end) - 1; x <= static_cast<int32_t>(end) + 1; ++x)
      between += canvas.Set(x, y);
  EXPECT_EQ(between, 0);
  EXPECT_GT(canvas.Runs(static_cast<int32_t>(baseline - 4)).size(), 0u);
}

TEST(TextDrawing, FreeTypeWidthsAgreeWithFreeType) {
  const char *text = "Hamburgefonstiv";
  FT_Library library;
  FT_Face face;
  ASSERT_EQ(FT_Init_FreeType(&library), 0);
  ASSERT_EQ(FT_New_Face(library, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 0, &face), 0);
  ASSERT_EQ(FT_Set_Pixel_Sizes(face, 0, 40), 0);
  double advances = 0;
  FT_UInt previous = 0;
  for (const char *p = text; *p; ++p) {
    const FT_UInt glyph = FT_Get_Char_Index(face, static_cast<unsigned char>(*p));
    ASSERT_EQ(FT_Load_Glyph(face, glyph, FT_LOAD_NO_HINTING), 0);
    advances += face->glyph->linearHoriAdvance / 65536.0;
    FT_Vector kerning{0, 0};
    if (previous && FT_Get_Kerning(face, previous, glyph, FT_KERNING_UNSCALED, &kerning) == 0)
      advances += kerning.x * 40.0 / face->units_per_EM;
    previous = glyph;
  }
  FT_Done_Face(face);
  FT_Done_FreeType(library);

  TextCanvas canvas;
  TextDrawing drawing(canvas, 1);
  Style style("DejaVuSans");
  style->textHeight = 40;
  double width = 0, height = 0, ascent = 0, descent = 0;
  ErrorSlot err;
  ASSERT_EQ(eevg_GetTextSizes(drawing.get(), style.get(), text, &width, &height, &ascent, &descent, &err), 0)
      << Chain(err.get());
  const double n = std::strlen(text);
  // Within a pixel per character; more closely, the layout scales the em by the device height in
  // sub-pixels over the world's height (250 / 249 here) and truncates each step to a sub-pixel.
  EXPECT_NEAR(width, advances, n);
  EXPECT_LE(width, advances * 250 / 249);
  EXPECT_GE(width, advances * 250 / 249 - n / 8);

  // Drawn, the glyphs fill their box and nothing else.
  const Eevg_Coord at{10, 120};
  style->yalign = EEVG_BOTTOM;
  Matrix rect(2, 4);
  ASSERT_EQ(eevg_GetTextBoundRect(drawing.get(), style.get(), &at, text, rect.get(), &err), 0);
  ASSERT_EQ(eevg_DrawText(drawing.get(), style.get(), &at, text, &err), 0) << Chain(err.get());
  int32_t inside = 0, outside = 0;
  for (int32_t y = 0; y < canvas.height; ++y)
    for (int32_t x = 0; x < canvas.width; ++x) {
      if (!canvas.Set(x, y)) continue;
      const bool in = x >= rect.At(0, 0) - 1 && x <= rect.At(0, 2) + 1 && y >= rect.At(1, 0) - 1 &&
                      y <= rect.At(1, 1) + 1;
      (in ? inside : outside) += 1;
    }
  EXPECT_GT(inside, 1000);
  EXPECT_EQ(outside, 0);
}

TEST(TextDrawing, WorkArraysThatCannotGrowAreReported) {
  // Every call needs larger work arrays than the calls before: more lines, a longer first line,
  // a polyline of more points that the first line passes. Each allocation of the call fails in
  // turn and is reported (the font is loaded before, the drawing made anew).
  TextCanvas canvas;
  Style style;
  {
    TextDrawing drawing(canvas);
    ErrorSlot warmUp;
    ASSERT_EQ(eevg_DrawText(drawing.get(), style.get(), &kAt, "a", &warmUp), 0); // the font loaded
  }
  Strings deepest;
  for (int64_t n = 1;; ++n) {
    TextDrawing drawing(canvas); // its own buffers start small every time
    const int64_t size = n + 50;
    std::string text = std::string(10 * size + 12, 'a');
    for (int64_t line = 0; line < 10 * size + 10; ++line) text += "\na";
    std::vector<double> xy;
    for (int64_t k = 0; k < 50 * size + 60; ++k) xy.insert(xy.end(), {double(k), 240.0 + k % 2});
    Polyline line(xy);
    ErrorSlot err;
    const int64_t before = emsc_TestAllocationCount();
    int32_t status;
    {
      taviron::testing::FailAllocation fail(n);
      status = eevg_DrawTextOnPolyLine(drawing.get(), style.get(), line.get(), text.c_str(), &err);
    }
    if (emsc_TestAllocationCount() - before < n) {
      EXPECT_EQ(status, 0) << Chain(err.get());
      break;
    }
    ASSERT_EQ(status, -1) << n;
    ASSERT_NE(err.get(), nullptr);
    const Eerr_ErrorReport *last = err.get();
    while (last->next) last = last->next;
    deepest.push_back(last->message ? last->message : "");
  }
  for (const char *message : {"Unable to allocate the line list", "Unable to allocate the advance widths",
                              "Unable to allocate the line walker", "Unable to allocate the text path's points"})
    EXPECT_NE(std::find(deepest.begin(), deepest.end(), message), deepest.end()) << message;
}

} // namespace
