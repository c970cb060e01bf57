// The line driver: compositions, dashes and arrow heads over the wide-polygon builder.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "eevg.h"
#include "eevg_internal.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace taviron::graphics {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = 0.017453291666666666;
constexpr double kDegrees89 = 1.5533429583333334;
constexpr double kDegrees90 = 1.57079625;

bool SameColour(const Eevg_DeviceColor &a, const Eevg_DeviceColor &b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue && a.index == b.index &&
         a.opacity == b.opacity;
}

// A double reservation for the kept dash pairs.
bool ReserveDashes(Eevg_Drawing *drawing, int64_t count) {
  if (count <= drawing->lineDashWorkCapacity) return true;
  if (count > INT32_MAX / 16) return false;
  void *block = emsc_HeapRealloc(drawing->lineDashWork, static_cast<std::size_t>(count) * sizeof(double));
  if (!block) return false;
  drawing->lineDashWork = static_cast<double *>(block);
  drawing->lineDashWorkCapacity = static_cast<int32_t>(count);
  return true;
}

} // namespace

void eevg_SetWidePolyCapStyles(Eevg_Drawing *drawing, int32_t closed, int32_t isFirst,
                               int32_t isLast, int32_t continuesFrom, int32_t continuesTo) {
  drawing->capArrowEnd = drawing->arrowEnd;
  const int32_t joinCap =
      ((continuesFrom || continuesTo) && drawing->lineJoin >= 1 && drawing->lineJoin <= 3) ? 1 : 0;
  if (isFirst || !continuesFrom) {
    drawing->startCap = (isFirst && !closed) ? drawing->startLineEnd : drawing->markEnd;
    drawing->joinKind = joinCap;
  } else {
    drawing->startCap = joinCap;
    drawing->joinKind = drawing->lineJoin;
  }
  if (isLast || !continuesTo) {
    drawing->endCap = (isLast && !closed) ? drawing->endLineEnd : drawing->markEnd;
  } else {
    drawing->endCap = joinCap;
  }
}

int32_t eevg_WideVector(const Eevg_DeviceColor &colour, int32_t width, Eevg_Drawing *drawing,
                        int32_t separate, int32_t pointCapacity, int32_t closed, int32_t isFirst,
                        int32_t isLast, int32_t continuesFrom, int32_t continuesTo,
                        int32_t towardX, int32_t towardY, const int32_t *segment,
                        Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_WideVector";
  lower::Clear(err);
  if (separate && eevg_StartWidePolygon(drawing, pointCapacity, width, colour, err) != 0) {
    lower::Report(err, reporter, 1, "Unable to start wideline");
    return -1;
  }
  eevg_SetWidePolyCapStyles(drawing, closed, isFirst, isLast, continuesFrom, continuesTo);
  drawing->joinTowardX = towardX;
  drawing->joinTowardY = towardY;
  if (eevg_LOWideLine(drawing, segment, err) != 0) {
    lower::Report(err, reporter, 2, "Unable to start wideline segment");
    return -1;
  }
  if (separate && eevg_EndWidePolygon(drawing, err) != 0) {
    lower::Report(err, reporter, 3, "Unable to complete wideline");
    return -1;
  }
  return 0;
}

int32_t eevg_DrawArrow(Eevg_Drawing *drawing, int32_t *tip, int32_t *neighbour,
                       int32_t *keepSegment, int32_t wide, int32_t width, int32_t widest,
                       const Eevg_DeviceColor &colour, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_DrawArrow";
  lower::Clear(err);
  *keepSegment = 1;
  const Eevg_ArrowEnd *arrow = drawing->capArrowEnd;
  if (!arrow) return 0;
  const double px = tip[0], py = tip[1];
  double theta = eevg_Zatan2(py - neighbour[1], px - neighbour[0]) - kPi;
  if (theta < 0) theta += 2 * kPi;
  const double cosA = std::cos(theta), sinA = std::sin(theta);
  const double L = eevg_LineUnitsToPixels(drawing, arrow->length);
  // An arrow without length (or of no usable length) draws nothing and cuts nothing.
  if (!(L > 0)) return 0;
  const double W = width, Wmax = widest;

  double T = arrow->tipAngle;
  if (wide) {
    const double ratio = 1.5 * Wmax / L;
    const double raised = ratio >= 1 ? kPi / 2 : std::asin(std::max(ratio, -1.0));
    if (raised > T) T = raised;
  }
  if (!(T >= kDegree)) T = kDegree;
  if (T > kDegrees89) T = kDegrees89;
  double B = arrow->baseAngle;
  if (std::isnan(B)) B = kDegrees90;
  B = (T >= B) ? T + kDegree : std::min(B, kDegrees90);

  const int32_t g = static_cast<int32_t>((static_cast<int64_t>(widest) - width) / 2);
  double Lp = L, m = 0;
  if (g > 0) {
    if (wide && arrow->stick)
      Lp = L - g - g * std::cos(T) / std::sin(T);
    else
      Lp = L - g * (1 / std::tan((B - T) / 2) + 1 / std::tan(T));
    m = std::trunc(g / std::sin(T));
  }
  const double tanT = std::tan(T), sinT = std::sin(T), cosT = std::cos(T), tanB = std::tan(B);
  const double w2 = static_cast<double>(width / 2);
  const double P0[2] = {m, 0};
  const double P1[2] = {m + std::trunc(Lp * cosT), std::trunc(Lp * sinT)};

  int32_t ring[32];
  int32_t count = 0;
  auto put = [&](double x, double y) {
    ring[2 * count] = TruncateToInt32(px + x * cosA - y * sinA);
    ring[2 * count + 1] = TruncateToInt32(py + y * cosA + x * sinA);
    ++count;
  };
  int32_t starts[3] = {0, 0, 0};
  int32_t rings = 1;
  double cut = 0;
  bool cuts = true;
  int32_t status = 0;
  auto fill = [&]() {
    if (eevg_LOFiller(drawing, rings, starts, ring, colour, err) != 0) {
      lower::Report(err, reporter, 1, "Unable to fill polygon");
      status = -1;
    }
  };
  auto thin = [&]() {
    if (eevg_ThinPoly(drawing, colour, count - 1, ring, err) != 0) {
      lower::Report(err, reporter, 2, "Unable to draw thin poly line");
      status = -1;
    }
  };

  if (wide && arrow->stick) {
    const double a = Lp - W / tanT;
    const double C[2] = {a * cosT + W / sinT + m, a * sinT};
    const double E[2] = {w2 / tanT + W / sinT + m, w2};
    const double J[2] = {g / std::tan(T / 2) + E[0], w2};
    put(P0[0], P0[1]), put(P1[0], P1[1]), put(C[0], C[1]), put(E[0], E[1]);
    if (g > 0) put(J[0], J[1]), put(J[0], -J[1]);
    put(E[0], -E[1]), put(C[0], -C[1]), put(P1[0], -P1[1]), put(P0[0], P0[1]);
    starts[1] = count;
    if (Lp > 0) fill();
    cut = g > 0 ? J[0] : E[0];
  } else if (wide) {
    const double C[2] = {P1[0] - std::trunc((P1[1] - w2) / tanB), w2};
    const double E[2] = {std::trunc(g / std::tan(B / 2) + C[0]), w2};
    put(P0[0], P0[1]), put(P1[0], P1[1]), put(C[0], C[1]);
    if (g > 0) put(E[0], E[1]), put(E[0], -E[1]);
    put(C[0], -C[1]), put(P1[0], -P1[1]), put(P0[0], P0[1]);
    starts[1] = count;
    if (!arrow->filled) {
      const double Pi = std::trunc(W / sinT + m);
      const double S = Lp - W / tanT - W / std::tan((B - T) / 2);
      if (S > 0) {
        const double V = std::trunc(S * sinT), X = std::trunc(S * cosT + Pi);
        put(Pi, 0), put(X, V), put(std::trunc(X - S * sinT / tanB), 0), put(X, -V), put(Pi, 0);
        starts[2] = count;
        rings = 2;
      }
    }
    if (Lp > 0) fill();
    cut = g > 0 ? E[0] : C[0];
  } else if (arrow->stick) {
    put(P1[0], -P1[1]), put(P0[0], P0[1]), put(P1[0], P1[1]);
    if (Lp > 0) thin();
    cuts = false;
  } else {
    const double D[2] = {P1[0] - std::trunc(P1[1] / tanB), 0};
    put(P0[0], P0[1]), put(P1[0], P1[1]), put(D[0], D[1]), put(P1[0], -P1[1]), put(P0[0], P0[1]);
    starts[1] = count;
    if (Lp > 0) {
      if (arrow->filled)
        fill();
      else
        thin();
    }
    cut = D[0];
  }
  if (status != 0) return -1;

  if (cuts && std::isfinite(cut)) {
    const double length = std::hypot(static_cast<double>(neighbour[0]) - px,
                                      static_cast<double>(neighbour[1]) - py);
    if (length <= cut) {
      *keepSegment = 0;
    } else {
      tip[0] = TruncateToInt32(cut * cosA + px);
      tip[1] = TruncateToInt32(cut * sinA + py);
    }
  }
  return 0;
}

