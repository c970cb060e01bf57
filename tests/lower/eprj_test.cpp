#include "eprj.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <numbers>
#include <string>

#include "emsc.h"
#include "taviron_testing.h"

namespace {

using taviron::testing::SweepAllocationFailures;

constexpr double kPi = std::numbers::pi;

using taviron::testing::ErrorSlot;

std::string Text(const Eprj_CharStr &s) { return s.count > 0 && s.data ? s.data : "<empty>"; }

// (x, y) carried through a 2-D first-order polynomial.
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

// Map information of a grid: upper-left centre, lower-right centre, pixel size, units.
Eprj_MapInfo *Grid(double ulx, double uly, double lrx, double lry, double w, double h,
                   const char *units = "meters", const char *name = "UTM") {
  Eprj_MapInfo *info = eprj_MapInfoCreate(nullptr);
  eprj_MapInfoUpperLeftCenterSet(info, ulx, uly, nullptr);
  eprj_MapInfoLowerRightCenterSet(info, lrx, lry, nullptr);
  eprj_MapInfoPixelSizeSet(info, w, h, nullptr);
  eprj_MapInfoUnitsSet(info, units, nullptr);
  eprj_MapInfoProjectionNameSet(info, name, nullptr);
  return info;
}

// Projection parameters of an Albers projection on Clarke 1866 with the NAD27 datum.
Eprj_ProParameters *Albers() {
  Eprj_ProParameters *p = eprj_ProParametersCreate(nullptr);
  p->proNumber = 3;
  eprj_ProjName(nullptr, 3, &p->proName, nullptr);
  p->proZone = 0;
  eprj_DblArrayCreate(15, &p->proParams, nullptr);
  p->proParams.data[2] = 29.5 * kPi / 180;
  p->proParams.data[3] = 45.5 * kPi / 180;
  p->proParams.data[4] = -96 * kPi / 180;
  p->proParams.data[5] = 23 * kPi / 180;
  eprj_SpheroidByName(nullptr, "Clarke 1866", &p->proSpheroid, nullptr);
  eprj_DatumByName(nullptr, "Clarke 1866", "NAD27", &p->proSpheroid.datum, nullptr);
  return p;
}

// ---- parts --------------------------------------------------------------------------------------

TEST(EprjCharStr, CreateCountsTheTerminatorReusesAndEmpties) {
  ErrorSlot err;
  Eprj_CharStr s{};
  ASSERT_EQ(eprj_CharStrCreate("meters", &s, &err), &s);
  EXPECT_EQ(s.count, 7);
  EXPECT_STREQ(s.data, "meters");
  char *block = s.data;
  ASSERT_EQ(eprj_CharStrCreate("inches", &s, &err), &s); // same count: same block
  EXPECT_EQ(s.data, block);
  EXPECT_STREQ(s.data, "inches");
  ASSERT_EQ(eprj_CharStrCreate("dd", &s, &err), &s);
  EXPECT_EQ(s.count, 3);

  Eprj_CharStr copy{};
  ASSERT_EQ(eprj_CharStrCopy(&s, &copy, &err), &copy);
  EXPECT_STREQ(copy.data, "dd");
  EXPECT_NE(copy.data, s.data);
  EXPECT_EQ(eprj_CharStrCopy(&copy, &copy, &err), &copy);
  EXPECT_STREQ(copy.data, "dd");

  ASSERT_EQ(eprj_CharStrCreate(nullptr, &s, &err), &s);
  EXPECT_EQ(s.count, 0);
  EXPECT_EQ(s.data, nullptr);
  ASSERT_EQ(eprj_CharStrCopy(&s, &copy, &err), &copy); // an empty source empties the target
  EXPECT_EQ(copy.count, 0);
  EXPECT_EQ(copy.data, nullptr);

  EXPECT_EQ(eprj_CharStrCreate("x", nullptr, &err), nullptr);
  EXPECT_NE(err.get(), nullptr);
  EXPECT_EQ(eprj_CharStrCopy(nullptr, &copy, &err), nullptr);
  EXPECT_NE(err.get(), nullptr);
}

TEST(EprjCharStr, FailedAllocationLeavesTheStringAsItWas) {
  Eprj_CharStr s{};
  eprj_CharStrCreate("meters", &s, nullptr);
  Eerr_ErrorReport *err = nullptr;
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(eprj_CharStrCreate("kilometers", &s, &err), nullptr);
  }
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_STREQ(s.data, "meters");
  EXPECT_EQ(s.count, 7);
  emsc_HeapFree(s.data);
}

