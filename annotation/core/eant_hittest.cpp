// The spatial questions asked of elements: the layer's clip window (the criterion "Clip Window",
// which keeps an element whose box meets every box of the window), the hit tests the element
// types answer with (near a vertex, near a polyline, inside polygons, inside a rotated box) and
// the search for the topmost element under a coordinate.
#include "eant_internal.h"
#include "egda_pixel.h"
#include "emsc.h"

namespace lower = taviron::lower;
using namespace taviron::eant;

namespace {

constexpr const char *kClipWindow = EANT_CLIP_WINDOW_CRITERIA;

// A coordinate argument: a 2 x 1 f64 matrix whose values can be read.
bool IsCoordinate(const Egda_BaseData *m) {
  return m && m->rows == 2 && m->columns == 1 && m->pixelType == EGDA_TYPE_F64 && m->elementSize == 8 && m->origin;
}

Evec_Coord CoordOf(const Egda_BaseData &m) { return {lower::At<double>(m, 0, 0), lower::At<double>(m, 1, 0)}; }

// The tolerance of the near tests: the larger of 2 NDU in map units and the width of the style's
// first line. False after a report under the caller's name (codes 2 and 3).
bool Tolerance(const Eevg_LineStyle *lineStyle, Eant_CoordSysConversion *conversion, const char *reporter,
               double &tolerance, Eerr_ErrorReport **err) {
  Eant_CoordDefinition ndu{EEVG_NDU, {0, nullptr}};
  lower::CalleeReport inner;
  const double length = eant_CoordSysConversionScaleAndTransformX(conversion, &ndu, 2.0, &inner);
  if (inner) {
    lower::ReportChained(err, inner, reporter, 2, "Error returned by eant_CoordSysConversionScaleAndTransformX");
    return false;
  }
  if (!lineStyle || lineStyle->composition.count <= 0 || !lineStyle->composition.data) {
    lower::Report(err, reporter, 3, "Invalid lineStyle");
    return false;
  }
  const double width = lineStyle->composition.data[0].width;
  tolerance = width >= length ? width : length;
  return true;
}

// The criterion "Clip Window" of the info, or null (the lookup's report dropped).
Eant_Criteria *ClipCriterion(Eant_AnnotationInfo *info) {
  lower::CalleeReport inner;
  return eant_CriteriaListLookup(info, kClipWindow, &inner);
}

} // namespace

extern "C" {

// ---- The clip window ---------------------------------------------------------------------------

Eant_ClipData *eant_ClipDataCreate(Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ClipDataCreate";
  lower::Clear(err);
  auto *data = static_cast<Eant_ClipData *>(emsc_HeapMalloc(sizeof(Eant_ClipData)));
  if (!data) {
    lower::Report(err, reporter, 1, "Error allocating Fill ClipData");
    return nullptr;
  }
  lower::CalleeReport inner;
  auto fail = [&](int32_t code, const char *callee) -> Eant_ClipData * {
    lower::ReportCallee(err, inner, reporter, code, callee);
    eant_ClipDataFree(&data);
    return nullptr;
  };
  if (!(data->corners = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner)))
    return fail(2, "efga_MatrixCreate");
  if (!(data->elementBox = evec_BboxCreate(&inner))) return fail(3, "evec_BboxCreate for bBox");
  if (!(data->intersection = evec_BboxCreate(&inner))) return fail(4, "evec_BboxCreate for intersection");
  return data;
} TAVIRON_GUARD(err, nullptr)

void eant_ClipDataFree(Eant_ClipData **clipData) try {
  if (!clipData || !*clipData) return;
  Eant_ClipData *data = *clipData;
  evec_ClipWindDelete(data->clipWindow, nullptr);
  egda_BaseDataDelete(data->corners, nullptr);
  evec_BboxDelete(data->elementBox, nullptr);
  evec_BboxDelete(data->intersection, nullptr);
  emsc_HeapFreeEx(clipData);
} TAVIRON_GUARD_QUIET_VOID

