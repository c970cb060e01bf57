// The scan filler: coverage, the even-odd rule, clipping, the device's polygon callbacks and
// running out of memory.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "taviron_testing.h"
#include "raster_testing.h"

namespace {

using namespace taviron::graphics;
using taviron::graphics::testing::Canvas;
using taviron::testing::Chain;
using taviron::graphics::testing::Picture;
using taviron::graphics::testing::kRed;
using taviron::graphics::testing::PolygonDevice;
using taviron::graphics::testing::RasterDrawing;
using taviron::graphics::testing::Ring;
using taviron::testing::Reported;
using taviron::testing::ErrorSlot;

// Rings of sub-pixel points, each closed by the builder.
struct Rings {
  std::vector<int32_t> starts{0};
  std::vector<int32_t> points;
  Rings &Add(std::vector<int32_t> ring) {
    ring.push_back(ring[0]);
    ring.push_back(ring[1]);
    points.insert(points.end(), ring.begin(), ring.end());
    starts.push_back(static_cast<int32_t>(points.size() / 2));
    return *this;
  }
  // A square with corners (x0, y0) and (x1, y1), in either direction.
  Rings &Square(int32_t x0, int32_t y0, int32_t x1, int32_t y1, bool reversed = false) {
    return reversed ? Add({x0, y0, x0, y1, x1, y1, x1, y0}) : Add({x0, y0, x1, y0, x1, y1, x0, y1});
  }
  int32_t Fill(Eevg_Drawing *drawing, Eerr_ErrorReport **err,
               const Eevg_DeviceColor &colour = kRed) {
    return eevg_LOFiller(drawing, static_cast<int32_t>(starts.size()) - 1, starts.data(),
                         points.data(), colour, err);
  }
};

Canvas PixelDevice(int32_t w, int32_t h) {
  Canvas canvas(w, h);
  canvas.io.getPixel = Canvas::GetPixel;
  canvas.io.putPixel = Canvas::PutPixel;
  return canvas;
}

TEST(EevgFill, SquareWithoutAntiAliasing) {
  Canvas canvas(16, 16);
  canvas.io.putVector = Canvas::PutVector;
  RasterDrawing drawing(canvas);
  ErrorSlot err;
  ASSERT_EQ(Rings().Square(0, 0, 80, 80).Fill(drawing.get(), &err), 0) << Chain(err.get());
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x) EXPECT_EQ(canvas.Set(x, y), x < 10 && y < 10) << x << "," << y;
  // One run per row.
  EXPECT_EQ(canvas.log.size(), 10u);
}

TEST(EevgFill, SquareCoverageWithAntiAliasing) {
  Canvas canvas = PixelDevice(16, 16);
  for (auto &p : canvas.pixels) p = {0, 0, 0, 0, 255}; // black, so red = coverage
  RasterDrawing drawing(canvas, 1);
  ErrorSlot err;
  ASSERT_EQ(Rings().Square(0, 0, 80, 80).Fill(drawing.get(), &err), 0) << Chain(err.get());
  struct {
    int32_t x, y, coverage;
  } expected[] = {{5, 5, 255}, {0, 0, 208}, {10, 5, 64}, {5, 10, 64}, {10, 10, 16},
                  {11, 5, 0},  {5, 11, 0}};
  for (const auto &e : expected)
    EXPECT_EQ(canvas.Device(e.x, e.y).red, e.coverage) << e.x << "," << e.y;
}

