// Segment intersections, angles, distances, arc lengths and arc crossings.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "geometry_testing.h"

namespace {

using namespace geotest;

TEST(EvecIntersectSegments, ClassesAndCrossingPoints) {
  struct Case {
    const char *name;
    std::vector<double> one, two;
    int32_t cls;
    double x, y; // crossing when the class is not 0
  } cases[] = {
      {"inside both", {0, 0, 2, 2}, {0, 2, 2, 0}, 5, 1, 1},
      {"shared end point", {0, 0, 1, 1}, {1, 1, 2, 0}, 5, 1, 1},
      {"at 1 + 5e-9 on one", {0, 0, 1, 0}, {1 + 5e-9, -1, 1 + 5e-9, 1}, 5, 1, 0},
      {"at 1 + 2e-8 beyond one", {0, 0, 1, 0}, {1 + 2e-8, -1, 1 + 2e-8, 1}, 8, 1 + 2e-8, 0},
      {"at -5e-9 on one", {0, 0, 1, 0}, {-5e-9, -1, -5e-9, 1}, 5, 0, 0},
      {"before both", {0, 0, 1, 0}, {-1, -2, -1, -3}, 1, -1, 0},
      {"before one, within two", {0, 0, 1, 0}, {-1, -1, -1, 1}, 2, -1, 0},
      {"before one, beyond two", {0, 0, 1, 0}, {-1, 2, -1, 1}, 3, -1, 0},
      {"within one, before two", {0, 0, 2, 0}, {1, 1, 1, 2}, 4, 1, 0},
      {"within one, beyond two", {0, 0, 2, 0}, {1, -2, 1, -1}, 6, 1, 0},
      {"beyond one, before two", {0, 0, 1, 0}, {3, 1, 3, 2}, 7, 3, 0},
      {"beyond both", {0, 0, 1, 0}, {3, -2, 3, -1}, 9, 3, 0},
      // The parallel test follows the scale of the segments.
      {"right angle at a small scale", {0, 0, 1e-5, 0}, {5e-6, -5e-6, 5e-6, 5e-6}, 5, 5e-6, 0},
      {"right angle at a large scale", {0, 0, 1e8, 0}, {5e7, -5e7, 5e7, 5e7}, 5, 5e7, 0},
  };
  for (const Case &c : cases) {
    Matrix one = Points(c.one), two = Points(c.two);
    Evec_Coord p{-99, -99};
    ErrorSlot err;
    EXPECT_EQ(evec_IntersectSegments(one.get(), two.get(), &p, &err), c.cls) << c.name;
    ExpectNoReport(err);
    EXPECT_DOUBLE_EQ(p.x, c.x) << c.name;
    EXPECT_DOUBLE_EQ(p.y, c.y) << c.name;
  }
}

TEST(EvecIntersectSegments, NoCrossingLeavesThePointUntouched) {
  struct Case {
    const char *name;
    std::vector<double> one, two;
  } cases[] = {
      {"parallel", {0, 0, 1, 0}, {0, 1, 1, 1}},
      {"collinear overlapping", {0, 0, 2, 0}, {1, 0, 3, 0}},
      {"zero length", {0, 0, 1, 1}, {0.5, 0.5, 0.5, 0.5}},
      {"both zero length", {3, 3, 3, 3}, {3, 3, 3, 3}},
      {"NaN", {0, 0, NAN, 1}, {0, 1, 1, 0}},
      {"infinite", {0, 0, INFINITY, 1}, {0, 1, 1, 0}},
      {"nearly parallel at a small scale", {0, 0, 1e-5, 0}, {0, 1e-6, 1e-5, 1e-6 + 1e-14}},
      // The crossing lies beyond the range of doubles along segment one.
      {"crossing out of range", {0, 0, 0, 1}, {1e300, 1e300, 1e300 + 1e290, 1e300 - 1e290}},
  };
  for (const Case &c : cases) {
    Matrix one = Points(c.one), two = Points(c.two);
    Evec_Coord p{-99, -99};
    EXPECT_EQ(evec_IntersectSegments(one.get(), two.get(), &p, nullptr), 0) << c.name;
    EXPECT_EQ(p.x, -99) << c.name;
    EXPECT_EQ(p.y, -99) << c.name;
  }
}

// Lines are parallel when |dA x dB| < 1e-8 * min(1, |dA| * |dB|). Segment two is segment one
// turned by `angle` about the point at `at` along it: long segments at the tiniest angle still
// cross there, while short ones are parallel at an angle whose sine is below 1e-8 and cross at a
// clear one (which a bound of 1e-8 alone would call parallel).
TEST(EvecIntersectSegments, TheParallelBoundShrinksOnlyForShortSegments) {
  struct Case {
    double length, angle, at;
    int32_t cls;
  } cases[] = {
      // Long and nearly parallel: they cross.
      {10, 2e-9, 0.5, 5},
      {10, 1e-7, 0.25, 5},
      {37, 5e-10, 0.5, 5},
      {100, 1.5e-12, 0.5, 5},
      {100, 1e-9, 0.8, 5},
      {100, -3e-9, 0.1, 5},
      {1e4, 1e-15, 0.5, 5},
      // Unit length: the bound is 1e-8 itself.
      {1, 2e-8, 0.5, 5},
      {1, 0.5e-8, 0.5, 0},
      // Short: parallel below a sine of 1e-8, crossing at a clear angle.
      {1e-3, 0.5e-8, 0.5, 0},
      {1e-3, 1e-4, 0.5, 5},
      {1e-5, -0.9e-8, 0.3, 0},
      {1e-5, 1e-3, 0.3, 5},
      {1e-9, 0.5e-8, 0.5, 0},
      {1e-9, 0.01, 0.5, 5},
      {1e-90, 0.5e-8, 0.5, 0}, // lengths whose squares lose their precision
      {1e-90, 0.01, 0.5, 5},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "length " << c.length << ", angle " << c.angle);
    const double x0 = 3 * c.length, y0 = -2 * c.length; // off the origin, so the ends round
    const double cx = x0 + c.at * c.length, cy = y0;
    const double cosine = std::cos(c.angle), sine = std::sin(c.angle);
    const double before = c.at * c.length, after = (1 - c.at) * c.length;
    Matrix one = Points({x0, y0, x0 + c.length, y0});
    Matrix two = Points({cx - before * cosine, cy - before * sine, cx + after * cosine, cy + after * sine});
    Evec_Coord p{-99, -99};
    EXPECT_EQ(evec_IntersectSegments(one.get(), two.get(), &p, nullptr), c.cls);
    if (c.cls == 5) {
      EXPECT_NEAR(p.x, cx, 1e-3 * c.length);
      EXPECT_NEAR(p.y, cy, 1e-3 * c.length);
    }
  }
}

