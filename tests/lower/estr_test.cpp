#include "estr.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "emsc.h"
#include "taviron_testing.h"

namespace {

// Takes over a heap string and frees it.
std::string Take(char *text) {
  std::string copy = text ? text : "<null>";
  emsc_HeapFree(text);
  return copy;
}

std::u16string Take16(char16_t *text) {
  std::u16string copy = text ? text : u"<null>";
  emsc_HeapFree(text);
  return copy;
}

using taviron::testing::SweepAllocationFailures;

} // namespace

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
  const char *strings[] = {"a", "b", "c"};
  Estr_StringList *list = nullptr;
  SweepAllocationFailures(
      [&](Eerr_ErrorReport **err) {
        list = estr_StringToStringList(3, strings, err);
        if (list) list = estr_StringListAppend(list, "d", err);
        if (*err) {
          estr_StringListDelete(list, nullptr);
          list = nullptr;
        }
        return list != nullptr;
      },
      [&] { estr_StringListDelete(list, nullptr); });
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

TEST(EstrText, ComparisonSearchAndCase) {
  struct {
    const char *text, *prefix;
    int32_t n;
    int equal;
  } prefixes[] = {{"PostScript", "postXX", 4, 1}, {"Post", "postscript", 6, 0}, {"abc", "ABC", 10, 1},
                  {"abc", "abd", 3, 0},           {"x", "y", 0, 1},             {nullptr, "a", 1, 0}};
  for (const auto &c : prefixes)
    EXPECT_EQ(estr_Eqnic(c.text, c.prefix, c.n) != 0, c.equal != 0) << c.text << " / " << c.prefix;

  struct {
    const char *a, *b;
    int order;
  } orders[] = {{"Arial", "Courier", -1}, {"b", "a", 1}, {"same", "same", 0}, {"a", "ab", -1},
                {"\xe9", "z", 1},         {nullptr, "a", -1}, {"a", nullptr, 1}, {nullptr, nullptr, 0}};
  for (const auto &c : orders) EXPECT_EQ(estr_CompareString(c.a, c.b), c.order);

  const char *text = "Landsat TM Bands";
  EXPECT_EQ(estr_SubString(text, "TM"), text + 8);
  EXPECT_EQ(estr_SubString(text, "tm"), nullptr);
  EXPECT_EQ(estr_SubStringic(text, "tm b"), text + 8);
  EXPECT_EQ(estr_SubStringic(text, "bandsX"), nullptr);
  EXPECT_EQ(estr_SubStringic(text, ""), text);
  EXPECT_EQ(estr_SubString(nullptr, "a"), nullptr);
  EXPECT_TRUE(estr_IsCharPresent("a(b", '('));
  EXPECT_FALSE(estr_IsCharPresent("ab", '('));
  EXPECT_FALSE(estr_IsCharPresent("ab", 0));

  char units[] = "Points \xc9";
  EXPECT_STREQ(estr_LowerCase(units), "points \xc9");
  EXPECT_STREQ(estr_UpperCase(units), "POINTS \xc9");
  EXPECT_EQ(estr_LowerCase(nullptr), nullptr);
}

