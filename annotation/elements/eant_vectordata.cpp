// Vector data: the coordinates of the vertex elements, and their stored forms. The stored form
// shares the coordinate values with the block both ways: the writer's form holds copies of the
// matrix headers only, and a record read back builds its block over the reader's header array,
// which the block frees once.
#include <cstring>

#include "eant_internal.h"
#include "efio.h"
#include "emsc.h"
#include "exfr.h"

namespace lower = taviron::lower;
namespace record = taviron::record;
using namespace taviron::eant;

namespace {

constexpr const char *kNonLocal = "Non-local vector data not yet supported";

// A part that the operations can read as coordinates: 2 x n f64 with its values in place.
bool IsCoordinatePart(const Egda_BaseData &part) {
  return part.rows == 2 && part.columns >= 0 && part.pixelType == EGDA_TYPE_F64 &&
         part.count == part.rows * part.columns && (part.columns == 0 || part.origin) &&
         part.elementSize == static_cast<int32_t>(sizeof(double)) &&
         (part.columns <= 1 || part.pitch >= 2 * part.elementSize);
}

// Reads a stored form of either design into a new record (the old one has no smooth flag).
template <class Stored>
Eant_VectorData *FromPrivate(Stored *stored, const char *reporter, Eerr_ErrorReport **err) {
  if (!stored) return nullptr;
  if (stored->source != EANT_LOCAL) {
    if (stored->source == EANT_VECTORDATA)
      lower::Report(err, reporter, 5, kNonLocal);
    else
      lower::Report(err, reporter, 6, "Invalid data source");
    return nullptr;
  }
  MatrixArrayStored &array = stored->coords;
  if (array.count < 0 || (array.count > 0 && !array.data)) {
    lower::Report(err, reporter, 7, "Invalid coordinates in stored vector data");
    return nullptr;
  }
  for (int32_t i = 0; i < array.count; ++i)
    if (!IsCoordinatePart(array.data[i])) {
      lower::Report(err, reporter, 7, "Invalid coordinates in stored vector data");
      return nullptr;
    }
  auto *data = lower::HeapNew<Eant_VectorData>();
  if (!data) {
    lower::Report(err, reporter, 2, "Error allocating VectorData");
    return nullptr;
  }
  data->source = EANT_LOCAL;
  if constexpr (requires { stored->smooth; }) data->smooth = stored->smooth;
  if (array.count > 0) {
    lower::CalleeReport inner;
    Efga_CoordinateBlock *block = efga_CoordBlockPtrCreate(array.count, &inner);
    if (!block) {
      lower::HeapDelete(data);
      lower::ReportCallee(err, inner, reporter, 3, "efga_CoordBlockPtrCreate");
      return nullptr;
    }
    for (int32_t i = 0; i < array.count; ++i) block->parts[i] = &array.data[i];
    block->ownsHeaderArray = 1; // the block now frees the reader's array
    data->coords = block;
    array = {0, nullptr};
  }
  return data;
}

} // namespace

extern "C" {

Eant_VectorData *eant_VectorDataCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *data = lower::HeapNew<Eant_VectorData>();
  if (!data) lower::Report(err, __func__, 1, "Error allocating Vector Data");
  return data;
} TAVIRON_GUARD(err, nullptr)

void eant_VectorDataFree(Eant_VectorData **data) try {
  if (!data || !*data) return;
  efga_CoordBlockDelete((*data)->coords, nullptr);
  lower::HeapDelete(*data);
  *data = nullptr;
} TAVIRON_GUARD_QUIET_VOID

void eant_VectorDataSet(Eant_VectorData *data, int32_t source, const Efga_CoordinateBlock *block,
                        Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!data) return lower::Report(err, __func__, 1, "Invalid input vectorData");
  if (source == EANT_VECTORDATA) return lower::Report(err, __func__, 3, kNonLocal);
  if (source != EANT_LOCAL) return lower::Report(err, __func__, 4, "Invalid data source");
  lower::CalleeReport inner;
  Efga_CoordinateBlock *copy = nullptr;
  if (block && !(copy = efga_CoordBlockCopy(block, nullptr, &inner)))
    return lower::ReportCallee(err, inner, __func__, 2, "efga_CoordBlockCopy");
  data->source = EANT_LOCAL;
  efga_CoordBlockDelete(data->coords, nullptr);
  data->coords = copy;
} TAVIRON_GUARD_VOID(err)

