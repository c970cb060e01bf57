#include "eprf.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ecfg.h"
#include "emsc.h"
#include "epmg.h"
#include "taviron_testing.h"

namespace {

namespace fs = std::filesystem;

using taviron::testing::ReadText;
using taviron::testing::WriteText;

// Two preference directories: the global one first, the user one last.
class PreferenceFiles : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(Global());
    fs::create_directories(User());
    setenv("NORIX_PREFERENCES_PATH", (Global().string() + ";" + User().string()).c_str(), 1);
    unsetenv("NORIX_CFG_PATH");
    unsetenv("NORIX_CFG_DATABASES");
    eprf_DefaultDatabaseTerminate();
    ecfg_Init(nullptr);
  }
  void TearDown() override {
    eprf_DefaultDatabaseTerminate();
  }
  fs::path Global() const { return root_ / "global"; }
  fs::path User() const { return root_ / "user"; }
  const taviron::testing::TempDir folder_{"taviron_eprf"};
  const fs::path root_ = folder_.path();
};

TEST_F(PreferenceFiles, UserLevelOverridesGlobalLevel) {
  WriteText(Global() / "preferences.prf",
            "# site defaults\n"
            "annotation/mitre_limit = 10\n"
            "annotation/annotation_text_units = Points\n"
            "zav/log_message_level = terse\r\n"
            "\n"
            "vector/current_workspace = \"  /data with spaces  \"\n");
  WriteText(User() / "preferences.prf", "  annotation / mitre_limit =  12.5  \nzav/use_ie=no");
  Eerr_ErrorReport *err = nullptr;
  eprf_DefaultDatabaseInitialize(&err);
  ASSERT_EQ(err, nullptr);

  EXPECT_DOUBLE_EQ(epmg_GetNumberPreference("annotation", "mitre_limit", 1.0, &err), 12.5);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(epmg_GetBooleanPreference("ZAV", "Use_IE", 1, &err), 0); // names ignore case
  char *units = epmg_GetEnumPreference("annotation", "annotation_text_units", "x", &err);
  EXPECT_STREQ(units, "Points");
  char *level = epmg_GetEnumPreference("zav", "log_message_level", "verbose", &err);
  EXPECT_STREQ(level, "terse"); // the carriage return of a DOS line is not part of the value
  char *workspace = epmg_GetStringPreference("vector", "current_workspace", nullptr, &err);
  EXPECT_STREQ(workspace, "  /data with spaces  ");
  EXPECT_EQ(err, nullptr);
  emsc_HeapFree(units);
  emsc_HeapFree(level);
  emsc_HeapFree(workspace);
}

TEST_F(PreferenceFiles, CorruptFilesAreRejectedWithAReport) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"missing equals", "annotation/mitre_limit 10\n"},
      {"missing category", "mitre_limit = 10\n"},
      {"empty key", "annotation/ = 10\n"},
      {"empty category", " /key = 10\n"},
      {"unterminated quote", "a/b = \"abc\n"},
      {"text after quote", "a/b = \"abc\" d\n"},
      {"bad escape", "a/b = \"a\\qb\"\n"},
      {"truncated line", "a/b = 1\nannotation/mitre_li"},
      {"NUL byte", std::string("a/b = 1\n\0c/d = 2\n", 16)},
      {"bracket in name", "a[1]/b = 2\n"},
  };
  for (const auto &[what, text] : cases) {
    SCOPED_TRACE(what);
    WriteText(Global() / "preferences.prf", "zav/tmpdir = /scratch\n");
    WriteText(User() / "preferences.prf", text);
    Eerr_ErrorReport *err = nullptr;
    eprf_DefaultDatabaseInitialize(&err);
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(err->severity, 2);
    EXPECT_NE(std::string(err->next ? err->next->message : err->message).find("preferences.prf"),
              std::string::npos);
    eerr_DeleteErrorReportEx(&err);

    // The readable level still answers; the corrupt one holds nothing.
    char *tmpdir = epmg_GetStringPreference("zav", "tmpdir", nullptr, &err);
    EXPECT_STREQ(tmpdir, "/scratch");
    emsc_HeapFree(tmpdir);
    EXPECT_DOUBLE_EQ(epmg_GetNumberPreference("a", "b", -1.0, &err), -1.0);
    eerr_DeleteErrorReportEx(&err);

    // A change is not saved over a file that could not be read.
    Epmg_Preference put{nullptr, const_cast<char *>("zav"), const_cast<char *>("use_ie"), {}, 3, 0};
    put.value.boolean = 1;
    ecfg_PutPreference(&put, &err);
    ASSERT_EQ(err, nullptr);
    eprf_DefaultDatabaseFlush(EPRF_LEVEL_USER, &err);
    EXPECT_NE(err, nullptr);
    eerr_DeleteErrorReportEx(&err);
    EXPECT_EQ(ReadText(User() / "preferences.prf"), text);
  }
}

