// Map information and projection parameters: what the units of the family share (tables,
// counted strings and arrays, the record designs, the projections on PROJ). Not part of the C
// interface.
#ifndef TAVIRON_LOWER_EPRJ_INTERNAL_H
#define TAVIRON_LOWER_EPRJ_INTERNAL_H

#include <proj.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <numbers>
#include <string>

#include "emif.h"
#include "eprj.h"
#include "ownership.h"
#include "record.h"

namespace taviron::eprj {

inline constexpr double kPi = std::numbers::pi;

// ---- Tables ----

struct SpheroidEntry {
  const char *name;
  double a;
  double b;
};

// Numbered from 1 in this order.
inline constexpr SpheroidEntry kSpheroids[] = {
    {"Clarke 1866", 6378206.4, 6356583.8},
    {"Clarke 1880", 6378249.145, 6356514.86955},
    {"Bessel", 6377397.155, 6356078.96284},
    {"International 1967", 6378157.5, 6356772.2},
    {"International 1909", 6378388.0, 6356911.94613},
    {"WGS 72", 6378135.0, 6356750.519915},
    {"Everest", 6377276.3452, 6356075.4133},
    {"WGS 66", 6378145.0, 6356759.769356},
    {"GRS 1980", 6378137.0, 6356752.31414},
    {"Airy", 6377563.396, 6356256.91},
    {"Modified Everest", 6377304.063, 6356103.039},
    {"Modified Airy", 6377340.189, 6356034.448},
    {"WGS 84", 6378137.0, 6356752.314245},
    {"Southeast Asia", 6378155.0, 6356773.3205},
    {"Australian National", 6378160.0, 6356774.719},
    {"Krasovsky", 6378245.0, 6356863.0188},
    {"Hough", 6378270.0, 6356794.343479},
    {"Mercury 1960", 6378166.0, 6356784.283666},
    {"Modified Mercury 1968", 6378150.0, 6356768.337303},
    {"Sphere", 6370997.0, 6370997.0},
};
inline constexpr int32_t kSpheroidCount = static_cast<int32_t>(std::size(kSpheroids));

// Datums: the mean three-parameter shifts to WGS 84 (rotations and scale zero).
struct DatumEntry {
  const char *name;
  const char *spheroid;
  double params[7];
};

inline constexpr DatumEntry kDatums[] = {
    {"NAD27", "Clarke 1866", {-8, 160, 176, 0, 0, 0, 0}},
    {"NAD83", "GRS 1980", {0, 0, 0, 0, 0, 0, 0}},
    {"WGS 84", "WGS 84", {0, 0, 0, 0, 0, 0, 0}},
    {"European 1950", "International 1909", {-87, -98, -121, 0, 0, 0, 0}},
    {"OSGB 1936", "Airy", {375, -111, 431, 0, 0, 0, 0}},
    {"Tokyo", "Bessel", {-148, 507, 685, 0, 0, 0, 0}},
    {"Indian 1975", "Everest", {210, 814, 289, 0, 0, 0, 0}},
    {"Australian Geodetic 1984", "Australian National", {-134, -48, 149, 0, 0, 0, 0}},
    {"Pulkovo 1942", "Krasovsky", {28, -130, -95, 0, 0, 0, 0}},
};

inline constexpr const char *kProjectionNames[] = {
    "Geographic (Lat/Lon)",
    "UTM",
    "State Plane",
    "Albers Conical Equal Area",
    "Lambert Conformal Conic",
    "Mercator",
    "Polar Stereographic",
    "Polyconic",
    "Equidistant Conic",
    "Transverse Mercator",
    "Stereographic",
    "Lambert Azimuthal Equal-area",
    "Azimuthal Equidistant",
    "Gnomonic",
    "Orthographic",
    "General Vertical Near-side Perspective",
    "Sinusoidal",
    "Equirectangular",
    "Miller Cylindrical",
    "Van der Grinten",
    "Oblique Mercator (Hotine)",
};
inline constexpr int32_t kProjectionCount = static_cast<int32_t>(std::size(kProjectionNames));

struct ProjectionEntries {
  Eprj_ProjectionEntry entries[kProjectionCount];
  constexpr ProjectionEntries() : entries{} {
    for (int32_t i = 0; i < kProjectionCount; ++i)
      entries[i] = Eprj_ProjectionEntry{kProjectionNames[i], i, EPRJ_INTERNAL};
  }
};
inline constexpr ProjectionEntries kProjections;

inline constexpr const char *kUnknownName = "Unknown";
inline constexpr const char *kOtherUnits = "other";
inline constexpr const char *kUserDefined = "User Defined";

// ---- Counted strings and arrays ----

// True when a and b agree to 1e-9 relative.
bool Near(double a, double b);
// Text of a counted string, or null when it holds none.
const char *Text(const Eprj_CharStr &s);
// Equal texts without regard to case (two empty ones are equal).
bool TextEqic(const Eprj_CharStr &a, const Eprj_CharStr &b);
void FreeCharStr(Eprj_CharStr &s);
void FreeDblArray(Eprj_DblArray &a);
// A heap copy of the counted string's text into out (empty for an empty source); false when out
// of memory.
bool CopyText(const Eprj_CharStr &source, Eprj_CharStr &out);
bool CopyDoubles(const Eprj_DblArray &source, Eprj_DblArray &out);
// Equal counts and values that agree to 1e-9 relative.
bool DoublesEqual(const Eprj_DblArray &a, const Eprj_DblArray &b);

// ---- Records and their designs ----

inline constexpr int32_t kPointerToRecord = EMIF_POINTER + EMIF_TYPE_RECORD; // 1026
inline constexpr int32_t kDoubles = EMIF_COUNTED_ARRAY + EMIF_TYPE_F64;      // 526

inline constexpr record::Item kCoordinateItems[] = {TAVIRON_ITEM(Eprj_Coordinate, x, EMIF_TYPE_F64),
                                                    TAVIRON_ITEM(Eprj_Coordinate, y, EMIF_TYPE_F64)};
inline constexpr record::Design kCoordinateDesign = record::DesignOf<Eprj_Coordinate>("Eprj_Coordinate", kCoordinateItems);

inline constexpr record::Item kSizeItems[] = {TAVIRON_ITEM(Eprj_Size, width, EMIF_TYPE_F64),
                                              TAVIRON_ITEM(Eprj_Size, height, EMIF_TYPE_F64)};
inline constexpr record::Design kSizeDesign = record::DesignOf<Eprj_Size>("Eprj_Size", kSizeItems);

inline constexpr record::Item kMapInfoItems[] = {
    TAVIRON_ITEM(Eprj_MapInfo, proName, EMIF_TYPE_STRING),
    TAVIRON_ITEM(Eprj_MapInfo, upperLeftCenter, kPointerToRecord).Nested(kCoordinateDesign),
    TAVIRON_ITEM(Eprj_MapInfo, lowerRightCenter, kPointerToRecord).Nested(kCoordinateDesign),
    TAVIRON_ITEM(Eprj_MapInfo, pixelSize, kPointerToRecord).Nested(kSizeDesign),
    TAVIRON_ITEM(Eprj_MapInfo, units, EMIF_TYPE_STRING)};
inline constexpr record::Design kMapInfoDesign = record::DesignOf<Eprj_MapInfo>("Eprj_MapInfo", kMapInfoItems);

inline constexpr const char *kDatumTypes[] = {"EPRJ_DATUM_PARAMETRIC", "EPRJ_DATUM_GRID", "EPRJ_DATUM_NONE"};
inline constexpr record::Item kDatumItems[] = {TAVIRON_ITEM(Eprj_Datum, datumname, EMIF_TYPE_STRING),
                                               TAVIRON_ITEM(Eprj_Datum, type, EMIF_TYPE_ENUM).Enum(kDatumTypes),
                                               TAVIRON_ITEM(Eprj_Datum, params, kDoubles),
                                               TAVIRON_ITEM(Eprj_Datum, gridname, EMIF_TYPE_STRING)};
inline constexpr record::Design kDatumDesign = record::DesignOf<Eprj_Datum>("Eprj_Datum", kDatumItems);

inline constexpr record::Item kSpheroidItems[] = {
    TAVIRON_ITEM(Eprj_Spheroid, sphereName, EMIF_TYPE_STRING), TAVIRON_ITEM(Eprj_Spheroid, a, EMIF_TYPE_F64),
    TAVIRON_ITEM(Eprj_Spheroid, b, EMIF_TYPE_F64),             TAVIRON_ITEM(Eprj_Spheroid, eSquared, EMIF_TYPE_F64),
    TAVIRON_ITEM(Eprj_Spheroid, radius, EMIF_TYPE_F64),
    TAVIRON_ITEM(Eprj_Spheroid, datum, EMIF_TYPE_RECORD).Nested(kDatumDesign)};
inline constexpr record::Design kSpheroidDesign = record::DesignOf<Eprj_Spheroid>("Eprj_Spheroid", kSpheroidItems);

inline constexpr record::Item kProParametersItems[] = {
    TAVIRON_ITEM(Eprj_ProParameters, proType, EMIF_TYPE_S32),
    TAVIRON_ITEM(Eprj_ProParameters, proNumber, EMIF_TYPE_S32),
    TAVIRON_ITEM(Eprj_ProParameters, proName, EMIF_TYPE_STRING),
    TAVIRON_ITEM(Eprj_ProParameters, proZone, EMIF_TYPE_S32),
    TAVIRON_ITEM(Eprj_ProParameters, proParams, kDoubles),
    TAVIRON_ITEM(Eprj_ProParameters, proSpheroid, EMIF_TYPE_RECORD).Nested(kSpheroidDesign)};
inline constexpr record::Design kProParametersDesign =
    record::DesignOf<Eprj_ProParameters>("Eprj_ProParameters", kProParametersItems);

static_assert(kMapInfoDesign.Matches() && kProParametersDesign.Matches(),
              "the records of eprj.h must match their designs");

// What the records own, freed (the records stay); deep copies into records that own nothing
// (false when out of memory: out then holds nothing).
inline void FreeDatum(Eprj_Datum &d) { record::FreeContents(kDatumDesign, &d); }
inline void FreeSpheroid(Eprj_Spheroid &s) { record::FreeContents(kSpheroidDesign, &s); }
inline void FreeProParametersContents(Eprj_ProParameters &p) { record::FreeContents(kProParametersDesign, &p); }
inline void FreeMapInfoContents(Eprj_MapInfo &m) { record::FreeContents(kMapInfoDesign, &m); }
inline bool CopyProParameters(const Eprj_ProParameters &source, Eprj_ProParameters &out) {
  out = Eprj_ProParameters{};
  return record::Copy(kProParametersDesign, &source, &out);
}
inline bool CopyMapInfo(const Eprj_MapInfo &source, Eprj_MapInfo &out) {
  out = Eprj_MapInfo{};
  return record::Copy(kMapInfoDesign, &source, &out);
}

// Spheroid values: the axes, e² and the radius of the sphere that stands in for it.
void SetSpheroidValues(Eprj_Spheroid &s, double a, double b, double eSquared);
// Sets the spheroid's name and axes; false when out of memory (the spheroid then as it was).
bool FillSpheroid(Eprj_Spheroid &s, const char *name, double a, double b, double eSquared);
// The same from table entry `index` (0-based).
bool FillSpheroidEntry(Eprj_Spheroid &s, int32_t index);

// ---- Projections on PROJ ----

// A coordinate reference system as PROJ takes it.
struct Crs {
  std::string definition; // PROJ string
  std::string label;      // the projection as messages name it
  bool geographic = false;
};

// The units points of a system are given in: "dd" or "meters".
const char *NativeUnits(bool geographic);
// The PROJ definition of a record; false with the reason in error.
bool MakeCrs(const Eprj_ProParameters &p, Crs &crs, std::string &error);

} // namespace taviron::eprj

