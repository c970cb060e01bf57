// Typed matrices.
#include "egda.h"

#include <cstring>
#include <limits>

#include "egda_pixel.h"
#include "emsc.h"
#include "estr.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

bool ValidShape(int32_t rows, int32_t columns, int32_t pixelType, int32_t objectType) {
  if (rows < 0 || columns < 0) return false;
  if (egda_PixelTypeSize(pixelType) == 0) return false;
  if (objectType < EGDA_SCALAR || objectType > EGDA_RASTER) return false;
  const int64_t bytes = int64_t{rows} * columns * egda_PixelTypeSize(pixelType);
  return bytes <= std::numeric_limits<int32_t>::max();
}

// Pitch of a compact buffer of this shape.
int32_t CompactPitch(int32_t rows, int32_t columns, int32_t size, int32_t objectType) {
  const bool columnMajor = objectType == EGDA_TABLE || objectType == EGDA_MATRIX;
  return (columnMajor ? rows : columns) * size;
}

void FreeStrings(Egda_BaseData *m) {
  if (m->pixelType != EGDA_TYPE_STRING || !m->data) return;
  const bool columnMajor = lower::IsColumnMajor(*m);
  const int32_t majors = columnMajor ? m->columns : m->rows;
  const int32_t minors = columnMajor ? m->rows : m->columns;
  for (int32_t i = 0; i < majors; ++i)
    for (int32_t j = 0; j < minors; ++j) {
      char **slot = reinterpret_cast<char **>(m->data + std::ptrdiff_t{i} * m->pitch + std::ptrdiff_t{j} * m->elementSize);
      emsc_HeapFreeEx(slot);
    }
}

} // namespace

extern "C" {

int32_t egda_PixelTypeSize(int32_t pixelType) {
  int32_t size = 0;
  lower::DispatchPixelType(pixelType, [&](auto t) { size = sizeof(lower::Pixel<decltype(t)::value>); });
  return size;
}

Egda_BaseData *egda_BaseDataCreate(int32_t rows, int32_t columns, int32_t pixelType,
                                   int32_t objectType, void *data, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!ValidShape(rows, columns, pixelType, objectType)) {
    lower::Report(err, "egda_BaseDataCreate", 1,
                  "Invalid matrix: %d rows, %d columns, pixel type %d, object type %d", rows,
                  columns, pixelType, objectType);
    return nullptr;
  }
  auto *m = static_cast<Egda_BaseData *>(emsc_HeapMalloc(sizeof(Egda_BaseData)));
  if (!m) {
    lower::Report(err, "egda_BaseDataCreate", 2, "Error allocating matrix");
    return nullptr;
  }
  m->rows = rows;
  m->columns = columns;
  m->pixelType = pixelType;
  m->objectType = objectType;
  m->elementSize = egda_PixelTypeSize(pixelType);
  m->count = rows * columns;
  m->pitch = CompactPitch(rows, columns, m->elementSize, objectType);
  if (data) {
    m->data = static_cast<uint8_t *>(data);
  } else {
    const std::size_t bytes = static_cast<std::size_t>(m->count) * static_cast<std::size_t>(m->elementSize);
    m->data = static_cast<uint8_t *>(emsc_HeapMalloc(bytes ? bytes : 1));
    if (!m->data) {
      emsc_HeapFree(m);
      lower::Report(err, "egda_BaseDataCreate", 3, "Error allocating %d x %d matrix data", rows, columns);
      return nullptr;
    }
    m->ownsData = 1;
  }
  m->origin = m->data;
  return m;
}

void egda_BaseDataDelete(Egda_BaseData *matrix, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!matrix) return;
  if (matrix->ownsData) {
    FreeStrings(matrix);
    emsc_HeapFree(matrix->data);
  }
  emsc_HeapFree(matrix);
}

Egda_BaseData *egda_BaseDataCopy(const Egda_BaseData *source, Egda_BaseData *destination,
                                 Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!source) {
    lower::Report(err, "egda_BaseDataCopy", 1, "Invalid source matrix");
    return nullptr;
  }
  if (source == destination) return destination;
  const int32_t size = source->elementSize;
  const int32_t pitch = CompactPitch(source->rows, source->columns, size, source->objectType);
  const std::size_t bytes = static_cast<std::size_t>(source->rows) * static_cast<std::size_t>(source->columns) * static_cast<std::size_t>(size);

  Egda_BaseData *target = destination;
  uint8_t *buffer = nullptr;
  const bool reuse = target && target->ownsData && target->elementSize == size &&
                     target->rows == source->rows && target->columns == source->columns &&
                     lower::IsColumnMajor(*target) == lower::IsColumnMajor(*source) &&
                     target->pitch == pitch && target->pixelType != EGDA_TYPE_STRING;
  if (target && !target->ownsData && int64_t{target->rows} * target->columns * target->elementSize < int64_t(bytes)) {
    lower::Report(err, "egda_BaseDataCopy", 2, "Destination matrix borrows a buffer that is too small");
    return nullptr;
  }
  if (reuse || (target && !target->ownsData)) {
    buffer = target->data;
  } else {
    buffer = static_cast<uint8_t *>(emsc_HeapMalloc(bytes ? bytes : 1));
    if (!buffer) {
      lower::Report(err, "egda_BaseDataCopy", 3, "Error allocating matrix data");
      return nullptr;
    }
  }
  if (!target) {
    target = static_cast<Egda_BaseData *>(emsc_HeapMalloc(sizeof(Egda_BaseData)));
    if (!target) {
      emsc_HeapFree(buffer);
      lower::Report(err, "egda_BaseDataCopy", 4, "Error allocating matrix");
      return nullptr;
    }
    target->ownsData = 1;
  } else if (buffer != target->data) {
    FreeStrings(target);
    emsc_HeapFree(target->data);
    target->ownsData = 1;
  }

  // Rows and columns count the whole buffer (a border included); walk it from the data start.
  const bool columnMajor = lower::IsColumnMajor(*source);
  const int32_t majors = columnMajor ? source->columns : source->rows;
  const int32_t minorBytes = (columnMajor ? source->rows : source->columns) * size;
  for (int32_t i = 0; i < majors; ++i)
    std::memmove(buffer + std::ptrdiff_t{i} * pitch, source->data + std::ptrdiff_t{i} * source->pitch, static_cast<std::size_t>(minorBytes));
  bool stringsFailed = false;
  if (source->pixelType == EGDA_TYPE_STRING) {
    for (std::size_t k = 0; k < bytes / sizeof(char *); ++k) {
      char **slot = reinterpret_cast<char **>(buffer) + k;
      if (*slot && !(*slot = estr_Duplicate(*slot))) stringsFailed = true;
    }
  }

  // Keep the origin at the same element of the buffer.
  const std::ptrdiff_t offset = source->origin - source->data;
  const std::ptrdiff_t majorOffset = source->pitch ? offset / source->pitch : 0;
  const std::ptrdiff_t minorOffset = source->pitch ? offset % source->pitch : offset;

  target->rows = source->rows;
  target->columns = source->columns;
  target->pixelType = source->pixelType;
  target->objectType = source->objectType;
  target->elementSize = size;
  target->count = source->rows * source->columns;
  target->pitch = pitch;
  target->data = buffer;
  target->origin = buffer + majorOffset * pitch + minorOffset;
  target->binFunction = source->binFunction;
  if (stringsFailed) {
    lower::Report(err, "egda_BaseDataCopy", 5, "Error copying strings");
  }
  return target;
}

} // extern "C"
