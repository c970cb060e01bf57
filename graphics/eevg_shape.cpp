// The shape calls: points, polylines, polygons, ellipses and elliptical arcs, each offered to the
// device's own callbacks first and otherwise converted into the drawing's point buffer and handed
// to the scan filler, the line driver and the curve flattener.
#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <cstdint>
#include <cstring>
#include <numbers>

#include "eevg.h"
#include "eevg_internal.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;
namespace gfx = taviron::graphics;

namespace {

using gfx::kBadLineCoords;
using gfx::kNullDrawing;
using gfx::kNullLineCoords;
using gfx::kNullLineStyle;
constexpr const char *kBadLineStyle = "Invalid Eevg eevg_PolyLine Line Style";
constexpr const char *kNoPointBuffer = "Unable to allocate drawing point buffer";
constexpr const char *kNoColourSave = "Unable to allocate the array saving the line colours";

// ---------------------------------------------------------------------------------------------
// Coordinate blocks

using PartView = gfx::ShapePartView;
constexpr auto ViewPart = gfx::ShapeViewPart;

bool LineStyleValid(const Eevg_LineStyle *style) {
  return style->composition.count >= 0 &&
         (style->composition.count == 0 || style->composition.data) &&
         style->pattern.count >= 0 && (style->pattern.count == 0 || style->pattern.data);
}

// A fill style that outlines needs a valid trace style. (One that fills without a pattern fills
// in the colour the drawing holds for its first line.)
bool FillStyleValid(const Eevg_FillStyle *style) {
  if (style->trace == 1 && (!style->traceStyle || !LineStyleValid(style->traceStyle)))
    return false;
  return true;
}

} // namespace

bool gfx::CheckLineCall(const Eevg_Drawing *drawing, const Eevg_LineStyle *lineStyle,
                        bool withBlock, const Efga_CoordinateBlock *block, const char *reporter,
                        int32_t firstCode, Eerr_ErrorReport **err) {
  const char *message = nullptr;
  int32_t code = firstCode;
  if (!drawing) {
    message = kNullDrawing;
  } else if (!lineStyle || !LineStyleValid(lineStyle)) {
    code = firstCode + 1;
    message = lineStyle ? kBadLineStyle : kNullLineStyle;
  } else if (withBlock && (!block || !ShapeBlockValid(block))) {
    code = firstCode + 2;
    message = block ? kBadLineCoords : kNullLineCoords;
  }
  if (!message) return true;
  lower::Report(err, reporter, code, "%s", message);
  return false;
}

