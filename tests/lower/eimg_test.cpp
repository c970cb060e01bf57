#include "eimg.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __SANITIZE_ADDRESS__
extern "C" size_t __sanitizer_get_current_allocated_bytes(void); // the sanitizer's own count
#endif

#include <chrono>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "crash_testing.h"
#include "egda_pixel.h"
#include "ehfa.h"
#include "emet.h"
#include "emsc.h"
#include "exfr.h"
#include "hfa_testing.h"
#include "taviron_testing.h"

namespace {

using taviron::lower::testing::Sql;

namespace lw = taviron::lower;

// Element (r, c) of a rectangle as a complex double.
std::complex<double> Get(const Egda_BaseData *m, int32_t r, int32_t c) {
  std::complex<double> v;
  lw::DispatchPixelType(m->pixelType, [&](auto t) {
    using T = lw::Pixel<decltype(t)::value>;
    if constexpr (std::is_arithmetic_v<T>) v = double(lw::At<T>(*m, r, c));
    else if constexpr (!std::is_pointer_v<T>) v = {double(lw::At<T>(*m, r, c).real()), double(lw::At<T>(*m, r, c).imag())};
  });
  return v;
}
void Set(Egda_BaseData *m, int32_t r, int32_t c, std::complex<double> v) {
  lw::DispatchPixelType(m->pixelType, [&](auto t) {
    using T = lw::Pixel<decltype(t)::value>;
    if constexpr (std::is_arithmetic_v<T>) lw::At<T>(*m, r, c) = static_cast<T>(v.real());
    else if constexpr (!std::is_pointer_v<T>) lw::At<T>(*m, r, c) = T(v.real(), v.imag());
  });
}

// A value every pixel type holds exactly, different from pixel to pixel.
std::complex<double> Pattern(int32_t type, int32_t x, int32_t y) {
  const int32_t mod = type == EGDA_TYPE_U1 ? 2 : type == EGDA_TYPE_U2 ? 4 : type == EGDA_TYPE_U4 ? 16 : 97;
  double v = (x * 7 + y * 13) % mod;
  if (type == EGDA_TYPE_S8 || type == EGDA_TYPE_S16 || type == EGDA_TYPE_S32 || type >= EGDA_TYPE_F32) v -= 40;
  if (type >= EGDA_TYPE_F32) v += 0.25;
  if (type >= EGDA_TYPE_C64) return {v, -v / 2};
  return {v, 0};
}

using taviron::testing::ErrorSlot;

class EimgTest : public taviron::testing::FolderTest {
protected:
  static void SetUpTestSuite() {
    // The layer's design (kept for the process) is made on first use: make it before counting.
    const taviron::testing::TempDir warm("eimg_warm");
    Eimg_Layer *layer = eimg_LayerCreate((warm / "w.img(:Layer_1)").c_str(), 0, 3, 1, 1, nullptr, nullptr, 0);
    eimg_LayerClose(layer, nullptr);
  }
  std::string Layer(const std::string &file, int n) const { return Path(file) + "(:Layer_" + std::to_string(n) + ")"; }
};

TEST_F(EimgTest, EveryPixelTypeWrittenByStraddlingWindowsReadsBackAfterReopen) {
  constexpr int32_t kWidth = 150, kHeight = 97; // edge blocks of 22 x 33 pixels
  for (int32_t type = EGDA_TYPE_U1; type <= EGDA_TYPE_C128; ++type) {
    SCOPED_TRACE(type);
    const std::string name = Layer("types.img", type + 1);
    ErrorSlot err;
    Eimg_Layer *layer = eimg_LayerCreate(name.c_str(), 1, type, kWidth, kHeight, nullptr, &err, 2, 64, 64, 0);
    ASSERT_NE(nullptr, layer) << err.Message();
    EXPECT_EQ(3, layer->blocksAcross);
    EXPECT_EQ(2, layer->blocksDown);
    // Windows of 40 x 30 from (-10, -7): they cross block borders and hang over every edge.
    Egda_BaseData *rect = eimg_PixelRectCreate(40, 30, type, &err);
    for (int32_t y = -7; y < kHeight; y += 30)
      for (int32_t x = -10; x < kWidth; x += 40) {
        for (int32_t r = 0; r < 30; ++r)
          for (int32_t c = 0; c < 40; ++c) Set(rect, r, c, Pattern(type, x + c, y + r));
        ASSERT_EQ(0, eimg_LayerWrite(layer, x, y, 40, 30, rect, &err)) << err.Message();
      }
    eimg_PixelRectDelete(rect, nullptr);
    eimg_LayerClose(layer, &err);
    ASSERT_FALSE(err) << err.Message();

    layer = eimg_LayerOpen(name.c_str(), nullptr, &err, 0);
    ASSERT_NE(nullptr, layer) << err.Message();
    EXPECT_EQ(kWidth, layer->width);
    EXPECT_EQ(type, layer->pixelType);
    EXPECT_EQ(1, layer->layerType);
    Egda_BaseData *all = eimg_PixelRectCreate(kWidth, kHeight, type, &err);
    ASSERT_EQ(0, eimg_LayerRead(layer, 0, 0, kWidth, kHeight, all, &err)) << err.Message();
    int32_t wrong = 0;
    for (int32_t y = 0; y < kHeight; ++y)
      for (int32_t x = 0; x < kWidth; ++x) wrong += Get(all, y, x) != Pattern(type, x, y);
    EXPECT_EQ(0, wrong);
    eimg_PixelRectDelete(all, nullptr);
    eimg_LayerClose(layer, &err);
    EXPECT_FALSE(err) << err.Message();
  }
}

TEST_F(EimgTest, SmallBlocksAndEvictedBlocksKeepWhatWasWritten) {
  // 4 x 3 blocks: a 100 x 90 layer has 750 blocks, far more than the cache keeps.
  const std::string name = Layer("small.img", 1);
  ErrorSlot err;
  Eimg_Layer *layer = eimg_LayerCreate(name.c_str(), 0, EGDA_TYPE_S16, 100, 90, nullptr, &err, 2, 4, 3, 0);
  ASSERT_NE(nullptr, layer) << err.Message();
  EXPECT_EQ(4, layer->blockWidth);
  EXPECT_EQ(3, layer->blockHeight);
  EXPECT_EQ(25, layer->blocksAcross);
  EXPECT_EQ(30, layer->blocksDown);
  Egda_BaseData *row = eimg_PixelRectCreate(100, 1, EGDA_TYPE_S32, nullptr);
  for (int32_t y = 89; y >= 0; --y) { // bottom up, one row at a time
    for (int32_t x = 0; x < 100; ++x) reinterpret_cast<int32_t *>(row->data)[x] = x * 100 - y;
    ASSERT_EQ(0, eimg_LayerWrite(layer, 0, y, 100, 1, row, &err)) << err.Message();
  }
  // Columns read before closing come through evicted and cached blocks alike.
  Egda_BaseData *column = eimg_PixelRectCreate(1, 90, EGDA_TYPE_F64, nullptr);
  ASSERT_EQ(0, eimg_LayerRead(layer, 37, 0, 1, 90, column, &err)) << err.Message();
  for (int32_t y = 0; y < 90; ++y) EXPECT_EQ(3700 - y, reinterpret_cast<double *>(column->data)[y]);
  eimg_LayerClose(layer, &err);
  ASSERT_FALSE(err) << err.Message();
  layer = eimg_LayerOpen(name.c_str(), nullptr, &err, 0);
  ASSERT_NE(nullptr, layer);
  EXPECT_EQ(4, layer->blockWidth);
  ASSERT_EQ(0, eimg_LayerRead(layer, 99, 0, 1, 90, column, &err));
  for (int32_t y = 0; y < 90; ++y) EXPECT_EQ(9900 - y, reinterpret_cast<double *>(column->data)[y]);
  eimg_LayerClose(layer, nullptr);
  eimg_PixelRectDelete(row, nullptr);
  eimg_PixelRectDelete(column, nullptr);
}

struct ConversionCase {
  int32_t from;
  int32_t to;
  std::vector<double> in;
  std::vector<std::complex<double>> out;
};

TEST_F(EimgTest, PixelRectanglesOfAnotherTypeAreConvertedBothWays) {
  const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
  const std::vector<ConversionCase> cases = {
      // Narrower targets: rounded half away from zero, clamped, NaN 0.
      {EGDA_TYPE_F64, EGDA_TYPE_U8, {-1.5, 0.5, 2.5, 254.6, 300, nan, -0.5}, {0, 1, 3, 255, 255, 0, 0}},
      {EGDA_TYPE_F64, EGDA_TYPE_S16, {-40000, 40000, -2.5, 2.4, 7}, {-32768, 32767, -3, 2, 7}},
      {EGDA_TYPE_S32, EGDA_TYPE_U4, {20, -3, 7, 15, 16}, {15, 0, 7, 15, 15}},
      {EGDA_TYPE_S32, EGDA_TYPE_U1, {2, -1, 1, 0, 5}, {1, 0, 1, 0, 1}},
      {EGDA_TYPE_U32, EGDA_TYPE_S32, {4000000000.0, 5, 0, 2147483647, 1}, {2147483647, 5, 0, 2147483647, 1}},
      {EGDA_TYPE_S16, EGDA_TYPE_S8, {-200, 200, -128, 127, 0}, {-128, 127, -128, 127, 0}},
      {EGDA_TYPE_F64, EGDA_TYPE_F32, {1e300, -1e300, 0.5, inf, 3}, {inf, -inf, 0.5, inf, 3}},
      // Wider targets keep the value; real into complex has imaginary part 0.
      {EGDA_TYPE_U8, EGDA_TYPE_F64, {0, 255, 17, 3, 9}, {0, 255, 17, 3, 9}},
      {EGDA_TYPE_S8, EGDA_TYPE_C64, {-5, 5, 0, 1, 2}, {-5, 5, 0, 1, 2}},
      {EGDA_TYPE_F32, EGDA_TYPE_U16, {-3, 65535.4, 65535.6, 1.5, 2}, {0, 65535, 65535, 2, 2}},
  };
  int n = 0;
  for (const ConversionCase &k : cases) {
    SCOPED_TRACE(::testing::Message() << k.from << " -> " << k.to);
    const int32_t count = static_cast<int32_t>(k.in.size());
    // Written from a rectangle of type `from` into a layer of type `to`...
    const std::string name = Layer("convert.img", ++n);
    ErrorSlot err;
    Eimg_Layer *layer = eimg_LayerCreate(name.c_str(), 1, k.to, count, 1, nullptr, &err, 0);
    ASSERT_NE(nullptr, layer);
    Egda_BaseData *in = eimg_PixelRectCreate(count, 1, k.from, nullptr);
    for (int32_t i = 0; i < count; ++i) Set(in, 0, i, k.in[i]);
    ASSERT_EQ(0, eimg_LayerWrite(layer, 0, 0, count, 1, in, &err)) << err.Message();
    Egda_BaseData *same = eimg_PixelRectCreate(count, 1, k.to, nullptr);
    ASSERT_EQ(0, eimg_LayerRead(layer, 0, 0, count, 1, same, &err));
    for (int32_t i = 0; i < count; ++i) EXPECT_EQ(k.out[i], Get(same, 0, i)) << i;
    eimg_LayerClose(layer, nullptr);
    // ... and read from a layer of type `from` into a rectangle of type `to`.
    const std::string back = Layer("convert.img", 100 + n);
    layer = eimg_LayerCreate(back.c_str(), 1, k.from, count, 1, nullptr, &err, 0);
    ASSERT_EQ(0, eimg_LayerWrite(layer, 0, 0, count, 1, in, &err));
    ASSERT_EQ(0, eimg_LayerRead(layer, 0, 0, count, 1, same, &err)) << err.Message();
    for (int32_t i = 0; i < count; ++i) EXPECT_EQ(k.out[i], Get(same, 0, i)) << i;
    eimg_LayerClose(layer, nullptr);
    eimg_PixelRectDelete(in, nullptr);
    eimg_PixelRectDelete(same, nullptr);
  }
}

TEST_F(EimgTest, ComplexToRealTakesTheRealPartAndTablesAreColumnMajor) {
  ErrorSlot err;
  Eimg_Layer *layer = eimg_LayerCreate(Layer("c.img", 1).c_str(), 2, EGDA_TYPE_C64, 3, 2, nullptr, &err, 0);
  ASSERT_NE(nullptr, layer);
  // A 2 x 3 f64 matrix (column by column) written as a window: element (r, c) is pixel (c, r).
  Egda_BaseData *m = egda_BaseDataCreate(2, 3, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  for (int32_t r = 0; r < 2; ++r)
    for (int32_t c = 0; c < 3; ++c) Set(m, r, c, 10 * r + c + 0.5);
  ASSERT_EQ(0, eimg_LayerWrite(layer, 0, 0, 3, 2, m, &err)) << err.Message();
  Egda_BaseData *s = eimg_PixelRectCreate(3, 2, EGDA_TYPE_S16, nullptr);
  ASSERT_EQ(0, eimg_LayerRead(layer, 0, 0, 3, 2, s, &err));
  EXPECT_EQ(std::complex<double>(1), Get(s, 0, 0));  // 0.5 rounds away from zero
  EXPECT_EQ(std::complex<double>(13), Get(s, 1, 2)); // 12.5
  eimg_LayerClose(layer, nullptr);
  egda_BaseDataDelete(m, nullptr);
  eimg_PixelRectDelete(s, nullptr);
}

TEST_F(EimgTest, OutsideTheLayerReadsGiveTheBoundaryValueAndWritesAreDropped) {
  ErrorSlot err;
  const std::string name = Layer("edge.img", 1);
  Eimg_Layer *layer = eimg_LayerCreate(name.c_str(), 0, EGDA_TYPE_U8, 8, 8, nullptr, &err, 0);
  ASSERT_NE(nullptr, layer);
  Egda_BaseData *big = eimg_PixelRectCreate(10, 10, EGDA_TYPE_U8, nullptr);
  std::memset(big->data, 9, 100);
  ASSERT_EQ(0, eimg_LayerWrite(layer, -5, -5, 10, 10, big, &err)); // only 5 x 5 lands
  ASSERT_EQ(0, eimg_LayerWrite(layer, 100, 100, 10, 10, big, &err)); // nothing lands
  Egda_BaseData *f = eimg_PixelRectCreate(12, 12, EGDA_TYPE_F32, nullptr);
  ASSERT_EQ(0, eimg_LayerRead(layer, -2, -2, 12, 12, f, &err));
  auto at = [&](int32_t x, int32_t y) { return Get(f, y + 2, x + 2).real(); };
  EXPECT_EQ(0, at(-1, -1)); // default boundary value 0
  EXPECT_EQ(9, at(4, 4));
  EXPECT_EQ(0, at(5, 4)); // never written: 0
  EXPECT_EQ(0, at(8, 8));
  // Keyword 6 sets the boundary value from a 1 x 1 f64 rectangle.
  Egda_BaseData *boundary = eimg_PixelRectCreate(1, 1, EGDA_TYPE_F64, nullptr);
  reinterpret_cast<double *>(boundary->data)[0] = 42.5;
  ASSERT_EQ(0, eimg_LayerChangeOptions(layer, &err, 6, boundary, 0));
  ASSERT_EQ(0, eimg_LayerRead(layer, -2, -2, 12, 12, f, &err));
  EXPECT_EQ(42.5, at(-1, -1));
  EXPECT_EQ(42.5, at(9, 0));
  EXPECT_EQ(42.5, at(0, 9));
  EXPECT_EQ(9, at(0, 0));
  EXPECT_EQ(0, at(7, 7)); // inside the layer, never written: still 0
  Egda_BaseData *byte = eimg_PixelRectCreate(3, 1, EGDA_TYPE_U8, nullptr);
  ASSERT_EQ(0, eimg_LayerRead(layer, -1000, 50, 3, 1, byte, &err)); // wholly outside
  EXPECT_EQ(43, byte->data[0]);                                    // converted as a pixel
  ASSERT_EQ(0, eimg_LayerChangeOptions(layer, &err, 6, nullptr, 0));
  ASSERT_EQ(0, eimg_LayerRead(layer, -1000, 50, 3, 1, byte, &err));
  EXPECT_EQ(0, byte->data[0]);
  eimg_LayerClose(layer, nullptr);
  for (Egda_BaseData *m : {big, f, boundary, byte}) eimg_PixelRectDelete(m, nullptr);
}

TEST_F(EimgTest, BadWindowsAndRectanglesAreRefused) {
  ErrorSlot err;
  Eimg_Layer *layer = eimg_LayerCreate(Layer("bad.img", 1).c_str(), 0, EGDA_TYPE_U8, 8, 8, nullptr, &err, 0);
  Egda_BaseData *small = eimg_PixelRectCreate(2, 2, EGDA_TYPE_U8, nullptr);
  Egda_BaseData *strings = egda_BaseDataCreate(2, 2, EGDA_TYPE_STRING, EGDA_RASTER, nullptr, nullptr);
  struct Case {
    Eimg_Layer *layer;
    int32_t w, h;
    Egda_BaseData *rect;
  } cases[] = {{nullptr, 1, 1, small}, {layer, 3, 2, small}, {layer, -1, 1, small}, {layer, 1, 1, nullptr},
               {layer, 1, 1, strings}};
  for (const Case &c : cases) {
    EXPECT_EQ(-1, eimg_LayerRead(c.layer, 0, 0, c.w, c.h, c.rect, &err));
    EXPECT_TRUE(err);
    EXPECT_EQ(-1, eimg_LayerWrite(c.layer, 0, 0, c.w, c.h, c.rect, &err));
    EXPECT_TRUE(err);
  }
  EXPECT_EQ(0, eimg_LayerRead(layer, 0, 0, 0, 0, small, &err)); // an empty window does nothing
  eimg_LayerClose(layer, nullptr);
  eimg_PixelRectDelete(small, nullptr);
  egda_BaseDataDelete(strings, nullptr);
}

TEST_F(EimgTest, ReadTransformResamples) {
  ErrorSlot err;
  const std::string name = Layer("warp.img", 1);
  Eimg_Layer *layer = eimg_LayerCreate(name.c_str(), 1, EGDA_TYPE_F32, 6, 4, nullptr, &err, 0);
  Egda_BaseData *rect = eimg_PixelRectCreate(6, 4, EGDA_TYPE_F32, nullptr);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 6; ++x) Set(rect, y, x, 10 * y + x);
  ASSERT_EQ(0, eimg_LayerWrite(layer, 0, 0, 6, 4, rect, &err));
  Egda_BaseData *boundary = eimg_PixelRectCreate(1, 1, EGDA_TYPE_F64, nullptr);
  reinterpret_cast<double *>(boundary->data)[0] = -1;
  ASSERT_EQ(0, eimg_LayerChangeOptions(layer, &err, 6, boundary, 0));
  Egda_BaseData *out = eimg_PixelRectCreate(3, 2, EGDA_TYPE_F64, nullptr);
  auto v = [&](int32_t x, int32_t y) { return Get(out, y, x).real(); };

  // Destination (x, y) reads source (x + 2, y + 1).
  _exfr_XForm *shift = exfr_XFormCreateUsingCoeffs(1, 0, 2, 0, 1, 1, nullptr);
  ASSERT_EQ(0, eimg_LayerChangeOptions(layer, &err, 41, shift, "Nearest Neighbor", 0)) << err.Message();
  EXPECT_NE(nullptr, eimg_LayerTransformationQuery(layer));
  ASSERT_EQ(0, eimg_LayerRead(layer, 2, 1, 3, 2, out, &err)) << err.Message();
  EXPECT_EQ(24, v(0, 0));
  EXPECT_EQ(35, v(1, 1));
  EXPECT_EQ(-1, v(2, 1)); // source (6, 3) lies outside
  // The renderer's raster access never goes through the transform.
  ASSERT_EQ(0, eimg_LayerRasterPixelRectGet(layer, 2, 1, 3, 2, out, &err));
  EXPECT_EQ(12, v(0, 0));

  // Half a pixel: bilinear averages the neighbours, nearest takes the one below-right.
  _exfr_XForm *half = exfr_XFormCreateUsingCoeffs(1, 0, 0.5, 0, 1, 0.5, nullptr);
  ASSERT_EQ(0, eimg_LayerChangeOptions(layer, &err, 41, half, "Bilinear Interpolation", 0));
  ASSERT_EQ(0, eimg_LayerRead(layer, 0, 0, 3, 2, out, &err)) << err.Message();
  EXPECT_DOUBLE_EQ(5.5, v(0, 0));
  EXPECT_DOUBLE_EQ(17.5, v(2, 1));
  ASSERT_EQ(0, eimg_LayerChangeOptions(layer, &err, 41, half, "Cubic Convolution", 0));
  ASSERT_EQ(0, eimg_LayerRead(layer, 1, 1, 3, 1, out, &err));
  EXPECT_NEAR(16.5, v(0, 0), 1e-9); // a linear ramp is reproduced
  ASSERT_EQ(0, eimg_LayerChangeOptions(layer, &err, 41, half, "Nearest Neighbor", 0));
  ASSERT_EQ(0, eimg_LayerRead(layer, 0, 0, 1, 1, out, &err));
  EXPECT_EQ(11, v(0, 0));
  // Into a narrower type: interpolated values are rounded.
  ASSERT_EQ(0, eimg_LayerChangeOptions(layer, &err, 41, half, "Bilinear Interpolation", 0));
  Egda_BaseData *bytes = eimg_PixelRectCreate(1, 1, EGDA_TYPE_U8, nullptr);
  ASSERT_EQ(0, eimg_LayerRead(layer, 0, 0, 1, 1, bytes, &err));
  EXPECT_EQ(6, bytes->data[0]);

  EXPECT_EQ(-1, eimg_LayerChangeOptions(layer, &err, 41, half, "Sinc", 0));
  EXPECT_TRUE(err);
  ASSERT_EQ(0, eimg_LayerChangeOptions(layer, &err, 41, nullptr, nullptr, 0));
  EXPECT_EQ(nullptr, eimg_LayerTransformationQuery(layer));
  ASSERT_EQ(0, eimg_LayerRead(layer, 2, 1, 1, 1, out, &err));
  EXPECT_EQ(12, v(0, 0));
  exfr_XFormFree(&shift, nullptr);
  exfr_XFormFree(&half, nullptr);
  eimg_LayerClose(layer, nullptr);
  for (Egda_BaseData *m : {rect, boundary, out, bytes}) eimg_PixelRectDelete(m, nullptr);
}

// Reads through a transform at the far end of a layer as wide as the 32-bit range, and with
// sources far beyond any layer: the samples inside take the layer's pixels, those beyond its edge
// the boundary value, and no position overflows on the way.
TEST_F(EimgTest, ReadTransformSamplesAtTheEndOfTheWidestLayer) {
  constexpr int32_t kWidth = std::numeric_limits<int32_t>::max();
  constexpr int32_t kFirst = kWidth - 4; // the four last columns hold 0, 1, 2, 3 in every row
  ErrorSlot err;
  Eimg_Layer *layer = eimg_LayerCreate(Layer("wide.img", 1).c_str(), 1, EGDA_TYPE_F32, kWidth, 3, nullptr, &err, 0);
  ASSERT_NE(nullptr, layer) << Chain(err);
  Egda_BaseData *rect = eimg_PixelRectCreate(4, 3, EGDA_TYPE_F32, nullptr);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 4; ++x) Set(rect, y, x, x);
  ASSERT_EQ(0, eimg_LayerWrite(layer, kFirst, 0, 4, 3, rect, &err)) << Chain(err);
  Egda_BaseData *boundary = eimg_PixelRectCreate(1, 1, EGDA_TYPE_F64, nullptr);
  reinterpret_cast<double *>(boundary->data)[0] = -1;
  ASSERT_EQ(0, eimg_LayerChangeOptions(layer, &err, EIMG_OPTION_BOUNDARY_VALUE, boundary, 0));
  Egda_BaseData *out = eimg_PixelRectCreate(6, 1, EGDA_TYPE_F64, nullptr);
  struct Case {
    const char *method;
    double x; // the source column of destination column 0 (destination column j reads x + j)
    std::vector<double> expected;
  } cases[] = {
      {"Nearest Neighbor", kFirst, {0, 1, 2, 3, -1, -1}},
      {"Bilinear Interpolation", kFirst + 0.5, {0.5, 1.5, 2.5, 1, -1, -1}},
      {"Cubic Convolution", kFirst + 1.5, {1.5, 2.8125, 1.0625, -1, -1, -1}},
      {"Cubic Convolution", 1e18, {-1, -1, -1, -1, -1, -1}},
      {"Bilinear Interpolation", -1e300, {-1, -1, -1, -1, -1, -1}},
      {"Nearest Neighbor", std::numeric_limits<double>::infinity(), {-1, -1, -1, -1, -1, -1}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.method) + " from " + std::to_string(c.x));
    _exfr_XForm *shift = exfr_XFormCreateUsingCoeffs(1, 0, c.x, 0, 1, 1, nullptr);
    ASSERT_EQ(0, eimg_LayerChangeOptions(layer, &err, EIMG_OPTION_READ_TRANSFORM, shift, c.method, 0)) << Chain(err);
    exfr_XFormFree(&shift, nullptr);
    ASSERT_EQ(0, eimg_LayerRead(layer, 0, 0, 6, 1, out, &err)) << Chain(err);
    for (int32_t j = 0; j < 6; ++j) EXPECT_NEAR(c.expected[static_cast<std::size_t>(j)], Get(out, 0, j).real(), 1e-9) << j;
  }
  eimg_LayerClose(layer, nullptr);
  for (Egda_BaseData *m : {rect, boundary, out}) eimg_PixelRectDelete(m, nullptr);
}