TEST(EprjDblArray, CreateCopyFree) {
  ErrorSlot err;
  Eprj_DblArray a{}, b{};
  ASSERT_EQ(eprj_DblArrayCreate(15, &a, &err), &a);
  ASSERT_EQ(a.count, 15);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(a.data[i], 0);
  a.data[14] = 2.5;
  ASSERT_EQ(eprj_DblArrayCopy(&a, &b, &err), &b);
  EXPECT_EQ(b.count, 15);
  EXPECT_EQ(b.data[14], 2.5);
  EXPECT_NE(b.data, a.data);

  EXPECT_EQ(eprj_DblArrayCreate(-1, &a, &err), nullptr);
  EXPECT_NE(err.get(), nullptr);
  EXPECT_EQ(a.count, 15); // untouched
  EXPECT_EQ(eprj_DblArrayCreate(3, nullptr, &err), nullptr);

  ASSERT_EQ(eprj_DblArrayCreate(0, &a, &err), &a);
  EXPECT_EQ(a.count, 0);
  EXPECT_EQ(a.data, nullptr);
  eprj_DblArrayFree(&b);
  EXPECT_EQ(b.count, 0);
  EXPECT_EQ(b.data, nullptr);
  eprj_DblArrayFree(nullptr);
}

// ---- map information ----------------------------------------------------------------------------

TEST(EprjMapInfo, CreateSetCopyFree) {
  ErrorSlot err;
  Eprj_MapInfo *info = eprj_MapInfoCreate(&err);
  ASSERT_NE(info, nullptr);
  ASSERT_NE(info->upperLeftCenter, nullptr);
  ASSERT_NE(info->lowerRightCenter, nullptr);
  ASSERT_NE(info->pixelSize, nullptr);
  EXPECT_EQ(info->proName.count, 0);

  EXPECT_EQ(eprj_MapInfoUpperLeftCenterSet(info, 10, 20, &err), 0);
  EXPECT_EQ(eprj_MapInfoLowerRightCenterSet(info, 14, 17, &err), 0);
  EXPECT_EQ(eprj_MapInfoPixelSizeSet(info, 1, 1, &err), 0);
  EXPECT_EQ(eprj_MapInfoProjectionNameSet(info, eprj_ProjectionNameUnknown(), &err), 0);
  EXPECT_EQ(eprj_MapInfoUnitsSet(info, eprj_UnitsNameOther(), &err), 0);
  EXPECT_EQ(Text(info->proName), "Unknown");
  EXPECT_EQ(Text(info->units), "other");

  // A missing part is made by its setter.
  emsc_HeapFree(info->pixelSize);
  info->pixelSize = nullptr;
  EXPECT_EQ(eprj_MapInfoPixelSizeSet(info, 2, 3, &err), 0);
  ASSERT_NE(info->pixelSize, nullptr);
  EXPECT_EQ(info->pixelSize->height, 3);

  Eprj_MapInfo *copy = eprj_MapInfoCopy(info, nullptr, &err);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->upperLeftCenter, info->upperLeftCenter);
  EXPECT_EQ(copy->lowerRightCenter->y, 17);
  EXPECT_EQ(Text(copy->units), "other");
  EXPECT_TRUE(eprj_MapInfosEqual(info, copy, &err));

  // Into an existing record, whose old contents are replaced.
  Eprj_MapInfo *other = Grid(0, 0, 1, 1, 5, 5, "feet", "State Plane");
  ASSERT_EQ(eprj_MapInfoCopy(info, other, &err), other);
  EXPECT_TRUE(eprj_MapInfosEqual(info, other, &err));

  eprj_MapInfoFree(&info);
  EXPECT_EQ(info, nullptr);
  eprj_MapInfoFree(&copy);
  eprj_MapInfoFree(&other);
  eprj_MapInfoFree(nullptr);
  eprj_MapInfoFree(&info);

  EXPECT_EQ(eprj_MapInfoUnitsSet(nullptr, "feet", &err), -1);
  EXPECT_NE(err.get(), nullptr);
  EXPECT_EQ(eprj_MapInfoCopy(nullptr, nullptr, &err), nullptr);
  EXPECT_NE(err.get(), nullptr);
}

