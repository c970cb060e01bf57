// Preferences served by the session services: the lower layer's preference and configuration
// methods of a connected application (they ask the session manager), of the session manager
// (they work on its local databases and spread changes) and of a batch run (local databases).
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "ecfg.h"
#include "efio.h"
#include "emsc.h"
#include "eplg.h"
#include "epmg.h"
#include "eprf.h"
#include "esmg.h"
#include "esmg_session_internal.h"
#include "estr.h"
#include "ewin.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

std::atomic<int32_t> overrideJobCheck{0};
std::atomic<Esmg_TapeNode *> localTapes{nullptr};

bool LocalAnswers() { return esmg_IsSessionManager() || esmg_IsBatchRun(); }

const char *ClassOf(const Epmg_Preference *record) {
  return record->className ? record->className : EPMG_DEFAULT_CLASS;
}

const char *OrNull(const char *text) { return text ? text : "NULL"; }

// The number a preference travels with: the double of a number, 1.0 or 0.0 for a boolean, the
// unsigned value of type 5; 0 otherwise.
double NumberOf(const Epmg_Preference *record) {
  switch (record->valueType) {
  case EPMG_TYPE_NUMBER: return record->value.number;
  case EPMG_TYPE_BOOLEAN: return record->value.boolean ? 1.0 : 0.0;
  case EPMG_TYPE_UNSIGNED: return static_cast<double>(record->value.unsignedInteger);
  default: return 0.0;
  }
}

const char *TextOf(const Epmg_Preference *record) {
  return record->valueType == EPMG_TYPE_STRING || record->valueType == EPMG_TYPE_ENUM
             ? record->value.string
             : nullptr;
}

// The low 32 bits of the number truncated to a 64-bit integer (0 for a number that has none).
uint32_t UnsignedOf(double number) {
  if (!std::isfinite(number) || std::fabs(number) >= 9.2e18) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(number)));
}

// Fills the record from the value of a reply (block of types 16 and 20). False for a value type
// that is none of the five.
bool ValueFromReply(Epmg_Preference *record, const Esmg_Protocol *reply) {
  const int32_t type = reply->w[5].i;
  const double number = reply->w[8].d;
  Epmg_PreferenceValue value{};
  switch (type) {
  case EPMG_TYPE_STRING:
  case EPMG_TYPE_ENUM:
    value.string = estr_Duplicate(reply->w[6].s ? reply->w[6].s : "");
    if (!value.string) throw std::bad_alloc();
    break;
  case EPMG_TYPE_NUMBER: value.number = number; break;
  case EPMG_TYPE_BOOLEAN: value.boolean = std::isfinite(number) && std::trunc(number) > 0 ? 1 : 0; break;
  case EPMG_TYPE_UNSIGNED: value.unsignedInteger = UnsignedOf(number); break;
  default: return false;
  }
  record->value = value;
  record->valueType = type;
  return true;
}

// The record of protocol 17: a change for the session manager or the applications.
void SendChange(const Epmg_Preference *record, int32_t kind) {
  if (record->valueType < EPMG_TYPE_STRING || record->valueType > EPMG_TYPE_UNSIGNED) return;
  esmg_Broadcast(kind, 0, 17, record->className, record->category, record->name,
                 static_cast<int>(record->valueType), TextOf(record), NumberOf(record),
                 static_cast<int>(record->flags));
}

// A report of an installer, printed and dropped (the batch run goes on without the method).
void PrintDropped(lower::CalleeReport &inner, int32_t code, const char *text) {
  if (!inner) return;
  Eerr_ErrorReport *report = eerr_CreateErrorReport("SessionOpen", code, EERR_MESSAGE,
                                                    inner.Release(), "%s", text);
  eerr_PrintErrorReport(report, 1, nullptr);
  eerr_DeleteErrorReportEx(&report);
}

// Whether the connection registers preference callbacks: applications do, jobs only when told.
bool RegistersCallbacks(const int32_t *kind) {
  const int32_t word = kind ? *kind : 0;
  return word == 0 || word == 1 || overrideJobCheck.load() != 0;
}

