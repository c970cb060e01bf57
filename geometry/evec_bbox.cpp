// Coordinates, bounding boxes and clip windows.
#include <algorithm>
#include <cmath>

#include "efga.h"
#include "efio.h"
#include "eirf.h"
#include "emsc.h"
#include "evec.h"
#include "evec_internal.h"
#include "guard.h"

namespace geo = taviron::geometry;

namespace {

// A box whose four values can be read (or written) through its steps.
bool IsBox(const Evec_Bbox *box) { return geo::IsCoordMatrix(box, 2, 2); }

// The row (0 x, 1 y) of a box read from its stored values x1, y1, x2, y2, normalised.
void StoredRow(const Evec_Bbox &box, int row, double &low, double &high) {
  const double a = geo::Load(box.origin + 8 * row);
  const double b = geo::Load(box.origin + 16 + 8 * row);
  low = std::min(a, b);
  high = std::max(a, b);
}

void StoreRow(Evec_Bbox &box, int row, double low, double high) {
  geo::Store(box.origin + 8 * row, low);
  geo::Store(box.origin + 16 + 8 * row, high);
}

// The intersection test of two valid boxes into an optional valid output.
int32_t Intersect(const Evec_Bbox &a, const Evec_Bbox &b, Evec_Bbox *output) {
  int32_t result = 1;
  for (int row = 0; row < 2 && result == 1; ++row) {
    double alow, ahigh, blow, bhigh;
    StoredRow(a, row, alow, ahigh);
    StoredRow(b, row, blow, bhigh);
    const double low = std::max(alow, blow);
    const double high = std::min(ahigh, bhigh);
    if (output) StoreRow(*output, row, low, high);
    if (low > high) result = 0;
  }
  return result;
}

bool InWindow(const ClipWind *window, const Evec_Coord *coord, double d) {
  if (!window || !window->boxes || window->count < 0 || !coord) return false;
  if (window->count == 0) return true;
  const double x = coord->x, y = coord->y;
  for (int32_t i = 0; i < window->count; ++i) {
    const Evec_Bbox *box = window->boxes[i];
    if (!IsBox(box)) continue;
    const geo::Steps v(*box);
    if (v.X(0) - d <= x && x <= v.X(1) + d && v.Y(0) - d <= y && y <= v.Y(1) + d) return true;
  }
  return false;
}

void Fill(Evec_Bbox *box, const geo::Extent &e) {
  const geo::Steps v(*box);
  v.Set(0, e.x1, e.y1);
  v.Set(1, e.x2, e.y2);
}

} // namespace

extern "C" {

Evec_Coord *evec_CoordCreate(Eerr_ErrorReport **err) try {
  geo::Clear(err);
  return static_cast<Evec_Coord *>(emsc_HeapMalloc(sizeof(Evec_Coord)));
} TAVIRON_GUARD(err, nullptr)

void evec_CoordDelete(Evec_Coord *coord, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  emsc_HeapFree(coord);
} TAVIRON_GUARD_VOID(err)

Evec_Bbox *evec_BboxCreate(Eerr_ErrorReport **err) try {
  geo::Clear(err);
  Eerr_ErrorReport *inner = nullptr;
  Evec_Bbox *box = egda_BaseDataCreate(2, 2, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, &inner);
  eerr_DeleteErrorReportEx(&inner);
  return box;
} TAVIRON_GUARD(err, nullptr)

void evec_BboxDelete(Evec_Bbox *box, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  egda_BaseDataDelete(box, nullptr);
} TAVIRON_GUARD_VOID(err)

void evec_BboxCopy(Evec_Bbox *destination, const Evec_Bbox *source, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsBox(destination) || !IsBox(source)) {
    geo::Report(err, "evec_BboxCopy", __LINE__, "Bad parms to %s", "evec_BboxCopy");
    return;
  }
  const geo::Steps from(*source), to(*destination);
  to.Set(0, from.X(0), from.Y(0));
  to.Set(1, from.X(1), from.Y(1));
} TAVIRON_GUARD_VOID(err)

void evec_BboxPrint(const Egda_BaseData *matrix, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!geo::IsCoordMatrix(matrix, 0)) {
    geo::Report(err, "evec_BboxPrint", __LINE__, "Bad parms to %s", "evec_BboxPrint");
    return;
  }
  const bool columnMajor = matrix->objectType == EGDA_TABLE || matrix->objectType == EGDA_MATRIX;
  const int32_t majors = columnMajor ? matrix->columns : matrix->rows;
  const int32_t minors = columnMajor ? matrix->rows : matrix->columns;
  for (int32_t i = 0; i < majors; ++i)
    for (int32_t j = 0; j < minors; ++j)
      efio_Printf("%f\n", geo::Load(matrix->origin + std::ptrdiff_t{i} * matrix->pitch +
                                    std::ptrdiff_t{j} * 8));
} TAVIRON_GUARD_VOID(err)

