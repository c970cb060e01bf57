// Packets: the field operations, building a packet from a record and reading a record back.
// Fields are little-endian with no padding. A reader never goes past the packet's total length:
// every get checks that the bytes it needs are there, counts are checked against the bytes
// left, and a packet whose fields cannot be read gives the unreadable record (type 32).
#include <bit>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "emsc.h"
#include "esmg.h"
#include "esmg_protocol_internal.h"
#include "guard.h"

namespace taviron::session {

namespace {

constexpr int32_t kGrowth = 1024;

// ---------------------------------------------------------------------------------------------
// Bytes

void StoreU32(unsigned char *at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t LoadU32(const unsigned char *at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
  return value;
}

// Room for size more bytes at the position; marks the packet failed when there is none.
bool Reserve(Esmg_Packet *packet, size_t size) {
  if (packet->failed) return false;
  const int64_t need = static_cast<int64_t>(packet->position) + static_cast<int64_t>(size);
  if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max()) ||
      need > std::numeric_limits<int32_t>::max()) {
    packet->failed = 1;
    return false;
  }
  if (need <= packet->capacity) return true;
  const int64_t steps = (need - packet->capacity + kGrowth - 1) / kGrowth;
  const int64_t capacity = packet->capacity + steps * kGrowth;
  if (capacity > std::numeric_limits<int32_t>::max()) {
    packet->failed = 1;
    return false;
  }
  void *buffer = emsc_HeapRealloc(packet->buffer, static_cast<size_t>(capacity));
  if (!buffer) {
    packet->failed = 1;
    return false;
  }
  packet->buffer = static_cast<unsigned char *>(buffer);
  packet->capacity = static_cast<int32_t>(capacity);
  return true;
}

void PutBytes(Esmg_Packet *packet, const void *bytes, size_t size) {
  if (!Reserve(packet, size)) return;
  if (size) std::memcpy(packet->buffer + packet->position, bytes, size);
  packet->position += static_cast<int32_t>(size);
}

// The end of the readable bytes: the total length, never past the buffer.
int32_t End(const Esmg_Packet *packet) {
  return packet->expected < packet->capacity ? packet->expected : packet->capacity;
}

int32_t Left(const Esmg_Packet *packet) {
  if (!packet->buffer || packet->position < 0 || packet->position > End(packet)) return 0;
  return End(packet) - packet->position;
}

bool Take(Esmg_Packet *packet, int32_t size, const unsigned char **at) {
  if (size < 0 || Left(packet) < size) return false;
  *at = packet->buffer + packet->position;
  packet->position += size;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Field operations

void PutInt(Esmg_Packet *packet, int32_t value) {
  unsigned char bytes[4];
  StoreU32(bytes, static_cast<uint32_t>(value));
  PutBytes(packet, bytes, 4);
}

int32_t GetInt(Esmg_Packet *packet, int32_t *value) {
  const unsigned char *at;
  if (!Take(packet, 4, &at)) return 0;
  *value = static_cast<int32_t>(LoadU32(at));
  return 1;
}

void PutDouble(Esmg_Packet *packet, double value) {
  const auto bits = std::bit_cast<uint64_t>(value);
  unsigned char bytes[8];
  StoreU32(bytes, static_cast<uint32_t>(bits));
  StoreU32(bytes + 4, static_cast<uint32_t>(bits >> 32));
  PutBytes(packet, bytes, 8);
}

int32_t GetDouble(Esmg_Packet *packet, double *value) {
  const unsigned char *at;
  if (!Take(packet, 8, &at)) return 0;
  const uint64_t bits = LoadU32(at) | (static_cast<uint64_t>(LoadU32(at + 4)) << 32);
  *value = std::bit_cast<double>(bits);
  return 1;
}

void PutString(Esmg_Packet *packet, const char *text) {
  if (!text) {
    PutInt(packet, 0);
    return;
  }
  const size_t n = std::strlen(text) + 1;
  if (n > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    packet->failed = 1;
    return;
  }
  PutInt(packet, static_cast<int32_t>(n));
  PutBytes(packet, text, n);
}

// The n bytes of a string whose count was read already; they must end with the NUL.
bool StringBody(Esmg_Packet *packet, int32_t n, char **text) {
  if (n < 0) return false;
  if (n == 0) {
    *text = nullptr;
    return true;
  }
  const unsigned char *at;
  if (!Take(packet, n, &at) || at[n - 1] != 0) return false;
  auto *copy = static_cast<char *>(emsc_HeapMalloc(static_cast<size_t>(n)));
  if (!copy) return false;
  std::memcpy(copy, at, static_cast<size_t>(n));
  *text = copy;
  return true;
}

int32_t GetString(Esmg_Packet *packet, char **text) {
  int32_t n;
  return GetInt(packet, &n) && StringBody(packet, n, text);
}

void PutStringArray(Esmg_Packet *packet, int32_t count, char *const *strings) {
  if (count < 0 || !strings) count = 0;
  PutInt(packet, count);
  for (int32_t i = 0; i < count; ++i) PutString(packet, strings[i]);
}

// count strings (count read already, at least 0): a new array with a null entry after them.
bool StringsBody(Esmg_Packet *packet, int32_t count, char ***strings) {
  *strings = nullptr;
  if (count < 0 || count > Left(packet) / 4) return false; // every string takes 4 bytes at least
  if (count == 0) return true;
  auto **array = static_cast<char **>(emsc_HeapMalloc((static_cast<size_t>(count) + 1) * sizeof(char *)));
  if (!array) return false;
  for (int32_t i = 0; i < count; ++i) {
    if (!GetString(packet, &array[i])) {
      FreeStringArray(i, array);
      return false;
    }
  }
  *strings = array;
  return true;
}

int32_t GetStringArray(Esmg_Packet *packet, int32_t *count, char ***strings) {
  int32_t n;
  char **array;
  if (!GetInt(packet, &n) || !StringsBody(packet, n, &array)) return 0;
  *count = n;
  *strings = array;
  return 1;
}

void PutStringList(Esmg_Packet *packet, const Estr_StringList *list) {
  if (!list) {
    PutInt(packet, 0);
    return;
  }
  PutStringArray(packet, list->count, list->strings);
}

int32_t GetStringList(Esmg_Packet *packet, Estr_StringList **list) {
  int32_t count;
  char **strings;
  if (!GetStringArray(packet, &count, &strings)) return 0;
  *list = nullptr;
  if (count > 0) {
    Eerr_ErrorReport *inner = nullptr;
    *list = estr_StringToStringList(count, strings, &inner);
    if (inner) {
      eerr_PrintErrorReport(inner, 1, nullptr);
      eerr_DeleteErrorReportEx(&inner);
    }
  }
  FreeStringArray(count, strings);
  return 1;
}

void PutSequence(Esmg_Packet *packet, const Esmg_Sequence *chain) {
  // A step without arguments would end the list on the wire; the steps after it are not sent.
  for (const Esmg_Sequence *step = chain; step && step->argc >= 1 && step->argv; step = step->next) {
    PutStringArray(packet, step->argc, step->argv);
    PutString(packet, step->label);
    PutInt(packet, TokenOut(reinterpret_cast<const void *>(step->callback)));
    PutInt(packet, TokenOut(step->userData));
  }
  PutInt(packet, 0);
}

int32_t GetSequence(Esmg_Packet *packet, Esmg_Sequence **chain) {
  Esmg_Sequence *head = nullptr;
  Esmg_Sequence **tail = &head;
  for (;;) {
    int32_t argc;
    if (!GetInt(packet, &argc) || argc < 0) break;
    if (argc == 0) {
      *chain = head;
      return 1;
    }
    auto *step = static_cast<Esmg_Sequence *>(emsc_HeapMalloc(sizeof(Esmg_Sequence)));
    if (!step) break;
    *tail = step;
    tail = &step->next;
    int32_t callback, userData;
    if (!StringsBody(packet, argc, &step->argv)) break;
    step->argc = argc;
    if (!GetString(packet, &step->label) || !GetInt(packet, &callback) ||
        !GetInt(packet, &userData))
      break;
    step->callback = reinterpret_cast<Esmg_SequenceCallback>(TokenIn(callback));
    step->userData = TokenIn(userData);
  }
  esmg_SequenceFree(head);
  return 0;
}

void PutValueList(Esmg_Packet *packet, const Esmg_ValueList *list) {
  if (!list) {
    PutInt(packet, 0);
    PutInt(packet, 0);
    return;
  }
  int32_t count = 0;
  for (const Esmg_ValueItem *item = list->items; item; item = item->next) ++count;
  PutInt(packet, list->first);
  PutInt(packet, count);
  for (const Esmg_ValueItem *item = list->items; item; item = item->next) {
    PutInt(packet, item->kind);
    if (item->kind == 2)
      PutString(packet, item->value.string);
    else
      PutDouble(packet, item->value.number);
  }
}

int32_t GetValueList(Esmg_Packet *packet, Esmg_ValueList **out) {
  int32_t first, count;
  if (!GetInt(packet, &first) || !GetInt(packet, &count)) return 0;
  if (count < 0 || count > Left(packet) / 8) return 0; // an item takes 8 bytes at least
  if (first == 0 && count == 0) {
    *out = nullptr;
    return 1;
  }
  auto *list = static_cast<Esmg_ValueList *>(emsc_HeapMalloc(sizeof(Esmg_ValueList)));
  if (!list) return 0;
  list->first = first;
  Esmg_ValueItem **tail = &list->items;
  for (int32_t i = 0; i < count; ++i) {
    auto *item = static_cast<Esmg_ValueItem *>(emsc_HeapMalloc(sizeof(Esmg_ValueItem)));
    if (!item) {
      FreeValueList(list);
      return 0;
    }
    *tail = item;
    tail = &item->next;
    bool ok = GetInt(packet, &item->kind) != 0;
    if (ok)
      ok = item->kind == 2 ? GetString(packet, &item->value.string) != 0
                           : GetDouble(packet, &item->value.number) != 0;
    if (!ok) {
      FreeValueList(list);
      return 0;
    }
  }
  list->count = count;
  *out = list;
  return 1;
}

void PutReport(Esmg_Packet *packet, const Eerr_ErrorReport *chain) {
  // A count of 0 in the place of a reporter name ends the chain, so a report without name is
  // sent with an empty one.
  for (const Eerr_ErrorReport *report = chain; report; report = report->next) {
    PutString(packet, report->reporter ? report->reporter : "");
    PutInt(packet, report->code);
    PutInt(packet, report->severity);
    PutString(packet, report->message);
  }
  PutInt(packet, 0);
}

// The n bytes of a string as they stand in the packet (they must end with the NUL).
bool ViewString(Esmg_Packet *packet, int32_t n, std::string *text, bool *present) {
  *present = n > 0;
  if (n <= 0) return n == 0;
  const unsigned char *at;
  if (!Take(packet, n, &at) || at[n - 1] != 0) return false;
  text->assign(reinterpret_cast<const char *>(at));
  return true;
}

int32_t GetReport(Esmg_Packet *packet, Eerr_ErrorReport **chain) {
  struct Entry {
    std::string reporter, message;
    int32_t code = 0, severity = 0;
    bool hasMessage = false;
  };
  std::vector<Entry> entries;
  for (;;) {
    int32_t n, m;
    if (!GetInt(packet, &n)) return 0;
    if (n == 0) break; // the end of the chain
    Entry entry;
    bool hasReporter;
    if (!ViewString(packet, n, &entry.reporter, &hasReporter) || !GetInt(packet, &entry.code) ||
        !GetInt(packet, &entry.severity) || !GetInt(packet, &m) ||
        !ViewString(packet, m, &entry.message, &entry.hasMessage))
      return 0;
    entries.push_back(std::move(entry));
  }
  // The chain is built from its deepest report up, each new report chaining the ones below.
  Eerr_ErrorReport *head = nullptr;
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry)
    head = eerr_CreateErrorReport(entry->reporter.c_str(), entry->code, entry->severity, head,
                                  entry->hasMessage ? "%s" : nullptr, entry->message.c_str());
  *chain = head;
  return 1;
}

void PutOptional(Esmg_Packet *packet, int32_t kind, const Esmg_ValueCell *cell) {
  PutInt(packet, kind);
  PutInt(packet, cell ? 1 : 0);
  if (!cell) return;
  if (kind != 0)
    PutString(packet, cell->string);
  else
    PutDouble(packet, cell->number);
}

int32_t GetOptional(Esmg_Packet *packet, int32_t *kind, Esmg_ValueCell **out) {
  int32_t k, present;
  if (!GetInt(packet, &k) || !GetInt(packet, &present) || (present != 0 && present != 1)) return 0;
  Esmg_ValueCell *cell = nullptr;
  if (present) {
    cell = static_cast<Esmg_ValueCell *>(emsc_HeapMalloc(sizeof(Esmg_ValueCell)));
    if (!cell) return 0;
    const bool ok = k != 0 ? GetString(packet, &cell->string) != 0
                           : GetDouble(packet, &cell->number) != 0;
    if (!ok) {
      emsc_HeapFree(cell);
      return 0;
    }
  }
  *kind = k;
  *out = cell;
  return 1;
}

const Esmg_PacketOps kOps = {
    PutInt,         GetInt,         PutString,      GetString,      PutDouble,
    GetDouble,      PutSequence,    GetSequence,    PutStringList,  GetStringList,
    PutStringArray, GetStringArray, PutValueList,   GetValueList,   PutReport,
    GetReport,      PutOptional,    GetOptional,
};

std::mutex pipeMutex;
Esmg_Packet *pipePacket = nullptr; // the packet of esmg_ReadProtocolFromPipe, kept for the process

Esmg_Protocol *Unreadable() { return esmg_AssembleProtocol(ESMG_PROTOCOL_UNREADABLE); }

} // namespace

