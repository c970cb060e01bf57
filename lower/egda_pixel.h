// Pixel types as C++ types, so that per-pixel-type code is written once as a template.
#ifndef TAVIRON_EGDA_PIXEL_H
#define TAVIRON_EGDA_PIXEL_H

#include <complex>
#include <limits>
#include <cmath>
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

// ---- Storing a value into a pixel type (one rule for the whole layer) ----

template <class T> struct IsComplex : std::false_type {};
template <class T> struct IsComplex<std::complex<T>> : std::true_type {};

// Largest value of a pixel type (u1, u2, u4 are bytes holding 0..1, 0..3, 0..15).
template <int32_t Type> constexpr double TopOf() {
  if constexpr (Type == EGDA_TYPE_U1) return 1;
  else if constexpr (Type == EGDA_TYPE_U2) return 3;
  else if constexpr (Type == EGDA_TYPE_U4) return 15;
  else return static_cast<double>(std::numeric_limits<Pixel<Type>>::max());
}

// A real value stored into the real type T (or the part type of a complex T) of pixel type Type:
// integers round half away from zero and clamp to the type's range, NaN gives 0; f32 clamps to
// +-infinity; f64 keeps the value.
template <int32_t Type, class T, class V> inline T StoreReal(V v) {
  if constexpr (std::is_integral_v<T>) {
    constexpr double low = static_cast<double>(std::numeric_limits<T>::lowest());
    constexpr double high = TopOf<Type>();
    if constexpr (std::is_integral_v<V>) {
      // Integer to integer: clamp only where the source range exceeds the target's.
      if constexpr (std::numeric_limits<V>::lowest() < 0 && std::numeric_limits<T>::lowest() == 0) {
        if (v < 0) return T{0};
      } else if constexpr (static_cast<double>(std::numeric_limits<V>::lowest()) < low) {
        if (static_cast<double>(v) < low) return std::numeric_limits<T>::lowest();
      }
      if constexpr (static_cast<double>(std::numeric_limits<V>::max()) > high) {
        if (static_cast<double>(v) > high) return static_cast<T>(high);
      }
      return static_cast<T>(v);
    } else {
      const double d = static_cast<double>(v);
      if (!(d == d)) return T{0};
      if (d <= low) return std::numeric_limits<T>::lowest();
      if (d >= high) return static_cast<T>(high);
      return static_cast<T>(std::round(d));
    }
  } else if constexpr (std::is_same_v<T, float>) {
    if constexpr (std::is_same_v<V, double>) {
      if (v > static_cast<double>(std::numeric_limits<float>::max())) return std::numeric_limits<float>::infinity();
      if (v < -static_cast<double>(std::numeric_limits<float>::max())) return -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(v);
  } else {
    return static_cast<T>(v);
  }
}

// One pixel of type From stored as pixel type To.
template <int32_t From, int32_t To> inline Pixel<To> ConvertPixel(const Pixel<From> &v) {
  using S = Pixel<From>;
  using T = Pixel<To>;
  if constexpr (IsComplex<T>::value) {
    using Part = typename T::value_type;
    if constexpr (IsComplex<S>::value) return T(StoreReal<To, Part>(v.real()), StoreReal<To, Part>(v.imag()));
    else return T(StoreReal<To, Part>(v), Part{0});
  } else if constexpr (IsComplex<S>::value) {
    return StoreReal<To, T>(v.real());
  } else if constexpr (From == To && !(From == EGDA_TYPE_U1 || From == EGDA_TYPE_U2 || From == EGDA_TYPE_U4)) {
    return v;
  } else {
    return StoreReal<To, T>(v);
  }
}

// Frees the strings of a string matrix's buffer (the buffer itself stays).
void FreeStrings(Egda_BaseData *m);
// Frees what a matrix owns (its strings and buffer) and clears the record, which stays.
void FreeContents(Egda_BaseData *m);

} // namespace taviron::lower

#endif
