// Map information and projection parameters: records, spheroid and datum tables, numbered
// projections and the file convention of their parameters.
#include "eprj.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <numbers>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include <proj.h>

#include "ecvt.h"
#include "egda_pixel.h"
#include "ehfa_internal.h"
#include "emif_internal.h"
#include "emsc.h"
#include "estr.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

constexpr double kPi = std::numbers::pi;

// ---- tables -------------------------------------------------------------------------------------

struct SpheroidEntry {
  const char *name;
  double a;
  double b;
};

// Numbered from 1 in this order.
constexpr SpheroidEntry kSpheroids[] = {
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
constexpr int32_t kSpheroidCount = static_cast<int32_t>(std::size(kSpheroids));

// Datums: the mean three-parameter shifts to WGS 84 (rotations and scale zero).
struct DatumEntry {
  const char *name;
  const char *spheroid;
  double params[7];
};

constexpr DatumEntry kDatums[] = {
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

constexpr const char *kProjectionNames[] = {
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
constexpr int32_t kProjectionCount = static_cast<int32_t>(std::size(kProjectionNames));

struct ProjectionEntries {
  Eprj_ProjectionEntry entries[kProjectionCount];
  constexpr ProjectionEntries() : entries{} {
    for (int32_t i = 0; i < kProjectionCount; ++i)
      entries[i] = Eprj_ProjectionEntry{kProjectionNames[i], i, EPRJ_INTERNAL};
  }
};
constexpr ProjectionEntries kProjections;

const char *const kUnknownName = "Unknown";
const char *const kOtherUnits = "other";
const char *const kUserDefined = "User Defined";

// ---- helpers ------------------------------------------------------------------------------------

bool Near(double a, double b) {
  if (a == b) return true;
  return std::fabs(a - b) <= 1e-9 * std::max(std::fabs(a), std::fabs(b));
}

// Text of a counted string, or null when it holds none.
const char *Text(const Eprj_CharStr &s) { return s.count > 0 && s.data ? s.data : nullptr; }

bool TextEqic(const Eprj_CharStr &a, const Eprj_CharStr &b) {
  const char *x = Text(a), *y = Text(b);
  if (!x || !y) return !x && !y;
  return estr_Eqic(x, y) != 0;
}

void FreeCharStr(Eprj_CharStr &s) {
  emsc_HeapFree(s.data);
  s.data = nullptr;
  s.count = 0;
}

void FreeDblArray(Eprj_DblArray &a) {
  emsc_HeapFree(a.data);
  a.data = nullptr;
  a.count = 0;
}

void FreeDatum(Eprj_Datum &d) {
  FreeCharStr(d.datumname);
  FreeDblArray(d.params);
  FreeCharStr(d.gridname);
  d.type = 0;
}

void FreeSpheroid(Eprj_Spheroid &s) {
  FreeCharStr(s.sphereName);
  FreeDatum(s.datum);
  s.a = s.b = s.eSquared = s.radius = 0;
}

void FreeProParametersContents(Eprj_ProParameters &p) {
  FreeCharStr(p.proName);
  FreeDblArray(p.proParams);
  FreeSpheroid(p.proSpheroid);
}

void FreeMapInfoContents(Eprj_MapInfo &m) {
  FreeCharStr(m.proName);
  FreeCharStr(m.units);
  emsc_HeapFree(m.upperLeftCenter);
  emsc_HeapFree(m.lowerRightCenter);
  emsc_HeapFree(m.pixelSize);
  m.upperLeftCenter = m.lowerRightCenter = nullptr;
  m.pixelSize = nullptr;
}

// A heap copy of the counted string's text into out (empty for an empty source); false when out
// of memory.
bool CopyText(const Eprj_CharStr &source, Eprj_CharStr &out) {
  out = Eprj_CharStr{};
  const char *text = Text(source);
  if (!text) return true;
  const std::size_t length = strnlen(text, static_cast<std::size_t>(source.count - 1));
  char *copy = lower::HeapCopy(text, length);
  if (!copy) return false;
  out.count = static_cast<int32_t>(length + 1);
  out.data = copy;
  return true;
}

bool CopyDoubles(const Eprj_DblArray &source, Eprj_DblArray &out) {
  out = Eprj_DblArray{};
  if (source.count <= 0 || !source.data) return true;
  auto *data = static_cast<double *>(
      emsc_HeapMalloc(static_cast<std::size_t>(source.count) * sizeof(double)));
  if (!data) return false;
  std::memcpy(data, source.data, static_cast<std::size_t>(source.count) * sizeof(double));
  out.count = source.count;
  out.data = data;
  return true;
}

// Deep copies into a zeroed out; on failure out holds nothing.
bool CopyDatum(const Eprj_Datum &source, Eprj_Datum &out) {
  out = Eprj_Datum{};
  out.type = source.type;
  if (CopyText(source.datumname, out.datumname) && CopyDoubles(source.params, out.params) &&
      CopyText(source.gridname, out.gridname))
    return true;
  FreeDatum(out);
  return false;
}

bool CopySpheroid(const Eprj_Spheroid &source, Eprj_Spheroid &out) {
  out = Eprj_Spheroid{};
  out.a = source.a;
  out.b = source.b;
  out.eSquared = source.eSquared;
  out.radius = source.radius;
  if (CopyText(source.sphereName, out.sphereName) && CopyDatum(source.datum, out.datum))
    return true;
  FreeSpheroid(out);
  return false;
}

bool CopyProParameters(const Eprj_ProParameters &source, Eprj_ProParameters &out) {
  out = Eprj_ProParameters{};
  out.proType = source.proType;
  out.proNumber = source.proNumber;
  out.proZone = source.proZone;
  if (CopyText(source.proName, out.proName) && CopyDoubles(source.proParams, out.proParams) &&
      CopySpheroid(source.proSpheroid, out.proSpheroid))
    return true;
  FreeProParametersContents(out);
  return false;
}

template <class T> bool CopyPart(const T *source, T *&out) {
  out = nullptr;
  if (!source) return true;
  out = static_cast<T *>(emsc_HeapMalloc(sizeof(T)));
  if (!out) return false;
  *out = *source;
  return true;
}

bool CopyMapInfo(const Eprj_MapInfo &source, Eprj_MapInfo &out) {
  out = Eprj_MapInfo{};
  if (CopyText(source.proName, out.proName) && CopyText(source.units, out.units) &&
      CopyPart(source.upperLeftCenter, out.upperLeftCenter) &&
      CopyPart(source.lowerRightCenter, out.lowerRightCenter) &&
      CopyPart(source.pixelSize, out.pixelSize))
    return true;
  FreeMapInfoContents(out);
  return false;
}

bool DoublesEqual(const Eprj_DblArray &a, const Eprj_DblArray &b) {
  const int32_t na = a.data ? std::max(a.count, 0) : 0, nb = b.data ? std::max(b.count, 0) : 0;
  if (na != nb) return false;
  for (int32_t i = 0; i < na; ++i)
    if (!Near(a.data[i], b.data[i])) return false;
  return true;
}

void SetSpheroidValues(Eprj_Spheroid &s, double a, double b, double eSquared) {
  s.a = a;
  s.b = b;
  s.eSquared = eSquared;
  s.radius = a == b ? a : (2 * a + b) / 3;
}

// Sets the spheroid's name and axes; false when out of memory (the spheroid then as it was).
bool FillSpheroid(Eprj_Spheroid &s, const char *name, double a, double b, double eSquared) {
  Eprj_CharStr text{};
  Eprj_CharStr source{static_cast<int32_t>(std::strlen(name) + 1), const_cast<char *>(name)};
  if (!CopyText(source, text)) return false;
  FreeCharStr(s.sphereName);
  s.sphereName = text;
  SetSpheroidValues(s, a, b, eSquared);
  return true;
}

// The same from table entry `index` (0-based).
bool FillSpheroidEntry(Eprj_Spheroid &s, int32_t index) {
  const SpheroidEntry &e = kSpheroids[index];
  const double eSquared = 1 - (e.b / e.a) * (e.b / e.a);
  return FillSpheroid(s, e.name, e.a, e.b, eSquared);
}

// ---- packed angles ------------------------------------------------------------------------------

// Angles (0-based indexes) among the fifteen parameters of each numbered projection. The Hotine
// oblique Mercator (20) takes its other angles by the form in parameter 13.
struct AngleSet {
  int8_t count;
  int8_t index[4];
};
constexpr AngleSet kAngles[kProjectionCount] = {
    {0, {}},           {0, {}},           {0, {}},     {4, {2, 3, 4, 5}}, {4, {2, 3, 4, 5}},
    {2, {4, 5}},       {2, {4, 5}},       {2, {4, 5}}, {4, {2, 3, 4, 5}}, {2, {4, 5}},
    {2, {4, 5}},       {2, {4, 5}},       {2, {4, 5}}, {2, {4, 5}},       {2, {4, 5}},
    {2, {4, 5}},       {1, {4}},          {2, {4, 5}}, {1, {4}},          {2, {4, 5}},
    {1, {5}},
};

// Fills angles with the indexes of the angle parameters of `number` given the parameters
// (needed for the Hotine form); returns the number of parameters that must exist.
int32_t AngleIndexes(int32_t number, const double *params, int32_t count, int32_t *angles,
                     int32_t &angleCount) {
  const AngleSet &set = kAngles[number];
  angleCount = 0;
  int32_t needed = 0;
  for (int8_t i = 0; i < set.count; ++i) {
    angles[angleCount++] = set.index[i];
    needed = std::max<int32_t>(needed, set.index[i] + 1);
  }
  if (number == 20) {
    needed = 13;
    if (count < 13) return needed;
    const bool formA = params[12] == 0;
    const int32_t extra[4] = {8, 9, 10, 11}, extraB[2] = {3, 4};
    if (formA)
      for (int32_t index : extra) angles[angleCount++] = index;
    else
      for (int32_t index : extraB) angles[angleCount++] = index;
  }
  return needed;
}

// Degrees, minutes and seconds of |degrees| (whole degrees and minutes).
void SplitDegrees(double degrees, double &d, double &m, double &s) {
  ecvt_DD2DMS(std::fabs(degrees), &d, &m, &s);
}

bool UnpackAngle(double packed, double &radians) {
  if (!std::isfinite(packed)) return false;
  const double v = std::fabs(packed);
  const double d = std::floor(v / 1e6);
  const double rest = v - d * 1e6;
  const double m = std::floor(rest / 1e3);
  const double s = rest - m * 1e3;
  if (m >= 60 || s >= 60 || s < 0) return false;
  radians = std::copysign((d + m / 60 + s / 3600) * kPi / 180, packed);
  return true;
}

double PackAngle(double radians) {
  double d, m, s;
  SplitDegrees(radians * 180 / kPi, d, m, s);
  return std::copysign(d * 1e6 + m * 1e3 + s, radians);
}

int32_t ConvertParams(int32_t number, const Eprj_DblArray *in, Eprj_DblArray *out, int32_t flag,
                      bool toRadians, const char *reporter, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (number < 0 || number >= kProjectionCount) {
    lower::Report(err, reporter, 1, "Projection number %d is not a numbered projection", number);
    return -1;
  }
  if (!in || !out || in->count < 0 || (in->count > 0 && !in->data)) {
    lower::Report(err, reporter, 2, "Invalid parameter array");
    return -1;
  }
  int32_t angles[8], angleCount = 0;
  const int32_t needed = AngleIndexes(number, in->data, in->count, angles, angleCount);
  if (in->count < needed) {
    lower::Report(err, reporter, 3, "Projection %d needs %d parameters, %d given", number, needed,
                  in->count);
    return -1;
  }
  Eprj_DblArray result{};
  if (!CopyDoubles(*in, result)) {
    lower::Report(err, reporter, 4, "Out of memory");
    return -1;
  }
  for (int32_t i = 0; i < angleCount; ++i) {
    double &v = result.data[angles[i]];
    if (!std::isfinite(v)) {
      FreeDblArray(result);
      lower::Report(err, reporter, 5, "Parameter %d is not a finite angle", angles[i] + 1);
      return -1;
    }
    if (flag != 0) {
      v = toRadians ? v * kPi / 180 : v * 180 / kPi;
    } else if (toRadians) {
      double radians;
      if (!UnpackAngle(v, radians)) {
        lower::Report(err, reporter, 5,
                      "Parameter %d (%.17g) is not a packed degrees-minutes-seconds angle",
                      angles[i] + 1, v);
        FreeDblArray(result);
        return -1;
      }
      v = radians;
    } else {
      v = PackAngle(v);
    }
  }
  FreeDblArray(*out);
  *out = result;
  return 0;
}

// ---- map information ----------------------------------------------------------------------------

// Sign of the step from a to b: +1 when b lies above a, -1 below, `level` when equal.
double Direction(double a, double b, double level) { return b > a ? 1 : b < a ? -1 : level; }

// The grid of map information: upper-left centre and signed steps per column and row.
struct Grid {
  double x, y, sx, sy;
};

bool GridOf(const Eprj_MapInfo *info, Grid &grid) {
  if (!info || !info->upperLeftCenter || !info->pixelSize) return false;
  grid.x = info->upperLeftCenter->x;
  grid.y = info->upperLeftCenter->y;
  grid.sx = std::fabs(info->pixelSize->width);
  grid.sy = std::fabs(info->pixelSize->height);
  if (info->lowerRightCenter) {
    grid.sx *= Direction(grid.x, info->lowerRightCenter->x, 1);
    grid.sy *= Direction(grid.y, info->lowerRightCenter->y, -1);
  } else {
    grid.sy = -grid.sy;
  }
  return std::isfinite(grid.x) && std::isfinite(grid.y) && std::isfinite(grid.sx) &&
         std::isfinite(grid.sy);
}

template <class T> int32_t SetPart(Eprj_MapInfo *info, T *Eprj_MapInfo::*part, double first,
                                   double second, const char *reporter, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input map information");
    return -1;
  }
  if (!(info->*part)) {
    info->*part = static_cast<T *>(emsc_HeapMalloc(sizeof(T)));
    if (!(info->*part)) {
      lower::Report(err, reporter, 2, "Out of memory");
      return -1;
    }
  }
  T *p = info->*part;
  if constexpr (std::is_same_v<T, Eprj_Coordinate>) {
    p->x = first;
    p->y = second;
  } else {
    p->width = first;
    p->height = second;
  }
  return 0;
}

int32_t SetName(Eprj_MapInfo *info, Eprj_CharStr Eprj_MapInfo::*field, const char *text,
                const char *reporter, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input map information");
    return -1;
  }
  Eerr_ErrorReport *inner = nullptr;
  if (!eprj_CharStrCreate(text, &(info->*field), &inner)) {
    lower::ReportCallee(err, inner, reporter, 2, "eprj_CharStrCreate");
    return -1;
  }
  return 0;
}

bool PartsEqual(const Eprj_Coordinate *a, const Eprj_Coordinate *b) {
  if (!a || !b) return !a && !b;
  return Near(a->x, b->x) && Near(a->y, b->y);
}

bool PartsEqual(const Eprj_Size *a, const Eprj_Size *b) {
  if (!a || !b) return !a && !b;
  return Near(a->width, b->width) && Near(a->height, b->height);
}

// ---- printing -----------------------------------------------------------------------------------

void Line(std::string &out, int indent, const char *field, const std::string &value) {
  out.append(static_cast<std::size_t>(indent), ' ');
  out += field;
  out += " - ";
  out += value;
  out += '\n';
}

std::string Str(const Eprj_CharStr &s) {
  const char *text = Text(s);
  return text ? std::string(text, strnlen(text, static_cast<std::size_t>(s.count - 1)))
              : std::string("(none)");
}

std::string Num(double v) { return lower::Format("%.15g", v); }

void PrintDoubles(std::string &out, int indent, const char *field, const Eprj_DblArray &a) {
  const int32_t n = a.data ? std::max(a.count, 0) : 0;
  Line(out, indent, field, lower::Format("%d", n));
  for (int32_t i = 0; i < n; ++i) {
    out.append(static_cast<std::size_t>(indent + 2), ' ');
    out += lower::Format("%d: %.15g\n", i + 1, a.data[i]);
  }
}

const char *TypeName(int32_t type) {
  switch (type) {
  case EPRJ_INTERNAL: return "EPRJ_INTERNAL";
  case EPRJ_EXTERNAL: return "EPRJ_EXTERNAL";
  case EPRJ_PROTYPE_UNKNOWN: return "EPRJ_PROTYPE_UNKNOWN";
  default: return "unknown";
  }
}

const char *DatumTypeName(int32_t type) {
  switch (type) {
  case EPRJ_DATUM_PARAMETRIC: return "EPRJ_DATUM_PARAMETRIC";
  case EPRJ_DATUM_GRID: return "EPRJ_DATUM_GRID";
  case EPRJ_DATUM_NONE: return "EPRJ_DATUM_NONE";
  default: return "unknown";
  }
}

} // namespace

