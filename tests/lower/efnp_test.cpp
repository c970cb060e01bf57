#include "efnp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emsc.h"
#include "taviron_testing.h"

namespace {

// Takes a heap string from the layer and frees it.
std::string Take(char *text) {
  std::string copy = text ? text : "<null>";
  emsc_HeapFree(text);
  return copy;
}

// Checks that the slot holds a report of reporter, and drops it.
void ExpectReport(Eerr_ErrorReport *&err, const char *reporter, const std::string &context) {
  ASSERT_NE(err, nullptr) << context;
  EXPECT_STREQ(err->reporter, reporter) << context;
  EXPECT_EQ(err->severity, EERR_FATAL) << context;
  eerr_DeleteErrorReportEx(&err);
}

} // namespace

TEST(EfnpFileNodeList, ParsesBothFormsAndDriveLetters) {
  struct Case {
    const char *name;
    const char *file;
    std::vector<std::string> nodes;
  } cases[] = {
      {"image.img", "image.img", {}},
      {"image.img(:Layer_1)", "image.img", {":Layer_1"}},
      {"dir/x.ovr(:Annotation)", "dir/x.ovr", {":Annotation"}},
      {"f.img(:a:b)", "f.img", {":a:b"}},
      {"f.img(:a,:b:c)", "f.img", {":a", ":b:c"}},
      {"f.img(:)", "f.img", {":"}},
      {"f.img:Layer_1", "f.img", {":Layer_1"}},
      {"f.img:a:b", "f.img", {":a:b"}},
      {"/data/run (2)/f.img(:Map Composition)", "/data/run (2)/f.img", {":Map Composition"}},
      {"copy (old)", "copy (old)", {}},           // parentheses without ":" are part of the file
      {"C:/data/x.img", "C:/data/x.img", {}},      // drive letter, no node
      {"C:\\data\\x.img:Layer_1", "C:\\data\\x.img", {":Layer_1"}},
      {"C:/data/x.img(:Layer_1)", "C:/data/x.img", {":Layer_1"}},
      {"a:Layer_1", "a", {":Layer_1"}},            // one-letter file, not a drive
      {"C:", "C:", {}},                            // a drive alone
  };
  for (const Case &c : cases) {
    Eerr_ErrorReport *err = nullptr;
    Efnp_NodeList *list = efnp_FileNodeListParse(c.name, &err);
    ASSERT_NE(list, nullptr) << c.name;
    EXPECT_EQ(err, nullptr);
    ASSERT_EQ(list->fileCount, 1) << c.name;
    EXPECT_STREQ(list->files[0], c.file) << c.name;
    ASSERT_EQ(list->nodeCount, static_cast<int32_t>(c.nodes.size())) << c.name;
    for (size_t i = 0; i < c.nodes.size(); ++i) EXPECT_EQ(list->nodes[i], c.nodes[i]) << c.name;
    efnp_FreeNodeList(list, &err);
    EXPECT_EQ(err, nullptr);
  }
}

TEST(EfnpFileNodeList, RejectsInvalidNames) {
  for (const char *name : {static_cast<const char *>(nullptr), "", "(:a)", ":a", "f.img(:a",
                           "f.img(:a)x", "f.img(:a::b)", "f.img(:a:)", "f.img::a", "f.img(:a,)",
                           "f.img(:a,b)", "f.img:a(b"}) {
    Eerr_ErrorReport *err = nullptr;
    const std::string context = name ? name : "(null)";
    EXPECT_EQ(efnp_FileNodeListParse(name, &err), nullptr) << context;
    ExpectReport(err, "efnp_FileNodeListParse", context);
  }
  efnp_FreeNodeList(nullptr, nullptr);
}

