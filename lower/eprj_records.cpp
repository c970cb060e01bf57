// Map information and projection parameters: counted strings and arrays, the records and their
// parts, equality and printing.
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

namespace taviron::eprj {

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

} // namespace taviron::eprj

namespace {

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
  lower::CalleeReport inner;
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

const char *eprj_ProjectionNameUnknown(void) try { return kUnknownName; } TAVIRON_GUARD_QUIET(nullptr)
const char *eprj_UnitsNameOther(void) try { return kOtherUnits; } TAVIRON_GUARD_QUIET(nullptr)

// ---- parts --------------------------------------------------------------------------------------

Eprj_CharStr *eprj_CharStrCreate(const char *text, Eprj_CharStr *target, Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, nullptr)

Eprj_CharStr *eprj_CharStrCopy(const Eprj_CharStr *source, Eprj_CharStr *target,
                               Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, nullptr)

Eprj_Coordinate *eprj_CoordinateCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *c = static_cast<Eprj_Coordinate *>(emsc_HeapMalloc(sizeof(Eprj_Coordinate)));
  if (!c) lower::Report(err, "eprj_CoordinateCreate", 1, "Out of memory");
  return c;
} TAVIRON_GUARD(err, nullptr)

Eprj_Size *eprj_SizeCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *s = static_cast<Eprj_Size *>(emsc_HeapMalloc(sizeof(Eprj_Size)));
  if (!s) lower::Report(err, "eprj_SizeCreate", 1, "Out of memory");
  return s;
} TAVIRON_GUARD(err, nullptr)

Eprj_DblArray *eprj_DblArrayCreate(int32_t count, Eprj_DblArray *array, Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, nullptr)

Eprj_DblArray *eprj_DblArrayCopy(const Eprj_DblArray *source, Eprj_DblArray *destination,
                                 Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, nullptr)

void eprj_DblArrayFree(Eprj_DblArray *array) try {
  if (array) FreeDblArray(*array);
} TAVIRON_GUARD_QUIET_VOID

// ---- map information ----------------------------------------------------------------------------

Eprj_MapInfo *eprj_MapInfoCreate(Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, nullptr)

Eprj_MapInfo *eprj_MapInfoCopy(const Eprj_MapInfo *source, Eprj_MapInfo *destination,
                               Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, nullptr)

void eprj_MapInfoFree(Eprj_MapInfo **info) try {
  if (!info || !*info) return;
  FreeMapInfoContents(**info);
  emsc_HeapFree(*info);
  *info = nullptr;
} TAVIRON_GUARD_QUIET_VOID

int32_t eprj_MapInfoUpperLeftCenterSet(Eprj_MapInfo *info, double x, double y,
                                       Eerr_ErrorReport **err) try {
  return SetPart(info, &Eprj_MapInfo::upperLeftCenter, x, y, "eprj_MapInfoUpperLeftCenterSet",
                 err);
} TAVIRON_GUARD(err, -1)

int32_t eprj_MapInfoLowerRightCenterSet(Eprj_MapInfo *info, double x, double y,
                                        Eerr_ErrorReport **err) try {
  return SetPart(info, &Eprj_MapInfo::lowerRightCenter, x, y, "eprj_MapInfoLowerRightCenterSet",
                 err);
} TAVIRON_GUARD(err, -1)

int32_t eprj_MapInfoPixelSizeSet(Eprj_MapInfo *info, double width, double height,
                                 Eerr_ErrorReport **err) try {
  return SetPart(info, &Eprj_MapInfo::pixelSize, width, height, "eprj_MapInfoPixelSizeSet", err);
} TAVIRON_GUARD(err, -1)

int32_t eprj_MapInfoProjectionNameSet(Eprj_MapInfo *info, const char *name,
                                      Eerr_ErrorReport **err) try {
  return SetName(info, &Eprj_MapInfo::proName, name, "eprj_MapInfoProjectionNameSet", err);
} TAVIRON_GUARD(err, -1)

