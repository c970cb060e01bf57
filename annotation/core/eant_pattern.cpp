// Fill patterns and pattern fills: their setters, comparisons and prints, and symbol patterns for
// drawing: a pattern fill drawn once into a tile of pixels that the renderer's pixel writers repeat
// over a filled area, the renderer fill pattern that carries the tile, and the evaluation of fill
// styles for a drawing that makes those tiles.
#include <cmath>
#include <cstring>
#include <memory>

#include "eant_internal.h"
#include "efio.h"
#include "emsc.h"

namespace lower = taviron::lower;
using namespace taviron::eant;

namespace {

struct StackDeleter {
  void operator()(Egda_BaseDataStack *stack) const noexcept { egda_BaseDataStackDelete(stack, nullptr); }
};
using StackPtr = std::unique_ptr<Egda_BaseDataStack, StackDeleter>;

// What one tile drawing holds; all of it is freed when the drawing ends, however it ends.
struct TileDrawing {
  Eevg_DeviceInfo *device = nullptr;
  Eevg_WorldInfo *world = nullptr;
  Eevg_GrIOInfo *grIO = nullptr;
  Eevg_Control *control = nullptr;
  Eevg_Drawing *drawing = nullptr;
  Eant_CoordSysConversion *conversion = nullptr;
  Eant_AnnotationInfo *info = nullptr;

  TileDrawing() = default;
  TileDrawing(const TileDrawing &) = delete;
  TileDrawing &operator=(const TileDrawing &) = delete;
  ~TileDrawing() {
    eant_AnnotationInfoFree(&info);
    eant_CoordSysConversionFree(&conversion);
    if (drawing) {
      eevg_DrawingEnd(drawing, nullptr);
      eevg_DrawingFree(&drawing, nullptr);
    }
    if (control) eevg_Free(&control, nullptr);
    eevg_GrIOInfoFree(&grIO);
    eevg_WorldInfoFree(&world);
    eevg_DeviceInfoFree(&device);
  }
};

// The tile's only pixel writer: the colour at (column, image row), fully covered.
void PutTilePixel(void *userData, const Eevg_Color *color, const double *position, Eerr_ErrorReport **) {
  auto *stack = static_cast<Egda_BaseDataStack *>(userData);
  if (!stack || !color || !position) return;
  const Egda_BaseData *plane = stack->layers[0];
  const double x = std::trunc(position[0]), y = std::trunc(position[1]);
  if (!(x >= 0 && y >= 0 && x < plane->columns && y < plane->rows)) return;
  const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(y) * plane->pitch + static_cast<std::ptrdiff_t>(x);
  stack->layers[0]->origin[at] = static_cast<uint8_t>(color->red);
  stack->layers[1]->origin[at] = static_cast<uint8_t>(color->green);
  stack->layers[2]->origin[at] = static_cast<uint8_t>(color->blue);
  stack->layers[3]->origin[at] = 255;
}

// Fills every pixel of the plane with the value.
void FillPlane(Egda_BaseData *plane, uint8_t value) {
  for (int32_t row = 0; row < plane->rows; ++row)
    std::memset(plane->origin + static_cast<std::ptrdiff_t>(row) * plane->pitch, value,
                static_cast<std::size_t>(plane->columns));
}

// The scales of a pair carried through the map transform at the reference coordinate: the
// lengths of the columns of the transformed linear part, each with the sign of the old value.
bool TransformScales(const Eant_CoordSysConversion &given, double &x, double &y, Eerr_ErrorReport **err) {
  const PolynomialPtr scales(eant_AffinePolynomialCreate(given.referenceCoord, 0, std::fabs(x), std::fabs(y), err));
  if (!scales) return false;
  const PolynomialPtr carried(exfr_TransformObjectPoly(given.mapTransform, scales.get(), 1, 1, err));
  if (!carried) return false;
  double angle = 0, xScale = 0, yScale = 0;
  Eevg_Coord *origin = eant_ParametersGetFromPolynomial(carried.get(), &angle, &xScale, &yScale, err);
  if (!origin) return false;
  eevg_CoordFree(&origin);
  x = std::copysign(xScale, x);
  y = std::copysign(yScale, y);
  return true;
}

// The pixels of a tile side of `device` device units, at most `limit`: rounded half away from
// zero, at least 1. capped is set when the limit cut it.
int32_t TileSide(double device, int32_t limit, bool &capped) {
  const double side = std::fabs(device);
  if (limit >= 1 && side >= limit + 0.5) {
    capped = true;
    return limit;
  }
  const double rounded = std::round(side);
  return rounded <= 1 ? 1 : static_cast<int32_t>(rounded);
}

// The level of the chain that sets the pattern of the style (the library it stands in with it):
// the style itself, or the nearest base whose mask holds the pattern; null when none does.
const Eant_FillStyle *PatternLevel(Eint_InitToolkitData *toolkit, const Eant_FillStyle *style,
                                   Eant_StyleLibrary *&library) {
  // Evaluation has already refused a chain that loops; the count only bounds the walk.
  for (int32_t depth = 0; style && depth < 4096; ++depth) {
    if (style->mask & EANT_FILL_PATTERN) return style;
    if (!style->baseStyle) return nullptr;
    lower::CalleeReport ignored;
    Eant_StyleLibrary *base = eant_StyleLibraryGetFromStyle(toolkit, library, style->baseStyle, &ignored);
    if (!base) return nullptr;
    library = base;
    style = eant_FillStyleLookupInLibrary(library, style->baseStyle->number, &ignored);
  }
  return nullptr;
}

// Passes a callee's warning on beside a result (a report with a result is a warning).
void PassWarning(Eerr_ErrorReport **err, lower::CalleeReport &inner, const char *reporter, int32_t code,
                 const char *callee) {
  if (inner) ReportWarning(err, inner, reporter, code, "Error returned from %s", callee);
}

} // namespace

