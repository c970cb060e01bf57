// Ellipse and arc curves: control points, quadrants and pieces, and flattening into the drawing.
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "eevg_internal.h"
#include "taviron_testing.h"
#include "raster_testing.h"

namespace {

using namespace taviron::graphics;
using taviron::graphics::testing::Canvas;
using taviron::testing::Chain;
using taviron::graphics::testing::RasterDrawing;
using taviron::testing::ErrorSlot;

constexpr double kPi = std::numbers::pi;

TEST(EevgEllipse, ControlPointsOfTheWholeEllipse) {
  const struct {
    double cx, cy, rx, ry, rotation;
    std::vector<int32_t> firstQuarter;
    int32_t slack; // truncation of values a rounding away from an integer
  } cases[] = {
      {0, 0, 800, 800, 0, {800, 0, 800, 441, 441, 800, 0, 800}, 0},
      {0, 0, 100, 200, 0, {100, 0, 100, 110, 55, 200, 0, 200}, 0},
      {1000, 2000, 800, 800, 0, {1800, 2000, 1800, 2441, 1441, 2800, 1000, 2800}, 0},
      // A quarter turn carries (rx, 0) to (cx, cy + rx).
      {0, 0, 800, 400, kPi / 2, {0, 800, -220, 800, -400, 441, -400, 0}, 1},
  };
  for (const auto &test : cases) {
    int32_t out[24];
    eevg_ComputeEllipseCurve(test.cx, test.cy, test.rx, test.ry, test.rotation, out);
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(out[i], test.firstQuarter[i], test.slack) << test.rx << " " << i;
  }
  // The quarters meet on the axes: points 3, 6 and 9.
  int32_t out[24];
  eevg_ComputeEllipseCurve(0, 0, 300, 200, 0, out);
  const int32_t axes[8] = {300, 0, 0, 200, -300, 0, 0, -200};
  for (int q = 0; q < 4; ++q) {
    EXPECT_EQ(out[6 * q], axes[2 * q]);
    EXPECT_EQ(out[6 * q + 1], axes[2 * q + 1]);
  }
}

TEST(EevgEllipse, DegenerateRadiiStayOnTheCentre) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  int32_t out[24];
  eevg_ComputeEllipseCurve(40, 50, 0, 0, 0, out);
  for (int i = 0; i < 24; i += 2) {
    EXPECT_EQ(out[i], 40);
    EXPECT_EQ(out[i + 1], 50);
  }
  // A flat ellipse lies on its x axis.
  eevg_ComputeEllipseCurve(0, 0, 100, 0, 0, out);
  for (int i = 1; i < 24; i += 2) EXPECT_EQ(out[i], 0);
  // No number and no end: saturated or zero, never undefined.
  for (double bad : {nan, inf, 1e300}) {
    eevg_ComputeEllipseCurve(bad, 0, bad, 5, bad, out);
    int32_t arc[32], pieces = -1;
    eevg_ComputeEllipticalArcCurve(nullptr, 0, bad, 5, bad, 0, bad, bad, arc, &pieces);
    EXPECT_GE(pieces, 1);
    EXPECT_LE(pieces, 5);
  }
}

