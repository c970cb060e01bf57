// The connection to the session manager and the message transport of packets: finding the
// session manager, the connect handshake, sends with and without reply, the wait loop and the
// disconnect. The same calls serve the session manager itself once it has declared itself.
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "eerr.h"
#include "efio.h"
#include "ehfa.h"
#include "emsc.h"
#include "eplg.h"
#include "epmg.h"
#include "eskt.h"
#include "esmg.h"
#include "esmg_session_internal.h"
#include "estr.h"
#include "ewin.h"
#include "guard.h"

namespace {

using namespace taviron::session;

constexpr uint32_t kWaitTimeoutMs = 20000;
constexpr const char *kMessageNames[kMessageCount] = {
    "NORIX_SM_PACKET_DATA", "NORIX_SM_PACKET_DATA_WAIT", "NORIX_APP_PACKET_DATA",
    "NORIX_SM_CONNECT",     "NORIX_SM_PROCESS",          "NORIX_APP_CANCEL",
    "NORIX_REQ_QUIT",       "NORIX_ACK_QUIT"};

// Process-wide connection state; lives as long as the process (the exit-time disconnect uses it).
// The mutex guards the session manager's window and process, the handshake and the wait packet,
// so that threads may log and send at once; it is never held while waiting for a reply.
struct Connection {
  std::recursive_mutex mutex;
  std::atomic<bool> started = false;
  std::atomic<bool> manager = false;
  std::atomic<bool> disconnected = false;
  bool exitHandlerRegistered = false;
  int32_t sessionId = 0;
  int32_t connectionKind = 0;
  int32_t ioType = 0; // 0 until read
  Ewin_Window managerWindow = 0;
  Ewin_Handle managerProcess = 0;
  Ewin_Window handshakeWindow = 0; // the connection the connect record went through
  std::string connectName;         // what the connect record said, for a connection found again
  int32_t connectKind = 0;
  std::atomic<uint32_t> ids[kMessageCount] = {};
  Esmg_BroadcastProtocolFunc broadcast = nullptr;
  Esmg_AppProtoFunc appProto = nullptr;
  void *appProtoData = nullptr;
  Esmg_Packet *waitPacket = nullptr;
  std::string name;
  std::string nameBase;
  bool nameBaseRead = false;
  void *appToSessionPipeFunc = nullptr, *processMessageFunc = nullptr;
  void *workProc[2] = {nullptr, nullptr};
  void *inputId = nullptr;
};

Connection &C() {
  static Connection *state = new Connection;
  return *state;
}

int32_t SessionIOType() {
  Connection &c = C();
  if (c.ioType == 0) {
    const char *value = getenv("TAVIRON_IO_TYPE");
    c.ioType = value && std::strcmp(value, "socket") == 0 ? 2 : 1;
  }
  return c.ioType;
}

void ShowError(const char *text) {
  esmg_MessageBox(text, "Error", ESMG_MB_ICONERROR | ESMG_MB_TASKMODAL);
}

void RegisterMessages() {
  for (int i = 0; i < kMessageCount; ++i)
    if (!C().ids[i]) C().ids[i] = ewin_RegisterWindowMessage(kMessageNames[i]);
}

// Copies the bytes into a new mapping and duplicates its handle into the session manager; the
// own handle is closed. 0 when that fails (nothing is then sent).
Ewin_Handle MappingForManager(const void *bytes, std::size_t size) {
  Connection &c = C();
  if (!c.managerProcess || size == 0 || size > UINT32_MAX) return 0;
  Ewin_Handle mapping = ewin_CreateFileMapping(static_cast<uint32_t>(size));
  if (!mapping) return 0;
  void *view = ewin_MapViewOfFile(mapping);
  Ewin_Handle duplicate = 0;
  if (view) {
    std::memcpy(view, bytes, size);
    ewin_UnmapViewOfFile(view);
    if (!ewin_DuplicateHandle(mapping, c.managerProcess, &duplicate)) duplicate = 0;
  }
  ewin_CloseHandle(mapping);
  return duplicate;
}

// The connect handshake through the session manager window of the lookup: the connect record
// (process id, kind, main window, name length, name and its NUL) in a mapping sent with
// NORIX_SM_CONNECT, waiting at most the bound of a waiting send. False when it did not go
// through.
bool Handshake(const char *name, int32_t kind) {
  Connection &c = C();
  int32_t processId = ewin_GetCurrentProcessId();
  std::size_t length = std::strlen(name);
  std::vector<unsigned char> record(17 + length, 0);
  auto put = [&](std::size_t at, int32_t value) {
    for (int i = 0; i < 4; ++i)
      record[at + i] = static_cast<unsigned char>(static_cast<uint32_t>(value) >> (8 * i));
  };
  put(0, processId);
  put(4, kind);
  put(8, AppMainWindow());
  put(12, static_cast<int32_t>(length));
  std::memcpy(record.data() + 16, name, length);

  Ewin_Handle handle = MappingForManager(record.data(), record.size());
  Ewin_Param answer = 0;
  if (!handle || !ewin_SendMessageTimeout(c.managerWindow, c.ids[kSmConnect], processId, handle,
                                          EWIN_SMTO_BLOCK, kWaitTimeoutMs, &answer)) {
    if (handle) ewin_CloseHandle(handle);
    return false;
  }
  c.handshakeWindow = c.managerWindow;
  c.connectName = name;
  c.connectKind = kind;
  return true;
}

// Reads the record of a packet in a mapping handed to this process; null when there is none.
// The handle is closed.
Esmg_Protocol *RecordFromMapping(Ewin_Handle mapping, Esmg_Packet *packet) {
  Esmg_Protocol *record = nullptr;
  int64_t size = ewin_GetFileMappingSize(mapping);
  if (const void *view = ewin_MapViewOfFile(mapping)) {
    if (esmg_ReadPacketDataFromPipe(view, static_cast<size_t>(size), packet) &&
        esmg_PacketIsComplete(packet))
      record = esmg_ReadProtocolFromPacket(packet);
    ewin_UnmapViewOfFile(view);
  }
  esmg_PacketEmpty(packet);
  ewin_CloseHandle(mapping);
  if (record && record->type == ESMG_PROTOCOL_UNREADABLE) {
    esmg_FreeProtocol(record);
    record = nullptr;
  }
  return record;
}

bool WantedType(int32_t wanted, const Esmg_Protocol *record) {
  return wanted == ESMG_PROTOCOL_ANY || record->type == wanted;
}

// The oldest queued record of the type that the test accepts, removed from the queue; the
// queue keeps its order.
Esmg_Protocol *TakeFromQueue(int32_t type, Esmg_ProtocolTest test, void *userData) {
  if (!test) return esmg_GetProtocolFromQ(type);
  std::vector<Esmg_Protocol *> held;
  Esmg_Protocol *found = nullptr;
  while (Esmg_Protocol *record = esmg_GetProtocolFromQ(ESMG_PROTOCOL_ANY)) {
    if (!found && WantedType(type, record) && test(record, userData))
      found = record;
    else
      held.push_back(record);
  }
  for (Esmg_Protocol *record : held)
    if (!esmg_PutProtocolInQ(record)) esmg_FreeProtocol(record);
  return found;
}

void ExitDisconnect() {
  if (C().disconnected) return;
  esmg_SessionDisconnect(nullptr);
  C().disconnected = true;
}

// The lower layer's question hook: a message box captioned with the application title.
int32_t QueryBox(const char *message, int32_t style) {
  return esmg_MessageBox(message, esmg_ApplicationTitleGet(), static_cast<uint32_t>(style));
}

// The temporary directory from the preference "zav"/"tmpdir"; reports are dropped.
void TemporaryDirectoryFromPreference() {
  Eerr_ErrorReport *report = nullptr;
  char *directory = epmg_GetStringPreference("zav", "tmpdir", nullptr, &report);
  if (!report && directory) efio_DirectorySetTemporary(directory);
  emsc_HeapFree(directory);
  eerr_DeleteErrorReportEx(&report);
}

std::string ProgressConfigurationFile() {
  if (const char *file = getenv("NORIX_PROGRESS_CONFIG")) return file;
  const char *home = getenv("TAVIRON_HOME");
  return std::string(home ? home : "") + "/etc/ProgressReportingConfig.xml";
}

} // namespace

