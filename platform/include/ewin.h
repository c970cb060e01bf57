/* Windows, registered window messages, the message queue, process handles and anonymous file
   mappings, as the session services use them, on Linux.

   A window is a named local endpoint: a Unix-domain SOCK_SEQPACKET socket (mode 0600) in the
   runtime directory (TAVIRON_RUNTIME_DIR, else $XDG_RUNTIME_DIR/taviron, else a per-user folder
   "taviron-<uid>" in the temporary directory; whichever it is, it must be a directory of this
   user, no symbolic link, that nobody else may enter), named "<class>.<title>" with every
   character other than letters, digits, "_" and "-" written as "%XX". A window found in another
   process is reached through one connection per window, opened when it is found and kept; the
   other process sees that connection as the source of the messages (ewin_GetMessageSource) and
   can post or send back through it. Only processes of the same user connect: a connection from
   or to a process of another user is closed unused. Endpoints left behind by a dead process are
   removed when found.

   A message is one frame. Registered messages travel by name, so their ids need not agree between
   processes. A post never waits: what the other process has not taken yet is held for it (up to
   4 MiB per connection; beyond that the post fails) and sent while this process is in any call
   of this interface, and at its exit (for at most 20 s). Sending waits for the reply frame; the
   time-out of ewin_SendMessageTimeout covers the sending too. A mapping handle duplicated into
   another process (ewin_DuplicateHandle) travels with the frame whose lParam it is (or with the
   reply whose result it is), and the receiver sees a handle valid in its own process; its bytes
   are copied then, so what is written into the mapping later stays on this side.

   Each process has one message queue. Messages posted to the process's windows (from this or
   another process) and messages arriving on its connections are queued; messages sent to its
   windows from another process are handed to the window procedure while the process waits in
   ewin_GetMessage, ewin_PeekMessage or a send of its own, and the procedure's result goes back as
   the reply. A send waits only for traffic on its own connection: messages posted through that
   connection meanwhile are queued, messages sent through it are answered at once.

   A peer process that ends closes its connections: sends through them fail, and a wait in
   ewin_GetMessage ends with -1 when a connection that this process opened to another process's
   window is lost, or when nothing is left from which a message could come.

   Every call may be made from any thread; window procedures run on the thread that waits or
   dispatches, one at a time. Handles are numbers of this process's own table (never 0); a number
   that no handle of this process has is refused by every call. */
#ifndef TAVIRON_EWIN_H
#define TAVIRON_EWIN_H

#include <stdint.h>

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

typedef int32_t Ewin_Window;  /* 0: no window */
typedef intptr_t Ewin_Param;  /* message parameter or result */
typedef intptr_t Ewin_Handle; /* file mapping or process; 0: none */

/* System messages; registered messages take ids from 0xC000. */
#define EWIN_WM_QUIT 0x0012u
#define EWIN_WM_TIMER 0x0113u
#define EWIN_WM_USER 0x0400u
#define EWIN_WM_REGISTERED_FIRST 0xC000u
#define EWIN_WM_REGISTERED_LAST 0xFFFFu

#define EWIN_PM_NOREMOVE 0u
#define EWIN_PM_REMOVE 1u
#define EWIN_SMTO_BLOCK 0x0001u

typedef struct Ewin_Msg {
  Ewin_Window window; /* the window of this process it was posted to, 0 for the process */
  uint32_t message;
  Ewin_Param wParam;
  Ewin_Param lParam;
  Ewin_Window source; /* the connection it came through (0 when posted in this process) */
  int32_t sourceProcess; /* the process at the other end of that connection as the system saw
                            it connect (this process's id when posted in this process) */
} Ewin_Msg;

typedef Ewin_Param (*Ewin_WindowProc)(Ewin_Window window, uint32_t message, Ewin_Param wParam,
                                      Ewin_Param lParam);

/* The runtime directory (created with mode 0700 when missing), or null when it cannot be made or
   a per-user folder in the temporary directory belongs to someone else. Read on every call. */
const char *ewin_RuntimeDirectory(void);

/* The id of a registered message (the same name gives the same id within the process); 0 for a
   null, empty or over-long (above 255 characters) name, or when the ids are used up. */
uint32_t ewin_RegisterWindowMessage(const char *name);

/* Creates a window with its endpoint; the procedure (null allowed: every message gives 0)
   receives the messages dispatched or sent to it. 0 when the name is too long for an endpoint,
   the runtime directory is missing, or a live window of the same class and title exists. */
Ewin_Window ewin_CreateWindow(const char *className, const char *title, Ewin_WindowProc proc);
/* Closes a window of this process (its endpoint disappears) or this process's connection to a
   window of another process. Non-zero on success. */
int32_t ewin_DestroyWindow(Ewin_Window window);
/* The window of that class and title (any title for a null title), in this process or another;
   0 when there is none. */
Ewin_Window ewin_FindWindow(const char *className, const char *title);
/* Copies the window's title (at most size - 1 characters, terminated); the length copied, or 0.
   The source of a message has no title. */