extern "C" {

// ---- names --------------------------------------------------------------------------------------

const char *eprj_ProjectionNameUnknown(void) { return kUnknownName; }
const char *eprj_UnitsNameOther(void) { return kOtherUnits; }

// ---- parts --------------------------------------------------------------------------------------

Eprj_CharStr *eprj_CharStrCreate(const char *text, Eprj_CharStr *target, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_CharStrCreate";
  lower::Clear(err);
  if (!target) {
    lower::Report(err, kReporter, 1, "Invalid output Eprj_CharStr");
    return nullptr;
  }
  if (!text) {
    FreeCharStr(*target);
    return target;
  }
  const std::size_t length = std::strlen(text);
  if (length >= static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
    lower::Report(err, kReporter, 2, "String too long");
    return nullptr;
  }
  const auto count = static_cast<int32_t>(length + 1);
  if (target->data && target->count == count) {
    std::memmove(target->data, text, length + 1);
    return target;
  }
  char *copy = lower::HeapCopy(text, length);
  if (!copy) {
    lower::Report(err, kReporter, 3, "Out of memory");
    return nullptr;
  }
  emsc_HeapFree(target->data);
  target->data = copy;
  target->count = count;
  return target;
}

Eprj_CharStr *eprj_CharStrCopy(const Eprj_CharStr *source, Eprj_CharStr *target,
                               Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_CharStrCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, kReporter, 1, "Invalid input Eprj_CharStr");
    return nullptr;
  }
  if (!target) {
    lower::Report(err, kReporter, 2, "Invalid output Eprj_CharStr");
    return nullptr;
  }
  if (source == target) return target;
  Eprj_CharStr copy;
  if (!CopyText(*source, copy)) {
    lower::Report(err, kReporter, 3, "Out of memory");
    return nullptr;
  }
  FreeCharStr(*target);
  *target = copy;
  return target;
}

