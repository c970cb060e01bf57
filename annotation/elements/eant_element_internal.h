// What every element type's keyword list shares: the codes 1 to 6 (name, description, transform,
// box, scale and position units) with their values, and how they are applied to the common part.
// Only the element files include it.
#ifndef TAVIRON_ANNOTATION_ELEMENTS_EANT_ELEMENT_INTERNAL_H
#define TAVIRON_ANNOTATION_ELEMENTS_EANT_ELEMENT_INTERNAL_H

#include "eant_internal.h"
#include "keywords.h"

namespace taviron::eant::elements {

namespace lower = taviron::lower;

// The entries of the codes every type accepts, for the front of a type's keyword table.
#define TAVIRON_EANT_COMMON_KEYWORDS                                                               \
  {EANT_ELEMKEY_NAME, {lower::Value::Pointer}}, {EANT_ELEMKEY_DESCRIPTION, {lower::Value::Pointer}}, \
      {EANT_ELEMKEY_XFORMMATRIX, {lower::Value::Pointer}},                                         \
      {EANT_ELEMKEY_BBOX,                                                                          \
       {lower::Value::Double, lower::Value::Double, lower::Value::Double, lower::Value::Double,    \
        lower::Value::Double, lower::Value::Double, lower::Value::Double, lower::Value::Double}},  \
      {EANT_ELEMKEY_SCALEUNITS, {lower::Value::Int, lower::Value::Pointer}},                       \
      {EANT_ELEMKEY_POSITIONUNITS, {lower::Value::Int, lower::Value::Pointer}}

// What applying a keyword came to: not a common code, applied (units: one of the units changed),
// or failed with the code of the factory's check (name 3 ... position units 8) and the callee.
struct CommonKeyword {
  enum { NotCommon, Applied, Failed } outcome = NotCommon;
  bool units = false;
  int32_t code = 0;
  const char *callee = nullptr;
};

// Applies one of the codes 1 to 6 to the element's common part; the callee's report in inner.
inline CommonKeyword ApplyCommonKeyword(Eant_Element *element, int32_t key, const lower::KeywordValues &v,
                                        lower::CalleeReport &inner) {
  CommonKeyword result;
  const auto done = [&](int32_t code, const char *callee, bool ok = true) {
    result.outcome = ok && !inner ? CommonKeyword::Applied : CommonKeyword::Failed;
    result.code = code;
    result.callee = callee;
    return result;
  };
  switch (key) {
  case EANT_ELEMKEY_NAME:
    eant_ElementSetName(element, v.Pointer<const char>(0), &inner);
    return done(3, "eant_ElementSetName");
  case EANT_ELEMKEY_DESCRIPTION:
    eant_ElementSetDescription(element, v.Pointer<const char>(0), &inner);
    return done(4, "eant_ElementSetDescription");
  case EANT_ELEMKEY_XFORMMATRIX:
    eant_ElementSetXformMatrix(element, v.Pointer<const Efga_Polynomial>(0), &inner);
    return done(5, "eant_ElementSetXformMatrix");
  case EANT_ELEMKEY_BBOX:
    eant_ElementSetBBox(element, v.Double(0), v.Double(1), v.Double(2), v.Double(3), v.Double(4), v.Double(5),
                        v.Double(6), v.Double(7), &inner);
    return done(6, "eant_ElementSetBBox");
  case EANT_ELEMKEY_SCALEUNITS:
  case EANT_ELEMKEY_POSITIONUNITS: {
    const bool scale = key == EANT_ELEMKEY_SCALEUNITS;
    Eant_CoordDefinition *&units = scale ? element->scaleUnits : element->positionUnits;
    Eant_CoordDefinition *set = eant_CoordDefinitionSetValues(units, v.Int(0), v.Pointer<const char>(1), &inner);
    if (set && !inner) units = set;
    result.units = true;
    return done(scale ? 7 : 8, "eant_CoordDefinitionSetValues", set != nullptr);
  }
  default: return result;
  }
}

} // namespace taviron::eant::elements

#endif
