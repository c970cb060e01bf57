// Segments, arcs and intersections. The intersections run on plain doubles: the exported
// operations that walk an arc need no work matrices.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "evec.h"
#include "evec_internal.h"
#include "guard.h"

namespace geo = taviron::geometry;

namespace {

// The parallel test of Parallel below for directions whose squared lengths multiply to less than
// 1e-150, where the squares lose their precision (and reach 0): each direction is first scaled
// by a power of two (exactly) to a length near 1, which leaves the test's answer as it is.
[[gnu::cold, gnu::noinline]] bool ParallelShort(double dax, double day, double dbx, double dby) {
  const double ma = std::max(std::fabs(dax), std::fabs(day));
  const double mb = std::max(std::fabs(dbx), std::fabs(dby));
  if (ma == 0.0 || mb == 0.0) return true;
  const int ea = std::ilogb(ma), eb = std::ilogb(mb);
  dax = std::ldexp(dax, -ea), day = std::ldexp(day, -ea);
  dbx = std::ldexp(dbx, -eb), dby = std::ldexp(dby, -eb);
  const double den = dbx * day - dby * dax;
  const double lengths2 = (dax * dax + day * day) * (dbx * dbx + dby * dby);
  return !(den * den >= 1e-16 * lengths2) || den == 0.0;
}

// Lines whose directions dA and dB give the cross product den are taken as parallel when
// |den| < 1e-8 * min(1, |dA| * |dB|): an absolute bound for segments of unit length and longer,
// scaled down with shorter ones so that short segments at a clear angle still cross. Compared
// squared, without square roots. A segment of zero length is parallel to anything; NaN and
// infinite coordinates give no crossing either (a NaN fails every comparison).
inline bool Parallel(double den, double dax, double day, double dbx, double dby) {
  const double lengths2 = (dax * dax + day * day) * (dbx * dbx + dby * dby);
  if (lengths2 < 1e-150) [[unlikely]]
    return ParallelShort(dax, day, dbx, dby);
  const double bound = lengths2 < 1.0 ? lengths2 : 1.0; // a NaN gives 1
  return !(den * den >= 1e-16 * bound) || den == 0.0;
}

} // namespace

namespace taviron::geometry {

int32_t IntersectClass(double a1x, double a1y, double a2x, double a2y, double b1x, double b1y,
                       double b2x, double b2y, double *cx, double *cy) {
  const double dax = a2x - a1x, day = a2y - a1y;
  const double dbx = b2x - b1x, dby = b2y - b1y;
  const double ex = b1x - a1x, ey = b1y - a1y;
  const double den = dbx * day - dby * dax;
  if (Parallel(den, dax, day, dbx, dby)) return 0;
  double t = (ey * dbx - ex * dby) / den;
  double s = (ey * dax - ex * day) / den;
  // A crossing beyond the range of doubles is no crossing either. (Both tested at once, so that
  // the two divisions run side by side.)
  if (!(std::isfinite(t) & std::isfinite(s))) return 0;
  if (std::fabs(s - 1.0) < 1e-8) s = 1.0;
  if (std::fabs(t - 1.0) < 1e-8) t = 1.0;
  if (std::fabs(s) < 1e-8) s = 0.0;
  if (std::fabs(t) < 1e-8) t = 0.0;
  const double x = a1x + t * dax, y = a1y + t * day;
  if (!std::isfinite(x) || !std::isfinite(y)) return 0;
  const int32_t row = t < 0.0 ? 0 : (t > 1.0 ? 2 : 1);
  const int32_t column = s < 0.0 ? 0 : (s > 1.0 ? 2 : 1);
  if (cx) *cx = x;
  if (cy) *cy = y;
  return row * 3 + column + 1;
}

int32_t SegmentCrossesArc(double px, double py, double qx, double qy, const Steps &arc) {
  if (arc.n < 2) return 0;
  double x0 = arc.X(0), y0 = arc.Y(0);
  for (int32_t k = 1; k < arc.n; ++k) {
    const double x1 = arc.X(k), y1 = arc.Y(k);
    if (IntersectClass(px, py, qx, qy, x0, y0, x1, y1, nullptr, nullptr) == 5) return 1;
    x0 = x1;
    y0 = y1;
  }
  return 0;
}

} // namespace taviron::geometry