TEST(EfnpFileNodeList, GetAndSetParts) {
  struct Case {
    const char *name;
    int32_t mask;
    const char *expected;
  } cases[] = {
      {"x.map(:Comps:Map Composition)", EFNP_FILE_PART, "x.map"},
      {"x.map(:Comps:Map Composition)", EFNP_NODE_PART, ":Comps:Map Composition"},
      {"x.map(:Comps:Map Composition)", EFNP_PARENT_PATH, ":Comps"},
      {"x.map(:Comps:Map Composition)", EFNP_NODE_NAME, "Map Composition"},
      {"x.map(:Comps)", EFNP_FILE_PART | EFNP_NODE_PART, "x.map(:Comps)"},
      {"x.map:Comps", EFNP_FILE_PART | EFNP_NODE_PART, "x.map(:Comps)"},
      {"x.map", EFNP_NODE_PART, ""},
      {"x.map", EFNP_NODE_NAME, ""},
      {"x.map", EFNP_FILE_PART | EFNP_NODE_PART, "x.map"},
      {"x.img(:a,:b)", EFNP_NODE_PART, ":a"},
  };
  for (const Case &c : cases) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(Take(efnp_FileNodeListGet(c.name, c.mask, 0, 0, &err)), c.expected)
        << c.name << " " << c.mask;
    EXPECT_EQ(err, nullptr);
  }

  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(efnp_FileNodeListGet("x.map", 0, 0, 0, &err), nullptr);
  ExpectReport(err, "efnp_FileNodeListGet", "mask 0");
  EXPECT_EQ(efnp_FileNodeListGet("x.map(:a", EFNP_FILE_PART, 0, 0, &err), nullptr);
  ASSERT_NE(err, nullptr);
  ASSERT_NE(err->next, nullptr); // the parse failure is chained
  EXPECT_STREQ(err->next->reporter, "efnp_FileNodeListParse");
  eerr_DeleteErrorReportEx(&err);

  EXPECT_EQ(Take(efnp_FileNodeListSet("f.fsp", ":FS_PairList", EFNP_NODE_PART, 0, &err)),
            "f.fsp(:FS_PairList)");
  EXPECT_EQ(Take(efnp_FileNodeListSet("f.fsp", "Layer_1", EFNP_NODE_PART, 0, &err)),
            "f.fsp(:Layer_1)");
  EXPECT_EQ(Take(efnp_FileNodeListSet("f.fsp", ":a", EFNP_FILE_PART, 0, &err)), "f.fsp");
  EXPECT_EQ(Take(efnp_FileNodeListSet("f.fsp", nullptr, EFNP_NODE_PART, 0, &err)), "f.fsp");
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(efnp_FileNodeListSet("", ":a", EFNP_NODE_PART, 0, &err), nullptr);
  ExpectReport(err, "efnp_FileNodeListSet", "empty file");
}

TEST(EfnpNodeName, SplitsAtTheLastColonAndJoins) {
  struct Case {
    const char *path, *parent, *name;
  } cases[] = {
      {":a:b", ":a", "b"},
      {":Annotation", ":", "Annotation"},
      {":a:b:c", ":a:b", "c"},
      {"f.img(:Layer_1)", "f.img(", "Layer_1)"}, // a layer name: the node part follows
      {"C:/x.img:Layer_1", "C:/x.img", "Layer_1"},
  };
  for (const Case &c : cases) {
    Eerr_ErrorReport *err = nullptr;
    Efnp_NodeName *parsed = efnp_NodeNameParse(c.path, &err);
    ASSERT_NE(parsed, nullptr) << c.path;
    EXPECT_STREQ(parsed->parentPath, c.parent) << c.path;
    EXPECT_STREQ(parsed->nodeName, c.name) << c.path;
    efnp_FreeNodeName(parsed, &err);
    EXPECT_EQ(err, nullptr);
  }
  for (const char *bad : {static_cast<const char *>(nullptr), "", ":", ":a:", "plain", "C:/x"}) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(efnp_NodeNameParse(bad, &err), nullptr) << (bad ? bad : "(null)");
    ExpectReport(err, "efnp_NodeNameParse", bad ? bad : "(null)");
  }

  struct Join {
    const char *parent, *name, *expected;
  } joins[] = {
      {":", "StyleLibrary", ":StyleLibrary"},
      {":a", "b", ":a:b"},
      {":a:", "b", ":a:b"},
      {nullptr, "b", ":b"},
      {"", "b", ":b"},
      {":a", ":b", ":a:b"},
  };
  for (const Join &j : joins) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(Take(efnp_PathJoin(j.parent, j.name, &err)), j.expected);
    EXPECT_EQ(err, nullptr);
  }
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(efnp_PathJoin(":a", "", &err), nullptr);
  ExpectReport(err, "efnp_PathJoin", "empty name");
}

