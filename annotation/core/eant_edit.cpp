// Editing elements. Moving, rotating, scaling and mirroring all come down to one step: a
// polynomial composed into the element's transform, its inverse refreshed, its stored corners
// carried along (or recomputed by the type) and, within a layer, the layer box grown, the moved
// and modified callbacks run, a transformation undo record pushed when the layer records undo,
// and the layer marked modified. Groups move their children. On top of it: turning an element to
// north, mirroring it about its centre, the list forms, and re-expressing whole lists in map
// units, in another map, or their boxes in other units.
#include <cmath>

#include "eant_internal.h"
#include "ecvt.h"
#include "egda_pixel.h"

namespace lower = taviron::lower;
using namespace taviron::eant;

// ---- For now: the undo records ---------------------------------------------------------------
// The records go onto the layer's undo stack, which is still to come; until it is, they record
// nothing (a backup handed over is freed at once).

extern "C" void eant_UndoSetupUndoTransformation(Eant_AnnotationInfo *info, Eant_Element *, const Efga_Polynomial *,
                                                 Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!info) lower::Report(err, "eant_UndoSetupUndoTransformation", 1, "Invalid input annotation info");
}

extern "C" void eant_UndoSetupUndoModification(Eant_AnnotationInfo *info, Eant_Element *, Eant_Element *backup,
                                               Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (backup) DiscardElement(backup);
  if (!info) lower::Report(err, "eant_UndoSetupUndoModification", 1, "Invalid input annotation info");
}

