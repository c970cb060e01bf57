// The drawing record: set-up and tear-down, world transform, clip window, conversions, override
// colour and the point buffers.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "eevg.h"
#include "eevg_internal.h"
#include "efio.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;
namespace gfx = taviron::graphics;

namespace {

constexpr const char *kNullDrawing = "NULL Eevg Drawing Pointer";

template <typename T> T *Allocate(std::size_t count) {
  return static_cast<T *>(emsc_HeapMalloc(count * sizeof(T)));
}

Eevg_DeviceColor DeviceColor(const Eevg_Color &color) {
  return {color.red, color.green, color.blue, color.index, color.opacity};
}

// Frees everything the drawing owns but the strip file, and the record.
void FreeDrawing(Eevg_Drawing *drawing) {
  gfx::FreeGlyphBlock(drawing);
  emsc_HeapFree(drawing->polygonStarts);
  emsc_HeapFree(drawing->points);
  emsc_HeapFree(drawing->scanLineBuffer);
  emsc_HeapFree(drawing->curveStack);
  emsc_HeapFree(drawing->lineColours);
  emsc_HeapFree(drawing->textColours);
  emsc_HeapFree(drawing->widePolygonBuffer);
  emsc_HeapFree(drawing->widePoints);
  emsc_HeapFree(drawing->dashes);
  emsc_HeapFree(drawing->subDashes);
  emsc_HeapFree(drawing->widths);
  emsc_HeapFree(drawing->subWidths);
  emsc_HeapFree(drawing->drawWidths);
  emsc_HeapFree(drawing->wideRing);
  emsc_HeapFree(drawing->wideWork);
  emsc_HeapFree(drawing->lineDashWork);
  emsc_HeapFree(drawing->partPhases);
  emsc_HeapFree(drawing);
}

// Stores a pixel clip window after checking that it overlaps the device; reports "Nonsense Clip
// Window" under eevg_SetClipWindow.
bool SetClipPixels(Eevg_Drawing *drawing, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                   Eerr_ErrorReport **err) {
  const int32_t xMin = std::min(x1, x2), xMax = std::max(x1, x2);
  const int32_t yMin = std::min(y1, y2), yMax = std::max(y1, y2);
  const int32_t right = drawing->deviceWidth - 1, top = drawing->deviceHeight - 1;
  // A device without pixels has no window to overlap.
  if (right < 0 || top < 0 || xMax < 0 || yMax < 0 || xMin > right || yMin > top) {
    lower::Report(err, "eevg_SetClipWindow", 1, "Nonsense Clip Window");
    return false;
  }
  drawing->clipXMin = std::max(xMin, 0);
  drawing->clipYMin = std::max(yMin, 0);
  drawing->clipXMax = std::min(xMax, right);
  drawing->clipYMax = std::min(yMax, top);
  drawing->subClipXMin = drawing->clipXMin << drawing->subPixelShift;
  drawing->subClipYMin = drawing->clipYMin << drawing->subPixelShift;
  drawing->subClipXMax = drawing->clipXMax << drawing->subPixelShift;
  drawing->subClipYMax = drawing->clipYMax << drawing->subPixelShift;
  return true;
}

// A world coordinate in whole device pixels from the window's first corner, truncated; values
// outside the 32-bit range are held at its ends so that the overlap test still sees them.
int32_t TruncatedPixel(double value) {
  if (std::isnan(value)) return INT32_MIN;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

} // namespace

namespace taviron::graphics {

bool ReservePoints(Eevg_Drawing *drawing, int32_t points, int32_t parts) {
  if (points < 0 || parts < 0) return false;
  int32_t pointCapacity = drawing->pointCapacity;
  if (points > pointCapacity) {
    const int64_t grown = static_cast<int64_t>(pointCapacity) + pointCapacity / 2;
    pointCapacity = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(grown, points), INT32_MAX / 8));
    if (pointCapacity < points) return false;
  }
  int32_t partCapacity = drawing->polygonStartCapacity;
  if (parts > partCapacity) {
    const int64_t grown = static_cast<int64_t>(partCapacity) + partCapacity / 2;
    partCapacity = static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(grown, parts), INT32_MAX / 4 - 1));
    if (partCapacity < parts) return false;
  }
  if (pointCapacity != drawing->pointCapacity) {
    void *grown = emsc_HeapRealloc(drawing->points, static_cast<std::size_t>(pointCapacity) * 2 * sizeof(int32_t));
    if (!grown) return false;
    drawing->points = static_cast<int32_t *>(grown);
    drawing->pointCapacity = pointCapacity;
  }
  if (partCapacity != drawing->polygonStartCapacity) {
    void *grown = emsc_HeapRealloc(drawing->polygonStarts,
                                   (static_cast<std::size_t>(partCapacity) + 1) * sizeof(int32_t));
    if (!grown) return false;
    drawing->polygonStarts = static_cast<int32_t *>(grown);
    drawing->polygonStartCapacity = partCapacity;
  }
  return true;
}

} // namespace taviron::graphics