struct _eprj_ProjectionPair {
  bool initialised = false;
  Eprj_ProParameters source{};
  Eprj_ProParameters destination{};
  taviron::eprj::Crs sourceCrs, destinationCrs;
  std::mutex lock; // guards the PROJ state below
  PJ_CONTEXT *context = nullptr;
  PJ *operation = nullptr;

  void Release() {
    proj_destroy(operation);
    operation = nullptr;
    if (context) proj_context_destroy(context);
    context = nullptr;
  }
  ~_eprj_ProjectionPair() {
    Release();
    taviron::eprj::FreeProParametersContents(source);
    taviron::eprj::FreeProParametersContents(destination);
  }
};

struct _eprj_MapProjection {
  Eprj_ProParameters parameters{};
  taviron::eprj::Crs crs;
  std::mutex lock;                         // guards `cached`
  _eprj_ProjectionPair *cached = nullptr;  // pair to the last destination of eprj_ProjectWithUnits

  ~_eprj_MapProjection() {
    taviron::lower::HeapDelete(cached);
    taviron::eprj::FreeProParametersContents(parameters);
  }
};

namespace taviron::eprj {

// Fills an empty pair from copies of the records; false when out of memory.
bool FillPair(_eprj_ProjectionPair &pair, const Eprj_ProParameters &source, const Crs &sourceCrs,
              const Eprj_ProParameters &destination, const Crs &destinationCrs);
// Transforms n points (x0, y0, ...) in place. Without `partial` a point that fails is reported
// and nothing changes; with it, failed points become NaN and the call succeeds.
bool PairTransform(_eprj_ProjectionPair &pair, bool inverse, int32_t n, double *xy, bool partial,
                   const char *reporter, int32_t code, Eerr_ErrorReport **err);
// Scale and offset taking values in unit `from` to unit `to` (null or equal names: none).
bool UnitScale(const char *from, const char *to, double &scale, double &offset, const char *reporter,
               int32_t code, Eerr_ErrorReport **err);
void Scale(double *xy, int32_t n, double scale, double offset);
// The pair from `from` to `to`, kept by `from` (whose lock the caller holds); null with a report.
_eprj_ProjectionPair *CachedPair(_eprj_MapProjection &from, const _eprj_MapProjection &to,
                                 const char *reporter, int32_t code, Eerr_ErrorReport **err);

} // namespace taviron::eprj

#endif