extern "C" {

// ---- Fill patterns and pattern fills ------------------------------------------------------------

Eant_FillPattern *eant_FillPatternSetValues(Eant_FillPattern *pattern, int32_t color, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  if (!pattern && !(pattern = eant_FillPatternCreate(&inner))) {
    lower::ReportCallee(err, inner, "eant_FillPatternSetValues", 1, "eant_FillPatternCreate");
    return nullptr;
  }
  pattern->solidFill = 1;
  pattern->color = color;
  pattern->patternFill = 0;
  return pattern;
}
TAVIRON_GUARD(err, nullptr)

Eant_PatternFill *eant_PatternFillSetValues(Eant_PatternFill *fill, int32_t scaleCoordSys, const char *scaleUnits,
                                            int32_t positionCoordSys, const char *positionUnits, double scale,
                                            double xsep, double ysep, Eant_Style *symbol, int32_t colorOverrideFlag,
                                            int32_t overrideColor, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_PatternFillSetValues";
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_PatternFill *made = nullptr;
  if (!fill && !(fill = made = eant_PatternFillCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_PatternFillCreate");
    return nullptr;
  }
  const auto units = [&](Eant_CoordDefinition *&slot, int32_t coordSys, const char *name, int32_t code,
                         const char *callee) {
    if (Eant_CoordDefinition *set = eant_CoordDefinitionSetValues(slot, coordSys, name, &inner)) {
      slot = set;
      return true;
    }
    lower::ReportCallee(err, inner, reporter, code, callee);
    eant_PatternFillFree(&made);
    return false;
  };
  if (!units(fill->scaleUnits, scaleCoordSys, scaleUnits, 2, "eant_CoordDefinitionSetValues for scaleUnits") ||
      !units(fill->positionUnits, positionCoordSys, positionUnits, 3,
             "eant_CoordDefinitionSetValues for positionUnits"))
    return nullptr;
  fill->scale = scale;
  fill->xsep = xsep;
  fill->ysep = ysep;
  fill->colorOverrideFlag = colorOverrideFlag;
  fill->overrideColor = overrideColor;
  if (fill->symbol != symbol) {
    eant_StyleFree(&fill->symbol);
    fill->symbol = symbol;
  }
  return fill;
}
TAVIRON_GUARD(err, nullptr)

Eant_FillPattern *eant_FillPatternSetAllValues(Eant_FillPattern *pattern, int32_t solidFill, int32_t color,
                                               int32_t patternFill, int32_t scaleCoordSys, const char *scaleUnits,
                                               int32_t positionCoordSys, const char *positionUnits, double scale,
                                               double xsep, double ysep, Eant_Style *symbol,
                                               int32_t colorOverrideFlag, int32_t overrideColor,
                                               Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_FillPatternSetAllValues";
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_FillPattern *made = nullptr;
  if (!pattern && !(pattern = made = eant_FillPatternCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_FillPatternCreate");
    return nullptr;
  }
  pattern->solidFill = solidFill;
  pattern->color = color;
  pattern->patternFill = patternFill;
  if (patternFill != 1) {
    eant_PatternFillFree(&pattern->pattern);
    return pattern;
  }
  Eant_PatternFill *fill =
      eant_PatternFillSetValues(pattern->pattern, scaleCoordSys, scaleUnits, positionCoordSys, positionUnits, scale,
                                xsep, ysep, symbol, colorOverrideFlag, overrideColor, &inner);
  if (!fill) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_PatternFillSetValues");
    eant_FillPatternFree(&made);
    return nullptr;
  }
  pattern->pattern = fill;
  return pattern;
}
TAVIRON_GUARD(err, nullptr)

int32_t eant_PatternFillCompare(const Eant_PatternFill *a, const Eant_PatternFill *b, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!a || !b) return !a && !b ? 1 : 0;
  return eant_CoordDefinitionCompare(a->scaleUnits, b->scaleUnits, nullptr) == 1 &&
                 eant_CoordDefinitionCompare(a->positionUnits, b->positionUnits, nullptr) == 1 &&
                 a->scale == b->scale && a->xsep == b->xsep && a->ysep == b->ysep &&
                 eant_StyleCompare(a->symbol, b->symbol, nullptr) == 1 &&
                 a->colorOverrideFlag == b->colorOverrideFlag && a->overrideColor == b->overrideColor
             ? 1
             : 0;
}
TAVIRON_GUARD(err, 0)

int32_t eant_FillPatternCompare(const Eant_FillPattern *a, const Eant_FillPattern *b, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!a || !b) return !a && !b ? 1 : 0;
  return a->solidFill == b->solidFill && a->color == b->color && a->patternFill == b->patternFill &&
                 eant_PatternFillCompare(a->pattern, b->pattern, nullptr) == 1
             ? 1
             : 0;
}
TAVIRON_GUARD(err, 0)

