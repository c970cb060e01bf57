// Typed matrices.
#include "egda.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Dense>

#include "egda_pixel.h"
#include "emsc.h"
#include "estr.h"
#include "internal.h"
#include "keywords.h"

namespace lower = taviron::lower;

namespace {

bool ValidShape(int32_t rows, int32_t columns, int32_t pixelType, int32_t objectType) {
  if (rows < 0 || columns < 0) return false;
  if (egda_PixelTypeSize(pixelType) == 0) return false;
  if (objectType < EGDA_SCALAR || objectType > EGDA_RASTER) return false;
  // The whole buffer and each pitch (a row or a column of it) must fit 32 bits, also when the
  // other side is 0.
  const int64_t size = egda_PixelTypeSize(pixelType), limit = std::numeric_limits<int32_t>::max();
  return int64_t{rows} * columns * size <= limit && int64_t{rows} * size <= limit &&
         int64_t{columns} * size <= limit;
}

// Pitch of a compact buffer of this shape.
int32_t CompactPitch(int32_t rows, int32_t columns, int32_t size, int32_t objectType) {
  const bool columnMajor = objectType == EGDA_TABLE || objectType == EGDA_MATRIX;
  return (columnMajor ? rows : columns) * size;
}


} // namespace

namespace taviron::lower {

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

void FreeContents(Egda_BaseData *m) {
  if (m->ownsData && m->data) {
    FreeStrings(m);
    emsc_HeapFree(m->data);
  }
  std::memset(static_cast<void *>(m), 0, sizeof *m);
}

} // namespace taviron::lower

using taviron::lower::FreeStrings;

extern "C" {

int32_t egda_PixelTypeSize(int32_t pixelType) try {
  int32_t size = 0;
  lower::DispatchPixelType(pixelType, [&](auto t) { size = sizeof(lower::Pixel<decltype(t)::value>); });
  return size;
} TAVIRON_GUARD_QUIET(0)

Egda_BaseData *egda_BaseDataCreate(int32_t rows, int32_t columns, int32_t pixelType,
                                   int32_t objectType, void *data, Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, nullptr)

void egda_BaseDataDelete(Egda_BaseData *matrix, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!matrix) return;
  if (matrix->ownsData) {
    FreeStrings(matrix);
    emsc_HeapFree(matrix->data);
  }
  emsc_HeapFree(matrix);
} TAVIRON_GUARD_VOID(err)

Egda_BaseData *egda_BaseDataCopy(const Egda_BaseData *source, Egda_BaseData *destination,
                                 Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, nullptr)

} // extern "C"

