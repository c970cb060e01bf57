// The renderer's drawing record and what its parts share inside the graphics subsystem.
#ifndef TAVIRON_GRAPHICS_EEVG_PRIVATE_H
#define TAVIRON_GRAPHICS_EEVG_PRIVATE_H

#include <string>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "eevg.h"

// A colour as the rasteriser carries it: red, green, blue, index, opacity.
struct Eevg_DeviceColor {
  int32_t red;
  int32_t green;
  int32_t blue;
  int32_t index;
  int32_t opacity;
};

struct Eevg_LoadedFont;

// The text state of a drawing: set by the text-control preparation and by the string
// initialisation at the start of every layout pass, read by the font servers.
struct Eevg_TextControls {
  Eevg_TextStyle *style; // borrowed from the caller
  int32_t fontIndex;
  Eevg_LoadedFont *font; // the slot of the control record's font table
  double heightFactor;   // the style's height over the signed world height
  double slantTangent;   // tan of the slant, the slant held at most at 80
  double charSpacing, lineSpacing, slant, charExtension;
  int32_t extraSpacing;      // (character spacing - 1) in thousandths
  int32_t extraSpacingUnits; // the same in font units
  int32_t em;                // the server's em value (font units) of the pass
  double glyphMatrix[4];     // shear, y scale, x scale, 0: font units to sub-pixels
  double pathMatrix[4];      // x scale, 0, 0, uniform scale
  int32_t pathOffsetX, pathOffsetY;
  double angle, sine, cosine; // rotation of the outline-font text
  // The outline-font engine's glyph matrix (a, b, c, d: x column a, c; y column b, d), which maps
  // a line height of the font onto its columns, its fixed-point form (16 fractional bits) and the
  // origin of the glyph being retrieved (sub-pixels).
  double outlineMatrix[4];
  int64_t outlineFixed[4];
  double glyphOriginX, glyphOriginY;
  int32_t yalign, xalign;
  Eevg_FillPattern *fillPattern; // what glyph fills paint with
  int32_t outlineWidth;          // sub-pixels
  double outlineWidthValue;      // the outline line's width in line units
  // The outline sink: the pen, and the points and contours it appended for the glyph asked.
  int32_t penX, penY;
  int32_t sinkPoints, sinkContours;
  // Tests only: how glyphs are drawn (taviron::graphics::text::GlyphDrawing; 0 from the cache).
  int32_t glyphDrawing;
  // The block the device's getBlock filled for the last glyph, handed back to it for the next
  // (freed with the drawing).
  Eevg_RGBPixelRect *glyphBlock;
};

// A cubic the curve flattener has flattened, kept for another with the same control points up to
// a translation: the points relative to their lowest corner, the precision shift, flatness and
// stack depth it was flattened with, and the ends of the pieces it was cut into (relative to the
// same corner).
constexpr int32_t kCurveMemoCount = 64;
constexpr int32_t kCurveMemoLeaves = 30;
struct Eevg_CurveMemo {
  uint32_t key[11];
  int32_t count; // pieces; 0 while the entry is empty
  uint32_t leaves[2 * kCurveMemoLeaves];
};

