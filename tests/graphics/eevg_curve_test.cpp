// Curve routines: polynomial forms, roots, breaking and cutting, and the flattener.
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "eevg_internal.h"
#include "emsc.h"
#include "taviron_testing.h"
#include "raster_testing.h"

namespace {

using namespace taviron::graphics;
using taviron::graphics::testing::Canvas;
using taviron::testing::Chain;
using taviron::graphics::testing::RasterDrawing;
using taviron::testing::Reported;
using taviron::testing::ErrorSlot;

TEST(EevgCurve, BezierToPolynomial) {
  const struct {
    int32_t p[4];
    int32_t c[4];
  } cases[] = {{{0, 0, 0, 1}, {0, 0, 0, 1}}, {{0, 1, 2, 3}, {0, 3, 0, 0}}, {{5, 5, 5, 5}, {5, 0, 0, 0}},
               {{0, 10, -5, 20}, {0, 30, -75, 65}}};
  for (const auto &test : cases) {
    int32_t c[4];
    CVBezierToPoly(test.p, c);
    double pd[4], cd[4];
    for (int i = 0; i < 4; ++i) pd[i] = test.p[i];
    CVBezierToPolyD(pd, cd);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(c[i], test.c[i]) << i;
      EXPECT_EQ(cd[i], test.c[i]) << i;
    }
    // The polynomial form agrees with the curve at its ends.
    EXPECT_EQ(CVPolyVal(3, c, 0), test.p[0]);
    EXPECT_EQ(CVPolyVal(3, c, 1), test.p[3]);
  }
}

TEST(EevgCurve, ValueAndDerivative) {
  const int32_t c[4] = {1, 2, 3, 4};
  const double cd[4] = {1, 2, 3, 4};
  EXPECT_EQ(CVPolyVal(3, c, 2), 49);
  EXPECT_EQ(CVPolyValD(3, cd, 2), 49);
  EXPECT_EQ(CVPolyValD(0, cd, 7), 1);
  EXPECT_EQ(CVPolyValD(-1, cd, 7), 0);
  int32_t d[3];
  double dd[3];
  EXPECT_EQ(CVPolyDerivative(3, c, d), 4);
  CVPolyDerivativeD(3, cd, dd);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(d[i], (i + 1) * c[i + 1]);
    EXPECT_EQ(dd[i], (i + 1) * cd[i + 1]);
  }
}

TEST(EevgCurve, QuadraticRoots) {
  const struct {
    int32_t c[3];
    int32_t count;
    double roots[2];
  } cases[] = {
      {{2, -3, 1}, 2, {1, 2}}, {{1, 2, 1}, 1, {-1, 0}},  {{1, 0, 1}, 0, {0, 0}},
      {{-2, 3, -1}, 2, {1, 2}}, // a negative square term still gives ascending roots
      {{-4, 2, 0}, 1, {2, 0}},  // no square term: the linear root instead of a division by zero
      {{5, 0, 0}, 0, {0, 0}},
  };
  for (const auto &test : cases) {
    double roots[2] = {-99, -99}, rootsD[2] = {-99, -99};
    const double cd[3] = {double(test.c[0]), double(test.c[1]), double(test.c[2])};
    ASSERT_EQ(CVQuadRoot(test.c, roots), test.count) << test.c[0] << " " << test.c[1] << " " << test.c[2];
    ASSERT_EQ(CVQuadRootD(cd, rootsD), test.count);
    for (int i = 0; i < test.count; ++i) {
      EXPECT_DOUBLE_EQ(roots[i], test.roots[i]);
      EXPECT_DOUBLE_EQ(rootsD[i], test.roots[i]);
    }
  }
  // Coefficients whose discriminant leaves 32 bits.
  const int32_t big[3] = {-2000000000, 0, 2000000000};
  double roots[2];
  ASSERT_EQ(CVQuadRoot(big, roots), 2);
  EXPECT_DOUBLE_EQ(roots[0], -1);
  EXPECT_DOUBLE_EQ(roots[1], 1);
}

