// Building the process-wide font data base: a failed build keeps nothing and the next call tries
// again. One test only: the data base is built once per process.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <unistd.h>

#include "eevg.h"
#include "graphics_testing.h"

namespace {

namespace fs = std::filesystem;
using taviron::testing::Chain;
using taviron::graphics::testing::kFontDir;
using taviron::testing::Reported;
using taviron::testing::ErrorSlot;

TEST(FontDataBaseBuild, FailuresKeepNothingAndTheNextCallTriesAgain) {
  const fs::path scratch = fs::temp_directory_path() / ("eevg_build_" + std::to_string(getpid()));
  fs::create_directories(scratch / "empty");
  fs::create_directories(scratch / "old");
  std::ofstream(scratch / "old" / "a.fdb") << "version 3\nA a A a left_to_right a S\n";
  std::ofstream(scratch / "old" / "b.fdb") << "version 2\nB b B b left_to_right b S\n";
  ErrorSlot err;

  setenv("NORIX_FONT_PATH", (scratch / "empty").c_str(), 1);
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
  setenv("NORIX_FONT_PATH", ((scratch / "empty").string() + ":" + kFontDir).c_str(), 1);
  Eevg_FontDataBaseRecord *head = eevg_FontDataBaseCreate(&err);
  ASSERT_NE(head, nullptr) << Chain(err.get());
  EXPECT_EQ(eevg_FontDataBaseFontCountGet(&err), 8);
  setenv("NORIX_FONT_PATH", (scratch / "empty").c_str(), 1); // never read again
  EXPECT_EQ(eevg_FontDataBaseCreate(&err), head);
  Eevg_Control *control = eevg_Init(&err);
  ASSERT_NE(control, nullptr) << Chain(err.get());
  EXPECT_EQ(control->loadedFontCount, 8);
  fs::remove_all(scratch);
}

} // namespace
