#include "egda.h"

#include <gtest/gtest.h>

#include <cstring>

#include "emsc.h"
#include "estr.h"
#include "lower_testing.h"

TEST(EgdaBaseData, PixelSizesAndCreateShapes) {
  const int32_t sizes[] = {1, 1, 1, 1, 1, 2, 2, 4, 4, 4, 8, 8, 16, sizeof(char *)};
  for (int32_t t = 0; t < EGDA_PIXEL_TYPE_COUNT; ++t) EXPECT_EQ(egda_PixelTypeSize(t), sizes[t]) << t;
  EXPECT_EQ(egda_PixelTypeSize(14), 0);
  EXPECT_EQ(egda_PixelTypeSize(-1), 0);

  Eerr_ErrorReport *err = nullptr;
  Egda_BaseData *m = egda_BaseDataCreate(2, 3, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &err);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->pitch, 16); // column to column
  EXPECT_EQ(m->count, 6);
  EXPECT_EQ(m->origin, m->data);
  egda_BaseDataDelete(m, &err);
  Egda_BaseData *r = egda_BaseDataCreate(4, 5, EGDA_TYPE_U16, EGDA_RASTER, nullptr, &err);
  EXPECT_EQ(r->pitch, 10); // row to row
  egda_BaseDataDelete(r, &err);
  EXPECT_EQ(err, nullptr);

  const struct {
    int32_t rows, columns, type, object;
  } bad[] = {{-1, 2, 10, 2}, {2, -1, 10, 2}, {2, 2, 14, 2}, {2, 2, 10, 4}, {65536, 65536, 10, 2}};
  for (const auto &b : bad) {
    EXPECT_EQ(egda_BaseDataCreate(b.rows, b.columns, b.type, b.object, nullptr, &err), nullptr);
    ASSERT_NE(err, nullptr);
    eerr_DeleteErrorReportEx(&err);
  }
}

TEST(EgdaBaseData, CoordinateMatrixLiesPointByPoint) {
  double xy[] = {1, 2, 3, 4, 5, 6};
  Egda_BaseData *m = egda_BaseDataCreate(2, 3, EGDA_TYPE_F64, EGDA_MATRIX, xy, nullptr);
  ASSERT_NE(m, nullptr);
  const double *col1 = reinterpret_cast<const double *>(m->origin + m->pitch);
  EXPECT_EQ(col1[0], 3); // x1
  EXPECT_EQ(col1[1], 4); // y1
  Egda_BaseData *copy = egda_BaseDataCopy(m, nullptr, nullptr);
  egda_BaseDataDelete(m, nullptr); // borrowed buffer is not freed
  EXPECT_EQ(std::memcmp(copy->data, xy, sizeof xy), 0);
  egda_BaseDataDelete(copy, nullptr);
}

TEST(EgdaBaseData, CopyKeepsTheBorderOriginAndDuplicatesStrings) {
  Egda_BaseData *r = egda_BaseDataCreate(5, 5, EGDA_TYPE_S32, EGDA_RASTER, nullptr, nullptr);
  for (int i = 0; i < 25; ++i) reinterpret_cast<int32_t *>(r->data)[i] = i;
  r->origin = r->data + r->pitch + r->elementSize; // a one-cell border
  Egda_BaseData *copy = egda_BaseDataCopy(r, nullptr, nullptr);
  EXPECT_EQ(*reinterpret_cast<int32_t *>(copy->origin), 6);
  // Copy into an existing matrix of another shape reshapes it.
  Egda_BaseData *small = egda_BaseDataCreate(1, 1, EGDA_TYPE_U8, EGDA_SCALAR, nullptr, nullptr);
  EXPECT_EQ(egda_BaseDataCopy(r, small, nullptr), small);
  EXPECT_EQ(small->rows, 5);
  EXPECT_EQ(*reinterpret_cast<int32_t *>(small->origin), 6);
  egda_BaseDataDelete(r, nullptr);
  egda_BaseDataDelete(copy, nullptr);
  egda_BaseDataDelete(small, nullptr);

  Egda_BaseData *s = egda_BaseDataCreate(1, 2, EGDA_TYPE_STRING, EGDA_TABLE, nullptr, nullptr);
  reinterpret_cast<char **>(s->data)[0] = estr_Duplicate("left");
  Egda_BaseData *sc = egda_BaseDataCopy(s, nullptr, nullptr);
  char **strings = reinterpret_cast<char **>(sc->data);
  EXPECT_STREQ(strings[0], "left");
  EXPECT_NE(strings[0], reinterpret_cast<char **>(s->data)[0]);
  EXPECT_EQ(strings[1], nullptr);
  egda_BaseDataDelete(s, nullptr);
  egda_BaseDataDelete(sc, nullptr);
}

TEST(EgdaBaseData, AllocationFailuresReportWithoutLeaks) {
  const int64_t live = emsc_TestLiveBlocks();
  for (int64_t n = 1; n < 3; ++n) {
    Eerr_ErrorReport *err = nullptr;
    {
      taviron::testing::FailAllocation fail(n);
      EXPECT_EQ(egda_BaseDataCreate(2, 2, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &err), nullptr);
    }
    ASSERT_NE(err, nullptr);
    eerr_DeleteErrorReportEx(&err);
  }
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}
