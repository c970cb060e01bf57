// The vertex elements: vector data, and the polyline, polygon and point elements made by their
// keyword lists, copied, drawn, written to a layer file and read back.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "annotation_testing.h"
#include "eant_internal.h"
#include "ellm.h"

namespace {

using namespace taviron::annotation::testing;
using taviron::testing::CapturedOutput;

// A block of parts given as x, y pairs.
Efga_CoordinateBlock *Block(const std::vector<std::vector<double>> &parts) {
  Efga_CoordinateBlock *block = efga_CoordBlockPtrCreate(static_cast<int32_t>(parts.size()), nullptr);
  for (std::size_t p = 0; p < parts.size(); ++p) {
    const int32_t n = static_cast<int32_t>(parts[p].size() / 2);
    Egda_BaseData *m = egda_BaseDataCreate(2, n, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
    std::memcpy(m->origin, parts[p].data(), parts[p].size() * sizeof(double));
    block->parts[p] = m;
  }
  return block;
}
std::vector<std::vector<double>> Parts(const Efga_CoordinateBlock *block) {
  std::vector<std::vector<double>> parts;
  for (int32_t p = 0; block && p < block->count; ++p) {
    const Egda_BaseData *m = block->parts[p];
    const auto *v = reinterpret_cast<const double *>(m->origin);
    parts.emplace_back(v, v + 2 * m->columns);
  }
  return parts;
}

// A memory image drawn pixel by pixel.
struct Image {
  int32_t width = 64, height = 64;
  std::vector<uint32_t> pixels = std::vector<uint32_t>(64 * 64, 0);
  static void Put(void *data, const Eevg_Color *color, const double *position, Eerr_ErrorReport **) {
    auto *image = static_cast<Image *>(data);
    const int32_t x = static_cast<int32_t>(position[0]), y = static_cast<int32_t>(position[1]);
    if (x < 0 || y < 0 || x >= image->width || y >= image->height) return;
    image->pixels[y * image->width + x] = 0xff000000u | (color->red << 16) | (color->green << 8) | color->blue;
  }
};

void Count(void *, void *data, Eerr_ErrorReport **) { ++*static_cast<int *>(data); }

class VertexTest : public PackageTest {
protected:
  void SetUp() override {
    PackageTest::SetUp();
    ErrorSlot err;
    info_ = eant_AnnotationInfoCreate(toolkit_, &err);
    eant_AnnotationInfoInit(info_, nullptr, nullptr, &err);
    ASSERT_FALSE(err) << Chain(err.get());
    // Line styles 1 to 3 (red lines of widths 1 to 3 map units), a red fill without outline and
    // one with outline style 3.
    const int32_t red = eant_ColorAddToLibrary(
        eant_ColorSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_RGB, 255, 0, 0, 0), info_->styleLib, 0, &err);
    for (int32_t width = 1; width <= 3; ++width)
      eant_LineStyleAddToLibrary(eant_LineStyleSetValues(toolkit_, info_->styleLib, nullptr, &err,
                                                         EANT_KEY_STYLENAME, std::to_string(width).c_str(),
                                                         EANT_KEY_STYLEUNITS, EEVG_MAP, "meters", EANT_KEY_OVERLINE,
                                                         0, static_cast<double>(width), red, 0),
                                 info_->styleLib, 0, &err);
    plainFill_ = eant_FillStyleAddToLibrary(
        eant_FillStyleSetValues(toolkit_, info_->styleLib, nullptr, &err, EANT_KEY_FILL, 1, red, 0), info_->styleLib,
        0, &err);
    ASSERT_FALSE(err) << Chain(err.get());
    conversion_ = eant_CoordSysConversionSetValues(nullptr, 1, 1, 1, 1, 0, 0, "meters", "meters", &err);
    ASSERT_NE(nullptr, conversion_);
    live_ = emsc_TestLiveBlocks();
  }
  void TearDown() override {
    eant_CoordSysConversionFree(&conversion_);
    eant_AnnotationInfoFree(&info_);
    PackageTest::TearDown();
  }
  int32_t UseCount(int32_t number) {
    return eant_LineStyleLookupInLibrary(info_->styleLib, number, nullptr)->useCount;
  }

  Eant_AnnotationInfo *info_ = nullptr;
  Eant_CoordSysConversion *conversion_ = nullptr;
  int32_t plainFill_ = -1;
};

// ---- Vector data ----

TEST_F(VertexTest, VectorDataRefusesNonLocalSourcesWithTheCodeOfEachOperation) {
  Efga_CoordinateBlock *block = Block({{0, 0, 1, 1}});
  struct Case {
    int32_t source;
    int32_t print, set, get, copy, toPrivate;
  } cases[] = {{EANT_VECTORDATA, 2, 3, 3, 4, 4}, {7, 3, 4, 4, 5, 5}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.source);
    ErrorSlot err;
    Eant_VectorData data{c.source, nullptr, 0};
    CapturedOutput out;
    eant_VectorDataPrint(&data, &err);
    EXPECT_TRUE(Reported(err.get(), "eant_VectorDataPrint", c.print, nullptr)) << Chain(err.get());
    eant_VectorDataSet(&data, c.source, block, &err);
    EXPECT_TRUE(Reported(err.get(), "eant_VectorDataSet", c.set, nullptr)) << Chain(err.get());
    EXPECT_EQ(nullptr, data.coords);
    EXPECT_EQ(block, eant_VectorDataGet(&data, nullptr, block, &err));
    EXPECT_TRUE(Reported(err.get(), "eant_VectorDataGet", c.get, nullptr));
    Eant_VectorData *copy = eant_VectorDataCopy(&data, nullptr, &err);
    EXPECT_TRUE(Reported(err.get(), "eant_VectorDataCopy", c.copy, nullptr));
    eant_VectorDataFree(&copy);
    EXPECT_EQ(nullptr, eant_VectorDataCopyToPrivate(&data, &err));
    EXPECT_TRUE(Reported(err.get(), "eant_VectorDataCopyToPrivate", c.toPrivate, nullptr));
  }
  efga_CoordBlockDelete(block, nullptr);
}