namespace {

// One segment of a line in its own frame: s along it from its start, v across it (to the left).
struct Frame {
  double ax, ay, ux, uy, len;
  double S(double x, double y) const { return (x - ax) * ux + (y - ay) * uy; }
  double V(double x, double y) const { return (y - ay) * ux - (x - ax) * uy; }
};

// The positions s at which the segment's line, widened by half on both sides, meets the box
// (x0, y0, x1, y1): [lo, hi], and the least and greatest distances across the line at which it
// does; false when it never does.
bool StripMeets(const Frame &f, const double *box, double half, double &lo, double &hi,
                double &nearest, double &farthest) {
  // The box in the frame, clipped to the strip |v| <= half; its extent along s.
  double in[16], out[16];
  int32_t n = 0;
  const double corners[4][2] = {{box[0], box[1]}, {box[2], box[1]}, {box[2], box[3]}, {box[0], box[3]}};
  for (const auto &c : corners) {
    in[2 * n] = f.S(c[0], c[1]);
    in[2 * n + 1] = f.V(c[0], c[1]);
    ++n;
  }
  for (const double side : {half, -half}) {
    int32_t m = 0;
    auto inside = [side](double v) { return side > 0 ? v <= side : v >= side; };
    for (int32_t i = 0; i < n; ++i) {
      const double *p = in + 2 * i, *q = in + 2 * ((i + 1) % n);
      if (inside(p[1])) out[2 * m] = p[0], out[2 * m + 1] = p[1], ++m;
      if (inside(p[1]) != inside(q[1])) {
        const double t = (side - p[1]) / (q[1] - p[1]);
        out[2 * m] = p[0] + t * (q[0] - p[0]);
        out[2 * m + 1] = side;
        ++m;
      }
    }
    n = m;
    std::copy_n(out, 2 * n, in);
  }
  if (n == 0) return false;
  lo = hi = in[0];
  double below = in[1], above = in[1];
  for (int32_t i = 1; i < n; ++i) {
    lo = std::min(lo, in[2 * i]), hi = std::max(hi, in[2 * i]);
    below = std::min(below, in[2 * i + 1]), above = std::max(above, in[2 * i + 1]);
  }
  nearest = below <= 0 && above >= 0 ? 0 : std::min(std::fabs(below), std::fabs(above));
  farthest = std::max(std::fabs(below), std::fabs(above));
  return true;
}

// A piece's outline is built on its ends truncated to whole sub-pixels, each less than this from
// where it lies on the line; so a piece of length L may be turned against the line by an angle
// whose sine is at most 2 kEndShift / (L - 2 kEndShift).
constexpr double kEndShift = 1.4142135623730951;

double SineOfTurn(double length) {
  const double shift = 2 * kEndShift;
  return length > shift ? std::min(1.0, shift / (length - shift)) : 1.0;
}

// The outline of a piece of half width h and ends of this kind, turned by at most the angle of
// sine sinTurn: how far beyond the piece's end it may reach along the line, between the distances
// `nearest` and `farthest` across it (a round end its circle, a square one its corners, any end
// the corner of its turned side).
double ReachBeyond(int32_t kind, double h, double sinTurn, double nearest, double farthest) {
  const double circle = std::sqrt(std::max(h * h - nearest * nearest, 0.0));
  if (kind == EEVG_ROUND_END) return circle;
  const double cosTurn = std::sqrt(std::max(1 - sinTurn * sinTurn, 0.0));
  if (kind == EEVG_SQUARE_END)
    return sinTurn >= std::sqrt(0.5) ? h * std::sqrt(2.0) : h * (cosTurn + sinTurn);
  return cosTurn > 0 ? std::min(circle, farthest * sinTurn / cosTurn) : circle;
}

// A piece as the builder draws it: along the line between its ends truncated to whole
// sub-pixels, with half width h across it and its caps reaching beyond its ends.
struct PieceShape {
  double x0, y0, ux, uy, len;

  PieceShape(const int32_t *ends) : x0(ends[0]), y0(ends[1]) {
    const double dx = static_cast<double>(ends[2]) - ends[0];
    const double dy = static_cast<double>(ends[3]) - ends[1];
    len = std::sqrt(dx * dx + dy * dy);
    ux = len > 0 ? dx / len : 0, uy = len > 0 ? dy / len : 0;
  }
  // The cap shapes ordered by what they cover: none, a round one, a square one.
  static int32_t Order(int32_t kind) {
    return kind == EEVG_ROUND_END ? 1 : (kind == EEVG_SQUARE_END ? 2 : 0);
  }
  // Whether the point lies inside for caps of shape order startCap and endCap (a piece of no
  // length draws nothing).
  bool Holds(double px, double py, double h, int32_t startCap, int32_t endCap) const {
    if (!(len > 0)) return false;
    double a = (px - x0) * ux + (py - y0) * uy;
    const double b = (py - y0) * ux - (px - x0) * uy;
    if (!(std::fabs(b) <= h)) return false;
    int32_t cap = startCap;
    if (a > len) {
      a -= len;
      cap = endCap;
    } else if (a >= 0) {
      return true;
    }
    if (cap == 2) return std::fabs(a) <= h;
    return cap == 1 && a * a + b * b <= h * h;
  }
  // Whether the outline, taken as the rectangle of half width h reaching `reach` beyond both
  // ends, meets the box (x0, y0, x1, y1).
  bool Meets(const double *box, double h, double reach) const {
    if (!(len > 0)) return false;
    const double corners[4][2] = {{box[0], box[1]}, {box[2], box[1]}, {box[2], box[3]}, {box[0], box[3]}};
    double aLo = INFINITY, aHi = -INFINITY, bLo = INFINITY, bHi = -INFINITY;
    for (const auto &c : corners) {
      const double a = (c[0] - x0) * ux + (c[1] - y0) * uy, b = (c[1] - y0) * ux - (c[0] - x0) * uy;
      aLo = std::min(aLo, a), aHi = std::max(aHi, a), bLo = std::min(bLo, b), bHi = std::max(bHi, b);
    }
    if (aHi < -reach || aLo > len + reach || bHi < -h || bLo > h) return false;
    double xLo = INFINITY, xHi = -INFINITY, yLo = INFINITY, yHi = -INFINITY;
    for (const double a : {-reach, len + reach}) {
      for (const double b : {-h, h}) {
        const double x = x0 + a * ux - b * uy, y = y0 + a * uy + b * ux;
        xLo = std::min(xLo, x), xHi = std::max(xHi, x), yLo = std::min(yLo, y), yHi = std::max(yHi, y);
      }
    }
    return !(xHi < box[0] || xLo > box[2] || yHi < box[1] || yLo > box[3]);
  }
};

// Where the clip window lies for the pieces of one composition line, and what the builder
// makes of them: which pieces can change a pixel of the window, and which cover all of it.
struct WindowReach {
  double half = 0;  // the half width of the pieces' outlines (0 for one-pixel lines)
  double slack = 0; // for truncated points, curves bulging past their circle, samples on an edge
  double window[4]; // the window's samples, grown by the slack
  double samples[4]; // the window's samples
  double inside[4]; // pieces wholly inside are not cut by the builder (or the thin writer)
  double outside[4]; // pieces wholly outside are dropped by it
  double turnLimit = 0; // the builder's limit of turning within one run
  bool painting = false; // a piece that covers the window paints over every piece before it

