// Wide lines as filled outlines: runs of segments that turn little are offset by half the width on
// both sides (mitred inner corners), capped at both ends and, where a piece continues an earlier
// one, joined to it by a wedge; each outline goes to the scan filler.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

#include "eevg.h"
#include "eevg_internal.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace taviron::graphics {
namespace {

constexpr int32_t kNoPoint = -32000;
constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2 * kPi;
constexpr double kKappa = 0.5522848;
// Work buffers are refused beyond this many points (their byte sizes stay far inside 32 bits).
constexpr int64_t kMaxPoints = INT32_MAX / 8;

int32_t Saturate(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// Makes room for `points` points in a drawing work buffer (emsc heap, grows by half, never
// shrinks). False when the size is refused or memory runs out.
bool Reserve(int32_t *&buffer, int32_t &capacity, int64_t points) {
  if (points <= capacity) return true;
  if (points > kMaxPoints) return false;
  const int64_t grown = std::min<int64_t>(
      std::max<int64_t>(points, static_cast<int64_t>(capacity) + capacity / 2 + 16), kMaxPoints);
  void *block = emsc_HeapRealloc(buffer, static_cast<std::size_t>(grown) * 2 * sizeof(int32_t));
  if (!block) return false;
  buffer = static_cast<int32_t *>(block);
  capacity = static_cast<int32_t>(grown);
  return true;
}

Eevg_DeviceColor RunColour(const Eevg_Drawing *drawing) {
  Eevg_DeviceColor c{};
  if (drawing->widePolygonBuffer)
    std::copy_n(drawing->widePolygonBuffer, sizeof c, reinterpret_cast<uint8_t *>(&c));
  return c;
}

void EmptyRun(Eevg_Drawing *drawing) {
  drawing->widePointCount = 0;
  drawing->wideLastX = kNoPoint;
  drawing->wideLastY = kNoPoint;
  drawing->wideRunClip = 0;
}

// The sub-pixel clip window grown by half a width on every side.
void GrownWindow(const Eevg_Drawing *d, int32_t width, int32_t *w) {
  const int64_t half = std::max<int32_t>(width, 0) / 2;
  w[0] = Saturate(d->subClipXMin - half);
  w[1] = Saturate(d->subClipYMin - half);
  w[2] = Saturate(d->subClipXMax + half);
  w[3] = Saturate(d->subClipYMax + half);
}

// Clips the segment to the window; false when nothing is left. The ends keep their order and
// moved gets bit 1 when the start moved, bit 2 when the end did.
bool ClipInOrder(int32_t *s, const int32_t *window, int32_t &moved) {
  const int32_t x0 = s[0], y0 = s[1], x1 = s[2], y1 = s[3];
  int32_t swaps = 0, clipped = 0;
  moved = 0;
  if (!eevg_Clip(&s[0], &s[1], &s[2], &s[3], window[0], window[1], window[2], window[3], &swaps,
                 &clipped))
    return false;
  if (swaps % 2) {
    std::swap(s[0], s[2]);
    std::swap(s[1], s[3]);
  }
  if (s[0] != x0 || s[1] != y0) moved |= 1;
  if (s[2] != x1 || s[3] != y1) moved |= 2;
  return true;
}

} // namespace

double eevg_Zatan2(double y, double x) {
  if (std::isnan(x) || std::isnan(y)) return 0;
  if (std::fabs(x) < 0.001) {
    if (std::fabs(y) < 0.001) return 0;
    return y > 0 ? kPi / 2 : 3 * kPi / 2;
  }
  const double a = std::atan2(y, x);
  return a < 0 ? a + kTwoPi : a;
}

double eevg_AngleDifference(double a, double b) {
  const double d = std::fabs(b - a);
  if (d < kPi) return d;
  const double lo = std::min(a, b), hi = std::max(a, b);
  if (lo < kPi / 2 && hi > 3 * kPi / 2) return lo + kTwoPi - hi;
  return d;
}

void eevg_OffsetLines(double x, double y, double dx, double dy, double h, double *left,
                      double *right) {
  if (dx != 0) {
    const double s = dy == 0 ? h : h * std::sqrt((dy / dx) * (dy / dx) + 1);
    const double sign = dx > 0 ? 1 : -1;
    left[0] = x, left[1] = y + sign * s;
    right[0] = x, right[1] = y - sign * s;
  } else {
    const double sign = dy > 0 ? 1 : -1;
    left[0] = x - sign * h, left[1] = y;
    right[0] = x + sign * h, right[1] = y;
  }
}

int32_t eevg_Intersect(double x1, double y1, double dx1, double dy1, double x2, double y2,
                       double dx2, double dy2, int32_t *x, int32_t *y, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_Intersect";
  lower::Clear(err);
  *x = 0;
  *y = 0;
  if ((dx1 == 0 && dy1 == 0) || (dx2 == 0 && dy2 == 0)) {
    lower::Report(err, reporter, 2, "Can't intersect zero length line");
    return -1;
  }
  if (dy1 * dx2 == dx1 * dy2) {
    lower::Report(err, reporter, 1, "Can't intersect parallel lines");
    return -1;
  }
  double rx, ry;
  if (dy1 == 0 && dx2 == 0) {
    rx = x2, ry = y1;
  } else if (dx1 == 0 && dy2 == 0) {
    rx = x1, ry = y2;
  } else if (dy1 == 0) {
    ry = y1, rx = x2 + (y1 - y2) * dx2 / dy2;
  } else if (dx1 == 0) {
    rx = x1, ry = y2 + (x1 - x2) * dy2 / dx2;
  } else if (dy2 == 0) {
    ry = y2, rx = x1 + (y2 - y1) * dx1 / dy1;
  } else if (dx2 == 0) {
    rx = x2, ry = y1 + (x2 - x1) * dy1 / dx1;
  } else {
    const double m1 = dy1 / dx1, m2 = dy2 / dx2;
    rx = (m1 * x1 - m2 * x2 + y2 - y1) / (m1 - m2);
    ry = (rx - x1) * m1 + y1;
  }
  *x = TruncateToInt32(rx);
  *y = TruncateToInt32(ry);
  return 0;
}

void eevg_RoundCapCurves(double x, double y, double angle, double h, int32_t *out) {
  const double ux = std::cos(angle), uy = std::sin(angle);
  const double nx = -uy, ny = ux;
  const double offsets[7][2] = {
      {nx, ny},
      {nx + kKappa * ux, ny + kKappa * uy},
      {ux + kKappa * nx, uy + kKappa * ny},
      {ux, uy},
      {ux - kKappa * nx, uy - kKappa * ny},
      {kKappa * ux - nx, kKappa * uy - ny},
      {-nx, -ny},
  };
  for (int i = 0; i < 7; ++i) {
    out[2 * i] = TruncateToInt32(x + h * offsets[i][0]);
    out[2 * i + 1] = TruncateToInt32(y + h * offsets[i][1]);
  }
}

void eevg_SquareCapPoints(double x, double y, double angle, double h, int32_t *out) {
  const double ux = std::cos(angle), uy = std::sin(angle);
  const double nx = -uy, ny = ux;
  out[0] = TruncateToInt32(x + h * (ux + nx));
  out[1] = TruncateToInt32(y + h * (uy + ny));
  out[2] = TruncateToInt32(x + h * (ux - nx));
  out[3] = TruncateToInt32(y + h * (uy - ny));
}

void eevg_ComputeMitreCap(const Eevg_Drawing *drawing, int32_t *points, int32_t *count,
                          int32_t cornerX, int32_t cornerY, double mitre, double half) {
  const double g = std::sqrt(std::max(mitre * mitre - half * half, 0.0));
  points[2 * *count] =
      Saturate(static_cast<int64_t>(cornerX) + TruncateToInt32(std::cos(drawing->prevAngle) * g));
  points[2 * *count + 1] =
      Saturate(static_cast<int64_t>(cornerY) + TruncateToInt32(std::sin(drawing->prevAngle) * g));
  ++*count;
}

int32_t eevg_StartWidePolygon(Eevg_Drawing *drawing, int32_t pointCount, int32_t width,
                              const Eevg_DeviceColor &colour, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!Reserve(drawing->widePoints, drawing->widePointCapacity, std::max(pointCount, 2))) {
    lower::Report(err, "eevg_StartWidePolygon", 1, "Out of memory for points");
    return -1;
  }
  EmptyRun(drawing);
  if (drawing->usingWorldTransform)
    width = TruncateToInt32(static_cast<double>(width) * drawing->pixelSizeX * 0.125);
  drawing->wideWidth = width;
  if (drawing->widePolygonBuffer)
    std::copy_n(reinterpret_cast<const uint8_t *>(&colour), sizeof colour,
                drawing->widePolygonBuffer);
  drawing->wideTurnLimit = width == 0 ? kPi / 2 : std::fabs(std::atan(32.0 / width));
  return 0;
}

