// Unit conversion by name.
#include "ecvt.h"

#include <cmath>
#include <numbers>

#include "egda_pixel.h"
#include "estr.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

// One unit: its names and its size in the standard unit of its kind, as the ratio num / den.
// Lengths are given in exact decimal fractions of a metre so that the ratio of two units is
// computed from exact integers (an inch is exactly 72 points, a foot exactly 12 inches).
struct Unit {
  const char *names[6]; // the first is the unit's name; null ends the list
  int32_t kind;
  double num;
  double den;
};

constexpr double kPi = std::numbers::pi;

constexpr Unit kUnits[] = {
    {{"meters", "meter", "metres", "metre"}, ECVT_KIND_LENGTH, 1, 1},
    {{"kilometers", "kilometer", "kilometres", "kilometre"}, ECVT_KIND_LENGTH, 1000, 1},
    {{"centimeters", "centimeter", "centimetres", "centimetre"}, ECVT_KIND_LENGTH, 1, 100},
    {{"millimeters", "millimeter", "millimetres", "millimetre"}, ECVT_KIND_LENGTH, 1, 1000},
    {{"micrometers", "micrometer", "microns", "micron"}, ECVT_KIND_LENGTH, 1, 1000000},
    {{"nanometers", "nanometer"}, ECVT_KIND_LENGTH, 1, 1000000000},
    {{"feet", "foot", "international_feet"}, ECVT_KIND_LENGTH, 3048, 10000},
    {{"us_survey_feet", "survey_feet", "us survey feet"}, ECVT_KIND_LENGTH, 1200, 3937},
    {{"inches", "inch"}, ECVT_KIND_LENGTH, 254, 10000},
    {{"yards", "yard"}, ECVT_KIND_LENGTH, 9144, 10000},
    {{"miles", "mile", "statute_miles"}, ECVT_KIND_LENGTH, 1609344, 1000},
    {{"nautical_miles", "international_nautical_miles", "nautical miles", "nautical_mile"},
     ECVT_KIND_LENGTH, 1852, 1},
    {{"points", "point"}, ECVT_KIND_LENGTH, 254, 720000},
    {{"picas", "pica"}, ECVT_KIND_LENGTH, 254, 60000},
    {{"radians", "radian"}, ECVT_KIND_ANGLE, 1, 1},
    {{"degrees", "degree", "dd", "decimal_degrees"}, ECVT_KIND_ANGLE, kPi, 180},
    {{"arc_minutes", "arcminutes"}, ECVT_KIND_ANGLE, kPi, 10800},
    {{"arc_seconds", "arcseconds"}, ECVT_KIND_ANGLE, kPi, 648000},
    {{"grads", "gons", "gradians"}, ECVT_KIND_ANGLE, kPi, 200},
    {{"other"}, ECVT_KIND_OTHER, 1, 1},
};

const Unit *Find(const char *name) {
  if (!name) return nullptr;
  for (const Unit &unit : kUnits)
    for (const char *alias : unit.names) {
      if (!alias) break;
      if (estr_Eqic(alias, name)) return &unit;
    }
  return nullptr;
}

const char *KindName(int32_t kind) {
  switch (kind) {
  case ECVT_KIND_LENGTH: return "length";
  case ECVT_KIND_ANGLE: return "angle";
  case ECVT_KIND_OTHER: return "other";
  default: return "unknown";
  }
}

// Works out the factor that takes values in `from` to `to`. Returns false with a report when the
// units cannot be converted; a conversion involving the "other" units leaves a warning.
bool Factor(const char *from, const char *to, double &factor, const char *reporter,
            Eerr_ErrorReport **err) {
  factor = 1;
  if (!from || !*from || !to || !*to) {
    lower::Report(err, reporter, 1, "Invalid units name");
    return false;
  }
  if (estr_Eqic(from, to)) return true;
  const Unit *a = Find(from);
  if (!a) {
    lower::Report(err, reporter, 2, "Unknown units \"%s\"", from);
    return false;
  }
  const Unit *b = Find(to);
  if (!b) {
    lower::Report(err, reporter, 3, "Unknown units \"%s\"", to);
    return false;
  }
  if (a->kind != b->kind) {
    if (a->kind == ECVT_KIND_OTHER || b->kind == ECVT_KIND_OTHER) {
      if (err)
        *err = eerr_CreateErrorReport(reporter, 4, EERR_WARNING, *err,
                                      "Units \"%s\" (%s) and \"%s\" (%s) are of different kinds; "
                                      "values left unchanged",
                                      from, KindName(a->kind), to, KindName(b->kind));
      return true;
    }
    lower::Report(err, reporter, 5, "Cannot convert units \"%s\" (%s) to \"%s\" (%s)", from,
                  KindName(a->kind), to, KindName(b->kind));
    return false;
  }
  // Both products are exact for the lengths of the table; the quotient is rounded once.
  factor = (a->num * b->den) / (a->den * b->num);
  return true;
}