extern "C" {

Eevg_Drawing *eevg_DrawingInit(Eevg_Control *control, Eevg_DeviceInfo *device,
                               Eevg_WorldInfo *world, Eevg_GrIOInfo *grIOInfo,
                               Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_DrawingInit";
  lower::Clear(err);
  if (!control) {
    lower::Report(err, reporter, 1, "NULL Eevg Control Pointer");
    return nullptr;
  }
  if (!device) {
    lower::Report(err, reporter, 2, "NULL Eevg Device Pointer");
    return nullptr;
  }
  if (!world) {
    lower::Report(err, reporter, 3, "NULL Eevg World Pointer");
    return nullptr;
  }
  if (!grIOInfo) {
    lower::Report(err, reporter, 4, "NULL Eevg Graphics Pointer");
    return nullptr;
  }
  if (device->deviceType == 1 && (!grIOInfo->getBlock || !grIOInfo->putBlock)) {
    lower::Report(err, reporter, 14, "NULL Eevg Graphics Get/Put Block Pointer");
    return nullptr;
  }
  if (device->antiAlias && device->deviceType != 1 && (!grIOInfo->getPixel || !grIOInfo->putPixel)) {
    lower::Report(err, reporter, 15, "NULL Eevg Graphics Get/Put Pixel Pointer");
    return nullptr;
  }
  // The strip file holds 16-bit sizes and cuts the image into strips and blocks.
  if (device->deviceType == 1 && (device->stripRows < 1 || device->burnInValue < 1 ||
                                  device->width > 65535 || device->height > 65535)) {
    lower::Report(err, reporter, 16, "Invalid strip file device description");
    return nullptr;
  }

  auto *drawing = Allocate<Eevg_Drawing>(1);
  if (drawing) {
    drawing->lineColours = Allocate<Eevg_DeviceColor>(1);
    drawing->textColours = Allocate<Eevg_DeviceColor>(1);
    drawing->dashes = Allocate<double>(4);
    drawing->subDashes = Allocate<int32_t>(4);
    drawing->widths = Allocate<double>(2);
    drawing->subWidths = Allocate<int32_t>(2);
    drawing->drawWidths = Allocate<int32_t>(2);
    drawing->widePolygonBuffer = Allocate<uint8_t>(gfx::kWidePolygonBufferSize);
  }
  if (!drawing || !drawing->lineColours || !drawing->textColours || !drawing->dashes ||
      !drawing->subDashes || !drawing->widths || !drawing->subWidths || !drawing->drawWidths ||
      !drawing->widePolygonBuffer) {
    if (drawing) FreeDrawing(drawing);
    lower::Report(err, reporter, 5, "Error allocating Eevg Drawing Record");
    return nullptr;
  }
  drawing->control = control;
  drawing->grIOInfo = grIOInfo;
  drawing->deviceWidth = device->width;
  drawing->deviceHeight = device->height;
  drawing->pointCapacity = gfx::kInitialPointCapacity;
  drawing->polygonStartCapacity = gfx::kInitialPointCapacity;
  drawing->lineColourCapacity = 1;
  drawing->textColourCapacity = 1;
  drawing->dashCapacity = 2;
  drawing->widthCapacity = 2;
  drawing->overrideActive = 0;
  drawing->opaqueFallback = 1;
  drawing->wideLastX = -32000;
  drawing->wideLastY = -32000;

  if (device->colorMode != EEVG_TRUECOLOR && device->colorMode != EEVG_PSEUDOCOLOR) {
    FreeDrawing(drawing);
    lower::Report(err, reporter, 6, "Invalid Drawing Color Mode");
    return nullptr;
  }
  drawing->pseudoColour = device->colorMode == EEVG_PSEUDOCOLOR ? 1 : 0;

  drawing->lineWidthUnit = device->lineWidthUnit;
  drawing->antiAlias = device->antiAlias;
  if (!device->antiAlias) drawing->antiAliasMask = 7;
  drawing->deviceType2 = device->deviceType == 2 ? 1 : 0;
  drawing->stripFileInUse = device->deviceType == 1 ? 1 : 0;
  drawing->deviceXMax = device->width - 1;
  drawing->deviceYMax = device->height - 1;
  drawing->subPixelShift = gfx::kSubPixelShift;
  {
    Eerr_ErrorReport *inner = nullptr;
    if (!SetClipPixels(drawing, 0, 0, drawing->deviceXMax, drawing->deviceYMax, &inner)) {
      FreeDrawing(drawing);
      lower::ReportChained(err, inner, reporter, 7, "Error setting drawing clip window");
      return nullptr;
    }
  }

  drawing->curveShift = 1;
  drawing->curveSecond = 1;
  drawing->curveFlatness = 2;
  drawing->curveStackCapacity = gfx::kCurveStackCapacity;
  drawing->curveStack = Allocate<int32_t>(static_cast<std::size_t>(gfx::kCurveStackCapacity) * 8);
  if (!drawing->curveStack) {
    FreeDrawing(drawing);
    lower::Report(err, reporter, 8, "Error allocating drawing local stack");
    return nullptr;
  }

  {
    Eerr_ErrorReport *inner = nullptr;
    if (world->lowerLeft && world->upperRight)
      eevg_World(drawing, world->lowerLeft->x, world->lowerLeft->y, world->upperRight->x,
                 world->upperRight->y, &inner);
    if (inner || !world->lowerLeft || !world->upperRight) {
      FreeDrawing(drawing);
      lower::ReportChained(err, inner, reporter, 10, "Error setting world for drawing");
      return nullptr;
    }
  }

  drawing->points = Allocate<int32_t>(static_cast<std::size_t>(drawing->pointCapacity) * 2);
  if (!drawing->points) {
    FreeDrawing(drawing);
    lower::Report(err, reporter, 11, "Error allocating drawing polygon point buffer");
    return nullptr;
  }
  drawing->polygonStarts = Allocate<int32_t>(static_cast<std::size_t>(drawing->polygonStartCapacity) + 1);
  if (!drawing->polygonStarts) {
    FreeDrawing(drawing);
    lower::Report(err, reporter, 12, "Error allocating drawing text point buffer");
    return nullptr;
  }

  drawing->deviceCopy = *device;
  drawing->grIOInfoCopy = *grIOInfo;
  drawing->worldLowerLeft = world->lowerLeft;
  drawing->worldUpperRight = world->upperRight;

  if (device->deviceType == 1) {
    char *name = efio_TempNameInTmpdir("htfT.");
    if (!name || std::strlen(name) >= sizeof drawing->stripFileName) {
      emsc_HeapFree(name);
      FreeDrawing(drawing);
      lower::Report(err, reporter, 13, "Unable to allocate htfFileName");
      return nullptr;
    }
    std::strcpy(drawing->stripFileName, name);
    emsc_HeapFree(name);
    Eerr_ErrorReport *inner = nullptr;
    if (gfx::StripFileOpen(drawing, device->colorMode == EEVG_TRUECOLOR ? 3 : 1, &inner) != 0) {
      FreeDrawing(drawing);
      lower::ReportChained(err, inner, reporter, 14, "Unable to Complete HTF Initialization");
      return nullptr;
    }
  }

  drawing->textFillOrder = gfx::PreferredTextFillOrder();
  drawing->mitreLimit = std::max(gfx::PreferredMitreLimit(), 1.0);
  drawing->opaqueFallback =
      (!grIOInfo->putSpan && !grIOInfo->putPixelOpacity && !grIOInfo->putVectorOpacity) ? 1 : 0;
  return drawing;
} TAVIRON_GUARD(err, nullptr)

int32_t eevg_DrawingEnd(Eevg_Drawing *drawing, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!drawing) {
    lower::Report(err, "eevg_DrawingEnd", 1, kNullDrawing);
    return -1;
  }
  // The device ends its drawing (and flushes what it holds) even when the strip file failed;
  // both failures reach the caller, the device's above the strip file's.
  bool stripFailed = false;
  lower::CalleeReport strip;
  if (drawing->stripFileInUse && drawing->stripFile) {
    const int32_t bands = drawing->deviceCopy.colorMode == EEVG_TRUECOLOR ? 3 : 1;
    drawing->pseudoColour = bands == 3 ? 0 : 1;
    // A file that was not released whole is not burnt in.
    stripFailed = gfx::StripFileRelease(drawing, &strip) != 0 ||
                  gfx::StripFileBurnIn(drawing, bands, &strip) != 0;
  }
  int32_t result = 0;
  lower::CalleeReport ended;
  if (drawing->grIOInfo && drawing->grIOInfo->drawingEnd)
    result = drawing->grIOInfo->drawingEnd(drawing->grIOInfo->userData, &ended);
  lower::PassOn(err, strip);
  lower::PassOn(err, ended);
  return stripFailed && result == 0 ? -1 : result;
} TAVIRON_GUARD(err, -1)