int32_t ewin_GetWindowText(Ewin_Window window, char *buffer, int32_t size);
/* Non-zero while the window exists (for a window of another process: while its connection
   lives). */
int32_t ewin_IsWindow(Ewin_Window window);

/* Posts a message (window 0: to this process's queue) without waiting; non-zero on success, 0
   when the window is gone, the connection holds too much unsent, or lParam is a handle of this
   process not duplicated for the window's process. */
int32_t ewin_PostMessage(Ewin_Window window, uint32_t message, Ewin_Param wParam,
                         Ewin_Param lParam);
/* Sends and waits without end for the result; 0 when the send fails. */
Ewin_Param ewin_SendMessage(Ewin_Window window, uint32_t message, Ewin_Param wParam,
                            Ewin_Param lParam);
/* Sends and waits at most timeoutMs (0: no limit); non-zero with *result set on success, 0 on
   time-out, failed send or a lost connection. A reply that arrives after the time-out is dropped
   (a handle it carries is closed). */
int32_t ewin_SendMessageTimeout(Ewin_Window window, uint32_t message, Ewin_Param wParam,
                                Ewin_Param lParam, uint32_t flags, uint32_t timeoutMs,
                                Ewin_Param *result);
/* The source of the message being handled by a window procedure on this thread, 0 outside one:
   the connection to post or send back to the sender. */
Ewin_Window ewin_GetMessageSource(void);
/* The process behind a window: this process for its own windows, the process at the other end
   for a connection (a found window or the source of a message), as the system saw it connect.
   Stores it in *processId (null allowed) and returns it; 0 when there is no such window. */
int32_t ewin_GetWindowThreadProcessId(Ewin_Window window, int32_t *processId);

/* Waits for a message of the window (0: any) in the id range (0, 0: any id); WM_QUIT passes every
   filter. 1 for a message, 0 for WM_QUIT, -1 on failure (lost connection, nothing to wait for). */
int32_t ewin_GetMessage(Ewin_Msg *msg, Ewin_Window window, uint32_t first, uint32_t last);
/* The same without waiting: 1 when a message was there (removed with EWIN_PM_REMOVE), else 0. */
int32_t ewin_PeekMessage(Ewin_Msg *msg, Ewin_Window window, uint32_t first, uint32_t last,
                         uint32_t remove);
/* Nothing to translate here; returns 0. */
int32_t ewin_TranslateMessage(const Ewin_Msg *msg);
/* Calls the procedure of the message's window; 0 when it has none. */
Ewin_Param ewin_DispatchMessage(const Ewin_Msg *msg);
/* Queues WM_QUIT with the exit code as wParam. */
void ewin_PostQuitMessage(int32_t exitCode);

/* A new anonymous read/write mapping of size bytes (at least 1), zero-filled; 0 on failure. */
Ewin_Handle ewin_CreateFileMapping(uint32_t size);
/* Maps the whole mapping read/write (views of one mapping share their bytes); null on failure. */
void *ewin_MapViewOfFile(Ewin_Handle mapping);
/* The size of the mapping in bytes, -1 when the handle is not one. */
int64_t ewin_GetFileMappingSize(Ewin_Handle mapping);
/* Unmaps a view of ewin_MapViewOfFile; non-zero on success. */
int32_t ewin_UnmapViewOfFile(const void *view);

/* Named mappings. A process publishes a copy of a mapping's bytes under a name for the other
   processes of its user (a file in the "mappings" folder of the runtime directory, replaced
   whole), until it withdraws the name or ends. Opening the name gives a new mapping of the
   opening process holding a copy of the bytes published (what the publisher changes later is
   not seen). Non-zero on success; 0 for a null or empty name, an empty mapping, or when the
   runtime directory is missing. */
int32_t ewin_PublishFileMapping(Ewin_Handle mapping, const char *name);
/* Withdraws a name this process published; non-zero when it had published it. */
int32_t ewin_WithdrawFileMapping(const char *name);
/* A new mapping holding the bytes published under the name; 0 when nothing is published under
   it (a name whose publisher has ended counts as none). */
Ewin_Handle ewin_OpenFileMapping(const char *name);

/* This process's id. */
int32_t ewin_GetCurrentProcessId(void);
/* A handle of the process, 0 when there is no such process. */
Ewin_Handle ewin_OpenProcess(int32_t processId);
/* Duplicates the handle into the process: for this process itself a second handle; for another
   process (mappings only) a handle that belongs to it once a message to that process carries it
   there (until then ewin_CloseHandle drops it). Non-zero on success; 0 when the process has
   ended or a handle is invalid. */
int32_t ewin_DuplicateHandle(Ewin_Handle handle, Ewin_Handle process, Ewin_Handle *duplicate);
/* Closes a handle; non-zero on success. */
int32_t ewin_CloseHandle(Ewin_Handle handle);

/* The debugger output: the text goes to standard error while a debugger is attached to the
   process, and nowhere otherwise. */
void ewin_OutputDebugString(const char *text);

/* Milliseconds of a monotonic clock, wrapping at 2^32. */
uint32_t ewin_GetTickCount(void);

TAVIRON_END_DECLS

#endif
