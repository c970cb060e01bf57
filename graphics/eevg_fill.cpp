// The scan filler: closed rings of sub-pixel points are offered to the device's own polygon
// callbacks and otherwise scan-converted with 4 x 4 samples per pixel and the even-odd rule.
// Each quarter-line's crossings (every edge crossing it, and once more the first crossing of each
// edge starting on it) come sorted from an active-edge list, or, for a ring monotone in y, from
// its two chains of edges; the pixels are those of a table of crossings per quarter-line sorted
// line by line.
#include <algorithm>
#include <bit>
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
  if (y0 == y1) return false;
  // Most edges lie within the rows: the clip leaves them as they are.
  if ((y0 < yLow || y0 > yHigh || y1 < yLow || y1 > yHigh) &&
      (!eevg_AFillerClip(&x0, &y0, &x1, &y1, 0, yLow, 0, yHigh) || y0 == y1))
    return false;
  if (y0 < y1) {
    xf = x0, yf = y0, xl = x1, yl = y1;
  } else {
    xf = x1, yf = y1, xl = x0, yl = y0;
  }
  return true;
}

// An edge walked from quarter-line to quarter-line: at line yf + k its crossing is
// xf + trunc(k * (xl - xf) / (yl - yf)), stepped exactly in integers.
struct EdgeWalk {
  int32_t yf = 0, yl = 0;
  int64_t xf = 0, sign = 1, whole = 0, part = 0, dy = 1, q = 0, rem = 0;
  void Start(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    yf = y0;
    yl = y1;
    xf = x0;
    dy = static_cast<int64_t>(y1) - y0;
    const int64_t dx = static_cast<int64_t>(x1) - x0;
    // Differences of 32-bit values: their sizes fit 32 bits unsigned.
    const uint32_t adx = static_cast<uint32_t>(dx < 0 ? -dx : dx);
    whole = adx / static_cast<uint32_t>(dy);
    part = adx % static_cast<uint32_t>(dy);
    sign = dx < 0 ? -1 : 1;
    q = rem = 0;
  }
  int32_t X() const { return static_cast<int32_t>(xf + sign * q); }
  void Step() {
    rem += part;
    const int64_t carry = static_cast<int64_t>(rem >= dy);
    q += whole + carry;
    rem -= dy & -carry;
  }
};

// The filler's memory, kept in the drawing from fill to fill: the coverage bytes (the scan-line
// buffer, one per device column), the column differences of the row being counted (one per
// column and one past the last) and the room of the edges and the active-edge list of the
// general walk. The coverage bytes and the differences are all zero between fills: each row
// clears the columns it touched.
struct Scratch {
  uint8_t *coverage = nullptr;
  int32_t *delta = nullptr;
  unsigned char *table = nullptr; // room for the edges and the active-edge list
};

std::size_t Align(std::size_t n) { return (n + 15) & ~static_cast<std::size_t>(15); }

// Makes the drawing's scan-line block hold the coverage, the differences and tableBytes more;
// false when memory runs out (the block is kept as it was).
bool ReserveScratch(Eevg_Drawing *drawing, std::size_t tableBytes, Scratch &scratch) {
  const std::size_t columns = static_cast<std::size_t>(std::max(drawing->deviceWidth, 1));
  const std::size_t deltaAt = Align(columns);
  const std::size_t tableAt = deltaAt + Align((columns + 2) * sizeof(int32_t));
  const std::size_t wanted = tableAt + tableBytes;
  const std::size_t held = drawing->scanLineBytes > 0 ? static_cast<std::size_t>(drawing->scanLineBytes)
                                                 : columns;
  if (wanted > held) {
    // Grown by half at least, so that a run of growing fills reallocates rarely.
    constexpr std::size_t kLimit = INT32_MAX;
    if (wanted > kLimit) return false;
    const std::size_t grown = std::min(std::max(wanted, held + held / 2), kLimit);
    void *block = emsc_HeapRealloc(drawing->scanLineBuffer, grown);
    if (!block) return false;
    drawing->scanLineBuffer = static_cast<uint8_t *>(block);
    drawing->scanLineBytes = static_cast<int64_t>(grown);
  }
  unsigned char *base = drawing->scanLineBuffer;
  scratch.coverage = base;
  scratch.delta = reinterpret_cast<int32_t *>(base + deltaAt);
  scratch.table = base + tableAt;
  return true;
}

// An empty run of whole columns.
constexpr int32_t kNoColumn = -2;

// The spans of one quarter-line's crossings (sorted, count at least 2), cut to the positions
// left..right: pairs in order, an odd last crossing ignored, the zero-length pairs of a vertex
// at the end of a span counted once. Calls span(s, e) for each, left to right.
template <typename Span>
void ForEachSpan(const int32_t *x, int32_t count, int32_t left, int32_t right, Span span) {
  const int32_t n = count & ~1;
  int32_t i = 0;
  while (i < n && x[i + 1] < left) i += 2;
  for (; i < n; i += 2) {
    const int32_t s = std::max(x[i], left);
    const int32_t e = x[i + 1];
    if (s > right) break;
    while (i + 3 < n && x[i + 3] == e) i += 2;
    span(s, std::min(e, right));
  }
}