Eprj_Coordinate *eprj_CoordinateCreate(Eerr_ErrorReport **err) {
  lower::Clear(err);
  auto *c = static_cast<Eprj_Coordinate *>(emsc_HeapMalloc(sizeof(Eprj_Coordinate)));
  if (!c) lower::Report(err, "eprj_CoordinateCreate", 1, "Out of memory");
  return c;
}

Eprj_Size *eprj_SizeCreate(Eerr_ErrorReport **err) {
  lower::Clear(err);
  auto *s = static_cast<Eprj_Size *>(emsc_HeapMalloc(sizeof(Eprj_Size)));
  if (!s) lower::Report(err, "eprj_SizeCreate", 1, "Out of memory");
  return s;
}

Eprj_DblArray *eprj_DblArrayCreate(int32_t count, Eprj_DblArray *array, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_DblArrayCreate";
  lower::Clear(err);
  if (!array || count < 0) {
    lower::Report(err, kReporter, 1, "Invalid input: array %s, count %d",
                  array ? "given" : "missing", count);
    return nullptr;
  }
  double *data = nullptr;
  if (count > 0) {
    data = static_cast<double *>(emsc_HeapMalloc(static_cast<std::size_t>(count) * sizeof(double)));
    if (!data) {
      lower::Report(err, kReporter, 2, "Out of memory for %d doubles", count);
      return nullptr;
    }
  }
  FreeDblArray(*array);
  array->data = data;
  array->count = count;
  return array;
}

Eprj_DblArray *eprj_DblArrayCopy(const Eprj_DblArray *source, Eprj_DblArray *destination,
                                 Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_DblArrayCopy";
  lower::Clear(err);
  if (!source || source->count < 0 || (source->count > 0 && !source->data)) {
    lower::Report(err, kReporter, 1, "Invalid input eprj_DblArray");
    return nullptr;
  }
  if (!destination) {
    lower::Report(err, kReporter, 2, "Invalid output eprj_DblArray");
    return nullptr;
  }
  if (source == destination) return destination;
  Eprj_DblArray copy;
  if (!CopyDoubles(*source, copy)) {
    lower::Report(err, kReporter, 3, "Out of memory");
    return nullptr;
  }
  FreeDblArray(*destination);
  *destination = copy;
  return destination;
}

void eprj_DblArrayFree(Eprj_DblArray *array) {
  if (array) FreeDblArray(*array);
}

// ---- map information ----------------------------------------------------------------------------

Eprj_MapInfo *eprj_MapInfoCreate(Eerr_ErrorReport **err) {
  lower::Clear(err);
  auto *info = static_cast<Eprj_MapInfo *>(emsc_HeapMalloc(sizeof(Eprj_MapInfo)));
  if (info) {
    info->upperLeftCenter =
        static_cast<Eprj_Coordinate *>(emsc_HeapMalloc(sizeof(Eprj_Coordinate)));
    info->lowerRightCenter =
        static_cast<Eprj_Coordinate *>(emsc_HeapMalloc(sizeof(Eprj_Coordinate)));
    info->pixelSize = static_cast<Eprj_Size *>(emsc_HeapMalloc(sizeof(Eprj_Size)));
    if (info->upperLeftCenter && info->lowerRightCenter && info->pixelSize) return info;
    eprj_MapInfoFree(&info);
  }
  lower::Report(err, "eprj_MapInfoCreate", 1, "Out of memory");
  return nullptr;
}

Eprj_MapInfo *eprj_MapInfoCopy(const Eprj_MapInfo *source, Eprj_MapInfo *destination,
                               Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_MapInfoCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, kReporter, 1, "Invalid input map information");
    return nullptr;
  }
  if (source == destination) return destination;
  Eprj_MapInfo copy;
  if (!CopyMapInfo(*source, copy)) {
    lower::Report(err, kReporter, 2, "Out of memory");
    return nullptr;
  }
  if (!destination) {
    destination = static_cast<Eprj_MapInfo *>(emsc_HeapMalloc(sizeof(Eprj_MapInfo)));
    if (!destination) {
      FreeMapInfoContents(copy);
      lower::Report(err, kReporter, 2, "Out of memory");
      return nullptr;
    }
  }
  FreeMapInfoContents(*destination);
  *destination = copy;
  return destination;
}

void eprj_MapInfoFree(Eprj_MapInfo **info) {
  if (!info || !*info) return;
  FreeMapInfoContents(**info);
  emsc_HeapFree(*info);
  *info = nullptr;
}

int32_t eprj_MapInfoUpperLeftCenterSet(Eprj_MapInfo *info, double x, double y,
                                       Eerr_ErrorReport **err) {
  return SetPart(info, &Eprj_MapInfo::upperLeftCenter, x, y, "eprj_MapInfoUpperLeftCenterSet",
                 err);
}

int32_t eprj_MapInfoLowerRightCenterSet(Eprj_MapInfo *info, double x, double y,
                                        Eerr_ErrorReport **err) {
  return SetPart(info, &Eprj_MapInfo::lowerRightCenter, x, y, "eprj_MapInfoLowerRightCenterSet",
                 err);
}

int32_t eprj_MapInfoPixelSizeSet(Eprj_MapInfo *info, double width, double height,
                                 Eerr_ErrorReport **err) {
  return SetPart(info, &Eprj_MapInfo::pixelSize, width, height, "eprj_MapInfoPixelSizeSet", err);
}

int32_t eprj_MapInfoProjectionNameSet(Eprj_MapInfo *info, const char *name,
                                      Eerr_ErrorReport **err) {
  return SetName(info, &Eprj_MapInfo::proName, name, "eprj_MapInfoProjectionNameSet", err);
}

int32_t eprj_MapInfoUnitsSet(Eprj_MapInfo *info, const char *units, Eerr_ErrorReport **err) {
  return SetName(info, &Eprj_MapInfo::units, units, "eprj_MapInfoUnitsSet", err);
}

int32_t eprj_MapInfosEqual(const Eprj_MapInfo *a, const Eprj_MapInfo *b, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!a || !b) return !a && !b;
  if (a == b) return 1;
  return TextEqic(a->proName, b->proName) && TextEqic(a->units, b->units) &&
         PartsEqual(a->upperLeftCenter, b->upperLeftCenter) &&
         PartsEqual(a->lowerRightCenter, b->lowerRightCenter) &&
         PartsEqual(a->pixelSize, b->pixelSize);
}

Efga_Polynomial *eprj_MapInfoToPolynomial(const Eprj_MapInfo *info, int32_t /*reserved*/,
                                          Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_MapInfoToPolynomial";
  lower::Clear(err);
  Grid grid;
  if (!GridOf(info, grid)) {
    lower::Report(err, kReporter, 1, "Invalid input map information");
    return nullptr;
  }
  Eerr_ErrorReport *inner = nullptr;
  Efga_Polynomial *poly = efga_PolyCreate2DAffine(grid.x, grid.y, 0, grid.sx, grid.sy, &inner);
  if (!poly) lower::ReportCallee(err, inner, kReporter, 2, "efga_PolyCreate2DAffine");
  return poly;
}

