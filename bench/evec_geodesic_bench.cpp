// Geodesic ring areas and line lengths on WGS 84 beside GeographicLib, in one program: a small
// ring (measured in the equal-area projection), a large ring (the sphere integral) and a line of
// 1000 vertices. Each area benchmark also reports its relative difference from the exact area
// of the same ring with edges straight in longitude and latitude (the edges the library
// measures); GeographicLib measures geodesic edges, so its difference is by design.
#include <benchmark/benchmark.h>

#include <GeographicLib/Geodesic.hpp>
#include <GeographicLib/PolygonArea.hpp>

#include <cmath>
#include <random>
#include <vector>

#include "evec.h"

namespace {

constexpr double kA = 6378137.0, kB = 6356752.314245;
constexpr double kDeg = 0.017453292519943295;

// A star-shaped ring of n vertices (degrees: lon, lat) around (lon0, lat0), clockwise.
std::vector<double> Ring(double lon0, double lat0, double rLon, double rLat, int n) {
  std::mt19937 engine(11);
  std::uniform_real_distribution<double> wobble(0.8, 1.0);
  std::vector<double> xy;
  for (int i = 0; i < n; ++i) {
    const double t = -2 * M_PI * i / n;
    const double s = wobble(engine);
    xy.push_back(lon0 + s * rLon * std::cos(t));
    xy.push_back(lat0 + s * rLat * std::sin(t));
  }
  return xy;
}

// The exact area on the ellipsoid of a ring whose edges are straight in longitude and latitude:
// |sum over the edges of the integral of lon dA/dlon|, dA = a^2 (1 - e^2) cos(lat) /
// (1 - e^2 sin^2 lat)^2 dlon dlat, by 20-point Gauss-Legendre quadrature in long double.
double ExactArea(const std::vector<double> &xy) {
  static const long double x[] = {0.0765265211334973L, 0.2277858511416451L, 0.3737060887154195L,
                                  0.5108670019508271L, 0.6360536807265150L, 0.7463319064601508L,
                                  0.8391169718222188L, 0.9122344282513259L, 0.9639719272779138L,
                                  0.9931285991850949L};
  static const long double w[] = {0.1527533871307258L, 0.1491729864726037L, 0.1420961093183820L,
                                  0.1316886384491766L, 0.1181945319615184L, 0.1019301198172404L,
                                  0.0832767415767048L, 0.0626720483341091L, 0.0406014298003869L,
                                  0.0176140071391521L};
  const long double e2 = 1 - (long double)(kB / kA) * (kB / kA);
  const std::size_t n = xy.size() / 2;
  long double sum = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const long double lon1 = xy[2 * i] * kDeg, lat1 = xy[2 * i + 1] * kDeg;
    const long double lon2 = xy[2 * ((i + 1) % n)] * kDeg, lat2 = xy[2 * ((i + 1) % n) + 1] * kDeg;
    long double edge = 0;
    for (int k = 0; k < 10; ++k)
      for (int sign : {-1, 1}) {
        const long double t = (1 + sign * x[k]) / 2;
        const long double lat = lat1 + t * (lat2 - lat1), s = std::sin(lat);
        const long double q = 1 - e2 * s * s;
        edge += w[k] / 2 * (lon1 + t * (lon2 - lon1)) * std::cos(lat) / (q * q);
      }
    sum += edge * (lat2 - lat1);
  }
  return static_cast<double>(std::fabs(sum) * kA * kA * (1 - e2));
}

Egda_BaseData *Matrix(const std::vector<double> &xy) {
  const auto n = static_cast<int32_t>(xy.size() / 2);
  Egda_BaseData *m = egda_BaseDataCreate(2, n, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  std::copy(xy.begin(), xy.end(), reinterpret_cast<double *>(m->origin));
  return m;
}

const std::vector<double> &SmallRing() {
  static const std::vector<double> ring = Ring(10, 45, 0.5, 0.4, 100);
  return ring;
}
const std::vector<double> &LargeRing() {
  static const std::vector<double> ring = Ring(20, 30, 40, 25, 100);
  return ring;
}
const std::vector<double> &Line() {
  static const std::vector<double> line = [] {
    std::mt19937 engine(4);
    std::uniform_real_distribution<double> step(-0.05, 0.05);
    std::vector<double> xy{5, 50};
    for (int i = 1; i < 1000; ++i) {
      xy.push_back(xy[xy.size() - 2] + step(engine) + 0.02);
      xy.push_back(xy[xy.size() - 2] + step(engine));
    }
    return xy;
  }();
  return line;
}

void OursArea(benchmark::State &state, const std::vector<double> &ring) {
  Egda_BaseData *m = Matrix(ring);
  double area = 0;
  for (auto _ : state) {
    area = evec_LLPolygonAreaCalculateTri(m, 0, kB, kA, nullptr);
    benchmark::DoNotOptimize(area);
  }
  const double exact = ExactArea(ring);
  state.counters["area_m2"] = area;
  state.counters["rel_diff_from_exact"] = std::fabs(area - exact) / exact;
  egda_BaseDataDelete(m, nullptr);
}

void GeographicLibArea(benchmark::State &state, const std::vector<double> &ring) {
  const GeographicLib::Geodesic geodesic(kA, (kA - kB) / kA);
  double area = 0;
  for (auto _ : state) {
    GeographicLib::PolygonArea polygon(geodesic);
    for (std::size_t i = 0; i < ring.size(); i += 2) polygon.AddPoint(ring[i + 1], ring[i]);
    double perimeter;
    polygon.Compute(false, true, perimeter, area);
    benchmark::DoNotOptimize(area);
  }
  const double exact = ExactArea(ring);
  state.counters["area_m2"] = std::fabs(area);
  state.counters["rel_diff_from_exact"] = std::fabs(std::fabs(area) - exact) / exact;
}

void BM_SmallRingArea_Taviron(benchmark::State &state) { OursArea(state, SmallRing()); }
void BM_SmallRingArea_GeographicLib(benchmark::State &state) { GeographicLibArea(state, SmallRing()); }
void BM_LargeRingArea_Taviron(benchmark::State &state) { OursArea(state, LargeRing()); }
void BM_LargeRingArea_GeographicLib(benchmark::State &state) { GeographicLibArea(state, LargeRing()); }

void BM_LinePerimeter_Taviron(benchmark::State &state) {
  Egda_BaseData *m = Matrix(Line());
  double length = 0;
  for (auto _ : state) {
    length = evec_LLPolyPerimeterCalculate(m, 0, 0, kB, kA, nullptr);
    benchmark::DoNotOptimize(length);
  }
  state.counters["length_m"] = length;
  egda_BaseDataDelete(m, nullptr);
}

void BM_LinePerimeter_GeographicLib(benchmark::State &state) {
  const GeographicLib::Geodesic geodesic(kA, (kA - kB) / kA);
  const std::vector<double> &xy = Line();
  double length = 0;
  for (auto _ : state) {
    length = 0;
    for (std::size_t i = 2; i < xy.size(); i += 2) {
      double s;
      geodesic.Inverse(xy[i - 1], xy[i - 2], xy[i + 1], xy[i], s);
      length += s;
    }
    benchmark::DoNotOptimize(length);
  }
  state.counters["length_m"] = length;
}

BENCHMARK(BM_SmallRingArea_Taviron);
BENCHMARK(BM_SmallRingArea_GeographicLib);
BENCHMARK(BM_LargeRingArea_Taviron);
BENCHMARK(BM_LargeRingArea_GeographicLib);
BENCHMARK(BM_LinePerimeter_Taviron);
BENCHMARK(BM_LinePerimeter_GeographicLib);

} // namespace