  WindowReach(const Eevg_Drawing *d, const Eevg_DeviceColor &colour, int32_t width, bool wide) {
    // The width the builder draws (scaled in pre-transformed mode).
    int64_t drawn = width;
    if (d->usingWorldTransform)
      drawn = TruncateToInt32(static_cast<double>(width) * d->pixelSizeX * 0.125);
    const int64_t w = std::max<int64_t>(drawn, 4);
    half = wide ? static_cast<double>(d->antiAlias ? w / 2 : (w - 4) / 2) : 0;
    const double grow = wide ? static_cast<double>(std::max<int64_t>(drawn, 0) / 2) : 0;
    slack = kSlack + half / 2048;
    const double x0 = d->subClipXMin, y0 = d->subClipYMin;
    const double x1 = d->subClipXMax, y1 = d->subClipYMax;
    samples[0] = x0, samples[1] = y0, samples[2] = x1 + 8, samples[3] = y1 + 8;
    window[0] = x0 - slack, window[1] = y0 - slack;
    window[2] = x1 + 8 + slack, window[3] = y1 + 8 + slack;
    inside[0] = x0 - grow + 2, inside[1] = y0 - grow + 2;
    inside[2] = x1 + grow - 2, inside[3] = y1 + grow - 2;
    outside[0] = x0 - grow - 2, outside[1] = y0 - grow - 2;
    outside[2] = x1 + grow + 2, outside[3] = y1 + grow + 2;
    turnLimit = drawn == 0 ? kPi / 2 : std::fabs(std::atan(32.0 / static_cast<double>(drawn)));
    // Painting over is replacing pixels: an opaque colour, or one that no device callback
    // blends (the renderer's dither writes the same pixels each time).
    const Eevg_GrIOInfo *io = d->grIOInfo;
    painting = wide && !d->plainLines && !d->fillPattern && half > 2 * slack &&
               (eevg_TestOpaque(colour.opacity) ||
                (!io->putPixelOpacity && !io->putVectorOpacity && !io->putPolygonOpacity));
  }

  bool Inside(const int32_t *segment) const {
    for (int32_t i = 0; i < 4; i += 2)
      if (!(segment[i] >= inside[0] && segment[i] <= inside[2] && segment[i + 1] >= inside[1] &&
            segment[i + 1] <= inside[3]))
        return false;
    return true;
  }
  // Whether the piece's outline, reaching `reach` beyond its ends, meets the window.
  bool Meets(const int32_t *segment, double reach) const {
    return PieceShape(segment).Meets(window, half + slack, reach);
  }
  // Whether the piece's outline holds the whole window, its caps of shape order startCap and
  // endCap.
  bool Covers(const int32_t *segment, int32_t startCap, int32_t endCap) const {
    const PieceShape piece(segment);
    const double corners[4][2] = {
        {window[0], window[1]}, {window[2], window[1]}, {window[2], window[3]}, {window[0], window[3]}};
    for (const auto &c : corners)
      if (!piece.Holds(c[0], c[1], half - slack, startCap, endCap)) return false;
    return true;
  }
  // Whether a join's wedge at the point (within mitreLimit half widths of it) can reach the
  // window.
  bool WedgeMeets(int32_t x, int32_t y, double mitreLimit) const {
    const double r = half * std::max(1.0, std::min(mitreLimit, 1e6)) + slack;
    return !(x + r < window[0] || x - r > window[2] || y + r < window[1] || y - r > window[3]);
  }

  static constexpr double kSlack = 16;
};

// The pieces of one solid composition line (one per segment) that are made: those that can
// change a pixel of the window, from the last one that covers it all on. A piece is left out only
// when the builder would draw it as an outline of its own (a run of one segment, not cut by the
// window) and no join of it with its neighbours can reach the window either.
class SolidPieces {
 public:
  SolidPieces(const Eevg_Drawing *d, const WindowReach &reach, const int32_t *points,
              int32_t first, int32_t last, bool closed)
      : d_(d), reach_(reach), points_(points), first_(first), last_(last) {
    every_ = d->plainLines != 0;
    if (every_) return;
    // The caps as the pieces get them: the line's ends at its ends, joins between pieces.
    joinCap_ = d->lineJoin >= 1 && d->lineJoin <= 3 ? 1 : 0;
    startCap_ = closed ? d->markEnd : d->startLineEnd;
    endCap_ = closed ? d->markEnd : d->endLineEnd;
    wedges_ = d->lineJoin == EEVG_BEVEL_JOIN || d->lineJoin == EEVG_MITRE_JOIN;
    // The last piece that covers the window.
    if (reach.painting)
      for (int32_t s = last - 1; s >= first && cover_ < 0; --s)
        if (Alone(s) && reach.Covers(Segment(s), PieceShape::Order(StartCap(s)),
                                     PieceShape::Order(EndCap(s))))
          cover_ = s;
  }

  bool Made(int32_t s) const {
    if (every_) return true;
    if (s < cover_) return false;
    if (s == cover_ || !Alone(s)) return true;
    const bool caps = PieceShape::Order(StartCap(s)) > 0 || PieceShape::Order(EndCap(s)) > 0;
    if (reach_.Meets(Segment(s), caps ? reach_.half + reach_.slack : reach_.slack)) return true;
    // Its joins with the pieces before and after it lie at its ends.
    const int32_t *seg = Segment(s);
    return wedges_ && ((s > first_ && reach_.WedgeMeets(seg[0], seg[1], d_->mitreLimit)) ||
                       (s + 1 < last_ && reach_.WedgeMeets(seg[2], seg[3], d_->mitreLimit)));
  }

 private:
  const int32_t *Segment(int32_t s) const { return points_ + 2 * static_cast<std::ptrdiff_t>(s); }
  int32_t StartCap(int32_t s) const { return s == first_ ? startCap_ : joinCap_; }
  int32_t EndCap(int32_t s) const { return s == last_ - 1 ? endCap_ : joinCap_; }
  double Angle(int32_t s) const {
    const int32_t *p = Segment(s);
    return eevg_Zatan2(static_cast<double>(p[3]) - p[1], static_cast<double>(p[2]) - p[0]);
  }
  bool Usable(int32_t s) const {
    const int32_t *p = Segment(s);
    return reach_.Inside(p) && (p[0] != p[2] || p[1] != p[3]);
  }
  // Whether segment s is drawn as an outline of its own, whole: it and its neighbours are not
  // cut, and it turns from both of them by more than a run may turn (or runs are not gathered).
  bool Alone(int32_t s) const {
    if (!Usable(s)) return false;
    if (d_->applyLineEnds) return true;
    for (const int32_t t : {s - 1, s + 1}) {
      if (t < first_ || t >= last_) continue;
      if (!Usable(t) || !(eevg_AngleDifference(Angle(s), Angle(t)) > reach_.turnLimit)) return false;
    }
    return true;
  }

  const Eevg_Drawing *d_;
  const WindowReach &reach_;
  const int32_t *points_;
  int32_t first_, last_;
  int32_t cover_ = -1;
  int32_t joinCap_ = 0, startCap_ = 0, endCap_ = 0;
  bool every_ = false, wedges_ = false;
};

// How a segment meets the segments with length before and after it: the turn there (-1 where
// there is none) and their lengths.
struct Neighbours {
  double turnBefore = -1, lengthBefore = 0, turnAfter = -1, lengthAfter = 0;
};

// The most a piece of length L from a point on the line to its end truncated to whole sub-pixels
// is turned against the line.
double TurnOfPiece(double length) {
  return length > kEndShift ? std::asin(std::min(1.0, kEndShift / (length - kEndShift)))
                            : std::acos(-1.0) / 2;
}

// The most pieces of one line (all its composition lines) beside the window, not across from it,
// tried one by one whether they reach it. Only marks so short that the truncation of their ends
// may turn them any way (or far), on lines far wider than the window, come near it: past it,
// those pieces are left out unless they are surely painted, and they reach the window only by
// that turn.
constexpr int64_t kShowTries = 1 << 19;

// Arms the filler's window fills for the life of the object (the fills of one composition line).
class WindowFills {
 public:
  WindowFills(Eevg_Drawing *drawing, bool on) : drawing_(drawing) {
    drawing_->windowFills = on ? kWindowFillsOn : kWindowFillsOff;
  }
  ~WindowFills() { drawing_->windowFills = kWindowFillsOff; }
  WindowFills(const WindowFills &) = delete;
  WindowFills &operator=(const WindowFills &) = delete;

