// Containment and proximity tests.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry_testing.h"

namespace {

using namespace geotest;

// Clockwise with y up: (0,0) -> (0,4) -> (4,4) -> (4,0).
const std::vector<double> kClockwiseSquare{0, 0, 0, 4, 4, 4, 4, 0};
const std::vector<double> kCounterClockwiseSquare{0, 0, 4, 0, 4, 4, 0, 4};

TEST(EvecCoordInsideConvexPolygon, ClockwiseInsideAndOnTheOutline) {
  Matrix cw = Points(kClockwiseSquare), ccw = Points(kCounterClockwiseSquare);
  struct Case {
    double x, y;
    int32_t cw, ccw;
  } cases[] = {
      {2, 2, 1, 0},   {0, 2, 1, 0},  {4, 4, 1, 0}, {2, 0, 1, 0},
      {5, 2, 0, 0},   {-1, -1, 0, 0}, {2, 4.000001, 0, 0},
  };
  for (const Case &c : cases) {
    Evec_Coord p{c.x, c.y};
    ErrorSlot err;
    EXPECT_EQ(evec_CoordInsideConvexPolygon(&p, cw.get(), &err), c.cw) << c.x << "," << c.y;
    EXPECT_EQ(evec_CoordInsideConvexPolygon(&p, ccw.get(), &err), c.ccw) << c.x << "," << c.y;
    ExpectNoReport(err);
  }
  Matrix none = Points({});
  Evec_Coord anywhere{1e6, -1e6}, nan{NAN, 1};
  EXPECT_EQ(evec_CoordInsideConvexPolygon(&anywhere, none.get(), nullptr), 1);
  EXPECT_EQ(evec_CoordInsideConvexPolygon(&nan, cw.get(), nullptr), 0);
  ErrorSlot err;
  EXPECT_EQ(evec_CoordInsideConvexPolygon(nullptr, cw.get(), &err), 0);
  EXPECT_EQ(evec_CoordInsideConvexPolygon(&anywhere, nullptr, &err), 0);
  ExpectNoReport(err);
}

TEST(EvecCoordInsideConcavePolygon, EvenOddWithHalfOpenSpans) {
  // An L: the notch (2..4, 2..4) is outside.
  Matrix l = Points({0, 0, 0, 4, 2, 4, 2, 2, 4, 2, 4, 0});
  struct Case {
    const char *name;
    double x, y;
    int32_t inside;
  } cases[] = {
      {"inside the foot", 3, 1, 1},
      {"inside the stem", 1, 3, 1},
      {"in the notch", 3, 3, 0},
      {"level with the inner vertex", 1, 2, 1},
      {"on the left edge", 0, 1, 1},
      {"on the right edge", 4, 1, 0},
      {"outside left", -1, 1, 0},
      {"on the top edge", 1, 4, 0},
      {"on the bottom edge", 1, 0, 1},
  };
  for (const Case &c : cases) {
    Evec_Coord p{c.x, c.y};
    EXPECT_EQ(evec_CoordInsideConcavePolygon(&p, l.get(), nullptr), c.inside) << c.name;
  }
  // A ring that repeats its first vertex gives the same answers.
  Matrix closed = Points({0, 0, 0, 4, 2, 4, 2, 2, 4, 2, 4, 0, 0, 0});
  Evec_Coord p{3, 1}, q{3, 3};
  EXPECT_EQ(evec_CoordInsideConcavePolygon(&p, closed.get(), nullptr), 1);
  EXPECT_EQ(evec_CoordInsideConcavePolygon(&q, closed.get(), nullptr), 0);
  Matrix none = Points({});
  EXPECT_EQ(evec_CoordInsideConcavePolygon(&p, none.get(), nullptr), 0);
  EXPECT_EQ(evec_CoordInsideConcavePolygon(&p, nullptr, nullptr), 0);
}

TEST(EvecCoordInsideEllipse, InsideOnAndFlat) {
  Matrix box = Box(-4, -2, 4, 2), reversed = Box(4, 2, -4, -2), flat = Box(0, -2, 0, 2);
  struct Case {
    double x, y;
    int32_t inside;
  } cases[] = {{0, 0, 1}, {4, 0, 1}, {0, 2, 1}, {3, 1.5, 0}, {2, 1.7, 1}, {4.01, 0, 0}};
  for (const Case &c : cases) {
    Evec_Coord p{c.x, c.y};
    EXPECT_EQ(evec_CoordInsideEllipse(&p, box.get(), nullptr), c.inside) << c.x << "," << c.y;
    EXPECT_EQ(evec_CoordInsideEllipse(&p, reversed.get(), nullptr), c.inside);
  }
  Evec_Coord centre{0, 0};
  EXPECT_EQ(evec_CoordInsideEllipse(&centre, flat.get(), nullptr), 0);
  ErrorSlot err;
  Matrix three = Points({0, 0, 1, 1, 2, 2});
  EXPECT_EQ(evec_CoordInsideEllipse(&centre, three.get(), &err), 0);
  ExpectReport(err, "evec_CoordInsideEllipse", 2, "Invalid input ellipse");
  EXPECT_EQ(evec_CoordInsideEllipse(&centre, nullptr, &err), 0);
  ExpectReport(err, "evec_CoordInsideEllipse", 2, "Invalid input ellipse");
}

TEST(EvecCoordNearPoint, ToleranceSquare) {
  Block block = Parts({{0, 0, 5, 5}, {10, 10}});
  struct Case {
    double x, y, tolerance;
    int32_t near;
  } cases[] = {
      {5, 5, 0, 1}, {5.1, 5, 0, 0}, {5.9, 4.1, 1, 1}, {6.1, 5, 1, 0},
      {10, 10, -1, 0}, {11, 9, 1, 1},
  };
  for (const Case &c : cases) {
    Matrix p = Points({c.x, c.y});
    EXPECT_EQ(evec_CoordNearPoint(p.get(), block.get(), c.tolerance, nullptr), c.near)
        << c.x << "," << c.y << " t " << c.tolerance;
  }
  ErrorSlot err;
  Matrix two = Points({0, 0, 1, 1}), p = Points({0, 0});
  EXPECT_EQ(evec_CoordNearPoint(two.get(), block.get(), 1, &err), 0);
  ExpectReport(err, "evec_CoordNearPoint", 1, "Invalid input coord");
  EXPECT_EQ(evec_CoordNearPoint(p.get(), nullptr, 1, &err), 0);
  ExpectReport(err, "evec_CoordNearPoint", 2, "Invalid input points");
}

TEST(EvecCoordNearPolyline, SegmentsEndsAndTheClosingSegment) {
  Block ring = Parts({{0, 0, 0, 10, 10, 10, 10, 0}});
  struct Case {
    const char *name;
    double x, y;
    int32_t closed, near;
  } cases[] = {
      {"near a side", 0.5, 5, 0, 1},
      {"near the closing side, closed", 5, 0.5, 1, 1},
      {"near the closing side, open", 5, 0.5, 0, 0},
      {"beyond the end, near the vertex", 10.6, 10.6, 0, 1},
      {"beyond the end, near the line only", 10.9, 10.5, 0, 0},
      {"far away", 5, 5, 1, 0},
  };
  for (const Case &c : cases) {
    Matrix p = Points({c.x, c.y});
    ErrorSlot err;
    EXPECT_EQ(evec_CoordNearPolyline(p.get(), ring.get(), c.closed, 1.0, &err), c.near) << c.name;
    ExpectNoReport(err);
  }
  // Beyond a slanted segment's end: within the tolerance of its line, not of its end vertex.
  Block slant = Parts({{0, 0, 3, 4}});
  Matrix beyond = Points({3.6 + 0.8 * 0.5, 4.8 - 0.6 * 0.5});
  EXPECT_EQ(evec_CoordNearPolyline(beyond.get(), slant.get(), 0, 0.6, nullptr), 0);
  Matrix beside = Points({1.5 + 0.8 * 0.5, 2 - 0.6 * 0.5});
  EXPECT_EQ(evec_CoordNearPolyline(beside.get(), slant.get(), 0, 0.6, nullptr), 1);
  // A zero-length segment counts only through its end points.
  Block dot = Parts({{2, 2, 2, 2}});
  Matrix p = Points({2.5, 2});
  EXPECT_EQ(evec_CoordNearPolyline(p.get(), dot.get(), 0, 0.6, nullptr), 1);
  EXPECT_EQ(evec_CoordNearPolyline(p.get(), dot.get(), 0, 0.4, nullptr), 0);

  ErrorSlot err;
  EXPECT_EQ(evec_CoordNearPolyline(nullptr, ring.get(), 1, 1, &err), 0);
  ExpectReport(err, "evec_CoordNearPolyline", 1, "Invalid input coord");
  EXPECT_EQ(evec_CoordNearPolyline(p.get(), nullptr, 1, 1, &err), 0);
  ExpectReport(err, "evec_CoordNearPolyline", 2, "Invalid input polylines");
}

TEST(EvecArcInside, EveryVertexInside) {
  Matrix square = Points(kClockwiseSquare);
  Matrix inside = Points({1, 1, 3, 3, 2, 1}), crossing = Points({1, 1, 5, 5});
  Matrix onEdge = Points({4, 1, 4, 3}); // its box only touches the square's box
  Matrix ellipse = Box(0, 0, 4, 4);
  EXPECT_EQ(evec_ArcInsideConvexPolygon(inside.get(), square.get(), nullptr), 1);
  EXPECT_EQ(evec_ArcInsideConvexPolygon(crossing.get(), square.get(), nullptr), 0);
  EXPECT_EQ(evec_ArcInsideConvexPolygon(onEdge.get(), square.get(), nullptr), 1);
  EXPECT_EQ(evec_ArcInsideConcavePolygon(inside.get(), square.get(), nullptr), 1);
  EXPECT_EQ(evec_ArcInsideConcavePolygon(crossing.get(), square.get(), nullptr), 0);
  EXPECT_EQ(evec_ArcInsideEllipse(inside.get(), ellipse.get(), nullptr), 1);
  EXPECT_EQ(evec_ArcInsideEllipse(Points({0.2, 0.2, 2, 2}).get(), ellipse.get(), nullptr), 0);
  // Opposite corners in the other order describe the same ellipse.
  Matrix flipped = Box(0, 4, 4, 0);
  EXPECT_EQ(evec_ArcInsideEllipse(inside.get(), flipped.get(), nullptr), 1);
  EXPECT_EQ(evec_ArcPartiallyInsideEllipse(inside.get(), flipped.get(), nullptr), 1);

  // A U: the arc's vertices lie in both arms, its segment crosses the gap between them.
  Matrix u = Points({0, 0, 0, 4, 1, 4, 1, 1, 3, 1, 3, 4, 4, 4, 4, 0});
  Matrix acrossTheGap = Points({0.5, 3, 3.5, 3});
  EXPECT_EQ(evec_ArcInsideConcavePolygon(acrossTheGap.get(), u.get(), nullptr), 1);
  EXPECT_EQ(evec_ArcEntirelyInsideConcavePolygon(acrossTheGap.get(), u.get(), nullptr), 0);
  Matrix inOneArm = Points({0.5, 3, 0.5, 0.5, 3.5, 0.5});
  EXPECT_EQ(evec_ArcEntirelyInsideConcavePolygon(inOneArm.get(), u.get(), nullptr), 1);
}

TEST(EvecArcPartiallyInside, VertexInsideOrCrossingTheOutline) {
  Matrix square = Points(kClockwiseSquare);
  Matrix throughTheBottom = Points({2, -1, 2, 0.5}); // (2, 0.5) is inside
  Matrix across = Points({-1, 2, 5, 2});             // both vertices outside
  Matrix below = Points({-1, -1, 5, -1});
  Matrix farAway = Points({10, 10, 11, 11});
  for (auto test : {evec_ArcPartiallyInsideConvexPolygon, evec_ArcPartiallyInsideConcavePolygon}) {
    EXPECT_EQ(test(throughTheBottom.get(), square.get(), nullptr), 1);
    EXPECT_EQ(test(across.get(), square.get(), nullptr), 1);
    EXPECT_EQ(test(below.get(), square.get(), nullptr), 0);
    EXPECT_EQ(test(farAway.get(), square.get(), nullptr), 0);
  }
  // The ellipse's outline is its octagon.
  Matrix ellipse = Box(0, 0, 4, 4);
  EXPECT_EQ(evec_ArcPartiallyInsideEllipse(across.get(), ellipse.get(), nullptr), 1);
  EXPECT_EQ(evec_ArcPartiallyInsideEllipse(below.get(), ellipse.get(), nullptr), 0);
  Matrix cornerCut = Points({-0.5, 0.7, 0.7, -0.5}); // misses the ellipse and its octagon
  EXPECT_EQ(evec_ArcPartiallyInsideEllipse(cornerCut.get(), ellipse.get(), nullptr), 0);
}

TEST(EvecArcPartiallyInside, ClosingEdgeCountsOnlyWhenTheRingRepeatsItsFirstVertex) {
  // Counter-clockwise, so the convex test finds no vertex inside; the arc crosses only the edge
  // from the last vertex (0, 4) back to the first (0, 0).
  Matrix open = Points(kCounterClockwiseSquare);
  std::vector<double> ring = kCounterClockwiseSquare;
  ring.insert(ring.end(), {0, 0});
  Matrix closed = Points(ring);
  Matrix arc = Points({-1, 2, 2, 2});
  EXPECT_EQ(evec_ArcPartiallyInsideConvexPolygon(arc.get(), open.get(), nullptr), 0);
  EXPECT_EQ(evec_ArcPartiallyInsideConvexPolygon(arc.get(), closed.get(), nullptr), 1);
}

TEST(EvecArcTests, InvalidArgumentsAreReported) {
  Matrix square = Points(kClockwiseSquare), arc = Points({1, 1, 2, 2});
  Matrix oneRow(egda_BaseDataCreate(1, 3, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr));
  ErrorSlot err;
  EXPECT_EQ(evec_ArcInsideConvexPolygon(nullptr, square.get(), &err), 0);
  ExpectReport(err, "evec_ArcInsideConvexPolygon", 1, "Invalid input arc");
  EXPECT_EQ(evec_ArcPartiallyInsideConcavePolygon(arc.get(), oneRow.get(), &err), 0);
  ExpectReport(err, "evec_ArcPartiallyInsideConcavePolygon", 2, "Invalid input polygon");
  EXPECT_EQ(evec_ArcEntirelyInsideConcavePolygon(oneRow.get(), square.get(), &err), 0);
  ExpectReport(err, "evec_ArcEntirelyInsideConcavePolygon", 1, "Invalid input arc");
  EXPECT_EQ(evec_ArcInsideEllipse(arc.get(), square.get(), &err), 0);
  ExpectReport(err, "evec_ArcInsideEllipse", 2, "Invalid input ellipse");
  EXPECT_EQ(evec_ArcPartiallyInsideEllipse(arc.get(), nullptr, &err), 0);
  ExpectReport(err, "evec_ArcPartiallyInsideEllipse", 2, "Invalid input ellipse");
  // Without points there is no box, and so no answer but 0.
  Matrix none = Points({});
  EXPECT_EQ(evec_ArcInsideConcavePolygon(none.get(), square.get(), &err), 0);
  ExpectNoReport(err);
  EXPECT_EQ(evec_ArcPartiallyInsideConvexPolygon(arc.get(), none.get(), &err), 0);
  ExpectNoReport(err);
}

} // namespace
