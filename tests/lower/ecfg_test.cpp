#include "ecfg.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "emsc.h"
#include "eprf.h"
#include "taviron_testing.h"

namespace {

namespace fs = std::filesystem;

using taviron::testing::ReadText;
using taviron::testing::WriteText;

std::vector<std::string> Strings(Estr_StringList *list) {
  std::vector<std::string> items;
  for (int32_t i = 0; i < estr_StringListCount(list); ++i)
    items.emplace_back(list->strings[i] ? list->strings[i] : "<null>");
  estr_StringListDelete(list, nullptr);
  return items;
}

using Items = std::vector<std::string>;

// A global directory and a personal one, databases "job" and the plain class file.
class Configuration : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(Global());
    fs::create_directories(Personal());
    setenv("TAVIRON_TEST_ROOT", root_.c_str(), 1);
    setenv("NORIX_CFG_PATH", "$TAVIRON_TEST_ROOT/global:${TAVIRON_TEST_ROOT}/personal", 1);
    setenv("NORIX_CFG_DATABASES", "job:", 1);
    setenv("NORIX_PREFERENCES_PATH", Personal().c_str(), 1);
    WriteText(Global() / "vectorformats.cfg",
              "[Shapefile]\ninstance = $TAVIRON_HOME/shape.dll\ntemplate = *.shp\n\n"
              "[Coverage]\ninstance = cover.dll\n");
    WriteText(Personal() / "vectorformats.cfg", "[Shapefile]\ntemplate = *.SHP\n[Tiger]\nisdir = 1\n");
    WriteText(Personal() / "vectorformats.job.cfg", "[Shapefile]\ntemplate = job.shp\n");
    Eerr_ErrorReport *err = nullptr;
    eprf_DefaultDatabaseTerminate();
    ecfg_Init(&err);
    ASSERT_EQ(err, nullptr);
  }
  void TearDown() override {
    eprf_DefaultDatabaseTerminate();
  }
  fs::path Global() const { return root_ / "global"; }
  fs::path Personal() const { return root_ / "personal"; }
  const taviron::testing::TempDir folder_{"taviron_ecfg"};
  const fs::path root_ = folder_.path();
};

TEST_F(Configuration, Queries) {
  struct Case {
    const char *instance;
    const char *key;
    int32_t flags;
    Items expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, ECFG_QUERY_INSTANCES, {"Shapefile", "Coverage", "Tiger"}},
      {nullptr, "instance", ECFG_QUERY_KEY_VALUES, {"$TAVIRON_HOME/shape.dll", "cover.dll"}},
      {nullptr, "TEMPLATE", ECFG_QUERY_KEY_VALUES, {"job.shp"}},
      {"shapefile", nullptr, ECFG_QUERY_INSTANCE_PAIRS,
       {"instance", "$TAVIRON_HOME/shape.dll", "template", "job.shp"}},
      {"Tiger", nullptr, ECFG_QUERY_INSTANCE_PAIRS, {"isdir", "1"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.flags);
    Eerr_ErrorReport *err = nullptr;
    Estr_StringList *list =
        ecfg_QueryCreateAndExecute("vectorformats", "vectorformats", c.instance, c.key, c.flags, &err);
    ASSERT_EQ(err, nullptr);
    EXPECT_EQ(Strings(list), c.expected);
  }
  const Case failures[] = {
      {nullptr, nullptr, ECFG_QUERY_KEY_VALUES, {}},
      {nullptr, nullptr, ECFG_QUERY_INSTANCE_PAIRS, {}},
      {"Nowhere", nullptr, ECFG_QUERY_INSTANCE_PAIRS, {}},
      {nullptr, nullptr, 4, {}},
  };
  for (const Case &c : failures) {
    SCOPED_TRACE(c.flags);
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(ecfg_QueryCreateAndExecute("vectorformats", nullptr, c.instance, c.key, c.flags, &err), nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->reporter, "ecfg_QueryCreateAndExecute");
    eerr_DeleteErrorReportEx(&err);
  }
  // A class without files exists and is empty.
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(Strings(ecfg_QueryCreateAndExecute("tapes", nullptr, nullptr, nullptr, ECFG_QUERY_INSTANCES, &err)),
            Items{});
  EXPECT_EQ(err, nullptr);
}

