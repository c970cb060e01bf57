// Operations on whole element lists: lookup, print, counts, the smart-data test, identifiers,
// units and back pointers over a list and its child lists, style and symbol copies between
// libraries, free, copy, and rendering in one walk or in budgeted steps.
#include "eant_internal.h"

namespace lower = taviron::lower;
using namespace taviron::eant;

namespace {

constexpr const char *kInvalidList = "Invalid input element list";

// Calls the dispatcher on every top-level element; the first failure is reported as
// "Error returned from <callee>" with `code` and ends the walk.
template <class Call>
void ForEachTopLevel(Eant_Element *list, const char *reporter, int32_t code, const char *callee, Call &&call,
                     Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  for (Eant_Element *element = list; element; element = element->next) {
    call(element, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, code, callee);
      return;
    }
  }
}

} // namespace

extern "C" {

Eant_Element *eant_ElementListLookup(Eant_Element *list, Eant_CharStr name, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListLookup";
  lower::Clear(err);
  if (!Text(name)) {
    lower::Report(err, reporter, 1, "Invalid input file nodename");
    return nullptr;
  }
  lower::CalleeReport inner;
  for (Eant_Element *element = list; element; element = element->next) {
    const int32_t same = eant_CharStrCompare(&element->name, &name, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_CharStrCompare");
      return nullptr;
    }
    if (same) return element;
  }
  lower::Report(err, reporter, 3, "Element not found in list");
  return nullptr;
} TAVIRON_GUARD(err, nullptr)

void eant_ElementListPrint(Eant_Element *list, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListPrint";
  lower::Clear(err);
  if (!list) {
    lower::Report(err, reporter, 1, "Input element is NULL");
    return;
  }
  ForEachTopLevel(list, reporter, 2, "eant_ElementPrintElement", eant_ElementPrintElement, err);
} TAVIRON_GUARD_VOID(err)

int32_t eant_ElementListCount(Eant_Element *list, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  int32_t count = 0;
  ForEachInPreorder(list, [&count](Eant_Element *) { return ++count > 0; });
  return count;
} TAVIRON_GUARD(err, 0)

int32_t eant_ElementListCheckForSmartData(Eant_Element *list, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListCheckForSmartData";
  lower::Clear(err);
  lower::CalleeReport inner;
  for (Eant_Element *element = list; element; element = element->next) {
    const int32_t found = eant_ElementCheckForSmartData(element, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 1, "eant_ElementCheckForSmartData");
      return 0;
    }
    if (found == 1) return 1;
  }
  return 0;
} TAVIRON_GUARD(err, 0)

Eant_ElementInfo *eant_ElementListGetElementInfo(Eant_Element *list, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListGetElementInfo";
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_ElementInfo *counts = eant_ElementInfoCreate(&inner);
  if (!counts) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_ElementInfoCreate");
    return nullptr;
  }
  for (Eant_Element *element = list; element; element = element->next) {
    eant_ElementIncrementCount(element, counts, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_ElementIncrementCount");
      eant_ElementInfoFree(&counts);
      return nullptr;
    }
  }
  return counts;
} TAVIRON_GUARD(err, nullptr)

void eant_ElementListCopyStyleBetweenLibs(Eant_Element *list, Eant_StyleLibrary *from, Eant_StyleLibrary *to,
                                          Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListCopyStyleBetweenLibs";
  lower::Clear(err);
  if (!list) {
    lower::Report(err, reporter, 1, "Invalid input element lsit");
    return;
  }
  ForEachTopLevel(
      list, reporter, 2, "eant_ElementCopyStyle",
      [from, to](Eant_Element *element, Eerr_ErrorReport **inner) { eant_ElementCopyStyle(element, from, to, inner); },
      err);
} TAVIRON_GUARD_VOID(err)

void eant_ElementListCopySymbolDataBetweenLibs(Eant_Element *list, Eant_SymbolLibrary *from, Eant_SymbolLibrary *to,
                                               Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListCopySymbolDataBetweenLibs";
  lower::Clear(err);
  if (!list) {
    lower::Report(err, reporter, 1, "Invalid input element lsit");
    return;
  }
  ForEachTopLevel(
      list, reporter, 2, "eant_ElementCopySymbolData",
      [from, to](Eant_Element *element, Eerr_ErrorReport **inner) {
        eant_ElementCopySymbolData(element, from, to, inner);
      },
      err);
} TAVIRON_GUARD_VOID(err)

void eant_ElementListUpdateInfo(Eant_Element *list, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  ForEachTopLevel(
      list, "eant_ElementListUpdateInfo", 1, "eant_ElementUpdateInfo",
      [conversion](Eant_Element *element, Eerr_ErrorReport **inner) { eant_ElementUpdateInfo(element, conversion, inner); },
      err);
} TAVIRON_GUARD_VOID(err)

void eant_ElementListSetIDs(Eant_Element *list, int32_t id, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  ForEachInPreorder(list, [id](Eant_Element *element) { return (element->id = id), true; });
} TAVIRON_GUARD_VOID(err)

int32_t eant_ElementListMakeUniqueIDs(Eant_Element *list, int32_t first, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  int32_t next = first;
  ForEachInPreorder(list, [&next](Eant_Element *element) { return (element->id = next++), true; });
  return next;
} TAVIRON_GUARD(err, first)

