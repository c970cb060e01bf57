// The shape calls: conversion into the point buffer, the device callbacks and their common rule,
// the override colour, the pre-transformed mode, the width rule and the thinning of the
// rasterising path, fills, arcs, symbols along lines, and extreme input.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "eevg_internal.h"
#include "efga.h"
#include "egda.h"
#include "taviron_testing.h"
#include "raster_testing.h"

namespace {

using namespace taviron::graphics;
using taviron::graphics::testing::Canvas;
using taviron::testing::Chain;
using taviron::graphics::testing::GuardedDevice;
using taviron::graphics::testing::Picture;
using taviron::graphics::testing::RasterDrawing;
using taviron::testing::Reported;
using taviron::testing::ErrorSlot;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---------------------------------------------------------------------------------------------
// Fixtures

// A coordinate block of parts given as x0, y0, x1, y1, ...
struct Block {
  Efga_CoordinateBlock *block = nullptr;
  explicit Block(const std::vector<std::vector<double>> &parts) {
    block = efga_CoordBlockPtrCreate(static_cast<int32_t>(parts.size()), nullptr);
    for (size_t p = 0; p < parts.size(); ++p) {
      const int32_t n = static_cast<int32_t>(parts[p].size() / 2);
      Egda_BaseData *m = egda_BaseDataCreate(2, n, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
      auto *values = reinterpret_cast<double *>(m->origin);
      for (int32_t j = 0; j < 2 * n; ++j) values[j] = parts[p][j];
      block->parts[p] = m;
    }
  }
  ~Block() { efga_CoordBlockDelete(block, nullptr); }
  operator Efga_CoordinateBlock *() const { return block; }
};

Eevg_Color Colour(int32_t red, int32_t opacity = 255) { return {7, red, 0, 0, opacity}; }

// A line style of the given widths, all in one colour.
struct LineStyle {
  Eevg_LineStyle *style = eevg_LineStyleCreate(nullptr);
  explicit LineStyle(std::vector<double> widths = {0}, Eevg_Color colour = Colour(200)) {
    eevg_LineCompositionCreate(static_cast<int32_t>(widths.size()), &style->composition, nullptr);
    for (size_t i = 0; i < widths.size(); ++i) {
      style->composition.data[i].width = widths[i];
      style->composition.data[i].color = eevg_ColorCreate(nullptr);
      *style->composition.data[i].color = colour;
    }
  }
  ~LineStyle() { eevg_LineStyleFree(&style); }
  Eevg_LineStyle *operator->() const { return style; }
  operator Eevg_LineStyle *() const { return style; }
};

struct FillStyle {
  Eevg_FillStyle *style = eevg_FillStyleCreate(nullptr);
  explicit FillStyle(Eevg_Color colour = Colour(100), bool fill = true, bool trace = false) {
    style->fill = fill;
    style->trace = trace;
    style->pattern = eevg_FillPatternCreate(nullptr);
    style->pattern->color = eevg_ColorCreate(nullptr);
    *style->pattern->color = colour;
    if (trace) {
      style->traceStyle = eevg_LineStyleCreate(nullptr);
      eevg_LineCompositionCreate(1, &style->traceStyle->composition, nullptr);
      style->traceStyle->composition.data[0].color = eevg_ColorCreate(nullptr);
      *style->traceStyle->composition.data[0].color = Colour(50);
    }
  }
  ~FillStyle() { eevg_FillStyleFree(&style); }
  Eevg_FillStyle *operator->() const { return style; }
  operator Eevg_FillStyle *() const { return style; }
};

// A canvas whose shape callbacks log their calls and what they were given.
struct ShapeDevice : Canvas {
  int32_t opaqueDone = 1, opacityDone = 1, wholeDone = 0;
  std::vector<int32_t> points, starts;
  int32_t closed = -1;
  std::vector<Eevg_Color> colours;         // the style's colours during the last callback
  std::vector<Eevg_Color *> colourPointers; // and their pointers
  std::vector<double> geometry;            // semi-axes, rotation, centre, angles, arc type
  std::vector<std::vector<double>> symbols; // x, y, factor, angle

  ShapeDevice(int32_t w, int32_t h) : Canvas(w, h) {}
  static ShapeDevice &Of(void *user) { return *static_cast<ShapeDevice *>(static_cast<Canvas *>(user)); }

