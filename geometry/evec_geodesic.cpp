// Areas and lengths of longitude/latitude rings and lines on an ellipsoid of revolution. Small
// rings are measured in a Lambert azimuthal equal-area projection centred on them, large ones by
// an integral on a sphere of the radius fitted at their middle latitude; lengths come from the
// inverse Vincenty formula with a closed-form fallback. Edges are straight in longitude and
// latitude, not geodesics. Reports of the internal routines carry their source line as code.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "emsc.h"
#include "eprj.h"
#include "evec.h"
#include "evec_internal.h"
#include "guard.h"

namespace geo = taviron::geometry;

namespace {

constexpr double kDegree = 0.017453292519943295;
constexpr double kQuarterPi = 0.7853981633974483;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kSubdivision = 1000.0;

// The ellipsoid and the centre of one projection.
struct EqualArea {
  double lon0, lat0, a, e2, e, qp;
  double sinLat0, cosLat0;
  // Oblique ellipsoidal form.
  double sinBeta1 = 0, cosBeta1 = 0, rq = 0, d = 0;
  enum { kSphere, kNorth, kSouth, kOblique } form;

  double Q(double p) const {
    const double s = std::sin(p);
    return (1 - e2) * (s / (1 - e2 * s * s) - std::log((1 - e * s) / (1 + e * s)) / (2 * e));
  }

  EqualArea(double centreLon, double centreLat, double semiMajor, double eccentricity2)
      : lon0(centreLon), lat0(centreLat), a(semiMajor), e2(eccentricity2), e(std::sqrt(e2)),
        qp(0), sinLat0(std::sin(lat0)), cosLat0(std::cos(lat0)) {
    if (e2 < 1e-10) {
      form = kSphere;
      return;
    }
    qp = (1 - e2) * (1 / (1 - e2) - std::log((1 - e) / (1 + e)) / (2 * e));
    if (std::fabs(lat0 - kHalfPi) <= 1e-10) form = kNorth;
    else if (std::fabs(lat0 + kHalfPi) <= 1e-10) form = kSouth;
    else {
      form = kOblique;
      const double beta1 = std::asin(Q(lat0) / qp);
      sinBeta1 = std::sin(beta1);
      cosBeta1 = std::cos(beta1);
      rq = a * std::sqrt(qp / 2);
      d = a * cosLat0 / std::sqrt(1 - e2 * sinLat0 * sinLat0) / (rq * cosBeta1);
    }
  }

