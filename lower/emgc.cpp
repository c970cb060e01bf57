// Compatibility exports that this build does not support.
#include "emgc.h"

#include "internal.h"

namespace lower = taviron::lower;

namespace {

void NotSupported(Eerr_ErrorReport **err, const char *who) {
  lower::Clear(err);
  lower::Report(err, who, 1, "Magic-number file typing is not supported");
}

} // namespace

extern "C" {

Emgc_Magic *emgc_MagicAllocate(Eerr_ErrorReport **err) try {
  NotSupported(err, "emgc_MagicAllocate");
  return nullptr;
} TAVIRON_GUARD(err, nullptr)

int32_t emgc_MagicAppend(Emgc_Magic *, const char *, Eerr_ErrorReport **err) try {
  NotSupported(err, "emgc_MagicAppend");
  return -1;
} TAVIRON_GUARD(err, -1)

int32_t emgc_MagicDisplayFuncSet(Emgc_Magic *, Emgc_MagicDisplayFunction, void *) try { return -1; } TAVIRON_GUARD_QUIET(-1)

void *emgc_MagicEntryData(Emgc_Magic *, int32_t, Eerr_ErrorReport **err) try {
  NotSupported(err, "emgc_MagicEntryData");
  return nullptr;
} TAVIRON_GUARD(err, nullptr)

void emgc_MagicFree(Emgc_Magic *) try {} TAVIRON_GUARD_QUIET_VOID

int32_t emgc_MagicMatch(Emgc_Magic *, const void *, int32_t, Eerr_ErrorReport **err) try {
  NotSupported(err, "emgc_MagicMatch");
  return -1;
} TAVIRON_GUARD(err, -1)

int32_t emgc_MagicMaxBytes(const Emgc_Magic *) try { return 0; } TAVIRON_GUARD_QUIET(0)

void clminf_(int32_t *status) try {
  if (status) *status = -1;
} TAVIRON_GUARD_QUIET_VOID

int32_t hex908798435(void) try { return -1; } TAVIRON_GUARD_QUIET(-1)

} // extern "C"
