// Ellipses and elliptical arcs as chains of cubic quarters, and their flattening into the
// drawing's point buffer.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "eevg_internal.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace taviron::graphics {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr double kQuarterK = 0.5522848;

// The unit circle as four cubic quarters; quarter q uses points 3q .. 3q + 3 (cyclically).
constexpr double kUnit[12][2] = {{1, 0},   {1, kQuarterK},   {kQuarterK, 1},   {0, 1},
                                 {-kQuarterK, 1},  {-1, kQuarterK},  {-1, 0},  {-1, -kQuarterK},
                                 {-kQuarterK, -1}, {0, -1},  {kQuarterK, -1},  {1, -kQuarterK}};

// Places unit points on the ellipse: scaled by the semi-axes, rotated, moved to the centre.
struct Placement {
  double cx, cy, ax, ay, cosR, sinR;
  Placement(double centreX, double centreY, double rx, double ry, double rotation)
      : cx(centreX), cy(centreY), cosR(std::cos(rotation)), sinR(std::sin(rotation)) {
    const double r = std::max(rx, ry);
    // Zero (or no positive) radius: every point falls on the centre.
    const double sx = r > 0 ? rx / r : 0, sy = r > 0 ? ry / r : 0;
    ax = r * sx;
    ay = r * sy;
  }
  void Place(double ux, double uy, double &x, double &y) const {
    x = cx + ax * ux * cosR - ay * uy * sinR;
    y = cy + ay * uy * cosR + ax * ux * sinR;
  }
};

// Flattens the cubics of `curve` (1 + 3n points) onto the drawing's current part, whose first
// point is already in place.
int32_t FlattenPieces(Eevg_Drawing *drawing, const int32_t *curve, int32_t pieces,
                      const char *reporter, Eerr_ErrorReport **err) {
  for (int32_t i = 0; i < pieces; ++i) {
    const int32_t *c = curve + 6 * i;
    Eerr_ErrorReport *inner = nullptr;
    if (eevg_CVPoly(drawing, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], drawing->curveFlatness,
                    &drawing->pointCapacity, &drawing->points, &drawing->pointCount,
                    drawing->polygonStarts, drawing->polygonCount + 1, &inner) != 0) {
      lower::ReportCallee(err, inner, reporter, 3, "eevg_CVPoly");
      return -1;
    }
  }
  return 0;
}

// Starts a part at the end of the drawing's points with the given first point.
int32_t StartPart(Eevg_Drawing *drawing, int32_t x, int32_t y, const char *reporter,
                  Eerr_ErrorReport **err) {
  if (!drawing || !drawing->points || !drawing->polygonStarts) {
    lower::Report(err, reporter, 1, "NULL Eevg Drawing Pointer");
    return -1;
  }
  if (drawing->pointCount > INT32_MAX / 8 - 2 || drawing->polygonCount > INT32_MAX / 4 - 2 ||
      !ReservePoints(drawing, drawing->pointCount + 2, drawing->polygonCount + 1)) {
    lower::Report(err, reporter, 2, "Unable to allocate drawing point buffer");
    return -1;
  }
  drawing->polygonStarts[drawing->polygonCount] = drawing->pointCount;
  drawing->points[2 * drawing->pointCount] = x;
  drawing->points[2 * drawing->pointCount + 1] = y;
  ++drawing->pointCount;
  return 0;
}

// Ends the current part; its last point may need one more slot (the closing point).
int32_t EndPart(Eevg_Drawing *drawing, bool close, const char *reporter, Eerr_ErrorReport **err) {
  const int32_t first = drawing->polygonStarts[drawing->polygonCount];
  if (close) {
    if (!ReservePoints(drawing, drawing->pointCount + 1, drawing->polygonCount + 1)) {
      lower::Report(err, reporter, 2, "Unable to allocate drawing point buffer");
      return -1;
    }
    drawing->points[2 * drawing->pointCount] = drawing->points[2 * first];
    drawing->points[2 * drawing->pointCount + 1] = drawing->points[2 * first + 1];
    ++drawing->pointCount;
  }
  ++drawing->polygonCount;
  drawing->polygonStarts[drawing->polygonCount] = drawing->pointCount;
  return 0;
}

// The parameter where the quarter (px, py) crosses the segment from the centre to the ray's end,
// as the cutting of curves finds it (crossings outside the segment's box widened by the
// tolerance do not count). t is left alone when there is none.
void CutParameter(double x1, double y1, double x2, double y2, const double *px, const double *py,
                  double tolerance, double &t) {
  double cx[4], cy[4], cuts[3];
  CVBezierToPolyD(px, cx);
  CVBezierToPolyD(py, cy);
  const int32_t count = CVFindCuts(x1, y1, x2, y2, cx, cy, cuts);
  for (int32_t i = 0; i < count; ++i) {
    const double x = static_cast<double>(CVPolyValD(3, cx, cuts[i]));
    const double y = static_cast<double>(CVPolyValD(3, cy, cuts[i]));
    if (UTPointInRect(x, y, std::min(x1, x2) - tolerance, std::min(y1, y2) - tolerance,
                      std::max(x1, x2) + tolerance, std::max(y1, y2) + tolerance)) {
      t = cuts[i];
      return;
    }
  }
}

} // namespace

void eevg_ComputeEllipseCurve(double cx, double cy, double rx, double ry, double rotation,
                              int32_t *out) {
  const Placement place(cx, cy, rx, ry, rotation);
  for (int i = 0; i < 12; ++i) {
    double x, y;
    place.Place(kUnit[i][0], kUnit[i][1], x, y);
    out[2 * i] = TruncateToInt32(x);
    out[2 * i + 1] = TruncateToInt32(y);
  }
}

