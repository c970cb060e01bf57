// The renderer's line symbol of a line symbol: placement values in layer map units and a render
// callback that draws one symbol element per position the renderer finds along the line. One
// element, one point matrix and one inverse map transform serve every symbol of the style.
#include <memory>
#include <utility>

#include "eant_internal.h"
#include "emsc.h"

namespace lower = taviron::lower;
using namespace taviron::eant;

namespace {

// The user data of a renderer line symbol.
struct LineSymbolRenderData {
  double scale;  // map units, before the map transform (which the callback applies itself)
  int32_t effect;
  Eant_SymbolLibrary *symbols; // borrowed: the library the symbol reference names, or null
  int32_t number;              // the symbol definition
  int32_t colorOverrideFlag;
  int32_t overrideColor;
  Eant_StyleLibrary *library;          // borrowed
  Eant_CoordSysConversion *conversion; // owned copy
  Eant_Element *element;               // made by the first render
  Egda_BaseData *point;                // one 2-D point, made by the first render
  _exfr_XForm *inverse;                // of the map transform, made by the first render that needs it
};

// The renderer's free callback. The element goes through its type's free slot, so that its type
// record goes with it.
void FreeRenderData(void *userData) {
  auto *data = static_cast<LineSymbolRenderData *>(userData);
  if (!data) return;
  eant_CoordSysConversionFree(&data->conversion);
  eant_ElementFreeElement(&data->element);
  egda_BaseDataDelete(data->point, nullptr);
  exfr_XFormFree(&data->inverse, nullptr);
  emsc_HeapFree(data);
}

// Lends the drawing to a conversion without a measuring drawing for the time of one call.
class LentDrawing {
public:
  LentDrawing(Eant_CoordSysConversion *conversion, Eevg_Drawing *drawing)
      : conversion_(conversion->fakeDrawing ? nullptr : conversion) {
    if (conversion_) conversion_->fakeDrawing = drawing;
  }
  ~LentDrawing() {
    if (conversion_) conversion_->fakeDrawing = nullptr;
  }
  LentDrawing(const LentDrawing &) = delete;
  LentDrawing &operator=(const LentDrawing &) = delete;

private:
  Eant_CoordSysConversion *conversion_;
};

struct XFormDeleter {
  void operator()(_exfr_XForm *transform) const noexcept { exfr_XFormFree(&transform, nullptr); }
};
using XFormPtr = std::unique_ptr<_exfr_XForm, XFormDeleter>;

// Draws one symbol at the position (map units of the drawing) turned by the angle, scaled by the
// factor.
void RenderSymbol(Eevg_Drawing *drawing, void *userData, const double *position, double factor, double angle,
                  Eerr_ErrorReport **err) {
  static const char *reporter = "eant_LineSymbolRenderFast";
  lower::Clear(err);
  auto *data = static_cast<LineSymbolRenderData *>(userData);
  if (!data || !data->conversion || !position) {
    lower::Report(err, reporter, 1, "Invalid input renderData");
    return;
  }
  Eant_CoordSysConversion *conversion = data->conversion;
  const LentDrawing lent(conversion, drawing);
  lower::CalleeReport inner;
  if (!data->point && !(data->point = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner))) {
    lower::ReportCallee(err, inner, reporter, 2, "egda_BaseDataCreate");
    return;
  }
  auto *xy = reinterpret_cast<double *>(data->point->origin);
  xy[0] = position[0];
  xy[1] = position[1];
  // Position and direction in the layer's untransformed map space.
  if (conversion->mapTransform) {
    if (!data->inverse && !(data->inverse = exfr_XFormInvert(conversion->mapTransform, nullptr, &inner))) {
      lower::ReportCallee(err, inner, reporter, 3, "exfr_XFormInvert");
      return;
    }
    const Eevg_Coord at{position[0], position[1]};
    const PolynomialPtr direction(eant_AffinePolynomialCreate(&at, angle, 1, 1, &inner));
    if (!direction) {
      lower::ReportCallee(err, inner, reporter, 4, "eant_AffinePolynomialCreate");
      return;
    }
    if (!exfr_Transform(data->inverse, data->point, data->point, &inner)) {
      lower::ReportCallee(err, inner, reporter, 4, "exfr_Transform");
      return;
    }
    const PolynomialPtr back(exfr_TransformObjectPoly(data->inverse, direction.get(), 1, 1, &inner));
    if (!back) {
      lower::ReportCallee(err, inner, reporter, 4, "exfr_TransformObjectPoly");
      return;
    }
    double xScale = 0, yScale = 0;
    Eevg_Coord *origin = eant_ParametersGetFromPolynomial(back.get(), &angle, &xScale, &yScale, &inner);
    if (!origin) {
      lower::ReportCallee(err, inner, reporter, 4, "eant_ParametersGetFromPolynomial");
      return;
    }
    eevg_CoordFree(&origin);
  }
  const double x = xy[0], y = xy[1];
  SymbolPlacement placement{};
  placement.scaleCoordSys = placement.positionCoordSys = EEVG_MAP;
  placement.x = x;
  placement.y = y;
  placement.orientation = angle;
  placement.scale = data->scale * factor;
  placement.number = data->number;
  placement.colorOverrideFlag = data->colorOverrideFlag;
  placement.overrideColor = data->overrideColor;
  Eant_Element *element = SymbolElementSetValues(nullptr, data->element, conversion, placement, &inner);
  if (!element) {
    lower::ReportCallee(err, inner, reporter, 5, "eant_SymbolElementSetValues");
    return;
  }
  data->element = element;
  XFormPtr effect(eant_LineSymbolEffectMakeTransform(data->effect, x, y, &inner));
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 6, "eant_LineSymbolEffectMakeTransform");
    return;
  }
  // The effect turns the symbol about its centre in map space, before the map transform carries
  // it into the drawing.
  XFormPtr transform;
  if (conversion->mapTransform) {
    transform.reset(effect ? exfr_XFormComposition(effect.get(), conversion->mapTransform, &inner)
                           : exfr_XFormCopy(conversion->mapTransform, nullptr, &inner));
    if (!transform) {
      lower::ReportCallee(err, inner, reporter, 7, "exfr_XFormComposition");
      return;
    }
  } else {
    transform = std::move(effect);
  }
  eant_ElementRenderElement(eint_GetInit(), data->library, data->symbols, nullptr, drawing, element, transform.get(),
                            conversion, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 8, "eant_ElementRenderElement");
}