namespace taviron::session {

uint32_t MessageId(Message message) {
  if (!C().ids[message]) C().ids[message] = ewin_RegisterWindowMessage(kMessageNames[message]);
  return C().ids[message];
}

void SessionFarewell(int32_t type) {
  Connection &c = C();
  std::lock_guard lock(c.mutex);
  if (!c.started) return;
  c.disconnected = true;
  esmg_Broadcast(ESMG_DEST_NONE, 0, type);
  if (c.managerProcess) ewin_CloseHandle(c.managerProcess);
  c.managerProcess = 0;
  if (c.managerWindow && !c.manager) ewin_DestroyWindow(c.managerWindow);
  c.managerWindow = 0;
  c.handshakeWindow = 0;
  c.started = false;
}

// Tells the session manager that a hierarchical file changed (protocol 36).
void InstallFileChangedSender() {
  ehfa_SetFileChangedCallback([](Ehfa_File *file) {
    esmg_Broadcast(ESMG_DEST_SPREAD, 0, 36, file->fileName, file->changeSerial, file->changeProcess);
  });
}

} // namespace taviron::session

extern "C" {

/* ---- Name and lookup --------------------------------------------------------------------- */

const char *esmg_GetSessionManagerName(void) try {
  Connection &c = C();
  if (c.name.empty()) {
    const char *value = getenv("TAVIRON_SESSION_MANAGER_NAME");
    c.name = value && *value ? value : ESMG_SESSION_MANAGER_DEFAULT_NAME;
  }
  return c.name.c_str();
} TAVIRON_GUARD_QUIET(nullptr)

void esmg_InitSessionManagerName(const char *name, Eerr_ErrorReport **err) try {
  if (err) *err = nullptr;
  Connection &c = C();
  if (!c.name.empty() && (!name || !estr_Eqic(c.name.c_str(), name))) {
    Eerr_ErrorReport *report = eerr_CreateErrorReport(
        "esmg_InitSessionManagerName", 1, EERR_FATAL, nullptr,
        "Session manager name is already initialized to '%s', it cannot be reset to '%s'",
        c.name.c_str(), name ? name : "NULL", 0);
    if (err)
      *err = report;
    else
      eerr_DeleteErrorReportEx(&report);
    return;
  }
  if (!name) return;
  if (c.name.empty()) c.name = name;
  setenv("TAVIRON_SESSION_MANAGER_NAME", name, 1);
} TAVIRON_GUARD_VOID(err)

void esmg_ResolveSessionManagerName(void) try {
  std::string name;
  if (const char *value = getenv("TAVIRON_SESSION_MANAGER_NAME")) {
    name = value;
  } else {
    char title[256] = "";
    Ewin_Window window = ewin_FindWindow(ESMG_SESSION_MANAGER_CLASS, nullptr);
    if (window && ewin_GetWindowText(window, title, sizeof title) > 0)
      name = title;
    else
      name = ESMG_SESSION_MANAGER_DEFAULT_NAME;
  }
  EerrException exception("esmg", "esmg_ResolveSessionManagerName");
  esmg_InitSessionManagerName(name.c_str(), exception.Err());
  if (exception.Report()) exception.Log();
} TAVIRON_GUARD_QUIET_VOID

Ewin_Window esmg_FindSessionManagerWindow(void) try {
  return ewin_FindWindow(ESMG_SESSION_MANAGER_CLASS, esmg_GetSessionManagerName());
} TAVIRON_GUARD_QUIET(0)

int32_t esmg_IsSessionManagerNameDefault(void) try {
  return estr_Eqic(esmg_GetSessionManagerName(), ESMG_SESSION_MANAGER_DEFAULT_NAME) ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

int32_t esmg_IsSessionManagerRunning(void) try {
  esmg_SessionManagerLookup();
  return C().managerWindow != 0 ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

void esmg_SessionManagerLookup(void) try {
  Connection &c = C();
  std::lock_guard lock(c.mutex);
  // A window whose connection was lost is found again.
  if (c.managerWindow && ewin_IsWindow(c.managerWindow)) return;
  c.managerWindow = esmg_FindSessionManagerWindow();
  RegisterMessages();
  if (!c.managerWindow) {
    ShowError("Session Manager is not running.");
    return;
  }
  Ewin_Param processId = 0;
  if (c.managerProcess) ewin_CloseHandle(c.managerProcess);
  c.managerProcess = 0;
  if (ewin_SendMessageTimeout(c.managerWindow, c.ids[kSmProcess], 0, 0, EWIN_SMTO_BLOCK,
                              kWaitTimeoutMs, &processId))
    c.managerProcess = ewin_OpenProcess(static_cast<int32_t>(processId));
  if (!c.managerProcess) {
    ShowError("Could not connect to Session Manager!");
    return;
  }
  // A started session speaks through a new connection only after the connect record.
  if (c.started && !c.manager && c.managerWindow != c.handshakeWindow &&
      !Handshake(c.connectName.c_str(), c.connectKind)) {
    ewin_DestroyWindow(c.managerWindow);
    c.managerWindow = 0;
  }
} TAVIRON_GUARD_QUIET_VOID

/* ---- Connection -------------------------------------------------------------------------- */

void OpenSessionPipes(Eerr_ErrorReport **err, const char *name, int32_t kind) try {
  if (err) *err = nullptr;
  Connection &c = C();
  if (c.manager) return;
  if (esmg_IsBatchRun()) {
    eerr_SetAltErrorFunction(esmg_LogError);
    eplg_SetAltErrorFunction(esmg_LogError);
    return;
  }
  std::lock_guard lock(c.mutex);
  if (c.started) return;
  esmg_SessionManagerLookup();
  if (!c.managerWindow || !Handshake(name ? name : "", kind)) {
    ShowError("Could not connect to Session Manager!");
    return;
  }
  c.started = true;
  c.disconnected = false;
  eerr_SetAltErrorFunction(esmg_LogError);
  eplg_SetAltErrorFunction(esmg_LogError);
} TAVIRON_GUARD_VOID(err)

void esmg_SessionOpen(const char *name, int32_t kind, intptr_t, intptr_t, intptr_t, intptr_t,
                      Eerr_ErrorReport **err) try {
  if (err) *err = nullptr;
  Connection &c = C();
  c.connectionKind = kind;
  if (SessionIOType() == 1) OpenSessionPipes(err, name, kind);
  if (kind == 1) InstallFileChangedSender();
  InstallPreferenceMethods(&c.connectionKind, err);
} TAVIRON_GUARD_VOID(err)

void esmg_SessionConnect(const char *name, int32_t kind, Eerr_ErrorReport **err) try {
  if (err) *err = nullptr;
  esmg_InterruptClear();
  Eerr_ErrorReport *report = nullptr;
  esmg_SessionOpen(name, kind, 0, 0, 0, 0, &report);
  if (report) {
    if (err)
      *err = report;
    else
      eerr_DeleteErrorReportEx(&report);
    return;
  }
  Connection &c = C();
  if (c.started) {
    if (!SetUpMetering(ProgressConfigurationFile().c_str())) {
      InstallDefaultMeterTable(&report);
      eerr_DeleteErrorReportEx(&report);
    }
    if (!c.exitHandlerRegistered) c.exitHandlerRegistered = std::atexit(ExitDisconnect) == 0;
    if (kind == ESMG_CONNECT_JOB) esmg_Broadcast(ESMG_DEST_NONE, 0, 10, name);
    TemporaryDirectoryFromPreference();
  }
  if (!esmg_IsBatchRun()) {
    efio_SetQueryFunction(QueryBox);
    eplg_SetQueryFunction(QueryBox);
  }
  if (c.manager || c.started) return;
  TemporaryDirectoryFromPreference();
  char *level = epmg_GetEnumPreference("zav", "log_message_level", "terse", &report);
  SetTerse(!(level && estr_Eqic(level, "verbose")));
  emsc_HeapFree(level);
  eerr_DeleteErrorReportEx(&report);
  if (getenv("NORIX_PROGRESS_CONFIG")) SetUpMetering(getenv("NORIX_PROGRESS_CONFIG"));
} TAVIRON_GUARD_VOID(err)

void esmg_SessionDisconnect(Eerr_ErrorReport **err) try {
  if (err) *err = nullptr;
  SessionFarewell(35);
} TAVIRON_GUARD_VOID(err)

int32_t esmg_SessionCreate(void) try {
  Connection &c = C();
  c.manager = true;
  if (SessionIOType() == 1) c.sessionId = ewin_GetCurrentProcessId();
  return c.sessionId;
} TAVIRON_GUARD_QUIET(-1)

void esmg_SessionDelete(void) try {} TAVIRON_GUARD_QUIET_VOID

int32_t esmg_SessionIdGet(void) try { return C().manager ? C().sessionId : -1; } TAVIRON_GUARD_QUIET(-1)

void esmg_SetSessionManager(void) try {
  C().manager = true;
  InstallFileChangedSender();
} TAVIRON_GUARD_QUIET_VOID

int32_t esmg_SessionIsStarted(void) try { return C().started ? 1 : 0; } TAVIRON_GUARD_QUIET(0)

int32_t esmg_SetSessionIsStarted(int32_t flag) try {
  C().started = flag != 0;
  return flag;
} TAVIRON_GUARD_QUIET(flag)

int32_t esmg_IsSessionManager(void) try { return C().manager ? 1 : 0; } TAVIRON_GUARD_QUIET(0)

int32_t esmg_FindAppType(void) try {
  if (C().manager) return 0;
  return C().started ? 1 : 4;
} TAVIRON_GUARD_QUIET(0)

Esmg_BroadcastProtocolFunc esmg_SetBroadcastProtocolFunc(Esmg_BroadcastProtocolFunc function) try {
  C().broadcast = function;
  return function;
} TAVIRON_GUARD_QUIET(nullptr)

Esmg_BroadcastProtocolFunc esmg_GetBroadcastProtocolFunc(void) try { return C().broadcast; } TAVIRON_GUARD_QUIET(nullptr)

Esmg_AppProtoFunc esmg_SetAppProtoFunc(Esmg_AppProtoFunc function, void *userData) try {
  C().appProto = function;
  C().appProtoData = userData;
  return function;
} TAVIRON_GUARD_QUIET(nullptr)

int32_t esmg_CallAppProtoFunc(Esmg_Protocol *record) try {
  return C().appProto ? C().appProto(record, C().appProtoData) : 0;
} TAVIRON_GUARD_QUIET(0)

const char *esmg_SessionNameBase(void) try {
  Connection &c = C();
  if (!c.nameBaseRead) {
    std::string saved = efio_DirectorySetTemporary(nullptr);
    std::string base = efio_DirectorySetTemporary(saved.c_str());
    char host[256] = "";
    eskt_GetHostname(host, sizeof host);
    c.nameBase = base + "/TavironSession." + host;
    c.nameBaseRead = true;
  }
  return c.nameBase.c_str();
} TAVIRON_GUARD_QUIET(nullptr)

void *esmg_SetGetAppToSessionPipeFunc(void *function) try {
  return C().appToSessionPipeFunc = function;
} TAVIRON_GUARD_QUIET(nullptr)

void *esmg_SetProcessMessageFunc(void *function) try { return C().processMessageFunc = function; } TAVIRON_GUARD_QUIET(nullptr)

void *esmg_SetWorkProcInfo(void *first, void *second) try {
  C().workProc[0] = first;
  C().workProc[1] = second;
  return first;
} TAVIRON_GUARD_QUIET(nullptr)

void *esmg_SetInputId(void *id) try { return C().inputId = id; } TAVIRON_GUARD_QUIET(nullptr)

int32_t esmg_GetSessionToAppPipe(void) try { return 0; } TAVIRON_GUARD_QUIET(0)

int32_t esmg_GetAppToSessionPipe(void) try { return 0; } TAVIRON_GUARD_QUIET(0)

void esmg_SetConnectionInfo(void *) try {} TAVIRON_GUARD_QUIET_VOID

void esmg_SetReadyWriteProcInfo(void *, void *) try {} TAVIRON_GUARD_QUIET_VOID

/* ---- Transport --------------------------------------------------------------------------- */

void esmg_Broadcast(int32_t kind, intptr_t destination, int32_t type, ...) try {
  Connection &c = C();
  if (!c.started) return;
  va_list ap;
  va_start(ap, type);
  Esmg_Protocol *record = esmg_AssembleProtocolV(type, ap);
  va_end(ap);
  if (!record) return;
  if (c.manager) {
    if (c.broadcast) c.broadcast(record, kind, destination);
  } else if (Esmg_Packet *packet = esmg_BuildProtocolPacket(0, record)) {
    esmg_PostPacket(packet);
  }
  esmg_FreeProtocol(record);
} TAVIRON_GUARD_QUIET_VOID

Esmg_Packet *esmg_PostPacket(Esmg_Packet *packet) try {
  Connection &c = C();
  if (!packet) return nullptr;
  if (c.manager) return packet;
  {
    std::lock_guard lock(c.mutex);
    esmg_SessionManagerLookup();
    Ewin_Handle handle = MappingForManager(packet->buffer, static_cast<size_t>(packet->position));
    if (handle && !ewin_PostMessage(c.managerWindow, c.ids[kSmPacketData],
                                    ewin_GetCurrentProcessId(), handle))
      ewin_CloseHandle(handle);
  }
  esmg_FreePacket(packet);
  return nullptr;
} TAVIRON_GUARD_QUIET(nullptr)

Esmg_Packet *esmg_WriteProtocolToPipe(int32_t, const Esmg_Protocol *record) try {
  Esmg_Packet *packet = esmg_BuildProtocolPacket(0, record);
  return packet ? esmg_PostPacket(packet) : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)

Esmg_Protocol *esmg_BroadcastAndWait(int32_t kind, intptr_t destination, int32_t type, ...) try {
  Connection &c = C();
  if (!c.started) return nullptr;
  va_list ap;
  va_start(ap, type);
  Esmg_Protocol *record = esmg_AssembleProtocolV(type, ap);
  va_end(ap);
  if (!record) return nullptr;
  if (c.manager) {
    if (c.broadcast) c.broadcast(record, kind, destination);
    esmg_FreeProtocol(record);
    return nullptr;
  }
  Esmg_Packet *packet = esmg_BuildProtocolPacket(0, record);
  esmg_FreeProtocol(record);
  if (!packet) return nullptr;
  Ewin_Window window = 0;
  Ewin_Handle handle = 0;
  {
    std::lock_guard lock(c.mutex);
    esmg_SessionManagerLookup();
    handle = MappingForManager(packet->buffer, static_cast<size_t>(packet->position));
    window = c.managerWindow;
  }
  Esmg_Protocol *reply = nullptr;
  if (handle) {
    Ewin_Param answer = 0;
    if (ewin_SendMessageTimeout(window, MessageId(kSmPacketDataWait), ewin_GetCurrentProcessId(),
                                handle, EWIN_SMTO_BLOCK, kWaitTimeoutMs, &answer)) {
      if (answer) {
        Esmg_Packet *replyPacket = esmg_NewPacket();
        if (replyPacket) {
          reply = RecordFromMapping(answer, replyPacket);
          esmg_FreePacket(replyPacket);
        } else {
          ewin_CloseHandle(answer);
        }
        if (reply) reply->reserved = 0;
      }
    } else {
      ewin_CloseHandle(handle); // still ours when the send did not go out
    }
  }
  esmg_FreePacket(packet);
  return reply;
} TAVIRON_GUARD_QUIET(nullptr)

Esmg_Protocol *esmg_WaitForProtocolWithFunc(int32_t, int32_t type, Esmg_ProtocolTest test,
                                            void *userData) try {
  if (Esmg_Protocol *queued = TakeFromQueue(type, test, userData)) return queued;
  Connection &c = C();
  uint32_t id = 0;
  {
    std::lock_guard lock(c.mutex);
    esmg_SessionManagerLookup();
    // Without a session manager nothing can arrive: do not wait for ever.
    if (!c.manager && !c.managerWindow) return nullptr;
    id = c.manager ? c.ids[kSmPacketData] : c.ids[kAppPacketData];
    if (!id) return nullptr;
    if (!c.waitPacket && !(c.waitPacket = esmg_NewPacket())) return nullptr;
  }
  for (;;) {
    Ewin_Msg msg;
    if (ewin_GetMessage(&msg, 0, id, id) < 0) return nullptr;
    if (msg.message != id) { // WM_QUIT: dispatched, and the wait goes on
      if (msg.message != EWIN_WM_TIMER) {
        ewin_TranslateMessage(&msg);
        ewin_DispatchMessage(&msg);
      }
      continue;
    }
    if (!msg.lParam) return nullptr;
    // The session manager takes a packet only from the process it claims to come from.
    if (c.manager && msg.wParam != msg.sourceProcess) {
      ewin_CloseHandle(msg.lParam);
      continue;
    }
    Esmg_Protocol *record = nullptr;
    {
      std::lock_guard lock(c.mutex);
      record = RecordFromMapping(msg.lParam, c.waitPacket);
    }
    if (!record) continue;
    if (WantedType(type, record) && (!test || test(record, userData))) return record;
    if (!esmg_PutProtocolInQ(record)) esmg_FreeProtocol(record);
  }
} TAVIRON_GUARD_QUIET(nullptr)

Esmg_Protocol *esmg_WaitForProtocol(int32_t ignored, int32_t type) try {
  return esmg_WaitForProtocolWithFunc(ignored, type, nullptr, nullptr);
} TAVIRON_GUARD_QUIET(nullptr)

} // extern "C"
