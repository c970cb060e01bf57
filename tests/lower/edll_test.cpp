#include "edll.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <string>
#include <vector>

#include "emsc.h"
#include "taviron_testing.h"

namespace {

const std::string kAlpha = std::string(TAVIRON_PLUGIN_DIR) + "/plugin_alpha.so";
const std::string kBeta = std::string(TAVIRON_PLUGIN_DIR) + "/plugin_beta.so";

// True while the shared object is in the process.
bool Loaded(const std::string &path) {
  void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return false;
  dlclose(handle); // give back the use that the look itself counted
  return true;
}

// What the test load operation makes: the instance name and the plug-in's entries.
struct Plugin {
  char *name;
  int32_t (*value)();
  int32_t (*count)();
  const char *(*title)();
};

std::vector<std::string> events; // "load <instance> <dll> <flag>" and "free <instance>"
bool failLoad = false;
bool emptyLoad = false;

char *Copy(const char *text) {
  auto *copy = static_cast<char *>(emsc_HeapMalloc(std::strlen(text) + 1));
  if (copy) std::strcpy(copy, text);
  return copy;
}

void *Load(const char *instanceName, Edll_Handle handle, const char *dllName, int32_t flag,
           Eerr_ErrorReport **err) {
  events.push_back("load " + std::string(instanceName) + " " + dllName + " " + std::to_string(flag));
  if (failLoad) {
    *err = eerr_CreateErrorReport("Load", 3, EERR_FATAL, nullptr, "%s missing", "AlphaValue", 0);
    return nullptr;
  }
  if (emptyLoad) return nullptr;
  auto *plugin = static_cast<Plugin *>(emsc_HeapMalloc(sizeof(Plugin)));
  if (!plugin || !(plugin->name = Copy(instanceName))) {
    emsc_HeapFree(plugin);
    *err = eerr_CreateErrorReport("Load", 1, EERR_FATAL, nullptr, "Error allocating plug-in", 0);
    return nullptr;
  }
  const char *entries[] = {"AlphaValue", "AlphaCount", "InstanceTitle"};
  void *slots[3] = {};
  for (int i = 0; i < 3; ++i) {
    slots[i] = edll_FindIfPresent(handle, entries[i], dllName, err);
    if (*err) {
      emsc_HeapFree(plugin->name);
      emsc_HeapFree(plugin);
      return nullptr;
    }
  }
  plugin->value = reinterpret_cast<int32_t (*)()>(slots[0]);
  plugin->count = reinterpret_cast<int32_t (*)()>(slots[1]);
  plugin->title = reinterpret_cast<const char *(*)()>(slots[2]);
  return plugin;
}

void Free(void *object) {
  auto *plugin = static_cast<Plugin *>(object);
  events.push_back("free " + std::string(plugin->name));
  emsc_HeapFree(plugin->name);
  emsc_HeapFree(plugin);
}

Plugin *Open(const char *className, const std::string &path, const char *instance,
             Eerr_ErrorReport **err) {
  return static_cast<Plugin *>(
      edll_InstanceOpenByClassName(className, path.c_str(), instance, 1, Load, Free, err));
}

class EdllInstance : public ::testing::Test {
protected:
  void SetUp() override {
    events.clear();
    failLoad = emptyLoad = false;
    live = emsc_TestLiveBlocks();
  }
  void TearDown() override {
    edll_InstanceCloseAll();
    EXPECT_FALSE(Loaded(kAlpha));
    EXPECT_FALSE(Loaded(kBeta));
    EXPECT_EQ(emsc_TestLiveBlocks(), live);
  }
  int64_t live = 0;
  Eerr_ErrorReport *err = nullptr;
};

} // namespace

TEST(EdllEntries, LookupsTellAbsentEntriesFromErrors) {
  Eerr_ErrorReport *err = nullptr;
  Edll_Handle handle = edll_Open(kBeta.c_str(), &err);
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(err, nullptr);

  auto *value = reinterpret_cast<int32_t (*)()>(edll_FindIfPresent(handle, "BetaValue", "beta", &err));
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value(), 7);
  EXPECT_EQ(edll_FindIfPresent(handle, "AlphaValue", "beta", &err), nullptr);
  EXPECT_EQ(err, nullptr); // absent is not an error
  EXPECT_NE(edll_Find(handle, "BetaValue", &err), nullptr);
  EXPECT_EQ(err, nullptr);

  struct Case {
    const char *what;
    void *(*call)(Edll_Handle, Eerr_ErrorReport **);
    const char *reporter;
    int32_t code;
  };
  const Case cases[] = {
      {"missing entry", [](Edll_Handle h, Eerr_ErrorReport **e) { return edll_Find(h, "AlphaValue", e); },
       "edll_Find", 2},
      {"null handle", [](Edll_Handle, Eerr_ErrorReport **e) { return edll_Find(nullptr, "BetaValue", e); },
       "edll_Find", 1},
      {"null name", [](Edll_Handle h, Eerr_ErrorReport **e) { return edll_Find(h, nullptr, e); },
       "edll_Find", 1},
      {"null handle", [](Edll_Handle, Eerr_ErrorReport **e) { return edll_FindIfPresent(nullptr, "BetaValue", "beta", e); },
       "edll_FindIfPresent", 1},
      {"null name", [](Edll_Handle h, Eerr_ErrorReport **e) { return edll_FindIfPresent(h, nullptr, nullptr, e); },
       "edll_FindIfPresent", 2},
      {"empty name", [](Edll_Handle h, Eerr_ErrorReport **e) { return edll_FindIfPresent(h, "", "beta", e); },
       "edll_FindIfPresent", 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.reporter) + ": " + c.what);
    EXPECT_EQ(c.call(handle, &err), nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->reporter, c.reporter);
    EXPECT_EQ(err->code, c.code);
    EXPECT_EQ(err->severity, EERR_FATAL);
    eerr_DeleteErrorReportEx(&err);
    EXPECT_EQ(c.call(handle, nullptr), nullptr); // a null slot is accepted
  }
  dlclose(handle);
}