 private:
  Eevg_Drawing *drawing_;
};

// One composition line drawn with dashes: walks the segments first..last-1 and hands each mark to
// the wide builder or the thin writer. Only the pieces that can change a pixel of the clip window
// are made; the others are stepped over arithmetically, the pattern keeping its phase:
// - a piece whose outline (its half width across, its caps along) cannot reach the window, nor
//   where the builder's clipping squares it off, draws nothing there;
// - a piece drawn before one that covers the whole window in the same colour is painted over,
//   when pixels are simply replaced (an opaque colour, or a device that blends nothing itself);
// - once a piece that surely holds the whole window is made, the pieces that surely hold it too
//   are stepped over, and a mark running over a vertex that surely holds it is stepped over
//   there (the next segment takes it up unjoined): the window is changed once, on a device that
//   blends as well. (The filler leaves out the fills that hold the window once more, and those
//   beside it: see Eevg_Drawing::windowFills.)
// Other pieces where the line meets a vertex with its mark running are always made, so that
// every piece that is drawn keeps its joins and caps.
class DashWalk {
 public:
  // showTries: how many more pieces beside the window (not across from it) may be tried one by
  // one whether they reach it; past them, such pieces are left out unless they are surely
  // painted (see kShowTries).
  DashWalk(Eevg_Drawing *drawing, const WindowReach &reach, const Eevg_DeviceColor &colour,
           int32_t width, bool wide, bool closed, const double *dashes, int32_t elements,
           double period, int64_t &showTries)
      : d_(drawing), reach_(reach), colour_(colour), width_(width), wide_(wide), closed_(closed),
        dashes_(dashes), elements_(elements), period_(period), showTries_(showTries) {
    r_ = dashes_[0];
    // Caps of inner pieces are mark ends; an open line's first and last pieces take its ends.
    capKinds_[0] = drawing->markEnd;
    capKinds_[1] = closed ? drawing->markEnd : drawing->startLineEnd;
    capKinds_[2] = closed ? drawing->markEnd : drawing->endLineEnd;
    double shortest = INFINITY;
    for (int32_t i = 0; i < elements; i += 2) shortest = std::min(shortest, dashes[i]);
    for (int32_t i = 1; i < elements; i += 2) longestSpace_ = std::max(longestSpace_, dashes[i]);
    sinTurn_ = SineOfTurn(shortest);
    shortest_ = shortest;
    // A piece's outline lies where the builder puts it: its corners are computed from its ends in
    // doubles, through products of the half width and slopes up to the piece's length (a few
    // units in the last place of those products), and a round end is two cubics from truncated
    // control points, which bulge beyond their circle by less than kBulge of its radius and never
    // fall inside it, cut into chords within the flatness (and the rounding of their halving):
    // kChords.
    for (int32_t i = 0; i < elements; i += 2) longestMark_ = std::max(longestMark_, dashes[i]);
    const double products = (reach.half + 0x1p31) * (longestMark_ + 2 * kEndShift + 1) * 0x1p-44;
    baseSlack_ = WindowReach::kSlack + products;
    holdSlack_ = wide ? baseSlack_ + kChords : reach.slack;
  }

  // Moves the pattern on by distance before the line's first point (the line goes on from a part
  // of it that was cut away).
  void Start(double distance) {
    if (!(distance > 0) || !std::isfinite(distance)) return;
    if (distance > 2 * period_) {
      distance = std::fmod(distance, period_);
      anyMark_ = true;
    }
    while (distance >= r_) {
      distance -= r_;
      anyMark_ = anyMark_ || Mark();
      Next();
    }
    r_ -= distance;
    anyMark_ = anyMark_ || (Mark() && r_ < dashes_[element_]);
  }

  int32_t Run(const int32_t *points, int32_t first, int32_t last, Eerr_ErrorReport **err) {
    err_ = err;
    // Every piece before the last one that covers the whole window is painted over by it.
    int32_t coverSegment = -1;
    double coverAt = -1;
    if (reach_.painting) FindCover(points, first, last, coverSegment, coverAt);
    lineLeft_ = 0;
    for (int32_t s = first; s < last; ++s)
      if (Enter(points, s)) lineLeft_ += seg_.len;
    for (int32_t s = first; s < last; ++s) {
      if (!Enter(points, s)) continue;
      // A mark running into the segment with the piece that covers the window is drawn joined,
      // as it is in the whole line.
      running_ = Mark() && s != first &&
                 (chain_ || (s == coverSegment && r_ < dashes_[element_]));
      chain_ = false;
      const int32_t status = s < coverSegment ? Pass(seg_.len)
                             : Segment(s == coverSegment ? coverAt : -1);
      if (status != 0) return -1;
      lineLeft_ -= seg_.len;
    }
    return Flush(true, false);
  }

 private:
  // The most pieces tried, for a segment, as the last to cover the window.
  static constexpr int64_t kCoverTries = 1 << 16;
  // The most stretches of a segment where pieces are made (the turned pieces of 8 marks and the
  // rest), and the marks in a stretch from which its turned pieces are told apart.
  static constexpr int32_t kStretches = 8 + 8 * 25;
  static constexpr double kTurnedStretch = 64;

  bool Mark() const { return element_ % 2 == 0; }
  void Next() {
    element_ = (element_ + 1) % elements_;
    r_ = dashes_[element_];
  }

  // The stretches of the current segment where pieces are made, in order and apart.
  int32_t Stretches(std::pair<double, double> *out) const {
    const double len = seg_.len, near = WindowReach::kSlack;
    std::pair<double, double> list[kStretches];
    int32_t n = 0;
    auto add = [&](double lo, double hi) {
      lo = std::max(lo, 0.0), hi = std::min(hi, len);
      if (lo <= hi && n < kStretches) list[n++] = {lo, hi};
    };
    // Where the mark running over a vertex joins its neighbours.
    add(0, near);
    add(len - near, len);
    // The line's first piece, and those that may be its last: their ends are the line's.
    if (!anyMark_) add(0, r_ + (Mark() ? 0 : dashes_[(element_ + 1) % elements_]));
    add(HoldsBefore() - longestMark_, len);
    double a0, a1;
    if (ClipToBox(reach_.outside, a0, a1)) {
      a0 *= len, a1 *= len;
      // Where a piece that the builder may cut (with a square end, turned any way) can reach the
      // window.
      const double cut = reach_.half * std::sqrt(2.0) + reach_.slack;
      double lo, hi, nearest, farthest;
      const bool cutReaches = StripMeets(seg_, reach_.window, cut, lo, hi, nearest, farthest);
      double b0, b1;
      if (!ClipToBox(reach_.inside, b0, b1)) {
        if (cutReaches) add(std::max(lo - cut, a0), std::min(hi + cut, a1));
      } else {
        b0 *= len, b1 *= len;
        if (cutReaches) {
          add(std::max(lo - cut, a0), std::min(hi + cut, b0) + near);
          add(std::max(lo - cut, b1) - near, std::min(hi + cut, a1));
        }
        // Where a whole piece can reach it: its outline lies within its half width (from its
        // shifted ends) or its turned square corners across the line, and its ends reach along
        // it as far as they can where the window comes nearest.
        // (The line's first and last pieces are tried wherever they lie, below.)
        const int32_t kinds[1] = {capKinds_[0]}, kindCount = 1;
        const double slack = OutlineSlack(kinds, kindCount);
        double across = reach_.half + kEndShift;
        for (int32_t k = 0; k < kindCount; ++k)
          if (kinds[k] == EEVG_SQUARE_END) across = std::max(across, ReachBeyond(kinds[k], reach_.half, sinTurn_, 0, 0));
        const double g = WindowReach::kSlack, *w = reach_.samples;
        const double box[4] = {w[0] - g, w[1] - g, w[2] + g, w[3] + g};
        if (StripMeets(seg_, box, across + slack, lo, hi, nearest, farthest)) {
          double reach = 0;
          for (int32_t k = 0; k < kindCount; ++k)
            reach = std::max(reach, ReachBeyond(kinds[k], reach_.half + slack, sinTurn_, nearest, farthest));
          reach += slack;
          const double from = std::max(lo - reach, b0) - near, to = std::min(hi + reach, b1) + near;
          if (!(to - from > kTurnedStretch * period_) || !TurnedStretches(from, to, box, slack, add))
            add(from, to);
        }
      }
    }
    std::sort(list, list + n);
    int32_t m = 0;
    for (int32_t i = 0; i < n; ++i) {
      if (m > 0 && list[i].first <= out[m - 1].second)
        out[m - 1].second = std::max(out[m - 1].second, list[i].second);
      else
        out[m++] = list[i];
    }
    return m;
  }

