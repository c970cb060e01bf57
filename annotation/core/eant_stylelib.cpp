// Style libraries: the record with its four numbered lists (one style kind each, eant_stylekind),
// its copy and free, its stored form in hierarchical files (four versions of the library design),
// the package's list of libraries loaded from style files, and a library opened as a file of its
// own.
#include <cstring>
#include <utility>

#include "eant_internal.h"
#include "efio.h"
#include "efnp.h"
#include "emsc.h"

namespace lower = taviron::lower;
namespace record = taviron::record;
using namespace taviron::eant;

namespace {

// ---- Stored form ---------------------------------------------------------------------------

// Versions 0 to 3 store the four arrays; version 4 the description before them.
struct StoredLibrary {
  StoredArray lineStyles, fillStyles, textStyles, colors;
  int32_t versionNumber;
};
struct StoredLibrary4 {
  Eant_CharStr description;
  StoredArray lineStyles, fillStyles, textStyles, colors;
  int32_t versionNumber;
};
#define TAVIRON_EANT_LIBRARY_ITEMS(Record, line, fill, text, color)                                \
  TAVIRON_ITEM(Record, lineStyles, EMIF_COUNTED_ARRAY + EMIF_TYPE_OBJECT).Nested(line),             \
      TAVIRON_ITEM(Record, fillStyles, EMIF_COUNTED_ARRAY + EMIF_TYPE_OBJECT).Nested(fill),         \
      TAVIRON_ITEM(Record, textStyles, EMIF_COUNTED_ARRAY + EMIF_TYPE_OBJECT).Nested(text),         \
      TAVIRON_ITEM(Record, colors, EMIF_COUNTED_ARRAY + EMIF_TYPE_OBJECT).Nested(color),            \
      TAVIRON_ITEM(Record, versionNumber, EMIF_TYPE_S32)
constexpr record::Item kLibrary0Items[] = {
    TAVIRON_EANT_LIBRARY_ITEMS(StoredLibrary, kLineStyle0, kFillStyle0, kTextStyle0, kColor0)};
constexpr record::Item kLibrary1Items[] = {
    TAVIRON_EANT_LIBRARY_ITEMS(StoredLibrary, kLineStyle1, kFillStyle0, kTextStyle0, kColor0)};
constexpr record::Item kLibrary2Items[] = {
    TAVIRON_EANT_LIBRARY_ITEMS(StoredLibrary, kLineStyle2, kFillStyle2, kTextStyle2, kColor2)};
constexpr record::Item kLibrary4Items[] = {
    TAVIRON_ITEM(StoredLibrary4, description, EMIF_TYPE_STRING),
    TAVIRON_EANT_LIBRARY_ITEMS(StoredLibrary4, kLineStyle4, kFillStyle2, kTextStyle2, kColor2)};
#undef TAVIRON_EANT_LIBRARY_ITEMS
constexpr record::Design kLibrary0 = record::DesignOf<StoredLibrary>("StyleLibrary_Eant", kLibrary0Items);
constexpr record::Design kLibrary1 = record::DesignOf<StoredLibrary>("StyleLibrary_1_Eant", kLibrary1Items);
constexpr record::Design kLibrary2 = record::DesignOf<StoredLibrary>("StyleLibrary_2_Eant", kLibrary2Items);
constexpr record::Design kLibrary4 = record::DesignOf<StoredLibrary4>("StyleLibrary_4_Eant", kLibrary4Items);
static_assert(kLibrary0.Matches() && kLibrary1.Matches() && kLibrary2.Matches() && kLibrary4.Matches());

// The design each annotation version reads (versions 2 and 3 share one).
constexpr const record::Design *kVersionDesigns[] = {&kLibrary0, &kLibrary1, &kLibrary2, &kLibrary2, &kLibrary4};

// The designs a written library needs in the file's dictionary, nested ones first.
constexpr const char *kWrittenDesigns[] = {
    "Eant_Style",       "Eant_CoordDefinition", "Color2",      "Eant_LineDescription", "Eevg_LinePatternSegment",
    "Eevg_ArrowEnd",    "Eant_LineSymbol",      "LineStyle4",  "Eant_PatternFill",     "FillPattern2",
    "FillStyle2",       "TextShadow",           "TextStyle2",  "StyleLibrary_4_Eant"};

constexpr const char *kDefaultNode = ":StyleLibrary";

// The stored arrays of a library object, in the order of the kinds.
StoredArray *ArraysOf(StoredLibrary &stored, int32_t kind) {
  StoredArray *arrays[] = {&stored.lineStyles, &stored.fillStyles, &stored.textStyles, &stored.colors};
  return arrays[kind];
}
StoredArray *ArraysOf(StoredLibrary4 &stored, int32_t kind) {
  StoredArray *arrays[] = {&stored.lineStyles, &stored.fillStyles, &stored.textStyles, &stored.colors};
  return arrays[kind];
}

// Frees every list of the library with its styles (the lists become null).
void FreeLists(Eant_StyleLibrary &library) {
  for (int32_t kind = 0; kind < kStyleKindCount; ++kind) {
    const StyleKindFunctions &functions = StyleKind(kind);
    functions.freeList(std::exchange(library.*functions.list, nullptr));
  }
}

// Moves the arrays of a stored library object of `version` into the library's lists; the
// object owns nothing afterwards. Reports name `reporter`.
template <class Stored>
void CopyFromPrivate(const char *reporter, int32_t version, void *privateLibrary, Eant_StyleLibrary *library,
                     Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!privateLibrary) {
    lower::Report(err, reporter, 1, "Invalid input privateStyleLib");
    return;
  }
  auto &stored = *static_cast<Stored *>(privateLibrary);
  const record::Design &design = *kVersionDesigns[version];
  if (!library) {
    lower::Report(err, reporter, 2, "Invalid input styleLib");
    record::FreeContents(design, &stored);
    return;
  }
  for (int32_t kind = 0; kind < kStyleKindCount; ++kind) {
    const StyleKindFunctions &functions = StyleKind(kind);
    StoredArray &array = *ArraysOf(stored, kind);
    lower::CalleeReport inner;
    functions.fromArray[version](array.data, array.count, library->*functions.list, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 3, functions.fromArrayName[version]);
      break;
    }
  }
  if constexpr (std::is_same_v<Stored, StoredLibrary4>) {
    eant_CharStrFree(&library->description);
    library->description = std::exchange(stored.description, Eant_CharStr{});
  }
  record::FreeContents(design, &stored); // the arrays, and what a failed conversion left in them
}