  void Line(const char *what, Eevg_LineStyle *style, int32_t c, int32_t count, const int32_t *s,
            const int32_t *p) {
    log.push_back(what);
    closed = c;
    starts.assign(s, s + count + 1);
    points.assign(p, p + 2 * s[count]);
    colours.clear();
    colourPointers.clear();
    for (int32_t i = 0; i < style->composition.count; ++i) {
      colourPointers.push_back(style->composition.data[i].color);
      if (style->composition.data[i].color) colours.push_back(*style->composition.data[i].color);
    }
  }
  static int32_t PutPolyLine(void *user, Eevg_LineStyle *style, int32_t c, int32_t count,
                             const int32_t *s, const int32_t *p, Eerr_ErrorReport **) {
    ShapeDevice &d = Of(user);
    d.Line("polyline", style, c, count, s, p);
    return d.opaqueDone;
  }
  static int32_t PutPolyLineOpacity(void *user, Eevg_LineStyle *style, int32_t c, int32_t count,
                                    const int32_t *s, const int32_t *p, Eerr_ErrorReport **) {
    ShapeDevice &d = Of(user);
    d.Line("opacity polyline", style, c, count, s, p);
    return d.opacityDone;
  }
  static int32_t FailingPolyLine(void *user, Eevg_LineStyle *, int32_t, int32_t, const int32_t *,
                                 const int32_t *, Eerr_ErrorReport **err) {
    Of(user).log.push_back("failing polyline");
    *err = eerr_CreateErrorReport("device", 3, 2, nullptr, "plotter jammed");
    return 0;
  }
  void Ellipse(const char *what, Eevg_FillPattern *pattern, std::vector<double> g) {
    log.push_back(what);
    geometry = std::move(g);
    colours.clear();
    colourPointers = {pattern ? pattern->color : nullptr};
    if (pattern && pattern->color) colours.push_back(*pattern->color);
  }
  static int32_t PutEllipse(void *user, Eevg_FillPattern *pattern, double sx, double sy, double r,
                            const double *c, Eerr_ErrorReport **) {
    ShapeDevice &d = Of(user);
    d.Ellipse("ellipse", pattern, {sx, sy, r, c[0], c[1]});
    return d.opaqueDone;
  }
  static int32_t PutEllipseOpacity(void *user, Eevg_FillPattern *pattern, double sx, double sy,
                                   double r, const double *c, Eerr_ErrorReport **) {
    ShapeDevice &d = Of(user);
    d.Ellipse("opacity ellipse", pattern, {sx, sy, r, c[0], c[1]});
    return d.opacityDone;
  }
  static int32_t PutEllipseOutline(void *user, Eevg_LineStyle *style, double, double, double,
                                   const double *, Eerr_ErrorReport **) {
    ShapeDevice &d = Of(user);
    d.log.push_back("ellipse outline");
    d.colourPointers = {style->composition.data[0].color};
    return d.opaqueDone;
  }
  static int32_t PutArc(void *user, Eevg_FillPattern *pattern, double sx, double sy, double r,
                        const double *c, double a0, double a1, int32_t type, Eerr_ErrorReport **) {
    ShapeDevice &d = Of(user);
    d.Ellipse("arc", pattern, {sx, sy, r, c[0], c[1], a0, a1, static_cast<double>(type)});
    return d.opaqueDone;
  }
  static int32_t PutArcOpacity(void *user, Eevg_FillPattern *pattern, double sx, double sy,
                               double r, const double *c, double a0, double a1, int32_t type,
                               Eerr_ErrorReport **err) {
    ShapeDevice &d = Of(user);
    d.Ellipse("opacity arc", pattern, {sx, sy, r, c[0], c[1], a0, a1, static_cast<double>(type)});
    if (d.opacityDone < 0) *err = eerr_CreateErrorReport("device", 4, 2, nullptr, "no ink");
    return d.opacityDone;
  }
  static int32_t PutArcOutline(void *user, Eevg_LineStyle *, double, double, double,
                               const double *, double, double, int32_t, Eerr_ErrorReport **) {
    ShapeDevice &d = Of(user);
    d.log.push_back("arc outline");
    return d.opaqueDone;
  }
  static void PutPoint(void *user, const Eevg_Color *color, const int32_t *point,
                       Eerr_ErrorReport **) {
    ShapeDevice &d = Of(user);
    d.log.push_back("point");
    d.points = {point[0], point[1]};
    d.colours = {*color};
  }
  static int32_t DrawPolyLine(void *user, Eevg_LineStyle *, void *, Eerr_ErrorReport **) {
    ShapeDevice &d = Of(user);
    d.log.push_back("whole polyline");
    return d.wholeDone;
  }
  static int32_t DrawPolygon(void *user, Eevg_FillStyle *, void *, Eerr_ErrorReport **) {
    ShapeDevice &d = Of(user);
    d.log.push_back("whole polygon");
    return d.wholeDone;
  }
  static void Symbol(Eevg_Drawing *, void *user, const double *p, double factor, double angle,
                     Eerr_ErrorReport **) {
    static_cast<ShapeDevice *>(user)->symbols.push_back({p[0], p[1], factor, angle});
  }
};

// The shapes' reports name the rasterising line path when the line reached it (wide lines are
// drawn there), or the line driver drew pixels.
bool LineRasterised(const Eerr_ErrorReport *report, const Canvas &canvas) {
  for (; report; report = report->next)
    if (std::string(report->reporter) == "eevg_DrawPolyLineLineLO") return true;
  for (const std::string &line : canvas.log)
    if (line.rfind("pixel", 0) == 0 || line.rfind("vector", 0) == 0) return true;
  return false;
}

bool AnyPixel(const Canvas &canvas) {
  for (const Eevg_Color &p : canvas.pixels)
    if (p.opacity != 0) return true;
  return false;
}

// ---------------------------------------------------------------------------------------------
// Vector helpers, width rule and thinning

TEST(EevgShape, VectorHelpers) {
  double out[2];
  const double a[2] = {3, 4}, b[2] = {1, -2}, zero[2] = {0, 0};
  EXPECT_EQ(eevg_VectorAdd(out, a, b), out);
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(out[1], 2);
  eevg_VectorSubtract(out, a, b);
  EXPECT_EQ(out[0], 2);
  EXPECT_EQ(out[1], 6);
  eevg_VectorScale(out, a, -2);
  EXPECT_EQ(out[0], -6);
  EXPECT_EQ(out[1], -8);
  eevg_VectorNormal(out, a);
  EXPECT_EQ(out[0], -4);
  EXPECT_EQ(out[1], 3);
  eevg_VectorUnit(out, a);
  EXPECT_DOUBLE_EQ(out[0], 0.6);
  EXPECT_DOUBLE_EQ(out[1], 0.8);
  eevg_VectorUnit(out, zero);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(eevg_VectorMagnitude(a), 5);
  EXPECT_EQ(eevg_VectorDotProduct(a, b), -5);
  // The result may be an argument.
  double v[2] = {3, 4};
  eevg_VectorNormal(v, v);
  EXPECT_EQ(v[0], -4);
  EXPECT_EQ(v[1], 3);
}

TEST(EevgShape, WholePixelWidthRule) {
  const struct {
    double pixels;
    int32_t antiAlias, sub, draw;
  } cases[] = {
      {0, 0, 8, 8},      {0.5, 0, 8, 8},   {1, 0, 8, 8},   {1.9, 0, 8, 8},  {1.99, 0, 8, 8},
      {2, 0, 24, 24},    {3, 0, 24, 24},   {4, 0, 40, 40}, {4.5, 0, 40, 40}, {-2, 0, -8, 8},
      {2, 1, 16, 16},    {0, 1, 0, 1},     {0.1, 1, 0, 1}, {1.9, 1, 15, 15},
  };
  for (const auto &c : cases) {
    int32_t draw = 0;
    EXPECT_EQ(ShapeLineWidth(static_cast<int32_t>(c.pixels * 8), c.antiAlias, &draw), c.sub)
        << c.pixels << " aa " << c.antiAlias;
    EXPECT_EQ(draw, c.draw) << c.pixels << " aa " << c.antiAlias;
  }
  // The largest widths stay in range.
  int32_t draw = 0;
  EXPECT_GT(ShapeLineWidth(INT32_MAX, 0, &draw), 0);
  EXPECT_GT(ShapeLineWidth(INT32_MAX - 8, 0, &draw), 0);
  EXPECT_EQ(ShapeLineWidth(INT32_MIN, 0, &draw) % 8, 0);
  EXPECT_EQ(draw, 8);
}

// The rasterising path converts the style into the drawing's line state before it thins.
TEST(EevgShape, LineStateFromTheStyle) {
  Canvas canvas(100, 50);
  RasterDrawing drawing(canvas);
  drawing->lineWidthUnit = 1;
  LineStyle style({2, 1.9, 4}, Colour(30, 128));
  eevg_LinePatternSetValues(&style->pattern, 0, 3, 1.5, nullptr);
  eevg_LinePatternSetValues(&style->pattern, 2, 2, 2, nullptr); // three segments, growing
  drawing->pointCount = 1;
  drawing->polygonCount = 1;
  drawing->polygonStarts[0] = 0;
  drawing->polygonStarts[1] = 1;
  drawing->points[0] = drawing->points[1] = 40;
  ErrorSlot err;
  ASSERT_EQ(eevg_DrawPolyLineLineLO(drawing.get(), style, 0, &err), 0) << Chain(err.get());
  ASSERT_EQ(drawing->widthCount, 3);
  EXPECT_EQ(drawing->subWidths[0], 24);
  EXPECT_EQ(drawing->subWidths[1], 8);
  EXPECT_EQ(drawing->subWidths[2], 40);
  EXPECT_EQ(drawing->widths[1], 1.9);
  EXPECT_EQ(drawing->lineColours[2].red, 30);
  EXPECT_EQ(drawing->lineColours[2].opacity, 128);
  ASSERT_EQ(drawing->dashCount, 3);
  EXPECT_EQ(drawing->subDashes[0], 24);
  EXPECT_EQ(drawing->subDashes[1], 12);
  EXPECT_EQ(drawing->dashes[1], 1.5);
  // Thousandths of the device width: 100 pixels wide, 30 thousandths are 3 pixels.
  drawing->lineWidthUnit = 2;
  style->composition.data[0].width = 30;
  ASSERT_EQ(eevg_DrawPolyLineLineLO(drawing.get(), style, 0, &err), 0) << Chain(err.get());
  EXPECT_EQ(drawing->subWidths[0], 24);
  EXPECT_EQ(drawing->subDashes[0], 2);
  EXPECT_EQ(drawing->fillPattern, nullptr);
}

std::vector<int32_t> Thin(const std::vector<int32_t> &in, int32_t width, int32_t closed,
                          int64_t tolerance = 16) {
  std::vector<int32_t> out(in.size() + 2);
  const int32_t n = ThinPolyLinePart(in.data(), static_cast<int32_t>(in.size() / 2), width,
                                     tolerance, closed, out.data());
  out.resize(2 * static_cast<size_t>(n));
  return out;
}

TEST(EevgShape, ThinningOfTheRasterisedLine) {
  using V = std::vector<int32_t>;
  const struct {
    const char *what;
    V in;
    int32_t width, closed;
    V expected;
  } cases[] = {
      {"near points vanish from wide lines", {0, 0, 10, 5, 15, 15, 100, 0}, 24, 0,
       {0, 0, 100, 0}},
      {"on one-pixel lines every point stays", {0, 0, 10, 5, 15, 15, 100, 0}, 8, 0,
       {0, 0, 10, 5, 15, 15, 100, 0}},
      {"a step of 2 pixels on one axis stays", {0, 0, 16, 1, 100, 0}, 24, 0,
       {0, 0, 16, 1, 100, 0}},
      {"C beyond B on the line AB merges: A, C, D", {0, 0, 20, 20, 60, 60, 100, 0}, 24, 0,
       {0, 0, 60, 60, 100, 0}},
      {"C back past A merges too", {0, 0, 40, 0, -40, 0, -40, 80}, 24, 0,
       {0, 0, -40, 0, -40, 80}},
      {"three points are never merged", {0, 0, 20, 20, 60, 60}, 24, 0, {0, 0, 20, 20, 60, 60}},
      {"the last point stays even when near", {0, 0, 100, 0, 101, 1}, 24, 0,
       {0, 0, 100, 0, 101, 1}},
      {"closed gets its first point", {0, 0, 100, 0, 100, 100}, 24, 1,
       {0, 0, 100, 0, 100, 100, 0, 0}},
      {"closed whose last point is the first gets none", {0, 0, 100, 0, 100, 100, 0, 0}, 8, 1,
       {0, 0, 100, 0, 100, 100, 0, 0}},
      {"one point", {5, 5}, 24, 0, {5, 5}},
      {"extreme coordinates compare without overflow",
       {INT32_MIN, INT32_MIN, 0, 0, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MIN}, 24, 0,
       {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MIN}},
  };
  for (const auto &c : cases) EXPECT_EQ(Thin(c.in, c.width, c.closed), c.expected) << c.what;
  // The pre-transformed tolerance is scaled by the pixel size: with 0 nothing is near.
  EXPECT_EQ(Thin({0, 0, 1, 9, 2, 0}, 24, 0, 0), (V{0, 0, 1, 9, 2, 0}));
}

// ---------------------------------------------------------------------------------------------
// Polylines through the device

TEST(EevgShape, PolyLineConversionGoesToTheDevice) {
  ShapeDevice device(32, 32);
  device.io.putPolyLine = ShapeDevice::PutPolyLine;
  RasterDrawing drawing(device);
  LineStyle style;
  // World (x, y) lies at sub-pixel 8x + 4; halves go away from zero.
  Block block({{0.0625, 1, 2, 3, -1.0625, 0}, {}, {5, 5}});
  ErrorSlot err;
  ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), style, 2, block, &err), 0) << Chain(err.get());
  ASSERT_EQ(device.log, std::vector<std::string>{"polyline"});
  EXPECT_EQ(device.points, (std::vector<int32_t>{5, 12, 20, 28, -5, 4, 44, 44}));
  EXPECT_EQ(device.starts, (std::vector<int32_t>{0, 3, 3, 4}));
  EXPECT_EQ(device.closed, 2);
  // The whole-shape callback comes first; done ends the call.
  device.io.drawPolyLine = ShapeDevice::DrawPolyLine;
  device.wholeDone = 1;
  device.log.clear();
  ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), style, 0, block, &err), 0) << Chain(err.get());
  EXPECT_EQ(device.log, std::vector<std::string>{"whole polyline"});
  // A style that does not display its line goes nowhere.
  device.io.drawPolyLine = nullptr;
  device.log.clear();
  style->displayLine = 0;
  ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), style, 0, block, &err), 0) << Chain(err.get());
  EXPECT_TRUE(device.log.empty());
}

TEST(EevgShape, DeviceReportsStopTheLine) {
  ShapeDevice device(32, 32);
  device.io.putPolyLine = ShapeDevice::FailingPolyLine;
  RasterDrawing drawing(device);
  LineStyle style;
  Block block({{0, 0, 5, 5}});
  ErrorSlot err;
  EXPECT_EQ(eevg_DrawPolyLine(drawing.get(), style, 0, block, &err), -1);
  ASSERT_TRUE(Reported(err.get(), "eevg_DrawPolyLine", 4, "Unable to draw polyline"));
  ASSERT_TRUE(Reported(err->next, "eevg_DrawPolyLineLO", 3, "Error in device polyline function"));
  EXPECT_EQ(std::string(err->next->next->message), "plotter jammed");
}

