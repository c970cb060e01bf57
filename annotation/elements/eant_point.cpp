// The point element: locations marked with dots in the colour and width of a line style. What it
// shares with the other vertex types is eant_vertex_internal.h; here are its traits, its render
// and its hit test.
#include <algorithm>

#include "eant_vertex_internal.h"

namespace lower = taviron::lower;
using namespace taviron::eant;
using namespace taviron::eant::vertex;

namespace {

struct PointTraits : LineStyles {
  using Record = Eant_Point;
  using Type = PointType;
  static constexpr int32_t kCode = EANT_POINT;
  static constexpr const char *kKind = "Point";
  static constexpr const char *kLower = "point";
  static constexpr int32_t Record::*kStyle = &Record::lineStyle;
  static constexpr Eant_VectorData *Record::*kCoords = &Record::coord;
  static constexpr int32_t kCoordsKeyword = EANT_ELEMKEY_POINTCOORD;
  static constexpr int32_t Eant_ElementInfo::*kCounter = &Eant_ElementInfo::points;
  static constexpr const char *kNodeName = "Point Info";
  static constexpr const char *kOldDesign = "Point_Eant";
  static constexpr const char *kDesign = "Point2";
  static constexpr const char *kKeywordMessage = "Invalid keyword option for point element";
  static constexpr const char *kSetCoordsName = "eant_PointElementSetCoord";
  static constexpr const char *kSetCoordsInvalid = "Invalid input point";
  static constexpr int32_t kAddXFormCode = 4;
  static constexpr auto &ElementCreate = eant_PointElementCreate;
  static constexpr auto &SetValues = eant_PointElementSetValues;
  static constexpr auto &SetStyle = eant_PointElementSetLineStyle;
  static constexpr auto &SetStyleByStyle = eant_PointElementSetLineStyleByStyle;
  static constexpr auto &SetCoords = eant_PointElementSetCoord;
  static constexpr auto &MapVectorData = eant_GetPointMapVectorData;
  static constexpr auto &GetVectorData = eant_PointGetVectorData;
  static constexpr auto &CopyRecord = eant_PointCopy;
  static constexpr auto &Write = eant_PointWrite;
  static constexpr auto &Read = eant_PointRead;
  // The box grows by half the width (or the symbol extent), without arrow heads or mitres.
  static void GrowBox(Eant_AnnotationInfo *info, Record *record, Egda_BaseData *corners,
                      Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) {
    eant_ModifyBboxByLineStyle(eint_GetInit(), info->styleLib, record->lineStyle, conversion, corners, 0, 0, err);
  }
};
using Point = Vertex<PointTraits>;

struct FillStyleDeleter {
  void operator()(Eevg_FillStyle *style) const noexcept { eevg_FillStyleFree(&style); }
};
struct CoordDeleter {
  void operator()(Eevg_Coord *coord) const noexcept { eevg_CoordFree(&coord); }
};
struct DefinitionDeleter {
  void operator()(Eant_CoordDefinition *definition) const noexcept { eant_CoordDefinitionFree(&definition); }
};

// Calls draw(x, y) for every vertex of every part, in order, until it returns false.
template <class Draw> bool ForEachVertex(const Efga_CoordinateBlock &block, Draw &&draw) {
  for (int32_t p = 0; p < block.count; ++p) {
    const Egda_BaseData *part = block.parts[p];
    if (!part) continue;
    for (int32_t c = 0; c < part->columns; ++c)
      if (!draw(At(part, 0, c), At(part, 1, c))) return false;
  }
  return true;
}

} // namespace

extern "C" {

TAVIRON_EANT_VERTEX_FACES(Point, PointTraits)

void eant_PointElementSetLineStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                   Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Point::SetStyle(__func__, info, element, number, "Invalid input point", err);
} TAVIRON_GUARD_VOID(err)

void eant_PointElementSetLineStyleByStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                                          Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Point::SetStyleByStyle(__func__, info, element, style, err);
} TAVIRON_GUARD_VOID(err)

void eant_PointElementSetLineStyleByStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element,
                                                       Eant_Style *style, Eant_CoordSysConversion *conversion,
                                                       Eerr_ErrorReport **err) try {
  eant_PointElementSetValues(info, element, conversion, err, EANT_ELEMKEY_LINESTYLEBYSTYLE, style, EANT_ELEMKEY_END);
} TAVIRON_GUARD_VOID(err)

void eant_PointElementSetCoord(Eant_Element *element, int32_t source, const Efga_CoordinateBlock *block,
                               Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Point::SetCoords(__func__, element, source, block, err);
} TAVIRON_GUARD_VOID(err)

void eant_PointElementSelectLineStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t,
                                      Eant_StyleUpdateFunction update, void *updateData,
                                      Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Point::SelectStyle(__func__, info, element, false, update, updateData, err);
} TAVIRON_GUARD_VOID(err)