void eant_PatternFillPrint(const Eant_PatternFill *fill, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_PatternFillPrint";
  lower::Clear(err);
  efio_Printf("PatternFill:\n");
  if (!fill) return;
  lower::CalleeReport inner;
  eant_CoordDefinitionPrint(fill->scaleUnits, &inner);
  if (!inner) eant_CoordDefinitionPrint(fill->positionUnits, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 1, "eant_CoordDefinitionPrint");
  efio_Printf("    scale - %lf\n    xsep - %lf\n    ysep - %lf\n", fill->scale, fill->xsep, fill->ysep);
  eant_StylePrint(fill->symbol, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 2, "eant_StylePrint");
  efio_Printf("    colorOverrideFlag - %d\n    overrideColor - %ld\n", fill->colorOverrideFlag,
              static_cast<long>(fill->overrideColor));
}
TAVIRON_GUARD_VOID(err)

void eant_FillPatternPrint(const Eant_FillPattern *pattern, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  efio_Printf("FillPattern:\n");
  if (!pattern) return;
  efio_Printf("    solidFill - %d\n    color - %ld\n    patternFill - %d\n", pattern->solidFill,
              static_cast<long>(pattern->color), pattern->patternFill);
  lower::CalleeReport inner;
  eant_PatternFillPrint(pattern->pattern, &inner);
  if (inner) lower::ReportCallee(err, inner, "eant_FillPatternPrint", 1, "eant_PatternFillPrint");
}
TAVIRON_GUARD_VOID(err)

