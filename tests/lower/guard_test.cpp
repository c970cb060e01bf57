// The guarded C boundary: exceptions become reports of the function and its failure value.
#include "guard.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>

#include "eerr.h"

namespace {

enum class Throw { Nothing, BadAlloc, Runtime, Eerr, Other };

extern "C" int32_t GuardedCall(Throw what, Eerr_ErrorReport **err) try {
  if (err) *err = nullptr;
  switch (what) {
  case Throw::Nothing: return 7;
  case Throw::BadAlloc: throw std::bad_alloc();
  case Throw::Runtime: throw std::runtime_error("the cause");
  case Throw::Eerr: {
    EerrException e("guard_test.cpp", "inner_Function");
    e.Throw(4, "inner message");
  }
  case Throw::Other: throw 42;
  }
  return 0;
} TAVIRON_GUARD(err, -1)

int voidCalls = 0;
extern "C" void GuardedVoid(bool fail, Eerr_ErrorReport **err) try {
  if (err) *err = nullptr;
  if (fail) throw std::bad_alloc();
  ++voidCalls;
} TAVIRON_GUARD_VOID(err)

// A body that reports, then throws: the guard's report goes above what the slot holds.
extern "C" void *GuardedAfterReport(Eerr_ErrorReport **err) try {
  *err = eerr_CreateErrorReport("earlier", 3, EERR_FATAL, nullptr, "reported first");
  throw std::bad_alloc();
} TAVIRON_GUARD(err, nullptr)

TEST(GuardTest, ExceptionsBecomeReportsOfTheFunction) {
  struct Case {
    Throw what;
    const char *message; // null: a report without message (a thrown chain beneath)
    const char *below;   // reporter of the next report, or null
  };
  const Case cases[] = {
      {Throw::BadAlloc, "Out of memory", nullptr},
      {Throw::Runtime, "Unexpected failure: the cause", nullptr},
      {Throw::Eerr, nullptr, "inner_Function"},
      {Throw::Other, "Unexpected failure", nullptr},
  };
  for (const Case &c : cases) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(-1, GuardedCall(c.what, &err));
    ASSERT_NE(nullptr, err);
    EXPECT_STREQ("GuardedCall", err->reporter);
    EXPECT_EQ(taviron::lower::kGuardCode, err->code);
    EXPECT_EQ(EERR_FATAL, err->severity);
    if (c.message) {
      EXPECT_STREQ(c.message, err->message);
    } else {
      EXPECT_EQ(nullptr, err->message);
    }
    if (c.below) {
      ASSERT_NE(nullptr, err->next);
      EXPECT_STREQ(c.below, err->next->reporter);
      EXPECT_STREQ("inner message", err->next->message);
    } else {
      EXPECT_EQ(nullptr, err->next);
    }
    eerr_DeleteErrorReportEx(&err);
  }
}

TEST(GuardTest, QuietWithoutExceptionOrSlot) {
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(7, GuardedCall(Throw::Nothing, &err));
  EXPECT_EQ(nullptr, err);
  // Without an error slot only the failure value tells.
  EXPECT_EQ(-1, GuardedCall(Throw::Runtime, nullptr));
  EXPECT_EQ(-1, GuardedCall(Throw::Eerr, nullptr));

  voidCalls = 0;
  GuardedVoid(false, &err);
  EXPECT_EQ(1, voidCalls);
  GuardedVoid(true, &err);
  ASSERT_NE(nullptr, err);
  EXPECT_STREQ("GuardedVoid", err->reporter);
  eerr_DeleteErrorReportEx(&err);
}

TEST(GuardTest, ReportGoesAboveWhatTheSlotHolds) {
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(nullptr, GuardedAfterReport(&err));
  ASSERT_NE(nullptr, err);
  EXPECT_STREQ("GuardedAfterReport", err->reporter);
  ASSERT_NE(nullptr, err->next);
  EXPECT_STREQ("earlier", err->next->reporter);
  eerr_DeleteErrorReportEx(&err);
}

} // namespace