// ---------------------------------------------------------------------------------------------
// Element-wise work, written once per pixel type as templates.
namespace {

using lower::IsComplex;

constexpr bool IsRealType(int32_t type) { return type >= EGDA_TYPE_U1 && type <= EGDA_TYPE_F64; }

// A value stored into a pixel type by the layer's one rule (lower::ConvertPixel): integers round
// half away from zero and clamp (u1, u2, u4 to 1, 3, 15), NaN gives 0, f32 clamps to infinity.
template <int32_t Type> lower::Pixel<Type> ToPixel(std::complex<double> v) {
  return lower::ConvertPixel<EGDA_TYPE_C128, Type>(v);
}

template <class T> std::complex<double> ToComplex(const T &v) {
  if constexpr (IsComplex<T>::value) return {double(v.real()), double(v.imag())};
  else return {double(v), 0.0};
}

// Address of element (r, c) counted from the start of the buffer (the whole buffer, border
// included, as rows and columns count it).
uint8_t *BufferElement(const Egda_BaseData &m, int32_t r, int32_t c) {
  const bool columnMajor = lower::IsColumnMajor(m);
  const std::ptrdiff_t major = columnMajor ? c : r;
  const std::ptrdiff_t minor = columnMajor ? r : c;
  return m.data + major * m.pitch + minor * m.elementSize;
}

// Element k of the buffer in storage order.
uint8_t *StorageElement(const Egda_BaseData &m, int32_t k) {
  if (lower::IsColumnMajor(m)) return BufferElement(m, k % m.rows, k / m.rows);
  return BufferElement(m, k / m.columns, k % m.columns);
}

// Calls f(element address) for every element of the buffer.
template <class F> void ForEachElement(const Egda_BaseData &m, F &&f) {
  const bool columnMajor = lower::IsColumnMajor(m);
  const int32_t majors = columnMajor ? m.columns : m.rows;
  const int32_t minors = columnMajor ? m.rows : m.columns;
  for (int32_t i = 0; i < majors; ++i) {
    uint8_t *p = m.data + std::ptrdiff_t{i} * m.pitch;
    for (int32_t j = 0; j < minors; ++j, p += m.elementSize) f(p);
  }
}

// Row and column of the origin, counted from the start of the buffer.
void OriginPosition(const Egda_BaseData &m, int64_t &row, int64_t &column) {
  const std::ptrdiff_t offset = m.origin - m.data;
  const int64_t major = m.pitch ? offset / m.pitch : 0;
  const int64_t minor = m.elementSize ? (m.pitch ? offset % m.pitch : offset) / m.elementSize : 0;
  row = lower::IsColumnMajor(m) ? minor : major;
  column = lower::IsColumnMajor(m) ? major : minor;
}

const char *PixelTypeName(int32_t type) {
  static const char *const names[] = {"u1",  "u2",  "u4",  "u8",  "s8",  "u16", "s16",
                                      "u32", "s32", "f32", "f64", "c64", "c128", "string"};
  return type >= 0 && type < EGDA_PIXEL_TYPE_COUNT ? names[type] : "unknown";
}

const char *ObjectTypeName(int32_t type) {
  static const char *const names[] = {"scalar", "table", "matrix", "raster"};
  return type >= EGDA_SCALAR && type <= EGDA_RASTER ? names[type] : "unknown";
}

template <class T> void AppendValue(std::string &text, const T &v) {
  if constexpr (std::is_same_v<T, char *>) {
    text += v ? lower::Format("\"%s\"", v) : std::string("(null)");
  } else if constexpr (IsComplex<T>::value) {
    text += lower::Format(std::is_same_v<typename T::value_type, float> ? "(%.7g,%.7g)" : "(%.15g,%.15g)",
                          double(v.real()), double(v.imag()));
  } else if constexpr (std::is_same_v<T, float>) {
    text += lower::Format("%.7g", double(v));
  } else if constexpr (std::is_same_v<T, double>) {
    text += lower::Format("%.15g", v);
  } else if constexpr (std::is_signed_v<T>) {
    text += std::to_string(int64_t{v});
  } else {
    text += std::to_string(uint64_t{v});
  }
}

// --- Ordering ----------------------------------------------------------------------------------

template <class T> bool OrderLess(const T &a, const T &b) {
  if constexpr (std::is_floating_point_v<T>) {
    if (std::isnan(a)) return false;
    if (std::isnan(b)) return true;
    return a < b;
  } else if constexpr (IsComplex<T>::value) {
    using Part = typename T::value_type;
    if (OrderLess<Part>(a.real(), b.real())) return true;
    if (OrderLess<Part>(b.real(), a.real())) return false;
    return OrderLess<Part>(a.imag(), b.imag());
  } else if constexpr (std::is_same_v<T, char *>) {
    if (!a || !b) return !a && b;
    return std::strcmp(a, b) < 0;
  } else {
    return a < b;
  }
}

template <int32_t Type> void Order(int32_t *index, int32_t count, const void *values) {
  if (!index || !values || count <= 0) return;
  const auto *v = static_cast<const lower::Pixel<Type> *>(values);
  std::iota(index, index + count, 0);
  std::stable_sort(index, index + count, [v](int32_t a, int32_t b) { return OrderLess(v[a], v[b]); });
}

template <int32_t... Types>
constexpr std::array<Egda_OrderFunction, sizeof...(Types)> MakeOrderTable(std::integer_sequence<int32_t, Types...>) {
  return {&Order<Types>...};
}
constexpr auto kOrderTable = MakeOrderTable(std::make_integer_sequence<int32_t, EGDA_PIXEL_TYPE_COUNT>{});

// --- Look-up-table operator --------------------------------------------------------------------

constexpr const char *kLutName = "egda_SaoLUTtransformation";

template <class T> int32_t LutIndex(const T &v, int32_t n) {
  if constexpr (std::is_floating_point_v<T>) {
    if (std::isnan(v) || v < 0) return 0;
    if (v >= static_cast<T>(n)) return n - 1;
    return static_cast<int32_t>(v);
  } else {
    const int64_t i = static_cast<int64_t>(v);
    return i < 0 ? 0 : (i >= n ? n - 1 : static_cast<int32_t>(i));
  }
}

// Byte steps from one row and from one column to the next.
struct Steps {
  std::ptrdiff_t row, column;
  explicit Steps(const Egda_BaseData &m)
      : row(lower::IsColumnMajor(m) ? m.elementSize : m.pitch),
        column(lower::IsColumnMajor(m) ? m.pitch : m.elementSize) {}
};

Egda_BaseData *LayerFor(const Egda_BaseDataStack *stack, int32_t i) {
  if (!stack || stack->count < 1 || !stack->layers) return nullptr;
  if (stack->count == 1) return stack->layers[0];
  return i < stack->count ? stack->layers[i] : nullptr;
}

template <int32_t Type>
void LutKernel(Egda_BaseDataStack *output, Egda_ArgumentList *arguments, Eerr_ErrorReport **err) {
  using T = lower::Pixel<Type>;
  lower::Clear(err);
  if (!output || output->count < 0 || (output->count && !output->layers) || !arguments ||
      arguments->count < 2 || !arguments->stacks) {
    lower::Report(err, kLutName, 1, "Needs an output stack, a table stack and an input stack");
    return;
  }
  const Egda_BaseData *mask = arguments->mask;
  // Check every layer before writing any.
  for (int32_t i = 0; i < output->count; ++i) {
    const Egda_BaseData *out = output->layers[i];
    const Egda_BaseData *table = LayerFor(arguments->stacks[0], i);
    const Egda_BaseData *in = LayerFor(arguments->stacks[1], i);
    if (!out || !table || !in) {
      lower::Report(err, kLutName, 2, "Missing output, table or input layer %d", i);
      return;
    }
    if (out->pixelType != Type || in->pixelType != Type) {
      lower::Report(err, kLutName, 3, "Layer %d: input and output must be of pixel type %s", i,
                    PixelTypeName(Type));
      return;
    }
    if (!IsRealType(table->pixelType) || table->count < 1) {
      lower::Report(err, kLutName, 4, "Layer %d: the table must hold values of a real pixel type", i);
      return;
    }
    if (in->rows < out->rows || in->columns < out->columns ||
        (mask && (mask->elementSize != 1 || mask->rows < out->rows || mask->columns < out->columns))) {
      lower::Report(err, kLutName, 5, "Layer %d: input or mask smaller than the output", i);
      return;
    }
  }
  std::vector<T> lut;
  for (int32_t i = 0; i < output->count; ++i) {
    const Egda_BaseData &out = *output->layers[i];
    const Egda_BaseData &table = *LayerFor(arguments->stacks[0], i);
    const Egda_BaseData &in = *LayerFor(arguments->stacks[1], i);
    lut.resize(static_cast<std::size_t>(table.count));
    lower::DispatchPixelType(table.pixelType, [&](auto t) {
      using E = lower::Pixel<decltype(t)::value>;
      if constexpr (std::is_arithmetic_v<E>)
        for (int32_t k = 0; k < table.count; ++k)
          lut[k] = ToPixel<Type>(double(*reinterpret_cast<const E *>(StorageElement(table, k))));
    });
    const int32_t n = table.count;
    const Steps o(out), f(in), m(mask ? *mask : out);
    for (int32_t r = 0; r < out.rows; ++r) {
      uint8_t *to = out.origin + r * o.row;
      const uint8_t *from = in.origin + r * f.row;
      const uint8_t *allow = mask ? mask->origin + r * m.row : nullptr;
      for (int32_t c = 0; c < out.columns; ++c, to += o.column, from += f.column) {
        if (allow) {
          const bool skip = !*allow;
          allow += m.column;
          if (skip) continue;
        }
        T v;
        std::memcpy(&v, from, sizeof v);
        std::memcpy(to, &lut[LutIndex(v, n)], sizeof v);
      }
    }
  }
}

template <int32_t Type> Egda_StackFunctionSlot LutSlot() {
  if constexpr (IsRealType(Type))
    return {reinterpret_cast<Egda_SlotFunction>(&LutKernel<Type>), {0, 0}};
  else
    return {reinterpret_cast<Egda_SlotFunction>(&egda_NoOperation), {0, 0}};
}

template <int32_t... Types>
std::array<Egda_StackFunctionSlot, sizeof...(Types)> MakeLutTable(std::integer_sequence<int32_t, Types...>) {
  return {LutSlot<Types>()...};
}

// --- Neighbourhood machinery -------------------------------------------------------------------

bool RowMajor(const Egda_BaseData &m) { return !lower::IsColumnMajor(m); }

// A copy of an R x C layer (read from its data) with the border of the window around it; the
// border repeats the nearest edge element.
Egda_BaseData *BorderedCopy(const Egda_BaseData &source, const Egda_Window &w, Eerr_ErrorReport **err) {
  const int32_t rows = source.rows, columns = source.columns;
  Egda_BaseData *b = egda_BaseDataCreate(rows + w.height - 1, columns + w.width - 1,
                                         source.pixelType, EGDA_RASTER, nullptr, err);
  if (!b) return nullptr;
  const int32_t size = b->elementSize, top = -w.y, left = -w.x;
  b->origin = b->data + std::ptrdiff_t{top} * b->pitch + std::ptrdiff_t{left} * size;
  if (rows == 0 || columns == 0) return b;
  for (int32_t r = 0; r < b->rows; ++r) {
    const int32_t sr = std::clamp(r - top, 0, rows - 1);
    const uint8_t *from = source.data + std::ptrdiff_t{sr} * source.pitch;
    uint8_t *to = b->data + std::ptrdiff_t{r} * b->pitch;
    for (int32_t c = 0; c < left; ++c) std::memcpy(to + std::ptrdiff_t{c} * size, from, size);
    std::memcpy(to + std::ptrdiff_t{left} * size, from, std::size_t(columns) * size);
    for (int32_t c = left + columns; c < b->columns; ++c)
      std::memcpy(to + std::ptrdiff_t{c} * size, from + std::ptrdiff_t{columns - 1} * size, size);
  }
  return b;
}

enum class Fit { Bordered, NeedsBorder, Wrong };

// How a layer stands against an output of rows x columns and the window.
Fit LayerFit(const Egda_BaseData &m, int32_t rows, int32_t columns, const Egda_Window &w) {
  if (!RowMajor(m)) return Fit::Wrong;
  if (m.rows == rows + w.height - 1 && m.columns == columns + w.width - 1 &&
      m.origin == m.data + std::ptrdiff_t{-w.y} * m.pitch + std::ptrdiff_t{-w.x} * m.elementSize)
    return Fit::Bordered;
  if (m.rows == rows && m.columns == columns) return Fit::NeedsBorder;
  return Fit::Wrong;
}

} // namespace

