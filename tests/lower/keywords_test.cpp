// The keyword-list reader: values of exactly the C types the table names, unknown codes, stops.
#include "keywords.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "eerr.h"

namespace {

namespace lower = taviron::lower;
using V = lower::Value;

constexpr int32_t kWord = 1, kReal = 2, kMixed = 3, kText = 4, kCallback = 5, kNames = 6, kFail = 7;

int Twice(int x) { return 2 * x; }

constexpr lower::Keyword kTestKeywords[] = {
    {kWord, {V::Int}},
    {kReal, {V::Double}},
    {kMixed, {V::Int, V::Double, V::Int, V::Double, V::Pointer}},
    {kText, {V::Pointer}},
    {kCallback, {V::Function}},
    {kNames, {V::PointerList, V::Int}},
    {kFail, {}},
};
constexpr lower::KeywordList kTestList{{kTestKeywords}, "Unknown test keyword %d"};
constexpr lower::Shape kOther{V::Pointer};
constexpr lower::KeywordList kTrailingList{{kTestKeywords}, "Unknown test keyword %d", 0, &kOther};

// What the reader handed on, as text.
std::vector<std::string> seen;

bool Apply(int32_t code, const lower::KeywordValues &v) {
  std::string text = std::to_string(code) + ":";
  switch (code) {
  case kWord: text += std::to_string(v.Int(0)); break;
  case kReal: text += std::to_string(v.Double(0)); break;
  case kMixed:
    text += std::to_string(v.Int(0)) + "," + std::to_string(v.Double(1)) + "," + std::to_string(v.Int(2)) + "," +
            std::to_string(v.Double(3)) + "," + v.Pointer<const char>(4);
    break;
  case kText: text += v.Pointer<const char>(0) ? v.Pointer<const char>(0) : "null"; break;
  case kCallback: text += std::to_string(v.Function<int (*)(int)>(0)(21)); break;
  case kNames:
    for (void *name : v.List()) text += static_cast<const char *>(name) + std::string(" ");
    text += std::to_string(v.Int(1));
    break;
  case kFail: seen.push_back(text); return false;
  }
  seen.push_back(text);
  return true;
}

// A call whose keyword list follows err.
int32_t ListAfterSlot(Eerr_ErrorReport **err, ...) {
  va_list ap;
  va_start(ap, err);
  const bool ended = lower::ReadKeywords(kTestList, ap, "ListAfterSlot", 9, err, Apply);
  va_end(ap);
  return ended ? 0 : -1;
}

// A call whose error slot follows the list.
int32_t SlotAfterList(int32_t first, ...) {
  va_list ap;
  va_start(ap, first);
  bool ok = false;
  lower::ReadKeywordsThenSlot(kTrailingList, first, ap, "SlotAfterList", 9, ok, Apply);
  va_end(ap);
  return ok ? 0 : -1;
}

TEST(KeywordsTest, ReadsExactlyTheTypesTheTableNames) {
  seen.clear();
  Eerr_ErrorReport *err = nullptr;
  // Integers and doubles travel apart in the calling convention: a value read as the wrong type
  // would not come out as given.
  EXPECT_EQ(0, ListAfterSlot(&err, kMixed, -3, 2.5, 4, -0.25, "p", kWord, 17, kReal, 1e300, kText,
                             static_cast<const char *>(nullptr), kCallback, &Twice, kNames, "a", "b",
                             static_cast<const char *>(nullptr), 9, 0));
  EXPECT_EQ(nullptr, err);
  const std::vector<std::string> expected = {
      "3:-3,2.500000,4,-0.250000,p", "1:17", "2:" + std::to_string(1e300), "4:null", "5:42", "6:a b 9"};
  EXPECT_EQ(expected, seen);
}

TEST(KeywordsTest, UnknownCodeAndStops) {
  seen.clear();
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(-1, ListAfterSlot(&err, kWord, 1, 99, 2, 3, 0));
  ASSERT_NE(nullptr, err);
  EXPECT_STREQ("ListAfterSlot", err->reporter);
  EXPECT_EQ(9, err->code);
  EXPECT_STREQ("Unknown test keyword 99", err->message);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(std::vector<std::string>{"1:1"}, seen);

  // apply stops the list: keywords before it stay applied, none after it is read.
  seen.clear();
  EXPECT_EQ(-1, ListAfterSlot(&err, kWord, 1, kFail, kWord, 2, 0));
  EXPECT_EQ(nullptr, err);
  EXPECT_EQ((std::vector<std::string>{"1:1", "7:"}), seen);
}

TEST(KeywordsTest, SlotAfterTheList) {
  seen.clear();
  Eerr_ErrorReport *err = reinterpret_cast<Eerr_ErrorReport *>(0x1); // cleared by the reader
  EXPECT_EQ(0, SlotAfterList(kWord, 5, kText, "t", 0, &err));
  EXPECT_EQ(nullptr, err);
  EXPECT_EQ((std::vector<std::string>{"1:5", "4:t"}), seen);

  // An unknown code takes the shape of the others, so the list is read to its end and the slot
  // found; the first unknown code is reported there.
  seen.clear();
  EXPECT_EQ(-1, SlotAfterList(50, "skipped", kWord, 6, 51, "skipped too", 0, &err));
  ASSERT_NE(nullptr, err);
  EXPECT_STREQ("Unknown test keyword 50", err->message);
  EXPECT_EQ(nullptr, err->next);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(std::vector<std::string>{"1:6"}, seen);

  // A null slot drops the report, and the call still fails.
  EXPECT_EQ(-1, SlotAfterList(50, "skipped", 0, static_cast<Eerr_ErrorReport **>(nullptr)));
}

// The values of one shape alone, as a packet assembler reads a type's arguments.
bool ReadOne(const lower::Shape &shape, lower::KeywordValues *values, ...) {
  va_list ap;
  va_start(ap, values);
  lower::ReadValues(shape, ap, *values);
  va_end(ap);
  return !values->ListTooLong();
}

TEST(KeywordsTest, ValuesOfOneShape) {
  constexpr lower::Shape kShape{V::Pointer, V::PointerList, V::Double};
  lower::KeywordValues values;
  EXPECT_TRUE(ReadOne(kShape, &values, "name", "a", "b", static_cast<const char *>(nullptr), 0.5));
  EXPECT_STREQ("name", values.Pointer<const char>(0));
  ASSERT_EQ(2u, values.List().size());
  EXPECT_STREQ("b", static_cast<const char *>(values.List()[1]));
  EXPECT_EQ(0.5, values.Double(2));
}

} // namespace