TEST_F(EimgTest, OptionKeywordsAreAcceptedWithTheirValuesAndUnknownOnesRefused) {
  ErrorSlot err;
  Eimg_Layer *layer = eimg_LayerCreate(Layer("opts.img", 1).c_str(), 0, EGDA_TYPE_U8, 4, 4, nullptr, &err, 4, 256,
                                       25, 0);
  ASSERT_NE(nullptr, layer) << err.Message();
  Emet_MeterInfo meter{};
  Egda_BaseData *excluded = egda_BaseDataCreate(1, 1, EGDA_TYPE_F64, EGDA_TABLE, nullptr, nullptr);
  int aoi = 0;
  EXPECT_EQ(0, eimg_LayerChangeOptions(layer, &err, 3, 26, 7, 14, &meter, 21, 11, 29, 9, "Descriptor_Table", 256,
                                       nullptr, 10, nullptr, nullptr, 22, excluded, 28, 1, 34, 2, 2, 27, &aoi, 2, 8,
                                       8, 0))
      << err.Message();
  EXPECT_EQ(&aoi, layer->aoi);
  egda_BaseDataDelete(excluded, nullptr); // the layer keeps its own copy
  // A render context stored by the rendering is freed when the area of interest changes.
  static int freed = 0;
  layer->aoiRenderContext = emsc_HeapMalloc(8);
  layer->aoiRenderContextFree = [](void *context) {
    ++freed;
    emsc_HeapFree(context);
  };
  EXPECT_EQ(0, eimg_LayerChangeOptions(layer, &err, 27, nullptr, 0));
  EXPECT_EQ(1, freed);
  EXPECT_EQ(nullptr, layer->aoi);
  EXPECT_EQ(-1, eimg_LayerChangeOptions(layer, &err, 99, 0));
  EXPECT_NE(std::string::npos, err.Message().find("99"));
  EXPECT_EQ(nullptr, eimg_LayerOpen(Layer("opts.img", 1).c_str(), nullptr, &err, 5, 0));
  EXPECT_TRUE(err);
  eimg_LayerClose(layer, nullptr);
  // Invalid block sizes and layer descriptions are refused at creation.
  EXPECT_EQ(nullptr, eimg_LayerCreate(Layer("opts.img", 2).c_str(), 0, 3, 4, 4, nullptr, &err, 2, 0, 8, 0));
  EXPECT_TRUE(err);
  EXPECT_EQ(nullptr, eimg_LayerCreate(Layer("opts.img", 2).c_str(), 0, EGDA_TYPE_F64, 4, 4, nullptr, &err, 2, 4096,
                                      4096, 0));
  EXPECT_TRUE(err); // blocks of 128 MiB
  EXPECT_EQ(nullptr, eimg_LayerCreate(Layer("opts.img", 2).c_str(), 3, 3, 4, 4, nullptr, &err, 0));
  EXPECT_TRUE(err);
  EXPECT_EQ(nullptr, eimg_LayerCreate(Layer("opts.img", 2).c_str(), 0, 13, 4, 4, nullptr, &err, 0));
  EXPECT_TRUE(err);
  EXPECT_EQ(nullptr, eimg_LayerCreate(Layer("opts.img", 2).c_str(), 0, 3, 0, 4, nullptr, &err, 0));
  EXPECT_TRUE(err);
  EXPECT_EQ(nullptr, eimg_LayerCreate(Path("opts.img").c_str(), 0, 3, 4, 4, nullptr, &err, 0));
  EXPECT_TRUE(err);
}

