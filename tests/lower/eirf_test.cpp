#include "eirf.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emsc.h"
#include "taviron_testing.h"

namespace {

TEST(EirfRectangle, CreateTakesLeftRightTopBottomAndStoresLeftTopRightBottom) {
  const int64_t live = emsc_TestLiveBlocks();
  Eerr_ErrorReport *err = nullptr;
  Eirf_Rectangle *r = eirf_RectangleCreate(1, 2, 3, 4, &err);
  ASSERT_NE(r, nullptr);
  const double *stored = &r->left;
  EXPECT_EQ(std::vector<double>(stored, stored + 4), (std::vector<double>{1, 3, 2, 4}));
  Eirf_Rectangle *copy = eirf_RectangleCopy(r, nullptr, &err);
  Eirf_Rectangle into{};
  EXPECT_EQ(eirf_RectangleCopy(r, &into, &err), &into);
  EXPECT_EQ(into.bottom, 4);
  EXPECT_EQ(copy->right, 2);
  EXPECT_EQ(eirf_RectangleCopy(nullptr, nullptr, &err), nullptr);
  ASSERT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  eirf_RectangleDelete(r, &err);
  eirf_RectangleDestroy(copy, &err);
  eirf_RectangleDelete(nullptr, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);

  taviron::testing::FailAllocation fail(1);
  EXPECT_EQ(eirf_RectangleCreate(0, 1, 0, 1, &err), nullptr);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
}

std::vector<std::string> Names(const Estr_StringList *list) {
  std::vector<std::string> out;
  for (int32_t i = 0; list && i < list->count; ++i) out.emplace_back(list->strings[i]);
  return out;
}

TEST(EirfResample, MethodsDependOnPixelTypeAndTransform) {
  _exfr_XForm *rotate = exfr_XFormCreateUsingCoeffs(0, -1, 0, 1, 0, 0, nullptr);
  _exfr_XForm *halfPixel = exfr_XFormTranslate(nullptr, 0.5, 0, nullptr);
  _exfr_XForm *wholePixels = exfr_XFormTranslate(nullptr, 3, -2, nullptr);
  const std::vector<std::string> all = {"Nearest Neighbor", "Bilinear Interpolation", "Cubic Convolution"};
  const std::vector<std::string> nearest = {"Nearest Neighbor"};
  const struct {
    const char *what;
    _exfr_XForm *x;
    int32_t type;
    std::vector<std::string> names;
  } cases[] = {
      {"unknown type", rotate, -1, all},
      {"u8", rotate, EGDA_TYPE_U8, all},
      {"f64 half pixel", halfPixel, EGDA_TYPE_F64, all},
      {"c128", rotate, EGDA_TYPE_C128, all},
      {"u1 classes", rotate, EGDA_TYPE_U1, nearest},
      {"u4 classes", rotate, EGDA_TYPE_U4, nearest},
      {"whole pixels", wholePixels, EGDA_TYPE_F32, nearest},
      {"identity", nullptr, -1, nearest},
      {"strings", rotate, EGDA_TYPE_STRING, {}},
  };
  for (const auto &c : cases) {
    Estr_StringList *names = nullptr, *descriptions = nullptr;
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(eirf_ResampleMethodsGet(c.x, c.type, &names, &descriptions, &err),
              static_cast<int32_t>(c.names.size())) << c.what;
    EXPECT_EQ(err, nullptr) << c.what;
    EXPECT_EQ(Names(names), c.names) << c.what;
    ASSERT_NE(descriptions, nullptr) << c.what;
    EXPECT_EQ(descriptions->count, names->count) << c.what;
    estr_StringListDelete(names, nullptr);
    estr_StringListDelete(descriptions, nullptr);
  }

  // Without the descriptions, and with trailing arguments.
  Estr_StringList *names = nullptr;
  EXPECT_EQ(eirf_ResampleMethodsGet(rotate, -1, &names, nullptr, nullptr, 0), 3);
  estr_StringListDelete(names, nullptr);

  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(eirf_ResampleMethodsGet(rotate, 14, &names, nullptr, &err), -1);
  ASSERT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(eirf_ResampleMethodsGet(rotate, -1, nullptr, nullptr, &err), -1);
  ASSERT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);

  // Allocation failures leave nothing behind.
  Estr_StringList *d = nullptr;
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) {
        d = nullptr;
        const int32_t count = eirf_ResampleMethodsGet(rotate, -1, &names, &d, e);
        if (count == 3) return true;
        EXPECT_EQ(count, -1);
        EXPECT_EQ(names, nullptr);
        return false;
      },
      [&] {
        estr_StringListDelete(names, nullptr);
        estr_StringListDelete(d, nullptr);
      },
      {.limit = 100});
  for (_exfr_XForm *x : {rotate, halfPixel, wholePixels}) exfr_XFormFree(&x, nullptr);
}

} // namespace