TEST(EprjMapInfo, EqualityComparesNamesWithoutCaseAndValuesClosely) {
  Eprj_MapInfo *base = Grid(100, 200, 190, 110, 10, 10);
  struct Case {
    const char *what;
    std::function<void(Eprj_MapInfo *)> change;
    bool equal;
  } cases[] = {
      {"unchanged", [](Eprj_MapInfo *) {}, true},
      {"units case", [](Eprj_MapInfo *m) { eprj_MapInfoUnitsSet(m, "METERS", nullptr); }, true},
      {"name case", [](Eprj_MapInfo *m) { eprj_MapInfoProjectionNameSet(m, "utm", nullptr); },
       true},
      {"rounding", [](Eprj_MapInfo *m) { m->upperLeftCenter->x += 1e-12; }, true},
      {"units", [](Eprj_MapInfo *m) { eprj_MapInfoUnitsSet(m, "feet", nullptr); }, false},
      {"no name", [](Eprj_MapInfo *m) { eprj_MapInfoProjectionNameSet(m, nullptr, nullptr); },
       false},
      {"corner", [](Eprj_MapInfo *m) { m->lowerRightCenter->y = 100; }, false},
      {"pixel", [](Eprj_MapInfo *m) { m->pixelSize->width = 20; }, false},
      {"missing part",
       [](Eprj_MapInfo *m) {
         emsc_HeapFree(m->lowerRightCenter);
         m->lowerRightCenter = nullptr;
       },
       false},
  };
  for (const Case &c : cases) {
    Eprj_MapInfo *m = eprj_MapInfoCopy(base, nullptr, nullptr);
    c.change(m);
    EXPECT_EQ(eprj_MapInfosEqual(base, m, nullptr), c.equal ? 1 : 0) << c.what;
    EXPECT_EQ(eprj_MapInfosEqual(m, base, nullptr), c.equal ? 1 : 0) << c.what;
    eprj_MapInfoFree(&m);
  }
  EXPECT_EQ(eprj_MapInfosEqual(nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(eprj_MapInfosEqual(base, nullptr, nullptr), 0);
  eprj_MapInfoFree(&base);
}

TEST(EprjMapInfo, PolynomialTakesPixelCentresToMapCoordinates) {
  struct Case {
    const char *what;
    double ulx, uly, lrx, lry, w, h;
    double column, row, x, y;
  } cases[] = {
      {"north up", 100, 200, 190, 110, 10, 10, 9, 9, 190, 110},
      {"north up, origin", 100, 200, 190, 110, 10, 10, 0, 0, 100, 200},
      {"rows go up", 0, 0, 4, 3, 1, 1, 4, 3, 4, 3},
      {"single row and column", 5, 5, 5, 5, 2, 2, 1, 1, 7, 3},
      {"pixel size given negative", 100, 200, 190, 110, -10, -10, 1, 1, 110, 190},
  };
  for (const Case &c : cases) {
    Eprj_MapInfo *info = Grid(c.ulx, c.uly, c.lrx, c.lry, c.w, c.h);
    ErrorSlot err;
    Efga_Polynomial *p = eprj_MapInfoToPolynomial(info, 0, &err);
    ASSERT_NE(p, nullptr) << c.what;
    double x, y;
    Apply(p, c.column, c.row, x, y);
    EXPECT_DOUBLE_EQ(x, c.x) << c.what;
    EXPECT_DOUBLE_EQ(y, c.y) << c.what;
    efga_PolynomialDelete(p, nullptr);
    eprj_MapInfoFree(&info);
  }
  ErrorSlot err;
  Eprj_MapInfo *info = eprj_MapInfoCreate(nullptr);
  emsc_HeapFree(info->pixelSize);
  info->pixelSize = nullptr;
  EXPECT_EQ(eprj_MapInfoToPolynomial(info, 0, &err), nullptr);
  EXPECT_NE(err.get(), nullptr);
  EXPECT_EQ(eprj_MapInfoToPolynomial(nullptr, 0, &err), nullptr);
  eprj_MapInfoFree(&info);
}

TEST(EprjMapInfo, TransformBetweenGridsMapsPixelToPixel) {
  ErrorSlot err;
  // A 10 m grid and a 20 m grid whose upper-left centre lies 100 m east and 40 m south.
  Eprj_MapInfo *fine = Grid(1000, 5000, 1990, 4010, 10, 10);
  Eprj_MapInfo *coarse = Grid(1100, 4960, 1980, 4020, 20, 20);
  Efga_Polynomial *p = eprj_ComputeTransformBetweenMapInfos(fine, coarse, &err);
  ASSERT_NE(p, nullptr);
  double c, r;
  Apply(p, 10, 4, c, r); // map (1100, 4960)
  EXPECT_NEAR(c, 0, 1e-12);
  EXPECT_NEAR(r, 0, 1e-12);
  Apply(p, 30, 14, c, r); // map (1300, 4860)
  EXPECT_NEAR(c, 10, 1e-12);
  EXPECT_NEAR(r, 5, 1e-12);
  efga_PolynomialDelete(p, nullptr);

  // The same grid in feet: map coordinates are converted first.
  Eprj_MapInfo *feet = Grid(1000 / 0.3048, 5000 / 0.3048, 1990 / 0.3048, 4010 / 0.3048,
                            10 / 0.3048, 10 / 0.3048, "feet");
  p = eprj_ComputeTransformBetweenMapInfos(feet, fine, &err);
  ASSERT_NE(p, nullptr);
  Apply(p, 7, 3, c, r);
  EXPECT_NEAR(c, 7, 1e-9);
  EXPECT_NEAR(r, 3, 1e-9);
  efga_PolynomialDelete(p, nullptr);

  // Units of different kinds cannot be related; a zero pixel size cannot be divided by.
  Eprj_MapInfo *degrees = Grid(-100, 40, -99, 39, 0.01, 0.01, "dd", "Geographic (Lat/Lon)");
  EXPECT_EQ(eprj_ComputeTransformBetweenMapInfos(degrees, fine, &err), nullptr);
  ASSERT_NE(err.get(), nullptr);
  EXPECT_STREQ(err.get()->reporter, "eprj_ComputeTransformBetweenMapInfos");
  eprj_MapInfoPixelSizeSet(coarse, 0, 20, nullptr);
  EXPECT_EQ(eprj_ComputeTransformBetweenMapInfos(fine, coarse, &err), nullptr);
  EXPECT_NE(err.get(), nullptr);
  EXPECT_EQ(eprj_ComputeTransformBetweenMapInfos(nullptr, fine, &err), nullptr);

  for (Eprj_MapInfo *m : {fine, coarse, feet, degrees}) eprj_MapInfoFree(&m);
}

TEST(EprjMapInfo, CreateAndCopySurviveAllocationFailures) {
  Eprj_MapInfo *made = nullptr;
  SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) { return (made = eprj_MapInfoCreate(err)) != nullptr; },
      [&] { eprj_MapInfoFree(&made); });

  Eprj_MapInfo *source = Grid(1, 2, 3, 4, 1, 1);
  Eprj_MapInfo *copy = nullptr;
  SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) {
        return (copy = eprj_MapInfoCopy(source, nullptr, err)) != nullptr;
      },
      [&] { eprj_MapInfoFree(&copy); });

  // Into an existing record: a failure leaves it whole.
  Eprj_MapInfo *target = Grid(0, 0, 0, 0, 5, 5, "feet", "State Plane");
  SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) {
        Eprj_MapInfo *r = eprj_MapInfoCopy(source, target, err);
        if (!r) {
          EXPECT_EQ(Text(target->units), "feet");
        }
        return r != nullptr;
      },
      [] {});
  EXPECT_TRUE(eprj_MapInfosEqual(source, target, nullptr));
  eprj_MapInfoFree(&target);
  eprj_MapInfoFree(&source);
}

