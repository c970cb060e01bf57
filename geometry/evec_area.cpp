// Planar measures: ring areas with and without sign, solidity, perimeters in two or more
// dimensions, region and shape areas, the centre of gravity, elliptical arc areas and lengths,
// and the reordering of a ring's vertices.
#include <cmath>
#include <cstddef>
#include <vector>

#include "efga.h"
#include "egda.h"
#include "emsc.h"
#include "evec.h"
#include "evec_internal.h"
#include "guard.h"

namespace geo = taviron::geometry;

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kPi = 3.141592653589793;

// A ring the area formulas accept: at least 2 rows and 3 columns of f64.
bool IsRing(const Egda_BaseData *ring) { return geo::IsCoordMatrix(ring, 2, 3); }

// The shoelace sum S (positive for counter-clockwise rings with y upward), closing the ring.
double ShoelaceSum(const geo::Steps &v) {
  const int32_t n = v.n;
  double s = 0.0;
  for (int32_t i = 0; i + 1 < n; ++i) s += v.X(i) * v.Y(i + 1) - v.Y(i) * v.X(i + 1);
  s += v.X(n - 1) * v.Y(0) - v.X(0) * v.Y(n - 1);
  return s;
}

// Element (r, c) of a matrix of any object type.
double Element(const geo::Steps &v, int32_t r, int32_t c) {
  return geo::Load(v.origin + c * v.column + r * v.row);
}

// The length through the first d rows; the closing edge added for closed 1.
double PerimeterInternal(const Egda_BaseData *poly, int32_t closed, int32_t d,
                         Eerr_ErrorReport **err) {
  if (!poly || !geo::IsCoordMatrix(poly, d < 1 ? 1 : d)) {
    geo::Report(err, "PolyPerimeterCalculateInternal", 1, "Invalid input poly");
    return 0.0;
  }
  const geo::Steps v(*poly);
  auto distance = [&](int32_t a, int32_t b) {
    double sum = 0.0;
    for (int32_t r = 0; r < d; ++r) {
      const double delta = Element(v, r, b) - Element(v, r, a);
      sum += delta * delta;
    }
    return std::sqrt(sum);
  };
  double length = 0.0;
  for (int32_t j = 1; j < v.n; ++j) length += distance(j - 1, j);
  if (closed == 1 && v.n > 0) length += distance(v.n - 1, 0);
  return length;
}

// Swaps every row of columns a and b.
void SwapColumns(const geo::Steps &v, int32_t rows, int32_t a, int32_t b) {
  for (int32_t r = 0; r < rows; ++r) {
    uint8_t *pa = v.origin + a * v.column + r * v.row;
    uint8_t *pb = v.origin + b * v.column + r * v.row;
    const double t = geo::Load(pa);
    geo::Store(pa, geo::Load(pb));
    geo::Store(pb, t);
  }
}

// ---- Elliptical arcs ----------------------------------------------------------------------------

// The set-up shared by the arc area and length: parametric angles, sweep and the polygon
// approximation, whose points come from the affine polynomial of the ellipse.
struct Arc {
  const char *reporter;
  double a, b, start, sweep;
  bool fullTurn;

  Arc(const char *name, double semiX, double semiY, double startAngle, double endAngle)
      : reporter(name), a(semiX), b(semiY) {
    start = std::atan2(a * std::sin(startAngle), b * std::cos(startAngle));
    const double end = std::atan2(a * std::sin(endAngle), b * std::cos(endAngle));
    if (end > start) sweep = end - start;
    else if (end == start) sweep = kTwoPi;
    else sweep = kTwoPi - start + end;
    fullTurn = sweep == kTwoPi;
  }

  // The number of polygon steps for `steps` per full turn (halves away from zero).
  double Segments(int32_t steps) const { return std::round(sweep / kTwoPi * steps); }
};