Efga_Polynomial *eprj_ComputeTransformBetweenMapInfos(const Eprj_MapInfo *from,
                                                      const Eprj_MapInfo *to,
                                                      Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_ComputeTransformBetweenMapInfos";
  lower::Clear(err);
  Grid a, b;
  if (!GridOf(from, a)) {
    lower::Report(err, kReporter, 1, "Invalid input map information to transform from");
    return nullptr;
  }
  if (!GridOf(to, b) || b.sx == 0 || b.sy == 0) {
    lower::Report(err, kReporter, 2, "Invalid input map information to transform to");
    return nullptr;
  }
  // Map units of `from` into those of `to`: every unit is a plain factor of its standard unit.
  double factor = 1;
  const char *fromUnits = Text(from->units), *toUnits = Text(to->units);
  Eerr_ErrorReport *inner = nullptr;
  if (fromUnits && toUnits && !estr_Eqic(fromUnits, toUnits)) {
    const double one = 1;
    if (ecvt_UnitsConvertByName(&one, fromUnits, &factor, toUnits, 1, &inner) != 0) {
      lower::ReportCallee(err, inner, kReporter, 3, "ecvt_UnitsConvertByName");
      return nullptr;
    }
    eerr_DeleteErrorReportEx(&inner); // a warning only: "other" units are taken as they are
  }
  // column' = (factor (x0 + sx column) - x1) / sx1, and the same for rows.
  Efga_Polynomial *poly =
      efga_PolyCreate2DAffine((factor * a.x - b.x) / b.sx, (factor * a.y - b.y) / b.sy, 0,
                              factor * a.sx / b.sx, factor * a.sy / b.sy, &inner);
  if (!poly) lower::ReportCallee(err, inner, kReporter, 4, "efga_PolyCreate2DAffine");
  return poly;
}

// ---- projection parameters ----------------------------------------------------------------------

Eprj_ProParameters *eprj_ProParametersCreate(Eerr_ErrorReport **err) {
  lower::Clear(err);
  auto *p = static_cast<Eprj_ProParameters *>(emsc_HeapMalloc(sizeof(Eprj_ProParameters)));
  if (!p) lower::Report(err, "eprj_ProParametersCreate", 1, "Out of memory");
  return p;
}

Eprj_ProParameters *eprj_ProParametersCopy(const Eprj_ProParameters *source,
                                           Eprj_ProParameters *destination,
                                           Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_ProParametersCopy";
  lower::Clear(err);
  if (!source) {
    lower::Report(err, kReporter, 1, "Invalid input projection parameters");
    return nullptr;
  }
  if (source == destination) return destination;
  Eprj_ProParameters copy;
  if (!CopyProParameters(*source, copy)) {
    lower::Report(err, kReporter, 2, "Out of memory");
    return nullptr;
  }
  if (!destination) {
    destination = static_cast<Eprj_ProParameters *>(emsc_HeapMalloc(sizeof(Eprj_ProParameters)));
    if (!destination) {
      FreeProParametersContents(copy);
      lower::Report(err, kReporter, 2, "Out of memory");
      return nullptr;
    }
  }
  FreeProParametersContents(*destination);
  *destination = copy;
  return destination;
}

void eprj_ProParametersFree(Eprj_ProParameters **parameters) {
  if (!parameters || !*parameters) return;
  FreeProParametersContents(**parameters);
  emsc_HeapFree(*parameters);
  *parameters = nullptr;
}

void eprj_ProParametersPrint(const Eprj_ProParameters *p, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!p) {
    lower::Report(err, "eprj_ProParametersPrint", 1, "Invalid input projection parameters");
    return;
  }
  std::string out = "Projection parameters:\n";
  Line(out, 2, "proType", TypeName(p->proType));
  Line(out, 2, "proNumber", lower::Format("%d", p->proNumber));
  Line(out, 2, "proName", Str(p->proName));
  Line(out, 2, "proZone", lower::Format("%d", p->proZone));
  PrintDoubles(out, 2, "proParams", p->proParams);
  const Eprj_Spheroid &s = p->proSpheroid;
  out += "  proSpheroid:\n";
  Line(out, 4, "sphereName", Str(s.sphereName));
  Line(out, 4, "a", Num(s.a));
  Line(out, 4, "b", Num(s.b));
  Line(out, 4, "eSquared", Num(s.eSquared));
  Line(out, 4, "radius", Num(s.radius));
  if (Text(s.datum.datumname)) {
    out += "    datum:\n";
    Line(out, 6, "datumname", Str(s.datum.datumname));
    Line(out, 6, "type", DatumTypeName(s.datum.type));
    PrintDoubles(out, 6, "params", s.datum.params);
    Line(out, 6, "gridname", Str(s.datum.gridname));
  }
  lower::Write(lower::Stream::Out, out);
}

int32_t eprj_ProParametersEqual(const Eprj_ProParameters *a, const Eprj_ProParameters *b,
                                Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!a || !b) return !a && !b;
  if (a == b) return 1;
  const Eprj_Spheroid &sa = a->proSpheroid, &sb = b->proSpheroid;
  return a->proType == b->proType && a->proNumber == b->proNumber && a->proZone == b->proZone &&
         TextEqic(a->proName, b->proName) && DoublesEqual(a->proParams, b->proParams) &&
         TextEqic(sa.sphereName, sb.sphereName) && Near(sa.a, sb.a) && Near(sa.b, sb.b) &&
         TextEqic(sa.datum.datumname, sb.datum.datumname) && sa.datum.type == sb.datum.type &&
         DoublesEqual(sa.datum.params, sb.datum.params) &&
         TextEqic(sa.datum.gridname, sb.datum.gridname);
}

// ---- spheroids and datums -----------------------------------------------------------------------

Eprj_Spheroid *eprj_SpheroidByName(Eint_InitToolkitData * /*init*/, const char *name,
                                   Eprj_Spheroid *spheroid, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_SpheroidByName";
  lower::Clear(err);
  if (!name || !spheroid) {
    lower::Report(err, kReporter, 1, "Invalid input: spheroid name and record are needed");
    return nullptr;
  }
  const int32_t number = eprj_SpheroidNumberByName(nullptr, name, nullptr);
  if (number == 0) {
    lower::Report(err, kReporter, 2, "Unknown spheroid \"%s\"", name);
    return nullptr;
  }
  if (!FillSpheroidEntry(*spheroid, number - 1)) {
    lower::Report(err, kReporter, 3, "Out of memory");
    return nullptr;
  }
  return spheroid;
}

Eprj_Spheroid *eprj_SpheroidByNum(Eint_InitToolkitData * /*init*/, int32_t number,
                                  Eprj_Spheroid *spheroid, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_SpheroidByNum";
  lower::Clear(err);
  if (!spheroid) {
    lower::Report(err, kReporter, 1, "Invalid output spheroid");
    return nullptr;
  }
  if (number < 1 || number > kSpheroidCount) {
    lower::Report(err, kReporter, 2, "Invalid spheroid number %d", number);
    return nullptr;
  }
  if (!FillSpheroidEntry(*spheroid, number - 1)) {
    lower::Report(err, kReporter, 3, "Out of memory");
    return nullptr;
  }
  return spheroid;
}

Eprj_Spheroid *eprj_SpheroidByParms(Eint_InitToolkitData * /*init*/,
                                    const Eprj_DblArray *parameters, Eprj_Spheroid *spheroid,
                                    Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_SpheroidByParms";
  lower::Clear(err);
  if (!spheroid || !parameters || parameters->count < 2 || !parameters->data) {
    lower::Report(err, kReporter, 1, "Invalid input: parameter array and spheroid are needed");
    return nullptr;
  }
  const double *p = parameters->data;
  double a = 0, b = 0, eSquared = 0;
  int32_t index = -1;
  if (!std::isfinite(p[0]) || !std::isfinite(p[1])) {
    lower::Report(err, kReporter, 2, "Spheroid parameters are not finite");
    return nullptr;
  }
  if (p[0] < 0) {
    if (parameters->count < 15) {
      lower::Report(err, kReporter, 3, "Parameters 14 and 15 are missing");
      return nullptr;
    }
    a = p[13];
    eSquared = p[14];
    if (!(a > 0) || !(eSquared >= 0 && eSquared < 1) || !std::isfinite(a)) {
      lower::Report(err, kReporter, 4, "Invalid spheroid axis %.17g or eccentricity %.17g", a,
                    eSquared);
      return nullptr;
    }
    b = a * std::sqrt(1 - eSquared);
  } else if (p[0] == 0 && p[1] == 0) {
    index = 0;
  } else if (p[0] >= 1 && p[0] <= kSpheroidCount && p[0] == std::floor(p[0])) {
    index = static_cast<int32_t>(p[0]) - 1;
  } else if (p[0] >= 1000) {
    a = p[0];
    if (p[1] == 0) {
      b = a;
      eSquared = 0;
    } else if (p[1] > 0 && p[1] < 1) {
      eSquared = p[1];
      b = a * std::sqrt(1 - eSquared);
    } else if (p[1] >= 1 && p[1] <= a) {
      b = p[1];
      eSquared = 1 - (b / a) * (b / a);
    } else {
      lower::Report(err, kReporter, 5, "Invalid semi-minor axis %.17g", p[1]);
      return nullptr;
    }
  } else {
    lower::Report(err, kReporter, 6, "Parameters %.17g and %.17g name no spheroid", p[0], p[1]);
    return nullptr;
  }
  if (index < 0)
    for (int32_t i = 0; i < kSpheroidCount; ++i)
      if (std::fabs(kSpheroids[i].a - a) <= 5e-5 && std::fabs(kSpheroids[i].b - b) <= 5e-5) {
        index = i;
        break;
      }
  const bool filled = index >= 0 ? FillSpheroidEntry(*spheroid, index)
                                 : FillSpheroid(*spheroid, kUserDefined, a, b, eSquared);
  if (!filled) {
    lower::Report(err, kReporter, 7, "Out of memory");
    return nullptr;
  }
  return spheroid;
}