extern "C" {

Egda_BaseData *egda_BaseDataReallocate(Egda_BaseData *matrix, int32_t rows, int32_t columns,
                                       Eerr_ErrorReport **err) try {
  lower::Clear(err);
  constexpr const char *name = "egda_BaseDataReallocate";
  if (!matrix) {
    lower::Report(err, name, 1, "Invalid matrix");
    return nullptr;
  }
  if (!ValidShape(rows, columns, matrix->pixelType, matrix->objectType)) {
    lower::Report(err, name, 2, "Invalid size %d x %d", rows, columns);
    return nullptr;
  }
  const int32_t size = matrix->elementSize;
  const bool columnMajor = lower::IsColumnMajor(*matrix);
  const int32_t pitch = CompactPitch(rows, columns, size, matrix->objectType);
  const std::size_t bytes = std::size_t(rows) * std::size_t(columns) * std::size_t(size);
  auto *buffer = static_cast<uint8_t *>(emsc_HeapMalloc(bytes ? bytes : 1));
  if (!buffer) {
    lower::Report(err, name, 3, "Error allocating %d x %d matrix data", rows, columns);
    return nullptr;
  }
  const int32_t oldMajors = columnMajor ? matrix->columns : matrix->rows;
  const int32_t oldMinors = columnMajor ? matrix->rows : matrix->columns;
  const int32_t majors = std::min(oldMajors, columnMajor ? columns : rows);
  const int32_t minors = std::min(oldMinors, columnMajor ? rows : columns);
  for (int32_t i = 0; i < majors; ++i)
    std::memcpy(buffer + std::ptrdiff_t{i} * pitch, matrix->data + std::ptrdiff_t{i} * matrix->pitch,
                std::size_t(minors) * std::size_t(size));
  if (matrix->pixelType == EGDA_TYPE_STRING) {
    if (matrix->ownsData) {
      // The strings kept move over; the ones that fall out are freed.
      for (int32_t i = 0; i < oldMajors; ++i)
        for (int32_t j = 0; j < oldMinors; ++j)
          if (i >= majors || j >= minors)
            emsc_HeapFreeEx(matrix->data + std::ptrdiff_t{i} * matrix->pitch + std::ptrdiff_t{j} * size);
    } else {
      // The lender keeps its strings; the matrix gets its own.
      bool failed = false;
      for (int32_t i = 0; i < majors; ++i)
        for (int32_t j = 0; j < minors; ++j) {
          char **slot = reinterpret_cast<char **>(buffer + std::ptrdiff_t{i} * pitch + std::ptrdiff_t{j} * size);
          if (*slot && !failed && !(*slot = estr_Duplicate(*slot))) failed = true;
          else if (failed) *slot = nullptr;
        }
      if (failed) {
        Egda_BaseData partial = *matrix;
        partial.data = partial.origin = buffer;
        partial.pitch = pitch;
        partial.rows = rows;
        partial.columns = columns;
        FreeStrings(&partial);
        emsc_HeapFree(buffer);
        lower::Report(err, name, 4, "Error copying strings");
        return nullptr;
      }
    }
  }
  if (matrix->ownsData) emsc_HeapFree(matrix->data);
  matrix->data = matrix->origin = buffer;
  matrix->ownsData = 1;
  matrix->rows = rows;
  matrix->columns = columns;
  matrix->count = rows * columns;
  matrix->pitch = pitch;
  return matrix;
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *egda_BaseDataDerived(const Egda_BaseData *parent, int32_t firstRow,
                                    int32_t firstColumn, int32_t rows, int32_t columns,
                                    Eerr_ErrorReport **err) try {
  lower::Clear(err);
  constexpr const char *name = "egda_BaseDataDerived";
  if (!parent || !parent->data) {
    lower::Report(err, name, 1, "Invalid parent matrix");
    return nullptr;
  }
  int64_t originRow = 0, originColumn = 0;
  OriginPosition(*parent, originRow, originColumn);
  const int64_t row = originRow + firstRow, column = originColumn + firstColumn;
  if (rows < 0 || columns < 0 || row < 0 || column < 0 || row + rows > parent->rows ||
      column + columns > parent->columns) {
    lower::Report(err, name, 2, "Region of %d x %d at (%d, %d) lies outside the %d x %d parent", rows,
                  columns, firstRow, firstColumn, parent->rows, parent->columns);
    return nullptr;
  }
  auto *view = static_cast<Egda_BaseData *>(emsc_HeapMalloc(sizeof(Egda_BaseData)));
  if (!view) {
    lower::Report(err, name, 3, "Error allocating matrix");
    return nullptr;
  }
  *view = *parent;
  view->rows = rows;
  view->columns = columns;
  view->count = rows * columns;
  view->data = view->origin = BufferElement(*parent, int32_t(row), int32_t(column));
  view->ownsData = 0;
  return view;
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *egda_BaseDataSetScalar(Egda_BaseData *matrix, double value, double imaginary,
                                      int32_t reserved, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  constexpr const char *name = "egda_BaseDataSetScalar";
  if (!matrix || !matrix->data || reserved != 0) {
    lower::Report(err, name, 1, "Invalid matrix or argument");
    return nullptr;
  }
  const bool known = lower::DispatchPixelType(matrix->pixelType, [&](auto t) {
    using T = lower::Pixel<decltype(t)::value>;
    if constexpr (!std::is_pointer_v<T>) {
      const T v = ToPixel<decltype(t)::value>({value, imaginary});
      ForEachElement(*matrix, [&](uint8_t *p) { std::memcpy(p, &v, sizeof v); });
    }
  });
  if (!known || matrix->pixelType == EGDA_TYPE_STRING) {
    lower::Report(err, name, 2, "Cannot set a scalar in a matrix of pixel type %s",
                  PixelTypeName(matrix->pixelType));
    return nullptr;
  }
  return matrix;
} TAVIRON_GUARD(err, nullptr)

Egda_BaseData *egda_BaseDataOperation(int32_t operation, Egda_BaseData *matrix, double scalar,
                                      int32_t scalarPosition, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  constexpr const char *name = "egda_BaseDataOperation";
  if (!matrix || !matrix->data) {
    lower::Report(err, name, 1, "Invalid matrix");
    return nullptr;
  }
  if (operation < EGDA_OPERATION_ADD || operation > EGDA_OPERATION_DIVIDE ||
      (scalarPosition != EGDA_SCALAR_FIRST && scalarPosition != EGDA_SCALAR_SECOND)) {
    lower::Report(err, name, 2, "Invalid operation %d or scalar position %d", operation, scalarPosition);
    return nullptr;
  }
  if (matrix->pixelType < 0 || matrix->pixelType >= EGDA_TYPE_STRING) {
    lower::Report(err, name, 3, "No operation on a matrix of pixel type %s", PixelTypeName(matrix->pixelType));
    return nullptr;
  }
  bool zeroDivisor = operation == EGDA_OPERATION_DIVIDE && scalarPosition == EGDA_SCALAR_SECOND && scalar == 0;
  lower::DispatchPixelType(matrix->pixelType, [&](auto t) {
    using T = lower::Pixel<decltype(t)::value>;
    if constexpr (!std::is_pointer_v<T>) {
      if (operation == EGDA_OPERATION_DIVIDE && scalarPosition == EGDA_SCALAR_FIRST)
        ForEachElement(*matrix, [&](uint8_t *p) {
          T v;
          std::memcpy(&v, p, sizeof v);
          if (ToComplex(v) == std::complex<double>(0, 0)) zeroDivisor = true;
        });
      if (zeroDivisor) return;
      const std::complex<double> s(scalar, 0);
      ForEachElement(*matrix, [&](uint8_t *p) {
        T v;
        std::memcpy(&v, p, sizeof v);
        const std::complex<double> e = ToComplex(v);
        const std::complex<double> a = scalarPosition == EGDA_SCALAR_SECOND ? e : s;
        const std::complex<double> b = scalarPosition == EGDA_SCALAR_SECOND ? s : e;
        std::complex<double> r;
        switch (operation) {
        case EGDA_OPERATION_ADD: r = a + b; break;
        case EGDA_OPERATION_SUBTRACT: r = a - b; break;
        case EGDA_OPERATION_MULTIPLY: r = IsComplex<T>::value ? a * b : a.real() * b.real(); break;
        default: r = IsComplex<T>::value ? a / b : a.real() / b.real(); break;
        }
        v = ToPixel<decltype(t)::value>(r);
        std::memcpy(p, &v, sizeof v);
      });
    }
  });
  if (zeroDivisor) {
    lower::Report(err, name, 4, "Division by zero");
    return nullptr;
  }
  return matrix;
} TAVIRON_GUARD(err, nullptr)

void egda_BaseDataPrint(const Egda_BaseData *matrix, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!matrix || (!matrix->data && matrix->count) ||
      !lower::DispatchPixelType(matrix->pixelType, [](auto) {})) {
    lower::Report(err, "egda_BaseDataPrint", 1, "Invalid matrix");
    return;
  }
  std::string text = lower::Format("Egda_BaseData: %d x %d %s %s\n", matrix->rows, matrix->columns,
                                   PixelTypeName(matrix->pixelType), ObjectTypeName(matrix->objectType));
  lower::DispatchPixelType(matrix->pixelType, [&](auto t) {
    using T = lower::Pixel<decltype(t)::value>;
    for (int32_t r = 0; r < matrix->rows; ++r) {
      for (int32_t c = 0; c < matrix->columns; ++c) {
        if (c) text += ' ';
        T v;
        std::memcpy(&v, BufferElement(*matrix, r, c), sizeof v);
        AppendValue(text, v);
      }
      text += '\n';
    }
  });
  lower::Write(lower::Stream::Out, text);
} TAVIRON_GUARD_VOID(err)

Egda_BaseData *egda_MatrixInvert(const Egda_BaseData *matrix, Egda_BaseData *destination,
                                 Eerr_ErrorReport **err) try {
  lower::Clear(err);
  constexpr const char *name = "egda_MatrixInvert";
  if (!matrix || !matrix->data) {
    lower::Report(err, name, 1, "Invalid matrix");
    return nullptr;
  }
  if (matrix->rows != matrix->columns || !IsRealType(matrix->pixelType)) {
    lower::Report(err, name, 2, "Cannot invert a %d x %d matrix of pixel type %s", matrix->rows,
                  matrix->columns, PixelTypeName(matrix->pixelType));
    return nullptr;
  }
  const int32_t n = matrix->rows;
  if (destination && (destination->rows != n || destination->columns != n ||
                      destination->pixelType != EGDA_TYPE_F64 || !destination->data)) {
    lower::Report(err, name, 3, "The destination must be a %d x %d f64 matrix", n, n);
    return nullptr;
  }
  Eigen::MatrixXd a(n, n);
  lower::DispatchPixelType(matrix->pixelType, [&](auto t) {
    using T = lower::Pixel<decltype(t)::value>;
    if constexpr (std::is_arithmetic_v<T>)
      for (int32_t r = 0; r < n; ++r)
        for (int32_t c = 0; c < n; ++c) {
          T v;
          std::memcpy(&v, BufferElement(*matrix, r, c), sizeof v);
          a(r, c) = double(v);
        }
  });
  if (!a.allFinite()) {
    lower::Report(err, name, 4, "The matrix holds values that are not finite");
    return nullptr;
  }
  const Eigen::FullPivLU<Eigen::MatrixXd> lu(a);
  Eigen::MatrixXd inverse;
  if (lu.isInvertible()) inverse = lu.inverse();
  if (!lu.isInvertible() || !inverse.allFinite()) {
    lower::Report(err, name, 5, "The matrix is singular");
    return nullptr;
  }
  Egda_BaseData *target = destination;
  if (!target) {
    target = egda_BaseDataCreate(n, n, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, err);
    if (!target) {
      lower::Report(err, name, 6, "Error returned from egda_BaseDataCreate");
      return nullptr;
    }
  }
  for (int32_t r = 0; r < n; ++r)
    for (int32_t c = 0; c < n; ++c) {
      const double v = inverse(r, c);
      std::memcpy(BufferElement(*target, r, c), &v, sizeof v);
    }
  return target;
} TAVIRON_GUARD(err, nullptr)

// --- Stacks -------------------------------------------------------------------------------------

Egda_BaseDataStack *egda_BaseDataStackCreate(int32_t count, int32_t rows, int32_t columns,
                                             int32_t pixelType, int32_t objectType,
                                             Eerr_ErrorReport **err) try {
  lower::Clear(err);
  constexpr const char *name = "egda_BaseDataStackCreate";
  if (count < 0 || !ValidShape(rows, columns, pixelType, objectType)) {
    lower::Report(err, name, 1, "Invalid stack: %d layers of %d x %d, pixel type %d, object type %d",
                  count, rows, columns, pixelType, objectType);
    return nullptr;
  }
  Egda_BaseData **layers = nullptr;
  auto *stack = lower::HeapNewWithArray<Egda_BaseDataStack>(count, layers);
  if (!stack) {
    lower::Report(err, name, 2, "Error allocating stack");
    return nullptr;
  }
  stack->count = count;
  stack->ownsLayers = 1;
  stack->layers = layers;
  for (int32_t i = 0; i < count; ++i) {
    if (!(layers[i] = egda_BaseDataCreate(rows, columns, pixelType, objectType, nullptr, err))) {
      lower::Report(err, name, 3, "Error returned from egda_BaseDataCreate");
      egda_BaseDataStackDelete(stack, nullptr);
      return nullptr;
    }
  }
  return stack;
} TAVIRON_GUARD(err, nullptr)

void egda_BaseDataStackDelete(Egda_BaseDataStack *stack, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!stack) return;
  if (stack->ownsLayers && stack->layers)
    for (int32_t i = 0; i < stack->count; ++i) egda_BaseDataDelete(stack->layers[i], nullptr);
  emsc_HeapFree(stack);
} TAVIRON_GUARD_VOID(err)

Egda_BaseDataStack *egda_BaseDataStackCopy(const Egda_BaseDataStack *source,
                                           Egda_BaseDataStack *destination,
                                           Eerr_ErrorReport **err) try {
  lower::Clear(err);
  constexpr const char *name = "egda_BaseDataStackCopy";
  if (!source || source->count < 0 || (source->count && !source->layers)) {
    lower::Report(err, name, 1, "Invalid source stack");
    return nullptr;
  }
  if (destination == source) return destination;
  if (destination) {
    if (destination->count != source->count || (destination->count && !destination->layers)) {
      lower::Report(err, name, 2, "The destination has %d layers, the source %d", destination->count,
                    source->count);
      return nullptr;
    }
    for (int32_t i = 0; i < source->count; ++i) {
      if (!source->layers[i] || (!destination->layers[i] && !destination->ownsLayers)) {
        lower::Report(err, name, 3, "Layer %d is missing", i);
        return nullptr;
      }
    }
    for (int32_t i = 0; i < source->count; ++i) {
      Egda_BaseData *copy = egda_BaseDataCopy(source->layers[i], destination->layers[i], err);
      if (!copy) {
        lower::Report(err, name, 4, "Error returned from egda_BaseDataCopy");
        return nullptr;
      }
      destination->layers[i] = copy;
    }
    return destination;
  }
  Egda_BaseData **layers = nullptr;
  auto *stack = lower::HeapNewWithArray<Egda_BaseDataStack>(source->count, layers);
  if (!stack) {
    lower::Report(err, name, 5, "Error allocating stack");
    return nullptr;
  }
  stack->count = source->count;
  stack->ownsLayers = 1;
  stack->layers = layers;
  for (int32_t i = 0; i < source->count; ++i) {
    if (!source->layers[i]) continue;
    if (!(layers[i] = egda_BaseDataCopy(source->layers[i], nullptr, err))) {
      lower::Report(err, name, 4, "Error returned from egda_BaseDataCopy");
      egda_BaseDataStackDelete(stack, nullptr);
      return nullptr;
    }
  }
  return stack;
} TAVIRON_GUARD(err, nullptr)

Egda_BaseDataStack *egda_BaseDataStackPtrCreate(int32_t count, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  constexpr const char *name = "egda_BaseDataStackPtrCreate";
  if (count < 0) {
    lower::Report(err, name, 1, "Invalid layer count %d", count);
    return nullptr;
  }
  Egda_BaseData **layers = nullptr;
  auto *stack = lower::HeapNewWithArray<Egda_BaseDataStack>(count, layers);
  if (!stack) {
    lower::Report(err, name, 2, "Error allocating stack");
    return nullptr;
  }
  stack->count = count;
  stack->ownsLayers = 0;
  stack->layers = layers;
  return stack;
} TAVIRON_GUARD(err, nullptr)

Egda_BaseDataStackArray *egda_BaseDataStackArrayCreate(int32_t stackCount, int32_t layerCount,
                                                       int32_t rows, int32_t columns,
                                                       int32_t pixelType, int32_t objectType,
                                                       Eerr_ErrorReport **err) try {
  lower::Clear(err);
  constexpr const char *name = "egda_BaseDataStackArrayCreate";
  if (stackCount < 0) {
    lower::Report(err, name, 1, "Invalid stack count %d", stackCount);
    return nullptr;
  }
  Egda_BaseDataStack **stacks = nullptr;
  auto *array = lower::HeapNewWithArray<Egda_BaseDataStackArray>(stackCount, stacks);
  if (!array) {
    lower::Report(err, name, 2, "Error allocating stack array");
    return nullptr;
  }
  array->count = stackCount;
  array->stacks = stacks;
  for (int32_t i = 0; i < stackCount; ++i) {
    if (!(stacks[i] = egda_BaseDataStackCreate(layerCount, rows, columns, pixelType, objectType, err))) {
      lower::Report(err, name, 3, "Error returned from egda_BaseDataStackCreate");
      egda_BaseDataStackArrayDelete(array, nullptr);
      return nullptr;
    }
  }
  return array;
} TAVIRON_GUARD(err, nullptr)

void egda_BaseDataStackArrayDelete(Egda_BaseDataStackArray *array, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!array) return;
  if (array->stacks)
    for (int32_t i = 0; i < array->count; ++i) egda_BaseDataStackDelete(array->stacks[i], nullptr);
  emsc_HeapFree(array);
} TAVIRON_GUARD_VOID(err)

