// Control record, drawing set-up and tear-down, world transform, clip window and conversions.
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "eevg_internal.h"
#include "eevg.h"
#include "emsc.h"
#include "epmg.h"
#include "eprf.h"
#include "graphics_testing.h"
#include "taviron_testing.h"

namespace {

using taviron::testing::Chain;
using taviron::testing::Reported;
using taviron::testing::ErrorSlot;

void NoPixel(void *, const Eevg_Color *, const double *, Eerr_ErrorReport **) {}
void NoGetPixel(void *, Eevg_Color *, const double *, Eerr_ErrorReport **) {}
Eevg_RGBPixelRect *NoGetBlock(void *, Eevg_RGBPixelRect *r, const double *, const double *,
                              Eerr_ErrorReport **) {
  return r;
}
int32_t NoPutBlock(void *, Eevg_RGBPixelRect *, const double *, const double *, Eerr_ErrorReport **) {
  return 0;
}

// A device of 1000 x 500 pixels over the world (0, 0) - (999, 499) with a callback record.
class DrawingTest : public ::testing::Test {
protected:
  void SetUp() override {
    ErrorSlot err;
    control_ = eevg_Init(&err);
    ASSERT_NE(control_, nullptr) << Chain(err.get());
    device_ = eevg_DeviceInfoCreate(nullptr);
    world_ = eevg_WorldInfoCreate(nullptr);
    grio_ = eevg_GrIOInfoCreate(nullptr);
    ASSERT_TRUE(device_ && world_ && grio_);
    device_->width = 1000;
    device_->height = 500;
    world_->upperRight->x = 999;
    world_->upperRight->y = 499;
  }
  void TearDown() override {
    eevg_DrawingFree(&drawing_, nullptr);
    eevg_GrIOInfoFree(&grio_);
    eevg_WorldInfoFree(&world_);
    eevg_DeviceInfoFree(&device_);
  }
  Eevg_Drawing *Init(Eerr_ErrorReport **err = nullptr) {
    eevg_DrawingFree(&drawing_, nullptr);
    drawing_ = eevg_DrawingInit(control_, device_, world_, grio_, err);
    return drawing_;
  }