int32_t eevg_AngleToQuadrant(double *angle, int32_t isStart) {
  double a = *angle;
  // An angle that is no number at all counts as 0.
  if (!std::isfinite(a)) a = 0;
  if (a < -kTwoPi || a > kTwoPi) a = std::fmod(a, kTwoPi);
  if (a < 0) a += kTwoPi;
  int32_t quadrant;
  if (isStart) {
    if (a >= kTwoPi) a = 0;
    quadrant = a < std::numbers::pi / 2 ? 0 : a < std::numbers::pi ? 1 : a < 3 * std::numbers::pi / 2 ? 2 : 3;
  } else {
    if (a <= 0) a = kTwoPi;
    quadrant = a <= std::numbers::pi / 2 ? 0 : a <= std::numbers::pi ? 1 : a <= 3 * std::numbers::pi / 2 ? 2 : 3;
  }
  *angle = a;
  return quadrant;
}

long double eevg_Distance(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  const long double dx = static_cast<long double>(x2) - x1, dy = static_cast<long double>(y2) - y1;
  return std::sqrt(dy * dy + dx * dx);
}

void eevg_ComputeEllipticalArcCurve(const Eevg_Drawing *drawing, double cx, double cy, double rx,
                                    double ry, double rotation, double start, double end,
                                    int32_t *out, int32_t *pieceCount) {
  const int32_t qs = eevg_AngleToQuadrant(&start, 1);
  const int32_t qe = eevg_AngleToQuadrant(&end, 0);
  int32_t n = qe - qs + 1;
  if (n <= 0) n += 4;
  if (qs == qe && start > end) n += 4;
  const double ts = std::atan2(std::sin(start) * rx, std::cos(start) * ry);
  const double te = std::atan2(std::sin(end) * rx, std::cos(end) * ry);
  const double tolerance = drawing ? drawing->curveFlatness : 2;
  const Placement place(cx, cy, rx, ry, rotation);
  double startX, startY, endX, endY;
  place.Place(1.1 * std::cos(ts), 1.1 * std::sin(ts), startX, startY);
  place.Place(1.1 * std::cos(te), 1.1 * std::sin(te), endX, endY);

  int32_t written = 0;
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t q = (qs + i - 1) % 4;
    double px[4], py[4];
    for (int j = 0; j < 4; ++j) {
      const int index = (3 * q + j) % 12;
      place.Place(kUnit[index][0], kUnit[index][1], px[j], py[j]);
    }
    // Both cuts are found on the whole quarter, so that an arc within one quarter is cut at its
    // two rays even when they are (nearly) the same.
    double from = 0, to = 1;
    if (i == 1) CutParameter(cx, cy, startX, startY, px, py, tolerance, from);
    if (i == n) CutParameter(cx, cy, endX, endY, px, py, tolerance, to);
    if (to < from) to = from;
    double piece[7];
    if (to < 1) {
      // Keep the curve up to the end cut.
      CVBreakD(px, to, piece);
      std::copy(piece, piece + 4, px);
      CVBreakD(py, to, piece);
      std::copy(piece, piece + 4, py);
    }
    if (from > 0) {
      // Keep the curve from the start cut onward.
      const double t = to > 0 ? from / to : 0;
      CVBreakD(px, t, piece);
      std::copy(piece + 3, piece + 7, px);
      CVBreakD(py, t, piece);
      std::copy(piece + 3, piece + 7, py);
    }
    for (int j = i == 1 ? 0 : 1; j < 4; ++j) {
      out[2 * written] = TruncateToInt32(px[j]);
      out[2 * written + 1] = TruncateToInt32(py[j]);
      ++written;
    }
  }
  *pieceCount = n;
}

int32_t FlattenEllipse(Eevg_Drawing *drawing, double cx, double cy, double rx, double ry,
                       double rotation, Eerr_ErrorReport **err) {
  static const char *reporter = "FlattenEllipse";
  lower::Clear(err);
  int32_t curve[26];
  eevg_ComputeEllipseCurve(cx, cy, rx, ry, rotation, curve);
  curve[24] = curve[0];
  curve[25] = curve[1];
  if (StartPart(drawing, curve[0], curve[1], reporter, err) != 0) return -1;
  if (FlattenPieces(drawing, curve, 4, reporter, err) != 0 ||
      EndPart(drawing, true, reporter, err) != 0) {
    drawing->pointCount = drawing->polygonStarts[drawing->polygonCount];
    return -1;
  }
  return 0;
}

int32_t FlattenEllipticalArc(Eevg_Drawing *drawing, double cx, double cy, double rx, double ry,
                             double rotation, double start, double end, Eerr_ErrorReport **err) {
  static const char *reporter = "FlattenEllipticalArc";
  lower::Clear(err);
  int32_t curve[32];
  int32_t pieces = 0;
  eevg_ComputeEllipticalArcCurve(drawing, cx, cy, rx, ry, rotation, start, end, curve, &pieces);
  if (StartPart(drawing, curve[0], curve[1], reporter, err) != 0) return -1;
  if (FlattenPieces(drawing, curve, pieces, reporter, err) != 0 ||
      EndPart(drawing, false, reporter, err) != 0) {
    drawing->pointCount = drawing->polygonStarts[drawing->polygonCount];
    return -1;
  }
  return 0;
}

} // namespace taviron::graphics