// ---- Symbol patterns for drawing ----------------------------------------------------------------

Eant_PatternFillRenderData *eant_PatternFillRenderDataCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *data = lower::HeapNew<Eant_PatternFillRenderData>();
  if (!data) lower::Report(err, "eant_PatternFillRenderDataCreate", 1, "Error allocating PatternFillRenderData");
  return data;
}
TAVIRON_GUARD(err, nullptr)

void eant_PatternFillRenderDataFree(Eant_PatternFillRenderData **data) try {
  if (!data || !*data) return;
  eant_PatternFillFree(&(*data)->patternFill);
  eevg_ColorFree(&(*data)->color);
  emsc_HeapFreeEx(data);
}
TAVIRON_GUARD_QUIET_VOID

Egda_BaseDataStack *eant_RenderPixRectStackCreate(const Eevg_Color *color, Eint_InitToolkitData *toolkit,
                                                  Eevg_Drawing *drawing, Eant_CoordSysConversion *conversion,
                                                  Eant_StyleLibrary *library, Eant_SymbolLibrary *symbols,
                                                  const Eant_PatternFill *patternFill, int32_t solidFill,
                                                  Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_RenderPixRectStackCreate";
  lower::Clear(err);
  if (!patternFill) {
    lower::Report(err, reporter, 1, "Invalid input patternFill");
    return nullptr;
  }
  if (!drawing || !conversion) {
    lower::Report(err, reporter, 2, "Invalid input %s", drawing ? "coordConvert" : "drawing");
    return nullptr;
  }
  lower::CalleeReport inner;
  // The cell of one symbol and its gaps, in layer map units.
  const double s = eant_CoordSysConversionScaleAndTransformX(conversion, patternFill->scaleUnits, patternFill->scale,
                                                             &inner);
  const double xs = inner ? 0
                          : eant_CoordSysConversionScaleAndTransformX(conversion, patternFill->positionUnits,
                                                                      patternFill->xsep, &inner);
  const double ys = inner ? 0
                          : eant_CoordSysConversionScaleAndTransformY(conversion, patternFill->positionUnits,
                                                                      patternFill->ysep, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_CoordSysConversionScaleAndTransformX");
    return nullptr;
  }
  const double w = s + xs, h = s + ys;
  double dx = 0, dy = 0;
  int32_t deviceWidth = 0, deviceHeight = 0;
  eevg_PointScaleToDevice(drawing, w, h, &dx, &dy, &inner);
  if (!inner) eevg_DrawingGetDeviceSize(drawing, &deviceWidth, &deviceHeight, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 4, "eevg_PointScaleToDevice");
    return nullptr;
  }
  if (!std::isfinite(dx) || !std::isfinite(dy)) {
    lower::Report(err, reporter, 4, "Invalid pattern tile size %g by %g", dx, dy);
    return nullptr;
  }
  // A cell larger than the drawing is cut to the drawing's size around its centre: the symbol
  // keeps its size, and no more pixels are made than the drawing can show.
  bool capped = false;
  const int32_t columns = TileSide(dx, deviceWidth, capped), rows = TileSide(dy, deviceHeight, capped);
  const double cutX = std::fabs(dx) > columns ? w * columns / std::fabs(dx) : w;
  const double cutY = std::fabs(dy) > rows ? h * rows / std::fabs(dy) : h;

  TileDrawing tile;
  if (!(tile.device = eevg_DeviceInfoCreate(&inner)) || !(tile.world = eevg_WorldInfoCreate(&inner))) {
    lower::ReportChained(err, inner, reporter, 5, "Error allocating the tile's device");
    return nullptr;
  }
  tile.device->deviceType = 0;
  tile.device->width = columns;
  tile.device->height = rows;
  tile.device->lineWidthUnit = 3;
  tile.device->antiAlias = 0;
  tile.device->colorMode = EEVG_TRUECOLOR;
  *tile.world->lowerLeft = {w / 2 - cutX / 2, h / 2 - cutY / 2};
  *tile.world->upperRight = {w / 2 + cutX / 2, h / 2 + cutY / 2};

  StackPtr stack(egda_BaseDataStackCreate(4, rows, columns, EGDA_TYPE_U8, EGDA_RASTER, &inner));
  if (!stack) {
    lower::ReportCallee(err, inner, reporter, 6, "egda_BaseDataStackCreate");
    return nullptr;
  }
  const bool solid = solidFill == 1 && color;
  FillPlane(stack->layers[0], solid ? static_cast<uint8_t>(color->red) : 0);
  FillPlane(stack->layers[1], solid ? static_cast<uint8_t>(color->green) : 0);
  FillPlane(stack->layers[2], solid ? static_cast<uint8_t>(color->blue) : 0);
  FillPlane(stack->layers[3], solid ? 255 : 0);

  if (!(tile.grIO = eevg_GrIOInfoCreate(&inner))) {
    lower::ReportChained(err, inner, reporter, 7, "Error allocating the tile's graphics output");
    return nullptr;
  }
  tile.grIO->userData = stack.get();
  tile.grIO->putPixel = &PutTilePixel;
  if (!(tile.control = eevg_Init(&inner))) {
    lower::ReportCallee(err, inner, reporter, 8, "eevg_Init");
    return nullptr;
  }
  if (!(tile.drawing = eevg_DrawingInit(tile.control, tile.device, tile.world, tile.grIO, &inner))) {
    lower::ReportCallee(err, inner, reporter, 8, "eevg_DrawingInit");
    return nullptr;
  }
  // The tile's conversion: the given scales, map units of their own, no map transform.
  if (!(tile.conversion = eant_CoordSysConversionSetValues(nullptr, conversion->nduScaleX, conversion->nduScaleY,
                                                          conversion->pageScaleX, conversion->pageScaleY, 0, 0,
                                                          conversion->pageUnits, "other", &inner))) {
    lower::ReportCallee(err, inner, reporter, 9, "eant_CoordSysConversionSetValues");
    return nullptr;
  }
  if (conversion->mapTransform &&
      (!TransformScales(*conversion, tile.conversion->nduScaleX, tile.conversion->nduScaleY, &inner) ||
       !TransformScales(*conversion, tile.conversion->pageScaleX, tile.conversion->pageScaleY, &inner))) {
    lower::ReportCallee(err, inner, reporter, 10, "TransformScales");
    return nullptr;
  }
  // A throw-away layer of one symbol, over copies of the libraries.
  if (!(tile.info = eant_AnnotationInfoCreate(toolkit, &inner))) {
    lower::ReportCallee(err, inner, reporter, 11, "eant_AnnotationInfoCreate");
    return nullptr;
  }
  if (library && !(tile.info->styleLib = eant_StyleLibraryCopy(library, nullptr, &inner))) {
    lower::ReportCallee(err, inner, reporter, 11, "eant_StyleLibraryCopy");
    return nullptr;
  }
  if (!(tile.info->symbolLib = symbols ? SymbolLibraryCopy(symbols, &inner) : eant_SymbolLibraryCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 11, symbols ? "eant_SymbolLibraryCopy" : "eant_SymbolLibraryCreateDefault");
    return nullptr;
  }
  eant_GetFakeEevgDrawing(tile.info, tile.control, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 11, "eant_GetFakeEevgDrawing");
    return nullptr;
  }
  SymbolPlacement placement{};
  placement.scaleCoordSys = placement.positionCoordSys = EEVG_MAP;
  placement.scaleUnits = placement.positionUnits = "other";
  placement.x = w / 2;
  placement.y = h / 2;
  placement.scale = s;
  placement.symbol = patternFill->symbol;
  placement.number = -1;
  placement.colorOverrideFlag = patternFill->colorOverrideFlag;
  placement.overrideColor = patternFill->overrideColor;
  if (!(tile.info->elements = SymbolElementSetValues(tile.info, nullptr, tile.conversion, placement, &inner))) {
    lower::ReportCallee(err, inner, reporter, 12, "eant_SymbolElementSetValues");
    return nullptr;
  }
  // The symbol's own opacity would let the renderer dither it; the tile carries full coverage.
  // The throw-away layer's libraries are fresh copies whose renderer objects go with them: the
  // cached objects of the loaded libraries, which a drawing in progress may hold, stay.
  eant_ColorSetIgnoreOpacityForEevg(1);
  eant_AnnotationRenderWithoutClearingStyles(tile.info, nullptr, tile.conversion, tile.drawing, &inner);
  eant_ColorSetIgnoreOpacityForEevg(0);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 13, "eant_AnnotationRender");
    return nullptr;
  }
  if (capped) {
    lower::CalleeReport none;
    ReportWarning(err, none, reporter, 14, "Pattern tile of %.0f by %.0f pixels cut to the drawing's %d by %d",
                  std::fabs(dx), std::fabs(dy), columns, rows);
  }
  return stack.release();
}
TAVIRON_GUARD(err, nullptr)