TEST(EfnpNodePath, GetSetAndLengthByPosition) {
  struct Get {
    const char *path;
    int32_t part, position;
    const char *expected; // null: a report
  } gets[] = {
      {":a:b:c", EFNP_NODE_NAME, 1, "a"},
      {":a:b:c", EFNP_NODE_NAME, 3, "c"},
      {":a:b:c", EFNP_NODE_NAME, 0, "c"},
      {":a:b:c", EFNP_NODE_NAME, -1, "c"},
      {":a:b:c", EFNP_NODE_NAME, -3, "a"},
      {":a:b:c", EFNP_PARENT_PATH, 0, ":a:b"},
      {":a:b:c", EFNP_PARENT_PATH, 2, ":a"},
      {":a:b:c", EFNP_PARENT_PATH, 1, ":"},
      {":Map Composition", EFNP_PARENT_PATH, 0, ":"},
      {"a:b", EFNP_NODE_NAME, -1, "b"}, // the leading ":" may be left out
      {":a:b:c", EFNP_NODE_NAME, 4, nullptr},
      {":a:b:c", EFNP_NODE_NAME, -4, nullptr},
      {":", EFNP_NODE_NAME, 0, nullptr},
      {":a::c", EFNP_NODE_NAME, 0, nullptr},
      {":a", EFNP_NODE_PART, 0, nullptr},
  };
  for (const Get &g : gets) {
    Eerr_ErrorReport *err = nullptr;
    char *piece = efnp_NodePathGet(g.path, g.part, g.position, &err);
    const std::string context = std::string(g.path) + " " + std::to_string(g.position);
    if (g.expected) {
      EXPECT_EQ(Take(piece), g.expected) << context;
      EXPECT_EQ(err, nullptr);
    } else {
      EXPECT_EQ(piece, nullptr) << context;
      ExpectReport(err, "efnp_NodePathGet", context);
    }
  }

  struct Set {
    const char *path, *name;
    int32_t position;
    const char *expected;
  } sets[] = {
      {":", "Map Composition", 0, ":Map Composition"},  // parent path + name
      {":a", "Map Composition", 0, ":a:Map Composition"},
      {nullptr, "FS_PairList", 0, ":FS_PairList"},
      {":a:b", "x", 1, ":x:b"},
      {":a:b", "x", 2, ":a:x"},
      {":a:b", "x", 3, ":a:b:x"},
      {":a:b", "x", -1, ":a:x"},
      {":a:b", "x", -2, ":x:b"},
      {":Layer_1", "Orig_Layer", 1, ":Orig_Layer"}, // set at the position of the length
      {":a:b", "x", 4, nullptr},
      {":a:b", "x", -3, nullptr},
      {":a:b", "x:y", 0, nullptr},
      {":a:b", "", 0, nullptr},
      {"::", "x", 0, nullptr},
  };
  for (const Set &s : sets) {
    Eerr_ErrorReport *err = nullptr;
    char *path = efnp_NodePathSet(s.path, s.name, EFNP_NODE_NAME, s.position, &err);
    const std::string context = std::string(s.path ? s.path : "(null)") + " " + s.name + " " +
                                std::to_string(s.position);
    if (s.expected) {
      EXPECT_EQ(Take(path), s.expected) << context;
      EXPECT_EQ(err, nullptr);
    } else {
      EXPECT_EQ(path, nullptr) << context;
      ExpectReport(err, "efnp_NodePathSet", context);
    }
  }
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(efnp_NodePathSet(":a", "b", EFNP_PARENT_PATH, 0, &err), nullptr);
  ExpectReport(err, "efnp_NodePathSet", "part 192");

  EXPECT_EQ(efnp_NodePathLength(":a:b:c"), 3);
  EXPECT_EQ(efnp_NodePathLength(":Layer_1"), 1);
  EXPECT_EQ(efnp_NodePathLength(":"), 0);
  EXPECT_EQ(efnp_NodePathLength(nullptr), 0);
  EXPECT_EQ(efnp_NodePathLength(":a::b"), -1);
  EXPECT_STREQ(efnp_NodePathRoot(), ":");
}

