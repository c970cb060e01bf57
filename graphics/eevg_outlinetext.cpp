// The outline-font text engine: 8-bit text in an outline-font file, spaced by the font's kerning
// bumpers and drawn glyph by glyph from its outline code. Point text, character positions,
// paragraph sizes, and text along the polyline held in the drawing's point buffer.
//
// A line is laid out in font units from the line's origin: x along the baseline, y across it (0
// for the first line, one line step lower for each line after). The path matrix maps (x, y) to
// sub-pixels about the origin; the glyph matrix maps one line height of the font onto the text
// height, turned by the rotation.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "eevg.h"
#include "eevg_internal.h"
#include "eevg_outline_internal.h"
#include "eevg_text_internal.h"
#include "internal.h"

namespace lower = taviron::lower;
namespace gfx = taviron::graphics;
namespace text = taviron::graphics::text;
namespace outline = taviron::graphics::outline;

namespace {

constexpr const char *kNullDrawing = "NULL Eevg Drawing Pointer";
constexpr const char *kNullStyle = "NULL Eevg Text Style Pointer";
constexpr const char *kNullFillStyle = "NULL Eevg charFillStyle Pointer";
constexpr const char *kNullLocation = "NULL Eevg Text Location Pointer";
constexpr const char *kNullText = "NULL Eevg Text Pointer";
constexpr const char *kNoControls = "Unable to initialize text controls";

// Where a character goes: drawn as a glyph, or only placed (the measuring passes).
enum class Output { Nothing, Glyph };

// A sub-pixel coordinate held within the range the rasteriser computes safely.
int32_t Held(double value) {
  const double limit = gfx::kShapeSafeLimit;
  if (std::isnan(value)) return 0;
  return static_cast<int32_t>(std::trunc(std::clamp(value, -limit, limit)));
}

// Positions along a line (font units) are held within this, far beyond any drawing.
constexpr int64_t kLineLimit = int64_t{1} << 40;

int64_t OnLine(double value) {
  if (std::isnan(value)) return 0;
  return static_cast<int64_t>(std::clamp(std::trunc(value), -double(kLineLimit), double(kLineLimit)));
}

bool IsBreak(int32_t c) { return c == '\n' || c == '\r'; }

// The number of characters of the text less its trailing characters below 32.
int32_t Counted(const char *text) {
  std::size_t n = std::strlen(text);
  while (n > 0 && static_cast<unsigned char>(text[n - 1]) < 32) --n;
  return static_cast<int32_t>(std::min<std::size_t>(n, INT32_MAX));
}

// The state of one run of the engine over a drawing: the font's vertical values and spacing
// (font units), the line being laid out and its underline (sub-pixels).
struct Engine {
  explicit Engine(Eevg_Drawing *drawing) : d(drawing) {}
  Eevg_Drawing *d;
  const Eevg_OutlineFont *font = nullptr;
  int32_t ascent = 0, lineStep = 0, extraSpacing = 0, bumpers = 0, spaceWidth = 0;
  double xLength = 0, yLength = 0; // lengths of the path matrix's columns
  // The window of the previous and the current character, with their x along the line.
  int32_t previous = 0, current = 0;
  int64_t previousX = 0, currentX = 0;
  bool hasPrevious = false;
  int64_t lineY = 0;
  bool drawUnderline = false;
  int32_t underlineWidth = 0, underlineOffset = 0;
  int32_t lineChars = 0;
  int32_t underlineStart[2] = {0, 0}, underlineEnd[2] = {0, 0};

  // Bumper values in font units.
  int64_t Units(int64_t bumper) const { return bumper * ascent / 64; }
  const Eevg_OutlineChar *Char(int32_t c) const { return outline::CharOf(font, c); }
  int64_t LargestLeft(int32_t c) const { return Largest(c, &Eevg_OutlineChar::left); }
  int64_t LargestRight(int32_t c) const { return Largest(c, &Eevg_OutlineChar::right); }
  // How far the origin of c lies from that of p when they touch in their critical band.
  int64_t PairStep(int32_t p, int32_t c) const {
    const Eevg_OutlineChar *a = Char(p), *b = Char(c);
    int32_t most = 0;
    for (int32_t i = 0; a && b && i < bumpers; ++i) most = std::max(most, a->right[i] + b->left[i]);
    return Units(most);
  }
  // The right bumper of c in the band where its left and right bumpers together are largest.
  int64_t CriticalRight(int32_t c) const {
    const Eevg_OutlineChar *a = Char(c);
    int32_t band = -1, most = -1;
    for (int32_t i = 0; a && i < bumpers; ++i)
      if (a->left[i] + a->right[i] > most) most = a->left[i] + a->right[i], band = i;
    return band < 0 ? 0 : Units(a->right[band]);
  }

