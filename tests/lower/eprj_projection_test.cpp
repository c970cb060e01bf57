// Projections, projection pairs, reprojection of point sets, frame intersections of grid lines
// and the north angle, checked against PROJ's own cs2cs.
#include "eprj.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "emsc.h"
#include "taviron_testing.h"
#include "projection_reference.h"

namespace {

using namespace projection_test;

struct Params {
  Eprj_ProParameters *p;
  explicit Params(Eprj_ProParameters *p) : p(p) {}
  ~Params() { eprj_ProParametersFree(&p); }
  Params(const Params &) = delete;
  Params &operator=(const Params &) = delete;
  operator const Eprj_ProParameters *() const { return p; }
};

struct Projection {
  Eprj_MapProjection *p = nullptr;
  explicit Projection(const Eprj_ProParameters *parameters) {
    Eerr_ErrorReport *err = nullptr;
    p = eprj_ProjectionInit(nullptr, parameters, &err);
    EXPECT_EQ(err, nullptr) << (err ? err->message : "");
    eerr_DeleteErrorReportEx(&err);
  }
  ~Projection() {
    eprj_ProjectionQuit(p);
    eprj_ProjectionFree(&p);
  }
  Projection(const Projection &) = delete;
  Projection &operator=(const Projection &) = delete;
};

std::string Message(const Eerr_ErrorReport *err) {
  std::string text;
  for (; err; err = err->next) text += std::string(err->message ? err->message : "") + "\n";
  return text;
}

Eprj_ProParameters *Geographic() { return Parameters(0, 0, {}); }
Eprj_ProParameters *Utm11() { return Parameters(1, 11, {}); }
// Lambert conformal conic of the conterminous United States on GRS 1980.
Eprj_ProParameters *Lcc() {
  return Parameters(4, 0, {Angle(2, 33), Angle(3, 45), Angle(4, -96), Angle(5, 23)}, "GRS 1980");
}
const char *const kGeographicDef = "+proj=longlat +ellps=WGS84";
const char *const kUtm11Def = "+proj=utm +zone=11 +ellps=WGS84";
const char *const kLccDef = "+proj=lcc +lat_1=33 +lat_2=45 +lat_0=23 +lon_0=-96 +x_0=0 +y_0=0 +ellps=GRS80";
const char *const kGeographicGrs80Def = "+proj=longlat +ellps=GRS80";

std::vector<Point> Grid(double x0, double x1, double y0, double y1, int steps) {
  std::vector<Point> points;
  for (int i = 0; i <= steps; ++i)
    for (int j = 0; j <= steps; ++j)
      points.emplace_back(x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * j / steps);
  return points;
}

std::vector<Point> PairTransform(Eprj_ProjectionPair *pair, bool inverse, std::vector<Point> points) {
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(eprj_ProjectionPairTransform(pair, inverse, static_cast<int32_t>(points.size()),
                                         reinterpret_cast<double *>(points.data()), &err),
            0)
      << Message(err);
  eerr_DeleteErrorReportEx(&err);
  return points;
}

// ---- reprojection against cs2cs --------------------------------------------------------------

struct RoundTripCase {
  const char *name;
  Eprj_ProParameters *(*projected)();
  Eprj_ProParameters *(*geographic)();
  const char *projectedDef;
  const char *geographicDef;
  Point low, high; // projected grid corners
};

// Named in test names and messages by its projection's name.
void PrintTo(const RoundTripCase &c, std::ostream *out) { *out << c.name; }

class PairAgainstCs2cs : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(PairAgainstCs2cs, ForwardInverseAndRoundTripAgree) {
  const RoundTripCase &c = GetParam();
  Params projected(c.projected()), geographic(c.geographic());
  Eerr_ErrorReport *err = nullptr;
  Eprj_ProjectionPair *pair = eprj_ProjectionPairInit(nullptr, projected, geographic, &err);
  ASSERT_NE(pair, nullptr) << Message(err);
  const std::vector<Point> grid = Grid(c.low.first, c.high.first, c.low.second, c.high.second, 6);

  std::string how;
  const std::vector<Point> expectedGeo = Reference(c.projectedDef, c.geographicDef, grid, how);
  ASSERT_EQ(expectedGeo.size(), grid.size()) << how;
  RecordProperty("reference", how);
  const std::vector<Point> geo = PairTransform(pair, false, grid);
  for (std::size_t i = 0; i < grid.size(); ++i)
    EXPECT_LE(Meters(geo[i], expectedGeo[i], true), 1e-6) << c.name << " point " << i << " by " << how;

