// Corner boxes, axis-aligned boxes and polynomials; element and list boxes; the layer box and the
// measuring drawing sized from it.
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "annotation_testing.h"

namespace {

using namespace taviron::annotation::testing;

class BoxTest : public HeapTest {};

using Corners = std::vector<double>; // x0, y0, x1, y1, x2, y2, x3, y3

Egda_BaseData *NewCorners(const Corners &values) {
  Egda_BaseData *m = egda_BaseDataCreate(2, static_cast<int32_t>(values.size() / 2), EGDA_TYPE_F64, EGDA_MATRIX,
                                         nullptr, nullptr);
  std::copy(values.begin(), values.end(), reinterpret_cast<double *>(m->origin));
  return m;
}
Corners Values(const Egda_BaseData *m) {
  const auto *v = reinterpret_cast<const double *>(m->origin);
  return Corners(v, v + m->count);
}
// An axis-aligned box as xmin, ymin, xmax, ymax (its stored order).
Corners BoxValues(const Evec_Bbox *box) { return Values(box); }
Evec_Bbox *NewBox(double xmin, double ymin, double xmax, double ymax) {
  Evec_Bbox *box = evec_BboxCreate(nullptr);
  auto *v = reinterpret_cast<double *>(box->origin);
  v[0] = xmin, v[1] = ymin, v[2] = xmax, v[3] = ymax;
  return box;
}

void ExpectNear(const Corners &expected, const Corners &actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(expected[i], actual[i], 1e-9) << i;
}

TEST_F(BoxTest, TheBoxOfCornersHoldsThemAllWhateverThePolynomial) {
  ErrorSlot err;
  // A 2 x 2 square turned by 45 degrees about the origin.
  const double r = std::sqrt(2.0);
  Egda_BaseData *corners = NewCorners({0, 0, -r, r, 0, 2 * r, r, r});
  Evec_Bbox *box = eant_GetBoundingBox(corners, nullptr, nullptr, nullptr, nullptr, &err);
  ASSERT_NE(nullptr, box) << Chain(err);
  ExpectNear({-r, 0, r, 2 * r}, BoxValues(box));
  // The polynomial is not applied: stored corners are in layer coordinates already.
  Efga_Polynomial *p = eant_TranslatePolynomialCreate(nullptr, 100, 100, &err);
  Egda_BaseData *work = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &err);
  EXPECT_EQ(box, eant_GetBoundingBox(corners, work, p, nullptr, box, &err));
  ExpectNear({-r, 0, r, 2 * r}, BoxValues(box));
  ExpectNear(Values(corners), Values(work)); // the given work matrix holds the carried corners
  Egda_BaseData *same = eant_GetRotatedBoundingBox(corners, p, nullptr, nullptr, &err);
  ExpectNear(Values(corners), Values(same));
  // A render transform is applied.
  _exfr_XForm *shift = exfr_XFormCreate(p, 0, &err);
  EXPECT_EQ(same, eant_GetRotatedBoundingBox(corners, nullptr, shift, same, &err));
  EXPECT_NEAR(100, Values(same)[0], 1e-12);
  Evec_Bbox *moved = eant_GetBoundingBox(corners, nullptr, nullptr, shift, nullptr, &err);
  ExpectNear({100 - r, 100, 100 + r, 100 + 2 * r}, BoxValues(moved));
  EXPECT_FALSE(err);
  // Corners must be 2 x 4 doubles.
  Egda_BaseData *three = NewCorners({0, 0, 1, 1, 2, 2});
  Egda_BaseData *integers = egda_BaseDataCreate(2, 4, EGDA_TYPE_S32, EGDA_MATRIX, nullptr, &err);
  for (Egda_BaseData *bad : {static_cast<Egda_BaseData *>(nullptr), three, integers}) {
    EXPECT_EQ(nullptr, eant_GetBoundingBox(bad, nullptr, nullptr, nullptr, nullptr, &err));
    EXPECT_TRUE(Reported(err.get(), "eant_GetBoundingBox", 1, "Invalid input annotation bounding box"));
  }
  for (Egda_BaseData *m : {corners, work, same, three, integers}) egda_BaseDataDelete(m, nullptr);
  for (Evec_Bbox *b : {box, moved}) evec_BboxDelete(b, nullptr);
  exfr_XFormFree(&shift, nullptr);
  efga_PolynomialDelete(p, nullptr);
}

