// Cubic curves: the polynomial routines, cutting and breaking, and the flattener that turns a
// cubic into points of a drawing's point buffer.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <cstdlib>

#include "eevg_internal.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace taviron::graphics {

int32_t TruncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

namespace {

using Wide = __int128;

// De Casteljau halving of the curve at `top` (eight unsigned coordinates) into two curves: the
// right half stays at `top`, the left half goes to `top + 8`.
void Halve(uint32_t *top) {
  uint32_t *left = top + 8;
  for (int axis = 0; axis < 2; ++axis) {
    const uint64_t p0 = top[axis], p1 = top[2 + axis], p2 = top[4 + axis], p3 = top[6 + axis];
    const uint64_t m = (p0 + 3 * p1 + 3 * p2 + p3 + 4) >> 3;
    left[axis] = static_cast<uint32_t>(p0);
    left[2 + axis] = static_cast<uint32_t>((p0 + p1 + 1) >> 1);
    left[4 + axis] = static_cast<uint32_t>((p0 + 2 * p1 + p2 + 2) >> 2);
    left[6 + axis] = static_cast<uint32_t>(m);
    top[axis] = static_cast<uint32_t>(m);
    top[2 + axis] = static_cast<uint32_t>((p1 + 2 * p2 + p3 + 2) >> 2);
    top[4 + axis] = static_cast<uint32_t>((p2 + p3 + 1) >> 1);
  }
}

// Whether the inner control points lie within the flatness of the chord. A closed curve (end on
// its start) has no chord: it is flat when its control points are that close to the start.
// Products are taken in W: 64 bits suffice while the coordinates stay below 2^30.
template <typename W> bool FlatIn(const uint32_t *c, int64_t flatness) {
  const int64_t x0 = c[0], y0 = c[1];
  const int64_t dx = static_cast<int64_t>(c[6]) - x0, dy = static_cast<int64_t>(c[7]) - y0;
  const int64_t ax = static_cast<int64_t>(c[2]) - x0, ay = static_cast<int64_t>(c[3]) - y0;
  const int64_t bx = static_cast<int64_t>(c[4]) - x0, by = static_cast<int64_t>(c[5]) - y0;
  if (dx == 0 && dy == 0) {
    const int64_t reach = std::max({std::llabs(ax), std::llabs(ay), std::llabs(bx), std::llabs(by)});
    return 2 * static_cast<Wide>(reach) <= flatness;
  }
  const W limit = static_cast<W>(std::max(std::llabs(dx), std::llabs(dy))) * flatness;
  W first = static_cast<W>(ay) * dx - static_cast<W>(ax) * dy;
  W second = static_cast<W>(by) * dx - static_cast<W>(bx) * dy;
  if (first < 0) first = -first;
  if (second < 0) second = -second;
  return 2 * first <= limit && 2 * second <= limit;
}

// The flatness test of a curve whose coordinates all stay below 2^30 (narrow) or not.
bool Flat(const uint32_t *c, int64_t flatness, bool narrow) {
  return narrow ? FlatIn<int64_t>(c, flatness) : FlatIn<Wide>(c, flatness);
}

} // namespace

namespace {

// The points of a flattened curve going into a point array: a point on the last one is dropped,
// and a point going on in the same direction replaces the last one instead of following it.
class PointOut {
 public:
  PointOut(int32_t *pointCapacity, int32_t **points, int32_t count, int32_t partStart)
      : capacity_(pointCapacity), points_(points), count_(count), partStart_(partStart) {
    if (count > 0) {
      lastX_ = (*points)[2 * count - 2];
      lastY_ = (*points)[2 * count - 1];
    }
    if (count - partStart >= 2) {
      lastDx_ = lastX_ - (*points)[2 * count - 4];
      lastDy_ = lastY_ - (*points)[2 * count - 3];
      haveDirection_ = true;
    }
  }
  enum Result { kSame, kReplaced, kAppended, kFailed };
  Result Emit(int64_t x, int64_t y) {
    const int64_t dx = x - lastX_, dy = y - lastY_;
    if (dx == 0 && dy == 0) return kSame;
    Result result = kAppended;
    if (haveDirection_ && static_cast<Wide>(dx) * lastDy_ == static_cast<Wide>(dy) * lastDx_ &&
        static_cast<Wide>(dx) * lastDx_ + static_cast<Wide>(dy) * lastDy_ > 0) {
      (*points_)[2 * count_ - 2] = static_cast<int32_t>(x);
      (*points_)[2 * count_ - 1] = static_cast<int32_t>(y);
      lastDx_ += dx;
      lastDy_ += dy;
      result = kReplaced;
    } else {
      if (!Append(x, y)) return kFailed;
      lastDx_ = dx;
      lastDy_ = dy;
    }
    lastX_ = x;
    lastY_ = y;
    return result;
  }
  // Puts the last two points and the direction as the curve's own points left them.
  bool Place(int64_t beforeX, int64_t beforeY, int64_t x, int64_t y, int64_t dx, int64_t dy) {
    if (!Append(beforeX, beforeY) || !Append(x, y)) return false;
    lastX_ = x, lastY_ = y, lastDx_ = dx, lastDy_ = dy;
    haveDirection_ = true;
    return true;
  }
  int64_t LastX() const { return lastX_; }
  int64_t LastY() const { return lastY_; }
  int32_t Count() const { return count_; }

