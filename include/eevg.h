/* The eevg package: the vector-graphics renderer. This header holds its control record, the
   drawing record's set-up and conversions, the graphics-output callback record and the file
   device, the renderer's style objects with their stored designs, and the font data base.

   Every operation that takes an error slot takes it last (after a keyword list: first), sets it
   to null first and accepts a null slot (the report is then dropped). Heap results come from the
   lower layer's heap and are freed with the operation named with them, or with emsc_HeapFree. */
#ifndef TAVIRON_EEVG_H
#define TAVIRON_EEVG_H

#include <stdint.h>

#include "eerr.h"
#include "efga.h"
#include "egda.h"
#include "eimg.h"
#include "emif.h"
#include "emsc.h"
#include "estr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* ---------------------------------------------------------------------------------------------
   Style objects */

typedef struct {
  double x;
  double y;
} Eevg_Coord;

/* Coordinate systems in which annotation gives positions and sizes: device pixels, normalised
   device units, map units of the layer, output (paper) units. */
typedef enum { EEVG_PIXEL = 1, EEVG_NDU = 2, EEVG_MAP = 3, EEVG_OUTPUT = 4 } Eevg_CoordSys;

typedef enum { EEVG_TOP = 0, EEVG_YCENTER = 1, EEVG_BOTTOM = 2 } Eevg_YAlign;
/* EEVG_FULL spreads a text along the whole of its polyline. */
typedef enum { EEVG_LEFT = 0, EEVG_XCENTER = 1, EEVG_RIGHT = 2, EEVG_FULL = 5 } Eevg_XAlign;

/* A text alignment, vertical then horizontal (32-bit Eevg_YAlign, Eevg_XAlign). */
typedef struct {
  int32_t yalign;
  int32_t xalign;
} Eevg_Align;

typedef enum { EEVG_TRUECOLOR = 0, EEVG_PSEUDOCOLOR = 1 } Eevg_ColorMode;

/* A colour: index first, then red, green, blue (0 to 255) and opacity (0 transparent to 255
   opaque; above 254 counts as opaque). */
typedef struct {
  int32_t index;
  int32_t red;
  int32_t green;
  int32_t blue;
  int32_t opacity;
} Eevg_Color;

/* One dash: the length drawn, then the length skipped. */
typedef struct {
  double lineMark;
  double lineSpace;
} Eevg_LinePatternSegment;

/* A dash pattern: count segments in data (null when count is 0). */
typedef struct {
  int32_t count;
  Eevg_LinePatternSegment *data;
} Eevg_LinePattern;

/* One line of a composite line: its colour (owned, may be null) and width. */
typedef struct {
  Eevg_Color *color;
  double width;
} Eevg_LineDescription;

/* The lines of a composite line, held by value. */
typedef struct {
  int32_t count;
  Eevg_LineDescription *data;
} Eevg_LineComposition;

/* The arrow head of a line end; filled and stick are EMSC_FALSE or EMSC_TRUE. */
typedef struct {
  double baseAngle;
  double tipAngle;
  double length;
  int32_t filled;
  int32_t stick;
} Eevg_ArrowEnd;

typedef enum {
  EEVG_ROUND_END = 0,
  EEVG_BUTT_END = 1,
  EEVG_SQUARE_END = 2,
  EEVG_ARROW_END = 3
} Eevg_LineEnd;

typedef enum {
  EEVG_ROUND_JOIN = 0,
  EEVG_BUTT_JOIN = 1,
  EEVG_BEVEL_JOIN = 2,
  EEVG_MITRE_JOIN = 3
} Eevg_LineJoin;

typedef enum { EEVG_ARC_ONLY = 0, EEVG_ARC_PIE = 1, EEVG_ARC_CHORD = 2 } Eevg_ArcType;

typedef struct Eevg_Drawing Eevg_Drawing;

/* Draws one line symbol at position (two doubles, world units) with the scale factor and the
   angle (radians). */
typedef void (*Eevg_LineSymbolRenderFunction)(Eevg_Drawing *drawing, void *userData,
                                              const double *position, double scaleFactor,
                                              double angle, Eerr_ErrorReport **err);
/* Frees the user data of a line symbol or a fill pattern. */
typedef void (*Eevg_UserDataFreeFunction)(void *userData);

/* A symbol repeated along a line: scale, spacing and offset in world units. */
typedef struct {
  double scale;
  double spacing;
  double offset;
  Eevg_LineSymbolRenderFunction render;
  void *userData;
  Eevg_UserDataFreeFunction freeFunction;
} Eevg_LineSymbol;

/* The renderer's line style. The composition, the pattern, the arrow end and the line symbol
   belong to it. lineJoin is an Eevg_LineJoin, the three ends Eevg_LineEnd values. */
typedef struct {
  Eevg_LineComposition composition;
  Eevg_LinePattern pattern;
  int32_t lineJoin;
  int32_t startLineEnd;
  int32_t endLineEnd;
  int32_t markEnd;
  Eevg_ArrowEnd *arrowEnd;
  int32_t displayLine; /* 1 draws the line */
  int32_t useSymbol;   /* 1 places the line symbol */
  Eevg_LineSymbol *lineSymbol;
} Eevg_LineStyle;

/* What a fill paints with: a colour, or (usePattern 1) the pattern stack, a stack of four
   unsigned 8-bit layers (red, green, blue, opacity) laid from patternOrigin. Without a free
   function the user data is freed as plain heap memory. */
typedef struct {
  Eevg_Color *color;
  int32_t usePattern;
  Egda_BaseDataStack *patternStack;
  Eevg_Coord *patternOrigin;
  void *userData;
  Eevg_UserDataFreeFunction freeFunction;
} Eevg_FillPattern;

/* The renderer's fill style; pattern and traceStyle belong to it. */
typedef struct {
  int32_t fill;  /* 1 fills */
  int32_t trace; /* 1 outlines */
  Eevg_FillPattern *pattern;
  Eevg_LineStyle *traceStyle;
} Eevg_FillStyle;

/* The renderer's text style; the font name (the font's file name in the font data base) and the
   style records it points to belong to it. */
typedef struct {
  char *fontName;
  double textSlant; /* radians */
  double textChSpace;
  double textChExt;
  double textLnSpace;
  double textHeight; /* world units */
  double textAngle;  /* radians */
  int32_t yalign;
  int32_t xalign;
  Eevg_FillStyle *charFillStyle;
  int32_t underline;
  Eevg_LineStyle *underlineStyle;
  double underlineDist;
  int32_t shadow;
  Eevg_FillPattern *shadowPattern;
  double dropShadowX;
  double dropShadowY;
} Eevg_TextStyle;

Eevg_Coord *eevg_CoordCreate(Eerr_ErrorReport **err);
Eevg_Coord *eevg_CoordCopy(const Eevg_Coord *source, Eevg_Coord *destination,
                           Eerr_ErrorReport **err);
Emif_Design *eevg_CoordDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
void eevg_CoordFree(Eevg_Coord **coord);
/* Frees the local data of a table-driven parse (a block of the heap) when it is not null. */
void free_Local_Data(void *data);

Eevg_Align *eevg_AlignCreate(Eerr_ErrorReport **err);
Eevg_Align *eevg_AlignCopy(const Eevg_Align *source, Eevg_Align *destination,
                           Eerr_ErrorReport **err);
Emif_Design *eevg_AlignDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
void eevg_AlignFree(Eevg_Align **align);

Eevg_Color *eevg_ColorCreate(Eerr_ErrorReport **err);
Eevg_Color *eevg_ColorCopy(const Eevg_Color *source, Eevg_Color *destination,
                           Eerr_ErrorReport **err);
/* The design "Eevg_Color": index, red, green, blue and opacity (32-bit each), the words of the
   record itself, so that a colour is written and read as it stands. */
Emif_Design *eevg_ColorDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
void eevg_ColorFree(Eevg_Color **color);