namespace {

bool IsSegment(const Egda_BaseData *m) { return geo::IsCoordMatrix(m, 2, 2) && m->columns == 2; }
bool IsArc(const Egda_BaseData *m) { return geo::IsCoordMatrix(m, 2, 2); }

// Direction angle of the vector (dx, dy) as the segment operations define it.
double DirectionAngle(double dx, double dy) {
  if (dx != 0.0) {
    const double a = std::atan(dy / dx);
    if (dx < 0.0) return a > 0.0 ? a - std::numbers::pi : a + std::numbers::pi;
    return a;
  }
  return dy > 0.0 ? std::numbers::pi / 2 : -std::numbers::pi / 2;
}

// Squared distance from (px, py) to the segment a -> b, t clamped to 0 .. 1; the distance to a
// for a segment of zero length.
double SquaredDistance(double px, double py, double ax, double ay, double bx, double by) {
  double nx, ny;
  geo::NearestOnSegment(px, py, ax, ay, bx, by, nx, ny);
  const double ex = nx - px, ey = ny - py;
  return ex * ex + ey * ey;
}

// The number (1 .. N-1) of the arc segment closest to the point, the first on a tie.
int32_t ClosestSegment(const geo::Steps &arc, double px, double py) {
  int32_t best = 1;
  double bestDistance = std::numeric_limits<double>::infinity();
  for (int32_t k = 1; k < arc.n; ++k) {
    const double d = SquaredDistance(px, py, arc.X(k - 1), arc.Y(k - 1), arc.X(k), arc.Y(k));
    if (d < bestDistance) {
      bestDistance = d;
      best = k;
    }
  }
  return best;
}

} // namespace

extern "C" {

int32_t evec_IntersectSegments(const Egda_BaseData *segmentOne, const Egda_BaseData *segmentTwo,
                               Evec_Coord *crossing, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsSegment(segmentOne)) {
    geo::Report(err, "evec_IntersectSegments", 1, "Invalid input segment one");
    return 0;
  }
  if (!IsSegment(segmentTwo)) {
    geo::Report(err, "evec_IntersectSegments", 2, "Invalid input segment two");
    return 0;
  }
  const geo::Steps a(*segmentOne), b(*segmentTwo);
  double cx = 0.0, cy = 0.0;
  const int32_t cls =
      geo::IntersectClass(a.X(0), a.Y(0), a.X(1), a.Y(1), b.X(0), b.Y(0), b.X(1), b.Y(1), &cx, &cy);
  if (cls != 0 && crossing) {
    crossing->x = cx;
    crossing->y = cy;
  }
  return cls;
} TAVIRON_GUARD(err, 0)

double evec_AngleBetweenSegments(const Egda_BaseData *segmentOne,
                                 const Egda_BaseData *segmentTwo, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsSegment(segmentOne)) {
    geo::Report(err, "evec_AngleBetweenSegments", 1, "Invalid input segment one");
    return 0.0;
  }
  if (!IsSegment(segmentTwo)) {
    geo::Report(err, "evec_AngleBetweenSegments", 2, "Invalid input segment two");
    return 0.0;
  }
  const geo::Steps a(*segmentOne), b(*segmentTwo);
  return DirectionAngle(a.X(1) - a.X(0), a.Y(1) - a.Y(0)) -
         DirectionAngle(b.X(1) - b.X(0), b.Y(1) - b.Y(0));
} TAVIRON_GUARD(err, 0.0)

double evec_PointDistanceToSegment(const Evec_Coord *point, const Egda_BaseData *segment,
                                   double *distance, Evec_Coord *nearest, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsSegment(segment)) {
    geo::Report(err, "evec_PointDistanceToSegment", 1, "Invalid input segment");
    return -1.0;
  }
  if (!point) {
    geo::Report(err, "evec_PointDistanceToSegment", 2, "Invalid input point");
    return -1.0;
  }
  const geo::Steps v(*segment);
  double nx, ny;
  const double t = geo::NearestOnSegment(point->x, point->y, v.X(0), v.Y(0), v.X(1), v.Y(1), nx, ny);
  if (distance) *distance = std::sqrt((nx - point->x) * (nx - point->x) + (ny - point->y) * (ny - point->y));
  if (nearest) {
    nearest->x = nx;
    nearest->y = ny;
  }
  return t;
} TAVIRON_GUARD(err, -1.0)