 private:
  bool Append(int64_t x, int64_t y) {
    if (count_ >= *capacity_) {
      const int64_t wanted = std::max<int64_t>(static_cast<int64_t>(count_) + 200,
                                               static_cast<int64_t>(*capacity_) * 3 / 2);
      const int64_t capacity = std::min<int64_t>(wanted, INT32_MAX / 8);
      void *grown = capacity > count_
                        ? emsc_HeapRealloc(*points_, static_cast<std::size_t>(capacity) * 2 * sizeof(int32_t))
                        : nullptr;
      if (!grown) return false;
      *points_ = static_cast<int32_t *>(grown);
      *capacity_ = static_cast<int32_t>(capacity);
    }
    (*points_)[2 * count_] = static_cast<int32_t>(x);
    (*points_)[2 * count_ + 1] = static_cast<int32_t>(y);
    ++count_;
    haveDirection_ = count_ - partStart_ >= 2;
    return true;
  }

  int32_t *capacity_;
  int32_t **points_;
  int32_t count_, partStart_;
  int64_t lastX_ = 0, lastY_ = 0, lastDx_ = 0, lastDy_ = 0;
  bool haveDirection_ = false;
};

// Whether c goes on from b in the direction from a to b (the flattener then replaces b by c).
bool GoesOn(const int64_t *a, const int64_t *b, const int64_t *c) {
  const int64_t dx = c[0] - b[0], dy = c[1] - b[1], px = b[0] - a[0], py = b[1] - a[1];
  return static_cast<Wide>(dx) * py == static_cast<Wide>(dy) * px &&
         static_cast<Wide>(dx) * px + static_cast<Wide>(dy) * py > 0;
}

// The flattener of eevg_CVPoly. With a window (x0, y0, x1, y1), a piece of the curve that lies
// wholly on one side beyond it is not cut into all its points: past the points that fix what
// comes before it, it goes straight to the last two points that what follows it sees, which are
// found by walking its halving backward. The points of the outline that can meet the window, and
// the parity of the crossings beside it on each row, stay as they were.
class Flattener {
 public:
  Flattener(uint32_t *stack, int32_t depth, int64_t flatness, bool narrow, int32_t shift,
            int64_t mx, int64_t my, const int64_t *window, PointOut &out)
      : stack_(stack), depth_(depth), flat_(flatness), narrow_(narrow), shift_(shift), mx_(mx),
        my_(my), window_(window), out_(out) {}

  // Without a window, the ends of the pieces (relative to the lowest corner) are also kept in
  // the memo, as long as they fit.
  void Record(Eevg_CurveMemo *memo) { memo_ = memo; }
  int32_t Leaves() const { return leaves_; }

  bool Run() {
    int32_t used = 1;
    while (used > 0) {
      uint32_t *top = stack_ + 8 * (used - 1);
      if (window_ && used < depth_ && !Flat(top, flat_, narrow_) && Beyond(top)) {
        const int32_t level = used;
        int32_t appended = 0;
        // The points that fix what comes before the piece.
        while (used >= level && appended < 2) {
          const PointOut::Result r = Step(used);
          if (r == PointOut::kFailed) return false;
          appended += r == PointOut::kAppended;
        }
        if (used >= level && !Skip(level, used)) continue;
        if (used >= level) used = level - 1;
        continue;
      }
      if (Step(used) == PointOut::kFailed) return false;
    }
    return true;
  }

