// The file device: graphics-output callbacks that draw into unsigned 8-bit raster layers, and the
// RGB pixel rectangles of its blocks.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <algorithm>

#include "eevg.h"
#include "eevg_internal.h"
#include "eimg.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

// The user data of the file device.
struct RGBLayerDescription {
  int32_t colorMode;
  Eimg_Layer *red;
  Eimg_Layer *green;
  Eimg_Layer *blue;
  Egda_BaseData *pixelRect; // one by one, made on the first single-pixel write
};

constexpr const char *kNoDescription = "Invalid input RGB LayerDescription";

// A pixel coordinate truncated toward zero, held inside the 32-bit range.
int32_t Truncate(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// Writes one pixel of the colour at (column, row) into the description's layers.
bool PlacePixel(RGBLayerDescription *description, const Eevg_Color *color, int32_t column,
                int32_t row, Eerr_ErrorReport **err) {
  static const char *reporter = "placePixel";
  lower::Clear(err);
  if (!description) {
    lower::Report(err, reporter, 1, kNoDescription);
    return false;
  }
  if (!color) {
    lower::Report(err, reporter, 2, "Invalid input color");
    return false;
  }
  Egda_BaseData *&rect = description->pixelRect;
  if (rect && (rect->rows != 1 || rect->columns != 1 || rect->pixelType != EGDA_TYPE_U8)) {
    Eerr_ErrorReport *inner = nullptr;
    eimg_PixelRectDelete(rect, &inner);
    rect = nullptr;
    if (inner) {
      lower::ReportChained(err, inner, reporter, 3, "Error returned from eimg_PixelRectDelete");
      return false;
    }
  }
  if (!rect) {
    Eerr_ErrorReport *inner = nullptr;
    rect = eimg_PixelRectCreate(1, 1, EGDA_TYPE_U8, &inner);
    if (!rect) {
      lower::ReportChained(err, inner, reporter, 4, "Error returned from eimg_PixelRectCreate");
      return false;
    }
  }
  struct Plane {
    Eimg_Layer *layer;
    int32_t value;
    int32_t missingCode, writeCode;
    const char *missing, *failed;
  };
  // Writes the value of each plane into its layer.
  auto write = [&](const Plane *planes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const Plane &plane = planes[i];
      if (!plane.layer) {
        lower::Report(err, reporter, plane.missingCode, "%s", plane.missing);
        return false;
      }
      *rect->origin = static_cast<uint8_t>(plane.value & 0xff);
      Eerr_ErrorReport *inner = nullptr;
      if (eimg_LayerRasterPixelRectSet(plane.layer, column, row, 1, 1, rect, &inner) != 0) {
        lower::ReportChained(err, inner, reporter, plane.writeCode, "%s", plane.failed);
        return false;
      }
    }
    return true;
  };
  if (description->colorMode == EEVG_PSEUDOCOLOR) {
    const Plane index[] = {{description->red, color->index, 5, 6, "Invalid input red Layer description",
                            "Error returned from edms_PutPixel"}};
    return write(index, 1);
  }
  if (description->colorMode != EEVG_TRUECOLOR) {
    lower::Report(err, reporter, 13, "Invalid colorMode");
    return false;
  }
  const Plane planes[] = {
      {description->red, color->red, 7, 8, "Invalid input red Layer description",
       "Error returned from edms_PutPixel for red"},
      {description->green, color->green, 9, 10, "Invalid input green Layer description",
       "Error returned from edms_PutPixel for green"},
      {description->blue, color->blue, 11, 12, "Invalid input blue Layer description",
       "Error returned from edms_PutPixel for blue"},
  };
  return write(planes, 3);
}

void PutPixel(void *userData, const Eevg_Color *color, const double *position,
              Eerr_ErrorReport **err) {
  static const char *reporter = "putPixel";
  lower::Clear(err);
  if (!color) {
    lower::Report(err, reporter, 1, "Invalid input color");
    return;
  }
  if (!position) {
    lower::Report(err, reporter, 2, "Invalid input 1st coordinate");
    return;
  }
  Eerr_ErrorReport *inner = nullptr;
  if (!PlacePixel(static_cast<RGBLayerDescription *>(userData), color, Truncate(position[0]),
                  Truncate(position[1]), &inner))
    lower::ReportCallee(err, inner, reporter, 3, "placePixel");
}