void eant_AddClipWindow(Eant_AnnotationInfo *info, const Evec_Bbox *box, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AddClipWindow";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input annotation info");
    return;
  }
  if (!IsBox(box)) {
    lower::Report(err, reporter, 2, "Invalid input clipping window");
    return;
  }
  lower::CalleeReport inner;
  Eant_Criteria *criterion = ClipCriterion(info);
  const bool added = !criterion;
  if (added && !(criterion = eant_CriteriaAdd(info, kClipWindow, &eant_ElementIntersectClipWind, nullptr, &inner))) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_CriteriaAdd");
    return;
  }
  // A criterion added here goes again when the window cannot be made: without data it would
  // fail every element it checks.
  auto fail = [&](int32_t code, const char *callee) {
    lower::ReportCallee(err, inner, reporter, code, callee);
    if (added) eant_CriteriaDelete(info, kClipWindow, nullptr);
  };
  auto *data = static_cast<Eant_ClipData *>(criterion->data);
  ClipWind *old = data ? data->clipWindow : nullptr;
  const int32_t count = old && old->boxes && old->count > 0 ? old->count : 0;
  ClipWind *window = evec_ClipWindCreate(count + 1, &inner);
  if (!window) return fail(4, "evec_ClipWindCreate");
  Evec_Bbox *copy = egda_BaseDataCreate(2, 2, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner);
  if (!copy) {
    evec_ClipWindDelete(window, nullptr);
    return fail(5, "efga_MatrixCreate");
  }
  window->boxes[count] = copy; // the new window owns the copy from here on
  if (!egda_BaseDataCopy(box, copy, &inner) || inner) {
    evec_ClipWindDelete(window, nullptr);
    return fail(6, "efga_MatrixCopy");
  }
  if (!data) {
    if (!(data = eant_ClipDataCreate(&inner))) {
      evec_ClipWindDelete(window, nullptr);
      return fail(7, "eant_ClipDataCreate");
    }
    criterion->data = data;
    info->clipWindow = data;
  }
  // The existing boxes move into the new window, in their order.
  for (int32_t i = 0; i < count; ++i) {
    window->boxes[i] = old->boxes[i];
    old->boxes[i] = nullptr;
  }
  evec_ClipWindDelete(old, nullptr);
  data->clipWindow = window;
} TAVIRON_GUARD_VOID(err)

void eant_ClearClipWindow(Eant_AnnotationInfo *info, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ClearClipWindow";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input annotation info");
    return;
  }
  Eant_Criteria *criterion = ClipCriterion(info);
  if (!criterion) return;
  auto *data = static_cast<Eant_ClipData *>(criterion->data);
  if (info->clipWindow == data) info->clipWindow = nullptr;
  eant_ClipDataFree(&data);
  criterion->data = nullptr;
  lower::CalleeReport inner;
  eant_CriteriaDelete(info, kClipWindow, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 2, "eant_CriteriaDelete");
} TAVIRON_GUARD_VOID(err)

void eant_SetClipWindow(Eant_AnnotationInfo *info, const Evec_Bbox *box, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_SetClipWindow";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input annotation info");
    return;
  }
  if (!IsBox(box)) {
    lower::Report(err, reporter, 2, "Invalid input clipping window");
    return;
  }
  lower::CalleeReport inner;
  eant_ClearClipWindow(info, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_ClearClipWindow");
    return;
  }
  eant_AddClipWindow(info, box, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 4, "eant_AddClipWindow");
} TAVIRON_GUARD_VOID(err)

int32_t eant_ElementIntersectClipWind(Eant_Element *element, _exfr_XForm *transform, void *clipData,
                                      Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementIntersectClipWind";
  lower::Clear(err);
  auto *data = static_cast<Eant_ClipData *>(clipData);
  if (!data) {
    lower::Report(err, reporter, 1, "Invalid input clipData");
    return 0;
  }
  if (!data->clipWindow) {
    lower::Report(err, reporter, 2, "Invalid clipping window in input clipData");
    return 0;
  }
  if (!element) {
    lower::Report(err, reporter, 3, "Invalid input element");
    return 0;
  }
  lower::CalleeReport inner;
  if (!eant_GetBoundingBox(element->bBox, data->corners, element->xformMatrix, transform, data->elementBox,
                           &inner)) {
    lower::ReportCallee(err, inner, reporter, 4, "eant_GetBoundingBox");
    return 0;
  }
  const int32_t meets = evec_BboxIntersectClipWind(data->clipWindow, data->elementBox, data->intersection, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 5, "evec_BboxIntersectClipWind");
    return 0;
  }
  return meets;
} TAVIRON_GUARD(err, 0)

// ---- Hit tests ---------------------------------------------------------------------------------

int32_t eant_CoordNearPoint(const Egda_BaseData *coordinate, const Efga_CoordinateBlock *points,
                            const Eevg_LineStyle *lineStyle, Eant_CoordSysConversion *conversion,
                            Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordNearPoint";
  lower::Clear(err);
  double tolerance = 0;
  if (!Tolerance(lineStyle, conversion, reporter, tolerance, err)) return 0;
  lower::CalleeReport inner;
  const int32_t near = evec_CoordNearPoint(coordinate, points, tolerance, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 4, "evec_CoordNearPoint");
    return 0;
  }
  return near;
} TAVIRON_GUARD(err, 0)