void eevg_DrawingFree(Eevg_Drawing **drawing, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!drawing || !*drawing) {
    lower::Report(err, "eevg_DrawingFree", 1, kNullDrawing);
    return;
  }
  if ((*drawing)->stripFile) gfx::StripFileRelease(*drawing, err);
  // A strip file that was not burnt in (or whose burn-in never ran) is not kept.
  if ((*drawing)->stripFileInUse && (*drawing)->stripFileName[0])
    efio_FileUnlink((*drawing)->stripFileName, nullptr);
  FreeDrawing(*drawing);
  *drawing = nullptr;
} TAVIRON_GUARD_VOID(err)

uint8_t *eevg_DrawingGetScanLineBuf(Eevg_Drawing *drawing, Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_DrawingGetScanLineBuf";
  lower::Clear(err);
  if (!drawing) {
    lower::Report(err, reporter, 1, kNullDrawing);
    return nullptr;
  }
  if (!drawing->scanLineBuffer) {
    drawing->scanLineBuffer =
        Allocate<uint8_t>(static_cast<std::size_t>(std::max(drawing->deviceWidth, 1)));
    if (!drawing->scanLineBuffer)
      lower::Report(err, reporter, 9, "Error allocating drawing scan line buffer");
  }
  return drawing->scanLineBuffer;
} TAVIRON_GUARD(err, nullptr)

