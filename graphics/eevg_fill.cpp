// The scan filler: closed rings of sub-pixel points are offered to the device's own polygon
// callbacks and otherwise scan-converted with 4 x 4 samples per pixel and the even-odd rule.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "eevg.h"
#include "eevg_htf.h"
#include "eevg_internal.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace taviron::graphics {
namespace {

constexpr int32_t kCrossingGrowth = 8;

Eevg_HtfControl *StripOf(const Eevg_Drawing *drawing) {
  return drawing->stripFileInUse && drawing->stripFile
             ? static_cast<Eevg_HtfControl *>(drawing->stripFile)
             : nullptr;
}

// Asks one polygon callback; its report is kept only when it drew the shape.
int32_t Ask(Eevg_PutPolygonFunction callback, Eevg_GrIOInfo *io, Eevg_FillPattern *pattern,
            int32_t ringCount, const int32_t *starts, const int32_t *points,
            Eerr_ErrorReport **err) {
  if (!callback) return 0;
  Eerr_ErrorReport *inner = nullptr;
  const int32_t done = callback(io->userData, pattern, ringCount, starts, points, &inner);
  if (done && err) {
    eerr_DeleteErrorReportEx(err);
    *err = inner;
  } else {
    eerr_DeleteErrorReportEx(&inner);
  }
  return done;
}

// One edge in quarter pixels, clipped to the rows [yLow, yHigh]; false when nothing is left or
// the edge is horizontal. The first end is the lower one.
bool QuarterEdge(const int32_t *a, const int32_t *b, int32_t yLow, int32_t yHigh, int32_t &xf,
                 int32_t &yf, int32_t &xl, int32_t &yl) {
  int32_t x0 = a[0] >> 1, y0 = a[1] >> 1, x1 = b[0] >> 1, y1 = b[1] >> 1;
  if (!eevg_AFillerClip(&x0, &y0, &x1, &y1, 0, yLow, 0, yHigh) || y0 == y1) return false;
  if (y0 < y1) {
    xf = x0, yf = y0, xl = x1, yl = y1;
  } else {
    xf = x1, yf = y1, xl = x0, yl = y0;
  }
  return true;
}

// Ascending order: insertion for the few crossings of most lines, otherwise a byte-wise radix
// sort through scratch (room for n) over the bytes in which the crossings differ.
void SortCrossings(int32_t *x, int32_t n, int32_t *scratch) {
  if (n <= 32) {
    for (int32_t i = 1; i < n; ++i) {
      const int32_t v = x[i];
      int32_t j = i;
      for (; j > 0 && x[j - 1] > v; --j) x[j] = x[j - 1];
      x[j] = v;
    }
    return;
  }
  // Bytes above the highest bit in which the smallest and largest crossing differ are shared.
  int32_t low = x[0], high = x[0];
  for (int32_t i = 1; i < n; ++i) {
    low = std::min(low, x[i]);
    high = std::max(high, x[i]);
  }
  const uint32_t differ = static_cast<uint32_t>(low) ^ static_cast<uint32_t>(high);
  const int32_t bits = differ ? 32 - __builtin_clz(differ) : 0;
  int32_t *from = x, *to = scratch;
  for (int32_t shift = 0; shift < bits; shift += 8) {
    int32_t counts[256] = {};
    // The sign bit is flipped so that negative positions come first.
    auto digit = [shift](int32_t v) {
      return (static_cast<uint32_t>(v) ^ 0x80000000u) >> shift & 0xFFu;
    };
    for (int32_t i = 0; i < n; ++i) ++counts[digit(from[i])];
    if (counts[digit(from[0])] == n) continue;
    for (int32_t d = 0, sum = 0; d < 256; ++d) {
      const int32_t c = counts[d];
      counts[d] = sum;
      sum += c;
    }
    for (int32_t i = 0; i < n; ++i) to[counts[digit(from[i])]++] = from[i];
    std::swap(from, to);
  }
  if (from != x) std::memcpy(x, from, sizeof(int32_t) * n);
}

// The samples of one pixel row: the partial columns at the ends of each span go straight into
// the coverage bytes, the whole columns between them into a running difference (4 per column
// and quarter-line) that is added up once when the row is written.
struct RowSamples {
  uint8_t *coverage;
  int32_t *delta; // indexed from the fill's first column, one entry past its last
  int32_t first;
  int32_t low = INT32_MAX, high = INT32_MIN; // columns touched
  bool marked = false;

