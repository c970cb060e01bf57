// Pixel conversions of the raster layers: one template per (source, target) pixel type pair,
// picked once per call from a table, converting whole runs of pixels in tight loops.
#ifndef TAVIRON_EIMG_CONVERT_H
#define TAVIRON_EIMG_CONVERT_H

#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "egda_pixel.h"

namespace taviron::lower::eimg {

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

// Converts n pixels from src (step srcStep bytes) into dst (step dstStep bytes).
using ConvertRun = void (*)(const uint8_t *src, std::ptrdiff_t srcStep, uint8_t *dst, std::ptrdiff_t dstStep,
                            int32_t n);

template <int32_t From, int32_t To>
void Convert(const uint8_t *src, std::ptrdiff_t srcStep, uint8_t *dst, std::ptrdiff_t dstStep, int32_t n) {
  using S = Pixel<From>;
  using T = Pixel<To>;
  if (srcStep == static_cast<std::ptrdiff_t>(sizeof(S)) && dstStep == static_cast<std::ptrdiff_t>(sizeof(T))) {
    if constexpr (From == To && !(From == EGDA_TYPE_U1 || From == EGDA_TYPE_U2 || From == EGDA_TYPE_U4)) {
      std::memcpy(dst, src, static_cast<std::size_t>(n) * sizeof(S));
    } else {
      // Copies through locals: the buffers need not be aligned for S and T.
      for (int32_t i = 0; i < n; ++i) {
        S v;
        std::memcpy(&v, src + std::ptrdiff_t{i} * std::ptrdiff_t(sizeof(S)), sizeof(S));
        const T t = ConvertPixel<From, To>(v);
        std::memcpy(dst + std::ptrdiff_t{i} * std::ptrdiff_t(sizeof(T)), &t, sizeof(T));
      }
    }
    return;
  }
  for (int32_t i = 0; i < n; ++i, src += srcStep, dst += dstStep) {
    S v;
    std::memcpy(&v, src, sizeof(S));
    const T t = ConvertPixel<From, To>(v);
    std::memcpy(dst, &t, sizeof(T));
  }
}

constexpr int32_t kLayerTypes = EGDA_TYPE_C128 + 1; // 0 .. 12

template <int32_t From, int32_t... To>
constexpr std::array<ConvertRun, kLayerTypes> Row(std::integer_sequence<int32_t, To...>) {
  return {&Convert<From, To>...};
}
template <int32_t... From>
constexpr std::array<std::array<ConvertRun, kLayerTypes>, kLayerTypes> Table(std::integer_sequence<int32_t, From...>) {
  return {Row<From>(std::make_integer_sequence<int32_t, kLayerTypes>{})...};
}

// The converter from pixel type `from` to pixel type `to` (both 0 to 12).
inline ConvertRun Converter(int32_t from, int32_t to) {
  static constexpr auto kTable = Table(std::make_integer_sequence<int32_t, kLayerTypes>{});
  return kTable[static_cast<std::size_t>(from)][static_cast<std::size_t>(to)];
}

// Reads pixel type `type` at p as a complex double (real types: imaginary part 0).
template <int32_t Type> std::complex<double> LoadComplex(const uint8_t *p) {
  Pixel<Type> v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (IsComplex<Pixel<Type>>::value) return {double(v.real()), double(v.imag())};
  else return {double(v), 0.0};
}

} // namespace taviron::lower::eimg

#endif