TEST(EfnpNodePath, OriginalLayerNameOfATransformLayer) {
  // The node list of a layer name, its length, the node set there, and the name composed again.
  Eerr_ErrorReport *err = nullptr;
  char *node = efnp_FileNodeListGet("out.fft(:Layer_1)", EFNP_NODE_PART, 0, 0, &err);
  ASSERT_NE(node, nullptr);
  char *path = efnp_NodePathSet(node, "Orig_Layer", EFNP_NODE_NAME, efnp_NodePathLength(node), &err);
  EXPECT_EQ(Take(efnp_FileNodeListSet("out.fft", path, EFNP_NODE_PART, 0, &err)),
            "out.fft(:Orig_Layer)");
  EXPECT_EQ(err, nullptr);
  emsc_HeapFree(node);
  emsc_HeapFree(path);
}

TEST(EfnpFileName, BaseNamesJoinsComparisonsAndExternalForm) {
  struct Base {
    const char *path, *expected;
  } bases[] = {
      {"/usr/lib/taviron/importer.so", "importer.so"},
      {"importer.dll", "importer.dll"},
      {"C:\\prog\\font.dll", "font.dll"},
      {"dir/sub/", "sub"},
  };
  for (const Base &b : bases) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(Take(efnp_FileNameGet(b.path, &err)), b.expected);
    EXPECT_EQ(err, nullptr);
  }
  for (const char *bad : {static_cast<const char *>(nullptr), "", "/", "//"}) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(efnp_FileNameGet(bad, &err), nullptr);
    ExpectReport(err, "efnp_FileNameGet", bad ? bad : "(null)");
  }

  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(Take(efnp_FileNameAddName("/home/u/prefs", "antstyles.ads", &err)),
            "/home/u/prefs/antstyles.ads");
  EXPECT_EQ(Take(efnp_FileNameAddName("/home/u/prefs/", "antstyles.ads", &err)),
            "/home/u/prefs/antstyles.ads");
  EXPECT_EQ(Take(efnp_FileNameAddName(nullptr, "antstyles.ads", &err)), "antstyles.ads");
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(efnp_FileNameAddName("/d", nullptr, &err), nullptr);
  ExpectReport(err, "efnp_FileNameAddName", "null name");

  EXPECT_TRUE(efnp_FileNameEquals("*.img", "*.img"));
  EXPECT_FALSE(efnp_FileNameEquals("*.img", "*.IMG"));
  EXPECT_TRUE(efnp_FileNameEquals(nullptr, nullptr));
  EXPECT_FALSE(efnp_FileNameEquals("a", nullptr));
  EXPECT_EQ(efnp_FileNameLength("C:\\"), 3);
  EXPECT_EQ(efnp_FileNameLength(nullptr), 0);

  EXPECT_EQ(Take(efnp_FileNameExternalToInternal("data\\sub\\x.img", &err)), "data/sub/x.img");
  EXPECT_EQ(Take(efnp_FileNameExternalToInternal("/plain/x.img", &err)), "/plain/x.img");
  EXPECT_EQ(err, nullptr);
  EXPECT_EQ(efnp_FileNameExternalToInternal(nullptr, &err), nullptr);
  ExpectReport(err, "efnp_FileNameExternalToInternal", "null");
}

TEST(EfnpAllocation, ParsersReportAndLeakNothingWhenMemoryRunsOut) {
  const int64_t live = emsc_TestLiveBlocks();
  struct Step {
    const char *what;
    bool (*call)(Eerr_ErrorReport **);
  } steps[] = {
      {"FileNodeListParse", [](Eerr_ErrorReport **err) {
         Efnp_NodeList *list = efnp_FileNodeListParse("f.img(:a,:b:c)", err);
         efnp_FreeNodeList(list, nullptr);
         return list != nullptr;
       }},
      {"NodeNameParse", [](Eerr_ErrorReport **err) {
         Efnp_NodeName *name = efnp_NodeNameParse(":a:b", err);
         efnp_FreeNodeName(name, nullptr);
         return name != nullptr;
       }},
      {"NodePathSet", [](Eerr_ErrorReport **err) {
         char *path = efnp_NodePathSet(":a", "b", EFNP_NODE_NAME, 0, err);
         emsc_HeapFree(path);
         return path != nullptr;
       }},
  };
  for (const Step &step : steps) {
    SCOPED_TRACE(step.what);
    taviron::testing::SweepAllocationFailures(step.call, {.limit = 50});
  }
  EXPECT_EQ(emsc_TestLiveBlocks(), live);
}