TEST_F(BoxTest, UnionOfBoxes) {
  ErrorSlot err;
  Evec_Bbox *a = NewBox(0, 0, 2, 1), *b = NewBox(5, -3, 6, -1);
  Evec_Bbox *self = eant_BoundingBoxUnion(a, a, &err);
  EXPECT_EQ(BoxValues(a), BoxValues(self));
  Evec_Bbox *both = eant_BoundingBoxUnion(a, b, &err);
  EXPECT_EQ((Corners{0, -3, 6, 1}), BoxValues(both));
  EXPECT_FALSE(err);
  EXPECT_EQ(nullptr, eant_BoundingBoxUnion(nullptr, b, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_BoundingBoxUnion", 1, "Invalid input 1st bounding box"));
  EXPECT_EQ(nullptr, eant_BoundingBoxUnion(a, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_BoundingBoxUnion", 2, "Invalid input 2nd bounding box"));
  for (Evec_Bbox *box : {a, b, self, both}) evec_BboxDelete(box, nullptr);
}

TEST_F(BoxTest, ParametersOfPolynomials) {
  ErrorSlot err;
  struct Case {
    Efga_Polynomial *p;
    double angle, xScale, yScale, tx, ty;
  } cases[] = {
      {eant_IdentityPolynomialCreate(nullptr, &err), 0, 1, 1, 0, 0},
      {eant_TranslatePolynomialCreate(nullptr, 3, -4, &err), 0, 1, 1, 3, -4},
      {eant_AffinePolynomialCreate(nullptr, 0.5, 2, 3, &err), 0.5, 2, 3, 0, 0},
      {eant_AffinePolynomialCreate(nullptr, -2.5, 1, 4, &err), -2.5, 1, 4, 0, 0},
      {eant_ScalePolynomialCreate(nullptr, 2, 0, &err), 0, 2, 0, 0, 0}, // second column zero
  };
  for (const Case &c : cases) {
    double angle = 9, xScale = 9, yScale = 9;
    Eevg_Coord *t = eant_ParametersGetFromPolynomial(c.p, &angle, &xScale, &yScale, &err);
    ASSERT_NE(nullptr, t) << Chain(err);
    EXPECT_NEAR(c.angle, angle, 1e-12);
    EXPECT_NEAR(c.xScale, xScale, 1e-12);
    EXPECT_NEAR(c.yScale, yScale, 1e-12);
    EXPECT_EQ(c.tx, t->x);
    EXPECT_EQ(c.ty, t->y);
    eevg_CoordFree(&t);
    efga_PolynomialDelete(c.p, nullptr);
  }
  EXPECT_EQ(nullptr, eant_ParametersGetFromPolynomial(nullptr, nullptr, nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ParametersGetFromPolynomial", 1, "Invalid input polynomial"));
}

TEST_F(BoxTest, ACoordinateThroughAPolynomialAndAPolynomialBeforeATransform) {
  ErrorSlot err;
  Efga_Polynomial *scale = eant_ScalePolynomialCreate(nullptr, 2, 3, &err);
  const Eevg_Coord at{1, 1};
  Eevg_Coord *mapped = eant_CoordTransform(&at, scale, &err);
  ASSERT_NE(nullptr, mapped) << Chain(err);
  EXPECT_EQ(2, mapped->x);
  EXPECT_EQ(3, mapped->y);
  eevg_CoordFree(&mapped);
  EXPECT_EQ(nullptr, eant_CoordTransform(nullptr, scale, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CoordTransform", 1, "Invalid input coordinate"));
  EXPECT_EQ(nullptr, eant_CoordTransform(&at, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CoordTransform", 2, "Invalid input polynomial"));
  // The polynomial applies first, then the transform.
  Efga_Polynomial *shift = eant_TranslatePolynomialCreate(nullptr, 10, 0, &err);
  _exfr_XForm *after = exfr_XFormCreate(shift, 0, &err);
  _exfr_XForm *both = eant_AddXForm(scale, after, &err);
  Egda_BaseData *point = NewCorners({1, 1});
  EXPECT_EQ(point, exfr_Transform(both, point, point, &err));
  EXPECT_EQ((Corners{12, 3}), Values(point));
  // Either may be missing.
  _exfr_XForm *identity = eant_AddXForm(nullptr, nullptr, &err);
  ASSERT_NE(nullptr, identity);
  exfr_Transform(identity, point, point, &err);
  EXPECT_EQ((Corners{12, 3}), Values(point));
  EXPECT_FALSE(err);
  exfr_XFormFree(&identity, nullptr);
  exfr_XFormFree(&both, nullptr);
  exfr_XFormFree(&after, nullptr);
  egda_BaseDataDelete(point, nullptr);
  efga_PolynomialDelete(shift, nullptr);
  efga_PolynomialDelete(scale, nullptr);
}

TEST_F(BoxTest, ABoxTurnedToTheAxesAtTheOriginAndBack) {
  ErrorSlot err;
  Egda_BaseData *box = NewCorners({2, 4, 2, 10, 6, 10, 6, 4});
  double angle = 9, cx = 0, cy = 0;
  Egda_BaseData *centred = eant_OrthoBboxAtOrigin(box, &angle, &cx, &cy, &err);
  ASSERT_NE(nullptr, centred) << Chain(err);
  EXPECT_EQ(0, angle);
  EXPECT_EQ(4, cx);
  EXPECT_EQ(7, cy);
  ExpectNear({-2, -3, -2, 3, 2, 3, 2, -3}, Values(centred));
  // A box turned by 30 degrees comes back to the axes, and back to where it was.
  const double t = M_PI / 6;
  Egda_BaseData *turned = eant_RotateAndTranslateBbox(centred, t, 4, 7, nullptr, &err);
  Egda_BaseData *again = eant_OrthoBboxAtOrigin(turned, &angle, &cx, &cy, &err);
  EXPECT_NEAR(t, angle, 1e-12);
  EXPECT_NEAR(4, cx, 1e-12);
  EXPECT_NEAR(7, cy, 1e-12);
  ExpectNear(Values(centred), Values(again));
  // The output is reused when it is 2 x 4, replaced when it is not.
  EXPECT_EQ(turned, eant_RotateAndTranslateBbox(again, 0, 4, 7, turned, &err));
  ExpectNear(Values(box), Values(turned));
  Egda_BaseData *odd = egda_BaseDataCreate(2, 2, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &err);
  Egda_BaseData *fresh = eant_RotateAndTranslateBbox(again, 0, 4, 7, odd, &err);
  ASSERT_NE(nullptr, fresh);
  ExpectNear(Values(box), Values(fresh));
  EXPECT_FALSE(err);
  Egda_BaseData *three = NewCorners({0, 0, 1, 1, 2, 2});
  EXPECT_EQ(nullptr, eant_OrthoBboxAtOrigin(three, &angle, &cx, &cy, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_OrthoBboxAtOrigin", 1, "Invalid input bounding box"));
  EXPECT_EQ(nullptr, eant_RotateAndTranslateBbox(three, 0, 0, 0, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_RotateAndTranslateBbox", 1, "Invalid input bounding box"));
  // An edge of length 0 gives the angle 0.
  Egda_BaseData *point = NewCorners({1, 1, 1, 1, 1, 1, 1, 1});
  Egda_BaseData *flat = eant_OrthoBboxAtOrigin(point, &angle, &cx, &cy, &err);
  EXPECT_EQ(0, angle);
  for (Egda_BaseData *m : {box, centred, turned, again, fresh, three, point, flat}) egda_BaseDataDelete(m, nullptr);
}

TEST_F(BoxTest, CornersOfACoordinateBlock) {
  ErrorSlot err;
  Efga_CoordinateBlock *block = efga_CoordBlockPtrCreate(2, &err);
  block->parts[0] = NewCorners({0, 5, 3, 1});
  block->parts[1] = NewCorners({-2, 2, 1, 7});
  Egda_BaseData *corners = eant_GetBboxFromCoordBlock(block, nullptr, &err);
  ASSERT_NE(nullptr, corners) << Chain(err);
  EXPECT_EQ((Corners{-2, 1, -2, 7, 3, 7, 3, 1}), Values(corners));
  EXPECT_EQ(corners, eant_GetBboxFromCoordBlock(block, corners, &err));
  EXPECT_EQ(nullptr, eant_GetBboxFromCoordBlock(nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_GetBboxFromCoordBlock", 1, "Error returned from evec_GetBboxFromCoordBlock"));
  egda_BaseDataDelete(corners, nullptr);
  efga_CoordBlockDelete(block, nullptr);
}

class ElementBoxTest : public HeapTest {
protected:
  void SetUp() override {
    HeapTest::SetUp();
    info_ = std::make_unique<TestInfo>();
  }
  void TearDown() override {
    info_.reset(); // before the heap is checked
    HeapTest::TearDown();
  }
  // A test element whose own box is (x0, y0)-(x1, y1) and whose stored box is its computed one.
  Eant_Element *Element(double x0, double y0, double x1, double y1) {
    Eant_Element *element = NewTestElement(0, info_->get());
    TestType::Record(element) = {0, x0, y0, x1, y1};
    eant_ElementSetBBox(element, x0, y0, x0, y1, x1, y1, x1, y0, nullptr);
    return element;
  }
  Corners LayerBox() {
    Evec_Bbox *box = eant_GetAntBoundingBox(info_->get(), nullptr, nullptr);
    Corners values = box ? BoxValues(box) : Corners{};
    evec_BboxDelete(box, nullptr);
    return values;
  }
  std::unique_ptr<TestInfo> info_;
  Eant_AnnotationInfo *Info() { return info_->get(); }
};

TEST_F(ElementBoxTest, StoredBoxesFreshBoxesAndTheirUnions) {
  ErrorSlot err;
  Eant_Element *a = Element(0, 0, 1, 1), *b = Element(4, -2, 5, 0);
  Info()->elements = Linked({a, b});
  Evec_Bbox *box = eant_ElementBoundingBoxGet(a, nullptr, &err);
  EXPECT_EQ((Corners{0, 0, 1, 1}), BoxValues(box));
  Evec_Bbox *one = eant_ElementListBoundingBoxGet(b, &err);
  EXPECT_EQ((Corners{4, -2, 5, 0}), BoxValues(one)) << "a one-element list gives the element's box";
  Evec_Bbox *all = eant_ElementListBoundingBoxGet(a, &err);
  EXPECT_EQ((Corners{0, -2, 5, 1}), BoxValues(all));
  Egda_BaseData *rotated = eant_ElementRotatedBoundingBoxGet(a, nullptr, &err);
  EXPECT_EQ(Values(a->bBox), Values(rotated));
  // The type's fresh box follows the element's transform; computing it leaves the stored box.
  Efga_Polynomial *shift = eant_TranslatePolynomialCreate(nullptr, 10, 0, &err);
  eant_ElementSetXformMatrix(a, shift, &err);
  Evec_Bbox *fresh = eant_ElementBoundingBoxCalculateNoSave(a, nullptr, nullptr, &err);
  EXPECT_EQ((Corners{10, 0, 11, 1}), BoxValues(fresh));
  EXPECT_EQ((Corners{0, 0, 0, 1, 1, 1, 1, 0}), Values(a->bBox));
  Evec_Bbox *freshAll = eant_ElementListBoundingBoxCalculateNoSave(a, nullptr, nullptr, &err);
  EXPECT_EQ((Corners{4, -2, 11, 1}), BoxValues(freshAll));
  EXPECT_TRUE(LayerBox().empty()) << "nothing has grown the layer box yet";
  // Computing and storing replaces the stored box and grows the layer box.
  eant_ElementBboxComputeAndReset(a, nullptr, &err);
  EXPECT_EQ((Corners{10, 0, 10, 1, 11, 1, 11, 0}), Values(a->bBox));
  EXPECT_EQ((Corners{10, 0, 11, 1}), LayerBox());
  Evec_Bbox *computed = eant_ElementListBoundingBoxCompute(a, nullptr, &err);
  EXPECT_EQ((Corners{4, -2, 11, 1}), BoxValues(computed));
  EXPECT_EQ((Corners{4, -2, 11, 1}), LayerBox());
  EXPECT_FALSE(err) << Chain(err);
  // Errors.
  EXPECT_EQ(nullptr, eant_ElementBoundingBoxGet(nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementBoundingBoxGet", 1, "Invalid input element"));
  EXPECT_EQ(nullptr, eant_ElementListBoundingBoxGet(nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListBoundingBoxGet", 1, "Invalid input element list"));
  EXPECT_EQ(nullptr, eant_ElementRotatedBoundingBoxGet(nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementRotatedBoundingBoxGet", 1, "Invalid annotation element"));
  egda_BaseDataDelete(b->bBox, nullptr);
  b->bBox = nullptr;
  EXPECT_EQ(nullptr, eant_ElementListBoundingBoxGet(a, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListBoundingBoxGet", 4, "Error returned from eant_ElementBoundingBoxGet"));
  b->functions = nullptr; // no type: no fresh box
  EXPECT_EQ(nullptr, eant_ElementListBoundingBoxCalculateNoSave(a, nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListBoundingBoxCalculateNoSave", 4,
                       "Error returned from eant_ElementBoundingBoxCalculateNoSave"));
  b->functions = &TestType::Table();
  for (Evec_Bbox *x : {box, one, all, fresh, freshAll, computed}) evec_BboxDelete(x, nullptr);
  egda_BaseDataDelete(rotated, nullptr);
  efga_PolynomialDelete(shift, nullptr);
}

TEST_F(ElementBoxTest, AGroupsChildrenAreComputedFirst) {
  ErrorSlot err;
  Eant_Element *group = Element(0, 0, 0, 0), *child = Element(0, 0, 1, 1);
  group->elmType = EANT_GROUP;
  Adopt(group, {child});
  Info()->elements = group;
  TestType::Record(child) = {0, 2, 2, 3, 3};
  eant_ElementBboxComputeAndReset(group, nullptr, &err);
  EXPECT_EQ((Corners{2, 2, 2, 3, 3, 3, 3, 2}), Values(child->bBox));
  EXPECT_EQ((Corners{0, 0, 3, 3}), LayerBox());
  eant_ElementBboxComputeAndReset(nullptr, nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ElementBboxComputeAndReset", 1, "Invalid input element"));
}

TEST_F(ElementBoxTest, TheLayerBoxGrowsWithElementsAndShrinksOnlyWhenComputed) {
  ErrorSlot err;
  TestInfo bare(false);
  Eant_Element *element = Element(0, 0, 4, 2);
  Info()->elements = element;
  // A layer without a header gets one, holding the element's box.
  eant_AntBoundingBoxUpdateByElement(bare.get(), element, &err);
  ASSERT_FALSE(err) << Chain(err);
  ASSERT_NE(nullptr, bare->antHead);
  Evec_Bbox *box = eant_GetAntBoundingBox(bare.get(), nullptr, &err);
  EXPECT_EQ((Corners{0, 0, 4, 2}), BoxValues(box));
  EXPECT_EQ(1, bare->modified);
  evec_BboxDelete(box, nullptr);
  // Moving the element inwards keeps the layer box; computing the boxes shrinks it.
  eant_AntBoundingBoxUpdateByElement(Info(), element, &err);
  Efga_Polynomial *inwards = eant_ScalePolynomialCreate(nullptr, 0.5, 0.5, &err);
  eant_ElementUpdateByPoly(Info(), nullptr, element, inwards, &err);
  EXPECT_EQ((Corners{0, 0, 2, 1}), BoxValues(box = eant_ElementBoundingBoxGet(element, nullptr, &err)));
  evec_BboxDelete(box, nullptr);
  EXPECT_EQ((Corners{0, 0, 4, 2}), LayerBox());
  eant_ComputeAntBoundingBox(Info(), nullptr, &err);
  EXPECT_EQ((Corners{0, 0, 2, 1}), LayerBox());
  EXPECT_FALSE(err) << Chain(err);
  // A layer without elements gets the zero box.
  eant_ElementListFree(&Info()->elements);
  eant_ComputeAntBoundingBox(Info(), nullptr, &err);
  EXPECT_EQ((Corners{0, 0, 0, 0}), LayerBox());
  // Set and get give the same box while the header's transforms are identity.
  Evec_Bbox *set = NewBox(-5, 1, 7, 9);
  eant_SetAntBoundingBox(Info(), set, &err);
  EXPECT_EQ(BoxValues(set), LayerBox());
  // The header keeps its corners through the inverse of the layer transform.
  Info()->antHead->xformMatrix = eant_TranslatePolynomialCreate(Info()->antHead->xformMatrix, 1, 1, &err);
  Info()->antHead->ixformMatrix = eant_TranslatePolynomialCreate(Info()->antHead->ixformMatrix, -1, -1, &err);
  eant_SetAntBoundingBox(Info(), set, &err);
  EXPECT_EQ((Corners{-6, 0, -6, 8, 6, 8, 6, 0}), Values(Info()->antHead->bBox));
  EXPECT_FALSE(err);
  // Errors.
  eant_AntBoundingBoxUpdateByElement(nullptr, nullptr, &err);
  EXPECT_FALSE(err) << "a null info does nothing";
  eant_AntBoundingBoxUpdateByElement(Info(), nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_AntBoundingBoxUpdateByElement", 1, "Invalid input element"));
  eant_SetAntBoundingBox(nullptr, set, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_SetAntBoundingBox", 1, "Invalid input annotation info"));
  eant_SetAntBoundingBox(Info(), nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_SetAntBoundingBox", 2, "Invalid input bBox"));
  EXPECT_EQ(nullptr, eant_GetAntBoundingBox(nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_GetAntBoundingBox", 1, "Invalid annotation information"));
  TestInfo headless(false);
  EXPECT_EQ(nullptr, eant_GetAntBoundingBox(headless.get(), nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_GetAntBoundingBox", 2, "Invalid annotation header"));
  eant_ComputeAntBoundingBox(headless.get(), nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ComputeAntBoundingBox", 2, "Invalid annotation header"));
  headless->antHead = eant_AntHeaderCreate(&err);
  EXPECT_EQ(nullptr, eant_GetAntBoundingBox(headless.get(), nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_GetAntBoundingBox", 3, "Error returned from eant_GetBoundingBox"));
  EXPECT_TRUE(Reported(err->next, "eant_GetBoundingBox", 1, "Invalid input annotation bounding box"));
  evec_BboxDelete(set, nullptr);
  efga_PolynomialDelete(inwards, nullptr);
}

class MeasuringDrawingTest : public HeapTest {
protected:
  // The renderer's control record (built once per process) needs a font list; a one-font list
  // does.
  static void SetUpTestSuite() {
    setenv("NORIX_FONT_PATH", TAVIRON_TEST_DATA_DIR, 1);
    ASSERT_NE(nullptr, eevg_Init(nullptr));
  }
  // The device size of the info's measuring drawing: the device pixel of the world's upper-right
  // corner is (width - 1, height - 1).
  std::pair<double, double> DeviceSize(Eant_AnnotationInfo *info, double x, double y) {
    double dx = 0, dy = 0;
    eevg_PointConvertToDevice(info->fakeDrawing, x, y, &dx, &dy, nullptr);
    return {std::round(dx) + 1, std::round(dy) + 1};
  }
};

TEST_F(MeasuringDrawingTest, TheDeviceFollowsTheLayerBox) {
  struct Case {
    double xmin, ymin, xmax, ymax;
    double width, height;
  } cases[] = {
      {0, 0, 3, 2, 1000, 667},           // f = 10, raised to 1000
      {100, 100, 5100, 2100, 10000, 4000},
      {0, 0, 2, 3, 667, 1000},
      // The larger side is held to a million pixels, also when it is the height.
      {0, 0, 5000000, 10, 1000000, 2},
      {0, 0, 10, 5000000, 2, 1000000},
      {0, 0, 3000000, 1500000, 1000000, 500000},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.xmax);
    TestInfo info;
    ErrorSlot err;
    Evec_Bbox *box = NewBox(c.xmin, c.ymin, c.xmax, c.ymax);
    eant_SetAntBoundingBox(info.get(), box, &err);
    evec_BboxDelete(box, nullptr);
    eant_GetFakeEevgDrawing(info.get(), nullptr, &err);
    ASSERT_NE(nullptr, info->fakeDrawing) << Chain(err);
    EXPECT_EQ(std::make_pair(c.width, c.height), DeviceSize(info.get(), c.xmax, c.ymax));
    EXPECT_NE(nullptr, info->eevgInfo);
  }
}

TEST_F(MeasuringDrawingTest, WithoutABoxTheDefaultWorldAndOneDrawingPerInfo) {
  TestInfo info(false);
  ErrorSlot err;
  eant_GetFakeEevgDrawing(info.get(), nullptr, &err);
  ASSERT_NE(nullptr, info->fakeDrawing) << Chain(err);
  EXPECT_EQ(std::make_pair(10000.0, 10000.0), DeviceSize(info.get(), 1000, 1000));
  Eevg_Drawing *first = info->fakeDrawing;
  eant_GetFakeEevgDrawing(info.get(), nullptr, &err);
  EXPECT_EQ(first, info->fakeDrawing);
  eant_GetFakeEevgDrawing(nullptr, nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_GetFakeEevgDrawing", 1, "Invalid antInfo"));
  // A layer box without width or height (an empty layer, a single point) still gives a drawing.
  for (Corners flat : {Corners{0, 0, 0, 0}, Corners{5, 5, 5, 9}}) {
    TestInfo layer;
    Evec_Bbox *box = NewBox(flat[0], flat[1], flat[2], flat[3]);
    eant_SetAntBoundingBox(layer.get(), box, &err);
    evec_BboxDelete(box, nullptr);
    eant_GetFakeEevgDrawing(layer.get(), nullptr, &err);
    EXPECT_NE(nullptr, layer->fakeDrawing) << Chain(err);
  }
}

} // namespace
