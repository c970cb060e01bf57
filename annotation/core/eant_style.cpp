// Style references: a numbered style, colour or symbol of a library, possibly in another file.
// The record is described once (kStyle); its design, free and print follow from the table.
#include "eant_internal.h"
#include "emsc.h"

namespace lower = taviron::lower;
namespace record = taviron::record;
using taviron::eant::kStyle;

extern "C" {

Eant_Style *eant_StyleCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *style = lower::HeapNew<Eant_Style>();
  if (!style) {
    lower::Report(err, "eant_StyleCreate", 1, "Error allocating Style");
    return nullptr;
  }
  style->number = -1;
  return style;
} TAVIRON_GUARD(err, nullptr)

Eant_Style *eant_StyleSetValues(Eant_Style *style, const char *fileNodeName, const char *name, int32_t number,
                                Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleSetValues";
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_Style *made = nullptr;
  if (!style) {
    style = made = eant_StyleCreate(&inner);
    if (!style) {
      lower::ReportCallee(err, inner, reporter, 1, "eant_StyleCreate");
      return nullptr;
    }
  }
  if (!eant_CharStrCreate(fileNodeName, &style->fileNodeName, &inner)) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_CharStrCreate for fileNodeName");
    eant_StyleFree(&made);
    return nullptr;
  }
  if (!eant_CharStrCreate(name, &style->name, &inner)) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_CharStrCreate for name");
    eant_StyleFree(&made);
    return nullptr;
  }
  style->number = number;
  return style;
} TAVIRON_GUARD(err, nullptr)

Eant_Style *eant_StyleCopy(const Eant_Style *source, Eant_Style *target, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eant_Style");
    return target;
  }
  if (source == target) return target;
  lower::CalleeReport inner;
  Eant_Style *made = nullptr;
  if (!target) {
    target = made = eant_StyleCreate(&inner);
    if (!target) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_StyleCreate");
      return nullptr;
    }
  }
  if (!eant_CharStrCopy(&source->fileNodeName, &target->fileNodeName, &inner)) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_CharStrCopy for fileNodeName");
    if (made) {
      eant_StyleFree(&made);
      return nullptr;
    }
    return target;
  }
  if (!eant_CharStrCopy(&source->name, &target->name, &inner)) {
    lower::ReportCallee(err, inner, reporter, 4, "eant_CharStrCopy for name");
    if (made) {
      eant_StyleFree(&made);
      return nullptr;
    }
    return target;
  }
  target->number = source->number;
  return target;
} TAVIRON_GUARD(err, nullptr)

int32_t eant_StyleCompare(const Eant_Style *a, const Eant_Style *b, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleCompare";
  lower::Clear(err);
  if (!a || !b) return !a && !b ? 1 : 0;
  lower::CalleeReport inner;
  const int32_t sameFile = eant_CharStrCompare(&a->fileNodeName, &b->fileNodeName, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_CharStrCompare for fileNodeName");
    return 0;
  }
  const int32_t sameName = eant_CharStrCompare(&a->name, &b->name, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_CharStrCompare for name");
    return 0;
  }
  return sameFile && sameName && a->number == b->number ? 1 : 0;
} TAVIRON_GUARD(err, 0)

int32_t eant_StyleNameCompare(const Eant_Style *a, const Eant_Style *b) try {
  if (!a || !b) return 0;
  const char *x = taviron::eant::Text(a->name);
  const char *y = taviron::eant::Text(b->name);
  if (!x || !y) return x ? 1 : (y ? -1 : 0);
  return estr_CompareString(x, y);
} TAVIRON_GUARD_QUIET(0)

void eant_StylePrint(const Eant_Style *style, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (style) {
    record::Print(kStyle, style, 3, "Style");
  } else {
    lower::Write(lower::Stream::Out, "   Style:\n");
  }
} TAVIRON_GUARD_VOID(err)

Emif_Design *eant_StyleDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return taviron::eant::DefineDesigns(dictionary, "eant_StyleDesignDefine", {{&kStyle}}, err);
} TAVIRON_GUARD(err, nullptr)

void eant_StyleFreeContents(Eant_Style *style) try {
  record::FreeContents(kStyle, style);
} TAVIRON_GUARD_QUIET_VOID

void eant_StyleFree(Eant_Style **style) try {
  if (!style || !*style) return;
  record::FreeContents(kStyle, *style);
  emsc_HeapFreeEx(style);
} TAVIRON_GUARD_QUIET_VOID

} // extern "C"