  // The pieces of the current segment between from and to that can reach the box, when their ends
  // are butt ends and far from across the window, so that only the truncation of their ends
  // turns them onto it: given to add as the stretches of their starts, one for each length of
  // mark and each step between truncated ends it can take (each coordinate of it within 2 of
  // its length along the line). False when they cannot be told so (other ends, too many marks):
  // all of from..to is to be tried.
  template <typename Add>
  bool TurnedStretches(double from, double to, const double *box, double slack, Add add) const {
    if (PieceShape::Order(capKinds_[0]) != 0 || elements_ > 16) return false;
    const double ux = seg_.ux, uy = seg_.uy;
    for (int32_t e = 0; e < elements_; e += 2) {
      const double L = dashes_[e];
      for (double dx = std::ceil(L * ux - 2.01); dx <= L * ux + 2.01; ++dx) {
        for (double dy = std::ceil(L * uy - 2.01); dy <= L * uy + 2.01; ++dy) {
          // The piece starting at a (truncated ends P', P' + (dx, dy)) meets the box only if
          // some corner c has (c - P').(dx, dy) within [-slack, d + slack] times d, where
          // (c - P').(dx, dy) = (c - A).(dx, dy) - a g - (P' - P).(dx, dy).
          if (dx == 0 && dy == 0) continue; // a piece of no length draws nothing
          const double g = ux * dx + uy * dy, d = std::hypot(dx, dy);
          double kLo = INFINITY, kHi = -INFINITY;
          for (int32_t i = 0; i < 4; ++i) {
            const double k = (box[2 * (i & 1)] - seg_.ax) * dx + (box[1 + 2 * (i >> 1)] - seg_.ay) * dy;
            kLo = std::min(kLo, k), kHi = std::max(kHi, k);
          }
          const double shift = std::fabs(dx) + std::fabs(dy);
          const double below = kLo - shift - d * (d + slack), above = kHi + shift + d * slack;
          if (std::fabs(g) < 1e-9) {
            // Across the line: wherever such a piece lies, or nowhere.
            const double slop = std::fabs(g) * std::max(std::fabs(from), std::fabs(to));
            if (below <= slop && above >= -slop) add(from, to);
            continue;
          }
          const double aLo = (g > 0 ? below : above) / g, aHi = (g > 0 ? above : below) / g;
          add(std::max(aLo, from), std::min(aHi, to));
        }
      }
    }
    return true;
  }

  // The part [t0, t1] (fractions of the segment) inside the box; false when none.
  bool ClipToBox(const double *box, double &t0, double &t1) const {
    t0 = 0;
    t1 = 1;
    const double dx = d_dx_, dy = d_dy_;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {seg_.ax - box[0], box[2] - seg_.ax, seg_.ay - box[1], box[3] - seg_.ay};
    for (int32_t i = 0; i < 4; ++i) {
      if (p[i] == 0) {
        if (q[i] < 0) return false;
        continue;
      }
      const double t = q[i] / p[i];
      if (p[i] < 0)
        t0 = std::max(t0, t);
      else
        t1 = std::min(t1, t);
    }
    return t0 <= t1;
  }

  // Where the last piece of this segment that covers the whole window starts; -1 for none. Such a
  // piece lies wholly in the segment and inside the builder's window, so its caps are those of
  // its kind.
  double LastCover(bool firstSegment, bool canBeFirst, double lineLeft,
                   const Neighbours &around) const {
    if (!reach_.painting) return -1;
    const double h = reach_.half - reach_.slack;
    double t0, t1;
    if (!ClipToBox(reach_.inside, t0, t1)) return -1;
    const double from = t0 * seg_.len, to = t1 * seg_.len;
    // The window's corners in the frame: every one must lie inside the piece's outline.
    const double corners[4][2] = {{reach_.window[0], reach_.window[1]}, {reach_.window[2], reach_.window[1]},
                                  {reach_.window[2], reach_.window[3]}, {reach_.window[0], reach_.window[3]}};
    double sc[4], vc[4];
    for (int32_t i = 0; i < 4; ++i) {
      sc[i] = seg_.S(corners[i][0], corners[i][1]);
      vc[i] = seg_.V(corners[i][0], corners[i][1]);
      if (!(std::fabs(vc[i]) <= h)) return -1;
    }
    // The caps a piece may take: mark ends, the line's start on its first piece and its end on
    // its last one (a piece after which the line, lineLeft long from this segment's start, holds
    // another mark is not the last).
    const int32_t cap = PieceShape::Order(capKinds_[0]);
    const int32_t lineStart = std::min(cap, PieceShape::Order(capKinds_[1]));
    const int32_t lineEnd = std::min(cap, PieceShape::Order(capKinds_[2]));
    const double firstMark = Mark() ? pos_ - (dashes_[element_] - r_) : pos_ + r_;
    auto startCap = [&](double start) {
      return canBeFirst && start <= firstMark + reach_.slack ? lineStart : cap;
    };
    auto covers = [&](double start, double end, int32_t startCap, int32_t endCap) {
      int32_t ends[4];
      Point(start, ends);
      Point(end, ends + 2);
      const PieceShape piece(ends);
      for (const auto &c : corners)
        if (!piece.Holds(c[0], c[1], h, startCap, endCap)) return false;
      return true;
    };
    // Marks start at `at` and every period after. For each mark, the starts within [from, to]
    // are tried from the latest whose piece, not turned, would hold every corner, back to the
    // first that does; the latest of them wins.
    double best = -1, at = pos_;
    int32_t element = element_;
    double remaining = r_;
    int64_t tries = kCoverTries;
    for (int32_t i = 0; i < elements_; ++i) {
      const double full = dashes_[element];
      if (element % 2 == 0) {
        double startBound = INFINITY, endBound = -INFINITY;
        for (int32_t c = 0; c < 4; ++c) {
          const double reach = cap == 0 ? 0 : (cap == 1 ? std::sqrt(h * h - vc[c] * vc[c]) : h);
          startBound = std::min(startBound, sc[c] + reach);
          endBound = std::max(endBound, sc[c] - reach);
        }
        // This mark starts at base + k periods; a start before pos_ is not a piece of its own.
        const double base = at - (full - remaining);
        const double first = std::max({remaining == full ? base : base + period_, from,
                                        best >= 0 ? best + period_ / 2 : -INFINITY});
        const double limit = std::min(startBound, to - full);
        if (limit >= base) {
          double start = base + std::floor((limit - base) / period_) * period_;
          if (start > limit) start -= period_;
          const double space = dashes_[(element + 1) % elements_];
          for (; start >= first && start + full >= endBound && tries > 0; start -= period_, --tries) {
            const int32_t endCap = start + full + space + reach_.slack < lineLeft ? cap : lineEnd;
            if (covers(start, start + full, startCap(start), endCap)) {
              best = start;
              break;
            }
          }
        }
      }
      at += remaining;
      element = (element + 1) % elements_;
      remaining = dashes_[element];
    }
    // The pieces at the segment's ends: where a mark runs on over a vertex, that end gets the
    // join's cap (without its wedge, which only adds), or the line's or a mark's end.
    const int32_t joinCap = PieceShape::Order(
        d_->lineJoin >= EEVG_BUTT_JOIN && d_->lineJoin <= EEVG_MITRE_JOIN ? EEVG_BUTT_END : EEVG_ROUND_END);
    const int32_t vertexCap = seg_.len + reach_.slack < lineLeft ? joinCap : lineEnd;
    const double len = seg_.len;
    if (to < len) return best;
    // Gathered into runs, a piece goes on in the same outline over a vertex where the line turns
    // little: it ends there only where the pieces on both sides surely turn more.
    auto parted = [&](double turn, double before, double after) {
      return d_->applyLineEnds ||
             (turn >= 0 && turn > reach_.turnLimit + TurnOfPiece(before) + TurnOfPiece(after));
    };
    // The mark running over the segment's end.
    double start = pos_ + r_;
    int32_t mark = element_;
    if (start < len) {
      mark = (element_ + 1) % elements_;
      const double periods = std::floor((len - start) / period_) - 1;
      if (periods > 0) start += periods * period_;
      while (start + dashes_[mark] <= len) {
        start += dashes_[mark];
        mark = (mark + 1) % elements_;
      }
      const double after = std::min(start + dashes_[mark] - len, around.lengthAfter);
      if (mark % 2 == 0 && start < len && start >= from && start > best &&
          (after <= 0 || parted(around.turnAfter, len - start, after)) &&
          covers(start, len, startCap(start), vertexCap))
        return start;
    }
    // The mark running over the segment's start.
    if (best < 0 && !firstSegment && Mark() && r_ < dashes_[element_] && from <= 0) {
      const double end = std::min(pos_ + r_, len);
      const double before = std::min(dashes_[element_] - r_, around.lengthBefore);
      if (!parted(around.turnBefore, before, end - pos_)) return best;
      if (end >= len) {
        const double after = std::min(pos_ + r_ - len, around.lengthAfter);
        if (after > 0 && !parted(around.turnAfter, len, after)) return best;
      }
      const double space = dashes_[(element_ + 1) % elements_];
      const int32_t endCap =
          end >= len ? vertexCap : (end + space + reach_.slack < lineLeft ? cap : lineEnd);
      if (covers(pos_, end, joinCap, endCap)) return pos_;
    }
    return best;
  }