TEST_F(Configuration, LevelsChangesAndSave) {
  Eerr_ErrorReport *err = nullptr;
  char *handle = ecfg_GetClass("vectorformats");
  ASSERT_STREQ(handle, "vectorformats");
  emsc_HeapFree(handle);
  EXPECT_EQ(ecfg_GetClass("../etc"), nullptr);
  EXPECT_EQ(ecfg_GetClass(""), nullptr);

  int32_t directory = -2, database = -2;
  EXPECT_EQ(Strings(ecfg_GetDatabaseDirectories("vectorformats", &directory, &err)),
            (Items{Global().string(), Personal().string()}));
  EXPECT_EQ(Strings(ecfg_GetDatabases("vectorformats", &database, &err)), (Items{"job", ""}));
  EXPECT_EQ(directory, 1);
  EXPECT_EQ(database, 0);

  // Write into the global plain file, as a rebuild of the class does.
  ecfg_SetDatabaseLevel("vectorformats", Global().c_str(), "", &err);
  ASSERT_EQ(err, nullptr);
  estr_StringListDelete(ecfg_GetDatabaseDirectories("vectorformats", &directory, &err), nullptr);
  estr_StringListDelete(ecfg_GetDatabases("vectorformats", &database, &err), nullptr);
  EXPECT_EQ(directory, 0);
  EXPECT_EQ(database, 1);
  ecfg_InstallChangeImmediate("vectorformats", ECFG_CHANGE_CREATE_INSTANCE, 1, "vectorformats", "GeoJSON", 0,
                              nullptr, &err);
  ASSERT_EQ(err, nullptr);
  const char *value[] = {"geojson.so"};
  Estr_StringList *list = estr_StringToStringList(1, value, &err);
  ecfg_InstallChangeImmediate("vectorformats", ECFG_CHANGE_SET_KEY, 1, "GeoJSON", "instance",
                              ECFG_VALUE_STRING_LIST, list, &err);
  ASSERT_EQ(err, nullptr);
  // Visible at once, written only by the save.
  EXPECT_EQ(Strings(ecfg_QueryCreateAndExecute("vectorformats", nullptr, "GeoJSON", nullptr,
                                               ECFG_QUERY_INSTANCE_PAIRS, &err)),
            (Items{"instance", "geojson.so"}));
  const std::string before = ReadText(Global() / "vectorformats.cfg");
  ecfg_Init(&err);
  EXPECT_EQ(ReadText(Global() / "vectorformats.cfg"), before);
  EXPECT_EQ(ecfg_QueryCreateAndExecute("vectorformats", nullptr, "GeoJSON", nullptr, ECFG_QUERY_INSTANCE_PAIRS, &err),
            nullptr); // re-reading dropped the unsaved change
  eerr_DeleteErrorReportEx(&err);

  ecfg_SetDatabaseLevel("vectorformats", Global().c_str(), "", &err);
  ecfg_InstallChangeImmediate("vectorformats", 2, 1, "vectorformats", "GeoJSON", 0, nullptr, &err);
  ecfg_InstallChangeImmediate("vectorformats", 16, 1, "GeoJSON", "instance", 1, list, &err);
  ecfg_SaveChangeList("vectorformats", 0, &err);
  ASSERT_EQ(err, nullptr);
  EXPECT_EQ(ReadText(Global() / "vectorformats.cfg"),
            "[Shapefile]\ninstance = $TAVIRON_HOME/shape.dll\ntemplate = *.shp\n\n"
            "[Coverage]\ninstance = cover.dll\n\n[GeoJSON]\ninstance = geojson.so\n\n");
  EXPECT_EQ(ReadText(Personal() / "vectorformats.cfg"), "[Shapefile]\ntemplate = *.SHP\n[Tiger]\nisdir = 1\n");
  ecfg_Init(&err);
  EXPECT_EQ(Strings(ecfg_QueryCreateAndExecute("vectorformats", nullptr, nullptr, "instance",
                                               ECFG_QUERY_KEY_VALUES, &err)),
            (Items{"$TAVIRON_HOME/shape.dll", "cover.dll", "geojson.so"}));

  // Errors.
  struct Bad {
    int32_t operation;
    const char *name, *key;
    int32_t kind;
    void *value;
  };
  const char *two[] = {"a", "b"};
  Estr_StringList *pair = estr_StringToStringList(2, two, &err);
  const Bad bad[] = {
      {7, "GeoJSON", "instance", 1, list},
      {16, "GeoJSON", "instance", 0, nullptr},
      {16, "GeoJSON", "instance", 1, pair},
      {16, "Nowhere", "instance", 1, list},
      {16, "GeoJSON", "bad=key", 1, list},
      {2, "vectorformats", nullptr, 0, nullptr},
  };
  for (const Bad &b : bad) {
    SCOPED_TRACE(b.operation);
    ecfg_InstallChangeImmediate("vectorformats", b.operation, 1, b.name, b.key, b.kind, b.value, &err);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->reporter, "ecfg_InstallChangeImmediate");
    eerr_DeleteErrorReportEx(&err);
  }
  ecfg_SetDatabaseLevel("vectorformats", "/elsewhere", nullptr, &err);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  ecfg_SetDatabaseLevel("vectorformats", nullptr, "other", &err);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  estr_StringListDelete(pair, nullptr);
  estr_StringListDelete(list, nullptr);
}

