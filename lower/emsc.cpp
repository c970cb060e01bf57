// The heap of the layer. Every block carries a small header with its size so that growth can be
// zero-filled. The build for tests (TAVIRON_TEST_HOOKS) counts blocks and can force the nth
// allocation to fail; the system library has neither.
#include "emsc.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "guard.h"
#ifdef TAVIRON_TEST_HOOKS
#include "lower_testing.h"
#endif

namespace {

struct alignas(alignof(std::max_align_t)) Header {
  std::size_t size;
};
constexpr std::size_t kHeader = sizeof(Header);

#ifdef TAVIRON_TEST_HOOKS
std::atomic<int64_t> allocations{0};
std::atomic<int64_t> failAt{0}; // allocation number that fails, 0 = none
std::atomic<int64_t> liveBlocks{0};

bool ShouldFail() {
  const int64_t number = ++allocations;
  const int64_t target = failAt.load();
  if (target != 0 && number == target) {
    failAt.store(0);
    return true;
  }
  return false;
}
void CountBlock(int64_t change) { liveBlocks += change; }
#else
constexpr bool ShouldFail() { return false; }
constexpr void CountBlock(int64_t) {}
#endif

Header *HeaderOf(void *block) { return reinterpret_cast<Header *>(static_cast<char *>(block) - kHeader); }

} // namespace

extern "C" {

void *emsc_HeapMalloc(size_t n) try {
  if (ShouldFail() || n > std::numeric_limits<std::size_t>::max() - kHeader) return nullptr;
  auto *header = static_cast<Header *>(std::calloc(1, kHeader + n));
  if (!header) return nullptr;
  header->size = n;
  CountBlock(1);
  return reinterpret_cast<char *>(header) + kHeader;
} TAVIRON_GUARD_QUIET(nullptr)

void *emsc_HeapRealloc(void *block, size_t n) try {
  if (!block) return emsc_HeapMalloc(n);
  if (ShouldFail() || n > std::numeric_limits<std::size_t>::max() - kHeader) return nullptr;
  Header *old = HeaderOf(block);
  const std::size_t oldSize = old->size;
  auto *header = static_cast<Header *>(std::realloc(old, kHeader + n));
  if (!header) return nullptr;
  if (n > oldSize) std::memset(reinterpret_cast<char *>(header) + kHeader + oldSize, 0, n - oldSize);
  header->size = n;
  return reinterpret_cast<char *>(header) + kHeader;
} TAVIRON_GUARD_QUIET(nullptr)

void emsc_HeapFree(void *block) try {
  if (!block) return;
  CountBlock(-1);
  std::free(HeaderOf(block));
} TAVIRON_GUARD_QUIET_VOID

void emsc_HeapFreeEx(void *pointerAddress) try {
  if (!pointerAddress) return;
  void **pointer = static_cast<void **>(pointerAddress);
  emsc_HeapFree(*pointer);
  *pointer = nullptr;
} TAVIRON_GUARD_QUIET_VOID

void emsc_FreePtrFunc(void *slotAddress) try { emsc_HeapFreeEx(slotAddress); } TAVIRON_GUARD_QUIET_VOID

#ifdef TAVIRON_TEST_HOOKS
void emsc_TestFailNthAllocation(int64_t n) try {
  failAt.store(n > 0 ? allocations.load() + n : 0);
} TAVIRON_GUARD_QUIET_VOID

int64_t emsc_TestAllocationCount(void) try { return allocations.load(); } TAVIRON_GUARD_QUIET(0)

int64_t emsc_TestLiveBlocks(void) try { return liveBlocks.load(); } TAVIRON_GUARD_QUIET(0)
#endif

} // extern "C"