namespace {

// The two forms of the transformation step: the stored corners carried by the polynomial, or the
// box recomputed by the type.
enum class Box { Carried, Recomputed };

template <Box kind> struct Step;
template <> struct Step<Box::Carried> {
  static constexpr const char *element = "eant_ElementUpdateByPoly";
  static constexpr const char *group = "eant_GroupElementUpdateByPoly";
  static constexpr const char *list = "eant_ElementListUpdateByPoly";
};
template <> struct Step<Box::Recomputed> {
  static constexpr const char *element = "eant_ElementUpdateByPolyAndRecalcBbox";
  static constexpr const char *group = "eant_GroupElementUpdateByPolyAndRecalcBbox";
  static constexpr const char *list = "eant_ElementListUpdateByPolyAndRecalcBbox";
};

template <Box kind>
void UpdateList(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, Eant_Element *list,
                Efga_Polynomial *polynomial, Eerr_ErrorReport **err);

// The step for a group: its children move (each through the whole step), its corners become the
// box of theirs, and the group's own callbacks run. With the layer recording undo, the group's
// values before the move are recorded as a modification.
template <Box kind>
void UpdateGroup(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, Eant_Element *group,
                 Efga_Polynomial *polynomial, Eerr_ErrorReport **err) {
  const char *reporter = Step<kind>::group;
  lower::Clear(err);
  if (!group) return lower::Report(err, reporter, 1, "Invalid input element");
  if (group->elmType != EANT_GROUP) return lower::Report(err, reporter, 2, "Input element is not group");
  lower::CalleeReport inner;
  if (info && info->undoFlag == 1) {
    Eant_Element *backup = eant_ElementBackup(group, &inner);
    if (!backup) return lower::ReportCallee(err, inner, reporter, 3, "eant_ElementBackup");
    eant_UndoSetupUndoModification(info, group, backup, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 4, "eant_UndoSetupUndoModification");
  }
  if (group->child) {
    UpdateList<kind>(info, conversion, group->child, polynomial, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 5, Step<kind>::list);
    if (!SetGroupBoxFromChildren(reporter, 6, group, err)) return;
  }
  if (!info) return;
  eant_DoElementMovedCallbacks(info, group, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 8, "eant_DoElementMovedCallbacks");
  eant_DoElementModifiedCallbacks(info, group, &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 9, "eant_DoElementModifiedCallbacks");
}

template <Box kind>
void Update(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, Eant_Element *element,
            Efga_Polynomial *polynomial, Eerr_ErrorReport **err) {
  const char *reporter = Step<kind>::element;
  lower::Clear(err);
  if (!element) return lower::Report(err, reporter, 1, "Invalid input element");
  lower::CalleeReport inner;
  if (element->elmType == EANT_GROUP && element->child) {
    UpdateGroup<kind>(info, conversion, element, polynomial, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 2, Step<kind>::group);
    if (info) info->modified = 1;
    return;
  }
  // The type's record stays in its own space: the transform carries it into the layer.
  Efga_Polynomial *composed = element->xformMatrix ? efga_PolynomialComposition(polynomial, element->xformMatrix, &inner)
                                                   : efga_PolynomialCopy(polynomial, nullptr, &inner);
  if (!composed || inner) {
    efga_PolynomialDelete(composed, nullptr);
    return lower::ReportCallee(err, inner, reporter, 3, "efga_PolynomialComposition");
  }
  efga_PolynomialDelete(element->xformMatrix, nullptr);
  element->xformMatrix = composed;
  Efga_Polynomial *inverse = efga_PolynomialInvert(composed, element->ixformMatrix, &inner);
  if (!inverse || inner) return lower::ReportCallee(err, inner, reporter, 4, "efga_PolynomialInvert");
  element->ixformMatrix = inverse;
  if constexpr (kind == Box::Recomputed) {
    eant_ElementBboxComputeAndReset(element, conversion, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 5, "eant_ElementBboxComputeAndReset");
  } else if (element->bBox &&
             (efga_PolyTransCoords(element->bBox, element->bBox, polynomial, 0, &inner) != element->bBox || inner)) {
    return lower::ReportCallee(err, inner, reporter, 5, "efga_PolyTransCoords");
  }
  if (!info) return;
  eant_AntBoundingBoxUpdateByElement(info, element, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 6, "eant_AntBoundingBoxUpdateByElement");
  eant_DoElementMovedCallbacks(info, element, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 7, "eant_DoElementMovedCallbacks");
  eant_DoElementModifiedCallbacks(info, element, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 8, "eant_DoElementModifiedCallbacks");
  if (info->undoFlag == 1) {
    eant_UndoSetupUndoTransformation(info, element, polynomial, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 9, "eant_UndoSetupUndoTransformation");
  }
  info->modified = 1;
}

template <Box kind>
void UpdateList(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, Eant_Element *list,
                Efga_Polynomial *polynomial, Eerr_ErrorReport **err) {
  const char *reporter = Step<kind>::list;
  lower::Clear(err);
  if (!list) return lower::Report(err, reporter, 1, "Invalid input element list");
  lower::CalleeReport inner;
  for (Eant_Element *element = list; element;) {
    Update<kind>(info, conversion, element, polynomial, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 2, Step<kind>::element);
    element = eant_GetNextElement(element, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 3, "eant_GetNextElement");
  }
}

// The polynomial applying `middle` about the centre (cx, cy): moved to the origin, `middle`, moved
// back. Codes from `first`: the move to the origin, `middle` (made by make), their composition,
// the move back, the whole composition.
template <class Make>
Efga_Polynomial *AboutCentre(double cx, double cy, Make &&make, const char *middleName, int32_t first,
                             const char *reporter, Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  PolynomialPtr toOrigin(eant_TranslatePolynomialCreate(nullptr, -cx, -cy, &inner));
  if (!toOrigin) {
    lower::ReportCallee(err, inner, reporter, first, "eant_TranslatePolynomialCreate");
    return nullptr;
  }
  PolynomialPtr middle(make(&inner));
  if (!middle) {
    lower::ReportCallee(err, inner, reporter, first + 1, middleName);
    return nullptr;
  }
  PolynomialPtr about(efga_PolynomialComposition(middle.get(), toOrigin.get(), &inner));
  if (!about) {
    lower::ReportCallee(err, inner, reporter, first + 2, "efga_PolynomialComposition");
    return nullptr;
  }
  PolynomialPtr back(eant_TranslatePolynomialCreate(nullptr, cx, cy, &inner));
  if (!back) {
    lower::ReportCallee(err, inner, reporter, first + 3, "eant_TranslatePolynomialCreate");
    return nullptr;
  }
  Efga_Polynomial *whole = efga_PolynomialComposition(back.get(), about.get(), &inner);
  if (!whole) lower::ReportCallee(err, inner, reporter, first + 4, "efga_PolynomialComposition");
  return whole;
}

// Counts one element done and calls the progress callback about a hundred times over the whole
// walk: when done is a multiple of ceil(total / 100). A total below 1 counts as 1. False after a
// failing callback (its report in inner).
bool Progress(Eant_ProgressInfo *progress, lower::CalleeReport &inner) {
  if (!progress) return true;
  ++progress->done;
  if (!progress->callback) return true;
  const double total = progress->total > 0 ? progress->total : 1;
  const auto step = static_cast<int64_t>(std::ceil(total / 100.0));
  if (progress->done % step != 0) return true;
  progress->callback(progress->callbackData, progress->done / total * 100.0, &inner);
  return !inner;
}

} // namespace