  const std::vector<Point> expectedBack = Reference(c.geographicDef, c.projectedDef, expectedGeo, how);
  const std::vector<Point> back = PairTransform(pair, true, geo);
  for (std::size_t i = 0; i < grid.size(); ++i) {
    EXPECT_LE(Meters(back[i], expectedBack[i], false), 1e-6) << c.name << " point " << i;
    EXPECT_LE(Meters(back[i], grid[i], false), 1e-6) << c.name << " round trip " << i;
  }
  eprj_ProjectionPairFree(&pair);
  EXPECT_EQ(pair, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Projections, PairAgainstCs2cs,
    ::testing::Values(RoundTripCase{"utm", Utm11, Geographic, kUtm11Def, kGeographicDef,
                                    {200000, 1000000}, {800000, 7000000}},
                      RoundTripCase{"lcc", Lcc,
                                    [] { return Parameters(0, 0, {}, "GRS 1980"); }, kLccDef,
                                    kGeographicGrs80Def, {-2000000, -500000}, {2500000, 3000000}}),
    [](const ::testing::TestParamInfo<RoundTripCase> &info) { return std::string(info.param.name); });

TEST(ProjectionPair, OtherProjectionsMatchTheirProjDefinitions) {
  struct Case {
    Eprj_ProParameters *params;
    const char *def;
    Point point; // geographic
  } cases[] = {
      {Parameters(3, 0, {Angle(2, 29.5), Angle(3, 45.5), Angle(4, -96), Angle(5, 23), {6, 1000}, {7, 2000}}, "GRS 1980"),
       "+proj=aea +lat_1=29.5 +lat_2=45.5 +lat_0=23 +lon_0=-96 +x_0=1000 +y_0=2000 +ellps=GRS80", {-100, 40}},
      {Parameters(5, 0, {Angle(4, 10), Angle(5, 20)}), "+proj=merc +lon_0=10 +lat_ts=20 +ellps=WGS84", {15, 50}},
      {Parameters(6, 0, {Angle(4, -45), Angle(5, 70)}), "+proj=stere +lat_0=90 +lat_ts=70 +lon_0=-45 +ellps=WGS84", {-30, 75}},
      {Parameters(9, 0, {{2, 0.9996}, Angle(4, 9), Angle(5, 0), {6, 500000}}), "+proj=tmerc +k_0=0.9996 +lon_0=9 +x_0=500000 +ellps=WGS84", {10, 48}},
      {Parameters(1, -33, {}), "+proj=utm +zone=33 +south +ellps=WGS84", {14, -30}},
      {Parameters(11, 0, {Angle(4, 10), Angle(5, 52)}, "Sphere"), "+proj=laea +lat_0=52 +lon_0=10 +R=6370997", {5, 50}},
      {Parameters(16, 0, {Angle(4, 0)}, "Sphere"), "+proj=sinu +lon_0=0 +R=6370997", {30, -20}},
      {Parameters(20, 0, {{2, 1}, Angle(3, 30), Angle(4, -100), Angle(5, 40), {12, 1}}),
       "+proj=omerc +k_0=1 +alpha=30 +lonc=-100 +lat_0=40 +ellps=WGS84", {-101, 41}},
      {Parameters(2, 401, {}, "GRS 1980"),
       "+proj=lcc +lat_0=39.3333333333333 +lon_0=-122 +lat_1=41.6666666666667 +lat_2=40 +x_0=2000000 +y_0=500000 +ellps=GRS80",
       {-121, 40.5}},
      // NAD27 zones whose conversions have names of their own (Arizona, the old Michigan zones).
      {Parameters(2, 201, {}, "Clarke 1866"),
       "+proj=tmerc +lat_0=31 +lon_0=-110.166666666667 +k=0.9999 +x_0=152400.30480061 +y_0=0 +ellps=clrk66", {-110, 33}},
      {Parameters(2, 203, {}, "Clarke 1866"),
       "+proj=tmerc +lat_0=31 +lon_0=-113.75 +k=0.999933333 +x_0=152400.30480061 +y_0=0 +ellps=clrk66", {-114, 35}},
      {Parameters(2, 2102, {}, "Clarke 1866"),
       "+proj=tmerc +lat_0=41.5 +lon_0=-85.75 +k=0.999909091 +x_0=152400.30480061 +y_0=0 +ellps=clrk66", {-85, 43}},
      {Parameters(2, 101, {}, "Clarke 1866"),
       "+proj=tmerc +lat_0=30.5 +lon_0=-85.8333333333333 +k=0.99996 +x_0=152400.30480061 +y_0=0 +ellps=clrk66",
       {-86, 32}},
  };
  for (Case &c : cases) {
    Params projected(c.params);
    Params geographic(Parameters(0, 0, {}, projected.p->proSpheroid.sphereName.data));
    Eerr_ErrorReport *err = nullptr;
    Eprj_ProjectionPair *pair = eprj_ProjectionPairInit(nullptr, geographic, projected, &err);
    ASSERT_NE(pair, nullptr) << c.def << ": " << Message(err);
    std::string how;
    const char *earth = std::strstr(c.def, " +ellps=") ? std::strstr(c.def, " +ellps=") : std::strstr(c.def, " +R=");
    const std::vector<Point> expected = Reference(std::string("+proj=longlat") + earth, c.def, {c.point}, how);
    ASSERT_EQ(expected.size(), 1u);
    const std::vector<Point> got = PairTransform(pair, false, {c.point});
    EXPECT_LE(Meters(got[0], expected[0], false), 1e-6) << c.def << " by " << how;
    eprj_ProjectionPairFree(&pair);
  }
}

TEST(ProjectionPair, SharedObjectsServeSeveralThreadsAndPendingPairsStayWithTheirThread) {
  Params geographic(Geographic()), utm(Utm11());
  Projection from(utm), to(geographic);
  Eprj_ProjectionPair *shared = eprj_ProjectionPairInit(nullptr, utm, geographic, nullptr);
  ASSERT_NE(shared, nullptr);
  const std::vector<Point> grid = Grid(300000, 700000, 3000000, 5000000, 8);
  const std::vector<Point> expected = PairTransform(shared, false, grid);
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      // A pair created on this thread is the one Init fills here, whatever the others do.
      Eprj_ProjectionPair *own = eprj_ProjectionPairCreate(nullptr);
      if (eprj_ProjectionPairInit(nullptr, utm, geographic, nullptr) != own) ++failures[t];
      eprj_ProjectionPairFree(&own);
      for (int round = 0; round < 20; ++round) {
        std::vector<Point> points = grid;
        if (eprj_ProjectionPairTransform(shared, 0, static_cast<int32_t>(points.size()),
                                         reinterpret_cast<double *>(points.data()), nullptr) != 0 ||
            points != expected)
          ++failures[t];
        Eprj_Points *in = eprj_PointsCreate(1, nullptr);
        in->points[0] = {grid[round].first, grid[round].second};
        Eprj_Points *out = eprj_ProjectWithUnits(nullptr, from.p, nullptr, to.p, in, nullptr, nullptr);
        if (!out || out->points[0].x != expected[round].first) ++failures[t];
        eprj_PointsFree(&in);
        eprj_PointsFree(&out);
      }
    });
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
  eprj_ProjectionPairFree(&shared);
}

