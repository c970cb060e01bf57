// Projections and projection pairs on PROJ: the PROJ definition of a record, transforms of
// points, and points projected with units.
#include "eprj.h"

#include <sqlite3.h>

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

// PROJ's names of the spheroids of the table, in its order; null: given by its axes.
constexpr const char *kProjEllipsoids[] = {
    "clrk66", "clrk80", "bessel", "new_intl", "intl",    "WGS72",   "evrst30",
    "WGS66",  "GRS80",  "airy",   "evrst48",  "mod_airy", "WGS84",  "SEasia",
    "aust_SA", "krass", "hough",  "fschr60",  "fschr68", nullptr,
};
static_assert(std::size(kProjEllipsoids) == std::size(kSpheroids));

constexpr int32_t kWgs84 = 12;      // table index of WGS 84
constexpr int32_t kClarke1866 = 0;  // table index of Clarke 1866
constexpr int32_t kGrs1980 = 8;     // table index of GRS 1980

// A PROJ context of our own; PROJ's own logging is off (its errors reach our reports).
PJ_CONTEXT *NewContext() {
  PJ_CONTEXT *context = proj_context_create();
  if (context) proj_log_level(context, PJ_LOG_NONE); // the one place contexts are made
  return context;
}

std::string Label(const Eprj_ProParameters &p) {
  const char *name = Text(p.proName);
  std::string label =
      name ? std::string(name, strnlen(name, static_cast<std::size_t>(p.proName.count - 1)))
      : p.proNumber >= 0 && p.proNumber < kProjectionCount ? kProjectionNames[p.proNumber]
                                                           : lower::Format("number %d", p.proNumber);
  label = "\"" + label + "\"";
  if (p.proNumber == 1 || p.proNumber == 2) label += lower::Format(" zone %d", p.proZone);
  return label;
}

struct SpheroidChoice {
  std::string name;
  double a = 0, b = 0, radius = 0;
  int32_t index = -1; // table entry it matches, -1 for none
};

// The spheroid of the record: its own when it has axes, else the one parameters 1 and 2 name,
// else WGS 84 for geographic coordinates and Clarke 1866 for the others.
bool ChooseSpheroid(const Eprj_ProParameters &p, SpheroidChoice &out, std::string &error) {
  const Eprj_Spheroid &s = p.proSpheroid;
  if (s.a > 0 && std::isfinite(s.a)) {
    if (!(s.b > 0 && s.b <= s.a && std::isfinite(s.b))) {
      error = lower::Format("invalid spheroid axes %.17g, %.17g", s.a, s.b);
      return false;
    }
    out.a = s.a;
    out.b = s.b;
    out.radius = s.radius > 0 && std::isfinite(s.radius) ? s.radius
                 : s.a == s.b                              ? s.a
                                                           : (2 * s.a + s.b) / 3;
    const char *name = Text(s.sphereName);
    out.name = name ? name : "";
  } else {
    const bool parametersNameOne = p.proParams.data && p.proParams.count >= 2 &&
                                   (p.proParams.data[0] != 0 || p.proParams.data[1] != 0);
    if (parametersNameOne) {
      Eprj_Spheroid found{};
      lower::CalleeReport inner;
      if (!eprj_SpheroidByParms(nullptr, &p.proParams, &found, &inner)) {
        error = inner && inner->message ? inner->message : "parameters 1 and 2 name no spheroid";
        inner.Drop();
        FreeSpheroid(found);
        return false;
      }
      out.a = found.a;
      out.b = found.b;
      out.radius = found.radius;
      out.name = Text(found.sphereName) ? Text(found.sphereName) : "";
      FreeSpheroid(found);
    } else {
      const SpheroidEntry &e = kSpheroids[p.proNumber == 0 ? kWgs84 : kClarke1866];
      out.a = e.a;
      out.b = e.b;
      out.radius = e.a == e.b ? e.a : (2 * e.a + e.b) / 3;
      out.name = e.name;
    }
  }
  // The table entry of that name when the axes agree to a millimetre, else one with the same axes.
  for (int32_t i = 0; i < kSpheroidCount && out.index < 0; ++i)
    if (estr_Eqic(kSpheroids[i].name, out.name.c_str()) &&
        std::fabs(kSpheroids[i].a - out.a) <= 1e-3 && std::fabs(kSpheroids[i].b - out.b) <= 1e-3)
      out.index = i;
  for (int32_t i = 0; i < kSpheroidCount && out.index < 0; ++i)
    if (std::fabs(kSpheroids[i].a - out.a) <= 1e-6 && std::fabs(kSpheroids[i].b - out.b) <= 1e-6)
      out.index = i;
  return true;
}

