// Coordinate definitions (a coordinate system and its units) and the conversions of lengths,
// positions and position polynomials between a layer's NDU, paper and map units.
#include <cmath>
#include <cstring>
#include <utility>

#include "ecvt.h"
#include "eant_internal.h"
#include "efio.h"
#include "egda_pixel.h"
#include "emsc.h"

namespace lower = taviron::lower;
namespace record = taviron::record;
using namespace taviron::eant;

namespace {

// The definition's units, or null when it names none.
const char *UnitsOf(const Eant_CoordDefinition *definition) { return Text(definition->units); }

const char *Named(const char *name) { return name && *name ? name : nullptr; }

// convert(value, from, to): a value between two named units; unchanged when a name is missing or
// both match. A warning of the lower layer (severity 1) is dropped; false with its report in
// inner on any other failure.
bool ConvertUnits(double value, const char *from, const char *to, double &result, lower::CalleeReport &inner) {
  result = value;
  from = Named(from);
  to = Named(to);
  if (!from || !to || estr_Eqic(from, to)) return true;
  double converted = value;
  const int32_t status = ecvt_UnitsConvertByName(&value, from, &converted, to, 1, &inner);
  if (inner && inner->severity <= 1 && status == 0) inner.Drop();
  if (inner || status != 0) return false;
  result = converted;
  return true;
}

// The common checks of the conversions: code 1 for the conversion, 2 for the definition.
bool Checked(const Eant_CoordSysConversion *conversion, const Eant_CoordDefinition *definition,
             const char *reporter, Eerr_ErrorReport **err) {
  if (!conversion) {
    lower::Report(err, reporter, 1, "Invalid input coordConvert");
    return false;
  }
  if (!definition) {
    lower::Report(err, reporter, 2, "Invalid input coordinate definition");
    return false;
  }
  return true;
}

// A definition built on the spot from a code and a units name (not copied).
Eant_CoordDefinition Definition(int32_t coordSys, const char *units) {
  Eant_CoordDefinition definition{coordSys, {0, nullptr}};
  if (units) {
    definition.units.count = static_cast<int32_t>(std::strlen(units) + 1);
    definition.units.data = const_cast<char *>(units);
  }
  return definition;
}

// Lengths along one axis: the X operations read the x factors and the first linear column.
struct Axis {
  double Eant_CoordSysConversion::*ndu;
  double Eant_CoordSysConversion::*page;
  int32_t column;
  const char *scale, *invScale, *scaleAndTransform, *invScaleAndTransform;
};
constexpr Axis kX{&Eant_CoordSysConversion::nduScaleX, &Eant_CoordSysConversion::pageScaleX, 0,
                  "eant_CoordSysConversionScaleX", "eant_CoordSysConversionInvScaleX",
                  "eant_CoordSysConversionScaleAndTransformX", "eant_CoordSysConversionInvScaleAndTransformX"};
constexpr Axis kY{&Eant_CoordSysConversion::nduScaleY, &Eant_CoordSysConversion::pageScaleY, 1,
                  "eant_CoordSysConversionScaleY", "eant_CoordSysConversionInvScaleY",
                  "eant_CoordSysConversionScaleAndTransformY", "eant_CoordSysConversionInvScaleAndTransformY"};

double Scale(const Axis &axis, Eant_CoordSysConversion *conversion, const Eant_CoordDefinition *definition,
             double value, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!Checked(conversion, definition, axis.scale, err)) return value;
  lower::CalleeReport inner;
  double result = value;
  switch (definition->coordSys) {
  case EEVG_NDU: return value * conversion->*axis.ndu;
  case EEVG_MAP:
    if (!ConvertUnits(value, UnitsOf(definition), conversion->mapUnits, result, inner)) {
      lower::ReportCallee(err, inner, axis.scale, 3, "ecvt_UnitsConvertByName for MAP units");
      return value;
    }
    return result;
  case EEVG_OUTPUT:
    if (!ConvertUnits(value, UnitsOf(definition), conversion->pageUnits, result, inner)) {
      lower::ReportCallee(err, inner, axis.scale, 3, "ecvt_UnitsConvertByName");
      return value;
    }
    return result * conversion->*axis.page;
  default: lower::Report(err, axis.scale, 4, "Invalid coordDef"); return value;
  }
}