TEST_F(VertexTest, VectorDataGetsCopiesSetsCopiesAndCopiesWithoutSmooth) {
  ErrorSlot err;
  Eant_VectorData *data = eant_VectorDataCreate(&err);
  ASSERT_NE(nullptr, data);
  EXPECT_EQ(nullptr, eant_VectorDataGet(data, nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_VectorDataGet", 2, "Local coords do not exist"));
  const std::vector<std::vector<double>> parts = {{0, 0, 1, 1, 2, 0}, {5, 5, 6, 6, 7, 5, 8, 8, 9, 9}};
  Efga_CoordinateBlock *block = Block(parts);
  eant_VectorDataSet(data, EANT_LOCAL, block, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  efga_CoordBlockDelete(block, nullptr); // the record holds its own copy
  Efga_CoordinateBlock *got = eant_VectorDataGet(data, nullptr, nullptr, &err);
  ASSERT_NE(nullptr, got) << Chain(err.get());
  EXPECT_NE(got, data->coords);
  EXPECT_EQ(parts, Parts(got));
  efga_CoordBlockDelete(got, nullptr);

  data->smooth = 1;
  Eant_VectorData *copy = eant_VectorDataCopy(data, nullptr, &err);
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(parts, Parts(copy->coords));
  EXPECT_EQ(0, copy->smooth);
  // A source without coordinates leaves the copy without any.
  Eant_VectorData empty{EANT_LOCAL, nullptr, 0};
  EXPECT_EQ(copy, eant_VectorDataCopy(&empty, copy, &err));
  EXPECT_EQ(nullptr, copy->coords);

  CapturedOutput out;
  eant_VectorDataPrint(&empty, &err);
  EXPECT_EQ("Coordinates:\n", out.Out());
  eant_VectorDataFree(&copy);
  eant_VectorDataFree(&data);
  EXPECT_EQ(nullptr, data);
  EXPECT_TRUE(HeapAsAtStart());
}

// ---- The polyline factory ----

TEST_F(VertexTest, PolylineFactoryMakesAnElementWithACopyTheStyleABoxAndOneCallbackOfEach) {
  ErrorSlot err;
  int moved = 0, modified = 0;
  eant_AddElementMovedCallback(info_, &Count, &moved, &err);
  eant_AddElementModifiedCallback(info_, &Count, &modified, &err);
  Efga_CoordinateBlock *block = Block({{0, 0, 10, 0, 10, 5}});
  const int32_t before = UseCount(3);
  Eant_Element *element = eant_PolylineElementSetValues(info_, nullptr, conversion_, &err,
                                                        EANT_ELEMKEY_POLYLINECOORDS, EANT_LOCAL, block,
                                                        EANT_ELEMKEY_LINESTYLE, 3, EANT_ELEMKEY_END);
  ASSERT_NE(nullptr, element) << Chain(err.get());
  EXPECT_EQ(EANT_POLYLINE, element->elmType);
  auto *record = static_cast<Eant_Polyline *>(element->info);
  EXPECT_EQ(3, record->lineStyle);
  EXPECT_EQ(before + 1, UseCount(3));
  EXPECT_NE(block, record->coords->coords);
  EXPECT_EQ(Parts(block), Parts(record->coords->coords));
  ASSERT_NE(nullptr, element->bBox);
  const auto *corners = reinterpret_cast<const double *>(element->bBox->origin);
  EXPECT_LE(corners[0], -1.5); // grown by half the width of 3 at least
  EXPECT_EQ(1, moved);
  EXPECT_EQ(1, modified);

  // A name alone fires only the modified callbacks and keeps the box.
  eant_PolylineElementSetValues(info_, element, conversion_, &err, EANT_ELEMKEY_NAME, "road", EANT_ELEMKEY_END);
  EXPECT_FALSE(err) << Chain(err.get());
  EXPECT_EQ(1, moved);
  EXPECT_EQ(2, modified);

  // An unknown keyword: a created element is freed, a given one keeps what came before.
  const int64_t live = emsc_TestLiveBlocks();
  EXPECT_EQ(nullptr, eant_PolylineElementSetValues(info_, nullptr, conversion_, &err, EANT_ELEMKEY_POLYLINECOORDS,
                                                   EANT_LOCAL, block, EANT_ELEMKEY_LINESTYLE, 3, 99,
                                                   EANT_ELEMKEY_END));
  EXPECT_TRUE(Reported(err.get(), "eant_PolylineElementSetValues", 12, "Invalid keyword option for polyline element"));
  EXPECT_EQ(live, emsc_TestLiveBlocks());
  EXPECT_EQ(element, eant_PolylineElementSetValues(info_, element, conversion_, &err, EANT_ELEMKEY_LINESTYLE, 2,
                                                   EANT_ELEMKEY_POINTCOORD, EANT_LOCAL, block, EANT_ELEMKEY_END));
  EXPECT_TRUE(Reported(err.get(), "eant_PolylineElementSetValues", 12, nullptr));
  EXPECT_EQ(2, record->lineStyle);

  // Without an annotation info nothing is counted and no callback fires.
  const int32_t count = UseCount(1);
  Eant_Element *alone = eant_PolylineElementSetValues(nullptr, nullptr, conversion_, &err, EANT_ELEMKEY_LINESTYLE, 1,
                                                      EANT_ELEMKEY_POLYLINECOORDS, EANT_LOCAL, block,
                                                      EANT_ELEMKEY_END);
  ASSERT_NE(nullptr, alone) << Chain(err.get());
  EXPECT_EQ(count, UseCount(1));
  EXPECT_EQ(2, modified);
  eant_ElementFreeElement(&alone);
  eant_ElementFreeElement(&element);
  efga_CoordBlockDelete(block, nullptr);
}

TEST_F(VertexTest, EachTypeRefusesTheKeywordsOfTheOthersWithItsOwnMessage) {
  Efga_CoordinateBlock *block = Block({{0, 0, 1, 1}});
  ErrorSlot err;
  EXPECT_EQ(nullptr, eant_PolygonElementSetValues(info_, nullptr, conversion_, &err, EANT_ELEMKEY_LINESTYLE, 1,
                                                  EANT_ELEMKEY_END));
  EXPECT_TRUE(Reported(err.get(), "eant_PolygonElementSetValues", 12, "Invalid keyword option for polygon element"));
  EXPECT_EQ(nullptr, eant_PointElementSetValues(info_, nullptr, conversion_, &err, EANT_ELEMKEY_POLYLINECOORDS,
                                                EANT_LOCAL, block, EANT_ELEMKEY_END));
  EXPECT_TRUE(Reported(err.get(), "eant_PointElementSetValues", 12, "Invalid keyword option for point element"));
  Eant_Element *point = eant_PointElementCreate(info_, &err);
  EXPECT_EQ(point, eant_PolylineElementSetValues(info_, point, conversion_, &err, EANT_ELEMKEY_END));
  EXPECT_TRUE(Reported(err.get(), "eant_PolylineElementSetValues", 2, "Input element is not polyline"));
  eant_ElementFreeElement(&point);
  efga_CoordBlockDelete(block, nullptr);
  EXPECT_TRUE(HeapAsAtStart());
}

// ---- Copies ----

TEST_F(VertexTest, CopyRefusesADestinationLinkedIntoAListAndCarriesNoFlags) {
  ErrorSlot err;
  Efga_CoordinateBlock *block = Block({{0, 0, 4, 4}});
  Eant_Element *source = eant_PolylineElementSetValues(info_, nullptr, conversion_, &err, EANT_ELEMKEY_LINESTYLE, 1,
                                                       EANT_ELEMKEY_POLYLINECOORDS, EANT_LOCAL, block,
                                                       EANT_ELEMKEY_END);
  ASSERT_NE(nullptr, source) << Chain(err.get());
  static_cast<Eant_Polyline *>(source->info)->flags = 7;
  // A layer of three: copying into its middle element would free the last and strand the first.
  Eant_Element *list = nullptr;
  for (int i = 0; i < 3; ++i)
    list = static_cast<Eant_Element *>(ellm_Add(list, ELLM_APPEND, eant_PolylineElementCreate(info_, &err)));
  EXPECT_EQ(nullptr, eant_PolylineElementCopy(source, list->next, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_PolylineElementCopy", 4, "Output element is linked into an element list"));
  EXPECT_EQ(3, eant_ElementListCount(list, &err));

  Eant_Element *lone = eant_PolylineElementCreate(info_, &err);
  Eant_Element *copy = eant_PolylineElementCopy(source, lone, &err); // a lone destination is replaced
  ASSERT_NE(nullptr, copy) << Chain(err.get());
  const auto *record = static_cast<Eant_Polyline *>(copy->info);
  EXPECT_EQ(0u, record->flags);
  EXPECT_EQ(1, record->lineStyle);
  EXPECT_EQ(Parts(block), Parts(record->coords->coords));
  EXPECT_EQ(source->functions, copy->functions);
  eant_ElementFreeElement(&copy);
  eant_ElementListFree(&list);
  eant_ElementFreeElement(&source);
  efga_CoordBlockDelete(block, nullptr);
}

// ---- Layers ----

class VertexLayerTest : public VertexTest {
protected:
  // A layer of a polyline, a polygon of two rings and a point of two vertices.
  void Fill() {
    ErrorSlot err;
    Efga_CoordinateBlock *line = Block({{4, 4, 30, 10, 60, 4}, {4, 60, 20, 40}});
    Efga_CoordinateBlock *rings = Block({{10, 15, 50, 15, 50, 48, 10, 48}, {20, 26, 40, 26, 40, 37, 20, 37}});
    Efga_CoordinateBlock *dots = Block({{5, 55, 58, 58}});
    Eant_Element *elements[] = {
        eant_PolylineElementSetValues(info_, nullptr, conversion_, &err, EANT_ELEMKEY_LINESTYLE, 2,
                                      EANT_ELEMKEY_POLYLINECOORDS, EANT_LOCAL, line, EANT_ELEMKEY_END),
        eant_PolygonElementSetValues(info_, nullptr, conversion_, &err, EANT_ELEMKEY_FILLSTYLE, plainFill_,
                                     EANT_ELEMKEY_POLYGONCOORDS, EANT_LOCAL, rings, EANT_ELEMKEY_END),
        eant_PointElementSetValues(info_, nullptr, conversion_, &err, EANT_ELEMKEY_LINESTYLE, 3,
                                   EANT_ELEMKEY_POINTCOORD, EANT_LOCAL, dots, EANT_ELEMKEY_END)};
    for (Eant_Element *e : elements) {
      ASSERT_NE(nullptr, e) << Chain(err.get());
      info_->elements = static_cast<Eant_Element *>(ellm_Add(info_->elements, ELLM_APPEND, e));
    }
    efga_CoordBlockDelete(line, nullptr);
    efga_CoordBlockDelete(rings, nullptr);
    efga_CoordBlockDelete(dots, nullptr);
  }
  // The layer drawn into a 64 x 64 image of the world (0, 0) - (63, 63).
  std::vector<uint32_t> Draw(Eant_AnnotationInfo *info) {
    ErrorSlot err;
    Image image;
    Eevg_GrIOInfo device{};
    device.userData = &image;
    device.putPixel = &Image::Put;
    Eevg_DeviceInfo description{};
    description.width = description.height = 64;
    description.lineWidthUnit = 3;
    description.colorMode = EEVG_TRUECOLOR;
    Eevg_Coord lowerLeft{0, 0}, upperRight{63, 63};
    Eevg_WorldInfo world{&lowerLeft, &upperRight};
    Eevg_Drawing *drawing = eevg_DrawingInit(eevg_Init(&err), &description, &world, &device, &err);
    EXPECT_NE(nullptr, drawing) << Chain(err.get());
    if (!drawing) return {};
    eant_AnnotationRender(info, nullptr, conversion_, drawing, &err);
    EXPECT_FALSE(err) << Chain(err.get());
    eevg_DrawingFree(&drawing, &err);
    return image.pixels;
  }
};

TEST_F(VertexLayerTest, ALayerOfEachTypeReadsBackEqualAndDrawsTheSamePixels) {
  Fill();
  const std::vector<uint32_t> before = Draw(info_);
  ASSERT_FALSE(before.empty());
  const auto painted = std::count_if(before.begin(), before.end(), [](uint32_t p) { return p != 0; });
  EXPECT_GT(painted, 1000); // the filled polygon alone covers 41 x 34 pixels less its hole
  EXPECT_EQ(0u, before[31 * 64 + 30]) << "the hole is not filled";
  EXPECT_NE(0u, before[20 * 64 + 30]);

  ErrorSlot err;
  Ehfa_File *file = ehfa_FileCreate(Path("layer.ovr").c_str(), toolkit_, &err);
  ASSERT_NE(nullptr, file) << Chain(err.get());
  eant_AnnotationInfoWrite(file, ":", "Annotation", info_, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  ehfa_FileClose(file, &err);
  file = ehfa_FileOpen(Path("layer.ovr").c_str(), "r", toolkit_, &err);
  ASSERT_NE(nullptr, file) << Chain(err.get());
  Eant_AnnotationInfo *read = eant_AnnotationInfoRead(file, ":Annotation", nullptr, &err);
  ASSERT_NE(nullptr, read) << Chain(err.get());
  ehfa_FileClose(file, &err);

  ASSERT_EQ(3, eant_ElementListCount(read->elements, &err));
  for (Eant_Element *a = info_->elements, *b = read->elements; a && b; a = a->next, b = b->next) {
    SCOPED_TRACE(a->elmType);
    EXPECT_EQ(a->elmType, b->elmType);
    EXPECT_EQ(a->functions, b->functions);
    EXPECT_EQ(a->id, b->id);
    // The three records share their layout: flags, style, vector data.
    const auto *x = static_cast<const Eant_Polyline *>(a->info), *y = static_cast<const Eant_Polyline *>(b->info);
    EXPECT_EQ(x->flags, y->flags);
    EXPECT_EQ(x->lineStyle, y->lineStyle);
    EXPECT_EQ(Parts(x->coords->coords), Parts(y->coords->coords));
    EXPECT_EQ(x->coords->smooth, y->coords->smooth);
  }
  EXPECT_EQ(before, Draw(read));
  eant_AnnotationInfoFree(&read);
}

TEST_F(VertexLayerTest, ReadingTakesTheDesignOfTheLayerVersionAndRefusesANewerOne) {
  Fill();
  static_cast<Eant_Polyline *>(info_->elements->info)->flags = 5;
  static_cast<Eant_Polyline *>(info_->elements->info)->coords->smooth = 1;
  ErrorSlot err;
  Ehfa_File *file = ehfa_FileCreate(Path("layer.ovr").c_str(), toolkit_, &err);
  ASSERT_NE(nullptr, file) << Chain(err.get());
  Eant_FileIO io{file, EANT_ANNOTATION_VERSION, 0, 0, 0};
  eant_ElementNodeAndListWrite(&io, nullptr, EANT_ELEMENTLIST, "layer", info_->elements, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  // Version 5 is refused by the common part already; the record's reader refuses it too.
  const std::string path = ":ElementList:AntElement_" + std::to_string(info_->elements->id);
  ASSERT_NE(nullptr, ehfa_EntrySeek(file, EHFA_PATH, path.c_str(), &err)) << Chain(err.get());
  Eant_FileIO newer{file, 5, 0, 0, 0};
  EXPECT_EQ(nullptr, eant_PolylineRead(&newer, nullptr, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_PolylineRead", 11, "Invalid annotation layer version number 5"));
  // Version 4 reads the current design, flags included.
  Eant_Polyline *record = eant_PolylineRead(&io, nullptr, &err);
  ASSERT_NE(nullptr, record) << Chain(err.get());
  EXPECT_EQ(5u, record->flags);
  EXPECT_EQ(2, record->lineStyle);
  EXPECT_EQ(1, record->coords->smooth);
  eant_PolylineFree(&record);
  // Version 1 reads the old design: no flags, no smooth flag, the same lines.
  ehfa_EntrySeek(file, EHFA_PARENT, nullptr, &err); // back from the record to the element
  Eant_FileIO older{file, 1, 0, 0, 0};
  record = eant_PolylineRead(&older, nullptr, &err);
  ASSERT_NE(nullptr, record) << Chain(err.get());
  EXPECT_EQ(0u, record->flags);
  EXPECT_EQ(2, record->lineStyle);
  EXPECT_EQ(0, record->coords->smooth);
  EXPECT_EQ(Parts(static_cast<Eant_Polyline *>(info_->elements->info)->coords->coords), Parts(record->coords->coords));
  eant_PolylineFree(&record);
  ehfa_FileClose(file, &err);
}

TEST_F(VertexLayerTest, HitTestsOfEachType) {
  Fill();
  Eant_Element *line = info_->elements, *polygon = line->next, *point = polygon->next;
  Egda_BaseData *coord = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  auto *xy = reinterpret_cast<double *>(coord->origin);
  struct Case {
    Eant_Element *element;
    double x, y;
    int32_t hit;
  } cases[] = {
      {polygon, 15, 20, 1}, // between the rings
      {polygon, 30, 31, 0}, // in the hole
      {polygon, 55, 20, 0}, // outside
      {line, 30, 11, 1},    // within the width of 2 of a segment
      {line, 30, 30, 0},
      {point, 5, 56, 1}, // either vertex
      {point, 57, 58, 1},
      {point, 30, 30, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.element->elmType << " at " << c.x << ", " << c.y);
    ErrorSlot err;
    xy[0] = c.x;
    xy[1] = c.y;
    EXPECT_EQ(c.hit, eant_ElementCoordInElement(toolkit_, info_->styleLib, nullptr, nullptr, c.element, nullptr,
                                                conversion_, coord, &err));
    EXPECT_FALSE(err) << Chain(err.get());
  }
  // The polygon tests its stored box first: outside it the rings are never fetched.
  ErrorSlot err;
  auto *record = static_cast<Eant_Polygon *>(polygon->info);
  Eant_VectorData *rings = record->coords;
  record->coords = nullptr;
  xy[0] = 60;
  xy[1] = 60;
  EXPECT_EQ(0, eant_CoordInPolygonElement(toolkit_, info_->styleLib, nullptr, nullptr, polygon, nullptr, conversion_,
                                          coord, &err));
  EXPECT_FALSE(err) << Chain(err.get());
  record->coords = rings;
  EXPECT_EQ(0, eant_CoordInPolylineElement(toolkit_, info_->styleLib, nullptr, nullptr, polygon, nullptr, conversion_,
                                           coord, &err));
  EXPECT_TRUE(Reported(err.get(), "eant_CoordInPolylineElement", 2, "Input element is not a polyline"));
  egda_BaseDataDelete(coord, nullptr);
}

TEST_F(VertexLayerTest, DrawingFailsWithoutAUsableStyleAndMarksPointsOnAPointDevice) {
  Fill();
  ErrorSlot err;
  Image image;
  std::vector<std::pair<int32_t, int32_t>> points;
  Eevg_GrIOInfo device{};
  device.userData = &points;
  device.putPixel = &Image::Put;
  device.putPoint = [](void *data, const Eevg_Color *, const int32_t *point, Eerr_ErrorReport **) {
    static_cast<std::vector<std::pair<int32_t, int32_t>> *>(data)->emplace_back(point[0], point[1]);
  };
  Eevg_DeviceInfo description{};
  description.width = description.height = 64;
  description.lineWidthUnit = 3;
  description.colorMode = EEVG_TRUECOLOR;
  Eevg_Coord lowerLeft{0, 0}, upperRight{63, 63};
  Eevg_WorldInfo world{&lowerLeft, &upperRight};
  Eevg_Drawing *drawing = eevg_DrawingInit(eevg_Init(&err), &description, &world, &device, &err);
  ASSERT_NE(nullptr, drawing) << Chain(err.get());
  Eant_Element *line = info_->elements, *polygon = line->next, *point = polygon->next;
  eant_PointElementRender(toolkit_, info_->styleLib, nullptr, nullptr, drawing, point, nullptr, conversion_, &err);
  EXPECT_FALSE(err) << Chain(err.get());
  EXPECT_EQ(2u, points.size()); // one mark per vertex

  // A line style without lines, and no style at all.
  const int32_t bare = eant_LineStyleAddToLibrary(
      eant_LineStyleSetValues(toolkit_, info_->styleLib, nullptr, &err, EANT_KEY_STYLENAME, "bare", 0),
      info_->styleLib, 0, &err);
  static_cast<Eant_Point *>(point->info)->lineStyle = bare;
  static_cast<Eant_Polyline *>(line->info)->lineStyle = -1;
  static_cast<Eant_Polygon *>(polygon->info)->fillStyle = -1;
  struct Case {
    Eant_Element *element;
    const char *reporter;
    int32_t code;
  } cases[] = {{point, "eant_PointElementRender", 8},
               {line, "eant_PolylineElementRender", 5},
               {polygon, "eant_PolygonElementRender", 5}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.reporter);
    points.clear();
    eant_ElementRenderElement(toolkit_, info_->styleLib, nullptr, nullptr, drawing, c.element, nullptr, conversion_,
                              &err);
    ASSERT_TRUE(err);
    EXPECT_TRUE(Reported(err->next, c.reporter, c.code, nullptr)) << Chain(err.get());
    EXPECT_TRUE(points.empty());
  }
  eevg_DrawingFree(&drawing, &err);
}

TEST_F(VertexLayerTest, TransformsFoldIntoTheCoordinatesAndOneLineIsReplaced) {
  Fill();
  ErrorSlot err;
  Eant_Element *line = info_->elements;
  Efga_Polynomial *shift = eant_TranslatePolynomialCreate(nullptr, 10, 0, &err);
  eant_PolylineElementSetValues(info_, line, conversion_, &err, EANT_ELEMKEY_XFORMMATRIX, shift, EANT_ELEMKEY_END);
  efga_PolynomialDelete(shift, nullptr);
  ASSERT_FALSE(err) << Chain(err.get());
  Efga_CoordinateBlock *map = eant_GetPolylineMapVectorData(line, nullptr, conversion_, nullptr, &err);
  ASSERT_NE(nullptr, map) << Chain(err.get());
  const auto expected = Parts(map);
  EXPECT_EQ(14, expected[0][0]);

  // The bake stores the moved coordinates and resets the transform: the map coordinates stay.
  eant_ElementUpdateInfo(line, conversion_, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  auto *record = static_cast<Eant_Polyline *>(line->info);
  EXPECT_EQ(expected, Parts(record->coords->coords));
  Efga_CoordinateBlock *again = eant_GetPolylineMapVectorData(line, nullptr, conversion_, nullptr, &err);
  EXPECT_EQ(expected, Parts(again));
  efga_CoordBlockDelete(again, nullptr);

  // Index 2 of two lines changes nothing; index 1 takes the part over.
  Egda_BaseData *part = egda_BaseDataCreate(2, 2, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  const double xy[] = {1, 2, 3, 4};
  std::memcpy(part->origin, xy, sizeof xy);
  eant_PolylineElementReplaceVectorDataElement(line, conversion_, part, 2, &err);
  EXPECT_EQ(expected, Parts(record->coords->coords));
  eant_PolylineElementReplaceVectorDataElement(line, conversion_, part, 1, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  EXPECT_EQ(expected[0], Parts(record->coords->coords)[0]);
  EXPECT_EQ((std::vector<double>{1, 2, 3, 4}), Parts(record->coords->coords)[1]);
  efga_CoordBlockDelete(map, nullptr);
}

TEST_F(VertexLayerTest, FactoryAndReaderLeaveNothingBehindWhenMemoryRunsOut) {
  using taviron::testing::SweepAllocationFailures;
  Efga_CoordinateBlock *block = Block({{0, 0, 10, 0, 10, 5}, {1, 1, 2, 2}});
  Eant_Element *made = nullptr;
  const auto madeRuns = SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) {
        made = eant_PolygonElementSetValues(nullptr, nullptr, conversion_, err, EANT_ELEMKEY_NAME, "lake",
                                            EANT_ELEMKEY_POLYGONCOORDS, EANT_LOCAL, block, EANT_ELEMKEY_END);
        return made != nullptr;
      },
      [&] { eant_ElementFreeElement(&made); });
  EXPECT_GT(madeRuns.heap, 5);

  Fill();
  ErrorSlot err;
  Ehfa_File *file = ehfa_FileCreate(Path("layer.ovr").c_str(), toolkit_, &err);
  ASSERT_NE(nullptr, file) << Chain(err.get());
  Eant_FileIO io{file, EANT_ANNOTATION_VERSION, 0, 0, 0};
  eant_ElementNodeAndListWrite(&io, nullptr, EANT_ELEMENTLIST, "layer", info_->elements, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  Eant_Element *read = nullptr;
  taviron::testing::SweepOptions options;
  options.prepare = [&] { ehfa_EntrySeek(file, EHFA_PATH, ":", nullptr); };
  const auto readRuns = SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) {
        read = eant_ElementListRead(info_, &io, ":ElementList", EHFA_CHILD_OF, e);
        if (read && *e) eant_ElementListFree(&read); // a list cut short by a failure
        return read != nullptr && !*e;
      },
      [&] { eant_ElementListFree(&read); }, options);
  EXPECT_GT(readRuns.heap, 10);
  ehfa_FileClose(file, &err);
  efga_CoordBlockDelete(block, nullptr);
}

TEST_F(VertexLayerTest, AStoredRecordWhosePartsAreNotCoordinatesIsRefused) {
  Fill();
  ErrorSlot err;
  Ehfa_File *file = ehfa_FileCreate(Path("layer.ovr").c_str(), toolkit_, &err);
  ASSERT_NE(nullptr, file) << Chain(err.get());
  Eant_FileIO io{file, EANT_ANNOTATION_VERSION, 0, 0, 0};
  eant_ElementNodeAndListWrite(&io, nullptr, EANT_ELEMENTLIST, "layer", info_->elements, &err);
  // The polyline's record rewritten with a part of three rows of bytes.
  Egda_BaseData *part = egda_BaseDataCreate(3, 2, EGDA_TYPE_U8, EGDA_MATRIX, nullptr, &err);
  taviron::eant::VectorData2Stored coords{EANT_LOCAL, {1, part}, 0};
  taviron::eant::Vertices2Stored stored{0, 2, &coords};
  const Emif_Design *design = eant_PutDesignInDictionary(data_, "Polyline2", file->dictionary, &err);
  const std::string path = ":ElementList:AntElement_" + std::to_string(info_->elements->id) + ":Polyline Info";
  ASSERT_NE(nullptr, ehfa_EntrySeek(file, EHFA_PATH, path.c_str(), &err)) << Chain(err.get());
  ASSERT_NE(nullptr, ehfa_ObjectWrite(file, nullptr, nullptr, "Polyline2", EHFA_OVERWRITE, &stored, design, &err))
      << Chain(err.get());
  egda_BaseDataDelete(part, nullptr);
  ehfa_EntrySeek(file, EHFA_PATH, ":", &err);
  EXPECT_EQ(nullptr, eant_ElementListRead(info_, &io, ":ElementList", EHFA_CHILD_OF, &err));
  const std::string named = "Error returned from readElement for element " + std::to_string(info_->elements->id);
  EXPECT_TRUE(Reported(err.get(), "eant_ElementListRead", 3, named.c_str()));
  std::string chain = Chain(err.get());
  EXPECT_NE(std::string::npos, chain.find("eant_VectorDataCopyFromPrivate2 #7: Invalid coordinates in stored vector data"))
      << chain;
  ehfa_FileClose(file, &err);
}

TEST_F(VertexLayerTest, ReprojectionMovesOnlyElementsPlacedInMapCoordinates) {
  Fill();
  ErrorSlot err;
  Eant_Element *line = info_->elements, *polygon = line->next;
  eant_ElementSetUnits(line, EEVG_MAP, "meters", &err);
  eant_ElementSetUnits(polygon, EEVG_OUTPUT, "meters", &err);
  const auto lineBefore = Parts(static_cast<Eant_Polyline *>(line->info)->coords->coords);
  const auto polygonBefore = Parts(static_cast<Eant_Polygon *>(polygon->info)->coords->coords);
  Efga_Polynomial *shift = eant_TranslatePolynomialCreate(nullptr, 100, 0, &err);
  _exfr_XForm *xform = exfr_XFormCreate(shift, 0, &err);
  ASSERT_NE(nullptr, xform) << Chain(err.get());
  for (Eant_Element *e : {line, polygon}) {
    eant_ElementTransformMap(e, xform, conversion_, conversion_, "feet", nullptr, &err);
    EXPECT_FALSE(err) << Chain(err.get());
  }
  const auto lineAfter = Parts(static_cast<Eant_Polyline *>(line->info)->coords->coords);
  EXPECT_EQ(lineBefore[0][0] + 100, lineAfter[0][0]);
  EXPECT_EQ(lineBefore[0][1], lineAfter[0][1]);
  EXPECT_STREQ("feet", line->positionUnits->units.data);
  EXPECT_EQ(polygonBefore, Parts(static_cast<Eant_Polygon *>(polygon->info)->coords->coords));
  EXPECT_STREQ("meters", polygon->positionUnits->units.data);
  // Converting to map units places the polygon in the conversion's map units.
  eant_ElementConvertToMap(polygon, conversion_, &err);
  EXPECT_FALSE(err) << Chain(err.get());
  EXPECT_EQ(EEVG_MAP, polygon->positionUnits->coordSys);
  EXPECT_EQ(polygonBefore, Parts(static_cast<Eant_Polygon *>(polygon->info)->coords->coords));
  exfr_XFormFree(&xform, nullptr);
  efga_PolynomialDelete(shift, nullptr);
}

TEST_F(VertexLayerTest, PrintingNamingCountingAndSelectingTheStyle) {
  Fill();
  ErrorSlot err;
  Eant_Element *line = info_->elements, *polygon = line->next, *point = polygon->next;
  {
    CapturedOutput out;
    eant_PointPrint(static_cast<Eant_Point *>(point->info), &err);
    EXPECT_EQ("lineStyle - 3\nCoordinates:\n  Element 0:\n    5, 55\n    58, 58\n", out.Out());
  }
  Eant_ElementInfo counts{};
  struct Case {
    Eant_Element *element;
    const char *name;
    int32_t kind;
  } cases[] = {{line, "Polyline", 2}, {polygon, "Polygon", 4}, {point, "Point", 2}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const char *name = eant_ElementGetTypeString(c.element, &err);
    EXPECT_STREQ(c.name, name);
    emsc_HeapFree(const_cast<char *>(name));
    eant_ElementIncrementCount(c.element, &counts, &err);
    EXPECT_EQ(1, eant_ElementCanBeFlipped(c.element, &err));
    EXPECT_EQ(c.kind, eant_ElementSelectSingleStyleOnly(info_, c.element, 0, &err));
    EXPECT_FALSE(err) << Chain(err.get());
  }
  EXPECT_EQ(3, counts.total);
  EXPECT_EQ(1, counts.polylines);
  EXPECT_EQ(1, counts.polygons);
  EXPECT_EQ(1, counts.points);
}

} // namespace