// The common rule of the device callbacks, for polylines and ellipse fills alike.
TEST(EevgShape, CommonRuleOfTheDeviceCallbacks) {
  enum Variant { kNone, kDeclines, kDraws };
  const struct {
    bool translucent;
    Variant opacity;
    int32_t fallback;
    std::vector<std::string> asked; // "opacity" / "opaque"
    bool rasterised;
  } cases[] = {
      {false, kDraws, 1, {"opaque"}, false},
      {false, kDraws, 0, {"opaque"}, false},
      {false, kNone, 0, {"opaque"}, false},
      {true, kDraws, 1, {"opacity"}, false},
      {true, kDraws, 0, {"opacity"}, false},
      {true, kDeclines, 1, {"opacity", "opaque"}, false},
      {true, kDeclines, 0, {"opacity"}, true},
      {true, kNone, 1, {"opaque"}, false},
      {true, kNone, 0, {}, true},
  };
  for (int kind = 0; kind < 2; ++kind) {
    for (const auto &c : cases) {
      const std::string what = std::string(kind ? "ellipse" : "polyline") + " translucent " +
                               std::to_string(c.translucent) + " opacity " +
                               std::to_string(c.opacity) + " fallback " +
                               std::to_string(c.fallback);
      ShapeDevice device(32, 32);
      device.io.putVector = Canvas::PutVector;
      device.io.putPixel = Canvas::PutPixel;
      if (kind == 0) {
        device.io.putPolyLine = ShapeDevice::PutPolyLine;
        if (c.opacity != kNone) device.io.putPolyLineOpacity = ShapeDevice::PutPolyLineOpacity;
      } else {
        device.io.putEllipse = ShapeDevice::PutEllipse;
        if (c.opacity != kNone) device.io.putEllipseOpacity = ShapeDevice::PutEllipseOpacity;
      }
      device.opacityDone = c.opacity == kDraws;
      RasterDrawing drawing(device);
      drawing->opaqueFallback = c.fallback;
      const Eevg_Color colour = Colour(90, c.translucent ? 254 : 255);
      ErrorSlot err;
      bool rasterised;
      if (kind == 0) {
        LineStyle style({0, 0}, Colour(90));
        *style->composition.data[1].color = colour; // any translucent line counts
        Block block({{1, 1, 20, 20}});
        eevg_DrawPolyLine(drawing.get(), style, 0, block, &err);
        rasterised = LineRasterised(err.get(), device);
      } else {
        FillStyle style(colour);
        const Eevg_Coord centre{16, 16};
        ASSERT_EQ(eevg_DrawEllipse(drawing.get(), style, &centre, 5, 5, 0, &err), 0)
            << what << Chain(err.get());
        rasterised = AnyPixel(device);
      }
      std::vector<std::string> asked;
      for (const std::string &line : device.log) {
        if (line == "polyline" || line == "ellipse") asked.push_back("opaque");
        if (line == "opacity polyline" || line == "opacity ellipse") asked.push_back("opacity");
      }
      EXPECT_EQ(asked, c.asked) << what;
      EXPECT_EQ(rasterised, c.rasterised) << what;
    }
  }
}

TEST(EevgShape, AntiAliasedDrawingsBypassOnlyTheCurveCallbacks) {
  ShapeDevice device(32, 32);
  device.io.getPixel = Canvas::GetPixel;
  device.io.putPixel = Canvas::PutPixel;
  device.io.putPolyLine = ShapeDevice::PutPolyLine;
  device.io.putEllipse = ShapeDevice::PutEllipse;
  RasterDrawing drawing(device, 1);
  FillStyle fill;
  const Eevg_Coord centre{16, 16};
  ErrorSlot err;
  ASSERT_EQ(eevg_DrawEllipse(drawing.get(), fill, &centre, 5, 5, 0, &err), 0) << Chain(err.get());
  EXPECT_TRUE(AnyPixel(device));
  LineStyle style;
  Block block({{1, 1, 20, 20}});
  ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), style, 0, block, &err), 0) << Chain(err.get());
  for (const std::string &line : device.log) EXPECT_NE(line, "ellipse");
  EXPECT_EQ(device.log.back(), "polyline");
}

TEST(EevgShape, OverrideColourDuringCallbacksIsRestored) {
  ShapeDevice device(32, 32);
  device.io.putPolyLine = ShapeDevice::PutPolyLine;
  device.io.putPolyLineOpacity = ShapeDevice::PutPolyLineOpacity;
  device.io.putEllipse = ShapeDevice::PutEllipse;
  device.io.putEllipseOpacity = ShapeDevice::PutEllipseOpacity;
  RasterDrawing drawing(device);
  const Eevg_Color override = Colour(9, 100);
  eevg_ColorOverride(drawing.get(), &override, nullptr);

  LineStyle style({0, 0}, Colour(200));
  std::vector<Eevg_Color *> own = {style->composition.data[0].color,
                                   style->composition.data[1].color};
  Block block({{1, 1, 20, 20}});
  ErrorSlot err;
  ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), style, 0, block, &err), 0) << Chain(err.get());
  // Translucent by the override colour, and every line shows it.
  ASSERT_EQ(device.log, std::vector<std::string>{"opacity polyline"});
  ASSERT_EQ(device.colours.size(), 2u);
  for (const Eevg_Color &c : device.colours) EXPECT_EQ(c.red, 9);
  EXPECT_EQ(style->composition.data[0].color, own[0]);
  EXPECT_EQ(style->composition.data[1].color, own[1]);
  EXPECT_EQ(style->composition.data[0].color->red, 200);

  FillStyle fill(Colour(60));
  Eevg_Color *ownFill = fill->pattern->color;
  const Eevg_Coord centre{16, 16};
  ASSERT_EQ(eevg_DrawEllipse(drawing.get(), fill, &centre, 5, 5, 0, &err), 0) << Chain(err.get());
  EXPECT_EQ(device.log.back(), "opacity ellipse");
  ASSERT_EQ(device.colours.size(), 1u);
  EXPECT_EQ(device.colours[0].red, 9);
  EXPECT_EQ(fill->pattern->color, ownFill);

  // Points take the override colour too.
  device.io.putPoint = ShapeDevice::PutPoint;
  const Eevg_Color black = Colour(0);
  ASSERT_EQ(eevg_DrawPoint(drawing.get(), &black, &centre, &err), 0) << Chain(err.get());
  EXPECT_EQ(device.colours[0].red, 9);
}

TEST(EevgShape, OverrideColourWithoutMemoryIsReported) {
  ShapeDevice device(32, 32);
  device.io.putPolyLine = ShapeDevice::PutPolyLine;
  RasterDrawing drawing(device);
  const Eevg_Color override = Colour(9);
  eevg_ColorOverride(drawing.get(), &override, nullptr);
  LineStyle style({0, 0, 0});
  Eevg_Color *own = style->composition.data[2].color;
  Block block({{1, 1, 20, 20}});
  taviron::testing::SweepOptions options;
  options.prepare = [&] {
    device.log.clear();
    device.log.reserve(4);
  };
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **err, taviron::testing::Failing kind) {
        const int32_t status = eevg_DrawPolyLine(drawing.get(), style, 0, block, err);
        EXPECT_EQ(style->composition.data[2].color, own);
        if (status == 0) {
          EXPECT_EQ(device.log, std::vector<std::string>{"polyline"});
          return true;
        }
        if (kind == taviron::testing::Failing::Heap) {
          EXPECT_TRUE(Reported(*err, "eevg_DrawPolyLine", 4, "Unable to draw polyline"));
          if (*err) {
            EXPECT_TRUE(Reported((*err)->next, "eevg_DrawPolyLineLO", 4,
                                 "Unable to allocate the array saving the line colours"));
          }
          EXPECT_TRUE(device.log.empty());
        }
        return false;
      },
      options);
  // The ellipse outline callback chains it under its own message.
  device.io.putEllipseOutline = ShapeDevice::PutEllipseOutline;
  FillStyle fill(Colour(60), false, true);
  const Eevg_Coord centre{16, 16};
  ErrorSlot err;
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(eevg_DrawEllipse(drawing.get(), fill, &centre, 5, 5, 0, &err), -1);
  }
  ASSERT_TRUE(Reported(err.get(), "eevg_DrawEllipse", 8, "Error Outlining Ellipse"));
  EXPECT_TRUE(Reported(err->next, "eevg_DrawEllipse", 9,
                       "Unable to allocate the array saving the line colours"));
}

TEST(EevgShape, PointBufferGrowthFailureIsReported) {
  ShapeDevice device(32, 32);
  device.io.putPolyLine = ShapeDevice::PutPolyLine;
  device.io.putPolygon = Canvas::PutPolygon;
  device.polygonDone = 1;
  RasterDrawing drawing(device);
  LineStyle style;
  FillStyle fill;
  std::vector<double> many;
  for (int j = 0; j < 3000; ++j) {
    many.push_back(j % 30);
    many.push_back(j % 7);
  }
  Block block({many});
  for (int shape = 0; shape < 2; ++shape) {
    taviron::testing::SweepOptions options;
    options.prepare = [&] { device.points.reserve(8000); };
    taviron::testing::SweepAllocationFailures(
        [&](Eerr_ErrorReport **err, taviron::testing::Failing kind) {
          const int32_t status = shape ? eevg_DrawPolygon(drawing.get(), fill, block, err)
                                       : eevg_DrawPolyLine(drawing.get(), style, 0, block, err);
          if (status != 0 && kind == taviron::testing::Failing::Heap) {
            EXPECT_TRUE(shape ? Reported(*err, "eevg_DrawPolygon", 8, "Unable to allocate drawing point buffer")
                              : Reported(*err, "eevg_DrawPolyLine", 7, "Unable to allocate drawing point buffer"));
          }
          return status == 0;
        },
        options);
  }
  EXPECT_EQ(device.points.size(), 6000u);
}

// ---------------------------------------------------------------------------------------------
// Pre-transformed mode