void eevg_World(Eevg_Drawing *drawing, double x1, double y1, double x2, double y2,
                Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_World";
  lower::Clear(err);
  if (!drawing) {
    lower::Report(err, reporter, 1, kNullDrawing);
    return;
  }
  const double dx = x2 - x1, dy = y2 - y1;
  if (!(std::fabs(dx) >= 1e-10) || !(std::fabs(dy) >= 1e-10)) {
    lower::Report(err, reporter, 2, "Invalid World Coordinate System");
    return;
  }
  drawing->worldX1 = x1;
  drawing->worldY1 = y1;
  drawing->worldX2 = x2;
  drawing->worldY2 = y2;
  drawing->scaleX = (drawing->deviceWidth - 1) / dx;
  drawing->scaleY = (drawing->deviceHeight - 1) / dy;
  drawing->offsetX = -x1 * drawing->scaleX + 0.5;
  drawing->offsetY = -y1 * drawing->scaleY + 0.5;
  drawing->inverseScaleX = 1.0 / drawing->scaleX;
  drawing->inverseScaleY = 1.0 / drawing->scaleY;
  drawing->originX = x1;
  drawing->originY = y1;
} TAVIRON_GUARD_VOID(err)

void eevg_SetClipWindow(Eevg_Drawing *drawing, const Eevg_Coord *corner1,
                        const Eevg_Coord *corner2, Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_SetClipWindow";
  lower::Clear(err);
  if (!drawing) {
    lower::Report(err, reporter, 1, kNullDrawing);
    return;
  }
  if (!corner1 || !corner2) {
    lower::Report(err, reporter, 3, "Invalid input clip window corner");
    return;
  }
  const int32_t x1 = TruncatedPixel((corner1->x - drawing->worldX1) * drawing->scaleX);
  const int32_t y1 = TruncatedPixel((corner1->y - drawing->worldY1) * drawing->scaleY);
  const int32_t x2 = TruncatedPixel((corner2->x - drawing->worldX1) * drawing->scaleX);
  const int32_t y2 = TruncatedPixel((corner2->y - drawing->worldY1) * drawing->scaleY);
  if (!SetClipPixels(drawing, x1, y1, x2, y2, err))
    lower::Report(err, reporter, 2, "Error setting Clip Window for drawing");
} TAVIRON_GUARD_VOID(err)

void eevg_PointConvertToDevice(Eevg_Drawing *drawing, double x, double y, double *dx, double *dy,
                               Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!drawing) {
    lower::Report(err, "eevg_PointConvertToDevice", 1, kNullDrawing);
    return;
  }
  if (dx) *dx = (x - drawing->worldX1) * drawing->scaleX;
  if (dy) *dy = (y - drawing->worldY1) * drawing->scaleY;
} TAVIRON_GUARD_VOID(err)