double InvScale(const Axis &axis, Eant_CoordSysConversion *conversion, const Eant_CoordDefinition *definition,
                double value, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!Checked(conversion, definition, axis.invScale, err)) return value;
  lower::CalleeReport inner;
  double result = value;
  switch (definition->coordSys) {
  case EEVG_NDU: return value / conversion->*axis.ndu;
  case EEVG_MAP:
    if (!ConvertUnits(value, conversion->mapUnits, UnitsOf(definition), result, inner)) {
      lower::ReportCallee(err, inner, axis.invScale, 3, "ecvt_UnitsConvertByName for MAP units");
      return value;
    }
    return result;
  case EEVG_OUTPUT:
    if (!ConvertUnits(value / conversion->*axis.page, conversion->pageUnits, UnitsOf(definition), result, inner)) {
      lower::ReportCallee(err, inner, axis.invScale, 3, "ecvt_UnitsConvertByName for OUTPUT units");
      return value;
    }
    return result;
  default: lower::Report(err, axis.invScale, 4, "Invalid coordDef"); return value;
  }
}

// The length `value` at the reference point carried through a transform: the length of the
// axis's linear column of an affine polynomial of scale |value| carried through it, with the sign
// of value. False with the report in err on a failure.
bool Carried(const Axis &axis, const _exfr_XForm *transform, const Eevg_Coord *reference, double value,
             double &result, const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  Efga_Polynomial *polynomial = eant_AffinePolynomialCreate(reference, 0, std::fabs(value), std::fabs(value), &inner);
  if (!polynomial) {
    lower::ReportCallee(err, inner, reporter, code, "eant_AffinePolynomialCreate");
    return false;
  }
  Efga_Polynomial *through = exfr_TransformObjectPoly(transform, polynomial, 1, 1, &inner);
  efga_PolynomialDelete(polynomial, nullptr);
  if (!through) {
    lower::ReportCallee(err, inner, reporter, code + 1, "exfr_TransformObjectPoly");
    return false;
  }
  const Egda_BaseData &linear = *through->coefficients;
  const double length = std::hypot(lower::At<double>(linear, 0, axis.column), lower::At<double>(linear, 1, axis.column));
  efga_PolynomialDelete(through, nullptr);
  result = std::copysign(length, value);
  return true;
}

double ScaleAndTransform(const Axis &axis, Eant_CoordSysConversion *conversion,
                         const Eant_CoordDefinition *definition, double value, Eerr_ErrorReport **err) {
  lower::Clear(err);
  const char *reporter = axis.scaleAndTransform;
  lower::CalleeReport inner;
  const double scaled = Scale(axis, conversion, definition, value, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 1, axis.scale);
    return scaled;
  }
  if (!conversion->mapTransform) return scaled;
  double result = scaled;
  Carried(axis, conversion->mapTransform, conversion->referenceCoord, scaled, result, reporter, 2, err);
  return result;
}

double InvScaleAndTransform(const Axis &axis, Eant_CoordSysConversion *conversion,
                            const Eant_CoordDefinition *definition, double value, Eerr_ErrorReport **err) {
  lower::Clear(err);
  const char *reporter = axis.invScaleAndTransform;
  if (!Checked(conversion, definition, reporter, err)) return value;
  lower::CalleeReport inner;
  double length = value;
  if (conversion->mapTransform) {
    _exfr_XForm *inverse = exfr_XFormInvert(conversion->mapTransform, nullptr, &inner);
    if (!inverse) {
      lower::ReportCallee(err, inner, reporter, 3, "exfr_XFormInvert");
      return value;
    }
    const bool carried = Carried(axis, inverse, conversion->referenceCoord, value, length, reporter, 4, err);
    exfr_XFormFree(&inverse, nullptr);
    if (!carried) return value;
  }
  const double result = InvScale(axis, conversion, definition, length, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 6, axis.invScale);
  return result;
}