TEST(EevgShape, PreTransformedThinningByCells) {
  using V = std::vector<int32_t>;
  // Sub-pixel coordinates, truncated toward zero.
  const std::vector<double> line = {0, 0, 3.9, 3, 7, 1, 8, 0, 9, 9, 9.5, 9.2, 20, 20, -3.7, 20};
  const struct {
    int32_t mode, sizeX, sizeY;
    V expected;
  } cases[] = {
      {1, 8, 8, {0, 0, 8, 0, 9, 9, 20, 20, -3, 20}},
      {1, 8, 0, {0, 0, 3, 3, 7, 1, 8, 0, 9, 9, 9, 9, 20, 20, -3, 20}}, // a zero cell keeps all
      {2, 8, 8, {0, 0, 3, 3, 7, 1, 8, 0, 9, 9, 20, 20, -3, 20}},       // cells of 1 by 1
      {1, -8, 8, {0, 0, 8, 0, 9, 9, 20, 20, -3, 20}},
  };
  for (const auto &c : cases) {
    ShapeDevice device(32, 32);
    device.io.putPolyLine = ShapeDevice::PutPolyLine;
    RasterDrawing drawing(device);
    eevg_DrawingSetUsingWorldTransform(drawing.get(), c.mode);
    eevg_DrawingSetPixelSize(drawing.get(), c.sizeX, c.sizeY);
    LineStyle style;
    Block block({line});
    ErrorSlot err;
    ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), style, 0, block, &err), 0) << Chain(err.get());
    EXPECT_EQ(device.points, c.expected) << c.mode << " " << c.sizeX << " " << c.sizeY;
  }
  // Polygons use the pixel size whatever the mode; a zero size keeps every point.
  for (int32_t size : {0, 8}) {
    Canvas canvas(32, 32);
    canvas.io.putPolygon = Canvas::PutPolygon;
    canvas.polygonDone = 1;
    RasterDrawing drawing(canvas);
    eevg_DrawingSetUsingWorldTransform(drawing.get(), 2);
    eevg_DrawingSetPixelSize(drawing.get(), size, size);
    FillStyle fill;
    Block block({{0, 0, 3, 3, 100, 0, 100, 100}});
    ErrorSlot err;
    ASSERT_EQ(eevg_DrawPolygon(drawing.get(), fill, block, &err), 0) << Chain(err.get());
    EXPECT_EQ(canvas.log, std::vector<std::string>{"polygon"});
    const V kept = size ? V{0, 0, 100, 0, 100, 100, 0, 0} : V{0, 0, 3, 3, 100, 0, 100, 100, 0, 0};
    EXPECT_EQ(V(drawing->points, drawing->points + 2 * drawing->pointCount), kept) << size;
  }
}

TEST(EevgShape, PreTransformedSymbolsAreScaledByThePixelSize) {
  ShapeDevice device(32, 32);
  RasterDrawing drawing(device);
  eevg_World(drawing.get(), 0, 0, 3100, 3100, nullptr);
  eevg_DrawingSetUsingWorldTransform(drawing.get(), 1);
  eevg_DrawingSetPixelSize(drawing.get(), 100, 100);
  LineStyle style;
  style->displayLine = 0;
  style->useSymbol = 1;
  style->lineSymbol = eevg_LineSymbolCreate(nullptr);
  style->lineSymbol->scale = 1;
  style->lineSymbol->spacing = 4;
  style->lineSymbol->render = ShapeDevice::Symbol;
  style->lineSymbol->userData = &device;
  Block block({{0, 100, 1200, 100}});
  ErrorSlot err;
  ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), style, 0, block, &err), 0) << Chain(err.get());
  ASSERT_EQ(device.symbols.size(), 3u);
  EXPECT_EQ(device.symbols[1][0], 500);
  EXPECT_EQ(device.symbols[2][0], 1000);
  EXPECT_EQ(device.symbols[0][2], 100);
  EXPECT_EQ(style->lineSymbol->scale, 1);
  EXPECT_EQ(style->lineSymbol->spacing, 4);
  EXPECT_EQ(drawing->usingWorldTransform, 1);
}

// ---------------------------------------------------------------------------------------------
// Polygons, ellipses and arcs

TEST(EevgShape, PolygonFillAndOutline) {
  ShapeDevice device(16, 16);
  device.io.putVector = Canvas::PutVector;
  device.io.putPolyLine = ShapeDevice::PutPolyLine;
  RasterDrawing drawing(device);
  FillStyle fill(Colour(100), true, true);
  // Pixel centres lie at whole world units: the square from 1.5 to 5.5 covers pixels 2 to 5.
  Block block({{1.5, 1.5, 5.5, 1.5, 5.5, 5.5, 1.5, 5.5}});
  ErrorSlot err;
  ASSERT_EQ(eevg_DrawPolygon(drawing.get(), fill, block, &err), 0) << Chain(err.get());
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x)
      EXPECT_EQ(device.Set(x, y), x >= 2 && x <= 5 && y >= 2 && y <= 5) << x << "," << y;
  EXPECT_EQ(device.Device(3, 3).red, 100);
  // The outline went to the device, closed, with rounded (not truncated) points.
  EXPECT_EQ(device.log.back(), "polyline");
  EXPECT_EQ(device.closed, 1);
  EXPECT_EQ(device.points, (std::vector<int32_t>{16, 16, 48, 16, 48, 48, 16, 48}));
  EXPECT_EQ(drawing->fillPattern, nullptr);

  // No parts to fill.
  Block empty({});
  EXPECT_EQ(eevg_DrawPolygon(drawing.get(), fill, empty, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawPolygon", 4, "Invalid Number of eevg_Polygon Points"));
}

TEST(EevgShape, FillWithoutAPatternTakesTheFirstLineColour) {
  // The fill colour is what the drawing holds for its first line (here the last line drawn's);
  // device callbacks are given no pattern.
  ShapeDevice device(32, 32);
  device.io.putVector = Canvas::PutVector;
  RasterDrawing drawing(device);
  LineStyle line({0}, Colour(90));
  Block stroke({{1, 30, 5, 30}});
  ErrorSlot err;
  ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), line, 0, stroke, &err), 0) << Chain(err.get());
  Eevg_FillStyle fill{1, 0, nullptr, nullptr};
  Block square({{2, 2, 12, 2, 12, 12, 2, 12}});
  ASSERT_EQ(eevg_DrawPolygon(drawing.get(), &fill, square, &err), 0) << Chain(err.get());
  EXPECT_EQ(device.Device(7, 7).red, 90);
  const Eevg_Coord centre{22, 8};
  ASSERT_EQ(eevg_DrawEllipse(drawing.get(), &fill, &centre, 4, 4, 0, &err), 0) << Chain(err.get());
  EXPECT_EQ(device.Device(22, 8).red, 90);
  const Eevg_Coord pie{8, 22};
  ASSERT_EQ(eevg_DrawEllipticalArc(drawing.get(), &fill, &pie, 6, 6, 0, 0, 3, EEVG_ARC_PIE, &err), 0)
      << Chain(err.get());
  EXPECT_EQ(device.Device(8, 24).red, 90);
  device.io.putEllipse = ShapeDevice::PutEllipse;
  device.io.putArc = ShapeDevice::PutArc;
  ASSERT_EQ(eevg_DrawEllipse(drawing.get(), &fill, &centre, 4, 4, 0, &err), 0) << Chain(err.get());
  EXPECT_EQ(device.colourPointers, std::vector<Eevg_Color *>{nullptr});
  ASSERT_EQ(eevg_DrawEllipticalArc(drawing.get(), &fill, &pie, 6, 6, 0, 0, 3, EEVG_ARC_PIE, &err), 0)
      << Chain(err.get());
  EXPECT_EQ(device.log.back(), "arc");
}

TEST(EevgShape, TranslucentFillGoesToPutPolygonOnlyWithoutOtherWriters) {
  for (bool writer : {false, true}) {
    Canvas canvas(16, 16);
    canvas.io.putVector = Canvas::PutVector;
    canvas.io.putPolygon = Canvas::PutPolygon;
    canvas.polygonDone = 1;
    if (writer) canvas.io.putPixelOpacity = Canvas::PutPixelOpacity;
    RasterDrawing drawing(canvas);
    FillStyle fill(Colour(100, 128));
    Block block({{1.5, 1.5, 5.5, 1.5, 5.5, 5.5, 1.5, 5.5}});
    ErrorSlot err;
    ASSERT_EQ(eevg_DrawPolygon(drawing.get(), fill, block, &err), 0) << Chain(err.get());
    ASSERT_FALSE(canvas.log.empty());
    EXPECT_EQ(canvas.log[0] == "polygon", !writer) << writer;
    EXPECT_EQ(AnyPixel(canvas), writer) << writer;
  }
}

TEST(EevgShape, EllipseGeometryForTheDevice) {
  ShapeDevice device(32, 32);
  device.io.putEllipse = ShapeDevice::PutEllipse;
  RasterDrawing drawing(device);
  eevg_World(drawing.get(), 0, 0, 15.5, 62, nullptr); // scales 2 and 0.5
  FillStyle fill;
  const Eevg_Coord centre{4, 10};
  ErrorSlot err;
  ASSERT_EQ(eevg_DrawEllipse(drawing.get(), fill, &centre, 3, 8, 0.25, &err), 0)
      << Chain(err.get());
  ASSERT_EQ(device.log, std::vector<std::string>{"ellipse"});
  EXPECT_EQ(device.geometry, (std::vector<double>{6, 4, 0.25, 8.5, 5.5}));
  EXPECT_EQ(drawing->startLineEnd, EEVG_BUTT_END);
  EXPECT_EQ(drawing->lineJoin, EEVG_BUTT_JOIN);
  EXPECT_EQ(drawing->applyLineEnds, 0);
}

