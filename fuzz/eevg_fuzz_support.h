// What the renderer's fuzz targets share (beside fuzz_support.h): the styles and coordinate
// blocks they make from the input, and a device that aborts on any pixel outside the clip window.
#ifndef TAVIRON_FUZZ_EEVG_FUZZ_SUPPORT_H
#define TAVIRON_FUZZ_EEVG_FUZZ_SUPPORT_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../graphics/eevg_internal.h"
#include "eevg.h"
#include "efga.h"
#include "fuzz_support.h"

namespace taviron::fuzz {

// The clip window of the drawing being fuzzed (pixels, device y upward) and its height.
struct GuardWindow {
  int32_t height, xMin, yMin, xMax, yMax;
};
inline GuardWindow guard;

inline void CheckInside(const double *p) {
  const double column = p[0], y = guard.height - 1 - p[1];
  if (!(column >= guard.xMin && column <= guard.xMax && y >= guard.yMin && y <= guard.yMax)) {
    std::fprintf(stderr, "pixel (%g, %g) outside the clip window\n", p[0], p[1]);
    std::abort();
  }
}

// Fills the pixel callbacks of io with the checking device of a target height pixels high.
inline void GuardCallbacks(Eevg_GrIOInfo &io, int32_t height) {
  guard.height = height;
  io.getPixel = [](void *, Eevg_Color *c, const double *p, Eerr_ErrorReport **) {
    CheckInside(p);
    *c = {0, 255, 255, 255, 255};
  };
  io.putPixel = [](void *, const Eevg_Color *, const double *p, Eerr_ErrorReport **) { CheckInside(p); };
  io.putVector = [](void *, const Eevg_Color *, const double *a, const double *b, Eerr_ErrorReport **) {
    CheckInside(a);
    CheckInside(b);
  };
}

// Takes the drawing's clip window as the one to check.
inline void Guard(const Eevg_Drawing *drawing) {
  guard.xMin = drawing->clipXMin;
  guard.yMin = drawing->clipYMin;
  guard.xMax = drawing->clipXMax;
  guard.yMax = drawing->clipYMax;
}

// A drawing of width x height pixels on the checking device: the bytes choose the line-width
// unit, anti-aliasing, another world window (zoom bit 1) and a clip window of corners within
// clipRange. The remaining bits of zoom are the caller's.
class FuzzDrawing {
 public:
  FuzzDrawing(Reader &in, int32_t width, int32_t height, double clipRange, int32_t deviceType = 0)
      : upperRight_{width - 1.0, height - 1.0} {
    Eerr_ErrorReport *err = nullptr;
    Eevg_Control *control = eevg_Init(&err);
    eerr_DeleteErrorReportEx(&err);
    if (!control) return;
    Eevg_DeviceInfo device{};
    device.deviceType = deviceType;
    device.width = width;
    device.height = height;
    device.lineWidthUnit = 1 + in.Byte() % 3;
    device.antiAlias = in.Byte() & 1;
    Eevg_WorldInfo world{&lowerLeft_, &upperRight_};
    GuardCallbacks(io_, height);
    drawing_ = eevg_DrawingInit(control, &device, &world, &io_, &err);
    eerr_DeleteErrorReportEx(&err);
    if (!drawing_) return;
    zoom = in.Byte();
    if (zoom & 1) {
      // Read into locals: the order of a call's arguments differs between compilers.
      const double x1 = in.Number(100);
      const double y1 = in.Number(100);
      const double x2 = in.Number(100);
      const double y2 = in.Number(100);
      eevg_World(drawing_, x1, y1, x2, y2, &err);
    }
    eerr_DeleteErrorReportEx(&err);
    const Eevg_Coord corner1{in.Number(clipRange), in.Number(clipRange)};
    const Eevg_Coord corner2{in.Number(clipRange), in.Number(clipRange)};
    eevg_SetClipWindow(drawing_, &corner1, &corner2, &err);
    eerr_DeleteErrorReportEx(&err);
    Guard(drawing_);
  }
  ~FuzzDrawing() { eevg_DrawingFree(&drawing_, nullptr); }
  FuzzDrawing(const FuzzDrawing &) = delete;
  FuzzDrawing &operator=(const FuzzDrawing &) = delete;
  Eevg_Drawing *get() const { return drawing_; }
  uint8_t zoom = 0;

