// Configuration-database requests (type 45): the sub-requests' words, their packet fields, and
// the answer from the local configuration databases.
#include <cstdarg>

#include "ecfg.h"
#include "emsc.h"
#include "esmg.h"
#include "esmg_protocol_internal.h"
#include "guard.h"

namespace taviron::session {

bool EcfgAssemble(Esmg_Protocol *record, va_list ap) {
  Esmg_ProtocolWord *w = record->w;
  bool ok = true;
  auto str = [&](int n) {
    const char *text = va_arg(ap, const char *);
    if (ok) ok = CopyString(text, &w[n].s);
  };
  auto integer = [&](int n) { w[n].i = va_arg(ap, int); };
  auto list = [&](int n) {
    const auto *source = va_arg(ap, const Estr_StringList *);
    if (ok) ok = CopyStringList(source, &w[n].sl);
  };
  auto report = [&](int n) {
    const auto *source = va_arg(ap, const Eerr_ErrorReport *);
    if (ok) ok = CopyReport(source, &w[n].report);
  };
  w[2].i = va_arg(ap, int);
  switch (w[2].i) {
  case 0: str(3); str(4); str(5); str(6); integer(7); list(8); report(9); break;
  case 1: str(3); report(4); break;
  case 2:
  case 3: str(3); list(4); integer(5); report(6); break;
  case 4: str(3); str(4); str(5); report(6); break;
  case 5: {
    str(3); integer(4); integer(5); str(6); str(7); integer(8);
    const void *value = va_arg(ap, const void *);
    // The value comes as ecfg_InstallChangeImmediate takes it; the cell keeps the double or the
    // list's one string.
    Esmg_ValueCell cell{};
    const Esmg_ValueCell *source = nullptr;
    if (value && w[8].i == 0) {
      cell.number = *static_cast<const double *>(value);
      source = &cell;
    } else if (value) {
      const auto *strings = static_cast<const Estr_StringList *>(value);
      if (strings->count >= 1 && strings->strings) {
        cell.string = strings->strings[0];
        source = &cell;
      }
    }
    if (ok) ok = CopyCell(w[8].i, source, &w[9].cell);
    report(10);
    break;
  }
  default: break;
  }
  return ok;
}

} // namespace taviron::session

namespace ts = taviron::session;

extern "C" {

void esmg_EcfgProtocolAssemble(Esmg_Protocol *record, va_list ap) try {
  if (record) ts::EcfgAssemble(record, ap);
} TAVIRON_GUARD_QUIET_VOID

int32_t esmg_EcfgProtocolDuplicate(Esmg_Protocol *destination, const Esmg_Protocol *source) try {
  if (!destination || !source) return 0;
  destination->w[2].i = source->w[2].i;
  return ts::CopyFields(ts::EcfgLayout(source->w[2].i), destination, source) ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

void esmg_EcfgFreeProtocol(Esmg_Protocol *record) try {
  if (!record || record->type != ESMG_PROTOCOL_ECFG) return;
  ts::FreeFields(ts::EcfgLayout(record->w[2].i), record, "esmg_FreeProtocol");
} TAVIRON_GUARD_QUIET_VOID

void esmg_EcfgProtocolWriteToPacket(Esmg_Packet *packet, const Esmg_Protocol *record) try {
  if (!packet || !record) return;
  packet->ops->putInt(packet, record->w[2].i);
  ts::PutFields(packet, ts::EcfgLayout(record->w[2].i), record);
} TAVIRON_GUARD_QUIET_VOID

int32_t esmg_EcfgProtocolReadFromPacket(Esmg_Packet *packet, Esmg_Protocol *record) try {
  if (!packet || !record || !packet->ops->getInt(packet, &record->w[2].i)) return 0;
  return ts::GetFields(packet, ts::EcfgLayout(record->w[2].i), record) ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

int32_t esmg_EcfgProtocolProcess(Esmg_Protocol *record, int32_t *errorFlag) try {
  if (errorFlag) *errorFlag = 0;
  if (!record || record->type != ESMG_PROTOCOL_ECFG || record->w[2].i < 0 || record->w[2].i > 5)
    return ESMG_ECFG_NOT_HANDLED;
  Esmg_ProtocolWord *w = record->w;
  // The answer replaces what the request carried in the result words.
  auto setList = [](Esmg_ProtocolWord &word, Estr_StringList *list) {
    estr_StringListDelete(word.sl, nullptr);
    word.sl = list;
  };
  auto setReport = [](Esmg_ProtocolWord &word, Eerr_ErrorReport *report) {
    eerr_DeleteErrorReportEx(&word.report);
    word.report = report;
  };
  Eerr_ErrorReport *err = nullptr;
  switch (w[2].i) {
  case 0: {
    Estr_StringList *result =
        ecfg_QueryCreateAndExecute(w[3].s, w[4].s, w[5].s, w[6].s, w[7].i, &err);
    setList(w[8], result);
    setReport(w[9], err);
    break;
  }
  case 1: {
    char *found = ecfg_GetClass(w[3].s);
    if (found) {
      emsc_HeapFree(found);
    } else {
      emsc_HeapFree(w[3].s);
      w[3].s = nullptr;
    }
    break;
  }
  case 2:
  case 3: {
    int32_t count = 0;
    Estr_StringList *result = w[2].i == 2 ? ecfg_GetDatabaseDirectories(w[3].s, &count, &err)
                                          : ecfg_GetDatabases(w[3].s, &count, &err);
    setList(w[4], result);
    w[5].i = count;
    setReport(w[6], err);
    break;
  }
  case 4:
    ecfg_SetDatabaseLevel(w[3].s, w[4].s, w[5].s, &err);
    setReport(w[6], err);
    break;
  case 5: {
    // The local databases take a string as a list of one string, a number as a double.
    Esmg_ValueCell *cell = w[9].cell;
    Estr_StringList one{1, cell ? &cell->string : nullptr};
    void *value = nullptr;
    if (cell) value = w[8].i != 0 ? static_cast<void *>(&one) : static_cast<void *>(&cell->number);
    ecfg_InstallChangeImmediate(w[3].s, w[4].i, w[5].i, w[6].s, w[7].s, w[8].i, value, &err);
    setReport(w[10], err);
    break;
  }
  }
  return ESMG_ECFG_ANSWERED;
} TAVIRON_GUARD_QUIET(ESMG_ECFG_NOT_HANDLED)

} // extern "C"
