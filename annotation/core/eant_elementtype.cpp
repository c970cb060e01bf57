// The element-type registry and the dispatchers through which the library calls the slots of an
// element's type. Each slot has one rule for a type that lacks it: reported, skipped (the style
// and symbol setters, selectors and copiers, so that they apply to a mixed selection) or a
// fallback of its own (free, flip, the box with a drawing, the single-style selection).
#include <array>

#include "eant_internal.h"

namespace lower = taviron::lower;
using namespace taviron::eant;

namespace {

constexpr const char *kInvalidElement = "Invalid input Eant_Element";

// The types the tests put in place of the package's (a handful at most).
struct TestType {
  int32_t code;
  ElementTypeEntry entry;
};
std::array<TestType, 8> testTypes{};
std::size_t testTypeCount = 0;
// The tables the tests put in place of the package's.
struct TestTable {
  int32_t code;
  const Eant_ElementFunctions *functions;
};
std::array<TestTable, 8> testTables{};
std::size_t testTableCount = 0;

// What a type lacking the slot gets.
enum class Missing { Reported, Skipped };

// Calls `slot` of the element's table with the arguments (the error slot last) and applies the
// dispatcher's rules: a null element is code 1, a missing slot code 3 (or nothing, when skipped),
// a report of the slot code 2 above the slot's chain. Returns the slot's result, `fallback` when
// it was not called.
template <class Slot, class Result, class... Args>
Result Dispatch(Slot Eant_ElementFunctions::*member, const char *reporter, const char *name, Missing missing,
                Result fallback, const Eant_Element *element, Eerr_ErrorReport **err, Args... args) {
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "%s", kInvalidElement);
    return fallback;
  }
  const Slot slot = lower::SlotOf(element->functions, member);
  if (!slot) {
    if (missing == Missing::Reported) lower::Report(err, reporter, 3, "Invalid %s function for input element", name);
    return fallback;
  }
  lower::CalleeReport inner;
  Result result = slot(args..., &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 2, name);
  return result;
}

// The void form (no fallback value).
template <class Slot, class... Args>
void DispatchVoid(Slot Eant_ElementFunctions::*member, const char *reporter, const char *name, Missing missing,
                  const Eant_Element *element, Eerr_ErrorReport **err, Args... args) {
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "%s", kInvalidElement);
    return;
  }
  const Slot slot = lower::SlotOf(element->functions, member);
  if (!slot) {
    if (missing == Missing::Reported) lower::Report(err, reporter, 3, "Invalid %s function for input element", name);
    return;
  }
  lower::CalleeReport inner;
  slot(args..., &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 2, name);
}

using F = Eant_ElementFunctions;

// What the package calls of a type outside its table.
template <class Type> constexpr ElementTypeEntry EntryOf() {
  ElementTypeEntry entry;
  entry.read = &Type::Read;
  if constexpr (requires { &Type::CheckForSmartData; }) entry.checkForSmartData = &Type::CheckForSmartData;
  return entry;
}
struct ReaderCheck {
  static void Read(Eant_AnnotationInfo *, Eant_FileIO *, Eant_Element *, Eerr_ErrorReport **) {}
  static int32_t CheckForSmartData(Eant_Element *, Eerr_ErrorReport **) { return 0; }
};
struct PlainCheck {
  static void Read(Eant_AnnotationInfo *, Eant_FileIO *, Eant_Element *, Eerr_ErrorReport **) {}
};
static_assert(EntryOf<ReaderCheck>().read == &ReaderCheck::Read &&
              EntryOf<ReaderCheck>().checkForSmartData == &ReaderCheck::CheckForSmartData &&
              EntryOf<PlainCheck>().checkForSmartData == nullptr);

} // namespace

