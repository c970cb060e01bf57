// Corner boxes and axis-aligned boxes: carrying corners through a render transform, the box of
// corners, unions, boxes of coordinate blocks, turning a box to the axes at the origin and back,
// and the boxes of elements and element lists.
#include <algorithm>
#include <cmath>

#include "eant_internal.h"
#include "egda_pixel.h"

namespace lower = taviron::lower;
using namespace taviron::eant;

namespace {

double X(const Egda_BaseData &m, int32_t column) { return lower::At<double>(m, 0, column); }
double Y(const Egda_BaseData &m, int32_t column) { return lower::At<double>(m, 1, column); }

// Writes the axis-aligned box (x0, y0)-(x1, y1) as corners 0 to 3.
void SetCorners(Egda_BaseData &corners, double x0, double y0, double x1, double y1) {
  const double xs[4] = {x0, x0, x1, x1}, ys[4] = {y0, y1, y1, y0};
  for (int32_t c = 0; c < 4; ++c) {
    lower::At<double>(corners, 0, c) = xs[c];
    lower::At<double>(corners, 1, c) = ys[c];
  }
}

void SetBox(Evec_Bbox &box, double xmin, double xmax, double ymin, double ymax) {
  lower::At<double>(box, 0, 0) = xmin;
  lower::At<double>(box, 0, 1) = xmax;
  lower::At<double>(box, 1, 0) = ymin;
  lower::At<double>(box, 1, 1) = ymax;
}

Egda_BaseData *NewCorners(Eerr_ErrorReport **err) {
  return egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, err);
}

// The union of a box per top-level element (`get` reports under the callee's name), with the
// codes of the list operations: the first element's box (first), the next element (first + 1),
// each further box (first + 2), the union (first + 3), the next element again (first + 4).
template <class Get>
Evec_Bbox *ListUnion(Eant_Element *list, const char *reporter, int32_t first, const char *callee, Get &&get,
                     Eerr_ErrorReport **err) {
  lower::CalleeReport inner;
  BoxPtr running(get(list, &inner));
  if (!running) {
    lower::ReportCallee(err, inner, reporter, first, callee);
    return nullptr;
  }
  Eant_Element *element = eant_GetNextElement(list, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, first + 1, "eant_GetNextElement");
    return nullptr;
  }
  for (; element; element = eant_GetNextElement(element, &inner)) {
    BoxPtr box(get(element, &inner));
    if (!box) {
      lower::ReportCallee(err, inner, reporter, first + 2, callee);
      return nullptr;
    }
    BoxPtr both(eant_BoundingBoxUnion(running.get(), box.get(), &inner));
    if (!both) {
      lower::ReportCallee(err, inner, reporter, first + 3, "eant_BoundingBoxUnion");
      return nullptr;
    }
    running = std::move(both);
  }
  if (inner) {
    lower::ReportCallee(err, inner, reporter, first + 4, "eant_GetNextElement");
    return nullptr;
  }
  return running.release();
}

} // namespace

