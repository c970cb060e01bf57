// Symbols along lines: the line symbol's render callback at every period along a line of world
// coordinates or of the drawing's point buffer, the phase carried from segment to segment.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "eevg.h"
#include "eevg_internal.h"
#include "internal.h"

namespace lower = taviron::lower;
namespace gfx = taviron::graphics;

namespace {

using gfx::kNullDrawing;

constexpr const char *kSymbolFailed = "Unable to draw symbol along polyline";

bool SymbolWanted(const Eevg_LineStyle *style) {
  return style->useSymbol == 1 && style->lineSymbol && style->lineSymbol->render;
}

// The walk over one segment once the symbol's values are in place (see the public call).
double WalkSegment(double phase, double *angle, double x1, double y1, double x2, double y2,
                   const Eevg_LineSymbol *symbol, double factor, Eevg_Drawing *drawing,
                   Eerr_ErrorReport **err) {
  const double period = symbol->scale + symbol->spacing;
  // Without a forward step, or with a segment or phase that is no number, nothing is placed.
  if (!(period > 0) || !std::isfinite(period) || !std::isfinite(x1) || !std::isfinite(y1) ||
      !std::isfinite(x2) || !std::isfinite(y2))
    return phase;
  if (!std::isfinite(phase) || phase < 0) phase = 0;
  const double dx = x2 - x1, dy = y2 - y1;
  const double length = std::hypot(dx, dy);
  if (!std::isfinite(length)) return phase;
  double c, s;
  if (length > 0) {
    c = dx / length;
    s = dy / length;
  } else {
    c = std::cos(*angle);
    s = std::sin(*angle);
  }
  if (s == 0)
    *angle = c < 0 ? std::numbers::pi : 0;
  else
    *angle = std::atan2(s, c);
  const double ox = -s * symbol->offset, oy = c * symbol->offset;
  const double wx1 = std::min(drawing->worldX1, drawing->worldX2);
  const double wx2 = std::max(drawing->worldX1, drawing->worldX2);
  const double wy1 = std::min(drawing->worldY1, drawing->worldY2);
  const double wy2 = std::max(drawing->worldY1, drawing->worldY2);

  if (!(x1 >= wx1 && x1 <= wx2 && y1 >= wy1 && y1 <= wy2)) {
    // Liang-Barsky over x, then y.
    double t0 = 0, t1 = 1;
    bool hit = true;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {x1 - wx1, wx2 - x1, y1 - wy1, wy2 - y1};
    for (int i = 0; i < 4 && hit; ++i) {
      if (p[i] == 0) {
        hit = q[i] >= 0;
        continue;
      }
      const double r = q[i] / p[i];
      if (p[i] < 0) {
        if (r > t1) hit = false;
        else t0 = std::max(t0, r);
      } else {
        if (r < t0) hit = false;
        else t1 = std::min(t1, r);
      }
    }
    if (!hit) return std::fmod(phase + period - std::fmod(length, period), period);
    const double d = t0 * length;
    phase += d - std::fmod(d, period);
  }

  const double gx1 = wx1 - 2 * period, gx2 = wx2 + 2 * period;
  const double gy1 = wy1 - 2 * period, gy2 = wy2 + 2 * period;
  while (phase <= length) {
    const double position[2] = {x1 + phase * c + ox, y1 + phase * s + oy};
    if (!(position[0] >= gx1 && position[0] <= gx2 && position[1] >= gy1 && position[1] <= gy2))
      break;
    Eerr_ErrorReport *inner = nullptr;
    symbol->render(drawing, symbol->userData, position, factor, *angle, &inner);
    if (inner) {
      lower::ReportChained(err, inner, "eevg_DrawSymbolAlongLineSegmentFast", 1, kSymbolFailed);
      return phase;
    }
    const double next = phase + period;
    if (next == phase) break; // a period below the precision of the phase
    phase = next;
  }
  if (phase <= length) phase += (std::floor((length - phase) / period) + 1) * period;
  double carried = phase - length;
  if (!(carried >= 0 && carried <= period)) carried = std::fmod(std::fabs(carried), period);
  return carried;
}

// Walks the segments of one part (points through get(j)), closing it when asked.
template <typename Get>
int32_t WalkPart(Eevg_Drawing *drawing, Eevg_LineSymbol *symbol, int32_t count, bool closed,
                 Get &&get, Eerr_ErrorReport **err) {
  double phase = 0, angle = 0;
  const int32_t segments = closed && count > 1 ? count : count - 1;
  for (int32_t j = 0; j < segments; ++j) {
    double x1, y1, x2, y2;
    get(j, x1, y1);
    get((j + 1) % count, x2, y2);
    phase = eevg_DrawSymbolAlongLineSegmentFast(phase, &angle, x1, y1, x2, y2, err, symbol,
                                                drawing);
    if (err && *err) return -1;
  }
  return 0;
}

} // namespace