TEST(EevgEllipse, AnglesToQuadrants) {
  const struct {
    double angle;
    int32_t isStart;
    double normalised;
    int32_t quadrant;
  } cases[] = {
      {0, 1, 0, 0},
      {0, 0, 2 * kPi, 3},
      {kPi / 2, 1, kPi / 2, 1}, // a boundary starts the next quadrant ...
      {kPi / 2, 0, kPi / 2, 0}, // ... and ends the previous one
      {kPi, 0, kPi, 1},
      {5 * kPi, 1, kPi, 2},
      {-kPi / 2, 1, 3 * kPi / 2, 3},
      {2 * kPi, 1, 0, 0},
      {-2 * kPi, 0, 2 * kPi, 3},
      {7 * kPi / 4, 0, 7 * kPi / 4, 3},
      {std::numeric_limits<double>::quiet_NaN(), 1, 0, 0},
      {std::numeric_limits<double>::infinity(), 0, 2 * kPi, 3},
  };
  for (const auto &test : cases) {
    double angle = test.angle;
    EXPECT_EQ(eevg_AngleToQuadrant(&angle, test.isStart), test.quadrant) << test.angle;
    EXPECT_NEAR(angle, test.normalised, 1e-12) << test.angle;
  }
  EXPECT_DOUBLE_EQ(static_cast<double>(eevg_Distance(0, 0, 3, -4)), 5);
  EXPECT_DOUBLE_EQ(static_cast<double>(eevg_Distance(INT32_MIN, 0, INT32_MAX, 0)), 4294967295.0);
}

// The polar angle in the ellipse's own frame of a point of an unrotated ellipse at the origin.
double Polar(int32_t x, int32_t y) {
  const double a = std::atan2(double(y), double(x));
  return a < 0 ? a + 2 * kPi : a;
}

TEST(EevgEllipse, ArcPiecesAndEnds) {
  const struct {
    double start, end;
    int32_t pieces;
  } cases[] = {
      {kPi / 4, 3 * kPi / 4, 2}, {3 * kPi / 4, kPi / 4, 4}, {kPi / 4, kPi / 4, 1},
      {0, 0, 4},                 {kPi / 3, kPi / 6, 5},     {0.3, 2.0, 2},
      {kPi / 2, kPi, 1},         {1.0, 1.2, 1},             {-kPi / 2, kPi / 2, 2},
  };
  for (double rx : {8000.0, 4000.0}) {
    const double ry = 8000;
    for (const auto &test : cases) {
      int32_t out[32], pieces = 0;
      eevg_ComputeEllipticalArcCurve(nullptr, 0, 0, rx, ry, 0, test.start, test.end, out, &pieces);
      ASSERT_EQ(pieces, test.pieces) << test.start << " " << test.end;
      const int32_t last = 3 * pieces;
      double start = test.start, end = test.end;
      eevg_AngleToQuadrant(&start, 1);
      eevg_AngleToQuadrant(&end, 0);
      // The ends lie on the rays of the two angles and on the ellipse.
      for (const auto &[index, angle] : {std::pair{0, start}, std::pair{last, end}}) {
        const int32_t x = out[2 * index], y = out[2 * index + 1];
        const double polar = Polar(x, y);
        EXPECT_NEAR(std::remainder(polar - angle, 2 * kPi), 0, 2e-3) << test.start << " " << test.end;
        EXPECT_NEAR(std::hypot(x / rx, y / ry), 1, 1e-3) << test.start << " " << test.end;
      }
      // Each piece's end lies on the ellipse.
      for (int32_t i = 3; i <= last; i += 3)
        EXPECT_NEAR(std::hypot(out[2 * i] / rx, out[2 * i + 1] / ry), 1, 1e-3);
    }
  }
}

TEST(EevgEllipse, RotatedArcStartsOnTheTurnedRay) {
  int32_t out[32], pieces = 0;
  eevg_ComputeEllipticalArcCurve(nullptr, 100, 200, 8000, 8000, kPi / 2, 0, kPi / 2, out, &pieces);
  ASSERT_EQ(pieces, 1);
  EXPECT_NEAR(out[0], 100, 1);
  EXPECT_NEAR(out[1], 8200, 1);
  EXPECT_NEAR(out[6], -7900, 1);
  EXPECT_NEAR(out[7], 200, 1);
}

class EevgEllipseFlatten : public ::testing::Test {
 protected:
  Canvas canvas{64, 64};
  RasterDrawing drawing{canvas};
  std::vector<int32_t> PartPoints(int32_t part) {
    const int32_t *p = drawing->points;
    return std::vector<int32_t>(p + 2 * drawing->polygonStarts[part], p + 2 * drawing->polygonStarts[part + 1]);
  }
};

