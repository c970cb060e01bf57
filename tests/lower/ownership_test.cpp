// The ownership kit: objects and arrays in the layer's heap, the growth rule, callee reports.
#include "ownership.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "internal.h"
#include "taviron_testing.h"

namespace {

namespace lower = taviron::lower;

struct Holder {
  explicit Holder(std::string text) : text(std::move(text)) {}
  std::string text;
  std::vector<int> values{1, 2, 3};
};

TEST(OwnershipTest, ObjectsLiveInTheLayerHeap) {
  const int64_t live = emsc_TestLiveBlocks();
  {
    lower::HeapPtr<Holder> held(lower::HeapNew<Holder>(std::string(100, 'x')));
    ASSERT_NE(nullptr, held);
    EXPECT_EQ(live + 1, emsc_TestLiveBlocks());
    EXPECT_EQ(100u, held->text.size());
  }
  EXPECT_EQ(live, emsc_TestLiveBlocks());
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(nullptr, lower::HeapNew<Holder>("lost"));
  }
  EXPECT_EQ(live, emsc_TestLiveBlocks());

  struct Record {
    int32_t count;
    void **entries;
  };
  void **entries = nullptr;
  auto *record = lower::HeapNewWithArray<Record>(3, entries);
  ASSERT_NE(nullptr, record);
  EXPECT_EQ(reinterpret_cast<char *>(record) + sizeof(Record), reinterpret_cast<char *>(entries));
  EXPECT_EQ(nullptr, entries[2]);
  emsc_HeapFree(record);
  EXPECT_EQ(nullptr, lower::HeapNewWithArray<Record>(-1, entries));
  EXPECT_EQ(nullptr, lower::HeapNewArray<double>(int64_t{1} << 40));
  EXPECT_EQ(live, emsc_TestLiveBlocks());
}

TEST(OwnershipTest, GrowthFollowsOneRule) {
  struct Case {
    const char *what;
    int32_t capacity;
    int64_t wanted;
    std::size_t elementSize;
    lower::Growth growth;
    bool ok;
    int32_t after;
  };
  const int32_t kMaxInts = static_cast<int32_t>(lower::kMaxBlockBytes / 4);
  const Case cases[] = {
      {"room enough", 10, 10, 4, {}, true, 10},
      {"first block", 0, 1, 4, {}, true, 16},
      {"by half", 100, 101, 4, {}, true, 150},
      {"wanted beyond half", 100, 400, 4, {}, true, 400},
      {"exact", 100, 101, 4, {.exact = true}, true, 101},
      {"first of its own", 0, 3, 4, {.first = 256}, true, 256},
      {"half clamped to the limit", 40000, 40001, 4, {.limit = 50000}, true, 50000},
      {"beyond the limit", 100, 65536, 4, {.limit = 65535}, false, 100},
      {"beyond a block", 100, int64_t{kMaxInts} + 1, 4, {}, false, 100},
      {"two words a point", 100, int64_t{kMaxInts} / 2 + 1, 8, {}, false, 100},
      {"negative count", 0, -1, 4, {}, false, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    int32_t *array = c.capacity ? static_cast<int32_t *>(emsc_HeapMalloc(static_cast<std::size_t>(c.capacity) * 4))
                                : nullptr;
    if (c.capacity) array[c.capacity - 1] = 7;
    int32_t capacity = c.capacity;
    int32_t *before = array;
    EXPECT_EQ(c.ok, lower::Grow(array, capacity, c.wanted, c.elementSize, c.growth));
    EXPECT_EQ(c.after, capacity);
    if (!c.ok) {
      EXPECT_EQ(before, array);
    }
    if (c.capacity) {
      EXPECT_EQ(7, array[c.capacity - 1]);
    }
    if (c.ok && capacity > c.capacity) {
      EXPECT_EQ(0, array[capacity - 1]); // growth is zeroed
    }
    emsc_HeapFree(array);
  }
}

TEST(OwnershipTest, FailedGrowthKeepsTheArray) {
  int32_t capacity = 4;
  auto *array = static_cast<int32_t *>(emsc_HeapMalloc(4 * sizeof(int32_t)));
  int32_t *before = array;
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_FALSE(lower::Grow(array, capacity, 5));
  }
  EXPECT_EQ(before, array);
  EXPECT_EQ(4, capacity);
  emsc_HeapFree(array);
}

// A callee that reports with the message given, or succeeds silently.
int32_t Callee(const char *message, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!message) return 0;
  lower::Report(err, "Callee", 1, "%s", message);
  return -1;
}

TEST(OwnershipTest, CalleeReportsAreOwnedAndHandedOn) {
  Eerr_ErrorReport *err = nullptr;
  {
    lower::CalleeReport inner;
    EXPECT_EQ(-1, Callee("first", &inner));
    inner.Drop(); // before the slot is reused
    EXPECT_EQ(-1, Callee("second", &inner));
    ASSERT_NE(nullptr, inner.Get());
    EXPECT_STREQ("second", inner->message);
    lower::Report(&inner, "Middle", 4, "chained above the callee's report");
    EXPECT_STREQ("second", inner->next->message);
    lower::ReportCallee(&err, inner, "Caller", 5, "Callee");
    EXPECT_EQ(nullptr, inner.Get());
  }
  ASSERT_NE(nullptr, err);
  EXPECT_STREQ("Error returned from Callee", err->message);
  EXPECT_EQ(5, err->code);
  ASSERT_NE(nullptr, err->next);
  EXPECT_STREQ("chained above the callee's report", err->next->message);
  EXPECT_STREQ("second", err->next->next->message);

  // Handed on unchanged, above what the slot holds; dropped without a slot.
  {
    lower::CalleeReport inner;
    Callee("third", &inner);
    lower::PassOn(&err, inner);
    Callee("fourth", &inner);
    lower::ReportChained(nullptr, inner, "Caller", 6, "dropped");
    EXPECT_EQ(nullptr, inner.Get());
    lower::CalleeReport unused;
    Callee("left", &unused); // freed when the slot ends
  }
  ASSERT_NE(nullptr, err);
  EXPECT_STREQ("third", err->message);
  EXPECT_STREQ("Error returned from Callee", err->next->message);
  eerr_DeleteErrorReportEx(&err);
}

} // namespace
