// The layer box (the header's corners, grown as elements change), the measuring drawing (a
// renderer drawing without output whose world is the layer box, through which text and symbols
// measure themselves) and the library defaults: number 0 of each kind of style always exists.
#include <cmath>
#include <cstring>
#include <utility>

#include "eant_internal.h"
#include "egda_pixel.h"

namespace lower = taviron::lower;
using namespace taviron::eant;

namespace {

// The output record of every measuring drawing: no callbacks at all.
Eevg_GrIOInfo measuringOutput;

// The largest side of a measuring device, in pixels.
constexpr double kMaxDeviceSide = 1000000;

double At(const Evec_Bbox &box, int32_t row, int32_t column) { return lower::At<double>(box, row, column); }

struct World {
  double x1, y1, x2, y2;
};

// The world of a measuring drawing: the box, (0, 0)-(1000, 1000) without one. The renderer needs
// a world of some width and height: a box that is flat on one side takes the other side's length
// there, centred on it; a box flat on both sides (or not finite) gets the default world.
World WorldOf(const Evec_Bbox *box) {
  const World fallback{0, 0, 1000, 1000};
  if (!box || !IsBox(box)) return fallback;
  World world{At(*box, 0, 0), At(*box, 1, 0), At(*box, 0, 1), At(*box, 1, 1)};
  if (!std::isfinite(world.x1) || !std::isfinite(world.y1) || !std::isfinite(world.x2) || !std::isfinite(world.y2))
    return fallback;
  const double dx = world.x2 - world.x1, dy = world.y2 - world.y1;
  if (!std::isfinite(dx) || !std::isfinite(dy)) return fallback;
  constexpr double kFlat = 1e-10;
  const bool flatX = !(std::fabs(dx) >= kFlat), flatY = !(std::fabs(dy) >= kFlat);
  if (flatX && flatY) return fallback;
  if (flatX) {
    const double cx = (world.x1 + world.x2) / 2;
    world.x1 = cx - std::fabs(dy) / 2;
    world.x2 = cx + std::fabs(dy) / 2;
  } else if (flatY) {
    const double cy = (world.y1 + world.y2) / 2;
    world.y1 = cy - std::fabs(dx) / 2;
    world.y2 = cy + std::fabs(dx) / 2;
  }
  return world;
}

// Rounds half away from zero.
double Nearest(double value) { return value < 0 ? std::trunc(value - 0.5) : std::trunc(value + 0.5); }

// The device of a measuring drawing: the larger side of the world becomes the smallest power of
// ten above it (at least 1000), the other side follows the world's proportion. The larger side is
// held to a million pixels, the other scaled with it; neither side is below 2 pixels.
void DeviceSize(const World &world, int32_t &width, int32_t &height) {
  const double dx = std::fabs(world.x2 - world.x1), dy = std::fabs(world.y2 - world.y1);
  const double m = dx > dy ? dx : dy;
  double f = std::pow(10.0, std::trunc(std::log10(m)) + 1);
  if (f < 1000) f = 1000;
  double w = dx > dy ? f : f * dx / dy;
  double h = dx > dy ? f * dy / dx : f;
  const double larger = std::max(w, h);
  if (larger > kMaxDeviceSide) {
    w *= kMaxDeviceSide / larger;
    h *= kMaxDeviceSide / larger;
  }
  width = static_cast<int32_t>(std::max(2.0, Nearest(w)));
  height = static_cast<int32_t>(std::max(2.0, Nearest(h)));
}

// For now: the default symbol definition needs the symbol element, which is still to come; until
// then an empty symbol-definition list stays empty.
bool AddDefaultSymbol(Eant_SymbolLibrary *, Eerr_ErrorReport **) { return true; }

} // namespace

extern "C" {

Evec_Bbox *eant_GetAntBoundingBox(Eant_AnnotationInfo *info, const _exfr_XForm *transform,
                                  Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GetAntBoundingBox";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid annotation information");
    return nullptr;
  }
  if (!info->antHead) {
    lower::Report(err, reporter, 2, "Invalid annotation header");
    return nullptr;
  }
  lower::CalleeReport inner;
  Evec_Bbox *box = eant_GetBoundingBox(info->antHead->bBox, nullptr, info->antHead->xformMatrix, transform, nullptr,
                                       &inner);
  if (!box) lower::ReportCallee(err, inner, reporter, 3, "eant_GetBoundingBox");
  return box;
} TAVIRON_GUARD(err, nullptr)

