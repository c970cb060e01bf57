// Containment and proximity tests: points in convex and concave polygons and in ellipses, points
// near vertices and polylines, and arcs wholly or partly inside such shapes.
#include <algorithm>
#include <cmath>

#include "evec.h"
#include "evec_internal.h"
#include "guard.h"

namespace geo = taviron::geometry;

namespace {

// Convex test on the stored vertices: inside (or on the outline) when the point lies on the
// inner side of every edge of a clockwise ring (y up).
bool InsideConvex(const geo::Stored &poly, double px, double py) {
  const int32_t n = poly.n;
  if (n == 0) return true;
  double x0 = poly.X(n - 1), y0 = poly.Y(n - 1);
  // Edge from the last vertex back to vertex 0 first: the edges are independent.
  for (int32_t i = 0; i < n; ++i) {
    const double x1 = poly.X(i), y1 = poly.Y(i);
    const double c = (y1 - y0) * (px - x0) - (py - y0) * (x1 - x0);
    if (!(c >= 0.0)) return false;
    x0 = x1;
    y0 = y1;
  }
  return true;
}

// Even-odd crossing count on the stored vertices: an edge counts when py lies in its half-open
// y span, and its crossing lies strictly right of the point.
bool InsideConcave(const geo::Stored &poly, double px, double py) {
  const int32_t n = poly.n;
  if (n == 0) return false;
  bool inside = false;
  double x1 = poly.X(n - 1), y1 = poly.Y(n - 1);
  for (int32_t j = 0; j < n; ++j) {
    const double x2 = poly.X(j), y2 = poly.Y(j);
    if ((py >= y1 && py < y2) || (py < y1 && py >= y2)) {
      const double dx = x2 - x1;
      const double x = dx == 0.0 ? x1 : (py - y1) / ((y2 - y1) / dx) + x1;
      if (x > px) inside = !inside;
    }
    x1 = x2;
    y1 = y2;
  }
  return inside;
}

// The ellipse of a box: centre the mean of the corners, semi-axes from the first corner.
struct Ellipse {
  double cx, cy, a, b;
};

Ellipse EllipseOf(const Egda_BaseData &box) {
  const geo::Steps v(box);
  const double cx = (v.X(0) + v.X(1)) / 2.0, cy = (v.Y(0) + v.Y(1)) / 2.0;
  return {cx, cy, std::fabs(v.X(0) - cx), std::fabs(v.Y(0) - cy)};
}

bool InsideEllipse(const Ellipse &e, double px, double py) {
  if (!(e.a > 0.0) || !(e.b > 0.0)) return false; // a flat ellipse contains no point
  const double dy = py - e.cy, dx = px - e.cx;
  return dy * dy / (e.b * e.b) + dx * dx / (e.a * e.a) <= 1.0;
}

bool IsEllipseBox(const Egda_BaseData *box) {
  return geo::IsCoordMatrix(box, 2, 2) && box->columns == 2;
}

bool Near(double px, double py, double x, double y, double tolerance) {
  const double dx = px - x, dy = py - y;
  return std::sqrt(dx * dx + dy * dy) <= tolerance;
}

// The shape an arc test runs against.
enum class Shape { Convex, Concave, Ellipse };

struct Region {
  Shape shape;
  const Egda_BaseData *matrix;
  Ellipse ellipse{};

