// A realistic sequence of calls (a hierarchical file with a record of its own design and a
// transform, then a raster layer written and read back) with each allocation failing in turn,
// through the heap and through operator new: every call returns a report, nothing crashes and
// nothing is left allocated.
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "egda.h"
#include "ehfa.h"
#include "eimg.h"
#include "emif.h"
#include "exfr.h"
#include "taviron_testing.h"

namespace {

using taviron::testing::SweepAllocationFailures;
using taviron::testing::TempDir;

struct Pair {
  int32_t id;
  double value;
};

// The whole sequence; false at the first call that fails, whose report stays in err. What it
// opened is closed on every path (the closing calls' reports are dropped).
bool Sequence(const std::string &hfa, const std::string &layer, Eerr_ErrorReport **err) {
  Ehfa_File *file = ehfa_FileCreate(hfa.c_str(), nullptr, err);
  if (!file) return false;
  bool ok = false;
  _exfr_XForm *xform = nullptr;
  const Pair pair{7, 2.5};
  if (Emif_Design *design = emif_DesignCreate(file->dictionary, "Pair", err, EMIF_TYPE_S32, "id",
                                              EMIF_TYPE_F64, "value", 0);
      design && ehfa_ObjectWrite(file, ":", "pair", nullptr, EHFA_CHILD, &pair, design, err) &&
      (xform = exfr_XFormCreateUsingCoeffs(2, 0, 10, 0, 2, 20, err)) &&
      exfr_XFormWrite(file, nullptr, xform, err) == 0) {
    auto *back = static_cast<Pair *>(ehfa_ObjectRead(file, nullptr, ":pair", EHFA_PATH, nullptr, design, err));
    ok = back && back->id == 7 && back->value == 2.5;
    emsc_HeapFree(back);
  }
  exfr_XFormFree(&xform, nullptr);
  ehfa_FileClose(file, nullptr);
  if (!ok) return false;

  Eimg_Layer *raster = eimg_LayerCreate(layer.c_str(), 0, EGDA_TYPE_U8, 64, 64, nullptr, err, 0);
  if (!raster) return false;
  Egda_BaseData *pixels = egda_BaseDataCreate(64, 64, EGDA_TYPE_U8, EGDA_MATRIX, nullptr, err);
  if (pixels) {
    std::memset(pixels->origin, 9, 64 * 64);
    ok = eimg_LayerWrite(raster, 0, 0, 64, 64, pixels, err) == 0 &&
         eimg_LayerRead(raster, 0, 0, 64, 64, pixels, err) == 0 && pixels->origin[64 * 64 - 1] == 9;
  } else {
    ok = false;
  }
  egda_BaseDataDelete(pixels, nullptr);
  eimg_LayerClose(raster, nullptr);
  return ok;
}

TEST(OutOfMemory, EveryCallOfARealisticSequenceReports) {
  TempDir dir("out_of_memory");
  const std::string hfa = dir / "sequence.hfa", image = dir / "sequence.img";
  const std::string layer = image + "(:Layer_1)";
  // One whole run first, so that what the layer keeps for the whole process (the design of the
  // stored layer record) is made before blocks are counted.
  {
    taviron::testing::ErrorSlot err;
    ASSERT_TRUE(Sequence(hfa, layer, &err)) << taviron::testing::Chain(err);
  }
  const auto counts = SweepAllocationFailures([&](Eerr_ErrorReport **err) {
    unlink(hfa.c_str());
    unlink(image.c_str());
    return Sequence(hfa, layer, err);
  });
  // Both kinds of failure were met along the way.
  EXPECT_GT(counts.heap, 20);
  EXPECT_GT(counts.operatorNew, 20);
}

} // namespace
