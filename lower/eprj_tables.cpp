// Spheroid and datum tables, the numbered projections and the file convention of their
// parameters (packed angles).
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

} // namespace

extern "C" {

// ---- spheroids and datums -----------------------------------------------------------------------

Eprj_Spheroid *eprj_SpheroidByName(Eint_InitToolkitData * /*init*/, const char *name,
                                   Eprj_Spheroid *spheroid, Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, nullptr)

Eprj_Spheroid *eprj_SpheroidByNum(Eint_InitToolkitData * /*init*/, int32_t number,
                                  Eprj_Spheroid *spheroid, Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, nullptr)

Eprj_Spheroid *eprj_SpheroidByParms(Eint_InitToolkitData * /*init*/,
                                    const Eprj_DblArray *parameters, Eprj_Spheroid *spheroid,
                                    Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, nullptr)

int32_t eprj_SpheroidNumberByName(Eint_InitToolkitData * /*init*/, const char *name,
                                  Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!name) {
    lower::Report(err, "eprj_SpheroidNumberByName", 1, "Invalid input spheroid name");
    return 0;
  }
  for (int32_t i = 0; i < kSpheroidCount; ++i)
    if (estr_Eqic(kSpheroids[i].name, name)) return i + 1;
  return 0;
} TAVIRON_GUARD(err, 0)

Eprj_Datum *eprj_DatumByName(Eint_InitToolkitData * /*init*/, const char *spheroidName,
                             const char *datumName, Eprj_Datum *datum, Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, nullptr)

// ---- numbered projections -----------------------------------------------------------------------

const Eprj_ProjectionEntry *eprj_QueryByName(Eint_InitToolkitData * /*init*/, const char *name,
                                             Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (name)
    for (const Eprj_ProjectionEntry &e : kProjections.entries)
      if (estr_Eqic(e.name, name)) return &e;
  lower::Report(err, "eprj_QueryByName", 1, "Unknown projection \"%s\"", name ? name : "(null)");
  return nullptr;
} TAVIRON_GUARD(err, nullptr)

Eprj_CharStr *eprj_ProjName(Eint_InitToolkitData * /*init*/, int32_t number, Eprj_CharStr *name,
                            Eerr_ErrorReport **err) try {
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
  lower::CalleeReport inner;
  if (!eprj_CharStrCreate(kProjectionNames[number], name, &inner)) {
    lower::ReportCallee(err, inner, kReporter, 3, "eprj_CharStrCreate");
    return nullptr;
  }
  return name;
} TAVIRON_GUARD(err, nullptr)

int32_t eprj_Proj7xNumber(Eint_InitToolkitData * /*init*/, const Eprj_MapInfo *info,
                          Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, -1)

int32_t eprj_GCTPProParams2Radians(int32_t number, const Eprj_DblArray *in, Eprj_DblArray *out,
                                   int32_t flag, Eerr_ErrorReport **err) try {
  return ConvertParams(number, in, out, flag, true, "eprj_GCTPProParams2Radians", err);
} TAVIRON_GUARD(err, -1)

int32_t eprj_Radians2GCTPProParams(int32_t number, const Eprj_DblArray *in, Eprj_DblArray *out,
                                   int32_t flag, Eerr_ErrorReport **err) try {
  return ConvertParams(number, in, out, flag, false, "eprj_Radians2GCTPProParams", err);
} TAVIRON_GUARD(err, -1)

double eprj_Adjl(double x, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!std::isfinite(x)) {
    lower::Report(err, "eprj_Adjl", 1, "Longitude %g is not finite", x);
    return x;
  }
  if (std::fabs(x) <= kPi) return x;
  return std::remainder(x, 2 * kPi);
} TAVIRON_GUARD(err, x)

} // extern "C"