TEST_F(EevgEllipseFlatten, EllipseBecomesAClosedPartOnTheCurve) {
  ErrorSlot err;
  for (double r : {8.0, 800.0, 40000.0}) {
    drawing->pointCount = 0;
    drawing->polygonCount = 0;
    ASSERT_EQ(FlattenEllipse(drawing.get(), 100, 100, r, r / 2, 0.3, &err), 0) << Chain(err.get());
    ASSERT_EQ(drawing->polygonCount, 1);
    const std::vector<int32_t> pts = PartPoints(0);
    ASSERT_GE(pts.size(), 10u);
    EXPECT_EQ(pts[0], pts[pts.size() - 2]);
    EXPECT_EQ(pts[1], pts.back());
    const double c = std::cos(0.3), s = std::sin(0.3);
    for (size_t i = 0; i < pts.size(); i += 2) {
      const double x = pts[i] - 100, y = pts[i + 1] - 100;
      const double u = x * c + y * s, v = -x * s + y * c;
      // On the ellipse within the flatness, the quarters' error and the truncation.
      const double radial = std::hypot(u / r, v / (r / 2));
      EXPECT_NEAR(radial, 1, 4.0 / r + 1e-3) << r << " point " << i / 2;
    }
  }
}

TEST_F(EevgEllipseFlatten, ArcBecomesAnOpenPartAfterThePrevious) {
  ErrorSlot err;
  drawing->pointCount = 0;
  drawing->polygonCount = 0;
  ASSERT_EQ(FlattenEllipse(drawing.get(), 0, 0, 800, 800, 0, &err), 0) << Chain(err.get());
  ASSERT_EQ(FlattenEllipticalArc(drawing.get(), 0, 0, 8000, 8000, 0, kPi / 4, 3 * kPi / 4, &err), 0)
      << Chain(err.get());
  ASSERT_EQ(drawing->polygonCount, 2);
  const std::vector<int32_t> pts = PartPoints(1);
  ASSERT_GE(pts.size(), 6u);
  EXPECT_NEAR(pts[0], 5657, 2);
  EXPECT_NEAR(pts[1], 5657, 2);
  EXPECT_NEAR(pts[pts.size() - 2], -5657, 2);
  EXPECT_NEAR(pts.back(), 5657, 2);
  for (size_t i = 0; i < pts.size(); i += 2) EXPECT_NEAR(std::hypot(pts[i], pts[i + 1]), 8000, 4);
}

TEST_F(EevgEllipseFlatten, ZeroRadiiGiveOnePointPart) {
  ErrorSlot err;
  drawing->pointCount = 0;
  drawing->polygonCount = 0;
  ASSERT_EQ(FlattenEllipse(drawing.get(), 33, 44, 0, 0, 0, &err), 0) << Chain(err.get());
  EXPECT_EQ(PartPoints(0), (std::vector<int32_t>{33, 44, 33, 44}));
  ASSERT_EQ(FlattenEllipticalArc(drawing.get(), 33, 44, 0, 0, 0, 1, 2, &err), 0) << Chain(err.get());
  EXPECT_EQ(PartPoints(1), (std::vector<int32_t>{33, 44}));
}

TEST_F(EevgEllipseFlatten, RunningOutOfMemoryLeavesTheBuffersAsTheyWere) {
  taviron::testing::SweepOptions options{.limit = 50};
  options.prepare = [&] { drawing->pointCount = drawing->polygonCount = 0; };
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) {
        if (FlattenEllipse(drawing.get(), 0, 0, 4e6, 3e6, 0, err) == 0) {
          EXPECT_GT(drawing->pointCount, 1000);
          return true;
        }
        EXPECT_EQ(drawing->polygonCount, 0);
        EXPECT_EQ(drawing->pointCount, 0);
        return false;
      },
      options);
}

} // namespace