 private:
  int64_t Largest(int32_t c, uint8_t (Eevg_OutlineChar::*profile)[15]) const {
    const Eevg_OutlineChar *a = Char(c);
    int32_t most = 0;
    for (int32_t i = 0; a && i < bumpers; ++i) most = std::max<int32_t>(most, (a->*profile)[i]);
    return Units(most);
  }
};

// Engine initialisation for the drawing's rotation: the glyph matrix and its fixed-point form,
// the path matrix, the vertical values and the spacing. False after a report.
bool Init(Engine &e, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_InitOTL";
  Eevg_Drawing *d = e.d;
  Eevg_TextControls &t = d->text;
  e.font = outline::FontOf(t.font);
  if (!e.font) {
    lower::Report(err, reporter, 1, "No outline font loaded for the text");
    return false;
  }
  const double L = e.font->lineHeight;
  const double S = static_cast<double>(d->deviceHeight) * (1 << d->subPixelShift);
  const double k = t.heightFactor, ext = t.charExtension, slant = t.slantTangent;
  const double c = t.cosine, s = t.sine;
  const double m[4] = {c * k * ext * S, (c * slant - s) * k * S, s * k * ext * S, (s * slant + c) * k * S};
  // The y column of the path matrix: the x column turned a quarter turn counter-clockwise, as
  // long as the glyph matrix's determinant says.
  const double root = std::sqrt(std::fabs(m[0] * m[3] - m[1] * m[2])) / L;
  const double side = k * ext < 0 ? -root : root;
  const double p[4] = {m[0] / L, m[2] / L, -s * side, c * side};
  for (const double v : {m[0], m[1], m[2], m[3], p[0], p[1], p[2], p[3]})
    if (!std::isfinite(v)) {
      lower::Report(err, reporter, 2, "Text of height factor %g, extension %g and angle %g cannot be laid out",
                    k, ext, t.angle);
      return false;
    }
  std::copy(m, m + 4, t.outlineMatrix);
  eevg_SetFtoI(d);
  // Glyphs reach the outline sink in sub-pixels already.
  t.glyphMatrix[0] = 0;
  t.glyphMatrix[1] = 1;
  t.glyphMatrix[2] = 1;
  t.glyphMatrix[3] = 0;
  std::copy(p, p + 4, t.pathMatrix);
  e.xLength = std::hypot(p[0], p[1]);
  e.yLength = root;
  e.ascent = e.font->ascent;
  e.lineStep = gfx::TruncateToInt32(L + std::trunc(L * t.lineSpacing));
  e.extraSpacing = gfx::TruncateToInt32(static_cast<double>(t.extraSpacing) * L / 1000.0);
  e.bumpers = e.font->bumperCount;
  const int64_t space = e.LargestRight(' ');
  e.spaceWidth = space != 0 ? static_cast<int32_t>(space) : e.font->lineHeight / 2;
  return true;
}

bool Rotate(Engine &e, double angle, Eerr_ErrorReport **err) {
  Eevg_TextControls &t = e.d->text;
  t.angle = angle;
  t.sine = std::sin(angle);
  t.cosine = std::cos(angle);
  return Init(e, err);
}

// A line position (font units) in sub-pixels.
void Map(const Engine &e, int64_t x, int64_t y, int32_t *out) {
  const Eevg_TextControls &t = e.d->text;
  const double *p = t.pathMatrix;
  const double X = static_cast<double>(x), Y = static_cast<double>(y);
  out[0] = Held(t.pathOffsetX + std::trunc(p[2] * Y + p[0] * X));
  out[1] = Held(t.pathOffsetY + std::trunc(p[3] * Y + p[1] * X));
}

// The point moved by the underline offset across the baseline, below it.
void Below(const Engine &e, int32_t *point) {
  const double *p = e.d->text.pathMatrix;
  const double length = std::hypot(p[2], p[3]);
  if (length == 0 || e.underlineOffset == 0) return;
  point[0] = Held(point[0] - e.underlineOffset * p[2] / length);
  point[1] = Held(point[1] - e.underlineOffset * p[3] / length);
}

// The underline of a line starts (and so far ends) at its start.
void StartUnderline(Engine &e) {
  Map(e, 0, e.lineY, e.underlineStart);
  Below(e, e.underlineStart);
  e.underlineEnd[0] = e.underlineStart[0];
  e.underlineEnd[1] = e.underlineStart[1];
}

// A first line at the origin (sub-pixels).
void Begin(Engine &e, int32_t x, int32_t y) {
  e.d->text.pathOffsetX = x;
  e.d->text.pathOffsetY = y;
  e.lineY = 0;
  e.lineChars = 0;
  e.hasPrevious = false;
  StartUnderline(e);
}

// The underline of the line ended, when drawing and the line put characters. 0, or -1 with a
// report.
int32_t EndLine(Engine &e, Eerr_ErrorReport **err) {
  Eevg_Drawing *d = e.d;
  if (e.drawUnderline && e.underlineWidth != 0 && e.lineChars > 0) {
    const Eevg_DeviceColor colour = d->overrideActive ? d->overrideDeviceColour : d->lineColours[0];
    d->startCap = d->endCap = EEVG_BUTT_END;
    d->joinKind = 0;
    int32_t segment[4] = {e.underlineStart[0], e.underlineStart[1], e.underlineEnd[0], e.underlineEnd[1]};
    lower::CalleeReport inner;
    if (gfx::eevg_WideSolidLine(d, segment, e.underlineWidth, colour, &inner) != 0) {
      lower::ReportChained(err, inner, "eevg_EndLine", 1, "Unable to end text line");
      return -1;
    }
  }
  e.lineChars = 0;
  return 0;
}

int32_t EndText(Engine &e, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  if (EndLine(e, &inner) == 0) return 0;
  lower::ReportChained(err, inner, "eevg_EndText", 1, "Unable to end text line");
  return -1;
}

// Draws (or, measuring, only retrieves) the glyph of c at the origin (sub-pixels). 0, or -1 with
// a report; a code without an outline fails.
// Retrieves the glyph of c with its origin at (x, y) sub-pixels into the drawing's point buffers
// (closed). False after a report.
bool Retrieve(Eevg_Drawing *d, int32_t c, double x, double y, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_DispChar";
  d->pointCount = 0;
  d->polygonCount = 0;
  d->polygonStarts[0] = 0;
  d->text.penX = d->text.penY = 0;
  d->text.sinkPoints = d->text.sinkContours = 0;
  lower::CalleeReport inner;
  if (eevg_FFRetrieve(d, c, x, y, eevg_DispMove, eevg_DispDraw, eevg_DispCurve, &inner) != 0) {
    lower::ReportChained(err, inner, reporter, 1, "Unable to retrieve character");
    return false;
  }
  d->polygonStarts[d->polygonCount] = d->pointCount;
  return true;
}

int32_t DispChar(Eevg_Drawing *d, int32_t c, int32_t x, int32_t y, bool draw, Eerr_ErrorReport **err) {
  static constexpr text::GlyphReports kReports{"eevg_DispChar", 2, "Unable to fill character", 3, "Unable to trace character",
                                               4, "Unable to allocate the outline of character %u"};
  if (!draw) return Retrieve(d, c, x, y, err) ? 0 : -1;
  const text::GlyphOutline outline{
      [](void *context, Eevg_Drawing *drawing, double ox, double oy, Eerr_ErrorReport **e) {
        return Retrieve(drawing, *static_cast<const int32_t *>(context), ox, oy, e);
      },
      &c};
  const Eevg_TextControls &t = d->text;
  const int64_t *m = t.outlineFixed;
  const text::GlyphShape shape{t.font->server, t.font->handle, static_cast<uint32_t>(c), d->curveFlatness, d->curveShift,
                               d->curveSecond, {double(m[0]), double(m[1]), double(m[2]), double(m[3]), 0, 0}};
  return text::DrawGlyph(d, shape, x, y, outline, kReports, err);
}

// Puts one character on the line: a line break starts the next line, a space moves on, any other
// code is placed by the bumpers and sent to the output. pos gets the position reported (the
// glyph origin, the space's position or the new line's start). 0, or -1 with a report.
int32_t PutChar(Engine &e, int32_t c, Output output, int32_t *pos, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_LOPutChar";
  lower::CalleeReport inner;
  if (IsBreak(c)) {
    if (EndLine(e, &inner) != 0) {
      lower::ReportChained(err, inner, reporter, 1, "Unable to draw newline in text");
      return -1;
    }
    e.lineY = std::clamp(e.lineY - e.lineStep, -kLineLimit, kLineLimit);
    e.hasPrevious = false;
    Map(e, 0, e.lineY, pos);
    StartUnderline(e);
    return 0;
  }
  int64_t x;
  if (c == ' ') {
    if (!e.hasPrevious)
      x = e.spaceWidth;
    else if (e.previous == ' ')
      x = e.previousX + e.spaceWidth;
    else
      x = e.LargestRight(e.previous) + e.extraSpacing + e.previousX + e.spaceWidth;
    x = std::clamp(x, -kLineLimit, kLineLimit);
    Map(e, x, e.lineY, pos);
    e.underlineEnd[0] = pos[0];
    e.underlineEnd[1] = pos[1];
    Below(e, e.underlineEnd);
  } else {
    if (!e.hasPrevious)
      x = e.LargestLeft(c);
    else if (!eevg_FFInqSpacing(e.font, c))
      x = e.previousX; // placed over the previous character
    else if (e.previous == ' ')
      x = e.previousX + e.LargestLeft(c);
    else
      x = e.previousX + e.PairStep(e.previous, c) + e.extraSpacing;
    x = std::clamp(x, -kLineLimit, kLineLimit);
    Map(e, e.d->deviceType2 ? x - e.LargestLeft(c) : x, e.lineY, pos);
    ++e.lineChars;
    if (output == Output::Glyph && DispChar(e.d, c, pos[0], pos[1], true, &inner) != 0) {
      lower::ReportChained(err, inner, reporter, 3, "Unable to perform character output");
      return -1;
    }
    Map(e, x + e.LargestRight(c), e.lineY, e.underlineEnd);
    Below(e, e.underlineEnd);
  }
  e.current = c;
  e.currentX = x;
  e.previous = e.current;
  e.previousX = e.currentX;
  e.hasPrevious = true;
  return 0;
}

// The advance along a polyline after c (font units): a space's width, or for a spacing character
// its right bumper at its critical band and its largest left bumper; with the extra spacing.
int64_t CalcCharWidth(const Engine &e, int32_t c) {
  if (c == ' ') return static_cast<int64_t>(e.spaceWidth) + e.extraSpacing;
  if (!eevg_FFInqSpacing(e.font, c)) return 0;
  return e.CriticalRight(c) + e.LargestLeft(c) + e.extraSpacing;
}

// The underline's width and offset from the style (width 0: none).
void SetUnderline(Engine &e, const Eevg_TextStyle *style) {
  e.underlineWidth = e.underlineOffset = 0;
  if (style->underline != 1 || !style->underlineStyle) return;
  const Eevg_LineComposition &lines = style->underlineStyle->composition;
  int32_t width = lines.count > 0 && lines.data ? eevg_LineUnitsToPixels(e.d, lines.data[0].width) : 0;
  if (width < 8 && !e.d->antiAlias) width = 8;
  e.underlineWidth = std::max(width, 0);
  e.underlineOffset = eevg_LineUnitsToPixels(e.d, style->underlineDist);
}

// The shadow's colours and pattern while a shadow pass runs; the pass's own put back after.
class ShadowColours {
 public:
  ShadowColours(Eevg_Drawing *d, Eevg_FillPattern *shadow)
      : d_(d), fill_(d->lineColours[0]), trace_(d->textColours[0]), pattern_(d->text.fillPattern) {
    const Eevg_DeviceColor colour = text::DeviceColour(shadow->color);
    d->lineColours[0] = colour;
    d->textColours[0] = colour;
    d->text.fillPattern = shadow;
  }
  ~ShadowColours() {
    d_->lineColours[0] = fill_;
    d_->textColours[0] = trace_;
    d_->text.fillPattern = pattern_;
  }
  ShadowColours(const ShadowColours &) = delete;
  ShadowColours &operator=(const ShadowColours &) = delete;

