// The heap of the layer. Every block carries a small header with its size so that growth can be
// zero-filled; tests can force the nth allocation to fail.
#include "emsc.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "lower_testing.h"

namespace {

struct alignas(alignof(std::max_align_t)) Header {
  std::size_t size;
};
constexpr std::size_t kHeader = sizeof(Header);

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

Header *HeaderOf(void *block) { return reinterpret_cast<Header *>(static_cast<char *>(block) - kHeader); }

} // namespace

extern "C" {

void *emsc_HeapMalloc(size_t n) {
  if (ShouldFail() || n > std::numeric_limits<std::size_t>::max() - kHeader) return nullptr;
  auto *header = static_cast<Header *>(std::calloc(1, kHeader + n));
  if (!header) return nullptr;
  header->size = n;
  ++liveBlocks;
  return reinterpret_cast<char *>(header) + kHeader;
}

void *emsc_HeapRealloc(void *block, size_t n) {
  if (!block) return emsc_HeapMalloc(n);
  if (ShouldFail() || n > std::numeric_limits<std::size_t>::max() - kHeader) return nullptr;
  Header *old = HeaderOf(block);
  const std::size_t oldSize = old->size;
  auto *header = static_cast<Header *>(std::realloc(old, kHeader + n));
  if (!header) return nullptr;
  if (n > oldSize) std::memset(reinterpret_cast<char *>(header) + kHeader + oldSize, 0, n - oldSize);
  header->size = n;
  return reinterpret_cast<char *>(header) + kHeader;
}

void emsc_HeapFree(void *block) {
  if (!block) return;
  --liveBlocks;
  std::free(HeaderOf(block));
}

void emsc_HeapFreeEx(void *pointerAddress) {
  if (!pointerAddress) return;
  void **pointer = static_cast<void **>(pointerAddress);
  emsc_HeapFree(*pointer);
  *pointer = nullptr;
}

void emsc_FreePtrFunc(void *slotAddress) { emsc_HeapFreeEx(slotAddress); }

void emsc_TestFailNthAllocation(int64_t n) {
  failAt.store(n > 0 ? allocations.load() + n : 0);
}

int64_t emsc_TestAllocationCount(void) { return allocations.load(); }

int64_t emsc_TestLiveBlocks(void) { return liveBlocks.load(); }

} // extern "C"
