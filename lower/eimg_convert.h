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
