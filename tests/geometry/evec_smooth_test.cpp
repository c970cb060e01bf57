// Points along arcs, smoothing, densifying, ellipse polygons and joining.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry_testing.h"
#include "taviron_testing.h"

namespace {

using namespace geotest;

MVS Layer(double grain) {
  MVS layer{};
  layer.weed = 0.25;
  layer.grain = grain;
  return layer;
}

void ExpectPoints(const Egda_BaseData *m, const std::vector<double> &xy, double tolerance = 1e-9) {
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->columns * 2, static_cast<int32_t>(xy.size()));
  for (int32_t j = 0; j < m->columns; ++j) {
    EXPECT_NEAR(X(m, j), xy[2 * j], tolerance) << "vertex " << j;
    EXPECT_NEAR(Y(m, j), xy[2 * j + 1], tolerance) << "vertex " << j;
  }
}

TEST(EvecSplineArc, VertexCountFollowsTheGrain) {
  struct Case {
    const char *name;
    std::vector<double> arc;
    double grain;
    std::vector<double> out;
  } cases[] = {
      {"length 10, grain 3", {0, 0, 5, 0, 10, 0}, 3, {0, 0, 3, 0, 6, 0, 10, 0}},
      {"length 9, grain 3", {0, 0, 4.5, 0, 9, 0}, 3, {0, 0, 3, 0, 6, 0, 9, 0}},
      {"length 2, grain 3", {0, 0, 1, 0, 2, 0}, 3, {0, 0, 2, 0}},
      {"collinear, evenly spaced, along a diagonal", {0, 0, 3, 4, 6, 8, 9, 12}, 2,
       {0, 0, 1.2, 1.6, 2.4, 3.2, 3.6, 4.8, 4.8, 6.4, 6, 8, 7.2, 9.6, 9, 12}},
      // The curve runs through the vertices: the point at distance 10 is vertex 1.
      {"through the vertices", {0, 0, 10, 0, 10, 10}, 10, {0, 0, 10, 0, 10, 10}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    MVS layer = Layer(c.grain);
    Matrix arc = Points(c.arc);
    ErrorSlot err;
    Matrix out(evec_SplineArc(&layer, arc.get(), &err));
    ExpectNoReport(err);
    ExpectPoints(out.get(), c.out);
  }
  EXPECT_EQ(Layer(3).weed, 0.25);
}

TEST(EvecSplineArc, TwoVerticesAfterWeedingComeBackWhateverTheGrain) {
  Matrix arc = Points({0, 0, 0, 0, 5, 0, 5, 0});
  ErrorSlot err;
  Matrix out(evec_SplineArc(nullptr, arc.get(), &err));
  ExpectNoReport(err);
  ExpectPoints(out.get(), {0, 0, 5, 0});
}

TEST(EvecSplineArc, SmoothCurveStaysNearACircle) {
  // Vertices on a circle of radius 10; the smoothed points stay close to it.
  std::vector<double> xy;
  for (int i = 0; i <= 12; ++i) {
    const double a = i * M_PI / 12;
    xy.push_back(10 * std::cos(a));
    xy.push_back(10 * std::sin(a));
  }
  MVS layer = Layer(0.5);
  Matrix arc = Points(xy);
  Matrix out(evec_SplineArc(&layer, arc.get(), nullptr));
  ASSERT_TRUE(out);
  const double length = evec_LengthOfArc(arc.get(), nullptr);
  EXPECT_EQ(out->columns, static_cast<int32_t>(std::floor(length / 0.5)) + 1);
  // The free ends bend less than the circle does; inside, the curve keeps to it.
  for (int32_t j = 0; j < out->columns; ++j) {
    const bool inner = j > out->columns / 4 && j < 3 * out->columns / 4;
    EXPECT_NEAR(std::hypot(X(out.get(), j), Y(out.get(), j)), 10, inner ? 0.002 : 0.05) << j;
  }
}

TEST(EvecSplineArc, BadInputIsReported) {
  MVS zero = Layer(0), nan = Layer(NAN);
  Matrix arc = Points({0, 0, 5, 0, 5, 5});
  ErrorSlot err;
  EXPECT_EQ(evec_SplineArc(&zero, arc.get(), &err), nullptr);
  ExpectReport(err, "evec_SplineArc", 2, "Invalid grain tolerance");
  EXPECT_EQ(evec_SplineArc(&nan, arc.get(), &err), nullptr);
  ExpectReport(err, "evec_SplineArc", 2, "Invalid grain tolerance");
  EXPECT_EQ(evec_SplineArc(nullptr, arc.get(), &err), nullptr);
  ExpectReport(err, "evec_SplineArc", 2, "Invalid grain tolerance");
  MVS layer = Layer(1);
  EXPECT_EQ(evec_SplineArc(&layer, Points({1, 1}).get(), &err), nullptr);
  ExpectReport(err, "evec_SplineArc", 1, "Invalid input arc");
  EXPECT_EQ(evec_SplineArc(&layer, nullptr, &err), nullptr);
  ExpectReport(err, "evec_SplineArc", 1, "Invalid input arc");
  Matrix huge = Points({0, 0, 1e300, 0, 1e300, 1e300});
  MVS tiny = Layer(1e-300);
  EXPECT_EQ(evec_SplineArc(&tiny, huge.get(), &err), nullptr);
  ExpectReport(err, "evec_SplineArc", 3, "Error returned from efga_MatrixCreate");

  SweepMade([&](Eerr_ErrorReport **e) { return evec_SplineArc(&layer, arc.get(), e); }, DeleteMatrix,
            "evec_SplineArc");
}

TEST(EvecPointOfArc, StraightAndSplinePoints) {
  Matrix arc = Points({0, 0, 3, 4, 3, 10, 8, 10});
  struct Case {
    double distance, x, y;
  } straight[] = {{2.5, 1.5, 2}, {5, 3, 4}, {8, 3, 7}, {15.5, 7.5, 10}};
  for (const Case &c : straight) {
    Coord p(evec_DensifyPointOfArc(arc.get(), c.distance, nullptr));
    ASSERT_TRUE(p);
    EXPECT_NEAR(p->x, c.x, 1e-12);
    EXPECT_NEAR(p->y, c.y, 1e-12);
  }
  // The local spline runs through the vertices and is straight along collinear, evenly spaced
  // vertices.
  Coord v(evec_SplinePointOfArc(arc.get(), 5, nullptr));
  ASSERT_TRUE(v);
  EXPECT_NEAR(v->x, 3, 1e-9);
  EXPECT_NEAR(v->y, 4, 1e-9);
  Matrix line = Points({0, 0, 1, 1, 2, 2, 3, 3, 4, 4});
  for (double d : {0.3, 1.0, 2.2, 3.9, 5.6}) {
    Coord p(evec_SplinePointOfArc(line.get(), d, nullptr));
    ASSERT_TRUE(p);
    EXPECT_NEAR(p->x, d / std::sqrt(2.0), 1e-9) << d;
    EXPECT_NEAR(p->y, d / std::sqrt(2.0), 1e-9) << d;
  }
  // Repeated neighbour vertices do not break the spline.
  Matrix repeats = Points({0, 0, 0, 0, 1, 1, 2, 2, 2, 2});
  Coord r(evec_SplinePointOfArc(repeats.get(), 0.5 * std::sqrt(2.0), nullptr));
  ASSERT_TRUE(r);
  EXPECT_NEAR(r->x, 0.5, 1e-9);
  EXPECT_NEAR(r->y, 0.5, 1e-9);
}

TEST(EvecPointOfArc, BadInputIsReported) {
  Matrix arc = Points({0, 0, 3, 4, 3, 10});
  Matrix two = Points({0, 0, 3, 4});
  ErrorSlot err;
  for (double d : {0.0, -1.0, 11.0, 12.0, double(NAN)}) {
    EXPECT_EQ(evec_DensifyPointOfArc(arc.get(), d, &err), nullptr);
    ExpectReport(err, "evec_DensifyPointOfArc", 2, "Invalid input location");
    EXPECT_EQ(evec_SplinePointOfArc(arc.get(), d, &err), nullptr);
    ExpectReport(err, "evec_SplinePointOfArc", 2, "Invalid input location");
  }
  EXPECT_EQ(evec_DensifyPointOfArc(nullptr, 1, &err), nullptr);
  ExpectReport(err, "evec_DensifyPointOfArc", 1, "Invalid input arc");
  EXPECT_EQ(evec_SplinePointOfArc(two.get(), 1, &err), nullptr);
  ExpectReport(err, "evec_SplinePointOfArc", 1, "Invalid input arc");
  Coord ok(evec_DensifyPointOfArc(two.get(), 1, &err));
  EXPECT_TRUE(ok);

  SweepMade([&](Eerr_ErrorReport **e) { return evec_SplinePointOfArc(arc.get(), 6, e); },
            [](Evec_Coord *c) { evec_CoordDelete(c, nullptr); }, "evec_SplinePointOfArc");
}

TEST(EvecDensifyArc, InsertsEvenlySpacedPoints) {
  struct Case {
    const char *name;
    std::vector<double> arc;
    double grain;
    std::vector<double> out;
  } cases[] = {
      {"length 10, grain 3", {0, 0, 10, 0}, 3, {0, 0, 2.5, 0, 5, 0, 7.5, 0, 10, 0}},
      {"length exactly 3", {0, 0, 3, 0}, 3, {0, 0, 3, 0}},
      {"per segment", {0, 0, 0, 4, 1, 4}, 3, {0, 0, 0, 2, 0, 4, 1, 4}},
      {"repeated vertices go", {0, 0, 0, 0, 4, 0, 4, 0}, 3, {0, 0, 2, 0, 4, 0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    MVS layer = Layer(c.grain);
    Matrix arc = Points(c.arc);
    ErrorSlot err;
    Matrix out(evec_DensifyArc(&layer, arc.get(), &err));
    ExpectNoReport(err);
    ExpectPoints(out.get(), c.out);
  }
}

TEST(EvecDensifyArc, BadInputIsReported) {
  Matrix arc = Points({0, 0, 10, 0});
  MVS zero = Layer(0), tiny = Layer(1e-300);
  ErrorSlot err;
  EXPECT_EQ(evec_DensifyArc(nullptr, arc.get(), &err), nullptr);
  ExpectReport(err, "evec_DensifyArc", 2, "Invalid grain tolerance");
  EXPECT_EQ(evec_DensifyArc(&zero, arc.get(), &err), nullptr);
  ExpectReport(err, "evec_DensifyArc", 2, "Invalid grain tolerance");
  EXPECT_EQ(evec_DensifyArc(&zero, nullptr, &err), nullptr);
  ExpectReport(err, "evec_DensifyArc", 1, "Invalid input arc");
  EXPECT_EQ(evec_DensifyArc(&tiny, arc.get(), &err), nullptr);
  ExpectReport(err, "evec_DensifyArc", 3, "Error returned from efga_MatrixCreate");
}

TEST(EvecDivideEllipse, ClosedPolygonsOfWholeDegreeSteps) {
  Matrix box = Box(-4, -2, 4, 2);
  ErrorSlot err;
  Matrix octagon(evec_DivideEllipseIntoAnArc(45, box.get(), &err));
  ASSERT_TRUE(octagon);
  EXPECT_EQ(octagon->columns, 9);
  EXPECT_EQ(X(octagon.get(), 0), X(octagon.get(), 8));
  EXPECT_EQ(Y(octagon.get(), 0), Y(octagon.get(), 8));
  EXPECT_NEAR(X(octagon.get(), 2), 0, 1e-6);
  EXPECT_NEAR(Y(octagon.get(), 2), 2, 1e-6);
  EXPECT_NEAR(X(octagon.get(), 4), -4, 1e-6);

  Matrix seven(evec_DivideEllipseIntoAnArc(7, box.get(), &err));
  ASSERT_TRUE(seven);
  EXPECT_EQ(seven->columns, 52);
  const double last = std::atan2(Y(seven.get(), 50) / 2, X(seven.get(), 50) / 4);
  EXPECT_NEAR(last, -10 * M_PI / 180, 1e-6); // 350 degrees, 10 short of the closing vertex
  EXPECT_EQ(X(seven.get(), 51), 4);
  EXPECT_EQ(Y(seven.get(), 51), 0);

  Matrix single(evec_DivideEllipseIntoAnArc(400, box.get(), &err));
  ASSERT_TRUE(single);
  EXPECT_EQ(single->columns, 1);
  for (int32_t step : {360, 0, -45}) {
    EXPECT_EQ(evec_DivideEllipseIntoAnArc(step, box.get(), &err), nullptr);
    ExpectNoReport(err);
  }
  Matrix three = Points({0, 0, 1, 1, 2, 2});
  EXPECT_EQ(evec_DivideEllipseIntoAnArc(45, three.get(), &err), nullptr);
  ExpectReport(err, "evec_DivideEllipseIntoAnArc", 2, "Invalid input ellipse");
  EXPECT_EQ(evec_DivideEllipseIntoAnArc(45, nullptr, &err), nullptr);
  ExpectReport(err, "evec_DivideEllipseIntoAnArc", 2, "Invalid input ellipse");
}

TEST(EvecJoinArcs, JoinsAtTheSharedEndInAsDirection) {
  struct Case {
    const char *name;
    std::vector<double> a, b, out;
  } cases[] = {
      {"first-first", {0, 0, 1, 0}, {0, 0, 0, 1, 0, 2}, {0, 2, 0, 1, 0, 0, 1, 0}},
      {"first-last", {0, 0, 1, 0}, {0, 2, 0, 1, 0, 0}, {0, 2, 0, 1, 0, 0, 1, 0}},
      {"last-first", {0, 0, 1, 0}, {1, 0, 2, 0, 3, 1}, {0, 0, 1, 0, 2, 0, 3, 1}},
      {"last-last", {0, 0, 1, 0}, {3, 1, 2, 0, 1, 0}, {0, 0, 1, 0, 2, 0, 3, 1}},
      {"both ends shared: first-first", {0, 0, 1, 0, 2, 0}, {0, 0, 1, 1, 2, 0},
       {2, 0, 1, 1, 0, 0, 1, 0, 2, 0}},
      {"both ends shared the other way: first-last", {0, 0, 1, 0, 2, 0}, {2, 0, 1, 1, 0, 0},
       {2, 0, 1, 1, 0, 0, 1, 0, 2, 0}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Matrix a = Points(c.a), b = Points(c.b);
    ErrorSlot err;
    Matrix out(evec_JoinArcs(nullptr, a.get(), b.get(), &err));
    ExpectNoReport(err);
    ExpectPoints(out.get(), c.out, 0);
  }
  const int64_t live = emsc_TestLiveBlocks();
  Matrix a = Points({0, 0, 1, 0}), b = Points({5, 5, 6, 6});
  ErrorSlot err;
  EXPECT_EQ(evec_JoinArcs(nullptr, a.get(), b.get(), &err), nullptr);
  ExpectReport(err, "evec_JoinArcs", 2, "Disjoint arcs may not be joined.");
  EXPECT_EQ(evec_JoinArcs(nullptr, a.get(), nullptr, &err), nullptr);
  ExpectReport(err, "evec_JoinArcs", 3, "Invalid input arc");
  a.reset();
  b.reset();
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

} // namespace
