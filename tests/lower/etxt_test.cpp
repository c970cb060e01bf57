#include "etxt.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "emsc.h"
#include "taviron_testing.h"

TEST(EtxtText, Strcmp) {
  struct {
    const char *a, *b;
    int sign;
  } cases[] = {{"abc", "abc", 0}, {"abc", "abd", -1}, {"b", "a", 1},        {"Abc", "abc", -1},
               {"\xe9", "e", 1},  {nullptr, "", -1},  {"", nullptr, 1},     {nullptr, nullptr, 0}};
  for (const auto &c : cases) {
    const int r = etxt_Text_strcmp(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << (c.a ? c.a : "null") << " / " << (c.b ? c.b : "null");
  }
}

TEST(EtxtText, ConversionsRefuseWhatTheyCannotRepresent) {
  Eerr_ErrorReport *err = nullptr;
  char *narrow = etxt_Text_Unicode2Ascii(0, u"/data/caf\u00e9.img", &err);
  ASSERT_NE(narrow, nullptr);
  EXPECT_STREQ(narrow, "/data/caf\xe9.img");
  EXPECT_EQ(err, nullptr);
  emsc_HeapFree(narrow);

  // A name with a character outside Latin-1 is refused, never turned into another name.
  EXPECT_EQ(etxt_Text_Unicode2Ascii(0, u"/data/\u5730\u56fe.img", &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "etxt_Text_Unicode2Ascii");
  EXPECT_EQ(err->code, 2);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(etxt_Text_Unicode2Ascii(3, u"x", &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 1);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(etxt_Text_Unicode2Ascii(0, nullptr, &err), nullptr);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(etxt_Text_Unicode2Ascii(0, u"\u0100", nullptr), nullptr); // null slot accepted

  char16_t *wide = etxt_Text_Ascii2Unicode(0, "Transverse Mercator \xb0", &err);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(std::u16string(wide), u"Transverse Mercator \u00b0");
  emsc_HeapFree(wide);
  EXPECT_EQ(etxt_Text_Ascii2Unicode(1, "x", &err), nullptr);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);

  const int64_t live = emsc_TestLiveBlocks();
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(etxt_Text_Unicode2Ascii(0, u"abc", &err), nullptr);
  }
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 3);
  eerr_DeleteErrorReportEx(&err);
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(etxt_Text_Ascii2Unicode(0, "abc", &err), nullptr);
  }
  ASSERT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}

TEST(EtxtTextA, OwnsOneCopy) {
  const int64_t live = emsc_TestLiveBlocks();
  {
    EtxtTextA name(u"lanier.img");
    ASSERT_NE(name.Get(), nullptr);
    EXPECT_STREQ(name, "lanier.img");
    EXPECT_EQ(emsc_TestLiveBlocks(), live + 1);

    EtxtTextA moved(std::move(name));
    EXPECT_EQ(name.Get(), nullptr);
    EXPECT_STREQ(moved.Get(), "lanier.img");
    EtxtTextA other(u"x");
    other = std::move(moved);
    EXPECT_STREQ(other.Get(), "lanier.img");
    EXPECT_EQ(emsc_TestLiveBlocks(), live + 1);
    other.Reset();
    EXPECT_EQ(other.Get(), nullptr);
    EXPECT_EQ(emsc_TestLiveBlocks(), live);

    // A conversion that yields nothing leaves the text null, with the report when asked for.
    Eerr_ErrorReport *err = nullptr;
    EtxtTextA failed(u"\u5730", &err);
    EXPECT_EQ(failed.Get(), nullptr);
    EXPECT_NE(err, nullptr);
    eerr_DeleteErrorReportEx(&err);
    EtxtTextA none(nullptr);
    EXPECT_EQ(none.Get(), nullptr);
  }
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}