std::string Num17(double v) { return lower::Format("%.17g", v); }
std::string Degrees(double radians) { return Num17(radians * 180 / kPi); }

std::string EarthTerms(const SpheroidChoice &s, bool sphere) {
  if (sphere) return " +R=" + Num17(s.radius);
  if (s.index >= 0 && kProjEllipsoids[s.index]) return std::string(" +ellps=") + kProjEllipsoids[s.index];
  if (s.a == s.b) return " +R=" + Num17(s.a);
  return " +a=" + Num17(s.a) + " +b=" + Num17(s.b);
}

bool DatumTerms(const Eprj_Datum &d, std::string &out, std::string &error) {
  if (!Text(d.datumname) || d.type == EPRJ_DATUM_NONE) return true;
  if (d.type == EPRJ_DATUM_GRID) {
    const char *grid = Text(d.gridname);
    if (!grid) {
      error = "grid datum without a shift grid";
      return false;
    }
    out += std::string(" +nadgrids=") + grid;
    return true;
  }
  if (d.type != EPRJ_DATUM_PARAMETRIC || !d.params.data || d.params.count < 3) {
    error = "datum without its shift values";
    return false;
  }
  const int32_t n = d.params.count >= 7 ? 7 : 3;
  out += " +towgs84=";
  for (int32_t i = 0; i < n; ++i) {
    if (!std::isfinite(d.params.data[i])) {
      error = "datum shift values are not finite";
      return false;
    }
    out += (i ? "," : "") + Num17(d.params.data[i]);
  }
  return true;
}

