// Weeding and generalising lines. Both work in place on a coordinate matrix and shorten it by
// lowering its column count; the arc and polygon forms work on copies with the layer's Weed
// tolerance. Scratch values live on the stack, so the operations are reentrant.
#include <algorithm>
#include <cmath>
#include <limits>

#include "efga.h"
#include "emsc.h"
#include "evec.h"
#include "evec_internal.h"
#include "guard.h"

namespace geo = taviron::geometry;

namespace {

// Weeds the points of a valid matrix in place; returns the new point count.
int32_t Weed(const geo::Steps &v, double tolerance) {
  const int32_t n = v.n;
  if (n <= 2) return n;
  double lx = v.X(0), ly = v.Y(0);
  int32_t write = 1;
  for (int32_t j = 1; j < n - 1; ++j) {
    const double x = v.X(j), y = v.Y(j);
    const double dx = x - lx, dy = y - ly;
    if (std::sqrt(dx * dx + dy * dy) > tolerance) {
      v.Set(write++, x, y);
      lx = x;
      ly = y;
    }
  }
  const double x = v.X(n - 1), y = v.Y(n - 1);
  const double dx = x - lx, dy = y - ly;
  if (std::sqrt(dx * dx + dy * dy) > tolerance || write == 1) {
    v.Set(write, x, y);
    return write + 1;
  }
  v.Set(write - 1, x, y);
  return write;
}

// Squared distance from (px, py) to the segment a -> b (ends included); to b when it has zero
// length.
double SquaredSegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
  double nx, ny;
  if (geo::NearestOnSegment(px, py, ax, ay, bx, by, nx, ny) < 0.0) {
    nx = bx;
    ny = by;
  }
  const double ex = nx - px, ey = ny - py;
  return ex * ex + ey * ey;
}

// The largest square whose (correctly rounded) root is at most the tolerance: a distance, the
// root of its square, exceeds the tolerance exactly when its square exceeds this.
double SquareBound(double tolerance) {
  if (std::isnan(tolerance)) return std::numeric_limits<double>::infinity(); // nothing exceeds it
  if (tolerance < 0.0) return -1.0;                                          // every distance does
  double x = tolerance * tolerance;
  if (std::isinf(x)) return tolerance == x ? x : std::numeric_limits<double>::max();
  while (std::sqrt(x) > tolerance) x = std::nextafter(x, 0.0);
  for (double next = std::nextafter(x, INFINITY); std::sqrt(next) <= tolerance;
       next = std::nextafter(x, INFINITY))
    x = next;
  return x;
}

// The vertex of a span (from, to) farthest from its chord, beyond the tolerance; -1 for none.
struct Span {
  double distance;
  int32_t vertex, from, to;
};

// Distances are compared squared; a root is taken only for a vertex that may be the farthest so
// far, so that the answer is that of the distances themselves (ties included).
Span Farthest(const geo::Steps &v, int32_t from, int32_t to, double squareBound) {
  Span span{0.0, -1, from, to};
  double farthestSquare = 0.0;
  const double ax = v.X(from), ay = v.Y(from), bx = v.X(to), by = v.Y(to);
  for (int32_t j = from + 1; j < to; ++j) {
    const double square = SquaredSegmentDistance(v.X(j), v.Y(j), ax, ay, bx, by);
    if (square > squareBound && (span.vertex < 0 || square > farthestSquare)) {
      const double d = std::sqrt(square);
      if (span.vertex < 0 || d > span.distance) {
        span.distance = d;
        span.vertex = j;
        farthestSquare = square;
      }
    }
  }
  return span;
}

// Heap order: a span comes out before another when its vertex is farther, or as far and first.
bool Before(const Span &a, const Span &b) {
  return a.distance < b.distance || (a.distance == b.distance && a.vertex > b.vertex);
}

} // namespace

extern "C" {

void evec_WeedMatrix(double tolerance, Egda_BaseData *matrix, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!geo::IsCoordMatrix(matrix)) return;
  geo::SetColumns(matrix, Weed(geo::Steps(*matrix), tolerance));
} TAVIRON_GUARD_VOID(err)

Egda_BaseData *evec_WeedArc(MVS *layer, const Egda_BaseData *arc, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!layer) {
    geo::Report(err, "evec_WeedArc", 2, "Invalid input MVS");
    return nullptr;
  }
  if (arc && !geo::IsCoordMatrix(arc)) {
    geo::Report(err, "evec_WeedArc", 3, "Invalid input arc");
    return nullptr;
  }
  Eerr_ErrorReport *inner = nullptr;
  Egda_BaseData *copy = egda_BaseDataCopy(arc, nullptr, &inner);
  if (!copy) {
    geo::ReportCallee(err, inner, "evec_WeedArc", 1, "efga_MatrixCopy");
    return nullptr;
  }
  evec_WeedMatrix(layer->weed, copy, nullptr);
  return copy;
} TAVIRON_GUARD(err, nullptr)