  bool Contains(double x, double y) const {
    switch (shape) {
    case Shape::Convex: return InsideConvex(geo::Stored(*matrix), x, y);
    case Shape::Concave: return InsideConcave(geo::Stored(*matrix), x, y);
    case Shape::Ellipse: return InsideEllipse(ellipse, x, y);
    }
    return false;
  }
};

// Validates the arguments of an arc test; false (with the report) when they are not usable.
bool ArcArguments(const char *reporter, const Egda_BaseData *arc, const Egda_BaseData *shape,
                  Shape kind, Eerr_ErrorReport **err) {
  if (!geo::IsCoordMatrix(arc)) {
    geo::Report(err, reporter, 1, "Invalid input arc");
    return false;
  }
  if (kind == Shape::Ellipse ? !IsEllipseBox(shape) : !geo::IsCoordMatrix(shape)) {
    geo::Report(err, reporter, 2, kind == Shape::Ellipse ? "Invalid input ellipse" : "Invalid input polygon");
    return false;
  }
  return true;
}

// The box test: the arc's box must overlap the polygon's (or the ellipse's) box. An arc or
// polygon without points has no box and fails it.
bool BoxesOverlap(const geo::Steps &arc, const Egda_BaseData &shape, Shape kind) {
  if (arc.n == 0 || shape.columns == 0) return false;
  geo::Extent other{};
  if (kind == Shape::Ellipse) {
    // A caller's ellipse box may hold any two opposite corners.
    const geo::Steps v(shape);
    other = {std::min(v.X(0), v.X(1)), std::min(v.Y(0), v.Y(1)), std::max(v.X(0), v.X(1)),
             std::max(v.Y(0), v.Y(1))};
  } else {
    other = geo::ExtentOf(geo::Steps(shape), shape.columns);
  }
  return geo::ExtentsOverlap(geo::ExtentOf(arc, arc.n), other);
}

Region RegionOf(const Egda_BaseData &shape, Shape kind) {
  Region region{kind, &shape};
  if (kind == Shape::Ellipse) region.ellipse = EllipseOf(shape);
  return region;
}

int32_t ArcInside(const char *reporter, const Egda_BaseData *arc, const Egda_BaseData *shape,
                  Shape kind, Eerr_ErrorReport **err) {
  geo::Clear(err);
  if (!ArcArguments(reporter, arc, shape, kind, err)) return 0;
  const geo::Steps a(*arc);
  if (!BoxesOverlap(a, *shape, kind)) return 0;
  const Region region = RegionOf(*shape, kind);
  for (int32_t j = 0; j < a.n; ++j)
    if (!region.Contains(a.X(j), a.Y(j))) return 0;
  return 1;
}

int32_t ArcPartiallyInside(const char *reporter, const Egda_BaseData *arc,
                           const Egda_BaseData *shape, Shape kind, Eerr_ErrorReport **err) {
  geo::Clear(err);
  if (!ArcArguments(reporter, arc, shape, kind, err)) return 0;
  const geo::Steps a(*arc);
  if (!BoxesOverlap(a, *shape, kind)) return 0;
  const Region region = RegionOf(*shape, kind);
  for (int32_t j = 0; j < a.n; ++j)
    if (region.Contains(a.X(j), a.Y(j))) return 1;
  // The outline: the polygon's vertex list as an open polyline, or the ellipse's octagon.
  double octagon[18];
  geo::Steps outline;
  if (kind == Shape::Ellipse) {
    const geo::Steps v(*shape);
    geo::EllipseVertices(45, v.X(0), v.Y(0), v.X(1), v.Y(1), octagon);
    outline = geo::Steps(octagon, 9);
  } else {
    outline = geo::Steps(*shape);
  }
  for (int32_t k = 1; k < a.n; ++k)
    if (geo::SegmentCrossesArc(a.X(k - 1), a.Y(k - 1), a.X(k), a.Y(k), outline)) return 1;
  return 0;
}

// A one-column point matrix.
bool IsPointMatrix(const Egda_BaseData *point) {
  return geo::IsCoordMatrix(point, 2, 1) && point->columns == 1;
}

} // namespace

extern "C" {

int32_t evec_CoordInsideConvexPolygon(const Evec_Coord *coord, const Egda_BaseData *polygon,
                                      Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!coord || !geo::IsCoordMatrix(polygon)) return 0;
  return InsideConvex(geo::Stored(*polygon), coord->x, coord->y) ? 1 : 0;
} TAVIRON_GUARD(err, 0)

int32_t evec_CoordInsideConcavePolygon(const Evec_Coord *coord, const Egda_BaseData *polygon,
                                       Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!coord || !geo::IsCoordMatrix(polygon)) return 0;
  return InsideConcave(geo::Stored(*polygon), coord->x, coord->y) ? 1 : 0;
} TAVIRON_GUARD(err, 0)

int32_t evec_CoordInsideEllipse(const Evec_Coord *coord, const Egda_BaseData *ellipseBox,
                                Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!coord) {
    geo::Report(err, "evec_CoordInsideEllipse", 1, "Invalid input coord");
    return 0;
  }
  if (!IsEllipseBox(ellipseBox)) {
    geo::Report(err, "evec_CoordInsideEllipse", 2, "Invalid input ellipse");
    return 0;
  }
  return InsideEllipse(EllipseOf(*ellipseBox), coord->x, coord->y) ? 1 : 0;
} TAVIRON_GUARD(err, 0)

int32_t evec_CoordNearPoint(const Egda_BaseData *point, const Efga_CoordinateBlock *points,
                            double tolerance, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsPointMatrix(point)) {
    geo::Report(err, "evec_CoordNearPoint", 1, "Invalid input coord");
    return 0;
  }
  if (!points || (points->count > 0 && !points->parts)) {
    geo::Report(err, "evec_CoordNearPoint", 2, "Invalid input points");
    return 0;
  }
  const geo::Steps p(*point);
  const double px = p.X(0), py = p.Y(0), t = tolerance;
  for (int32_t i = 0; i < points->count; ++i) {
    const Egda_BaseData *part = points->parts[i];
    if (!geo::IsCoordMatrix(part)) continue;
    const geo::Steps v(*part);
    for (int32_t j = 0; j < v.n; ++j) {
      const double x = v.X(j), y = v.Y(j);
      if (x - t <= px && px <= x + t && y - t <= py && py <= y + t) return 1;
    }
  }
  return 0;
} TAVIRON_GUARD(err, 0)