// What the library's clear and print do with each list, in the order of the kinds.
struct ListService {
  void (*clear)(Edlm_List *list, Eerr_ErrorReport **err);
  void (*print)(const void *style);
};
constexpr ListService kListServices[kStyleKindCount] = {
    {eant_LineStyleListClearEvaluatedStyles,
     [](const void *style) { eant_LineStylePrint(static_cast<const Eant_LineStyle *>(style), nullptr); }},
    {eant_FillStyleListClearEvaluatedStyles,
     [](const void *style) { eant_FillStylePrint(static_cast<const Eant_FillStyle *>(style), nullptr); }},
    {eant_TextStyleListClearEvaluatedStyles,
     [](const void *style) { eant_TextStylePrint(static_cast<const Eant_TextStyle *>(style), nullptr); }},
    {eant_ColorListClearEvaluatedStyles,
     [](const void *style) { eant_ColorPrint(static_cast<const Eant_Color *>(style), nullptr); }}};

// Closes a file a layer operation opened and gives up (a failure to close is of no consequence).
void CloseQuietly(Ehfa_File *file) { ehfa_FileClose(file, nullptr); }

} // namespace

extern "C" {

// ---- The record ------------------------------------------------------------------------------

Eant_StyleLibrary *eant_StyleLibraryCreate(Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleLibraryCreate";
  lower::Clear(err);
  auto *library = lower::HeapNew<Eant_StyleLibrary>();
  if (!library) {
    lower::Report(err, reporter, 1, "Error allocating StyleLibrary");
    return nullptr;
  }
  lower::CalleeReport inner;
  eant_StyleLibraryInit(library, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_StyleLibraryInit");
    eant_StyleLibraryFree(&library);
  }
  return library;
} TAVIRON_GUARD(err, nullptr)

void eant_StyleLibraryInit(Eant_StyleLibrary *library, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleLibraryInit";
  lower::Clear(err);
  if (!library) {
    lower::Report(err, reporter, 1, "Invalid input Style Library");
    return;
  }
  FreeLists(*library);
  for (int32_t kind = 0; kind < kStyleKindCount; ++kind) {
    const StyleKindFunctions &functions = StyleKind(kind);
    lower::CalleeReport inner;
    library->*functions.list = edlm_NewList(sizeof(void *), 1, &inner);
    if (!(library->*functions.list)) {
      lower::ReportChained(err, inner, reporter, kind + 2, "Error returned from edlm_NewList for %s",
                           functions.listName);
      return;
    }
  }
} TAVIRON_GUARD_VOID(err)

void eant_StyleLibraryFree(Eant_StyleLibrary **library) try {
  if (!library) return;
  for (Eant_StyleLibrary *at = std::exchange(*library, nullptr); at;) {
    Eant_StyleLibrary *next = at->next;
    eant_CharStrFree(&at->fileNodeName);
    FreeLists(*at);
    eant_CharStrFree(&at->description);
    emsc_HeapFree(at);
    at = next;
  }
} TAVIRON_GUARD_QUIET_VOID

Eant_StyleLibrary *eant_StyleLibraryCopy(const Eant_StyleLibrary *source, Eant_StyleLibrary *target,
                                         Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleLibraryCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, reporter, 1, "Invalid input Eant_StyleLibrary");
    return target;
  }
  if (source == target) return target;
  lower::CalleeReport inner;
  Eant_StyleLibrary *made = nullptr;
  if (!target && !(target = made = eant_StyleLibraryCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_StyleLibraryCreate");
    return nullptr;
  }
  auto failed = [&](int32_t code, const char *callee) -> Eant_StyleLibrary * {
    lower::ReportCallee(err, inner, reporter, code, callee);
    if (made) {
      eant_StyleLibraryFree(&made);
      return nullptr;
    }
    return target;
  };
  if (!eant_CharStrCopy(&source->fileNodeName, &target->fileNodeName, &inner)) return failed(3, "eant_CharStrCopy");
  for (int32_t kind = 0; kind < kStyleKindCount; ++kind) {
    const StyleKindFunctions &functions = StyleKind(kind);
    Edlm_List *copy = functions.copyList(source->*functions.list, std::exchange(target->*functions.list, nullptr), &inner);
    target->*functions.list = copy;
    if (inner) return failed(kind + 4, kind == kLineStyles   ? "eant_LineStyleListCopy"
                                       : kind == kFillStyles ? "eant_FillStyleListCopy"
                                       : kind == kTextStyles ? "eant_TextStyleListCopy"
                                                             : "eant_ColorListCopy");
  }
  if (!eant_CharStrCopy(&source->description, &target->description, &inner)) return failed(8, "eant_CharStrCopy");
  target->modified = 1;
  target->evaluated = 0;
  return target;
} TAVIRON_GUARD(err, nullptr)

