// Log messages: where a line goes, the batch log file, the application title, error chains as
// log lines, the session log callback, message boxes and the user interrupt.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <unistd.h>

#include "eerr.h"
#include "efio.h"
#include "emsc.h"
#include "esmg.h"
#include "esmg_session_internal.h"
#include "estr.h"
#include "NorixLog.h"
#include "ewin.h"
#include "guard.h"

namespace {

constexpr std::size_t kLogBufferSize = 1025; // 1024 characters and the terminator
constexpr const char *kDefaultTitle = "NORIX TAVIRON";

// Process-wide; lives as long as the process.
struct LogState {
  Esmg_LogFunction logFunction = nullptr;
  bool terse = false;
  char *logFile = nullptr;
  char *pending = nullptr; // kLogBufferSize bytes
  std::size_t pendingLength = 0;
  char *title = nullptr;
  Esmg_SessionLogCallbackRecord *sessionLog = nullptr;
};

LogState &L() {
  static LogState *state = new LogState;
  return *state;
}

// Interrupt state; threads that log may ask at once.
struct InterruptState {
  std::atomic<int32_t> flag = 0;
  std::atomic<uint32_t> lastPoll = 0;
};

InterruptState &I() {
  static InterruptState *state = new InterruptState;
  return *state;
}

const char *SeverityName(int32_t severity) {
  if (severity == EERR_WARNING) return "WARNING";
  if (severity == EERR_FATAL) return "ERROR";
  return "UNKNOWN";
}

// The answer of a box that nobody can click: its default button.
int32_t DefaultAnswer(uint32_t style) {
  static const int32_t buttons[6][3] = {
      {ESMG_IDOK, ESMG_IDOK, ESMG_IDOK},
      {ESMG_IDOK, ESMG_IDCANCEL, ESMG_IDCANCEL},
      {ESMG_IDABORT, ESMG_IDRETRY, ESMG_IDIGNORE},
      {ESMG_IDYES, ESMG_IDNO, ESMG_IDCANCEL},
      {ESMG_IDYES, ESMG_IDNO, ESMG_IDNO},
      {ESMG_IDRETRY, ESMG_IDCANCEL, ESMG_IDCANCEL},
  };
  uint32_t set = style & 0xF;
  if (set > 5) set = 0;
  uint32_t which = (style >> 8) & 0xF; // 0, 1 (DEFBUTTON2), 2 (DEFBUTTON3)
  if (which > 2) which = 0;
  return buttons[set][which];
}

} // namespace

namespace taviron::session {

void SetTerse(bool terse) { L().terse = terse; }

void LogCaughtException(const char *source, const char *function, int32_t code) noexcept {
  try {
    std::string text;
    try {
      throw;
    } catch (const NorixLog::Exception &caught) {
      text = caught.GetMessage().Text();
    } catch (const EerrException &caught) {
      EerrException logged(caught);
      logged.Log();
      return;
    } catch (const std::exception &caught) {
      text = caught.what();
    } catch (...) {
      text = "Unknown exception";
    }
    EerrException logged(source, function);
    logged.Assign(eerr_CreateErrorReport(function, code, EERR_FATAL, nullptr, "%s", text.c_str()));
    logged.Log();
  } catch (...) {
  }
}

} // namespace taviron::session