struct Eevg_Drawing {
  Eevg_GrIOInfo *grIOInfo; // the caller's record, read at every call
  int32_t glyphFill;
  int32_t glyphOutline;
  int32_t textFillOrder;
  int32_t shapeState;
  Eevg_DeviceColor *lineColours;
  int32_t lineColourCapacity;
  int32_t lineColourCount;
  Eevg_DeviceColor *textColours;
  int32_t textColourCapacity;
  int32_t pointCapacity;
  int32_t polygonStartCapacity;
  double worldX1, worldY1, worldX2, worldY2;
  int32_t deviceWidth, deviceHeight;
  int32_t subClipXMin, subClipYMin, subClipXMax, subClipYMax;
  int32_t clipXMin, clipYMin, clipXMax, clipYMax;
  // Dash work arrays: per segment lineMark and lineSpace (doubles, then sub-pixels).
  int32_t dashCount;
  int32_t dashCapacity;
  double *dashes;
  int32_t *subDashes;
  // Width work arrays: per composition line.
  int32_t widthCount;
  int32_t widthCapacity;
  double *widths;
  int32_t *subWidths;
  int32_t *drawWidths;
  // Current line ends, set by the shape operations.
  int32_t startLineEnd, endLineEnd, markEnd, lineJoin, applyLineEnds;
  Eevg_ArrowEnd *arrowEnd;
  Eevg_TextControls text; // prepared by each text call
  int32_t deviceXMax, deviceYMax;
  // World transform: device = world * scale + offset (continuous pixels).
  double scaleX, scaleY, offsetX, offsetY, inverseScaleX, inverseScaleY, originX, originY;
  int32_t *points;        // two 32-bit sub-pixel coordinates per point
  int32_t *polygonStarts; // polygonStartCapacity + 1 entries
  int32_t polygonCount;
  int32_t pointCount;
  uint8_t *widePolygonBuffer; // 20 bytes
  int32_t subPixelShift;
  // Curve flattening.
  int32_t curveShift;
  int32_t curveSecond;
  int32_t curveFlatness;
  int32_t *curveStack; // curveStackCapacity cubic segments of eight coordinates
  int32_t curveStackCapacity;
  int32_t pseudoColour;
  int32_t deviceType2;
  int32_t lineWidthUnit;
  int32_t wideWord;
  int32_t antiAlias;
  int32_t stripFileInUse;
  void *stripFile; // the strip file's control record while it is open
  uint8_t *scanLineBuffer;
  int32_t polylineState;
  int32_t antiAliasMask;
  int32_t traceX, traceY, traceLastColumn, traceLastRow;
  Eevg_DeviceColor traceColour;
  double mitreLimit;
  Eevg_FillPattern *fillPattern;
  int32_t overrideActive;
  Eevg_DeviceColor overrideDeviceColour;
  Eevg_Color overrideColour;
  int32_t opaqueFallback;
  int32_t pixelSizeX, pixelSizeY;
  int32_t usingWorldTransform;
  Eevg_Control *control;
  Eevg_DeviceInfo deviceCopy;
  Eevg_Coord *worldLowerLeft;
  Eevg_Coord *worldUpperRight;
  Eevg_GrIOInfo grIOInfoCopy;
  char stripFileName[72];
  // Wide lines: the run being gathered (sub-pixel points; last point -32000 when there is none).
  int32_t *widePoints;
  int32_t widePointCapacity;
  int32_t widePointCount;
  int32_t wideLastX, wideLastY;
  int32_t wideWidth;
  double wideTurnLimit, wideRunAngle, wideLastAngle;
  // The caps of the next piece, chosen by the line driver, and what the wide builder sets.
  int32_t startCap, endCap, joinKind, joinTowardX, joinTowardY;
  int32_t clipFlags; // 1 start moved by clipping, 2 end moved, 3 nothing left
  // The previous piece: its end corners (when it ended in a butt) and its first direction.
  int32_t prevEndLeftX, prevEndLeftY, prevEndRightX, prevEndRightY;
  double prevAngle;
  Eevg_ArrowEnd *capArrowEnd; // the arrow head of the line being drawn
  // Wide-line work buffers (grow, never shrink; freed with the drawing): the outline ring being
  // built, the deduplicated points and right side of a wide polygon, the kept dash pairs.
  int32_t *wideRing;
  int32_t wideRingCapacity; // points
  int32_t *wideWork;
  int32_t wideWorkCapacity; // points
  double *lineDashWork;
  int32_t lineDashWorkCapacity; // doubles
  // The previous piece's end point and whether its end corners were kept (it ended in a butt);
  // a join is only made with a piece that ended where the next one starts.
  int32_t prevEndX, prevEndY, prevEndKept;
  // How clipping moved the ends of the run being gathered (bit 1 its start, bit 2 its end), and
  // the caps its first and last segments were added with (the run is drawn with them).
  int32_t wideRunClip;
  int32_t wideRunStartCap, wideRunJoinKind, wideRunTowardX, wideRunTowardY, wideRunEndCap;
  // Bytes of the scan-line block once the filler has grown it to hold its scratch memory beside
  // the coverage bytes (0 while it is the coverage buffer alone).
  int64_t scanLineBytes;
  // Cubics flattened lately (round caps and joins of one width and direction, glyph curves),
  // by a hash of their key.
  Eevg_CurveMemo curveMemos[kCurveMemoCount];
  // The dash phase of lines cut where they leave the guard band: per part of the point buffer,
  // the distance along its line from where the line really starts to the part's first point.
  // The line driver reads them for the first partPhaseCount parts (0 outside the calls that load
  // such lines), and dashPhase for the line it is given.
  double *partPhases;
  int32_t partPhaseCapacity;
  int32_t partPhaseCount;
  double dashPhase;
  // Tests only: wide lines are drawn the plain way, every piece made and every cap flattened in
  // full (the reference for what the line driver and the wide builder leave out).
  int32_t plainLines;
  // Set by the line driver while it draws the pieces of one dashed wide line (one colour): the
  // filler leaves out the fills that change no sample of the clip window, and of those that
  // hold every sample of it draws only the first (kWindowFillsOff, kWindowFillsOn, then
  // kWindowFilled once it has drawn one).
  int32_t windowFills;
};

