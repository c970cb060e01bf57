// Protocol records: the layouts of the 63 types, assemble, copy, free, the queue of received
// records and the tokens that stand for callbacks and user data outside their process.
#include <unistd.h>

#include <array>
#include <cstdarg>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <unordered_map>

#include "emsc.h"
#include "esmg.h"
#include "esmg_protocol_internal.h"
#include "guard.h"

namespace taviron::session {

namespace {

constexpr Layout Make(std::initializer_list<FieldSpec> fields) {
  Layout layout{};
  for (const FieldSpec &spec : fields) layout.fields[layout.count++] = spec;
  return layout;
}

using F = Field;

std::array<Layout, ESMG_PROTOCOL_TYPE_COUNT> BuildTypeLayouts() {
  std::array<Layout, ESMG_PROTOCOL_TYPE_COUNT> table{};
  auto set = [&table](std::initializer_list<int> types, const Layout &layout) {
    for (int type : types) table[type] = layout;
  };
  const Layout strings3 = Make({{F::String, 2}, {F::String, 3}, {F::String, 4}});
  const Layout string1 = Make({{F::String, 2}});
  const Layout array = Make({{F::Array, 2}});
  const Layout int1 = Make({{F::Int, 2}});
  const Layout stringInt = Make({{F::String, 2}, {F::Int, 3}});
  const Layout tokens = Make({{F::Token, 2}, {F::Token, 3}});
  // Preference block: class, category, name, value type, string value, number, callback, user
  // data, not-found flag, last word of the preference record.
  const Layout block = Make({{F::String, 2}, {F::String, 3}, {F::String, 4}, {F::Int, 5},
                             {F::String, 6}, {F::Double, 8}, {F::Token, 10}, {F::Token, 11},
                             {F::Int, 12}, {F::Int, 13}});
  // Process requests: arguments, kind, process id, error flag, callback, user data.
  const Layout process = Make(
      {{F::Array, 2}, {F::Int, 4}, {F::Int, 5}, {F::Int, 6}, {F::Token, 7}, {F::Token, 8}});
  const Layout strings4Int =
      Make({{F::String, 2}, {F::String, 3}, {F::String, 4}, {F::String, 5}, {F::Int, 6}});

  set({0, 23}, strings3);
  set({1, 31, 10, 11, 48, 56}, string1);
  set({2}, Make({{F::String, 2}, {F::Values, 3}}));
  set({4, 7, 24, 29, 51, 57}, array);
  set({5}, Make({{F::Report, 2}}));
  set({6}, Make({{F::Int, 2}, {F::String, 3}}));
  set({8}, Make({{F::Chain, 2}}));
  set({9}, Make({{F::Int, 2}, {F::Int, 3}, {F::Int, 4}}));
  set({12, 25, 61, 28, 62, 43}, int1);
  set({14}, Make({{F::Int, 2}, {F::Int, 3}, {F::Bytes, 4}}));
  set({15, 46, 47}, stringInt);
  set({16, 17, 18, 19, 20}, block);
  set({33}, Make({{F::String, 2}, {F::List, 3}, {F::Int, 4}}));
  set({34, 44}, strings4Int);
  set({36}, Make({{F::String, 2}, {F::Int, 3}, {F::Int, 4}}));
  set({37, 38, 39, 40, 41, 42}, process);
  set({49, 50}, Make({{F::String, 2}, {F::String, 3}}));
  set({53, 54}, tokens);
  // 3, 13, 21, 22, 26, 27, 30, 32, 35, 52, 55, 58, 59, 60 carry no field; 45 goes by its
  // sub-request.
  return table;
}

const Layout kEmpty{};

// ---------------------------------------------------------------------------------------------
// Tokens

constexpr uintptr_t kForeignTag = 0xFEEDull << 48;

struct TokenTable {
  std::mutex mutex;
  std::unordered_map<const void *, int32_t> byPointer;
  std::unordered_map<int32_t, void *> byToken;
  uint32_t next = 0;
};

TokenTable &Tokens() {
  static TokenTable *table = new TokenTable; // lives as long as the process
  return *table;
}

// A stand-in for a token made by another process: an address that is never mapped, so the word
// cannot be mistaken for a pointer of this process, and that gives the token back.
void *ForeignStandIn(int32_t token) {
  if constexpr (sizeof(uintptr_t) >= 8)
    return reinterpret_cast<void *>(kForeignTag | static_cast<uint32_t>(token));
  else
    return nullptr;
}

bool IsForeignStandIn(const void *pointer) {
  if constexpr (sizeof(uintptr_t) >= 8)
    return (reinterpret_cast<uintptr_t>(pointer) & ~uintptr_t{0xFFFFFFFFu}) == kForeignTag;
  else
    return false;
}

// ---------------------------------------------------------------------------------------------
// Queue

struct QueueNode {
  Esmg_Protocol *record;
  QueueNode *next;
};

std::mutex queueMutex;
QueueNode *queueHead = nullptr;
QueueNode *queueTail = nullptr;

void DeleteList(Estr_StringList *list, const char *reporter) {
  if (!list) return;
  Eerr_ErrorReport *inner = nullptr;
  estr_StringListDelete(list, &inner);
  if (inner) {
    Eerr_ErrorReport *report =
        eerr_CreateErrorReport(reporter, 4886, 0, inner, "Trouble freeing stringlist");
    eerr_PrintErrorReport(report, 1, nullptr);
    eerr_DeleteErrorReportEx(&report);
  }
}

} // namespace

const Layout &TypeLayout(int32_t type) {
  static const std::array<Layout, ESMG_PROTOCOL_TYPE_COUNT> table = BuildTypeLayouts();
  if (type < 0 || type >= ESMG_PROTOCOL_TYPE_COUNT || type == ESMG_PROTOCOL_ECFG) return kEmpty;
  return table[type];
}

const Layout &EcfgLayout(int32_t sub) {
  static const std::array<Layout, 6> table = {
      Make({{F::String, 3}, {F::String, 4}, {F::String, 5}, {F::String, 6}, {F::Int, 7},
            {F::List, 8}, {F::Report, 9}}),
      Make({{F::String, 3}, {F::Report, 4}}),
      Make({{F::String, 3}, {F::List, 4}, {F::Int, 5}, {F::Report, 6}}),
      Make({{F::String, 3}, {F::List, 4}, {F::Int, 5}, {F::Report, 6}}),
      Make({{F::String, 3}, {F::String, 4}, {F::String, 5}, {F::Report, 6}}),
      Make({{F::String, 3}, {F::Int, 4}, {F::Int, 5}, {F::String, 6}, {F::String, 7},
            {F::Optional, 8}, {F::Report, 10}}),
  };
  if (sub < 0 || sub > 5) return kEmpty;
  return table[sub];
}

int32_t TokenOut(const void *pointer) {
  if (!pointer) return 0;
  if (IsForeignStandIn(pointer))
    return static_cast<int32_t>(reinterpret_cast<uintptr_t>(pointer) & 0xFFFFFFFFu);
  TokenTable &table = Tokens();
  std::lock_guard lock(table.mutex);
  if (auto found = table.byPointer.find(pointer); found != table.byPointer.end())
    return found->second;
  if (table.next == 0) // tokens of different processes start apart
    table.next = (static_cast<uint32_t>(getpid()) * 2654435761u) & 0x7FFF0000u;
  int32_t token;
  do {
    table.next = (table.next + 1) & 0x7FFFFFFFu;
    token = static_cast<int32_t>(table.next);
  } while (token == 0 || table.byToken.count(token));
  table.byPointer.emplace(pointer, token);
  table.byToken.emplace(token, const_cast<void *>(pointer));
  return token;
}

void *TokenIn(int32_t token) {
  if (token == 0) return nullptr;
  if (void *pointer = esmg_PointerFromToken(token)) return pointer;
  return ForeignStandIn(token);
}

bool CopyString(const char *source, char **out) {
  *out = nullptr;
  if (!source) return true;
  *out = estr_Duplicate(source);
  return *out != nullptr;
}

bool CopyStringArray(int32_t count, char *const *source, char ***out) {
  *out = nullptr;
  if (count <= 0 || !source) return true;
  auto **strings = static_cast<char **>(emsc_HeapMalloc((static_cast<size_t>(count) + 1) * sizeof(char *)));
  if (!strings) return false;
  for (int32_t i = 0; i < count; ++i) {
    if (!CopyString(source[i], &strings[i])) {
      FreeStringArray(i, strings);
      return false;
    }
  }
  *out = strings;
  return true;
}

void FreeStringArray(int32_t count, char **strings) {
  if (!strings) return;
  for (int32_t i = 0; i < count; ++i) emsc_HeapFree(strings[i]);
  emsc_HeapFree(strings);
}

void FreeValueList(Esmg_ValueList *list) {
  if (!list) return;
  for (Esmg_ValueItem *item = list->items; item;) {
    Esmg_ValueItem *next = item->next;
    if (item->kind == 2) emsc_HeapFree(item->value.string);
    emsc_HeapFree(item);
    item = next;
  }
  emsc_HeapFree(list);
}

bool CopyValueList(const Esmg_ValueList *source, Esmg_ValueList **out) {
  *out = nullptr;
  if (!source) return true;
  auto *list = static_cast<Esmg_ValueList *>(emsc_HeapMalloc(sizeof(Esmg_ValueList)));
  if (!list) return false;
  list->first = source->first;
  list->count = source->count;
  Esmg_ValueItem **tail = &list->items;
  for (const Esmg_ValueItem *item = source->items; item; item = item->next) {
    auto *copy = static_cast<Esmg_ValueItem *>(emsc_HeapMalloc(sizeof(Esmg_ValueItem)));
    if (!copy) {
      FreeValueList(list);
      return false;
    }
    *tail = copy;
    tail = &copy->next;
    copy->kind = item->kind;
    if (item->kind == 2) {
      if (!CopyString(item->value.string, &copy->value.string)) {
        FreeValueList(list);
        return false;
      }
    } else {
      copy->value.number = item->value.number;
    }
  }
  *out = list;
  return true;
}

bool CopySequence(const Esmg_Sequence *source, Esmg_Sequence **out) {
  *out = nullptr;
  Esmg_Sequence *head = nullptr;
  Esmg_Sequence **tail = &head;
  for (const Esmg_Sequence *step = source; step; step = step->next) {
    auto *copy = static_cast<Esmg_Sequence *>(emsc_HeapMalloc(sizeof(Esmg_Sequence)));
    if (!copy) {
      esmg_SequenceFree(head);
      return false;
    }
    *tail = copy;
    tail = &copy->next;
    copy->argc = step->argc;
    copy->callback = step->callback;
    copy->userData = step->userData;
    if (!CopyString(step->label, &copy->label) ||
        !CopyStringArray(step->argc, step->argv, &copy->argv)) {
      esmg_SequenceFree(head);
      return false;
    }
  }
  *out = head;
  return true;
}

bool CopyStringList(const Estr_StringList *source, Estr_StringList **out) {
  *out = nullptr;
  if (!source) return true;
  Eerr_ErrorReport *inner = nullptr;
  *out = estr_StringListCopy(source, nullptr, &inner);
  if (inner) {
    eerr_DeleteErrorReportEx(&inner);
    estr_StringListDelete(*out, nullptr);
    *out = nullptr;
  }
  return *out != nullptr;
}

bool CopyReport(const Eerr_ErrorReport *source, Eerr_ErrorReport **out) {
  // Reports live outside the counted heap; a duplicate that runs out of memory gives the
  // layer's own out-of-memory report.
  *out = eerr_ErrorReportDuplicate(source);
  return true;
}

bool CopyCell(int32_t kind, const Esmg_ValueCell *source, Esmg_ValueCell **out) {
  *out = nullptr;
  if (!source) return true;
  auto *cell = static_cast<Esmg_ValueCell *>(emsc_HeapMalloc(sizeof(Esmg_ValueCell)));
  if (!cell) return false;
  if (kind != 0) {
    if (!CopyString(source->string, &cell->string)) {
      emsc_HeapFree(cell);
      return false;
    }
  } else {
    cell->number = source->number;
  }
  *out = cell;
  return true;
}

void FreeCell(int32_t kind, Esmg_ValueCell *cell) {
  if (!cell) return;
  if (kind != 0) emsc_HeapFree(cell->string);
  emsc_HeapFree(cell);
}

bool CopyFields(const Layout &layout, Esmg_Protocol *destination, const Esmg_Protocol *source) {
  for (int f = 0; f < layout.count; ++f) {
    const int n = layout.fields[f].word;
    Esmg_ProtocolWord &to = destination->w[n];
    const Esmg_ProtocolWord &from = source->w[n];
    switch (layout.fields[f].field) {
    case F::None: break;
    case F::Int: to.i = from.i; break;
    case F::Double: to.d = from.d; break;
    case F::Token: to.p = from.p; break;
    case F::String:
      if (!CopyString(from.s, &to.s)) return false;
      break;
    case F::Array:
      to.i = from.i;
      if (!CopyStringArray(from.i, source->w[n + 1].sa, &destination->w[n + 1].sa)) return false;
      if (!destination->w[n + 1].sa) to.i = 0;
      break;
    case F::List:
      if (!CopyStringList(from.sl, &to.sl)) return false;
      break;
    case F::Values:
      if (!CopyValueList(from.values, &to.values)) return false;
      break;
    case F::Chain:
      if (!CopySequence(from.sequence, &to.sequence)) return false;
      break;
    case F::Report:
      if (!CopyReport(from.report, &to.report)) return false;
      break;
    case F::Bytes: {
      const int32_t count = source->w[n - 1].i;
      if (count > 0 && from.bytes) {
        to.bytes = static_cast<unsigned char *>(emsc_HeapMalloc(static_cast<size_t>(count)));
        if (!to.bytes) return false;
        std::memcpy(to.bytes, from.bytes, static_cast<size_t>(count));
      } else {
        destination->w[n - 1].i = 0;
      }
      break;
    }
    case F::Optional:
      to.i = from.i;
      if (!CopyCell(from.i, source->w[n + 1].cell, &destination->w[n + 1].cell)) return false;
      break;
    }
  }
  return true;
}

void FreeFields(const Layout &layout, Esmg_Protocol *record, const char *reporter) {
  for (int f = 0; f < layout.count; ++f) {
    const int n = layout.fields[f].word;
    Esmg_ProtocolWord &word = record->w[n];
    switch (layout.fields[f].field) {
    case F::None:
    case F::Int:
    case F::Double:
    case F::Token: break;
    case F::String: emsc_HeapFree(word.s); word.s = nullptr; break;
    case F::Array:
      FreeStringArray(word.i, record->w[n + 1].sa);
      record->w[n + 1].sa = nullptr;
      word.i = 0;
      break;
    case F::List: DeleteList(word.sl, reporter); word.sl = nullptr; break;
    case F::Values: FreeValueList(word.values); word.values = nullptr; break;
    case F::Chain: esmg_SequenceFree(word.sequence); word.sequence = nullptr; break;
    case F::Report: eerr_DeleteErrorReportEx(&word.report); break;
    case F::Bytes: emsc_HeapFree(word.bytes); word.bytes = nullptr; break;
    case F::Optional:
      FreeCell(word.i, record->w[n + 1].cell);
      record->w[n + 1].cell = nullptr;
      break;
    }
  }
}

} // namespace taviron::session

