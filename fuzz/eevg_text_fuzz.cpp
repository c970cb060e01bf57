// Random text through the text calls with the DejaVu Sans face of the FreeType font server: the
// bytes choose the device, the style's numbers (heights, slants, spacings, extensions, angles,
// alignments, shadow and underline, NaN, infinities and huge values included), the UTF-16 text
// (line breaks and control characters among its units), point locations and polylines. Every
// call must return, and no pixel may be written outside the clip window.
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

namespace {

using taviron::fuzz::NewBlock;
using taviron::fuzz::NewColor;
using taviron::fuzz::NewFill;
using taviron::fuzz::NewLine;
using taviron::fuzz::Reader;

constexpr int32_t kWidth = 64, kHeight = 48;

// Text of up to 24 units: mostly printable, with line breaks, controls and wide units.
std::u16string NewText(Reader &in) {
  std::u16string text;
  for (int n = in.Byte() % 25; n > 0; --n) {
    const uint8_t kind = in.Byte();
    if (kind < 180) text += static_cast<char16_t>(32 + kind % 95);
    else if (kind < 210) text += (kind & 1) ? u'\n' : u'\r';
    else if (kind < 230) text += static_cast<char16_t>(1 + kind % 31);
    else {
      const uint8_t high = in.Byte(); // in this order with every compiler
      const uint8_t low = in.Byte();
      text += static_cast<char16_t>(high << 8 | low);
    }
  }
  return text;
}

Eevg_TextStyle *NewStyle(Reader &in) {
  Eevg_TextStyle *s = eevg_TextStyleCreate(nullptr);
  if (!s) return nullptr;
  s->fontName = estr_Duplicate("DejaVuSans");
  s->textHeight = in.Number(40);
  s->textSlant = in.Number(2);
  s->textChSpace = 1 + in.Number(1);
  s->textChExt = 1 + in.Number(1);
  s->textLnSpace = in.Number(1);
  s->textAngle = in.Number(7);
  s->yalign = in.Byte() % 4;
  s->xalign = in.Byte() % 4;
  s->charFillStyle = NewFill(in);
  const uint8_t extras = in.Byte();
  if (extras & 1) {
    s->underline = 1;
    s->underlineStyle = NewLine(in);
    s->underlineDist = in.Number(10);
  }
  if (extras & 2) {
    s->shadow = 1;
    s->shadowPattern = eevg_FillPatternCreate(nullptr);
    if (s->shadowPattern) s->shadowPattern->color = NewColor(in);
    s->dropShadowX = in.Number(10);
    s->dropShadowY = in.Number(10);
  }
  return s;
}

void Environment() {
  static const bool done = [] {
    setenv("NORIX_FONT_PATH", TAVIRON_DEJAVU_FDB_DIR, 1);
    setenv("NORIX_FONT_SERVERS_PATH", TAVIRON_FONT_SERVERS_DIR, 1);
    return true;
  }();
  (void)done;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Environment();
  Reader in{data, size};
  const int32_t deviceType = in.Byte() % 3 == 2 ? 2 : 0;
  taviron::fuzz::FuzzDrawing canvas(in, kWidth, kHeight, 70, deviceType);
  Eevg_Drawing *drawing = canvas.get();
  if (!drawing) return 0;
  const uint8_t zoom = canvas.zoom;
  Eerr_ErrorReport *err = nullptr;
  const double range = zoom & 2 ? 1e12 : 80;

  for (int calls = 0; calls < 4 && in.More(); ++calls) {
    Eevg_TextStyle *style = NewStyle(in);
    const std::u16string text = NewText(in);
    const Eevg_Coord at{in.Number(range), in.Number(range)};
    Egda_BaseData *result = egda_BaseDataCreate(3, static_cast<int32_t>(text.size()) + 1, EGDA_TYPE_F64,
                                                EGDA_MATRIX, nullptr, nullptr);
    switch (in.Byte() % 6) {
    case 0: eevg_DrawTextUC(drawing, style, &at, text.c_str(), &err); break;
    case 1: {
      Efga_CoordinateBlock *block = NewBlock(in, range);
      eevg_DrawTextOnPolyLineUC(drawing, style, block, text.c_str(), &err);
      efga_CoordBlockDelete(block, nullptr);
      break;
    }
    case 2: eevg_GetTextPositionsUC(drawing, style, &at, text.c_str(), result, &err); break;
    case 3: eevg_GetTextBoundRectUC(drawing, style, &at, text.c_str(), result, &err); break;
    case 4: {
      Efga_CoordinateBlock *block = NewBlock(in, range);
      eevg_GetTextOnPolyLinePositionsUC(drawing, style, block, text.c_str(), result, &err);
      eerr_DeleteErrorReportEx(&err);
      eevg_GetTextOnPolyLineBoundRectUC(drawing, style, block, text.c_str(), result, &err);
      efga_CoordBlockDelete(block, nullptr);
      break;
    }
    default: {
      char *narrow = estr_Unicode2Ascii(text.c_str());
      double w, h, a, d;
      if (narrow) eevg_GetTextSizes(drawing, style, narrow, &w, &h, &a, &d, &err);
      emsc_HeapFree(narrow);
      break;
    }
    }
    eerr_DeleteErrorReportEx(&err);
    egda_BaseDataDelete(result, nullptr);
    eevg_TextStyleFree(&style);
  }
  return 0;
}
