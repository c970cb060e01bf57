// exfr_Transform of an affine transform over a million points (a 2 x N f64 matrix).
#include <benchmark/benchmark.h>

#include "exfr.h"

namespace {

constexpr int32_t kPoints = 1000000;

Egda_BaseData *MakePoints() {
  Egda_BaseData *m = egda_BaseDataCreate(2, kPoints, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  auto *xy = reinterpret_cast<double *>(m->origin);
  for (int32_t k = 0; k < kPoints; ++k) {
    xy[2 * k] = k % 1000;
    xy[2 * k + 1] = k / 1000;
  }
  return m;
}

void BM_AffineInPlace(benchmark::State &state) {
  Egda_BaseData *points = MakePoints();
  _exfr_XForm *x = exfr_XFormCreateUsingCoeffs(0.5, 0.001, 400000, -0.001, -0.5, 3200000, nullptr);
  _exfr_XForm *back = exfr_XFormInvert(x, nullptr, nullptr);
  bool forward = true;
  for (auto _ : state) {
    exfr_Transform(forward ? x : back, points, points, nullptr); // alternate, so values stay bounded
    forward = !forward;
    benchmark::DoNotOptimize(points->origin);
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
  exfr_XFormFree(&x, nullptr);
  exfr_XFormFree(&back, nullptr);
  egda_BaseDataDelete(points, nullptr);
}
BENCHMARK(BM_AffineInPlace)->Unit(benchmark::kMillisecond);

void BM_AffineIntoExisting(benchmark::State &state) {
  Egda_BaseData *points = MakePoints();
  Egda_BaseData *target = egda_BaseDataCreate(2, kPoints, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
  _exfr_XForm *x = exfr_XFormCreateUsingCoeffs(0.5, 0.001, 400000, -0.001, -0.5, 3200000, nullptr);
  for (auto _ : state) {
    exfr_Transform(x, points, target, nullptr);
    benchmark::DoNotOptimize(target->origin);
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
  exfr_XFormFree(&x, nullptr);
  egda_BaseDataDelete(points, nullptr);
  egda_BaseDataDelete(target, nullptr);
}
BENCHMARK(BM_AffineIntoExisting)->Unit(benchmark::kMillisecond);

void BM_AffineIntoNew(benchmark::State &state) {
  Egda_BaseData *points = MakePoints();
  _exfr_XForm *x = exfr_XFormCreateUsingCoeffs(0.5, 0.001, 400000, -0.001, -0.5, 3200000, nullptr);
  for (auto _ : state) {
    Egda_BaseData *out = exfr_Transform(x, points, nullptr, nullptr);
    benchmark::DoNotOptimize(out->origin);
    egda_BaseDataDelete(out, nullptr);
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
  exfr_XFormFree(&x, nullptr);
  egda_BaseDataDelete(points, nullptr);
}
BENCHMARK(BM_AffineIntoNew)->Unit(benchmark::kMillisecond);

} // namespace
