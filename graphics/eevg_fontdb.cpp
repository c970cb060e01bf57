// The font data base (".fdb" files on the font search path), its sorted indexes, and the font
// family lists built from it.
#include <mutex>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "eevg.h"
#include "eevg_internal.h"
#include "efio.h"
#include "elex.h"
#include "emsc.h"
#include "estr.h"
#include "internal.h"

namespace lower = taviron::lower;

// The parse data of the grammar "eevg_FDB": the entries of one file, and the field texts that
// no entry has taken over yet (they are freed with the parse data when a parse stops early).
struct Eevg_FDBParseLocalData {
  Eevg_FontDataBaseRecord *head;
  Eevg_FontDataBaseRecord *tail;
  int32_t count;
  int32_t looseCount;
  char *loose[8];
  Eevg_FDBParseLocalData *result; // where the entries are handed when the parse data is freed
};

namespace {

constexpr const char *kParseReporter = "eevg_FontDataBaseParse";

void FreeRecord(Eevg_FontDataBaseRecord *record) {
  emsc_HeapFree(record->fontName);
  emsc_HeapFree(record->fontFileName);
  emsc_HeapFree(record->psFileName);
  emsc_HeapFree(record->zavFont);
  emsc_HeapFree(record->chooserString);
  emsc_HeapFree(record->fontServerName);
  emsc_HeapFree(record);
}

void FreeRecords(Eevg_FontDataBaseRecord *head) {
  while (head) {
    Eevg_FontDataBaseRecord *next = head->next;
    FreeRecord(head);
    head = next;
  }
}

void *LocalDataCreate(void *initialValue, Eerr_ErrorReport **err) {
  auto *data = static_cast<Eevg_FDBParseLocalData *>(emsc_HeapMalloc(sizeof(Eevg_FDBParseLocalData)));
  if (!data) {
    lower::Report(err, "eevg_FDBParseLocalDataCreate", 1, "Error allocating Eevg_FDBParseLocalData");
    return nullptr;
  }
  data->result = static_cast<Eevg_FDBParseLocalData *>(initialValue);
  return data;
}

// Hands the entries to the result holder and frees the field texts no entry took.
void LocalDataFree(void *localData) {
  auto *data = static_cast<Eevg_FDBParseLocalData *>(localData);
  for (int32_t i = 0; i < data->looseCount; ++i) emsc_HeapFree(data->loose[i]);
  if (data->result) {
    data->result->head = data->head;
    data->result->tail = data->tail;
    data->result->count = data->count;
  } else {
    FreeRecords(data->head);
  }
  emsc_HeapFree(data);
}

// The grammar's rules, numbered from 1 as the actions see them.
const char *const kRules[] = {
    "file: error",                                                                      // 1
    "file: header entries",                                                             // 2
    "header: VERSION INTEGER",                                                          // 3
    "entries: entry",                                                                   // 4
    "entries: entries entry",                                                           // 5
    "entry: fontName fontFileName psFileName zavFont direction chooserString fontServerName", // 6
    "fontName: STRING",                                                                 // 7
    "fontName: NAME",                                                                   // 8
    "fontFileName: STRING",                                                             // 9
    "fontFileName: NAME",                                                               // 10
    "psFileName: STRING",                                                               // 11
    "psFileName: NAME",                                                                 // 12
    "zavFont: STRING",                                                                  // 13
    "zavFont: NAME",                                                                    // 14
    "direction: LEFT_TO_RIGHT",                                                         // 15
    "direction: RIGHT_TO_LEFT",                                                         // 16
    "chooserString: STRING",                                                            // 17
    "chooserString: NAME",                                                              // 18
    "fontServerName: STRING",                                                           // 19
    "fontServerName: NAME",                                                             // 20
};

const Elex_Keyword kKeywords[] = {
    {"version", "VERSION"},
    {"left_to_right", "LEFT_TO_RIGHT"},
    {"right_to_left", "RIGHT_TO_LEFT"},
};

int32_t Action(const Elex_Grammar *, void *localData, int32_t rule, Elex_Value *top,
               Elex_Value *value, void **, Eerr_ErrorReport **err) {
  auto *data = static_cast<Eevg_FDBParseLocalData *>(localData);
  switch (rule) {
  case 1: value->pointer = nullptr; return ELEX_CONTINUE;
  case 2: value->pointer = data->head; return ELEX_CONTINUE;
  case 3:
    if (top[0].number < 3) {
      lower::Report(err, kParseReporter, 1, "Invalid version of Font Data Base file");
      return ELEX_FAIL;
    }
    return ELEX_CONTINUE;
  case 6: {
    // The six texts of this entry are the last six loose ones, in field order.
    if (data->looseCount < 6) {
      lower::Report(err, kParseReporter, 4, "Font Data Base entry without its fields");
      return ELEX_FAIL;
    }
    char **fields = data->loose + data->looseCount - 6;
    auto *record = static_cast<Eevg_FontDataBaseRecord *>(emsc_HeapMalloc(sizeof(Eevg_FontDataBaseRecord)));
    if (!record) {
      lower::Report(err, kParseReporter, 3, "Error allocating Eevg_FontDataBaseRecord");
      return ELEX_FAIL;
    }
    record->fontName = fields[0];
    record->fontFileName = fields[1];
    record->psFileName = fields[2];
    record->zavFont = fields[3];
    record->insertDir = top[-2].integer;
    record->chooserString = fields[4];
    record->fontServerName = fields[5];
    data->looseCount -= 6;
    if (data->tail)
      data->tail->next = record;
    else
      data->head = record;
    data->tail = record;
    ++data->count;
    value->pointer = record;
    return ELEX_CONTINUE;
  }
  case 15: value->integer = 0; return ELEX_CONTINUE;
  case 16: value->integer = 1; return ELEX_CONTINUE;
  default:
    if ((rule >= 7 && rule <= 14) || (rule >= 17 && rule <= 20)) {
      // A field text: kept loose until its entry takes it.
      if (data->looseCount == static_cast<int32_t>(std::size(data->loose))) {
        emsc_HeapFree(top[0].string);
        lower::Report(err, kParseReporter, 4, "Font Data Base entry without its fields");
        return ELEX_FAIL;
      }
      data->loose[data->looseCount++] = top[0].string;
    }
    return ELEX_CONTINUE;
  }
}

const Elex_Grammar kGrammar = {
    "eevg_FDB", kRules, static_cast<int32_t>(std::size(kRules)), kKeywords,
    static_cast<int32_t>(std::size(kKeywords)), Action, LocalDataCreate, LocalDataFree, 0, 0,
};

// The process-wide data base and its indexes, built on first use under the lock (the indexes
// build the data base, hence a recursive lock); once built they never change.
std::recursive_mutex &DataBaseMutex() {
  static std::recursive_mutex mutex;
  return mutex;
}
Eevg_FontDataBaseRecord *dataBase = nullptr;
int32_t dataBaseCount = 0;
Eevg_FontDataBaseRecord **byFontName = nullptr;
Eevg_FontDataBaseRecord **byFontFileName = nullptr;

using NameOf = char *Eevg_FontDataBaseRecord::*;

Eevg_FontDataBaseRecord **BuildIndex(Eevg_FontDataBaseRecord **&index, NameOf name,
                                     const char *reporter, Eerr_ErrorReport **err) {
  std::lock_guard<std::recursive_mutex> lock(DataBaseMutex());
  if (index) return index;
  Eerr_ErrorReport *inner = nullptr;
  Eevg_FontDataBaseRecord *head = eevg_FontDataBaseCreate(&inner);
  if (!head) {
    lower::ReportCallee(err, inner, reporter, 1, "eevg_FontDataBaseCreate");
    return nullptr;
  }
  auto *array = static_cast<Eevg_FontDataBaseRecord **>(
      emsc_HeapMalloc(static_cast<std::size_t>(dataBaseCount) * sizeof(Eevg_FontDataBaseRecord *)));
  if (!array) {
    lower::Report(err, reporter, 2, "Error allocating the sorted font array");
    return nullptr;
  }
  int32_t n = 0;
  for (Eevg_FontDataBaseRecord *record = head; record && n < dataBaseCount; record = record->next)
    array[n++] = record;
  std::stable_sort(array, array + n, [name](const Eevg_FontDataBaseRecord *a, const Eevg_FontDataBaseRecord *b) {
    return estr_CompareString(a->*name, b->*name) < 0;
  });
  index = array;
  return index;
}

Eevg_FontDataBaseRecord *Lookup(Eevg_FontDataBaseRecord **(*sort)(Eerr_ErrorReport **), NameOf name,
                                const char *wanted, const char *reporter, const char *sortName,
                                const char *missing, Eerr_ErrorReport **err) {
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  Eevg_FontDataBaseRecord **array = sort(&inner);
  if (!array) {
    lower::ReportCallee(err, inner, reporter, 1, sortName);
    return nullptr;
  }
  Eevg_FontDataBaseRecord key{};
  key.*name = const_cast<char *>(wanted);
  Eevg_FontDataBaseRecord **end = array + dataBaseCount;
  Eevg_FontDataBaseRecord **found =
      std::lower_bound(array, end, &key, [name](const Eevg_FontDataBaseRecord *a, const Eevg_FontDataBaseRecord *b) {
        return estr_CompareString(a->*name, b->*name) < 0;
      });
  if (!wanted || found == end || estr_CompareString((*found)->*name, wanted) != 0) {
    lower::Report(err, reporter, 2, missing, wanted ? wanted : "(null)");
    return nullptr;
  }
  return *found;
}

const char *const kWeights[] = {"Extra-Bold", "SemiBold", "Bold", "Heavy", "Medium", "Light", "Thin"};

bool SameName(const char *a, const char *b) { return a == b || (a && b && std::strcmp(a, b) == 0); }

// The first occurrence of word in text other than at its very start, or null.
char *FindNotAtStart(char *text, const char *word) {
  char *match = std::strstr(text, word);
  return match && match != text ? match : nullptr;
}

template <typename Node> Node *LastOf(Node *list) {
  while (list && list->next) list = list->next;
  return list;
}

template <typename Node> Node *CreateNode(const char *name, const char *reporter, const char *what,
                                          Eerr_ErrorReport **err) {
  lower::Clear(err);
  auto *node = static_cast<Node *>(emsc_HeapMalloc(sizeof(Node)));
  if (node) {
    node->name = estr_Duplicate(name ? name : "");
    if (!node->name) {
      emsc_HeapFree(node);
      node = nullptr;
    }
  }
  if (!node) lower::Report(err, reporter, 1, "Unable to allocate %s", what);
  return node;
}

} // namespace