// ---------------------------------------------------------------------------------------------
// The preference implementation hooks of the lower layer.

void smPrefDatabaseInitialize(int32_t *, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!esmg_IsSessionManager()) return;
  lower::CalleeReport inner;
  eprf_DefaultDatabaseInitialize(&inner);
  if (inner)
    lower::ReportChained(err, inner, "smPrefDatabaseInitialize", 1166,
                         "eprf_DefaultDatabaseInitialize failed");
}

void smPrefDatabaseTerminate(int32_t *, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (esmg_IsSessionManager()) eprf_DefaultDatabaseTerminate();
}

void smPrefDatabaseFlush(int32_t *, int32_t level, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!esmg_IsSessionManager()) return;
  lower::CalleeReport inner;
  eprf_DefaultDatabaseFlush(level, &inner);
  if (inner)
    lower::ReportChained(err, inner, "smPrefDatabaseFlush", 1190, "eprf_DefaultDatabaseFlush failed");
}

void smPrefAddCB(int32_t *kind, Epmg_Preference *key, Epmg_CallbackInfo *callback,
                 Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!RegistersCallbacks(kind) || !key || !callback) return;
  if (esmg_IsSessionManager()) {
    lower::CalleeReport inner;
    eprf_DefaultPreferenceAddCB(key, callback, &inner);
    if (inner)
      lower::ReportChained(err, inner, "smPrefAddCB", 1215, "eprf_DefaultPreferenceAddCB failed");
    return;
  }
  esmg_Broadcast(ESMG_DEST_NONE, 0, 18, key->className, key->category, key->name,
                 reinterpret_cast<void *>(callback->callback), callback->userData);
}

void smPrefRemCB(int32_t *kind, Epmg_Preference *key, int32_t word, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!RegistersCallbacks(kind) || !key) return;
  if (esmg_IsSessionManager()) {
    lower::CalleeReport inner;
    eprf_DefaultPreferenceRemCB(key, word, &inner);
    if (inner)
      lower::ReportChained(err, inner, "smPrefRemCB", 1246, "eprf_DefaultPreferenceRemCB failed");
    return;
  }
  esmg_Broadcast(ESMG_DEST_NONE, 0, 19, key->className, key->category, key->name);
}

void smPrefGet(int32_t *, Epmg_Preference **record, Eerr_ErrorReport **err) {
  lower::Clear(err);
  lower::CalleeReport inner;
  esmg_PreferenceGet(record, &inner);
  if (inner) lower::ReportChained(err, inner, "smPrefGet", 1268, "esmg_PreferenceGet failed");
}

void smPrefPut(int32_t *, Epmg_Preference *record, Eerr_ErrorReport **err) {
  lower::Clear(err);
  lower::CalleeReport inner;
  esmg_PutPreference(record, &inner);
  if (inner) lower::ReportChained(err, inner, "smPrefPut", 1283, "esmg_PutPreference failed");
}

void ConfigurationInit(Eerr_ErrorReport **err) { lower::Clear(err); }

} // namespace