namespace taviron::graphics {

// The search lists used when NORIX_FONT_PATH / NORIX_FONT_SERVERS_PATH are unset: the current
// folder and $TAVIRON_HOME's folder, the folder installed beside the library, the build tree's.
std::string DefaultFontPath();
std::string DefaultFontServersPath();

constexpr int32_t kSubPixelShift = 3;
constexpr int32_t kInitialPointCapacity = 1000;
constexpr int32_t kCurveStackCapacity = 100;
constexpr int32_t kWidePolygonBufferSize = 20;

// Frees the block of a device's pixels the text engines keep (glyphBlock of the text controls).
void FreeGlyphBlock(Eevg_Drawing *drawing);

// The strip file of device type 1: opened at drawing set-up, released and burnt into the target
// when the drawing ends. Each returns 0, or -1 with a report.
int32_t StripFileOpen(Eevg_Drawing *drawing, int32_t bands, Eerr_ErrorReport **err);
int32_t StripFileRelease(Eevg_Drawing *drawing, Eerr_ErrorReport **err);
int32_t StripFileBurnIn(Eevg_Drawing *drawing, int32_t bands, Eerr_ErrorReport **err);

// The renderer's preferences ("annotation"/"text_fill_order" and "mitre_limit").
int32_t PreferredTextFillOrder();
double PreferredMitreLimit();

// Makes room in the drawing's buffers for `points` points and `parts` parts (plus the entry that
// ends the last part). Capacities grow at least by half and never shrink; the contents are kept.
// False (buffers untouched) when memory runs out.
bool ReservePoints(Eevg_Drawing *drawing, int32_t points, int32_t parts);

// The file device's thin line: from the end with the larger row (the second end when the rows
// are equal) to the other, one pixel per step of the major axis, major + 1 pixels in all. Stops
// and returns false at the first pixel that place refuses.
bool WalkVector(int32_t firstX, int32_t firstY, int32_t secondX, int32_t secondY,
                bool (*place)(void *context, int32_t x, int32_t y), void *context);

} // namespace taviron::graphics

// ---------------------------------------------------------------------------------------------
// rasteriser: clipping, thin lines, pixel writers, the scan filler. Points are pairs of 32-bit
// sub-pixel integers (1/8 pixel, device y upward) unless said otherwise; pixel positions are a
// column and a device y. Each returns 0, or -1 with a report.