TEST(EstrText, WildcardsAndQuotes) {
  struct {
    const char *pattern, *name;
    int insensitive, sensitive;
  } cases[] = {
      {"*.img", "lanier.IMG", 1, 0}, {"*.img", "lanier.img", 1, 1}, {"l?nier.*", "lanier.img", 1, 1},
      {"?", "", 0, 0},               {"*", "", 1, 1},               {"", "", 1, 1},
      {"a*b*c", "aXXbYYc", 1, 1},    {"a*b*c", "aXXbYY", 0, 0},     {"*ab", "aab", 1, 1},
      {"dir/*", "dir/x/y", 1, 1},    {"x", "xy", 0, 0},             {"**?", "q", 1, 1},
      {nullptr, "a", 0, 0},          {"a", nullptr, 0, 0},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(estr_WildCompare(c.pattern, c.name) != 0, c.insensitive != 0) << c.pattern << " " << c.name;
    EXPECT_EQ(estr_WildCompareSensitive(c.pattern, c.name) != 0, c.sensitive != 0) << c.pattern << " " << c.name;
  }
  // A pattern that makes naive backtracking explode must still answer at once.
  std::string pattern, name(4000, 'a');
  for (int i = 0; i < 30; ++i) pattern += "a*";
  pattern += "b";
  EXPECT_FALSE(estr_WildCompare(pattern.c_str(), name.c_str()));
  name += "b";
  EXPECT_TRUE(estr_WildCompare(pattern.c_str(), name.c_str()));

  EXPECT_TRUE(estr_IsWild("*.dll"));
  EXPECT_TRUE(estr_IsWild("a?c"));
  EXPECT_FALSE(estr_IsWild("plain.img"));
  EXPECT_FALSE(estr_IsWild(nullptr));

  struct {
    const char *text, *unquoted;
  } quotes[] = {{"\"Raster Files\"", "Raster Files"}, {"plain", "plain"}, {"\"open", "open"},
                {"\"a\" rest", "a"},                  {"\"\"", ""}};
  for (const auto &q : quotes) EXPECT_EQ(Take(estr_GetQuotedString(q.text)), q.unquoted);
  EXPECT_EQ(estr_GetQuotedString(nullptr), nullptr);
}

namespace {
std::string VsprintfOf(const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  char *text = estr_Vsprintf(format, ap);
  va_end(ap);
  return Take(text);
}
} // namespace

TEST(EstrFormat, SprintfIntoHeapAndBuffer) {
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(Take(estr_Sprintf(nullptr, "%s%s", &err, "name", ".img")), "name.img");
  EXPECT_EQ(err, nullptr);

  char buffer[ESTR_SPRINTF_BUFFER_SIZE];
  EXPECT_EQ(estr_Sprintf(buffer, "AntElement_%ld", &err, 42L), buffer);
  EXPECT_STREQ(buffer, "AntElement_42");
  EXPECT_EQ(estr_Sprintf(buffer, "%5.2f|%-3d|%x|%%|%c", &err, 3.14159, 7, 255, 'z'), buffer);
  EXPECT_STREQ(buffer, " 3.14|7  |ff|%|z");

  // The relate-name marker takes no argument; the argument may be the buffer itself.
  std::strcpy(buffer, "AREA");
  EXPECT_EQ(estr_Sprintf(buffer, "%R//%s", &err, buffer), buffer);
  EXPECT_STREQ(buffer, "//AREA");
  EXPECT_EQ(err, nullptr);

  EXPECT_EQ(VsprintfOf("%s-%d", "a", 5), "a-5");
  EXPECT_EQ(VsprintfOf("%n", nullptr), "<null>");
}