int32_t Convert(const double *values, const char *from, double *results, const char *to,
                int32_t count, const char *reporter, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (count < 0 || (count > 0 && (!values || !results))) {
    lower::Report(err, reporter, 1, "Invalid values to convert");
    return -1;
  }
  double factor;
  if (!Factor(from, to, factor, reporter, err)) return -1;
  for (int32_t i = 0; i < count; ++i) results[i] = values[i] * factor;
  return 0;
}

} // namespace

extern "C" {

int32_t ecvt_UnitsConvertByName(const double *values, const char *from, double *results,
                                const char *to, int32_t count, Eerr_ErrorReport **err) try {
  return Convert(values, from, results, to, count, "ecvt_UnitsConvertByName", err);
} TAVIRON_GUARD(err, -1)

int32_t ecvt_UnitsConvert(const char *from, const char *to, double *values, int32_t count,
                          Eerr_ErrorReport **err) try {
  return Convert(values, from, values, to, count, "ecvt_UnitsConvert", err);
} TAVIRON_GUARD(err, -1)

int32_t ecvt_UnitsConvertMatrixByName(Egda_BaseData *matrix, const char *from, const char *to,
                                      Eerr_ErrorReport **err) try {
  static const char *const kReporter = "ecvt_UnitsConvertMatrixByName";
  lower::Clear(err);
  if (!matrix || matrix->pixelType != EGDA_TYPE_F64 || matrix->rows < 0 || matrix->columns < 0 ||
      (matrix->rows > 0 && matrix->columns > 0 && !matrix->origin)) {
    lower::Report(err, kReporter, 1, "Invalid matrix: doubles expected");
    return -1;
  }
  double factor;
  if (!Factor(from, to, factor, kReporter, err)) return -1;
  for (int32_t r = 0; r < matrix->rows; ++r)
    for (int32_t c = 0; c < matrix->columns; ++c) lower::At<double>(*matrix, r, c) *= factor;
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t ecvt_UnitSetByName(const char *name, int32_t *kind, Efga_Polynomial **toStandard,
                           Efga_Polynomial **fromStandard, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "ecvt_UnitSetByName";
  lower::Clear(err);
  const Unit *unit = Find(name);
  if (kind) *kind = unit ? unit->kind : ECVT_KIND_UNKNOWN;
  if (!unit) {
    lower::Report(err, kReporter, 1, "Unknown units \"%s\"", name ? name : "(null)");
    return -1;
  }
  const double to = unit->num / unit->den, back = unit->den / unit->num;
  lower::CalleeReport inner;
  Efga_Polynomial *madeTo = nullptr;
  if (toStandard) {
    Efga_Polynomial *p = efga_PolyCreate2DScale(*toStandard, to, to, &inner);
    if (!p) {
      lower::ReportCallee(err, inner, kReporter, 2, "efga_PolyCreate2DScale");
      return -1;
    }
    if (!*toStandard) madeTo = p;
    *toStandard = p;
  }
  if (fromStandard) {
    Efga_Polynomial *p = efga_PolyCreate2DScale(*fromStandard, back, back, &inner);
    if (!p) {
      if (madeTo) {
        efga_PolynomialDelete(madeTo, nullptr);
        *toStandard = nullptr;
      }
      lower::ReportCallee(err, inner, kReporter, 3, "efga_PolyCreate2DScale");
      return -1;
    }
    *fromStandard = p;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

void ecvt_DD2DMS(double value, double *degrees, double *minutes, double *seconds) try {
  double d = value, m = 0, s = 0;
  if (std::isfinite(value)) {
    double total = std::fabs(value) * 3600.0;
    // Snap to a whole second when within a millionth of one (floating noise of the input).
    const double whole = std::round(total);
    if (std::fabs(total - whole) < 1e-6) total = whole;
    double deg = std::floor(total / 3600.0);
    double rest = total - deg * 3600.0;
    m = std::floor(rest / 60.0);
    s = rest - m * 60.0;
    if (s < 0) {
      m -= 1;
      s += 60;
    }
    if (s >= 60) {
      m += 1;
      s -= 60;
    }
    if (m < 0) {
      deg -= 1;
      m += 60;
    }
    if (m >= 60) {
      deg += 1;
      m -= 60;
    }
    if (s < 0) s = 0;
    d = std::copysign(deg, value);
  }
  if (degrees) *degrees = d;
  if (minutes) *minutes = m;
  if (seconds) *seconds = s;
} TAVIRON_GUARD_QUIET_VOID

} // extern "C"