namespace taviron::eant {

bool FindElementType(int32_t code, ElementTypeEntry &entry) {
  for (std::size_t i = 0; i < testTypeCount; ++i)
    if (testTypes[i].code == code) {
      entry = testTypes[i].entry;
      return true;
    }
  return ElementTypes::Dispatch(code, [&entry](auto type) { entry = EntryOf<typename decltype(type)::type>(); });
}

void SetTestElementType(int32_t code, ElementReadFunction read, SmartDataFunction checkForSmartData) {
  std::size_t at = 0;
  while (at < testTypeCount && testTypes[at].code != code) ++at;
  if (!read) {
    if (at < testTypeCount) testTypes[at] = testTypes[--testTypeCount];
    return;
  }
  if (at == testTypeCount) {
    if (testTypeCount == testTypes.size()) return;
    ++testTypeCount;
  }
  testTypes[at] = {code, {read, checkForSmartData}};
}

const Eant_ElementFunctions *ElementFunctionsOf(int32_t code) {
  for (std::size_t i = 0; i < testTableCount; ++i)
    if (testTables[i].code == code) return testTables[i].functions;
  return ElementTypes::Find(code);
}

void SetTestElementFunctions(int32_t code, const Eant_ElementFunctions *functions) {
  std::size_t at = 0;
  while (at < testTableCount && testTables[at].code != code) ++at;
  if (!functions) {
    if (at < testTableCount) testTables[at] = testTables[--testTableCount];
    return;
  }
  if (at == testTableCount) {
    if (testTableCount == testTables.size()) return;
    ++testTableCount;
  }
  testTables[at] = {code, functions};
}

} // namespace taviron::eant

extern "C" {

Eant_Element *eant_ElementCopyElement(Eant_Element *element, Eant_Element *target, Eerr_ErrorReport **err) try {
  return Dispatch(&F::copyElement, "eant_ElementCopyElement", "copyElement", Missing::Reported, target, element, err,
                  element, target);
} TAVIRON_GUARD(err, nullptr)

void eant_ElementPrintElement(Eant_Element *element, Eerr_ErrorReport **err) try {
  DispatchVoid(&F::printElement, "eant_ElementPrintElement", "printElement", Missing::Reported, element, err, element);
} TAVIRON_GUARD_VOID(err)

void eant_ElementRenderElement(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *symbols,
                               Eant_Criteria *criteria, Eevg_Drawing *drawing, Eant_Element *element,
                               _exfr_XForm *transform, Eant_CoordSysConversion *conversion,
                               Eerr_ErrorReport **err) try {
  DispatchVoid(&F::renderElement, "eant_ElementRenderElement", "renderElement", Missing::Reported, element, err,
               toolkit, styles, symbols, criteria, drawing, element, transform, conversion);
} TAVIRON_GUARD_VOID(err)

void eant_ElementFreeElement(Eant_Element **element) try {
  if (!element || !*element) return;
  if (auto free = lower::SlotOf((*element)->functions, &F::free)) free(element);
} TAVIRON_GUARD_QUIET_VOID

void eant_ElementWriteElement(Eant_FileIO *fileIO, const char *nodePath, int32_t position, Eant_Element *element,
                              Eerr_ErrorReport **err) try {
  DispatchVoid(&F::writeElement, "eant_ElementWriteElement", "writeElement", Missing::Reported, element, err, fileIO,
               nodePath, position, element);
} TAVIRON_GUARD_VOID(err)

int32_t eant_ElementCoordInElement(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles,
                                   Eant_SymbolLibrary *symbols, Eant_Criteria *criteria, Eant_Element *element,
                                   _exfr_XForm *transform, Eant_CoordSysConversion *conversion, Egda_BaseData *coord,
                                   Eerr_ErrorReport **err) try {
  return Dispatch(&F::coordInElement, "eant_ElementCoordInElement", "coordInElement", Missing::Reported, int32_t{0},
                  element, err, toolkit, styles, symbols, criteria, element, transform, conversion, coord);
} TAVIRON_GUARD(err, 0)

void eant_ElementSetLineStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                              Eerr_ErrorReport **err) try {
  DispatchVoid(&F::setLineStyle, "eant_ElementSetLineStyle", "setLineStyle", Missing::Skipped, element, err, info,
               element, style);
} TAVIRON_GUARD_VOID(err)

