#include "edlm.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "emsc.h"
#include "taviron_testing.h"

namespace {

// A 20-byte record, the size of the style records kept in lists.
struct Record {
  int32_t id;
  int32_t words[4];
};
static_assert(sizeof(Record) == 20);

Record MakeRecord(int32_t id) { return Record{id, {id * 2, id * 3, id * 4, id * 5}}; }

std::vector<int32_t> Ids(Edlm_List *list) {
  std::vector<int32_t> ids;
  const int32_t count = edlm_CountList(list, nullptr);
  for (int32_t i = 0; i < count; ++i) ids.push_back(static_cast<Record *>(edlm_GetAddr(list, i, nullptr))->id);
  return ids;
}

void ExpectReport(Eerr_ErrorReport *&err, const char *reporter, int32_t code) {
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, reporter);
  EXPECT_EQ(err->code, code);
  EXPECT_EQ(err->severity, EERR_FATAL);
  eerr_DeleteErrorReportEx(&err);
}

class EdlmBlocks : public ::testing::TestWithParam<int32_t> {};

// Addresses handed out stay valid (and hold the same item) while the list grows block by block.
TEST_P(EdlmBlocks, AddressesStayValidWhileAppending) {
  Eerr_ErrorReport *err = nullptr;
  Edlm_List *list = edlm_InitList(sizeof(Record), GetParam(), &err);
  ASSERT_NE(list, nullptr);
  std::vector<Record *> addresses;
  for (int32_t i = 0; i < 100; ++i) {
    const Record record = MakeRecord(i);
    ASSERT_EQ(edlm_Add(list, &record, &err), i);
    ASSERT_EQ(err, nullptr);
    addresses.push_back(static_cast<Record *>(edlm_GetAddr(list, i, &err)));
  }
  EXPECT_EQ(edlm_CountList(list, &err), 100);
  for (int32_t i = 0; i < 100; ++i) {
    EXPECT_EQ(edlm_GetAddr(list, i, &err), addresses[i]);
    EXPECT_EQ(addresses[i]->id, i);
    EXPECT_EQ(addresses[i]->words[3], i * 5);
  }
  // Appending a copy of an item of the same list, while a new block is made, copies it intact.
  EXPECT_EQ(edlm_Add(list, addresses[7], &err), 100);
  EXPECT_EQ(static_cast<Record *>(edlm_GetAddr(list, 100, &err))->id, 7);
  edlm_FreeList(list);
}

// Deleting moves later items down one, also across block boundaries; consolidation copies the
// items in order into one array the caller owns.
TEST_P(EdlmBlocks, DeleteAndConsolidateFollowAModel) {
  Eerr_ErrorReport *err = nullptr;
  Edlm_List *list = edlm_InitList(sizeof(Record), GetParam(), &err);
  ASSERT_NE(list, nullptr);
  std::vector<int32_t> model;
  for (int32_t i = 0; i < 23; ++i) {
    const Record record = MakeRecord(i);
    edlm_Add(list, &record, &err);
    model.push_back(i);
  }
  for (int32_t index : {0, 5, 6, 7, 8, 15, 16, 3, 14}) {
    ASSERT_EQ(edlm_Delete(list, index, &err), EMSC_TRUE);
    model.erase(model.begin() + index);
    ASSERT_EQ(Ids(list), model) << "after deleting index " << index;
  }
  ASSERT_EQ(edlm_Delete(list, static_cast<int32_t>(model.size()) - 1, &err), EMSC_TRUE);
  model.pop_back();
  EXPECT_EQ(Ids(list), model);

  auto *array = static_cast<Record *>(edlm_Consolidate(list, &err));
  ASSERT_NE(array, nullptr);
  for (size_t i = 0; i < model.size(); ++i) {
    EXPECT_EQ(array[i].id, model[i]);
    EXPECT_EQ(array[i].words[0], model[i] * 2);
  }
  emsc_HeapFree(array);

  // The freed place is reused by the next append.
  const Record record = MakeRecord(99);
  EXPECT_EQ(edlm_Add(list, &record, &err), static_cast<int32_t>(model.size()));
  edlm_FreeList(list);
}

INSTANTIATE_TEST_SUITE_P(ItemsPerBlock, EdlmBlocks, ::testing::Values(1, 2, 3, 8, 64));