extern "C" {

int32_t esmg_MessageBox(const char *text, const char *caption, uint32_t style) try {
  efio_Fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
  return DefaultAnswer(style);
} TAVIRON_GUARD_QUIET(0)

int32_t esmg_IsBatchRun(void) try { return getenv("TAVIRON_BATCH_RUN") != nullptr ? 1 : 0; } TAVIRON_GUARD_QUIET(0)

int32_t esmg_LogMessageFunc(int32_t level, Eerr_ErrorReport **err, const char *format,
                            va_list ap) try {
  if (err && *err) return 0;
  if (!format) return 0;
  // Freed on every way out, an exception from the log function included.
  const std::unique_ptr<char, void (*)(void *)> line(estr_Vsprintf(format, ap), emsc_HeapFree);
  char *text = line.get();
  if (!text) return 0;
  LogState &state = L();
  if (state.logFunction) {
    state.logFunction(level, text, err);
    if (err && *err) eerr_DeleteErrorReportEx(err);
  } else if (esmg_SessionIsStarted()) {
    esmg_Broadcast(ESMG_DEST_NONE, 0, 6, level, text);
  } else if (level == 0 && state.terse) {
    // a verbose line in a terse process
  } else if (esmg_IsBatchRun()) {
    esmg_LogFileWrite(text);
    esmg_LogFileWrite("\r\n");
  } else {
    esmg_MessageBox(text, esmg_ApplicationTitleGet(),
                    ESMG_MB_ICONINFORMATION | ESMG_MB_TASKMODAL);
  }
  return 1;
} TAVIRON_GUARD(err, 0)

int32_t esmg_LogMessage(int32_t level, Eerr_ErrorReport **err, const char *format, ...) try {
  va_list ap;
  va_start(ap, format);
  int32_t result = esmg_LogMessageFunc(level, err, format, ap);
  va_end(ap);
  return result;
} TAVIRON_GUARD(err, 0)

Esmg_LogFunction esmg_SetLogFunction(Esmg_LogFunction function) try {
  L().logFunction = function;
  return function;
} TAVIRON_GUARD_QUIET(nullptr)

Esmg_LogFunction esmg_GetLogFunction(void) try { return L().logFunction; } TAVIRON_GUARD_QUIET(nullptr)

void esmg_LogError(void *context, Eerr_ErrorReport *chain, void *ignored,
                   Eerr_ErrorReport **err) try {
  (void)context;
  if (esmg_InterruptQuery()) return;
  if (esmg_SessionIsStarted())
    esmg_Broadcast(ESMG_DEST_NONE, 0, 5, chain);
  else
    esmg_LogErrorContents(chain, ignored, err);
} TAVIRON_GUARD_VOID(err)

void esmg_LogErrorContents(Eerr_ErrorReport *chain, void *, Eerr_ErrorReport **err) try {
  for (const Eerr_ErrorReport *report = chain; report; report = report->next) {
    if (err && *err) return;
    if (report->severity == EERR_MESSAGE || report->severity == EERR_VERBOSE) {
      if (report->message)
        esmg_LogMessage(report->severity == EERR_MESSAGE ? 1 : 0, err, "%s", report->message);
      continue;
    }
    const char *name = SeverityName(report->severity);
    esmg_LogMessage(1, err, "%s: #%ld from %s", name, static_cast<long>(report->code),
                    report->reporter ? report->reporter : "");
    if (report->message)
      esmg_LogMessage(1, err, "%s: %s", name, report->message);
    else if (report->next && report->next->reporter)
      esmg_LogMessage(1, err, "%s:  %s failed", name, report->next->reporter);
  }
} TAVIRON_GUARD_VOID(err)

void esmg_LogFileSet(const char *name) try {
  LogState &state = L();
  if (state.logFile || !name) return;
  char *copy = estr_Duplicate(name);
  char *buffer = static_cast<char *>(emsc_HeapMalloc(kLogBufferSize));
  if (!copy || !buffer) {
    emsc_HeapFree(copy);
    emsc_HeapFree(buffer);
    return;
  }
  state.logFile = copy;
  state.pending = buffer;
  state.pendingLength = 0;
} TAVIRON_GUARD_QUIET_VOID

const char *esmg_LogFileGet(void) try { return L().logFile; } TAVIRON_GUARD_QUIET(nullptr)

void esmg_LogFileWrite(const char *text) try {
  LogState &state = L();
  if (!state.logFile || !text || !*text) return;
  std::size_t length = std::strlen(text);
  if (state.pendingLength + length < kLogBufferSize - 1 && text[length - 1] != '\n') {
    std::memcpy(state.pending + state.pendingLength, text, length + 1);
    state.pendingLength += length;
    return;
  }
  FILE *file = std::fopen(state.logFile, "a+");
  if (!file) return; // the gathered text waits for the next try; this piece is lost
  std::fseek(file, 0, SEEK_END);
  if (state.pendingLength) std::fwrite(state.pending, 1, state.pendingLength, file);
  state.pendingLength = 0;
  state.pending[0] = '\0';
  std::fwrite(text, 1, length, file);
  std::fclose(file);
} TAVIRON_GUARD_QUIET_VOID

char *esmg_GetLogFileFromSessionManager(void) try {
  Esmg_Protocol *reply = esmg_BroadcastAndWait(ESMG_DEST_NONE, 0, 56);
  if (!reply) return nullptr;
  char *name = reply->type == 56 && reply->w[2].s ? estr_Duplicate(reply->w[2].s) : nullptr;
  esmg_FreeProtocol(reply);
  return name;
} TAVIRON_GUARD_QUIET(nullptr)

const char *esmg_ApplicationTitleSet(const char *title) try {
  LogState &state = L();
  emsc_HeapFree(state.title);
  state.title = title ? estr_Duplicate(title) : nullptr;
  return state.title;
} TAVIRON_GUARD_QUIET(nullptr)

const char *esmg_ApplicationTitleGet(void) try { return L().title ? L().title : kDefaultTitle; } TAVIRON_GUARD_QUIET(nullptr)

void esmg_AddSessionLogCallback(Esmg_SessionLogCallback callback, void *userData,
                                int32_t processId, int32_t ownProcess) try {
  if (!esmg_IsSessionManager()) {
    esmg_Broadcast(ESMG_DEST_NONE, 0, 53, reinterpret_cast<void *>(callback), userData);
    return;
  }
  auto *record = static_cast<Esmg_SessionLogCallbackRecord *>(
      emsc_HeapMalloc(sizeof(Esmg_SessionLogCallbackRecord)));
  if (!record) return;
  record->callback = callback;
  record->userData = userData;
  record->processId = ownProcess == 1 ? ewin_GetCurrentProcessId() : processId;
  emsc_HeapFree(L().sessionLog);
  L().sessionLog = record;
} TAVIRON_GUARD_QUIET_VOID

void esmg_ClearSessionLogCallback(void) try {
  if (!esmg_IsSessionManager()) {
    esmg_Broadcast(ESMG_DEST_NONE, 0, 55);
    return;
  }
  emsc_HeapFreeEx(reinterpret_cast<void **>(&L().sessionLog));
} TAVIRON_GUARD_QUIET_VOID

void esmg_InvokeSessionLogCallback(const Esmg_SessionLogCallbackRecord *record) try {
  if (!record) record = L().sessionLog;
  if (!record) return;
  if (record->processId == ewin_GetCurrentProcessId()) {
    if (record->callback) record->callback(record->userData);
    return;
  }
  Esmg_Protocol *request =
      esmg_AssembleProtocol(54, reinterpret_cast<void *>(record->callback), record->userData);
  if (!request) return;
  if (Esmg_BroadcastProtocolFunc broadcast = esmg_GetBroadcastProtocolFunc())
    broadcast(request, ESMG_DEST_PROCESS, record->processId);
  esmg_FreeProtocol(request);
} TAVIRON_GUARD_QUIET_VOID

int32_t esmg_DebugOutputLog(int32_t, Eerr_ErrorReport **err, const char *format, va_list ap) try {
  if ((err && *err) || !format) return 0;
  char *text = estr_Vsprintf(format, ap);
  if (!text) return 0;
  std::string wrapped = std::string("\nJob: ") + text;
  ewin_OutputDebugString(wrapped.c_str());
  emsc_HeapFree(text);
  return 1;
} TAVIRON_GUARD(err, 0)

int32_t esmg_InterruptQuery(void) try {
  InterruptState &state = I();
  uint32_t now = ewin_GetTickCount();
  if (now - state.lastPoll <= 1500) return state.flag;
  uint32_t cancel = taviron::session::MessageId(taviron::session::kAppCancel);
  Ewin_Msg msg;
  if (cancel && ewin_PeekMessage(&msg, taviron::session::AppMainWindow(), cancel, cancel,
                                 EWIN_PM_REMOVE)) {
    if (msg.message == EWIN_WM_QUIT)
      ewin_PostQuitMessage(static_cast<int32_t>(msg.wParam)); // not ours: put it back
    else
      state.flag = 1;
  }
  state.lastPoll = now;
  return state.flag;
} TAVIRON_GUARD_QUIET(0)

void esmg_InterruptSet(void) try { I().flag = 1; } TAVIRON_GUARD_QUIET_VOID

void esmg_InterruptClear(void) try { I().flag = 0; } TAVIRON_GUARD_QUIET_VOID

} // extern "C"