 private:
  // Halves the top curve down to a flat one (or the stack's depth), emits its end and pops it.
  PointOut::Result Step(int32_t &used) {
    uint32_t *top = stack_ + 8 * (used - 1);
    while (used < depth_ && !Flat(top, flat_, narrow_)) {
      Halve(top);
      ++used;
      top += 8;
    }
    --used;
    const uint32_t rx = top[6] >> shift_, ry = top[7] >> shift_;
    if (memo_ && leaves_ < kCurveMemoLeaves) {
      memo_->leaves[2 * leaves_] = rx;
      memo_->leaves[2 * leaves_ + 1] = ry;
    }
    ++leaves_;
    return out_.Emit(mx_ + rx, my_ + ry);
  }

  // Whether the control points lie wholly on one side beyond the window.
  bool Beyond(const uint32_t *c) const {
    int64_t lo[2] = {INT64_MAX, INT64_MAX}, hi[2] = {INT64_MIN, INT64_MIN};
    for (int i = 0; i < 8; ++i) {
      const int64_t v = (i % 2 ? my_ : mx_) + (c[i] >> shift_);
      lo[i % 2] = std::min(lo[i % 2], v);
      hi[i % 2] = std::max(hi[i % 2], v);
    }
    return hi[0] < window_[0] || lo[0] > window_[2] || hi[1] < window_[1] || lo[1] > window_[3];
  }

  // The rest of the piece, held in the stack levels level..used: its last points, walked back
  // from its end (a point equal to the one after it is no point of the outline). The last point
  // Q, the run of points going on in one direction into it from X, and the point W before X tell
  // how the flattener leaves them. False (the rest is flattened point by point) when the rest is
  // too short to tell.
  bool Skip(int32_t level, int32_t used) {
    // The points are collected a few at a time: the run into Q mostly ends within them.
    int32_t j = 0;
    for (int32_t want = 4;; want *= 4) {
      want_ = std::min(want, kBack);
      back_ = 0;
      for (int32_t l = level; l <= used && back_ < want_; ++l) Backward(stack_ + 8 * (l - 1), l);
      // back_[0] is Q; find the start of the run into it.
      j = 0;
      while (j + 2 < back_ && GoesOn(points_[j + 2], points_[j + 1], points_[j])) ++j;
      if (j + 2 < back_) break;
      if (back_ < want_ || want_ == kBack) return false;
    }
    // points_[j] was put after X = points_[j + 1]; X must not be the last point put so far.
    const int64_t *x = points_[j + 1], *q = points_[0], *before = points_[1];
    if (x[0] == out_.LastX() && x[1] == out_.LastY()) return false;
    return out_.Place(x[0], x[1], q[0], q[1], q[0] - before[0], q[1] - before[1]);
  }
  // Collects the ends of the leaves of the curve c at stack level l, last first, skipping ends
  // equal to the one collected before, until enough are known.
  void Backward(const uint32_t *c, int32_t l) {
    if (back_ >= want_) return;
    if (l >= depth_ || Flat(c, flat_, narrow_)) {
      const int64_t x = mx_ + (c[6] >> shift_), y = my_ + (c[7] >> shift_);
      if (back_ > 0 && points_[back_ - 1][0] == x && points_[back_ - 1][1] == y) return;
      points_[back_][0] = x;
      points_[back_][1] = y;
      ++back_;
      return;
    }
    uint32_t halves[16];
    std::copy_n(c, 8, halves);
    Halve(halves);
    Backward(halves, l + 1);
    Backward(halves + 8, l + 1);
  }

