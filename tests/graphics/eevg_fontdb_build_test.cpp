// Building the process-wide font data base: a failed build keeps nothing and the next call tries
// again. The data base and the control record are built once per process, by whichever call comes
// first (every test that makes a drawing builds them), so the scenario runs in a process of its
// own: the test program started again for this test alone.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "eevg.h"
#include "graphics_testing.h"

namespace {

using taviron::testing::Chain;
using taviron::graphics::testing::kFontDir;
using taviron::testing::Reported;
using taviron::testing::ErrorSlot;
using taviron::testing::TempDir;

// The scenario, from a process in which nothing has built the data base yet.
void FailedBuildsThenABuild() {
  TempDir scratch("eevg_build");
  std::filesystem::create_directories(scratch.path() / "empty");
  std::filesystem::create_directories(scratch.path() / "old");
  std::ofstream(scratch / "old/a.fdb") << "version 3\nA a A a left_to_right a S\n";
  std::ofstream(scratch / "old/b.fdb") << "version 2\nB b B b left_to_right b S\n";
  const std::string empty = scratch / "empty";
  ErrorSlot err;

  // The process ends with the scenario: the font path is not put back.
  setenv("NORIX_FONT_PATH", empty.c_str(), 1);
  EXPECT_EQ(eevg_FontDataBaseCreate(&err), nullptr);
  EXPECT_TRUE(Reported(err.get(), "eevg_FontDataBaseCreate", 1, "No font list files found in NORIX_FONT_PATH"));
  EXPECT_EQ(eevg_Init(&err), nullptr);
  ASSERT_TRUE(Reported(err.get(), "eevg_Init", 1, "Error returned from eevg_FontDataBaseFontCountGet"));
  EXPECT_TRUE(Reported(err->next, "eevg_FontDataBaseFontCountGet", 1, "Error returned from eevg_FontDataBaseCreate"));
  EXPECT_EQ(eevg_FontDataBaseLookupByFontName(nullptr, "A", &err), nullptr);
  ASSERT_TRUE(Reported(err.get(), "eevg_FontDataBaseLookupByFontName", 1,
                       "Error returned from eevg_FontDataBaseSortByFontName"));
  EXPECT_TRUE(Reported(err->next, "eevg_FontDataBaseSortByFontName", 1, "Error returned from eevg_FontDataBaseCreate"));
  EXPECT_EQ(eevg_FontFamilyListCreate(&err), nullptr);
  EXPECT_TRUE(Reported(err.get(), "eevg_FontFamilyListCreate", 1,
                       "Error returned from eevg_FontDataBaseSortedByFontNameGet"));

  // One old file among good ones fails the whole build.
  setenv("NORIX_FONT_PATH", (scratch / "old").c_str(), 1);
  EXPECT_EQ(eevg_FontDataBaseCreate(&err), nullptr);
  ASSERT_TRUE(Reported(err.get(), "eevg_FontDataBaseCreate", 2, "Error returned from eevg_FontDataBaseParse"));
  EXPECT_NE(Chain(err.get()).find("Invalid version of Font Data Base file"), std::string::npos);

  // Several directories are read in list order.
  setenv("NORIX_FONT_PATH", (empty + ":" + kFontDir).c_str(), 1);
  Eevg_FontDataBaseRecord *head = eevg_FontDataBaseCreate(&err);
  ASSERT_NE(head, nullptr) << Chain(err.get());
  EXPECT_EQ(eevg_FontDataBaseFontCountGet(&err), 8);
  setenv("NORIX_FONT_PATH", empty.c_str(), 1); // never read again
  EXPECT_EQ(eevg_FontDataBaseCreate(&err), head);
  Eevg_Control *control = eevg_Init(&err);
  ASSERT_NE(control, nullptr) << Chain(err.get());
  EXPECT_EQ(control->loadedFontCount, 8);
}

// The scenario's exit status in the new process: 0, or 1 after printing its failures (the
// process's own test output is not shown).
[[noreturn]] void RunScenario() {
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter intercept(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    FailedBuildsThenABuild();
  }
  for (int i = 0; i < failures.size(); ++i) std::cerr << failures.GetTestPartResult(i) << "\n";
  std::cerr.flush();
  std::exit(failures.size() == 0 ? 0 : 1);
}

TEST(FontDataBaseBuild, FailuresKeepNothingAndTheNextCallTriesAgain) {
  // The "threadsafe" style starts the program again, for this test alone, rather than forking this
  // process, whose data base earlier tests may have built.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunScenario(), ::testing::ExitedWithCode(0), "");
}

} // namespace