// Whether a NAD27 State Plane zone's conversion (EPSG code) is one: a projected coordinate system
// of PROJ's database on the Clarke 1866 ellipsoid (NAD27 and the local datums of its time) is
// built on it. Zones are known by the systems that use them, not by what their conversions are
// called (the Arizona and old Michigan ones are not called "CS27"). -1 when the database cannot
// answer.
int32_t UsedByNad27System(PJ_CONTEXT *context, int32_t code) {
  static const char *const kSql =
      "SELECT 1 FROM projected_crs p "
      "JOIN geodetic_crs g ON g.auth_name = p.geodetic_crs_auth_name AND g.code = p.geodetic_crs_code "
      "JOIN geodetic_datum d ON d.auth_name = g.datum_auth_name AND d.code = g.datum_code "
      "WHERE p.conversion_auth_name = 'EPSG' AND p.conversion_code = ?1 "
      "AND d.ellipsoid_auth_name = 'EPSG' AND d.ellipsoid_code IN ('7008', '7009') LIMIT 1";
  const char *path = proj_context_get_database_path(context);
  sqlite3 *db = nullptr;
  sqlite3_stmt *query = nullptr;
  int32_t answer = -1;
  if (path && sqlite3_open_v2(path, &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, kSql, -1, &query, nullptr) == SQLITE_OK) {
    const std::string text = std::to_string(code);
    sqlite3_bind_text(query, 1, text.c_str(), -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(query);
    answer = rc == SQLITE_ROW ? 1 : rc == SQLITE_DONE ? 0 : -1;
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  return answer;
}

// The PROJ terms of a State Plane zone (without earth and datum), from PROJ's database.
bool StatePlaneTerms(const Eprj_ProParameters &p, const SpheroidChoice &s, std::string &out,
                     std::string &error) {
  const char *datum = Text(p.proSpheroid.datum.datumname);
  bool nad83;
  if (datum && estr_Eqic(datum, "NAD83"))
    nad83 = true;
  else if (datum && estr_Eqic(datum, "NAD27"))
    nad83 = false;
  else if (!datum && s.index == kGrs1980)
    nad83 = true;
  else if (!datum && s.index == kClarke1866)
    nad83 = false;
  else {
    error = "State Plane needs the NAD27 or NAD83 datum";
    return false;
  }
  const int32_t zone = p.proZone;
  if (zone < 101 || zone > 5999) {
    error = "unknown State Plane zone";
    return false;
  }
  // EPSG numbers its conversions after the zone codes: 10000 + zone for NAD27, 10030 + zone for
  // NAD83 in meters (Kentucky North came later).
  const int32_t code = nad83 ? (zone == 1601 ? 15303 : 10030 + zone) : 10000 + zone;
  PJ_CONTEXT *context = NewContext();
  if (!context) {
    error = "no PROJ context";
    return false;
  }
  const std::string codeText = std::to_string(code);
  PJ *conversion = proj_create_from_database(context, "EPSG", codeText.c_str(),
                                             PJ_CATEGORY_COORDINATE_OPERATION, 0, nullptr);
  bool ok = false;
  if (conversion) {
    const char *name = proj_get_name(conversion);
    const std::string n = name ? name : "";
    bool matches;
    if (nad83) {
      matches = n.rfind("SPCS83 ", 0) == 0 && n.find("(meters)") != std::string::npos;
    } else {
      const int32_t used = UsedByNad27System(context, code);
      // (A database PROJ no longer lays out that way: the zones' usual names.)
      matches = used < 0 ? n.find("CS27") != std::string::npos : used == 1;
    }
    const char *text = matches ? proj_as_proj_string(context, conversion, PJ_PROJ_5, nullptr) : nullptr;
    if (text) {
      out = " ";
      for (const char *c = text; *c; ++c) out += (*c == '\n' || *c == '\t') ? ' ' : *c;
      ok = true;
    }
    proj_destroy(conversion);
  }
  proj_context_destroy(context);
  if (!ok) error = lower::Format("State Plane zone %d (%s) is unknown", zone, nad83 ? "NAD83" : "NAD27");
  return ok;
}

// Pairs made by eprj_ProjectionPairCreate and not yet initialised, by the thread that made them.
// Kept in one guarded table (not per thread) so that freeing a pair on any thread forgets it.
struct PendingPairs {
  std::mutex lock;
  std::vector<std::pair<std::thread::id, _eprj_ProjectionPair *>> entries;

  void Set(_eprj_ProjectionPair *pair) {
    std::lock_guard guard(lock);
    std::erase_if(entries, [](const auto &e) { return e.first == std::this_thread::get_id(); });
    entries.emplace_back(std::this_thread::get_id(), pair);
  }
  _eprj_ProjectionPair *Mine() {
    std::lock_guard guard(lock);
    for (const auto &e : entries)
      if (e.first == std::this_thread::get_id()) return e.second;
    return nullptr;
  }
  void Forget(const _eprj_ProjectionPair *pair) {
    std::lock_guard guard(lock);
    std::erase_if(entries, [pair](const auto &e) { return e.second == pair; });
  }
};

PendingPairs &Pending() {
  static PendingPairs *pending = new PendingPairs; // never destroyed: used until the process ends
  return *pending;
}

} // namespace

namespace taviron::eprj {

const char *NativeUnits(bool geographic) { return geographic ? "dd" : "meters"; }

// The PROJ definition of a record; false with the reason in error.
bool MakeCrs(const Eprj_ProParameters &p, Crs &crs, std::string &error) {
  crs.label = Label(p);
  if (p.proType != EPRJ_INTERNAL) {
    error = "only the numbered projections are supported";
    return false;
  }
  const int32_t n = p.proNumber;
  if (n < 0 || n >= kProjectionCount) {
    error = "not a numbered projection";
    return false;
  }
  if (n >= 3 && (!p.proParams.data || p.proParams.count < 15)) {
    error = "fifteen parameters are needed";
    return false;
  }
  const double *v = p.proParams.data;
  if (n >= 3)
    for (int32_t i = 2; i < 15; ++i)
      if (!std::isfinite(v[i])) {
        error = lower::Format("parameter %d is not finite", i + 1);
        return false;
      }
  SpheroidChoice s;
  if (!ChooseSpheroid(p, s, error)) return false;
  auto D = [&](int32_t i) { return Degrees(v[i]); };
  auto offsets = [&] { return " +x_0=" + Num17(v[6]) + " +y_0=" + Num17(v[7]); };
  auto centre = [&] { return " +lon_0=" + D(4) + " +lat_0=" + D(5); };
  std::string t;
  bool sphere = false;
  switch (n) {
  case 0: t = "+proj=longlat"; break;
  case 1: {
    const int32_t zone = p.proZone < 0 ? -p.proZone : p.proZone;
    if (zone < 1 || zone > 60) {
      error = "UTM zone must be 1 to 60 (negative for the southern hemisphere)";
      return false;
    }
    t = lower::Format("+proj=utm +zone=%d", zone) + (p.proZone < 0 ? " +south" : "");
    break;
  }
  case 2:
    if (!StatePlaneTerms(p, s, t, error)) return false;
    t.erase(0, 1);
    break;
  case 3: t = "+proj=aea +lat_1=" + D(2) + " +lat_2=" + D(3) + centre() + offsets(); break;
  case 4: t = "+proj=lcc +lat_1=" + D(2) + " +lat_2=" + D(3) + centre() + offsets(); break;
  case 5: t = "+proj=merc +lon_0=" + D(4) + " +lat_ts=" + D(5) + offsets(); break;
  case 6:
    t = std::string("+proj=stere +lat_0=") + (v[5] < 0 ? "-90" : "90") + " +lat_ts=" + D(5) +
        " +lon_0=" + D(4) + offsets();
    break;
  case 7: t = "+proj=poly" + centre() + offsets(); break;
  case 8:
    t = "+proj=eqdc +lat_1=" + D(2) + " +lat_2=" + (v[8] == 0 ? D(2) : D(3)) + centre() + offsets();
    break;
  case 9: t = "+proj=tmerc +k_0=" + Num17(v[2]) + centre() + offsets(); break;
  case 10: t = "+proj=stere" + centre() + offsets(); sphere = true; break;
  case 11: t = "+proj=laea" + centre() + offsets(); sphere = true; break;
  case 12: t = "+proj=aeqd" + centre() + offsets(); sphere = true; break;
  case 13: t = "+proj=gnom" + centre() + offsets(); sphere = true; break;
  case 14: t = "+proj=ortho" + centre() + offsets(); sphere = true; break;
  case 15: t = "+proj=nsper +h=" + Num17(v[2]) + centre() + offsets(); sphere = true; break;
  case 16: t = "+proj=sinu +lon_0=" + D(4) + offsets(); sphere = true; break;
  case 17: t = "+proj=eqc +lat_ts=" + D(5) + " +lon_0=" + D(4) + offsets(); sphere = true; break;
  case 18: t = "+proj=mill +lon_0=" + D(4) + offsets(); sphere = true; break;
  case 19: t = "+proj=vandg +lon_0=" + D(4) + offsets(); sphere = true; break;
  case 20:
    t = "+proj=omerc +k_0=" + Num17(v[2]) + " +lat_0=" + D(5);
    t += v[12] == 0 ? " +lon_1=" + D(8) + " +lat_1=" + D(9) + " +lon_2=" + D(10) + " +lat_2=" + D(11)
                    : " +alpha=" + D(3) + " +lonc=" + D(4);
    t += offsets();
    break;
  }
  t += EarthTerms(s, sphere);
  if (!DatumTerms(p.proSpheroid.datum, t, error)) return false;
  crs.geographic = n == 0;
  if (!crs.geographic) t += " +units=m";
  t += " +no_defs +type=crs";
  crs.definition = t;
  // Let PROJ judge the values.
  PJ_CONTEXT *context = NewContext();
  if (!context) {
    error = "no PROJ context";
    return false;
  }
  PJ *made = proj_create(context, t.c_str());
  if (!made) error = std::string("PROJ refuses it: ") + proj_context_errno_string(context, proj_context_errno(context));
  proj_destroy(made);
  proj_context_destroy(context);
  return made != nullptr;
}

// Heap objects with C++ members live in emsc heap blocks.

// Fills an empty pair from copies of the records; false when out of memory.
bool FillPair(_eprj_ProjectionPair &pair, const Eprj_ProParameters &source, const Crs &sourceCrs,
              const Eprj_ProParameters &destination, const Crs &destinationCrs) {
  Eprj_ProParameters a, b;
  if (!CopyProParameters(source, a)) return false;
  if (!CopyProParameters(destination, b)) {
    FreeProParametersContents(a);
    return false;
  }
  std::lock_guard guard(pair.lock);
  pair.Release();
  FreeProParametersContents(pair.source);
  FreeProParametersContents(pair.destination);
  pair.source = a;
  pair.destination = b;
  pair.sourceCrs = sourceCrs;
  pair.destinationCrs = destinationCrs;
  pair.initialised = true;
  return true;
}

// Transforms n points (x0, y0, ...) in place. Without `partial` a point that fails is reported and
// nothing changes; with it, failed points become NaN and the call succeeds.
bool PairTransform(_eprj_ProjectionPair &pair, bool inverse, int32_t n, double *xy, bool partial,
                   const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  if (!pair.initialised) {
    lower::Report(err, reporter, code, "The projection pair is not initialised");
    return false;
  }
  if (n <= 0) return true;
  const std::string &from = inverse ? pair.destinationCrs.label : pair.sourceCrs.label;
  const std::string &to = inverse ? pair.sourceCrs.label : pair.destinationCrs.label;
  std::lock_guard guard(pair.lock);
  if (!pair.operation) {
    if (!pair.context) pair.context = NewContext();
    PJ *operation = pair.context
                        ? proj_create_crs_to_crs(pair.context, pair.sourceCrs.definition.c_str(),
                                                 pair.destinationCrs.definition.c_str(), nullptr)
                        : nullptr;
    if (operation) {
      pair.operation = proj_normalize_for_visualization(pair.context, operation);
      proj_destroy(operation);
    }
    if (!pair.operation) {
      lower::Report(err, reporter, code, "Cannot reproject from projection %s to projection %s: %s",
                    pair.sourceCrs.label.c_str(), pair.destinationCrs.label.c_str(),
                    pair.context ? proj_context_errno_string(pair.context, proj_context_errno(pair.context))
                                 : "no PROJ context");
      return false;
    }
  }
  std::vector<double> work(xy, xy + 2 * static_cast<std::size_t>(n));
  proj_errno_reset(pair.operation);
  const std::size_t stride = 2 * sizeof(double);
  proj_trans_generic(pair.operation, inverse ? PJ_INV : PJ_FWD, work.data(), stride,
                     static_cast<std::size_t>(n), work.data() + 1, stride,
                     static_cast<std::size_t>(n), nullptr, 0, 0, nullptr, 0, 0);
  for (int32_t k = 0; k < n; ++k) {
    double &x = work[2 * static_cast<std::size_t>(k)], &y = work[2 * static_cast<std::size_t>(k) + 1];
    if (std::isfinite(x) && std::isfinite(y) && std::fabs(x) < 1e30 && std::fabs(y) < 1e30) continue;
    if (partial) {
      x = y = std::numeric_limits<double>::quiet_NaN();
      continue;
    }
    const int error = proj_errno(pair.operation);
    lower::Report(err, reporter, code,
                  "Point %d (%.17g, %.17g) cannot be reprojected from projection %s to projection %s%s%s",
                  k, xy[2 * k], xy[2 * k + 1], from.c_str(), to.c_str(), error ? ": " : "",
                  error ? proj_context_errno_string(pair.context, error) : "");
    return false;
  }
  std::copy(work.begin(), work.end(), xy);
  return true;
}

// Scale and offset taking values in unit `from` to unit `to` (null or equal names: none).
bool UnitScale(const char *from, const char *to, double &scale, double &offset, const char *reporter,
               int32_t code, Eerr_ErrorReport **err) {
  scale = 1;
  offset = 0;
  if (!from || !to || estr_Eqic(from, to)) return true;
  const double values[2] = {0, 1};
  double results[2];
  lower::CalleeReport inner;
  if (ecvt_UnitsConvertByName(values, from, results, to, 2, &inner) != 0) {
    lower::ReportCallee(err, inner, reporter, code, "ecvt_UnitsConvertByName");
    return false;
  }
  inner.Drop(); // "other" units pass unchanged
  offset = results[0];
  scale = results[1] - results[0];
  return true;
}

void Scale(double *xy, int32_t n, double scale, double offset) {
  if (scale == 1 && offset == 0) return;
  for (int32_t i = 0; i < 2 * n; ++i) xy[i] = xy[i] * scale + offset;
}

// The pair from `from` to `to`, kept by `from` (whose lock the caller holds); null with a report.
_eprj_ProjectionPair *CachedPair(_eprj_MapProjection &from, const _eprj_MapProjection &to,
                                 const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  if (from.cached && from.cached->destinationCrs.definition == to.crs.definition)
    return from.cached;
  lower::HeapDelete(from.cached);
  from.cached = lower::HeapNew<_eprj_ProjectionPair>();
  if (!from.cached || !FillPair(*from.cached, from.parameters, from.crs, to.parameters, to.crs)) {
    lower::HeapDelete(from.cached);
    from.cached = nullptr;
    lower::Report(err, reporter, code, "Out of memory");
    return nullptr;
  }
  return from.cached;
}

} // namespace taviron::eprj

extern "C" {

Eprj_MapProjection *eprj_ProjectionInit(Eint_InitToolkitData * /*init*/,
                                        const Eprj_ProParameters *parameters,
                                        Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eprj_ProjectionInit";
  lower::Clear(err);
  if (!parameters) {
    lower::Report(err, kReporter, 1, "Invalid input projection parameters");
    return nullptr;
  }
  Crs crs;
  std::string why;
  if (!MakeCrs(*parameters, crs, why)) {
    lower::Report(err, kReporter, 2, "Projection %s cannot be used: %s", crs.label.c_str(), why.c_str());
    return nullptr;
  }
  _eprj_MapProjection *projection = lower::HeapNew<_eprj_MapProjection>();
  if (!projection || !CopyProParameters(*parameters, projection->parameters)) {
    lower::HeapDelete(projection);
    lower::Report(err, kReporter, 3, "Out of memory");
    return nullptr;
  }
  projection->crs = crs;
  return projection;
} TAVIRON_GUARD(err, nullptr)

void eprj_ProjectionQuit(Eprj_MapProjection *projection) try {
  if (!projection) return;
  std::lock_guard guard(projection->lock);
  lower::HeapDelete(projection->cached);
  projection->cached = nullptr;
} TAVIRON_GUARD_QUIET_VOID

void eprj_ProjectionFree(Eprj_MapProjection **projection) try {
  if (!projection || !*projection) return;
  lower::HeapDelete(*projection);
  *projection = nullptr;
} TAVIRON_GUARD_QUIET_VOID

Eprj_ProParameters *eprj_MapProjectionCSRGet(const Eprj_MapProjection *projection,
                                             const char *className) try {
  if (!projection || !className || std::strcmp(className, "Eprj_ProParameters") != 0) return nullptr;
  return const_cast<Eprj_ProParameters *>(&projection->parameters);
} TAVIRON_GUARD_QUIET(nullptr)

char16_t *eprj_MapProjectionToUNICODE(const Eprj_MapProjection *projection,
                                      Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!projection) {
    lower::Report(err, "eprj_MapProjectionToUNICODE", 1, "Invalid input projection");
    return nullptr;
  }
  const std::string &text = projection->crs.definition;
  auto *out = static_cast<char16_t *>(emsc_HeapMalloc((text.size() + 1) * sizeof(char16_t)));
  if (!out) {
    lower::Report(err, "eprj_MapProjectionToUNICODE", 2, "Out of memory");
    return nullptr;
  }
  for (std::size_t i = 0; i < text.size(); ++i) out[i] = static_cast<unsigned char>(text[i]);
  return out;
} TAVIRON_GUARD(err, nullptr)

int32_t eprj_ProjectionsEqual(const Eprj_MapInfo *infoA, const Eprj_ProParameters *parametersA,
                              const Eprj_MapInfo *infoB, const Eprj_ProParameters *parametersB,
                              Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (parametersA && parametersB) {
    Crs a, b;
    std::string why;
    if (MakeCrs(*parametersA, a, why) && MakeCrs(*parametersB, b, why))
      return a.definition == b.definition;
    return eprj_ProParametersEqual(parametersA, parametersB, nullptr);
  }
  if (parametersA || parametersB) return 0;
  const char *a = infoA ? Text(infoA->proName) : nullptr;
  const char *b = infoB ? Text(infoB->proName) : nullptr;
  return estr_Eqic(a ? a : kUnknownName, b ? b : kUnknownName) != 0;
} TAVIRON_GUARD(err, 0)

Eprj_ProjectionPair *eprj_ProjectionPairCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  _eprj_ProjectionPair *pair = lower::HeapNew<_eprj_ProjectionPair>();
  if (!pair) {
    lower::Report(err, "eprj_ProjectionPairCreate", 1, "Out of memory");
    return nullptr;
  }
  Pending().Set(pair);
  return pair;
} TAVIRON_GUARD(err, nullptr)