  static constexpr int32_t kBack = 64;
  uint32_t *stack_;
  int32_t depth_;
  int64_t flat_;
  bool narrow_;
  int32_t shift_;
  int64_t mx_, my_;
  const int64_t *window_;
  PointOut &out_;
  Eevg_CurveMemo *memo_ = nullptr;
  int32_t leaves_ = 0;
  int64_t points_[kBack][2];
  int32_t back_ = 0;
  int32_t want_ = kBack; // the points Backward collects at most
};

int32_t Flatten(Eevg_Drawing *drawing, int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t x2,
                int32_t y2, int32_t x3, int32_t y3, int32_t flatness, int32_t *pointCapacity,
                int32_t **points, int32_t *pointCount, const int32_t *starts, int32_t partNumber,
                const int64_t *window, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_CVPoly";
  lower::Clear(err);
  if (!drawing || !drawing->curveStack || !pointCapacity || !points || !pointCount) {
    lower::Report(err, reporter, 1, "NULL Eevg Drawing Pointer");
    return -1;
  }
  const int32_t depth = std::max<int32_t>(1, std::min(drawing->curveStackCapacity, kCurveStackCapacity));
  const int64_t mx = std::min({x0, x1, x2, x3}), my = std::min({y0, y1, y2, y3});
  const int64_t span = std::max({static_cast<int64_t>(std::max({x0, x1, x2, x3})) - mx,
                                 static_cast<int64_t>(std::max({y0, y1, y2, y3})) - my});
  // The extra precision bits, given up when the curve is too large to keep them in 32 bits.
  int32_t shift = std::clamp(drawing->curveShift, 0, 8);
  while (shift > 0 && (span << shift) > static_cast<int64_t>(UINT32_MAX)) --shift;
  const int64_t flat = std::max<int32_t>(flatness, 2);
  // Halving keeps the coordinates within the span; below 2^30 (and a flatness below 2^30) no
  // product of the flatness test needs more than 63 bits.
  const bool narrow = (span << shift) < (int64_t{1} << 30) && flat < (int64_t{1} << 30);

  const int32_t count = std::max(*pointCount, 0);
  const int32_t partStart =
      (starts && partNumber >= 1) ? std::clamp(starts[partNumber - 1], 0, count) : count;
  PointOut out(pointCapacity, points, count, partStart);
  auto overflow = [&]() {
    *pointCount = out.Count();
    lower::Report(err, reporter, 1, "Polygon Overflow");
    return -1;
  };

  // A curve whose control points lie inside the window is cut as without one (its pieces stay
  // within those points' box): all its pieces are put.
  const int64_t hx = std::max({x0, x1, x2, x3}), hy = std::max({y0, y1, y2, y3});
  const bool whole =
      !window || (mx >= window[0] && my >= window[1] && hx <= window[2] && hy <= window[3]);
  if (whole) window = nullptr;

  // The same control points up to a translation are cut into the same pieces: a curve met again
  // whole (the round caps of one width and direction along a line, the same glyph again) is
  // taken from the drawing's memos.
  const int32_t in[8] = {x0, y0, x1, y1, x2, y2, x3, y3};
  uint32_t key[11];
  for (int i = 0; i < 8; ++i)
    key[i] = static_cast<uint32_t>(static_cast<int64_t>(in[i]) - (i % 2 ? my : mx));
  key[8] = static_cast<uint32_t>(shift);
  key[9] = static_cast<uint32_t>(flat);
  key[10] = static_cast<uint32_t>(depth);
  Eevg_CurveMemo *memo = nullptr;
  if (whole) {
    uint32_t hash = 2166136261u;
    for (uint32_t word : key) hash = (hash ^ word) * 16777619u;
    memo = &drawing->curveMemos[(hash ^ hash >> 16) % kCurveMemoCount];
    if (memo->count > 0 && std::equal(key, key + 11, memo->key)) {
      for (int32_t i = 0; i < memo->count; ++i)
        if (out.Emit(mx + memo->leaves[2 * i], my + memo->leaves[2 * i + 1]) == PointOut::kFailed)
          return overflow();
      *pointCount = out.Count();
      return 0;
    }
    memo->count = 0;
  }

  uint32_t *stack = reinterpret_cast<uint32_t *>(drawing->curveStack);
  for (int i = 0; i < 8; ++i) stack[i] = key[i] << shift;
  Flattener flattener(stack, depth, flat, narrow, shift, mx, my, window, out);
  flattener.Record(memo);
  if (!flattener.Run()) return overflow();
  if (memo && flattener.Leaves() <= kCurveMemoLeaves) {
    std::copy(key, key + 11, memo->key);
    memo->count = flattener.Leaves();
  }
  *pointCount = out.Count();
  return 0;
}

} // namespace

