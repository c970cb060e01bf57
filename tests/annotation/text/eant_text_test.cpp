// The text element: made by its keyword list, measured and drawn with the DejaVu faces of the
// FreeType font server, written to a layer and read back, and its geometry (map location, the
// transform baked into the record, hit test, flip).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "annotation_testing.h"
#include "eant_internal.h"
#include "ellm.h"

namespace {

using namespace taviron::annotation::testing;
using taviron::testing::CapturedOutput;
using taviron::testing::ScopedEnv;

Efga_CoordinateBlock *Line(const std::vector<double> &xy) {
  Efga_CoordinateBlock *block = efga_CoordBlockPtrCreate(1, nullptr);
  block->parts[0] = egda_BaseDataCreate(2, static_cast<int32_t>(xy.size() / 2), EGDA_TYPE_F64, EGDA_MATRIX, nullptr,
                                        nullptr);
  std::memcpy(block->parts[0]->origin, xy.data(), xy.size() * sizeof(double));
  return block;
}
std::u16string Take(char16_t *text) {
  std::u16string result = text ? text : u"";
  emsc_HeapFree(text);
  return result;
}
std::string Take(char *text) {
  std::string result = text ? text : "";
  emsc_HeapFree(text);
  return result;
}
Egda_BaseData *Point(double x, double y) {
  Egda_BaseData *m = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  taviron::eant::At(m, 0, 0) = x;
  taviron::eant::At(m, 1, 0) = y;
  return m;
}
void Count(void *, void *data, Eerr_ErrorReport **) { ++*static_cast<int *>(data); }

// A memory image drawn pixel by pixel.
struct Image {
  std::vector<uint32_t> pixels = std::vector<uint32_t>(128 * 128, 0);
  static void Put(void *data, const Eevg_Color *, const double *position, Eerr_ErrorReport **) {
    auto *image = static_cast<Image *>(data);
    const int32_t x = static_cast<int32_t>(position[0]), y = static_cast<int32_t>(position[1]);
    if (x >= 0 && y >= 0 && x < 128 && y < 128) image->pixels[y * 128 + x] = 1;
  }
  long Painted() const { return std::count(pixels.begin(), pixels.end(), 1u); }
};

class TextTest : public PackageTest {
protected:
  // The DejaVu faces, and the default font of text styles ("galaxy.otl", what texts outside a
  // layer are measured with) served by the FreeType server from DejaVu Sans.
  static void SetUpTestSuite() {
    fonts_ = new taviron::testing::TempDir("taviron_text");
    std::filesystem::create_symlink("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", *fonts_ / "galaxy.otl");
    taviron::testing::WriteText(*fonts_ / "galaxy.fdb",
                                "version 3\n\n\"Galaxy\" \"galaxy.otl\" \"galaxy.otl\" \"galaxy\" left_to_right "
                                "\"Galaxy\" \"FreeType\"\n");
    setenv("NORIX_FONT_PATH", (fonts_->str() + ":" TAVIRON_DEJAVU_FDB_DIR).c_str(), 1);
    setenv("NORIX_FONT_SERVERS_PATH", TAVIRON_FREETYPE_SERVERS, 1);
  }
  static void TearDownTestSuite() {
    delete fonts_;
    fonts_ = nullptr;
  }
  static inline taviron::testing::TempDir *fonts_ = nullptr;
  void SetUp() override {
    PackageTest::SetUp();
    ErrorSlot err;
    info_ = eant_AnnotationInfoCreate(toolkit_, &err);
    eant_AnnotationInfoInit(info_, nullptr, nullptr, &err);
    ASSERT_FALSE(err) << Chain(err);
    const int32_t red = eant_ColorAddToLibrary(
        eant_ColorSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_RGB, 255, 0, 0, 0), info_->styleLib, 0, &err);
    const int32_t fill = eant_FillStyleAddToLibrary(
        eant_FillStyleSetValues(toolkit_, info_->styleLib, nullptr, &err, EANT_KEY_FILL, 1, red, 0), info_->styleLib,
        0, &err);
    for (int32_t i = 0; i < 3; ++i)
      style_ = eant_TextStyleAddToLibrary(
          eant_TextStyleSetValues(toolkit_, info_->styleLib, nullptr, &err, EANT_KEY_STYLENAME,
                                  std::to_string(i).c_str(), EANT_KEY_FONTNAME, "DejaVuSans", EANT_KEY_TEXTFILL, fill,
                                  0),
          info_->styleLib, 0, &err);
    ASSERT_FALSE(err) << Chain(err);
    conversion_ = eant_CoordSysConversionSetValues(nullptr, 1, 1, 1, 1, 0, 0, "meters", "meters", &err);
    eant_GetFakeEevgDrawing(info_, nullptr, &err);
    ASSERT_NE(nullptr, info_->fakeDrawing) << Chain(err);
    conversion_->fakeDrawing = info_->fakeDrawing; // for texts outside the layer
  }
  void TearDown() override {
    eant_CoordSysConversionFree(&conversion_);
    eant_AnnotationInfoFree(&info_);
    PackageTest::TearDown();
  }
  int32_t UseCount(int32_t number) {
    return eant_TextStyleLookupInLibrary(info_->styleLib, number, nullptr)->useCount;
  }
  Eant_Text *Record(Eant_Element *element) { return static_cast<Eant_Text *>(element->info); }
  // An anchored text in map units.
  Eant_Element *Anchored(Eant_AnnotationInfo *info, const char16_t *text, double x, double y, double height,
                         double angle = 0.0) {
    ErrorSlot err;
    Eant_Element *element = eant_TextElementSetValues(
        info, nullptr, conversion_, &err, EANT_ELEMKEY_SCALEUNITS, EEVG_MAP, "meters", EANT_ELEMKEY_POSITIONUNITS,
        EEVG_MAP, "meters", EANT_ELEMKEY_UCTEXT, EANT_LOCAL, text, EANT_ELEMKEY_TEXTSTYLE, style_,
        EANT_ELEMKEY_TEXTORIGIN, x, y, EANT_ELEMKEY_TEXTORIENTATION, angle, EANT_ELEMKEY_TEXTSCALE, height,
        EANT_ELEMKEY_END);
    EXPECT_NE(nullptr, element) << Chain(err);
    return element;
  }
  Eant_Element *AlongLine(Eant_AnnotationInfo *info, const char16_t *text, const std::vector<double> &xy,
                          double height) {
    ErrorSlot err;
    Efga_CoordinateBlock *block = Line(xy);
    Eant_Element *element = eant_TextElementSetValues(
        info, nullptr, conversion_, &err, EANT_ELEMKEY_SCALEUNITS, EEVG_MAP, "meters", EANT_ELEMKEY_POSITIONUNITS,
        EEVG_MAP, "meters", EANT_ELEMKEY_UCTEXT, EANT_LOCAL, text, EANT_ELEMKEY_TEXTSTYLE, style_,
        EANT_ELEMKEY_TEXTCOORDS, EANT_LOCAL, block, EANT_ELEMKEY_TEXTSCALE, height, EANT_ELEMKEY_END);
    efga_CoordBlockDelete(block, nullptr);
    EXPECT_NE(nullptr, element) << Chain(err);
    return element;
  }
  void Add(Eant_Element *element) {
    info_->elements = static_cast<Eant_Element *>(ellm_Add(info_->elements, ELLM_APPEND, element));
  }
  // The layer drawn into a 128 x 128 image of the world (0, 0) - (127, 127).
  Image Draw(Eant_AnnotationInfo *info) {
    ErrorSlot err;
    Image image;
    Eevg_GrIOInfo device{};
    device.userData = &image;
    device.putPixel = &Image::Put;
    Eevg_DeviceInfo description{};
    description.width = description.height = 128;
    description.lineWidthUnit = 3;
    description.colorMode = EEVG_TRUECOLOR;
    Eevg_Coord lowerLeft{0, 0}, upperRight{127, 127};
    Eevg_WorldInfo world{&lowerLeft, &upperRight};
    Eevg_Drawing *drawing = eevg_DrawingInit(eevg_Init(&err), &description, &world, &device, &err);
    EXPECT_NE(nullptr, drawing) << Chain(err);
    if (!drawing) return image;
    eant_AnnotationRender(info, nullptr, conversion_, drawing, &err);
    EXPECT_FALSE(err) << Chain(err);
    eevg_DrawingFree(&drawing, &err);
    return image;
  }

