// Symbols drawn by styles: the pattern tile of a symbol pattern, the renderer fill patterns and
// fill styles made for a drawing, and the renderer's line symbol. The symbol element is a test type
// that draws its symbol as a filled square (blue, or in its override colour).
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "annotation_testing.h"

namespace {

using namespace taviron::annotation::testing;
using taviron::testing::SweepAllocationFailures;

// ---- A symbol type: a filled square of side `scale` about the centre, turned by the orientation

struct Drawn {
  double x, y, orientation, scale;
  int32_t number, overrideFlag, overrideColor;
  bool transformed;
  double tx, ty; // the centre through the drawing transform
};
std::vector<Drawn> drawn;
int squareFrees = 0;

struct SquareSymbol {
  static const Eant_Symbol &Record(const Eant_Element *element) {
    return *static_cast<const Eant_Symbol *>(element->info);
  }
  static void Free(Eant_Element **element) {
    if (!element || !*element) return;
    ++squareFrees;
    if (auto *record = static_cast<Eant_Symbol *>((*element)->info)) {
      eevg_CoordFree(&record->center);
      emsc_HeapFree(record);
    }
    eant_ElementFree(element);
  }
  static Egda_BaseData *Corners(const Eant_Element *element, _exfr_XForm *transform, Eerr_ErrorReport **err) {
    const Eant_Symbol &r = Record(element);
    Egda_BaseData *corners = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, err);
    if (!corners) return nullptr;
    const double h = r.scale / 2, c = std::cos(r.orientation), s = std::sin(r.orientation);
    const double us[4] = {-h, -h, h, h}, vs[4] = {-h, h, h, -h};
    auto *xy = reinterpret_cast<double *>(corners->origin);
    for (int i = 0; i < 4; ++i) {
      xy[2 * i] = r.center->x + us[i] * c - vs[i] * s;
      xy[2 * i + 1] = r.center->y + us[i] * s + vs[i] * c;
    }
    if (transform && !exfr_Transform(transform, corners, corners, err)) {
      egda_BaseDataDelete(corners, nullptr);
      return nullptr;
    }
    return corners;
  }
  static Egda_BaseData *CalculateBbox(Eant_Element *element, _exfr_XForm *transform, Eant_CoordSysConversion *,
                                      Eerr_ErrorReport **err) {
    return Corners(element, transform, err);
  }
  static void Render(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *,
                     Eant_Criteria *, Eevg_Drawing *drawing, Eant_Element *element, _exfr_XForm *transform,
                     Eant_CoordSysConversion *, Eerr_ErrorReport **err) {
    const Eant_Symbol &r = Record(element);
    Drawn d{r.center->x, r.center->y, r.orientation, r.scale, r.symbolData, r.colorOverrideFlag,
            r.overrideColor, transform != nullptr, r.center->x, r.center->y};
    const auto failed = [err](const char *what) {
      if (!*err) *err = eerr_CreateErrorReport("SquareSymbol::Render", 1, 2, nullptr, what);
    };
    if (transform) {
      Egda_BaseData *centre = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, err);
      if (!centre) return failed("no centre");
      auto *xy = reinterpret_cast<double *>(centre->origin);
      xy[0] = d.x;
      xy[1] = d.y;
      const bool carried = exfr_Transform(transform, centre, centre, err) != nullptr;
      d.tx = xy[0];
      d.ty = xy[1];
      egda_BaseDataDelete(centre, nullptr);
      if (!carried) return failed("not transformed");
    }
    drawn.push_back(d);
    Eevg_FillStyle *fill = eevg_FillStyleCreate(err);
    if (!fill) return failed("no fill style");
    fill->fill = 1;
    Efga_CoordinateBlock *square = nullptr;
    if ((fill->pattern = eevg_FillPatternCreate(err))) {
      if (r.colorOverrideFlag == 1) {
        fill->pattern->color = eant_GetColor(toolkit, styles, r.overrideColor, err);
      } else if ((fill->pattern->color = eevg_ColorCreate(err))) {
        *fill->pattern->color = {0, 0, 0, 255, 255};
      }
    }
    if (fill->pattern && fill->pattern->color && (square = efga_CoordBlockPtrCreate(1, err)) &&
        (square->parts[0] = Corners(element, transform, err)))
      eevg_DrawPolygon(drawing, fill, square, err);
    else
      failed("no square");
    efga_CoordBlockDelete(square, nullptr);
    eevg_FillStyleFree(&fill);
  }
  static const Eant_ElementFunctions &Table() {
    static const Eant_ElementFunctions table = [] {
      Eant_ElementFunctions t{};
      t.renderElement = &Render;
      t.free = &Free;
      t.calculateBbox = &CalculateBbox;
      return t;
    }();
    return table;
  }
};

// A drawing of width x height pixels whose world is (0, 0) to (width - 1, height - 1): one
// pixel per map unit. It keeps what is drawn.
struct Canvas {
  int32_t width, height;
  std::vector<Eevg_Color> pixels;
  Eevg_GrIOInfo *grIO = nullptr;
  Eevg_DeviceInfo *device = nullptr;
  Eevg_WorldInfo *world = nullptr;
  Eevg_Control *control = nullptr;
  Eevg_Drawing *drawing = nullptr;

