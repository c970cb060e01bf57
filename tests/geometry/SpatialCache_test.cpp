// The spatial cache: adding and finding features, the quadtree's splits and growth, box queries,
// the spill to the overflow store, the memory limit preference and concurrent use.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "SpatialCache.h"
#include "ecfg.h"
#include "eprf.h"
#include "esmg.h"
#include "geometry_testing.h"
#include "taviron_testing.h"

namespace {

using namespace geotest;
namespace fs = std::filesystem;

using PointTree = SpatialCache<Egda_BaseData>;
using LineTree = SpatialCache<Efga_CoordinateBlock>;

struct CacheDeleter {
  void operator()(Evec_SpatialCache *c) const { evec_SpatialCacheDeletePoint(c); }
};
using Cache = std::unique_ptr<Evec_SpatialCache, CacheDeleter>;
struct QueryDeleter {
  void operator()(Evec_SpatialCacheQuery *q) const { evec_SpatialCacheQueryDeletePoly(q); }
};
using Query = std::unique_ptr<Evec_SpatialCacheQuery, QueryDeleter>;

template <class T> SpatialCache<T> *Tree(const Cache &cache) {
  return static_cast<SpatialCache<T> *>(reinterpret_cast<SpatialCacheBase *>(cache.get()));
}

// Every test gets its own temporary directory (for the store's files) and preference folder, in
// which "vector/memcache_limit" holds the value given to SetLimit (1024 to begin with).
class SpatialCacheTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("TMPDIR", dir_.c_str(), 1);
    setenv("NORIX_PREFERENCES_PATH", dir_.c_str(), 1);
    SetLimit("1024");
  }
  void TearDown() override {
    unsetenv("TMPDIR");
    unsetenv("NORIX_PREFERENCES_PATH");
    eprf_DefaultDatabaseTerminate();
    SpatialCacheBase::ForgetMemoryLimits();
  }
  void SetLimit(const char *megabytes) {
    std::ofstream file(fs::path(dir_) / "preferences.prf");
    if (megabytes) file << "vector/memcache_limit = " << megabytes << "\n";
    file.close();
    eprf_DefaultDatabaseTerminate();
    SpatialCacheBase::ForgetMemoryLimits();
  }
  Cache NewPoints(double x1 = 0, double y1 = 0, double x2 = 100, double y2 = 100) {
    Matrix box = Box(x1, y1, x2, y2);
    MVS layer{0, box.get(), 0, 0};
    return Cache(evec_SpatialCacheCreatePoint(&layer, nullptr));
  }
  Cache NewLines(double x1 = 0, double y1 = 0, double x2 = 100, double y2 = 100) {
    Matrix box = Box(x1, y1, x2, y2);
    MVS layer{0, box.get(), 0, 0};
    return Cache(evec_SpatialCacheCreateArc(&layer, nullptr));
  }
  const taviron::testing::TempDir folder_{"sctest"};
  const std::string dir_ = folder_.str();
};

void AddPoint(const Cache &cache, int32_t number, double x, double y) {
  Matrix p = Points({x, y});
  evec_SpatialCacheIndexPoint(cache.get(), number, 1, p.get());
}

// The first `count` numbers of a query.
std::vector<int32_t> Take(const Cache &cache, Evec_SpatialCacheQuery *query, int count,
                         int32_t (*next)(Evec_SpatialCache *, Evec_SpatialCacheQuery *)) {
  std::vector<int32_t> numbers;
  for (int i = 0; i < count; ++i) numbers.push_back(next(cache.get(), query));
  return numbers;
}

int LeafCount(const SpatialCacheNode *node) {
  if (!node->split) return 1;
  int n = 0;
  for (const auto &child : node->children) n += LeafCount(child.get());
  return n;
}

// The deepest node holding the number, and its depth.
const SpatialCacheNode *Holder(const SpatialCacheNode *node, int32_t number, int *depth) {
  if (std::find(node->numbers.begin(), node->numbers.end(), number) != node->numbers.end()) return node;
  if (node->split)
    for (const auto &child : node->children)
      if (const SpatialCacheNode *found = Holder(child.get(), number, depth)) {
        ++*depth;
        return found;
      }
  return nullptr;
}

