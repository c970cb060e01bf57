// The lowest layer of the rasteriser: segment clipping, one-pixel lines, the trace pen for glyph
// outlines and the pixel and run writers through which every dot leaves the renderer (device
// callbacks, or records of the strip file).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "eevg.h"
#include "eevg_htf.h"
#include "eevg_internal.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace taviron::graphics {
namespace {

constexpr int32_t kNoPixel = -32000;

// The drawing's strip file while it is open, else null.
Eevg_HtfControl *StripOf(const Eevg_Drawing *drawing) {
  return drawing->stripFileInUse && drawing->stripFile
             ? static_cast<Eevg_HtfControl *>(drawing->stripFile)
             : nullptr;
}

// Puts a callee's report into the caller's slot (replacing what it held); true when there was
// one.
bool Take(Eerr_ErrorReport **err, Eerr_ErrorReport *inner) {
  if (!inner) return false;
  if (err) {
    eerr_DeleteErrorReportEx(err);
    *err = inner;
  } else {
    eerr_DeleteErrorReportEx(&inner);
  }
  return true;
}

Eevg_Color ToColor(const Eevg_DeviceColor &c) {
  return {c.index, c.red, c.green, c.blue, c.opacity};
}

bool Inside(const Eevg_Drawing *d, int32_t column, int32_t y) {
  return column >= d->clipXMin && column <= d->clipXMax && y >= d->clipYMin && y <= d->clipYMax;
}

// The active pixel tile of the fill pattern: four unsigned 8-bit rasters of one size.
struct Tile {
  const Egda_BaseData *band[4] = {};
  int32_t rows = 0, columns = 0;
  uint8_t At(int32_t b, int32_t row, int32_t column) const {
    return band[b]->origin[static_cast<std::ptrdiff_t>(row) * band[b]->pitch + column];
  }
};

bool ActiveTile(const Eevg_Drawing *d, Tile &tile) {
  const Eevg_FillPattern *p = d->fillPattern;
  if (!p || p->usePattern != 1 || !p->patternStack || p->patternStack->count < 4) return false;
  const Egda_BaseData *red = p->patternStack->layers[0];
  if (!red || red->rows < 1 || red->columns < 1) return false;
  for (int32_t b = 0; b < 4; ++b) {
    const Egda_BaseData *layer = p->patternStack->layers[b];
    if (!layer || layer->pixelType != EGDA_TYPE_U8 || !layer->origin ||
        layer->rows < red->rows || layer->columns < red->columns)
      return false;
    tile.band[b] = layer;
  }
  tile.rows = red->rows;
  tile.columns = red->columns;
  return true;
}

// The colour of pixel (column, image row): the tile's when one is active (with the colour's
// index), else the colour itself.
Eevg_Color PixelColour(const Eevg_DeviceColor &colour, const Tile *tile, int32_t column,
                       int32_t row) {
  Eevg_Color c = ToColor(colour);
  if (tile) {
    const int32_t tr = row % tile->rows, tc = column % tile->columns;
    c.red = tile->At(0, tr, tc);
    c.green = tile->At(1, tr, tc);
    c.blue = tile->At(2, tr, tc);
    c.opacity = tile->At(3, tr, tc);
  }
  return c;
}

// One step of the integer line walk shared by the thin lines and the trace pen: calls step(x, y)
// after each move, false as soon as it refuses.
template <typename Step>
int32_t Walk(int64_t x, int64_t y, int64_t dx, int64_t dy, Step step) {
  const int64_t sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
  const int64_t ax = std::llabs(dx), ay = std::llabs(dy);
  if (ax >= ay) {
    int64_t e = ax / 2;
    for (int64_t i = 0; i < ax; ++i) {
      e += ay;
      if (e >= ax) {
        y += sy;
        e -= ax;
      }
      x += sx;
      if (!step(x, y, true)) return -1;
    }
  } else {
    int64_t e = ay / 2;
    for (int64_t i = 0; i < ay; ++i) {
      e += ax;
      if (e >= ay) {
        x += sx;
        e -= ay;
      }
      y += sy;
      if (!step(x, y, false)) return -1;
    }
  }
  return 0;
}

} // namespace