// ---- records PROJ cannot take, points it cannot transform ------------------------------------

TEST(ProjectionInit, RefusesWhatProjCannotExpressNamingTheProjection) {
  struct Case {
    Eprj_ProParameters *params;
    const char *named;
  } cases[] = {
      {Parameters(1, 0, {}), "\"UTM\" zone 0"},
      {Parameters(1, 61, {}), "\"UTM\" zone 61"},
      {Parameters(2, 9999, {}, "GRS 1980"), "\"State Plane\" zone 9999"},
      {Parameters(2, 401, {}, "WGS 84"), "\"State Plane\" zone 401"},
      {Parameters(21, 0, {}), "number 21"},
      {Parameters(9, 0, {{2, 0}}), "\"Transverse Mercator\""},
  };
  for (Case &c : cases) {
    Params p(c.params);
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(eprj_ProjectionInit(nullptr, p, &err), nullptr) << c.named;
    ASSERT_NE(err, nullptr) << c.named;
    EXPECT_EQ(std::string(err->reporter), "eprj_ProjectionInit");
    EXPECT_EQ(err->severity, 2);
    EXPECT_NE(Message(err).find(c.named), std::string::npos) << Message(err);
    eerr_DeleteErrorReportEx(&err);
    Params geographic(Geographic());
    EXPECT_EQ(eprj_ProjectionPairInit(nullptr, geographic, p, &err), nullptr);
    EXPECT_NE(Message(err).find(c.named), std::string::npos) << Message(err);
    eerr_DeleteErrorReportEx(&err);
  }
}