extern "C" {

int32_t eevg_FontDataBaseParse(void *input, const char *fileName, Eevg_FontDataBaseRecord **head,
                               Eevg_FontDataBaseRecord **tail, int32_t *count,
                               Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!head || !tail || !count) {
    lower::Report(err, kParseReporter, 3, "Invalid input font list");
    return -1;
  }
  Efio_SearchList *searchList = nullptr;
  if (!input && !fileName) {
    Eerr_ErrorReport *inner = nullptr;
    searchList = efio_CreateSLFromEnv(0, "NORIX_FONT_PATH", ".", &inner);
    if (!searchList) {
      lower::ReportCallee(err, inner, kParseReporter, 1, "efio_CreateSLFromEnv");
      return -1;
    }
    fileName = "fontlist.fdb";
  }
  Eevg_FDBParseLocalData parsed{};
  Eerr_ErrorReport *inner = nullptr;
  elex_Parse(&kGrammar, &parsed, emsc_AddressOf_elex_Scanner(), static_cast<const char *>(input),
             fileName, searchList, 0, &inner);
  efio_FreeSL(searchList);
  if (inner) {
    FreeRecords(parsed.head);
    lower::ReportCallee(err, inner, kParseReporter, 2, "elex_Parse");
    return -1;
  }
  if (parsed.head) {
    if (*tail)
      (*tail)->next = parsed.head;
    else
      *head = parsed.head;
    *tail = parsed.tail;
    *count += parsed.count;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

Eevg_FontDataBaseRecord *eevg_FontDataBaseCreate(Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_FontDataBaseCreate";
  lower::Clear(err);
  std::lock_guard<std::recursive_mutex> lock(DataBaseMutex());
  if (dataBase) return dataBase;
  const char *variable = std::getenv("NORIX_FONT_PATH");
  const std::string path = variable ? variable : taviron::graphics::DefaultFontPath();
  Estr_StringList *files = efio_SearchListGenerateAndIdentifyFiles(path.c_str(), "*.fdb");
  if (!files || files->count == 0) {
    estr_StringListDelete(files, nullptr);
    lower::Report(err, reporter, 1, "No font list files found in NORIX_FONT_PATH");
    return nullptr;
  }
  Eevg_FontDataBaseRecord *head = nullptr, *tail = nullptr;
  int32_t count = 0;
  for (int32_t i = 0; i < files->count; ++i) {
    Eerr_ErrorReport *inner = nullptr;
    if (eevg_FontDataBaseParse(nullptr, files->strings[i], &head, &tail, &count, &inner) != 0) {
      FreeRecords(head);
      estr_StringListDelete(files, nullptr);
      lower::ReportCallee(err, inner, reporter, 2, "eevg_FontDataBaseParse");
      return nullptr;
    }
  }
  estr_StringListDelete(files, nullptr);
  dataBase = head;
  dataBaseCount = count;
  return dataBase;
} TAVIRON_GUARD(err, nullptr)

int32_t eevg_FontDataBaseFontCountGet(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  if (!eevg_FontDataBaseCreate(&inner)) {
    lower::ReportCallee(err, inner, "eevg_FontDataBaseFontCountGet", 1, "eevg_FontDataBaseCreate");
    return 0;
  }
  return dataBaseCount;
} TAVIRON_GUARD(err, 0)

Eevg_FontDataBaseRecord *eevg_FontDataBaseNextGet(const Eevg_FontDataBaseRecord *record) try {
  return record ? record->next : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)
char *eevg_FontDataBaseFontNameGet(const Eevg_FontDataBaseRecord *record) try {
  return record ? record->fontName : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)
char *eevg_FontDataBaseFontFileNameGet(const Eevg_FontDataBaseRecord *record) try {
  return record ? record->fontFileName : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)
char *eevg_FontDataBasePSFileNameGet(const Eevg_FontDataBaseRecord *record) try {
  return record ? record->psFileName : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)
char *eevg_FontDataBaseZavFontGet(const Eevg_FontDataBaseRecord *record) try {
  return record ? record->zavFont : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)
int32_t eevg_FontDataBaseInsertDirGet(const Eevg_FontDataBaseRecord *record) try {
  return record ? record->insertDir : 0;
} TAVIRON_GUARD_QUIET(0)
char *eevg_FontDataBaseChooserStringGet(const Eevg_FontDataBaseRecord *record) try {
  return record ? record->chooserString : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)
char *eevg_FontDataBaseFontServerNameGet(const Eevg_FontDataBaseRecord *record) try {
  return record ? record->fontServerName : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)

Eevg_FontDataBaseRecord **eevg_FontDataBaseSortByFontName(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return BuildIndex(byFontName, &Eevg_FontDataBaseRecord::fontName, "eevg_FontDataBaseSortByFontName", err);
} TAVIRON_GUARD(err, nullptr)

Eevg_FontDataBaseRecord **eevg_FontDataBaseSortByFontFileName(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return BuildIndex(byFontFileName, &Eevg_FontDataBaseRecord::fontFileName,
                    "eevg_FontDataBaseSortByFontFileName", err);
} TAVIRON_GUARD(err, nullptr)

Eevg_FontDataBaseRecord **eevg_FontDataBaseSortedByFontNameGet(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  Eevg_FontDataBaseRecord **array = eevg_FontDataBaseSortByFontName(&inner);
  if (!array)
    lower::ReportCallee(err, inner, "eevg_FontDataBaseSortedByFontNameGet", 1,
                        "eevg_FontDataBaseSortByFontName");
  return array;
} TAVIRON_GUARD(err, nullptr)

Eevg_FontDataBaseRecord **eevg_FontDataBaseSortedByFontFileNameGet(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  Eevg_FontDataBaseRecord **array = eevg_FontDataBaseSortByFontFileName(&inner);
  if (!array)
    lower::ReportCallee(err, inner, "eevg_FontDataBaseSortedByFontFileNameGet", 1,
                        "eevg_FontDataBaseSortByFontFileName");
  return array;
} TAVIRON_GUARD(err, nullptr)

Eevg_FontDataBaseRecord *eevg_FontDataBaseLookupByFontName(Eevg_FontDataBaseRecord *,
                                                           const char *fontName,
                                                           Eerr_ErrorReport **err) try {
  return Lookup(eevg_FontDataBaseSortByFontName, &Eevg_FontDataBaseRecord::fontName, fontName,
                "eevg_FontDataBaseLookupByFontName", "eevg_FontDataBaseSortByFontName",
                "FontName %s not found on fdb", err);
} TAVIRON_GUARD(err, nullptr)

Eevg_FontDataBaseRecord *eevg_FontDataBaseLookupByFontFileName(Eevg_FontDataBaseRecord *,
                                                               const char *fontFileName,
                                                               Eerr_ErrorReport **err) try {
  return Lookup(eevg_FontDataBaseSortByFontFileName, &Eevg_FontDataBaseRecord::fontFileName,
                fontFileName, "eevg_FontDataBaseLookupByFontFileName",
                "eevg_FontDataBaseSortByFontFileName", "FontFileName %s not found on fdb", err);
} TAVIRON_GUARD(err, nullptr)

char *eevg_FontDataBaseLookupFontName(Eevg_FontDataBaseRecord *dataBaseHead, const char *fontFileName,
                                      Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  Eevg_FontDataBaseRecord *record = eevg_FontDataBaseLookupByFontFileName(dataBaseHead, fontFileName, &inner);
  if (!record) {
    lower::ReportCallee(err, inner, "eevg_FontDataBaseLookupFontName", 1,
                        "eevg_FontDataBaseLookupByFontFileName");
    return nullptr;
  }
  return record->fontName;
} TAVIRON_GUARD(err, nullptr)

char *eevg_FontDataBaseLookupFontFileName(Eevg_FontDataBaseRecord *dataBaseHead, const char *fontName,
                                          Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  Eevg_FontDataBaseRecord *record = eevg_FontDataBaseLookupByFontName(dataBaseHead, fontName, &inner);
  if (!record) {
    lower::ReportCallee(err, inner, "eevg_FontDataBaseLookupFontFileName", 1,
                        "eevg_FontDataBaseLookupByFontName");
    return nullptr;
  }
  return record->fontFileName;
} TAVIRON_GUARD(err, nullptr)

void eevg_FontDataBaseFree(Eevg_FontDataBaseRecord **head) try {
  if (!head) return;
  FreeRecords(*head);
  *head = nullptr;
} TAVIRON_GUARD_QUIET_VOID

// ---- Font families -------------------------------------------------------------------------

Eevg_FontFamily *eevg_FontFamilyCreate(const char *name, Eerr_ErrorReport **err) try {
  return CreateNode<Eevg_FontFamily>(name, "eevg_FontFamilyCreate", "Eevg_FontFamily", err);
} TAVIRON_GUARD(err, nullptr)

Eevg_FontWithSlantAndWeight *eevg_FontWithSlantAndWeightCreate(const char *name,
                                                               Eerr_ErrorReport **err) try {
  return CreateNode<Eevg_FontWithSlantAndWeight>(name, "eevg_FontWithSlantAndWeightCreate",
                                                 "Eevg_FontWithSlantAndWeight", err);
} TAVIRON_GUARD(err, nullptr)

Eevg_FontWithSlant *eevg_FontWithSlantCreate(const char *name, Eerr_ErrorReport **err) try {
  return CreateNode<Eevg_FontWithSlant>(name, "eevg_FontWithSlantCreate", "Eevg_FontWithSlant", err);
} TAVIRON_GUARD(err, nullptr)

void eevg_FontWithSlantFree(Eevg_FontWithSlant **list) try {
  if (!list) return;
  for (Eevg_FontWithSlant *node = *list; node;) {
    Eevg_FontWithSlant *next = node->next;
    emsc_HeapFree(node->name);
    emsc_HeapFree(node);
    node = next;
  }
  *list = nullptr;
} TAVIRON_GUARD_QUIET_VOID

void eevg_FontWithSlantAndWeightFree(Eevg_FontWithSlantAndWeight **list) try {
  if (!list) return;
  for (Eevg_FontWithSlantAndWeight *node = *list; node;) {
    Eevg_FontWithSlantAndWeight *next = node->next;
    emsc_HeapFree(node->name);
    eevg_FontWithSlantFree(&node->slants);
    emsc_HeapFree(node);
    node = next;
  }
  *list = nullptr;
} TAVIRON_GUARD_QUIET_VOID

void eevg_FontFamilyFree(Eevg_FontFamily **list) try {
  if (!list) return;
  for (Eevg_FontFamily *node = *list; node;) {
    Eevg_FontFamily *next = node->next;
    emsc_HeapFree(node->name);
    eevg_FontWithSlantAndWeightFree(&node->weights);
    emsc_HeapFree(node);
    node = next;
  }
  *list = nullptr;
} TAVIRON_GUARD_QUIET_VOID

Eevg_FontFamily *eevg_FontFamilyListCreate(Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_FontFamilyListCreate";
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  Eevg_FontDataBaseRecord **sorted = eevg_FontDataBaseSortedByFontNameGet(&inner);
  if (!sorted) {
    lower::ReportCallee(err, inner, reporter, 1, "eevg_FontDataBaseSortedByFontNameGet");
    return nullptr;
  }
  const int32_t count = eevg_FontDataBaseFontCountGet(&inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 2, "eevg_FontDataBaseFontCountGet");
    return nullptr;
  }
  Eevg_FontFamily *list = nullptr;
  for (int32_t i = 0; i < count; ++i) {
    Eevg_FontDataBaseRecord *record = sorted[i];
    char *name = estr_Duplicate(record->fontName ? record->fontName : "");
    if (!name) {
      eevg_FontFamilyFree(&list);
      lower::Report(err, reporter, 3, "Error allocating font name");
      return nullptr;
    }
    const char *slantName = "r";
    if (char *italic = FindNotAtStart(name, "Italic")) {
      italic[-1] = '\0';
      slantName = "i";
    }
    const char *weightName = "Normal";
    for (const char *weight : kWeights) {
      if (char *match = FindNotAtStart(name, weight)) {
        match[-1] = '\0';
        weightName = match;
        break;
      }
    }
    Eevg_FontWithSlant *slant = eevg_FontWithSlantCreate(slantName, &inner);
    Eevg_FontFamily *family = nullptr;
    Eevg_FontWithSlantAndWeight *weight = nullptr;
    if (slant) {
      for (family = list; family && !SameName(family->name, name); family = family->next) {
      }
      if (!family) {
        family = eevg_FontFamilyCreate(name, &inner);
        if (family) {
          if (Eevg_FontFamily *last = LastOf(list)) last->next = family;
          else list = family;
        }
      }
    }
    if (family) {
      for (weight = family->weights; weight && !SameName(weight->name, weightName); weight = weight->next) {
      }
      if (!weight) {
        weight = eevg_FontWithSlantAndWeightCreate(weightName, &inner);
        if (weight) {
          weight->family = family;
          if (Eevg_FontWithSlantAndWeight *last = LastOf(family->weights)) last->next = weight;
          else family->weights = weight;
        }
      }
    }
    emsc_HeapFree(name);
    if (!weight) {
      eevg_FontWithSlantFree(&slant);
      eevg_FontFamilyFree(&list);
      lower::ReportCallee(err, inner, reporter, 3, "the font family node creation");
      return nullptr;
    }
    slant->record = record;
    slant->weight = weight;
    if (Eevg_FontWithSlant *last = LastOf(weight->slants)) last->next = slant;
    else weight->slants = slant;
  }
  return list;
} TAVIRON_GUARD(err, nullptr)

Eevg_FontFamily *eevg_FontFamilyFindByName(Eevg_FontFamily *list, const char *name,
                                           Eerr_ErrorReport **err) try {
  lower::Clear(err);
  for (Eevg_FontFamily *family = list; family; family = family->next)
    if (SameName(family->name, name)) return family;
  lower::Report(err, "eevg_FontFamilyFindByName", 1, "Font family %s not found in list",
                name ? name : "(null)");
  return nullptr;
} TAVIRON_GUARD(err, nullptr)

Estr_StringList *eevg_FontFamilyListFamilyNamesGet(const Eevg_FontFamily *list) try {
  if (!list) return nullptr;
  Eerr_ErrorReport *inner = nullptr;
  Estr_StringList *names = estr_StringListCreate(0, &inner);
  for (const Eevg_FontFamily *family = list; family && names; family = family->next) {
    const int32_t before = names->count;
    names = estr_StringListAppend(names, family->name, &inner);
    if (inner || names->count == before) {
      estr_StringListDelete(names, nullptr);
      names = nullptr;
    }
  }
  eerr_DeleteErrorReportEx(&inner);
  return names;
} TAVIRON_GUARD_QUIET(nullptr)

Estr_StringList *eevg_FontFamilyWeightsGet(const Eevg_FontFamily *family) try {
  if (!family || !family->weights) return nullptr;
  Eerr_ErrorReport *inner = nullptr;
  Estr_StringList *names = estr_StringListCreate(0, &inner);
  for (const Eevg_FontWithSlantAndWeight *weight = family->weights; weight && names; weight = weight->next) {
    const int32_t before = names->count;
    names = estr_StringListAppend(names, weight->name, &inner);
    if (inner || names->count == before) {
      estr_StringListDelete(names, nullptr);
      names = nullptr;
    }
  }
  eerr_DeleteErrorReportEx(&inner);
  return names;
} TAVIRON_GUARD_QUIET(nullptr)

Eevg_FontWithSlantAndWeight *eevg_FontWeightFindByWeight(Eevg_FontWithSlantAndWeight *list,
                                                         const char *weight,
                                                         Eerr_ErrorReport **err) try {
  lower::Clear(err);
  for (Eevg_FontWithSlantAndWeight *node = list; node; node = node->next)
    if (SameName(node->name, weight)) return node;
  lower::Report(err, "eevg_FontWeightFindByWeight", 1, "Font weight %s not found in list",
                weight ? weight : "(null)");
  return nullptr;
} TAVIRON_GUARD(err, nullptr)

Eevg_FontWithSlant *eevg_FontFindBySlant(Eevg_FontWithSlant *list, const char *slant,
                                         Eerr_ErrorReport **err) try {
  lower::Clear(err);
  for (Eevg_FontWithSlant *node = list; node; node = node->next)
    if (SameName(node->name, slant)) return node;
  lower::Report(err, "eevg_FontFindBySlant", 1, "Font not found in list");
  return nullptr;
} TAVIRON_GUARD(err, nullptr)

Eevg_FontWithSlant *eevg_FontFindByWeightAndSlant(Eevg_FontFamily *family, const char *weight,
                                                  const char *slant, Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_FontFindByWeightAndSlant";
  lower::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  Eevg_FontWithSlantAndWeight *node = eevg_FontWeightFindByWeight(family ? family->weights : nullptr, weight, &inner);
  if (!node) {
    lower::ReportChained(err, inner, reporter, 1, "Error returned by eevg_FontWeightFintByWeight for weight %s",
                  weight ? weight : "(null)");
    return nullptr;
  }
  Eevg_FontWithSlant *found = eevg_FontFindBySlant(node->slants, slant, &inner);
  if (!found) {
    lower::ReportChained(err, inner, reporter, 2, "Error returned by eevg_FontFindBySlant for slant %s",
                  slant ? slant : "(null)");
  }
  return found;
} TAVIRON_GUARD(err, nullptr)

Eevg_FontWithSlant *eevg_FontFindByFileName(Eevg_FontFamily *list, const char *fileName,
                                            Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_FontFindByFileName";
  lower::Clear(err);
  if (!fileName) {
    lower::Report(err, reporter, 1, "Invalid input fileName");
    return nullptr;
  }
  for (Eevg_FontFamily *family = list; family; family = family->next)
    for (Eevg_FontWithSlantAndWeight *weight = family->weights; weight; weight = weight->next)
      for (Eevg_FontWithSlant *slant = weight->slants; slant; slant = slant->next)
        if (slant->record && SameName(slant->record->fontFileName, fileName)) return slant;
  lower::Report(err, reporter, 2, "Filename %s not found in list", fileName);
  return nullptr;
} TAVIRON_GUARD(err, nullptr)

Eevg_FontFamily *eevg_FontFamilyGet(const Eevg_FontWithSlant *slant) try {
  return slant && slant->weight ? slant->weight->family : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)

char *eevg_FontFamilyNameGet(const Eevg_FontWithSlant *slant) try {
  Eevg_FontFamily *family = eevg_FontFamilyGet(slant);
  return family ? family->name : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)

char *eevg_FontWeightGet(const Eevg_FontWithSlant *slant) try {
  return slant && slant->weight ? slant->weight->name : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)

char *eevg_FontSlantGet(const Eevg_FontWithSlant *slant) try { return slant ? slant->name : nullptr; } TAVIRON_GUARD_QUIET(nullptr)

char *eevg_FontFileNameGet(const Eevg_FontWithSlant *slant) try {
  return slant && slant->record ? slant->record->fontFileName : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)

} // extern "C"