int32_t eevg_CVPoly(Eevg_Drawing *drawing, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                    int32_t x2, int32_t y2, int32_t x3, int32_t y3, int32_t flatness,
                    int32_t *pointCapacity, int32_t **points, int32_t *pointCount,
                    const int32_t *starts, int32_t partNumber, Eerr_ErrorReport **err) {
  return Flatten(drawing, x0, y0, x1, y1, x2, y2, x3, y3, flatness, pointCapacity, points,
                 pointCount, starts, partNumber, nullptr, err);
}

int32_t FlattenNearWindow(Eevg_Drawing *drawing, const int32_t *curve, int32_t flatness,
                          int32_t *pointCapacity, int32_t **points, int32_t *pointCount,
                          Eerr_ErrorReport **err) {
  // The window's samples and the rows and columns the filler reads beside them, with room.
  constexpr int64_t kRoom = 32;
  const int64_t window[4] = {int64_t{drawing->subClipXMin} - kRoom, int64_t{drawing->subClipYMin} - kRoom,
                             int64_t{drawing->subClipXMax} + 8 + kRoom,
                             int64_t{drawing->subClipYMax} + 8 + kRoom};
  return Flatten(drawing, curve[0], curve[1], curve[2], curve[3], curve[4], curve[5], curve[6],
                 curve[7], flatness, pointCapacity, points, pointCount, nullptr, 0, window, err);
}

} // namespace taviron::graphics

namespace {

template <typename T>
void BezierToPoly(const T *p, T *c) {
  const T p0 = p[0], p1 = p[1], p2 = p[2], p3 = p[3];
  c[0] = p0;
  c[1] = 3 * (p1 - p0);
  c[2] = 3 * (p0 - 2 * p1 + p2);
  c[3] = 3 * (p1 - p2) + p3 - p0;
}

template <typename T>
long double PolyVal(int32_t n, const T *c, double x) {
  if (!c || n < 0) return 0;
  long double value = c[n];
  for (int32_t i = n - 1; i >= 0; --i) value = value * x + c[i];
  return value;
}

template <typename T>
int32_t QuadRoot(const T *c, double *roots) {
  const long double c0 = c[0], c1 = c[1], c2 = c[2];
  if (c2 == 0) {
    // No square term: the linear root, if any.
    if (c1 == 0) return 0;
    roots[0] = static_cast<double>(-c0 / c1);
    return 1;
  }
  const long double d = c1 * c1 - 4 * c0 * c2;
  if (!(d >= 0)) return 0;
  if (d == 0) {
    roots[0] = static_cast<double>(-c1 / (2 * c2));
    return 1;
  }
  const long double root = std::sqrt(d);
  double a = static_cast<double>((-c1 - root) / (2 * c2));
  double b = static_cast<double>((root - c1) / (2 * c2));
  if (a > b) std::swap(a, b);
  roots[0] = a;
  roots[1] = b;
  return 2;
}

template <typename T>
double PolyRoot(int32_t n, const T *c, const T *d, double x, int32_t limit, double tolerance,
                int32_t *found) {
  int32_t dummy = 0;
  if (!found) found = &dummy;
  *found = 0;
  for (int32_t i = 0; i < limit; ++i) {
    const long double f = PolyVal(n, c, x);
    if (std::fabs(f) <= tolerance) {
      *found = 1;
      return x;
    }
    const long double slope = PolyVal(n - 1, d, x);
    if (std::fabs(slope) <= tolerance) return x;
    x = static_cast<double>(x - f / slope);
  }
  return x;
}

void BreakD(const double *p, double t, double *out) {
  double c[4];
  BezierToPoly(p, c);
  double d[3];
  for (int i = 1; i <= 3; ++i) d[i - 1] = i * c[i];
  const double b = static_cast<double>(PolyVal(3, c, t));
  const double slope = static_cast<double>(PolyVal(2, d, t));
  const double p0 = p[0], p1 = p[1], p2 = p[2], p3 = p[3];
  out[0] = p0;
  out[1] = p0 + t * (p1 - p0);
  out[2] = b - t * 0.3333333 * slope;
  out[3] = b;
  out[4] = b + (0.3333333333333333 - t * 0.3333333) * slope;
  out[5] = p3 - (1 - t) * (p3 - p2);
  out[6] = p3;
}

} // namespace