TEST(EevgShape, EllipseInAMirroredWorld) {
  Canvas canvas(32, 32);
  canvas.io.putVector = Canvas::PutVector;
  RasterDrawing drawing(canvas);
  eevg_World(drawing.get(), 31, 31, 0, 0, nullptr); // both axes mirrored
  FillStyle fill;
  const Eevg_Coord centre{10, 20}; // device pixel (21, 11)
  ErrorSlot err;
  ASSERT_EQ(eevg_DrawEllipse(drawing.get(), fill, &centre, 5, 3, 0, &err), 0) << Chain(err.get());
  EXPECT_TRUE(canvas.Set(21, 11));
  EXPECT_TRUE(canvas.Set(25, 11));
  EXPECT_FALSE(canvas.Set(21, 15));
  EXPECT_FALSE(canvas.Set(10, 20));
  // The quarter pie from world angle 0 to a right angle lies toward larger world x and y, that
  // is toward smaller device columns and rows.
  canvas.pixels.assign(canvas.pixels.size(), Eevg_Color{});
  ASSERT_EQ(eevg_DrawEllipticalArc(drawing.get(), fill, &centre, 8, 8, 0, 0, 1.5707963267948966,
                                   EEVG_ARC_PIE, &err),
            0)
      << Chain(err.get());
  EXPECT_TRUE(canvas.Set(18, 8));
  EXPECT_FALSE(canvas.Set(18, 14));
  EXPECT_FALSE(canvas.Set(24, 8));
  EXPECT_FALSE(canvas.Set(24, 14));
}

TEST(EevgShape, EllipseInAWorldMirroredOnOneAxis) {
  // An ellipse of 40 x 10 pixels turned 30 degrees, and a pie from 10 to 80 degrees, in a world
  // mirrored on x or on y: the drawing is the mirror image of the unmirrored one.
  const double kDegree = std::numbers::pi / 180;
  for (const bool mirrorX : {true, false}) {
    auto draw = [&](bool mirrored, auto &&shape) {
      Canvas canvas(64, 40);
      canvas.io.putVector = Canvas::PutVector;
      RasterDrawing drawing(canvas);
      if (mirrored && mirrorX) eevg_World(drawing.get(), 63, 0, 0, 39, nullptr);
      if (mirrored && !mirrorX) eevg_World(drawing.get(), 0, 39, 63, 0, nullptr);
      shape(drawing.get());
      return Picture(canvas);
    };
    // World (32, 20) lies at device (31, 20) mirrored on x, (32, 19) mirrored on y.
    const Eevg_Coord world{32, 20}, device{mirrorX ? 31.0 : 32.0, mirrorX ? 20.0 : 19.0};
    FillStyle fill;
    const std::string ellipse = draw(true, [&](Eevg_Drawing *d) {
      EXPECT_EQ(eevg_DrawEllipse(d, fill, &world, 20, 5, 30 * kDegree, nullptr), 0);
    });
    const std::string turned = draw(false, [&](Eevg_Drawing *d) {
      EXPECT_EQ(eevg_DrawEllipse(d, fill, &device, 20, 5, -30 * kDegree, nullptr), 0);
    });
    EXPECT_EQ(ellipse, turned) << (mirrorX ? "x" : "y");
    const std::string pie = draw(true, [&](Eevg_Drawing *d) {
      EXPECT_EQ(eevg_DrawEllipticalArc(d, fill, &world, 15, 15, 0, 10 * kDegree, 80 * kDegree,
                                       EEVG_ARC_PIE, nullptr),
                0);
    });
    const double from = mirrorX ? 100 : -80, to = mirrorX ? 170 : -10;
    const std::string mirroredPie = draw(false, [&](Eevg_Drawing *d) {
      EXPECT_EQ(eevg_DrawEllipticalArc(d, fill, &device, 15, 15, 0, from * kDegree, to * kDegree,
                                       EEVG_ARC_PIE, nullptr),
                0);
    });
    EXPECT_EQ(pie, mirroredPie) << (mirrorX ? "x" : "y");
    // Not the whole quarter: the directions near its sides stay empty.
    auto at = [&](double degrees) {
      const double a = degrees * kDegree;
      const int32_t x = static_cast<int32_t>(device.x + 12 * std::cos(a));
      const int32_t y = static_cast<int32_t>(device.y + 12 * std::sin(a));
      return pie[static_cast<size_t>(39 - y) * 65 + x] == '#';
    };
    const double middle = (from + to) / 2;
    EXPECT_TRUE(at(middle));
    EXPECT_FALSE(at(middle - 42));
    EXPECT_FALSE(at(middle + 42));
  }
}

TEST(EevgShape, ExtremeColourComponentsBlendAsTheEndsOfTheirRange) {
  // The edges of an anti-aliased triangle in a colour far outside 0..255 blend as those of one
  // in (255, 0, 255); its inside takes the colour as it is given.
  auto draw = [](Eevg_Color colour) {
    Canvas canvas(16, 16);
    canvas.io.getPixel = Canvas::GetPixel;
    canvas.io.putPixel = Canvas::PutPixel;
    RasterDrawing drawing(canvas, 1);
    FillStyle fill(colour);
    Block block({{1, 1, 14, 3, 6, 13}});
    EXPECT_EQ(eevg_DrawPolygon(drawing.get(), fill, block, nullptr), 0);
    return canvas.pixels;
  };
  const std::vector<Eevg_Color> plain = draw({7, 255, 0, 255, 255});
  const std::vector<Eevg_Color> extreme = draw({7, INT32_MAX, INT32_MIN, 1000000, 255});
  int32_t edges = 0;
  for (size_t i = 0; i < plain.size(); ++i) {
    if (plain[i].red == 0 || plain[i].red == 255) continue;
    ++edges;
    EXPECT_EQ(extreme[i].red, plain[i].red) << i;
    EXPECT_EQ(extreme[i].green, 0) << i;
    EXPECT_EQ(extreme[i].blue, plain[i].blue) << i;
  }
  EXPECT_GT(edges, 10);
}

TEST(EevgShape, ArcTypes) {
  const double kQuarter = 1.5707963267948966;
  for (int32_t type : {EEVG_ARC_ONLY, EEVG_ARC_PIE, EEVG_ARC_CHORD}) {
    ShapeDevice device(32, 32);
    device.io.putArc = ShapeDevice::PutArc;
    device.io.putArcOutline = ShapeDevice::PutArcOutline;
    RasterDrawing drawing(device);
    FillStyle fill(Colour(100), true, true);
    const Eevg_Coord centre{16, 16};
    ErrorSlot err;
    ASSERT_EQ(eevg_DrawEllipticalArc(drawing.get(), fill, &centre, 10, 10, 0, 0, kQuarter, type,
                                     &err),
              0)
        << Chain(err.get());
    // An arc only is outlined, never filled.
    const std::vector<std::string> expected =
        type == EEVG_ARC_ONLY ? std::vector<std::string>{"arc outline"}
                              : std::vector<std::string>{"arc", "arc outline"};
    EXPECT_EQ(device.log, expected) << type;
    if (type != EEVG_ARC_ONLY) {
      EXPECT_EQ(device.geometry, (std::vector<double>{10, 10, 0, 16.5, 16.5, 0, kQuarter,
                                                      static_cast<double>(type)}));
    }
    // The buffer: the curve from (10, 0) to (0, 10) about the centre, then the closing points.
    const int32_t n = drawing->pointCount;
    const int32_t *p = drawing->points;
    EXPECT_NEAR(p[0], 212, 1);
    EXPECT_NEAR(p[1], 132, 1);
    if (type == EEVG_ARC_PIE) {
      EXPECT_EQ(p[2 * n - 4], 132);
      EXPECT_EQ(p[2 * n - 3], 132);
    }
    if (type != EEVG_ARC_ONLY) {
      EXPECT_EQ(p[2 * n - 2], p[0]);
      EXPECT_EQ(p[2 * n - 1], p[1]);
    } else {
      EXPECT_NEAR(p[2 * n - 2], 132, 1);
      EXPECT_NEAR(p[2 * n - 1], 212, 1);
    }
  }
}

TEST(EevgShape, PieFilledByTheScanFiller) {
  Canvas canvas(32, 32);
  canvas.io.putVector = Canvas::PutVector;
  RasterDrawing drawing(canvas);
  FillStyle fill;
  const Eevg_Coord centre{16, 16};
  ErrorSlot err;
  // A quarter pie from angle 0 to a right angle: only the upper right quadrant.
  ASSERT_EQ(eevg_DrawEllipticalArc(drawing.get(), fill, &centre, 10, 10, 0, 0,
                                   1.5707963267948966, EEVG_ARC_PIE, &err),
            0)
      << Chain(err.get());
  EXPECT_TRUE(canvas.Set(20, 20));
  EXPECT_TRUE(canvas.Set(17, 24));
  EXPECT_FALSE(canvas.Set(12, 20));
  EXPECT_FALSE(canvas.Set(20, 12));
  EXPECT_FALSE(canvas.Set(12, 12));
  EXPECT_FALSE(canvas.Set(26, 26)); // outside the circle
  // An invalid arc type is refused.
  EXPECT_EQ(eevg_DrawEllipticalArc(drawing.get(), fill, &centre, 10, 10, 0, 0, 1, 3, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawEllipticalArc", 10,
                       "Invalid Eevg eevg_DrawEllipticalArc Arc Type"));
}

TEST(EevgShape, ArcDeviceReportsNameTheVariant) {
  ShapeDevice device(32, 32);
  device.io.putArc = ShapeDevice::PutArc;
  device.io.putArcOpacity = ShapeDevice::PutArcOpacity;
  device.opacityDone = -1; // reports a failure
  RasterDrawing drawing(device);
  FillStyle fill(Colour(100, 10));
  const Eevg_Coord centre{16, 16};
  ErrorSlot err;
  EXPECT_EQ(eevg_DrawEllipticalArc(drawing.get(), fill, &centre, 5, 5, 0, 0, 1, EEVG_ARC_PIE, &err),
            -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawEllipticalArc", 5,
                       "Error filling ellipse with opacity with device dependent fill"));
  // A pattern without a colour counts as translucent for arcs.
  eevg_ColorFree(&fill->pattern->color);
  device.opacityDone = 1;
  device.log.clear();
  ASSERT_EQ(eevg_DrawEllipticalArc(drawing.get(), fill, &centre, 5, 5, 0, 0, 1, EEVG_ARC_PIE, &err),
            0)
      << Chain(err.get());
  EXPECT_EQ(device.log, std::vector<std::string>{"opacity arc"});
}

// ---------------------------------------------------------------------------------------------
// Symbols along lines