// Points of the polygon approximation, handed one by one to visit(x, y); false with a report
// when a lower-layer step fails (visit has then seen the points so far).
template <class Visit>
bool WalkArc(const Arc &arc, const Evec_Coord &centre, double rotation, double n, Visit &&visit,
             Eerr_ErrorReport **err) {
  Eerr_ErrorReport *inner = nullptr;
  Efga_Polynomial *poly =
      efga_PolyCreate2DAffine(centre.x, centre.y, rotation, arc.a, arc.b, &inner);
  if (!poly) {
    geo::ReportCallee(err, inner, arc.reporter, 2, "efga_PolyCreate2DAffine");
    return false;
  }
  Egda_BaseData *unit = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner);
  if (!unit) {
    efga_PolynomialDelete(poly, nullptr);
    geo::ReportCallee(err, inner, arc.reporter, 3, "efga_MatrixCreate for coord1");
    return false;
  }
  Egda_BaseData *point = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner);
  if (!point) {
    egda_BaseDataDelete(unit, nullptr);
    efga_PolynomialDelete(poly, nullptr);
    geo::ReportCallee(err, inner, arc.reporter, 4, "efga_MatrixCreate for coord2");
    return false;
  }
  bool ok = true;
  const double step = arc.sweep / n;
  const auto count = static_cast<int64_t>(n);
  const geo::Steps u(*unit), p(*point);
  for (int64_t i = 0; i <= count; ++i) {
    const double t = std::fmod(static_cast<double>(i) * step + arc.start, kTwoPi);
    u.Set(0, std::cos(t), std::sin(t));
    if (!efga_PolyTransCoords(unit, point, poly, 0, &inner)) {
      geo::ReportCallee(err, inner, arc.reporter, 5, "efga_PolyTransCoords");
      ok = false;
      break;
    }
    visit(p.X(0), p.Y(0));
  }
  egda_BaseDataDelete(point, nullptr);
  egda_BaseDataDelete(unit, nullptr);
  efga_PolynomialDelete(poly, nullptr);
  return ok;
}

// The polygon needs at least one step: a count that rounds to none (or is not a number) has no
// finite result and is refused.
bool CheckSegments(const Arc &arc, double n, Eerr_ErrorReport **err) {
  if (n >= 1.0 && n <= 1e9) return true;
  geo::Report(err, arc.reporter, 6, "Invalid input steps");
  return false;
}

double Distance(double x0, double y0, double x1, double y1) { return std::hypot(x1 - x0, y1 - y0); }

// Heron's formula; a product that rounding takes below zero is a degenerate triangle.
double Heron(double ax, double ay, double bx, double by, double cx, double cy) {
  const double p = Distance(ax, ay, bx, by), q = Distance(bx, by, cx, cy),
               r = Distance(cx, cy, ax, ay);
  const double s = (p + q + r) * 0.5;
  const double product = s * (s - p) * (s - q) * (s - r);
  return product > 0.0 ? std::sqrt(product) : 0.0;
}

} // namespace

extern "C" {

double evec_PolygonAreaCalculate(const Egda_BaseData *ring, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsRing(ring)) {
    geo::Report(err, "evec_PolygonAreaCalculate", 1, "Invalid input polygon");
    return 0.0;
  }
  return std::fabs(ShoelaceSum(geo::Steps(*ring))) * 0.5;
} TAVIRON_GUARD(err, 0.0)

double evec_PolygonAreaCalculateWithSign(const Egda_BaseData *ring, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsRing(ring)) {
    geo::Report(err, "evec_PolygonAreaCalculateWithSign", 1, "Invalid input polygon");
    return 0.0;
  }
  return ShoelaceSum(geo::Steps(*ring)) * -0.5;
} TAVIRON_GUARD(err, 0.0)

int32_t evec_PolygonIsSolid(const Egda_BaseData *ring) try {
  Eerr_ErrorReport *inner = nullptr;
  const double area = evec_PolygonAreaCalculateWithSign(ring, &inner);
  if (inner) {
    eerr_DeleteErrorReportEx(&inner);
    return 0;
  }
  return area > 0.0 ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

double evec_PolyPerimeterCalculate(const Egda_BaseData *poly, int32_t closed,
                                   Eerr_ErrorReport **err) try {
  geo::Clear(err);
  return PerimeterInternal(poly, closed, 2, err);
} TAVIRON_GUARD(err, 0.0)

double evec_PolyPerimeterCalculateMultiD(const Egda_BaseData *poly, int32_t closed,
                                         Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!poly) {
    geo::Report(err, "evec_PolyPerimeterCalculateMultiD", 1, "Invalid input poly");
    return 0.0;
  }
  return PerimeterInternal(poly, closed, poly->rows, err);
} TAVIRON_GUARD(err, 0.0)

