// The default styles file: where it lies, its writer and reader, and a new layer's styles from it.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "annotation_testing.h"
#include "emsc.h"

namespace {

using namespace taviron::annotation::testing;
namespace fs = std::filesystem;

std::string Bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

int32_t Teal(Eant_AnnotationInfo *info) { return eant_ColorLookupInLibraryByName(info->styleLib, "teal", nullptr); }

class DefaultStylesTest : public PackageTest {
protected:
  void SetUp() override {
    unsetenv("PERSONAL");
    PackageTest::SetUp();
  }
  void TearDown() override {
    unsetenv("PERSONAL");
    PackageTest::TearDown();
  }
  // A fresh initialised info; it takes the default styles file of Dir() when there is one.
  Eant_AnnotationInfo *Fresh() {
    ErrorSlot err;
    Eant_AnnotationInfo *info = eant_AnnotationInfoCreate(toolkit_, &err);
    eant_AnnotationInfoInit(info, nullptr, nullptr, &err);
    EXPECT_FALSE(err) << Chain(err);
    return info;
  }
  // An info whose styles differ from the defaults: a colour "teal" and a text height of 7.5.
  Eant_AnnotationInfo *Styled(double textHeight = 7.5) {
    Eant_AnnotationInfo *info = Fresh();
    ErrorSlot err;
    eant_ColorAddToLibrary(eant_ColorSetValues(nullptr, nullptr, nullptr, &err, EANT_KEY_STYLENAME, "teal",
                                               EANT_KEY_RGB, 0, 128, 128, 0),
                           info->styleLib, 0, &err);
    EXPECT_FALSE(err) << Chain(err);
    info->selectedStyles->selectedTextHeight = textHeight;
    return info;
  }
  std::string File() const { return Path("antstyles.ads"); }
};

TEST_F(DefaultStylesTest, TheFileLiesInTheDirectoryOfItsKind) {
  const std::string a = Path("a"), b = Path("b"), c = Path("c"), personal = Path("home");
  struct Case {
    std::string list;
    bool withPersonal;
    int32_t kind;
    std::string directory; // "" : no file
  } cases[] = {
      {a + ";" + b + ";" + c, false, 1, c}, {a + ";" + b + ";" + c, false, 3, c},
      {a + ";" + b + ";" + c, false, 2, b}, {a + ";" + b + ";" + c, false, 4, b},
      {a + ";" + b + ";" + c, false, 5, ""}, {a + ";" + b + ";" + c, false, 0, ""},
      {a, true, 1, personal},                {a, true, 2, a},
      {a, false, 1, a},                      {b + ":" + c, true, 1, c},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(k.list + " kind " + std::to_string(k.kind));
    setenv("NORIX_PREFERENCES_PATH", k.list.c_str(), 1);
    if (k.withPersonal)
      setenv("PERSONAL", personal.c_str(), 1);
    else
      unsetenv("PERSONAL");
    ErrorSlot err;
    char *name = eant_GetDefaultStylesFileName(k.kind, &err);
    EXPECT_FALSE(err) << Chain(err);
    if (k.directory.empty()) {
      EXPECT_EQ(nullptr, name);
      continue;
    }
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(k.directory + "/antstyles.ads", name);
    EXPECT_TRUE(fs::is_directory(k.directory)) << "the directory is made";
    emsc_HeapFree(name);
  }
  setenv("NORIX_PREFERENCES_PATH", "", 1);
  ErrorSlot err;
  EXPECT_EQ(nullptr, eant_GetDefaultStylesFileName(1, &err));
  EXPECT_TRUE(Reported(err, "GetPreferenceDirectory", err ? err->code : 0,
                       "Environment variable NORIX_PREFERENCES_PATH yields invalid search list"));
}

TEST_F(DefaultStylesTest, WithoutAPreferencesPathTheUserConfigurationFolderServesMadeOnTheFirstWrite) {
  const std::string home = Path("home"), config = Path("config");
  struct Case {
    const char *xdgConfigHome;
    std::string folder;
  } cases[] = {{config.c_str(), config + "/taviron"}, {nullptr, home + "/.config/taviron"}, {"", home + "/.config/taviron"}};
  taviron::testing::ScopedEnv noPath("NORIX_PREFERENCES_PATH", nullptr), atHome("HOME", home.c_str());
  for (const Case &c : cases) {
    SCOPED_TRACE(c.folder);
    taviron::testing::ScopedEnv xdg("XDG_CONFIG_HOME", c.xdgConfigHome);
    ErrorSlot err;
    for (int32_t kind : {1, 2}) {
      char *name = eant_GetDefaultStylesFileName(kind, &err);
      ASSERT_NE(nullptr, name) << Chain(err);
      EXPECT_EQ(c.folder + "/antstyles.ads", name);
      emsc_HeapFree(name);
    }
    EXPECT_FALSE(fs::exists(c.folder)) << "made on the first write only";
    // A new layer can be made, and its styles kept for the next one.
    const std::string layerName = Path("new.ovr");
    fs::remove(layerName);
    Eant_Layer *layer = eant_LayerNew(toolkit_, nullptr, layerName.c_str(), nullptr, nullptr, &err);
    ASSERT_NE(nullptr, layer) << Chain(err);
    eant_LayerClose(layer, &err);
    ASSERT_FALSE(err) << Chain(err);
    Eant_AnnotationInfo *styled = Styled();
    eant_DefaultStylesWrite(styled, (c.folder + "/antstyles.ads").c_str(), &err);
    ASSERT_FALSE(err) << Chain(err);
    Eant_AnnotationInfo *fresh = Fresh();
    EXPECT_GE(Teal(fresh), 0);
    for (Eant_AnnotationInfo *info : {styled, fresh}) eant_AnnotationInfoFree(&info);
    fs::remove_all(c.folder);
  }
}

TEST_F(DefaultStylesTest, ANewLayerTakesTheStylesWritten) {
  Eant_AnnotationInfo *styled = Styled();
  ErrorSlot err;
  eant_DefaultStylesWrite(styled, File().c_str(), &err);
  ASSERT_FALSE(err) << Chain(err);
  Eant_AnnotationInfo *fresh = Fresh();
  EXPECT_GE(Teal(fresh), 0);
  for (Eant_SelectedStyles *styles : {fresh->selectedStyles, fresh->currentStyles, fresh->defaultStyles})
    EXPECT_EQ(7.5, styles->selectedTextHeight);
  EXPECT_NE(nullptr, fresh->symbolLib);

  // Written again: the file is replaced, and nothing is left beside it.
  eant_AnnotationInfoFree(&styled);
  styled = Fresh();
  styled->selectedStyles->selectedTextHeight = 3;
  eant_DefaultStylesWrite(styled, File().c_str(), &err);
  ASSERT_FALSE(err) << Chain(err);
  Eant_AnnotationInfo *again = Fresh();
  EXPECT_EQ(3, again->selectedStyles->selectedTextHeight);
  int files = 0;
  for (const auto &entry : fs::directory_iterator(Dir())) files += entry.is_regular_file() ? 1 : 0;
  EXPECT_EQ(1, files);
  for (Eant_AnnotationInfo *info : {styled, fresh, again}) eant_AnnotationInfoFree(&info);
}

TEST_F(DefaultStylesTest, AFailedWriteLeavesTheOldFile) {
  Eant_AnnotationInfo *old = Styled(), *info = Styled(9);
  std::string before;
  auto writeOld = [&] {
    ErrorSlot err;
    eant_DefaultStylesWrite(old, File().c_str(), &err);
    ASSERT_FALSE(err) << Chain(err);
    before = Bytes(File());
  };
  writeOld();

  // Refused arguments.
  ErrorSlot err;
  Eant_SelectedStyles *selected = std::exchange(info->selectedStyles, nullptr);
  eant_DefaultStylesWrite(info, File().c_str(), &err);
  EXPECT_TRUE(Reported(err, "eant_DefaultStylesWrite", err ? err->code : 0, "Annotation selected styles are null"));
  info->selectedStyles = selected;
  eant_DefaultStylesWrite(nullptr, File().c_str(), &err);
  EXPECT_TRUE(Reported(err, "eant_DefaultStylesWrite", err ? err->code : 0, "Annotation info parameters are null"));
  EXPECT_TRUE(before == Bytes(File()));

  // Every allocation that can fail on the way: the old file stays whole, with nothing beside it.
  taviron::testing::SweepOptions options;
  options.steadyHeap = false;
  options.newStride = 29;
  options.prepare = [&] { before = Bytes(File()); };
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) {
        eant_DefaultStylesWrite(info, File().c_str(), e);
        if (*e) {
          EXPECT_TRUE(before == Bytes(File())) << Chain(*e);
          std::string files;
          // (The hidden scratch file of a file creation that ran out of memory is the file
          // layer's own.)
          for (const auto &entry : fs::directory_iterator(Dir()))
            if (entry.path().filename().string()[0] != '.') files += entry.path().filename().string() + " ";
          EXPECT_EQ("antstyles.ads ", files) << Chain(*e);
        }
        return *e == nullptr;
      },
      options);
  eant_AnnotationInfoFree(&info);
  eant_AnnotationInfoFree(&old);
}

