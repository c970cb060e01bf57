#include "epmg.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ecfg.h"
#include "emsc.h"
#include "eprf.h"
#include "taviron_testing.h"

namespace {

namespace fs = std::filesystem;

char *Text(const char *text) { return const_cast<char *>(text); }

Epmg_Preference StringRecord(const char *text, int32_t type = EPMG_TYPE_STRING) {
  Epmg_Preference record{nullptr, Text("c"), Text("k"), {}, type, 0};
  record.value.string = estr_Duplicate(text);
  return record;
}

TEST(EpmgConvert, TextToTypes) {
  struct Case {
    const char *text;
    int32_t type;
    bool ok;
    double expected; // number, boolean or unsigned
  };
  const Case cases[] = {
      {" 12.5 ", EPMG_TYPE_NUMBER, true, 12.5},
      {"1e3", EPMG_TYPE_NUMBER, true, 1000},
      {"12abc", EPMG_TYPE_NUMBER, false, 0},
      {"", EPMG_TYPE_NUMBER, false, 0},
      {"nan", EPMG_TYPE_NUMBER, false, 0},
      {"0.7", EPMG_TYPE_BOOLEAN, true, 0}, // truncated to 0
      {"1.0", EPMG_TYPE_BOOLEAN, true, 1},
      {"-3", EPMG_TYPE_BOOLEAN, true, 0},
      {"Yes", EPMG_TYPE_BOOLEAN, true, 1},
      {"off", EPMG_TYPE_BOOLEAN, true, 0},
      {"TRUE", EPMG_TYPE_BOOLEAN, true, 1},
      {"maybe", EPMG_TYPE_BOOLEAN, false, 0},
      {"4294967295", EPMG_TYPE_UNSIGNED, true, 4294967295.0},
      {"7.9", EPMG_TYPE_UNSIGNED, true, 7},
      {"4294967296", EPMG_TYPE_UNSIGNED, false, 0},
      {"-1", EPMG_TYPE_UNSIGNED, false, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.text) + " as type " + std::to_string(c.type));
    Epmg_Preference record = StringRecord(c.text);
    Eerr_ErrorReport *err = nullptr;
    epmg_PreferenceConvert(&record, c.type, &err);
    if (!c.ok) {
      ASSERT_NE(err, nullptr);
      EXPECT_EQ(record.valueType, EPMG_TYPE_STRING); // unchanged
      EXPECT_STREQ(record.value.string, c.text);
      eerr_DeleteErrorReportEx(&err);
    } else {
      ASSERT_EQ(err, nullptr);
      EXPECT_EQ(record.valueType, c.type);
      const double got = c.type == EPMG_TYPE_NUMBER    ? record.value.number
                         : c.type == EPMG_TYPE_BOOLEAN ? record.value.boolean
                                                       : record.value.unsignedInteger;
      EXPECT_DOUBLE_EQ(got, c.expected);
    }
    epmg_PreferenceValueClear(&record);
  }
}

TEST(EpmgConvert, TypedValuesToOtherTypes) {
  Eerr_ErrorReport *err = nullptr;
  Epmg_Preference record{nullptr, Text("c"), Text("k"), {}, EPMG_TYPE_NUMBER, 0};
  record.value.number = 0.1;
  epmg_PreferenceConvert(&record, EPMG_TYPE_STRING, &err);
  ASSERT_EQ(err, nullptr);
  EXPECT_STREQ(record.value.string, "0.1");
  epmg_PreferenceConvert(&record, EPMG_TYPE_ENUM, &err);
  EXPECT_EQ(record.valueType, EPMG_TYPE_ENUM);
  epmg_PreferenceValueClear(&record);

  record.valueType = EPMG_TYPE_BOOLEAN;
  record.value.boolean = 1;
  epmg_PreferenceConvert(&record, EPMG_TYPE_NUMBER, &err);
  EXPECT_DOUBLE_EQ(record.value.number, 1.0);
  record.value.number = -2;
  epmg_PreferenceConvert(&record, EPMG_TYPE_UNSIGNED, &err);
  EXPECT_NE(err, nullptr);
  EXPECT_EQ(record.valueType, EPMG_TYPE_NUMBER);
  eerr_DeleteErrorReportEx(&err);

  record.valueType = EPMG_TYPE_NONE;
  epmg_PreferenceConvert(&record, EPMG_TYPE_STRING, &err); // no value to convert
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  epmg_PreferenceConvert(&record, 9, &err);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
}


