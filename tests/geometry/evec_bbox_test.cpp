// Coordinates, boxes, clip windows and the feature records.
#include <gtest/gtest.h>

#include <cmath>

#include "eirf.h"
#include "geometry_testing.h"
#include "taviron_testing.h"

namespace {

using namespace geotest;

Matrix NewBox() { return Matrix(evec_BboxCreate(nullptr)); }

std::vector<double> BoxValues(const Evec_Bbox *b) { return Values(b); }

TEST(EvecBboxIntersect, BoxesSharingAnEdgeIntersectInAZeroWidthBox) {
  Matrix a = Box(0, 0, 1, 1), b = Box(1, 0, 2, 1), out = NewBox();
  ErrorSlot err;
  EXPECT_EQ(evec_BboxIntersectBbox(a.get(), b.get(), out.get(), &err), 1);
  ExpectNoReport(err);
  EXPECT_EQ(BoxValues(out.get()), (std::vector<double>{1, 0, 1, 1}));
  EXPECT_EQ(evec_BboxIntersectBbox(a.get(), b.get(), nullptr, &err), 1);
}

TEST(EvecBboxIntersect, CornerOrderDoesNotMatter) {
  struct Case {
    std::vector<double> a, b;
    int32_t result;
  } cases[] = {
      {{0, 0, 4, 4}, {2, 1, 6, 3}, 1},
      {{4, 4, 0, 0}, {6, 3, 2, 1}, 1},
      {{0, 4, 4, 0}, {2, 3, 6, 1}, 1},
      {{0, 0, 4, 4}, {5, 0, 6, 4}, 0},
      {{4, 4, 0, 0}, {6, 4, 5, 0}, 0},
  };
  for (const Case &c : cases) {
    Matrix a = Points(c.a), b = Points(c.b), out = NewBox();
    EXPECT_EQ(evec_BboxIntersectBbox(a.get(), b.get(), out.get(), nullptr), c.result);
    if (c.result == 1) {
      EXPECT_EQ(BoxValues(out.get()), (std::vector<double>{2, 1, 4, 3}));
    }
  }
}

TEST(EvecBboxIntersect, DisjointInXLeavesTheOutputYRowAlone) {
  Matrix a = Box(0, 0, 1, 1), b = Box(3, 0, 4, 1), out = Box(-7, -8, -9, -10);
  EXPECT_EQ(evec_BboxIntersectBbox(a.get(), b.get(), out.get(), nullptr), 0);
  // x row holds the inverted pair (low 3 > high 1), the y row what it held.
  EXPECT_EQ(BoxValues(out.get()), (std::vector<double>{3, -8, 1, -10}));
}

TEST(EvecBboxIntersect, MissingBoxIsReported) {
  Matrix a = Box(0, 0, 1, 1);
  ErrorSlot err;
  EXPECT_EQ(evec_BboxIntersectBbox(a.get(), nullptr, nullptr, &err), 0);
  ASSERT_NE(err.get(), nullptr);
  EXPECT_STREQ(err.get()->message, "Bad parms to evec_BboxIntersectBbox");
  EXPECT_STREQ(err.get()->reporter, "evec_BboxIntersectBbox");
  err.Reset();
  EXPECT_EQ(evec_BboxOverlapBbox(nullptr, a.get(), &err), 0);
  ASSERT_NE(err.get(), nullptr);
  EXPECT_STREQ(err.get()->message, "Bad parms to evec_BboxOverlapBbox");
}

TEST(EvecBboxOverlap, TakesCornersAsTheyStand) {
  Matrix a = Box(0, 0, 1, 1), touching = Box(1, 1, 2, 2), apart = Box(1.5, 0, 2, 1);
  EXPECT_EQ(evec_BboxOverlapBbox(a.get(), touching.get(), nullptr), 1);
  EXPECT_EQ(evec_BboxOverlapBbox(a.get(), apart.get(), nullptr), 0);
  // Reversed corners of an overlapping box: the test may answer 0.
  Matrix reversed = Box(1, 1, 0.5, 0.5), inside = Box(0.6, 0.6, 0.7, 0.7);
  EXPECT_EQ(evec_BboxOverlapBbox(reversed.get(), inside.get(), nullptr), 0);
}

TEST(EvecBboxUnion, NormalisesBothOrCopiesTheOneGiven) {
  Matrix a = Box(2, 3, 0, 1), b = Box(5, -1, 4, 0);
  ErrorSlot err;
  Matrix u(evec_BboxUnionBbox(a.get(), b.get(), &err));
  ASSERT_TRUE(u);
  EXPECT_EQ(BoxValues(u.get()), (std::vector<double>{0, -1, 5, 3}));
  Matrix one(evec_BboxUnionBbox(nullptr, a.get(), &err));
  ASSERT_TRUE(one);
  EXPECT_EQ(BoxValues(one.get()), (std::vector<double>{2, 3, 0, 1}));
  EXPECT_EQ(evec_BboxUnionBbox(nullptr, nullptr, &err), nullptr);
  ASSERT_NE(err.get(), nullptr);
  EXPECT_STREQ(err.get()->message, "Bad parms to evec_BboxUnionBbox");
}

TEST(EvecBboxUnion, SurvivesAllocationFailure) {
  Matrix a = Box(0, 0, 1, 1);
  SweepMade([&](Eerr_ErrorReport **e) { return evec_BboxUnionBbox(a.get(), nullptr, e); },
            [](Evec_Bbox *u) { evec_BboxDelete(u, nullptr); }, "evec_BboxUnionBbox",
            [](const Eerr_ErrorReport *r) { EXPECT_STREQ(r->message, "Failure in evec_BboxUnionBbox"); });
}

TEST(EvecBboxCopy, GoesThroughEachMatrixsSteps) {
  Matrix source = Box(1, 2, 3, 4);
  // A row-major box keeps x1, x2 in row 0 and y1, y2 in row 1.
  Matrix raster(egda_BaseDataCreate(2, 2, EGDA_TYPE_F64, EGDA_RASTER, nullptr, nullptr));
  ErrorSlot err;
  evec_BboxCopy(raster.get(), source.get(), &err);
  ExpectNoReport(err);
  const double *v = reinterpret_cast<const double *>(raster->origin);
  EXPECT_EQ((std::vector<double>{v[0], v[1], v[2], v[3]}), (std::vector<double>{1, 3, 2, 4}));
  evec_BboxCopy(nullptr, source.get(), &err);
  EXPECT_NE(err.get(), nullptr);
}

TEST(EvecBboxPrint, PrintsEveryValueInStorageOrder) {
  Matrix box = Box(1, 2.5, -3, 4);
  taviron::testing::CapturedOutput out;
  evec_BboxPrint(box.get(), nullptr);
  EXPECT_EQ(out.Out(), "1.000000\n2.500000\n-3.000000\n4.000000\n");
}

TEST(EvecBboxRectangle, PassesThroughSinglePrecision) {
  Matrix box = Box(0.1, 0.2, 0.3, 0.4);
  Eirf_Rectangle *r = evec_FormBboxRectangle(box.get(), nullptr);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->left, double(0.1f));
  EXPECT_EQ(r->top, double(0.2f));
  EXPECT_EQ(r->right, double(0.3f));
  EXPECT_EQ(r->bottom, double(0.4f));
  Matrix back(evec_FormRectangleBbox(r, nullptr));
  ASSERT_TRUE(back);
  EXPECT_EQ(BoxValues(back.get()), (std::vector<double>{0.1f, 0.2f, 0.3f, 0.4f}));
  eirf_RectangleDelete(r, nullptr);
}