  Canvas(int32_t w, int32_t h) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h) {
    ErrorSlot err;
    grIO = eevg_GrIOInfoCreate(&err);
    device = eevg_DeviceInfoCreate(&err);
    world = eevg_WorldInfoCreate(&err);
    control = eevg_Init(&err);
    grIO->userData = this;
    grIO->putPixel = [](void *userData, const Eevg_Color *color, const double *position, Eerr_ErrorReport **) {
      auto *canvas = static_cast<Canvas *>(userData);
      const auto x = static_cast<int32_t>(position[0]), y = static_cast<int32_t>(position[1]);
      if (x >= 0 && y >= 0 && x < canvas->width && y < canvas->height)
        canvas->pixels[static_cast<std::size_t>(y) * canvas->width + x] = *color;
    };
    *device = {0, w, h, 1, 0, 0, 0, nullptr, EEVG_TRUECOLOR};
    *world->upperRight = {static_cast<double>(w - 1), static_cast<double>(h - 1)};
    drawing = eevg_DrawingInit(control, device, world, grIO, &err);
    EXPECT_NE(nullptr, drawing) << Chain(err);
  }
  ~Canvas() {
    eevg_DrawingFree(&drawing, nullptr);
    eevg_Free(&control, nullptr);
    eevg_GrIOInfoFree(&grIO);
    eevg_WorldInfoFree(&world);
    eevg_DeviceInfoFree(&device);
  }
  Canvas(const Canvas &) = delete;
  Canvas &operator=(const Canvas &) = delete;
};

// One pixel of a tile: red, green, blue, coverage.
std::vector<int> TilePixel(const Egda_BaseDataStack *tile, int32_t column, int32_t row) {
  std::vector<int> out;
  for (int32_t b = 0; b < 4; ++b) {
    const Egda_BaseData *plane = tile->layers[b];
    out.push_back(plane->origin[static_cast<std::ptrdiff_t>(row) * plane->pitch + column]);
  }
  return out;
}

const std::vector<int> kBlue{0, 0, 255, 255}, kRed{255, 0, 0, 255}, kClear{0, 0, 0, 0};

// The newest report is a warning of the reporter with the code.
::testing::AssertionResult Warned(const ErrorSlot &err, const char *reporter, int32_t code) {
  const Eerr_ErrorReport *report = err.get();
  if (report && report->severity == EERR_WARNING && report->code == code && report->reporter &&
      std::string(report->reporter) == reporter)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << Chain(err);
}

class SymbolRenderTest : public PackageTest {
protected:
  void SetUp() override {
    PackageTest::SetUp();
    drawn.clear();
    squareFrees = 0;
    ErrorSlot err;
    library_ = eant_StyleLibraryCreate(&err);
    red_ = AddColor("red", 255, 0, 0, 1.0);
    half_ = AddColor("half", 200, 100, 50, 0.5);
    symbol_ = eant_StyleSetValues(nullptr, nullptr, "square", 3, &err);
    conversion_ = eant_CoordSysConversionSetValues(nullptr, 1, 1, 0.5, 0.5, 0, 0, "points", "meters", &err);
    ASSERT_TRUE(library_ && symbol_ && conversion_) << Chain(err);
    live_ = emsc_TestLiveBlocks();
  }
  void TearDown() override {
    eant_CoordSysConversionFree(&conversion_);
    eant_StyleFree(&symbol_);
    eant_StyleLibraryFree(&library_);
    PackageTest::TearDown();
  }
  int32_t AddColor(const char *name, int32_t r, int32_t g, int32_t b, double opacity) {
    ErrorSlot err;
    Eant_Color *color = eant_ColorSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_STYLENAME, name, EANT_KEY_RGB,
                                            r, g, b, EANT_KEY_OPACITY, opacity, EANT_KEY_END);
    return eant_ColorAddToLibrary(color, library_, 0, &err);
  }
  // A pattern fill of the square symbol in map units.
  Eant_PatternFill *Pattern(double scale, double xsep, double ysep, int32_t overrideFlag = 0,
                            int32_t overrideColor = -1) {
    ErrorSlot err;
    Eant_PatternFill *fill = eant_PatternFillCreate(&err);
    fill->scaleUnits = eant_CoordDefinitionSetValues(nullptr, EEVG_MAP, nullptr, &err);
    fill->positionUnits = eant_CoordDefinitionSetValues(nullptr, EEVG_MAP, nullptr, &err);
    fill->scale = scale;
    fill->xsep = xsep;
    fill->ysep = ysep;
    fill->symbol = eant_StyleCopy(symbol_, nullptr, &err);
    fill->colorOverrideFlag = overrideFlag;
    fill->overrideColor = overrideColor;
    EXPECT_FALSE(err) << Chain(err);
    return fill;
  }
  // The opacity of the half-opaque colour as the renderer gets it now.
  int32_t HalfOpacity() {
    Eevg_Color *color = eant_GetColor(toolkit_, library_, half_, nullptr);
    const int32_t opacity = color ? color->opacity : -1;
    eevg_ColorFree(&color);
    return opacity;
  }

  TestElementType symbolType_{EANT_SYMBOL, nullptr, &SquareSymbol::Table()};
  Eant_StyleLibrary *library_ = nullptr;
  Eant_Style *symbol_ = nullptr;
  Eant_CoordSysConversion *conversion_ = nullptr;
  int32_t red_ = -1, half_ = -1;
};

// ---- Fill patterns and pattern fills as records ---------------------------------------------------