  Eant_AnnotationInfo *info_ = nullptr;
  Eant_CoordSysConversion *conversion_ = nullptr;
  int32_t style_ = -1;
};

TEST_F(TextTest, TheFactoryPlacesTheTextCountsItsStyleAndFiresOneCallbackOfEach) {
  ErrorSlot err;
  int moved = 0, modified = 0;
  eant_AddElementMovedCallback(info_, &Count, &moved, &err);
  eant_AddElementModifiedCallback(info_, &Count, &modified, &err);
  const int32_t before = UseCount(2);
  Eant_Element *element = eant_TextElementSetValues(
      info_, nullptr, conversion_, &err, EANT_ELEMKEY_SCALEUNITS, EEVG_MAP, "meters", EANT_ELEMKEY_POSITIONUNITS,
      EEVG_MAP, "meters", EANT_ELEMKEY_UCTEXT, EANT_LOCAL, u"Name: \xFFAB" u"OWNER\xFFBB", EANT_ELEMKEY_TEXTSTYLE, 2,
      EANT_ELEMKEY_TEXTORIGIN, 30.0, 40.0, EANT_ELEMKEY_TEXTSCALE, 12.0, EANT_ELEMKEY_END);
  ASSERT_NE(nullptr, element) << Chain(err);
  Eant_Text *text = Record(element);
  ASSERT_NE(nullptr, text->origin);
  EXPECT_DOUBLE_EQ(30.0, text->origin->x);
  EXPECT_DOUBLE_EQ(40.0, text->origin->y);
  EXPECT_DOUBLE_EQ(12.0, text->scale);
  EXPECT_EQ(2, text->textStyle);
  EXPECT_EQ(before + 1, UseCount(2));
  EXPECT_EQ(nullptr, text->text->metaStringList) << "a layer's text is parsed by the layer's check";
  ASSERT_NE(nullptr, element->bBox);
  EXPECT_EQ(1, moved);
  EXPECT_EQ(1, modified);
  EXPECT_EQ(1, eant_ElementCheckForSmartData(element, &err));
  eant_ElementFreeElement(&element);

  // Without the units the origin cannot be read through the conversion: the element made is freed.
  const int64_t live = emsc_TestLiveBlocks();
  EXPECT_EQ(nullptr, eant_TextElementSetValues(info_, nullptr, conversion_, &err, EANT_ELEMKEY_UCTEXT, EANT_LOCAL,
                                               u"x", EANT_ELEMKEY_TEXTSTYLE, 2, EANT_ELEMKEY_TEXTORIGIN, 30.0, 40.0,
                                               EANT_ELEMKEY_TEXTSCALE, 12.0, EANT_ELEMKEY_END));
  EXPECT_TRUE(Reported(err, "eant_TextElementSetValues", 11, nullptr)) << Chain(err);
  bool found = false;
  for (const Eerr_ErrorReport *r = err.get(); r; r = r->next)
    found = found || (r->message && std::string(r->message) == "Invalid input coordinate definition");
  EXPECT_TRUE(found) << Chain(err);
  EXPECT_EQ(live, emsc_TestLiveBlocks());

  // Without an annotation info the text is parsed at once and no callback fires.
  Eant_Element *alone = Anchored(nullptr, u"a\xFFAB" u"b\xFFBB", 1, 2, 3);
  ASSERT_NE(nullptr, alone);
  EXPECT_NE(nullptr, Record(alone)->text->metaStringList);
  EXPECT_EQ(1, modified);
  eant_ElementFreeElement(&alone);
}

