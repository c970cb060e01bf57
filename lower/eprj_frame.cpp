// Where grid lines of one projection meet the frame of a map in another, and the direction of
// north.
#include "eprj.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "ecvt.h"
#include "egda_pixel.h"
#include "emsc.h"
#include "eprj_internal.h"
#include "estr.h"
#include "internal.h"

namespace lower = taviron::lower;
using namespace taviron::eprj;

namespace {

bool ValidCorners(const Egda_BaseData *m) {
  return m && m->pixelType == EGDA_TYPE_F64 && m->origin && m->rows == 2 && m->columns >= 4;
}

double Corner(const Egda_BaseData &m, int32_t r, int32_t c) {
  const std::ptrdiff_t major = lower::IsColumnMajor(m) ? c : r;
  const std::ptrdiff_t minor = lower::IsColumnMajor(m) ? r : c;
  return *reinterpret_cast<const double *>(m.origin + major * m.pitch + minor * m.elementSize);
}

Eprj_IntersectPtr *NewIntersectSet(std::size_t count) {
  auto *set = static_cast<Eprj_IntersectPtr *>(emsc_HeapMalloc(sizeof(Eprj_IntersectPtr)));
  if (!set) return nullptr;
  if (count > 0) {
    set->intersects =
        static_cast<Eprj_Intersect **>(emsc_HeapMalloc(count * sizeof(Eprj_Intersect *)));
    if (!set->intersects) {
      emsc_HeapFree(set);
      return nullptr;
    }
    for (std::size_t i = 0; i < count; ++i) {
      set->intersects[i] = static_cast<Eprj_Intersect *>(emsc_HeapMalloc(sizeof(Eprj_Intersect)));
      if (!set->intersects[i]) {
        eprj_IntersectPtrFree(&set);
        return nullptr;
      }
      set->count = static_cast<int32_t>(i + 1);
    }
  }
  return set;
}

// Where the grid line `value` of axis `axis` (0: x = value, 1: y = value) meets the frame.
Eprj_IntersectPtr *IntersectWithFrame(int axis, const char *frameUnits, _eprj_MapProjection *map,
                                      const Egda_BaseData *corners, const char *gridUnits,
                                      _eprj_MapProjection *grid, double value, const char *reporter,
                                      Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!map || !grid) {
    lower::Report(err, reporter, 1, "Invalid input: the map and grid projections are needed");
    return nullptr;
  }
  if (!ValidCorners(corners)) {
    lower::Report(err, reporter, 2, "Invalid frame: a 2 x 4 f64 matrix of corners is needed");
    return nullptr;
  }
  if (!std::isfinite(value)) {
    lower::Report(err, reporter, 3, "Grid value %g is not finite", value);
    return nullptr;
  }
  double frameScale, frameOffset, gridScale, gridOffset;
  if (!UnitScale(frameUnits, NativeUnits(map->crs.geographic), frameScale, frameOffset, reporter, 4, err) ||
      !UnitScale(gridUnits, NativeUnits(grid->crs.geographic), gridScale, gridOffset, reporter, 4, err))
    return nullptr;
  if (frameScale == 0 || gridScale == 0) {
    lower::Report(err, reporter, 4, "Units \"%s\" or \"%s\" cannot be used", frameUnits ? frameUnits : "",
                  gridUnits ? gridUnits : "");
    return nullptr;
  }
  const double target = value * gridScale + gridOffset; // in the grid's native units
  const bool wrap = axis == 0 && grid->crs.geographic;   // longitudes: compare modulo 360
  std::lock_guard guard(map->lock);
  _eprj_ProjectionPair *pair = CachedPair(*map, *grid, reporter, 5, err);
  if (!pair) return nullptr;