void eant_StyleLibraryClearEvaluatedStyles(Eant_StyleLibrary *library, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleLibraryClearEvaluatedStyles";
  lower::Clear(err);
  if (!library) return;
  if (library->evaluated == 1) {
    for (int32_t kind = 0; kind < kStyleKindCount; ++kind) {
      Edlm_List *list = library->*StyleKind(kind).list;
      if (!list) continue;
      lower::CalleeReport inner;
      kListServices[kind].clear(list, &inner);
      if (inner) {
        lower::ReportChained(err, inner, reporter, kind + 1, "Error clearing the evaluated %s",
                             StyleKind(kind).listName);
        return;
      }
    }
  }
  library->evaluated = 0;
} TAVIRON_GUARD_VOID(err)

void eant_StyleLibraryListPrint(const Eant_StyleLibrary *library, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!library) {
    lower::Report(err, "eant_StyleLibraryListPrint", 1, "Invalid input styleLibrary");
    return;
  }
  efio_Printf("Style Library:\n");
  efio_Printf(library->modified ? "    modified - true\n" : "    modified - false\n");
  efio_Printf(library->evaluated ? "    evaluated - true\n" : "    evaluated - false\n");
  if (const char *name = Text(library->fileNodeName)) efio_Printf("    fileNodeName - %s\n", name);
  if (const char *description = Text(library->description)) efio_Printf("    description - %s\n", description);
  for (int32_t kind = 0; kind < kStyleKindCount; ++kind) {
    Edlm_List *list = library->*StyleKind(kind).list;
    const int32_t count = list ? edlm_CountList(list, nullptr) : 0;
    for (int32_t i = 0; i < count; ++i)
      if (const void *style = *static_cast<void **>(edlm_GetAddr(list, i, nullptr))) kListServices[kind].print(style);
  }
} TAVIRON_GUARD_VOID(err)