TEST(EevgFill, EvenOddRule) {
  // A ring inside another is a hole whatever the direction of either.
  std::string first;
  for (int variant = 0; variant < 4; ++variant) {
    Canvas canvas = PixelDevice(12, 12);
    RasterDrawing drawing(canvas);
    ErrorSlot err;
    Rings rings;
    rings.Square(0, 0, 80, 80, variant & 1).Square(24, 24, 56, 56, variant & 2);
    ASSERT_EQ(rings.Fill(drawing.get(), &err), 0) << Chain(err.get());
    EXPECT_TRUE(canvas.Set(1, 1));
    EXPECT_TRUE(canvas.Set(8, 8));
    EXPECT_FALSE(canvas.Set(4, 4));
    EXPECT_FALSE(canvas.Set(5, 5));
    if (variant == 0) first = Picture(canvas);
    EXPECT_EQ(Picture(canvas), first) << variant;
  }
  // Two overlapping rings leave their overlap empty; the gap between two rings one above the
  // other stays empty.
  Canvas canvas = PixelDevice(12, 12);
  RasterDrawing drawing(canvas);
  ErrorSlot err;
  ASSERT_EQ(Rings().Square(0, 0, 48, 48).Square(24, 24, 72, 72).Fill(drawing.get(), &err), 0);
  EXPECT_TRUE(canvas.Set(1, 1));
  EXPECT_TRUE(canvas.Set(7, 7));
  EXPECT_FALSE(canvas.Set(4, 4));
  EXPECT_FALSE(canvas.Set(1, 7));
  Canvas stacked = PixelDevice(4, 12);
  RasterDrawing second(stacked);
  ASSERT_EQ(Rings().Square(0, 0, 16, 16).Square(0, 48, 16, 64).Fill(second.get(), &err), 0);
  EXPECT_EQ(Picture(stacked),
            "....\n"
            "....\n"
            "....\n"
            "....\n"
            "##..\n"
            "##..\n"
            "....\n"
            "....\n"
            "....\n"
            "....\n"
            "##..\n"
            "##..\n");
}

// 120 rings side by side put 240 crossings on every quarter-line, some left of the window.
TEST(EevgFill, ManyCrossingsOnALine) {
  Canvas canvas = PixelDevice(100, 12);
  RasterDrawing drawing(canvas);
  Rings rings;
  for (int32_t k = 0; k < 120; ++k) rings.Square(16 * k - 160, 0, 16 * k - 152, 80, k & 1);
  ErrorSlot err;
  ASSERT_EQ(rings.Fill(drawing.get(), &err), 0) << Chain(err.get());
  for (int32_t y = 0; y < 12; ++y)
    for (int32_t x = 0; x < 100; ++x)
      ASSERT_EQ(canvas.Set(x, y), y < 10 && x % 2 == 0) << x << "," << y;
}

TEST(EevgFill, UnclosedRingLeavesItsClosingEdgeOut) {
  Canvas canvas = PixelDevice(12, 12);
  RasterDrawing drawing(canvas);
  ErrorSlot err;
  const int32_t points[] = {0, 0, 80, 0, 80, 80, 0, 80}; // no edge back down the left side
  const int32_t starts[] = {0, 4};
  EXPECT_EQ(eevg_LOFiller(drawing.get(), 1, starts, points, kRed, &err), 0);
  EXPECT_TRUE(canvas.log.empty());
}

TEST(EevgFill, ClipWindowCutsTheFill) {
  Canvas canvas = PixelDevice(8, 8);
  RasterDrawing drawing(canvas);
  Eevg_Coord a{2, 2}, b{5, 5};
  ErrorSlot err;
  eevg_SetClipWindow(drawing.get(), &a, &b, &err);
  ASSERT_FALSE(err);
  ASSERT_EQ(Rings().Square(-800, -800, 800, 800).Fill(drawing.get(), &err), 0);
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x)
      EXPECT_EQ(canvas.Set(x, y), x >= 2 && x <= 5 && y >= 2 && y <= 5) << x << "," << y;
  // Wholly outside: nothing, no report.
  canvas.log.clear();
  EXPECT_EQ(Rings().Square(100, 100, 200, 200).Fill(drawing.get(), &err), 0);
  EXPECT_FALSE(err);
  EXPECT_TRUE(canvas.log.empty());

  // Anti-aliased, every pixel of the window is covered whole, its first and last rows too.
  Canvas black = PixelDevice(8, 8);
  for (auto &p : black.pixels) p = {0, 0, 0, 0, 255};
  RasterDrawing smooth(black, 1);
  eevg_SetClipWindow(smooth.get(), &a, &b, &err);
  ASSERT_EQ(Rings().Square(-800, -800, 800, 800).Fill(smooth.get(), &err), 0);
  for (int32_t y = 2; y <= 5; ++y)
    for (int32_t x = 2; x <= 5; ++x) EXPECT_EQ(black.Device(x, y).red, 255) << x << "," << y;
}