// --- Argument lists and windows -----------------------------------------------------------------

Egda_ArgumentList *egda_ArgumentListCreate(Eerr_ErrorReport **err, ...) try {
  lower::Clear(err);
  static constexpr lower::Shape kStacks{lower::Value::PointerList};
  lower::KeywordValues values;
  va_list ap;
  va_start(ap, err);
  lower::ReadValues(kStacks, ap, values);
  va_end(ap);
  if (values.ListTooLong()) {
    lower::Report(err, "egda_ArgumentListCreate", 2, "More than %d stacks in the argument list", lower::kMaxListValues);
    return nullptr;
  }
  const auto count = static_cast<int32_t>(values.List().size());
  Egda_BaseDataStack **stacks = nullptr;
  auto *list = lower::HeapNewWithArray<Egda_ArgumentList>(count, stacks);
  if (!list) {
    lower::Report(err, "egda_ArgumentListCreate", 1, "Error allocating argument list");
    return nullptr;
  }
  list->count = count;
  list->stacks = stacks;
  for (int32_t i = 0; i < count; ++i) stacks[i] = static_cast<Egda_BaseDataStack *>(values.List()[static_cast<std::size_t>(i)]);
  return list;
} TAVIRON_GUARD(err, nullptr)

void egda_ArgumentListDelete(Egda_ArgumentList *list, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  emsc_HeapFree(list);
} TAVIRON_GUARD_VOID(err)

