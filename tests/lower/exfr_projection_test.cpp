// Transforms with reprojection steps: built from projection pairs, with units and map
// information, inverted, composed, compared and printed; checked against PROJ's own cs2cs.
#include "exfr.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "emsc.h"
#include "taviron_testing.h"
#include "projection_reference.h"

namespace {

using namespace projection_test;

const char *const kGeographicDef = "+proj=longlat +ellps=WGS84";
const char *const kUtm11Def = "+proj=utm +zone=11 +ellps=WGS84";
const char *const kAlbersDef =
    "+proj=aea +lat_1=29.5 +lat_2=45.5 +lat_0=23 +lon_0=-96 +x_0=0 +y_0=0 +ellps=GRS80";

std::string Message(const Eerr_ErrorReport *err) {
  std::string text;
  for (; err; err = err->next) text += std::string(err->message ? err->message : "") + "\n";
  return text;
}

// A fixture holding the records and pairs the cases share.
class ProjectionTransform : public ::testing::Test {
protected:
  void SetUp() override {
    live_ = emsc_TestLiveBlocks();
    geographic_ = Parameters(0, 0, {});
    utm_ = Parameters(1, 11, {});
    geographicGrs_ = Parameters(0, 0, {}, "GRS 1980");
    albers_ = Parameters(3, 0, {Angle(2, 29.5), Angle(3, 45.5), Angle(4, -96), Angle(5, 23)}, "GRS 1980");
    Eerr_ErrorReport *err = nullptr;
    utmToGeo_ = eprj_ProjectionPairInit(nullptr, utm_, geographic_, &err);
    albersToGeo_ = eprj_ProjectionPairInit(nullptr, albers_, geographicGrs_, &err);
    ASSERT_NE(utmToGeo_, nullptr);
    ASSERT_NE(albersToGeo_, nullptr);
  }
  void TearDown() override {
    eprj_ProjectionPairFree(&utmToGeo_);
    eprj_ProjectionPairFree(&albersToGeo_);
    eprj_ProParametersFree(&geographic_);
    eprj_ProParametersFree(&utm_);
    eprj_ProParametersFree(&geographicGrs_);
    eprj_ProParametersFree(&albers_);
    EXPECT_EQ(emsc_TestLiveBlocks(), live_);
  }

  static std::vector<Point> Apply(const _exfr_XForm *x, const std::vector<Point> &points) {
    Egda_BaseData *m = egda_BaseDataCreate(2, static_cast<int32_t>(points.size()), EGDA_TYPE_F64,
                                           EGDA_MATRIX, nullptr, nullptr);
    auto *d = reinterpret_cast<double *>(m->origin);
    for (std::size_t i = 0; i < points.size(); ++i) {
      d[2 * i] = points[i].first;
      d[2 * i + 1] = points[i].second;
    }
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(exfr_Transform(x, m, m, &err), m) << Message(err);
    eerr_DeleteErrorReportEx(&err);
    std::vector<Point> out;
    for (std::size_t i = 0; i < points.size(); ++i) out.emplace_back(d[2 * i], d[2 * i + 1]);
    egda_BaseDataDelete(m, nullptr);
    return out;
  }