int32_t eevg_WrDevPix(Eevg_Drawing *drawing, const Eevg_Color &colour, const double *position,
                      int32_t opaque, Eerr_ErrorReport **err) {
  lower::Clear(err);
  Eevg_GrIOInfo *io = drawing->grIOInfo;
  Eerr_ErrorReport *inner = nullptr;
  if (!opaque) {
    if (io->putPixelOpacity) {
      const int32_t done = io->putPixelOpacity(io->userData, &colour, position, &inner);
      if (Take(err, inner)) return -1;
      if (done) return 0;
    } else {
      const int32_t column = static_cast<int32_t>(position[0]);
      const int32_t row = static_cast<int32_t>(position[1]);
      if (io->putPixel && eevg_OpacityCheckPixel(column, row, colour.opacity, nullptr)) {
        io->putPixel(io->userData, &colour, position, &inner);
        if (Take(err, inner)) return -1;
      }
      return 0;
    }
  }
  if (io->putPixel) {
    io->putPixel(io->userData, &colour, position, &inner);
    if (Take(err, inner)) return -1;
  }
  return 0;
}

int32_t eevg_Wrdot(Eevg_Drawing *drawing, int32_t column, int32_t y,
                   const Eevg_DeviceColor &colour, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_Wrdot";
  lower::Clear(err);
  if (!Inside(drawing, column, y)) return 0;
  Eevg_GrIOInfo *io = drawing->grIOInfo;
  int32_t status;
  if (io->putPixel || (!StripOf(drawing) && io->putPixelOpacity)) {
    Tile tile;
    const bool tiled = ActiveTile(drawing, tile);
    const int32_t row = drawing->deviceYMax - y;
    const Eevg_Color c = PixelColour(colour, tiled ? &tile : nullptr, column, row);
    const double position[2] = {static_cast<double>(column), static_cast<double>(row)};
    status = eevg_WrDevPix(drawing, c, position, eevg_TestOpaque(c.opacity), err);
  } else {
    status = eevg_WrHlin(drawing, column, y, 1, colour, err);
  }
  if (status != 0) lower::Report(err, reporter, 1, "Unable to write pixel");
  return status;
}

