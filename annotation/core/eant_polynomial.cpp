// The builders of two-dimensional first-order polynomials that annotation geometry uses, the
// parameters of such a polynomial, a coordinate mapped by one, and a polynomial put in front of a
// render transform.
#include <cmath>

#include "eant_internal.h"
#include "egda_pixel.h"

namespace lower = taviron::lower;

namespace {

// Reports a failed (or empty) result of the lower layer's builder under the caller's name.
Efga_Polynomial *Built(Efga_Polynomial *polynomial, lower::CalleeReport &inner, const char *reporter,
                       const char *callee, Eerr_ErrorReport **err) {
  if (!polynomial) lower::ReportCallee(err, inner, reporter, 1, callee);
  return polynomial;
}

} // namespace

extern "C" {

Efga_Polynomial *eant_IdentityPolynomialCreate(Efga_Polynomial *existing, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  return Built(efga_PolyCreate2DIdentity(existing, &inner), inner, "eant_IdentityPolynomialCreate",
               "efga_PolyCreate2DIdentity", err);
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *eant_TranslatePolynomialCreate(Efga_Polynomial *existing, double dx, double dy,
                                                Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  return Built(efga_PolyCreate2DTranslate(existing, dx, dy, &inner), inner, "eant_TranslatePolynomialCreate",
               "efga_PolyCreate2DTranslate", err);
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *eant_RotatePolynomialCreate(Efga_Polynomial *existing, double angle, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  return Built(efga_PolyCreate2DRotate(existing, angle, &inner), inner, "eant_RotatePolynomialCreate",
               "efga_PolyCreate2DRotate", err);
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *eant_ScalePolynomialCreate(Efga_Polynomial *existing, double sx, double sy,
                                            Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  return Built(efga_PolyCreate2DScale(existing, sx, sy, &inner), inner, "eant_ScalePolynomialCreate",
               "efga_PolyCreate2DScale", err);
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *eant_AffinePolynomialCreate(const Eevg_Coord *origin, double angle, double sx, double sy,
                                             Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  const double x = origin ? origin->x : 0, y = origin ? origin->y : 0;
  return Built(efga_PolyCreate2DAffine(x, y, angle, sx, sy, &inner), inner, "eant_AffinePolynomialCreate",
               "efga_PolyCreate2DAffine", err);
} TAVIRON_GUARD(err, nullptr)

Eevg_Coord *eant_ParametersGetFromPolynomial(const Efga_Polynomial *polynomial, double *angle, double *xScale,
                                             double *yScale, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ParametersGetFromPolynomial";
  lower::Clear(err);
  if (!taviron::eant::IsAffine(polynomial)) {
    lower::Report(err, reporter, 1, "Invalid input polynomial");
    return nullptr;
  }
  const Egda_BaseData &linear = *polynomial->coefficients, &constants = *polynomial->constants;
  const double a00 = lower::At<double>(linear, 0, 0), a01 = lower::At<double>(linear, 0, 1);
  const double a10 = lower::At<double>(linear, 1, 0), a11 = lower::At<double>(linear, 1, 1);
  lower::CalleeReport inner;
  Eevg_Coord *translation = eevg_CoordCreate(&inner);
  if (!translation) {
    lower::ReportCallee(err, inner, reporter, 2, "eevg_CoordCreate");
    return nullptr;
  }
  if (angle) *angle = a01 != 0 || a11 != 0 ? std::atan2(-a01, a11) : 0;
  if (xScale) *xScale = std::sqrt(a00 * a00 + a10 * a10);
  if (yScale) *yScale = std::sqrt(a01 * a01 + a11 * a11);
  translation->x = lower::At<double>(constants, 0, 0);
  translation->y = lower::At<double>(constants, 1, 0);
  return translation;
} TAVIRON_GUARD(err, nullptr)

Eevg_Coord *eant_CoordTransform(const Eevg_Coord *coord, const Efga_Polynomial *polynomial,
                                Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordTransform";
  lower::Clear(err);
  if (!coord) {
    lower::Report(err, reporter, 1, "Invalid input coordinate");
    return nullptr;
  }
  if (!polynomial || !polynomial->coefficients || !polynomial->constants || polynomial->coefficients->rows != 2 ||
      efga_PolynomialInputCount(polynomial) != 2) {
    lower::Report(err, reporter, 2, "Invalid input polynomial");
    return nullptr;
  }
  lower::CalleeReport inner;
  double in[2] = {coord->x, coord->y}, out[2] = {0, 0};
  Egda_BaseData *input = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, in, &inner);
  if (!input) {
    lower::ReportCallee(err, inner, reporter, 3, "efga_MatrixCreate for inMatrixCoord");
    return nullptr;
  }
  Egda_BaseData *output = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, out, &inner);
  if (!output) {
    egda_BaseDataDelete(input, nullptr);
    lower::ReportCallee(err, inner, reporter, 3, "efga_MatrixCreate for outMatrixCoord");
    return nullptr;
  }
  const bool mapped = efga_PolyTransCoords(input, output, polynomial, 0, &inner) && !inner &&
                      output->rows == 2 && output->columns == 1 && output->pixelType == EGDA_TYPE_F64;
  const double x = mapped ? lower::At<double>(*output, 0, 0) : 0, y = mapped ? lower::At<double>(*output, 1, 0) : 0;
  egda_BaseDataDelete(input, nullptr);
  egda_BaseDataDelete(output, nullptr);
  if (!mapped) {
    lower::ReportCallee(err, inner, reporter, 6, "efga_PolyTransCoords");
    return nullptr;
  }
  Eevg_Coord *result = eevg_CoordCreate(&inner);
  if (!result) {
    lower::ReportCallee(err, inner, reporter, 7, "eevg_CoordCreate");
    return nullptr;
  }
  result->x = x;
  result->y = y;
  return result;
} TAVIRON_GUARD(err, nullptr)

_exfr_XForm *eant_AddXForm(const Efga_Polynomial *polynomial, const _exfr_XForm *transform,
                           Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AddXForm";
  lower::Clear(err);
  lower::CalleeReport inner;
  _exfr_XForm *copy = nullptr, *first = nullptr;
  if (transform && !(copy = exfr_XFormCopy(transform, nullptr, &inner))) {
    lower::ReportCallee(err, inner, reporter, 1, "exfr_XFormCopy");
    return nullptr;
  }
  if (polynomial && !(first = exfr_XFormCreate(polynomial, 0, &inner))) {
    exfr_XFormFree(&copy, nullptr);
    lower::ReportCallee(err, inner, reporter, 2, "exfr_XFormCreate");
    return nullptr;
  }
  _exfr_XForm *result = exfr_XFormComposition(first, copy, &inner);
  exfr_XFormFree(&first, nullptr);
  exfr_XFormFree(&copy, nullptr);
  if (!result) lower::ReportCallee(err, inner, reporter, 3, "exfr_XFormComposition");
  return result;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