extern "C" {

void CVBezierToPoly(const int32_t p[4], int32_t c[4]) try {
  // Wrapping arithmetic: the coefficients of curves beyond the 32-bit range are not defined.
  uint32_t u[4] = {static_cast<uint32_t>(p[0]), static_cast<uint32_t>(p[1]),
                   static_cast<uint32_t>(p[2]), static_cast<uint32_t>(p[3])};
  uint32_t r[4];
  BezierToPoly(u, r);
  for (int i = 0; i < 4; ++i) c[i] = static_cast<int32_t>(r[i]);
} TAVIRON_GUARD_QUIET_VOID

void CVBezierToPolyD(const double p[4], double c[4]) try { BezierToPoly(p, c); } TAVIRON_GUARD_QUIET_VOID

long double CVPolyVal(int32_t n, const int32_t *c, double x) try { return PolyVal(n, c, x); } TAVIRON_GUARD_QUIET(std::numeric_limits<double>::quiet_NaN())

long double CVPolyValD(int32_t n, const double *c, double x) try { return PolyVal(n, c, x); } TAVIRON_GUARD_QUIET(std::numeric_limits<double>::quiet_NaN())

int32_t CVPolyDerivative(int32_t n, const int32_t *c, int32_t *d) try {
  for (int32_t i = 1; i <= n; ++i)
    d[i - 1] = static_cast<int32_t>(static_cast<uint32_t>(i) * static_cast<uint32_t>(c[i]));
  return n + 1;
} TAVIRON_GUARD_QUIET(0)

void CVPolyDerivativeD(int32_t n, const double *c, double *d) try {
  for (int32_t i = 1; i <= n; ++i) d[i - 1] = i * c[i];
} TAVIRON_GUARD_QUIET_VOID

int32_t CVQuadRoot(const int32_t c[3], double roots[2]) try { return QuadRoot(c, roots); } TAVIRON_GUARD_QUIET(0)

int32_t CVQuadRootD(const double c[3], double roots[2]) try { return QuadRoot(c, roots); } TAVIRON_GUARD_QUIET(0)

double CVPolyRoot(int32_t n, const int32_t *c, const int32_t *d, double x, int32_t limit,
                  double tolerance, int32_t *found) try {
  return PolyRoot(n, c, d, x, limit, tolerance, found);
} TAVIRON_GUARD_QUIET(std::numeric_limits<double>::quiet_NaN())

double CVPolyRootD(int32_t n, const double *c, const double *d, double x, int32_t limit,
                   double tolerance, int32_t *found) try {
  return PolyRoot(n, c, d, x, limit, tolerance, found);
} TAVIRON_GUARD_QUIET(std::numeric_limits<double>::quiet_NaN())

int32_t CVFindCuts(double x1, double y1, double x2, double y2, const double cx[4],
                   const double cy[4], double t[3]) try {
  const double dx = x2 - x1, dy = y1 - y2;
  const double k[4] = {dx * cy[0] + dy * cx[0] - (x1 * dy + y1 * dx), dy * cx[1] + dx * cy[1],
                       dy * cx[2] + dx * cy[2], dy * cx[3] + dx * cy[3]};
  const double slope[3] = {k[1], 2 * k[2], 3 * k[3]};
  // The turning points of g split 0..1 into monotonic pieces.
  double bounds[4] = {0, 0, 0, 0};
  int32_t boundCount = 1;
  double turns[2];
  int32_t turnCount = 0;
  if (k[3] == 0) {
    // g is at most quadratic: its one turning point, if any.
    if (k[2] != 0) turns[turnCount++] = -k[1] / (2 * k[2]);
  } else {
    const double d = slope[1] * slope[1] - 4 * slope[0] * slope[2];
    if (d == 0) {
      turns[turnCount++] = -slope[1];
    } else if (d > 0) {
      const double root = std::sqrt(d);
      double a = (-slope[1] - root) / (2 * slope[2]), b = (-slope[1] + root) / (2 * slope[2]);
      if (a > b) std::swap(a, b);
      turns[turnCount++] = a;
      turns[turnCount++] = b;
    }
  }
  for (int32_t i = 0; i < turnCount; ++i)
    if (turns[i] >= 0 && turns[i] < 1 && turns[i] > bounds[boundCount - 1]) bounds[boundCount++] = turns[i];
  bounds[boundCount++] = 1;

  int32_t found = 0;
  for (int32_t i = 0; i + 1 < boundCount; ++i) {
    const double a = bounds[i], b = bounds[i + 1];
    const double ga = static_cast<double>(PolyVal(3, k, a)), gb = static_cast<double>(PolyVal(3, k, b));
    if (ga == gb || !((ga <= 0 && gb >= 0) || (ga >= 0 && gb <= 0))) continue;
    int32_t converged = 0;
    double root = CVPolyRootD(3, k, slope, (a * gb - b * ga) / (gb - ga), 50, 0.001, &converged);
    // The crossing lies in its monotonic piece; an estimate that left it is brought back.
    if (std::isnan(root)) continue;
    root = std::clamp(root, a, b);
    t[found++] = root;
  }
  std::sort(t, t + found);
  return found;
} TAVIRON_GUARD_QUIET(0)

void CVBreak(const int32_t p[4], double t, int32_t out[7]) try {
  const double pd[4] = {static_cast<double>(p[0]), static_cast<double>(p[1]),
                        static_cast<double>(p[2]), static_cast<double>(p[3])};
  double c[4];
  BezierToPoly(pd, c);
  double d[3];
  for (int i = 1; i <= 3; ++i) d[i - 1] = i * c[i];
  const double b = static_cast<double>(PolyVal(3, c, t));
  const double slope = static_cast<double>(PolyVal(2, d, t));
  using taviron::graphics::TruncateToInt32;
  out[0] = p[0];
  out[1] = TruncateToInt32(pd[0] + t * (pd[1] - pd[0]));
  out[2] = TruncateToInt32(b - t * 0.3333333 * slope);
  out[3] = TruncateToInt32(b);
  out[4] = TruncateToInt32(b + 0.3333333 * (1 - t) * slope);
  out[5] = TruncateToInt32(pd[3] - (1 - t) * (pd[3] - pd[2]));
  out[6] = p[3];
} TAVIRON_GUARD_QUIET_VOID

void CVBreakD(const double p[4], double t, double out[7]) try {
  const double copy[4] = {p[0], p[1], p[2], p[3]};
  BreakD(copy, t, out);
} TAVIRON_GUARD_QUIET_VOID

int32_t CVCut(double x1, double y1, double x2, double y2, const double px[4], const double py[4],
              double tolerance, double *outX, double *outY) try {
  double cx[4], cy[4];
  BezierToPoly(px, cx);
  BezierToPoly(py, cy);
  double t[3];
  const int32_t found = CVFindCuts(x1, y1, x2, y2, cx, cy, t);
  const double xMin = std::min(x1, x2) - tolerance, xMax = std::max(x1, x2) + tolerance;
  const double yMin = std::min(y1, y2) - tolerance, yMax = std::max(y1, y2) + tolerance;
  int32_t kept = 0;
  for (int32_t i = 0; i < found; ++i) {
    const double x = static_cast<double>(PolyVal(3, cx, t[i]));
    const double y = static_cast<double>(PolyVal(3, cy, t[i]));
    if (UTPointInRect(x, y, xMin, yMin, xMax, yMax)) t[kept++] = t[i];
  }
  const double copyX[4] = {px[0], px[1], px[2], px[3]}, copyY[4] = {py[0], py[1], py[2], py[3]};
  std::copy(copyX, copyX + 4, outX);
  std::copy(copyY, copyY + 4, outY);
  for (int32_t i = 0; i < kept; ++i) {
    CVBreakD(outX + 3 * i, t[i], outX + 3 * i);
    CVBreakD(outY + 3 * i, t[i], outY + 3 * i);
    // The later crossings, on the remaining piece. A cut at the very end leaves nothing to rescale.
    const double rest = 1 - t[i];
    for (int32_t j = i + 1; j < kept; ++j) t[j] = rest > 0 ? (t[j] - t[i]) / rest : 1;
  }
  return kept + 1;
} TAVIRON_GUARD_QUIET(0)

int32_t UTPointInRect(double x, double y, double xMin, double yMin, double xMax, double yMax) try {
  return xMin <= x && x <= xMax && yMin <= y && y <= yMax ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

} // extern "C"
