// The font data base, its ".fdb" files, its lookups and the font family lists.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "eevg.h"
#include "emsc.h"
#include "graphics_testing.h"
#include "taviron_testing.h"

namespace {

namespace fs = std::filesystem;
using taviron::testing::Chain;
using taviron::testing::Reported;
using taviron::testing::ErrorSlot;

// A scratch folder removed with the test.
class Scratch {
public:
  Scratch() {
    path_ = fs::temp_directory_path() / ("eevg_fdb_" + std::to_string(getpid()) + "_" + std::to_string(++serial_));
    fs::create_directories(path_);
  }
  ~Scratch() { fs::remove_all(path_); }
  std::string Write(const std::string &name, const std::string &text) const {
    const fs::path file = path_ / name;
    std::ofstream(file, std::ios::binary) << text;
    return file.string();
  }
  std::string Path() const { return path_.string(); }

private:
  static inline int serial_ = 0;
  fs::path path_;
};

TEST(FontDataBase, ReadsTheFixtureInFileOrder) {
  ErrorSlot err;
  Eevg_FontDataBaseRecord *head = eevg_FontDataBaseCreate(&err);
  ASSERT_NE(head, nullptr) << Chain(err.get());
  EXPECT_EQ(eevg_FontDataBaseCreate(&err), head);
  EXPECT_EQ(eevg_FontDataBaseFontCountGet(&err), 8);
  EXPECT_STREQ(eevg_FontDataBaseFontNameGet(head), "Times Bold Italic");
  EXPECT_STREQ(eevg_FontDataBaseFontFileNameGet(head), "timesbi");
  EXPECT_STREQ(eevg_FontDataBasePSFileNameGet(head), "Times-BoldItalic");
  EXPECT_STREQ(eevg_FontDataBaseZavFontGet(head), "times_bi");
  EXPECT_EQ(eevg_FontDataBaseInsertDirGet(head), 0);
  EXPECT_STREQ(eevg_FontDataBaseChooserStringGet(head), "Times Bold Italic");
  EXPECT_STREQ(eevg_FontDataBaseFontServerNameGet(head), "Outline");
  Eevg_FontDataBaseRecord *last = head;
  int count = 1;
  while (eevg_FontDataBaseNextGet(last)) last = eevg_FontDataBaseNextGet(last), ++count;
  EXPECT_EQ(count, 8);
  EXPECT_STREQ(eevg_FontDataBaseFontNameGet(last), "Hebrew Sans");
  EXPECT_EQ(eevg_FontDataBaseInsertDirGet(last), 1);
  EXPECT_EQ(eevg_FontDataBaseFontNameGet(nullptr), nullptr);
  EXPECT_EQ(eevg_FontDataBaseInsertDirGet(nullptr), 0);
  EXPECT_EQ(eevg_FontDataBaseNextGet(nullptr), nullptr);
}

TEST(FontDataBase, LookupsBySortedNames) {
  ErrorSlot err;
  Eevg_FontDataBaseRecord **byName = eevg_FontDataBaseSortedByFontNameGet(&err);
  ASSERT_NE(byName, nullptr) << Chain(err.get());
  for (int i = 1; i < 8; ++i) EXPECT_LT(std::string(byName[i - 1]->fontName), byName[i]->fontName);
  Eevg_FontDataBaseRecord **byFile = eevg_FontDataBaseSortedByFontFileNameGet(&err);
  ASSERT_NE(byFile, nullptr);
  for (int i = 1; i < 8; ++i) EXPECT_LT(std::string(byFile[i - 1]->fontFileName), byFile[i]->fontFileName);

  // Every record is found by each of its names, from the first to the last of the arrays.
  for (Eevg_FontDataBaseRecord *r = eevg_FontDataBaseCreate(nullptr); r; r = r->next) {
    EXPECT_EQ(eevg_FontDataBaseLookupByFontName(nullptr, r->fontName, &err), r) << r->fontName;
    EXPECT_EQ(eevg_FontDataBaseLookupByFontFileName(nullptr, r->fontFileName, &err), r);
  }
  EXPECT_STREQ(eevg_FontDataBaseLookupFontName(nullptr, "arialsb", &err), "Arial SemiBold");
  EXPECT_STREQ(eevg_FontDataBaseLookupFontFileName(nullptr, "Times Italic", &err), "timesi");

  struct Miss {
    const char *name;
  } misses[] = {{"Aardvark"}, {"Times Ital"}, {"Zzz"}, {""}};
  for (const Miss &m : misses) {
    EXPECT_EQ(eevg_FontDataBaseLookupByFontName(nullptr, m.name, &err), nullptr);
    EXPECT_TRUE(Reported(err.get(), "eevg_FontDataBaseLookupByFontName", 2,
                         (std::string("FontName ") + m.name + " not found on fdb").c_str()));
  }
  EXPECT_EQ(eevg_FontDataBaseLookupFontName(nullptr, "nosuch", &err), nullptr);
  ASSERT_TRUE(Reported(err.get(), "eevg_FontDataBaseLookupFontName", 1,
                       "Error returned from eevg_FontDataBaseLookupByFontFileName"));
  EXPECT_TRUE(Reported(err->next, "eevg_FontDataBaseLookupByFontFileName", 2, "FontFileName nosuch not found on fdb"));
  EXPECT_EQ(eevg_FontDataBaseLookupFontFileName(nullptr, nullptr, &err), nullptr);
  EXPECT_TRUE(Reported(err.get(), "eevg_FontDataBaseLookupFontFileName", 1,
                       "Error returned from eevg_FontDataBaseLookupByFontName"));
}

TEST(FontFamilies, FamiliesWeightsAndSlants) {
  ErrorSlot err;
  Eevg_FontFamily *list = eevg_FontFamilyListCreate(&err);
  ASSERT_NE(list, nullptr) << Chain(err.get());
  struct Case {
    const char *file, *family, *weight, *slant;
  } cases[] = {
      {"timesbi", "Times", "Bold", "i"},
      {"timesib", "Times", "Normal", "i"},
      {"timesi", "Times", "Normal", "i"},
      {"times", "Times", "Normal", "r"},
      {"arialxb", "Arial", "Extra-Bold", "r"},
      {"arialsb", "Arial", "SemiBold", "r"},
      {"italicscript", "Italic Script", "Normal", "r"},
      {"hebrew", "Hebrew Sans", "Normal", "r"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    Eevg_FontWithSlant *slant = eevg_FontFindByFileName(list, c.file, &err);
    ASSERT_NE(slant, nullptr) << Chain(err.get());
    EXPECT_STREQ(eevg_FontFamilyNameGet(slant), c.family);
    EXPECT_STREQ(eevg_FontWeightGet(slant), c.weight);
    EXPECT_STREQ(eevg_FontSlantGet(slant), c.slant);
    EXPECT_STREQ(eevg_FontFileNameGet(slant), c.file);
    Eevg_FontFamily *family = eevg_FontFamilyFindByName(list, c.family, &err);
    EXPECT_EQ(eevg_FontFamilyGet(slant), family);
  }

  // Families in font-name order, each once; weights in the order first met.
  Estr_StringList *names = eevg_FontFamilyListFamilyNamesGet(list);
  ASSERT_NE(names, nullptr);
  ASSERT_EQ(names->count, 4);
  EXPECT_STREQ(names->strings[0], "Arial");
  EXPECT_STREQ(names->strings[1], "Hebrew Sans");
  EXPECT_STREQ(names->strings[2], "Italic Script");
  EXPECT_STREQ(names->strings[3], "Times");
  estr_StringListDelete(names, nullptr);
  Eevg_FontFamily *times = eevg_FontFamilyFindByName(list, "Times", &err);
  Estr_StringList *weights = eevg_FontFamilyWeightsGet(times);
  ASSERT_NE(weights, nullptr);
  ASSERT_EQ(weights->count, 2);
  EXPECT_STREQ(weights->strings[0], "Normal");
  EXPECT_STREQ(weights->strings[1], "Bold");
  estr_StringListDelete(weights, nullptr);

  Eevg_FontWithSlant *found = eevg_FontFindByWeightAndSlant(times, "Normal", "r", &err);
  ASSERT_NE(found, nullptr);
  EXPECT_STREQ(eevg_FontFileNameGet(found), "times");

  EXPECT_EQ(eevg_FontFindByWeightAndSlant(times, "Heavy", "r", &err), nullptr);
  ASSERT_TRUE(Reported(err.get(), "eevg_FontFindByWeightAndSlant", 1,
                       "Error returned by eevg_FontWeightFintByWeight for weight Heavy"));
  EXPECT_TRUE(Reported(err->next, "eevg_FontWeightFindByWeight", 1, "Font weight Heavy not found in list"));
  EXPECT_EQ(eevg_FontFindByWeightAndSlant(times, "Bold", "r", &err), nullptr);
  ASSERT_TRUE(Reported(err.get(), "eevg_FontFindByWeightAndSlant", 2,
                       "Error returned by eevg_FontFindBySlant for slant r"));
  EXPECT_TRUE(Reported(err->next, "eevg_FontFindBySlant", 1, "Font not found in list"));
  EXPECT_EQ(eevg_FontFamilyFindByName(list, "Courier", &err), nullptr);
  EXPECT_TRUE(Reported(err.get(), "eevg_FontFamilyFindByName", 1, "Font family Courier not found in list"));
  EXPECT_EQ(eevg_FontFindByFileName(list, "courier", &err), nullptr);
  EXPECT_TRUE(Reported(err.get(), "eevg_FontFindByFileName", 2, "Filename courier not found in list"));
  EXPECT_EQ(eevg_FontFindByFileName(list, nullptr, &err), nullptr);
  EXPECT_TRUE(Reported(err.get(), "eevg_FontFindByFileName", 1, "Invalid input fileName"));
  EXPECT_EQ(eevg_FontFamilyListFamilyNamesGet(nullptr), nullptr);
  EXPECT_EQ(eevg_FontFamilyNameGet(nullptr), nullptr);

  eevg_FontFamilyFree(&list);
  EXPECT_EQ(list, nullptr);
}

TEST(FontFamilies, ListCreateSurvivesAllocationFailures) {
  ErrorSlot err;
  ASSERT_NE(eevg_FontDataBaseSortedByFontNameGet(&err), nullptr); // built once, kept
  const auto counts = taviron::testing::SweepAllocationFailures([](Eerr_ErrorReport **e) {
    Eevg_FontFamily *list = eevg_FontFamilyListCreate(e);
    const bool made = list != nullptr;
    eevg_FontFamilyFree(&list);
    return made;
  });
  EXPECT_GE(counts.heap, 10);
}

TEST(FontDataBaseFile, BrokenFilesGiveAReportNamingTheFile) {
  Scratch scratch;
  struct Case {
    const char *what, *text, *expected;
  } cases[] = {
      {"syntax error", "version 3\n\"A\" a b c left_to_right \"A\"\n", "Syntax error"},
      {"missing direction", "version 3\n\"A\" a b c d \"A\" x\n", "Syntax error"},
      {"unterminated string", "version 3\n\"A\" a b c left_to_right \"A\" \"Outline\n", "string"},
      {"empty file", "", "Syntax error"},
      {"version only", "version 3\n", "Syntax error"},
      {"number for a name", "version 3\n12 a b c left_to_right d e\n", "Syntax error"},
      {"operator", "version 3\n\"A\" a b c left_to_right d + e\n", "Syntax error"},
      {"entry after an error", "version 3\n\"A\" a b c d e f\n\"B\" a b c left_to_right d e\n", "Syntax error"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = scratch.Write("broken.fdb", c.text);
    Eevg_FontDataBaseRecord *head = nullptr, *tail = nullptr;
    int32_t count = 0;
    const int64_t live = emsc_TestLiveBlocks();
    ErrorSlot err;
    EXPECT_EQ(eevg_FontDataBaseParse(nullptr, file.c_str(), &head, &tail, &count, &err), -1);
    EXPECT_EQ(head, nullptr);
    EXPECT_EQ(count, 0);
    ASSERT_TRUE(Reported(err.get(), "eevg_FontDataBaseParse", 2, "Error returned from elex_Parse"));
    const std::string chain = Chain(err.get());
    EXPECT_NE(chain.find(file), std::string::npos) << chain;
    EXPECT_NE(chain.find(c.expected), std::string::npos) << chain;
    err.Reset();
    EXPECT_EQ(emsc_TestLiveBlocks(), live);
  }
}

TEST(FontDataBaseFile, OldVersionFailsAndFilesAppendToTheList) {
  Scratch scratch;
  Eevg_FontDataBaseRecord *head = nullptr, *tail = nullptr;
  int32_t count = 0;
  ErrorSlot err;
  const std::string first = scratch.Write("a.fdb", "version 4\nOne one ONE one right_to_left one Server\n");
  const std::string second =
      scratch.Write("b.fdb", "VERSION 3 /* two entries */ Two two TWO two left_to_right two Server\n"
                             "\"Three \\\"3\\\"\" three THREE three LEFT_TO_RIGHT three Server");
  ASSERT_EQ(eevg_FontDataBaseParse(nullptr, first.c_str(), &head, &tail, &count, &err), 0) << Chain(err.get());
  ASSERT_EQ(eevg_FontDataBaseParse(nullptr, second.c_str(), &head, &tail, &count, &err), 0) << Chain(err.get());
  ASSERT_EQ(count, 3);
  EXPECT_STREQ(head->fontName, "One");
  EXPECT_EQ(head->insertDir, 1);
  EXPECT_STREQ(head->next->fontName, "Two");
  EXPECT_STREQ(tail->fontName, "Three \"3\"");
  EXPECT_EQ(tail->next, nullptr);

  const std::string old = scratch.Write("c.fdb", "version 2\nFour four FOUR four left_to_right four Server\n");
  EXPECT_EQ(eevg_FontDataBaseParse(nullptr, old.c_str(), &head, &tail, &count, &err), -1);
  ASSERT_TRUE(Reported(err.get(), "eevg_FontDataBaseParse", 2, "Error returned from elex_Parse"));
  EXPECT_TRUE(Reported(err->next, "eevg_FontDataBaseParse", 1, "Invalid version of Font Data Base file"));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(tail->next, nullptr);

  // Without a file name: "fontlist.fdb" on NORIX_FONT_PATH.
  scratch.Write("fontlist.fdb", "version 3\nFive five FIVE five left_to_right five Server\n");
  const std::string saved = getenv("NORIX_FONT_PATH");
  setenv("NORIX_FONT_PATH", ("/nonexistent:" + scratch.Path()).c_str(), 1);
  EXPECT_EQ(eevg_FontDataBaseParse(nullptr, nullptr, &head, &tail, &count, &err), 0) << Chain(err.get());
  setenv("NORIX_FONT_PATH", saved.c_str(), 1);
  EXPECT_EQ(count, 4);
  EXPECT_STREQ(tail->fontFileName, "five");

  // A text given directly.
  const char *text = "version 3 Six six SIX six left_to_right six Server";
  EXPECT_EQ(eevg_FontDataBaseParse(const_cast<char *>(text), nullptr, &head, &tail, &count, &err), 0);
  EXPECT_EQ(count, 5);
  eevg_FontDataBaseFree(&head);
  EXPECT_EQ(head, nullptr);
}

} // namespace
