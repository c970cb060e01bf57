// Symbol elements placed by the package itself: the one symbol of a pattern tile and the symbols
// repeated along a line. The element takes the table of the registered symbol type and a symbol
// record, and is drawn, measured and freed through that table.
#include "eant_internal.h"
#include "emsc.h"

namespace lower = taviron::lower;

namespace taviron::eant {

Eant_Element *SymbolElementSetValues(Eant_AnnotationInfo *info, Eant_Element *element,
                                     Eant_CoordSysConversion *conversion, const SymbolPlacement &placement,
                                     Eerr_ErrorReport **err) {
  static const char *reporter = "eant_SymbolElementSetValues";
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_Element *made = nullptr;
  const auto fail = [&made]() -> Eant_Element * {
    if (made) DiscardElement(made);
    return nullptr;
  };
  if (!element) {
    const Eant_ElementFunctions *functions = ElementFunctionsOf(EANT_SYMBOL);
    if (!functions) {
      lower::Report(err, reporter, 1, "No symbol element type");
      return nullptr;
    }
    if (!(element = made = eant_ElementCreate(info, &inner))) {
      lower::ReportCallee(err, inner, reporter, 1, "eant_ElementCreate");
      return nullptr;
    }
    auto *record = lower::HeapNew<Eant_Symbol>();
    if (!record) {
      eant_ElementFree(&made);
      lower::Report(err, reporter, 1, "Error allocating Symbol");
      return nullptr;
    }
    record->symbolData = -1;
    record->overrideColor = -1;
    element->elmType = EANT_SYMBOL;
    element->info = record;
    element->functions = functions;
  }
  auto *record = static_cast<Eant_Symbol *>(element->info);
  if (element->elmType != EANT_SYMBOL || !record) {
    lower::Report(err, reporter, 2, "Input element is not symbol");
    return fail();
  }
  Eant_CoordDefinition *scaleUnits =
      eant_CoordDefinitionSetValues(element->scaleUnits, placement.scaleCoordSys, placement.scaleUnits, &inner);
  if (!scaleUnits) {
    lower::ReportCallee(err, inner, reporter, 7, "eant_CoordDefinitionSetValues for scaleUnits");
    return fail();
  }
  element->scaleUnits = scaleUnits;
  Eant_CoordDefinition *positionUnits = eant_CoordDefinitionSetValues(
      element->positionUnits, placement.positionCoordSys, placement.positionUnits, &inner);
  if (!positionUnits) {
    lower::ReportCallee(err, inner, reporter, 8, "eant_CoordDefinitionSetValues for positionUnits");
    return fail();
  }
  element->positionUnits = positionUnits;
  if (!record->center && !(record->center = eevg_CoordCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 9, "eevg_CoordCreate");
    return fail();
  }
  record->center->x = placement.x;
  record->center->y = placement.y;
  record->orientation = placement.orientation;
  record->scale = placement.scale;
  record->symbolData = placement.symbol ? placement.symbol->number : placement.number;
  record->colorOverrideFlag = placement.colorOverrideFlag;
  record->overrideColor = placement.overrideColor;
  eant_ElementBboxComputeAndReset(element, conversion, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 17, "eant_ElementBboxComputeAndReset");
    return fail();
  }
  return element;
}

} // namespace taviron::eant
