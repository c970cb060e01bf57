/* The annotation package: counted strings and style references, the records of the annotation
   model (coordinate definitions and conversions, styles and style libraries, symbol libraries,
   selected styles, elements and their per-type function table, the annotation info's event
   callbacks and selection criteria), the package data with its dictionary of stored designs, and
   the design definitions of every stored annotation record.

   Every operation takes an error slot last (after a variadic list: first) and sets it to null
   first; a null slot is accepted (the report is then dropped). Records handed out come from the
   lower layer's heap and are freed with their own free operation. Style and symbol numbers count
   from 0 in their library's list; -1 means none. */
#ifndef TAVIRON_EANT_H
#define TAVIRON_EANT_H

#include <stdint.h>

#include "edlm.h"
#include "eerr.h"
#include "eevg.h"
#include "efga.h"
#include "egda.h"
#include "ehfa.h"
#include "eint.h"
#include "emif.h"
#include "eprj.h"
#include "estr.h"
#include "evec.h"
#include "exfr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* ---------------------------------------------------------------------------------------------
   Codes */

/* Element types (the stored enumeration "elmType"). Codes 1 to 8 and 12 have no element kind. */
typedef enum {
  EANT_UNDEFINEDELEMENTTYPE = 0,
  EANT_FILLED_POLYGON = 1,
  EANT_VECTORS = 2,
  EANT_GRID_CELLS = 3,
  EANT_UNFILLED_POLYGON = 4,
  EANT_PATTERN_POLYGON = 5,
  EANT_FILLED_CIRCLE = 6,
  EANT_UNFILLED_CIRCLE = 7,
  EANT_PATTERN_CIRCLE = 8,
  EANT_ARC = 9,
  EANT_TEXT = 10,
  EANT_SYMBOL = 11,
  EANT_LINE_GRID = 12,
  EANT_RECTANGLE = 13,
  EANT_ELLIPSE = 14,
  EANT_POLYGON = 15,
  EANT_POLYLINE = 16,
  EANT_GROUP = 17,
  EANT_POINT = 18
} Eant_ElementType;

/* The events of an annotation info, in the order of its callback lists. */
typedef enum {
  EANT_ELEMENT_CREATED = 0,
  EANT_ELEMENT_SELECTED = 1,
  EANT_ELEMENT_DESELECTED = 2,
  EANT_ELEMENT_MOVED = 3,
  EANT_ELEMENT_MODIFIED = 4,
  EANT_ELEMENT_CUT = 5,
  EANT_ELEMENT_LIST_MODIFIED = 6,
  EANT_LAYER_CLOSED = 7
} Eant_CallbackEvent;
#define EANT_CALLBACK_EVENT_COUNT 8

/* The version of the annotation format this library writes (node "AnnotationVersion"). */
#define EANT_ANNOTATION_VERSION 4

/* The keywords of the styles' SetValues lists, each followed by its values; 0 ends a list.
   Codes 1 to 3 serve every kind; 14 to 24 are the text styles'. */
typedef enum {
  EANT_KEY_END = 0,
  EANT_KEY_STYLENAME = 1,     /* text (null empties the name) */
  EANT_KEY_DESCRIPTION = 2,   /* text (null empties it) */
  EANT_KEY_BASESTYLE = 3,     /* text fileNodeName, text name, 32-bit number */
  EANT_KEY_STYLEUNITS = 4,    /* line: 32-bit coordSys, text unit name */
  EANT_KEY_OVERLINE = 5,      /* line: 32-bit position, double width, 32-bit colour number */
  EANT_KEY_LINEPATTERN = 6,   /* line: 32-bit segment index, double lineMark, double lineSpace */
  EANT_KEY_LINEJOIN = 7,      /* line: 32-bit join */
  EANT_KEY_MARKEND = 8,       /* line: 32-bit end */
  EANT_KEY_STARTLINEEND = 9,  /* line: 32-bit end */
  EANT_KEY_ENDLINEEND = 10,   /* line: 32-bit end */
  EANT_KEY_ARROWEND = 11,     /* line: double baseAngle, tipAngle, length, 32-bit filled, stick */
  EANT_KEY_FILL = 12,         /* fill: 32-bit fill, 32-bit colour number */
  EANT_KEY_TRACE = 13,        /* fill: 32-bit trace, 32-bit line-style number */
  EANT_KEY_TEXTUNITS = 14,    /* text: 32-bit coordSys, text unit name */
  EANT_KEY_FONTNAME = 15,     /* text: text font file name */
  EANT_KEY_TEXTSLANT = 16,    /* text: double, radians */
  EANT_KEY_TEXTCHSPACE = 17,  /* text: double */
  EANT_KEY_TEXTLNSPACE = 18,  /* text: double */
  EANT_KEY_TEXTCHEXT = 19,    /* text: double */
  EANT_KEY_TEXTFILL = 20,     /* text: 32-bit fill-style number */
  EANT_KEY_UNDERLINE = 21,    /* text: 32-bit underline, double underlineDist */
  EANT_KEY_UNDERLINESTYLE = 22, /* text: 32-bit line-style number */
  EANT_KEY_SHADOW = 23,       /* text: 32-bit shadow, double dx, double dy */
  EANT_KEY_SHADOWSTYLE = 24,  /* text: 32-bit fill-style number */
  EANT_KEY_RGB = 25,          /* colour: 32-bit red, green, blue */
  EANT_KEY_PATTERN = 26,      /* fill: 32-bit fill, then the 13 values of a fill pattern */
  EANT_KEY_OPACITY = 27,      /* colour: double */
  EANT_KEY_DISPLAYLINE = 28,  /* line: 32-bit */
  EANT_KEY_USESYMBOL = 29,    /* line: 32-bit */
  EANT_KEY_LINESYMBOL = 30    /* line: the 11 values of a line symbol */
} Eant_StyleKeyword;

/* The override mask of a style: a set bit says the style defines that part itself, a clear one
   that it comes from the base style. */
#define EANT_COLOR_RED 0x2u
#define EANT_COLOR_GREEN 0x4u
#define EANT_COLOR_BLUE 0x8u
#define EANT_COLOR_OPACITY 0x10u
#define EANT_FILL_FILL 0x2u
#define EANT_FILL_TRACE 0x4u
#define EANT_FILL_PATTERN 0x8u
#define EANT_FILL_TRACESTYLE 0x10u
#define EANT_LINE_STYLEUNITS 0x2u
#define EANT_LINE_OVERLINES 0x4u
#define EANT_LINE_LINEPATTERN 0x8u
#define EANT_LINE_LINEJOIN 0x10u
#define EANT_LINE_MARKEND 0x20u
#define EANT_LINE_STARTLINEEND 0x40u
#define EANT_LINE_ENDLINEEND 0x80u
#define EANT_LINE_ARROWEND 0x100u
#define EANT_LINE_DISPLAYLINE 0x200u
#define EANT_LINE_USESYMBOL 0x400u
#define EANT_LINE_LINESYMBOL 0x800u
#define EANT_TEXTSTYLE_STYLEUNITS 0x2u
#define EANT_TEXTSTYLE_FONTNAME 0x4u
#define EANT_TEXTSTYLE_SLANT 0x8u
#define EANT_TEXTSTYLE_CHSPACE 0x10u
#define EANT_TEXTSTYLE_LNSPACE 0x20u
#define EANT_TEXTSTYLE_CHEXT 0x40u
#define EANT_TEXTSTYLE_FILLSTYLE 0x80u
#define EANT_TEXTSTYLE_UNDERLINE 0x100u
#define EANT_TEXTSTYLE_UNDERLINESTYLE 0x200u
#define EANT_TEXTSTYLE_UNDERLINEDIST 0x400u
#define EANT_TEXTSTYLE_SHADOW 0x800u
#define EANT_TEXTSTYLE_SHADOWSTYLE 0x1000u
#define EANT_TEXTSTYLE_SHADOWDX 0x2000u
#define EANT_TEXTSTYLE_SHADOWDY 0x4000u

/* ---------------------------------------------------------------------------------------------
   Counted strings and style references */

/* A counted 8-bit string held inside records: count = bytes of the text with its terminating
   zero (0 for the empty string, data then null). Valid when count is 0, or positive with data.
   The same pair as the stored string (Emif_String). */
typedef struct {
  int32_t count;
  char *data;
} Eant_CharStr;

/* A counted UTF-16 string: count = units with the terminating zero unit. */
typedef struct {
  int32_t count;
  char16_t *data;
} Eant_UnicodeStr;

/* A reference to a numbered style, colour or symbol of a library: fileNodeName names the file
   and node of the library (empty: the layer's own library); number -1 names none. */
typedef struct Eant_Style {
  Eant_CharStr fileNodeName;
  Eant_CharStr name;
  int32_t number;
} Eant_Style;

/* ---------------------------------------------------------------------------------------------
   Coordinate definitions and conversions */

/* A coordinate system (Eevg_CoordSys) and its units (empty: no units named). */
typedef struct Eant_CoordDefinition {
  int32_t coordSys;
  Eant_CharStr units;
} Eant_CoordDefinition;

/* The factors between normalised, paper and map units of one layer. */
typedef struct Eant_CoordSysConversion {
  double nduScaleX;   /* map units per NDU */
  double nduScaleY;
  double pageScaleX;  /* map units per paper unit */
  double pageScaleY;
  double pageOffsetX; /* map coordinates of the paper origin */
  double pageOffsetY;
  char *pageUnits;    /* heap names, or null */
  char *mapUnits;
  _exfr_XForm *mapTransform;   /* lengths are measured through it, at referenceCoord */
  Eevg_Drawing *fakeDrawing;   /* the layer's measuring drawing; not owned */
  Eevg_Coord *referenceCoord;  /* owned, or null (the origin) */
  int32_t ownsMapTransform;    /* 1: mapTransform is freed with the record */
} Eant_CoordSysConversion;

/* ---------------------------------------------------------------------------------------------
   Styles of a style library. Each begins with the common header (useCount, styleName,
   description, baseStyle, mask, flags) and ends with its cached renderer object, never stored. */

typedef struct Eant_Color {
  int32_t useCount;
  Eant_CharStr styleName;
  Eant_CharStr description;
  Eant_Style *baseStyle;
  uint32_t mask;  /* 0x2 red, 0x4 green, 0x8 blue, 0x10 opacity */
  uint32_t flags; /* reserved, 0 */
  int32_t red;
  int32_t green;
  int32_t blue;
  double opacity; /* 1.0 opaque */
  Eevg_Color *evaluatedStyle;
} Eant_Color;

/* A symbol of a symbol library repeated on a grid. */
typedef struct Eant_PatternFill {
  Eant_CoordDefinition *scaleUnits;
  Eant_CoordDefinition *positionUnits;
  double scale;
  double xsep;
  double ysep;
  Eant_Style *symbol;
  int32_t colorOverrideFlag;
  int32_t overrideColor;
  Egda_BaseDataStack *pixelRectStack; /* never stored; freed with the record */
} Eant_PatternFill;

typedef struct Eant_FillPattern {
  int32_t solidFill;
  int32_t color; /* colour number */
  int32_t patternFill;
  Eant_PatternFill *pattern;
} Eant_FillPattern;

typedef struct Eant_FillStyle {
  int32_t useCount;
  Eant_CharStr styleName;
  Eant_CharStr description;
  Eant_Style *baseStyle;
  uint32_t mask; /* 0x2 fill, 0x4 trace, 0x8 pattern, 0x10 traceStyle */
  uint32_t flags;
  int32_t fill;
  int32_t trace;
  Eant_FillPattern *pattern;
  int32_t traceStyle; /* line-style number of the outline */
  Eevg_FillStyle *evaluatedStyle;
} Eant_FillStyle;

typedef struct Eant_LineDescription {
  int32_t color; /* colour number */
  double width;
} Eant_LineDescription;

/* The overlaid lines of a line style: count descriptions in data. */
typedef struct Eant_LineComposition {
  int32_t count;
  Eant_LineDescription *data;
} Eant_LineComposition;

/* The record of a symbol element: a definition of a symbol library (by number) placed at center
   (position units; null in a new record), turned by orientation (radians), of size scale (scale
   units), drawn in overrideColor when colorOverrideFlag is 1. */
typedef struct Eant_Symbol {
  uint32_t flags;
  Eevg_Coord *center;
  double orientation;
  double scale;
  int32_t symbolData;
  int32_t colorOverrideFlag;
  int32_t overrideColor;
} Eant_Symbol;

/* A symbol repeated along a line. effect: 0 as is, 1, 2, 3 quarter turns. */
enum {
  EANT_LINESYMBOL_ASIS = 0,
  EANT_LINESYMBOL_ROTATE90 = 1,
  EANT_LINESYMBOL_ROTATE180 = 2,
  EANT_LINESYMBOL_ROTATE270 = 3
};
typedef struct Eant_LineSymbol {
  Eant_CoordDefinition *scaleUnits;
  Eant_CoordDefinition *positionUnits;
  double scale;
  double spacing;
  double offset;
  int32_t effect;
  Eant_Style *symbol;
  int32_t colorOverrideFlag;
  int32_t overrideColor;
} Eant_LineSymbol;

typedef struct Eant_LineStyle {
  int32_t useCount;
  Eant_CharStr styleName;
  Eant_CharStr description;
  Eant_Style *baseStyle;
  uint32_t mask;
  uint32_t flags;
  Eant_CoordDefinition *styleUnits;
  Eant_LineComposition overLines;
  Eevg_LinePattern linePattern;
  int32_t lineJoin;
  int32_t markEnd;
  int32_t startLineEnd;
  int32_t endLineEnd;
  Eevg_ArrowEnd *arrowEnd;
  int32_t displayLine;
  int32_t useSymbol;
  Eant_LineSymbol *lineSymbol;
  Eevg_LineStyle *evaluatedStyle;
} Eant_LineStyle;

typedef struct Eant_TextShadow {
  double dx;
  double dy;
  int32_t style; /* fill-style number */
} Eant_TextShadow;

typedef struct Eant_TextStyle {
  int32_t useCount;
  Eant_CharStr styleName;
  Eant_CharStr description;
  Eant_Style *baseStyle;
  uint32_t mask;
  uint32_t flags;
  Eant_CoordDefinition *styleUnits;
  Eant_CharStr fontName;
  double textSlant;
  double textChSpace;
  double textLnSpace;
  double textChExt;
  int32_t fillStyle;
  int32_t underline;
  int32_t underlineStyle;
  int32_t shadow;
  Eant_TextShadow textShadow;
  double underlineDist;
  Eevg_TextStyle *renderStyle;
} Eant_TextStyle;

/* A style library: four numbered lists (dynamic lists of style pointers; a null entry is an
   empty slot). next chains the libraries of the package's list of loaded libraries. */
typedef struct Eant_StyleLibrary {
  struct Eant_StyleLibrary *next;
  Eant_CharStr fileNodeName;
  Edlm_List *lineStyles;
  Edlm_List *fillStyles;
  Edlm_List *textStyles;
  Edlm_List *colors;
  int32_t modified;
  int32_t evaluated;
  Eant_CharStr description;
} Eant_StyleLibrary;

/* A style library opened as a file of its own. */
typedef struct Eant_StyleLibraryLayer {
  char *layerName; /* node path of the library in its file */
  Ehfa_File *file; /* null once a read-only layer has closed its file */
  Eant_StyleLibrary *library;
} Eant_StyleLibraryLayer;

/* ---------------------------------------------------------------------------------------------
   Elements */

typedef struct Eant_Element Eant_Element;
typedef struct Eant_AnnotationInfo Eant_AnnotationInfo;
typedef struct Eant_SymbolLibrary Eant_SymbolLibrary;
typedef struct Eant_FileIO Eant_FileIO;
typedef struct Eant_Criteria Eant_Criteria;

/* Counters of element kinds. */
typedef struct Eant_ElementInfo {
  int32_t total;
  int32_t rectangles;
  int32_t ellipses;
  int32_t polygons;
  int32_t polylines;
  int32_t points;
  int32_t arcs;
  int32_t texts;
  int32_t symbols;
  int32_t groups;
} Eant_ElementInfo;

/* Progress of a walk over elements: callback (data, percentage done, err). */
typedef struct Eant_ProgressInfo {
  void (*callback)(void *data, double percent, Eerr_ErrorReport **err);
  void *callbackData;
  int32_t total;
  int32_t done;
} Eant_ProgressInfo;

/* Called by a type's selectStyle slot after it made the element's styles current. */
typedef void (*Eant_StyleUpdateFunction)(void *data, Eerr_ErrorReport **err);

/* The operations of one element type, shared by every element of the type. A null slot is the
   type's "not supported"; the dispatchers apply the slot's rule to it. */