  double cx[4], cy[4];
  for (int32_t c = 0; c < 4; ++c) {
    cx[c] = Corner(*corners, 0, c);
    cy[c] = Corner(*corners, 1, c);
    if (!std::isfinite(cx[c]) || !std::isfinite(cy[c])) {
      lower::Report(err, reporter, 2, "Frame corner %d is not finite", c);
      return nullptr;
    }
  }
  // Data point (frame units) at perimeter position t in [0, 4) -> grid native coordinates.
  auto dataAt = [&](double t, double &x, double &y) {
    int32_t side = static_cast<int32_t>(std::floor(t));
    side = std::clamp(side, 0, 3);
    const double u = t - side;
    const int32_t next = (side + 1) % 4;
    x = cx[side] + u * (cx[next] - cx[side]);
    y = cy[side] + u * (cy[next] - cy[side]);
  };
  auto toGrid = [&](std::vector<double> &xy) -> bool {
    const auto n = static_cast<int32_t>(xy.size() / 2);
    Scale(xy.data(), n, frameScale, frameOffset);
    return PairTransform(*pair, false, n, xy.data(), true, reporter, 6, err);
  };
  auto miss = [&](double gx, double gy) {
    const double g = axis == 0 ? gx : gy;
    return wrap ? std::remainder(g - target, 360.0) : g - target;
  };
  constexpr int32_t kPerSide = 64;
  constexpr int32_t kSamples = 4 * kPerSide;
  std::vector<double> samples(2 * kSamples);
  for (int32_t i = 0; i < kSamples; ++i)
    dataAt(static_cast<double>(i) / kPerSide, samples[2 * i], samples[2 * i + 1]);
  if (!toGrid(samples)) return nullptr;
  std::vector<double> f(kSamples);
  double lo[2] = {HUGE_VAL, HUGE_VAL}, hi[2] = {-HUGE_VAL, -HUGE_VAL};
  for (int32_t i = 0; i < kSamples; ++i) {
    f[i] = miss(samples[2 * i], samples[2 * i + 1]);
    for (int k = 0; k < 2; ++k)
      if (std::isfinite(samples[2 * i + k])) {
        lo[k] = std::min(lo[k], samples[2 * i + k]);
        hi[k] = std::max(hi[k], samples[2 * i + k]);
      }
  }
  const double span = hi[axis] > lo[axis] ? hi[axis] - lo[axis] : std::max(1.0, std::fabs(target));
  const double tolerance = 1e-7 * span;