TEST(EvecIntersectSegments, InvalidSegmentsAreReported) {
  Matrix good = Points({0, 0, 1, 1}), three = Points({0, 0, 1, 1, 2, 2});
  Matrix oneRow(egda_BaseDataCreate(1, 2, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr));
  ErrorSlot err;
  EXPECT_EQ(evec_IntersectSegments(nullptr, good.get(), nullptr, &err), 0);
  ExpectReport(err, "evec_IntersectSegments", 1, "Invalid input segment one");
  EXPECT_EQ(evec_IntersectSegments(good.get(), three.get(), nullptr, &err), 0);
  ExpectReport(err, "evec_IntersectSegments", 2, "Invalid input segment two");
  EXPECT_EQ(evec_IntersectSegments(oneRow.get(), good.get(), nullptr, &err), 0);
  ExpectReport(err, "evec_IntersectSegments", 1, "Invalid input segment one");
  EXPECT_EQ(evec_AngleBetweenSegments(good.get(), nullptr, &err), 0.0);
  ExpectReport(err, "evec_AngleBetweenSegments", 2, "Invalid input segment two");
}

TEST(EvecAngleBetweenSegments, DirectionAnglesSubtract) {
  struct Case {
    std::vector<double> one, two;
    double angle;
  } cases[] = {
      {{0, 0, -1, 0}, {0, 0, 1, 0}, std::numbers::pi},
      {{0, 0, 0, -1}, {0, 0, 1, 0}, -std::numbers::pi / 2},
      {{0, 0, 1, 1}, {0, 0, 1, 0}, std::numbers::pi / 4},
      {{0, 0, -1, 1}, {0, 0, -1, -1}, 3 * std::numbers::pi / 4 - (-3 * std::numbers::pi / 4)},
      {{2, 2, 2, 2}, {0, 0, 1, 0}, -std::numbers::pi / 2},
  };
  for (const Case &c : cases) {
    Matrix one = Points(c.one), two = Points(c.two);
    EXPECT_NEAR(evec_AngleBetweenSegments(one.get(), two.get(), nullptr), c.angle, 1e-12);
  }
}

