#include "ecvt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "emsc.h"
#include "taviron_testing.h"

namespace {

constexpr double kPi = std::numbers::pi;

using taviron::testing::ErrorSlot;

// x' and y' of a 2-D first-order polynomial at (x, y).
void Apply(const Efga_Polynomial *p, double x, double y, double &ox, double &oy) {
  Egda_BaseData *in = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  auto *d = reinterpret_cast<double *>(in->origin);
  d[0] = x;
  d[1] = y;
  Egda_BaseData *out = efga_PolyTransCoords(in, nullptr, p, 0, nullptr);
  ASSERT_NE(out, nullptr);
  ox = reinterpret_cast<double *>(out->origin)[0];
  oy = reinterpret_cast<double *>(out->origin)[1];
  egda_BaseDataDelete(in, nullptr);
  egda_BaseDataDelete(out, nullptr);
}

TEST(EcvtConvert, KnownUnitsConvertByTheirFactors) {
  struct Case {
    double value;
    const char *from, *to;
    double expected;
    bool exact;
  } cases[] = {
      {1, "inches", "points", 72, true},
      {1, "feet", "inches", 12, true},
      {1, "picas", "points", 12, true},
      {3, "yards", "feet", 9, true},
      {1, "miles", "feet", 5280, true},
      {1, "Meters", "FEET", 1 / 0.3048, false},
      {2.5, "kilometers", "meters", 2500, true},
      {1, "International_Nautical_Miles", "meters", 1852, true},
      {100, "us_survey_feet", "meters", 100 * 1200.0 / 3937.0, false},
      {550, "nanometers", "micrometers", 0.55, false},
      {180, "dd", "radians", kPi, false},
      {kPi / 2, "radians", "degrees", 90, false},
      {1, "degrees", "arc_seconds", 3600, false},
      {45, "DD", "degrees", 45, true},
      {1, "kilometers", "points", 1000 / 0.0254 * 72, false},
  };
  for (const Case &c : cases) {
    ErrorSlot err;
    double result = -1;
    EXPECT_EQ(ecvt_UnitsConvertByName(&c.value, c.from, &result, c.to, 1, &err), 0)
        << c.from << " -> " << c.to;
    EXPECT_EQ(err.get(), nullptr);
    if (c.exact) {
      EXPECT_EQ(result, c.expected) << c.from << " -> " << c.to;
    }
    else
      EXPECT_NEAR(result, c.expected, 1e-12 * std::fabs(c.expected)) << c.from << " -> " << c.to;
  }
}

TEST(EcvtConvert, RunsConvertInPlaceAndEqualNamesCopy) {
  double values[3] = {1, 2, 3};
  ErrorSlot err;
  ASSERT_EQ(ecvt_UnitsConvertByName(values, "feet", values, "inches", 3, &err), 0);
  EXPECT_EQ(values[0], 12);
  EXPECT_EQ(values[2], 36);

  ASSERT_EQ(ecvt_UnitsConvert("inches", "feet", values, 3, &err), 0);
  EXPECT_EQ(values[1], 2);

  // Equal names need no table entry.
  double out[3] = {};
  ASSERT_EQ(ecvt_UnitsConvertByName(values, "furlongs", out, "FURLONGS", 3, &err), 0);
  EXPECT_EQ(err.get(), nullptr);
  EXPECT_EQ(out[2], 3);

  EXPECT_EQ(ecvt_UnitsConvertByName(nullptr, "feet", nullptr, "meters", 0, &err), 0);
}

TEST(EcvtConvert, OtherUnitsPassValuesWithAWarning) {
  for (auto [from, to] : {std::pair{"other", "meters"}, std::pair{"dd", "Other"}}) {
    ErrorSlot err;
    double value = 12.5, result = 0;
    EXPECT_EQ(ecvt_UnitsConvertByName(&value, from, &result, to, 1, &err), 0);
    EXPECT_EQ(result, 12.5);
    ASSERT_NE(err.get(), nullptr);
    EXPECT_EQ(err.get()->severity, EERR_WARNING);
    EXPECT_EQ(err.get()->code, 4);
    EXPECT_STREQ(err.get()->reporter, "ecvt_UnitsConvertByName");
  }
}

TEST(EcvtConvert, RefusedConversionsFailAndLeaveResults) {
  struct Case {
    const char *from, *to;
    int32_t count;
    int32_t code;
  } cases[] = {
      {"furlongs", "meters", 1, 2}, {"meters", "cubits", 1, 3}, {"meters", "radians", 1, 5},
      {"dd", "feet", 1, 5},         {nullptr, "meters", 1, 1},  {"meters", "", 1, 1},
      {"meters", "feet", -1, 1},
  };
  for (const Case &c : cases) {
    ErrorSlot err;
    double value = 7, result = -1;
    EXPECT_EQ(ecvt_UnitsConvertByName(&value, c.from, &result, c.to, c.count, &err), -1);
    EXPECT_EQ(result, -1);
    ASSERT_NE(err.get(), nullptr);
    EXPECT_EQ(err.get()->severity, EERR_FATAL);
    EXPECT_EQ(err.get()->code, c.code) << (c.from ? c.from : "null") << " -> " << c.to;
  }
  // A null slot is accepted.
  double value = 1, result = 0;
  EXPECT_EQ(ecvt_UnitsConvertByName(&value, "meters", &result, "radians", 1, nullptr), -1);
}

TEST(EcvtConvert, MatrixConvertsEveryElementInPlace) {
  Egda_BaseData *m = egda_BaseDataCreate(2, 3, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  auto *d = reinterpret_cast<double *>(m->origin);
  for (int i = 0; i < 6; ++i) d[i] = i + 1;
  ErrorSlot err;
  ASSERT_EQ(ecvt_UnitsConvertMatrixByName(m, "inches", "points", &err), 0);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(d[i], 72.0 * (i + 1));
  egda_BaseDataDelete(m, nullptr);

  Egda_BaseData *bytes = egda_BaseDataCreate(2, 2, EGDA_TYPE_U8, EGDA_MATRIX, nullptr, nullptr);
  EXPECT_EQ(ecvt_UnitsConvertMatrixByName(bytes, "inches", "points", &err), -1);
  EXPECT_NE(err.get(), nullptr);
  egda_BaseDataDelete(bytes, nullptr);
  EXPECT_EQ(ecvt_UnitsConvertMatrixByName(nullptr, "inches", "points", &err), -1);
}

TEST(EcvtUnitSet, PolynomialsGoToTheStandardUnitAndBack) {
  ErrorSlot err;
  int32_t kind = 0;
  Efga_Polynomial *to = nullptr, *from = nullptr;
  ASSERT_EQ(ecvt_UnitSetByName("Inches", &kind, &to, &from, &err), 0);
  EXPECT_EQ(kind, ECVT_KIND_LENGTH);
  double x, y;
  Apply(to, 1, 2, x, y);
  EXPECT_DOUBLE_EQ(x, 0.0254);
  EXPECT_DOUBLE_EQ(y, 0.0508);

  // Composing feet-to-standard with from-standard-to-inches gives 12 inches per foot.
  Efga_Polynomial *feetTo = nullptr;
  ASSERT_EQ(ecvt_UnitSetByName("feet", &kind, &feetTo, nullptr, &err), 0);
  Efga_Polynomial *feetToInches = efga_PolynomialComposition(from, feetTo, nullptr);
  Apply(feetToInches, 1, -3, x, y);
  EXPECT_NEAR(x, 12, 1e-12);
  EXPECT_NEAR(y, -36, 1e-12);

  // A slot that holds a polynomial is rewritten, not replaced.
  Efga_Polynomial *kept = to;
  ASSERT_EQ(ecvt_UnitSetByName("dd", &kind, &to, nullptr, &err), 0);
  EXPECT_EQ(to, kept);
  EXPECT_EQ(kind, ECVT_KIND_ANGLE);
  Apply(to, 180, 90, x, y);
  EXPECT_DOUBLE_EQ(x, kPi);
  EXPECT_DOUBLE_EQ(y, kPi / 2);

  ASSERT_EQ(ecvt_UnitSetByName("OTHER", &kind, nullptr, nullptr, &err), 0);
  EXPECT_EQ(kind, ECVT_KIND_OTHER);

  for (Efga_Polynomial *p : {to, from, feetTo, feetToInches}) efga_PolynomialDelete(p, nullptr);
}

TEST(EcvtUnitSet, UnknownNameGivesKindMinusOneAndAReport) {
  ErrorSlot err;
  int32_t kind = 0;
  Efga_Polynomial *to = nullptr;
  EXPECT_EQ(ecvt_UnitSetByName("furlongs", &kind, &to, nullptr, &err), -1);
  EXPECT_EQ(kind, ECVT_KIND_UNKNOWN);
  EXPECT_EQ(to, nullptr);
  ASSERT_NE(err.get(), nullptr);
  EXPECT_STREQ(err.get()->reporter, "ecvt_UnitSetByName");
  EXPECT_EQ(ecvt_UnitSetByName(nullptr, &kind, nullptr, nullptr, nullptr), -1);
}

TEST(EcvtUnitSet, SurvivesEveryAllocationFailure) {
  Efga_Polynomial *to = nullptr, *from = nullptr;
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) {
        to = from = nullptr;
        if (ecvt_UnitSetByName("points", nullptr, &to, &from, err) == 0) return true;
        EXPECT_EQ(to, nullptr);
        EXPECT_EQ(from, nullptr);
        return false;
      },
      [&] {
        efga_PolynomialDelete(to, nullptr);
        efga_PolynomialDelete(from, nullptr);
      },
      {.limit = 100});
}

