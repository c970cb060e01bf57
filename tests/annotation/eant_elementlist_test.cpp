// Element lists: identifiers, units and back pointers over a list and its child lists, counts,
// lookup, print and copy, rendering in one walk and in budgeted steps; and element storage: lists
// written to a hierarchical file and read back, older layer versions, damaged records, unknown
// type codes, the list node, and the writer's interrupt check.
#include <sqlite3.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "annotation_testing.h"
#include "ellm.h"
#include "esmg.h"

namespace {

using namespace taviron::annotation::testing;

std::vector<int32_t> Ids(Eant_Element *list) {
  std::vector<int32_t> ids;
  for (Eant_Element *e = list; e; e = e->next) ids.push_back(e->id);
  return ids;
}

class ElementListTest : public HeapTest {
protected:
  void SetUp() override {
    HeapTest::SetUp();
    testElementFrees = 0;
    testRendered.clear();
  }
};

TEST_F(ElementListTest, IdentifiersCountsAndBackPointersReachTheChildLists) {
  ErrorSlot err;
  // [a group with two children, then one more element]
  Eant_Element *group = NewTestElement(0, nullptr, EANT_GROUP), *first = NewTestElement(1), *second = NewTestElement(2);
  Eant_Element *last = NewTestElement(3);
  Adopt(group, {first, second});
  Eant_Element *list = Linked({group, last});
  EXPECT_EQ(14, eant_ElementListMakeUniqueIDs(list, 10, &err));
  EXPECT_EQ((std::vector<int32_t>{10, 11, 12, 13}), (std::vector<int32_t>{group->id, first->id, second->id, last->id}));
  EXPECT_EQ(4, eant_ElementListCount(list, &err));
  EXPECT_EQ(0, eant_ElementListCount(nullptr, &err));
  Eant_ElementInfo *counts = eant_ElementListGetElementInfo(list, &err);
  ASSERT_NE(nullptr, counts);
  EXPECT_EQ(2, counts->total) << "only the top level counts";
  eant_ElementInfoFree(&counts);
  eant_ElementListSetIDs(list, 7, &err);
  EXPECT_EQ((std::vector<int32_t>{7, 7, 7, 7}), (std::vector<int32_t>{group->id, first->id, second->id, last->id}));
  TestInfo info;
  Eant_SymbolLibrary *library = reinterpret_cast<Eant_SymbolLibrary *>(&info); // only compared
  eant_ElementListReplaceAntInfo(list, info.get(), &err);
  eant_ElementListReplaceSymbolLib(list, library, &err);
  eant_ElementListSetUnits(list, EEVG_OUTPUT, "inches", &err);
  for (Eant_Element *e : {group, first, second, last}) {
    EXPECT_EQ(info.get(), e->antInfo);
    EXPECT_EQ(library, e->symbolLibrary);
    ASSERT_NE(nullptr, e->scaleUnits);
    EXPECT_STREQ("inches", e->positionUnits->units.data);
  }
  EXPECT_FALSE(err);
  // The element-info counter fails with the type's slot.
  last->functions = nullptr;
  EXPECT_EQ(nullptr, eant_ElementListGetElementInfo(list, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListGetElementInfo", 2, "Error returned from eant_ElementIncrementCount"));
  last->functions = &TestType::Table();
  eant_ElementListFree(&list);
  EXPECT_EQ(nullptr, list);
  EXPECT_EQ(4, testElementFrees);
}

TEST_F(ElementListTest, LookupPrintAndCopy) {
  ErrorSlot err;
  Eant_Element *a = NewTestElement(1), *b = NewTestElement(2);
  eant_ElementSetName(b, "second", &err);
  a->id = 1, b->id = 2;
  Eant_Element *list = Linked({a, b});
  char second[] = "second", missing[] = "missing";
  EXPECT_EQ(b, eant_ElementListLookup(list, Eant_CharStr{7, second}, &err));
  EXPECT_EQ(nullptr, eant_ElementListLookup(list, Eant_CharStr{8, missing}, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListLookup", 3, "Element not found in list"));
  EXPECT_EQ(nullptr, eant_ElementListLookup(list, Eant_CharStr{0, nullptr}, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListLookup", 1, "Invalid input file nodename"));
  {
    taviron::testing::CapturedOutput captured;
    eant_ElementListPrint(list, &err);
    EXPECT_NE(std::string::npos, captured.Out().find("name - second\n"));
  }
  eant_ElementListPrint(nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListPrint", 1, "Input element is NULL"));
  eant_ElementListCopyStyleBetweenLibs(nullptr, nullptr, nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListCopyStyleBetweenLibs", 1, "Invalid input element lsit"));
  eant_ElementListCopySymbolDataBetweenLibs(list, nullptr, nullptr, &err);
  EXPECT_FALSE(err) << "a type without the slot is skipped";

  // A copy is made through the types and relinked; the list the target held is freed.
  Eant_Element *old = NewTestElement(9);
  Eant_Element *copy = eant_ElementListCopy(list, old, &err);
  ASSERT_NE(nullptr, copy) << Chain(err);
  EXPECT_EQ(1, testElementFrees) << "the target's list";
  EXPECT_EQ((std::vector<int32_t>{1, 2}), Ids(copy));
  EXPECT_EQ(copy, copy->next->previous);
  EXPECT_EQ(2, TestType::Record(copy->next).value);
  EXPECT_NE(b->info, copy->next->info);
  // A failing copy frees what it made.
  TestType::Record(b).value = testFailValue;
  EXPECT_EQ(nullptr, eant_ElementListCopy(list, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListCopy", 3, "Error returned from eant_ElementCopyElement"));
  eant_ElementListFree(&copy);
  eant_ElementListFree(&list);
}

int32_t OddOnly(Eant_Element *element, _exfr_XForm *, void *, Eerr_ErrorReport **) { return element->id % 2; }

TEST_F(ElementListTest, RenderingDrawsWhatPassesTheCriteria) {
  ErrorSlot err;
  Eant_Element *elements[5];
  for (int32_t i = 0; i < 5; ++i) (elements[i] = NewTestElement(i))->id = i + 1;
  Eant_Element *list = Linked({elements[0], elements[1], elements[2], elements[3], elements[4]});
  Eant_Criteria odd{nullptr, nullptr, &OddOnly, nullptr};
  eant_ElementListRender(nullptr, nullptr, nullptr, &odd, list, nullptr, nullptr, nullptr, &err);
  EXPECT_EQ((std::vector<int32_t>{1, 3, 5}), testRendered);
  // The walk stops at the first failure.
  testRendered.clear();
  TestType::Record(elements[2]).value = testFailValue;
  eant_ElementListRender(nullptr, nullptr, nullptr, nullptr, list, nullptr, nullptr, nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListRender", 3, "Error returned from eant_ElementRenderElement"));
  EXPECT_EQ((std::vector<int32_t>{1, 2}), testRendered);
  eant_ElementListRender(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListRender", 1, "Invalid input element list"));
  eant_ElementListFree(&list);
}

TEST_F(ElementListTest, IncrementalRenderingVisitsABudgetOfElementsPerCall) {
  ErrorSlot err;
  // 1, group 2 (children 3 and 4), 5.
  Eant_Element *one = NewTestElement(1), *group = NewTestElement(2, nullptr, EANT_GROUP);
  Eant_Element *three = NewTestElement(3), *four = NewTestElement(4), *five = NewTestElement(5);
  for (Eant_Element *e : {one, group, three, four, five}) e->id = TestType::Record(e).value;
  Adopt(group, {three, four});
  Eant_Element *list = Linked({one, group, five});
  Eant_RenderData render{edlm_NewStack(sizeof(Eant_Element *), &err), 1, 0, 0};
  edlm_Push(render.stack, &list, &err);
  // With a budget of 1 each call visits one element (the group counts as one) and says more is
  // left; the call after the last one says the layer is drawn.
  std::vector<int32_t> results;
  for (int call = 0; call < 8; ++call) {
    const int32_t done = eant_ElementListRenderIncremental(nullptr, &render, nullptr, nullptr, nullptr, nullptr,
                                                           nullptr, nullptr, &err);
    ASSERT_FALSE(err) << Chain(err);
    results.push_back(done);
    if (done) break;
  }
  EXPECT_EQ((std::vector<int32_t>{0, 0, 0, 0, 0, 1}), results);
  EXPECT_EQ((std::vector<int32_t>{1, 3, 4, 5}), testRendered) << "the group's children, not the group";
  EXPECT_EQ(5, render.visited);
  // A larger budget: the same elements over fewer calls; criteria apply to every child.
  testRendered.clear();
  edlm_Push(render.stack, &list, &err);
  render.budget = 3;
  Eant_Criteria odd{nullptr, nullptr, &OddOnly, nullptr};
  EXPECT_EQ(0, eant_ElementListRenderIncremental(nullptr, &render, nullptr, nullptr, &odd, nullptr, nullptr, nullptr, &err));
  EXPECT_EQ(1, eant_ElementListRenderIncremental(nullptr, &render, nullptr, nullptr, &odd, nullptr, nullptr, nullptr, &err));
  EXPECT_EQ((std::vector<int32_t>{1, 5}), testRendered) << "the group (even) is not entered";
  EXPECT_EQ(1, eant_ElementListRenderIncremental(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListRenderIncremental", 1, "Invalid input renderData"));
  // A failing element ends the walk with 1.
  edlm_Push(render.stack, &list, &err);
  TestType::Record(three).value = testFailValue;
  render.budget = 10;
  EXPECT_EQ(1, eant_ElementListRenderIncremental(nullptr, &render, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListRenderIncremental", 8, "Error returned from eant_ElementRenderElement"));
  edlm_FreeList(render.stack);
  eant_ElementListFree(&list);
}

// ---- Storage ----

class ElementFileTest : public PackageTest {
protected:
  void SetUp() override {
    PackageTest::SetUp();
    testElementFrees = 0;
    info_ = std::make_unique<TestInfo>();
  }
  void TearDown() override {
    info_.reset();
    if (file_.file) ehfa_FileClose(file_.file, nullptr);
    PackageTest::TearDown();
  }
  Eant_AnnotationInfo *Info() { return info_->get(); }

  // A new file (version 4) holding nothing yet.
  Eant_FileIO &Create() {
    ErrorSlot err;
    Close();
    file_ = {ehfa_FileCreate(Path("layer.img").c_str(), toolkit_, &err), EANT_ANNOTATION_VERSION, 0, 0, 0};
    EXPECT_NE(nullptr, file_.file) << Chain(err);
    return file_;
  }
  // The file reopened for reading, read as a layer of that version and flags word.
  Eant_FileIO &Reopen(int32_t version = EANT_ANNOTATION_VERSION, int32_t flags = 0) {
    ErrorSlot err;
    if (file_.file) ehfa_FileClose(file_.file, &err);
    file_ = {ehfa_FileOpen(Path("layer.img").c_str(), "r", toolkit_, &err), version, 0, flags, 0};
    EXPECT_NE(nullptr, file_.file) << Chain(err);
    return file_;
  }
  void Close() {
    if (file_.file) ehfa_FileClose(file_.file, nullptr);
    file_.file = nullptr;
  }

  // Three test elements with every part of the common part set; the second has no units.
  Eant_Element *Elements() {
    ErrorSlot err;
    Eant_Element *list = nullptr;
    for (int32_t i = 0; i < 3; ++i) {
      Eant_Element *e = NewTestElement(100 + i, Info());
      eant_ElementSetDescription(e, ("element " + std::to_string(i)).c_str(), &err);
      if (i != 1) eant_ElementSetUnits(e, EEVG_MAP, "meters", &err);
      Efga_Polynomial *p = eant_AffinePolynomialCreate(nullptr, 0.25 * i, 1 + i, 2, &err);
      eant_ElementSetXformMatrix(e, p, &err);
      efga_PolynomialDelete(p, nullptr);
      eant_ElementBboxComputeAndReset(e, nullptr, &err);
      e->attributeRecordNumber = 40 + i;
      list = static_cast<Eant_Element *>(ellm_Add(list, ELLM_APPEND, e));
    }
    EXPECT_FALSE(err) << Chain(err);
    return list;
  }
  void Write(Eant_Element *list) {
    ErrorSlot err;
    eant_ElementNodeAndListWrite(&Create(), nullptr, EANT_ELEMENTLIST, "layer", list, &err);
    EXPECT_FALSE(err) << Chain(err);
    Close();
  }

  std::unique_ptr<TestInfo> info_;
  Eant_FileIO file_{};
  TestElementType type_; // the test type stands for polylines
};

std::vector<double> MatrixValues(const Egda_BaseData *m) {
  if (!m) return {};
  const auto *v = reinterpret_cast<const double *>(m->origin);
  return std::vector<double>(v, v + m->count);
}

void ExpectSame(Eant_Element *a, Eant_Element *b, bool withRecordNumber = true) {
  EXPECT_EQ(a->id, b->id);
  EXPECT_STREQ(a->name.data, b->name.data);
  EXPECT_STREQ(a->description.data, b->description.data);
  EXPECT_EQ(a->elmType, b->elmType);
  for (auto member : {&Eant_Element::scaleUnits, &Eant_Element::positionUnits}) {
    ASSERT_EQ(a->*member == nullptr, b->*member == nullptr);
    if (a->*member) {
      EXPECT_EQ(1, eant_CoordDefinitionCompare(a->*member, b->*member, nullptr));
    }
  }
  for (auto member : {&Eant_Element::xformMatrix, &Eant_Element::ixformMatrix}) {
    EXPECT_EQ(MatrixValues((a->*member)->coefficients), MatrixValues((b->*member)->coefficients));
    EXPECT_EQ(MatrixValues((a->*member)->constants), MatrixValues((b->*member)->constants));
  }
  EXPECT_EQ(MatrixValues(a->bBox), MatrixValues(b->bBox));
  EXPECT_EQ(withRecordNumber ? a->attributeRecordNumber : 0, b->attributeRecordNumber);
  EXPECT_EQ(TestType::Record(a).value, TestType::Record(b).value);
  EXPECT_EQ(&TestType::Table(), b->functions);
}

TEST_F(ElementFileTest, AListWrittenAndReadBackAfterReopeningIsEqual) {
  Eant_Element *written = Elements();
  Write(written);
  for (int32_t flags : {0, 1}) {
    SCOPED_TRACE(flags);
    ErrorSlot err;
    Eant_Element *read = eant_ElementNodeAndListRead(Info(), &Reopen(EANT_ANNOTATION_VERSION, flags), nullptr,
                                                     EANT_ELEMENTLIST, &err);
    ASSERT_NE(nullptr, read) << Chain(err);
    EXPECT_FALSE(err) << Chain(err);
    ASSERT_EQ(3, eant_ElementListCount(read, &err));
    Eant_Element *r = read;
    for (Eant_Element *w = written; w; w = w->next, r = r->next) {
      ExpectSame(w, r);
      EXPECT_EQ(Info(), r->antInfo);
      EXPECT_EQ(r, r->next ? r->next->previous : r);
    }
    // The node's parent (the root) is current again.
    char *path = ehfa_CurrentEntryPath(file_.file, &err);
    EXPECT_STREQ(":", path);
    emsc_HeapFree(path);
    eant_ElementListFree(&read);
  }
  // The elements are entries "AntElement_<id>" below the node, each with the type's entry.
  ErrorSlot err;
  Reopen();
  EXPECT_NE(nullptr, ehfa_EntryPeek(file_.file, EHFA_PATH_PEEK, ":ElementList:AntElement_1:Test Info", &err));
  eant_ElementListFree(&written);
}

TEST_F(ElementFileTest, OlderLayersReadTheOlderRecordAndUnknownVersionsFail) {
  Eant_Element *written = Elements();
  Write(written);
  for (int32_t version : {0, 1, 2}) {
    SCOPED_TRACE(version);
    ErrorSlot err;
    Eant_Element *read = eant_ElementNodeAndListRead(Info(), &Reopen(version), nullptr, EANT_ELEMENTLIST, &err);
    ASSERT_NE(nullptr, read) << Chain(err);
    Eant_Element *r = read;
    for (Eant_Element *w = written; w; w = w->next, r = r->next) ExpectSame(w, r, version >= 2);
    eant_ElementListFree(&read);
  }
  for (int32_t version : {5, -1}) {
    ErrorSlot err;
    Reopen(version);
    EXPECT_EQ(nullptr, eant_ElementRead(Info(), &file_, ":ElementList:AntElement_0", EHFA_PATH, nullptr, &err));
    const std::string message = "Invalid annotation layer version number " + std::to_string(version);
    EXPECT_TRUE(Reported(err.get(), "eant_ElementRead", 11, message.c_str()));
  }
  // A single element read into a given one replaces its parts.
  ErrorSlot err;
  Reopen();
  Eant_Element *target = written->next;
  EXPECT_EQ(target, eant_ElementRead(Info(), &file_, ":ElementList:AntElement_0", EHFA_PATH, target, &err));
  EXPECT_EQ(0, target->id);
  EXPECT_STREQ("element 0", target->description.data);
  ASSERT_NE(nullptr, target->positionUnits) << "taken from the record";
  eant_ElementListFree(&written);
}

TEST_F(ElementFileTest, ADamagedRecordFailsTheReadNamingTheElementUnlessWhatCanBeReadIsAskedFor) {
  Eant_Element *written = Elements();
  // A damaged record of an element, or of the list node. Asked for, the elements before a damaged
  // element are kept, with a warning that names it; by default the read fails.
  struct Case {
    const char *entry;
    bool keep;
    std::vector<int32_t> kept; // the ids read when the read succeeds
    const char *message;       // of the list reader's report
  } cases[] = {
      {"AntElement_1", false, {}, "Element 2 of the list (AntElement_1) could not be read"},
      {"AntElement_1", true, {0}, "Element 2 of the list (AntElement_1) could not be read: the list ends before it"},
      {"AntElement_0", false, {}, "Element 1 of the list (AntElement_0) could not be read"},
      {"AntElement_0", true, {}, "Element 1 of the list (AntElement_0) could not be read: the list ends before it"},
      {"AntElement_2", false, {}, "Element 3 of the list (AntElement_2) could not be read"},
      {"ElementList", false, {}, nullptr},
      {"ElementList", true, {}, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.entry) + (c.keep ? " kept" : ""));
    Write(written);
    sqlite3 *db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(Path("layer.img").c_str(), &db));
    const std::string cut = "UPDATE entry SET data = substr(data, 1, 3) WHERE name = '" + std::string(c.entry) + "'";
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, cut.c_str(), nullptr, nullptr, nullptr));
    sqlite3_close(db);
    Eant_FileIO &io = Reopen();
    if (c.keep) io.reserved |= EANT_FILEIO_KEEP_READ_ELEMENTS;
    ErrorSlot err;
    Eant_Element *read = eant_ElementNodeAndListRead(Info(), &io, nullptr, EANT_ELEMENTLIST, &err);
    ASSERT_TRUE(err) << "the damage is told";
    const std::string chain = Chain(err);
    if (!c.message) {
      EXPECT_EQ(nullptr, read);
      EXPECT_TRUE(Reported(err.get(), "eant_ElementNodeAndListRead", 2, "Error returned from eant_ElementNodeRead"));
      EXPECT_NE(std::string::npos, chain.find("Corrupt record in entry ElementList")) << chain;
      continue;
    }
    EXPECT_NE(std::string::npos, chain.find(std::string("eant_ElementListRead #1: ") + c.message)) << chain;
    EXPECT_NE(std::string::npos, chain.find(std::string("Corrupt record in entry ") + c.entry)) << chain;
    if (c.keep) {
      EXPECT_EQ(1, err->severity);
      EXPECT_STREQ("eant_ElementNodeAndListRead", err->reporter);
      EXPECT_EQ(3, err->code);
      EXPECT_EQ(c.kept, Ids(read));
    } else {
      EXPECT_TRUE(Reported(err.get(), "eant_ElementNodeAndListRead", 3, "Error returned from eant_ElementListRead"));
      EXPECT_EQ(nullptr, read);
    }
    eant_ElementListFree(&read);
  }
  eant_ElementListFree(&written);
}

TEST_F(ElementFileTest, ATypeCodeWithoutTypeOrAFailingReaderDiscardsTheList) {
  ErrorSlot err;
  Eant_Element *written = Elements();
  for (int32_t code : {EANT_LINE_GRID, EANT_VECTORS, EANT_UNDEFINEDELEMENTTYPE}) {
    SCOPED_TRACE(code);
    written->next->elmType = code;
    Write(written);
    EXPECT_EQ(nullptr, eant_ElementListRead(Info(), &Reopen(), ":ElementList", EHFA_CHILD_OF, &err));
    const std::string message = "Invalid element type " + std::to_string(code);
    EXPECT_TRUE(Reported(err.get(), "eant_ElementListRead", 2, message.c_str()));
  }
  written->next->elmType = EANT_POLYLINE;
  Write(written);
  // The type's entry of the last element is gone: its reader fails.
  Eant_FileIO &io = Reopen();
  Close();
  io.file = ehfa_FileOpen(Path("layer.img").c_str(), "r+", toolkit_, &err);
  ASSERT_NE(nullptr, ehfa_EntrySeek(io.file, EHFA_PATH, ":ElementList:AntElement_2:Test Info", &err));
  ASSERT_EQ(0, ehfa_EntryDelete(io.file, &err));
  ehfa_EntrySeek(io.file, EHFA_PATH, ":", &err);
  EXPECT_EQ(nullptr, eant_ElementListRead(Info(), &io, ":ElementList", EHFA_CHILD_OF, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListRead", 3, "Error returned from readElement for element 2"));
  eant_ElementListFree(&written);
}

TEST_F(ElementFileTest, EmptyListsMissingNodesAndBadArguments) {
  ErrorSlot err;
  // An empty list writes no node, with a warning.
  eant_ElementNodeAndListWrite(&Create(), nullptr, EANT_ELEMENTLIST, "layer", nullptr, &err);
  ASSERT_TRUE(err);
  EXPECT_EQ(1, err->severity);
  EXPECT_EQ(2, err->code);
  EXPECT_STREQ("Input elmList is NULL", err->message);
  EXPECT_EQ(nullptr, ehfa_EntryPeek(file_.file, EHFA_PATH_PEEK, ":ElementList", &err));
  // Reading a layer without a list node gives an empty list, with a warning.
  EXPECT_EQ(nullptr, eant_ElementNodeAndListRead(Info(), &file_, nullptr, EANT_ELEMENTLIST, &err));
  ASSERT_TRUE(err);
  EXPECT_EQ(1, err->severity);
  EXPECT_STREQ("Error returned from eant_ElementNodeRead", err->message);
  // A list node without elements fails to read.
  eant_ElementNodeWrite(&file_, nullptr, EANT_SYMBOLELEMENTLIST, &err);
  ASSERT_FALSE(err) << Chain(err);
  ehfa_EntrySeek(file_.file, EHFA_PARENT, nullptr, &err);
  EXPECT_EQ(nullptr, eant_ElementNodeAndListRead(Info(), &file_, nullptr, EANT_SYMBOLELEMENTLIST, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ElementNodeAndListRead", 3, "Error returned from eant_ElementListRead"));
  struct Case {
    const char *reporter;
    int code;
    const char *message;
    std::function<void(Eerr_ErrorReport **)> call;
  } cases[] = {
      {"eant_ElementNodeWrite", 6, "Invalid input nodeType",
       [this](Eerr_ErrorReport **r) { eant_ElementNodeWrite(&file_, nullptr, 2, r); }},
      {"eant_ElementNodeRead", 6, "Invalid input nodeType",
       [this](Eerr_ErrorReport **r) { eant_ElementNodeRead(&file_, nullptr, -1, r); }},
      {"eant_ElementNodeWrite", 1, "Invalid input fileIO", [](Eerr_ErrorReport **r) { eant_ElementNodeWrite(nullptr, nullptr, 0, r); }},
      {"eant_ElementNodeAndListWrite", 1, "Invalid input fileIO",
       [](Eerr_ErrorReport **r) { eant_ElementNodeAndListWrite(nullptr, nullptr, 0, "a", nullptr, r); }},
      {"eant_ElementNodeAndListRead", 1, "Invalid input fileIO",
       [this](Eerr_ErrorReport **r) { eant_ElementNodeAndListRead(Info(), nullptr, nullptr, 0, r); }},
      {"eant_ElementWrite", 4, "Invalid input element",
       [this](Eerr_ErrorReport **r) { eant_ElementWrite(&file_, nullptr, EHFA_CHILD, nullptr, r); }},
      {"eant_ElementRead", 1, "Invalid input fileIO",
       [this](Eerr_ErrorReport **r) { eant_ElementRead(Info(), nullptr, nullptr, EHFA_CHILD, nullptr, r); }},
      {"eant_ElementListWrite", 1, "Invalid input element",
       [this](Eerr_ErrorReport **r) { eant_ElementListWrite(&file_, nullptr, EHFA_CHILD, nullptr, r); }},
  };
  for (const Case &c : cases) {
    c.call(&err);
    EXPECT_TRUE(Reported(err.get(), c.reporter, c.code, c.message));
  }
  // A file of a toolkit without the package.
  Eant_FileIO bare{file_.file, 4, 0, 0, 0};
  Eint_InitToolkitData *saved = file_.file->init;
  file_.file->init = nullptr;
  eant_ElementWrite(&bare, nullptr, EHFA_CHILD, nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ElementWrite", 2, "Toolkit has not been initialized"));
  file_.file->init = saved;
}

// A type whose write asks the user to stop while its element of value 102 is written.
void WriteThenInterrupt(Eant_FileIO *io, const char *path, int32_t position, Eant_Element *element,
                        Eerr_ErrorReport **err) {
  TestType::Write(io, path, position, element, err);
  if (TestType::Record(element).value == 102) esmg_InterruptSet();
}

TEST_F(ElementFileTest, TheWriterStopsAtTheFirstFailureOrUserInterrupt) {
  static const Eant_ElementFunctions interrupting = [] {
    Eant_ElementFunctions t = TestType::Table();
    t.writeElement = &WriteThenInterrupt;
    return t;
  }();
  ErrorSlot err;
  Eant_Element *list = Elements();
  for (Eant_Element *e = list; e; e = e->next) e->functions = &interrupting;
  Eant_FileIO &io = Create();
  esmg_InterruptClear();
  ehfa_EntryWrite(io.file, nullptr, "ElementList", nullptr, EHFA_CHILD, &err);
  eant_ElementListWrite(&io, nullptr, EHFA_CHILD, list, &err);
  esmg_InterruptClear();
  // Interrupted while the last element was written: still reported, the elements stay written.
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListWrite", 3, "User interrupted annotation layer write"));
  for (const char *name : {":ElementList:AntElement_0", ":ElementList:AntElement_2"})
    EXPECT_NE(nullptr, ehfa_EntryPeek(io.file, EHFA_PATH_PEEK, name, &err)) << name;
  // A failing element stops the walk; a null error slot is accepted.
  TestType::Record(list->next).value = testFailValue;
  ehfa_EntryWrite(io.file, nullptr, "Second", nullptr, EHFA_CHILD, &err);
  eant_ElementListWrite(&io, nullptr, EHFA_CHILD, list, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListWrite", 2, "Error returned from eant_ElementWriteElement"));
  ehfa_EntryWrite(io.file, ":", "Third", nullptr, EHFA_CHILD, &err);
  eant_ElementListWrite(&io, nullptr, EHFA_CHILD, list, nullptr);
  EXPECT_NE(nullptr, ehfa_EntryPeek(io.file, EHFA_PATH_PEEK, ":Third:AntElement_0", &err));
  EXPECT_EQ(nullptr, ehfa_EntryPeek(io.file, EHFA_PATH_PEEK, ":Third:AntElement_1", &err));
  eant_ElementListFree(&list);
}

} // namespace