using taviron::testing::ReadText;

TEST(EpmgDatabase, LevelsLookupsAndWrites) {
  const taviron::testing::TempDir dir("taviron_epmg");
  std::ofstream(dir.path() / "a.cfg") << "[lp1]\nmodel = A\ndevice = /dev/lp1\n\n[lp2]\nmodel = B\n";
  std::ofstream(dir.path() / "b.cfg") << "; more specific\n[LP1]\nmodel = C\n[lp3]\n";
  Eerr_ErrorReport *err = nullptr;
  Epmg_Database *database = epmg_DatabaseCreate("printers", EPMG_FORMAT_CONFIGURATION, &err);
  ASSERT_NE(database, nullptr);
  const std::string a = (dir.path() / "a.cfg").string(), b = (dir.path() / "b.cfg").string();
  const char *files[] = {a.c_str(), b.c_str()};
  Estr_StringList *list = estr_StringToStringList(2, files, &err);
  epmg_DatabaseSetLevels(database, list, 0, &err);
  ASSERT_EQ(err, nullptr);

  Estr_StringList *instances = epmg_DatabaseCategories(database, &err);
  ASSERT_EQ(instances->count, 3);
  EXPECT_STREQ(instances->strings[0], "lp1");
  EXPECT_STREQ(instances->strings[2], "lp3");
  estr_StringListDelete(instances, &err);
  Estr_StringList *pairs = epmg_DatabaseKeys(database, "lp1", &err);
  ASSERT_EQ(pairs->count, 4);
  EXPECT_STREQ(pairs->strings[1], "C"); // the specific level wins
  EXPECT_STREQ(pairs->strings[3], "/dev/lp1");
  estr_StringListDelete(pairs, &err);
  EXPECT_EQ(epmg_DatabaseKeys(database, "lp9", &err), nullptr);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);

  // Changes go to the current level only (level 0 here) and are saved there.
  Epmg_Preference record{nullptr, Text("lp2"), Text("numcopies"), {}, EPMG_TYPE_NUMBER, 0};
  record.value.number = 2;
  EXPECT_EQ(epmg_PutPreference(database, &record, &err), 1);
  EXPECT_EQ(epmg_PutPreference(database, &record, &err), 0);
  record.valueType = EPMG_TYPE_NONE;
  epmg_GetPreference(database, &record, &err);
  ASSERT_EQ(err, nullptr);
  EXPECT_EQ(record.valueType, EPMG_TYPE_NUMBER); // a put keeps its type
  EXPECT_DOUBLE_EQ(record.value.number, 2);
  epmg_DatabaseSave(database, &err);
  ASSERT_EQ(err, nullptr);
  EXPECT_EQ(ReadText(a), "[lp1]\nmodel = A\ndevice = /dev/lp1\n\n[lp2]\nmodel = B\nnumcopies = 2\n\n");
  EXPECT_EQ(ReadText(b), "; more specific\n[LP1]\nmodel = C\n[lp3]\n");

  const std::string merged = (dir.path() / "merged.cfg").string();
  epmg_DatabaseWrite(database, -1, "lp1", merged.c_str(), &err);
  ASSERT_EQ(err, nullptr);
  EXPECT_EQ(ReadText(merged), "[lp1]\nmodel = C\ndevice = /dev/lp1\n\n");
  epmg_DatabaseWrite(database, 5, nullptr, merged.c_str(), &err);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);

  // Names that the file format cannot hold are refused.
  for (const char *bad : {"", " lead", "a=b", "[x]", "line\nbreak", "#comment"}) {
    record.category = Text(bad);
    record.valueType = EPMG_TYPE_STRING;
    record.value.string = Text("v");
    EXPECT_EQ(epmg_PutPreference(database, &record, &err), 0) << bad;
    EXPECT_NE(err, nullptr);
    eerr_DeleteErrorReportEx(&err);
  }
  epmg_DatabaseSetLevels(database, list, 2, &err);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  estr_StringListDelete(list, &err);
  epmg_DatabaseDelete(&database);
  EXPECT_EQ(database, nullptr);
}