  // The starts a of the pieces [a, a + L'] of the current segment, L' at least L, that surely
  // hold the whole window however the truncation of their ends turns them: [from, to], empty
  // when from > to; their ends butt ends or (at least) round ones as said. Meant for pieces that
  // lie wholly inside the builder's window.
  // Every corner of the window lies within h - kEndShift of the piece's line between its true
  // ends (so within h of the one between its truncated ends: the round ends and the sides of
  // the piece hold it, and a square end holds what a round one does); a butt end, turned by the
  // angle of sine SineOfTurn(L) at most and moved by kEndShift at most, leaves it on the piece's
  // side.
  void HoldingStarts(double L, bool buttStart, bool buttEnd, double &from, double &to) const {
    from = 1, to = 0;
    if (!wide_) return;
    const double h = reach_.half - holdSlack_ - kEndShift;
    if (!(h > 0)) return;
    const double sinT = SineOfTurn(L);
    const double cosT = std::sqrt(std::max(1 - sinT * sinT, 0.0));
    if (buttStart && !(cosT > 0)) return;
    double lo = -INFINITY, hi = INFINITY;
    const double g = WindowReach::kSlack, *w = reach_.samples;
    const double corners[4][2] = {
        {w[0] - g, w[1] - g}, {w[2] + g, w[1] - g}, {w[2] + g, w[3] + g}, {w[0] - g, w[3] + g}};
    for (const auto &c : corners) {
      const double sc = seg_.S(c[0], c[1]), across = std::fabs(seg_.V(c[0], c[1]));
      if (!(across <= h)) return;
      const double r = std::sqrt(h * h - across * across);
      lo = std::max(lo, sc - L - r);
      hi = std::min(hi, sc + r);
      if (buttStart) hi = std::min(hi, sc - (across * sinT + kEndShift + holdSlack_) / cosT);
      if (buttEnd) {
        const double shift = across * sinT + 3 * kEndShift + holdSlack_;
        if (!(shift <= L)) return;
        lo = std::max(lo, sc + shift - L);
      }
    }
    from = lo;
    to = hi;
  }
  // Whether the piece [from, to] of the current segment, with mark ends at both ends (made
  // after another one, and followed by another mark), surely holds the whole window.
  bool Holds(double from, double to) const {
    return from >= holdFrom_ && from <= holdTo_ && to <= std::min(insideTo_, HoldsBefore());
  }
  // Whether the piece from `from` to the end of the current segment, a mark end at its start
  // and a join (or a mark end) at the vertex, not the line's last, surely holds the whole window.
  bool EndHolds(double from) const {
    const double len = seg_.len;
    if (d_->plainLines || !(from >= insideFrom_ && len <= insideTo_) ||
        !(len + WindowReach::kSlack < lineLeft_))
      return false;
    const bool butt = PieceShape::Order(capKinds_[0]) == 0;
    const bool joinButt = d_->lineJoin >= EEVG_BUTT_JOIN && d_->lineJoin <= EEVG_MITRE_JOIN;
    double lo, hi;
    HoldingStarts(len - from, butt, butt || joinButt, lo, hi);
    return from >= lo && from <= hi;
  }
  // Where the pieces of the current segment that surely have another mark after them end.
  double HoldsBefore() const { return lineLeft_ - longestSpace_ - WindowReach::kSlack; }

  // Whether the piece [from, to] of the current segment may change a pixel of the window: one
  // that the builder may cut is always made; another one when its outline meets the window.
  bool Shows(double from, double to) const {
    if (wide_ && !(from >= insideFrom_ && to <= insideTo_)) return true;
    int32_t ends[4];
    Point(from, ends);
    Point(to, ends + 2);
    const PieceShape piece(ends);
    int32_t kinds[3];
    const int32_t kindCount = EndKinds(to, kinds);
    const double slack = OutlineSlack(kinds, kindCount);
    bool capped = false;
    for (int32_t k = 0; k < kindCount; ++k) capped = capped || PieceShape::Order(kinds[k]) > 0;
    const double g = WindowReach::kSlack, *w = reach_.samples;
    const double box[4] = {w[0] - g, w[1] - g, w[2] + g, w[3] + g};
    const double h = reach_.half + slack;
    return piece.Meets(box, h, capped ? h : slack);
  }
  // The kinds of end the pieces of the current segment ending by `to` and not joined to others
  // may take: mark ends, the line's start while no piece is made, and the line's end where no
  // mark may follow them.
  int32_t EndKinds(double to, int32_t *kinds) const {
    int32_t n = 0;
    kinds[n++] = capKinds_[0];
    if (!anyMark_) kinds[n++] = capKinds_[1];
    if (!(to + longestSpace_ + WindowReach::kSlack < lineLeft_)) kinds[n++] = capKinds_[2];
    return n;
  }
  // How far the outline of a piece with ends of these kinds may reach beyond the one it is
  // taken for (with round ends, the circles of its half width).
  double OutlineSlack(const int32_t *kinds, int32_t count) const {
    if (!wide_) return reach_.slack;
    bool round = false;
    for (int32_t k = 0; k < count; ++k) round = round || kinds[k] == EEVG_ROUND_END;
    return baseSlack_ + (round ? kChords + kBulge * reach_.half : 0);
  }

  // Takes segment s as the current one; false when it has no length.
  bool Enter(const int32_t *points, int32_t s) {
    const double ax = points[2 * s], ay = points[2 * s + 1];
    const double dx = points[2 * s + 2] - ax, dy = points[2 * s + 3] - ay;
    const double len = std::sqrt(dx * dx + dy * dy);
    if (!(len > 0)) return false;
    seg_ = {ax, ay, dx / len, dy / len, len};
    d_dx_ = dx, d_dy_ = dy;
    toward_[0] = points[2 * s + 2];
    toward_[1] = points[2 * s + 3];
    pos_ = 0;
    return true;
  }

