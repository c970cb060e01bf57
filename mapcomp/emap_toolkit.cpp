// The map-composition package's share of the toolkit record.
#include "emap.h"

#include "emif.h"
#include "emsc.h"
#include "guard.h"

extern "C" {

void emap_ToolkitClose(Eint_InitToolkitData *toolkit, Eerr_ErrorReport **err) try {
  if ((err && *err) || !toolkit || !toolkit->plotFileHeader) return;
  emif_DesignDestroy(static_cast<Emif_Design *>(*toolkit->plotFileHeader));
  emsc_HeapFree(toolkit->plotFileHeader);
  toolkit->plotFileHeader = nullptr;
} TAVIRON_GUARD_QUIET_VOID

} // extern "C"
