// Editing elements: the transformation step with its box, callbacks, undo switch and modified
// flag, groups, the list forms, turning to north, mirroring, and re-expressing lists in another
// map or their boxes in other units with progress.
#include <cmath>
#include <vector>

#include "annotation_testing.h"

namespace {

using namespace taviron::annotation::testing;

constexpr double kPi = 3.14159265358979323846;

// The stored corners of an element as x0, y0, ... x3, y3.
std::vector<double> Corners(const Eant_Element *element) {
  const auto *v = reinterpret_cast<const double *>(element->bBox->origin);
  return std::vector<double>(v, v + 8);
}
void ExpectCorners(const std::vector<double> &expected, const Eant_Element *element) {
  const std::vector<double> actual = Corners(element);
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(expected[i], actual[i], 1e-9) << i;
}
// The point (x, y) mapped by the polynomial.
std::pair<double, double> Map(const Efga_Polynomial *polynomial, double x, double y) {
  Eevg_Coord in{x, y};
  Eevg_Coord *out = eant_CoordTransform(&in, polynomial, nullptr);
  const std::pair<double, double> mapped{out->x, out->y};
  emsc_HeapFree(out);
  return mapped;
}

void ExpectMaps(const Efga_Polynomial *polynomial, double x, double y, std::pair<double, double> expected) {
  const std::pair<double, double> mapped = Map(polynomial, x, y);
  EXPECT_NEAR(expected.first, mapped.first, 1e-9) << x << ", " << y;
  EXPECT_NEAR(expected.second, mapped.second, 1e-9) << x << ", " << y;
}

// The slots the test type lacks, counted: flip, convert to map, transform to a map, box units.
int flips = 0, conversions = 0, transforms = 0, infoUpdates = 0;
std::vector<void *> flipDataSeen;
int32_t flippable = 1;
void Flip(Eant_AnnotationInfo *, Eant_Element *, Eant_CoordSysConversion *, void *flipData, Efga_Polynomial *,
          Eerr_ErrorReport **) {
  ++flips;
  flipDataSeen.push_back(flipData);
}
void ConvertToMap(Eant_Element *, Eant_CoordSysConversion *, Eerr_ErrorReport **) { ++conversions; }
void TransformMap(Eant_Element *element, _exfr_XForm *transform, Eant_CoordSysConversion *from,
                  Eant_CoordSysConversion *to, const char *units, Eant_ProgressInfo *progress, Eerr_ErrorReport **err) {
  ++transforms;
  if (element->child) eant_ElementListTransformMap(element->child, transform, from, to, units, progress, err);
}
void UpdateInfo(Eant_Element *, Eant_CoordSysConversion *, Eerr_ErrorReport **) { ++infoUpdates; }
int32_t CanBeFlipped(Eant_Element *, Eerr_ErrorReport **) { return flippable; }

const Eant_ElementFunctions &EditTable(bool withFlip) {
  static const auto make = [](bool flip) {
    Eant_ElementFunctions t = TestType::Table();
    if (flip) t.flipElement = &Flip;
    t.convertToMap = &ConvertToMap;
    t.transformMap = &TransformMap;
    t.updateInfo = &UpdateInfo;
    t.canBeFlipped = &CanBeFlipped;
    return t;
  };
  static const Eant_ElementFunctions with = make(true), without = make(false);
  return withFlip ? with : without;
}

// Counts the callbacks of one event.
void Count(void *, void *userData, Eerr_ErrorReport **) { ++*static_cast<int *>(userData); }

class EditTest : public HeapTest {
protected:
  void SetUp() override {
    HeapTest::SetUp();
    flips = conversions = transforms = infoUpdates = 0;
    flipDataSeen.clear();
    flippable = 1;
  }
  // A test element of the info (or of none) whose record box is (x0, y0)-(x1, y1), its stored
  // corners computed from it.
  Eant_Element *Make(double x0, double y0, double x1, double y1, Eant_AnnotationInfo *info = nullptr) {
    Eant_Element *element = NewTestElement(0, info);
    element->functions = &EditTable(false);
    element->antInfo = info;
    TestType::Record(element) = {0, x0, y0, x1, y1};
    eant_ElementBboxComputeAndReset(element, nullptr, nullptr);
    made_.push_back(element);
    return element;
  }
  void TearDown() override {
    std::vector<Eant_Element *> roots; // a group frees its children
    for (Eant_Element *element : made_)
      if (!element->parent) roots.push_back(element);
    for (Eant_Element *element : roots) eant_ElementFreeElement(&element);
    made_.clear();
    egda_BaseDataDelete(info_->antHead->bBox, nullptr); // the layer box the moves made
    info_->antHead->bBox = nullptr;
    for (Eant_Callback *&list : info_->callbacks) eant_CallbackFree(&list);
    HeapTest::TearDown();
  }
  void Watch() {
    eant_AddElementMovedCallback(info_.get(), &Count, &moved_, nullptr);
    eant_AddElementModifiedCallback(info_.get(), &Count, &modified_, nullptr);
  }
  std::vector<Eant_Element *> made_;
  TestInfo info_;
  int moved_ = 0, modified_ = 0;
};

struct Poly {
  Efga_Polynomial *p;
  explicit Poly(Efga_Polynomial *polynomial) : p(polynomial) {}
  ~Poly() { efga_PolynomialDelete(p, nullptr); }
  Efga_Polynomial *get() const { return p; }
};

TEST_F(EditTest, TwoMovesWithoutALayerComposeIntoOneAndCarryTheCorners) {
  Eant_Element *element = Make(0, 0, 1, 1);
  Poly first(eant_TranslatePolynomialCreate(nullptr, 2, 3, nullptr)), second(eant_TranslatePolynomialCreate(nullptr, 4, 5, nullptr));
  ErrorSlot err;
  eant_ElementUpdateByPoly(nullptr, nullptr, element, first.get(), &err);
  eant_ElementUpdateByPoly(nullptr, nullptr, element, second.get(), &err);
  ASSERT_FALSE(err) << Chain(err);
  ExpectMaps(element->xformMatrix, 0, 0, {6, 8});
  ExpectMaps(element->xformMatrix, 1, 1, {7, 9});
  ExpectMaps(element->ixformMatrix, 6, 8, {0, 0});
  ExpectCorners({6, 8, 6, 9, 7, 9, 7, 8}, element);
}

TEST_F(EditTest, WithinALayerTheBoxGrowsTheCallbacksRunAndTheLayerIsModified) {
  Watch();
  Eant_Element *element = Make(0, 0, 1, 1, info_.get());
  Poly shift(eant_TranslatePolynomialCreate(nullptr, 10, 10, nullptr));
  for (int32_t undo : {0, 1}) {
    info_->undoFlag = undo;
    info_->modified = 0;
    moved_ = modified_ = 0;
    ErrorSlot err;
    eant_ElementUpdateByPoly(info_.get(), nullptr, element, shift.get(), &err);
    ASSERT_FALSE(err) << Chain(err);
    EXPECT_EQ(1, moved_);
    EXPECT_EQ(1, modified_);
    EXPECT_EQ(1, info_->modified);
  }
  // The layer box holds the element where it now is.
  Evec_Bbox *layer = eant_GetAntBoundingBox(info_.get(), nullptr, nullptr);
  const auto *v = reinterpret_cast<const double *>(layer->origin);
  EXPECT_GE(v[2], 21);
  EXPECT_GE(v[3], 21);
  evec_BboxDelete(layer, nullptr);
}

TEST_F(EditTest, TheRecalculatingStepTakesTheBoxFromTheType) {
  Eant_Element *element = Make(0, 0, 1, 1);
  eant_ElementSetBBox(element, 50, 50, 50, 50, 50, 50, 50, 50, nullptr); // a stale box
  Poly scale(eant_ScalePolynomialCreate(nullptr, 2, 3, nullptr));
  ErrorSlot err;
  eant_ElementUpdateByPolyAndRecalcBbox(nullptr, nullptr, element, scale.get(), &err);
  ASSERT_FALSE(err) << Chain(err);
  ExpectCorners({0, 0, 0, 3, 2, 3, 2, 0}, element);
  // The carrying step maps whatever corners it finds.
  eant_ElementUpdateByPoly(nullptr, nullptr, element, scale.get(), &err);
  ExpectCorners({0, 0, 0, 9, 4, 9, 4, 0}, element);
}

TEST_F(EditTest, AGroupMovesItsChildrenAndTakesTheirBox) {
  Watch();
  Eant_Element *group = Make(0, 0, 1, 1, info_.get());
  group->elmType = EANT_GROUP;
  Eant_Element *a = Make(0, 0, 1, 1, info_.get()), *b = Make(4, 4, 5, 6, info_.get());
  Adopt(group, {a, b});
  Poly shift(eant_TranslatePolynomialCreate(nullptr, 1, 2, nullptr));
  for (auto update : {&eant_ElementUpdateByPoly, &eant_ElementUpdateByPolyAndRecalcBbox}) {
    moved_ = modified_ = 0;
    info_->undoFlag = 1;
    ErrorSlot err;
    update(info_.get(), nullptr, group, shift.get(), &err);
    ASSERT_FALSE(err) << Chain(err);
    EXPECT_EQ(3, moved_); // each child, then the group
    EXPECT_EQ(3, modified_);
  }
  ExpectCorners({2, 4, 2, 5, 3, 5, 3, 4}, a);
  ExpectCorners({2, 4, 2, 10, 7, 10, 7, 4}, group);
  ExpectMaps(group->xformMatrix, 0, 0, {0, 0}); // the group's own transform stays
  ErrorSlot err;
  eant_GroupElementUpdateByPoly(info_.get(), nullptr, a, shift.get(), &err);
  EXPECT_TRUE(Reported(err, "eant_GroupElementUpdateByPoly", 2, "Input element is not group")) << Chain(err);
}

TEST_F(EditTest, FailuresOfTheStepAndItsListFormsAreReported) {
  Eant_Element *first = Make(0, 0, 1, 1), *second = Make(0, 0, 1, 1);
  Eant_Element *list = Linked({first, second});
  Poly shift(eant_TranslatePolynomialCreate(nullptr, 1, 0, nullptr));
  ErrorSlot err;
  eant_ElementUpdateByPoly(nullptr, nullptr, nullptr, shift.get(), &err);
  EXPECT_TRUE(Reported(err, "eant_ElementUpdateByPoly", 1, "Invalid input element")) << Chain(err);
  eant_ElementUpdateByPolyAndRecalcBbox(nullptr, nullptr, first, nullptr, &err);
  EXPECT_TRUE(Reported(err, "eant_ElementUpdateByPolyAndRecalcBbox", 3, "Error returned from efga_PolynomialComposition"))
      << Chain(err);
  eant_ElementListUpdateByPoly(nullptr, nullptr, nullptr, shift.get(), &err);
  EXPECT_TRUE(Reported(err, "eant_ElementListUpdateByPoly", 1, "Invalid input element list")) << Chain(err);
  // The list stops at the first failing element; those before it stay moved.
  second->functions = nullptr;
  second->elmType = EANT_GROUP;
  eant_ElementListUpdateByPolyAndRecalcBbox(nullptr, nullptr, list, shift.get(), &err);
  EXPECT_TRUE(Reported(err, "eant_ElementListUpdateByPolyAndRecalcBbox", 2,
                       "Error returned from eant_ElementUpdateByPolyAndRecalcBbox"))
      << Chain(err);
  ExpectMaps(first->xformMatrix, 0, 0, {1, 0});
  second->functions = &EditTable(false);
  eant_ElementListUpdateByPoly(nullptr, nullptr, list, shift.get(), &err);
  EXPECT_FALSE(err) << Chain(err);
  ExpectMaps(second->xformMatrix, 0, 0, {2, 0}); // the failed step had composed its transform already
  first->next = second->previous = nullptr;
}

TEST_F(EditTest, MirroringAboutTheCentreGoesThroughTheTypeOrTheStep) {
  Watch();
  Eant_Element *element = Make(0, 0, 2, 1, info_.get());
  struct Case {
    int32_t flipX, flipY;
    std::pair<double, double> origin; // where (0, 0) goes
  } cases[] = {{1, 0, {2, 0}}, {1, 0, {0, 0}}, {0, 1, {0, 1}}, {0, 0, {0, 1}}, {2, -1, {0, 1}}};
  for (const Case &c : cases) {
    modified_ = 0;
    Eant_FlipData data{c.flipX, c.flipY};
    ErrorSlot err;
    eant_ElementFlipAboutCenter(info_.get(), nullptr, element, &data, &err);
    ASSERT_FALSE(err) << Chain(err);
    ExpectMaps(element->xformMatrix, 0, 0, c.origin);
    EXPECT_EQ(1, modified_); // also for a flip that changes nothing
  }
  ExpectCorners({0, 1, 0, 0, 2, 0, 2, 1}, element); // mirrored in y, corners carried
  // A type of its own flip gets the data as given.
  element->functions = &EditTable(true);
  Eant_FlipData data{1, 1};
  ErrorSlot err;
  eant_ElementFlipAboutCenter(info_.get(), nullptr, element, &data, &err);
  EXPECT_EQ(1, flips);
  EXPECT_EQ(std::vector<void *>{&data}, flipDataSeen);
  eant_ElementFlipAboutCenter(info_.get(), nullptr, nullptr, &data, &err);
  EXPECT_TRUE(Reported(err, "eant_ElementFlipAboutCenter", 1, "Invalid input element")) << Chain(err);
  eant_ElementFlipAboutCenter(nullptr, nullptr, element, &data, &err);
  EXPECT_TRUE(Reported(err, "eant_ElementFlipAboutCenter", 2, "Invalid input antInfo")) << Chain(err);
  eant_ElementFlipAboutCenter(info_.get(), nullptr, element, nullptr, &err);
  EXPECT_TRUE(Reported(err, "eant_ElementFlipAboutCenter", 3, "Invalid input data")) << Chain(err);
}

TEST_F(EditTest, ListsAreFlippedWhenEveryElementCanBe) {
  Eant_Element *a = Make(0, 0, 1, 1), *b = Make(2, 0, 3, 1);
  a->functions = b->functions = &EditTable(true);
  Eant_Element *list = Linked({a, b});
  ErrorSlot err;
  EXPECT_EQ(1, eant_ElementListCanBeFlipped(nullptr, &err));
  EXPECT_EQ(1, eant_ElementListCanBeFlipped(list, &err));
  flippable = 0;
  EXPECT_EQ(0, eant_ElementListCanBeFlipped(list, &err));
  EXPECT_FALSE(err) << Chain(err);
  b->functions = nullptr;
  flippable = 1;
  EXPECT_EQ(0, eant_ElementListCanBeFlipped(list, &err));
  EXPECT_TRUE(Reported(err, "eant_ElementListCanBeFlipped", 1, "Error returned from eant_ElementCanBeFlipped"))
      << Chain(err);
  b->functions = &EditTable(true);
  Poly mirror(eant_ScalePolynomialCreate(nullptr, -1, 1, nullptr));
  int data = 0;
  eant_ElementListFlip(nullptr, list, nullptr, &data, mirror.get(), &err);
  EXPECT_FALSE(err) << Chain(err);
  EXPECT_EQ(2, flips);
  eant_ElementListFlip(nullptr, nullptr, nullptr, &data, mirror.get(), &err);
  EXPECT_FALSE(err);
  EXPECT_EQ(2, flips);
  a->next = b->previous = nullptr;
}

// ---- Whole lists in map units, in another map, and their box units ----

struct Percentages {
  std::vector<double> seen;
  bool fail = false;
};
void Record(void *data, double percent, Eerr_ErrorReport **err) {
  auto *p = static_cast<Percentages *>(data);
  p->seen.push_back(percent);
  if (p->fail) *err = eerr_CreateErrorReport("Record", 1, 2, nullptr, "stopped");
}

class ListEditTest : public EditTest {
protected:
  // A list of n elements.
  Eant_Element *List(int n) {
    std::vector<Eant_Element *> elements;
    Eant_Element *first = nullptr, *last = nullptr;
    for (int i = 0; i < n; ++i) {
      Eant_Element *element = Make(i, 0, i + 1, 1);
      element->previous = last;
      (last ? last->next : first) = element;
      last = element;
    }
    return first;
  }
  void TearDown() override {
    // The list frees its elements; made_ holds them too.
    for (Eant_Element *element : made_) element->next = element->previous = nullptr;
    EditTest::TearDown();
  }
};

TEST_F(ListEditTest, TheProgressCallbackRunsAboutAHundredTimesOverTheWalk) {
  struct Case {
    int elements;
    int32_t total;
    std::size_t calls;
    double firstPercent;
  } cases[] = {{250, 250, 83, 1.2}, {50, 50, 50, 2}, {3, 0, 3, 100}};
  for (const Case &c : cases) {
    Eant_Element *list = List(c.elements);
    Percentages seen;
    Eant_ProgressInfo progress{&Record, &seen, c.total, 0};
    transforms = 0;
    ErrorSlot err;
    eant_ElementListTransformMap(list, nullptr, nullptr, nullptr, "meters", &progress, &err);
    ASSERT_FALSE(err) << Chain(err);
    EXPECT_EQ(c.elements, transforms);
    EXPECT_EQ(c.elements, progress.done);
    ASSERT_EQ(c.calls, seen.seen.size()) << c.elements;
    EXPECT_DOUBLE_EQ(c.firstPercent, seen.seen.front()) << c.elements;
    if (c.total == 250) {
      EXPECT_DOUBLE_EQ(249.0 / 250 * 100, seen.seen.back());
    }
  }
}

TEST_F(ListEditTest, GroupsCountTheirChildrenAndFailuresStopTheWalk) {
  Eant_Element *list = List(2);
  Eant_Element *group = list->next;
  group->elmType = EANT_GROUP;
  Eant_Element *child = Make(0, 0, 1, 1);
  Adopt(group, {child});
  Eant_ProgressInfo progress{nullptr, nullptr, 3, 0};
  ErrorSlot err;
  eant_ElementListTransformMap(list, nullptr, nullptr, nullptr, "meters", &progress, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ(3, progress.done);
  EXPECT_EQ(3, transforms);
  eant_ElementListBoundingBoxUnitsConvert(list, nullptr, "meters", "centimeters", &progress, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ(6, progress.done);
  EXPECT_EQ(3, infoUpdates);
  ExpectCorners({0, 0, 0, 100, 100, 100, 100, 0}, child);
  ExpectCorners({100, 0, 100, 100, 200, 100, 200, 0}, group);

  Percentages stop;
  stop.fail = true;
  Eant_ProgressInfo failing{&Record, &stop, 3, 0};
  eant_ElementListTransformMap(list, nullptr, nullptr, nullptr, "meters", &failing, &err);
  EXPECT_TRUE(Reported(err, "eant_ElementListTransformMap", 3, "Error returned from progress callback function"))
      << Chain(err);
  EXPECT_EQ(1u, stop.seen.size());
  eant_ElementListTransformMap(nullptr, nullptr, nullptr, nullptr, "meters", nullptr, &err);
  EXPECT_TRUE(Reported(err, "eant_ElementListTransformMap", 1, "Invalid input element list")) << Chain(err);
  eant_ElementListBoundingBoxUnitsConvert(list, nullptr, "meters", "no such unit", nullptr, &err);
  EXPECT_TRUE(Reported(err, "eant_ElementListBoundingBoxUnitsConvert", 1,
                       "Error returned from eant_ElementBoundingBoxUnitsConvert"))
      << Chain(err);
  child->functions = &TestType::Table(); // no updateInfo
  eant_ElementBoundingBoxUnitsConvert(child, nullptr, "meters", "meters", &err);
  EXPECT_TRUE(Reported(err, "eant_ElementBoundingBoxUnitsConvert", 2, "Error returned from eant_ElementUpdateInfo"))
      << Chain(err);
  eant_ElementBoundingBoxUnitsConvert(nullptr, nullptr, "meters", "meters", &err);
  EXPECT_TRUE(Reported(err, "eant_ElementBoundingBoxUnitsConvert", 1, "Invalid input Eant_Element")) << Chain(err);
}

TEST_F(ListEditTest, ConvertingToMapUnitsCallsEveryTopLevelElement) {
  Eant_Element *list = List(3);
  ErrorSlot err;
  eant_ElementListConvertToMap(list, nullptr, &err);
  EXPECT_FALSE(err) << Chain(err);
  EXPECT_EQ(3, conversions);
  list->next->functions = &TestType::Table();
  eant_ElementListConvertToMap(list, nullptr, &err);
  EXPECT_TRUE(Reported(err, "eant_ElementListConvertToMap", 2, "Error returned from element eant_ElementConvertToMap"))
      << Chain(err);
  EXPECT_EQ(4, conversions);
  eant_ElementListConvertToMap(nullptr, nullptr, &err);
  EXPECT_TRUE(Reported(err, "eant_ElementListConvertToMap", 1, "Invalid input element list")) << Chain(err);
}

// ---- Turning to north ----

Eprj_ProParameters *Projection(int32_t number, int32_t zone) {
  Eprj_ProParameters *p = eprj_ProParametersCreate(nullptr);
  p->proType = EPRJ_INTERNAL;
  p->proNumber = number;
  p->proZone = zone;
  eprj_ProjName(nullptr, number, &p->proName, nullptr);
  eprj_DblArrayCreate(15, &p->proParams, nullptr);
  eprj_SpheroidByName(nullptr, "WGS 84", &p->proSpheroid, nullptr);
  return p;
}

TEST(AlignNorth, TheElementsUpDirectionTurnsToNorthPlusTheOffset) {
  Eprj_ProParameters *utm = Projection(1, 11), *geographic = Projection(0, 0);
  _exfr_XForm *identity = exfr_XFormCreateUnity();
  TestInfo info;
  struct Case {
    double x, y, offset;
  } cases[] = {{500000, 4000000, 0}, {700000, 4500000, 0}, {300000, 2000000, 0.25}};
  for (const Case &c : cases) {
    Eant_Element *element = NewTestElement(0);
    TestType::Record(element) = {0, c.x - 10, c.y - 20, c.x + 10, c.y + 20};
    eant_ElementBboxComputeAndReset(element, nullptr, nullptr);
    Egda_BaseData *centre = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
    reinterpret_cast<double *>(centre->origin)[0] = c.x;
    reinterpret_cast<double *>(centre->origin)[1] = c.y;
    double north = 0;
    ASSERT_EQ(0, eprj_ComputeNorthAngleFromXAxis(centre, utm, geographic, &north, nullptr));
    egda_BaseDataDelete(centre, nullptr);
    Eant_NorthData data{identity, utm, geographic, c.offset};
    ErrorSlot err;
    eant_ElementAlignNorth(info.get(), nullptr, element, &data, &err);
    ASSERT_FALSE(err) << Chain(err);
    const std::vector<double> corners = Corners(element);
    EXPECT_NEAR(north + c.offset, std::atan2(corners[3] - corners[1], corners[2] - corners[0]), 1e-9);
    // About the centre, which stays.
    EXPECT_NEAR(c.x, (corners[0] + corners[2] + corners[4] + corners[6]) / 4, 1e-6);
    EXPECT_NEAR(c.y, (corners[1] + corners[3] + corners[5] + corners[7]) / 4, 1e-6);
    if (c.x == 500000) {
      ExpectMaps(element->xformMatrix, c.x + 1, c.y, {c.x + 1, c.y}); // already north: no turn
    }
    eant_ElementFreeElement(&element);
  }
  Eant_NorthData missing{identity, utm, nullptr, 0};
  Eant_Element *element = NewTestElement(0);
  ErrorSlot err;
  eant_ElementAlignNorth(info.get(), nullptr, element, &missing, &err);
  EXPECT_TRUE(Reported(err, "eant_ElementAlignNorth", 3, "Invalid input data")) << Chain(err);
  eant_ElementAlignNorth(nullptr, nullptr, element, &missing, &err);
  EXPECT_TRUE(Reported(err, "eant_ElementAlignNorth", 2, "Invalid input antInfo")) << Chain(err);
  eant_ElementAlignNorth(info.get(), nullptr, nullptr, &missing, &err);
  EXPECT_TRUE(Reported(err, "eant_ElementAlignNorth", 1, "Invalid input element")) << Chain(err);
  Eant_NorthData data{identity, utm, geographic, 0};
  eant_ElementAlignNorth(info.get(), nullptr, element, &data, &err); // no corners
  EXPECT_TRUE(Reported(err, "eant_ElementAlignNorth", 4, "Error returned from eant_ElementRotatedBoundingBoxGet"))
      << Chain(err);
  eant_ElementFreeElement(&element);
  exfr_XFormFree(&identity, nullptr);
  eprj_ProParametersFree(&utm);
  eprj_ProParametersFree(&geographic);
}

} // namespace
