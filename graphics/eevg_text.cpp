// The text calls: point text and text along polylines, drawn or measured, in 8-bit and UTF-16
// forms. They check their arguments, put the text in visual order, offer it to the device's text
// callbacks, and run the layout engine's passes.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "eevg.h"
#include "eevg_text_internal.h"
#include "emsc.h"
#include "estr.h"
#include "internal.h"

namespace lower = taviron::lower;
namespace gfx = taviron::graphics;
namespace text = taviron::graphics::text;

namespace {

constexpr const char *kNullDrawing = "NULL Eevg Drawing Pointer";
constexpr const char *kNullStyle = "NULL Eevg Text Style Pointer";
constexpr const char *kNullFillStyle = "NULL Eevg charFillStyle Pointer";
constexpr const char *kNullLocation = "NULL Eevg Text Location Pointer";
constexpr const char *kNullText = "NULL Eevg Text Pointer";
constexpr const char *kNullPolyline = "NULL Eevg Text Polyline Coordinate Block Pointer";
constexpr const char *kNoControls = "Unable to initialize text controls";
constexpr const char *kNoSize = "Unable to calculate Paragraph Size";
constexpr const char *kNoImageSpace = "Unable to convert coordinates to image space";
constexpr const char *kNoMove = "Unable to move points pointers";

// A text in visual order as UTF-16 for the layout, and in 8 bits for the device's text callbacks.
class VisualText {
 public:
  bool From(const char *text, Eerr_ErrorReport **err) {
    narrow_.reset(estr_TranslateTextToVisual(text, err));
    if (narrow_.get()) wide_.reset(estr_Ascii2Unicode(narrow_.get()));
    return Failed(err);
  }
  bool From(const char16_t *text, Eerr_ErrorReport **err) {
    wide_.reset(estr_TranslateTextToVisualUC(text, err));
    return Failed(err);
  }
  // Text already in visual order.
  bool Take(const char *text, Eerr_ErrorReport **err) {
    narrow_.reset(estr_Duplicate(text));
    if (narrow_.get()) wide_.reset(estr_Ascii2Unicode(narrow_.get()));
    return Failed(err);
  }
  bool Take(const char16_t *text, Eerr_ErrorReport **err) {
    wide_.reset(estr_UnicodeStrDup(text));
    return Failed(err);
  }
  const char16_t *Wide() const { return wide_.get(); }
  const char *Narrow() {
    if (!narrow_.get()) narrow_.reset(estr_Unicode2Ascii(wide_.get()));
    return narrow_.get();
  }
  int32_t Length() const {
    int64_t n = 0;
    for (const char16_t *p = wide_.get(); *p; ++p) ++n;
    return static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX));
  }

 private:
  bool Failed(Eerr_ErrorReport **err) {
    if (wide_.get()) return true;
    if (err && !*err) lower::Report(err, "estr_Ascii2Unicode", 1, "Unable to allocate the text");
    return false;
  }
  lower::HeapPtr<char> narrow_;
  lower::HeapPtr<char16_t> wide_;
};

// One argument check of a call: when missing holds, the report of the code and message.
struct Required {
  bool missing;
  int32_t code;
  const char *message;
};

// Reports the first missing argument under the reporter; false then.
bool Present(std::initializer_list<Required> checks, const char *reporter, Eerr_ErrorReport **err) {
  for (const Required &check : checks) {
    if (!check.missing) continue;
    lower::Report(err, reporter, check.code, "%s", check.message);
    return false;
  }
  return true;
}

// Puts the text in visual order, reporting a failure with the code and message.
template <typename Char>
bool Translate(VisualText &visual, const Char *text, const char *reporter, int32_t code,
               const char *message, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  if (visual.From(text, &inner)) return true;
  lower::ReportChained(err, inner, reporter, code, "%s", message);
  return false;
}

// The alignment factors of point text: fx 0, 0.5, 1 for left, centre, right; fy 1, 0.5, 0 for
// top, centre, bottom. False for any other value.
bool AlignFactors(const Eevg_TextStyle *style, double &fx, double &fy) {
  static constexpr double kX[] = {0, 0.5, 1}, kY[] = {1, 0.5, 0};
  if (style->xalign < 0 || style->xalign > 2 || style->yalign < 0 || style->yalign > 2) return false;
  fx = kX[style->xalign];
  fy = kY[style->yalign];
  return true;
}