TEST_F(SpatialCacheTest, PointsAreHeldCopiedAndLookedUp) {
  Cache cache = NewPoints();
  ASSERT_TRUE(cache);
  Matrix p = Points({3, 4, 5, 6});
  Egda_BaseData *held = evec_SpatialCacheIndexPoint(cache.get(), 7, 2, p.get());
  ASSERT_NE(held, nullptr);
  EXPECT_NE(held, p.get());
  EXPECT_EQ(Values(held), Values(p.get()));
  // Already held: the caller's own coordinates come back.
  Matrix again = Points({9, 9});
  EXPECT_EQ(evec_SpatialCacheIndexPoint(cache.get(), 7, 1, again.get()), again.get());

  EXPECT_EQ(evec_SpatialCacheHasPoint(cache.get(), 7), 1);
  EXPECT_EQ(evec_SpatialCacheGetPointCount(cache.get(), 7), 2);
  Matrix copy(evec_SpatialCacheGetPoint(cache.get(), 7, nullptr));
  ASSERT_TRUE(copy);
  EXPECT_EQ(Values(copy.get()), (std::vector<double>{3, 4, 5, 6}));
  Matrix into = Points({0, 0, 0, 0, 0, 0});
  EXPECT_EQ(evec_SpatialCacheGetPoint(cache.get(), 7, into.get()), into.get());
  EXPECT_EQ(into->columns, 2);
  Matrix box(evec_SpatialCacheGetPointBbox(nullptr, cache.get(), 7));
  ASSERT_TRUE(box);
  EXPECT_EQ(Values(box.get()), (std::vector<double>{3, 4, 3, 4})); // the first point

  // Numbers not held, or that cannot be held, and missing or mismatched caches.
  for (int32_t number : {0, -3, 6, 8, 1 << 30}) {
    EXPECT_EQ(evec_SpatialCacheHasPoint(cache.get(), number), 0);
    EXPECT_EQ(evec_SpatialCacheGetPoint(cache.get(), number, nullptr), nullptr);
    EXPECT_EQ(evec_SpatialCacheGetPointBbox(nullptr, cache.get(), number), nullptr);
    EXPECT_EQ(evec_SpatialCacheGetPointCount(cache.get(), number), 0);
  }
  EXPECT_EQ(evec_SpatialCacheIndexPoint(cache.get(), 0, 1, p.get()), p.get());
  EXPECT_EQ(evec_SpatialCacheIndexPoint(cache.get(), -5, 1, p.get()), p.get());
  Matrix nan = Points({std::nan(""), 1});
  EXPECT_EQ(evec_SpatialCacheIndexPoint(cache.get(), 9, 1, nan.get()), nan.get());
  EXPECT_EQ(evec_SpatialCacheHasPoint(cache.get(), 9), 0);
  EXPECT_EQ(evec_SpatialCacheIndexPoint(nullptr, 1, 1, p.get()), nullptr);
  EXPECT_EQ(evec_SpatialCacheHasPoint(nullptr, 7), 0);
  EXPECT_EQ(evec_SpatialCacheBeginPoint(nullptr, box.get()), nullptr);
  EXPECT_EQ(evec_SpatialCacheGetNextPointIndex(nullptr, nullptr), 0);
  Cache lines = NewLines();
  EXPECT_EQ(evec_SpatialCacheIndexPoint(lines.get(), 1, 1, p.get()), nullptr);
  EXPECT_EQ(evec_SpatialCacheHasArc(cache.get(), 7), 0);
  evec_SpatialCacheDeletePoint(nullptr);
  evec_SpatialCacheQueryDeletePoint(nullptr);
}

