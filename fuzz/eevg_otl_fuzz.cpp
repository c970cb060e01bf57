// Random and mutated outline-font files through loading, glyph retrieval and the outline-font
// text engine: the input is the file; a hash of it chooses the device, the style (heights,
// spacings, angles, alignments with stretch, underline and shadow), the text and the polyline.
// Every call must return, and no pixel may be written outside the clip window.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../graphics/eevg_internal.h"
#include "eevg.h"
#include "eevg_fuzz_support.h"
#include "fuzz_support.h"

namespace {

using taviron::fuzz::NewColor;
using taviron::fuzz::NewFill;
using taviron::fuzz::NewLine;
using taviron::fuzz::Reader;

constexpr int32_t kWidth = 64, kHeight = 48;

// The folder the file is written to, on the font path after the font list of the DejaVu faces
// (the renderer sizes its font table by it).
const std::string &FontFile() {
  static const std::string path = [] {
    const std::string &folder = taviron::fuzz::ScratchDirectory();
    const std::string list = std::string(TAVIRON_DEJAVU_FDB_DIR) + ":" + folder;
    setenv("NORIX_FONT_PATH", list.c_str(), 1);
    return taviron::fuzz::ScratchFile("fuzz.otl");
  }();
  return path;
}

// Bytes for the choices, from a hash of the file.
struct Choices {
  uint8_t bytes[256];
  explicit Choices(const uint8_t *data, size_t size) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
    for (uint8_t &b : bytes) {
      h += 0x9e3779b97f4a7c15ull;
      uint64_t z = h;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
      b = static_cast<uint8_t>(z ^ (z >> 31));
    }
  }
};

Eevg_TextStyle *NewStyle(Reader &in) {
  Eevg_TextStyle *s = eevg_TextStyleCreate(nullptr);
  if (!s) return nullptr;
  s->fontName = estr_Duplicate("fuzz.otl");
  s->textHeight = in.Number(60);
  s->textSlant = in.Number(1);
  s->textChSpace = 1 + in.Number(1);
  s->textChExt = 1 + in.Number(1);
  s->textLnSpace = in.Number(1);
  s->textAngle = in.Number(7);
  s->yalign = in.Byte() % 4;
  const uint8_t x = in.Byte() % 5;
  s->xalign = x == 4 ? 5 : x;
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

// Text of up to 12 characters: mostly the file's own codes (first and last as its header has
// them), some spaces, line breaks and other bytes.
std::string NewText(Reader &in, const uint8_t *data, size_t size) {
  const int32_t first = size > 96 ? data[95] : 32, last = size > 96 ? data[96] : 126;
  const int32_t range = last >= first ? last - first + 1 : 95;
  std::string text;
  for (int n = in.Byte() % 13; n > 0; --n) {
    const uint8_t kind = in.Byte();
    if (kind < 180) text += static_cast<char>(std::max(1, (last >= first ? first : 32) + kind % range));
    else if (kind < 200) text += ' ';
    else if (kind < 230) text += (kind & 1) ? '\n' : '\r';
    else text += static_cast<char>(in.Byte() | 1);
  }
  return text;
}

int32_t Count(Eevg_Drawing *, int32_t, int32_t, Eerr_ErrorReport **) { return 0; }
int32_t CountCurve(Eevg_Drawing *, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, Eerr_ErrorReport **, ...) {
  return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string &path = FontFile();
  FILE *file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  const bool written = std::fwrite(data, 1, size, file) == size;
  std::fclose(file);
  if (!written) return 0;

  // The file into a table of its own.
  Eerr_ErrorReport *err = nullptr;
  uint8_t table[EEVG_LOADED_FONT_SIZE] = {};
  int32_t used = 0;
  if (eevg_FFReference("fuzz.otl", table, &used, 1, &err) >= 0) eevg_FFFree(eevg_FFFontGet(table, 0));
  eerr_DeleteErrorReportEx(&err);

  const Choices choices(data, size);
  Reader in{choices.bytes, sizeof choices.bytes};
  const int32_t deviceType = in.Byte() % 3 == 2 ? 2 : 0;
  taviron::fuzz::FuzzDrawing canvas(in, kWidth, kHeight, 70, deviceType);
  Eevg_Drawing *drawing = canvas.get();
  if (!drawing) return 0;
  const double range = canvas.zoom & 2 ? 1e9 : 80;
  Eevg_TextStyle *style = NewStyle(in);
  const std::string text = NewText(in, data, size);
  const Eevg_Coord at{in.Number(range), in.Number(range)};
  Egda_BaseData *positions = egda_BaseDataCreate(3, static_cast<int32_t>(text.size()) + 1, EGDA_TYPE_F64,
                                                 EGDA_MATRIX, nullptr, nullptr);
  Egda_BaseData *rect = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);

  eevg_DrawTextOTL(drawing, style, &at, text.c_str(), &err);
  eerr_DeleteErrorReportEx(&err);
  eevg_GetTextPositionsOTL(drawing, style, &at, text.c_str(), positions, &err);
  eerr_DeleteErrorReportEx(&err);
  double w, h, a;
  eevg_GetParagraphSizeOTL(drawing, text.c_str(), 0, 0, 0, &w, &h, &a, &err);
  eerr_DeleteErrorReportEx(&err);

  // Along a polyline put in the drawing's point buffer.
  const int32_t points = in.Byte() % 6;
  if (taviron::graphics::ReservePoints(drawing, points, 1)) {
    for (int32_t i = 0; i < 2 * points; ++i) drawing->points[i] = taviron::graphics::TruncateToInt32(in.Number(range * 8));
    drawing->pointCount = points;
    drawing->polygonCount = 1;
    drawing->polygonStarts[0] = 0;
    drawing->polygonStarts[1] = points;
    eevg_DrawTextOnPolyLineImageOTL(drawing, style, text.c_str(), in.Byte() & 1, rect, positions, &err);
    eerr_DeleteErrorReportEx(&err);
  }

  // Every glyph through the drawing's fixed-point matrix as the engine left it.
  for (int32_t code = 0; code < 256; ++code) {
    eevg_FFRetrieve(drawing, code, in.Number(range), in.Number(range), Count, Count, CountCurve, &err);
    eerr_DeleteErrorReportEx(&err);
  }

  // The font is read again from the next input's file.
  Eevg_Control *control = drawing->control;
  for (int32_t i = 0; control && i < control->loadedFontsUsed; ++i) eevg_FFFree(eevg_FFFontGet(control->loadedFonts, i));
  egda_BaseDataDelete(positions, nullptr);
  egda_BaseDataDelete(rect, nullptr);
  eevg_TextStyleFree(&style);
  return 0;
}