void PutVector(void *userData, const Eevg_Color *color, const double *first, const double *second,
               Eerr_ErrorReport **err) {
  static const char *reporter = "putVector";
  lower::Clear(err);
  if (!first) {
    lower::Report(err, reporter, 1, "Invalid input 1st coordinate");
    return;
  }
  if (!second) {
    lower::Report(err, reporter, 2, "Invalid input 2nd coordinate");
    return;
  }
  struct Pen {
    RGBLayerDescription *description;
    const Eevg_Color *color;
    Eerr_ErrorReport *inner;
    int64_t placed;
  } pen{static_cast<RGBLayerDescription *>(userData), color, nullptr, 0};
  const bool done = taviron::graphics::WalkVector(
      Truncate(first[0]), Truncate(first[1]), Truncate(second[0]), Truncate(second[1]),
      [](void *context, int32_t x, int32_t y) {
        auto *p = static_cast<Pen *>(context);
        if (!PlacePixel(p->description, p->color, x, y, &p->inner)) return false;
        ++p->placed;
        return true;
      },
      &pen);
  if (!done)
    lower::ReportCallee(err, pen.inner, reporter, pen.placed == 0 ? 3 : 4,
                        pen.placed == 0 ? "placePixel for first pixel" : "placePixel");
}

// The block's columns x0..x1 and rows y0..y1 of two corner positions.
struct Block {
  int32_t x0, y0, width, height;
};

bool BlockOf(const double *upperLeft, const double *lowerRight, Block &block) {
  const int64_t x0 = Truncate(upperLeft[0]), y0 = Truncate(upperLeft[1]);
  const int64_t width = static_cast<int64_t>(Truncate(lowerRight[0])) - x0 + 1;
  const int64_t height = static_cast<int64_t>(Truncate(lowerRight[1])) - y0 + 1;
  if (width > INT32_MAX || height > INT32_MAX) return false;
  block = {static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(width),
           static_cast<int32_t>(height)};
  return true;
}

Eevg_RGBPixelRect *GetBlock(void *userData, Eevg_RGBPixelRect *rect, const double *upperLeft,
                            const double *lowerRight, Eerr_ErrorReport **err) {
  static const char *reporter = "getBlock";
  lower::Clear(err);
  auto *description = static_cast<RGBLayerDescription *>(userData);
  if (!description) {
    lower::Report(err, reporter, 1, kNoDescription);
    return nullptr;
  }
  if (!upperLeft) {
    lower::Report(err, reporter, 2, "Invalid input upperLeft coordinate");
    return nullptr;
  }
  if (!lowerRight) {
    lower::Report(err, reporter, 3, "Invalid input lowerRight coordinate");
    return nullptr;
  }
  Block block{};
  if (!BlockOf(upperLeft, lowerRight, block)) block.width = block.height = -1; // refused below
  Eerr_ErrorReport *inner = nullptr;
  Eevg_RGBPixelRect *result =
      eevg_RGBPixelRectCreateWithData(rect, block.width, block.height, description->colorMode, &inner);
  if (!result || inner) {
    lower::ReportChained(err, inner, reporter, 4, "Error returned from eevg_RGBPixelRectCreateWithData");
    return rect;
  }
  struct Plane {
    Eimg_Layer *layer;
    Egda_BaseData *pixels;
    int32_t missingCode, readCode;
    const char *missing, *failed;
  } planes[] = {
      {description->red, result->red, 5, 6, "Invalid input red Layer description",
       "Error returned from edms_GetPixelRectangle for red"},
      {description->green, result->green, 7, 8, "Invalid input green Layer description",
       "Error returned from edms_GetPixelRectangle for green"},
      {description->blue, result->blue, 9, 10, "Invalid input blue Layer description",
       "Error returned from edms_GetPixelRectangle for blue"},
  };
  const int32_t planeCount = description->colorMode == EEVG_TRUECOLOR ? 3 : 1;
  for (int32_t i = 0; i < planeCount; ++i) {
    const Plane &plane = planes[i];
    bool ok = plane.layer != nullptr;
    if (!ok)
      lower::Report(err, reporter, plane.missingCode, "%s", plane.missing);
    else if (eimg_LayerRasterPixelRectGet(plane.layer, block.x0, block.y0, block.width, block.height,
                                          plane.pixels, &inner) != 0) {
      lower::ReportChained(err, inner, reporter, plane.readCode, "%s", plane.failed);
      ok = false;
    }
    if (!ok) {
      if (result != rect) {
        eimg_PixelRectDelete(result->red, nullptr);
        eimg_PixelRectDelete(result->green, nullptr);
        eimg_PixelRectDelete(result->blue, nullptr);
        eevg_RGBPixelRectFree(&result);
        return nullptr;
      }
      return rect;
    }
  }
  return result;
}