  // Positions s..e (quarter pixels, both included).
  void AddSpan(int32_t s, int32_t e) {
    const int32_t cs = s >> 2, ce = e >> 2;
    low = std::min(low, cs);
    high = std::max(high, ce);
    if (cs == ce) {
      coverage[cs] = static_cast<uint8_t>(coverage[cs] + (e - s + 1));
      return;
    }
    coverage[cs] = static_cast<uint8_t>(coverage[cs] + (4 - (s & 3)));
    coverage[ce] = static_cast<uint8_t>(coverage[ce] + ((e & 3) + 1));
    delta[cs + 1 - first] += 4;
    delta[ce - first] -= 4;
  }
  // Adds the whole columns into the coverage bytes and clears the differences.
  void Settle() {
    int32_t run = 0;
    for (int32_t c = low; c <= high; ++c) {
      run += delta[c - first];
      delta[c - first] = 0;
      coverage[c] = static_cast<uint8_t>(coverage[c] + run);
    }
  }
};

// The crossing table of one fill: one entry per quarter-line, their first crossings in one pool.
struct CrossingTable {
  Eevg_CrossingArray *lines = nullptr;
  int32_t *pool = nullptr;
  int32_t count = 0;
  ~CrossingTable() {
    for (int32_t i = 0; lines && i < count; ++i)
      if (lines[i].owned) emsc_HeapFree(lines[i].x);
    emsc_HeapFree(lines);
    emsc_HeapFree(pool);
  }
};

} // namespace

int32_t eevg_GetMoreRoom(Eevg_CrossingArray *array, Eerr_ErrorReport **err) {
  lower::Clear(err);
  const int64_t capacity = static_cast<int64_t>(array->capacity) + kCrossingGrowth;
  int32_t *x = capacity > INT32_MAX ? nullptr
                                    : static_cast<int32_t *>(emsc_HeapMalloc(
                                          static_cast<std::size_t>(capacity) * sizeof(int32_t)));
  if (!x) {
    lower::Report(err, "eevg_GetMoreRoom", 1, "Out of Memory");
    return 0;
  }
  if (array->count > 0) std::memcpy(x, array->x, sizeof(int32_t) * array->count);
  if (array->owned) emsc_HeapFree(array->x);
  array->x = x;
  array->capacity = static_cast<int32_t>(capacity);
  array->owned = 1;
  return 1;
}

int32_t eevg_AntLine(Eevg_Drawing *drawing, uint8_t *coverage, int32_t first, int32_t last,
                     int32_t y, const Eevg_DeviceColor &colour, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_AntLine";
  lower::Clear(err);
  Eevg_HtfControl *strip = StripOf(drawing);
  const int32_t row = drawing->deviceYMax - y;
  const int32_t threshold = drawing->antiAlias ? 0 : drawing->antiAliasMask;
  for (int32_t c = first; c <= last;) {
    if (coverage[c] <= threshold) {
      ++c;
      continue;
    }
    int32_t end = c;
    while (end + 1 <= last && coverage[end + 1] > threshold) ++end;
    const int32_t count = end - c + 1;
    if (drawing->antiAlias) {
      for (int32_t k = c; k <= end; ++k)
        coverage[k] = coverage[k] >= 16 ? 255 : static_cast<uint8_t>(16 * coverage[k]);
      if (strip) {
        if (eevg_HtfAntHseg(strip, &c, &row, &count, coverage + c, err) != 0) {
          lower::Report(err, reporter, 1, "Unable to complete antialiased line");
          return -1;
        }
      } else {
        for (int32_t k = c; k <= end; ++k) {
          if (eevg_Wrdota(drawing, k, y, coverage[k], colour, err) != 0) {
            lower::Report(err, reporter, 2, "Unable to complete line");
            return -1;
          }
        }
      }
    } else {
      const int32_t status = strip ? eevg_HtfHseg(strip, &c, &row, &count, err)
                                   : eevg_WrHlin(drawing, c, y, count, colour, err);
      if (status != 0) {
        lower::Report(err, reporter, 2, "Unable to complete line");
        return -1;
      }
    }
    c = end + 1;
  }
  return 0;
}

