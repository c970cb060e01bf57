// Style libraries: the record with its four lists of styles, its copy and free, its stored form in
// every version, the package's list of loaded libraries, and a library as a file of its own.
#include <cstring>
#include <filesystem>
#include <string>

#include "annotation_testing.h"

namespace {

using namespace taviron::annotation::testing;

template <class T> T *At(Edlm_List *list, int32_t i) { return *static_cast<T **>(edlm_GetAddr(list, i, nullptr)); }
void Append(Edlm_List *list, void *style) { ASSERT_GE(edlm_Add(list, &style, nullptr), 0); }
std::string Text(const Eant_CharStr &s) { return s.count > 0 && s.data ? s.data : ""; }

Eant_CoordDefinition *Units(int32_t coordSys, const char *units) {
  return eant_CoordDefinitionSetValues(nullptr, coordSys, units, nullptr);
}

// A library with styles of every kind, each list with an empty slot at number 1.
Eant_StyleLibrary *Filled() {
  Eant_StyleLibrary *library = eant_StyleLibraryCreate(nullptr);
  eant_CharStrCreate("styles of the test", &library->description, nullptr);

  Eant_Color *red = eant_ColorCreate(nullptr);
  eant_CharStrCreate("red", &red->styleName, nullptr);
  red->useCount = 2;
  red->mask = 0x1e;
  red->red = 255;
  red->opacity = 0.5;
  red->evaluatedStyle = eevg_ColorCreate(nullptr); // a cached renderer object goes with the style
  Eant_Color *blue = eant_ColorCreate(nullptr);
  eant_CharStrCreate("blue", &blue->styleName, nullptr);
  blue->blue = 200;
  blue->baseStyle = eant_StyleSetValues(nullptr, "other.sty", "navy", 4, nullptr);
  Append(library->colors, red);
  Append(library->colors, nullptr);
  Append(library->colors, blue);

  Eant_LineStyle *line = eant_LineStyleCreate(nullptr);
  eant_CharStrCreate("thick dashed", &line->styleName, nullptr);
  line->styleUnits = Units(EEVG_OUTPUT, "points");
  line->overLines.count = 2;
  line->overLines.data = static_cast<Eant_LineDescription *>(emsc_HeapMalloc(2 * sizeof(Eant_LineDescription)));
  line->overLines.data[0] = {0, 2.5};
  line->overLines.data[1] = {2, 1.0};
  eevg_LinePatternSetValues(&line->linePattern, 0, 4, 2, nullptr);
  line->lineJoin = 3;
  line->endLineEnd = 3;
  line->arrowEnd = eevg_ArrowEndSetValues(nullptr, 0.5, 0.25, 8, 1, 0, nullptr);
  line->useSymbol = 1;
  line->lineSymbol = eant_LineSymbolCreate(nullptr);
  line->lineSymbol->spacing = 12;
  line->lineSymbol->colorOverrideFlag = 1;
  line->lineSymbol->symbol = eant_StyleSetValues(nullptr, "symbols.syl", "tree", 3, nullptr);
  Append(library->lineStyles, line);
  Append(library->lineStyles, nullptr);
  Append(library->lineStyles, eant_LineStyleCreate(nullptr));

  Eant_FillStyle *hatched = eant_FillStyleCreate(nullptr);
  eant_CharStrCreate("hatched", &hatched->styleName, nullptr);
  hatched->fill = 1;
  hatched->trace = 1;
  hatched->traceStyle = 0;
  hatched->pattern = eant_FillPatternCreate(nullptr);
  hatched->pattern->color = 2;
  hatched->pattern->patternFill = 1;
  hatched->pattern->pattern = eant_PatternFillCreate(nullptr);
  hatched->pattern->pattern->xsep = 3;
  hatched->pattern->pattern->scaleUnits = Units(EEVG_OUTPUT, "inches");
  hatched->pattern->pattern->symbol = eant_StyleSetValues(nullptr, nullptr, "dot", 0, nullptr);
  Append(library->fillStyles, hatched);
  Append(library->fillStyles, nullptr);
  Append(library->fillStyles, eant_FillStyleCreate(nullptr));

  Eant_TextStyle *text = eant_TextStyleCreate(nullptr);
  eant_CharStrCreate("label", &text->styleName, nullptr);
  eant_CharStrCreate("galaxy.otl", &text->fontName, nullptr);
  text->styleUnits = Units(EEVG_OUTPUT, "points");
  text->fillStyle = 0;
  text->shadow = 1;
  text->textShadow = {1.5, -1.5, 2};
  text->underlineDist = 0.75;
  Append(library->textStyles, text);
  Append(library->textStyles, nullptr);
  Append(library->textStyles, eant_TextStyleCreate(nullptr));
  return library;
}

// Checks a library holding what Filled() made (after a copy or a read).
void ExpectFilled(const Eant_StyleLibrary *library) {
  ASSERT_NE(nullptr, library);
  EXPECT_EQ("styles of the test", Text(library->description));
  for (Edlm_List *list : {library->colors, library->lineStyles, library->fillStyles, library->textStyles}) {
    ASSERT_EQ(3, edlm_CountList(list, nullptr));
    EXPECT_EQ(nullptr, At<void>(list, 1)) << "the empty slot keeps the numbers";
  }
  const Eant_Color *red = At<Eant_Color>(library->colors, 0), *blue = At<Eant_Color>(library->colors, 2);
  EXPECT_EQ("red", Text(red->styleName));
  EXPECT_EQ(2, red->useCount);
  EXPECT_EQ(0x1eu, red->mask);
  EXPECT_EQ(255, red->red);
  EXPECT_EQ(0.5, red->opacity);
  EXPECT_EQ(nullptr, red->evaluatedStyle);
  EXPECT_EQ(200, blue->blue);
  ASSERT_NE(nullptr, blue->baseStyle);
  EXPECT_EQ("other.sty", Text(blue->baseStyle->fileNodeName));
  EXPECT_EQ(4, blue->baseStyle->number);

  const Eant_LineStyle *line = At<Eant_LineStyle>(library->lineStyles, 0);
  EXPECT_EQ("thick dashed", Text(line->styleName));
  ASSERT_NE(nullptr, line->styleUnits);
  EXPECT_EQ("points", Text(line->styleUnits->units));
  ASSERT_EQ(2, line->overLines.count);
  EXPECT_EQ(2.5, line->overLines.data[0].width);
  EXPECT_EQ(2, line->overLines.data[1].color);
  ASSERT_EQ(1, line->linePattern.count);
  EXPECT_EQ(4, line->linePattern.data[0].lineMark);
  EXPECT_EQ(3, line->lineJoin);
  EXPECT_EQ(3, line->endLineEnd);
  ASSERT_NE(nullptr, line->arrowEnd);
  EXPECT_EQ(8, line->arrowEnd->length);
  EXPECT_EQ(1, line->displayLine);
  EXPECT_EQ(1, line->useSymbol);
  ASSERT_NE(nullptr, line->lineSymbol);
  EXPECT_EQ(12, line->lineSymbol->spacing);
  EXPECT_EQ(1, line->lineSymbol->colorOverrideFlag);
  EXPECT_EQ(-1, line->lineSymbol->overrideColor);
  EXPECT_EQ("tree", Text(line->lineSymbol->symbol->name));
  EXPECT_EQ(1, At<Eant_LineStyle>(library->lineStyles, 2)->displayLine);

  const Eant_FillStyle *hatched = At<Eant_FillStyle>(library->fillStyles, 0);
  EXPECT_EQ(1, hatched->fill);
  EXPECT_EQ(0, hatched->traceStyle);
  ASSERT_NE(nullptr, hatched->pattern);
  EXPECT_EQ(2, hatched->pattern->color);
  EXPECT_EQ(1, hatched->pattern->patternFill);
  ASSERT_NE(nullptr, hatched->pattern->pattern);
  EXPECT_EQ(3, hatched->pattern->pattern->xsep);
  EXPECT_EQ(-1, hatched->pattern->pattern->overrideColor);
  EXPECT_EQ(nullptr, hatched->pattern->pattern->pixelRectStack);
  EXPECT_EQ("inches", Text(hatched->pattern->pattern->scaleUnits->units));
  EXPECT_EQ("dot", Text(hatched->pattern->pattern->symbol->name));
  EXPECT_EQ(-1, At<Eant_FillStyle>(library->fillStyles, 2)->traceStyle);

  const Eant_TextStyle *text = At<Eant_TextStyle>(library->textStyles, 0);
  EXPECT_EQ("galaxy.otl", Text(text->fontName));
  EXPECT_EQ(1, text->textChSpace);
  EXPECT_EQ(0, text->fillStyle);
  EXPECT_EQ(-1, text->underlineStyle);
  EXPECT_EQ(2, text->textShadow.style);
  EXPECT_EQ(-1.5, text->textShadow.dy);
  EXPECT_EQ(0.75, text->underlineDist);
}

class StyleLibraryTest : public PackageTest {
protected:
  // A new file with the package's toolkit record, and the file context on it.
  Ehfa_File *Create(const std::string &name) {
    ErrorSlot err;
    Ehfa_File *file = ehfa_FileCreate(Path(name).c_str(), toolkit_, &err);
    EXPECT_NE(nullptr, file) << Chain(err);
    io_ = {file, 0, 0, 0, 0};
    return file;
  }
  Eant_FileIO io_{};
};

TEST_F(StyleLibraryTest, ANewLibraryHasFourEmptyLists) {
  ErrorSlot err;
  Eant_StyleLibrary *library = eant_StyleLibraryCreate(&err);
  ASSERT_NE(nullptr, library);
  for (Edlm_List *list : {library->lineStyles, library->fillStyles, library->textStyles, library->colors})
    EXPECT_EQ(0, edlm_CountList(list, nullptr));
  EXPECT_EQ(0, library->modified);
  EXPECT_EQ(0, library->fileNodeName.count);
  eant_StyleLibraryInit(nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryInit", 1, "Invalid input Style Library"));
  {
    taviron::testing::FailAllocation fail(3);
    EXPECT_EQ(nullptr, eant_StyleLibraryCreate(&err));
  }
  EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryCreate", 2, "Error returned from eant_StyleLibraryInit"));
  eant_StyleLibraryFree(&library);
  EXPECT_EQ(nullptr, library);
  eant_StyleLibraryFree(&library);
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(StyleLibraryTest, CopyIsDeepAndKeepsTheNumbers) {
  ErrorSlot err;
  Eant_StyleLibrary *source = Filled();
  eant_CharStrCreate("lib.sty", &source->fileNodeName, nullptr);
  source->evaluated = 1;
  Eant_StyleLibrary *copy = eant_StyleLibraryCopy(source, nullptr, &err);
  ExpectFilled(copy);
  EXPECT_EQ(1, copy->modified);
  EXPECT_EQ(0, copy->evaluated);
  EXPECT_EQ("lib.sty", Text(copy->fileNodeName));
  EXPECT_NE(At<Eant_Color>(source->colors, 0), At<Eant_Color>(copy->colors, 0));
  EXPECT_NE(At<Eant_FillStyle>(source->fillStyles, 0)->pattern->pattern,
            At<Eant_FillStyle>(copy->fillStyles, 0)->pattern->pattern);
  // Into a given library, whose styles are replaced.
  Eant_StyleLibrary *target = Filled();
  ASSERT_EQ(target, eant_StyleLibraryCopy(copy, target, &err));
  ExpectFilled(target);
  EXPECT_EQ(target, eant_StyleLibraryCopy(nullptr, target, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryCopy", 1, "Invalid input Eant_StyleLibrary"));
  eant_StyleLibraryFree(&copy);
  eant_StyleLibraryFree(&target);

  // A copy that runs out of memory at any point frees what it made.
  const int64_t before = emsc_TestAllocationCount();
  copy = eant_StyleLibraryCopy(source, nullptr, &err);
  const int64_t allocations = emsc_TestAllocationCount() - before;
  eant_StyleLibraryFree(&copy);
  const auto counts = taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) { return (copy = eant_StyleLibraryCopy(source, nullptr, e)) != nullptr; },
      [&] { eant_StyleLibraryFree(&copy); });
  EXPECT_EQ(counts.heap, allocations);
  eant_StyleLibraryFree(&source);
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(StyleLibraryTest, WrittenAndReadBackItKeepsEveryStyleAtItsNumber) {
  ErrorSlot err;
  Ehfa_File *file = Create("written.img");
  Eant_StyleLibrary *library = Filled();
  library->modified = 1;
  eant_StyleLibraryWrite(&io_, ":", "StyleLibrary", library, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ(0, library->modified);
  EXPECT_STREQ("StyleLibrary", file->currentEntry->name); // the written node is current
  // Writing again replaces the node rather than adding a second one.
  eant_StyleLibraryWrite(&io_, ":", "StyleLibrary", library, &err);
  ASSERT_FALSE(err) << Chain(err);
  ASSERT_NE(nullptr, ehfa_EntrySeek(file, EHFA_PATH, ":StyleLibrary", &err));
  EXPECT_EQ(0, ehfa_EntryCurrentHasNext(file));
  EXPECT_STREQ("StyleLibrary_4_Eant", file->currentEntry->type);
  eant_StyleLibraryFree(&library);
  ehfa_FileClose(file, &err);

  file = ehfa_FileOpen(Path("written.img").c_str(), "r", toolkit_, &err);
  ASSERT_NE(nullptr, file);
  io_ = {file, 0, 0, 0, 0};
  Eant_StyleLibrary *read = eant_StyleLibraryRead(&io_, ":StyleLibrary", nullptr, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ(EANT_ANNOTATION_VERSION, io_.annotationVersion);
  ExpectFilled(read);
  EXPECT_EQ(0, read->modified);
  EXPECT_EQ(0, read->evaluated);
  // Into a given library, which is emptied first.
  Eant_StyleLibrary *given = Filled();
  ASSERT_EQ(given, eant_StyleLibraryRead(&io_, ":StyleLibrary", given, &err));
  ExpectFilled(given);
  eant_StyleLibraryFree(&given);
  eant_StyleLibraryFree(&read);

  // Every allocation of a read may fail: the library made by the read goes, nothing is left.
  const int64_t before = emsc_TestAllocationCount();
  read = eant_StyleLibraryRead(&io_, ":StyleLibrary", nullptr, &err);
  const int64_t allocations = emsc_TestAllocationCount() - before;
  eant_StyleLibraryFree(&read);
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) {
        read = eant_StyleLibraryRead(&io_, ":StyleLibrary", nullptr, e);
        if (read) ExpectFilled(read); // after an allocation the read could do without
        return read != nullptr;
      },
      [&] { eant_StyleLibraryFree(&read); }, {.heapThrough = allocations});
  ehfa_FileClose(file, &err);
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(StyleLibraryTest, ReadRefusesWhatIsNotALibraryOrOfAnUnknownVersion) {
  ErrorSlot err;
  Ehfa_File *file = Create("refused.img");
  Eant_StyleLibrary *library = Filled();
  eant_StyleLibraryWrite(&io_, ":", "Five", library, &err);
  ASSERT_FALSE(err);
  // A version node of 5 below the library.
  const Emif_Design *version = eant_PutDesignInDictionary(data_, "AnnotationVersion_Eant", file->dictionary, &err);
  const int32_t five = 5;
  ASSERT_NE(nullptr, ehfa_ObjectWrite(file, ":Five:AnnotationVersion", nullptr, nullptr, EHFA_OVERWRITE, &five, version, &err))
      << Chain(err);
  library->modified = 1;
  EXPECT_EQ(library, eant_StyleLibraryRead(&io_, ":Five", library, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryRead", 7, "Invalid annotation layer version number 5"));
  // A failed read leaves a given library as it was.
  EXPECT_EQ("styles of the test", Text(library->description));
  for (Edlm_List *list : {library->colors, library->lineStyles, library->fillStyles, library->textStyles})
    EXPECT_EQ(3, edlm_CountList(list, nullptr));
  EXPECT_EQ("label", Text(At<Eant_TextStyle>(library->textStyles, 0)->styleName));
  EXPECT_EQ(nullptr, At<Eant_TextStyle>(library->textStyles, 1));
  EXPECT_EQ(1, library->modified);
  EXPECT_EQ(nullptr, eant_StyleLibraryRead(&io_, ":Five", nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryRead", 7, "Invalid annotation layer version number 5"));
  eant_StyleLibraryFree(&library);

  ehfa_EntryWrite(file, ":", "plain", "SomethingElse_Eant", EHFA_CHILD, &err);
  EXPECT_EQ(nullptr, eant_StyleLibraryRead(&io_, ":plain", nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryRead", 5, "Nodepath is not a style library layer"));
  EXPECT_EQ(nullptr, eant_StyleLibraryRead(&io_, ":missing", nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryRead", 4, "Error returned from eant_AnnotationVersionRead"));

  // The file context's checks, in the writer and the reader alike.
  Eant_FileIO none{};
  eant_StyleLibraryWrite(&none, nullptr, "x", library, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryWrite", 1, "Invalid input fileIO"));
  Eint_InitToolkitData *init = file->init;
  file->init = nullptr;
  EXPECT_EQ(nullptr, eant_StyleLibraryRead(&io_, ":Five", nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryRead", 2, "Toolkit has not been initialized"));
  file->init = init;
  toolkit_->annotationData = nullptr;
  EXPECT_EQ(nullptr, eant_StyleLibraryRead(&io_, ":Five", nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryRead", 3, "Annotation Package has not been initialized"));
  toolkit_->annotationData = data_;
  eant_StyleLibraryWrite(&io_, nullptr, "x", nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryWrite", 4, "Invalid input styleLib"));
  ehfa_FileClose(file, &err);
}

// ---- The oldest stored form, written through the package's own designs ----

// A record of a design of the package's dictionary, filled item by item.
struct Stored {
  const Emif_Design *design;
  uint8_t *record;
  Stored(const Eant_InitData *data, const char *name)
      : design(emif_FindDesignByName(data->dictionary, name, nullptr)),
        record(static_cast<uint8_t *>(emif_NewObject(design, nullptr))) {}
  template <class T> void Set(const char *item, T value) {
    const int32_t offset = emif_DesignItemOffset(design, item);
    ASSERT_GE(offset, 0) << item;
    std::memcpy(record + offset, &value, sizeof value);
  }
  void SetText(const char *item, const char *text) {
    Emif_String string{};
    emif_EmifStringFromString(&string, text);
    Set(item, string);
  }
};

TEST_F(StyleLibraryTest, TheOldestFormReadsWithTheDefaultsOfItsMissingFields) {
  ErrorSlot err;
  Ehfa_File *file = Create("old.img");
  // One colour, one fill style with the old pattern, no other styles.
  Stored color(data_, "Eant_Color"), fill(data_, "Eant_FillStyle"), pattern(data_, "Eant_FillPattern");
  color.SetText("styleName", "old grey");
  color.Set<int32_t>("red", 128);
  color.Set<int32_t>("useCount", -1); // the oldest form knows no empty slots
  fill.Set<int32_t>("fill", 1);
  fill.Set<int32_t>("traceStyle", 2);
  pattern.Set<int32_t>("color", 0);
  fill.Set("pattern", static_cast<void *>(pattern.record));
  Stored library(data_, "StyleLibrary_Eant");
  library.Set("colors", Emif_String{1, reinterpret_cast<char *>(color.record)});
  library.Set("fillStyles", Emif_String{1, reinterpret_cast<char *>(fill.record)});
  ASSERT_NE(nullptr, ehfa_ObjectWrite(file, ":", "Old", "StyleLibrary_Eant", EHFA_CHILD, library.record,
                                      library.design, &err))
      << Chain(err);
  emif_ObjectFree(library.design, library.record); // with the colour, fill style and pattern

  // No version node below it: version 0, the oldest design.
  Eant_StyleLibrary *read = eant_StyleLibraryRead(&io_, ":Old", nullptr, &err);
  ASSERT_NE(nullptr, read) << Chain(err);
  EXPECT_EQ(0, io_.annotationVersion);
  ASSERT_EQ(1, edlm_CountList(read->colors, nullptr));
  const Eant_Color *grey = At<Eant_Color>(read->colors, 0);
  ASSERT_NE(nullptr, grey);
  EXPECT_EQ("old grey", Text(grey->styleName));
  EXPECT_EQ(128, grey->red);
  EXPECT_EQ(1.0, grey->opacity);
  ASSERT_EQ(1, edlm_CountList(read->fillStyles, nullptr));
  const Eant_FillStyle *filled = At<Eant_FillStyle>(read->fillStyles, 0);
  EXPECT_EQ(2, filled->traceStyle);
  ASSERT_NE(nullptr, filled->pattern);
  EXPECT_EQ(1, filled->pattern->solidFill);
  EXPECT_EQ(0, filled->pattern->color);
  EXPECT_EQ(0, filled->pattern->patternFill);
  EXPECT_EQ(0, edlm_CountList(read->lineStyles, nullptr));
  eant_StyleLibraryFree(&read);
  ehfa_FileClose(file, &err);
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(StyleLibraryTest, OlderLineStyleFormsReadWithTheLineShownAndNoSymbol) {
  struct Case {
    int32_t version;
    const char *library, *line;
    bool joins; // the form stores joins and ends
  } cases[] = {{0, "StyleLibrary_Eant", "Eant_LineStyle", false},
               {1, "StyleLibrary_1_Eant", "LineStyle1", true},
               {2, "StyleLibrary_2_Eant", "LineStyle2", true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    ErrorSlot err;
    Ehfa_File *file = Create("old" + std::to_string(c.version) + ".img");
    Stored line(data_, c.line), width(data_, "Eant_LineDescription");
    line.SetText("styleName", "old line");
    line.Set<uint32_t>("mask", EANT_LINE_OVERLINES | (c.joins ? EANT_LINE_LINEJOIN | EANT_LINE_ENDLINEEND : 0u));
    width.Set<int32_t>("color", 3);
    width.Set<double>("width", 1.5);
    line.Set("overLines", Emif_String{1, reinterpret_cast<char *>(width.record)});
    if (c.joins) {
      line.Set<int32_t>("lineJoin", EEVG_MITRE_JOIN);
      line.Set<int32_t>("endLineEnd", EEVG_ARROW_END);
    }
    Stored library(data_, c.library);
    library.Set("lineStyles", Emif_String{1, reinterpret_cast<char *>(line.record)});
    ASSERT_NE(nullptr, ehfa_ObjectWrite(file, ":", "Old", c.library, EHFA_CHILD, library.record, library.design, &err))
        << Chain(err);
    emif_ObjectFree(library.design, library.record);
    if (c.version > 0) {
      Stored version(data_, "AnnotationVersion_Eant");
      version.Set<int32_t>("version", c.version);
      ASSERT_NE(nullptr, ehfa_ObjectWrite(file, ":Old", "AnnotationVersion", "AnnotationVersion_Eant", EHFA_CHILD,
                                          version.record, version.design, &err))
          << Chain(err);
      emif_ObjectFree(version.design, version.record);
    }

    Eant_StyleLibrary *read = eant_StyleLibraryRead(&io_, ":Old", nullptr, &err);
    ASSERT_NE(nullptr, read) << Chain(err);
    EXPECT_EQ(c.version, io_.annotationVersion);
    ASSERT_EQ(1, edlm_CountList(read->lineStyles, nullptr));
    const Eant_LineStyle *style = At<Eant_LineStyle>(read->lineStyles, 0);
    ASSERT_NE(nullptr, style);
    EXPECT_EQ("old line", Text(style->styleName));
    ASSERT_EQ(1, style->overLines.count);
    EXPECT_EQ(3, style->overLines.data[0].color);
    EXPECT_EQ(1.5, style->overLines.data[0].width);
    EXPECT_EQ(c.joins ? EEVG_MITRE_JOIN : EEVG_ROUND_JOIN, style->lineJoin);
    EXPECT_EQ(c.joins ? EEVG_ARROW_END : EEVG_ROUND_END, style->endLineEnd);
    EXPECT_EQ(1, style->displayLine);
    EXPECT_EQ(0, style->useSymbol);
    EXPECT_EQ(nullptr, style->lineSymbol);
    eant_StyleLibraryFree(&read);
    ehfa_FileClose(file, &err);
  }
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(StyleLibraryTest, ConvertersAndArraysCheckTheirArguments) {
  ErrorSlot err;
  Edlm_List *list = edlm_InitList(sizeof(void *), 1, nullptr);
  int32_t count = 9;
  EXPECT_EQ(nullptr, eant_ColorListToPrivateArray(nullptr, &count, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_ColorListToPrivateArray", 1, "Invalid input color list"));
  eant_LineStylePrivate4ArrayToList(nullptr, 2, list, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_LineStylePrivate4ArrayToList", 1, "Invalid input lineStyleArray"));
  void *array = eant_FillStyleListToPrivateArray(list, &count, &err);
  ASSERT_NE(nullptr, array);
  EXPECT_EQ(0, count);
  eant_TextStylePrivate2ArrayToList(array, 0, nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_TextStylePrivate2ArrayToList", 2, "Invalid input textStyleList"));
  emsc_HeapFree(array);
  // An empty slot of the current form that holds parts (a damaged file) is freed, not kept.
  Append(list, eant_ColorCreate(nullptr));
  Append(list, nullptr);
  array = eant_ColorListToPrivateArray(list, &count, &err);
  ASSERT_EQ(2, count);
  Edlm_List *read = edlm_InitList(sizeof(void *), 1, nullptr);
  eant_ColorPrivate2ArrayToList(array, count, read, &err);
  EXPECT_FALSE(err);
  EXPECT_EQ(2, edlm_CountList(read, nullptr));
  EXPECT_EQ(nullptr, At<void>(read, 1));
  emsc_HeapFree(array);
  for (Edlm_List *l : {list, read}) {
    for (int32_t i = 0; i < edlm_CountList(l, nullptr); ++i) eant_ColorFree(static_cast<Eant_Color **>(edlm_GetAddr(l, i, nullptr)));
    edlm_FreeList(l);
  }
  EXPECT_TRUE(HeapAsAtStart());
}

// ---- Loaded libraries and library files ----

TEST_F(StyleLibraryTest, AddingALibraryReplacesTheOneOfItsName) {
  ErrorSlot err;
  Eant_StyleLibrary *a = eant_StyleLibraryCreate(&err), *b = eant_StyleLibraryCreate(&err),
                    *c = eant_StyleLibraryCreate(&err);
  eant_CharStrCreate("a.sty", &a->fileNodeName, &err);
  eant_CharStrCreate("b.sty", &b->fileNodeName, &err);
  eant_CharStrCreate("a.sty", &c->fileNodeName, &err);
  Eant_StyleLibrary *list = eant_StyleLibraryAddToList(nullptr, a, &err);
  EXPECT_EQ(a, list);
  list = eant_StyleLibraryAddToList(list, b, &err);
  EXPECT_EQ(b, a->next);
  list = eant_StyleLibraryAddToList(list, c, &err); // a goes; b survives it
  EXPECT_EQ(b, list);
  EXPECT_EQ(c, b->next);
  EXPECT_EQ(list, eant_StyleLibraryAddToList(list, nullptr, &err));
  eant_StyleLibraryFree(&list); // the whole chain
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(StyleLibraryTest, LookupLoadsALibraryFileOnceAndStyleReferencesFindIt) {
  ErrorSlot err;
  Ehfa_File *file = Create("shared.sty");
  Eant_StyleLibrary *library = Filled();
  eant_StyleLibraryWrite(&io_, ":", "StyleLibrary", library, &err);
  eant_StyleLibraryWrite(&io_, ":", "Other", library, &err);
  ASSERT_FALSE(err) << Chain(err);
  eant_StyleLibraryFree(&library);
  ehfa_FileClose(file, &err);
  setenv("NORIX_STYLE_PATH", Dir().c_str(), 1);

  Eant_StyleLibrary *loaded = eant_StyleLibraryListLookup(toolkit_, "shared.sty", &err);
  ExpectFilled(loaded);
  EXPECT_EQ("shared.sty", Text(loaded->fileNodeName));
  EXPECT_EQ(loaded, data_->styleLibraryCache);
  EXPECT_EQ(loaded, eant_StyleLibraryListLookup(toolkit_, "shared.sty", &err));
  // The same file under another name is another library; a node path picks the node.
  Eant_StyleLibrary *other = eant_StyleLibraryListLookup(toolkit_, "shared.sty:Other", &err);
  ASSERT_NE(nullptr, other) << Chain(err);
  EXPECT_NE(loaded, other);
  EXPECT_EQ(other, loaded->next);

  Eant_Style *reference = eant_StyleSetValues(nullptr, "shared.sty:Other", "red", 0, &err);
  EXPECT_EQ(other, eant_StyleLibraryGetFromStyle(toolkit_, nullptr, reference, &err));
  Eant_StyleLibrary *local = eant_StyleLibraryCreate(&err);
  eant_StyleSetValues(reference, nullptr, "red", 0, &err);
  EXPECT_EQ(local, eant_StyleLibraryGetFromStyle(toolkit_, local, reference, &err));
  EXPECT_EQ(nullptr, eant_StyleLibraryGetFromStyle(toolkit_, nullptr, reference, &err));
  EXPECT_FALSE(err);
  EXPECT_EQ(nullptr, eant_StyleLibraryGetFromStyle(toolkit_, local, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryGetFromStyle", 1, "Invalid input style"));
  eant_StyleSetValues(reference, "missing.sty", "red", 0, &err);
  EXPECT_EQ(nullptr, eant_StyleLibraryGetFromStyle(toolkit_, local, reference, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryGetFromStyle", 2, "Error returned from eant_StyleLibraryListLookup"));
  EXPECT_EQ(nullptr, data_->styleLibraryCache->next->next); // a failed load is not remembered
  eant_StyleFree(&reference);
  eant_StyleLibraryFree(&local);

  struct Case {
    Eint_InitToolkitData *toolkit;
    const char *name;
    int code;
    const char *message;
  } failures[] = {{toolkit_, nullptr, 1, "Invalid input file nodename"},
                  {nullptr, "shared.sty", 2, "Toolkit has not been initialized"}};
  for (const Case &c : failures) {
    EXPECT_EQ(nullptr, eant_StyleLibraryListLookup(c.toolkit, c.name, &err));
    EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryListLookup", c.code, c.message));
  }
  unsetenv("NORIX_STYLE_PATH");
}

TEST_F(StyleLibraryTest, ALayerWritesAModifiedLibraryWhenItCloses) {
  ErrorSlot err;
  Ehfa_File *file = Create("layer.sty");
  Eant_StyleLibrary *library = Filled();
  eant_StyleLibraryWrite(&io_, ":", "StyleLibrary", library, &err);
  eant_StyleLibraryFree(&library);
  ehfa_FileClose(file, &err);
  setenv("NORIX_STYLE_PATH", Dir().c_str(), 1);

  // Read only: the file is closed at once, and closing writes nothing.
  Eant_StyleLibraryLayer *layer = eant_StyleLibraryLayerOpen(toolkit_, "layer.sty", "r", &err);
  ASSERT_NE(nullptr, layer) << Chain(err);
  EXPECT_EQ(nullptr, layer->file);
  EXPECT_STREQ(":StyleLibrary", layer->layerName);
  ExpectFilled(layer->library);
  layer->library->modified = 1;
  eant_StyleLibraryLayerRead(layer, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryLayerRead", 2, "Input styleLibLayer is not open"));
  eant_StyleLibraryLayerClose(layer, &err);
  EXPECT_FALSE(err);

  // For update: a change of the library is written when the layer closes.
  layer = eant_StyleLibraryLayerOpen(toolkit_, "layer.sty:StyleLibrary", "r+", &err);
  ASSERT_NE(nullptr, layer) << Chain(err);
  ASSERT_NE(nullptr, layer->file);
  eant_CharStrCreate("changed", &layer->library->description, &err);
  layer->library->modified = 1;
  eant_StyleLibraryLayerClose(layer, &err);
  ASSERT_FALSE(err) << Chain(err);
  Eant_StyleLibrary *read = eant_StyleLibraryOpenAndRead(toolkit_, "layer.sty", &err);
  ASSERT_NE(nullptr, read);
  EXPECT_EQ("changed", Text(read->description));
  EXPECT_EQ("layer.sty", Text(read->fileNodeName));
  eant_StyleLibraryFree(&read);

  struct Case {
    const char *name, *mode;
    int code;
    const char *message;
  } failures[] = {{nullptr, "r", 1, "Invalid input file nodename"},
                  {"layer.sty", "w", 2, "Invalid input mode"},
                  {"layer.sty", "a", 2, "Invalid input mode"},
                  {"missing.sty", "r", 6, "Error returned from ehfa_SearchListFileOpen"}};
  for (const Case &c : failures) {
    EXPECT_EQ(nullptr, eant_StyleLibraryLayerOpen(toolkit_, c.name, c.mode, &err));
    EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryLayerOpen", c.code, c.message));
  }
  EXPECT_EQ(nullptr, eant_StyleLibraryLayerOpen(toolkit_, "layer.sty:Nothing", "r", &err));
  EXPECT_TRUE(Reported(err.get(), "eant_StyleLibraryLayerOpen", 9, "Error returned from eant_StyleLibraryLayerRead"));
  unsetenv("NORIX_STYLE_PATH");
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(StyleLibraryTest, ANewLayerIsMadeOnlyWhereItsNodeCanBe) {
  ErrorSlot err;
  const std::string name = Path("new.sty");
  // A new file: the library is written when the layer closes modified, under ":StyleLibrary".
  Eant_StyleLibrary *library = Filled();
  Eant_StyleLibraryLayer *layer = eant_StyleLibraryLayerNew(toolkit_, name.c_str(), library, &err);
  ASSERT_NE(nullptr, layer) << Chain(err);
  EXPECT_EQ(library, layer->library);
  EXPECT_STREQ(":StyleLibrary", layer->layerName);
  EXPECT_EQ(name, Text(library->fileNodeName));
  library->modified = 1;
  eant_StyleLibraryLayerClose(layer, &err);
  ASSERT_FALSE(err) << Chain(err);
  Eant_StyleLibrary *read = eant_StyleLibraryOpenAndRead(toolkit_, name.c_str(), &err);
  ExpectFilled(read);
  eant_StyleLibraryFree(&read);

  // In an existing file: a second node beside the first, made without a library of the caller's
  // and closed unmodified, so that nothing is written.
  const std::string second = name + ":Second";
  layer = eant_StyleLibraryLayerNew(toolkit_, second.c_str(), nullptr, &err);
  ASSERT_NE(nullptr, layer) << Chain(err);
  ASSERT_NE(nullptr, layer->library);
  EXPECT_EQ(0, edlm_CountList(layer->library->textStyles, nullptr));
  eant_StyleLibraryLayerClose(layer, &err);
  EXPECT_EQ(nullptr, eant_StyleLibraryOpenAndRead(toolkit_, second.c_str(), &err));
  EXPECT_TRUE(err);

  struct Case {
    std::string name;
    int32_t overwrite;
    int code;
    const char *message; // null: the layer is made
  } cases[] = {
      {name, 0, 6, "StyleLibrary already exists"},
      {name, 1, 0, nullptr},
      {name + ":Missing:Library", 0, 7, "Error returned from ehfa_EntrySeek for parent"},
      {Path("deep.sty") + ":a:b", 0, 8, "Nodepath is not valid for new file"},
      {name + "(:a,:b)", 0, 3, "Input fileNodeName is not single node"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    layer = eant_StyleLibraryLayerNewOverwritable(toolkit_, c.name.c_str(), nullptr, c.overwrite, &err);
    if (!c.message) {
      EXPECT_NE(nullptr, layer) << Chain(err);
      eant_StyleLibraryLayerClose(layer, &err);
      continue;
    }
    EXPECT_EQ(nullptr, layer);
    EXPECT_TRUE(Reported(err, "eant_StyleLibraryLayerNewOverwritable", c.code, c.message));
  }
  EXPECT_FALSE(std::filesystem::exists(Path("deep.sty")));
  EXPECT_EQ(nullptr, eant_StyleLibraryLayerNew(toolkit_, nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_StyleLibraryLayerNewOverwritable", 1, "Invalid input styleLibLayer name"));
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(StyleLibraryTest, PrintShowsTheFlagsNamesAndEveryLiveStyle) {
  ErrorSlot err;
  Eant_StyleLibrary *library = Filled();
  eant_CharStrCreate("lib.sty", &library->fileNodeName, &err);
  library->evaluated = 1;
  taviron::testing::CapturedOutput out;
  eant_StyleLibraryListPrint(library, &err);
  EXPECT_FALSE(err);
  const std::string &text = out.Out();
  EXPECT_EQ(0u, text.find("Style Library:\n    modified - false\n    evaluated - true\n    fileNodeName - lib.sty\n"
                          "    description - styles of the test\n"));
  EXPECT_NE(std::string::npos, text.find("TextStyle:\n   useCount - 0\n   styleName - label\n"));
  EXPECT_NE(std::string::npos, text.find("   fontName - galaxy.otl\n"));
  EXPECT_NE(std::string::npos, text.find("   shadow - true\n      dx - 1.5\n      dy - -1.5\n   textShadow style - 2\n"));
  std::size_t styles = 0;
  for (std::size_t at = text.find("useCount"); at != std::string::npos; at = text.find("useCount", at + 1)) ++styles;
  EXPECT_EQ(8u, styles); // two live styles of each kind
  eant_StyleLibraryListPrint(nullptr, &err);
  EXPECT_TRUE(Reported(err, "eant_StyleLibraryListPrint", 1, "Invalid input styleLibrary"));
  eant_StyleLibraryFree(&library);
}

} // namespace
