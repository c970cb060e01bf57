// The group element: made by its keyword list, restyled, moved, flipped and copied with its
// children, written into a layer file and read back.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "annotation_testing.h"
#include "eant_internal.h"
#include "ehfa.h"
#include "ellm.h"

namespace {

using namespace taviron::annotation::testing;
using taviron::testing::CapturedOutput;

void Count(void *, void *data, Eerr_ErrorReport **) { ++*static_cast<int *>(data); }

// The four corners of a box, column by column.
std::vector<double> Corners(const Egda_BaseData *m) {
  std::vector<double> v;
  for (int32_t c = 0; m && c < 4; ++c) {
    v.push_back(taviron::eant::At(m, 0, c));
    v.push_back(taviron::eant::At(m, 1, c));
  }
  return v;
}

// The coefficients and constants of a polynomial.
std::vector<double> Values(const Efga_Polynomial *p) {
  std::vector<double> v;
  for (const Egda_BaseData *m : {p->coefficients, p->constants})
    for (int32_t c = 0; c < m->columns; ++c)
      for (int32_t r = 0; r < m->rows; ++r) v.push_back(taviron::eant::At(m, r, c));
  return v;
}

class GroupTest : public PackageTest {
protected:
  void SetUp() override {
    PackageTest::SetUp();
    ErrorSlot err;
    info_ = eant_AnnotationInfoCreate(toolkit_, &err);
    eant_AnnotationInfoInit(info_, nullptr, nullptr, &err);
    ASSERT_FALSE(err) << Chain(err.get());
    conversion_ = eant_CoordSysConversionSetValues(nullptr, 1, 1, 1, 1, 0, 0, "meters", "meters", &err);
    ASSERT_NE(nullptr, conversion_);
    // Red lines: a hairline, which the lines take (their boxes are their extents), and a wide one.
    red_ = eant_ColorAddToLibrary(eant_ColorSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_RGB, 255, 0, 0, 0),
                                  info_->styleLib, 0, &err);
    const auto line = [&](const char *name, double width) {
      return eant_LineStyleAddToLibrary(eant_LineStyleSetValues(toolkit_, info_->styleLib, nullptr, &err,
                                                                EANT_KEY_STYLENAME, name, EANT_KEY_STYLEUNITS,
                                                                EEVG_MAP, "meters", EANT_KEY_OVERLINE, 0, width,
                                                                red_, 0),
                                        info_->styleLib, 0, &err);
    };
    hairline_ = line("hairline", 0.0);
    wide_ = line("wide", 2.0);
    ASSERT_FALSE(err) << Chain(err.get());
    live_ = emsc_TestLiveBlocks();
  }
  void TearDown() override {
    eant_CoordSysConversionFree(&conversion_);
    eant_AnnotationInfoFree(&info_);
    PackageTest::TearDown();
  }
  // A hairline from (x0, y0) to (x1, y1).
  Eant_Element *Line(double x0, double y0, double x1, double y1, Eant_AnnotationInfo *info = nullptr) {
    ErrorSlot err;
    Efga_CoordinateBlock *block = efga_CoordBlockPtrCreate(1, nullptr);
    block->parts[0] = egda_BaseDataCreate(2, 2, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
    const double xy[] = {x0, y0, x1, y1};
    std::memcpy(block->parts[0]->origin, xy, sizeof xy);
    Eant_Element *line = eant_PolylineElementSetValues(info, nullptr, conversion_, &err, EANT_ELEMKEY_POLYLINECOORDS,
                                                       EANT_LOCAL, block, EANT_ELEMKEY_LINESTYLE, hairline_,
                                                       EANT_ELEMKEY_END);
    EXPECT_NE(nullptr, line) << Chain(err.get());
    efga_CoordBlockDelete(block, nullptr);
    return line;
  }
  // A list of the elements in order.
  static Eant_Element *List(std::initializer_list<Eant_Element *> elements) {
    Eant_Element *list = nullptr;
    for (Eant_Element *e : elements) list = static_cast<Eant_Element *>(ellm_Add(list, ELLM_APPEND, e));
    return list;
  }
  // A group named "outer" of a line and a nested group "inner" of two lines.
  Eant_Element *Nested(Eant_AnnotationInfo *info) {
    ErrorSlot err;
    Eant_Element *inner = eant_GroupElementSetValues(info, nullptr, conversion_, &err, EANT_ELEMKEY_NAME, "inner",
                                                     EANT_ELEMKEY_CHILDREN, List({Line(5, 5, 8, 6, info), Line(6, 2, 9, 4, info)}),
                                                     EANT_ELEMKEY_END);
    EXPECT_NE(nullptr, inner) << Chain(err.get());
    Eant_Element *outer = eant_GroupElementSetValues(info, nullptr, conversion_, &err, EANT_ELEMKEY_NAME, "outer",
                                                     EANT_ELEMKEY_CHILDREN, List({Line(0, 1, 3, 2, info), inner}),
                                                     EANT_ELEMKEY_END);
    EXPECT_NE(nullptr, outer) << Chain(err.get());
    return outer;
  }
  // The line styles of the polylines below the group, in preorder.
  static std::vector<int32_t> LineStyles(Eant_Element *group) {
    std::vector<int32_t> styles;
    taviron::eant::ForEachInPreorder(group->child, [&](Eant_Element *e) {
      if (e->elmType == EANT_POLYLINE) styles.push_back(static_cast<Eant_Polyline *>(e->info)->lineStyle);
      return true;
    });
    return styles;
  }

  Eant_AnnotationInfo *info_ = nullptr;
  Eant_CoordSysConversion *conversion_ = nullptr;
  int32_t red_ = -1, hairline_ = -1, wide_ = -1;
};

// ---- The factory ----

TEST_F(GroupTest, FactoryTakesTheChildrenAndTheirUnionBoxAndFiresOneCallbackOfEach) {
  ErrorSlot err;
  int moved = 0, modified = 0;
  eant_AddElementMovedCallback(info_, &Count, &moved, &err);
  eant_AddElementModifiedCallback(info_, &Count, &modified, &err);
  Eant_Element *a = Line(0, 1, 3, 2), *b = Line(6, -2, 9, 4);
  a->rowNumber = b->rowNumber = 7;
  Eant_Element *group = eant_GroupElementSetValues(info_, nullptr, conversion_, &err, EANT_ELEMKEY_NAME, "g",
                                                   EANT_ELEMKEY_CHILDREN, List({a, b}), EANT_ELEMKEY_END);
  ASSERT_NE(nullptr, group) << Chain(err.get());
  EXPECT_EQ(EANT_GROUP, group->elmType);
  EXPECT_STREQ("g", group->name.data);
  EXPECT_EQ(nullptr, group->info);
  EXPECT_EQ(a, group->child);
  EXPECT_EQ(group, a->parent);
  EXPECT_EQ(b, a->next);
  EXPECT_EQ(-1, a->rowNumber);
  EXPECT_EQ(-1, b->rowNumber);
  EXPECT_EQ((std::vector<double>{0, -2, 0, 4, 9, 4, 9, -2}), Corners(group->bBox));
  EXPECT_EQ(1, moved);
  EXPECT_EQ(1, modified);

  // A name alone: the modified callbacks only, the box as it was; an empty list: modified too.
  eant_GroupElementSetValues(info_, group, conversion_, &err, EANT_ELEMKEY_NAME, "h", EANT_ELEMKEY_END);
  eant_GroupElementSetValues(info_, group, conversion_, &err, EANT_ELEMKEY_END);
  EXPECT_FALSE(err) << Chain(err.get());
  EXPECT_EQ(1, moved);
  EXPECT_EQ(3, modified);
  EXPECT_EQ((std::vector<double>{0, -2, 0, 4, 9, 4, 9, -2}), Corners(group->bBox));

  // More children are appended after the last; without an info no callback fires.
  Eant_Element *c = Line(-5, 0, -4, 1);
  EXPECT_EQ(group, eant_GroupElementSetValues(nullptr, group, conversion_, &err, EANT_ELEMKEY_CHILDREN, c,
                                              EANT_ELEMKEY_END));
  EXPECT_EQ(c, b->next);
  EXPECT_EQ(b, c->previous);
  EXPECT_EQ((std::vector<double>{-5, -2, -5, 4, 9, 4, 9, -2}), Corners(group->bBox));
  EXPECT_EQ(1, moved);
  EXPECT_EQ(3, modified);
  eant_ElementFreeElement(&group);
}

TEST_F(GroupTest, FactoryBoxAndFailures) {
  ErrorSlot err;
  // A box given before the children gives way to the children's union.
  Eant_Element *group = eant_GroupElementSetValues(nullptr, nullptr, conversion_, &err, EANT_ELEMKEY_BBOX, 0.0, 0.0,
                                                   0.0, 100.0, 100.0, 100.0, 100.0, 0.0, EANT_ELEMKEY_CHILDREN,
                                                   Line(1, 2, 3, 4), EANT_ELEMKEY_END);
  ASSERT_NE(nullptr, group) << Chain(err.get());
  EXPECT_EQ((std::vector<double>{1, 2, 1, 4, 3, 4, 3, 2}), Corners(group->bBox));
  eant_ElementFreeElement(&group);

  // A null list on a group without children fails at the box.
  Eant_Element *empty = eant_GroupElementCreate(info_, &err);
  EXPECT_EQ(empty, eant_GroupElementSetValues(info_, empty, conversion_, &err, EANT_ELEMKEY_CHILDREN, nullptr,
                                              EANT_ELEMKEY_END));
  EXPECT_TRUE(Reported(err.get(), "eant_GroupElementSetValues", 11,
                       "Error returned from eant_ElementListBoundingBoxGet"))
      << Chain(err.get());

  // An element of another type is refused and returned as it was.
  Eant_Element *line = Line(0, 0, 1, 1);
  EXPECT_EQ(line, eant_GroupElementSetValues(info_, line, conversion_, &err, EANT_ELEMKEY_NAME, "x",
                                             EANT_ELEMKEY_END));
  EXPECT_TRUE(Reported(err.get(), "eant_GroupElementSetValues", 2, "Input element is not group"));
  eant_ElementFreeElement(&line);

  // A list that made the group and then fails frees it with the children it was given; a line
  // style is not a group's keyword.
  const int64_t live = emsc_TestLiveBlocks();
  EXPECT_EQ(nullptr, eant_GroupElementSetValues(info_, nullptr, conversion_, &err, EANT_ELEMKEY_CHILDREN,
                                                Line(0, 0, 1, 1), EANT_ELEMKEY_LINESTYLE, 1, EANT_ELEMKEY_END));
  EXPECT_TRUE(Reported(err.get(), "eant_GroupElementSetValues", 10, "Invalid keyword option for group element"))
      << Chain(err.get());
  EXPECT_EQ(live, emsc_TestLiveBlocks());

  // A list linked into another list is refused: the group would own it twice.
  Eant_Element *first = Line(0, 0, 1, 1), *second = Line(1, 1, 2, 2);
  List({first, second});
  eant_GroupElementSetChildren(empty, second, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_GroupElementSetChildren", 3, "Input element list belongs to another list"));
  EXPECT_EQ(nullptr, empty->child);
  eant_ElementListFree(&first);
  eant_ElementFreeElement(&empty);
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(GroupTest, SlotsReportTheirElementChecks) {
  ErrorSlot err;
  Eant_Element *line = Line(0, 0, 1, 1);
  struct Case {
    const char *reporter;
    std::function<void(Eant_Element *, Eerr_ErrorReport **)> call;
    const char *null, *other;
  } cases[] = {
      {"eant_GroupElementCopy", [](Eant_Element *e, Eerr_ErrorReport **x) { eant_GroupElementCopy(e, nullptr, x); },
       "Invalid input Eant_Element", "Input element is not a group"},
      {"eant_GroupElementFlip",
       [](Eant_Element *e, Eerr_ErrorReport **x) { eant_GroupElementFlip(nullptr, e, nullptr, nullptr, nullptr, x); },
       "Invalid input Eant_Element", "Input element is not group"},
      {"eant_GroupElementRender",
       [](Eant_Element *e, Eerr_ErrorReport **x) {
         eant_GroupElementRender(nullptr, nullptr, nullptr, nullptr, nullptr, e, nullptr, nullptr, x);
       },
       "Invalid element", "Input element is not group"},
      {"eant_GroupElementWrite",
       [](Eant_Element *e, Eerr_ErrorReport **x) { eant_GroupElementWrite(nullptr, nullptr, 0, e, x); },
       "Invalid input element", "Input element is not group"},
      {"eant_GroupElementGetTypeString",
       [](Eant_Element *e, Eerr_ErrorReport **x) { eant_GroupElementGetTypeString(e, x); },
       "Invalid input Eant_Element", "Input element is not a group"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.reporter);
    c.call(nullptr, &err);
    EXPECT_TRUE(Reported(err.get(), c.reporter, 1, c.null)) << Chain(err.get());
    c.call(line, &err);
    EXPECT_TRUE(Reported(err.get(), c.reporter, 2, c.other)) << Chain(err.get());
  }
  eant_ElementFreeElement(&line);

  // Every kind of group names itself "Group" and counts once, without its children.
  Eant_Element *group = Nested(nullptr);
  const char *type = eant_ElementGetTypeString(group, &err);
  EXPECT_STREQ("Group", type);
  emsc_HeapFree(const_cast<char *>(type));
  Eant_ElementInfo counts{};
  eant_ElementIncrementCount(group, &counts, &err);
  EXPECT_EQ(1, counts.total);
  EXPECT_EQ(1, counts.groups);
  EXPECT_EQ(1, eant_ElementCanBeFlipped(group, &err));
  // The table the kinds start from is the plain group's; it has no box with a drawing.
  Eant_ElementFunctions *table = eant_GroupElementFunctionsCreate(&err);
  ASSERT_NE(nullptr, table) << Chain(err.get());
  EXPECT_EQ(0, std::memcmp(table, group->functions, sizeof *table));
  EXPECT_EQ(nullptr, table->calculateBboxWithDrawing);
  emsc_HeapFree(table);
  eant_ElementFreeElement(&group);
  EXPECT_TRUE(HeapAsAtStart());
}

// ---- Styles, moves, flips, copies ----

TEST_F(GroupTest, ALineStyleSetOnAGroupRestylesEveryPolylineBelowIt) {
  ErrorSlot err;
  Eant_Style *style = eant_StyleSetValues(nullptr, nullptr, "wide", wide_, &err);
  info_->undoFlag = 1;
  Eant_Element *group = Nested(info_);
  EXPECT_EQ((std::vector<int32_t>(3, hairline_)), LineStyles(group));
  eant_ElementSetLineStyle(info_, group, style, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  EXPECT_EQ((std::vector<int32_t>(3, wide_)), LineStyles(group));

  // With the box recomputed: the group's box grows with the width of the style, and the group
  // reports one move (the nested group one of its own).
  int moved = 0;
  eant_AddElementMovedCallback(info_, &Count, &moved, &err);
  eant_ElementSetLineStyleAndRecalcBbox(info_, group, wide_, conversion_, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  const std::vector<double> box = Corners(group->bBox);
  EXPECT_LT(box[0], 0);
  EXPECT_LT(box[1], 1);
  EXPECT_GT(box[4], 9);
  EXPECT_GT(box[5], 6);
  EXPECT_GE(moved, 2);
  eant_StyleFree(&style);
  eant_ElementFreeElement(&group);
}

TEST_F(GroupTest, MovingAGroupMovesItsChildrenAndKeepsItsOwnTransform) {
  ErrorSlot err;
  Eant_Element *group = Nested(info_);
  Efga_Polynomial *shift = eant_TranslatePolynomialCreate(nullptr, 10, 20, &err);
  ASSERT_NE(nullptr, shift) << Chain(err.get());
  const std::vector<double> own = Values(group->xformMatrix);
  eant_ElementUpdateByPolyAndRecalcBbox(info_, conversion_, group, shift, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  EXPECT_EQ(own, Values(group->xformMatrix));
  EXPECT_EQ((std::vector<double>{10, 21, 10, 26, 19, 26, 19, 21}), Corners(group->bBox));
  EXPECT_EQ((std::vector<double>{15, 22, 15, 26, 19, 26, 19, 22}), Corners(group->child->next->bBox));
  efga_PolynomialDelete(shift, nullptr);
  eant_ElementFreeElement(&group);
}

TEST_F(GroupTest, FlipNeedsTheInfoBeforeAnyChildIsTouchedAndThenMirrorsTheChildren) {
  ErrorSlot err;
  Eant_Element *group = Nested(info_);
  // x' = 10 - x
  Efga_Polynomial *scale = eant_ScalePolynomialCreate(nullptr, -1, 1, &err);
  Efga_Polynomial *shift = eant_TranslatePolynomialCreate(nullptr, 10, 0, &err);
  Efga_Polynomial *mirror = efga_PolynomialComposition(shift, scale, &err);
  ASSERT_NE(nullptr, mirror) << Chain(err.get());
  efga_PolynomialDelete(scale, nullptr);
  efga_PolynomialDelete(shift, nullptr);
  const std::vector<double> before = Corners(group->child->bBox);
  eant_GroupElementFlip(nullptr, group, conversion_, nullptr, mirror, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_GroupElementFlip", 5,
                       "Error returned from eant_SetDocallForElementMovedCallbackS"))
      << Chain(err.get());
  EXPECT_EQ(before, Corners(group->child->bBox));

  int moved = 0, modified = 0;
  eant_AddElementMovedCallback(info_, &Count, &moved, &err);
  eant_AddElementModifiedCallback(info_, &Count, &modified, &err);
  eant_GroupElementFlip(info_, group, conversion_, nullptr, mirror, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  EXPECT_EQ((std::vector<double>{1, 1, 1, 6, 10, 6, 10, 1}), Corners(group->bBox));
  EXPECT_EQ(1, moved) << "the children's moves, the nested group's included, are held back";
  EXPECT_GE(modified, 1);
  EXPECT_EQ(1, info_->modified);
  efga_PolynomialDelete(mirror, nullptr);
  eant_ElementFreeElement(&group);
}

TEST_F(GroupTest, CopyTakesTheChildrenAlongAndRefusesALinkedDestination) {
  ErrorSlot err;
  Eant_Element *group = Nested(nullptr);
  Eant_Element *copy = eant_ElementCopyElement(group, nullptr, &err);
  ASSERT_NE(nullptr, copy) << Chain(err.get());
  EXPECT_EQ(group->functions, copy->functions);
  ASSERT_NE(nullptr, copy->child);
  EXPECT_NE(group->child, copy->child);
  EXPECT_EQ(copy, copy->child->parent);
  EXPECT_EQ(4, eant_ElementListCount(copy->child, &err));
  Eant_Element *innerCopy = copy->child->next;
  EXPECT_STREQ("inner", innerCopy->name.data);
  EXPECT_EQ(innerCopy, innerCopy->child->parent);
  EXPECT_EQ(Corners(group->child->next->child->bBox), Corners(innerCopy->child->bBox));

  EXPECT_EQ(nullptr, eant_GroupElementCopy(group, innerCopy, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_GroupElementCopy", 5, "Output element is linked into an element list"));
  eant_ElementFreeElement(&copy);
  eant_ElementFreeElement(&group);
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(GroupTest, HitTestNeedsTheBoxAndAChildUnderTheCoordinate) {
  ErrorSlot err;
  Eant_Element *group = Nested(info_);
  Egda_BaseData *coord = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  struct Case {
    double x, y;
    int32_t hit;
  } cases[] = {{1.5, 1.5, 1}, {7, 5.5, 1}, {1, 5.5, 0}, {20, 20, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
    taviron::eant::At(coord, 0, 0) = c.x;
    taviron::eant::At(coord, 1, 0) = c.y;
    EXPECT_EQ(c.hit, eant_ElementCoordInElement(toolkit_, info_->styleLib, nullptr, nullptr, group, nullptr,
                                                conversion_, coord, &err))
        << Chain(err.get());
  }
  egda_BaseDataDelete(coord, nullptr);
  eant_ElementFreeElement(&group);
}

// ---- Storage ----

class GroupLayerTest : public GroupTest {
protected:
  void Write(Eant_AnnotationInfo *info) {
    ErrorSlot err;
    Ehfa_File *file = ehfa_FileCreate(Path("layer.ovr").c_str(), toolkit_, &err);
    ASSERT_NE(nullptr, file) << Chain(err.get());
    eant_AnnotationInfoWrite(file, ":", "Annotation", info, &err);
    ASSERT_FALSE(err) << Chain(err.get());
    ehfa_FileClose(file, &err);
  }
  // The layer read by relation, or in file order (sequential).
  Eant_AnnotationInfo *Read(ErrorSlot &err, int32_t sequential = 0) {
    Ehfa_File *file = ehfa_FileOpen(Path("layer.ovr").c_str(), "r", toolkit_, &err);
    EXPECT_NE(nullptr, file) << Chain(err.get());
    Eant_AnnotationInfo *read = eant_AnnotationInfoReadWithOptions(file, ":Annotation", nullptr, &err,
                                                                   EANT_OPTION_VERSION_FLAGS, sequential,
                                                                   EANT_OPTION_END);
    ehfa_FileClose(file, nullptr);
    return read;
  }
};

TEST_F(GroupLayerTest, NestedGroupsBetweenOtherElementsReadBackInPlace) {
  ErrorSlot err;
  Eant_Element *empty = eant_GroupElementSetValues(info_, nullptr, conversion_, &err, EANT_ELEMKEY_NAME, "empty",
                                                   EANT_ELEMKEY_END);
  info_->elements = List({Line(0, 0, 1, 1, info_), Nested(info_), empty, Line(2, 2, 3, 3, info_)});
  Write(info_);
  std::vector<Eant_Element *> a;
  taviron::eant::ForEachInPreorder(info_->elements, [&](Eant_Element *e) { return a.push_back(e), true; });
  for (int32_t sequential : {0, 1}) {
    SCOPED_TRACE(sequential);
    Eant_AnnotationInfo *read = Read(err, sequential);
    ASSERT_NE(nullptr, read) << Chain(err.get());
    ASSERT_FALSE(err) << Chain(err.get());
    std::vector<Eant_Element *> b;
    taviron::eant::ForEachInPreorder(read->elements, [&](Eant_Element *e) { return b.push_back(e), true; });
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(a[i]->elmType, b[i]->elmType);
      EXPECT_EQ(a[i]->functions, b[i]->functions);
      EXPECT_STREQ(a[i]->name.data, b[i]->name.data);
      EXPECT_EQ(Corners(a[i]->bBox), Corners(b[i]->bBox));
      EXPECT_EQ(a[i]->child != nullptr, b[i]->child != nullptr);
      EXPECT_EQ(a[i]->next != nullptr, b[i]->next != nullptr);
      if (b[i]->child) {
        EXPECT_EQ(b[i], b[i]->child->parent);
      }
    }
    eant_AnnotationInfoFree(&read);
  }
}

TEST_F(GroupLayerTest, AStoredGroupOfNoKnownKindIsRefused) {
  for (int32_t type : {EANT_UNDEFINEDGROUPTYPE, EANT_GCP}) {
    SCOPED_TRACE(type);
    ErrorSlot err;
    eant_ElementListFree(&info_->elements);
    info_->elements = eant_GroupElementCreate(info_, &err);
    Write(info_);
    // "Group Info" put below the group's entry, as a kind's writer puts it.
    Ehfa_File *file = ehfa_FileOpen(Path("layer.ovr").c_str(), "r+", toolkit_, &err);
    ASSERT_NE(nullptr, file) << Chain(err.get());
    const std::string entry = ":Annotation:ElementList:AntElement_" + std::to_string(info_->elements->id);
    ASSERT_NE(nullptr, ehfa_EntrySeek(file, EHFA_PATH, entry.c_str(), &err)) << Chain(err.get());
    Eant_FileIO io{file, EANT_ANNOTATION_VERSION, 0, 0, 0};
    const Eant_Group group{type, nullptr};
    eant_GroupWrite(&io, &group, &err);
    ASSERT_FALSE(err) << Chain(err.get());
    ehfa_FileClose(file, &err);

    Eant_AnnotationInfo *read = Read(err);
    EXPECT_NE(std::string::npos, Chain(err.get()).find("eant_GroupElementRead #4: Invalid groupType\n"))
        << Chain(err.get());
    eant_AnnotationInfoFree(&read);
  }
}

TEST_F(GroupLayerTest, GroupRecordReadsBackItsType) {
  ErrorSlot err;
  Ehfa_File *file = ehfa_FileCreate(Path("group.ovr").c_str(), toolkit_, &err);
  ASSERT_NE(nullptr, file) << Chain(err.get());
  Eant_FileIO io{file, EANT_ANNOTATION_VERSION, 0, 0, 0};
  eant_GroupWrite(&io, nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_GroupWrite", 4, "Invalid input group"));
  const Eant_Group legend{EANT_LEGEND, nullptr};
  eant_GroupWrite(&io, &legend, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  ASSERT_NE(nullptr, ehfa_EntrySeek(file, EHFA_PARENT, nullptr, &err));
  Eant_Group *read = eant_GroupRead(&io, nullptr, &err);
  ASSERT_NE(nullptr, read) << Chain(err.get());
  EXPECT_EQ(EANT_LEGEND, read->type);
  EXPECT_EQ(nullptr, read->record);
  Eant_Group *copy = eant_GroupCopy(read, nullptr, &err);
  EXPECT_EQ(EANT_LEGEND, copy->type);
  {
    CapturedOutput out;
    eant_GroupPrint(copy, &err);
    EXPECT_EQ("Group info:\ntype - 2\n", out.Out());
  }
  eant_GroupFree(&copy);
  eant_GroupFree(&read);
  EXPECT_EQ(nullptr, read);
  ehfa_FileClose(file, &err);
}

} // namespace