Eprj_ProjectionPair *eprj_ProjectionPairInit(Eint_InitToolkitData * /*init*/,
                                             const Eprj_ProParameters *source,
                                             const Eprj_ProParameters *destination,
                                             Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eprj_ProjectionPairInit";
  lower::Clear(err);
  if (!source || !destination) {
    lower::Report(err, kReporter, 1, "Invalid input: source and destination parameters are needed");
    return nullptr;
  }
  Crs a, b;
  std::string why;
  if (!MakeCrs(*source, a, why)) {
    lower::Report(err, kReporter, 2, "Source projection %s cannot be used: %s", a.label.c_str(), why.c_str());
    return nullptr;
  }
  if (!MakeCrs(*destination, b, why)) {
    lower::Report(err, kReporter, 3, "Destination projection %s cannot be used: %s", b.label.c_str(),
                  why.c_str());
    return nullptr;
  }
  _eprj_ProjectionPair *pair = Pending().Mine();
  // A pair made here is freed should the filling fail or throw.
  lower::HeapPtr<_eprj_ProjectionPair> made(pair ? nullptr : lower::HeapNew<_eprj_ProjectionPair>());
  if (made) pair = made.get();
  if (!pair || !FillPair(*pair, *source, a, *destination, b)) {
    lower::Report(err, kReporter, 4, "Out of memory");
    return nullptr;
  }
  if (made) return made.release();
  Pending().Forget(pair);
  return pair;
} TAVIRON_GUARD(err, nullptr)

