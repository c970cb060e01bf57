// The strip file of device type 1: its records and directory, and the burn-in through getBlock
// and putBlock.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <csignal>
#include <unistd.h>

#include "eevg_htf.h"
#include "eevg_internal.h"
#include "eevg.h"
#include "eimg.h"
#include "emsc.h"
#include "graphics_testing.h"
#include "taviron_testing.h"

namespace {

namespace fs = std::filesystem;
namespace gfx = taviron::graphics;
using taviron::testing::Chain;
using taviron::testing::Reported;
using taviron::testing::ErrorSlot;

// A target in memory: one plane per band of width x height bytes, and the blocks asked for.
struct Target {
  int32_t width = 0, height = 0, planes = 3;
  std::vector<uint8_t> pixels[3];
  struct Call {
    double x0, y0, x1, y1;
  };
  std::vector<Call> gets, puts;
  bool failGet = false, failPut = false;
  int32_t ends = 0;     // drawingEnd calls
  bool failEnd = false; // drawingEnd reports a failure

  uint8_t &At(int32_t plane, int32_t x, int32_t row) {
    return pixels[plane][static_cast<std::size_t>(row) * width + x];
  }
};

Eevg_RGBPixelRect *GetBlock(void *userData, Eevg_RGBPixelRect *rect, const double *ul,
                            const double *lr, Eerr_ErrorReport **err) {
  auto *target = static_cast<Target *>(userData);
  target->gets.push_back({ul[0], ul[1], lr[0], lr[1]});
  if (target->failGet) {
    if (err) *err = eerr_CreateErrorReport("GetBlock", 1, 2, *err, "refused");
    return rect;
  }
  const int32_t x0 = static_cast<int32_t>(ul[0]), y0 = static_cast<int32_t>(ul[1]);
  const int32_t w = static_cast<int32_t>(lr[0]) - x0 + 1, h = static_cast<int32_t>(lr[1]) - y0 + 1;
  Eevg_RGBPixelRect *given = rect;
  rect = eevg_RGBPixelRectCreateWithData(rect, w, h, target->planes == 3 ? 0 : 1, err);
  if (!rect || (err && *err)) return rect ? rect : given; // out of memory, reported
  Egda_BaseData *planes[3] = {rect->red, rect->green, rect->blue};
  for (int32_t p = 0; p < target->planes; ++p)
    for (int32_t r = 0; r < h; ++r)
      for (int32_t c = 0; c < w; ++c)
        planes[p]->origin[r * planes[p]->pitch + c] =
            x0 + c < target->width && y0 + r < target->height ? target->At(p, x0 + c, y0 + r) : 0;
  return rect;
}

int32_t PutBlock(void *userData, Eevg_RGBPixelRect *rect, const double *ul, const double *lr,
                 Eerr_ErrorReport **err) {
  auto *target = static_cast<Target *>(userData);
  target->puts.push_back({ul[0], ul[1], lr[0], lr[1]});
  if (target->failPut) {
    if (err) *err = eerr_CreateErrorReport("PutBlock", 1, 2, *err, "refused");
    return 1;
  }
  const int32_t x0 = static_cast<int32_t>(ul[0]), y0 = static_cast<int32_t>(ul[1]);
  const int32_t w = static_cast<int32_t>(lr[0]) - x0 + 1, h = static_cast<int32_t>(lr[1]) - y0 + 1;
  Egda_BaseData *planes[3] = {rect->red, rect->green, rect->blue};
  for (int32_t p = 0; p < target->planes; ++p)
    for (int32_t r = 0; r < h; ++r)
      for (int32_t c = 0; c < w; ++c)
        if (x0 + c < target->width && y0 + r < target->height)
          target->At(p, x0 + c, y0 + r) = planes[p]->origin[r * planes[p]->pitch + c];
  return 0;
}

int32_t EndDrawing(void *userData, Eerr_ErrorReport **err) {
  auto *target = static_cast<Target *>(userData);
  ++target->ends;
  if (!target->failEnd) return 0;
  if (err) *err = eerr_CreateErrorReport("EndDrawing", 1, 2, *err, "not flushed");
  return 5;
}

std::vector<uint8_t> ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
int32_t Get16(const std::vector<uint8_t> &bytes, std::size_t at) { return bytes[at] | bytes[at + 1] << 8; }
uint32_t Get32(const std::vector<uint8_t> &bytes, std::size_t at) {
  return static_cast<uint32_t>(Get16(bytes, at)) | static_cast<uint32_t>(Get16(bytes, at + 2)) << 16;
}

// The blocks of each strip as read back through the directory and the block lists.
std::vector<std::vector<std::vector<uint8_t>>> Blocks(const std::vector<uint8_t> &file) {
  std::vector<std::vector<std::vector<uint8_t>>> strips(Get16(file, 4));
  for (std::size_t i = 0; i < strips.size(); ++i) {
    const std::size_t entry = 152 + 12 * i;
    const uint32_t list = Get32(file, entry);
    for (int32_t k = 0; k < Get16(file, entry + 8); ++k) {
      const uint32_t offset = Get32(file, list + 8 * k);
      const int32_t length = Get16(file, list + 8 * k + 4);
      strips[i].emplace_back(file.begin() + offset, file.begin() + offset + length);
    }
  }
  return strips;
}

Eevg_DeviceColor Rgb(int32_t r, int32_t g, int32_t b) { return {r, g, b, 0, 255}; }

class StripTest : public ::testing::Test {
protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("eevg_strip_" + std::to_string(getpid()));
    fs::create_directories(dir_);
    ErrorSlot err;
    control_ = eevg_Init(&err);
    ASSERT_NE(control_, nullptr) << Chain(err.get());
    device_ = eevg_DeviceInfoCreate(nullptr);
    world_ = eevg_WorldInfoCreate(nullptr);
    grio_ = eevg_GrIOInfoCreate(nullptr);
    ASSERT_TRUE(device_ && world_ && grio_);
    grio_->userData = &target_;
    grio_->getBlock = GetBlock;
    grio_->putBlock = PutBlock;
    device_->deviceType = 1;
    device_->burnInValue = 256;
    device_->stripText = const_cast<char *>("strip test");
  }
  void TearDown() override {
    eevg_DrawingFree(&drawing_, nullptr);
    eevg_GrIOInfoFree(&grio_);
    eevg_WorldInfoFree(&world_);
    eevg_DeviceInfoFree(&device_);
    fs::remove_all(dir_);
  }
  // A device of width x height over a target filled with (r, g, b), or with r in pseudo colour.
  Eevg_Drawing *Init(int32_t width, int32_t height, int32_t stripRows, int32_t r, int32_t g,
                     int32_t b, int32_t colorMode = 0, Eerr_ErrorReport **err = nullptr) {
    eevg_DrawingFree(&drawing_, nullptr);
    device_->width = width;
    device_->height = height;
    device_->stripRows = stripRows;
    device_->colorMode = colorMode;
    world_->upperRight->x = width;
    world_->upperRight->y = height;
    target_.width = width;
    target_.height = height;
    target_.planes = colorMode == 0 ? 3 : 1;
    const int32_t fill[3] = {r, g, b};
    for (int p = 0; p < 3; ++p) target_.pixels[p].assign(static_cast<std::size_t>(width) * height, static_cast<uint8_t>(fill[p]));
    drawing_ = eevg_DrawingInit(control_, device_, world_, grio_, err);
    return drawing_;
  }
  Eevg_HtfControl *Strip() { return static_cast<Eevg_HtfControl *>(drawing_->stripFile); }
  // Releases the strip file without burning it in and returns its bytes.
  std::vector<uint8_t> Released() {
    const std::string name = drawing_->stripFileName;
    ErrorSlot err;
    EXPECT_EQ(gfx::StripFileRelease(drawing_, &err), 0) << Chain(err.get());
    return ReadFile(name);
  }