TEST(EdllEntries, OpenReportsWhatTheLoaderSays) {
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(edll_Open(nullptr, &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 1);
  eerr_DeleteErrorReportEx(&err);

  const std::string missing = std::string(TAVIRON_PLUGIN_DIR) + "/no_such_plugin.so";
  EXPECT_EQ(edll_Open(missing.c_str(), &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 2);
  EXPECT_NE(std::string(err->message).find(missing), std::string::npos) << err->message;
  eerr_DeleteErrorReportEx(&err);

  // A file that is not a shared object.
  EXPECT_EQ(edll_Open(__FILE__, &err), nullptr);
  ASSERT_NE(err, nullptr);
  eerr_DeleteErrorReportEx(&err);
}

TEST_F(EdllInstance, OpeningAgainReusesTheInstanceAndOnlyTheLastCloseUnloads) {
  Plugin *first = Open("DBConnect_plugin_alpha.so", kAlpha, nullptr, &err);
  ASSERT_EQ(err, nullptr);
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->name, kAlpha.c_str()); // without a name the instance is named by its path
  EXPECT_EQ(first->value(), 42);
  EXPECT_EQ(first->count(), 1);

  Plugin *second = Open("DBConnect_plugin_alpha.so", kAlpha, nullptr, &err);
  ASSERT_EQ(err, nullptr);
  EXPECT_EQ(second, first);
  EXPECT_EQ(events, std::vector<std::string>{"load " + kAlpha + " " + kAlpha + " 1"});

  // Two users: the first close leaves the object to the second.
  EXPECT_EQ(edll_InstanceClose(first->name), 0);
  EXPECT_TRUE(Loaded(kAlpha));
  EXPECT_EQ(second->count(), 2);
  EXPECT_EQ(edll_InstanceClose(kAlpha.c_str()), 0);
  EXPECT_EQ(events.back(), "free " + kAlpha);
  EXPECT_FALSE(Loaded(kAlpha));
  EXPECT_EQ(edll_InstanceClose(kAlpha.c_str()), -1);

  // Opened anew, the shared object starts from scratch.
  Plugin *third = Open("DBConnect_plugin_alpha.so", kAlpha, nullptr, &err);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(third->count(), 1);
}

TEST_F(EdllInstance, EveryInstanceNameLoadsOnceAndHoldsItsOwnUseOfTheObject) {
  Plugin *a = Open("FontServers", kAlpha, "alpha-1", &err);
  Plugin *b = Open("FontServers", kAlpha, "alpha-2", &err);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->count(), 1);
  EXPECT_EQ(b->count(), 2); // one shared object behind both instances
  EXPECT_EQ(events.size(), 2u);
  EXPECT_EQ(edll_InstanceClose("alpha-1"), 0);
  EXPECT_TRUE(Loaded(kAlpha));
  EXPECT_EQ(b->value(), 42);
  EXPECT_EQ(edll_InstanceClose("alpha-2"), 0);
  EXPECT_FALSE(Loaded(kAlpha));
}

TEST_F(EdllInstance, FindGivesThePathOfAnOpenInstance) {
  ASSERT_NE(Open("FontServers", kBeta, "beta", &err), nullptr);
  char *path = edll_InstanceFind("FontServers", "beta", &err);
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(path, kBeta);
  emsc_HeapFree(path);

  const char *lookups[][2] = {{"FontServers", "alpha"}, {"VectorFormats", "beta"}, {nullptr, "beta"},
                              {"FontServers", nullptr}};
  for (const auto &lookup : lookups) {
    EXPECT_EQ(edll_InstanceFind(lookup[0], lookup[1], &err), nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->reporter, "edll_InstanceFind");
    eerr_DeleteErrorReportEx(&err);
  }
  // The entry points of the instance's object come from that object.
  Plugin *beta = Open("FontServers", kBeta, "beta", &err);
  EXPECT_EQ(beta->value, nullptr);
  EXPECT_STREQ(beta->title(), "beta");
}

