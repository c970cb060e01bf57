// Map information and projection parameters: records, spheroid and datum tables, numbered
// projections and the file convention of their parameters.
#include "eprj.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <type_traits>
#include <utility>

#include "ecvt.h"
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

// Saves the current entry and puts it back when the operation does not keep its move.
class SavedEntry {
public:
  SavedEntry(const SavedEntry &) = delete;
  SavedEntry &operator=(const SavedEntry &) = delete;
  explicit SavedEntry(Ehfa_File *file) : file_(file) { position_ = ehfa_EntryPositionGet(file, &problem); }
  ~SavedEntry() {
    if (restore && position_) ehfa_EntryPositionSet(file_, position_, nullptr);
    ehfa_EntryPositionFree(position_);
  }
  bool Saved() const { return position_ != nullptr; }
  Eerr_ErrorReport *problem = nullptr; // the report of a failed save
  bool restore = true;

private:
  Ehfa_File *file_;
  Ehfa_EntryPosition *position_ = nullptr;
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
  SavedEntry saved(file);
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
  SavedEntry saved(file);
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
