// The spatial cache beside Boost.Geometry's rtree and libspatialindex's R*-tree, in one program:
// inserting 1e6 points and 2e5 polylines of 10 vertices (each index keeps a copy of the
// coordinates, as the cache does), and 1e4 box queries on each. The cache runs twice: with the
// default memory limit (everything in memory) and with a limit of 8 MB, which moves its records
// to the overflow store on disk. A cache query answers the numbers of the tree's nodes that meet
// the box; the benchmark keeps those whose box meets it, as a caller does, so every index
// reports the same hits.
//
// A second pair runs as a vector layer's reader queries its cache: 1e5 small box queries over
// 1e6 polygon boxes, through the flat functions, handing out every number of the query's tree
// phase and fetching each number's box to keep the hits; Boost.Geometry's rtree answers the same
// queries, and both report the numbers handed out and the hits (which must agree). A ratio table,
// ours over the peers, ends the output (CPU times; run with --benchmark_repetitions=N
// --benchmark_enable_random_interleaving=true for medians of interleaved runs).
#include <benchmark/benchmark.h>

#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>
#include <spatialindex/SpatialIndex.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "SpatialCache.h"
#include "eevg_bench_report.h"
#include "eprf.h"
#include "evec.h"

namespace {

namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;
namespace si = SpatialIndex;
using BPoint = bg::model::point<double, 2, bg::cs::cartesian>;
using BBoxB = bg::model::box<BPoint>;

constexpr int kPoints = 1000000, kLines = 200000, kVertices = 10, kQueries = 10000;
constexpr double kWorld = 100000, kQuerySize = 1000;

// ---- Data -----------------------------------------------------------------------------------------

const std::vector<double> &PointData() {
  static const std::vector<double> xy = [] {
    std::mt19937 engine(1);
    std::uniform_real_distribution<double> c(0, kWorld);
    std::vector<double> v(2 * kPoints);
    for (double &x : v) x = c(engine);
    return v;
  }();
  return xy;
}

// kLines random walks of kVertices points, kVertices * 2 values each.
const std::vector<double> &LineData() {
  static const std::vector<double> xy = [] {
    std::mt19937 engine(2);
    std::uniform_real_distribution<double> c(0, kWorld - 200), step(0, 20);
    std::vector<double> v;
    v.reserve(2 * kLines * kVertices);
    for (int i = 0; i < kLines; ++i) {
      double x = c(engine), y = c(engine);
      for (int k = 0; k < kVertices; ++k) {
        v.push_back(x += step(engine));
        v.push_back(y += step(engine));
      }
    }
    return v;
  }();
  return xy;
}

struct Box4 {
  double x1, y1, x2, y2;
};

Box4 LineBox(int i) {
  const double *p = LineData().data() + std::size_t(i) * 2 * kVertices;
  Box4 b{p[0], p[1], p[0], p[1]};
  for (int k = 1; k < kVertices; ++k) {
    b.x1 = std::min(b.x1, p[2 * k]);
    b.x2 = std::max(b.x2, p[2 * k]);
    b.y1 = std::min(b.y1, p[2 * k + 1]);
    b.y2 = std::max(b.y2, p[2 * k + 1]);
  }
  return b;
}

const std::vector<Box4> &Queries() {
  static const std::vector<Box4> boxes = [] {
    std::mt19937 engine(3);
    std::uniform_real_distribution<double> c(0, kWorld - kQuerySize);
    std::vector<Box4> v(kQueries);
    for (Box4 &b : v) {
      b.x1 = c(engine);
      b.y1 = c(engine);
      b.x2 = b.x1 + kQuerySize;
      b.y2 = b.y1 + kQuerySize;
    }
    return v;
  }();
  return boxes;
}

// ---- The spatial cache ---------------------------------------------------------------------------

// Sets the preference "vector"/"memcache_limit" (null: unset, the default of 1024 MB) for the
// caches made from now on.
void SetLimit(const char *megabytes) {
  static const std::string dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "scbenchXXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    return pattern;
  }();
  static const bool cleaned = [] { return std::atexit([] { std::filesystem::remove_all(dir); }) == 0; }();
  (void)cleaned;
  std::ofstream file(dir + "/preferences.prf");
  if (megabytes) file << "vector/memcache_limit = " << megabytes << "\n";
  file.close();
  setenv("NORIX_PREFERENCES_PATH", dir.c_str(), 1);
  eprf_DefaultDatabaseTerminate();
  SpatialCacheBase::ForgetMemoryLimits();
}