// ---- projection parameters ----------------------------------------------------------------------

TEST(EprjProParameters, CopyIsDeepAndEqual) {
  ErrorSlot err;
  Eprj_ProParameters *p = Albers();
  Eprj_ProParameters *q = eprj_ProParametersCopy(p, nullptr, &err);
  ASSERT_NE(q, nullptr);
  EXPECT_NE(q->proName.data, p->proName.data);
  EXPECT_NE(q->proParams.data, p->proParams.data);
  EXPECT_NE(q->proSpheroid.datum.params.data, p->proSpheroid.datum.params.data);
  EXPECT_EQ(Text(q->proSpheroid.datum.datumname), "NAD27");
  EXPECT_EQ(eprj_ProParametersEqual(p, q, &err), 1);

  // Into an existing record.
  Eprj_ProParameters *r = eprj_ProParametersCreate(&err);
  eprj_CharStrCreate("old", &r->proName, nullptr);
  ASSERT_EQ(eprj_ProParametersCopy(p, r, &err), r);
  EXPECT_EQ(eprj_ProParametersEqual(p, r, &err), 1);

  eprj_ProParametersFree(&p);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(Text(q->proName), "Albers Conical Equal Area"); // unaffected by freeing the source
  eprj_ProParametersFree(&q);
  eprj_ProParametersFree(&r);
  eprj_ProParametersFree(nullptr);
  EXPECT_EQ(eprj_ProParametersCopy(nullptr, nullptr, &err), nullptr);
  EXPECT_NE(err.get(), nullptr);
}