TEST_F(SpatialCacheTest, BlocksAreHeldWithTheirBoxInOrder) {
  Cache cache = NewLines();
  Block arc = Parts({{1, 1, 2, 3}, {4, 4, 5, 5, 6, 4}});
  Matrix box = Box(6, 5, 1, 1); // corners in the wrong order
  Efga_CoordinateBlock *held = evec_SpatialCacheIndexPoly(cache.get(), 1, 2, box.get(), arc.get());
  ASSERT_NE(held, nullptr);
  EXPECT_NE(held, arc.get());
  EXPECT_EQ(evec_SpatialCacheHasPoly(cache.get(), 1), 1);
  EXPECT_EQ(evec_SpatialCacheGetArcCount(cache.get(), 1), 2);
  Block copy(evec_SpatialCacheGetArc(cache.get(), 1, nullptr));
  ASSERT_TRUE(copy);
  ASSERT_EQ(copy->count, 2);
  EXPECT_EQ(Values(copy->parts[1]), (std::vector<double>{4, 4, 5, 5, 6, 4}));
  Matrix out = Box(0, 0, 0, 0);
  EXPECT_EQ(evec_SpatialCacheGetPolyBbox(out.get(), cache.get(), 1), out.get());
  EXPECT_EQ(Values(out.get()), (std::vector<double>{1, 1, 6, 5}));
  EXPECT_EQ(evec_SpatialCacheIndexArc(cache.get(), 2, 1, nullptr, arc.get()), arc.get());
  EXPECT_EQ(evec_SpatialCacheHasArc(cache.get(), 2), 0);
}

TEST_F(SpatialCacheTest, CreationTakesTheLayerBoxThroughTheTransform) {
  Matrix box = Box(10, 20, 0, 0);
  MVS layer{0, box.get(), 0, 0};
  _exfr_XForm *scale = exfr_XFormCreateUsingCoeffs(2, 0, 1, 0, 3, 0, nullptr);
  Cache cache(evec_SpatialCacheCreatePoint(&layer, scale));
  exfr_XFormFree(&scale, nullptr);
  ASSERT_TRUE(cache);
  const BBox &root = Tree<Egda_BaseData>(cache)->Root()->box;
  EXPECT_EQ(root.min.x, 1);
  EXPECT_EQ(root.min.y, 0);
  EXPECT_EQ(root.max.x, 21);
  EXPECT_EQ(root.max.y, 60);

  EXPECT_EQ(evec_SpatialCacheCreatePoint(nullptr, nullptr), nullptr);
  MVS noBox{0, nullptr, 0, 0};
  EXPECT_EQ(evec_SpatialCacheCreatePoly(&noBox, nullptr), nullptr);
  Matrix infinite = Box(0, 0, INFINITY, 1);
  MVS endless{0, infinite.get(), 0, 0};
  EXPECT_EQ(evec_SpatialCacheCreateArc(&endless, nullptr), nullptr);
}

TEST_F(SpatialCacheTest, LeavesSplitPastTheirCapacityButNotForOnePoint) {
  Cache distinct = NewPoints();
  for (int32_t i = 1; i <= 256; ++i) AddPoint(distinct, i, i % 100 + 0.5, i / 3.0);
  EXPECT_FALSE(Tree<Egda_BaseData>(distinct)->Root()->split);
  AddPoint(distinct, 257, 50.5, 50.5);
  EXPECT_TRUE(Tree<Egda_BaseData>(distinct)->Root()->split);

  Cache same = NewPoints();
  for (int32_t i = 1; i <= 300; ++i) AddPoint(same, i, 30, 40);
  const SpatialCacheNode *root = Tree<Egda_BaseData>(same)->Root();
  EXPECT_FALSE(root->split);
  EXPECT_EQ(root->numbers.size(), 300u);

  // Two points one unit of the last place apart, in a layer box just that wide: halving the box
  // rounds its middle onto the upper point, so a split would make a quarter as large as the
  // leaf itself, without end. The leaf keeps them instead.
  const double x = std::nextafter(30.0, 100.0), nearX = std::nextafter(x, 100.0);
  Cache twins = NewPoints(x, 40, nearX, 40);
  for (int32_t i = 1; i <= 600; ++i) AddPoint(twins, i, i % 2 ? x : nearX, 40);
  EXPECT_EQ(evec_SpatialCacheHasPoint(twins.get(), 600), 1);
  EXPECT_EQ(Tree<Egda_BaseData>(twins)->Root()->numbers.size(), 600u);
}