TEST(EvecPointDistanceToSegment, ClampsToTheEndsAndRefusesZeroLength) {
  Matrix seg = Points({0, 0, 4, 0});
  struct Case {
    double px, py, t, distance, nx, ny;
  } cases[] = {
      {2, 3, 0.5, 3, 2, 0},
      {7, 4, 1, 5, 4, 0},
      {-3, -4, 0, 5, 0, 0},
  };
  for (const Case &c : cases) {
    Evec_Coord p{c.px, c.py}, nearest{};
    double distance = -1;
    EXPECT_DOUBLE_EQ(evec_PointDistanceToSegment(&p, seg.get(), &distance, &nearest, nullptr), c.t);
    EXPECT_DOUBLE_EQ(distance, c.distance);
    EXPECT_DOUBLE_EQ(nearest.x, c.nx);
    EXPECT_DOUBLE_EQ(nearest.y, c.ny);
  }
  Matrix dot = Points({1, 1, 1, 1});
  Evec_Coord p{4, 5}, nearest{};
  double distance = 0;
  EXPECT_EQ(evec_PointDistanceToSegment(&p, dot.get(), &distance, &nearest, nullptr), -1.0);
  EXPECT_DOUBLE_EQ(distance, 5);
  EXPECT_EQ(nearest.x, 1);

  ErrorSlot err;
  distance = 42;
  EXPECT_EQ(evec_PointDistanceToSegment(&p, nullptr, &distance, &nearest, &err), -1.0);
  ExpectReport(err, "evec_PointDistanceToSegment", 1, "Invalid input segment");
  EXPECT_EQ(distance, 42);
  EXPECT_EQ(evec_PointDistanceToSegment(nullptr, seg.get(), &distance, &nearest, &err), -1.0);
  ExpectReport(err, "evec_PointDistanceToSegment", 2, "Invalid input point");
}

TEST(EvecPointDistanceToSegment, AnEndIsItsOwnNearestPoint) {
  // 0.2 + 1 * (0.9 - 0.2) is not 0.9 in doubles: beyond an end, the end itself is the answer.
  Matrix seg = Points({0.2, 0, 0.9, 0});
  Evec_Coord beyond{1.5, 0}, behind{-3, 0.5}, nearest{};
  double distance = 0;
  EXPECT_EQ(evec_PointDistanceToSegment(&beyond, seg.get(), &distance, &nearest, nullptr), 1.0);
  EXPECT_EQ(nearest.x, 0.9);
  EXPECT_EQ(nearest.y, 0.0);
  EXPECT_EQ(distance, 1.5 - 0.9);
  EXPECT_EQ(evec_PointDistanceToSegment(&behind, seg.get(), &distance, &nearest, nullptr), 0.0);
  EXPECT_EQ(nearest.x, 0.2);

  // (1.5, -0.6) is as far from the end of segment 1 as from the start of segment 2, which is
  // the same point: the lower segment wins, and the extension meets it.
  Matrix arc = Points({0.2, 0, 0.9, 0, 0.9, 1});
  Evec_Coord p{1.5, -0.6};
  EXPECT_EQ(evec_FindClosestSegmentOfArc(arc.get(), &p, nullptr), 1);
  Matrix extended = Points({1.5, -0.6, -0.5, 0.4});
  EXPECT_EQ(evec_ExtendSegmentToArc(arc.get(), extended.get(), nullptr), 1);
  const std::vector<double> after = Values(extended.get());
  EXPECT_NEAR(after[0], 0.3, 1e-12);
  EXPECT_EQ(after[1], 0.0);
  EXPECT_EQ(after[2], -0.5);

  // Generalising: a vertex beyond its chord's end, exactly at the tolerance from it, is dropped.
  Matrix line = Points({0.2, 0, 1.5, 0, 0.9, 0});
  evec_GeneralizeMatrix(1.5 - 0.9, line.get(), nullptr);
  EXPECT_EQ(Values(line.get()), (std::vector<double>{0.2, 0, 0.9, 0}));
}