void eant_SetAntBoundingBox(Eant_AnnotationInfo *info, const Evec_Bbox *box, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_SetAntBoundingBox";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input annotation info");
    return;
  }
  if (!IsBox(box)) {
    lower::Report(err, reporter, 2, "Invalid input bBox");
    return;
  }
  lower::CalleeReport inner;
  const MatrixPtr held(egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner));
  Egda_BaseData *made = held.get();
  if (!made) {
    lower::ReportCallee(err, inner, reporter, 3, "efga_MatrixCreate for bBoxMatrix");
    return;
  }
  const double x0 = At(*box, 0, 0), x1 = At(*box, 0, 1), y0 = At(*box, 1, 0), y1 = At(*box, 1, 1);
  const double xs[4] = {x0, x0, x1, x1}, ys[4] = {y0, y1, y1, y0};
  for (int32_t c = 0; c < 4; ++c) {
    lower::At<double>(*made, 0, c) = xs[c];
    lower::At<double>(*made, 1, c) = ys[c];
  }
  if (!info->antHead && !(info->antHead = eant_AntHeaderCreate(&inner))) {
    lower::ReportCallee(err, inner, reporter, 4, "eant_AntHeaderCreate");
    return;
  }
  Eant_AntHeader &header = *info->antHead;
  if (!IsCorners(header.bBox)) {
    Egda_BaseData *corners = egda_BaseDataCreate(2, 4, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner);
    if (!corners) {
      lower::ReportCallee(err, inner, reporter, 5, "efga_MatrixCreate for annotation bounding box");
      return;
    }
    egda_BaseDataDelete(header.bBox, nullptr);
    header.bBox = corners;
  }
  // The layer's corners are kept in the layer's own space: the box comes back through the inverse
  // of the layer transform.
  const bool mapped = header.ixformMatrix ? efga_PolyTransCoords(made, header.bBox, header.ixformMatrix, 0, &inner) ==
                                                    header.bBox && !inner
                                          : egda_BaseDataCopy(made, header.bBox, &inner) && !inner;
  if (!mapped) lower::ReportCallee(err, inner, reporter, 6, "efga_PolyTransCoords");
} TAVIRON_GUARD_VOID(err)

void eant_ComputeAntBoundingBox(Eant_AnnotationInfo *info, Eant_CoordSysConversion *conversion,
                                Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_ComputeAntBoundingBox";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid annotation information");
    return;
  }
  if (!info->antHead) {
    lower::Report(err, reporter, 2, "Invalid annotation header");
    return;
  }
  lower::CalleeReport inner;
  Evec_Bbox *box = nullptr;
  if (info->elements) {
    box = eant_ElementListBoundingBoxCompute(info->elements, conversion, &inner);
    if (!box || inner) {
      evec_BboxDelete(box, nullptr);
      lower::ReportCallee(err, inner, reporter, 3, "eant_ElementListBoundingBoxCompute");
      return;
    }
  } else {
    box = evec_BboxCreate(&inner);
    if (!box) {
      lower::ReportCallee(err, inner, reporter, 4, "evec_BboxCreate");
      return;
    }
    // A new box is (0, 0)-(0, 0).
  }
  eant_SetAntBoundingBox(info, box, &inner);
  evec_BboxDelete(box, nullptr);
  if (inner) lower::ReportCallee(err, inner, reporter, 5, "eant_SetAntBoundingBox");
} TAVIRON_GUARD_VOID(err)

void eant_AntBoundingBoxUpdateByElement(Eant_AnnotationInfo *info, Eant_Element *element,
                                        Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_AntBoundingBoxUpdateByElement";
  lower::Clear(err);
  if (!info) return;
  if (!element) {
    lower::Report(err, reporter, 1, "Invalid input element");
    return;
  }
  lower::CalleeReport inner;
  Evec_Bbox *box = eant_ElementBoundingBoxGet(element, nullptr, &inner);
  if (!box) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_ElementBoundingBoxGet");
    return;
  }
  if (Evec_Bbox *layer = eant_GetAntBoundingBox(info, nullptr, &inner)) {
    Evec_Bbox *both = eant_BoundingBoxUnion(layer, box, &inner);
    evec_BboxDelete(layer, nullptr);
    evec_BboxDelete(box, nullptr);
    if (!both) {
      lower::ReportCallee(err, inner, reporter, 4, "eant_BoundingBoxUnion");
      return;
    }
    box = both;
  } else {
    inner.Drop(); // no header or no layer box yet: the element's box becomes the layer's
  }
  eant_SetAntBoundingBox(info, box, &inner);
  evec_BboxDelete(box, nullptr);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 5, "eant_SetAntBoundingBox");
    return;
  }
  info->modified = 1;
} TAVIRON_GUARD_VOID(err)

