#include "emgc.h"

#include <gtest/gtest.h>

#include "emsc.h"
#include "taviron_testing.h"

namespace {

TEST(Emgc, UnsupportedCallsAreHarmless) {
  const int64_t live = emsc_TestLiveBlocks();
  Eerr_ErrorReport *err = nullptr;
  const unsigned char bytes[4] = {1, 2, 3, 4};

  EXPECT_EQ(emgc_MagicAllocate(&err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "emgc_MagicAllocate");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(emgc_MagicAppend(nullptr, "0 string X", &err), -1);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(emgc_MagicEntryData(nullptr, 0, &err), nullptr);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(emgc_MagicMatch(nullptr, bytes, 4, &err), -1);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(emgc_MagicMatch(nullptr, nullptr, -5, nullptr), -1);
  EXPECT_EQ(emgc_MagicDisplayFuncSet(nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(emgc_MagicMaxBytes(nullptr), 0);
  emgc_MagicFree(nullptr);

  int32_t status = 0;
  clminf_(&status);
  EXPECT_EQ(status, -1);
  clminf_(nullptr);
  EXPECT_EQ(hex908798435(), -1);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

} // namespace