TEST_F(Configuration, WriteCategory) {
  Eerr_ErrorReport *err = nullptr;
  ecfg_WriteCategory("vectorformats", "Shapefile", root_.c_str(), "backup", &err);
  ASSERT_EQ(err, nullptr);
  EXPECT_EQ(ReadText(root_ / "vectorformats.backup.cfg"),
            "[Shapefile]\ninstance = $TAVIRON_HOME/shape.dll\ntemplate = job.shp\n\n");
  ecfg_WriteCategory("vectorformats", nullptr, root_.c_str(), nullptr, &err);
  ASSERT_EQ(err, nullptr);
  EXPECT_EQ(Strings(ecfg_QueryCreateAndExecute("vectorformats", nullptr, nullptr, nullptr, ECFG_QUERY_INSTANCES, &err)),
            (Items{"Shapefile", "Coverage", "Tiger"}));
  EXPECT_NE(ReadText(root_ / "vectorformats.cfg").find("[Tiger]\nisdir = 1\n"), std::string::npos);

  WriteText(Personal() / "printers.cfg", "[lp1]\nmodel = X\n");
  ecfg_WriteCategory("Printers", nullptr, root_.c_str(), "", &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_FALSE(fs::exists(root_ / "Printers.cfg"));

  ecfg_WriteCategory("vectorformats", "Nowhere", root_.c_str(), nullptr, &err);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
  ecfg_WriteCategory("vectorformats", nullptr, (root_ / "missing").c_str(), nullptr, &err);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
}

TEST_F(Configuration, InstancePreferences) {
  WriteText(Personal() / "printers.cfg",
            "[lp1]\nmodel = Laser\nnumcopies = 2\ncolor = yes\nunittype = millimeter\n");
  WriteText(Personal() / "printers.prf", "lp1/numcopies = 3\n"); // the template level answers first
  Eerr_ErrorReport *err = nullptr;
  ecfg_Init(&err);
  EXPECT_DOUBLE_EQ(ecfg_GetNumberPreference("printers", "lp1", "numcopies", 1, &err), 3);
  EXPECT_EQ(ecfg_GetBooleanPreference("printers", "LP1", "color", 0, &err), 1);
  char *units = ecfg_GetEnumPreference("printers", "lp1", "unittype", "inch", &err);
  char *model = ecfg_GetStringPreference("printers", "lp1", "model", nullptr, &err);
  EXPECT_EQ(err, nullptr);
  EXPECT_STREQ(units, "millimeter");
  EXPECT_STREQ(model, "Laser");
  emsc_HeapFree(units);
  emsc_HeapFree(model);

  char *device = ecfg_GetStringPreference("printers", "lp1", "device", "/dev/null", &err);
  EXPECT_STREQ(device, "/dev/null");
  emsc_HeapFree(device);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "ecfg_GetStringPreference");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_DOUBLE_EQ(ecfg_GetNumberPreference("printers", "lp1", "model", 9, &err), 9);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
}

