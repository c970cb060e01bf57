// The polygon element: closed rings filled and outlined with one fill style. What it shares with
// the other vertex types is eant_vertex_internal.h; here are its traits, its render and its hit
// test.
#include "eant_vertex_internal.h"

namespace lower = taviron::lower;
using namespace taviron::eant;
using namespace taviron::eant::vertex;

namespace {

struct PolygonTraits : FillStyles {
  using Record = Eant_Polygon;
  using Type = PolygonType;
  static constexpr int32_t kCode = EANT_POLYGON;
  static constexpr const char *kKind = "Polygon";
  static constexpr const char *kLower = "polygon";
  static constexpr int32_t Record::*kStyle = &Record::fillStyle;
  static constexpr Eant_VectorData *Record::*kCoords = &Record::coords;
  static constexpr int32_t kCoordsKeyword = EANT_ELEMKEY_POLYGONCOORDS;
  static constexpr int32_t Eant_ElementInfo::*kCounter = &Eant_ElementInfo::polygons;
  static constexpr const char *kNodeName = "Polygon Info";
  static constexpr const char *kOldDesign = "Polygon_Eant";
  static constexpr const char *kDesign = "Polygon2";
  static constexpr const char *kKeywordMessage = "Invalid keyword option for polygon element";
  static constexpr const char *kSetCoordsName = "eant_PolygonElementSetCoords";
  static constexpr const char *kSetCoordsInvalid = "Invalid input element";
  static constexpr int32_t kAddXFormCode = 6;
  static constexpr auto &ElementCreate = eant_PolygonElementCreate;
  static constexpr auto &SetValues = eant_PolygonElementSetValues;
  static constexpr auto &SetStyle = eant_PolygonElementSetFillStyle;
  static constexpr auto &SetStyleByStyle = eant_PolygonElementSetFillStyleByStyle;
  static constexpr auto &SetCoords = eant_PolygonElementSetCoords;
  static constexpr auto &MapVectorData = eant_GetPolygonMapVectorData;
  static constexpr auto &GetVectorData = eant_PolygonGetVectorData;
  static constexpr auto &CopyRecord = eant_PolygonCopy;
  static constexpr auto &Write = eant_PolygonWrite;
  static constexpr auto &Read = eant_PolygonRead;
  // The box grows by the outline's line style (mitre joins counted) when the style is outlined.
  static void GrowBox(Eant_AnnotationInfo *info, Record *record, Egda_BaseData *corners,
                      Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) {
    eant_ModifyBboxByFillStyle(eint_GetInit(), info->styleLib, record->fillStyle, conversion, corners, 1, err);
  }
};
using Polygon = Vertex<PolygonTraits>;

struct FillStyleDeleter {
  void operator()(Eevg_FillStyle *style) const noexcept { eevg_FillStyleFree(&style); }
};
using FillStylePtr = std::unique_ptr<Eevg_FillStyle, FillStyleDeleter>;

} // namespace

extern "C" {

TAVIRON_EANT_VERTEX_FACES(Polygon, PolygonTraits)

void eant_PolygonElementSetFillStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                     Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Polygon::SetStyle(__func__, info, element, number, "Invalid input element", err);
} TAVIRON_GUARD_VOID(err)

void eant_PolygonElementSetFillStyleByStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                                            Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Polygon::SetStyleByStyle(__func__, info, element, style, err);
} TAVIRON_GUARD_VOID(err)

void eant_PolygonElementSetFillStyleByStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element,
                                                         Eant_Style *style, Eant_CoordSysConversion *conversion,
                                                         Eerr_ErrorReport **err) try {
  eant_PolygonElementSetValues(info, element, conversion, err, EANT_ELEMKEY_FILLSTYLEBYSTYLE, style,
                               EANT_ELEMKEY_END);
} TAVIRON_GUARD_VOID(err)

void eant_PolygonElementSetCoords(Eant_Element *element, int32_t source, const Efga_CoordinateBlock *block,
                                  Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Polygon::SetCoords(__func__, element, source, block, err);
} TAVIRON_GUARD_VOID(err)

void eant_PolygonElementSelectFillStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t,
                                        Eant_StyleUpdateFunction update, void *updateData,
                                        Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Polygon::SelectStyle(__func__, info, element, false, update, updateData, err);
} TAVIRON_GUARD_VOID(err)

int32_t eant_PolygonElementSelectFillStyleOnly(Eant_AnnotationInfo *info, Eant_Element *element, int32_t,
                                               Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return Polygon::SelectStyle(__func__, info, element, true, nullptr, nullptr, err);
} TAVIRON_GUARD(err, 0)

// Fills the rings and draws their outline closed with the fill style.
void eant_PolygonElementRender(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *symbols,
                               Eant_Criteria *, Eevg_Drawing *drawing, Eant_Element *element, _exfr_XForm *xform,
                               Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_PolygonElementRender";
  lower::Clear(err);
  if (!element) return lower::Report(err, reporter, 1, "Invalid element");
  if (element->elmType != EANT_POLYGON) return lower::Report(err, reporter, 2, "Input element is not a polygon");
  if (!element->info) return lower::Report(err, reporter, 3, "Invalid polygon info");
  BlockPtr block = Polygon::MapBlock(reporter, 4, element, xform, conversion, err);
  if (!block) return;
  lower::CalleeReport inner;
  // The library keeps the drawing style it builds on first use (with the tile of a symbol pattern).
  Eevg_FillStyle *style = eant_GetFillStyleForRenderingPtr(toolkit, drawing, conversion, styles, symbols,
                                                           Polygon::RecordOf(element)->fillStyle, &inner);
  if (!style || inner)
    return lower::ReportChained(err, inner, reporter, 5, "Error returned by eant_GetFillStyleForRenderingPtr");
  eevg_DrawPolygon(drawing, style, block.get(), &inner);
  if (inner) lower::ReportChained(err, inner, reporter, 6, "Error returned by eevg_DrawPolygon");
} TAVIRON_GUARD_VOID(err)

// A filled style hits inside the rings by the even-odd rule, an unfilled one near the outline.
// The stored box rejects a coordinate outside it before the rings are fetched.
int32_t eant_CoordInPolygonElement(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *,
                                   Eant_Criteria *, Eant_Element *element, _exfr_XForm *xform,
                                   Eant_CoordSysConversion *conversion, Egda_BaseData *coord,
                                   Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordInPolygonElement";
  lower::Clear(err);
  if (!Polygon::Check(reporter, element, "Invalid input Eant_Element", true, err)) return 0;
  lower::CalleeReport inner;
  if (element->bBox) {
    const int32_t inBox = eant_CoordInBoundingBox(element->bBox, element->xformMatrix, xform, coord, &inner);
    if (inner) {
      lower::ReportChained(err, inner, reporter, 3, "Error returned by eant_CoordInBoundingBox");
      return 0;
    }
    if (!inBox) return 0;
  }
  BlockPtr block = Polygon::MapBlock(reporter, 4, element, xform, conversion, err);
  if (!block) return 0;
  FillStylePtr style(eant_GetFillStyle(toolkit, styles, Polygon::RecordOf(element)->fillStyle, conversion, &inner));
  if (!style || inner) {
    lower::ReportChained(err, inner, reporter, 5, "Error returned by eant_GetFillStyle");
    return 0;
  }
  const int32_t hit = eant_CoordInPolygon(coord, block.get(), style.get(), conversion, &inner);
  if (!inner) return hit;
  lower::ReportChained(err, inner, reporter, 6, "Error returned by eant_CoordInPolygon");
  return 0;
} TAVIRON_GUARD(err, 0)

} // extern "C"