Eevg_FillPattern *eant_GetFillPatternForRendering(Eint_InitToolkitData *toolkit, Eevg_Drawing *drawing,
                                                  Eant_CoordSysConversion *conversion, Eant_StyleLibrary *library,
                                                  Eant_SymbolLibrary *symbols, const Eant_FillPattern *pattern,
                                                  Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GetFillPatternForRendering";
  lower::Clear(err);
  if (!pattern) return nullptr;
  lower::CalleeReport inner;
  Eevg_FillPattern *made = eant_GetFillPattern(toolkit, library, pattern, &inner);
  if (!made) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_GetFillPattern");
    return nullptr;
  }
  if (made->usePattern != 1) return made; // solid only
  const auto fail = [&](int32_t code, const char *callee) -> Eevg_FillPattern * {
    lower::ReportCallee(err, inner, reporter, code, callee);
    eevg_FillPatternFree(&made);
    return nullptr;
  };
  made->patternStack = eant_RenderPixRectStackCreate(made->color, toolkit, drawing, conversion, library, symbols,
                                                     pattern->pattern, pattern->solidFill, &inner);
  if (!made->patternStack) return fail(2, "eant_RenderPixRectStackCreate");
  lower::CalleeReport capped; // a tile cut to the drawing's size: a warning passed on with the result
  *&capped = inner.Release();
  if (!(made->patternOrigin = eevg_CoordCreate(&inner))) return fail(3, "eevg_CoordCreate");
  made->patternOrigin->x = made->patternOrigin->y = 0;
  Eant_PatternFillRenderData *data = eant_PatternFillRenderDataCreate(&inner);
  if (!data) return fail(4, "eant_PatternFillRenderDataCreate");
  made->userData = data;
  made->freeFunction = [](void *userData) {
    auto *data = static_cast<Eant_PatternFillRenderData *>(userData);
    eant_PatternFillRenderDataFree(&data);
  };
  data->drawing = drawing;
  data->coordConvert = conversion;
  data->styleLibrary = library;
  data->symbolLibrary = symbols;
  data->solidFill = pattern->solidFill;
  if (!(data->patternFill = eant_PatternFillCopy(pattern->pattern, nullptr, &inner)))
    return fail(5, "eant_PatternFillCopy");
  if (made->color) {
    if (!(data->color = eevg_ColorCopy(made->color, nullptr, &inner))) return fail(5, "eevg_ColorCopy");
    data->color->opacity = 255;
  }
  PassWarning(err, capped, reporter, 2, "eant_RenderPixRectStackCreate");
  return made;
}
TAVIRON_GUARD(err, nullptr)