TEST(EvecArcMeasures, LengthClosestSegmentAndPointDistance) {
  Matrix arc = Points({0, 0, 3, 4, 3, 10, 3, 10});
  ErrorSlot err;
  EXPECT_DOUBLE_EQ(evec_LengthOfArc(arc.get(), &err), 11);
  Evec_Coord a{0, 0}, b{3, 4};
  EXPECT_EQ(evec_DistanceBetweenTwoPoints(&a, &b, nullptr), 5);
  EXPECT_EQ(evec_DistanceBetweenTwoPoints(&a, nullptr, nullptr), -1);

  // (4, 4) is at distance 1 from both the end of segment 1 and segment 2: the lower wins.
  Evec_Coord p{4, 4};
  EXPECT_EQ(evec_FindClosestSegmentOfArc(arc.get(), &p, &err), 1);
  Evec_Coord q{4, 8};
  EXPECT_EQ(evec_FindClosestSegmentOfArc(arc.get(), &q, &err), 2);
  Evec_Coord r{3, 11};
  EXPECT_EQ(evec_FindClosestSegmentOfArc(arc.get(), &r, &err), 2);

  Matrix single = Points({1, 1});
  EXPECT_EQ(evec_LengthOfArc(single.get(), &err), 0.0);
  ExpectReport(err, "evec_LengthOfArc", 1, "Invalid input arc");
  EXPECT_EQ(evec_FindClosestSegmentOfArc(single.get(), &p, &err), 0);
  ExpectReport(err, "evec_FindClosestSegmentOfArc", 1, "Invalid input arc");
  EXPECT_EQ(evec_FindClosestSegmentOfArc(nullptr, &p, &err), 0);
  ExpectReport(err, "evec_FindClosestSegmentOfArc", 1, "Invalid input arc");
}

TEST(EvecExtendSegmentToArc, MovesTheFirstPointOnlyOntoTheNearestArcSegment) {
  Matrix arc = Points({0, 0, 10, 0, 10, 10});
  struct Case {
    const char *name;
    std::vector<double> segment;
    int32_t result;
    std::vector<double> after;
  } cases[] = {
      {"crossing behind", {5, 2, 5, 5}, 1, {5, 0, 5, 5}},
      {"crossing between", {5, -2, 5, 5}, 1, {5, 0, 5, 5}},
      {"crossing beyond the second point", {5, 5, 5, 2}, 0, {5, 5, 5, 2}},
      {"crossing outside the arc segment", {-3, 1, -2, 2}, 0, {-3, 1, -2, 2}},
      {"second arc segment", {8, 6, 7, 6}, 2, {10, 6, 7, 6}},
  };
  for (const Case &c : cases) {
    Matrix seg = Points(c.segment);
    EXPECT_EQ(evec_ExtendSegmentToArc(arc.get(), seg.get(), nullptr), c.result) << c.name;
    EXPECT_EQ(Values(seg.get()), c.after) << c.name;
  }
  ErrorSlot err;
  Matrix seg = Points({0, 0, 1, 1});
  EXPECT_EQ(evec_ExtendSegmentToArc(nullptr, seg.get(), &err), 0);
  ExpectReport(err, "evec_ExtendSegmentToArc", 1, "Invalid input arc");
  EXPECT_EQ(evec_ExtendSegmentToArc(arc.get(), arc.get(), &err), 0);
  ExpectReport(err, "evec_ExtendSegmentToArc", 2, "Invalid input segment");
}

TEST(EvecArcCrossings, SegmentAgainstArcAndArcAgainstArc) {
  Matrix arc = Points({0, 0, 2, 2, 4, 0});
  struct Case {
    const char *name;
    std::vector<double> segment;
    int32_t result;
  } cases[] = {
      {"crossing", {0, 1, 4, 1}, 1},
      {"touching a vertex", {2, 2, 2, 5}, 1},
      {"above", {0, 3, 4, 3}, 0},
      {"inside the notch", {1, 0, 3, 0}, 0},
  };
  for (const Case &c : cases) {
    Matrix seg = Points(c.segment);
    EXPECT_EQ(evec_SegmentIntersectsArc(seg.get(), arc.get(), nullptr), c.result) << c.name;
  }
  Matrix crossing = Points({-1, 1, 1, 1, 3, 1}), apart = Points({10, 10, 11, 11});
  EXPECT_EQ(evec_ArcIntersectsArc(arc.get(), crossing.get(), nullptr), 1);
  EXPECT_EQ(evec_ArcIntersectsArc(arc.get(), apart.get(), nullptr), 0);

  ErrorSlot err;
  EXPECT_EQ(evec_SegmentIntersectsArc(arc.get(), arc.get(), &err), 0);
  ExpectReport(err, "evec_SegmentIntersectsArc", 1, "Invalid input segment");
  Matrix seg = Points({0, 0, 1, 1});
  EXPECT_EQ(evec_SegmentIntersectsArc(seg.get(), nullptr, &err), 0);
  ExpectReport(err, "evec_SegmentIntersectsArc", 2, "Invalid input arc");
  EXPECT_EQ(evec_ArcIntersectsArc(arc.get(), Points({1, 1}).get(), &err), 0);
  ExpectReport(err, "evec_ArcIntersectsArc", 2, "Invalid input arc");
}

} // namespace