void eprj_ProjectionPairFree(Eprj_ProjectionPair **pair) try {
  if (!pair || !*pair) return;
  Pending().Forget(*pair);
  lower::HeapDelete(*pair);
  *pair = nullptr;
} TAVIRON_GUARD_QUIET_VOID

Eprj_ProjectionPair *eprj_ProjectionPairCopy(const Eprj_ProjectionPair *pair,
                                             Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eprj_ProjectionPairCopy";
  lower::Clear(err);
  if (!pair || !pair->initialised) {
    lower::Report(err, kReporter, 1, "Invalid input: an initialised projection pair is needed");
    return nullptr;
  }
  lower::HeapPtr<_eprj_ProjectionPair> copy(lower::HeapNew<_eprj_ProjectionPair>()); // freed should filling throw
  if (!copy || !FillPair(*copy, pair->source, pair->sourceCrs, pair->destination, pair->destinationCrs)) {
    lower::Report(err, kReporter, 2, "Out of memory");
    return nullptr;
  }
  return copy.release();
} TAVIRON_GUARD(err, nullptr)

const Eprj_ProParameters *eprj_ProjectionPairParameters(const Eprj_ProjectionPair *pair,
                                                        int32_t which) try {
  if (!pair || !pair->initialised) return nullptr;
  return which == 0 ? &pair->source : &pair->destination;
} TAVIRON_GUARD_QUIET(nullptr)