TEST(ProjectionPair, PointThatCannotBeTransformedIsReportedAndNothingChanges) {
  Params geographic(Geographic()), utm(Utm11());
  Eprj_ProjectionPair *pair = eprj_ProjectionPairInit(nullptr, geographic, utm, nullptr);
  ASSERT_NE(pair, nullptr);
  double xy[] = {-117, 35, -117, 95, -116, 36};
  const std::vector<double> before(std::begin(xy), std::end(xy));
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(eprj_ProjectionPairTransform(pair, 0, 3, xy, &err), -1);
  ASSERT_NE(err, nullptr);
  EXPECT_NE(Message(err).find("Point 1"), std::string::npos) << Message(err);
  EXPECT_NE(Message(err).find("\"Geographic (Lat/Lon)\""), std::string::npos);
  EXPECT_NE(Message(err).find("\"UTM\" zone 11"), std::string::npos);
  EXPECT_EQ(std::vector<double>(std::begin(xy), std::end(xy)), before);
  eerr_DeleteErrorReportEx(&err);
  eprj_ProjectionPairFree(&pair);
}

TEST(ProjectionPair, CreateThenInitFillsTheCreatedPair) {
  Params geographic(Geographic()), utm(Utm11());
  Eerr_ErrorReport *err = nullptr;
  Eprj_ProjectionPair *created = eprj_ProjectionPairCreate(&err);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(eprj_ProjectionPairParameters(created, 0), nullptr);
  double xy[] = {-117, 35};
  EXPECT_EQ(eprj_ProjectionPairTransform(created, 0, 1, xy, &err), -1); // empty: reported
  eerr_DeleteErrorReportEx(&err);
  Eprj_ProjectionPair *initialised = eprj_ProjectionPairInit(nullptr, geographic, utm, &err);
  EXPECT_EQ(initialised, created);
  EXPECT_EQ(eprj_ProjectionPairTransform(created, 0, 1, xy, &err), 0);
  EXPECT_NEAR(xy[0], 500000, 1e-6);
  // The next Init makes a pair of its own.
  Eprj_ProjectionPair *other = eprj_ProjectionPairInit(nullptr, utm, geographic, &err);
  EXPECT_NE(other, created);
  eprj_ProjectionPairFree(&other);
  eprj_ProjectionPairFree(&created);
  // A pending pair that is freed is forgotten.
  Eprj_ProjectionPair *dropped = eprj_ProjectionPairCreate(nullptr);
  eprj_ProjectionPairFree(&dropped);
  Eprj_ProjectionPair *fresh = eprj_ProjectionPairInit(nullptr, geographic, utm, &err);
  ASSERT_NE(fresh, nullptr);
  eprj_ProjectionPairFree(&fresh);
}

// ---- projection objects ----------------------------------------------------------------------