// A length from one system into another, through map units.
double ConvertScale(const Axis &axis, bool transformed, const char *reporter, Eant_CoordSysConversion *conversion,
                    int32_t fromCoordSys, const char *fromUnits, int32_t toCoordSys, const char *toUnits,
                    double value, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!conversion) {
    lower::Report(err, reporter, 1, "Invalid input coordConvert");
    return value;
  }
  const Eant_CoordDefinition from = Definition(fromCoordSys, fromUnits);
  const Eant_CoordDefinition to = Definition(toCoordSys, toUnits);
  lower::CalleeReport inner;
  const double map = transformed ? ScaleAndTransform(axis, conversion, &from, value, &inner)
                                 : Scale(axis, conversion, &from, value, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 2, transformed ? axis.scaleAndTransform : axis.scale);
    return map;
  }
  const double result = transformed ? InvScaleAndTransform(axis, conversion, &to, map, &inner)
                                    : InvScale(axis, conversion, &to, map, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 3, transformed ? axis.invScaleAndTransform : axis.invScale);
  return result;
}

// Positions: into map coordinates (forward) or back into the definition's system.
Eevg_Coord *Translate(bool forward, Eant_CoordSysConversion *conversion, const Eant_CoordDefinition *definition,
                      const Eevg_Coord *coord, Eerr_ErrorReport **err) {
  const char *reporter =
      forward ? "eant_CoordSysConversionTranslateCoord" : "eant_CoordSysConversionInvTranslateCoord";
  lower::Clear(err);
  if (!Checked(conversion, definition, reporter, err)) return nullptr;
  if (!coord) {
    lower::Report(err, reporter, 3, "Invalid input coord");
    return nullptr;
  }
  lower::CalleeReport inner;
  Eevg_Coord *result = eevg_CoordCopy(coord, nullptr, &inner);
  if (!result) {
    lower::ReportCallee(err, inner, reporter, 4, "eevg_CoordCopy");
    return nullptr;
  }
  const char *units = UnitsOf(definition);
  switch (definition->coordSys) {
  case EEVG_MAP: {
    const char *from = forward ? units : conversion->mapUnits;
    const char *to = forward ? conversion->mapUnits : units;
    if (!ConvertUnits(coord->x, from, to, result->x, inner)) {
      lower::ReportCallee(err, inner, reporter, 6, "ecvt_UnitsConvertByName for map x-translatation");
    } else if (!ConvertUnits(coord->y, from, to, result->y, inner)) {
      lower::ReportCallee(err, inner, reporter, 7, "ecvt_UnitsConvertByName for map y-translatation");
    }
    return result;
  }
  case EEVG_OUTPUT:
    if (forward) {
      if (!ConvertUnits(coord->x, units, conversion->pageUnits, result->x, inner)) {
        lower::ReportCallee(err, inner, reporter, 8, "ecvt_UnitsConvertByName for x-translatation");
        return result;
      }
      result->x = result->x * conversion->pageScaleX + conversion->pageOffsetX;
      if (!ConvertUnits(coord->y, units, conversion->pageUnits, result->y, inner)) {
        lower::ReportCallee(err, inner, reporter, 9, "ecvt_UnitsConvertByName for y-translatation");
        return result;
      }
      result->y = result->y * conversion->pageScaleY + conversion->pageOffsetY;
    } else {
      if (!ConvertUnits((coord->x - conversion->pageOffsetX) / conversion->pageScaleX, conversion->pageUnits, units,
                        result->x, inner)) {
        lower::ReportCallee(err, inner, reporter, 8, "ecvt_UnitsConvertByName for x-translatation");
      } else if (!ConvertUnits((coord->y - conversion->pageOffsetY) / conversion->pageScaleY, conversion->pageUnits,
                               units, result->y, inner)) {
        lower::ReportCallee(err, inner, reporter, 9, "ecvt_UnitsConvertByName for y-translatation");
      }
    }
    return result;
  case EEVG_NDU: lower::Report(err, reporter, 5, "NDU translation makes no sense"); break;
  default: lower::Report(err, reporter, 10, "Invalid coordDef"); break;
  }
  eevg_CoordFree(&result);
  return nullptr;
}

