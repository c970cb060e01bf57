// What the units of the annotation package share: the package data and the checks of the file
// context, counted-string helpers, the stored designs that several records nest, the design
// definitions, the element-type registry and the style kinds of a style library. Not installed.
#ifndef TAVIRON_ANNOTATION_EANT_INTERNAL_H
#define TAVIRON_ANNOTATION_EANT_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "dispatch.h"
#include "eant.h"
#include "efnp.h"
#include "emsc.h"
#include "efga_internal.h"
#include "internal.h"
#include "record.h"

namespace taviron::eant {

namespace lower = taviron::lower;

inline constexpr const char *kToolkitNotInitialized = "Toolkit has not been initialized";
inline constexpr const char *kPackageNotInitialized = "Annotation Package has not been initialized";

// ---- Package data ------------------------------------------------------------------------

// The package data hung in word 0 of the toolkit record, or null.
inline Eant_InitData *PackageData(const Eint_InitToolkitData *toolkit) {
  return toolkit ? static_cast<Eant_InitData *>(toolkit->annotationData) : nullptr;
}

// The checks every reader and writer makes first: a file context with an open file (code 1,
// "Invalid input fileIO"), the file's toolkit record (2) and the package data in it (3). The
// package data, or null after the report.
Eant_InitData *CheckFileIO(const Eant_FileIO *fileIO, const char *reporter, Eerr_ErrorReport **err);

// Writes the record as the child `name` of the current entry: the child is rewritten when it
// exists, else added after the current entry's last child. The written entry is current after.
Ehfa_Entry *WriteChild(Ehfa_File *file, const char *name, const char *type, const void *record,
                       const Emif_Design *design, Eerr_ErrorReport **err);

// Removes a hierarchical file written under a scratch name and given up, with the journal that a
// failed commit may leave beside it (failures are of no consequence).
void RemoveScratch(const char *name);

// Owners of what the file-name calls hand out.
using HeapText = lower::Owned<char, emsc_HeapFree>;
using NodeListPtr = lower::Owned<Efnp_NodeList, efnp_FreeNodeList>;
using NodeNamePtr = lower::Owned<Efnp_NodeName, efnp_FreeNodeName>;

// Parses a name of one file and at most one node (a layer's or a style library's), reporting under
// the caller's name with `code` (the parse) and code + 1 (more than one file or node).
Efnp_NodeList *ParseSingleNode(const char *fileNodeName, const char *reporter, int32_t code, Eerr_ErrorReport **err);

// ---- Counted strings ---------------------------------------------------------------------

// The text of a counted string, or null when it names none (count 0 or less, or no text).
inline const char *Text(const Eant_CharStr &string) {
  return string.count > 0 && string.data ? string.data : nullptr;
}
inline bool Valid(const Eant_CharStr *string) {
  return string && (string->count == 0 || (string->count > 0 && string->data));
}

// ---- Stored designs that several records nest --------------------------------------------

inline constexpr const char *kBooleans[] = {"EMSC_FALSE", "EMSC_TRUE"};
inline constexpr const char *kCoordSystems[] = {"", "EEVG_PIXEL", "EEVG_NDU", "EEVG_MAP", "EEVG_OUTPUT"};

// The renderer's designs, as its own define operations make them, for records that nest them.
inline constexpr record::Item kEevgCoordItems[] = {TAVIRON_ITEM(Eevg_Coord, x, EMIF_TYPE_F64),
                                                   TAVIRON_ITEM(Eevg_Coord, y, EMIF_TYPE_F64)};
inline constexpr record::Design kEevgCoord = record::DesignOf<Eevg_Coord>("Eevg_Coord", kEevgCoordItems);
inline constexpr const char *kYAligns[] = {"EEVG_TOP", "EEVG_YCENTER", "EEVG_BOTTOM"};
// Value 5 spreads a text along its polyline; 3 and 4 have no name.
inline constexpr const char *kXAligns[] = {"EEVG_LEFT", "EEVG_XCENTER", "EEVG_RIGHT", "", "", "EEVG_FULL"};
inline constexpr record::Item kEevgAlignItems[] = {TAVIRON_ITEM(Eevg_Align, yalign, EMIF_TYPE_ENUM).Enum(kYAligns),
                                                   TAVIRON_ITEM(Eevg_Align, xalign, EMIF_TYPE_ENUM).Enum(kXAligns)};
inline constexpr record::Design kEevgAlign = record::DesignOf<Eevg_Align>("Eevg_Align", kEevgAlignItems);
inline constexpr record::Item kEevgSegmentItems[] = {TAVIRON_ITEM(Eevg_LinePatternSegment, lineMark, EMIF_TYPE_F64),
                                                     TAVIRON_ITEM(Eevg_LinePatternSegment, lineSpace, EMIF_TYPE_F64)};
inline constexpr record::Design kEevgSegment =
    record::DesignOf<Eevg_LinePatternSegment>("Eevg_LinePatternSegment", kEevgSegmentItems);
inline constexpr record::Item kEevgArrowEndItems[] = {
    TAVIRON_ITEM(Eevg_ArrowEnd, baseAngle, EMIF_TYPE_F64), TAVIRON_ITEM(Eevg_ArrowEnd, tipAngle, EMIF_TYPE_F64),
    TAVIRON_ITEM(Eevg_ArrowEnd, length, EMIF_TYPE_F64),
    TAVIRON_ITEM(Eevg_ArrowEnd, filled, EMIF_TYPE_ENUM).Enum(kBooleans),
    TAVIRON_ITEM(Eevg_ArrowEnd, stick, EMIF_TYPE_ENUM).Enum(kBooleans)};
inline constexpr record::Design kEevgArrowEnd = record::DesignOf<Eevg_ArrowEnd>("Eevg_ArrowEnd", kEevgArrowEndItems);

inline constexpr const record::Design &kPolynomial = efga::kPolynomialDesign;

inline constexpr record::Item kStyleItems[] = {TAVIRON_ITEM(Eant_Style, fileNodeName, EMIF_TYPE_STRING),
                                               TAVIRON_ITEM(Eant_Style, name, EMIF_TYPE_STRING),
                                               TAVIRON_ITEM(Eant_Style, number, EMIF_TYPE_S32)};
inline constexpr record::Design kStyle = record::DesignOf<Eant_Style>("Eant_Style", kStyleItems);

inline constexpr record::Item kCoordDefinitionItems[] = {
    TAVIRON_ITEM(Eant_CoordDefinition, coordSys, EMIF_TYPE_ENUM).Enum(kCoordSystems),
    TAVIRON_ITEM(Eant_CoordDefinition, units, EMIF_TYPE_STRING)};
inline constexpr record::Design kCoordDefinition =
    record::DesignOf<Eant_CoordDefinition>("Eant_CoordDefinition", kCoordDefinitionItems);

static_assert(kEevgCoord.Matches() && kEevgAlign.Matches() && kEevgSegment.Matches() && kEevgArrowEnd.Matches());
static_assert(kStyle.Matches() && kCoordDefinition.Matches());

// ---- Stored forms of the styles -----------------------------------------------------------
// Every form is a struct of its own: stored arrays hold them. The current forms of colours, line
// and text styles (Color2, LineStyle4, TextStyle2) are also the leading members of the records
// in memory, described by the same items (the *Memory designs, never nested: the kit allocates
// nested records at the design's size). The fill style's parts differ in memory (the pattern
// fill's pixel stack).

inline constexpr const char *kJoins[] = {"EEVG_ROUND_JOIN", "EEVG_BUTT_JOIN", "EEVG_BEVEL_JOIN", "EEVG_MITRE_JOIN"};
inline constexpr const char *kEnds[] = {"EEVG_ROUND_END", "EEVG_BUTT_END", "EEVG_SQUARE_END", "EEVG_ARROW_END"};
inline constexpr const char *kReversedBooleans[] = {"EMSC_TRUE", "EMSC_FALSE"};
inline constexpr const char *kSymbolEffects[] = {"EANT_LINESYMBOL_ASIS", "EANT_LINESYMBOL_ROTATE90",
                                                 "EANT_LINESYMBOL_ROTATE180", "EANT_LINESYMBOL_ROTATE270"};

// A stored counted array of records {count, entries}.
struct StoredArray {
  int32_t count;
  void *data;
};

// The common header of the oldest forms (no flags), and of the later ones.
#define TAVIRON_EANT_HEADER_ITEMS(Record)                                                          \
  TAVIRON_ITEM(Record, useCount, EMIF_TYPE_S32), TAVIRON_ITEM(Record, styleName, EMIF_TYPE_STRING),  \
      TAVIRON_ITEM(Record, description, EMIF_TYPE_STRING),                                         \
      TAVIRON_ITEM(Record, baseStyle, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kStyle),              \
      TAVIRON_ITEM(Record, mask, EMIF_TYPE_U32)
#define TAVIRON_EANT_HEADER2_ITEMS(Record)                                                         \
  TAVIRON_EANT_HEADER_ITEMS(Record), TAVIRON_ITEM(Record, flags, EMIF_TYPE_U32)

struct Color0 {
  int32_t useCount;
  Eant_CharStr styleName;
  Eant_CharStr description;
  Eant_Style *baseStyle;
  uint32_t mask;
  int32_t red, green, blue;
};
inline constexpr record::Item kColor0Items[] = {
    TAVIRON_EANT_HEADER_ITEMS(Color0), TAVIRON_ITEM(Color0, red, EMIF_TYPE_S32),
    TAVIRON_ITEM(Color0, green, EMIF_TYPE_S32), TAVIRON_ITEM(Color0, blue, EMIF_TYPE_S32)};
inline constexpr record::Design kColor0 = record::DesignOf<Color0>("Eant_Color", kColor0Items);
// The current form as its own struct (what stored arrays hold), and as the leading members of
// the record in memory (what copies and frees of a colour walk): one item list, one layout.
struct Color2 {
  int32_t useCount;
  Eant_CharStr styleName;
  Eant_CharStr description;
  Eant_Style *baseStyle;
  uint32_t mask;
  uint32_t flags;
  int32_t red, green, blue;
  double opacity;
};
#define TAVIRON_EANT_COLOR2_ITEMS(Record)                                                          \
  TAVIRON_EANT_HEADER2_ITEMS(Record), TAVIRON_ITEM(Record, red, EMIF_TYPE_S32),                     \
      TAVIRON_ITEM(Record, green, EMIF_TYPE_S32), TAVIRON_ITEM(Record, blue, EMIF_TYPE_S32),        \
      TAVIRON_ITEM(Record, opacity, EMIF_TYPE_F64)
inline constexpr record::Item kColor2Items[] = {TAVIRON_EANT_COLOR2_ITEMS(Color2)};
inline constexpr record::Design kColor2 = record::DesignOf<Color2>("Color2", kColor2Items);
inline constexpr record::Item kColor2MemoryItems[] = {TAVIRON_EANT_COLOR2_ITEMS(Eant_Color)};
inline constexpr record::Design kColor2Memory =
    record::LeadingDesignOf<Eant_Color>("Color2", kColor2MemoryItems, offsetof(Eant_Color, evaluatedStyle));

inline constexpr record::Item kLineDescriptionItems[] = {TAVIRON_ITEM(Eant_LineDescription, color, EMIF_TYPE_S32),
                                                         TAVIRON_ITEM(Eant_LineDescription, width, EMIF_TYPE_F64)};
inline constexpr record::Design kLineDescription =
    record::DesignOf<Eant_LineDescription>("Eant_LineDescription", kLineDescriptionItems);
inline constexpr record::Item kLineSymbolItems[] = {
    TAVIRON_ITEM(Eant_LineSymbol, scaleUnits, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kCoordDefinition),
    TAVIRON_ITEM(Eant_LineSymbol, positionUnits, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kCoordDefinition),
    TAVIRON_ITEM(Eant_LineSymbol, scale, EMIF_TYPE_F64), TAVIRON_ITEM(Eant_LineSymbol, spacing, EMIF_TYPE_F64),
    TAVIRON_ITEM(Eant_LineSymbol, offset, EMIF_TYPE_F64),
    TAVIRON_ITEM(Eant_LineSymbol, effect, EMIF_TYPE_ENUM).Enum(kSymbolEffects),
    TAVIRON_ITEM(Eant_LineSymbol, symbol, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kStyle),
    TAVIRON_ITEM(Eant_LineSymbol, colorOverrideFlag, EMIF_TYPE_ENUM).Enum(kReversedBooleans),
    TAVIRON_ITEM(Eant_LineSymbol, overrideColor, EMIF_TYPE_S32)};
inline constexpr record::Design kLineSymbol = record::DesignOf<Eant_LineSymbol>("Eant_LineSymbol", kLineSymbolItems);

// The line-style forms share their leading members: 0 ends after linePattern, 1 adds the joins,
// ends and arrow end, 2 also carries flags after mask.
struct LineStyle0 {
  int32_t useCount;
  Eant_CharStr styleName;
  Eant_CharStr description;
  Eant_Style *baseStyle;
  uint32_t mask;
  Eant_CoordDefinition *styleUnits;
  Eant_LineComposition overLines;
  Eevg_LinePattern linePattern;
};
struct LineStyle1 {
  int32_t useCount;
  Eant_CharStr styleName;
  Eant_CharStr description;
  Eant_Style *baseStyle;
  uint32_t mask;
  Eant_CoordDefinition *styleUnits;
  Eant_LineComposition overLines;
  Eevg_LinePattern linePattern;
  int32_t lineJoin, markEnd, startLineEnd, endLineEnd;
  Eevg_ArrowEnd *arrowEnd;
};
struct LineStyle2 {
  int32_t useCount;
  Eant_CharStr styleName;
  Eant_CharStr description;
  Eant_Style *baseStyle;
  uint32_t mask;
  uint32_t flags;
  Eant_CoordDefinition *styleUnits;
  Eant_LineComposition overLines;
  Eevg_LinePattern linePattern;
  int32_t lineJoin, markEnd, startLineEnd, endLineEnd;
  Eevg_ArrowEnd *arrowEnd;
};
#define TAVIRON_EANT_LINE_ITEMS(Record)                                                            \
  TAVIRON_ITEM(Record, styleUnits, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kCoordDefinition),       \
      TAVIRON_ITEM(Record, overLines, EMIF_COUNTED_ARRAY + EMIF_TYPE_OBJECT).Nested(kLineDescription), \
      TAVIRON_ITEM(Record, linePattern, EMIF_COUNTED_ARRAY + EMIF_TYPE_OBJECT).Nested(kEevgSegment)
#define TAVIRON_EANT_LINE_END_ITEMS(Record)                                                        \
  TAVIRON_ITEM(Record, lineJoin, EMIF_TYPE_ENUM).Enum(kJoins),                                     \
      TAVIRON_ITEM(Record, markEnd, EMIF_TYPE_ENUM).Enum(kEnds),                                    \
      TAVIRON_ITEM(Record, startLineEnd, EMIF_TYPE_ENUM).Enum(kEnds),                               \
      TAVIRON_ITEM(Record, endLineEnd, EMIF_TYPE_ENUM).Enum(kEnds),                                 \
      TAVIRON_ITEM(Record, arrowEnd, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kEevgArrowEnd)
inline constexpr record::Item kLineStyle0Items[] = {TAVIRON_EANT_HEADER_ITEMS(LineStyle0),
                                                    TAVIRON_EANT_LINE_ITEMS(LineStyle0)};
inline constexpr record::Design kLineStyle0 = record::DesignOf<LineStyle0>("Eant_LineStyle", kLineStyle0Items);
inline constexpr record::Item kLineStyle1Items[] = {TAVIRON_EANT_HEADER_ITEMS(LineStyle1),
                                                    TAVIRON_EANT_LINE_ITEMS(LineStyle1),
                                                    TAVIRON_EANT_LINE_END_ITEMS(LineStyle1)};
inline constexpr record::Design kLineStyle1 = record::DesignOf<LineStyle1>("LineStyle1", kLineStyle1Items);
inline constexpr record::Item kLineStyle2Items[] = {TAVIRON_EANT_HEADER2_ITEMS(LineStyle2),
                                                    TAVIRON_EANT_LINE_ITEMS(LineStyle2),
                                                    TAVIRON_EANT_LINE_END_ITEMS(LineStyle2)};
inline constexpr record::Design kLineStyle2 = record::DesignOf<LineStyle2>("LineStyle2", kLineStyle2Items);
struct LineStyle4 {
  int32_t useCount;
  Eant_CharStr styleName;
  Eant_CharStr description;
  Eant_Style *baseStyle;
  uint32_t mask;
  uint32_t flags;
  Eant_CoordDefinition *styleUnits;
  Eant_LineComposition overLines;
  Eevg_LinePattern linePattern;
  int32_t lineJoin, markEnd, startLineEnd, endLineEnd;
  Eevg_ArrowEnd *arrowEnd;
  int32_t displayLine, useSymbol;
  Eant_LineSymbol *lineSymbol;
};
#define TAVIRON_EANT_LINE4_ITEMS(Record)                                                           \
  TAVIRON_EANT_HEADER2_ITEMS(Record), TAVIRON_EANT_LINE_ITEMS(Record), TAVIRON_EANT_LINE_END_ITEMS(Record), \
      TAVIRON_ITEM(Record, displayLine, EMIF_TYPE_ENUM).Enum(kBooleans),                           \
      TAVIRON_ITEM(Record, useSymbol, EMIF_TYPE_ENUM).Enum(kBooleans),                             \
      TAVIRON_ITEM(Record, lineSymbol, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kLineSymbol)
inline constexpr record::Item kLineStyle4Items[] = {TAVIRON_EANT_LINE4_ITEMS(LineStyle4)};
inline constexpr record::Design kLineStyle4 = record::DesignOf<LineStyle4>("LineStyle4", kLineStyle4Items);
inline constexpr record::Item kLineStyle4MemoryItems[] = {TAVIRON_EANT_LINE4_ITEMS(Eant_LineStyle)};
inline constexpr record::Design kLineStyle4Memory = record::LeadingDesignOf<Eant_LineStyle>(
    "LineStyle4", kLineStyle4MemoryItems, offsetof(Eant_LineStyle, evaluatedStyle));

struct PatternFill {
  Eant_CoordDefinition *scaleUnits;
  Eant_CoordDefinition *positionUnits;
  double scale, xsep, ysep;
  Eant_Style *symbol;
  int32_t colorOverrideFlag;
  int32_t overrideColor;
  int32_t pixelRectStack; // written as 0, ignored when read
};
inline constexpr record::Item kPatternFillItems[] = {
    TAVIRON_ITEM(PatternFill, scaleUnits, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kCoordDefinition),
    TAVIRON_ITEM(PatternFill, positionUnits, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kCoordDefinition),
    TAVIRON_ITEM(PatternFill, scale, EMIF_TYPE_F64), TAVIRON_ITEM(PatternFill, xsep, EMIF_TYPE_F64),
    TAVIRON_ITEM(PatternFill, ysep, EMIF_TYPE_F64),
    TAVIRON_ITEM(PatternFill, symbol, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kStyle),
    TAVIRON_ITEM(PatternFill, colorOverrideFlag, EMIF_TYPE_ENUM).Enum(kBooleans),
    TAVIRON_ITEM(PatternFill, overrideColor, EMIF_TYPE_S32), TAVIRON_ITEM(PatternFill, pixelRectStack, EMIF_TYPE_S32)};
inline constexpr record::Design kPatternFill = record::DesignOf<PatternFill>("Eant_PatternFill", kPatternFillItems);
struct FillPattern0 {
  int32_t color;
};
inline constexpr record::Item kFillPattern0Items[] = {TAVIRON_ITEM(FillPattern0, color, EMIF_TYPE_S32)};
inline constexpr record::Design kFillPattern0 = record::DesignOf<FillPattern0>("Eant_FillPattern", kFillPattern0Items);
struct FillPattern2 {
  int32_t solidFill;
  int32_t color;
  int32_t patternFill;
  PatternFill *pattern;
};
inline constexpr record::Item kFillPattern2Items[] = {
    TAVIRON_ITEM(FillPattern2, solidFill, EMIF_TYPE_ENUM).Enum(kBooleans),
    TAVIRON_ITEM(FillPattern2, color, EMIF_TYPE_S32),
    TAVIRON_ITEM(FillPattern2, patternFill, EMIF_TYPE_ENUM).Enum(kBooleans),
    TAVIRON_ITEM(FillPattern2, pattern, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kPatternFill)};
inline constexpr record::Design kFillPattern2 = record::DesignOf<FillPattern2>("FillPattern2", kFillPattern2Items);
struct FillStyle0 {
  int32_t useCount;
  Eant_CharStr styleName;
  Eant_CharStr description;
  Eant_Style *baseStyle;
  uint32_t mask;
  int32_t fill, trace;
  FillPattern0 *pattern;
  int32_t traceStyle;
};
struct FillStyle2 {
  int32_t useCount;
  Eant_CharStr styleName;
  Eant_CharStr description;
  Eant_Style *baseStyle;
  uint32_t mask;
  uint32_t flags;
  int32_t fill, trace;
  FillPattern2 *pattern;
  int32_t traceStyle;
};
inline constexpr record::Item kFillStyle0Items[] = {
    TAVIRON_EANT_HEADER_ITEMS(FillStyle0), TAVIRON_ITEM(FillStyle0, fill, EMIF_TYPE_ENUM).Enum(kBooleans),
    TAVIRON_ITEM(FillStyle0, trace, EMIF_TYPE_ENUM).Enum(kBooleans),
    TAVIRON_ITEM(FillStyle0, pattern, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kFillPattern0),
    TAVIRON_ITEM(FillStyle0, traceStyle, EMIF_TYPE_S32)};
inline constexpr record::Design kFillStyle0 = record::DesignOf<FillStyle0>("Eant_FillStyle", kFillStyle0Items);
inline constexpr record::Item kFillStyle2Items[] = {
    TAVIRON_EANT_HEADER2_ITEMS(FillStyle2), TAVIRON_ITEM(FillStyle2, fill, EMIF_TYPE_ENUM).Enum(kBooleans),
    TAVIRON_ITEM(FillStyle2, trace, EMIF_TYPE_ENUM).Enum(kBooleans),
    TAVIRON_ITEM(FillStyle2, pattern, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kFillPattern2),
    TAVIRON_ITEM(FillStyle2, traceStyle, EMIF_TYPE_S32)};
inline constexpr record::Design kFillStyle2 = record::DesignOf<FillStyle2>("FillStyle2", kFillStyle2Items);

inline constexpr record::Item kTextShadowItems[] = {TAVIRON_ITEM(Eant_TextShadow, dx, EMIF_TYPE_F64),
                                                    TAVIRON_ITEM(Eant_TextShadow, dy, EMIF_TYPE_F64),
                                                    TAVIRON_ITEM(Eant_TextShadow, style, EMIF_TYPE_S32)};
inline constexpr record::Design kTextShadow = record::DesignOf<Eant_TextShadow>("TextShadow", kTextShadowItems);
struct TextStyle0 {
  int32_t useCount;
  Eant_CharStr styleName;
  Eant_CharStr description;
  Eant_Style *baseStyle;
  uint32_t mask;
  Eant_CoordDefinition *styleUnits;
  Eant_CharStr fontName;
  double textSlant, textChSpace, textLnSpace, textChExt;
  int32_t fillStyle, underline, underlineStyle, shadow;
  Eant_TextShadow textShadow;
  double underlineDist;
};
#define TAVIRON_EANT_TEXT_ITEMS(Record)                                                            \
  TAVIRON_ITEM(Record, styleUnits, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kCoordDefinition),       \
      TAVIRON_ITEM(Record, fontName, EMIF_TYPE_STRING), TAVIRON_ITEM(Record, textSlant, EMIF_TYPE_F64), \
      TAVIRON_ITEM(Record, textChSpace, EMIF_TYPE_F64), TAVIRON_ITEM(Record, textLnSpace, EMIF_TYPE_F64), \
      TAVIRON_ITEM(Record, textChExt, EMIF_TYPE_F64), TAVIRON_ITEM(Record, fillStyle, EMIF_TYPE_S32),    \
      TAVIRON_ITEM(Record, underline, EMIF_TYPE_ENUM).Enum(kBooleans),                             \
      TAVIRON_ITEM(Record, underlineStyle, EMIF_TYPE_S32),                                         \
      TAVIRON_ITEM(Record, shadow, EMIF_TYPE_ENUM).Enum(kBooleans),                                \
      TAVIRON_ITEM(Record, textShadow, EMIF_TYPE_OBJECT).Nested(kTextShadow),                       \
      TAVIRON_ITEM(Record, underlineDist, EMIF_TYPE_F64)
inline constexpr record::Item kTextStyle0Items[] = {TAVIRON_EANT_HEADER_ITEMS(TextStyle0),
                                                    TAVIRON_EANT_TEXT_ITEMS(TextStyle0)};
inline constexpr record::Design kTextStyle0 = record::DesignOf<TextStyle0>("Eant_TextStyle", kTextStyle0Items);
struct TextStyle2 {
  int32_t useCount;
  Eant_CharStr styleName;
  Eant_CharStr description;
  Eant_Style *baseStyle;
  uint32_t mask;
  uint32_t flags;
  Eant_CoordDefinition *styleUnits;
  Eant_CharStr fontName;
  double textSlant, textChSpace, textLnSpace, textChExt;
  int32_t fillStyle, underline, underlineStyle, shadow;
  Eant_TextShadow textShadow;
  double underlineDist;
};
inline constexpr record::Item kTextStyle2Items[] = {TAVIRON_EANT_HEADER2_ITEMS(TextStyle2),
                                                    TAVIRON_EANT_TEXT_ITEMS(TextStyle2)};
inline constexpr record::Design kTextStyle2 = record::DesignOf<TextStyle2>("TextStyle2", kTextStyle2Items);
inline constexpr record::Item kTextStyle2MemoryItems[] = {TAVIRON_EANT_HEADER2_ITEMS(Eant_TextStyle),
                                                          TAVIRON_EANT_TEXT_ITEMS(Eant_TextStyle)};
inline constexpr record::Design kTextStyle2Memory = record::LeadingDesignOf<Eant_TextStyle>(
    "TextStyle2", kTextStyle2MemoryItems, offsetof(Eant_TextStyle, renderStyle));

static_assert(kColor0.Matches() && kColor2.Matches() && kLineDescription.Matches() && kLineSymbol.Matches());
static_assert(kLineStyle0.Matches() && kLineStyle1.Matches() && kLineStyle2.Matches() && kLineStyle4.Matches());
// The stored structs of the current forms are the leading members of the records in memory.
static_assert(kColor2Memory.Matches() && kColor2Memory.size == kColor2.size);
static_assert(kLineStyle4Memory.Matches() && kLineStyle4Memory.size == kLineStyle4.size);
static_assert(kTextStyle2Memory.Matches() && kTextStyle2Memory.size == kTextStyle2.size);
static_assert(kPatternFill.Matches() && kFillPattern0.Matches() && kFillPattern2.Matches());
static_assert(kFillStyle0.Matches() && kFillStyle2.Matches());
static_assert(kTextShadow.Matches() && kTextStyle0.Matches() && kTextStyle2.Matches());

// ---- Stored vector data and vertex records ------------------------------------------------
// The vector data's stored forms, {source, count and array of matrix headers[, smooth]}, and the
// records of the vertex types (polyline, polygon, point) that nest them: a style number and the
// coordinates, the current form with flags first.

inline constexpr const char *kVectorDataSources[] = {"EANT_LOCAL", "EANT_VECTORDATA", "EANT_DESCRIPTORDATA"};
struct MatrixArrayStored {
  int32_t count;
  Egda_BaseData *data;
};
struct VectorDataStored {
  int32_t source;
  MatrixArrayStored coords;
};
struct VectorData2Stored {
  int32_t source;
  MatrixArrayStored coords;
  int32_t smooth;
};
inline constexpr record::Item kVectorDataItems[] = {
    TAVIRON_ITEM(VectorDataStored, source, EMIF_TYPE_ENUM).Enum(kVectorDataSources),
    TAVIRON_ITEM(VectorDataStored, coords, EMIF_COUNTED_ARRAY + EMIF_TYPE_BASEDATA)};
inline constexpr record::Design kVectorDataDesign =
    record::DesignOf<VectorDataStored>("VectorData_Eant", kVectorDataItems);
inline constexpr record::Item kVectorData2Items[] = {
    TAVIRON_ITEM(VectorData2Stored, source, EMIF_TYPE_ENUM).Enum(kVectorDataSources),
    TAVIRON_ITEM(VectorData2Stored, coords, EMIF_COUNTED_ARRAY + EMIF_TYPE_BASEDATA),
    TAVIRON_ITEM(VectorData2Stored, smooth, EMIF_TYPE_S32)};
inline constexpr record::Design kVectorData2Design =
    record::DesignOf<VectorData2Stored>("VectorData_2_Eant", kVectorData2Items);
static_assert(kVectorDataDesign.Matches() && kVectorData2Design.Matches());
// The old form begins as the current one does, but for the smooth flag.
static_assert(offsetof(VectorDataStored, coords) == offsetof(VectorData2Stored, coords));

struct VerticesStored {
  int32_t style;
  VectorDataStored *coords;
};
struct Vertices2Stored {
  uint32_t flags;
  int32_t style;
  VectorData2Stored *coords;
};

// ---- Stored text data and text records ----------------------------------------------------
// The text data's stored form {source, counted byte string}: the leading members of Eant_TextData
// (a counted UTF-16 string has the layout of a counted byte string), whose string the writer turns
// into the 8-bit or 16-bit byte form first. The text records nest it: the old form without flags
// and coordinates, the current one with both.
struct TextDataStored {
  int32_t source;
  Eant_CharStr string;
};
inline constexpr record::Item kTextDataItems[] = {
    TAVIRON_ITEM(TextDataStored, source, EMIF_TYPE_ENUM).Enum(kVectorDataSources),
    TAVIRON_ITEM(TextDataStored, string, EMIF_TYPE_STRING)};
inline constexpr record::Design kTextDataDesign = record::DesignOf<TextDataStored>("Eant_TextData", kTextDataItems);
static_assert(offsetof(TextDataStored, string) == offsetof(Eant_TextData, string) &&
              offsetof(Eant_CharStr, data) == offsetof(Eant_UnicodeStr, data));

struct TextStored {
  int32_t textStyle;
  Eevg_Coord *origin;
  double orientation, scale;
  Eevg_Align *alignment;
  TextDataStored *text;
};
struct Text2Stored {
  uint32_t flags;
  int32_t textStyle;
  Eevg_Coord *origin;
  double orientation;
  VectorData2Stored *coords;
  double scale;
  Eevg_Align *alignment;
  TextDataStored *text;
};
inline constexpr record::Item kTextItems[] = {
    TAVIRON_ITEM(TextStored, textStyle, EMIF_TYPE_S32),
    TAVIRON_ITEM(TextStored, origin, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kEevgCoord),
    TAVIRON_ITEM(TextStored, orientation, EMIF_TYPE_F64),
    TAVIRON_ITEM(TextStored, scale, EMIF_TYPE_F64),
    TAVIRON_ITEM(TextStored, alignment, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kEevgAlign),
    TAVIRON_ITEM(TextStored, text, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kTextDataDesign)};
inline constexpr record::Design kTextDesign = record::DesignOf<TextStored>("Eant_Text", kTextItems);
inline constexpr record::Item kText2Items[] = {
    TAVIRON_ITEM(Text2Stored, flags, EMIF_TYPE_U32),
    TAVIRON_ITEM(Text2Stored, textStyle, EMIF_TYPE_S32),
    TAVIRON_ITEM(Text2Stored, origin, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kEevgCoord),
    TAVIRON_ITEM(Text2Stored, orientation, EMIF_TYPE_F64),
    TAVIRON_ITEM(Text2Stored, coords, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kVectorData2Design),
    TAVIRON_ITEM(Text2Stored, scale, EMIF_TYPE_F64),
    TAVIRON_ITEM(Text2Stored, alignment, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kEevgAlign),
    TAVIRON_ITEM(Text2Stored, text, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kTextDataDesign)};
inline constexpr record::Design kText2Design = record::DesignOf<Text2Stored>("Text2", kText2Items);
static_assert(kTextDataDesign.Matches() && kTextDesign.Matches() && kText2Design.Matches());

// Turns a text data's string just read in its stored byte form back into UTF-16 (8-bit form
// widened, 16-bit form without its leading 0 unit); false after the report (under reporter and
// code) when the 16-bit form is damaged. A record without a string stays as it is.
bool TextDataWidenOnRead(Eant_TextData *data, const char *reporter, int32_t code, Eerr_ErrorReport **err);

// ---- Design definitions -------------------------------------------------------------------

// One design of a define operation, with the text its failure names after
// "Error returned from ": "emif_DefineObject" alone, or "emif_DefineObject for <design>".
struct DesignStep {
  const record::Design *design;
  bool namesDesign = false;
};

// Defines the designs in order (each with its nested designs first) and returns the last. The
// failure of step i is reported as code i + 1.
Emif_Design *DefineDesigns(Emif_Dictionary *dictionary, const char *reporter, std::initializer_list<DesignStep> steps,
                           Eerr_ErrorReport **err);

// ---- Element types -----------------------------------------------------------------------

} // namespace taviron::eant