  // GeographicToEqualArea: projects (lon, lat); false with a report (nothing written) when the
  // longitude adjustment fails.
  bool Project(double lon, double lat, double &x, double &y, Eerr_ErrorReport **err) const {
    Eerr_ErrorReport *inner = nullptr;
    const double dlon = eprj_Adjl(lon - lon0, &inner);
    if (inner) {
      geo::ReportChained(err, inner, "GeographicToEqualArea", __LINE__, "eprj_Adjl failed");
      return false;
    }
    const double sinDlon = std::sin(dlon), cosDlon = std::cos(dlon);
    switch (form) {
    case kSphere: {
      const double sinLat = std::sin(lat), cosLat = std::cos(lat);
      const double k = std::sqrt(2 / (1 + sinLat0 * sinLat + cosLat0 * cosLat * cosDlon));
      x = a * k * cosLat * sinDlon;
      y = a * k * (cosLat0 * sinLat - sinLat0 * cosLat * cosDlon);
      return true;
    }
    case kNorth:
    case kSouth: {
      const double rho = a * std::sqrt(form == kNorth ? qp - Q(lat) : qp + Q(lat));
      x = rho * sinDlon;
      y = rho * cosDlon;
      return true;
    }
    case kOblique: {
      const double beta = std::asin(Q(lat) / qp);
      const double sinBeta = std::sin(beta), cosBeta = std::cos(beta);
      const double b = rq * std::sqrt(2 / (1 + sinBeta1 * sinBeta + cosBeta1 * cosBeta * cosDlon));
      x = b * d * cosBeta * sinDlon;
      y = (b / d) * (cosBeta1 * sinBeta - sinBeta1 * cosBeta * cosDlon);
      return true;
    }
    }
    return false;
  }
};

// GeographicPolygonArea: the area of the ring (count points, the first repeated at the end) in
// the projection, edges subdivided where they span more than the limit. On a failure the area
// reached so far is returned with a report.
double ProjectedRingArea(const double *lon, const double *lat, int32_t count,
                         const EqualArea &projection, double limit, Eerr_ErrorReport **err) {
  static const char *reporter = "GeographicPolygonArea";
  Eerr_ErrorReport *inner = nullptr;
  double sum = 0.0;
  double x0, y0;
  if (!projection.Project(lon[0], lat[0], x0, y0, &inner)) {
    geo::ReportChained(err, inner, reporter, __LINE__, "GeographicToEqualArea failed");
    return 0.0;
  }
  for (int32_t i = 1; i < count; ++i) {
    double x1, y1;
    if (!projection.Project(lon[i], lat[i], x1, y1, &inner)) {
      geo::ReportChained(err, inner, reporter, __LINE__, "GeographicToEqualArea failed");
      return std::fabs(sum) * 0.5;
    }
    const double span = std::max(std::fabs(x1 - x0), std::fabs(y1 - y0));
    if (span > limit) {
      const auto n = static_cast<int64_t>(span / limit) + 1;
      const double stepLon = (lon[i] - lon[i - 1]) / static_cast<double>(n);
      const double stepLat = (lat[i] - lat[i - 1]) / static_cast<double>(n);
      double pLon = lon[i - 1], pLat = lat[i - 1];
      for (int64_t k = 1; k < n; ++k) {
        pLon += stepLon;
        pLat += stepLat;
        double xs, ys;
        if (!projection.Project(pLon, pLat, xs, ys, &inner)) {
          geo::ReportChained(err, inner, reporter, __LINE__, "GeographicToEqualArea failed");
          return std::fabs(sum) * 0.5;
        }
        sum += (xs + x0) * (ys - y0);
        x0 = xs;
        y0 = ys;
      }
    }
    sum += (x1 + x0) * (y1 - y0);
    x0 = x1;
    y0 = y1;
  }
  return std::fabs(sum) * 0.5;
}

// 1 - sin(h) / h, accurate for small h.
double OneMinusSinc(double h) {
  const double h2 = h * h;
  if (std::fabs(h) < 1e-2) return h2 / 6 * (1 - h2 / 20 * (1 - h2 / 42));
  return 1 - std::sin(h) / h;
}

// The integral of lon d(sin lat) along the edge straight in longitude and latitude from
// (lon1, lat1) to (lon2, lat2):
//   lon1 (sin lat2 - sin lat1) + dlon ((cos lat2 - cos lat1) / dlat + sin lat2)
// with both differences in product form, so that the term stays accurate as dlat goes to 0 (its
// limit, an edge along a parallel, is 0).
double EdgeTerm(double lon1, double lat1, double lon2, double lat2) {
  const double h = (lat2 - lat1) * 0.5;
  const double mid = lat1 + h;
  const double sinDifference = 2 * std::cos(mid) * std::sin(h); // sin lat2 - sin lat1
  // sin lat2 - sin(mid) sin(h) / h  =  (sin lat2 - sin mid) + sin mid (1 - sinc h)
  const double bracket = 2 * std::cos(lat2 - h * 0.5) * std::sin(h * 0.5) + std::sin(mid) * OneMinusSinc(h);
  return lon1 * sinDifference + (lon2 - lon1) * bracket;
}

// VincentyGeodeticDistance: the inverse formula; not a number when it does not converge.
double Vincenty(double lon1, double lat1, double lon2, double lat2, double a, double b) {
  const double f = (a - b) / a;
  const double u1 = std::atan((1 - f) * std::tan(lat1)), u2 = std::atan((1 - f) * std::tan(lat2));
  const double sinU1 = std::sin(u1), cosU1 = std::cos(u1), sinU2 = std::sin(u2), cosU2 = std::cos(u2);
  const double l = lon2 - lon1;
  double lambda = l;
  double sinSigma = 0, cosSigma = 0, sigma = 0, cos2Alpha = 0, cos2SigmaM = 0;
  bool converged = false;
  for (int iteration = 0; iteration < 99; ++iteration) {
    const double sinLambda = std::sin(lambda), cosLambda = std::cos(lambda);
    const double t1 = cosU2 * sinLambda, t2 = cosU1 * sinU2 - sinU1 * cosU2 * cosLambda;
    sinSigma = std::sqrt(t1 * t1 + t2 * t2);
    if (sinSigma == 0) return 0.0;
    cosSigma = sinU1 * sinU2 + cosU1 * cosU2 * cosLambda;
    sigma = std::atan2(sinSigma, cosSigma);
    const double sinAlpha = cosU1 * cosU2 * sinLambda / sinSigma;
    cos2Alpha = 1 - sinAlpha * sinAlpha;
    cos2SigmaM = cosSigma - 2 * sinU1 * sinU2 / cos2Alpha;
    if (std::isnan(cos2SigmaM)) cos2SigmaM = 0;
    const double c = f / 16 * cos2Alpha * (4 + f * (4 - 3 * cos2Alpha));
    const double previous = lambda;
    lambda = l + (1 - c) * f * sinAlpha *
                     (sigma + c * sinSigma * (cos2SigmaM + c * cosSigma * (2 * cos2SigmaM * cos2SigmaM - 1)));
    if (!(std::fabs(lambda - previous) > 1e-12)) {
      converged = true;
      break;
    }
  }
  if (!converged) return std::nan("");
  const double u2sq = (a + b) * cos2Alpha / b * (a - b) / b;
  const double bigA = 1 + u2sq / 16384 * (4096 + u2sq * (-768 + u2sq * (320 - 175 * u2sq)));
  const double bigB = u2sq / 1024 * (256 + u2sq * (-128 + u2sq * (74 - 47 * u2sq)));
  const double deltaSigma =
      bigB * sinSigma *
      (cos2SigmaM + bigB / 4 *
                        (cosSigma * (2 * cos2SigmaM * cos2SigmaM - 1) -
                         bigB / 6 * cos2SigmaM * (4 * sinSigma * sinSigma - 3) *
                             (4 * cos2SigmaM * cos2SigmaM - 3)));
  return b * bigA * (sigma - deltaSigma);
}

// Point j of a line, in radians.
struct LonLat {
  geo::Steps v;
  double scale;
  double Lon(int32_t j) const { return v.X(j) * scale; }
  double Lat(int32_t j) const { return v.Y(j) * scale; }
};

// The approximate length of one edge on the ellipsoid, in units of a (1 - e^2).
double FallbackTerm(double lon1, double lat1, double lon2, double lat2, double e2) {
  double x = std::cos(lon1 - lon2) * std::cos(lat2) * std::cos(lat1) + std::sin(lat2) * std::sin(lat1);
  x = std::clamp(x, -1.0, 1.0); // rounding of nearly equal points stays a central angle
  const double c = std::atan2(std::sqrt(1 - x * x), x);
  const double s = std::sin((lat1 + lat2) / 2);
  const double g = 1 - e2 * s * s;
  const double dlon = lon2 - lon1, dlat = lat2 - lat1;
  const double i = dlon * dlon / (dlat * dlat + dlon * dlon);
  return std::fabs(c / (std::sqrt(g) * ((1 - i) * g + i * (1 - e2))));
}

// evec_LLPolyPerimeterCalculateWithVincenty: the length by Vincenty; 0 with a report when a
// distance does not converge.
double VincentyLength(const Egda_BaseData *poly, int32_t closed, int32_t radians, double semiMinor,
                      double semiMajor, Eerr_ErrorReport **err) {
  if (!geo::IsCoordMatrix(poly, 2)) return 0.0;
  const LonLat p{geo::Steps(*poly), radians ? 1.0 : kDegree};
  const int32_t n = p.v.n;
  double length = 0.0;
  for (int32_t j = 1; j < n; ++j) {
    const double d = Vincenty(p.Lon(j - 1), p.Lat(j - 1), p.Lon(j), p.Lat(j), semiMajor, semiMinor);
    if (std::isnan(d)) {
      geo::Report(err, "evec_LLPolyPerimeterCalculateWithVincenty", __LINE__,
                  "VincentyGeodeticDistance failed");
      return 0.0;
    }
    length += d;
  }
  if (closed == 1 && n > 0) {
    const double d = Vincenty(p.Lon(n - 1), p.Lat(n - 1), p.Lon(0), p.Lat(0), semiMajor, semiMinor);
    if (std::isnan(d)) {
      geo::Report(err, "evec_LLPolyPerimeterCalculateWithVincenty", __LINE__,
                  "VincentyGeodeticDistance failed");
      return 0.0;
    }
    length += d;
  }
  return length;
}

} // namespace