TEST_F(EdllInstance, AFailedLoadLeavesNothingOpen) {
  failLoad = true;
  EXPECT_EQ(Open("RasterFormatImporters", kAlpha, "alpha", &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->reporter, "edll_InstanceOpenByClassName");
  EXPECT_EQ(err->code, 6);
  ASSERT_NE(err->next, nullptr);
  EXPECT_STREQ(err->next->message, "AlphaValue missing");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_FALSE(Loaded(kAlpha));
  EXPECT_EQ(edll_InstanceClose("alpha"), -1);
  EXPECT_EQ(Open("RasterFormatImporters", kAlpha, "alpha", nullptr), nullptr); // null slot

  // A missing file: the load operation is never called.
  events.clear();
  failLoad = false;
  EXPECT_EQ(Open("RasterFormatImporters", kAlpha + ".gone", "alpha", &err), nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(err->code, 5);
  EXPECT_STREQ(err->next->reporter, "edll_Open");
  eerr_DeleteErrorReportEx(&err);
  EXPECT_TRUE(events.empty());
}

TEST_F(EdllInstance, ALoadWithoutObjectKeepsTheInstanceOpen) {
  // A load operation may register what it finds elsewhere and return no object.
  emptyLoad = true;
  EXPECT_EQ(edll_InstanceOpenByClassName("FileFilter", kAlpha.c_str(), nullptr, 1, Load, nullptr, &err),
            nullptr);
  EXPECT_EQ(err, nullptr);
  EXPECT_TRUE(Loaded(kAlpha));
  char *path = edll_InstanceFind("FileFilter", kAlpha.c_str(), &err);
  EXPECT_EQ(path, kAlpha);
  emsc_HeapFree(path);
  EXPECT_EQ(edll_InstanceClose(kAlpha.c_str()), 0);
  EXPECT_EQ(events.size(), 1u); // no free operation for no object
}

TEST_F(EdllInstance, InvalidRequestsAreRefused) {
  struct Case {
    const char *className;
    const char *path;
    const char *instance;
    Edll_LoadFunc load;
    int32_t code;
  };
  ASSERT_NE(Open("FontServers", kAlpha, "shared", &err), nullptr);
  const Case cases[] = {
      {nullptr, kAlpha.c_str(), "a", Load, 1},
      {"", kAlpha.c_str(), "a", Load, 1},
      {"FontServers", nullptr, "a", Load, 1},
      {"FontServers", kAlpha.c_str(), "a", nullptr, 1},
      // the same class and name from another file would hand out the wrong object
      {"FontServers", kBeta.c_str(), "shared", Load, 3},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(edll_InstanceOpenByClassName(c.className, c.path, c.instance, 1, c.load, Free, &err),
              nullptr);
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(err->code, c.code);
    eerr_DeleteErrorReportEx(&err);
  }
  EXPECT_FALSE(Loaded(kBeta));
  EXPECT_EQ(events.size(), 1u);
  EXPECT_EQ(edll_InstanceClose(nullptr), -1);
  EXPECT_EQ(edll_InstanceClose("unknown"), -1);
}

TEST_F(EdllInstance, CloseAllFreesEveryInstanceTheLastOpenedFirst) {
  ASSERT_NE(Open("FontServers", kAlpha, "one", &err), nullptr);
  ASSERT_NE(Open("DBConnect_b", kBeta, "two", &err), nullptr);
  ASSERT_NE(Open("DBConnect_b", kBeta, "two", &err), nullptr); // opened twice: still one free
  ASSERT_NE(Open("VectorFormats_a", kAlpha, "three", &err), nullptr);
  events.clear();
  edll_InstanceCloseAll();
  const std::vector<std::string> expected = {"free three", "free two", "free one"};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(edll_InstanceClose("one"), -1);
  edll_InstanceCloseAll(); // nothing left: nothing happens
}

TEST_F(EdllInstance, ANameInTwoClassesClosesTheOneOpenedLast) {
  ASSERT_NE(Open("FontServers", kAlpha, "common", &err), nullptr);
  ASSERT_NE(Open("FileFilter", kBeta, "common", &err), nullptr);
  EXPECT_EQ(edll_InstanceClose("common"), 0);
  EXPECT_FALSE(Loaded(kBeta));
  EXPECT_TRUE(Loaded(kAlpha));
  char *path = edll_InstanceFind("FontServers", "common", &err);
  EXPECT_EQ(path, kAlpha);
  emsc_HeapFree(path);
}

TEST_F(EdllInstance, OpeningSurvivesEveryAllocationFailure) {
  const auto counts = taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) {
        if (Open("FontServers", kAlpha, "alpha", e)) return true;
        if (*e) {
          EXPECT_STREQ((*e)->reporter, "edll_InstanceOpenByClassName");
        }
        EXPECT_FALSE(Loaded(kAlpha));
        return false;
      },
      [] { EXPECT_EQ(edll_InstanceClose("alpha"), 0); }, {.limit = 50});
  EXPECT_GE(counts.heap, 3);
}