TEST(EevgCurve, NewtonRoot) {
  const int32_t c[3] = {-2, 0, 1}, d[2] = {0, 2};
  const double cd[3] = {-2, 0, 1}, dd[2] = {0, 2};
  int32_t found = -1;
  EXPECT_NEAR(CVPolyRoot(2, c, d, 1, 50, 1e-9, &found), std::sqrt(2.0), 1e-9);
  EXPECT_EQ(found, 1);
  found = -1;
  EXPECT_NEAR(CVPolyRootD(2, cd, dd, -1, 50, 1e-9, &found), -std::sqrt(2.0), 1e-9);
  EXPECT_EQ(found, 1);
  // The derivative vanishes at the start: stop at once.
  found = -1;
  EXPECT_EQ(CVPolyRootD(2, cd, dd, 0, 50, 1e-9, &found), 0);
  EXPECT_EQ(found, 0);
  // No real root: the limit ends the search.
  const double none[3] = {1, 0, 1};
  found = -1;
  CVPolyRootD(2, none, dd, 0.5, 10, 1e-9, &found);
  EXPECT_EQ(found, 0);
  // A constant has no derivative to follow.
  found = -1;
  EXPECT_EQ(CVPolyRootD(0, none, dd, 3, 10, 1e-9, &found), 3);
  EXPECT_EQ(found, 0);
}

TEST(EevgCurve, CrossingsWithALine) {
  // x runs 0..30 straight; y = 1000 (t - 0.2)(t - 0.5)(t - 0.8) crosses y = 0 three times.
  const double cx[4] = {0, 30, 0, 0}, cy[4] = {-80, 660, -1500, 1000};
  double t[3];
  ASSERT_EQ(CVFindCuts(0, 0, 30, 0, cx, cy, t), 3);
  EXPECT_NEAR(t[0], 0.2, 1e-4);
  EXPECT_NEAR(t[1], 0.5, 1e-4);
  EXPECT_NEAR(t[2], 0.8, 1e-4);
  // A vertical line at x = 15 meets it once, at t = 0.5.
  ASSERT_EQ(CVFindCuts(15, -100, 15, 100, cx, cy, t), 1);
  EXPECT_NEAR(t[0], 0.5, 1e-4);
  // A line beside the curve and a line of no length find nothing.
  EXPECT_EQ(CVFindCuts(40, 0, 40, 1, cx, cy, t), 0);
  EXPECT_EQ(CVFindCuts(5, 5, 5, 5, cx, cy, t), 0);
  // A quadratic-only distance (no cubic term) splits at its one turning point.
  const double qx[4] = {0, 30, 0, 0}, qy[4] = {-5, 40, -40, 0}; // y = -5 + 40t - 40t^2
  ASSERT_EQ(CVFindCuts(0, 0, 30, 0, qx, qy, t), 2);
  EXPECT_NEAR(t[0], 0.5 - std::sqrt(0.5) / 2, 1e-4);
  EXPECT_NEAR(t[1], 0.5 + std::sqrt(0.5) / 2, 1e-4);
}

double Bezier(const double *p, double t) {
  const double u = 1 - t;
  return u * u * u * p[0] + 3 * u * u * t * p[1] + 3 * u * t * t * p[2] + t * t * t * p[3];
}

TEST(EevgCurve, BreakAtAParameter) {
  const int32_t line[4] = {0, 300, 600, 900};
  int32_t out[7];
  CVBreak(line, 0.5, out);
  const int32_t expected[7] = {0, 150, 300, 450, 600, 750, 900};
  for (int i = 0; i < 7; ++i) EXPECT_NEAR(out[i], expected[i], 1) << i;

  for (double t : {0.0, 0.3, 0.5, 0.9, 1.0}) {
    double p[7] = {0, 10, -5, 20};
    const double original[4] = {0, 10, -5, 20};
    CVBreakD(p, t, p); // in place
    for (double u : {0.0, 0.25, 0.5, 0.75, 1.0}) {
      EXPECT_NEAR(Bezier(p, u), Bezier(original, t * u), 1e-5) << t << " " << u;
      EXPECT_NEAR(Bezier(p + 3, u), Bezier(original, t + (1 - t) * u), 1e-5) << t << " " << u;
    }
  }
}