TEST_F(PreferenceFiles, FlushWritesUserAndGlobalLevels) {
  WriteText(Global() / "preferences.prf", "annotation/mitre_limit = 10\n");
  Eerr_ErrorReport *err = nullptr;
  eprf_DefaultDatabaseInitialize(&err);

  struct Put {
    const char *category, *name;
    int32_t type;
    const char *text;
    double number;
  };
  const Put puts[] = {
      {"annotation", "mitre_limit", EPMG_TYPE_NUMBER, nullptr, 0.1},
      {"zav", "use_ie", EPMG_TYPE_BOOLEAN, nullptr, 1},
      {"zav", "tmpdir", EPMG_TYPE_STRING, " two\nlines \"quoted\" \\ ", 0},
      {"zav", "log_message_level", EPMG_TYPE_ENUM, "verbose", 0},
      {"zav", "mss_default_red_band", EPMG_TYPE_UNSIGNED, nullptr, 4294967295.0},
  };
  for (const Put &p : puts) {
    Epmg_Preference record{nullptr, const_cast<char *>(p.category), const_cast<char *>(p.name), {}, p.type, 0};
    if (p.type == EPMG_TYPE_NUMBER) record.value.number = p.number;
    if (p.type == EPMG_TYPE_BOOLEAN) record.value.boolean = 1;
    if (p.type == EPMG_TYPE_UNSIGNED) record.value.unsignedInteger = 4294967295u;
    if (p.text) record.value.string = const_cast<char *>(p.text);
    ecfg_PutPreference(&record, &err);
    ASSERT_EQ(err, nullptr) << p.name;
  }
  epmg_SaveUserPreference(&err);
  ASSERT_EQ(err, nullptr);
  EXPECT_EQ(ReadText(Global() / "preferences.prf"), "annotation/mitre_limit = 10\n");
  EXPECT_NE(ReadText(User() / "preferences.prf").find("annotation/mitre_limit = 0.1\n"), std::string::npos);

  epmg_SaveGlobalPreference(&err);
  ASSERT_EQ(err, nullptr);
  // Everything reads back the same from the files alone, global level first.
  for (const fs::path &dir : {User(), Global()}) {
    SCOPED_TRACE(dir.string());
    eprf_DefaultDatabaseInitialize(&err);
    ASSERT_EQ(err, nullptr);
    EXPECT_DOUBLE_EQ(epmg_GetNumberPreference("annotation", "mitre_limit", 0, &err), 0.1);
    EXPECT_EQ(epmg_GetBooleanPreference("zav", "use_ie", 0, &err), 1);
    char *tmpdir = epmg_GetStringPreference("zav", "tmpdir", nullptr, &err);
    EXPECT_STREQ(tmpdir, " two\nlines \"quoted\" \\ ");
    emsc_HeapFree(tmpdir);
    Epmg_Preference band{nullptr, const_cast<char *>("zav"), const_cast<char *>("mss_default_red_band"), {}, EPMG_TYPE_UNSIGNED, 0};
    Epmg_Preference *pointer = &band;
    ecfg_PreferenceGet(&pointer, &err);
    ASSERT_EQ(err, nullptr);
    EXPECT_EQ(band.value.unsignedInteger, 4294967295u);
    fs::remove(User() / "preferences.prf"); // second round: the global file alone
  }

  eprf_DefaultDatabaseFlush(0, &err);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 1);
  eerr_DeleteErrorReportEx(&err);
}