// ---- Stored form -----------------------------------------------------------------------------

Emif_Design *eant_StyleLibraryDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_StyleLibraryDesignDefine",
                       {{&kLibrary0}, {&kLibrary1}, {&kLibrary2}, {&kLibrary4}}, err);
} TAVIRON_GUARD(err, nullptr)

void eant_StyleLibraryCopyFromPrivate(void *privateStyleLib, Eant_StyleLibrary *library, Eerr_ErrorReport **err) try {
  CopyFromPrivate<StoredLibrary>("eant_StyleLibraryCopyFromPrivate", 0, privateStyleLib, library, err);
} TAVIRON_GUARD_VOID(err)

void eant_StyleLibraryCopyFromPrivate1(void *privateStyleLib, Eant_StyleLibrary *library,
                                       Eerr_ErrorReport **err) try {
  CopyFromPrivate<StoredLibrary>("eant_StyleLibraryCopyFromPrivate1", 1, privateStyleLib, library, err);
} TAVIRON_GUARD_VOID(err)

void eant_StyleLibraryCopyFromPrivate2(void *privateStyleLib, Eant_StyleLibrary *library,
                                       Eerr_ErrorReport **err) try {
  CopyFromPrivate<StoredLibrary>("eant_StyleLibraryCopyFromPrivate2", 2, privateStyleLib, library, err);
} TAVIRON_GUARD_VOID(err)

void eant_StyleLibraryCopyFromPrivate4(void *privateStyleLib, Eant_StyleLibrary *library,
                                       Eerr_ErrorReport **err) try {
  CopyFromPrivate<StoredLibrary4>("eant_StyleLibraryCopyFromPrivate4", 4, privateStyleLib, library, err);
} TAVIRON_GUARD_VOID(err)

void eant_StyleLibraryWrite(Eant_FileIO *fileIO, const char *nodePath, const char *nodeName,
                            Eant_StyleLibrary *library, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleLibraryWrite";
  lower::Clear(err);
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return;
  if (!library) {
    lower::Report(err, reporter, 4, "Invalid input styleLib");
    return;
  }
  if (!nodeName) {
    lower::Report(err, reporter, 5, "Invalid input nodeName");
    return;
  }
  Ehfa_File *file = fileIO->file;
  lower::CalleeReport inner;
  const Emif_Design *design = nullptr;
  for (const char *name : kWrittenDesigns) {
    design = eant_PutDesignInDictionary(data, name, file->dictionary, &inner);
    if (!design) {
      lower::ReportChained(err, inner, reporter, 6, "Error returned from eant_PutDesignInDictionary for %s", name);
      return;
    }
  }
  if (nodePath && !ehfa_EntrySeek(file, EHFA_PATH, nodePath, &inner)) {
    lower::ReportCallee(err, inner, reporter, 7, "ehfa_EntrySeek for nodepath");
    return;
  }
  // The arrays share the styles' parts: only the blocks are freed afterwards.
  StoredLibrary4 stored{library->description, {}, {}, {}, {}, EANT_ANNOTATION_VERSION};
  struct Arrays {
    StoredLibrary4 &stored;
    ~Arrays() {
      for (int32_t kind = 0; kind < kStyleKindCount; ++kind) emsc_HeapFree(ArraysOf(stored, kind)->data);
    }
  } arrays{stored};
  for (int32_t kind = 0; kind < kStyleKindCount; ++kind) {
    const StyleKindFunctions &functions = StyleKind(kind);
    Edlm_List *list = library->*functions.list;
    if (!list) continue; // a missing list is stored empty
    StoredArray &array = *ArraysOf(stored, kind);
    array.data = functions.toArray(list, &array.count, &inner);
    if (!array.data) {
      lower::ReportCallee(err, inner, reporter, 8, functions.toArrayName);
      return;
    }
  }
  if (!WriteChild(file, nodeName, kLibrary4.name, &stored, design, &inner)) {
    lower::ReportCallee(err, inner, reporter, 9, "ehfa_ObjectWrite");
    return;
  }
  library->modified = 0;
  eant_AnnotationVersionWrite(fileIO, nullptr, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 10, "eant_AnnotationVersionWrite");
    return;
  }
  ehfa_EntrySeek(file, EHFA_PARENT, nullptr, nullptr);
} TAVIRON_GUARD_VOID(err)

