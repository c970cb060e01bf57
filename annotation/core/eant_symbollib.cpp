// Symbol libraries and symbol definitions as records: create, free and their stored designs.
#include <utility>

#include "eant_internal.h"
#include "emsc.h"

namespace lower = taviron::lower;
namespace record = taviron::record;
using namespace taviron::eant;

namespace {

// A definition as stored: its elements are an element list below its node.
struct SymbolDataStored {
  int32_t useCount;
  Eant_CharStr symbolName;
  Eant_CharStr description;
  Eant_Style *baseSymbol;
};
constexpr record::Item kSymbolDataItems[] = {
    TAVIRON_ITEM(SymbolDataStored, useCount, EMIF_TYPE_S32),
    TAVIRON_ITEM(SymbolDataStored, symbolName, EMIF_TYPE_STRING),
    TAVIRON_ITEM(SymbolDataStored, description, EMIF_TYPE_STRING),
    TAVIRON_ITEM(SymbolDataStored, baseSymbol, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kStyle)};
constexpr record::Design kSymbolData = record::DesignOf<SymbolDataStored>("SymbolData_Eant", kSymbolDataItems);

// A library as stored in its node: the definitions are children of the node.
struct SymbolLibraryStored {
  int32_t symbolDataCount;
  int32_t versionNumber;
};
struct SymbolLibrary4Stored {
  Eant_CharStr description;
  int32_t symbolDataCount;
  int32_t versionNumber;
};
constexpr record::Item kSymbolLibraryItems[] = {TAVIRON_ITEM(SymbolLibraryStored, symbolDataCount, EMIF_TYPE_S32),
                                                TAVIRON_ITEM(SymbolLibraryStored, versionNumber, EMIF_TYPE_S32)};
constexpr record::Design kSymbolLibrary =
    record::DesignOf<SymbolLibraryStored>("SymbolLibrary_Eant", kSymbolLibraryItems);
constexpr record::Item kSymbolLibrary4Items[] = {
    TAVIRON_ITEM(SymbolLibrary4Stored, description, EMIF_TYPE_STRING),
    TAVIRON_ITEM(SymbolLibrary4Stored, symbolDataCount, EMIF_TYPE_S32),
    TAVIRON_ITEM(SymbolLibrary4Stored, versionNumber, EMIF_TYPE_S32)};
constexpr record::Design kSymbolLibrary4 =
    record::DesignOf<SymbolLibrary4Stored>("SymbolLibrary_4_Eant", kSymbolLibrary4Items);
static_assert(kSymbolData.Matches() && kSymbolLibrary.Matches() && kSymbolLibrary4.Matches());

// Frees the definitions of a slot list and the list.
void FreeDefinitions(Edlm_List *list) {
  edlm_FreeListAndContents(list, [](void *slot) { eant_SymbolDataFree(static_cast<Eant_SymbolData **>(slot)); });
}

} // namespace

extern "C" {

Eant_SymbolData *eant_SymbolDataCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *symbolData = lower::HeapNew<Eant_SymbolData>();
  if (!symbolData) lower::Report(err, "eant_SymbolDataCreate", 1, "Error allocating SymbolData");
  return symbolData;
} TAVIRON_GUARD(err, nullptr)

void eant_SymbolDataFree(Eant_SymbolData **symbolData) try {
  if (!symbolData || !*symbolData) return;
  Eant_SymbolData *s = *symbolData;
  eant_CharStrFree(&s->symbolName);
  eant_CharStrFree(&s->description);
  eant_StyleFree(&s->baseSymbol);
  eant_ElementListFree(&s->elementList);
  emsc_HeapFreeEx(symbolData);
} TAVIRON_GUARD_QUIET_VOID

Eant_SymbolLibrary *eant_SymbolLibraryCreate(Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_SymbolLibraryCreate";
  lower::Clear(err);
  auto *library = lower::HeapNew<Eant_SymbolLibrary>();
  if (!library) {
    lower::Report(err, reporter, 1, "Error allocating SymbolLibrary");
    return nullptr;
  }
  library->defaultSymbolNumber = -1;
  lower::CalleeReport inner;
  eant_SymbolLibraryInit(library, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_SymbolLibraryInit");
    eant_SymbolLibraryFree(&library);
  }
  return library;
} TAVIRON_GUARD(err, nullptr)

void eant_SymbolLibraryInit(Eant_SymbolLibrary *library, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_SymbolLibraryInit";
  lower::Clear(err);
  if (!library) {
    lower::Report(err, reporter, 1, "Invalid input Symbol Library");
    return;
  }
  FreeDefinitions(std::exchange(library->symbolDataList, nullptr));
  lower::CalleeReport inner;
  library->symbolDataList = edlm_NewList(sizeof(void *), 1, &inner);
  if (!library->symbolDataList) lower::ReportCallee(err, inner, reporter, 2, "edlm_NewList");
} TAVIRON_GUARD_VOID(err)

void eant_SymbolLibraryFree(Eant_SymbolLibrary **library) try {
  if (!library || !*library) return;
  Eant_SymbolLibrary *first = std::exchange(*library, nullptr);
  // The libraries chained behind go first, then this one.
  for (Eant_SymbolLibrary *at = std::exchange(first->next, nullptr); at;) {
    Eant_SymbolLibrary *next = std::exchange(at->next, nullptr);
    eant_SymbolLibraryFree(&at);
    at = next;
  }
  eant_CharStrFree(&first->fileNodeName);
  eant_StyleLibraryFree(&first->styleLibrary);
  FreeDefinitions(first->symbolDataList);
  edlm_FreeListAndContents(first->cachedStyleRefs,
                           [](void *reference) { eant_StyleFreeContents(static_cast<Eant_Style *>(reference)); });
  if (first->clientData && first->clientRelease) first->clientRelease(first->clientData, first->clientData2);
  eant_CharStrFree(&first->description);
  emsc_HeapFree(first);
} TAVIRON_GUARD_QUIET_VOID

Emif_Design *eant_SymbolDataDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_SymbolDataDesignDefine", {{&kSymbolData}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_SymbolLibraryDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_SymbolLibraryDesignDefine", {{&kSymbolLibrary}, {&kSymbolLibrary4}}, err);
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
