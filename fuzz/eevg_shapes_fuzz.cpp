// Random shapes through the public drawing calls: the bytes choose the device (anti-aliased or
// not, pre-transformed mode and pixel size), then a sequence of points, polylines, polygons,
// ellipses and arcs with raw doubles (NaN, infinities and huge values included), random widths,
// dash patterns, line ends, joins and arrow heads. Every call must return, and no pixel may be
// written outside the clip window.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "../graphics/eevg_internal.h"
#include "eevg.h"
#include "efga.h"

namespace {

constexpr int32_t kWidth = 48, kHeight = 40;

struct Reader {
  const uint8_t *data;
  size_t size;
  size_t at = 0;
  bool More() const { return at < size; }
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  // Mostly moderate values, sometimes the raw bits of a double (NaN, infinities, huge).
  double Number(double range) {
    const uint8_t kind = Byte();
    if (kind < 200) return (static_cast<int>(Byte()) - 128) / 128.0 * range;
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = bits << 8 | Byte();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
};

struct Clip {
  int32_t xMin, yMin, xMax, yMax; // pixels, device y upward
};

Clip clip;

void CheckInside(const double *p) {
  const double column = p[0], y = kHeight - 1 - p[1];
  if (!(column >= clip.xMin && column <= clip.xMax && y >= clip.yMin && y <= clip.yMax)) {
    std::fprintf(stderr, "pixel (%g, %g) outside the clip window\n", p[0], p[1]);
    abort();
  }
}
void GetPixel(void *, Eevg_Color *c, const double *p, Eerr_ErrorReport **) {
  CheckInside(p);
  *c = {0, 255, 255, 255, 255};
}
void PutPixel(void *, const Eevg_Color *, const double *p, Eerr_ErrorReport **) { CheckInside(p); }
void PutVector(void *, const Eevg_Color *, const double *a, const double *b, Eerr_ErrorReport **) {
  CheckInside(a);
  CheckInside(b);
}

void FontPath() {
  static const bool done = [] {
    char dir[] = "/tmp/eevg_shapes_fuzzXXXXXX";
    if (!mkdtemp(dir)) return false;
    const std::string list = std::string(dir) + "/fontlist.fdb";
    if (FILE *f = std::fopen(list.c_str(), "w")) {
      std::fputs("version 3\n\"Fuzz\" fuzz \"Fuzz\" fuzz left_to_right \"Fuzz\" Outline\n", f);
      std::fclose(f);
    }
    setenv("NORIX_FONT_PATH", dir, 1);
    return true;
  }();
  (void)done;
}

Eevg_Color *NewColor(Reader &in) {
  Eevg_Color *c = eevg_ColorCreate(nullptr);
  if (c) *c = {0, in.Byte(), in.Byte(), in.Byte(), in.Byte() < 200 ? 255 : in.Byte()};
  return c;
}

Eevg_LineStyle *NewLine(Reader &in) {
  Eevg_LineStyle *style = eevg_LineStyleCreate(nullptr);
  if (!style) return nullptr;
  const int32_t lines = in.Byte() % 4;
  if (lines > 0 && eevg_LineCompositionCreate(lines, &style->composition, nullptr)) {
    for (int32_t i = 0; i < lines; ++i) {
      style->composition.data[i].color = NewColor(in);
      style->composition.data[i].width = in.Number(30);
    }
  }
  const int32_t dashes = in.Byte() % 4;
  for (int32_t i = 0; i < dashes; ++i) {
    const double mark = in.Number(20), space = in.Number(20);
    eevg_LinePatternSetValues(&style->pattern, i, mark, space, nullptr);
  }
  const uint8_t ends = in.Byte();
  style->startLineEnd = ends & 3;
  style->endLineEnd = ends >> 2 & 3;
  style->markEnd = ends >> 4 & 3;
  style->lineJoin = ends >> 6 & 3;
  if (in.Byte() & 1) {
    style->arrowEnd = eevg_ArrowEndCreate(nullptr);
    if (style->arrowEnd)
      eevg_ArrowEndSetValues(style->arrowEnd, in.Number(2), in.Number(2), in.Number(40),
                             in.Byte() & 1, in.Byte() & 1, nullptr);
  }
  return style;
}

Eevg_FillStyle *NewFill(Reader &in) {
  Eevg_FillStyle *style = eevg_FillStyleCreate(nullptr);
  if (!style) return nullptr;
  const uint8_t flags = in.Byte();
  style->fill = flags & 1;
  style->trace = flags >> 1 & 1;
  style->pattern = eevg_FillPatternCreate(nullptr);
  if (style->pattern) style->pattern->color = NewColor(in);
  if (style->trace) style->traceStyle = NewLine(in);
  return style;
}

Efga_CoordinateBlock *NewBlock(Reader &in, double range) {
  const int32_t parts = 1 + in.Byte() % 3;
  Efga_CoordinateBlock *block = efga_CoordBlockPtrCreate(parts, nullptr);
  if (!block) return nullptr;
  for (int32_t p = 0; p < parts; ++p) {
    const int32_t count = in.Byte() % 24;
    Eerr_ErrorReport *dropped = nullptr;
    block->parts[p] = egda_BaseDataCreate(2, count, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &dropped);
    eerr_DeleteErrorReportEx(&dropped);
    if (!block->parts[p]) continue;
    for (int32_t i = 0; i < count; ++i) {
      auto *xy = reinterpret_cast<double *>(block->parts[p]->origin +
                                            static_cast<size_t>(i) * block->parts[p]->pitch);
      xy[0] = in.Number(range);
      xy[1] = in.Number(range);
    }
  }
  return block;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FontPath();
  Reader in{data, size};
  Eerr_ErrorReport *err = nullptr;
  Eevg_Control *control = eevg_Init(&err);
  eerr_DeleteErrorReportEx(&err);
  if (!control) return 0;
  Eevg_DeviceInfo device{};
  device.width = kWidth;
  device.height = kHeight;
  device.lineWidthUnit = 1 + in.Byte() % 3;
  device.antiAlias = in.Byte() & 1;
  Eevg_Coord lowerLeft{0, 0}, upperRight{kWidth - 1, kHeight - 1};
  Eevg_WorldInfo world{&lowerLeft, &upperRight};
  Eevg_GrIOInfo io{};
  io.getPixel = GetPixel;
  io.putPixel = PutPixel;
  io.putVector = PutVector;
  Eevg_Drawing *drawing = eevg_DrawingInit(control, &device, &world, &io, &err);
  eerr_DeleteErrorReportEx(&err);
  if (!drawing) return 0;
  // A world window other than the device's, and a clip window inside the device.
  const uint8_t zoom = in.Byte();
  if (zoom & 1) eevg_World(drawing, in.Number(100), in.Number(100), in.Number(100), in.Number(100), &err);
  eerr_DeleteErrorReportEx(&err);
  const Eevg_Coord corner1{in.Number(60), in.Number(60)}, corner2{in.Number(60), in.Number(60)};
  eevg_SetClipWindow(drawing, &corner1, &corner2, &err);
  eerr_DeleteErrorReportEx(&err);
  clip = {drawing->clipXMin, drawing->clipYMin, drawing->clipXMax, drawing->clipYMax};
  if (zoom & 2) {
    eevg_DrawingSetPixelSize(drawing, in.Byte() % 4, in.Byte() % 4);
    eevg_DrawingSetUsingWorldTransform(drawing, 1 + (in.Byte() & 1));
  }
  const double range = zoom & 4 ? 1e12 : 80;

  for (int shapes = 0; shapes < 8 && in.More(); ++shapes) {
    switch (in.Byte() % 5) {
    case 0: {
      Eevg_Color *colour = NewColor(in);
      const Eevg_Coord at{in.Number(range), in.Number(range)};
      eevg_DrawPoint(drawing, colour, &at, &err);
      eevg_ColorFree(&colour);
      break;
    }
    case 1: {
      Eevg_LineStyle *style = NewLine(in);
      Efga_CoordinateBlock *block = NewBlock(in, range);
      eevg_DrawPolyLine(drawing, style, in.Byte() & 1, block, &err);
      efga_CoordBlockDelete(block, nullptr);
      eevg_LineStyleFree(&style);
      break;
    }
    case 2: {
      Eevg_FillStyle *style = NewFill(in);
      Efga_CoordinateBlock *block = NewBlock(in, range);
      eevg_DrawPolygon(drawing, style, block, &err);
      efga_CoordBlockDelete(block, nullptr);
      eevg_FillStyleFree(&style);
      break;
    }
    case 3: {
      Eevg_FillStyle *style = NewFill(in);
      const Eevg_Coord centre{in.Number(range), in.Number(range)};
      eevg_DrawEllipse(drawing, style, &centre, in.Number(range), in.Number(range), in.Number(7),
                       &err);
      eevg_FillStyleFree(&style);
      break;
    }
    default: {
      Eevg_FillStyle *style = NewFill(in);
      const Eevg_Coord centre{in.Number(range), in.Number(range)};
      eevg_DrawEllipticalArc(drawing, style, &centre, in.Number(range), in.Number(range),
                             in.Number(7), in.Number(7), in.Number(7), in.Byte() % 4, &err);
      eevg_FillStyleFree(&style);
      break;
    }
    }
    eerr_DeleteErrorReportEx(&err);
  }
  eevg_DrawingFree(&drawing, &err);
  eerr_DeleteErrorReportEx(&err);
  return 0;
}