  int64_t live_ = 0;
  Eprj_ProParameters *geographic_ = nullptr, *utm_ = nullptr, *geographicGrs_ = nullptr,
                     *albers_ = nullptr;
  Eprj_ProjectionPair *utmToGeo_ = nullptr, *albersToGeo_ = nullptr;
};

TEST_F(ProjectionTransform, RoundTripsAgreeWithCs2csOnAGrid) {
  struct Case {
    const char *name;
    Eprj_ProjectionPair *pair;
    const char *projectedDef, *geographicDef;
    Point low, high;
  } cases[] = {{"utm", utmToGeo_, kUtm11Def, kGeographicDef, {250000, 500000}, {750000, 6500000}},
               {"albers", albersToGeo_, kAlbersDef, "+proj=longlat +ellps=GRS80", {-2300000, 300000}, {2300000, 3100000}}};
  for (const Case &c : cases) {
    std::vector<Point> grid;
    for (int i = 0; i <= 7; ++i)
      for (int j = 0; j <= 7; ++j)
        grid.emplace_back(c.low.first + (c.high.first - c.low.first) * i / 7,
                          c.low.second + (c.high.second - c.low.second) * j / 7);
    Eerr_ErrorReport *err = nullptr;
    _exfr_XForm *forward = exfr_XFormCreateFromProjPair(c.pair, &err);
    ASSERT_NE(forward, nullptr) << Message(err);
    _exfr_XForm *inverse = exfr_XFormInvert(forward, nullptr, &err);
    ASSERT_NE(inverse, nullptr) << Message(err);
    std::string how;
    const std::vector<Point> expected = Reference(c.projectedDef, c.geographicDef, grid, how);
    ASSERT_EQ(expected.size(), grid.size());
    RecordProperty(std::string("reference ") + c.name, how);
    const std::vector<Point> geo = Apply(forward, grid);
    const std::vector<Point> back = Apply(inverse, geo);
    const std::vector<Point> expectedBack = Reference(c.geographicDef, c.projectedDef, expected, how);
    for (std::size_t i = 0; i < grid.size(); ++i) {
      EXPECT_LE(Meters(geo[i], expected[i], true), 1e-6) << c.name << " " << i << " by " << how;
      EXPECT_LE(Meters(back[i], expectedBack[i], false), 1e-6) << c.name << " " << i << " by " << how;
      EXPECT_LE(Meters(back[i], grid[i], false), 1e-6) << c.name << " round trip " << i;
    }
    // The whole trip in one chain, by either composition call.
    _exfr_XForm *there = exfr_XFormComposition(forward, inverse, &err);
    _exfr_XForm *again = exfr_XFormCompose(inverse, forward, nullptr, &err);
    EXPECT_TRUE(exfr_XFormIsSame(there, again, &err));
    const std::vector<Point> trip = Apply(there, grid);
    for (std::size_t i = 0; i < grid.size(); ++i) EXPECT_LE(Meters(trip[i], grid[i], false), 1e-6);
    exfr_XFormFree(&there, &err);
    exfr_XFormFree(&again, &err);
    exfr_XFormFree(&forward, &err);
    exfr_XFormFree(&inverse, &err);
  }
}

TEST_F(ProjectionTransform, UnitsAndMapInformationAroundTheReprojection) {
  Eerr_ErrorReport *err = nullptr;
  // Feet in, radians out.
  _exfr_XForm *x = exfr_XFormCreateFromProjPairAndMapInfo(utmToGeo_, nullptr, "feet", "radians", &err);
  ASSERT_NE(x, nullptr) << Message(err);
  std::string how;
  const Point expected = Reference(kUtm11Def, kGeographicDef, {{450000, 4100000}}, how)[0];
  Point got = Apply(x, {{450000 / 0.3048, 4100000 / 0.3048}})[0];
  EXPECT_NEAR(got.first, Radians(expected.first), 1e-13);
  EXPECT_NEAR(got.second, Radians(expected.second), 1e-13);
  exfr_XFormFree(&x, &err);
  // The map information's units stand in for the missing source units.
  Eprj_MapInfo *info = eprj_MapInfoCreate(&err);
  eprj_MapInfoUnitsSet(info, "kilometers", &err);
  x = exfr_XFormCreateFromProjPairAndMapInfo(utmToGeo_, info, nullptr, "dd", &err);
  ASSERT_NE(x, nullptr);
  got = Apply(x, {{450, 4100}})[0];
  EXPECT_LE(Meters(got, expected, true), 1e-6);
  exfr_XFormFree(&x, &err);
  // Units of the wrong kind are reported.
  EXPECT_EQ(exfr_XFormCreateFromProjPairAndMapInfo(utmToGeo_, nullptr, "dd", nullptr, &err), nullptr);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);

  // Geographic map coordinates to the pixels of a UTM grid in feet.
  Eprj_ProjectionPair *geoToUtm = eprj_ProjectionPairInit(nullptr, geographic_, utm_, &err);
  eprj_MapInfoUpperLeftCenterSet(info, 400000 / 0.3048, 4200000 / 0.3048, &err);
  eprj_MapInfoLowerRightCenterSet(info, 600000 / 0.3048, 4000000 / 0.3048, &err);
  eprj_MapInfoPixelSizeSet(info, 100, 100, &err);
  eprj_MapInfoUnitsSet(info, "feet", &err);
  x = exfr_XFormCreateReprojFromProjPair(geoToUtm, info, 0, 1, &err);
  ASSERT_NE(x, nullptr) << Message(err);
  const Point utm = Reference(kGeographicDef, kUtm11Def, {{-117.5, 37}}, how)[0];
  got = Apply(x, {{-117.5, 37}})[0];
  EXPECT_NEAR(got.first, (utm.first / 0.3048 - 400000 / 0.3048) / 100, 1e-7);
  EXPECT_NEAR(got.second, (4200000 / 0.3048 - utm.second / 0.3048) / 100, 1e-7);
  exfr_XFormFree(&x, &err);
  // Without a pair: map to pixel of the grid alone.
  x = exfr_XFormCreateReprojFromProjPair(nullptr, info, 0, 1, &err);
  _exfr_XForm *plain = exfr_XFormCreateFromMapInfo(info, 1, &err);
  EXPECT_TRUE(exfr_XFormIsSame(x, plain, &err));
  exfr_XFormFree(&x, &err);
  exfr_XFormFree(&plain, &err);
  eprj_ProjectionPairFree(&geoToUtm);
  eprj_MapInfoFree(&info);
}