// The filler of the element function table: a type supplies the static functions it supports,
// named after their slots (Copy, Print, Render, Free, Write, CoordIn, ...).
template <> struct taviron::lower::TableFiller<Eant_ElementFunctions> {
  template <class Type> static constexpr Eant_ElementFunctions Make() {
    Eant_ElementFunctions t{};
    TAVIRON_SLOT(t, Type, copyElement, Copy);
    TAVIRON_SLOT(t, Type, printElement, Print);
    TAVIRON_SLOT(t, Type, renderElement, Render);
    TAVIRON_SLOT(t, Type, free, Free);
    TAVIRON_SLOT(t, Type, writeElement, Write);
    TAVIRON_SLOT(t, Type, coordInElement, CoordIn);
    TAVIRON_SLOT(t, Type, setLineStyle, SetLineStyle);
    TAVIRON_SLOT(t, Type, setLineStyleAndRecalcBbox, SetLineStyleAndRecalcBbox);
    TAVIRON_SLOT(t, Type, setFillStyle, SetFillStyle);
    TAVIRON_SLOT(t, Type, setFillStyleAndRecalcBbox, SetFillStyleAndRecalcBbox);
    TAVIRON_SLOT(t, Type, setTextStyle, SetTextStyle);
    TAVIRON_SLOT(t, Type, setTextStyleAndHeight, SetTextStyleAndHeight);
    TAVIRON_SLOT(t, Type, setSymbolData, SetSymbolData);
    TAVIRON_SLOT(t, Type, calculateBbox, CalculateBbox);
    TAVIRON_SLOT(t, Type, selectStyle, SelectStyle);
    TAVIRON_SLOT(t, Type, copyStyle, CopyStyle);
    TAVIRON_SLOT(t, Type, copySymbolData, CopySymbolData);
    TAVIRON_SLOT(t, Type, updateInfo, UpdateInfo);
    TAVIRON_SLOT(t, Type, replaceValues, ReplaceValues);
    TAVIRON_SLOT(t, Type, convertToMap, ConvertToMap);
    TAVIRON_SLOT(t, Type, transformMap, TransformMap);
    TAVIRON_SLOT(t, Type, incrementCount, IncrementCount);
    TAVIRON_SLOT(t, Type, getTypeString, TypeString);
    TAVIRON_SLOT(t, Type, canBeFlipped, CanBeFlipped);
    TAVIRON_SLOT(t, Type, flipElement, Flip);
    TAVIRON_SLOT(t, Type, selectSingleStyleOnly, SelectSingleStyleOnly);
    TAVIRON_SLOT(t, Type, calculateBboxWithDrawing, CalculateBboxWithDrawing);
    return t;
  }
};

