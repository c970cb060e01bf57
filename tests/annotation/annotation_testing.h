// Shared by the annotation tests (beside the shared kit): a fixture that starts the package on the
// process's toolkit record and checks the heap, scratch files, and a test-only element type.
#ifndef TAVIRON_TESTS_ANNOTATION_TESTING_H
#define TAVIRON_TESTS_ANNOTATION_TESTING_H

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "eant.h"
#include "ecfg.h"
#include "eerr.h"
#include "ehfa.h"
#include "emif.h"
#include "emsc.h"
#include "eprf.h"
#include "taviron_testing.h"

// The hook through which tests put an element type of their own in place of the package's type of
// a code (a null reader removes it again); defined with the package's element-type registry.
namespace taviron::eant {
void SetTestElementType(int32_t code,
                        void (*read)(Eant_AnnotationInfo *, Eant_FileIO *, Eant_Element *, Eerr_ErrorReport **),
                        int32_t (*checkForSmartData)(Eant_Element *, Eerr_ErrorReport **));
// The table elements the package makes itself get for the code (null: removed again).
void SetTestElementFunctions(int32_t code, const Eant_ElementFunctions *functions);
} // namespace taviron::eant

namespace taviron::annotation::testing {

using taviron::testing::Chain;
using taviron::testing::ErrorSlot;
using taviron::testing::Reported;

// Checks that a test gives back every block of the heap it took.
class HeapTest : public ::testing::Test {
protected:
  void SetUp() override { live_ = emsc_TestLiveBlocks(); }
  void TearDown() override { EXPECT_EQ(live_, emsc_TestLiveBlocks()) << "blocks left on the heap"; }
  int64_t live_ = 0;
};

// The package started on the process's toolkit record for each test and freed after it. The
// preferences come from an empty directory, so the package takes their defaults.
class PackageTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("NORIX_PREFERENCES_PATH", Dir().c_str(), 1);
    WritePreferences();
    eprf_DefaultDatabaseTerminate(); // the preferences are read afresh from Dir()
    ecfg_Init(nullptr);
    ErrorSlot err;
    toolkit_ = eint_InitToolkit(&err);
    ASSERT_NE(nullptr, toolkit_);
    eant_Init(toolkit_, &err);
    ASSERT_FALSE(err) << Chain(err);
    data_ = static_cast<Eant_InitData *>(toolkit_->annotationData);
    ASSERT_NE(nullptr, data_);
    live_ = emsc_TestLiveBlocks();
  }
  // The blocks of the heap are those the test started with (the package's own included).
  ::testing::AssertionResult HeapAsAtStart() const {
    const int64_t live = emsc_TestLiveBlocks();
    if (live == live_) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << live - live_ << " blocks more than at the start";
  }
  void TearDown() override {
    auto *data = static_cast<Eant_InitData *>(toolkit_->annotationData);
    toolkit_->annotationData = nullptr;
    eant_InitDataFree(&data);
    eprf_DefaultDatabaseTerminate();
  }
  // The preference files a test starts with (none by default).
  virtual void WritePreferences() {}
  const std::filesystem::path &Dir() const { return dir_.path(); }
  std::string Path(const std::string &name) const { return dir_ / name; }

  taviron::testing::TempDir dir_{"taviron_eant"};
  Eint_InitToolkitData *toolkit_ = nullptr;
  Eant_InitData *data_ = nullptr;
  int64_t live_ = 0;
};

// ---- A test-only element type ----
// Its record is a value and an axis-aligned box in the element's own space; the type computes its
// corners from that box carried through the element's transform. It is written as the element's
// entry with one child "Test Info" and counts what the tests watch: frees, renders (ids in order)
// and calls of its optional slots. TestElementType registers its reader with the package for the
// life of a test.

struct TestRecord {
  int32_t value;
  double x0, y0, x1, y1;
};

inline int testElementFrees = 0;
inline std::vector<int32_t> testRendered; // ids of the elements rendered, in order
inline int testSetLineStyleCalls = 0;
inline int32_t testFailValue = -1000; // a record of this value makes the copy, render and write slots fail

// The design of the type's entry "Test Info".
inline const Emif_Design *TestRecordDesign() {
  static const Emif_Design *design = emif_DesignCreate(nullptr, "TestElement_Eant", nullptr, EMIF_TYPE_S32, "value",
                                                       EMIF_TYPE_F64, "x0", EMIF_TYPE_F64, "y0", EMIF_TYPE_F64, "x1",
                                                       EMIF_TYPE_F64, "y1", 0);
  return design;
}