Eevg_LinePatternSegment *eevg_LinePatternSegmentCreate(Eerr_ErrorReport **err);
Eevg_LinePatternSegment *eevg_LinePatternSegmentCopy(const Eevg_LinePatternSegment *source,
                                                     Eevg_LinePatternSegment *destination,
                                                     Eerr_ErrorReport **err);
void eevg_LinePatternSegmentPrint(const Eevg_LinePatternSegment *segment, Eerr_ErrorReport **err);
/* 1 when both are null or both hold equal values, else 0. */
int32_t eevg_LinePatternSegmentCompare(const Eevg_LinePatternSegment *a,
                                       const Eevg_LinePatternSegment *b, Eerr_ErrorReport **err);
Emif_Design *eevg_LinePatternSegmentDesignDefine(Emif_Dictionary *dictionary,
                                                 Eerr_ErrorReport **err);
void eevg_LinePatternSegmentFree(Eevg_LinePatternSegment **segment);

/* Sizes the pattern's array to count zeroed segments (0 empties it). */
Eevg_LinePattern *eevg_LinePatternCreate(int32_t count, Eevg_LinePattern *pattern,
                                         Eerr_ErrorReport **err);
/* Copies the segments; a longer destination keeps its count unless shrink is non-zero. */
Eevg_LinePattern *eevg_LinePatternCopy(const Eevg_LinePattern *source,
                                       Eevg_LinePattern *destination, int32_t shrink,
                                       Eerr_ErrorReport **err);
/* Sets the segment at position, growing the pattern to position + 1 segments when needed. */
Eevg_LinePattern *eevg_LinePatternSetValues(Eevg_LinePattern *pattern, int32_t position,
                                            double lineMark, double lineSpace,
                                            Eerr_ErrorReport **err);
void eevg_LinePatternPrint(const Eevg_LinePattern *pattern, Eerr_ErrorReport **err);
int32_t eevg_LinePatternCompare(const Eevg_LinePattern *a, const Eevg_LinePattern *b,
                                Eerr_ErrorReport **err);
/* Frees the array and sets the count 0 (the record is the caller's). */
void eevg_LinePatternFree(Eevg_LinePattern *pattern);

Eevg_LineDescription *eevg_LineDescriptionCreate(Eerr_ErrorReport **err);
Eevg_LineDescription *eevg_LineDescriptionCopy(const Eevg_LineDescription *source,
                                               Eevg_LineDescription *destination,
                                               Eerr_ErrorReport **err);
/* The design "Eevg_LineDescription": color (pointer to an "Eevg_Color"), width. */
Emif_Design *eevg_LineDescriptionDesignDefine(Emif_Dictionary *dictionary,
                                              Eerr_ErrorReport **err);
void eevg_LineDescriptionFree(Eevg_LineDescription **description);

Eevg_LineComposition *eevg_LineCompositionCreate(int32_t count, Eevg_LineComposition *composition,
                                                 Eerr_ErrorReport **err);
Eevg_LineComposition *eevg_LineCompositionCopy(const Eevg_LineComposition *source,
                                               Eevg_LineComposition *destination, int32_t shrink,
                                               Eerr_ErrorReport **err);
/* Frees every line's colour and the array, and sets the count 0. */
void eevg_LineCompositionFree(Eevg_LineComposition *composition);

Eevg_ArrowEnd *eevg_ArrowEndCreate(Eerr_ErrorReport **err);
Eevg_ArrowEnd *eevg_ArrowEndCopy(const Eevg_ArrowEnd *source, Eevg_ArrowEnd *destination,
                                 Eerr_ErrorReport **err);
Eevg_ArrowEnd *eevg_ArrowEndSetValues(Eevg_ArrowEnd *arrowEnd, double baseAngle, double tipAngle,
                                      double length, int32_t filled, int32_t stick,
                                      Eerr_ErrorReport **err);
int32_t eevg_ArrowEndCompare(const Eevg_ArrowEnd *a, const Eevg_ArrowEnd *b,
                             Eerr_ErrorReport **err);
void eevg_ArrowEndPrint(const Eevg_ArrowEnd *arrowEnd, Eerr_ErrorReport **err);
Emif_Design *eevg_ArrowEndDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
void eevg_ArrowEndFree(Eevg_ArrowEnd **arrowEnd);

/* The composite records: null without a report when memory runs out. */
Eevg_LineStyle *eevg_LineStyleCreate(Eerr_ErrorReport **err);
void eevg_LineStyleFree(Eevg_LineStyle **style);
Eevg_LineSymbol *eevg_LineSymbolCreate(Eerr_ErrorReport **err);
void eevg_LineSymbolFree(Eevg_LineSymbol **symbol);
Eevg_FillPattern *eevg_FillPatternCreate(Eerr_ErrorReport **err);
void eevg_FillPatternFree(Eevg_FillPattern **pattern);
Eevg_FillStyle *eevg_FillStyleCreate(Eerr_ErrorReport **err);
void eevg_FillStyleFree(Eevg_FillStyle **style);
Eevg_TextStyle *eevg_TextStyleCreate(Eerr_ErrorReport **err);
void eevg_TextStyleFree(Eevg_TextStyle **style);

/* The opacity dither: 1 when pixel (x, y) (non-negative) is drawn at the opacity's level
   trunc(opacity / 255 * 25), else 0. */
int32_t eevg_OpacityCheckPixel(int32_t x, int32_t y, int32_t opacity, Eerr_ErrorReport **err);
/* The 5 x 5 unsigned 8-bit tile of the opacity's level (1 where a pixel is drawn, element (row
   y mod 5, column x mod 5)). The tile is kept by the renderer for the life of the process: the
   caller must not free it. */