  struct Found {
    double t, x, y, along, gx, gy;
  };
  std::vector<Found> found;
  auto evaluate = [&](double t, double &gx, double &gy) -> bool {
    std::vector<double> p(2);
    dataAt(t, p[0], p[1]);
    if (!toGrid(p)) return false;
    gx = p[0];
    gy = p[1];
    return true;
  };
  auto record = [&](double t, double gx, double gy) {
    double x, y;
    dataAt(t, x, y);
    found.push_back({t, x, y, axis == 0 ? gy : gx, gx, gy});
  };
  for (int32_t i = 0; i < kSamples; ++i) {
    const int32_t j = (i + 1) % kSamples, h = (i + kSamples - 1) % kSamples;
    if (!std::isfinite(f[i])) continue;
    if (f[i] == 0) {
      if (!(f[h] == 0 && f[j] == 0)) record(static_cast<double>(i) / kPerSide, samples[2 * i], samples[2 * i + 1]);
      continue;
    }
    if (!std::isfinite(f[j]) || f[j] == 0 || (f[i] < 0) == (f[j] < 0)) continue;
    // A sign change: halve the stretch until the crossing is pinned down.
    double t0 = static_cast<double>(i) / kPerSide, t1 = t0 + 1.0 / kPerSide, f0 = f[i];
    double gx = 0, gy = 0, fm = HUGE_VAL;
    for (int iteration = 0; iteration < 80 && t1 - t0 > 1e-15; ++iteration) {
      const double tm = 0.5 * (t0 + t1);
      if (!evaluate(tm, gx, gy)) return nullptr;
      fm = miss(gx, gy);
      if (!std::isfinite(fm)) break;
      if (fm == 0) {
        t0 = t1 = tm;
        break;
      }
      if ((fm < 0) == (f0 < 0)) {
        t0 = tm;
        f0 = fm;
      } else {
        t1 = tm;
      }
    }
    const double t = 0.5 * (t0 + t1);
    if (!evaluate(t, gx, gy)) return nullptr;
    fm = miss(gx, gy);
    if (std::isfinite(fm) && std::fabs(fm) <= tolerance) record(t, gx, gy); // else a jump
  }
  // Order along the line; a point met twice (a corner) once.
  std::sort(found.begin(), found.end(), [](const Found &a, const Found &b) { return a.along < b.along; });
  double size = 0;
  for (int32_t c = 0; c < 4; ++c) size = std::max({size, std::fabs(cx[c] - cx[0]), std::fabs(cy[c] - cy[0])});
  std::vector<Found> points;
  for (const Found &p : found) {
    bool seen = false;
    for (const Found &q : points)
      if (std::hypot(p.x - q.x, p.y - q.y) <= 1e-9 * std::max(size, 1e-300)) seen = true;
    if (!seen) points.push_back(p);
  }
  // The grid's y direction at each point, in data coordinates.
  const double ySpan = hi[1] > lo[1] ? hi[1] - lo[1] : std::max(1.0, std::fabs(lo[1]));
  std::vector<double> angles;
  for (const Found &p : points) {
    const double step = 1e-6 * ySpan;
    const double gx = axis == 0 ? target : p.gx, gy = axis == 0 ? p.gy : target;
    double probe[4] = {gx, gy - step, gx, gy + step};
    if (!PairTransform(*pair, true, 2, probe, true, reporter, 6, err)) return nullptr;
    for (double &v : probe) v = (v - frameOffset) / frameScale;
    double ax = probe[0], ay = probe[1], bx = probe[2], by = probe[3];
    if (!std::isfinite(ax) || !std::isfinite(ay)) {
      ax = p.x;
      ay = p.y;
    }
    if (!std::isfinite(bx) || !std::isfinite(by)) {
      bx = p.x;
      by = p.y;
    }
    if (ax == bx && ay == by) {
      lower::Report(err, reporter, 7, "No grid direction at (%.17g, %.17g): projection %s fails there",
                    p.x, p.y, grid->crs.label.c_str());
      return nullptr;
    }
    angles.push_back(std::atan2(by - ay, bx - ax));
  }
  Eprj_IntersectPtr *set = NewIntersectSet(points.size());
  if (!set) {
    lower::Report(err, reporter, 8, "Out of memory");
    return nullptr;
  }
  for (std::size_t i = 0; i < points.size(); ++i)
    *set->intersects[i] = Eprj_Intersect{points[i].x, points[i].y, angles[i]};
  return set;
}

} // namespace