int32_t PutBlock(void *userData, Eevg_RGBPixelRect *rect, const double *upperLeft,
                 const double *lowerRight, Eerr_ErrorReport **err) {
  static const char *reporter = "putBlock";
  lower::Clear(err);
  auto *description = static_cast<RGBLayerDescription *>(userData);
  if (!description) {
    lower::Report(err, reporter, 1, kNoDescription);
    return -1;
  }
  if (!rect) {
    lower::Report(err, reporter, 2, "Invalid input RGBPixelRect");
    return -1;
  }
  if (!upperLeft) {
    lower::Report(err, reporter, 3, "Invalid input upperLeft coordinate");
    return -1;
  }
  if (!lowerRight) {
    lower::Report(err, reporter, 4, "Invalid input lowerRight coordinate");
    return -1;
  }
  Block block{};
  const bool sized = BlockOf(upperLeft, lowerRight, block);
  struct Plane {
    Eimg_Layer *layer;
    const Egda_BaseData *pixels;
    int32_t badCode, writeCode;
    const char *bad, *failed;
  } planes[] = {
      {description->red, rect->red, 5, 6, "Invalid input red PixelRect",
       "Error returned from edms_PutPixelRectangle for red"},
      {description->green, rect->green, 7, 8, "Invalid input green PixelRect",
       "Error returned from edms_PutPixelRectangle for green"},
      {description->blue, rect->blue, 9, 10, "Invalid input blue PixelRect",
       "Error returned from edms_PutPixelRectangle for blue"},
  };
  for (int32_t i = 0; i < 3; ++i) {
    if (i == 1) {
      if (description->colorMode == EEVG_PSEUDOCOLOR) return 0;
      if (description->colorMode != EEVG_TRUECOLOR) {
        lower::Report(err, reporter, 11, "Invalid colorMode");
        return -1;
      }
    }
    const Plane &plane = planes[i];
    if (!sized || !plane.pixels || plane.pixels->columns != block.width ||
        plane.pixels->rows != block.height) {
      lower::Report(err, reporter, plane.badCode, "%s", plane.bad);
      return -1;
    }
    Eerr_ErrorReport *inner = nullptr;
    if (!plane.layer) {
      lower::Report(&inner, reporter, plane.writeCode, "Invalid input %s Layer description",
                    i == 0 ? "red" : (i == 1 ? "green" : "blue"));
    } else if (eimg_LayerRasterPixelRectSet(plane.layer, block.x0, block.y0, block.width, block.height,
                                            plane.pixels, &inner) == 0) {
      continue;
    }
    lower::ReportChained(err, inner, reporter, plane.writeCode, "%s", plane.failed);
    return -1;
  }
  return 0;
}

