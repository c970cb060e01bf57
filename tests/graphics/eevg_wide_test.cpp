// Wide polygons: the geometric primitives, runs of segments, caps, joins within the mitre limit,
// clipping, narrow solid segments and running out of room.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "raster_testing.h"

namespace {

using namespace taviron::graphics;
using taviron::graphics::testing::Canvas;
using taviron::graphics::testing::GuardedDevice;
using taviron::graphics::testing::PolygonDevice;
using taviron::testing::Chain;
using taviron::graphics::testing::kRed;
using taviron::graphics::testing::RasterDrawing;
using taviron::testing::Reported;
using taviron::testing::ErrorSlot;

constexpr double kPi = 3.14159265358979323846;

using taviron::graphics::testing::Ring;

bool HasPoint(const Ring &ring, int32_t x, int32_t y) {
  for (size_t i = 0; i + 1 < ring.size(); i += 2)
    if (ring[i] == x && ring[i + 1] == y) return true;
  return false;
}

std::string Text(const Ring &ring) {
  std::string text;
  for (size_t i = 0; i + 1 < ring.size(); i += 2)
    text += "(" + std::to_string(ring[i]) + "," + std::to_string(ring[i + 1]) + ")";
  return text;
}

TEST(EevgWide, DirectionsAndTurns) {
  struct Case {
    double y, x, angle;
  } directions[] = {
      {0, 0, 0},           {0.0005, -0.0005, 0}, {5, 0.0001, kPi / 2}, {-5, 0, 3 * kPi / 2},
      {1, 1, kPi / 4},     {-1, -1, 5 * kPi / 4}, {0, -3, kPi},        {NAN, 1, 0},
  };
  for (const Case &c : directions)
    EXPECT_NEAR(eevg_Zatan2(c.y, c.x), c.angle, 1e-12) << c.y << " " << c.x;

  struct Turn {
    double a, b, difference;
  } turns[] = {
      {1, 2, 1}, {0.1, 6.0, 0.1 + 2 * kPi - 6.0}, {2, 5.5, 3.5}, {0, kPi, kPi},
  };
  for (const Turn &t : turns) EXPECT_NEAR(eevg_AngleDifference(t.a, t.b), t.difference, 1e-12);
}

TEST(EevgWide, Intersections) {
  struct Case {
    double l[8];
    int32_t x, y;
  } cases[] = {
      {{0, 5, 1, 0, 7, 0, 0, 1}, 7, 5},      // horizontal with vertical
      {{3, 0, 0, 2, 0, 9, 4, 0}, 3, 9},      // vertical with horizontal
      {{0, 0, 1, 1, 10, 0, -1, 1}, 5, 5},    // general slopes
      {{0, 0, 2, 1, 7, -100, 0, 1}, 7, 3},   // general with vertical: 3.5 truncated
      {{0, 4, 1, 0, 0, 0, 1, 2}, 2, 4},      // horizontal with general
  };
  for (const Case &c : cases) {
    int32_t x = -1, y = -1;
    ErrorSlot err;
    EXPECT_EQ(eevg_Intersect(c.l[0], c.l[1], c.l[2], c.l[3], c.l[4], c.l[5], c.l[6], c.l[7], &x,
                             &y, &err),
              0);
    EXPECT_EQ(x, c.x);
    EXPECT_EQ(y, c.y);
  }
  int32_t x = 1, y = 1;
  ErrorSlot err;
  EXPECT_EQ(eevg_Intersect(0, 0, 1, 2, 5, 5, 2, 4, &x, &y, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_Intersect", 1, "Can't intersect parallel lines"));
  EXPECT_EQ(x, 0);
  EXPECT_EQ(eevg_Intersect(0, 0, 0, 0, 5, 5, 2, 4, &x, &y, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_Intersect", 2, "Can't intersect zero length line"));
  // Far beyond 32 bits: held at the ends.
  EXPECT_EQ(eevg_Intersect(0, 0, 1, 1e-12, 0, 1, 1, 0, &x, &y, &err), 0);
  EXPECT_EQ(x, INT32_MAX);
}

TEST(EevgWide, OffsetsAndCaps) {
  double l[2], r[2];
  eevg_OffsetLines(10, 10, 3, 4, 6, l, r); // s = 6 * 5/3 = 10
  EXPECT_DOUBLE_EQ(l[1], 20);
  EXPECT_DOUBLE_EQ(r[1], 0);
  eevg_OffsetLines(10, 10, -3, 0, 6, l, r);
  EXPECT_DOUBLE_EQ(l[1], 4);
  eevg_OffsetLines(10, 10, 0, 5, 6, l, r);
  EXPECT_DOUBLE_EQ(l[0], 4);
  EXPECT_DOUBLE_EQ(r[0], 16);
  eevg_OffsetLines(10, 10, 0, -5, 6, l, r);
  EXPECT_DOUBLE_EQ(l[0], 16);

  int32_t square[4];
  eevg_SquareCapPoints(100, 100, 0, 10, square);
  EXPECT_EQ(Ring(square, square + 4), (Ring{110, 110, 110, 90}));
  int32_t round[14];
  eevg_RoundCapCurves(100, 100, kPi / 2, 10, round);
  EXPECT_EQ(Ring(round, round + 14),
            (Ring{90, 100, 90, 105, 94, 110, 100, 110, 105, 110, 110, 105, 110, 100}));
}

TEST(EevgWide, TurnLimitAndRuns) {
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  ErrorSlot err;
  ASSERT_EQ(eevg_StartWidePolygon(drawing.get(), 4, 8, kRed, &err), 0);
  EXPECT_NEAR(drawing->wideTurnLimit, std::atan(4.0), 1e-12);
  ASSERT_EQ(eevg_StartWidePolygon(drawing.get(), 4, 80, kRed, &err), 0);
  EXPECT_NEAR(drawing->wideTurnLimit, std::atan(0.4), 1e-12);
  EXPECT_EQ(drawing->wideLastX, -32000);

  // Collinear: the middle point is replaced.
  const int32_t a[4] = {100, 100, 200, 100}, b[4] = {200, 100, 300, 100};
  ASSERT_EQ(eevg_LOWideLine(drawing.get(), a, &err), 0);
  ASSERT_EQ(eevg_LOWideLine(drawing.get(), b, &err), 0);
  EXPECT_EQ(drawing->widePointCount, 2);
  EXPECT_EQ(Ring(drawing->widePoints, drawing->widePoints + 4), (Ring{100, 100, 300, 100}));
  // A small turn is kept; a turn past the limit draws the run and starts a new one.
  const int32_t c[4] = {300, 100, 400, 130}, d[4] = {400, 130, 400, 300};
  ASSERT_EQ(eevg_LOWideLine(drawing.get(), c, &err), 0);
  EXPECT_EQ(drawing->widePointCount, 3);
  EXPECT_TRUE(device.rings.empty());
  ASSERT_EQ(eevg_LOWideLine(drawing.get(), d, &err), 0);
  EXPECT_EQ(device.rings.size(), 1u);
  EXPECT_EQ(drawing->widePointCount, 2);
  EXPECT_EQ(Ring(drawing->widePoints, drawing->widePoints + 4), (Ring{400, 130, 400, 300}));
  ASSERT_EQ(eevg_EndWidePolygon(drawing.get(), &err), 0) << Chain(err.get());
  EXPECT_EQ(device.rings.size(), 2u);
  EXPECT_EQ(drawing->widePointCount, 0);
  EXPECT_EQ(drawing->wideLastX, -32000);
}

// Two pieces meeting at a right angle, the second joined to the first by a mitre.
std::vector<Ring> RightAngle(double mitreLimit, int32_t joinKind) {
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  drawing->mitreLimit = mitreLimit;
  ErrorSlot err;
  const int32_t first[4] = {100, 100, 200, 100}, second[4] = {200, 100, 200, 200};
  drawing->startCap = 3;
  drawing->endCap = 1;
  drawing->joinKind = 0;
  EXPECT_EQ(eevg_StartWidePolygon(drawing.get(), 2, 40, kRed, &err), 0);
  EXPECT_EQ(eevg_LOWideLine(drawing.get(), first, &err), 0);
  EXPECT_EQ(eevg_EndWidePolygon(drawing.get(), &err), 0);
  drawing->startCap = 1;
  drawing->endCap = 3;
  drawing->joinKind = joinKind;
  drawing->joinTowardX = 200;
  drawing->joinTowardY = 200;
  EXPECT_EQ(eevg_StartWidePolygon(drawing.get(), 2, 40, kRed, &err), 0);
  EXPECT_EQ(eevg_LOWideLine(drawing.get(), second, &err), 0);
  EXPECT_EQ(eevg_EndWidePolygon(drawing.get(), &err), 0) << Chain(err.get());
  return device.rings;
}

TEST(EevgWide, MitreWithinTheLimitElseBevel) {
  // Half width (40 - 4) / 2 = 18 without anti-aliasing; the butt end's corners (200, 118) and
  // (200, 82); the outer one is (200, 82), farther from (200, 200).
  std::vector<Ring> rings = RightAngle(10, 3);
  ASSERT_EQ(rings.size(), 2u);
  EXPECT_EQ(Text(rings[0]), "(100,118)(200,118)(200,82)(100,82)(100,118)");
  EXPECT_EQ(Text(rings[1]), "(182,100)(182,200)(218,200)(218,100)(218,82)(200,82)(182,100)");
  // m/h = 1.414 is beyond 1.4: a bevel.
  rings = RightAngle(1.4, 3);
  EXPECT_EQ(Text(rings[1]), "(182,100)(182,200)(218,200)(218,100)(200,82)(182,100)");
  EXPECT_EQ(Text(RightAngle(10, 2)[1]), Text(rings[1]));
  // Round and butt joins add nothing.
  EXPECT_EQ(Text(RightAngle(10, 1)[1]), "(182,100)(182,200)(218,200)(218,100)(182,100)");
}

TEST(EevgWide, StraightBackIsBevelled) {
  // Turning straight back has no mitre (sin(t/2) = 0): the outer corner alone, whatever the limit.
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  drawing->mitreLimit = 1e9;
  ErrorSlot err;
  const int32_t first[4] = {100, 100, 200, 100}, back[4] = {200, 100, 100, 100};
  drawing->startCap = 3;
  drawing->endCap = 1;
  ASSERT_EQ(eevg_WidePoly(drawing.get(), 2, first, 40, kRed, &err), 1);
  drawing->startCap = 1;
  drawing->endCap = 3;
  drawing->joinKind = 3;
  drawing->joinTowardX = 100;
  drawing->joinTowardY = 100;
  ASSERT_EQ(eevg_WidePoly(drawing.get(), 2, back, 40, kRed, &err), 1);
  EXPECT_EQ(Text(device.rings[1]), "(200,82)(100,82)(100,118)(200,118)(200,82)(200,82)");
}

TEST(EevgWide, RunsKeepTheirOwnCapsAndClippedEnds) {
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  ErrorSlot err;
  ASSERT_EQ(eevg_StartWidePolygon(drawing.get(), 4, 40, kRed, &err), 0);
  // The first run: no start cap, a round end cap, its end cut by the grown window (x = 812).
  drawing->startCap = 3;
  drawing->endCap = 0;
  const int32_t a[4] = {400, 400, 1000, 400};
  ASSERT_EQ(eevg_LOWideLine(drawing.get(), a, &err), 0);
  // The next segment starts outside and asks for other caps: the first run keeps its own.
  drawing->startCap = 2;
  drawing->endCap = 3;
  const int32_t b[4] = {2000, 300, 400, 300};
  ASSERT_EQ(eevg_LOWideLine(drawing.get(), b, &err), 0);
  ASSERT_EQ(device.rings.size(), 1u);
  EXPECT_EQ(Text(device.rings[0]),
            "(400,418)(812,418)(830,418)(830,382)(812,382)(400,382)(400,418)");
  ASSERT_EQ(eevg_EndWidePolygon(drawing.get(), &err), 0);
  ASSERT_EQ(device.rings.size(), 2u);
  // Its start was cut: square there, nothing at its end.
  EXPECT_EQ(Text(device.rings[1]),
            "(812,282)(400,282)(400,318)(812,318)(830,318)(830,282)(812,282)");
}

TEST(EevgWide, JoinOnlyWithThePieceEndingHere) {
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  ErrorSlot err;
  const int32_t first[4] = {100, 100, 200, 100}, elsewhere[4] = {300, 300, 300, 400};
  drawing->startCap = 3;
  drawing->endCap = 1;
  ASSERT_EQ(eevg_WidePoly(drawing.get(), 2, first, 40, kRed, &err), 1);
  drawing->startCap = 1;
  drawing->endCap = 3;
  drawing->joinKind = 3;
  ASSERT_EQ(eevg_WidePoly(drawing.get(), 2, elsewhere, 40, kRed, &err), 1);
  EXPECT_EQ(Text(device.rings[1]), "(282,300)(282,400)(318,400)(318,300)(282,300)");
}

TEST(EevgWide, ClippedEndsGetSquareCaps) {
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  ErrorSlot err;
  drawing->startCap = 3;
  drawing->endCap = 0;
  // The clip window is 0..792 sub-pixels, grown by 20: the end is cut at x = 812.
  const int32_t segment[4] = {400, 400, 5000, 400};
  ASSERT_EQ(eevg_StartWidePolygon(drawing.get(), 2, 40, kRed, &err), 0);
  ASSERT_EQ(eevg_LOWideLine(drawing.get(), segment, &err), 0);
  EXPECT_EQ(drawing->clipFlags, 2);
  ASSERT_EQ(eevg_EndWidePolygon(drawing.get(), &err), 0);
  ASSERT_EQ(device.rings.size(), 1u);
  EXPECT_EQ(Text(device.rings[0]), "(400,418)(812,418)(830,418)(830,382)(812,382)(400,382)(400,418)");
  // Nothing left of the segment: nothing drawn.
  device.rings.clear();
  const int32_t outside[4] = {-5000, 400, -4000, 400};
  ASSERT_EQ(eevg_StartWidePolygon(drawing.get(), 2, 40, kRed, &err), 0);
  ASSERT_EQ(eevg_LOWideLine(drawing.get(), outside, &err), 0);
  EXPECT_EQ(drawing->clipFlags, 3);
  ASSERT_EQ(eevg_EndWidePolygon(drawing.get(), &err), 0);
  EXPECT_TRUE(device.rings.empty());
}

TEST(EevgWide, HalfWidths) {
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  ErrorSlot err;
  drawing->startCap = drawing->endCap = 3;
  const int32_t segment[4] = {100, 100, 200, 100};
  ASSERT_EQ(eevg_WidePoly(drawing.get(), 2, segment, 4, kRed, &err), 1);
  EXPECT_EQ(Text(device.rings.back()), "(100,100)(200,100)(200,100)(100,100)(100,100)");
  ASSERT_EQ(eevg_WidePoly(drawing.get(), 2, segment, 13, kRed, &err), 1);
  EXPECT_EQ(Text(device.rings.back()), "(100,104)(200,104)(200,96)(100,96)(100,104)");
  drawing->antiAlias = 1;
  ASSERT_EQ(eevg_WidePoly(drawing.get(), 2, segment, 13, kRed, &err), 1);
  EXPECT_EQ(Text(device.rings.back()), "(100,106)(200,106)(200,94)(100,94)(100,106)");
  // Repeated and single points carry no direction.
  const int32_t repeated[8] = {100, 100, 100, 100, 200, 100, 200, 100};
  ASSERT_EQ(eevg_WidePoly(drawing.get(), 4, repeated, 13, kRed, &err), 1);
  EXPECT_EQ(Text(device.rings.back()), "(100,106)(200,106)(200,94)(100,94)(100,106)");
  const size_t before = device.rings.size();
  ASSERT_EQ(eevg_WidePoly(drawing.get(), 2, repeated, 13, kRed, &err), 1);
  EXPECT_EQ(device.rings.size(), before);
}

TEST(EevgWide, RoundCapsAndStraightOnVertices) {
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  ErrorSlot err;
  drawing->startCap = drawing->endCap = 0;
  // A middle point straight on (as a caller may hand it) is crossed, not intersected.
  const int32_t line[6] = {100, 100, 200, 100, 300, 100};
  ASSERT_EQ(eevg_WidePoly(drawing.get(), 3, line, 44, kRed, &err), 1) << Chain(err.get());
  const Ring &ring = device.rings.back();
  EXPECT_TRUE(HasPoint(ring, 200, 120));
  EXPECT_TRUE(HasPoint(ring, 320, 100)); // the end cap's tip
  EXPECT_TRUE(HasPoint(ring, 80, 100));  // the start cap's tip
  EXPECT_GT(ring.size(), 2u * 12);
}

TEST(EevgWide, SolidSegmentsThinUpToTwelve) {
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  ErrorSlot err;
  drawing->startCap = drawing->endCap = 3;
  int32_t segment[4] = {80, 80, 160, 80};
  ASSERT_EQ(eevg_WideSolidLine(drawing.get(), segment, 12, kRed, &err), 0);
  EXPECT_EQ(device.canvas.log, (std::vector<std::string>{"vector 10,89 20,89"}));
  device.canvas.log.clear();
  ASSERT_EQ(eevg_WideSolidLine(drawing.get(), segment, 13, kRed, &err), 0);
  EXPECT_EQ(device.canvas.log, (std::vector<std::string>{"polygon"}));
  // Clipped in place, in order.
  int32_t long_[4] = {400, 80, -900, 80};
  ASSERT_EQ(eevg_WideSolidLine(drawing.get(), long_, 13, kRed, &err), 0);
  EXPECT_EQ(Ring(long_, long_ + 4), (Ring{400, 80, -6, 80}));
  EXPECT_EQ(drawing->clipFlags, 2);
  int32_t gone[4] = {-400, 80, -900, 80};
  device.canvas.log.clear();
  ASSERT_EQ(eevg_WideSolidLine(drawing.get(), gone, 13, kRed, &err), 0);
  EXPECT_TRUE(device.canvas.log.empty());
}

TEST(EevgWide, OutOfRoom) {
  PolygonDevice device;
  RasterDrawing drawing(device.canvas);
  ErrorSlot err;
  EXPECT_EQ(eevg_StartWidePolygon(drawing.get(), INT32_MAX, 40, kRed, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_StartWidePolygon", 1, "Out of memory for points"));
  std::vector<int32_t> many(2 * 10, 5);
  EXPECT_EQ(eevg_WidePoly(drawing.get(), INT32_MAX, many.data(), 40, kRed, &err), 0);
  EXPECT_TRUE(Reported(err.get(), "eevg_WidePoly", 1, "Unable to allocate memory for end caps"));
}

TEST(EevgWide, FilledPixelsOfARun) {
  // Without a polygon callback the filler paints: a horizontal line 3 pixels wide.
  Canvas canvas(20, 20);
  canvas.io.putVector = Canvas::PutVector;
  RasterDrawing drawing(canvas);
  ErrorSlot err;
  drawing->startCap = drawing->endCap = 1;
  const int32_t segment[4] = {20, 84, 140, 84};
  ASSERT_EQ(eevg_WidePoly(drawing.get(), 2, segment, 24, kRed, &err), 1) << Chain(err.get());
  for (int32_t y = 0; y < 20; ++y)
    EXPECT_EQ(canvas.Set(10, y), y >= 9 && y <= 11) << y;
  EXPECT_FALSE(canvas.Set(1, 10));
  EXPECT_TRUE(canvas.Set(3, 10));
  EXPECT_FALSE(canvas.Set(18, 10));
}

TEST(EevgWide, RandomExtremeOutlinesStayInTheClipWindow) {
  // Outlines handed straight to the builder (not clipped first), solid segments and wide traces.

  std::mt19937 random(42);
  auto pick = [&](int32_t lo, int32_t hi) {
    return std::uniform_int_distribution<int32_t>(lo, hi)(random);
  };
  const int32_t extremes[] = {INT32_MIN, -2000000000, -70000, -1, 0, 80, 300, 511,
                              70000,     2000000000,  INT32_MAX};
  auto coordinate = [&]() { return pick(0, 2) ? pick(-300, 800) : extremes[pick(0, 10)]; };
  for (int32_t antiAlias : {0, 1}) {
    GuardedDevice device(64, 48, 10, 50, 47 - 30, 47 - 5); // the clip window below
    RasterDrawing drawing(device.canvas, antiAlias);
    Eevg_Coord a{10, 5}, b{50, 30};
    ErrorSlot err;
    eevg_SetClipWindow(drawing.get(), &a, &b, &err);
    ASSERT_FALSE(err);
    for (int32_t round = 0; round < 1500; ++round) {
      std::vector<int32_t> points;
      const int32_t count = pick(1, 8);
      for (int32_t i = 0; i < 2 * count; ++i) points.push_back(coordinate());
      points.push_back(points[0]);
      points.push_back(points[1]);
      drawing->startCap = pick(0, 3);
      drawing->endCap = pick(0, 3);
      drawing->joinKind = pick(0, 3);
      drawing->joinTowardX = coordinate();
      drawing->joinTowardY = coordinate();
      drawing->clipFlags = pick(0, 3);
      drawing->mitreLimit = pick(0, 1) ? 10 : 1e12;
      const int32_t width = pick(0, 3) ? pick(0, 200) : extremes[pick(0, 10)];
      ErrorSlot err;
      switch (pick(0, 2)) {
      case 0:
        EXPECT_EQ(eevg_WidePoly(drawing.get(), count, points.data(), width, kRed, &err), 1)
            << Chain(err.get());
        break;
      case 1:
        EXPECT_EQ(eevg_WideSolidLine(drawing.get(), points.data(), width, kRed, &err), 0)
            << Chain(err.get());
        break;
      default: {
        const int32_t starts[2] = {0, count + 1};
        EXPECT_EQ(eevg_TracePolygon(drawing.get(), 1, starts, points.data(), kRed,
                                    std::max(width, 24), &err),
                  0)
            << Chain(err.get());
      }
      }
    }
    EXPECT_EQ(device.outside, 0);
    EXPECT_GT(device.writes, 0);
  }
}

} // namespace