TEST(FillPatternTest, SettersTakeTheSymbolCompareAndPrint) {
  ErrorSlot err;
  Eant_FillPattern *solid = eant_FillPatternSetValues(nullptr, 4, &err);
  ASSERT_NE(nullptr, solid) << Chain(err);
  EXPECT_EQ((std::vector<int32_t>{1, 4, 0}), (std::vector<int32_t>{solid->solidFill, solid->color, solid->patternFill}));
  EXPECT_EQ(nullptr, solid->pattern);

  Eant_Style *symbol = eant_StyleSetValues(nullptr, nullptr, "tree", 2, &err);
  Eant_FillPattern *both = eant_FillPatternSetAllValues(nullptr, 1, 4, 1, EEVG_MAP, nullptr, EEVG_OUTPUT, "points",
                                                        10, 5, 0, symbol, 1, 3, &err);
  ASSERT_NE(nullptr, both) << Chain(err);
  ASSERT_NE(nullptr, both->pattern);
  EXPECT_EQ(symbol, both->pattern->symbol); // taken over
  EXPECT_EQ(EEVG_OUTPUT, both->pattern->positionUnits->coordSys);
  EXPECT_EQ(0, eant_FillPatternCompare(solid, both, &err));
  Eant_FillPattern *copy = eant_FillPatternCopy(both, nullptr, &err);
  ASSERT_NE(nullptr, copy) << Chain(err);
  EXPECT_EQ(1, eant_FillPatternCompare(both, copy, &err));
  copy->pattern->xsep = 6;
  EXPECT_EQ(0, eant_FillPatternCompare(both, copy, &err));
  EXPECT_EQ(0, eant_PatternFillCompare(both->pattern, copy->pattern, &err));
  EXPECT_EQ(1, eant_FillPatternCompare(nullptr, nullptr, &err));
  EXPECT_EQ(0, eant_FillPatternCompare(solid, nullptr, &err));
  EXPECT_EQ(1, eant_PatternFillCompare(nullptr, nullptr, &err));
  // Without the symbol pattern the pattern fill goes; the record is the one given.
  EXPECT_EQ(copy, eant_FillPatternSetAllValues(copy, 0, 2, 0, EEVG_MAP, nullptr, EEVG_MAP, nullptr, 0, 0, 0, nullptr,
                                               0, -1, &err));
  EXPECT_EQ(nullptr, copy->pattern);
  {
    taviron::testing::CapturedOutput out;
    eant_FillPatternPrint(both, &err);
    const std::string text = out.Out();
    EXPECT_EQ(0u, text.find("FillPattern:\n    solidFill - 1\n    color - 4\n    patternFill - 1\nPatternFill:\n"
                            "Coord Definition:\n   coordSys - 3\n   units - NULL\nCoord Definition:\n"
                            "   coordSys - 4\n   units - points\n    scale - 10.000000\n    xsep - 5.000000\n"
                            "    ysep - 0.000000\n"))
        << text;
    EXPECT_NE(std::string::npos, text.find("tree"));
    const std::string last = "    colorOverrideFlag - 1\n    overrideColor - 3\n";
    EXPECT_TRUE(text.size() > last.size() && text.compare(text.size() - last.size(), last.size(), last) == 0)
        << text;
  }
  Eant_Style *other = eant_StyleSetValues(nullptr, nullptr, "bush", 1, nullptr);
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(nullptr, eant_PatternFillSetValues(nullptr, EEVG_MAP, nullptr, EEVG_MAP, nullptr, 1, 1, 1, other, 0, -1,
                                                 &err));
  }
  eant_StyleFree(&other); // not taken: the call failed
  EXPECT_TRUE(Reported(err, "eant_PatternFillSetValues", 1)) << Chain(err);
  eant_FillPatternFree(&copy);
  eant_FillPatternFree(&both);
  eant_FillPatternFree(&solid);
}

TEST(FillPatternTest, TheFillKeywordsSetThePatternAndAFillStylePrintsItsParts) {
  ErrorSlot err;
  Eant_Style *symbol = eant_StyleSetValues(nullptr, nullptr, "tree", 2, &err);
  Eant_FillStyle *style = eant_FillStyleSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_PATTERN, 1, 1, 4, 0,
                                                  EEVG_MAP, nullptr, EEVG_MAP, nullptr, 10.0, 5.0, 0.0, symbol, 0, -1,
                                                  EANT_KEY_END);
  ASSERT_NE(nullptr, style) << Chain(err);
  ASSERT_NE(nullptr, style->pattern);
  EXPECT_EQ(nullptr, style->pattern->pattern); // patternFill 0: no pattern fill
  eant_FillStyleSetValues(nullptr, nullptr, style, &err, EANT_KEY_PATTERN, 1, 0, 4, 1, EEVG_MAP, nullptr, EEVG_MAP,
                          nullptr, 10.0, 5.0, 0.0, symbol, 0, -1, EANT_KEY_END);
  ASSERT_NE(nullptr, style->pattern->pattern) << Chain(err);
  EXPECT_NE(symbol, style->pattern->pattern->symbol); // the list's reference stays the caller's
  eant_StyleFree(&symbol);
  {
    taviron::testing::CapturedOutput out;
    eant_FillStylePrint(style, &err);
    const std::string text = out.Out();
    EXPECT_NE(std::string::npos, text.find("   fill - true\n   trace - false\nFillPattern:\n    solidFill - 0\n"))
        << text;
    EXPECT_NE(std::string::npos, text.find("   traceStyle - -1\n")) << text;
  }
  eant_FillStyleFree(&style);
}

// ---- The pattern tile --------------------------------------------------------------------------