double evec_DistanceBetweenTwoPoints(const Evec_Coord *a, const Evec_Coord *b,
                                     Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!a || !b) return -1.0;
  const double dx = b->x - a->x, dy = b->y - a->y;
  return std::sqrt(dx * dx + dy * dy);
} TAVIRON_GUARD(err, -1.0)

double evec_LengthOfArc(const Egda_BaseData *arc, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsArc(arc)) {
    geo::Report(err, "evec_LengthOfArc", 1, "Invalid input arc");
    return 0.0;
  }
  const geo::Steps v(*arc);
  double length = 0.0;
  for (int32_t k = 1; k < v.n; ++k) {
    const double dx = v.X(k) - v.X(k - 1), dy = v.Y(k) - v.Y(k - 1);
    length += std::sqrt(dx * dx + dy * dy);
  }
  return length;
} TAVIRON_GUARD(err, 0.0)

int32_t evec_FindClosestSegmentOfArc(const Egda_BaseData *arc, const Evec_Coord *point,
                                     Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsArc(arc)) {
    geo::Report(err, "evec_FindClosestSegmentOfArc", 1, "Invalid input arc");
    return 0;
  }
  if (!point) {
    geo::Report(err, "evec_FindClosestSegmentOfArc", 2, "Invalid input point");
    return 0;
  }
  return ClosestSegment(geo::Steps(*arc), point->x, point->y);
} TAVIRON_GUARD(err, 0)

int32_t evec_ExtendSegmentToArc(const Egda_BaseData *arc, Egda_BaseData *segment,
                                Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsArc(arc)) {
    geo::Report(err, "evec_ExtendSegmentToArc", 1, "Invalid input arc");
    return 0;
  }
  if (!IsSegment(segment)) {
    geo::Report(err, "evec_ExtendSegmentToArc", 2, "Invalid input segment");
    return 0;
  }
  const geo::Steps a(*arc), s(*segment);
  const int32_t k = ClosestSegment(a, s.X(0), s.Y(0));
  double cx = 0.0, cy = 0.0;
  const int32_t cls = geo::IntersectClass(a.X(k - 1), a.Y(k - 1), a.X(k), a.Y(k), s.X(0), s.Y(0),
                                          s.X(1), s.Y(1), &cx, &cy);
  if (cls != 4 && cls != 5) return 0;
  s.Set(0, cx, cy);
  return k;
} TAVIRON_GUARD(err, 0)

int32_t evec_SegmentIntersectsArc(const Egda_BaseData *segment, const Egda_BaseData *arc,
                                  Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsSegment(segment)) {
    geo::Report(err, "evec_SegmentIntersectsArc", 1, "Invalid input segment");
    return 0;
  }
  if (!IsArc(arc)) {
    geo::Report(err, "evec_SegmentIntersectsArc", 2, "Invalid input arc");
    return 0;
  }
  const geo::Steps s(*segment);
  return geo::SegmentCrossesArc(s.X(0), s.Y(0), s.X(1), s.Y(1), geo::Steps(*arc));
} TAVIRON_GUARD(err, 0)

int32_t evec_ArcIntersectsArc(const Egda_BaseData *arcA, const Egda_BaseData *arcB,
                              Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsArc(arcA)) {
    geo::Report(err, "evec_ArcIntersectsArc", 1, "Invalid input arc");
    return 0;
  }
  if (!IsArc(arcB)) {
    geo::Report(err, "evec_ArcIntersectsArc", 2, "Invalid input arc");
    return 0;
  }
  const geo::Steps a(*arcA), b(*arcB);
  if (!geo::ExtentsOverlap(geo::ExtentOf(a, a.n), geo::ExtentOf(b, b.n))) return 0;
  for (int32_t k = 1; k < a.n; ++k)
    if (geo::SegmentCrossesArc(a.X(k - 1), a.Y(k - 1), a.X(k), a.Y(k), b)) return 1;
  return 0;
} TAVIRON_GUARD(err, 0)

} // extern "C"