void eevg_PointScaleToDevice(Eevg_Drawing *drawing, double x, double y, double *dx, double *dy,
                             Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!drawing) {
    lower::Report(err, "eevg_PointScaleToDevice", 1, kNullDrawing);
    return;
  }
  if (dx) *dx = x * drawing->scaleX;
  if (dy) *dy = y * drawing->scaleY;
} TAVIRON_GUARD_VOID(err)

void eevg_DrawingGetDeviceSize(Eevg_Drawing *drawing, int32_t *width, int32_t *height,
                               Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!drawing) {
    lower::Report(err, "eevg_DrawingGetDeviceSize", 1, kNullDrawing);
    return;
  }
  if (width) *width = drawing->deviceWidth;
  if (height) *height = drawing->deviceHeight;
} TAVIRON_GUARD_VOID(err)

int32_t eevg_LineUnitsToPixels(Eevg_Drawing *drawing, double value) try {
  if (!drawing) return 0;
  double pixels;
  switch (drawing->lineWidthUnit & 0xffff) {
  case 1: pixels = value; break;
  case 2: pixels = drawing->deviceWidth * value / 1000.0; break;
  case 3: pixels = drawing->scaleX * value; break;
  default: return 0;
  }
  return TruncatedPixel(pixels * 8.0);
} TAVIRON_GUARD_QUIET(0)

void eevg_DrawingSetPixelSize(Eevg_Drawing *drawing, int32_t sizeX, int32_t sizeY) try {
  if (!drawing) return;
  drawing->pixelSizeX = sizeX;
  drawing->pixelSizeY = sizeY;
} TAVIRON_GUARD_QUIET_VOID

void eevg_DrawingSetUsingWorldTransform(Eevg_Drawing *drawing, int32_t flag) try {
  if (drawing) drawing->usingWorldTransform = flag;
} TAVIRON_GUARD_QUIET_VOID

int32_t eevg_TestOpaque(int32_t opacity) try { return opacity > 254 ? 1 : 0; } TAVIRON_GUARD_QUIET(0)

void eevg_ColorOverride(Eevg_Drawing *drawing, const Eevg_Color *color, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!drawing) {
    lower::Report(err, "eevg_OverrideColor", 1, kNullDrawing);
    return;
  }
  if (!color) {
    drawing->overrideActive = 0;
    return;
  }
  drawing->overrideActive = 1;
  drawing->overrideColour = *color;
  drawing->overrideDeviceColour = DeviceColor(*color);
} TAVIRON_GUARD_VOID(err)

void eevg_MovePointsToLocalPointers(Eevg_Drawing *drawing, Eerr_ErrorReport **err,
                                    int32_t *polygonCount, int32_t *polygonStartCapacity,
                                    int32_t **polygonStarts, int32_t *pointCount,
                                    int32_t *pointCapacity, int32_t **points) try {
  static const char *reporter = "eevg_MovePointsToLocalPointers";
  lower::Clear(err);
  if (!drawing) {
    lower::Report(err, reporter, 1, kNullDrawing);
    return;
  }
  if (!polygonCount || !polygonStartCapacity || !polygonStarts || !pointCount || !pointCapacity ||
      !points) {
    lower::Report(err, reporter, 2, "Invalid output pointer");
    return;
  }
  auto *freshStarts = Allocate<int32_t>(static_cast<std::size_t>(drawing->polygonStartCapacity) + 1);
  if (!freshStarts) {
    lower::Report(err, reporter, 5, "Unable to allocate temporary polstarts array");
    return;
  }
  auto *freshPoints = Allocate<int32_t>(static_cast<std::size_t>(drawing->pointCapacity) * 2);
  if (!freshPoints) {
    emsc_HeapFree(freshStarts);
    lower::Report(err, reporter, 6, "Unable to allocate temporary points array");
    return;
  }
  *polygonCount = drawing->polygonCount;
  *polygonStartCapacity = drawing->polygonStartCapacity;
  *polygonStarts = drawing->polygonStarts;
  *pointCount = drawing->pointCount;
  *pointCapacity = drawing->pointCapacity;
  *points = drawing->points;
  drawing->polygonStarts = freshStarts;
  drawing->points = freshPoints;
  drawing->polygonCount = 0;
  drawing->pointCount = 0;
} TAVIRON_GUARD_VOID(err)

} // extern "C"