Evec_SpatialCache *NewCache(bool lines) {
  Egda_BaseData *box = egda_BaseDataCreate(2, 2, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  reinterpret_cast<double *>(box->origin)[2] = kWorld;
  reinterpret_cast<double *>(box->origin)[3] = kWorld;
  MVS layer{0, box, 0, 0};
  Evec_SpatialCache *cache =
      lines ? evec_SpatialCacheCreateArc(&layer, nullptr) : evec_SpatialCacheCreatePoint(&layer, nullptr);
  egda_BaseDataDelete(box, nullptr);
  return cache;
}

void FillPoints(Evec_SpatialCache *cache) {
  Egda_BaseData *p = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  auto *v = reinterpret_cast<double *>(p->origin);
  const std::vector<double> &xy = PointData();
  for (int i = 0; i < kPoints; ++i) {
    v[0] = xy[2 * i];
    v[1] = xy[2 * i + 1];
    evec_SpatialCacheIndexPoint(cache, i + 1, 1, p);
  }
  egda_BaseDataDelete(p, nullptr);
}

void FillLines(Evec_SpatialCache *cache) {
  Efga_CoordinateBlock *block = efga_BaseCoordBlockCreate(2, kVertices, 1, EGDA_TYPE_F64, nullptr);
  Egda_BaseData *bbox = evec_BboxCreate(nullptr);
  auto *v = reinterpret_cast<double *>(block->parts[0]->origin);
  auto *b = reinterpret_cast<double *>(bbox->origin);
  for (int i = 0; i < kLines; ++i) {
    std::copy_n(LineData().data() + std::size_t(i) * 2 * kVertices, 2 * kVertices, v);
    const Box4 box = LineBox(i);
    b[0] = box.x1, b[1] = box.y1, b[2] = box.x2, b[3] = box.y2;
    evec_SpatialCacheIndexArc(cache, i + 1, 1, bbox, block);
  }
  evec_BboxDelete(bbox, nullptr);
  efga_CoordBlockDelete(block, nullptr);
}

template <class T> int64_t QueryCache(Evec_SpatialCache *handle) {
  auto *cache = static_cast<SpatialCache<T> *>(reinterpret_cast<SpatialCacheBase *>(handle));
  int64_t hits = 0;
  for (const Box4 &q : Queries()) {
    BBox box(q.x1, q.y1, q.x2, q.y2);
    std::unique_ptr<SpatialCacheQuery> query(cache->Begin(box, 0));
    BBox feature;
    while (!query->treeDone) {
      const int32_t n = cache->GetNext(query.get());
      if (cache->GetBox(n, feature) && box.Intersects(&feature)) ++hits;
    }
  }
  return hits;
}

bool Spilled(Evec_SpatialCache *handle, bool lines) {
  auto *base = reinterpret_cast<SpatialCacheBase *>(handle);
  return lines ? static_cast<SpatialCache<Efga_CoordinateBlock> *>(base)->Spilled()
               : static_cast<SpatialCache<Egda_BaseData> *>(base)->Spilled();
}

void InsertCache(benchmark::State &state, bool lines, const char *limit) {
  SetLimit(limit);
  for (auto _ : state) {
    Evec_SpatialCache *cache = NewCache(lines);
    lines ? FillLines(cache) : FillPoints(cache);
    state.PauseTiming();
    state.counters["spilled"] = Spilled(cache, lines) ? 1 : 0;
    evec_SpatialCacheDeletePoint(cache);
    state.ResumeTiming();
  }
  SetLimit(nullptr);
}

void QueryCacheBench(benchmark::State &state, bool lines, const char *limit) {
  SetLimit(limit);
  Evec_SpatialCache *cache = NewCache(lines);
  lines ? FillLines(cache) : FillPoints(cache);
  int64_t hits = 0;
  for (auto _ : state)
    hits = lines ? QueryCache<Efga_CoordinateBlock>(cache) : QueryCache<Egda_BaseData>(cache);
  state.counters["hits"] = static_cast<double>(hits);
  state.counters["spilled"] = Spilled(cache, lines) ? 1 : 0;
  evec_SpatialCacheDeletePoint(cache);
  SetLimit(nullptr);
}

// ---- Boost.Geometry ------------------------------------------------------------------------------

using PointTree = bgi::rtree<std::pair<BPoint, uint32_t>, bgi::quadratic<16>>;
using BoxTree = bgi::rtree<std::pair<BBoxB, uint32_t>, bgi::quadratic<16>>;

// An rtree of the lines' boxes beside a copy of their coordinates.
struct BoostLines {
  BoxTree tree;
  std::vector<std::vector<double>> coordinates;
};

std::unique_ptr<PointTree> BoostPoints() {
  auto tree = std::make_unique<PointTree>();
  const std::vector<double> &xy = PointData();
  for (int i = 0; i < kPoints; ++i) tree->insert({BPoint(xy[2 * i], xy[2 * i + 1]), i + 1});
  return tree;
}

std::unique_ptr<BoostLines> BoostLinesBuild() {
  auto lines = std::make_unique<BoostLines>();
  lines->coordinates.reserve(kLines);
  for (int i = 0; i < kLines; ++i) {
    const double *p = LineData().data() + std::size_t(i) * 2 * kVertices;
    lines->coordinates.emplace_back(p, p + 2 * kVertices);
    const Box4 b = LineBox(i);
    lines->tree.insert({BBoxB(BPoint(b.x1, b.y1), BPoint(b.x2, b.y2)), i + 1});
  }
  return lines;
}

template <class Tree> int64_t QueryBoost(const Tree &tree) {
  int64_t hits = 0;
  for (const Box4 &q : Queries()) {
    const BBoxB box(BPoint(q.x1, q.y1), BPoint(q.x2, q.y2));
    for (auto it = tree.qbegin(bgi::intersects(box)); it != tree.qend(); ++it) ++hits;
  }
  return hits;
}

// ---- libspatialindex -----------------------------------------------------------------------------

struct SiIndex {
  std::unique_ptr<si::IStorageManager> storage{si::StorageManager::createNewMemoryStorageManager()};
  std::unique_ptr<si::ISpatialIndex> tree;
  SiIndex() {
    si::id_type id;
    tree.reset(si::RTree::createNewRTree(*storage, 0.7, 100, 100, 2, si::RTree::RV_RSTAR, id));
  }
};

std::unique_ptr<SiIndex> SiPoints() {
  auto index = std::make_unique<SiIndex>();
  const std::vector<double> &xy = PointData();
  for (int i = 0; i < kPoints; ++i) {
    const double *p = &xy[2 * i];
    index->tree->insertData(sizeof(double) * 2, reinterpret_cast<const uint8_t *>(p),
                            si::Point(p, 2), i + 1);
  }
  return index;
}

std::unique_ptr<SiIndex> SiLines() {
  auto index = std::make_unique<SiIndex>();
  for (int i = 0; i < kLines; ++i) {
    const double *p = LineData().data() + std::size_t(i) * 2 * kVertices;
    const Box4 b = LineBox(i);
    const double low[2] = {b.x1, b.y1}, high[2] = {b.x2, b.y2};
    index->tree->insertData(sizeof(double) * 2 * kVertices, reinterpret_cast<const uint8_t *>(p),
                            si::Region(low, high, 2), i + 1);
  }
  return index;
}

struct Counter : si::IVisitor {
  int64_t hits = 0;
  void visitNode(const si::INode &) override {}
  void visitData(const si::IData &) override { ++hits; }
  void visitData(std::vector<const si::IData *> &v) override { hits += int64_t(v.size()); }
};

int64_t QuerySi(SiIndex &index) {
  Counter counter;
  for (const Box4 &q : Queries()) {
    const double low[2] = {q.x1, q.y1}, high[2] = {q.x2, q.y2};
    index.tree->intersectsWithQuery(si::Region(low, high, 2), counter);
  }
  return counter.hits;
}

// ---- Box queries as a layer reader makes them --------------------------------------------------

constexpr int kBoxes = 1000000, kBoxQueries = 100000;
constexpr double kBoxSize = 100, kBoxQuerySize = 500; // about 30 hits a query

// kBoxes boxes of up to kBoxSize a side, then kBoxQueries query boxes.
struct BoxData {
  std::vector<Box4> boxes, queries;
};

const BoxData &Boxes() {
  static const BoxData data = [] {
    BoxData d;
    std::mt19937 engine(11);
    std::uniform_real_distribution<double> corner(0, kWorld - kBoxSize), size(0, kBoxSize),
        queryCorner(0, kWorld - kBoxQuerySize);
    d.boxes.resize(kBoxes);
    for (Box4 &b : d.boxes) {
      b.x1 = corner(engine);
      b.y1 = corner(engine);
      b.x2 = b.x1 + size(engine);
      b.y2 = b.y1 + size(engine);
    }
    d.queries.resize(kBoxQueries);
    for (Box4 &q : d.queries) {
      q.x1 = queryCorner(engine);
      q.y1 = queryCorner(engine);
      q.x2 = q.x1 + kBoxQuerySize;
      q.y2 = q.y1 + kBoxQuerySize;
    }
    return d;
  }();
  return data;
}

void SetBox(Evec_Bbox *bbox, const Box4 &b) {
  auto *v = reinterpret_cast<double *>(bbox->origin);
  v[0] = b.x1, v[1] = b.y1, v[2] = b.x2, v[3] = b.y2;
}

// A polygon cache of the boxes, each feature its box's diagonal; made once for the program.
Evec_SpatialCache *BoxCache() {
  static Evec_SpatialCache *cache = [] {
    Evec_SpatialCache *c = NewCache(true);
    Efga_CoordinateBlock *block = efga_BaseCoordBlockCreate(2, 2, 1, EGDA_TYPE_F64, nullptr);
    Evec_Bbox *bbox = evec_BboxCreate(nullptr);
    auto *v = reinterpret_cast<double *>(block->parts[0]->origin);
    for (int i = 0; i < kBoxes; ++i) {
      const Box4 &b = Boxes().boxes[std::size_t(i)];
      v[0] = b.x1, v[1] = b.y1, v[2] = b.x2, v[3] = b.y2;
      SetBox(bbox, b);
      evec_SpatialCacheIndexPoly(c, i + 1, 1, bbox, block);
    }
    evec_BboxDelete(bbox, nullptr);
    efga_CoordBlockDelete(block, nullptr);
    return c;
  }();
  return cache;
}

bool Meets(const Box4 &a, const double *b) {
  return !(b[0] > a.x2 || a.x1 > b[2] || b[1] > a.y2 || a.y1 > b[3]);
}

void BM_BoxQueries_SpatialCache(benchmark::State &state) {
  Evec_SpatialCache *cache = BoxCache();
  Evec_Bbox *search = evec_BboxCreate(nullptr), *feature = evec_BboxCreate(nullptr);
  const auto *f = reinterpret_cast<const double *>(feature->origin);
  int64_t numbers = 0, hits = 0;
  for (auto _ : state) {
    numbers = hits = 0;
    for (const Box4 &q : Boxes().queries) {
      SetBox(search, q);
      Evec_SpatialCacheQuery *query = evec_SpatialCacheBeginPoly(cache, search, 0);
      // The tree phase: every number whose node meets the box, and the box of each.
      while (!reinterpret_cast<SpatialCacheQuery *>(query)->treeDone) {
        const int32_t n = evec_SpatialCacheGetNextPolyIndex(cache, query);
        ++numbers;
        if (evec_SpatialCacheGetPolyBbox(feature, cache, n) && Meets(q, f)) ++hits;
      }
      evec_SpatialCacheQueryDeletePoly(query);
    }
    benchmark::DoNotOptimize(hits);
  }
  state.counters["numbers"] = static_cast<double>(numbers);
  state.counters["hits"] = static_cast<double>(hits);
  evec_BboxDelete(search, nullptr);
  evec_BboxDelete(feature, nullptr);
}

void BM_BoxQueries_BoostRtree(benchmark::State &state) {
  static const BoxTree tree = [] {
    BoxTree t;
    for (int i = 0; i < kBoxes; ++i) {
      const Box4 &b = Boxes().boxes[std::size_t(i)];
      t.insert({BBoxB(BPoint(b.x1, b.y1), BPoint(b.x2, b.y2)), i + 1});
    }
    return t;
  }();
  int64_t hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (const Box4 &q : Boxes().queries) {
      const BBoxB box(BPoint(q.x1, q.y1), BPoint(q.x2, q.y2));
      for (auto it = tree.qbegin(bgi::intersects(box)); it != tree.qend(); ++it) ++hits;
    }
    benchmark::DoNotOptimize(hits);
  }
  state.counters["numbers"] = static_cast<double>(hits);
  state.counters["hits"] = static_cast<double>(hits);
}