Eant_FillStyle *eant_FillStyleEvaluateForRendering(Eint_InitToolkitData *toolkit, Eevg_Drawing *drawing,
                                                   Eant_StyleLibrary *library, Eant_SymbolLibrary *symbols,
                                                   const Eant_FillStyle *style, Eevg_FillStyle *target,
                                                   Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_FillStyleEvaluateForRendering";
  lower::Clear(err);
  if (!style) {
    lower::Report(err, reporter, 1, "Invalid input fillStyle");
    return nullptr;
  }
  if (!target) {
    lower::Report(err, reporter, 2, "Invalid input Eevg_FillStyle");
    return nullptr;
  }
  // Every level fills the target as for any evaluation; then the pattern of the level that sets it
  // is made again, drawn for the drawing with that level's library.
  lower::CalleeReport inner;
  Eant_FillStyle *evaluated = eant_FillStyleEvaluate(toolkit, library, style, 1, target, conversion, &inner);
  if (!evaluated) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_FillStyleEvaluate");
    return nullptr;
  }
  Eant_StyleLibrary *levelLibrary = library;
  if (!PatternLevel(toolkit, style, levelLibrary) || !evaluated->pattern) return evaluated;
  Eevg_FillPattern *pattern = eant_GetFillPatternForRendering(toolkit, drawing, conversion, levelLibrary, symbols,
                                                              evaluated->pattern, &inner);
  if (!pattern) {
    eant_FillStyleFree(&evaluated);
    lower::ReportCallee(err, inner, reporter, 4, "eant_GetFillPatternForRendering");
    return nullptr;
  }
  eevg_FillPatternFree(&target->pattern);
  target->pattern = pattern;
  PassWarning(err, inner, reporter, 4, "eant_GetFillPatternForRendering");
  return evaluated;
}
TAVIRON_GUARD(err, nullptr)