int32_t eevg_ProducePolygon(Eevg_Drawing *drawing, Eerr_ErrorReport **err) {
  lower::Clear(err);
  int32_t status = 0;
  if (drawing->widePointCount >= 2) {
    // The run is drawn with the caps of its own first and last segments and the ends clipping
    // moved, not with those of the segment that ended it.
    Eevg_Drawing &d = *drawing;
    const int32_t held[6] = {d.clipFlags, d.startCap, d.joinKind, d.joinTowardX, d.joinTowardY,
                             d.endCap};
    d.clipFlags = d.wideRunClip;
    d.startCap = d.wideRunStartCap;
    d.joinKind = d.wideRunJoinKind;
    d.joinTowardX = d.wideRunTowardX;
    d.joinTowardY = d.wideRunTowardY;
    d.endCap = d.wideRunEndCap;
    if (!eevg_WidePoly(drawing, drawing->widePointCount, drawing->widePoints, drawing->wideWidth,
                       RunColour(drawing), err)) {
      lower::Report(err, "eevg_ProducePolygon", 1, "Unable to draw wide polygon");
      status = -1;
    }
    d.clipFlags = held[0];
    d.startCap = held[1];
    d.joinKind = held[2];
    d.joinTowardX = held[3];
    d.joinTowardY = held[4];
    d.endCap = held[5];
  }
  EmptyRun(drawing);
  return status;
}