// The samples of one pixel row: the partial columns at the ends of each span go straight into
// the coverage bytes, the whole columns between them into a running difference (4 per column
// and quarter-line) that is added up once when the row is written. A run of columns that all
// four quarter-lines cover whole (fullFrom..fullTo) may be left out of the bytes altogether.
struct RowSamples {
  uint8_t *coverage;
  int32_t *delta; // indexed by column
  int32_t low = INT32_MAX, high = INT32_MIN; // columns touched
  int32_t fullFrom = kNoColumn, fullTo = kNoColumn - 1;
  bool marked = false;
  bool settled = false; // the bytes hold the counts already, no differences are pending

  // Positions s..e (quarter pixels, both included). A span within one column takes the same
  // steps: the difference of -4 at that column takes back the 4 too many.
  void AddSpan(int32_t s, int32_t e) {
    // Held in locals: a byte store could otherwise be taken to change the members.
    uint8_t *const bytes = coverage;
    int32_t *const differences = delta;
    const int32_t cs = s >> 2, ce = e >> 2;
    low = std::min(low, cs);
    high = std::max(high, ce);
    differences[cs + 1] += 4;
    differences[ce] -= 4;
    bytes[cs] = static_cast<uint8_t>(bytes[cs] + (4 - (s & 3)));
    bytes[ce] = static_cast<uint8_t>(bytes[ce] + ((e & 3) + 1));
  }
  void AddLine(const int32_t *x, int32_t count, int32_t left, int32_t right) {
    ForEachSpan(x, count, left, right, [this](int32_t s, int32_t e) { AddSpan(s, e); });
    marked = true;
  }
  // Adds the whole columns into the coverage bytes and clears the differences (the one past
  // the last column, of a span within that column, too).
  void Settle(int32_t from, int32_t to) {
    if (from > to) return;
    int32_t run = 0;
    for (int32_t c = from; c <= to; ++c) {
      run += delta[c];
      delta[c] = 0;
      coverage[c] = static_cast<uint8_t>(coverage[c] + run);
    }
    delta[to + 1] = 0;
  }
  void Settle() {
    if (settled) {
      settled = false;
    } else if (fullFrom <= fullTo) {
      Settle(low, fullFrom - 1);
      Settle(fullTo + 1, high);
    } else {
      Settle(low, high);
    }
  }
};

// The first column from c to limit whose byte is above the threshold (above is true) or at or
// below it (above is false); limit + 1 when there is none. Eight bytes at a time where the
// threshold is one below a power of two (0 and 7 are): a byte is above it when it has a bit
// outside it.
int32_t FindLevel(const uint8_t *bytes, int32_t c, int32_t limit, int32_t threshold, bool above) {
  if constexpr (std::endian::native == std::endian::little) {
    if (threshold >= 0 && threshold < 255 && (threshold & (threshold + 1)) == 0) {
      const uint64_t outside = ~static_cast<uint64_t>(threshold) & 0xFF;
      const uint64_t mask = outside * 0x0101010101010101ull;
      constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full, kHigh = 0x8080808080808080ull;
      for (; c + 7 <= limit; c += 8) {
        uint64_t w;
        std::memcpy(&w, bytes + c, sizeof w);
        w &= mask;
        // The top bit of each byte: set where the byte is not zero.
        const uint64_t nonzero = (((w & kLow7) + kLow7) | w) & kHigh;
        const uint64_t hits = above ? nonzero : ~nonzero & kHigh;
        if (hits) return c + std::countr_zero(hits) / 8;
      }
    }
  }
  for (; c <= limit; ++c)
    if ((bytes[c] > threshold) == above) return c;
  return c;
}

