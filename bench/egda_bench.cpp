// Cost of applying a per-pixel operator through egda_BaseDataStackFunction on a 1024 x 1024 raster.
#include <benchmark/benchmark.h>

#include <array>
#include <utility>

#include "egda_pixel.h"
#include "egda.h"

namespace {

namespace lw = taviron::lower;

// Output = 2 x input + 1, element by element.
template <int32_t Type>
void ScaleKernel(Egda_BaseDataStack *out, Egda_ArgumentList *args, Eerr_ErrorReport **err) {
  using T = lw::Pixel<Type>;
  *err = nullptr;
  for (int32_t k = 0; k < out->count; ++k) {
    const Egda_BaseData &in = *args->stacks[0]->layers[k];
    Egda_BaseData &o = *out->layers[k];
    for (int32_t r = 0; r < o.rows; ++r) {
      const T *from = reinterpret_cast<const T *>(in.origin + std::ptrdiff_t{r} * in.pitch);
      T *to = reinterpret_cast<T *>(o.origin + std::ptrdiff_t{r} * o.pitch);
      for (int32_t c = 0; c < o.columns; ++c) to[c] = T(from[c] * T(2) + T(1));
    }
  }
}

template <int32_t... Types> std::array<Egda_StackFunctionSlot, 14> ScaleTable(std::integer_sequence<int32_t, Types...>) {
  return {Egda_StackFunctionSlot{reinterpret_cast<Egda_SlotFunction>(&ScaleKernel<Types>), {0, 0}}...,
          Egda_StackFunctionSlot{reinterpret_cast<Egda_SlotFunction>(&egda_NoOperation), {0, 0}}};
}
const std::array<Egda_StackFunctionSlot, 14> kScaleSlots = ScaleTable(std::make_integer_sequence<int32_t, 13>{});
const Egda_StackFunction kScale{kScaleSlots.data()};

void Apply(benchmark::State &state, const Egda_StackFunction *object, int32_t type, bool lut) {
  constexpr int32_t kSize = 1024;
  Egda_BaseDataStack *out = egda_BaseDataStackCreate(1, kSize, kSize, type, EGDA_RASTER, nullptr);
  Egda_BaseDataStack *in = egda_BaseDataStackCreate(1, kSize, kSize, type, EGDA_RASTER, nullptr);
  Egda_BaseDataStack *table = egda_BaseDataStackCreate(1, 256, 1, EGDA_TYPE_S32, EGDA_TABLE, nullptr);
  for (int32_t i = 0; i < 256; ++i) reinterpret_cast<int32_t *>(table->layers[0]->data)[i] = 255 - i;
  for (int64_t i = 0; i < int64_t{kSize} * kSize; ++i) in->layers[0]->data[i * in->layers[0]->elementSize] = uint8_t(i);
  Egda_ArgumentList *args = lut ? egda_ArgumentListCreate(nullptr, table, in, nullptr)
                                : egda_ArgumentListCreate(nullptr, in, nullptr);
  Eerr_ErrorReport *err = nullptr;
  for (auto _ : state) {
    egda_BaseDataStackFunction(object, out, args, &err);
    benchmark::DoNotOptimize(out->layers[0]->data[0]);
  }
  if (err) state.SkipWithError("the operator failed");
  state.SetItemsProcessed(state.iterations() * int64_t{kSize} * kSize);
  state.SetBytesProcessed(state.iterations() * int64_t{kSize} * kSize * 2 * egda_PixelTypeSize(type));
  eerr_DeleteErrorReportEx(&err);
  egda_ArgumentListDelete(args, nullptr);
  egda_BaseDataStackDelete(table, nullptr);
  egda_BaseDataStackDelete(in, nullptr);
  egda_BaseDataStackDelete(out, nullptr);
}

void BM_ScaleF64(benchmark::State &state) { Apply(state, &kScale, EGDA_TYPE_F64, false); }
void BM_ScaleU8(benchmark::State &state) { Apply(state, &kScale, EGDA_TYPE_U8, false); }
void BM_LookUpTableU8(benchmark::State &state) {
  Apply(state, emsc_AddressOf_egda_SaoLUTtransformation(), EGDA_TYPE_U8, true);
}
void BM_LookUpTableF64(benchmark::State &state) {
  Apply(state, emsc_AddressOf_egda_SaoLUTtransformation(), EGDA_TYPE_F64, true);
}

} // namespace

BENCHMARK(BM_ScaleF64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScaleU8)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LookUpTableU8)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LookUpTableF64)->Unit(benchmark::kMicrosecond);