TEST_F(Configuration, CorruptFilesReportOnFirstUse) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"key before section", "model = X\n[lp1]\n"},
      {"unclosed section", "[lp1\nmodel = X\n"},
      {"empty section", "[ ]\n"},
      {"nested bracket", "[a[b]]\n"},
      {"missing equals", "[lp1]\nmodel\n"},
      {"empty key", "[lp1]\n = X\n"},
      {"truncated quote", "[lp1]\nmodel = \"Las"},
      {"NUL byte", std::string("[lp1]\nmo\0del = X\n", 17)},
  };
  int index = 0;
  for (const auto &[what, text] : cases) {
    SCOPED_TRACE(what);
    const std::string name = "devices" + std::to_string(index++); // a class not read before
    WriteText(Personal() / (name + ".cfg"), text);
    WriteText(Global() / (name + ".cfg"), "[lp0]\nmodel = Old\n");
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(ecfg_QueryCreateAndExecute(name.c_str(), nullptr, nullptr, nullptr, ECFG_QUERY_INSTANCES, &err),
              nullptr);
    ASSERT_NE(err, nullptr);
    eerr_DeleteErrorReportEx(&err);
    // Afterwards the readable levels answer and the corrupt file is never overwritten.
    EXPECT_EQ(Strings(ecfg_QueryCreateAndExecute(name.c_str(), nullptr, nullptr, nullptr, ECFG_QUERY_INSTANCES, &err)),
              Items{"lp0"});
    ecfg_SetDatabaseLevel(name.c_str(), Personal().c_str(), "", &err);
    ecfg_InstallChangeImmediate(name.c_str(), 2, 1, name.c_str(), "lp9", 0, nullptr, &err);
    ASSERT_EQ(err, nullptr);
    ecfg_SaveChangeList(name.c_str(), 0, &err);
    EXPECT_NE(err, nullptr);
    eerr_DeleteErrorReportEx(&err);
    EXPECT_EQ(ReadText(Personal() / (name + ".cfg")), text);
    // ecfg_Init reports it again.
    ecfg_Init(&err);
    EXPECT_NE(err, nullptr);
    eerr_DeleteErrorReportEx(&err);
    fs::remove(Personal() / (name + ".cfg"));
  }
}

TEST_F(Configuration, WithoutDirectoriesChangesCannotBeSaved) {
  unsetenv("NORIX_CFG_PATH");
  unsetenv("NORIX_CFG_DATABASES");
  Eerr_ErrorReport *err = nullptr;
  ecfg_Init(&err);
  int32_t current = 5;
  EXPECT_EQ(Strings(ecfg_GetDatabaseDirectories("cdroms", &current, &err)), Items{});
  EXPECT_EQ(current, -1);
  EXPECT_EQ(Strings(ecfg_GetDatabases("cdroms", &current, &err)), Items{""});
  EXPECT_EQ(current, 0);
  ecfg_InstallChangeImmediate("cdroms", 2, 1, "cdroms", "cd0", 0, nullptr, &err);
  ASSERT_EQ(err, nullptr);
  EXPECT_EQ(Strings(ecfg_QueryCreateAndExecute("cdroms", nullptr, nullptr, nullptr, ECFG_QUERY_INSTANCES, &err)),
            Items{"cd0"});
  ecfg_SaveChangeList("cdroms", 0, &err);
  EXPECT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
}

TEST_F(Configuration, QuerySurvivesAllocationFailures) {
  Eerr_ErrorReport *err = nullptr;
  estr_StringListDelete(ecfg_QueryCreateAndExecute("vectorformats", nullptr, nullptr, "instance",
                                                   ECFG_QUERY_KEY_VALUES, &err), nullptr);
  for (int32_t flags : {ECFG_QUERY_INSTANCES, ECFG_QUERY_KEY_VALUES, ECFG_QUERY_INSTANCE_PAIRS}) {
    SCOPED_TRACE(flags);
    taviron::testing::SweepAllocationFailures([flags](Eerr_ErrorReport **e) {
      Estr_StringList *list = ecfg_QueryCreateAndExecute("vectorformats", nullptr, "Shapefile", "instance", flags, e);
      estr_StringListDelete(list, nullptr);
      return list != nullptr;
    });
  }
}