 private:
  Eevg_Coord lowerLeft_{0, 0}, upperRight_;
  Eevg_GrIOInfo io_{};
  Eevg_Drawing *drawing_ = nullptr;
};

inline Eevg_Color *NewColor(Reader &in) {
  Eevg_Color *c = eevg_ColorCreate(nullptr);
  if (c) *c = {0, in.Byte(), in.Byte(), in.Byte(), in.Byte() < 200 ? 255 : in.Byte()};
  return c;
}

inline Eevg_LineStyle *NewLine(Reader &in) {
  Eevg_LineStyle *style = eevg_LineStyleCreate(nullptr);
  if (!style) return nullptr;
  const int32_t lines = in.Byte() % 4;
  if (lines > 0 && eevg_LineCompositionCreate(lines, &style->composition, nullptr)) {
    for (int32_t i = 0; i < lines; ++i) {
      style->composition.data[i].color = NewColor(in);
      style->composition.data[i].width = in.Number(30);
    }
  }
  const int32_t dashes = in.Byte() % 4;
  for (int32_t i = 0; i < dashes; ++i) {
    const double mark = in.Number(20), space = in.Number(20);
    eevg_LinePatternSetValues(&style->pattern, i, mark, space, nullptr);
  }
  const uint8_t ends = in.Byte();
  style->startLineEnd = ends & 3;
  style->endLineEnd = ends >> 2 & 3;
  style->markEnd = ends >> 4 & 3;
  style->lineJoin = ends >> 6 & 3;
  if (in.Byte() & 1) {
    style->arrowEnd = eevg_ArrowEndCreate(nullptr);
    if (style->arrowEnd) {
      const double base = in.Number(2);
      const double tip = in.Number(2);
      const double length = in.Number(40);
      const int32_t filled = in.Byte() & 1;
      const int32_t stick = in.Byte() & 1;
      eevg_ArrowEndSetValues(style->arrowEnd, base, tip, length, filled, stick, nullptr);
    }
  }
  return style;
}

inline Eevg_FillStyle *NewFill(Reader &in) {
  Eevg_FillStyle *style = eevg_FillStyleCreate(nullptr);
  if (!style) return nullptr;
  const uint8_t flags = in.Byte();
  style->fill = flags & 1;
  style->trace = flags >> 1 & 1;
  style->pattern = eevg_FillPatternCreate(nullptr);
  if (style->pattern) style->pattern->color = NewColor(in);
  if (style->trace) style->traceStyle = NewLine(in);
  return style;
}

inline Efga_CoordinateBlock *NewBlock(Reader &in, double range) {
  const int32_t parts = 1 + in.Byte() % 3;
  Efga_CoordinateBlock *block = efga_CoordBlockPtrCreate(parts, nullptr);
  if (!block) return nullptr;
  for (int32_t p = 0; p < parts; ++p) {
    const int32_t count = in.Byte() % 24;
    Eerr_ErrorReport *dropped = nullptr;
    block->parts[p] = egda_BaseDataCreate(2, count, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &dropped);
    eerr_DeleteErrorReportEx(&dropped);
    if (!block->parts[p]) continue;
    for (int32_t i = 0; i < count; ++i) {
      auto *xy = reinterpret_cast<double *>(block->parts[p]->origin +
                                            static_cast<size_t>(i) * block->parts[p]->pitch);
      xy[0] = in.Number(range);
      xy[1] = in.Number(range);
    }
  }
  return block;
}

} // namespace taviron::fuzz

#endif