TEST_F(TextTest, KeywordsSettersAndGetters) {
  ErrorSlot err;
  Eant_Element *element = Anchored(nullptr, u"smile \u263A", 10, 20, 4);
  ASSERT_NE(nullptr, element);
  // Other types' keywords are refused with the text's message; alignment is set by its keyword.
  EXPECT_EQ(element, eant_TextElementSetValues(nullptr, element, conversion_, &err, EANT_ELEMKEY_TEXTALIGNMENT,
                                               EEVG_LEFT, EEVG_BOTTOM, EANT_ELEMKEY_LINESTYLE, 1, EANT_ELEMKEY_END));
  EXPECT_TRUE(Reported(err, "eant_TextElementSetValues", 17, "Invalid keyword option for text element"));
  Eevg_Align *align = eant_TextElementGetAlignment(element, &err);
  ASSERT_NE(nullptr, align);
  EXPECT_EQ(EEVG_LEFT, align->xalign);
  EXPECT_EQ(EEVG_BOTTOM, align->yalign);
  eevg_AlignFree(&align);
  EXPECT_EQ("unicode string", Take(eant_TextGetTextString(element, &err)));
  EXPECT_EQ(u"smile \u263A", Take(eant_TextGetUCTextString(element, &err)));
  EXPECT_EQ(0, eant_TextElementCanBeFlipped(element, &err));
  EXPECT_FALSE(err);
  EXPECT_EQ("Text", Take(const_cast<char *>(eant_TextElementGetTypeString(element, &err))));
  Record(element)->flags = 7;
  Eant_Element *copy = eant_TextElementCopy(element, nullptr, &err);
  ASSERT_NE(nullptr, copy) << Chain(err);
  EXPECT_EQ(0u, Record(copy)->flags);
  EXPECT_EQ(u"smile \u263A", Take(eant_TextGetUCTextString(copy, &err)));
  eant_TextElementSetValues(nullptr, copy, conversion_, &err, EANT_ELEMKEY_TEXT, EANT_LOCAL, "plain", EANT_ELEMKEY_END);
  EXPECT_EQ("plain", Take(eant_TextGetTextString(copy, &err)));

  Eant_Element polyline{};
  polyline.elmType = EANT_POLYLINE;
  EXPECT_EQ(-1, eant_TextElementGetStyle(&polyline, &err));
  EXPECT_TRUE(Reported(err, "eant_TextElementGetStyle", 2, "Input element is not text"));
  EXPECT_EQ(nullptr, eant_TextGetUCTextString(&polyline, &err));
  EXPECT_TRUE(Reported(err, "eant_TextGetTextString", 2, "Input element is not text"));
  eant_ElementFreeElement(&copy);
  eant_ElementFreeElement(&element);
}