void Noop(void *, Epmg_Preference *) {}
void Other(void *, Epmg_Preference *) {}

TEST(EpmgDatabase, CallbackRegistration) {
  Eerr_ErrorReport *err = nullptr;
  Epmg_Database *database = epmg_DatabaseCreate("preferences", EPMG_FORMAT_PREFERENCES, &err);
  int data = 0;
  Epmg_PreferenceCallbackRecord a{nullptr, Text("zav"), Text("tmpdir"), &Noop, &data, 0};
  Epmg_PreferenceCallbackRecord b{nullptr, Text("zav"), Text("tmpdir"), &Other, nullptr, 0};
  epmg_AddCallback(database, &a, &err);
  epmg_AddCallback(database, &a, &err);
  epmg_AddCallback(database, &b, &err);
  ASSERT_EQ(err, nullptr);
  Epmg_Preference key{nullptr, Text("Zav"), Text("TMPDIR"), {}, 0, 0};
  Epmg_CallbackNode *list = epmg_GetCallbackList(database, &key);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->callback, &Noop);
  EXPECT_EQ(list->userData, &data);
  EXPECT_EQ(list->processId, getpid());
  ASSERT_NE(list->next, nullptr);
  EXPECT_EQ(list->next->callback, &Other);
  EXPECT_EQ(list->next->next, nullptr);
  epmg_FreeCallbackList(list);

  epmg_RemoveCallback(database, &a, &err); // only Noop goes
  list = epmg_GetCallbackList(database, &key);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->callback, &Other);
  epmg_FreeCallbackList(list);
  b.callback = nullptr; // every callback of the key and process
  epmg_RemoveCallback(database, &b, &err);
  EXPECT_EQ(epmg_GetCallbackList(database, &key), nullptr);

  a.callback = nullptr;
  epmg_AddCallback(database, &a, &err);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  epmg_DatabaseDelete(&database);
}

// The typed reads, with the local store and with an installed get hook.
class EpmgAccess : public ::testing::Test {
protected:
  void SetUp() override {
    std::ofstream(root_ / "preferences.prf") << "annotation/text_fill_order = Fill-Last\n"
                                                "annotation/mitre_limit = wide\n"
                                                "vector/err_suppress = No\n";
    setenv("NORIX_PREFERENCES_PATH", root_.c_str(), 1);
    unsetenv("NORIX_CFG_PATH");
    eprf_DefaultDatabaseTerminate();
    ecfg_Init(nullptr);
  }
  void TearDown() override {
    epmg_PreferenceImplementationMethodsSet(EPMG_METHOD_KIND_ADDRESS, nullptr, EPMG_METHOD_GET, nullptr,
                                            EPMG_METHOD_ADD_CALLBACK, nullptr, EPMG_METHOD_FLUSH, nullptr,
                                            0, nullptr);
    eprf_DefaultDatabaseTerminate();
  }
  const taviron::testing::TempDir folder_{"taviron_epmg"};
  const fs::path root_ = folder_.path();
};

TEST_F(EpmgAccess, LocalReadsAndDefaults) {
  Eerr_ErrorReport *err = nullptr;
  char *order = epmg_GetEnumPreference("annotation", "text_fill_order", "Fill-First", &err);
  EXPECT_STREQ(order, "Fill-Last");
  emsc_HeapFree(order);
  EXPECT_EQ(err, nullptr);

  // A failed read gives the default with a report.
  EXPECT_DOUBLE_EQ(epmg_GetNumberPreference("annotation", "mitre_limit", 10, &err), 10);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "epmg_GetNumberPreference");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(epmg_GetBooleanPreference("norix", "dll_runtime_scan", 0, &err), 0);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  char *fallback = epmg_GetEnumPreference("vector", "missing", "Yes", &err);
  EXPECT_STREQ(fallback, "Yes");
  emsc_HeapFree(fallback);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(epmg_GetStringPreference("zav", "tmpdir", nullptr, &err), nullptr);
  eerr_DeleteErrorReportEx(&err);
  // A null slot drops the report.
  EXPECT_DOUBLE_EQ(epmg_GetNumberPreference("vector", "memcache_limit", 1024, nullptr), 1024);
  EXPECT_DOUBLE_EQ(epmg_GetNumberPreference(nullptr, "x", 3, &err), 3);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
}