TEST(EprjProParameters, EqualityFindsEachDifference) {
  Eprj_ProParameters *base = Albers();
  struct Case {
    const char *what;
    std::function<void(Eprj_ProParameters *)> change;
    bool equal;
  } cases[] = {
      {"name case",
       [](Eprj_ProParameters *p) {
         eprj_CharStrCreate("ALBERS CONICAL EQUAL AREA", &p->proName, nullptr);
       },
       true},
      {"type", [](Eprj_ProParameters *p) { p->proType = EPRJ_EXTERNAL; }, false},
      {"number", [](Eprj_ProParameters *p) { p->proNumber = 4; }, false},
      {"zone", [](Eprj_ProParameters *p) { p->proZone = 11; }, false},
      {"parameter", [](Eprj_ProParameters *p) { p->proParams.data[6] = 1; }, false},
      {"parameter count",
       [](Eprj_ProParameters *p) { eprj_DblArrayCreate(14, &p->proParams, nullptr); }, false},
      {"spheroid",
       [](Eprj_ProParameters *p) {
         eprj_SpheroidByName(nullptr, "GRS 1980", &p->proSpheroid, nullptr);
       },
       false},
      {"datum", [](Eprj_ProParameters *p) { p->proSpheroid.datum.params.data[0] = 0; }, false},
  };
  for (const Case &c : cases) {
    Eprj_ProParameters *p = eprj_ProParametersCopy(base, nullptr, nullptr);
    c.change(p);
    EXPECT_EQ(eprj_ProParametersEqual(base, p, nullptr), c.equal ? 1 : 0) << c.what;
    eprj_ProParametersFree(&p);
  }
  EXPECT_EQ(eprj_ProParametersEqual(nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(eprj_ProParametersEqual(base, nullptr, nullptr), 0);
  eprj_ProParametersFree(&base);
}

TEST(EprjProParameters, PrintShowsEveryField) {
  Eprj_ProParameters *p = Albers();
  p->proZone = 7;
  taviron::testing::CapturedOutput output;
  ErrorSlot err;
  eprj_ProParametersPrint(p, &err);
  EXPECT_EQ(err.get(), nullptr);
  const std::string &out = output.Out();
  for (const char *line :
       {"Projection parameters:\n", "  proType - EPRJ_INTERNAL\n", "  proNumber - 3\n",
        "  proName - Albers Conical Equal Area\n", "  proZone - 7\n", "  proParams - 15\n",
        "    5: -1.67551608191456\n", "  proSpheroid:\n", "    sphereName - Clarke 1866\n",
        "    a - 6378206.4\n", "    datum:\n", "      datumname - NAD27\n",
        "      type - EPRJ_DATUM_PARAMETRIC\n", "        1: -8\n", "      gridname - (none)\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line << "in:\n" << out;
  eprj_ProParametersFree(&p);

  eprj_ProParametersPrint(nullptr, &err);
  EXPECT_NE(err.get(), nullptr);
}

TEST(EprjProParameters, CopySurvivesAllocationFailures) {
  Eprj_ProParameters *source = Albers();
  Eprj_ProParameters *copy = nullptr;
  SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) {
        return (copy = eprj_ProParametersCopy(source, nullptr, err)) != nullptr;
      },
      [&] {
        EXPECT_EQ(eprj_ProParametersEqual(source, copy, nullptr), 1);
        eprj_ProParametersFree(&copy);
      });
  eprj_ProParametersFree(&source);
}

// ---- spheroids and datums -----------------------------------------------------------------------

TEST(EprjSpheroid, LookupsByNameAndNumberAgree) {
  ErrorSlot err;
  Eprj_Spheroid s{};
  ASSERT_EQ(eprj_SpheroidByName(nullptr, "clarke 1866", &s, &err), &s);
  EXPECT_EQ(Text(s.sphereName), "Clarke 1866");
  EXPECT_EQ(s.a, 6378206.4);
  EXPECT_EQ(s.b, 6356583.8);
  EXPECT_NEAR(s.eSquared, 0.006768657997, 1e-11);
  EXPECT_NEAR(s.radius, (2 * 6378206.4 + 6356583.8) / 3, 1e-6);

  EXPECT_EQ(eprj_SpheroidNumberByName(nullptr, "Clarke 1866", &err), 1);
  const int32_t wgs84 = eprj_SpheroidNumberByName(nullptr, "wgs 84", &err);
  ASSERT_GT(wgs84, 0);
  ASSERT_EQ(eprj_SpheroidByNum(nullptr, wgs84, &s, &err), &s);
  EXPECT_EQ(Text(s.sphereName), "WGS 84");
  EXPECT_EQ(s.a, 6378137.0);

  const int32_t sphere = eprj_SpheroidNumberByName(nullptr, "Sphere", &err);
  ASSERT_EQ(eprj_SpheroidByNum(nullptr, sphere, &s, &err), &s);
  EXPECT_EQ(s.eSquared, 0);
  EXPECT_EQ(s.radius, s.a);

  EXPECT_EQ(eprj_SpheroidNumberByName(nullptr, "Flat Earth", &err), 0);
  EXPECT_EQ(err.get(), nullptr); // a query: no match is no error
  EXPECT_EQ(eprj_SpheroidByName(nullptr, "Flat Earth", &s, &err), nullptr);
  EXPECT_NE(err.get(), nullptr);
  EXPECT_EQ(Text(s.sphereName), "Sphere"); // left as it was
  EXPECT_EQ(eprj_SpheroidByNum(nullptr, 0, &s, &err), nullptr);
  EXPECT_EQ(eprj_SpheroidByNum(nullptr, 1000, &s, &err), nullptr);
  emsc_HeapFree(s.sphereName.data);
}

TEST(EprjSpheroid, ParameterArraysNameTheirSpheroid) {
  struct Case {
    const char *what;
    std::initializer_list<double> params; // the first values; the rest 0
    double p14, p15;
    const char *name; // null: refused
    double a, b;
  } cases[] = {
      {"number", {13, 0}, 0, 0, "WGS 84", 6378137.0, 6356752.314245},
      {"both zero", {0, 0}, 0, 0, "Clarke 1866", 6378206.4, 6356583.8},
      {"axes of a table entry", {6377563.396, 6356256.91}, 0, 0, "Airy", 6377563.396, 6356256.91},
      {"axis and e2", {6378206.4, 0.006768657997291}, 0, 0, "Clarke 1866", 6378206.4, 6356583.8},
      {"sphere", {6370997, 0}, 0, 0, "Sphere", 6370997, 6370997},
      {"user sphere", {6371000, 0}, 0, 0, "User Defined", 6371000, 6371000},
      {"-1 with a and e2", {-1, 0}, 6378000, 0.0066, "User Defined", 6378000,
       6378000 * std::sqrt(1 - 0.0066)},
      {"number out of range", {21, 0}, 0, 0, nullptr, 0, 0},
      {"fraction", {2.5, 0}, 0, 0, nullptr, 0, 0},
      {"-1 with bad e2", {-1, 0}, 6378000, 1.5, nullptr, 0, 0},
      {"b above a", {6378000, 6379000}, 0, 0, nullptr, 0, 0},
  };
  for (const Case &c : cases) {
    Eprj_DblArray params{};
    eprj_DblArrayCreate(15, &params, nullptr);
    int i = 0;
    for (double v : c.params) params.data[i++] = v;
    params.data[13] = c.p14;
    params.data[14] = c.p15;
    Eprj_Spheroid s{};
    ErrorSlot err;
    Eprj_Spheroid *r = eprj_SpheroidByParms(nullptr, &params, &s, &err);
    if (!c.name) {
      EXPECT_EQ(r, nullptr) << c.what;
      EXPECT_NE(err.get(), nullptr) << c.what;
    } else {
      ASSERT_EQ(r, &s) << c.what;
      EXPECT_EQ(Text(s.sphereName), c.name) << c.what;
      EXPECT_NEAR(s.a, c.a, 1e-6) << c.what;
      EXPECT_NEAR(s.b, c.b, 1e-6) << c.what;
    }
    emsc_HeapFree(s.sphereName.data);
    eprj_DblArrayFree(&params);
  }
}

TEST(EprjDatum, DatumsBelongToTheirSpheroid) {
  ErrorSlot err;
  Eprj_Spheroid s{};
  eprj_SpheroidByName(nullptr, "Clarke 1866", &s, nullptr);
  ASSERT_EQ(eprj_DatumByName(nullptr, "clarke 1866", "nad27", &s.datum, &err), &s.datum);
  EXPECT_EQ(Text(s.datum.datumname), "NAD27");
  EXPECT_EQ(s.datum.type, EPRJ_DATUM_PARAMETRIC);
  ASSERT_EQ(s.datum.params.count, 7);
  EXPECT_EQ(s.datum.params.data[1], 160);

  // A later spheroid lookup keeps the datum.
  eprj_SpheroidByName(nullptr, "Clarke 1866", &s, nullptr);
  EXPECT_EQ(Text(s.datum.datumname), "NAD27");

  EXPECT_EQ(eprj_DatumByName(nullptr, "GRS 1980", "NAD27", &s.datum, &err), nullptr);
  EXPECT_NE(err.get(), nullptr);
  EXPECT_EQ(eprj_DatumByName(nullptr, "Clarke 1866", "Atlantis", &s.datum, &err), nullptr);
  EXPECT_NE(err.get(), nullptr);
  EXPECT_EQ(Text(s.datum.datumname), "NAD27"); // left as it was

  Eprj_ProParameters *p = eprj_ProParametersCreate(nullptr);
  p->proSpheroid = s; // hand the strings over to a record that frees them
  eprj_ProParametersFree(&p);

  Eprj_Datum d{};
  SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) {
        return eprj_DatumByName(nullptr, "Airy", "OSGB 1936", &d, e) != nullptr;
      },
      [&] {
        EXPECT_EQ(d.params.data[0], 375);
        emsc_HeapFree(d.datumname.data);
        emsc_HeapFree(d.params.data);
        d = Eprj_Datum{};
      });
}

