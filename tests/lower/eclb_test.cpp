#include "eclb.h"

#include <gtest/gtest.h>

#include <cmath>

#include "emsc.h"
#include "taviron_testing.h"

TEST(EclbRgbToIhs, KnownColours) {
  const struct {
    const char *name;
    double r, g, b;
    double intensity, hue, saturation;
  } colours[] = {
      {"red", 1, 0, 0, 1.0 / 3, 0, 1},        {"green", 0, 1, 0, 1.0 / 3, 120, 1},
      {"blue", 0, 0, 1, 1.0 / 3, 240, 1},     {"yellow", 1, 1, 0, 2.0 / 3, 60, 1},
      {"cyan", 0, 1, 1, 2.0 / 3, 180, 1},     {"magenta", 1, 0, 1, 2.0 / 3, 300, 1},
      {"white", 1, 1, 1, 1, 0, 0},            {"black", 0, 0, 0, 0, 0, 0},
      {"grey", 0.5, 0.5, 0.5, 0.5, 0, 0},     {"dark orange", 0.5, 0.25, 0, 0.25, 30, 1},
      {"pink", 1, 0.5, 0.5, 2.0 / 3, 0, 0.25},
  };
  for (const auto &c : colours) {
    double i = -1, h = -1, s = -1;
    eclb_RgbToIhs(c.r, c.g, c.b, &i, &h, &s);
    EXPECT_NEAR(i, c.intensity, 1e-12) << c.name;
    EXPECT_NEAR(h, c.hue, 1e-9) << c.name;
    EXPECT_NEAR(s, c.saturation, 1e-12) << c.name;
  }
  // Out pointers may be null.
  double i = 0;
  eclb_RgbToIhs(1, 1, 1, &i, nullptr, nullptr);
  EXPECT_EQ(i, 1);
}

TEST(EclbROYGBIV, RampThroughTheSevenColours) {
  Eerr_ErrorReport *err = nullptr;
  Egda_BaseDataStack *ramp = eclb_ROYGBIV(7, 7, &err);
  ASSERT_NE(ramp, nullptr);
  ASSERT_EQ(ramp->count, 3);
  const double want[7][3] = {{1, 0, 0}, {1, 0.5, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {75 / 255.0, 0, 130 / 255.0}, {143 / 255.0, 0, 1}};
  for (int c = 0; c < 3; ++c) {
    const Egda_BaseData *column = ramp->layers[c];
    EXPECT_EQ(column->rows, 7);
    EXPECT_EQ(column->columns, 1);
    EXPECT_EQ(column->pixelType, EGDA_TYPE_F64);
    EXPECT_EQ(column->objectType, EGDA_TABLE);
    for (int k = 0; k < 7; ++k) EXPECT_DOUBLE_EQ(reinterpret_cast<const double *>(column->data)[k], want[k][c]) << k << "," << c;
  }
  egda_BaseDataStackDelete(ramp, nullptr);

  // Between anchors the ramp is linear; past the steps it stays violet; one step is all red.
  const struct {
    int32_t count, steps, entry;
    double r, g, b;
  } cases[] = {{13, 13, 1, 1, 0.25, 0}, {13, 13, 12, 143 / 255.0, 0, 1}, {5, 3, 4, 143 / 255.0, 0, 1},
               {5, 3, 1, 0, 1, 0},      {2, 1, 1, 1, 0, 0}};
  for (const auto &k : cases) {
    ramp = eclb_ROYGBIV(k.count, k.steps, &err);
    ASSERT_NE(ramp, nullptr);
    const double got[3] = {reinterpret_cast<double *>(ramp->layers[0]->data)[k.entry],
                           reinterpret_cast<double *>(ramp->layers[1]->data)[k.entry],
                           reinterpret_cast<double *>(ramp->layers[2]->data)[k.entry]};
    EXPECT_NEAR(got[0], k.r, 1e-12) << k.count << "/" << k.steps << " entry " << k.entry;
    EXPECT_NEAR(got[1], k.g, 1e-12) << k.count << "/" << k.steps << " entry " << k.entry;
    EXPECT_NEAR(got[2], k.b, 1e-12) << k.count << "/" << k.steps << " entry " << k.entry;
    egda_BaseDataStackDelete(ramp, nullptr);
  }
  ramp = eclb_ROYGBIV(0, 1, &err);
  ASSERT_NE(ramp, nullptr);
  EXPECT_EQ(ramp->layers[2]->rows, 0);
  egda_BaseDataStackDelete(ramp, nullptr);

  for (auto [count, steps] : {std::pair{-1, 1}, std::pair{3, 0}}) {
    EXPECT_EQ(eclb_ROYGBIV(count, steps, &err), nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->reporter, "eclb_ROYGBIV");
    EXPECT_EQ(err->code, 1);
    eerr_DeleteErrorReportEx(&err);
  }
}

TEST(EclbROYGBIV, SurvivesAllocationFailures) {
  const auto counts = taviron::testing::SweepAllocationFailures([](Eerr_ErrorReport **err, taviron::testing::Failing kind) {
    Egda_BaseDataStack *ramp = eclb_ROYGBIV(4, 4, err);
    if (!ramp && kind == taviron::testing::Failing::Heap) {
      EXPECT_TRUE(taviron::testing::Reported(*err, "eclb_ROYGBIV", 2));
      EXPECT_NE((*err)->next, nullptr);
    }
    egda_BaseDataStackDelete(ramp, nullptr);
    return ramp != nullptr;
  });
  EXPECT_LT(counts.heap, 20);
}