Eant_StyleLibrary *eant_StyleLibraryRead(Eant_FileIO *fileIO, const char *nodePath, Eant_StyleLibrary *library,
                                         Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleLibraryRead";
  lower::Clear(err);
  Eant_InitData *data = CheckFileIO(fileIO, reporter, err);
  if (!data) return nullptr;
  Ehfa_File *file = fileIO->file;
  lower::CalleeReport inner;
  eant_AnnotationVersionRead(fileIO, nodePath, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 4, "eant_AnnotationVersionRead");
    return nullptr;
  }
  const Ehfa_Entry *entry = ehfa_EntryPeek(file, EHFA_CURRENT_ENTRY, nullptr, &inner);
  bool isLibrary = false;
  for (const record::Design *design : kVersionDesigns)
    if (entry && entry->type && std::strcmp(entry->type, design->name) == 0) isLibrary = true;
  if (!isLibrary) {
    lower::ReportChained(err, inner, reporter, 5, "Nodepath is not a style library layer");
    return nullptr;
  }
  // The node is read into a library of its own, which takes the given library's place only once
  // the read has succeeded: a failed read leaves a given library as it was.
  Eant_StyleLibrary *fresh = eant_StyleLibraryCreate(&inner);
  if (!fresh) {
    lower::ReportCallee(err, inner, reporter, 6, "eant_StyleLibraryCreate");
    return library;
  }
  auto failed = [&]() -> Eant_StyleLibrary * {
    eant_StyleLibraryFree(&fresh);
    return library;
  };
  const int32_t version = fileIO->annotationVersion;
  if (version < 0 || version > EANT_ANNOTATION_VERSION) {
    lower::Report(err, reporter, 7, "Invalid annotation layer version number %ld", static_cast<long>(version));
    return failed();
  }
  const record::Design &form = *kVersionDesigns[version];
  const Emif_Design *design = data->dictionary ? emif_FindDesignByName(data->dictionary, form.name, &inner) : nullptr;
  if (!design) {
    lower::ReportCallee(err, inner, reporter, 8, "emif_FindDesignByName");
    return failed();
  }
  StoredLibrary stored{};
  StoredLibrary4 stored4{};
  void *object = version == EANT_ANNOTATION_VERSION ? static_cast<void *>(&stored4) : static_cast<void *>(&stored);
  if (!ehfa_ObjectRead(file, nullptr, nullptr, EHFA_CURRENT_ENTRY, object, design, &inner)) {
    lower::ReportCallee(err, inner, reporter, 9, "ehfa_ObjectRead");
    return failed();
  }
  switch (version) {
  case 0: eant_StyleLibraryCopyFromPrivate(object, fresh, &inner); break;
  case 1: eant_StyleLibraryCopyFromPrivate1(object, fresh, &inner); break;
  case 2:
  case 3: eant_StyleLibraryCopyFromPrivate2(object, fresh, &inner); break;
  default: eant_StyleLibraryCopyFromPrivate4(object, fresh, &inner); break;
  }
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 10, "eant_StyleLibraryCopyFromPrivate");
    return failed();
  }
  if (library) {
    // The given record keeps its place in a chain and its name; its styles are the ones read.
    FreeLists(*library);
    for (int32_t kind = 0; kind < kStyleKindCount; ++kind) {
      const StyleKindFunctions &functions = StyleKind(kind);
      library->*functions.list = std::exchange(fresh->*functions.list, nullptr);
    }
    eant_CharStrFree(&library->description);
    library->description = std::exchange(fresh->description, Eant_CharStr{});
    eant_StyleLibraryFree(&fresh);
  } else {
    library = fresh;
  }
  library->modified = 0;
  library->evaluated = 0;
  return library;
} TAVIRON_GUARD(err, nullptr)

// ---- Loaded libraries ------------------------------------------------------------------------

Eant_StyleLibrary *eant_StyleLibraryAddToList(Eant_StyleLibrary *list, Eant_StyleLibrary *library,
                                              Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!list) return library;
  if (!library) return list;
  // Every library of the same name goes (the one given, if it is in the list, is only unlinked).
  Eant_StyleLibrary *head = list;
  Eant_StyleLibrary **link = &head;
  while (*link) {
    Eant_StyleLibrary *at = *link;
    lower::CalleeReport inner;
    const int32_t same = at == library || eant_CharStrCompare(&at->fileNodeName, &library->fileNodeName, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, "eant_StyleLibraryAddToList", 1, "eant_CharStrCompare");
      return head;
    }
    if (!same) {
      link = &at->next;
      continue;
    }
    *link = at->next;
    at->next = nullptr;
    if (at != library) eant_StyleLibraryFree(&at);
  }
  library->next = nullptr;
  *link = library;
  return head;
} TAVIRON_GUARD(err, list)