TEST(Projection, ParametersTextQuitAndFree) {
  Params utm(Utm11());
  const int64_t live = emsc_TestLiveBlocks();
  {
    Projection projection(utm);
    ASSERT_NE(projection.p, nullptr);
    Eprj_ProParameters *kept = eprj_MapProjectionCSRGet(projection.p, "Eprj_ProParameters");
    ASSERT_NE(kept, nullptr);
    EXPECT_NE(kept, utm.p); // a copy
    EXPECT_TRUE(eprj_ProParametersEqual(kept, utm, nullptr));
    EXPECT_EQ(eprj_MapProjectionCSRGet(projection.p, "Eprj_MapInfo"), nullptr);
    Eerr_ErrorReport *err = nullptr;
    char16_t *text = eprj_MapProjectionToUNICODE(projection.p, &err);
    ASSERT_NE(text, nullptr);
    const std::u16string expected = u"+proj=utm +zone=11 +ellps=WGS84 +units=m +no_defs +type=crs";
    EXPECT_EQ(std::u16string(text), expected);
    emsc_HeapFree(text);
    // Quit releases the PROJ state; the projection can still be used.
    Projection geographic(Params(Geographic()).p);
    Eprj_Points *in = eprj_PointsCreate(1, nullptr);
    in->points[0] = {500000, 4000000};
    Eprj_Points *out = eprj_ProjectWithUnits("meters", projection.p, "dd", geographic.p, in, nullptr, &err);
    ASSERT_NE(out, nullptr) << Message(err);
    eprj_ProjectionQuit(projection.p);
    eprj_ProjectionQuit(projection.p);
    EXPECT_EQ(eprj_ProjectWithUnits("meters", projection.p, "dd", geographic.p, in, out, &err), out);
    EXPECT_NEAR(out->points[0].x, -117, 1e-12);
    eprj_PointsFree(&in);
    eprj_PointsFree(&out);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
  eprj_ProjectionQuit(nullptr);
  eprj_ProjectionFree(nullptr);
}

TEST(Projection, CreatesSurviveAllocationFailures) {
  Params utm(Utm11()), geographic(Geographic());
  const std::vector<std::pair<const char *, std::function<bool(Eerr_ErrorReport **)>>> calls = {
      {"eprj_ProjectionInit",
       [&](Eerr_ErrorReport **err) {
         Eprj_MapProjection *p = eprj_ProjectionInit(nullptr, utm, err);
         eprj_ProjectionFree(&p);
         return *err == nullptr;
       }},
      {"eprj_ProjectionPairInit",
       [&](Eerr_ErrorReport **err) {
         Eprj_ProjectionPair *p = eprj_ProjectionPairInit(nullptr, utm, geographic, err);
         eprj_ProjectionPairFree(&p);
         return *err == nullptr;
       }},
      {"eprj_IntersectPtrCreate",
       [&](Eerr_ErrorReport **err) {
         Eprj_IntersectPtr *s = eprj_IntersectPtrCreate(3, err);
         eprj_IntersectPtrFree(&s);
         return *err == nullptr;
       }},
      {"eprj_PointsCreate", [&](Eerr_ErrorReport **err) {
         Eprj_Points *s = eprj_PointsCreate(3, err);
         eprj_PointsFree(&s);
         return *err == nullptr;
       }}};
  for (const auto &[name, call] : calls) {
    SCOPED_TRACE(name);
    // The projection library does not survive a failing operator new (it writes through the null
    // it gets), so the calls that reach it have their heap swept only.
    const bool reachesProjections = std::string(name).find("Init") != std::string::npos;
    taviron::testing::SweepAllocationFailures(
        [&](Eerr_ErrorReport **err) {
          if (call(err)) return true;
          if (*err) {
            EXPECT_STREQ((*err)->reporter, name);
          }
          return false;
        },
        {.limit = 100, .operatorNew = !reachesProjections});
  }
}

TEST(ProjectionsEqual, ComparesWhatTheRecordsMean) {
  Params utm(Utm11()), utm12(Parameters(1, 12, {})), geographic(Geographic());
  Params utmRenamed(Utm11());
  eprj_CharStrCreate("utm", &utmRenamed.p->proName, nullptr);
  utmRenamed.p->proParams.data[9] = 3; // a parameter UTM does not use
  Eprj_MapInfo *named = eprj_MapInfoCreate(nullptr), *other = eprj_MapInfoCreate(nullptr);
  eprj_MapInfoProjectionNameSet(named, "UTM", nullptr);
  eprj_MapInfoProjectionNameSet(other, "State Plane", nullptr);
  Eprj_MapInfo *unknown = eprj_MapInfoCreate(nullptr);
  eprj_MapInfoProjectionNameSet(unknown, "Unknown", nullptr);
  struct Case {
    const Eprj_MapInfo *ia;
    const Eprj_ProParameters *pa;
    const Eprj_MapInfo *ib;
    const Eprj_ProParameters *pb;
    int32_t equal;
  } cases[] = {
      {named, utm, named, utm, 1},
      {nullptr, utm, other, utmRenamed, 1}, // the parameters decide
      {named, utm, named, utm12, 0},
      {named, utm, named, geographic, 0},
      {named, utm, named, nullptr, 0},
      {named, nullptr, named, nullptr, 1},
      {named, nullptr, other, nullptr, 0},
      {nullptr, nullptr, unknown, nullptr, 1},
      {nullptr, nullptr, nullptr, nullptr, 1},
  };
  for (const Case &c : cases) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(eprj_ProjectionsEqual(c.ia, c.pa, c.ib, c.pb, &err), c.equal) << (&c - cases);
    EXPECT_EQ(err, nullptr);
  }
  eprj_MapInfoFree(&named);
  eprj_MapInfoFree(&other);
  eprj_MapInfoFree(&unknown);
}

// ---- point sets with units -------------------------------------------------------------------