TEST(EevgFill, RingsAgainstTheWindow) {
  // Window columns and rows 4..11: samples in sub-pixels 32..96 (and the filler's rounding beside
  // them). A ring holds the window only when no edge comes near it.
  Canvas canvas = PixelDevice(16, 16);
  RasterDrawing drawing(canvas, 1);
  Eevg_Coord a{4, 4}, b{11, 11};
  eevg_SetClipWindow(drawing.get(), &a, &b, nullptr);
  constexpr int32_t kMax = INT32_MAX, kMin = INT32_MIN;
  struct Case {
    const char *name;
    Rings rings;
    WindowPart part;
  } cases[] = {
      {"around it", Rings().Square(-800, -800, 800, 800), WindowPart::kHolds},
      {"around it, the other way", Rings().Square(-800, -800, 800, 800, true), WindowPart::kHolds},
      {"the 32-bit plane", Rings().Square(kMin, kMin, kMax, kMax), WindowPart::kHolds},
      {"edges beyond the filler's rounding", Rings().Square(15, 15, 113, 113), WindowPart::kHolds},
      {"an edge within it", Rings().Square(16, 15, 113, 113), WindowPart::kPartly},
      {"across it", Rings().Square(-800, -800, 64, 800), WindowPart::kPartly},
      {"inside it", Rings().Square(48, 48, 64, 64), WindowPart::kPartly},
      {"a side through it", Rings().Add({-800, -800, 928, -800, -800, 928}), WindowPart::kPartly},
      {"beside it", Rings().Square(200, 0, 300, 800), WindowPart::kOutside},
      {"beside it, one edge passing", Rings().Add({120, -800, 130, 800, 800, 0}), WindowPart::kOutside},
      {"in a hole", Rings().Square(-800, -800, 800, 800).Square(-400, -400, 400, 400),
       WindowPart::kOutside},
      {"in a ring around a hole",
       Rings().Square(-800, -800, 800, 800).Square(-1600, -1600, 1600, 1600).Square(-200, -200, 0, 0),
       WindowPart::kOutside},
  };
  for (const Case &c : cases)
    EXPECT_EQ(RingsAgainstWindow(drawing.get(), static_cast<int32_t>(c.rings.starts.size()) - 1,
                                 c.rings.starts.data(), c.rings.points.data()),
              c.part)
        << c.name;
  // A ring that is not closed: the filler leaves its closing edge out.
  const std::vector<int32_t> open = {-800, -800, 800, -800, 800, 800, -800, 800}, starts = {0, 4};
  EXPECT_EQ(RingsAgainstWindow(drawing.get(), 1, starts.data(), open.data()), WindowPart::kPartly);
}

TEST(EevgFill, WindowFillsDrawTheWholeWindowOnce) {
  // While a dashed line is drawn: fills holding the window are drawn once, fills beside it not at
  // all (not even offered to the device), the others as always.
  Canvas canvas = PixelDevice(16, 16);
  canvas.io.putPolygon = Canvas::PutPolygon; // declines, logged
  RasterDrawing drawing(canvas, 1);
  Eevg_Coord a{4, 4}, b{11, 11};
  eevg_SetClipWindow(drawing.get(), &a, &b, nullptr);
  drawing->windowFills = kWindowFillsOn;
  ErrorSlot err;
  auto fill = [&](Rings rings) {
    canvas.log.clear();
    EXPECT_EQ(rings.Fill(drawing.get(), &err), 0) << Chain(err.get());
    return canvas.log.size();
  };
  EXPECT_EQ(fill(Rings().Square(-800, -800, 800, 800)), 1u + 64u); // offered, then 64 pixels
  EXPECT_EQ(drawing->windowFills, kWindowFilled);
  EXPECT_EQ(fill(Rings().Square(-900, -900, 900, 900)), 0u);
  EXPECT_EQ(fill(Rings().Square(200, 0, 300, 800)), 0u);
  EXPECT_GT(fill(Rings().Square(48, 48, 64, 64)), 1u);
  // Off: every fill is drawn.
  drawing->windowFills = kWindowFillsOff;
  EXPECT_EQ(fill(Rings().Square(-900, -900, 900, 900)), 1u + 64u);
  EXPECT_EQ(fill(Rings().Square(200, 0, 300, 800)), 1u);
}