TEST(EvecBboxFromMatrix, OnePointGivesAZeroSizeBoxAndNoPointsAreReported) {
  Matrix pts = Points({3, 4, -1, 9, 7, 0});
  ErrorSlot err;
  Matrix one(evec_GetBboxFromMatrixN(nullptr, pts.get(), 1, &err));
  ASSERT_TRUE(one);
  EXPECT_EQ(BoxValues(one.get()), (std::vector<double>{3, 4, 3, 4}));
  Matrix all(evec_GetBboxFromMatrix(nullptr, pts.get(), &err));
  ASSERT_TRUE(all);
  EXPECT_EQ(BoxValues(all.get()), (std::vector<double>{-1, 0, 7, 9}));
  // A given box is overwritten and returned.
  EXPECT_EQ(evec_GetBboxFromMatrixN(one.get(), pts.get(), 2, &err), one.get());
  EXPECT_EQ(BoxValues(one.get()), (std::vector<double>{-1, 4, 3, 9}));

  EXPECT_EQ(evec_GetBboxFromMatrixN(nullptr, pts.get(), 0, &err), nullptr);
  ExpectReport(err, "evec_GetBboxFromMatrix", 1, "Insufficient coordinates in matrix");
  Matrix empty = Points({});
  EXPECT_EQ(evec_GetBboxFromMatrix(nullptr, empty.get(), &err), nullptr);
  ExpectReport(err, "evec_GetBboxFromMatrix", 1, "Insufficient coordinates in matrix");
}