  fs::path dir_;
  Target target_;
  Eevg_Control *control_ = nullptr;
  Eevg_DeviceInfo *device_ = nullptr;
  Eevg_WorldInfo *world_ = nullptr;
  Eevg_GrIOInfo *grio_ = nullptr;
  Eevg_Drawing *drawing_ = nullptr;
};

TEST_F(StripTest, RecordsAreBurntIntoTheTarget) {
  ASSERT_NE(Init(40, 30, 8, 0, 0, 255), nullptr);
  const std::string name = drawing_->stripFileName;
  EXPECT_EQ(name.rfind(fs::temp_directory_path().string(), 0), 0u);
  EXPECT_NE(name.find("htfT."), std::string::npos);
  EXPECT_TRUE(fs::exists(name));
  ErrorSlot err;
  gfx::eevg_HtfColor(Strip(), Rgb(255, 0, 0));
  const int32_t x = 2, row = 3, count = 4, far = 20;
  const uint8_t coverage = 64, run[4] = {255, 128, 0, 1};
  ASSERT_EQ(gfx::eevg_HtfAntPoint(Strip(), &x, &row, &coverage, &err), 0) << Chain(err.get());
  ASSERT_EQ(gfx::eevg_HtfHseg(Strip(), &x, &far, &count, &err), 0);
  gfx::eevg_HtfColor(Strip(), Rgb(0, 255, 0));
  ASSERT_EQ(gfx::eevg_HtfPoint(Strip(), &far, &far, &err), 0);
  ASSERT_EQ(gfx::eevg_HtfAntHseg(Strip(), &far, &row, &count, run, &err), 0);
  const uint8_t lo[16] = {255, 9, 9, 9, 0, 9, 9, 9, 255, 9, 9, 9, 0, 9, 9, 9};
  const int32_t loRow = 25;
  ASSERT_EQ(gfx::eevg_HtfAntHsegLo(Strip(), &x, &loRow, &count, lo, &err), 0);
  EXPECT_EQ(eevg_DrawingEnd(drawing_, &err), 0) << Chain(err.get());
  EXPECT_EQ(err.get(), nullptr);
  EXPECT_EQ(drawing_->stripFile, nullptr);
  EXPECT_FALSE(fs::exists(name));

  auto rgb = [&](int32_t px, int32_t py) {
    return std::vector<int>{target_.At(0, px, py), target_.At(1, px, py), target_.At(2, px, py)};
  };
  EXPECT_EQ(rgb(2, 3), (std::vector<int>{64, 0, 191}));
  EXPECT_EQ(rgb(3, 3), (std::vector<int>{0, 0, 255}));
  for (int32_t c = 2; c < 6; ++c) EXPECT_EQ(rgb(c, 20), (std::vector<int>{255, 0, 0})) << c;
  EXPECT_EQ(rgb(20, 20), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ(rgb(20, 3), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ(rgb(21, 3), (std::vector<int>{0, 128, 127}));
  EXPECT_EQ(rgb(22, 3), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(rgb(23, 3), (std::vector<int>{0, 1, 254}));
  EXPECT_EQ(rgb(2, 25), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ(rgb(3, 25), (std::vector<int>{0, 0, 255}));
  EXPECT_EQ(rgb(4, 25), (std::vector<int>{0, 255, 0}));
  EXPECT_EQ(rgb(6, 20), (std::vector<int>{0, 0, 255}));
  // Only the strips holding records (rows 0-7, 16-23, 24-29) were read and written.
  std::vector<double> rows;
  for (const auto &call : target_.puts) rows.push_back(call.y0);
  EXPECT_EQ(rows, (std::vector<double>{0, 16, 24}));
  EXPECT_EQ(target_.gets.size(), target_.puts.size());
}

TEST_F(StripTest, PseudoColourRecordsAndBurnsTheIndex) {
  ASSERT_NE(Init(20, 10, 4, 3, 0, 0, EEVG_PSEUDOCOLOR), nullptr);
  Eevg_DeviceColor colour = Rgb(200, 200, 200);
  colour.index = 7;
  gfx::eevg_HtfColor(Strip(), colour);
  const int32_t x = 1, row = 5, count = 3;
  const uint8_t half = 128;
  ErrorSlot err;
  ASSERT_EQ(gfx::eevg_HtfHseg(Strip(), &x, &row, &count, &err), 0);
  ASSERT_EQ(gfx::eevg_HtfAntPoint(Strip(), &count, &count, &half, &err), 0);
  EXPECT_EQ(eevg_DrawingEnd(drawing_, &err), 0) << Chain(err.get());
  for (int32_t c = 0; c < 5; ++c) EXPECT_EQ(target_.At(0, c, 5), c >= 1 && c <= 3 ? 7 : 3) << c;
  EXPECT_EQ(target_.At(0, 3, 3), (3 * 127 + 7 * 128) / 255);
}

TEST_F(StripTest, FileLayoutAndStrips) {
  ASSERT_NE(Init(100, 100, 32, 0, 0, 0), nullptr);
  gfx::eevg_HtfColor(Strip(), Rgb(1, 2, 3));
  const int32_t x = 0, count = 5, row40 = 40, row10 = 10;
  ErrorSlot err;
  ASSERT_EQ(gfx::eevg_HtfHseg(Strip(), &x, &row40, &count, &err), 0);
  ASSERT_EQ(gfx::eevg_HtfHseg(Strip(), &x, &row10, &count, &err), 0);
  const std::vector<uint8_t> file = Released();
  ASSERT_GE(file.size(), 152u + 48u);
  EXPECT_EQ(Get16(file, 0), 100);
  EXPECT_EQ(Get16(file, 2), 100);
  EXPECT_EQ(Get16(file, 4), 4);
  EXPECT_EQ(Get16(file, 6), 32);
  EXPECT_EQ(Get16(file, 8), 3);
  EXPECT_EQ(Get16(file, 22), 1024);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(&file[24])), "strip test");
  const int32_t rows[4][2] = {{0, 32}, {32, 32}, {64, 32}, {96, 4}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Get16(file, 152 + 12 * i + 4), rows[i][0]) << i;
    EXPECT_EQ(Get16(file, 152 + 12 * i + 6), rows[i][1]) << i;
  }
  const auto strips = Blocks(file);
  const std::vector<uint8_t> run40 = {1, 1, 2, 3, 2, 0, 0, 40, 0, 5, 0};
  const std::vector<uint8_t> run10 = {1, 1, 2, 3, 2, 0, 0, 10, 0, 5, 0};
  ASSERT_EQ(strips[0].size(), 1u);
  ASSERT_EQ(strips[1].size(), 1u);
  EXPECT_EQ(strips[1][0], run40);
  EXPECT_EQ(strips[0][0], run10);
  EXPECT_TRUE(strips[2].empty());
  EXPECT_TRUE(strips[3].empty());
  // A drawing freed without its burn-in leaves no strip file behind.
  const std::string name = drawing_->stripFileName;
  ASSERT_TRUE(fs::exists(name));
  eevg_DrawingFree(&drawing_, nullptr);
  EXPECT_FALSE(fs::exists(name));
}

TEST_F(StripTest, AnEmptyDrawingTouchesNoStrip) {
  ASSERT_NE(Init(20, 20, 6, 0, 0, 0), nullptr);
  gfx::eevg_HtfColor(Strip(), Rgb(1, 2, 3));
  ErrorSlot err;
  EXPECT_EQ(eevg_DrawingEnd(drawing_, &err), 0) << Chain(err.get());
  EXPECT_TRUE(target_.gets.empty());
  EXPECT_TRUE(target_.puts.empty());
}

TEST_F(StripTest, EveryBlockStartsWithItsColourAndNothingIsLost) {
  ASSERT_NE(Init(50, 8, 8, 0, 0, 0), nullptr);
  ErrorSlot err;
  // Alternating colours between many points in one strip: the buffer is flushed many times.
  for (int32_t i = 0; i < 400; ++i) {
    gfx::eevg_HtfColor(Strip(), Rgb(i % 2 ? 200 : 100, i % 50, i / 50));
    const int32_t x = i % 50, row = i / 50;
    ASSERT_EQ(gfx::eevg_HtfPoint(Strip(), &x, &row, &err), 0);
  }
  // Colour changes with no record between them leave no record of their own.
  gfx::eevg_HtfColor(Strip(), Rgb(9, 9, 9));
  gfx::eevg_HtfColor(Strip(), Rgb(8, 8, 8));
  const std::string name = drawing_->stripFileName;
  const std::vector<uint8_t> file = Released();
  const auto strips = Blocks(file);
  ASSERT_GT(strips[0].size(), 3u);
  for (const auto &block : strips[0]) {
    EXPECT_LE(block.size(), 1024u);
    EXPECT_EQ(block[0], 1);
  }
  // The released file burns in every point.
  ASSERT_EQ(gfx::eevg_Burnin("", name.c_str(), 8, 50, 3, 8, 256, drawing_, &err), 1) << Chain(err.get());
  for (int32_t i = 0; i < 400; ++i)
    ASSERT_EQ(target_.At(0, i % 50, i / 50) + target_.At(1, i % 50, i / 50) + target_.At(2, i % 50, i / 50),
              (i % 2 ? 200 : 100) + i % 50 + i / 50) << i;
}

TEST_F(StripTest, BlocksSpanBurnInValueColumns) {
  ASSERT_NE(Init(1000, 10, 10, 0, 0, 0), nullptr);
  gfx::eevg_HtfColor(Strip(), Rgb(5, 6, 7));
  const int32_t x = 990, row = 9, count = 10;
  ErrorSlot err;
  ASSERT_EQ(gfx::eevg_HtfHseg(Strip(), &x, &row, &count, &err), 0);
  EXPECT_EQ(eevg_DrawingEnd(drawing_, &err), 0) << Chain(err.get());
  ASSERT_EQ(target_.gets.size(), 4u);
  ASSERT_EQ(target_.puts.size(), 4u);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(target_.puts[k].x0, 256.0 * k);
    EXPECT_EQ(target_.puts[k].x1, 256.0 * k + 255);
    EXPECT_EQ(target_.puts[k].y0, 0.0);
    EXPECT_EQ(target_.puts[k].y1, 9.0);
  }
  EXPECT_EQ(target_.At(2, 999, 9), 7);
  EXPECT_EQ(target_.At(2, 989, 9), 0);
}