TEST(EevgCurve, CutWithASegment) {
  const double px[4] = {0, 10, 20, 30}, py[4] = {0, 0, 0, 0};
  double outX[13], outY[13];
  ASSERT_EQ(CVCut(15, -5, 15, 5, px, py, 2, outX, outY), 2);
  EXPECT_NEAR(outX[3], 15, 1e-6);
  EXPECT_NEAR(outY[3], 0, 1e-6);
  EXPECT_EQ(outX[0], 0);
  EXPECT_EQ(outX[6], 30);
  // The crossing (15, 0) lies outside the segment's widened box: the curve stays whole.
  ASSERT_EQ(CVCut(15, 10, 15, 20, px, py, 2, outX, outY), 1);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(outX[i], px[i]);
    EXPECT_EQ(outY[i], py[i]);
  }
  // Three crossings give four pieces meeting on the line, later crossings rescaled.
  const double wx[4] = {0, 10, 20, 30};
  double wyp[4];
  // Control points of y = 1000 (t - 0.2)(t - 0.5)(t - 0.8).
  wyp[0] = -80;
  wyp[1] = -80 + 660 / 3.0;
  wyp[2] = 2 * wyp[1] - wyp[0] + (-1500) / 3.0;
  wyp[3] = -80 + 660 - 1500 + 1000;
  ASSERT_EQ(CVCut(0, 0, 30, 0, wx, wyp, 2, outX, outY), 4);
  for (int piece = 1; piece < 4; ++piece) {
    EXPECT_NEAR(outY[3 * piece], 0, 0.01) << piece;
    EXPECT_NEAR(outX[3 * piece], 30 * (0.2 + 0.3 * (piece - 1)), 0.01) << piece;
  }
}

TEST(EevgCurve, PointInRectangle) {
  const struct {
    double x, y;
    int32_t inside;
  } cases[] = {{5, 5, 1}, {0, 0, 1}, {10, 10, 1}, {0, 10, 1}, {-0.001, 5, 0}, {5, 10.001, 0}};
  for (const auto &test : cases) EXPECT_EQ(UTPointInRect(test.x, test.y, 0, 0, 10, 10), test.inside);
}

// ---- the flattener ----

struct Part {
  std::vector<int32_t> points; // what the part holds before the curve
  std::vector<int32_t> Flatten(Eevg_Drawing *drawing, const std::vector<int32_t> &curve,
                               Eerr_ErrorReport **err, int32_t flatness = 2) {
    const int32_t count = static_cast<int32_t>(points.size() / 2);
    int32_t capacity = count;
    int32_t *buffer = static_cast<int32_t *>(emsc_HeapMalloc(sizeof(int32_t) * 2 * (count ? count : 1)));
    std::copy(points.begin(), points.end(), buffer);
    int32_t pointCount = count;
    const int32_t starts[1] = {0};
    const int32_t status = eevg_CVPoly(drawing, curve[0], curve[1], curve[2], curve[3], curve[4], curve[5],
                                       curve[6], curve[7], flatness, &capacity, &buffer, &pointCount,
                                       starts, 1, err);
    std::vector<int32_t> result(buffer, buffer + 2 * pointCount);
    emsc_HeapFree(buffer);
    if (status != 0) result.clear();
    return result;
  }
};

double DistanceToPolyline(const std::vector<int32_t> &pts, double x, double y) {
  double best = std::numeric_limits<double>::infinity();
  for (size_t i = 0; i + 3 < pts.size(); i += 2) {
    const double ax = pts[i], ay = pts[i + 1], bx = pts[i + 2], by = pts[i + 3];
    const double vx = bx - ax, vy = by - ay, len = vx * vx + vy * vy;
    double u = len > 0 ? ((x - ax) * vx + (y - ay) * vy) / len : 0;
    u = std::clamp(u, 0.0, 1.0);
    best = std::min(best, std::hypot(ax + u * vx - x, ay + u * vy - y));
  }
  return best;
}

class EevgCVPoly : public ::testing::Test {
 protected:
  Canvas canvas{64, 64};
  RasterDrawing drawing{canvas};
};

TEST_F(EevgCVPoly, StraightAndDegenerateCurves) {
  ErrorSlot err;
  const struct {
    std::vector<int32_t> before, curve, after;
  } cases[] = {
      // A flat curve adds just its end point; coincident points add nothing.
      {{0, 0}, {0, 0, 10, 0, 20, 0, 30, 0}, {0, 0, 30, 0}},
      {{7, 7}, {7, 7, 7, 7, 7, 7, 7, 7}, {7, 7}},
      // Going on in the same direction replaces the last point.
      {{0, 0, 10, 0}, {10, 0, 13, 0, 16, 0, 20, 0}, {0, 0, 20, 0}},
      // Turning back keeps the turning point.
      {{0, 0, 10, 0}, {10, 0, 8, 0, 6, 0, 5, 0}, {0, 0, 10, 0, 5, 0}},
      // The part's start point is never replaced, whatever the direction of the first step.
      {{0, 0}, {0, 0, 32000, 1, 32000, 1, 64000, 2}, {0, 0, 64000, 2}},
  };
  for (const auto &test : cases) {
    Part part{test.before};
    EXPECT_EQ(part.Flatten(drawing.get(), test.curve, &err), test.after) << Chain(err.get());
  }
}