TEST_F(TextTest, TextsOfBothStoredFormsReadBackEqualAndDrawTheSame) {
  Add(Anchored(info_, u"Plain caf\u00E9", 10, 90, 14));
  Add(AlongLine(info_, u"smile \u263A", {10, 20, 60, 40, 120, 20}, 12));
  eant_TextElementSetAlignment(info_->elements, EEVG_LEFT, EEVG_BOTTOM, nullptr);
  eant_TextElementSetAlignment(info_->elements->next, EEVG_FULL, EEVG_BOTTOM, nullptr); // spread along its line
  const Image before = Draw(info_);
  EXPECT_GT(before.Painted(), 100) << "the texts are drawn";

  ErrorSlot err;
  Ehfa_File *file = ehfa_FileCreate(Path("layer.ovr").c_str(), toolkit_, &err);
  ASSERT_NE(nullptr, file) << Chain(err);
  eant_AnnotationInfoWrite(file, ":", "Annotation", info_, &err);
  ASSERT_FALSE(err) << Chain(err);
  ehfa_FileClose(file, &err);
  file = ehfa_FileOpen(Path("layer.ovr").c_str(), "r", toolkit_, &err);
  Eant_AnnotationInfo *read = eant_AnnotationInfoRead(file, ":Annotation", nullptr, &err);
  ASSERT_NE(nullptr, read) << Chain(err);
  ehfa_FileClose(file, &err);
  ASSERT_EQ(2, eant_ElementListCount(read->elements, &err));
  for (Eant_Element *a = info_->elements, *b = read->elements; a && b; a = a->next, b = b->next) {
    EXPECT_EQ(b->functions, a->functions);
    const Eant_Text *x = Record(a), *y = Record(b);
    EXPECT_EQ(Take(eant_TextGetUCTextString(a, &err)), Take(eant_TextGetUCTextString(b, &err)));
    EXPECT_EQ(x->textStyle, y->textStyle);
    EXPECT_EQ(x->scale, y->scale);
    EXPECT_EQ(x->orientation, y->orientation);
    EXPECT_EQ(!x->origin, !y->origin);
    if (x->origin && y->origin) {
      EXPECT_EQ(x->origin->x, y->origin->x);
    }
    EXPECT_EQ(!x->coords, !y->coords);
    EXPECT_EQ(!x->alignment, !y->alignment);
    if (x->alignment && y->alignment) {
      EXPECT_EQ(x->alignment->xalign, y->alignment->xalign);
      EXPECT_EQ(x->alignment->yalign, y->alignment->yalign);
    }
  }
  EXPECT_EQ(before.pixels, Draw(read).pixels);
  eant_AnnotationInfoFree(&read);
}