  Eevg_Control *control_ = nullptr;
  Eevg_DeviceInfo *device_ = nullptr;
  Eevg_WorldInfo *world_ = nullptr;
  Eevg_GrIOInfo *grio_ = nullptr;
  Eevg_Drawing *drawing_ = nullptr;
};

TEST_F(DrawingTest, ControlRecordIsSizedByTheFontDataBase) {
  ErrorSlot err;
  EXPECT_EQ(eevg_Init(&err), control_);
  EXPECT_EQ(control_->loadedFontCount, eevg_FontDataBaseFontCountGet(nullptr));
  EXPECT_EQ(control_->loadedFontCount, 8);
  EXPECT_EQ(control_->loadedFontsUsed, 0);
  Eevg_Control *copy = control_;
  eevg_Free(&copy, &err);
  EXPECT_EQ(copy, nullptr);
  EXPECT_EQ(eevg_Init(nullptr), control_);
}

TEST_F(DrawingTest, InitReportsEachCheckInOrder) {
  Eevg_GrIOInfo blockless{};
  struct Case {
    const char *what;
    Eevg_Control *control;
    Eevg_DeviceInfo *device;
    Eevg_WorldInfo *world;
    Eevg_GrIOInfo *grio;
    int32_t deviceType, antiAlias, colorMode;
    int code;
    const char *message;
  } cases[] = {
      {"all missing", nullptr, nullptr, nullptr, nullptr, 0, 0, 0, 1, "NULL Eevg Control Pointer"},
      {"device", control_, nullptr, nullptr, nullptr, 0, 0, 0, 2, "NULL Eevg Device Pointer"},
      {"world", control_, device_, nullptr, nullptr, 0, 0, 0, 3, "NULL Eevg World Pointer"},
      {"graphics", control_, device_, world_, nullptr, 0, 0, 0, 4, "NULL Eevg Graphics Pointer"},
      {"strip without blocks", control_, device_, world_, &blockless, 1, 0, 7, 14,
       "NULL Eevg Graphics Get/Put Block Pointer"},
      {"anti-aliased without pixels", control_, device_, world_, &blockless, 0, 1, 7, 15,
       "NULL Eevg Graphics Get/Put Pixel Pointer"},
      {"type 2 anti-aliased without pixels", control_, device_, world_, &blockless, 2, 1, 0, 15,
       "NULL Eevg Graphics Get/Put Pixel Pointer"},
      {"colour mode", control_, device_, world_, &blockless, 0, 0, 2, 6, "Invalid Drawing Color Mode"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    device_->deviceType = c.deviceType;
    device_->antiAlias = c.antiAlias;
    device_->colorMode = c.colorMode;
    const int64_t live = emsc_TestLiveBlocks();
    ErrorSlot err;
    EXPECT_EQ(eevg_DrawingInit(c.control, c.device, c.world, c.grio, &err), nullptr);
    EXPECT_TRUE(Reported(err.get(), "eevg_DrawingInit", c.code, c.message));
    EXPECT_EQ(emsc_TestLiveBlocks(), live);
  }
}

TEST_F(DrawingTest, InitFailsOnAnEmptyDeviceAndAFlatWorld) {
  ErrorSlot err;
  device_->width = 0;
  EXPECT_EQ(Init(&err), nullptr);
  ASSERT_TRUE(Reported(err.get(), "eevg_DrawingInit", 7, "Error setting drawing clip window"));
  EXPECT_TRUE(Reported(err->next, "eevg_SetClipWindow", 1, "Nonsense Clip Window"));

  device_->width = 1000;
  world_->upperRight->y = 1e-11;
  EXPECT_EQ(Init(&err), nullptr);
  ASSERT_TRUE(Reported(err.get(), "eevg_DrawingInit", 10, "Error setting world for drawing"));
  EXPECT_TRUE(Reported(err->next, "eevg_World", 2, "Invalid World Coordinate System"));
}

TEST_F(DrawingTest, StripDeviceNeedsNoPixelCallbacks) {
  grio_->getBlock = NoGetBlock;
  grio_->putBlock = NoPutBlock;
  device_->deviceType = 1;
  device_->antiAlias = 1;
  device_->stripRows = 64;
  device_->burnInValue = 256;
  ErrorSlot err;
  ASSERT_NE(Init(&err), nullptr) << Chain(err.get());
  EXPECT_NE(drawing_->stripFile, nullptr);
}

TEST_F(DrawingTest, InitFillsTheRecord) {
  grio_->putPixel = NoPixel;
  grio_->getPixel = NoGetPixel;
  device_->colorMode = EEVG_PSEUDOCOLOR;
  device_->deviceType = 2;
  device_->antiAlias = 1;
  ErrorSlot err;
  ASSERT_NE(Init(&err), nullptr) << Chain(err.get());
  const Eevg_Drawing &d = *drawing_;
  EXPECT_EQ(d.grIOInfo, grio_);
  EXPECT_EQ(d.control, control_);
  EXPECT_EQ(d.pseudoColour, 1);
  EXPECT_EQ(d.deviceType2, 1);
  EXPECT_EQ(d.stripFileInUse, 0);
  EXPECT_EQ(d.antiAlias, 1);
  EXPECT_EQ(d.antiAliasMask, 0);
  EXPECT_EQ(d.pointCapacity, 1000);
  EXPECT_EQ(d.polygonStartCapacity, 1000);
  EXPECT_EQ(d.curveStackCapacity, 100);
  EXPECT_EQ(d.curveFlatness, 2);
  EXPECT_EQ(d.subPixelShift, 3);
  EXPECT_EQ(d.deviceXMax, 999);
  EXPECT_EQ(d.deviceYMax, 499);
  EXPECT_EQ(d.clipXMax, 999);
  EXPECT_EQ(d.subClipYMax, 499 * 8);
  EXPECT_EQ(d.opaqueFallback, 1);
  EXPECT_EQ(d.worldLowerLeft, world_->lowerLeft);
  EXPECT_EQ(0, std::memcmp(&d.grIOInfoCopy, grio_, sizeof *grio_));
  EXPECT_GE(d.mitreLimit, 1.0);
  // The drawing reads the caller's record; its copy is what eevg_GrIOInfoGet hands out.
  EXPECT_EQ(eevg_GrIOInfoGet(drawing_, &err), &drawing_->grIOInfoCopy);
  EXPECT_EQ(eevg_GrIOInfoInternalGet(drawing_, &err), grio_);
  EXPECT_EQ(eevg_GrIOInfoGet(nullptr, &err), nullptr);
  EXPECT_TRUE(Reported(err.get(), "eevg_GrIOInfoGet", 4, "Error finding the contents of the drawing"));

  // Any opacity writer turns the opaque fallback off.
  grio_->putVectorOpacity = [](void *, const Eevg_Color *, const double *, const double *,
                               Eerr_ErrorReport **) -> int32_t { return 0; };
  device_->antiAlias = 0;
  ASSERT_NE(Init(&err), nullptr);
  EXPECT_EQ(drawing_->opaqueFallback, 0);
  EXPECT_EQ(drawing_->antiAliasMask, 7);
}

TEST_F(DrawingTest, InitSurvivesEveryAllocationFailure) {
  const auto counts = taviron::testing::SweepAllocationFailures([&](Eerr_ErrorReport **err) {
    Eevg_Drawing *drawing = eevg_DrawingInit(control_, device_, world_, grio_, err);
    const bool made = drawing != nullptr;
    eevg_DrawingFree(&drawing, nullptr);
    return made;
  });
  EXPECT_GE(counts.heap, 3);
}

TEST_F(DrawingTest, WorldCornersMapToPixelCentres) {
  device_->width = 100;
  device_->height = 50;
  world_->lowerLeft->x = 10;
  world_->lowerLeft->y = 20;
  world_->upperRight->x = 30;
  world_->upperRight->y = 40;
  ASSERT_NE(Init(), nullptr);
  const Eevg_Drawing &d = *drawing_;
  auto sub = [&](double x, double y) {
    return std::make_pair(std::lround((x * d.scaleX + d.offsetX) * 8), std::lround((y * d.scaleY + d.offsetY) * 8));
  };
  EXPECT_EQ(sub(10, 20), std::make_pair(4L, 4L));
  EXPECT_EQ(sub(30, 40), std::make_pair(8L * 100 - 4, 8L * 50 - 4));

  double dx = 0, dy = 0;
  ErrorSlot err;
  eevg_PointConvertToDevice(drawing_, 20, 30, &dx, &dy, &err);
  EXPECT_DOUBLE_EQ(dx, 49.5);
  EXPECT_DOUBLE_EQ(dy, 24.5);
  eevg_PointScaleToDevice(drawing_, 2, 2, &dx, &dy, &err);
  EXPECT_DOUBLE_EQ(dx, 9.9);
  EXPECT_DOUBLE_EQ(dy, 4.9);
  eevg_PointConvertToDevice(nullptr, 0, 0, &dx, &dy, &err);
  EXPECT_TRUE(Reported(err.get(), "eevg_PointConvertToDevice", 1, "NULL Eevg Drawing Pointer"));

  // A reversed window mirrors the drawing.
  eevg_World(drawing_, 30, 40, 10, 20, &err);
  EXPECT_FALSE(err);
  EXPECT_LT(drawing_->scaleX, 0);
  EXPECT_LT(drawing_->scaleY, 0);
  eevg_World(drawing_, 0, 0, 5e-11, 1, &err);
  EXPECT_TRUE(Reported(err.get(), "eevg_World", 2, "Invalid World Coordinate System"));
}

TEST_F(DrawingTest, ClipWindowMustOverlapTheDeviceAndIsClippedToIt) {
  ASSERT_NE(Init(), nullptr);
  struct Case {
    Eevg_Coord a, b;
    bool ok;
    int32_t xMin, yMin, xMax, yMax;
  } cases[] = {
      {{-50, -10}, {-1, 100}, false, 0, 0, 0, 0},     // left
      {{1000, 10}, {1200, 100}, false, 0, 0, 0, 0},   // right
      {{10, 500}, {20, 900}, false, 0, 0, 0, 0},      // above
      {{10, -90}, {20, -1}, false, 0, 0, 0, 0},       // below
      {{200.7, 300.2}, {100.9, 50.5}, true, 100, 50, 200, 300},
      {{-100, -100}, {5000, 5000}, true, 0, 0, 999, 499},
  };
  for (const Case &c : cases) {
    ErrorSlot err;
    eevg_SetClipWindow(drawing_, &c.a, &c.b, &err);
    if (!c.ok) {
      ASSERT_TRUE(Reported(err.get(), "eevg_SetClipWindow", 2, "Error setting Clip Window for drawing"));
      EXPECT_TRUE(Reported(err->next, "eevg_SetClipWindow", 1, "Nonsense Clip Window"));
      continue;
    }
    EXPECT_FALSE(err) << Chain(err.get());
    EXPECT_EQ(drawing_->clipXMin, c.xMin);
    EXPECT_EQ(drawing_->clipYMin, c.yMin);
    EXPECT_EQ(drawing_->clipXMax, c.xMax);
    EXPECT_EQ(drawing_->clipYMax, c.yMax);
    EXPECT_EQ(drawing_->subClipXMax, c.xMax * 8);
  }
}

TEST_F(DrawingTest, LineUnitsToPixels) {
  ASSERT_NE(Init(), nullptr);
  world_->upperRight->x = 1998; // two world units per pixel
  ASSERT_NE(Init(), nullptr);
  struct Case {
    int32_t unit;
    double value;
    int32_t expected;
  } cases[] = {{2, 1.5, 12}, {1, 1.5, 12}, {1, -0.99, -7}, {3, 4.0, 16}, {0x10001, 2.0, 16}, {4, 3.0, 0}};
  for (const Case &c : cases) {
    drawing_->lineWidthUnit = c.unit;
    EXPECT_EQ(eevg_LineUnitsToPixels(drawing_, c.value), c.expected) << c.unit << " " << c.value;
  }
  EXPECT_EQ(eevg_TestOpaque(255), 1);
  EXPECT_EQ(eevg_TestOpaque(254), 0);
}

TEST_F(DrawingTest, OverrideColourAndSetters) {
  ASSERT_NE(Init(), nullptr);
  const Eevg_Color red{7, 255, 1, 2, 128};
  ErrorSlot err;
  eevg_ColorOverride(drawing_, &red, &err);
  EXPECT_EQ(drawing_->overrideActive, 1);
  EXPECT_EQ(drawing_->overrideColour.index, 7);
  EXPECT_EQ(drawing_->overrideDeviceColour.red, 255);
  EXPECT_EQ(drawing_->overrideDeviceColour.index, 7);
  EXPECT_EQ(drawing_->overrideDeviceColour.opacity, 128);
  eevg_ColorOverride(drawing_, nullptr, &err);
  EXPECT_EQ(drawing_->overrideActive, 0);
  eevg_ColorOverride(nullptr, &red, &err);
  EXPECT_TRUE(Reported(err.get(), "eevg_OverrideColor", 1, "NULL Eevg Drawing Pointer"));
  eevg_DrawingSetPixelSize(drawing_, 3, -4);
  eevg_DrawingSetUsingWorldTransform(drawing_, 1);
  EXPECT_EQ(drawing_->pixelSizeX, 3);
  EXPECT_EQ(drawing_->pixelSizeY, -4);
  EXPECT_EQ(drawing_->usingWorldTransform, 1);
}

TEST_F(DrawingTest, EndCallsTheDrawingEndCallbackAndFreeClearsThePointer) {
  static int calls;
  calls = 0;
  grio_->userData = &calls;
  grio_->drawingEnd = [](void *user, Eerr_ErrorReport **) -> int32_t {
    ++*static_cast<int *>(user);
    return 42;
  };
  ASSERT_NE(Init(), nullptr);
  ErrorSlot err;
  EXPECT_EQ(eevg_DrawingEnd(drawing_, &err), 42);
  EXPECT_EQ(calls, 1);
  grio_->drawingEnd = nullptr; // read at the time of the call
  EXPECT_EQ(eevg_DrawingEnd(drawing_, &err), 0);
  EXPECT_EQ(eevg_DrawingEnd(nullptr, &err), -1);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawingEnd", 1, "NULL Eevg Drawing Pointer"));

  uint8_t *line = eevg_DrawingGetScanLineBuf(drawing_, &err);
  ASSERT_NE(line, nullptr);
  line[999] = 1;
  EXPECT_EQ(eevg_DrawingGetScanLineBuf(drawing_, &err), line);

  eevg_DrawingFree(&drawing_, &err);
  EXPECT_FALSE(err);
  EXPECT_EQ(drawing_, nullptr);
  eevg_DrawingFree(&drawing_, &err);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawingFree", 1, "NULL Eevg Drawing Pointer"));
  eevg_DrawingFree(nullptr, &err);
  EXPECT_TRUE(Reported(err.get(), "eevg_DrawingFree", 1, "NULL Eevg Drawing Pointer"));
}

TEST_F(DrawingTest, PointBuffersMoveToTheCallerAndGrow) {
  ASSERT_NE(Init(), nullptr);
  drawing_->points[0] = 11;
  drawing_->pointCount = 1;
  drawing_->polygonCount = 1;
  int32_t polygonCount, startCapacity, pointCount, pointCapacity;
  int32_t *starts = nullptr, *points = nullptr;
  ErrorSlot err;
  eevg_MovePointsToLocalPointers(drawing_, &err, &polygonCount, &startCapacity, &starts, &pointCount,
                                 &pointCapacity, &points);
  ASSERT_FALSE(err);
  EXPECT_EQ(points[0], 11);
  EXPECT_EQ(pointCount, 1);
  EXPECT_EQ(pointCapacity, 1000);
  EXPECT_NE(drawing_->points, points);
  EXPECT_EQ(drawing_->pointCount, 0);
  emsc_HeapFree(points);
  emsc_HeapFree(starts);

  {
    taviron::testing::FailAllocation fail(2);
    eevg_MovePointsToLocalPointers(drawing_, &err, &polygonCount, &startCapacity, &starts, &pointCount,
                                   &pointCapacity, &points);
  }
  EXPECT_TRUE(Reported(err.get(), "eevg_MovePointsToLocalPointers", 6, "Unable to allocate temporary points array"));

  // Growth keeps the contents and at least adds half the capacity.
  drawing_->points[1999] = 5;
  ASSERT_TRUE(taviron::graphics::ReservePoints(drawing_, 1001, 2));
  EXPECT_EQ(drawing_->pointCapacity, 1500);
  EXPECT_EQ(drawing_->points[1999], 5);
  ASSERT_TRUE(taviron::graphics::ReservePoints(drawing_, 5000, 1001));
  EXPECT_EQ(drawing_->pointCapacity, 5000);
  EXPECT_EQ(drawing_->polygonStartCapacity, 1500);
  ASSERT_TRUE(taviron::graphics::ReservePoints(drawing_, 10, 10));
  EXPECT_EQ(drawing_->pointCapacity, 5000);
}

TEST_F(DrawingTest, MitreLimitPreferenceFollowsItsCallbackAndIsAtLeastOne) {
  ErrorSlot err;
  Epmg_Database *database = eprf_DefaultDatabaseGet(EPMG_DEFAULT_CLASS, &err);
  ASSERT_NE(database, nullptr) << Chain(err.get());
  auto callbacks = [&](const char *key) {
    Epmg_Preference record{};
    record.category = const_cast<char *>("annotation");
    record.name = const_cast<char *>(key);
    return epmg_GetCallbackList(database, &record);
  };
  Epmg_CallbackNode *mitre = callbacks("mitre_limit");
  Epmg_CallbackNode *order = callbacks("text_fill_order");
  ASSERT_NE(mitre, nullptr);
  ASSERT_NE(order, nullptr);

  Epmg_Preference change{};
  change.valueType = EPMG_TYPE_NUMBER;
  change.value.number = 0.5;
  mitre->callback(mitre->userData, &change);
  change.valueType = EPMG_TYPE_ENUM;
  change.value.string = const_cast<char *>("Fill-Last");
  order->callback(order->userData, &change);
  ASSERT_NE(Init(), nullptr);
  EXPECT_EQ(drawing_->mitreLimit, 1.0);
  EXPECT_EQ(drawing_->textFillOrder, 1);

  change.value.string = const_cast<char *>("Sideways"); // other texts leave the value
  order->callback(order->userData, &change);
  change.valueType = EPMG_TYPE_NUMBER;
  change.value.number = 4;
  mitre->callback(mitre->userData, &change);
  ASSERT_NE(Init(), nullptr);
  EXPECT_EQ(drawing_->mitreLimit, 4.0);
  EXPECT_EQ(drawing_->textFillOrder, 1);

  change.valueType = EPMG_TYPE_ENUM;
  change.value.string = const_cast<char *>("Fill-First");
  order->callback(order->userData, &change);
  change.valueType = EPMG_TYPE_NUMBER;
  change.value.number = 10;
  mitre->callback(mitre->userData, &change);
  epmg_FreeCallbackList(mitre);
  epmg_FreeCallbackList(order);
}

TEST(WorldInfo, CreateFreesItsRecordWhenACornerCannotBeMade) {
  // The record, then each corner.
  int64_t run = 0;
  const auto counts = taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **err, taviron::testing::Failing kind) {
        ++run;
        Eevg_WorldInfo *world = eevg_WorldInfoCreate(err);
        if (!world) {
          if (kind == taviron::testing::Failing::Heap && run > 1) {
            EXPECT_TRUE(Reported(*err, "eevg_CoordCreate", 1, "Error allocating Coord"));
          }
          return false;
        }
        EXPECT_EQ(world->lowerLeft->x, 0);
        eevg_WorldInfoFree(&world);
        return true;
      });
  EXPECT_EQ(counts.heap, 3);
  Eevg_DeviceInfo *device = eevg_DeviceInfoCreate(nullptr);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->lineWidthUnit, 2);
  EXPECT_EQ(device->width, 0);
  eevg_DeviceInfoFree(&device);
  EXPECT_EQ(device, nullptr);
  eevg_DeviceInfoFree(&device);
}

} // namespace