// A curve met again up to a translation is taken from the drawing's memos: the points must be
// those a drawing meeting it first makes, whatever the part held before it.
TEST_F(EevgCVPoly, CurvesMetAgainGiveTheSamePoints) {
  std::mt19937 random(4);
  std::uniform_int_distribution<int32_t> small(-60, 60), large(-4000, 4000), shift(-50000, 50000);
  ErrorSlot err;
  for (int k = 0; k < 300; ++k) {
    std::vector<int32_t> curve(8);
    for (int32_t &v : curve) v = k % 4 == 3 ? large(random) : small(random);
    const int32_t dx = shift(random), dy = shift(random);
    std::vector<int32_t> moved = curve;
    for (size_t i = 0; i < 8; ++i) moved[i] += i % 2 ? dy : dx;
    // Before the curve: its start alone, or a point leading into it (in line with its first
    // piece for some).
    auto before = [&](const std::vector<int32_t> &c) {
      if (k % 3 == 0) return std::vector<int32_t>{c[0], c[1]};
      if (k % 3 == 1) return std::vector<int32_t>{c[0] - 5, c[1], c[0], c[1]};
      return std::vector<int32_t>{2 * c[0] - c[2], 2 * c[1] - c[3], c[0], c[1]};
    };
    const int32_t flatness = 2 + k % 5;
    Canvas fresh(8, 8), again(8, 8);
    RasterDrawing first(fresh), second(again);
    Part one{before(moved)}, other{before(curve)}, same{before(moved)};
    const std::vector<int32_t> expected = one.Flatten(first.get(), moved, &err, flatness);
    ASSERT_FALSE(expected.empty()) << Chain(err.get());
    other.Flatten(second.get(), curve, &err, flatness);
    EXPECT_EQ(same.Flatten(second.get(), moved, &err, flatness), expected) << k;
  }
}

TEST_F(EevgCVPoly, QuarterCircleWithinTheFlatness) {
  ErrorSlot err;
  const double k = 0.5522848;
  for (int32_t r : {8, 800, 80000, 100000000}) {
    const int32_t a = static_cast<int32_t>(r * k);
    Part part{{r, 0}};
    const std::vector<int32_t> pts = part.Flatten(drawing.get(), {r, 0, r, a, a, r, 0, r}, &err);
    ASSERT_GE(pts.size(), 4u) << Chain(err.get());
    EXPECT_EQ(pts[pts.size() - 2], 0);
    EXPECT_EQ(pts.back(), r);
    const double px[4] = {double(r), double(r), double(a), 0}, py[4] = {0, double(a), double(r), double(r)};
    for (int i = 0; i <= 200; ++i) {
      const double t = i / 200.0;
      EXPECT_LE(DistanceToPolyline(pts, Bezier(px, t), Bezier(py, t)), 1.5) << r << " at " << t;
    }
  }
}

TEST_F(EevgCVPoly, ClosedLoopIsSubdivided) {
  ErrorSlot err;
  Part part{{0, 0}};
  const std::vector<int32_t> pts = part.Flatten(drawing.get(), {0, 0, 800, 800, -800, 800, 0, 0}, &err);
  ASSERT_GT(pts.size(), 8u) << Chain(err.get());
  EXPECT_EQ(pts[pts.size() - 2], 0);
  EXPECT_EQ(pts.back(), 0);
  int32_t top = 0;
  for (size_t i = 1; i < pts.size(); i += 2) top = std::max(top, pts[i]);
  EXPECT_NEAR(top, 600, 2); // the loop's highest point: 3/4 of the control height
}

TEST_F(EevgCVPoly, ExtremeCoordinatesDoNotWrap) {
  ErrorSlot err;
  const int32_t lo = INT32_MIN, hi = INT32_MAX;
  const std::vector<std::vector<int32_t>> curves = {
      {lo, lo, hi, lo, lo, hi, hi, hi}, {hi, hi, lo, lo, hi, lo, lo, hi}, {lo, 0, 0, hi, 0, lo, hi, 0}};
  for (const auto &curve : curves) {
    Part part{{curve[0], curve[1]}};
    const std::vector<int32_t> pts = part.Flatten(drawing.get(), curve, &err);
    ASSERT_GE(pts.size(), 4u) << Chain(err.get());
    EXPECT_EQ(pts[pts.size() - 2], curve[6]);
    EXPECT_EQ(pts.back(), curve[7]);
    // Every point lies within the control points' hull box.
    for (size_t i = 0; i < pts.size(); i += 2) {
      EXPECT_GE(int64_t(pts[i]), int64_t(std::min({curve[0], curve[2], curve[4], curve[6]})));
      EXPECT_LE(int64_t(pts[i]), int64_t(std::max({curve[0], curve[2], curve[4], curve[6]})));
    }
  }
}

