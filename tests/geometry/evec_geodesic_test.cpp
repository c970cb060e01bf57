// Geodesic areas of longitude/latitude rings and regions, and lengths by Vincenty with its
// fallback.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "geometry_testing.h"
#include "taviron_testing.h"

namespace {

using namespace geotest;

constexpr double kA = 6378137.0, kB = 6356752.314245; // WGS 84
constexpr double kR = 6371000.0;                      // a sphere
constexpr double kDeg = 0.017453292519943295;

// The exact area, on a sphere of radius r, of a ring whose edges are straight in longitude and
// latitude (radians): r^2 |sum of the integrals of lon d(sin lat) along the edges|, by
// Gauss-Legendre quadrature in long double.
double ExactSphereArea(const std::vector<double> &lonLat, double r) {
  static const long double x[] = {0.1488743389816312L, 0.4333953941292472L, 0.6794095682990244L,
                                  0.8650633666889845L, 0.9739065285171717L};
  static const long double w[] = {0.2955242247147529L, 0.2692667193099963L, 0.2190863625159820L,
                                  0.1494513491505806L, 0.0666713443086881L};
  const std::size_t n = lonLat.size() / 2;
  long double sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const long double lon1 = lonLat[2 * i], lat1 = lonLat[2 * i + 1];
    const long double lon2 = lonLat[2 * ((i + 1) % n)], lat2 = lonLat[2 * ((i + 1) % n) + 1];
    long double edge = 0;
    for (int k = 0; k < 5; ++k)
      for (int sign : {-1, 1}) {
        const long double t = (1 + sign * x[k]) / 2;
        edge += w[k] / 2 * (lon1 + t * (lon2 - lon1)) * std::cos(lat1 + t * (lat2 - lat1));
      }
    sum += edge * (lat2 - lat1);
  }
  return static_cast<double>(std::fabs(sum) * r * r);
}

// The area of the ellipsoid between two parallels over a longitude span (radians).
double EllipsoidBand(double lat1, double lat2, double dlon) {
  const double e2 = 1 - (kB / kA) * (kB / kA), e = std::sqrt(e2);
  auto s = [&](double lat) {
    const double sn = std::sin(lat);
    return sn / (1 - e2 * sn * sn) + std::log((1 + e * sn) / (1 - e * sn)) / (2 * e);
  };
  return kB * kB / 2 * dlon * (s(lat2) - s(lat1));
}

std::vector<double> Scaled(std::vector<double> v, double factor) {
  for (double &x : v) x *= factor;
  return v;
}

TEST(EvecLLPolygonArea, SmallAndLargeRingsAgainstExactAreas) {
  struct Case {
    const char *name;
    std::vector<double> degrees; // lon, lat, ...
    double semiMinor, semiMajor, expected, tolerance;
  } cases[] = {
      // Measured in the projection (small rings).
      {"1x1 at the equator, sphere", {0, 0, 0, 1, 1, 1, 1, 0}, kR, kR,
       ExactSphereArea(Scaled({0, 0, 0, 1, 1, 1, 1, 0}, kDeg), kR), 1e-7},
      {"1x1 at 45, ellipsoid", {10, 45, 10, 46, 11, 46, 11, 45}, kB, kA,
       EllipsoidBand(45 * kDeg, 46 * kDeg, kDeg), 1e-7},
      {"80 wide at 60, ellipsoid", {0, 58, 0, 62, 80, 62, 80, 58}, kB, kA,
       EllipsoidBand(58 * kDeg, 62 * kDeg, 80 * kDeg), 1e-3},
      // Measured on the sphere (large rings).
      {"50 wide at the equator", {0, -5, 0, 5, 50, 5, 50, -5}, kR, kR,
       ExactSphereArea(Scaled({0, -5, 0, 5, 50, 5, 50, -5}, kDeg), kR), 1e-12},
      {"46 high", {0, 10, 0, 56, 10, 56, 10, 10}, kR, kR,
       ExactSphereArea(Scaled({0, 10, 0, 56, 10, 56, 10, 10}, kDeg), kR), 1e-12},
      {"slanted edges", {0, 0, 10, 40, 70, 50, 60, 5}, kR, kR,
       ExactSphereArea(Scaled({0, 0, 10, 40, 70, 50, 60, 5}, kDeg), kR), 1e-12},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Matrix degrees = Points(c.degrees), radians = Points(Scaled(c.degrees, kDeg));
    ErrorSlot err;
    const double area = evec_LLPolygonAreaCalculateTri(degrees.get(), 0, c.semiMinor, c.semiMajor, &err);
    ExpectNoReport(err);
    EXPECT_NEAR(area / c.expected, 1.0, c.tolerance) << area << " against " << c.expected;
    EXPECT_NEAR(evec_LLPolygonAreaCalculateTri(radians.get(), 1, c.semiMinor, c.semiMajor, &err),
                area, area * 1e-12);
  }
}