TEST(EstrFormat, SprintfRefusesUnsafeFormatsAndLongTexts) {
  char buffer[ESTR_SPRINTF_BUFFER_SIZE] = "old";
  for (const char *format : {"%n", "100%", "%ls", "%lc", "%1$s", "%y", "%hs", "%Lf%Ld", "%S"}) {
    Eerr_ErrorReport *err = nullptr;
    std::strcpy(buffer, "old");
    EXPECT_EQ(estr_Sprintf(buffer, format, &err, 1), nullptr) << format;
    EXPECT_STREQ(buffer, "");
    ASSERT_NE(err, nullptr) << format;
    EXPECT_STREQ(err->reporter, "estr_Sprintf");
    EXPECT_EQ(err->code, 2);
    eerr_DeleteErrorReportEx(&err);
  }
  Eerr_ErrorReport *err = nullptr;
  const std::string longText(ESTR_SPRINTF_BUFFER_SIZE, 'x');
  EXPECT_EQ(estr_Sprintf(buffer, "%s", &err, longText.c_str()), nullptr);
  EXPECT_STREQ(buffer, "");
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 3);
  eerr_DeleteErrorReportEx(&err);
  // Without a buffer there is no limit.
  EXPECT_EQ(Take(estr_Sprintf(nullptr, "%s", &err, longText.c_str())), longText);
  EXPECT_EQ(estr_Sprintf(nullptr, nullptr, nullptr), nullptr); // null slot accepted

  // A field that cannot fit is refused before formatting: nothing a gigabyte long is built.
  using Call = std::function<char *(char *target, Eerr_ErrorReport **e)>;
  const struct {
    bool heap;
    const char *what;
    Call call;
  } fields[] = {
      {false, "%999999999s", [](char *b, Eerr_ErrorReport **e) { return estr_Sprintf(b, "%999999999s", e, "s"); }},
      {true, "%999999999s", [](char *b, Eerr_ErrorReport **e) { return estr_Sprintf(b, "%999999999s", e, "s"); }},
      {false, "%.2147483000f", [](char *b, Eerr_ErrorReport **e) { return estr_Sprintf(b, "%.2147483000f", e, 1.0); }},
      {true, "%.2147483000f", [](char *b, Eerr_ErrorReport **e) { return estr_Sprintf(b, "%.2147483000f", e, 1.0); }},
      {false, "%256d", [](char *b, Eerr_ErrorReport **e) { return estr_Sprintf(b, "%256d", e, 1); }},
      {false, "%.256x", [](char *b, Eerr_ErrorReport **e) { return estr_Sprintf(b, "%.256x", e, 1u); }},
      {false, "%99999999999999999999d", [](char *b, Eerr_ErrorReport **e) { return estr_Sprintf(b, "%99999999999999999999d", e, 1); }},
      {false, "%*s", [](char *b, Eerr_ErrorReport **e) { return estr_Sprintf(b, "%*s", e, 100000, "s"); }},
      {false, "%-*s", [](char *b, Eerr_ErrorReport **e) { return estr_Sprintf(b, "%-*s", e, -100000, "s"); }},
      {true, "%*d", [](char *b, Eerr_ErrorReport **e) { return estr_Sprintf(b, "%*d", e, 2000000, 1); }},
      {false, "%.*e", [](char *b, Eerr_ErrorReport **e) { return estr_Sprintf(b, "%.*e", e, 1000000000, 1.0); }},
      {false, "%Lf%*s", [](char *b, Eerr_ErrorReport **e) { return estr_Sprintf(b, "%Lf%*s", e, 1.5L, 300, "s"); }},
  };
  const auto start = std::chrono::steady_clock::now();
  for (const auto &f : fields) {
    Eerr_ErrorReport *e = nullptr;
    std::strcpy(buffer, "old");
    EXPECT_EQ(f.call(f.heap ? nullptr : buffer, &e), nullptr) << f.what;
    if (!f.heap) {
      EXPECT_STREQ(buffer, "") << f.what;
    }
    ASSERT_NE(e, nullptr) << f.what;
    EXPECT_EQ(e->code, 2) << f.what;
    eerr_DeleteErrorReportEx(&e);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(VsprintfOf("%.2147483000f", 1.0), "<null>");
  // What fits is formatted, arguments read past the starred fields as their types.
  EXPECT_EQ(estr_Sprintf(buffer, "%255d", &err, 7), buffer);
  EXPECT_EQ(std::strlen(buffer), 255u);
  EXPECT_EQ(estr_Sprintf(buffer, "%.1000000000s|%.300s", &err, "abc", "de"), buffer);
  EXPECT_STREQ(buffer, "abc|de");
  EXPECT_EQ(estr_Sprintf(buffer, "%s|%*d|%.*f|%lld|%Lf|%-*s|%zu", &err, "a", 4, 7, 2, 3.14159, 123LL,
                         1.5L, 3, "z", static_cast<size_t>(9)),
            buffer);
  EXPECT_STREQ(buffer, "a|   7|3.14|123|1.500000|z  |9");
  EXPECT_EQ(Take(estr_Sprintf(nullptr, "%*d", &err, 100000, 5)).size(), 100000u);
  EXPECT_EQ(err, nullptr);

  SweepAllocationFailures([](Eerr_ErrorReport **e) {
    char *text = estr_Sprintf(nullptr, "%s_%d", e, "layer", 3);
    if (!text) return false;
    EXPECT_EQ(Take(text), "layer_3");
    return true;
  });
}