namespace taviron::graphics {

int32_t eevg_ThinVector(Eevg_Drawing *drawing, const Eevg_DeviceColor &colour,
                        const int32_t *segment, Eerr_ErrorReport **err);
int32_t eevg_ThinPoly(Eevg_Drawing *drawing, const Eevg_DeviceColor &colour, int32_t count,
                      const int32_t *points, Eerr_ErrorReport **err);
// points in pixels (column, device y).
int32_t eevg_Thinply(Eevg_Drawing *drawing, const Eevg_DeviceColor &colour, int32_t count,
                     const int32_t *points, Eerr_ErrorReport **err);
int32_t eevg_Wrdot(Eevg_Drawing *drawing, int32_t column, int32_t y,
                   const Eevg_DeviceColor &colour, Eerr_ErrorReport **err);
int32_t eevg_WrHlin(Eevg_Drawing *drawing, int32_t column, int32_t y, int32_t count,
                    const Eevg_DeviceColor &colour, Eerr_ErrorReport **err);
int32_t eevg_Wrdota(Eevg_Drawing *drawing, int32_t column, int32_t y, int32_t coverage,
                    const Eevg_DeviceColor &colour, Eerr_ErrorReport **err);
// position: (column, image row).
int32_t eevg_WrDevPix(Eevg_Drawing *drawing, const Eevg_Color &colour, const double *position,
                      int32_t opaque, Eerr_ErrorReport **err);
int32_t eevg_TracePolygon(Eevg_Drawing *drawing, int32_t ringCount, const int32_t *starts,
                          const int32_t *points, const Eevg_DeviceColor &colour, int32_t width,
                          Eerr_ErrorReport **err);
int32_t eevg_HrpLine(Eevg_Drawing *drawing, const Eevg_DeviceColor &colour,
                     const int32_t *points, int32_t count, int32_t width, Eerr_ErrorReport **err);
int32_t eevg_WrPix(Eevg_Drawing *drawing, int32_t penWidth, Eerr_ErrorReport **err);

// Draws one ring of a trace wider than the 2 x 2 pen (or any trace when anti-aliased) as a wide
// line (a run of wide segments).
int32_t TraceWideRing(Eevg_Drawing *drawing, const Eevg_DeviceColor &colour,
                      const int32_t *points, int32_t count, int32_t width,
                      Eerr_ErrorReport **err);

// ---------------------------------------------------------------------------------------------
// The line driver: draws the polyline of segmentCount segments (segmentCount + 1 sub-pixel points)
// with the drawing's current line state (composition widths and colours, dashes, line ends,
// join, arrow end). Arrow heads may move the end points, which are left so. 0, or -1 with a
// report.
int32_t eevg_WideLine(Eevg_Drawing *drawing, int32_t segmentCount, int32_t *points,
                      Eerr_ErrorReport **err);

// One quarter-line's crossings (quarter-pixel x positions).
struct Eevg_CrossingArray {
  int32_t *x;
  int32_t count;
  int32_t capacity;
  int32_t owned; // x is a heap block of its own (not a slice of another block)
};

int32_t eevg_LOFiller(Eevg_Drawing *drawing, int32_t ringCount, const int32_t *starts,
                      const int32_t *points, const Eevg_DeviceColor &colour,
                      Eerr_ErrorReport **err);
// The states of Eevg_Drawing::windowFills.
constexpr int32_t kWindowFillsOff = 0, kWindowFillsOn = 1, kWindowFilled = 2;
// Where closed rings (even-odd) lie against the samples of the clip window: wholly beside them,
// holding every one of them, or neither (also for a ring that is not closed). Exact in integers,
// with a margin for the filler's rounding of the points to its samples.
enum class WindowPart { kOutside, kHolds, kPartly };
WindowPart RingsAgainstWindow(const Eevg_Drawing *drawing, int32_t ringCount,
                              const int32_t *starts, const int32_t *points);
int32_t eevg_AFiller(Eevg_Drawing *drawing, int32_t ringCount, const int32_t *starts,
                     const int32_t *points, const Eevg_DeviceColor &colour, int32_t yMin,
                     int32_t yMax, int32_t xMin, int32_t xMax, Eerr_ErrorReport **err);
// The scan converter with the walk of rings monotone in y allowed (as eevg_AFiller) or not (every
// ring through the active-edge list); both give the same pixels.
int32_t AFillerWith(Eevg_Drawing *drawing, int32_t ringCount, const int32_t *starts,
                    const int32_t *points, const Eevg_DeviceColor &colour, int32_t yMin,
                    int32_t yMax, int32_t xMin, int32_t xMax, bool monotoneWalk,
                    Eerr_ErrorReport **err);
// What the scan converter counts instead of drawing: per pixel of a window of width x height
// pixels from (0, 0), the samples covered (16 for a pixel covered whole), row after row from the
// bottom; the caller clears the counts beforehand.
struct CoverageMask {
  int32_t width, height;
  uint8_t *counts;
};
// Counts the rings' samples into the mask as the scan converter would draw them (the points
// already relative to the mask's lower-left corner; the mask no wider than the device). 0, or -1
// with a report.
int32_t FillCoverage(Eevg_Drawing *drawing, int32_t ringCount, const int32_t *starts,
                     const int32_t *points, CoverageMask &mask, Eerr_ErrorReport **err);
// Whether a ring of count points is closed and monotone in y as the scan converter walks it.
bool FillsAsMonotone(const int32_t *points, int32_t count);
int32_t eevg_AntLine(Eevg_Drawing *drawing, uint8_t *coverage, int32_t first, int32_t last,
                     int32_t y, const Eevg_DeviceColor &colour, Eerr_ErrorReport **err);
// Grows the array by 8 entries: 1, or 0 with a report.
int32_t eevg_GetMoreRoom(Eevg_CrossingArray *array, Eerr_ErrorReport **err);

} // namespace taviron::graphics

