// The hot geometry paths against Boost.Geometry on the same data, in one program:
// point-in-polygon (a million points against a 1000-vertex polygon), segment intersection (all
// pairs of 1000 segments), weeding and generalising a noisy line of 100000 vertices, and
// densifying. Each pair of benchmarks reports the same counters, so the times compare directly,
// and a table of ratios ours / Boost ends the output (CPU times; run with
// --benchmark_repetitions=N --benchmark_enable_random_interleaving=true for medians of
// interleaved runs).
#include <benchmark/benchmark.h>

#include <boost/geometry/geometry.hpp>

#include <cmath>
#include <random>
#include <vector>

#include "eevg_bench_report.h"
#include "evec.h"

namespace {

namespace bg = boost::geometry;
using BPoint = bg::model::d2::point_xy<double>;
using BPolygon = bg::model::polygon<BPoint, true, true>; // clockwise, closed
using BSegment = bg::model::segment<BPoint>;
using BLine = bg::model::linestring<BPoint>;

Egda_BaseData *Matrix(const std::vector<double> &xy) {
  const auto n = static_cast<int32_t>(xy.size() / 2);
  Egda_BaseData *m = egda_BaseDataCreate(2, n, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  std::copy(xy.begin(), xy.end(), reinterpret_cast<double *>(m->origin));
  return m;
}

BLine Line(const std::vector<double> &xy) {
  BLine line;
  for (std::size_t j = 0; j + 1 < xy.size(); j += 2) line.emplace_back(xy[j], xy[j + 1]);
  return line;
}

// ---- Point in polygon ---------------------------------------------------------------------------

constexpr int kPolygonVertices = 1000;
constexpr int kQueryPoints = 1000000;

// A concave star of 1000 vertices, clockwise with y up, and the first vertex repeated at the end.
std::vector<double> Star() {
  std::vector<double> xy;
  for (int i = 0; i < kPolygonVertices; ++i) {
    const double angle = -2 * M_PI * i / kPolygonVertices;
    const double radius = i % 2 ? 60.0 : 100.0;
    xy.push_back(radius * std::cos(angle));
    xy.push_back(radius * std::sin(angle));
  }
  xy.push_back(xy[0]);
  xy.push_back(xy[1]);
  return xy;
}

std::vector<Evec_Coord> QueryPoints() {
  std::mt19937 engine(42);
  std::uniform_real_distribution<double> coordinate(-110, 110);
  std::vector<Evec_Coord> points(kQueryPoints);
  for (Evec_Coord &p : points) p = {coordinate(engine), coordinate(engine)};
  return points;
}

void BM_PointInPolygon_Evec(benchmark::State &state) {
  Egda_BaseData *polygon = Matrix(Star());
  const std::vector<Evec_Coord> points = QueryPoints();
  int64_t inside = 0;
  for (auto _ : state) {
    inside = 0;
    for (const Evec_Coord &p : points) inside += evec_CoordInsideConcavePolygon(&p, polygon, nullptr);
    benchmark::DoNotOptimize(inside);
  }
  state.counters["inside"] = static_cast<double>(inside);
  state.SetItemsProcessed(state.iterations() * kQueryPoints);
  egda_BaseDataDelete(polygon, nullptr);
}
BENCHMARK(BM_PointInPolygon_Evec)->Unit(benchmark::kMillisecond);

void BM_PointInPolygon_Boost(benchmark::State &state) {
  const std::vector<double> xy = Star();
  BPolygon polygon;
  for (std::size_t j = 0; j < xy.size(); j += 2) polygon.outer().emplace_back(xy[j], xy[j + 1]);
  const std::vector<Evec_Coord> points = QueryPoints();
  int64_t inside = 0;
  for (auto _ : state) {
    inside = 0;
    for (const Evec_Coord &p : points) inside += bg::within(BPoint(p.x, p.y), polygon) ? 1 : 0;
    benchmark::DoNotOptimize(inside);
  }
  state.counters["inside"] = static_cast<double>(inside);
  state.SetItemsProcessed(state.iterations() * kQueryPoints);
}
BENCHMARK(BM_PointInPolygon_Boost)->Unit(benchmark::kMillisecond);

// ---- Segment intersection -----------------------------------------------------------------------

constexpr int kSegments = 1000;

std::vector<double> RandomSegments() {
  std::mt19937 engine(7);
  std::uniform_real_distribution<double> coordinate(0, 100);
  std::vector<double> xy(4 * kSegments);
  for (double &v : xy) v = coordinate(engine);
  return xy;
}

void BM_SegmentIntersection_Evec(benchmark::State &state) {
  const std::vector<double> xy = RandomSegments();
  std::vector<Egda_BaseData *> segments;
  for (int i = 0; i < kSegments; ++i)
    segments.push_back(Matrix({xy.begin() + 4 * i, xy.begin() + 4 * i + 4}));
  int64_t crossings = 0;
  for (auto _ : state) {
    crossings = 0;
    for (Egda_BaseData *a : segments)
      for (Egda_BaseData *b : segments) {
        Evec_Coord at;
        crossings += evec_IntersectSegments(a, b, &at, nullptr) == 5;
      }
    benchmark::DoNotOptimize(crossings);
  }
  state.counters["crossings"] = static_cast<double>(crossings);
  state.SetItemsProcessed(state.iterations() * kSegments * kSegments);
  for (Egda_BaseData *s : segments) egda_BaseDataDelete(s, nullptr);
}
BENCHMARK(BM_SegmentIntersection_Evec)->Unit(benchmark::kMillisecond);

void BM_SegmentIntersection_Boost(benchmark::State &state) {
  const std::vector<double> xy = RandomSegments();
  std::vector<BSegment> segments;
  for (int i = 0; i < kSegments; ++i)
    segments.emplace_back(BPoint(xy[4 * i], xy[4 * i + 1]), BPoint(xy[4 * i + 2], xy[4 * i + 3]));
  int64_t crossings = 0;
  for (auto _ : state) {
    crossings = 0;
    for (const BSegment &a : segments)
      for (const BSegment &b : segments) crossings += bg::intersects(a, b) ? 1 : 0;
    benchmark::DoNotOptimize(crossings);
  }
  // Boost counts a segment against itself (and collinear overlaps), which evec classes as 0.
  state.counters["crossings"] = static_cast<double>(crossings);
  state.SetItemsProcessed(state.iterations() * kSegments * kSegments);
}
BENCHMARK(BM_SegmentIntersection_Boost)->Unit(benchmark::kMillisecond);

// ---- Weeding and generalising -------------------------------------------------------------------

constexpr int kLineVertices = 100000;

// A wavy line with noise: 100000 vertices 0.1 apart along x.
std::vector<double> NoisyLine() {
  std::mt19937 engine(3);
  std::normal_distribution<double> noise(0, 0.05);
  std::vector<double> xy;
  for (int j = 0; j < kLineVertices; ++j) {
    const double x = 0.1 * j;
    xy.push_back(x + noise(engine));
    xy.push_back(20 * std::sin(x / 50) + noise(engine));
  }
  return xy;
}

constexpr double kWeedTolerance = 0.5;

void BM_Weed_Evec(benchmark::State &state) {
  Egda_BaseData *line = Matrix(NoisyLine());
  MVS layer{};
  layer.weed = kWeedTolerance;
  int32_t kept = 0;
  for (auto _ : state) {
    Egda_BaseData *weeded = evec_WeedArc(&layer, line, nullptr);
    kept = weeded->columns;
    egda_BaseDataDelete(weeded, nullptr);
  }
  state.counters["kept"] = kept;
  state.SetItemsProcessed(state.iterations() * kLineVertices);
  egda_BaseDataDelete(line, nullptr);
}
BENCHMARK(BM_Weed_Evec)->Unit(benchmark::kMillisecond);

void BM_Generalize_Evec(benchmark::State &state) {
  Egda_BaseData *line = Matrix(NoisyLine());
  MVS layer{};
  layer.weed = kWeedTolerance;
  int32_t kept = 0;
  for (auto _ : state) {
    Egda_BaseData *general = evec_GeneralizeArc(&layer, line, nullptr);
    kept = general->columns;
    egda_BaseDataDelete(general, nullptr);
  }
  state.counters["kept"] = kept;
  state.SetItemsProcessed(state.iterations() * kLineVertices);
  egda_BaseDataDelete(line, nullptr);
}
BENCHMARK(BM_Generalize_Evec)->Unit(benchmark::kMillisecond);

void BM_Simplify_Boost(benchmark::State &state) {
  const BLine line = Line(NoisyLine());
  std::size_t kept = 0;
  for (auto _ : state) {
    BLine simplified;
    bg::simplify(line, simplified, kWeedTolerance);
    kept = simplified.size();
    benchmark::DoNotOptimize(simplified.data());
  }
  state.counters["kept"] = static_cast<double>(kept);
  state.SetItemsProcessed(state.iterations() * kLineVertices);
}
BENCHMARK(BM_Simplify_Boost)->Unit(benchmark::kMillisecond);

// ---- Densifying ---------------------------------------------------------------------------------

constexpr double kGrain = 0.5;

// 10000 vertices, segments of 0.1 to 5 units.
std::vector<double> CoarseLine() {
  std::mt19937 engine(5);
  std::uniform_real_distribution<double> step(0.1, 5), turn(-0.5, 0.5);
  std::vector<double> xy{0, 0};
  double heading = 0;
  for (int j = 1; j < 10000; ++j) {
    heading += turn(engine);
    const double s = step(engine);
    xy.push_back(xy[xy.size() - 2] + s * std::cos(heading));
    xy.push_back(xy[xy.size() - 2] + s * std::sin(heading));
  }
  return xy;
}

void BM_Densify_Evec(benchmark::State &state) {
  Egda_BaseData *line = Matrix(CoarseLine());
  MVS layer{};
  layer.grain = kGrain;
  int32_t points = 0;
  for (auto _ : state) {
    Egda_BaseData *dense = evec_DensifyArc(&layer, line, nullptr);
    points = dense->columns;
    egda_BaseDataDelete(dense, nullptr);
  }
  state.counters["points"] = points;
  state.SetItemsProcessed(state.iterations() * line->columns);
  egda_BaseDataDelete(line, nullptr);
}
BENCHMARK(BM_Densify_Evec)->Unit(benchmark::kMillisecond);

void BM_Densify_Boost(benchmark::State &state) {
  const BLine line = Line(CoarseLine());
  std::size_t points = 0;
  for (auto _ : state) {
    BLine dense;
    bg::densify(line, dense, kGrain);
    points = dense.size();
    benchmark::DoNotOptimize(dense.data());
  }
  state.counters["points"] = static_cast<double>(points);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(line.size()));
}
BENCHMARK(BM_Densify_Boost)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  return taviron::bench::RunWithRatios(
      argc, argv, {"boost"},
      {{"point in polygon", "BM_PointInPolygon_Evec", {"BM_PointInPolygon_Boost"}},
       {"segment pairs", "BM_SegmentIntersection_Evec", {"BM_SegmentIntersection_Boost"}},
       {"generalise", "BM_Generalize_Evec", {"BM_Simplify_Boost"}},
       {"densify", "BM_Densify_Evec", {"BM_Densify_Boost"}}},
      {"Boost.Geometry", true});
}