extern "C" {

// ---- The transformation step -----------------------------------------------------------------

void eant_ElementUpdateByPoly(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, Eant_Element *element,
                              Efga_Polynomial *polynomial, Eerr_ErrorReport **err) try {
  Update<Box::Carried>(info, conversion, element, polynomial, err);
} TAVIRON_GUARD_VOID(err)

void eant_ElementUpdateByPolyAndRecalcBbox(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion,
                                           Eant_Element *element, Efga_Polynomial *polynomial,
                                           Eerr_ErrorReport **err) try {
  Update<Box::Recomputed>(info, conversion, element, polynomial, err);
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementUpdateByPoly(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion,
                                   Eant_Element *group, Efga_Polynomial *polynomial, Eerr_ErrorReport **err) try {
  UpdateGroup<Box::Carried>(info, conversion, group, polynomial, err);
} TAVIRON_GUARD_VOID(err)

void eant_GroupElementUpdateByPolyAndRecalcBbox(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion,
                                                Eant_Element *group, Efga_Polynomial *polynomial,
                                                Eerr_ErrorReport **err) try {
  UpdateGroup<Box::Recomputed>(info, conversion, group, polynomial, err);
} TAVIRON_GUARD_VOID(err)

void eant_ElementListUpdateByPoly(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, Eant_Element *list,
                                  Efga_Polynomial *polynomial, Eerr_ErrorReport **err) try {
  UpdateList<Box::Carried>(info, conversion, list, polynomial, err);
} TAVIRON_GUARD_VOID(err)

void eant_ElementListUpdateByPolyAndRecalcBbox(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion,
                                               Eant_Element *list, Efga_Polynomial *polynomial,
                                               Eerr_ErrorReport **err) try {
  UpdateList<Box::Recomputed>(info, conversion, list, polynomial, err);
} TAVIRON_GUARD_VOID(err)

// ---- Turning to north and mirroring ----------------------------------------------------------

void eant_ElementAlignNorth(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, Eant_Element *element,
                            const Eant_NorthData *north, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementAlignNorth";
  lower::Clear(err);
  if (!element) return lower::Report(err, reporter, 1, "Invalid input element");
  if (!info) return lower::Report(err, reporter, 2, "Invalid input antInfo");
  if (!north || !north->mapProjection || !north->northProjection)
    return lower::Report(err, reporter, 3, "Invalid input data");
  lower::CalleeReport inner;
  MatrixPtr corners(eant_ElementRotatedBoundingBoxGet(element, nullptr, &inner));
  if (!corners || !IsCorners(corners.get()))
    return lower::ReportCallee(err, inner, reporter, 4, "eant_ElementRotatedBoundingBoxGet");
  const auto x = [&](int32_t c) { return lower::At<double>(*corners, 0, c); };
  const auto y = [&](int32_t c) { return lower::At<double>(*corners, 1, c); };
  const double cx = (x(0) + x(1) + x(2) + x(3)) / 4, cy = (y(0) + y(1) + y(2) + y(3)) / 4;
  MatrixPtr centre(egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner));
  if (!centre) return lower::ReportCallee(err, inner, reporter, 5, "efga_MatrixCreate");
  lower::At<double>(*centre, 0, 0) = cx;
  lower::At<double>(*centre, 1, 0) = cy;
  if (!exfr_Transform(north->toGeographic, centre.get(), centre.get(), &inner) || inner)
    return lower::ReportCallee(err, inner, reporter, 6, "exfr_Transform");
  double angle = 0;
  if (eprj_ComputeNorthAngleFromXAxis(centre.get(), north->mapProjection, north->northProjection, &angle, &inner) !=
          0 ||
      inner)
    return lower::ReportCallee(err, inner, reporter, 7, "eprj_ComputeNorthAngleFromXAxis");
  angle += north->angleOffset;
  // The element's up direction: from corner 0 to corner 1 (pi / 2 when it was never turned).
  const double current = std::atan2(y(1) - y(0), x(1) - x(0));
  PolynomialPtr turn(AboutCentre(
      cx, cy, [&](Eerr_ErrorReport **e) { return eant_RotatePolynomialCreate(nullptr, angle - current, e); },
      "eant_RotatePolynomialCreate", 8, reporter, err));
  if (!turn) return;
  eant_ElementUpdateByPoly(info, conversion, element, turn.get(), &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 13, "eant_ElementUpdateByPoly");
} TAVIRON_GUARD_VOID(err)

void eant_ElementFlipAboutCenter(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion, Eant_Element *element,
                                 const Eant_FlipData *flipData, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementFlipAboutCenter";
  lower::Clear(err);
  if (!element) return lower::Report(err, reporter, 1, "Invalid input element");
  if (!info) return lower::Report(err, reporter, 2, "Invalid input antInfo");
  if (!flipData) return lower::Report(err, reporter, 3, "Invalid input data");
  lower::CalleeReport inner;
  BoxPtr box(eant_ElementBoundingBoxGet(element, nullptr, &inner));
  if (!box) return lower::ReportCallee(err, inner, reporter, 4, "eant_ElementBoundingBoxGet");
  const double cx = (lower::At<double>(*box, 0, 0) + lower::At<double>(*box, 0, 1)) / 2;
  const double cy = (lower::At<double>(*box, 1, 0) + lower::At<double>(*box, 1, 1)) / 2;
  const double sx = flipData->flipX == 1 ? -1 : 1, sy = flipData->flipY == 1 ? -1 : 1;
  PolynomialPtr mirror(AboutCentre(
      cx, cy, [&](Eerr_ErrorReport **e) { return eant_ScalePolynomialCreate(nullptr, sx, sy, e); },
      "eant_ScalePolynomialCreate", 6, reporter, err));
  if (!mirror) return;
  eant_ElementFlip(info, element, conversion, const_cast<Eant_FlipData *>(flipData), mirror.get(), &inner);
  if (inner) lower::ReportCallee(err, inner, reporter, 11, "eant_ElementFlip");
} TAVIRON_GUARD_VOID(err)

// ---- Lists -----------------------------------------------------------------------------------

int32_t eant_ElementListCanBeFlipped(Eant_Element *list, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListCanBeFlipped";
  lower::Clear(err);
  lower::CalleeReport inner;
  for (Eant_Element *element = list; element;) {
    const int32_t can = eant_ElementCanBeFlipped(element, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 1, "eant_ElementCanBeFlipped");
      return 0;
    }
    if (!can) return 0;
    element = eant_GetNextElement(element, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_GetNextElement");
      return 0;
    }
  }
  return 1;
} TAVIRON_GUARD(err, 0)