extern "C" {

double eevg_DrawSymbolAlongLineSegmentFast(double phase, double *angle, double x1, double y1,
                                           double x2, double y2, Eerr_ErrorReport **err,
                                           Eevg_LineSymbol *lineSymbol, Eevg_Drawing *drawing) try {
  static const char *reporter = "eevg_DrawSymbolAlongLineSegmentFast";
  lower::Clear(err);
  if (!drawing) {
    lower::Report(err, reporter, 2, kNullDrawing);
    return phase;
  }
  if (!lineSymbol || !lineSymbol->render || !angle) {
    lower::Report(err, reporter, 3, "NULL Eevg Line Symbol Pointer");
    return phase;
  }
  if (drawing->usingWorldTransform == 0)
    return WalkSegment(phase, angle, x1, y1, x2, y2, lineSymbol, 1, drawing, err);
  // Pre-transformed: the symbol's sizes in sub-pixel units for the duration.
  const int32_t mode = drawing->usingWorldTransform;
  const double scale = lineSymbol->scale, spacing = lineSymbol->spacing,
               offset = lineSymbol->offset;
  const double factor = drawing->pixelSizeX;
  drawing->usingWorldTransform = 2;
  lineSymbol->scale *= factor;
  lineSymbol->spacing *= factor;
  lineSymbol->offset *= factor;
  const double result = WalkSegment(phase, angle, x1, y1, x2, y2, lineSymbol, factor, drawing, err);
  lineSymbol->scale = scale;
  lineSymbol->spacing = spacing;
  lineSymbol->offset = offset;
  drawing->usingWorldTransform = mode;
  return result;
} TAVIRON_GUARD(err, phase)

int32_t eevg_DrawPolyLineSymbol(Eevg_Drawing *drawing, Eevg_LineStyle *lineStyle,
                                Efga_CoordinateBlock *coordinateBlock, int32_t closed,
                                Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_DrawPolyLineSymbol";
  lower::Clear(err);
  if (!gfx::CheckLineCall(drawing, lineStyle, true, coordinateBlock, reporter, 2, err)) return -1;
  if (!SymbolWanted(lineStyle)) return 0;
  for (int32_t p = 0; p < coordinateBlock->count; ++p) {
    gfx::ShapePartView view;
    gfx::ShapeViewPart(coordinateBlock->parts[p], view);
    Eerr_ErrorReport *inner = nullptr;
    auto get = [&](int32_t j, double &x, double &y) {
      x = view.X(j);
      y = view.Y(j);
    };
    if (WalkPart(drawing, lineStyle->lineSymbol, view.n, closed == 1, get, &inner) != 0) {
      lower::ReportChained(err, inner, reporter, 1, kSymbolFailed);
      return -1;
    }
  }
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t eevg_DrawPolyLineSymbolLO(Eevg_Drawing *drawing, Eevg_LineStyle *lineStyle,
                                  Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_DrawPolyLineSymbolLO";
  lower::Clear(err);
  if (!gfx::CheckLineCall(drawing, lineStyle, false, nullptr, reporter, 2, err)) return -1;
  if (!SymbolWanted(lineStyle)) return 0;
  const double sx = 8 * drawing->scaleX, sy = 8 * drawing->scaleY;
  const double ox = 8 * drawing->offsetX, oy = 8 * drawing->offsetY;
  for (int32_t p = 0; p < drawing->polygonCount; ++p) {
    const int32_t *points = drawing->points + 2 * static_cast<std::ptrdiff_t>(drawing->polygonStarts[p]);
    const int32_t count = drawing->polygonStarts[p + 1] - drawing->polygonStarts[p];
    Eerr_ErrorReport *inner = nullptr;
    auto get = [&](int32_t j, double &x, double &y) {
      x = (points[2 * j] - ox) / sx;
      y = (points[2 * j + 1] - oy) / sy;
    };
    if (WalkPart(drawing, lineStyle->lineSymbol, count, false, get, &inner) != 0) {
      lower::ReportChained(err, inner, reporter, 1, kSymbolFailed);
      return -1;
    }
  }
  return 0;
} TAVIRON_GUARD(err, -1)

} // extern "C"