Eant_StyleLibrary *eant_StyleLibraryListLookup(Eint_InitToolkitData *toolkit, const char *fileNodeName,
                                               Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleLibraryListLookup";
  lower::Clear(err);
  if (!fileNodeName) {
    lower::Report(err, reporter, 1, "Invalid input file nodename");
    return nullptr;
  }
  if (!toolkit) {
    lower::Report(err, reporter, 2, "%s", kToolkitNotInitialized);
    return nullptr;
  }
  Eant_InitData *data = PackageData(toolkit);
  if (!data) {
    lower::Report(err, reporter, 3, "%s", kPackageNotInitialized);
    return nullptr;
  }
  for (Eant_StyleLibrary *at = data->styleLibraryCache; at; at = at->next)
    if (const char *name = Text(at->fileNodeName); name && std::strcmp(name, fileNodeName) == 0) return at;
  lower::CalleeReport inner;
  Eant_StyleLibrary *library = eant_StyleLibraryOpenAndRead(toolkit, fileNodeName, &inner);
  if (!library) {
    lower::ReportCallee(err, inner, reporter, 4, "eant_StyleLibraryOpenAndRead");
    return nullptr;
  }
  Eant_StyleLibrary *head = eant_StyleLibraryAddToList(data->styleLibraryCache, library, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 5, "eant_StyleLibraryAddToList");
    eant_StyleLibraryFree(&library);
    return nullptr;
  }
  data->styleLibraryCache = head;
  return library;
} TAVIRON_GUARD(err, nullptr)

Eant_StyleLibrary *eant_StyleLibraryGetFromStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                                                 const Eant_Style *style, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleLibraryGetFromStyle";
  lower::Clear(err);
  if (!style) {
    lower::Report(err, reporter, 1, "Invalid input style");
    return nullptr;
  }
  const char *name = Text(style->fileNodeName);
  if (!name) return library;
  lower::CalleeReport inner;
  Eant_StyleLibrary *found = eant_StyleLibraryListLookup(toolkit, name, &inner);
  if (!found) lower::ReportCallee(err, inner, reporter, 2, "eant_StyleLibraryListLookup");
  return found;
} TAVIRON_GUARD(err, nullptr)

// ---- A library as a file of its own ----------------------------------------------------------

Eant_StyleLibraryLayer *eant_StyleLibraryLayerCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *layer = lower::HeapNew<Eant_StyleLibraryLayer>();
  if (!layer) lower::Report(err, "eant_StyleLibraryLayerCreate", 1, "Error allocating Style Library Layer");
  return layer;
} TAVIRON_GUARD(err, nullptr)

void eant_StyleLibraryLayerFree(Eant_StyleLibraryLayer **layer) try {
  if (!layer || !*layer) return;
  emsc_HeapFree((*layer)->layerName);
  eant_StyleLibraryFree(&(*layer)->library);
  emsc_HeapFreeEx(layer);
} TAVIRON_GUARD_QUIET_VOID