namespace ts = taviron::session;

extern "C" {

Esmg_Protocol *esmg_AssembleProtocolV(int32_t type, va_list ap) try {
  auto *record = static_cast<Esmg_Protocol *>(emsc_HeapMalloc(sizeof(Esmg_Protocol)));
  if (!record) return nullptr;
  record->type = type;
  bool ok = true;
  Esmg_ProtocolWord *w = record->w;
  auto str = [&](int n) {
    const char *text = va_arg(ap, const char *);
    if (ok) ok = ts::CopyString(text, &w[n].s);
  };
  auto integer = [&](int n) { w[n].i = va_arg(ap, int); };
  auto pointer = [&](int n) { w[n].p = va_arg(ap, void *); };
  auto array = [&](int n) {
    const int32_t count = va_arg(ap, int);
    char *const *strings = va_arg(ap, char *const *);
    if (ok) ok = ts::CopyStringArray(count, strings, &w[n + 1].sa);
    w[n].i = w[n + 1].sa ? count : 0;
  };

  switch (type) {
  case 0:
  case 23: str(2); str(3); str(4); break;
  case 1:
  case 31:
  case 10:
  case 11:
  case 48: str(2); break;
  case 2: {
    str(2);
    const auto *values = va_arg(ap, const Esmg_ValueList *);
    if (ok) ok = ts::CopyValueList(values, &w[3].values);
    break;
  }
  case 4:
  case 7:
  case 24:
  case 29:
  case 51:
  case 57: array(2); break;
  case 5: {
    const auto *chain = va_arg(ap, const Eerr_ErrorReport *);
    ok = ts::CopyReport(chain, &w[2].report);
    break;
  }
  case 6: integer(2); str(3); break;
  case 8: {
    const auto *chain = va_arg(ap, const Esmg_Sequence *);
    ok = ts::CopySequence(chain, &w[2].sequence);
    break;
  }
  case 9: integer(2); integer(3); integer(4); break;
  case 12:
  case 25:
  case 61:
  case 43: integer(2); break;
  case 14: {
    integer(2);
    const int32_t count = va_arg(ap, int);
    const void *data = va_arg(ap, const void *);
    if (count > 0 && data) {
      w[4].bytes = static_cast<unsigned char *>(emsc_HeapMalloc(static_cast<size_t>(count)));
      if (w[4].bytes) std::memcpy(w[4].bytes, data, static_cast<size_t>(count));
      else ok = false;
      w[3].i = count;
    }
    break;
  }
  case 15:
  case 46:
  case 47: str(2); integer(3); break;
  case 16:
  case 19: str(2); str(3); str(4); break;
  case 17: {
    str(2); str(3); str(4);
    integer(5);
    str(6);
    w[8].d = va_arg(ap, double);
    integer(13);
    if (w[13].i == 0) w[13].i = 3;
    break;
  }
  case 18: str(2); str(3); str(4); pointer(10); pointer(11); break;
  case 33: str(2); break;
  case 34: str(2); str(3); str(4); str(5); break;
  case 36: str(2); integer(3); integer(4); break;
  case 37: integer(4); array(2); break;
  case 38:
  case 39:
  case 40:
  case 42: integer(5); break;
  case 41: integer(5); pointer(7); pointer(8); break;
  case 44: str(2); str(3); str(4); str(5); integer(6); break;
  case 45: ok = ts::EcfgAssemble(record, ap); break;
  case 49:
  case 50: str(2); str(3); break;
  case 53:
  case 54: pointer(2); pointer(3); break;
  default: break; // no arguments, or not assembled (20, 28, 56, 62)
  }
  if (!ok) {
    esmg_FreeProtocol(record);
    return nullptr;
  }
  return record;
} TAVIRON_GUARD_QUIET(nullptr)

Esmg_Protocol *esmg_AssembleProtocol(int32_t type, ...) try {
  va_list ap;
  va_start(ap, type);
  Esmg_Protocol *record = esmg_AssembleProtocolV(type, ap);
  va_end(ap);
  return record;
} TAVIRON_GUARD_QUIET(nullptr)

Esmg_Protocol *esmg_CopyProtocol(const Esmg_Protocol *record) try {
  if (!record) return nullptr;
  auto *copy = static_cast<Esmg_Protocol *>(emsc_HeapMalloc(sizeof(Esmg_Protocol)));
  if (!copy) return nullptr;
  copy->type = record->type;
  copy->reserved = record->reserved;
  const bool ok = record->type == ESMG_PROTOCOL_ECFG
                      ? esmg_EcfgProtocolDuplicate(copy, record) != 0
                      : ts::CopyFields(ts::TypeLayout(record->type), copy, record);
  if (!ok) {
    esmg_FreeProtocol(copy);
    return nullptr;
  }
  return copy;
} TAVIRON_GUARD_QUIET(nullptr)

void esmg_FreeProtocol(Esmg_Protocol *record) try {
  if (!record) return;
  if (record->type == ESMG_PROTOCOL_ECFG)
    esmg_EcfgFreeProtocol(record);
  else
    ts::FreeFields(ts::TypeLayout(record->type), record, "esmg_FreeProtocol");
  emsc_HeapFree(record);
} TAVIRON_GUARD_QUIET_VOID

int32_t esmg_PutProtocolInQ(Esmg_Protocol *record) try {
  if (!record) return 0;
  auto *node = static_cast<ts::QueueNode *>(emsc_HeapMalloc(sizeof(ts::QueueNode)));
  if (!node) return 0;
  node->record = record;
  std::lock_guard lock(ts::queueMutex);
  if (ts::queueTail)
    ts::queueTail->next = node;
  else
    ts::queueHead = node;
  ts::queueTail = node;
  return 1;
} TAVIRON_GUARD_QUIET(0)

Esmg_Protocol *esmg_GetProtocolFromQ(int32_t type) try {
  ts::QueueNode *found = nullptr;
  {
    std::lock_guard lock(ts::queueMutex);
    ts::QueueNode *previous = nullptr;
    for (ts::QueueNode *node = ts::queueHead; node; previous = node, node = node->next) {
      if (type != ESMG_PROTOCOL_ANY && node->record->type != type) continue;
      (previous ? previous->next : ts::queueHead) = node->next;
      if (ts::queueTail == node) ts::queueTail = previous;
      found = node;
      break;
    }
  }
  if (!found) return nullptr;
  Esmg_Protocol *record = found->record;
  emsc_HeapFree(found);
  return record;
} TAVIRON_GUARD_QUIET(nullptr)

int32_t esmg_IsProtocolQueue(void) try {
  std::lock_guard lock(ts::queueMutex);
  return ts::queueHead != nullptr;
} TAVIRON_GUARD_QUIET(0)

int32_t esmg_TokenFromPointer(const void *pointer) try { return ts::TokenOut(pointer); } TAVIRON_GUARD_QUIET(0)

void *esmg_PointerFromToken(int32_t token) try {
  if (token == 0) return nullptr;
  ts::TokenTable &table = ts::Tokens();
  std::lock_guard lock(table.mutex);
  auto found = table.byToken.find(token);
  return found == table.byToken.end() ? nullptr : found->second;
} TAVIRON_GUARD_QUIET(nullptr)

} // extern "C"
