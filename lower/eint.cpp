// The process-wide toolkit initialisation record.
#include "eint.h"

#include <mutex>

#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

std::mutex recordMutex;
Eint_InitToolkitData *record = nullptr; // guarded by recordMutex

} // namespace

extern "C" {

Eint_InitToolkitData *eint_InitToolkit(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  std::lock_guard<std::mutex> lock(recordMutex);
  if (!record) {
    record = static_cast<Eint_InitToolkitData *>(emsc_HeapMalloc(sizeof(Eint_InitToolkitData)));
    if (!record) lower::Report(err, "eint_InitToolkit", 1, "Error allocating toolkit initialization data");
  }
  return record;
} TAVIRON_GUARD(err, nullptr)

Eint_InitToolkitData *eint_GetInit(void) try {
  std::lock_guard<std::mutex> lock(recordMutex);
  return record;
} TAVIRON_GUARD_QUIET(nullptr)

void eint_DeInit(void) try {
  Eint_InitToolkitData *ending = nullptr;
  {
    std::lock_guard<std::mutex> lock(recordMutex);
    ending = record;
    record = nullptr;
  }
  if (!ending) return;
  if (ending->projectionData && ending->projectionDataFree) ending->projectionDataFree(ending->projectionData);
  if (ending->statisticsData && ending->statisticsDataFree) ending->statisticsDataFree(ending->statisticsData);
  emsc_HeapFree(ending);
} TAVIRON_GUARD_QUIET_VOID

} // extern "C"
