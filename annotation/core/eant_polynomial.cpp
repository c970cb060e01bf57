// The builders of two-dimensional first-order polynomials that annotation geometry uses.
#include "eant_internal.h"

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

} // extern "C"
