// What the text files of the renderer share: the text path, the layout passes and the checked
// calls of the font servers.
#ifndef TAVIRON_GRAPHICS_EEVG_TEXT_INTERNAL_H
#define TAVIRON_GRAPHICS_EEVG_TEXT_INTERNAL_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <type_traits>
#include <unordered_map>

#include "eevg.h"
#include "eevg_fontserver.h"
#include "eevg_internal.h"
#include "emsc.h"
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

inline constexpr Eevg_DeviceColor kNoColour{0, 0, 0, 0, 0};

// A style's colour as the rasteriser carries it (zero for none).
inline Eevg_DeviceColor DeviceColour(const Eevg_Color *c) {
  return c ? Eevg_DeviceColor{c->red, c->green, c->blue, c->index, c->opacity} : kNoColour;
}

// What loads a font into a font table: eevg_TextFontGet (font servers) or eevg_FFReference
// (outline-font files).
//
// The tables (the control record's, shared by every drawing, and any other a caller hands in) are
// read and filled by the loaders from any thread: a lookup holds this lock shared; a load holds it
// alone from its second lookup (another thread may have loaded the font meanwhile) until its slot
// is filled and counted. A slot once filled is not changed while its font is loaded.
std::shared_mutex &FontTableMutex();
using FontLoader = int32_t (*)(const char *fontFileName, uint8_t *fontTable, int32_t *used,
                               int32_t capacity, Eerr_ErrorReport **err);

// Prepares the drawing's text controls for the style, loading its font ("Unable to Load Font",
// code 4, under eevg_InitializeTextControls). False after a report.
bool PrepareTextControls(Eevg_Drawing *drawing, Eevg_TextStyle *style, Eerr_ErrorReport **err,
                         FontLoader load = eevg_TextFontGet);

// The switches, colours, fill pattern and outline width of a main drawing pass, from the style's
// character fill style (and shadow switch).
void MainPassColours(Eevg_Drawing *drawing);

// The first baseline of point text in sub-pixels (two points) for the paragraph's width, height
// and first-line ascent (world units), aligned and turned by the style about the location; false
// for an alignment the text calls do not know.
bool PointBaseline(const Eevg_Drawing *drawing, const Eevg_TextStyle *style, const Eevg_Coord *at,
                   double width, double height, double ascent, int32_t *points);

// Where a glyph's fill or outline failures are reported: the reporter, codes and messages (each
// message may take the character as "%u").
struct GlyphReports {
  const char *reporter;
  int32_t fillCode;
  const char *fill;
  int32_t traceCode;
  const char *trace;
  int32_t memoryCode;
  const char *memory;
};
// Fills and outlines the glyph held in the drawing's point buffers (sub-pixels, one start per
// contour and a closing start) by the drawing's switches, colours and fill order (without the
// fill when withFill is false); glyphs outside the clip window are skipped, glyphs far beyond it
// cut to it. 0, or -1 with a report.
int32_t PaintGlyph(Eevg_Drawing *drawing, char16_t character, const GlyphReports &reports,
                   Eerr_ErrorReport **err, bool withFill = true);

// ---------------------------------------------------------------------------------------------
// The glyph cache

// What makes a glyph's outline apart from where it is drawn: the font (its slot's server number
// and handle), the character, the mapping of the font onto the page and the curve flattening.
struct GlyphShape {
  int32_t server, handle;
  uint32_t character;
  int32_t flatness, curveShift, curveSecond;
  double matrix[6];
};
static_assert(sizeof(GlyphShape) == 6 * sizeof(int32_t) + 6 * sizeof(double), "no padding in the key");

// A glyph cached for an origin's phase: (phaseX, phaseY) is the origin modulo 8 sub-pixels, even
// (origins are rounded to the filler's quarter-pixel grid).
struct GlyphKey {
  GlyphShape shape;
  int32_t phaseX, phaseY;
  bool operator==(const GlyphKey &other) const;
};
struct GlyphKeyHash {
  std::size_t operator()(const GlyphKey &key) const;
};

// The coverage of a glyph's pixels as the filler gives it (16 a sample, 255 for a pixel covered
// whole; row after row from the bottom) and where its lower-left pixel lies from the pixel of
// the glyph's origin. An empty glyph has no pixels.
struct GlyphMask {
  int32_t left = 0, bottom = 0, width = 0, height = 0;
  int32_t stride = 0; // bytes from row to row, uncovered pixels beyond the width
  std::unique_ptr<uint8_t[]> cover;
  std::size_t Bytes() const;
};