// A vertex a billion sub-pixels away must not size the crossing table: the fill takes the
// window's rows only.
TEST(EevgFill, FarVerticesCostOnlyTheWindow) {
  for (int aa = 0; aa < 2; ++aa) {
    Canvas canvas = PixelDevice(64, 64);
    RasterDrawing drawing(canvas, aa);
    ErrorSlot err;
    Rings rings;
    rings.Add({-1000000000, -1000000000, 1000000000, -1000000000, 0, 1000000000});
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(rings.Fill(drawing.get(), &err), 0) << Chain(err.get());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    for (int32_t y = 0; y < 64; ++y)
      for (int32_t x = 0; x < 64; ++x) ASSERT_TRUE(canvas.Set(x, y)) << x << "," << y;
  }
}

TEST(EevgFill, DevicePolygonCallbacksComeFirst) {
  Eevg_DeviceColor half = kRed;
  half.opacity = 128;
  struct Case {
    bool pattern, translucent, span, opacityPolygon;
    int32_t done;
    std::vector<std::string> calls;
    bool scanned;
  } cases[] = {
      {false, false, false, true, 1, {"polygon"}, false},
      {false, false, false, true, 0, {"polygon"}, true},
      {false, true, false, true, 0, {"opacity polygon", "polygon"}, true},
      // Only putPolygon: a translucent fill falls back to it.
      {false, true, false, false, 1, {"polygon"}, false},
      // With a span writer there is no fallback; the fill is scan-converted (dithered).
      {false, true, true, false, 1, {}, true},
      {true, false, false, true, 1, {"pattern polygon"}, false},
      {true, true, false, true, 0, {"pattern polygon", "opacity polygon", "polygon"}, true},
  };
  for (const Case &c : cases) {
    Canvas canvas = PixelDevice(12, 12);
    canvas.io.putPolygon = Canvas::PutPolygon;
    if (c.opacityPolygon) canvas.io.putPolygonOpacity = Canvas::PutPolygonOpacity;
    canvas.io.putPatternPolygon = Canvas::PutPatternPolygon;
    if (c.span) canvas.io.putSpan = Canvas::PutSpan;
    canvas.polygonDone = c.done;
    RasterDrawing drawing(canvas);
    Eevg_Color patternColour{0, 1, 2, 3, c.translucent ? 128 : 255};
    Eevg_FillPattern pattern{};
    pattern.color = &patternColour;
    if (c.pattern) drawing->fillPattern = &pattern;
    ErrorSlot err;
    ASSERT_EQ(Rings().Square(0, 0, 80, 80).Fill(drawing.get(), &err, c.translucent ? half : kRed),
              0);
    std::vector<std::string> calls, pixels;
    for (const std::string &line : canvas.log)
      (line.find("polygon") != std::string::npos ? calls : pixels).push_back(line);
    EXPECT_EQ(calls, c.calls) << c.pattern << c.translucent << c.span;
    EXPECT_EQ(!pixels.empty(), c.scanned) << c.pattern << c.translucent << c.span;
    drawing->fillPattern = nullptr;
  }
}

