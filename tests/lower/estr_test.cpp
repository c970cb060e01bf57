#include "estr.h"

#include <gtest/gtest.h>

#include "emsc.h"
#include "lower_testing.h"

TEST(EstrStringList, CreateAppendCopyDelete) {
  Eerr_ErrorReport *err = nullptr;
  Estr_StringList *list = estr_StringListCreate(2, &err);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->count, 2);
  EXPECT_EQ(list->strings[1], nullptr);
  list->strings[0] = estr_Duplicate("zero");
  list = estr_StringListAppend(list, "two", &err);
  EXPECT_EQ(err, nullptr);
  ASSERT_EQ(estr_StringListCount(list), 3);
  EXPECT_STREQ(list->strings[2], "two");

  Estr_StringList *copy = estr_StringListCopy(list, nullptr, &err);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->strings[0], list->strings[0]);
  EXPECT_STREQ(copy->strings[0], "zero");
  EXPECT_EQ(copy->strings[1], nullptr);

  // Copy into an existing list replaces its contents.
  const char *one[] = {"only"};
  Estr_StringList *target = estr_StringToStringList(1, one, &err);
  EXPECT_EQ(estr_StringListCopy(list, target, &err), target);
  EXPECT_EQ(target->count, 3);

  estr_StringListDelete(list, &err);
  estr_StringListDelete(copy, &err);
  estr_StringListDelete(target, &err);
  estr_StringListDelete(nullptr, &err);
  EXPECT_EQ(err, nullptr);
}

TEST(EstrStringList, NullListsAndBadCounts) {
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(estr_StringListCount(nullptr), 0);
  EXPECT_EQ(estr_StringListCopy(nullptr, nullptr, &err), nullptr);
  Estr_StringList *list = estr_StringListAppend(nullptr, "first", &err);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->count, 1);
  estr_StringListDelete(list, nullptr);

  EXPECT_EQ(estr_StringListCreate(-1, &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "estr_StringListCreate");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(estr_StringToStringList(2, nullptr, &err), nullptr);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
}

TEST(EstrStringList, AllocationFailuresReportAndLeakNothing) {
  const int64_t live = emsc_TestLiveBlocks();
  const char *strings[] = {"a", "b", "c"};
  for (int64_t n = 1;; ++n) {
    Eerr_ErrorReport *err = nullptr;
    Estr_StringList *list;
    {
      taviron::testing::FailAllocation fail(n);
      list = estr_StringToStringList(3, strings, &err);
      if (list) list = estr_StringListAppend(list, "d", &err);
    }
    if (!err) {
      ASSERT_NE(list, nullptr);
      estr_StringListDelete(list, nullptr);
      break;
    }
    estr_StringListDelete(list, nullptr);
    eerr_DeleteErrorReportEx(&err);
    ASSERT_EQ(emsc_TestLiveBlocks(), live) << "after failing allocation " << n;
  }
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

TEST(EstrText, DuplicateAndEqic) {
  char *copy = estr_Duplicate("Points");
  EXPECT_STREQ(copy, "Points");
  emsc_HeapFree(copy);
  EXPECT_EQ(estr_Duplicate(nullptr), nullptr);
  struct {
    const char *a, *b;
    int equal;
  } cases[] = {{"Verbose", "VERBOSE", 1}, {"a", "ab", 0}, {"", "", 1}, {nullptr, nullptr, 1}, {"a", nullptr, 0}};
  for (const auto &c : cases) EXPECT_EQ(estr_Eqic(c.a, c.b) != 0, c.equal != 0);
}
