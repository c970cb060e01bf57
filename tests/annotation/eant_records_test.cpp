// The small records of the annotation model: counted strings, style references, criteria, the
// database access of smart text, the sort records of the distribute operation, the font list.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "annotation_testing.h"
#include "evec.h"

namespace {

using namespace taviron::annotation::testing;

class CharStrTest : public HeapTest {};

TEST_F(CharStrTest, CreateCopiesAndReusesTheBuffer) {
  ErrorSlot err;
  Eant_CharStr s{};
  ASSERT_EQ(&s, eant_CharStrCreate("abc", &s, &err));
  EXPECT_EQ(4, s.count);
  EXPECT_STREQ("abc", s.data);
  char *buffer = s.data;
  // A text of the same size goes into the same buffer, also when it is the string's own text.
  eant_CharStrCreate("xyz", &s, &err);
  EXPECT_EQ(buffer, s.data);
  EXPECT_STREQ("xyz", s.data);
  eant_CharStrCreate(s.data, &s, &err);
  EXPECT_STREQ("xyz", s.data);
  // Another size takes a new buffer; the string's own text may be the source.
  eant_CharStrCreate(s.data + 1, &s, &err);
  EXPECT_EQ(3, s.count);
  EXPECT_STREQ("yz", s.data);
  // A null text empties the string.
  eant_CharStrCreate(nullptr, &s, &err);
  EXPECT_EQ(0, s.count);
  EXPECT_EQ(nullptr, s.data);
  EXPECT_FALSE(err);
  EXPECT_EQ(nullptr, eant_CharStrCreate("abc", nullptr, &err));
  EXPECT_TRUE(err);
}

TEST_F(CharStrTest, CompareTable) {
  char abc[] = "abc", abd[] = "abd", ab[] = "ab";
  const Eant_CharStr empty{0, nullptr}, sAbc{4, abc}, sAbc2{4, strdup("abc")}, sAbd{4, abd}, sAb{3, ab};
  const Eant_CharStr broken{-1, nullptr}, missing{4, nullptr};
  struct Case {
    const Eant_CharStr *a, *b;
    int32_t result;
    int code; // 0: no report
  } cases[] = {
      {&empty, &empty, 1, 0}, {&sAbc, &sAbc2, 1, 0}, {&sAbc, &sAbd, 0, 0},  {&sAbc, &sAb, 0, 0},
      {&empty, &sAbc, 0, 0},  {&broken, &sAbc, 0, 1}, {&sAbc, &missing, 0, 2}, {nullptr, &sAbc, 0, 1},
  };
  for (const Case &c : cases) {
    ErrorSlot err;
    EXPECT_EQ(c.result, eant_CharStrCompare(c.a, c.b, &err));
    if (c.code == 1) {
      EXPECT_TRUE(Reported(err.get(), "eant_CharStrCompare", 1, "Invalid input first Eant_CharStrPtr"));
    }
    else if (c.code == 2)
      EXPECT_TRUE(Reported(err.get(), "eant_CharStrCompare", 2, "Invalid input second Eant_CharStrPtr"));
    else
      EXPECT_FALSE(err) << Chain(err);
  }
  std::free(sAbc2.data);
}

TEST_F(CharStrTest, CopyAndItsErrors) {
  ErrorSlot err;
  Eant_CharStr source{}, target{};
  eant_CharStrCreate("north", &source, &err);
  ASSERT_EQ(&target, eant_CharStrCopy(&source, &target, &err));
  EXPECT_STREQ("north", target.data);
  EXPECT_NE(source.data, target.data);
  const Eant_CharStr broken{-2, nullptr};
  EXPECT_EQ(nullptr, eant_CharStrCopy(&broken, &target, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CharStrCopy", 1, "Invalid input Eant_CharStrPtr"));
  EXPECT_EQ(nullptr, eant_CharStrCopy(&source, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CharStrCopy", 2, "Invalid output Eant_CharStrPtr"));
  {
    taviron::testing::FailAllocation fail(1);
    Eant_CharStr fresh{};
    EXPECT_EQ(nullptr, eant_CharStrCopy(&source, &fresh, &err));
  }
  EXPECT_TRUE(Reported(err.get(), "eant_CharStrCopy", 3, "Error returned from eant_CharStrCreate"));
  eant_CharStrFree(&source);
  eant_CharStrFree(&target);
  EXPECT_EQ(0, target.count);
  eant_CharStrFree(nullptr);

  // The line composition is freed by the same rule.
  Eant_LineComposition composition{2, static_cast<Eant_LineDescription *>(emsc_HeapMalloc(2 * sizeof(Eant_LineDescription)))};
  eant_LineCompositionFree(&composition);
  EXPECT_EQ(0, composition.count);
  EXPECT_EQ(nullptr, composition.data);
}

TEST_F(CharStrTest, UnicodeStrings) {
  ErrorSlot err;
  Eant_UnicodeStr s{}, t{};
  ASSERT_EQ(&s, eant_UnicodeStrCreate(u"Zürich", &s, &err));
  EXPECT_EQ(7, s.count);
  ASSERT_EQ(&t, eant_UnicodeStrCopy(&s, &t, &err));
  EXPECT_EQ(0, std::memcmp(u"Zürich", t.data, 7 * sizeof(char16_t)));
  EXPECT_NE(s.data, t.data);
  eant_UnicodeStrCreate(t.data + 1, &t, &err); // its own text
  EXPECT_EQ(6, t.count);
  EXPECT_EQ(0, std::memcmp(u"ürich", t.data, 6 * sizeof(char16_t)));
  const Eant_UnicodeStr broken{3, nullptr};
  EXPECT_EQ(nullptr, eant_UnicodeStrCopy(&broken, &t, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_UnicodeStrCopy", 1, "Invalid input Eant_UnicodeStrPtr"));
  EXPECT_EQ(nullptr, eant_UnicodeStrCopy(&s, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_UnicodeStrCopy", 2, "Invalid output Eant_UnicodeStrPtr"));
  eant_UnicodeStrCreate(nullptr, &s, &err);
  eant_UnicodeStrCreate(nullptr, &t, &err);
  EXPECT_EQ(0, s.count);
  EXPECT_EQ(nullptr, t.data);
}

class StyleTest : public HeapTest {};

TEST_F(StyleTest, SetCopyCompare) {
  ErrorSlot err;
  Eant_Style *a = eant_StyleCreate(&err);
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(-1, a->number);
  EXPECT_EQ(0, a->name.count);
  ASSERT_EQ(a, eant_StyleSetValues(a, "lib.sty:StyleLibrary", "Thin red", 3, &err));
  Eant_Style *b = eant_StyleCopy(a, nullptr, &err);
  ASSERT_NE(nullptr, b);
  EXPECT_STREQ("Thin red", b->name.data);
  EXPECT_EQ(1, eant_StyleCompare(a, b, &err));
  b->number = 4;
  EXPECT_EQ(0, eant_StyleCompare(a, b, &err));
  eant_StyleSetValues(b, "lib.sty:StyleLibrary", "Thin Red", 3, &err);
  EXPECT_EQ(0, eant_StyleCompare(a, b, &err));
  EXPECT_EQ(1, eant_StyleCompare(nullptr, nullptr, &err));
  EXPECT_EQ(0, eant_StyleCompare(a, nullptr, &err));
  // A broken string is reported and compares unequal.
  b->fileNodeName.count = -1;
  EXPECT_EQ(0, eant_StyleCompare(a, b, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_StyleCompare", 1, "Error returned from eant_CharStrCompare for fileNodeName"));
  b->fileNodeName.count = 21;
  // Copy into a given reference; a null source gives the target back.
  Eant_Style *c = eant_StyleSetValues(nullptr, nullptr, nullptr, 0, &err);
  ASSERT_EQ(c, eant_StyleCopy(a, c, &err));
  EXPECT_EQ(1, eant_StyleCompare(a, c, &err));
  EXPECT_EQ(c, eant_StyleCopy(nullptr, c, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_StyleCopy", 1, "Invalid input Eant_Style"));
  // A failure of the second string frees a reference made by the call.
  {
    taviron::testing::FailAllocation fail(3);
    EXPECT_EQ(nullptr, eant_StyleCopy(a, nullptr, &err));
  }
  EXPECT_TRUE(Reported(err.get(), "eant_StyleCopy", 4, "Error returned from eant_CharStrCopy for name"));
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(nullptr, eant_StyleSetValues(nullptr, "f", "n", 1, &err));
  }
  EXPECT_TRUE(Reported(err.get(), "eant_StyleSetValues", 1, "Error returned from eant_StyleCreate"));
  eant_StyleFreeContents(c);
  EXPECT_EQ(0, c->name.count);
  eant_StyleFreeContents(nullptr);
  eant_StyleFree(&a);
  eant_StyleFree(&b);
  eant_StyleFree(&c);
  EXPECT_EQ(nullptr, a);
  eant_StyleFree(&a);
}

TEST_F(StyleTest, NameOrderSortsReferences) {
  ErrorSlot err;
  Eant_Style named[3]{}, unnamed{};
  const char *names[] = {"b", "a", "c"};
  for (int i = 0; i < 3; ++i) eant_StyleSetValues(&named[i], nullptr, names[i], i, &err);
  struct Case {
    const Eant_Style *a, *b;
    int32_t order;
  } cases[] = {{&named[0], &named[1], 1},  {&named[1], &named[2], -1}, {&named[0], &named[0], 0},
               {&named[0], &unnamed, 1},   {&unnamed, &named[0], -1},  {&unnamed, &unnamed, 0},
               {nullptr, &named[0], 0},    {&named[0], nullptr, 0}};
  for (const Case &c : cases) EXPECT_EQ(c.order, eant_StyleNameCompare(c.a, c.b));
  for (Eant_Style &s : named) eant_StyleFreeContents(&s);
}

TEST_F(StyleTest, PrintsEveryField) {
  ErrorSlot err;
  Eant_Style *style = eant_StyleSetValues(nullptr, nullptr, "Dashed", 7, &err);
  taviron::testing::CapturedOutput out;
  eant_StylePrint(style, &err);
  eant_StylePrint(nullptr, &err);
  EXPECT_EQ("   Style:\n      fileNodeName - NULL\n      name - Dashed\n      number - 7\n   Style:\n", out.Out());
  eant_StyleFree(&style);
}

// ---- Criteria ----

int32_t Pass(Eant_Element *, _exfr_XForm *, void *, Eerr_ErrorReport **) { return 1; }
int32_t Refuse(Eant_Element *, _exfr_XForm *, void *data, Eerr_ErrorReport **) {
  ++*static_cast<int *>(data);
  return 0;
}
int32_t Count(Eant_Element *, _exfr_XForm *, void *data, Eerr_ErrorReport **) {
  ++*static_cast<int *>(data);
  return 1;
}
int32_t Fail(Eant_Element *, _exfr_XForm *, void *, Eerr_ErrorReport **err) {
  *err = eerr_CreateErrorReport("check", 9, 2, nullptr, "cannot tell");
  return 1;
}

class CriteriaTest : public HeapTest {
protected:
  void TearDown() override {
    eant_CriteriaFree(&info_.criteria);
    HeapTest::TearDown();
  }
  Eant_AnnotationInfo info_{};
  Eant_Element element_{};
};

TEST_F(CriteriaTest, AddLookupDelete) {
  ErrorSlot err;
  Eant_Criteria *clip = eant_CriteriaAdd(&info_, "Clip Window", &Pass, nullptr, &err);
  ASSERT_NE(nullptr, clip);
  Eant_Criteria *layer = eant_CriteriaAdd(&info_, "Layer", nullptr, nullptr, &err);
  ASSERT_NE(nullptr, layer);
  EXPECT_EQ(clip, info_.criteria);
  EXPECT_EQ(layer, clip->next);
  // A second criterion of a name is refused and freed.
  EXPECT_EQ(nullptr, eant_CriteriaAdd(&info_, "Clip Window", &Pass, nullptr, &err));
  ASSERT_TRUE(Reported(err.get(), "eant_CriteriaAdd", 4, "Error returned from eant_CriteriaAddToList"));
  EXPECT_TRUE(Reported(err->next, "eant_CriteriaAddToList", 1, "Criteria of same name already exists"));
  EXPECT_EQ(layer, eant_CriteriaListLookup(&info_, "Layer", &err));
  struct Case {
    Eant_AnnotationInfo *info;
    const char *name;
    int code;
    const char *message;
  } failures[] = {{nullptr, "Layer", 1, "Invalid input annotation info"},
                  {&info_, nullptr, 2, "Invalid input criteria name"},
                  {&info_, "layer", 3, "Criteria not found"}};
  for (const Case &c : failures) {
    EXPECT_EQ(nullptr, eant_CriteriaListLookup(c.info, c.name, &err));
    EXPECT_TRUE(Reported(err.get(), "eant_CriteriaListLookup", c.code, c.message));
    eant_CriteriaDelete(c.info, c.name, &err);
    EXPECT_TRUE(Reported(err.get(), "eant_CriteriaDelete", c.code, c.message));
  }
  eant_CriteriaDelete(&info_, "Clip Window", &err);
  EXPECT_FALSE(err);
  EXPECT_EQ(layer, info_.criteria);
  EXPECT_EQ(nullptr, eant_CriteriaAdd(nullptr, "x", nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CriteriaAdd", 1, "Invalid input annotation info"));

  // The list operation on its own: empty list, null criterion.
  Eant_Criteria *alone = eant_CriteriaCreate(&err);
  EXPECT_EQ(alone, eant_CriteriaAddToList(nullptr, alone, &err));
  EXPECT_EQ(layer, eant_CriteriaAddToList(layer, nullptr, &err));
  eant_CriteriaFree(&alone);
  EXPECT_EQ(nullptr, alone);
}

TEST_F(CriteriaTest, CheckStopsAtTheFirstRefusal) {
  ErrorSlot err;
  int refused = 0, counted = 0;
  EXPECT_EQ(1, eant_CriteriaCheck(&element_, nullptr, nullptr, &err)); // an empty list passes
  eant_CriteriaAdd(&info_, "always", nullptr, nullptr, &err);
  eant_CriteriaAdd(&info_, "pass", &Pass, nullptr, &err);
  EXPECT_EQ(1, eant_CriteriaCheck(&element_, nullptr, info_.criteria, &err));
  eant_CriteriaAdd(&info_, "refuse", &Refuse, &refused, &err);
  eant_CriteriaAdd(&info_, "count", &Count, &counted, &err);
  EXPECT_EQ(0, eant_CriteriaCheck(&element_, nullptr, info_.criteria, &err));
  EXPECT_EQ(1, refused);
  EXPECT_EQ(0, counted);
  EXPECT_FALSE(err);
  eant_CriteriaDelete(&info_, "refuse", &err);
  EXPECT_EQ(1, eant_CriteriaCheck(&element_, nullptr, info_.criteria, &err));
  EXPECT_EQ(1, counted);
  eant_CriteriaAdd(&info_, "fail", &Fail, nullptr, &err);
  EXPECT_EQ(0, eant_CriteriaCheck(&element_, nullptr, info_.criteria, &err));
  ASSERT_TRUE(Reported(err.get(), "eant_CriteriaCheck", 2, "Error returned from criteria function"));
  EXPECT_STREQ("cannot tell", err->next->message);
  EXPECT_EQ(0, eant_CriteriaCheck(nullptr, nullptr, info_.criteria, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CriteriaCheck", 1, "Invalid input element"));

  taviron::testing::CapturedOutput out;
  eant_CriteriaPrint(info_.criteria, &err);
  EXPECT_EQ("Criteria:\nname - always\n", out.Out());
}

// ---- Database access, sort records, font list ----

int32_t Attribute(void *, int32_t, int32_t, char *, int32_t) { return 1; }
int32_t Column(void *, const char *, Eerr_ErrorReport **) { return 2; }

TEST_F(StyleTest, DatabaseAccessAndItsCurrentRecord) {
  ErrorSlot err;
  int data = 0;
  Eant_DBIData *record = eant_DBIDataFunctionsAndDataSet(nullptr, &Attribute, &Column, &data, &err);
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(&Attribute, record->attributeStringCallback);
  EXPECT_EQ(&data, record->data);
  eant_DBIDataCurrentRowSet(record, 12, &err);
  EXPECT_EQ(12, record->currentRow);
  eant_DBIDataCurrentRowSet(nullptr, 12, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_DBIDataCurrentRowSet", 1, "Invalid input dbiData"));
  EXPECT_EQ(record, eant_DBIDataSet(record));
  EXPECT_EQ(record, eant_DBIData());
  // Freeing the current record leaves no current record behind.
  eant_DBIDataFree(&record);
  EXPECT_EQ(nullptr, record);
  EXPECT_EQ(nullptr, eant_DBIData());
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(nullptr, eant_DBIDataFunctionsAndDataSet(nullptr, &Attribute, &Column, &data, &err));
  }
  EXPECT_TRUE(Reported(err.get(), "eant_DBIDataFunctionsAndDataSet", 1, "Error returned from eant_DBIDataCreate"));
}

Evec_Bbox *Box(double x0, double y0, double x1, double y1) {
  Evec_Bbox *box = evec_BboxCreate(nullptr);
  auto *v = reinterpret_cast<double *>(box->origin);
  v[0] = x0, v[1] = y0, v[2] = x1, v[3] = y1;
  return box;
}

TEST_F(StyleTest, SortRecordsAreAllZeroedAndSortByCentres) {
  ErrorSlot err;
  constexpr int32_t kCount = 4;
  Eant_GeoOrder *orders = eant_GeoOrderCreate(kCount, &err);
  ASSERT_NE(nullptr, orders);
  // Every record starts empty, so that freeing an array filled only in part frees no stray box.
  for (int32_t i = 0; i < kCount; ++i) {
    EXPECT_EQ(nullptr, orders[i].bBox);
    EXPECT_EQ(0, orders[i].sequence);
  }
  // Centres 5, 1, 3 along x (and 30, 10, 20 along y); the last record has no box.
  const double centres[] = {5, 1, 3};
  for (int32_t i = 0; i < 3; ++i) {
    orders[i].bBox = Box(centres[i] - 1, 10 * centres[i] - 2, centres[i] + 1, 10 * centres[i] + 2);
    orders[i].sequence = i;
  }
  std::qsort(orders, 3, sizeof(Eant_GeoOrder), reinterpret_cast<int (*)(const void *, const void *)>(eant_GeoOrderOrderHorizontal));
  EXPECT_EQ(1, orders[0].sequence);
  EXPECT_EQ(2, orders[1].sequence);
  EXPECT_EQ(0, orders[2].sequence);
  EXPECT_EQ(-1, eant_GeoOrderOrderVertical(&orders[0], &orders[1]));
  std::qsort(orders, 3, sizeof(Eant_GeoOrder), reinterpret_cast<int (*)(const void *, const void *)>(eant_GeoOrderOrderSequential));
  EXPECT_EQ(0, orders[0].sequence);
  EXPECT_EQ(0, eant_GeoOrderOrderHorizontal(&orders[0], &orders[3])); // no box
  EXPECT_EQ(0, eant_GeoOrderOrderSequential(nullptr, &orders[0]));
  eant_GeoOrderFree(&orders, kCount);
  EXPECT_EQ(nullptr, orders);
  eant_GeoOrderFree(&orders, kCount);
}

TEST(FontList, ForwardsToTheRendererAndKeepsIt) {
  ErrorSlot err;
  Eevg_FontDataBaseRecord *list = eant_FontListCreate(&err);
  Eevg_FontDataBaseRecord *again = list;
  eant_FontListFree(&again);
  EXPECT_EQ(nullptr, again);
  // A name the data base does not hold is the renderer's answer, unchanged.
  EXPECT_EQ(eevg_FontDataBaseLookupByFontName(list, "No Such Font", nullptr),
            eant_FontListLookupByFontName(list, "No Such Font", nullptr));
  EXPECT_EQ(nullptr, eant_FontListLookupByFontFileName(list, "nosuchfont.ttf", nullptr));
}

} // namespace