int32_t evec_CoordNearPolyline(const Egda_BaseData *point, const Efga_CoordinateBlock *lines,
                               int32_t closed, double tolerance, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsPointMatrix(point)) {
    geo::Report(err, "evec_CoordNearPolyline", 1, "Invalid input coord");
    return 0;
  }
  if (!lines || (lines->count > 0 && !lines->parts)) {
    geo::Report(err, "evec_CoordNearPolyline", 2, "Invalid input polylines");
    return 0;
  }
  const geo::Steps p(*point);
  const double px = p.X(0), py = p.Y(0);
  for (int32_t i = 0; i < lines->count; ++i) {
    const Egda_BaseData *part = lines->parts[i];
    if (!geo::IsCoordMatrix(part)) continue;
    const geo::Steps v(*part);
    const int32_t n = v.n;
    const int32_t segments = closed == 1 ? n : n - 1;
    for (int32_t s = 0; s < segments; ++s) {
      const double ax = v.X(s), ay = v.Y(s);
      const int32_t e = s + 1 < n ? s + 1 : 0;
      const double bx = v.X(e), by = v.Y(e);
      if (Near(px, py, ax, ay, tolerance) || Near(px, py, bx, by, tolerance)) return 1;
      if (ax == bx && ay == by) continue;
      // The point in the segment's frame: A at the origin, B on the positive x axis.
      const double angle = std::atan2(by - ay, bx - ax);
      const double c = std::cos(angle), sn = std::sin(angle);
      const double dx = px - ax, dy = py - ay;
      const double u = c * dx + sn * dy, w = -sn * dx + c * dy;
      const double length = std::sqrt((bx - ax) * (bx - ax) + (by - ay) * (by - ay));
      if (u >= 0.0 && u <= length && std::fabs(w) <= tolerance) return 1;
    }
  }
  return 0;
} TAVIRON_GUARD(err, 0)

int32_t evec_ArcInsideConvexPolygon(const Egda_BaseData *arc, const Egda_BaseData *polygon,
                                    Eerr_ErrorReport **err) try {
  return ArcInside("evec_ArcInsideConvexPolygon", arc, polygon, Shape::Convex, err);
} TAVIRON_GUARD(err, 0)

int32_t evec_ArcInsideConcavePolygon(const Egda_BaseData *arc, const Egda_BaseData *polygon,
                                     Eerr_ErrorReport **err) try {
  return ArcInside("evec_ArcInsideConcavePolygon", arc, polygon, Shape::Concave, err);
} TAVIRON_GUARD(err, 0)

int32_t evec_ArcInsideEllipse(const Egda_BaseData *arc, const Egda_BaseData *ellipseBox,
                              Eerr_ErrorReport **err) try {
  return ArcInside("evec_ArcInsideEllipse", arc, ellipseBox, Shape::Ellipse, err);
} TAVIRON_GUARD(err, 0)

int32_t evec_ArcEntirelyInsideConcavePolygon(const Egda_BaseData *arc,
                                             const Egda_BaseData *polygon,
                                             Eerr_ErrorReport **err) try {
  if (!ArcInside("evec_ArcEntirelyInsideConcavePolygon", arc, polygon, Shape::Concave, err))
    return 0;
  const geo::Steps a(*arc), outline(*polygon);
  for (int32_t k = 1; k < a.n; ++k)
    if (geo::SegmentCrossesArc(a.X(k - 1), a.Y(k - 1), a.X(k), a.Y(k), outline)) return 0;
  return 1;
} TAVIRON_GUARD(err, 0)

int32_t evec_ArcPartiallyInsideConvexPolygon(const Egda_BaseData *arc,
                                             const Egda_BaseData *polygon,
                                             Eerr_ErrorReport **err) try {
  return ArcPartiallyInside("evec_ArcPartiallyInsideConvexPolygon", arc, polygon, Shape::Convex,
                            err);
} TAVIRON_GUARD(err, 0)

int32_t evec_ArcPartiallyInsideConcavePolygon(const Egda_BaseData *arc,
                                              const Egda_BaseData *polygon,
                                              Eerr_ErrorReport **err) try {
  return ArcPartiallyInside("evec_ArcPartiallyInsideConcavePolygon", arc, polygon,
                            Shape::Concave, err);
} TAVIRON_GUARD(err, 0)

int32_t evec_ArcPartiallyInsideEllipse(const Egda_BaseData *arc, const Egda_BaseData *ellipseBox,
                                       Eerr_ErrorReport **err) try {
  return ArcPartiallyInside("evec_ArcPartiallyInsideEllipse", arc, ellipseBox, Shape::Ellipse,
                            err);
} TAVIRON_GUARD(err, 0)

} // extern "C"