TEST_F(SymbolRenderTest, ATileHoldsOneSymbolCentredInItsCellOverTheSolidColourOrNothing) {
  Canvas canvas(100, 100);
  live_ = emsc_TestLiveBlocks(); // the drawing's own blocks and the renderer's state stay
  const Eevg_Color red{0, 255, 0, 0, 255};
  struct Case {
    const char *what;
    double scale, xsep, ysep;
    const Eevg_Color *color;
    int32_t solidFill;
    int32_t columns, rows;
    std::vector<int> corner, centre;
  } cases[] = {
      {"transparent", 10, 5, 0, &red, 0, 15, 10, kClear, kBlue},
      {"on red", 10, 5, 0, &red, 1, 15, 10, kRed, kBlue},
      {"solid without a colour", 10, 5, 0, nullptr, 1, 15, 10, kClear, kBlue},
      {"below a pixel", 0.2, 0.1, 0.3, &red, 1, 1, 1, kRed, kRed},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    drawn.clear();
    ErrorSlot err;
    Eant_PatternFill *fill = Pattern(c.scale, c.xsep, c.ysep);
    Egda_BaseDataStack *tile = eant_RenderPixRectStackCreate(c.color, toolkit_, canvas.drawing, conversion_, library_,
                                                             nullptr, fill, c.solidFill, &err);
    ASSERT_NE(nullptr, tile) << Chain(err);
    EXPECT_FALSE(err) << Chain(err);
    ASSERT_EQ(4, tile->count);
    EXPECT_EQ(c.columns, tile->layers[0]->columns);
    EXPECT_EQ(c.rows, tile->layers[0]->rows);
    EXPECT_EQ(c.corner, TilePixel(tile, 0, 0));
    EXPECT_EQ(c.centre, TilePixel(tile, c.columns / 2, c.rows / 2));
    // One symbol, of the pattern's size, at the cell's centre, by the reference's number.
    ASSERT_EQ(1u, drawn.size());
    EXPECT_DOUBLE_EQ((c.scale + c.xsep) / 2, drawn[0].x);
    EXPECT_DOUBLE_EQ((c.scale + c.ysep) / 2, drawn[0].y);
    EXPECT_DOUBLE_EQ(c.scale, drawn[0].scale);
    EXPECT_EQ(0.0, drawn[0].orientation);
    EXPECT_EQ(3, drawn[0].number);
    egda_BaseDataStackDelete(tile, nullptr);
    eant_PatternFillFree(&fill);
  }
  EXPECT_EQ(4, squareFrees); // the throw-away layer's element went through its type
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(SymbolRenderTest, TheSymbolIsDrawnInItsOverrideColourAtFullOpacity) {
  Canvas canvas(100, 100);
  live_ = emsc_TestLiveBlocks(); // the drawing's own blocks and the renderer's state stay
  ErrorSlot err;
  Eant_PatternFill *fill = Pattern(10, 0, 0, 1, half_);
  Egda_BaseDataStack *tile = eant_RenderPixRectStackCreate(nullptr, toolkit_, canvas.drawing, conversion_, library_,
                                                           nullptr, fill, 0, &err);
  ASSERT_NE(nullptr, tile) << Chain(err);
  EXPECT_EQ((std::vector<int>{200, 100, 50, 255}), TilePixel(tile, 5, 5));
  ASSERT_EQ(1u, drawn.size());
  EXPECT_EQ(1, drawn[0].overrideFlag);
  EXPECT_EQ(half_, drawn[0].overrideColor);
  EXPECT_EQ(127, HalfOpacity()); // the switch is off again
  egda_BaseDataStackDelete(tile, nullptr);
  eant_PatternFillFree(&fill);
}

TEST_F(SymbolRenderTest, ATileLeavesTheRendererObjectsOfLoadedLibrariesAlone) {
  Canvas canvas(100, 100);
  live_ = emsc_TestLiveBlocks(); // the drawing's own blocks and the renderer's state stay
  ErrorSlot err;
  // A loaded symbol library whose colour is held by a drawing in progress.
  Eant_SymbolLibrary *loaded = eant_SymbolLibraryCreate(&err);
  ASSERT_NE(nullptr, loaded) << Chain(err);
  loaded->next = data_->symbolLibraryCache;
  data_->symbolLibraryCache = loaded;
  loaded->styleLibrary = eant_StyleLibraryCreate(&err);
  eant_ColorCreateDefault(loaded->styleLibrary, nullptr, &err);
  const Eevg_Color *held = eant_GetColorPtr(toolkit_, loaded->styleLibrary, 0, &err);
  ASSERT_NE(nullptr, held) << Chain(err);
  Eant_PatternFill *fill = Pattern(10, 0, 0);
  Egda_BaseDataStack *tile = eant_RenderPixRectStackCreate(nullptr, toolkit_, canvas.drawing, conversion_, library_,
                                                           nullptr, fill, 0, &err);
  ASSERT_NE(nullptr, tile) << Chain(err);
  EXPECT_EQ(held, eant_GetColorPtr(toolkit_, loaded->styleLibrary, 0, &err));
  EXPECT_EQ(1, loaded->styleLibrary->evaluated);
  egda_BaseDataStackDelete(tile, nullptr);
  eant_PatternFillFree(&fill);
}

TEST_F(SymbolRenderTest, ATileLargerThanTheDrawingIsCutToItsSizeWithAWarning) {
  Canvas canvas(20, 16);
  live_ = emsc_TestLiveBlocks(); // the drawing's own blocks and the renderer's state stay
  ErrorSlot err;
  // A cell of 100000 by 100000 map units at a pixel per unit: ten thousand million pixels.
  Eant_PatternFill *fill = Pattern(100000, 0, 0);
  Egda_BaseDataStack *tile = eant_RenderPixRectStackCreate(nullptr, toolkit_, canvas.drawing, conversion_, library_,
                                                           nullptr, fill, 0, &err);
  ASSERT_NE(nullptr, tile) << Chain(err);
  EXPECT_EQ(20, tile->layers[0]->columns);
  EXPECT_EQ(16, tile->layers[0]->rows);
  EXPECT_TRUE(Warned(err, "eant_RenderPixRectStackCreate", 14));
  // The symbol keeps its size: the cut shows the middle of the cell, all symbol.
  EXPECT_EQ(kBlue, TilePixel(tile, 0, 0));
  EXPECT_EQ(kBlue, TilePixel(tile, 19, 15));
  egda_BaseDataStackDelete(tile, nullptr);

  // The fill pattern made for the drawing keeps the cut tile and passes the warning on.
  Eant_FillPattern pattern{0, -1, 1, fill};
  Eevg_FillPattern *made =
      eant_GetFillPatternForRendering(toolkit_, canvas.drawing, conversion_, library_, nullptr, &pattern, &err);
  ASSERT_NE(nullptr, made) << Chain(err);
  ASSERT_NE(nullptr, made->patternStack);
  EXPECT_EQ(20, made->patternStack->layers[0]->columns);
  EXPECT_TRUE(Warned(err, "eant_GetFillPatternForRendering", 2));
  eevg_FillPatternFree(&made);
  eant_PatternFillFree(&fill);
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(SymbolRenderTest, AFailedTileIsReportedLeavesNothingAndTurnsTheSwitchOff) {
  Canvas canvas(100, 100);
  live_ = emsc_TestLiveBlocks(); // the drawing's own blocks and the renderer's state stay
  ErrorSlot err;
  EXPECT_EQ(nullptr, eant_RenderPixRectStackCreate(nullptr, toolkit_, canvas.drawing, conversion_, library_, nullptr,
                                                   nullptr, 0, &err));
  EXPECT_TRUE(Reported(err, "eant_RenderPixRectStackCreate", 1, "Invalid input patternFill"));

  // The symbol's colour does not exist: drawing the symbol fails.
  Eant_PatternFill *fill = Pattern(10, 0, 0, 1, 42);
  EXPECT_EQ(nullptr, eant_RenderPixRectStackCreate(nullptr, toolkit_, canvas.drawing, conversion_, library_, nullptr,
                                                   fill, 0, &err));
  EXPECT_TRUE(Reported(err, "eant_RenderPixRectStackCreate", 13)) << Chain(err);
  EXPECT_EQ(127, HalfOpacity());
  EXPECT_EQ(1, squareFrees);

  // Without a symbol element type there is nothing to draw the symbol with.
  {
    taviron::eant::SetTestElementFunctions(EANT_SYMBOL, nullptr);
    EXPECT_EQ(nullptr, eant_RenderPixRectStackCreate(nullptr, toolkit_, canvas.drawing, conversion_, library_,
                                                     nullptr, fill, 0, &err));
    EXPECT_TRUE(Reported(err, "eant_RenderPixRectStackCreate", 12)) << Chain(err);
    taviron::eant::SetTestElementFunctions(EANT_SYMBOL, &SquareSymbol::Table());
  }
  eant_PatternFillFree(&fill);
  EXPECT_TRUE(HeapAsAtStart());

  // Every failed allocation is reported and leaves nothing behind.
  fill = Pattern(10, 5, 0);
  const Eevg_Color red{0, 255, 0, 0, 255};
  drawn.reserve(1000);
  Egda_BaseDataStack *tile = nullptr;
  SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) {
        return (tile = eant_RenderPixRectStackCreate(&red, toolkit_, canvas.drawing, conversion_, library_, nullptr,
                                                     fill, 1, e)) != nullptr;
      },
      [&] { egda_BaseDataStackDelete(tile, nullptr); });
  eant_PatternFillFree(&fill);
  EXPECT_EQ(127, HalfOpacity());
}