int32_t eevg_AFiller(Eevg_Drawing *drawing, int32_t ringCount, const int32_t *starts,
                     const int32_t *points, const Eevg_DeviceColor &colour, int32_t yMin,
                     int32_t yMax, int32_t xMin, int32_t xMax, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_AFiller";
  lower::Clear(err);
  uint8_t *coverage = eevg_DrawingGetScanLineBuf(drawing, err);
  if (!coverage) return -1;
  if (ringCount < 1 || yMin > drawing->subClipYMax || yMax < drawing->subClipYMin ||
      xMin > drawing->subClipXMax || xMax < drawing->subClipXMin)
    return 0;

  const int32_t first = std::max(xMin >> 3, drawing->clipXMin);
  const int32_t last = static_cast<int32_t>(
      std::min<int64_t>((static_cast<int64_t>(xMax) + 7) >> 3, drawing->clipXMax));
  if (first > last) return 0;
  // Samples are counted only inside the clip window and the box's columns.
  const int32_t left = 4 * first;
  const int32_t right = 4 * last + 3;

  // Edges are clipped to the quarter-lines the clip window reaches (from the last one of the row
  // below it, where an edge cut there counts twice, up to the first one of the row above it);
  // the table holds only those of them that the box covers, so a vertex far outside the window
  // costs nothing.
  const int32_t yLow = 4 * drawing->clipYMin - 1;
  const int32_t yHigh = 4 * drawing->clipYMax + 4;
  const int32_t base = std::max(4 * (yMin >> 3), yLow);
  const int32_t top = std::min(yMax >> 1, yHigh);
  const int32_t lastLine = std::min(yMax >> 1, yHigh - 1);
  if (top < base) return 0;

  CrossingTable table;
  table.count = top - base + 1;
  table.lines = static_cast<Eevg_CrossingArray *>(
      emsc_HeapMalloc(sizeof(Eevg_CrossingArray) * (static_cast<std::size_t>(table.count) + 1)));
  if (!table.lines) {
    lower::Report(err, reporter, 1, "Out of memory for ScanLines");
    return -1;
  }

  // First pass: how many crossings each quarter-line receives (the first end's line gets one
  // more), counted as differences in the capacity words.
  int32_t xf, yf, xl, yl;
  for (int32_t r = 0; r < ringCount; ++r) {
    for (int32_t i = starts[r]; i + 1 < starts[r + 1]; ++i) {
      if (!QuarterEdge(points + 2 * static_cast<std::ptrdiff_t>(i),
                       points + 2 * static_cast<std::ptrdiff_t>(i) + 2, base, top, xf, yf, xl,
                       yl))
        continue;
      table.lines[yf - base].capacity += 2;
      table.lines[yf - base + 1].capacity -= 1;
      table.lines[yl - base + 1].capacity -= 1;
    }
  }
  int64_t total = 0;
  int32_t widest = 0;
  for (int32_t i = 0, running = 0; i < table.count; ++i) {
    running += table.lines[i].capacity;
    table.lines[i].capacity = std::max(running, kCrossingGrowth);
    widest = std::max(widest, table.lines[i].capacity);
    total += table.lines[i].capacity;
  }
  // The pool also holds the row's column differences and the sort's scratch room.
  const int64_t extra = static_cast<int64_t>(last) - first + 2 + widest;
  if ((total + extra) * static_cast<int64_t>(sizeof(int32_t)) > INT32_MAX ||
      !(table.pool = static_cast<int32_t *>(
            emsc_HeapMalloc(static_cast<std::size_t>(total + extra) * sizeof(int32_t))))) {
    lower::Report(err, reporter, 2, "Out of memory for intersect array");
    return -1;
  }
  int32_t *slice = table.pool;
  for (int32_t i = 0; i < table.count; ++i) {
    table.lines[i].x = slice;
    slice += table.lines[i].capacity;
  }

  // Second pass: the crossings. Each edge gives its first line xf twice and every further line
  // down to its last one once, so that a vertex between two edges keeps the parity right.
  auto append = [&](Eevg_CrossingArray &line, int32_t x) {
    if (line.count == line.capacity && !eevg_GetMoreRoom(&line, err)) return false;
    line.x[line.count++] = x;
    return true;
  };
  for (int32_t r = 0; r < ringCount; ++r) {
    for (int32_t i = starts[r]; i + 1 < starts[r + 1]; ++i) {
      if (!QuarterEdge(points + 2 * static_cast<std::ptrdiff_t>(i),
                       points + 2 * static_cast<std::ptrdiff_t>(i) + 2, base, top, xf, yf, xl,
                       yl))
        continue;
      // x at line yf + k is xf + trunc(k * (xl - xf) / (yl - yf)), stepped exactly.
      const int64_t dy = static_cast<int64_t>(yl) - yf;
      const int64_t dx = static_cast<int64_t>(xl) - xf;
      const int64_t adx = dx < 0 ? -dx : dx;
      const int64_t whole = adx / dy, part = adx % dy;
      const int64_t sign = dx < 0 ? -1 : 1;
      int64_t q = 0, rem = 0;
      Eevg_CrossingArray *line = &table.lines[yf - base];
      if (!append(*line, xf)) {
        lower::Report(err, reporter, 3, "Unable to fill");
        return -1;
      }
      for (int64_t k = 0; k <= dy; ++k, ++line) {
        if (!append(*line, static_cast<int32_t>(xf + sign * q))) {
          lower::Report(err, reporter, 3, "Unable to fill");
          return -1;
        }
        q += whole;
        rem += part;
        if (rem >= dy) {
          ++q;
          rem -= dy;
        }
      }
    }
  }

  std::memset(coverage, 0, static_cast<std::size_t>(drawing->deviceXMax) + 1);
  RowSamples samples{coverage, slice, first};
  // Writes the row when it holds coverage; the coverage bytes are left clear for the next one.
  auto writeRow = [&](int32_t rowY) {
    if (!samples.marked) return true;
    samples.marked = false;
    if (samples.low > samples.high) return true;
    samples.Settle();
    const int32_t low = samples.low, high = samples.high;
    samples.low = INT32_MAX;
    samples.high = INT32_MIN;
    if (rowY >= drawing->clipYMin && rowY <= drawing->clipYMax &&
        eevg_AntLine(drawing, coverage, low, high, rowY, colour, err) != 0) {
      lower::Report(err, reporter, 3, "Unable to fill");
      return false;
    }
    std::memset(coverage + low, 0, static_cast<std::size_t>(high - low) + 1);
    return true;
  };
  for (int32_t q = base; q <= lastLine; ++q) {
    Eevg_CrossingArray &line = table.lines[q - base];
    if (line.count >= 2) {
      int32_t *x = line.x;
      SortCrossings(x, line.count, slice + (last - first + 2));
      const int32_t n = line.count & ~1;
      int32_t i = 0;
      while (i < n && x[i + 1] < left) i += 2;
      for (; i < n; i += 2) {
        const int32_t s = std::max(x[i], left);
        const int32_t e = x[i + 1];
        if (s > right) break;
        // The zero-length pairs of a vertex at the same end are counted once.
        while (i + 3 < n && x[i + 3] == e) i += 2;
        samples.AddSpan(s, std::min(e, right));
      }
      samples.marked = true;
    }
    if ((q & 3) == 3 && !writeRow(q >> 2)) return -1;
  }
  if (!writeRow(lastLine >> 2)) return -1;
  return 0;
}

