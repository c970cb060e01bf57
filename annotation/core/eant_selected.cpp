// The selected styles: the styles, sizes and units that new elements receive. The record is
// described once (kSelectedStyles): its design, copy and free follow from the table.
#include <cstring>

#include "eant_internal.h"
#include "emsc.h"

namespace lower = taviron::lower;
namespace record = taviron::record;
using namespace taviron::eant;

namespace {

constexpr record::Item kSelectedStylesItems[] = {
    TAVIRON_ITEM(Eant_SelectedStyles, selectedLineStyle, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kStyle),
    TAVIRON_ITEM(Eant_SelectedStyles, selectedFillStyle, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kStyle),
    TAVIRON_ITEM(Eant_SelectedStyles, selectedTextStyle, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kStyle),
    TAVIRON_ITEM(Eant_SelectedStyles, selectedColor, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kStyle),
    TAVIRON_ITEM(Eant_SelectedStyles, selectedSymbolData, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kStyle),
    TAVIRON_ITEM(Eant_SelectedStyles, selectedTextHeight, EMIF_TYPE_F64),
    TAVIRON_ITEM(Eant_SelectedStyles, textHeightScaleUnits, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kCoordDefinition),
    TAVIRON_ITEM(Eant_SelectedStyles, selectedSymbolScale, EMIF_TYPE_F64),
    TAVIRON_ITEM(Eant_SelectedStyles, symbolScaleUnits, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kCoordDefinition),
    TAVIRON_ITEM(Eant_SelectedStyles, symbolColorOverride, EMIF_TYPE_ENUM).Enum(kBooleans),
    TAVIRON_ITEM(Eant_SelectedStyles, symbolColor, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kStyle),
    TAVIRON_ITEM(Eant_SelectedStyles, flags, EMIF_TYPE_S32)};
constexpr record::Design kSelectedStyles =
    record::DesignOf<Eant_SelectedStyles>("Eant_SelectedStyles", kSelectedStylesItems);
static_assert(kSelectedStyles.Matches());

constexpr const char *kNode = "SelectedStyles";

} // namespace

extern "C" {

Eant_SelectedStyles *eant_SelectedStylesCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *styles = lower::HeapNew<Eant_SelectedStyles>();
  if (!styles) lower::Report(err, "eant_SelectedStylesCreate", 1, "Error allocating selected styles");
  return styles;
} TAVIRON_GUARD(err, nullptr)

Eant_SelectedStyles *eant_SelectedStylesCopy(const Eant_SelectedStyles *source, Eant_SelectedStyles *target,
                                             Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_SelectedStylesCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eant_SelectedStyles");
    return target;
  }
  if (source == target) return target;
  Eant_SelectedStyles copy{};
  if (!record::Copy(kSelectedStyles, source, &copy)) {
    lower::Report(err, reporter, 3, "Error copying Eant_SelectedStyles");
    return target;
  }
  if (!target) {
    lower::CalleeReport inner;
    if (!(target = eant_SelectedStylesCreate(&inner))) {
      record::FreeContents(kSelectedStyles, &copy);
      lower::ReportCallee(err, inner, reporter, 2, "eant_SelectedStylesCreate");
      return nullptr;
    }
  }
  copy.flags = target->flags; // the target keeps its own
  record::FreeContents(kSelectedStyles, target);
  *target = copy;
  return target;
} TAVIRON_GUARD(err, nullptr)

void eant_SelectedStylesFree(Eant_SelectedStyles **styles) try {
  if (!styles || !*styles) return;
  record::FreeContents(kSelectedStyles, *styles);
  emsc_HeapFreeEx(styles);
} TAVIRON_GUARD_QUIET_VOID

Emif_Design *eant_SelectedStylesDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_SelectedStylesDesignDefine", {{&kSelectedStyles}}, err);
} TAVIRON_GUARD(err, nullptr)

void eant_SelectedStylesWrite(Eant_FileIO *fileIO, const char *nodePath, const Eant_SelectedStyles *styles,
                              Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_SelectedStylesWrite";
  lower::Clear(err);
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return;
  if (!styles) {
    lower::Report(err, reporter, 4, "Invalid input selectedStyles");
    return;
  }
  Ehfa_File *file = fileIO->file;
  lower::CalleeReport inner;
  const Emif_Design *design = nullptr;
  int32_t code = 4;
  for (const char *name : {kStyle.name, kCoordDefinition.name, kSelectedStyles.name}) {
    ++code;
    if (!(design = eant_PutDesignInDictionary(data, name, file->dictionary, &inner))) {
      lower::ReportChained(err, inner, reporter, code, "Error returned from eant_PutDesignInDictionary for %s", name);
      return;
    }
  }
  if (nodePath && !ehfa_EntrySeek(file, EHFA_PATH, nodePath, &inner)) {
    lower::ReportCallee(err, inner, reporter, 8, "ehfa_EntrySeek for nodepath");
    return;
  }
  if (!ehfa_ObjectWrite(file, nullptr, kNode, kSelectedStyles.name, EHFA_CHILD, styles, design, &inner))
    lower::ReportCallee(err, inner, reporter, 9, "ehfa_ObjectWrite");
} TAVIRON_GUARD_VOID(err)

Eant_SelectedStyles *eant_SelectedStylesRead(Eant_FileIO *fileIO, const char *nodePath, Eant_SelectedStyles *styles,
                                             Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_SelectedStylesRead";
  lower::Clear(err);
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return nullptr;
  Ehfa_File *file = fileIO->file;
  lower::CalleeReport inner;
  if (nodePath && !ehfa_EntrySeek(file, EHFA_PATH, nodePath, &inner)) {
    lower::ReportCallee(err, inner, reporter, 4, "ehfa_EntrySeek for nodepath");
    return nullptr;
  }
  const Emif_Design *design =
      data->dictionary ? emif_FindDesignByName(data->dictionary, kSelectedStyles.name, &inner) : nullptr;
  if (!design) {
    lower::ReportCallee(err, inner, reporter, 5, "emif_FindDesignByName");
    return nullptr;
  }
  // The record is read into a fresh one, so that a failure leaves the caller's as it was.
  Eant_SelectedStyles read{};
  if (!ehfa_ObjectRead(file, nullptr, kNode, EHFA_CHILD_NAMED, &read, design, &inner)) {
    lower::ReportCallee(err, inner, reporter, 6, "ehfa_ObjectRead");
    return nullptr;
  }
  if (!styles && !(styles = eant_SelectedStylesCreate(&inner))) {
    record::FreeContents(kSelectedStyles, &read);
    lower::ReportCallee(err, inner, reporter, 7, "eant_SelectedStylesCreate");
    return nullptr;
  }
  record::FreeContents(kSelectedStyles, styles);
  *styles = read;
  return styles;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