const char *eprj_ProjectionPairUnits(const Eprj_ProjectionPair *pair, int32_t which) try {
  if (!pair || !pair->initialised) return nullptr;
  return NativeUnits(which == 0 ? pair->sourceCrs.geographic : pair->destinationCrs.geographic);
} TAVIRON_GUARD_QUIET(nullptr)

int32_t eprj_ProjectionPairTransform(Eprj_ProjectionPair *pair, int32_t inverse, int32_t count,
                                     double *xy, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eprj_ProjectionPairTransform";
  lower::Clear(err);
  if (!pair || count < 0 || (count > 0 && !xy)) {
    lower::Report(err, kReporter, 1, "Invalid input: pair, count or points");
    return -1;
  }
  return PairTransform(*pair, inverse != 0, count, xy, false, kReporter, 2, err) ? 0 : -1;
} TAVIRON_GUARD(err, -1)

Eprj_Points *eprj_PointsCreate(int32_t count, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (count < 0) {
    lower::Report(err, "eprj_PointsCreate", 1, "Invalid point count %d", count);
    return nullptr;
  }
  auto *points = static_cast<Eprj_Points *>(emsc_HeapMalloc(sizeof(Eprj_Points)));
  if (points && count > 0) {
    points->points = static_cast<Eprj_Coordinate *>(
        emsc_HeapMalloc(static_cast<std::size_t>(count) * sizeof(Eprj_Coordinate)));
    if (!points->points) {
      emsc_HeapFree(points);
      points = nullptr;
    }
  }
  if (!points) {
    lower::Report(err, "eprj_PointsCreate", 2, "Out of memory for %d points", count);
    return nullptr;
  }
  points->count = count;
  return points;
} TAVIRON_GUARD(err, nullptr)

