// Writers of the strip file of device type 1 (records appended to the current strip). The
// rasteriser's pixel writers call them when the drawing has a strip file.
#ifndef TAVIRON_GRAPHICS_EEVG_HTF_H
#define TAVIRON_GRAPHICS_EEVG_HTF_H

#include <cstdint>

#include "eerr.h"
#include "eevg_private.h"

struct Eevg_HtfControl;

namespace taviron::graphics {

// Makes the colour current (a colour record follows when it changed).
void eevg_HtfColor(Eevg_HtfControl *control, const Eevg_DeviceColor &colour);
// One record each: a point (type 3), a horizontal run (2), an anti-aliased point (5), an
// anti-aliased run (4, one coverage byte per pixel) and an anti-aliased run whose coverage of
// pixel k is byte 4k of source (4). Each returns 0, or -1 with a report.
int32_t eevg_HtfPoint(Eevg_HtfControl *control, const int32_t *x, const int32_t *row,
                      Eerr_ErrorReport **err);
int32_t eevg_HtfHseg(Eevg_HtfControl *control, const int32_t *x, const int32_t *row,
                     const int32_t *count, Eerr_ErrorReport **err);
int32_t eevg_HtfAntPoint(Eevg_HtfControl *control, const int32_t *x, const int32_t *row,
                         const uint8_t *coverage, Eerr_ErrorReport **err);
int32_t eevg_HtfAntHseg(Eevg_HtfControl *control, const int32_t *x, const int32_t *row,
                        const int32_t *count, const uint8_t *coverage, Eerr_ErrorReport **err);
int32_t eevg_HtfAntHsegLo(Eevg_HtfControl *control, const int32_t *x, const int32_t *row,
                          const int32_t *count, const uint8_t *source, Eerr_ErrorReport **err);

} // namespace taviron::graphics

#endif
