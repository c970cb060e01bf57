// Writers of the strip file of device type 1 (records appended to the current strip). The
// rasteriser's pixel writers call them when the drawing has a strip file.
#ifndef TAVIRON_GRAPHICS_EEVG_HTF_H
#define TAVIRON_GRAPHICS_EEVG_HTF_H

#include <cstdint>

#include "eerr.h"
#include "eevg_internal.h"

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

// Opens the strip file `fileName` for an image of width x height pixels in bandCount bands (3 or
// 1): writes the header and an empty directory. Null with a report.
Eevg_HtfControl *eevg_HtfInit(const char *text, const char *fileName, int32_t width,
                              int32_t height, int32_t bandCount, const int32_t *stripRows,
                              const int32_t *bufferSize, const int32_t *antiAlias,
                              Eerr_ErrorReport **err);
// Flushes the strips, writes their block lists and the final directory and closes the file
// (also after a failure). The control record stays the caller's. 0, or -1 with a report.
int32_t eevg_HtfRelease(Eevg_HtfControl *control, Eerr_ErrorReport **err);
// Appends a colour record to the current strip (nothing without one).
void eevg_StoreColor(Eevg_HtfControl *control, const int32_t *colour);
// Writes strip's buffer as a block. 0, or -1 with a report (the block is then not listed).
int32_t eevg_WriteStripBuffer(Eevg_HtfControl *control, int32_t strip, Eerr_ErrorReport **err);

// Burns the strip file into the drawing's target through getBlock and putBlock, in blocks of
// blockWidth columns. 1 on success, 0 with a report.
int32_t eevg_Burnin(const char *text, const char *fileName, int32_t height, int32_t width,
                    int32_t bandCount, int32_t stripRows, int32_t blockWidth,
                    Eevg_Drawing *drawing, Eerr_ErrorReport **err);

} // namespace taviron::graphics

#endif
