// The annotation info: copies, writing and reading a layer node with its elements and style
// library, rendering in one call and in budgeted steps, and the whole-layer services.
#include <string>
#include <vector>

#include "annotation_testing.h"
#include "edlm.h"
#include "ellm.h"

namespace {

using namespace taviron::annotation::testing;

std::string Text(const Eant_CharStr &s) { return s.count > 0 && s.data ? s.data : ""; }

void Noop(void *, void *, Eerr_ErrorReport **) {}

class AnnotationInfoTest : public PackageTest {
protected:
  // An info of the package's toolkit with a header, the default libraries, three test elements.
  Eant_AnnotationInfo *Filled() {
    ErrorSlot err;
    Eant_AnnotationInfo *info = eant_AnnotationInfoCreate(toolkit_, &err);
    eant_AnnotationInfoInit(info, nullptr, nullptr, &err);
    EXPECT_FALSE(err) << Chain(err.get());
    eant_CharStrCreate("roads", &info->antHead->name, &err);
    Eant_Element *list = nullptr;
    for (int32_t i = 0; i < 3; ++i) {
      Eant_Element *e = NewTestElement(10 + i, info);
      eant_ElementBboxComputeAndReset(e, nullptr, &err);
      list = static_cast<Eant_Element *>(ellm_Add(list, ELLM_APPEND, e));
    }
    info->elements = list;
    eant_ColorAddToLibrary(eant_ColorSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_STYLENAME, "teal",
                                               EANT_KEY_RGB, 0, 128, 128, 0),
                           info->styleLib, 0, &err);
    EXPECT_FALSE(err) << Chain(err.get());
    return info;
  }
  void SetUp() override {
    PackageTest::SetUp();
    testRendered.clear();
  }
  TestElementType type_;
};