TEST_F(StripTest, RecordsOutsideTheImageAreClipped) {
  ASSERT_NE(Init(10, 10, 4, 0, 0, 0), nullptr);
  gfx::eevg_HtfColor(Strip(), Rgb(255, 255, 255));
  ErrorSlot err;
  struct Case {
    int32_t x, row, count;
  } cases[] = {{-3, 0, 5}, {8, 1, 10}, {-5, 2, 3}, {10, 3, 1}, {0, -1, 5}, {0, 10, 5}, {0, 4, 0}, {3, 5, -2}};
  for (const Case &c : cases) {
    ASSERT_EQ(gfx::eevg_HtfHseg(Strip(), &c.x, &c.row, &c.count, &err), 0);
    const uint8_t cover[16] = {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
    const int32_t aaRow = c.row + 5;
    if (c.count >= 0 && c.count <= 16) {
      ASSERT_EQ(gfx::eevg_HtfAntHseg(Strip(), &c.x, &aaRow, &c.count, cover, &err), 0);
    }
  }
  EXPECT_EQ(eevg_DrawingEnd(drawing_, &err), 0) << Chain(err.get());
  std::string rows;
  for (int32_t r = 0; r < 10; ++r) {
    for (int32_t c = 0; c < 10; ++c) rows += target_.At(0, c, r) ? '#' : '.';
    rows += '\n';
  }
  EXPECT_EQ(rows, "##........\n"
                  "........##\n"
                  "..........\n"
                  "..........\n"
                  "#####.....\n"
                  "##........\n"
                  "........##\n"
                  "..........\n"
                  "..........\n"
                  "..........\n");
}

TEST_F(StripTest, InitRejectsDevicesTheFileCannotHold) {
  struct Case {
    const char *what;
    int32_t width, height, stripRows, burnInValue, code;
  } cases[] = {
      {"no rows per strip", 100, 100, 0, 256, 16},
      {"negative rows per strip", 100, 100, -4, 256, 16},
      {"no block width", 100, 100, 32, 0, 16},
      {"too wide", 70000, 10, 32, 256, 16},
      {"too high", 10, 70000, 32, 256, 16},
      {"strip buffer past 16 bits", 65500, 10, 32, 256, 14},
      {"last strip past 16 bits", 10, 65535, 64, 256, 14},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    device_->burnInValue = c.burnInValue;
    const int64_t live = emsc_TestLiveBlocks();
    ErrorSlot err;
    device_->width = c.width;
    device_->height = c.height;
    device_->stripRows = c.stripRows;
    world_->upperRight->x = world_->upperRight->y = 10;
    EXPECT_EQ(eevg_DrawingInit(control_, device_, world_, grio_, &err), nullptr);
    EXPECT_EQ(err.get() ? err->code : 0, c.code) << Chain(err.get());
    if (c.code == 14) {
      EXPECT_TRUE(Reported(err->next, "eevg_HtfInit", 1, "Invalid strip file description"));
    }
    EXPECT_EQ(emsc_TestLiveBlocks(), live);
  }
}

TEST_F(StripTest, AllocationFailuresAtInitAndEnd) {
  device_->width = 30;
  device_->height = 20;
  device_->stripRows = 8;
  world_->upperRight->x = world_->upperRight->y = 30;
  target_.width = 30;
  target_.height = 20;
  // Making the drawing (with its strip file).
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) { return (drawing_ = eevg_DrawingInit(control_, device_, world_, grio_, err)); },
      [&] { eevg_DrawingFree(&drawing_, nullptr); }, {.limit = 200});
  // Ending it: the burn-in of a drawing with one run, made afresh for every run.
  taviron::testing::SweepOptions options{.limit = 200};
  options.prepare = [&] {
    for (auto &plane : target_.pixels) plane.assign(600, 0);
    target_.gets.reserve(16);
    target_.puts.reserve(16);
    ASSERT_NE(drawing_ = eevg_DrawingInit(control_, device_, world_, grio_, nullptr), nullptr);
    gfx::eevg_HtfColor(Strip(), Rgb(9, 9, 9));
    const int32_t x = 1, row = 12, count = 3;
    ASSERT_EQ(gfx::eevg_HtfHseg(Strip(), &x, &row, &count, nullptr), 0);
  };
  options.finish = [&] { eevg_DrawingFree(&drawing_, nullptr); };
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) {
        if (eevg_DrawingEnd(drawing_, err) != 0 || *err) return false;
        EXPECT_EQ(target_.At(0, 2, 12), 9);
        return true;
      },
      options);
}