namespace taviron::eant {

// The element types of the package, one C++ type each: its code (kCode, an Eant_ElementType), a
// static function per slot it supports, named after the slot, and two that stand outside the
// table:
//   static void Read(Eant_AnnotationInfo *, Eant_FileIO *, Eant_Element *, Eerr_ErrorReport **);
//     (required) reads the type's entries below an element whose common part was just read,
//     sets the element's `functions` (ElementTypes::Of<Type>()) and `info`, and returns to the
//     element's entry unless the file is read sequentially (fileIO->versionFlags 1);
//   static int32_t CheckForSmartData(Eant_Element *, Eerr_ErrorReport **);
//     (optional, the text type) 1 when the element holds database fields.
// A type is declared here (its own file under annotation/elements/ defines it) and registered by
// adding it to this list; a group kind derives from the group type and replaces the slots it
// declares. The list reader finds a type by its code, and every element of a type points to the
// type's table.
// The vertex types (annotation/elements/eant_polyline.cpp, eant_polygon.cpp, eant_point.cpp):
// their slots are their exported operations. The table's style slot with the box recomputed takes
// a style number: it sets the style through the keyword list, as the reference form does.
#define TAVIRON_EANT_VERTEX_SLOTS(Kind)                                                            \
  static constexpr auto &Copy = eant_##Kind##ElementCopy;                                         \
  static constexpr auto &Print = eant_##Kind##ElementPrint;                                       \
  static constexpr auto &Render = eant_##Kind##ElementRender;                                     \
  static constexpr auto &Free = eant_##Kind##ElementFree;                                         \
  static constexpr auto &Write = eant_##Kind##ElementWrite;                                       \
  static constexpr auto &CoordIn = eant_CoordIn##Kind##Element;                                   \
  static constexpr auto &CalculateBbox = eant_##Kind##ElementBboxCalculateNoSave;                 \
  static constexpr auto &CopyStyle = eant_##Kind##ElementCopyStyleBetweenLibs;                    \
  static constexpr auto &UpdateInfo = eant_##Kind##ElementUpdateInfo;                             \
  static constexpr auto &ReplaceValues = eant_##Kind##ElementReplaceValues;                       \
  static constexpr auto &ConvertToMap = eant_##Kind##ElementConvertToMap;                         \
  static constexpr auto &TransformMap = eant_##Kind##ElementTransformMap;                         \
  static constexpr auto &IncrementCount = eant_##Kind##ElementIncrementCount;                     \
  static constexpr auto &TypeString = eant_##Kind##ElementGetTypeString;                          \
  static constexpr auto &CanBeFlipped = eant_##Kind##ElementCanBeFlipped;                         \
  static constexpr auto &Read = eant_##Kind##ElementRead;

struct PolylineType {
  static constexpr int32_t kCode = EANT_POLYLINE;
  TAVIRON_EANT_VERTEX_SLOTS(Polyline)
  static constexpr auto &SetLineStyle = eant_PolylineElementSetLineStyleByStyle;
  static constexpr auto &SelectStyle = eant_PolylineElementSelectLineStyle;
  static constexpr auto &SelectSingleStyleOnly = eant_PolylineElementSelectLineStyleOnly;
  static void SetLineStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                        Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) {
    eant_PolylineElementSetValues(info, element, conversion, err, EANT_ELEMKEY_LINESTYLE, number, EANT_ELEMKEY_END);
  }
};
struct PolygonType {
  static constexpr int32_t kCode = EANT_POLYGON;
  TAVIRON_EANT_VERTEX_SLOTS(Polygon)
  static constexpr auto &SetFillStyle = eant_PolygonElementSetFillStyleByStyle;
  static constexpr auto &SelectStyle = eant_PolygonElementSelectFillStyle;
  static constexpr auto &SelectSingleStyleOnly = eant_PolygonElementSelectFillStyleOnly;
  static void SetFillStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                        Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) {
    eant_PolygonElementSetValues(info, element, conversion, err, EANT_ELEMKEY_FILLSTYLE, number, EANT_ELEMKEY_END);
  }
};
struct PointType {
  static constexpr int32_t kCode = EANT_POINT;
  TAVIRON_EANT_VERTEX_SLOTS(Point)
  static constexpr auto &SetLineStyle = eant_PointElementSetLineStyleByStyle;
  static constexpr auto &SelectStyle = eant_PointElementSelectLineStyle;
  static constexpr auto &SelectSingleStyleOnly = eant_PointElementSelectLineStyleOnly;
  static void SetLineStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                        Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) {
    eant_PointElementSetValues(info, element, conversion, err, EANT_ELEMKEY_LINESTYLE, number, EANT_ELEMKEY_END);
  }
};
#undef TAVIRON_EANT_VERTEX_SLOTS