TEST(EcvtDD2DMS, SplitsDegreesMinutesSeconds) {
  struct Case {
    double value, d, m, s;
  } cases[] = {
      {12.5, 12, 30, 0},
      {-12.5, -12, 30, 0},
      {45.2625, 45, 15, 45},
      {12.516666666666667, 12, 31, 0}, // 12 31' 00" despite the binary fraction
      {59.999999999999, 60, 0, 0},     // within a millionth of a second of 60 degrees
      {-179.75, -179, 45, 0},
      {0, 0, 0, 0},
      {0.0001, 0, 0, 0.36},
  };
  for (const Case &c : cases) {
    double d, m, s;
    ecvt_DD2DMS(c.value, &d, &m, &s);
    EXPECT_EQ(d, c.d) << c.value;
    EXPECT_EQ(m, c.m) << c.value;
    EXPECT_NEAR(s, c.s, 1e-9) << c.value;
    EXPECT_GE(s, 0);
    EXPECT_LT(s, 60);
  }
}

TEST(EcvtDD2DMS, KeepsTheSignOfSmallNegativeValuesAndToleratesNulls) {
  double d, m, s;
  ecvt_DD2DMS(-0.5, &d, &m, &s);
  EXPECT_EQ(d, 0);
  EXPECT_TRUE(std::signbit(d));
  EXPECT_EQ(m, 30);
  EXPECT_EQ(s, 0);

  ecvt_DD2DMS(10.25, nullptr, &m, nullptr);
  EXPECT_EQ(m, 15);

  ecvt_DD2DMS(std::nan(""), &d, &m, &s);
  EXPECT_TRUE(std::isnan(d));
  EXPECT_EQ(m, 0);
  EXPECT_EQ(s, 0);
}

} // namespace