Efga_CoordinateBlock *eant_VectorDataGet(Eant_VectorData *data, _exfr_XForm *xform, Efga_CoordinateBlock *block,
                                         Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!data) {
    lower::Report(err, __func__, 1, "Invalid input vectorData");
    return block;
  }
  if (data->source == EANT_VECTORDATA) {
    lower::Report(err, __func__, 3, kNonLocal);
    return block;
  }
  if (data->source != EANT_LOCAL) {
    lower::Report(err, __func__, 4, "Invalid data source");
    return block;
  }
  if (!data->coords) {
    lower::Report(err, __func__, 2, "Local coords do not exist");
    return block;
  }
  lower::CalleeReport inner;
  Efga_CoordinateBlock *result = nullptr;
  if (xform) {
    result = exfr_CoordBlockTransform(xform, data->coords, block, &inner);
    if (!result || inner) lower::ReportCallee(err, inner, __func__, 5, "exfr_CoordBlockTransform");
    return result ? result : block;
  }
  // Without a transform the values are copied into the given block or into a new one.
  result = efga_CoordBlockCopy(data->coords, block, &inner);
  if (!result || inner) lower::ReportCallee(err, inner, __func__, 6, "efga_CoordBlockCopy");
  return result ? result : block;
} TAVIRON_GUARD(err, nullptr)

Eant_VectorData *eant_VectorDataCopy(const Eant_VectorData *source, Eant_VectorData *target,
                                     Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!source) {
    lower::Report(err, __func__, 1, "Invalid input Eant_VectorData");
    return target;
  }
  lower::CalleeReport inner;
  Eant_VectorData *made = nullptr;
  if (!target && !(target = made = eant_VectorDataCreate(&inner))) {
    lower::ReportCallee(err, inner, __func__, 2, "eant_VectorDataCreate");
    return nullptr;
  }
  target->source = source->source;
  if (source->source == EANT_VECTORDATA) {
    lower::Report(err, __func__, 4, kNonLocal);
    return target;
  }
  if (source->source != EANT_LOCAL) {
    lower::Report(err, __func__, 5, "Invalid data source");
    return target;
  }
  Efga_CoordinateBlock *copy = nullptr;
  if (source->coords && !(copy = efga_CoordBlockCopy(source->coords, nullptr, &inner))) {
    eant_VectorDataFree(&made);
    lower::ReportCallee(err, inner, __func__, 3, "efga_CoordBlockCopy");
    return nullptr;
  }
  efga_CoordBlockDelete(target->coords, nullptr);
  target->coords = copy;
  return target;
} TAVIRON_GUARD(err, nullptr)

void eant_VectorDataPrint(const Eant_VectorData *data, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  efio_Printf("Coordinates:\n");
  if (!data) return lower::Report(err, __func__, 1, "Invalid input Eant_VectorData");
  if (data->source == EANT_VECTORDATA) return lower::Report(err, __func__, 2, kNonLocal);
  if (data->source != EANT_LOCAL) return lower::Report(err, __func__, 3, "Invalid vector data source");
  const Efga_CoordinateBlock *block = data->coords;
  if (!block) return;
  for (int32_t i = 0; i < block->count; ++i) {
    efio_Printf("  Element %ld:\n", static_cast<long>(i));
    const Egda_BaseData *part = block->parts[i];
    if (!part || !IsCoordinatePart(*part)) continue;
    for (int32_t c = 0; c < part->columns; ++c)
      efio_Printf("    %lg, %lg\n", At(part, 0, c), At(part, 1, c));
  }
} TAVIRON_GUARD_VOID(err)

void *eant_VectorDataCopyToPrivate(const Eant_VectorData *data, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!data) return nullptr;
  if (data->source == EANT_VECTORDATA) {
    lower::Report(err, __func__, 4, kNonLocal);
    return nullptr;
  }
  if (data->source != EANT_LOCAL) {
    lower::Report(err, __func__, 5, "Invalid data source");
    return nullptr;
  }
  auto *stored = lower::HeapNew<VectorData2Stored>();
  if (!stored) {
    lower::Report(err, __func__, 2, "Error allocating VectorData");
    return nullptr;
  }
  stored->source = EANT_LOCAL;
  stored->smooth = data->smooth;
  const Efga_CoordinateBlock *block = data->coords;
  if (block && block->count > 0) {
    auto *headers = static_cast<Egda_BaseData *>(emsc_HeapMalloc(sizeof(Egda_BaseData) * block->count));
    if (!headers) {
      lower::HeapDelete(stored);
      lower::Report(err, __func__, 3, "Error allocating VectorData coords");
      return nullptr;
    }
    // The headers point at the block's values; the copies own nothing.
    for (int32_t i = 0; i < block->count; ++i) {
      if (block->parts[i]) {
        headers[i] = *block->parts[i];
      } else {
        headers[i] = Egda_BaseData{};
        headers[i].rows = 2;
        headers[i].pixelType = EGDA_TYPE_F64;
        headers[i].objectType = EGDA_MATRIX;
        headers[i].elementSize = sizeof(double);
      }
      headers[i].ownsData = 0;
    }
    stored->coords = {block->count, headers};
  }
  return stored;
} TAVIRON_GUARD(err, nullptr)

Eant_VectorData *eant_VectorDataCopyFromPrivate(void *stored, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return FromPrivate(static_cast<VectorDataStored *>(stored), __func__, err);
} TAVIRON_GUARD(err, nullptr)

Eant_VectorData *eant_VectorDataCopyFromPrivate2(void *stored, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  return FromPrivate(static_cast<VectorData2Stored *>(stored), __func__, err);
} TAVIRON_GUARD(err, nullptr)

} // extern "C"