Eevg_Drawing *eant_CreateFakeEevgDrawingFromBoundingBox(const Evec_Bbox *box, Eevg_Control *control,
                                                        Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CreateFakeEevgDrawingFromBoundingBox";
  lower::Clear(err);
  lower::CalleeReport inner;
  if (!control && !(control = eevg_Init(&inner))) {
    lower::ReportCallee(err, inner, reporter, 2, "eevg_Init");
    return nullptr;
  }
  const World world = WorldOf(box);
  Eevg_Coord *lowerLeft = eevg_CoordCreate(&inner);
  if (!lowerLeft) {
    lower::ReportCallee(err, inner, reporter, 3, "eevg_CoordCreate for lowerLeft");
    return nullptr;
  }
  Eevg_Coord *upperRight = eevg_CoordCreate(&inner);
  if (!upperRight) {
    eevg_CoordFree(&lowerLeft);
    lower::ReportCallee(err, inner, reporter, 4, "eevg_CoordCreate for upperRight");
    return nullptr;
  }
  *lowerLeft = {world.x1, world.y1};
  *upperRight = {world.x2, world.y2};
  Eevg_DeviceInfo device{};
  device.deviceType = 0;
  device.lineWidthUnit = 3;
  DeviceSize(world, device.width, device.height);
  Eevg_WorldInfo worldInfo{lowerLeft, upperRight};
  std::memset(&measuringOutput, 0, sizeof measuringOutput);
  Eevg_Drawing *drawing = eevg_DrawingInit(control, &device, &worldInfo, &measuringOutput, &inner);
  eevg_CoordFree(&lowerLeft);
  eevg_CoordFree(&upperRight);
  if (!drawing) lower::ReportCallee(err, inner, reporter, 6, "eevg_DrawingInit");
  return drawing;
} TAVIRON_GUARD(err, nullptr)

void eant_GetFakeEevgDrawing(Eant_AnnotationInfo *info, Eevg_Control *control, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_GetFakeEevgDrawing";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid antInfo");
    return;
  }
  if (info->fakeDrawing) return;
  lower::CalleeReport inner;
  if (!control) {
    if (!(control = eevg_Init(&inner))) {
      lower::ReportCallee(err, inner, reporter, 2, "eevg_Init");
      return;
    }
    info->eevgInfo = control;
  }
  Evec_Bbox *box = eant_GetAntBoundingBox(info, nullptr, &inner);
  inner.Drop(); // no layer box: the default world
  info->fakeDrawing = eant_CreateFakeEevgDrawingFromBoundingBox(box, control, &inner);
  evec_BboxDelete(box, nullptr);
  if (!info->fakeDrawing) lower::ReportCallee(err, inner, reporter, 3, "eant_CreateFakeEevgDrawingFromBoundingBox");
} TAVIRON_GUARD_VOID(err)

void eant_LibrariesValidate(Eant_AnnotationInfo *info, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_LibrariesValidate";
  lower::Clear(err);
  if (!info) return lower::Report(err, reporter, 1, "Invalid input annotation info");
  lower::CalleeReport inner;
  if (!info->styleLib && !(info->styleLib = eant_StyleLibraryCreate(&inner)))
    return lower::ReportCallee(err, inner, reporter, 2, "eant_StyleLibraryCreate");
  // Colours first: the default styles of the other kinds use colour 0. The codes of each kind's
  // list, count and default.
  static constexpr struct {
    StyleKindCode kind;
    int32_t list, count, add;
  } kKinds[] = {{kColors, 3, 4, 6}, {kLineStyles, 7, 8, 9}, {kFillStyles, 10, 11, 12}, {kTextStyles, 13, 14, 15}};
  for (const auto &k : kKinds) {
    const StyleKindFunctions &kind = StyleKind(k.kind);
    Edlm_List *&list = info->styleLib->*kind.list;
    if (!list && !(list = edlm_NewList(sizeof(void *), 1, &inner)))
      return lower::ReportChained(err, inner, reporter, k.list, "Error returned from edlm_NewList for %s",
                                  kind.listName);
    const int32_t count = edlm_CountList(list, &inner);
    if (inner)
      return lower::ReportChained(err, inner, reporter, k.count, "Error returned from edlm_CountList for %s",
                                  kind.listName);
    if (count > 0) continue;
    kind.createDefault(info->styleLib, &inner);
    if (inner) return lower::ReportCallee(err, inner, reporter, k.add, kind.createDefaultName);
  }
  if (!info->symbolLib && !(info->symbolLib = eant_SymbolLibraryCreate(&inner)))
    return lower::ReportCallee(err, inner, reporter, 16, "eant_SymbolLibraryCreate");
  Edlm_List *&symbols = info->symbolLib->symbolDataList;
  if (!symbols && !(symbols = edlm_NewList(sizeof(void *), 1, &inner)))
    return lower::ReportCallee(err, inner, reporter, 17, "edlm_NewList for symbolDataList");
  const int32_t count = edlm_CountList(symbols, &inner);
  if (inner) return lower::ReportCallee(err, inner, reporter, 18, "edlm_CountList for symbolDataList");
  if (count == 0 && !AddDefaultSymbol(info->symbolLib, &inner))
    lower::ReportCallee(err, inner, reporter, 19, "eant_SymbolDataCreateDefault");
} TAVIRON_GUARD_VOID(err)

} // extern "C"