TEST_F(TextTest, ReadingTakesTheDesignOfTheLayerVersionAndMayParseAtOnce) {
  Add(AlongLine(info_, u"a \xFFAB" u"b\xFFBB", {0, 0, 50, 10}, 5));
  Record(info_->elements)->flags = 5;
  ErrorSlot err;
  Ehfa_File *file = ehfa_FileCreate(Path("layer.ovr").c_str(), toolkit_, &err);
  ASSERT_NE(nullptr, file) << Chain(err);
  Eant_FileIO io{file, EANT_ANNOTATION_VERSION, 0, 0, 0};
  eant_ElementNodeAndListWrite(&io, nullptr, EANT_ELEMENTLIST, "layer", info_->elements, &err);
  ASSERT_FALSE(err) << Chain(err);
  const std::string path = ":ElementList:AntElement_" + std::to_string(info_->elements->id);
  ASSERT_NE(nullptr, ehfa_EntrySeek(file, EHFA_PATH, path.c_str(), &err)) << Chain(err);
  Eant_FileIO newer{file, 5, 0, 0, 0};
  EXPECT_EQ(nullptr, eant_TextRead(&newer, nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_TextRead", 4, "Invalid annotation layer version number 5"));
  // The current design, not parsed; then with the parse word set, parsed as it is read.
  Eant_Text *record = eant_TextRead(&io, nullptr, &err);
  ASSERT_NE(nullptr, record) << Chain(err);
  EXPECT_EQ(0u, record->flags) << "flags are not taken from the file";
  ASSERT_NE(nullptr, record->coords);
  EXPECT_EQ(nullptr, record->text->metaStringList);
  eant_TextFree(&record);
  Eant_FileIO parsing{file, EANT_ANNOTATION_VERSION, 1, 0, 0};
  ehfa_EntrySeek(file, EHFA_PARENT, nullptr, &err);
  record = eant_TextRead(&parsing, nullptr, &err);
  ASSERT_NE(nullptr, record) << Chain(err);
  EXPECT_NE(nullptr, record->text->metaStringList);
  eant_TextFree(&record);
  // Version 1: the old design, without coordinates.
  ehfa_EntrySeek(file, EHFA_PARENT, nullptr, &err);
  Eant_FileIO older{file, 1, 0, 0, 0};
  record = eant_TextRead(&older, nullptr, &err);
  ASSERT_NE(nullptr, record) << Chain(err);
  EXPECT_EQ(nullptr, record->coords);
  EXPECT_DOUBLE_EQ(5, record->scale);
  eant_TextFree(&record);
  ehfa_FileClose(file, &err);
}

TEST_F(TextTest, CopyAndReaderLeaveNothingBehindWhenMemoryRunsOut) {
  using taviron::testing::SweepAllocationFailures;
  Add(AlongLine(info_, u"smile \u263A", {0, 0, 50, 10}, 5));
  Add(Anchored(info_, u"a \xFFAB" u"b\xFFBB", 10, 20, 4));
  eant_TextElementSetAlignment(info_->elements->next, EEVG_LEFT, EEVG_TOP, nullptr);
  Eant_Element *copy = nullptr;
  const auto copyRuns = SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) { return (copy = eant_TextElementCopy(info_->elements->next, nullptr, e)); },
      [&] { eant_ElementFreeElement(&copy); });
  EXPECT_GT(copyRuns.heap, 5);

  ErrorSlot err;
  Ehfa_File *file = ehfa_FileCreate(Path("layer.ovr").c_str(), toolkit_, &err);
  ASSERT_NE(nullptr, file) << Chain(err);
  Eant_FileIO io{file, EANT_ANNOTATION_VERSION, 1, 0, 0};
  eant_ElementNodeAndListWrite(&io, nullptr, EANT_ELEMENTLIST, "layer", info_->elements, &err);
  ASSERT_FALSE(err) << Chain(err);
  Eant_Element *read = nullptr;
  taviron::testing::SweepOptions options;
  options.prepare = [&] { ehfa_EntrySeek(file, EHFA_PATH, ":", nullptr); };
  const auto readRuns = SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) {
        read = eant_ElementListRead(info_, &io, ":ElementList", EHFA_CHILD_OF, e);
        if (read && *e) eant_ElementListFree(&read);
        return read != nullptr && !*e;
      },
      [&] { eant_ElementListFree(&read); }, options);
  EXPECT_GT(readRuns.heap, 10);
  ehfa_FileClose(file, &err);
}