int32_t eevg_WrHlin(Eevg_Drawing *drawing, int32_t column, int32_t y, int32_t count,
                    const Eevg_DeviceColor &colour, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_WrHline";
  lower::Clear(err);
  Eevg_GrIOInfo *io = drawing->grIOInfo;
  Eevg_HtfControl *strip = StripOf(drawing);
  // A strip-file device writes records, not callbacks: it needs no pixel writer.
  if (!strip && !io->putPixel && !io->pixelWriterFlag && !io->putSpan && !io->putVector &&
      !io->putPixelOpacity && !io->putVectorOpacity) {
    lower::Report(err, reporter, 1, "No PutVector or PutPixel Defined");
    return -1;
  }
  if (count < 1 || y < drawing->clipYMin || y > drawing->clipYMax) return 0;
  int64_t first = column, last = static_cast<int64_t>(column) + count - 1;
  if (last < drawing->clipXMin || first > drawing->clipXMax) return 0;
  first = std::max<int64_t>(first, drawing->clipXMin);
  last = std::min<int64_t>(last, drawing->clipXMax);
  const int32_t x0 = static_cast<int32_t>(first);
  const int32_t n = static_cast<int32_t>(last - first + 1);
  const int32_t row = drawing->deviceYMax - y;

  // The common run first: an opaque plain colour to a device vector writer.
  if (!strip && io->putVector && !io->putVectorOpacity && colour.opacity > 254 &&
      !(drawing->fillPattern && drawing->fillPattern->usePattern == 1)) {
    const Eevg_Color c = ToColor(colour);
    const double start[2] = {static_cast<double>(x0), static_cast<double>(row)};
    const double end[2] = {static_cast<double>(x0 + n - 1), static_cast<double>(row)};
    Eerr_ErrorReport *inner = nullptr;
    io->putVector(io->userData, &c, start, end, &inner);
    if (Take(err, inner)) {
      lower::Report(err, reporter, 4, "Unable to write device specific vector");
      return -1;
    }
    return 0;
  }

  if (strip) {
    if (eevg_HtfHseg(strip, &x0, &row, &n, err) != 0) {
      lower::Report(err, reporter, 2, "Unable to write HTF vector");
      return -1;
    }
    return 0;
  }

  int32_t status = 0;
  Tile tile;
  if (ActiveTile(drawing, tile)) {
    const int32_t tileRow = row % tile.rows;
    if (io->putSpan) {
      Eerr_ErrorReport *inner = nullptr;
      Egda_BaseDataStack *span = egda_BaseDataStackCreate(4, 1, n, EGDA_TYPE_U8, EGDA_RASTER, &inner);
      if (!span) {
        Take(err, inner);
        lower::Report(err, reporter, 3, "Error allocating temp symbol pixel rect");
        return -1;
      }
      bool visible = false;
      int32_t tc = x0 % tile.columns;
      for (int32_t k = 0; k < n; ++k) {
        for (int32_t b = 0; b < 4; ++b) span->layers[b]->origin[k] = tile.At(b, tileRow, tc);
        visible = visible || span->layers[3]->origin[k] != 0;
        if (++tc == tile.columns) tc = 0;
      }
      if (visible) {
        const double start[2] = {static_cast<double>(x0), static_cast<double>(row)};
        io->putSpan(io->userData, span, start, n, &inner);
        if (Take(err, inner)) {
          lower::Report(err, reporter, 4, "Unable to write device specific vector");
          status = -1;
        }
      }
      egda_BaseDataStackDelete(span, nullptr);
      return status;
    }
    if (!io->putPixel && !io->putPixelOpacity) return 0;
    for (int32_t k = 0; k < n; ++k) {
      const Eevg_Color c = PixelColour(colour, &tile, x0 + k, row);
      if (c.opacity == 0) continue;
      const double position[2] = {static_cast<double>(x0 + k), static_cast<double>(row)};
      Eerr_ErrorReport *pixel = nullptr;
      if (eevg_WrDevPix(drawing, c, position, eevg_TestOpaque(c.opacity), &pixel) != 0) {
        Take(err, pixel);
        lower::Report(err, reporter, 5, "Unable to write device specific pixel");
        status = -1;
      }
    }
    return status;
  }

  const Eevg_Color c = ToColor(colour);
  const int32_t opaque = eevg_TestOpaque(c.opacity);
  const double start[2] = {static_cast<double>(x0), static_cast<double>(row)};
  const double end[2] = {static_cast<double>(x0 + n - 1), static_cast<double>(row)};
  Eerr_ErrorReport *inner = nullptr;
  bool failed = false;
  if (io->putVectorOpacity) {
    const int32_t done = io->putVectorOpacity(io->userData, &c, start, end, &inner);
    failed = Take(err, inner);
    inner = nullptr;
    if (!failed && !done && io->putVector) io->putVector(io->userData, &c, start, end, &inner);
  } else if (opaque && io->putVector) {
    io->putVector(io->userData, &c, start, end, &inner);
  } else if (io->putPixelOpacity || io->putPixel) {
    Eerr_ErrorReport *pixel = nullptr;
    for (int32_t k = 0; k < n; ++k) {
      const double position[2] = {static_cast<double>(x0 + k), static_cast<double>(row)};
      if (eevg_WrDevPix(drawing, c, position, opaque, &pixel) != 0) {
        Take(err, pixel);
        pixel = nullptr;
        lower::Report(err, reporter, 5, "Unable to write device specific pixel");
        status = -1;
      }
    }
    return status;
  }
  if (Take(err, inner) || failed) {
    lower::Report(err, reporter, 4, "Unable to write device specific vector");
    return -1;
  }
  return 0;
}