Egda_BaseData *eevg_OpacityTileCreate(int32_t opacity, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Graphics-output callbacks */

/* Pixel rectangles of the file device's blocks: unsigned 8-bit rasters (pixel type 3). In colour
   mode 1 only red is used (colour indices); green and blue are null. */
typedef struct {
  Egda_BaseData *red;
  Egda_BaseData *green;
  Egda_BaseData *blue;
} Eevg_RGBPixelRect;

typedef struct Eevg_GrIOInfo Eevg_GrIOInfo;

/* A pixel position is two doubles (column, image row); a sub-pixel point two 32-bit integers in
   1/8 pixel, y upward; a centre two doubles in continuous device pixels. "Done" results are
   non-zero when the callback drew the shape itself. */
typedef void (*Eevg_GetPixelFunction)(void *userData, Eevg_Color *color, const double *position,
                                      Eerr_ErrorReport **err);
typedef void (*Eevg_PutPixelFunction)(void *userData, const Eevg_Color *color,
                                      const double *position, Eerr_ErrorReport **err);
typedef void (*Eevg_PutSpanFunction)(void *userData, Egda_BaseDataStack *span,
                                     const double *start, int32_t count, Eerr_ErrorReport **err);
typedef void (*Eevg_PutVectorFunction)(void *userData, const Eevg_Color *color,
                                       const double *start, const double *end,
                                       Eerr_ErrorReport **err);
typedef Eevg_RGBPixelRect *(*Eevg_GetBlockFunction)(void *userData, Eevg_RGBPixelRect *rect,
                                                    const double *upperLeft,
                                                    const double *lowerRight,
                                                    Eerr_ErrorReport **err);
typedef int32_t (*Eevg_PutBlockFunction)(void *userData, Eevg_RGBPixelRect *rect,
                                         const double *upperLeft, const double *lowerRight,
                                         Eerr_ErrorReport **err);
typedef int32_t (*Eevg_DrawingEndFunction)(void *userData, Eerr_ErrorReport **err);
typedef void (*Eevg_GrIOFreeFunction)(Eevg_GrIOInfo *record);
typedef int32_t (*Eevg_PutPolygonFunction)(void *userData, Eevg_FillPattern *pattern,
                                           int32_t polygonCount, const int32_t *polygonStarts,
                                           const int32_t *points, Eerr_ErrorReport **err);
typedef int32_t (*Eevg_PutPolyLineFunction)(void *userData, Eevg_LineStyle *style, int32_t closed,
                                            int32_t partCount, const int32_t *partStarts,
                                            const int32_t *points, Eerr_ErrorReport **err);
typedef int32_t (*Eevg_PutEllipseFunction)(void *userData, Eevg_FillPattern *pattern,
                                           double semiAxisX, double semiAxisY, double rotation,
                                           const double *centre, Eerr_ErrorReport **err);
typedef int32_t (*Eevg_PutEllipseOutlineFunction)(void *userData, Eevg_LineStyle *style,
                                                  double semiAxisX, double semiAxisY,
                                                  double rotation, const double *centre,
                                                  Eerr_ErrorReport **err);
typedef int32_t (*Eevg_PutTextFunction)(void *userData, Eevg_TextStyle *style,
                                        Egda_BaseData *positions, const char *text,
                                        Eerr_ErrorReport **err);
typedef int32_t (*Eevg_PutArcFunction)(void *userData, Eevg_FillPattern *pattern,
                                       double semiAxisX, double semiAxisY, double rotation,
                                       const double *centre, double startAngle, double endAngle,
                                       int32_t arcType, Eerr_ErrorReport **err);
typedef int32_t (*Eevg_PutArcOutlineFunction)(void *userData, Eevg_LineStyle *style,
                                              double semiAxisX, double semiAxisY, double rotation,
                                              const double *centre, double startAngle,
                                              double endAngle, int32_t arcType,
                                              Eerr_ErrorReport **err);
typedef void (*Eevg_PutPointFunction)(void *userData, const Eevg_Color *color,
                                      const int32_t *point, Eerr_ErrorReport **err);
typedef int32_t (*Eevg_PutPixelOpacityFunction)(void *userData, const Eevg_Color *color,
                                                const double *position, Eerr_ErrorReport **err);
typedef int32_t (*Eevg_PutVectorOpacityFunction)(void *userData, const Eevg_Color *color,
                                                 const double *start, const double *end,
                                                 Eerr_ErrorReport **err);
/* coordinates: the caller's coordinate block (Efga_CoordinateBlock). */
typedef int32_t (*Eevg_DrawPolygonFunction)(void *userData, Eevg_FillStyle *style,
                                            void *coordinates, Eerr_ErrorReport **err);
typedef int32_t (*Eevg_DrawPolyLineFunction)(void *userData, Eevg_LineStyle *style,
                                             void *coordinates, Eerr_ErrorReport **err);
/* The UTF-16 text callback; its arguments between the style and the error slot belong to the
   text layout. */
typedef void (*Eevg_PutTextUCFunction)(void *userData, Eevg_TextStyle *style, ...);
typedef void (*Eevg_UnusedFunction)(void);

/* The graphics-output callback record: 34 pointer-sized slots in this order. */
struct Eevg_GrIOInfo {
  void *userData;                                      /* 0 */
  Eevg_GetPixelFunction getPixel;                      /* 1 */
  Eevg_PutPixelFunction putPixel;                      /* 2 */
  Eevg_UnusedFunction slot3;                           /* 3: never called */
  Eevg_UnusedFunction pixelWriterFlag;                 /* 4: never called; counts as a writer */
  Eevg_PutSpanFunction putSpan;                        /* 5 */
  Eevg_UnusedFunction slot6;                           /* 6: never called */
  Eevg_PutVectorFunction putVector;                    /* 7 */
  Eevg_GetBlockFunction getBlock;                      /* 8 */
  Eevg_PutBlockFunction putBlock;                      /* 9 */
  Eevg_UnusedFunction slot10;                          /* 10: never called */
  Eevg_DrawingEndFunction drawingEnd;                  /* 11 */
  Eevg_GrIOFreeFunction free;                          /* 12: called with the record itself */
  Eevg_PutPolygonFunction putPolygon;                  /* 13 */
  Eevg_PutPolygonFunction putPatternPolygon;           /* 14 */
  Eevg_PutPolyLineFunction putPolyLine;                /* 15 */
  Eevg_PutEllipseFunction putEllipse;                  /* 16 */
  Eevg_PutEllipseOutlineFunction putEllipseOutline;    /* 17 */
  Eevg_PutTextFunction putText;                        /* 18 */
  Eevg_PutArcFunction putArc;                          /* 19 */
  Eevg_PutArcOutlineFunction putArcOutline;            /* 20 */
  Eevg_PutPointFunction putPoint;                      /* 21 */
  Eevg_PutPixelOpacityFunction putPixelOpacity;        /* 22 */
  Eevg_PutVectorOpacityFunction putVectorOpacity;      /* 23 */
  Eevg_PutPolygonFunction putPolygonOpacity;           /* 24 */
  Eevg_PutPolyLineFunction putPolyLineOpacity;         /* 25 */
  Eevg_PutEllipseFunction putEllipseOpacity;           /* 26 */
  Eevg_PutEllipseOutlineFunction putEllipseOutlineOpacity; /* 27 */
  Eevg_PutTextFunction putTextOpacity;                 /* 28 */
  Eevg_PutArcFunction putArcOpacity;                   /* 29 */
  Eevg_PutArcOutlineFunction putArcOutlineOpacity;     /* 30 */
  Eevg_DrawPolygonFunction drawPolygon;                /* 31 */
  Eevg_DrawPolyLineFunction drawPolyLine;              /* 32 */
  Eevg_PutTextUCFunction putTextUC;                    /* 33 */
};

/* A record with every slot null; null without a report when memory runs out. */
Eevg_GrIOInfo *eevg_GrIOInfoCreate(Eerr_ErrorReport **err);
/* Copies the 34 slots: 0, or -1 for a null source. A null destination gets a new record that
   cannot be handed back; the call then frees it again and returns -1 with a report. */
int32_t eevg_GrIOInfoCopy(Eevg_GrIOInfo *destination, const Eevg_GrIOInfo *source,
                          Eerr_ErrorReport **err);
/* Calls the record's free slot with the record, frees it and clears the pointer. */
void eevg_GrIOInfoFree(Eevg_GrIOInfo **record);
/* The drawing's own copy of its callback record / the caller's record it points to. */
Eevg_GrIOInfo *eevg_GrIOInfoGet(Eevg_Drawing *drawing, Eerr_ErrorReport **err);
Eevg_GrIOInfo *eevg_GrIOInfoInternalGet(Eevg_Drawing *drawing, Eerr_ErrorReport **err);
/* 1 when the drawing's device can draw points (it has putPoint), else 0. */
int32_t eevg_PutPointQuery(Eevg_Drawing *drawing, Eerr_ErrorReport **err);

Eevg_RGBPixelRect *eevg_RGBPixelRectCreate(Eerr_ErrorReport **err);
/* Gives rect (new when null) planes of exactly width x height (three in colour mode 0, red only
   in mode 1). */
Eevg_RGBPixelRect *eevg_RGBPixelRectCreateWithData(Eevg_RGBPixelRect *rect, int32_t width,
                                                   int32_t height, int32_t colorMode,
                                                   Eerr_ErrorReport **err);
/* Frees the record, not its planes, and clears the pointer. */
void eevg_RGBPixelRectFree(Eevg_RGBPixelRect **rect);

/* The file device: a callback record that draws into raster layers of unsigned 8-bit pixels,
   three (red, green, blue) in colour mode 0, one of colour indices (red) in colour mode 1. Its
   putPixel, putVector, getBlock, putBlock, drawingEnd and free slots are filled; every other slot
   is null, so the renderer rasterises every shape itself. The layers stay the caller's: they
   must stay open while the record is used, and eevg_GrIOInfoFree leaves them open. */
Eevg_GrIOInfo *eevg_GrIOInfoInitFile(int32_t colorMode, Eimg_Layer *red, Eimg_Layer *green,
                                     Eimg_Layer *blue, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Control record, devices, world windows and drawings */

/* The renderer's control record, one per process. */
typedef struct {
  uint8_t *loadedFonts;    /* one EEVG_LOADED_FONT_SIZE-byte slot per font of the data base */
  int32_t loadedFontCount; /* the font count of the data base when the record was built */
  int32_t loadedFontsUsed; /* kept by the font loading, 0 at creation */
} Eevg_Control;

#define EEVG_LOADED_FONT_SIZE 264

/* A device description (nine words), read by eevg_DrawingInit, which copies it.

   Every device needs width and height (pixels), colorMode (EEVG_TRUECOLOR or EEVG_PSEUDOCOLOR,
   else "Invalid Drawing Color Mode") and lineWidthUnit (1 pixels, 2 thousandths of the device
   width, the default of eevg_DeviceInfoCreate, 3 world units). What else it needs follows from
   deviceType:

   0  a callback device: the renderer offers each shape to the callback record's shape slots and
      writes what they decline through its pixel writers (putPixel, putVector, putSpan and the
      opacity forms). burnInValue, stripRows and stripText are not used.
   1  a strip-file device: the renderer records every pixel in a temporary strip file and burns
      it into the target at eevg_DrawingEnd, strip by strip, through the record's getBlock and
      putBlock, which must both be set ("NULL Eevg Graphics Get/Put Block Pointer"). stripRows
      (rows per strip, at least 1) and burnInValue (the width in columns of the blocks read and
      written, at least 1) are required, and width and height at most 65535 ("Invalid strip file
      device description"); stripText (null, or up to 128 characters) is recorded in the file.
      What the renderer rasterises goes into the strip file, never to the record's pixel
      writers.
   2  as 0, and the text layout places glyphs by their alternative advances.
   Other types behave as 0.

   antiAlias non-zero asks for anti-aliased edges (line widths keep their sub-pixel precision and
   the record's shape slots are bypassed). The renderer then blends against what the target
   holds: a device of type 0 or 2 must have both getPixel and putPixel ("NULL Eevg Graphics
   Get/Put Pixel Pointer"); type 1 blends during the burn-in and needs only getBlock and putBlock.

   The file device (eevg_GrIOInfoInitFile) has getPixel unset: it takes type 0 or 2 without
   anti-aliasing, or type 1 with or without it, and colorMode must be that of its layers. */
typedef struct {
  int32_t deviceType;
  int32_t width;
  int32_t height;
  int32_t lineWidthUnit;
  int32_t antiAlias;
  int32_t burnInValue; /* type 1: block width of the burn-in, in columns */
  int32_t stripRows;   /* type 1: rows per strip */
  char *stripText;     /* type 1: recorded in the strip file; stays the caller's */
  int32_t colorMode;   /* Eevg_ColorMode */
} Eevg_DeviceInfo;

/* A world window: lowerLeft maps to device pixel (0, 0), upperRight to (width-1, height-1). */
typedef struct {
  Eevg_Coord *lowerLeft;
  Eevg_Coord *upperRight;
} Eevg_WorldInfo;

/* The control record, built on the first call (with the renderer's preferences). It needs the
   font data base: the font lists (*.fdb) in the directories of NORIX_FONT_PATH or, when that is
   unset, in ".", "$TAVIRON_HOME/etc/fonts", the library's installed font folder
   (<prefix>/share/taviron/fonts, which holds the DejaVu list of the FreeType font server) and the
   build tree's plugins/freetype. Without any font list it fails with "No font list files found
   in NORIX_FONT_PATH" beneath its report. The font servers are looked for likewise in
   NORIX_FONT_SERVERS_PATH, else "$TAVIRON_HOME/lib/fontservers", <libdir>/taviron/fontservers
   and the build's fontservers folder. */
Eevg_Control *eevg_Init(Eerr_ErrorReport **err);
/* Clears the caller's pointer; the record lives on. */
void eevg_Free(Eevg_Control **control, Eerr_ErrorReport **err);

/* A zeroed device description with line-width unit 2; null when memory runs out. */
Eevg_DeviceInfo *eevg_DeviceInfoCreate(Eerr_ErrorReport **err);
void eevg_DeviceInfoFree(Eevg_DeviceInfo **device);
Eevg_WorldInfo *eevg_WorldInfoCreate(Eerr_ErrorReport **err);
void eevg_WorldInfoFree(Eevg_WorldInfo **world);

/* A new drawing; the control record, the device, the world record with its corners and the
   callback record stay the caller's, and the callback record must live as long as the drawing. */
Eevg_Drawing *eevg_DrawingInit(Eevg_Control *control, Eevg_DeviceInfo *device,
                               Eevg_WorldInfo *world, Eevg_GrIOInfo *grIOInfo,
                               Eerr_ErrorReport **err);
/* Ends the output (strip-file burn-in, the drawingEnd callback); the callback's result. */
int32_t eevg_DrawingEnd(Eevg_Drawing *drawing, Eerr_ErrorReport **err);
void eevg_DrawingFree(Eevg_Drawing **drawing, Eerr_ErrorReport **err);
/* The scan-line buffer of deviceWidth bytes, made on the first call. */
uint8_t *eevg_DrawingGetScanLineBuf(Eevg_Drawing *drawing, Eerr_ErrorReport **err);

/* Sets the world window and the transform. */
void eevg_World(Eevg_Drawing *drawing, double x1, double y1, double x2, double y2,
                Eerr_ErrorReport **err);
/* Sets the clip window from two world corners; it is clipped to the device. */
void eevg_SetClipWindow(Eevg_Drawing *drawing, const Eevg_Coord *corner1,
                        const Eevg_Coord *corner2, Eerr_ErrorReport **err);
/* A world point / a world distance in device pixels (no half-pixel offset). */
void eevg_PointConvertToDevice(Eevg_Drawing *drawing, double x, double y, double *dx, double *dy,
                               Eerr_ErrorReport **err);
void eevg_PointScaleToDevice(Eevg_Drawing *drawing, double x, double y, double *dx, double *dy,
                             Eerr_ErrorReport **err);
/* The drawing's device size in pixels (either pointer may be null). */
void eevg_DrawingGetDeviceSize(Eevg_Drawing *drawing, int32_t *width, int32_t *height,
                               Eerr_ErrorReport **err);
/* A line width or dash length in sub-pixels (1/8 pixel), truncated; 0 for an unknown unit. */
int32_t eevg_LineUnitsToPixels(Eevg_Drawing *drawing, double value);
void eevg_DrawingSetPixelSize(Eevg_Drawing *drawing, int32_t sizeX, int32_t sizeY);
void eevg_DrawingSetUsingWorldTransform(Eevg_Drawing *drawing, int32_t flag);
/* 1 when the opacity is above 254. */
int32_t eevg_TestOpaque(int32_t opacity);
/* Draws everything in the colour from now on; null ends the override. */
void eevg_ColorOverride(Eevg_Drawing *drawing, const Eevg_Color *color, Eerr_ErrorReport **err);
/* Hands the drawing's point buffers to the caller and gives the drawing fresh ones of the same
   capacities. */
void eevg_MovePointsToLocalPointers(Eevg_Drawing *drawing, Eerr_ErrorReport **err,
                                    int32_t *polygonCount, int32_t *polygonStartCapacity,
                                    int32_t **polygonStarts, int32_t *pointCount,
                                    int32_t *pointCapacity, int32_t **points);

/* ---------------------------------------------------------------------------------------------
   Shapes. Coordinates are world units (sub-pixels in the pre-transformed mode, see
   eevg_DrawingSetUsingWorldTransform); a coordinate block (Efga_CoordinateBlock) holds one
   two-row f64 matrix (x, y) per part. Each shape is offered to the device's own callbacks first
   and rasterised when they decline. Each returns 0, or -1 with a report. */

int32_t eevg_DrawPoint(Eevg_Drawing *drawing, const Eevg_Color *color, const Eevg_Coord *location,
                       Eerr_ErrorReport **err);
int32_t eevg_DrawPolyLine(Eevg_Drawing *drawing, Eevg_LineStyle *lineStyle, int32_t closed,
                          Efga_CoordinateBlock *coordinateBlock, Eerr_ErrorReport **err);
/* The pre-transformed polyline. */
int32_t eevg_DrawPolyLineFast(Eevg_Drawing *drawing, Eevg_LineStyle *lineStyle, int32_t closed,
                              Efga_CoordinateBlock *coordinateBlock, Eerr_ErrorReport **err);
/* Draw / rasterise the line held in the drawing's point buffer. */
int32_t eevg_DrawPolyLineLO(Eevg_Drawing *drawing, Eevg_LineStyle *lineStyle, int32_t closed,
                            Eerr_ErrorReport **err);
int32_t eevg_DrawPolyLineLineLO(Eevg_Drawing *drawing, Eevg_LineStyle *lineStyle, int32_t closed,
                                Eerr_ErrorReport **err);
int32_t eevg_DrawPolygon(Eevg_Drawing *drawing, Eevg_FillStyle *fillStyle,
                         Efga_CoordinateBlock *coordinateBlock, Eerr_ErrorReport **err);
/* Semi-axes in world units, angles in radians. */
int32_t eevg_DrawEllipse(Eevg_Drawing *drawing, Eevg_FillStyle *fillStyle, const Eevg_Coord *centre,
                         double semiAxisX, double semiAxisY, double rotation,
                         Eerr_ErrorReport **err);
int32_t eevg_DrawEllipticalArc(Eevg_Drawing *drawing, Eevg_FillStyle *fillStyle,
                               const Eevg_Coord *centre, double semiAxisX, double semiAxisY,
                               double rotation, double startAngle, double endAngle,
                               int32_t arcType, Eerr_ErrorReport **err);
/* The line style's symbol along a line of world coordinates / along the drawing's point buffer. */
int32_t eevg_DrawPolyLineSymbol(Eevg_Drawing *drawing, Eevg_LineStyle *lineStyle,
                                Efga_CoordinateBlock *coordinateBlock, int32_t closed,
                                Eerr_ErrorReport **err);
int32_t eevg_DrawPolyLineSymbolLO(Eevg_Drawing *drawing, Eevg_LineStyle *lineStyle,
                                  Eerr_ErrorReport **err);
/* Places the symbol along the segment (x1, y1)-(x2, y2) from the phase; angle carries the
   direction from segment to segment. Returns the phase carried into the next segment. */
double eevg_DrawSymbolAlongLineSegmentFast(double phase, double *angle, double x1, double y1,
                                           double x2, double y2, Eerr_ErrorReport **err,
                                           Eevg_LineSymbol *lineSymbol, Eevg_Drawing *drawing);

/* Operations on pairs of doubles; each writes its result into the first argument and returns
   it. */
double *eevg_VectorAdd(double *out, const double *a, const double *b);
double *eevg_VectorSubtract(double *out, const double *a, const double *b);
double *eevg_VectorScale(double *out, const double *v, double s);
double *eevg_VectorNormal(double *out, const double *v);
double *eevg_VectorUnit(double *out, const double *v);
double eevg_VectorMagnitude(const double *v);
double eevg_VectorDotProduct(const double *a, const double *b);

/* ---------------------------------------------------------------------------------------------
   Font data base and font families */

typedef struct Eevg_FontDataBaseRecord Eevg_FontDataBaseRecord;
struct Eevg_FontDataBaseRecord {
  Eevg_FontDataBaseRecord *next;
  char *fontName;
  char *fontFileName;
  char *psFileName;
  char *zavFont;
  int32_t insertDir; /* 0 left to right, 1 right to left */
  char *chooserString;
  char *fontServerName;
};

typedef struct Eevg_FontFamily Eevg_FontFamily;
typedef struct Eevg_FontWithSlantAndWeight Eevg_FontWithSlantAndWeight;
typedef struct Eevg_FontWithSlant Eevg_FontWithSlant;

struct Eevg_FontFamily {
  Eevg_FontFamily *next;
  char *name;
  Eevg_FontWithSlantAndWeight *weights;
};

struct Eevg_FontWithSlantAndWeight {
  Eevg_FontWithSlantAndWeight *next;
  char *name;
  Eevg_FontWithSlant *slants;
  Eevg_FontFamily *family;
};

struct Eevg_FontWithSlant {
  Eevg_FontWithSlant *next;
  char *name; /* "i" italic or "r" roman */
  Eevg_FontDataBaseRecord *record; /* borrowed from the data base */
  Eevg_FontWithSlantAndWeight *weight;
};

/* The process-wide data base, read on the first call from every "*.fdb" on NORIX_FONT_PATH. */
Eevg_FontDataBaseRecord *eevg_FontDataBaseCreate(Eerr_ErrorReport **err);
/* Parses one ".fdb" file (fileName; with neither input nor file name, "fontlist.fdb" on
   NORIX_FONT_PATH), appending its entries to the list {*head, *tail} and counting them in *count.
   input is reserved (0: read the named file). Returns 0, or -1 with a report (the list then keeps
   what it held before the call). */
int32_t eevg_FontDataBaseParse(void *input, const char *fileName, Eevg_FontDataBaseRecord **head,
                               Eevg_FontDataBaseRecord **tail, int32_t *count,
                               Eerr_ErrorReport **err);
int32_t eevg_FontDataBaseFontCountGet(Eerr_ErrorReport **err);
Eevg_FontDataBaseRecord *eevg_FontDataBaseNextGet(const Eevg_FontDataBaseRecord *record);
char *eevg_FontDataBaseFontNameGet(const Eevg_FontDataBaseRecord *record);
char *eevg_FontDataBaseFontFileNameGet(const Eevg_FontDataBaseRecord *record);
char *eevg_FontDataBasePSFileNameGet(const Eevg_FontDataBaseRecord *record);
char *eevg_FontDataBaseZavFontGet(const Eevg_FontDataBaseRecord *record);
int32_t eevg_FontDataBaseInsertDirGet(const Eevg_FontDataBaseRecord *record);
char *eevg_FontDataBaseChooserStringGet(const Eevg_FontDataBaseRecord *record);
char *eevg_FontDataBaseFontServerNameGet(const Eevg_FontDataBaseRecord *record);
/* The records sorted by font name / font file name (eevg_FontDataBaseFontCountGet entries),
   kept by the renderer. */
Eevg_FontDataBaseRecord **eevg_FontDataBaseSortByFontName(Eerr_ErrorReport **err);
Eevg_FontDataBaseRecord **eevg_FontDataBaseSortByFontFileName(Eerr_ErrorReport **err);
Eevg_FontDataBaseRecord **eevg_FontDataBaseSortedByFontNameGet(Eerr_ErrorReport **err);
Eevg_FontDataBaseRecord **eevg_FontDataBaseSortedByFontFileNameGet(Eerr_ErrorReport **err);
/* The record of that name (dataBase is not read). */
Eevg_FontDataBaseRecord *eevg_FontDataBaseLookupByFontName(Eevg_FontDataBaseRecord *dataBase,
                                                           const char *fontName,
                                                           Eerr_ErrorReport **err);
Eevg_FontDataBaseRecord *eevg_FontDataBaseLookupByFontFileName(Eevg_FontDataBaseRecord *dataBase,
                                                               const char *fontFileName,
                                                               Eerr_ErrorReport **err);
/* The font name of the record with that font file name, and the reverse (the record's text). */
char *eevg_FontDataBaseLookupFontName(Eevg_FontDataBaseRecord *dataBase, const char *fontFileName,
                                      Eerr_ErrorReport **err);
char *eevg_FontDataBaseLookupFontFileName(Eevg_FontDataBaseRecord *dataBase, const char *fontName,
                                          Eerr_ErrorReport **err);
/* Frees a list of records with their strings and clears the pointer. */
void eevg_FontDataBaseFree(Eevg_FontDataBaseRecord **head);

/* A new family list of the data base's fonts by family, weight and slant. */
Eevg_FontFamily *eevg_FontFamilyListCreate(Eerr_ErrorReport **err);
Eevg_FontFamily *eevg_FontFamilyFindByName(Eevg_FontFamily *list, const char *name,
                                           Eerr_ErrorReport **err);
Estr_StringList *eevg_FontFamilyListFamilyNamesGet(const Eevg_FontFamily *list);
Estr_StringList *eevg_FontFamilyWeightsGet(const Eevg_FontFamily *family);
Eevg_FontWithSlantAndWeight *eevg_FontWeightFindByWeight(Eevg_FontWithSlantAndWeight *list,
                                                         const char *weight,
                                                         Eerr_ErrorReport **err);
Eevg_FontWithSlant *eevg_FontFindBySlant(Eevg_FontWithSlant *list, const char *slant,
                                         Eerr_ErrorReport **err);
Eevg_FontWithSlant *eevg_FontFindByWeightAndSlant(Eevg_FontFamily *family, const char *weight,
                                                  const char *slant, Eerr_ErrorReport **err);
Eevg_FontWithSlant *eevg_FontFindByFileName(Eevg_FontFamily *list, const char *fileName,
                                            Eerr_ErrorReport **err);
Eevg_FontFamily *eevg_FontFamilyGet(const Eevg_FontWithSlant *slant);
char *eevg_FontFamilyNameGet(const Eevg_FontWithSlant *slant);
char *eevg_FontWeightGet(const Eevg_FontWithSlant *slant);
char *eevg_FontSlantGet(const Eevg_FontWithSlant *slant);
char *eevg_FontFileNameGet(const Eevg_FontWithSlant *slant);
Eevg_FontFamily *eevg_FontFamilyCreate(const char *name, Eerr_ErrorReport **err);
Eevg_FontWithSlantAndWeight *eevg_FontWithSlantAndWeightCreate(const char *name,
                                                               Eerr_ErrorReport **err);
Eevg_FontWithSlant *eevg_FontWithSlantCreate(const char *name, Eerr_ErrorReport **err);
/* Free a list with everything below it (not the data base records) and clear the pointer. */
void eevg_FontFamilyFree(Eevg_FontFamily **list);
void eevg_FontWithSlantAndWeightFree(Eevg_FontWithSlantAndWeight **list);
void eevg_FontWithSlantFree(Eevg_FontWithSlant **list);

/* ---------------------------------------------------------------------------------------------
   Text fonts and font servers

   Fonts are rendered by font servers: shared objects of the class "FontServers" found in the
   directories of NORIX_FONT_SERVERS_PATH (unset: "$TAVIRON_HOME/lib/fontservers" and the folder
   the build puts its servers in), each answering to the server names its titles give. A text
   style names its font by the font file name of the font data base, whose entry names the
   server. */

/* Loads the font into the table of *used slots in use out of capacity (the control record's
   loadedFonts, loadedFontsUsed and loadedFontCount): the slot's index, the same index for a
   name loaded before. -1 when the table is full or the name is not in the font data base, -2
   when no server serves it or its server refuses it. A server DLL that cannot be opened leaves a
   warning (severity 1) in the slot even when another server serves the font. */
int32_t eevg_TextFontGet(const char *fontFileName, uint8_t *fontTable, int32_t *used,
                         int32_t capacity, Eerr_ErrorReport **err);
/* Releases the server's font of one slot of the table (the slot stays filled), and the font's
   glyphs in the glyph cache. */
void eevg_TextFontFree(void *slot);

/* The glyph cache: the text engines keep the coverage of each glyph they fill (per font, size,
   transform and the phase of the glyph's origin on the scan filler's grid of 4 x 4 samples per
   pixel, to which glyph origins are rounded) and draw later occurrences from it. It is shared by
   every drawing and thread of the process and holds at most this many bytes, the glyphs used
   least recently leaving first; a font's glyphs leave when the font is freed. Glyphs are filled
   from it only on devices that do not take polygons themselves (outlines are traced as before).
   An anti-aliased callback device of colour mode 0 that has getBlock and putBlock takes a glyph
   of an opaque colour as one getBlock and one putBlock of the glyph's box (widened to whole
   sixteens of columns within the clip window; getBlock may hand back planes larger than the
   block), its pixels blended as the anti-aliased dot writer blends them and the uncovered ones
   handed back unchanged. */
#define EEVG_GLYPH_CACHE_BYTES (8 * 1024 * 1024)
/* The em size, ascent and descent of the drawing's font in device sub-pixels (the drawing's
   text controls prepared by a text call; 0 otherwise). */
double eevg_TextEmValueGet(Eevg_Drawing *drawing);
double eevg_TextAscentGet(Eevg_Drawing *drawing);
double eevg_TextDescentGet(Eevg_Drawing *drawing);

/* The outline sink of the font servers: a glyph's outline in font units into the drawing's
   point buffers. Move starts a contour, Draw adds a straight edge, Curve a cubic Bezier edge from
   the pen through (x1, y1) and (x2, y2) to (x3, y3). Each returns 0, or -1 with a report. */
int32_t eevg_DispMove(Eevg_Drawing *drawing, int32_t x, int32_t y, Eerr_ErrorReport **err);
int32_t eevg_DispDraw(Eevg_Drawing *drawing, int32_t x, int32_t y, Eerr_ErrorReport **err);
int32_t eevg_DispCurve(Eevg_Drawing *drawing, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                       int32_t x3, int32_t y3, Eerr_ErrorReport **err, ...);

/* ---------------------------------------------------------------------------------------------
   Text drawing and measurement. Text is 8-bit (Latin-1) or UTF-16 and may hold several lines
   (broken by LF, CR, CR LF or LF CR); it is put in visual order first. Locations are world
   points; polylines coordinate blocks in world units, the text following their first part. The
   drawing calls return 0, or -1 with a report. */

/* A path of sub-pixel points that text is laid along. */
typedef struct Eevg_TextPath Eevg_TextPath;

/* Point text: the paragraph aligned on the location by the style's alignments and turned by its
   angle about it. */
int32_t eevg_DrawText(Eevg_Drawing *drawing, Eevg_TextStyle *style, const Eevg_Coord *location,
                      const char *text, Eerr_ErrorReport **err);
int32_t eevg_DrawTextUC(Eevg_Drawing *drawing, Eevg_TextStyle *style, const Eevg_Coord *location,
                        const char16_t *text, Eerr_ErrorReport **err);
/* Text along a polyline, offered to the device's text callbacks first. */
int32_t eevg_DrawTextOnPolyLine(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                Efga_CoordinateBlock *polyline, const char *text,
                                Eerr_ErrorReport **err, ...);
int32_t eevg_DrawTextOnPolyLineUC(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                  Efga_CoordinateBlock *polyline, const char16_t *text,
                                  Eerr_ErrorReport **err, ...);
/* The text (in visual order) along the polyline; useDeviceText offers it to the device's text
   callbacks first. The two last integers are not used. */
int32_t eevg_DrawTextOnPolyLineWorld(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                     Efga_CoordinateBlock *polyline, const char *text,
                                     int32_t useDeviceText, int32_t unused1, int32_t unused2,
                                     Eerr_ErrorReport **err);
/* The text along the first part of the drawing's point buffer (sub-pixels). The three integers
   are not used. */
int32_t eevg_DrawTextOnPolyLineImage(Eevg_Drawing *drawing, Eevg_TextStyle *style, const char *text,
                                     int32_t unused1, int32_t unused2, int32_t unused3,
                                     Eerr_ErrorReport **err);

/* The engine's passes over a text path, with the drawing's text controls prepared by an earlier
   text call of the drawing: drawing (shadow, then fill and outline, underline), the character
   positions (device pixels: per line one column per character and one for its end; a third row
   takes the direction's angle), and the box of the glyphs (min x, min y, max x, max y in
   sub-pixels). 0, or -1 (no report: these take no error slot). */
int32_t eevg_TextDraw(Eevg_Drawing *drawing, const char16_t *text, Eevg_TextPath *path);
int32_t eevg_TextCharPositionsGet(Eevg_Drawing *drawing, const char16_t *text, Eevg_TextPath *path,
                                  Egda_BaseData *positions);
int32_t eevg_TextBoundingBoxGet(Eevg_Drawing *drawing, const char16_t *text, Eevg_TextPath *path,
                                int32_t *box);
/* A text path over count sub-pixel points (borrowed: they must outlive the path) with the
   alignment along it (0 start, 1 centre, 2 end); null when memory runs out. */
Eevg_TextPath *eevg_TextPathCreateFromPolyline(Eevg_Drawing *drawing, int32_t count,
                                               const int32_t *points, int32_t alignment);
void eevg_TextPathFree(Eevg_TextPath **path);
/* A record of twelve 32-bit words, the second to the twelfth cleared. */
int32_t *eevg_TextMethodsCreate(void);
void eevg_TextMethodsFree(int32_t *methods);

/* Width, height and first-line ascent (world units) of the text with the drawing's text controls
   prepared; zero and textHeight are not used. 1, or 0 with a report. */
int32_t eevg_GetParagraphSize(Eevg_Drawing *drawing, const char *text, int32_t zero,
                              double textHeight, double *width, double *height, double *ascent,
                              Eerr_ErrorReport **err);
/* The paragraph's sizes and the font's descent in world units (zeros for a text of control
   characters only). */
int32_t eevg_GetTextSizes(Eevg_Drawing *drawing, Eevg_TextStyle *style, const char *text,
                          double *width, double *height, double *ascent, double *descent,
                          Eerr_ErrorReport **err, ...);
/* The paragraph box of point text, turned with it: a 2 x 4 matrix of doubles (world units). */
int32_t eevg_GetTextBoundRect(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                              const Eevg_Coord *location, const char *text, Egda_BaseData *rect,
                              Eerr_ErrorReport **err);
int32_t eevg_GetTextBoundRectUC(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                const Eevg_Coord *location, const char16_t *text,
                                Egda_BaseData *rect, Eerr_ErrorReport **err);
/* The character positions of point text (device pixels) into a matrix of doubles of at least
   two rows and one column per character of the text. */
int32_t eevg_GetTextPositions(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                              const Eevg_Coord *location, const char *text,
                              Egda_BaseData *positions, Eerr_ErrorReport **err);
int32_t eevg_GetTextPositionsUC(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                const Eevg_Coord *location, const char16_t *text,
                                Egda_BaseData *positions, Eerr_ErrorReport **err);
/* The box of the glyphs along the polyline, as a 2 x 4 matrix of world corners. */
int32_t eevg_GetTextOnPolyLineBoundRect(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                        Efga_CoordinateBlock *polyline, const char *text,
                                        Egda_BaseData *rect, Eerr_ErrorReport **err);
int32_t eevg_GetTextOnPolyLineBoundRectUC(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                          Efga_CoordinateBlock *polyline, const char16_t *text,
                                          Egda_BaseData *rect, Eerr_ErrorReport **err);
/* The character positions along the polyline. */
int32_t eevg_GetTextOnPolyLinePositions(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                        Efga_CoordinateBlock *polyline, const char *text,
                                        Egda_BaseData *positions, Eerr_ErrorReport **err, ...);
int32_t eevg_GetTextOnPolyLinePositionsUC(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                          Efga_CoordinateBlock *polyline, const char16_t *text,
                                          Egda_BaseData *positions, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Outline-font files and the outline-font text engine

   An outline-font file holds up to 256 glyphs as byte-coded outlines on an 11-bit grid, with a
   box and left and right kerning-bumper profiles per character (bumper value b means
   b x ascent / 64 font units). It is loaded into a slot of a font table like a server's font; the
   slot's handle then names the file's font record. Files are found on NORIX_FONT_PATH (default
   "."; an absolute name is opened as it stands) and only read. */

typedef struct Eevg_OutlineFont Eevg_OutlineFont;

/* The outline sink a glyph is sent through (eevg_DispMove, eevg_DispDraw, eevg_DispCurve). */
typedef int32_t (*Eevg_OutlinePointFunction)(Eevg_Drawing *drawing, int32_t x, int32_t y,
                                             Eerr_ErrorReport **err);
typedef int32_t (*Eevg_OutlineCurveFunction)(Eevg_Drawing *drawing, int32_t x1, int32_t y1,
                                             int32_t x2, int32_t y2, int32_t x3, int32_t y3,
                                             Eerr_ErrorReport **err, ...);

/* Loads the outline-font file into the table of *used slots in use out of capacity (the control
   record's loadedFonts, loadedFontsUsed and loadedFontCount): the slot's index, the same index
   for a name loaded before (a slot whose font was freed is read again). -1 when the table is
   full, -2 when the file is not found or cannot be opened, -3 when memory runs out, -11 to -15
   when the file cannot be read ("Unable to read font data": -11 no characters, -12 a grid
   resolution other than 512 or 768, -13 a format other than 4 or 5 or inconsistent data, -14 out
   of memory, -15 the file ends early). A failed load leaves *used as it was. */
int32_t eevg_FFReference(const char *fontFileName, uint8_t *fontTable, int32_t *used,
                         int32_t capacity, Eerr_ErrorReport **err);
/* The font record of a slot that eevg_FFReference filled; null for any other slot. */
Eevg_OutlineFont *eevg_FFFontGet(const uint8_t *fontTable, int32_t index);
/* Frees the record with its outlines; its slot stays in use, and its next load reads the file
   again. */
void eevg_FFFree(Eevg_OutlineFont *font);
/* Sends the outline of the character of the drawing's font through the three functions, each
   point mapped by the drawing's fixed-point glyph matrix (eevg_SetFtoI) about the origin
   (sub-pixels). 0, or -1 with a report. */
int32_t eevg_FFRetrieve(Eevg_Drawing *drawing, int32_t code, double originX, double originY,
                        Eevg_OutlinePointFunction move, Eevg_OutlinePointFunction draw,
                        Eevg_OutlineCurveFunction curve, Eerr_ErrorReport **err);
/* The font's ascent, descent (bottom of the bottom reference character, usually negative), line
   height and fourth vertical value (font units); returns the fourth value. */
int32_t eevg_FFInqVertSpace(const Eevg_OutlineFont *font, int32_t *ascent, int32_t *descent,
                            int32_t *lineHeight, int32_t *fourth);
/* The character's box (font units); zeros for a code without a record. Returns 0. */
int32_t eevg_FFInqCharBoundingRect(const Eevg_OutlineFont *font, int32_t code, int32_t *x0,
                                   int32_t *y0, int32_t *x1, int32_t *y1);
/* The character's left or right bumper profile (eevg_FFInqFontNumberOfKerningBumpers values,
   at most 15); zeros for a code without a record. Returns 0. */
int32_t eevg_FFInqCharLeftKern(const Eevg_OutlineFont *font, int32_t code,
                               const uint8_t **profile);
int32_t eevg_FFInqCharRightKern(const Eevg_OutlineFont *font, int32_t code,
                                const uint8_t **profile);
int32_t eevg_FFInqFontNumberOfKerningBumpers(const Eevg_OutlineFont *font);
/* 2 when the character has an outline and advances the pen, else 0. */
int32_t eevg_FFInqSpacing(const Eevg_OutlineFont *font, int32_t code);
/* Makes the drawing's fixed-point glyph matrix (16 fractional bits) from its outline-font glyph
   matrix and its font's line height. */
void eevg_SetFtoI(Eevg_Drawing *drawing);
/* The little-endian 16-bit value at bytes, unsigned. */
int32_t eevg_GetShort(const void *bytes);

/* The outline-font engine: 8-bit text in the outline-font file named by the style's fontName
   (loaded with eevg_FFReference into the control record's font table), spaced by the kerning
   bumpers. Each line break (LF or CR) starts a line; trailing characters below 32 are dropped.
   Point text is aligned and turned as eevg_DrawText's. */
int32_t eevg_DrawTextOTL(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                         const Eevg_Coord *location, const char *text, Eerr_ErrorReport **err);
/* The glyph origin of each character of point text (device pixels) into a matrix of doubles of
   two rows and a column per character. */
int32_t eevg_GetTextPositionsOTL(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                 const Eevg_Coord *location, const char *text,
                                 Egda_BaseData *positions, Eerr_ErrorReport **err);
/* Width, height and first-line ascent (world units) of the text in the drawing's outline font
   (the text controls prepared by an outline-font call). textControl and the two doubles are not
   used. 1, or 0 with a report. */
int32_t eevg_GetParagraphSizeOTL(Eevg_Drawing *drawing, const char *text, int32_t textControl,
                                 double unused1, double unused2, double *width, double *height,
                                 double *ascent, Eerr_ErrorReport **err);
/* The text along the polyline of every point of the drawing's point buffer (sub-pixels), placed
   by the style's xalign (0 start, 1 centre, 2 end, 5 stretched over the line). draw 0 only
   measures. rect (2 x 4, or null) gets the box of the glyph origins grown by the ascent, as
   world corners; positions (null, or a column per character) the origins in device pixels, and
   with a third row the direction's angle. */
int32_t eevg_DrawTextOnPolyLineImageOTL(Eevg_Drawing *drawing, Eevg_TextStyle *style,
                                        const char *text, int32_t draw, Egda_BaseData *rect,
                                        Egda_BaseData *positions, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Strip files of device type 1 */

/* Copies rows image rows from firstRow between the drawing's target and an image strip, through
   the device's getBlock / putBlock in blocks of blockWidth columns (the last block is requested
   at full width; only its columns inside the image are copied). Row j of the strip starts at
   j * rowStride and holds width bytes per plane: red (or the colour index), then green and blue
   in true colour. bandCount and stripRows are not used. The rectangles that getBlock returns
   belong to the caller and are deleted with their planes. 1 on success, 0 with a report. */
int32_t _eevg_GetStrip(Eevg_Drawing *drawing, int32_t firstRow, int32_t rows, int32_t width,
                       int32_t bandCount, uint8_t *strip, int32_t stripRows, int32_t blockWidth,
                       int32_t rowStride, Eerr_ErrorReport **err);
int32_t _eevg_PutStrip(Eevg_Drawing *drawing, int32_t firstRow, int32_t rows, int32_t width,
                       int32_t bandCount, uint8_t *strip, int32_t stripRows, int32_t blockWidth,
                       int32_t rowStride, Eerr_ErrorReport **err);

/* Files by handle: mode 770 creates (or empties) the file for reading and writing, any other
   mode opens it for reading; the handle, or -1. Read and write return the bytes moved (-1 on
   failure); seek (whence 0 from the start, 1 from the current position, 2 from the end) returns
   the new position (-1 on failure or past 2 GiB). */
int32_t eevg_Open(const char *name, int32_t mode);
int32_t eevg_Close(int32_t handle);
int32_t eevg_Read(int32_t handle, void *buffer, int32_t count);
int32_t eevg_Write(int32_t handle, const void *buffer, int32_t count);
int32_t eevg_Lseek(int32_t handle, int32_t offset, int32_t whence);

/* ---------------------------------------------------------------------------------------------
   Rasteriser helpers */

/* Clips the segment (x0, y0)-(x1, y1) in place to the window (inclusive bounds): 1 when a part
   lies inside, else 0. swapCount counts the exchanges of the two ends, clipped is 1 when an end
   moved. */
int32_t eevg_Clip(int32_t *x0, int32_t *y0, int32_t *x1, int32_t *y1, int32_t xMin, int32_t yMin,
                  int32_t xMax, int32_t yMax, int32_t *swapCount, int32_t *clipped);
/* Clips an edge to the rows yMin to yMax (the x bounds are not used): 1 when a part remains. */
int32_t eevg_AFillerClip(int32_t *x0, int32_t *y0, int32_t *x1, int32_t *y1, int32_t xMin,
                         int32_t yMin, int32_t xMax, int32_t yMax);
/* Orders two int32_t for qsort: 1, -1 or 0. */
int eevg_compare(const void *a, const void *b);

/* ---------------------------------------------------------------------------------------------
   Curve routines. A one-dimensional cubic Bezier is four values p0..p3; its polynomial form is
   c0 + c1 t + c2 t^2 + c3 t^3 for t in 0..1. A polynomial of degree n has n + 1 coefficients in
   ascending powers. Each routine but CVFindCuts and CVCut has an integer form and a double form
   (suffix D). */

void CVBezierToPoly(const int32_t p[4], int32_t c[4]);
void CVBezierToPolyD(const double p[4], double c[4]);
/* The polynomial's value at x by Horner's scheme (0 for a negative degree). */
long double CVPolyVal(int32_t n, const int32_t *c, double x);
long double CVPolyValD(int32_t n, const double *c, double x);
/* d[i-1] = i c[i] for i = 1..n; the integer form returns n + 1. */
int32_t CVPolyDerivative(int32_t n, const int32_t *c, int32_t *d);
void CVPolyDerivativeD(int32_t n, const double *c, double *d);
/* Real roots of c0 + c1 x + c2 x^2 in ascending order (the linear root when c2 is 0); their
   number. */
int32_t CVQuadRoot(const int32_t c[3], double roots[2]);
int32_t CVQuadRootD(const double c[3], double roots[2]);
/* Newton's method from x with the polynomial c and its derivative d (degree n - 1), at most
   limit steps; found is 1 when |value| came within the tolerance. Returns the last estimate. */
double CVPolyRoot(int32_t n, const int32_t *c, const int32_t *d, double x, int32_t limit,
                  double tolerance, int32_t *found);
double CVPolyRootD(int32_t n, const double *c, const double *d, double x, int32_t limit,
                   double tolerance, int32_t *found);
/* Parameters in 0..1, ascending, where the plane curve of polynomial forms cx, cy crosses the
   line through (x1, y1) and (x2, y2); their number (at most 3). */
int32_t CVFindCuts(double x1, double y1, double x2, double y2, const double cx[4],
                   const double cy[4], double t[3]);
/* Splits a cubic at t into two cubics out[0..3] and out[3..6]; out may be p itself. */
void CVBreak(const int32_t p[4], double t, int32_t out[7]);
void CVBreakD(const double p[4], double t, double out[7]);
/* Cuts the plane cubic (px, py) where it crosses the segment (crossings outside the segment's
   box widened by the tolerance do not count). Returns the number of pieces, at most 4; piece i
   is outX[3i..3i+3], outY[3i..3i+3] (each array holds at least 13 values). */
int32_t CVCut(double x1, double y1, double x2, double y2, const double px[4], const double py[4],
              double tolerance, double *outX, double *outY);
/* 1 when xMin <= x <= xMax and yMin <= y <= yMax, else 0. */
int32_t UTPointInRect(double x, double y, double xMin, double yMin, double xMax, double yMax);

TAVIRON_END_DECLS

#endif
