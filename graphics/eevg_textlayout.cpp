// The text layout engine: text controls, string initialisation, line splitting, advance widths,
// text paths and the line walker, and the passes that draw, position or box the glyphs along a
// path in sub-pixels.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "eevg.h"
#include "eevg_text_internal.h"
#include "emsc.h"
#include "internal.h"
#include "ownership.h"

namespace lower = taviron::lower;
namespace gfx = taviron::graphics;
namespace text = taviron::graphics::text;

namespace {

struct Line {
  const char16_t *start;
  int32_t count;
};

// The engine's work arrays, one set per thread; they only grow, and go with the thread. Text
// layout is not reentrant.
struct LayoutArrays {
  LayoutArrays() = default;
  LayoutArrays(const LayoutArrays &) = delete;
  LayoutArrays &operator=(const LayoutArrays &) = delete;
  ~LayoutArrays() {
    for (void *block : {static_cast<void *>(lines), static_cast<void *>(widths), static_cast<void *>(work),
                        static_cast<void *>(walkerPoints), static_cast<void *>(stage[0]),
                        static_cast<void *>(stage[1]), static_cast<void *>(cut)})
      emsc_HeapFree(block);
  }
  Line *lines = nullptr;
  int32_t lineCapacity = 0;
  int32_t *widths = nullptr; // advance widths of the line, font units
  int32_t widthCapacity = 0;
  int32_t *work = nullptr; // the path's points offset by the pass (two integers each)
  int32_t workCapacity = 0;
  int32_t *walkerPoints = nullptr;
  int32_t walkerCapacity = 0;
  Eevg_TextPath walker{};
  // Glyph rings cut to a rectangle: two stages of one ring, and all the rings cut.
  int32_t *stage[2] = {nullptr, nullptr};
  int32_t stageCapacity[2] = {0, 0};
  int32_t *cut = nullptr;
  int32_t cutCapacity = 0;
};
thread_local LayoutArrays arrays;

using text::DeviceColour;
using text::kNoColour;

int32_t Truncate(double value) { return gfx::TruncateToInt32(value); }

// A mapped coordinate kept within the range the rasteriser computes safely.
int32_t Clamp(double value) {
  const double limit = gfx::kShapeSafeLimit;
  if (std::isnan(value)) return 0;
  return static_cast<int32_t>(std::trunc(std::clamp(value, -limit, limit)));
}

// ---------------------------------------------------------------------------------------------
// String initialisation, lines and widths

bool StringInit(Eevg_Drawing *d, Eerr_ErrorReport **err) {
  Eevg_TextControls &t = d->text;
  Eevg_FontServer *server = text::ServerOf(d, err);
  int32_t em = 0;
  if (!server || !text::ServerEm(d, em, err)) return false;
  t.em = em;
  const double S = static_cast<double>(d->deviceHeight) * (1 << d->subPixelShift);
  const double shear = t.heightFactor * t.slantTangent * S / em;
  const double ys = t.heightFactor * S / em;
  const double xs = t.heightFactor * t.charExtension * S / em;
  const double root = std::sqrt(ys * xs - 0 * shear);
  const double uniform = xs * root / std::fabs(xs);
  if (!std::isfinite(shear) || !std::isfinite(uniform) || xs == 0 || ys == 0) {
    lower::Report(err, "eevg_TextStringInit", 3,
                  "Text height %g with character extension %g cannot be laid out",
                  t.style ? t.style->textHeight : 0.0, t.charExtension);
    return false;
  }
  t.glyphMatrix[0] = shear;
  t.glyphMatrix[1] = ys;
  t.glyphMatrix[2] = xs;
  t.glyphMatrix[3] = 0;
  t.pathMatrix[0] = xs;
  t.pathMatrix[1] = 0;
  t.pathMatrix[2] = 0;
  t.pathMatrix[3] = uniform;
  t.extraSpacingUnits = Truncate(static_cast<double>(t.extraSpacing) * em / 1000.0);
  lower::CalleeReport ignored;
  server->textStringInit(d, &ignored);
  return true;
}

bool IsBreak(char16_t c) { return c == u'\n' || c == u'\r'; }

// Cuts the text at NUL, LF and CR (CR LF and LF CR are one break) into arrays.lines, ended by
// {null, 0}; a text ending in a break has a last empty line.
bool SplitLines(const char16_t *text, int32_t &count, Eerr_ErrorReport **err) {
  int64_t lines = 1, length = 0;
  for (const char16_t *p = text; *p; ++p, ++length)
    if (IsBreak(*p)) {
      ++lines;
      if (IsBreak(p[1]) && p[1] != p[0]) ++p, ++length;
    }
  if (length > INT32_MAX / 4 ||
      !lower::Grow(arrays.lines, arrays.lineCapacity, lines + 1, sizeof(*arrays.lines), text::kWorkGrowth)) {
    lower::Report(err, "eevg_TextSplitLines", 1, "Unable to allocate the line list");
    return false;
  }
  int32_t n = 0;
  const char16_t *start = text;
  for (const char16_t *p = text;; ++p) {
    if (*p != 0 && !IsBreak(*p)) continue;
    arrays.lines[n++] = {start, static_cast<int32_t>(p - start)};
    if (*p == 0) break;
    if (IsBreak(p[1]) && p[1] != p[0]) ++p;
    start = p + 1;
  }
  arrays.lines[n] = {nullptr, 0};
  count = n;
  return true;
}

// The n + 1 advance widths of a line of n characters into arrays.widths, and their sum.
bool AdvanceWidths(Eevg_Drawing *d, Eevg_FontServer *server, const Line &line, int64_t &total,
                   Eerr_ErrorReport **err) {
  if (!lower::Grow(arrays.widths, arrays.widthCapacity, static_cast<int64_t>(line.count) + 1, sizeof(*arrays.widths), text::kWorkGrowth)) {
    lower::Report(err, "eevg_TextCharWidths", 2, "Unable to allocate the advance widths");
    return false;
  }
  total = 0;
  for (int32_t i = 0; i <= line.count; ++i) {
    const char16_t previous = i > 0 ? line.start[i - 1] : 0;
    const char16_t next = i < line.count ? line.start[i] : 0;
    lower::CalleeReport ignored;
    const double width = server->textCharWidthCalc(d, previous, next, &ignored);
    if (!text::ServerUnits(d, width, "advance width", arrays.widths[i], err)) return false;
    total += arrays.widths[i];
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Walking a path

// The length of segment i of the path's working points, in font units.
double SegmentUnits(const Eevg_Drawing *d, const Eevg_TextPath &p, int32_t i) {
  const double dx = static_cast<double>(p.work[2 * i + 2]) - p.work[2 * i];
  const double dy = static_cast<double>(p.work[2 * i + 3]) - p.work[2 * i + 1];
  return std::trunc(std::trunc(std::hypot(dx, dy)) / d->text.pathMatrix[0]);
}

// The direction of segment i, kept when the segment has no length.
void SegmentDirection(Eevg_TextPath &p, int32_t i) {
  const double dx = static_cast<double>(p.work[2 * i + 2]) - p.work[2 * i];
  const double dy = static_cast<double>(p.work[2 * i + 3]) - p.work[2 * i + 1];
  const double length = std::hypot(dx, dy);
  if (length > 0) {
    p.dirX = dx / length;
    p.dirY = dy / length;
  }
}

// Puts the pen on the first working point with the first segment's direction.
void StartWalk(const Eevg_Drawing *d, Eevg_TextPath &p) {
  p.segment = 0;
  p.penX = p.workCount > 0 ? p.work[0] : 0;
  p.penY = p.workCount > 0 ? p.work[1] : 0;
  p.sideX = p.penX;
  p.sideY = p.penY;
  p.remaining = 0;
  if (p.workCount > 1) {
    SegmentDirection(p, 0);
    p.remaining = SegmentUnits(d, p, 0);
  }
}

// Walks a font units along the path (past its last point along the last direction); the
// side-space position is where the walk would end less b. vertex(x, y) sees each point passed.
template <typename Vertex>
void Walk(const Eevg_Drawing *d, Eevg_TextPath &p, double a, double b, Vertex &&vertex) {
  while (a > p.remaining) {
    a -= p.remaining;
    if (p.segment + 1 < p.workCount) {
      ++p.segment;
      p.penX = p.work[2 * p.segment];
      p.penY = p.work[2 * p.segment + 1];
      vertex(p.penX, p.penY);
      if (p.segment + 1 < p.workCount) {
        SegmentDirection(p, p.segment);
        p.remaining = SegmentUnits(d, p, p.segment);
        continue;
      }
    }
    p.remaining = a;
  }
  p.remaining -= a;
  const double xs = d->text.pathMatrix[0];
  const double side = std::trunc((a - b) * xs), step = std::trunc(a * xs);
  p.sideX = p.penX + p.dirX * side;
  p.sideY = p.penY + p.dirY * side;
  p.penX += p.dirX * step;
  p.penY += p.dirY * step;
}

void Walk(const Eevg_Drawing *d, Eevg_TextPath &p, double a, double b) {
  Walk(d, p, a, b, [](double, double) {});
}

// Appends a point to the walker (room made by PlaceLine).
void AddWalkerPoint(int32_t &count, double x, double y) {
  arrays.walkerPoints[2 * count] = Truncate(x);
  arrays.walkerPoints[2 * count + 1] = Truncate(y);
  ++count;
}

// Places a line of the given length on the path by its alignment and builds the line walker
// over it: the start, the path points the line passes, the end.
bool PlaceLine(Eevg_Drawing *d, Eevg_TextPath &path, int64_t lineLength, Eerr_ErrorReport **err) {
  double pathLength = 0;
  for (int32_t i = 0; i + 1 < path.workCount; ++i) pathLength += SegmentUnits(d, path, i);
  path.dirX = 1;
  path.dirY = 0;
  StartWalk(d, path);
  double offset = 0;
  if (path.alignment == 1)
    offset = std::trunc((pathLength - static_cast<double>(lineLength)) / 2);
  else if (path.alignment == 2)
    offset = pathLength - static_cast<double>(lineLength);
  Walk(d, path, offset, 0);

  // The line passes at most every point of the path after its start.
  if (!lower::Grow(arrays.walkerPoints, arrays.walkerCapacity, 2 * (static_cast<int64_t>(path.workCount) + 2), sizeof(*arrays.walkerPoints), text::kWorkGrowth)) {
    lower::Report(err, "eevg_TextPlaceLine", 1, "Unable to allocate the line walker");
    return false;
  }
  const double startDirX = path.dirX, startDirY = path.dirY;
  int32_t count = 0;
  AddWalkerPoint(count, path.penX, path.penY);
  Walk(d, path, static_cast<double>(lineLength), 0, [&](double x, double y) { AddWalkerPoint(count, x, y); });
  AddWalkerPoint(count, path.penX, path.penY);
  Eevg_TextPath &w = arrays.walker;
  w = Eevg_TextPath{};
  w.drawing = d;
  w.pointCount = w.workCount = count;
  w.points = w.work = arrays.walkerPoints;
  w.dirX = startDirX;
  w.dirY = startDirY;
  StartWalk(d, w);
  path.walker = &w;
  return true;
}

// Moves every working point one line down: perpendicular to the chord of the path, one em
// plus the line spacing in ems.
void LineFeed(Eevg_Drawing *d, Eevg_TextPath &path) {
  if (path.workCount < 1) return;
  const double em = eevg_TextEmValueGet(d);
  const double step = -(std::trunc(em * d->text.lineSpacing) + em);
  const int32_t last = path.workCount - 1;
  const double cx = static_cast<double>(arrays.work[2 * last]) - arrays.work[0];
  const double cy = static_cast<double>(arrays.work[2 * last + 1]) - arrays.work[1];
  const double chord = std::hypot(cx, cy);
  const double ox = chord > 0 ? -cy / chord * step : 0;
  const double oy = chord > 0 ? cx / chord * step : step;
  for (int32_t k = 0; k < path.workCount; ++k) {
    arrays.work[2 * k] = Clamp(arrays.work[2 * k] + ox);
    arrays.work[2 * k + 1] = Clamp(arrays.work[2 * k + 1] + oy);
  }
}

// The working points: the path's points offset by (dx, dy) sub-pixels.
bool SetWork(Eevg_TextPath &path, int32_t dx, int32_t dy, Eerr_ErrorReport **err) {
  const int32_t n = path.points ? std::max(path.pointCount, 0) : 0;
  if (!lower::Grow(arrays.work, arrays.workCapacity, 2 * static_cast<int64_t>(n) + 2, sizeof(*arrays.work), text::kWorkGrowth)) {
    lower::Report(err, "eevg_TextPathWork", 1, "Unable to allocate the text path's points");
    return false;
  }
  for (int32_t k = 0; k < 2 * n; k += 2) {
    arrays.work[k] = Clamp(static_cast<double>(path.points[k]) + dx);
    arrays.work[k + 1] = Clamp(static_cast<double>(path.points[k + 1]) + dy);
  }
  path.work = arrays.work;
  path.workCount = n;
  return true;
}

// Lays every line out along the path: place(character, walker) at each character (after the
// step that leads to it, with the character's side space when sideSpaces), end(walker) after
// the last step, then the line feed. Each visitor returns 0, or -1 after a report.
template <typename Place, typename End>
int32_t LayLines(Eevg_Drawing *d, Eevg_TextPath &path, int32_t lineCount, bool sideSpaces,
                 Place &&place, End &&end, Eerr_ErrorReport **err) {
  Eevg_FontServer *server = text::ServerOf(d, err);
  if (!server) return -1;
  for (int32_t l = 0; l < lineCount; ++l) {
    const Line line = arrays.lines[l];
    int64_t total = 0;
    if (!AdvanceWidths(d, server, line, total, err) || !PlaceLine(d, path, total, err)) return -1;
    Eevg_TextPath &w = arrays.walker;
    for (int32_t i = 0; i < line.count; ++i) {
      int32_t side = 0;
      if (sideSpaces && server->textCharSideSpaceGet) {
        lower::CalleeReport ignored;
        const double value = server->textCharSideSpaceGet(d, line.start[i], &ignored);
        if (!text::ServerUnits(d, value, "side space", side, err)) return -1;
      }
      Walk(d, w, arrays.widths[i], side);
      if (place(line.start[i], w) != 0) return -1;
    }
    Walk(d, w, arrays.widths[line.count], 0);
    if (end(w) != 0) return -1;
    LineFeed(d, path);
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Glyphs

// Maps the glyph in the point buffer from font units onto the page at (x, y) in the direction
// (dx, dy).
void MapGlyph(Eevg_Drawing *d, double x, double y, double dx, double dy) {
  const double shear = d->text.glyphMatrix[0], ys = d->text.glyphMatrix[1], xs = d->text.glyphMatrix[2];
  int32_t *p = d->points;
  for (int32_t k = 0; k < d->pointCount; ++k, p += 2) {
    const double X = xs * p[0] + shear * p[1], Y = ys * p[1];
    p[0] = Clamp(x + X * dx - Y * dy);
    p[1] = Clamp(y + X * dy + Y * dx);
  }
}

// The box of the glyph in the point buffer (min x, min y, max x, max y, sub-pixels). False when
// it lies wholly outside the clip window grown by margin sub-pixels.
bool GlyphBox(const Eevg_Drawing *d, int32_t margin, int32_t *box) {
  int32_t xMin = INT32_MAX, yMin = INT32_MAX, xMax = INT32_MIN, yMax = INT32_MIN;
  const int32_t *p = d->points;
  for (int32_t k = 0; k < d->pointCount; ++k, p += 2) {
    xMin = std::min(xMin, p[0]);
    xMax = std::max(xMax, p[0]);
    yMin = std::min(yMin, p[1]);
    yMax = std::max(yMax, p[1]);
  }
  box[0] = xMin;
  box[1] = yMin;
  box[2] = xMax;
  box[3] = yMax;
  const int64_t grow = static_cast<int64_t>(margin) + 8;
  return xMax >= d->subClipXMin - grow && xMin <= d->subClipXMax + grow &&
         yMax >= d->subClipYMin - grow && yMin <= d->subClipYMax + grow;
}

// Cuts every ring of the glyph in the point buffer to the rectangle (one side after the other),
// each ring closed again. False when memory runs out.
bool CutGlyph(Eevg_Drawing *d, const int64_t *rect) {
  auto inside = [&](int side, const int32_t *p) {
    return side == 0 ? p[0] >= rect[0] : side == 1 ? p[0] <= rect[2] : side == 2 ? p[1] >= rect[1] : p[1] <= rect[3];
  };
  auto cross = [&](int side, const int32_t *a, const int32_t *b, int32_t *out) {
    const double edge = static_cast<double>(rect[side == 0 ? 0 : side == 1 ? 2 : side == 2 ? 1 : 3]);
    const int axis = side < 2 ? 0 : 1;
    const double t = (edge - a[axis]) / (static_cast<double>(b[axis]) - a[axis]);
    out[axis] = static_cast<int32_t>(edge);
    out[1 - axis] = Clamp(a[1 - axis] + t * (static_cast<double>(b[1 - axis]) - a[1 - axis]));
  };
  int64_t total = 0;
  for (int32_t r = 0; r < d->polygonCount; ++r) {
    int32_t n = d->polygonStarts[r + 1] - d->polygonStarts[r];
    if (!lower::Grow(arrays.stage[0], arrays.stageCapacity[0], 2 * static_cast<int64_t>(n), sizeof(*arrays.stage[0]), text::kWorkGrowth)) return false;
    std::memcpy(arrays.stage[0], d->points + 2 * static_cast<std::ptrdiff_t>(d->polygonStarts[r]),
                static_cast<std::size_t>(n) * 2 * sizeof(int32_t));
    for (int side = 0, from = 0; side < 4; ++side, from = 1 - from) {
      const int32_t to = 1 - from;
      if (!lower::Grow(arrays.stage[to], arrays.stageCapacity[to], 4 * static_cast<int64_t>(n) + 2, sizeof(*arrays.stage[to]), text::kWorkGrowth)) return false;
      const int32_t *in = arrays.stage[from];
      int32_t *out = arrays.stage[to], m = 0;
      for (int32_t i = 0; i < n; ++i) {
        const int32_t *current = in + 2 * i, *previous = in + 2 * ((i + n - 1) % n);
        if (inside(side, current) != inside(side, previous)) cross(side, previous, current, out + 2 * m++);
        if (inside(side, current)) {
          out[2 * m] = current[0];
          out[2 * m + 1] = current[1];
          ++m;
        }
      }
      n = m;
    }
    const int32_t *ring = arrays.stage[0];
    if (!lower::Grow(arrays.cut, arrays.cutCapacity, 2 * (total + n + 1), sizeof(*arrays.cut), text::kWorkGrowth)) return false;
    int32_t *out = arrays.cut + 2 * total;
    std::memcpy(out, ring, static_cast<std::size_t>(n) * 2 * sizeof(int32_t));
    if (n > 0 && (ring[0] != ring[2 * n - 2] || ring[1] != ring[2 * n - 1])) {
      out[2 * n] = ring[0];
      out[2 * n + 1] = ring[1];
      ++n;
    }
    d->polygonStarts[r] = static_cast<int32_t>(total); // rings only shrink in number of starts
    total += n;
  }
  if (total > INT32_MAX / 8 || !gfx::ReservePoints(d, static_cast<int32_t>(total), d->polygonCount)) return false;
  std::memcpy(d->points, arrays.cut, static_cast<std::size_t>(total) * 2 * sizeof(int32_t));
  d->pointCount = static_cast<int32_t>(total);
  d->polygonStarts[d->polygonCount] = d->pointCount;
  return true;
}

// Draws one glyph at the walker's pen: filled and outlined by the drawing's switches, in the
// order of the drawing's text fill order.
int32_t DrawGlyph(Eevg_Drawing *d, char16_t character, const Eevg_TextPath &w,
                  Eerr_ErrorReport **err) {
  static constexpr text::GlyphReports kReports{"eevg_TextDrawGlyph", 1, "Unable to fill character %u", 2,
                                               "Unable to outline character %u", 3,
                                               "Unable to allocate the outline of character %u"};
  if (!(d->glyphFill && d->text.fillPattern) && !d->glyphOutline) return 0;
  struct Glyph {
    char16_t character;
    double dirX, dirY;
  } glyph{character, w.dirX, w.dirY};
  const text::GlyphOutline outline{
      [](void *context, Eevg_Drawing *drawing, double x, double y, Eerr_ErrorReport **e) {
        const Glyph &g = *static_cast<const Glyph *>(context);
        if (!text::ServerOutline(drawing, g.character, e)) return false;
        MapGlyph(drawing, x, y, g.dirX, g.dirY);
        return true;
      },
      &glyph};
  const Eevg_TextControls &t = d->text;
  text::GlyphShape shape{t.font->server, t.font->handle, character, d->curveFlatness, d->curveShift,
                         d->curveSecond, {t.glyphMatrix[0], t.glyphMatrix[1], t.glyphMatrix[2], w.dirX, w.dirY, 0}};
  return text::DrawGlyph(d, shape, w.penX, w.penY, outline, kReports, err);
}

// Underlines the line on the walker, below its baseline, in the fill colour.
int32_t Underline(Eevg_Drawing *d, const Eevg_TextPath &w, Eerr_ErrorReport **err) {
  const Eevg_TextStyle *style = d->text.style;
  if (style->underline != 1 || !style->underlineStyle || w.pointCount < 2) return 0;
  const Eevg_LineComposition &lines = style->underlineStyle->composition;
  int32_t width = lines.count > 0 && lines.data ? eevg_LineUnitsToPixels(d, lines.data[0].width) : 0;
  if (!d->antiAlias) width = std::max(width, 8);
  const double distance = eevg_LineUnitsToPixels(d, style->underlineDist);
  // The offset of segment i: its unit normal (-uy, ux) times -distance; a segment without length
  // keeps the offset before it (at first, that of the first segment with a length).
  double ox = 0, oy = 0;
  auto offset = [&](int32_t i) {
    const double dx = static_cast<double>(w.points[2 * i + 2]) - w.points[2 * i];
    const double dy = static_cast<double>(w.points[2 * i + 3]) - w.points[2 * i + 1];
    const double length = std::hypot(dx, dy);
    if (length > 0) {
      ox = dy / length * distance;
      oy = -dx / length * distance;
    }
    return length > 0;
  };
  for (int32_t i = 0; i + 1 < w.pointCount && !offset(i); ++i) {
  }
  const Eevg_DeviceColor colour = d->overrideActive ? d->overrideDeviceColour : d->lineColours[0];
  d->startCap = d->endCap = EEVG_BUTT_END;
  d->joinKind = 0;
  int32_t previous[2] = {0, 0};
  for (int32_t i = 0; i < w.pointCount; ++i) {
    offset(i == 0 ? 0 : i - 1);
    const int32_t point[2] = {Clamp(w.points[2 * i] + ox), Clamp(w.points[2 * i + 1] + oy)};
    if (i > 0) {
      int32_t segment[4] = {previous[0], previous[1], point[0], point[1]};
      if (gfx::eevg_WideSolidLine(d, segment, width, colour, err) != 0) {
        lower::Report(err, "eevg_TextUnderline", 1, "Unable to draw the underline");
        return -1;
      }
    }
    previous[0] = point[0];
    previous[1] = point[1];
  }
  return 0;
}

int32_t DrawLines(Eevg_Drawing *d, Eevg_TextPath &path, int32_t lineCount, Eerr_ErrorReport **err) {
  return LayLines(
      d, path, lineCount, false,
      [&](char16_t c, const Eevg_TextPath &w) { return DrawGlyph(d, c, w, err); },
      [&](const Eevg_TextPath &w) { return Underline(d, w, err); }, err);
}

bool PassReady(const Eevg_Drawing *d, const char16_t *text, const Eevg_TextPath *path,
               Eerr_ErrorReport **err) {
  if (d && text && path && d->text.style && d->text.style->charFillStyle && d->text.font) return true;
  lower::Report(err, "eevg_TextDraw", 1, "Text controls, text or text path missing");
  return false;
}

} // namespace

// ---------------------------------------------------------------------------------------------

void text::ResultView::Set(int32_t r, int32_t c, double value) const {
  std::memcpy(origin + c * column + r * row, &value, sizeof value);
}

bool text::ViewResult(Egda_BaseData *m, int32_t minRows, ResultView &view) {
  if (!m || m->pixelType != EGDA_TYPE_F64 || m->elementSize != 8 || m->rows < minRows ||
      m->columns < 0 || (m->columns > 0 && !m->origin))
    return false;
  view = ResultView{};
  view.origin = m->origin;
  view.rows = m->rows;
  view.columns = m->columns;
  if (m->objectType == EGDA_MATRIX || m->objectType == EGDA_TABLE) {
    if (static_cast<int64_t>(m->pitch) < static_cast<int64_t>(m->rows) * 8) return false;
    view.column = m->pitch;
    view.row = 8;
  } else if (m->objectType == EGDA_SCALAR || m->objectType == EGDA_RASTER) {
    if (static_cast<int64_t>(m->pitch) < static_cast<int64_t>(m->columns) * 8) return false;
    view.column = 8;
    view.row = m->pitch;
  } else {
    return false;
  }
  return true;
}

bool text::OnlyControls(const char16_t *text) { return OnlyControlChars(text); }

int32_t text::PositionColumns(const char16_t *text) {
  int64_t count = 1;
  for (const char16_t *p = text; *p; ++p) {
    if (IsBreak(p[0]) && IsBreak(p[1]) && p[0] != p[1]) ++p;
    ++count;
  }
  return static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
}

bool text::PrepareTextControls(Eevg_Drawing *d, Eevg_TextStyle *style, Eerr_ErrorReport **err,
                               FontLoader load) {
  static const char *reporter = "eevg_InitializeTextControls";
  Eevg_Control *control = d->control;
  Eevg_TextControls &t = d->text;
  t.style = style;
  lower::CalleeReport inner;
  const int32_t index = control ? load(style->fontName, control->loadedFonts, &control->loadedFontsUsed,
                                       control->loadedFontCount, &inner)
                                : -1;
  if (index < 0) {
    t.font = nullptr;
    lower::ReportChained(err, inner, reporter, 4, "Unable to Load Font");
    return false;
  }
  // Warnings about servers that could not be opened stay with the call that met them (inner
  // drops them).
  t.fontIndex = index;
  t.font = reinterpret_cast<Eevg_LoadedFont *>(control->loadedFonts) + index;
  t.heightFactor = style->textHeight / (d->worldY2 - d->worldY1);
  t.slantTangent = std::tan(std::min(style->textSlant, 80.0));
  t.charSpacing = style->textChSpace;
  t.lineSpacing = style->textLnSpace;
  t.slant = style->textSlant;
  t.charExtension = style->textChExt;
  t.extraSpacing = Truncate((style->textChSpace - 1) * 1000);
  t.pathOffsetX = t.pathOffsetY = 0;
  t.angle = 0;
  t.sine = 0;
  t.cosine = 1;
  t.yalign = style->yalign;
  t.xalign = style->xalign;
  return true;
}

void text::MainPassColours(Eevg_Drawing *d) {
  Eevg_TextControls &t = d->text;
  const Eevg_FillStyle *fs = t.style->charFillStyle;
  d->glyphFill = fs->fill == 1 ? 1 : 0;
  d->lineColours[0] = fs->pattern ? DeviceColour(fs->pattern->color) : kNoColour;
  t.fillPattern = d->glyphFill ? fs->pattern : nullptr;
  d->glyphOutline = fs->trace == 1 ? 1 : 0;
  const Eevg_LineStyle *outline = fs->traceStyle;
  if (d->glyphOutline && outline && outline->composition.count > 0 && outline->composition.data) {
    d->textColours[0] = DeviceColour(outline->composition.data[0].color);
    t.outlineWidth = 8;
    t.outlineWidthValue = outline->composition.data[0].width;
  } else {
    d->textColours[0] = kNoColour;
    t.outlineWidth = 0;
    t.outlineWidthValue = 0;
  }
  if (t.style->shadow == 1) return;
  if (!(t.outlineWidthValue >= 1e-6)) {
    d->textColours[0] = d->lineColours[0];
    return;
  }
  int32_t width = eevg_LineUnitsToPixels(d, t.outlineWidthValue);
  if (!d->antiAlias) width = std::max(width, 8);
  const int32_t pixels = width >> d->subPixelShift;
  // An even number of whole pixels would leave the outline off centre: the next odd one.
  if (width > 24 && pixels > 0 && pixels % 2 == 0 && pixels < (INT32_MAX >> 3) - 1)
    width = (pixels + 1) << d->subPixelShift;
  t.outlineWidth = width;
}

int32_t text::PaintGlyph(Eevg_Drawing *d, char16_t character, const GlyphReports &r,
                         Eerr_ErrorReport **err, bool withFill) {
  Eevg_TextControls &t = d->text;
  const bool fill = withFill && d->glyphFill && t.fillPattern;
  const bool trace = d->glyphOutline != 0;
  int32_t box[4];
  if ((!fill && !trace) || d->polygonCount == 0 || !GlyphBox(d, trace ? t.outlineWidth : 0, box)) return 0;
  // An outline wide enough to reach every corner of the clip window from every point of the
  // glyph covers the window whatever its width: the window is filled instead.
  const double reachX = std::max({std::fabs(double(d->subClipXMin) - box[0]), std::fabs(double(d->subClipXMin) - box[2]),
                                  std::fabs(double(d->subClipXMax) - box[0]), std::fabs(double(d->subClipXMax) - box[2])});
  const double reachY = std::max({std::fabs(double(d->subClipYMin) - box[1]), std::fabs(double(d->subClipYMin) - box[3]),
                                  std::fabs(double(d->subClipYMax) - box[1]), std::fabs(double(d->subClipYMax) - box[3])});
  const bool covers = t.outlineWidth / 2.0 > std::hypot(reachX, reachY) + 16;
  // A glyph reaching far past the window is cut to it, with a margin that keeps the cut edges'
  // outlines (and their joins) outside the window.
  const int64_t margin = (trace ? static_cast<int64_t>(t.outlineWidth) * (static_cast<int64_t>(std::min(d->mitreLimit, 1000.0)) + 2) : 0) + 256;
  const int64_t rect[4] = {d->subClipXMin - margin, d->subClipYMin - margin, d->subClipXMax + margin,
                           d->subClipYMax + margin};
  if ((box[0] < rect[0] || box[1] < rect[1] || box[2] > rect[2] || box[3] > rect[3]) && !CutGlyph(d, rect)) {
    lower::Report(err, r.reporter, r.memoryCode, r.memory, static_cast<unsigned>(character));
    return -1;
  }
  auto doFill = [&]() -> int32_t {
    if (!fill) return 0;
    const Eevg_DeviceColor colour = d->overrideActive ? d->overrideDeviceColour : d->lineColours[0];
    d->fillPattern = t.fillPattern;
    const int32_t status = gfx::eevg_LOFiller(d, d->polygonCount, d->polygonStarts, d->points, colour, err);
    d->fillPattern = nullptr;
    if (status != 0) lower::Report(err, r.reporter, r.fillCode, r.fill, static_cast<unsigned>(character));
    return status;
  };
  auto doTrace = [&]() -> int32_t {
    if (!trace) return 0;
    const Eevg_DeviceColor colour = d->overrideActive ? d->overrideDeviceColour : d->textColours[0];
    Eevg_FillPattern *aside = d->fillPattern;
    d->fillPattern = nullptr;
    const int32_t x0 = d->subClipXMin - 8, y0 = d->subClipYMin - 8, x1 = d->subClipXMax + 16,
                  y1 = d->subClipYMax + 16;
    const int32_t window[10] = {x0, y0, x1, y0, x1, y1, x0, y1, x0, y0}, starts[2] = {0, 5};
    const int32_t status =
        covers ? gfx::eevg_LOFiller(d, 1, starts, window, colour, err)
               : gfx::eevg_TracePolygon(d, d->polygonCount, d->polygonStarts, d->points, colour,
                                        t.outlineWidth, err);
    d->fillPattern = aside;
    if (status != 0) lower::Report(err, r.reporter, r.traceCode, r.trace, static_cast<unsigned>(character));
    return status;
  };
  if (d->textFillOrder == 1) return doTrace() != 0 ? -1 : doFill();
  return doFill() != 0 ? -1 : doTrace();
}


int32_t text::DrawPass(Eevg_Drawing *d, const char16_t *text, Eevg_TextPath *path,
                       Eerr_ErrorReport **err) {
  if (!PassReady(d, text, path, err) || !StringInit(d, err)) return -1;
  int32_t lineCount = 0;
  if (!SplitLines(text, lineCount, err)) return -1;
  Eevg_TextControls &t = d->text;
  const Eevg_TextStyle *style = t.style;
  if (style->shadow == 1 && style->shadowPattern) {
    const Eevg_DeviceColor shadow = DeviceColour(style->shadowPattern->color);
    d->lineColours[0] = shadow;
    d->textColours[0] = shadow;
    t.fillPattern = style->shadowPattern;
    d->glyphFill = 1;
    t.outlineWidthValue = 0;
    if (!SetWork(*path, eevg_LineUnitsToPixels(d, style->dropShadowX),
                 eevg_LineUnitsToPixels(d, style->dropShadowY), err) ||
        DrawLines(d, *path, lineCount, err) != 0)
      return -1;
  }
  text::MainPassColours(d);
  if (!SetWork(*path, 0, 0, err) || DrawLines(d, *path, lineCount, err) != 0) return -1;
  return 0;
}

int32_t text::PositionPass(Eevg_Drawing *d, const char16_t *text, Eevg_TextPath *path,
                           const ResultView &view, int32_t *written, Eerr_ErrorReport **err) {
  int32_t column = 0, filled = 0;
  if (written) *written = 0;
  if (!d || !text || !path || !d->text.font) {
    lower::Report(err, "eevg_TextCharPositionsGet", 1, "Text controls, text or text path missing");
    return -1;
  }
  int32_t lineCount = 0;
  if (!StringInit(d, err) || !SplitLines(text, lineCount, err) || !SetWork(*path, 0, 0, err)) return -1;
  auto record = [&](double x, double y, const Eevg_TextPath &w) {
    if (column < view.columns) {
      view.Set(0, column, x / 8);
      view.Set(1, column, y / 8);
      if (view.rows > 2) view.Set(2, column, std::atan2(w.dirY, w.dirX));
      filled = column + 1;
    }
    ++column;
    return 0;
  };
  const bool side = d->deviceType2 != 0;
  const int32_t status = LayLines(
      d, *path, lineCount, true,
      [&](char16_t, const Eevg_TextPath &w) {
        return side ? record(w.sideX, w.sideY, w) : record(w.penX, w.penY, w);
      },
      [&](const Eevg_TextPath &w) { return record(w.penX, w.penY, w); }, err);
  if (written) *written = filled;
  return status;
}

int32_t text::BoxPass(Eevg_Drawing *d, const char16_t *text, Eevg_TextPath *path, int32_t *box,
                      Eerr_ErrorReport **err) {
  if (!d || !text || !path || !box || !d->text.font) {
    lower::Report(err, "eevg_TextBoundingBoxGet", 1, "Text controls, text or text path missing");
    return -1;
  }
  int32_t lineCount = 0;
  if (!StringInit(d, err) || !SplitLines(text, lineCount, err) || !SetWork(*path, 0, 0, err)) return -1;
  Eevg_FontServer *server = text::ServerOf(d, err);
  if (!server) return -1;
  box[0] = d->subClipXMax;
  box[1] = d->subClipYMax;
  box[2] = 0;
  box[3] = 0;
  const double shear = d->text.glyphMatrix[0], ys = d->text.glyphMatrix[1], xs = d->text.glyphMatrix[2];
  auto merge = [&](char16_t c, const Eevg_TextPath &w) {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    lower::CalleeReport ignored;
    server->textCharBoundingBoxGet(d, c, &x0, &y0, &x1, &y1, &ignored);
    const int32_t corners[4][2] = {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}};
    for (const auto &corner : corners) {
      const double X = xs * corner[0] + shear * corner[1], Y = ys * corner[1];
      const int32_t x = Clamp(w.penX + X * w.dirX - Y * w.dirY);
      const int32_t y = Clamp(w.penY + X * w.dirY + Y * w.dirX);
      box[0] = std::min(box[0], x);
      box[1] = std::min(box[1], y);
      box[2] = std::max(box[2], x);
      box[3] = std::max(box[3], y);
    }
    return 0;
  };
  return LayLines(d, *path, lineCount, false, merge, [](const Eevg_TextPath &) { return 0; }, err);
}

bool text::ParagraphSize(Eevg_Drawing *d, const char16_t *text, double &width, double &height,
                         double &ascent, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_GetParagraphSize";
  const int32_t columns = PositionColumns(text);
  lower::HeapPtr<double> held(lower::HeapNewArray<double>(2 * static_cast<int64_t>(columns)));
  double *buffer = held.get();
  if (!buffer) {
    lower::Report(err, reporter, 5, "Unable to allocate the character positions");
    return false;
  }
  ResultView view;
  view.origin = reinterpret_cast<uint8_t *>(buffer);
  view.column = 2 * sizeof(double);
  view.row = sizeof(double);
  view.rows = 2;
  view.columns = columns;
  const int32_t points[4] = {0, 32000, 1, 32000};
  Eevg_TextPath path{};
  path.drawing = d;
  path.pointCount = 2;
  path.points = points;
  path.dirX = 1;
  int32_t written = 0;
  double up = 0, down = 0;
  const bool done = PositionPass(d, text, &path, view, &written, err) == 0 &&
                    ServerLineMetrics(d, up, down, err);
  if (done) {
    // Only the columns the pass wrote count: a line break takes none.
    double largestX = 0, smallestY = 32000 / 8;
    for (int32_t c = 0; c < written; ++c) {
      largestX = std::max(largestX, buffer[2 * c]);
      smallestY = std::min(smallestY, buffer[2 * c + 1]);
    }
    width = largestX * d->inverseScaleX;
    height = (32000 - 8 * smallestY + up + down) / 8 * d->inverseScaleY;
    ascent = up / 8 * d->inverseScaleY;
  }
  return done;
}

extern "C" {

int32_t eevg_TextDraw(Eevg_Drawing *drawing, const char16_t *text, Eevg_TextPath *path) try {
  return text::DrawPass(drawing, text, path, nullptr);
} TAVIRON_GUARD_QUIET(-1)

int32_t eevg_TextCharPositionsGet(Eevg_Drawing *drawing, const char16_t *text, Eevg_TextPath *path,
                                  Egda_BaseData *positions) try {
  text::ResultView view;
  if (!text::ViewResult(positions, 2, view)) return -1;
  return text::PositionPass(drawing, text, path, view, nullptr, nullptr);
} TAVIRON_GUARD_QUIET(-1)

int32_t eevg_TextBoundingBoxGet(Eevg_Drawing *drawing, const char16_t *text, Eevg_TextPath *path,
                                int32_t *box) try {
  return text::BoxPass(drawing, text, path, box, nullptr);
} TAVIRON_GUARD_QUIET(-1)

Eevg_TextPath *eevg_TextPathCreateFromPolyline(Eevg_Drawing *drawing, int32_t count,
                                               const int32_t *points, int32_t alignment) try {
  auto *path = lower::HeapNew<Eevg_TextPath>();
  if (!path) return nullptr;
  path->drawing = drawing;
  path->pointCount = points ? std::max(count, 0) : 0;
  path->points = points;
  path->alignment = alignment;
  path->dirX = 1;
  return path;
} TAVIRON_GUARD_QUIET(nullptr)

void eevg_TextPathFree(Eevg_TextPath **path) try {
  if (!path) return;
  lower::HeapDelete(*path);
  *path = nullptr;
} TAVIRON_GUARD_QUIET_VOID

int32_t *eevg_TextMethodsCreate(void) try {
  int32_t *methods = lower::HeapNewArray<int32_t>(12);
  if (methods) std::memset(methods + 1, 0, 11 * sizeof(int32_t));
  return methods;
} TAVIRON_GUARD_QUIET(nullptr)

void eevg_TextMethodsFree(int32_t *methods) try { emsc_HeapFree(methods); } TAVIRON_GUARD_QUIET_VOID

} // extern "C"
