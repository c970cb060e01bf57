// The version of the library loaded at run time.
#include "taviron_version.h"

#include "guard.h"

extern "C" {

const char *taviron_Version(void) try { return TAVIRON_VERSION_STRING; } TAVIRON_GUARD_QUIET("")

int32_t taviron_VersionNumber(void) try { return TAVIRON_VERSION_NUMBER; } TAVIRON_GUARD_QUIET(0)

} // extern "C"