struct SymbolFixture {
  ShapeDevice device{64, 64};
  RasterDrawing drawing{device};
  LineStyle style;
  SymbolFixture(double scale = 1, double spacing = 1, double offset = 0) {
    style->useSymbol = 1;
    style->lineSymbol = eevg_LineSymbolCreate(nullptr);
    style->lineSymbol->scale = scale;
    style->lineSymbol->spacing = spacing;
    style->lineSymbol->offset = offset;
    style->lineSymbol->render = ShapeDevice::Symbol;
    style->lineSymbol->userData = &device;
  }
  std::vector<std::vector<double>> Positions() const {
    std::vector<std::vector<double>> out;
    for (const auto &s : device.symbols) out.push_back({s[0], s[1]});
    return out;
  }
};

TEST(EevgShape, SymbolsCarryThePhaseOverVertices) {
  using P = std::vector<std::vector<double>>;
  {
    // Two segments of length 3, period 2: symbols at distances 0, 2, 4 and 6.
    SymbolFixture f;
    Block block({{10, 10, 13, 10, 13, 13}});
    ErrorSlot err;
    ASSERT_EQ(eevg_DrawPolyLineSymbol(f.drawing.get(), f.style, block, 0, &err), 0)
        << Chain(err.get());
    EXPECT_EQ(f.Positions(), (P{{10, 10}, {12, 10}, {13, 11}, {13, 13}}));
    EXPECT_EQ(f.device.symbols[0][3], 0);
    EXPECT_DOUBLE_EQ(f.device.symbols[2][3], 1.5707963267948966);
  }
  {
    // Closed: the walk goes on back to the first point; an offset moves to the left.
    SymbolFixture f(1, 3, 1);
    Block block({{10, 10, 18, 10, 18, 18}});
    ErrorSlot err;
    ASSERT_EQ(eevg_DrawPolyLineSymbol(f.drawing.get(), f.style, block, 1, &err), 0)
        << Chain(err.get());
    ASSERT_EQ(f.device.symbols.size(), 7u);
    EXPECT_EQ(f.Positions()[0], (std::vector<double>{10, 11}));
    EXPECT_EQ(f.Positions()[2], (std::vector<double>{18, 11}));
    EXPECT_EQ(f.Positions()[3], (std::vector<double>{17, 14}));
    EXPECT_DOUBLE_EQ(f.device.symbols[5][3], -2.356194490192345); // going back down-left
  }
  {
    // A segment that starts outside the world window enters it on a whole period.
    SymbolFixture f(1, 4);
    Block block({{-12, 5, 20, 5}});
    ErrorSlot err;
    ASSERT_EQ(eevg_DrawPolyLineSymbol(f.drawing.get(), f.style, block, 0, &err), 0)
        << Chain(err.get());
    ASSERT_FALSE(f.device.symbols.empty());
    EXPECT_EQ(f.Positions()[0], (std::vector<double>{-2, 5}));
    // A segment wholly outside advances the phase by its length.
    double angle = 0;
    EXPECT_EQ(eevg_DrawSymbolAlongLineSegmentFast(1, &angle, -100, -3, -93, -3, &err, f.style->lineSymbol,
                                                  f.drawing.get()),
              4);
  }
}

TEST(EevgShape, SymbolsWithoutTheLine) {
  ShapeDevice device(64, 64);
  device.io.putPolyLine = ShapeDevice::PutPolyLine;
  RasterDrawing drawing(device);
  LineStyle style;
  style->displayLine = 0;
  style->useSymbol = 1;
  style->lineSymbol = eevg_LineSymbolCreate(nullptr);
  style->lineSymbol->scale = 2;
  style->lineSymbol->spacing = 3;
  style->lineSymbol->render = ShapeDevice::Symbol;
  style->lineSymbol->userData = &device;
  Block block({{1, 1, 21, 1}});
  ErrorSlot err;
  ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), style, 0, block, &err), 0) << Chain(err.get());
  EXPECT_TRUE(device.log.empty());
  EXPECT_EQ(device.symbols.size(), 5u);
  // Along an ellipse outline (from the point buffer, in world units again).
  device.symbols.clear();
  FillStyle fill(Colour(1), false, true);
  fill->traceStyle->displayLine = 0;
  fill->traceStyle->useSymbol = 1;
  fill->traceStyle->lineSymbol = style->lineSymbol;
  style->lineSymbol = nullptr;
  const Eevg_Coord centre{30, 30};
  ASSERT_EQ(eevg_DrawEllipse(drawing.get(), fill, &centre, 10, 10, 0, &err), 0) << Chain(err.get());
  ASSERT_GT(device.symbols.size(), 8u);
  for (const auto &s : device.symbols)
    EXPECT_NEAR(std::hypot(s[0] - 30, s[1] - 30), 10, 0.3) << s[0] << "," << s[1];
}

TEST(EevgShape, SymbolFailuresAndDegeneratePeriods) {
  SymbolFixture f(0, 0);
  Block block({{10, 10, 13, 10}});
  ErrorSlot err;
  // A period of 0 places nothing (and does not loop).
  ASSERT_EQ(eevg_DrawPolyLineSymbol(f.drawing.get(), f.style, block, 0, &err), 0);
  EXPECT_TRUE(f.device.symbols.empty());
  f.style->lineSymbol->scale = 1;
  f.style->lineSymbol->render = [](Eevg_Drawing *, void *, const double *, double, double,
                                   Eerr_ErrorReport **e) {
    *e = eerr_CreateErrorReport("symbol", 1, 2, nullptr, "no glyph");
  };
  EXPECT_EQ(eevg_DrawPolyLineSymbol(f.drawing.get(), f.style, block, 0, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawPolyLineSymbol", 1,
                       "Unable to draw symbol along polyline"));
}

// ---------------------------------------------------------------------------------------------
// Arguments