TEST_F(SpatialCacheTest, FeaturesGoToTheDeepestNodeThatContainsThem) {
  Cache cache = NewLines();
  Block arc = Parts({{0, 0, 1, 1}});
  // Fill the root so that it splits, with small features in one corner.
  for (int32_t i = 1; i <= 300; ++i) {
    Matrix b = Box(1 + i * 0.01, 1, 1.5 + i * 0.01, 2);
    evec_SpatialCacheIndexArc(cache.get(), i, 1, b.get(), arc.get());
  }
  Matrix middle = Box(40, 40, 60, 60), corner = Box(90, 90, 91, 91);
  evec_SpatialCacheIndexArc(cache.get(), 301, 1, middle.get(), arc.get());
  evec_SpatialCacheIndexArc(cache.get(), 302, 1, corner.get(), arc.get());
  const SpatialCacheNode *root = Tree<Efga_CoordinateBlock>(cache)->Root();
  int depth = 0;
  EXPECT_EQ(Holder(root, 301, &depth), root);
  depth = 0;
  EXPECT_EQ(Holder(root, 302, &depth), root->children[3].get());
  depth = 0;
  Holder(root, 1, &depth);
  EXPECT_GE(depth, 5);
}

TEST_F(SpatialCacheTest, TheRootGrowsTowardFeaturesOutsideIt) {
  struct Case {
    double x, y;
    int oldQuarter;
    double x1, y1, x2, y2;
  } cases[] = {
      {150, 150, 0, 0, 0, 200, 200},    // right and up
      {150, -50, 2, 0, -100, 200, 100}, // right and down
      {-50, 150, 1, -100, 0, 100, 200}, // left and up
      {-50, -50, 3, -100, -100, 100, 100},
  };
  for (const Case &c : cases) {
    Cache cache = NewPoints();
    const SpatialCacheNode *old = Tree<Egda_BaseData>(cache)->Root();
    AddPoint(cache, 1, c.x, c.y);
    const SpatialCacheNode *root = Tree<Egda_BaseData>(cache)->Root();
    EXPECT_EQ(root->children[c.oldQuarter].get(), old);
    EXPECT_EQ(root->box.min.x, c.x1);
    EXPECT_EQ(root->box.min.y, c.y1);
    EXPECT_EQ(root->box.max.x, c.x2);
    EXPECT_EQ(root->box.max.y, c.y2);
  }
  Cache far = NewPoints();
  AddPoint(far, 1, 1000, 1000);
  EXPECT_EQ(Tree<Egda_BaseData>(far)->Root()->box.max.x, 1600);

  // A layer of one point has a root without width or height: it still grows to reach features.
  Cache single = NewPoints(5, 5, 5, 5);
  AddPoint(single, 1, 5, 5);
  AddPoint(single, 2, 7, 5);
  AddPoint(single, 3, -4, 9);
  for (int32_t i = 1; i <= 3; ++i) EXPECT_EQ(evec_SpatialCacheHasPoint(single.get(), i), 1);
  BBox root = Tree<Egda_BaseData>(single)->Root()->box;
  EXPECT_TRUE(root.Contains(DPoint(-4, 9)));
}