extern "C" {

Eprj_IntersectPtr *eprj_IntersectXcoordWithFrame(const char *frameUnits,
                                                 Eprj_MapProjection *mapProjection,
                                                 const Egda_BaseData *corners,
                                                 const char *gridUnits,
                                                 Eprj_MapProjection *gridProjection, double value,
                                                 Eerr_ErrorReport **err) try {
  return IntersectWithFrame(0, frameUnits, mapProjection, corners, gridUnits, gridProjection, value,
                            "eprj_IntersectXcoordWithFrame", err);
} TAVIRON_GUARD(err, nullptr)

Eprj_IntersectPtr *eprj_IntersectYcoordWithFrame(const char *frameUnits,
                                                 Eprj_MapProjection *mapProjection,
                                                 const Egda_BaseData *corners,
                                                 const char *gridUnits,
                                                 Eprj_MapProjection *gridProjection, double value,
                                                 Eerr_ErrorReport **err) try {
  return IntersectWithFrame(1, frameUnits, mapProjection, corners, gridUnits, gridProjection, value,
                            "eprj_IntersectYcoordWithFrame", err);
} TAVIRON_GUARD(err, nullptr)

Eprj_Intersect *eprj_IntersectCreate(double x, double y, double angle, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *intersect = static_cast<Eprj_Intersect *>(emsc_HeapMalloc(sizeof(Eprj_Intersect)));
  if (!intersect) {
    lower::Report(err, "eprj_IntersectCreate", 1, "Out of memory");
    return nullptr;
  }
  *intersect = Eprj_Intersect{x, y, angle};
  return intersect;
} TAVIRON_GUARD(err, nullptr)

Eprj_IntersectPtr *eprj_IntersectPtrCreate(int32_t count, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (count < 0) {
    lower::Report(err, "eprj_IntersectPtrCreate", 1, "Invalid intersection count %d", count);
    return nullptr;
  }
  Eprj_IntersectPtr *set = NewIntersectSet(static_cast<std::size_t>(count));
  if (!set) lower::Report(err, "eprj_IntersectPtrCreate", 2, "Out of memory");
  return set;
} TAVIRON_GUARD(err, nullptr)

void eprj_IntersectPtrFree(Eprj_IntersectPtr **set) try {
  if (!set || !*set) return;
  for (int32_t i = 0; i < (*set)->count; ++i)
    if ((*set)->intersects) emsc_HeapFree((*set)->intersects[i]);
  emsc_HeapFree((*set)->intersects);
  emsc_HeapFree(*set);
  *set = nullptr;
} TAVIRON_GUARD_QUIET_VOID

int32_t eprj_ComputeNorthAngleFromXAxis(const Egda_BaseData *point, const Eprj_ProParameters *a,
                                        const Eprj_ProParameters *b, double *angle,
                                        Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eprj_ComputeNorthAngleFromXAxis";
  lower::Clear(err);
  if (!point || point->pixelType != EGDA_TYPE_F64 || !point->origin || point->rows != 2 ||
      point->columns < 1 || !a || !b || !angle) {
    lower::Report(err, kReporter, 1, "Invalid input: a 2 x N f64 point, two projections and an angle are needed");
    return -1;
  }
  Crs crsA, crsB;
  std::string why;
  if (!MakeCrs(*a, crsA, why) || !MakeCrs(*b, crsB, why)) {
    lower::Report(err, kReporter, 2, "Projection %s cannot be used: %s",
                  (crsB.label.empty() ? crsA : crsB).label.c_str(), why.c_str());
    return -1;
  }
  _eprj_ProjectionPair *pair = lower::HeapNew<_eprj_ProjectionPair>();
  if (!pair || !FillPair(*pair, *a, crsA, *b, crsB)) {
    lower::HeapDelete(pair);
    lower::Report(err, kReporter, 2, "Out of memory");
    return -1;
  }
  double p[2] = {Corner(*point, 0, 0), Corner(*point, 1, 0)};
  double q[2] = {p[0], p[1]};
  bool ok = PairTransform(*pair, false, 1, q, false, kReporter, 3, err);
  double probe[4] = {};
  if (ok) {
    // A short step north in b, taken back into a; near b's pole the step goes south instead.
    const bool geographic = pair->destinationCrs.geographic;
    const double step = geographic ? 1e-6 : 0.1;
    double sign = 1;
    if (geographic && q[1] + step > 90) sign = -1;
    probe[0] = q[0];
    probe[1] = q[1];
    probe[2] = q[0];
    probe[3] = q[1] + sign * step;
    ok = PairTransform(*pair, true, 2, probe, false, kReporter, 3, err);
    if (ok) {
      const double dx = sign * (probe[2] - probe[0]), dy = sign * (probe[3] - probe[1]);
      if (dx == 0 && dy == 0) {
        lower::Report(err, kReporter, 4, "North is not defined at (%.17g, %.17g)", p[0], p[1]);
        ok = false;
      } else {
        *angle = std::atan2(dy, dx);
      }
    }
  }
  lower::HeapDelete(pair);
  return ok ? 0 : -1;
} TAVIRON_GUARD(err, -1)

} // extern "C"