Eirf_Rectangle *evec_FormBboxRectangle(const Evec_Bbox *box, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsBox(box)) {
    geo::Report(err, "evec_FormBboxRectangle", __LINE__, "Bad parms to %s",
                "evec_FormBboxRectangle");
    return nullptr;
  }
  const geo::Steps v(*box);
  const auto single = [](double value) { return static_cast<double>(static_cast<float>(value)); };
  Eerr_ErrorReport *inner = nullptr;
  Eirf_Rectangle *rectangle =
      eirf_RectangleCreate(single(v.X(0)), single(v.X(1)), single(v.Y(0)), single(v.Y(1)), &inner);
  eerr_DeleteErrorReportEx(&inner);
  return rectangle;
} TAVIRON_GUARD(err, nullptr)

Evec_Bbox *evec_FormRectangleBbox(const Eirf_Rectangle *rectangle, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!rectangle) {
    geo::Report(err, "evec_FormRectangleBbox", __LINE__, "Bad parms to %s",
                "evec_FormRectangleBbox");
    return nullptr;
  }
  Evec_Bbox *box = evec_BboxCreate(nullptr);
  if (!box) return nullptr;
  Fill(box, {rectangle->left, rectangle->top, rectangle->right, rectangle->bottom});
  return box;
} TAVIRON_GUARD(err, nullptr)

int32_t evec_BboxIntersectBbox(const Evec_Bbox *a, const Evec_Bbox *b, Evec_Bbox *output,
                               Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsBox(a) || !IsBox(b) || (output && !IsBox(output))) {
    geo::Report(err, "evec_BboxIntersectBbox", __LINE__, "Bad parms to %s",
                "evec_BboxIntersectBbox");
    return 0;
  }
  // Without an output box the call is a pure test: nothing needs to be made.
  return Intersect(*a, *b, output);
} TAVIRON_GUARD(err, 0)

int32_t evec_BboxOverlapBbox(const Evec_Bbox *a, const Evec_Bbox *b, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!IsBox(a) || !IsBox(b)) {
    geo::Report(err, "evec_BboxOverlapBbox", __LINE__, "Bad parms to %s", "evec_BboxOverlapBbox");
    return 0;
  }
  const geo::Steps va(*a), vb(*b);
  return geo::ExtentsOverlap({va.X(0), va.Y(0), va.X(1), va.Y(1)},
                             {vb.X(0), vb.Y(0), vb.X(1), vb.Y(1)})
             ? 1
             : 0;
} TAVIRON_GUARD(err, 0)

int32_t evec_BboxIntersectClipWind(const ClipWind *window, const Evec_Bbox *box,
                                   Evec_Bbox *output, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  int32_t result = 1;
  if (window && window->count <= 0) return result;
  if (!window || !window->boxes) {
    geo::Report(err, "evec_BboxIntersectClipWind", __LINE__, "Bad parms to %s",
                "evec_BboxIntersectClipWind");
    return 0;
  }
  for (int32_t i = 0; i < window->count && result == 1; ++i)
    result = evec_BboxIntersectBbox(window->boxes[i], box, output, err);
  return result;
} TAVIRON_GUARD(err, 0)

Evec_Bbox *evec_BboxUnionBbox(const Evec_Bbox *a, const Evec_Bbox *b, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if ((!a && !b) || (a && !IsBox(a)) || (b && !IsBox(b))) {
    geo::Report(err, "evec_BboxUnionBbox", __LINE__, "Bad parms to %s", "evec_BboxUnionBbox");
    return nullptr;
  }
  Evec_Bbox *result = evec_BboxCreate(nullptr);
  if (!result) {
    geo::Report(err, "evec_BboxUnionBbox", __LINE__, "Failure in %s", "evec_BboxUnionBbox");
    return nullptr;
  }
  if (a && b) {
    for (int row = 0; row < 2; ++row) {
      double alow, ahigh, blow, bhigh;
      StoredRow(*a, row, alow, ahigh);
      StoredRow(*b, row, blow, bhigh);
      StoreRow(*result, row, std::min(alow, blow), std::max(ahigh, bhigh));
    }
  } else {
    const Evec_Bbox &one = a ? *a : *b;
    for (int k = 0; k < 4; ++k) geo::Store(result->origin + 8 * k, geo::Load(one.origin + 8 * k));
  }
  return result;
} TAVIRON_GUARD(err, nullptr)