int32_t eevg_LOWideLine(Eevg_Drawing *drawing, const int32_t *segment, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_LOWideLine";
  lower::Clear(err);
  int32_t window[4];
  GrownWindow(drawing, drawing->wideWidth, window);
  int32_t s[4] = {segment[0], segment[1], segment[2], segment[3]};
  int32_t moved = 0;
  if (!ClipInOrder(s, window, moved)) {
    drawing->clipFlags = 3;
    if (drawing->widePointCount >= 2 && eevg_ProducePolygon(drawing, err) != 0) {
      lower::Report(err, reporter, 1, "Unable to draw wide line");
      return -1;
    }
    EmptyRun(drawing);
    return 0;
  }
  drawing->clipFlags = moved;
  if (s[0] == s[2] && s[1] == s[3]) return 0;
  const double a = eevg_Zatan2(static_cast<double>(s[3]) - s[1], static_cast<double>(s[2]) - s[0]);
  if (!Reserve(drawing->widePoints, drawing->widePointCapacity,
               static_cast<int64_t>(drawing->widePointCount) + 2)) {
    lower::Report(err, "eevg_StartWidePolygon", 1, "Out of memory for points");
    lower::Report(err, reporter, 2, "Unable to draw wide line segment");
    return -1;
  }
  int32_t *p = drawing->widePoints;
  const double turn = eevg_AngleDifference(a, drawing->wideLastAngle);
  if (drawing->widePointCount > 0 && s[0] == drawing->wideLastX && s[1] == drawing->wideLastY &&
      eevg_AngleDifference(a, drawing->wideRunAngle) <= kPi && turn <= drawing->wideTurnLimit) {
    if (turn >= 0.001 || drawing->widePointCount < 2) ++drawing->widePointCount;
  } else {
    if (eevg_ProducePolygon(drawing, err) != 0) {
      lower::Report(err, reporter, 2, "Unable to draw wide line segment");
      return -1;
    }
    p[0] = s[0];
    p[1] = s[1];
    drawing->widePointCount = 2;
    drawing->wideRunAngle = a;
    drawing->wideRunClip = moved & 1;
    drawing->wideRunStartCap = drawing->startCap;
    drawing->wideRunJoinKind = drawing->joinKind;
    drawing->wideRunTowardX = drawing->joinTowardX;
    drawing->wideRunTowardY = drawing->joinTowardY;
  }
  drawing->wideRunEndCap = drawing->endCap;
  p[2 * drawing->widePointCount - 2] = s[2];
  p[2 * drawing->widePointCount - 1] = s[3];
  drawing->wideRunClip = (drawing->wideRunClip & 1) | (moved & 2);
  drawing->wideLastX = s[2];
  drawing->wideLastY = s[3];
  drawing->wideLastAngle = a;
  return 0;
}

