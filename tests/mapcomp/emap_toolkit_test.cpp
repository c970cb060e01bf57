#include "emap.h"

#include <gtest/gtest.h>

#include "emif.h"
#include "emsc.h"

namespace {

// A toolkit record whose plot-file-header slot holds a free-standing design.
struct Toolkit {
  Eint_InitToolkitData record{};
  Toolkit() {
    record.plotFileHeader = static_cast<void **>(emsc_HeapMalloc(sizeof(void *)));
    *record.plotFileHeader = emif_DesignCreate(nullptr, "Emap_PlotFileHeader", nullptr, EMIF_TYPE_S32, "version", 0);
  }
  ~Toolkit() {
    if (!record.plotFileHeader) return;
    emif_DesignDestroy(static_cast<Emif_Design *>(*record.plotFileHeader));
    emsc_HeapFree(record.plotFileHeader);
  }
};

TEST(EmapToolkitClose, DestroysThePlotFileHeaderDesignAndClearsTheSlot) {
  Toolkit toolkit;
  ASSERT_NE(*toolkit.record.plotFileHeader, nullptr);
  Eerr_ErrorReport *err = nullptr;
  emap_ToolkitClose(&toolkit.record, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(toolkit.record.plotFileHeader, nullptr);
  EXPECT_EQ(emif_FindDesignByName(nullptr, "Emap_PlotFileHeader", nullptr), nullptr);
  emap_ToolkitClose(&toolkit.record, &err); // an empty slot: nothing to do
  emap_ToolkitClose(nullptr, &err);
  EXPECT_EQ(err, nullptr);
}

TEST(EmapToolkitClose, DoesNothingWhenTheSlotHoldsAReport) {
  Toolkit toolkit;
  Eerr_ErrorReport *err = eerr_CreateErrorReport("earlier", 1, EERR_FATAL, nullptr, "failed");
  Eerr_ErrorReport *held = err;
  emap_ToolkitClose(&toolkit.record, &err);
  EXPECT_EQ(err, held);
  EXPECT_NE(toolkit.record.plotFileHeader, nullptr);
  eerr_DeleteErrorReportEx(&err);
  emap_ToolkitClose(&toolkit.record, nullptr); // no slot at all
  EXPECT_EQ(toolkit.record.plotFileHeader, nullptr);
}

} // namespace
