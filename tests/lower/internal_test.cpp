#include "internal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

using taviron::lower::ExpandVariables;

TEST(LowerExpandVariables, ExpandsPlainAndBracedNamesRecursively) {
  setenv("TV_A", "alpha", 1);
  setenv("TV_B", "$TV_A/beta", 1);
  unsetenv("TV_UNSET");
  struct Case {
    const char *text, *expected;
  } cases[] = {
      {"$TV_A", "alpha"},
      {"${TV_A}x", "alphax"},
      {"$TV_Ax", ""}, // the name runs to the last name character
      {"$TV_B;.", "alpha/beta;."},
      {"a$TV_UNSET.b", "a.b"},
      {"cost $5 and $ alone", "cost  and $ alone"},
      {"trailing $", "trailing $"},
      {"${}", ""},
      {"", ""},
  };
  for (const Case &c : cases) {
    std::string out;
    Eerr_ErrorReport *err = nullptr;
    EXPECT_TRUE(ExpandVariables(c.text, out, &err, "test")) << c.text;
    EXPECT_EQ(out, c.expected) << c.text;
    EXPECT_EQ(err, nullptr);
  }
}

TEST(LowerExpandVariables, SelfReferenceUnterminatedAndBlowUpAreReported) {
  setenv("TV_LOOP1", "x$TV_LOOP2", 1);
  setenv("TV_LOOP2", "${TV_LOOP1}", 1);
  setenv("TV_SELF", "$TV_SELF", 1);
  // Each level doubles: 2^24 characters unless stopped.
  std::string big = "x";
  for (int i = 0; i < 24; ++i) {
    std::string name = "TV_BIG" + std::to_string(i);
    setenv(name.c_str(), big.c_str(), 1);
    big = "$" + name + "$" + name;
  }
  for (const char *text : {"$TV_LOOP1", "$TV_SELF", "a${TV_A", big.c_str()}) {
    std::string out;
    Eerr_ErrorReport *err = nullptr;
    EXPECT_FALSE(ExpandVariables(text, out, &err, "estr_PathExpand")) << text;
    ASSERT_NE(err, nullptr) << text;
    EXPECT_STREQ(err->reporter, "estr_PathExpand");
    eerr_DeleteErrorReportEx(&err);
  }
}

// A chain of variables each naming the next eight times reaches its last variable 8^depth times
// along different paths; each variable is expanded once, so the chain costs its result only.
TEST(LowerExpandVariables, RepeatedReferencesAreExpandedOnce) {
  constexpr int kDepth = 16;
  for (const bool empty : {true, false}) {
    std::string previous = "TV_FAN" + std::to_string(kDepth);
    setenv(previous.c_str(), empty ? "" : "x", 1);
    for (int level = kDepth - 1; level >= 0; --level) {
      std::string value;
      for (int i = 0; i < 8; ++i) value += i % 2 ? "$" + previous : "${" + previous + "}";
      previous = "TV_FAN" + std::to_string(level);
      setenv(previous.c_str(), value.c_str(), 1);
    }
    const auto start = std::chrono::steady_clock::now();
    std::string out;
    Eerr_ErrorReport *err = nullptr;
    const bool done = ExpandVariables("$TV_FAN0", out, &err, "test");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << empty;
    if (empty) { // nothing is appended, so only the reuse bounds the work
      EXPECT_TRUE(done);
      EXPECT_EQ(out, "");
      EXPECT_EQ(err, nullptr);
    } else { // 8^16 characters: refused as too long
      EXPECT_FALSE(done);
      ASSERT_NE(err, nullptr);
      EXPECT_EQ(err->code, 3);
    }
    eerr_DeleteErrorReportEx(&err);
  }
  // Reused text is the same text: a diamond of references.
  setenv("TV_D0", "$TV_D1-${TV_D1}", 1);
  setenv("TV_D1", "$TV_D2.$TV_D2", 1);
  setenv("TV_D2", "c$TV_A", 1);
  setenv("TV_A", "alpha", 1);
  std::string out;
  Eerr_ErrorReport *err = nullptr;
  EXPECT_TRUE(ExpandVariables("<$TV_D0|$TV_D2>", out, &err, "test"));
  EXPECT_EQ(out, "<calpha.calpha-calpha.calpha|calpha>");
  EXPECT_EQ(err, nullptr);
}

TEST(LowerSplitList, SeparatorsDrivesAndEmptyEntries) {
  setenv("TV_HOME", "/opt/t", 1);
  struct Case {
    const char *text;
    bool paths;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"/a;/b:/c", true, {"/a", "/b", "/c"}},
      {"C:\\x;D:/y:e", true, {"C:\\x", "D:/y", "e"}},
      {"c:;d", true, {"c:", "d"}},
      {";;/a::", true, {"/a"}},
      {".:$TV_HOME/etc/fonts", true, {".", "/opt/t/etc/fonts"}},
      {"$TV_HOME/defaults;${TV_HOME}/etc", true, {"/opt/t/defaults", "/opt/t/etc"}},
      {"job:", false, {"job", ""}},
      {"a::b", false, {"a", "", "b"}},
      {"a:", false, {"a", ""}}, // not a drive letter outside path lists
      {"", false, {}},
  };
  for (const Case &c : cases) {
    std::vector<std::string> out;
    Eerr_ErrorReport *err = nullptr;
    EXPECT_TRUE(taviron::lower::ExpandList(c.text, c.paths, out, &err, "test")) << c.text;
    EXPECT_EQ(out, c.items) << c.text;
    EXPECT_EQ(err, nullptr);
  }
}