TEST(EevgShape, PointsOnlyThroughTheDevice) {
  ShapeDevice device(32, 32);
  RasterDrawing drawing(device);
  const Eevg_Color colour = Colour(3);
  const Eevg_Coord at{2.0625, -1.0625};
  ErrorSlot err;
  EXPECT_EQ(eevg_DrawPoint(drawing.get(), &colour, &at, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawPoint", 6, "NULL Put Point function"));
  device.io.putPoint = ShapeDevice::PutPoint;
  ASSERT_EQ(eevg_DrawPoint(drawing.get(), &colour, &at, &err), 0) << Chain(err.get());
  EXPECT_EQ(device.points, (std::vector<int32_t>{21, -5}));
  EXPECT_EQ(device.colours[0].red, 3);
  EXPECT_EQ(eevg_DrawPoint(nullptr, &colour, &at, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawPoint", 1, "NULL Eevg Drawing Pointer"));
  EXPECT_EQ(eevg_DrawPoint(drawing.get(), nullptr, &at, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawPoint", 2, "NULL Eevg Color Pointer"));
  EXPECT_EQ(eevg_DrawPoint(drawing.get(), &colour, nullptr, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawPoint", 3, "NULL Eevg Text Location Pointer"));
}

TEST(EevgShape, NullAndInvalidArguments) {
  ShapeDevice device(32, 32);
  device.io.putPolyLine = ShapeDevice::PutPolyLine;
  RasterDrawing drawing(device);
  Eevg_Drawing *d = drawing.get();
  LineStyle line;
  FillStyle fill;
  Block block({{1, 1, 2, 2}});
  const Eevg_Coord c{1, 1};
  // Parts that are not two-row f64 matrices, or missing.
  Block nullPart({{1, 1}});
  egda_BaseDataDelete(nullPart.block->parts[0], nullptr);
  nullPart.block->parts[0] = nullptr;
  Block threeRows({{1, 1}});
  egda_BaseDataDelete(threeRows.block->parts[0], nullptr);
  threeRows.block->parts[0] = egda_BaseDataCreate(3, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  Block singles({{1, 1}});
  egda_BaseDataDelete(singles.block->parts[0], nullptr);
  singles.block->parts[0] = egda_BaseDataCreate(2, 4, EGDA_TYPE_F32, EGDA_MATRIX, nullptr, nullptr);
  LineStyle badLine(std::vector<double>{});
  badLine->composition.count = 3; // without lines
  Eevg_FillStyle noTraceStyle{0, 1, nullptr, nullptr};

  ErrorSlot err;
  const struct {
    const char *reporter;
    int code;
    const char *message;
    std::function<int32_t()> call;
  } cases[] = {
      {"eevg_DrawPolyLine", 1, "NULL Eevg Drawing Pointer",
       [&] { return eevg_DrawPolyLine(nullptr, line, 0, block, &err); }},
      {"eevg_DrawPolyLine", 2, "NULL Eevg eevg_PolyLine Line Style Pointer",
       [&] { return eevg_DrawPolyLine(d, nullptr, 0, block, &err); }},
      {"eevg_DrawPolyLine", 2, "Invalid Eevg eevg_PolyLine Line Style",
       [&] { return eevg_DrawPolyLine(d, badLine, 0, block, &err); }},
      {"eevg_DrawPolyLine", 3, "NULL Eevg eevg_PolyLine Coordinate List Pointer",
       [&] { return eevg_DrawPolyLine(d, line, 0, nullptr, &err); }},
      {"eevg_DrawPolyLine", 3, "Invalid Eevg eevg_PolyLine Coordinate List",
       [&] { return eevg_DrawPolyLine(d, line, 0, nullPart, &err); }},
      {"eevg_DrawPolyLine", 3, "Invalid Eevg eevg_PolyLine Coordinate List",
       [&] { return eevg_DrawPolyLine(d, line, 0, threeRows, &err); }},
      {"eevg_DrawPolyLine", 3, "Invalid Eevg eevg_PolyLine Coordinate List",
       [&] { return eevg_DrawPolyLine(d, line, 0, singles, &err); }},
      {"eevg_DrawPolyLineFast", 3, "NULL Eevg eevg_PolyLine Coordinate List Pointer",
       [&] { return eevg_DrawPolyLineFast(d, line, 0, nullptr, &err); }},
      {"eevg_DrawPolyLineLO", 1, "NULL Eevg Drawing Pointer",
       [&] { return eevg_DrawPolyLineLO(nullptr, line, 0, &err); }},
      {"eevg_DrawPolyLineLO", 2, "NULL Eevg eevg_PolyLine Line Style Pointer",
       [&] { return eevg_DrawPolyLineLO(d, nullptr, 0, &err); }},
      {"eevg_DrawPolyLineLineLO", 2, "NULL Eevg eevg_PolyLine Line Style Pointer",
       [&] { return eevg_DrawPolyLineLineLO(d, nullptr, 0, &err); }},
      {"eevg_DrawPolygon", 1, "NULL Eevg Drawing Pointer",
       [&] { return eevg_DrawPolygon(nullptr, fill, block, &err); }},
      {"eevg_DrawPolygon", 2, "NULL Eevg eevg_Polygon Fill Style Pointer",
       [&] { return eevg_DrawPolygon(d, nullptr, block, &err); }},
      {"eevg_DrawPolygon", 2, "Invalid Eevg eevg_Polygon Fill Style",
       [&] { return eevg_DrawPolygon(d, &noTraceStyle, block, &err); }},
      {"eevg_DrawPolygon", 3, "NULL Eevg eevg_Polygon Coordinate List Pointer",
       [&] { return eevg_DrawPolygon(d, fill, nullptr, &err); }},
      {"eevg_DrawPolygon", 3, "Invalid Eevg eevg_Polygon Coordinate List",
       [&] { return eevg_DrawPolygon(d, fill, threeRows, &err); }},
      {"eevg_DrawEllipse", 1, "NULL Eevg Drawing Pointer",
       [&] { return eevg_DrawEllipse(nullptr, fill, &c, 1, 1, 0, &err); }},
      {"eevg_DrawEllipse", 2, "NULL Eevg eevg_DrawEllipse Fill Style Pointer",
       [&] { return eevg_DrawEllipse(d, nullptr, &c, 1, 1, 0, &err); }},
      {"eevg_DrawEllipse", 3, "NULL Eevg eevg_DrawEllipse Coordinate List Pointer",
       [&] { return eevg_DrawEllipse(d, fill, nullptr, 1, 1, 0, &err); }},
      {"eevg_DrawEllipticalArc", 2, "NULL Eevg eevg_DrawEllipticalArc Fill Style Pointer",
       [&] { return eevg_DrawEllipticalArc(d, nullptr, &c, 1, 1, 0, 0, 1, 0, &err); }},
      {"eevg_DrawEllipticalArc", 3, "NULL Eevg eevg_DrawEllipticalArc Coordinate List Pointer",
       [&] { return eevg_DrawEllipticalArc(d, fill, nullptr, 1, 1, 0, 0, 1, 0, &err); }},
      {"eevg_DrawPolyLineSymbol", 4, "Invalid Eevg eevg_PolyLine Coordinate List",
       [&] { return eevg_DrawPolyLineSymbol(d, line, singles, 0, &err); }},
      {"eevg_DrawPolyLineSymbolLO", 3, "NULL Eevg eevg_PolyLine Line Style Pointer",
       [&] { return eevg_DrawPolyLineSymbolLO(d, nullptr, &err); }},
  };
  for (const auto &t : cases) {
    EXPECT_EQ(t.call(), -1) << t.message;
    EXPECT_TRUE(Reported(err.get(), t.reporter, t.code, t.message)) << t.reporter << " " << t.message;
  }
  EXPECT_TRUE(device.log.empty());
  // A null slot is accepted.
  EXPECT_EQ(eevg_DrawPolyLine(nullptr, line, 0, block, nullptr), -1);
  badLine->composition.count = 0;
}

// ---------------------------------------------------------------------------------------------
// Far and broken coordinates

TEST(EevgShape, FarCoordinatesAreClippedNotWrapped) {
  ShapeDevice device(16, 16);
  device.io.putPolyLine = ShapeDevice::PutPolyLine;
  RasterDrawing drawing(device);
  LineStyle style;
  ErrorSlot err;
  // A horizontal line far beyond both sides keeps its height and crosses the window.
  Block wide({{-1e12, 5, 1e12, 5}});
  ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), style, 0, wide, &err), 0) << Chain(err.get());
  ASSERT_EQ(device.points.size(), 4u);
  EXPECT_EQ(device.points[1], 44);
  EXPECT_EQ(device.points[3], 44);
  EXPECT_EQ(device.points[0], -kShapeGuardBand);
  EXPECT_EQ(device.points[2], 15 * 8 + kShapeGuardBand);
  // Leaving and coming back cuts the line into parts; points that are no numbers are dropped.
  Block zigzag({{1, 1, 3, 1, 1e15, 2, 4, 4, kNaN, 2, 6, 4, 6, kInf}});
  ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), style, 0, zigzag, &err), 0) << Chain(err.get());
  ASSERT_EQ(device.starts.size(), 3u);
  EXPECT_EQ(device.starts[1], 3);
  EXPECT_EQ(std::vector<int32_t>(device.points.begin(), device.points.begin() + 4),
            (std::vector<int32_t>{12, 12, 28, 12}));
  EXPECT_EQ(std::vector<int32_t>(device.points.end() - 4, device.points.end()),
            (std::vector<int32_t>{36, 36, 52, 36}));
  for (int32_t v : device.points) EXPECT_LE(std::abs(int64_t{v}), kShapeSafeLimit);
  // A closed line that is cut walks its closing segment itself, from where it comes back into
  // the guarded window to where it leaves it, and the flag is cleared.
  Block closedFar({{1, 1, 1e13, 1, 1, 9}});
  ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), style, 1, closedFar, &err), 0) << Chain(err.get());
  EXPECT_EQ(device.closed, 0);
  ASSERT_EQ(device.starts, (std::vector<int32_t>{0, 4}));
  const std::vector<int32_t> &p = device.points;
  EXPECT_EQ(std::vector<int32_t>(p.begin() + 2, p.begin() + 6),
            (std::vector<int32_t>{12, 76, 12, 12})); // (1, 9) and (1, 1) in order
  EXPECT_EQ(p[0], 120 + kShapeGuardBand);
  EXPECT_EQ(p[6], 120 + kShapeGuardBand);
  // A closed line inside the window is closed by the line path as given.
  Block closedNear({{1, 1, 5, 1, 1, 9}});
  ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), style, 1, closedNear, &err), 0) << Chain(err.get());
  EXPECT_EQ(device.closed, 1);
  EXPECT_EQ(device.points.size(), 6u);
}

TEST(EevgShape, FarPolygonFillsTheWindowExactly) {
  Canvas canvas(16, 16);
  canvas.io.putVector = Canvas::PutVector;
  RasterDrawing drawing(canvas);
  const Eevg_Coord a{2, 3}, b{12, 11};
  eevg_SetClipWindow(drawing.get(), &a, &b, nullptr);
  FillStyle fill;
  // Below the diagonal y = x, with vertices far beyond the 32-bit sub-pixel range; a vertex that
  // is no number is left out of its ring.
  Block block({{-1e12, -1e12, 1e12, -1e12, kNaN, 5, 1e12, 1e12}});
  ErrorSlot err;
  ASSERT_EQ(eevg_DrawPolygon(drawing.get(), fill, block, &err), 0) << Chain(err.get());
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x) {
      const bool inWindow = x >= 2 && x <= 12 && y >= 3 && y <= 11;
      if (!inWindow || y > x) {
        EXPECT_FALSE(canvas.Set(x, y)) << x << "," << y;
      } else if (y < x) {
        EXPECT_TRUE(canvas.Set(x, y)) << x << "," << y;
      }
    }
  // Far ellipses (and ones that are no number) draw nothing; a huge one covers the window.
  canvas.pixels.assign(canvas.pixels.size(), Eevg_Color{});
  const Eevg_Coord far{1e13, 0}, nan{kNaN, 0}, middle{8, 8};
  EXPECT_EQ(eevg_DrawEllipse(drawing.get(), fill, &far, 10, 10, 0, &err), 0);
  EXPECT_EQ(eevg_DrawEllipse(drawing.get(), fill, &nan, 10, 10, 0, &err), 0);
  EXPECT_EQ(eevg_DrawEllipse(drawing.get(), fill, &middle, kInf, 10, 0, &err), 0);
  EXPECT_FALSE(AnyPixel(canvas));
  ASSERT_EQ(eevg_DrawEllipse(drawing.get(), fill, &middle, 1e5, 1e5, 0, &err), 0)
      << Chain(err.get());
  for (int32_t y = 3; y <= 11; ++y)
    for (int32_t x = 2; x <= 12; ++x) EXPECT_TRUE(canvas.Set(x, y)) << x << "," << y;
}

TEST(EevgShape, FarEllipseIsFlattenedWhereItMeetsTheWindow) {
  // A circle of radius 1e9 pixels whose top touches y = 8 (sub-pixel 68) across the window (the
  // top is where two quarters meet, so the cubics pass through it exactly).
  const Eevg_Coord centre{8, -1e9};
  const double radius = 1e9 + 8;
  {
    Canvas canvas(16, 16);
    canvas.io.putVector = Canvas::PutVector;
    RasterDrawing drawing(canvas);
    FillStyle fill;
    ErrorSlot err;
    ASSERT_EQ(eevg_DrawEllipse(drawing.get(), fill, &centre, radius, radius, 0, &err), 0)
        << Chain(err.get());
    for (int32_t y = 0; y < 16; ++y)
      for (int32_t x = 0; x < 16; ++x) EXPECT_EQ(canvas.Set(x, y), y <= 8) << x << "," << y;
  }
  {
    ShapeDevice device(16, 16);
    device.io.putPolyLine = ShapeDevice::PutPolyLine;
    RasterDrawing drawing(device);
    FillStyle fill(Colour(1), false, true);
    ErrorSlot err;
    ASSERT_EQ(eevg_DrawEllipse(drawing.get(), fill, &centre, radius, radius, 0, &err), 0)
        << Chain(err.get());
    ASSERT_EQ(device.log, std::vector<std::string>{"polyline"});
    bool crosses = false;
    for (size_t i = 0; i < device.points.size(); i += 2) {
      EXPECT_LE(std::abs(int64_t{device.points[i]}), kShapeSafeLimit);
      EXPECT_LE(std::abs(int64_t{device.points[i + 1]}), kShapeSafeLimit);
      if (device.points[i] >= 0 && device.points[i] <= 128 && std::abs(device.points[i + 1] - 68) <= 2)
        crosses = true;
    }
    EXPECT_TRUE(crosses);
    EXPECT_LT(device.points.size(), 20000u);
  }
}


