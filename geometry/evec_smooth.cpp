// New vertices for arcs: points along an arc (straight or on a cubic spline), smoothed and
// densified copies, the polygon of an ellipse and the joining of two arcs.
#include <cmath>
#include <limits>

#include "efga.h"
#include "emsc.h"
#include "evec.h"
#include "evec_internal.h"
#include "guard.h"

namespace geo = taviron::geometry;

namespace taviron::geometry {

// count = 360 / step vertices from angle 0 by repeated addition of the step (in radians through
// the constant 3.1415926), then the vertex of angle 0 again, which closes the ring.
void EllipseVertices(int32_t step, double x1, double y1, double x2, double y2, double *out) {
  const int32_t count = 360 / step;
  const double cx = (x1 + x2) / 2.0, cy = (y1 + y2) / 2.0;
  const double rx = std::fabs(x1 - cx), ry = std::fabs(y1 - cy);
  const double increment = step / 180.0 * 3.1415926;
  double angle = 0.0;
  for (int32_t i = 0; i < count; ++i) {
    out[2 * i] = rx * std::cos(angle) + cx;
    out[2 * i + 1] = ry * std::sin(angle) + cy;
    angle += increment;
  }
  out[2 * count] = cx + rx;
  out[2 * count + 1] = cy;
}

} // namespace taviron::geometry

namespace {

struct Point {
  double x, y;
};

double Distance(Point a, Point b) {
  const double dx = b.x - a.x, dy = b.y - a.y;
  return std::sqrt(dx * dx + dy * dy);
}

Point Vertex(const geo::Steps &v, int32_t j) { return {v.X(j), v.Y(j)}; }

// Where a distance x (0 < x < length) falls: segment k (vertex k-1 to vertex k) is the first
// whose cumulative end length is >= x; s is x less the length up to vertex k-1.
struct Location {
  int32_t k;
  double s;
};

Location Locate(const geo::Steps &v, double x) {
  double start = 0.0;
  for (int32_t k = 1; k < v.n; ++k) {
    const double end = start + Distance(Vertex(v, k - 1), Vertex(v, k));
    if (end >= x || k == v.n - 1) return {k, x - start};
    start = end;
  }
  return {1, x};
}

// The point at local distance s on the straight segment a -> b of that length.
Point OnSegment(Point a, Point b, double s, double length) {
  if (length == 0.0 || s == 0.0) return a;
  if (s == length) return b;
  const double f = s / length;
  return {a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f};
}

// The cubic of segment i of a spline: P(i) at s = 0, P(i+1) at s = h.
Point OnCubic(Point p0, Point p1, Point t0, Point t1, double h, double s) {
  const auto coordinate = [&](double a, double b, double ta, double tb) {
    const double c2 = 3.0 * (b - a) / (h * h) - 2.0 * ta / h - tb / h;
    const double c3 = 2.0 * (a - b) / (h * h * h) + ta / (h * h) + tb / (h * h);
    return a + s * (ta + s * (c2 + s * c3));
  };
  return {coordinate(p0.x, p1.x, t0.x, t1.x), coordinate(p0.y, p1.y, t0.y, t1.y)};
}

// Row i of the spline system over points p[0 .. n-1] with chords h: coefficients of T(i-1),
// T(i), T(i+1) and the right-hand side.
struct SplineRow {
  double sub, diagonal, super;
  Point rhs;
};

template <class Points> SplineRow SplineSystemRow(const Points &p, const double *h, int32_t n,
                                                   int32_t i) {
  if (i == 0) {
    const double f = 3.0 / (2.0 * h[0]);
    return {0.0, 1.0, 0.5, {f * (p(1).x - p(0).x), f * (p(1).y - p(0).y)}};
  }
  if (i == n - 1) {
    const double f = 6.0 / h[n - 2];
    return {2.0, 4.0, 0.0, {f * (p(n - 1).x - p(n - 2).x), f * (p(n - 1).y - p(n - 2).y)}};
  }
  const double a = h[i - 1], b = h[i];
  const double f = 3.0 / (a * b);
  return {b, 2.0 * (a + b), a,
          {f * (b * b * (p(i).x - p(i - 1).x) + a * a * (p(i + 1).x - p(i).x)),
           f * (b * b * (p(i).y - p(i - 1).y) + a * a * (p(i + 1).y - p(i).y))}};
}

double &At(Egda_BaseData *m, int32_t r, int32_t c) {
  return *reinterpret_cast<double *>(m->origin + std::ptrdiff_t{c} * m->pitch + std::ptrdiff_t{r} * 8);
}

bool IsArc(const Egda_BaseData *arc, int32_t minColumns) {
  return geo::IsCoordMatrix(arc, 2, minColumns);
}

// The number of points that fit a count, or -1 when it is not a usable matrix size.
int32_t PointCount(double count) {
  if (!(count >= 0.0) || count > static_cast<double>(std::numeric_limits<int32_t>::max() - 2))
    return -1;
  return static_cast<int32_t>(count);
}

} // namespace

