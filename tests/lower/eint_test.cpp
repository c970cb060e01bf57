#include "eint.h"

#include <gtest/gtest.h>

#include <cstddef>

#include "emsc.h"
#include "taviron_testing.h"

namespace {

TEST(Eint, FixedWordsOfTheRecord) {
  static_assert(offsetof(Eint_InitToolkitData, annotationData) == 0);
  static_assert(offsetof(Eint_InitToolkitData, plotFileHeader) == 3 * sizeof(void *));
}

int freedProjection = 0;
int freedStatistics = 0;
void FreeProjection(void *data) {
  ++freedProjection;
  emsc_HeapFree(data);
}
void FreeStatistics(void *data) {
  ++freedStatistics;
  emsc_HeapFree(data);
}

TEST(Eint, LifeOfTheRecord) {
  const int64_t live = emsc_TestLiveBlocks();
  EXPECT_EQ(eint_GetInit(), nullptr);
  eint_DeInit(); // nothing to end

  // The first creation fails for want of memory: a report and still no record.
  Eerr_ErrorReport *err = nullptr;
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(eint_InitToolkit(&err), nullptr);
  }
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "eint_InitToolkit");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(eint_GetInit(), nullptr);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);

  Eint_InitToolkitData *record = eint_InitToolkit(&err);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(eint_GetInit(), record);
  EXPECT_EQ(eint_InitToolkit(nullptr), record);
  EXPECT_EQ(record->annotationData, nullptr);
  EXPECT_EQ(record->plotFileHeader, nullptr);
  EXPECT_EQ(record->statisticsData, nullptr);

  // The layer's packages hang their data with a free function; eint_DeInit frees it.
  record->projectionData = emsc_HeapMalloc(8);
  record->projectionDataFree = FreeProjection;
  record->statisticsData = emsc_HeapMalloc(8);
  record->statisticsDataFree = FreeStatistics;
  eint_DeInit();
  EXPECT_EQ(freedProjection, 1);
  EXPECT_EQ(freedStatistics, 1);
  EXPECT_EQ(eint_GetInit(), nullptr);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);

  // A new record after the end starts empty.
  record = eint_InitToolkit(&err);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->projectionData, nullptr);
  eint_DeInit();
  EXPECT_EQ(freedProjection, 1);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

} // namespace
