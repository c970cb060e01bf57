// The package data in the toolkit record: its start, its preferences and their change callbacks,
// the dictionary of stored designs, and the copy of a design into a file's dictionary.
#include <algorithm>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "annotation_testing.h"
#include "epmg.h"

namespace {

using namespace taviron::annotation::testing;

// Every design of the dictionary, in the order of its define operations.
const char *const kDesigns[] = {
    "Efga_Polynomial",      "AntHeader_Eant",        "Eant_CoordDefinition", "Eant_Style",
    "Eevg_Coord",           "Eevg_Align",            "VectorData_Eant",      "VectorData_2_Eant",
    "Eant_TextData",        "Eant_GridTic",          "GridTic2",             "GridTic3",
    "GridTic4",             "Eant_Legend",           "Legend2",              "Legend4",
    "Eant_ScaleBar",        "ScaleBar2",             "ScaleBar3",            "Eant_Rectangle",
    "Rectangle2",           "Eant_Ellipse",          "Ellipse2",             "Polygon_Eant",
    "Polygon2",             "Polyline_Eant",         "Polyline2",            "Point_Eant",
    "Point2",               "Eant_Arc",              "Eant_Text",            "Text2",
    "Eant_Symbol",          "Symbol2",               "Group_Eant",           "Element_Eant",
    "Element_2_Eant",       "Eant_Color",            "Color2",               "Eant_LineDescription",
    "Eevg_LinePatternSegment", "Eevg_ArrowEnd",      "Eant_LineSymbol",      "Eant_PatternFill",
    "FillPattern2",         "Eant_FillPattern",      "Eant_LineStyle",       "LineStyle1",
    "LineStyle2",           "LineStyle4",            "Eant_FillStyle",       "FillStyle2",
    "TextShadow",           "Eant_TextStyle",        "TextStyle2",           "StyleLibrary_Eant",
    "StyleLibrary_1_Eant",  "StyleLibrary_2_Eant",   "StyleLibrary_4_Eant",  "SymbolData_Eant",
    "SymbolLibrary_Eant",   "SymbolLibrary_4_Eant",  "ElementNode_Eant",     "AnnotationVersion_Eant",
    "Eant_SelectedStyles"};

// The define operations in the dictionary's order, as its reports name them.
const char *const kRows[] = {
    "efga_PolynomialDesignDefine",      "eant_AntHeaderDesignDefine",      "eant_CoordDefinitionDesignDefine",
    "eant_StyleDesignDefine",           "eevg_CoordDesignDefine",          "eevg_AlignDesignDefine",
    "eant_VectorDataDesignDefine",      "eant_TextDataDesignDefine",       "eant_GridTicDesignDefine",
    "eant_LegendDesignDefine",          "eant_ScaleBarDesignDefine",       "eant_RectangleDesignDefine",
    "eant_EllipseDesignDefine",         "eant_PolygonDesignDefine",        "eant_PolylineDesignDefine",
    "eant_PointDesignDefine",           "eant_ArcDesignDefine",            "eant_TextDesignDefine",
    "eant_SymbolDesignDefine",          "eant_GroupDesignDefine",          "eant_ElementDesignDefine",
    "eant_ColorDesignDefine",           "eant_LineDescriptionDesignDefine", "eevg_LinePatternSegmentDesignDefine",
    "eevg_ArrowendDesignDefine",        "eant_LineSymbolDesignDefine",     "eant_PatternFillDesignDefine",
    "eant_FillPatternDesignDefine",     "eant_LineStyleDesignDefine",      "eant_FillStyleDesignDefine",
    "eant_TextShadowDesignDefine",      "eant_TextStyleDesignDefine",      "eant_StyleLibraryDesignDefine",
    "eant_SymbolDataDesignDefine",      "eant_SymbolLibraryDesignDefine",  "eant_ElementNodeDesignDefine",
    "eant_AnnotationVersionDesignDefine", "eant_SelectedStylesDesignDefine"};
static_assert(std::size(kRows) == 38);

class InitTest : public PackageTest {};

TEST_F(InitTest, ThePackageDataHoldsTheDictionaryAndThePreferenceDefaults) {
  ASSERT_NE(nullptr, data_->dictionary);
  for (const char *name : kDesigns) EXPECT_NE(nullptr, emif_FindDesignByName(data_->dictionary, name, nullptr)) << name;
  EXPECT_EQ(10, data_->mitreLimit);
  EXPECT_EQ(10, data_->textHeight);
  EXPECT_STREQ("points", data_->textUnits);
  EXPECT_EQ(10, data_->symbolSize);
  EXPECT_STREQ("points", data_->symbolUnits);
  EXPECT_EQ(nullptr, data_->styleLibraryCache);
  EXPECT_EQ(nullptr, data_->symbolLibraryCache);
  // The stored layouts are the records' own.
  const Emif_Design *style = emif_FindDesignByName(data_->dictionary, "Eant_Style", nullptr);
  EXPECT_EQ(static_cast<int32_t>(sizeof(Eant_Style)), emif_DesignSize(style));
  EXPECT_EQ(static_cast<int32_t>(offsetof(Eant_Style, number)), emif_DesignItemOffset(style, "number"));
  const Emif_Design *selected = emif_FindDesignByName(data_->dictionary, "Eant_SelectedStyles", nullptr);
  EXPECT_EQ(static_cast<int32_t>(sizeof(Eant_SelectedStyles)), emif_DesignSize(selected));
}

int released = 0;
void Release(void *, void *) { ++released; }

TEST_F(InitTest, InitAgainRebuildsAndInitIfNeededKeepsWhatIsThere) {
  ErrorSlot err;
  eant_InitIfNeeded(toolkit_, &err);
  EXPECT_FALSE(err);
  EXPECT_EQ(data_, toolkit_->annotationData);
  // The old package data goes with everything it holds.
  Eant_SymbolLibrary *cached = eant_SymbolLibraryCreate(&err);
  cached->clientData = &released;
  cached->clientRelease = &Release;
  data_->symbolLibraryCache = cached;
  released = 0;
  eant_Init(toolkit_, &err);
  EXPECT_FALSE(err);
  EXPECT_EQ(1, released);
  data_ = static_cast<Eant_InitData *>(toolkit_->annotationData);
  ASSERT_NE(nullptr, data_);
  EXPECT_EQ(nullptr, data_->symbolLibraryCache);
  EXPECT_NE(nullptr, data_->dictionary);

  eant_Init(nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_Init", 1, "Invalid input Eint_InitToolkitData"));
  eant_InitIfNeeded(nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_InitIfNeeded", 1, "Invalid input Eint_InitToolkitData"));
  eant_InitDataFree(nullptr);
  Eant_InitData *none = nullptr;
  eant_InitDataFree(&none);
}

TEST_F(InitTest, AMissingPackageIsBuiltByInitIfNeeded) {
  ErrorSlot err;
  auto *data = static_cast<Eant_InitData *>(toolkit_->annotationData);
  toolkit_->annotationData = nullptr;
  eant_InitDataFree(&data);
  eant_InitIfNeeded(toolkit_, &err);
  EXPECT_FALSE(err);
  EXPECT_NE(nullptr, toolkit_->annotationData);
}

class PreferenceTest : public PackageTest {
protected:
  void WritePreferences() override {
    std::ofstream(Dir() / "preferences.prf") << "annotation/mitre_limit = 4\n"
                                               "annotation/annotation_text_height = 12.5\n"
                                               "annotation/annotation_text_units = Millimeters\n"
                                               "annotation/annotation_symbol_size = 8\n";
  }
  static void Change(const char *key, int32_t type, double number, const char *text) {
    Epmg_Preference record{};
    record.category = const_cast<char *>("annotation");
    record.name = const_cast<char *>(key);
    record.valueType = type;
    if (text) record.value.string = const_cast<char *>(text);
    else record.value.number = number;
    ErrorSlot err;
    ecfg_PutPreference(&record, &err);
    EXPECT_FALSE(err) << Chain(err);
  }
};

TEST_F(PreferenceTest, ValuesAreReadAndFollowChanges) {
  EXPECT_EQ(4, data_->mitreLimit);
  EXPECT_EQ(12.5, data_->textHeight);
  EXPECT_STREQ("millimeters", data_->textUnits);
  EXPECT_EQ(8, data_->symbolSize);
  EXPECT_STREQ("points", data_->symbolUnits); // not set: the default, lower case
  Change("annotation_text_units", EPMG_TYPE_ENUM, 0, "Inches");
  EXPECT_STREQ("inches", data_->textUnits);
  Change("annotation_symbol_units", EPMG_TYPE_ENUM, 0, "Feet");
  EXPECT_STREQ("feet", data_->symbolUnits);
  Change("mitre_limit", EPMG_TYPE_NUMBER, 6, nullptr);
  EXPECT_EQ(6, data_->mitreLimit);
  Change("annotation_symbol_size", EPMG_TYPE_STRING, 0, "14");
  EXPECT_EQ(14, data_->symbolSize);
  // Without package data a change is ignored.
  auto *data = static_cast<Eant_InitData *>(toolkit_->annotationData);
  toolkit_->annotationData = nullptr;
  Change("annotation_text_height", EPMG_TYPE_NUMBER, 30, nullptr);
  toolkit_->annotationData = data;
  EXPECT_EQ(12.5, data_->textHeight);
}

// ---- The dictionary ----

class DictionaryTest : public HeapTest {};

TEST_F(DictionaryTest, AFailingDefineRowIsReportedWithItsCodeAndLeavesNothing) {
  ErrorSlot err;
  const int64_t before = emsc_TestAllocationCount(), newBefore = taviron::testing::NewCount();
  Emif_Dictionary *dictionary = eant_InitDictionaryCreate(&err);
  ASSERT_NE(nullptr, dictionary) << Chain(err);
  const int64_t allocations = emsc_TestAllocationCount() - before;
  // operator new is called thousands of times: about a hundred of them fail in turn.
  const int64_t newCalls = taviron::testing::NewCount() - newBefore;
  const int64_t newStride = std::max<int64_t>(1, newCalls / 100);
  emif_DictionaryDelete(dictionary, nullptr);

  std::set<int32_t> codes;
  int32_t lastCode = 0;
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **e, taviron::testing::Failing kind) {
        dictionary = eant_InitDictionaryCreate(e);
        if (dictionary) return true;
        if (kind != taviron::testing::Failing::Heap || !*e) return false;
        const int32_t code = (*e)->code;
        EXPECT_TRUE(code >= 1 && code <= 39) << code;
        EXPECT_GE(code, lastCode) << "rows fail in their order";
        lastCode = code;
        codes.insert(code);
        if (code < 1 || code > 39) return false;
        const std::string callee = code == 1 ? "emif_NewDictionary" : kRows[code - 2];
        EXPECT_TRUE(Reported(*e, "eant_InitDictionaryCreate", code, ("Error returned from " + callee).c_str()));
        return false;
      },
      [&] { emif_DictionaryDelete(dictionary, nullptr); }, {.limit = 2 * (newCalls + allocations) + 10, .newStride = newStride, .heapThrough = allocations});
  // Every row failed at least once, each with its own code (row N gives N + 1).
  for (int32_t code = 2; code <= 39; ++code) EXPECT_TRUE(codes.count(code)) << kRows[code - 2];
}

TEST_F(DictionaryTest, DefineOperationsReportTheDesignThatFailed) {
  ErrorSlot err;
  Emif_Dictionary *dictionary = emif_DictionaryCreate(&err);
  // A design of the name with another layout makes the second of two designs fail.
  emif_DesignCreate(dictionary, "Color2", &err, EMIF_TYPE_S32, "red", 0);
  ASSERT_FALSE(err);
  EXPECT_EQ(nullptr, eant_ColorDesignDefine(dictionary, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ColorDesignDefine", 2, "Error returned from emif_DefineObject for Color2"));
  emif_DesignCreate(dictionary, "Rectangle2", &err, EMIF_TYPE_S32, "fillStyle", 0);
  EXPECT_EQ(nullptr, eant_RectangleDesignDefine(dictionary, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_RectangleDesignDefine", 2, "Error returned from emif_DefineObject"));
  EXPECT_NE(nullptr, eant_StyleDesignDefine(dictionary, &err));
  EXPECT_NE(nullptr, eant_StyleDesignDefine(dictionary, &err)); // again: the same design
  emif_DictionaryDelete(dictionary, nullptr);
}

class PutDesignTest : public PackageTest {};

TEST_F(PutDesignTest, CopiesADesignOnceWithItsNestedDesigns) {
  ErrorSlot err;
  Emif_Dictionary *file = emif_DictionaryCreate(&err);
  // The package's design comes back (it lays the record out in memory); the file gets a copy.
  Emif_Design *header = eant_PutDesignInDictionary(data_, "AntHeader_Eant", file, &err);
  ASSERT_NE(nullptr, header) << Chain(err);
  EXPECT_EQ(header, emif_FindDesignByName(data_->dictionary, "AntHeader_Eant", nullptr));
  const Emif_Design *copy = emif_FindDesignByName(file, "AntHeader_Eant", nullptr);
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(emif_DesignSize(header), emif_DesignSize(copy));
  EXPECT_NE(nullptr, emif_FindDesignByName(file, "Efga_Polynomial", nullptr)); // nested first
  EXPECT_EQ(header, eant_PutDesignInDictionary(data_, "AntHeader_Eant", file, &err));
  EXPECT_EQ(copy, emif_FindDesignByName(file, "AntHeader_Eant", nullptr)); // no second copy
  EXPECT_FALSE(err);
  // A design of the file's own under the name stays (its writer refuses what it cannot write).
  const Emif_Design *own = emif_DesignCreate(file, "AnnotationVersion_Eant", &err, EMIF_TYPE_F64, "version", 0);
  ASSERT_NE(nullptr, own) << Chain(err);
  EXPECT_EQ(emif_FindDesignByName(data_->dictionary, "AnnotationVersion_Eant", nullptr),
            eant_PutDesignInDictionary(data_, "AnnotationVersion_Eant", file, &err));
  EXPECT_EQ(own, emif_FindDesignByName(file, "AnnotationVersion_Eant", nullptr));

  struct Case {
    Eant_InitData *data;
    const char *name;
    Emif_Dictionary *dictionary;
    int code;
    const char *message;
  } failures[] = {{nullptr, "Eant_Style", file, 1, "Invalid input annotation initdata"},
                  {data_, nullptr, file, 2, "Invalid input designName"},
                  {data_, "Eant_Style", nullptr, 3, "Invalid input dictionary"},
                  {data_, "No_Such_Design", file, 4, "Error returned from emif_FindDesignByName"}};
  for (const Case &c : failures) {
    EXPECT_EQ(nullptr, eant_PutDesignInDictionary(c.data, c.name, c.dictionary, &err));
    EXPECT_TRUE(Reported(err.get(), "eant_PutDesignInDictionary", c.code, c.message));
  }
  // A design of the name with another layout cannot be added.
  emif_DesignCreate(file, "Eant_CoordDefinition", &err, EMIF_TYPE_S32, "coordSys", 0);
  EXPECT_EQ(nullptr, eant_PutDesignInDictionary(data_, "Eant_TextStyle", file, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_PutDesignInDictionary", 5, "Error returned from emif_AddDesignToDictionary"));
  emif_DictionaryDelete(file, nullptr);
}

} // namespace