TEST(EvecBboxFromMatrix, CountBeyondTheMatrixIsReportedNotRead) {
  Matrix pts = Points({3, 4, -1, 9});
  Matrix box = Box(5, 5, 5, 5);
  ErrorSlot err;
  EXPECT_EQ(evec_GetBboxFromMatrixN(box.get(), pts.get(), 3, &err), nullptr);
  ExpectReport(err, "evec_GetBboxFromMatrix", 3, "Insufficient coordinates in matrix");
  EXPECT_EQ(BoxValues(box.get()), (std::vector<double>{5, 5, 5, 5}));
  EXPECT_EQ(evec_GetBboxFromMatrixN(nullptr, nullptr, 1, &err), nullptr);
  ExpectReport(err, "evec_GetBboxFromMatrix", 2, "Invalid input matrix");
  Matrix bytes(egda_BaseDataCreate(2, 4, EGDA_TYPE_U8, EGDA_MATRIX, nullptr, nullptr));
  EXPECT_EQ(evec_GetBboxFromMatrix(nullptr, bytes.get(), &err), nullptr);
  ExpectReport(err, "evec_GetBboxFromMatrix", 2, "Invalid input matrix");
}

TEST(EvecBboxFromCoordBlock, SkipsEmptyPartsAndReportsAnUnusableBlock) {
  Block block = Parts({{1, 1, 2, 5}, {-3, 0, 0, 2}, {}});
  ErrorSlot err;
  Matrix box(evec_GetBboxFromCoordBlock(block.get(), nullptr, &err));
  ASSERT_TRUE(box);
  ExpectNoReport(err);
  EXPECT_EQ(BoxValues(box.get()), (std::vector<double>{-3, 0, 2, 5}));

  Matrix given = Box(9, 9, 9, 9);
  EXPECT_EQ(evec_GetBboxFromCoordBlock(nullptr, given.get(), &err), given.get());
  ExpectReport(err, "evec_GetBboxFromCoordBlock", 1, "Invalid input coordBlock");
  Block firstEmpty = Parts({{}, {1, 1}});
  EXPECT_EQ(evec_GetBboxFromCoordBlock(firstEmpty.get(), nullptr, &err), nullptr);
  ExpectReport(err, "evec_GetBboxFromCoordBlock", 1, "Invalid input coordBlock");
  EXPECT_EQ(BoxValues(given.get()), (std::vector<double>{9, 9, 9, 9}));
}

// A window owning copies of the given boxes (null entries for empty vectors).
ClipWind *Window(std::initializer_list<std::vector<double>> boxes) {
  ClipWind *w = evec_ClipWindCreate(static_cast<int32_t>(boxes.size()), nullptr);
  int32_t i = 0;
  for (const auto &b : boxes) w->boxes[i++] = b.empty() ? nullptr : Points(b).release();
  return w;
}