TEST(ProjectWithUnits, ConvertsUnitsOnBothSidesAndReusesTheOutputSet) {
  Params utmParams(Utm11()), geoParams(Geographic());
  Projection utm(utmParams), geographic(geoParams);
  Eerr_ErrorReport *err = nullptr;
  Eprj_Points *in = eprj_PointsCreate(2, &err);
  in->points[0] = {-117, 36};
  in->points[1] = {-116, 37};
  std::string how;
  const std::vector<Point> expected =
      Reference(kGeographicDef, kUtm11Def, {{-117, 36}, {-116, 37}}, how);
  Eprj_Points *out = eprj_PointsCreate(5, &err); // resized to the input's count
  EXPECT_EQ(eprj_ProjectWithUnits("dd", geographic.p, "feet", utm.p, in, out, &err), out) << Message(err);
  ASSERT_EQ(out->count, 2);
  for (int k = 0; k < 2; ++k) {
    EXPECT_NEAR(out->points[k].x * 0.3048, expected[k].first, 1e-6);
    EXPECT_NEAR(out->points[k].y * 0.3048, expected[k].second, 1e-6);
  }
  // In place and back, from radians.
  in->points[0] = {Radians(-117), Radians(36)};
  in->points[1] = {Radians(-116), Radians(37)};
  EXPECT_EQ(eprj_ProjectWithUnits("radians", geographic.p, nullptr, utm.p, in, in, &err), in);
  EXPECT_NEAR(in->points[1].x, expected[1].first, 1e-6);
  EXPECT_NEAR(in->points[1].y, expected[1].second, 1e-6);
  // Units of the wrong kind, and unknown units, are reported and leave the output as it was.
  const Eprj_Coordinate kept = out->points[0];
  EXPECT_EQ(eprj_ProjectWithUnits("meters", geographic.p, "dd", utm.p, in, out, &err), nullptr);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(eprj_ProjectWithUnits("furlongs", utm.p, "dd", geographic.p, in, out, &err), nullptr);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(out->points[0].x, kept.x);
  EXPECT_EQ(out->count, 2);
  // An empty set stays empty; a missing output set is made.
  Eprj_Points *none = eprj_PointsCreate(0, &err);
  Eprj_Points *made = eprj_ProjectWithUnits(nullptr, utm.p, nullptr, geographic.p, none, nullptr, &err);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->count, 0);
  eprj_PointsFree(&made);
  eprj_PointsFree(&none);
  eprj_PointsFree(&in);
  eprj_PointsFree(&out);
}

// ---- frame intersections ---------------------------------------------------------------------

Egda_BaseData *Corners(std::initializer_list<Point> corners) {
  Egda_BaseData *m = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  auto *d = reinterpret_cast<double *>(m->origin);
  for (const Point &c : corners) {
    *d++ = c.first;
    *d++ = c.second;
  }
  return m;
}

// Distance of (x, y) from the nearest side of the axis-aligned frame [x0, x1] x [y0, y1].
double OffFrame(double x, double y, double x0, double x1, double y0, double y1) {
  const double dx = std::min(std::fabs(x - x0), std::fabs(x - x1));
  const double dy = std::min(std::fabs(y - y0), std::fabs(y - y1));
  const bool insideX = x >= x0 - 1e-6 && x <= x1 + 1e-6, insideY = y >= y0 - 1e-6 && y <= y1 + 1e-6;
  return insideX && insideY ? std::min(dx, dy) : 1e300;
}

TEST(IntersectWithFrame, GraticuleLinesOfAUtmFrameInOrderWithTheirAngles) {
  Params utmParams(Utm11()), geoParams(Geographic());
  Projection utm(utmParams), geographic(geoParams);
  const double x0 = 400000, x1 = 600000, y0 = 3800000, y1 = 4200000;
  Egda_BaseData *corners = Corners({{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}});
  std::string how;
  struct Case {
    int axis;
    double value;
    int count;
  } cases[] = {{0, -117, 2}, {0, -116.2, 2}, {0, -117.9, 2}, {1, 36, 2}, {1, 35.5, 2}, {0, -100, 0}, {1, 50, 0}};
  for (const Case &c : cases) {
    Eerr_ErrorReport *err = nullptr;
    Eprj_IntersectPtr *set =
        c.axis == 0 ? eprj_IntersectXcoordWithFrame("meters", utm.p, corners, "dd", geographic.p, c.value, &err)
                    : eprj_IntersectYcoordWithFrame("meters", utm.p, corners, "dd", geographic.p, c.value, &err);
    ASSERT_NE(set, nullptr) << Message(err);
    ASSERT_EQ(set->count, c.count) << c.axis << " " << c.value;
    std::vector<Point> data;
    for (int i = 0; i < set->count; ++i) data.emplace_back(set->intersects[i]->x, set->intersects[i]->y);
    const std::vector<Point> grid = Reference(kUtm11Def, kGeographicDef, data, how);
    for (int i = 0; i < set->count; ++i) {
      const Eprj_Intersect &p = *set->intersects[i];
      EXPECT_LE(OffFrame(p.x, p.y, x0, x1, y0, y1), 1e-6) << "on the frame";
      EXPECT_NEAR(c.axis == 0 ? grid[i].first : grid[i].second, c.value, 1e-9) << "on the line, by " << how;
      if (i > 0) { // in order along the line
        EXPECT_GT(c.axis == 0 ? grid[i].second : grid[i].first, c.axis == 0 ? grid[i - 1].second : grid[i - 1].first);
      }
      // The angle of the grid's y direction: toward a point a little north on the same meridian.
      const std::vector<Point> ahead = Reference(kGeographicDef, kUtm11Def, {{grid[i].first, grid[i].second + 1e-4}}, how);
      EXPECT_NEAR(p.angle, std::atan2(ahead[0].second - p.y, ahead[0].first - p.x), 1e-5);
    }
    if (c.value == -117) {
      EXPECT_NEAR(set->intersects[0]->angle, kPi / 2, 1e-9);
      EXPECT_NEAR(set->intersects[0]->y, y0, 1e-9); // bottom first
    }
    eprj_IntersectPtrFree(&set);
    EXPECT_EQ(set, nullptr);
  }
  egda_BaseDataDelete(corners, nullptr);
}

