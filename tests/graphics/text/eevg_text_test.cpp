// Text layout and measurement with the box font: line breaks, alignments, positions and boxes of
// point text and of text along polylines, the device's text callbacks, the argument checks, the
// values of font servers that cannot be used, and the outline sink.
#include <cmath>
#include <cstdarg>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "eevg.h"
#include "text_testing.h"

namespace {

using namespace taviron::graphics::testing;
using Strings = std::vector<std::string>;

constexpr Eevg_Coord kAt{100, 200};

struct Sizes {
  double width = -1, height = -1, ascent = -1, descent = -1;
};

TEST(TextLayout, LineBreaksMakeLines) {
  // Each line of the box font is 125 pixels high; line breaks are LF, CR, CR LF and LF CR.
  struct Case {
    const char *text;
    double width, height;
  } cases[] = {
      {"ab", 125, 125},         {"a\r\nb", 62.5, 250}, {"a\n\rb", 62.5, 250},
      {"a\nb", 62.5, 250},      {"a\rb", 62.5, 250},   {"a\n\n", 62.5, 375},
      {"a\r\rb", 62.5, 375},    {"a\r\n\r\nb", 62.5, 375}, {"AV", 112.5, 125},
      {"ab\r\ncde", 187.5, 250},
  };
  TextCanvas canvas;
  TextDrawing drawing(canvas);
  Style style;
  for (const Case &c : cases) {
    ErrorSlot err;
    Sizes s;
    EXPECT_EQ(eevg_GetTextSizes(drawing.get(), style.get(), c.text, &s.width, &s.height, &s.ascent,
                                &s.descent, &err),
              0)
        << Chain(err.get());
    EXPECT_DOUBLE_EQ(s.width, c.width) << c.text;
    EXPECT_DOUBLE_EQ(s.height, c.height) << c.text;
    EXPECT_DOUBLE_EQ(s.ascent, 100) << c.text;
    EXPECT_DOUBLE_EQ(s.descent, 25) << c.text;
  }
  // The paragraph sizing of prepared controls gives the same.
  double w = 0, h = 0, a = 0;
  ErrorSlot err;
  EXPECT_EQ(eevg_GetParagraphSize(drawing.get(), "a\r\nbc", 0, 0, &w, &h, &a, &err), 1) << Chain(err.get());
  EXPECT_EQ(w, 125);
  EXPECT_EQ(h, 250);
  EXPECT_EQ(a, 100);
}

TEST(TextLayout, PointTextPositionsFollowAlignmentAndAngle) {
  struct Case {
    int32_t xalign, yalign;
    double angle;
    Strings columns;
  } cases[] = {
      // Two lines: each character, then the line's end; the second line one em lower.
      {EEVG_LEFT, EEVG_TOP, 0,
       {"100.5,100.5", "163,100.5", "225.5,100.5", "100.5,-24.5", "163,-24.5", "225.5,-24.5"}},
      // Centred: the paragraph moves as a block, its lines flush left inside it.
      {EEVG_XCENTER, EEVG_YCENTER, 0,
       {"38,225.5", "100.5,225.5", "163,225.5", "38,100.5", "100.5,100.5", "163,100.5"}},
      // Bottom: the last line's descent ends at the location.
      {EEVG_RIGHT, EEVG_BOTTOM, 0,
       {"-24.5,350.5", "38,350.5", "100.5,350.5", "-24.5,225.5", "38,225.5", "100.5,225.5"}},
      // Turned a quarter about the location: lines run upward and stack to the right.
      {EEVG_LEFT, EEVG_TOP, std::numbers::pi / 2,
       {"200.5,200.5", "200.5,263", "200.5,325.5", "325.5,200.5", "325.5,263", "325.5,325.5"}},
      // An alignment out of range places nothing and reports nothing.
      {3, EEVG_TOP, 0, {}},
  };
  TextCanvas canvas;
  TextDrawing drawing(canvas);
  for (const Case &c : cases) {
    Style style;
    style->xalign = c.xalign;
    style->yalign = c.yalign;
    style->textAngle = c.angle;
    Matrix positions(2, 6);
    ErrorSlot err;
    EXPECT_EQ(eevg_GetTextPositions(drawing.get(), style.get(), &kAt, "ab\ncd", positions.get(), &err), 0)
        << Chain(err.get());
    EXPECT_EQ(positions.Columns(), c.columns) << c.xalign << " " << c.yalign << " " << c.angle;
  }
}

TEST(TextLayout, BoundRectSpansTheParagraph) {
  TextCanvas canvas;
  TextDrawing drawing(canvas);
  Style style;
  style->xalign = EEVG_XCENTER;
  style->yalign = EEVG_YCENTER;
  Matrix rect(2, 4);
  ErrorSlot err;
  // Centred: half the paragraph on each side of the location.
  EXPECT_EQ(eevg_GetTextBoundRect(drawing.get(), style.get(), &kAt, "ab\ncd", rect.get(), &err), 0);
  EXPECT_EQ(rect.Columns(), (Strings{"37.5,75", "37.5,325", "162.5,325", "162.5,75"}));
  style->xalign = EEVG_LEFT;
  style->yalign = EEVG_TOP;
  style->textAngle = std::numbers::pi / 2;
  EXPECT_EQ(eevg_GetTextBoundRectUC(drawing.get(), style.get(), &kAt, u"ab\ncd", rect.get(), &err), 0);
  EXPECT_EQ(rect.Columns(), (Strings{"350,200", "100,200", "100,325", "350,325"}));
}

TEST(TextLayout, TextAlongPolylines) {
  // A polyline shorter than the text: the text runs on past its last point along the last
  // segment, or (aligned to the end) starts before its first point on the first segment's line.
  struct Case {
    int32_t xalign;
    Strings columns;
  } cases[] = {
      {EEVG_LEFT, {"0.5,100.5,0", "63,100.5,0", "100.5,125.5,1.571", "100.5,188,1.571", "100.5,250.5,1.571"}},
      {EEVG_RIGHT, {"-99.5,100.5,0", "-37,100.5,0", "25.5,100.5,0", "88,100.5,0", "100.5,150.5,1.571"}},
  };
  TextCanvas canvas;
  TextDrawing drawing(canvas);
  Polyline line({0, 100, 100, 100, 100, 150});
  for (const Case &c : cases) {
    Style style;
    style->xalign = c.xalign;
    Matrix positions(3, 5);
    ErrorSlot err;
    EXPECT_EQ(eevg_GetTextOnPolyLinePositions(drawing.get(), style.get(), line.get(), "abcd",
                                              positions.get(), &err),
              0)
        << Chain(err.get());
    EXPECT_EQ(positions.Columns(), c.columns) << c.xalign;
  }
  // The box of the glyphs along the polyline, in world units.
  Style style;
  Matrix rect(2, 4);
  ErrorSlot err;
  EXPECT_EQ(eevg_GetTextOnPolyLineBoundRectUC(drawing.get(), style.get(), line.get(), u"ab",
                                              rect.get(), &err),
            0)
      << Chain(err.get());
  EXPECT_EQ(rect.Columns(), (Strings{"6.75,100.5", "6.75,188", "119.25,188", "119.25,100.5"}));
}

TEST(TextLayout, SlantIsHeldAt80) {
  TextCanvas canvas;
  TextDrawing drawing(canvas);
  Polyline line({20, 100, 300, 100});
  auto box = [&](double slant) {
    Style style;
    style->textSlant = slant;
    Matrix rect(2, 4);
    ErrorSlot err;
    EXPECT_EQ(eevg_GetTextOnPolyLineBoundRect(drawing.get(), style.get(), line.get(), "I",
                                              rect.get(), &err),
              0)
        << Chain(err.get());
    return rect.Columns();
  };
  EXPECT_EQ(box(100), box(80));
  EXPECT_NE(box(80), box(0));
  EXPECT_NE(box(79), box(80));
}

TEST(TextLayout, EnginePassesOverATextPath) {
  TextCanvas canvas;
  TextDrawing drawing(canvas);
  const int32_t points[] = {3300, 2100, 5300, 2100}; // beyond the window's far corner
  Eevg_TextPath *path = eevg_TextPathCreateFromPolyline(drawing.get(), 2, points, 0);
  ASSERT_NE(path, nullptr);
  int32_t box[4] = {0, 0, 0, 0};
  // The passes need text controls that a text call prepared.
  EXPECT_EQ(eevg_TextBoundingBoxGet(drawing.get(), u"ab", path, box), -1);
  Style style;
  ErrorSlot err;
  ASSERT_EQ(eevg_DrawText(drawing.get(), style.get(), &kAt, "x", &err), 0) << Chain(err.get());
  // The box starts with its minimum at the window's far corner: glyphs beyond it leave it there.
  EXPECT_EQ(eevg_TextBoundingBoxGet(drawing.get(), u"ab", path, box), 0);
  EXPECT_EQ(std::vector<int32_t>(box, box + 4), (std::vector<int32_t>{3192, 1992, 4250, 2800}));
  Matrix positions(2, 3);
  EXPECT_EQ(eevg_TextCharPositionsGet(drawing.get(), u"ab", path, positions.get()), 0);
  EXPECT_EQ(positions.Columns(), (Strings{"412.5,262.5", "475,262.5", "537.5,262.5"}));
  EXPECT_EQ(eevg_TextDraw(drawing.get(), u"ab", path), 0);
  eevg_TextPathFree(&path);
  EXPECT_EQ(path, nullptr);
}

TEST(TextLayout, DeviceOfType2GetsSideSpacePositions) {
  // The special font's side space is 50 units: 6.25 pixels taken off each character's step.
  TextCanvas canvas;
  TextDrawing drawing(canvas);
  drawing->deviceType2 = 1;
  Style style("special");
  Matrix positions(2, 3);
  ErrorSlot err;
  EXPECT_EQ(eevg_GetTextPositionsUC(drawing.get(), style.get(), &kAt, u"ab", positions.get(), &err), 0)
      << Chain(err.get());
  EXPECT_EQ(positions.Columns(), (Strings{"94.25,100.5", "156.75,100.5", "225.5,100.5"}));
}

// A device taking text: it records what it is given and answers as told.
struct TextDevice {
  TextCanvas canvas;
  int32_t answer = 1;
  bool fail = false;
  Strings calls;
  Eevg_Color fillSeen{};