std::vector<double> percents;
void RecordPercent(Emet_MeterInfo *, void *, double percent, Eerr_ErrorReport **) { percents.push_back(percent); }

TEST_F(EimgTest, TheMeterFollowsTheWritingOfBlocksAtClose) {
  Emet_MeterFuncs table{};
  table.print = &RecordPercent;
  emet_SetAltMeterFuncs(&table, nullptr, nullptr);
  percents.clear();
  Emet_MeterInfo meter{};
  emet_MeterInfoSet(&meter, 0, 100, nullptr);
  ErrorSlot err;
  Eimg_Layer *layer =
      eimg_LayerCreate(Layer("meter.img", 1).c_str(), 1, EGDA_TYPE_U8, 300, 300, nullptr, &err, 14, &meter, 0);
  Egda_BaseData *rect = eimg_PixelRectCreate(300, 300, EGDA_TYPE_U8, nullptr);
  ASSERT_EQ(0, eimg_LayerWrite(layer, 0, 0, 300, 300, rect, &err));
  eimg_LayerClose(layer, &err);
  emet_SetAltMeterFuncs(nullptr, nullptr, nullptr);
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(0, percents.front());
  EXPECT_EQ(100, percents.back());
  eimg_PixelRectDelete(rect, nullptr);
}

TEST_F(EimgTest, NamesOfLayersAndFiles) {
  ErrorSlot err;
  for (int n : {1, 2, 3}) eimg_LayerClose(eimg_LayerCreate(Layer("n.img", n).c_str(), 0, 3, 2, 2, nullptr, &err, 0), nullptr);
  eimg_LayerClose(eimg_LayerCreate((Path("n.img") + "(:extra)").c_str(), 0, 3, 2, 2, nullptr, &err, 0), nullptr);
  const Emif_Design *design = emif_DesignCreate(nullptr, "EimgTestRecord", nullptr, EMIF_TYPE_S32, "value", 0);
  int32_t value = 5;
  ASSERT_EQ(0, eimg_FileDataWrite((Path("n.img") + "(:Other)").c_str(), design, &value, &err, 24)) << err.Message();
  Estr_StringList *names = eimg_LayerGetNames(Path("n.img").c_str(), nullptr, &err);
  ASSERT_NE(nullptr, names) << err.Message();
  ASSERT_EQ(4, names->count); // not the record node
  EXPECT_EQ(Layer("n.img", 1), names->strings[0]);
  EXPECT_EQ(Layer("n.img", 3), names->strings[2]);
  EXPECT_EQ(Path("n.img") + "(:extra)", names->strings[3]);
  eimg_LayerNameStackDelete(names, nullptr);

  // A name without a layer part opens the first layer.
  Eimg_Layer *first = eimg_LayerOpen(Path("n.img").c_str(), nullptr, &err, 0);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(Layer("n.img", 1), first->name);
  eimg_LayerClose(first, nullptr);

  struct ParseCase {
    const char *name;
    const char *file;
    const char *layer;
  } parses[] = {{"a/b.img(:Layer_2)", "a/b.img", "Layer_2"},
                {"b.img:Layer_1", "b.img", "Layer_1"},
                {"C:/x.img(:Band)", "C:/x.img", "Band"},
                {"plain.img", "plain.img", ""}};
  for (const ParseCase &c : parses) {
    char *file = nullptr, *layer = nullptr;
    ASSERT_EQ(0, eimg_LayerNameParse(c.name, &file, &layer, &err)) << c.name;
    EXPECT_STREQ(c.file, file);
    EXPECT_STREQ(c.layer, layer);
    emsc_HeapFree(file);
    emsc_HeapFree(layer);
  }
  EXPECT_EQ(-1, eimg_LayerNameParse("x.img(:Layer_1", nullptr, nullptr, &err));
  EXPECT_TRUE(err);

  Estr_StringList *made = eimg_LayerNameStackCreate("out.img", 2, &err);
  ASSERT_NE(nullptr, made);
  EXPECT_STREQ("out.img(:Layer_2)", made->strings[1]);
  eimg_LayerNameStackDelete(made, nullptr);

  // Missing files, layers and nodes that are not layers.
  struct Missing {
    std::string name;
  } missing[] = {{Path("none.img")}, {Layer("n.img", 9)}, {Path("n.img") + "(:Other)"}};
  for (const Missing &m : missing) {
    EXPECT_EQ(nullptr, eimg_LayerOpen(m.name.c_str(), nullptr, &err, 0)) << m.name;
    EXPECT_TRUE(err);
  }
  EXPECT_EQ(nullptr, eimg_LayerCreate((Path("n.img") + "(:Other)").c_str(), 0, 3, 2, 2, nullptr, &err, 0));
  EXPECT_TRUE(err);
  EXPECT_EQ(nullptr, eimg_LayerGetNames(Path("none.img").c_str(), nullptr, &err));
  EXPECT_TRUE(err);
  std::ofstream(Path("text.img")) << "not an image";
  EXPECT_EQ(nullptr, eimg_LayerGetNames(Path("text.img").c_str(), nullptr, &err));
  EXPECT_TRUE(err);
  EXPECT_EQ(nullptr, eimg_LayerCreate(Layer("text.img", 1).c_str(), 0, 3, 2, 2, nullptr, &err, 0));
  EXPECT_TRUE(err); // an existing file that is not an image is never replaced
  emif_DesignDestroy(const_cast<Emif_Design *>(design));
}