// (u, v) relative to the location, turned by the style's angle about it: world units.
void Turn(const Eevg_TextStyle *style, const Eevg_Coord *at, double u, double v, double &x,
          double &y) {
  const double c = std::cos(style->textAngle), s = std::sin(style->textAngle);
  x = at->x + u * c - v * s;
  y = at->y + u * s + v * c;
}

int32_t SubPixel(double world, double scale, double offset) {
  return gfx::TruncateToInt32(std::clamp((world * scale + offset) * 8, -double(gfx::kShapeSafeLimit),
                                         double(gfx::kShapeSafeLimit)));
}

} // namespace

bool text::PointBaseline(const Eevg_Drawing *d, const Eevg_TextStyle *style, const Eevg_Coord *at,
                         double width, double height, double ascent, int32_t *points) {
  double fx, fy;
  if (!AlignFactors(style, fx, fy)) return false;
  const double u = -fx * width, v = height - ascent - fy * height;
  for (int32_t end = 0; end < 2; ++end) {
    double x, y;
    Turn(style, at, u + end * width, v, x, y);
    points[2 * end] = SubPixel(x, d->scaleX, d->offsetX);
    points[2 * end + 1] = SubPixel(y, d->scaleY, d->offsetY);
  }
  return true;
}

namespace {

// A text path over count points, on the stack.
Eevg_TextPath PathOver(Eevg_Drawing *d, int32_t count, const int32_t *points, int32_t alignment) {
  Eevg_TextPath path{};
  path.drawing = d;
  path.pointCount = points ? count : 0;
  path.points = points;
  path.alignment = alignment;
  path.dirX = 1;
  return path;
}

// Prepares the text controls, reporting failure under the reporter with the code.
bool Prepare(Eevg_Drawing *d, Eevg_TextStyle *style, const char *reporter, int32_t code,
             Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  if (text::PrepareTextControls(d, style, &inner)) return true;
  lower::ReportChained(err, inner, reporter, code, kNoControls);
  return false;
}

bool Size(Eevg_Drawing *d, const char16_t *wide, const char *reporter, int32_t code, double &w,
          double &h, double &a, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  if (text::ParagraphSize(d, wide, w, h, a, &inner)) return true;
  lower::ReportChained(err, inner, reporter, code, kNoSize);
  return false;
}

// The character positions of point text (already in visual order) into the matrix. 0, or -1
// with a report.
int32_t PointPositions(Eevg_Drawing *d, Eevg_TextStyle *style, const Eevg_Coord *at,
                       const char16_t *wide, Egda_BaseData *positions, const char *reporter,
                       Eerr_ErrorReport **err) {
  text::ResultView view;
  if (!text::ViewResult(positions, 2, view)) {
    lower::Report(err, reporter, 5, "Invalid Eevg Character Locations Matrix");
    return -1;
  }
  if (!Prepare(d, style, reporter, 6, err)) return -1;
  if (text::OnlyControls(wide)) return 0;
  double w, h, a;
  if (!Size(d, wide, reporter, 7, w, h, a, err)) return -1;
  int32_t points[4];
  if (!text::PointBaseline(d, style, at, w, h, a, points)) return 0;
  Eevg_TextPath path = PathOver(d, 2, points, 0);
  lower::CalleeReport inner;
  if (text::PositionPass(d, wide, &path, view, nullptr, &inner) != 0) {
    lower::ReportChained(err, inner, reporter, 8, "Unable to calculate character positions");
    return -1;
  }
  return 0;
}

// Converts every part of the polyline into the drawing's point buffer: sub-pixels to the nearest
// (halves away from zero), held within the rasteriser's safe range. False for a malformed block
// or when memory runs out.
bool LoadPolyline(Eevg_Drawing *d, const Efga_CoordinateBlock *block) {
  if (!gfx::ShapeBlockValid(block)) return false;
  int64_t total = 0;
  for (int32_t p = 0; p < block->count; ++p) total += block->parts[p]->columns;
  if (!gfx::ReservePoints(d, static_cast<int32_t>(total), block->count)) return false;
  const double limit = gfx::kShapeSafeLimit;
  auto convert = [&](double value, double scale, double offset) {
    const double v = std::round(value * scale * 8 + offset * 8);
    return std::isnan(v) ? 0 : static_cast<int32_t>(std::clamp(v, -limit, limit));
  };
  d->pointCount = 0;
  for (int32_t p = 0; p < block->count; ++p) {
    gfx::ShapePartView view;
    gfx::ShapeViewPart(block->parts[p], view);
    d->polygonStarts[p] = d->pointCount;
    for (int32_t j = 0; j < view.n; ++j, ++d->pointCount) {
      d->points[2 * d->pointCount] = convert(view.X(j), d->scaleX, d->offsetX);
      d->points[2 * d->pointCount + 1] = convert(view.Y(j), d->scaleY, d->offsetY);
    }
  }
  d->polygonCount = block->count;
  d->polygonStarts[block->count] = d->pointCount;
  return true;
}

// What a text along the polyline held in the drawing's buffer is run through.
enum class Along { Draw, Positions, Box };

struct AlongCodes {
  int32_t controls, move, pass;
  const char *passMessage;
};

// Runs one pass along the first part of the drawing's point buffer: the text controls prepared,
// the buffers set aside for the glyphs, the path aligned by the style's xalign. 0, or -1 with a
// report.
int32_t RunAlong(Eevg_Drawing *d, Eevg_TextStyle *style, const char16_t *wide, Along pass,
                 const text::ResultView *view, int32_t *box, const char *reporter,
                 const AlongCodes &codes, Eerr_ErrorReport **err) {
  if (!Prepare(d, style, reporter, codes.controls, err)) return -1;
  if (pass == Along::Draw && text::OnlyControls(wide)) return 0;
  text::PointsAside aside(d);
  lower::CalleeReport inner;
  if (!aside.Move(&inner)) {
    lower::ReportChained(err, inner, reporter, codes.move, kNoMove);
    return -1;
  }
  int32_t count = 0;
  const int32_t *points = aside.FirstPart(count);
  Eevg_TextPath path = PathOver(d, count, points, style->xalign);
  int32_t status;
  switch (pass) {
  case Along::Draw: status = text::DrawPass(d, wide, &path, &inner); break;
  case Along::Positions: status = text::PositionPass(d, wide, &path, *view, nullptr, &inner); break;
  default: status = text::BoxPass(d, wide, &path, box, &inner); break;
  }
  if (status != 0) {
    lower::ReportChained(err, inner, reporter, codes.pass, "%s", codes.passMessage);
    return -1;
  }
  return 0;
}

constexpr AlongCodes kMeasureCodes{3, 4, 5, "Unable to measure text on polyline"};
constexpr AlongCodes kImageCodes{4, 5, 6, "Unable to draw text"};

// Measures text along a polyline: its positions (into view) or the box of its glyphs (into rect).
// The text is in visual order already.
int32_t MeasureAlong(Eevg_Drawing *d, Eevg_TextStyle *style, Efga_CoordinateBlock *polyline,
                     const char16_t *wide, Along pass, const text::ResultView *view,
                     const text::ResultView *rect, const char *reporter, Eerr_ErrorReport **err) {
  if (!LoadPolyline(d, polyline)) {
    lower::Report(err, reporter, 2, kNoImageSpace);
    return -1;
  }
  int32_t box[4];
  if (RunAlong(d, style, wide, pass, view, box, reporter, kMeasureCodes, err) != 0) return -1;
  if (pass == Along::Box) {
    const double xs[] = {double(box[0]), double(box[0]), double(box[2]), double(box[2])};
    const double ys[] = {double(box[1]), double(box[3]), double(box[3]), double(box[1])};
    for (int32_t c = 0; c < 4; ++c) {
      rect->Set(0, c, xs[c] / 8 * d->inverseScaleX + d->originX);
      rect->Set(1, c, ys[c] / 8 * d->inverseScaleY + d->originY);
    }
  }
  return 0;
}

// The checks of every measurement along a polyline (code 1 for a missing argument, 5 for a
// result of the wrong shape), then the visual order.
template <typename Char>
bool CheckAlong(Eevg_Drawing *d, Eevg_TextStyle *style, Efga_CoordinateBlock *polyline,
                const Char *text, Egda_BaseData *result, int32_t rows, int32_t columns,
                text::ResultView &view, VisualText &visual, const char *reporter,
                Eerr_ErrorReport **err) {
  if (!Present({{!d, 1, kNullDrawing},
                {!style, 1, kNullStyle},
                {!polyline, 1, kNullPolyline},
                {!text, 1, kNullText},
                {!result, 1, "NULL Eevg Result Matrix Pointer"}},
               reporter, err))
    return false;
  if (!text::ViewResult(result, rows, view) || view.columns < columns) {
    lower::Report(err, reporter, 5, "Invalid Eevg Result Matrix");
    return false;
  }
  return Translate(visual, text, reporter, 6, "Error translating text", err);
}

// A measurement along a polyline: the positions of its characters (at least two rows) or the
// rectangle of its glyphs (two rows, four columns).
template <typename Char>
int32_t PolylineMeasure(Eevg_Drawing *d, Eevg_TextStyle *style, Efga_CoordinateBlock *polyline,
                        const Char *text, Egda_BaseData *result, Along pass, const char *reporter,
                        Eerr_ErrorReport **err) {
  lower::Clear(err);
  text::ResultView view;
  VisualText visual;
  const bool box = pass == Along::Box;
  if (!CheckAlong(d, style, polyline, text, result, 2, box ? 4 : 0, view, visual, reporter, err)) return -1;
  return MeasureAlong(d, style, polyline, visual.Wide(), pass, box ? nullptr : &view, box ? &view : nullptr,
                      reporter, err);
}

// Offers text to the device's putText (opaque colours) or putTextOpacity with the positions that
// fill(matrix, err) computes: 1 when the device drew it, 0 when it declined, -1 with a report in
// *inner.
template <typename Fill>
int32_t OfferDeviceText(Eevg_Drawing *d, Eevg_TextStyle *style, VisualText &visual, int32_t rows,
                        Fill &&fill, Eerr_ErrorReport **inner) {
  const Eevg_GrIOInfo *io = d->grIOInfo;
  Eevg_FillStyle *fs = style->charFillStyle;
  const char *narrow = visual.Narrow();
  Egda_BaseData *positions =
      narrow ? egda_BaseDataCreate(rows, std::max(visual.Length(), 1), EGDA_TYPE_F64, EGDA_MATRIX, nullptr, inner)
             : nullptr;
  if (!positions) {
    if (!*inner) lower::Report(inner, "eevg_DrawText", 9, "Unable to allocate the character positions");
    return -1;
  }
  if (fill(positions, inner) != 0) {
    egda_BaseDataDelete(positions, nullptr);
    return -1;
  }
  Eevg_Color **fillColour = fs->pattern ? &fs->pattern->color : nullptr;
  Eevg_LineStyle *outline = fs->traceStyle;
  Eevg_Color **outlineColour =
      outline && outline->composition.count > 0 && outline->composition.data ? &outline->composition.data[0].color
                                                                              : nullptr;
  Eevg_Color *savedFill = fillColour ? *fillColour : nullptr;
  Eevg_Color *savedOutline = outlineColour ? *outlineColour : nullptr;
  if (d->overrideActive) {
    if (fillColour) *fillColour = &d->overrideColour;
    if (outlineColour) *outlineColour = &d->overrideColour;
  }
  auto opaque = [](Eevg_Color **c) { return !c || !*c || eevg_TestOpaque((*c)->opacity); };
  const bool isOpaque = (fs->fill != 1 || opaque(fillColour)) && (fs->trace != 1 || opaque(outlineColour));
  Eevg_PutTextFunction put = isOpaque ? io->putText : io->putTextOpacity;
  const int32_t done = put ? put(io->userData, style, positions, narrow, inner) : 0;
  if (fillColour) *fillColour = savedFill;
  if (outlineColour) *outlineColour = savedOutline;
  egda_BaseDataDelete(positions, nullptr);
  if (*inner) return -1;
  return done ? 1 : 0;
}

bool DeviceTakesText(const Eevg_Drawing *d) {
  return d->grIOInfo && (d->grIOInfo->putText || d->grIOInfo->putTextOpacity);
}

// Point text, 8-bit or UTF-16.
template <typename Char>
int32_t DrawPointText(Eevg_Drawing *d, Eevg_TextStyle *style, const Eevg_Coord *at,
                      const Char *text, const char *reporter, Eerr_ErrorReport **err) {
  lower::Clear(err);
  VisualText visual;
  if (!Present({{!d, 1, kNullDrawing},
                {!style, 2, kNullStyle},
                {style && !style->charFillStyle, 3, kNullFillStyle},
                {!at, 3, kNullLocation},
                {!text, 4, kNullText}},
               reporter, err) ||
      !Translate(visual, text, reporter, 5, "Error translating string memory", err))
    return -1;
  lower::CalleeReport inner;
  if (DeviceTakesText(d)) {
    const int32_t done = OfferDeviceText(
        d, style, visual, 2,
        [&](Egda_BaseData *m, Eerr_ErrorReport **e) {
          return PointPositions(d, style, at, visual.Wide(), m, "eevg_GetTextPositions", e);
        },
        &inner);
    if (done < 0) {
      lower::ReportChained(err, inner, reporter, 5, "Error drawing text");
      return -1;
    }
    if (done) return 0;
  }
  if (!Prepare(d, style, reporter, 6, err)) return -1;
  if (text::OnlyControls(visual.Wide())) return 0;
  double w, h, a;
  if (!Size(d, visual.Wide(), reporter, 7, w, h, a, err)) return -1;
  int32_t points[4];
  if (!text::PointBaseline(d, style, at, w, h, a, points)) return 0;
  if constexpr (std::is_same_v<Char, char16_t>) {
    Eevg_FontServer *server = gfx::FontServerOf(d->text.font);
    if (server && server->textRenderSpecial && d->grIOInfo->putTextUC && server->textRenderSpecial() != 0) {
      lower::CalleeReport ignored;
      server->textEmValueGet(d, &ignored);
      d->grIOInfo->putTextUC(d->grIOInfo->userData, style, at->x, -at->y - (h - a), w, h,
                             visual.Wide(), &inner);
      if (inner) {
        lower::ReportChained(err, inner, reporter, 5, "Error drawing text");
        return -1;
      }
      return 0;
    }
  }
  Eevg_TextPath path = PathOver(d, 2, points, 0);
  if (text::DrawPass(d, visual.Wide(), &path, &inner) != 0) {
    lower::ReportChained(err, inner, reporter, 8, "Unable to draw text");
    return -1;
  }
  return 0;
}

// Draws text (in visual order) along the first part of the drawing's point buffer.
int32_t DrawAlongImage(Eevg_Drawing *d, Eevg_TextStyle *style, const char16_t *wide,
                       const char *reporter, Eerr_ErrorReport **err) {
  return RunAlong(d, style, wide, Along::Draw, nullptr, nullptr, reporter, kImageCodes, err);
}

// Text (in visual order) along a polyline of world coordinates.
template <typename Char>
int32_t DrawAlongWorld(Eevg_Drawing *d, Eevg_TextStyle *style, Efga_CoordinateBlock *polyline,
                       const Char *text, int32_t useDeviceText, const char *imageReporter,
                       Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_DrawTextOnPolyLineWorld";
  lower::Clear(err);
  if (!Present({{!d, 1, kNullDrawing},
                {!polyline, 3, kNullPolyline},
                {!style, 2, kNullStyle},
                {style && !style->charFillStyle, 3, kNullFillStyle},
                {!text, 3, kNullText}},
               reporter, err))
    return -1;
  VisualText visual;
  lower::CalleeReport inner;
  if (!visual.Take(text, &inner)) {
    lower::ReportChained(err, inner, reporter, 5, "Unable to draw text on polyline");
    return -1;
  }
  if (useDeviceText && DeviceTakesText(d)) {
    const int32_t done = OfferDeviceText(
        d, style, visual, 3,
        [&](Egda_BaseData *m, Eerr_ErrorReport **e) {
          text::ResultView view;
          text::ViewResult(m, 3, view);
          return MeasureAlong(d, style, polyline, visual.Wide(), Along::Positions, &view, nullptr,
                              "eevg_GetTextOnPolyLinePositions", e);
        },
        &inner);
    if (done < 0) {
      lower::ReportChained(err, inner, reporter, 5, "Unable to draw text on polyline");
      return -1;
    }
    if (done) return 0;
  }
  if (!LoadPolyline(d, polyline)) {
    lower::Report(err, reporter, 4, kNoImageSpace);
    return -1;
  }
  if (DrawAlongImage(d, style, visual.Wide(), imageReporter, &inner) != 0) {
    lower::ReportChained(err, inner, reporter, 5, "Unable to draw text on polyline");
    return -1;
  }
  return 0;
}

} // namespace

