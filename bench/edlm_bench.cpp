// Appending and addressing one million pointer items in a dynamic list.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "edlm.h"

namespace {

constexpr int32_t kItems = 1000000;

// Builds a list of kItems pointers, blocks of range(0) items, then reads every slot back.
void BM_AddThenGetAddr(benchmark::State &state) {
  const auto perBlock = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    Edlm_List *list = edlm_InitList(sizeof(void *), perBlock, nullptr);
    for (int32_t i = 0; i < kItems; ++i) {
      void *item = reinterpret_cast<void *>(static_cast<intptr_t>(i));
      benchmark::DoNotOptimize(edlm_Add(list, &item, nullptr));
    }
    intptr_t sum = 0;
    for (int32_t i = 0; i < kItems; ++i) sum += *static_cast<intptr_t *>(edlm_GetAddr(list, i, nullptr));
    benchmark::DoNotOptimize(sum);
    edlm_FreeList(list);
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_AddThenGetAddr)->Arg(1)->Arg(64)->Arg(1024)->Unit(benchmark::kMillisecond);

// edlm_Add alone.
void BM_Add(benchmark::State &state) {
  const auto perBlock = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    Edlm_List *list = edlm_InitList(sizeof(void *), perBlock, nullptr);
    for (int32_t i = 0; i < kItems; ++i) {
      void *item = reinterpret_cast<void *>(static_cast<intptr_t>(i));
      benchmark::DoNotOptimize(edlm_Add(list, &item, nullptr));
    }
    state.PauseTiming();
    edlm_FreeList(list);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_Add)->Arg(1)->Arg(64)->Arg(1024)->Unit(benchmark::kMillisecond);

// edlm_GetAddr alone, over a list built once.
void BM_GetAddr(benchmark::State &state) {
  Edlm_List *list = edlm_InitList(sizeof(void *), static_cast<int32_t>(state.range(0)), nullptr);
  for (int32_t i = 0; i < kItems; ++i) {
    void *item = reinterpret_cast<void *>(static_cast<intptr_t>(i));
    edlm_Add(list, &item, nullptr);
  }
  for (auto _ : state) {
    intptr_t sum = 0;
    for (int32_t i = 0; i < kItems; ++i) sum += *static_cast<intptr_t *>(edlm_GetAddr(list, i, nullptr));
    benchmark::DoNotOptimize(sum);
  }
  edlm_FreeList(list);
  state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_GetAddr)->Arg(1)->Arg(64)->Arg(1024)->Unit(benchmark::kMillisecond);

} // namespace