TEST(EevgShape, DashesKeepThePhaseOfTheWholeLine) {
  // A line from x = -1e7 to 300 pixels, 2 wide, with marks of 4 and spaces of 6 pixels, seen
  // through columns 150..249: its marks lie where they lie on the whole line (columns 150..154,
  // 160..164, ...), however far its start is cut away, and move with the world when it pans.
  for (const double start : {-1e7, -1e12, -10.0}) {
    for (const int32_t pan : {0, 3, 7}) {
      Canvas canvas(400, 20);
      canvas.io.putVector = Canvas::PutVector;
      RasterDrawing drawing(canvas);
      drawing->lineWidthUnit = 1;
      eevg_World(drawing.get(), pan, 0, 399 + pan, 19, nullptr);
      const Eevg_Coord a{150.0 + pan, 0}, b{249.0 + pan, 19};
      eevg_SetClipWindow(drawing.get(), &a, &b, nullptr);
      LineStyle style({2});
      style->startLineEnd = style->endLineEnd = style->markEnd = EEVG_BUTT_END;
      eevg_LinePatternSetValues(&style->pattern, 0, 4, 6, nullptr);
      Block line({{start, 10, 300, 10}});
      ErrorSlot err;
      ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), style, 0, line, &err), 0) << Chain(err.get());
      std::string row, expected;
      for (int32_t x = 150; x <= 249; ++x) {
        row += canvas.Set(x, 10) ? '#' : '.';
        expected += (x + pan - 150) % 10 < 5 ? '#' : '.';
      }
      EXPECT_EQ(row, expected) << "start " << start << ", pan " << pan;
    }
  }
}

TEST(EevgShape, DashedWideLinesCostWhatReachesTheWindow) {
  // Lines 200000 pixels wide and two billion long, dashed every 10 pixels, passing through,
  // beside and diagonally past the window, with every kind of end, an arc and ellipse outlines
  // of such lines: only the few pieces that show in the window are drawn.
  const auto started = std::chrono::steady_clock::now();
  for (int32_t antiAlias : {0, 1}) {
    Canvas canvas(48, 40);
    canvas.io.getPixel = Canvas::GetPixel;
    canvas.io.putPixel = Canvas::PutPixel;
    canvas.io.putVector = Canvas::PutVector;
    RasterDrawing drawing(canvas, antiAlias);
    drawing->lineWidthUnit = 1;
    const Eevg_Coord a{10, 10}, b{30, 25};
    eevg_SetClipWindow(drawing.get(), &a, &b, nullptr);
    for (int32_t end : {EEVG_ROUND_END, EEVG_BUTT_END, EEVG_SQUARE_END}) {
      LineStyle style({2e5});
      style->startLineEnd = style->endLineEnd = style->markEnd = end;
      eevg_LinePatternSetValues(&style->pattern, 0, 4, 6, nullptr);
      for (const std::vector<double> &part :
           {std::vector<double>{-1e9, 20, 1e9, 20}, {-1e9, 8e4, 1e9, 8e4},
            {-1e9, 1e9 + 1.2e5, 1e9, -1e9 + 1.2e5}, {-1e9, -1e9, 1e9, 1e9}}) {
        Block line({part});
        ErrorSlot err;
        ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), style, 0, line, &err), 0) << Chain(err.get());
      }
      FillStyle arc(Colour(1), false, true);
      arc->traceStyle->composition.data[0].width = 2e5;
      arc->traceStyle->markEnd = end;
      eevg_LinePatternSetValues(&arc->traceStyle->pattern, 0, 4, 6, nullptr);
      const Eevg_Coord centre{20, 20};
      ErrorSlot err;
      ASSERT_EQ(eevg_DrawEllipticalArc(drawing.get(), arc, &centre, 2e5, 1.5e5, 0.3, 0.2, 2.5,
                                       EEVG_ARC_ONLY, &err),
                0)
          << Chain(err.get());
      // The outlines of ellipses around the window, of many short steps, dashed and solid.
      for (const int32_t marks : {1, 0}) {
        FillStyle ring(Colour(1), false, true);
        ring->traceStyle->composition.data[0].width = 2e5;
        ring->traceStyle->markEnd = end;
        if (marks) eevg_LinePatternSetValues(&ring->traceStyle->pattern, 0, 4, 6, nullptr);
        ASSERT_EQ(eevg_DrawEllipse(drawing.get(), ring, &centre, 300, 200, 0.5, &err), 0)
            << Chain(err.get());
      }
    }
    EXPECT_TRUE(canvas.Set(20, 20));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}


TEST(EevgShape, RandomExtremeShapesStayInTheClipWindow) {
  std::mt19937_64 random(20261210);
  auto pick = [&](std::vector<double> values) {
    return values[std::uniform_int_distribution<size_t>(0, values.size() - 1)(random)];
  };
  auto coordinate = [&]() {
    switch (std::uniform_int_distribution<int>(0, 9)(random)) {
    case 0: return pick({kNaN, kInf, -kInf, 1e308, -1e308, 3e9, -3e9, 1e15});
    case 1: return std::uniform_real_distribution<double>(-1e7, 1e7)(random);
    default: return std::uniform_real_distribution<double>(-20, 60)(random);
    }
  };
  const int32_t w = 40, h = 30;
  int64_t writes = 0, placed = 0;
  for (int round = 0; round < 300; ++round) {
    GuardedDevice device(w, h, 5, 30, 4, 20); // columns 5..30, image rows 4..20
    Eevg_Control *control = eevg_Init(nullptr);
    Eevg_DeviceInfo *info = eevg_DeviceInfoCreate(nullptr);
    Eevg_WorldInfo *world = eevg_WorldInfoCreate(nullptr);
    info->width = w;
    info->height = h;
    info->lineWidthUnit = 1;
    // Zoomed in or out, sometimes mirrored.
    const double zoom = pick({1, 1e-3, 1e3, 1e6, -1});
    world->upperRight->x = (w - 1) / zoom;
    world->upperRight->y = (h - 1) / std::fabs(zoom);
    ErrorSlot err;
    Eevg_Drawing *drawing = eevg_DrawingInit(control, info, world, &device.canvas.io, &err);
    ASSERT_TRUE(drawing) << Chain(err.get());
    // Image rows 4..20 are device y 9..25 of a 30-row device.
    const Eevg_Coord c1{5.5 / zoom, 9.5 / std::fabs(zoom)}, c2{30.5 / zoom, 25.5 / std::fabs(zoom)};
    eevg_SetClipWindow(drawing, &c1, &c2, &err);
    ASSERT_FALSE(err) << Chain(err.get());
    if (round % 7 == 0) {
      eevg_DrawingSetUsingWorldTransform(drawing, 1 + round % 2);
      eevg_DrawingSetPixelSize(drawing, round % 3, round % 5);
    }

    const int parts = std::uniform_int_distribution<int>(0, 3)(random);
    std::vector<std::vector<double>> shape(parts);
    for (auto &part : shape) {
      const int n = std::uniform_int_distribution<int>(0, 7)(random);
      for (int j = 0; j < 2 * n; ++j) part.push_back(coordinate());
    }
    Block block(shape);
    FillStyle fill(Colour(100, static_cast<int32_t>(pick({255, 128, 0}))));
    LineStyle line({pick({0, 0.5, 1, 3, 1e9, -5, kNaN})});
    int64_t symbols = 0;
    if (round % 2 == 0) {
      // Symbols only (a wide line may be refused before its symbols are placed).
      line->displayLine = 0;
      line->useSymbol = 1;
      line->lineSymbol = eevg_LineSymbolCreate(nullptr);
      line->lineSymbol->scale = pick({0, 1, 3, kNaN, -2}) / std::fabs(zoom);
      line->lineSymbol->spacing = pick({0, 2, 1e300, kInf});
      line->lineSymbol->offset = pick({0, 1, 1e308});
      line->lineSymbol->userData = &symbols;
      line->lineSymbol->render = [](Eevg_Drawing *, void *user, const double *, double, double,
                                    Eerr_ErrorReport **) { ++*static_cast<int64_t *>(user); };
    }
    const Eevg_Coord centre{coordinate(), coordinate()};
    switch (round % 5) {
    case 0:
    case 1: eevg_DrawPolygon(drawing, fill, block, &err); break;
    case 2: eevg_DrawPolyLine(drawing, line, round % 2, block, &err); break;
    case 3: eevg_DrawEllipse(drawing, fill, &centre, coordinate(), coordinate(), coordinate(), &err); break;
    default:
      eevg_DrawEllipticalArc(drawing, fill, &centre, coordinate(), coordinate(), coordinate(),
                             coordinate(), coordinate(), round % 3, &err);
    }
    // Wide lines may report that they are not there, and a fill needs a part; nothing else
    // fails.
    for (Eerr_ErrorReport *r = err.get(); r; r = r->next)
      if (!r->next) {
        const std::string root = r->reporter;
        EXPECT_TRUE(root == "eevg_WideLine" || (parts == 0 && r->code == 4 && root == "eevg_DrawPolygon"))
            << round << "\n" << Chain(err.get());
      }
    EXPECT_EQ(device.outside, 0) << round;
    EXPECT_LT(symbols, 100000) << round;
    placed += symbols;
    writes += device.writes;
    eevg_DrawingFree(&drawing, nullptr);
    eevg_WorldInfoFree(&world);
    eevg_DeviceInfoFree(&info);
  }
  EXPECT_GT(writes, 0);
  EXPECT_GT(placed, 0);
}

} // namespace