int32_t connectionKind = 2;
int32_t *seenKind = nullptr;
int getCalls = 0;

void GetHook(int32_t *kind, Epmg_Preference **record, Eerr_ErrorReport **err) {
  seenKind = kind;
  ++getCalls;
  if (std::string((*record)->name) == "missing") {
    *record = nullptr;
    *err = eerr_CreateErrorReport("esmg_PreferenceGet", 2696, 2, nullptr, "esmg_PreferenceGet failed");
    return;
  }
  (*record)->valueType = EPMG_TYPE_NUMBER;
  (*record)->value.number = 0.7;
}

Epmg_Preference *addedKey = nullptr;
void AddHook(int32_t *, Epmg_Preference *key, Epmg_CallbackInfo *info, Eerr_ErrorReport **) {
  addedKey = key;
  EXPECT_EQ(info->processId, getpid());
  EXPECT_EQ(info->callback, &Noop);
}

int32_t flushedLevel = 0;
void FlushHook(int32_t *, int32_t level, Eerr_ErrorReport **) { flushedLevel = level; }

TEST_F(EpmgAccess, InstalledHooksAnswer) {
  Eerr_ErrorReport *err = nullptr;
  epmg_PreferenceImplementationMethodsSet(EPMG_METHOD_KIND_ADDRESS, &connectionKind, EPMG_METHOD_GET,
                                          &GetHook, EPMG_METHOD_ADD_CALLBACK, &AddHook,
                                          EPMG_METHOD_FLUSH, &FlushHook, 0, &err);
  ASSERT_EQ(err, nullptr);
  EXPECT_EQ(epmg_GetBooleanPreference("zav", "use_ie", 1, &err), 0); // 0.7 truncates to false
  EXPECT_EQ(seenKind, &connectionKind);
  char *text = epmg_GetStringPreference("annotation", "text_fill_order", nullptr, &err);
  EXPECT_STREQ(text, "0.7"); // the hook answers, not the file
  emsc_HeapFree(text);
  EXPECT_DOUBLE_EQ(epmg_GetNumberPreference("zav", "missing", 5, &err), 5);
  ASSERT_NE(err, nullptr);
  ASSERT_NE(err->next, nullptr);
  EXPECT_EQ(err->next->code, 2696);
  eerr_DeleteErrorReportEx(&err);

  epmg_AddPreferenceCallback("annotation", "mitre_limit", &Noop, nullptr, &err);
  ASSERT_NE(addedKey, nullptr);
  epmg_SaveGlobalPreference(&err);
  EXPECT_EQ(flushedLevel, 2);
  epmg_SaveUserPreference(&err);
  EXPECT_EQ(flushedLevel, 1);

  // An unknown keyword changes nothing: the hooks stay as they were.
  epmg_PreferenceImplementationMethodsSet(EPMG_METHOD_GET, nullptr, 42, &GetHook, 0, &err);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "epmg_PreferenceImplementationMethodsSet");
  eerr_DeleteErrorReportEx(&err);
  const int before = getCalls;
  epmg_GetNumberPreference("zav", "x", 0, &err);
  EXPECT_EQ(getCalls, before + 1);

  // A null function puts the local store back.
  epmg_PreferenceImplementationMethodsSet(EPMG_METHOD_GET, nullptr, 0, &err);
  ASSERT_EQ(err, nullptr);
  text = epmg_GetEnumPreference("annotation", "text_fill_order", nullptr, &err);
  EXPECT_STREQ(text, "Fill-Last");
  emsc_HeapFree(text);
  EXPECT_EQ(getCalls, before + 1);
}

} // namespace