void PutFields(Esmg_Packet *packet, const Layout &layout, const Esmg_Protocol *record) {
  for (int f = 0; f < layout.count; ++f) {
    const int n = layout.fields[f].word;
    const Esmg_ProtocolWord &word = record->w[n];
    switch (layout.fields[f].field) {
    case Field::None: break;
    case Field::Int:
      if (f + 1 < layout.count && layout.fields[f + 1].field == Field::Bytes) {
        // The byte count of the data block that follows: what is really there.
        PutInt(packet, record->w[n + 1].bytes && word.i > 0 ? word.i : 0);
      } else {
        PutInt(packet, word.i);
      }
      break;
    case Field::String: PutString(packet, word.s); break;
    case Field::Double: PutDouble(packet, word.d); break;
    case Field::Token: PutInt(packet, TokenOut(word.p)); break;
    case Field::Array: PutStringArray(packet, word.i, record->w[n + 1].sa); break;
    case Field::List: PutStringList(packet, word.sl); break;
    case Field::Values: PutValueList(packet, word.values); break;
    case Field::Chain: PutSequence(packet, word.sequence); break;
    case Field::Report: PutReport(packet, word.report); break;
    case Field::Bytes: {
      const int32_t count = record->w[n - 1].i;
      if (word.bytes && count > 0) PutBytes(packet, word.bytes, static_cast<size_t>(count));
      break;
    }
    case Field::Optional: PutOptional(packet, word.i, record->w[n + 1].cell); break;
    }
  }
}