// Deletes a polynomial made here when it leaves scope, unless taken.
struct PolynomialHolder {
  Efga_Polynomial *polynomial = nullptr;
  ~PolynomialHolder() { efga_PolynomialDelete(polynomial, nullptr); }
  Efga_Polynomial *Take() { return std::exchange(polynomial, nullptr); }
};

// The polynomial of a unit to the standard unit of its kind (toStandard) or from it.
bool UnitPolynomial(const char *units, bool toStandard, int32_t *kind, PolynomialHolder &out,
                    lower::CalleeReport &inner) {
  return ecvt_UnitSetByName(units, kind, toStandard ? &out.polynomial : nullptr,
                            toStandard ? nullptr : &out.polynomial, &inner) == 0;
}

Efga_Polynomial *Composed(const Efga_Polynomial *after, const Efga_Polynomial *first, const char *reporter,
                          int32_t code, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  Efga_Polynomial *composed = efga_PolynomialComposition(after, first, &inner);
  if (!composed) lower::ReportCallee(err, inner, reporter, code, "efga_PolynomialComposition");
  return composed;
}

Efga_Polynomial *TranslationPoly(Eant_CoordSysConversion *conversion, const Eant_CoordDefinition *definition,
                                 Eerr_ErrorReport **err) {
  static const char *reporter = "eant_CoordSysConversionGetTranslationPolyAllowNULL";
  lower::Clear(err);
  if (!Checked(conversion, definition, reporter, err)) return nullptr;
  const char *units = Named(UnitsOf(definition));
  lower::CalleeReport inner;
  switch (definition->coordSys) {
  case EEVG_NDU: lower::Report(err, reporter, 3, "NDU translation makes no sense"); return nullptr;
  case EEVG_MAP: {
    const char *mapUnits = Named(conversion->mapUnits);
    if (!units || !mapUnits || estr_Eqic(units, mapUnits)) return nullptr;
    int32_t mapKind = ECVT_KIND_UNKNOWN, unitsKind = ECVT_KIND_UNKNOWN;
    PolynomialHolder fromStandard, toStandard;
    if (!UnitPolynomial(mapUnits, false, &mapKind, fromStandard, inner)) {
      lower::ReportCallee(err, inner, reporter, 4, "ecvt_UnitSetByName for map to standard units conversion");
      return nullptr;
    }
    if (!UnitPolynomial(units, true, &unitsKind, toStandard, inner)) {
      lower::ReportCallee(err, inner, reporter, 5, "ecvt_UnitSetByName for standard to input unit conversion");
      return nullptr;
    }
    // Units of two different kinds, neither of them "other", cannot be converted.
    if (mapKind != ECVT_KIND_UNKNOWN && unitsKind != ECVT_KIND_UNKNOWN && mapKind != ECVT_KIND_OTHER &&
        unitsKind != ECVT_KIND_OTHER && mapKind != unitsKind)
      return nullptr;
    return Composed(fromStandard.polynomial, toStandard.polynomial, reporter, 6, err);
  }
  case EEVG_OUTPUT: {
    PolynomialHolder translate, scale;
    translate.polynomial = eant_TranslatePolynomialCreate(nullptr, conversion->pageOffsetX, conversion->pageOffsetY, &inner);
    if (!translate.polynomial) {
      lower::ReportCallee(err, inner, reporter, 7, "eant_TranslatePolynomialCreate");
      return nullptr;
    }
    scale.polynomial = eant_ScalePolynomialCreate(nullptr, conversion->pageScaleX, conversion->pageScaleY, &inner);
    if (!scale.polynomial) {
      lower::ReportCallee(err, inner, reporter, 8, "eant_ScalePolynimialCreate");
      return nullptr;
    }
    PolynomialHolder page;
    page.polynomial = Composed(translate.polynomial, scale.polynomial, reporter, 9, err);
    if (!page.polynomial) return nullptr;
    const char *pageUnits = Named(conversion->pageUnits);
    if (!units || !pageUnits || estr_Eqic(units, pageUnits)) return page.Take();
    // The definition's units into the standard unit, from it into paper units, then the page.
    PolynomialHolder toStandard, fromStandard;
    if (!UnitPolynomial(units, true, nullptr, toStandard, inner) ||
        !UnitPolynomial(pageUnits, false, nullptr, fromStandard, inner)) {
      lower::ReportCallee(err, inner, reporter, 10, "ecvt_UnitSetByName");
      return nullptr;
    }
    PolynomialHolder units2page;
    units2page.polynomial = Composed(fromStandard.polynomial, toStandard.polynomial, reporter, 11, err);
    if (!units2page.polynomial) return nullptr;
    return Composed(page.polynomial, units2page.polynomial, reporter, 11, err);
  }
  default: lower::Report(err, reporter, 12, "Invalid coordDef"); return nullptr;
  }
}