void eant_ElementListFlip(Eant_AnnotationInfo *info, Eant_Element *list, Eant_CoordSysConversion *conversion,
                          void *flipData, Efga_Polynomial *polynomial, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListFlip";
  lower::Clear(err);
  lower::CalleeReport inner;
  for (Eant_Element *element = list; element;) {
    eant_ElementFlip(info, element, conversion, flipData, polynomial, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 1, "eant_ElementFlip");
    element = eant_GetNextElement(element, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 2, "eant_GetNextElement");
  }
} TAVIRON_GUARD_VOID(err)

void eant_ElementListConvertToMap(Eant_Element *list, Eant_CoordSysConversion *conversion,
                                  Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListConvertToMap";
  lower::Clear(err);
  if (!list) return lower::Report(err, reporter, 1, "Invalid input element list");
  lower::CalleeReport inner;
  for (Eant_Element *element = list; element;) {
    eant_ElementConvertToMap(element, conversion, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 2, "element eant_ElementConvertToMap");
    element = eant_GetNextElement(element, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 3, "eant_GetNextElement");
  }
} TAVIRON_GUARD_VOID(err)

void eant_ElementListTransformMap(Eant_Element *list, _exfr_XForm *transform, Eant_CoordSysConversion *from,
                                  Eant_CoordSysConversion *to, const char *mapUnits, Eant_ProgressInfo *progress,
                                  Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListTransformMap";
  lower::Clear(err);
  if (!list) return lower::Report(err, reporter, 1, "Invalid input element list");
  lower::CalleeReport inner;
  for (Eant_Element *element = list; element;) {
    // A group reprojects its children through this function with the same progress record.
    eant_ElementTransformMap(element, transform, from, to, mapUnits, progress, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 2, "element eant_ElementTransformMap");
    if (!Progress(progress, inner)) return lower::ReportCallee(err, inner, reporter, 3, "progress callback function");
    element = eant_GetNextElement(element, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 4, "eant_GetNextElement");
  }
} TAVIRON_GUARD_VOID(err)