 private:
  Eevg_Drawing *d_;
  Eevg_DeviceColor fill_, trace_;
  Eevg_FillPattern *pattern_;
};

bool HasShadow(const Eevg_TextStyle *style) { return style->shadow == 1 && style->shadowPattern; }

// Prepares the drawing's text controls with the style's outline font. False after a report.
bool Prepare(Eevg_Drawing *d, Eevg_TextStyle *style, const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  if (text::PrepareTextControls(d, style, &inner, eevg_FFReference)) {
    if (outline::FontOf(d->text.font)) return true;
    lower::Report(&inner, "eevg_InitializeTextControls", 5, "Font %s is not an outline font", style->fontName);
  }
  lower::ReportChained(err, inner, reporter, code, kNoControls);
  return false;
}

// The width, height and first-line ascent (world units) of the first count characters, at
// rotation 0 from the origin (0, 32000). False after a report.
bool Size(Engine &e, const unsigned char *chars, int32_t count, double &width, double &height, double &ascent,
          Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  auto failed = [&]() {
    lower::ReportChained(err, inner, "eevg_GetParagraphSizeOTL", 1, "Unable to complete paragraph sizing");
    return false;
  };
  if (!Rotate(e, 0, &inner)) return failed();
  e.drawUnderline = false;
  Begin(e, 0, 32000);
  double farthest = 0, lastY = 32000;
  for (int32_t i = 0; i < count; ++i) {
    int32_t pos[2];
    if (PutChar(e, chars[i], Output::Nothing, pos, &inner) != 0) return failed();
    farthest = std::max<double>(farthest, e.underlineEnd[0]);
    lastY = pos[1];
  }
  const double ys = e.d->text.pathMatrix[3];
  const double up = e.ascent * ys, down = std::abs(e.font->descent) * ys;
  width = farthest / 8 * e.d->inverseScaleX;
  height = (32000 - lastY + up + down) / 8 * e.d->inverseScaleY;
  ascent = up / 8 * e.d->inverseScaleY;
  return true;
}

// Sizes point text and finds the start of its first baseline: 1 with the start (sub-pixels), 0
// for an alignment that places nothing, -1 after a report (code 1 under the reporter).
int32_t PointStart(Engine &e, Eevg_TextStyle *style, const Eevg_Coord *at, const unsigned char *chars,
                   int32_t count, const char *reporter, int32_t *start, Eerr_ErrorReport **err) {
  double w, h, a;
  lower::CalleeReport inner;
  if (!Size(e, chars, count, w, h, a, &inner)) {
    lower::ReportChained(err, inner, reporter, 1, "Unable to calculate Paragraph Size");
    return -1;
  }
  int32_t points[4];
  if (!text::PointBaseline(e.d, style, at, w, h, a, points)) return 0;
  start[0] = points[0];
  start[1] = points[1];
  return 1;
}

// One pass along the polyline.
struct PassSetting {
  const int32_t *points;
  int32_t count;
  double start;     // where the text starts along the line (sub-pixels)
  double dx, dy;    // offset of the pass (sub-pixels)
  double slack;     // stretched over the text when positive
  double measured;  // the text's length measured by an earlier pass
  Output output;
};

// Puts the characters along the polyline, each segment turning the line: fills the positions
// (when given) and grows box (min x, min y, max x, max y) by the reported origins; measured gets
// the longest line. 0, or -1 with a report.
int32_t PolyLinePass(Engine &e, const unsigned char *chars, int32_t n, const PassSetting &in,
                     const text::ResultView *positions, double *box, double &measured, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_DrawTextOnPolyLinePass";
  if (in.count < 2 || !in.points) {
    lower::Report(err, reporter, 1, "Invalid number of polyline points input");
    return -1;
  }
  const int32_t segments = in.count - 1;
  const int32_t *p = in.points;
  auto stepX = [&](int32_t i) { return static_cast<double>(p[2 * i + 2]) - p[2 * i]; };
  auto stepY = [&](int32_t i) { return static_cast<double>(p[2 * i + 3]) - p[2 * i + 1]; };
  auto length = [&](int32_t i) { return std::trunc(std::hypot(stepX(i), stepY(i))); };
  const double stretch = in.slack > 0 && in.measured > 0 ? in.slack / in.measured + 1.0 / n : 0;
  double walked = in.start, running = 0, dy = in.dy, angle = 0;
  int32_t segment = 0;
  double segmentStart = 0, segmentLength = length(0);
  lower::CalleeReport inner;
  // Starts a line at the distance walked, on the segment where it falls (segments without length
  // are passed over), turned to that segment.
  auto origin = [&]() {
    while (segment + 1 < segments && (walked >= segmentStart + segmentLength || segmentLength == 0)) {
      segmentStart += segmentLength;
      segmentLength = length(++segment);
    }
    if (segmentLength > 0) angle = std::atan2(stepY(segment), stepX(segment));
    if (!Rotate(e, angle, &inner)) {
      lower::ReportChained(err, inner, reporter, 6, "Unable to lay text out on segment");
      return false;
    }
    const double remainder = walked - segmentStart;
    Begin(e, Held(p[2 * segment] + remainder * std::cos(angle) + in.dx),
          Held(p[2 * segment + 1] + remainder * std::sin(angle) + dy));
    return true;
  };
  if (!origin()) return -1;
  measured = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t c = chars[i];
    if (walked >= segmentStart + segmentLength && segment + 1 < segments) {
      if (EndLine(e, &inner) != 0) {
        lower::ReportChained(err, inner, reporter, 2, "Unable to end text on segment");
        return -1;
      }
      if (!origin()) return -1;
    }
    int32_t pos[2];
    if (PutChar(e, c, in.output, pos, &inner) != 0) {
      lower::ReportChained(err, inner, reporter, 3, "Unable to draw character");
      return -1;
    }
    if (IsBreak(c)) {
      // The next line follows the polyline again from its start, one line step lower; the break
      // reports where it starts.
      walked = in.start;
      running = 0;
      dy -= e.lineStep * e.yLength;
      segment = 0;
      segmentStart = 0;
      segmentLength = length(0);
      if (!origin()) return -1;
      pos[0] = e.d->text.pathOffsetX;
      pos[1] = e.d->text.pathOffsetY;
    }
    if (box) {
      box[0] = std::min<double>(box[0], pos[0]);
      box[1] = std::min<double>(box[1], pos[1]);
      box[2] = std::max<double>(box[2], pos[0]);
      box[3] = std::max<double>(box[3], pos[1]);
    }
    if (positions) {
      positions->Set(0, i, pos[0] / 8.0);
      positions->Set(1, i, pos[1] / 8.0);
      if (positions->rows > 2) positions->Set(2, i, angle);
    }
    if (IsBreak(c)) continue;
    const double units = static_cast<double>(CalcCharWidth(e, c));
    double advance = units * e.xLength;
    if (stretch != 0) {
      // The character just put moves on with the stretch, and the next one after it.
      e.previousX = OnLine(static_cast<double>(e.previousX) + units * stretch);
      advance *= 1 + stretch;
    }
    walked += advance;
    running += advance;
    measured = std::max(measured, running);
  }
  if (EndLine(e, &inner) != 0) {
    lower::ReportChained(err, inner, reporter, 5, "Unable to end text on polyline pass");
    return -1;
  }
  return 0;
}