TEST(EevgFill, RunningOutOfMemoryIsReportedWithoutLeaks) {
  Canvas canvas = PixelDevice(32, 32);
  RasterDrawing drawing(canvas);
  ErrorSlot err;
  ASSERT_TRUE(eevg_DrawingGetScanLineBuf(drawing.get(), &err));
  Rings rings;
  // Many crossings on one line: entries that outgrow their first room.
  std::vector<int32_t> comb;
  for (int32_t k = 0; k < 12; ++k) {
    comb.insert(comb.end(), {16 * k, 0, 16 * k + 8, 200});
  }
  comb.insert(comb.end(), {200, 0});
  rings.Add(comb);
  const auto counts = taviron::testing::SweepAllocationFailures([&](Eerr_ErrorReport **e) {
    if (rings.Fill(drawing.get(), e) == 0) return true;
    if (*e) {
      EXPECT_STREQ((*e)->reporter, "eevg_LOFiller");
    }
    return false;
  });
  EXPECT_LT(counts.heap, 10);
  // Growing a crossing array by hand.
  Eevg_CrossingArray line{nullptr, 0, 0, 0};
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(eevg_GetMoreRoom(&line, &err), 0);
    EXPECT_TRUE(Reported(err.get(), "eevg_GetMoreRoom", 1, "Out of Memory"));
  }
  EXPECT_EQ(eevg_GetMoreRoom(&line, &err), 1);
  EXPECT_EQ(line.capacity, 8);
  emsc_HeapFree(line.x);
}

TEST(EevgFill, EdgeClipSurvivesExtremeCoordinates) {
  int32_t x0 = INT32_MIN, y0 = INT32_MIN, x1 = INT32_MAX, y1 = INT32_MAX;
  ASSERT_EQ(eevg_AFillerClip(&x0, &y0, &x1, &y1, 0, 0, 0, 100), 1);
  EXPECT_EQ(y0 == 0 ? y1 : y0, 100);
  EXPECT_LE(std::abs(x0 - y0), 1);
  EXPECT_LE(std::abs(x1 - y1), 1);
  int32_t a = 3, b = 7;
  EXPECT_EQ(eevg_compare(&a, &b), -1);
  EXPECT_EQ(eevg_compare(&b, &a), 1);
  EXPECT_EQ(eevg_compare(&a, &a), 0);
}

// ---------------------------------------------------------------------------------------------
// Rings monotone in y (wide-line pieces, ellipses, most pies) are walked as two chains of edges
// instead of through the active-edge list of any rings; the device must receive exactly the same
// calls and pixels either way.

// A closed ring going up one side and down the other: sorted random ordinates per side (repeats
// make horizontal edges), x anywhere (the sides may cross), some points far outside the window,
// the ring started anywhere along it.
Ring RandomMonotoneRing(std::mt19937 &random) {
  std::uniform_int_distribution<int32_t> spread(0, 3), coordinate(-100, 620), far(-4000, 4000),
      count(1, 9);
  const bool wide = spread(random) == 0;
  auto value = [&]() { return wide ? far(random) : coordinate(random); };
  int32_t y0 = value(), y1 = value();
  if (y0 > y1) std::swap(y0, y1);
  std::uniform_int_distribution<int32_t> between(y0, y1);
  std::vector<int32_t> up(count(random)), down(count(random));
  for (int32_t &y : up) y = spread(random) == 0 ? y0 : between(random);
  for (int32_t &y : down) y = spread(random) == 0 ? y1 : between(random);
  std::sort(up.begin(), up.end());
  std::sort(down.begin(), down.end(), std::greater<int32_t>());
  Ring ring = {value(), y0};
  for (int32_t y : up) ring.insert(ring.end(), {value(), y});
  ring.insert(ring.end(), {value(), y1});
  for (int32_t y : down) ring.insert(ring.end(), {value(), y});
  // Rotated to start anywhere, then closed.
  const size_t n = ring.size() / 2;
  std::rotate(ring.begin(), ring.begin() + 2 * (random() % n), ring.end());
  ring.push_back(ring[0]);
  ring.push_back(ring[1]);
  return ring;
}