Efga_Polynomial *Inverted(Efga_Polynomial *polynomial, const char *reporter, Eerr_ErrorReport **err) {
  PolynomialHolder held{polynomial};
  lower::CalleeReport inner;
  Efga_Polynomial *inverse = efga_PolynomialInvert(polynomial, nullptr, &inner);
  if (!inverse) lower::ReportCallee(err, inner, reporter, 2, "efga_PolynomialInvert");
  return inverse;
}

} // namespace

extern "C" {

// ---- Coordinate definitions ------------------------------------------------------------------

Eant_CoordDefinition *eant_CoordDefinitionCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *definition = lower::HeapNew<Eant_CoordDefinition>();
  if (!definition) {
    lower::Report(err, "eant_CoordDefinitionCreate", 1, "Error allocating Coord Definition");
    return nullptr;
  }
  definition->coordSys = EEVG_PIXEL;
  return definition;
} TAVIRON_GUARD(err, nullptr)

Eant_CoordDefinition *eant_CoordDefinitionSetValues(Eant_CoordDefinition *definition, int32_t coordSys,
                                                    const char *unitsName, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordDefinitionSetValues";
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_CoordDefinition *made = nullptr;
  if (!definition) {
    definition = made = eant_CoordDefinitionCreate(&inner);
    if (!definition) {
      lower::ReportCallee(err, inner, reporter, 1, "eant_CoordDefinitionCreate");
      return nullptr;
    }
  }
  if (!eant_CharStrCreate(unitsName, &definition->units, &inner)) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_CharStrCreate");
    eant_CoordDefinitionFree(&made);
    return nullptr;
  }
  definition->coordSys = coordSys;
  return definition;
} TAVIRON_GUARD(err, nullptr)

Eant_CoordDefinition *eant_CoordDefinitionCopy(const Eant_CoordDefinition *source, Eant_CoordDefinition *target,
                                               Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordDefinitionCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eant_CoordDefinition");
    return target;
  }
  if (source == target) return target;
  lower::CalleeReport inner;
  Eant_CoordDefinition *made = nullptr;
  if (!target) {
    target = made = eant_CoordDefinitionCreate(&inner);
    if (!target) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_CoordDefinitionCreate");
      return nullptr;
    }
  }
  if (!eant_CharStrCopy(&source->units, &target->units, &inner)) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_CharStrCopy");
    if (made) {
      eant_CoordDefinitionFree(&made);
      return nullptr;
    }
    return target;
  }
  target->coordSys = source->coordSys;
  return target;
} TAVIRON_GUARD(err, nullptr)

int32_t eant_CoordDefinitionCompare(const Eant_CoordDefinition *a, const Eant_CoordDefinition *b,
                                    Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!a || !b) return !a && !b ? 1 : 0;
  lower::CalleeReport inner;
  const int32_t sameUnits = eant_CharStrCompare(&a->units, &b->units, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, "eant_CoordDefinitionCompare", 1, "eant_CharStrCompare");
    return 0;
  }
  return a->coordSys == b->coordSys && sameUnits ? 1 : 0;
} TAVIRON_GUARD(err, 0)

void eant_CoordDefinitionPrint(const Eant_CoordDefinition *definition, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  efio_Printf("Coord Definition:\n");
  if (!definition) return;
  efio_Printf("   coordSys - %d\n", definition->coordSys);
  if (const char *units = UnitsOf(definition))
    efio_Printf("   units - %s\n", units);
  else
    efio_Printf("   units - NULL\n");
} TAVIRON_GUARD_VOID(err)

