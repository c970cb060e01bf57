// Moving an element: a polynomial composed into its transform, its stored corners carried along,
// and, within a layer, the layer box grown, the moved and modified callbacks run and the layer
// marked modified.
#include "eant_internal.h"

namespace lower = taviron::lower;
using namespace taviron::eant;

extern "C" {

void eant_ElementUpdateByPoly(Eant_AnnotationInfo *info, Eant_CoordSysConversion *, Eant_Element *element,
                              Efga_Polynomial *polynomial, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementUpdateByPoly";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "Invalid input element");
    return;
  }
  lower::CalleeReport inner;
  Efga_Polynomial *composed = element->xformMatrix ? efga_PolynomialComposition(polynomial, element->xformMatrix, &inner)
                                                   : efga_PolynomialCopy(polynomial, nullptr, &inner);
  if (!composed || inner) {
    efga_PolynomialDelete(composed, nullptr);
    lower::ReportCallee(err, inner, reporter, 3, "efga_PolynomialComposition");
    return;
  }
  efga_PolynomialDelete(element->xformMatrix, nullptr);
  element->xformMatrix = composed;
  Efga_Polynomial *inverse = efga_PolynomialInvert(composed, element->ixformMatrix, &inner);
  if (!inverse || inner) {
    lower::ReportCallee(err, inner, reporter, 4, "efga_PolynomialInvert");
    return;
  }
  element->ixformMatrix = inverse;
  if (element->bBox && (efga_PolyTransCoords(element->bBox, element->bBox, polynomial, 0, &inner) != element->bBox ||
                        inner)) {
    lower::ReportCallee(err, inner, reporter, 5, "efga_PolyTransCoords");
    return;
  }
  if (!info) return;
  eant_AntBoundingBoxUpdateByElement(info, element, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 6, "eant_AntBoundingBoxUpdateByElement");
    return;
  }
  eant_DoElementMovedCallbacks(info, element, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 7, "eant_DoElementMovedCallbacks");
    return;
  }
  eant_DoElementModifiedCallbacks(info, element, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 8, "eant_DoElementModifiedCallbacks");
    return;
  }
  info->modified = 1;
} TAVIRON_GUARD_VOID(err)

} // extern "C"