typedef struct Eant_ElementFunctions {
  Eant_Element *(*copyElement)(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err);
  void (*printElement)(Eant_Element *element, Eerr_ErrorReport **err);
  void (*renderElement)(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles,
                        Eant_SymbolLibrary *symbols, Eant_Criteria *criteria, Eevg_Drawing *drawing,
                        Eant_Element *element, _exfr_XForm *transform,
                        Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
  void (*free)(Eant_Element **element);
  void (*writeElement)(Eant_FileIO *fileIO, const char *nodePath, int32_t position,
                       Eant_Element *element, Eerr_ErrorReport **err);
  int32_t (*coordInElement)(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles,
                            Eant_SymbolLibrary *symbols, Eant_Criteria *criteria,
                            Eant_Element *element, _exfr_XForm *transform,
                            Eant_CoordSysConversion *conversion, Egda_BaseData *coord,
                            Eerr_ErrorReport **err);
  void (*setLineStyle)(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                       Eerr_ErrorReport **err);
  void (*setLineStyleAndRecalcBbox)(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                    Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
  void (*setFillStyle)(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                       Eerr_ErrorReport **err);
  void (*setFillStyleAndRecalcBbox)(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                    Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
  void (*setTextStyle)(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number, double height,
                       const char *heightUnits, Eant_CoordSysConversion *conversion,
                       Eerr_ErrorReport **err);
  void (*setTextStyleAndHeight)(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                double height, Eant_CoordDefinition *heightUnits,
                                Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
  void (*setSymbolData)(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number, double scale,
                        Eant_CoordDefinition *scaleUnits, int32_t overrideFlag, int32_t overrideColor,
                        Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
  Egda_BaseData *(*calculateBbox)(Eant_Element *element, _exfr_XForm *transform,
                                  Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
  void (*selectStyle)(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                      Eant_StyleUpdateFunction update, void *updateData, Eerr_ErrorReport **err);
  void (*copyStyle)(Eant_Element *element, Eant_StyleLibrary *from, Eant_StyleLibrary *to,
                    Eerr_ErrorReport **err);
  void (*copySymbolData)(Eant_Element *element, Eant_SymbolLibrary *from, Eant_SymbolLibrary *to,
                         Eerr_ErrorReport **err);
  void (*updateInfo)(Eant_Element *element, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
  void (*replaceValues)(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err);
  void (*convertToMap)(Eant_Element *element, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
  void (*transformMap)(Eant_Element *element, _exfr_XForm *transform, Eant_CoordSysConversion *from,
                       Eant_CoordSysConversion *to, const char *mapUnits, Eant_ProgressInfo *progress,
                       Eerr_ErrorReport **err);
  void (*incrementCount)(Eant_Element *element, Eant_ElementInfo *counts, Eerr_ErrorReport **err);
  const char *(*getTypeString)(Eant_Element *element, Eerr_ErrorReport **err);
  int32_t (*canBeFlipped)(Eant_Element *element, Eerr_ErrorReport **err);
  void (*flipElement)(Eant_AnnotationInfo *info, Eant_Element *element, Eant_CoordSysConversion *conversion,
                      void *flipData, Efga_Polynomial *polynomial, Eerr_ErrorReport **err);
  int32_t (*selectSingleStyleOnly)(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                                   Eerr_ErrorReport **err);
  Egda_BaseData *(*calculateBboxWithDrawing)(Eant_Element *element, _exfr_XForm *transform,
                                             Eant_CoordSysConversion *conversion, Eevg_Drawing *drawing,
                                             Eerr_ErrorReport **err);
} Eant_ElementFunctions;

/* The common part of every element; `info` is the type's own record. */
struct Eant_Element {
  Eant_Element *next;
  Eant_Element *previous;
  Eant_Element *parent;
  Eant_Element *child;
  int32_t id;
  Eant_CharStr name;
  Eant_CharStr description;
  int32_t elmType;
  Eant_CoordDefinition *scaleUnits;
  Eant_CoordDefinition *positionUnits;
  Efga_Polynomial *xformMatrix;
  Efga_Polynomial *ixformMatrix;
  Egda_BaseData *bBox; /* 2 x 4 corners in layer coordinates, or null */
  Eant_AnnotationInfo *antInfo;
  Eant_SymbolLibrary *symbolLibrary;
  int32_t selected;
  int32_t attributeRecordNumber;
  Eant_Element *formerNext;
  int32_t rowNumber;
  const Eant_ElementFunctions *functions;
  void *info;
};

/* ---------------------------------------------------------------------------------------------
   Symbol libraries */

/* A symbol definition: elements in symbol space, over an optional base symbol. */
typedef struct Eant_SymbolData {
  int32_t useCount;
  Eant_CharStr symbolName;
  Eant_CharStr description;
  Eant_Style *baseSymbol;
  Eant_Element *elementList;
} Eant_SymbolData;

typedef void (*Eant_ClientReleaseFunction)(void *clientData, void *clientData2);

struct Eant_SymbolLibrary {
  Eant_SymbolLibrary *next;
  Eant_CharStr fileNodeName;
  Eant_StyleLibrary *styleLibrary;
  Edlm_List *symbolDataList; /* Eant_SymbolData pointers; null entries are empty slots */
  int32_t modified;
  Edlm_List *cachedStyleRefs; /* Eant_Style records held by value, or null */
  void *clientData;
  void *clientData2;
  Eant_ClientReleaseFunction clientRelease;
  int32_t defaultSymbolNumber;
  Eant_CharStr description;
};

/* ---------------------------------------------------------------------------------------------
   Selected styles, the file context, criteria, database access, callbacks, the annotation info */

/* The styles new elements receive. */
typedef struct Eant_SelectedStyles {
  Eant_Style *selectedLineStyle;
  Eant_Style *selectedFillStyle;
  Eant_Style *selectedTextStyle;
  Eant_Style *selectedColor;
  Eant_Style *selectedSymbolData;
  double selectedTextHeight;
  Eant_CoordDefinition *textHeightScaleUnits;
  double selectedSymbolScale;
  Eant_CoordDefinition *symbolScaleUnits;
  int32_t symbolColorOverride;
  Eant_Style *symbolColor;
  int32_t flags;
} Eant_SelectedStyles;

/* What every reader and writer of an annotation layer or library file takes. */
struct Eant_FileIO {
  Ehfa_File *file;
  int32_t annotationVersion; /* read from "AnnotationVersion"; 0 when absent */
  int32_t reserved;          /* bits: 1, texts are parsed for database fields as they are read;
                                EANT_FILEIO_KEEP_READ_ELEMENTS, a damaged element record ends its
                                list with a warning (the elements before it are kept) instead of
                                failing the read */
  int32_t versionFlags;      /* 1: the layer may be read sequentially */
  int32_t depth;             /* reads and writes begun with this record */
};
#define EANT_FILEIO_KEEP_READ_ELEMENTS 2

/* A named criterion that elements must pass to be drawn or hit; check returns 1 when the element
   passes (a null check always passes). */
typedef int32_t (*Eant_CriteriaFunction)(Eant_Element *element, _exfr_XForm *transform, void *data,
                                         Eerr_ErrorReport **err);
struct Eant_Criteria {
  Eant_Criteria *next;
  char *name;
  Eant_CriteriaFunction check;
  void *data;
};

/* Database access of smart text. */
typedef int32_t (*Eant_AttributeStringFunction)(void *data, int32_t row, int32_t column, char *buffer,
                                                int32_t bufferSize);
typedef int32_t (*Eant_ColumnNumberFunction)(void *data, const char *fieldName, Eerr_ErrorReport **err);
typedef struct Eant_DBIData {
  int32_t currentRow;
  Eant_AttributeStringFunction attributeStringCallback;
  Eant_ColumnNumberFunction columnNumberCallback;
  void *data;
} Eant_DBIData;

/* One entry of the sort array of the distribute operation. */
typedef struct Eant_GeoOrder {
  Evec_Bbox *bBox; /* owned */
  int32_t sequence;
  int32_t rank;
} Eant_GeoOrder;

/* One registration of an event callback: callback (object, userData, err) is called while doCall
   is 1. A registration removed while the list is being walked stays linked, marked `removed`, and
   is freed when the outermost walk of the list ends. */
typedef void (*Eant_CallbackFunction)(void *object, void *userData, Eerr_ErrorReport **err);
typedef struct Eant_Callback {
  struct Eant_Callback *next;
  struct Eant_Callback *previous;
  Eant_CallbackFunction callback;
  void *userData;
  int32_t doCall;
  int32_t removed;
} Eant_Callback;

/* The header of an annotation layer: its name and description, the units its coordinates count
   in, the identifier the next new element receives, the layer's accumulated transform and its
   inverse, and the layer box (2 x 4 corners, or null). modTime is the layer node's modification
   time and is never stored in the record. */
typedef struct Eant_AntHeader {
  Eant_CharStr name;
  Eant_CharStr description;
  int32_t outputUnits; /* Eevg_CoordSys; 3 (map) at creation */
  uint32_t nextElement;
  Efga_Polynomial *xformMatrix;
  Efga_Polynomial *ixformMatrix;
  Egda_BaseData *bBox;
  int32_t versionNumber;
  double modTime;
} Eant_AntHeader;

/* The resume state of an incremental render: a stack (a dynamic list of element pointers) holding
   the next element to visit at each level, the elements one call may visit, the element count
   and the elements visited so far. */
typedef struct Eant_RenderData {
  Edlm_List *stack;
  int32_t budget;
  int32_t total;
  int32_t visited;
} Eant_RenderData;

struct Eant_SelectedElement;

/* The data of the criterion "Clip Window": the layer's clip window (its boxes owned) and the work
   records of the check (a 2 x 4 corner matrix and two boxes), reused from element to element. */
typedef struct Eant_ClipData {
  ClipWind *clipWindow;
  Egda_BaseData *corners;
  Evec_Bbox *elementBox;
  Evec_Bbox *intersection;
} Eant_ClipData;

/* The contents of one annotation layer. */
struct Eant_AnnotationInfo {
  Eant_AntHeader *antHead;
  Eant_Element *elements;
  Eprj_MapInfo *mapInfo;
  Eprj_ProParameters *proParameters;
  Eant_StyleLibrary *styleLib;
  Eant_SymbolLibrary *symbolLib;
  Eant_Criteria *criteria;
  struct Eant_SelectedElement *selectedElements;
  Eant_SelectedStyles *selectedStyles;
  Eant_SelectedStyles *currentStyles;
  Eant_SelectedStyles *defaultStyles;
  struct Eant_ClipData *clipWindow;
  Eint_InitToolkitData *initToolkitData; /* not owned */
  Eevg_Control *eevgInfo;
  Eevg_Drawing *fakeDrawing;
  int32_t modified;
  Eant_Callback *callbacks[EANT_CALLBACK_EVENT_COUNT];
  void *undoStack; /* set by the application; never created or freed here */
  int32_t undoFlag;
  Eant_DBIData *dbiData;
  int32_t reserved;
  int32_t cornerFlag;
};

/* The annotation package data, in word 0 of the toolkit record. */
typedef struct Eant_InitData {
  Emif_Dictionary *dictionary;
  Eant_StyleLibrary *styleLibraryCache;
  Eant_SymbolLibrary *symbolLibraryCache;
  double mitreLimit;
  double textHeight;
  char *textUnits; /* lower case */
  double symbolSize;
  char *symbolUnits; /* lower case */
} Eant_InitData;

/* ---------------------------------------------------------------------------------------------
   The annotation info: the contents of one layer. */

Eant_FileIO *eant_FileIOCreate(Eerr_ErrorReport **err);
void eant_FileIOFree(Eant_FileIO **fileIO);
/* A zeroed info bound to the toolkit record. */
Eant_AnnotationInfo *eant_AnnotationInfoCreate(Eint_InitToolkitData *toolkit, Eerr_ErrorReport **err);
/* An info of the process's toolkit record with a header, the default libraries and selected
   styles; after a report the partly built info is returned (the caller frees it). */
Eant_AnnotationInfo *eant_AnnotationInfoBareCreate(Eerr_ErrorReport **err);
/* Gives a new or freshly read info what it lacks: a header, libraries and styles, and the
   measuring drawing (with the control record, or one of its own when null). */
void eant_AnnotationInfoInit(Eant_AnnotationInfo *info, Eevg_Control *control, const Eevg_Color *background,
                             Eerr_ErrorReport **err);
/* A deep copy into target (made when null) with no criteria, selection, callbacks, undo stack or
   database access; its header's nextElement is 0 and it is marked modified. */
Eant_AnnotationInfo *eant_AnnotationInfoCopy(Eant_AnnotationInfo *source, Eant_AnnotationInfo *target,
                                             Eerr_ErrorReport **err);
/* Frees everything the info owns (not the undo stack) and clears the pointer. */
void eant_AnnotationInfoFree(Eant_AnnotationInfo **info);
void eant_AnnotationPrint(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
/* The options of the info's writer and reader: EANT_OPTION_VERSION_FLAGS and a value (1 allows
   sequential reading, the "AnnotationVersionFlags" node; 1 without the option), ended by
   EANT_OPTION_END. The reader also takes EANT_OPTION_KEEP_READ_ELEMENTS and a value: without it
   (or with 0) an element record that cannot be read fails the read with a report naming the
   element; with 1 the read keeps the elements before it and succeeds with a warning (severity 1)
   in the error slot naming the element, for a caller who wants what can be read (writing such an
   info back drops the elements after the damaged one for good). */
#define EANT_OPTION_VERSION_FLAGS 0
#define EANT_OPTION_END 1
#define EANT_OPTION_KEEP_READ_ELEMENTS 2
/* Writes the info as the layer node nodeName below nodePath, with the options after err. */
void eant_AnnotationInfoWriteWithOptions(Ehfa_File *file, const char *nodePath, const char *nodeName,
                                         Eant_AnnotationInfo *info, Eerr_ErrorReport **err, ...);
void eant_AnnotationInfoWrite(Ehfa_File *file, const char *nodePath, const char *nodeName, Eant_AnnotationInfo *info,
                              Eerr_ErrorReport **err);
/* Reads the layer node at nodePath into info (its elements replaced) or a new info; the options
   as for writing (eant_AnnotationInfoRead: sequential reading not allowed). */
Eant_AnnotationInfo *eant_AnnotationInfoReadWithOptions(Ehfa_File *file, const char *nodePath,
                                                        Eant_AnnotationInfo *info, Eerr_ErrorReport **err, ...);
Eant_AnnotationInfo *eant_AnnotationInfoRead(Ehfa_File *file, const char *nodePath, Eant_AnnotationInfo *info,
                                             Eerr_ErrorReport **err);
/* Draws every element that passes the criteria, in list order; the one-call form clears the
   cached renderer objects before and after. The conversion is put back as it was. */
void eant_AnnotationRender(Eant_AnnotationInfo *info, _exfr_XForm *transform, Eant_CoordSysConversion *conversion,
                           Eevg_Drawing *drawing, Eerr_ErrorReport **err);
void eant_AnnotationRenderWithoutClearingStyles(Eant_AnnotationInfo *info, _exfr_XForm *transform,
                                                Eant_CoordSysConversion *conversion, Eevg_Drawing *drawing,
                                                Eerr_ErrorReport **err);
/* The resume state of a budgeted render, holding the info's first element (with the element
   count, or 0); set its budget before the first call. */
Eant_RenderData *eant_RenderDataCreateNoCount(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
Eant_RenderData *eant_RenderDataCreate(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
void eant_RenderDataFree(Eant_RenderData **renderData);
/* Draws the next renderData->budget elements; 1 when the walk is complete (or failed), else 0. */
int32_t eant_AnnotationRenderIncremental(Eant_AnnotationInfo *info, Eant_RenderData *renderData,
                                         _exfr_XForm *transform, Eant_CoordSysConversion *conversion,
                                         Eevg_Drawing *drawing, Eerr_ErrorReport **err);
/* Drops the cached renderer objects of the info's libraries and of the loaded symbol libraries. */
void eant_AnnotationInfoClearEvaluatedStyles(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
/* Carries every element through the transform into mapUnits, with progress reports. */
void eant_AnnotationInfoTransformMap(Eant_AnnotationInfo *info, _exfr_XForm *transform, const char *mapUnits,
                                     void (*progress)(void *data, double percent, Eerr_ErrorReport **err),
                                     void *progressData, Eerr_ErrorReport **err);
/* Reprojects the layer into the projection and units given, updating its map information. */
void eant_AnnotationInfoReproject(Eant_AnnotationInfo *info, const Eprj_ProParameters *parameters,
                                  const char *mapUnits,
                                  void (*progress)(void *data, double percent, Eerr_ErrorReport **err),
                                  void *progressData, Eerr_ErrorReport **err);
/* Numbers every element afresh from 0; the header's nextElement becomes the element count. */
void eant_AnnotationInfoMakeUniqueElementIDs(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
/* The database access of the layer's smart text (made when missing). */
void eant_AnnotationDBIDataFunctionsAndDataSet(Eant_AnnotationInfo *info, Eant_AttributeStringFunction attributeString,
                                               Eant_ColumnNumberFunction columnNumber, void *data,
                                               Eerr_ErrorReport **err);
void eant_AnnotationDBIDataCurrentRowSet(Eant_AnnotationInfo *info, int32_t row, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Counted strings */

/* Makes string a copy of text (null empties it); reuses a buffer of the right size. Returns
   string, or null on failure. */
Eant_CharStr *eant_CharStrCreate(const char *text, Eant_CharStr *string, Eerr_ErrorReport **err);
Eant_CharStr *eant_CharStrCopy(const Eant_CharStr *source, Eant_CharStr *target, Eerr_ErrorReport **err);
/* 1 when both hold the same count and text, else 0 (also for an invalid string, reported). */
int32_t eant_CharStrCompare(const Eant_CharStr *a, const Eant_CharStr *b, Eerr_ErrorReport **err);
/* Frees the text and sets count to 0; the record stays. */
void eant_CharStrFree(Eant_CharStr *string);
/* The same for a line composition (a count and an array). */
void eant_LineCompositionFree(Eant_LineComposition *composition);
Eant_UnicodeStr *eant_UnicodeStrCreate(const char16_t *text, Eant_UnicodeStr *string, Eerr_ErrorReport **err);
Eant_UnicodeStr *eant_UnicodeStrCopy(const Eant_UnicodeStr *source, Eant_UnicodeStr *target,
                                     Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Style references */

Eant_Style *eant_StyleCreate(Eerr_ErrorReport **err);
Eant_Style *eant_StyleSetValues(Eant_Style *style, const char *fileNodeName, const char *name, int32_t number,
                                Eerr_ErrorReport **err);
Eant_Style *eant_StyleCopy(const Eant_Style *source, Eant_Style *target, Eerr_ErrorReport **err);
int32_t eant_StyleCompare(const Eant_Style *a, const Eant_Style *b, Eerr_ErrorReport **err);
/* Orders references by name: -1, 0 or 1 (0 when either reference is null). */
int32_t eant_StyleNameCompare(const Eant_Style *a, const Eant_Style *b);
void eant_StylePrint(const Eant_Style *style, Eerr_ErrorReport **err);
Emif_Design *eant_StyleDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
void eant_StyleFreeContents(Eant_Style *style);
void eant_StyleFree(Eant_Style **style);

/* ---------------------------------------------------------------------------------------------
   Criteria */

Eant_Criteria *eant_CriteriaCreate(Eerr_ErrorReport **err);
/* Appends a new criterion named name to the info's list and returns it. */
Eant_Criteria *eant_CriteriaAdd(Eant_AnnotationInfo *info, const char *name, Eant_CriteriaFunction check,
                                void *data, Eerr_ErrorReport **err);
/* Appends criterion to list and returns the list's first criterion. */
Eant_Criteria *eant_CriteriaAddToList(Eant_Criteria *list, Eant_Criteria *criterion, Eerr_ErrorReport **err);
Eant_Criteria *eant_CriteriaListLookup(Eant_AnnotationInfo *info, const char *name, Eerr_ErrorReport **err);
/* 1 when the element passes every criterion of list; else the first result that is not 1. */
int32_t eant_CriteriaCheck(Eant_Element *element, _exfr_XForm *transform, Eant_Criteria *list,
                           Eerr_ErrorReport **err);
void eant_CriteriaDelete(Eant_AnnotationInfo *info, const char *name, Eerr_ErrorReport **err);
void eant_CriteriaPrint(const Eant_Criteria *criterion, Eerr_ErrorReport **err);
void eant_CriteriaFree(Eant_Criteria **list);

/* ---------------------------------------------------------------------------------------------
   The clip window of a layer: the criterion "Clip Window" keeps an element whose box, carried
   through the render transform, meets every box of the window. The info's clipWindow points at
   the criterion's data. */

#define EANT_CLIP_WINDOW_CRITERIA "Clip Window"

/* A record with no window, a 2 x 4 work matrix and two work boxes. */
Eant_ClipData *eant_ClipDataCreate(Eerr_ErrorReport **err);
/* Deletes the window with its boxes and the work records, frees the record, clears the pointer. */
void eant_ClipDataFree(Eant_ClipData **clipData);
/* Adds a copy of the box (2 x 2 f64) to the window, adding the criterion when it is missing. A
   failure leaves the window as it was. */
void eant_AddClipWindow(Eant_AnnotationInfo *info, const Evec_Bbox *box, Eerr_ErrorReport **err);
/* The window becomes the one box. */
void eant_SetClipWindow(Eant_AnnotationInfo *info, const Evec_Bbox *box, Eerr_ErrorReport **err);
/* Frees the window and deletes the criterion; nothing (no report) without one. */
void eant_ClearClipWindow(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
/* The criterion's check (data: an Eant_ClipData): 1 when the element's box meets every box of
   the window, else 0. */
int32_t eant_ElementIntersectClipWind(Eant_Element *element, _exfr_XForm *transform, void *clipData,
                                      Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Hit tests of the element types and selection by coordinate. A coordinate is a 2 x 1 f64 matrix
   in layer coordinates. The tolerance of the near tests is the larger of 2 NDU (in map units,
   through the conversion's map transform) and the width of the style's first line. */

/* 1 when a vertex of the block lies within the tolerance of the coordinate. */
int32_t eant_CoordNearPoint(const Egda_BaseData *coordinate, const Efga_CoordinateBlock *points,
                            const Eevg_LineStyle *lineStyle, Eant_CoordSysConversion *conversion,
                            Eerr_ErrorReport **err);
/* 1 when the coordinate lies within the tolerance of a segment of a part of the block; closed 1
   also tests each part's closing segment (polygon outlines). */
int32_t eant_CoordNearPolyline(const Egda_BaseData *coordinate, const Efga_CoordinateBlock *lines, int32_t closed,
                               const Eevg_LineStyle *lineStyle, Eant_CoordSysConversion *conversion,
                               Eerr_ErrorReport **err);
/* Filled (fill 1): 1 when the coordinate lies inside an odd number of parts (a hole is outside).
   Otherwise: the near test of the closed outlines with the fill style's outline line style. */
int32_t eant_CoordInPolygon(const Egda_BaseData *coordinate, const Efga_CoordinateBlock *polygons,
                            const Eevg_FillStyle *fillStyle, Eant_CoordSysConversion *conversion,
                            Eerr_ErrorReport **err);
/* 1 when the coordinate lies inside the four corners carried through the render transform (the
   polynomial is not applied). */
int32_t eant_CoordInBoundingBox(const Egda_BaseData *corners, const Efga_Polynomial *polynomial,
                                const _exfr_XForm *transform, const Egda_BaseData *coordinate,
                                Eerr_ErrorReport **err);
/* The topmost element of element's list (the last in drawing order) that passes the criteria and
   whose type reports the coordinate in it; null when none is (or element is null). */
Eant_Element *eant_SelectNextElementByCoord(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles,
                                            Eant_SymbolLibrary *symbols, Eant_Criteria *criteria,
                                            Eant_Element *element, _exfr_XForm *transform,
                                            Eant_CoordSysConversion *conversion, Egda_BaseData *coordinate,
                                            Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Database access of smart text */

/* The process's current record, or null; eant_DBIDataSet makes a record (or null) current. */
Eant_DBIData *eant_DBIData(void);
Eant_DBIData *eant_DBIDataSet(Eant_DBIData *record);
Eant_DBIData *eant_DBIDataCreate(Eerr_ErrorReport **err);
Eant_DBIData *eant_DBIDataFunctionsAndDataSet(Eant_DBIData *record, Eant_AttributeStringFunction attributeString,
                                              Eant_ColumnNumberFunction columnNumber, void *data,
                                              Eerr_ErrorReport **err);
void eant_DBIDataCurrentRowSet(Eant_DBIData *record, int32_t row, Eerr_ErrorReport **err);
/* Frees the record and clears the pointer; a record that was current stops being current. */
void eant_DBIDataFree(Eant_DBIData **record);

/* ---------------------------------------------------------------------------------------------
   Sort records of the distribute operation */

/* An array of count records, every one zeroed. */
Eant_GeoOrder *eant_GeoOrderCreate(int32_t count, Eerr_ErrorReport **err);
void eant_GeoOrderFree(Eant_GeoOrder **array, int32_t count);
/* Comparators of two records (const Eant_GeoOrder *), for qsort: by the x centre, by the y centre
   of the box, by sequence; 0 when a record or box is missing. */
int32_t eant_GeoOrderOrderHorizontal(const void *a, const void *b);
int32_t eant_GeoOrderOrderVertical(const void *a, const void *b);
int32_t eant_GeoOrderOrderSequential(const void *a, const void *b);

/* ---------------------------------------------------------------------------------------------
   Font list: the renderer's font data base under annotation names */

Eevg_FontDataBaseRecord *eant_FontListCreate(Eerr_ErrorReport **err);
char *eant_FontListLookupFontName(Eevg_FontDataBaseRecord *fontList, const char *fontFileName,
                                  Eerr_ErrorReport **err);
char *eant_FontListLookupFontFileName(Eevg_FontDataBaseRecord *fontList, const char *fontName,
                                      Eerr_ErrorReport **err);
Eevg_FontDataBaseRecord *eant_FontListLookupByFontName(Eevg_FontDataBaseRecord *fontList, const char *fontName,
                                                       Eerr_ErrorReport **err);
Eevg_FontDataBaseRecord *eant_FontListLookupByFontFileName(Eevg_FontDataBaseRecord *fontList,
                                                           const char *fontFileName, Eerr_ErrorReport **err);
/* Clears the pointer only: the font data base is the process's. */
void eant_FontListFree(Eevg_FontDataBaseRecord **fontList);

/* ---------------------------------------------------------------------------------------------
   Event callbacks: five operations per event. A pair (callback, userData) is registered once per
   list; registrations are called in the order they were added. */

#define EANT_CALLBACK_FAMILY(Event)                                                                 \
  void eant_Add##Event##Callback(Eant_AnnotationInfo *info, Eant_CallbackFunction callback, void *userData, \
                                 Eerr_ErrorReport **err);                                            \
  void eant_SetDocallFor##Event##Callbacks(Eant_AnnotationInfo *info, int32_t value, Eerr_ErrorReport **err); \
  void eant_Do##Event##Callbacks(Eant_AnnotationInfo *info, void *object, Eerr_ErrorReport **err);
EANT_CALLBACK_FAMILY(ElementCreated)
EANT_CALLBACK_FAMILY(ElementSelected)
EANT_CALLBACK_FAMILY(ElementDeselected)
EANT_CALLBACK_FAMILY(ElementMoved)
EANT_CALLBACK_FAMILY(ElementModified)
EANT_CALLBACK_FAMILY(ElementCut)
EANT_CALLBACK_FAMILY(ElementListModified)
EANT_CALLBACK_FAMILY(LayerClosed)
#undef EANT_CALLBACK_FAMILY
void eant_RemoveAnElementCreatedCallback(Eant_AnnotationInfo *info, Eant_CallbackFunction callback, void *userData,
                                         Eerr_ErrorReport **err);
void eant_RemoveAnElementSelectedCallback(Eant_AnnotationInfo *info, Eant_CallbackFunction callback, void *userData,
                                          Eerr_ErrorReport **err);
void eant_RemoveAnElementDeselectedCallback(Eant_AnnotationInfo *info, Eant_CallbackFunction callback,
                                            void *userData, Eerr_ErrorReport **err);
void eant_RemoveAnElementMovedCallback(Eant_AnnotationInfo *info, Eant_CallbackFunction callback, void *userData,
                                       Eerr_ErrorReport **err);
void eant_RemoveAnElementModifiedCallback(Eant_AnnotationInfo *info, Eant_CallbackFunction callback,
                                          void *userData, Eerr_ErrorReport **err);
void eant_RemoveAnElementCutCallback(Eant_AnnotationInfo *info, Eant_CallbackFunction callback, void *userData,
                                     Eerr_ErrorReport **err);
void eant_RemoveAnElementListModifiedCallback(Eant_AnnotationInfo *info, Eant_CallbackFunction callback,
                                              void *userData, Eerr_ErrorReport **err);
void eant_RemoveALayerClosedCallback(Eant_AnnotationInfo *info, Eant_CallbackFunction callback, void *userData,
                                     Eerr_ErrorReport **err);
void eant_RemoveElementCreatedCallback(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
void eant_RemoveElementSelectedCallback(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
void eant_RemoveElementDeselectedCallback(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
void eant_RemoveElementMovedCallback(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
void eant_RemoveElementModifiedCallback(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
void eant_RemoveElementCutCallback(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
void eant_RemoveElementListModifiedCallback(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
void eant_RemoveLayerClosedCallback(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
/* A new registration with doCall 1. */
Eant_Callback *eant_CallbackCreate(Eerr_ErrorReport **err);
/* Frees every registration of the list and clears the head. */
void eant_CallbackFree(Eant_Callback **list);

/* ---------------------------------------------------------------------------------------------
   Package initialisation and the design dictionary */

/* Builds the package data into word 0 of the toolkit record (freeing what was there). */
void eant_Init(Eint_InitToolkitData *toolkit, Eerr_ErrorReport **err);
/* eant_Init when word 0 is null. */
void eant_InitIfNeeded(Eint_InitToolkitData *toolkit, Eerr_ErrorReport **err);
Eant_InitData *eant_InitDataCreate(Eerr_ErrorReport **err);
void eant_InitDataFree(Eant_InitData **data);
/* A new dictionary holding every stored design of the package, nested designs first. */
Emif_Dictionary *eant_InitDictionaryCreate(Eerr_ErrorReport **err);
/* The package's design of that name, by which a writer encodes its record, after copying it into
   the file's dictionary when the file has no design of that name (with its nested designs).
   ehfa_ObjectWrite compares the file's own design of the name with it and refuses a record whose
   layout in memory the file's design does not share. */
Emif_Design *eant_PutDesignInDictionary(Eant_InitData *data, const char *designName,
                                        Emif_Dictionary *fileDictionary, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Design definitions (dictionary, err): each defines its record's designs in the dictionary,
   nested designs first, and returns the current one. */

Emif_Design *eant_AntHeaderDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_AnnotationVersionDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_CoordDefinitionDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_ElementDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_ElementNodeDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_ColorDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_LineDescriptionDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_LineSymbolDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_PatternFillDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_FillPatternDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_LineStyleDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_FillStyleDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_TextShadowDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_TextStyleDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_StyleLibraryDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_SelectedStylesDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_VectorDataDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_TextDataDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_RectangleDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_EllipseDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_PolygonDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_PolylineDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_PointDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_ArcDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_TextDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_SymbolDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_GroupDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_SymbolDataDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_SymbolLibraryDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_GridTicDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_LegendDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);
Emif_Design *eant_ScaleBarDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   The version node */

/* Writes the child "AnnotationVersion" (4) of the node at nodePath or of the current node; the
   written node is current afterwards. */
void eant_AnnotationVersionWrite(Eant_FileIO *fileIO, const char *nodePath, Eerr_ErrorReport **err);
/* Reads the child "AnnotationVersion" of nodePath (absolute with a leading ":", else a child of
   the current node) into fileIO->annotationVersion (0 when absent); nodePath's node is current
   afterwards. A read that fails for another reason (memory) is reported with code 8 and leaves
   the version as it was. */
void eant_AnnotationVersionRead(Eant_FileIO *fileIO, const char *nodePath, Eerr_ErrorReport **err);
/* With fileIO->versionFlags 1, writes the entry "AnnotationVersionFlags" (no data) below
   nodePath's node (or the current one) and returns to that node; otherwise writes nothing. */
void eant_AnnotationVersionFlagsWrite(Eant_FileIO *fileIO, const char *nodePath, Eerr_ErrorReport **err);
/* Sets fileIO->versionFlags to 1 when nodePath's node (absolute with ":", else a child of the
   current node; null: the current node) has the child "AnnotationVersionFlags", else 0. */
void eant_AnnotationVersionFlagsRead(Eant_FileIO *fileIO, const char *nodePath, Eerr_ErrorReport **err);

/* An open annotation layer: the node path in its file, the file (null once a read-only layer
   closed it), the layer's contents, and 1 until a new layer is first written. */
typedef struct Eant_Layer {
  char *layerName;
  Ehfa_File *file;
  Eant_AnnotationInfo *antInfo;
  int32_t isNew;
} Eant_Layer;

/* A zeroed layer record; eant_LayerFree frees its name, its info and the record (not its file)
   and sets the pointer to null. */
Eant_Layer *eant_LayerCreate(Eerr_ErrorReport **err);
void eant_LayerFree(Eant_Layer **layer);
/* A new layer "file(node path)" (node path ":Annotation" when none is given) in a new or an
   existing file, open for writing; its node is made at the first write. info (or a new one) is
   initialised with control and background; an info given by the caller is never freed here. */
Eant_Layer *eant_LayerNew(Eint_InitToolkitData *toolkit, Eevg_Control *control, const char *layerName,
                          Eant_AnnotationInfo *info, const Eevg_Color *background, Eerr_ErrorReport **err);
/* Opens and reads an existing layer; a mode without "+" closes the file after reading. A null
   toolkit record is the process's. */
Eant_Layer *eant_LayerOpen(Eint_InitToolkitData *toolkit, Eevg_Control *control, const char *layerName,
                           const char *mode, Eerr_ErrorReport **err);
void eant_AnnotationRead(Eant_Layer *layer, Eerr_ErrorReport **err);
/* Writes the layer back: a layer alone in its file replaces the file through a temporary file; a
   layer that shares its file replaces its node, the whole swap committed at once. */
void eant_AnnotationWrite(Eant_Layer *layer, Eerr_ErrorReport **err);
void eant_AnnotationWriteNewFile(Eant_Layer *layer, Eerr_ErrorReport **err);
void eant_AnnotationWriteExistingFile(Eant_Layer *layer, Eerr_ErrorReport **err);
/* Fires the layer-closed callbacks, writes a modified layer back, closes its file and frees it. */
void eant_LayerClose(Eant_Layer *layer, Eerr_ErrorReport **err);
/* Renames / deletes the node nodePath:oldName (nodePath:nodeName); nothing when it does not exist. */
void eant_LayerRename(Ehfa_File *file, const char *nodePath, const char *oldName, const char *newName,
                      Eerr_ErrorReport **err);
void eant_LayerDelete(Ehfa_File *file, const char *nodePath, const char *nodeName, Eerr_ErrorReport **err);
/* Moves the open layer with its info to a new node layerName (written at the next write). */
void eant_LayerReplaceWithNew(Eint_InitToolkitData *toolkit, Eevg_Control *control, const char *layerName,
                              Eant_Layer *layer, Eerr_ErrorReport **err);
/* The modification time of the layer node as last read or written; 0 with a report. */
double eant_LayerGetModTime(Eant_Layer *layer, Eerr_ErrorReport **err);

/* The default styles file "antstyles.ads": kind 1 or 3 the user's, 2 or 4 the shared one, found
   through NORIX_PREFERENCES_PATH (the directory is made when missing); any other kind null
   without a report. Without NORIX_PREFERENCES_PATH (unset) both lie in the user's
   configuration folder, $XDG_CONFIG_HOME/taviron, else $HOME/.config/taviron, which the first
   write of the file makes. */
char *eant_GetDefaultStylesFileName(int32_t kind, Eerr_ErrorReport **err);
/* Stores the info's style library and selected styles as the default styles file (its folder
   made when missing); the old file is replaced only once the new one is complete. */
void eant_DefaultStylesWrite(Eant_AnnotationInfo *info, const char *fileName, Eerr_ErrorReport **err);
/* Installs the file's styles in the info. A missing file changes nothing; a damaged one is
   printed and changes nothing. Never reports to the caller. */
void eant_DefaultStylesRead(Eant_AnnotationInfo *info, const char *fileName, Eerr_ErrorReport **err);

/* A copy of the layer's map information (into mapInfo or a new record) whose corner pixel
   centres are those of the layer box and whose pixel size is 1 by 1; null (mapInfo freed) when
   the layer has none. The Read forms take a layer and report a layer without it. */
Eprj_MapInfo *eant_MapInfoGet(Eant_AnnotationInfo *info, Eprj_MapInfo *mapInfo, Eerr_ErrorReport **err);
Eprj_MapInfo *eant_MapInfoRead(Eant_Layer *layer, Eprj_MapInfo *mapInfo, Eerr_ErrorReport **err);
/* A copy of the projection parameters (into parameters or a new record); null (parameters freed)
   when the layer has none. */
Eprj_ProParameters *eant_ProParametersGet(Eant_AnnotationInfo *info, Eprj_ProParameters *parameters,
                                          Eerr_ErrorReport **err);
Eprj_ProParameters *eant_ProParametersRead(Eant_Layer *layer, Eprj_ProParameters *parameters,
                                           Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Coordinate definitions and conversions */

Eant_CoordDefinition *eant_CoordDefinitionCreate(Eerr_ErrorReport **err);
Eant_CoordDefinition *eant_CoordDefinitionSetValues(Eant_CoordDefinition *definition, int32_t coordSys,
                                                    const char *unitsName, Eerr_ErrorReport **err);
Eant_CoordDefinition *eant_CoordDefinitionCopy(const Eant_CoordDefinition *source, Eant_CoordDefinition *target,
                                               Eerr_ErrorReport **err);
int32_t eant_CoordDefinitionCompare(const Eant_CoordDefinition *a, const Eant_CoordDefinition *b,
                                    Eerr_ErrorReport **err);
void eant_CoordDefinitionPrint(const Eant_CoordDefinition *definition, Eerr_ErrorReport **err);
void eant_CoordDefinitionFree(Eant_CoordDefinition **definition);

Eant_CoordSysConversion *eant_CoordSysConversionCreate(Eerr_ErrorReport **err);
Eant_CoordSysConversion *eant_CoordSysConversionSetValues(Eant_CoordSysConversion *conversion, double nduScaleX,
                                                          double nduScaleY, double pageScaleX, double pageScaleY,
                                                          double pageOffsetX, double pageOffsetY,
                                                          const char *pageUnits, const char *mapUnits,
                                                          Eerr_ErrorReport **err);
Eant_CoordSysConversion *eant_CoordSysConversionCopy(const Eant_CoordSysConversion *source,
                                                     Eant_CoordSysConversion *target, Eerr_ErrorReport **err);
void eant_CoordSysConversionFree(Eant_CoordSysConversion **conversion);

/* Lengths: from the definition's units into map units, back, and both through mapTransform. */
double eant_CoordSysConversionScaleX(Eant_CoordSysConversion *conversion, const Eant_CoordDefinition *definition,
                                     double value, Eerr_ErrorReport **err);
double eant_CoordSysConversionScaleY(Eant_CoordSysConversion *conversion, const Eant_CoordDefinition *definition,
                                     double value, Eerr_ErrorReport **err);
double eant_CoordSysConversionInvScaleX(Eant_CoordSysConversion *conversion,
                                        const Eant_CoordDefinition *definition, double value,
                                        Eerr_ErrorReport **err);
double eant_CoordSysConversionInvScaleY(Eant_CoordSysConversion *conversion,
                                        const Eant_CoordDefinition *definition, double value,
                                        Eerr_ErrorReport **err);
double eant_CoordSysConversionScaleAndTransformX(Eant_CoordSysConversion *conversion,
                                                 const Eant_CoordDefinition *definition, double value,
                                                 Eerr_ErrorReport **err);
double eant_CoordSysConversionScaleAndTransformY(Eant_CoordSysConversion *conversion,
                                                 const Eant_CoordDefinition *definition, double value,
                                                 Eerr_ErrorReport **err);
double eant_CoordSysConversionInvScaleAndTransformX(Eant_CoordSysConversion *conversion,
                                                    const Eant_CoordDefinition *definition, double value,
                                                    Eerr_ErrorReport **err);
double eant_CoordSysConversionInvScaleAndTransformY(Eant_CoordSysConversion *conversion,
                                                    const Eant_CoordDefinition *definition, double value,
                                                    Eerr_ErrorReport **err);
/* Lengths between two systems given by their codes and unit names. */
double eant_CoordSysConversionConvertXScale(Eant_CoordSysConversion *conversion, int32_t fromCoordSys,
                                            const char *fromUnits, int32_t toCoordSys, const char *toUnits,
                                            double value, Eerr_ErrorReport **err);
double eant_CoordSysConversionConvertYScale(Eant_CoordSysConversion *conversion, int32_t fromCoordSys,
                                            const char *fromUnits, int32_t toCoordSys, const char *toUnits,
                                            double value, Eerr_ErrorReport **err);
double eant_CoordSysConversionConvertAndTransformXScale(Eant_CoordSysConversion *conversion, int32_t fromCoordSys,
                                                        const char *fromUnits, int32_t toCoordSys,
                                                        const char *toUnits, double value, Eerr_ErrorReport **err);
double eant_CoordSysConversionConvertAndTransformYScale(Eant_CoordSysConversion *conversion, int32_t fromCoordSys,
                                                        const char *fromUnits, int32_t toCoordSys,
                                                        const char *toUnits, double value, Eerr_ErrorReport **err);
/* Positions: a new coordinate in map coordinates, back in the definition's system, or between
   two systems (into output when given). */
Eevg_Coord *eant_CoordSysConversionTranslateCoord(Eant_CoordSysConversion *conversion,
                                                  const Eant_CoordDefinition *definition, const Eevg_Coord *coord,
                                                  Eerr_ErrorReport **err);
Eevg_Coord *eant_CoordSysConversionInvTranslateCoord(Eant_CoordSysConversion *conversion,
                                                     const Eant_CoordDefinition *definition,
                                                     const Eevg_Coord *coord, Eerr_ErrorReport **err);
Eevg_Coord *eant_CoordSysConversionConvertCoord(Eant_CoordSysConversion *conversion, int32_t fromCoordSys,
                                                const char *fromUnits, int32_t toCoordSys, const char *toUnits,
                                                const Eevg_Coord *coord, Eevg_Coord *output, Eerr_ErrorReport **err);
/* The polynomial of the position conversion into map coordinates (null: none needed), the same
   with the identity for null, and their inverses. */
Efga_Polynomial *eant_CoordSysConversionGetTranslationPolyAllowNULL(Eant_CoordSysConversion *conversion,
                                                                   const Eant_CoordDefinition *definition,
                                                                   Eerr_ErrorReport **err);
Efga_Polynomial *eant_CoordSysConversionGetTranslationPoly(Eant_CoordSysConversion *conversion,
                                                           const Eant_CoordDefinition *definition,
                                                           Eerr_ErrorReport **err);
Efga_Polynomial *eant_CoordSysConversionGetInvTranslationPolyAllowNULL(Eant_CoordSysConversion *conversion,
                                                                      const Eant_CoordDefinition *definition,
                                                                      Eerr_ErrorReport **err);
Efga_Polynomial *eant_CoordSysConversionGetInvTranslationPoly(Eant_CoordSysConversion *conversion,
                                                              const Eant_CoordDefinition *definition,
                                                              Eerr_ErrorReport **err);

/* Polynomial builders (into existing when given). */
Efga_Polynomial *eant_IdentityPolynomialCreate(Efga_Polynomial *existing, Eerr_ErrorReport **err);
Efga_Polynomial *eant_TranslatePolynomialCreate(Efga_Polynomial *existing, double dx, double dy,
                                                Eerr_ErrorReport **err);
Efga_Polynomial *eant_RotatePolynomialCreate(Efga_Polynomial *existing, double angle, Eerr_ErrorReport **err);
Efga_Polynomial *eant_ScalePolynomialCreate(Efga_Polynomial *existing, double sx, double sy, Eerr_ErrorReport **err);
/* A new affine polynomial about origin (null: (0, 0)): rotation by angle, scales sx and sy. */
Efga_Polynomial *eant_AffinePolynomialCreate(const Eevg_Coord *origin, double angle, double sx, double sy,
                                             Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Styles: records, copies and the stored arrays of a library's lists. A stored array holds one
   entry per slot of the list in slot order (an empty slot as an entry of useCount -1); the
   ListToPrivateArray operations share the styles' strings and parts with the array, which is one
   heap block the caller frees alone (emsc_HeapFree); the PrivateNArrayToList operations take the
   entries' parts over and leave the array to the caller. */

Eant_Color *eant_ColorCreate(Eerr_ErrorReport **err);
Eant_Color *eant_ColorCopy(const Eant_Color *source, Eant_Color *target, Eerr_ErrorReport **err);
void eant_ColorFree(Eant_Color **color);
Edlm_List *eant_ColorListCopy(Edlm_List *source, Edlm_List *target, Eerr_ErrorReport **err);
void *eant_ColorListToPrivateArray(Edlm_List *list, int32_t *count, Eerr_ErrorReport **err);
void eant_ColorPrivate0ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err);
void eant_ColorPrivate2ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err);

Eant_PatternFill *eant_PatternFillCreate(Eerr_ErrorReport **err);
Eant_PatternFill *eant_PatternFillCopy(const Eant_PatternFill *source, Eant_PatternFill *target,
                                       Eerr_ErrorReport **err);
void eant_PatternFillFree(Eant_PatternFill **pattern);
Eant_FillPattern *eant_FillPatternCreate(Eerr_ErrorReport **err);
Eant_FillPattern *eant_FillPatternCopy(const Eant_FillPattern *source, Eant_FillPattern *target,
                                       Eerr_ErrorReport **err);
void eant_FillPatternFree(Eant_FillPattern **pattern);
/* A pattern (new when null) of the solid colour alone: solidFill 1, patternFill 0; a pattern fill
   it holds stays. */
Eant_FillPattern *eant_FillPatternSetValues(Eant_FillPattern *pattern, int32_t color, Eerr_ErrorReport **err);
/* Sets a pattern (new when null); with patternFill 1 its pattern fill is set (made when absent)
   with the other values, else it is freed. A pattern made by the call is freed on failure. */
Eant_FillPattern *eant_FillPatternSetAllValues(Eant_FillPattern *pattern, int32_t solidFill, int32_t color,
                                               int32_t patternFill, int32_t scaleCoordSys, const char *scaleUnits,
                                               int32_t positionCoordSys, const char *positionUnits, double scale,
                                               double xsep, double ysep, Eant_Style *symbol,
                                               int32_t colorOverrideFlag, int32_t overrideColor,
                                               Eerr_ErrorReport **err);
/* Sets a pattern fill (new when null; freed again on failure); the units are updated in place and
   the symbol reference is taken over, not copied. */
Eant_PatternFill *eant_PatternFillSetValues(Eant_PatternFill *fill, int32_t scaleCoordSys, const char *scaleUnits,
                                            int32_t positionCoordSys, const char *positionUnits, double scale,
                                            double xsep, double ysep, Eant_Style *symbol, int32_t colorOverrideFlag,
                                            int32_t overrideColor, Eerr_ErrorReport **err);
/* 1 when both are null or equal (the pixel stack plays no part), else 0. */
int32_t eant_FillPatternCompare(const Eant_FillPattern *a, const Eant_FillPattern *b, Eerr_ErrorReport **err);
int32_t eant_PatternFillCompare(const Eant_PatternFill *a, const Eant_PatternFill *b, Eerr_ErrorReport **err);
void eant_FillPatternPrint(const Eant_FillPattern *pattern, Eerr_ErrorReport **err);
void eant_PatternFillPrint(const Eant_PatternFill *fill, Eerr_ErrorReport **err);
Eant_FillStyle *eant_FillStyleCreate(Eerr_ErrorReport **err);
Eant_FillStyle *eant_FillStyleCopy(const Eant_FillStyle *source, Eant_FillStyle *target, Eerr_ErrorReport **err);
void eant_FillStyleFree(Eant_FillStyle **style);
Edlm_List *eant_FillStyleListCopy(Edlm_List *source, Edlm_List *target, Eerr_ErrorReport **err);
void *eant_FillStyleListToPrivateArray(Edlm_List *list, int32_t *count, Eerr_ErrorReport **err);
void eant_FillStylePrivate0ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err);
void eant_FillStylePrivate2ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err);

Eant_LineSymbol *eant_LineSymbolCreate(Eerr_ErrorReport **err);
Eant_LineSymbol *eant_LineSymbolCopy(const Eant_LineSymbol *source, Eant_LineSymbol *target,
                                     Eerr_ErrorReport **err);
void eant_LineSymbolFree(Eant_LineSymbol **symbol);
/* Makes the record when null; sets both units in place, the numbers and the override; takes over
   reference as the symbol (not copied). A record made by the call is freed on failure. */
Eant_LineSymbol *eant_LineSymbolSetValues(Eant_LineSymbol *symbol, int32_t scaleCoordSys, const char *scaleUnits,
                                          int32_t positionCoordSys, const char *positionUnits, double scale,
                                          double spacing, double offset, int32_t effect, Eant_Style *reference,
                                          int32_t colorOverrideFlag, int32_t overrideColor, Eerr_ErrorReport **err);
int32_t eant_LineSymbolCompare(const Eant_LineSymbol *a, const Eant_LineSymbol *b, Eerr_ErrorReport **err);
void eant_LineSymbolPrint(const Eant_LineSymbol *symbol, Eerr_ErrorReport **err);
/* The effect's quarter turn about (x, y) as a new transform; null (no report) as is. */
_exfr_XForm *eant_LineSymbolEffectMakeTransform(int32_t effect, double x, double y, Eerr_ErrorReport **err);
Eant_LineStyle *eant_LineStyleCreate(Eerr_ErrorReport **err);
/* Copy: the overlaid lines are copied over the destination's first lines; a destination with more
   overlaid lines than the source keeps its extra ones. */
Eant_LineStyle *eant_LineStyleCopy(const Eant_LineStyle *source, Eant_LineStyle *target, Eerr_ErrorReport **err);
void eant_LineStyleFree(Eant_LineStyle **style);
Edlm_List *eant_LineStyleListCopy(Edlm_List *source, Edlm_List *target, Eerr_ErrorReport **err);
void *eant_LineStyleListToPrivateArray(Edlm_List *list, int32_t *count, Eerr_ErrorReport **err);
void eant_LineStylePrivate0ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err);
void eant_LineStylePrivate1ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err);
void eant_LineStylePrivate2ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err);
void eant_LineStylePrivate4ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err);

Eant_TextStyle *eant_TextStyleCreate(Eerr_ErrorReport **err);
Eant_TextStyle *eant_TextStyleCopy(const Eant_TextStyle *source, Eant_TextStyle *target, Eerr_ErrorReport **err);
void eant_TextStyleFree(Eant_TextStyle **style);
Edlm_List *eant_TextStyleListCopy(Edlm_List *source, Edlm_List *target, Eerr_ErrorReport **err);
void *eant_TextStyleListToPrivateArray(Edlm_List *list, int32_t *count, Eerr_ErrorReport **err);
void eant_TextStylePrivate0ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err);
void eant_TextStylePrivate2ArrayToList(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Numbered styles of a library (colours, fill, line and text styles): one family of operations per
   kind. A style's number is its index in its library's list; an empty slot (null) keeps every
   other number. The list owns its styles. Every operation reports into the slot it takes last;
   AddToList, AddToLibrary and AddToLocalLibrary return 0 on failure (tell it from number 0 by the
   slot), LookupInLibraryByName -1, CopyBetweenLibraries -1 (0 when its final add failed). The
   toolkit record is the one holding the package data; it is needed where a reference names
   another library. */

#define EANT_STYLE_FAMILY(Kind, Record, Target, ...)                                          \
  int32_t eant_##Kind##Compare(const Record *a, const Record *b, Eerr_ErrorReport **err);                 \
  void eant_##Kind##Print(const Record *style, Eerr_ErrorReport **err);                                  \
  Record *eant_##Kind##SetValues(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, Record *style, \
                                 Eerr_ErrorReport **err, ...);                                           \
  int32_t eant_##Kind##AddToList(Record *style, Edlm_List *list, int32_t unique, Eerr_ErrorReport **err); \
  void eant_##Kind##DeleteFromList(int32_t number, Edlm_List *list, Eerr_ErrorReport **err);             \
  int32_t eant_##Kind##AddToLibrary(Record *style, Eant_StyleLibrary *library, int32_t unique,           \
                                    Eerr_ErrorReport **err);                                             \
  void eant_##Kind##DeleteFromLibrary(int32_t number, Eant_StyleLibrary *library, Eerr_ErrorReport **err); \
  void eant_##Kind##ReplaceInLibrary(Record *style, int32_t number, Eant_StyleLibrary *library,          \
                                     Eerr_ErrorReport **err);                                            \
  Record *eant_##Kind##LookupInLibrary(Eant_StyleLibrary *library, int32_t number, Eerr_ErrorReport **err); \
  int32_t eant_##Kind##LookupInLibraryByName(Eant_StyleLibrary *library, const char *name,               \
                                             Eerr_ErrorReport **err);                                    \
  void eant_##Kind##IncrementUseCount(Eant_StyleLibrary *library, int32_t number, Eerr_ErrorReport **err); \
  void eant_##Kind##IncrementUseCountByStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,  \
                                             const Eant_Style *style, Eerr_ErrorReport **err);           \
  Edlm_List *eant_##Kind##GetNamedFromList(Edlm_List *list, const char *fileNodeName, Eerr_ErrorReport **err); \
  Edlm_List *eant_##Kind##GetNamedFromLibrary(Eant_AnnotationInfo *info, const char *fileNodeName,       \
                                              Eerr_ErrorReport **err);                                   \
  void eant_##Kind##ListClearEvaluatedStyles(Edlm_List *list, Eerr_ErrorReport **err);                   \
  Record *eant_##Kind##Evaluate(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, const Record *style, \
                                int32_t followExternal, Target *target __VA_ARGS__, Eerr_ErrorReport **err); \
  Record *eant_##Kind##EvaluateFromStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,      \
                                         const Eant_Style *style, int32_t followExternal,                \
                                         Target *target __VA_ARGS__, Eerr_ErrorReport **err);            \
  int32_t eant_##Kind##CopyBetweenLibraries(int32_t number, Eant_StyleLibrary *source,                   \
                                            Eant_StyleLibrary *target, int32_t unique, Eerr_ErrorReport **err); \
  int32_t eant_##Kind##CopyBetweenLibs(int32_t number, Eant_StyleLibrary *source, Eant_StyleLibrary *target, \
                                       Eerr_ErrorReport **err);                                          \
  void eant_##Kind##ReplaceBetweenLibraries(int32_t sourceNumber, Eant_StyleLibrary *source,             \
                                            int32_t targetNumber, Eant_StyleLibrary *target,             \
                                            Eerr_ErrorReport **err);                                     \
  int32_t eant_##Kind##AddToLocalLibrary(Eant_AnnotationInfo *info, const Eant_Style *style, Eerr_ErrorReport **err);

/* Colours: the renderer target is an Eevg_Color; Evaluate fills defaults (black, opacity 1.0). */
EANT_STYLE_FAMILY(Color, Eant_Color, Eevg_Color)
/* Fill styles: the renderer target is an Eevg_FillStyle. */
EANT_STYLE_FAMILY(FillStyle, Eant_FillStyle, Eevg_FillStyle, , Eant_CoordSysConversion *conversion)
/* Line styles: the renderer target is the composition of an Eevg_LineStyle (widths in map
   units through the conversion, renderer colours). */
EANT_STYLE_FAMILY(LineStyle, Eant_LineStyle, Eevg_LineComposition, , Eant_CoordSysConversion *conversion)
/* Text styles: the renderer target is an Eevg_TextStyle (font, spacings, character fill,
   underline and shadow; its lengths are set by eant_GetTextStyle). Evaluate fills the defaults:
   output units, font "galaxy.otl", slant 0, character spacing and extension 1, line spacing 0,
   no underline, no shadow. */
EANT_STYLE_FAMILY(TextStyle, Eant_TextStyle, Eevg_TextStyle, , Eant_CoordSysConversion *conversion)
#undef EANT_STYLE_FAMILY

/* Text styles for drawing. Evaluate as eant_TextStyleEvaluate, for the drawing; the symbol
   library is what the fill styles' drawing form uses. GetTextStyle makes a new renderer text style
   with its lengths (underline distance, shadow offsets) in map units and the alignment given (null
   keeps centre, centre); the caller frees it with eevg_TextStyleFree. The Ptr form caches it in
   the style (height and angle are the caller's to set) and marks the library evaluated; a second
   call takes the new alignment. Number -1 gives null without a report. */
Eant_TextStyle *eant_TextStyleEvaluateForRendering(Eint_InitToolkitData *toolkit, Eevg_Drawing *drawing,
                                                   Eant_StyleLibrary *library, Eant_SymbolLibrary *symbols,
                                                   const Eant_TextStyle *style, int32_t followExternal,
                                                   Eevg_TextStyle *target, Eant_CoordSysConversion *conversion,
                                                   Eerr_ErrorReport **err);
Eevg_TextStyle *eant_GetTextStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, const Eevg_Align *align,
                                  int32_t number, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
Eevg_TextStyle *eant_GetTextStyleForRendering(Eint_InitToolkitData *toolkit, Eevg_Drawing *drawing,
                                              Eant_StyleLibrary *library, Eant_SymbolLibrary *symbols,
                                              const Eevg_Align *align, int32_t number,
                                              Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
Eevg_TextStyle *eant_GetTextStyleForRenderingPtr(Eint_InitToolkitData *toolkit, Eevg_Drawing *drawing,
                                                 Eant_StyleLibrary *library, Eant_SymbolLibrary *symbols,
                                                 const Eevg_Align *align, int32_t number,
                                                 Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
/* Grows a text's corner box (2 x 4, corner 1 to corner 2 along the text) by the style's character
   fill outline, slant, underline (distance and half the line width) and shadow offset. */
void eant_ModifyBboxByTextStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                                Eant_CoordSysConversion *conversion, Egda_BaseData *bbox, Eerr_ErrorReport **err);

/* A new renderer object for the numbered style, evaluated following external bases (null for
   number -1, without a report); the caller frees it. The Ptr forms cache it in the style (the
   style keeps it until its list's evaluated styles are cleared) and mark the library evaluated. */
Eevg_Color *eant_GetColor(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                          Eerr_ErrorReport **err);
Eevg_Color *eant_GetColorPtr(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                             Eerr_ErrorReport **err);
Eevg_FillStyle *eant_GetFillStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                                  Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
Eevg_LineStyle *eant_GetLineStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                                  Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
Eevg_LineStyle *eant_GetLineStylePtr(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                                     Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
/* While the flag is non-zero every colour made for the renderer is opaque; returns the flag. */
int32_t eant_ColorSetIgnoreOpacityForEevg(int32_t flag);

/* The default styles, added with unique 1 (a library holding an equal style keeps only that):
   the colour of the renderer colour (black when null) with opacity 1.0, or with the renderer
   colour's opacity; "Filled default color" (fill with colour 0, no outline) and its outline form
   (no fill, outline line style 0; returns its number); "Medium solid default color line". */
void eant_ColorCreateDefault(Eant_StyleLibrary *library, const Eevg_Color *color, Eerr_ErrorReport **err);
void eant_ColorCreateDefaultWithOpacity(Eant_StyleLibrary *library, const Eevg_Color *color,
                                        Eerr_ErrorReport **err);
void eant_FillStyleCreateDefault(Eant_StyleLibrary *library, Eerr_ErrorReport **err);
int32_t eant_FillStyleCreateOutlineDefault(Eant_StyleLibrary *library, Eerr_ErrorReport **err);
void eant_LineStyleCreateDefault(Eant_StyleLibrary *library, Eerr_ErrorReport **err);
/* The default fill style (as above) and the text style "Solid default color Zorude" (output units
   in points, font "galaxy.otl", characters filled with that fill style). */
void eant_TextStyleCreateDefault(Eant_StyleLibrary *library, Eerr_ErrorReport **err);

/* Line compositions and descriptions. A composition made, grown or re-made holds lines
   {color -1, width 0.0}. Copy re-makes the destination when it is shorter than the source, or
   longer and shrink is non-zero; a longer destination otherwise keeps its extra lines. Compare
   gives 1 for equal, 0 otherwise (two nulls are equal). */
Eant_LineComposition *eant_LineCompositionCreate(int32_t count, Eant_LineComposition *composition,
                                                 Eerr_ErrorReport **err);
Eant_LineComposition *eant_LineCompositionSetValues(Eant_LineComposition *composition, int32_t position,
                                                    double width, int32_t color, Eerr_ErrorReport **err);
Eant_LineComposition *eant_LineCompositionCopy(const Eant_LineComposition *source,
                                               Eant_LineComposition *target, int32_t shrink,
                                               Eerr_ErrorReport **err);
int32_t eant_LineCompositionCompare(const Eant_LineComposition *a, const Eant_LineComposition *b,
                                    Eerr_ErrorReport **err);
void eant_LineCompositionPrint(const Eant_LineComposition *composition, Eerr_ErrorReport **err);
Eant_LineDescription *eant_LineDescriptionCreate(Eerr_ErrorReport **err);
Eant_LineDescription *eant_LineDescriptionCopy(const Eant_LineDescription *source, Eant_LineDescription *target,
                                               Eerr_ErrorReport **err);
int32_t eant_LineDescriptionCompare(const Eant_LineDescription *a, const Eant_LineDescription *b,
                                    Eerr_ErrorReport **err);
void eant_LineDescriptionPrint(const Eant_LineDescription *description, Eerr_ErrorReport **err);
void eant_LineDescriptionFree(Eant_LineDescription **description);

/* The parts of a line style as the renderer's, lengths in layer map units (a length in the style's
   units through the conversion; as it is without conversion or units). GetLineComposition fills
   target (re-sized to the composition's count) with the widths and the colours of the library;
   GetLinePattern fills target (re-sized to the pattern's count) with the dash lengths; both return
   target, null on failure. GetArrowEnd gives a new arrow end (freed with eevg_ArrowEndFree) with
   its length converted, or null without a report for a null arrow end. */
Eevg_LineComposition *eant_GetLineComposition(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                                              const Eant_LineComposition *composition, Eevg_LineComposition *target,
                                              const Eant_CoordDefinition *units, Eant_CoordSysConversion *conversion,
                                              Eerr_ErrorReport **err);
Eevg_LinePattern *eant_GetLinePattern(const Eevg_LinePattern *pattern, Eevg_LinePattern *target,
                                      const Eant_CoordDefinition *units, Eant_CoordSysConversion *conversion,
                                      Eerr_ErrorReport **err);
Eevg_ArrowEnd *eant_GetArrowEnd(const Eevg_ArrowEnd *arrowEnd, const Eant_CoordDefinition *units,
                                Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);

/* Measures of a numbered line style in layer map units (0 on failure): the first overlaid line's
   width; the arrow wing (arrow length times the sine of the tip angle) when an end is an arrow;
   the width times the package's mitre limit when the join is a mitre; the symbol's extent beside
   the line (|offset| plus half its size) when the style draws its symbol. */
double eant_LineStyleGetWidth(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                              Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
double eant_LineStyleGetArrowWingLength(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                                        int32_t number, Eant_CoordSysConversion *conversion,
                                        Eerr_ErrorReport **err);
double eant_LineStyleGetMitreLength(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                                    Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
double eant_LineStyleGetSymbolScaleAndOffset(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                                             int32_t number, Eant_CoordSysConversion *conversion,
                                             Eerr_ErrorReport **err);
/* Grows the corner box (2 x 4) in its own frame by the largest of half the width, the arrow wing
   (withArrows 1), half the mitre length (withMitre 1) and the symbol extent. */
void eant_ModifyBboxByLineStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                                Eant_CoordSysConversion *conversion, Egda_BaseData *bbox, int32_t withArrows,
                                int32_t withMitre, Eerr_ErrorReport **err);
/* The renderer's fill pattern of a fill pattern: its colour from the library, usePattern 1 for a
   symbol pattern (no pixels are made); null without a report for a null pattern. */
Eevg_FillPattern *eant_GetFillPattern(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                                      const Eant_FillPattern *pattern, Eerr_ErrorReport **err);
/* The box grown by the outline's line style (no arrows) when the numbered fill style is traced;
   unchanged otherwise. */
void eant_ModifyBboxByFillStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library, int32_t number,
                                Eant_CoordSysConversion *conversion, Egda_BaseData *bbox, int32_t withMitre,
                                Eerr_ErrorReport **err);

/* What a pre-rendered symbol pattern hands to the renderer as its user data: the drawing,
   conversion, style library and symbol library it was made for (borrowed), a copy of the pattern
   fill and of the pattern's colour (opacity 255; null without one), and solidFill. */
typedef struct Eant_PatternFillRenderData {
  Eevg_Drawing *drawing;
  Eant_CoordSysConversion *coordConvert;
  Eant_StyleLibrary *styleLibrary;
  Eant_SymbolLibrary *symbolLibrary;
  Eant_PatternFill *patternFill;
  Eevg_Color *color;
  int32_t solidFill;
} Eant_PatternFillRenderData;
Eant_PatternFillRenderData *eant_PatternFillRenderDataCreate(Eerr_ErrorReport **err);
/* Frees the pattern-fill copy, the colour copy and the record, and clears the pointer. */
void eant_PatternFillRenderDataFree(Eant_PatternFillRenderData **data);
/* The pattern fill drawn once into a tile of four unsigned 8-bit planes (red, green, blue,
   coverage) of one symbol size plus the gaps, in the drawing's device pixels: the symbol centred,
   over the colour when solidFill is 1 and a colour is given, else over nothing. A tile larger
   than the drawing is made at the drawing's size, with a warning (severity 1) in err beside the
   tile. */
Egda_BaseDataStack *eant_RenderPixRectStackCreate(const Eevg_Color *color, Eint_InitToolkitData *toolkit,
                                                  Eevg_Drawing *drawing, Eant_CoordSysConversion *conversion,
                                                  Eant_StyleLibrary *library, Eant_SymbolLibrary *symbols,
                                                  const Eant_PatternFill *patternFill, int32_t solidFill,
                                                  Eerr_ErrorReport **err);
/* eant_GetFillPattern, with a symbol pattern drawn into its tile for the drawing (null without a
   report for a null pattern). A capped tile's warning is passed on beside the result. */
Eevg_FillPattern *eant_GetFillPatternForRendering(Eint_InitToolkitData *toolkit, Eevg_Drawing *drawing,
                                                  Eant_CoordSysConversion *conversion, Eant_StyleLibrary *library,
                                                  Eant_SymbolLibrary *symbols, const Eant_FillPattern *pattern,
                                                  Eerr_ErrorReport **err);
/* Evaluation for drawing: every base followed, the renderer fill style (required) filled, and
   the symbol pattern of the level that sets the pattern drawn into its tile. The evaluated
   record. */
Eant_FillStyle *eant_FillStyleEvaluateForRendering(Eint_InitToolkitData *toolkit, Eevg_Drawing *drawing,
                                                   Eant_StyleLibrary *library, Eant_SymbolLibrary *symbols,
                                                   const Eant_FillStyle *style, Eevg_FillStyle *target,
                                                   Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
/* A new renderer fill style of the numbered style evaluated for drawing (null for number -1);
   the Ptr form caches it in the style (the tile stays that of the drawing and conversion of the
   call that made it) and sets the library's evaluated flag. */
Eevg_FillStyle *eant_GetFillStyleForRendering(Eint_InitToolkitData *toolkit, Eevg_Drawing *drawing,
                                              Eant_CoordSysConversion *conversion, Eant_StyleLibrary *library,
                                              Eant_SymbolLibrary *symbols, int32_t number, Eerr_ErrorReport **err);
Eevg_FillStyle *eant_GetFillStyleForRenderingPtr(Eint_InitToolkitData *toolkit, Eevg_Drawing *drawing,
                                                 Eant_CoordSysConversion *conversion, Eant_StyleLibrary *library,
                                                 Eant_SymbolLibrary *symbols, int32_t number,
                                                 Eerr_ErrorReport **err);
/* A new renderer line symbol (null without a report for a null symbol): scale, spacing and
   offset in layer map units, each symbol drawn through the symbol element's renderer. The plain
   form draws every symbol at its own size; the fast form scales it by the renderer's factor. */
Eevg_LineSymbol *eant_GetLineSymbol(const Eant_LineSymbol *symbol, Eant_StyleLibrary *library,
                                    Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
Eevg_LineSymbol *eant_GetLineSymbolFast(const Eant_LineSymbol *symbol, Eant_StyleLibrary *library,
                                        Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Style libraries */

Eant_StyleLibrary *eant_StyleLibraryCreate(Eerr_ErrorReport **err);
/* Gives the library four new empty lists. */
void eant_StyleLibraryInit(Eant_StyleLibrary *library, Eerr_ErrorReport **err);
/* Frees the library, every library chained after it, and all their styles; clears the pointer. */
void eant_StyleLibraryFree(Eant_StyleLibrary **library);
Eant_StyleLibrary *eant_StyleLibraryCopy(const Eant_StyleLibrary *source, Eant_StyleLibrary *target,
                                         Eerr_ErrorReport **err);
/* The default library: one colour ("default color", of the renderer colour or black, opacity 1.0;
   WithOpacity takes the renderer colour's opacity / 255), line style, fill style and text style,
   each number 0. */
Eant_StyleLibrary *eant_StyleLibraryCreateDefault(const Eevg_Color *color, Eerr_ErrorReport **err);
Eant_StyleLibrary *eant_StyleLibraryCreateDefaultWithOpacity(const Eevg_Color *color, Eerr_ErrorReport **err);
/* Drops the cached renderer styles of every list when the library is marked evaluated, and clears
   the mark (a failure leaves it set). Null is accepted. */
void eant_StyleLibraryClearEvaluatedStyles(Eant_StyleLibrary *library, Eerr_ErrorReport **err);
/* Prints the library's flags and names and every style it holds. */
void eant_StyleLibraryListPrint(const Eant_StyleLibrary *library, Eerr_ErrorReport **err);
/* Writes the library as the child nodeName of nodePath's node (or of the current node). */
void eant_StyleLibraryWrite(Eant_FileIO *fileIO, const char *nodePath, const char *nodeName,
                            Eant_StyleLibrary *library, Eerr_ErrorReport **err);
/* Reads the library node at nodePath into library or a new one; the given library's styles and
   description are replaced only when the read succeeds (it is returned unchanged otherwise). */
Eant_StyleLibrary *eant_StyleLibraryRead(Eant_FileIO *fileIO, const char *nodePath, Eant_StyleLibrary *library,
                                         Eerr_ErrorReport **err);
/* Move the arrays of a stored library object of design "StyleLibrary_Eant", "_1_", "_2_" or "_4_"
   into the library's lists, freeing the arrays. */
void eant_StyleLibraryCopyFromPrivate(void *privateStyleLib, Eant_StyleLibrary *library, Eerr_ErrorReport **err);
void eant_StyleLibraryCopyFromPrivate1(void *privateStyleLib, Eant_StyleLibrary *library,
                                       Eerr_ErrorReport **err);
void eant_StyleLibraryCopyFromPrivate2(void *privateStyleLib, Eant_StyleLibrary *library,
                                       Eerr_ErrorReport **err);
void eant_StyleLibraryCopyFromPrivate4(void *privateStyleLib, Eant_StyleLibrary *library,
                                       Eerr_ErrorReport **err);
/* Frees every library of the chain with library's fileNodeName, appends library and returns the
   chain's head. */
Eant_StyleLibrary *eant_StyleLibraryAddToList(Eant_StyleLibrary *list, Eant_StyleLibrary *library,
                                              Eerr_ErrorReport **err);
/* The loaded library of that fileNodeName, loaded on first use; owned by the package. */
Eant_StyleLibrary *eant_StyleLibraryListLookup(Eint_InitToolkitData *toolkit, const char *fileNodeName,
                                               Eerr_ErrorReport **err);
/* The library a style reference points into: library itself for a reference without a
   fileNodeName, else the loaded library of that name. */
Eant_StyleLibrary *eant_StyleLibraryGetFromStyle(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *library,
                                                 const Eant_Style *style, Eerr_ErrorReport **err);
Eant_StyleLibraryLayer *eant_StyleLibraryLayerCreate(Eerr_ErrorReport **err);
/* Frees the layer and its library; the file is not closed. */
void eant_StyleLibraryLayerFree(Eant_StyleLibraryLayer **layer);
/* Opens the library file named by fileNodeName on NORIX_STYLE_PATH ("r" closes it at once). */
Eant_StyleLibraryLayer *eant_StyleLibraryLayerOpen(Eint_InitToolkitData *toolkit, const char *fileNodeName,
                                                   const char *mode, Eerr_ErrorReport **err);
/* A layer for a library file to be written: the file is created when missing (the node then
   directly below the root), else opened for update, where the node's parent must exist and an
   existing node is refused unless overwrite is non-zero. The layer takes the library over (a new
   empty one when null); nothing is written until the layer is written or closed modified. */
Eant_StyleLibraryLayer *eant_StyleLibraryLayerNewOverwritable(Eint_InitToolkitData *toolkit, const char *fileNodeName,
                                                               Eant_StyleLibrary *library, int32_t overwrite,
                                                               Eerr_ErrorReport **err);
Eant_StyleLibraryLayer *eant_StyleLibraryLayerNew(Eint_InitToolkitData *toolkit, const char *fileNodeName,
                                                  Eant_StyleLibrary *library, Eerr_ErrorReport **err);
void eant_StyleLibraryLayerRead(Eant_StyleLibraryLayer *layer, Eerr_ErrorReport **err);
void eant_StyleLibraryLayerWrite(Eant_StyleLibraryLayer *layer, Eerr_ErrorReport **err);
/* Writes a modified library, closes the file and frees the layer. */
void eant_StyleLibraryLayerClose(Eant_StyleLibraryLayer *layer, Eerr_ErrorReport **err);
/* The library of the file named by fileNodeName, read through a read-only layer. */
Eant_StyleLibrary *eant_StyleLibraryOpenAndRead(Eint_InitToolkitData *toolkit, const char *fileNodeName,
                                                Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Selected styles */

Eant_SelectedStyles *eant_SelectedStylesCreate(Eerr_ErrorReport **err);
/* Copies every field but flags into target (made when null). */
Eant_SelectedStyles *eant_SelectedStylesCopy(const Eant_SelectedStyles *source, Eant_SelectedStyles *target,
                                             Eerr_ErrorReport **err);
void eant_SelectedStylesFree(Eant_SelectedStyles **styles);
/* Writes the styles as the new child "SelectedStyles" of nodePath's node (or the current node). */
void eant_SelectedStylesWrite(Eant_FileIO *fileIO, const char *nodePath, const Eant_SelectedStyles *styles,
                              Eerr_ErrorReport **err);
/* Reads the child "SelectedStyles" of nodePath's node (or the current node). */
Eant_SelectedStyles *eant_SelectedStylesRead(Eant_FileIO *fileIO, const char *nodePath,
                                             Eant_SelectedStyles *styles, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Symbol libraries and elements */

Eant_SymbolData *eant_SymbolDataCreate(Eerr_ErrorReport **err);
/* Frees the strings, the base reference, the element list and the record. */
void eant_SymbolDataFree(Eant_SymbolData **symbolData);
Eant_SymbolLibrary *eant_SymbolLibraryCreate(Eerr_ErrorReport **err);
/* Gives the library a new empty symbolDataList. */
void eant_SymbolLibraryInit(Eant_SymbolLibrary *library, Eerr_ErrorReport **err);
/* Frees the libraries chained behind library, then library with its style library, definitions
   and cached references (calling clientRelease when set); clears the pointer. */
void eant_SymbolLibraryFree(Eant_SymbolLibrary **library);

/* ---------------------------------------------------------------------------------------------
   The annotation header (the parts the element model needs) */

/* A header with empty strings, outputUnits 3, nextElement 0, no transforms, no box, version 4. */
Eant_AntHeader *eant_AntHeaderStructureCreate(Eerr_ErrorReport **err);
/* The same with an identity xformMatrix and a copy of it as ixformMatrix. */
Eant_AntHeader *eant_AntHeaderCreate(Eerr_ErrorReport **err);
/* Frees the strings, transforms, box and record; clears the pointer; null is ignored. */
void eant_AntHeaderFree(Eant_AntHeader **header);
/* Copies every field into target (made when null) but nextElement, which the copy sets to 0. */
Eant_AntHeader *eant_AntHeaderCopy(const Eant_AntHeader *source, Eant_AntHeader *target, Eerr_ErrorReport **err);
void eant_AntHeaderPrint(const Eant_AntHeader *header, Eerr_ErrorReport **err);
/* Writes the header as the child nodeName of nodePath's node (or of the current node), rewriting
   a child of that name; the written node is current afterwards and its time goes to modTime. */
void eant_AntHeaderWrite(Eant_FileIO *fileIO, const char *nodePath, const char *nodeName, Eant_AntHeader *header,
                         Eerr_ErrorReport **err);
/* Reads the header of the layer node at nodePath (or the current node) into header (emptied
   first) or a new one; items an older record lacks read as outputUnits 2; versionNumber is 4 and
   modTime the node's time. */
Eant_AntHeader *eant_AntHeaderRead(Eant_FileIO *fileIO, const char *nodePath, Eant_AntHeader *header,
                                   Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Boxes, transforms and polynomials. A corner box is a 2 x 4 f64 matrix of the corners (x0, y0),
   (x0, y1), (x1, y1), (x1, y0) of a rectangle that may be rotated; element and layer boxes are
   corner boxes in layer coordinates. An axis-aligned box is an Evec_Bbox (row 0 xmin, xmax; row
   1 ymin, ymax). */

/* The angle (radians, counter-clockwise), the lengths of the two linear columns and, returned as
   a new coordinate, the translation of a first-order 2-D polynomial. */
Eevg_Coord *eant_ParametersGetFromPolynomial(const Efga_Polynomial *polynomial, double *angle, double *xScale,
                                             double *yScale, Eerr_ErrorReport **err);
/* A new coordinate: the coordinate mapped by the polynomial. */
Eevg_Coord *eant_CoordTransform(const Eevg_Coord *coord, const Efga_Polynomial *polynomial, Eerr_ErrorReport **err);
/* A new transform applying the polynomial, then the transform (either may be null). */
_exfr_XForm *eant_AddXForm(const Efga_Polynomial *polynomial, const _exfr_XForm *transform, Eerr_ErrorReport **err);
/* The corners carried through the render transform (or copied without one) into output or a new
   matrix. The polynomial is not applied: stored corners are already in layer coordinates. */
Egda_BaseData *eant_GetRotatedBoundingBox(const Egda_BaseData *corners, const Efga_Polynomial *polynomial,
                                          const _exfr_XForm *transform, Egda_BaseData *output,
                                          Eerr_ErrorReport **err);
/* The axis-aligned box of the corners carried through the render transform, into box or a new
   one; work (2 x 4, or null) receives the carried corners. */
Evec_Bbox *eant_GetBoundingBox(const Egda_BaseData *corners, Egda_BaseData *work, const Efga_Polynomial *polynomial,
                               const _exfr_XForm *transform, Evec_Bbox *box, Eerr_ErrorReport **err);
/* A new box covering both boxes. */
Evec_Bbox *eant_BoundingBoxUnion(const Evec_Bbox *a, const Evec_Bbox *b, Eerr_ErrorReport **err);
/* The corners of the box of every part of the block, into corners (2 x 4) or a new matrix. */
Egda_BaseData *eant_GetBboxFromCoordBlock(const Efga_CoordinateBlock *block, Egda_BaseData *corners,
                                          Eerr_ErrorReport **err);
/* The corners turned and moved so that they form an axis-aligned box centred on the origin (a new
   matrix); the angle of the edge from corner 1 to corner 2 and the centre go to the out values. */
Egda_BaseData *eant_OrthoBboxAtOrigin(const Egda_BaseData *corners, double *angle, double *centreX,
                                      double *centreY, Eerr_ErrorReport **err);
/* The corners rotated by angle about the origin, then moved by (dx, dy), into output (reused when
   it is 2 x 4; deleted when it is of another shape) or a new matrix. */
Egda_BaseData *eant_RotateAndTranslateBbox(const Egda_BaseData *corners, double angle, double dx, double dy,
                                           Egda_BaseData *output, Eerr_ErrorReport **err);

/* Element boxes: the stored corners carried through the render transform (a new matrix), their
   axis-aligned box (new), the box the type computes afresh without storing it (new), and the
   type's fresh corners stored as the element's box (children first), which also grows the layer
   box. */
Egda_BaseData *eant_ElementRotatedBoundingBoxGet(Eant_Element *element, const _exfr_XForm *transform,
                                                 Eerr_ErrorReport **err);
Evec_Bbox *eant_ElementBoundingBoxGet(Eant_Element *element, const _exfr_XForm *transform, Eerr_ErrorReport **err);
Evec_Bbox *eant_ElementBoundingBoxCalculateNoSave(Eant_Element *element, _exfr_XForm *transform,
                                                  Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
void eant_ElementBboxComputeAndReset(Eant_Element *element, Eant_CoordSysConversion *conversion,
                                     Eerr_ErrorReport **err);
/* The same over the top-level elements of a list: the union of the stored boxes (new), every box
   recomputed and stored and then their union (new), every box recomputed and stored, the union
   of the fresh boxes without storing (new). */
Evec_Bbox *eant_ElementListBoundingBoxGet(Eant_Element *list, Eerr_ErrorReport **err);
Evec_Bbox *eant_ElementListBoundingBoxCompute(Eant_Element *list, Eant_CoordSysConversion *conversion,
                                              Eerr_ErrorReport **err);
void eant_ElementListBboxComputeAndReset(Eant_Element *list, Eant_CoordSysConversion *conversion,
                                         Eerr_ErrorReport **err);
Evec_Bbox *eant_ElementListBoundingBoxCalculateNoSave(Eant_Element *list, _exfr_XForm *transform,
                                                      Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   The layer box and the measuring drawing */

/* A new box around the header's corners carried through the render transform. */
Evec_Bbox *eant_GetAntBoundingBox(Eant_AnnotationInfo *info, const _exfr_XForm *transform, Eerr_ErrorReport **err);
/* Stores the box as the layer box (a missing header is created); the modified flag stays. */
void eant_SetAntBoundingBox(Eant_AnnotationInfo *info, const Evec_Bbox *box, Eerr_ErrorReport **err);
/* Recomputes every element's box and the layer box ((0, 0)-(0, 0) without elements). */
void eant_ComputeAntBoundingBox(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion,
                                Eerr_ErrorReport **err);
/* Grows the layer box to hold the element's box and marks the info modified; a null info does
   nothing. */
void eant_AntBoundingBoxUpdateByElement(Eant_AnnotationInfo *info, Eant_Element *element, Eerr_ErrorReport **err);
/* Gives the info its measuring drawing (sized from the layer box) unless it has one; without a
   control record the renderer's is taken and kept. */
void eant_GetFakeEevgDrawing(Eant_AnnotationInfo *info, Eevg_Control *control, Eerr_ErrorReport **err);
/* Makes sure number 0 of every kind exists: gives the info a style library when it has none and
   adds to each empty list of it the kind's default (a black colour, the default line, fill and text
   styles, in that order), and gives the info a symbol library when it has none. The first failure
   ends it; what was added before stays. (The default symbol definition comes with the symbol
   element.) */
void eant_LibrariesValidate(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Elements: the per-type dispatchers. Each calls its slot of the element's type table. A null
   element is reported (code 1), a failing slot too (code 2, "Error returned from <slot>"); a
   missing slot is reported (code 3, "Invalid <slot> function for input element") except by the
   style and symbol setters, selectors and copiers, which leave such an element as it is. */

Eant_Element *eant_ElementCopyElement(Eant_Element *element, Eant_Element *target, Eerr_ErrorReport **err);
void eant_ElementPrintElement(Eant_Element *element, Eerr_ErrorReport **err);
void eant_ElementRenderElement(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *symbols,
                               Eant_Criteria *criteria, Eevg_Drawing *drawing, Eant_Element *element,
                               _exfr_XForm *transform, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
/* Frees an element through its type's free slot; nothing happens without one. */
void eant_ElementFreeElement(Eant_Element **element);
void eant_ElementWriteElement(Eant_FileIO *fileIO, const char *nodePath, int32_t position, Eant_Element *element,
                              Eerr_ErrorReport **err);
int32_t eant_ElementCoordInElement(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles,
                                   Eant_SymbolLibrary *symbols, Eant_Criteria *criteria, Eant_Element *element,
                                   _exfr_XForm *transform, Eant_CoordSysConversion *conversion, Egda_BaseData *coord,
                                   Eerr_ErrorReport **err);
void eant_ElementSetLineStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                              Eerr_ErrorReport **err);
void eant_ElementSetLineStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                           Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
void eant_ElementSetFillStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                              Eerr_ErrorReport **err);
void eant_ElementSetFillStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                           Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
void eant_ElementSetTextStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number, double height,
                              const char *heightUnits, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
void eant_ElementSetTextStyleAndHeight(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                       double height, Eant_CoordDefinition *heightUnits,
                                       Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
void eant_ElementSetSymbolData(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number, double scale,
                               Eant_CoordDefinition *scaleUnits, int32_t overrideFlag, int32_t overrideColor,
                               Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
Egda_BaseData *eant_ElementCalculateBbox(Eant_Element *element, _exfr_XForm *transform,
                                         Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
void eant_ElementSelectStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                             Eant_StyleUpdateFunction update, void *updateData, Eerr_ErrorReport **err);
void eant_ElementCopyStyle(Eant_Element *element, Eant_StyleLibrary *from, Eant_StyleLibrary *to,
                           Eerr_ErrorReport **err);
void eant_ElementCopySymbolData(Eant_Element *element, Eant_SymbolLibrary *from, Eant_SymbolLibrary *to,
                                Eerr_ErrorReport **err);
void eant_ElementUpdateInfo(Eant_Element *element, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
void eant_ElementReplaceElementValues(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err);
void eant_ElementConvertToMap(Eant_Element *element, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
void eant_ElementTransformMap(Eant_Element *element, _exfr_XForm *transform, Eant_CoordSysConversion *from,
                              Eant_CoordSysConversion *to, const char *mapUnits, Eant_ProgressInfo *progress,
                              Eerr_ErrorReport **err);
void eant_ElementIncrementCount(Eant_Element *element, Eant_ElementInfo *counts, Eerr_ErrorReport **err);
const char *eant_ElementGetTypeString(Eant_Element *element, Eerr_ErrorReport **err);
int32_t eant_ElementCanBeFlipped(Eant_Element *element, Eerr_ErrorReport **err);
/* The type's flip, or eant_ElementUpdateByPoly with the polynomial when the type has none. */
void eant_ElementFlip(Eant_AnnotationInfo *info, Eant_Element *element, Eant_CoordSysConversion *conversion,
                      void *flipData, Efga_Polynomial *polynomial, Eerr_ErrorReport **err);
/* The type's answer (a style-kind code); 0 when the type has no such slot or the slot fails. */
int32_t eant_ElementSelectSingleStyleOnly(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                                          Eerr_ErrorReport **err);
/* The type's box computed with the drawing, or its plain box when it has no such slot. */
Egda_BaseData *eant_ElementCalculateBboxWithDrawing(Eant_Element *element, _exfr_XForm *transform,
                                                    Eant_CoordSysConversion *conversion, Eevg_Drawing *drawing,
                                                    Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Elements: the common part */

/* A new element with identity transforms; with a header in info its id is the header's
   nextElement (then incremented) and its name "Element_<id>", else id 0 and an empty name. */
Eant_Element *eant_ElementCreate(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
/* Copies the common part (not links, type record or attributeRecordNumber) into target or a new
   element (which consumes an identifier); a negative source id leaves the target's. */
Eant_Element *eant_ElementCopy(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err);
/* Copies the common part into target, id whatever its sign, formerNext and rowNumber included;
   links, type record and attributeRecordNumber stay. */
void eant_ElementReplaceValues(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err);
/* A new element holding the element's values (through its type's replaceValues). */
Eant_Element *eant_ElementBackup(Eant_Element *element, Eerr_ErrorReport **err);
/* Puts the backup's values back into the element (through its type's replaceValues). */
void eant_ElementRestore(Eant_Element *backup, Eant_Element *element, Eerr_ErrorReport **err);
/* Frees the common part of an element (not its type record, children or neighbours) and clears
   the pointer. */
void eant_ElementFree(Eant_Element **element);
void eant_ElementPrint(Eant_Element *element, Eerr_ErrorReport **err);
void eant_ElementSetName(Eant_Element *element, const char *name, Eerr_ErrorReport **err);
void eant_ElementSetDescription(Eant_Element *element, const char *description, Eerr_ErrorReport **err);
void eant_ElementSetID(Eant_Element *element, int32_t id, Eerr_ErrorReport **err);
/* Sets the position units, then the scale units, to the system and units name. */
void eant_ElementSetUnits(Eant_Element *element, int32_t coordSys, const char *units, Eerr_ErrorReport **err);
/* Both transforms become identity polynomials. */
void eant_ElementInitXformMatrix(Eant_Element *element, Eerr_ErrorReport **err);
/* Copies the polynomial into xformMatrix and its inverse into ixformMatrix; returns the inverse. */
Efga_Polynomial *eant_ElementSetXformMatrix(Eant_Element *element, const Efga_Polynomial *polynomial,
                                            Eerr_ErrorReport **err);
/* The four corners of the element's box. */
void eant_ElementSetBBox(Eant_Element *element, double x0, double y0, double x1, double y1, double x2, double y2,
                         double x3, double y3, Eerr_ErrorReport **err);
/* Unlinks the element from its list and links it next to reference (ellm_Add's position code). */
void eant_ElementPosition(Eant_Element *element, Eant_Element *reference, int32_t position, Eerr_ErrorReport **err);
/* 1 when the element holds text with database fields (a group: when one of its children does). */
int32_t eant_ElementCheckForSmartData(Eant_Element *element, Eerr_ErrorReport **err);
/* The first top-level element of the info with that id. */
Eant_Element *eant_ElementFindTopLevelByID(Eant_AnnotationInfo *info, int32_t id, Eerr_ErrorReport **err);
Eant_Element *eant_GetNextElement(Eant_Element *element, Eerr_ErrorReport **err);
/* A table of 27 null slots (freed with emsc_HeapFree). */
Eant_ElementFunctions *eant_ElementFunctionsCreate(Eerr_ErrorReport **err);
Eant_ElementInfo *eant_ElementInfoCreate(Eerr_ErrorReport **err);
void eant_ElementInfoFree(Eant_ElementInfo **counts);

/* ---------------------------------------------------------------------------------------------
   Editing elements */

/* The mirroring of eant_ElementFlipAboutCenter, handed unchanged to the type's flip: 1 mirrors
   that axis (flipX: left and right), any other value leaves it. */
typedef struct Eant_FlipData {
  int32_t flipX;
  int32_t flipY;
} Eant_FlipData;

/* What eant_ElementAlignNorth needs: the transform from layer coordinates into those of
   mapProjection, the two projections of eprj_ComputeNorthAngleFromXAxis (north is where the y
   coordinate of northProjection grows) and an angle (radians) added to the north angle. */
typedef struct Eant_NorthData {
  _exfr_XForm *toGeographic;
  const Eprj_ProParameters *mapProjection;
  const Eprj_ProParameters *northProjection;
  double angleOffset;
} Eant_NorthData;

/* Composes the polynomial into the element's transform (the inverse refreshed) and carries its
   stored corners by it; a group with children moves them instead. With an info, the layer box
   grows, the moved and modified callbacks run, a transformation undo record is pushed when the
   info's undoFlag is 1, and the info is marked modified. Without one only the element changes. */
void eant_ElementUpdateByPoly(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, Eant_Element *element,
                              Efga_Polynomial *polynomial, Eerr_ErrorReport **err);
/* The same with the box recomputed by the type instead of carried. */
void eant_ElementUpdateByPolyAndRecalcBbox(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion,
                                           Eant_Element *element, Efga_Polynomial *polynomial,
                                           Eerr_ErrorReport **err);
/* A group's step: the children move (each through the whole step), the group's corners become the
   box of theirs and, with an info, its moved and modified callbacks run (undoFlag 1: its values
   before the move are recorded as a modification). */
void eant_GroupElementUpdateByPoly(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion,
                                   Eant_Element *group, Efga_Polynomial *polynomial, Eerr_ErrorReport **err);
void eant_GroupElementUpdateByPolyAndRecalcBbox(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion,
                                                Eant_Element *group, Efga_Polynomial *polynomial,
                                                Eerr_ErrorReport **err);
/* The step on every top-level element; the first failure stops the walk. */
void eant_ElementListUpdateByPoly(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, Eant_Element *list,
                                  Efga_Polynomial *polynomial, Eerr_ErrorReport **err);
void eant_ElementListUpdateByPolyAndRecalcBbox(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion,
                                               Eant_Element *list, Efga_Polynomial *polynomial,
                                               Eerr_ErrorReport **err);
/* Turns the element about the centre of its corners so that its up direction (corner 0 to corner
   1) points north (plus the offset). */
void eant_ElementAlignNorth(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, Eant_Element *element,
                            const Eant_NorthData *north, Eerr_ErrorReport **err);
/* Mirrors the element about the centre of its axis-aligned box through eant_ElementFlip. */
void eant_ElementFlipAboutCenter(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, Eant_Element *element,
                                 const Eant_FlipData *flipData, Eerr_ErrorReport **err);
/* 1 when every top-level element can be flipped (an empty list: 1); 0 otherwise or on failure. */
int32_t eant_ElementListCanBeFlipped(Eant_Element *list, Eerr_ErrorReport **err);
/* eant_ElementFlip on every top-level element with the same polynomial. */
void eant_ElementListFlip(Eant_AnnotationInfo *info, Eant_Element *list, Eant_CoordSysConversion *conversion,
                          void *flipData, Efga_Polynomial *polynomial, Eerr_ErrorReport **err);
/* The convertToMap slot of every top-level element. */
void eant_ElementListConvertToMap(Eant_Element *list, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
/* The transformMap slot of every top-level element (groups pass the progress record on to their
   children). With a progress record every element counts in done, and its callback runs when done
   is a multiple of ceil(total / 100), with the percentage done; a total below 1 counts as 1. */
void eant_ElementListTransformMap(Eant_Element *list, _exfr_XForm *transform, Eant_CoordSysConversion *from,
                                  Eant_CoordSysConversion *to, const char *mapUnits, Eant_ProgressInfo *progress,
                                  Eerr_ErrorReport **err);
/* The element's updateInfo slot, then every value of its stored box converted between the units. */
void eant_ElementBoundingBoxUnitsConvert(Eant_Element *element, Eant_CoordSysConversion *conversion,
                                         const char *fromUnits, const char *toUnits, Eerr_ErrorReport **err);
/* The same on every element and its children, depth first, with the progress of the map
   transform. */
void eant_ElementListBoundingBoxUnitsConvert(Eant_Element *list, Eant_CoordSysConversion *conversion,
                                             const char *fromUnits, const char *toUnits, Eant_ProgressInfo *progress,
                                             Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Element lists: a list is its first element (null when empty), chained through next and
   previous; the children of a group hang from its child. */

/* The first element whose name equals name. */
Eant_Element *eant_ElementListLookup(Eant_Element *list, Eant_CharStr name, Eerr_ErrorReport **err);
void eant_ElementListPrint(Eant_Element *list, Eerr_ErrorReport **err);
/* The elements of the list and of all child lists. */
int32_t eant_ElementListCount(Eant_Element *list, Eerr_ErrorReport **err);
int32_t eant_ElementListCheckForSmartData(Eant_Element *list, Eerr_ErrorReport **err);
/* A new record counting the top-level elements by kind. */
Eant_ElementInfo *eant_ElementListGetElementInfo(Eant_Element *list, Eerr_ErrorReport **err);
void eant_ElementListCopyStyleBetweenLibs(Eant_Element *list, Eant_StyleLibrary *from, Eant_StyleLibrary *to,
                                          Eerr_ErrorReport **err);
void eant_ElementListCopySymbolDataBetweenLibs(Eant_Element *list, Eant_SymbolLibrary *from, Eant_SymbolLibrary *to,
                                               Eerr_ErrorReport **err);
void eant_ElementListUpdateInfo(Eant_Element *list, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
/* Every element of the list and of its child lists gets the id. */
void eant_ElementListSetIDs(Eant_Element *list, int32_t id, Eerr_ErrorReport **err);
/* Numbers the elements in preorder (an element, its children, its next sibling) from first;
   returns the next free identifier. */
int32_t eant_ElementListMakeUniqueIDs(Eant_Element *list, int32_t first, Eerr_ErrorReport **err);
void eant_ElementListSetUnits(Eant_Element *list, int32_t coordSys, const char *units, Eerr_ErrorReport **err);
void eant_ElementListReplaceAntInfo(Eant_Element *list, Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
void eant_ElementListReplaceSymbolLib(Eant_Element *list, Eant_SymbolLibrary *library, Eerr_ErrorReport **err);
/* Frees every element of the list through its type and clears the pointer. */
void eant_ElementListFree(Eant_Element **list);
/* Frees the list target holds and returns a copy of source made through the types. */
Eant_Element *eant_ElementListCopy(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err);
/* Draws every top-level element that passes the criteria. */
void eant_ElementListRender(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *symbols,
                            Eant_Criteria *criteria, Eant_Element *list, _exfr_XForm *transform,
                            Eant_CoordSysConversion *conversion, Eevg_Drawing *drawing, Eerr_ErrorReport **err);
/* Visits at most renderData->budget elements, depth first, drawing those that pass the criteria
   (a group's children one by one); 1 when the walk is complete (or failed), 0 when more is left. */
int32_t eant_ElementListRenderIncremental(Eint_InitToolkitData *toolkit, Eant_RenderData *renderData,
                                          Eant_StyleLibrary *styles, Eant_SymbolLibrary *symbols,
                                          Eant_Criteria *criteria, _exfr_XForm *transform,
                                          Eant_CoordSysConversion *conversion, Eevg_Drawing *drawing,
                                          Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Element storage. An element is an entry "AntElement_<id>" of design "Element_2_Eant" (layers of
   version 0 and 1: "Element_Eant") with its type's entries below it; a list stored as a whole
   sits below a node "ElementList" or "SymbolElementList" of design "ElementNode_Eant". */

#define EANT_ELEMENTLIST 0
#define EANT_SYMBOLELEMENTLIST 1

/* Writes the common part at the relation code's place (a type's write slot calls it first). */
void eant_ElementWrite(Eant_FileIO *fileIO, const char *nodePath, int32_t position, Eant_Element *element,
                       Eerr_ErrorReport **err);
/* Reads the common part into element (emptied first) or a new bare element. */
Eant_Element *eant_ElementRead(Eant_AnnotationInfo *info, Eant_FileIO *fileIO, const char *nodePath,
                               int32_t position, Eant_Element *element, Eerr_ErrorReport **err);
/* Writes the elements through their types, the first at the code's place, each next one as the
   next sibling of the one before; asks for a user interrupt after every element. */
void eant_ElementListWrite(Eant_FileIO *fileIO, const char *nodePath, int32_t position, Eant_Element *list,
                           Eerr_ErrorReport **err);
/* Reads the elements from the code's place through the readers of their types. An element record
   that cannot be read fails the read with a report naming the element (its place in the list and
   its entry); with EANT_FILEIO_KEEP_READ_ELEMENTS in the file I/O record's reserved word it ends
   the list instead, and the elements before it are returned with a warning (severity 1) naming it. */
Eant_Element *eant_ElementListRead(Eant_AnnotationInfo *info, Eant_FileIO *fileIO, const char *nodePath,
                                   int32_t position, Eerr_ErrorReport **err);
/* Writes the list node (EANT_ELEMENTLIST or EANT_SYMBOLELEMENTLIST) as a new child of nodePath's
   node or the current one, and reads it (a missing node is reported as a warning, severity 1). */
void eant_ElementNodeWrite(Eant_FileIO *fileIO, const char *nodePath, int32_t nodeType, Eerr_ErrorReport **err);
void eant_ElementNodeRead(Eant_FileIO *fileIO, const char *nodePath, int32_t nodeType, Eerr_ErrorReport **err);
/* The list node and the list as its children; an empty list writes nothing (a warning). */
void eant_ElementNodeAndListWrite(Eant_FileIO *fileIO, const char *nodePath, int32_t nodeType, const char *name,
                                  Eant_Element *list, Eerr_ErrorReport **err);
/* The list below the list node; a missing node gives null with a warning, an empty or damaged
   node fails. The node's parent is current afterwards. */
Eant_Element *eant_ElementNodeAndListRead(Eant_AnnotationInfo *info, Eant_FileIO *fileIO, const char *nodePath,
                                          int32_t nodeType, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Element keywords: one numbering for the SetValues lists of every element type, each keyword
   followed by its values, 0 ending the list. Codes 1 to 6 serve every type; a type refuses the
   codes that are not its own with its own message. */
typedef enum {
  EANT_ELEMKEY_END = 0,
  EANT_ELEMKEY_NAME = 1,              /* text */
  EANT_ELEMKEY_DESCRIPTION = 2,       /* text */
  EANT_ELEMKEY_XFORMMATRIX = 3,       /* Efga_Polynomial * (copied, with its inverse) */
  EANT_ELEMKEY_BBOX = 4,              /* eight doubles: x and y of four corners */
  EANT_ELEMKEY_SCALEUNITS = 5,        /* 32-bit coordinate system, text units name */
  EANT_ELEMKEY_POSITIONUNITS = 6,     /* 32-bit coordinate system, text units name */
  EANT_ELEMKEY_LINESTYLE = 7,         /* 32-bit line-style number (polyline, point) */
  EANT_ELEMKEY_FILLSTYLE = 8,         /* 32-bit fill-style number (polygon ...) */
  EANT_ELEMKEY_TEXTSTYLE = 9,         /* 32-bit text-style number (text) */
  EANT_ELEMKEY_LINESTYLEBYSTYLE = 10, /* Eant_Style * (polyline, point) */
  EANT_ELEMKEY_FILLSTYLEBYSTYLE = 11, /* Eant_Style * (polygon ...) */
  EANT_ELEMKEY_TEXTSTYLEBYSTYLE = 12, /* Eant_Style * (text) */
  EANT_ELEMKEY_POLYGONCOORDS = 19,    /* 32-bit source, Efga_CoordinateBlock * (copied) */
  EANT_ELEMKEY_POLYLINECOORDS = 20,   /* 32-bit source, Efga_CoordinateBlock * (copied) */
  EANT_ELEMKEY_POINTCOORD = 21,       /* 32-bit source, Efga_CoordinateBlock * (copied) */
  EANT_ELEMKEY_TEXTORIGIN = 26,       /* two doubles x, y (text) */
  EANT_ELEMKEY_TEXTORIENTATION = 27,  /* double, radians (text) */
  EANT_ELEMKEY_TEXTSCALE = 28,        /* double height (text) */
  EANT_ELEMKEY_TEXTALIGNMENT = 29,    /* 32-bit xalign, 32-bit yalign (text) */
  EANT_ELEMKEY_TEXT = 30,             /* 32-bit source, 8-bit text (text) */
  EANT_ELEMKEY_UCTEXT = 31,           /* 32-bit source, UTF-16 text (text) */
  EANT_ELEMKEY_CHILDREN = 39,         /* Eant_Element *, the first of a list the group takes over */
  EANT_ELEMKEY_TEXTCOORDS = 86        /* 32-bit source, Efga_CoordinateBlock * (copied; text) */
} Eant_ElementKeyword;

/* ---------------------------------------------------------------------------------------------
   Vector data: the coordinates of the vertex elements (one block part per line, ring or group
   of points). Only local data (held in the record) is supported. */

typedef enum { EANT_LOCAL = 0, EANT_VECTORDATA = 1, EANT_DESCRIPTORDATA = 2 } Eant_VectorDataSource;

typedef struct Eant_VectorData {
  int32_t source; /* Eant_VectorDataSource */
  Efga_CoordinateBlock *coords; /* owned; may be null */
  int32_t smooth; /* kept for the stored form */
} Eant_VectorData;

Eant_VectorData *eant_VectorDataCreate(Eerr_ErrorReport **err);
void eant_VectorDataFree(Eant_VectorData **data);
/* Stores a copy of the block (the caller keeps its own). */
void eant_VectorDataSet(Eant_VectorData *data, int32_t source, const Efga_CoordinateBlock *block,
                        Eerr_ErrorReport **err);
/* The coordinates carried through the transform (null: copied) into block or a new block; the
   caller owns the result. */
Efga_CoordinateBlock *eant_VectorDataGet(Eant_VectorData *data, _exfr_XForm *xform, Efga_CoordinateBlock *block,
                                         Eerr_ErrorReport **err);
/* Source and coordinates (not smooth) into target or a new record. */
Eant_VectorData *eant_VectorDataCopy(const Eant_VectorData *source, Eant_VectorData *target,
                                     Eerr_ErrorReport **err);
void eant_VectorDataPrint(const Eant_VectorData *data, Eerr_ErrorReport **err);
/* The stored forms ("VectorData_Eant", "VectorData_2_Eant"): {source, count, array of matrix
   headers[, smooth]}. The writer's form shares the block's values (free its array, then it); the
   readers' records take the reader's array over, which their block frees once. */
void *eant_VectorDataCopyToPrivate(const Eant_VectorData *data, Eerr_ErrorReport **err);
Eant_VectorData *eant_VectorDataCopyFromPrivate(void *stored, Eerr_ErrorReport **err);
Eant_VectorData *eant_VectorDataCopyFromPrivate2(void *stored, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Polyline (EANT_POLYLINE), polygon (EANT_POLYGON) and point (EANT_POINT) elements: a style
   number of the layer's style library (-1: none) and the vector data, in the element's position
   units before its transform. */

typedef struct Eant_Polyline {
  uint32_t flags;
  int32_t lineStyle;
  Eant_VectorData *coords;
} Eant_Polyline;

typedef struct Eant_Polygon {
  uint32_t flags;
  int32_t fillStyle;
  Eant_VectorData *coords;
} Eant_Polygon;

typedef struct Eant_Point {
  uint32_t flags;
  int32_t lineStyle;
  Eant_VectorData *coord;
} Eant_Point;

/* The operations of each vertex type, with Kind the type's name and Record its record. */
#define EANT_VERTEX_TYPE(Kind, Record)                                                                       \
  Record *eant_##Kind##Create(Eerr_ErrorReport **err);                                                        \
  void eant_##Kind##Free(Record **record);                                                                   \
  Record *eant_##Kind##Copy(const Record *source, Record *target, Eerr_ErrorReport **err);                    \
  void eant_##Kind##Print(const Record *record, Eerr_ErrorReport **err);                                     \
  void eant_##Kind##Write(Eant_FileIO *fileIO, const Record *record, Eerr_ErrorReport **err);                \
  Record *eant_##Kind##Read(Eant_FileIO *fileIO, Record *record, Eerr_ErrorReport **err);                    \
  Eant_Element *eant_##Kind##ElementCreate(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);                \
  Eant_Element *eant_##Kind##ElementSetValues(Eant_AnnotationInfo *info, Eant_Element *element,              \
                                              Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err, ...); \
  void eant_##Kind##ElementFree(Eant_Element **element);                                                     \
  int32_t eant_##Kind##ElementGetStyle(Eant_Element *element, Eerr_ErrorReport **err);                       \
  Efga_CoordinateBlock *eant_Get##Kind##MapVectorData(Eant_Element *element, _exfr_XForm *xform,              \
                                                      Eant_CoordSysConversion *conversion,                    \
                                                      Efga_CoordinateBlock *block, Eerr_ErrorReport **err);   \
  Efga_CoordinateBlock *eant_##Kind##GetVectorData(Eant_Element *element, _exfr_XForm *xform,                 \
                                                   Eant_CoordSysConversion *conversion,                       \
                                                   Efga_CoordinateBlock *block, Eerr_ErrorReport **err);      \
  void eant_##Kind##ElementReplaceVectorDataElement(Eant_Element *element, Eant_CoordSysConversion *conversion, \
                                                    Egda_BaseData *part, int32_t index, Eerr_ErrorReport **err); \
  void eant_##Kind##ElementRead(Eant_AnnotationInfo *info, Eant_FileIO *fileIO, Eant_Element *element,       \
                                Eerr_ErrorReport **err);                                                      \
  Eant_Element *eant_##Kind##ElementCopy(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err); \
  void eant_##Kind##ElementPrint(Eant_Element *element, Eerr_ErrorReport **err);                             \
  void eant_##Kind##ElementRender(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles,                  \
                                  Eant_SymbolLibrary *symbols, Eant_Criteria *criteria, Eevg_Drawing *drawing, \
                                  Eant_Element *element, _exfr_XForm *xform, Eant_CoordSysConversion *conversion, \
                                  Eerr_ErrorReport **err);                                                    \
  void eant_##Kind##ElementWrite(Eant_FileIO *fileIO, const char *nodePath, int32_t position,                \
                                 Eant_Element *element, Eerr_ErrorReport **err);                              \
  int32_t eant_CoordIn##Kind##Element(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles,              \
                                      Eant_SymbolLibrary *symbols, Eant_Criteria *criteria,                   \
                                      Eant_Element *element, _exfr_XForm *xform,                              \
                                      Eant_CoordSysConversion *conversion, Egda_BaseData *coord,              \
                                      Eerr_ErrorReport **err);                                                \
  Egda_BaseData *eant_##Kind##ElementBboxCalculateNoSave(Eant_Element *element, _exfr_XForm *xform,         \
                                                         Eant_CoordSysConversion *conversion,                 \
                                                         Eerr_ErrorReport **err);                             \
  void eant_##Kind##ElementCopyStyleBetweenLibs(Eant_Element *element, Eant_StyleLibrary *from,              \
                                                Eant_StyleLibrary *to, Eerr_ErrorReport **err);               \
  void eant_##Kind##ElementUpdateInfo(Eant_Element *element, Eant_CoordSysConversion *conversion,            \
                                      Eerr_ErrorReport **err);                                                \
  void eant_##Kind##ElementReplaceValues(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err); \
  void eant_##Kind##ElementConvertToMap(Eant_Element *element, Eant_CoordSysConversion *conversion,          \
                                        Eerr_ErrorReport **err);                                              \
  void eant_##Kind##ElementTransformMap(Eant_Element *element, _exfr_XForm *xform, Eant_CoordSysConversion *from, \
                                        Eant_CoordSysConversion *to, const char *mapUnits,                    \
                                        Eant_ProgressInfo *progress, Eerr_ErrorReport **err);                 \
  void eant_##Kind##ElementIncrementCount(Eant_Element *element, Eant_ElementInfo *counts,                   \
                                          Eerr_ErrorReport **err);                                            \
  const char *eant_##Kind##ElementGetTypeString(Eant_Element *element, Eerr_ErrorReport **err);              \
  int32_t eant_##Kind##ElementCanBeFlipped(Eant_Element *element, Eerr_ErrorReport **err);

EANT_VERTEX_TYPE(Polyline, Eant_Polyline)
EANT_VERTEX_TYPE(Polygon, Eant_Polygon)
EANT_VERTEX_TYPE(Point, Eant_Point)
#undef EANT_VERTEX_TYPE

/* Style setters: the number (its use count raised by one when info is given), a style reference
   made a number of the layer's own library, and the reference with the box recomputed and the
   callbacks fired. Style selection makes the element's style current; the Only form returns the
   kind of style made current (2 line, 4 fill), 0 on failure. */
void eant_PolylineElementSetLineStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                      Eerr_ErrorReport **err);
void eant_PolylineElementSetLineStyleByStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                                             Eerr_ErrorReport **err);
void eant_PolylineElementSetLineStyleByStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element,
                                                          Eant_Style *style, Eant_CoordSysConversion *conversion,
                                                          Eerr_ErrorReport **err);
void eant_PolylineElementSetCoords(Eant_Element *element, int32_t source, const Efga_CoordinateBlock *block,
                                   Eerr_ErrorReport **err);
void eant_PolylineElementSelectLineStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                                         Eant_StyleUpdateFunction update, void *updateData, Eerr_ErrorReport **err);
int32_t eant_PolylineElementSelectLineStyleOnly(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                                                Eerr_ErrorReport **err);
void eant_PolygonElementSetFillStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                     Eerr_ErrorReport **err);
void eant_PolygonElementSetFillStyleByStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                                            Eerr_ErrorReport **err);
void eant_PolygonElementSetFillStyleByStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element,
                                                         Eant_Style *style, Eant_CoordSysConversion *conversion,
                                                         Eerr_ErrorReport **err);
void eant_PolygonElementSetCoords(Eant_Element *element, int32_t source, const Efga_CoordinateBlock *block,
                                  Eerr_ErrorReport **err);
void eant_PolygonElementSelectFillStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                                        Eant_StyleUpdateFunction update, void *updateData, Eerr_ErrorReport **err);
int32_t eant_PolygonElementSelectFillStyleOnly(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                                               Eerr_ErrorReport **err);
void eant_PointElementSetLineStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                   Eerr_ErrorReport **err);
void eant_PointElementSetLineStyleByStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                                          Eerr_ErrorReport **err);
void eant_PointElementSetLineStyleByStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element,
                                                       Eant_Style *style, Eant_CoordSysConversion *conversion,
                                                       Eerr_ErrorReport **err);
void eant_PointElementSetCoord(Eant_Element *element, int32_t source, const Efga_CoordinateBlock *block,
                               Eerr_ErrorReport **err);
void eant_PointElementSelectLineStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                                      Eant_StyleUpdateFunction update, void *updateData, Eerr_ErrorReport **err);
int32_t eant_PointElementSelectLineStyleOnly(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                                             Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Text data and meta strings. The UTF-16 string of a text may hold database fields: a name
   between 0xFFAB and 0xFFBB (a backslash makes the unit after it literal). Parsing gives a list
   of nodes; evaluation replaces each field by its value in the current row of the current DBI
   data. Only local text (EANT_LOCAL) is supported. */

#define EANT_FIELD_OPEN 0xFFABu
#define EANT_FIELD_CLOSE 0xFFBBu

typedef enum { EANT_METASTRING_LITERAL = 0, EANT_METASTRING_FIELD = 1 } Eant_MetaStringType;

typedef struct Eant_MetaStringData {
  struct Eant_MetaStringData *next; /* first, so that the address of a list head frees as a node */
  int32_t type;                     /* Eant_MetaStringType */
  char16_t *string;                 /* owned: the literal text or the field name */
  int32_t column;                   /* -1 until a field is evaluated */
} Eant_MetaStringData;

typedef struct Eant_TextData {
  int32_t source;          /* Eant_VectorDataSource; always EANT_LOCAL in use */
  Eant_UnicodeStr string;  /* owned */
  Eant_MetaStringData *metaStringList; /* owned; null while not parsed */
} Eant_TextData;

Eant_TextData *eant_TextDataCreate(Eerr_ErrorReport **err);
void eant_TextDataFree(Eant_TextData **data);
Eant_TextData *eant_TextDataCopy(const Eant_TextData *source, Eant_TextData *target, Eerr_ErrorReport **err);
void eant_TextDataPrint(const Eant_TextData *data, Eerr_ErrorReport **err);
/* A copy of the text (null: empty) becomes the string; parseFlag 1 parses it at once. */
void eant_TextDataSetWithParseFlag(Eant_TextData *data, int32_t source, const char16_t *text, int32_t parseFlag,
                                   Eerr_ErrorReport **err);
void eant_TextDataSet(Eant_TextData *data, int32_t source, const char16_t *text, Eerr_ErrorReport **err);
void eant_TextDataSetupString(Eant_TextData *data, Eerr_ErrorReport **err);
/* A new heap copy of the stored string (delimiters included); the evaluated form fills the fields
   from the current DBI data when it has both callbacks. */
char16_t *eant_TextDataGet(const Eant_TextData *data, Eerr_ErrorReport **err);
char16_t *eant_TextDataEvaluatedGet(const Eant_TextData *data, Eerr_ErrorReport **err);
int32_t eant_TextDataCheckForSmartData(Eant_TextData *data, Eerr_ErrorReport **err);
/* A copy for writing whose string is the stored byte form: 8-bit (count = length + 1) when every
   unit is 255 or less, else a 0 unit, the units and a 0 unit (count = 2 x (length + 2)). */
Eant_TextData *eant_TextDataPrepareOutput(const Eant_TextData *data, Eerr_ErrorReport **err);

Eant_MetaStringData *eant_MetaStringParse(const char16_t *text, Eerr_ErrorReport **err);
Eant_MetaStringData *eant_MetaStringDataCreate(int32_t type, const char16_t *text, Eant_MetaStringData *list,
                                               Eerr_ErrorReport **err);
Eant_MetaStringData *eant_MetaStringDataAddToList(Eant_MetaStringData *list, Eant_MetaStringData *node,
                                                  Eerr_ErrorReport **err);
/* Frees every node after the given one (hand it the address of a list head to free a list). */
void eant_MetaStringDataFree(Eant_MetaStringData *node);
int32_t eant_MetaStringDataCheckForSmartData(const Eant_MetaStringData *list, Eerr_ErrorReport **err);
char16_t *eant_MetaStringDataBuildString(Eant_MetaStringData *list, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Text element (EANT_TEXT): one string anchored at an origin with an orientation, or laid along a
   polyline; its height (scale) in the element's scale units, origin and polyline in its position
   units, all before the element's transform. */

typedef struct Eant_Text {
  uint32_t flags;
  int32_t textStyle;       /* -1: none */
  Eevg_Coord *origin;      /* owned; null for a text along a polyline */
  double orientation;      /* radians */
  Eant_VectorData *coords; /* owned; null for an anchored text */
  double scale;            /* the height */
  Eevg_Align *alignment;   /* owned; null is centred */
  Eant_TextData *text;     /* owned */
} Eant_Text;

Eant_Text *eant_TextCreate(Eerr_ErrorReport **err);
void eant_TextFree(Eant_Text **text);
Eant_Text *eant_TextCopy(const Eant_Text *source, Eant_Text *target, Eerr_ErrorReport **err);
void eant_TextPrint(const Eant_Text *text, Eerr_ErrorReport **err);
void eant_TextWrite(Eant_FileIO *fileIO, const Eant_Text *text, Eerr_ErrorReport **err);
Eant_Text *eant_TextRead(Eant_FileIO *fileIO, Eant_Text *text, Eerr_ErrorReport **err);

Eant_Element *eant_TextElementCreate(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
Eant_Element *eant_TextElementSetValues(Eant_AnnotationInfo *info, Eant_Element *element,
                                        Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err, ...);
void eant_TextElementFree(Eant_Element **element);
void eant_TextElementSetTextStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                  Eerr_ErrorReport **err);
void eant_TextElementSetTextStyleByStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                                         Eerr_ErrorReport **err);
void eant_TextElementSetAlignment(Eant_Element *element, int32_t xalign, int32_t yalign, Eerr_ErrorReport **err);
void eant_TextElementSetText(Eant_Element *element, int32_t source, const char16_t *text, Eerr_ErrorReport **err);
void eant_TextElementSetTextStyleHeightAndScaleUnitsByStyle(Eant_AnnotationInfo *info, Eant_Element *element,
                                                            Eant_Style *style, double height,
                                                            Eant_CoordDefinition *units,
                                                            Eant_CoordSysConversion *conversion,
                                                            Eerr_ErrorReport **err);
void eant_TextElementSetTextStyleAndHeightByStyle(Eant_AnnotationInfo *info, Eant_Element *element,
                                                  Eant_Style *style, double height, const char *units,
                                                  Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
int32_t eant_TextElementGetStyle(Eant_Element *element, Eerr_ErrorReport **err);
Eevg_Align *eant_TextElementGetAlignment(Eant_Element *element, Eerr_ErrorReport **err);
char16_t *eant_TextGetUCTextString(Eant_Element *element, Eerr_ErrorReport **err);
char16_t *eant_TextGetEvaluatedUCTextString(Eant_Element *element, Eerr_ErrorReport **err);
/* The same as 8-bit text; "unicode string" when a unit is above 255. */
char *eant_TextGetTextString(Eant_Element *element, Eerr_ErrorReport **err);
char *eant_TextGetEvaluatedTextString(Eant_Element *element, Eerr_ErrorReport **err);
int32_t eant_TextElementCheckForSmartData(Eant_Element *element, Eerr_ErrorReport **err);

Eant_Element *eant_TextElementCopy(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err);
void eant_TextElementPrint(Eant_Element *element, Eerr_ErrorReport **err);
void eant_TextElementWrite(Eant_FileIO *fileIO, const char *nodePath, int32_t position, Eant_Element *element,
                           Eerr_ErrorReport **err);
void eant_TextElementRead(Eant_AnnotationInfo *info, Eant_FileIO *fileIO, Eant_Element *element,
                          Eerr_ErrorReport **err);
void eant_TextElementSelectTextStyle(Eant_AnnotationInfo *info, Eant_Element *element,
                                     Eant_CoordSysConversion *conversion, Eant_StyleUpdateFunction update,
                                     void *updateData, Eerr_ErrorReport **err);
int32_t eant_TextElementSelectTextStyleOnly(Eant_AnnotationInfo *info, Eant_Element *element,
                                            Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
void eant_TextElementCopyStyleBetweenLibs(Eant_Element *element, Eant_StyleLibrary *from, Eant_StyleLibrary *to,
                                          Eerr_ErrorReport **err);
void eant_TextElementReplaceValues(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err);
void eant_TextElementIncrementCount(Eant_Element *element, Eant_ElementInfo *counts, Eerr_ErrorReport **err);
const char *eant_TextElementGetTypeString(Eant_Element *element, Eerr_ErrorReport **err);
int32_t eant_TextElementCanBeFlipped(Eant_Element *element, Eerr_ErrorReport **err);

/* Geometry. The map forms apply the element's transform and then xform; the element forms give
   the values back in the element's own units. Origins are new (null for a text without one). */
Eevg_Coord *eant_TextGetUnXFormedLocationData(Eant_Element *element, Eant_CoordSysConversion *conversion,
                                              double *orientation, double *height, Eerr_ErrorReport **err);
Eevg_Coord *eant_GetTextMapLocationData(Eant_Element *element, _exfr_XForm *xform,
                                        Eant_CoordSysConversion *conversion, double *angle, double *height,
                                        Eerr_ErrorReport **err);
Eevg_Coord *eant_GetTextEevgLocationData(Eant_Element *element, _exfr_XForm *xform,
                                         Eant_CoordSysConversion *conversion, Eevg_TextStyle *style,
                                         Eerr_ErrorReport **err);
Efga_CoordinateBlock *eant_TextGetMapCoords(Eant_Element *element, _exfr_XForm *xform,
                                            Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
Eevg_Coord *eant_GetTextLocationData(Eant_Element *element, _exfr_XForm *xform, Eant_CoordSysConversion *conversion,
                                     double *orientation, double *height, Eerr_ErrorReport **err);
Efga_CoordinateBlock *eant_TextGetCoords(Eant_Element *element, _exfr_XForm *xform,
                                         Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
/* Setters: the element's transform becomes the identity. */
void eant_TextElementSetLocationData(Eant_Element *element, const Eevg_Coord *origin, double orientation,
                                     double scale, Eerr_ErrorReport **err);
void eant_TextElementSetLocationDataBoth(Eant_Element *element, const Eevg_Coord *origin, double orientation,
                                         double scale, int32_t source, const Efga_CoordinateBlock *block,
                                         Eerr_ErrorReport **err);
void eant_TextElementSetOrigin(Eant_Element *element, double x, double y, Eant_CoordSysConversion *conversion,
                               Eerr_ErrorReport **err);
void eant_TextElementSetOrientation(Eant_Element *element, double angle, Eant_CoordSysConversion *conversion,
                                    Eerr_ErrorReport **err);
void eant_TextElementSetScale(Eant_Element *element, double height, Eant_CoordSysConversion *conversion,
                              Eerr_ErrorReport **err);
void eant_TextElementSetCoords(Eant_Element *element, int32_t source, const Efga_CoordinateBlock *block,
                               Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
/* points: a 2 x n matrix of doubles in map units. */
void eant_TextElementReplaceCoords(Eant_Element *element, Eant_CoordSysConversion *conversion,
                                   const Egda_BaseData *points, Eerr_ErrorReport **err);
/* With NORIX_TEXT_COORDINATE_DEBUG set, every drawing prints the text's box and character
   positions. */
void eant_TextElementRender(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *symbols,
                            Eant_Criteria *criteria, Eevg_Drawing *drawing, Eant_Element *element, _exfr_XForm *xform,
                            Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
/* The corners of the text (lower-left, upper-left, upper-right, lower-right in its own frame)
   measured with the drawing's fonts (null: the measuring drawing of the element's layer, else of
   the conversion). */
Egda_BaseData *eant_TextElementBboxCalculateWithDrawingNoSave(Eant_Element *element, _exfr_XForm *xform,
                                                              Eant_CoordSysConversion *conversion,
                                                              Eevg_Drawing *drawing, Eerr_ErrorReport **err);
Egda_BaseData *eant_TextElementBboxCalculateNoSave(Eant_Element *element, _exfr_XForm *xform,
                                                   Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
int32_t eant_CoordInTextElement(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *symbols,
                                Eant_Criteria *criteria, Eant_Element *element, _exfr_XForm *xform,
                                Eant_CoordSysConversion *conversion, Egda_BaseData *coord, Eerr_ErrorReport **err);
void eant_TextElementUpdateInfo(Eant_Element *element, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
void eant_TextElementConvertToMap(Eant_Element *element, Eant_CoordSysConversion *conversion,
                                  Eerr_ErrorReport **err);
void eant_TextElementTransformMap(Eant_Element *element, _exfr_XForm *xform, Eant_CoordSysConversion *from,
                                  Eant_CoordSysConversion *to, const char *mapUnits, Eant_ProgressInfo *progress,
                                  Eerr_ErrorReport **err);
/* flipData: three 32-bit words, first, second and mode (0 nothing, 1 alignment, 2 angle). */
void eant_TextElementFlip(Eant_AnnotationInfo *info, Eant_Element *element, Eant_CoordSysConversion *conversion,
                          void *flipData, Efga_Polynomial *polynomial, Eerr_ErrorReport **err);

/* ---------------------------------------------------------------------------------------------
   Group elements (EANT_GROUP): an ordered list of children (element->child, the first child's
   parent pointing back at the group) drawn, hit, moved, flipped, restyled and stored together.
   A plain group has no record (element->info null); the kinds of map furniture hang an
   Eant_Group there that names the kind and holds its parameter record. The group's box is the
   union of its children's boxes, corners (x0, y0), (x0, y1), (x1, y1), (x1, y0). */

typedef enum {
  EANT_UNDEFINEDGROUPTYPE = 0,
  EANT_GRIDTIC = 1,
  EANT_LEGEND = 2,
  EANT_SCALEBAR = 3,
  EANT_GCP = 4 /* named only: nothing makes, reads or handles it */
} Eant_GroupType;

typedef struct Eant_Group {
  int32_t type;  /* Eant_GroupType */
  void *record;  /* the kind's parameter record, owned; copied and freed by the kind */
} Eant_Group;

/* The record {0, null}; a copy of the type only (record untouched) into target or a new record;
   its print; its free (not the parameter record; null accepted). */
Eant_Group *eant_GroupCreate(Eerr_ErrorReport **err);
Eant_Group *eant_GroupCopy(const Eant_Group *source, Eant_Group *target, Eerr_ErrorReport **err);
void eant_GroupPrint(const Eant_Group *group, Eerr_ErrorReport **err);
void eant_GroupFree(Eant_Group **group);
/* "Group Info" of design "Group_Eant" below the current entry (the kinds write it right after the
   element's entry), and its reader (into group, or a new record when null). */
void eant_GroupWrite(Eant_FileIO *fileIO, const Eant_Group *group, Eerr_ErrorReport **err);
Eant_Group *eant_GroupRead(Eant_FileIO *fileIO, Eant_Group *group, Eerr_ErrorReport **err);

/* An empty plain group. */
Eant_Element *eant_GroupElementCreate(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
/* The factory: keywords 1 to 6 and EANT_ELEMKEY_CHILDREN (the box becomes the children's union,
   the moved callbacks fire); the modified callbacks fire whenever info is given. The conversion
   is not used. */
Eant_Element *eant_GroupElementSetValues(Eant_AnnotationInfo *info, Eant_Element *element,
                                         Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err, ...);
/* The group takes the list over (appended after its children); each element gets rowNumber -1. */
void eant_GroupElementSetChildren(Eant_Element *element, Eant_Element *list, Eerr_ErrorReport **err);
/* A new table holding the plain group's operations (freed with emsc_HeapFree): the kinds start
   their own tables from it. */
Eant_ElementFunctions *eant_GroupElementFunctionsCreate(Eerr_ErrorReport **err);
/* Reads what lies below a group's entry: "Group Info" and the kind's nodes, then the children. */
void eant_GroupElementRead(Eant_AnnotationInfo *info, Eant_FileIO *fileIO, Eant_Element *element,
                           Eerr_ErrorReport **err);

/* The slots of the group's table. */
Eant_Element *eant_GroupElementCopy(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err);
void eant_GroupElementPrint(Eant_Element *element, Eerr_ErrorReport **err);
void eant_GroupElementRender(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *symbols,
                             Eant_Criteria *criteria, Eevg_Drawing *drawing, Eant_Element *element,
                             _exfr_XForm *xform, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
void eant_GroupElementFree(Eant_Element **element);
void eant_GroupElementWrite(Eant_FileIO *fileIO, const char *nodePath, int32_t position, Eant_Element *element,
                            Eerr_ErrorReport **err);
int32_t eant_CoordInGroupElement(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles,
                                 Eant_SymbolLibrary *symbols, Eant_Criteria *criteria, Eant_Element *element,
                                 _exfr_XForm *xform, Eant_CoordSysConversion *conversion, Egda_BaseData *coord,
                                 Eerr_ErrorReport **err);
/* The style setters hand their arguments to every child (each child's own slot; a child group
   repeats this for its children). With info recording undo (undoFlag 1), the group and each child
   are backed up and registered as modifications. The forms with the box recomputed set the
   group's box after every child and fire its moved and modified callbacks once. */
void eant_GroupElementSetLineStyleByStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                                          Eerr_ErrorReport **err);
void eant_GroupElementSetLineStyleByStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element,
                                                       int32_t number, Eant_CoordSysConversion *conversion,
                                                       Eerr_ErrorReport **err);
void eant_GroupElementSetFillStyleByStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                                          Eerr_ErrorReport **err);
void eant_GroupElementSetFillStyleByStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element,
                                                       int32_t number, Eant_CoordSysConversion *conversion,
                                                       Eerr_ErrorReport **err);
void eant_GroupElementSetTextStyleAndHeightByStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                                   double height, const char *heightUnits,
                                                   Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
void eant_GroupElementSetTextStyleHeightAndScaleUnitsByStyle(Eant_AnnotationInfo *info, Eant_Element *element,
                                                             int32_t number, double height,
                                                             Eant_CoordDefinition *heightUnits,
                                                             Eant_CoordSysConversion *conversion,
                                                             Eerr_ErrorReport **err);
void eant_GroupElementSetSymbolDataScaleAndOverrideColor(Eant_AnnotationInfo *info, Eant_Element *element,
                                                         int32_t number, double scale,
                                                         Eant_CoordDefinition *scaleUnits, int32_t overrideFlag,
                                                         int32_t overrideColor, Eant_CoordSysConversion *conversion,
                                                         Eerr_ErrorReport **err);
/* The union of the children's fresh boxes as four corners (new); null for an empty group. */
Egda_BaseData *eant_GroupElementBboxCalculateNoSave(Eant_Element *element, _exfr_XForm *xform,
                                                    Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
/* The first child's styles made current. */
void eant_GroupElementSelectStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                                  Eant_StyleUpdateFunction update, void *updateData, Eerr_ErrorReport **err);
int32_t eant_GroupElementSelectSingleStyleOnly(Eant_AnnotationInfo *info, Eant_Element *element, int32_t flags,
                                               Eerr_ErrorReport **err);
void eant_GroupElementCopyStyleBetweenLibs(Eant_Element *element, Eant_StyleLibrary *from, Eant_StyleLibrary *to,
                                           Eerr_ErrorReport **err);
void eant_GroupElementCopySymbolDataBetweenLibs(Eant_Element *element, Eant_SymbolLibrary *from,
                                                Eant_SymbolLibrary *to, Eerr_ErrorReport **err);
void eant_GroupElementUpdateInfo(Eant_Element *element, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err);
/* The common values only: neither the children nor the group record. */
void eant_GroupElementReplaceValues(Eant_Element *source, Eant_Element *target, Eerr_ErrorReport **err);
void eant_GroupElementConvertToMap(Eant_Element *element, Eant_CoordSysConversion *conversion,
                                   Eerr_ErrorReport **err);
void eant_GroupElementTransformMap(Eant_Element *element, _exfr_XForm *xform, Eant_CoordSysConversion *from,
                                   Eant_CoordSysConversion *to, const char *mapUnits, Eant_ProgressInfo *progress,
                                   Eerr_ErrorReport **err);
/* Counts the group itself (its children are not counted). */
void eant_GroupElementIncrementCount(Eant_Element *element, Eant_ElementInfo *counts, Eerr_ErrorReport **err);
/* "Group" for every kind (a new string). */
const char *eant_GroupElementGetTypeString(Eant_Element *element, Eerr_ErrorReport **err);
int32_t eant_GroupElementCanBeFlipped(Eant_Element *element, Eerr_ErrorReport **err);
/* Flips the children (the info is required: the children's moved callbacks are held back), then
   recomputes the group's box and fires its moved and modified callbacks once. */
void eant_GroupElementFlip(Eant_AnnotationInfo *info, Eant_Element *element, Eant_CoordSysConversion *conversion,
                           void *flipData, Efga_Polynomial *polynomial, Eerr_ErrorReport **err);

TAVIRON_END_DECLS



#endif