TEST_F(TextTest, TheCoordinateDumpIsPrintedOnlyWhenAskedFor) {
  Add(Anchored(info_, u"Hi", 40, 60, 20));
  {
    CapturedOutput out;
    Draw(info_);
    EXPECT_EQ("", out.Out());
  }
  ScopedEnv debug("NORIX_TEXT_COORDINATE_DEBUG", "1");
  CapturedOutput out;
  Draw(info_);
  EXPECT_NE(std::string::npos, out.Out().find("TextBoundRect: UL(")) << out.Out();
  EXPECT_NE(std::string::npos, out.Out().find("TextPositions: <Hi>\n               0(H)=(")) << out.Out();
}

TEST_F(TextTest, TheTransformFoldsIntoOriginAngleAndHeight) {
  ErrorSlot err;
  Eant_Element *element = Anchored(nullptr, u"x", 10, 20, 4, 0.5);
  ASSERT_NE(nullptr, element);
  double angle = 0, height = 0;
  Eevg_Coord *origin = eant_GetTextMapLocationData(element, nullptr, conversion_, &angle, &height, &err);
  ASSERT_NE(nullptr, origin) << Chain(err);
  EXPECT_DOUBLE_EQ(10, origin->x);
  EXPECT_DOUBLE_EQ(20, origin->y);
  EXPECT_NEAR(0.5, angle, 1e-12);
  EXPECT_NEAR(4, height, 1e-12);
  eevg_CoordFree(&origin);

  // A transform doubling sizes about the map's origin doubles the height and moves the origin.
  Efga_Polynomial *twice = eant_ScalePolynomialCreate(nullptr, 2, 2, &err);
  eant_TextElementSetValues(nullptr, element, conversion_, &err, EANT_ELEMKEY_XFORMMATRIX, twice, EANT_ELEMKEY_END);
  efga_PolynomialDelete(twice, nullptr);
  origin = eant_GetTextMapLocationData(element, nullptr, conversion_, &angle, &height, &err);
  ASSERT_NE(nullptr, origin) << Chain(err);
  EXPECT_NEAR(20, origin->x, 1e-9);
  EXPECT_NEAR(40, origin->y, 1e-9);
  EXPECT_NEAR(8, height, 1e-9);
  eevg_CoordFree(&origin);

  // Setting the orientation bakes the transform into the record.
  eant_TextElementSetOrientation(element, 1.0, conversion_, &err);
  ASSERT_FALSE(err) << Chain(err);
  const Eant_Text *text = Record(element);
  EXPECT_NEAR(20, text->origin->x, 1e-9);
  EXPECT_NEAR(8, text->scale, 1e-9);
  EXPECT_DOUBLE_EQ(1.0, text->orientation);
  EXPECT_TRUE(!element->xformMatrix || taviron::eant::At(element->xformMatrix->coefficients, 0, 0) == 1.0);

  // Coordinates remove the origin and the orientation.
  Efga_CoordinateBlock *block = Line({0, 0, 50, 0});
  eant_TextElementSetCoords(element, EANT_LOCAL, block, conversion_, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ(nullptr, text->origin);
  EXPECT_EQ(0.0, text->orientation);
  ASSERT_NE(nullptr, text->coords);
  efga_CoordBlockDelete(block, nullptr);
  eant_ElementFreeElement(&element);
}

TEST_F(TextTest, ReprojectionMovesOnlyTextsPlacedInMapUnitsAndConversionBakesTheTransform) {
  ErrorSlot err;
  Eant_Element *map = Anchored(nullptr, u"map", 10, 20, 4);
  Eant_Element *paper = eant_TextElementSetValues(
      nullptr, nullptr, conversion_, &err, EANT_ELEMKEY_SCALEUNITS, EEVG_OUTPUT, "meters", EANT_ELEMKEY_POSITIONUNITS,
      EEVG_OUTPUT, "meters", EANT_ELEMKEY_UCTEXT, EANT_LOCAL, u"paper", EANT_ELEMKEY_TEXTORIGIN, 10.0, 20.0,
      EANT_ELEMKEY_TEXTSCALE, 4.0, EANT_ELEMKEY_END);
  ASSERT_TRUE(map && paper) << Chain(err);
  Efga_Polynomial *shift = eant_TranslatePolynomialCreate(nullptr, 100, 50, &err);
  _exfr_XForm *xform = exfr_XFormCreate(shift, 0, &err);
  for (Eant_Element *e : {map, paper}) {
    eant_TextElementTransformMap(e, xform, conversion_, conversion_, "feet", nullptr, &err);
    ASSERT_FALSE(err) << Chain(err);
  }
  EXPECT_DOUBLE_EQ(110, Record(map)->origin->x);
  EXPECT_DOUBLE_EQ(70, Record(map)->origin->y);
  EXPECT_NEAR(4, Record(map)->scale, 1e-9);
  EXPECT_STREQ("feet", map->positionUnits->units.data);
  EXPECT_DOUBLE_EQ(10, Record(paper)->origin->x) << "a text in output units stays";

  // The transform of an element is baked into its record by the update, and by the conversion to
  // map units, which also puts the units into map coordinates.
  eant_TextElementSetValues(nullptr, paper, conversion_, &err, EANT_ELEMKEY_XFORMMATRIX, shift, EANT_ELEMKEY_END);
  eant_TextElementUpdateInfo(paper, conversion_, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_NEAR(110, Record(paper)->origin->x, 1e-9);
  eant_TextElementSetValues(nullptr, paper, conversion_, &err, EANT_ELEMKEY_XFORMMATRIX, shift, EANT_ELEMKEY_END);
  eant_TextElementConvertToMap(paper, conversion_, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ(EEVG_MAP, paper->positionUnits->coordSys);
  EXPECT_EQ(EEVG_MAP, paper->scaleUnits->coordSys);
  double angle = 0, height = 0;
  Eevg_Coord *origin = eant_GetTextMapLocationData(paper, nullptr, conversion_, &angle, &height, &err);
  ASSERT_NE(nullptr, origin) << Chain(err);
  EXPECT_NEAR(210, origin->x, 1e-9);
  eevg_CoordFree(&origin);
  exfr_XFormFree(&xform, nullptr);
  efga_PolynomialDelete(shift, nullptr);
  eant_ElementFreeElement(&map);
  eant_ElementFreeElement(&paper);
}

TEST_F(TextTest, APolylineTextIsHitWithinOneHeightOfItsLine) {
  ErrorSlot err;
  Eant_Element *element = AlongLine(nullptr, u"along the road", {0, 50, 100, 50}, 10);
  ASSERT_NE(nullptr, element);
  struct Case {
    double x, y;
    int32_t hit;
  } cases[] = {{20, 52, 1}, {20, 200, 0}, {500, 50, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.y);
    Egda_BaseData *point = Point(c.x, c.y);
    EXPECT_EQ(c.hit, eant_CoordInTextElement(toolkit_, nullptr, nullptr, nullptr, element, nullptr, conversion_, point,
                                             &err))
        << Chain(err);
    egda_BaseDataDelete(point, nullptr);
  }
  eant_ElementFreeElement(&element);
}

TEST_F(TextTest, FlippingMirrorsTheAnchorAndTheAlignment) {
  ErrorSlot err;
  Eant_Element *element = Anchored(nullptr, u"x", 10, 20, 4);
  eant_TextElementSetAlignment(element, EEVG_LEFT, EEVG_TOP, &err);
  Efga_Polynomial *mirror = eant_ScalePolynomialCreate(nullptr, -1, 1, &err);
  int32_t flip[3] = {1, 0, 1};
  eant_TextElementFlip(nullptr, element, conversion_, flip, mirror, &err);
  ASSERT_FALSE(err) << Chain(err);
  const Eant_Text *text = Record(element);
  EXPECT_DOUBLE_EQ(-10, text->origin->x);
  EXPECT_EQ(EEVG_RIGHT, text->alignment->xalign);
  EXPECT_EQ(EEVG_TOP, text->alignment->yalign);

  // A polyline text flipped with mode 2 and second word 1 has its points reversed.
  Eant_Element *along = AlongLine(nullptr, u"x", {0, 0, 10, 0, 20, 5}, 3);
  int32_t reverse[3] = {0, 1, 2};
  eant_TextElementFlip(nullptr, along, conversion_, reverse, mirror, &err);
  ASSERT_FALSE(err) << Chain(err);
  const Egda_BaseData *part = Record(along)->coords->coords->parts[0];
  EXPECT_DOUBLE_EQ(-20, taviron::eant::At(part, 0, 0));
  EXPECT_DOUBLE_EQ(0, taviron::eant::At(part, 0, 2));

  eant_TextElementFlip(nullptr, element, conversion_, nullptr, mirror, &err);
  EXPECT_TRUE(Reported(err, "eant_TextElementFlip", 1, "Invalid input flipData"));
  efga_PolynomialDelete(mirror, nullptr);
  eant_ElementFreeElement(&along);
  eant_ElementFreeElement(&element);
}

} // namespace