// ---- numbered projections -----------------------------------------------------------------------

TEST(EprjProjections, NamesAndNumbers) {
  ErrorSlot err;
  struct Case {
    const char *name;
    int32_t number, legacy;
  } cases[] = {
      {"Geographic (Lat/Lon)", 0, 100}, {"utm", 1, 1}, {"STATE PLANE", 2, 2},
      {"Transverse Mercator", 9, 9},    {"Oblique Mercator (Hotine)", 20, 20},
  };
  for (const Case &c : cases) {
    const Eprj_ProjectionEntry *e = eprj_QueryByName(nullptr, c.name, &err);
    ASSERT_NE(e, nullptr) << c.name;
    EXPECT_EQ(e->number, c.number);
    EXPECT_EQ(e->type, EPRJ_INTERNAL);

    Eprj_CharStr name{};
    ASSERT_EQ(eprj_ProjName(nullptr, c.number, &name, &err), &name);
    EXPECT_STREQ(name.data, e->name);

    Eprj_MapInfo *info = Grid(0, 0, 1, 1, 1, 1, "meters", c.name);
    EXPECT_EQ(eprj_Proj7xNumber(nullptr, info, &err), c.legacy) << c.name;
    eprj_MapInfoFree(&info);
    emsc_HeapFree(name.data);
  }

  Eprj_MapInfo *info = Grid(0, 0, 1, 1, 1, 1, "other", eprj_ProjectionNameUnknown());
  EXPECT_EQ(eprj_Proj7xNumber(nullptr, info, &err), EPRJ_7X_UNKNOWN);
  eprj_MapInfoProjectionNameSet(info, "Robinson", nullptr);
  EXPECT_EQ(eprj_Proj7xNumber(nullptr, info, &err), -1);
  EXPECT_NE(err.get(), nullptr);
  eprj_MapInfoFree(&info);

  EXPECT_EQ(eprj_QueryByName(nullptr, "Robinson", &err), nullptr);
  EXPECT_NE(err.get(), nullptr);
  Eprj_CharStr name{};
  EXPECT_EQ(eprj_ProjName(nullptr, 21, &name, &err), nullptr);
  EXPECT_NE(err.get(), nullptr);
  EXPECT_EQ(eprj_ProjName(nullptr, -1, &name, &err), nullptr);
  EXPECT_EQ(name.count, 0);
  EXPECT_STREQ(eprj_ProjectionNameUnknown(), "Unknown");
  EXPECT_STREQ(eprj_UnitsNameOther(), "other");
}