// ---- Benchmarks ----------------------------------------------------------------------------------

void BM_InsertPoints_SpatialCache(benchmark::State &s) { InsertCache(s, false, nullptr); }
void BM_InsertPoints_SpatialCacheStore(benchmark::State &s) { InsertCache(s, false, "8"); }
void BM_InsertPoints_BoostRtree(benchmark::State &s) {
  for (auto _ : s) benchmark::DoNotOptimize(BoostPoints());
}
void BM_InsertPoints_LibSpatialIndex(benchmark::State &s) {
  for (auto _ : s) benchmark::DoNotOptimize(SiPoints());
}

void BM_InsertLines_SpatialCache(benchmark::State &s) { InsertCache(s, true, nullptr); }
void BM_InsertLines_SpatialCacheStore(benchmark::State &s) { InsertCache(s, true, "8"); }
void BM_InsertLines_BoostRtree(benchmark::State &s) {
  for (auto _ : s) benchmark::DoNotOptimize(BoostLinesBuild());
}
void BM_InsertLines_LibSpatialIndex(benchmark::State &s) {
  for (auto _ : s) benchmark::DoNotOptimize(SiLines());
}

void BM_QueryPoints_SpatialCache(benchmark::State &s) { QueryCacheBench(s, false, nullptr); }
void BM_QueryPoints_SpatialCacheStore(benchmark::State &s) { QueryCacheBench(s, false, "8"); }
void BM_QueryPoints_BoostRtree(benchmark::State &s) {
  auto tree = BoostPoints();
  int64_t hits = 0;
  for (auto _ : s) hits = QueryBoost(*tree);
  s.counters["hits"] = static_cast<double>(hits);
}
void BM_QueryPoints_LibSpatialIndex(benchmark::State &s) {
  auto index = SiPoints();
  int64_t hits = 0;
  for (auto _ : s) hits = QuerySi(*index);
  s.counters["hits"] = static_cast<double>(hits);
}