Eevg_FillStyle *eant_GetFillStyleForRendering(Eint_InitToolkitData *toolkit, Eevg_Drawing *drawing,
                                              Eant_CoordSysConversion *conversion, Eant_StyleLibrary *library,
                                              Eant_SymbolLibrary *symbols, int32_t number,
                                              Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GetFillStyleForRendering";
  lower::Clear(err);
  if (number == -1) return nullptr;
  lower::CalleeReport inner;
  const Eant_FillStyle *style = eant_FillStyleLookupInLibrary(library, number, &inner);
  if (!style) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_FillStyleLookupInLibrary");
    return nullptr;
  }
  Eevg_FillStyle *renderer = eevg_FillStyleCreate(&inner);
  if (!renderer) {
    lower::ReportChained(err, inner, reporter, 2, "Error allocating the renderer's fill style");
    return nullptr;
  }
  Eant_FillStyle *evaluated =
      eant_FillStyleEvaluateForRendering(toolkit, drawing, library, symbols, style, renderer, conversion, &inner);
  if (!evaluated) {
    eevg_FillStyleFree(&renderer);
    lower::ReportCallee(err, inner, reporter, 3, "eant_FillStyleEvaluateForRendering");
    return nullptr;
  }
  eant_FillStyleFree(&evaluated);
  PassWarning(err, inner, reporter, 3, "eant_FillStyleEvaluateForRendering");
  return renderer;
}
TAVIRON_GUARD(err, nullptr)

Eevg_FillStyle *eant_GetFillStyleForRenderingPtr(Eint_InitToolkitData *toolkit, Eevg_Drawing *drawing,
                                                 Eant_CoordSysConversion *conversion, Eant_StyleLibrary *library,
                                                 Eant_SymbolLibrary *symbols, int32_t number,
                                                 Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GetFillStyleForRenderingPtr";
  lower::Clear(err);
  if (number == -1) return nullptr;
  lower::CalleeReport inner;
  Eant_FillStyle *style = eant_FillStyleLookupInLibrary(library, number, &inner);
  if (!style) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_FillStyleLookupInLibrary");
    return nullptr;
  }
  if (style->evaluatedStyle) return style->evaluatedStyle;
  Eevg_FillStyle *renderer =
      eant_GetFillStyleForRendering(toolkit, drawing, conversion, library, symbols, number, &inner);
  if (!renderer) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_GetFillStyleForRendering");
    return nullptr;
  }
  style->evaluatedStyle = renderer;
  library->evaluated = 1;
  PassWarning(err, inner, reporter, 2, "eant_GetFillStyleForRendering");
  return renderer;
}
TAVIRON_GUARD(err, nullptr)

} // extern "C"
