// Image rectangles and resampling method names.
#include "eirf.h"

#include <cmath>

#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

struct Method {
  const char *name;
  const char *description;
};

constexpr Method kNearest = {EIRF_NEAREST_NEIGHBOR, "Value of the nearest input pixel"};
constexpr Method kBilinear = {EIRF_BILINEAR_INTERPOLATION,
                              "Distance-weighted mean of the 2 x 2 nearest input pixels"};
constexpr Method kCubic = {EIRF_CUBIC_CONVOLUTION,
                           "Cubic convolution over the 4 x 4 nearest input pixels"};

// True when the transform moves every pixel centre onto another pixel centre.
bool WholePixelShift(const _exfr_XForm *xform) {
  double m[6];
  if (!exfr_XFormAffineExtractIfPresent(xform, m, nullptr)) return false;
  return m[0] == 1 && m[1] == 0 && m[3] == 0 && m[4] == 1 && std::floor(m[2]) == m[2] &&
         std::floor(m[5]) == m[5];
}

} // namespace

extern "C" {

Eirf_Rectangle *eirf_RectangleCreate(double left, double right, double top, double bottom,
                                     Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *r = static_cast<Eirf_Rectangle *>(emsc_HeapMalloc(sizeof(Eirf_Rectangle)));
  if (!r) {
    lower::Report(err, "eirf_RectangleCreate", 1, "Error allocating rectangle");
    return nullptr;
  }
  *r = {left, top, right, bottom};
  return r;
} TAVIRON_GUARD(err, nullptr)

Eirf_Rectangle *eirf_RectangleCopy(const Eirf_Rectangle *rectangle, Eirf_Rectangle *destination,
                                   Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!rectangle) {
    lower::Report(err, "eirf_RectangleCopy", 1, "Invalid rectangle");
    return nullptr;
  }
  Eirf_Rectangle *target = destination;
  if (!target) {
    target = static_cast<Eirf_Rectangle *>(emsc_HeapMalloc(sizeof(Eirf_Rectangle)));
    if (!target) {
      lower::Report(err, "eirf_RectangleCopy", 2, "Error allocating rectangle");
      return nullptr;
    }
  }
  *target = *rectangle;
  return target;
} TAVIRON_GUARD(err, nullptr)

void eirf_RectangleDelete(Eirf_Rectangle *rectangle, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  emsc_HeapFree(rectangle);
} TAVIRON_GUARD_VOID(err)

void eirf_RectangleDestroy(Eirf_Rectangle *rectangle, Eerr_ErrorReport **err) try {
  eirf_RectangleDelete(rectangle, err);
} TAVIRON_GUARD_VOID(err)

int32_t eirf_ResampleMethodsGet(const _exfr_XForm *xform, int32_t pixelType, Estr_StringList **names,
                                Estr_StringList **descriptions, Eerr_ErrorReport **err, ...) try {
  lower::Clear(err);
  if (!names) {
    lower::Report(err, "eirf_ResampleMethodsGet", 1, "Invalid address for the method names");
    return -1;
  }
  *names = nullptr;
  if (descriptions) *descriptions = nullptr;
  if (pixelType < -1 || pixelType > EGDA_TYPE_STRING) {
    lower::Report(err, "eirf_ResampleMethodsGet", 2, "Invalid pixel type %d", pixelType);
    return -1;
  }
  Method offered[3];
  int32_t count = 0;
  if (pixelType != EGDA_TYPE_STRING) {
    offered[count++] = kNearest;
    const bool classes = pixelType >= EGDA_TYPE_U1 && pixelType <= EGDA_TYPE_U4;
    if (!classes && !WholePixelShift(xform)) {
      offered[count++] = kBilinear;
      offered[count++] = kCubic;
    }
  }
  Estr_StringList *n = estr_StringListCreate(count, err);
  Estr_StringList *d = n && descriptions ? estr_StringListCreate(count, err) : nullptr;
  bool ok = n && (!descriptions || d);
  for (int32_t i = 0; ok && i < count; ++i) {
    n->strings[i] = estr_Duplicate(offered[i].name);
    if (d) d->strings[i] = estr_Duplicate(offered[i].description);
    ok = n->strings[i] && (!d || d->strings[i]);
  }
  if (!ok) {
    estr_StringListDelete(n, nullptr);
    estr_StringListDelete(d, nullptr);
    lower::Report(err, "eirf_ResampleMethodsGet", 3, "Error allocating the method list");
    return -1;
  }
  *names = n;
  if (descriptions) *descriptions = d;
  return count;
} TAVIRON_GUARD(err, -1)

} // extern "C"
