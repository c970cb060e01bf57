// The strip file of device type 1. The rasteriser's strip file is not built yet: opening one
// fails, so a drawing of device type 1 cannot be set up and the release and burn-in below are
// never reached.
#include "eevg_htf.h"
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

// Without strip files no drawing ever has a control record to write into.
void eevg_HtfColor(Eevg_HtfControl *, const Eevg_DeviceColor &) {}

namespace {
int32_t Unavailable(const char *reporter, Eerr_ErrorReport **err) {
  taviron::lower::Report(err, reporter, 1, "Strip files are not available");
  return -1;
}
} // namespace

int32_t eevg_HtfPoint(Eevg_HtfControl *, const int32_t *, const int32_t *, Eerr_ErrorReport **err) {
  return Unavailable("eevg_HtfPoint", err);
}
int32_t eevg_HtfHseg(Eevg_HtfControl *, const int32_t *, const int32_t *, const int32_t *,
                     Eerr_ErrorReport **err) {
  return Unavailable("eevg_HtfHseg", err);
}
int32_t eevg_HtfAntPoint(Eevg_HtfControl *, const int32_t *, const int32_t *, const uint8_t *,
                         Eerr_ErrorReport **err) {
  return Unavailable("eevg_HtfAntPoint", err);
}
int32_t eevg_HtfAntHseg(Eevg_HtfControl *, const int32_t *, const int32_t *, const int32_t *,
                        const uint8_t *, Eerr_ErrorReport **err) {
  return Unavailable("eevg_HtfAntHseg", err);
}
int32_t eevg_HtfAntHsegLo(Eevg_HtfControl *, const int32_t *, const int32_t *, const int32_t *,
                          const uint8_t *, Eerr_ErrorReport **err) {
  return Unavailable("eevg_HtfAntHsegLo", err);
}

} // namespace taviron::graphics