extern "C" {

Evec_Coord *evec_DensifyPointOfArc(const Egda_BaseData *arc, double distance,
                                   Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsArc(arc, 2)) {
    geo::Report(err, "evec_DensifyPointOfArc", 1, "Invalid input arc");
    return nullptr;
  }
  const double length = evec_LengthOfArc(arc, nullptr);
  if (!(distance > 0.0 && distance < length)) {
    geo::Report(err, "evec_DensifyPointOfArc", 2, "Invalid input location");
    return nullptr;
  }
  const geo::Steps v(*arc);
  const Location at = Locate(v, distance);
  Evec_Coord *coord = evec_CoordCreate(nullptr);
  if (!coord) {
    geo::Report(err, "evec_DensifyPointOfArc", 3, "Error returned from evec_CoordCreate");
    return nullptr;
  }
  const Point a = Vertex(v, at.k - 1), b = Vertex(v, at.k);
  const Point p = OnSegment(a, b, at.s, Distance(a, b));
  coord->x = p.x;
  coord->y = p.y;
  return coord;
} TAVIRON_GUARD(err, nullptr)

Evec_Coord *evec_SplinePointOfArc(const Egda_BaseData *arc, double distance,
                                  Eerr_ErrorReport **err) try {
  geo::Clear(err);
  static const char kReporter[] = "evec_SplinePointOfArc";
  if (!IsArc(arc, 3)) {
    geo::Report(err, kReporter, 1, "Invalid input arc");
    return nullptr;
  }
  const double length = evec_LengthOfArc(arc, nullptr);
  if (!(distance > 0.0 && distance < length)) {
    geo::Report(err, kReporter, 2, "Invalid input location");
    return nullptr;
  }
  const geo::Steps v(*arc);
  const Location at = Locate(v, distance);
  const int32_t k = at.k;
  // Control points: vertices k-2, k-1, k, k+1. A missing neighbour (before vertex 0, after the
  // last vertex) is the mirror image of the segment's far end through its near end, so the
  // curve leaves the end vertex straight on. A neighbour that repeats its vertex would give a
  // chord of zero length: the nearest distinct vertex outward stands in for it.
  const Point p1 = Vertex(v, k - 1), p2 = Vertex(v, k);
  Point p0{2.0 * p1.x - p2.x, 2.0 * p1.y - p2.y};
  for (int32_t j = k - 2; j >= 0; --j)
    if (v.X(j) != p1.x || v.Y(j) != p1.y) {
      p0 = Vertex(v, j);
      break;
    }
  Point p3{2.0 * p2.x - p1.x, 2.0 * p2.y - p1.y};
  for (int32_t j = k + 1; j < v.n; ++j)
    if (v.X(j) != p2.x || v.Y(j) != p2.y) {
      p3 = Vertex(v, j);
      break;
    }
  const Point control[4] = {p0, p1, p2, p3};
  const double h[3] = {Distance(p0, p1), Distance(p1, p2), Distance(p2, p3)};

  // The 4 x 4 system, inverted and applied by the lower layer.
  Egda_BaseData *work[5] = {};
  const auto release = [&] {
    for (Egda_BaseData *m : work) egda_BaseDataDelete(m, nullptr);
  };
  const int32_t shapes[5][2] = {{2, 4}, {4, 4}, {4, 2}, {4, 4}, {4, 2}};
  for (int32_t w = 0; w < 5; ++w) {
    Eerr_ErrorReport *inner = nullptr;
    work[w] = egda_BaseDataCreate(shapes[w][0], shapes[w][1], EGDA_TYPE_F64, EGDA_MATRIX, nullptr,
                                  &inner);
    if (!work[w]) {
      release();
      geo::ReportCallee(err, inner, kReporter, 4 + w, "efga_MatrixCreate");
      return nullptr;
    }
  }
  Egda_BaseData *points = work[0], *coefficients = work[1], *rhs = work[2], *inverse = work[3],
                *tangents = work[4];
  for (int32_t i = 0; i < 4; ++i) {
    At(points, 0, i) = control[i].x;
    At(points, 1, i) = control[i].y;
  }
  const auto p = [&](int32_t i) { return control[i]; };
  for (int32_t i = 0; i < 4; ++i) {
    const SplineRow row = SplineSystemRow(p, h, 4, i);
    if (i > 0) At(coefficients, i, i - 1) = row.sub;
    At(coefficients, i, i) = row.diagonal;
    if (i < 3) At(coefficients, i, i + 1) = row.super;
    At(rhs, i, 0) = row.rhs.x;
    At(rhs, i, 1) = row.rhs.y;
  }
  Eerr_ErrorReport *inner = nullptr;
  if (!egda_MatrixInvert(coefficients, inverse, &inner)) {
    release();
    geo::ReportCallee(err, inner, kReporter, 3, "efga_MatrixInvert");
    return nullptr;
  }
  if (!efga_MatrixMultiply(inverse, rhs, tangents, &inner)) {
    release();
    geo::ReportCallee(err, inner, kReporter, 3, "efga_MatrixMultiply");
    return nullptr;
  }
  const Point t1{At(tangents, 1, 0), At(tangents, 1, 1)}, t2{At(tangents, 2, 0), At(tangents, 2, 1)};
  const Point result = OnCubic({At(points, 0, 1), At(points, 1, 1)},
                               {At(points, 0, 2), At(points, 1, 2)}, t1, t2, h[1], at.s);
  release();
  Evec_Coord *coord = evec_CoordCreate(nullptr);
  if (!coord) {
    geo::Report(err, kReporter, 9, "Error returned from evec_CoordCreate");
    return nullptr;
  }
  coord->x = result.x;
  coord->y = result.y;
  return coord;
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *evec_SplineArc(MVS *layer, const Egda_BaseData *arc, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  static const char kReporter[] = "evec_SplineArc";
  if (!IsArc(arc, 2)) {
    geo::Report(err, kReporter, 1, "Invalid input arc");
    return nullptr;
  }
  // The arc without consecutive repeated vertices (weeding with tolerance 0).
  Eerr_ErrorReport *inner = nullptr;
  Egda_BaseData *weeded = egda_BaseDataCopy(arc, nullptr, &inner);
  if (!weeded) {
    geo::ReportCallee(err, inner, kReporter, 4, "efga_MatrixCopy");
    return nullptr;
  }
  evec_WeedMatrix(0.0, weeded, nullptr);
  if (weeded->columns == 2) return weeded;

  const double grain = layer ? layer->grain : 0.0;
  if (!(grain > 0.0)) {
    egda_BaseDataDelete(weeded, nullptr);
    geo::Report(err, kReporter, 2, "Invalid grain tolerance");
    return nullptr;
  }
  const double length = evec_LengthOfArc(weeded, nullptr);
  if (std::isnan(length)) {
    egda_BaseDataDelete(weeded, nullptr);
    geo::Report(err, kReporter, 1, "Invalid input arc");
    return nullptr;
  }
  int32_t n = PointCount(std::floor(length / grain) + 1.0);
  if (n >= 0 && length > n * grain) ++n;
  if (n >= 0 && n < 2) n = 2;

  const geo::Steps w(*weeded);
  const int32_t m = w.n;
  Egda_BaseData *result = nullptr;
  // Scratch columns (each contiguous): 0 tangent x, 1 tangent y, 2 chord lengths, 3 the
  // super-diagonal left by the elimination.
  Egda_BaseData *scratch = nullptr;
  if (n >= 0) {
    result = egda_BaseDataCreate(2, n, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner);
    if (result && n > 2) {
      scratch = egda_BaseDataCreate(m, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner);
      if (!scratch) {
        egda_BaseDataDelete(result, nullptr);
        result = nullptr;
      }
    }
  }
  if (!result) {
    egda_BaseDataDelete(weeded, nullptr);
    if (n < 0) geo::Report(err, kReporter, 3, "Error returned from efga_MatrixCreate");
    else geo::ReportCallee(err, inner, kReporter, 3, "efga_MatrixCreate");
    return nullptr;
  }
  const geo::Steps r(*result);
  r.Set(0, w.X(0), w.Y(0));
  r.Set(n - 1, w.X(m - 1), w.Y(m - 1));
  if (n > 2) {
    double *tx = &At(scratch, 0, 0), *ty = &At(scratch, 0, 1), *h = &At(scratch, 0, 2),
           *super = &At(scratch, 0, 3);
    for (int32_t i = 0; i + 1 < m; ++i) h[i] = Distance(Vertex(w, i), Vertex(w, i + 1));
    // The system is tridiagonal and diagonally dominant: eliminate downwards, substitute back.
    const auto p = [&](int32_t i) { return Vertex(w, i); };
    for (int32_t i = 0; i < m; ++i) {
      const SplineRow row = SplineSystemRow(p, h, m, i);
      double denominator = row.diagonal;
      Point rhs = row.rhs;
      if (i > 0) {
        denominator -= row.sub * super[i - 1];
        rhs.x -= row.sub * tx[i - 1];
        rhs.y -= row.sub * ty[i - 1];
      }
      super[i] = row.super / denominator;
      tx[i] = rhs.x / denominator;
      ty[i] = rhs.y / denominator;
    }
    for (int32_t i = m - 2; i >= 0; --i) {
      tx[i] -= super[i] * tx[i + 1];
      ty[i] -= super[i] * ty[i + 1];
    }
    // Result vertex j at distance j g; the distances grow, so the segment search moves forward.
    int32_t k = 1;
    double start = 0.0, end = h[0];
    for (int32_t j = 1; j <= n - 2; ++j) {
      const double x = j * grain;
      while (end < x && k < m - 1) {
        start = end;
        end += h[k];
        ++k;
      }
      const Point q = OnCubic(Vertex(w, k - 1), Vertex(w, k), {tx[k - 1], ty[k - 1]},
                              {tx[k], ty[k]}, h[k - 1], x - start);
      r.Set(j, q.x, q.y);
    }
  }
  egda_BaseDataDelete(scratch, nullptr);
  egda_BaseDataDelete(weeded, nullptr);
  return result;
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *evec_DensifyArc(MVS *layer, const Egda_BaseData *arc, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  static const char kReporter[] = "evec_DensifyArc";
  if (!IsArc(arc, 2)) {
    geo::Report(err, kReporter, 1, "Invalid input arc");
    return nullptr;
  }
  const double grain = layer ? layer->grain : 0.0;
  if (!(grain > 0.0)) {
    geo::Report(err, kReporter, 2, "Invalid grain tolerance");
    return nullptr;
  }
  const geo::Steps v(*arc);
  const int32_t n = v.n;
  // The exact number of points: the vertices and c = [len / g] inner points per segment longer
  // than g.
  double total = n;
  for (int32_t k = 1; k < n; ++k) {
    const double len = Distance(Vertex(v, k - 1), Vertex(v, k));
    if (len > grain) total += std::floor(len / grain);
  }
  const int32_t count = PointCount(total);
  Eerr_ErrorReport *inner = nullptr;
  Egda_BaseData *work =
      count < 0 ? nullptr : egda_BaseDataCreate(2, count, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner);
  if (!work) {
    if (count < 0) geo::Report(err, kReporter, 3, "Error returned from efga_MatrixCreate");
    else geo::ReportCallee(err, inner, kReporter, 3, "efga_MatrixCreate");
    return nullptr;
  }
  const geo::Steps out(*work);
  int32_t written = 0;
  out.Set(written++, v.X(0), v.Y(0));
  double start = 0.0; // arc length up to vertex k-1
  for (int32_t k = 1; k < n; ++k) {
    const double len = Distance(Vertex(v, k - 1), Vertex(v, k));
    if (len > grain) {
      const int32_t c = static_cast<int32_t>(std::floor(len / grain));
      for (int32_t i = 1; i <= c; ++i) {
        // The point at that distance along the whole arc, found as evec_DensifyPointOfArc
        // finds it: the first segment whose cumulative end reaches the distance.
        const double x = start + i * len / (c + 1);
        Point q = Vertex(v, k - 1);
        if (x > start) {
          int32_t s = k;
          double segStart = start, segLength = len;
          while (segStart + segLength < x && s < n - 1) {
            segStart += segLength;
            segLength = Distance(Vertex(v, s), Vertex(v, s + 1));
            ++s;
          }
          q = OnSegment(Vertex(v, s - 1), Vertex(v, s), x - segStart, segLength);
        }
        out.Set(written++, q.x, q.y);
      }
    }
    out.Set(written++, v.X(k), v.Y(k));
    start += len;
  }
  geo::SetColumns(work, written);
  evec_WeedMatrix(0.0, work, nullptr);
  return work;
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *evec_DivideEllipseIntoAnArc(int32_t step, const Egda_BaseData *ellipseBox,
                                           Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (step == 360 || step <= 0) return nullptr;
  if (!geo::IsCoordMatrix(ellipseBox, 2, 2) || ellipseBox->columns != 2) {
    geo::Report(err, "evec_DivideEllipseIntoAnArc", 2, "Invalid input ellipse");
    return nullptr;
  }
  const int32_t count = 360 / step;
  Eerr_ErrorReport *inner = nullptr;
  Egda_BaseData *result =
      egda_BaseDataCreate(2, count + 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner);
  if (!result) {
    geo::ReportCallee(err, inner, "evec_DivideEllipseIntoAnArc", 3, "efga_MatrixCreate");
    return nullptr;
  }
  const geo::Steps box(*ellipseBox);
  // The result is a fresh compact matrix: its values lie x0, y0, x1, y1, ...
  geo::EllipseVertices(step, box.X(0), box.Y(0), box.X(1), box.Y(1),
                       reinterpret_cast<double *>(result->origin));
  return result;
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *evec_JoinArcs(void *unused, const Egda_BaseData *arcA, const Egda_BaseData *arcB,
                             Eerr_ErrorReport **err) try {
  (void)unused;
  geo::Clear(err);
  static const char kReporter[] = "evec_JoinArcs";
  if (!IsArc(arcA, 2) || !IsArc(arcB, 2)) {
    geo::Report(err, kReporter, 3, "Invalid input arc");
    return nullptr;
  }
  const geo::Steps a(*arcA), b(*arcB);
  const int32_t na = a.n, nb = b.n;
  Eerr_ErrorReport *inner = nullptr;
  Egda_BaseData *result =
      egda_BaseDataCreate(2, na + nb - 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner);
  if (!result) {
    geo::ReportCallee(err, inner, kReporter, 1, "efga_MatrixCreate");
    return nullptr;
  }
  const geo::Steps r(*result);
  const auto same = [](const geo::Steps &p, int32_t i, const geo::Steps &q, int32_t j) {
    return p.X(i) == q.X(j) && p.Y(i) == q.Y(j);
  };
  int32_t w = 0;
  const auto put = [&](const geo::Steps &from, int32_t j) { r.Set(w++, from.X(j), from.Y(j)); };
  if (same(a, 0, b, 0)) {
    for (int32_t j = nb - 1; j >= 1; --j) put(b, j);
    for (int32_t j = 0; j < na; ++j) put(a, j);
  } else if (same(a, 0, b, nb - 1)) {
    for (int32_t j = 0; j <= nb - 2; ++j) put(b, j);
    for (int32_t j = 0; j < na; ++j) put(a, j);
  } else if (same(a, na - 1, b, 0)) {
    for (int32_t j = 0; j < na; ++j) put(a, j);
    for (int32_t j = 1; j < nb; ++j) put(b, j);
  } else if (same(a, na - 1, b, nb - 1)) {
    for (int32_t j = 0; j < na; ++j) put(a, j);
    for (int32_t j = nb - 2; j >= 0; --j) put(b, j);
  } else {
    egda_BaseDataDelete(result, nullptr);
    geo::Report(err, kReporter, 2, "Disjoint arcs may not be joined.");
    return nullptr;
  }
  return result;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