TEST(EstrFormat, StringCatAndCopyReuseOrReplaceTheTarget) {
  char *s = estr_StringCat(nullptr, "ab", nullptr);
  EXPECT_STREQ(s, "ab");
  s = estr_StringCat(s, "first", "-second");
  EXPECT_STREQ(s, "first-second");
  s = estr_StringCat(s, s, "+"); // a points into the target
  EXPECT_STREQ(s, "first-second+");
  s = estr_StringCat(s, "<", s + 6); // b points into the target
  EXPECT_STREQ(s, "<second+");

  // A failed cat leaves the target as it was.
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(estr_StringCat(s, "x", "y"), nullptr);
  }
  EXPECT_STREQ(s, "<second+");

  Eerr_ErrorReport *err = nullptr;
  s = estr_StringCopy(s, "image_7.img", &err);
  EXPECT_STREQ(s, "image_7.img");
  s = estr_StringCopy(s, s + 6, &err);
  EXPECT_STREQ(s, "7.img");
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(estr_StringCopy(s, "a much longer text than before", &err), nullptr);
  }
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "estr_StringCopy");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_STREQ(s, "7.img");
  EXPECT_EQ(estr_StringCopy(s, nullptr, &err), nullptr); // frees the destination
  EXPECT_EQ(err, nullptr);
}

TEST(EstrFormat, ErrnoString) {
  errno = ENOENT;
  EXPECT_STREQ(estr_ErrnoString(), std::strerror(ENOENT));
  errno = EACCES;
  EXPECT_STREQ(estr_ErrnoString(), std::strerror(EACCES));
}

namespace {
std::string PrintBy(const char *formatText, double value) {
  Eerr_ErrorReport *err = nullptr;
  Estr_XLFormat *format = estr_XLFormatCreate(formatText, nullptr, &err);
  if (!format) {
    eerr_DeleteErrorReportEx(&err);
    return "<invalid>";
  }
  char buffer[256];
  const int32_t ok = estr_XLFormatPrintNumber(value, format, buffer, sizeof buffer, 0, &err);
  estr_XLFormatFree(format);
  if (!ok) {
    eerr_DeleteErrorReportEx(&err);
    return "<failed>";
  }
  return buffer;
}
} // namespace