// The sum of the polyline's segment lengths, each truncated (sub-pixels).
double PolylineLength(const int32_t *p, int32_t count) {
  double total = 0;
  for (int32_t i = 0; i + 1 < count; ++i)
    total += std::trunc(std::hypot(static_cast<double>(p[2 * i + 2]) - p[2 * i],
                                   static_cast<double>(p[2 * i + 3]) - p[2 * i + 1]));
  return total;
}

// A matrix of doubles of at least two rows and the columns; false for anything else.
bool ResultOf(Egda_BaseData *matrix, int32_t columns, text::ResultView &view) {
  return text::ViewResult(matrix, 2, view) && view.columns >= columns;
}

} // namespace

extern "C" {

int32_t eevg_DrawTextOTL(Eevg_Drawing *drawing, Eevg_TextStyle *style, const Eevg_Coord *location,
                         const char *text, Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_DrawTextOTL";
  lower::Clear(err);
  const struct {
    bool missing;
    int32_t code;
    const char *message;
  } checks[] = {{!drawing, 7, kNullDrawing},
                {!style, 8, kNullStyle},
                {style && !style->charFillStyle, 9, kNullFillStyle},
                {!location, 10, kNullLocation},
                {!text, 11, kNullText}};
  for (const auto &check : checks)
    if (check.missing) {
      lower::Report(err, reporter, check.code, "%s", check.message);
      return -1;
    }
  const int32_t count = Counted(text);
  if (count == 0) return 0;
  if (!Prepare(drawing, style, reporter, 2, err)) return -1;
  const auto *chars = reinterpret_cast<const unsigned char *>(text);
  Engine e(drawing);
  int32_t start[2];
  const int32_t placed = PointStart(e, style, location, chars, count, reporter, start, err);
  if (placed <= 0) return placed;
  text::MainPassColours(drawing);
  SetUnderline(e, style);
  lower::CalleeReport inner;
  if (!Rotate(e, style->textAngle, &inner)) {
    lower::ReportChained(err, inner, reporter, 12, "Unable to lay text out");
    return -1;
  }
  e.drawUnderline = true;
  if (HasShadow(style)) {
    ShadowColours shadow(drawing, style->shadowPattern);
    Begin(e, Held(static_cast<double>(start[0]) + eevg_LineUnitsToPixels(drawing, style->dropShadowX)),
          Held(static_cast<double>(start[1]) + eevg_LineUnitsToPixels(drawing, style->dropShadowY)));
    for (int32_t i = 0; i < count; ++i) {
      int32_t pos[2];
      if (PutChar(e, chars[i], Output::Glyph, pos, &inner) != 0) {
        lower::ReportChained(err, inner, reporter, 3, "Unable to draw text character shadow");
        return -1;
      }
    }
    if (EndText(e, &inner) != 0) {
      lower::ReportChained(err, inner, reporter, 4, "Unable to complete text shadow");
      return -1;
    }
  }
  Begin(e, start[0], start[1]);
  for (int32_t i = 0; i < count; ++i) {
    int32_t pos[2];
    if (PutChar(e, chars[i], Output::Glyph, pos, &inner) != 0) {
      lower::ReportChained(err, inner, reporter, 5, "Unable to draw text character");
      return -1;
    }
  }
  if (EndText(e, &inner) != 0) {
    lower::ReportChained(err, inner, reporter, 6, "Unable to complete text");
    return -1;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t eevg_GetTextPositionsOTL(Eevg_Drawing *drawing, Eevg_TextStyle *style, const Eevg_Coord *location,
                                 const char *text, Egda_BaseData *positions, Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_GetTextPositionsOTL";
  lower::Clear(err);
  const struct {
    bool missing;
    int32_t code;
    const char *message;
  } checks[] = {{!drawing, 4, kNullDrawing},
                {!style, 5, kNullStyle},
                {!location, 6, kNullLocation},
                {!text, 7, kNullText},
                {!positions, 8, "NULL Eevg Character Locations Pointer"}};
  for (const auto &check : checks)
    if (check.missing) {
      lower::Report(err, reporter, check.code, "%s", check.message);
      return -1;
    }
  const int32_t count = Counted(text);
  text::ResultView view;
  if (!ResultOf(positions, count, view)) {
    lower::Report(err, reporter, 9, "Invalid Eevg Character Locations Matrix");
    return -1;
  }
  if (count == 0) return 0;
  if (!Prepare(drawing, style, reporter, 10, err)) return -1;
  const auto *chars = reinterpret_cast<const unsigned char *>(text);
  Engine e(drawing);
  int32_t start[2];
  const int32_t placed = PointStart(e, style, location, chars, count, reporter, start, err);
  if (placed <= 0) return placed;
  lower::CalleeReport inner;
  if (!Rotate(e, style->textAngle, &inner)) {
    lower::ReportChained(err, inner, reporter, 11, "Unable to lay text out");
    return -1;
  }
  e.drawUnderline = false;
  Begin(e, start[0], start[1]);
  for (int32_t i = 0; i < count; ++i) {
    int32_t pos[2];
    if (PutChar(e, chars[i], Output::Nothing, pos, &inner) != 0) {
      lower::ReportChained(err, inner, reporter, 2, "Unable to calculate text positions");
      return -1;
    }
    view.Set(0, i, pos[0] / 8.0);
    view.Set(1, i, pos[1] / 8.0);
  }
  if (EndText(e, &inner) != 0) {
    lower::ReportChained(err, inner, reporter, 3, "Unable to complete text for text positions");
    return -1;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t eevg_GetParagraphSizeOTL(Eevg_Drawing *drawing, const char *text, int32_t, double, double,
                                 double *width, double *height, double *ascent, Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_GetParagraphSizeOTL";
  lower::Clear(err);
  if (!drawing || !text) {
    lower::Report(err, reporter, 2, "%s", !drawing ? kNullDrawing : kNullText);
    return 0;
  }
  if (!outline::FontOf(drawing->text.font)) {
    lower::Report(err, reporter, 3, "Text controls not prepared with an outline font");
    return 0;
  }
  Engine e(drawing);
  double w = 0, h = 0, a = 0;
  if (!Size(e, reinterpret_cast<const unsigned char *>(text), Counted(text), w, h, a, err)) return 0;
  if (width) *width = w;
  if (height) *height = h;
  if (ascent) *ascent = a;
  return 1;
} TAVIRON_GUARD(err, 0)

int32_t eevg_DrawTextOnPolyLineImageOTL(Eevg_Drawing *drawing, Eevg_TextStyle *style, const char *text,
                                        int32_t draw, Egda_BaseData *rect, Egda_BaseData *positions,
                                        Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_DrawTextOnPolyLineImageOTL";
  lower::Clear(err);
  const struct {
    bool missing;
    int32_t code;
    const char *message;
  } checks[] = {{!drawing, 6, kNullDrawing},
                {!style, 7, kNullStyle},
                {style && !style->charFillStyle, 8, kNullFillStyle},
                {!text, 9, kNullText}};
  for (const auto &check : checks)
    if (check.missing) {
      lower::Report(err, reporter, check.code, "%s", check.message);
      return -1;
    }
  const int32_t count = Counted(text);
  text::ResultView positionView, rectView;
  if ((positions && !ResultOf(positions, count, positionView)) || (rect && !ResultOf(rect, 4, rectView))) {
    lower::Report(err, reporter, 10, "Invalid Eevg Result Matrix");
    return -1;
  }
  if (count == 0) return 0;
  if (!Prepare(drawing, style, reporter, 11, err)) return -1;
  const auto *chars = reinterpret_cast<const unsigned char *>(text);
  Engine e(drawing);
  text::PointsAside aside(drawing);
  lower::CalleeReport inner;
  if (!aside.Move(&inner)) {
    if (inner && inner->code == 5)
      lower::ReportChained(err, inner, reporter, 5, "Unable to allocate temporary polstarts array");
    else
      lower::ReportChained(err, inner, reporter, 1, "Unable to allocate temporary points array");
    return -1;
  }
  PassSetting pass{};
  pass.points = aside.All(pass.count);
  pass.output = Output::Nothing;
  text::MainPassColours(drawing);
  SetUnderline(e, style);

  if (style->xalign != 0) {
    double measured = 0;
    if (PolyLinePass(e, chars, count, pass, nullptr, nullptr, measured, &inner) != 0) {
      lower::ReportChained(err, inner, reporter, 2, "Unable to calculate text width on polyline");
      return -1;
    }
    const double slack = std::max(0.0, PolylineLength(pass.points, pass.count) - measured);
    if (style->xalign == 1)
      pass.start = slack / 2;
    else if (style->xalign == 2)
      pass.start = slack;
    else if (style->xalign == 5)
      pass.slack = slack, pass.measured = measured;
  }
  e.drawUnderline = draw != 0;
  pass.output = draw ? Output::Glyph : Output::Nothing;
  double measured = 0;
  if (HasShadow(style)) {
    ShadowColours shadow(drawing, style->shadowPattern);
    PassSetting offset = pass;
    offset.dx = eevg_LineUnitsToPixels(drawing, style->dropShadowX);
    offset.dy = eevg_LineUnitsToPixels(drawing, style->dropShadowY);
    if (PolyLinePass(e, chars, count, offset, nullptr, nullptr, measured, &inner) != 0) {
      lower::ReportChained(err, inner, reporter, 3, "Unable to draw text shadows on polyline");
      return -1;
    }
  }
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  double box[4] = {kInfinity, kInfinity, -kInfinity, -kInfinity};
  if (PolyLinePass(e, chars, count, pass, positions ? &positionView : nullptr, box, measured, &inner) != 0) {
    lower::ReportChained(err, inner, reporter, 4, "Unable to draw text characters on polyline");
    return -1;
  }
  if (rect) {
    if (!Rotate(e, 0, &inner)) {
      lower::ReportChained(err, inner, reporter, 12, "Unable to lay text out");
      return -1;
    }
    const double grow = e.ascent * e.yLength;
    const double xs[2] = {box[0] - grow, box[2] + grow}, ys[2] = {box[1] - grow, box[3] + grow};
    const int32_t corners[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    for (int32_t c = 0; c < 4; ++c) {
      rectView.Set(0, c, xs[corners[c][0]] / 8 * drawing->inverseScaleX + drawing->originX);
      rectView.Set(1, c, ys[corners[c][1]] / 8 * drawing->inverseScaleY + drawing->originY);
    }
  }
  return 0;
} TAVIRON_GUARD(err, -1)

} // extern "C"