extern "C" {

double evec_LLPolygonAreaCalculateTri(const Egda_BaseData *ring, int32_t radians,
                                      double semiMinor, double semiMajor,
                                      Eerr_ErrorReport **err) try {
  geo::Clear(err);
  static const char *reporter = "evec_LLPolygonAreaCalculateTri";
  if (!geo::IsCoordMatrix(ring, 2, 3)) {
    geo::Report(err, reporter, 1, "Invalid input polygon");
    return 0.0;
  }
  const int32_t n = ring->columns;
  const std::size_t bytes = (static_cast<std::size_t>(n) + 1) * sizeof(double);
  auto *lon = static_cast<double *>(emsc_HeapMalloc(bytes));
  auto *lat = lon ? static_cast<double *>(emsc_HeapMalloc(bytes)) : nullptr;
  if (!lat) {
    emsc_HeapFree(lon);
    geo::Report(err, reporter, 2, "Cannot allocate space");
    return 0.0;
  }
  const LonLat points{geo::Steps(*ring), radians ? 1.0 : kDegree};
  double minLon = 9999, maxLon = -9999, minLat = 9999, maxLat = -9999;
  for (int32_t j = 0; j < n; ++j) {
    lon[j] = points.Lon(j);
    lat[j] = points.Lat(j);
    minLon = std::min(minLon, lon[j]);
    maxLon = std::max(maxLon, lon[j]);
    minLat = std::min(minLat, lat[j]);
    maxLat = std::max(maxLat, lat[j]);
  }
  lon[n] = lon[0];
  lat[n] = lat[0];
  const double midLat = (maxLat + minLat) / 2;
  const double ratio = semiMinor / semiMajor;

  double area = 0.0;
  if (std::fabs(std::cos(midLat) * (maxLon - minLon)) < kQuarterPi && maxLat - minLat < kQuarterPi) {
    const EqualArea projection((maxLon + minLon) / 2, midLat, semiMajor, 1 - ratio * ratio);
    Eerr_ErrorReport *inner = nullptr;
    area = ProjectedRingArea(lon, lat, n + 1, projection, kSubdivision, &inner);
    if (inner) geo::ReportCallee(err, inner, reporter, 3, "GeographicPolygonArea");
  } else {
    const double c = std::cos(midLat), s = std::sin(midLat);
    const double r = semiMinor / (c * c + ratio * ratio * s * s);
    double e = 0.0;
    for (int32_t i = 0; i < n; ++i)
      if (lat[i] != lat[i + 1]) e += EdgeTerm(lon[i], lat[i], lon[i + 1], lat[i + 1]);
    area = std::fabs(e) * r * r;
  }
  emsc_HeapFree(lat);
  emsc_HeapFree(lon);
  return area;
} TAVIRON_GUARD(err, 0.0)

double evec_LLRegionAreaCalculate(const Efga_CoordinateBlock *region, int32_t radians,
                                  double semiMinor, double semiMajor, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  // Ring 0 is the outer ring; the rings after it alternately take away (holes) and add
  // (islands), as for planar regions.
  return geo::SumRings(
      region, "evec_LLRegionAreaCalculate", "Invalid input region",
      "Error from evec_LLPolygonAreaCalculateTri",
      [&](int32_t i, const Egda_BaseData *ring, Eerr_ErrorReport **inner) {
        const double area = evec_LLPolygonAreaCalculateTri(ring, radians, semiMinor, semiMajor, inner);
        return i % 2 ? -area : area;
      },
      err);
} TAVIRON_GUARD(err, 0.0)

double evec_LLPolyPerimeterCalculate(const Egda_BaseData *poly, int32_t closed, int32_t radians,
                                     double semiMinor, double semiMajor, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!geo::IsCoordMatrix(poly, 2)) {
    geo::Report(err, "evec_LLPolyPerimeterCalculate", 1, "Invalid input poly");
    return 0.0;
  }
  Eerr_ErrorReport *inner = nullptr;
  const double length =
      VincentyLength(poly, closed, radians, semiMinor, semiMajor, &inner);
  if (!inner) return length;
  eerr_DeleteErrorReportEx(&inner);

  const double ratio = semiMinor / semiMajor;
  const double e2 = 1 - ratio * ratio;
  const LonLat p{geo::Steps(*poly), radians ? 1.0 : kDegree};
  const int32_t n = p.v.n;
  auto edge = [&](int32_t i, int32_t j) {
    const double lon1 = p.Lon(i), lat1 = p.Lat(i), lon2 = p.Lon(j), lat2 = p.Lat(j);
    return lon1 == lon2 && lat1 == lat2 ? 0.0 : FallbackTerm(lon1, lat1, lon2, lat2, e2);
  };
  double sum = 0.0;
  for (int32_t j = 1; j < n; ++j) sum += edge(j - 1, j);
  if (closed == 1 && n > 0) sum += edge(n - 1, 0);
  return semiMajor * (1 - e2) * sum;
} TAVIRON_GUARD(err, 0.0)

} // extern "C"