Eprj_DblArray Params(std::initializer_list<std::pair<int, double>> values) {
  Eprj_DblArray a{};
  eprj_DblArrayCreate(15, &a, nullptr);
  for (auto [index, v] : values) a.data[index] = v;
  return a;
}

TEST(EprjGctp, PackedAnglesBecomeRadiansAndBack) {
  ErrorSlot err;
  // Albers: standard parallels 29 30', 45 30', central meridian -96, origin 23, false easting.
  Eprj_DblArray file = Params({{0, 1}, {2, 29030000}, {3, 45030000}, {4, -96000000},
                               {5, 23000000}, {6, 500000}});
  Eprj_DblArray radians{};
  ASSERT_EQ(eprj_GCTPProParams2Radians(3, &file, &radians, 0, &err), 0);
  ASSERT_EQ(radians.count, 15);
  EXPECT_DOUBLE_EQ(radians.data[2], 29.5 * kPi / 180);
  EXPECT_DOUBLE_EQ(radians.data[3], 45.5 * kPi / 180);
  EXPECT_DOUBLE_EQ(radians.data[4], -96 * kPi / 180);
  EXPECT_EQ(radians.data[0], 1);      // spheroid number: not an angle
  EXPECT_EQ(radians.data[6], 500000); // false easting

  Eprj_DblArray back{};
  ASSERT_EQ(eprj_Radians2GCTPProParams(3, &radians, &back, 0, &err), 0);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(back.data[i], file.data[i]) << i;

  // Seconds with a fraction, negative, converted in place.
  Eprj_DblArray tm = Params({{4, -120030015.5}, {5, 10}});
  ASSERT_EQ(eprj_GCTPProParams2Radians(9, &tm, &tm, 0, &err), 0);
  EXPECT_NEAR(tm.data[4], -(120 + 30 / 60.0 + 15.5 / 3600) * kPi / 180, 1e-15);
  EXPECT_NEAR(tm.data[5], 10.0 / 3600 * kPi / 180, 1e-18);
  ASSERT_EQ(eprj_Radians2GCTPProParams(9, &tm, &tm, 0, &err), 0);
  EXPECT_NEAR(tm.data[4], -120030015.5, 1e-6);
  EXPECT_NEAR(tm.data[5], 10, 1e-9);

  // Flag 1: plain decimal degrees.
  Eprj_DblArray degrees = Params({{4, -96.5}, {5, 23}});
  ASSERT_EQ(eprj_GCTPProParams2Radians(5, &degrees, &radians, 1, &err), 0);
  EXPECT_DOUBLE_EQ(radians.data[4], -96.5 * kPi / 180);
  ASSERT_EQ(eprj_Radians2GCTPProParams(5, &radians, &back, 1, &err), 0);
  EXPECT_DOUBLE_EQ(back.data[4], -96.5);

  for (Eprj_DblArray *a : {&file, &radians, &back, &tm, &degrees}) eprj_DblArrayFree(a);
}