TEST_F(EevgCVPoly, GrowsThePointArrayAndReportsWhenItCannot) {
  const std::vector<int32_t> curve = {0, 0, 4000000, 0, 4000000, 4000000, 0, 4000000};
  ErrorSlot err;
  Part part{{0, 0}};
  const size_t needed = part.Flatten(drawing.get(), curve, &err).size() / 2;
  ASSERT_GT(needed, 2u) << Chain(err.get());
  const int64_t live = emsc_TestLiveBlocks();
  {
    // The part's own array is the first allocation; its first growth fails.
    taviron::testing::FailAllocation fail(2);
    EXPECT_TRUE(part.Flatten(drawing.get(), curve, &err).empty());
    EXPECT_TRUE(Reported(err.get(), "eevg_CVPoly", 1, "Polygon Overflow")) << Chain(err.get());
  }
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}


// Random curves, from small to the whole 32-bit range, with doubles that are no numbers at all:
// nothing crashes, the flattened points stay in the control points' box and end on the end point.
TEST_F(EevgCVPoly, RandomAndExtremeInputNeverEscapes) {
  std::mt19937 random(8);
  const double specials[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(), 1e300, -1e300, 0};
  ErrorSlot err;
  for (int round = 0; round < 300; ++round) {
    const int bits = 1 + round % 32;
    std::uniform_int_distribution<int64_t> coordinate(-(int64_t(1) << (bits - 1)), (int64_t(1) << (bits - 1)) - 1);
    std::vector<int32_t> curve(8);
    for (auto &value : curve) value = static_cast<int32_t>(coordinate(random));
    if (round % 7 == 0) { curve[6] = curve[0]; curve[7] = curve[1]; }
    Part part{{curve[0], curve[1]}};
    const std::vector<int32_t> pts = part.Flatten(drawing.get(), curve, &err, round % 5 * 3);
    ASSERT_FALSE(pts.empty()) << Chain(err.get());
    EXPECT_EQ(pts[pts.size() - 2], curve[6]);
    EXPECT_EQ(pts.back(), curve[7]);
    for (size_t i = 0; i < pts.size(); i += 2) {
      ASSERT_GE(pts[i], std::min({curve[0], curve[2], curve[4], curve[6]}));
      ASSERT_LE(pts[i], std::max({curve[0], curve[2], curve[4], curve[6]}));
      ASSERT_GE(pts[i + 1], std::min({curve[1], curve[3], curve[5], curve[7]}));
      ASSERT_LE(pts[i + 1], std::max({curve[1], curve[3], curve[5], curve[7]}));
    }

    // The double routines on the same values, some of them replaced by specials.
    double px[4], py[4], line[4];
    std::uniform_int_distribution<int> pick(0, 9);
    for (int i = 0; i < 4; ++i) {
      px[i] = pick(random) == 0 ? specials[pick(random) % 6] : curve[2 * i];
      py[i] = pick(random) == 0 ? specials[pick(random) % 6] : curve[2 * i + 1];
      line[i] = pick(random) == 0 ? specials[pick(random) % 6] : static_cast<double>(coordinate(random));
    }
    double outX[13], outY[13], t[3];
    const int32_t pieces = CVCut(line[0], line[1], line[2], line[3], px, py, 2, outX, outY);
    EXPECT_GE(pieces, 1);
    EXPECT_LE(pieces, 4);
    double cx[4], cy[4];
    CVBezierToPolyD(px, cx);
    CVBezierToPolyD(py, cy);
    const int32_t cuts = CVFindCuts(line[0], line[1], line[2], line[3], cx, cy, t);
    for (int32_t i = 0; i < cuts; ++i) {
      EXPECT_GE(t[i], 0);
      EXPECT_LE(t[i], 1);
    }
    int32_t broken[7];
    CVBreak(curve.data(), px[1], broken);
  }
}

} // namespace
