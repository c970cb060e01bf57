// What the text files of the renderer share: the text path, the layout passes and the checked
// calls of the font servers.
#ifndef TAVIRON_GRAPHICS_EEVG_TEXT_INTERNAL_H
#define TAVIRON_GRAPHICS_EEVG_TEXT_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "eevg.h"
#include "eevg_fontserver.h"
#include "eevg_internal.h"
#include "ownership.h"

// A polyline in sub-pixels that text is laid along, and the walk along it.
struct Eevg_TextPath {
  Eevg_Drawing *drawing; // borrowed
  int32_t segment;       // the segment the pen is on (its first point)
  double penX, penY;     // sub-pixels
  double sideX, sideY;   // the pen reached by the last step less the character's side space
  double dirX, dirY;     // unit vector of the current segment
  double remaining;      // length left on the current segment, font units
  int32_t alignment;     // 0 start, 1 centre, 2 end
  int32_t pointCount;
  const int32_t *points; // borrowed from the caller
  int32_t workCount;
  const int32_t *work;   // the points offset by the pass
  Eevg_TextPath *walker; // the line walker in use
};

namespace taviron::graphics::text {

// How the engine's work arrays grow: to the size asked, no further (they keep the size of the
// largest text so far), at most 2^28 entries.
inline constexpr lower::Growth kWorkGrowth{.first = 16, .limit = 1 << 28, .exact = true};

// A result matrix of doubles as the measurements write it: element (row, column).
struct ResultView {
  uint8_t *origin = nullptr;
  std::ptrdiff_t column = 0, row = 0;
  int32_t rows = 0, columns = 0;
  void Set(int32_t r, int32_t c, double value) const;
};
// A view of a matrix of doubles of at least minRows rows; false for anything else.
bool ViewResult(Egda_BaseData *matrix, int32_t minRows, ResultView &view);

// Prepares the drawing's text controls for the style, loading its font ("Unable to Load Font",
// code 4, under eevg_InitializeTextControls). False after a report.
bool PrepareTextControls(Eevg_Drawing *drawing, Eevg_TextStyle *style, Eerr_ErrorReport **err);
// True when every character is below 32 (an empty text too).
bool OnlyControls(const char16_t *text);
template <typename Char> bool OnlyControlChars(const Char *text) {
  for (; *text; ++text)
    if (static_cast<uint32_t>(static_cast<std::make_unsigned_t<Char>>(*text)) >= 32) return false;
  return true;
}
// The number of position columns the text fills: its characters less one per CR LF or LF CR
// pair, plus one (every line's end position, line breaks taking none).
int32_t PositionColumns(const char16_t *text);

// The engine's passes over a text path; each returns 0, or -1 with a report.
int32_t DrawPass(Eevg_Drawing *drawing, const char16_t *text, Eevg_TextPath *path,
                 Eerr_ErrorReport **err);
// Writes the positions that fall inside the view; *written gets the columns filled.
int32_t PositionPass(Eevg_Drawing *drawing, const char16_t *text, Eevg_TextPath *path,
                     const ResultView &view, int32_t *written, Eerr_ErrorReport **err);
// box: min x, min y, max x, max y in sub-pixels.
int32_t BoxPass(Eevg_Drawing *drawing, const char16_t *text, Eevg_TextPath *path, int32_t *box,
                Eerr_ErrorReport **err);

// The paragraph's width, height and first-line ascent in world units (the text controls
// prepared). False after a report.
bool ParagraphSize(Eevg_Drawing *drawing, const char16_t *text, double &width, double &height,
                   double &ascent, Eerr_ErrorReport **err);

// The font's server with its values checked (the text controls prepared). Each returns false
// after a report.
Eevg_FontServer *ServerOf(const Eevg_Drawing *drawing, Eerr_ErrorReport **err);
// The em value in font units: positive.
bool ServerEm(Eevg_Drawing *drawing, int32_t &em, Eerr_ErrorReport **err);
// Ascent and descent in sub-pixels: not negative.
bool ServerLineMetrics(Eevg_Drawing *drawing, double &ascent, double &descent,
                       Eerr_ErrorReport **err);
// A width or side space in font units, truncated: a finite number within +-2^30.
bool ServerUnits(const Eevg_Drawing *drawing, double value, const char *what, int32_t &units,
                 Eerr_ErrorReport **err);
// Asks the server for the glyph's outline into the drawing's emptied point buffers and closes
// them (one start per contour, a closing start equal to the point count). Refuses an outline
// that does not match what came through the outline sink.
bool ServerOutline(Eevg_Drawing *drawing, char16_t character, Eerr_ErrorReport **err);

} // namespace taviron::graphics::text

#endif