TEST(EvecLLPolygonArea, EdgesAlmostAlongAParallelStayAccurate) {
  // A large ring whose bottom edge rises by a few units of the last place, 1e-12 or 1e-6 radians:
  // the sum must follow the exact area instead of cancelling (a ring of about 1.2e13 m^2).
  const double lat1 = 10 * kDeg, lat2 = 30 * kDeg, lon2 = 50 * kDeg;
  for (double rise : {std::nextafter(lat1, 1.0) - lat1, 1e-12, 1e-6}) {
    SCOPED_TRACE(rise);
    const std::vector<double> ring{0, lat1, lon2, lat1 + rise, lon2, lat2, 0, lat2};
    Matrix m = Points(ring);
    ErrorSlot err;
    const double area = evec_LLPolygonAreaCalculateTri(m.get(), 1, kR, kR, &err);
    ExpectNoReport(err);
    const double exact = ExactSphereArea(ring, kR);
    EXPECT_GT(exact, 1e13);
    EXPECT_NEAR(area / exact, 1.0, 1e-12);
  }
  // Along a parallel exactly, the edge adds nothing.
  const std::vector<double> flat{0, lat1, lon2, lat1, lon2, lat2, 0, lat2};
  Matrix m = Points(flat);
  EXPECT_NEAR(evec_LLPolygonAreaCalculateTri(m.get(), 1, kR, kR, nullptr) /
                  (kR * kR * lon2 * (std::sin(lat2) - std::sin(lat1))),
              1.0, 1e-14);
}

TEST(EvecLLPolygonArea, ProjectionFailureIsReported) {
  // A longitude that is not finite cannot be projected: the area is not the sum reached so far
  // without a word.
  Matrix ring = Points({0, 0, 0, 1, std::numeric_limits<double>::quiet_NaN(), 1, 1, 0});
  ErrorSlot err;
  evec_LLPolygonAreaCalculateTri(ring.get(), 0, kB, kA, &err);
  ExpectReport(err, "evec_LLPolygonAreaCalculateTri", 3, "Error returned from GeographicPolygonArea");
  const Eerr_ErrorReport *inner = err.get()->next;
  ASSERT_NE(inner, nullptr);
  EXPECT_STREQ(inner->reporter, "GeographicPolygonArea");
  EXPECT_STREQ(inner->message, "GeographicToEqualArea failed");
  ASSERT_NE(inner->next, nullptr);
  EXPECT_STREQ(inner->next->message, "eprj_Adjl failed");
}

TEST(EvecLLPolygonArea, InvalidRingsAndAllocation) {
  Matrix twoPoints = Points({0, 0, 1, 1});
  ErrorSlot err;
  EXPECT_EQ(evec_LLPolygonAreaCalculateTri(nullptr, 0, kB, kA, &err), 0);
  ExpectReport(err, "evec_LLPolygonAreaCalculateTri", 1, "Invalid input polygon");
  EXPECT_EQ(evec_LLPolygonAreaCalculateTri(twoPoints.get(), 0, kB, kA, &err), 0);
  ExpectReport(err, "evec_LLPolygonAreaCalculateTri", 1, "Invalid input polygon");
  Matrix ring = Points({0, 0, 0, 1, 1, 1});
  for (int n : {1, 2}) {
    taviron::testing::FailAllocation fail(n);
    EXPECT_EQ(evec_LLPolygonAreaCalculateTri(ring.get(), 0, kB, kA, &err), 0);
    ExpectReport(err, "evec_LLPolygonAreaCalculateTri", 2, "Cannot allocate space");
  }
}