  // The segment and the position in it of the last piece of the line that covers the window
  // (segment -1 for none). The pattern is walked along the whole line and left as it was.
  void FindCover(const int32_t *points, int32_t first, int32_t last, int32_t &segment,
                 double &at) {
    const int32_t element = element_;
    const double remaining = r_;
    bool marks = anyMark_;
    double lineLeft = 0;
    for (int32_t s = first; s < last; ++s)
      if (Enter(points, s)) lineLeft += seg_.len;
    // The segments with length, for the turns between them.
    auto angle = [&](int32_t s) {
      const int32_t *p = points + 2 * static_cast<std::ptrdiff_t>(s);
      return eevg_Zatan2(static_cast<double>(p[3]) - p[1], static_cast<double>(p[2]) - p[0]);
    };
    auto length = [&](int32_t s) {
      const int32_t *p = points + 2 * static_cast<std::ptrdiff_t>(s);
      return std::hypot(static_cast<double>(p[2]) - p[0], static_cast<double>(p[3]) - p[1]);
    };
    int32_t before = -1;
    for (int32_t s = first; s < last; ++s) {
      if (!Enter(points, s)) continue;
      Neighbours around;
      if (before >= 0) {
        around.turnBefore = eevg_AngleDifference(angle(s), angle(before));
        around.lengthBefore = length(before);
      }
      for (int32_t t = s + 1; t < last; ++t) {
        if (!(length(t) > 0)) continue;
        around.turnAfter = eevg_AngleDifference(angle(t), angle(s));
        around.lengthAfter = length(t);
        break;
      }
      before = s;
      const double cover = LastCover(s == first, !marks, lineLeft, around);
      if (cover >= 0) segment = s, at = cover;
      lineLeft -= seg_.len;
      marks = marks || Mark() || seg_.len > r_;
      // On to the segment's end.
      double distance = seg_.len;
      if (distance > 2 * period_) distance = std::fmod(distance, period_) + period_;
      while (distance >= r_) {
        distance -= r_;
        Next();
      }
      r_ -= distance;
    }
    element_ = element;
    r_ = remaining;
  }

  // Steps over the current segment from pos_, making no piece.
  int32_t Pass(double len) {
    if (SkipTo(len) != 0) return -1;
    const double left = len - pos_;
    const bool mark = Mark() && left > 0;
    if (r_ == left)
      Next();
    else
      r_ -= left;
    if (!mark) return 0;
    anyMark_ = true;
    return Flush(false, false);
  }

  // Steps over the whole elements that end by target (within the segment).
  int32_t SkipTo(double target) {
    double distance = target - pos_;
    if (!(distance >= r_)) return 0;
    bool passed = false;
    distance -= r_;
    pos_ += r_;
    passed = Mark();
    Next();
    if (distance > 2 * period_) {
      double periods = std::floor(distance / period_);
      if (periods * period_ > distance) periods -= 1;
      if (periods > 0) {
        pos_ += periods * period_;
        distance -= periods * period_;
        passed = true;
      }
    }
    while (distance >= r_) {
      distance -= r_;
      pos_ += r_;
      passed = passed || Mark();
      Next();
    }
    if (!passed) return 0;
    anyMark_ = true;
    return Flush(false, false);
  }

  // Walks the current segment from its start; pieces before `cover` are painted over by the
  // one there.
  int32_t Segment(double cover) {
    const double len = seg_.len;
    std::pair<double, double> stretches[kStretches] = {{0, len}};
    const bool every = d_->plainLines != 0;
    double t0, t1;
    if (ClipToBox(reach_.inside, t0, t1))
      insideFrom_ = t0 * len, insideTo_ = t1 * len;
    else
      insideFrom_ = 1, insideTo_ = 0;
    // Where the window lies along the segment.
    acrossFrom_ = INFINITY, acrossTo_ = -INFINITY;
    for (int32_t i = 0; i < 4; ++i) {
      const double *w = reach_.samples;
      const double along = seg_.S(w[2 * (i & 1)], w[1 + 2 * (i >> 1)]);
      acrossFrom_ = std::min(acrossFrom_, along), acrossTo_ = std::max(acrossTo_, along);
    }
    acrossFrom_ -= longestMark_ + WindowReach::kSlack, acrossTo_ += WindowReach::kSlack;
    holdFrom_ = 1, holdTo_ = 0;
    if (!every) {
      const bool butt = PieceShape::Order(capKinds_[0]) == 0;
      HoldingStarts(shortest_, butt, butt, holdFrom_, holdTo_);
      holdFrom_ = std::max(holdFrom_, insideFrom_);
    }
    const int32_t count = every ? 1 : Stretches(stretches);
    for (int32_t i = 0; i < count; ++i) {
      const double lo = std::max(stretches[i].first, cover), hi = stretches[i].second;
      if (lo > hi) continue;
      if (SkipTo(lo) != 0) return -1;
      while (pos_ <= hi && pos_ < len) {
        if (r_ >= len - pos_) return End();
        if (Mark()) {
          const bool joined = running_ && pos_ == 0;
          // (The line's first piece takes the line's start.)
          const bool holds = !joined && anyMark_ && Holds(pos_, pos_ + r_);
          if (holds && holdMade_) {
            // The window is painted once: this mark and those after it that surely hold it
            // too are stepped over.
            anyMark_ = true;
            if (Flush(false, false) != 0) return -1;
            pos_ += r_;
            Next();
            const double skipped =
                std::min({holdTo_ + shortest_, insideTo_, len - WindowReach::kSlack, HoldsBefore()});
            if (SkipTo(skipped) != 0) return -1;
            continue;
          }
          // Those across from the window are always tried.
          const bool across = pos_ + r_ >= acrossFrom_ && pos_ <= acrossTo_;
          const bool tried = !joined && !every && (across || showTries_ > 0);
          if (tried && !across) --showTries_;
          if (joined || every || (tried && Shows(pos_, pos_ + r_))) {
            if (Make(pos_, pos_ + r_, joined) != 0) return -1;
            holdMade_ = holdMade_ || holds;
          } else {
            // Stepped over: the piece before is not the last one.
            anyMark_ = true;
            if (Flush(false, false) != 0) return -1;
            if (!tried) {
              // No more pieces are tried one by one: on to the window or the stretch's end.
              pos_ += r_;
              Next();
              const double to = pos_ < acrossFrom_ ? std::min(hi, acrossFrom_) : hi;
              if (SkipTo(std::min(to, len - WindowReach::kSlack)) != 0) return -1;
              continue;
            }
          }
        }
        pos_ += r_;
        Next();
      }
      if (pos_ >= len) return 0;
    }
    return Pass(len);
  }

  // The element at pos_ reaches the segment's end: its piece is made up to there.
  int32_t End() {
    const double left = seg_.len - pos_;
    const bool joined = running_ && pos_ == 0;
    if (Mark() && left > 0) {
      if (holdMade_ && !joined && EndHolds(pos_)) {
        // The window is painted once: the mark runs on unjoined.
        anyMark_ = true;
        if (Flush(false, false) != 0) return -1;
        if (r_ == left)
          Next();
        else
          r_ -= left;
        pos_ = seg_.len;
        return 0;
      }
      if (Make(pos_, seg_.len, joined) != 0) return -1;
    }
    if (r_ == left) {
      // The mark ends on the vertex: the next element starts with the next segment.
      Next();
    } else {
      r_ -= left;
      chain_ = Mark() && left > 0;
    }
    pos_ = seg_.len;
    return 0;
  }

  void Point(double at, int32_t *out) const {
    const double f = at / seg_.len;
    out[0] = TruncateToInt32(seg_.ax + f * d_dx_);
    out[1] = TruncateToInt32(seg_.ay + f * d_dy_);
  }
  // Makes the piece [from, to] of the current segment pending, drawing the one before.
  int32_t Make(double from, double to, bool continuesFrom) {
    if (pendingSet_ && Flush(false, continuesFrom) != 0) return -1;
    Point(from, pending_);
    Point(to, pending_ + 2);
    pendingToward_[0] = toward_[0];
    pendingToward_[1] = toward_[1];
    pendingFrom_ = continuesFrom;
    pendingFirst_ = !anyMark_;
    anyMark_ = true;
    pendingSet_ = true;
    return 0;
  }
  int32_t Flush(bool isLast, bool continuesTo) {
    if (!pendingSet_) return 0;
    pendingSet_ = false;
    if (wide_) {
      if (eevg_WideVector(colour_, width_, d_, d_->applyLineEnds, 2, closed_, pendingFirst_,
                          isLast, pendingFrom_, continuesTo, pendingToward_[0],
                          pendingToward_[1], pending_, err_) != 0) {
        lower::Report(err_, "eevg_WideLine", 4, "Unable to draw wide polyline");
        return -1;
      }
      } else if (eevg_ThinVector(d_, colour_, pending_, err_) != 0) {
      if (isLast)
        lower::Report(err_, "eevg_WideLine", 6, "Unable to complete wideline segment");
      else
        lower::Report(err_, "eevg_WideLine", 5, "Unable to continue wideline segment");
      return -1;
    }
    return 0;
  }