TEST_F(AnnotationInfoTest, ACopyHoldsTheContentsButNoneOfTheSessionState) {
  ErrorSlot err;
  Eant_AnnotationInfo *source = Filled();
  source->antHead->nextElement = 12;
  eant_CriteriaAdd(source, "all", nullptr, nullptr, &err);
  eant_AddElementCreatedCallback(source, &Noop, nullptr, &err);
  source->undoStack = source;
  eant_AnnotationDBIDataCurrentRowSet(source, 3, &err); // no database access yet: reported
  EXPECT_TRUE(err);
  eant_AnnotationDBIDataFunctionsAndDataSet(source, nullptr, nullptr, source, &err);
  eant_AnnotationDBIDataCurrentRowSet(source, 3, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  EXPECT_EQ(3, source->dbiData->currentRow);

  Eant_AnnotationInfo *copy = eant_AnnotationInfoCopy(source, nullptr, &err);
  ASSERT_NE(nullptr, copy) << Chain(err.get());
  EXPECT_EQ(nullptr, copy->criteria);
  EXPECT_EQ(nullptr, copy->selectedElements);
  for (Eant_Callback *list : copy->callbacks) EXPECT_EQ(nullptr, list);
  EXPECT_EQ(nullptr, copy->undoStack);
  EXPECT_EQ(nullptr, copy->dbiData);
  EXPECT_EQ(0u, copy->antHead->nextElement);
  EXPECT_EQ(1, copy->modified);
  EXPECT_EQ("roads", Text(copy->antHead->name));
  EXPECT_EQ(3, eant_ElementListCount(copy->elements, &err));
  EXPECT_EQ(copy, copy->elements->next->antInfo);
  EXPECT_EQ(1, eant_ColorLookupInLibraryByName(copy->styleLib, "teal", &err));
  EXPECT_NE(nullptr, copy->fakeDrawing);
  EXPECT_NE(source->styleLib, copy->styleLib);

  eant_AnnotationInfoMakeUniqueElementIDs(copy, &err);
  EXPECT_EQ(3u, copy->antHead->nextElement);
  EXPECT_EQ(2, copy->elements->next->next->id);
  eant_AnnotationInfoFree(&copy);
  EXPECT_EQ(nullptr, copy);
  EXPECT_EQ(nullptr, eant_AnnotationInfoCopy(nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_AnnotationInfoCopy", 1, "Invalid input Eant_AnnotationInfo"));
  source->undoStack = nullptr;
  eant_AnnotationInfoFree(&source);
}

TEST_F(AnnotationInfoTest, WrittenReopenedAndReadBackEqual) {
  ErrorSlot err;
  Eant_AnnotationInfo *info = Filled();
  info->modified = 1;
  Ehfa_File *file = ehfa_FileCreate(Path("layer.ovr").c_str(), toolkit_, &err);
  ASSERT_NE(nullptr, file) << Chain(err.get());
  eant_AnnotationInfoWrite(file, ":", "Annotation", info, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  EXPECT_EQ(0, info->modified);
  ehfa_FileClose(file, &err);

  file = ehfa_FileOpen(Path("layer.ovr").c_str(), "r", toolkit_, &err);
  ASSERT_NE(nullptr, file) << Chain(err.get());
  Eant_AnnotationInfo *read = eant_AnnotationInfoReadWithOptions(
      file, ":Annotation", nullptr, &err, EANT_OPTION_VERSION_FLAGS, 1, EANT_OPTION_END);
  ASSERT_NE(nullptr, read) << Chain(err.get());
  // A layer that is not there: the info made for it is freed and nothing is returned.
  EXPECT_EQ(nullptr, eant_AnnotationInfoRead(file, ":Missing", nullptr, &err));
  EXPECT_TRUE(err);
  ehfa_FileClose(file, &err);
  EXPECT_EQ("roads", Text(read->antHead->name));
  EXPECT_EQ(info->antHead->nextElement, read->antHead->nextElement);
  EXPECT_EQ(0, read->modified);
  ASSERT_EQ(3, eant_ElementListCount(read->elements, &err));
  int32_t value = 10;
  for (Eant_Element *a = info->elements, *b = read->elements; a && b; a = a->next, b = b->next, ++value) {
    EXPECT_EQ(a->id, b->id);
    EXPECT_EQ(value, TestType::Record(b).value);
    EXPECT_EQ(read, b->antInfo);
  }
  ASSERT_NE(nullptr, read->styleLib);
  for (int32_t i = 0; i < 2; ++i)
    EXPECT_EQ(1, eant_ColorCompare(eant_ColorLookupInLibrary(info->styleLib, i, &err),
                                   eant_ColorLookupInLibrary(read->styleLib, i, &err), &err));
  EXPECT_EQ(1, eant_LineStyleCompare(eant_LineStyleLookupInLibrary(info->styleLib, 0, &err),
                                     eant_LineStyleLookupInLibrary(read->styleLib, 0, &err), &err));
  EXPECT_NE(nullptr, read->selectedStyles);
  EXPECT_NE(nullptr, read->currentStyles);
  EXPECT_NE(nullptr, read->defaultStyles);

  EXPECT_EQ(nullptr, eant_AnnotationInfoRead(nullptr, ":Annotation", nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_AnnotationInfoReadWithOptions", 1, "Invalid input ehfaFile"));
  eant_AnnotationInfoFree(&read);
  eant_AnnotationInfoFree(&info);
}

TEST_F(AnnotationInfoTest, RewritingALayerReplacesItsElementsInsteadOfKeepingTheOldOnes) {
  ErrorSlot err;
  Eant_AnnotationInfo *info = Filled();
  Ehfa_File *file = ehfa_FileCreate(Path("layer.ovr").c_str(), toolkit_, &err);
  ASSERT_NE(nullptr, file) << Chain(err.get());
  eant_AnnotationInfoWrite(file, ":", "Annotation", info, &err);
  eant_ElementListFree(&info->elements->next);
  eant_AnnotationInfoWrite(file, ":", "Annotation", info, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  int lists = 0;
  ehfa_EntrySeek(file, EHFA_PATH, ":Annotation", &err);
  for (Ehfa_Entry *e = ehfa_EntrySeek(file, EHFA_FIRST_CHILD, nullptr, &err); e;
       e = ehfa_EntrySeek(file, EHFA_NEXT, nullptr, &err))
    lists += std::string(e->name) == "ElementList";
  EXPECT_EQ(1, lists);
  Eant_AnnotationInfo *read = eant_AnnotationInfoRead(file, ":Annotation", nullptr, &err);
  ASSERT_NE(nullptr, read) << Chain(err.get());
  EXPECT_EQ(1, eant_ElementListCount(read->elements, &err));
  ehfa_FileClose(file, &err);
  eant_AnnotationInfoFree(&read);
  eant_AnnotationInfoFree(&info);
}

TEST_F(AnnotationInfoTest, RenderingDrawsEveryElementInListOrderAtOnceOrInSteps) {
  ErrorSlot err;
  Eant_AnnotationInfo *info = Filled();
  std::vector<int32_t> ids;
  for (Eant_Element *e = info->elements; e; e = e->next) ids.push_back(e->id);
  Eant_CoordSysConversion *conversion = eant_CoordSysConversionCreate(&err);
  _exfr_XForm *before = conversion->mapTransform;
  Eevg_Coord *own = eevg_CoordCreate(&err); // the caller's reference coordinate survives a render
  conversion->referenceCoord = own;

  eant_AnnotationRender(info, nullptr, conversion, info->fakeDrawing, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  EXPECT_EQ(ids, testRendered);
  EXPECT_EQ(before, conversion->mapTransform);
  EXPECT_EQ(own, conversion->referenceCoord);

  testRendered.clear();
  Eant_RenderData *data = eant_RenderDataCreate(info, &err);
  ASSERT_NE(nullptr, data) << Chain(err.get());
  EXPECT_EQ(3, data->total);
  EXPECT_EQ(1, eant_AnnotationRenderIncremental(info, data, nullptr, conversion, info->fakeDrawing, &err));
  EXPECT_TRUE(testRendered.empty()); // a budget of 0 visits nothing
  data->budget = 2;
  int calls = 0;
  while (!eant_AnnotationRenderIncremental(info, data, nullptr, conversion, info->fakeDrawing, &err) &&
         calls < 10)
    ++calls;
  ASSERT_FALSE(err) << Chain(err.get());
  EXPECT_EQ(1, calls); // two elements, then the last one
  EXPECT_EQ(ids, testRendered);
  eant_RenderDataFree(&data);

  struct Case {
    Eant_AnnotationInfo *info;
    Eant_CoordSysConversion *conversion;
    int code;
    const char *message;
  } cases[] = {{nullptr, conversion, 1, "Invalid input annotation information"},
               {info, nullptr, 2, "Invalid input coordConvert"}};
  for (const Case &c : cases) {
    eant_AnnotationRenderWithoutClearingStyles(c.info, nullptr, c.conversion, nullptr, &err);
    EXPECT_TRUE(Reported(err.get(), "eant_AnnotationRenderWithoutClearingStyles", c.code, c.message));
  }
  eant_CoordSysConversionFree(&conversion);
  eant_AnnotationInfoFree(&info);
}

TEST_F(AnnotationInfoTest, ReprojectingNeedsProjectionInformation) {
  ErrorSlot err;
  Eant_AnnotationInfo *info = Filled();
  Eprj_ProParameters *parameters = eprj_ProParametersCreate(&err);
  eant_AnnotationInfoReproject(info, parameters, "meters", nullptr, nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_AnnotationInfoReproject", 2,
                       "Input annotation info does not have sufficent projection information."));
  EXPECT_EQ(nullptr, info->proParameters);
  eprj_ProParametersFree(&parameters);
  eant_AnnotationInfoFree(&info);
}

} // namespace

namespace {

using namespace taviron::annotation::testing;

// The number of slots of each list of a library: colours, line, fill and text styles.
std::vector<int32_t> Counts(const Eant_StyleLibrary *library) {
  std::vector<int32_t> counts;
  for (Edlm_List *list : {library->colors, library->lineStyles, library->fillStyles, library->textStyles})
    counts.push_back(list ? edlm_CountList(list, nullptr) : -1);
  return counts;
}

TEST_F(AnnotationInfoTest, NumberZeroOfEveryKindOfStyleExistsAfterTheLibrariesAreValidated) {
  ErrorSlot err;
  // A bare info gets a library with one of each (a black colour) and a symbol library.
  Eant_AnnotationInfo *info = eant_AnnotationInfoCreate(toolkit_, &err);
  eant_LibrariesValidate(info, &err);
  ASSERT_FALSE(err) << Chain(err);
  ASSERT_NE(nullptr, info->styleLib);
  EXPECT_EQ((std::vector<int32_t>{1, 1, 1, 1}), Counts(info->styleLib));
  const Eant_Color *black = eant_ColorLookupInLibrary(info->styleLib, 0, &err);
  ASSERT_NE(nullptr, black);
  EXPECT_EQ((std::vector<int32_t>{0, 0, 0}), (std::vector<int32_t>{black->red, black->green, black->blue}));
  ASSERT_NE(nullptr, info->symbolLib);
  EXPECT_NE(nullptr, info->symbolLib->symbolDataList);
  // A full library is left as it is; a library lacking a kind gets that kind's default only.
  eant_LibrariesValidate(info, &err);
  EXPECT_EQ((std::vector<int32_t>{1, 1, 1, 1}), Counts(info->styleLib));
  eant_StyleLibraryFree(&info->styleLib);
  info->styleLib = eant_StyleLibraryCreate(&err);
  eant_ColorAddToLibrary(eant_ColorSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_RGB, 0, 128, 128, 0),
                         info->styleLib, 0, &err);
  eant_ColorAddToLibrary(eant_ColorSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_RGB, 9, 9, 9, 0),
                         info->styleLib, 0, &err);
  eant_LibrariesValidate(info, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ((std::vector<int32_t>{2, 1, 1, 1}), Counts(info->styleLib));
  EXPECT_EQ(128, eant_ColorLookupInLibrary(info->styleLib, 0, &err)->green);
  eant_LibrariesValidate(nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_LibrariesValidate", 1, "Invalid input annotation info"));

  // A layer read gets them too: one written without styles reads with one of each.
  eant_StyleLibraryFree(&info->styleLib);
  info->styleLib = eant_StyleLibraryCreate(&err);
  eant_SymbolLibraryFree(&info->symbolLib);
  eant_AntHeaderFree(&info->antHead);
  info->antHead = eant_AntHeaderCreate(&err);
  Ehfa_File *file = ehfa_FileCreate(Path("layer.ovr").c_str(), toolkit_, &err);
  ASSERT_NE(nullptr, file) << Chain(err.get());
  eant_AnnotationInfoWrite(file, ":", "Annotation", info, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  Eant_AnnotationInfo *read = eant_AnnotationInfoRead(file, ":Annotation", nullptr, &err);
  ASSERT_NE(nullptr, read) << Chain(err.get());
  ASSERT_NE(nullptr, read->styleLib);
  EXPECT_EQ((std::vector<int32_t>{1, 1, 1, 1}), Counts(read->styleLib));
  EXPECT_NE(nullptr, read->symbolLib);
  eant_AnnotationInfoFree(&read);
  ehfa_FileClose(file, &err);
  eant_AnnotationInfoFree(&info);

  // Memory running out: reported, what was added stays with the info.
  taviron::testing::SweepOptions options;
  options.prepare = [&] { info = eant_AnnotationInfoCreate(toolkit_, nullptr); };
  options.finish = [&] { eant_AnnotationInfoFree(&info); };
  EXPECT_GT(taviron::testing::SweepAllocationFailures(
                [&](Eerr_ErrorReport **e) {
                  eant_LibrariesValidate(info, e);
                  return !*e;
                },
                options)
                .heap,
            0);
}

TEST_F(AnnotationInfoTest, AFailedAllocationIsReportedAndLeavesNothingBehind) {
  ErrorSlot err;
  Eant_AnnotationInfo *info = Filled();
  Ehfa_File *file = ehfa_FileCreate(Path("layer.ovr").c_str(), toolkit_, &err);
  ASSERT_NE(nullptr, file) << Chain(err.get());
  eant_AnnotationInfoWrite(file, ":", "Annotation", info, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  const std::function<bool(Eerr_ErrorReport **)> steps[] = {
      [&](Eerr_ErrorReport **e) {
        Eant_AnnotationInfo *copy = eant_AnnotationInfoCopy(info, nullptr, e);
        eant_AnnotationInfoFree(&copy);
        return !*e;
      },
      [&](Eerr_ErrorReport **e) {
        Eant_AnnotationInfo *read = eant_AnnotationInfoRead(file, ":Annotation", nullptr, e);
        const bool whole = read && read->styleLib && eant_ElementListCount(read->elements, nullptr) == 3;
        eant_AnnotationInfoFree(&read);
        return whole && !*e;
      },
  };
  for (const auto &step : steps) {
    taviron::testing::SweepOptions options;
    options.reports = false; // a read may drop an optional part it could not read, without a report
    EXPECT_GT(taviron::testing::SweepAllocationFailures(step, options).heap, 0);
  }
  ehfa_FileClose(file, &err);
  eant_AnnotationInfoFree(&info);
}

} // namespace

namespace {

using namespace taviron::annotation::testing;

int transformCalls = 0;

// Moves the element's box as the transform x + 100, y: the test's stand-in for a type's transform.
void MoveBox(Eant_Element *element, _exfr_XForm *, Eant_CoordSysConversion *from, Eant_CoordSysConversion *to,
             const char *mapUnits, Eant_ProgressInfo *progress, Eerr_ErrorReport **) {
  ++transformCalls;
  EXPECT_TRUE(from && to && from->fakeDrawing && to->fakeDrawing == from->fakeDrawing);
  EXPECT_EQ(std::string("feet"), mapUnits);
  EXPECT_EQ(3, progress->total);
  for (int32_t c = 0; c < 4; ++c) reinterpret_cast<double *>(element->bBox->origin)[2 * c] += 100;
}

TEST_F(AnnotationInfoTest, TransformingTheMapCoordinatesMovesEveryElementAndTheLayerBox) {
  ErrorSlot err;
  Eant_AnnotationInfo *info = Filled();
  static const Eant_ElementFunctions table = [] {
    Eant_ElementFunctions t = TestType::Table();
    t.transformMap = &MoveBox;
    return t;
  }();
  for (Eant_Element *e = info->elements; e; e = e->next) e->functions = &table;
  eant_ComputeAntBoundingBox(info, nullptr, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  _exfr_XForm *transform = exfr_XFormCreateUsingCoeffs(1, 0, 100, 0, 1, 0, &err);
  transformCalls = 0;
  eant_AnnotationInfoTransformMap(info, transform, "feet", nullptr, nullptr, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  EXPECT_EQ(3, transformCalls);
  Evec_Bbox *box = eant_GetAntBoundingBox(info, nullptr, &err);
  ASSERT_NE(nullptr, box) << Chain(err.get());
  EXPECT_EQ(100.0, reinterpret_cast<double *>(box->origin)[0]); // xmin
  EXPECT_EQ(101.0, reinterpret_cast<double *>(box->origin)[2]); // xmax
  evec_BboxDelete(box, nullptr);
  exfr_XFormFree(&transform, nullptr);
  eant_AnnotationInfoTransformMap(nullptr, nullptr, "feet", nullptr, nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eant_AnnotationInfoTransformMap", 1, "Invalid input annotation info"));
  eant_AnnotationInfoFree(&info);
}

} // namespace