TEST_F(SpatialCacheTest, QueriesGiveTheTreeThenEveryFurtherNumber) {
  Cache empty = NewPoints();
  Matrix all = Box(0, 0, 100, 100);
  Query q(evec_SpatialCacheBeginPoint(empty.get(), all.get()));
  EXPECT_EQ(Take(empty, q.get(), 4, evec_SpatialCacheGetNextPointIndex),
            (std::vector<int32_t>{1, 2, 3, 4}));

  // Random points 1 .. 2000 and one far number, 2100: every point in the box comes from the tree,
  // then the numbers go on in order and skip 2100, which the tree gave already.
  Cache cache = NewPoints();
  std::mt19937 engine(5);
  std::uniform_real_distribution<double> coordinate(0, 100);
  std::vector<std::pair<double, double>> points(2101);
  for (int32_t i = 1; i <= 2000; ++i) {
    points[i] = {coordinate(engine), coordinate(engine)};
    AddPoint(cache, i, points[i].first, points[i].second);
  }
  points[2100] = {20, 20};
  AddPoint(cache, 2100, 20, 20);
  EXPECT_EQ(Tree<Egda_BaseData>(cache)->FirstUnheld(), 2001);
  Matrix box = Box(30, 10, 10, 30);
  q.reset(evec_SpatialCacheBeginPoint(cache.get(), box.get()));
  std::set<int32_t> fromTree;
  int32_t number = 0;
  for (int guard = 0; guard < 5000; ++guard) {
    number = evec_SpatialCacheGetNextPointIndex(cache.get(), q.get());
    if (number >= 2001 && number != 2100) break;
    fromTree.insert(number);
  }
  for (int32_t i = 1; i <= 2100; ++i) {
    if (i > 2000 && i < 2100) continue;
    const bool inside = points[i].first >= 10 && points[i].first <= 30 && points[i].second >= 10 &&
                        points[i].second <= 30;
    if (inside) {
      EXPECT_TRUE(fromTree.count(i)) << i;
    }
  }
  EXPECT_EQ(number, 2001);
  std::vector<int32_t> rest = Take(cache, q.get(), 100, evec_SpatialCacheGetNextPointIndex);
  EXPECT_EQ(rest[98], 2101); // 2002 .. 2099, then 2101
}

// A query hands out no number twice: not the last held number of the tree again when the
// sequential phase begins, not two numbers in a row that the tree gave beyond the first unheld
// one, and not the numbers a leaf gave before it split under the walk.
TEST_F(SpatialCacheTest, AQueryHandsOutEachNumberOnce) {
  Cache cache = NewPoints();
  for (int32_t i : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13}) AddPoint(cache, i, i, i);
  ASSERT_EQ(Tree<Egda_BaseData>(cache)->FirstUnheld(), 11);
  Matrix all = Box(0, 0, 100, 100);
  Query q(evec_SpatialCacheBeginPoint(cache.get(), all.get()));
  std::vector<int32_t> got = Take(cache, q.get(), 15, evec_SpatialCacheGetNextPointIndex);
  std::sort(got.begin(), got.begin() + 12);
  EXPECT_EQ(got, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 11, 14, 15}));

  // A full leaf split by an addition while a query walks it: the rest of the tree phase gives the
  // numbers it had not given yet (and the new one), each once.
  Cache leaf = NewPoints();
  for (int32_t i = 1; i <= 256; ++i) AddPoint(leaf, i, (i * 37) % 100 + 0.25, (i * 53) % 100 + 0.25);
  ASSERT_FALSE(Tree<Egda_BaseData>(leaf)->Root()->split);
  q.reset(evec_SpatialCacheBeginPoint(leaf.get(), all.get()));
  std::vector<int32_t> numbers = Take(leaf, q.get(), 100, evec_SpatialCacheGetNextPointIndex);
  AddPoint(leaf, 257, 50.5, 50.5);
  ASSERT_TRUE(Tree<Egda_BaseData>(leaf)->Root()->split);
  const auto *query = reinterpret_cast<const SpatialCacheQuery *>(q.get());
  while (!query->treeDone) numbers.push_back(evec_SpatialCacheGetNextPointIndex(leaf.get(), q.get()));
  std::sort(numbers.begin(), numbers.end());
  std::vector<int32_t> expected(257);
  std::iota(expected.begin(), expected.end(), 1);
  EXPECT_EQ(numbers, expected);
  EXPECT_EQ(evec_SpatialCacheGetNextPointIndex(leaf.get(), q.get()), 258);
}