// A layer made again over an old one leaves the old layer in the file, whole, until its first
// commit (a flush, its close, a record written below it) replaces it: until then the old layer's
// record, pixels and map information are what readers see, and the new layer sees none of them.
TEST_F(EimgTest, CreatingALayerAgainReplacesItAtItsFirstCommit) {
  ErrorSlot err;
  const std::string name = Layer("again.img", 1);
  Egda_BaseData *rect = eimg_PixelRectCreate(4, 4, EGDA_TYPE_U8, nullptr);
  Eprj_MapInfo *info = eprj_MapInfoCreate(nullptr);
  eprj_MapInfoProjectionNameSet(info, "UTM", nullptr);
  eprj_MapInfoUnitsSet(info, "meters", nullptr);
  eprj_MapInfoPixelSizeSet(info, 10, 10, nullptr);
  auto makeOld = [&] {
    Eimg_Layer *old = eimg_LayerCreate(name.c_str(), 0, EGDA_TYPE_U8, 4, 4, nullptr, &err, 0);
    ASSERT_NE(nullptr, old) << err.Message();
    std::memset(rect->data, 7, 16);
    ASSERT_EQ(0, eimg_LayerWrite(old, 0, 0, 4, 4, rect, &err)) << err.Message();
    ASSERT_EQ(0, eimg_MapInfoWrite(old, info, &err)) << err.Message();
    eimg_LayerClose(old, &err);
    ASSERT_FALSE(err) << err.Message();
  };
  // What a reader of the file finds: width, pixel (1, 1), map information stored or not.
  struct Seen {
    int32_t width, pixel;
    bool mapped;
    bool operator==(const Seen &) const = default;
  };
  auto seen = [&]() -> Seen {
    Eimg_Layer *layer = eimg_LayerOpen(name.c_str(), nullptr, &err, 0);
    EXPECT_NE(nullptr, layer) << err.Message();
    if (!layer) return {0, 0, false};
    EXPECT_EQ(0, eimg_LayerRead(layer, 0, 0, 4, 4, rect, &err)) << err.Message();
    Eprj_MapInfo *stored = eimg_MapInfoRead(layer, nullptr, &err);
    const Seen result{layer->width, rect->data[5], stored != nullptr};
    eprj_MapInfoFree(&stored);
    eimg_LayerClose(layer, nullptr);
    return result;
  };
  const Seen oldLayer{4, 7, true};
  for (const char *commit : {"flush", "close", "map information"}) {
    SCOPED_TRACE(commit);
    makeOld();
    Eimg_Layer *fresh = eimg_LayerCreate(name.c_str(), 0, EGDA_TYPE_U16, 5, 5, nullptr, &err, 0);
    ASSERT_NE(nullptr, fresh) << err.Message();
    EXPECT_EQ(oldLayer, seen());
    // The new layer holds nothing of the old one.
    ASSERT_EQ(0, eimg_LayerRead(fresh, 0, 0, 4, 4, rect, &err)) << err.Message();
    EXPECT_EQ(std::vector<uint8_t>(16, 0), std::vector<uint8_t>(rect->data, rect->data + 16));
    EXPECT_EQ(nullptr, eimg_MapInfoRead(fresh, nullptr, &err));
    EXPECT_FALSE(err) << err.Message();
    std::memset(rect->data, 3, 16);
    ASSERT_EQ(0, eimg_LayerWrite(fresh, 0, 0, 2, 2, rect, &err)) << err.Message();
    EXPECT_EQ(oldLayer, seen());
    Seen expected{5, 3, false};
    if (commit == std::string("flush")) {
      ASSERT_EQ(0, eimg_LayerRasterFlush(fresh, 0, &err)) << err.Message();
    } else if (commit == std::string("close")) {
      eimg_LayerClose(std::exchange(fresh, nullptr), &err);
      ASSERT_FALSE(err) << err.Message();
    } else {
      ASSERT_EQ(0, eimg_MapInfoWrite(fresh, info, &err)) << err.Message();
      expected = {5, 0, true}; // the pixels wait for the flush
    }
    EXPECT_EQ(expected, seen());
    eimg_LayerClose(fresh, &err);
    ASSERT_FALSE(err) << err.Message();
    EXPECT_EQ((Seen{5, 3, commit != std::string("flush") && commit != std::string("close")}), seen());
  }
  Estr_StringList *names = eimg_LayerGetNames(Path("again.img").c_str(), nullptr, &err);
  ASSERT_NE(nullptr, names) << err.Message();
  EXPECT_EQ(1, names->count);
  eimg_LayerNameStackDelete(names, nullptr);
  eprj_MapInfoFree(&info);
  eimg_PixelRectDelete(rect, nullptr);
}

// Making a layer again over an old one, killed at random moments, leaves the old layer or the new
// one as of its last flush: never a layer of zeros, never a torn one.
TEST_F(EimgTest, CreatingALayerAgainKilledAtRandomLeavesTheOldLayerOrAFlushedNewOne) {
  constexpr int32_t kSide = 128, kTrials = 60;
  const std::string name = Layer("killed.img", 1);
  auto fill = [&](int32_t value) {
    Eimg_Layer *layer = eimg_LayerCreate(name.c_str(), 1, EGDA_TYPE_U8, kSide, kSide, nullptr, nullptr, 2, 32, 32, 0);
    Egda_BaseData *rect = eimg_PixelRectCreate(kSide, kSide, EGDA_TYPE_U8, nullptr);
    std::memset(rect->data, value, static_cast<std::size_t>(kSide) * kSide);
    const bool ok = layer && rect && eimg_LayerWrite(layer, 0, 0, kSide, kSide, rect, nullptr) == 0 &&
                    eimg_LayerRasterFlush(layer, 0, nullptr) == 0;
    eimg_PixelRectDelete(rect, nullptr);
    eimg_LayerClose(layer, nullptr);
    return ok;
  };
  std::mt19937 random(23);
  int32_t old = 0, replaced = 0, zero = 0, torn = 0;
  for (int32_t trial = 0; trial < kTrials; ++trial) {
    ASSERT_TRUE(fill(1));
    const std::string said = taviron::testing::RunAndKill(
        [&](const taviron::testing::ChildMessages &messages, auto end) {
          messages.Say("ready");
          for (int32_t generation = 2; std::chrono::steady_clock::now() < end; ++generation)
            if (!fill(2 + generation % 200)) _exit(1);
        },
        std::chrono::microseconds(random() % 40000));
    ASSERT_TRUE(said.empty() || said[0] != '!') << said;
    ErrorSlot err;
    Eimg_Layer *layer = eimg_LayerOpen(name.c_str(), nullptr, &err, 0);
    ASSERT_NE(nullptr, layer) << err.Message();
    Egda_BaseData *all = eimg_PixelRectCreate(kSide, kSide, EGDA_TYPE_U8, nullptr);
    ASSERT_EQ(0, eimg_LayerRead(layer, 0, 0, kSide, kSide, all, &err)) << err.Message();
    const std::set<uint8_t> values(all->data, all->data + int64_t{kSide} * kSide);
    eimg_PixelRectDelete(all, nullptr);
    eimg_LayerClose(layer, nullptr);
    if (values.size() > 1) ++torn;
    else if (*values.begin() == 0) ++zero;
    else if (*values.begin() == 1) ++old;
    else ++replaced;
  }
  EXPECT_EQ(0, zero + torn) << "of " << kTrials << " kills: " << zero << " layers of zeros, " << torn
                            << " torn, " << old << " old, " << replaced << " replaced";
}