int32_t eevg_EndWidePolygon(Eevg_Drawing *drawing, Eerr_ErrorReport **err) {
  lower::Clear(err);
  // The point buffer stays with the drawing for the next run.
  if (eevg_ProducePolygon(drawing, err) != 0) {
    lower::Report(err, "eevg_EndWidePolygon", 1, "Unable to end wide polygon");
    return -1;
  }
  return 0;
}

int32_t eevg_WidePoly(Eevg_Drawing *drawing, int32_t count, const int32_t *points, int32_t width,
                      const Eevg_DeviceColor &colour, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_WidePoly";
  lower::Clear(err);
  if (count < 2) return 1;
  // Repeated points carry no direction: the polyline is walked without them.
  if (!Reserve(drawing->wideWork, drawing->wideWorkCapacity, 2 * static_cast<int64_t>(count))) {
    lower::Report(err, reporter, 1, "Unable to allocate memory for end caps");
    return 0;
  }
  int32_t *q = drawing->wideWork;
  int32_t n = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (n > 0 && points[2 * i] == q[2 * n - 2] && points[2 * i + 1] == q[2 * n - 1]) continue;
    q[2 * n] = points[2 * i];
    q[2 * n + 1] = points[2 * i + 1];
    ++n;
  }
  if (n < 2) return 1;
  const int32_t k = n - 1;
  int32_t *right = q + 2 * static_cast<std::ptrdiff_t>(n);

  const int64_t w = std::max<int32_t>(width, 4);
  const double h = static_cast<double>(drawing->antiAlias ? w / 2 : (w - 4) / 2);

  // Room for both sides, the caps' straight points and the closing point; the round caps grow
  // the ring as they are flattened.
  if (!Reserve(drawing->wideRing, drawing->wideRingCapacity, 2 * static_cast<int64_t>(n) + 16)) {
    lower::Report(err, reporter, 2, "Unable to allocate memory for end caps");
    return 0;
  }
  int32_t *ring = drawing->wideRing;

  auto dirX = [&](int32_t i) { return static_cast<double>(q[2 * i + 2]) - q[2 * i]; };
  auto dirY = [&](int32_t i) { return static_cast<double>(q[2 * i + 3]) - q[2 * i + 1]; };
  auto failed = [&]() {
    lower::Report(err, reporter, 3, "Unable to calculate intersections");
    return 0;
  };

  // The sides at point i: across the segment seg at its point through the perpendicular.
  auto across = [&](int32_t i, int32_t seg) {
    const double dx = dirX(seg), dy = dirY(seg);
    double l[2], r[2];
    eevg_OffsetLines(q[2 * i], q[2 * i + 1], dx, dy, h, l, r);
    if (eevg_Intersect(l[0], l[1], dx, dy, q[2 * i], q[2 * i + 1], -dy, dx, &ring[2 * i],
                       &ring[2 * i + 1], err) != 0 ||
        eevg_Intersect(r[0], r[1], dx, dy, q[2 * i], q[2 * i + 1], -dy, dx, &right[2 * i],
                       &right[2 * i + 1], err) != 0)
      return false;
    return true;
  };

  if (!across(0, 0)) return failed();
  for (int32_t i = 1; i < k; ++i) {
    const double ax = dirX(i - 1), ay = dirY(i - 1), bx = dirX(i), by = dirY(i);
    if (ay * bx == ax * by) {
      // Straight on (or straight back): the sides lie across the point.
      if (!across(i, i)) return failed();
      continue;
    }
    double la[2], ra[2], lb[2], rb[2];
    eevg_OffsetLines(q[2 * i - 2], q[2 * i - 1], ax, ay, h, la, ra);
    eevg_OffsetLines(q[2 * i], q[2 * i + 1], bx, by, h, lb, rb);
    if (eevg_Intersect(la[0], la[1], ax, ay, lb[0], lb[1], bx, by, &ring[2 * i], &ring[2 * i + 1],
                       err) != 0 ||
        eevg_Intersect(ra[0], ra[1], ax, ay, rb[0], rb[1], bx, by, &right[2 * i],
                       &right[2 * i + 1], err) != 0)
      return failed();
  }
  if (!across(k, k - 1)) return failed();

  int32_t m = n; // points in the ring so far: the left side
  const int32_t qkX = q[2 * k], qkY = q[2 * k + 1];
  const int32_t q0X = q[0], q0Y = q[1];

  auto roundCap = [&](int32_t x, int32_t y, double angle) {
    int32_t c[14];
    eevg_RoundCapCurves(x, y, angle, h, c);
    auto flatten = [&](const int32_t *curve) {
      if (drawing->plainLines)
        return eevg_CVPoly(drawing, curve[0], curve[1], curve[2], curve[3], curve[4], curve[5],
                           curve[6], curve[7], drawing->curveFlatness, &drawing->wideRingCapacity,
                           &drawing->wideRing, &m, nullptr, 0, err);
      return FlattenNearWindow(drawing, curve, drawing->curveFlatness, &drawing->wideRingCapacity,
                               &drawing->wideRing, &m, err);
    };
    if (flatten(c) != 0 || flatten(c + 6) != 0) {
      lower::Report(err, reporter, 4, "Unable to calculate curves for end caps");
      return false;
    }
    ring = drawing->wideRing;
    // Room again for the other side and the other cap.
    if (!Reserve(drawing->wideRing, drawing->wideRingCapacity, static_cast<int64_t>(m) + n + 16)) {
      lower::Report(err, reporter, 2, "Unable to allocate memory for end caps");
      return false;
    }
    ring = drawing->wideRing;
    return true;
  };
  auto squareCap = [&](int32_t x, int32_t y, double angle) {
    eevg_SquareCapPoints(x, y, angle, h, ring + 2 * m);
    m += 2;
  };

  // End cap.
  const int32_t endCap = (drawing->clipFlags & 2) ? 2 : drawing->endCap;
  const double endAngle = eevg_Zatan2(dirY(k - 1), dirX(k - 1));
  int32_t endLeft[2] = {ring[2 * k], ring[2 * k + 1]};
  int32_t endRight[2] = {right[2 * k], right[2 * k + 1]};
  if (endCap == 0) {
    if (!roundCap(qkX, qkY, endAngle)) return 0;
  } else if (endCap == 2) {
    squareCap(qkX, qkY, endAngle);
  }

  // Right side, back to the start.
  for (int32_t i = k; i >= 0; --i) {
    ring[2 * m] = right[2 * i];
    ring[2 * m + 1] = right[2 * i + 1];
    ++m;
  }

  // Start cap, on the first segment reversed.
  const int32_t startCap = (drawing->clipFlags & 1) ? 2 : drawing->startCap;
  const double firstAngle = eevg_Zatan2(dirY(0), dirX(0));
  const double startAngle = eevg_Zatan2(-dirY(0), -dirX(0));
  if (startCap == 0) {
    if (!roundCap(q0X, q0Y, startAngle)) return 0;
  } else if (startCap == 2) {
    squareCap(q0X, q0Y, startAngle);
  } else if (startCap == 1 && (drawing->joinKind == 2 || drawing->joinKind == 3) &&
             drawing->prevEndKept && drawing->prevEndX == q0X && drawing->prevEndY == q0Y) {
    const double tx = drawing->joinTowardX, ty = drawing->joinTowardY;
    auto dist2 = [&](int32_t x, int32_t y) {
      return (x - tx) * (x - tx) + (y - ty) * (y - ty);
    };
    const bool leftOuter = dist2(drawing->prevEndLeftX, drawing->prevEndLeftY) >
                           dist2(drawing->prevEndRightX, drawing->prevEndRightY);
    const int32_t cx = leftOuter ? drawing->prevEndLeftX : drawing->prevEndRightX;
    const int32_t cy = leftOuter ? drawing->prevEndLeftY : drawing->prevEndRightY;
    bool mitred = false;
    if (drawing->joinKind == 3 && h > 0) {
      double back = drawing->prevAngle + kPi;
      if (back >= kTwoPi) back -= kTwoPi;
      const double t = eevg_AngleDifference(firstAngle, back);
      const double sine = std::sin(t / 2);
      // A full turn back has no mitre at all.
      if (sine > 0) {
        const double mitre = h / sine;
        if (mitre / h <= drawing->mitreLimit) {
          if (leftOuter) ring[2 * m] = cx, ring[2 * m + 1] = cy, ++m;
          eevg_ComputeMitreCap(drawing, ring, &m, cx, cy, mitre, h);
          if (!leftOuter) ring[2 * m] = cx, ring[2 * m + 1] = cy, ++m;
          mitred = true;
        }
      }
    }
    if (!mitred) ring[2 * m] = cx, ring[2 * m + 1] = cy, ++m;
  }
  ring[2 * m] = ring[0];
  ring[2 * m + 1] = ring[1];
  ++m;

  const int32_t starts[2] = {0, m};
  if (eevg_LOFiller(drawing, 1, starts, ring, colour, err) != 0) {
    lower::Report(err, reporter, 5, "Unable to fill polygon");
    return 0;
  }
  if (endCap == 1) {
    drawing->prevEndLeftX = endLeft[0], drawing->prevEndLeftY = endLeft[1];
    drawing->prevEndRightX = endRight[0], drawing->prevEndRightY = endRight[1];
    drawing->prevEndKept = 1;
  } else {
    drawing->prevEndLeftX = drawing->prevEndLeftY = 0;
    drawing->prevEndRightX = drawing->prevEndRightY = 0;
    drawing->prevEndKept = 0;
  }
  drawing->prevEndX = qkX;
  drawing->prevEndY = qkY;
  drawing->prevAngle = firstAngle;
  return 1;
}

int32_t eevg_WideSolidLine(Eevg_Drawing *drawing, int32_t *segment, int32_t width,
                           const Eevg_DeviceColor &colour, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_WideSolidLine";
  lower::Clear(err);
  int32_t window[4];
  GrownWindow(drawing, width, window);
  int32_t moved = 0;
  if (!ClipInOrder(segment, window, moved)) return 0;
  if (drawing->antiAlias || width > 12) {
    drawing->clipFlags = moved;
    if (!eevg_WidePoly(drawing, 2, segment, width, colour, err)) {
      lower::Report(err, reporter, 1, "Unable to draw wide polygon for wide solid line");
      return -1;
    }
    return 0;
  }
  if (eevg_ThinVector(drawing, colour, segment, err) != 0) {
    lower::Report(err, reporter, 2, "Unable to draw thin vector for wide solid line");
    return -1;
  }
  return 0;
}

} // namespace taviron::graphics
