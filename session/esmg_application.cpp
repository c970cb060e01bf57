// The frame of an application: the version check, the hidden main window, the process exit
// handlers and their clean-up, and the application end that lets the session manager know and
// frees the packages' data.
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "eant.h"
#include "edll.h"
#include "eint.h"
#include "emap.h"
#include "emsc.h"
#include "esmg.h"
#include "esmg_session_internal.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

using namespace taviron::session;

// Process-wide and unlocked: the frame belongs to the main thread.
struct Frame {
  Esmg_ExitHandler *handlers = nullptr; // newest first
  bool running = false;                 // the walk goes on; cleared by esmg_ProcessExitInterrupt
  bool walking = false;                 // a clean-up is inside its walk (re-entry returns 0)
  bool finalDone = false;
  int32_t blockCount = 0;
  void **blocks = nullptr;
  Ewin_Window mainWindow = 0;
  void *mainInstance = nullptr;
  int32_t windowsMade = 0;
};

Frame &F() {
  static Frame *frame = new Frame;
  return *frame;
}

void Box(const std::string &text, uint32_t style) {
  esmg_MessageBox(text.c_str(), esmg_ApplicationTitleGet(), style);
}

bool InList(const Esmg_ExitHandler *handler) {
  for (const Esmg_ExitHandler *node = F().handlers; node; node = node->next)
    if (node == handler) return true;
  return false;
}

void Unlink(Esmg_ExitHandler *handler) {
  if (handler->previous)
    handler->previous->next = handler->next;
  else
    F().handlers = handler->next;
  if (handler->next) handler->next->previous = handler->previous;
  emsc_HeapFree(handler);
}

// The walk of the handlers: kind 2 first, then kinds 0 and 1, newest first, each pass stopping
// once the running flag is cleared. The walk itself never unlinks, so a handler may register
// or remove handlers (removal only retires) while it runs.
void RunHandlers(int32_t exitCode) {
  Frame &f = F();
  f.running = true;
  for (Esmg_ExitHandler *node = f.handlers; node && f.running; node = node->next)
    if (node->active && node->kind == ESMG_EXIT_FIRST) node->function(exitCode, node->userData);
  for (Esmg_ExitHandler *node = f.handlers; node && f.running; node = node->next) {
    if (!node->active || node->kind == ESMG_EXIT_FIRST) continue;
    if (node->kind == ESMG_EXIT_ONCE) node->active = 0;
    node->function(exitCode, node->userData);
  }
  f.running = false;
  for (Esmg_ExitHandler *node = f.handlers; node;) {
    Esmg_ExitHandler *next = node->next;
    if (!node->active) Unlink(node);
    node = next;
  }
}

void FinalCleanup() {
  Frame &f = F();
  esmg_ApplicationEnd();
  if (f.blocks) {
    for (int32_t i = 0; i < f.blockCount; ++i) emsc_HeapFree(f.blocks[i]);
    emsc_HeapFree(f.blocks);
  }
  f.blocks = nullptr;
  f.blockCount = 0;
  edll_InstanceCloseAll();
  if (f.mainWindow) ewin_DestroyWindow(f.mainWindow);
  f.mainWindow = 0;
}

} // namespace

namespace taviron::session {

Ewin_Window AppMainWindow() { return F().mainWindow; }

void EndProcess(int32_t exitCode) { esmg_ProcessExit(exitCode); }

} // namespace taviron::session

