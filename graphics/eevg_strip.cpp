// The strip file of device type 1. The rasteriser's strip file is not built yet: opening one
// fails, so a drawing of device type 1 cannot be set up and the release and burn-in below are
// never reached.
#include "eevg_private.h"
#include "internal.h"

namespace taviron::graphics {

int32_t StripFileOpen(Eevg_Drawing *, int32_t, Eerr_ErrorReport **err) {
  taviron::lower::Report(err, "eevg_StripFileOpen", 1, "Strip files are not available");
  return -1;
}

int32_t StripFileRelease(Eevg_Drawing *drawing, Eerr_ErrorReport **) {
  if (drawing) drawing->stripFile = nullptr;
  return 0;
}

int32_t StripFileBurnIn(Eevg_Drawing *, int32_t, Eerr_ErrorReport **err) {
  taviron::lower::Report(err, "eevg_Burnin", 1, "Strip files are not available");
  return -1;
}

} // namespace taviron::graphics
