// Pixel types as C++ types, so that per-pixel-type code is written once as a template.
#ifndef TAVIRON_EGDA_PIXEL_H
#define TAVIRON_EGDA_PIXEL_H

#include <complex>
#include <cstdint>
#include <type_traits>

#include "egda.h"

namespace taviron::lower {

template <int32_t Type> struct PixelTraits;
#define TAVIRON_PIXEL(code, ctype)                                                                 \
  template <> struct PixelTraits<code> {                                                           \
    using type = ctype;                                                                            \
  };
TAVIRON_PIXEL(EGDA_TYPE_U1, uint8_t)
TAVIRON_PIXEL(EGDA_TYPE_U2, uint8_t)
TAVIRON_PIXEL(EGDA_TYPE_U4, uint8_t)
TAVIRON_PIXEL(EGDA_TYPE_U8, uint8_t)
TAVIRON_PIXEL(EGDA_TYPE_S8, int8_t)
TAVIRON_PIXEL(EGDA_TYPE_U16, uint16_t)
TAVIRON_PIXEL(EGDA_TYPE_S16, int16_t)
TAVIRON_PIXEL(EGDA_TYPE_U32, uint32_t)
TAVIRON_PIXEL(EGDA_TYPE_S32, int32_t)
TAVIRON_PIXEL(EGDA_TYPE_F32, float)
TAVIRON_PIXEL(EGDA_TYPE_F64, double)
TAVIRON_PIXEL(EGDA_TYPE_C64, std::complex<float>)
TAVIRON_PIXEL(EGDA_TYPE_C128, std::complex<double>)
TAVIRON_PIXEL(EGDA_TYPE_STRING, char *)
#undef TAVIRON_PIXEL

template <int32_t Type> using Pixel = typename PixelTraits<Type>::type;

// Calls f(std::integral_constant<int32_t, T>{}) for the pixel type code; returns false for a code
// outside 0 to 13.
template <class F> bool DispatchPixelType(int32_t type, F &&f) {
  switch (type) {
#define TAVIRON_CASE(code)                                                                         \
  case code: f(std::integral_constant<int32_t, code>{}); return true;
    TAVIRON_CASE(EGDA_TYPE_U1) TAVIRON_CASE(EGDA_TYPE_U2) TAVIRON_CASE(EGDA_TYPE_U4)
    TAVIRON_CASE(EGDA_TYPE_U8) TAVIRON_CASE(EGDA_TYPE_S8) TAVIRON_CASE(EGDA_TYPE_U16)
    TAVIRON_CASE(EGDA_TYPE_S16) TAVIRON_CASE(EGDA_TYPE_U32) TAVIRON_CASE(EGDA_TYPE_S32)
    TAVIRON_CASE(EGDA_TYPE_F32) TAVIRON_CASE(EGDA_TYPE_F64) TAVIRON_CASE(EGDA_TYPE_C64)
    TAVIRON_CASE(EGDA_TYPE_C128) TAVIRON_CASE(EGDA_TYPE_STRING)
#undef TAVIRON_CASE
  default: return false;
  }
}

// Row-major (scalar, raster) or column-major (table, matrix) storage.
inline bool IsColumnMajor(const Egda_BaseData &m) {
  return m.objectType == EGDA_TABLE || m.objectType == EGDA_MATRIX;
}

// Address of element (r, c), counted from the origin (negative indexes reach into a border).
inline uint8_t *ElementAddress(const Egda_BaseData &m, int32_t r, int32_t c) {
  const std::ptrdiff_t major = IsColumnMajor(m) ? c : r;
  const std::ptrdiff_t minor = IsColumnMajor(m) ? r : c;
  return m.origin + major * m.pitch + minor * m.elementSize;
}

template <class T> inline T &At(const Egda_BaseData &m, int32_t r, int32_t c) {
  return *reinterpret_cast<T *>(ElementAddress(m, r, c));
}

// Frees the strings of a string matrix's buffer (the buffer itself stays).
void FreeStrings(Egda_BaseData *m);
// Frees what a matrix owns (its strings and buffer) and clears the record, which stays.
void FreeContents(Egda_BaseData *m);

} // namespace taviron::lower

#endif
