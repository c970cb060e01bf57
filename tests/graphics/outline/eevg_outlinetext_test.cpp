// The outline-font text engine: bumper spacing, line breaks, paragraph sizes, drawn glyphs with
// underline and shadow, text along polylines with every alignment, and the DejaVu Sans outline
// font the build makes.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "eevg.h"
#include "eevg_internal.h"
#include "outline_testing.h"

namespace {

using namespace taviron::graphics::testing;
using Strings = std::vector<std::string>;

const std::string &Block() {
  static const std::string name = WriteFont("block.otl", BlockFont());
  return name;
}

// Top-left at (100, 200): the first baseline starts at device (100.5, 120.5) (pixel centres),
// sub-pixel (804, 964).
constexpr Eevg_Coord kAt{100, 200};

// The glyph origins of the text's characters as x offsets from the first baseline's start in
// font units (sub-pixels), and the y of each in pixels.
struct Placed {
  std::vector<double> x, y;
};

Placed Positions(OutlineDrawing &drawing, Style &style, const char *text, int32_t columns) {
  Matrix m(2, columns);
  ErrorSlot err;
  EXPECT_EQ(eevg_GetTextPositionsOTL(drawing.get(), style.get(), &kAt, text, m.get(), &err), 0) << Chain(err.get());
  Placed p;
  for (int32_t c = 0; c < columns && !std::isnan(m.At(0, c)); ++c) {
    p.x.push_back(m.At(0, c) * 8 - 804);
    p.y.push_back(m.At(1, c));
  }
  return p;
}

TEST(OutlineText, CharactersFollowTheBumpers) {
  // 'I' reaches 50 either side, 'T' 20 low and 200 high, 'o' 150 low only; the space is 250
  // wide; '`' does not advance.
  struct Case {
    const char *text;
    double spacing;
    std::vector<double> x;
  } cases[] = {
      {"II", 1, {50, 150}},
      {"To", 1, {200, 400}},               // the 'o' tucks under the bar of the 'T'
      {"I I", 1, {50, 350, 400}},          // after a letter: its right bumper and the space width
      {"I  I", 1, {50, 350, 600, 650}},
      {" I", 1, {250, 300}},
      {"I`", 1, {50, 50}},                 // over the previous character
      {"II", 1.5, {50, 650}},              // extra spacing of half a line height
      {"I I", 1.5, {50, 850, 900}},
      {"II\n\r\t", 1, {50, 150}},          // trailing controls are dropped
  };
  OutlineCanvas canvas;
  OutlineDrawing drawing(canvas);
  for (const Case &c : cases) {
    Style style(Block());
    style->textChSpace = c.spacing;
    const Placed p = Positions(drawing, style, c.text, 8);
    EXPECT_EQ(p.x, c.x) << c.text << " " << c.spacing;
    for (double y : p.y) EXPECT_EQ(y, 120.5) << c.text;
  }
  // A device of type 2 is given each glyph's left edge.
  drawing->deviceType2 = 1;
  Style style(Block());
  EXPECT_EQ(Positions(drawing, style, "II", 2).x, (std::vector<double>{0, 100}));
  drawing->deviceType2 = 0;
  // Turned a quarter turn the characters climb.
  style->textAngle = std::numbers::pi / 2;
  const Placed turned = Positions(drawing, style, "II", 2);
  ASSERT_EQ(turned.y.size(), 2u);
  EXPECT_NEAR(turned.y[1] - turned.y[0], 12.5, 1e-9);
}

TEST(OutlineText, EveryLineBreakStartsALine) {
  // CR LF is two line breaks here: three lines of 125 pixels.
  OutlineCanvas canvas;
  OutlineDrawing drawing(canvas);
  Style style(Block());
  const Placed p = Positions(drawing, style, "I\r\nI", 4);
  ASSERT_EQ(p.x.size(), 4u);
  EXPECT_EQ(p.x, (std::vector<double>{50, 0, 0, 50}));
  EXPECT_EQ(p.y, (std::vector<double>{120.5, -4.5, -129.5, -129.5}));

  struct Case {
    const char *text;
    double width, height;
  } cases[] = {{"II", 25, 105}, {"I\nI", 12.5, 230}, {"I\r\nI", 12.5, 355}, {"I I\n", 56.25, 105}};
  for (const Case &c : cases) {
    double w = 0, h = 0, a = 0;
    ErrorSlot err;
    EXPECT_EQ(eevg_GetParagraphSizeOTL(drawing.get(), c.text, 0, 0, 0, &w, &h, &a, &err), 1) << Chain(err.get());
    EXPECT_DOUBLE_EQ(w, c.width) << c.text;
    EXPECT_DOUBLE_EQ(h, c.height) << c.text;
    EXPECT_DOUBLE_EQ(a, 80) << c.text;
  }
}

TEST(OutlineText, ArgumentsAndFonts) {
  OutlineCanvas canvas;
  OutlineDrawing drawing(canvas);
  Style style(Block());
  ErrorSlot err;
  EXPECT_EQ(eevg_GetParagraphSizeOTL(drawing.get(), "I", 0, 0, 0, nullptr, nullptr, nullptr, &err), 0);
  EXPECT_TRUE(Reported(err.get(), "eevg_GetParagraphSizeOTL", 3, "Text controls not prepared with an outline font"));
  EXPECT_EQ(eevg_DrawTextOTL(nullptr, style.get(), &kAt, "I", &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawTextOTL", 7, "NULL Eevg Drawing Pointer"));
  EXPECT_EQ(eevg_DrawTextOTL(drawing.get(), style.get(), nullptr, "I", &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawTextOTL", 10, "NULL Eevg Text Location Pointer"));
  Matrix small(2, 1);
  EXPECT_EQ(eevg_GetTextPositionsOTL(drawing.get(), style.get(), &kAt, "II", small.get(), &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_GetTextPositionsOTL", 9, "Invalid Eevg Character Locations Matrix"));
  // Text of control characters only draws nothing and reports nothing.
  EXPECT_EQ(eevg_DrawTextOTL(drawing.get(), style.get(), &kAt, "\n\t", &err), 0);
  EXPECT_FALSE(err);
  EXPECT_EQ(canvas.Count(kBlack), 0);

  Style missing("nothing.otl");
  EXPECT_EQ(eevg_DrawTextOTL(drawing.get(), missing.get(), &kAt, "I", &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawTextOTL", 2, "Unable to initialize text controls"));
  EXPECT_NE(Chain(err.get()).find("eevg_FFReference #3: Unable to open font file nothing.otl"), std::string::npos)
      << Chain(err.get());

  // A code without outline measures, but cannot be drawn.
  EXPECT_EQ(Positions(drawing, style, "Ix", 2).x, (std::vector<double>{50, 50}));
  EXPECT_EQ(eevg_DrawTextOTL(drawing.get(), style.get(), &kAt, "Ix", &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawTextOTL", 5, "Unable to draw text character"));
  EXPECT_NE(Chain(err.get()).find("eevg_DispChar #1: Unable to retrieve character"), std::string::npos);
  EXPECT_NE(Chain(err.get()).find("eevg_FFRetrieve #1: Error in OTL pointer(NULL)"), std::string::npos);
}

// Bottom-left at (100, 120): the baseline lies 25 pixels above, at device y 145.5; the 'I' covers
// x 100.5 to 113 and y 145.5 to 220.5.
constexpr Eevg_Coord kBottomAt{100, 120};

TEST(OutlineText, DrawsGlyphsUnderlinesAndShadows) {
  OutlineCanvas canvas;
  OutlineDrawing drawing(canvas);
  Style style(Block());
  style->yalign = EEVG_BOTTOM;
  style->underline = 1;
  style->underlineStyle = NewLine(2, NewColour(0, 0, 0));
  style->underlineDist = 4;
  style->shadow = 1;
  style->shadowPattern = eevg_FillPatternCreate(nullptr);
  style->shadowPattern->color = NewColour(128, 128, 128);
  style->dropShadowX = 3;
  style->dropShadowY = -3;
  ErrorSlot err;
  ASSERT_EQ(eevg_DrawTextOTL(drawing.get(), style.get(), &kBottomAt, "I I", &err), 0) << Chain(err.get());
  // The glyphs in black over their grey shadows 3 pixels right and down.
  EXPECT_EQ(canvas.Runs(180, kBlack), (Strings{"100-112", "144-156"}));
  EXPECT_EQ(canvas.Runs(180, kGrey), (Strings{"113-115", "157-159"}));
  EXPECT_EQ(canvas.Runs(143, kGrey), (Strings{"103-115", "147-159"}));
  // The underline, 4 pixels below the baseline and 2 wide, from the line's start to the last
  // glyph's right bumper; the shadow's 3 pixels lower and right.
  EXPECT_EQ(canvas.Runs(141, kBlack), (Strings{"100-156"}));
  EXPECT_EQ(canvas.Runs(142, kBlack), (Strings{"101-156"}));
  EXPECT_EQ(canvas.Runs(138, kGrey), (Strings{"103-159"}));
  EXPECT_EQ(canvas.Runs(140, kBlack), Strings{});
}

// Puts the polyline (sub-pixel points) into the drawing's point buffer.
void SetPolyline(Eevg_Drawing *d, const std::vector<int32_t> &xy) {
  const int32_t n = static_cast<int32_t>(xy.size() / 2);
  ASSERT_TRUE(taviron::graphics::ReservePoints(d, n, 1));
  std::copy(xy.begin(), xy.end(), d->points);
  d->pointCount = n;
  d->polygonCount = 1;
  d->polygonStarts[0] = 0;
  d->polygonStarts[1] = n;
}

// The origins (pixels) and angles along the polyline.
Strings Along(OutlineDrawing &drawing, Style &style, const char *text, const std::vector<int32_t> &line,
              int32_t draw = 0) {
  SetPolyline(drawing.get(), line);
  const int32_t n = static_cast<int32_t>(std::strlen(text));
  Matrix m(3, n);
  ErrorSlot err;
  EXPECT_EQ(eevg_DrawTextOnPolyLineImageOTL(drawing.get(), style.get(), text, draw, nullptr, m.get(), &err), 0)
      << Chain(err.get());
  // The drawing's points are back as they were.
  EXPECT_EQ(drawing->pointCount, static_cast<int32_t>(line.size() / 2));
  EXPECT_TRUE(std::equal(line.begin(), line.end(), drawing->points));
  Strings out;
  for (int32_t c = 0; c < n; ++c) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g,%g,%g", m.At(0, c), m.At(1, c), std::round(m.At(2, c) * 1000) / 1000);
    out.push_back(buffer);
  }
  return out;
}

const std::vector<int32_t> kStraight{800, 800, 2400, 800};       // 200 pixels to the right
const std::vector<int32_t> kCorner{800, 800, 1000, 800, 1000, 1600}; // 25 right, 100 up

TEST(OutlineText, AlongPolylines) {
  OutlineCanvas canvas;
  OutlineDrawing drawing(canvas);
  Style style(Block());
  // Each 'I' advances its two bumpers, 100 sub-pixels; at the corner the line turns up.
  EXPECT_EQ(Along(drawing, style, "IIII", kCorner),
            (Strings{"106.25,100,0", "118.75,100,0", "125,106.25,1.571", "125,118.75,1.571"}));
  // "II" measures 200 of the line's 1600 sub-pixels: centred it starts 700 in, at the end 1400;
  // stretched, eight of them spread over the line (each step 100 grown by 100 / 800 + 1 / 8).
  style->xalign = EEVG_XCENTER;
  EXPECT_EQ(Along(drawing, style, "II", kStraight), (Strings{"193.75,100,0", "206.25,100,0"}));
  style->xalign = EEVG_RIGHT;
  EXPECT_EQ(Along(drawing, style, "II", kStraight), (Strings{"281.25,100,0", "293.75,100,0"}));
  style->xalign = 5;
  Strings spread;
  for (int k = 0; k < 8; ++k) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g,100,0", (850 + 212 * k) / 8.0);
    spread.push_back(buffer);
  }
  EXPECT_EQ(Along(drawing, style, "IIIIIIII", kStraight), spread);
  // A second line follows the polyline from its start again, one line step (125 pixels) lower,
  // whichever segment the first line ended on.
  style->xalign = EEVG_LEFT;
  EXPECT_EQ(Along(drawing, style, "III\nI", kCorner),
            (Strings{"106.25,100,0", "118.75,100,0", "125,106.25,1.571", "100,-25,0", "106.25,-25,0"}));
}

TEST(OutlineText, AlongPolylinesDrawsBoxesAndFails) {
  OutlineCanvas canvas;
  OutlineDrawing drawing(canvas);
  Style style(Block());
  Along(drawing, style, "II", kStraight, 0);
  EXPECT_EQ(canvas.Count(kBlack), 0);
  Along(drawing, style, "II", kStraight, 1);
  EXPECT_GT(canvas.Count(kBlack), 2 * 12 * 70);

  // The box of the origins (850..950, 800) grown by the ascent of 640 sub-pixels.
  SetPolyline(drawing.get(), kStraight);
  Matrix rect(2, 4);
  ErrorSlot err;
  ASSERT_EQ(eevg_DrawTextOnPolyLineImageOTL(drawing.get(), style.get(), "II", 0, rect.get(), nullptr, &err), 0)
      << Chain(err.get());
  const double expected[2][4] = {{26.25, 26.25, 198.75, 198.75}, {20, 180, 180, 20}};
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 2; ++r) EXPECT_DOUBLE_EQ(rect.At(r, c), expected[r][c]) << r << "," << c;

  // Text too small to measure, stretched over the line by more than a double holds, a mark
  // without advance and a narrowing spacing among it: positions are held, not overflowed.
  {
    Style tiny(Block());
    tiny->textHeight = 1e-306;
    tiny->xalign = 5;
    tiny->textChSpace = 0.9;
    SetPolyline(drawing.get(), kCorner);
    Matrix m(2, 6);
    EXPECT_EQ(eevg_DrawTextOnPolyLineImageOTL(drawing.get(), tiny.get(), "I` I\n", 1, rect.get(), m.get(), &err), 0)
        << Chain(err.get());
  }

  SetPolyline(drawing.get(), {800, 800});
  EXPECT_EQ(eevg_DrawTextOnPolyLineImageOTL(drawing.get(), style.get(), "II", 1, nullptr, nullptr, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawTextOnPolyLineImageOTL", 4, "Unable to draw text characters on polyline"));
  ASSERT_TRUE(err.get() && err->next);
  EXPECT_TRUE(Reported(err->next, "eevg_DrawTextOnPolyLinePass", 1, "Invalid number of polyline points input"));
  EXPECT_EQ(drawing->pointCount, 1);
}

TEST(OutlineText, DejaVuFromItsFaceKeepsItsAdvances) {
  // The build's DejaVu Sans outline font: letters with stems from top to bottom ('H', 'I', 'l')
  // stand apart by about their advances in the face (the bumpers round up to a bumper unit,
  // ascent / 64, on each side).
  FT_Library library;
  FT_Face face;
  ASSERT_EQ(FT_Init_FreeType(&library), 0);
  ASSERT_EQ(FT_New_Face(library, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 0, &face), 0);
  OutlineCanvas canvas;
  OutlineDrawing drawing(canvas);
  Style style("DejaVuSans.otl");
  // One font unit per sub-pixel: the line height of 894 units over 894 sub-pixels.
  style->textHeight = 894 * 249.0 / 2000;
  const int32_t first = eevg_FFReference("DejaVuSans.otl", drawing->control->loadedFonts,
                                         &drawing->control->loadedFontsUsed, drawing->control->loadedFontCount, nullptr);
  ASSERT_GE(first, 0);
  int32_t ascent = 0, height = 0;
  eevg_FFInqVertSpace(eevg_FFFontGet(drawing->control->loadedFonts, first), &ascent, nullptr, &height, nullptr);
  ASSERT_EQ(height, 894);
  // Origins lie in the middle of the ink: a pair stands the first letter's advance apart, less
  // its middle, plus the second's.
  auto middle = [&](char c) {
    FT_Load_Char(face, static_cast<FT_ULong>(c), FT_LOAD_NO_SCALE);
    const FT_Glyph_Metrics &m = face->glyph->metrics;
    return (m.horiBearingX + m.width / 2.0) * 768.0 / face->units_per_EM;
  };
  for (const char *pair : {"HH", "II", "ll", "HI", "lH"}) {
    const Placed p = Positions(drawing, style, pair, 2);
    ASSERT_EQ(p.x.size(), 2u);
    const double second = middle(pair[1]), first = middle(pair[0]);
    const double apart = face->glyph->metrics.horiAdvance * 768.0 / face->units_per_EM - first + second;
    EXPECT_GE(p.x[1] - p.x[0], apart - 2) << pair;
    EXPECT_LE(p.x[1] - p.x[0], apart + 2 * ascent / 64.0 + 2) << pair;
  }
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  // And it draws.
  ErrorSlot err;
  style->textHeight = 40;
  ASSERT_EQ(eevg_DrawTextOTL(drawing.get(), style.get(), &kAt, "Hello, outlines", &err), 0) << Chain(err.get());
  EXPECT_GT(canvas.Count(kBlack), 500);
}

TEST(OutlineText, GlyphsFromTheCacheAreGlyphsDrawnAtTheRoundedOrigins) {
  // The DejaVu Sans outline font, anti-aliased and not, straight, turned, with shadow and
  // underline and along a polyline: drawn from the glyph cache (twice, the second time from
  // glyphs kept), the pixels are those of the glyphs drawn the plain way at the origins the cache
  // rounds to.
  struct Case {
    int32_t antiAlias;
    double angle;
    bool along, shadow;
  } cases[] = {{1, 0, false, false}, {0, 0, false, false}, {1, 0.4, false, true}, {1, 0, true, false}};
  for (const Case &c : cases) {
    std::vector<Eevg_Color> pictures[2];
    for (int32_t mode : {0, 2}) { // cached, plain at the rounded origins
      OutlineCanvas canvas;
      OutlineDrawing drawing(canvas, c.antiAlias);
      drawing->text.glyphDrawing = mode;
      Style style("DejaVuSans.otl");
      style->textHeight = 23;
      style->textAngle = c.angle;
      if (c.shadow) {
        style->shadow = 1;
        style->shadowPattern = eevg_FillPatternCreate(nullptr);
        style->shadowPattern->color = NewColour(128, 128, 128);
        style->dropShadowX = 1.5;
        style->dropShadowY = -2.5;
        style->underline = 1;
        style->underlineStyle = NewLine(1.5, nullptr);
        style->underlineDist = 3;
      }
      const Eevg_Coord at{20.3, 180.6};
      for (int32_t pass = 0; pass < (mode == 0 ? 2 : 1); ++pass) {
        canvas.pixels.assign(canvas.pixels.size(), Eevg_Color{});
        ErrorSlot err;
        if (c.along) {
          // The polyline in the drawing's point buffer, sub-pixels off the pixel centres.
          const double xy[] = {10, 60, 150, 130, 260, 90, 390, 170};
          drawing->pointCount = 4;
          drawing->polygonCount = 1;
          for (int32_t k = 0; k < 8; ++k) drawing->points[k] = static_cast<int32_t>(xy[k] * 8 + 3);
          drawing->polygonStarts[0] = 0;
          drawing->polygonStarts[1] = 4;
          ASSERT_EQ(eevg_DrawTextOnPolyLineImageOTL(drawing.get(), style.get(), "Along the line, again", 1, nullptr,
                                                    nullptr, &err),
                    0)
              << Chain(err.get());
        } else {
          ASSERT_EQ(eevg_DrawTextOTL(drawing.get(), style.get(), &at, "Hamburgefonstiv,\nquick 0123", &err), 0)
              << Chain(err.get());
        }
      }
      pictures[mode / 2] = canvas.pixels;
    }
    int32_t differing = 0, drawn = 0;
    for (size_t k = 0; k < pictures[0].size(); ++k) {
      const Eevg_Color &a = pictures[0][k], &b = pictures[1][k];
      drawn += b.opacity != 0;
      differing += a.red != b.red || a.green != b.green || a.blue != b.blue || a.opacity != b.opacity;
    }
    EXPECT_GT(drawn, 300) << c.angle << " " << c.along;
    EXPECT_EQ(differing, 0) << c.antiAlias << " " << c.angle << " " << c.along;
  }
}

} // namespace