Evec_Bbox *evec_GetBboxFromMatrixN(Evec_Bbox *box, const Egda_BaseData *matrix, int32_t n,
                                   Eerr_ErrorReport **err) try {
  geo::Clear(err);
  static const char kReporter[] = "evec_GetBboxFromMatrix";
  if (n <= 0) {
    geo::Report(err, kReporter, 1, "Insufficient coordinates in matrix");
    return nullptr;
  }
  if (!geo::IsCoordMatrix(matrix) || (box && !IsBox(box))) {
    geo::Report(err, kReporter, 2, "Invalid input matrix");
    return nullptr;
  }
  if (n > matrix->columns) {
    geo::Report(err, kReporter, 3, "Insufficient coordinates in matrix");
    return nullptr;
  }
  Evec_Bbox *result = box ? box : evec_BboxCreate(nullptr);
  if (!result) {
    geo::Report(err, kReporter, 4, "Error returned from evec_BboxCreate");
    return nullptr;
  }
  Fill(result, geo::ExtentOf(geo::Steps(*matrix), n));
  return result;
} TAVIRON_GUARD(err, nullptr)

Evec_Bbox *evec_GetBboxFromMatrix(Evec_Bbox *box, const Egda_BaseData *matrix,
                                  Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!geo::IsCoordMatrix(matrix)) {
    geo::Report(err, "evec_GetBboxFromMatrix", 2, "Invalid input matrix");
    return nullptr;
  }
  return evec_GetBboxFromMatrixN(box, matrix, matrix->columns, err);
} TAVIRON_GUARD(err, nullptr)

Evec_Bbox *evec_GetBboxFromCoordBlock(const Efga_CoordinateBlock *block, Evec_Bbox *box,
                                      Eerr_ErrorReport **err) try {
  geo::Clear(err);
  static const char kReporter[] = "evec_GetBboxFromCoordBlock";
  if (!block || block->count <= 0 || !block->parts || !geo::IsCoordMatrix(block->parts[0], 2, 1) ||
      (box && !IsBox(box))) {
    geo::Report(err, kReporter, 1, "Invalid input coordBlock");
    return box;
  }
  geo::Extent e = geo::ExtentOf(geo::Steps(*block->parts[0]), 1);
  for (int32_t p = 0; p < block->count; ++p) {
    const Egda_BaseData *part = block->parts[p];
    if (!geo::IsCoordMatrix(part, 2, 1)) continue;
    const geo::Steps v(*part);
    for (int32_t j = 0; j < v.n; ++j) {
      const double x = v.X(j), y = v.Y(j);
      if (x < e.x1) e.x1 = x;
      else if (x > e.x2) e.x2 = x;
      if (y < e.y1) e.y1 = y;
      else if (y > e.y2) e.y2 = y;
    }
  }
  Evec_Bbox *result = box ? box : evec_BboxCreate(nullptr);
  if (!result) {
    geo::Report(err, kReporter, 2, "Error returned from evec_BboxCreate");
    return nullptr;
  }
  Fill(result, e);
  return result;
} TAVIRON_GUARD(err, nullptr)

ClipWind *evec_ClipWindCreate(int32_t count, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  auto *window = static_cast<ClipWind *>(emsc_HeapMalloc(sizeof(ClipWind)));
  if (!window) {
    geo::Report(err, "evec_ClipWindCreate", 1, "Error allocating ClipWind");
    return nullptr;
  }
  window->count = count;
  if (count > 0) {
    window->boxes = static_cast<Evec_Bbox **>(
        emsc_HeapMalloc(static_cast<std::size_t>(count) * sizeof(Evec_Bbox *)));
    if (!window->boxes) {
      emsc_HeapFree(window);
      geo::Report(err, "evec_ClipWindCreate", 2, "Error allocating ClipWind");
      return nullptr;
    }
  }
  return window;
} TAVIRON_GUARD(err, nullptr)

void evec_ClipWindDelete(ClipWind *window, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  if (!window) return;
  if (window->boxes)
    for (int32_t i = 0; i < window->count; ++i) egda_BaseDataDelete(window->boxes[i], nullptr);
  emsc_HeapFree(window->boxes);
  emsc_HeapFree(window);
} TAVIRON_GUARD_VOID(err)

int32_t evec_CoordInClipWind(const ClipWind *window, const Evec_Coord *coord,
                             Eerr_ErrorReport **err) try {
  geo::Clear(err);
  return InWindow(window, coord, 0.0) ? 1 : 0;
} TAVIRON_GUARD(err, 0)

int32_t evec_CoordInClipWindWithBufferDistance(const ClipWind *window, const Evec_Coord *coord,
                                               double distance, Eerr_ErrorReport **err) try {
  geo::Clear(err);
  return InWindow(window, coord, std::fabs(distance)) ? 1 : 0;
} TAVIRON_GUARD(err, 0)

int32_t evec_ClipLine(double *x0, double *y0, double *x1, double *y1, const Egda_BaseData *window,
                      Eerr_ErrorReport **err) try {
  return efga_ClipLine(x0, y0, x1, y1, window, err);
} TAVIRON_GUARD(err, -1)

} // extern "C"
