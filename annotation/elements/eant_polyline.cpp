// The polyline element: open lines drawn with one line style. What it shares with the other vertex
// types is eant_vertex_internal.h; here are its traits, its render and its hit test.
#include "eant_vertex_internal.h"

namespace lower = taviron::lower;
using namespace taviron::eant;
using namespace taviron::eant::vertex;

namespace {

struct PolylineTraits : LineStyles {
  using Record = Eant_Polyline;
  using Type = PolylineType;
  static constexpr int32_t kCode = EANT_POLYLINE;
  static constexpr const char *kKind = "Polyline";
  static constexpr const char *kLower = "polyline";
  static constexpr int32_t Record::*kStyle = &Record::lineStyle;
  static constexpr Eant_VectorData *Record::*kCoords = &Record::coords;
  static constexpr int32_t kCoordsKeyword = EANT_ELEMKEY_POLYLINECOORDS;
  static constexpr int32_t Eant_ElementInfo::*kCounter = &Eant_ElementInfo::polylines;
  static constexpr const char *kNodeName = "Polyline Info";
  static constexpr const char *kOldDesign = "Polyline_Eant";
  static constexpr const char *kDesign = "Polyline2";
  static constexpr const char *kKeywordMessage = "Invalid keyword option for polyline element";
  static constexpr const char *kSetCoordsName = "eant_PolylineElementSetCoords";
  static constexpr const char *kSetCoordsInvalid = "Invalid input polyline";
  static constexpr int32_t kAddXFormCode = 4;
  static constexpr auto &ElementCreate = eant_PolylineElementCreate;
  static constexpr auto &SetValues = eant_PolylineElementSetValues;
  static constexpr auto &SetStyle = eant_PolylineElementSetLineStyle;
  static constexpr auto &SetStyleByStyle = eant_PolylineElementSetLineStyleByStyle;
  static constexpr auto &SetCoords = eant_PolylineElementSetCoords;
  static constexpr auto &MapVectorData = eant_GetPolylineMapVectorData;
  static constexpr auto &GetVectorData = eant_PolylineGetVectorData;
  static constexpr auto &CopyRecord = eant_PolylineCopy;
  static constexpr auto &Write = eant_PolylineWrite;
  static constexpr auto &Read = eant_PolylineRead;
  // The box grows by half the width, the arrow heads and the mitre joins.
  static void GrowBox(Eant_AnnotationInfo *info, Record *record, Egda_BaseData *corners,
                      Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) {
    eant_ModifyBboxByLineStyle(eint_GetInit(), info->styleLib, record->lineStyle, conversion, corners, 1, 1, err);
  }
};
using Polyline = Vertex<PolylineTraits>;

} // namespace

extern "C" {

TAVIRON_EANT_VERTEX_FACES(Polyline, PolylineTraits)

void eant_PolylineElementSetLineStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t number,
                                      Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Polyline::SetStyle(__func__, info, element, number, "Invalid input polyline", err);
} TAVIRON_GUARD_VOID(err)

void eant_PolylineElementSetLineStyleByStyle(Eant_AnnotationInfo *info, Eant_Element *element, Eant_Style *style,
                                             Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Polyline::SetStyleByStyle(__func__, info, element, style, err);
} TAVIRON_GUARD_VOID(err)

void eant_PolylineElementSetLineStyleByStyleAndRecalcBbox(Eant_AnnotationInfo *info, Eant_Element *element,
                                                          Eant_Style *style, Eant_CoordSysConversion *conversion,
                                                          Eerr_ErrorReport **err) try {
  eant_PolylineElementSetValues(info, element, conversion, err, EANT_ELEMKEY_LINESTYLEBYSTYLE, style,
                                EANT_ELEMKEY_END);
} TAVIRON_GUARD_VOID(err)

void eant_PolylineElementSetCoords(Eant_Element *element, int32_t source, const Efga_CoordinateBlock *block,
                                   Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Polyline::SetCoords(__func__, element, source, block, err);
} TAVIRON_GUARD_VOID(err)

void eant_PolylineElementSelectLineStyle(Eant_AnnotationInfo *info, Eant_Element *element, int32_t,
                                         Eant_StyleUpdateFunction update, void *updateData,
                                         Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Polyline::SelectStyle(__func__, info, element, false, update, updateData, err);
} TAVIRON_GUARD_VOID(err)

int32_t eant_PolylineElementSelectLineStyleOnly(Eant_AnnotationInfo *info, Eant_Element *element, int32_t,
                                                Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return Polyline::SelectStyle(__func__, info, element, true, nullptr, nullptr, err);
} TAVIRON_GUARD(err, 0)

// Draws the lines open with the library's cached drawing style of the line style.
void eant_PolylineElementRender(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *,
                                Eant_Criteria *, Eevg_Drawing *drawing, Eant_Element *element, _exfr_XForm *xform,
                                Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_PolylineElementRender";
  lower::Clear(err);
  if (!element) return lower::Report(err, reporter, 1, "Invalid element");
  if (element->elmType != EANT_POLYLINE) return lower::Report(err, reporter, 2, "Input element is not a polyline");
  if (!element->info) return lower::Report(err, reporter, 3, "Invalid polyline info");
  BlockPtr block = Polyline::MapBlock(reporter, 4, element, xform, conversion, err);
  if (!block) return;
  lower::CalleeReport inner;
  const int32_t number = Polyline::RecordOf(element)->lineStyle;
  Eevg_LineStyle *style = eant_GetLineStylePtr(toolkit, styles, number, conversion, &inner);
  if (!style || inner)
    return lower::ReportChained(err, inner, reporter, 5, "Error returned by eant_GetLineStylePtr");
  eevg_DrawPolyLine(drawing, style, 0, block.get(), &inner);
  if (inner) lower::ReportChained(err, inner, reporter, 6, "Error returned by eevg_DrawPolyLine");
} TAVIRON_GUARD_VOID(err)

// 1 when the coordinate lies near a line (open), within the larger of 2 NDU and the line width.
int32_t eant_CoordInPolylineElement(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles, Eant_SymbolLibrary *,
                                    Eant_Criteria *, Eant_Element *element, _exfr_XForm *xform,
                                    Eant_CoordSysConversion *conversion, Egda_BaseData *coord,
                                    Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return Polyline::HitByLineStyle(
      __func__, toolkit, styles, element, xform, conversion,
      [&](const Efga_CoordinateBlock *block, const Eevg_LineStyle *style, Eerr_ErrorReport **inner) {
        return eant_CoordNearPolyline(coord, block, 0, style, conversion, inner);
      },
      "eant_CoordNearPolyline", err);
} TAVIRON_GUARD(err, 0)

} // extern "C"
