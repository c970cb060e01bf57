// The graphics-output callback record: create, copy, free, and the drawing's view of it.
#include "eevg.h"
#include "eevg_internal.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

extern "C" {

Eevg_GrIOInfo *eevg_GrIOInfoCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return static_cast<Eevg_GrIOInfo *>(emsc_HeapMalloc(sizeof(Eevg_GrIOInfo)));
} TAVIRON_GUARD(err, nullptr)

int32_t eevg_GrIOInfoCopy(Eevg_GrIOInfo *destination, const Eevg_GrIOInfo *source,
                          Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!source) return -1;
  if (!destination) {
    // A record made here could not reach the caller: nothing is made.
    lower::Report(err, "eevg_GrIOInfoCopy", 1, "Invalid output Eevg Graphics record");
    return -1;
  }
  *destination = *source;
  return 0;
} TAVIRON_GUARD(err, -1)

void eevg_GrIOInfoFree(Eevg_GrIOInfo **record) try {
  if (!record || !*record) return;
  if ((*record)->free) (*record)->free(*record);
  emsc_HeapFreeEx(record);
} TAVIRON_GUARD_QUIET_VOID

Eevg_GrIOInfo *eevg_GrIOInfoGet(Eevg_Drawing *drawing, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!drawing) {
    lower::Report(err, "eevg_GrIOInfoGet", 4, "Error finding the contents of the drawing");
    return nullptr;
  }
  return &drawing->grIOInfoCopy;
} TAVIRON_GUARD(err, nullptr)

Eevg_GrIOInfo *eevg_GrIOInfoInternalGet(Eevg_Drawing *drawing, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!drawing) {
    lower::Report(err, "eevg_GrIOInfoInternalGet", 4, "Error finding the contents of the drawing");
    return nullptr;
  }
  return drawing->grIOInfo;
} TAVIRON_GUARD(err, nullptr)

int32_t eevg_PutPointQuery(Eevg_Drawing *drawing, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return drawing && drawing->grIOInfo && drawing->grIOInfo->putPoint ? 1 : 0;
} TAVIRON_GUARD(err, 0)

Eevg_RGBPixelRect *eevg_RGBPixelRectCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *rect = static_cast<Eevg_RGBPixelRect *>(emsc_HeapMalloc(sizeof(Eevg_RGBPixelRect)));
  if (!rect) lower::Report(err, "eevg_RGBPixelRectCreate", 1, "Error allocating RGBPixelRect");
  return rect;
} TAVIRON_GUARD(err, nullptr)

void eevg_RGBPixelRectFree(Eevg_RGBPixelRect **rect) try {
  if (rect && *rect) emsc_HeapFreeEx(rect);
} TAVIRON_GUARD_QUIET_VOID

} // extern "C"