  TextDevice() {
    canvas.io.userData = this;
    canvas.io.putText = [](void *user, Eevg_TextStyle *style, Egda_BaseData *positions,
                           const char *text, Eerr_ErrorReport **err) {
      return static_cast<TextDevice *>(user)->Take("opaque", style, positions, text, err);
    };
    canvas.io.putTextOpacity = [](void *user, Eevg_TextStyle *style, Egda_BaseData *positions,
                                  const char *text, Eerr_ErrorReport **err) {
      return static_cast<TextDevice *>(user)->Take("opacity", style, positions, text, err);
    };
  }
  int32_t Take(const char *kind, Eevg_TextStyle *style, Egda_BaseData *positions, const char *text,
               Eerr_ErrorReport **err) {
    const double *first = reinterpret_cast<const double *>(positions->origin);
    calls.push_back(std::string(kind) + " " + text + " " + std::to_string(positions->rows) + "x" +
                    std::to_string(positions->columns) + " " + std::to_string(first[0]) + "," +
                    std::to_string(first[1]));
    fillSeen = *style->charFillStyle->pattern->color;
    if (fail) *err = eerr_CreateErrorReport("device", 3, EERR_FATAL, nullptr, "device full");
    return answer;
  }
  bool Drawn() { return canvas.Count(Eevg_Color{0, 0, 0, 0, 255}) > 0; }
};

TEST(TextDeviceCallbacks, PointTextGoesToTheDeviceFirst) {
  {
    // Opaque text the device draws: nothing is rasterised.
    TextDevice device;
    TextDrawing drawing(device.canvas);
    Style style;
    ErrorSlot err;
    EXPECT_EQ(eevg_DrawText(drawing.get(), style.get(), &kAt, "ab", &err), 0) << Chain(err.get());
    EXPECT_EQ(device.calls, (Strings{"opaque ab 2x2 100.500000,100.500000"}));
    EXPECT_FALSE(device.Drawn());
  }
  {
    // Translucent text goes to putTextOpacity; declined, it is rasterised.
    TextDevice device;
    device.answer = 0;
    TextDrawing drawing(device.canvas);
    Style style;
    style->charFillStyle->pattern->color->opacity = 100;
    ErrorSlot err;
    EXPECT_EQ(eevg_DrawTextUC(drawing.get(), style.get(), &kAt, u"ab", &err), 0) << Chain(err.get());
    EXPECT_EQ(device.calls, (Strings{"opacity ab 2x2 100.500000,100.500000"}));
    EXPECT_GT(device.canvas.Count(Eevg_Color{0, 0, 0, 0, 100}), 0);
  }
  {
    // While the override colour is active the device sees it as the fill colour; a failure
    // of the device is reported.
    TextDevice device;
    device.fail = true;
    TextDrawing drawing(device.canvas);
    Style style;
    const Eevg_Color override{0, 10, 20, 30, 255};
    eevg_ColorOverride(drawing.get(), &override, nullptr);
    ErrorSlot err;
    EXPECT_EQ(eevg_DrawText(drawing.get(), style.get(), &kAt, "ab", &err), -1);
    EXPECT_TRUE(Reported(err.get(), "eevg_DrawText", 5, "Error drawing text")) << Chain(err.get());
    EXPECT_EQ(Chain(err.get()->next), "device #3: device full\n");
    EXPECT_EQ(device.fillSeen.green, 20);
    EXPECT_EQ(style->charFillStyle->pattern->color->green, 0);
  }
  {
    // Text along a polyline: three rows, the angle last.
    TextDevice device;
    TextDrawing drawing(device.canvas);
    Style style;
    Polyline line({0, 100, 100, 100});
    ErrorSlot err;
    EXPECT_EQ(eevg_DrawTextOnPolyLine(drawing.get(), style.get(), line.get(), "ab", &err), 0)
        << Chain(err.get());
    EXPECT_EQ(device.calls, (Strings{"opaque ab 3x2 0.500000,100.500000"}));
  }
}

struct SpecialCall {
  double x, y, width, height;
  std::u16string text;
};
SpecialCall special;

void PutTextUC(void *, Eevg_TextStyle *style, ...) {
  va_list ap;
  va_start(ap, style);
  special.x = va_arg(ap, double);
  special.y = va_arg(ap, double);
  special.width = va_arg(ap, double);
  special.height = va_arg(ap, double);
  special.text = va_arg(ap, const char16_t *);
  va_end(ap);
}

TEST(TextDeviceCallbacks, SpecialServerHandsUnicodeTextWhole) {
  TextCanvas canvas;
  canvas.io.putTextUC = PutTextUC;
  TextDrawing drawing(canvas);
  Style style("special");
  special = {};
  ErrorSlot err;
  EXPECT_EQ(eevg_DrawTextUC(drawing.get(), style.get(), &kAt, u"ab", &err), 0) << Chain(err.get());
  EXPECT_EQ(special.text, u"ab");
  EXPECT_EQ(special.x, 100);
  EXPECT_EQ(special.y, -225); // -(location y) - (height - ascent)
  EXPECT_EQ(special.width, 125);
  EXPECT_EQ(special.height, 125);
  EXPECT_EQ(canvas.Count(Eevg_Color{0, 0, 0, 0, 255}), 0);
  // 8-bit text, or a font whose server does not ask for it, is drawn by the renderer.
  special = {};
  EXPECT_EQ(eevg_DrawText(drawing.get(), style.get(), &kAt, "ab", &err), 0);
  Style box;
  EXPECT_EQ(eevg_DrawTextUC(drawing.get(), box.get(), &kAt, u"cd", &err), 0);
  EXPECT_EQ(special.text, u"");
  EXPECT_GT(canvas.Count(Eevg_Color{0, 0, 0, 0, 255}), 0);
}

TEST(TextChecks, ControlCharactersOnlyDrawNothing) {
  TextCanvas canvas;
  TextDrawing drawing(canvas);
  Style style;
  for (const char *text : {"", "\t\x01", "\r\n\n"}) {
    ErrorSlot err;
    EXPECT_EQ(eevg_DrawText(drawing.get(), style.get(), &kAt, text, &err), 0);
    Polyline line({0, 100, 300, 100});
    EXPECT_EQ(eevg_DrawTextOnPolyLine(drawing.get(), style.get(), line.get(), text, &err), 0);
    Sizes s;
    EXPECT_EQ(eevg_GetTextSizes(drawing.get(), style.get(), text, &s.width, &s.height, &s.ascent,
                                &s.descent, &err),
              0);
    EXPECT_EQ(err.get(), nullptr) << Chain(err.get());
    EXPECT_EQ(s.width + s.height + s.ascent + s.descent, 0);
  }
  EXPECT_TRUE(canvas.log.empty());
}

TEST(TextChecks, ArgumentsAreChecked) {
  TextCanvas canvas;
  TextDrawing drawing(canvas);
  Style style, unknown("nofont");
  Eevg_TextStyle bare{};
  Eevg_Drawing *d = drawing.get();
  Polyline line({0, 100, 300, 100});
  Matrix m(2, 4), narrow(2, 3);
  struct Case {
    std::function<int32_t(Eerr_ErrorReport **)> call;
    const char *reporter;
    int32_t code;
    const char *message;
  } cases[] = {
      {[&](auto e) { return eevg_DrawText(nullptr, style.get(), &kAt, "a", e); }, "eevg_DrawText", 1, "NULL Eevg Drawing Pointer"},
      {[&](auto e) { return eevg_DrawText(d, nullptr, &kAt, "a", e); }, "eevg_DrawText", 2, "NULL Eevg Text Style Pointer"},
      {[&](auto e) { return eevg_DrawText(d, &bare, &kAt, "a", e); }, "eevg_DrawText", 3, "NULL Eevg charFillStyle Pointer"},
      {[&](auto e) { return eevg_DrawText(d, style.get(), nullptr, "a", e); }, "eevg_DrawText", 3, "NULL Eevg Text Location Pointer"},
      {[&](auto e) { return eevg_DrawTextUC(d, style.get(), &kAt, nullptr, e); }, "eevg_DrawTextUC", 4, "NULL Eevg Text Pointer"},
      {[&](auto e) { return eevg_DrawText(d, unknown.get(), &kAt, "a", e); }, "eevg_DrawText", 6, "Unable to initialize text controls"},
      {[&](auto e) { return eevg_DrawTextOnPolyLineWorld(d, style.get(), nullptr, "a", 0, 0, 0, e); }, "eevg_DrawTextOnPolyLineWorld", 3, "NULL Eevg Text Polyline Coordinate Block Pointer"},
      {[&](auto e) { return eevg_DrawTextOnPolyLineWorld(d, &bare, line.get(), "a", 0, 0, 0, e); }, "eevg_DrawTextOnPolyLineWorld", 3, "NULL Eevg charFillStyle Pointer"},
      {[&](auto e) { return eevg_DrawTextOnPolyLine(d, unknown.get(), line.get(), "a", e); }, "eevg_DrawTextOnPolyLine", 1, "Unable to Draw Text on PolyLine"},
      {[&](auto e) { return eevg_DrawTextOnPolyLineUC(d, style.get(), nullptr, u"a", e); }, "eevg_DrawTextOnPolyLineUC", 2, "Unable to Draw Text on PolyLine"},
      {[&](auto e) { return eevg_DrawTextOnPolyLineImage(d, nullptr, "a", 0, 0, 0, e); }, "eevg_DrawTextOnPolyLineImage", 2, "NULL Eevg Text Style Pointer"},
      {[&](auto e) { return eevg_DrawTextOnPolyLineImage(d, unknown.get(), "a", 0, 0, 0, e); }, "eevg_DrawTextOnPolyLineImage", 4, "Unable to initialize text controls"},
      {[&](auto e) { return eevg_GetTextSizes(d, style.get(), nullptr, nullptr, nullptr, nullptr, nullptr, e); }, "eevg_GetTextSizes", 3, "NULL Eevg Text Pointer"},
      {[&](auto e) { return eevg_GetTextSizes(d, unknown.get(), "a", nullptr, nullptr, nullptr, nullptr, e); }, "eevg_GetTextSizes", 4, "Unable to initialize text controls"},
      {[&](auto e) { return eevg_GetTextBoundRect(d, style.get(), &kAt, "a", nullptr, e); }, "eevg_GetTextBoundRect", 5, "NULL Eevg Bounding Rectangle Pointer"},
      {[&](auto e) { return eevg_GetTextBoundRectUC(d, style.get(), &kAt, u"a", narrow.get(), e); }, "eevg_GetTextBoundRectUC", 5, "Invalid Eevg Bounding Rectangle Matrix"},
      {[&](auto e) { return eevg_GetTextPositionsUC(d, style.get(), &kAt, u"a", nullptr, e); }, "eevg_GetTextPositions", 5, "NULL Eevg Character Locations Pointer"},
      {[&](auto e) { return eevg_GetTextOnPolyLinePositions(d, style.get(), nullptr, "a", m.get(), e); }, "eevg_GetTextOnPolyLinePositions", 1, "NULL Eevg Text Polyline Coordinate Block Pointer"},
      {[&](auto e) { return eevg_GetTextOnPolyLineBoundRect(d, unknown.get(), line.get(), "a", m.get(), e); }, "eevg_GetTextOnPolyLineBoundRect", 3, "Unable to initialize text controls"},
  };
  for (const Case &c : cases) {
    ErrorSlot err;
    EXPECT_EQ(c.call(&err), -1) << c.message;
    EXPECT_TRUE(Reported(err.get(), c.reporter, c.code, c.message)) << Chain(err.get());
  }
  // A font the data base does not know, under the text controls.
  ErrorSlot err;
  eevg_DrawText(d, unknown.get(), &kAt, "a", &err);
  EXPECT_EQ(Chain(err.get()),
            "eevg_DrawText #6: Unable to initialize text controls\n"
            "eevg_InitializeTextControls #4: Unable to Load Font\n"
            "eevg_TextFontGet #2: Font file name nofont not found in font data base\n"
            "eevg_FontDataBaseLookupByFontFileName #2: FontFileName nofont not found on fdb\n");
  EXPECT_TRUE(canvas.log.empty());
}

TEST(TextChecks, ServerValuesThatCannotBeUsedAreRefused) {
  // Text along a polyline needs no descent: only the paragraph's size refuses it.
  struct Case {
    const char *font;
    const char *deepest;
    bool alongFails;
  } cases[] = {
      {"box_negative_em", "eevg_TextStringInit #2: Font server box_server.so gave the em value -1000", true},
      {"box_nan_width", "eevg_TextCharWidths #1: Font server box_server.so gave the advance width nan", true},
      {"box_negative_descent", "eevg_TextLineMetrics #1: Font server box_server.so gave the ascent 800 and descent -200", false},
      {"box_extra_points", "eevg_TextCharOutline #2: Outline of character 97 from font server box_server.so holds other points than it sent", true},
  };
  TextCanvas canvas;
  TextDrawing drawing(canvas);
  for (const Case &c : cases) {
    Style style(c.font);
    ErrorSlot err;
    EXPECT_EQ(eevg_DrawText(drawing.get(), style.get(), &kAt, "ab", &err), -1) << c.font;
    const Eerr_ErrorReport *last = err.get();
    while (last && last->next) last = last->next;
    EXPECT_EQ(Chain(last), std::string(c.deepest) + "\n") << Chain(err.get());
    EXPECT_EQ(canvas.Count(Eevg_Color{0, 0, 0, 0, 255}), 0) << c.font;
    if (!c.alongFails) continue;
    Polyline line({0, 100, 300, 100});
    EXPECT_EQ(eevg_DrawTextOnPolyLineUC(drawing.get(), style.get(), line.get(), u"ab", &err), -1) << c.font;
    EXPECT_EQ(canvas.Count(Eevg_Color{0, 0, 0, 0, 255}), 0) << c.font;
  }
}

TEST(OutlineSink, ContoursOfMovesDrawsAndCurves) {
  TextCanvas canvas;
  TextDrawing drawing(canvas);
  Eevg_Drawing *d = drawing.get();
  auto points = [&]() {
    std::vector<int32_t> p(d->points, d->points + 2 * d->pointCount);
    return p;
  };
  ErrorSlot err;
  // A move and two draws along one line keep the move point and the last point; a draw to the
  // pen adds nothing.
  EXPECT_EQ(eevg_DispMove(d, 0, 0, &err), 0);
  EXPECT_EQ(eevg_DispDraw(d, 10, 0, &err), 0);
  EXPECT_EQ(eevg_DispDraw(d, 20, 0, &err), 0);
  EXPECT_EQ(eevg_DispDraw(d, 20, 0, &err), 0);
  EXPECT_EQ(points(), (std::vector<int32_t>{0, 0, 20, 0}));
  // A curve is flattened and ends where it was asked to.
  EXPECT_EQ(eevg_DispCurve(d, 20, 100, 120, 100, 120, 0, &err), 0);
  EXPECT_GT(d->pointCount, 4);
  EXPECT_EQ(points().back(), 0);
  EXPECT_EQ(points()[points().size() - 2], 120);
  EXPECT_EQ(eevg_DispMove(d, 500, 500, &err), 0);
  EXPECT_EQ(d->polygonCount, 2);
  EXPECT_EQ(d->polygonStarts[1], d->pointCount - 1);
  // Contours stop one short of the polygon-start capacity.
  for (int32_t i = d->polygonCount; i + 1 < d->polygonStartCapacity; ++i)
    ASSERT_EQ(eevg_DispMove(d, i, i, &err), 0);
  EXPECT_EQ(eevg_DispMove(d, 0, 0, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DispMove", 1, "Too many polygons"));
  EXPECT_EQ(eevg_DispDraw(nullptr, 0, 0, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DispDraw", 1, "NULL Eevg Drawing Pointer"));
}

} // namespace