Egda_Window *egda_WindowCreate(int32_t width, int32_t height, int32_t x, int32_t y,
                               Eerr_ErrorReport **err) try {
  lower::Clear(err);
  constexpr const char *name = "egda_WindowCreate";
  if (width < 0 || height < 0) {
    lower::Report(err, name, 1, "Invalid window size %d x %d", width, height);
    return nullptr;
  }
  auto *w = static_cast<Egda_Window *>(emsc_HeapMalloc(sizeof(Egda_Window)));
  if (!w) {
    lower::Report(err, name, 2, "Error allocating window");
    return nullptr;
  }
  *w = {width, height, x, y};
  return w;
} TAVIRON_GUARD(err, nullptr)

Egda_Window *egda_WindowCopy(const Egda_Window *source, Egda_Window *destination,
                             Eerr_ErrorReport **err) try {
  lower::Clear(err);
  constexpr const char *name = "egda_WindowCopy";
  if (!source) {
    lower::Report(err, name, 1, "Invalid source window");
    return nullptr;
  }
  if (!destination && !(destination = static_cast<Egda_Window *>(emsc_HeapMalloc(sizeof(Egda_Window))))) {
    lower::Report(err, name, 2, "Error allocating window");
    return nullptr;
  }
  *destination = *source;
  return destination;
} TAVIRON_GUARD(err, nullptr)

