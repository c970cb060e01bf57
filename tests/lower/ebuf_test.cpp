#include "ebuf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "emsc.h"
#include "taviron_testing.h"

namespace {

std::string Unread(const Ebuf_Buffer *buffer) {
  return std::string(reinterpret_cast<const char *>(buffer->data) + buffer->readPosition,
                     static_cast<size_t>(buffer->writePosition - buffer->readPosition));
}

class EbufTest : public ::testing::Test {
protected:
  void SetUp() override { live_ = emsc_TestLiveBlocks(); }
  void TearDown() override { EXPECT_EQ(emsc_TestLiveBlocks(), live_); }
  int64_t live_ = 0;
};

TEST_F(EbufTest, CopyInAndOut) {
  Ebuf_Buffer *buffer = NewBuffer(8);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer->size, 8);
  EXPECT_EQ(ChkBuffer(buffer), 0);

  EXPECT_EQ(CopyToBuffer(buffer, "abcde", 5), 0);
  EXPECT_EQ(CopyToBuffer(buffer, "fghij", 5), -1); // more than the free space: nothing copied
  EXPECT_EQ(Unread(buffer), "abcde");
  EXPECT_EQ(CopyToBuffer(buffer, "fgh", 3), 0);    // exactly full
  EXPECT_EQ(CopyToBuffer(buffer, "x", 1), -1);
  EXPECT_EQ(CopyToBuffer(buffer, nullptr, 0), 0);

  char out[8] = {};
  EXPECT_EQ(CopyFromBuffer(buffer, out, 3), 0);
  EXPECT_EQ(std::string(out, 3), "abc");
  EXPECT_EQ(CopyFromBuffer(buffer, nullptr, 2), 0); // skips "de"
  EXPECT_EQ(CopyFromBuffer(buffer, out, 4), -1);    // only 3 unread
  EXPECT_EQ(Unread(buffer), "fgh");
  EXPECT_EQ(CopyFromBuffer(buffer, out, -1), -1);
  EXPECT_EQ(CopyToBuffer(buffer, "x", -1), -1);
  FreeBuffer(buffer);
  FreeBuffer(nullptr);
}

// Bytes placed in the free space by someone else (a transfer) are counted with a null source.
TEST_F(EbufTest, CountingBytesPlacedInPlace) {
  Ebuf_Buffer *block = NewBuffer(32);
  ASSERT_NE(block, nullptr);
  std::memcpy(block->data + block->writePosition, "read by the device", 18);
  EXPECT_EQ(CopyToBuffer(block, nullptr, 18), 0);
  EXPECT_EQ(Unread(block), "read by the device");
  EXPECT_EQ(CopyToBuffer(block, nullptr, 15), -1); // only 14 bytes of room left

  // Spare room given back: the storage shrinks to the unread bytes.
  EXPECT_EQ(CopyFromBuffer(block, nullptr, 8), 0);
  EXPECT_EQ(ShrinkBuffer(block), 0);
  EXPECT_EQ(block->size, 10);
  EXPECT_EQ(block->readPosition, 0);
  EXPECT_EQ(Unread(block), "the device");
  EXPECT_EQ(ChkBuffer(block), 0);

  // Keeps the first n unread bytes; a larger n keeps all.
  EXPECT_EQ(TruncateBuffer(block, 20), 0);
  EXPECT_EQ(Unread(block), "the device");
  EXPECT_EQ(TruncateBuffer(block, 3), 0);
  EXPECT_EQ(Unread(block), "the");
  EXPECT_EQ(TruncateBuffer(block, -1), -1);
  EXPECT_EQ(TruncateBuffer(block, 0), 0);
  EXPECT_EQ(Unread(block), "");

  // An empty block gives back all its room and stays a valid buffer.
  EXPECT_EQ(ShrinkBuffer(block), 0);
  EXPECT_EQ(block->size, 0);
  EXPECT_EQ(ChkBuffer(block), 0);
  EXPECT_EQ(CopyToBuffer(block, "x", 1), -1);
  FreeBuffer(block);
}

TEST_F(EbufTest, ShrinkKeepsTheDataWhenMemoryRunsOut) {
  Ebuf_Buffer *buffer = NewBuffer(16);
  ASSERT_NE(buffer, nullptr);
  CopyToBuffer(buffer, "0123456789", 10);
  CopyFromBuffer(buffer, nullptr, 4);
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(ShrinkBuffer(buffer), 0);
  }
  EXPECT_EQ(buffer->size, 16);
  EXPECT_EQ(Unread(buffer), "456789");
  EXPECT_EQ(ChkBuffer(buffer), 0);
  FreeBuffer(buffer);
}