// ---- Box units ---------------------------------------------------------------------------------

void eant_ElementBoundingBoxUnitsConvert(Eant_Element *element, Eant_CoordSysConversion *conversion,
                                         const char *fromUnits, const char *toUnits, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementBoundingBoxUnitsConvert";
  lower::Clear(err);
  if (!element) return lower::Report(err, reporter, 1, "Invalid input Eant_Element");
  lower::CalleeReport inner;
  eant_ElementUpdateInfo(element, conversion, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 2, "eant_ElementUpdateInfo");
  // A warning (units of the kind "other" copied as they are) leaves a usable box.
  if (ecvt_UnitsConvertMatrixByName(element->bBox, fromUnits, toUnits, &inner) != 0)
    lower::ReportCallee(err, inner, reporter, 3, "ecvt_UnitsConvertMatrixByName");
} TAVIRON_GUARD_VOID(err)

void eant_ElementListBoundingBoxUnitsConvert(Eant_Element *list, Eant_CoordSysConversion *conversion,
                                             const char *fromUnits, const char *toUnits, Eant_ProgressInfo *progress,
                                             Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListBoundingBoxUnitsConvert";
  lower::Clear(err);
  lower::CalleeReport inner;
  for (Eant_Element *element = list; element;) {
    eant_ElementBoundingBoxUnitsConvert(element, conversion, fromUnits, toUnits, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 1, "eant_ElementBoundingBoxUnitsConvert");
    if (element->child) {
      eant_ElementListBoundingBoxUnitsConvert(element->child, conversion, fromUnits, toUnits, progress, &inner);
      if (inner) return lower::ReportCallee(err, inner, reporter, 3, "eant_ElementListBoundingBoxUnitsConvert");
    }
    if (!Progress(progress, inner)) return lower::ReportCallee(err, inner, reporter, 2, "progress callback function");
    element = eant_GetNextElement(element, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, 4, "eant_GetNextElement");
  }
} TAVIRON_GUARD_VOID(err)

} // extern "C"