// Fills the ring both ways on fresh canvases of 64 x 64 pixels (clipped to a window for odd
// seeds) and compares what the devices received.
void ExpectSameFill(const Ring &ring, int32_t antiAlias, bool window, const std::string &what) {
  const int32_t count = static_cast<int32_t>(ring.size() / 2);
  int32_t xMin = INT32_MAX, yMin = INT32_MAX, xMax = INT32_MIN, yMax = INT32_MIN;
  for (int32_t i = 0; i < count; ++i) {
    xMin = std::min(xMin, ring[2 * i]), xMax = std::max(xMax, ring[2 * i]);
    yMin = std::min(yMin, ring[2 * i + 1]), yMax = std::max(yMax, ring[2 * i + 1]);
  }
  const int32_t starts[] = {0, count};
  Canvas canvases[2] = {PixelDevice(64, 64), PixelDevice(64, 64)};
  for (int path = 0; path < 2; ++path) {
    Canvas &canvas = canvases[path];
    canvas.io.userData = &canvas;
    canvas.io.putVector = Canvas::PutVector;
    RasterDrawing drawing(canvas, antiAlias);
    ErrorSlot err;
    if (window) {
      Eevg_Coord a{5, 9}, b{50, 40};
      eevg_SetClipWindow(drawing.get(), &a, &b, &err);
    }
    ASSERT_EQ(AFillerWith(drawing.get(), 1, starts, ring.data(), kRed, yMin, yMax, xMin, xMax,
                          path == 1, &err),
              0)
        << Chain(err.get());
  }
  EXPECT_EQ(canvases[0].log, canvases[1].log) << what;
  for (size_t i = 0; i < canvases[0].pixels.size(); ++i) {
    const Eevg_Color &a = canvases[0].pixels[i], &b = canvases[1].pixels[i];
    if (a.red != b.red || a.green != b.green || a.blue != b.blue || a.opacity != b.opacity) {
      ADD_FAILURE() << what << " pixel " << i;
      return;
    }
  }
}

TEST(EevgFill, MonotoneWalkMatchesTheGeneralWalk) {
  std::mt19937 random(5);
  // Random monotone rings.
  for (int k = 0; k < 400; ++k) {
    const Ring ring = RandomMonotoneRing(random);
    ASSERT_TRUE(FillsAsMonotone(ring.data(), static_cast<int32_t>(ring.size() / 2)));
    ExpectSameFill(ring, k % 2, k % 3 == 0, "random ring " + std::to_string(k));
  }
  // Ellipses, whole and tiny, flattened as the shape calls do.
  {
    Canvas canvas(64, 64);
    RasterDrawing drawing(canvas);
    std::uniform_real_distribution<double> where(-40, 560), radius(0.5, 300), angle(0, 6.3);
    for (int k = 0; k < 200; ++k) {
      drawing->pointCount = 0;
      drawing->polygonCount = 0;
      ErrorSlot err;
      ASSERT_EQ(FlattenEllipse(drawing.get(), where(random), where(random), radius(random),
                               radius(random) / (k % 4 + 1), angle(random), &err),
                0);
      const Ring ring(drawing->points + 2 * drawing->polygonStarts[0],
                      drawing->points + 2 * drawing->polygonStarts[1]);
      ASSERT_TRUE(FillsAsMonotone(ring.data(), static_cast<int32_t>(ring.size() / 2))) << k;
      ExpectSameFill(ring, k % 2, k % 3 == 0, "ellipse " + std::to_string(k));
    }
  }
  // Wide-line pieces of every cap and join, as the line driver hands them to the filler.
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  drawing->lineWidthUnit = 1;
  for (int32_t end : {EEVG_ROUND_END, EEVG_BUTT_END, EEVG_SQUARE_END, EEVG_ARROW_END}) {
    for (int32_t join : {EEVG_ROUND_JOIN, EEVG_BUTT_JOIN, EEVG_BEVEL_JOIN, EEVG_MITRE_JOIN}) {
      Eevg_LineStyle *style = eevg_LineStyleCreate(nullptr);
      eevg_LineCompositionCreate(1, &style->composition, nullptr);
      style->composition.data[0].color = eevg_ColorCreate(nullptr);
      *style->composition.data[0].color = {0, 10, 20, 30, 255};
      style->composition.data[0].width = 2 + (end + join) % 5 * 1.7;
      style->startLineEnd = style->endLineEnd = style->markEnd = end;
      style->lineJoin = join;
      if (end == EEVG_ARROW_END) {
        style->arrowEnd = eevg_ArrowEndCreate(nullptr);
        eevg_ArrowEndSetValues(style->arrowEnd, 0.8, 0.4, 6, 1, 0, nullptr);
      }
      if (join == EEVG_BEVEL_JOIN) eevg_LinePatternSetValues(&style->pattern, 0, 7, 3, nullptr);
      std::uniform_real_distribution<double> where(2, 60);
      Efga_CoordinateBlock *block = efga_BaseCoordBlockCreate(2, 8, 1, 10, nullptr);
      auto *values = reinterpret_cast<double *>(block->parts[0]->origin);
      for (int i = 0; i < 16; ++i) values[i] = where(random);
      ErrorSlot err;
      ASSERT_EQ(eevg_DrawPolyLine(drawing.get(), style, 0, block, &err), 0) << Chain(err.get());
      efga_CoordBlockDelete(block, nullptr);
      eevg_LineStyleFree(&style);
    }
  }
  int32_t monotone = 0;
  for (size_t k = 0; k < device.rings.size(); ++k) {
    const Ring &ring = device.rings[k];
    monotone += FillsAsMonotone(ring.data(), static_cast<int32_t>(ring.size() / 2)) ? 1 : 0;
    ExpectSameFill(ring, k % 2, k % 3 == 0, "wide-line piece " + std::to_string(k));
  }
  // Nearly every piece takes the monotone walk.
  EXPECT_GT(device.rings.size(), 100u);
  EXPECT_GT(monotone, static_cast<int32_t>(device.rings.size() * 3 / 4));
}