TEST_F(EimgTest, StacksMoveOneWindowOfEveryLayer) {
  ErrorSlot err;
  Estr_StringList *names = eimg_LayerNameStackCreate(Path("stack.img").c_str(), 3, &err);
  Eimg_LayerStack *stack = eimg_LayerStackCreate(names, 1, EGDA_TYPE_S16, 70, 70, nullptr, &err, 7, 21, 25, 0);
  ASSERT_NE(nullptr, stack) << err.Message();
  ASSERT_EQ(3, stack->count);
  Egda_BaseDataStack *rects = eimg_PixelRectStackCreate(3, 70, 70, EGDA_TYPE_S32, &err);
  for (int32_t k = 0; k < 3; ++k)
    for (int32_t i = 0; i < 70 * 70; ++i) reinterpret_cast<int32_t *>(rects->layers[k]->data)[i] = i * (k + 1) % 30000;
  // Layers sharing one file, written in turn.
  ASSERT_EQ(0, eimg_LayerStackWrite(stack, 0, 0, 70, 35, rects, &err)) << err.Message();
  ASSERT_EQ(0, eimg_LayerStackWrite(stack, 0, 0, 70, 70, rects, &err)) << err.Message();
  eimg_LayerStackClose(stack, &err);
  ASSERT_FALSE(err) << err.Message();
  stack = eimg_LayerStackOpen(names, nullptr, &err, 3, 0);
  ASSERT_NE(nullptr, stack) << err.Message();
  EXPECT_EQ(70, stack->layers[2]->width);
  Egda_BaseDataStack *back = eimg_PixelRectStackCreate(3, 70, 70, EGDA_TYPE_S32, &err);
  ASSERT_EQ(0, eimg_LayerStackRead(stack, 0, 0, 70, 70, back, &err));
  for (int32_t k = 0; k < 3; ++k)
    EXPECT_EQ(0, std::memcmp(rects->layers[k]->data, back->layers[k]->data, 70 * 70 * 4)) << k;
  Egda_BaseDataStack *copy = eimg_PixelRectStackCopy(back, nullptr, &err);
  ASSERT_NE(nullptr, copy);
  EXPECT_EQ(0, std::memcmp(copy->layers[1]->data, back->layers[1]->data, 70 * 70 * 4));
  ASSERT_EQ(0, eimg_LayerStackRasterPixelRectStackGet(stack, 0, 0, 70, 70, copy, &err));
  ASSERT_EQ(0, eimg_LayerStackChangeOptions(stack, &err, 6, nullptr, 0));
  // Too few rectangles.
  Egda_BaseDataStack *two = eimg_PixelRectStackCreate(2, 70, 70, EGDA_TYPE_S32, &err);
  EXPECT_EQ(-1, eimg_LayerStackRead(stack, 0, 0, 70, 70, two, &err));
  EXPECT_TRUE(err);
  eimg_LayerStackClose(stack, &err);
  // Results of eimg_PixelRectStackCreate are freed by either delete.
  egda_BaseDataStackDelete(two, nullptr);
  eimg_PixelRectStackDelete(copy, nullptr);
  eimg_PixelRectStackDelete(back, nullptr);
  eimg_PixelRectStackDelete(rects, nullptr);
  // A stack with a missing layer does not open.
  estr_StringListAppend(names, Layer("stack.img", 9).c_str(), nullptr);
  EXPECT_EQ(nullptr, eimg_LayerStackOpen(names, nullptr, &err, 0));
  EXPECT_TRUE(err);
  eimg_LayerNameStackDelete(names, nullptr);
}

TEST_F(EimgTest, TheRenderersRasterAccessWritesPixelsAndFlushes) {
  ErrorSlot err;
  const std::string name = Layer("render.img", 1);
  Eimg_Layer *layer = eimg_LayerCreate(name.c_str(), 1, EGDA_TYPE_U8, 20, 10, nullptr, &err, 0);
  Egda_BaseData *pixel = eimg_PixelRectCreate(1, 1, EGDA_TYPE_U8, nullptr);
  pixel->data[0] = 200;
  ASSERT_EQ(0, eimg_LayerRasterPixelRectSet(layer, 19, 9, 1, 1, pixel, &err));
  ASSERT_EQ(0, eimg_LayerRasterFlush(layer, 4, &err));
  // Another opening of the same file sees the flushed pixel.
  Eimg_Layer *other = eimg_LayerOpen(name.c_str(), nullptr, &err, 0);
  Egda_BaseData *block = eimg_PixelRectCreate(2, 2, EGDA_TYPE_U8, nullptr);
  ASSERT_EQ(0, eimg_LayerRasterPixelRectGet(other, 18, 8, 2, 2, block, &err));
  EXPECT_EQ(200, block->data[3]);
  eimg_LayerClose(other, nullptr);
  eimg_LayerClose(layer, nullptr);
  eimg_PixelRectDelete(pixel, nullptr);
  eimg_PixelRectDelete(block, nullptr);
}

// Transforms one point.
std::pair<double, double> Apply(const _exfr_XForm *xform, double x, double y) {
  Egda_BaseData *p = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  auto *v = reinterpret_cast<double *>(p->data);
  v[0] = x;
  v[1] = y;
  exfr_Transform(xform, p, p, nullptr);
  const std::pair<double, double> result{v[0], v[1]};
  egda_BaseDataDelete(p, nullptr);
  return result;
}

TEST_F(EimgTest, ALayerWithoutGeoreferencingHasTheDefaultMapInformation) {
  ErrorSlot err;
  Eimg_Layer *layer = eimg_LayerCreate(Layer("map.img", 1).c_str(), 1, EGDA_TYPE_U8, 10, 5, nullptr, &err, 0);
  Eprj_MapInfo *info = eimg_LayerMapInfoGet(layer, &err);
  ASSERT_NE(nullptr, info) << err.Message();
  EXPECT_STREQ("Unknown", info->proName.data);
  EXPECT_STREQ("other", info->units.data);
  EXPECT_EQ(0, info->upperLeftCenter->x);
  EXPECT_EQ(9, info->lowerRightCenter->x);
  EXPECT_EQ(-4, info->lowerRightCenter->y);
  EXPECT_EQ(1, info->pixelSize->width);
  eprj_MapInfoFree(&info);
  // Nothing stored: null without a report.
  EXPECT_EQ(nullptr, eimg_MapInfoRead(layer, nullptr, &err));
  EXPECT_FALSE(err);
  EXPECT_EQ(nullptr, eimg_ProParametersRead(layer, nullptr, &err));
  EXPECT_FALSE(err);
  Eprj_MapProjection *projection = reinterpret_cast<Eprj_MapProjection *>(&err);
  EXPECT_EQ(0, eimg_LayerMapProjectionRead(layer, &projection, &err));
  EXPECT_EQ(nullptr, projection);
  // The transform of the triple is the default's map-to-pixel: column = x, row = -y.
  Eprj_MapInfo *stored = nullptr;
  _exfr_XForm *xform = nullptr;
  ASSERT_EQ(0, eimg_LayerMapInformationRead(layer, &stored, nullptr, &xform, &err)) << err.Message();
  EXPECT_EQ(nullptr, stored);
  ASSERT_NE(nullptr, xform);
  EXPECT_EQ(std::make_pair(3.0, 2.0), Apply(xform, 3, -2));
  exfr_XFormFree(&xform, nullptr);
  eimg_LayerClose(layer, nullptr);
}

// UTM zone 32 on WGS 84.
Eprj_ProParameters *Utm() {
  Eprj_ProParameters *p = eprj_ProParametersCreate(nullptr);
  p->proNumber = 1;
  p->proZone = 32;
  eprj_CharStrCreate("UTM", &p->proName, nullptr);
  eprj_DblArrayCreate(15, &p->proParams, nullptr);
  eprj_SpheroidByName(nullptr, "WGS 84", &p->proSpheroid, nullptr);
  eprj_DatumByName(nullptr, "WGS 84", "WGS 84", &p->proSpheroid.datum, nullptr);
  return p;
}

