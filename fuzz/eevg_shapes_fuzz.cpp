// Random shapes through the public drawing calls: the bytes choose the device (anti-aliased or
// not, pre-transformed mode and pixel size, blending translucent colours itself or not), then a
// sequence of points, polylines, polygons,
// ellipses and arcs with raw doubles (NaN, infinities and huge values included), random widths,
// dash patterns, line ends, joins and arrow heads. Every call must return, and no pixel may be
// written outside the clip window.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../graphics/eevg_internal.h"
#include "eevg.h"
#include "efga.h"
#include "eevg_fuzz_support.h"
#include "fuzz_support.h"

namespace {

constexpr int32_t kWidth = 48, kHeight = 40;

using taviron::fuzz::Reader;
using taviron::fuzz::NewColor;
using taviron::fuzz::NewBlock;
using taviron::fuzz::NewFill;
using taviron::fuzz::NewLine;

// A font list of one entry, so that the font machinery the shapes reach finds a list.
void FontPath() {
  static const bool done = [] {
    const std::string list = taviron::fuzz::ScratchFile("fontlist.fdb");
    if (FILE *f = std::fopen(list.c_str(), "w")) {
      std::fputs("version 3\n\"Fuzz\" fuzz \"Fuzz\" fuzz left_to_right \"Fuzz\" Outline\n", f);
      std::fclose(f);
    }
    setenv("NORIX_FONT_PATH", taviron::fuzz::ScratchDirectory().c_str(), 1);
    return true;
  }();
  (void)done;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FontPath();
  Reader in{data, size};
  taviron::fuzz::FuzzDrawing canvas(in, kWidth, kHeight, 60);
  Eevg_Drawing *drawing = canvas.get();
  if (!drawing) return 0;
  const uint8_t zoom = canvas.zoom;
  Eerr_ErrorReport *err = nullptr;
  if (zoom & 2) {
    // Every value is read into a local first: the order in which a call's arguments are
    // evaluated differs between compilers, and an input must decode the same with each.
    const int32_t pixelWidth = in.Byte() % 4;
    const int32_t pixelHeight = in.Byte() % 4;
    eevg_DrawingSetPixelSize(drawing, pixelWidth, pixelHeight);
    eevg_DrawingSetUsingWorldTransform(drawing, 1 + (in.Byte() & 1));
  }
  const double range = zoom & 4 ? 1e12 : 80;
  if (zoom & 8) {
    // A device that blends translucent pixels and runs itself (and leaves polygons to the filler).
    Eevg_GrIOInfo *io = drawing->grIOInfo;
    io->putPixelOpacity = [](void *, const Eevg_Color *, const double *p, Eerr_ErrorReport **) {
      taviron::fuzz::CheckInside(p);
      return 1;
    };
    io->putVectorOpacity = [](void *, const Eevg_Color *, const double *a, const double *b,
                              Eerr_ErrorReport **) {
      taviron::fuzz::CheckInside(a);
      taviron::fuzz::CheckInside(b);
      return 1;
    };
    io->putPolygonOpacity = [](void *, Eevg_FillPattern *, int32_t, const int32_t *,
                               const int32_t *, Eerr_ErrorReport **) { return 0; };
  }

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
      const double semiAxisX = in.Number(range);
      const double semiAxisY = in.Number(range);
      const double rotation = in.Number(7);
      eevg_DrawEllipse(drawing, style, &centre, semiAxisX, semiAxisY, rotation, &err);
      eevg_FillStyleFree(&style);
      break;
    }
    default: {
      Eevg_FillStyle *style = NewFill(in);
      const Eevg_Coord centre{in.Number(range), in.Number(range)};
      const double semiAxisX = in.Number(range);
      const double semiAxisY = in.Number(range);
      const double rotation = in.Number(7);
      const double startAngle = in.Number(7);
      const double endAngle = in.Number(7);
      const int32_t arcType = in.Byte() % 4;
      eevg_DrawEllipticalArc(drawing, style, &centre, semiAxisX, semiAxisY, rotation, startAngle,
                             endAngle, arcType, &err);
      eevg_FillStyleFree(&style);
      break;
    }
    }
    eerr_DeleteErrorReportEx(&err);
  }
  eerr_DeleteErrorReportEx(&err);
  return 0;
}
