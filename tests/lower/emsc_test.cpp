#include "emsc.h"

#include <gtest/gtest.h>

#include <cstring>

#include "taviron_testing.h"

TEST(EmscHeap, BlocksAreZeroFilledAndGrowthIsZeroFilled) {
  auto *block = static_cast<unsigned char *>(emsc_HeapMalloc(64));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], 0) << i;
  std::memset(block, 0xAB, 64);
  block = static_cast<unsigned char *>(emsc_HeapRealloc(block, 4096));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], 0xAB) << i;
  for (int i = 64; i < 4096; ++i) ASSERT_EQ(block[i], 0) << i;
  // Shrink then grow again: the bytes given back come back as zeros.
  block = static_cast<unsigned char *>(emsc_HeapRealloc(block, 8));
  block = static_cast<unsigned char *>(emsc_HeapRealloc(block, 32));
  for (int i = 0; i < 8; ++i) ASSERT_EQ(block[i], 0xAB) << i;
  for (int i = 8; i < 32; ++i) ASSERT_EQ(block[i], 0) << i;
  emsc_HeapFree(block);
}

TEST(EmscHeap, ReallocOfNullAllocatesAndFreeAcceptsNull) {
  void *block = emsc_HeapRealloc(nullptr, 16);
  ASSERT_NE(block, nullptr);
  emsc_HeapFree(block);
  emsc_HeapFree(nullptr);
  emsc_HeapFreeEx(nullptr);
}

TEST(EmscHeap, FreeExAndFreePtrFuncNullThePointer) {
  char *text = static_cast<char *>(emsc_HeapMalloc(4));
  emsc_HeapFreeEx(&text);
  EXPECT_EQ(text, nullptr);
  emsc_HeapFreeEx(&text); // already null: nothing happens

  void *slot = emsc_HeapMalloc(4);
  emsc_FreePtrFunc(&slot);
  EXPECT_EQ(slot, nullptr);
}

TEST(EmscHeap, ImpossibleSizesFail) {
  EXPECT_EQ(emsc_HeapMalloc(SIZE_MAX), nullptr);
  void *block = emsc_HeapMalloc(8);
  EXPECT_EQ(emsc_HeapRealloc(block, SIZE_MAX), nullptr);
  emsc_HeapFree(block); // the old block survives a failed realloc
}

TEST(EmscHeap, ForcedFailureHitsExactlyTheNthAllocation) {
  const int64_t live = emsc_TestLiveBlocks();
  {
    taviron::testing::FailAllocation fail(3);
    void *a = emsc_HeapMalloc(1);
    void *b = emsc_HeapMalloc(1);
    void *c = emsc_HeapMalloc(1);
    void *d = emsc_HeapMalloc(1);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(c, nullptr);
    EXPECT_NE(d, nullptr);
    // A failed realloc keeps the old block.
    emsc_TestFailNthAllocation(1);
    EXPECT_EQ(emsc_HeapRealloc(a, 100), nullptr);
    emsc_HeapFree(a);
    emsc_HeapFree(b);
    emsc_HeapFree(d);
  }
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}
