// Weeding and generalising.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry_testing.h"
#include "taviron_testing.h"

namespace {

using namespace geotest;

std::vector<double> Weeded(double tolerance, const std::vector<double> &xy) {
  Matrix m = Points(xy);
  const uint8_t *storage = m->data;
  ErrorSlot err;
  evec_WeedMatrix(tolerance, m.get(), &err);
  ExpectNoReport(err);
  EXPECT_EQ(m->data, storage); // shortened in place
  EXPECT_EQ(m->count, 2 * m->columns);
  return Values(m.get());
}

TEST(EvecWeedMatrix, Cases) {
  struct Case {
    const char *name;
    double tolerance;
    std::vector<double> in, out;
  } cases[] = {
      {"tolerance 0 drops repeats only", 0, {0, 0, 0, 0, 1, 0, 1, 0, 2, 0}, {0, 0, 1, 0, 2, 0}},
      {"repeated last vertex takes the kept one's place", 0, {0, 0, 1, 0, 1, 0}, {0, 0, 1, 0}},
      {"all within the tolerance of vertex 0", 5, {0, 0, 1, 1, 2, 0, 1, -1}, {0, 0, 1, -1}},
      {"vertex at exactly the tolerance is dropped", 5, {0, 0, 3, 4, 10, 0}, {0, 0, 10, 0}},
      {"just beyond is kept", 4.9, {0, 0, 3, 4, 10, 0}, {0, 0, 3, 4, 10, 0}},
      {"close last vertex replaces the last kept", 1, {0, 0, 5, 0, 5.5, 0}, {0, 0, 5.5, 0}},
      {"from the last kept vertex, not the last seen", 1.5,
       {0, 0, 1, 0, 2, 0, 3, 0, 4, 0}, {0, 0, 2, 0, 4, 0}},
      {"two points stay", 100, {0, 0, 1, 1}, {0, 0, 1, 1}},
      {"one point stays", 100, {3, 3}, {3, 3}},
      {"no points", 1, {}, {}},
      {"negative tolerance keeps everything", -1, {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}},
  };
  for (const Case &c : cases) EXPECT_EQ(Weeded(c.tolerance, c.in), c.out) << c.name;
  evec_WeedMatrix(1, nullptr, nullptr);
}

TEST(EvecWeedArc, WeedsACopyWithTheLayersTolerance) {
  MVS layer{};
  layer.weed = 1.5;
  Matrix arc = Points({0, 0, 1, 0, 2, 0, 3, 0, 4, 0});
  ErrorSlot err;
  Matrix weeded(evec_WeedArc(&layer, arc.get(), &err));
  ASSERT_TRUE(weeded);
  EXPECT_EQ(Values(weeded.get()), (std::vector<double>{0, 0, 2, 0, 4, 0}));
  EXPECT_EQ(arc->columns, 5);

  EXPECT_EQ(evec_WeedArc(&layer, nullptr, &err), nullptr);
  ExpectReport(err, "evec_WeedArc", 1, "Error returned from efga_MatrixCopy");
  EXPECT_NE(err.get()->next, nullptr);
  EXPECT_EQ(evec_WeedArc(nullptr, arc.get(), &err), nullptr);
  ExpectReport(err, "evec_WeedArc", 2, "Invalid input MVS");

  SweepMade([&](Eerr_ErrorReport **e) { return evec_WeedArc(&layer, arc.get(), e); }, DeleteMatrix, "evec_WeedArc",
            [](const Eerr_ErrorReport *r) {
              EXPECT_TRUE(taviron::testing::Reported(r, "evec_WeedArc", 1, "Error returned from efga_MatrixCopy"));
            });
}

TEST(EvecWeedPolygon, DropsCollapsedRingsAndGivesUpOnACollapsedOuterRing) {
  MVS layer{};
  layer.weed = 1;
  const int64_t live = emsc_TestLiveBlocks();
  {
    Block rings = Parts({{0, 0, 0, 10, 10, 10, 10, 0, 0, 0},
                         {2, 2, 2.1, 2.1, 2.2, 2.2, 2, 2},
                         {4, 4, 4, 6, 6, 6, 4, 4}});
    ErrorSlot err;
    Block weeded(evec_WeedPolygon(&layer, rings.get(), &err));
    ExpectNoReport(err);
    ASSERT_TRUE(weeded);
    EXPECT_EQ(weeded->kind, 2);
    ASSERT_EQ(weeded->count, 2);
    EXPECT_EQ(Values(weeded->parts[0]), Values(rings->parts[0]));
    EXPECT_EQ(Values(weeded->parts[1]), Values(rings->parts[2]));
    EXPECT_NE(weeded->parts[1], rings->parts[2]);

    Block collapsed = Parts({{0, 0, 0.5, 0.5, 0.2, 0.9, 0, 0}, {4, 4, 4, 6, 6, 6, 4, 4}});
    EXPECT_EQ(evec_WeedPolygon(&layer, collapsed.get(), &err), nullptr);
    ExpectNoReport(err);

    EXPECT_EQ(evec_WeedPolygon(&layer, nullptr, &err), nullptr);
    ExpectReport(err, "evec_WeedPolygon", 1, "Invalid input coordBlock");
    EXPECT_EQ(evec_WeedPolygon(nullptr, rings.get(), &err), nullptr);
    ExpectReport(err, "evec_WeedPolygon", 3, "Invalid input MVS");

    SweepMade([&](Eerr_ErrorReport **e) { return evec_WeedPolygon(&layer, rings.get(), e); },
              [](Efga_CoordinateBlock *b) { efga_CoordBlockDelete(b, nullptr); }, "evec_WeedPolygon",
              [](const Eerr_ErrorReport *r) {
                EXPECT_TRUE(
                    taviron::testing::Reported(r, "evec_WeedPolygon", 2, "Unable to allocate CoordinateBlock"));
              });
  }
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

std::vector<double> Generalized(double tolerance, const std::vector<double> &xy) {
  Matrix m = Points(xy);
  ErrorSlot err;
  evec_GeneralizeMatrix(tolerance, m.get(), &err);
  ExpectNoReport(err);
  return Values(m.get());
}

TEST(EvecGeneralizeMatrix, Cases) {
  struct Case {
    const char *name;
    double tolerance;
    std::vector<double> in, out;
  } cases[] = {
      {"straight line", 0.1, {0, 0, 1, 0, 2, 0, 3, 0}, {0, 0, 3, 0}},
      {"zigzag within the tolerance", 1, {0, 0, 1, 0.5, 2, -0.5, 3, 0.9, 4, 0}, {0, 0, 4, 0}},
      {"single spike", 1, {0, 0, 1, 0, 2, 5, 3, 0, 4, 0}, {0, 0, 2, 5, 4, 0}},
      // Passes keep (1, 3), then (5, -2), then (2, 0), then (4, 0) against the new spans.
      {"one vertex per pass, farthest over all spans", 1,
       {0, 0, 1, 3, 2, 0, 3, 0, 4, 0, 5, -2, 6, 0}, {0, 0, 1, 3, 2, 0, 4, 0, 5, -2, 6, 0}},
      {"closed ring keeps the vertex farthest from the start", 8,
       {0, 0, 0, 10, 10, 10, 10, 0, 0, 0}, {0, 0, 10, 10, 0, 0}},
      // Only distances greater than the tolerance count.
      {"a vertex at the tolerance", 1, {0, 0, 1, 1, 2, 0}, {0, 0, 2, 0}},
      {"a vertex just beyond it", 1, {0, 0, 1, std::nextafter(1.0, 2.0), 2, 0},
       {0, 0, 1, std::nextafter(1.0, 2.0), 2, 0}},
      {"a negative tolerance keeps every vertex", -1, {0, 0, 1, 0, 2, 0}, {0, 0, 1, 0, 2, 0}},
      {"a NaN tolerance keeps the ends", NAN, {0, 0, 1, 5, 2, 0}, {0, 0, 2, 0}},
      {"two points", 0, {0, 0, 5, 5}, {0, 0, 5, 5}},
      {"one point", 0, {5, 5}, {5, 5}},
      {"no points", 0, {}, {}},
  };
  for (const Case &c : cases) EXPECT_EQ(Generalized(c.tolerance, c.in), c.out) << c.name;
  evec_GeneralizeMatrix(1, nullptr, nullptr);
}

TEST(EvecGeneralizeMatrix, AllocationFailureLeavesTheMatrixUnchanged) {
  Matrix m = Points({0, 0, 1, 0, 2, 5, 3, 0, 4, 0});
  ErrorSlot err;
  {
    taviron::testing::FailAllocation fail(1);
    evec_GeneralizeMatrix(1, m.get(), &err);
  }
  ExpectReport(err, "evec_GeneralizeMatrix", 4, "Failure to allocate memory");
  EXPECT_EQ(m->columns, 5);
}

TEST(EvecGeneralizeArc, GeneralisesACopy) {
  MVS layer{};
  layer.weed = 1;
  Matrix arc = Points({0, 0, 1, 0, 2, 5, 3, 0, 4, 0});
  ErrorSlot err;
  Matrix g(evec_GeneralizeArc(&layer, arc.get(), &err));
  ASSERT_TRUE(g);
  EXPECT_EQ(Values(g.get()), (std::vector<double>{0, 0, 2, 5, 4, 0}));
  EXPECT_EQ(arc->columns, 5);
  EXPECT_EQ(evec_GeneralizeArc(nullptr, arc.get(), &err), nullptr);
  ExpectReport(err, "evec_GeneralizeArc", 3, "Invalid input MVS");

  SweepMade([&](Eerr_ErrorReport **e) { return evec_GeneralizeArc(&layer, arc.get(), e); }, DeleteMatrix,
            "evec_GeneralizeArc");
}

} // namespace