TEST(IntersectWithFrame, CurvedParallelMeetsOneSideTwiceInOrderAlongTheLine) {
  // A parallel in a conic projection bends toward the pole: with the frame's top just above the
  // parallel's lowest point, the parallel leaves and re-enters through the top side.
  Params lccParams(Lcc()), geoParams(Parameters(0, 0, {}, "GRS 1980"));
  Projection lcc(lccParams), geographic(geoParams);
  std::string how;
  const std::vector<Point> parallel = Reference(kGeographicGrs80Def, kLccDef, {{-96, 40}, {-116, 40}}, how);
  const double low = parallel[0].second, side = parallel[1].second;
  ASSERT_GT(side, low + 10000);
  const double top = low + 0.5 * (side - low);
  Egda_BaseData *corners = Corners({{-1500000, low - 300000}, {-1500000, top}, {1500000, top}, {1500000, low - 300000}});
  Eerr_ErrorReport *err = nullptr;
  Eprj_IntersectPtr *set = eprj_IntersectYcoordWithFrame("meters", lcc.p, corners, "dd", geographic.p, 40, &err);
  ASSERT_NE(set, nullptr) << Message(err);
  ASSERT_EQ(set->count, 2);
  std::vector<Point> data;
  for (int i = 0; i < 2; ++i) data.emplace_back(set->intersects[i]->x, set->intersects[i]->y);
  // Both on the top side, west to east along the parallel.
  EXPECT_NEAR(data[0].second, top, 1e-6);
  EXPECT_NEAR(data[1].second, top, 1e-6);
  EXPECT_LT(data[0].first, data[1].first);
  const std::vector<Point> grid = Reference(kLccDef, kGeographicGrs80Def, data, how);
  for (int i = 0; i < 2; ++i) EXPECT_NEAR(grid[i].second, 40, 1e-9) << how;
  EXPECT_GT(grid[1].first, grid[0].first);
  // The meridians meet north of the map: north leans east west of the centre, west east of it.
  EXPECT_LT(set->intersects[0]->angle, kPi / 2);
  EXPECT_GT(set->intersects[1]->angle, kPi / 2);
  eprj_IntersectPtrFree(&set);

  // The grid value in radians: the central meridian crosses bottom and top at x = 0.
  Eprj_IntersectPtr *meridian =
      eprj_IntersectXcoordWithFrame("meters", lcc.p, corners, "radians", geographic.p, Radians(-96), &err);
  ASSERT_NE(meridian, nullptr) << Message(err);
  ASSERT_EQ(meridian->count, 2);
  EXPECT_NEAR(meridian->intersects[0]->x, 0, 1e-6);
  EXPECT_NEAR(meridian->intersects[0]->y, low - 300000, 1e-6);
  EXPECT_NEAR(meridian->intersects[1]->y, top, 1e-6);
  eprj_IntersectPtrFree(&meridian);
  egda_BaseDataDelete(corners, nullptr);
}