int32_t eevg_LOFiller(Eevg_Drawing *drawing, int32_t ringCount, const int32_t *starts,
                      const int32_t *points, const Eevg_DeviceColor &colour,
                      Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (ringCount < 1 || starts[ringCount] < 1) return 0;
  int32_t xMin = INT32_MAX, yMin = INT32_MAX, xMax = INT32_MIN, yMax = INT32_MIN;
  for (int32_t i = 0; i < starts[ringCount]; ++i) {
    xMin = std::min(xMin, points[2 * i]);
    xMax = std::max(xMax, points[2 * i]);
    yMin = std::min(yMin, points[2 * i + 1]);
    yMax = std::max(yMax, points[2 * i + 1]);
  }

  if (Eevg_HtfControl *strip = StripOf(drawing)) {
    eevg_HtfColor(strip, colour);
  } else {
    Eevg_GrIOInfo *io = drawing->grIOInfo;
    int32_t done = 0;
    if (Eevg_FillPattern *pattern = drawing->fillPattern) {
      Eevg_Color *own = pattern->color;
      if (drawing->overrideActive) pattern->color = &drawing->overrideColour;
      const bool opaque = !pattern->color || eevg_TestOpaque(pattern->color->opacity);
      done = Ask(io->putPatternPolygon, io, pattern, ringCount, starts, points, err);
      if (!done && !opaque)
        done = Ask(io->putPolygonOpacity, io, pattern, ringCount, starts, points, err);
      if (!done && pattern->usePattern != 1 && (opaque || drawing->opaqueFallback))
        done = Ask(io->putPolygon, io, pattern, ringCount, starts, points, err);
      pattern->color = own;
    } else {
      Eevg_Color c = drawing->overrideActive
                         ? drawing->overrideColour
                         : Eevg_Color{colour.index, colour.red, colour.green, colour.blue,
                                      colour.opacity};
      Eevg_FillPattern solid{};
      solid.color = &c;
      if (eevg_TestOpaque(c.opacity)) {
        done = Ask(io->putPolygon, io, &solid, ringCount, starts, points, err);
      } else {
        done = Ask(io->putPolygonOpacity, io, &solid, ringCount, starts, points, err);
        if (!done && drawing->opaqueFallback)
          done = Ask(io->putPolygon, io, &solid, ringCount, starts, points, err);
      }
    }
    if (done) return 0;
  }

  if (eevg_AFiller(drawing, ringCount, starts, points, colour, yMin, yMax, xMin, xMax, err) != 0) {
    lower::Report(err, "eevg_LOFiller", 1, "Unable to complete fill");
    return -1;
  }
  return 0;
}

} // namespace taviron::graphics