int32_t eevg_Wrdota(Eevg_Drawing *drawing, int32_t column, int32_t y, int32_t coverage,
                    const Eevg_DeviceColor &colour, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_Wrdota";
  lower::Clear(err);
  if (colour.opacity == 0 || !Inside(drawing, column, y)) return 0;
  const int32_t row = drawing->deviceYMax - y;
  if (Eevg_HtfControl *strip = StripOf(drawing)) {
    const uint8_t level = static_cast<uint8_t>(std::clamp(coverage, 0, 255));
    if (eevg_HtfAntPoint(strip, &column, &row, &level, err) != 0) {
      lower::Report(err, reporter, 1, "Unable to write antialiased dot");
      return -1;
    }
    return 0;
  }
  Tile tile;
  const bool tiled = ActiveTile(drawing, tile);
  Eevg_Color c = PixelColour(colour, tiled ? &tile : nullptr, column, row);
  if (c.opacity == 0) return 0;
  const double position[2] = {static_cast<double>(column), static_cast<double>(row)};
  Eevg_GrIOInfo *io = drawing->grIOInfo;
  bool readFailed = false;
  if (io->getPixel) {
    Eevg_Color old = c;
    Eerr_ErrorReport *inner = nullptr;
    io->getPixel(io->userData, &old, position, &inner);
    if (Take(err, inner)) {
      lower::Report(err, reporter, 2, "Unable to read device specific pixel");
      readFailed = true;
    } else if (coverage < 255) {
      // Components outside 0..255 (a caller's, a damaged style's, or the device's) blend as the
      // nearest end of the range.
      const int32_t cover = std::clamp(coverage, 0, 255), keep = 255 - cover;
      auto blend = [&](int32_t now, int32_t before) {
        return (std::clamp(now, 0, 255) * cover + std::clamp(before, 0, 255) * keep) / 255;
      };
      c.red = blend(c.red, old.red);
      c.green = blend(c.green, old.green);
      c.blue = blend(c.blue, old.blue);
    }
  }
  Eerr_ErrorReport *inner = nullptr;
  if (eevg_WrDevPix(drawing, c, position, eevg_TestOpaque(c.opacity), &inner) != 0) {
    Take(err, inner);
    lower::Report(err, reporter, 3, "Unable to write device specific pixel");
    return -1;
  }
  // The pixel went out unblended; the failed read still reaches the caller.
  return readFailed ? -1 : 0;
}

int32_t eevg_Thinply(Eevg_Drawing *drawing, const Eevg_DeviceColor &colour, int32_t count,
                     const int32_t *points, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_Thinply";
  lower::Clear(err);
  if (colour.opacity == 0 || count < 1) return 0;
  Eevg_GrIOInfo *io = drawing->grIOInfo;
  if (Eevg_HtfControl *strip = StripOf(drawing)) {
    eevg_HtfColor(strip, colour);
  } else if (!drawing->antiAlias && io->putVector) {
    const Eevg_Color c = ToColor(colour);
    for (int32_t k = 0; k < count; ++k) {
      const double start[2] = {static_cast<double>(points[2 * k]),
                               static_cast<double>(drawing->deviceYMax - points[2 * k + 1])};
      const double end[2] = {static_cast<double>(points[2 * k + 2]),
                             static_cast<double>(drawing->deviceYMax - points[2 * k + 3])};
      Eerr_ErrorReport *inner = nullptr;
      io->putVector(io->userData, &c, start, end, &inner);
      if (Take(err, inner)) return -1;
    }
    return 0;
  }
  int64_t x = points[0], y = points[1];
  if (eevg_Wrdot(drawing, points[0], points[1], colour, err) != 0) {
    lower::Report(err, reporter, 1, "Unable to begin thin polyline");
    return -1;
  }
  for (int32_t k = 1; k <= count; ++k) {
    const int64_t dx = points[2 * k] - x, dy = points[2 * k + 1] - y;
    if (dx == 0 && dy == 0) continue;
    bool major = true;
    const int32_t status = Walk(x, y, dx, dy, [&](int64_t px, int64_t py, bool alongX) {
      major = alongX;
      return eevg_Wrdot(drawing, static_cast<int32_t>(px), static_cast<int32_t>(py), colour,
                        err) == 0;
    });
    if (status != 0) {
      lower::Report(err, reporter, major ? 2 : 3,
                    major ? "Unable to continue thin polyline(x)"
                          : "Unable to continue thin polyline(y)");
      return -1;
    }
    x = points[2 * k];
    y = points[2 * k + 1];
  }
  return 0;
}