  Eevg_Drawing *d_;
  const WindowReach &reach_;
  Eevg_DeviceColor colour_;
  int32_t width_;
  bool wide_, closed_;
  const double *dashes_;
  int32_t elements_;
  double period_;
  double sinTurn_ = 1;
  double shortest_ = 0;                         // the shortest mark
  double longestMark_ = 0, longestSpace_ = 0;
  double lineLeft_ = 0; // the length of the line from the current segment's start
  // How far a piece's outline may reach beyond the one it is taken for without round ends, and
  // how far it may fall inside it.
  double baseSlack_ = 0, holdSlack_ = 0;
  static constexpr double kBulge = 2.8e-4, kChords = 48;
  double holdFrom_ = 1, holdTo_ = 0;            // starts of pieces surely holding the window
  bool holdMade_ = false; // a piece surely holding the window was made
  int64_t &showTries_;
  double acrossFrom_ = 0, acrossTo_ = 0; // the pieces of the current segment across the window
  double insideFrom_ = 1, insideTo_ = 0;        // the current segment inside `inside`
  int32_t capKinds_[3];
  Eerr_ErrorReport **err_ = nullptr;
  int32_t element_ = 0;
  double r_ = 0;   // what is left of the current element
  double pos_ = 0; // position in the current segment
  bool running_ = false; // the segment began inside a mark whose piece was made
  bool chain_ = false;   // the last piece ran to its segment's end with its mark still running
  bool anyMark_ = false; // a piece was made (or a mark passed unseen) before
  Frame seg_{};
  double d_dx_ = 0, d_dy_ = 0;
  int32_t toward_[2] = {};
  int32_t pending_[4] = {};
  int32_t pendingToward_[2] = {};
  bool pendingSet_ = false, pendingFrom_ = false, pendingFirst_ = false;
};

} // namespace

int32_t eevg_WideLine(Eevg_Drawing *drawing, int32_t segmentCount, int32_t *points,
                      Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_WideLine";
  lower::Clear(err);
  const int32_t n = segmentCount;
  if (!drawing || !points || n < 1 || drawing->widthCount < 1 || !drawing->drawWidths) return 0;
  int32_t *p0 = points, *p1 = points + 2, *pm = points + 2 * static_cast<std::ptrdiff_t>(n - 1),
          *pn = points + 2 * static_cast<std::ptrdiff_t>(n);
  const bool closed = pn[0] == p0[0] && pn[1] == p0[1];
  bool startArrow = false, endArrow = false;
  if (!closed && drawing->arrowEnd) {
    startArrow = drawing->startLineEnd == EEVG_ARROW_END;
    endArrow = drawing->endLineEnd == EEVG_ARROW_END;
  }
  drawing->capArrowEnd = drawing->arrowEnd;
  const int32_t saved[8] = {p0[0], p0[1], p1[0], p1[1], pm[0], pm[1], pn[0], pn[1]};

  // The dash pairs kept: both lengths above 0.
  int32_t elements = 0;
  double period = 0;
  const int32_t pairs = drawing->subDashes ? std::max(drawing->dashCount, 0) : 0;
  if (pairs > 0) {
    if (!ReserveDashes(drawing, 2 * static_cast<int64_t>(pairs))) {
      lower::Report(err, reporter, 8, "Unable to allocate dash pattern");
      return -1;
    }
    const double scale = drawing->usingWorldTransform ? drawing->pixelSizeX * 0.125 : 1.0;
    for (int32_t i = 0; i < pairs; ++i) {
      const double mark = drawing->subDashes[2 * i] * scale;
      const double space = drawing->subDashes[2 * i + 1] * scale;
      if (!(mark > 0) || !(space > 0) || !std::isfinite(mark) || !std::isfinite(space)) continue;
      drawing->lineDashWork[elements++] = mark;
      drawing->lineDashWork[elements++] = space;
      period += mark + space;
    }
  }

  const int32_t lines = drawing->widthCount;
  const int32_t widest = drawing->drawWidths[0];
  int64_t showTries = kShowTries;
  auto colourOf = [&](int32_t pos) {
    if (drawing->overrideActive) return drawing->overrideDeviceColour;
    const int32_t last = std::max(drawing->lineColourCapacity, 1) - 1;
    return drawing->lineColours ? drawing->lineColours[std::min(pos, last)] : Eevg_DeviceColor{};
  };

  for (int32_t pos = 0; pos < lines; ++pos) {
    const Eevg_DeviceColor colour = colourOf(pos);
    const int32_t width = drawing->drawWidths[pos];
    const bool wide = drawing->antiAlias || width > 8;
    // A one-pixel line under wider ones is covered by them.
    if (!wide && pos != lines - 1) continue;

    p0[0] = saved[0], p0[1] = saved[1], p1[0] = saved[2], p1[1] = saved[3];
    pm[0] = saved[4], pm[1] = saved[5], pn[0] = saved[6], pn[1] = saved[7];
    int32_t first = 0, last = n;
    if (startArrow) {
      int32_t keep = 1;
      if (eevg_DrawArrow(drawing, p0, p1, &keep, wide, width, widest, colour, err) != 0) {
        lower::Report(err, reporter, 1, "Unable to draw arrow");
        return -1;
      }
      if (!keep) first = 1;
    }
    if (endArrow) {
      int32_t keep = 1;
      if (eevg_DrawArrow(drawing, pn, pm, &keep, wide, width, widest, colour, err) != 0) {
        lower::Report(err, reporter, 1, "Unable to draw arrow");
        return -1;
      }
      if (!keep) last = n - 1;
    }

    if (first < last) {
      // The pieces of a dashed wide line change the window once where they hold all of it.
      const WindowFills fills(drawing, wide && elements > 0 && !drawing->plainLines);
      const bool run = wide && !drawing->applyLineEnds;
      if (run && eevg_StartWidePolygon(drawing, n + 1, width, colour, err) != 0) {
        lower::Report(err, reporter, 2, "Unable to start wideline");
        return -1;
      }
      if (elements == 0) {
        if (!wide) {
          if (eevg_ThinPoly(drawing, colour, last - first, points + 2 * first, err) != 0) {
            lower::Report(err, reporter, 3, "Unable to draw thin polyline");
            return -1;
          }
        } else {
          const WindowReach reach(drawing, colour, width, true);
          const SolidPieces made(drawing, reach, points, first, last, closed);
          for (int32_t s = first; s < last; ++s) {
            if (!made.Made(s)) continue;
            const int32_t *segment = points + 2 * static_cast<std::ptrdiff_t>(s);
            if (eevg_WideVector(colour, width, drawing, drawing->applyLineEnds, 2, closed,
                                s == first, s == last - 1, 1, 1, segment[2], segment[3], segment,
                                err) != 0) {
              lower::Report(err, reporter, 4, "Unable to draw wide polyline");
              return -1;
            }
          }
        }
      } else {
        const WindowReach reach(drawing, colour, width, wide);
        DashWalk walk(drawing, reach, colour, width, wide, closed, drawing->lineDashWork,
                      elements, period, showTries);
        walk.Start(drawing->dashPhase);
        if (walk.Run(points, first, last, err) != 0) return -1;
      }
      if (run && eevg_EndWidePolygon(drawing, err) != 0) {
        lower::Report(err, reporter, 7, "Unable to complete wideline");
        return -1;
      }
    }
    while (pos + 1 < lines && SameColour(colourOf(pos + 1), colour)) ++pos;
  }
  return 0;
}

} // namespace taviron::graphics