double evec_RegionAreaCalculate(const Efga_CoordinateBlock *region, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  return geo::SumRings(
      region, "evec_RegionAreaCalculate", "Invalid input region",
      "Error returned from evec_PolygonAreaCalculate",
      [](int32_t i, const Egda_BaseData *ring, Eerr_ErrorReport **inner) {
        const double area = evec_PolygonAreaCalculate(ring, inner);
        return i % 2 ? -area : area;
      },
      err);
} TAVIRON_GUARD(err, 0.0)

double evec_RegionPerimeterCalculate(const Efga_CoordinateBlock *region, int32_t closed,
                                     Eerr_ErrorReport **err) try {
  geo::Clear(err);
  return geo::SumRings(
      region, "evec_RegionPerimeterCalculate", "Invalid input region",
      "Error returned from evec_PolygonPerimeterCalculate",
      [closed](int32_t, const Egda_BaseData *ring, Eerr_ErrorReport **inner) {
        return PerimeterInternal(ring, closed, 2, inner);
      },
      err);
} TAVIRON_GUARD(err, 0.0)

double evec_ShapeAreaCalculate(const Efga_CoordinateBlock *shape, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  return geo::SumRings(
      shape, "evec_ShapeAreaCalculate", "Invalid input Shape",
      "Error returned from evec_PolygonAreaCalculate",
      [](int32_t, const Egda_BaseData *ring, Eerr_ErrorReport **inner) {
        return evec_PolygonAreaCalculateWithSign(ring, inner);
      },
      err);
} TAVIRON_GUARD(err, 0.0)

Evec_Coord *evec_CenterOfGravityOfPolygon(const Egda_BaseData *ring, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!geo::IsCoordMatrix(ring, 2, 1)) return nullptr;
  Evec_Coord *centre = evec_CoordCreate(nullptr);
  if (!centre) return nullptr;
  const geo::Steps v(*ring);
  const int32_t n = v.n;
  const double px = v.X(n - 1), py = v.Y(n - 1);
  double w = 0.0, sx = 0.0, sy = 0.0;
  for (int32_t i = 1; i <= n - 2; ++i) {
    const double x0 = v.X(i - 1), y0 = v.Y(i - 1), x1 = v.X(i), y1 = v.Y(i);
    const double weight = (y0 - py) * (px - x1) + (x0 - px) * (y1 - py);
    w += weight;
    sx += weight * (x0 + x1);
    sy += weight * (y0 + y1);
  }
  centre->x = (sx / w + px) / 3.0;
  centre->y = (sy / w + py) / 3.0;
  return centre;
} TAVIRON_GUARD(err, nullptr)

double evec_ArcAreaCalculate(const Evec_Coord *center, double a, double b, double rotation,
                             double startAngle, double endAngle, int32_t kind, int32_t steps,
                             Eerr_ErrorReport **err) try {
  geo::Clear(err);
  static const char *reporter = "evec_ArcAreaCalculate";
  if (!center) {
    geo::Report(err, reporter, 1, "Invalid input center");
    return 0.0;
  }
  if (kind == 0) return 0.0;
  const Arc arc(reporter, a, b, startAngle, endAngle);
  if (kind != 2 && a == b) return (arc.sweep / kTwoPi * kPi) * a * a;
  if (arc.fullTurn) return kPi * a * b;
  const double n = arc.Segments(steps);
  if (!CheckSegments(arc, n, err)) return 0.0;

  double area = 0.0, firstX = 0.0, firstY = 0.0, lastX = 0.0, lastY = 0.0;
  bool first = true;
  const bool ok = WalkArc(
      arc, *center, rotation, n,
      [&](double x, double y) {
        if (first) {
          firstX = x;
          firstY = y;
          first = false;
        } else {
          area += Heron(center->x, center->y, lastX, lastY, x, y);
        }
        lastX = x;
        lastY = y;
      },
      err);
  if (!ok) return area;
  if (kind == 2 && arc.sweep != kPi) {
    const double chord = Heron(center->x, center->y, firstX, firstY, lastX, lastY);
    area += arc.sweep < kPi ? -chord : chord;
  }
  return area;
} TAVIRON_GUARD(err, 0.0)