TEST(EvecClipWind, EmptyWindowFromCreateContainsNoPointYetIntersectsEveryBox) {
  Matrix out = Box(7, 7, 7, 7);
  const int64_t live = emsc_TestLiveBlocks();
  ErrorSlot err;
  ClipWind *w = evec_ClipWindCreate(0, &err);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->boxes, nullptr);
  Evec_Coord c{0, 0};
  EXPECT_EQ(evec_CoordInClipWind(w, &c, &err), 0);
  EXPECT_EQ(evec_CoordInClipWindWithBufferDistance(w, &c, 100, &err), 0);
  for (const auto &b : {std::vector<double>{0, 0, 1, 1}, {-5, 3, 2, 2}, {1e9, 1e9, 1e9, 1e9}}) {
    Matrix box = Points(b);
    EXPECT_EQ(evec_BboxIntersectClipWind(w, box.get(), out.get(), &err), 1);
    ExpectNoReport(err);
  }
  EXPECT_EQ(BoxValues(out.get()), (std::vector<double>{7, 7, 7, 7}));
  evec_ClipWindDelete(w, &err);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

TEST(EvecClipWind, PointTests) {
  ClipWind *w = Window({{0, 0, 1, 1}, {}, {5, 5, 6, 6}});
  struct Case {
    double x, y, distance;
    int32_t result;
  } cases[] = {
      {0.5, 0.5, 0, 1}, {1, 0.5, 0, 1},   {1.01, 0.5, 0, 0}, {1.01, 0.5, 0.02, 1},
      {1.01, 0.5, -0.02, 1}, {5.5, 6, 0, 1}, {3, 3, 0, 0},     {6.5, 6.5, 0.5, 1},
  };
  for (const Case &c : cases) {
    Evec_Coord p{c.x, c.y};
    EXPECT_EQ(evec_CoordInClipWindWithBufferDistance(w, &p, c.distance, nullptr), c.result)
        << c.x << "," << c.y << " d " << c.distance;
    if (c.distance == 0) {
      EXPECT_EQ(evec_CoordInClipWind(w, &p, nullptr), c.result);
    }
  }
  EXPECT_EQ(evec_CoordInClipWind(w, nullptr, nullptr), 0);
  EXPECT_EQ(evec_CoordInClipWind(nullptr, nullptr, nullptr), 0);
  evec_ClipWindDelete(w, nullptr);

  // A window with a box array and count 0 contains every point; one of null entries none.
  ClipWind *arrayOnly = evec_ClipWindCreate(1, nullptr);
  arrayOnly->count = 0;
  Evec_Coord far{1e12, -1e12};
  EXPECT_EQ(evec_CoordInClipWind(arrayOnly, &far, nullptr), 1);
  evec_ClipWindDelete(arrayOnly, nullptr);
  ClipWind *nulls = Window({{}, {}});
  EXPECT_EQ(evec_CoordInClipWind(nulls, &far, nullptr), 0);
  // The box test reports the null entry through the caller's slot.
  Matrix box = Box(0, 0, 1, 1);
  ErrorSlot err;
  EXPECT_EQ(evec_BboxIntersectClipWind(nulls, box.get(), nullptr, &err), 0);
  ASSERT_NE(err.get(), nullptr);
  EXPECT_STREQ(err.get()->message, "Bad parms to evec_BboxIntersectBbox");
  evec_ClipWindDelete(nulls, nullptr);

  // A count without a box array is not read.
  ClipWind broken{2, nullptr};
  EXPECT_EQ(evec_CoordInClipWind(&broken, &far, nullptr), 0);
  EXPECT_EQ(evec_BboxIntersectClipWind(&broken, box.get(), nullptr, &err), 0);
  ASSERT_NE(err.get(), nullptr);
  EXPECT_STREQ(err.get()->message, "Bad parms to evec_BboxIntersectClipWind");
  // Nor is a missing window taken for an empty one.
  EXPECT_EQ(evec_BboxIntersectClipWind(nullptr, box.get(), nullptr, &err), 0);
  ASSERT_NE(err.get(), nullptr);
  EXPECT_STREQ(err.get()->reporter, "evec_BboxIntersectClipWind");
  EXPECT_STREQ(err.get()->message, "Bad parms to evec_BboxIntersectClipWind");
}