// The glyphs kept, at most `capacity` bytes of them (their counts and their bookkeeping), the
// least recently used leaving first. Thread-safe; a glyph found stays valid for its holder after
// it leaves.
class GlyphCache {
 public:
  explicit GlyphCache(std::size_t capacity) : capacity_(capacity) {}
  std::shared_ptr<const GlyphMask> Find(const GlyphKey &key);
  // Keeps the glyph (replacing one of the same key); one larger than the whole cache is not kept.
  void Keep(const GlyphKey &key, std::shared_ptr<const GlyphMask> mask);
  // Drops every glyph of the font.
  void Forget(int32_t server, int32_t handle);
  std::size_t Bytes() const;
  std::size_t Count() const;

 private:
  struct Entry {
    GlyphKey key;
    std::shared_ptr<const GlyphMask> mask;
  };
  void Drop(std::list<Entry>::iterator entry);
  mutable std::mutex mutex_;
  std::list<Entry> entries_; // the most recently used first
  std::unordered_map<GlyphKey, std::list<Entry>::iterator, GlyphKeyHash> index_;
  std::size_t bytes_ = 0;
  const std::size_t capacity_;
};

// The process's glyph cache (EEVG_GLYPH_CACHE_BYTES).
GlyphCache &Glyphs();

// Puts the glyph's outline into the drawing's emptied point buffers with its origin at (x, y)
// sub-pixels (one start per contour and a closing start). False after a report.
struct GlyphOutline {
  bool (*make)(void *context, Eevg_Drawing *drawing, double x, double y, Eerr_ErrorReport **err);
  void *context;
};

// How the text engines draw glyphs: from the glyph cache (the default), or, for tests, the plain
// way at the glyph's own origin or at the origin rounded as the cache rounds it.
enum GlyphDrawing : int32_t { kCachedGlyphs = 0, kPlainGlyphs = 1, kPlainSnappedGlyphs = 2 };

// Draws the glyph with its origin at (x, y) sub-pixels by the drawing's switches, colours and
// fill order: its fill from the glyph cache with the origin rounded to the filler's sample grid
// (made by the outline and the scan filler when missing), its outline traced from the outline at
// that origin. Where the cache cannot serve (a device that takes polygons, no fill, a glyph
// wider than the device or beyond the safe range) the glyph is outlined at (x, y) and painted
// as PaintGlyph does. 0, or -1 with a report.
int32_t DrawGlyph(Eevg_Drawing *drawing, const GlyphShape &shape, double x, double y,
                  const GlyphOutline &outline, const GlyphReports &reports, Eerr_ErrorReport **err);
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

// The drawing's point buffers set aside while glyph outlines use fresh ones; put back (the fresh
// ones freed) when the holder goes.
class PointsAside {
 public:
  explicit PointsAside(Eevg_Drawing *d) : d_(d) {}
  PointsAside(const PointsAside &) = delete;
  PointsAside &operator=(const PointsAside &) = delete;
  bool Move(Eerr_ErrorReport **err) {
    eevg_MovePointsToLocalPointers(d_, err, &polygonCount_, &startCapacity_, &starts_, &pointCount_,
                                   &pointCapacity_, &points_);
    moved_ = !(err && *err) && points_ && starts_;
    return moved_;
  }
  ~PointsAside() {
    if (!moved_) return;
    emsc_HeapFree(d_->points);
    emsc_HeapFree(d_->polygonStarts);
    d_->points = points_;
    d_->polygonStarts = starts_;
    d_->pointCount = pointCount_;
    d_->pointCapacity = pointCapacity_;
    d_->polygonCount = polygonCount_;
    d_->polygonStartCapacity = startCapacity_;
  }
  // Every point set aside, and the first part of them.
  const int32_t *All(int32_t &count) const {
    count = pointCount_;
    return points_;
  }
  const int32_t *FirstPart(int32_t &count) const {
    count = polygonCount_ > 0 ? std::clamp(starts_[1] - starts_[0], 0, pointCount_) : 0;
    return count > 0 ? points_ + 2 * static_cast<std::ptrdiff_t>(starts_[0]) : nullptr;
  }

 private:
  Eevg_Drawing *d_;
  bool moved_ = false;
  int32_t polygonCount_ = 0, startCapacity_ = 0, pointCount_ = 0, pointCapacity_ = 0;
  int32_t *starts_ = nullptr, *points_ = nullptr;
};

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
