// Process control through the session manager (start, stop, watch, rename), commands to other
// applications, and functions of DLLs called inside the session manager.
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "edll.h"
#include "edlm.h"
#include "emsc.h"
#include "esmg.h"
#include "estr.h"
#include "ewin.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

std::atomic<Esmg_ProcessControlFunc> processControl{nullptr};

// A process request as the process control function takes it: on the stack, the arguments
// borrowed, every other word 0.
struct Request {
  Esmg_Protocol record{};
  explicit Request(int32_t type) { record.type = type; }
};

// Hands a request to the process control function; its result.
int32_t Control(Request &request, Esmg_ProcessControlFunc function, Eerr_ErrorReport **err) {
  return function(&request.record, err);
}

// A process request sent to the session manager, waiting for the reply (null without one).
Esmg_Protocol *AskProcess(int32_t type, int32_t processId) {
  return esmg_BroadcastAndWait(ESMG_DEST_NONE, 0, type, static_cast<int>(processId));
}

bool IsReply(const Esmg_Protocol *reply, int32_t type) { return reply && reply->type == type; }

// ---------------------------------------------------------------------------------------------
// DLL invocations of the session manager

bool SameText(const char *a, const char *b) {
  return (!a && !b) || (a && b && std::strcmp(a, b) == 0);
}

bool SameInvocation(const Esmg_DLLInvocation &a, const Esmg_DLLInvocation &b) {
  return SameText(a.className, b.className) && SameText(a.instanceName, b.instanceName) &&
         SameText(a.functionName, b.functionName);
}

void FreeInvocation(Esmg_DLLInvocation *invocation) {
  if (!invocation) return;
  emsc_HeapFree(invocation->className);
  emsc_HeapFree(invocation->data);
  emsc_HeapFree(invocation->instanceName);
  emsc_HeapFree(invocation->functionName);
  emsc_HeapFree(invocation);
}

// The session manager's invocations, held by value; made on the first invocation.
Edlm_List *invocations = nullptr;

// A warning (severity 1) of the reporter above the callee's chain, into the slot.
__attribute__((format(printf, 5, 6))) void Warn(Eerr_ErrorReport **err,
                                                  lower::CalleeReport &beneath,
                                                  const char *reporter, int32_t code,
                                                  const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  Eerr_ErrorReport *report =
      eerr_CreateErrorReportV(reporter, code, EERR_WARNING, beneath.Release(), format, ap);
  va_end(ap);
  if (err)
    *err = lower::JoinChains(report, *err);
  else
    eerr_DeleteErrorReportEx(&report);
}

} // namespace