namespace taviron::session {

void InstallPreferenceMethods(int32_t *connectionKind, Eerr_ErrorReport **err) {
  lower::Clear(err);
  lower::CalleeReport inner;
  if (esmg_IsBatchRun()) {
    ecfg_ImplementationMethodsSet(ECFG_METHOD_PREFERENCE_GET, esmg_PreferenceGet, 0, &inner);
    PrintDropped(inner, 6732, "ecfg_ImplementationMethodsSet failed");
    eplg_ConfigurationImplementationMethodsSet(ECFG_METHOD_PREFERENCE_GET, esmg_PreferenceGet, 0,
                                               &inner);
    PrintDropped(inner, 6739, "eplg_ConfigurationImplementationMethodsSet failed");
    return;
  }
  epmg_PreferenceImplementationMethodsSet(
      EPMG_METHOD_KIND_ADDRESS, connectionKind, EPMG_METHOD_INITIALIZE, smPrefDatabaseInitialize,
      EPMG_METHOD_TERMINATE, smPrefDatabaseTerminate, EPMG_METHOD_FLUSH, smPrefDatabaseFlush,
      EPMG_METHOD_ADD_CALLBACK, smPrefAddCB, EPMG_METHOD_REMOVE_CALLBACK, smPrefRemCB,
      EPMG_METHOD_GET, smPrefGet, EPMG_METHOD_PUT, smPrefPut, 0, &inner);
  if (inner) {
    lower::ReportChained(err, inner, "SessionOpen", 6766,
                         "epmg_PreferenceImplementationMethodsSet failed");
    return;
  }
  eplg_PreferenceImplementationMethodsSet(
      EPMG_METHOD_KIND_ADDRESS, connectionKind, EPMG_METHOD_INITIALIZE, smPrefDatabaseInitialize,
      EPMG_METHOD_TERMINATE, smPrefDatabaseTerminate, EPMG_METHOD_FLUSH, smPrefDatabaseFlush,
      EPMG_METHOD_ADD_CALLBACK, smPrefAddCB, EPMG_METHOD_REMOVE_CALLBACK, smPrefRemCB,
      EPMG_METHOD_GET, smPrefGet, EPMG_METHOD_PUT, smPrefPut, 0, &inner);
  if (inner) {
    lower::ReportChained(err, inner, "SessionOpen", 6787,
                         "eplg_PreferenceImplementationMethodsSet failed");
    return;
  }
  ecfg_ImplementationMethodsSet(
      ECFG_METHOD_INIT, ConfigurationInit, ECFG_METHOD_QUERY, esmg_EcfgQueryCreateAndExecute,
      ECFG_METHOD_GET_CLASS, esmg_EcfgGetClass, ECFG_METHOD_DATABASE_DIRECTORIES,
      esmg_EcfgGetDatabaseDirectories, ECFG_METHOD_DATABASES, esmg_EcfgGetDatabases,
      ECFG_METHOD_SET_DATABASE_LEVEL, esmg_EcfgSetDatabaseLevel, ECFG_METHOD_INSTALL_CHANGE,
      esmg_EcfgInstallChangeImmediate, ECFG_METHOD_PREFERENCE_GET, esmg_PreferenceGet,
      ECFG_METHOD_PUT_PREFERENCE, esmg_PutPreference, ECFG_METHOD_WRITE_CATEGORY,
      esmg_WriteCategory, 0, &inner);
  if (inner) {
    lower::ReportChained(err, inner, "SessionOpen", 6821, "ecfg_ImplementationMethodsSet failed");
    return;
  }
  eplg_ConfigurationImplementationMethodsSet(
      ECFG_METHOD_INIT, ConfigurationInit, ECFG_METHOD_QUERY, esmg_EcfgQueryCreateAndExecute,
      ECFG_METHOD_GET_CLASS, esmg_EcfgGetClass, ECFG_METHOD_DATABASE_DIRECTORIES,
      esmg_EcfgGetDatabaseDirectories, ECFG_METHOD_DATABASES, esmg_EcfgGetDatabases,
      ECFG_METHOD_SET_DATABASE_LEVEL, esmg_EcfgSetDatabaseLevel, ECFG_METHOD_INSTALL_CHANGE,
      esmg_EcfgInstallChangeImmediate, ECFG_METHOD_PREFERENCE_GET, esmg_PreferenceGet,
      ECFG_METHOD_PUT_PREFERENCE, esmg_PutPreference, ECFG_METHOD_WRITE_CATEGORY,
      esmg_WriteCategory, 0, &inner);
  if (inner)
    lower::ReportChained(err, inner, "SessionOpen", 6846,
                         "eplg_ConfigurationImplementationMethodsSet failed");
}

} // namespace taviron::session

