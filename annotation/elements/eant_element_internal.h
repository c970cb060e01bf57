// What every element type's own file shares: owners of the blocks and transforms made inside an
// operation, the keywords every type's list accepts (codes 1 to 6) and the end of every list (the
// box recomputed, the moved and modified callbacks). Only the element files include it.
#ifndef TAVIRON_ANNOTATION_ELEMENTS_EANT_ELEMENT_INTERNAL_H
#define TAVIRON_ANNOTATION_ELEMENTS_EANT_ELEMENT_INTERNAL_H

#include <memory>

#include "eant_internal.h"
#include "exfr.h"
#include "keywords.h"

namespace taviron::eant::element {

namespace lower = taviron::lower;
using V = lower::Value;

// A block made inside an operation, deleted when it leaves scope unless taken.
struct BlockDeleter {
  void operator()(Efga_CoordinateBlock *block) const noexcept { efga_CoordBlockDelete(block, nullptr); }
};
using BlockPtr = std::unique_ptr<Efga_CoordinateBlock, BlockDeleter>;
struct XFormDeleter {
  void operator()(_exfr_XForm *xform) const noexcept { exfr_XFormFree(&xform, nullptr); }
};
using XFormPtr = std::unique_ptr<_exfr_XForm, XFormDeleter>;

// The value shapes of the keywords every type accepts, for the types' tables.
#define TAVIRON_EANT_COMMON_KEYWORDS                                                                            \
  {EANT_ELEMKEY_NAME, {V::Pointer}}, {EANT_ELEMKEY_DESCRIPTION, {V::Pointer}},                                 \
      {EANT_ELEMKEY_XFORMMATRIX, {V::Pointer}},                                                                \
      {EANT_ELEMKEY_BBOX, {V::Double, V::Double, V::Double, V::Double, V::Double, V::Double, V::Double, V::Double}}, \
      {EANT_ELEMKEY_SCALEUNITS, {V::Int, V::Pointer}}, {EANT_ELEMKEY_POSITIONUNITS, {V::Int, V::Pointer}}

// Applies one of the keywords 1 to 6 to the element; a failure is reported with codes 3 to 8 in
// that order. `moved` is set by the units keywords. False for a code that is not one of them
// (handled stays false) or after the report.
inline bool ApplyCommonKeyword(const char *reporter, Eant_Element *element, int32_t key,
                               const lower::KeywordValues &v, bool &handled, bool &moved, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  handled = true;
  const auto fail = [&](int32_t code, const char *callee) {
    lower::ReportCallee(err, inner, reporter, code, callee);
    return false;
  };
  switch (key) {
  case EANT_ELEMKEY_NAME:
    eant_ElementSetName(element, v.Pointer<const char>(0), &inner);
    return !inner || fail(3, "eant_ElementSetName");
  case EANT_ELEMKEY_DESCRIPTION:
    eant_ElementSetDescription(element, v.Pointer<const char>(0), &inner);
    return !inner || fail(4, "eant_ElementSetDescription");
  case EANT_ELEMKEY_XFORMMATRIX:
    eant_ElementSetXformMatrix(element, v.Pointer<const Efga_Polynomial>(0), &inner);
    return !inner || fail(5, "eant_ElementSetXformMatrix");
  case EANT_ELEMKEY_BBOX:
    eant_ElementSetBBox(element, v.Double(0), v.Double(1), v.Double(2), v.Double(3), v.Double(4), v.Double(5),
                        v.Double(6), v.Double(7), &inner);
    return !inner || fail(6, "eant_ElementSetBBox");
  case EANT_ELEMKEY_SCALEUNITS:
  case EANT_ELEMKEY_POSITIONUNITS: {
    const bool scale = key == EANT_ELEMKEY_SCALEUNITS;
    Eant_CoordDefinition *&units = scale ? element->scaleUnits : element->positionUnits;
    Eant_CoordDefinition *set = eant_CoordDefinitionSetValues(units, v.Int(0), v.Pointer<const char>(1), &inner);
    if (!set || inner) return fail(scale ? 7 : 8, "eant_CoordDefinitionSetValues");
    units = set;
    moved = true;
    return true;
  }
  default:
    handled = false;
    return false;
  }
}

// The end of a list read up to its end (ended): when the geometry or a style changed (moved), the
// box is recomputed (code boxCode) and, with an annotation info, the moved callbacks fire (the
// next code); with an annotation info the modified callbacks fire (the code after). False after
// a report.
inline bool FinishSetValues(const char *reporter, Eant_AnnotationInfo *info, Eant_Element *element,
                            Eant_CoordSysConversion *conversion, bool ended, bool moved, int32_t boxCode,
                            Eerr_ErrorReport **err) {
  if (!ended) return false;
  lower::CalleeReport inner;
  if (moved) {
    eant_ElementBboxComputeAndReset(element, conversion, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, boxCode, "eant_ElementBboxComputeAndReset");
      return false;
    }
    if (info) {
      eant_DoElementMovedCallbacks(info, element, &inner);
      if (inner) {
        lower::ReportCallee(err, inner, reporter, boxCode + 1, "eant_DoElementMovedCallbacks");
        return false;
      }
    }
  }
  if (info) {
    eant_DoElementModifiedCallbacks(info, element, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, boxCode + 2, "eant_DoElementModifiedCallbacks");
      return false;
    }
  }
  return true;
}

} // namespace taviron::eant::element

#endif
