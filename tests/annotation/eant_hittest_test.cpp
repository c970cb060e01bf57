// The clip window of a layer, the hit tests of the element types and the selection of the
// topmost element under a coordinate.
#include <initializer_list>
#include <vector>

#include "annotation_testing.h"

namespace {

using namespace taviron::annotation::testing;
using taviron::testing::SweepAllocationFailures;

// A 2 x N f64 coordinate matrix of the points x0, y0, x1, y1, ...
Egda_BaseData *Matrix(std::initializer_list<double> xy) {
  std::vector<double> values(xy);
  Egda_BaseData *m = egda_BaseDataCreate(2, static_cast<int32_t>(values.size() / 2), EGDA_TYPE_F64, EGDA_MATRIX,
                                         nullptr, nullptr);
  std::copy(values.begin(), values.end(), reinterpret_cast<double *>(m->origin));
  return m;
}

struct MatrixHolder {
  Egda_BaseData *m;
  explicit MatrixHolder(Egda_BaseData *matrix) : m(matrix) {}
  ~MatrixHolder() { egda_BaseDataDelete(m, nullptr); }
  Egda_BaseData *get() const { return m; }
};

// A coordinate block holding the parts; freed with them.
struct Block {
  Efga_CoordinateBlock *block;
  explicit Block(std::initializer_list<Egda_BaseData *> parts)
      : block(efga_CoordBlockPtrCreate(static_cast<int32_t>(parts.size()), nullptr)) {
    int32_t i = 0;
    for (Egda_BaseData *part : parts) block->parts[i++] = part;
  }
  ~Block() { efga_CoordBlockDelete(block, nullptr); }
  Efga_CoordinateBlock *get() const { return block; }
};

Evec_Bbox *NewBox(double xmin, double ymin, double xmax, double ymax) {
  Evec_Bbox *box = evec_BboxCreate(nullptr);
  auto *v = reinterpret_cast<double *>(box->origin);
  v[0] = xmin, v[1] = ymin, v[2] = xmax, v[3] = ymax;
  return box;
}

// A renderer line style of one line of the width (no lines for a negative width).
struct Line {
  Eevg_LineDescription description{nullptr, 0};
  Eevg_LineStyle style{};
  explicit Line(double width) {
    description.width = width;
    style.composition = {width < 0 ? 0 : 1, &description};
  }
};

// 2 NDU are 3 map units.
class HitTest : public HeapTest {
protected:
  void SetUp() override {
    HeapTest::SetUp();
    conversion_ = eant_CoordSysConversionSetValues(nullptr, 1.5, 1.5, 1, 1, 0, 0, "meters", "meters", nullptr);
  }
  void TearDown() override {
    eant_CoordSysConversionFree(&conversion_);
    HeapTest::TearDown();
  }
  Eant_CoordSysConversion *conversion_ = nullptr;
};

TEST_F(HitTest, TheToleranceIsTheLargerOfTwoNduAndTheFirstLineWidth) {
  Block line({Matrix({0, 0, 10, 0})});
  struct Case {
    double width, x, y;
    int32_t near;
  } cases[] = {
      {0.5, 5, 2.9, 1}, {0.5, 5, -2.9, 1}, {0.5, 5, 3.1, 0},  // 2 NDU = 3 map units win
      {5, 5, 4.9, 1},   {5, 5, 5.1, 0},                        // the line width wins
      {0.5, 12.9, 0, 1}, {0.5, 13.1, 0, 0},                    // beyond the end, near the vertex
  };
  for (const Case &c : cases) {
    Line style(c.width);
    MatrixHolder at(Matrix({c.x, c.y}));
    ErrorSlot err;
    EXPECT_EQ(c.near, eant_CoordNearPolyline(at.get(), line.get(), 0, &style.style, conversion_, &err))
        << c.width << " at " << c.x << ", " << c.y << Chain(err);
    EXPECT_FALSE(err);
  }
  // The vertex test uses the same tolerance around each vertex.
  Block points({Matrix({0, 0, 10, 10})});
  Line thin(0.5), wide(5);
  MatrixHolder at(Matrix({12.5, 12.5}));
  ErrorSlot err;
  EXPECT_EQ(1, eant_CoordNearPoint(at.get(), points.get(), &thin.style, conversion_, &err)) << Chain(err);
  MatrixHolder far(Matrix({14, 10}));
  EXPECT_EQ(0, eant_CoordNearPoint(far.get(), points.get(), &thin.style, conversion_, &err));
  EXPECT_EQ(1, eant_CoordNearPoint(far.get(), points.get(), &wide.style, conversion_, &err));
}

TEST_F(HitTest, APolygonOutlineHasItsClosingSegmentAPolylineNot) {
  Block square({Matrix({0, 0, 10, 0, 10, 10, 0, 10})});
  Line style(0.5);
  MatrixHolder onClosing(Matrix({0, 5}));
  ErrorSlot err;
  EXPECT_EQ(0, eant_CoordNearPolyline(onClosing.get(), square.get(), 0, &style.style, conversion_, &err));
  EXPECT_EQ(1, eant_CoordNearPolyline(onClosing.get(), square.get(), 1, &style.style, conversion_, &err));
  EXPECT_FALSE(err) << Chain(err);
}

TEST_F(HitTest, BadArgumentsOfTheNearTestsAreReported) {
  Block line({Matrix({0, 0, 10, 0})});
  MatrixHolder at(Matrix({5, 0}));
  Line none(-1), good(1);
  ErrorSlot err;
  EXPECT_EQ(0, eant_CoordNearPolyline(at.get(), line.get(), 0, &none.style, conversion_, &err));
  EXPECT_TRUE(Reported(err, "eant_CoordNearPolyline", 3, "Invalid lineStyle")) << Chain(err);
  EXPECT_EQ(0, eant_CoordNearPoint(at.get(), line.get(), nullptr, conversion_, &err));
  EXPECT_TRUE(Reported(err, "eant_CoordNearPoint", 3, "Invalid lineStyle")) << Chain(err);
  EXPECT_EQ(0, eant_CoordNearPoint(at.get(), line.get(), &good.style, nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_CoordNearPoint", 2, "Error returned by eant_CoordSysConversionScaleAndTransformX"))
      << Chain(err);
  EXPECT_EQ(0, eant_CoordNearPolyline(nullptr, line.get(), 0, &good.style, conversion_, &err));
  EXPECT_TRUE(Reported(err, "eant_CoordNearPolyline", 4, "Error returned by evec_CoordNearPolyline")) << Chain(err);
  EXPECT_EQ(0, eant_CoordNearPoint(at.get(), nullptr, &good.style, conversion_, &err));
  EXPECT_TRUE(Reported(err, "eant_CoordNearPoint", 4, "Error returned from evec_CoordNearPoint")) << Chain(err);
}

TEST_F(HitTest, AFilledPolygonIsHitInsideButNotInItsHoleAnUnfilledOneOnItsOutline) {
  Block withHole({Matrix({0, 0, 100, 0, 100, 100, 0, 100}), Matrix({30, 30, 70, 30, 70, 70, 30, 70})});
  Line outline(0.5); // a tolerance of 3
  Eevg_FillStyle filled{1, 1, nullptr, &outline.style};
  Eevg_FillStyle unfilled{0, 1, nullptr, &outline.style};
  struct Case {
    double x, y;
    int32_t inFilled, inUnfilled;
  } cases[] = {
      {10, 10, 1, 0},   // between outline and hole
      {50, 50, 0, 0},   // in the hole
      {31, 50, 0, 1},   // in the hole, near its outline
      {1, 50, 1, 1},    // near the closing segment of the outer outline
      {102, 50, 0, 1},  // outside, within the tolerance of the outline
      {200, 200, 0, 0}, // far away
  };
  for (const Case &c : cases) {
    MatrixHolder at(Matrix({c.x, c.y}));
    ErrorSlot err;
    EXPECT_EQ(c.inFilled, eant_CoordInPolygon(at.get(), withHole.get(), &filled, conversion_, &err))
        << c.x << ", " << c.y << Chain(err);
    EXPECT_EQ(c.inUnfilled, eant_CoordInPolygon(at.get(), withHole.get(), &unfilled, conversion_, &err))
        << c.x << ", " << c.y << Chain(err);
  }
  ErrorSlot err;
  MatrixHolder two(Matrix({1, 1, 2, 2}));
  MatrixHolder at(Matrix({1, 1}));
  EXPECT_EQ(0, eant_CoordInPolygon(two.get(), withHole.get(), &filled, conversion_, &err));
  EXPECT_TRUE(Reported(err, "eant_CoordInPolygon", 1, "Invalid input coord")) << Chain(err);
  EXPECT_EQ(0, eant_CoordInPolygon(at.get(), nullptr, &filled, conversion_, &err));
  EXPECT_TRUE(Reported(err, "eant_CoordInPolygon", 2, "Invalid input polygons")) << Chain(err);
  Eevg_FillStyle noOutline{0, 0, nullptr, nullptr};
  EXPECT_EQ(0, eant_CoordInPolygon(at.get(), withHole.get(), &noOutline, conversion_, &err));
  EXPECT_TRUE(Reported(err, "eant_CoordInPolygon", 11, "Error returned by eant_CoordNearPolyline")) << Chain(err);
}

TEST_F(HitTest, ACoordinateInARotatedBoxThroughTheRenderTransform) {
  // A diamond around (0, 0), 2 units from the centre to each corner.
  MatrixHolder corners(Matrix({0, -2, -2, 0, 0, 2, 2, 0}));
  Efga_Polynomial *shift = eant_TranslatePolynomialCreate(nullptr, 10, 0, nullptr);
  _exfr_XForm *transform = exfr_XFormCreate(shift, 0, nullptr);
  struct Case {
    double x, y;
    const _exfr_XForm *transform;
    int32_t inside;
  } cases[] = {{0, 0, nullptr, 1}, {1.5, 1.5, nullptr, 0}, {0.9, 0.9, nullptr, 1},
               {10, 0, transform, 1}, {0, 0, transform, 0}};
  for (const Case &c : cases) {
    MatrixHolder at(Matrix({c.x, c.y}));
    ErrorSlot err;
    // The polynomial is not applied: the corners are in layer coordinates already.
    EXPECT_EQ(c.inside, eant_CoordInBoundingBox(corners.get(), shift, c.transform, at.get(), &err))
        << c.x << ", " << c.y << Chain(err);
    EXPECT_FALSE(err);
  }
  ErrorSlot err;
  EXPECT_EQ(0, eant_CoordInBoundingBox(corners.get(), nullptr, nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_CoordInBoundingBox", 1, "Input coord is not valid")) << Chain(err);
  MatrixHolder at(Matrix({0, 0}));
  EXPECT_EQ(0, eant_CoordInBoundingBox(nullptr, nullptr, nullptr, at.get(), &err));
  EXPECT_TRUE(Reported(err, "eant_CoordInBoundingBox", 2, "Error returned from eant_GetRotatedBoundingBox"))
      << Chain(err);
  exfr_XFormFree(&transform, nullptr);
  efga_PolynomialDelete(shift, nullptr);
}

// ---- The clip window and the selection ----

// The hit-test slot of the test elements: inside their stored corners.
int32_t CoordInCorners(Eint_InitToolkitData *, Eant_StyleLibrary *, Eant_SymbolLibrary *, Eant_Criteria *,
                       Eant_Element *element, _exfr_XForm *transform, Eant_CoordSysConversion *, Egda_BaseData *coord,
                       Eerr_ErrorReport **err) {
  return eant_CoordInBoundingBox(element->bBox, element->xformMatrix, transform, coord, err);
}
const Eant_ElementFunctions &HitTable() {
  static const Eant_ElementFunctions table = [] {
    Eant_ElementFunctions t = TestType::Table();
    t.coordInElement = &CoordInCorners;
    return t;
  }();
  return table;
}

class ClipWindowTest : public HeapTest {
protected:
  // An element of the info whose box is (x0, y0)-(x1, y1), appended to the info's list.
  Eant_Element *Add(double x0, double y0, double x1, double y1) {
    Eant_Element *element = NewTestElement(0, info_.get());
    element->functions = &HitTable();
    element->antInfo = info_.get();
    eant_ElementSetBBox(element, x0, y0, x0, y1, x1, y1, x1, y0, nullptr);
    Eant_Element **link = &info_->elements;
    Eant_Element *previous = nullptr;
    while (*link) {
      previous = *link;
      link = &(*link)->next;
    }
    *link = element;
    element->previous = previous;
    return element;
  }
  int32_t Passes(Eant_Element *element) {
    ErrorSlot err;
    const int32_t passes = eant_CriteriaCheck(element, nullptr, info_->criteria, &err);
    EXPECT_FALSE(err) << Chain(err);
    return passes;
  }
  Eant_Element *Select(double x, double y, ErrorSlot &err) {
    MatrixHolder at(Matrix({x, y}));
    return eant_SelectNextElementByCoord(nullptr, nullptr, nullptr, info_->criteria, info_->elements, nullptr, nullptr,
                                         at.get(), &err);
  }
  void TearDown() override {
    eant_ClearClipWindow(info_.get(), nullptr);
    eant_CriteriaFree(&info_->criteria);
    eant_ElementListFree(&info_->elements);
    HeapTest::TearDown();
  }
  TestInfo info_;
};

TEST_F(ClipWindowTest, TheWindowKeepsElementsMeetingEveryBoxAndSetMakesItOneBox) {
  Eant_Element *left = Add(0, 0, 1, 1), *right = Add(5, 5, 6, 6);
  EXPECT_EQ(1, Passes(left)); // no window: every element passes
  Evec_Bbox *leftBox = NewBox(-1, -1, 2, 2), *rightBox = NewBox(4, 4, 7, 7);
  ErrorSlot err;
  eant_SetClipWindow(info_.get(), leftBox, &err);
  ASSERT_FALSE(err) << Chain(err);
  ASSERT_NE(nullptr, info_->clipWindow);
  EXPECT_EQ(info_->clipWindow, eant_CriteriaListLookup(info_.get(), "Clip Window", &err)->data);
  EXPECT_EQ(1, Passes(left));
  EXPECT_EQ(0, Passes(right));
  // A second, disjoint box: no element meets both.
  eant_AddClipWindow(info_.get(), rightBox, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ(2, info_->clipWindow->clipWindow->count);
  EXPECT_EQ(0, Passes(left));
  EXPECT_EQ(0, Passes(right));
  // Set brings back drawing of the elements in its one box; the caller's box stays its own.
  eant_SetClipWindow(info_.get(), rightBox, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ(1, info_->clipWindow->clipWindow->count);
  EXPECT_EQ(0, Passes(left));
  EXPECT_EQ(1, Passes(right));
  // Cleared twice: the second time there is nothing to do and nothing to report.
  eant_ClearClipWindow(info_.get(), &err);
  EXPECT_FALSE(err) << Chain(err);
  EXPECT_EQ(nullptr, info_->criteria);
  EXPECT_EQ(nullptr, info_->clipWindow);
  eant_ClearClipWindow(info_.get(), &err);
  EXPECT_FALSE(err) << Chain(err);
  EXPECT_EQ(1, Passes(left));
  evec_BboxDelete(leftBox, nullptr);
  evec_BboxDelete(rightBox, nullptr);
}

TEST_F(ClipWindowTest, BadArgumentsAreReported) {
  Evec_Bbox *box = NewBox(0, 0, 1, 1);
  MatrixHolder notABox(Matrix({0, 0, 1, 1, 2, 2}));
  ErrorSlot err;
  eant_AddClipWindow(nullptr, box, &err);
  EXPECT_TRUE(Reported(err, "eant_AddClipWindow", 1, "Invalid input annotation info")) << Chain(err);
  eant_AddClipWindow(info_.get(), nullptr, &err);
  EXPECT_TRUE(Reported(err, "eant_AddClipWindow", 2, "Invalid input clipping window")) << Chain(err);
  eant_SetClipWindow(nullptr, box, &err);
  EXPECT_TRUE(Reported(err, "eant_SetClipWindow", 1, "Invalid input annotation info")) << Chain(err);
  eant_SetClipWindow(info_.get(), notABox.get(), &err);
  EXPECT_TRUE(Reported(err, "eant_SetClipWindow", 2, "Invalid input clipping window")) << Chain(err);
  EXPECT_EQ(nullptr, info_->criteria);

  Eant_Element *element = Add(0, 0, 1, 1);
  EXPECT_EQ(0, eant_ElementIntersectClipWind(element, nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_ElementIntersectClipWind", 1, "Invalid input clipData")) << Chain(err);
  Eant_ClipData *data = eant_ClipDataCreate(&err);
  ASSERT_NE(nullptr, data) << Chain(err);
  EXPECT_EQ(0, eant_ElementIntersectClipWind(element, nullptr, data, &err));
  EXPECT_TRUE(Reported(err, "eant_ElementIntersectClipWind", 2, "Invalid clipping window in input clipData"))
      << Chain(err);
  data->clipWindow = evec_ClipWindCreate(0, nullptr);
  EXPECT_EQ(0, eant_ElementIntersectClipWind(nullptr, nullptr, data, &err));
  EXPECT_TRUE(Reported(err, "eant_ElementIntersectClipWind", 3, "Invalid input element")) << Chain(err);
  egda_BaseDataDelete(element->bBox, nullptr);
  element->bBox = nullptr;
  EXPECT_EQ(0, eant_ElementIntersectClipWind(element, nullptr, data, &err));
  EXPECT_TRUE(Reported(err, "eant_ElementIntersectClipWind", 4, "Error returned from eant_GetBoundingBox"))
      << Chain(err);
  eant_ClipDataFree(&data);
  EXPECT_EQ(nullptr, data);
  evec_BboxDelete(box, nullptr);
}

TEST_F(ClipWindowTest, AFailedAddLeavesTheWindowAsItWas) {
  Eant_Element *inside = Add(0, 0, 1, 1);
  Evec_Bbox *first = NewBox(-1, -1, 2, 2), *second = NewBox(4, 4, 7, 7);
  // The first box: a failure leaves no criterion behind (it would fail every element).
  SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) {
        eant_AddClipWindow(info_.get(), first, err);
        if (*err) {
          EXPECT_EQ(nullptr, info_->criteria);
        }
        return !*err;
      },
      [&] { eant_ClearClipWindow(info_.get(), nullptr); });
  ErrorSlot err;
  eant_AddClipWindow(info_.get(), first, &err);
  ASSERT_FALSE(err) << Chain(err);
  // A further box: a failure keeps the one box and the element passing.
  SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) {
        eant_AddClipWindow(info_.get(), second, e);
        if (*e) {
          EXPECT_EQ(1, info_->clipWindow->clipWindow->count);
          EXPECT_EQ(1, Passes(inside));
        }
        return !*e;
      },
      [&] {
        eant_SetClipWindow(info_.get(), first, nullptr);
      });
  evec_BboxDelete(first, nullptr);
  evec_BboxDelete(second, nullptr);
}

TEST_F(ClipWindowTest, TheTopmostElementUnderTheCoordinateThatPassesTheCriteriaIsSelected) {
  Eant_Element *bottom = Add(0, 0, 2, 2), *top = Add(1, 1, 3, 3), *apart = Add(5, 5, 6, 6);
  struct Case {
    double x, y;
    Eant_Element *expected;
  } cases[] = {{1.5, 1.5, top}, {0.5, 0.5, bottom}, {5.5, 5.5, apart}, {9, 9, nullptr}};
  for (const Case &c : cases) {
    ErrorSlot err;
    EXPECT_EQ(c.expected, Select(c.x, c.y, err)) << c.x << ", " << c.y << Chain(err);
    EXPECT_FALSE(err);
  }
  // The given element only names the list.
  ErrorSlot err;
  MatrixHolder at(Matrix({1.5, 1.5}));
  EXPECT_EQ(top, eant_SelectNextElementByCoord(nullptr, nullptr, nullptr, nullptr, apart, nullptr, nullptr, at.get(),
                                               &err));
  EXPECT_EQ(nullptr, eant_SelectNextElementByCoord(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                   at.get(), &err));
  EXPECT_FALSE(err);
  // An element outside the clip window is never selected, even under the coordinate.
  Evec_Bbox *window = NewBox(-1, -1, 0.5, 0.5);
  eant_SetClipWindow(info_.get(), window, &err);
  EXPECT_EQ(bottom, Select(1.5, 1.5, err)) << Chain(err);
  evec_BboxDelete(window, nullptr);
  // A type without a hit test fails the search.
  bottom->functions = &TestType::Table();
  EXPECT_EQ(nullptr, Select(1.5, 1.5, err));
  EXPECT_TRUE(Reported(err, "eant_SelectNextElementByCoord", 2, "Error returned from eant_ElementCoordInElement"))
      << Chain(err);
}

// The info's free and copy take its clip window along.
class ClipWindowInfoTest : public PackageTest {};

TEST_F(ClipWindowInfoTest, FreeAndCopyLoseNoClipWindow) {
  ErrorSlot err;
  Eant_AnnotationInfo *source = eant_AnnotationInfoCreate(toolkit_, &err);
  Eant_AnnotationInfo *target = eant_AnnotationInfoCreate(toolkit_, &err);
  ASSERT_TRUE(source && target) << Chain(err);
  Evec_Bbox *box = NewBox(0, 0, 1, 1);
  eant_AddClipWindow(source, box, &err);
  eant_AddClipWindow(target, box, &err);
  ASSERT_FALSE(err) << Chain(err);
  // A copy has no criteria: the target's own window goes.
  EXPECT_EQ(target, eant_AnnotationInfoCopy(source, target, &err)) << Chain(err);
  EXPECT_EQ(nullptr, target->criteria);
  EXPECT_EQ(nullptr, target->clipWindow);
  eant_AnnotationInfoFree(&target);
  eant_AnnotationInfoFree(&source);
  evec_BboxDelete(box, nullptr);
  EXPECT_TRUE(HeapAsAtStart());
}

} // namespace