int32_t eant_PointElementSelectLineStyleOnly(Eant_AnnotationInfo *info, Eant_Element *element, int32_t,
                                             Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return Point::SelectStyle(__func__, info, element, true, nullptr, nullptr, err);
} TAVIRON_GUARD(err, 0)

// Marks every vertex: as a device point in the first line's colour when the device takes single
// points, else as a filled disc of the larger of half a printer's point and half the first
// line's width.
void eant_PointElementRender(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *,
                             Eant_Criteria *, Eevg_Drawing *drawing, Eant_Element *element, _exfr_XForm *xform,
                             Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_PointElementRender";
  lower::Clear(err);
  if (!element) return lower::Report(err, reporter, 1, "Invalid element");
  if (element->elmType != EANT_POINT) return lower::Report(err, reporter, 2, "Input element is not point");
  if (!element->info) return lower::Report(err, reporter, 3, "Invalid point info");
  lower::CalleeReport inner;
  Eevg_LineStyle *style = eant_GetLineStylePtr(toolkit, styles, Point::RecordOf(element)->lineStyle, conversion, &inner);
  if (!style || inner) return lower::ReportChained(err, inner, reporter, 7, "Error returned by eant_GetLineStylePtr");
  if (style->composition.count <= 0 || !style->composition.data)
    return lower::Report(err, reporter, 8, "Invalid lineStyle");
  const Eevg_LineDescription &line = style->composition.data[0];
  BlockPtr block = Point::MapBlock(reporter, 6, element, xform, conversion, err);
  if (!block) return;
  std::unique_ptr<Eevg_Coord, CoordDeleter> coord(eevg_CoordCreate(&inner));
  if (!coord) return lower::ReportChained(err, inner, reporter, 12, "Error returned by eevg_CoordCreate");
  if (eevg_PutPointQuery(drawing, nullptr) == 1) {
    ForEachVertex(*block, [&](double x, double y) {
      *coord = {x, y};
      eevg_DrawPoint(drawing, line.color, coord.get(), &inner);
      return !inner;
    });
    if (inner) lower::ReportChained(err, inner, reporter, 13, "Error returned by eevg_DrawPoint");
    return;
  }
  std::unique_ptr<Eant_CoordDefinition, DefinitionDeleter> points(
      eant_CoordDefinitionSetValues(nullptr, EEVG_OUTPUT, "points", &inner));
  if (!points) return lower::ReportChained(err, inner, reporter, 4, "Error returned by eant_CoordDefinitionSetValues");
  const double halfPoint = eant_CoordSysConversionScaleAndTransformX(conversion, points.get(), 0.5, &inner);
  if (inner)
    return lower::ReportChained(err, inner, reporter, 5, "Error returned by eant_CoordSysConversionScaleAndTransformX");
  std::unique_ptr<Eevg_FillStyle, FillStyleDeleter> disc(eevg_FillStyleCreate(&inner));
  if (!disc) return lower::ReportChained(err, inner, reporter, 9, "Error returned by eevg_FillStyleCreate");
  disc->fill = 1;
  disc->trace = 0;
  if (!(disc->pattern = eevg_FillPatternCreate(&inner)))
    return lower::ReportChained(err, inner, reporter, 10, "Error returned by eevg_FillPatternCreate");
  if (line.color && !(disc->pattern->color = eevg_ColorCopy(line.color, nullptr, &inner)))
    return lower::ReportChained(err, inner, reporter, 11, "Error returned by eevg_ColorCopy");
  double radius = std::max(halfPoint, line.width / 2.0);
  if (!(radius > 0.0)) radius = 0.5;
  ForEachVertex(*block, [&](double x, double y) {
    *coord = {x, y};
    eevg_DrawEllipse(drawing, disc.get(), coord.get(), radius, radius, 0.0, &inner);
    return !inner;
  });
  if (inner) lower::ReportChained(err, inner, reporter, 13, "Error returned by eevg_DrawEllipse");
} TAVIRON_GUARD_VOID(err)

// 1 when a vertex lies within the larger of 2 NDU and the line width of the coordinate.
int32_t eant_CoordInPointElement(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *,
                                 Eant_Criteria *, Eant_Element *element, _exfr_XForm *xform,
                                 Eant_CoordSysConversion *conversion, Egda_BaseData *coord,
                                 Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return Point::HitByLineStyle(
      __func__, toolkit, styles, element, xform, conversion,
      [&](const Efga_CoordinateBlock *block, const Eevg_LineStyle *style, Eerr_ErrorReport **inner) {
        return eant_CoordNearPoint(coord, block, style, conversion, inner);
      },
      "eant_CoordNearPoint", err);
} TAVIRON_GUARD(err, 0)

} // extern "C"