TEST_F(EimgTest, MapInformationAndProjectionAreStoredWithTheLayer) {
  ErrorSlot err;
  const std::string name = Layer("geo.img", 1);
  Eimg_Layer *layer = eimg_LayerCreate(name.c_str(), 1, EGDA_TYPE_U8, 10, 5, nullptr, &err, 0);
  Eprj_MapInfo *info = eprj_MapInfoCreate(nullptr);
  eprj_MapInfoProjectionNameSet(info, "UTM", nullptr);
  eprj_MapInfoUnitsSet(info, "meters", nullptr);
  eprj_MapInfoUpperLeftCenterSet(info, 500000, 4000000, nullptr);
  eprj_MapInfoLowerRightCenterSet(info, 500090, 3999960, nullptr);
  eprj_MapInfoPixelSizeSet(info, 10, 10, nullptr);
  Eprj_ProParameters *utm = Utm();
  ASSERT_EQ(0, eimg_MapInfoWrite(layer, info, &err)) << err.Message();
  ASSERT_EQ(0, eimg_ProParametersWrite(layer, utm, &err)) << err.Message();
  eimg_LayerClose(layer, &err);
  ASSERT_FALSE(err);

  layer = eimg_LayerOpen(name.c_str(), nullptr, &err, 0);
  Eprj_MapInfo *read = eimg_MapInfoRead(layer, nullptr, &err);
  ASSERT_NE(nullptr, read) << err.Message();
  EXPECT_EQ(1, eprj_MapInfosEqual(info, read, nullptr));
  eprj_MapInfoFree(&read);
  read = eimg_LayerMapInfoGet(layer, &err);
  EXPECT_EQ(1, eprj_MapInfosEqual(info, read, nullptr));
  eprj_MapInfoFree(&read);
  Eprj_ProParameters *parameters = eimg_ProParametersRead(layer, nullptr, &err);
  ASSERT_NE(nullptr, parameters) << err.Message();
  EXPECT_EQ(1, eprj_ProParametersEqual(utm, parameters, nullptr));
  eprj_ProParametersFree(&parameters);
  Eprj_MapProjection *projection = nullptr;
  ASSERT_EQ(0, eimg_LayerMapProjectionRead(layer, &projection, &err)) << err.Message();
  ASSERT_NE(nullptr, projection);
  EXPECT_EQ(32, eprj_MapProjectionCSRGet(projection, "Eprj_ProParameters")->proZone);
  // Map to pixel through the stored map information.
  _exfr_XForm *xform = nullptr;
  ASSERT_EQ(0, eimg_LayerMapInformationRead(layer, &read, &parameters, &xform, &err)) << err.Message();
  EXPECT_EQ(1, eprj_MapInfosEqual(info, read, nullptr));
  EXPECT_NE(nullptr, parameters);
  EXPECT_EQ(std::make_pair(1.0, 2.0), Apply(xform, 500010, 3999980));
  // The triple written to another layer, with its own transform, reads back as written.
  Eimg_Layer *other = eimg_LayerCreate(Layer("geo.img", 2).c_str(), 1, EGDA_TYPE_U8, 10, 5, nullptr, &err, 0);
  _exfr_XForm *shifted = exfr_XFormTranslate(exfr_XFormCopy(xform, nullptr, nullptr), -1, 0, nullptr);
  ASSERT_EQ(0, eimg_LayerMapInformationWrite(other, read, parameters, shifted, &err)) << err.Message();
  ASSERT_EQ(0, eimg_LayerMapProjectionWrite(other, projection, &err)) << err.Message();
  _exfr_XForm *back = nullptr;
  ASSERT_EQ(0, eimg_LayerMapInformationRead(other, nullptr, nullptr, &back, &err)) << err.Message();
  EXPECT_EQ(std::make_pair(0.0, 2.0), Apply(back, 500010, 3999980));
  EXPECT_EQ(-1, eimg_LayerMapProjectionWrite(other, nullptr, &err));
  EXPECT_TRUE(err);
  EXPECT_EQ(-1, eimg_MapInfoWrite(other, nullptr, &err));
  EXPECT_TRUE(err);
  eimg_LayerClose(other, nullptr);
  // Making the layer again drops what was stored below it.
  other = eimg_LayerCreate(Layer("geo.img", 2).c_str(), 1, EGDA_TYPE_U8, 10, 5, nullptr, &err, 0);
  EXPECT_EQ(nullptr, eimg_MapInfoRead(other, nullptr, &err));
  eimg_LayerClose(other, nullptr);
  for (_exfr_XForm **x : {&xform, &shifted, &back}) exfr_XFormFree(x, nullptr);
  eprj_ProjectionFree(&projection);
  eprj_ProParametersFree(&parameters);
  eprj_ProParametersFree(&utm);
  eprj_MapInfoFree(&read);
  eprj_MapInfoFree(&info);
  eimg_LayerClose(layer, nullptr);
}

TEST_F(EimgTest, RecordsAtNodesOfImageFiles) {
  ErrorSlot err;
  struct Orig {
    int32_t width, height;
  } orig{300, 200};
  const Emif_Design *design =
      emif_DesignCreate(nullptr, "EimgTestOrig", nullptr, EMIF_TYPE_S32, "width", EMIF_TYPE_S32, "height", 0);
  const std::string node = Path("f.img") + "(:OrigLayer)";
  ASSERT_EQ(0, eimg_FileDataWrite(node.c_str(), design, &orig, &err, 24)) << err.Message();
  orig.width = 301;
  ASSERT_EQ(0, eimg_FileDataWrite(node.c_str(), design, &orig, &err, 24)); // rewritten in place
  const Emif_Design *given = design;
  void *data = nullptr;
  ASSERT_NE(nullptr, eimg_FileDataRead(node.c_str(), &given, &data, &err)) << err.Message();
  EXPECT_EQ(301, static_cast<Orig *>(data)->width);
  emif_ObjectFree(design, data);
  // Without a design the stored one is used; it is kept for the process (made once).
  const int64_t before = emsc_TestLiveBlocks();
  for (int pass = 0; pass < 2; ++pass) {
    const Emif_Design *stored = nullptr;
    ASSERT_NE(nullptr, eimg_FileDataRead(node.c_str(), &stored, &data, &err));
    ASSERT_NE(nullptr, stored);
    EXPECT_STREQ("EimgTestOrig", emif_DesignName(stored));
    EXPECT_EQ(200, static_cast<Orig *>(data)->height);
    emif_ObjectFree(stored, data);
    if (pass == 0) live_ += emsc_TestLiveBlocks() - before;
  }
  given = design;
  EXPECT_EQ(nullptr, eimg_FileDataRead((Path("f.img") + "(:Orig_Layer)").c_str(), &given, &data, &err));
  EXPECT_TRUE(err);
  EXPECT_EQ(nullptr, eimg_FileDataRead((Path("g.img") + "(:OrigLayer)").c_str(), &given, &data, &err));
  EXPECT_TRUE(err);
  emif_DesignDestroy(const_cast<Emif_Design *>(design));
}

TEST_F(EimgTest, DestroyingImageFiles) {
  ErrorSlot err;
  Eimg_Layer *layer = eimg_LayerCreate(Layer("d.img", 1).c_str(), 0, 3, 2, 2, nullptr, &err, 0);
  EXPECT_EQ(-1, eimg_FileDestroy(Path("d.img").c_str(), &err)); // still open
  EXPECT_TRUE(err);
  eimg_LayerClose(layer, nullptr);
  EXPECT_EQ(0, eimg_FileDestroy(Layer("d.img", 1).c_str(), &err)) << err.Message();
  struct stat st;
  EXPECT_NE(0, stat(Path("d.img").c_str(), &st));
  EXPECT_EQ(-1, eimg_FileDestroy(Path("d.img").c_str(), &err));
  EXPECT_TRUE(err);
  std::ofstream(Path("keep.txt")) << "text";
  EXPECT_EQ(-1, eimg_FileDestroy(Path("keep.txt").c_str(), &err));
  EXPECT_EQ(0, stat(Path("keep.txt").c_str(), &st));
}

TEST_F(EimgTest, CorruptAndTruncatedFilesGiveReports) {
  ErrorSlot err;
  const std::string file = Path("bad.img");
  auto make = [&] {
    std::remove(file.c_str());
    Eimg_Layer *layer = eimg_LayerCreate(Layer("bad.img", 1).c_str(), 1, EGDA_TYPE_F32, 100, 100, nullptr, &err, 2, 64, 64, 0);
    Egda_BaseData *rect = eimg_PixelRectCreate(100, 100, EGDA_TYPE_F32, nullptr);
    eimg_LayerWrite(layer, 0, 0, 100, 100, rect, &err);
    eimg_LayerClose(layer, nullptr);
    eimg_PixelRectDelete(rect, nullptr);
  };
  struct Case {
    const char *what;
    const char *sql;
    bool opens;
  } cases[] = {
      {"short block", "UPDATE block SET data = x'0102' WHERE row = 1 AND col = 1", true},
      {"null block", "UPDATE block SET data = NULL WHERE row = 0 AND col = 0", true},
      {"garbage record", "UPDATE entry SET data = x'01' WHERE type = 'Eimg_Layer'", false},
      {"negative width",
       "UPDATE entry SET data = x'9CFFFFFF64000000010000000900000040000000' || x'40000000' WHERE type = 'Eimg_Layer'",
       false},
      {"huge blocks",
       "UPDATE entry SET data = x'6400000064000000010000000900000000100000' || x'00100000' WHERE type = 'Eimg_Layer'",
       false},
      {"pixel type 20",
       "UPDATE entry SET data = x'6400000064000000010000001400000040000000' || x'40000000' WHERE type = 'Eimg_Layer'",
       false},
  };
  Egda_BaseData *rect = eimg_PixelRectCreate(100, 100, EGDA_TYPE_F32, nullptr);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    make();
    Sql(file, c.sql);
    Eimg_Layer *layer = eimg_LayerOpen(Layer("bad.img", 1).c_str(), nullptr, &err, 0);
    if (!c.opens) {
      EXPECT_EQ(nullptr, layer);
      EXPECT_TRUE(err);
      continue;
    }
    ASSERT_NE(nullptr, layer) << err.Message();
    EXPECT_EQ(-1, eimg_LayerRead(layer, 0, 0, 100, 100, rect, &err));
    EXPECT_TRUE(err);
    eimg_LayerClose(layer, nullptr);
  }
  // A file cut short.
  make();
  struct stat st;
  ASSERT_EQ(0, stat(file.c_str(), &st));
  ASSERT_EQ(0, truncate(file.c_str(), st.st_size / 3));
  Eimg_Layer *layer = eimg_LayerOpen(Layer("bad.img", 1).c_str(), nullptr, &err, 0);
  if (layer) {
    eimg_LayerRead(layer, 0, 0, 100, 100, rect, &err);
    eimg_LayerClose(layer, nullptr);
  } else {
    EXPECT_TRUE(err);
  }
  eimg_PixelRectDelete(rect, nullptr);
}

