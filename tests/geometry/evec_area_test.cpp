// Planar areas, perimeters, centres of gravity, elliptical arcs and vertex order.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry_testing.h"

namespace {

using namespace geotest;

const std::vector<double> kClockwise{0, 0, 0, 1, 1, 1, 1, 0};
const std::vector<double> kCounterClockwise{0, 0, 1, 0, 1, 1, 0, 1};

TEST(EvecPolygonArea, OrientationSignAndSolidity) {
  struct Case {
    std::vector<double> ring;
    double signedArea;
    int32_t solid;
  } cases[] = {
      {kClockwise, 1, 1},
      {{0, 0, 0, 1, 1, 1, 1, 0, 0, 0}, 1, 1}, // first vertex repeated
      {kCounterClockwise, -1, 0},
      {{0, 0, 1, 0, 1, 1, 0, 1, 0, 0}, -1, 0},
      {{0, 0, 1, 1, 2, 2}, 0, 0}, // collinear
  };
  for (const Case &c : cases) {
    Matrix ring = Points(c.ring);
    ErrorSlot err;
    EXPECT_DOUBLE_EQ(evec_PolygonAreaCalculateWithSign(ring.get(), &err), c.signedArea);
    ExpectNoReport(err);
    EXPECT_DOUBLE_EQ(evec_PolygonAreaCalculate(ring.get(), &err), std::fabs(c.signedArea));
    EXPECT_EQ(evec_PolygonIsSolid(ring.get()), c.solid);
  }
}

TEST(EvecPolygonArea, RingsTooSmallAreRefusedEverywhere) {
  Matrix twoPoints = Points({0, 0, 1, 1});
  Matrix oneRow(egda_BaseDataCreate(1, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr));
  const Egda_BaseData *rings[] = {nullptr, twoPoints.get(), oneRow.get()};
  for (const Egda_BaseData *ring : rings) {
    ErrorSlot err;
    EXPECT_EQ(evec_PolygonAreaCalculate(ring, &err), 0);
    ExpectReport(err, "evec_PolygonAreaCalculate", 1, "Invalid input polygon");
    EXPECT_EQ(evec_PolygonAreaCalculateWithSign(ring, &err), 0);
    ExpectReport(err, "evec_PolygonAreaCalculateWithSign", 1, "Invalid input polygon");
    EXPECT_EQ(evec_PolygonIsSolid(ring), 0);
  }
}

TEST(EvecPerimeter, OpenClosedAndMultiD) {
  Matrix square = Points(kClockwise), repeated = Points({0, 0, 0, 1, 1, 1, 1, 0, 0, 0});
  ErrorSlot err;
  EXPECT_DOUBLE_EQ(evec_PolyPerimeterCalculate(square.get(), 0, &err), 3);
  EXPECT_DOUBLE_EQ(evec_PolyPerimeterCalculate(square.get(), 1, &err), 4);
  EXPECT_DOUBLE_EQ(evec_PolyPerimeterCalculate(square.get(), 2, &err), 3); // only 1 closes
  EXPECT_DOUBLE_EQ(evec_PolyPerimeterCalculate(repeated.get(), 1, &err), 4);
  ExpectNoReport(err);

  // Three rows: a step of (3, 4, 12) is 13 long; the 2-D length sees only 5.
  Matrix xyz(egda_BaseDataCreate(3, 2, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr));
  const double values[] = {1, 1, 1, 4, 5, 13};
  std::copy(values, values + 6, reinterpret_cast<double *>(xyz->origin));
  EXPECT_DOUBLE_EQ(evec_PolyPerimeterCalculateMultiD(xyz.get(), 0, &err), 13);
  EXPECT_DOUBLE_EQ(evec_PolyPerimeterCalculateMultiD(xyz.get(), 1, &err), 26);
  EXPECT_DOUBLE_EQ(evec_PolyPerimeterCalculate(xyz.get(), 0, &err), 5);

  EXPECT_EQ(evec_PolyPerimeterCalculate(nullptr, 0, &err), 0);
  ExpectReport(err, "PolyPerimeterCalculateInternal", 1, "Invalid input poly");
  EXPECT_EQ(evec_PolyPerimeterCalculateMultiD(nullptr, 0, &err), 0);
  ExpectReport(err, "evec_PolyPerimeterCalculateMultiD", 1, "Invalid input poly");
}

TEST(EvecRegion, HolesSubtractAndShapesFollowWinding) {
  const std::vector<double> outer{0, 0, 0, 10, 10, 10, 10, 0};
  const std::vector<double> holeClockwise{2, 2, 2, 4, 4, 4, 4, 2};
  const std::vector<double> holeCounter{2, 2, 4, 2, 4, 4, 2, 4};
  const std::vector<double> island{3, 3, 3, 3.5, 3.5, 3.5, 3.5, 3};
  ErrorSlot err;
  Block region = Parts({outer, holeClockwise});
  EXPECT_DOUBLE_EQ(evec_RegionAreaCalculate(region.get(), &err), 96);
  EXPECT_DOUBLE_EQ(evec_ShapeAreaCalculate(region.get(), &err), 104);
  Block wound = Parts({outer, holeCounter});
  EXPECT_DOUBLE_EQ(evec_RegionAreaCalculate(wound.get(), &err), 96);
  EXPECT_DOUBLE_EQ(evec_ShapeAreaCalculate(wound.get(), &err), 96);
  Block three = Parts({outer, holeClockwise, island});
  EXPECT_DOUBLE_EQ(evec_RegionAreaCalculate(three.get(), &err), 96.25);
  EXPECT_DOUBLE_EQ(evec_RegionPerimeterCalculate(three.get(), 1, &err), 40 + 8 + 2);
  ExpectNoReport(err);

  Block broken = Parts({outer, {0, 0, 1, 1}});
  EXPECT_DOUBLE_EQ(evec_RegionAreaCalculate(broken.get(), &err), 100);
  ExpectReport(err, "evec_RegionAreaCalculate", 2, "Error returned from evec_PolygonAreaCalculate");
  EXPECT_DOUBLE_EQ(evec_ShapeAreaCalculate(broken.get(), &err), 100);
  ExpectReport(err, "evec_ShapeAreaCalculate", 2, "Error returned from evec_PolygonAreaCalculate");
  Block empty = Parts({});
  EXPECT_EQ(evec_RegionAreaCalculate(empty.get(), &err), 0);
  ExpectReport(err, "evec_RegionAreaCalculate", 1, "Invalid input region");
  EXPECT_EQ(evec_RegionPerimeterCalculate(nullptr, 1, &err), 0);
  ExpectReport(err, "evec_RegionPerimeterCalculate", 1, "Invalid input region");
  EXPECT_EQ(evec_ShapeAreaCalculate(nullptr, &err), 0);
  ExpectReport(err, "evec_ShapeAreaCalculate", 1, "Invalid input Shape");
  Block badPart = Parts({outer});
  badPart->parts[0]->rows = 1;
  EXPECT_EQ(evec_RegionPerimeterCalculate(badPart.get(), 1, &err), 0);
  ExpectReport(err, "evec_RegionPerimeterCalculate", 2, "Error returned from evec_PolygonPerimeterCalculate");
  badPart->parts[0]->rows = 2;
}

TEST(EvecCenterOfGravity, ConvexConcaveAndDegenerate) {
  struct Case {
    std::vector<double> ring;
    double x, y;
  } cases[] = {
      {{0, 0, 0, 2, 2, 2, 2, 0}, 1, 1},
      {{0, 0, 0, 2, 2, 2, 2, 0, 0, 0}, 1, 1},
      // An L of the squares (0..2, 0..1) and (0..1, 1..2): areas 2 and 1.
      {{0, 0, 0, 2, 1, 2, 1, 1, 2, 1, 2, 0}, (2 * 1.0 + 1 * 0.5) / 3, (2 * 0.5 + 1 * 1.5) / 3},
  };
  for (const Case &c : cases) {
    Matrix ring = Points(c.ring);
    Coord centre(evec_CenterOfGravityOfPolygon(ring.get(), nullptr));
    ASSERT_TRUE(centre);
    EXPECT_NEAR(centre->x, c.x, 1e-12);
    EXPECT_NEAR(centre->y, c.y, 1e-12);
  }
  Matrix flat = Points({0, 0, 1, 1, 2, 2});
  Coord centre(evec_CenterOfGravityOfPolygon(flat.get(), nullptr));
  ASSERT_TRUE(centre);
  EXPECT_FALSE(std::isfinite(centre->x));
}

TEST(EvecArc, AreasAndLengthsByKind) {
  const double pi = M_PI;
  Evec_Coord centre{5, -3};
  ErrorSlot err;
  struct Case {
    double a, b, rotation, start, end;
    int32_t kind, steps;
    double area, length, tolerance;
  } cases[] = {
      // Circles: exact whatever the kind (the length has no radii or chord).
      {2, 2, 0, 0, pi / 2, 1, 360, pi, pi, 1e-12},
      {2, 2, 0.3, 0, pi / 2, 0, 360, 0, pi, 1e-12},
      // A kind-2 circular segment from the polygon: sector minus the triangle of the chord.
      {2, 2, 0, 0, pi / 2, 2, 3600, pi - 2, 0, 1e-4},
      // Full turns: pi a b and pi (1.5 (a + b) - sqrt(a b)).
      {2, 1, 0.7, 1, 1, 1, 360, 2 * pi, pi * (4.5 - std::sqrt(2.0)), 1e-12},
      {2, 1, 0, 0.5, 0.5, 2, 360, 2 * pi, pi * (4.5 - std::sqrt(2.0)), 1e-12},
      // A quarter ellipse sector: pi a b / 4, the quarter arc plus both radii.
      {2, 1, 0.4, 0, pi / 2, 1, 36000, pi / 2, 2.4221120551 + 3, 1e-6},
      // More than half: the segment adds the triangle of its chord.
      {2, 1, 0, 0, 1.5 * pi, 2, 36000, 0.75 * pi * 2 + 1, 0, 1e-6},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "a " << c.a << " b " << c.b << " kind " << c.kind);
    EXPECT_NEAR(evec_ArcAreaCalculate(&centre, c.a, c.b, c.rotation, c.start, c.end, c.kind,
                                      c.steps, &err),
                c.area, c.tolerance);
    ExpectNoReport(err);
    if (c.length > 0) {
      EXPECT_NEAR(evec_ArcLengthCalculate(&centre, c.a, c.b, c.rotation, c.start, c.end, c.kind,
                                          c.steps, &err),
                  c.length, c.tolerance);
    }
    ExpectNoReport(err);
  }
}