TEST_F(PreferenceFiles, WithoutDirectoriesValuesLiveInMemoryAndSavingReports) {
  unsetenv("NORIX_PREFERENCES_PATH");
  Eerr_ErrorReport *err = nullptr;
  eprf_DefaultDatabaseInitialize(&err);
  ASSERT_EQ(err, nullptr);
  Epmg_Preference record{nullptr, const_cast<char *>("vector"), const_cast<char *>("memcache_limit"), {}, EPMG_TYPE_NUMBER, 0};
  record.value.number = 512;
  ecfg_PutPreference(&record, &err);
  EXPECT_DOUBLE_EQ(epmg_GetNumberPreference("vector", "memcache_limit", 1024, &err), 512);
  epmg_SaveUserPreference(&err);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  epmg_SaveGlobalPreference(&err);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
}

struct Calls {
  std::vector<std::string> seen;
};

void Record(void *userData, Epmg_Preference *preference) {
  auto *calls = static_cast<Calls *>(userData);
  Epmg_Preference copy = *preference;
  epmg_PreferenceConvert(&copy, EPMG_TYPE_STRING, nullptr);
  calls->seen.push_back(std::string(preference->name) + "=" + copy.value.string);
  if (copy.value.string != preference->value.string) emsc_HeapFree(copy.value.string);
}

TEST_F(PreferenceFiles, CallbacksRunWhenAPutChangesTheValue) {
  Calls calls, other;
  Eerr_ErrorReport *err = nullptr;
  Epmg_Preference key{nullptr, const_cast<char *>("zav"), const_cast<char *>("fast_directory_scans"), {}, 0, 0};
  Epmg_CallbackInfo info{0, &calls, &Record};
  eprf_DefaultPreferenceAddCB(&key, &info, &err);
  eprf_DefaultPreferenceAddCB(&key, &info, &err); // twice counts once
  Epmg_CallbackInfo foreign{getpid() + 1, &other, &Record};
  eprf_DefaultPreferenceAddCB(&key, &foreign, &err);
  ASSERT_EQ(err, nullptr);

  Epmg_Preference put{nullptr, const_cast<char *>("ZAV"), const_cast<char *>("fast_directory_scans"), {}, EPMG_TYPE_BOOLEAN, 0};
  put.value.boolean = 0;
  ecfg_PutPreference(&put, &err);
  ecfg_PutPreference(&put, &err); // unchanged: no call
  put.value.boolean = 1;
  ecfg_PutPreference(&put, &err);
  ASSERT_EQ(err, nullptr);
  EXPECT_EQ(calls.seen, (std::vector<std::string>{"fast_directory_scans=false", "fast_directory_scans=true"}));
  EXPECT_TRUE(other.seen.empty()); // another process's callback is not run here

  Epmg_CallbackNode *list = epmg_GetCallbackList(ecfg_GetTemplateDB(nullptr, &err), &key);
  ASSERT_NE(list, nullptr);
  ASSERT_NE(list->next, nullptr);
  EXPECT_EQ(list->next->next, nullptr);
  EXPECT_EQ(list->processId, getpid());
  EXPECT_EQ(list->userData, &calls);
  EXPECT_EQ(list->next->processId, getpid() + 1);
  epmg_FreeCallbackList(list);

  eprf_DefaultPreferenceRemCB(&key, getpid(), &err);
  put.value.boolean = 0;
  ecfg_PutPreference(&put, &err);
  EXPECT_EQ(calls.seen.size(), 2u);
  list = epmg_GetCallbackList(ecfg_GetTemplateDB(nullptr, &err), &key);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->processId, getpid() + 1);
  EXPECT_EQ(list->next, nullptr);
  epmg_FreeCallbackList(list);

  eprf_DefaultPreferenceAddCB(nullptr, &info, &err);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
}

} // namespace