void eant_ElementSetLineStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                           Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  DispatchVoid(&F::setLineStyleAndRecalcBbox, "eant_ElementSetLineStyleAndRecalcBbox", "setLineStyleAndRecalcBbox",
               Missing::Skipped, element, err, info, element, number, conversion);
} TAVIRON_GUARD_VOID(err)

void eant_ElementSetFillStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                              Eerr_ErrorReport **err) try {
  DispatchVoid(&F::setFillStyle, "eant_ElementSetFillStyle", "setFillStyle", Missing::Skipped, element, err, info,
               element, style);
} TAVIRON_GUARD_VOID(err)

void eant_ElementSetFillStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                           Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  DispatchVoid(&F::setFillStyleAndRecalcBbox, "eant_ElementSetFillStyleAndRecalcBbox", "setFillStyleAndRecalcBbox",
               Missing::Skipped, element, err, info, element, number, conversion);
} TAVIRON_GUARD_VOID(err)

void eant_ElementSetTextStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number, double height,
                              const char *heightUnits, Eant_CoordSysConversion *conversion,
                              Eerr_ErrorReport **err) try {
  DispatchVoid(&F::setTextStyle, "eant_ElementSetTextStyle", "setTextStyle", Missing::Skipped, element, err, info,
               element, number, height, heightUnits, conversion);
} TAVIRON_GUARD_VOID(err)

void eant_ElementSetTextStyleAndHeight(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                       double height, Eant_CoordDefinition *heightUnits,
                                       Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  DispatchVoid(&F::setTextStyleAndHeight, "eant_ElementSetTextStyleAndHeight", "setTextStyleAndHeight",
               Missing::Skipped, element, err, info, element, number, height, heightUnits, conversion);
} TAVIRON_GUARD_VOID(err)

void eant_ElementSetSymbolData(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number, double scale,
                               Eant_CoordDefinition *scaleUnits, int32_t overrideFlag, int32_t overrideColor,
                               Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  DispatchVoid(&F::setSymbolData, "eant_ElementSetSymbolData", "setSymbolData", Missing::Skipped, element, err, info,
               element, number, scale, scaleUnits, overrideFlag, overrideColor, conversion);
} TAVIRON_GUARD_VOID(err)

Egda_BaseData *eant_ElementCalculateBbox(Eant_Element *element, _exfr_XForm *transform,
                                         Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  return Dispatch(&F::calculateBbox, "eant_ElementCalculateBbox", "calculateBbox", Missing::Reported,
                  static_cast<Egda_BaseData *>(nullptr), element, err, element, transform, conversion);
} TAVIRON_GUARD(err, nullptr)

void eant_ElementSelectStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                             Eant_StyleUpdateFunction update, void *updateData, Eerr_ErrorReport **err) try {
  DispatchVoid(&F::selectStyle, "eant_ElementSelectStyle", "selectStyle", Missing::Skipped, element, err, info,
               element, flags, update, updateData);
} TAVIRON_GUARD_VOID(err)

void eant_ElementCopyStyle(Eant_Element *element, Eant_StyleLibrary *from, Eant_StyleLibrary *to,
                           Eerr_ErrorReport **err) try {
  DispatchVoid(&F::copyStyle, "eant_ElementCopyStyle", "copyStyle", Missing::Skipped, element, err, element, from, to);
} TAVIRON_GUARD_VOID(err)

void eant_ElementCopySymbolData(Eant_Element *element, Eant_SymbolLibrary *from, Eant_SymbolLibrary *to,
                                Eerr_ErrorReport **err) try {
  DispatchVoid(&F::copySymbolData, "eant_ElementCopySymbolData", "copySymbolData", Missing::Skipped, element, err,
               element, from, to);
} TAVIRON_GUARD_VOID(err)

void eant_ElementUpdateInfo(Eant_Element *element, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  DispatchVoid(&F::updateInfo, "eant_ElementUpdateInfo", "updateInfo", Missing::Reported, element, err, element,
               conversion);
} TAVIRON_GUARD_VOID(err)

void eant_ElementReplaceElementValues(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err) try {
  DispatchVoid(&F::replaceValues, "eant_ElementReplaceElementValues", "replaceValues", Missing::Reported, source, err,
               source, target);
} TAVIRON_GUARD_VOID(err)

