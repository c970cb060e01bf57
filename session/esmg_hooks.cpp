// Hooks of the connection that the preference service, progress metering and the application
// frame fill.
#include "esmg_session_internal.h"

namespace taviron::session {

void InstallPreferenceMethods(int32_t *, Eerr_ErrorReport **err) {
  if (err) *err = nullptr;
}

bool SetUpMetering(const char *) { return false; }

void InstallDefaultMeterTable(Eerr_ErrorReport **err) {
  if (err) *err = nullptr;
}

Ewin_Window AppMainWindow() { return 0; }

} // namespace taviron::session