// ---------------------------------------------------------------------------------------------
// Curves: the flattener and the ellipse and arc builders. Points are 32-bit sub-pixel pairs.

namespace taviron::graphics {

// A double as a 32-bit integer, truncated toward zero and saturated (NaN gives 0).
int32_t TruncateToInt32(double value);

// Appends the cubic (x0, y0)..(x3, y3), flattened within the flatness (at least 2), to the point
// array of *pointCount points; the current part (counted from 1) starts at starts[partNumber-1].
// The start point is not appended. The array grows as needed ("Polygon Overflow" when it cannot).
// Returns 0, or -1 with a report.
int32_t eevg_CVPoly(Eevg_Drawing *drawing, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                    int32_t x2, int32_t y2, int32_t x3, int32_t y3, int32_t flatness,
                    int32_t *pointCapacity, int32_t **points, int32_t *pointCount,
                    const int32_t *starts, int32_t partNumber, Eerr_ErrorReport **err);
// eevg_CVPoly for an outline that goes to the scan filler (a round cap of a wide line): the
// cubic curve (four points) is flattened in full only where it can meet the drawing's clip
// window; what the filler makes of the outline there stays the same.
int32_t FlattenNearWindow(Eevg_Drawing *drawing, const int32_t *curve, int32_t flatness,
                          int32_t *pointCapacity, int32_t **points, int32_t *pointCount,
                          Eerr_ErrorReport **err);

// The twelve control points (24 integers) of the whole ellipse, starting at angle 0 of its own
// frame: point 0, then three per quarter, the last quarter ending on point 0 again.
void eevg_ComputeEllipseCurve(double cx, double cy, double rx, double ry, double rotation,
                              int32_t *out);
// The control points of the arc from start to end (counter-clockwise, radians in the ellipse's
// own frame): 1 + 3n points for n pieces (at most 5, so out holds 32 integers).
void eevg_ComputeEllipticalArcCurve(const Eevg_Drawing *drawing, double cx, double cy, double rx,
                                    double ry, double rotation, double start, double end,
                                    int32_t *out, int32_t *pieceCount);
// Normalises the angle (written back) and returns its quadrant, for a start (isStart 1) or an
// end (isStart 0).
int32_t eevg_AngleToQuadrant(double *angle, int32_t isStart);
long double eevg_Distance(int32_t x1, int32_t y1, int32_t x2, int32_t y2);

// Append one new part to the drawing's point buffer: the whole ellipse flattened with the
// drawing's curve flatness and closed by repeating its first point, or the arc's curve left
// open. Returns 0, or -1 with a report.
int32_t FlattenEllipse(Eevg_Drawing *drawing, double cx, double cy, double rx, double ry,
                       double rotation, Eerr_ErrorReport **err);
int32_t FlattenEllipticalArc(Eevg_Drawing *drawing, double cx, double cy, double rx, double ry,
                             double rotation, double start, double end, Eerr_ErrorReport **err);

} // namespace taviron::graphics