int32_t eprj_SpheroidNumberByName(Eint_InitToolkitData * /*init*/, const char *name,
                                  Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!name) {
    lower::Report(err, "eprj_SpheroidNumberByName", 1, "Invalid input spheroid name");
    return 0;
  }
  for (int32_t i = 0; i < kSpheroidCount; ++i)
    if (estr_Eqic(kSpheroids[i].name, name)) return i + 1;
  return 0;
}

Eprj_Datum *eprj_DatumByName(Eint_InitToolkitData * /*init*/, const char *spheroidName,
                             const char *datumName, Eprj_Datum *datum, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_DatumByName";
  lower::Clear(err);
  if (!spheroidName || !datumName || !datum) {
    lower::Report(err, kReporter, 1,
                  "Invalid input: spheroid name, datum name and record are needed");
    return nullptr;
  }
  const DatumEntry *entry = nullptr;
  for (const DatumEntry &e : kDatums)
    if (estr_Eqic(e.name, datumName)) entry = &e;
  if (!entry) {
    lower::Report(err, kReporter, 2, "Unknown datum \"%s\"", datumName);
    return nullptr;
  }
  if (!estr_Eqic(entry->spheroid, spheroidName)) {
    lower::Report(err, kReporter, 3, "Datum \"%s\" is not defined on spheroid \"%s\"", datumName,
                  spheroidName);
    return nullptr;
  }
  Eprj_Datum made{};
  made.type = EPRJ_DATUM_PARAMETRIC;
  Eprj_CharStr name{static_cast<int32_t>(std::strlen(entry->name) + 1),
                    const_cast<char *>(entry->name)};
  Eprj_DblArray values{7, const_cast<double *>(entry->params)};
  if (!CopyText(name, made.datumname) || !CopyDoubles(values, made.params)) {
    FreeDatum(made);
    lower::Report(err, kReporter, 4, "Out of memory");
    return nullptr;
  }
  FreeDatum(*datum);
  *datum = made;
  return datum;
}

// ---- numbered projections -----------------------------------------------------------------------

const Eprj_ProjectionEntry *eprj_QueryByName(Eint_InitToolkitData * /*init*/, const char *name,
                                             Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (name)
    for (const Eprj_ProjectionEntry &e : kProjections.entries)
      if (estr_Eqic(e.name, name)) return &e;
  lower::Report(err, "eprj_QueryByName", 1, "Unknown projection \"%s\"", name ? name : "(null)");
  return nullptr;
}

Eprj_CharStr *eprj_ProjName(Eint_InitToolkitData * /*init*/, int32_t number, Eprj_CharStr *name,
                            Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_ProjName";
  lower::Clear(err);
  if (!name) {
    lower::Report(err, kReporter, 1, "Invalid output name");
    return nullptr;
  }
  if (number < 0 || number >= kProjectionCount) {
    lower::Report(err, kReporter, 2, "Invalid projection number %d", number);
    return nullptr;
  }
  Eerr_ErrorReport *inner = nullptr;
  if (!eprj_CharStrCreate(kProjectionNames[number], name, &inner)) {
    lower::ReportCallee(err, inner, kReporter, 3, "eprj_CharStrCreate");
    return nullptr;
  }
  return name;
}

int32_t eprj_Proj7xNumber(Eint_InitToolkitData * /*init*/, const Eprj_MapInfo *info,
                          Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_Proj7xNumber";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, kReporter, 1, "Invalid input map information");
    return -1;
  }
  const char *name = Text(info->proName);
  if (name && estr_Eqic(name, kUnknownName)) return EPRJ_7X_UNKNOWN;
  if (name)
    for (int32_t i = 0; i < kProjectionCount; ++i)
      if (estr_Eqic(kProjectionNames[i], name)) return i == 0 ? EPRJ_7X_GEOGRAPHIC : i;
  lower::Report(err, kReporter, 2, "Projection \"%s\" has no legacy map system number",
                name ? name : "(none)");
  return -1;
}

int32_t eprj_GCTPProParams2Radians(int32_t number, const Eprj_DblArray *in, Eprj_DblArray *out,
                                   int32_t flag, Eerr_ErrorReport **err) {
  return ConvertParams(number, in, out, flag, true, "eprj_GCTPProParams2Radians", err);
}

int32_t eprj_Radians2GCTPProParams(int32_t number, const Eprj_DblArray *in, Eprj_DblArray *out,
                                   int32_t flag, Eerr_ErrorReport **err) {
  return ConvertParams(number, in, out, flag, false, "eprj_Radians2GCTPProParams", err);
}

double eprj_Adjl(double x, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!std::isfinite(x)) {
    lower::Report(err, "eprj_Adjl", 1, "Longitude %g is not finite", x);
    return x;
  }
  if (std::fabs(x) <= kPi) return x;
  return std::remainder(x, 2 * kPi);
}

} // extern "C"

// ---- projections on PROJ ------------------------------------------------------------------------

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

// A coordinate reference system as PROJ takes it.
struct Crs {
  std::string definition; // PROJ string
  std::string label;      // the projection as messages name it
  bool geographic = false;
};

const char *NativeUnits(bool geographic) { return geographic ? "dd" : "meters"; }

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
      Eerr_ErrorReport *inner = nullptr;
      if (!eprj_SpheroidByParms(nullptr, &p.proParams, &found, &inner)) {
        error = inner && inner->message ? inner->message : "parameters 1 and 2 name no spheroid";
        eerr_DeleteErrorReportEx(&inner);
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
    const bool matches = nad83 ? n.rfind("SPCS83 ", 0) == 0 && n.find("(meters)") != std::string::npos
                               : n.find("CS27") != std::string::npos;
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
template <class T> T *NewObject() {
  void *block = emsc_HeapMalloc(sizeof(T));
  return block ? new (block) T() : nullptr;
}

template <class T> void DeleteObject(T *object) {
  if (!object) return;
  object->~T();
  emsc_HeapFree(object);
}

} // namespace

struct _eprj_ProjectionPair {
  bool initialised = false;
  Eprj_ProParameters source{};
  Eprj_ProParameters destination{};
  Crs sourceCrs, destinationCrs;
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
    FreeProParametersContents(source);
    FreeProParametersContents(destination);
  }
};

struct _eprj_MapProjection {
  Eprj_ProParameters parameters{};
  Crs crs;
  std::mutex lock;                         // guards `cached`
  _eprj_ProjectionPair *cached = nullptr;  // pair to the last destination of eprj_ProjectWithUnits

  ~_eprj_MapProjection() {
    DeleteObject(cached);
    FreeProParametersContents(parameters);
  }
};

namespace {

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
  Eerr_ErrorReport *inner = nullptr;
  if (ecvt_UnitsConvertByName(values, from, results, to, 2, &inner) != 0) {
    lower::ReportCallee(err, inner, reporter, code, "ecvt_UnitsConvertByName");
    return false;
  }
  eerr_DeleteErrorReportEx(&inner); // "other" units pass unchanged
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
  DeleteObject(from.cached);
  from.cached = NewObject<_eprj_ProjectionPair>();
  if (!from.cached || !FillPair(*from.cached, from.parameters, from.crs, to.parameters, to.crs)) {
    DeleteObject(from.cached);
    from.cached = nullptr;
    lower::Report(err, reporter, code, "Out of memory");
    return nullptr;
  }
  return from.cached;
}

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