TEST(EvecClipWind, BoxMustMeetEveryWindowBox) {
  ClipWind *w = Window({{0, 0, 10, 10}, {5, 5, 20, 20}});
  Matrix inBoth = Box(6, 6, 8, 8), inFirst = Box(1, 1, 2, 2), out = NewBox();
  EXPECT_EQ(evec_BboxIntersectClipWind(w, inBoth.get(), out.get(), nullptr), 1);
  EXPECT_EQ(BoxValues(out.get()), (std::vector<double>{6, 6, 8, 8}));
  EXPECT_EQ(evec_BboxIntersectClipWind(w, inFirst.get(), out.get(), nullptr), 0);
  evec_ClipWindDelete(w, nullptr);
}

TEST(EvecClipWind, CreateSurvivesAllocationFailure) {
  // The nth allocation failing gives code n.
  int32_t code = 0;
  SweepMade(
      [&](Eerr_ErrorReport **e) {
        ++code;
        return evec_ClipWindCreate(3, e);
      },
      [](ClipWind *w) {
        EXPECT_EQ(w->count, 3);
        for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(w->boxes[i], nullptr);
        evec_ClipWindDelete(w, nullptr);
      },
      "evec_ClipWindCreate",
      [&](const Eerr_ErrorReport *r) {
        EXPECT_TRUE(taviron::testing::Reported(r, "evec_ClipWindCreate", code, "Error allocating ClipWind"));
      });
}

TEST(EvecClipLine, PassesTheCallOn) {
  Matrix window = Box(0, 0, 10, 10);
  double x0 = -5, y0 = 5, x1 = 5, y1 = 5;
  EXPECT_EQ(evec_ClipLine(&x0, &y0, &x1, &y1, window.get(), nullptr), 1);
  EXPECT_EQ(x0, 0);
  EXPECT_EQ(x1, 5);
}

TEST(EvecFeatureRecords, CreateAndDeleteWithoutLeaks) {
  const int64_t live = emsc_TestLiveBlocks();
  Evec_NodeRecord *node = evec_NodeCreate(nullptr);
  Evec_PointRecord *point = evec_PointCreate(nullptr);
  ASSERT_NE(node, nullptr);
  ASSERT_NE(point, nullptr);
  ASSERT_NE(node->coord, nullptr);
  ASSERT_NE(point->coord, nullptr);
  evec_NodeDelete(node, nullptr);
  evec_PointDelete(point, nullptr);

  Evec_ArcList *arcs = evec_ArcListCreate(4, nullptr);
  ASSERT_NE(arcs, nullptr);
  EXPECT_EQ(arcs->count, 4);
  EXPECT_NE(arcs->records, nullptr);
  evec_ArcListDelete(arcs, nullptr);
  Evec_ComplexList *none = evec_ComplexListCreate(0, nullptr);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->records, nullptr);
  evec_ComplexListDelete(none, nullptr);
  EXPECT_EQ(evec_LocusListCreate(-1, nullptr), nullptr);
  evec_NodeListDelete(evec_NodeListCreate(2, nullptr), nullptr);
  evec_PolyListDelete(evec_PolyListCreate(2, nullptr), nullptr);
  evec_PointListDelete(evec_PointListCreate(2, nullptr), nullptr);
  evec_RegionListDelete(evec_RegionListCreate(2, nullptr), nullptr);
  evec_SectionListDelete(evec_SectionListCreate(2, nullptr), nullptr);
  evec_LineListDelete(evec_LineListCreate(2, nullptr), nullptr);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);

  taviron::testing::SweepAllocationFailures(
      [](Eerr_ErrorReport **) {
        Evec_NodeRecord *r = evec_NodeCreate(nullptr);
        evec_NodeDelete(r, nullptr);
        return r != nullptr;
      },
      {.reports = false});
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

} // namespace