// ---------------------------------------------------------------------------------------------
// Wide lines: runs of segments drawn as filled outlines with caps and joins, and the line
// driver (compositions, dashes, arrow heads). Points are 32-bit sub-pixel pairs.

namespace taviron::graphics {

// Direction of (x, y) in [0, 2 pi), counter-clockwise from +x; 0 for NaN or (near) zero input.
double eevg_Zatan2(double y, double x);
// The turn between two directions in [0, 2 pi) as the run builder measures it.
double eevg_AngleDifference(double a, double b);
// The two lines at half width h beside the line through (x, y) with direction (dx, dy): a point
// of each (left of the direction of travel, then right).
void eevg_OffsetLines(double x, double y, double dx, double dy, double h, double *left,
                      double *right);
// The crossing of two lines (point and direction each), truncated and saturated to 32 bits.
// 0, or -1 with a report for parallel lines or a zero direction ((0, 0) is given then).
int32_t eevg_Intersect(double x1, double y1, double dx1, double dy1, double x2, double y2,
                       double dx2, double dy2, int32_t *x, int32_t *y, Eerr_ErrorReport **err);
// The round cap at the end (x, y) of a segment of direction angle: two cubics, seven points
// (14 integers) from the left side through the tip to the right side.
void eevg_RoundCapCurves(double x, double y, double angle, double h, int32_t *out);
// The square cap at the end (x, y): two points (4 integers), left then right.
void eevg_SquareCapPoints(double x, double y, double angle, double h, int32_t *out);
// Appends the mitre tip beyond the corner along the previous piece's direction.
void eevg_ComputeMitreCap(const Eevg_Drawing *drawing, int32_t *points, int32_t *count,
                          int32_t cornerX, int32_t cornerY, double mitre, double half);

// Runs of segments. Each returns 0, or -1 with a report.
int32_t eevg_StartWidePolygon(Eevg_Drawing *drawing, int32_t pointCount, int32_t width,
                              const Eevg_DeviceColor &colour, Eerr_ErrorReport **err);
int32_t eevg_LOWideLine(Eevg_Drawing *drawing, const int32_t *segment, Eerr_ErrorReport **err);
int32_t eevg_EndWidePolygon(Eevg_Drawing *drawing, Eerr_ErrorReport **err);
int32_t eevg_ProducePolygon(Eevg_Drawing *drawing, Eerr_ErrorReport **err);
// The outline of the polyline of count points at width w with the drawing's caps, filled.
// 1 when filled (or nothing to draw), 0 with a report.
int32_t eevg_WidePoly(Eevg_Drawing *drawing, int32_t count, const int32_t *points, int32_t width,
                      const Eevg_DeviceColor &colour, Eerr_ErrorReport **err);
// One solid segment (clipped in place), wide or thin. 0, or -1 with a report.
int32_t eevg_WideSolidLine(Eevg_Drawing *drawing, int32_t *segment, int32_t width,
                           const Eevg_DeviceColor &colour, Eerr_ErrorReport **err);

// The line driver's parts (eevg_WideLine is declared with the rasteriser above).
int32_t eevg_WideVector(const Eevg_DeviceColor &colour, int32_t width, Eevg_Drawing *drawing,
                        int32_t separate, int32_t pointCapacity, int32_t closed, int32_t isFirst,
                        int32_t isLast, int32_t continuesFrom, int32_t continuesTo,
                        int32_t towardX, int32_t towardY, const int32_t *segment,
                        Eerr_ErrorReport **err);
void eevg_SetWidePolyCapStyles(Eevg_Drawing *drawing, int32_t closed, int32_t isFirst,
                               int32_t isLast, int32_t continuesFrom, int32_t continuesTo);
// The arrow head at tip (two integers, moved by the cut-back) toward neighbour; keepSegment is
// 0 when the head covers the whole segment. 0, or -1 with a report.
int32_t eevg_DrawArrow(Eevg_Drawing *drawing, int32_t *tip, int32_t *neighbour,
                       int32_t *keepSegment, int32_t wide, int32_t width, int32_t widest,
                       const Eevg_DeviceColor &colour, Eerr_ErrorReport **err);

} // namespace taviron::graphics

