// Hooks of the connection that the application frame fills.
#include <cstdlib>

#include "esmg_session_internal.h"

namespace taviron::session {

Ewin_Window AppMainWindow() { return 0; }

void EndProcess(int32_t exitCode) { std::exit(exitCode); }

} // namespace taviron::session