void eant_CoordDefinitionFree(Eant_CoordDefinition **definition) try {
  if (!definition || !*definition) return;
  record::FreeContents(kCoordDefinition, *definition);
  emsc_HeapFreeEx(definition);
} TAVIRON_GUARD_QUIET_VOID

Emif_Design *eant_CoordDefinitionDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_CoordDefinitionDesignDefine", {{&kCoordDefinition}}, err);
} TAVIRON_GUARD(err, nullptr)

// ---- Conversion records ----------------------------------------------------------------------

Eant_CoordSysConversion *eant_CoordSysConversionCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *conversion = lower::HeapNew<Eant_CoordSysConversion>();
  if (!conversion) lower::Report(err, "eant_CoordSysConversionCreate", 1, "Error allocating CoordSysConversion");
  return conversion;
} TAVIRON_GUARD(err, nullptr)

Eant_CoordSysConversion *eant_CoordSysConversionSetValues(Eant_CoordSysConversion *conversion, double nduScaleX,
                                                          double nduScaleY, double pageScaleX, double pageScaleY,
                                                          double pageOffsetX, double pageOffsetY,
                                                          const char *pageUnits, const char *mapUnits,
                                                          Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordSysConversionSetValues";
  lower::Clear(err);
  // The copies come first, so that a failure changes nothing.
  char *page = estr_Duplicate(pageUnits);
  char *map = estr_Duplicate(mapUnits);
  if ((pageUnits && !page) || (mapUnits && !map)) {
    emsc_HeapFree(page);
    emsc_HeapFree(map);
    lower::Report(err, reporter, 2, "Error returned from estr_Duplicate");
    return nullptr;
  }
  if (!conversion) {
    lower::CalleeReport inner;
    conversion = eant_CoordSysConversionCreate(&inner);
    if (!conversion) {
      emsc_HeapFree(page);
      emsc_HeapFree(map);
      lower::ReportCallee(err, inner, reporter, 1, "eant_CoordSysConversionCreate");
      return nullptr;
    }
  }
  conversion->nduScaleX = nduScaleX;
  conversion->nduScaleY = nduScaleY;
  conversion->pageScaleX = pageScaleX;
  conversion->pageScaleY = pageScaleY;
  conversion->pageOffsetX = pageOffsetX;
  conversion->pageOffsetY = pageOffsetY;
  emsc_HeapFree(conversion->pageUnits);
  emsc_HeapFree(conversion->mapUnits);
  conversion->pageUnits = page;
  conversion->mapUnits = map;
  return conversion;
} TAVIRON_GUARD(err, nullptr)

Eant_CoordSysConversion *eant_CoordSysConversionCopy(const Eant_CoordSysConversion *source,
                                                     Eant_CoordSysConversion *target, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordSysConversionCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eant_CoordSysConversion");
    return target;
  }
  if (source == target) return target;
  lower::CalleeReport inner;
  Eant_CoordSysConversion *made = nullptr;
  if (!target) {
    target = made = eant_CoordSysConversionCreate(&inner);
    if (!target) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_CoordSysConversionCreate");
      return nullptr;
    }
  }
  auto fail = [&](int32_t code, const char *callee) -> Eant_CoordSysConversion * {
    lower::ReportCallee(err, inner, reporter, code, callee);
    if (made) {
      eant_CoordSysConversionFree(&made);
      return nullptr;
    }
    return target;
  };
  if (!eant_CoordSysConversionSetValues(target, source->nduScaleX, source->nduScaleY, source->pageScaleX,
                                        source->pageScaleY, source->pageOffsetX, source->pageOffsetY,
                                        source->pageUnits, source->mapUnits, &inner))
    return fail(3, "eant_CoordSysConversionSetValues");
  if (source->mapTransform) {
    // A transform the target does not own is someone else's: the copy gets one of its own.
    _exfr_XForm *into = target->ownsMapTransform ? target->mapTransform : nullptr;
    _exfr_XForm *copy = exfr_XFormCopy(source->mapTransform, into, &inner);
    if (!copy) return fail(5, "exfr_XFormCopy");
    target->mapTransform = copy;
  } else {
    if (target->ownsMapTransform) exfr_XFormFree(&target->mapTransform, nullptr);
    target->mapTransform = nullptr;
  }
  target->ownsMapTransform = 1;
  target->fakeDrawing = source->fakeDrawing;
  if (source->referenceCoord) {
    Eevg_Coord *coord = eevg_CoordCopy(source->referenceCoord, target->referenceCoord, &inner);
    if (!coord) return fail(6, "eevg_CoordCopy");
    target->referenceCoord = coord;
  } else {
    eevg_CoordFree(&target->referenceCoord);
  }
  return target;
} TAVIRON_GUARD(err, nullptr)