int32_t DrawingEnd(void *userData, Eerr_ErrorReport **err) {
  static const char *reporter = "drawingEnd ";
  lower::Clear(err);
  auto *description = static_cast<RGBLayerDescription *>(userData);
  if (!description) {
    lower::Report(err, reporter, 1, kNoDescription);
    return -1;
  }
  struct Plane {
    Eimg_Layer *layer;
    int32_t missingCode, flushCode;
    const char *missing, *failed;
  } planes[] = {
      {description->red, 2, 3, "Invalid input red Layer description",
       "Error returned from edms_FlushDMS for red layer"},
      {description->green, 4, 5, "Invalid input green PixelRect",
       "Error returned from edms_FlushDMS for green layer"},
      {description->blue, 6, 7, "Invalid input blue PixelRect",
       "Error returned from edms_FlushDMS for blue layer"},
  };
  for (int32_t i = 0; i < 3; ++i) {
    if (i == 1) {
      if (description->colorMode == EEVG_PSEUDOCOLOR) return 0;
      if (description->colorMode != EEVG_TRUECOLOR) {
        lower::Report(err, reporter, 8, "Invalid colorMode");
        return -1;
      }
    }
    const Plane &plane = planes[i];
    if (!plane.layer) {
      lower::Report(err, reporter, plane.missingCode, "%s", plane.missing);
      return -1;
    }
    Eerr_ErrorReport *inner = nullptr;
    if (eimg_LayerRasterFlush(plane.layer, 4, &inner) != 0) {
      lower::ReportChained(err, inner, reporter, plane.flushCode, "%s", plane.failed);
      return -1;
    }
  }
  return 0;
}

void FreeDescription(Eevg_GrIOInfo *record) {
  if (!record) return;
  auto *description = static_cast<RGBLayerDescription *>(record->userData);
  if (description) {
    eimg_PixelRectDelete(description->pixelRect, nullptr);
    emsc_HeapFree(description);
  }
  record->userData = nullptr;
}

// Replaces a plane of another size by one of width x height (or only deletes it when keep is
// false); false with a report from the codes given.
bool SizePlane(Egda_BaseData *&plane, bool keep, int32_t width, int32_t height, int32_t deleteCode,
               int32_t createCode, const char *colour, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_RGBPixelRectCreateWithData";
  if (plane && (!keep || plane->columns != width || plane->rows != height)) {
    Eerr_ErrorReport *inner = nullptr;
    eimg_PixelRectDelete(plane, &inner);
    plane = nullptr;
    if (inner) {
      lower::ReportChained(err, inner, reporter, deleteCode, "Error returned from eimg_PixelRectDelete for %s", colour);
      return false;
    }
  }
  if (keep && !plane) {
    Eerr_ErrorReport *inner = nullptr;
    plane = eimg_PixelRectCreate(width, height, EGDA_TYPE_U8, &inner);
    if (!plane) {
      lower::ReportChained(err, inner, reporter, createCode, "Error returned from eimg_PixelRectCreate for %s", colour);
      return false;
    }
  }
  return true;
}

} // namespace

namespace taviron::graphics {

bool WalkVector(int32_t firstX, int32_t firstY, int32_t secondX, int32_t secondY,
                bool (*place)(void *context, int32_t x, int32_t y), void *context) {
  int64_t x0 = firstX, y0 = firstY, x1 = secondX, y1 = secondY;
  if (y0 > y1) {
    std::swap(x0, x1);
    std::swap(y0, y1);
  }
  // Start at (x1, y1), the end with the larger row (the second end when the rows are equal).
  const int64_t dx = std::llabs(x0 - x1), dy = std::llabs(y0 - y1);
  const int64_t major = std::max(dx, dy), minor = std::min(dx, dy);
  const int64_t stepX = x0 > x1 ? 1 : (x0 < x1 ? -1 : 0);
  const int64_t stepY = y0 > y1 ? 1 : (y0 < y1 ? -1 : 0);
  const int64_t straightX = dy < dx ? stepX : 0, straightY = dy < dx ? 0 : stepY;
  int64_t x = x1, y = y1;
  if (!place(context, static_cast<int32_t>(x), static_cast<int32_t>(y))) return false;
  int64_t accumulator = major / 2;
  for (int64_t i = 0; i < major; ++i) {
    accumulator += minor;
    if (accumulator > major) {
      x += stepX;
      y += stepY;
      accumulator -= major;
    } else {
      x += straightX;
      y += straightY;
    }
    if (!place(context, static_cast<int32_t>(x), static_cast<int32_t>(y))) return false;
  }
  return true;
}

} // namespace taviron::graphics