namespace {

// The checks the filled shapes share: the drawing (1), the fill style (2) and where the shape
// lies (3), the shape's name in the messages. False after a report.
bool CheckFillShape(const Eevg_Drawing *drawing, const Eevg_FillStyle *fillStyle,
                    const void *position, const char *reporter, const char *shape,
                    Eerr_ErrorReport **err) {
  if (!drawing) {
    lower::Report(err, reporter, 1, kNullDrawing);
    return false;
  }
  if (!fillStyle) {
    lower::Report(err, reporter, 2, "NULL Eevg %s Fill Style Pointer", shape);
    return false;
  }
  if (!FillStyleValid(fillStyle)) {
    lower::Report(err, reporter, 2, "Invalid Eevg %s Fill Style", shape);
    return false;
  }
  if (!position) {
    lower::Report(err, reporter, 3, "NULL Eevg %s Coordinate List Pointer", shape);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Conversion into the point buffer

// How world (or pre-transformed) coordinates become sub-pixels.
struct Conversion {
  bool preTransformed = false;
  bool nearest = false; // halves away from zero; else truncated toward zero
  double scaleX = 1, scaleY = 1, offsetX = 0, offsetY = 0;
  // Cells of the thinning (0: every point kept).
  int64_t cellX = 0, cellY = 0;
  // The guard rectangle in sub-pixels.
  long double xMin = 0, yMin = 0, xMax = 0, yMax = 0;

  Conversion(const Eevg_Drawing *drawing, bool preTransformed_, bool nearest_)
      : preTransformed(preTransformed_), nearest(nearest_), scaleX(drawing->scaleX),
        scaleY(drawing->scaleY), offsetX(drawing->offsetX), offsetY(drawing->offsetY) {
    const int64_t band = gfx::kShapeGuardBand, limit = gfx::kShapeSafeLimit;
    xMin = static_cast<long double>(std::max<int64_t>(drawing->subClipXMin - band, -limit));
    yMin = static_cast<long double>(std::max<int64_t>(drawing->subClipYMin - band, -limit));
    xMax = static_cast<long double>(std::min<int64_t>(drawing->subClipXMax + band, limit));
    yMax = static_cast<long double>(std::min<int64_t>(drawing->subClipYMax + band, limit));
  }
  // The sub-pixel position in extended precision (no overflow for any finite input).
  void Wide(double x, double y, long double &X, long double &Y) const {
    if (preTransformed) {
      X = x;
      Y = y;
    } else {
      X = (static_cast<long double>(x) * scaleX + offsetX) * 8;
      Y = (static_cast<long double>(y) * scaleY + offsetY) * 8;
    }
  }
  bool Inside(long double X, long double Y) const {
    return X >= xMin && X <= xMax && Y >= yMin && Y <= yMax;
  }
  // The exact conversion of a point inside the guard rectangle.
  void Exact(double x, double y, int32_t &X, int32_t &Y) const {
    double fx = x, fy = y;
    if (!preTransformed) {
      fx = (x * scaleX + offsetX) * 8;
      fy = (y * scaleY + offsetY) * 8;
    }
    X = Round(fx);
    Y = Round(fy);
  }
  int32_t Round(double v) const {
    return gfx::TruncateToInt32(nearest && !preTransformed ? std::round(v) : std::trunc(v));
  }
};

// Appends parts and points to the drawing's buffer, thinning by cells when asked.
class PointSink {
 public:
  PointSink(Eevg_Drawing *drawing, const Conversion &conv) : d_(drawing), conv_(conv) {
    d_->pointCount = 0;
    d_->polygonCount = 0;
    d_->polygonStarts[0] = 0;
  }
  // Starts a part; phase is the distance along its line from where the line really starts.
  bool Begin(long double phase = 0) {
    if (!gfx::ReservePoints(d_, d_->pointCount, d_->polygonCount + 1)) return false;
    // Phases are kept only once some part has one; parts past the array's end start at 0.
    const double start = std::isfinite(phase) ? static_cast<double>(phase) : 0.0;
    if (start != 0 && d_->polygonCount >= d_->partPhaseCapacity) {
      const int64_t grown = std::max<int64_t>(d_->polygonStartCapacity, d_->polygonCount + 1);
      void *block = emsc_HeapRealloc(d_->partPhases, static_cast<std::size_t>(grown) * sizeof(double));
      if (!block) return false;
      d_->partPhases = static_cast<double *>(block);
      d_->partPhaseCapacity = static_cast<int32_t>(grown);
    }
    if (d_->polygonCount < d_->partPhaseCapacity) d_->partPhases[d_->polygonCount] = start;
    d_->polygonStarts[d_->polygonCount] = d_->pointCount;
    open_ = true;
    return true;
  }
  bool Add(int32_t x, int32_t y) {
    const bool first = d_->pointCount == d_->polygonStarts[d_->polygonCount];
    if (conv_.cellX != 0 && conv_.cellY != 0) {
      const int64_t cx = static_cast<int64_t>(x) / conv_.cellX;
      const int64_t cy = static_cast<int64_t>(y) / conv_.cellY;
      if (!first && cx == lastCellX_ && cy == lastCellY_) return true;
      lastCellX_ = cx;
      lastCellY_ = cy;
    }
    if (d_->pointCount >= d_->pointCapacity &&
        !gfx::ReservePoints(d_, d_->pointCount + 1, d_->polygonCount + 1))
      return false;
    d_->points[2 * static_cast<std::ptrdiff_t>(d_->pointCount)] = x;
    d_->points[2 * static_cast<std::ptrdiff_t>(d_->pointCount) + 1] = y;
    ++d_->pointCount;
    return true;
  }
  bool AddWide(long double X, long double Y) {
    return Add(conv_.Round(static_cast<double>(X)), conv_.Round(static_cast<double>(Y)));
  }
  // Ends the part; close appends its first point (rings), dropEmpty forgets a part of < 2 points.
  bool End(bool close, bool dropEmpty = false) {
    if (!open_) return true;
    open_ = false;
    const int32_t first = d_->polygonStarts[d_->polygonCount];
    if (dropEmpty && d_->pointCount - first < 2) {
      d_->pointCount = first;
      return true;
    }
    if (close && d_->pointCount > first) {
      const int32_t x = d_->points[2 * static_cast<std::ptrdiff_t>(first)];
      const int32_t y = d_->points[2 * static_cast<std::ptrdiff_t>(first) + 1];
      if (d_->pointCount >= d_->pointCapacity &&
          !gfx::ReservePoints(d_, d_->pointCount + 1, d_->polygonCount + 1))
        return false;
      d_->points[2 * static_cast<std::ptrdiff_t>(d_->pointCount)] = x;
      d_->points[2 * static_cast<std::ptrdiff_t>(d_->pointCount) + 1] = y;
      ++d_->pointCount;
    }
    ++d_->polygonCount;
    d_->polygonStarts[d_->polygonCount] = d_->pointCount;
    return true;
  }
  bool IsOpen() const { return open_; }
  // The last point of the open part, when it has one.
  bool Last(int32_t &x, int32_t &y) const {
    if (!open_ || d_->pointCount == d_->polygonStarts[d_->polygonCount]) return false;
    x = d_->points[2 * static_cast<std::ptrdiff_t>(d_->pointCount) - 2];
    y = d_->points[2 * static_cast<std::ptrdiff_t>(d_->pointCount) - 1];
    return true;
  }

 private:
  Eevg_Drawing *d_;
  const Conversion &conv_;
  bool open_ = false;
  int64_t lastCellX_ = 0, lastCellY_ = 0;
};

struct WidePoint {
  long double x, y;
};

// Liang-Barsky: the parameters t0 <= t1 of the piece of a -> b inside the rectangle.
bool ClipSegment(const WidePoint &a, const WidePoint &b, const Conversion &c, long double &t0,
                 long double &t1) {
  t0 = 0;
  t1 = 1;
  const long double dx = b.x - a.x, dy = b.y - a.y;
  const long double p[4] = {-dx, dx, -dy, dy};
  const long double q[4] = {a.x - c.xMin, c.xMax - a.x, a.y - c.yMin, c.yMax - a.y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const long double r = q[i] / p[i];
    if (p[i] < 0) {
      if (r > t1) return false;
      t0 = std::max(t0, r);
    } else {
      if (r < t0) return false;
      t1 = std::min(t1, r);
    }
  }
  return true;
}

// A point source of the clipping: src.Wide(j, X, Y) gives point j in extended precision and
// src.Exact(j, x, y) the exact conversion of a point inside the guard rectangle.
struct BlockPart {
  const PartView &view;
  const Conversion &conv;
  void Wide(int32_t j, long double &X, long double &Y) const {
    conv.Wide(view.X(j), view.Y(j), X, Y);
  }
  void Exact(int32_t j, int32_t &x, int32_t &y) const { conv.Exact(view.X(j), view.Y(j), x, y); }
};

// One polyline cut where it leaves the guard rectangle; points that are no numbers (or infinite)
// are dropped. With closed it walks back to its first point and is closed here, starting at a
// point outside the rectangle when it has one.
template <typename Source>
bool ClipPart(const Source &src, int32_t n, bool closed, const Conversion &conv,
              PointSink &sink) {
  // The usable points, counted, and the first outside one.
  int32_t valid = 0, start = -1;
  for (int32_t j = 0; j < n; ++j) {
    long double X, Y;
    src.Wide(j, X, Y);
    if (!std::isfinite(X) || !std::isfinite(Y)) continue;
    ++valid;
    if (start < 0 && !conv.Inside(X, Y)) start = j;
  }
  if (valid == 0) return true;
  if (valid == 1 || start < 0) {
    // Wholly inside: the part as it is (closed by its first point).
    if (!sink.Begin()) return false;
    int32_t first = -1;
    for (int32_t j = 0; j < n; ++j) {
      long double X, Y;
      src.Wide(j, X, Y);
      if (!std::isfinite(X) || !std::isfinite(Y) || !conv.Inside(X, Y)) continue;
      if (first < 0) first = j;
      int32_t x, y;
      src.Exact(j, x, y);
      if (!sink.Add(x, y)) return false;
    }
    if (closed && first >= 0 && valid > 1) {
      int32_t fx, fy, lx, ly;
      src.Exact(first, fx, fy);
      if (sink.Last(lx, ly) && (lx != fx || ly != fy) && !sink.Add(fx, fy)) return false;
    }
    return sink.End(false);
  }
  const int32_t from = closed ? start : 0;
  const int32_t steps = closed ? n + 1 : n;
  // How far along the line the walk is (a ring's line starts at its first usable point), so that
  // each part keeps the dash phase of the line it was cut from.
  long double along = 0;
  int32_t origin = -1;
  if (closed) {
    WidePoint last{};
    for (int32_t j = 0; j <= start; ++j) {
      WidePoint p;
      src.Wide(j, p.x, p.y);
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
      if (origin >= 0) along += std::hypot(p.x - last.x, p.y - last.y);
      if (origin < 0) origin = j;
      last = p;
    }
  }
  bool havePrevious = false;
  WidePoint previous{};
  for (int32_t k = 0; k < steps; ++k) {
    WidePoint current;
    const int32_t index = (from + k) % n;
    src.Wide(index, current.x, current.y);
    if (!std::isfinite(current.x) || !std::isfinite(current.y)) continue;
    if (!havePrevious) {
      previous = current;
      havePrevious = true;
      continue;
    }
    const long double dx = current.x - previous.x, dy = current.y - previous.y;
    const long double length = std::hypot(dx, dy);
    long double t0, t1;
    if (!ClipSegment(previous, current, conv, t0, t1)) {
      if (!sink.End(false, true)) return false;
    } else {
      if (t0 > 0 || !sink.IsOpen()) {
        if (!sink.End(false, true) || !sink.Begin(along + t0 * length)) return false;
        if (!sink.AddWide(previous.x + t0 * dx, previous.y + t0 * dy)) return false;
      }
      const bool whole = t1 >= 1;
      if (!sink.AddWide(whole ? current.x : previous.x + t1 * dx,
                        whole ? current.y : previous.y + t1 * dy))
        return false;
      if (!whole && !sink.End(false, true)) return false;
    }
    // Back at a ring's first point, its line starts again.
    along = index == origin ? 0 : along + length;
    previous = current;
  }
  return sink.End(false, true);
}

bool ClipPolyLine(const Efga_CoordinateBlock *block, bool closed, const Conversion &conv,
                  PointSink &sink) {
  for (int32_t p = 0; p < block->count; ++p) {
    PartView view;
    ViewPart(block->parts[p], view);
    if (!ClipPart(BlockPart{view, conv}, view.n, closed, conv, sink)) return false;
  }
  return true;
}

// Sutherland-Hodgman against the four sides of the guard rectangle, as a pipeline: each stage
// passes the points of its side on to the next, the last one to the sink.
class RingClipper {
 public:
  RingClipper(const Conversion &conv, PointSink &sink) : conv_(conv), sink_(sink) {}
  bool Point(const WidePoint &p) { return Feed(0, p); }
  // Closes every stage's ring in turn.
  bool Finish() {
    for (int s = 0; s < 4; ++s) {
      Stage &st = stages_[s];
      if (st.have && Inside(s, st.first) != Inside(s, st.previous) &&
          !Emit(s + 1, Cross(s, st.previous, st.first)))
        return false;
      st.have = false;
    }
    return true;
  }

 private:
  struct Stage {
    bool have = false;
    WidePoint first{}, previous{};
  };
  bool Inside(int s, const WidePoint &p) const {
    switch (s) {
    case 0: return p.x >= conv_.xMin;
    case 1: return p.x <= conv_.xMax;
    case 2: return p.y >= conv_.yMin;
    default: return p.y <= conv_.yMax;
    }
  }
  WidePoint Cross(int s, const WidePoint &a, const WidePoint &b) const {
    if (s < 2) {
      const long double edge = s == 0 ? conv_.xMin : conv_.xMax;
      const long double t = (edge - a.x) / (b.x - a.x);
      return {edge, a.y + t * (b.y - a.y)};
    }
    const long double edge = s == 2 ? conv_.yMin : conv_.yMax;
    const long double t = (edge - a.y) / (b.y - a.y);
    return {a.x + t * (b.x - a.x), edge};
  }
  bool Emit(int s, const WidePoint &p) {
    if (s == 4) return sink_.AddWide(p.x, p.y);
    return Feed(s, p);
  }
  bool Feed(int s, const WidePoint &p) {
    Stage &st = stages_[s];
    if (!st.have) {
      st.have = true;
      st.first = st.previous = p;
      return !Inside(s, p) || Emit(s + 1, p);
    }
    const bool in = Inside(s, p);
    if (in != Inside(s, st.previous) && !Emit(s + 1, Cross(s, st.previous, p))) return false;
    st.previous = p;
    return !in || Emit(s + 1, p);
  }

  const Conversion &conv_;
  PointSink &sink_;
  Stage stages_[4];
};

// Converts the block into the drawing's buffer. Lines keep their parts (closed only by the
// caller); rings are closed by their first point. When some point lies outside the guard
// rectangle (or is no number) the shape is clipped there first, and for lines *closedOut is set
// to 0 with the parts already closed (else it is left alone). False when memory runs out.
bool LoadBlock(Eevg_Drawing *drawing, const Efga_CoordinateBlock *block, bool rings, bool closed,
               const Conversion &conv, int32_t *closedOut) {
  int64_t total = 0;
  bool exact = true;
  for (int32_t p = 0; p < block->count; ++p) {
    PartView view;
    ViewPart(block->parts[p], view);
    total += view.n;
    for (int32_t j = 0; exact && j < view.n; ++j) {
      long double X, Y;
      conv.Wide(view.X(j), view.Y(j), X, Y);
      exact = std::isfinite(X) && std::isfinite(Y) && conv.Inside(X, Y);
    }
  }
  const int32_t parts = block->count;
  if (!gfx::ReservePoints(drawing,
                          static_cast<int32_t>(total + (rings ? parts : 0)), parts))
    return false;
  PointSink sink(drawing, conv);
  if (exact) {
    for (int32_t p = 0; p < parts; ++p) {
      PartView view;
      ViewPart(block->parts[p], view);
      if (!sink.Begin()) return false;
      for (int32_t j = 0; j < view.n; ++j) {
        int32_t x, y;
        conv.Exact(view.X(j), view.Y(j), x, y);
        if (!sink.Add(x, y)) return false;
      }
      if (!sink.End(rings)) return false;
    }
    return true;
  }
  if (!rings) {
    if (closedOut) *closedOut = 0;
    return ClipPolyLine(block, closed, conv, sink);
  }
  for (int32_t p = 0; p < parts; ++p) {
    PartView view;
    ViewPart(block->parts[p], view);
    if (!sink.Begin()) return false;
    RingClipper clipper(conv, sink);
    for (int32_t j = 0; j < view.n; ++j) {
      WidePoint w;
      conv.Wide(view.X(j), view.Y(j), w.x, w.y);
      if (!std::isfinite(w.x) || !std::isfinite(w.y)) continue;
      if (!clipper.Point(w)) return false;
    }
    if (!clipper.Finish() || !sink.End(true)) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// The device callbacks

bool Translucent(const Eevg_Color *color) { return color && !eevg_TestOpaque(color->opacity); }

bool LineTranslucent(const Eevg_Drawing *drawing, const Eevg_LineStyle *style) {
  if (drawing->overrideActive) return Translucent(&drawing->overrideColour);
  for (int32_t i = 0; i < style->composition.count; ++i)
    if (Translucent(style->composition.data[i].color)) return true;
  return false;
}

// The common rule: a translucent shape goes to the opacity variant, then (with opaqueFallback)
// to the opaque one; an opaque shape to the opaque one. ask(callback, slot) calls one and returns
// its done flag. Returns 1 when a callback drew the shape, 0 when none did, -1 when one left a
// report (in *inner); *opacityAsked tells which was asked last.
template <typename Callback, typename Ask>
int32_t Offer(const Eevg_Drawing *drawing, bool translucent, Callback opaque, Callback opacity,
              Ask &&ask, Eerr_ErrorReport **inner, bool *opacityAsked = nullptr) {
  auto call = [&](Callback callback, bool isOpacity) -> int32_t {
    if (opacityAsked) *opacityAsked = isOpacity;
    const int32_t done = ask(callback, inner);
    if (*inner) return -1;
    return done ? 1 : 0;
  };
  if (!translucent) return opaque ? call(opaque, false) : 0;
  if (opacity) {
    const int32_t status = call(opacity, true);
    if (status != 0) return status;
  }
  if (drawing->opaqueFallback && opaque) return call(opaque, false);
  return 0;
}

// While the override colour is active, a line style's colours point at it; restored when done.
class LineColourOverride {
 public:
  LineColourOverride(Eevg_Drawing *drawing, Eevg_LineStyle *style) : style_(style) {
    if (!drawing->overrideActive || style->composition.count == 0) return;
    saved_ = static_cast<Eevg_Color **>(emsc_HeapMalloc(
        static_cast<std::size_t>(style->composition.count) * sizeof(Eevg_Color *)));
    if (!saved_) {
      failed_ = true;
      return;
    }
    for (int32_t i = 0; i < style->composition.count; ++i) {
      saved_[i] = style->composition.data[i].color;
      style->composition.data[i].color = &drawing->overrideColour;
    }
  }
  ~LineColourOverride() {
    if (!saved_) return;
    for (int32_t i = 0; i < style_->composition.count; ++i)
      style_->composition.data[i].color = saved_[i];
    emsc_HeapFree(saved_);
  }
  bool Failed() const { return failed_; }

 private:
  Eevg_LineStyle *style_;
  Eevg_Color **saved_ = nullptr;
  bool failed_ = false;
};

// Asks the drawPolyLine / drawPolygon callback with the caller's block: 1 done, 0 declined, -1
// report in *inner.
template <typename Callback, typename Style>
int32_t AskWhole(Eevg_Drawing *drawing, Callback callback, Style *style,
                 Efga_CoordinateBlock *block, Eerr_ErrorReport **inner) {
  if (!callback) return 0;
  const int32_t done = callback(drawing->grIOInfo->userData, style, block, inner);
  if (*inner) return -1;
  return done ? 1 : 0;
}

// The current line ends from a line style (polylines, polygon outlines).
void LineEndsFrom(Eevg_Drawing *drawing, const Eevg_LineStyle *style, int32_t apply) {
  drawing->startLineEnd = style->startLineEnd;
  drawing->endLineEnd = style->endLineEnd;
  drawing->markEnd = style->markEnd;
  drawing->lineJoin = style->lineJoin;
  drawing->arrowEnd = style->arrowEnd;
  drawing->applyLineEnds = apply;
}

// Butt ends and join, the given mark end, no arrow: ellipses and arcs without a trace.
void ButtLineEnds(Eevg_Drawing *drawing, int32_t markEnd) {
  drawing->startLineEnd = EEVG_BUTT_END;
  drawing->endLineEnd = EEVG_BUTT_END;
  drawing->markEnd = markEnd;
  drawing->lineJoin = EEVG_BUTT_JOIN;
  drawing->arrowEnd = nullptr;
  drawing->applyLineEnds = 0;
}

Eevg_DeviceColor DeviceColour(const Eevg_Color &c) {
  return {c.red, c.green, c.blue, c.index, c.opacity};
}

// The scan filler over the whole point buffer with the fill pattern (its colour into lineColours
// slot 0); the pattern is the drawing's fillPattern for the fill only.
int32_t FillBuffer(Eevg_Drawing *drawing, Eevg_FillPattern *pattern, Eerr_ErrorReport **err) {
  if (pattern && pattern->color) drawing->lineColours[0] = DeviceColour(*pattern->color);
  drawing->fillPattern = pattern;
  const Eevg_DeviceColor colour =
      drawing->overrideActive ? drawing->overrideDeviceColour : drawing->lineColours[0];
  const int32_t status = gfx::eevg_LOFiller(drawing, drawing->polygonCount,
                                            drawing->polygonStarts, drawing->points, colour, err);
  drawing->fillPattern = nullptr;
  return status;
}

// Grows one work array of the drawing to hold `count` entries of `size` bytes, keeping its
// contents; false when memory runs out.
template <typename T> bool GrowArray(T *&array, int32_t count, std::size_t size) {
  void *grown = emsc_HeapRealloc(array, static_cast<std::size_t>(count) * size);
  if (!grown) return false;
  array = static_cast<T *>(grown);
  return true;
}

// The line-width unit applied to a length (pixels, as a double); 0 for an unknown unit.
double LineUnits(const Eevg_Drawing *drawing, double value) {
  switch (drawing->lineWidthUnit & 0xffff) {
  case 1: return value;
  case 2: return drawing->deviceWidth * value / 1000.0;
  case 3: return drawing->scaleX * value;
  default: return 0;
  }
}

// Prepares the drawing's dash, width and colour arrays from the style; false when memory runs
// out.
bool PrepareLineState(Eevg_Drawing *drawing, const Eevg_LineStyle *style) {
  const int32_t dashes = style->pattern.count;
  if (dashes > drawing->dashCapacity) {
    if (dashes > INT32_MAX / 16 || !GrowArray(drawing->dashes, dashes, 2 * sizeof(double)) ||
        !GrowArray(drawing->subDashes, dashes, 2 * sizeof(int32_t)))
      return false;
    drawing->dashCapacity = dashes;
  }
  const int32_t lines = style->composition.count;
  if (lines > drawing->widthCapacity) {
    if (lines > INT32_MAX / 16 || !GrowArray(drawing->widths, lines, sizeof(double)) ||
        !GrowArray(drawing->subWidths, lines, sizeof(int32_t)) ||
        !GrowArray(drawing->drawWidths, lines, sizeof(int32_t)))
      return false;
    drawing->widthCapacity = lines;
  }
  if (lines > drawing->lineColourCapacity) {
    if (!GrowArray(drawing->lineColours, lines, sizeof(Eevg_DeviceColor))) return false;
    drawing->lineColourCapacity = lines;
  }
  for (int32_t i = 0; i < dashes; ++i) {
    const Eevg_LinePatternSegment &s = style->pattern.data[i];
    drawing->dashes[2 * i] = LineUnits(drawing, s.lineMark);
    drawing->dashes[2 * i + 1] = LineUnits(drawing, s.lineSpace);
    drawing->subDashes[2 * i] = eevg_LineUnitsToPixels(drawing, s.lineMark);
    drawing->subDashes[2 * i + 1] = eevg_LineUnitsToPixels(drawing, s.lineSpace);
  }
  drawing->dashCount = dashes;
  for (int32_t i = 0; i < lines; ++i) {
    const Eevg_LineDescription &line = style->composition.data[i];
    drawing->widths[i] = LineUnits(drawing, line.width);
    drawing->subWidths[i] = gfx::ShapeLineWidth(eevg_LineUnitsToPixels(drawing, line.width),
                                                drawing->antiAlias, &drawing->drawWidths[i]);
    drawing->lineColours[i] =
        line.color ? DeviceColour(*line.color) : Eevg_DeviceColor{0, 0, 0, 0, 255};
  }
  drawing->widthCount = lines;
  drawing->lineColourCount = lines;
  return true;
}

// The centre and semi-axes of an ellipse in sub-pixels; false when any of it is no number or the
// ellipse lies wholly outside the guard rectangle (nothing to draw). *far tells whether it reaches
// past the rectangle.
bool EllipseGeometry(const Eevg_Drawing *drawing, const Eevg_Coord *centre, double semiAxisX,
                     double semiAxisY, double rotation, double &cx, double &cy, double &rx,
                     double &ry, bool *far = nullptr) {
  cx = (centre->x * drawing->scaleX + drawing->offsetX) * 8;
  cy = (centre->y * drawing->scaleY + drawing->offsetY) * 8;
  rx = semiAxisX * 8 * drawing->scaleX;
  ry = semiAxisY * 8 * drawing->scaleY;
  if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(rx) || !std::isfinite(ry) ||
      !std::isfinite(rotation))
    return false;
  const Conversion guard(drawing, false, false);
  const long double r = std::max(std::fabs(rx), std::fabs(ry));
  if (far)
    *far = cx - r < guard.xMin || cx + r > guard.xMax || cy - r < guard.yMin ||
           cy + r > guard.yMax;
  return cx + r >= guard.xMin && cx - r <= guard.xMax && cy + r >= guard.yMin &&
         cy - r <= guard.yMax;
}

// The ellipse builder works in the drawing's device frame. A world mirrored on one axis mirrors
// the ellipse there: it turns the other way, and an arc's angles are mirrored (from start to end
// becomes from the mirror of end to the mirror of start); mirrored on both axes it is turned by a
// half turn. The semi-axes in sub-pixels (rx, ry) keep only the caller's own signs, and two
// negative ones (which the builder takes for a point) trace the same ellipse made positive and
// turned by a half turn. Returns the rotation to build with; the angles are mended when given.
double MirroredWorld(const Eevg_Drawing *drawing, double &rx, double &ry, double rotation,
                     double *startAngle, double *endAngle) {
  const bool mirrorX = drawing->scaleX < 0, mirrorY = drawing->scaleY < 0;
  if (mirrorX) rx = -rx;
  if (mirrorY) ry = -ry;
  bool halfTurn = mirrorX && mirrorY;
  if (rx < 0 && ry < 0) {
    rx = -rx;
    ry = -ry;
    halfTurn = !halfTurn;
  }
  if (startAngle && endAngle) {
    const double start = *startAngle, end = *endAngle;
    if (mirrorX != mirrorY) {
      *startAngle = (mirrorX ? std::numbers::pi : 0) - end;
      *endAngle = (mirrorX ? std::numbers::pi : 0) - start;
    }
    if (halfTurn) {
      *startAngle += std::numbers::pi;
      *endAngle += std::numbers::pi;
    }
  }
  return mirrorX != mirrorY ? -rotation : rotation;
}

// An ellipse reaching past the guard rectangle, flattened in extended precision: only the pieces
// whose control points come near the rectangle are subdivided, the others stay chords (which lie
// outside it as well).
class FarEllipse {
 public:
  explicit FarEllipse(const Conversion &conv) : conv_(conv) {}
  ~FarEllipse() { emsc_HeapFree(points_); }
  FarEllipse(const FarEllipse &) = delete;
  FarEllipse &operator=(const FarEllipse &) = delete;

  // The four quarters of the ellipse of centre (cx, cy) and semi-axes rx, ry turned by rotation.
  bool Build(double cx, double cy, double rx, double ry, double rotation) {
    static constexpr long double k = 0.5522848L;
    static constexpr long double unit[12][2] = {{1, 0},  {1, k},   {k, 1},   {0, 1},
                                                {-k, 1}, {-1, k},  {-1, 0},  {-1, -k},
                                                {-k, -1}, {0, -1}, {k, -1},  {1, -k}};
    const long double c = std::cos(static_cast<long double>(rotation));
    const long double s = std::sin(static_cast<long double>(rotation));
    auto place = [&](int i) {
      const long double ux = unit[i % 12][0] * rx, uy = unit[i % 12][1] * ry;
      return WidePoint{cx + ux * c - uy * s, cy + uy * c + ux * s};
    };
    count_ = 0;
    if (!Push(place(0))) return false;
    for (int q = 0; q < 4; ++q) {
      const WidePoint cubic[4] = {place(3 * q), place(3 * q + 1), place(3 * q + 2),
                                  place(3 * q + 3)};
      if (!Flatten(cubic, 0)) return false;
    }
    return true;
  }
  // The ring clipped to the rectangle, as the one part of the buffer (for the fill).
  bool LoadRing(Eevg_Drawing *drawing) const {
    Conversion truncating = conv_;
    truncating.nearest = false;
    PointSink sink(drawing, truncating);
    RingClipper clipper(truncating, sink);
    if (!sink.Begin()) return false;
    for (int32_t i = 0; i < count_; ++i)
      if (!clipper.Point(points_[i])) return false;
    return clipper.Finish() && sink.End(true);
  }
  // The outline cut where it leaves the rectangle (closed by its own last point).
  bool LoadLine(Eevg_Drawing *drawing) const {
    PointSink sink(drawing, conv_);
    return ClipPart(*this, count_, false, conv_, sink);
  }
  // The point source of ClipPart.
  void Wide(int32_t j, long double &X, long double &Y) const {
    X = points_[j].x;
    Y = points_[j].y;
  }
  void Exact(int32_t j, int32_t &x, int32_t &y) const {
    x = conv_.Round(static_cast<double>(points_[j].x));
    y = conv_.Round(static_cast<double>(points_[j].y));
  }

 private:
  bool Push(const WidePoint &p) {
    if (count_ == capacity_) {
      const int64_t grown = capacity_ ? 2 * static_cast<int64_t>(capacity_) : 256;
      if (grown > INT32_MAX / 64) return false;
      void *block = emsc_HeapRealloc(points_, static_cast<std::size_t>(grown) * sizeof(WidePoint));
      if (!block) return false;
      points_ = static_cast<WidePoint *>(block);
      capacity_ = static_cast<int32_t>(grown);
    }
    points_[count_++] = p;
    return true;
  }
  // Within two sub-pixels of the chord.
  static bool Flat(const WidePoint *c) {
    const long double dx = c[3].x - c[0].x, dy = c[3].y - c[0].y;
    const long double length = std::hypot(dx, dy);
    for (int i = 1; i < 3; ++i) {
      const long double ex = c[i].x - c[0].x, ey = c[i].y - c[0].y;
      const long double off = length > 0 ? std::fabs(ex * dy - ey * dx) / length : std::hypot(ex, ey);
      if (!(off <= 2)) return false;
    }
    return true;
  }
  bool Flatten(const WidePoint *c, int depth) {
    long double xMin = c[0].x, xMax = c[0].x, yMin = c[0].y, yMax = c[0].y;
    for (int i = 1; i < 4; ++i) {
      xMin = std::min(xMin, c[i].x);
      xMax = std::max(xMax, c[i].x);
      yMin = std::min(yMin, c[i].y);
      yMax = std::max(yMax, c[i].y);
    }
    const bool away = xMax < conv_.xMin || xMin > conv_.xMax || yMax < conv_.yMin || yMin > conv_.yMax;
    if (away || depth >= 60 || Flat(c)) return Push(c[3]);
    auto mid = [](const WidePoint &a, const WidePoint &b) {
      return WidePoint{(a.x + b.x) / 2, (a.y + b.y) / 2};
    };
    const WidePoint ab = mid(c[0], c[1]), bc = mid(c[1], c[2]), cd = mid(c[2], c[3]);
    const WidePoint abc = mid(ab, bc), bcd = mid(bc, cd), m = mid(abc, bcd);
    const WidePoint left[4] = {c[0], ab, abc, m}, right[4] = {m, bcd, cd, c[3]};
    return Flatten(left, depth + 1) && Flatten(right, depth + 1);
  }

  const Conversion &conv_;
  WidePoint *points_ = nullptr;
  int32_t count_ = 0, capacity_ = 0;
};

} // namespace

namespace taviron::graphics {

bool ShapeViewPart(const Egda_BaseData *m, ShapePartView &view) {
  if (!m || m->pixelType != EGDA_TYPE_F64 || m->elementSize != 8 || m->rows != 2 ||
      m->columns < 0)
    return false;
  view = ShapePartView{};
  view.n = m->columns;
  if (m->columns == 0) return true;
  if (!m->origin) return false;
  view.origin = m->origin;
  if (m->objectType == EGDA_MATRIX || m->objectType == EGDA_TABLE) {
    if (m->pitch < 16) return false;
    view.column = m->pitch;
    view.row = 8;
  } else if (m->objectType == EGDA_SCALAR || m->objectType == EGDA_RASTER) {
    if (static_cast<int64_t>(m->pitch) < static_cast<int64_t>(m->columns) * 8) return false;
    view.column = 8;
    view.row = m->pitch;
  } else {
    return false;
  }
  return true;
}

bool ShapeBlockValid(const Efga_CoordinateBlock *block) {
  if (block->count < 0 || (block->count > 0 && !block->parts)) return false;
  if (block->count > INT32_MAX / 8) return false;
  int64_t total = 0;
  for (int32_t p = 0; p < block->count; ++p) {
    ShapePartView view;
    if (!ShapeViewPart(block->parts[p], view)) return false;
    total += view.n + 1;
  }
  return total <= INT32_MAX / 8;
}


int32_t ShapeLineWidth(int32_t subWidth, int32_t antiAlias, int32_t *drawWidth) {
  int32_t width = subWidth;
  if (!antiAlias) {
    int64_t pixels = static_cast<int64_t>(subWidth) >> kSubPixelShift;
    if (pixels % 2 == 0) pixels += 1;
    width = static_cast<int32_t>(std::clamp<int64_t>(pixels * 8, INT32_MIN, INT32_MAX));
  }
  if (drawWidth) *drawWidth = std::max(width, antiAlias ? 1 : 8);
  return width;
}

int32_t ThinPolyLinePart(const int32_t *in, int32_t count, int32_t firstDrawWidth,
                         int64_t tolerance, int32_t closed, int32_t *out) {
  if (count <= 0) return 0;
  int32_t kept = 0;
  auto keep = [&](int32_t x, int32_t y) {
    out[2 * kept] = x;
    out[2 * kept + 1] = y;
    ++kept;
  };
  keep(in[0], in[1]);
  int64_t pdx = 0, pdy = 0;
  const bool thin = firstDrawWidth <= 8;
  for (int32_t j = 1; j + 1 < count; ++j) {
    const int32_t x = in[2 * j], y = in[2 * j + 1];
    if (thin) {
      keep(x, y);
      continue;
    }
    const int64_t dx = static_cast<int64_t>(x) - out[2 * kept - 2];
    const int64_t dy = static_cast<int64_t>(y) - out[2 * kept - 1];
    if ((dx < 0 ? -dx : dx) < tolerance && (dy < 0 ? -dy : dy) < tolerance) continue;
    if (kept >= 2 && static_cast<__int128>(dy) * pdx == static_cast<__int128>(dx) * pdy) {
      out[2 * kept - 2] = x;
      out[2 * kept - 1] = y;
    } else {
      keep(x, y);
    }
    pdx = dx;
    pdy = dy;
  }
  if (count > 1) keep(in[2 * count - 2], in[2 * count - 1]);
  if (closed && (out[2 * kept - 2] != in[0] || out[2 * kept - 1] != in[1])) keep(in[0], in[1]);
  return kept;
}

} // namespace taviron::graphics

namespace {

// While it lives, the line driver reads the dash phases of the parts just loaded into the point
// buffer (lines cut at the guard band go on in phase).
class OfferedPhases {
 public:
  // offered: the buffer was loaded through a PointSink (which sets a phase for every part).
  OfferedPhases(Eevg_Drawing *drawing, bool offered) : d_(drawing) {
    d_->partPhaseCount = offered ? std::min(d_->polygonCount, d_->partPhaseCapacity) : 0;
  }
  ~OfferedPhases() { d_->partPhaseCount = 0; }
  OfferedPhases(const OfferedPhases &) = delete;
  OfferedPhases &operator=(const OfferedPhases &) = delete;

 private:
  Eevg_Drawing *d_;
};

// The polyline paths: world coordinates (preTransformed false) or pre-transformed ones.
int32_t DrawPolyLineBlock(const char *reporter, Eevg_Drawing *drawing, Eevg_LineStyle *lineStyle,
                          int32_t closed, Efga_CoordinateBlock *block, bool preTransformed,
                          Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!gfx::CheckLineCall(drawing, lineStyle, true, block, reporter, 1, err)) return -1;
  drawing->shapeState = 0;
  Eerr_ErrorReport *inner = nullptr;
  const int32_t whole = AskWhole(drawing, drawing->grIOInfo->drawPolyLine, lineStyle, block, &inner);
  if (whole < 0) {
    lower::ReportChained(err, inner, reporter, 6, "Error in device drawPolyLine function");
    return -1;
  }
  if (whole > 0) return 0;

  LineEndsFrom(drawing, lineStyle, 1);
  drawing->polylineState = 0;
  Conversion conv(drawing, preTransformed, true);
  if (preTransformed) {
    const bool pixelCells = drawing->usingWorldTransform == 1;
    conv.cellX = pixelCells ? drawing->pixelSizeX : 1;
    conv.cellY = pixelCells ? drawing->pixelSizeY : 1;
  }
  // Parts cut by the guard band come back closed already, with the flag cleared.
  int32_t lineClosed = closed;
  if (!LoadBlock(drawing, block, false, closed != 0, conv, &lineClosed)) {
    lower::Report(err, reporter, 7, kNoPointBuffer);
    return -1;
  }
  int32_t status;
  {
    const OfferedPhases phases(drawing, true);
    status = eevg_DrawPolyLineLO(drawing, lineStyle, lineClosed, &inner);
  }
  if (status != 0) {
    lower::ReportChained(err, inner, reporter, 4, "Unable to draw polyline");
    return -1;
  }
  if (eevg_DrawPolyLineSymbol(drawing, lineStyle, block, closed, &inner) != 0) {
    lower::ReportChained(err, inner, reporter, 5, "Unable to draw symbol along polyline");
    return -1;
  }
  return 0;
}

} // namespace

extern "C" {

double *eevg_VectorAdd(double *out, const double *a, const double *b) try {
  const double x = a[0] + b[0], y = a[1] + b[1];
  out[0] = x;
  out[1] = y;
  return out;
} TAVIRON_GUARD_QUIET(nullptr)

double *eevg_VectorSubtract(double *out, const double *a, const double *b) try {
  const double x = a[0] - b[0], y = a[1] - b[1];
  out[0] = x;
  out[1] = y;
  return out;
} TAVIRON_GUARD_QUIET(nullptr)

double *eevg_VectorScale(double *out, const double *v, double s) try {
  out[0] = v[0] * s;
  out[1] = v[1] * s;
  return out;
} TAVIRON_GUARD_QUIET(nullptr)

double *eevg_VectorNormal(double *out, const double *v) try {
  const double x = -v[1], y = v[0];
  out[0] = x;
  out[1] = y;
  return out;
} TAVIRON_GUARD_QUIET(nullptr)

double *eevg_VectorUnit(double *out, const double *v) try {
  const double length = eevg_VectorMagnitude(v);
  const double x = v[0], y = v[1];
  if (length == 0) {
    out[0] = x;
    out[1] = y;
  } else {
    out[0] = x / length;
    out[1] = y / length;
  }
  return out;
} TAVIRON_GUARD_QUIET(nullptr)

double eevg_VectorMagnitude(const double *v) try { return std::hypot(v[0], v[1]); } TAVIRON_GUARD_QUIET(std::numeric_limits<double>::quiet_NaN())

double eevg_VectorDotProduct(const double *a, const double *b) try { return a[0] * b[0] + a[1] * b[1]; } TAVIRON_GUARD_QUIET(std::numeric_limits<double>::quiet_NaN())

int32_t eevg_DrawPoint(Eevg_Drawing *drawing, const Eevg_Color *color, const Eevg_Coord *location,
                       Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_DrawPoint";
  lower::Clear(err);
  if (!drawing) {
    lower::Report(err, reporter, 1, kNullDrawing);
    return -1;
  }
  if (!color) {
    lower::Report(err, reporter, 2, "NULL Eevg Color Pointer");
    return -1;
  }
  if (!location) {
    lower::Report(err, reporter, 3, "NULL Eevg Text Location Pointer");
    return -1;
  }
  Eevg_GrIOInfo *io = drawing->grIOInfo;
  if (!io->putPoint) {
    lower::Report(err, reporter, 6, "NULL Put Point function");
    return -1;
  }
  const double x = (location->x * drawing->scaleX + drawing->offsetX) * 8;
  const double y = (location->y * drawing->scaleY + drawing->offsetY) * 8;
  // A point that is no number has no place to be drawn.
  if (std::isnan(x) || std::isnan(y)) return 0;
  const int32_t point[2] = {gfx::TruncateToInt32(std::round(x)),
                            gfx::TruncateToInt32(std::round(y))};
  Eerr_ErrorReport *inner = nullptr;
  io->putPoint(io->userData, drawing->overrideActive ? &drawing->overrideColour : color, point,
               &inner);
  if (inner) {
    lower::ReportChained(err, inner, reporter, 5, "Error in Put Point function");
    return -1;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t eevg_DrawPolyLine(Eevg_Drawing *drawing, Eevg_LineStyle *lineStyle, int32_t closed,
                          Efga_CoordinateBlock *coordinateBlock, Eerr_ErrorReport **err) try {
  if (drawing && drawing->usingWorldTransform != 0)
    return eevg_DrawPolyLineFast(drawing, lineStyle, closed, coordinateBlock, err);
  return DrawPolyLineBlock("eevg_DrawPolyLine", drawing, lineStyle, closed, coordinateBlock, false,
                           err);
} TAVIRON_GUARD(err, -1)

int32_t eevg_DrawPolyLineFast(Eevg_Drawing *drawing, Eevg_LineStyle *lineStyle, int32_t closed,
                              Efga_CoordinateBlock *coordinateBlock, Eerr_ErrorReport **err) try {
  return DrawPolyLineBlock("eevg_DrawPolyLineFast", drawing, lineStyle, closed, coordinateBlock,
                           true, err);
} TAVIRON_GUARD(err, -1)

int32_t eevg_DrawPolyLineLO(Eevg_Drawing *drawing, Eevg_LineStyle *lineStyle, int32_t closed,
                            Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_DrawPolyLineLO";
  lower::Clear(err);
  if (!gfx::CheckLineCall(drawing, lineStyle, false, nullptr, reporter, 1, err)) return -1;
  if (lineStyle->displayLine != 1) return 0;
  Eevg_GrIOInfo *io = drawing->grIOInfo;
  if (io->putPolyLine || io->putPolyLineOpacity) {
    const bool translucent = LineTranslucent(drawing, lineStyle);
    LineColourOverride colours(drawing, lineStyle);
    if (colours.Failed()) {
      lower::Report(err, reporter, 4, kNoColourSave);
      return -1;
    }
    Eerr_ErrorReport *inner = nullptr;
    auto ask = [&](Eevg_PutPolyLineFunction callback, Eerr_ErrorReport **slot) {
      return callback(io->userData, lineStyle, closed, drawing->polygonCount,
                      drawing->polygonStarts, drawing->points, slot);
    };
    const int32_t status =
        Offer(drawing, translucent, io->putPolyLine, io->putPolyLineOpacity, ask, &inner);
    if (status < 0) {
      lower::ReportChained(err, inner, reporter, 3, "Error in device polyline function");
      return -1;
    }
    if (status > 0) return 0;
  }
  Eerr_ErrorReport *inner = nullptr;
  if (eevg_DrawPolyLineLineLO(drawing, lineStyle, closed, &inner) != 0) {
    lower::ReportCallee(err, inner, reporter, 2, "eevg_DrawPolyLineLineLO");
    return -1;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t eevg_DrawPolyLineLineLO(Eevg_Drawing *drawing, Eevg_LineStyle *lineStyle, int32_t closed,
                                Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_DrawPolyLineLineLO";
  lower::Clear(err);
  if (!gfx::CheckLineCall(drawing, lineStyle, false, nullptr, reporter, 1, err)) return -1;
  drawing->shapeState = 0;
  if (!PrepareLineState(drawing, lineStyle)) {
    lower::Report(err, reporter, 3, "No Memory Allocating eevg_PolyLine Line Arrays");
    return -1;
  }
  drawing->fillPattern = nullptr;
  drawing->polylineState = 0;
  int64_t tolerance = int64_t{2} << drawing->subPixelShift;
  if (drawing->usingWorldTransform != 0) tolerance *= drawing->pixelSizeX;
  const int32_t firstWidth = lineStyle->composition.count > 0 ? drawing->drawWidths[0] : 8;

  // One work array for the longest part, with room for the closing point.
  const int32_t parts = drawing->polygonCount;
  int32_t longest = 0;
  for (int32_t p = 0; p < parts; ++p)
    longest = std::max(longest, drawing->polygonStarts[p + 1] - drawing->polygonStarts[p]);
  if (longest == 0) return 0;
  auto *work = static_cast<int32_t *>(
      emsc_HeapMalloc((static_cast<std::size_t>(longest) + 1) * 2 * sizeof(int32_t)));
  if (!work) {
    lower::Report(err, reporter, 4, "No Memory Allocating eevg_PolyLine Array");
    return -1;
  }
  int32_t status = 0;
  for (int32_t p = 0; p < parts && status == 0; ++p) {
    const int32_t first = drawing->polygonStarts[p];
    const int32_t count = drawing->polygonStarts[p + 1] - first;
    const int32_t kept =
        gfx::ThinPolyLinePart(drawing->points + 2 * static_cast<std::ptrdiff_t>(first), count,
                              firstWidth, tolerance, closed, work);
    if (kept < 2) continue;
    Eerr_ErrorReport *inner = nullptr;
    drawing->dashPhase = p < drawing->partPhaseCount ? drawing->partPhases[p] : 0;
    if (gfx::eevg_WideLine(drawing, kept - 1, work, &inner) != 0) {
      lower::ReportChained(err, inner, reporter, 5, "Error return from eevg_WideLine.");
      status = -1;
    }
    drawing->dashPhase = 0;
  }
  emsc_HeapFree(work);
  return status;
} TAVIRON_GUARD(err, -1)

int32_t eevg_DrawPolygon(Eevg_Drawing *drawing, Eevg_FillStyle *fillStyle,
                         Efga_CoordinateBlock *coordinateBlock, Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_DrawPolygon";
  lower::Clear(err);
  if (!CheckFillShape(drawing, fillStyle, coordinateBlock, reporter, "eevg_Polygon", err)) return -1;
  if (!gfx::ShapeBlockValid(coordinateBlock)) {
    lower::Report(err, reporter, 3, "Invalid Eevg eevg_Polygon Coordinate List");
    return -1;
  }
  const bool preTransformed = drawing->usingWorldTransform != 0;
  drawing->shapeState = 0;
  Eerr_ErrorReport *inner = nullptr;
  const int32_t whole =
      AskWhole(drawing, drawing->grIOInfo->drawPolygon, fillStyle, coordinateBlock, &inner);
  if (whole < 0) {
    lower::ReportChained(err, inner, reporter, 7, "Error in device drawPolygon function");
    return -1;
  }
  if (whole > 0) return 0;

  if (fillStyle->fill == 1) {
    if (coordinateBlock->count < 1) {
      lower::Report(err, reporter, 4, "Invalid Number of eevg_Polygon Points");
      return -1;
    }
    Conversion conv(drawing, preTransformed, false);
    if (preTransformed) {
      // A zero cell size keeps every point.
      conv.cellX = drawing->pixelSizeX;
      conv.cellY = drawing->pixelSizeY;
    }
    if (!LoadBlock(drawing, coordinateBlock, true, false, conv, nullptr)) {
      lower::Report(err, reporter, 8, kNoPointBuffer);
      return -1;
    }
    if (FillBuffer(drawing, fillStyle->pattern, &inner) != 0) {
      lower::ReportChained(err, inner, reporter, 5, "Error Filling polygon");
      return -1;
    }
  }
  if (fillStyle->trace == 1) {
    const int32_t status =
        preTransformed
            ? eevg_DrawPolyLineFast(drawing, fillStyle->traceStyle, 1, coordinateBlock, &inner)
            : eevg_DrawPolyLine(drawing, fillStyle->traceStyle, 1, coordinateBlock, &inner);
    if (status != 0) {
      lower::ReportChained(err, inner, reporter, 6, "Error Outlining polygon");
      return -1;
    }
  }
  return 0;
} TAVIRON_GUARD(err, -1)

} // extern "C"

namespace {

// Fill and outline of a flattened ellipse or arc held in the buffer. Geometry for the callbacks:
// semi-axes in pixels, rotation, centre in continuous device pixels.
struct CurveShape {
  const char *reporter;
  bool arc;
  int32_t arcType;
  double semiX, semiY, rotation, startAngle, endAngle;
  double centre[2];
  const FarEllipse *far; // loads the buffer for the fill and for the outline
};

int32_t FillCurve(Eevg_Drawing *drawing, Eevg_FillStyle *style, const CurveShape &shape,
                  Eerr_ErrorReport **err) {
  Eevg_FillPattern *pattern = style->pattern;
  Eevg_GrIOInfo *io = drawing->grIOInfo;
  Eerr_ErrorReport *inner = nullptr;
  if (!drawing->antiAlias) {
    // Without a pattern the callbacks are given none.
    Eevg_Color *own = pattern ? pattern->color : nullptr;
    const Eevg_Color *colour = drawing->overrideActive ? &drawing->overrideColour : own;
    const bool translucent = shape.arc ? (!colour || Translucent(colour)) : Translucent(colour);
    if (drawing->overrideActive && pattern) pattern->color = &drawing->overrideColour;
    bool opacityAsked = false;
    int32_t status;
    if (shape.arc) {
      auto ask = [&](Eevg_PutArcFunction callback, Eerr_ErrorReport **slot) {
        return callback(io->userData, pattern, shape.semiX, shape.semiY, shape.rotation,
                        shape.centre, shape.startAngle, shape.endAngle, shape.arcType, slot);
      };
      status = Offer(drawing, translucent, io->putArc, io->putArcOpacity, ask, &inner,
                     &opacityAsked);
    } else {
      auto ask = [&](Eevg_PutEllipseFunction callback, Eerr_ErrorReport **slot) {
        return callback(io->userData, pattern, shape.semiX, shape.semiY, shape.rotation,
                        shape.centre, slot);
      };
      status = Offer(drawing, translucent, io->putEllipse, io->putEllipseOpacity, ask, &inner,
                     &opacityAsked);
    }
    if (pattern) pattern->color = own;
    if (status < 0) {
      lower::ReportChained(err, inner, shape.reporter, 5,
                           shape.arc && opacityAsked
                               ? "Error filling ellipse with opacity with device dependent fill"
                               : "Error filling ellipse with device dependent fill");
      return -1;
    }
    if (status > 0) return 0;
  }
  if (shape.far && !shape.far->LoadRing(drawing)) {
    lower::Report(&inner, shape.reporter, 11, kNoPointBuffer);
    lower::ReportChained(err, inner, shape.reporter, 6, "Error filling ellipse with generic fill");
    return -1;
  }
  if (FillBuffer(drawing, pattern, &inner) != 0) {
    lower::ReportChained(err, inner, shape.reporter, 6, "Error filling ellipse with generic fill");
    return -1;
  }
  return 0;
}

int32_t OutlineCurve(Eevg_Drawing *drawing, Eevg_FillStyle *style, const CurveShape &shape,
                     Eerr_ErrorReport **err) {
  Eevg_LineStyle *trace = style->traceStyle;
  Eevg_GrIOInfo *io = drawing->grIOInfo;
  const char *outlineFailed = shape.arc ? "Error Outlining Arc" : "Error Outlining Ellipse";
  Eerr_ErrorReport *inner = nullptr;
  if (shape.far && !shape.far->LoadLine(drawing)) {
    lower::Report(&inner, shape.reporter, 11, kNoPointBuffer);
    lower::ReportChained(err, inner, shape.reporter, 7, "Error Outlining Ellipse");
    return -1;
  }
  if (trace->displayLine == 1) {
    int32_t status = 0;
    if (!drawing->antiAlias) {
      const bool translucent = LineTranslucent(drawing, trace);
      LineColourOverride colours(drawing, trace);
      if (colours.Failed()) {
        lower::Report(&inner, shape.reporter, 9, kNoColourSave);
        lower::ReportChained(err, inner, shape.reporter, 8, "%s", outlineFailed);
        return -1;
      }
      if (shape.arc) {
        auto ask = [&](Eevg_PutArcOutlineFunction callback, Eerr_ErrorReport **slot) {
          return callback(io->userData, trace, shape.semiX, shape.semiY, shape.rotation,
                          shape.centre, shape.startAngle, shape.endAngle, shape.arcType, slot);
        };
        status = Offer(drawing, translucent, io->putArcOutline, io->putArcOutlineOpacity, ask,
                       &inner);
      } else {
        auto ask = [&](Eevg_PutEllipseOutlineFunction callback, Eerr_ErrorReport **slot) {
          return callback(io->userData, trace, shape.semiX, shape.semiY, shape.rotation,
                          shape.centre, slot);
        };
        status = Offer(drawing, translucent, io->putEllipseOutline, io->putEllipseOutlineOpacity,
                       ask, &inner);
      }
      if (status < 0) {
        lower::ReportChained(err, inner, shape.reporter, 8, "%s", outlineFailed);
        return -1;
      }
    }
    const OfferedPhases phases(drawing, shape.far != nullptr);
    if (status == 0 && eevg_DrawPolyLineLO(drawing, trace, 0, &inner) != 0) {
      lower::ReportChained(err, inner, shape.reporter, 7, "Error Outlining Ellipse");
      return -1;
    }
  }
  if (eevg_DrawPolyLineSymbolLO(drawing, trace, &inner) != 0) {
    lower::ReportChained(err, inner, shape.reporter, 8,
                         shape.arc ? "Error placing symbols along elliptical arc outline"
                                   : "Error placing symbols along ellipse outline");
    return -1;
  }
  return 0;
}

} // namespace

extern "C" {

int32_t eevg_DrawEllipse(Eevg_Drawing *drawing, Eevg_FillStyle *fillStyle, const Eevg_Coord *centre,
                         double semiAxisX, double semiAxisY, double rotation,
                         Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_DrawEllipse";
  lower::Clear(err);
  if (!CheckFillShape(drawing, fillStyle, centre, reporter, "eevg_DrawEllipse", err)) return -1;
  drawing->shapeState = 0;
  ButtLineEnds(drawing, fillStyle->traceStyle ? fillStyle->traceStyle->markEnd : EEVG_BUTT_END);
  double cx, cy, rx, ry;
  bool far = false;
  if (!EllipseGeometry(drawing, centre, semiAxisX, semiAxisY, rotation, cx, cy, rx, ry, &far))
    return 0;
  const double turn = MirroredWorld(drawing, rx, ry, rotation, nullptr, nullptr);
  drawing->pointCount = 0;
  drawing->polygonCount = 0;
  Eerr_ErrorReport *inner = nullptr;
  // One that reaches past the guard band is flattened in extended precision and clipped there,
  // for the fill and the outline in turn.
  const Conversion conv(drawing, false, true);
  FarEllipse farEllipse(conv);
  if (far) {
    if (!farEllipse.Build(cx, cy, rx, ry, turn)) {
      lower::Report(&inner, reporter, 11, kNoPointBuffer);
      lower::ReportChained(err, inner, reporter, 4, "Error converting ellipse curve");
      return -1;
    }
  } else if (gfx::FlattenEllipse(drawing, cx, cy, rx, ry, turn, &inner) != 0) {
    lower::ReportChained(err, inner, reporter, 4, "Error converting ellipse curve");
    return -1;
  }
  CurveShape shape{reporter, false, 0, semiAxisX * drawing->scaleX, semiAxisY * drawing->scaleY,
                   rotation, 0, 0,
                   {centre->x * drawing->scaleX + drawing->offsetX,
                    centre->y * drawing->scaleY + drawing->offsetY},
                   far ? &farEllipse : nullptr};
  if (fillStyle->fill == 1 && FillCurve(drawing, fillStyle, shape, err) != 0) return -1;
  if (fillStyle->trace == 1 && OutlineCurve(drawing, fillStyle, shape, err) != 0) return -1;
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t eevg_DrawEllipticalArc(Eevg_Drawing *drawing, Eevg_FillStyle *fillStyle,
                               const Eevg_Coord *centre, double semiAxisX, double semiAxisY,
                               double rotation, double startAngle, double endAngle,
                               int32_t arcType, Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_DrawEllipticalArc";
  lower::Clear(err);
  if (!CheckFillShape(drawing, fillStyle, centre, reporter, "eevg_DrawEllipticalArc", err)) return -1;
  if (arcType != EEVG_ARC_ONLY && arcType != EEVG_ARC_PIE && arcType != EEVG_ARC_CHORD) {
    lower::Report(err, reporter, 10, "Invalid Eevg eevg_DrawEllipticalArc Arc Type");
    return -1;
  }
  drawing->shapeState = 0;
  if (fillStyle->trace == 1)
    LineEndsFrom(drawing, fillStyle->traceStyle, 0);
  else
    ButtLineEnds(drawing, EEVG_BUTT_END);
  double cx, cy, rx, ry;
  if (!EllipseGeometry(drawing, centre, semiAxisX, semiAxisY, rotation, cx, cy, rx, ry) ||
      !std::isfinite(startAngle) || !std::isfinite(endAngle))
    return 0;
  double fromAngle = startAngle, toAngle = endAngle;
  const double turn = MirroredWorld(drawing, rx, ry, rotation, &fromAngle, &toAngle);
  drawing->pointCount = 0;
  drawing->polygonCount = 0;
  Eerr_ErrorReport *inner = nullptr;
  if (gfx::FlattenEllipticalArc(drawing, cx, cy, rx, ry, turn, fromAngle, toAngle, &inner) !=
      0) {
    lower::ReportChained(err, inner, reporter, 4, "Error converting ellipse curve");
    return -1;
  }
  if (arcType != EEVG_ARC_ONLY) {
    // Pie: the centre and back to the first point; chord: back to the first point.
    const int32_t part = drawing->polygonCount - 1;
    const int32_t first = drawing->polygonStarts[part];
    if (!gfx::ReservePoints(drawing, drawing->pointCount + 2, drawing->polygonCount)) {
      lower::Report(&inner, reporter, 11, kNoPointBuffer);
      lower::ReportChained(err, inner, reporter, 4, "Error converting ellipse curve");
      return -1;
    }
    int32_t *points = drawing->points;
    if (arcType == EEVG_ARC_PIE) {
      points[2 * drawing->pointCount] = gfx::TruncateToInt32(cx);
      points[2 * drawing->pointCount + 1] = gfx::TruncateToInt32(cy);
      ++drawing->pointCount;
    }
    points[2 * drawing->pointCount] = points[2 * first];
    points[2 * drawing->pointCount + 1] = points[2 * first + 1];
    ++drawing->pointCount;
    drawing->polygonStarts[drawing->polygonCount] = drawing->pointCount;
  }
  CurveShape shape{reporter, true, arcType, semiAxisX * drawing->scaleX,
                   semiAxisY * drawing->scaleY, rotation, startAngle, endAngle,
                   {centre->x * drawing->scaleX + drawing->offsetX,
                    centre->y * drawing->scaleY + drawing->offsetY},
                   nullptr};
  if (fillStyle->fill == 1 && arcType != EEVG_ARC_ONLY &&
      FillCurve(drawing, fillStyle, shape, err) != 0)
    return -1;
  if (fillStyle->trace == 1 && OutlineCurve(drawing, fillStyle, shape, err) != 0) return -1;
  return 0;
} TAVIRON_GUARD(err, -1)

} // extern "C"