extern "C" {

Esmg_ProcessControlFunc esmg_SetProcessControlFunc(Esmg_ProcessControlFunc function) try {
  processControl = function;
  return function;
} TAVIRON_GUARD_QUIET(function)

int32_t esmg_ProcessStart(int32_t kind, int32_t argc, char *const *argv,
                          Eerr_ErrorReport **err) try {
  static const char *reporter = "esmg_ProcessStart";
  lower::Clear(err);
  if ((kind != ESMG_PROCESS_APPLICATION && kind != ESMG_PROCESS_NAMED) || argc < 1 || !argv ||
      !argv[0]) {
    lower::Report(err, reporter, 1, "Invalid process type or name!");
    return 0;
  }
  if (Esmg_ProcessControlFunc function = processControl) {
    Request request(37);
    request.record.w[2].i = argc;
    request.record.w[3].sa = const_cast<char **>(argv);
    request.record.w[4].i = kind;
    return Control(request, function, err);
  }
  Esmg_Protocol *reply = esmg_BroadcastAndWait(ESMG_DEST_NONE, 0, 37, static_cast<int>(kind),
                                               static_cast<int>(argc), argv);
  int32_t processId = 0;
  if (!IsReply(reply, 37))
    lower::Report(err, reporter, 1, "Improper response from session manager, Error starting process (%s)!",
                  argv[0]);
  else if (reply->w[6].i)
    lower::Report(err, reporter, 1, "Error starting process (%s)!", argv[0]);
  else
    processId = reply->w[5].i;
  esmg_FreeProtocol(reply);
  return processId;
} TAVIRON_GUARD(err, 0)

void esmg_ProcessStop(int32_t processId, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (Esmg_ProcessControlFunc function = processControl) {
    Request request(38);
    request.record.w[5].i = processId;
    Control(request, function, err);
    return;
  }
  Esmg_Protocol *reply = AskProcess(38, processId);
  if (IsReply(reply, 38) && reply->w[6].i)
    lower::Report(err, "esmg_ProcessStop", 2, "Unable to stop process (%ld)!",
                  static_cast<long>(processId));
  esmg_FreeProtocol(reply);
} TAVIRON_GUARD_VOID(err)

int32_t esmg_IsProcessRunning(int32_t processId, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (Esmg_ProcessControlFunc function = processControl) {
    Request request(39);
    request.record.w[5].i = processId;
    return Control(request, function, err) != 0 ? 1 : 0;
  }
  Esmg_Protocol *reply = AskProcess(39, processId);
  int32_t running = 0;
  if (!IsReply(reply, 39))
    lower::Report(err, "esmg_IsProcessRunning", 1,
                  "Failed when waiting for response from process query");
  else
    running = reply->w[6].i == 0 ? 1 : 0;
  esmg_FreeProtocol(reply);
  return running;
} TAVIRON_GUARD(err, 0)

int32_t esmg_IsProcessReady(int32_t processId, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (Esmg_ProcessControlFunc function = processControl) {
    Request request(40);
    request.record.w[5].i = processId;
    return Control(request, function, err) != 0 ? 1 : 0;
  }
  Esmg_Protocol *reply = AskProcess(40, processId);
  const int32_t ready = IsReply(reply, 40) && reply->w[6].i == 0 ? 1 : 0;
  esmg_FreeProtocol(reply);
  return ready;
} TAVIRON_GUARD(err, 0)

void esmg_ProcessAddTermCallback(int32_t processId, Esmg_ProcessTermCallback callback,
                                 void *userData, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (Esmg_ProcessControlFunc function = processControl) {
    Request request(41);
    request.record.w[5].i = processId;
    request.record.w[7].p = reinterpret_cast<void *>(callback);
    request.record.w[8].p = userData;
    Control(request, function, err);
    return;
  }
  esmg_Broadcast(ESMG_DEST_NONE, 0, 41, static_cast<int>(processId),
                 reinterpret_cast<void *>(callback), userData);
} TAVIRON_GUARD_VOID(err)

void esmg_ProcessRemoveTermCallback(int32_t processId, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (Esmg_ProcessControlFunc function = processControl) {
    Request request(42);
    request.record.w[5].i = processId;
    Control(request, function, err);
    return;
  }
  esmg_Broadcast(ESMG_DEST_NONE, 0, 42, static_cast<int>(processId));
} TAVIRON_GUARD_VOID(err)

int32_t esmg_IsPreviousProcessReadyBySameName(const char *name, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (processControl) return 0;
  Esmg_Protocol *reply = esmg_BroadcastAndWait(ESMG_DEST_NONE, 0, 46, name, 0);
  const int32_t other = IsReply(reply, 46) ? reply->w[3].i : 0;
  esmg_FreeProtocol(reply);
  return other != 0 && other != ewin_GetCurrentProcessId() ? 1 : 0;
} TAVIRON_GUARD(err, 0)

void esmg_ProcessChangeName(const char *name, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (processControl) return;
  esmg_FreeProtocol(esmg_BroadcastAndWait(ESMG_DEST_NONE, 0, 47, name, 0));
} TAVIRON_GUARD_VOID(err)

int32_t esmg_GetAppHandle(const char *name, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (Esmg_ProcessControlFunc function = processControl) {
    char *arguments[] = {const_cast<char *>(name), nullptr};
    Request request(37);
    request.record.w[2].i = 1;
    request.record.w[3].sa = arguments;
    request.record.w[4].i = ESMG_PROCESS_NAMED;
    return Control(request, function, err);
  }
  Esmg_Protocol *reply = esmg_BroadcastAndWait(ESMG_DEST_NONE, 0, 15, name, 0);
  const int32_t handle = IsReply(reply, 15) ? reply->w[3].i : 0;
  esmg_FreeProtocol(reply);
  return handle;
} TAVIRON_GUARD(err, 0)

void esmg_SendCommand(int32_t count, char *const *words, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (count <= 0 || !words || !words[0]) {
    lower::Report(err, "esmg_SendCommand", 1, "Invalid arguments!");
    return;
  }
  if (esmg_IsSessionManager())
    esmg_Broadcast(ESMG_DEST_NAMED, reinterpret_cast<intptr_t>(words[0]), 4,
                   static_cast<int>(count), words);
  else
    esmg_Broadcast(ESMG_DEST_NONE, 0, 4, static_cast<int>(count), words);
} TAVIRON_GUARD_VOID(err)

Esmg_DLLInvocation *esmg_DLLInvocationCreate(const char *className, const char *data,
                                             const char *instanceName,
                                             const char *functionName) try {
  auto *invocation =
      static_cast<Esmg_DLLInvocation *>(emsc_HeapMalloc(sizeof(Esmg_DLLInvocation)));
  if (!invocation) return nullptr;
  auto copy = [](const char *text, char *&to) { return !text || (to = estr_Duplicate(text)); };
  if (!copy(className, invocation->className) || !copy(data, invocation->data) ||
      !copy(instanceName, invocation->instanceName) ||
      !copy(functionName, invocation->functionName)) {
    FreeInvocation(invocation);
    return nullptr;
  }
  return invocation;
} TAVIRON_GUARD_QUIET(nullptr)

int32_t esmg_DoDLLFunctionInvoke(const char *className, const char *data,
                                 const char *instanceName, const char *functionName,
                                 int32_t repeat, Eerr_ErrorReport **err) try {
  static const char *reporter = "esmg_DoDLLFunctionInvoke";
  lower::Clear(err);
  lower::CalleeReport inner;
  if (!invocations && !(invocations = edlm_InitList(sizeof(Esmg_DLLInvocation), 8, &inner))) {
    lower::ReportCallee(err, inner, reporter, 1, "edlm_InitList");
    return -1;
  }
  Esmg_DLLInvocation *fresh = esmg_DLLInvocationCreate(className, data, instanceName, functionName);
  if (!fresh) throw std::bad_alloc();
  Esmg_DLLInvocation *invocation = fresh;
  const int32_t count = edlm_CountList(invocations, nullptr);
  for (int32_t i = 0; i < count; ++i) {
    auto *item = static_cast<Esmg_DLLInvocation *>(edlm_GetAddr(invocations, i, nullptr));
    if (!item || !SameInvocation(*item, *fresh)) continue;
    invocation = item;
    FreeInvocation(fresh);
    fresh = nullptr;
    if (!repeat) return 0; // it ran before: not again
    break;
  }
  auto text = [](const char *value) { return value ? value : "NULL"; };
  char *path = edll_InstanceFind(className, instanceName, &inner);
  Edll_Handle handle = path ? edll_Open(path, &inner) : nullptr;
  auto function = handle ? reinterpret_cast<Esmg_DLLFunction>(edll_Find(handle, functionName, &inner))
                         : nullptr;
  if (!path)
    Warn(err, inner, reporter, 311, "Could not locate instance %s of class %s", text(instanceName),
         text(className));
  else if (!handle)
    Warn(err, inner, reporter, 334, "Could not open %s", path);
  else if (!function)
    Warn(err, inner, reporter, 350, "Could not find %s in %s", text(functionName), path);
  emsc_HeapFree(path);
  if (!function) {
    FreeInvocation(fresh);
    return -1;
  }
  function(invocation->data, invocation->count);
  ++invocation->count;
  if (fresh) {
    // The list holds the record's words from now on; the block that held them goes.
    const bool added = edlm_Add(invocations, fresh, &inner) >= 0;
    if (added)
      emsc_HeapFree(fresh);
    else
      FreeInvocation(fresh);
    if (!added) {
      lower::ReportCallee(err, inner, reporter, 2, "edlm_Add");
      return -1;
    }
  }
  return 0;
} TAVIRON_GUARD(err, -1)

void esmg_DLLFunctionInvoke(const char *className, const char *data, const char *instanceName,
                            const char *functionName, int32_t repeat,
                            Eerr_ErrorReport **err) try {
  static const char *reporter = "esmg_DLLFunctionInvoke";
  lower::Clear(err);
  auto text = [](const char *value) { return value ? value : "NULL"; };
  lower::CalleeReport inner;
  if (esmg_IsSessionManager()) {
    // The caller learns of the failure, with what made it fail beneath.
    if (esmg_DoDLLFunctionInvoke(className, data, instanceName, functionName, repeat, &inner) != 0)
      Warn(err, inner, reporter, 450, "Could not invoke %s:%s->%s", text(className),
           text(instanceName), text(functionName));
    return;
  }
  if (esmg_SessionIsStarted()) {
    Esmg_Protocol *reply = esmg_BroadcastAndWait(ESMG_DEST_NONE, 0, 44, className, data,
                                                 instanceName, functionName, repeat ? 1 : 0);
    if (!reply)
      Warn(err, inner, reporter, 513, "Error invoking %s:%s->%s with %s", text(className),
           text(instanceName), text(functionName), text(data));
    esmg_FreeProtocol(reply);
    return;
  }
  Warn(err, inner, reporter, 474, "The Session Manager is not running!  Can not invoke %s:%s->%s",
       text(className), text(instanceName), text(functionName));
} TAVIRON_GUARD_VOID(err)

} // extern "C"