// Hooks installed by the session services replace the local databases.
int32_t hookCalls = 0;
Estr_StringList *QueryHook(const char *, const char *, const char *, const char *, int32_t flags,
                           Eerr_ErrorReport **err) {
  ++hookCalls;
  const char *one[] = {"remote"};
  return flags == ECFG_QUERY_INSTANCES ? estr_StringToStringList(1, one, err) : nullptr;
}
char *GetClassHook(const char *) { ++hookCalls; return nullptr; }
void InitHook(Eerr_ErrorReport **err) { ++hookCalls; *err = nullptr; }
void PreferenceGetHook(Epmg_Preference **record, Eerr_ErrorReport **err) {
  ++hookCalls;
  (*record)->valueType = EPMG_TYPE_STRING;
  (*record)->value.string = estr_Duplicate("remote");
  *err = nullptr;
}
std::string written;
void WriteCategoryHook(const char *className, const char *, const char *, const char *, Eerr_ErrorReport **) {
  written = className;
}

TEST_F(Configuration, InstalledHooksAnswer) {
  Eerr_ErrorReport *err = nullptr;
  ecfg_ImplementationMethodsSet(ECFG_METHOD_INIT, &InitHook, ECFG_METHOD_QUERY, &QueryHook,
                                ECFG_METHOD_GET_CLASS, &GetClassHook, ECFG_METHOD_PREFERENCE_GET,
                                &PreferenceGetHook, ECFG_METHOD_WRITE_CATEGORY, &WriteCategoryHook, 0, &err);
  ASSERT_EQ(err, nullptr);
  ecfg_Init(&err);
  EXPECT_EQ(Strings(ecfg_QueryCreateAndExecute("vectorformats", nullptr, nullptr, nullptr, ECFG_QUERY_INSTANCES, &err)),
            Items{"remote"});
  EXPECT_EQ(ecfg_GetClass("vectorformats"), nullptr);
  char *model = ecfg_GetStringPreference("printers", "lp1", "model", nullptr, &err);
  EXPECT_STREQ(model, "remote");
  emsc_HeapFree(model);
  char *tmpdir = epmg_GetStringPreference("zav", "tmpdir", nullptr, &err); // through the same hook
  EXPECT_STREQ(tmpdir, "remote");
  emsc_HeapFree(tmpdir);
  EXPECT_EQ(hookCalls, 5);
  ecfg_WriteCategory("printers", nullptr, "/tmp", nullptr, &err);
  EXPECT_EQ(written, ""); // printers are never written, not even through the hook
  ecfg_WriteCategory("cdroms", nullptr, "/tmp", nullptr, &err);
  EXPECT_EQ(written, "cdroms");

  ecfg_ImplementationMethodsSet(ECFG_METHOD_QUERY, nullptr, 11, &QueryHook, 0, &err);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 1);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(Strings(ecfg_QueryCreateAndExecute("x", nullptr, nullptr, nullptr, ECFG_QUERY_INSTANCES, &err)),
            Items{"remote"});

  ecfg_ImplementationMethodsSet(ECFG_METHOD_INIT, nullptr, ECFG_METHOD_QUERY, nullptr, ECFG_METHOD_GET_CLASS,
                                nullptr, ECFG_METHOD_PREFERENCE_GET, nullptr, ECFG_METHOD_WRITE_CATEGORY,
                                nullptr, 0, &err);
  ASSERT_EQ(err, nullptr);
  EXPECT_EQ(Strings(ecfg_QueryCreateAndExecute("vectorformats", nullptr, nullptr, nullptr, ECFG_QUERY_INSTANCES, &err)),
            (Items{"Shapefile", "Coverage", "Tiger"}));
}

} // namespace