TEST(Edlm, PointerListsHoldPointersAndGiveSlotAddresses) {
  Eerr_ErrorReport *err = nullptr;
  Edlm_List *list = edlm_InitList(sizeof(void *), 4, &err);
  ASSERT_NE(list, nullptr);
  std::vector<int> values(10);
  for (int i = 0; i < 10; ++i) {
    int *pointer = &values[i];
    EXPECT_EQ(edlm_Add(list, &pointer, &err), i);
  }
  auto **slot = static_cast<int **>(edlm_GetAddr(list, 9, &err));
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(*slot, &values[9]);

  int *copied = nullptr;
  EXPECT_EQ(edlm_Element(list, 3, &copied, &err), EMSC_TRUE);
  EXPECT_EQ(copied, &values[3]);

  int other = 0;
  int *replacement = &other;
  EXPECT_EQ(edlm_Replace(list, 3, &replacement, &err), EMSC_TRUE);
  EXPECT_EQ(*static_cast<int **>(edlm_GetAddr(list, 3, &err)), &other);
  EXPECT_EQ(err, nullptr);
  edlm_FreeList(list);
}

TEST(Edlm, FourByteItemsAreFourBytes) {
  // Items of 4 bytes are taken as 4 bytes (floats here), not as pointers.
  Eerr_ErrorReport *err = nullptr;
  Edlm_List *list = edlm_InitList(4, 28, &err);
  ASSERT_NE(list, nullptr);
  for (int i = 0; i < 60; ++i) {
    const float value = static_cast<float>(i) + 0.5f;
    edlm_Add(list, &value, &err);
  }
  auto *floats = static_cast<float *>(edlm_Consolidate(list, &err));
  ASSERT_NE(floats, nullptr);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(floats[i], static_cast<float>(i) + 0.5f);
  EXPECT_EQ(static_cast<char *>(edlm_GetAddr(list, 1, &err)) - static_cast<char *>(edlm_GetAddr(list, 0, &err)), 4);
  emsc_HeapFree(floats);
  edlm_FreeList(list);
}

TEST(Edlm, EmptyListConsolidatesToOneZeroItem) {
  Eerr_ErrorReport *err = nullptr;
  Edlm_List *list = edlm_InitList(sizeof(Record), 0, &err); // 0 items per block is taken as 1
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(edlm_CountList(list, &err), 0);
  auto *array = static_cast<Record *>(edlm_Consolidate(list, &err));
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(array->id, 0);
  emsc_HeapFree(array);
  const Record record = MakeRecord(1);
  EXPECT_EQ(edlm_Add(list, &record, &err), 0);
  EXPECT_EQ(edlm_Add(list, &record, &err), 1);
  edlm_FreeList(list);
}

int32_t SameId(const void *a, const void *b) {
  return static_cast<const Record *>(a)->id == static_cast<const Record *>(b)->id;
}

TEST(Edlm, AddIfUniqueGivesOldCountOrFirstEqualIndex) {
  Eerr_ErrorReport *err = nullptr;
  Edlm_List *list = edlm_InitList(sizeof(Record), 2, &err);
  struct Case {
    int32_t id;
    int32_t expected;
    int32_t countAfter;
  };
  const Case cases[] = {{10, 0, 1}, {20, 1, 2}, {10, 0, 2}, {30, 2, 3}, {20, 1, 3}, {30, 2, 3}, {40, 3, 4}};
  for (const Case &c : cases) {
    Record record = MakeRecord(c.id);
    record.words[0] = -1; // equality looks at the id only
    EXPECT_EQ(edlm_AddIfUnique(list, &record, SameId, &err), c.expected) << "id " << c.id;
    EXPECT_EQ(err, nullptr);
    EXPECT_EQ(edlm_CountList(list, &err), c.countAfter);
  }
  Record record = MakeRecord(1);
  EXPECT_EQ(edlm_AddIfUnique(list, &record, nullptr, &err), -1);
  ExpectReport(err, "edlm_AddIfUnique", 1);
  EXPECT_EQ(edlm_AddIfUnique(nullptr, &record, SameId, &err), -1);
  ExpectReport(err, "edlm_AddIfUnique", 1);
  edlm_FreeList(list);
}

