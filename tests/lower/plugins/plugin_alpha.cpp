// A small plug-in for the DLL instance tests: a loaded-state counter and two entries.
#include <stdint.h>

namespace {
int32_t calls = 0; // back to 0 whenever the object is loaded anew
} // namespace

extern "C" {

__attribute__((visibility("default"))) int32_t AlphaValue(void) { return 42; }

__attribute__((visibility("default"))) int32_t AlphaCount(void) { return ++calls; }

__attribute__((visibility("default"))) const char *InstanceTitle(void) { return "alpha"; }

} // extern "C"