// The text element (annotation/elements/eant_text.cpp). Its style slots take a style number and
// set the style through the keyword list (the reference forms are exported).
struct TextType {
  static constexpr int32_t kCode = EANT_TEXT;
  static constexpr auto &Copy = eant_TextElementCopy;
  static constexpr auto &Print = eant_TextElementPrint;
  static constexpr auto &Render = eant_TextElementRender;
  static constexpr auto &Free = eant_TextElementFree;
  static constexpr auto &Write = eant_TextElementWrite;
  static constexpr auto &CoordIn = eant_CoordInTextElement;
  static constexpr auto &CalculateBbox = eant_TextElementBboxCalculateNoSave;
  static constexpr auto &CopyStyle = eant_TextElementCopyStyleBetweenLibs;
  static constexpr auto &UpdateInfo = eant_TextElementUpdateInfo;
  static constexpr auto &ReplaceValues = eant_TextElementReplaceValues;
  static constexpr auto &ConvertToMap = eant_TextElementConvertToMap;
  static constexpr auto &TransformMap = eant_TextElementTransformMap;
  static constexpr auto &IncrementCount = eant_TextElementIncrementCount;
  static constexpr auto &TypeString = eant_TextElementGetTypeString;
  static constexpr auto &CanBeFlipped = eant_TextElementCanBeFlipped;
  static constexpr auto &Flip = eant_TextElementFlip;
  static constexpr auto &CalculateBboxWithDrawing = eant_TextElementBboxCalculateWithDrawingNoSave;
  static constexpr auto &Read = eant_TextElementRead;
  static constexpr auto &CheckForSmartData = eant_TextElementCheckForSmartData;
  static void SetTextStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number, double height,
                           const char *units, Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) {
    eant_TextElementSetValues(info, element, conversion, err, EANT_ELEMKEY_SCALEUNITS, EEVG_OUTPUT, units,
                              EANT_ELEMKEY_TEXTSTYLE, number, EANT_ELEMKEY_TEXTSCALE, height, EANT_ELEMKEY_END);
  }
  static void SetTextStyleAndHeight(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number, double height,
                                    Eant_CoordDefinition *units, Eant_CoordSysConversion *conversion,
                                    Eerr_ErrorReport **err) {
    if (!units) return lower::Report(err, "eant_TextElementSetTextStyleHeightAndScaleUnitsByStyle", 1,
                                     "Invalide input textHeightScaleUnits");
    eant_TextElementSetValues(info, element, conversion, err, EANT_ELEMKEY_SCALEUNITS, units->coordSys,
                              Text(units->units), EANT_ELEMKEY_TEXTSTYLE, number, EANT_ELEMKEY_TEXTSCALE, height,
                              EANT_ELEMKEY_END);
  }
  static void SelectStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t, Eant_StyleUpdateFunction update,
                          void *updateData, Eerr_ErrorReport **err) {
    eant_TextElementSelectTextStyle(info, element, nullptr, update, updateData, err);
  }
  static int32_t SelectSingleStyleOnly(Eant_AnnotationInfo *info, Eant_Element *element, int32_t,
                                       Eerr_ErrorReport **err) {
    return eant_TextElementSelectTextStyleOnly(info, element, nullptr, err);
  }
};

