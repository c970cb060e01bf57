// The stored designs of the element types' records, each described once by its item table: the
// vector data (described in eant_internal.h, for the vertex types and the text nest it), the text
// data, and the records of rectangles, ellipses, polygons, polylines, points, arcs, texts,
// symbols and groups (the old design of a type first, then the current one).
#include "eant_internal.h"

namespace record = taviron::record;
using namespace taviron::eant;

namespace {

// ---- Text data ----

// (the design is in eant_internal.h: the text element reads and writes it)

// ---- Shapes placed by a centre ----

struct Rectangle {
  int32_t fillStyle;
  Eevg_Coord *center;
  double width, height, orientation;
};
struct Rectangle2 {
  uint32_t flags;
  int32_t fillStyle;
  Eevg_Coord *center;
  double width, height, orientation;
};
#define TAVIRON_EANT_RECTANGLE_ITEMS(Record)                                                       \
  TAVIRON_ITEM(Record, fillStyle, EMIF_TYPE_S32),                                                  \
      TAVIRON_ITEM(Record, center, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kEevgCoord),             \
      TAVIRON_ITEM(Record, width, EMIF_TYPE_F64), TAVIRON_ITEM(Record, height, EMIF_TYPE_F64),      \
      TAVIRON_ITEM(Record, orientation, EMIF_TYPE_F64)
constexpr record::Item kRectangleItems[] = {TAVIRON_EANT_RECTANGLE_ITEMS(Rectangle)};
constexpr record::Design kRectangle = record::DesignOf<Rectangle>("Eant_Rectangle", kRectangleItems);
constexpr record::Item kRectangle2Items[] = {TAVIRON_ITEM(Rectangle2, flags, EMIF_TYPE_U32),
                                             TAVIRON_EANT_RECTANGLE_ITEMS(Rectangle2)};
constexpr record::Design kRectangle2 = record::DesignOf<Rectangle2>("Rectangle2", kRectangle2Items);

struct Ellipse {
  int32_t fillStyle;
  Eevg_Coord *center;
  double semiMajorAxis, semiMinorAxis, orientation;
};
struct Ellipse2 {
  uint32_t flags;
  int32_t fillStyle;
  Eevg_Coord *center;
  double semiMajorAxis, semiMinorAxis, orientation;
};
#define TAVIRON_EANT_ELLIPSE_ITEMS(Record)                                                         \
  TAVIRON_ITEM(Record, fillStyle, EMIF_TYPE_S32),                                                  \
      TAVIRON_ITEM(Record, center, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kEevgCoord),             \
      TAVIRON_ITEM(Record, semiMajorAxis, EMIF_TYPE_F64), TAVIRON_ITEM(Record, semiMinorAxis, EMIF_TYPE_F64), \
      TAVIRON_ITEM(Record, orientation, EMIF_TYPE_F64)
constexpr record::Item kEllipseItems[] = {TAVIRON_EANT_ELLIPSE_ITEMS(Ellipse)};
constexpr record::Design kEllipse = record::DesignOf<Ellipse>("Eant_Ellipse", kEllipseItems);
constexpr record::Item kEllipse2Items[] = {TAVIRON_ITEM(Ellipse2, flags, EMIF_TYPE_U32),
                                           TAVIRON_EANT_ELLIPSE_ITEMS(Ellipse2)};
constexpr record::Design kEllipse2 = record::DesignOf<Ellipse2>("Ellipse2", kEllipse2Items);

constexpr const char *kArcTypes[] = {"EEVG_ARC_ONLY", "EEVG_ARC_PIE", "EEVG_ARC_CHORD"};
struct Arc {
  uint32_t flags;
  int32_t lineStyle;
  Eevg_Coord *center;
  double semiMajorAxis, semiMinorAxis, orientation, startAngle, endAngle;
  int32_t type;
};
constexpr record::Item kArcItems[] = {
    TAVIRON_ITEM(Arc, flags, EMIF_TYPE_U32),
    TAVIRON_ITEM(Arc, lineStyle, EMIF_TYPE_S32),
    TAVIRON_ITEM(Arc, center, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kEevgCoord),
    TAVIRON_ITEM(Arc, semiMajorAxis, EMIF_TYPE_F64),
    TAVIRON_ITEM(Arc, semiMinorAxis, EMIF_TYPE_F64),
    TAVIRON_ITEM(Arc, orientation, EMIF_TYPE_F64),
    TAVIRON_ITEM(Arc, startAngle, EMIF_TYPE_F64),
    TAVIRON_ITEM(Arc, endAngle, EMIF_TYPE_F64),
    TAVIRON_ITEM(Arc, type, EMIF_TYPE_ENUM).Enum(kArcTypes)};
constexpr record::Design kArc = record::DesignOf<Arc>("Eant_Arc", kArcItems);

// ---- Shapes of vertices: a style number and the coordinates ----

// The old and the current design of a vertex shape, its style item named `style` and its
// coordinates `coords`.
#define TAVIRON_EANT_VERTICES(Name, Old, Current, styleItem, coordsItem)                                   \
  constexpr record::Item k##Name##Items[] = {                                                      \
      TAVIRON_ITEM(VerticesStored, style, EMIF_TYPE_S32).Named(#styleItem),                                   \
      TAVIRON_ITEM(VerticesStored, coords, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kVectorDataDesign).Named(#coordsItem)}; \
  constexpr record::Design k##Name = record::DesignOf<VerticesStored>(Old, k##Name##Items);               \
  constexpr record::Item k##Name##2Items[] = {                                                     \
      TAVIRON_ITEM(Vertices2Stored, flags, EMIF_TYPE_U32),                                                \
      TAVIRON_ITEM(Vertices2Stored, style, EMIF_TYPE_S32).Named(#styleItem),                                  \
      TAVIRON_ITEM(Vertices2Stored, coords, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kVectorData2Design).Named(#coordsItem)}; \
  constexpr record::Design k##Name##2 = record::DesignOf<Vertices2Stored>(Current, k##Name##2Items);
TAVIRON_EANT_VERTICES(Polygon, "Polygon_Eant", "Polygon2", fillStyle, coords)
TAVIRON_EANT_VERTICES(Polyline, "Polyline_Eant", "Polyline2", lineStyle, coords)
TAVIRON_EANT_VERTICES(Point, "Point_Eant", "Point2", lineStyle, coord)
#undef TAVIRON_EANT_VERTICES

// ---- Texts, symbols, groups ----

// (the text records are in eant_internal.h: the text element reads and writes them)


struct Symbol {
  Eevg_Coord *center;
  double orientation, scale;
  int32_t symbolData;
};
struct Symbol2 {
  uint32_t flags;
  Eevg_Coord *center;
  double orientation, scale;
  int32_t symbolData;
  int32_t colorOverrideFlag;
  int32_t overrideColor;
};
constexpr record::Item kSymbolItems[] = {
    TAVIRON_ITEM(Symbol, center, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kEevgCoord),
    TAVIRON_ITEM(Symbol, orientation, EMIF_TYPE_F64), TAVIRON_ITEM(Symbol, scale, EMIF_TYPE_F64),
    TAVIRON_ITEM(Symbol, symbolData, EMIF_TYPE_S32)};
constexpr record::Design kSymbol = record::DesignOf<Symbol>("Eant_Symbol", kSymbolItems);
constexpr record::Item kSymbol2Items[] = {
    TAVIRON_ITEM(Symbol2, flags, EMIF_TYPE_U32),
    TAVIRON_ITEM(Symbol2, center, EMIF_POINTER + EMIF_TYPE_OBJECT).Nested(kEevgCoord),
    TAVIRON_ITEM(Symbol2, orientation, EMIF_TYPE_F64),
    TAVIRON_ITEM(Symbol2, scale, EMIF_TYPE_F64),
    TAVIRON_ITEM(Symbol2, symbolData, EMIF_TYPE_S32),
    TAVIRON_ITEM(Symbol2, colorOverrideFlag, EMIF_TYPE_ENUM).Enum(kBooleans),
    TAVIRON_ITEM(Symbol2, overrideColor, EMIF_TYPE_S32)};
constexpr record::Design kSymbol2 = record::DesignOf<Symbol2>("Symbol2", kSymbol2Items);

constexpr const char *kGroupTypes[] = {"EANT_UNDEFINEDGROUPTYPE", "EANT_GRIDTIC", "EANT_LEGEND", "EANT_SCALEBAR",
                                       "EANT_GCP"};
struct Group {
  int32_t type;
};
constexpr record::Item kGroupItems[] = {TAVIRON_ITEM(Group, type, EMIF_TYPE_ENUM).Enum(kGroupTypes)};
constexpr record::Design kGroup = record::DesignOf<Group>("Group_Eant", kGroupItems);

static_assert(kRectangle.Matches() && kRectangle2.Matches() && kEllipse.Matches() && kEllipse2.Matches());
static_assert(kArc.Matches() && kPolygon.Matches() && kPolygon2.Matches() && kPolyline.Matches());
static_assert(kPolyline2.Matches() && kPoint.Matches() && kPoint2.Matches());
static_assert(kSymbol.Matches() && kSymbol2.Matches() && kGroup.Matches());

} // namespace

extern "C" {

Emif_Design *eant_VectorDataDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_VectorDataDesignDefine",
                       {{&kVectorDataDesign, true}, {&kVectorData2Design, true}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_TextDataDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_TextDataDesignDefine", {{&kTextDataDesign}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_RectangleDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_RectangleDesignDefine", {{&kRectangle}, {&kRectangle2}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_EllipseDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_EllipseDesignDefine", {{&kEllipse}, {&kEllipse2}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_PolygonDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_PolygonDesignDefine", {{&kPolygon}, {&kPolygon2}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_PolylineDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_PolylineDesignDefine", {{&kPolyline}, {&kPolyline2}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_PointDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_PointDesignDefine", {{&kPoint}, {&kPoint2}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_ArcDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_ArcDesignDefine", {{&kArc}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_TextDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_TextDesignDefine", {{&kTextDesign, true}, {&kText2Design, true}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_SymbolDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_SymbolDesignDefine", {{&kSymbol}, {&kSymbol2}}, err);
} TAVIRON_GUARD(err, nullptr)

Emif_Design *eant_GroupDesignDefine(Emif_Dictionary *dictionary, Eerr_ErrorReport **err) try {
  return DefineDesigns(dictionary, "eant_GroupDesignDefine", {{&kGroup}}, err);
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