// Writes one pixel row from the coverage counts of columns first..last, as eevg_AntLine does;
// the columns fullFrom..fullTo (none when fullFrom > fullTo) are full whatever their bytes hold:
// they count 16, and every count from 16 on comes out the same.
int32_t WriteCoverage(Eevg_Drawing *drawing, uint8_t *coverage, int32_t first, int32_t last,
                      int32_t fullFrom, int32_t fullTo, int32_t y,
                      const Eevg_DeviceColor &colour, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_AntLine";
  Eevg_HtfControl *strip = StripOf(drawing);
  if (fullFrom <= fullTo && strip) {
    // Strip records take their counts from the bytes.
    std::memset(coverage + fullFrom, 16, static_cast<std::size_t>(fullTo - fullFrom) + 1);
    fullFrom = kNoColumn;
    fullTo = kNoColumn - 1;
  }
  const bool whole = fullFrom <= fullTo;
  auto full = [&](int32_t c) { return c >= fullFrom && c <= fullTo; };
  const int32_t threshold = drawing->antiAlias ? 0 : drawing->antiAliasMask;
  // The first column from c on above the threshold (the whole ones are), or at or below it;
  // last + 1 when there is none.
  auto findAbove = [&](int32_t c) {
    if (whole && c <= fullTo) {
      if (c >= fullFrom) return c;
      const int32_t found = FindLevel(coverage, c, fullFrom - 1, threshold, true);
      return found < fullFrom ? found : fullFrom;
    }
    return FindLevel(coverage, c, last, threshold, true);
  };
  auto findBelow = [&](int32_t c) {
    if (whole && c <= fullTo) {
      if (c < fullFrom) {
        const int32_t found = FindLevel(coverage, c, fullFrom - 1, threshold, false);
        if (found < fullFrom) return found;
      }
      c = fullTo + 1;
    }
    return FindLevel(coverage, c, last, threshold, false);
  };
  // A fully covered anti-aliased pixel of an opaque plain colour is the colour itself: where
  // the device would take it through putPixel, runs of them go out as runs (one putVector)
  // instead of a read and a write per pixel.
  const Eevg_GrIOInfo *io = drawing->grIOInfo;
  const bool fullRuns = drawing->antiAlias && !strip && io->putPixel && io->putVector &&
                        !io->putVectorOpacity && colour.opacity > 254 &&
                        !(drawing->fillPattern && drawing->fillPattern->usePattern == 1);
  // The last column of the run of full pixels (255) from k (one) to at most end.
  auto fullEnd = [&](int32_t k, int32_t end) {
    int32_t to = full(k) ? fullTo : k;
    while (to < end) {
      if (to + 1 == fullFrom) {
        to = fullTo;
        continue;
      }
      const int32_t limit = whole && fullFrom > to && fullFrom <= end ? fullFrom - 1 : end;
      int32_t c = to + 1;
      for (; c <= limit && coverage[c] == 255; ++c) {
      }
      if (c <= limit) return c - 1;
      to = limit;
    }
    return to;
  };
  for (int32_t c = findAbove(first); c <= last; c = findAbove(c)) {
    const int32_t end = findBelow(c) - 1;
    const int32_t count = end - c + 1;
    if (drawing->antiAlias) {
      // Counts to coverage: 16 a sample, 255 for 16 or more.
      auto convert = [&](int32_t from, int32_t to) {
        for (int32_t k = from; k <= to; ++k)
          coverage[k] = coverage[k] >= 16 ? 255 : static_cast<uint8_t>(16 * coverage[k]);
      };
      if (whole && c <= fullTo && end >= fullFrom) {
        convert(c, fullFrom - 1);
        convert(fullTo + 1, end);
      } else {
        convert(c, end);
      }
      if (strip) {
        const int32_t row = drawing->deviceYMax - y;
        if (eevg_HtfAntHseg(strip, &c, &row, &count, coverage + c, err) != 0) {
          lower::Report(err, reporter, 1, "Unable to complete antialiased line");
          return -1;
        }
      } else {
        for (int32_t k = c; k <= end;) {
          int32_t status;
          if (fullRuns && (full(k) || coverage[k] == 255)) {
            const int32_t to = fullEnd(k, end);
            status = eevg_WrHlin(drawing, k, y, to - k + 1, colour, err);
            k = to + 1;
          } else {
            status = eevg_Wrdota(drawing, k, y, full(k) ? 255 : coverage[k], colour, err);
            ++k;
          }
          if (status != 0) {
            lower::Report(err, reporter, 2, "Unable to complete line");
            return -1;
          }
        }
      }
    } else {
      const int32_t row = drawing->deviceYMax - y;
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

// Clears the bytes of columns from..to: the few beside a run of whole columns one by one.
void Clear(uint8_t *bytes, int32_t from, int32_t to) {
  if (to - from < 8) {
    for (int32_t c = from; c <= to; ++c) bytes[c] = 0;
  } else {
    std::memset(bytes + from, 0, static_cast<std::size_t>(to - from) + 1);
  }
}

// What every walk of the quarter-lines shares: the window, the row being counted and its
// writing.
struct Scan {
  Eevg_Drawing *drawing;
  const Eevg_DeviceColor &colour;
  Eerr_ErrorReport **err;
  RowSamples samples;
  int32_t left, right; // quarter positions counted
  int32_t rowMin, rowMax; // the rows written
  CoverageMask *mask;     // takes the rows instead of the device when set

  // The row's counts into the mask (the whole columns as 16).
  void KeepRow(int32_t rowY, int32_t low, int32_t high, int32_t fullFrom, int32_t fullTo) {
    uint8_t *row = mask->counts + static_cast<std::ptrdiff_t>(rowY) * mask->width;
    std::memcpy(row + low, samples.coverage + low, static_cast<std::size_t>(high - low) + 1);
    if (fullFrom <= fullTo) std::memset(row + fullFrom, 16, static_cast<std::size_t>(fullTo - fullFrom) + 1);
  }

  // Writes the row when it holds coverage, and leaves its coverage bytes clear whatever
  // happens; false after a report.
  bool WriteRow(int32_t rowY) {
    if (!samples.marked) return true;
    samples.marked = false;
    if (samples.low > samples.high) return true;
    samples.Settle();
    const int32_t low = samples.low, high = samples.high;
    const int32_t fullFrom = samples.fullFrom, fullTo = samples.fullTo;
    samples.low = INT32_MAX;
    samples.high = INT32_MIN;
    samples.fullFrom = kNoColumn;
    samples.fullTo = kNoColumn - 1;
    int32_t status = 0;
    if (rowY >= rowMin && rowY <= rowMax) {
      if (mask)
        KeepRow(rowY, low, high, fullFrom, fullTo);
      else
        status = WriteCoverage(drawing, samples.coverage, low, high, fullFrom, fullTo, rowY,
                               colour, err);
    }
    // The bytes of the whole columns were never touched (but by a strip file's row).
    if (fullFrom <= fullTo && (mask || !StripOf(drawing))) {
      Clear(samples.coverage, low, fullFrom - 1);
      Clear(samples.coverage, fullTo + 1, high);
    } else {
      Clear(samples.coverage, low, high);
    }
    if (status != 0) {
      lower::Report(err, "eevg_AFiller", 3, "Unable to fill");
      return false;
    }
    return true;
  }
};

// A closed ring whose quarter-line ordinates (y >> 1) go up in one stretch and down in the
// other, split into those two chains of edges: the ascending chain from the lowest vertex on
// (count edges from its first edge, forward), the descending one from the lowest vertex back
// (its edges, walked backward, also go up).
struct MonotoneRing {
  int32_t lowest = 0, upCount = 0, downCount = 0, edges = 0;
};

bool SplitMonotone(const int32_t *points, int32_t count, MonotoneRing &ring) {
  if (count < 3 || points[0] != points[2 * count - 2] || points[1] != points[2 * count - 1])
    return false;
  const int32_t m = count - 1; // edges; edge i joins point i to point i + 1
  int32_t changes = 0, firstSign = 0, lastSign = 0, lowest = 0, lowestY = points[1] >> 1;
  for (int32_t i = 0; i < m; ++i) {
    const int32_t y0 = points[2 * i + 1] >> 1, y1 = points[2 * i + 3] >> 1;
    if (y0 < lowestY) lowestY = y0, lowest = i;
    const int32_t sign = (y1 > y0) - (y1 < y0);
    if (sign == 0) continue;
    if (lastSign != 0 && sign != lastSign && ++changes > 2) return false;
    if (firstSign == 0) firstSign = sign;
    lastSign = sign;
  }
  if (firstSign != 0 && firstSign != lastSign && ++changes > 2) return false;
  // From the lowest vertex the edges go up (or along) and then down (or along).
  int32_t up = 0;
  for (int32_t i = lowest; up < m; ++up, i = i + 1 == m ? 0 : i + 1)
    if ((points[2 * i + 3] >> 1) < (points[2 * i + 1] >> 1)) break;
  ring.lowest = lowest;
  ring.edges = m;
  ring.upCount = up;
  ring.downCount = m - up;
  return true;
}

// One chain of a monotone ring, its edges met in ascending order of their lines.
struct Chain {
  const int32_t *points;
  int32_t edges, next, step, remaining; // next edge index, +1 or -1, edges left to load
  int32_t yLow, yHigh;
  EdgeWalk edge;
  bool active = false;

  // Loads the next edge that crosses a quarter-line of the window; false at the chain's end.
  void Load() {
    active = false;
    while (remaining > 0) {
      const int32_t i = next;
      next += step;
      if (next == edges) next = 0;
      if (next < 0) next = edges - 1;
      --remaining;
      int32_t xf, yf, xl, yl;
      if (QuarterEdge(points + 2 * static_cast<std::ptrdiff_t>(i),
                      points + 2 * static_cast<std::ptrdiff_t>(i) + 2, yLow, yHigh, xf, yf, xl,
                      yl)) {
        edge.Start(xf, yf, xl, yl);
        active = true;
        return;
      }
    }
  }
  // The chain's crossings of line q (at most three: the end of one edge, and the first line of
  // the next twice), appended at out; the edges move on to the next line.
  int32_t Cross(int32_t q, int32_t *out) {
    if (!active || edge.yf > q) return 0;
    int32_t n = 0;
    if (edge.yf == q) out[n++] = static_cast<int32_t>(edge.xf);
    out[n++] = edge.X();
    if (edge.yl > q) {
      edge.Step();
      return n;
    }
    Load();
    if (active && edge.yf == q) {
      out[n++] = static_cast<int32_t>(edge.xf);
      out[n++] = edge.X();
      edge.Step();
    }
    return n;
  }
};

// An edge of the active-edge list: its crossing at the current quarter-line, stepped exactly as
// EdgeWalk does, kept small.
struct ActiveEdge {
  int64_t x, step, rem; // step: the whole part of the slope, signed
  int32_t part, dy, sign, yf, yl;
  void Start(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    yf = y0;
    yl = y1;
    x = x0;
    dy = y1 - y0; // both within the window's quarter-lines
    const int64_t dx = static_cast<int64_t>(x1) - x0;
    const uint32_t adx = static_cast<uint32_t>(dx < 0 ? -dx : dx);
    sign = dx < 0 ? -1 : 1;
    step = sign * static_cast<int64_t>(adx / static_cast<uint32_t>(dy));
    part = static_cast<int32_t>(adx % static_cast<uint32_t>(dy));
    rem = 0;
  }
  void Step() {
    // Without a branch: the carry is as likely as not.
    rem += part;
    const int64_t carry = -static_cast<int64_t>(rem >= dy);
    x += step + (sign & carry);
    rem -= dy & carry;
  }
};

// An entry of the active-edge list: the edge's crossing of the current quarter-line and its
// slot among the edges' walks, marked while the edge is on its first line.
struct Crossing {
  static constexpr int32_t kFirstLine = 1 << 30;
  int32_t x;
  int32_t slot;
};

// The general walk: the edges sorted by their first quarter-line enter an active-edge list kept
// in order of their crossings, so that each quarter-line's crossings come out sorted.
int32_t FillActiveEdges(Eevg_Drawing *drawing, Scan &scan, int32_t ringCount,
                        const int32_t *starts, const int32_t *points, int32_t base, int32_t top,
                        int32_t lastLine) {
  static const char *reporter = "eevg_AFiller";
  Eerr_ErrorReport **err = scan.err;
  const int64_t pointTotal = starts[ringCount];
  const int64_t lines = static_cast<int64_t>(top) - base + 1;
  // The edges in quarter units (four integers each), their order by first line and the count
  // of edges starting on each line; then the active list and one line's crossings.
  const std::size_t edgeBytes = Align(static_cast<std::size_t>(pointTotal) * 4 * sizeof(int32_t));
  const std::size_t orderBytes = Align(static_cast<std::size_t>(pointTotal) * sizeof(int32_t));
  const std::size_t countBytes = Align(static_cast<std::size_t>(lines + 1) * sizeof(int32_t));
  const std::size_t listAt = edgeBytes + orderBytes + countBytes;
  Scratch scratch;
  if (pointTotal > INT32_MAX / 128 || lines > INT32_MAX / 16 ||
      !ReserveScratch(drawing, listAt, scratch)) {
    lower::Report(err, reporter, 1, "Out of memory for ScanLines");
    return -1;
  }
  auto *edges = reinterpret_cast<int32_t *>(scratch.table);
  auto *order = reinterpret_cast<int32_t *>(scratch.table + edgeBytes);
  auto *firsts = reinterpret_cast<int32_t *>(scratch.table + edgeBytes + orderBytes);

  // The edges, counted by first line.
  std::memset(firsts, 0, static_cast<std::size_t>(lines + 1) * sizeof(int32_t));
  int32_t edgeCount = 0;
  for (int32_t r = 0; r < ringCount; ++r) {
    for (int32_t i = starts[r]; i + 1 < starts[r + 1]; ++i) {
      int32_t *e = edges + 4 * static_cast<std::ptrdiff_t>(edgeCount);
      if (!QuarterEdge(points + 2 * static_cast<std::ptrdiff_t>(i),
                       points + 2 * static_cast<std::ptrdiff_t>(i) + 2, base, top, e[0], e[1],
                       e[2], e[3]))
        continue;
      ++firsts[e[1] - base + 1];
      ++edgeCount;
    }
  }
  int32_t most = 0; // edges starting on one line
  for (int64_t i = 1; i <= lines; ++i) {
    most = std::max(most, firsts[i]);
    firsts[i] += firsts[i - 1];
  }
  // The edges' walks (a slot each, in the order they enter), the active list (crossing and slot
  // of each active edge, in order of the crossings), room for the edges entering on one line,
  // and one line's crossings.
  const std::size_t poolBytes = Align(static_cast<std::size_t>(edgeCount) * sizeof(ActiveEdge));
  const std::size_t activeBytes = Align(static_cast<std::size_t>(edgeCount) * sizeof(Crossing));
  const std::size_t enteringBytes = Align(static_cast<std::size_t>(most) * sizeof(Crossing));
  if (!ReserveScratch(drawing,
                      listAt + poolBytes + activeBytes + enteringBytes +
                          static_cast<std::size_t>(edgeCount) * 2 * sizeof(int32_t),
                      scratch)) {
    lower::Report(err, reporter, 2, "Out of memory for intersect array");
    return -1;
  }
  // The block may have moved.
  scan.samples.coverage = scratch.coverage;
  scan.samples.delta = scratch.delta;
  edges = reinterpret_cast<int32_t *>(scratch.table);
  order = reinterpret_cast<int32_t *>(scratch.table + edgeBytes);
  firsts = reinterpret_cast<int32_t *>(scratch.table + edgeBytes + orderBytes);
  unsigned char *room = scratch.table + listAt;
  auto *pool = reinterpret_cast<ActiveEdge *>(room);
  auto *active = reinterpret_cast<Crossing *>(room + poolBytes);
  auto *entering = reinterpret_cast<Crossing *>(room + poolBytes + activeBytes);
  auto *x = reinterpret_cast<int32_t *>(room + poolBytes + activeBytes + enteringBytes);
  // firsts[i] is now where line i's edges begin in order; filling moves it to where they end.
  for (int32_t k = 0; k < edgeCount; ++k) order[firsts[edges[4 * k + 1] - base]++] = k;

  int32_t activeCount = 0, entered = 0;
  for (int32_t q = base; q <= lastLine; ++q) {
    // The edges starting on this line, in order of their first crossing, are merged into the
    // list.
    const int32_t enterEnd = firsts[q - base];
    if (entered < enterEnd) {
      const int32_t m = enterEnd - entered;
      for (int32_t k = 0; k < m; ++k) {
        const int32_t slot = entered + k;
        const int32_t *e = edges + 4 * static_cast<std::ptrdiff_t>(order[slot]);
        pool[slot].Start(e[0], e[1], e[2], e[3]);
        entering[k] = {e[0], slot | Crossing::kFirstLine};
      }
      std::sort(entering, entering + m,
                [](const Crossing &a, const Crossing &b) { return a.x < b.x; });
      for (int32_t i = activeCount - 1, j = m - 1, w = activeCount + m - 1; j >= 0; --w)
        active[w] = i >= 0 && active[i].x > entering[j].x ? active[i--] : entering[j--];
      activeCount += m;
      entered = enterEnd;
    }
    // The crossings in order: an edge on its first line gives its first crossing twice.
    int32_t n = 0;
    for (int32_t k = 0; k < activeCount; ++k) {
      const int32_t v = active[k].x;
      x[n++] = v;
      if (active[k].slot & Crossing::kFirstLine) x[n++] = v;
    }
    if (n >= 2) scan.samples.AddLine(x, n, scan.left, scan.right);
    if ((q & 3) == 3 && !scan.WriteRow(q >> 2)) return -1;
    // Edges ending on this line leave; the others step on and the list is put back in order
    // (edges rarely pass each other from one line to the next).
    int32_t kept = 0;
    for (int32_t k = 0; k < activeCount; ++k) {
      const int32_t slot = active[k].slot & ~Crossing::kFirstLine;
      ActiveEdge &edge = pool[slot];
      if (edge.yl == q) continue;
      edge.Step();
      const Crossing moved{static_cast<int32_t>(edge.x), slot};
      int32_t j = kept++;
      for (; j > 0 && active[j - 1].x > moved.x; --j) active[j] = active[j - 1];
      active[j] = moved;
    }
    activeCount = kept;
    // Past the last edge nothing more is crossed: the row counted so far is the last.
    if (activeCount == 0 && entered == edgeCount) return scan.WriteRow(q >> 2) ? 0 : -1;
  }
  return scan.WriteRow(lastLine >> 2) ? 0 : -1;
}

// The walk of a monotone ring: its two chains give each quarter-line's few crossings directly,
// and no sorting but of those few.
int32_t FillMonotone(Scan &scan, const int32_t *points, const MonotoneRing &ring, int32_t base,
                     int32_t top, int32_t lastLine) {
  Chain up{points, ring.edges, ring.lowest, 1, ring.upCount, base, top, EdgeWalk{}};
  Chain down{points, ring.edges, (ring.lowest + ring.edges - 1) % ring.edges, -1, ring.downCount,
             base, top, EdgeWalk{}};
  up.Load();
  down.Load();
  RowSamples &samples = scan.samples;
  // The row's quarter-lines while the spans of each join into one stretch: when all four do,
  // the columns they all cover whole (each line 4 samples at least, so 16 or more: full) are left
  // out of the counting and written as a run.
  struct RowSpans {
    int32_t s[12], e[12], count = 0, lines = 0;
    int32_t c0 = INT32_MIN, c1 = INT32_MAX; // the columns all the lines so far cover whole
    bool mixed = false;                     // a line whose spans leave a gap, or none
    // One line's spans, in order and joining (each starts at most one past the last's end).
    void Keep(const int32_t *ss, const int32_t *ee, int32_t k) {
      for (int32_t i = 0; i < k; ++i) {
        s[count] = ss[i];
        e[count++] = ee[i];
      }
      ++lines;
      c0 = std::max(c0, (ss[0] + 3) >> 2);
      c1 = std::min(c1, ((ee[k - 1] + 1) >> 2) - 1);
    }
    void Flush(RowSamples &samples) {
      for (int32_t k = 0; k < count; ++k) samples.AddSpan(s[k], e[k]);
      count = 0;
    }
    void Mix(RowSamples &samples) {
      if (!mixed) Flush(samples);
      mixed = true;
    }
    void Finish(RowSamples &samples) {
      if (!mixed && lines == 4 && c0 <= c1) {
        // Nothing of the row is in the bytes yet: the few columns beside the whole ones are
        // counted straight into them. (The spans are read one by one: the last were stored just
        // now, and a wider load over them would wait for them to leave the store buffer.)
        const volatile int32_t *vs = s, *ve = e;
        int32_t lo = INT32_MAX, hi = INT32_MIN;
        for (int32_t k = 0; k < count; ++k) {
          lo = std::min(lo, vs[k] >> 2);
          hi = std::max(hi, ve[k] >> 2);
        }
        auto samplesIn = [&](int32_t c) {
          int32_t n = 0;
          for (int32_t k = 0; k < count; ++k)
            n += std::clamp(std::min(4 * c + 3, static_cast<int32_t>(ve[k])) -
                                std::max(4 * c, static_cast<int32_t>(vs[k])) + 1,
                            0, 4);
          return static_cast<uint8_t>(n);
        };
        for (int32_t c = lo; c < c0; ++c) samples.coverage[c] = samplesIn(c);
        for (int32_t c = c1 + 1; c <= hi; ++c) samples.coverage[c] = samplesIn(c);
        samples.fullFrom = c0;
        samples.fullTo = c1;
        samples.low = lo;
        samples.high = hi;
        samples.settled = true;
        count = 0;
      }
      Flush(samples);
      lines = 0;
      mixed = false;
      c0 = INT32_MIN;
      c1 = INT32_MAX;
    }
  } row;
  int32_t x[6];
  for (int32_t q = base; q <= lastLine; ++q) {
    int32_t n;
    if (up.active && down.active && up.edge.yf < q && q < up.edge.yl && down.edge.yf < q &&
        q < down.edge.yl) {
      // Both chains inside an edge, the common case: two crossings.
      const int32_t a = up.edge.X(), b = down.edge.X();
      up.edge.Step();
      down.edge.Step();
      x[0] = std::min(a, b);
      x[1] = std::max(a, b);
      n = 2;
    } else {
      n = up.Cross(q, x);
      n += down.Cross(q, x + n);
      for (int32_t i = 1; i < n; ++i) {
        const int32_t v = x[i];
        int32_t j = i;
        for (; j > 0 && x[j - 1] > v; --j) x[j] = x[j - 1];
        x[j] = v;
      }
    }
    if (n == 2) {
      // One pair: one span, or none when it lies outside the counted positions.
      samples.marked = true;
      const int32_t s0 = std::max(x[0], scan.left), e0 = std::min(x[1], scan.right);
      if (x[1] >= scan.left && s0 <= scan.right) {
        if (row.mixed)
          samples.AddSpan(s0, e0);
        else
          row.Keep(&s0, &e0, 1);
      } else {
        row.Mix(samples);
      }
    } else if (n > 2) {
      int32_t s[3], e[3], spans = 0;
      bool joined = true;
      ForEachSpan(x, n, scan.left, scan.right, [&](int32_t a, int32_t b) {
        joined = joined && (spans == 0 || a <= e[spans - 1] + 1);
        s[spans] = a;
        e[spans++] = b;
      });
      samples.marked = true;
      if (spans > 0 && joined && !row.mixed) {
        row.Keep(s, e, spans);
      } else {
        row.Mix(samples);
        for (int32_t k = 0; k < spans; ++k) samples.AddSpan(s[k], e[k]);
      }
    }
    if ((q & 3) == 3) {
      row.Finish(samples);
      if (!scan.WriteRow(q >> 2)) return -1;
    }
    // Past both chains' ends nothing more is crossed: the row counted so far is the last.
    if (!up.active && !down.active) {
      row.Finish(samples);
      return scan.WriteRow(q >> 2) ? 0 : -1;
    }
  }
  row.Finish(samples);
  return scan.WriteRow(lastLine >> 2) ? 0 : -1;
}

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
  lower::Clear(err);
  return WriteCoverage(drawing, coverage, first, last, kNoColumn, kNoColumn - 1, y, colour, err);
}

namespace {

// The pixels a fill may reach: columns xMin..xMax and rows yMin..yMax (device y).
struct FillWindow {
  int32_t xMin, yMin, xMax, yMax;
};

int32_t FillWithin(Eevg_Drawing *drawing, const FillWindow &window, int32_t ringCount,
                   const int32_t *starts, const int32_t *points, const Eevg_DeviceColor &colour,
                   int32_t yMin, int32_t yMax, int32_t xMin, int32_t xMax, bool monotoneWalk,
                   CoverageMask *mask, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_AFiller";
  lower::Clear(err);
  if (!eevg_DrawingGetScanLineBuf(drawing, err)) return -1;
  const int32_t shift = drawing->subPixelShift;
  if (ringCount < 1 || yMin > window.yMax << shift || yMax < window.yMin << shift ||
      xMin > window.xMax << shift || xMax < window.xMin << shift)
    return 0;

  const int32_t first = std::max(xMin >> 3, window.xMin);
  const int32_t last = static_cast<int32_t>(
      std::min<int64_t>((static_cast<int64_t>(xMax) + 7) >> 3, window.xMax));
  if (first > last) return 0;

  // Edges are clipped to the quarter-lines the window reaches (from the last one of the row
  // below it, where an edge cut there counts twice, up to the first one of the row above it);
  // only those of them that the box covers are walked, so a vertex far outside the window costs
  // nothing.
  const int32_t yLow = 4 * window.yMin - 1;
  const int32_t yHigh = 4 * window.yMax + 4;
  const int32_t base = std::max(4 * (yMin >> 3), yLow);
  const int32_t top = std::min(yMax >> 1, yHigh);
  const int32_t lastLine = std::min(yMax >> 1, yHigh - 1);
  if (top < base) return 0;

  Scratch scratch;
  if (!ReserveScratch(drawing, 0, scratch)) {
    lower::Report(err, reporter, 1, "Out of memory for ScanLines");
    return -1;
  }
  // Samples are counted only inside the window and the box's columns.
  Scan scan{drawing, colour, err, RowSamples{scratch.coverage, scratch.delta}, 4 * first,
            4 * last + 3, window.yMin, window.yMax, mask};
  MonotoneRing ring;
  if (monotoneWalk && ringCount == 1 &&
      SplitMonotone(points + 2 * static_cast<std::ptrdiff_t>(starts[0]), starts[1] - starts[0],
                    ring))
    return FillMonotone(scan, points + 2 * static_cast<std::ptrdiff_t>(starts[0]), ring, base,
                        top, lastLine);
  return FillActiveEdges(drawing, scan, ringCount, starts, points, base, top, lastLine);
}

} // namespace

int32_t AFillerWith(Eevg_Drawing *drawing, int32_t ringCount, const int32_t *starts,
                    const int32_t *points, const Eevg_DeviceColor &colour, int32_t yMin,
                    int32_t yMax, int32_t xMin, int32_t xMax, bool monotoneWalk,
                    Eerr_ErrorReport **err) {
  const FillWindow window{drawing->clipXMin, drawing->clipYMin, drawing->clipXMax,
                          drawing->clipYMax};
  return FillWithin(drawing, window, ringCount, starts, points, colour, yMin, yMax, xMin, xMax,
                    monotoneWalk, nullptr, err);
}

int32_t FillCoverage(Eevg_Drawing *drawing, int32_t ringCount, const int32_t *starts,
                     const int32_t *points, CoverageMask &mask, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (ringCount < 1 || starts[ringCount] < 1) return 0;
  if (mask.width < 1 || mask.height < 1 || mask.width > std::max(drawing->deviceWidth, 1)) {
    lower::Report(err, "eevg_AFiller", 4, "Invalid coverage mask");
    return -1;
  }
  int32_t xMin = INT32_MAX, yMin = INT32_MAX, xMax = INT32_MIN, yMax = INT32_MIN;
  for (int32_t i = 0; i < starts[ringCount]; ++i) {
    xMin = std::min(xMin, points[2 * i]);
    xMax = std::max(xMax, points[2 * i]);
    yMin = std::min(yMin, points[2 * i + 1]);
    yMax = std::max(yMax, points[2 * i + 1]);
  }
  static constexpr Eevg_DeviceColor kNone{0, 0, 0, 0, 0}; // the mask takes no colour
  const FillWindow window{0, 0, mask.width - 1, mask.height - 1};
  return FillWithin(drawing, window, ringCount, starts, points, kNone, yMin, yMax, xMin, xMax,
                    true, &mask, err);
}

bool FillsAsMonotone(const int32_t *points, int32_t count) {
  MonotoneRing ring;
  return SplitMonotone(points, count, ring);
}

int32_t eevg_AFiller(Eevg_Drawing *drawing, int32_t ringCount, const int32_t *starts,
                     const int32_t *points, const Eevg_DeviceColor &colour, int32_t yMin,
                     int32_t yMax, int32_t xMin, int32_t xMax, Eerr_ErrorReport **err) {
  return AFillerWith(drawing, ringCount, starts, points, colour, yMin, yMax, xMin, xMax, true,
                     err);
}

WindowPart RingsAgainstWindow(const Eevg_Drawing *drawing, int32_t ringCount,
                              const int32_t *starts, const int32_t *points) {
  // The samples the filler reads for the window lie in its pixels and half a pixel below them;
  // points move by less than a sample when the filler takes them. No edge within this box: every
  // sample lies on the side of the box's centre.
  constexpr int64_t kMargin = 16;
  const int64_t box[4] = {int64_t{drawing->subClipXMin} - kMargin, int64_t{drawing->subClipYMin} - kMargin,
                          int64_t{drawing->subClipXMax} + 8 + kMargin,
                          int64_t{drawing->subClipYMax} + 8 + kMargin};
  auto meets = [&](const int32_t *a, const int32_t *b) {
    if (std::max(a[0], b[0]) < box[0] || std::min(a[0], b[0]) > box[2] ||
        std::max(a[1], b[1]) < box[1] || std::min(a[1], b[1]) > box[3])
      return false;
    // The box's corners on both sides of the edge's line (or on it): the edge meets the box.
    const int64_t dx = int64_t{b[0]} - a[0], dy = int64_t{b[1]} - a[1];
    int32_t below = 0, above = 0;
    for (const int64_t x : {box[0], box[2]}) {
      for (const int64_t y : {box[1], box[3]}) {
        const __int128 side = static_cast<__int128>(dx) * (y - a[1]) - static_cast<__int128>(dy) * (x - a[0]);
        below += side <= 0;
        above += side >= 0;
      }
    }
    return below > 0 && above > 0;
  };
  // The centre in doubled units, off every doubled point's row: crossings of the ray to its
  // right, counted with the filler's even-odd rule.
  const int64_t cx = box[0] + box[2] + 1, cy = box[1] + box[3] + 1;
  int32_t crossings = 0;
  for (int32_t r = 0; r < ringCount; ++r) {
    const int32_t first = starts[r], end = starts[r + 1];
    if (end - first < 2) continue;
    const int32_t *p0 = points + 2 * static_cast<std::ptrdiff_t>(first);
    const int32_t *pn = points + 2 * static_cast<std::ptrdiff_t>(end - 1);
    if (p0[0] != pn[0] || p0[1] != pn[1]) return WindowPart::kPartly;
    for (int32_t i = first; i + 1 < end; ++i) {
      const int32_t *a = points + 2 * static_cast<std::ptrdiff_t>(i), *b = a + 2;
      if (meets(a, b)) return WindowPart::kPartly;
      const int64_t ay = 2 * int64_t{a[1]}, by = 2 * int64_t{b[1]};
      if ((ay > cy) == (by > cy)) continue;
      const int64_t ax = 2 * int64_t{a[0]}, bx = 2 * int64_t{b[0]};
      const __int128 side = static_cast<__int128>(ax - cx) * (by - ay) + static_cast<__int128>(cy - ay) * (bx - ax);
      crossings += (by > ay) == (side > 0);
    }
  }
  return crossings % 2 ? WindowPart::kHolds : WindowPart::kOutside;
}

int32_t eevg_LOFiller(Eevg_Drawing *drawing, int32_t ringCount, const int32_t *starts,
                      const int32_t *points, const Eevg_DeviceColor &colour,
                      Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (ringCount < 1 || starts[ringCount] < 1) return 0;
  if (drawing->windowFills != kWindowFillsOff) {
    // The window filled once holds the line's colour at every pixel a fill can write: a fill
    // holding it all again would only blend it once more.
    const WindowPart part = RingsAgainstWindow(drawing, ringCount, starts, points);
    if (part == WindowPart::kOutside) return 0;
    if (part == WindowPart::kHolds) {
      if (drawing->windowFills == kWindowFilled) return 0;
      drawing->windowFills = kWindowFilled;
    }
  }
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