Eant_StyleLibraryLayer *eant_StyleLibraryLayerOpen(Eint_InitToolkitData *toolkit, const char *fileNodeName,
                                                   const char *mode, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleLibraryLayerOpen";
  lower::Clear(err);
  if (!fileNodeName) {
    lower::Report(err, reporter, 1, "Invalid input file nodename");
    return nullptr;
  }
  if (!mode || std::strpbrk(mode, "aw")) {
    lower::Report(err, reporter, 2, "Invalid input mode");
    return nullptr;
  }
  lower::CalleeReport inner;
  NodeListPtr names{ParseSingleNode(fileNodeName, reporter, 3, err)};
  if (!names) return nullptr;
  Efio_SearchList *path = efio_CreateSLFromEnv(0, "NORIX_STYLE_PATH", ".", &inner);
  if (!path) {
    lower::ReportCallee(err, inner, reporter, 5, "efio_CreateSLFromEnv");
    return nullptr;
  }
  Ehfa_File *file = ehfa_SearchListFileOpen(path, names->files[0], mode, toolkit, &inner);
  efio_FreeSL(path);
  if (!file) {
    lower::ReportCallee(err, inner, reporter, 6, "ehfa_SearchListFileOpen");
    return nullptr;
  }
  const char *nodePath = names->nodeCount == 1 ? names->nodes[0] : kDefaultNode;
  Eant_StyleLibraryLayer *layer = eant_StyleLibraryLayerCreate(&inner);
  auto failed = [&](int32_t code, const char *callee) -> Eant_StyleLibraryLayer * {
    if (callee)
      lower::ReportCallee(err, inner, reporter, code, callee);
    else
      lower::Report(err, reporter, code, "Error allocating layerName");
    ehfa_FileClose(file, nullptr);
    eant_StyleLibraryLayerFree(&layer);
    return nullptr;
  };
  if (!layer) return failed(7, "eant_StyleLibraryLayerCreate");
  layer->file = file;
  if (!(layer->layerName = estr_Duplicate(nodePath))) return failed(8, nullptr);
  eant_StyleLibraryLayerRead(layer, &inner);
  if (inner) return failed(9, "eant_StyleLibraryLayerRead");
  if (!eant_CharStrCreate(fileNodeName, &layer->library->fileNodeName, &inner)) return failed(10, "eant_CharStrCreate");
  if (!std::strchr(mode, '+')) {
    // A read-only layer keeps its library and lets its file go at once.
    ehfa_FileClose(file, nullptr);
    layer->file = nullptr;
  }
  return layer;
} TAVIRON_GUARD(err, nullptr)

Eant_StyleLibraryLayer *eant_StyleLibraryLayerNewOverwritable(Eint_InitToolkitData *toolkit, const char *fileNodeName,
                                                               Eant_StyleLibrary *library, int32_t overwrite,
                                                               Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleLibraryLayerNewOverwritable";
  lower::Clear(err);
  if (!fileNodeName) {
    lower::Report(err, reporter, 1, "Invalid input styleLibLayer name");
    return nullptr;
  }
  lower::CalleeReport inner;
  NodeListPtr names{ParseSingleNode(fileNodeName, reporter, 2, err)};
  if (!names) return nullptr;
  const char *fileName = names->files[0];
  const char *nodePath = names->nodeCount == 1 ? names->nodes[0] : kDefaultNode;
  NodeNamePtr split{efnp_NodeNameParse(nodePath, &inner)};
  if (!split) {
    lower::ReportCallee(err, inner, reporter, 4, "efnp_NodeNameParse");
    return nullptr;
  }
  Ehfa_File *file = nullptr;
  if (efio_FileExists(fileName, nullptr) == 1) {
    if (!(file = ehfa_FileOpen(fileName, "r+b", toolkit, &inner))) {
      lower::ReportCallee(err, inner, reporter, 5, "ehfa_FileOpen");
      return nullptr;
    }
    const bool exists = ehfa_EntryPeek(file, EHFA_PATH, nodePath, &inner) != nullptr;
    if (!inner && exists && !overwrite) {
      lower::Report(err, reporter, 6, "StyleLibrary already exists");
      CloseQuietly(file);
      return nullptr;
    }
    if (inner || !ehfa_EntryPeek(file, EHFA_PATH, split->parentPath, &inner)) {
      lower::ReportCallee(err, inner, reporter, 7, "ehfa_EntrySeek for parent");
      CloseQuietly(file);
      return nullptr;
    }
  } else {
    if (std::strcmp(split->parentPath, ":") != 0) {
      lower::Report(err, reporter, 8, "Nodepath is not valid for new file");
      return nullptr;
    }
    if (!(file = ehfa_FileCreate(fileName, toolkit, &inner))) {
      lower::ReportCallee(err, inner, reporter, 9, "ehfa_FileCreate");
      return nullptr;
    }
  }
  Eant_StyleLibraryLayer *layer = eant_StyleLibraryLayerCreate(&inner);
  Eant_StyleLibrary *made = nullptr;
  auto failed = [&](const char *callee) -> Eant_StyleLibraryLayer * {
    if (callee)
      lower::ReportCallee(err, inner, reporter, 10, callee);
    else
      lower::Report(err, reporter, 10, "Error allocating layerName");
    eant_StyleLibraryFree(&made);
    eant_StyleLibraryLayerFree(&layer); // it holds no library yet: a given one stays the caller's
    CloseQuietly(file);
    return nullptr;
  };
  if (!layer) return failed("eant_StyleLibraryLayerCreate");
  if (!(layer->layerName = estr_Duplicate(nodePath))) return failed(nullptr);
  if (!library && !(library = made = eant_StyleLibraryCreate(&inner))) return failed("eant_StyleLibraryCreate");
  if (!eant_CharStrCreate(fileNodeName, &library->fileNodeName, &inner)) return failed("eant_CharStrCreate");
  layer->file = file;
  layer->library = library;
  return layer;
} TAVIRON_GUARD(err, nullptr)