TEST(EstrXLFormat, PrintsNumbersByColumnFormats) {
  struct {
    const char *format;
    double value;
    const char *expected;
  } cases[] = {
      // The forms the column information makes.
      {"0.000", 3.14159, "3.142"},
      {"0.", 12.6, "13."},
      {"0", -2.5, "-3"},
      {"0", 0.4, "0"},
      {"0", 0.5, "1"},
      {"0.00", 1.005, "1.01"}, // taken to 15 digits first, then half away from zero
      {"#,##0", 1e20, "100,000,000,000,000,000,000"},
      {"0.000000000000000000", 123.456, "123.456000000000000000"},
      {"0", -0.4, "0"},
      {"m/d/yy", 36526.0, "1/1/00"},
      // Placeholders, grouping, scaling, percent.
      {"#,##0.00", 1234567.891, "1,234,567.89"},
      {"#,##0", 999.0, "999"},
      {"0,000", 5.0, "0,005"},
      {"#.##", 0.5, ".5"},
      {"0.0#", 2.0, "2.0"},
      {"0.0?", 2.0, "2.0 "},
      {"???0", 42.0, "  42"},
      {".00", 12.5, "12.50"},
      {"0.0,,\"M\"", 2500000.0, "2.5M"},
      {"0%", 0.256, "26%"},
      {"000-00-0000", 123456789.0, "123-45-6789"},
      // Exponents.
      {"0.00E+00", 12345.0, "1.23E+04"},
      {"0.00e-0", 0.00012345, "1.23e-4"},
      {"0.00E-00", 12345.0, "1.23E04"},
      {"00.0E+0", 12345.0, "12.3E+3"},
      {"0.0E+0", 0.0, "0.0E+0"},
      {"0.0E+0", 9.96, "1.0E+1"},
      // Sections and literals.
      {"0.0;(0.0)", -1.25, "(1.3)"},
      {"0;-0;\"zero\"", 0.0, "zero"},
      {"0;-0;\"zero\"", 5.0, "5"},
      {"\"$\"#,##0", -1500.0, "-$1,500"},
      {"[Red]0.0_)", 2.0, "2.0 "},
      {"[$USD-409] 0", 3.0, "USD 3"},
      {"\\#0", 7.0, "#7"},
      {"*-0", 7.0, "7"},
      {"General", 0.1, "0.1"},
      {"", -42.5, "-42.5"},
      {"@", 12.0, "12"},
      {"\"N/A\"", 12.0, "N/A"},
      {"0;0;0;@", 1.0, "1"},
      {"0", 1e300 * 1e10, "Infinity"},
      {"0", std::nan(""), "NaN"},
      // Dates and times (day 0 is 30 December 1899).
      {"yyyy-mm-dd hh:mm:ss", 45000.75, "2023-03-15 18:00:00"},
      {"dddd d mmmm yyyy", 45000.0, "Wednesday 15 March 2023"},
      {"ddd, mmm d", 45000.0, "Wed, Mar 15"},
      {"mmmmm", 45000.0, "M"},
      {"h:mm AM/PM", 45000.5 + 1.0 / 24, "1:00 PM"},
      {"h:mm a/p", 45000.0, "12:00 a"},
      {"mm:ss", 0.5 + 90.0 / 86400, "01:30"},
      {"yy.mm", 1.0, "99.12"},
      {"yyyy", -1.0, "1899"},
      {"yyyy-mm-dd", -693593.0, "0001-01-01"},
      {"yyyy-mm-dd", -693959.0, "0000-01-01"},
      {"yyyy", -693960.0, "<failed>"},
      {"yyyy-mm-dd", 2958465.5, "9999-12-31"},
      {"yyyy", 2958466.0, "<failed>"},
      {"yyyy", 3e6, "<failed>"},
      {"yyyy", 1e300, "<failed>"},
  };
  for (const auto &c : cases) EXPECT_EQ(PrintBy(c.format, c.value), c.expected) << "format " << c.format;
}