TEST_F(DefaultStylesTest, AMissingOrDamagedFileChangesNothingAndReportsNothing) {
  Eant_AnnotationInfo *source = Styled();
  ErrorSlot err;
  eant_DefaultStylesWrite(source, File().c_str(), &err);
  ASSERT_FALSE(err) << Chain(err);
  eant_AnnotationInfoFree(&source);
  const std::string good = Bytes(File());
  // The same file without its selected styles.
  const std::string partial = Path("partial.ads");
  fs::copy_file(File(), partial);
  Ehfa_File *file = ehfa_FileOpen(partial.c_str(), "r+b", toolkit_, &err);
  ASSERT_NE(nullptr, file) << Chain(err);
  ASSERT_NE(nullptr, ehfa_EntrySeek(file, EHFA_PATH, ":SelectedStyles", &err));
  ehfa_EntryDelete(file, &err);
  ehfa_FileClose(file, &err);
  ASSERT_FALSE(err) << Chain(err);
  const std::string random = Path("random.ads"), cut = Path("cut.ads");
  std::ofstream(random, std::ios::binary) << std::string("\x53\x51\x4c\x00\x17\xff random bytes", 19);
  std::ofstream(cut, std::ios::binary) << good.substr(0, good.size() / 2);

  Eant_AnnotationInfo *info = Fresh();
  for (const std::string &name : {Path("none.ads"), random, cut, partial, std::string("${")}) {
    SCOPED_TRACE(name);
    eant_DefaultStylesRead(info, name.c_str(), &err);
    EXPECT_FALSE(err) << Chain(err);
    EXPECT_GE(Teal(info), 0);
    EXPECT_EQ(7.5, info->selectedStyles->selectedTextHeight);
  }
  eant_DefaultStylesRead(nullptr, File().c_str(), &err);
  EXPECT_FALSE(err);
  eant_AnnotationInfoFree(&info);
}

} // namespace
