// Weeding and generalising lines. Both work in place on a coordinate matrix and shorten it by
// lowering its column count; the arc and polygon forms work on copies with the layer's Weed
// tolerance. Scratch values live on the stack, so the operations are reentrant.
#include <algorithm>
#include <cmath>

#include "efga.h"
#include "emsc.h"
#include "evec.h"
#include "evec_private.h"

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

// Distance from (px, py) to the segment a -> b (ends included); to b when it has zero length.
double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay;
  const double l2 = dx * dx + dy * dy;
  double nx = bx, ny = by;
  if (l2 != 0.0) {
    double t = ((px - ax) * dx + (py - ay) * dy) / l2;
    if (!(t > 0.0)) t = 0.0;
    if (!(t < 1.0)) t = 1.0;
    nx = ax + t * dx;
    ny = ay + t * dy;
  }
  const double ex = nx - px, ey = ny - py;
  return std::sqrt(ex * ex + ey * ey);
}

} // namespace

extern "C" {

void evec_WeedMatrix(double tolerance, Egda_BaseData *matrix, Eerr_ErrorReport **err) {
  geo::Clear(err);
  if (!geo::IsCoordMatrix(matrix)) return;
  geo::SetColumns(matrix, Weed(geo::Steps(*matrix), tolerance));
}

Egda_BaseData *evec_WeedArc(MVS *layer, const Egda_BaseData *arc, Eerr_ErrorReport **err) {
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
}

Efga_CoordinateBlock *evec_WeedPolygon(MVS *layer, const Efga_CoordinateBlock *rings,
                                       Eerr_ErrorReport **err) {
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
}

void evec_GeneralizeMatrix(double tolerance, Egda_BaseData *matrix, Eerr_ErrorReport **err) {
  geo::Clear(err);
  if (!geo::IsCoordMatrix(matrix) || matrix->columns <= 2) return;
  const geo::Steps v(*matrix);
  const int32_t n = v.n;
  // The kept vertex numbers, ascending.
  auto *kept = static_cast<int32_t *>(
      emsc_HeapMalloc(static_cast<std::size_t>(std::max(n, 500)) * sizeof(int32_t)));
  if (!kept) {
    geo::Report(err, "evec_GeneralizeMatrix", 4, "Failure to allocate memory");
    return;
  }
  kept[0] = 0;
  kept[1] = n - 1;
  int32_t keptCount = 2;
  for (;;) {
    // One pass: the farthest vertex beyond the tolerance from its span's chord, over all spans.
    int32_t span = 0; // the chord runs from kept[span] to kept[span + 1]
    int32_t farthest = -1;
    double farthestDistance = 0.0;
    double ax = v.X(kept[0]), ay = v.Y(kept[0]), bx = v.X(kept[1]), by = v.Y(kept[1]);
    for (int32_t j = 1; j < n - 1; ++j) {
      if (j == kept[span + 1]) {
        ++span;
        ax = bx;
        ay = by;
        bx = v.X(kept[span + 1]);
        by = v.Y(kept[span + 1]);
        continue;
      }
      const double d = SegmentDistance(v.X(j), v.Y(j), ax, ay, bx, by);
      if (d > tolerance && (farthest < 0 || d > farthestDistance)) {
        farthest = j;
        farthestDistance = d;
      }
    }
    if (farthest < 0) break;
    int32_t at = keptCount;
    while (kept[at - 1] > farthest) {
      kept[at] = kept[at - 1];
      --at;
    }
    kept[at] = farthest;
    ++keptCount;
  }
  for (int32_t i = 1; i < keptCount; ++i) v.Set(i, v.X(kept[i]), v.Y(kept[i]));
  geo::SetColumns(matrix, keptCount);
  emsc_HeapFree(kept);
}

Egda_BaseData *evec_GeneralizeArc(MVS *layer, const Egda_BaseData *arc, Eerr_ErrorReport **err) {
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
}

} // extern "C"