void egda_WindowDelete(Egda_Window *window, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  emsc_HeapFree(window);
} TAVIRON_GUARD_VOID(err)

// --- Stack functions ----------------------------------------------------------------------------

void egda_NoOperation(Egda_BaseDataStack *, Egda_ArgumentList *, Eerr_ErrorReport **err) try {
  lower::Clear(err);
} TAVIRON_GUARD_VOID(err)

void egda_BaseDataStackFunction(const Egda_StackFunction *object, Egda_BaseDataStack *output,
                                Egda_ArgumentList *arguments, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  constexpr const char *name = "egda_BaseDataStackFunction";
  if (!object || !object->slots) {
    lower::Report(err, name, 1, "Invalid operator object");
    return;
  }
  if (!output || output->count < 1 || !output->layers ||
      std::any_of(output->layers, output->layers + output->count, [](const Egda_BaseData *l) { return !l; })) {
    lower::Report(err, name, 2, "Invalid output stack");
    return;
  }
  const int32_t type = output->layers[0]->pixelType;
  if (type < 0 || type >= EGDA_STRING_SLOT_COUNT ||
      std::any_of(output->layers, output->layers + output->count,
                  [type](const Egda_BaseData *l) { return l->pixelType != type; })) {
    lower::Report(err, name, 3, "The output layers are not of one known pixel type");
    return;
  }
  if (arguments) {
    if (arguments->count < 0 || (arguments->count && !arguments->stacks)) {
      lower::Report(err, name, 4, "Invalid argument list");
      return;
    }
    for (int32_t s = 0; s < arguments->count; ++s) {
      const Egda_BaseDataStack *stack = arguments->stacks[s];
      if (!stack || stack->count < 1 || !stack->layers ||
          std::any_of(stack->layers, stack->layers + stack->count, [](const Egda_BaseData *l) { return !l; })) {
        lower::Report(err, name, 4, "Invalid argument stack %d", s);
        return;
      }
      if (stack->count != 1 && stack->count < output->count) {
        lower::Report(err, name, 5, "Argument stack %d has %d layers for %d output layers", s,
                      stack->count, output->count);
        return;
      }
    }
  }
  const bool strings = arguments && arguments->count > 0 &&
                       arguments->stacks[0]->layers[0]->pixelType == EGDA_TYPE_STRING;
  const int32_t slot = strings ? EGDA_TYPE_STRING : type;
  const Egda_SlotFunction function = object->slots[slot].function;
  if (!function) {
    lower::Report(err, name, 6, "The operator has no function for pixel type %s", PixelTypeName(slot));
    return;
  }
  lower::CalleeReport slotErr;
  reinterpret_cast<Egda_StringSlotFunction>(function)(output, arguments, &slotErr);
  if (slotErr)
    lower::ReportChained(err, slotErr, name, 7, "Error returned from the operator for pixel type %s",
                         PixelTypeName(slot));
} TAVIRON_GUARD_VOID(err)

