// The scan filler: coverage, the even-odd rule, clipping, the device's polygon callbacks and
// running out of memory.
#include <chrono>
#include <cstdlib>
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
using taviron::graphics::testing::RasterDrawing;
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

} // namespace
