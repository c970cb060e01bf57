// The line driver: compositions, dashes and arrow heads over the wide-polygon builder.
#include <algorithm>
#include <cmath>
#include <cstdint>

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
// Dash pieces are only made within the clip window grown by half the width and this margin;
// beyond it the dash pattern is advanced without making pieces.
constexpr double kDashMargin = 64;

bool SameColour(const Eevg_DeviceColor &a, const Eevg_DeviceColor &b) {
  return a.red == b.red && a.green == b.green && a.blue == b.blue && a.index == b.index &&
         a.opacity == b.opacity;
}

// The part [t0, t1] (fractions of the segment) inside the window; false when none.
bool VisiblePart(double ax, double ay, double dx, double dy, const double *window, double &t0,
                 double &t1) {
  t0 = 0;
  t1 = 1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {ax - window[0], window[2] - ax, ay - window[1], window[3] - ay};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0) {
      t0 = std::max(t0, t);
    } else {
      t1 = std::min(t1, t);
    }
  }
  return t0 <= t1;
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

// One composition line drawn with dashes: walks the segments first..last-1 and hands each mark to
// the wide builder or the thin writer.
class DashWalk {
 public:
  DashWalk(Eevg_Drawing *drawing, const Eevg_DeviceColor &colour, int32_t width, bool wide,
           bool closed, const double *dashes, int32_t elements, double period)
      : d_(drawing), colour_(colour), width_(width), wide_(wide), closed_(closed),
        dashes_(dashes), elements_(elements), period_(period) {
    // The builder grows its window by half the width it draws (scaled in pre-transformed mode).
    double reach = std::max(width, 0);
    if (drawing->usingWorldTransform)
      reach = std::max(reach, std::fabs(static_cast<double>(width) * drawing->pixelSizeX * 0.125));
    const double grow = (wide ? reach / 2 : 0) + kDashMargin;
    window_[0] = drawing->subClipXMin - grow;
    window_[1] = drawing->subClipYMin - grow;
    window_[2] = drawing->subClipXMax + grow;
    window_[3] = drawing->subClipYMax + grow;
    r_ = dashes_[0];
  }

  int32_t Run(const int32_t *points, int32_t first, int32_t last, Eerr_ErrorReport **err) {
    err_ = err;
    for (int32_t s = first; s < last; ++s) {
      const double ax = points[2 * s], ay = points[2 * s + 1];
      const double dx = points[2 * s + 2] - ax, dy = points[2 * s + 3] - ay;
      const double len = std::sqrt(dx * dx + dy * dy);
      if (!(len > 0)) continue;
      seg_[0] = ax, seg_[1] = ay, seg_[2] = dx, seg_[3] = dy, seg_[4] = len;
      toward_[0] = points[2 * s + 2];
      toward_[1] = points[2 * s + 3];
      const bool running = Mark() && s != first && chain_;
      chain_ = false;
      double t0, t1;
      double v0 = len, v1 = len;
      if (VisiblePart(ax, ay, dx, dy, window_, t0, t1)) v0 = t0 * len, v1 = t1 * len;
      double pos = 0;
      if (v0 > 0) {
        if (Advance(v0) && Flush(false, false) != 0) return -1;
        pos = v0;
      }
      const double end = v1;
      while (r_ < end - pos) {
        if (Mark() && Make(pos, pos + r_, running && pos == 0) != 0) return -1;
        pos += r_;
        Next();
      }
      const double left = end - pos;
      if (Mark() && left > 0 && Make(pos, end, running && pos == 0) != 0) return -1;
      if (end < len) {
        r_ -= left;
        if (Advance(len - end) && Flush(false, false) != 0) return -1;
      } else if (r_ == left) {
        // The mark ends on the vertex: the next element starts with the next segment.
        Next();
      } else {
        r_ -= left;
        chain_ = Mark() && left > 0;
      }
    }
    return Flush(true, false);
  }

 private:
  bool Mark() const { return element_ % 2 == 0; }
  void Next() {
    element_ = (element_ + 1) % elements_;
    r_ = dashes_[element_];
  }
  // Moves the pattern on by distance without making pieces; true when a mark lay in it (the
  // pending piece is then not the last one).
  bool Advance(double distance) {
    const bool touched = distance > 0 && (Mark() || distance > r_);
    anyMark_ = anyMark_ || touched;
    if (distance > 0) chain_ = false;
    if (distance < r_) {
      r_ -= distance;
      return touched;
    }
    distance -= r_;
    Next();
    if (distance > 2 * period_) distance = std::fmod(distance, period_);
    while (distance >= r_) {
      distance -= r_;
      Next();
    }
    r_ -= distance;
    return touched;
  }
  int32_t Point(double at, int32_t *out) const {
    const double f = at / seg_[4];
    out[0] = TruncateToInt32(seg_[0] + f * seg_[2]);
    out[1] = TruncateToInt32(seg_[1] + f * seg_[3]);
    return 0;
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
  Eevg_DeviceColor colour_;
  int32_t width_;
  bool wide_, closed_;
  const double *dashes_;
  int32_t elements_;
  double period_;
  double window_[4];
  Eerr_ErrorReport **err_ = nullptr;
  int32_t element_ = 0;
  double r_ = 0;
  bool chain_ = false;   // the last piece ran to its segment's end with its mark still running
  bool anyMark_ = false; // a piece was made (or a mark passed unseen) before
  double seg_[5] = {};
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
          for (int32_t s = first; s < last; ++s) {
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
        DashWalk walk(drawing, colour, width, wide, closed, drawing->lineDashWork, elements,
                      period);
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