// The group (annotation/elements/eant_group.cpp): its children act as one element.
struct GroupType {
  static constexpr int32_t kCode = EANT_GROUP;
  static constexpr auto &Copy = eant_GroupElementCopy;
  static constexpr auto &Print = eant_GroupElementPrint;
  static constexpr auto &Render = eant_GroupElementRender;
  static constexpr auto &Free = eant_GroupElementFree;
  static constexpr auto &Write = eant_GroupElementWrite;
  static constexpr auto &CoordIn = eant_CoordInGroupElement;
  static constexpr auto &SetLineStyle = eant_GroupElementSetLineStyleByStyle;
  static constexpr auto &SetLineStyleAndRecalcBbox = eant_GroupElementSetLineStyleByStyleAndRecalcBbox;
  static constexpr auto &SetFillStyle = eant_GroupElementSetFillStyleByStyle;
  static constexpr auto &SetFillStyleAndRecalcBbox = eant_GroupElementSetFillStyleByStyleAndRecalcBbox;
  static constexpr auto &SetTextStyle = eant_GroupElementSetTextStyleAndHeightByStyle;
  static constexpr auto &SetTextStyleAndHeight = eant_GroupElementSetTextStyleHeightAndScaleUnitsByStyle;
  static constexpr auto &SetSymbolData = eant_GroupElementSetSymbolDataScaleAndOverrideColor;
  static constexpr auto &CalculateBbox = eant_GroupElementBboxCalculateNoSave;
  static constexpr auto &SelectStyle = eant_GroupElementSelectStyle;
  static constexpr auto &CopyStyle = eant_GroupElementCopyStyleBetweenLibs;
  static constexpr auto &CopySymbolData = eant_GroupElementCopySymbolDataBetweenLibs;
  static constexpr auto &UpdateInfo = eant_GroupElementUpdateInfo;
  static constexpr auto &ReplaceValues = eant_GroupElementReplaceValues;
  static constexpr auto &ConvertToMap = eant_GroupElementConvertToMap;
  static constexpr auto &TransformMap = eant_GroupElementTransformMap;
  static constexpr auto &IncrementCount = eant_GroupElementIncrementCount;
  static constexpr auto &TypeString = eant_GroupElementGetTypeString;
  static constexpr auto &CanBeFlipped = eant_GroupElementCanBeFlipped;
  static constexpr auto &Flip = eant_GroupElementFlip;
  static constexpr auto &SelectSingleStyleOnly = eant_GroupElementSelectSingleStyleOnly;
  static constexpr auto &Read = eant_GroupElementRead;
};