// ---------------------------------------------------------------------------------------------
// Shapes: the whole-pixel width rule and the thinning of the rasterising polyline path, and the
// guard band that keeps converted coordinates far from the 32-bit limits.

namespace taviron::graphics {

// Reports the polyline calls and the symbols along lines share.
inline constexpr const char *kNullDrawing = "NULL Eevg Drawing Pointer";
inline constexpr const char *kNullLineStyle = "NULL Eevg eevg_PolyLine Line Style Pointer";
inline constexpr const char *kNullLineCoords = "NULL Eevg eevg_PolyLine Coordinate List Pointer";
inline constexpr const char *kBadLineCoords = "Invalid Eevg eevg_PolyLine Coordinate List";

// The checks the polyline calls and the symbols along lines share: the drawing (code
// firstCode), the line style and its arrays (firstCode + 1) and, withBlock, the coordinate block
// (firstCode + 2). False after a report.
bool CheckLineCall(const Eevg_Drawing *drawing, const Eevg_LineStyle *lineStyle, bool withBlock,
                   const Efga_CoordinateBlock *block, const char *reporter, int32_t firstCode,
                   Eerr_ErrorReport **err);

// Converted points stay within the clip window grown by this many sub-pixels on every side (and
// within +-kShapeSafeLimit): shapes reaching beyond are clipped in double precision first.
constexpr int32_t kShapeGuardBand = 1 << 24;
constexpr int32_t kShapeSafeLimit = 1 << 27;

// A line width in sub-pixels (already converted from the line-width unit, truncated) as the
// rasteriser draws it: kept as it is on anti-aliased drawings, else made an odd number of whole
// pixels (2 pixels draw 3 wide, 1.9 draws 1). *drawWidth gets the same raised to at least 1
// (anti-aliased) or 8 (one pixel). Returns the width for subWidths.
int32_t ShapeLineWidth(int32_t subWidth, int32_t antiAlias, int32_t *drawWidth);

// Thins one part of a polyline for the wide-line drawer: in holds count points, out room for
// count + 1. The first and last points always stay; on lines wider than one pixel (firstDrawWidth
// above 8) middle points within the tolerance of the last kept point on both axes are dropped and
// collinear runs merge. With closed, the first point is appended when the last kept one differs.
// Returns the number of points in out.
int32_t ThinPolyLinePart(const int32_t *in, int32_t count, int32_t firstDrawWidth,
                         int64_t tolerance, int32_t closed, int32_t *out);

// One part of a coordinate block: x of point j at origin + j * column, y one row further.
struct ShapePartView {
  const uint8_t *origin = nullptr;
  std::ptrdiff_t column = 0, row = 0;
  int32_t n = 0;
  double X(int32_t j) const { return Load(origin + j * column); }
  double Y(int32_t j) const { return Load(origin + j * column + row); }
  static double Load(const uint8_t *p) {
    double v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
};
// A two-row f64 matrix whose steps reach every element (the view is filled); false for anything
// else.
bool ShapeViewPart(const Egda_BaseData *m, ShapePartView &view);
// Every part of the block is such a matrix, and its points fit the drawing's buffers.
bool ShapeBlockValid(const Efga_CoordinateBlock *block);

} // namespace taviron::graphics

#endif