Efga_CoordinateBlock *evec_WeedPolygon(MVS *layer, const Efga_CoordinateBlock *rings,
                                       Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!rings || rings->count <= 0 || !rings->parts) {
    geo::Report(err, "evec_WeedPolygon", 1, "Invalid input coordBlock");
    return nullptr;
  }
  if (!layer) {
    geo::Report(err, "evec_WeedPolygon", 3, "Invalid input MVS");
    return nullptr;
  }
  Eerr_ErrorReport *inner = nullptr;
  Efga_CoordinateBlock *copy = efga_CoordBlockCopy(rings, nullptr, &inner);
  if (!copy) {
    if (err) *err = eerr_CreateErrorReport("evec_WeedPolygon", 2, EERR_FATAL, inner,
                                           "Unable to allocate CoordinateBlock");
    else eerr_DeleteErrorReportEx(&inner);
    return nullptr;
  }
  for (int32_t p = 0; p < copy->count; ++p) evec_WeedMatrix(layer->weed, copy->parts[p], nullptr);

  const auto keeps = [](const Egda_BaseData *part) {
    return geo::IsCoordMatrix(part) && part->columns > 2;
  };
  if (!keeps(copy->parts[0])) {
    efga_CoordBlockDelete(copy, nullptr);
    return nullptr;
  }
  const int32_t remaining =
      static_cast<int32_t>(std::count_if(copy->parts, copy->parts + copy->count, keeps));
  Efga_CoordinateBlock *result = efga_CoordBlockPtrCreate(remaining, &inner);
  if (!result) {
    efga_CoordBlockDelete(copy, nullptr);
    if (err) *err = eerr_CreateErrorReport("evec_WeedPolygon", 2, EERR_FATAL, inner,
                                           "Unable to allocate CoordinateBlock");
    else eerr_DeleteErrorReportEx(&inner);
    return nullptr;
  }
  // The weeded parts move into the new block; the copy keeps (and frees) the dropped ones.
  int32_t next = 0;
  for (int32_t p = 0; p < copy->count; ++p) {
    if (!keeps(copy->parts[p])) continue;
    result->parts[next++] = copy->parts[p];
    copy->parts[p] = nullptr;
  }
  efga_CoordBlockDelete(copy, nullptr);
  return result;
} TAVIRON_GUARD(err, nullptr)

void evec_GeneralizeMatrix(double tolerance, Egda_BaseData *matrix, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!geo::IsCoordMatrix(matrix) || matrix->columns <= 2) return;
  const geo::Steps v(*matrix);
  const int32_t n = v.n;
  // Each pass keeps the vertex farthest beyond the tolerance from the chord of its span, over all
  // spans (the first vertex on a tie). A span's distances change only when a kept vertex splits
  // it, so each span's farthest vertex waits in a max-heap and a pass splits the top span only.
  auto *block = static_cast<uint8_t *>(
      emsc_HeapMalloc(static_cast<std::size_t>(n) * (sizeof(Span) + 1)));
  if (!block) {
    geo::Report(err, "evec_GeneralizeMatrix", 4, "Failure to allocate memory");
    return;
  }
  auto *heap = reinterpret_cast<Span *>(block);
  uint8_t *kept = block + static_cast<std::size_t>(n) * sizeof(Span);
  int32_t spans = 0;
  const double squareBound = SquareBound(tolerance);
  const auto push = [&](int32_t from, int32_t to) {
    const Span span = Farthest(v, from, to, squareBound);
    if (span.vertex < 0) return;
    heap[spans++] = span;
    std::push_heap(heap, heap + spans, Before);
  };
  kept[0] = kept[n - 1] = 1;
  int32_t keptCount = 2;
  push(0, n - 1);
  while (spans > 0) {
    std::pop_heap(heap, heap + spans, Before);
    const Span top = heap[--spans];
    kept[top.vertex] = 1;
    ++keptCount;
    push(top.from, top.vertex);
    push(top.vertex, top.to);
  }
  int32_t write = 0;
  for (int32_t j = 0; j < n; ++j)
    if (kept[j]) {
      if (write != j) v.Set(write, v.X(j), v.Y(j));
      ++write;
    }
  geo::SetColumns(matrix, keptCount);
  emsc_HeapFree(block);
} TAVIRON_GUARD_VOID(err)

Egda_BaseData *evec_GeneralizeArc(MVS *layer, const Egda_BaseData *arc, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!layer) {
    geo::Report(err, "evec_GeneralizeArc", 3, "Invalid input MVS");
    return nullptr;
  }
  if (arc && !geo::IsCoordMatrix(arc)) {
    geo::Report(err, "evec_GeneralizeArc", 4, "Invalid input arc");
    return nullptr;
  }
  Eerr_ErrorReport *inner = nullptr;
  Egda_BaseData *copy = egda_BaseDataCopy(arc, nullptr, &inner);
  if (!copy) {
    geo::ReportCallee(err, inner, "evec_GeneralizeArc", 1, "efga_MatrixCopy");
    return nullptr;
  }
  evec_GeneralizeMatrix(layer->weed, copy, &inner);
  if (inner) {
    egda_BaseDataDelete(copy, nullptr);
    geo::ReportCallee(err, inner, "evec_GeneralizeArc", 2, "evec_GeneralizeMatrix");
    return nullptr;
  }
  return copy;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