extern "C" {

Egda_BaseData *eant_GetRotatedBoundingBox(const Egda_BaseData *corners, const Efga_Polynomial *,
                                          const _exfr_XForm *transform, Egda_BaseData *output,
                                          Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GetRotatedBoundingBox";
  lower::Clear(err);
  lower::CalleeReport inner;
  if (!corners) {
    lower::Report(err, reporter, 4, "Invalid input annotation bounding box");
    return nullptr;
  }
  if (transform) {
    Egda_BaseData *carried = exfr_Transform(transform, corners, output, &inner);
    if (!carried || inner) {
      if (carried != output) egda_BaseDataDelete(carried, nullptr);
      lower::ReportCallee(err, inner, reporter, 1, "exfr_Transform");
      return nullptr;
    }
    return carried;
  }
  Egda_BaseData *made = nullptr;
  if (!output) {
    output = made = egda_BaseDataCreate(corners->rows, corners->columns, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner);
    if (!output) {
      lower::ReportCallee(err, inner, reporter, 2, "efga_MatrixCreate");
      return nullptr;
    }
  }
  if (!egda_BaseDataCopy(corners, output, &inner) || inner) {
    egda_BaseDataDelete(made, nullptr);
    lower::ReportCallee(err, inner, reporter, 3, "efga_MatrixCopy");
    return nullptr;
  }
  return output;
} TAVIRON_GUARD(err, nullptr)

Evec_Bbox *eant_GetBoundingBox(const Egda_BaseData *corners, Egda_BaseData *work, const Efga_Polynomial *polynomial,
                               const _exfr_XForm *transform, Evec_Bbox *box, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GetBoundingBox";
  lower::Clear(err);
  if (!IsCorners(corners) || (box && !IsBox(box))) {
    lower::Report(err, reporter, 1, "Invalid input annotation bounding box");
    return nullptr;
  }
  lower::CalleeReport inner;
  Egda_BaseData *made = nullptr;
  if (!work) {
    work = made = NewCorners(&inner);
    if (!work) {
      lower::ReportCallee(err, inner, reporter, 2, "efga_MatrixCreate");
      return nullptr;
    }
  }
  const auto done = [&made](Evec_Bbox *result) {
    egda_BaseDataDelete(made, nullptr);
    return result;
  };
  if (!eant_GetRotatedBoundingBox(corners, polynomial, transform, work, &inner) || inner || !IsCorners(work)) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_GetRotatedBoundingBox");
    return done(nullptr);
  }
  if (!box) {
    box = evec_BboxCreate(&inner);
    if (!box) {
      lower::ReportCallee(err, inner, reporter, 4, "evec_BboxCreate");
      return done(nullptr);
    }
  }
  double xmin = X(*work, 0), xmax = xmin, ymin = Y(*work, 0), ymax = ymin;
  for (int32_t c = 1; c < 4; ++c) {
    xmin = std::min(xmin, X(*work, c));
    xmax = std::max(xmax, X(*work, c));
    ymin = std::min(ymin, Y(*work, c));
    ymax = std::max(ymax, Y(*work, c));
  }
  SetBox(*box, xmin, xmax, ymin, ymax);
  return done(box);
} TAVIRON_GUARD(err, nullptr)