extern "C" {

Eevg_RGBPixelRect *eevg_RGBPixelRectCreateWithData(Eevg_RGBPixelRect *rect, int32_t width,
                                                   int32_t height, int32_t colorMode,
                                                   Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_RGBPixelRectCreateWithData";
  lower::Clear(err);
  Eevg_RGBPixelRect *made = nullptr;
  if (!rect) {
    Eerr_ErrorReport *inner = nullptr;
    rect = made = eevg_RGBPixelRectCreate(&inner);
    if (!rect) {
      lower::ReportCallee(err, inner, reporter, 1, "eevg_RGBPixelRectCreate");
      return nullptr;
    }
  }
  bool ok = SizePlane(rect->red, true, width, height, 2, 3, "red", err);
  if (ok) {
    if (colorMode == EEVG_TRUECOLOR) {
      ok = SizePlane(rect->green, true, width, height, 4, 5, "green", err) &&
           SizePlane(rect->blue, true, width, height, 6, 7, "blue", err);
    } else if (colorMode == EEVG_PSEUDOCOLOR) {
      ok = SizePlane(rect->green, false, width, height, 8, 0, "green", err) &&
           SizePlane(rect->blue, false, width, height, 9, 0, "blue", err);
    } else {
      lower::Report(err, reporter, 10, "Invalid colorMode");
      ok = false;
    }
  }
  if (!ok && made) {
    eimg_PixelRectDelete(made->red, nullptr);
    eimg_PixelRectDelete(made->green, nullptr);
    eimg_PixelRectDelete(made->blue, nullptr);
    eevg_RGBPixelRectFree(&made);
    return nullptr;
  }
  return rect;
} TAVIRON_GUARD(err, nullptr)

Eevg_GrIOInfo *eevg_GrIOInfoInitFile(int32_t colorMode, Eimg_Layer *red, Eimg_Layer *green,
                                     Eimg_Layer *blue, Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_GrIOInfoInitFile";
  lower::Clear(err);
  if (!red) {
    lower::Report(err, reporter, 1, "Invalid input red Layer");
    return nullptr;
  }
  if (red->pixelType != EGDA_TYPE_U8) {
    lower::Report(err, reporter, 2, "Input red Layer is not unsigned 8-bit data");
    return nullptr;
  }
  if (colorMode == EEVG_TRUECOLOR) {
    if (!green) {
      lower::Report(err, reporter, 3, "Invalid input green Layer");
      return nullptr;
    }
    if (green->pixelType != EGDA_TYPE_U8) {
      lower::Report(err, reporter, 4, "Input green Layer is not unsigned 8-bit data");
      return nullptr;
    }
    if (!blue) {
      lower::Report(err, reporter, 5, "Invalid input blue Layer");
      return nullptr;
    }
    if (blue->pixelType != EGDA_TYPE_U8) {
      lower::Report(err, reporter, 6, "Input blue Layer is not unsigned 8-bit data");
      return nullptr;
    }
  } else if (colorMode != EEVG_PSEUDOCOLOR) {
    lower::Report(err, reporter, 7, "Invalid input colorMode");
    return nullptr;
  }
  Eerr_ErrorReport *inner = nullptr;
  Eevg_GrIOInfo *record = eevg_GrIOInfoCreate(&inner);
  if (!record) {
    lower::ReportCallee(err, inner, reporter, 8, "eevg_GrIOInfoCreate");
    return nullptr;
  }
  auto *description = static_cast<RGBLayerDescription *>(emsc_HeapMalloc(sizeof(RGBLayerDescription)));
  if (!description) {
    eevg_GrIOInfoFree(&record);
    lower::Report(err, reporter, 9, "Error allocating RGBLayerDescription");
    return nullptr;
  }
  *description = {colorMode, red, green, blue, nullptr};
  record->userData = description;
  record->putPixel = PutPixel;
  record->putVector = PutVector;
  record->getBlock = GetBlock;
  record->putBlock = PutBlock;
  record->drawingEnd = DrawingEnd;
  record->free = FreeDescription;
  return record;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