// The rules of the scan filler written out as plainly as they stand: one list of crossings per
// quarter-line, each sorted, its pairs counted sample by sample into the pixels of its row. The
// counts of the pixels of the window, by row (device y) and column.
std::vector<std::vector<int32_t>> ReferenceCounts(const std::vector<Ring> &rings, int32_t width,
                                                  int32_t height, const int32_t *window) {
  int32_t xMin = INT32_MAX, yMin = INT32_MAX, xMax = INT32_MIN, yMax = INT32_MIN;
  for (const Ring &ring : rings)
    for (size_t i = 0; i < ring.size(); i += 2) {
      xMin = std::min(xMin, ring[i]), xMax = std::max(xMax, ring[i]);
      yMin = std::min(yMin, ring[i + 1]), yMax = std::max(yMax, ring[i + 1]);
    }
  std::vector<std::vector<int32_t>> counts(height, std::vector<int32_t>(width, 0));
  // A box wholly outside the window (in sub-pixels) draws nothing.
  if (yMin > 8 * window[3] || yMax < 8 * window[1] || xMin > 8 * window[2] ||
      xMax < 8 * window[0])
    return counts;
  const int32_t first = std::max(xMin >> 3, window[0]);
  const int32_t last = std::min((xMax + 7) >> 3, window[2]);
  const int32_t left = 4 * first, right = 4 * last + 3;
  const int32_t base = 4 * (yMin >> 3), end = yMax >> 1;
  std::vector<std::vector<int32_t>> lines(end - base + 4);
  for (const Ring &ring : rings) {
    for (size_t i = 0; i + 3 < ring.size(); i += 2) {
      int32_t x0 = ring[i] >> 1, y0 = ring[i + 1] >> 1, x1 = ring[i + 2] >> 1,
              y1 = ring[i + 3] >> 1;
      // Cut from the last quarter-line below the window (where a cut edge counts twice) to the
      // first one above it.
      if (!eevg_AFillerClip(&x0, &y0, &x1, &y1, 0, std::max(base, 4 * window[1] - 1), 0,
                            std::min(end + 3, 4 * window[3] + 4)) ||
          y0 == y1)
        continue;
      if (y0 > y1) std::swap(x0, x1), std::swap(y0, y1);
      lines[y0 - base].push_back(x0);
      for (int32_t k = 0; k <= y1 - y0; ++k)
        lines[y0 - base + k].push_back(
            x0 + static_cast<int32_t>(std::trunc(static_cast<double>(k) * (x1 - x0) / (y1 - y0))));
    }
  }
  for (int32_t q = base; q <= end; ++q) {
    std::vector<int32_t> x = lines[q - base];
    const int32_t row = q >> 2;
    if (x.size() < 2 || row < window[1] || row > window[3]) continue;
    std::sort(x.begin(), x.end());
    const size_t n = x.size() & ~size_t{1};
    size_t i = 0;
    while (i < n && x[i + 1] < left) i += 2;
    for (; i < n; i += 2) {
      const int32_t s = std::max(x[i], left), e = x[i + 1];
      if (s > right) break;
      while (i + 3 < n && x[i + 3] == e) i += 2;
      for (int32_t position = s; position <= std::min(e, right); ++position)
        ++counts[row][position >> 2];
    }
  }
  return counts;
}

