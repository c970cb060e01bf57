// Plumbing shared by the protocol records, packets and configuration requests; not installed.
#ifndef TAVIRON_SESSION_ESMG_PROTOCOL_INTERNAL_H
#define TAVIRON_SESSION_ESMG_PROTOCOL_INTERNAL_H

#include <cstdarg>
#include <cstdint>

#include "esmg.h"

namespace taviron::session {

// How a record word (or pair of words) travels in a packet.
enum class Field : uint8_t {
  None,
  Int,     // I
  String,  // S
  Double,  // D
  Token,   // I on the wire, a callback or user data pointer in the record
  Array,   // SA: count in word n, strings in word n + 1
  List,    // SL
  Values,  // VALS
  Chain,   // SEQ
  Report,  // ERR
  Bytes,   // BYTES: count in word n - 1, data in word n
  Optional // OPT: kind in word n, cell in word n + 1
};

struct FieldSpec {
  Field field;
  uint8_t word;
};

constexpr int kMaxFields = 10;

struct Layout {
  int count;
  FieldSpec fields[kMaxFields];
};

// The fields of a type (0..62, but 45 whose fields depend on the sub-request); empty for the
// others.
const Layout &TypeLayout(int32_t type);
// The fields of configuration sub-request 0..5 after the sub-request word; empty for others.
const Layout &EcfgLayout(int32_t sub);

// Deep copies and frees of the owned words a layout names; copies return false when memory runs
// out (the destination then owns what was copied).
bool CopyFields(const Layout &layout, Esmg_Protocol *destination, const Esmg_Protocol *source);
// Frees and clears the owned words; a string list that cannot be deleted is reported (printed
// and dropped) under `reporter`.
void FreeFields(const Layout &layout, Esmg_Protocol *record, const char *reporter);
void PutFields(Esmg_Packet *packet, const Layout &layout, const Esmg_Protocol *record);
bool GetFields(Esmg_Packet *packet, const Layout &layout, Esmg_Protocol *record);

// Stores a configuration request's sub-request and arguments; false when memory runs out.
bool EcfgAssemble(Esmg_Protocol *record, va_list ap);

// Owned pieces.
bool CopyString(const char *source, char **out);
bool CopyStringArray(int32_t count, char *const *source, char ***out);
void FreeStringArray(int32_t count, char **strings);
bool CopyValueList(const Esmg_ValueList *source, Esmg_ValueList **out);
void FreeValueList(Esmg_ValueList *list);
bool CopySequence(const Esmg_Sequence *source, Esmg_Sequence **out);
bool CopyStringList(const Estr_StringList *source, Estr_StringList **out);
bool CopyReport(const Eerr_ErrorReport *source, Eerr_ErrorReport **out);
bool CopyCell(int32_t kind, const Esmg_ValueCell *source, Esmg_ValueCell **out);
void FreeCell(int32_t kind, Esmg_ValueCell *cell);

// Tokens of callback and user data words.
int32_t TokenOut(const void *pointer);
void *TokenIn(int32_t token);

} // namespace taviron::session

#endif