int32_t eant_CoordNearPolyline(const Egda_BaseData *coordinate, const Efga_CoordinateBlock *lines, int32_t closed,
                               const Eevg_LineStyle *lineStyle, Eant_CoordSysConversion *conversion,
                               Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordNearPolyline";
  lower::Clear(err);
  double tolerance = 0;
  if (!Tolerance(lineStyle, conversion, reporter, tolerance, err)) return 0;
  lower::CalleeReport inner;
  const int32_t near = evec_CoordNearPolyline(coordinate, lines, closed, tolerance, &inner);
  if (inner) {
    lower::ReportChained(err, inner, reporter, 4, "Error returned by evec_CoordNearPolyline");
    return 0;
  }
  return near;
} TAVIRON_GUARD(err, 0)

int32_t eant_CoordInPolygon(const Egda_BaseData *coordinate, const Efga_CoordinateBlock *polygons,
                            const Eevg_FillStyle *fillStyle, Eant_CoordSysConversion *conversion,
                            Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordInPolygon";
  lower::Clear(err);
  if (!IsCoordinate(coordinate)) {
    lower::Report(err, reporter, 1, "Invalid input coord");
    return 0;
  }
  if (!polygons || (polygons->count > 0 && !polygons->parts)) {
    lower::Report(err, reporter, 2, "Invalid input polygons");
    return 0;
  }
  lower::CalleeReport inner;
  if (!fillStyle || fillStyle->fill != 1) {
    // An unfilled polygon is hit on its outline only.
    const int32_t near = eant_CoordNearPolyline(coordinate, polygons, 1, fillStyle ? fillStyle->traceStyle : nullptr,
                                                conversion, &inner);
    if (inner) {
      lower::ReportChained(err, inner, reporter, 11, "Error returned by eant_CoordNearPolyline");
      return 0;
    }
    return near;
  }
  // Filled: inside an odd number of parts (a point in a hole lies inside two).
  const Evec_Coord point = CoordOf(*coordinate);
  int32_t inside = 0;
  for (int32_t i = 0; i < polygons->count; ++i) {
    const Egda_BaseData *part = polygons->parts[i];
    if (!part) continue;
    inside += evec_CoordInsideConcavePolygon(&point, part, &inner) == 1;
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 7, "evec_CoordInsideConcavePolygon");
      return 0;
    }
  }
  return inside % 2;
} TAVIRON_GUARD(err, 0)

int32_t eant_CoordInBoundingBox(const Egda_BaseData *corners, const Efga_Polynomial *polynomial,
                                const _exfr_XForm *transform, const Egda_BaseData *coordinate,
                                Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CoordInBoundingBox";
  lower::Clear(err);
  if (!IsCoordinate(coordinate)) {
    lower::Report(err, reporter, 1, "Input coord is not valid");
    return 0;
  }
  lower::CalleeReport inner;
  MatrixPtr carried(eant_GetRotatedBoundingBox(corners, polynomial, transform, nullptr, &inner));
  if (!carried || inner) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_GetRotatedBoundingBox");
    return 0;
  }
  const Evec_Coord point = CoordOf(*coordinate);
  const int32_t inside = evec_CoordInsideConcavePolygon(&point, carried.get(), &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 3, "evec_CoordCreate");
    return 0;
  }
  return inside;
} TAVIRON_GUARD(err, 0)

// ---- Selection by coordinate -------------------------------------------------------------------

Eant_Element *eant_SelectNextElementByCoord(Eint_InitToolkitData *toolkit, Eant_StyleLibrary *styles,
                                            Eant_SymbolLibrary *symbols, Eant_Criteria *criteria,
                                            Eant_Element *element, _exfr_XForm *transform,
                                            Eant_CoordSysConversion *conversion, Egda_BaseData *coordinate,
                                            Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_SelectNextElementByCoord";
  lower::Clear(err);
  if (!element) return nullptr;
  // Later elements are drawn on top: the search runs from the last element of the list back.
  Eant_Element *last = element;
  while (last->next) last = last->next;
  lower::CalleeReport inner;
  for (Eant_Element *at = last; at; at = at->previous) {
    const int32_t passes = eant_CriteriaCheck(at, transform, criteria, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 1, "eant_CriteriaCheck");
      return nullptr;
    }
    if (passes != 1) continue;
    const int32_t hit =
        eant_ElementCoordInElement(toolkit, styles, symbols, criteria, at, transform, conversion, coordinate, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_ElementCoordInElement");
      return nullptr;
    }
    if (hit) return at;
  }
  return nullptr;
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