TEST(Edlm, NullListsAndBadIndexesReport) {
  Eerr_ErrorReport *err = nullptr;
  Record record = MakeRecord(1);
  Edlm_List *list = edlm_InitList(sizeof(Record), 4, &err);
  edlm_Add(list, &record, &err);
  edlm_Add(list, &record, &err);

  // A null list: every call reports code 1 under its own name.
  EXPECT_EQ(edlm_CountList(nullptr, &err), -1);
  ExpectReport(err, "edlm_CountList", 1);
  EXPECT_EQ(edlm_Add(nullptr, &record, &err), -1);
  ExpectReport(err, "edlm_Add", 1);
  EXPECT_EQ(edlm_GetAddr(nullptr, 0, &err), nullptr);
  ExpectReport(err, "edlm_GetAddr", 1);
  EXPECT_EQ(edlm_Element(nullptr, 0, &record, &err), EMSC_FALSE);
  ExpectReport(err, "edlm_Element", 1);
  EXPECT_EQ(edlm_Replace(nullptr, 0, &record, &err), EMSC_FALSE);
  ExpectReport(err, "edlm_Replace", 1);
  EXPECT_EQ(edlm_Delete(nullptr, 0, &err), EMSC_FALSE);
  ExpectReport(err, "edlm_Delete", 1);
  EXPECT_EQ(edlm_Consolidate(nullptr, &err), nullptr);
  ExpectReport(err, "edlm_Consolidate", 1);
  EXPECT_EQ(edlm_Pop(nullptr, nullptr, &err), EMSC_FALSE);
  ExpectReport(err, "edlm_Pop", 1);
  EXPECT_EQ(edlm_Push(nullptr, &record, &err), -1);
  ExpectReport(err, "edlm_Push", 1);

  // Indexes outside 0 .. count - 1 report code 2 and touch nothing.
  for (int32_t index : {-1, 2, 3, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(edlm_GetAddr(list, index, &err), nullptr);
    ExpectReport(err, "edlm_GetAddr", 2);
    EXPECT_EQ(edlm_Element(list, index, &record, &err), EMSC_FALSE);
    ExpectReport(err, "edlm_Element", 2);
    EXPECT_EQ(edlm_Replace(list, index, &record, &err), EMSC_FALSE);
    ExpectReport(err, "edlm_Replace", 2);
    EXPECT_EQ(edlm_Delete(list, index, &err), EMSC_FALSE);
    ExpectReport(err, "edlm_Delete", 2);
  }
  EXPECT_EQ(edlm_CountList(list, &err), 2);

  // Null items.
  EXPECT_EQ(edlm_Add(list, nullptr, &err), -1);
  ExpectReport(err, "edlm_Add", 2);
  EXPECT_EQ(edlm_Element(list, 0, nullptr, &err), EMSC_FALSE);
  ExpectReport(err, "edlm_Element", 3);
  EXPECT_EQ(edlm_Replace(list, 0, nullptr, &err), EMSC_FALSE);
  ExpectReport(err, "edlm_Replace", 3);

  // A null error slot is accepted.
  EXPECT_EQ(edlm_GetAddr(list, 5, nullptr), nullptr);
  EXPECT_EQ(edlm_CountList(nullptr, nullptr), -1);

  edlm_FreeList(list);
  edlm_FreeList(nullptr);
  edlm_FreeListAndContents(nullptr, emsc_FreePtrFunc);
}

TEST(Edlm, InvalidCreateArgumentsReport) {
  Eerr_ErrorReport *err = nullptr;
  struct Case {
    int32_t itemSize, perBlock, code;
  };
  for (const Case &c : {Case{0, 4, 1}, Case{-4, 4, 1}, Case{4, -1, 2}}) {
    EXPECT_EQ(edlm_InitList(c.itemSize, c.perBlock, &err), nullptr);
    ExpectReport(err, "edlm_InitList", c.code);
  }
  EXPECT_EQ(edlm_NewList(0, 1, &err), nullptr);
  ExpectReport(err, "edlm_NewList", 1);
  EXPECT_EQ(edlm_NewStack(-1, &err), nullptr);
  ExpectReport(err, "edlm_NewStack", 1);
}

std::vector<std::string> freedNames;
struct Category {
  char *name;
  int32_t number;
};
void FreeCategoryContents(void *address) {
  auto *category = static_cast<Category *>(address);
  freedNames.emplace_back(category->name);
  emsc_HeapFreeEx(&category->name);
}

TEST(Edlm, FreeListAndContentsPassesSlotAddresses) {
  const int64_t live = emsc_TestLiveBlocks();
  Eerr_ErrorReport *err = nullptr;

  // Pointer items: emsc_FreePtrFunc frees each pointed-to block.
  Edlm_List *pointers = edlm_InitList(sizeof(void *), 3, &err);
  for (int i = 0; i < 7; ++i) {
    void *block = emsc_HeapMalloc(16);
    edlm_Add(pointers, &block, &err);
  }
  edlm_FreeListAndContents(pointers, emsc_FreePtrFunc);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);

  // Record items: the function gets each record's address, in index order.
  freedNames.clear();
  Edlm_List *records = edlm_InitList(sizeof(Category), 2, &err);
  for (const char *name : {"roads", "rivers", "towns"}) {
    Category category{static_cast<char *>(emsc_HeapMalloc(8)), 0};
    std::strcpy(category.name, name);
    edlm_Add(records, &category, &err);
  }
  edlm_FreeListAndContents(records, FreeCategoryContents);
  EXPECT_EQ(freedNames, (std::vector<std::string>{"roads", "rivers", "towns"}));
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

// The walk of the incremental renderer: read the top, replace it, push a level, pop when done.
TEST(EdlmStack, PushReadTopReplacePop) {
  Eerr_ErrorReport *err = nullptr;
  Edlm_List *stack = edlm_NewStack(sizeof(void *), &err);
  ASSERT_NE(stack, nullptr);
  int a = 1, b = 2;
  void *top = &a;
  EXPECT_EQ(edlm_Push(stack, &top, &err), 0);
  top = &b;
  EXPECT_EQ(edlm_Push(stack, &top, &err), 1);

  void *read = nullptr;
  int32_t count = edlm_CountList(stack, &err);
  EXPECT_EQ(edlm_Element(stack, count - 1, &read, &err), EMSC_TRUE);
  EXPECT_EQ(read, &b);
  void *next = nullptr;
  EXPECT_EQ(edlm_Replace(stack, count - 1, &next, &err), EMSC_TRUE);

  EXPECT_EQ(edlm_Pop(stack, &read, &err), EMSC_TRUE);
  EXPECT_EQ(read, nullptr);
  EXPECT_EQ(edlm_Pop(stack, nullptr, &err), EMSC_TRUE);
  EXPECT_EQ(edlm_CountList(stack, &err), 0);
  EXPECT_EQ(err, nullptr);

  EXPECT_EQ(edlm_Pop(stack, &read, &err), EMSC_FALSE);
  ExpectReport(err, "edlm_Pop", 2);

  // Many pushes and pops across blocks keep the order.
  for (intptr_t i = 0; i < 100; ++i) {
    void *value = reinterpret_cast<void *>(i);
    edlm_Push(stack, &value, &err);
  }
  for (intptr_t i = 99; i >= 0; --i) {
    ASSERT_EQ(edlm_Pop(stack, &read, &err), EMSC_TRUE);
    EXPECT_EQ(read, reinterpret_cast<void *>(i));
  }
  edlm_FreeList(stack);
}

TEST(Edlm, AllocationFailuresReportAndLeakNothing) {
  Edlm_List *list = nullptr;
  taviron::testing::SweepOptions options;
  options.finish = [&] {
    edlm_FreeList(list);
    list = nullptr;
  };
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) {
        list = edlm_InitList(sizeof(Record), 2, err);
        bool failed = list == nullptr;
        for (int32_t i = 0; !failed && i < 9; ++i) {
          const Record record = MakeRecord(i);
          failed = edlm_Add(list, &record, err) < 0;
        }
        void *array = failed ? nullptr : edlm_Consolidate(list, err);
        failed = failed || array == nullptr;
        emsc_HeapFree(array);
        if (!failed) {
          EXPECT_EQ(Ids(list).size(), 9u);
        }
        return !failed;
      },
      options);
}

} // namespace