TEST_F(EbufTest, TransferMovesBytesBetweenBuffers) {
  Ebuf_Buffer *pending = NewBuffer(6);
  Ebuf_Buffer *target = NewBuffer(10);
  ASSERT_TRUE(pending && target);
  CopyToBuffer(pending, "parked", 6);
  CopyToBuffer(target, "->", 2);

  EXPECT_EQ(TransferBuffer(target, pending, 7), -1); // pending holds only 6
  EXPECT_EQ(TransferBuffer(target, pending, 6), 0);
  EXPECT_EQ(Unread(target), "->parked");
  EXPECT_EQ(Unread(pending), "");
  Ebuf_Buffer *other = NewBuffer(4);
  CopyToBuffer(other, "wxyz", 4);
  EXPECT_EQ(TransferBuffer(target, other, 3), -1); // target has room for 2 only
  EXPECT_EQ(Unread(other), "wxyz");
  EXPECT_EQ(TransferBuffer(target, other, 2), 0);
  EXPECT_EQ(Unread(target), "->parkedwx");
  EXPECT_EQ(TransferBuffer(other, other, 1), -1);
  EXPECT_EQ(TransferBuffer(nullptr, other, 1), -1);
  EXPECT_EQ(TransferBuffer(other, nullptr, 0), -1);
  FreeBuffer(pending);
  FreeBuffer(target);
  FreeBuffer(other);
}

// A record whose fields were damaged is refused by every call, before any byte moves.
TEST_F(EbufTest, DamagedRecordsAreRefused) {
  struct Damage {
    const char *what;
    void (*apply)(Ebuf_Buffer *);
  };
  const Damage damages[] = {
      {"size beyond the storage", [](Ebuf_Buffer *b) { b->size += 100; }},
      {"negative size", [](Ebuf_Buffer *b) { b->size = -1; }},
      {"write position beyond the size", [](Ebuf_Buffer *b) { b->writePosition = b->size + 1; }},
      {"read position beyond the write position", [](Ebuf_Buffer *b) { b->readPosition = b->writePosition + 1; }},
      {"negative read position", [](Ebuf_Buffer *b) { b->readPosition = -1; }},
      {"storage replaced", [](Ebuf_Buffer *b) { b->data += 1; }},
      {"no storage", [](Ebuf_Buffer *b) { b->data = nullptr; }},
  };
  for (const Damage &damage : damages) {
    Ebuf_Buffer *buffer = NewBuffer(8);
    Ebuf_Buffer *good = NewBuffer(8);
    ASSERT_TRUE(buffer && good);
    CopyToBuffer(buffer, "abcd", 4);
    CopyToBuffer(good, "efgh", 4);
    const Ebuf_Buffer saved = *buffer;
    damage.apply(buffer);
    char out[8];
    EXPECT_EQ(ChkBuffer(buffer), -1) << damage.what;
    EXPECT_EQ(CopyToBuffer(buffer, "x", 1), -1) << damage.what;
    EXPECT_EQ(CopyToBuffer(buffer, nullptr, 0), -1) << damage.what;
    EXPECT_EQ(CopyFromBuffer(buffer, out, 1), -1) << damage.what;
    EXPECT_EQ(TransferBuffer(buffer, good, 1), -1) << damage.what;
    EXPECT_EQ(TransferBuffer(good, buffer, 1), -1) << damage.what;
    EXPECT_EQ(TruncateBuffer(buffer, 1), -1) << damage.what;
    EXPECT_EQ(ShrinkBuffer(buffer), -1) << damage.what;
    EXPECT_EQ(Unread(good), "efgh");
    *buffer = saved;
    FreeBuffer(buffer);
    FreeBuffer(good);
  }
  EXPECT_EQ(ChkBuffer(nullptr), -1);
}

TEST_F(EbufTest, NewBufferSizesAndAllocationFailures) {
  EXPECT_EQ(NewBuffer(-1), nullptr);
  Ebuf_Buffer *empty = NewBuffer(0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(ChkBuffer(empty), 0);
  EXPECT_EQ(CopyToBuffer(empty, "x", 1), -1);
  FreeBuffer(empty);

  Ebuf_Buffer *buffer = nullptr;
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **) {
        buffer = NewBuffer(64);
        if (buffer) {
          EXPECT_EQ(emsc_TestLiveBlocks(), live_ + 2);
          EXPECT_EQ(buffer->size, 64);
        }
        return buffer != nullptr;
      },
      [&] { FreeBuffer(buffer); }, {.reports = false});
}

} // namespace