using ElementTypes =
    lower::KindTables<Eant_ElementFunctions, PolylineType, PolygonType, PointType, TextType, GroupType>;

// The kinds of group (grid/tic, legend, scale bar), registered by adding them to this list. A kind
// derives from GroupType, replaces the slots it declares again, and names its Eant_GroupType as
// kCode (a code of this list, not an element type) and
//   static void ReadKind(Eant_AnnotationInfo *, Eant_FileIO *, Eant_Element *, Eerr_ErrorReport **);
// which the group reader calls with "Group Info" just read into the element's Eant_Group (the
// current entry): it reads the kind's parameter node and points the element to GroupKinds::Of<Kind>().
// A stored group of a type no kind has is refused ("Invalid groupType").
using GroupKinds = lower::KindTables<Eant_ElementFunctions>;

// What the package calls of a type outside its table.
using ElementReadFunction = void (*)(Eant_AnnotationInfo *, Eant_FileIO *, Eant_Element *, Eerr_ErrorReport **);
using SmartDataFunction = int32_t (*)(Eant_Element *, Eerr_ErrorReport **);
struct ElementTypeEntry {
  ElementReadFunction read = nullptr;
  SmartDataFunction checkForSmartData = nullptr; // null: the type holds no database fields
};
// The entry of the type with this code; false when no type has the code.
bool FindElementType(int32_t code, ElementTypeEntry &entry);