struct TestType {
  static TestRecord &Record(Eant_Element *element) { return *static_cast<TestRecord *>(element->info); }

  static void Free(Eant_Element **element) {
    if (!element || !*element) return;
    ++testElementFrees;
    eant_ElementListFree(&(*element)->child);
    emsc_HeapFree((*element)->info);
    eant_ElementFree(element);
  }
  static Eant_Element *Copy(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err) {
    if (Record(source).value == testFailValue) {
      *err = eerr_CreateErrorReport("TestType::Copy", 1, 2, nullptr, "refused");
      return target;
    }
    Eant_Element *copy = eant_ElementCopy(source, target, err);
    if (!copy || *err) return copy;
    if (!copy->info && !(copy->info = emsc_HeapMalloc(sizeof(TestRecord)))) {
      *err = eerr_CreateErrorReport("TestType::Copy", 2, 2, nullptr, "out of memory");
      return copy;
    }
    Record(copy) = Record(source);
    return copy;
  }
  static void ReplaceValues(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err) {
    eant_ElementReplaceValues(source, target, err);
    if (*err) return;
    if (!target->info && !(target->info = emsc_HeapMalloc(sizeof(TestRecord)))) {
      *err = eerr_CreateErrorReport("TestType::ReplaceValues", 1, 2, nullptr, "out of memory");
      return;
    }
    Record(target) = Record(source);
  }
  static void Print(Eant_Element *element, Eerr_ErrorReport **err) { eant_ElementPrint(element, err); }
  static void Render(Eint_InitToolkitData *, Eant_StyleLibrary *, Eant_SymbolLibrary *, Eant_Criteria *,
                     Eevg_Drawing *, Eant_Element *element, _exfr_XForm *, Eant_CoordSysConversion *,
                     Eerr_ErrorReport **err) {
    if (Record(element).value == testFailValue) {
      *err = eerr_CreateErrorReport("TestType::Render", 1, 2, nullptr, "refused");
      return;
    }
    testRendered.push_back(element->id);
  }
  static Egda_BaseData *CalculateBbox(Eant_Element *element, _exfr_XForm *, Eant_CoordSysConversion *,
                                      Eerr_ErrorReport **err) {
    const TestRecord &r = Record(element);
    Egda_BaseData *corners = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, err);
    if (!corners) return nullptr;
    const double xs[4] = {r.x0, r.x0, r.x1, r.x1}, ys[4] = {r.y0, r.y1, r.y1, r.y0};
    auto *values = reinterpret_cast<double *>(corners->origin);
    for (int c = 0; c < 4; ++c) {
      values[2 * c] = xs[c];
      values[2 * c + 1] = ys[c];
    }
    if (element->xformMatrix) efga_PolyTransCoords(corners, corners, element->xformMatrix, 0, err);
    return corners;
  }
  static void SetLineStyle(Eant_AnnotationInfo *, Eant_Element *, Eant_Style *, Eerr_ErrorReport **) {
    ++testSetLineStyleCalls;
  }
  static void IncrementCount(Eant_Element *, Eant_ElementInfo *counts, Eerr_ErrorReport **) {
    ++counts->total;
    ++counts->polylines;
  }
  static const char *TypeString(Eant_Element *, Eerr_ErrorReport **) { return "Test"; }
  static int32_t CanBeFlipped(Eant_Element *, Eerr_ErrorReport **) { return 1; }
  static void Write(Eant_FileIO *fileIO, const char *path, int32_t position, Eant_Element *element,
                    Eerr_ErrorReport **err) {
    if (Record(element).value == testFailValue) {
      *err = eerr_CreateErrorReport("TestType::Write", 1, 2, nullptr, "refused");
      return;
    }
    eant_ElementWrite(fileIO, path, position, element, err);
    if (*err) return;
    if (!ehfa_ObjectWrite(fileIO->file, nullptr, "Test Info", "TestElement_Eant", EHFA_CHILD, element->info,
                          TestRecordDesign(), err))
      return;
    ehfa_EntrySeek(fileIO->file, EHFA_PARENT, nullptr, err);
  }
  static void Read(Eant_AnnotationInfo *, Eant_FileIO *fileIO, Eant_Element *element, Eerr_ErrorReport **err) {
    auto *record = static_cast<TestRecord *>(
        ehfa_ObjectRead(fileIO->file, nullptr, "Test Info", EHFA_CHILD_NAMED, nullptr, TestRecordDesign(), err));
    if (!record) return;
    element->info = record;
    element->functions = &Table();
    if (fileIO->versionFlags == 0) ehfa_EntrySeek(fileIO->file, EHFA_PARENT, nullptr, err);
  }

  static const Eant_ElementFunctions &Table() {
    static const Eant_ElementFunctions table = [] {
      Eant_ElementFunctions t{};
      t.copyElement = &Copy;
      t.printElement = &Print;
      t.renderElement = &Render;
      t.free = &Free;
      t.writeElement = &Write;
      t.setLineStyle = &SetLineStyle;
      t.calculateBbox = &CalculateBbox;
      t.replaceValues = &ReplaceValues;
      t.incrementCount = &IncrementCount;
      t.getTypeString = &TypeString;
      t.canBeFlipped = &CanBeFlipped;
      return t;
    }();
    return table;
  }
};

