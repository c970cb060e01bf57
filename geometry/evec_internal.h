// Plumbing shared by the geometry sources: error reports, views of coordinate matrices and the
// kernels that several operations run on plain doubles. Not installed.
#ifndef TAVIRON_GEOMETRY_EVEC_PRIVATE_H
#define TAVIRON_GEOMETRY_EVEC_PRIVATE_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "eerr.h"
#include "efga.h"
#include "egda.h"
#include "evec.h"
#include "internal.h"

namespace taviron::geometry {

// ---- Error reports: the lower layer's helpers ---------------------------------------------------

using lower::Clear;
using lower::Report;
using lower::ReportCallee;
using lower::ReportChained;

// ---- Coordinate matrices ------------------------------------------------------------------------

inline double Load(const uint8_t *p) {
  double v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void Store(uint8_t *p, double v) { std::memcpy(p, &v, sizeof v); }

// An f64 matrix of at least minRows rows and minColumns columns whose values can be read.
inline bool IsCoordMatrix(const Egda_BaseData *m, int32_t minRows = 2, int32_t minColumns = 0) {
  return m && m->pixelType == EGDA_TYPE_F64 && m->elementSize == 8 && m->rows >= minRows &&
         m->columns >= minColumns && (m->columns == 0 || m->origin);
}

// Element (r, c) of a matrix through its row and column steps.
struct Steps {
  uint8_t *origin = nullptr;
  std::ptrdiff_t column = 0; // bytes from point to point
  std::ptrdiff_t row = 0;    // bytes from x to y
  int32_t n = 0;

  Steps() = default;
  // Points stored x0, y0, x1, y1, ... in a plain array.
  Steps(const double *values, int32_t count)
      : origin(reinterpret_cast<uint8_t *>(const_cast<double *>(values))), column(16), row(8),
        n(count) {}
  explicit Steps(const Egda_BaseData &m)
      : origin(m.origin), n(m.columns) {
    const bool columnMajor = m.objectType == EGDA_TABLE || m.objectType == EGDA_MATRIX;
    column = columnMajor ? m.pitch : m.elementSize;
    row = columnMajor ? m.elementSize : m.pitch;
  }
  double X(int32_t j) const { return Load(origin + j * column); }
  double Y(int32_t j) const { return Load(origin + j * column + row); }
  void Set(int32_t j, double x, double y) const {
    Store(origin + j * column, x);
    Store(origin + j * column + row, y);
  }
};

// The stored values read in order: x0, y0, x1, y1, ... (for matrices laid out point by point).
struct Stored {
  const uint8_t *base = nullptr;
  int32_t n = 0;

  explicit Stored(const Egda_BaseData &m) : base(m.origin), n(m.columns) {}
  double X(int32_t j) const { return Load(base + std::ptrdiff_t{j} * 16); }
  double Y(int32_t j) const { return Load(base + std::ptrdiff_t{j} * 16 + 8); }
};

// Sets the column count of a matrix shortened in place (its storage stays).
inline void SetColumns(Egda_BaseData *m, int32_t columns) {
  m->columns = columns;
  m->count = m->rows * columns;
}

// ---- Kernels ------------------------------------------------------------------------------------

// Axis-aligned extent of points.
struct Extent {
  double x1, y1, x2, y2;
};

// The extent of the first n (>= 1) points: both corners start at point 0, later points lower
// x1/y1 or else raise x2/y2.
template <class View> Extent ExtentOf(const View &v, int32_t n) {
  Extent e{v.X(0), v.Y(0), v.X(0), v.Y(0)};
  for (int32_t j = 1; j < n; ++j) {
    const double x = v.X(j), y = v.Y(j);
    if (x < e.x1) e.x1 = x;
    else if (x > e.x2) e.x2 = x;
    if (y < e.y1) e.y1 = y;
    else if (y > e.y2) e.y2 = y;
  }
  return e;
}

// Overlap of two extents, corners as they stand (touching extents overlap).
inline bool ExtentsOverlap(const Extent &a, const Extent &b) {
  return !(a.x1 > b.x2 || b.x1 > a.x2 || a.y1 > b.y2 || b.y1 > a.y2);
}

// Intersection class of segment one (a1 -> a2) and segment two (b1 -> b2); writes the crossing
// into (*cx, *cy) unless the class is 0.
int32_t IntersectClass(double a1x, double a1y, double a2x, double a2y, double b1x, double b1y,
                       double b2x, double b2y, double *cx, double *cy);

// The point of segment a -> b nearest to (px, py), into (nx, ny): its position t is clamped to
// 0 .. 1, and at 0 and 1 the end point itself is taken (a + 1 * (b - a) may round off b). A
// segment of zero length gives -1 and a. Inline: generalising and the distance measures call it
// once per vertex.
inline double NearestOnSegment(double px, double py, double ax, double ay, double bx, double by,
                               double &nx, double &ny) {
  const double dx = bx - ax, dy = by - ay;
  const double l2 = dx * dx + dy * dy;
  nx = ax;
  ny = ay;
  if (l2 == 0.0) return -1.0;
  const double t = ((px - ax) * dx + (py - ay) * dy) / l2;
  if (!(t > 0.0)) return 0.0;
  if (!(t < 1.0)) {
    nx = bx;
    ny = by;
    return 1.0;
  }
  nx = ax + t * dx;
  ny = ay + t * dy;
  return t;
}

// 1 when segment (p, q) crosses (class 5) some segment of the arc.
int32_t SegmentCrossesArc(double px, double py, double qx, double qy, const Steps &arc);

// The vertices of the ellipse polygon of evec_DivideEllipseIntoAnArc: 360 / step + 1 points
// (2 values each) into out, from the two corners of the ellipse box.
void EllipseVertices(int32_t step, double x1, double y1, double x2, double y2, double *out);

// The sum over the rings of a block of measure(i, ring, inner slot), which gives ring i's
// contribution. A block without rings is reported as invalidMessage (1) with the result 0; a ring
// whose measure reports stops the sum with failureMessage (2) chained above that report, and the
// sum reached so far is returned.
template <class Measure>
double SumRings(const Efga_CoordinateBlock *block, const char *reporter, const char *invalidMessage,
                const char *failureMessage, Measure &&measure, Eerr_ErrorReport **err) {
  if (!block || block->count <= 0 || !block->parts) {
    Report(err, reporter, 1, "%s", invalidMessage);
    return 0.0;
  }
  double sum = 0.0;
  for (int32_t i = 0; i < block->count; ++i) {
    Eerr_ErrorReport *inner = nullptr;
    const double ring = measure(i, block->parts[i], &inner);
    if (inner) {
      ReportChained(err, inner, reporter, 2, "%s", failureMessage);
      return sum;
    }
    sum += ring;
  }
  return sum;
}

} // namespace taviron::geometry

#endif