int32_t eevg_ThinVector(Eevg_Drawing *drawing, const Eevg_DeviceColor &colour,
                        const int32_t *segment, Eerr_ErrorReport **err) {
  lower::Clear(err);
  int32_t s[4] = {segment[0], segment[1], segment[2], segment[3]};
  int32_t swaps = 0, clipped = 0;
  if (!eevg_Clip(&s[0], &s[1], &s[2], &s[3], drawing->subClipXMin, drawing->subClipYMin,
                 drawing->subClipXMax, drawing->subClipYMax, &swaps, &clipped))
    return 0;
  for (int32_t &v : s) v >>= drawing->subPixelShift;
  if (eevg_Thinply(drawing, colour, 1, s, err) != 0) {
    lower::Report(err, "eevg_ThinVector", 1, "Unable to draw thin vector");
    return -1;
  }
  return 0;
}

int32_t eevg_ThinPoly(Eevg_Drawing *drawing, const Eevg_DeviceColor &colour, int32_t count,
                      const int32_t *points, Eerr_ErrorReport **err) {
  lower::Clear(err);
  int32_t status = 0;
  for (int32_t k = 0; k < count; ++k) {
    Eerr_ErrorReport *inner = nullptr;
    if (eevg_ThinVector(drawing, colour, points + 2 * k, &inner) != 0) {
      Take(err, inner);
      lower::Report(err, "eevg_ThinPoly", 1, "Unable to draw thin polyline");
      status = -1;
    }
  }
  return status;
}

int32_t eevg_WrPix(Eevg_Drawing *drawing, int32_t penWidth, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (drawing->traceColour.opacity == 0) return 0;
  const int32_t column = drawing->traceX >> drawing->subPixelShift;
  const int32_t y = drawing->traceY >> drawing->subPixelShift;
  if (column == drawing->traceLastColumn && y == drawing->traceLastRow) return 0;
  int32_t status;
  if (penWidth < 2) {
    status = eevg_Wrdot(drawing, column, y, drawing->traceColour, err);
  } else {
    status = eevg_WrHlin(drawing, column, y, 2, drawing->traceColour, err);
    if (status == 0) status = eevg_WrHlin(drawing, column, y + 1, 2, drawing->traceColour, err);
  }
  if (status != 0) {
    lower::Report(err, "eevg_WrPix", 1, "Unable to write pixel");
    return -1;
  }
  drawing->traceLastColumn = column;
  drawing->traceLastRow = y;
  return 0;
}

int32_t eevg_HrpLine(Eevg_Drawing *drawing, const Eevg_DeviceColor &colour,
                     const int32_t *points, int32_t count, int32_t width, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_HrpLine";
  lower::Clear(err);
  if (colour.opacity == 0 || count < 2) return 0;
  const int32_t penWidth = width >> drawing->subPixelShift;
  if (penWidth < 2) return eevg_ThinPoly(drawing, colour, count - 1, points, err);
  drawing->traceColour = colour;
  if (Eevg_HtfControl *strip = StripOf(drawing)) eevg_HtfColor(strip, colour);
  drawing->traceLastColumn = kNoPixel;
  drawing->traceLastRow = kNoPixel;
  drawing->traceX = points[0];
  drawing->traceY = points[1];
  if (eevg_WrPix(drawing, penWidth, err) != 0) {
    lower::Report(err, reporter, 1, "Unable to write first pixel");
    return -1;
  }
  for (int32_t k = 1; k < count; ++k) {
    const int64_t dx = static_cast<int64_t>(points[2 * k]) - drawing->traceX;
    const int64_t dy = static_cast<int64_t>(points[2 * k + 1]) - drawing->traceY;
    if (dx == 0 && dy == 0) continue;
    const int32_t status =
        Walk(drawing->traceX, drawing->traceY, dx, dy, [&](int64_t px, int64_t py, bool) {
          drawing->traceX = static_cast<int32_t>(px);
          drawing->traceY = static_cast<int32_t>(py);
          return eevg_WrPix(drawing, penWidth, err) == 0;
        });
    if (status != 0) {
      lower::Report(err, reporter, 2, "Unable to write line pixel");
      return -1;
    }
  }
  return 0;
}