bool GetFields(Esmg_Packet *packet, const Layout &layout, Esmg_Protocol *record) {
  for (int f = 0; f < layout.count; ++f) {
    const int n = layout.fields[f].word;
    Esmg_ProtocolWord &word = record->w[n];
    bool ok = true;
    switch (layout.fields[f].field) {
    case Field::None: break;
    case Field::Int: ok = GetInt(packet, &word.i); break;
    case Field::String: ok = GetString(packet, &word.s); break;
    case Field::Double: ok = GetDouble(packet, &word.d); break;
    case Field::Token: {
      int32_t token;
      ok = GetInt(packet, &token);
      if (ok) word.p = TokenIn(token);
      break;
    }
    case Field::Array: ok = GetStringArray(packet, &word.i, &record->w[n + 1].sa); break;
    case Field::List: ok = GetStringList(packet, &word.sl); break;
    case Field::Values: ok = GetValueList(packet, &word.values); break;
    case Field::Chain: ok = GetSequence(packet, &word.sequence); break;
    case Field::Report: ok = GetReport(packet, &word.report); break;
    case Field::Bytes: {
      const int32_t count = record->w[n - 1].i;
      const unsigned char *at;
      ok = count >= 0 && Take(packet, count, &at);
      if (ok && count > 0) {
        word.bytes = static_cast<unsigned char *>(emsc_HeapMalloc(static_cast<size_t>(count)));
        ok = word.bytes != nullptr;
        if (ok) std::memcpy(word.bytes, at, static_cast<size_t>(count));
      }
      break;
    }
    case Field::Optional: ok = GetOptional(packet, &word.i, &record->w[n + 1].cell); break;
    }
    if (!ok) return false;
  }
  return true;
}

} // namespace taviron::session