void eant_ElementConvertToMap(Eant_Element *element, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  DispatchVoid(&F::convertToMap, "eant_ElementConvertToMap", "convertToMap", Missing::Reported, element, err, element,
               conversion);
} TAVIRON_GUARD_VOID(err)

void eant_ElementTransformMap(Eant_Element *element, _exfr_XForm *transform, Eant_CoordSysConversion *from,
                              Eant_CoordSysConversion *to, const char *mapUnits, Eant_ProgressInfo *progress,
                              Eerr_ErrorReport **err) try {
  DispatchVoid(&F::transformMap, "eant_ElementTransformMap", "transformMap", Missing::Reported, element, err, element,
               transform, from, to, mapUnits, progress);
} TAVIRON_GUARD_VOID(err)

void eant_ElementIncrementCount(Eant_Element *element, Eant_ElementInfo *counts, Eerr_ErrorReport **err) try {
  DispatchVoid(&F::incrementCount, "eant_ElementIncrementCount", "incrementCount", Missing::Reported, element, err,
               element, counts);
} TAVIRON_GUARD_VOID(err)

const char *eant_ElementGetTypeString(Eant_Element *element, Eerr_ErrorReport **err) try {
  return Dispatch(&F::getTypeString, "eant_ElementGetTypeString", "getTypeString", Missing::Reported,
                  static_cast<const char *>(nullptr), element, err, element);
} TAVIRON_GUARD(err, nullptr)

int32_t eant_ElementCanBeFlipped(Eant_Element *element, Eerr_ErrorReport **err) try {
  return Dispatch(&F::canBeFlipped, "eant_ElementCanBeFlipped", "canBeFlipped", Missing::Reported, int32_t{0}, element,
                  err, element);
} TAVIRON_GUARD(err, 0)

void eant_ElementFlip(Eant_AnnotationInfo *info, Eant_Element *element, Eant_CoordSysConversion *conversion,
                      void *flipData, Efga_Polynomial *polynomial, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementFlip";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "%s", kInvalidElement);
    return;
  }
  lower::CalleeReport inner;
  if (auto flip = lower::SlotOf(element->functions, &F::flipElement)) {
    flip(info, element, conversion, flipData, polynomial, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 2, "flipElement");
    return;
  }
  // A type that cannot mirror its own record is moved by the common polynomial update.
  eant_ElementUpdateByPoly(info, conversion, element, polynomial, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 3, "eant_ElementUpdateByPoly");
} TAVIRON_GUARD_VOID(err)

int32_t eant_ElementSelectSingleStyleOnly(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                                          Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementSelectSingleStyleOnly";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "%s", kInvalidElement);
    return 0;
  }
  auto select = lower::SlotOf(element->functions, &F::selectSingleStyleOnly);
  if (!select) return 0;
  lower::CalleeReport inner;
  const int32_t kind = select(info, element, flags, &inner);
  if (!inner) return kind;
  lower::ReportCallee(err, inner, reporter, 2, "selectSingleStyleOnly");
  return 0;
} TAVIRON_GUARD(err, 0)

Egda_BaseData *eant_ElementCalculateBboxWithDrawing(Eant_Element *element, _exfr_XForm *transform,
                                                    Eant_CoordSysConversion *conversion, Eevg_Drawing *drawing,
                                                    Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementCalculateBboxWithDrawing";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "%s", kInvalidElement);
    return nullptr;
  }
  lower::CalleeReport inner;
  Egda_BaseData *corners = nullptr;
  if (auto withDrawing = lower::SlotOf(element->functions, &F::calculateBboxWithDrawing)) {
    corners = withDrawing(element, transform, conversion, drawing, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 2, "calculateBboxWithDrawing");
  } else if (auto plain = lower::SlotOf(element->functions, &F::calculateBbox)) {
    corners = plain(element, transform, conversion, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 2, "calculateBbox");
  } else {
    lower::Report(err, reporter, 3, "Invalid calculateBbox function for input element");
  }
  return corners;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