TEST_F(SpatialCacheTest, MinSizeSkipsSmallNodesBelowTheRoot) {
  Cache cache = NewLines();
  Block arc = Parts({{0, 0, 1, 1}});
  for (int32_t i = 1; i <= 400; ++i) {
    const double x = (i - 1) % 20 * 5.0, y = (i - 1) / 20 * 5.0;
    Matrix b = Box(x, y, x + 1, y + 1);
    evec_SpatialCacheIndexArc(cache.get(), i, 1, b.get(), arc.get());
  }
  Matrix middle = Box(45, 45, 55, 55);
  evec_SpatialCacheIndexArc(cache.get(), 401, 1, middle.get(), arc.get());
  ASSERT_TRUE(Tree<Efga_CoordinateBlock>(cache)->Root()->split);
  Matrix all = Box(0, 0, 100, 100);
  Query q(evec_SpatialCacheBeginArc(cache.get(), all.get(), 1000));
  const std::vector<int32_t> &rootNumbers = Tree<Efga_CoordinateBlock>(cache)->Root()->numbers;
  ASSERT_EQ(rootNumbers, (std::vector<int32_t>{401}));
  std::vector<int32_t> got = Take(cache, q.get(), static_cast<int>(rootNumbers.size()),
                                 evec_SpatialCacheGetNextArcIndex);
  EXPECT_EQ(got, rootNumbers);
  // The sequential phase goes on past the highest held number the tree gave.
  EXPECT_EQ(Take(cache, q.get(), 2, evec_SpatialCacheGetNextArcIndex), (std::vector<int32_t>{402, 403}));
  Cache other = NewLines();
  EXPECT_EQ(evec_SpatialCacheGetNextArcIndex(other.get(), q.get()), 0); // not its query
}

TEST_F(SpatialCacheTest, FirstUnheldWaitsForTheLowestNumber) {
  Cache cache = NewPoints();
  PointTree *tree = Tree<Egda_BaseData>(cache);
  AddPoint(cache, 5, 1, 1);
  AddPoint(cache, 3, 1, 1);
  EXPECT_EQ(tree->FirstUnheld(), 1);
  AddPoint(cache, 1, 1, 1);
  EXPECT_EQ(tree->FirstUnheld(), 2);
  AddPoint(cache, 2, 1, 1);
  EXPECT_EQ(tree->FirstUnheld(), 4);
  AddPoint(cache, 4, 1, 1);
  EXPECT_EQ(tree->FirstUnheld(), 6);
}

TEST_F(SpatialCacheTest, SpilledFeaturesStayHeldAndNewOnesGoToTheStore) {
  const int64_t before = SpatialCacheBase::MemoryInUse();
  Cache cache = NewLines();
  LineTree *tree = Tree<Efga_CoordinateBlock>(cache);
  Block arc = Parts({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10}});
  for (int32_t i = 1; i <= 50; ++i) {
    Matrix b = Box(i, i, i + 1, i + 1);
    evec_SpatialCacheIndexPoly(cache.get(), i, 2, b.get(), arc.get());
  }
  // 18 + 12 * 2 + (6 + 4) * 2 words a record.
  EXPECT_EQ(tree->MemoryBytes(), 50 * 4 * (18 + 24 + 20));
  EXPECT_EQ(SpatialCacheBase::MemoryInUse() - before, tree->MemoryBytes());
  tree->SpillToFile();
  EXPECT_TRUE(tree->Spilled());
  EXPECT_EQ(tree->MemoryBytes(), 0);
  EXPECT_EQ(SpatialCacheBase::MemoryInUse(), before);

  Block added = Parts({{0, 0, 50, 50}});
  Matrix b = Box(0, 0, 50, 50);
  EXPECT_EQ(evec_SpatialCacheIndexPoly(cache.get(), 51, 1, b.get(), added.get()), added.get());
  for (int32_t i = 1; i <= 51; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(evec_SpatialCacheHasPoly(cache.get(), i), 1);
    Block copy(evec_SpatialCacheGetPoly(cache.get(), i, nullptr));
    ASSERT_TRUE(copy);
    EXPECT_EQ(Values(copy->parts[0]), Values((i == 51 ? added : arc)->parts[0]));
    EXPECT_EQ(evec_SpatialCacheGetPolyCount(cache.get(), i), i == 51 ? 1 : 2);
    Matrix box(evec_SpatialCacheGetPolyBbox(nullptr, cache.get(), i));
    ASSERT_TRUE(box);
    EXPECT_EQ(X(box.get(), 0), i == 51 ? 0 : i);
  }
  Block into = Parts({{0, 0}});
  EXPECT_EQ(evec_SpatialCacheGetPoly(cache.get(), 3, into.get()), into.get());
  EXPECT_EQ(into->count, 2);
  EXPECT_EQ(Values(into->parts[1]), (std::vector<double>{7, 8, 9, 10}));
}

