// The element model: the dispatchers of the per-type table with their rules for null elements,
// missing and failing slots; the common part (create with identifiers from the header, copy,
// replace, backup and restore, print, setters, moving within lists, smart data, search by id).
#include <cmath>
#include <functional>
#include <string>

#include "annotation_testing.h"
#include "ellm.h"

namespace {

using namespace taviron::annotation::testing;

class ElementTest : public HeapTest {
protected:
  void SetUp() override {
    HeapTest::SetUp();
    testElementFrees = 0;
    testRendered.clear();
    testSetLineStyleCalls = 0;
  }
};

double Corner(const Egda_BaseData *box, int row, int column) {
  return reinterpret_cast<const double *>(box->origin)[2 * column + row];
}

// The linear part and translation of a first-order polynomial: a00, a01, a10, a11, t0, t1.
std::vector<double> Parts(const Efga_Polynomial *p) {
  const auto *l = reinterpret_cast<const double *>(p->coefficients->origin);
  const auto *t = reinterpret_cast<const double *>(p->constants->origin);
  // Matrices are stored column by column.
  return {l[0], l[2], l[1], l[3], t[0], t[1]};
}

TEST_F(ElementTest, DispatchersApplyTheirRuleToNullElementsAndMissingSlots) {
  static const Eant_ElementFunctions freeOnly = [] {
    Eant_ElementFunctions t{};
    t.free = &TestType::Free;
    return t;
  }();
  Eant_Element *element = NewTestElement(1);
  element->functions = &freeOnly;
  using Call = std::function<void(Eant_Element *, Eerr_ErrorReport **)>;
  struct Case {
    const char *reporter;
    const char *slot; // null: a type without the slot is skipped without a report
    Call call;
  } cases[] = {
      {"eant_ElementCopyElement", "copyElement", [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementCopyElement(e, nullptr, r); }},
      {"eant_ElementPrintElement", "printElement", [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementPrintElement(e, r); }},
      {"eant_ElementRenderElement", "renderElement",
       [](Eant_Element *e, Eerr_ErrorReport **r) {
         eant_ElementRenderElement(nullptr, nullptr, nullptr, nullptr, nullptr, e, nullptr, nullptr, r);
       }},
      {"eant_ElementWriteElement", "writeElement",
       [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementWriteElement(nullptr, nullptr, 3, e, r); }},
      {"eant_ElementCoordInElement", "coordInElement",
       [](Eant_Element *e, Eerr_ErrorReport **r) {
         EXPECT_EQ(0, eant_ElementCoordInElement(nullptr, nullptr, nullptr, nullptr, e, nullptr, nullptr, nullptr, r));
       }},
      {"eant_ElementCalculateBbox", "calculateBbox",
       [](Eant_Element *e, Eerr_ErrorReport **r) { EXPECT_EQ(nullptr, eant_ElementCalculateBbox(e, nullptr, nullptr, r)); }},
      {"eant_ElementCalculateBboxWithDrawing", "calculateBbox",
       [](Eant_Element *e, Eerr_ErrorReport **r) {
         EXPECT_EQ(nullptr, eant_ElementCalculateBboxWithDrawing(e, nullptr, nullptr, nullptr, r));
       }},
      {"eant_ElementUpdateInfo", "updateInfo", [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementUpdateInfo(e, nullptr, r); }},
      {"eant_ElementReplaceElementValues", "replaceValues",
       [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementReplaceElementValues(e, e, r); }},
      {"eant_ElementConvertToMap", "convertToMap", [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementConvertToMap(e, nullptr, r); }},
      {"eant_ElementTransformMap", "transformMap",
       [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementTransformMap(e, nullptr, nullptr, nullptr, nullptr, nullptr, r); }},
      {"eant_ElementIncrementCount", "incrementCount",
       [](Eant_Element *e, Eerr_ErrorReport **r) {
         Eant_ElementInfo counts{};
         eant_ElementIncrementCount(e, &counts, r);
         EXPECT_EQ(0, counts.total);
       }},
      {"eant_ElementGetTypeString", "getTypeString",
       [](Eant_Element *e, Eerr_ErrorReport **r) { EXPECT_EQ(nullptr, eant_ElementGetTypeString(e, r)); }},
      {"eant_ElementCanBeFlipped", "canBeFlipped", [](Eant_Element *e, Eerr_ErrorReport **r) { EXPECT_EQ(0, eant_ElementCanBeFlipped(e, r)); }},
      {"eant_ElementSetLineStyle", nullptr, [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementSetLineStyle(nullptr, e, nullptr, r); }},
      {"eant_ElementSetLineStyleAndRecalcBbox", nullptr,
       [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementSetLineStyleAndRecalcBbox(nullptr, e, 0, nullptr, r); }},
      {"eant_ElementSetFillStyle", nullptr, [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementSetFillStyle(nullptr, e, nullptr, r); }},
      {"eant_ElementSetFillStyleAndRecalcBbox", nullptr,
       [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementSetFillStyleAndRecalcBbox(nullptr, e, 0, nullptr, r); }},
      {"eant_ElementSetTextStyle", nullptr,
       [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementSetTextStyle(nullptr, e, 0, 10, "points", nullptr, r); }},
      {"eant_ElementSetTextStyleAndHeight", nullptr,
       [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementSetTextStyleAndHeight(nullptr, e, 0, 10, nullptr, nullptr, r); }},
      {"eant_ElementSetSymbolData", nullptr,
       [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementSetSymbolData(nullptr, e, 0, 1, nullptr, 0, 0, nullptr, r); }},
      {"eant_ElementSelectStyle", nullptr,
       [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementSelectStyle(nullptr, e, 0, nullptr, nullptr, r); }},
      {"eant_ElementCopyStyle", nullptr, [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementCopyStyle(e, nullptr, nullptr, r); }},
      {"eant_ElementCopySymbolData", nullptr,
       [](Eant_Element *e, Eerr_ErrorReport **r) { eant_ElementCopySymbolData(e, nullptr, nullptr, r); }},
      {"eant_ElementSelectSingleStyleOnly", nullptr,
       [](Eant_Element *e, Eerr_ErrorReport **r) { EXPECT_EQ(0, eant_ElementSelectSingleStyleOnly(nullptr, e, 0, r)); }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.reporter);
    ErrorSlot err;
    c.call(element, &err);
    if (c.slot) {
      const std::string message = std::string("Invalid ") + c.slot + " function for input element";
      EXPECT_TRUE(Reported(err.get(), c.reporter, 3, message.c_str()));
    } else {
      EXPECT_FALSE(err) << Chain(err);
    }
    c.call(nullptr, &err);
    EXPECT_TRUE(Reported(err.get(), c.reporter, 1, "Invalid input Eant_Element"));
  }
  // A copy without a slot hands the target back unchanged.
  ErrorSlot err;
  EXPECT_EQ(element, eant_ElementCopyElement(element, element, &err));
  // The free dispatcher does nothing for a null pointer, a null element or a type without table.
  eant_ElementFreeElement(nullptr);
  Eant_Element *none = nullptr;
  eant_ElementFreeElement(&none);
  element->functions = nullptr;
  eant_ElementFreeElement(&element);
  EXPECT_NE(nullptr, element);
  element->functions = &freeOnly;
  eant_ElementFreeElement(&element);
  EXPECT_EQ(nullptr, element);
  EXPECT_EQ(1, testElementFrees);
}

TEST_F(ElementTest, SlotsAreCalledAndTheirFailuresChained) {
  Eant_Element *element = NewTestElement(5);
  ErrorSlot err;
  eant_ElementSetLineStyle(nullptr, element, nullptr, &err);
  EXPECT_EQ(1, testSetLineStyleCalls);
  EXPECT_STREQ("Test", eant_ElementGetTypeString(element, &err));
  EXPECT_EQ(1, eant_ElementCanBeFlipped(element, &err));
  // With no box slot of its own taking a drawing, the type's plain box is used.
  Egda_BaseData *plain = eant_ElementCalculateBbox(element, nullptr, nullptr, &err);
  Egda_BaseData *withDrawing = eant_ElementCalculateBboxWithDrawing(element, nullptr, nullptr, nullptr, &err);
  ASSERT_NE(nullptr, withDrawing);
  for (int c = 0; c < 4; ++c)
    for (int r = 0; r < 2; ++r) EXPECT_EQ(Corner(plain, r, c), Corner(withDrawing, r, c));
  egda_BaseDataDelete(plain, nullptr);
  egda_BaseDataDelete(withDrawing, nullptr);
  EXPECT_FALSE(err);

  // A failing slot: its report is chained below the dispatcher's; the copy still returns what the
  // slot returned.
  TestType::Record(element).value = testFailValue;
  EXPECT_EQ(nullptr, eant_ElementCopyElement(element, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementCopyElement", 2, "Error returned from copyElement"));
  ASSERT_NE(nullptr, err->next);
  EXPECT_STREQ("refused", err->next->message);
  eant_ElementRenderElement(nullptr, nullptr, nullptr, nullptr, nullptr, element, nullptr, nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ElementRenderElement", 2, "Error returned from renderElement"));
  eant_ElementFreeElement(&element);
}

int moved = 0, modified = 0;
void CountMoved(void *, void *, Eerr_ErrorReport **) { ++moved; }
void CountModified(void *, void *, Eerr_ErrorReport **) { ++modified; }

TEST_F(ElementTest, AFlipWithoutTheTypesSlotMovesTheElementByThePolynomial) {
  TestInfo info;
  ErrorSlot err;
  eant_AddElementMovedCallback(info.get(), &CountMoved, nullptr, &err);
  eant_AddElementModifiedCallback(info.get(), &CountModified, nullptr, &err);
  moved = modified = 0;
  Eant_Element *element = NewTestElement(1, info.get());
  info->elements = element;
  eant_ElementSetBBox(element, 0, 0, 0, 1, 1, 1, 1, 0, &err);
  Efga_Polynomial *mirror = eant_ScalePolynomialCreate(nullptr, -1, 1, &err);
  eant_ElementFlip(info.get(), element, nullptr, nullptr, mirror, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ(-1, Corner(element->bBox, 0, 2));
  EXPECT_EQ((std::vector<double>{-1, 0, 0, 1, 0, 0}), Parts(element->xformMatrix));
  EXPECT_EQ((std::vector<double>{-1, 0, 0, 1, 0, 0}), Parts(element->ixformMatrix));
  EXPECT_EQ(1, moved);
  EXPECT_EQ(1, modified);
  EXPECT_EQ(1, info->modified);
  // The layer box grew to hold the element.
  Evec_Bbox *layer = eant_GetAntBoundingBox(info.get(), nullptr, &err);
  ASSERT_NE(nullptr, layer);
  EXPECT_EQ(-1, Corner(layer, 0, 0));
  evec_BboxDelete(layer, nullptr);
  // Without an info only the element moves.
  Efga_Polynomial *shift = eant_TranslatePolynomialCreate(nullptr, 2, 3, &err);
  eant_ElementFlip(nullptr, element, nullptr, nullptr, shift, &err);
  EXPECT_EQ((std::vector<double>{-1, 0, 0, 1, 2, 3}), Parts(element->xformMatrix));
  EXPECT_EQ(1, moved);
  efga_PolynomialDelete(mirror, nullptr);
  efga_PolynomialDelete(shift, nullptr);
}

TEST_F(ElementTest, CreateTakesItsIdentifierFromTheHeader) {
  TestInfo info;
  info->antHead->nextElement = 7;
  ErrorSlot err;
  Eant_Element *element = eant_ElementCreate(info.get(), &err);
  ASSERT_NE(nullptr, element);
  EXPECT_EQ(7, element->id);
  EXPECT_STREQ("Element_7", element->name.data);
  EXPECT_EQ(8u, info->antHead->nextElement);
  EXPECT_EQ(info.get(), element->antInfo);
  EXPECT_EQ(-1, element->rowNumber);
  EXPECT_EQ((std::vector<double>{1, 0, 0, 1, 0, 0}), Parts(element->xformMatrix));
  EXPECT_EQ((std::vector<double>{1, 0, 0, 1, 0, 0}), Parts(element->ixformMatrix));
  eant_ElementFree(&element);
  // Without an info, or an info without header: id 0, an empty name, identity transforms.
  TestInfo bare(false);
  for (Eant_AnnotationInfo *owner : {static_cast<Eant_AnnotationInfo *>(nullptr), bare.get()}) {
    element = eant_ElementCreate(owner, &err);
    ASSERT_NE(nullptr, element);
    EXPECT_EQ(0, element->id);
    EXPECT_EQ(0, element->name.count);
    EXPECT_EQ((std::vector<double>{1, 0, 0, 1, 0, 0}), Parts(element->xformMatrix));
    eant_ElementFree(&element);
  }
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(nullptr, eant_ElementCreate(info.get(), &err));
  }
  EXPECT_TRUE(Reported(err.get(), "eant_ElementCreate", 1, "Error returned from eant_ElementStructureCreate"));
  EXPECT_TRUE(Reported(err->next, "eant_ElementStructureCreate", 1, "Error allocating Element"));
  {
    taviron::testing::FailAllocation fail(2); // the name
    EXPECT_EQ(nullptr, eant_ElementCreate(info.get(), &err));
  }
  EXPECT_TRUE(Reported(err.get(), "eant_ElementCreate", 2, "Error returned from eant_CharStrCreate"));
  EXPECT_EQ(8u, info->antHead->nextElement) << "a failed create takes no identifier";
}

TEST_F(ElementTest, CopyIsDeepAndTakesAFreshIdentifierForANegativeOne) {
  TestInfo info;
  info->antHead->nextElement = 20;
  ErrorSlot err;
  Eant_Element *source = NewTestElement(3, info.get());
  source->id = -1;
  eant_ElementSetDescription(source, "described", &err);
  eant_ElementSetUnits(source, EEVG_MAP, "meters", &err);
  eant_ElementSetBBox(source, 1, 2, 1, 4, 3, 4, 3, 2, &err);
  source->selected = EMSC_TRUE;
  source->attributeRecordNumber = 9;
  source->rowNumber = 4;
  source->formerNext = source;
  Eant_Element *copy = eant_ElementCopy(source, nullptr, &err);
  ASSERT_NE(nullptr, copy) << Chain(err);
  EXPECT_EQ(21, copy->id) << "the fresh element's identifier";
  EXPECT_EQ(22u, info->antHead->nextElement);
  EXPECT_STREQ("described", copy->description.data);
  EXPECT_NE(source->description.data, copy->description.data);
  ASSERT_NE(nullptr, copy->positionUnits);
  EXPECT_NE(source->positionUnits, copy->positionUnits);
  EXPECT_STREQ("meters", copy->scaleUnits->units.data);
  EXPECT_NE(source->bBox, copy->bBox);
  EXPECT_EQ(3, Corner(copy->bBox, 0, 2));
  EXPECT_EQ(EMSC_TRUE, copy->selected);
  EXPECT_EQ(source->functions, copy->functions);
  EXPECT_EQ(nullptr, copy->info) << "the type record is the type's to copy";
  EXPECT_EQ(0, copy->attributeRecordNumber);
  EXPECT_EQ(-1, copy->rowNumber);
  EXPECT_EQ(nullptr, copy->formerNext);
  // A second copy consumes another identifier; a non-negative id is copied.
  source->id = 5;
  Eant_Element *again = eant_ElementCopy(source, nullptr, &err);
  EXPECT_EQ(5, again->id);
  EXPECT_EQ(23u, info->antHead->nextElement);
  // Into a given target: its links are cleared, parts the source lacks are dropped.
  again->next = source;
  eant_CoordDefinitionFree(&source->scaleUnits);
  efga_PolynomialDelete(source->ixformMatrix, nullptr);
  source->ixformMatrix = nullptr;
  EXPECT_EQ(again, eant_ElementCopy(source, again, &err));
  EXPECT_EQ(nullptr, again->next);
  EXPECT_EQ(nullptr, again->scaleUnits);
  EXPECT_EQ(nullptr, again->ixformMatrix);
  EXPECT_EQ(again, eant_ElementCopy(nullptr, again, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementCopy", 1, "Invalid input Eant_Element"));
  // Every allocation failed in turn: a failed copy leaves nothing behind (the fixture checks).
  taviron::testing::SweepAllocationFailures([&](Eerr_ErrorReport **e) {
    Eant_Element *made = eant_ElementCopy(source, nullptr, e);
    if (made && !*e) {
      eant_ElementFree(&made);
      return true;
    }
    EXPECT_EQ(nullptr, made);
    return false;
  });
  TestType::Free(&copy);
  eant_ElementFree(&again);
  TestType::Free(&source);
}

TEST_F(ElementTest, ReplaceKeepsLinksAndTypeRecordAndBackupRestoresThroughTheType) {
  TestInfo info;
  ErrorSlot err;
  Eant_Element *first = NewTestElement(1, info.get()), *target = NewTestElement(2, info.get());
  Eant_Element *last = NewTestElement(3, info.get());
  info->elements = Linked({first, target, last});
  Eant_Element *source = NewTestElement(4, info.get());
  source->id = -3;
  source->rowNumber = 8;
  source->formerNext = last;
  eant_ElementSetName(source, "source", &err);
  void *record = target->info;
  eant_ElementReplaceValues(source, target, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ(-3, target->id);
  EXPECT_STREQ("source", target->name.data);
  EXPECT_EQ(8, target->rowNumber);
  EXPECT_EQ(last, target->formerNext);
  EXPECT_EQ(first, target->previous);
  EXPECT_EQ(last, target->next);
  EXPECT_EQ(record, target->info);
  eant_ElementReplaceValues(nullptr, target, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ElementReplaceValues", 1, "Invalid input Eant_Element"));
  eant_ElementReplaceValues(source, nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ElementReplaceValues", 1, "Invalid output Eant_Element"));

  // Backup and restore go through the type's replaceValues (the record comes along).
  Eant_Element *backup = eant_ElementBackup(target, &err);
  ASSERT_NE(nullptr, backup) << Chain(err);
  EXPECT_EQ(2, TestType::Record(backup).value);
  eant_ElementSetName(target, "changed", &err);
  TestType::Record(target).value = 40;
  eant_ElementRestore(backup, target, &err);
  EXPECT_STREQ("source", target->name.data);
  EXPECT_EQ(2, TestType::Record(target).value);
  eant_ElementFreeElement(&backup);
  eant_ElementBackup(nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ElementBackup", 1, "Invalid input Eant_Element"));
  // A type without replaceValues: the backup fails and frees what it made.
  static const Eant_ElementFunctions bare{};
  target->functions = &bare;
  EXPECT_EQ(nullptr, eant_ElementBackup(target, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementBackup", 3, "Error returned from eant_ElementReplaceElementValues"));
  eant_ElementRestore(target, target, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ElementRestore", 2, "Error returned from eant_ElementReplaceElementValues"));
  target->functions = &TestType::Table();
  TestType::Free(&source);
}

TEST_F(ElementTest, PrintWritesTheCommonPart) {
  ErrorSlot err;
  Eant_Element *element = NewTestElement(1);
  element->id = 12;
  element->elmType = EANT_TEXT;
  eant_ElementSetUnits(element, EEVG_MAP, "meters", &err);
  element->xformMatrix = eant_ScalePolynomialCreate(element->xformMatrix, 2, 3, &err);
  element->ixformMatrix = eant_ScalePolynomialCreate(element->ixformMatrix, 0.5, 0.25, &err);
  eant_ElementSetBBox(element, 0, 0, 0, 1, 2, 1, 2, 0, &err);
  element->attributeRecordNumber = 5;
  std::string out;
  {
    taviron::testing::CapturedOutput captured;
    eant_ElementPrint(element, &err);
    out = captured.Out();
  }
  ASSERT_FALSE(err) << Chain(err);
  const std::string tail = "id - 12\nname - test element\ndescription - NULL\nelmType - 10\n"
                           "Coord Definition:\n   coordSys - 3\n   units - meters\n"
                           "Coord Definition:\n   coordSys - 3\n   units - meters\n"
                           "xformMatrix - 2, 0\n              0, 3\n             0, 0\n"
                           "ixformMatrix - 0.5, 0\n              0, 0.25\n             0, 0\n"
                           "bBox - 0, 0     0, 1\n       2, 1     2, 0\n"
                           "selected - false\nattributeRecordNumber - 5\nrowNumber - -1\n";
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(tail, out.substr(out.size() - tail.size()));
  EXPECT_EQ(0u, out.find("\nthis - 0x"));
  eant_ElementPrint(nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ElementPrint", 1, "Invalid input Eant_Element"));
  eant_ElementFreeElement(&element);
}

TEST_F(ElementTest, SettersReportANullElement) {
  ErrorSlot err;
  struct Case {
    const char *reporter;
    const char *message;
    std::function<void(Eerr_ErrorReport **)> call;
  } cases[] = {
      {"eant_ElementSetName", "Invalid input element", [](Eerr_ErrorReport **r) { eant_ElementSetName(nullptr, "a", r); }},
      {"eant_ElementSetDescription", "Invalid input element",
       [](Eerr_ErrorReport **r) { eant_ElementSetDescription(nullptr, "a", r); }},
      {"eant_ElementSetID", "Invalid input Eant_Element", [](Eerr_ErrorReport **r) { eant_ElementSetID(nullptr, 1, r); }},
      {"eant_ElementSetUnits", "Invalid input Eant_Element",
       [](Eerr_ErrorReport **r) { eant_ElementSetUnits(nullptr, 3, "meters", r); }},
      {"eant_ElementInitXformMatrix", "Invalid input element", [](Eerr_ErrorReport **r) { eant_ElementInitXformMatrix(nullptr, r); }},
      {"eant_ElementSetXformMatrix", "Invalid input element",
       [](Eerr_ErrorReport **r) { eant_ElementSetXformMatrix(nullptr, nullptr, r); }},
      {"eant_ElementSetBBox", "Invalid input element",
       [](Eerr_ErrorReport **r) { eant_ElementSetBBox(nullptr, 0, 0, 0, 0, 0, 0, 0, 0, r); }},
      {"eant_ElementCheckForSmartData", "Invalid input Eant_Element",
       [](Eerr_ErrorReport **r) { eant_ElementCheckForSmartData(nullptr, r); }},
      {"eant_GetNextElement", "Invalid input element", [](Eerr_ErrorReport **r) { eant_GetNextElement(nullptr, r); }},
      {"eant_ElementFindTopLevelByID", "Invalid input Eant_AnnotationInfo",
       [](Eerr_ErrorReport **r) { eant_ElementFindTopLevelByID(nullptr, 1, r); }},
  };
  for (const Case &c : cases) {
    c.call(&err);
    EXPECT_TRUE(Reported(err.get(), c.reporter, 1, c.message));
  }
}

TEST_F(ElementTest, SettersOfTransformsBoxAndUnits) {
  ErrorSlot err;
  Eant_Element *element = NewTestElement(1);
  Efga_Polynomial *p = eant_AffinePolynomialCreate(nullptr, 0, 4, 2, &err);
  Efga_Polynomial *inverse = eant_ElementSetXformMatrix(element, p, &err);
  ASSERT_EQ(element->ixformMatrix, inverse);
  EXPECT_EQ((std::vector<double>{0.25, 0, 0, 0.5, 0, 0}), Parts(inverse));
  EXPECT_NE(p, element->xformMatrix);
  efga_PolynomialDelete(p, nullptr);
  // A singular polynomial has no inverse.
  p = eant_ScalePolynomialCreate(nullptr, 0, 1, &err);
  EXPECT_EQ(nullptr, eant_ElementSetXformMatrix(element, p, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementSetXformMatrix", 3, "Error returned from efga_PolynomialInvert"));
  efga_PolynomialDelete(p, nullptr);
  eant_ElementInitXformMatrix(element, &err);
  EXPECT_EQ((std::vector<double>{1, 0, 0, 1, 0, 0}), Parts(element->xformMatrix));
  EXPECT_EQ((std::vector<double>{1, 0, 0, 1, 0, 0}), Parts(element->ixformMatrix));
  // A box of the wrong shape is replaced.
  element->bBox = egda_BaseDataCreate(2, 3, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &err);
  eant_ElementSetBBox(element, 1, 2, 3, 4, 5, 6, 7, 8, &err);
  ASSERT_EQ(4, element->bBox->columns);
  EXPECT_EQ(7, Corner(element->bBox, 0, 3));
  EXPECT_EQ(8, Corner(element->bBox, 1, 3));
  eant_ElementSetUnits(element, EEVG_OUTPUT, "points", &err);
  EXPECT_EQ(EEVG_OUTPUT, element->positionUnits->coordSys);
  EXPECT_STREQ("points", element->scaleUnits->units.data);
  eant_ElementSetID(element, 44, &err);
  EXPECT_EQ(44, element->id);
  eant_ElementSetDescription(element, nullptr, &err);
  EXPECT_EQ(0, element->description.count);
  EXPECT_FALSE(err);
  eant_ElementFreeElement(&element);
}

TEST_F(ElementTest, PositionMovesAnElementWithinLists) {
  Eant_Element *a = NewTestElement(1), *b = NewTestElement(2), *c = NewTestElement(3);
  a->id = 1, b->id = 2, c->id = 3;
  Eant_Element *list = Linked({a, b, c});
  ErrorSlot err;
  eant_ElementPosition(c, a, ELLM_BEFORE, &err); // c a b
  list = c;
  std::vector<int32_t> ids;
  for (Eant_Element *e = list; e; e = e->next) ids.push_back(e->id);
  EXPECT_EQ((std::vector<int32_t>{3, 1, 2}), ids);
  EXPECT_EQ(nullptr, c->previous);
  eant_ElementPosition(a, b, ELLM_AFTER, &err); // c b a
  ids.clear();
  for (Eant_Element *e = list; e; e = e->next) ids.push_back(e->id);
  EXPECT_EQ((std::vector<int32_t>{3, 2, 1}), ids);
  EXPECT_EQ(b, a->previous);
  EXPECT_FALSE(err);
  eant_ElementListFree(&list);
  EXPECT_EQ(3, testElementFrees);
}

int32_t HasFields(Eant_Element *element, Eerr_ErrorReport **err) {
  if (TestType::Record(element).value < 0) {
    *err = eerr_CreateErrorReport("HasFields", 1, 2, nullptr, "broken text");
    return 0;
  }
  return TestType::Record(element).value == 1 ? 1 : 0;
}

TEST_F(ElementTest, SmartDataIsAskedOfTheTypeAndOfAGroupsChildren) {
  TestElementType text(EANT_TEXT, &HasFields);
  ErrorSlot err;
  Eant_Element *plain = NewTestElement(0, nullptr, EANT_TEXT), *fields = NewTestElement(1, nullptr, EANT_TEXT);
  Eant_Element *symbol = NewTestElement(1, nullptr, EANT_SYMBOL);
  Eant_Element *group = NewTestElement(0, nullptr, EANT_GROUP);
  Adopt(group, {plain, fields});
  EXPECT_EQ(0, eant_ElementCheckForSmartData(plain, &err));
  EXPECT_EQ(1, eant_ElementCheckForSmartData(fields, &err));
  EXPECT_EQ(0, eant_ElementCheckForSmartData(symbol, &err)) << "a type without the test answers 0";
  EXPECT_EQ(1, eant_ElementCheckForSmartData(group, &err));
  EXPECT_EQ(1, eant_ElementListCheckForSmartData(Linked({symbol, group}), &err));
  EXPECT_FALSE(err);
  TestType::Record(fields).value = -1;
  EXPECT_EQ(0, eant_ElementCheckForSmartData(fields, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementCheckForSmartData", 2, "Error returned from eant_TextElementCheckForSmartData"));
  EXPECT_EQ(0, eant_ElementCheckForSmartData(group, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementCheckForSmartData", 3, "Error returned from eant_ElementListCheckForSmartData"));
  Eant_Element *list = symbol;
  eant_ElementListFree(&list);
  EXPECT_EQ(4, testElementFrees);
}

TEST_F(ElementTest, FindTopLevelByIdLeavesGroupsAlone) {
  TestInfo info;
  ErrorSlot err;
  Eant_Element *group = NewTestElement(0, info.get(), EANT_GROUP), *inner = NewTestElement(0, info.get());
  Eant_Element *top = NewTestElement(0, info.get());
  Adopt(group, {inner});
  info->elements = Linked({group, top});
  EXPECT_EQ(top, eant_ElementFindTopLevelByID(info.get(), top->id, &err));
  EXPECT_EQ(nullptr, eant_ElementFindTopLevelByID(info.get(), inner->id, &err));
  const std::string message = "Requested element (id = " + std::to_string(inner->id) + ") not found";
  EXPECT_TRUE(Reported(err.get(), "eant_ElementFindTopLevelByID", 3, message.c_str()));
  EXPECT_EQ(top, eant_GetNextElement(group, &err));
}

TEST_F(ElementTest, TablesAndCountersAreCreatedEmpty) {
  ErrorSlot err;
  Eant_ElementFunctions *table = eant_ElementFunctionsCreate(&err);
  ASSERT_NE(nullptr, table);
  EXPECT_EQ(nullptr, table->copyElement);
  EXPECT_EQ(nullptr, table->calculateBboxWithDrawing);
  emsc_HeapFree(table);
  Eant_ElementInfo *counts = eant_ElementInfoCreate(&err);
  ASSERT_NE(nullptr, counts);
  EXPECT_EQ(0, counts->groups);
  eant_ElementInfoFree(&counts);
  EXPECT_EQ(nullptr, counts);
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(nullptr, eant_ElementFunctionsCreate(&err));
  }
  EXPECT_TRUE(Reported(err.get(), "eant_ElementFunctionsCreate", 1, "Error allocating Coord Definition"));
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(nullptr, eant_ElementInfoCreate(&err));
  }
  EXPECT_TRUE(Reported(err.get(), "eant_ElementInfoCreate", 1, "Error allocating Coord Definition"));
}

} // namespace
