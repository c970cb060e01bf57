// The stored designs of the map furniture's parameter records: grid/tic, legend and scale bar,
// each in every version a layer may hold (oldest first), each described once by its item table.
#include "eant_internal.h"

namespace record = taviron::record;
using namespace taviron::eant;

namespace {

struct Matrices {
  int32_t count;
  Egda_BaseData *data;
};

// ---- Grid/tic ----

constexpr const char *kUnitTypes[] = {"GT_METERS", "GT_FEET", "GT_DMS", "GT_DD"};

struct GridTic {
  int32_t frameID;
  Eant_CharStr units;
  int32_t neatLineFlag;
  double neatLineMargin;
  int32_t neatLineStyle, horizLineStyle, vertLineStyle, labelTextStyle;
  int32_t horizFullGrid;
  double horizLengthOutside, horizLengthInside, horizLengthIntersect, horizStartPos, horizSpacing;
  int32_t vertFullGrid;
  double vertLengthOutside, vertLengthInside, vertLengthIntersect, vertStartPos, vertSpacing;
};
struct GridTic2 {
  int32_t frameID;
  uint32_t flags;
  Eant_CharStr units;
  int32_t neatLineFlag;
  double neatLineMargin;
  int32_t neatLineStyle, horizLineStyle, vertLineStyle, labelTextStyle;
  int32_t horizFullGrid;
  double horizLengthOutside, horizLengthInside, horizLengthIntersect, horizStartPos, horizSpacing;
  int32_t horizNumberOfTics;
  int32_t vertFullGrid;
  double vertLengthOutside, vertLengthInside, vertLengthIntersect, vertStartPos, vertSpacing;
  int32_t vertNumberOfTics;
};
struct GridTic3 {
  int32_t frameID;
  uint32_t flags;
  Eant_CharStr units;
  int32_t neatLineFlag;
  double neatLineMargin;
  int32_t neatLineStyle, horizLineStyle, vertLineStyle, labelTextStyle;
  int32_t horizFullGrid;
  double horizLengthOutside, horizLengthInside, horizLengthIntersect, horizStartPos, horizSpacing;
  int32_t horizNumberOfTics;
  Eant_CharStr horizLabels;
  int32_t vertFullGrid;
  double vertLengthOutside, vertLengthInside, vertLengthIntersect, vertStartPos, vertSpacing;
  int32_t vertNumberOfTics;
  Eant_CharStr vertLabels;
  double labelMargin;
  Eant_CharStr sizeUnits;
  double labelSize;
  Eant_CoordDefinition *labelSizeUnits;
  Egda_BaseData *frameCorners;
  Egda_BaseData *frameDataCorners;
  int32_t unitType;
};
struct GridTic4 {
  int32_t frameID;
  uint32_t flags;
  Eant_CharStr units;
  int32_t neatLineFlag;
  double neatLineMargin;
  int32_t neatLineStyle, horizLineStyle, vertLineStyle, labelTextStyle;
  int32_t horizFullGrid;
  double horizLengthOutside, horizLengthInside, horizLengthIntersect, horizStartPos, horizSpacing;
  int32_t horizNumberOfTics;
  Eant_CharStr horizLabels;
  int32_t vertFullGrid;
  double vertLengthOutside, vertLengthInside, vertLengthIntersect, vertStartPos, vertSpacing;
  int32_t vertNumberOfTics;
  Eant_CharStr vertLabels;
  double labelMargin;
  Eant_CharStr sizeUnits;
  double labelSize;
  Eant_CoordDefinition *labelSizeUnits;
  Egda_BaseData *frameCorners;
  Egda_BaseData *frameDataCorners;
  Matrices frameSides;
  int32_t unitType;
};

#define TAVIRON_EANT_GRID_FRAME(R)                                                                 \
  TAVIRON_ITEM(R, units, EMIF_TYPE_STRING), TAVIRON_ITEM(R, neatLineFlag, EMIF_TYPE_ENUM).Enum(kBooleans), \
      TAVIRON_ITEM(R, neatLineMargin, EMIF_TYPE_F64), TAVIRON_ITEM(R, neatLineStyle, EMIF_TYPE_S32), \
      TAVIRON_ITEM(R, horizLineStyle, EMIF_TYPE_S32), TAVIRON_ITEM(R, vertLineStyle, EMIF_TYPE_S32), \
      TAVIRON_ITEM(R, labelTextStyle, EMIF_TYPE_S32)
#define TAVIRON_EANT_GRID_AXIS(R, axis)                                                            \
  TAVIRON_ITEM(R, axis##FullGrid, EMIF_TYPE_ENUM).Enum(kBooleans),                                  \
      TAVIRON_ITEM(R, axis##LengthOutside, EMIF_TYPE_F64), TAVIRON_ITEM(R, axis##LengthInside, EMIF_TYPE_F64), \
      TAVIRON_ITEM(R, axis##LengthIntersect, EMIF_TYPE_F64), TAVIRON_ITEM(R, axis##StartPos, EMIF_TYPE_F64), \
      TAVIRON_ITEM(R, axis##Spacing, EMIF_TYPE_F64)
#define TAVIRON_EANT_GRID_LABELS(R)                                                                \
  TAVIRON_ITEM(R, labelMargin, EMIF_TYPE_F64), TAVIRON_ITEM(R, sizeUnits, EMIF_TYPE_STRING),        \
      TAVIRON_ITEM(R, labelSize, EMIF_TYPE_F64),                                                   \
      TAVIRON_ITEM(R, labelSizeUnits, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kCoordDefinition),    \
      TAVIRON_ITEM(R, frameCorners, EMIF_POINTER + EMIF_TYPE_BASEDATA),                             \
      TAVIRON_ITEM(R, frameDataCorners, EMIF_POINTER + EMIF_TYPE_BASEDATA)

constexpr record::Item kGridTicItems[] = {TAVIRON_ITEM(GridTic, frameID, EMIF_TYPE_S32), TAVIRON_EANT_GRID_FRAME(GridTic),
                                          TAVIRON_EANT_GRID_AXIS(GridTic, horiz), TAVIRON_EANT_GRID_AXIS(GridTic, vert)};
constexpr record::Item kGridTic2Items[] = {
    TAVIRON_ITEM(GridTic2, frameID, EMIF_TYPE_S32),        TAVIRON_ITEM(GridTic2, flags, EMIF_TYPE_U32),
    TAVIRON_EANT_GRID_FRAME(GridTic2),                     TAVIRON_EANT_GRID_AXIS(GridTic2, horiz),
    TAVIRON_ITEM(GridTic2, horizNumberOfTics, EMIF_TYPE_S32), TAVIRON_EANT_GRID_AXIS(GridTic2, vert),
    TAVIRON_ITEM(GridTic2, vertNumberOfTics, EMIF_TYPE_S32)};
constexpr record::Item kGridTic3Items[] = {
    TAVIRON_ITEM(GridTic3, frameID, EMIF_TYPE_S32),         TAVIRON_ITEM(GridTic3, flags, EMIF_TYPE_U32),
    TAVIRON_EANT_GRID_FRAME(GridTic3),                      TAVIRON_EANT_GRID_AXIS(GridTic3, horiz),
    TAVIRON_ITEM(GridTic3, horizNumberOfTics, EMIF_TYPE_S32), TAVIRON_ITEM(GridTic3, horizLabels, EMIF_TYPE_STRING),
    TAVIRON_EANT_GRID_AXIS(GridTic3, vert),                 TAVIRON_ITEM(GridTic3, vertNumberOfTics, EMIF_TYPE_S32),
    TAVIRON_ITEM(GridTic3, vertLabels, EMIF_TYPE_STRING),   TAVIRON_EANT_GRID_LABELS(GridTic3),
    TAVIRON_ITEM(GridTic3, unitType, EMIF_TYPE_ENUM).Enum(kUnitTypes)};
constexpr record::Item kGridTic4Items[] = {
    TAVIRON_ITEM(GridTic4, frameID, EMIF_TYPE_S32),         TAVIRON_ITEM(GridTic4, flags, EMIF_TYPE_U32),
    TAVIRON_EANT_GRID_FRAME(GridTic4),                      TAVIRON_EANT_GRID_AXIS(GridTic4, horiz),
    TAVIRON_ITEM(GridTic4, horizNumberOfTics, EMIF_TYPE_S32), TAVIRON_ITEM(GridTic4, horizLabels, EMIF_TYPE_STRING),
    TAVIRON_EANT_GRID_AXIS(GridTic4, vert),                 TAVIRON_ITEM(GridTic4, vertNumberOfTics, EMIF_TYPE_S32),
    TAVIRON_ITEM(GridTic4, vertLabels, EMIF_TYPE_STRING),   TAVIRON_EANT_GRID_LABELS(GridTic4),
    TAVIRON_ITEM(GridTic4, frameSides, EMIF_COUNTED_ARRAY + EMIF_TYPE_BASEDATA),
    TAVIRON_ITEM(GridTic4, unitType, EMIF_TYPE_ENUM).Enum(kUnitTypes)};
#undef TAVIRON_EANT_GRID_FRAME
#undef TAVIRON_EANT_GRID_AXIS
#undef TAVIRON_EANT_GRID_LABELS
constexpr record::Design kGridTic = record::DesignOf<GridTic>("Eant_GridTic", kGridTicItems);
constexpr record::Design kGridTic2 = record::DesignOf<GridTic2>("GridTic2", kGridTic2Items);
constexpr record::Design kGridTic3 = record::DesignOf<GridTic3>("GridTic3", kGridTic3Items);
constexpr record::Design kGridTic4 = record::DesignOf<GridTic4>("GridTic4", kGridTic4Items);
static_assert(kGridTic.Matches() && kGridTic2.Matches() && kGridTic3.Matches() && kGridTic4.Matches());

// ---- Legend ----

struct Legend {
  int32_t frameID;
  int32_t titleTextStyle, columnnameTextStyle, descriptorTextStyle, neatLineStyle;
  Eant_CharStr title;
  int32_t titleAlignment, neatlineFlag;
  double titleNeatlineGap, titleRowGap, columnnameEntryGap;
  int32_t multiColumnFlag, numEntriesPerCol;
  double entryGap, entryColumnGap;
  int32_t leftColorPatch, rightColorPatch, text2patchAlignment;
  double patchWidth, patchHeight;
  int32_t patchOutline;
  double patchTextGap;
  int32_t textStackFlag;
  double textGap;
  Eant_CharStr sizeUnits;
};
struct Legend2 {
  int32_t frameID;
  uint32_t flags;
  int32_t titleTextStyle, columnnameTextStyle, descriptorTextStyle, neatLineStyle;
  Eant_CharStr title;
  int32_t titleAlignment, neatlineFlag;
  double titleNeatlineGap, titleRowGap;
  int32_t singleColumnName;
  double columnnameEntryGap;
  int32_t multiColumnFlag, numEntriesPerCol;
  double entryGap, entryColumnGap;
  int32_t leftColorPatch, rightColorPatch, text2patchAlignment;
  double patchWidth, patchHeight;
  int32_t patchOutline;
  double patchTextGap;
  int32_t textStackFlag;
  double textGap;
  Eant_CharStr sizeUnits;
};
struct Legend4 {
  int32_t frameID;
  uint32_t flags;
  int32_t titleTextStyle, columnnameTextStyle, descriptorTextStyle, neatLineStyle;
  Eant_CharStr title;
  int32_t titleAlignment, neatlineFlag;
  double titleNeatlineGap, titleRowGap;
  int32_t singleColumnName;
  double columnnameEntryGap;
  int32_t multiColumnFlag, numEntriesPerCol;
  double entryGap, entryColumnGap;
  int32_t leftColorPatch, rightColorPatch, text2patchAlignment;
  double patchWidth, patchHeight;
  int32_t patchOutline;
  double patchTextGap;
  int32_t textStackFlag;
  double textGap;
  Eant_CharStr sizeUnits;
  int32_t otherPatchOutline;
};

constexpr const char *kXAlignments[] = {"EEVG_LEFT", "EEVG_XCENTER", "EEVG_RIGHT"};
constexpr const char *kYAlignments[] = {"EEVG_TOP", "EEVG_YCENTER", "EEVG_BOTTOM"};
#define TAVIRON_EANT_LEGEND_STYLES(R)                                                              \
  TAVIRON_ITEM(R, titleTextStyle, EMIF_TYPE_S32), TAVIRON_ITEM(R, columnnameTextStyle, EMIF_TYPE_S32), \
      TAVIRON_ITEM(R, descriptorTextStyle, EMIF_TYPE_S32), TAVIRON_ITEM(R, neatLineStyle, EMIF_TYPE_S32), \
      TAVIRON_ITEM(R, title, EMIF_TYPE_STRING), TAVIRON_ITEM(R, titleAlignment, EMIF_TYPE_ENUM).Enum(kXAlignments), \
      TAVIRON_ITEM(R, neatlineFlag, EMIF_TYPE_ENUM).Enum(kBooleans),                                \
      TAVIRON_ITEM(R, titleNeatlineGap, EMIF_TYPE_F64), TAVIRON_ITEM(R, titleRowGap, EMIF_TYPE_F64)
#define TAVIRON_EANT_LEGEND_ENTRIES(R)                                                             \
  TAVIRON_ITEM(R, columnnameEntryGap, EMIF_TYPE_F64),                                              \
      TAVIRON_ITEM(R, multiColumnFlag, EMIF_TYPE_ENUM).Enum(kBooleans),                             \
      TAVIRON_ITEM(R, numEntriesPerCol, EMIF_TYPE_S32), TAVIRON_ITEM(R, entryGap, EMIF_TYPE_F64),    \
      TAVIRON_ITEM(R, entryColumnGap, EMIF_TYPE_F64),                                              \
      TAVIRON_ITEM(R, leftColorPatch, EMIF_TYPE_ENUM).Enum(kBooleans),                              \
      TAVIRON_ITEM(R, rightColorPatch, EMIF_TYPE_ENUM).Enum(kBooleans),                             \
      TAVIRON_ITEM(R, text2patchAlignment, EMIF_TYPE_ENUM).Enum(kYAlignments),                      \
      TAVIRON_ITEM(R, patchWidth, EMIF_TYPE_F64), TAVIRON_ITEM(R, patchHeight, EMIF_TYPE_F64),       \
      TAVIRON_ITEM(R, patchOutline, EMIF_TYPE_ENUM).Enum(kBooleans),                                \
      TAVIRON_ITEM(R, patchTextGap, EMIF_TYPE_F64),                                                \
      TAVIRON_ITEM(R, textStackFlag, EMIF_TYPE_ENUM).Enum(kBooleans),                               \
      TAVIRON_ITEM(R, textGap, EMIF_TYPE_F64), TAVIRON_ITEM(R, sizeUnits, EMIF_TYPE_STRING)
constexpr record::Item kLegendItems[] = {TAVIRON_ITEM(Legend, frameID, EMIF_TYPE_S32), TAVIRON_EANT_LEGEND_STYLES(Legend),
                                         TAVIRON_EANT_LEGEND_ENTRIES(Legend)};
constexpr record::Item kLegend2Items[] = {
    TAVIRON_ITEM(Legend2, frameID, EMIF_TYPE_S32), TAVIRON_ITEM(Legend2, flags, EMIF_TYPE_U32),
    TAVIRON_EANT_LEGEND_STYLES(Legend2), TAVIRON_ITEM(Legend2, singleColumnName, EMIF_TYPE_ENUM).Enum(kBooleans),
    TAVIRON_EANT_LEGEND_ENTRIES(Legend2)};
constexpr record::Item kLegend4Items[] = {
    TAVIRON_ITEM(Legend4, frameID, EMIF_TYPE_S32), TAVIRON_ITEM(Legend4, flags, EMIF_TYPE_U32),
    TAVIRON_EANT_LEGEND_STYLES(Legend4), TAVIRON_ITEM(Legend4, singleColumnName, EMIF_TYPE_ENUM).Enum(kBooleans),
    TAVIRON_EANT_LEGEND_ENTRIES(Legend4), TAVIRON_ITEM(Legend4, otherPatchOutline, EMIF_TYPE_ENUM).Enum(kBooleans)};
#undef TAVIRON_EANT_LEGEND_STYLES
#undef TAVIRON_EANT_LEGEND_ENTRIES
constexpr record::Design kLegend = record::DesignOf<Legend>("Eant_Legend", kLegendItems);
constexpr record::Design kLegend2 = record::DesignOf<Legend2>("Legend2", kLegend2Items);
constexpr record::Design kLegend4 = record::DesignOf<Legend4>("Legend4", kLegend4Items);
static_assert(kLegend.Matches() && kLegend2.Matches() && kLegend4.Matches());

// ---- Scale bar ----

struct ScaleBar {
  int32_t frameID;
  int32_t titleTextStyle, unitsTextStyle;
  Eant_CharStr title;
  int32_t rfFlag;
  Eant_CharStr alignment;
  int32_t kilometers, meters, miles, nauticalMiles, feet, yards;
  double maxLength;
};
struct ScaleBar2 {
  int32_t frameID;
  uint32_t flags;
  int32_t titleTextStyle, unitsTextStyle;
  Eant_CharStr title;
  int32_t rfFlag;
  Eant_CharStr alignment;
  int32_t kilometers, meters, miles, nauticalMiles, feet, yards;
  double maxLength;
};
struct ScaleBar3 {
  int32_t frameID;
  uint32_t flags;
  int32_t titleTextStyle, unitsTextStyle;
  Eant_CharStr title;
  int32_t rfFlag;
  Eant_CharStr alignment;
  int32_t kilometers, meters, miles, nauticalMiles, feet, yards;
  double maxLength;
  Eant_CharStr maxLengthUnits;
  Eevg_Coord *upperLeft;
  double mapScale, barRectHeight, barMargin, titleTextScale, unitsTextScale, textMargin;
  Eant_CharStr sizeUnits;
  int32_t red, green, blue;
};
#define TAVIRON_EANT_SCALEBAR_ITEMS(R)                                                             \
  TAVIRON_ITEM(R, titleTextStyle, EMIF_TYPE_S32), TAVIRON_ITEM(R, unitsTextStyle, EMIF_TYPE_S32),   \
      TAVIRON_ITEM(R, title, EMIF_TYPE_STRING), TAVIRON_ITEM(R, rfFlag, EMIF_TYPE_ENUM).Enum(kBooleans), \
      TAVIRON_ITEM(R, alignment, EMIF_TYPE_STRING),                                                \
      TAVIRON_ITEM(R, kilometers, EMIF_TYPE_ENUM).Enum(kBooleans),                                  \
      TAVIRON_ITEM(R, meters, EMIF_TYPE_ENUM).Enum(kBooleans),                                      \
      TAVIRON_ITEM(R, miles, EMIF_TYPE_ENUM).Enum(kBooleans),                                       \
      TAVIRON_ITEM(R, nauticalMiles, EMIF_TYPE_ENUM).Enum(kBooleans),                               \
      TAVIRON_ITEM(R, feet, EMIF_TYPE_ENUM).Enum(kBooleans),                                        \
      TAVIRON_ITEM(R, yards, EMIF_TYPE_ENUM).Enum(kBooleans), TAVIRON_ITEM(R, maxLength, EMIF_TYPE_F64)
constexpr record::Item kScaleBarItems[] = {TAVIRON_ITEM(ScaleBar, frameID, EMIF_TYPE_S32),
                                           TAVIRON_EANT_SCALEBAR_ITEMS(ScaleBar)};
constexpr record::Item kScaleBar2Items[] = {TAVIRON_ITEM(ScaleBar2, frameID, EMIF_TYPE_S32),
                                            TAVIRON_ITEM(ScaleBar2, flags, EMIF_TYPE_U32),
                                            TAVIRON_EANT_SCALEBAR_ITEMS(ScaleBar2)};
constexpr record::Item kScaleBar3Items[] = {
    TAVIRON_ITEM(ScaleBar3, frameID, EMIF_TYPE_S32),
    TAVIRON_ITEM(ScaleBar3, flags, EMIF_TYPE_U32),
    TAVIRON_EANT_SCALEBAR_ITEMS(ScaleBar3),
    TAVIRON_ITEM(ScaleBar3, maxLengthUnits, EMIF_TYPE_STRING),
    TAVIRON_ITEM(ScaleBar3, upperLeft, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kEevgCoord),
    TAVIRON_ITEM(ScaleBar3, mapScale, EMIF_TYPE_F64),
    TAVIRON_ITEM(ScaleBar3, barRectHeight, EMIF_TYPE_F64),
    TAVIRON_ITEM(ScaleBar3, barMargin, EMIF_TYPE_F64),
    TAVIRON_ITEM(ScaleBar3, titleTextScale, EMIF_TYPE_F64),
    TAVIRON_ITEM(ScaleBar3, unitsTextScale, EMIF_TYPE_F64),
    TAVIRON_ITEM(ScaleBar3, textMargin, EMIF_TYPE_F64),
    TAVIRON_ITEM(ScaleBar3, sizeUnits, EMIF_TYPE_STRING),
    TAVIRON_ITEM(ScaleBar3, red, EMIF_TYPE_S32),
    TAVIRON_ITEM(ScaleBar3, green, EMIF_TYPE_S32),
    TAVIRON_ITEM(ScaleBar3, blue, EMIF_TYPE_S32)};
#undef TAVIRON_EANT_SCALEBAR_ITEMS
constexpr record::Design kScaleBar = record::DesignOf<ScaleBar>("Eant_ScaleBar", kScaleBarItems);
constexpr record::Design kScaleBar2 = record::DesignOf<ScaleBar2>("ScaleBar2", kScaleBar2Items);
constexpr record::Design kScaleBar3 = record::DesignOf<ScaleBar3>("ScaleBar3", kScaleBar3Items);
static_assert(kScaleBar.Matches() && kScaleBar2.Matches() && kScaleBar3.Matches());

} // namespace

extern "C" {

Emif_Design *eant_GridTicDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_GridTicDesignDefine", {{&kGridTic}, {&kGridTic2}, {&kGridTic3}, {&kGridTic4}},
                       err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_LegendDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_LegendDesignDefine", {{&kLegend}, {&kLegend2}, {&kLegend4}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_ScaleBarDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_ScaleBarDesignDefine", {{&kScaleBar}, {&kScaleBar2}, {&kScaleBar3}}, err);
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