TEST_F(SpatialCacheTest, RecordsLongerThanAChunkKeepOnlyTheirBox) {
  Cache cache = NewLines();
  LineTree *tree = Tree<Efga_CoordinateBlock>(cache);
  // About 1.2 million words: more than one chunk of the store.
  std::vector<double> many(600000, 1.0);
  Block huge = Parts({many});
  Matrix hugeBox = Box(10, 10, 20, 20), smallBox = Box(30, 30, 31, 31);
  Block small = Parts({{30, 30, 31, 31}});
  evec_SpatialCacheIndexArc(cache.get(), 1, 1, hugeBox.get(), huge.get()); // spilled below
  tree->SpillToFile();
  evec_SpatialCacheIndexArc(cache.get(), 2, 1, hugeBox.get(), huge.get()); // added after
  evec_SpatialCacheIndexArc(cache.get(), 3, 1, smallBox.get(), small.get());
  for (int32_t i : {1, 2}) {
    EXPECT_EQ(evec_SpatialCacheHasArc(cache.get(), i), 0);
    EXPECT_EQ(evec_SpatialCacheGetArc(cache.get(), i, nullptr), nullptr);
    EXPECT_EQ(evec_SpatialCacheGetArcCount(cache.get(), i), 1);
    Matrix box(evec_SpatialCacheGetArcBbox(nullptr, cache.get(), i));
    ASSERT_TRUE(box);
    EXPECT_EQ(Values(box.get()), (std::vector<double>{10, 10, 20, 20}));
  }
  EXPECT_EQ(evec_SpatialCacheHasArc(cache.get(), 3), 1);
  Matrix query = Box(0, 0, 25, 25);
  Query q(evec_SpatialCacheBeginArc(cache.get(), query.get(), 0));
  std::vector<int32_t> got = Take(cache, q.get(), 2, evec_SpatialCacheGetNextArcIndex);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<int32_t>{1, 2}));
}

// Random points and queries: the answers of two caches.
std::vector<std::vector<int32_t>> Answers(const Cache &cache, int features) {
  std::mt19937 engine(9);
  std::uniform_real_distribution<double> coordinate(0, 100);
  std::vector<std::vector<int32_t>> answers;
  for (int k = 0; k < 50; ++k) {
    const double x = coordinate(engine), y = coordinate(engine);
    Matrix box = Box(x, y, x + 7, y + 5);
    Query q(evec_SpatialCacheBeginPoint(cache.get(), box.get()));
    std::vector<int32_t> numbers;
    for (int32_t n; (n = evec_SpatialCacheGetNextPointIndex(cache.get(), q.get())) <= features;)
      numbers.push_back(n);
    answers.push_back(numbers);
  }
  for (int32_t i = 1; i <= features; i += 97) {
    Matrix copy(evec_SpatialCacheGetPoint(cache.get(), i, nullptr));
    answers.push_back({copy ? static_cast<int32_t>(X(copy.get(), 0) * 1000) : -1});
  }
  return answers;
}

void Fill(const Cache &cache, int features) {
  std::mt19937 engine(3);
  std::uniform_real_distribution<double> coordinate(0, 100);
  for (int32_t i = 1; i <= features; ++i) AddPoint(cache, i, coordinate(engine), coordinate(engine));
}

