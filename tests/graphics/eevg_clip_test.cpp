// Segment clipping, thin lines, the pixel and run writers and the trace pen.
#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "raster_testing.h"

namespace {

using namespace taviron::graphics;
using taviron::graphics::testing::Canvas;
using taviron::testing::Chain;
using taviron::graphics::testing::kRed;
using taviron::graphics::testing::RasterDrawing;
using taviron::testing::Reported;
using taviron::testing::ErrorSlot;
using Log = std::vector<std::string>;

TEST(EevgClip, CutsSegmentsToTheWindow) {
  struct Case {
    int32_t in[4];
    int32_t result;
    int32_t out[4];
    int32_t swaps, clipped;
  } cases[] = {
      {{-80, 40, 160, 40}, 1, {0, 40, 160, 40}, 0, 1},
      {{10, 900, 500, 801}, 0, {}, 0, 0},            // both ends above yMax
      {{10, 20, 30, 40}, 1, {10, 20, 30, 40}, 0, 0}, // wholly inside
      {{100, 100, 100, 1000}, 1, {100, 800, 100, 100}, 1, 1},
      {{-100, -100, 900, 900}, 1, {800, 800, 0, 0}, 1, 1},
  };
  for (const Case &c : cases) {
    int32_t s[4] = {c.in[0], c.in[1], c.in[2], c.in[3]};
    int32_t swaps = -1, clipped = -1;
    EXPECT_EQ(eevg_Clip(&s[0], &s[1], &s[2], &s[3], 0, 0, 800, 800, &swaps, &clipped), c.result);
    EXPECT_EQ(swaps, c.swaps) << c.in[0];
    EXPECT_EQ(clipped, c.clipped) << c.in[0];
    if (c.result) {
      for (int k = 0; k < 4; ++k) EXPECT_EQ(s[k], c.out[k]) << c.in[0] << " " << k;
    }
  }
}

// The device has putPixel only, so thin lines are walked pixel by pixel; the log gives image
// rows (device y = 9 - row).
TEST(EevgClip, ThinPolylineWalksEveryPixelOnce) {
  struct Case {
    std::vector<int32_t> points;
    Log pixels;
  } cases[] = {
      {{0, 0, 3, 1}, {"pixel 0,9", "pixel 1,9", "pixel 2,8", "pixel 3,8"}},
      {{0, 0, 1, 3}, {"pixel 0,9", "pixel 0,8", "pixel 1,7", "pixel 1,6"}},
      {{0, 0, 4, 0, 4, 0, 4, 2},
       {"pixel 0,9", "pixel 1,9", "pixel 2,9", "pixel 3,9", "pixel 4,9", "pixel 4,8",
        "pixel 4,7"}},
  };
  for (const Case &c : cases) {
    Canvas canvas(10, 10);
    canvas.io.putPixel = Canvas::PutPixel;
    RasterDrawing drawing(canvas);
    ErrorSlot err;
    const int32_t n = static_cast<int32_t>(c.points.size() / 2) - 1;
    EXPECT_EQ(eevg_Thinply(drawing.get(), kRed, n, c.points.data(), &err), 0) << Chain(err.get());
    EXPECT_EQ(canvas.log, c.pixels);
  }
}

TEST(EevgClip, ThinVectorGoesToPutVectorAfterClipping) {
  Canvas canvas(30, 10);
  canvas.io.putVector = Canvas::PutVector;
  RasterDrawing drawing(canvas);
  ErrorSlot err;
  const int32_t segment[4] = {-80, 40, 160, 40}; // sub-pixels
  EXPECT_EQ(eevg_ThinVector(drawing.get(), kRed, segment, &err), 0);
  EXPECT_EQ(canvas.log, (Log{"vector 0,4 20,4"}));
  // A segment wholly outside draws nothing.
  const int32_t outside[4] = {-80, 40, -8, 50};
  EXPECT_EQ(eevg_ThinVector(drawing.get(), kRed, outside, &err), 0);
  EXPECT_EQ(canvas.log.size(), 1u);
}

TEST(EevgClip, RunWriterClipsAndRoutesToTheDevice) {
  Canvas canvas(10, 10);
  canvas.io.putVector = Canvas::PutVector;
  canvas.io.putPixelOpacity = Canvas::PutPixelOpacity;
  RasterDrawing drawing(canvas);
  ErrorSlot err;
  EXPECT_EQ(eevg_WrHlin(drawing.get(), -5, 2, 10, kRed, &err), 0);
  EXPECT_EQ(eevg_WrHlin(drawing.get(), 0, 10, 5, kRed, &err), 0); // above clipYMax
  EXPECT_FALSE(err);
  EXPECT_EQ(canvas.log, (Log{"vector 0,7 4,7"}));
  canvas.log.clear();
  Eevg_DeviceColor half = kRed;
  half.opacity = 128;
  EXPECT_EQ(eevg_WrHlin(drawing.get(), 3, 0, 3, half, &err), 0);
  EXPECT_EQ(canvas.log, (Log{"opacity pixel 3,9", "opacity pixel 4,9", "opacity pixel 5,9"}));
}

TEST(EevgClip, RunWriterAsksTheOpacityVectorFirst) {
  for (int32_t done = 0; done < 2; ++done) {
    Canvas canvas(10, 10);
    canvas.io.putVector = Canvas::PutVector;
    canvas.io.putVectorOpacity = Canvas::PutVectorOpacity;
    canvas.polygonDone = done;
    RasterDrawing drawing(canvas);
    ErrorSlot err;
    EXPECT_EQ(eevg_WrHlin(drawing.get(), 1, 0, 2, kRed, &err), 0);
    Log expected{"opacity vector 1,9 2,9"};
    if (!done) expected.push_back("vector 1,9 2,9");
    EXPECT_EQ(canvas.log, expected);
  }
}

TEST(EevgClip, RunWriterNeedsAWriter) {
  Canvas canvas(10, 10);
  RasterDrawing drawing(canvas);
  ErrorSlot err;
  EXPECT_EQ(eevg_WrHlin(drawing.get(), 0, 0, 3, kRed, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_WrHline", 1, "No PutVector or PutPixel Defined"));
  EXPECT_EQ(err->next, nullptr);
}

TEST(EevgClip, TranslucentPixelsAreDitheredWithoutAnOpacityWriter) {
  Canvas canvas(10, 10);
  canvas.io.putPixel = Canvas::PutPixel;
  RasterDrawing drawing(canvas);
  Eevg_DeviceColor half = kRed;
  half.opacity = 128; // level 12
  ErrorSlot err;
  EXPECT_EQ(eevg_Wrdot(drawing.get(), 0, 9, half, &err), 0); // row 0
  EXPECT_EQ(eevg_Wrdot(drawing.get(), 2, 6, half, &err), 0); // row 3: threshold 25
  EXPECT_EQ(eevg_Wrdot(drawing.get(), 12, 6, kRed, &err), 0); // outside: dropped
  EXPECT_EQ(canvas.log, (Log{"pixel 0,0"}));
}

TEST(EevgClip, DevicePixelFailureIsChained) {
  Canvas canvas(10, 10);
  canvas.io.putPixel = Canvas::PutPixel;
  canvas.failPut = true;
  RasterDrawing drawing(canvas);
  ErrorSlot err;
  const int32_t points[4] = {0, 0, 3, 0};
  EXPECT_EQ(eevg_Thinply(drawing.get(), kRed, 1, points, &err), -1);
  ASSERT_TRUE(Reported(err.get(), "eevg_Thinply", 1, "Unable to begin thin polyline"));
  ASSERT_TRUE(Reported(err->next, "eevg_Wrdot", 1, "Unable to write pixel"));
  EXPECT_EQ(std::string(err->next->next->message), "disk full");
}

TEST(EevgClip, AntiAliasedDotsBlendWithTheTarget) {
  struct Case {
    bool getPixel;
    int32_t coverage;
    int32_t red;
  } cases[] = {{true, 128, 128}, {true, 255, 255}, {false, 128, 255}, {true, 64, 64}};
  for (const Case &c : cases) {
    Canvas canvas(4, 4);
    canvas.io.putPixel = Canvas::PutPixel;
    if (c.getPixel) canvas.io.getPixel = Canvas::GetPixel;
    canvas.Device(1, 1) = {0, 0, 0, 255, 255};
    RasterDrawing drawing(canvas);
    ErrorSlot err;
    EXPECT_EQ(eevg_Wrdota(drawing.get(), 1, 1, c.coverage, kRed, &err), 0);
    EXPECT_EQ(canvas.Device(1, 1).red, c.red) << c.coverage;
    EXPECT_EQ(canvas.Device(1, 1).blue, c.getPixel ? 255 - c.red : 0) << c.coverage;
  }
}

TEST(EevgClip, ExtremeComponentsBlendAsTheEndsOfTheirRange) {
  // Colours far outside 0..255, given or read back from the device, blend like 0 and 255.
  struct Case {
    Eevg_DeviceColor colour;
    Eevg_Color old;
  } cases[] = {
      {{INT32_MAX, INT32_MIN, 1000000, 1, 255}, {0, 0, 0, 0, 255}},
      {{-5, 256, INT32_MIN + 1, 1, 255}, {0, INT32_MIN, INT32_MAX, 300, 255}},
  };
  for (const Case &c : cases) {
    Canvas canvas(4, 4);
    canvas.io.putPixel = Canvas::PutPixel;
    canvas.io.getPixel = Canvas::GetPixel;
    canvas.Device(1, 1) = c.old;
    RasterDrawing drawing(canvas);
    ErrorSlot err;
    EXPECT_EQ(eevg_Wrdota(drawing.get(), 1, 1, 128, c.colour, &err), 0);
    auto expected = [](int32_t now, int32_t before) {
      return (std::clamp(now, 0, 255) * 128 + std::clamp(before, 0, 255) * 127) / 255;
    };
    EXPECT_EQ(canvas.Device(1, 1).red, expected(c.colour.red, c.old.red));
    EXPECT_EQ(canvas.Device(1, 1).green, expected(c.colour.green, c.old.green));
    EXPECT_EQ(canvas.Device(1, 1).blue, expected(c.colour.blue, c.old.blue));
  }
}

TEST(EevgClip, PatternTileRepeatsFromTheImageCorner) {
  Canvas canvas(40, 10);
  canvas.io.putSpan = Canvas::PutSpan;
  RasterDrawing drawing(canvas);
  Eevg_FillPattern pattern{};
  pattern.usePattern = 1;
  pattern.patternStack = egda_BaseDataStackCreate(4, 8, 8, EGDA_TYPE_U8, EGDA_RASTER, nullptr);
  ASSERT_TRUE(pattern.patternStack);
  for (int32_t row = 0; row < 8; ++row)
    for (int32_t column = 0; column < 8; ++column) {
      auto *red = pattern.patternStack->layers[0];
      red->origin[row * red->pitch + column] = static_cast<uint8_t>(10 * row + column);
      auto *alpha = pattern.patternStack->layers[3];
      alpha->origin[row * alpha->pitch + column] = 255;
    }
  drawing->fillPattern = &pattern;
  ErrorSlot err;
  // Device y 8 is image row 1.
  EXPECT_EQ(eevg_WrHlin(drawing.get(), 13, 8, 5, kRed, &err), 0) << Chain(err.get());
  EXPECT_EQ(canvas.log, (Log{"span 13,1 5: 15 16 17 10 11"}));
  drawing->fillPattern = nullptr;
  egda_BaseDataStackDelete(pattern.patternStack, nullptr);
}

TEST(EevgClip, TracePenWritesEachPixelOnce) {
  Canvas canvas(10, 10);
  canvas.io.putVector = Canvas::PutVector;
  RasterDrawing drawing(canvas);
  ErrorSlot err;
  // A 2 x 2 pen (width 23) along 24 sub-pixels from the left edge of pixel 1.
  const int32_t points[4] = {8, 8, 32, 8};
  const int32_t starts[2] = {0, 2};
  EXPECT_EQ(eevg_TracePolygon(drawing.get(), 1, starts, points, kRed, 23, &err), 0)
      << Chain(err.get());
  EXPECT_EQ(canvas.log, (Log{"vector 1,8 2,8", "vector 1,7 2,7", "vector 2,8 3,8",
                             "vector 2,7 3,7", "vector 3,8 4,8", "vector 3,7 4,7",
                             "vector 4,8 5,8", "vector 4,7 5,7"}));
  // Width 15 is a thin polyline (one vector), width 24 the wide path.
  canvas.log.clear();
  EXPECT_EQ(eevg_TracePolygon(drawing.get(), 1, starts, points, kRed, 15, &err), 0);
  EXPECT_EQ(canvas.log, (Log{"vector 1,8 4,8"}));
  // The wide path fills an outline: runs of rows instead of the pen's blocks.
  canvas.log.clear();
  EXPECT_EQ(eevg_TracePolygon(drawing.get(), 1, starts, points, kRed, 24, &err), 0)
      << Chain(err.get());
  EXPECT_FALSE(canvas.log.empty());
  EXPECT_TRUE(canvas.Set(2, 1));
}

} // namespace