Eant_StyleLibraryLayer *eant_StyleLibraryLayerNew(Eint_InitToolkitData *toolkit, const char *fileNodeName,
                                                  Eant_StyleLibrary *library, Eerr_ErrorReport **err) try {
  return eant_StyleLibraryLayerNewOverwritable(toolkit, fileNodeName, library, 0, err);
} TAVIRON_GUARD(err, nullptr)

void eant_StyleLibraryLayerRead(Eant_StyleLibraryLayer *layer, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleLibraryLayerRead";
  lower::Clear(err);
  if (!layer) {
    lower::Report(err, reporter, 1, "Invalid input styleLibLayer");
    return;
  }
  if (!layer->file) {
    lower::Report(err, reporter, 2, "Input styleLibLayer is not open");
    return;
  }
  if (!layer->layerName) {
    lower::Report(err, reporter, 3, "Invalid layerName in input styleLibLayer");
    return;
  }
  Eant_FileIO fileIO{layer->file, 0, 0, 0, 0};
  lower::CalleeReport inner;
  Eant_StyleLibrary *library = eant_StyleLibraryRead(&fileIO, layer->layerName, layer->library, &inner);
  if (library) layer->library = library;
  if (inner) lower::ReportCallee(err, inner, reporter, 4, "eant_StyleLibraryRead");
} TAVIRON_GUARD_VOID(err)

void eant_StyleLibraryLayerWrite(Eant_StyleLibraryLayer *layer, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleLibraryLayerWrite";
  lower::Clear(err);
  if (!layer) {
    lower::Report(err, reporter, 1, "Invalid input styleLibLayer");
    return;
  }
  if (!layer->file) {
    lower::Report(err, reporter, 2, "Input styleLibLayer is not open");
    return;
  }
  if (!layer->layerName) {
    lower::Report(err, reporter, 3, "Invalid layerName in input styleLibLayer");
    return;
  }
  lower::CalleeReport inner;
  NodeNamePtr split{efnp_NodeNameParse(layer->layerName, &inner)};
  if (!split) {
    lower::ReportCallee(err, inner, reporter, 4, "efnp_NodeNameParse");
    return;
  }
  Eant_FileIO fileIO{layer->file, 0, 0, 0, 0};
  eant_StyleLibraryWrite(&fileIO, split->parentPath, split->nodeName, layer->library, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 5, "eant_StyleLibraryWrite");
    return;
  }
  ehfa_FileFlush(layer->file, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 6, "ehfa_FileFlush");
} TAVIRON_GUARD_VOID(err)

void eant_StyleLibraryLayerClose(Eant_StyleLibraryLayer *layer, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleLibraryLayerClose";
  lower::Clear(err);
  if (!layer) {
    lower::Report(err, reporter, 1, "Invalid input styleLibLayer");
    return;
  }
  lower::CalleeReport inner;
  if (layer->file && layer->library && layer->library->modified == 1) {
    eant_StyleLibraryLayerWrite(layer, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 2, "eant_StyleLibraryLayerWrite");
  }
  if (layer->file) {
    ehfa_FileClose(std::exchange(layer->file, nullptr), &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 3, "ehfa_FileClose");
  }
  eant_StyleLibraryLayerFree(&layer);
} TAVIRON_GUARD_VOID(err)

Eant_StyleLibrary *eant_StyleLibraryOpenAndRead(Eint_InitToolkitData *toolkit, const char *fileNodeName,
                                                Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_StyleLibraryOpenAndRead";
  lower::Clear(err);
  lower::CalleeReport inner;
  Eant_StyleLibraryLayer *layer = eant_StyleLibraryLayerOpen(toolkit, fileNodeName, "r", &inner);
  if (!layer) {
    lower::ReportCallee(err, inner, reporter, 1, "eant_StyleLibraryLayerOpen");
    return nullptr;
  }
  Eant_StyleLibrary *library = std::exchange(layer->library, nullptr);
  eant_StyleLibraryLayerClose(layer, nullptr);
  return library;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