TEST_F(SpatialCacheTest, ASmallMemoryLimitSpillsAndAnswersTheSame) {
  constexpr int kFeatures = 30000; // 112 bytes each in memory: more than 1 MB
  SetLimit("1");
  Cache small = NewPoints();
  Fill(small, kFeatures);
  EXPECT_TRUE(Tree<Egda_BaseData>(small)->Spilled());
  EXPECT_NE(Tree<Egda_BaseData>(small)->Store(), nullptr);

  // A limit of 4096 MB counts in 64 bits: nothing spills.
  SetLimit("4096");
  Cache large = NewPoints();
  Fill(large, kFeatures);
  EXPECT_FALSE(Tree<Egda_BaseData>(large)->Spilled());
  EXPECT_EQ(Answers(small, kFeatures), Answers(large, kFeatures));
}

std::vector<std::string> logged;
int32_t CaptureLog(int32_t level, const char *text, Eerr_ErrorReport **) {
  logged.push_back(std::to_string(level) + " " + text);
  return 1;
}

TEST_F(SpatialCacheTest, AMissingLimitIsLoggedAndTaken1024) {
  SetLimit(nullptr);
  logged.clear();
  esmg_SetLogFunction(&CaptureLog);
  Cache cache = NewPoints();
  AddPoint(cache, 1, 1, 1);
  AddPoint(cache, 2, 1, 1);
  esmg_SetLogFunction(nullptr);
  EXPECT_EQ(logged, (std::vector<std::string>{"0 failed to get memcache limit, using 1024(MB)"}));
  EXPECT_FALSE(Tree<Egda_BaseData>(cache)->Spilled());
}

TEST_F(SpatialCacheTest, ThreadsAddAndQueryOneCacheAtOnce) {
  constexpr int kThreads = 4, kPerThread = 3000;
  for (bool spill : {false, true}) {
    SCOPED_TRACE(spill ? "spilling" : "in memory");
    Cache cache = NewPoints();
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        std::mt19937 engine(t);
        std::uniform_real_distribution<double> coordinate(-20, 120);
        for (int i = 0; i < kPerThread; ++i) {
          const int32_t number = 1 + t + kThreads * i;
          Matrix p = Points({coordinate(engine), coordinate(engine)});
          evec_SpatialCacheIndexPoint(cache.get(), number, 1, p.get());
          if (spill && t == 0 && i == kPerThread / 2) Tree<Egda_BaseData>(cache)->SpillToFile();
          if (i % 100 == 0) {
            Matrix box = Box(coordinate(engine), coordinate(engine), 50, 50);
            Query q(evec_SpatialCacheBeginPoint(cache.get(), box.get()));
            std::set<int32_t> handed;
            for (int k = 0; k < 200; ++k) {
              const int32_t n = evec_SpatialCacheGetNextPointIndex(cache.get(), q.get());
              EXPECT_TRUE(handed.insert(n).second) << n << " handed out twice";
              double b[4];
              if (Tree<Egda_BaseData>(cache)->BoxValues(n, b)) {
                EXPECT_EQ(b[0], b[2]);
              }
              if (evec_SpatialCacheHasPoint(cache.get(), n)) {
                Matrix copy(evec_SpatialCacheGetPoint(cache.get(), n, nullptr));
                EXPECT_TRUE(copy);
                evec_SpatialCacheGetPointCount(cache.get(), n);
              }
            }
          }
        }
        ++done;
      });
    for (auto &thread : threads) thread.join();
    ASSERT_EQ(done.load(), kThreads);
    EXPECT_EQ(Tree<Egda_BaseData>(cache)->Spilled(), spill);
    EXPECT_EQ(Tree<Egda_BaseData>(cache)->FirstUnheld(), kThreads * kPerThread + 1);
    // The tree holds every feature once.
    Matrix all = Box(-1000, -1000, 1000, 1000);
    Query q(evec_SpatialCacheBeginPoint(cache.get(), all.get()));
    std::set<int32_t> seen;
    for (int k = 0; k < kThreads * kPerThread; ++k)
      seen.insert(evec_SpatialCacheGetNextPointIndex(cache.get(), q.get()));
    EXPECT_EQ(seen.size(), size_t(kThreads * kPerThread));
    EXPECT_EQ(*seen.rbegin(), kThreads * kPerThread);
  }
}

} // namespace