void egda_BaseDataStackNeighbourhoodFunction(const Egda_StackFunction *object,
                                             Egda_BaseDataStack *output,
                                             Egda_ArgumentList *arguments,
                                             const Egda_Window *window,
                                             Egda_ArgumentList *options, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  constexpr const char *name = "egda_BaseDataStackNeighbourhoodFunction";
  if (!object || !object->slots) {
    lower::Report(err, name, 1, "Invalid operator object");
    return;
  }
  if (!output || output->count < 1 || !output->layers ||
      std::any_of(output->layers, output->layers + output->count, [](const Egda_BaseData *l) { return !l; })) {
    lower::Report(err, name, 2, "Invalid output stack");
    return;
  }
  const Egda_BaseData &first = *output->layers[0];
  const int32_t type = first.pixelType, rows = first.rows, columns = first.columns;
  if (type < 0 || type >= EGDA_NEIGHBOURHOOD_SLOT_COUNT ||
      std::any_of(output->layers, output->layers + output->count,
                  [type](const Egda_BaseData *l) { return l->pixelType != type; })) {
    lower::Report(err, name, 3, "The output layers are not of one numeric pixel type");
    return;
  }
  if (std::any_of(output->layers, output->layers + output->count, [&](const Egda_BaseData *l) {
        return l->rows != rows || l->columns != columns || l->origin != l->data || !RowMajor(*l);
      })) {
    lower::Report(err, name, 4, "The output layers must be rasters of one size without a border");
    return;
  }
  if (!window || window->width < 1 || window->height < 1 || window->x > 0 || window->y > 0 ||
      window->x < -(window->width - 1) || window->y < -(window->height - 1)) {
    lower::Report(err, name, 5, "Invalid window");
    return;
  }
  const Egda_BaseDataStack *input = arguments && arguments->count > 0 && arguments->stacks ? arguments->stacks[0] : nullptr;
  if (!input || input->count < 1 || !input->layers ||
      std::any_of(input->layers, input->layers + input->count, [](const Egda_BaseData *l) { return !l; })) {
    lower::Report(err, name, 6, "Invalid input stack");
    return;
  }
  if (std::any_of(input->layers, input->layers + input->count, [type](const Egda_BaseData *l) { return l->pixelType != type; })) {
    lower::Report(err, name, 7, "The input layers must be of the output's pixel type %s", PixelTypeName(type));
    return;
  }
  if (input->count > output->count) {
    lower::Report(err, name, 8, "The input has %d layers for %d output layers", input->count, output->count);
    return;
  }
  for (int32_t i = 0; i < input->count; ++i)
    if (LayerFit(*input->layers[i], rows, columns, *window) == Fit::Wrong) {
      lower::Report(err, name, 9, "Input layer %d does not fit the output and the window", i);
      return;
    }
  const Egda_BaseData *mask = arguments->mask;
  if (mask && (mask->elementSize != 1 || LayerFit(*mask, rows, columns, *window) == Fit::Wrong)) {
    lower::Report(err, name, 10, "The mask does not fit the output and the window");
    return;
  }
  const Egda_SlotFunction function = object->slots[type].function;
  if (!function) {
    lower::Report(err, name, 11, "The operator has no function for pixel type %s", PixelTypeName(type));
    return;
  }

  // The layers the slot sees; copies made here are freed on every way out, an exception included
  // (room for them all is taken first, so keeping a copy never throws).
  std::vector<Egda_BaseData *> made;
  made.reserve(std::size_t(input->count) + 1);
  auto release = [&made] {
    for (Egda_BaseData *m : made) egda_BaseDataDelete(m, nullptr);
    made.clear();
  };
  struct Releaser {
    decltype(release) &run;
    ~Releaser() { run(); }
  } releaser{release};
  auto bordered = [&](Egda_BaseData *layer) -> Egda_BaseData * {
    if (LayerFit(*layer, rows, columns, *window) == Fit::Bordered) return layer;
    Egda_BaseData *copy = BorderedCopy(*layer, *window, err);
    if (copy) made.push_back(copy);
    return copy;
  };
  std::vector<Egda_BaseData *> inputLayers(std::size_t(input->count));
  for (int32_t i = 0; i < input->count; ++i)
    if (!(inputLayers[i] = bordered(input->layers[i]))) {
      lower::Report(err, name, 12, "Error returned from egda_BaseDataCreate");
      release();
      return;
    }
  Egda_BaseData *slotMask = nullptr;
  if (mask && !(slotMask = bordered(const_cast<Egda_BaseData *>(mask)))) {
    lower::Report(err, name, 12, "Error returned from egda_BaseDataCreate");
    release();
    return;
  }
  Egda_BaseDataStack slotInput{input->count, 0, inputLayers.data()};
  std::vector<Egda_BaseDataStack *> stacks(arguments->stacks, arguments->stacks + arguments->count);
  stacks[0] = &slotInput;
  Egda_ArgumentList slotArguments{arguments->count, stacks.data(), slotMask};
  Egda_Window slotWindow = *window;
  lower::CalleeReport slotErr;
  reinterpret_cast<Egda_NeighbourhoodSlotFunction>(function)(output, &slotArguments, &slotWindow, options, &slotErr);
  release();
  if (slotErr)
    lower::ReportChained(err, slotErr, name, 13, "%s", (lower::Format("Error returned from the operator for pixel type %s", PixelTypeName(type))).c_str());
} TAVIRON_GUARD_VOID(err)

const Egda_OrderFunction *emsc_AddressOf_egda_GpfOrder(void) try { return kOrderTable.data(); } TAVIRON_GUARD_QUIET(nullptr)

const Egda_StackFunction *emsc_AddressOf_egda_SaoLUTtransformation(void) try {
  // Four reference words, all holding the slot table.
  static const std::array<Egda_StackFunctionSlot, EGDA_STRING_SLOT_COUNT> slots =
      MakeLutTable(std::make_integer_sequence<int32_t, EGDA_STRING_SLOT_COUNT>{});
  static const Egda_StackFunction object[4] = {{slots.data()}, {slots.data()}, {slots.data()}, {slots.data()}};
  return object;
} TAVIRON_GUARD_QUIET(nullptr)

} // extern "C"