TEST(EvecArc, StepsThatLeaveNoPolygonAreRefused) {
  Evec_Coord centre{0, 0};
  ErrorSlot err;
  for (int32_t steps : {0, -4, 1}) { // 1 step per turn rounds a quarter arc to none
    EXPECT_EQ(evec_ArcAreaCalculate(&centre, 2, 1, 0, 0, M_PI / 2, 1, steps, &err), 0);
    ExpectReport(err, "evec_ArcAreaCalculate", 6, "Invalid input steps");
    EXPECT_EQ(evec_ArcLengthCalculate(&centre, 2, 1, 0, 0, M_PI / 2, 2, steps, &err), 0);
    ExpectReport(err, "evec_ArcLengthCalculate", 6, "Invalid input steps");
  }
  // Circles and full turns need no polygon.
  EXPECT_DOUBLE_EQ(evec_ArcAreaCalculate(&centre, 1, 1, 0, 0, M_PI, 1, 0, &err), M_PI / 2);
  EXPECT_DOUBLE_EQ(evec_ArcLengthCalculate(&centre, 2, 1, 0, 1, 1, 1, 0, &err),
                   M_PI * (4.5 - std::sqrt(2.0)));
  ExpectNoReport(err);
  EXPECT_EQ(evec_ArcAreaCalculate(nullptr, 1, 1, 0, 0, 1, 1, 10, &err), 0);
  ExpectReport(err, "evec_ArcAreaCalculate", 1, "Invalid input center");
  EXPECT_EQ(evec_ArcLengthCalculate(nullptr, 1, 1, 0, 0, 1, 1, 10, &err), 0);
  ExpectReport(err, "evec_ArcLengthCalculate", 1, "Invalid input center");
}