extern "C" {

int32_t eevg_DrawText(Eevg_Drawing *drawing, Eevg_TextStyle *style, const Eevg_Coord *location,
                      const char *text, Eerr_ErrorReport **err) try {
  return DrawPointText(drawing, style, location, text, "eevg_DrawText", err);
} TAVIRON_GUARD(err, -1)

int32_t eevg_DrawTextUC(Eevg_Drawing *drawing, Eevg_TextStyle *style, const Eevg_Coord *location,
                        const char16_t *text, Eerr_ErrorReport **err) try {
  return DrawPointText(drawing, style, location, text, "eevg_DrawTextUC", err);
} TAVIRON_GUARD(err, -1)

int32_t eevg_DrawTextOnPolyLine(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                Efga_CoordinateBlock *polyline, const char *text,
                                Eerr_ErrorReport **err, ...) try {
  lower::Clear(err);
  lower::CalleeReport inner;
  lower::HeapPtr<char> visual;
  if (text) visual.reset(estr_TranslateTextToVisual(text, &inner));
  if (!text || !visual.get() ||
      DrawAlongWorld(drawing, style, polyline, visual.get(), 1, "eevg_DrawTextOnPolyLineImage", &inner) != 0) {
    lower::ReportChained(err, inner, "eevg_DrawTextOnPolyLine", 1, "Unable to Draw Text on PolyLine");
    return -1;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t eevg_DrawTextOnPolyLineUC(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                  Efga_CoordinateBlock *polyline, const char16_t *text,
                                  Eerr_ErrorReport **err, ...) try {
  static const char *reporter = "eevg_DrawTextOnPolyLineUC";
  lower::Clear(err);
  lower::CalleeReport inner;
  lower::HeapPtr<char16_t> visual;
  if (text) visual.reset(estr_TranslateTextToVisualUC(text, &inner));
  if (!text || !visual.get()) {
    lower::ReportChained(err, inner, reporter, 1, "Unable to translate string");
    return -1;
  }
  if (DrawAlongWorld(drawing, style, polyline, visual.get(), 1, "eevg_DrawTextOnPolyLineImageUC", &inner) != 0) {
    lower::ReportChained(err, inner, reporter, 2, "Unable to Draw Text on PolyLine");
    return -1;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

int32_t eevg_DrawTextOnPolyLineWorld(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                     Efga_CoordinateBlock *polyline, const char *text,
                                     int32_t useDeviceText, int32_t, int32_t,
                                     Eerr_ErrorReport **err) try {
  return DrawAlongWorld(drawing, style, polyline, text, useDeviceText,
                        "eevg_DrawTextOnPolyLineImage", err);
} TAVIRON_GUARD(err, -1)

int32_t eevg_DrawTextOnPolyLineImage(Eevg_Drawing *drawing, Eevg_TextStyle *style, const char *text,
                                     int32_t, int32_t, int32_t, Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_DrawTextOnPolyLineImage";
  lower::Clear(err);
  if (!Present({{!drawing, 1, kNullDrawing}, {!style, 2, kNullStyle}, {!text, 3, kNullText}}, reporter, err))
    return -1;
  lower::HeapPtr<char16_t> wide;
  wide.reset(estr_Ascii2Unicode(text));
  if (!wide.get()) {
    lower::Report(err, reporter, 6, "Unable to draw text");
    return -1;
  }
  return DrawAlongImage(drawing, style, wide.get(), reporter, err);
} TAVIRON_GUARD(err, -1)

int32_t eevg_GetParagraphSize(Eevg_Drawing *drawing, const char *text, int32_t, double,
                              double *width, double *height, double *ascent,
                              Eerr_ErrorReport **err) try {
  static const char *reporter = "eevg_GetParagraphSize";
  lower::Clear(err);
  if (!drawing || !text) {
    lower::Report(err, reporter, 1, "%s", !drawing ? kNullDrawing : kNullText);
    return 0;
  }
  if (!drawing->text.font || !drawing->text.style) {
    lower::Report(err, reporter, 2, "Text controls not prepared");
    return 0;
  }
  lower::HeapPtr<char16_t> wide;
  wide.reset(estr_Ascii2Unicode(text));
  double w = 0, h = 0, a = 0;
  if (!wide.get()) {
    lower::Report(err, reporter, 3, "Unable to allocate the text");
    return 0;
  }
  if (!text::ParagraphSize(drawing, wide.get(), w, h, a, err)) return 0;
  if (width) *width = w;
  if (height) *height = h;
  if (ascent) *ascent = a;
  return 1;
} TAVIRON_GUARD(err, 0)

int32_t eevg_GetTextSizes(Eevg_Drawing *drawing, Eevg_TextStyle *style, const char *text,
                          double *width, double *height, double *ascent, double *descent,
                          Eerr_ErrorReport **err, ...) try {
  static const char *reporter = "eevg_GetTextSizes";
  lower::Clear(err);
  double w = 0, h = 0, a = 0, down = 0;
  VisualText visual;
  if (!Present({{!drawing, 1, kNullDrawing}, {!style, 2, kNullStyle}, {!text, 3, kNullText}}, reporter, err) ||
      !Translate(visual, text, reporter, 4, kNoControls, err) || !Prepare(drawing, style, reporter, 4, err))
    return -1;
  if (!text::OnlyControls(visual.Wide())) {
    if (!Size(drawing, visual.Wide(), reporter, 5, w, h, a, err)) return -1;
    down = eevg_TextDescentGet(drawing) / 8 * drawing->inverseScaleY;
  }
  if (width) *width = w;
  if (height) *height = h;
  if (ascent) *ascent = a;
  if (descent) *descent = down;
  return 0;
} TAVIRON_GUARD(err, -1)

} // extern "C"

namespace {

// The checks of the point-text measurements, then the visual order (UTF-16 only: "Error
// translating text", code 6).
template <typename Char>
bool CheckPoint(Eevg_Drawing *d, Eevg_TextStyle *style, const Eevg_Coord *at, const Char *text,
                const Egda_BaseData *result, const char *resultMessage, VisualText &visual,
                const char *reporter, Eerr_ErrorReport **err) {
  return Present({{!d, 1, kNullDrawing},
                  {!style, 2, kNullStyle},
                  {!at, 3, kNullLocation},
                  {!text, 4, kNullText},
                  {!result, 5, resultMessage}},
                 reporter, err) &&
         Translate(visual, text, reporter, 6, "Error translating text", err);
}

template <typename Char>
int32_t BoundRect(Eevg_Drawing *d, Eevg_TextStyle *style, const Eevg_Coord *at, const Char *text,
                  Egda_BaseData *rect, const char *reporter, Eerr_ErrorReport **err) {
  lower::Clear(err);
  VisualText visual;
  if (!CheckPoint(d, style, at, text, rect, "NULL Eevg Bounding Rectangle Pointer", visual, reporter, err))
    return -1;
  text::ResultView view;
  if (!text::ViewResult(rect, 2, view) || view.columns < 4) {
    lower::Report(err, reporter, 5, "Invalid Eevg Bounding Rectangle Matrix");
    return -1;
  }
  if (!Prepare(d, style, reporter, 6, err)) return -1;
  double w, h, a, fx, fy;
  if (!Size(d, visual.Wide(), reporter, 7, w, h, a, err)) return -1;
  if (!AlignFactors(style, fx, fy)) return 0;
  const double m = -fx * w, t = -fy * h;
  const double us[] = {m, m, m + w, m + w}, vs[] = {t, t + h, t + h, t};
  for (int32_t c = 0; c < 4; ++c) {
    double x, y;
    Turn(style, at, us[c], vs[c], x, y);
    view.Set(0, c, x);
    view.Set(1, c, y);
  }
  return 0;
}

template <typename Char>
int32_t Positions(Eevg_Drawing *d, Eevg_TextStyle *style, const Eevg_Coord *at, const Char *text,
                  Egda_BaseData *positions, Eerr_ErrorReport **err) {
  static const char *reporter = "eevg_GetTextPositions";
  lower::Clear(err);
  VisualText visual;
  if (!CheckPoint(d, style, at, text, positions, "NULL Eevg Character Locations Pointer", visual, reporter, err))
    return -1;
  return PointPositions(d, style, at, visual.Wide(), positions, reporter, err);
}

} // namespace

extern "C" {

int32_t eevg_GetTextBoundRect(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                              const Eevg_Coord *location, const char *text, Egda_BaseData *rect,
                              Eerr_ErrorReport **err) try {
  return BoundRect(drawing, style, location, text, rect, "eevg_GetTextBoundRect", err);
} TAVIRON_GUARD(err, -1)

int32_t eevg_GetTextBoundRectUC(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                const Eevg_Coord *location, const char16_t *text,
                                Egda_BaseData *rect, Eerr_ErrorReport **err) try {
  return BoundRect(drawing, style, location, text, rect, "eevg_GetTextBoundRectUC", err);
} TAVIRON_GUARD(err, -1)

int32_t eevg_GetTextPositions(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                              const Eevg_Coord *location, const char *text,
                              Egda_BaseData *positions, Eerr_ErrorReport **err) try {
  return Positions(drawing, style, location, text, positions, err);
} TAVIRON_GUARD(err, -1)

int32_t eevg_GetTextPositionsUC(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                const Eevg_Coord *location, const char16_t *text,
                                Egda_BaseData *positions, Eerr_ErrorReport **err) try {
  return Positions(drawing, style, location, text, positions, err);
} TAVIRON_GUARD(err, -1)

int32_t eevg_GetTextOnPolyLineBoundRect(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                        Efga_CoordinateBlock *polyline, const char *text,
                                        Egda_BaseData *rect, Eerr_ErrorReport **err) try {
  return PolylineMeasure(drawing, style, polyline, text, rect, Along::Box, "eevg_GetTextOnPolyLineBoundRect", err);
} TAVIRON_GUARD(err, -1)

int32_t eevg_GetTextOnPolyLineBoundRectUC(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                          Efga_CoordinateBlock *polyline, const char16_t *text,
                                          Egda_BaseData *rect, Eerr_ErrorReport **err) try {
  return PolylineMeasure(drawing, style, polyline, text, rect, Along::Box, "eevg_GetTextOnPolyLineBoundRectUC",
                         err);
} TAVIRON_GUARD(err, -1)

int32_t eevg_GetTextOnPolyLinePositions(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                        Efga_CoordinateBlock *polyline, const char *text,
                                        Egda_BaseData *positions, Eerr_ErrorReport **err, ...) try {
  return PolylineMeasure(drawing, style, polyline, text, positions, Along::Positions,
                         "eevg_GetTextOnPolyLinePositions", err);
} TAVIRON_GUARD(err, -1)

int32_t eevg_GetTextOnPolyLinePositionsUC(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                          Efga_CoordinateBlock *polyline, const char16_t *text,
                                          Egda_BaseData *positions, Eerr_ErrorReport **err) try {
  return PolylineMeasure(drawing, style, polyline, text, positions, Along::Positions,
                         "eevg_GetTextOnPolyLinePositionsUC", err);
} TAVIRON_GUARD(err, -1)

} // extern "C"