// A type registered by the tests in place of the package's type of the same code (null read:
// removed again). Only tests call it.
void SetTestElementType(int32_t code, ElementReadFunction read, SmartDataFunction checkForSmartData);

// The table of the type with this code, which elements the package makes itself get (a symbol
// element of a pattern tile or of a line symbol); null when no type has the code.
const Eant_ElementFunctions *ElementFunctionsOf(int32_t code);
// The table a test puts in place of the package's for the code (null: removed again). Only tests
// call it.
void SetTestElementFunctions(int32_t code, const Eant_ElementFunctions *functions);

// ---- The symbol element and symbol libraries, as the pattern tile and the line symbols use them

// The placement of a symbol element: what the symbol element's keyword factory is given by the
// pattern tile and the line symbols.
struct SymbolPlacement {
  int32_t scaleCoordSys;
  const char *scaleUnits; // may be null
  int32_t positionCoordSys;
  const char *positionUnits;
  double x, y;            // the centre, in position units
  double orientation;     // radians
  double scale;           // in scale units
  const Eant_Style *symbol; // the definition by reference, or null: by number
  int32_t number;
  int32_t colorOverrideFlag, overrideColor;
};
// Places the element (a new symbol element of the registered symbol type when null: "no symbol
// element type" without one) and recomputes its box through the conversion; null after the
// report (an element made by the call is freed).
Eant_Element *SymbolElementSetValues(Eant_AnnotationInfo *info, Eant_Element *element,
                                     Eant_CoordSysConversion *conversion, const SymbolPlacement &placement,
                                     Eerr_ErrorReport **err);