void eprj_PointsFree(Eprj_Points **points) try {
  if (!points || !*points) return;
  emsc_HeapFree((*points)->points);
  emsc_HeapFree(*points);
  *points = nullptr;
} TAVIRON_GUARD_QUIET_VOID

Eprj_Points *eprj_ProjectWithUnits(const char *fromUnits, Eprj_MapProjection *from,
                                   const char *toUnits, Eprj_MapProjection *to,
                                   const Eprj_Points *in, Eprj_Points *out,
                                   Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eprj_ProjectWithUnits";
  lower::Clear(err);
  if (!from || !to) {
    lower::Report(err, kReporter, 1, "Invalid input: both projections are needed");
    return nullptr;
  }
  if (!in || in->count < 0 || (in->count > 0 && !in->points) ||
      (out && (out->count < 0 || (out->count > 0 && !out->points)))) {
    lower::Report(err, kReporter, 2, "Invalid point set");
    return nullptr;
  }
  double inScale, inOffset, outScale, outOffset;
  if (!UnitScale(fromUnits, NativeUnits(from->crs.geographic), inScale, inOffset, kReporter, 3, err) ||
      !UnitScale(NativeUnits(to->crs.geographic), toUnits, outScale, outOffset, kReporter, 3, err))
    return nullptr;
  const int32_t n = in->count;
  std::vector<double> xy(2 * static_cast<std::size_t>(n));
  for (int32_t k = 0; k < n; ++k) {
    xy[2 * k] = in->points[k].x;
    xy[2 * k + 1] = in->points[k].y;
  }
  Scale(xy.data(), n, inScale, inOffset);
  if (from->crs.definition != to->crs.definition) {
    std::lock_guard guard(from->lock);
    _eprj_ProjectionPair *pair = CachedPair(*from, *to, kReporter, 4, err);
    if (!pair || !PairTransform(*pair, false, n, xy.data(), false, kReporter, 5, err)) return nullptr;
  }
  Scale(xy.data(), n, outScale, outOffset);
  Eprj_Points *result = out;
  if (!result) {
    lower::CalleeReport inner;
    result = eprj_PointsCreate(n, &inner);
    if (!result) {
      lower::ReportCallee(err, inner, kReporter, 6, "eprj_PointsCreate");
      return nullptr;
    }
  } else if (result->count != n) {
    Eprj_Coordinate *block = nullptr;
    if (n > 0) {
      block = static_cast<Eprj_Coordinate *>(
          emsc_HeapMalloc(static_cast<std::size_t>(n) * sizeof(Eprj_Coordinate)));
      if (!block) {
        lower::Report(err, kReporter, 6, "Out of memory for %d points", n);
        return nullptr;
      }
    }
    emsc_HeapFree(result->points);
    result->points = block;
    result->count = n;
  }
  for (int32_t k = 0; k < n; ++k) result->points[k] = Eprj_Coordinate{xy[2 * k], xy[2 * k + 1]};
  return result;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