void BM_QueryLines_SpatialCache(benchmark::State &s) { QueryCacheBench(s, true, nullptr); }
void BM_QueryLines_SpatialCacheStore(benchmark::State &s) { QueryCacheBench(s, true, "8"); }
void BM_QueryLines_BoostRtree(benchmark::State &s) {
  auto lines = BoostLinesBuild();
  int64_t hits = 0;
  for (auto _ : s) hits = QueryBoost(lines->tree);
  s.counters["hits"] = static_cast<double>(hits);
}
void BM_QueryLines_LibSpatialIndex(benchmark::State &s) {
  auto index = SiLines();
  int64_t hits = 0;
  for (auto _ : s) hits = QuerySi(*index);
  s.counters["hits"] = static_cast<double>(hits);
}

#define HEAVY(b) BENCHMARK(b)->Unit(benchmark::kMillisecond)->Iterations(2)
HEAVY(BM_InsertPoints_SpatialCache);
HEAVY(BM_InsertPoints_SpatialCacheStore);
HEAVY(BM_InsertPoints_BoostRtree);
HEAVY(BM_InsertPoints_LibSpatialIndex);
HEAVY(BM_InsertLines_SpatialCache);
HEAVY(BM_InsertLines_SpatialCacheStore);
HEAVY(BM_InsertLines_BoostRtree);
HEAVY(BM_InsertLines_LibSpatialIndex);
HEAVY(BM_QueryPoints_SpatialCache);
HEAVY(BM_QueryPoints_SpatialCacheStore);
HEAVY(BM_QueryPoints_BoostRtree);
HEAVY(BM_QueryPoints_LibSpatialIndex);
HEAVY(BM_QueryLines_SpatialCache);
HEAVY(BM_QueryLines_SpatialCacheStore);
HEAVY(BM_QueryLines_BoostRtree);
HEAVY(BM_QueryLines_LibSpatialIndex);
BENCHMARK(BM_BoxQueries_SpatialCache)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_BoxQueries_BoostRtree)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char **argv) {
  using taviron::bench::RatioRow;
  std::vector<RatioRow> rows;
  for (const char *what : {"InsertPoints", "InsertLines", "QueryPoints", "QueryLines"}) {
    const std::string stem = std::string("BM_") + what + "_";
    rows.push_back({what, stem + "SpatialCache", {stem + "BoostRtree", stem + "LibSpatialIndex"}});
    rows.push_back({std::string(what) + " store", stem + "SpatialCacheStore",
                    {stem + "BoostRtree", stem + "LibSpatialIndex"}});
  }
  rows.push_back({"BoxQueries", "BM_BoxQueries_SpatialCache", {"BM_BoxQueries_BoostRtree", ""}});
  return taviron::bench::RunWithRatios(argc, argv, {"boost", "spatialindex"}, rows,
                                       {"Boost.Geometry and libspatialindex", true});
}