TEST(EevgFill, BothWalksFollowTheRules) {
  std::mt19937 random(9);
  std::uniform_int_distribution<int32_t> coordinate(-60, 560), points(3, 12), rings(1, 3);
  for (int k = 0; k < 250; ++k) {
    // Any rings, or one monotone ring; closed, some far outside.
    std::vector<Ring> shape;
    if (k % 2) {
      shape.push_back(RandomMonotoneRing(random));
    } else {
      for (int r = rings(random); r > 0; --r) {
        Ring ring;
        for (int p = points(random); p > 0; --p)
          ring.insert(ring.end(), {coordinate(random), coordinate(random) * (p == 1 ? 9 : 1)});
        ring.insert(ring.end(), {ring[0], ring[1]});
        shape.push_back(ring);
      }
    }
    std::vector<int32_t> starts{0}, flat;
    int32_t xMin = INT32_MAX, yMin = INT32_MAX, xMax = INT32_MIN, yMax = INT32_MIN;
    for (const Ring &ring : shape) {
      flat.insert(flat.end(), ring.begin(), ring.end());
      starts.push_back(static_cast<int32_t>(flat.size() / 2));
      for (size_t i = 0; i < ring.size(); i += 2) {
        xMin = std::min(xMin, ring[i]), xMax = std::max(xMax, ring[i]);
        yMin = std::min(yMin, ring[i + 1]), yMax = std::max(yMax, ring[i + 1]);
      }
    }
    const bool windowed = k % 3 == 0;
    const int32_t window[4] = {windowed ? 5 : 0, windowed ? 9 : 0, windowed ? 50 : 63,
                               windowed ? 40 : 63};
    const auto counts = ReferenceCounts(shape, 64, 64, window);
    for (int32_t antiAlias = 0; antiAlias < 2; ++antiAlias) {
      for (bool monotone : {false, true}) {
        Canvas canvas = PixelDevice(64, 64);
        canvas.io.userData = &canvas;
        RasterDrawing drawing(canvas, antiAlias);
        ErrorSlot err;
        if (windowed) {
          Eevg_Coord a{5, 9}, b{50, 40};
          eevg_SetClipWindow(drawing.get(), &a, &b, &err);
        }
        ASSERT_EQ(AFillerWith(drawing.get(), static_cast<int32_t>(shape.size()), starts.data(),
                              flat.data(), kRed, yMin, yMax, xMin, xMax, monotone, &err),
                  0)
            << Chain(err.get());
        for (int32_t y = 0; y < 64; ++y) {
          for (int32_t x = 0; x < 64; ++x) {
            const int32_t count = counts[y][x] & 0xFF; // the coverage bytes wrap
            const int32_t expected =
                antiAlias ? (count >= 16 ? 255 : 16 * count) : (count > 7 ? 255 : 0);
            if (canvas.Device(x, y).red != expected)
              FAIL() << "shape " << k << (antiAlias ? " anti-aliased" : "")
                     << (monotone ? " monotone walk" : "") << " at " << x << "," << y << ": "
                     << canvas.Device(x, y).red << " instead of " << expected;
          }
        }
      }
    }
  }
}

} // namespace