// A hand-made strip file of a 10 x 6 image with 3 rows per strip and one block in strip 1.
std::vector<uint8_t> OneBlockFile(const std::vector<uint8_t> &block) {
  std::vector<uint8_t> file(152 + 24, 0);
  auto put16 = [&](std::size_t at, int32_t v) {
    file[at] = static_cast<uint8_t>(v);
    file[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  put16(0, 10);
  put16(2, 6);
  put16(4, 2);
  put16(6, 3);
  put16(8, 3);
  put16(22, 1024);
  const std::size_t blockAt = file.size();
  for (uint8_t byte : block) file.push_back(byte);
  const std::size_t listAt = file.size();
  file.resize(listAt + 8);
  put16(listAt, static_cast<int32_t>(blockAt));
  put16(listAt + 4, static_cast<int32_t>(block.size()));
  put16(152 + 12, static_cast<int32_t>(listAt));
  put16(152 + 12 + 8, 1);
  return file;
}

TEST_F(StripTest, BurnInOfDamagedFiles) {
  ASSERT_NE(Init(10, 6, 3, 0, 0, 0), nullptr);
  eevg_DrawingFree(&drawing_, nullptr);
  // The burn-in works from a type-0 drawing with the same block callbacks.
  device_->deviceType = 0;
  ASSERT_NE(Init(10, 6, 3, 0, 0, 0), nullptr);
  const std::string name = (dir_ / "strips").string();
  auto write = [&](const std::vector<uint8_t> &bytes) {
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  };
  auto burn = [&](Eerr_ErrorReport **err) {
    return gfx::eevg_Burnin("", name.c_str(), 6, 10, 3, 3, 4, drawing_, err);
  };
  ErrorSlot err;
  // A sound file first: a run clipped to the image, a record of another strip's row skipped,
  // and an unknown byte skipped by itself.
  write(OneBlockFile({1, 50, 60, 70, 2, 8, 0, 4, 0, 9, 0, 3, 0, 0, 0, 0, 77, 3, 0, 0, 5, 0}));
  ASSERT_EQ(burn(&err), 1) << Chain(err.get());
  EXPECT_EQ(target_.At(0, 8, 4), 50);
  EXPECT_EQ(target_.At(2, 9, 4), 70);
  EXPECT_EQ(target_.At(1, 0, 5), 60);
  EXPECT_EQ(target_.At(0, 0, 0), 0);

  std::vector<uint8_t> shortDirectory = OneBlockFile({});
  shortDirectory.resize(160);
  struct Case {
    const char *what;
    std::vector<uint8_t> file;
    int code;
    const char *message;
  } cases[] = {
      {"empty", {}, 4, "Error reading HTF file header"},
      {"short directory", shortDirectory, 7, "Error reading HTF file directory"},
      {"truncated run", OneBlockFile({1, 1, 1, 1, 2, 0, 0, 4, 0}), 12, "Corrupt HTF file block"},
      {"truncated anti-aliased run", OneBlockFile({1, 1, 1, 1, 4, 0, 0, 4, 0, 200, 0, 1, 2}), 12,
       "Corrupt HTF file block"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    write(c.file);
    const int64_t live = emsc_TestLiveBlocks();
    EXPECT_EQ(burn(&err), 0);
    EXPECT_TRUE(Reported(err.get(), "eevg_Burnin", c.code, c.message));
    EXPECT_EQ(emsc_TestLiveBlocks(), live);
  }
  // Fields that disagree with the drawing or point outside the file.
  auto patched = [](std::size_t at, uint8_t value) {
    std::vector<uint8_t> file = OneBlockFile({1, 1, 1, 1, 3, 0, 0, 4, 0});
    file[at] = value;
    return file;
  };
  struct Patch {
    std::size_t at;
    uint8_t value;
    int code;
  } patches[] = {{0, 200, 5}, {6, 0, 5}, {8, 1, 5}, {152 + 12, 250, 9}, {152 + 12 + 8, 9, 9}, {189, 200, 11}};
  for (const Patch &p : patches) {
    SCOPED_TRACE(p.at);
    write(patched(p.at, p.value));
    EXPECT_EQ(burn(&err), 0);
    EXPECT_EQ(err.get() ? err->code : 0, p.code) << Chain(err.get());
  }
  fs::remove(name);
  EXPECT_EQ(burn(&err), 0);
  EXPECT_TRUE(Reported(err.get(), "eevg_Burnin", 3, ("Unable to open HTF file " + name).c_str()));
}

TEST_F(StripTest, DeviceFailuresEndTheBurnIn) {
  // The device's drawingEnd is called all the same, and its own failure is reported above the
  // burn-in's.
  grio_->drawingEnd = EndDrawing;
  struct Case {
    bool failGet, failPut, failEnd;
    int code;
    const char *message;
    int32_t result;
  } cases[] = {{true, false, false, 10, "Unable to read image strip", -1},
               {false, true, false, 13, "Unable to write image strip", -1},
               {false, true, true, 13, "Unable to write image strip", 5}};
  for (const Case &c : cases) {
    ASSERT_NE(Init(10, 10, 5, 0, 0, 0), nullptr);
    target_.failGet = c.failGet;
    target_.failPut = c.failPut;
    target_.failEnd = c.failEnd;
    target_.ends = 0;
    gfx::eevg_HtfColor(Strip(), Rgb(1, 1, 1));
    const int32_t x = 0, row = 0;
    ErrorSlot err;
    ASSERT_EQ(gfx::eevg_HtfPoint(Strip(), &x, &row, &err), 0);
    EXPECT_EQ(eevg_DrawingEnd(drawing_, &err), c.result);
    EXPECT_EQ(target_.ends, 1);
    const Eerr_ErrorReport *burnin = err.get();
    if (c.failEnd) {
      ASSERT_TRUE(Reported(burnin, "EndDrawing", 1, "not flushed")) << Chain(err.get());
      burnin = burnin->next;
    }
    ASSERT_TRUE(Reported(burnin, "eevg_Burnin", c.code, c.message)) << Chain(err.get());
    EXPECT_NE(burnin->next, nullptr);
    target_.failGet = target_.failPut = target_.failEnd = false;
  }
}

// Writes that fail (here: past the file-size limit) are reported and never listed.
TEST_F(StripTest, FailedWritesAreReportedAndNotListed) {
  ASSERT_NE(Init(50, 4, 4, 0, 0, 0), nullptr);
  const std::string name = drawing_->stripFileName;
  ErrorSlot err;
  auto point = [&](int32_t i) {
    gfx::eevg_HtfColor(Strip(), Rgb(i % 2 ? 10 : 20, 0, 0));
    const int32_t x = i % 50, row = i / 50;
    return gfx::eevg_HtfPoint(Strip(), &x, &row, &err);
  };
  // The first block fills the buffer; its flush fails.
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = static_cast<rlim_t>(fs::file_size(name));
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int32_t i = 0, failures = 0;
  for (; i < 200 && failures == 0; ++i)
    if (point(i) != 0) {
      ++failures;
      EXPECT_TRUE(Reported(err.get(), "eevg_HtfPoint", 2, "Unable to write HTF point")) << Chain(err.get());
    }
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
  ASSERT_EQ(failures, 1);
  const int32_t firstKept = i;
  for (; i < 200; ++i) ASSERT_EQ(point(i), 0) << Chain(err.get());
  EXPECT_EQ(eevg_DrawingEnd(drawing_, &err), 0) << Chain(err.get());
  for (int32_t k = 0; k < 200; ++k) {
    const int expected = k >= firstKept ? (k % 2 ? 10 : 20) : 0;
    ASSERT_EQ(target_.At(0, k % 50, k / 50), expected) << k;
  }
}

} // namespace

// The rasteriser's own writers on a strip-file drawing: a filled square reaches the target only
// through the burn-in, with and without anti-aliasing.
TEST_F(StripTest, AFillIsBurntIn) {
  for (int32_t antiAlias : {0, 1}) {
    SCOPED_TRACE(antiAlias);
    device_->antiAlias = antiAlias;
    ASSERT_NE(Init(16, 16, 8, 0, 0, 0), nullptr);
    // Sub-pixel corners (0, 0) and (80, 80), closed: pixels 0..9 of rows 0..9 from the bottom.
    const int32_t starts[] = {0, 5};
    const int32_t points[] = {0, 0, 80, 0, 80, 80, 0, 80, 0, 0};
    ErrorSlot err;
    ASSERT_EQ(gfx::eevg_LOFiller(drawing_, 1, starts, points, Rgb(255, 0, 0), &err), 0)
        << Chain(err.get());
    EXPECT_EQ(eevg_DrawingEnd(drawing_, &err), 0) << Chain(err.get());
    // Device y runs upward: device row y is image row 15 - y.
    EXPECT_EQ(target_.At(0, 5, 15 - 5), 255);
    EXPECT_EQ(target_.At(0, 12, 15 - 5), 0);
    EXPECT_EQ(target_.At(0, 5, 15 - 12), 0);
    if (antiAlias) {
      EXPECT_EQ(target_.At(0, 0, 15), 208);
      EXPECT_EQ(target_.At(0, 10, 15 - 10), 16);
    } else {
      EXPECT_EQ(target_.At(0, 9, 15 - 9), 255);
      EXPECT_EQ(target_.At(0, 10, 15 - 9), 0);
    }
  }
}