Evec_Bbox *eant_BoundingBoxUnion(const Evec_Bbox *a, const Evec_Bbox *b, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_BoundingBoxUnion";
  lower::Clear(err);
  if (!IsBox(a)) {
    lower::Report(err, reporter, 1, "Invalid input 1st bounding box");
    return nullptr;
  }
  if (!IsBox(b)) {
    lower::Report(err, reporter, 2, "Invalid input 2nd bounding box");
    return nullptr;
  }
  lower::CalleeReport inner;
  Evec_Bbox *box = evec_BboxCreate(&inner);
  if (!box) {
    lower::ReportCallee(err, inner, reporter, 3, "evec_BboxCreate");
    return nullptr;
  }
  SetBox(*box, std::min(X(*a, 0), X(*b, 0)), std::max(X(*a, 1), X(*b, 1)), std::min(Y(*a, 0), Y(*b, 0)),
         std::max(Y(*a, 1), Y(*b, 1)));
  return box;
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *eant_GetBboxFromCoordBlock(const Efga_CoordinateBlock *block, Egda_BaseData *corners,
                                          Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GetBboxFromCoordBlock";
  lower::Clear(err);
  if (corners && !IsCorners(corners)) {
    lower::Report(err, reporter, 3, "Invalid input bounding box");
    return nullptr;
  }
  lower::CalleeReport inner;
  BoxPtr box(evec_GetBboxFromCoordBlock(block, nullptr, &inner));
  if (!box || inner || !IsBox(box.get())) {
    lower::ReportCallee(err, inner, reporter, 1, "evec_GetBboxFromCoordBlock");
    return nullptr;
  }
  if (!corners) {
    corners = NewCorners(&inner);
    if (!corners) {
      lower::ReportCallee(err, inner, reporter, 2, "efga_MatrixCreate");
      return nullptr;
    }
  }
  SetCorners(*corners, X(*box, 0), Y(*box, 0), X(*box, 1), Y(*box, 1));
  return corners;
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *eant_OrthoBboxAtOrigin(const Egda_BaseData *corners, double *angle, double *centreX,
                                      double *centreY, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_OrthoBboxAtOrigin";
  lower::Clear(err);
  if (!IsCorners(corners)) {
    lower::Report(err, reporter, 1, "Invalid input bounding box");
    return nullptr;
  }
  double cx = 0, cy = 0;
  for (int32_t c = 0; c < 4; ++c) {
    cx += X(*corners, c);
    cy += Y(*corners, c);
  }
  cx /= 4;
  cy /= 4;
  const double ex = X(*corners, 2) - X(*corners, 1), ey = Y(*corners, 2) - Y(*corners, 1);
  const double turn = ex != 0 || ey != 0 ? std::atan2(ey, ex) : 0;
  if (angle) *angle = turn;
  if (centreX) *centreX = cx;
  if (centreY) *centreY = cy;
  lower::CalleeReport inner;
  const PolynomialPtr move(eant_TranslatePolynomialCreate(nullptr, -cx, -cy, &inner));
  if (!move) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_TranslatePolynomialCreate");
    return nullptr;
  }
  const PolynomialPtr rotate(eant_RotatePolynomialCreate(nullptr, -turn, &inner));
  if (!rotate) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_RotatePolynomialCreate");
    return nullptr;
  }
  const PolynomialPtr both(efga_PolynomialComposition(rotate.get(), move.get(), &inner));
  if (!both) {
    lower::ReportCallee(err, inner, reporter, 4, "efga_PolynomialComposition");
    return nullptr;
  }
  Egda_BaseData *output = NewCorners(&inner);
  if (!output) {
    lower::ReportCallee(err, inner, reporter, 5, "efga_MatrixCreate");
    return nullptr;
  }
  if (efga_PolyTransCoords(corners, output, both.get(), 0, &inner) != output || inner) {
    egda_BaseDataDelete(output, nullptr);
    lower::ReportCallee(err, inner, reporter, 6, "efga_PolyTransCoords");
    return nullptr;
  }
  return output;
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *eant_RotateAndTranslateBbox(const Egda_BaseData *corners, double angle, double dx, double dy,
                                           Egda_BaseData *output, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_RotateAndTranslateBbox";
  lower::Clear(err);
  if (!IsCorners(corners)) {
    lower::Report(err, reporter, 1, "Invalid input bounding box");
    return nullptr;
  }
  lower::CalleeReport inner;
  const PolynomialPtr rotate(eant_RotatePolynomialCreate(nullptr, angle, &inner));
  if (!rotate) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_RotatePolynomialCreate");
    return nullptr;
  }
  const PolynomialPtr move(eant_TranslatePolynomialCreate(nullptr, dx, dy, &inner));
  if (!move) {
    lower::ReportCallee(err, inner, reporter, 3, "eant_TranslatePolynomialCreate");
    return nullptr;
  }
  const PolynomialPtr both(efga_PolynomialComposition(move.get(), rotate.get(), &inner));
  if (!both) {
    lower::ReportCallee(err, inner, reporter, 4, "efga_PolynomialComposition");
    return nullptr;
  }
  // A given output of another shape is the caller's to give up: it is replaced.
  Egda_BaseData *made = nullptr;
  if (output && !IsCorners(output)) {
    egda_BaseDataDelete(output, nullptr);
    output = nullptr;
  }
  if (!output) {
    output = made = NewCorners(&inner);
    if (!output) {
      lower::ReportCallee(err, inner, reporter, 5, "efga_MatrixCreate");
      return nullptr;
    }
  }
  if (efga_PolyTransCoords(corners, output, both.get(), 0, &inner) != output || inner) {
    egda_BaseDataDelete(made, nullptr);
    lower::ReportCallee(err, inner, reporter, 6, "efga_PolyTransCoords");
    return nullptr;
  }
  return output;
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *eant_ElementRotatedBoundingBoxGet(Eant_Element *element, const _exfr_XForm *transform,
                                                 Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementRotatedBoundingBoxGet";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "Invalid annotation element");
    return nullptr;
  }
  lower::CalleeReport inner;
  Egda_BaseData *corners = eant_GetRotatedBoundingBox(element->bBox, element->xformMatrix, transform, nullptr, &inner);
  if (!corners) lower::ReportChained(err, inner, reporter, 2, "Invalid annotation eant_GetRotatedBoundingBox");
  return corners;
} TAVIRON_GUARD(err, nullptr)

Evec_Bbox *eant_ElementBoundingBoxGet(Eant_Element *element, const _exfr_XForm *transform,
                                      Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementBoundingBoxGet";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "Invalid input element");
    return nullptr;
  }
  lower::CalleeReport inner;
  Evec_Bbox *box = eant_GetBoundingBox(element->bBox, nullptr, element->xformMatrix, transform, nullptr, &inner);
  if (!box) lower::ReportCallee(err, inner, reporter, 2, "eant_GetBoundingBox");
  return box;
} TAVIRON_GUARD(err, nullptr)