Eprj_MapProjection *eprj_ProjectionInit(Eint_InitToolkitData * /*init*/,
                                        const Eprj_ProParameters *parameters,
                                        Eerr_ErrorReport **err) {
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
  _eprj_MapProjection *projection = NewObject<_eprj_MapProjection>();
  if (!projection || !CopyProParameters(*parameters, projection->parameters)) {
    DeleteObject(projection);
    lower::Report(err, kReporter, 3, "Out of memory");
    return nullptr;
  }
  projection->crs = crs;
  return projection;
}

void eprj_ProjectionQuit(Eprj_MapProjection *projection) {
  if (!projection) return;
  std::lock_guard guard(projection->lock);
  DeleteObject(projection->cached);
  projection->cached = nullptr;
}

void eprj_ProjectionFree(Eprj_MapProjection **projection) {
  if (!projection || !*projection) return;
  DeleteObject(*projection);
  *projection = nullptr;
}

Eprj_ProParameters *eprj_MapProjectionCSRGet(const Eprj_MapProjection *projection,
                                             const char *className) {
  if (!projection || !className || std::strcmp(className, "Eprj_ProParameters") != 0) return nullptr;
  return const_cast<Eprj_ProParameters *>(&projection->parameters);
}

char16_t *eprj_MapProjectionToUNICODE(const Eprj_MapProjection *projection,
                                      Eerr_ErrorReport **err) {
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
}

int32_t eprj_ProjectionsEqual(const Eprj_MapInfo *infoA, const Eprj_ProParameters *parametersA,
                              const Eprj_MapInfo *infoB, const Eprj_ProParameters *parametersB,
                              Eerr_ErrorReport **err) {
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
}

Eprj_ProjectionPair *eprj_ProjectionPairCreate(Eerr_ErrorReport **err) {
  lower::Clear(err);
  _eprj_ProjectionPair *pair = NewObject<_eprj_ProjectionPair>();
  if (!pair) {
    lower::Report(err, "eprj_ProjectionPairCreate", 1, "Out of memory");
    return nullptr;
  }
  Pending().Set(pair);
  return pair;
}

Eprj_ProjectionPair *eprj_ProjectionPairInit(Eint_InitToolkitData * /*init*/,
                                             const Eprj_ProParameters *source,
                                             const Eprj_ProParameters *destination,
                                             Eerr_ErrorReport **err) {
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
  const bool made = !pair;
  if (made) pair = NewObject<_eprj_ProjectionPair>();
  if (!pair || !FillPair(*pair, *source, a, *destination, b)) {
    if (made) DeleteObject(pair);
    lower::Report(err, kReporter, 4, "Out of memory");
    return nullptr;
  }
  if (!made) Pending().Forget(pair);
  return pair;
}

void eprj_ProjectionPairFree(Eprj_ProjectionPair **pair) {
  if (!pair || !*pair) return;
  Pending().Forget(*pair);
  DeleteObject(*pair);
  *pair = nullptr;
}

Eprj_ProjectionPair *eprj_ProjectionPairCopy(const Eprj_ProjectionPair *pair,
                                             Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_ProjectionPairCopy";
  lower::Clear(err);
  if (!pair || !pair->initialised) {
    lower::Report(err, kReporter, 1, "Invalid input: an initialised projection pair is needed");
    return nullptr;
  }
  _eprj_ProjectionPair *copy = NewObject<_eprj_ProjectionPair>();
  if (!copy || !FillPair(*copy, pair->source, pair->sourceCrs, pair->destination, pair->destinationCrs)) {
    DeleteObject(copy);
    lower::Report(err, kReporter, 2, "Out of memory");
    return nullptr;
  }
  return copy;
}

const Eprj_ProParameters *eprj_ProjectionPairParameters(const Eprj_ProjectionPair *pair,
                                                        int32_t which) {
  if (!pair || !pair->initialised) return nullptr;
  return which == 0 ? &pair->source : &pair->destination;
}

const char *eprj_ProjectionPairUnits(const Eprj_ProjectionPair *pair, int32_t which) {
  if (!pair || !pair->initialised) return nullptr;
  return NativeUnits(which == 0 ? pair->sourceCrs.geographic : pair->destinationCrs.geographic);
}

int32_t eprj_ProjectionPairTransform(Eprj_ProjectionPair *pair, int32_t inverse, int32_t count,
                                     double *xy, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_ProjectionPairTransform";
  lower::Clear(err);
  if (!pair || count < 0 || (count > 0 && !xy)) {
    lower::Report(err, kReporter, 1, "Invalid input: pair, count or points");
    return -1;
  }
  return PairTransform(*pair, inverse != 0, count, xy, false, kReporter, 2, err) ? 0 : -1;
}

Eprj_Points *eprj_PointsCreate(int32_t count, Eerr_ErrorReport **err) {
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
}

void eprj_PointsFree(Eprj_Points **points) {
  if (!points || !*points) return;
  emsc_HeapFree((*points)->points);
  emsc_HeapFree(*points);
  *points = nullptr;
}

Eprj_Points *eprj_ProjectWithUnits(const char *fromUnits, Eprj_MapProjection *from,
                                   const char *toUnits, Eprj_MapProjection *to,
                                   const Eprj_Points *in, Eprj_Points *out,
                                   Eerr_ErrorReport **err) {
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
    Eerr_ErrorReport *inner = nullptr;
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
}

Eprj_IntersectPtr *eprj_IntersectXcoordWithFrame(const char *frameUnits,
                                                 Eprj_MapProjection *mapProjection,
                                                 const Egda_BaseData *corners,
                                                 const char *gridUnits,
                                                 Eprj_MapProjection *gridProjection, double value,
                                                 Eerr_ErrorReport **err) {
  return IntersectWithFrame(0, frameUnits, mapProjection, corners, gridUnits, gridProjection, value,
                            "eprj_IntersectXcoordWithFrame", err);
}

Eprj_IntersectPtr *eprj_IntersectYcoordWithFrame(const char *frameUnits,
                                                 Eprj_MapProjection *mapProjection,
                                                 const Egda_BaseData *corners,
                                                 const char *gridUnits,
                                                 Eprj_MapProjection *gridProjection, double value,
                                                 Eerr_ErrorReport **err) {
  return IntersectWithFrame(1, frameUnits, mapProjection, corners, gridUnits, gridProjection, value,
                            "eprj_IntersectYcoordWithFrame", err);
}

Eprj_Intersect *eprj_IntersectCreate(double x, double y, double angle, Eerr_ErrorReport **err) {
  lower::Clear(err);
  auto *intersect = static_cast<Eprj_Intersect *>(emsc_HeapMalloc(sizeof(Eprj_Intersect)));
  if (!intersect) {
    lower::Report(err, "eprj_IntersectCreate", 1, "Out of memory");
    return nullptr;
  }
  *intersect = Eprj_Intersect{x, y, angle};
  return intersect;
}

Eprj_IntersectPtr *eprj_IntersectPtrCreate(int32_t count, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (count < 0) {
    lower::Report(err, "eprj_IntersectPtrCreate", 1, "Invalid intersection count %d", count);
    return nullptr;
  }
  Eprj_IntersectPtr *set = NewIntersectSet(static_cast<std::size_t>(count));
  if (!set) lower::Report(err, "eprj_IntersectPtrCreate", 2, "Out of memory");
  return set;
}

void eprj_IntersectPtrFree(Eprj_IntersectPtr **set) {
  if (!set || !*set) return;
  for (int32_t i = 0; i < (*set)->count; ++i)
    if ((*set)->intersects) emsc_HeapFree((*set)->intersects[i]);
  emsc_HeapFree((*set)->intersects);
  emsc_HeapFree(*set);
  *set = nullptr;
}

int32_t eprj_ComputeNorthAngleFromXAxis(const Egda_BaseData *point, const Eprj_ProParameters *a,
                                        const Eprj_ProParameters *b, double *angle,
                                        Eerr_ErrorReport **err) {
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
  _eprj_ProjectionPair *pair = NewObject<_eprj_ProjectionPair>();
  if (!pair || !FillPair(*pair, *a, crsA, *b, crsB)) {
    DeleteObject(pair);
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
  DeleteObject(pair);
  return ok ? 0 : -1;
}

} // extern "C"

// ---- Stored designs, the projection package, and nodes of hierarchical files ------------------