TEST(EstrXLFormat, RefusesMalformedFormatsAndShortBuffers) {
  for (const char *text : {"\"open", "0\\", "_", "0*", "[Red", "[>100]0", "[h]:mm", "0;0;0;0;0",
                           "0.0E+", "E+0", "0 yy", "0@", "General 0", "abc", "hh:mm:ss.00", "0E+0E+0"}) {
    Eerr_ErrorReport *err = nullptr;
    int32_t kind = 99;
    EXPECT_EQ(estr_XLFormatCreate(text, &kind, &err), nullptr) << text;
    ASSERT_NE(err, nullptr) << text;
    EXPECT_STREQ(err->reporter, "estr_XLFormatCreate");
    EXPECT_EQ(err->code, 3);
    eerr_DeleteErrorReportEx(&err);
  }

  Eerr_ErrorReport *err = nullptr;
  int32_t kind = -1;
  Estr_XLFormat *format = estr_XLFormatCreate("m/d/yy", &kind, &err);
  ASSERT_NE(format, nullptr);
  EXPECT_EQ(kind, ESTR_XLFORMAT_DATE);
  char small[6] = "xxxxx";
  EXPECT_EQ(estr_XLFormatPrintNumber(45000.0, format, small, sizeof small, 0, &err), EMSC_FALSE);
  EXPECT_STREQ(small, "");
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 6);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(estr_XLFormatPrintNumber(1.0, format, small, sizeof small, 1, &err), EMSC_FALSE);
  EXPECT_EQ(err->code, 3);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(estr_XLFormatPrintNumber(1.0, nullptr, small, sizeof small, 0, &err), EMSC_FALSE);
  EXPECT_EQ(err->code, 2);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(estr_XLFormatPrintNumber(1.0, format, nullptr, 0, 0, nullptr), EMSC_FALSE);
  estr_XLFormatFree(format);
  estr_XLFormatFree(nullptr);

  for (const char *text : {"0", "General", "@"}) {
    EXPECT_NE(format = estr_XLFormatCreate(text, &kind, nullptr), nullptr);
    estr_XLFormatFree(format);
  }
  EXPECT_EQ(kind, ESTR_XLFORMAT_TEXT);

  SweepAllocationFailures([](Eerr_ErrorReport **e) {
    Estr_XLFormat *f = estr_XLFormatCreate("#,##0.00;[Red](#,##0.00)", nullptr, e);
    estr_XLFormatFree(f);
    return f != nullptr;
  });
}

TEST(EstrPath, PiecesFitTheBuffer) {
  using Piece = char *(*)(const char *, char *, int32_t);
  struct {
    Piece piece;
    const char *name, *expected;
  } cases[] = {
      {estr_GetPathPart, "/data/lanier.img", "/data"},
      {estr_GetPathPart, "/lanier.img", "/"},
      {estr_GetPathPart, "lanier.img", ""},
      {estr_GetPathPart, "a//b", "a"},
      {estr_GetPathPart, "/d/sub/", "/d/sub"},
      {estr_GetNamePart, "/data/lanier.img", "lanier.img"},
      {estr_GetNamePart, "lanier.img", "lanier.img"},
      {estr_GetNamePart, "/data/", ""},
      {estr_GetExtPart, "/data/lanier.IMG", "IMG"},
      {estr_GetExtPart, "/data.d/lanier", ""},
      {estr_GetExtPart, "a.tar.gz", "gz"},
      {estr_GetExtPart, "name.", ""},
      {estr_GetNonNodePart, "/d/x.img(:Layer_1)", "/d/x.img"},
      {estr_GetNonNodePart, "/d/x (copy).img(:Layer_1:sub)", "/d/x (copy).img"},
      {estr_GetNonNodePart, "/d/x.img:Layer_1", "/d/x.img"},
      {estr_GetNonNodePart, "/d:e/x.img", "/d:e/x.img"},
      {estr_GetNonNodePart, "c:/d/x.img", "c:/d/x.img"},
      {estr_GetNonNodePart, "photo(1).img", "photo(1).img"},
      {estr_GetNonNodePart, nullptr, ""},
  };
  for (const auto &c : cases) {
    char buffer[256] = "junk";
    EXPECT_EQ(c.piece(c.name, buffer, sizeof buffer), buffer);
    EXPECT_STREQ(buffer, c.expected) << (c.name ? c.name : "null");
  }
  // Cut to fit and always terminated; nothing written past the size.
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(estr_GetNamePart("/d/abcdefgh.img", buffer, 4), buffer);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(buffer[4], '#');
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(estr_GetPathPart("/a/b", buffer, 1), buffer);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(estr_GetExtPart("a.b", buffer, 0), nullptr);
  EXPECT_EQ(estr_GetExtPart("a.b", nullptr, 8), nullptr);
  EXPECT_EQ(buffer[1], '#');
}