TEST_F(EimgTest, CreateFunctionsSurviveAllocationFailures) {
  const std::string name = Layer("oom.img", 1);
  // Each call made with every allocation failing in turn; what a successful call made is freed.
  auto sweep = [&](const char *what, auto call, auto free) {
    SCOPED_TRACE(what);
    taviron::testing::SweepAllocationFailures([&](Eerr_ErrorReport **err) { return call(err) != nullptr; }, free,
                                              {.limit = 500});
  };
  Eimg_Layer *layer = nullptr;
  const auto closeLayer = [&] { eimg_LayerClose(layer, nullptr); };
  sweep(
      "create",
      [&](Eerr_ErrorReport **err) {
        return layer = eimg_LayerCreate(name.c_str(), 0, EGDA_TYPE_U8, 100, 100, nullptr, err, 0);
      },
      closeLayer);
  sweep("open", [&](Eerr_ErrorReport **err) { return layer = eimg_LayerOpen(name.c_str(), nullptr, err, 0); },
        closeLayer);
  Egda_BaseData *rect = nullptr;
  sweep("pixel rectangle", [&](Eerr_ErrorReport **err) { return rect = eimg_PixelRectCreate(10, 10, EGDA_TYPE_F64, err); },
        [&] { eimg_PixelRectDelete(rect, nullptr); });
  Estr_StringList *names = nullptr;
  const auto makeNames = [&](Eerr_ErrorReport **err) {
    return names = eimg_LayerNameStackCreate(Path("oom.img").c_str(), 3, err);
  };
  sweep("names", makeNames, [&] { eimg_LayerNameStackDelete(names, nullptr); });
  ASSERT_NE(makeNames(nullptr), nullptr);
  Eimg_LayerStack *stack = nullptr;
  sweep(
      "stack",
      [&](Eerr_ErrorReport **err) {
        return stack = eimg_LayerStackCreate(names, 0, EGDA_TYPE_U8, 10, 10, nullptr, err, 0);
      },
      [&] { eimg_LayerStackClose(stack, nullptr); });
  eimg_LayerNameStackDelete(names, nullptr);
}

// ---- Layers of one file written side by side ----

// Two u8 layers of 640 x 1024 pixels (10 x 16 blocks of 64, more than the cache keeps) written one
// generation after the other, a generation being one value in every pixel written in 16 bands of
// one block row each.
class BandsTest : public EimgTest {
protected:
  static constexpr int32_t kBlock = 64, kWidth = 640, kHeight = 1024, kBands = 16, kBandRows = kHeight / kBands;

  // The value of every pixel of layer (0 or 1) after its generation g (0: never written).
  static int32_t Value(int32_t layer, int32_t generation) {
    return generation == 0 ? 0 : 1 + (generation * 2 + layer) % 250;
  }
  // A fresh "bands.img" with both layers, never written (a copy of one made once).
  void CreateLayers() {
    if (access(Path("empty_bands.img").c_str(), F_OK) != 0)
      for (int n = 1; n <= 2; ++n) {
        Eimg_Layer *layer = eimg_LayerCreate(Layer("empty_bands.img", n).c_str(), 1, EGDA_TYPE_U8, kWidth, kHeight,
                                             nullptr, nullptr, 2, kBlock, kBlock, 0);
        ASSERT_NE(nullptr, layer);
        eimg_LayerClose(layer, nullptr);
      }
    std::remove(Path("bands.img-journal").c_str());
    std::ifstream in(Path("empty_bands.img"), std::ios::binary);
    std::ofstream(Path("bands.img"), std::ios::binary | std::ios::trunc) << in.rdbuf();
  }
  static int32_t WriteBand(Eimg_Layer *layer, Egda_BaseData *rect, int32_t band, int32_t value) {
    std::memset(rect->data, value, static_cast<std::size_t>(kWidth) * kBandRows);
    return eimg_LayerWrite(layer, 0, band * kBandRows, kWidth, kBandRows, rect, nullptr);
  }
  // The values found in the layer's pixels.
  std::set<int32_t> Values(int n) const {
    std::set<int32_t> values;
    ErrorSlot err;
    Eimg_Layer *layer = eimg_LayerOpen(Layer("bands.img", n).c_str(), nullptr, &err, 0);
    EXPECT_NE(nullptr, layer) << err.Message();
    if (!layer) return values;
    Egda_BaseData *all = eimg_PixelRectCreate(kWidth, kHeight, EGDA_TYPE_U8, nullptr);
    EXPECT_EQ(0, eimg_LayerRead(layer, 0, 0, kWidth, kHeight, all, &err)) << err.Message();
    bool seen[256] = {};
    for (int64_t i = 0; i < int64_t{kWidth} * kHeight; ++i) seen[all->data[i]] = true;
    for (int32_t v = 0; v < 256; ++v)
      if (seen[v]) values.insert(v);
    eimg_PixelRectDelete(all, nullptr);
    eimg_LayerClose(layer, nullptr);
    return values;
  }
};