// The plain callback draws every symbol at its own size.
void RenderSymbolPlain(Eevg_Drawing *drawing, void *userData, const double *position, double, double angle,
                       Eerr_ErrorReport **err) {
  RenderSymbol(drawing, userData, position, 1.0, angle, err);
}

Eevg_LineSymbol *MakeLineSymbol(const char *reporter, const Eant_LineSymbol *symbol, Eant_StyleLibrary *library,
                                Eant_CoordSysConversion *conversion, Eevg_LineSymbolRenderFunction render,
                                Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!symbol) return nullptr;
  lower::CalleeReport inner;
  Eevg_LineSymbol *made = eevg_LineSymbolCreate(&inner);
  if (!made) {
    lower::ReportChained(err, inner, reporter, 1, "Error allocating the renderer's line symbol");
    return nullptr;
  }
  const auto fail = [&](int32_t code, const char *callee) -> Eevg_LineSymbol * {
    lower::ReportCallee(err, inner, reporter, code, callee);
    eevg_LineSymbolFree(&made);
    return nullptr;
  };
  // Without a conversion or units, lengths are map units already (as the line's widths are).
  const auto length = [&](auto convert, const Eant_CoordDefinition *units, double value) {
    return conversion && units ? convert(conversion, units, value, &inner) : value;
  };
  made->scale = length(eant_CoordSysConversionScaleAndTransformX, symbol->scaleUnits, symbol->scale);
  if (inner) return fail(2, "eant_CoordSysConversionScaleAndTransformX for scale");
  made->spacing = length(eant_CoordSysConversionScaleAndTransformX, symbol->positionUnits, symbol->spacing);
  if (inner) return fail(2, "eant_CoordSysConversionScaleAndTransformX for spacing");
  made->offset = length(eant_CoordSysConversionScaleAndTransformX, symbol->positionUnits, symbol->offset);
  if (inner) return fail(2, "eant_CoordSysConversionScaleAndTransformX for offset");
  auto *data = lower::HeapNew<LineSymbolRenderData>();
  if (!data) {
    lower::Report(err, reporter, 3, "Error allocating renderData");
    eevg_LineSymbolFree(&made);
    return nullptr;
  }
  made->render = render;
  made->freeFunction = &FreeRenderData;
  made->userData = data;
  data->scale = length(eant_CoordSysConversionScaleX, symbol->scaleUnits, symbol->scale);
  if (inner) return fail(4, "eant_CoordSysConversionScaleX");
  data->effect = symbol->effect;
  data->colorOverrideFlag = symbol->colorOverrideFlag;
  data->overrideColor = symbol->overrideColor;
  data->library = library;
  if (symbol->symbol) {
    data->number = symbol->symbol->number;
    data->symbols = SymbolLibraryGetFromStyle(eint_GetInit(), nullptr, symbol->symbol, &inner);
    if (inner) return fail(5, "eant_SymbolLibraryGetFromStyle");
  } else {
    data->number = -1;
  }
  if (!(data->conversion = conversion ? eant_CoordSysConversionCopy(conversion, nullptr, &inner)
                                      : eant_CoordSysConversionCreate(&inner)))
    return fail(6, "eant_CoordSysConversionCopy");
  return made;
}

} // namespace

extern "C" {

Eevg_LineSymbol *eant_GetLineSymbol(const Eant_LineSymbol *symbol, Eant_StyleLibrary *library,
                                    Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  return MakeLineSymbol(__func__, symbol, library, conversion, &RenderSymbolPlain, err);
}
TAVIRON_GUARD(err, nullptr)

Eevg_LineSymbol *eant_GetLineSymbolFast(const Eant_LineSymbol *symbol, Eant_StyleLibrary *library,
                                        Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  return MakeLineSymbol(__func__, symbol, library, conversion, &RenderSymbol, err);
}
TAVIRON_GUARD(err, nullptr)

} // extern "C"