TEST(EstrPath, IsFileAndSeparators) {
  const taviron::testing::TempDir scratch("estr_test");
  const std::string dir = scratch.str();
  const std::string file = dir + "/f.txt";
  std::FILE *f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(estr_IsFile(file.c_str()));
  EXPECT_FALSE(estr_IsFile(dir.c_str()));
  EXPECT_FALSE(estr_IsFile((dir + "/missing").c_str()));
  EXPECT_FALSE(estr_IsFile(nullptr));

  char path[] = "c:\\data\\x.img";
  EXPECT_STREQ(estr_ConvertPathNT(path), "c:/data/x.img");
}

TEST(EstrEnvironment, PutGetCheckAndExpand) {
  // The environment keeps its own copy: the caller's buffer may go.
  char *value = estr_Duplicate("/opt/taviron");
  EXPECT_EQ(estr_PutEnv("ESTR_TEST_HOME", value), 0);
  emsc_HeapFree(value);
  EXPECT_EQ(Take(estr_GetEnv("ESTR_TEST_HOME")), "/opt/taviron");
  EXPECT_TRUE(estr_CheckEnv("ESTR_TEST_HOME"));
  EXPECT_EQ(estr_PutEnv("ESTR_TEST_HOME", ""), 0); // unset by the print daemon: defined but empty
  EXPECT_TRUE(estr_CheckEnv("ESTR_TEST_HOME"));
  EXPECT_EQ(Take(estr_GetEnv("ESTR_TEST_HOME")), "");
  unsetenv("ESTR_TEST_UNSET");
  EXPECT_FALSE(estr_CheckEnv("ESTR_TEST_UNSET"));
  EXPECT_EQ(estr_GetEnv("ESTR_TEST_UNSET"), nullptr);
  for (const char *bad : {"", "A=B"}) EXPECT_EQ(estr_PutEnv(bad, "x"), -1);
  EXPECT_EQ(estr_PutEnv(nullptr, "x"), -1);

  setenv("ESTR_TEST_HOME", "/opt/taviron", 1);
  setenv("ESTR_TEST_LOOP", "$ESTR_TEST_LOOP", 1);
  EXPECT_EQ(Take(estr_PathExpand("$ESTR_TEST_HOME/etc", nullptr, 0)), "/opt/taviron/etc");
  char buffer[256];
  EXPECT_EQ(estr_PathExpand("${ESTR_TEST_HOME}/bin", buffer, 255), buffer);
  EXPECT_STREQ(buffer, "/opt/taviron/bin");
  char small[8] = "junk";
  EXPECT_EQ(estr_PathExpand("$ESTR_TEST_HOME", small, sizeof small), nullptr);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(estr_PathExpand("$ESTR_TEST_LOOP", buffer, 255), nullptr);
  EXPECT_EQ(estr_PathExpand(nullptr, nullptr, 0), nullptr);

  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(Take(estr_StringExpand("file://$ESTR_TEST_HOME/help", &err)), "file:///opt/taviron/help");
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(estr_StringExpand("x${ESTR_TEST_LOOP}", &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "estr_StringExpand");
  eerr_DeleteErrorReportEx(&err);
}

TEST(EstrEnvironment, ArgsGetReadsThisProcessCommandLine) {
  Eerr_ErrorReport *err = nullptr;
  int32_t count = -1;
  char **args = estr_ArgsGet(&count, &err);
  ASSERT_NE(args, nullptr);
  EXPECT_EQ(err, nullptr);
  ASSERT_GE(count, 1);
  EXPECT_STREQ(args[0], program_invocation_name);
  EXPECT_EQ(args[count], nullptr);
  for (int32_t i = 0; i < count; ++i) emsc_HeapFree(args[i]);
  emsc_HeapFree(args);

  SweepAllocationFailures([](Eerr_ErrorReport **e) {
    int32_t n = -1;
    char **v = estr_ArgsGet(&n, e);
    if (!v) {
      EXPECT_EQ(n, 0);
      return false;
    }
    for (int32_t i = 0; i < n; ++i) emsc_HeapFree(v[i]);
    emsc_HeapFree(v);
    return true;
  });
}

TEST(EstrUnicode, ConversionsCopiesAndLengths) {
  EXPECT_EQ(Take16(estr_Ascii2Unicode("Caf\xe9")), u"Caf\u00e9");
  EXPECT_EQ(Take(estr_Unicode2Ascii(u"Caf\u00e9 \u05d0\u4e2d")), "Caf\xe9 ??");
  EXPECT_EQ(estr_Ascii2Unicode(nullptr), nullptr);
  EXPECT_EQ(estr_Unicode2Ascii(nullptr), nullptr);
  EXPECT_EQ(estr_UnicodeStrLen(u"abc"), 3);
  EXPECT_EQ(estr_UnicodeStrLen(nullptr), 0);
  EXPECT_EQ(Take16(estr_UnicodeStrDup(u"x\u00e9")), u"x\u00e9");
  EXPECT_EQ(estr_UnicodeStrDup(nullptr), nullptr);
  EXPECT_EQ(Take16(estr_UnicodeStrCat(u"ab", u"cd")), u"abcd");
  EXPECT_EQ(Take16(estr_UnicodeStrCat(nullptr, u"cd")), u"cd");
  EXPECT_EQ(Take16(estr_UnicodeStrCat(nullptr, nullptr)), u"");
}

TEST(EstrUnicode, VisualOrderReversesRightToLeftRuns) {
  struct {
    const char16_t *logical, *visual;
  } cases[] = {
      {u"plain text (1)", u"plain text (1)"},
      {u"\u05e9\u05dc\u05d5\u05dd", u"\u05dd\u05d5\u05dc\u05e9"},
      // Numbers keep their digit order; the space between takes the run's direction.
      {u"\u05e9\u05dc\u05d5\u05dd 123", u"123 \u05dd\u05d5\u05dc\u05e9"},
      {u"\u05d0 1,234.5 \u05d1", u"\u05d1 1,234.5 \u05d0"},
      {u"\u05d0 50% \u05d1", u"\u05d1 50% \u05d0"},
      {u"\u0639\u062f\u062f \u0661\u0662\u0663", u"\u0661\u0662\u0663 \u062f\u062f\u0639"},
      // Left-to-right text around a run stays in place; trailing neutrals stay outside the run.
      {u"abc \u05d0\u05d1\u05d2 def", u"abc \u05d2\u05d1\u05d0 def"},
      {u"12 \u05d0\u05d1!", u"12 \u05d1\u05d0!"},
      // Brackets inside a run are mirrored.
      {u"\u05d0\u05d1 (\u05d2\u05d3) \u05d4\u05d5", u"\u05d5\u05d4 (\u05d3\u05d2) \u05d1\u05d0"},
      // Lines are reordered one by one.
      {u"\u05d0\u05d1\n\u05d2\u05d3\r\nx", u"\u05d1\u05d0\n\u05d3\u05d2\r\nx"},
      // A combining mark stays after its base; a surrogate pair stays whole.
      {u"\u05e9\u05b8\u05dc", u"\u05dc\u05e9\u05b8"},
      {u"\U00010900\u05d0", u"\u05d0\U00010900"},
      {u"", u""},
  };
  for (const auto &c : cases) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(Take16(estr_TranslateTextToVisualUC(c.logical, &err)), c.visual);
    EXPECT_EQ(err, nullptr);
  }
  EXPECT_EQ(estr_TranslateTextToVisualUC(nullptr, nullptr), nullptr);
  EXPECT_EQ(Take(estr_TranslateTextToVisual("Caf\xe9 (1)", nullptr)), "Caf\xe9 (1)");

  Eerr_ErrorReport *err = nullptr;
  {
    taviron::testing::FailAllocation fail(1);
    EXPECT_EQ(estr_TranslateTextToVisualUC(u"\u05d0", &err), nullptr);
  }
  ASSERT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
}