TEST_F(ProjectionTransform, EmptyOrMissingPairsAndFailingPointsAreReported) {
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(exfr_XFormCreateFromProjPair(nullptr, &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(std::string(err->reporter), "exfr_XFormCreateFromProjPair");
  eerr_DeleteErrorReportEx(&err);
  // The pair made by Create is filled by the following Init (the composition parser's way).
  Eprj_ProjectionPair *created = eprj_ProjectionPairCreate(&err);
  EXPECT_EQ(exfr_XFormCreateFromProjPair(created, &err), nullptr);
  eerr_DeleteErrorReportEx(&err);
  eprj_ProjectionPairInit(nullptr, utm_, geographic_, &err);
  _exfr_XForm *x = exfr_XFormCreateFromProjPair(created, &err);
  ASSERT_NE(x, nullptr) << Message(err);
  eprj_ProjectionPairFree(&created); // the transform holds its own copy
  EXPECT_NEAR(Apply(x, {{500000, 0}})[0].first, -117, 1e-12);

  // A point outside the projection: a report naming both projections, the points unchanged.
  Egda_BaseData *m = egda_BaseDataCreate(2, 2, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  auto *d = reinterpret_cast<double *>(m->origin);
  d[0] = 500000;
  d[1] = 4000000;
  d[2] = 1e9;
  d[3] = 4000000;
  EXPECT_EQ(exfr_Transform(x, m, m, &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(std::string(err->reporter), "exfr_Transform");
  const std::string text = Message(err);
  EXPECT_NE(text.find("\"UTM\" zone 11"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Geographic (Lat/Lon)\""), std::string::npos) << text;
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(d[0], 500000);
  EXPECT_EQ(d[2], 1e9);
  // A new target is not left behind.
  EXPECT_EQ(exfr_Transform(x, m, nullptr, &err), nullptr);
  eerr_DeleteErrorReportEx(&err);
  egda_BaseDataDelete(m, nullptr);
  exfr_XFormFree(&x, &err);
  EXPECT_EQ(x, nullptr);

  // With a unit step before the reprojection, in place: still all or nothing, for point matrices
  // and for every part of a coordinate block.
  x = exfr_XFormCreateFromProjPairAndMapInfo(utmToGeo_, nullptr, "feet", nullptr, &err);
  Efga_CoordinateBlock *block = efga_BaseCoordBlockCreate(2, 2, 2, EGDA_TYPE_F64, &err);
  ASSERT_NE(block, nullptr);
  const double values[2][4] = {{1640000, 13000000, 1650000, 13100000}, {1640000, 13000000, 4e9, 13000000}};
  for (int part = 0; part < 2; ++part)
    for (int k = 0; k < 4; ++k) reinterpret_cast<double *>(block->parts[part]->origin)[k] = values[part][k];
  EXPECT_EQ(exfr_Transform(x, block->parts[1], block->parts[1], &err), nullptr);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(exfr_CoordBlockTransform(x, block, block, &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(std::string(err->reporter), "exfr_CoordBlockTransform");
  eerr_DeleteErrorReportEx(&err);
  for (int part = 0; part < 2; ++part)
    for (int k = 0; k < 4; ++k)
      EXPECT_EQ(reinterpret_cast<double *>(block->parts[part]->origin)[k], values[part][k]);
  // Once every point can be reprojected the block is transformed in place.
  reinterpret_cast<double *>(block->parts[1]->origin)[2] = 1700000;
  EXPECT_EQ(exfr_CoordBlockTransform(x, block, block, &err), block) << Message(err);
  std::string how;
  const Point expected = Reference(kUtm11Def, kGeographicDef, {{1640000 * 0.3048, 13000000 * 0.3048}}, how)[0];
  for (int part = 0; part < 2; ++part) {
    const double *p = reinterpret_cast<double *>(block->parts[part]->origin);
    EXPECT_LE(Meters({p[0], p[1]}, expected, true), 1e-6) << how;
  }
  efga_CoordBlockDelete(block, nullptr);
  exfr_XFormFree(&x, &err);
}

TEST_F(ProjectionTransform, SamenessAffinityAndCopies) {
  Eerr_ErrorReport *err = nullptr;
  _exfr_XForm *a = exfr_XFormCreateFromProjPair(utmToGeo_, &err);
  _exfr_XForm *b = exfr_XFormCreateFromProjPair(utmToGeo_, &err);
  _exfr_XForm *other = exfr_XFormCreateFromProjPair(albersToGeo_, &err);
  _exfr_XForm *inverse = exfr_XFormInvert(a, nullptr, &err);
  _exfr_XForm *twice = exfr_XFormInvert(inverse, nullptr, &err);
  _exfr_XForm *copy = exfr_XFormCopy(a, nullptr, &err);
  _exfr_XForm *shifted = exfr_XFormTranslate(exfr_XFormCopy(a, nullptr, &err), 1, 2, &err);
  EXPECT_TRUE(exfr_XFormIsSame(a, b, &err));
  EXPECT_TRUE(exfr_XFormIsSame(a, twice, &err));
  EXPECT_TRUE(exfr_XFormIsSame(a, copy, &err));
  EXPECT_FALSE(exfr_XFormIsSame(a, inverse, &err));
  EXPECT_FALSE(exfr_XFormIsSame(a, other, &err));
  EXPECT_FALSE(exfr_XFormIsSame(a, shifted, &err));
  double coefficients[6];
  EXPECT_FALSE(exfr_XFormAffineExtractIfPresent(a, coefficients, &err));
  const Point p = Apply(shifted, {{500000, 4000000}})[0];
  const Point q = Apply(a, {{500000, 4000000}})[0];
  EXPECT_DOUBLE_EQ(p.first, q.first + 1);
  EXPECT_DOUBLE_EQ(p.second, q.second + 2);
  // In place inversion keeps working on the same object.
  EXPECT_EQ(exfr_XFormInvert(copy, copy, &err), copy);
  EXPECT_TRUE(exfr_XFormIsSame(copy, inverse, &err));
  for (_exfr_XForm **x : {&a, &b, &other, &inverse, &twice, &copy, &shifted}) exfr_XFormFree(x, &err);
}

TEST_F(ProjectionTransform, CopiesSurviveAllocationFailures) {
  Eerr_ErrorReport *err = nullptr;
  _exfr_XForm *a = exfr_XFormCreateFromProjPairAndMapInfo(utmToGeo_, nullptr, "feet", "radians", &err);
  ASSERT_NE(a, nullptr);
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) {
        _exfr_XForm *made = exfr_XFormInvert(a, nullptr, e);
        const bool done = made != nullptr;
        exfr_XFormFree(&made, nullptr);
        return done;
      },
      {.limit = 200});
  exfr_XFormFree(&a, nullptr);
}

TEST_F(ProjectionTransform, PrintsProjPairBlocksInTheDirectionApplied) {
  Eerr_ErrorReport *err = nullptr;
  _exfr_XForm *x = exfr_XFormCreateFromProjPairAndMapInfo(utmToGeo_, nullptr, "feet", nullptr, &err);
  eprj_CharStrCreate("Say \"UTM\"", &utm_->proName, &err); // the pair holds its own copies
  taviron::testing::CapturedOutput captured;
  EXPECT_EQ(exfr_XFormPrint(nullptr, 16, x), 0);
  const std::string text = captured.Out();
  const std::string expected =
      "\t\tAFFINE 0.30480000000000002, 0, 0, 0, 0.30480000000000002, 0 ;\n"
      "\t\tPROJPAIR {\n"
      "\t\t\tINPUT {\n"
      "\t\t\t\tPROTYPE I 1 ;\n"
      "\t\t\t\tPRONAME \"UTM\" ;\n"
      "\t\t\t\tZONE 11 ;\n"
      "\t\t\t\tSPHEROID \"WGS 84\" ;\n"
      "\t\t\t\tPARAMETERS 15 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ;\n"
      "\t\t\t}\n"
      "\t\t\tOUTPUT {\n"
      "\t\t\t\tPROTYPE I 0 ;\n"
      "\t\t\t\tPRONAME \"Geographic (Lat/Lon)\" ;\n"
      "\t\t\t\tZONE 0 ;\n"
      "\t\t\t\tSPHEROID \"WGS 84\" ;\n"
      "\t\t\t\tPARAMETERS 15 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ;\n"
      "\t\t\t}\n"
      "\t\t}\n";
  EXPECT_EQ(text, expected);
  // Inverted: the geographic system is the input; names are quoted with escapes.
  Eprj_ProjectionPair *named = eprj_ProjectionPairInit(nullptr, utm_, albers_, &err);
  _exfr_XForm *y = exfr_XFormCreateFromProjPair(named, &err);
  EXPECT_EQ(exfr_XFormInvert(y, y, &err), y);
  captured.Clear();
  EXPECT_EQ(exfr_XFormPrint(nullptr, 0, y), 0);
  const std::string inverted = captured.Out();
  EXPECT_LT(inverted.find("PROTYPE I 3 ;"), inverted.find("OUTPUT"));
  EXPECT_NE(inverted.find("PRONAME \"Say \\\"UTM\\\"\" ;"), std::string::npos) << inverted;
  EXPECT_NE(inverted.find("PARAMETERS 15 0 0 0.514872129338327"), std::string::npos) << inverted;
  exfr_XFormFree(&x, &err);
  exfr_XFormFree(&y, &err);
  eprj_ProjectionPairFree(&named);
}

} // namespace
