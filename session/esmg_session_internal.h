// Connection state and hooks shared by the session files; not installed.
#ifndef TAVIRON_SESSION_ESMG_SESSION_INTERNAL_H
#define TAVIRON_SESSION_ESMG_SESSION_INTERNAL_H

#include <cstdint>

#include "eerr.h"
#include "esmg.h"
#include "ewin.h"

namespace taviron::session {

// The registered messages of the exchange, in this order.
enum Message {
  kSmPacketData,
  kSmPacketDataWait,
  kAppPacketData,
  kSmConnect,
  kSmProcess,
  kAppCancel,
  kReqQuit,
  kAckQuit,
  kMessageCount
};
// The id of a registered message in this process (registered on first use).
uint32_t MessageId(Message message);

// The farewell of a started session: marks it disconnected, sends the type (35 disconnect, 13
// job end), forgets the session manager and clears the started flag.
void SessionFarewell(int32_t type);

// Log routing: the terse flag drops level-0 lines on the local routes.
void SetTerse(bool terse);

// Hooks filled by the services that come later; each does nothing until then.
// The preference and configuration methods of the connection (reports under "SessionOpen").
void InstallPreferenceMethods(int32_t *connectionKind, Eerr_ErrorReport **err);
// Progress metering from a configuration file: true when a listener was installed.
bool SetUpMetering(const char *configurationFile);
// The default meter table in the lower layer and its plug-in layer.
void InstallDefaultMeterTable(Eerr_ErrorReport **err);
// The sender of hierarchical-file changes (protocol 36).
void InstallFileChangedSender();
// The application's main window (0 while there is none).
Ewin_Window AppMainWindow();
// Ends the process with the exit code, running its exit handlers.
[[noreturn]] void EndProcess(int32_t exitCode);

// Logs the exception in flight (call only inside a handler) through the class layer's exception
// of the source and function: a report of the function with the code and the exception's text.
void LogCaughtException(const char *source, const char *function, int32_t code) noexcept;

} // namespace taviron::session

#endif