// A layer that was never flushed keeps its old pixels when another layer of its file is flushed
// and the process ends.
TEST_F(BandsTest, ALayerNeverFlushedKeepsItsOldPixelsWhenAnotherIsFlushed) {
  CreateLayers();
  const pid_t child = fork();
  if (child == 0) {
    Eimg_Layer *first = eimg_LayerOpen(Layer("bands.img", 1).c_str(), nullptr, nullptr, 0);
    Eimg_Layer *second = eimg_LayerOpen(Layer("bands.img", 2).c_str(), nullptr, nullptr, 0);
    Egda_BaseData *rect = eimg_PixelRectCreate(kWidth, kBandRows, EGDA_TYPE_U8, nullptr);
    for (int32_t band = 0; band < kBands; ++band)
      if (WriteBand(first, rect, band, Value(0, 1)) != 0 || WriteBand(second, rect, band, Value(1, 1)) != 0) _exit(1);
    _exit(eimg_LayerRasterFlush(second, 0, nullptr) == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(std::set<int32_t>{Value(0, 0)}, Values(1));
  EXPECT_EQ(std::set<int32_t>{Value(1, 1)}, Values(2));
}

// A writer interleaving two layers of one file, killed at random moments, leaves each layer as of
// its last flush (or the flush under way), never torn.
TEST_F(BandsTest, InterleavedWritersKilledAtRandomLeaveEveryLayerAsOfItsLastFlush) {
  std::mt19937 random(15);
  for (int trial = 0; trial < 24; ++trial) {
    SCOPED_TRACE(trial);
    CreateLayers();
    // Layer 1 flushes after bands 0..15 of each generation, layer 2 half a generation later.
    const std::string said = taviron::testing::RunAndKill(
        [&](const taviron::testing::ChildMessages &messages, auto end) {
          Eimg_Layer *layers[2] = {eimg_LayerOpen(Layer("bands.img", 1).c_str(), nullptr, nullptr, 0),
                                   eimg_LayerOpen(Layer("bands.img", 2).c_str(), nullptr, nullptr, 0)};
          Egda_BaseData *rect = eimg_PixelRectCreate(kWidth, kBandRows, EGDA_TYPE_U8, nullptr);
          if (!layers[0] || !layers[1] || !rect) _exit(1);
          int32_t generation[2] = {0, 0};
          messages.Say("ready");
          for (int32_t step = 0; std::chrono::steady_clock::now() < end; ++step)
            for (int32_t n = 0; n < 2; ++n) {
              const int32_t band = step - n * kBands / 2;
              if (band < 0) continue;
              if (WriteBand(layers[n], rect, band % kBands, Value(n, generation[n] + 1)) != 0) _exit(1);
              if (band % kBands != kBands - 1) continue;
              messages.Say("begin " + std::to_string(n) + " " + std::to_string(generation[n] + 1));
              if (eimg_LayerRasterFlush(layers[n], 0, nullptr) != 0) _exit(1);
              messages.Say("done " + std::to_string(n) + " " + std::to_string(++generation[n]));
            }
        },
        std::chrono::microseconds(random() % 200000));
    ASSERT_TRUE(said.empty() || said[0] != '!') << said;
    // The generations each layer may hold: the last one flushed, and the one being flushed.
    std::set<int32_t> allowed[2] = {{0}, {0}};
    std::istringstream lines(said);
    std::string what;
    for (int32_t n, generation; lines >> what >> n >> generation;) {
      if (what == "done") allowed[n] = {};
      allowed[n].insert(Value(n, generation));
    }
    for (int32_t n = 0; n < 2; ++n) {
      const std::set<int32_t> values = Values(n + 1);
      EXPECT_EQ(1u, values.size()) << "layer " << n + 1 << " is torn";
      if (values.size() == 1) {
        EXPECT_EQ(1u, allowed[n].count(*values.begin())) << "layer " << n + 1 << " holds " << *values.begin();
      }
    }
  }
}

// The raster calls of map information report a failure to look for the stored records instead of
// answering as if there were none.
TEST_F(EimgTest, FailuresWhileLookingForMapInformationAreReported) {
  const std::string name = Layer("lookup.img", 1);
  Eimg_Layer *layer = eimg_LayerCreate(name.c_str(), 1, EGDA_TYPE_U8, 10, 5, nullptr, nullptr, 0);
  Eprj_MapInfo *info = eprj_MapInfoCreate(nullptr);
  eprj_MapInfoProjectionNameSet(info, "UTM", nullptr);
  eprj_MapInfoUnitsSet(info, "meters", nullptr);
  eprj_MapInfoUpperLeftCenterSet(info, 500000, 4000000, nullptr);
  eprj_MapInfoLowerRightCenterSet(info, 500090, 3999960, nullptr);
  eprj_MapInfoPixelSizeSet(info, 10, 10, nullptr);
  Eprj_ProParameters *utm = Utm();
  ASSERT_EQ(0, eimg_MapInfoWrite(layer, info, nullptr));
  ASSERT_EQ(0, eimg_ProParametersWrite(layer, utm, nullptr));
  eimg_LayerClose(layer, nullptr);
  eprj_MapInfoFree(&info);
  eprj_ProParametersFree(&utm);
  // Each allocation of each call fails in turn, the layer opened afresh every time.
  // The projection library does not survive a failing operator new (it writes through the null
  // it gets): the reads that reach it have their heap swept only.
  auto sweep = [&](const char *what, auto call, bool reachesProjections = false) {
    SCOPED_TRACE(what);
    Eimg_Layer *fresh = nullptr;
    taviron::testing::SweepOptions options{.limit = 2000, .operatorNew = !reachesProjections};
    options.prepare = [&] { ASSERT_NE(nullptr, fresh = eimg_LayerOpen(name.c_str(), nullptr, nullptr, 0)); };
    options.finish = [&] { eimg_LayerClose(fresh, nullptr); };
    taviron::testing::SweepAllocationFailures([&](Eerr_ErrorReport **err) { return call(fresh, err); }, options);
  };
  // Success is the stored record; the default "Unknown" or no projection would be a lie.
  sweep("map information", [](Eimg_Layer *l, Eerr_ErrorReport **err) {
    Eprj_MapInfo *got = eimg_LayerMapInfoGet(l, err);
    const bool stored = got && std::string("UTM") == got->proName.data;
    EXPECT_TRUE(!got || stored) << got->proName.data;
    eprj_MapInfoFree(&got);
    return stored;
  });
  sweep("projection", [](Eimg_Layer *l, Eerr_ErrorReport **err) {
    Eprj_MapProjection *projection = nullptr;
    const int32_t rc = eimg_LayerMapProjectionRead(l, &projection, err);
    EXPECT_TRUE(rc != 0 || projection) << "0 without a projection";
    const bool found = rc == 0 && projection;
    eprj_ProjectionFree(&projection);
    return found;
  }, true);
}

// Bytes the process holds on its heap (freed memory an allocator keeps back not counted).
int64_t HeapBytes() {
#ifdef __SANITIZE_ADDRESS__
  return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#else
  const struct mallinfo2 info = mallinfo2();
  return static_cast<int64_t>(info.uordblks + info.hblkhd);
#endif
}

// The block cache keeps within its 64 MiB whatever the block size: of 12 blocks of 16 MiB read
// one after the other, 4 stay.
TEST_F(EimgTest, TheBlockCacheKeepsItsCapWithLargeBlocks) {
  constexpr int32_t kBlocks = 12;
  ErrorSlot err;
  Eimg_Layer *layer = eimg_LayerCreate(Layer("large.img", 1).c_str(), 1, EGDA_TYPE_F32, 4096, kBlocks * 1024, nullptr,
                                       &err, 2, 4096, 1024, 0);
  ASSERT_NE(nullptr, layer) << err.Message();
  Egda_BaseData *pixel = eimg_PixelRectCreate(1, 1, EGDA_TYPE_F64, nullptr);
  const int64_t before = HeapBytes();
  for (int32_t block = 0; block < kBlocks; ++block)
    ASSERT_EQ(0, eimg_LayerRead(layer, 0, block * 1024, 1, 1, pixel, &err)) << err.Message();
  const int64_t grown = HeapBytes() - before;
  EXPECT_LE(grown, (int64_t{64} << 20) + (int64_t{1} << 20)) << grown / (1 << 20) << " MiB";
  eimg_PixelRectDelete(pixel, nullptr);
  eimg_LayerClose(layer, &err);
  EXPECT_FALSE(err) << err.Message();
}

// A window over more blocks than the cache keeps (of 1 MiB: 64 at most) comes in row of blocks by
// row of blocks: blocks stored, changed blocks not yet flushed (in memory, or let go to the spill
// file by the read itself) and blocks never written (zeros) all read right, before and after
// reopening.
TEST_F(EimgTest, AWindowOverMoreBlocksThanTheCacheKeepsReadsEveryBlock) {
  constexpr int32_t kWidth = 4096, kSide = 256, kBlocks = 70, kColumn = 1000, kRun = 10;
  const std::string name = Layer("tall.img", 1);
  ErrorSlot err;
  Eimg_Layer *layer = eimg_LayerCreate(name.c_str(), 1, EGDA_TYPE_U8, kWidth, kBlocks * kSide, nullptr, &err, 2,
                                       kWidth, kSide, 0);
  ASSERT_NE(nullptr, layer) << err.Message();
  const auto stored = [](int32_t block) { return block % 5 == 0; };    // flushed
  const auto changed = [](int32_t block) { return block % 7 == 3; };   // written after the flush
  const auto expected = [&](int32_t y) {
    const int32_t block = y / kSide, offset = y % kSide - 3;
    return (stored(block) || changed(block)) && offset >= 0 && offset < kRun ? (block + offset) % 251 + 1 : 0;
  };
  Egda_BaseData *run = eimg_PixelRectCreate(1, kRun, EGDA_TYPE_U8, nullptr);
  const auto write = [&](auto which) {
    for (int32_t block = 0; block < kBlocks; ++block) {
      if (!which(block)) continue;
      for (int32_t i = 0; i < kRun; ++i) run->data[i] = static_cast<uint8_t>((block + i) % 251 + 1);
      ASSERT_EQ(0, eimg_LayerWrite(layer, kColumn, block * kSide + 3, 1, kRun, run, &err)) << err.Message();
    }
  };
  Egda_BaseData *column = eimg_PixelRectCreate(1, kBlocks * kSide, EGDA_TYPE_U8, nullptr);
  const auto check = [&] {
    ASSERT_EQ(0, eimg_LayerRead(layer, kColumn, 0, 1, kBlocks * kSide, column, &err)) << err.Message();
    int32_t wrong = 0;
    for (int32_t y = 0; y < kBlocks * kSide; ++y) wrong += column->data[y] != expected(y);
    EXPECT_EQ(0, wrong);
  };
  write(stored);
  ASSERT_EQ(0, eimg_LayerRasterFlush(layer, 0, &err)) << err.Message();
  write(changed);
  check();
  eimg_LayerClose(layer, &err);
  ASSERT_FALSE(err) << err.Message();
  layer = eimg_LayerOpen(name.c_str(), nullptr, &err, 0);
  ASSERT_NE(nullptr, layer) << err.Message();
  check();
  eimg_LayerClose(layer, &err);
  EXPECT_FALSE(err) << err.Message();
  eimg_PixelRectDelete(run, nullptr);
  eimg_PixelRectDelete(column, nullptr);
}

// While a layer of a file is open (and has evicted blocks), another handle on the file opens,
// reads and writes at once, and what both write is kept.
TEST_F(BandsTest, ASecondHandleOnTheFileWorksWhileALayerIsOpen) {
  CreateLayers();
  ErrorSlot err;
  Eimg_Layer *layer = eimg_LayerOpen(Layer("bands.img", 1).c_str(), nullptr, &err, 0);
  ASSERT_NE(nullptr, layer) << err.Message();
  Egda_BaseData *rect = eimg_PixelRectCreate(kWidth, kBandRows, EGDA_TYPE_U8, nullptr);
  for (int32_t band = 0; band < kBands; ++band) ASSERT_EQ(0, WriteBand(layer, rect, band, 7));
  Eprj_MapInfo *info = eprj_MapInfoCreate(nullptr);
  eprj_MapInfoProjectionNameSet(info, "UTM", nullptr);
  eprj_MapInfoUnitsSet(info, "meters", nullptr);
  ASSERT_EQ(0, eimg_MapInfoWrite(layer, info, &err)) << err.Message();
  eprj_MapInfoFree(&info);

  const auto start = std::chrono::steady_clock::now();
  Ehfa_File *other = ehfa_FileOpen(Path("bands.img").c_str(), "r+", nullptr, &err);
  ASSERT_NE(nullptr, other) << err.Message();
  EXPECT_NE(nullptr, ehfa_EntrySeek(other, 8, ":Layer_1:Map_Info", &err)) << err.Message();
  const Emif_Design *num = emif_DesignCreate(other->dictionary, "Num", nullptr, EMIF_TYPE_S32, "value", 0);
  const int32_t value = 42;
  EXPECT_NE(nullptr, ehfa_ObjectWrite(other, ":", "note", "Num", 3, &value, num, &err)) << err.Message();
  ehfa_FileFlush(other, &err);
  EXPECT_FALSE(err) << err.Message();
  ehfa_FileClose(other, &err);
  EXPECT_FALSE(err) << err.Message();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

  // The layer's side goes on (a design new to the file included) and keeps the other's entry.
  Eprj_ProParameters *utm = Utm();
  ASSERT_EQ(0, eimg_ProParametersWrite(layer, utm, &err)) << err.Message();
  eprj_ProParametersFree(&utm);
  eimg_LayerClose(layer, &err);
  EXPECT_FALSE(err) << err.Message();
  eimg_PixelRectDelete(rect, nullptr);
  EXPECT_EQ(std::set<int32_t>{7}, Values(1));
  other = ehfa_FileOpen(Path("bands.img").c_str(), "r", nullptr, &err);
  ASSERT_NE(nullptr, other) << err.Message();
  int32_t read = 0;
  const Emif_Design *stored = emif_FindDesignByName(other->dictionary, "Num", nullptr);
  ASSERT_NE(nullptr, stored);
  EXPECT_NE(nullptr, ehfa_ObjectRead(other, nullptr, ":note", 8, &read, stored, &err)) << err.Message();
  EXPECT_EQ(42, read);
  ehfa_FileClose(other, nullptr);
}

// Layers of a file written before the present block and page sizes read, and take new pixels.
TEST_F(EimgTest, LayersWrittenBeforeStillReadAndWrite) {
  const std::string file = Path("before.img");
  {
    std::ifstream in(TAVIRON_TEST_DATA_DIR "/layers_before_sibling_index.img", std::ios::binary);
    std::ofstream(file, std::ios::binary) << in.rdbuf();
  }
  auto check = [&](int n, int32_t changed) {
    ErrorSlot err;
    Eimg_Layer *layer = eimg_LayerOpen((file + "(:Layer_" + std::to_string(n) + ")").c_str(), nullptr, &err, 0);
    ASSERT_NE(nullptr, layer) << err.Message();
    EXPECT_EQ(n == 1 ? EGDA_TYPE_U8 : EGDA_TYPE_F32, layer->pixelType);
    EXPECT_EQ(64, layer->blockWidth);
    Egda_BaseData *all = eimg_PixelRectCreate(100, 70, EGDA_TYPE_F64, nullptr);
    ASSERT_EQ(0, eimg_LayerRead(layer, 0, 0, 100, 70, all, &err)) << err.Message();
    int32_t wrong = 0;
    for (int32_t y = 0; y < 70; ++y)
      for (int32_t x = 0; x < 100; ++x) {
        const double expected = x == 99 && y == 69 && changed ? changed : (x * 7 + y * 13) % 97 + (n == 2 ? 0.25 : 0);
        wrong += lw::At<double>(*all, y, x) != expected;
      }
    EXPECT_EQ(0, wrong);
    Eprj_MapInfo *info = eimg_LayerMapInfoGet(layer, &err);
    ASSERT_NE(nullptr, info) << err.Message();
    EXPECT_STREQ("UTM", info->proName.data);
    EXPECT_EQ(30, info->pixelSize->width);
    eprj_MapInfoFree(&info);
    if (!changed) {
      lw::At<double>(*all, 0, 0) = 5;
      EXPECT_EQ(0, eimg_LayerWrite(layer, 99, 69, 1, 1, all, &err)) << err.Message();
    }
    eimg_PixelRectDelete(all, nullptr);
    eimg_LayerClose(layer, &err);
    EXPECT_FALSE(err) << err.Message();
  };
  for (int n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    check(n, 0);
    check(n, 5);
  }
}

} // namespace