TEST(IntersectWithFrame, LineThroughACornerAndBadInput) {
  Params geoParams(Geographic());
  Projection geographic(geoParams);
  // Grid and data in the same geographic system: the line x = -110 runs along the left side.
  Egda_BaseData *corners = Corners({{-110, 30}, {-110, 40}, {-100, 40}, {-100, 30}});
  Eerr_ErrorReport *err = nullptr;
  Eprj_IntersectPtr *set = eprj_IntersectXcoordWithFrame("dd", geographic.p, corners, "dd", geographic.p, -110, &err);
  ASSERT_NE(set, nullptr);
  ASSERT_EQ(set->count, 2); // its two ends, once each
  EXPECT_DOUBLE_EQ(set->intersects[0]->y, 30);
  EXPECT_DOUBLE_EQ(set->intersects[1]->y, 40);
  eprj_IntersectPtrFree(&set);
  set = eprj_IntersectYcoordWithFrame("dd", geographic.p, corners, "dd", geographic.p, 35, &err);
  ASSERT_EQ(set->count, 2);
  EXPECT_DOUBLE_EQ(set->intersects[0]->x, -110);
  EXPECT_DOUBLE_EQ(set->intersects[1]->x, -100);
  EXPECT_NEAR(set->intersects[0]->angle, kPi / 2, 1e-12);
  eprj_IntersectPtrFree(&set);

  Egda_BaseData *three = egda_BaseDataCreate(2, 3, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  struct Bad {
    Eprj_MapProjection *map;
    Egda_BaseData *corners;
    const char *units;
    double value;
    int32_t code;
  } bad[] = {{nullptr, corners, "dd", 0, 1}, {geographic.p, three, "dd", 0, 2},
             {geographic.p, nullptr, "dd", 0, 2}, {geographic.p, corners, "dd", NAN, 3},
             {geographic.p, corners, "meters", 0, 4}};
  for (const Bad &b : bad) {
    EXPECT_EQ(eprj_IntersectXcoordWithFrame(b.units, b.map, b.corners, "dd", geographic.p, b.value, &err), nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(err->code, b.code);
    EXPECT_EQ(std::string(err->reporter), "eprj_IntersectXcoordWithFrame");
    eerr_DeleteErrorReportEx(&err);
  }
  egda_BaseDataDelete(three, nullptr);
  egda_BaseDataDelete(corners, nullptr);
}

TEST(Intersect, SetsAreMadeAndFreedWithTheirIntersections) {
  const int64_t live = emsc_TestLiveBlocks();
  Eerr_ErrorReport *err = nullptr;
  Eprj_IntersectPtr *set = eprj_IntersectPtrCreate(2, &err);
  ASSERT_NE(set, nullptr);
  ASSERT_EQ(set->count, 2);
  EXPECT_EQ(set->intersects[1]->angle, 0);
  emsc_HeapFree(set->intersects[1]);
  set->intersects[1] = eprj_IntersectCreate(1, 2, kPi / 2, &err);
  EXPECT_EQ(set->intersects[1]->y, 2);
  eprj_IntersectPtrFree(&set);
  EXPECT_EQ(eprj_IntersectPtrCreate(-1, &err), nullptr);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  eprj_IntersectPtrFree(nullptr);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

// ---- north --------------------------------------------------------------------------------------

TEST(NorthAngle, TrueNorthInAUtmZoneAndGridNorthOfAnother) {
  Params utm(Utm11()), geographic(Geographic()), utm12(Parameters(1, 12, {}));
  Egda_BaseData *point = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  auto *xy = reinterpret_cast<double *>(point->origin);
  std::string how;
  for (Point p : {Point{500000, 4000000}, Point{700000, 4500000}, Point{300000, 2000000}, Point{650000, -3000000}}) {
    xy[0] = p.first;
    xy[1] = p.second;
    double angle = 0;
    Eerr_ErrorReport *err = nullptr;
    ASSERT_EQ(eprj_ComputeNorthAngleFromXAxis(point, utm, geographic, &angle, &err), 0) << Message(err);
    const Point geo = Reference(kUtm11Def, kGeographicDef, {p}, how)[0];
    const Point ahead = Reference(kGeographicDef, kUtm11Def, {{geo.first, geo.second + 1e-4}}, how)[0];
    EXPECT_NEAR(angle, std::atan2(ahead.second - p.second, ahead.first - p.first), 1e-5);
    if (p.first == 500000) {
      EXPECT_NEAR(angle, kPi / 2, 1e-9);
    }
    if (p.first > 500000 && p.second > 0) { // north leans west, east of the centre
      EXPECT_GT(angle, kPi / 2);
    }
    // Grid north of the next zone, seen in this one, leans the other way.
    double gridNorth = 0;
    ASSERT_EQ(eprj_ComputeNorthAngleFromXAxis(point, utm, utm12, &gridNorth, &err), 0);
    if (p.second > 0) {
      EXPECT_GT(gridNorth, angle);
    }
  }
  double angle = 0;
  Eerr_ErrorReport *err = nullptr;
  xy[0] = 1e9; // no such place
  EXPECT_EQ(eprj_ComputeNorthAngleFromXAxis(point, utm, geographic, &angle, &err), -1);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(eprj_ComputeNorthAngleFromXAxis(point, nullptr, geographic, &angle, &err), -1);
  eerr_DeleteErrorReportEx(&err);
  egda_BaseDataDelete(point, nullptr);
}

} // namespace