void eant_ElementListSetUnits(Eant_Element *list, int32_t coordSys, const char *units, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  ForEachInPreorder(list, [&](Eant_Element *element) {
    eant_ElementSetUnits(element, coordSys, units, &inner);
    return !inner;
  });
  if (inner) lower::ReportCallee(err, inner, "eant_ElementListSetUnits", 1, "eant_ElementSetUnits");
} TAVIRON_GUARD_VOID(err)

void eant_ElementListReplaceAntInfo(Eant_Element *list, Eant_AnnotationInfo *info, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  ForEachInPreorder(list, [info](Eant_Element *element) { return (element->antInfo = info), true; });
} TAVIRON_GUARD_VOID(err)

void eant_ElementListReplaceSymbolLib(Eant_Element *list, Eant_SymbolLibrary *library, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  ForEachInPreorder(list, [library](Eant_Element *element) { return (element->symbolLibrary = library), true; });
} TAVIRON_GUARD_VOID(err)

void eant_ElementListFree(Eant_Element **list) try {
  if (!list) return;
  for (Eant_Element *at = *list; at;) {
    Eant_Element *next = at->next;
    eant_ElementFreeElement(&at);
    at = next;
  }
  *list = nullptr;
} TAVIRON_GUARD_QUIET_VOID

Eant_Element *eant_ElementListCopy(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListCopy";
  lower::Clear(err);
  eant_ElementListFree(&target);
  lower::CalleeReport inner;
  Eant_Element *first = nullptr, *last = nullptr;
  for (Eant_Element *element = source; element; element = element->next) {
    Eant_Element *copy = eant_ElementCopyElement(element, nullptr, &inner);
    if (!copy || inner) {
      if (copy) eant_ElementFreeElement(&copy);
      lower::ReportCallee(err, inner, reporter, first ? 3 : 2, "eant_ElementCopyElement");
      eant_ElementListFree(&first);
      return nullptr;
    }
    copy->next = nullptr;
    copy->previous = last;
    (last ? last->next : first) = copy;
    last = copy;
  }
  return first;
} TAVIRON_GUARD(err, nullptr)

void eant_ElementListRender(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *symbols,
                            Eant_Criteria *criteria, Eant_Element *list, _exfr_XForm *transform,
                            Eant_CoordSysConversion *conversion, Eevg_Drawing *drawing, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListRender";
  lower::Clear(err);
  if (!list) {
    lower::Report(err, reporter, 1, "%s", kInvalidList);
    return;
  }
  lower::CalleeReport inner;
  for (Eant_Element *element = list; element; element = element->next) {
    const int32_t passes = eant_CriteriaCheck(element, transform, criteria, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_CriteriaCheck");
      return;
    }
    if (passes != 1) continue;
    eant_ElementRenderElement(toolkit, styles, symbols, criteria, drawing, element, transform, conversion, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 3, "eant_ElementRenderElement");
      return;
    }
  }
} TAVIRON_GUARD_VOID(err)

int32_t eant_ElementListRenderIncremental(Eint_InitToolkitData *toolkit, Eant_RenderData *renderData,
                                          Eant_StyleLibrary *styles, Eant_SymbolLibrary *symbols,
                                          Eant_Criteria *criteria, _exfr_XForm *transform,
                                          Eant_CoordSysConversion *conversion, Eevg_Drawing *drawing,
                                          Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListRenderIncremental";
  lower::Clear(err);
  if (!renderData) {
    lower::Report(err, reporter, 1, "Invalid input renderData");
    return 1;
  }
  if (renderData->budget <= 0) return 1; // nothing may be visited: the walk counts as complete
  lower::CalleeReport inner;
  for (int32_t visited = 0; visited < renderData->budget;) {
    const int32_t depth = edlm_CountList(renderData->stack, &inner);
    if (depth <= 0) {
      if (inner) lower::ReportCallee(err, inner, reporter, 2, "edlm_CountList");
      return 1; // the layer is drawn
    }
    // The top item is the element still to visit at the deepest level; null ends that level.
    Eant_Element *element = nullptr;
    if (!edlm_Element(renderData->stack, depth - 1, &element, &inner)) {
      lower::ReportCallee(err, inner, reporter, 3, "edlm_Element");
      return 1;
    }
    if (!element) {
      if (!edlm_Pop(renderData->stack, nullptr, &inner)) {
        lower::ReportCallee(err, inner, reporter, 5, "edlm_Pop");
        return 1;
      }
      continue;
    }
    if (!edlm_Replace(renderData->stack, depth - 1, &element->next, &inner)) {
      lower::ReportCallee(err, inner, reporter, 4, "edlm_Replace");
      return 1;
    }
    ++visited;
    ++renderData->visited;
    const int32_t passes = eant_CriteriaCheck(element, transform, criteria, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 6, "eant_CriteriaCheck");
      return 1;
    }
    if (passes != 1) continue;
    if (element->elmType == EANT_GROUP) {
      // A group's children are visited one by one instead of through the group's own render.
      if (edlm_Push(renderData->stack, &element->child, &inner) < 0) {
        lower::ReportCallee(err, inner, reporter, 7, "edlm_Push");
        return 1;
      }
      continue;
    }
    eant_ElementRenderElement(toolkit, styles, symbols, criteria, drawing, element, transform, conversion, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 8, "eant_ElementRenderElement");
      return 1;
    }
  }
  return 0;
} TAVIRON_GUARD(err, 1)

} // extern "C"