// A ring traced wider than the pen: a run of wide segments of the trace's width.
int32_t TraceWideRing(Eevg_Drawing *drawing, const Eevg_DeviceColor &colour,
                      const int32_t *points, int32_t count, int32_t width,
                      Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_TracePolygon";
  lower::Clear(err);
  if (eevg_StartWidePolygon(drawing, count, width, colour, err) != 0) {
    lower::Report(err, reporter, 2, "Unable to start wide trace polygon");
    return -1;
  }
  for (int32_t i = 0; i + 1 < count; ++i) {
    if (eevg_LOWideLine(drawing, points + 2 * static_cast<std::ptrdiff_t>(i), err) != 0) {
      lower::Report(err, reporter, 3, "Unable to draw wide trace polygon segment");
      return -1;
    }
  }
  if (eevg_EndWidePolygon(drawing, err) != 0) {
    lower::Report(err, reporter, 4, "Unable to complete wide trace polygon");
    return -1;
  }
  return 0;
}

int32_t eevg_TracePolygon(Eevg_Drawing *drawing, int32_t ringCount, const int32_t *starts,
                          const int32_t *points, const Eevg_DeviceColor &colour, int32_t width,
                          Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (colour.opacity == 0) return 0;
  for (int32_t r = 0; r < ringCount; ++r) {
    drawing->traceLastColumn = kNoPixel;
    drawing->traceLastRow = kNoPixel;
    const int32_t *ring = points + 2 * static_cast<std::ptrdiff_t>(starts[r]);
    const int32_t count = starts[r + 1] - starts[r];
    if (!drawing->antiAlias && width < 24) {
      if (eevg_HrpLine(drawing, colour, ring, count, width, err) != 0) {
        lower::Report(err, "eevg_TracePolygon", 1, "Unable to trace polygon");
        return -1;
      }
    } else if (TraceWideRing(drawing, colour, ring, count, width, err) != 0) {
      return -1;
    }
  }
  return 0;
}

} // namespace taviron::graphics

extern "C" {

int32_t eevg_Clip(int32_t *x0, int32_t *y0, int32_t *x1, int32_t *y1, int32_t xMin, int32_t yMin,
                  int32_t xMax, int32_t yMax, int32_t *swapCount, int32_t *clipped) try {
  *swapCount = 0;
  *clipped = 0;
  auto code = [&](int32_t x, int32_t y) {
    return (x < xMin ? 1 : 0) | (x > xMax ? 2 : 0) | (y < yMin ? 4 : 0) | (y > yMax ? 8 : 0);
  };
  // Each pass moves an end onto a boundary along the segment; four passes per end suffice.
  for (int pass = 0; pass < 16; ++pass) {
    int32_t c0 = code(*x0, *y0);
    const int32_t c1 = code(*x1, *y1);
    if (c0 & c1) return 0;
    if (c0 == 0 && c1 == 0) return 1;
    if (c0 == 0) {
      std::swap(*x0, *x1);
      std::swap(*y0, *y1);
      ++*swapCount;
      c0 = c1;
    }
    const double dx = static_cast<double>(*x1) - *x0, dy = static_cast<double>(*y1) - *y0;
    if (c0 & 12) {
      const int32_t edge = (c0 & 8) ? yMax : yMin;
      *x0 = static_cast<int32_t>(*x0 + std::trunc((static_cast<double>(edge) - *y0) * dx / dy));
      *y0 = edge;
    } else {
      const int32_t edge = (c0 & 2) ? xMax : xMin;
      *y0 = static_cast<int32_t>(*y0 + std::trunc((static_cast<double>(edge) - *x0) * dy / dx));
      *x0 = edge;
    }
    *clipped = 1;
  }
  return 0;
} TAVIRON_GUARD_QUIET(0)

} // extern "C"