void eant_CoordSysConversionFree(Eant_CoordSysConversion **conversion) try {
  if (!conversion || !*conversion) return;
  Eant_CoordSysConversion *c = *conversion;
  emsc_HeapFree(c->pageUnits);
  emsc_HeapFree(c->mapUnits);
  if (c->ownsMapTransform) exfr_XFormFree(&c->mapTransform, nullptr);
  eevg_CoordFree(&c->referenceCoord);
  emsc_HeapFreeEx(conversion);
} TAVIRON_GUARD_QUIET_VOID

// ---- Lengths ---------------------------------------------------------------------------------

#define TAVIRON_EANT_LENGTH(Name, Function, axis)                                                   \
  double Name(Eant_CoordSysConversion *conversion, const Eant_CoordDefinition *definition, double value, \
              Eerr_ErrorReport **err) try {                                                         \
    return Function(axis, conversion, definition, value, err);                                      \
  } TAVIRON_GUARD(err, value)
TAVIRON_EANT_LENGTH(eant_CoordSysConversionScaleX, Scale, kX)
TAVIRON_EANT_LENGTH(eant_CoordSysConversionScaleY, Scale, kY)
TAVIRON_EANT_LENGTH(eant_CoordSysConversionInvScaleX, InvScale, kX)
TAVIRON_EANT_LENGTH(eant_CoordSysConversionInvScaleY, InvScale, kY)
TAVIRON_EANT_LENGTH(eant_CoordSysConversionScaleAndTransformX, ScaleAndTransform, kX)
TAVIRON_EANT_LENGTH(eant_CoordSysConversionScaleAndTransformY, ScaleAndTransform, kY)
TAVIRON_EANT_LENGTH(eant_CoordSysConversionInvScaleAndTransformX, InvScaleAndTransform, kX)
TAVIRON_EANT_LENGTH(eant_CoordSysConversionInvScaleAndTransformY, InvScaleAndTransform, kY)
#undef TAVIRON_EANT_LENGTH

#define TAVIRON_EANT_CONVERT(Name, axis, transformed)                                               \
  double Name(Eant_CoordSysConversion *conversion, int32_t fromCoordSys, const char *fromUnits,     \
              int32_t toCoordSys, const char *toUnits, double value, Eerr_ErrorReport **err) try {   \
    return ConvertScale(axis, transformed, #Name, conversion, fromCoordSys, fromUnits, toCoordSys, toUnits, value, \
                        err);                                                                       \
  } TAVIRON_GUARD(err, value)
TAVIRON_EANT_CONVERT(eant_CoordSysConversionConvertXScale, kX, false)
TAVIRON_EANT_CONVERT(eant_CoordSysConversionConvertYScale, kY, false)
TAVIRON_EANT_CONVERT(eant_CoordSysConversionConvertAndTransformXScale, kX, true)
TAVIRON_EANT_CONVERT(eant_CoordSysConversionConvertAndTransformYScale, kY, true)
#undef TAVIRON_EANT_CONVERT

// ---- Positions -------------------------------------------------------------------------------

Eevg_Coord *eant_CoordSysConversionTranslateCoord(Eant_CoordSysConversion *conversion,
                                                  const Eant_CoordDefinition *definition, const Eevg_Coord *coord,
                                                  Eerr_ErrorReport **err) try {
  return Translate(true, conversion, definition, coord, err);
} TAVIRON_GUARD(err, nullptr)