TEST(EvecVertexOrder, ReverseEveryRow) {
  Matrix ring(egda_BaseDataCreate(3, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr));
  auto *v = reinterpret_cast<double *>(ring->origin);
  for (int i = 0; i < 12; ++i) v[i] = i;
  ErrorSlot err;
  evec_PolygonChangeVerticesDirection(ring.get(), &err);
  ExpectNoReport(err);
  const double expected[] = {9, 10, 11, 6, 7, 8, 3, 4, 5, 0, 1, 2};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(v[i], expected[i]);
  Matrix small = Points({0, 0, 1, 1});
  evec_PolygonChangeVerticesDirection(small.get(), &err);
  ExpectReport(err, "evec_PolygonChangeVerticesDirection", 1, "Invalid input polygon");
  EXPECT_EQ(Values(small.get()), (std::vector<double>{0, 0, 1, 1}));
}

TEST(EvecVertexOrder, NewStartPointAndPositionsOutsideTheRing) {
  // A B C D A
  const std::vector<double> ring{0, 0, 0, 1, 1, 1, 1, 0, 0, 0};
  struct Case {
    int32_t start;
    std::vector<double> result;
  } cases[] = {
      {1, ring},
      {3, {1, 1, 1, 0, 0, 0, 0, 1, 1, 1}}, // C D A B C
      {2, {0, 1, 1, 1, 1, 0, 0, 0, 0, 1}}, // B C D A B
      {5, ring},                           // the repeat acts like the first
  };
  for (const Case &c : cases) {
    Matrix m = Points(ring);
    ErrorSlot err;
    evec_PolygonChangeStartPoint(m.get(), c.start, &err);
    ExpectNoReport(err);
    EXPECT_EQ(Values(m.get()), c.result) << "start " << c.start;
  }
  for (int32_t start : {0, -1, 6, 1 << 30}) {
    Matrix m = Points(ring);
    ErrorSlot err;
    evec_PolygonChangeStartPoint(m.get(), start, &err);
    ExpectReport(err, "evec_PolygonChangeStartPoint", 2, "Invalid input start point");
    EXPECT_EQ(Values(m.get()), ring) << "start " << start;
  }
  ErrorSlot err;
  evec_PolygonChangeStartPoint(nullptr, 1, &err);
  ExpectReport(err, "evec_PolygonChangeStartPoint", 1, "Invalid input polygon");
}

} // namespace