TEST(EvecLLRegionArea, RingsAlternateInSign) {
  const std::vector<double> outer{0, 0, 0, 10, 10, 10, 10, 0}, hole{2, 2, 2, 4, 4, 4, 4, 2},
                            island{3, 3, 3, 3.5, 3.5, 3.5, 3.5, 3};
  Matrix o = Points(outer), h = Points(hole), i = Points(island);
  const double ao = evec_LLPolygonAreaCalculateTri(o.get(), 0, kB, kA, nullptr);
  const double ah = evec_LLPolygonAreaCalculateTri(h.get(), 0, kB, kA, nullptr);
  const double ai = evec_LLPolygonAreaCalculateTri(i.get(), 0, kB, kA, nullptr);
  ErrorSlot err;
  Block withHole = Parts({outer, hole});
  const double region = evec_LLRegionAreaCalculate(withHole.get(), 0, kB, kA, &err);
  ExpectNoReport(err);
  EXPECT_LT(region, ao);
  EXPECT_DOUBLE_EQ(region, ao - ah);
  Block three = Parts({outer, hole, island});
  EXPECT_DOUBLE_EQ(evec_LLRegionAreaCalculate(three.get(), 0, kB, kA, &err), ao - ah + ai);

  Block broken = Parts({outer, {0, 0, 1, 1}});
  EXPECT_DOUBLE_EQ(evec_LLRegionAreaCalculate(broken.get(), 0, kB, kA, &err), ao);
  ExpectReport(err, "evec_LLRegionAreaCalculate", 2, "Error from evec_LLPolygonAreaCalculateTri");
  Block empty = Parts({});
  EXPECT_EQ(evec_LLRegionAreaCalculate(empty.get(), 0, kB, kA, &err), 0);
  ExpectReport(err, "evec_LLRegionAreaCalculate", 1, "Invalid input region");
}

TEST(EvecLLPerimeter, VincentyFallbackAndDegenerateLines) {
  ErrorSlot err;
  // The classic test line of the inverse formula: 54972.271 m.
  const double lat1 = -(37 + 57 / 60.0 + 3.72030 / 3600), lon1 = 144 + 25 / 60.0 + 29.52440 / 3600;
  const double lat2 = -(37 + 39 / 60.0 + 10.15610 / 3600), lon2 = 143 + 55 / 60.0 + 35.38390 / 3600;
  Matrix line = Points({lon1, lat1, lon2, lat2});
  EXPECT_NEAR(evec_LLPolyPerimeterCalculate(line.get(), 0, 0, kB, kA, &err), 54972.271, 1e-3);
  EXPECT_NEAR(evec_LLPolyPerimeterCalculate(line.get(), 1, 0, kB, kA, &err), 2 * 54972.271, 2e-3);
  ExpectNoReport(err);

  // A sphere: the central angle times the radius.
  Matrix quarter = Points({0, 0, 90, 0, 90, 90});
  EXPECT_NEAR(evec_LLPolyPerimeterCalculate(quarter.get(), 1, 0, kR, kR, &err), 3 * M_PI / 2 * kR, 1e-6);

  // Nearly antipodal points do not converge: the approximate formula measures the line, without
  // a report.
  Matrix antipodal = Points({0, 0, 179.7, 0.2});
  const double far = evec_LLPolyPerimeterCalculate(antipodal.get(), 0, 0, kB, kA, &err);
  ExpectNoReport(err);
  EXPECT_GT(far, 19.9e6);
  EXPECT_LT(far, 20.1e6);

  struct Degenerate {
    std::vector<double> points;
    int32_t closed;
  } degenerate[] = {{{3, 4}, 1}, {{3, 4}, 0}, {{3, 4, 3, 4}, 1}};
  for (const Degenerate &d : degenerate) {
    Matrix m = Points(d.points);
    EXPECT_EQ(evec_LLPolyPerimeterCalculate(m.get(), d.closed, 0, kB, kA, &err), 0);
    ExpectNoReport(err);
  }
  EXPECT_EQ(evec_LLPolyPerimeterCalculate(nullptr, 0, 0, kB, kA, &err), 0);
  ExpectReport(err, "evec_LLPolyPerimeterCalculate", 1, "Invalid input poly");
}

} // namespace
