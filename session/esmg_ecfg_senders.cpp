// The configuration-database methods of a connected application: each request goes to the session
// manager as a configuration request (protocol 45), which answers it from its databases.
#include <cstdint>
#include <cstdio>

#include "ecfg.h"
#include "efio.h"
#include "esmg.h"
#include "estr.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

// A copy of the reply's list; null for none or when it cannot be copied.
Estr_StringList *CopyOf(const Estr_StringList *list) {
  if (!list) return nullptr;
  lower::CalleeReport inner;
  Estr_StringList *copy = estr_StringListCopy(list, nullptr, &inner);
  if (inner) {
    estr_StringListDelete(copy, nullptr);
    return nullptr;
  }
  return copy;
}

// The report of the reply, handed to the caller as the session manager made it.
void TakeReport(Esmg_ProtocolWord &word, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  *&inner = word.report;
  word.report = nullptr;
  lower::PassOn(err, inner);
}

// Sends a configuration request and waits for the answer.
template <typename... Arguments> Esmg_Protocol *Ask(int32_t sub, Arguments... arguments) {
  return esmg_BroadcastAndWait(ESMG_DEST_NONE, 0, ESMG_PROTOCOL_ECFG, static_cast<int>(sub),
                               arguments...);
}

bool IsAnswer(const Esmg_Protocol *reply, int32_t sub) {
  return reply && reply->type == ESMG_PROTOCOL_ECFG && reply->w[2].i == sub;
}

Estr_StringList *LevelList(int32_t sub, const char *className, int32_t *current,
                           Eerr_ErrorReport **err, const char *reporter, int32_t code,
                           const char *failure) {
  lower::Clear(err);
  Esmg_Protocol *reply = Ask(sub, className, static_cast<const Estr_StringList *>(nullptr),
                             static_cast<int>(current ? *current : 0),
                             static_cast<const Eerr_ErrorReport *>(nullptr));
  if (!IsAnswer(reply, sub)) {
    esmg_FreeProtocol(reply);
    lower::Report(err, reporter, code, "%s", failure);
    return nullptr;
  }
  if (current) *current = reply->w[5].i;
  TakeReport(reply->w[6], err);
  Estr_StringList *list = CopyOf(reply->w[4].sl);
  esmg_FreeProtocol(reply);
  return list;
}

// The report of a request that changes something: the session manager's, when it made one.
void Change(Esmg_Protocol *reply, int32_t sub, int32_t reportWord, Eerr_ErrorReport **err,
            int32_t code) {
  if (!IsAnswer(reply, sub))
    lower::Report(err, "esmg_EcfgSetDatabaseLevel", code, "Could not set databases.");
  else
    TakeReport(reply->w[reportWord], err);
  esmg_FreeProtocol(reply);
}

} // namespace

extern "C" {

Estr_StringList *esmg_EcfgQueryCreateAndExecute(const char *className, const char *category,
                                                const char *instance, const char *key,
                                                int32_t flags, Eerr_ErrorReport **err) try {
  static const char *reporter = "esmg_EcfgQueryCreateAndExecute";
  lower::Clear(err);
  Esmg_Protocol *reply = Ask(0, className, category, instance, key, static_cast<int>(flags),
                             static_cast<const Estr_StringList *>(nullptr),
                             static_cast<const Eerr_ErrorReport *>(nullptr));
  if (!IsAnswer(reply, 0)) {
    esmg_FreeProtocol(reply);
    lower::Report(err, reporter, 579, "Invalid query results.");
    return nullptr;
  }
  if (reply->w[9].report) {
    efio_Fprintf(stderr, "Got an error in query!\n");
    // The session manager's report reaches the caller, beneath the query's own.
    lower::CalleeReport inner;
    TakeReport(reply->w[9], &inner);
    lower::ReportChained(err, inner, reporter, 590, "Got an error in query!");
  } else if (!reply->w[8].sl) {
    const char *named = instance ? instance : className ? className : "<empty>";
    esmg_LogMessage(1, nullptr, "Query for '%s' returned no results.", named);
  }
  Estr_StringList *list = CopyOf(reply->w[8].sl);
  esmg_FreeProtocol(reply);
  return list;
} TAVIRON_GUARD(err, nullptr)

char *esmg_EcfgGetClass(const char *className) try {
  Esmg_Protocol *reply = Ask(1, className, static_cast<const Eerr_ErrorReport *>(nullptr));
  char *found = IsAnswer(reply, 1) && reply->w[3].s ? estr_Duplicate(reply->w[3].s) : nullptr;
  esmg_FreeProtocol(reply);
  return found;
} TAVIRON_GUARD_QUIET(nullptr)

Estr_StringList *esmg_EcfgGetDatabaseDirectories(const char *className, int32_t *current,
                                                 Eerr_ErrorReport **err) try {
  return LevelList(2, className, current, err, "esmg_EcfgGetDatabaseDirectories", 688,
                   "Could not get database directories.");
} TAVIRON_GUARD(err, nullptr)

Estr_StringList *esmg_EcfgGetDatabases(const char *className, int32_t *current,
                                       Eerr_ErrorReport **err) try {
  return LevelList(3, className, current, err, "esmg_EcfgGetDatabases", 743,
                   "Could not get databases.");
} TAVIRON_GUARD(err, nullptr)

void esmg_EcfgSetDatabaseLevel(const char *className, const char *directory, const char *database,
                               Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Change(Ask(4, className, directory, database, static_cast<const Eerr_ErrorReport *>(nullptr)), 4,
         6, err, 798);
} TAVIRON_GUARD_VOID(err)

void esmg_EcfgInstallChangeImmediate(const char *className, int32_t operation, int32_t immediate,
                                     const char *name, const char *key, int32_t valueKind,
                                     void *value, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Change(Ask(5, className, static_cast<int>(operation), static_cast<int>(immediate), name, key,
             static_cast<int>(valueKind), static_cast<const void *>(value),
             static_cast<const Eerr_ErrorReport *>(nullptr)),
         5, 10, err, 858);
} TAVIRON_GUARD_VOID(err)

} // extern "C"