int32_t eprj_MapInfoUnitsSet(Eprj_MapInfo *info, const char *units, Eerr_ErrorReport **err) try {
  return SetName(info, &Eprj_MapInfo::units, units, "eprj_MapInfoUnitsSet", err);
} TAVIRON_GUARD(err, -1)

int32_t eprj_MapInfosEqual(const Eprj_MapInfo *a, const Eprj_MapInfo *b, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!a || !b) return !a && !b;
  if (a == b) return 1;
  return TextEqic(a->proName, b->proName) && TextEqic(a->units, b->units) &&
         PartsEqual(a->upperLeftCenter, b->upperLeftCenter) &&
         PartsEqual(a->lowerRightCenter, b->lowerRightCenter) &&
         PartsEqual(a->pixelSize, b->pixelSize);
} TAVIRON_GUARD(err, 0)

Efga_Polynomial *eprj_MapInfoToPolynomial(const Eprj_MapInfo *info, int32_t /*reserved*/,
                                          Eerr_ErrorReport **err) try {
  static const char *const kReporter = "eprj_MapInfoToPolynomial";
  lower::Clear(err);
  Grid grid;
  if (!GridOf(info, grid)) {
    lower::Report(err, kReporter, 1, "Invalid input map information");
    return nullptr;
  }
  lower::CalleeReport inner;
  Efga_Polynomial *poly = efga_PolyCreate2DAffine(grid.x, grid.y, 0, grid.sx, grid.sy, &inner);
  if (!poly) lower::ReportCallee(err, inner, kReporter, 2, "efga_PolyCreate2DAffine");
  return poly;
} TAVIRON_GUARD(err, nullptr)

Efga_Polynomial *eprj_ComputeTransformBetweenMapInfos(const Eprj_MapInfo *from,
                                                      const Eprj_MapInfo *to,
                                                      Eerr_ErrorReport **err) try {
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
  lower::CalleeReport inner;
  if (fromUnits && toUnits && !estr_Eqic(fromUnits, toUnits)) {
    const double one = 1;
    if (ecvt_UnitsConvertByName(&one, fromUnits, &factor, toUnits, 1, &inner) != 0) {
      lower::ReportCallee(err, inner, kReporter, 3, "ecvt_UnitsConvertByName");
      return nullptr;
    }
    inner.Drop(); // a warning only: "other" units are taken as they are
  }
  // column' = (factor (x0 + sx column) - x1) / sx1, and the same for rows.
  Efga_Polynomial *poly =
      efga_PolyCreate2DAffine((factor * a.x - b.x) / b.sx, (factor * a.y - b.y) / b.sy, 0,
                              factor * a.sx / b.sx, factor * a.sy / b.sy, &inner);
  if (!poly) lower::ReportCallee(err, inner, kReporter, 4, "efga_PolyCreate2DAffine");
  return poly;
} TAVIRON_GUARD(err, nullptr)

// ---- projection parameters ----------------------------------------------------------------------

Eprj_ProParameters *eprj_ProParametersCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *p = static_cast<Eprj_ProParameters *>(emsc_HeapMalloc(sizeof(Eprj_ProParameters)));
  if (!p) lower::Report(err, "eprj_ProParametersCreate", 1, "Out of memory");
  return p;
} TAVIRON_GUARD(err, nullptr)

Eprj_ProParameters *eprj_ProParametersCopy(const Eprj_ProParameters *source,
                                           Eprj_ProParameters *destination,
                                           Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, nullptr)

void eprj_ProParametersFree(Eprj_ProParameters **parameters) try {
  if (!parameters || !*parameters) return;
  FreeProParametersContents(**parameters);
  emsc_HeapFree(*parameters);
  *parameters = nullptr;
} TAVIRON_GUARD_QUIET_VOID

void eprj_ProParametersPrint(const Eprj_ProParameters *p, Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD_VOID(err)

int32_t eprj_ProParametersEqual(const Eprj_ProParameters *a, const Eprj_ProParameters *b,
                                Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, 0)

} // extern "C"