Evec_Bbox *eant_ElementBoundingBoxCalculateNoSave(Eant_Element *element, _exfr_XForm *transform,
                                                  Eant_CoordSysConversion *conversion, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementBoundingBoxCalculateNoSave";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "Invalid input element");
    return nullptr;
  }
  lower::CalleeReport inner;
  Egda_BaseData *corners = eant_ElementCalculateBbox(element, transform, conversion, &inner);
  if (!corners || inner) {
    egda_BaseDataDelete(corners, nullptr);
    lower::ReportCallee(err, inner, reporter, 2, "eant_ElementCalculateBbox");
    return nullptr;
  }
  Evec_Bbox *box = eant_GetBoundingBox(corners, nullptr, nullptr, nullptr, nullptr, &inner);
  egda_BaseDataDelete(corners, nullptr);
  if (!box) lower::ReportCallee(err, inner, reporter, 3, "eant_GetBoundingBox");
  return box;
} TAVIRON_GUARD(err, nullptr)

void eant_ElementBboxComputeAndReset(Eant_Element *element, Eant_CoordSysConversion *conversion,
                                     Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementBboxComputeAndReset";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "Invalid input element");
    return;
  }
  lower::CalleeReport inner;
  if (element->child) {
    eant_ElementListBboxComputeAndReset(element->child, conversion, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 2, "eant_ElementListBboxComputeAndReset");
      return;
    }
  }
  Egda_BaseData *corners = eant_ElementCalculateBbox(element, nullptr, conversion, &inner);
  if (!corners || inner) {
    egda_BaseDataDelete(corners, nullptr);
    lower::ReportCallee(err, inner, reporter, 3, "eant_ElementCalculateBbox");
    return;
  }
  if (element->bBox) {
    const bool copied = egda_BaseDataCopy(corners, element->bBox, &inner) && !inner;
    egda_BaseDataDelete(corners, nullptr);
    if (!copied) {
      lower::ReportCallee(err, inner, reporter, 4, "efga_MatrixCopy");
      return;
    }
  } else {
    element->bBox = corners;
  }
  if (element->antInfo) {
    eant_AntBoundingBoxUpdateByElement(element->antInfo, element, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 5, "eant_AntBoundingBoxUpdateByElement");
  }
} TAVIRON_GUARD_VOID(err)

Evec_Bbox *eant_ElementListBoundingBoxGet(Eant_Element *list, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListBoundingBoxGet";
  lower::Clear(err);
  if (!list) {
    lower::Report(err, reporter, 1, "Invalid input element list");
    return nullptr;
  }
  return ListUnion(
      list, reporter, 2, "eant_ElementBoundingBoxGet",
      [](Eant_Element *element, Eerr_ErrorReport **inner) { return eant_ElementBoundingBoxGet(element, nullptr, inner); },
      err);
} TAVIRON_GUARD(err, nullptr)

Evec_Bbox *eant_ElementListBoundingBoxCompute(Eant_Element *list, Eant_CoordSysConversion *conversion,
                                              Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListBoundingBoxCompute";
  lower::Clear(err);
  if (!list) {
    lower::Report(err, reporter, 1, "Invalid input element list");
    return nullptr;
  }
  lower::CalleeReport inner;
  eant_ElementListBboxComputeAndReset(list, conversion, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_ElementListBboxComputeAndReset");
    return nullptr;
  }
  return ListUnion(
      list, reporter, 3, "eant_ElementBoundingBoxGet",
      [](Eant_Element *element, Eerr_ErrorReport **inner) { return eant_ElementBoundingBoxGet(element, nullptr, inner); },
      err);
} TAVIRON_GUARD(err, nullptr)

void eant_ElementListBboxComputeAndReset(Eant_Element *list, Eant_CoordSysConversion *conversion,
                                         Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListBboxComputeAndReset";
  lower::Clear(err);
  lower::CalleeReport inner;
  for (Eant_Element *element = list; element; element = element->next) {
    eant_ElementBboxComputeAndReset(element, conversion, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 1, "eant_ElementBboxComputeAndReset");
      return;
    }
  }
} TAVIRON_GUARD_VOID(err)

Evec_Bbox *eant_ElementListBoundingBoxCalculateNoSave(Eant_Element *list, _exfr_XForm *transform,
                                                      Eant_CoordSysConversion *conversion,
                                                      Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ElementListBoundingBoxCalculateNoSave";
  lower::Clear(err);
  if (!list) {
    lower::Report(err, reporter, 1, "Invalid input element list");
    return nullptr;
  }
  return ListUnion(
      list, reporter, 2, "eant_ElementBoundingBoxCalculateNoSave",
      [transform, conversion](Eant_Element *element, Eerr_ErrorReport **inner) {
        return eant_ElementBoundingBoxCalculateNoSave(element, transform, conversion, inner);
      },
      err);
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