extern "C" {

void esmg_GetPreference(Epmg_Preference *record, Eerr_ErrorReport **err) try {
  static const char *reporter = "esmg_GetPreference";
  lower::Clear(err);
  if (!record) {
    lower::Report(err, reporter, 3, "No preference record");
    return;
  }
  if (!LocalAnswers()) {
    if (!esmg_SessionIsStarted()) {
      lower::Report(err, reporter, 1, "Session Manager is not running!, can not get preference.");
      return;
    }
    Esmg_Protocol *reply = esmg_BroadcastAndWait(ESMG_DEST_NONE, 0, 16, record->className,
                                                 record->category, record->name);
    const bool found = reply && reply->type == 16 && reply->w[12].i == 0 &&
                       ValueFromReply(record, reply);
    esmg_FreeProtocol(reply);
    if (!found)
      lower::Report(err, reporter, 2, "Couldn't find category : %s or Name : %s",
                    OrNull(record->category), OrNull(record->name));
    return;
  }
  lower::CalleeReport inner;
  if (esmg_GetPreferenceNT(record, &inner) || inner) {
    lower::PassOn(err, inner);
    return;
  }
  if (Epmg_Database *templates = ecfg_GetTemplateDB(ClassOf(record), &inner)) {
    inner.Drop();
    epmg_GetPreference(templates, record, &inner);
    if (!inner) return;
  }
  inner.Drop();
  Epmg_Database *database = ecfg_GetClassDB(ClassOf(record), &inner);
  if (database) epmg_GetPreference(database, record, &inner);
  lower::PassOn(err, inner);
} TAVIRON_GUARD_VOID(err)

void esmg_PreferenceGet(Epmg_Preference **record, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  esmg_GetPreference(record ? *record : nullptr, &inner);
  if (!inner) return;
  if (record) *record = nullptr;
  lower::ReportChained(err, inner, "esmg_PreferenceGet", 2696, "esmg_PreferenceGet failed");
} TAVIRON_GUARD_VOID(err)

void esmg_PutPreference(Epmg_Preference *record, Eerr_ErrorReport **err) try {
  static const char *reporter = "esmg_PutPreference";
  lower::Clear(err);
  if (!record) {
    lower::Report(err, reporter, 1, "No preference record");
    return;
  }
  if (!esmg_IsSessionManager()) {
    SendChange(record, ESMG_DEST_NONE);
    return;
  }
  lower::CalleeReport inner;
  Epmg_Database *database = ecfg_GetClassDB(ClassOf(record), &inner);
  if (!database) {
    lower::ReportCallee(err, inner, reporter, 2, "ecfg_GetClassDB");
    return;
  }
  epmg_PutPreference(database, record, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 3, "epmg_PutPreference");
    return;
  }
  Epmg_CallbackNode *callbacks = epmg_GetCallbackList(database, record);
  esmg_InvokePreferenceCallbacks(record, callbacks);
  epmg_FreeCallbackList(callbacks);
} TAVIRON_GUARD_VOID(err)

void esmg_BroadCastPreferenceChange(Epmg_Preference *record, Epmg_CallbackNode *callbacks) try {
  if (!record) return;
  if (!esmg_IsSessionManager()) {
    SendChange(record, ESMG_DEST_NONE);
    return;
  }
  SendChange(record, ESMG_DEST_SPREAD);
  if (callbacks) esmg_InvokePreferenceCallbacks(record, callbacks);
} TAVIRON_GUARD_QUIET_VOID

void esmg_InvokePreferenceCallbacks(Epmg_Preference *record, Epmg_CallbackNode *callbacks) try {
  if (!record) return;
  const int32_t self = ewin_GetCurrentProcessId();
  for (Epmg_CallbackNode *node = callbacks; node; node = node->next) {
    if (node->processId == self) {
      if (node->callback) node->callback(node->userData, record);
      continue;
    }
    Esmg_BroadcastProtocolFunc broadcast = esmg_GetBroadcastProtocolFunc();
    if (!broadcast) continue;
    Esmg_Protocol *run = esmg_AssembleProtocol(20);
    if (!run) continue;
    Esmg_ProtocolWord *w = run->w;
    w[2].s = record->className ? estr_Duplicate(record->className) : nullptr;
    w[3].s = record->category ? estr_Duplicate(record->category) : nullptr;
    w[4].s = record->name ? estr_Duplicate(record->name) : nullptr;
    w[5].i = record->valueType;
    w[6].s = TextOf(record) ? estr_Duplicate(TextOf(record)) : nullptr;
    w[8].d = NumberOf(record);
    w[10].p = reinterpret_cast<void *>(node->callback);
    w[11].p = node->userData;
    w[12].i = 0;
    broadcast(run, ESMG_DEST_PROCESS, node->processId);
    esmg_FreeProtocol(run);
  }
} TAVIRON_GUARD_QUIET_VOID

