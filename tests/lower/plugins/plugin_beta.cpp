// A second plug-in for the DLL instance tests; it lacks AlphaValue.
#include <stdint.h>

extern "C" {

__attribute__((visibility("default"))) int32_t BetaValue(void) { return 7; }

__attribute__((visibility("default"))) const char *InstanceTitle(void) { return "beta"; }

} // extern "C"
