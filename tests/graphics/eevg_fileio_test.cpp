// The file device: callbacks drawing into unsigned 8-bit raster layers.
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "eevg_internal.h"
#include "eevg.h"
#include "eimg.h"
#include "emsc.h"
#include "graphics_testing.h"
#include "taviron_testing.h"

namespace {

namespace fs = std::filesystem;
using taviron::testing::Chain;
using taviron::testing::Reported;
using taviron::testing::ErrorSlot;
using Pixels = std::vector<std::pair<int32_t, int32_t>>;

Pixels Walk(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  Pixels pixels;
  taviron::graphics::WalkVector(
      x0, y0, x1, y1,
      [](void *context, int32_t x, int32_t y) {
        static_cast<Pixels *>(context)->emplace_back(x, y);
        return true;
      },
      &pixels);
  return pixels;
}

TEST(FileDeviceVector, PixelsAndTheirOrder) {
  struct Case {
    int32_t x0, y0, x1, y1;
    Pixels expected;
  } cases[] = {
      {0, 0, 3, 1, {{3, 1}, {2, 1}, {1, 1}, {0, 0}}},
      {3, 1, 0, 0, {{3, 1}, {2, 1}, {1, 1}, {0, 0}}},
      {5, 5, 5, 5, {{5, 5}}},
      {0, 2, 3, 2, {{3, 2}, {2, 2}, {1, 2}, {0, 2}}}, // equal rows: from the second end
      {0, 0, 0, 3, {{0, 3}, {0, 2}, {0, 1}, {0, 0}}},
      {0, 0, 1, 3, {{1, 3}, {1, 2}, {1, 1}, {0, 0}}},
      {4, 0, 0, 4, {{0, 4}, {1, 3}, {2, 2}, {3, 1}, {4, 0}}},
      {-2, 1, 2, -1, {{-2, 1}, {-1, 1}, {0, 0}, {1, 0}, {2, -1}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message() << c.x0 << "," << c.y0 << " " << c.x1 << "," << c.y1);
    EXPECT_EQ(Walk(c.x0, c.y0, c.x1, c.y1), c.expected);
  }
  // The walk stops at the first refused pixel.
  int calls = 0;
  EXPECT_FALSE(taviron::graphics::WalkVector(
      0, 0, 9, 0, [](void *context, int32_t, int32_t) { return ++*static_cast<int *>(context) < 3; }, &calls));
  EXPECT_EQ(calls, 3);
}

// Three 40 x 30 unsigned 8-bit layers in a scratch file, and a float layer.
class FileDeviceTest : public ::testing::Test {
protected:
  void SetUp() override {
    const std::string file = File();
    ErrorSlot err;
    for (int i = 0; i < 3; ++i) {
      layers_[i] = eimg_LayerCreate((file + "(:Layer_" + std::to_string(i + 1) + ")").c_str(), EIMG_ATHEMATIC,
                                    EGDA_TYPE_U8, 40, 30, nullptr, &err, 0);
      ASSERT_NE(layers_[i], nullptr) << Chain(err.get());
    }
    floats_ = eimg_LayerCreate((file + "(:Layer_4)").c_str(), EIMG_ATHEMATIC, EGDA_TYPE_F32, 40, 30, nullptr, &err, 0);
    ASSERT_NE(floats_, nullptr) << Chain(err.get());
  }
  void TearDown() override {
    eevg_GrIOInfoFree(&device_);
    for (Eimg_Layer *layer : layers_) eimg_LayerClose(layer, nullptr);
    eimg_LayerClose(floats_, nullptr);
  }
  std::string File() const { return dir_ / "image.img"; }
  int Pixel(int layer, int32_t x, int32_t y) {
    Egda_BaseData *rect = eimg_PixelRectCreate(1, 1, EGDA_TYPE_U8, nullptr);
    EXPECT_EQ(eimg_LayerRasterPixelRectGet(layers_[layer], x, y, 1, 1, rect, nullptr), 0);
    const int value = *rect->origin;
    eimg_PixelRectDelete(rect, nullptr);
    return value;
  }
  Pixels Set(int layer) {
    Pixels set;
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 40; ++x)
        if (Pixel(layer, x, y)) set.emplace_back(x, y);
    return set;
  }

  taviron::testing::TempDir dir_{"eevg_fileio"};
  Eimg_Layer *layers_[3] = {};
  Eimg_Layer *floats_ = nullptr;
  Eevg_GrIOInfo *device_ = nullptr;
};

TEST_F(FileDeviceTest, InitChecksTheLayers) {
  Eimg_Layer *r = layers_[0], *g = layers_[1], *b = layers_[2], *f = floats_;
  struct Case {
    int32_t mode;
    Eimg_Layer *red, *green, *blue;
    int code;
    const char *message;
  } cases[] = {
      {0, nullptr, g, b, 1, "Invalid input red Layer"},
      {1, f, g, b, 2, "Input red Layer is not unsigned 8-bit data"},
      {0, r, nullptr, nullptr, 3, "Invalid input green Layer"},
      {0, r, f, b, 4, "Input green Layer is not unsigned 8-bit data"},
      {0, r, g, nullptr, 5, "Invalid input blue Layer"},
      {0, r, g, f, 6, "Input blue Layer is not unsigned 8-bit data"},
      {2, r, g, b, 7, "Invalid input colorMode"},
  };
  for (const Case &c : cases) {
    ErrorSlot err;
    EXPECT_EQ(eevg_GrIOInfoInitFile(c.mode, c.red, c.green, c.blue, &err), nullptr);
    EXPECT_TRUE(Reported(err.get(), "eevg_GrIOInfoInitFile", c.code, c.message));
  }
  ErrorSlot err;
  device_ = eevg_GrIOInfoInitFile(EEVG_PSEUDOCOLOR, r, nullptr, f, &err);
  ASSERT_NE(device_, nullptr) << Chain(err.get());
  EXPECT_TRUE(device_->putPixel && device_->putVector && device_->getBlock && device_->putBlock &&
              device_->drawingEnd && device_->free);
  EXPECT_FALSE(device_->getPixel || device_->putSpan || device_->putPolygon || device_->putPoint ||
               device_->putPixelOpacity || device_->putTextUC);
}

TEST_F(FileDeviceTest, PseudoColourWritesTheIndexLowByte) {
  ErrorSlot err;
  device_ = eevg_GrIOInfoInitFile(EEVG_PSEUDOCOLOR, layers_[0], nullptr, nullptr, &err);
  ASSERT_NE(device_, nullptr);
  const Eevg_Color color{300, 1, 2, 3, 255};
  const double at[2] = {2.9, 1.2};
  device_->putPixel(device_->userData, &color, at, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  EXPECT_EQ(Pixel(0, 2, 1), 44);
  EXPECT_EQ(Set(0), (Pixels{{2, 1}}));

  device_->putPixel(device_->userData, nullptr, at, &err);
  EXPECT_TRUE(Reported(err.get(), "putPixel", 1, "Invalid input color"));
  device_->putPixel(device_->userData, &color, nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "putPixel", 2, "Invalid input 1st coordinate"));
  device_->putPixel(nullptr, &color, at, &err);
  ASSERT_TRUE(Reported(err.get(), "putPixel", 3, "Error returned from placePixel"));
  EXPECT_TRUE(Reported(err->next, "placePixel", 1, "Invalid input RGB LayerDescription"));
}

TEST_F(FileDeviceTest, TrueColourVectorWritesTheWalkIntoEachPlane) {
  ErrorSlot err;
  device_ = eevg_GrIOInfoInitFile(EEVG_TRUECOLOR, layers_[0], layers_[1], layers_[2], &err);
  ASSERT_NE(device_, nullptr);
  const Eevg_Color color{9, 0x1ff, 0x102, 3, 255};
  const double from[2] = {0, 0}, to[2] = {3.7, 1.9};
  device_->putVector(device_->userData, &color, from, to, &err);
  ASSERT_FALSE(err) << Chain(err.get());
  const Pixels walk{{0, 0}, {1, 1}, {2, 1}, {3, 1}};
  EXPECT_EQ(Set(0), walk);
  EXPECT_EQ(Set(1), walk);
  EXPECT_EQ(Set(2), walk);
  EXPECT_EQ(Pixel(0, 1, 1), 0xff);
  EXPECT_EQ(Pixel(1, 1, 1), 2);
  EXPECT_EQ(Pixel(2, 1, 1), 3);
  // Pixels outside the layers are dropped.
  const double far[2] = {-5, 2};
  device_->putVector(device_->userData, &color, far, far, &err);
  EXPECT_FALSE(err);

  device_->putVector(device_->userData, &color, nullptr, to, &err);
  EXPECT_TRUE(Reported(err.get(), "putVector", 1, "Invalid input 1st coordinate"));
  device_->putVector(device_->userData, nullptr, from, to, &err);
  ASSERT_TRUE(Reported(err.get(), "putVector", 3, "Error returned from placePixel for first pixel"));
  EXPECT_TRUE(Reported(err->next, "placePixel", 2, "Invalid input color"));
}

TEST_F(FileDeviceTest, BlocksReadAndWriteTheLayers) {
  ErrorSlot err;
  device_ = eevg_GrIOInfoInitFile(EEVG_TRUECOLOR, layers_[0], layers_[1], layers_[2], &err);
  ASSERT_NE(device_, nullptr);
  // Put a 3 x 1 block at column 10, row 20 and read it back through the corner positions.
  Eevg_RGBPixelRect *block = eevg_RGBPixelRectCreateWithData(nullptr, 3, 1, EEVG_TRUECOLOR, &err);
  ASSERT_NE(block, nullptr) << Chain(err.get());
  for (int i = 0; i < 3; ++i) {
    block->red->origin[i] = static_cast<uint8_t>(10 + i);
    block->green->origin[i] = static_cast<uint8_t>(20 + i);
    block->blue->origin[i] = static_cast<uint8_t>(30 + i);
  }
  const double upperLeft[2] = {10.7, 20.2}, lowerRight[2] = {12.9, 20.9};
  EXPECT_EQ(device_->putBlock(device_->userData, block, upperLeft, lowerRight, &err), 0) << Chain(err.get());
  EXPECT_EQ(Pixel(0, 12, 20), 12);
  EXPECT_EQ(Pixel(2, 10, 20), 30);

  Eevg_RGBPixelRect *read = device_->getBlock(device_->userData, nullptr, upperLeft, lowerRight, &err);
  ASSERT_NE(read, nullptr) << Chain(err.get());
  ASSERT_EQ(read->red->columns, 3);
  ASSERT_EQ(read->red->rows, 1);
  EXPECT_EQ(read->green->origin[2], 22);
  // A rect handed in is reused.
  EXPECT_EQ(device_->getBlock(device_->userData, read, upperLeft, lowerRight, &err), read);

  // A red plane one pixel too narrow writes nothing.
  Eevg_RGBPixelRect *narrow = eevg_RGBPixelRectCreateWithData(nullptr, 2, 1, EEVG_TRUECOLOR, &err);
  narrow->red->origin[0] = narrow->green->origin[0] = 99;
  EXPECT_EQ(device_->putBlock(device_->userData, narrow, upperLeft, lowerRight, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "putBlock", 5, "Invalid input red PixelRect"));
  EXPECT_EQ(Pixel(0, 10, 20), 10);
  EXPECT_EQ(Pixel(1, 10, 20), 20);

  struct Case {
    void *user;
    Eevg_RGBPixelRect *rect;
    const double *a, *b;
    int code;
    const char *message;
  } cases[] = {
      {nullptr, block, upperLeft, lowerRight, 1, "Invalid input RGB LayerDescription"},
      {device_->userData, nullptr, upperLeft, lowerRight, 2, "Invalid input RGBPixelRect"},
      {device_->userData, block, nullptr, lowerRight, 3, "Invalid input upperLeft coordinate"},
      {device_->userData, block, upperLeft, nullptr, 4, "Invalid input lowerRight coordinate"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(device_->putBlock(c.user, c.rect, c.a, c.b, &err), -1);
    EXPECT_TRUE(Reported(err.get(), "putBlock", c.code, c.message));
  }
  EXPECT_EQ(device_->getBlock(device_->userData, nullptr, upperLeft, nullptr, &err), nullptr);
  EXPECT_TRUE(Reported(err.get(), "getBlock", 3, "Invalid input lowerRight coordinate"));
  // Corners the wrong way round give no block; a rect made by the call is freed.
  const int64_t live = emsc_TestLiveBlocks();
  EXPECT_EQ(device_->getBlock(device_->userData, nullptr, lowerRight, upperLeft, &err), nullptr);
  EXPECT_TRUE(Reported(err.get(), "getBlock", 4, "Error returned from eevg_RGBPixelRectCreateWithData"));
  EXPECT_EQ(emsc_TestLiveBlocks(), live);

  EXPECT_EQ(device_->drawingEnd(device_->userData, &err), 0) << Chain(err.get());
  EXPECT_EQ(device_->drawingEnd(nullptr, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "drawingEnd ", 1, "Invalid input RGB LayerDescription"));

  for (Eevg_RGBPixelRect *rect : {block, read, narrow}) {
    eimg_PixelRectDelete(rect->red, nullptr);
    eimg_PixelRectDelete(rect->green, nullptr);
    eimg_PixelRectDelete(rect->blue, nullptr);
    eevg_RGBPixelRectFree(&rect);
  }
}

TEST_F(FileDeviceTest, PixelRectsFollowTheColourMode) {
  const int64_t live = emsc_TestLiveBlocks();
  ErrorSlot err;
  Eevg_RGBPixelRect *rect = eevg_RGBPixelRectCreateWithData(nullptr, 4, 2, EEVG_TRUECOLOR, &err);
  ASSERT_NE(rect, nullptr);
  Egda_BaseData *red = rect->red;
  EXPECT_EQ(eevg_RGBPixelRectCreateWithData(rect, 4, 2, EEVG_PSEUDOCOLOR, &err), rect);
  EXPECT_EQ(rect->red, red); // same size: kept
  EXPECT_EQ(rect->green, nullptr);
  EXPECT_EQ(rect->blue, nullptr);
  EXPECT_EQ(eevg_RGBPixelRectCreateWithData(rect, 5, 2, EEVG_PSEUDOCOLOR, &err), rect);
  EXPECT_EQ(rect->red->columns, 5);
  EXPECT_EQ(rect->red->pixelType, EGDA_TYPE_U8);
  EXPECT_EQ(eevg_RGBPixelRectCreateWithData(rect, 5, 2, 3, &err), rect);
  EXPECT_TRUE(Reported(err.get(), "eevg_RGBPixelRectCreateWithData", 10, "Invalid colorMode"));
  EXPECT_EQ(eevg_RGBPixelRectCreateWithData(nullptr, 5, 2, 3, &err), nullptr);
  EXPECT_EQ(eevg_RGBPixelRectCreateWithData(nullptr, -1, 2, 0, &err), nullptr);
  EXPECT_TRUE(Reported(err.get(), "eevg_RGBPixelRectCreateWithData", 3,
                       "Error returned from eimg_PixelRectCreate for red"));
  eimg_PixelRectDelete(rect->red, nullptr);
  eevg_RGBPixelRectFree(&rect);
  EXPECT_EQ(rect, nullptr);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

TEST_F(FileDeviceTest, CreateSurvivesAllocationFailures) {
  const auto counts = taviron::testing::SweepAllocationFailures([&](Eerr_ErrorReport **err) {
    Eevg_GrIOInfo *device = eevg_GrIOInfoInitFile(EEVG_TRUECOLOR, layers_[0], layers_[1], layers_[2], err);
    Eevg_RGBPixelRect *rect = device ? eevg_RGBPixelRectCreateWithData(nullptr, 3, 2, EEVG_TRUECOLOR, err) : nullptr;
    const bool made = rect != nullptr;
    if (rect) {
      for (Egda_BaseData *plane : {rect->red, rect->green, rect->blue}) eimg_PixelRectDelete(plane, nullptr);
      eevg_RGBPixelRectFree(&rect);
    }
    eevg_GrIOInfoFree(&device);
    return made;
  });
  EXPECT_GE(counts.heap, 5);
}

TEST_F(FileDeviceTest, DrawingEndFlushesAndFreeLeavesTheLayersOpen) {
  ErrorSlot err;
  Eevg_Control *control = eevg_Init(&err);
  ASSERT_NE(control, nullptr) << Chain(err.get());
  device_ = eevg_GrIOInfoInitFile(EEVG_PSEUDOCOLOR, layers_[0], nullptr, nullptr, &err);
  Eevg_DeviceInfo *device = eevg_DeviceInfoCreate(&err);
  Eevg_WorldInfo *world = eevg_WorldInfoCreate(&err);
  device->width = 40;
  device->height = 30;
  device->colorMode = EEVG_PSEUDOCOLOR;
  world->upperRight->x = world->upperRight->y = 1;
  Eevg_Drawing *drawing = eevg_DrawingInit(control, device, world, device_, &err);
  ASSERT_NE(drawing, nullptr) << Chain(err.get());
  EXPECT_EQ(eevg_PutPointQuery(drawing, &err), 0);
  const Eevg_Color color{7, 0, 0, 0, 255};
  const double at[2] = {39, 29};
  device_->putPixel(device_->userData, &color, at, &err);
  EXPECT_EQ(eevg_DrawingEnd(drawing, &err), 0) << Chain(err.get());
  eevg_DrawingFree(&drawing, &err);
  eevg_WorldInfoFree(&world);
  eevg_DeviceInfoFree(&device);
  eevg_GrIOInfoFree(&device_);
  EXPECT_EQ(device_, nullptr);
  EXPECT_EQ(Pixel(0, 39, 29), 7);
}

// A filled square drawn through a drawing onto the file device reaches the image file: the file,
// opened afresh, holds it in the planes of the colour mode, for each kind of device description
// the file device serves (it has no getPixel, so anti-aliasing needs the strip file).
TEST_F(FileDeviceTest, DrawingsReachTheFile) {
  struct Case {
    int32_t deviceType, colorMode, antiAlias;
    int32_t initCode; // the report of eevg_DrawingInit, 0 for none
  } cases[] = {
      {0, EEVG_TRUECOLOR, 0, 0},   {2, EEVG_PSEUDOCOLOR, 0, 0}, {1, EEVG_TRUECOLOR, 0, 0},
      {1, EEVG_PSEUDOCOLOR, 0, 0}, {1, EEVG_TRUECOLOR, 1, 0},   {0, EEVG_TRUECOLOR, 1, 15},
  };
  ErrorSlot err;
  Eevg_Control *control = eevg_Init(&err);
  ASSERT_NE(control, nullptr) << Chain(err.get());
  const Eevg_Color colour{5, 200, 100, 50, 255};
  int number = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(::testing::Message() << "type " << c.deviceType << " mode " << c.colorMode << " antiAlias "
                                      << c.antiAlias);
    const std::string file = dir_ / ("drawing" + std::to_string(++number) + ".img");
    auto layer = [&](int plane) { return file + "(:Layer_" + std::to_string(plane + 1) + ")"; };
    Eimg_Layer *layers[3];
    for (int plane = 0; plane < 3; ++plane) {
      layers[plane] = eimg_LayerCreate(layer(plane).c_str(), EIMG_ATHEMATIC, EGDA_TYPE_U8, 40, 30, nullptr, &err, 0);
      ASSERT_NE(layers[plane], nullptr) << Chain(err.get());
    }
    device_ = eevg_GrIOInfoInitFile(c.colorMode, layers[0], layers[1], layers[2], &err);
    ASSERT_NE(device_, nullptr) << Chain(err.get());
    Eevg_DeviceInfo *device = eevg_DeviceInfoCreate(&err);
    Eevg_WorldInfo *world = eevg_WorldInfoCreate(&err);
    ASSERT_TRUE(device && world);
    *device = {c.deviceType, 40, 30, 1, c.antiAlias, 16, 8, const_cast<char *>("file device"), c.colorMode};
    *world->upperRight = {39, 29}; // world units are device pixels, pixel centres at whole units
    Eevg_Drawing *drawing = eevg_DrawingInit(control, device, world, device_, &err);
    if (c.initCode) {
      EXPECT_EQ(drawing, nullptr);
      EXPECT_TRUE(Reported(err, "eevg_DrawingInit", c.initCode));
    } else {
      ASSERT_NE(drawing, nullptr) << Chain(err.get());
      Eevg_FillStyle *fill = eevg_FillStyleCreate(&err);
      fill->fill = 1;
      fill->pattern = eevg_FillPatternCreate(&err);
      fill->pattern->color = eevg_ColorCreate(&err);
      *fill->pattern->color = colour;
      // Columns 10 to 19 of device rows 5 to 14 (y upward): image rows 15 to 24.
      Efga_CoordinateBlock *square = efga_CoordBlockPtrCreate(1, &err);
      square->parts[0] = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &err);
      const double corners[8] = {9.5, 4.5, 19.5, 4.5, 19.5, 14.5, 9.5, 14.5};
      std::memcpy(square->parts[0]->origin, corners, sizeof corners);
      EXPECT_EQ(eevg_DrawPolygon(drawing, fill, square, &err), 0) << Chain(err.get());
      EXPECT_EQ(eevg_DrawingEnd(drawing, &err), 0) << Chain(err.get());
      eevg_DrawingFree(&drawing, &err);
      EXPECT_FALSE(err) << Chain(err.get());
      efga_CoordBlockDelete(square, nullptr);
      eevg_FillStyleFree(&fill);
    }
    eevg_WorldInfoFree(&world);
    eevg_DeviceInfoFree(&device);
    eevg_GrIOInfoFree(&device_);
    for (Eimg_Layer *open : layers) eimg_LayerClose(open, nullptr);
    if (c.initCode) continue;

    const int32_t values[3] = {c.colorMode == EEVG_PSEUDOCOLOR ? colour.index : colour.red,
                               c.colorMode == EEVG_PSEUDOCOLOR ? 0 : colour.green,
                               c.colorMode == EEVG_PSEUDOCOLOR ? 0 : colour.blue};
    for (int plane = 0; plane < 3; ++plane) {
      Eimg_Layer *read = eimg_LayerOpen(layer(plane).c_str(), nullptr, &err, 0);
      ASSERT_NE(read, nullptr) << Chain(err.get());
      Egda_BaseData *rect = eimg_PixelRectCreate(40, 30, EGDA_TYPE_U8, nullptr);
      ASSERT_EQ(eimg_LayerRasterPixelRectGet(read, 0, 0, 40, 30, rect, &err), 0) << Chain(err.get());
      int wrong = 0;
      for (int32_t row = 0; row < 30; ++row)
        for (int32_t column = 0; column < 40; ++column) {
          const bool inside = column >= 10 && column <= 19 && row >= 15 && row <= 24;
          // Anti-aliased edges may blend into the pixels next to them.
          const bool edge = c.antiAlias && column >= 9 && column <= 20 && row >= 14 && row <= 25 &&
                            !(column >= 11 && column <= 18 && row >= 16 && row <= 23);
          if (!edge && rect->origin[row * 40 + column] != (inside ? values[plane] : 0) && ++wrong <= 3)
            ADD_FAILURE() << "plane " << plane << " column " << column << " row " << row << ": "
                          << int(rect->origin[row * 40 + column]);
        }
      EXPECT_EQ(wrong, 0) << "plane " << plane;
      eimg_PixelRectDelete(rect, nullptr);
      eimg_LayerClose(read, nullptr);
    }
  }
}

void TextUC(void *, Eevg_TextStyle *, ...) {}

TEST(GrIOInfo, CreateCopyAndFree) {
  ErrorSlot err;
  Eevg_GrIOInfo *a = eevg_GrIOInfoCreate(&err);
  Eevg_GrIOInfo *b = eevg_GrIOInfoCreate(&err);
  ASSERT_TRUE(a && b);
  static_assert(sizeof(Eevg_GrIOInfo) == 34 * sizeof(void *));
  const auto *slots = reinterpret_cast<void *const *>(a);
  for (int i = 0; i < 34; ++i) EXPECT_EQ(slots[i], nullptr) << i;
  static int freed;
  freed = 0;
  a->userData = &freed;
  a->putTextUC = TextUC;
  a->free = [](Eevg_GrIOInfo *record) { ++*static_cast<int *>(record->userData); };
  EXPECT_EQ(eevg_GrIOInfoCopy(b, a, &err), 0);
  EXPECT_EQ(std::memcmp(a, b, sizeof *a), 0);
  EXPECT_EQ(eevg_GrIOInfoCopy(b, nullptr, &err), -1);
  EXPECT_EQ(eevg_GrIOInfoCopy(nullptr, a, &err), -1);
  eevg_GrIOInfoFree(&a);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(freed, 1);
  eevg_GrIOInfoFree(&b);
  EXPECT_EQ(freed, 2);
  eevg_GrIOInfoFree(&b);
}

} // namespace