extern "C" {

int32_t esmg_OSVersionCheck(void) try {
  utsname name;
  if (uname(&name) != 0) {
    Box(lower::Format("Could not obtain version information.\nError no %d", errno),
        ESMG_MB_ICONINFORMATION);
    return 1;
  }
  // Every system this library builds on is new enough.
  return 1;
} TAVIRON_GUARD_QUIET(1)

int32_t esmg_ApplicationInit(void *instance) try {
  esmg_OSVersionCheck();
  // The component and common-control libraries need no start here.
  esmg_MainInstanceSet(instance);
  const int32_t made = esmg_MainWindowCreate(instance);
  if (!made) Box("Could not create main window.\nClick OK to exit.", ESMG_MB_OK);
  return made;
} TAVIRON_GUARD_QUIET(0)

int32_t esmg_MainWindowCreate(void *) try {
  Frame &f = F();
  ewin_RegisterWindowMessage("EEML_TERM_SIGNAL");
  // Windows are named endpoints, one per class and title: the title tells this process's
  // windows from those of others.
  std::string title = std::to_string(ewin_GetCurrentProcessId());
  if (f.windowsMade > 0) title += "-" + std::to_string(f.windowsMade + 1);
  const Ewin_Window window = ewin_CreateWindow(ESMG_MAIN_WINDOW_CLASS, title.c_str(), nullptr);
  if (window) {
    ++f.windowsMade;
    esmg_SetAppMainWindowHandle(window);
  }
  if (!ewin_FindWindow(ESMG_SESSION_MANAGER_CLASS, nullptr) || !getenv("TAVIRON_HOME") ||
      !getenv("PERSONAL"))
    estr_NorixEnvSet();
  return window ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

Ewin_Window esmg_SetAppMainWindowHandle(Ewin_Window window) try {
  if (window) F().mainWindow = window;
  return window;
} TAVIRON_GUARD_QUIET(window)

Ewin_Window esmg_GetAppMainWindowHandle(void) try { return F().mainWindow; } TAVIRON_GUARD_QUIET(0)

void *esmg_MainInstanceSet(void *instance) try {
  F().mainInstance = instance;
  return instance;
} TAVIRON_GUARD_QUIET(instance)

void *esmg_MainInstanceGet(void) try { return F().mainInstance; } TAVIRON_GUARD_QUIET(nullptr)

void esmg_ApplicationEnd(void) try {
  if (!esmg_IsSessionManager() && !esmg_IsBatchRun())
    if (Ewin_Window manager = esmg_FindSessionManagerWindow())
      ewin_PostMessage(manager, MessageId(kReqQuit), F().mainWindow, 0);
  if (Eint_InitToolkitData *toolkit = eint_GetInit()) {
    if (toolkit->annotationData)
      eant_InitDataFree(reinterpret_cast<Eant_InitData **>(&toolkit->annotationData));
    if (toolkit->plotFileHeader) {
      Eerr_ErrorReport *fresh = nullptr;
      emap_ToolkitClose(toolkit, &fresh);
      eerr_DeleteErrorReportEx(&fresh);
    }
  }
  eint_DeInit();
} TAVIRON_GUARD_QUIET_VOID

int32_t esmg_ProcessInit(int32_t count, void **blocks) try {
  F().blockCount = count;
  F().blocks = blocks;
  return count;
} TAVIRON_GUARD_QUIET(count)

Esmg_ExitHandler *esmg_ProcessExitHandlerRegister(Esmg_ExitFunction function, int32_t kind,
                                                  void *userData) try {
  if (!function) return nullptr;
  auto *node = static_cast<Esmg_ExitHandler *>(emsc_HeapMalloc(sizeof(Esmg_ExitHandler)));
  if (!node) return nullptr;
  Frame &f = F();
  node->active = 1;
  node->function = function;
  node->kind = kind;
  node->userData = userData;
  node->next = f.handlers;
  if (f.handlers) f.handlers->previous = node;
  f.handlers = node;
  return node;
} TAVIRON_GUARD_QUIET(nullptr)

int32_t esmg_ProcessExitHandlerRemove(Esmg_ExitHandler *handler) try {
  if (!handler || !InList(handler)) return 0;
  if (F().walking)
    handler->active = 0;
  else
    Unlink(handler);
  return 0;
} TAVIRON_GUARD_QUIET(0)

void esmg_ProcessExitInterrupt(void) try { F().running = false; } TAVIRON_GUARD_QUIET_VOID

int32_t esmg_ProcessCleanupCode(int32_t exitCode) try {
  Frame &f = F();
  if (f.walking) return 0;
  f.walking = true;
  RunHandlers(exitCode);
  f.walking = false;
  if (!f.finalDone) {
    f.finalDone = true;
    FinalCleanup();
  }
  return 1;
} TAVIRON_GUARD_QUIET(0)

void esmg_ProcessExit(int32_t exitCode) {
  try {
    esmg_ProcessCleanupCode(exitCode);
  } catch (...) {
  }
  std::exit(exitCode);
}

void esmg_ProcessCleanup(void) try { esmg_ProcessCleanupCode(-111); } TAVIRON_GUARD_QUIET_VOID

} // extern "C"