// The test type takes the place of the package's polyline (or of another code) while it lives;
// with a table, elements the package makes itself of that code get the table.
class TestElementType {
public:
  explicit TestElementType(int32_t code = EANT_POLYLINE,
                           int32_t (*checkForSmartData)(Eant_Element *, Eerr_ErrorReport **) = nullptr,
                           const Eant_ElementFunctions *functions = nullptr)
      : code_(code) {
    taviron::eant::SetTestElementType(code, &TestType::Read, checkForSmartData);
    taviron::eant::SetTestElementFunctions(code, functions);
  }
  ~TestElementType() {
    taviron::eant::SetTestElementType(code_, nullptr, nullptr);
    taviron::eant::SetTestElementFunctions(code_, nullptr);
  }
  TestElementType(const TestElementType &) = delete;
  TestElementType &operator=(const TestElementType &) = delete;

private:
  int32_t code_;
};

// A new element of the test type (type code of a polyline unless given) with its record, made by
// eant_ElementCreate (an id from the info's header when it has one); null on failure.
inline Eant_Element *NewTestElement(int32_t value, Eant_AnnotationInfo *info = nullptr, int32_t type = EANT_POLYLINE) {
  Eant_Element *element = eant_ElementCreate(info, nullptr);
  auto *record = static_cast<TestRecord *>(emsc_HeapMalloc(sizeof(TestRecord)));
  if (!element || !record) {
    emsc_HeapFree(record);
    eant_ElementFree(&element);
    return nullptr;
  }
  *record = {value, 0, 0, 1, 1};
  element->elmType = type;
  element->functions = &TestType::Table();
  element->info = record;
  eant_CharStrCreate("test element", &element->name, nullptr);
  return element;
}

// Links the elements into a list in the order given and returns its first element.
inline Eant_Element *Linked(std::initializer_list<Eant_Element *> elements) {
  Eant_Element *first = nullptr, *last = nullptr;
  for (Eant_Element *element : elements) {
    element->previous = last;
    (last ? last->next : first) = element;
    last = element;
  }
  return first;
}

// Hangs the children (a list) below the group.
inline void Adopt(Eant_Element *group, std::initializer_list<Eant_Element *> children) {
  group->child = Linked(children);
  for (Eant_Element *child : children) child->parent = group;
}

// An annotation info built by hand around a header (no header when asked), freed with what it
// holds: elements, header, measuring drawing and callbacks.
struct TestInfo {
  Eant_AnnotationInfo info{};
  explicit TestInfo(bool header = true) {
    if (header) info.antHead = eant_AntHeaderCreate(nullptr);
  }
  ~TestInfo() {
    eant_ElementListFree(&info.elements);
    eant_AntHeaderFree(&info.antHead);
    eevg_DrawingFree(&info.fakeDrawing, nullptr);
    for (Eant_Callback *&list : info.callbacks) eant_CallbackFree(&list);
  }
  TestInfo(const TestInfo &) = delete;
  TestInfo &operator=(const TestInfo &) = delete;
  Eant_AnnotationInfo *operator->() { return &info; }
  Eant_AnnotationInfo *get() { return &info; }
};

} // namespace taviron::annotation::testing

#endif