namespace ts = taviron::session;

extern "C" {

Esmg_Packet *esmg_NewPacket(void) try {
  auto *packet = static_cast<Esmg_Packet *>(emsc_HeapMalloc(sizeof(Esmg_Packet)));
  if (!packet) return nullptr;
  packet->buffer = static_cast<unsigned char *>(emsc_HeapMalloc(ts::kGrowth));
  if (!packet->buffer) {
    emsc_HeapFree(packet);
    return nullptr;
  }
  packet->capacity = ts::kGrowth;
  packet->ops = &ts::kOps;
  return packet;
} TAVIRON_GUARD_QUIET(nullptr)

void esmg_FreePacket(Esmg_Packet *packet) try {
  if (!packet) return;
  emsc_HeapFree(packet->buffer);
  emsc_HeapFree(packet);
} TAVIRON_GUARD_QUIET_VOID

Esmg_Packet *esmg_PacketEmpty(Esmg_Packet *packet) try {
  if (!packet) return nullptr;
  packet->position = 0;
  packet->expected = 0;
  packet->failed = 0;
  return packet;
} TAVIRON_GUARD_QUIET(nullptr)

int32_t esmg_PacketIsComplete(Esmg_Packet *packet) try {
  if (!packet || packet->expected == 0 || packet->position < packet->expected) return 0;
  packet->position = 4;
  return 1;
} TAVIRON_GUARD_QUIET(0)

Esmg_Packet *esmg_BuildProtocolPacket(int32_t ignored, const Esmg_Protocol *record) try {
  (void)ignored;
  if (!record) return nullptr;
  Esmg_Packet *packet = esmg_NewPacket();
  if (!packet) return nullptr;
  packet->position = 4;
  ts::PutInt(packet, record->type);
  if (record->type == ESMG_PROTOCOL_ECFG)
    esmg_EcfgProtocolWriteToPacket(packet, record);
  else
    ts::PutFields(packet, ts::TypeLayout(record->type), record);
  if (packet->failed) {
    esmg_FreePacket(packet);
    return nullptr;
  }
  ts::StoreU32(packet->buffer, static_cast<uint32_t>(packet->position));
  return packet;
} TAVIRON_GUARD_QUIET(nullptr)

Esmg_Protocol *esmg_ReadProtocolFromPacket(Esmg_Packet *packet) try {
  if (!packet) return ts::Unreadable();
  auto *record = static_cast<Esmg_Protocol *>(emsc_HeapMalloc(sizeof(Esmg_Protocol)));
  bool ok = record != nullptr && packet->expected >= 8 && packet->buffer &&
            ts::GetInt(packet, &record->type);
  if (ok) {
    if (record->type == ESMG_PROTOCOL_ECFG)
      ok = esmg_EcfgProtocolReadFromPacket(packet, record) != 0;
    else
      ok = ts::GetFields(packet, ts::TypeLayout(record->type), record);
  }
  packet->position = 0;
  packet->expected = 0;
  if (!ok) {
    esmg_FreeProtocol(record);
    return ts::Unreadable();
  }
  return record;
} TAVIRON_GUARD_QUIET(nullptr)

int32_t esmg_ReadPacketDataFromPipe(const void *bytes, size_t byteCount, Esmg_Packet *packet) try {
  if (!packet) return 0;
  esmg_PacketEmpty(packet);
  if (!bytes || byteCount < 8) return 0;
  const auto *in = static_cast<const unsigned char *>(bytes);
  const auto total = static_cast<int32_t>(ts::LoadU32(in));
  if (total < 8 || static_cast<size_t>(total) > byteCount) return 0;
  if (!ts::Reserve(packet, static_cast<size_t>(total))) {
    esmg_PacketEmpty(packet);
    return 0;
  }
  std::memcpy(packet->buffer, in, static_cast<size_t>(total));
  packet->expected = total;
  packet->position = total;
  return 1;
} TAVIRON_GUARD_QUIET(0)

Esmg_Protocol *esmg_ReadProtocolFromPipe(const void *bytes, size_t byteCount) try {
  std::lock_guard lock(ts::pipeMutex);
  if (!ts::pipePacket) ts::pipePacket = esmg_NewPacket();
  if (!ts::pipePacket || !esmg_ReadPacketDataFromPipe(bytes, byteCount, ts::pipePacket) ||
      !esmg_PacketIsComplete(ts::pipePacket))
    return ts::Unreadable();
  return esmg_ReadProtocolFromPacket(ts::pipePacket);
} TAVIRON_GUARD_QUIET(nullptr)

} // extern "C"