void esmg_AddPreferenceCallback(Epmg_PreferenceCallbackRecord *record,
                                Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!record) {
    lower::Report(err, "esmg_AddPreferenceCallback", 1, "No callback record");
    return;
  }
  if (!esmg_IsSessionManager()) {
    esmg_Broadcast(ESMG_DEST_NONE, 0, 18, record->className, record->category, record->name,
                   reinterpret_cast<void *>(record->callback), record->userData);
    return;
  }
  record->processId = ewin_GetCurrentProcessId();
  lower::CalleeReport inner;
  Epmg_Database *database = ecfg_GetClassDB(record->className ? record->className : EPMG_DEFAULT_CLASS, &inner);
  if (database) epmg_AddCallback(database, record, &inner);
  if (inner)
    lower::ReportCallee(err, inner, "esmg_AddPreferenceCallback", 2,
                        database ? "epmg_AddCallback" : "ecfg_GetClassDB");
} TAVIRON_GUARD_VOID(err)

void esmg_RemovePreferenceCallback(Epmg_PreferenceCallbackRecord *record,
                                   Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!record) {
    lower::Report(err, "esmg_RemovePreferenceCallback", 1, "No callback record");
    return;
  }
  if (!esmg_IsSessionManager()) {
    esmg_Broadcast(ESMG_DEST_NONE, 0, 19, record->className, record->category, record->name);
    return;
  }
  record->processId = ewin_GetCurrentProcessId();
  lower::CalleeReport inner;
  Epmg_Database *database = ecfg_GetClassDB(record->className ? record->className : EPMG_DEFAULT_CLASS, &inner);
  if (database) epmg_RemoveCallback(database, record, &inner);
  if (inner)
    lower::ReportCallee(err, inner, "esmg_RemovePreferenceCallback", 2,
                        database ? "epmg_RemoveCallback" : "ecfg_GetClassDB");
} TAVIRON_GUARD_VOID(err)

void esmg_SaveUserPreference(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (esmg_IsSessionManager()) {
    lower::CalleeReport inner;
    epmg_SaveUserPreference(&inner);
    if (inner) lower::ReportCallee(err, inner, "esmg_SaveUserPreference", 1, "epmg_SaveUserPreference");
  }
  esmg_Broadcast(ESMG_DEST_NONE, 0, 21);
} TAVIRON_GUARD_VOID(err)

void esmg_SaveGlobalPreference(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (esmg_IsSessionManager()) {
    lower::CalleeReport inner;
    epmg_SaveGlobalPreference(&inner);
    if (inner) lower::ReportCallee(err, inner, "esmg_SaveGlobalPreference", 1, "epmg_SaveGlobalPreference");
  }
  esmg_Broadcast(ESMG_DEST_NONE, 0, 22);
} TAVIRON_GUARD_VOID(err)

void esmg_OpenPreferenceEditor(void) try { esmg_Broadcast(ESMG_DEST_NONE, 0, 52); } TAVIRON_GUARD_QUIET_VOID

int32_t esmg_OverrideJobPreferenceCheck(int32_t word) try {
  overrideJobCheck = word;
  return word;
} TAVIRON_GUARD_QUIET(word)

Esmg_TapeNode *esmg_SetLocalTapesDB(Esmg_TapeNode *list) try {
  localTapes = list;
  return list;
} TAVIRON_GUARD_QUIET(list)

Esmg_TapeNode *esmg_GetLocalTapesDB(void) try { return localTapes.load(); } TAVIRON_GUARD_QUIET(nullptr)

} // extern "C"