// The symbol library a reference names: the given one (may be null) when it names no file, else
// the loaded library of that name from the package's cache (a library not loaded yet is
// reported).
Eant_SymbolLibrary *SymbolLibraryGetFromStyle(Eint_InitToolkitData *toolkit, Eant_SymbolLibrary *library,
                                              const Eant_Style *reference, Eerr_ErrorReport **err);
// A copy of a symbol library: its names, style library, modified flag and definitions.
Eant_SymbolLibrary *SymbolLibraryCopy(const Eant_SymbolLibrary *source, Eerr_ErrorReport **err);

// ---- Boxes and polynomials ---------------------------------------------------------------

// A corner box that can be read: 2 x 4 f64.
inline bool IsCorners(const Egda_BaseData *m) {
  return m && m->rows == 2 && m->columns == 4 && m->pixelType == EGDA_TYPE_F64 && m->origin;
}
// An axis-aligned box that can be read: 2 x 2 f64.
inline bool IsBox(const Evec_Bbox *m) {
  return m && m->rows == 2 && m->columns == 2 && m->pixelType == EGDA_TYPE_F64 && m->origin;
}
// Element (row, column) of an f64 matrix (column-major: pitch bytes from column to column).
inline double &At(const Egda_BaseData *m, int32_t row, int32_t column) {
  return *reinterpret_cast<double *>(m->origin + static_cast<std::ptrdiff_t>(column) * m->pitch +
                                     static_cast<std::ptrdiff_t>(row) * m->elementSize);
}
// A first-order polynomial of two inputs and two outputs whose parts can be read.
bool IsAffine(const Efga_Polynomial *polynomial);

// Owners of the lower layer's objects made inside an operation.
struct MatrixDeleter {
  void operator()(Egda_BaseData *matrix) const noexcept { egda_BaseDataDelete(matrix, nullptr); }
};
using MatrixPtr = std::unique_ptr<Egda_BaseData, MatrixDeleter>;
struct BoxDeleter {
  void operator()(Evec_Bbox *box) const noexcept { evec_BboxDelete(box, nullptr); }
};
using BoxPtr = std::unique_ptr<Evec_Bbox, BoxDeleter>;
struct PolynomialDeleter {
  void operator()(Efga_Polynomial *polynomial) const noexcept { efga_PolynomialDelete(polynomial, nullptr); }
};
using PolynomialPtr = std::unique_ptr<Efga_Polynomial, PolynomialDeleter>;

// Frees an element made inside an operation: through its type when the type has a free slot, else
// its common part (a type that was never set, or a failed type reader, left the record alone).
inline void DiscardElement(Eant_Element *&element) {
  if (lower::SlotOf(element->functions, &Eant_ElementFunctions::free))
    eant_ElementFreeElement(&element);
  else
    eant_ElementFree(&element);
}

// Sets a group's corners from the union box of its children, (x0, y0), (x0, y1), (x1, y1),
// (x1, y0): the union's failure is reported under `code`, storing under code + 1.
bool SetGroupBoxFromChildren(const char *reporter, int32_t code, Eant_Element *group, Eerr_ErrorReport **err);

// ---- Reports and walks -------------------------------------------------------------------

// Like lower::ReportChained, with severity 1: a warning above the callee's chain.
void ReportWarning(Eerr_ErrorReport **err, lower::CalleeReport &inner, const char *reporter, int32_t code,
                   const char *format, ...) __attribute__((format(printf, 5, 6)));

// Calls visit(element) on every element of the list and of its child lists in preorder (an
// element, then its children, then its next sibling), without recursion; stops when visit returns
// false and returns false then.
template <class Visit> bool ForEachInPreorder(Eant_Element *list, Visit &&visit) {
  std::vector<Eant_Element *> resume; // the next siblings of the groups entered
  for (Eant_Element *at = list; at || !resume.empty();) {
    if (!at) {
      at = resume.back();
      resume.pop_back();
      continue;
    }
    if (!visit(at)) return false;
    if (at->child) {
      if (at->next) resume.push_back(at->next);
      at = at->child;
    } else {
      at = at->next;
    }
  }
  return true;
}

// ---- The style kinds of a style library --------------------------------------------------

// What a style library does with one of its four lists. Each kind (line styles, fill styles,
// text styles, colours) is one C++ type in eant_stylekind.cpp; StyleKinds registers them in the
// order the library stores its lists.
struct StyleKindFunctions {
  Edlm_List *Eant_StyleLibrary::*list;
  // Frees every style of the list, then the list.
  void (*freeList)(Edlm_List *list);
  // A new list of copies of the source's styles, empty slots kept (the target list is freed).
  Edlm_List *(*copyList)(Edlm_List *source, Edlm_List *target, Eerr_ErrorReport **err);
  // The array of the current stored form; one heap block, sharing the styles' parts.
  void *(*toArray)(Edlm_List *list, int32_t *count, Eerr_ErrorReport **err);
  // The converter of each library version's form (index: version 0 to 4).
  void (*fromArray[EANT_ANNOTATION_VERSION + 1])(void *array, int32_t count, Edlm_List *list, Eerr_ErrorReport **err);
  // The stored design of each library version's form.
  const record::Design *form[EANT_ANNOTATION_VERSION + 1];
  const char *toArrayName;                                  // for reports
  const char *fromArrayName[EANT_ANNOTATION_VERSION + 1];
  const char *listName; // "lineStyles", ... for reports
  // Adds the kind's default style to the library (a black colour for colours).
  void (*createDefault)(Eant_StyleLibrary *library, Eerr_ErrorReport **err);
  const char *createDefaultName; // for reports
};

// The kinds, in the order of the library's stored lists.
enum StyleKindCode : int32_t { kLineStyles = 0, kFillStyles = 1, kTextStyles = 2, kColors = 3 };
inline constexpr int32_t kStyleKindCount = 4;
// The table of a kind (by code, in the order above).
const StyleKindFunctions &StyleKind(int32_t code);

} // namespace taviron::eant

// Operations of the package that its units share and its interface does not offer.
extern "C" {
// A bare element: every field cleared, info set, rowNumber -1 (the readers start from it).
Eant_Element *eant_ElementStructureCreate(Eant_AnnotationInfo *info, Eerr_ErrorReport **err);
// A new measuring drawing whose world is the box (null: (0, 0) to (1000, 1000)).
Eevg_Drawing *eant_CreateFakeEevgDrawingFromBoundingBox(const Evec_Bbox *box, Eevg_Control *control,
                                                        Eerr_ErrorReport **err);
// The undo records of the editing operations: a transformation (the element and the inverse of the
// polynomial just applied) and a modification (the element and its backup, which the record
// takes). The undo stack they push onto is still to come: for now they record nothing.
void eant_UndoSetupUndoTransformation(Eant_AnnotationInfo *info, Eant_Element *element,
                                      const Efga_Polynomial *polynomial, Eerr_ErrorReport **err);
void eant_UndoSetupUndoModification(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Element *backup,
                                    Eerr_ErrorReport **err);
}

#endif