Eevg_Coord *eant_CoordSysConversionInvTranslateCoord(Eant_CoordSysConversion *conversion,
                                                     const Eant_CoordDefinition *definition,
                                                     const Eevg_Coord *coord, Eerr_ErrorReport **err) try {
  return Translate(false, conversion, definition, coord, err);
} TAVIRON_GUARD(err, nullptr)

Eevg_Coord *eant_CoordSysConversionConvertCoord(Eant_CoordSysConversion *conversion, int32_t fromCoordSys,
                                                const char *fromUnits, int32_t toCoordSys, const char *toUnits,
                                                const Eevg_Coord *coord, Eevg_Coord *output,
                                                Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordSysConversionConvertCoord";
  lower::Clear(err);
  const Eant_CoordDefinition from = Definition(fromCoordSys, fromUnits);
  const Eant_CoordDefinition to = Definition(toCoordSys, toUnits);
  lower::CalleeReport inner;
  Eevg_Coord *map = Translate(true, conversion, &from, coord, &inner);
  if (inner) {
    eevg_CoordFree(&map);
    lower::ReportCallee(err, inner, reporter, 1, "eant_CoordSysConversionTranslateCoord");
    return nullptr;
  }
  Eevg_Coord *result = Translate(false, conversion, &to, map, &inner);
  eevg_CoordFree(&map);
  if (inner) {
    eevg_CoordFree(&result);
    lower::ReportCallee(err, inner, reporter, 2, "eant_CoordSysConversionInvTranslateCoord");
    return nullptr;
  }
  if (!output) return result;
  Eevg_Coord *copied = eevg_CoordCopy(result, output, &inner);
  eevg_CoordFree(&result);
  if (!copied) lower::ReportCallee(err, inner, reporter, 3, "eevg_CoordCopy");
  return copied;
} TAVIRON_GUARD(err, nullptr)

// ---- Position polynomials --------------------------------------------------------------------

Efga_Polynomial *eant_CoordSysConversionGetTranslationPolyAllowNULL(Eant_CoordSysConversion *conversion,
                                                                   const Eant_CoordDefinition *definition,
                                                                   Eerr_ErrorReport **err) try {
  return TranslationPoly(conversion, definition, err);
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *eant_CoordSysConversionGetTranslationPoly(Eant_CoordSysConversion *conversion,
                                                           const Eant_CoordDefinition *definition,
                                                           Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordSysConversionGetTranslationPoly";
  lower::Clear(err);
  lower::CalleeReport inner;
  Efga_Polynomial *polynomial = TranslationPoly(conversion, definition, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_CoordSysConversionGetTranslationPolyAllowNULL");
    return nullptr;
  }
  if (polynomial) return polynomial;
  polynomial = eant_IdentityPolynomialCreate(nullptr, &inner);
  if (!polynomial) lower::ReportCallee(err, inner, reporter, 2, "eant_IdentityPolynomialCreate");
  return polynomial;
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *eant_CoordSysConversionGetInvTranslationPolyAllowNULL(Eant_CoordSysConversion *conversion,
                                                                      const Eant_CoordDefinition *definition,
                                                                      Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordSysConversionGetInvTranslationPolyAllowNULL";
  lower::Clear(err);
  lower::CalleeReport inner;
  Efga_Polynomial *polynomial = TranslationPoly(conversion, definition, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_CoordSysConversionGetTranslationPolyAllowNULL");
    efga_PolynomialDelete(polynomial, nullptr);
    return nullptr;
  }
  return polynomial ? Inverted(polynomial, reporter, err) : nullptr;
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *eant_CoordSysConversionGetInvTranslationPoly(Eant_CoordSysConversion *conversion,
                                                              const Eant_CoordDefinition *definition,
                                                              Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordSysConversionGetInvTranslationPoly";
  lower::Clear(err);
  lower::CalleeReport inner;
  Efga_Polynomial *polynomial = eant_CoordSysConversionGetTranslationPoly(conversion, definition, &inner);
  if (!polynomial) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_CoordSysConversionGetTranslationPoly");
    return nullptr;
  }
  return Inverted(polynomial, reporter, err);
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
