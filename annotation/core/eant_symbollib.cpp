// Symbol libraries and symbol definitions as records: create, free, copy, the library a style
// reference names, and their stored designs.
#include <utility>

#include <cstring>

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

namespace taviron::eant {

Eant_SymbolLibrary *SymbolLibraryCopy(const Eant_SymbolLibrary *source, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  Eant_SymbolLibrary *copy = eant_SymbolLibraryCreate(&inner);
  bool ok = copy && eant_CharStrCopy(&source->fileNodeName, &copy->fileNodeName, &inner) &&
            eant_CharStrCopy(&source->description, &copy->description, &inner) &&
            (!source->styleLibrary ||
             (copy->styleLibrary = eant_StyleLibraryCopy(source->styleLibrary, nullptr, &inner)));
  const int32_t count = ok && source->symbolDataList ? edlm_CountList(source->symbolDataList, nullptr) : 0;
  for (int32_t i = 0; ok && i < count; ++i) {
    const auto *from = *static_cast<Eant_SymbolData **>(edlm_GetAddr(source->symbolDataList, i, nullptr));
    Eant_SymbolData *to = nullptr;
    if (from) {
      ok = (to = eant_SymbolDataCreate(&inner)) &&
           eant_CharStrCopy(&from->symbolName, &to->symbolName, &inner) &&
           eant_CharStrCopy(&from->description, &to->description, &inner) &&
           (!from->baseSymbol || (to->baseSymbol = eant_StyleCopy(from->baseSymbol, nullptr, &inner))) &&
           (!from->elementList ||
            (to->elementList = eant_ElementListCopy(from->elementList, nullptr, &inner)));
      if (to) to->useCount = from->useCount;
    }
    if (ok) ok = edlm_Add(copy->symbolDataList, &to, &inner) >= 0;
    if (!ok) eant_SymbolDataFree(&to);
  }
  if (!ok) {
    eant_SymbolLibraryFree(&copy);
    lower::PassOn(err, inner);
    return nullptr;
  }
  copy->modified = source->modified;
  copy->defaultSymbolNumber = source->defaultSymbolNumber;
  return copy;
}

Eant_SymbolLibrary *SymbolLibraryGetFromStyle(Eint_InitToolkitData *toolkit, Eant_SymbolLibrary *library,
                                              const Eant_Style *reference, Eerr_ErrorReport **err) {
  static const char *reporter = "eant_SymbolLibraryGetFromStyle";
  lower::Clear(err);
  if (!reference) {
    lower::Report(err, reporter, 1, "Invalid input style");
    return nullptr;
  }
  const char *name = Text(reference->fileNodeName);
  if (!name) return library;
  const Eant_InitData *data = PackageData(toolkit);
  if (!toolkit || !data) {
    lower::Report(err, reporter, 2, "%s", toolkit ? kPackageNotInitialized : kToolkitNotInitialized);
    return nullptr;
  }
  for (Eant_SymbolLibrary *loaded = data->symbolLibraryCache; loaded; loaded = loaded->next)
    if (const char *loadedName = Text(loaded->fileNodeName); loadedName && std::strcmp(loadedName, name) == 0)
      return loaded;
  // Loading a library file into the cache comes with the symbol-library reader.
  lower::Report(err, reporter, 3, "Symbol library \"%s\" is not loaded", name);
  return nullptr;
}

} // namespace taviron::eant

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