TEST(EprjGctp, ObliqueMercatorTakesItsAnglesByForm) {
  ErrorSlot err;
  // Form A (parameter 13 zero): two points of the centre line.
  Eprj_DblArray a = Params({{2, 0.9996}, {5, 40000000}, {8, -75000000}, {9, 40000000},
                            {10, -74000000}, {11, 41000000}});
  ASSERT_EQ(eprj_GCTPProParams2Radians(20, &a, &a, 0, &err), 0);
  EXPECT_EQ(a.data[2], 0.9996); // scale factor
  EXPECT_DOUBLE_EQ(a.data[8], -75 * kPi / 180);
  EXPECT_DOUBLE_EQ(a.data[11], 41 * kPi / 180);

  // Form B: azimuth and the longitude of its point.
  Eprj_DblArray b = Params({{3, 45000000}, {4, -75000000}, {5, 40000000}, {8, 7}, {12, 1}});
  ASSERT_EQ(eprj_GCTPProParams2Radians(20, &b, &b, 0, &err), 0);
  EXPECT_DOUBLE_EQ(b.data[3], kPi / 4);
  EXPECT_EQ(b.data[8], 7);
  eprj_DblArrayFree(&a);
  eprj_DblArrayFree(&b);
}

TEST(EprjGctp, InvalidInputIsRefused) {
  struct Case {
    const char *what;
    int32_t number;
    Eprj_DblArray params;
  } cases[] = {
      {"minutes of 60", 3, Params({{2, 29060000}})},
      {"seconds of 60", 3, Params({{2, 29000060}})},
      {"not finite", 9, Params({{4, NAN}})},
      {"number 21", 21, Params({})},
      {"number -1", -1, Params({})},
  };
  for (Case &c : cases) {
    ErrorSlot err;
    Eprj_DblArray out{};
    EXPECT_EQ(eprj_GCTPProParams2Radians(c.number, &c.params, &out, 0, &err), -1) << c.what;
    EXPECT_NE(err.get(), nullptr) << c.what;
    EXPECT_EQ(out.count, 0);
    eprj_DblArrayFree(&c.params);
  }
  ErrorSlot err;
  Eprj_DblArray shortArray{};
  eprj_DblArrayCreate(4, &shortArray, nullptr);
  EXPECT_EQ(eprj_GCTPProParams2Radians(3, &shortArray, &shortArray, 0, &err), -1);
  EXPECT_NE(err.get(), nullptr);
  // Projections without angles accept any array.
  EXPECT_EQ(eprj_GCTPProParams2Radians(1, &shortArray, &shortArray, 0, &err), 0);
  eprj_DblArrayFree(&shortArray);
}

TEST(EprjAdjl, BringsLongitudesIntoMinusPiToPi) {
  struct Case {
    double in, out;
  } cases[] = {
      {0, 0}, {kPi, kPi}, {-kPi, -kPi}, {1.5 * kPi, -0.5 * kPi}, {-1.5 * kPi, 0.5 * kPi},
      {7 * kPi + 0.25, -kPi + 0.25}, {2 * kPi, 0},
  };
  for (const Case &c : cases) {
    ErrorSlot err;
    EXPECT_NEAR(eprj_Adjl(c.in, &err), c.out, 1e-12) << c.in;
    EXPECT_EQ(err.get(), nullptr);
  }
  ErrorSlot err;
  EXPECT_TRUE(std::isinf(eprj_Adjl(INFINITY, &err)));
  EXPECT_NE(err.get(), nullptr);
}

} // namespace