namespace {

namespace emif = taviron::emif;

// The stored-form layouts of the designs; each record type must match its design.
constexpr auto kCoordinateLayout = emif::RecordLayoutOf({{EMIF_TYPE_F64}, {EMIF_TYPE_F64}});
static_assert(kCoordinateLayout.size == sizeof(Eprj_Coordinate) &&
              kCoordinateLayout.offsets[1] == offsetof(Eprj_Coordinate, y));

constexpr auto kSizeLayout = emif::RecordLayoutOf({{EMIF_TYPE_F64}, {EMIF_TYPE_F64}});
static_assert(kSizeLayout.size == sizeof(Eprj_Size) &&
              kSizeLayout.offsets[1] == offsetof(Eprj_Size, height));

constexpr int32_t kPointerToRecord = EMIF_POINTER + EMIF_TYPE_RECORD;    // 1026
constexpr int32_t kDoubles = EMIF_COUNTED_ARRAY + EMIF_TYPE_F64;         // 526

constexpr auto kMapInfoLayout = emif::RecordLayoutOf(
    {{EMIF_TYPE_STRING},
     {kPointerToRecord, 0, kCoordinateLayout.AsNested()},
     {kPointerToRecord, 0, kCoordinateLayout.AsNested()},
     {kPointerToRecord, 0, kSizeLayout.AsNested()},
     {EMIF_TYPE_STRING}});
static_assert(kMapInfoLayout.size == sizeof(Eprj_MapInfo) &&
              kMapInfoLayout.offsets[0] == offsetof(Eprj_MapInfo, proName) &&
              kMapInfoLayout.offsets[1] == offsetof(Eprj_MapInfo, upperLeftCenter) &&
              kMapInfoLayout.offsets[2] == offsetof(Eprj_MapInfo, lowerRightCenter) &&
              kMapInfoLayout.offsets[3] == offsetof(Eprj_MapInfo, pixelSize) &&
              kMapInfoLayout.offsets[4] == offsetof(Eprj_MapInfo, units));

constexpr auto kDatumLayout = emif::RecordLayoutOf(
    {{EMIF_TYPE_STRING}, {EMIF_TYPE_ENUM}, {kDoubles}, {EMIF_TYPE_STRING}});
static_assert(kDatumLayout.size == sizeof(Eprj_Datum) &&
              kDatumLayout.offsets[1] == offsetof(Eprj_Datum, type) &&
              kDatumLayout.offsets[2] == offsetof(Eprj_Datum, params) &&
              kDatumLayout.offsets[3] == offsetof(Eprj_Datum, gridname));

constexpr auto kSpheroidLayout = emif::RecordLayoutOf(
    {{EMIF_TYPE_STRING}, {EMIF_TYPE_F64}, {EMIF_TYPE_F64}, {EMIF_TYPE_F64}, {EMIF_TYPE_F64},
     {EMIF_TYPE_RECORD, 0, kDatumLayout.AsNested()}});
static_assert(kSpheroidLayout.size == sizeof(Eprj_Spheroid) &&
              kSpheroidLayout.offsets[1] == offsetof(Eprj_Spheroid, a) &&
              kSpheroidLayout.offsets[2] == offsetof(Eprj_Spheroid, b) &&
              kSpheroidLayout.offsets[3] == offsetof(Eprj_Spheroid, eSquared) &&
              kSpheroidLayout.offsets[4] == offsetof(Eprj_Spheroid, radius) &&
              kSpheroidLayout.offsets[5] == offsetof(Eprj_Spheroid, datum));

constexpr auto kProParametersLayout = emif::RecordLayoutOf(
    {{EMIF_TYPE_S32}, {EMIF_TYPE_S32}, {EMIF_TYPE_STRING}, {EMIF_TYPE_S32}, {kDoubles},
     {EMIF_TYPE_RECORD, 0, kSpheroidLayout.AsNested()}});
static_assert(kProParametersLayout.size == sizeof(Eprj_ProParameters) &&
              kProParametersLayout.offsets[1] == offsetof(Eprj_ProParameters, proNumber) &&
              kProParametersLayout.offsets[2] == offsetof(Eprj_ProParameters, proName) &&
              kProParametersLayout.offsets[3] == offsetof(Eprj_ProParameters, proZone) &&
              kProParametersLayout.offsets[4] == offsetof(Eprj_ProParameters, proParams) &&
              kProParametersLayout.offsets[5] == offsetof(Eprj_ProParameters, proSpheroid));

constexpr const char *kDefineCallee = "emif_DefineObject";

void FreePackageData(void *data) {
  auto *package = static_cast<Eprj_PackageData *>(data);
  if (!package) return;
  emif_DictionaryDelete(package->dictionary, nullptr);
  emsc_HeapFree(package);
}

// The designs one node operation needs, in a dictionary of its own.
class NodeDesigns {
public:
  NodeDesigns() = default;
  NodeDesigns(const NodeDesigns &) = delete;
  NodeDesigns &operator=(const NodeDesigns &) = delete;
  ~NodeDesigns() { emif_DictionaryDelete(dictionary_, nullptr); }

  // The map-information (or projection-parameters) design; null with a report.
  const Emif_Design *Get(bool mapInfo, const char *reporter, int32_t code, Eerr_ErrorReport **err) {
    Eerr_ErrorReport *inner = nullptr;
    dictionary_ = emif_DictionaryCreate(&inner);
    if (!dictionary_) {
      lower::ReportCallee(err, inner, reporter, code, "emif_NewDictionary");
      return nullptr;
    }
    const Emif_Design *design = mapInfo ? eprj_MapInfoDesignDefine(dictionary_, &inner)
                                        : eprj_ProParametersDesignDefine(dictionary_, &inner);
    if (!design)
      lower::ReportCallee(err, inner, reporter, code,
                          mapInfo ? "eprj_MapInfoDesignDefine" : "eprj_ProParametersDesignDefine");
    return design;
  }

private:
  Emif_Dictionary *dictionary_ = nullptr;
};

// Moves to the entry at path (null: stays). Codes: `code` for a failed move.
bool MoveToBase(Ehfa_File *file, const char *path, const char *reporter, int32_t code,
                Eerr_ErrorReport **err) {
  if (!path) return true;
  Eerr_ErrorReport *inner = nullptr;
  if (ehfa_EntrySeek(file, EHFA_PATH, path, &inner)) return true;
  if (inner) lower::ReportCallee(err, inner, reporter, code, "ehfa_EntrySeek");
  else lower::Report(err, reporter, code, "No entry %s in %s", path, file->fileName);
  return false;
}

// Writes the record as the child `node` of the entry at path (null: the current entry),
// rewriting the child when there is one. The written child stays current unless keepCurrent.
// Codes: 2 designs, 3 locating, 4 writing.
bool WriteNode(Ehfa_File *file, const char *path, const char *node, const void *record,
               bool mapInfo, bool keepCurrent, const char *reporter, Eerr_ErrorReport **err) {
  NodeDesigns designs;
  const Emif_Design *design = designs.Get(mapInfo, reporter, 2, err);
  if (!design) return false;
  EhfaSavedEntry saved(file);
  if (!saved.Saved()) {
    lower::ReportCallee(err, saved.problem, reporter, 3, "ehfa_EntryPositionGet");
    return false;
  }
  if (!MoveToBase(file, path, reporter, 3, err)) return false;
  Eerr_ErrorReport *inner = nullptr;
  const bool exists = ehfa_EntryPeek(file, EHFA_CHILD_NAMED, node, &inner) != nullptr;
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 3, "ehfa_EntryPeek");
    return false;
  }
  if (exists && !ehfa_EntrySeek(file, EHFA_CHILD_NAMED, node, &inner)) {
    lower::ReportCallee(err, inner, reporter, 3, "ehfa_EntrySeek");
    return false;
  }
  const bool written =
      exists ? ehfa_ObjectWrite(file, nullptr, nullptr, nullptr, EHFA_OVERWRITE, record, design, &inner)
             : ehfa_ObjectWrite(file, nullptr, node, emif_DesignName(design), EHFA_CHILD, record,
                                design, &inner);
  if (!written) {
    lower::ReportCallee(err, inner, reporter, 4, "ehfa_ObjectWrite");
    return false;
  }
  saved.restore = keepCurrent;
  return true;
}

