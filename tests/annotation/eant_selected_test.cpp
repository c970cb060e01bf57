// Selected styles, the version node, symbol-library records with elements of a test-only type, and
// the package data freeing what it holds.
#include <string>

#include "annotation_testing.h"

namespace {

using namespace taviron::annotation::testing;

std::string Text(const Eant_CharStr &s) { return s.count > 0 && s.data ? s.data : ""; }

Eant_SelectedStyles *Selected() {
  Eant_SelectedStyles *styles = eant_SelectedStylesCreate(nullptr);
  styles->selectedLineStyle = eant_StyleSetValues(nullptr, nullptr, "thin", 0, nullptr);
  styles->selectedColor = eant_StyleSetValues(nullptr, "lib.sty", "red", 3, nullptr);
  styles->selectedTextHeight = 10;
  styles->textHeightScaleUnits = eant_CoordDefinitionSetValues(nullptr, EEVG_OUTPUT, "points", nullptr);
  styles->selectedSymbolScale = 12;
  styles->symbolColorOverride = 1;
  styles->symbolColor = eant_StyleSetValues(nullptr, nullptr, nullptr, 0, nullptr);
  styles->flags = 7;
  return styles;
}

class SelectedStylesTest : public PackageTest {};

TEST_F(SelectedStylesTest, CopyKeepsTheTargetsFlags) {
  ErrorSlot err;
  Eant_SelectedStyles *source = Selected();
  Eant_SelectedStyles *copy = eant_SelectedStylesCopy(source, nullptr, &err);
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ("red", Text(copy->selectedColor->name));
  EXPECT_NE(source->selectedColor, copy->selectedColor);
  EXPECT_EQ(10, copy->selectedTextHeight);
  EXPECT_EQ(0, copy->flags);
  copy->flags = 3;
  eant_StyleFree(&source->symbolColor); // a missing reference takes the target's away
  ASSERT_EQ(copy, eant_SelectedStylesCopy(source, copy, &err));
  EXPECT_EQ(nullptr, copy->symbolColor);
  EXPECT_EQ(3, copy->flags);
  EXPECT_EQ(copy, eant_SelectedStylesCopy(nullptr, copy, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_SelectedStylesCopy", 1, "Invalid input Eant_SelectedStyles"));
  eant_SelectedStylesFree(&source);
  eant_SelectedStylesFree(&copy);
  EXPECT_EQ(nullptr, copy);
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(SelectedStylesTest, WrittenAndReadBelowALayerNode) {
  ErrorSlot err;
  Ehfa_File *file = ehfa_FileCreate(Path("selected.img").c_str(), toolkit_, &err);
  ASSERT_NE(nullptr, file);
  ehfa_EntryWrite(file, ":", "Layer", "AntHeader_Eant", EHFA_CHILD, &err);
  Eant_FileIO io{file, 0, 0, 0, 0};
  Eant_SelectedStyles *styles = Selected();
  eant_SelectedStylesWrite(&io, ":Layer", styles, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_NE(nullptr, emif_FindDesignByName(file->dictionary, "Eant_SelectedStyles", nullptr));
  Eant_SelectedStyles *read = eant_SelectedStylesRead(&io, ":Layer", nullptr, &err);
  ASSERT_NE(nullptr, read) << Chain(err);
  EXPECT_EQ("thin", Text(read->selectedLineStyle->name));
  EXPECT_EQ(3, read->selectedColor->number);
  EXPECT_EQ("points", Text(read->textHeightScaleUnits->units));
  EXPECT_EQ(12, read->selectedSymbolScale);
  EXPECT_EQ(nullptr, read->selectedFillStyle);
  EXPECT_EQ(7, read->flags);
  // Into a given record, whose references are released first.
  ASSERT_EQ(styles, eant_SelectedStylesRead(&io, ":Layer", styles, &err));
  EXPECT_EQ("lib.sty", Text(styles->selectedColor->fileNodeName));

  EXPECT_EQ(nullptr, eant_SelectedStylesRead(&io, ":", nullptr, &err)); // the root holds none
  EXPECT_TRUE(Reported(err.get(), "eant_SelectedStylesRead", 6, "Error returned from ehfa_ObjectRead"));
  eant_SelectedStylesWrite(&io, ":Layer", nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_SelectedStylesWrite", 4, "Invalid input selectedStyles"));
  eant_SelectedStylesFree(&styles);
  eant_SelectedStylesFree(&read);
  ehfa_FileClose(file, &err);
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(SelectedStylesTest, TheVersionNodeIsWrittenOnceAndReadFromAbsoluteOrRelativePaths) {
  ErrorSlot err;
  Ehfa_File *file = ehfa_FileCreate(Path("version.img").c_str(), toolkit_, &err);
  ehfa_EntryWrite(file, ":", "Layer", "AntHeader_Eant", EHFA_CHILD, &err);
  ehfa_EntryWrite(file, ":", "Bare", "AntHeader_Eant", EHFA_CHILD, &err);
  Eant_FileIO io{file, 0, 0, 0, 0};
  eant_AnnotationVersionWrite(&io, ":Layer", &err);
  eant_AnnotationVersionWrite(&io, ":Layer", &err); // rewrites the one node
  ASSERT_FALSE(err) << Chain(err);
  ehfa_EntrySeek(file, EHFA_PATH, ":Layer", &err);
  ehfa_EntrySeek(file, EHFA_FIRST_CHILD, nullptr, &err);
  EXPECT_STREQ("AnnotationVersion", file->currentEntry->name);
  EXPECT_EQ(0, ehfa_EntryCurrentHasNext(file));

  eant_AnnotationVersionRead(&io, ":Layer", &err);
  EXPECT_EQ(4, io.annotationVersion);
  EXPECT_STREQ("Layer", file->currentEntry->name);
  eant_AnnotationVersionRead(&io, ":Bare", &err);
  EXPECT_EQ(0, io.annotationVersion); // no node: version 0, no report
  EXPECT_FALSE(err);
  ehfa_EntrySeek(file, EHFA_PATH, ":", &err);
  eant_AnnotationVersionRead(&io, "Layer", &err); // a child of the current node
  EXPECT_EQ(4, io.annotationVersion);
  EXPECT_STREQ("Layer", file->currentEntry->name);
  eant_AnnotationVersionRead(&io, ":Nothing", &err);
  EXPECT_TRUE(Reported(err.get(), "eant_AnnotationVersionRead", 7, "Error seeking back to nodepath"));
  eant_AnnotationVersionWrite(&io, ":Nothing", &err);
  EXPECT_TRUE(Reported(err.get(), "eant_AnnotationVersionWrite", 4, "Error returned from ehfa_EntrySeek for nodepath"));
  ehfa_FileClose(file, &err);
}

// ---- Symbol libraries and their elements ----

class SymbolLibraryTest : public HeapTest {};

int released = 0;
void Release(void *data, void *data2) {
  EXPECT_EQ(data, &released);
  EXPECT_EQ(data2, nullptr);
  ++released;
}

TEST_F(SymbolLibraryTest, FreeingALibraryFreesItsChainDefinitionsAndElements) {
  ErrorSlot err;
  Eant_SymbolLibrary *library = eant_SymbolLibraryCreate(&err);
  ASSERT_NE(nullptr, library);
  EXPECT_EQ(-1, library->defaultSymbolNumber);
  EXPECT_EQ(0, edlm_CountList(library->symbolDataList, nullptr));
  library->styleLibrary = eant_StyleLibraryCreate(&err);
  // A definition of two elements of the test type, an empty slot, a definition with a base only.
  Eant_SymbolData *cross = eant_SymbolDataCreate(&err);
  eant_CharStrCreate("Cross", &cross->symbolName, &err);
  Eant_Element *first = NewTestElement(1), *second = NewTestElement(2);
  first->next = second;
  second->previous = first;
  cross->elementList = first;
  Eant_SymbolData *alias = eant_SymbolDataCreate(&err);
  alias->baseSymbol = eant_StyleSetValues(nullptr, nullptr, "Cross", 0, &err);
  for (Eant_SymbolData *definition : {cross, static_cast<Eant_SymbolData *>(nullptr), alias})
    edlm_Add(library->symbolDataList, &definition, &err);
  library->cachedStyleRefs = edlm_InitList(sizeof(Eant_Style), 1, &err);
  Eant_Style reference{};
  eant_StyleSetValues(&reference, "lib.sty", "red", 1, &err);
  edlm_Add(library->cachedStyleRefs, &reference, &err);
  library->clientData = &released;
  library->clientRelease = &Release;
  // Two more libraries chained behind it.
  library->next = eant_SymbolLibraryCreate(&err);
  library->next->next = eant_SymbolLibraryCreate(&err);

  testElementFrees = 0;
  released = 0;
  eant_SymbolLibraryFree(&library);
  EXPECT_EQ(nullptr, library);
  EXPECT_EQ(2, testElementFrees);
  EXPECT_EQ(1, released);
  eant_SymbolLibraryFree(&library);
  eant_SymbolLibraryInit(nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_SymbolLibraryInit", 1, "Invalid input Symbol Library"));
}

TEST_F(SymbolLibraryTest, ElementsAreFreedThroughTheirType) {
  Eant_Element *list = NewTestElement(1);
  Eant_Element *typeless = NewTestElement(2);
  list->next = typeless;
  typeless->previous = list;
  typeless->functions = nullptr; // an element whose type has no table is left to its owner
  testElementFrees = 0;
  eant_ElementListFree(&list);
  EXPECT_EQ(nullptr, list);
  EXPECT_EQ(1, testElementFrees);
  emsc_HeapFree(typeless->info);
  eant_ElementFree(&typeless);
  EXPECT_EQ(nullptr, typeless);
  eant_ElementFreeElement(&typeless);
  eant_ElementListFree(nullptr);
}

class PackageDataTest : public PackageTest {};

TEST_F(PackageDataTest, FreeingThePackageDataFreesItsCaches) {
  ErrorSlot err;
  Eant_StyleLibrary *first = eant_StyleLibraryCreate(&err);
  first->next = eant_StyleLibraryCreate(&err);
  data_->styleLibraryCache = first;
  Eant_SymbolLibrary *symbols = eant_SymbolLibraryCreate(&err);
  Eant_SymbolData *definition = eant_SymbolDataCreate(&err);
  definition->elementList = NewTestElement(3);
  edlm_Add(symbols->symbolDataList, &definition, &err);
  data_->symbolLibraryCache = symbols;
  testElementFrees = 0;
  // What the fixture frees at its end is checked here: the caches go with the package data.
  auto *data = static_cast<Eant_InitData *>(toolkit_->annotationData);
  toolkit_->annotationData = nullptr;
  const int64_t live = emsc_TestLiveBlocks();
  eant_InitDataFree(&data);
  EXPECT_EQ(nullptr, data);
  EXPECT_EQ(1, testElementFrees);
  EXPECT_LT(emsc_TestLiveBlocks(), live);
  eant_Init(toolkit_, &err); // for the fixture's end
  data_ = static_cast<Eant_InitData *>(toolkit_->annotationData);
}

} // namespace