// ---- Fill patterns and fill styles for a drawing -------------------------------------------------

TEST_F(SymbolRenderTest, ASymbolPatternArrivesAsPixelsWithItsRenderData) {
  Canvas canvas(100, 100);
  live_ = emsc_TestLiveBlocks(); // the drawing's own blocks and the renderer's state stay
  ErrorSlot err;
  EXPECT_EQ(nullptr,
            eant_GetFillPatternForRendering(toolkit_, canvas.drawing, conversion_, library_, nullptr, nullptr, &err));
  EXPECT_FALSE(err);

  // Solid only: the renderer's pattern without pixels.
  Eant_FillPattern solid{1, red_, 0, nullptr};
  Eevg_FillPattern *made =
      eant_GetFillPatternForRendering(toolkit_, canvas.drawing, conversion_, library_, nullptr, &solid, &err);
  ASSERT_NE(nullptr, made) << Chain(err);
  EXPECT_EQ(0, made->usePattern);
  EXPECT_EQ(nullptr, made->patternStack);
  EXPECT_EQ(nullptr, made->userData);
  eevg_FillPatternFree(&made);

  Eant_FillPattern symbols{1, half_, 1, Pattern(10, 5, 0)};
  made = eant_GetFillPatternForRendering(toolkit_, canvas.drawing, conversion_, library_, nullptr, &symbols, &err);
  ASSERT_NE(nullptr, made) << Chain(err);
  EXPECT_FALSE(err) << Chain(err);
  EXPECT_EQ(1, made->usePattern);
  ASSERT_NE(nullptr, made->patternStack);
  EXPECT_EQ(15, made->patternStack->layers[0]->columns);
  EXPECT_EQ((std::vector<int>{200, 100, 50, 255}), TilePixel(made->patternStack, 0, 0)); // the solid colour
  ASSERT_NE(nullptr, made->patternOrigin);
  EXPECT_EQ(0.0, made->patternOrigin->x);
  EXPECT_EQ(0.0, made->patternOrigin->y);
  const auto *data = static_cast<const Eant_PatternFillRenderData *>(made->userData);
  ASSERT_NE(nullptr, data);
  EXPECT_EQ(canvas.drawing, data->drawing);
  EXPECT_EQ(conversion_, data->coordConvert);
  EXPECT_EQ(library_, data->styleLibrary);
  EXPECT_EQ(1, data->solidFill);
  ASSERT_NE(nullptr, data->patternFill);
  EXPECT_NE(symbols.pattern, data->patternFill);
  EXPECT_EQ(10.0, data->patternFill->scale);
  ASSERT_NE(nullptr, data->color);
  EXPECT_EQ(255, data->color->opacity);
  EXPECT_EQ(127, made->color->opacity);
  eevg_FillPatternFree(&made);
  eant_PatternFillFree(&symbols.pattern);
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(SymbolRenderTest, AFillStyleForDrawingTakesThePatternOfTheLevelThatSetsItAndIsCachedOnce) {
  Canvas canvas(100, 100);
  live_ = emsc_TestLiveBlocks(); // the drawing's own blocks and the renderer's state stay
  ErrorSlot err;
  Eant_Style *symbol = eant_StyleCopy(symbol_, nullptr, &err);
  Eant_FillStyle *base = eant_FillStyleSetValues(
      toolkit_, library_, nullptr, &err, EANT_KEY_STYLENAME, "base", EANT_KEY_PATTERN, 1, 0, red_, 1, EEVG_MAP,
      nullptr, EEVG_MAP, nullptr, 10.0, 5.0, 0.0, symbol, 0, -1, EANT_KEY_END);
  eant_StyleFree(&symbol);
  ASSERT_NE(nullptr, base) << Chain(err);
  const int32_t baseNumber = eant_FillStyleAddToLibrary(base, library_, 0, &err);
  Eant_FillStyle *derived = eant_FillStyleSetValues(toolkit_, library_, nullptr, &err, EANT_KEY_STYLENAME, "derived",
                                                    EANT_KEY_BASESTYLE, nullptr, "base", baseNumber, EANT_KEY_TRACE,
                                                    0, -1, EANT_KEY_END);
  ASSERT_NE(nullptr, derived) << Chain(err);
  const int32_t number = eant_FillStyleAddToLibrary(derived, library_, 0, &err);
  ASSERT_FALSE(err) << Chain(err);

  Eevg_FillStyle *renderer =
      eant_GetFillStyleForRendering(toolkit_, canvas.drawing, conversion_, library_, nullptr, number, &err);
  ASSERT_NE(nullptr, renderer) << Chain(err);
  EXPECT_EQ(1, renderer->fill);
  EXPECT_EQ(0, renderer->trace);
  ASSERT_NE(nullptr, renderer->pattern);
  ASSERT_NE(nullptr, renderer->pattern->patternStack);
  EXPECT_EQ(kBlue, TilePixel(renderer->pattern->patternStack, 7, 5));
  eevg_FillStyleFree(&renderer);
  // The plain renderer fill style makes no pixels.
  renderer = eant_GetFillStyle(toolkit_, library_, number, conversion_, &err);
  ASSERT_NE(nullptr, renderer) << Chain(err);
  ASSERT_NE(nullptr, renderer->pattern);
  EXPECT_EQ(1, renderer->pattern->usePattern);
  EXPECT_EQ(nullptr, renderer->pattern->patternStack);
  eevg_FillStyleFree(&renderer);

  // The cached object is made once and kept in the style; the library knows it holds one.
  drawn.clear();
  Eevg_FillStyle *cached =
      eant_GetFillStyleForRenderingPtr(toolkit_, canvas.drawing, conversion_, library_, nullptr, number, &err);
  ASSERT_NE(nullptr, cached) << Chain(err);
  EXPECT_EQ(cached, eant_GetFillStyleForRenderingPtr(toolkit_, canvas.drawing, conversion_, library_, nullptr,
                                                     number, &err));
  EXPECT_EQ(1u, drawn.size());
  EXPECT_EQ(cached, derived->evaluatedStyle);
  EXPECT_EQ(1, library_->evaluated);

  EXPECT_EQ(nullptr, eant_GetFillStyleForRendering(toolkit_, canvas.drawing, conversion_, library_, nullptr, -1,
                                                   &err));
  EXPECT_FALSE(err);
  EXPECT_EQ(nullptr, eant_GetFillStyleForRenderingPtr(toolkit_, canvas.drawing, conversion_, library_, nullptr, 9,
                                                      &err));
  EXPECT_TRUE(Reported(err, "eant_GetFillStyleForRenderingPtr", 1));
  Eevg_FillStyle *target = eevg_FillStyleCreate(&err);
  EXPECT_EQ(nullptr, eant_FillStyleEvaluateForRendering(toolkit_, canvas.drawing, library_, nullptr, nullptr, target,
                                                        conversion_, &err));
  EXPECT_TRUE(Reported(err, "eant_FillStyleEvaluateForRendering", 1, "Invalid input fillStyle"));
  eevg_FillStyleFree(&target);
}

TEST_F(SymbolRenderTest, TheDrawingFormsOfATextStyleBuildTheCharacterFillForTheDrawing) {
  Canvas canvas(100, 100);
  live_ = emsc_TestLiveBlocks();
  ErrorSlot err;
  Eant_Style *symbol = eant_StyleCopy(symbol_, nullptr, &err);
  Eant_FillStyle *fill = eant_FillStyleSetValues(toolkit_, library_, nullptr, &err, EANT_KEY_PATTERN, 1, 0, red_, 1,
                                                 EEVG_MAP, nullptr, EEVG_MAP, nullptr, 10.0, 5.0, 0.0, symbol, 0, -1,
                                                 EANT_KEY_END);
  eant_StyleFree(&symbol);
  const int32_t fillNumber = eant_FillStyleAddToLibrary(fill, library_, 0, &err);
  const int32_t number = eant_TextStyleAddToLibrary(
      eant_TextStyleSetValues(toolkit_, library_, nullptr, &err, EANT_KEY_TEXTFILL, fillNumber, EANT_KEY_END),
      library_, 0, &err);
  ASSERT_FALSE(err) << Chain(err);
  // The pattern tile is drawn for the drawing in the drawing forms, and left undrawn otherwise.
  const auto tile = [](const Eevg_TextStyle *style) {
    return style && style->charFillStyle && style->charFillStyle->pattern
               ? style->charFillStyle->pattern->patternStack
               : nullptr;
  };
  Eevg_TextStyle *drawn =
      eant_GetTextStyleForRendering(toolkit_, canvas.drawing, library_, nullptr, nullptr, number, conversion_, &err);
  ASSERT_NE(nullptr, tile(drawn)) << Chain(err);
  EXPECT_EQ(kBlue, TilePixel(tile(drawn), 7, 5));
  eevg_TextStyleFree(&drawn);
  Eevg_TextStyle *plain = eant_GetTextStyle(toolkit_, library_, nullptr, number, conversion_, &err);
  ASSERT_NE(nullptr, plain) << Chain(err);
  EXPECT_EQ(nullptr, tile(plain));
  eevg_TextStyleFree(&plain);
  Eevg_TextStyle *cached = eant_GetTextStyleForRenderingPtr(toolkit_, canvas.drawing, library_, nullptr, nullptr,
                                                            number, conversion_, &err);
  EXPECT_NE(nullptr, tile(cached)) << Chain(err);
  Eant_TextStyle *evaluated = eant_TextStyleLookupInLibrary(library_, number, &err);
  Eevg_TextStyle *target = eevg_TextStyleCreate(&err);
  Eant_TextStyle *flat = eant_TextStyleEvaluateForRendering(toolkit_, canvas.drawing, library_, nullptr, evaluated, 1,
                                                            target, conversion_, &err);
  EXPECT_NE(nullptr, tile(target)) << Chain(err);
  eant_TextStyleFree(&flat);
  eevg_TextStyleFree(&target);
}

// ---- Line symbols ----------------------------------------------------------------------------------

class LineSymbolRenderTest : public SymbolRenderTest {
protected:
  // A line style drawing the square symbol along the line (map units: scale 4, spacing 6).
  int32_t SymbolLine(int32_t effect, int32_t useSymbol = 1) {
    ErrorSlot err;
    Eant_Style *symbol = eant_StyleCopy(symbol_, nullptr, &err);
    Eant_LineStyle *style = eant_LineStyleSetValues(
        toolkit_, library_, nullptr, &err, EANT_KEY_OVERLINE, 0, 1.0, red_, EANT_KEY_DISPLAYLINE, 0,
        EANT_KEY_USESYMBOL, useSymbol, EANT_KEY_LINESYMBOL, EEVG_MAP, nullptr, EEVG_MAP, nullptr, 4.0, 6.0, 0.0,
        effect, symbol, 0, -1, EANT_KEY_END);
    eant_StyleFree(&symbol);
    EXPECT_NE(nullptr, style) << Chain(err);
    return eant_LineStyleAddToLibrary(style, library_, 0, &err);
  }
  // Draws the line (10, 50) to (60, 50) in the style.
  void DrawLine(Canvas &canvas, Eevg_LineStyle *style) {
    ErrorSlot err;
    Efga_CoordinateBlock *line = efga_CoordBlockPtrCreate(1, &err);
    line->parts[0] = egda_BaseDataCreate(2, 2, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &err);
    const double points[4] = {10, 50, 60, 50};
    std::memcpy(line->parts[0]->origin, points, sizeof points);
    EXPECT_EQ(0, eevg_DrawPolyLineSymbol(canvas.drawing, style, line, 0, &err)) << Chain(err);
    efga_CoordBlockDelete(line, nullptr);
  }
};

TEST_F(LineSymbolRenderTest, ALineStyleWithASymbolDrawsOneSymbolElementPerPlaceAndFreesItThroughItsType) {
  ErrorSlot err;
  const int32_t plain = SymbolLine(EANT_LINESYMBOL_ASIS), unused = SymbolLine(EANT_LINESYMBOL_ASIS, 0);
  Eevg_Control *control = eevg_Init(&err); // the renderer's state, made once for the process
  eevg_Free(&control, nullptr);
  live_ = emsc_TestLiveBlocks();
  Eevg_LineStyle *style = eant_GetLineStyle(toolkit_, library_, unused, nullptr, &err);
  ASSERT_NE(nullptr, style) << Chain(err);
  EXPECT_EQ(nullptr, style->lineSymbol);
  eevg_LineStyleFree(&style);
  {
    Canvas canvas(100, 100);
    style = eant_GetLineStyle(toolkit_, library_, plain, nullptr, &err);
    ASSERT_NE(nullptr, style) << Chain(err);
    ASSERT_NE(nullptr, style->lineSymbol);
    EXPECT_EQ(4.0, style->lineSymbol->scale);
    EXPECT_EQ(6.0, style->lineSymbol->spacing);
    EXPECT_EQ(0.0, style->lineSymbol->offset);
    DrawLine(canvas, style);
    ASSERT_EQ(6u, drawn.size());
    for (std::size_t i = 0; i < drawn.size(); ++i) {
      EXPECT_DOUBLE_EQ(10.0 + 10.0 * i, drawn[i].x);
      EXPECT_DOUBLE_EQ(50.0, drawn[i].y);
      EXPECT_EQ(0.0, drawn[i].orientation);
      EXPECT_EQ(4.0, drawn[i].scale);
      EXPECT_EQ(3, drawn[i].number);
      EXPECT_FALSE(drawn[i].transformed);
    }
    const Eevg_Color &centre = canvas.pixels[static_cast<std::size_t>(100 - 1 - 50) * 100 + 30];
    EXPECT_EQ(255, centre.blue);
    // One element served every symbol; it goes with the renderer's style, through its type.
    EXPECT_EQ(0, squareFrees);
    eevg_LineStyleFree(&style);
    EXPECT_EQ(1, squareFrees);
  }
  EXPECT_TRUE(HeapAsAtStart());
}

TEST_F(LineSymbolRenderTest, EffectsAndMapTransformsTurnAndCarryEachSymbolAboutItsCentre) {
  Canvas canvas(100, 100);
  live_ = emsc_TestLiveBlocks(); // the drawing's own blocks and the renderer's state stay
  ErrorSlot err;
  // The layer's map is moved 20 units right in the drawing.
  _exfr_XForm *right = exfr_XFormTranslate(nullptr, 20, 0, &err);
  ASSERT_NE(nullptr, right) << Chain(err);
  struct Case {
    const char *what;
    int32_t effect;
    bool moved;
  } cases[] = {{"as is", EANT_LINESYMBOL_ASIS, false},
               {"half a turn", EANT_LINESYMBOL_ROTATE180, false},
               {"moved", EANT_LINESYMBOL_ASIS, true},
               {"moved and turned", EANT_LINESYMBOL_ROTATE90, true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    drawn.clear();
    conversion_->mapTransform = c.moved ? right : nullptr;
    conversion_->ownsMapTransform = 0;
    Eevg_LineStyle *style = eant_GetLineStyle(toolkit_, library_, SymbolLine(c.effect), conversion_, &err);
    ASSERT_NE(nullptr, style) << Chain(err);
    DrawLine(canvas, style);
    ASSERT_FALSE(drawn.empty());
    const Drawn &first = drawn[0];
    // The element stands in untransformed map space; the drawing transform takes it back.
    EXPECT_DOUBLE_EQ(c.moved ? -10.0 : 10.0, first.x);
    EXPECT_DOUBLE_EQ(50.0, first.y);
    EXPECT_NEAR(0.0, first.orientation, 1e-12);
    EXPECT_EQ(c.moved || c.effect != EANT_LINESYMBOL_ASIS, first.transformed);
    EXPECT_NEAR(10.0, first.tx, 1e-9);
    EXPECT_NEAR(50.0, first.ty, 1e-9);
    eevg_LineStyleFree(&style);
  }
  conversion_->mapTransform = nullptr;
  exfr_XFormFree(&right, nullptr);
}

TEST_F(LineSymbolRenderTest, ThePlainCallbackKeepsTheSizeAndTheFastOneScalesByTheFactor) {
  Canvas canvas(100, 100);
  live_ = emsc_TestLiveBlocks(); // the drawing's own blocks and the renderer's state stay
  ErrorSlot err;
  EXPECT_EQ(nullptr, eant_GetLineSymbol(nullptr, library_, conversion_, &err));
  EXPECT_FALSE(err);
  Eant_LineSymbol *symbol = eant_LineSymbolSetValues(nullptr, EEVG_OUTPUT, "points", EEVG_OUTPUT, "points", 6.0,
                                                     10.0, -2.0, EANT_LINESYMBOL_ASIS,
                                                     eant_StyleCopy(symbol_, nullptr, &err), 0, -1, &err);
  ASSERT_NE(nullptr, symbol) << Chain(err);
  const double position[2] = {30, 40};
  for (bool fast : {false, true}) {
    SCOPED_TRACE(fast);
    drawn.clear();
    Eevg_LineSymbol *made = (fast ? eant_GetLineSymbolFast : eant_GetLineSymbol)(symbol, library_, conversion_, &err);
    ASSERT_NE(nullptr, made) << Chain(err);
    // Half a map unit per point.
    EXPECT_DOUBLE_EQ(3.0, made->scale);
    EXPECT_DOUBLE_EQ(5.0, made->spacing);
    EXPECT_DOUBLE_EQ(-1.0, made->offset);
    made->render(canvas.drawing, made->userData, position, 2.0, M_PI / 2, &err);
    ASSERT_FALSE(err) << Chain(err);
    ASSERT_EQ(1u, drawn.size());
    EXPECT_DOUBLE_EQ(fast ? 6.0 : 3.0, drawn[0].scale);
    EXPECT_DOUBLE_EQ(M_PI / 2, drawn[0].orientation);
    EXPECT_EQ(30.0, drawn[0].x);
    eevg_LineSymbolFree(&made);
  }
  eant_LineSymbolFree(&symbol);
}

} // namespace