double evec_ArcLengthCalculate(const Evec_Coord *center, double a, double b, double rotation,
                               double startAngle, double endAngle, int32_t kind, int32_t steps,
                               Eerr_ErrorReport **err) try {
  geo::Clear(err);
  static const char *reporter = "evec_ArcLengthCalculate";
  if (!center) {
    geo::Report(err, reporter, 1, "Invalid input center");
    return 0.0;
  }
  const Arc arc(reporter, a, b, startAngle, endAngle);
  if (a == b) return a * (arc.sweep / kTwoPi * kTwoPi);
  if (arc.fullTurn) return kPi * (1.5 * (a + b) - std::sqrt(a * b));
  const double n = arc.Segments(steps);
  if (!CheckSegments(arc, n, err)) return 0.0;

  double length = 0.0, firstX = 0.0, firstY = 0.0, lastX = 0.0, lastY = 0.0;
  bool first = true;
  const bool ok = WalkArc(
      arc, *center, rotation, n,
      [&](double x, double y) {
        if (first) {
          firstX = x;
          firstY = y;
          first = false;
        } else {
          length += Distance(lastX, lastY, x, y);
        }
        lastX = x;
        lastY = y;
      },
      err);
  if (!ok) return length;
  if (kind == 1)
    length += Distance(lastX, lastY, center->x, center->y) +
              Distance(center->x, center->y, firstX, firstY);
  else if (kind == 2)
    length += Distance(lastX, lastY, firstX, firstY);
  return length;
} TAVIRON_GUARD(err, 0.0)

void evec_PolygonChangeVerticesDirection(Egda_BaseData *ring, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsRing(ring)) {
    geo::Report(err, "evec_PolygonChangeVerticesDirection", 1, "Invalid input polygon");
    return;
  }
  const geo::Steps v(*ring);
  for (int32_t i = 0, j = v.n - 1; i < j; ++i, --j) SwapColumns(v, ring->rows, i, j);
} TAVIRON_GUARD_VOID(err)

void evec_PolygonChangeStartPoint(Egda_BaseData *ring, int32_t start, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  static const char *reporter = "evec_PolygonChangeStartPoint";
  if (!IsRing(ring)) {
    geo::Report(err, reporter, 1, "Invalid input polygon");
    return;
  }
  const geo::Steps v(*ring);
  const int32_t n = v.n, rows = ring->rows;
  if (start < 1 || start > n) {
    geo::Report(err, reporter, 2, "Invalid input start point");
    return;
  }
  if (start == 1) return;
  std::vector<double> walked;
  try {
    walked.resize(static_cast<std::size_t>(n) * static_cast<std::size_t>(rows));
  } catch (const std::bad_alloc &) {
    geo::Report(err, reporter, 3, "Cannot allocate space");
    return;
  }
  int32_t from = start - 1;
  for (int32_t j = 0; j < n; ++j, ++from) {
    if (from == n - 1) from = 0;
    for (int32_t r = 0; r < rows; ++r) walked[std::size_t(j) * rows + r] = Element(v, r, from);
  }
  for (int32_t r = 0; r < rows; ++r) walked[std::size_t(n - 1) * rows + r] = walked[r];
  for (int32_t j = 0; j < n; ++j)
    for (int32_t r = 0; r < rows; ++r)
      geo::Store(v.origin + j * v.column + r * v.row, walked[std::size_t(j) * rows + r]);
} TAVIRON_GUARD_VOID(err)

} // extern "C"