// Reads the child `node` of the entry at path (null: the current entry) into a new record, which
// is returned; the child becomes current. Codes: 2 designs, 3 locating, 4 reading.
void *ReadNode(Ehfa_File *file, const char *path, const char *node, bool mapInfo,
               const char *reporter, Eerr_ErrorReport **err) {
  NodeDesigns designs;
  const Emif_Design *design = designs.Get(mapInfo, reporter, 2, err);
  if (!design) return nullptr;
  EhfaSavedEntry saved(file);
  if (!saved.Saved()) {
    lower::ReportCallee(err, saved.problem, reporter, 3, "ehfa_EntryPositionGet");
    return nullptr;
  }
  if (!MoveToBase(file, path, reporter, 3, err)) return nullptr;
  Eerr_ErrorReport *inner = nullptr;
  const Ehfa_Entry *entry = ehfa_EntryPeek(file, EHFA_CHILD_NAMED, node, &inner);
  if (!entry) {
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 3, "ehfa_EntryPeek");
    } else {
      char *at = ehfa_CurrentEntryPath(file, nullptr);
      lower::Report(err, reporter, 3, "No node %s below %s in %s", node, at ? at : "the entry",
                    file->fileName);
      emsc_HeapFree(at);
    }
    return nullptr;
  }
  if (std::strcmp(entry->type, emif_DesignName(design)) != 0) {
    lower::Report(err, reporter, 4, "Node %s of %s holds a record of design %s, not %s", node,
                  file->fileName, entry->type, emif_DesignName(design));
    return nullptr;
  }
  void *record = ehfa_ObjectRead(file, nullptr, node, EHFA_CHILD_NAMED, nullptr, design, &inner);
  if (!record) {
    lower::ReportCallee(err, inner, reporter, 4, "ehfa_ObjectRead");
    return nullptr;
  }
  saved.restore = false;
  return record;
}

} // namespace

extern "C" {

Emif_Design *eprj_MapInfoDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_MapInfoDesignDefine";
  lower::Clear(err);
  if (!dictionary) {
    lower::Report(err, kReporter, 1, "Invalid design dictionary");
    return nullptr;
  }
  Eerr_ErrorReport *inner = nullptr;
  if (!emif_DesignCreate(dictionary, "Eprj_Coordinate", &inner, EMIF_TYPE_F64, "x",
                         EMIF_TYPE_F64, "y", 0)) {
    lower::ReportCallee(err, inner, kReporter, 2, kDefineCallee);
    return nullptr;
  }
  if (!emif_DesignCreate(dictionary, "Eprj_Size", &inner, EMIF_TYPE_F64, "width", EMIF_TYPE_F64,
                         "height", 0)) {
    lower::ReportCallee(err, inner, kReporter, 3, kDefineCallee);
    return nullptr;
  }
  Emif_Design *design = emif_DesignCreate(
      dictionary, "Eprj_MapInfo", &inner, EMIF_TYPE_STRING, "proName", kPointerToRecord,
      "upperLeftCenter", "Eprj_Coordinate", kPointerToRecord, "lowerRightCenter",
      "Eprj_Coordinate", kPointerToRecord, "pixelSize", "Eprj_Size", EMIF_TYPE_STRING, "units", 0);
  if (!design) lower::ReportCallee(err, inner, kReporter, 4, kDefineCallee);
  return design;
}

Emif_Design *eprj_ProParametersDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_ProParametersDesignDefine";
  lower::Clear(err);
  if (!dictionary) {
    lower::Report(err, kReporter, 1, "Invalid design dictionary");
    return nullptr;
  }
  Eerr_ErrorReport *inner = nullptr;
  if (!emif_DesignCreate(dictionary, "Eprj_Datum", &inner, EMIF_TYPE_STRING, "datumname",
                         EMIF_TYPE_ENUM, "type", "EPRJ_DATUM_PARAMETRIC", "EPRJ_DATUM_GRID",
                         "EPRJ_DATUM_NONE", static_cast<const char *>(nullptr), kDoubles,
                         "params", EMIF_TYPE_STRING, "gridname", 0)) {
    lower::ReportCallee(err, inner, kReporter, 2, kDefineCallee);
    return nullptr;
  }
  if (!emif_DesignCreate(dictionary, "Eprj_Spheroid", &inner, EMIF_TYPE_STRING, "sphereName",
                         EMIF_TYPE_F64, "a", EMIF_TYPE_F64, "b", EMIF_TYPE_F64, "eSquared",
                         EMIF_TYPE_F64, "radius", EMIF_TYPE_RECORD, "datum", "Eprj_Datum", 0)) {
    lower::ReportCallee(err, inner, kReporter, 3, kDefineCallee);
    return nullptr;
  }
  Emif_Design *design = emif_DesignCreate(
      dictionary, "Eprj_ProParameters", &inner, EMIF_TYPE_S32, "proType", EMIF_TYPE_S32,
      "proNumber", EMIF_TYPE_STRING, "proName", EMIF_TYPE_S32, "proZone", kDoubles, "proParams",
      EMIF_TYPE_RECORD, "proSpheroid", "Eprj_Spheroid", 0);
  if (!design) lower::ReportCallee(err, inner, kReporter, 4, kDefineCallee);
  return design;
}

int32_t eprj_Init(Eint_InitToolkitData *init, Eerr_ErrorReport **err) {
  static const char *const kReporter = "eprj_Init";
  lower::Clear(err);
  if (!init) {
    lower::Report(err, kReporter, 1, "Invalid toolkit record");
    return -1;
  }
  if (init->projectionData) return 0;
  auto *package = static_cast<Eprj_PackageData *>(emsc_HeapMalloc(sizeof(Eprj_PackageData)));
  if (!package) {
    lower::Report(err, kReporter, 2, "Error allocating the projection package data");
    return -1;
  }
  Eerr_ErrorReport *inner = nullptr;
  package->dictionary = emif_DictionaryCreate(&inner);
  if (!package->dictionary) {
    lower::ReportCallee(err, inner, kReporter, 3, "emif_NewDictionary");
    FreePackageData(package);
    return -1;
  }
  if (!eprj_MapInfoDesignDefine(package->dictionary, &inner)) {
    lower::ReportCallee(err, inner, kReporter, 4, "eprj_MapInfoDesignDefine");
    FreePackageData(package);
    return -1;
  }
  if (!eprj_ProParametersDesignDefine(package->dictionary, &inner)) {
    lower::ReportCallee(err, inner, kReporter, 5, "eprj_ProParametersDesignDefine");
    FreePackageData(package);
    return -1;
  }
  init->projectionData = package;
  init->projectionDataFree = FreePackageData;
  return 0;
}

int32_t eprj_MapInfoWrite(Ehfa_File *file, const char *path, const Eprj_MapInfo *info,
                          Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!file || !info) {
    lower::Report(err, "eprj_MapInfoWrite", 1, "Invalid file or map information");
    return -1;
  }
  return WriteNode(file, path, EPRJ_MAPINFO_NODE, info, true, false, "eprj_MapInfoWrite", err)
             ? 0
             : -1;
}

int32_t eprj_ProParametersWrite(Ehfa_File *file, const char *path,
                                const Eprj_ProParameters *parameters, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!file || !parameters) {
    lower::Report(err, "eprj_ProParametersWrite", 1, "Invalid file or projection parameters");
    return -1;
  }
  return WriteNode(file, path, EPRJ_PROPARAMETERS_NODE, parameters, false, false,
                   "eprj_ProParametersWrite", err)
             ? 0
             : -1;
}

Eprj_MapInfo *eprj_MapInfoRead(Ehfa_File *file, const char *path, Eprj_MapInfo *info,
                               int32_t /*reserved*/, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!file) {
    lower::Report(err, "eprj_MapInfoRead", 1, "Invalid file");
    return nullptr;
  }
  auto *read = static_cast<Eprj_MapInfo *>(
      ReadNode(file, path, EPRJ_MAPINFO_NODE, true, "eprj_MapInfoRead", err));
  if (!read || !info) return read;
  FreeMapInfoContents(*info);
  *info = *read;
  emsc_HeapFree(read);
  return info;
}

Eprj_ProParameters *eprj_ProParametersRead(Ehfa_File *file, const char *path,
                                           Eprj_ProParameters *parameters, int32_t /*reserved*/,
                                           Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!file) {
    lower::Report(err, "eprj_ProParametersRead", 1, "Invalid file");
    return nullptr;
  }
  auto *read = static_cast<Eprj_ProParameters *>(
      ReadNode(file, path, EPRJ_PROPARAMETERS_NODE, false, "eprj_ProParametersRead", err));
  if (!read || !parameters) return read;
  FreeProParametersContents(*parameters);
  *parameters = *read;
  emsc_HeapFree(read);
  return parameters;
}

int32_t eprj_ProParametersWriteSimple(Ehfa_File *file, int32_t /*reserved*/,
                                      const Eprj_ProParameters *parameters) {
  if (!file || !parameters) return -1;
  return WriteNode(file, nullptr, EPRJ_PROPARAMETERS_NODE, parameters, false, true,
                   "eprj_ProParametersWriteSimple", nullptr)
             ? 0
             : -1;
}

Eprj_ProParameters *eprj_ProParametersReadSimple(Ehfa_File *file, int32_t /*reserved*/) {
  if (!file) return nullptr;
  return static_cast<Eprj_ProParameters *>(ReadNode(file, nullptr, EPRJ_PROPARAMETERS_NODE, false,
                                                    "eprj_ProParametersReadSimple", nullptr));
}

} // extern "C"