extern "C" {

int32_t eevg_AFillerClip(int32_t *x0, int32_t *y0, int32_t *x1, int32_t *y1, int32_t, int32_t yMin,
                         int32_t, int32_t yMax) try {
  auto code = [&](int32_t y) { return (y < yMin ? 4 : 0) | (y > yMax ? 8 : 0); };
  for (int pass = 0; pass < 4; ++pass) {
    int32_t c0 = code(*y0);
    const int32_t c1 = code(*y1);
    if (c0 & c1) return 0;
    if (c0 == 0 && c1 == 0) return 1;
    if (c0 == 0) {
      std::swap(*x0, *x1);
      std::swap(*y0, *y1);
      c0 = c1;
    }
    const int32_t edge = (c0 & 8) ? yMax : yMin;
    // The product of a y and an x distance needs more than 64 bits at the extremes.
    const __int128 moved = static_cast<__int128>(static_cast<int64_t>(edge) - *y0) *
                           (static_cast<int64_t>(*x1) - *x0) /
                           (static_cast<int64_t>(*y1) - *y0);
    *x0 = static_cast<int32_t>(*x0 + moved);
    *y0 = edge;
  }
  return 0;
} TAVIRON_GUARD_QUIET(0)

int eevg_compare(const void *a, const void *b) try {
  const int32_t x = *static_cast<const int32_t *>(a), y = *static_cast<const int32_t *>(b);
  return x > y ? 1 : (x < y ? -1 : 0);
} TAVIRON_GUARD_QUIET(0)

} // extern "C"
