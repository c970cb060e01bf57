#include "ehfa.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "crash_testing.h"
#include "efio.h"
#include "emif_internal.h"
#include "emif_records.h"
#include "emsc.h"
#include "hfa_testing.h"
#include "taviron_testing.h"

namespace {

using taviron::lower::testing::Sql;
using taviron::lower::testing::SqlBehindTheIndexes;
using taviron::testing::Chain;
using taviron::testing::ErrorSlot;
using taviron::testing::Reported;

using namespace emif_records;

struct Num {
  int32_t value;
};

using taviron::testing::ErrorSlot;
using taviron::testing::ReadText;
void WriteAll(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class EhfaTest : public taviron::testing::FolderTest {
protected:
  // The "Num" design of the file's dictionary.
  static const Emif_Design *NumDesign(Ehfa_File *f, const char *name = "Num") {
    if (Emif_Design *d = emif_FindDesignByName(f->dictionary, name, nullptr)) return d;
    return emif_DesignCreate(f->dictionary, name, nullptr, 12, "value", 0);
  }
  static void Write(Ehfa_File *f, const char *path, const char *name, int32_t code, int32_t value,
                    const char *design = "Num") {
    Num n{value};
    Eerr_ErrorReport *err = nullptr;
    ASSERT_NE(nullptr, ehfa_ObjectWrite(f, path, name, design, code, &n, NumDesign(f, design), &err))
        << name << ": " << (err ? err->message : "");
  }
  // Value read at the code's place, or -1 when the read fails.
  static int32_t Read(Ehfa_File *f, const char *path, const char *name, int32_t code) {
    Num n{-1};
    Eerr_ErrorReport *err = nullptr;
    if (!ehfa_ObjectRead(f, path, name, code, &n, NumDesign(f), &err)) n.value = -1;
    eerr_DeleteErrorReportEx(&err);
    return n.value;
  }
  static std::string Current(Ehfa_File *f) {
    char *path = ehfa_CurrentEntryPath(f, nullptr);
    std::string text = path ? path : "(null)";
    emsc_HeapFree(path);
    return text;
  }
  static void Seek(Ehfa_File *f, const char *path) { ASSERT_NE(nullptr, ehfa_EntrySeek(f, 8, path, nullptr)) << path; }
  // Every entry in file order, as paths.
  static std::vector<std::string> Walk(Ehfa_File *f) {
    std::vector<std::string> paths;
    Seek(f, ":");
    while (ehfa_EntrySeek(f, 18, nullptr, nullptr)) paths.push_back(Current(f));
    return paths;
  }

  // :A (1) with :A:A1 (11), :A:A2 (12, design "Special") with :A:A2:A2x (121), :A:A3 (13);
  // then :B (2) and :C (3).
  Ehfa_File *Fixture(const char *name = "fixture.img") {
    Ehfa_File *f = ehfa_FileCreate(Path(name).c_str(), nullptr, nullptr, 0);
    EXPECT_NE(nullptr, f);
    Write(f, ":", "A", 3, 1);
    Write(f, nullptr, "A1", 3, 11);
    Write(f, nullptr, "A2", 1, 12, "Special");
    Write(f, nullptr, "A2x", 3, 121);
    Seek(f, ":A:A2");
    Write(f, nullptr, "A3", 1, 13);
    Seek(f, ":A");
    Write(f, nullptr, "B", 1, 2);
    Write(f, nullptr, "C", 1, 3);
    return f;
  }

};

TEST_F(EhfaTest, TreeOfEveryItemTypeReadsBackAfterReopening) {
  const std::string name = Path("all.img");
  AllTypes a, b;
  {
    Ehfa_File *f = ehfa_FileCreate(name.c_str(), nullptr, nullptr);
    ASSERT_NE(nullptr, f);
    ASSERT_TRUE(DefineInner(f->dictionary, nullptr));
    Emif_Design *all = DefineAll(f->dictionary, nullptr);
    Fill(a, all);
    Fill(b, all);
    b.s32 = 42;
    b.pointer->id = 0;
    Eerr_ErrorReport *err = nullptr;
    ASSERT_NE(nullptr, ehfa_ObjectWrite(f, ":", "a", nullptr, 3, &a, all, &err)) << (err ? err->message : "");
    ASSERT_NE(nullptr, ehfa_ObjectWrite(f, nullptr, "b", nullptr, 3, &b, all, nullptr));
    ASSERT_NE(nullptr, ehfa_EntryWrite(f, nullptr, "c", "Marker", 1, nullptr));
    Seek(f, ":a");
    Write(f, nullptr, "d", 1, 7);
    ehfa_FileClose(f, &err);
    ASSERT_EQ(nullptr, err);
  }
  Ehfa_File *f = ehfa_FileOpen(name.c_str(), "r", nullptr, nullptr);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ((std::vector<std::string>{":a", ":a:b", ":a:c", ":d"}), Walk(f));
  // The designs came back from the file, nested one included.
  Emif_Design *all = emif_FindDesignByName(f->dictionary, "AllTypes", nullptr);
  ASSERT_NE(nullptr, all);
  EXPECT_NE(nullptr, emif_FindDesignByName(f->dictionary, "Inner", nullptr));
  auto *ra = static_cast<AllTypes *>(ehfa_ObjectRead(f, nullptr, ":a", 8, nullptr, all, nullptr));
  ASSERT_NE(nullptr, ra);
  ExpectEqual(a, *ra);
  EXPECT_EQ(":a", Current(f));
  EXPECT_EQ(std::string("AllTypes"), f->currentEntry->type);
  EXPECT_GT(f->currentEntry->modTime, 1e9);
  auto *rb = static_cast<AllTypes *>(ehfa_ObjectRead(f, nullptr, "b", 12, nullptr, all, nullptr));
  ASSERT_NE(nullptr, rb);
  ExpectEqual(b, *rb);
  EXPECT_EQ(7, Read(f, nullptr, ":d", 8));
  // An entry without data.
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(nullptr, ehfa_ObjectRead(f, ":a", "c", 12, nullptr, all, &err));
  ASSERT_NE(nullptr, err);
  EXPECT_NE(nullptr, std::strstr(err->message, "holds no record"));
  eerr_DeleteErrorReportEx(&err);
  emif_ObjectFree(all, ra);
  emif_ObjectFree(all, rb);
  emif_ObjectFreeContents(all, &a);
  emif_ObjectFreeContents(all, &b);
  ehfa_FileClose(f, nullptr);
}

enum class Op { Seek, Peek };

TEST_F(EhfaTest, RelationCodesMoveTheCurrentEntry) {
  Ehfa_File *f = Fixture();
  struct Case {
    const char *from;
    Op op;
    int32_t code;
    const char *name;
    const char *found; // name of the entry handed back, or null
    const char *after; // current entry afterwards
  };
  const Case cases[] = {
      {":A", Op::Seek, 1, nullptr, "B", ":B"},
      {":C", Op::Seek, 1, nullptr, nullptr, ":C"},
      {":A", Op::Seek, 3, nullptr, "A", ":A"},
      {":A", Op::Seek, 4, nullptr, "A", ":A"},
      {":A", Op::Seek, 5, nullptr, "A1", ":A:A1"},
      {":B", Op::Seek, 5, nullptr, nullptr, ":B"},
      {":A:A2", Op::Seek, 6, nullptr, "A", ":A"},
      {":", Op::Seek, 6, nullptr, nullptr, ":"},
      {":B", Op::Seek, 7, ":A:A2", "A2", ":B"},
      {":B", Op::Seek, 7, ":nowhere", nullptr, ":B"},
      {":B", Op::Seek, 8, ":A:A2", "A2", ":A:A2"},
      {":B", Op::Seek, 8, "::A", "A", ":A"},
      {":A:A1", Op::Seek, 10, "Special", "A2", ":A:A2"},
      {":A:A1", Op::Seek, 10, nullptr, "A2", ":A:A2"},
      {":A", Op::Seek, 12, "A2", "A2", ":A:A2"},
      {":A", Op::Seek, 12, "A2:A2x", "A2x", ":A:A2:A2x"},
      {":A", Op::Seek, 12, "A9", nullptr, ":A"},
      {":A:A1", Op::Seek, 13, "A3", "A3", ":A:A3"},
      {":A:A2", Op::Seek, 13, "A1", nullptr, ":A:A2"},
      {":A", Op::Seek, 14, "Special", "A2", ":A:A2"},
      {":A", Op::Seek, 14, nullptr, "A1", ":A:A1"},
      {":", Op::Seek, 15, "Special", "A2", ":A:A2"},
      {":B", Op::Seek, 15, "Special", nullptr, ":B"},
      {":B", Op::Seek, 16, nullptr, "B", ":B"},
      {":B", Op::Seek, 17, nullptr, "B", ":B"},
      {":A:A2", Op::Seek, 18, nullptr, "A2x", ":A:A2:A2x"},
      {":A:A2:A2x", Op::Seek, 18, nullptr, "A3", ":A:A3"},
      {":A:A3", Op::Seek, 18, nullptr, "B", ":B"},
      {":C", Op::Seek, 18, nullptr, nullptr, ":C"},
      {":A", Op::Peek, 5, nullptr, "A1", ":A"},
      {":A:A3", Op::Peek, 18, nullptr, "B", ":A:A3"},
  };
  for (const Case &c : cases) {
    Seek(f, c.from);
    Eerr_ErrorReport *err = nullptr;
    Ehfa_Entry *e = c.op == Op::Seek ? ehfa_EntrySeek(f, c.code, c.name, &err) : ehfa_EntryPeek(f, c.code, c.name, &err);
    const std::string label = std::string(c.from) + " code " + std::to_string(c.code);
    EXPECT_EQ(nullptr, err) << label;
    eerr_DeleteErrorReportEx(&err);
    if (c.found) {
      ASSERT_NE(nullptr, e) << label;
      EXPECT_STREQ(c.found, e->name) << label;
    } else {
      EXPECT_EQ(nullptr, e) << label;
    }
    EXPECT_EQ(c.after, Current(f)) << label;
  }
  // Sibling and child tests of the current entry.
  Seek(f, ":A:A2");
  EXPECT_TRUE(ehfa_EntryCurrentHasNext(f));
  EXPECT_TRUE(ehfa_EntryCurrentHasPrev(f));
  EXPECT_TRUE(ehfa_EntryCurrentHasChild(f));
  Seek(f, ":C");
  EXPECT_FALSE(ehfa_EntryCurrentHasNext(f));
  EXPECT_FALSE(ehfa_EntryCurrentHasChild(f));
  // A code without a meaning is reported.
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(nullptr, ehfa_EntrySeek(f, 2, nullptr, &err));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  ehfa_FileClose(f, nullptr);
}

TEST_F(EhfaTest, WritesPlaceEntriesByRelationCode) {
  Ehfa_File *f = Fixture();
  Seek(f, ":A");
  Write(f, nullptr, "A4", 3, 14); // 3 and 4 append after the children already there
  Seek(f, ":A");
  Write(f, nullptr, "A5", 4, 15);
  Seek(f, ":A:A1");
  Write(f, nullptr, "A1b", 1, 111); // 1 inserts right after the current entry
  EXPECT_EQ(":A:A1b", Current(f));
  Write(f, ":B", nullptr, 0, 20); // 0 rewrites the entry at the path
  EXPECT_EQ(":B", Current(f));
  EXPECT_EQ((std::vector<std::string>{":A", ":A:A1", ":A:A1b", ":A:A2", ":A:A2:A2x", ":A:A3", ":A:A4", ":A:A5", ":B", ":C"}),
            Walk(f));
  EXPECT_EQ(20, Read(f, nullptr, ":B", 8));
  // The root has no siblings; node names hold no ":".
  Seek(f, ":");
  Num n{0};
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(nullptr, ehfa_ObjectWrite(f, nullptr, "X", "Num", 1, &n, NumDesign(f), &err));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(nullptr, ehfa_ObjectWrite(f, nullptr, "X:Y", "Num", 3, &n, NumDesign(f), &err));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  // An entry type that names no design of the file could not be read back.
  EXPECT_EQ(nullptr, ehfa_ObjectWrite(f, nullptr, "X", "Nameless", 3, &n, NumDesign(f), &err));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  // A design of the file's name with another layout is refused.
  Emif_Design *other = emif_DesignCreate(nullptr, "Num", nullptr, 14, "value", 0);
  EXPECT_EQ(nullptr, ehfa_ObjectWrite(f, nullptr, "X", "Num", 3, &n, other, &err));
  const std::string differs = "Design Num of " + Path("fixture.img") + " differs from the design Num given";
  EXPECT_TRUE(Reported(err, "ehfa_ObjectWrite", 10, differs.c_str()));
  eerr_DeleteErrorReportEx(&err);
  emif_DesignDestroy(other);
  // One that differs from the file's only in the names of enumeration values (an older design of the
  // file naming fewer) is written by the file's design, by which it is read back: a value it names
  // is written, one it does not name is refused.
  ASSERT_NE(nullptr, emif_DesignCreate(f->dictionary, "Kind", nullptr, EMIF_TYPE_ENUM, "kind", "a", "b", nullptr, 0));
  Emif_Design *newer = emif_DesignCreate(nullptr, "Kind", nullptr, EMIF_TYPE_ENUM, "kind", "a", "b", "c", nullptr, 0);
  n.value = 1;
  EXPECT_NE(nullptr, ehfa_ObjectWrite(f, ":", "K", "Kind", 3, &n, newer, &err)) << err->message;
  n.value = -1;
  EXPECT_NE(nullptr, ehfa_ObjectRead(f, ":", "K", EHFA_CHILD_NAMED, &n, newer, &err)) << err->message;
  EXPECT_EQ(1, n.value);
  n.value = 2;
  EXPECT_EQ(nullptr, ehfa_ObjectWrite(f, ":", "K2", "Kind", 3, &n, newer, &err));
  EXPECT_TRUE(Reported(err, "ehfa_ObjectWrite", 12, "Error returned from emif_ObjectEncode"));
  eerr_DeleteErrorReportEx(&err);
  emif_DesignDestroy(newer);
  ehfa_FileClose(f, nullptr);
}

// An element list: the list node, then elements written as first child and next siblings, each
// with its info entry below it; read back entry by entry (flags word 0) and in file order (1).
TEST_F(EhfaTest, ElementListWrittenAndReadBothWays) {
  Ehfa_File *f = ehfa_FileCreate(Path("layer.img").c_str(), nullptr, nullptr);
  Write(f, ":", "Annotation", 3, 0);
  Write(f, nullptr, "ElementList", 3, 0);
  ASSERT_EQ(0, ehfa_FileChange(f, nullptr, 3, 0, 0));
  for (int i = 1; i <= 3; ++i) {
    const std::string name = "AntElement_" + std::to_string(i);
    Write(f, nullptr, name.c_str(), i == 1 ? 3 : 1, i, "Element");
    Write(f, nullptr, "Polyline Info", 3, 100 + i, "Polyline2");
    ASSERT_NE(nullptr, ehfa_EntrySeek(f, 6, nullptr, nullptr));
  }
  ASSERT_EQ(0, ehfa_FileChange(f, nullptr, 3, 1, 0));
  Write(f, ":Annotation", "SelectedStyles", 3, 9);
  for (int flags = 0; flags <= 1; ++flags) {
    SCOPED_TRACE(flags);
    Seek(f, ":Annotation");
    ASSERT_EQ(0, Read(f, nullptr, "ElementList", 12));
    std::vector<int32_t> seen;
    int32_t code = 14;
    for (;;) {
      const int32_t element = Read(f, nullptr, "Element", code);
      ASSERT_GT(element, 0);
      const bool more = ehfa_EntryCurrentHasNext(f);
      seen.push_back(element);
      seen.push_back(Read(f, nullptr, "Polyline2", flags ? 18 : 14));
      if (!flags) {
        ASSERT_NE(nullptr, ehfa_EntrySeek(f, 6, nullptr, nullptr));
      }
      if (!more) break;
      if (!flags) {
        ASSERT_NE(nullptr, ehfa_EntrySeek(f, 1, nullptr, nullptr));
      }
      code = flags ? 18 : 16;
    }
    EXPECT_EQ((std::vector<int32_t>{1, 101, 2, 102, 3, 103}), seen);
  }
  ehfa_FileClose(f, nullptr);
}

// Header and version nodes: a child is rewritten when it exists and added otherwise; the entry
// just written gives its modification time; a rename keeps type and content.
TEST_F(EhfaTest, RewriteOrAddAChildAndRename) {
  Ehfa_File *f = ehfa_FileCreate(Path("header.img").c_str(), nullptr, nullptr);
  Write(f, ":", "Annotation", 3, 0, "AntHeader_Eant");
  for (int pass = 0; pass < 2; ++pass) {
    Seek(f, ":Annotation");
    Ehfa_EntryPosition *position = ehfa_EntryPositionGet(f, nullptr);
    const bool exists = ehfa_EntrySeek(f, 12, "AnnotationVersion", nullptr) != nullptr;
    EXPECT_EQ(pass == 1, exists);
    if (!exists) {
      ASSERT_EQ(0, ehfa_EntryPositionSet(f, position, nullptr));
    }
    ehfa_EntryPositionFree(position);
    Write(f, nullptr, "AnnotationVersion", exists ? 0 : 3, 4 + pass, "AnnotationVersion_Eant");
    Ehfa_Entry *written = ehfa_EntrySeek(f, 17, nullptr, nullptr);
    ASSERT_NE(nullptr, written);
    EXPECT_GT(written->modTime, 1e9);
    EXPECT_EQ(4, written->dataSize);
    ASSERT_NE(nullptr, ehfa_EntrySeek(f, 6, nullptr, nullptr));
  }
  Seek(f, ":Annotation");
  ASSERT_NE(nullptr, ehfa_EntryWrite(f, nullptr, "AnnotationVersionFlags", "AnnotationVersionFlags_Eant", 3, nullptr));
  EXPECT_EQ(0, f->currentEntry->dataSize);
  EXPECT_EQ((std::vector<std::string>{":Annotation", ":Annotation:AnnotationVersion", ":Annotation:AnnotationVersionFlags"}), Walk(f));
  EXPECT_EQ(5, Read(f, ":Annotation", "AnnotationVersion", 12));
  // Rename the layer node: type and content stay.
  Seek(f, ":Annotation");
  ASSERT_NE(nullptr, ehfa_EntryWrite(f, nullptr, "OldAnnotation", nullptr, 0, nullptr));
  EXPECT_EQ(nullptr, ehfa_EntrySeek(f, 8, ":Annotation", nullptr));
  Ehfa_Entry *renamed = ehfa_EntrySeek(f, 8, ":OldAnnotation", nullptr);
  ASSERT_NE(nullptr, renamed);
  EXPECT_STREQ("AntHeader_Eant", renamed->type);
  EXPECT_EQ(5, Read(f, ":OldAnnotation", "AnnotationVersion", 12));
  Seek(f, ":OldAnnotation");
  // Deleting the node takes its subtree; its parent becomes current; the root stays.
  ASSERT_EQ(0, ehfa_EntryDelete(f, nullptr));
  EXPECT_EQ(":", Current(f));
  EXPECT_TRUE(Walk(f).empty());
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(-1, ehfa_EntryDelete(f, &err));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  ehfa_FileClose(f, nullptr);
}

// Areas of interest: member nodes climbing back to the parent, read by path and first child; the
// time stamp found by design below the current entry.
TEST_F(EhfaTest, AreaOfInterestTreeAndTimeStamp) {
  Ehfa_File *f = ehfa_FileCreate(Path("aoi.img").c_str(), nullptr, nullptr);
  Seek(f, ":");
  Write(f, nullptr, "AOInode", 3, 2, "Eaoi_AreaOfInterest");
  const double stamp = f->currentEntry->modTime;
  for (int i = 1; i <= 2; ++i) {
    const std::string member = "AOIobject_" + std::to_string(i);
    if (i > 1) {
      ASSERT_NE(nullptr, ehfa_EntrySeek(f, 6, nullptr, nullptr));
    }
    Write(f, nullptr, member.c_str(), i == 1 ? 3 : 1, 10 * i, "Eaoi_AoiObjectType");
    Write(f, nullptr, "RasterAOIobject", 3, 10 * i + 1, "Eaoi_RasterAoiInfo");
    Write(f, nullptr, "MapInfo", 3, 10 * i + 2);
    ASSERT_NE(nullptr, ehfa_EntrySeek(f, 6, nullptr, nullptr));
  }
  ASSERT_EQ(2, Read(f, ":", "AOInode", 12));
  const std::string stem = Current(f) + ":AOIobject";
  for (int i = 1; i <= 2; ++i) {
    EXPECT_EQ(10 * i, Read(f, nullptr, (stem + "_" + std::to_string(i)).c_str(), 8));
    EXPECT_EQ(10 * i + 1, Read(f, nullptr, nullptr, 5));
  }
  Seek(f, ":");
  EXPECT_EQ(nullptr, ehfa_EntrySeek(f, 15, "AOIstructure", nullptr));
  ASSERT_NE(nullptr, ehfa_EntrySeek(f, 3, nullptr, nullptr));
  EXPECT_EQ(":", Current(f));
  Ehfa_Entry *aoi = ehfa_EntrySeek(f, 15, "Eaoi_AreaOfInterest", nullptr);
  ASSERT_NE(nullptr, aoi);
  EXPECT_EQ(stamp, aoi->modTime);
  ehfa_FileClose(f, nullptr);
}

// Signature sets: children written with 3 or 4 under a path keep their order; an existing
// node is overwritten through its path.
TEST_F(EhfaTest, SignatureNodesKeepTheirOrder) {
  Ehfa_File *f = ehfa_FileCreate(Path("sig.img").c_str(), nullptr, nullptr);
  Write(f, ":", "set", 3, 4, "Esig_SignatureArrayNode");
  for (int i = 1; i <= 4; ++i)
    Write(f, ":set", ("sig" + std::to_string(i)).c_str(), i % 2 ? 3 : 4, i, "Esig_SignatureNode");
  ASSERT_NE(nullptr, ehfa_EntrySeek(f, 8, ":set:sig3", nullptr));
  Write(f, ":set:sig3", nullptr, 0, 33, "Esig_SignatureNode");
  EXPECT_EQ(4, Read(f, ":", "Esig_SignatureArrayNode", 14));
  std::vector<std::string> names;
  Seek(f, ":set");
  for (Ehfa_Entry *e = ehfa_EntrySeek(f, 5, nullptr, nullptr); e; e = ehfa_EntrySeek(f, 1, nullptr, nullptr)) {
    EXPECT_STREQ("Esig_SignatureNode", e->type);
    names.push_back(e->name);
  }
  EXPECT_EQ((std::vector<std::string>{"sig1", "sig2", "sig3", "sig4"}), names);
  EXPECT_EQ(33, Read(f, ":set", "sig3", 12));
  ehfa_FileClose(f, nullptr);
}

// Compositions: layer-type nodes numbered in order, found with 12 for the first and 13 for the
// next; a frame's first layer node written with 4 beside "Map Frame".
TEST_F(EhfaTest, CompositionLayerNodesByNameAndNextName) {
  Ehfa_File *f = ehfa_FileCreate(Path("map.img").c_str(), nullptr, nullptr);
  Write(f, ":", "Map Composition", 3, 0);
  Write(f, nullptr, "Vue Version", 3, 1);
  for (int i = 0; i < 2; ++i) {
    Write(f, nullptr, ("Layer " + std::to_string(i)).c_str(), 1, 10 + i, "Emap_VueLayerType");
    Ehfa_EntryPosition *frame = ehfa_EntryPositionGet(f, nullptr);
    Write(f, nullptr, "Map Frame", 3, 100 + i);
    ASSERT_EQ(0, ehfa_EntryPositionSet(f, frame, nullptr));
    Write(f, nullptr, "Layer 0", 4, 1000 + i, "Emap_VueLayerType");
    ASSERT_EQ(0, ehfa_EntryPositionSet(f, frame, nullptr));
    ehfa_EntryPositionFree(frame);
  }
  Seek(f, ":");
  ASSERT_EQ(0, Read(f, ":", "Map Composition", 12));
  std::vector<int32_t> values;
  for (int i = 0;; ++i) {
    Num n{-1};
    const std::string name = "Layer " + std::to_string(i);
    Eerr_ErrorReport *err = nullptr;
    if (!ehfa_ObjectReadIfPresent(f, nullptr, name.c_str(), i ? 13 : 12, &n, NumDesign(f, "Emap_VueLayerType"), &err)) {
      EXPECT_EQ(nullptr, err);
      break;
    }
    values.push_back(n.value);
    Ehfa_EntryPosition *layer = ehfa_EntryPositionGet(f, nullptr);
    values.push_back(Read(f, nullptr, "Map Frame", 12));
    ASSERT_EQ(0, ehfa_EntryPositionSet(f, layer, nullptr));
    ehfa_EntryPositionFree(layer);
  }
  EXPECT_EQ((std::vector<int32_t>{10, 100, 11, 101}), values);
  EXPECT_EQ(1001, Read(f, ":Map Composition:Layer 1", "Layer 0", 12));
  ehfa_FileClose(f, nullptr);
}

// Existence tests by path (7) that do not move, overwrites through a path written as ":" plus
// ":name", and reads with 7 given a node path and its last name.
TEST_F(EhfaTest, PathLookupsWithoutMoving) {
  Ehfa_File *f = ehfa_FileCreate(Path("pairs.img").c_str(), nullptr, nullptr);
  Write(f, ":", "other", 3, 0);
  EXPECT_EQ(nullptr, ehfa_EntrySeek(f, 7, ":FS_PairList", nullptr));
  Write(f, ":", "FS_PairList", 3, 1, "Efsp_PairList");
  Seek(f, ":other");
  EXPECT_NE(nullptr, ehfa_EntrySeek(f, 7, ":FS_PairList", nullptr));
  EXPECT_EQ(":other", Current(f));
  Write(f, "::FS_PairList", nullptr, 0, 2, "Efsp_PairList");
  Seek(f, ":other");
  EXPECT_EQ(2, Read(f, ":", "FS_PairList", 7));
  EXPECT_EQ(":other", Current(f));
  EXPECT_EQ(2, Read(f, ":FS_PairList", "FS_PairList", 7));
  ehfa_FileClose(f, nullptr);
}

TEST_F(EhfaTest, WriteBracketsCommitTogether) {
  const std::string name = Path("bracket.img");
  Ehfa_File *f = ehfa_FileCreate(name.c_str(), nullptr, nullptr);
  Write(f, ":", "kept", 3, 1);
  ehfa_FileFlush(f, nullptr);
  ASSERT_EQ(0, ehfa_FileChange(f, nullptr, 1, 1, 1, 2, 0, 0));
  Write(f, ":", "new", 3, 2);
  ehfa_FileFlush(f, nullptr); // waits for the bracket
  Ehfa_File *reader = ehfa_FileOpen(name.c_str(), "r", nullptr, nullptr);
  ASSERT_NE(nullptr, reader);
  EXPECT_EQ((std::vector<std::string>{":kept"}), Walk(reader));
  ASSERT_EQ(0, ehfa_FileChange(f, nullptr, 1, 0, 1, 2, 1, 0));
  EXPECT_EQ((std::vector<std::string>{":kept", ":new"}), Walk(reader));
  ehfa_FileClose(reader, nullptr);
  // Unbalanced closes and unknown keywords are reported.
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(-1, ehfa_FileChange(f, &err, 1, 0, 0, 7, 0, 0));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(-1, ehfa_FileChange(f, &err, 9, 0));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  // The write mode of keyword 2 and read brackets.
  EXPECT_EQ(0, ehfa_FileChange(f, nullptr, 2, 0, 1, 1, 1, 0));
  EXPECT_EQ(0, ehfa_FileChange(f, nullptr, 1, 1, 0, 7, 1, 0));
  EXPECT_EQ(0, ehfa_FileChange(f, nullptr, 1, 0, 0, 7, 0, 0));
  EXPECT_EQ(0, ehfa_FileChange(f, nullptr, 2, 1, 1, 0, 1, 0));
  ehfa_FileClose(f, nullptr);
}

// A process that dies inside a write bracket leaves the previous content of the file.
TEST_F(EhfaTest, WriteBracketThatNeverClosesLeavesThePreviousContent) {
  const std::string name = Path("crash.img");
  Ehfa_File *f = ehfa_FileCreate(name.c_str(), nullptr, nullptr);
  Write(f, ":", "kept", 3, 1);
  ehfa_FileClose(f, nullptr);
  const pid_t child = fork();
  if (child == 0) {
    Ehfa_File *g = ehfa_FileOpen(name.c_str(), "r+b", nullptr, nullptr);
    ehfa_FileChange(g, nullptr, 1, 1, 1, 2, 0, 0);
    Num n{99};
    const Emif_Design *d = emif_FindDesignByName(g->dictionary, "Num", nullptr);
    ehfa_ObjectWrite(g, ":kept", nullptr, nullptr, 0, &n, d, nullptr);
    // Enough entries for the changes to reach the file before the end of the transaction.
    for (int i = 0; i < 60000; ++i) ehfa_ObjectWrite(g, ":", "lost", "Num", 3, &n, d, nullptr);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  // Even a reader finds the previous content (the interrupted write is rolled back first).
  f = ehfa_FileOpen(name.c_str(), "r", nullptr, nullptr);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ((std::vector<std::string>{":kept"}), Walk(f));
  ehfa_FileClose(f, nullptr);
  f = ehfa_FileOpen(name.c_str(), "r+b", nullptr, nullptr);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ((std::vector<std::string>{":kept"}), Walk(f));
  EXPECT_EQ(1, Read(f, nullptr, ":kept", 8));
  ehfa_FileClose(f, nullptr);
}

TEST_F(EhfaTest, RenameReplacesTheTargetAndTheFileStaysOpen) {
  const std::string target = Path("layer.img");
  Ehfa_File *old = ehfa_FileCreate(target.c_str(), nullptr, nullptr);
  Write(old, ":", "old", 3, 1);
  ehfa_FileClose(old, nullptr);
  const std::string temp = Path("layer.tmp");
  Ehfa_File *f = ehfa_FileCreateWithOptions(temp.c_str(), nullptr, nullptr, 2, 0, 1, 1, 1, 0);
  ASSERT_NE(nullptr, f);
  Write(f, ":", "fresh", 3, 2);
  ASSERT_EQ(0, ehfa_FileChange(f, nullptr, 2, 1, 1, 0, 1, 0));
  ASSERT_EQ(0, ehfa_FileChange(f, nullptr, 4, target.c_str(), 0));
  EXPECT_EQ(target, f->fileName);
  EXPECT_EQ(0, access(target.c_str(), F_OK));
  EXPECT_NE(0, access(temp.c_str(), F_OK));
  Write(f, ":fresh", "more", 3, 3);
  EXPECT_EQ(":fresh:more", Current(f));
  ehfa_FileClose(f, nullptr);
  f = ehfa_FileOpen(target.c_str(), "r", nullptr, nullptr);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ((std::vector<std::string>{":fresh", ":fresh:more"}), Walk(f));
  ehfa_FileClose(f, nullptr);
}

int32_t changedSerial = 0;
std::string changedName;

TEST_F(EhfaTest, CommittedChangesAreAnnounced) {
  ehfa_SetFileChangedCallback([](Ehfa_File *file) {
    changedSerial = file->changeSerial;
    changedName = file->fileName;
  });
  const std::string name = Path("notice.img");
  Ehfa_File *f = ehfa_FileCreate(name.c_str(), nullptr, nullptr);
  ehfa_FileFlush(f, nullptr);
  EXPECT_EQ(0, changedSerial);
  Write(f, ":", "x", 3, 1);
  ehfa_FileFlush(f, nullptr);
  EXPECT_EQ(1, changedSerial);
  EXPECT_EQ(name, changedName);
  EXPECT_EQ(static_cast<int32_t>(getpid()), f->changeProcess);
  ehfa_FileClose(f, nullptr);
  EXPECT_EQ(1, changedSerial);
  ehfa_SetFileChangedCallback(nullptr);
}

TEST_F(EhfaTest, ModesAndReadOnlyFiles) {
  const std::string name = Path("modes.img");
  ehfa_FileClose(Fixture("modes.img"), nullptr);
  for (const char *mode : {"w", "a", "w+", "r+w", "x", ""}) {
    Eerr_ErrorReport *err = nullptr;
    EXPECT_EQ(nullptr, ehfa_FileOpen(name.c_str(), mode, nullptr, &err)) << mode;
    ASSERT_NE(nullptr, err) << mode;
    EXPECT_EQ(2, err->code);
    eerr_DeleteErrorReportEx(&err);
  }
  Eint_InitToolkitData init{};
  Ehfa_File *f = ehfa_FileOpen(name.c_str(), "rb", &init, nullptr);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(&init, f->init);
  EXPECT_EQ(11, Read(f, ":A", "A1", 12));
  Seek(f, ":A");
  Eerr_ErrorReport *err = nullptr;
  Num n{0};
  EXPECT_EQ(nullptr, ehfa_ObjectWrite(f, nullptr, "X", "Num", 3, &n, NumDesign(f), &err));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(-1, ehfa_EntryDelete(f, &err));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  ehfa_FileClose(f, &err);
  EXPECT_EQ(nullptr, err);
  for (const char *mode : {"r", "r+", "r+b", "rb+"}) {
    f = ehfa_FileOpen(name.c_str(), mode, nullptr, nullptr, 0);
    EXPECT_NE(nullptr, f) << mode;
    ehfa_FileClose(f, nullptr);
  }
}

TEST_F(EhfaTest, FilesThatAreNotOursOrBrokenAreReported) {
  ehfa_FileClose(Fixture("good.img"), nullptr);
  const std::string good = ReadText(Path("good.img"));
  ASSERT_GT(good.size(), 1000u);
  WriteAll(Path("random.img"), std::string(4096, '\x5a'));
  WriteAll(Path("empty.img"), "");
  WriteAll(Path("header.img"), good.substr(0, 100));
  WriteAll(Path("half.img"), good.substr(0, good.size() / 2));
  Sql(Path("foreign.img"), "CREATE TABLE entry(x); PRAGMA application_id = 7;");
  WriteAll(Path("trigger.img"), good);
  Sql(Path("trigger.img"), "CREATE TRIGGER t AFTER INSERT ON entry BEGIN DELETE FROM entry; END;");
  WriteAll(Path("roots.img"), good);
  Sql(Path("roots.img"), "INSERT INTO entry(parent, seq, name, type, mtime) VALUES(NULL, 0, 'x', '', 0);");
  WriteAll(Path("design.img"), good);
  Sql(Path("design.img"), "UPDATE design SET definition = x'0100000004000000';");
  WriteAll(Path("schema.img"), good);
  Sql(Path("schema.img"), "DROP TABLE block;");
  // A damaged page that opening reads nothing from: the page of the (empty) block table. The
  // database's integrity check finds it.
  {
    sqlite3 *db = nullptr;
    sqlite3_stmt *stmt = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(Path("good.img").c_str(), &db));
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "SELECT rootpage, (SELECT page_size FROM pragma_page_size()) "
                                                "FROM sqlite_master WHERE name = 'block'", -1, &stmt, nullptr));
    ASSERT_EQ(SQLITE_ROW, sqlite3_step(stmt));
    const int64_t at = (sqlite3_column_int64(stmt, 0) - 1) * sqlite3_column_int64(stmt, 1);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    std::string damaged = good;
    ASSERT_LT(static_cast<std::size_t>(at), damaged.size());
    damaged[static_cast<std::size_t>(at)] = '\x01'; // no kind of page
    WriteAll(Path("pages.img"), damaged);
  }
  // Indexes that disagree with the entry table (walks by the index would pass an entry over), in
  // a small file and in one of over 1 MiB, whose entries alone are checked.
  WriteAll(Path("index.img"), good);
  SqlBehindTheIndexes(Path("index.img"), "UPDATE entry SET seq = 9 WHERE name = 'A2'");
  WriteAll(Path("large.img"), good);
  Sql(Path("large.img"), "INSERT INTO block VALUES(1, 0, 0, zeroblob(1200000))");
  WriteAll(Path("largeindex.img"), ReadText(Path("large.img")));
  SqlBehindTheIndexes(Path("largeindex.img"), "UPDATE entry SET parent = 99 WHERE name = 'A2'");
  struct Case {
    const char *file;
    int32_t isOurs;
  };
  const Case cases[] = {{"missing.img", 0}, {"random.img", 0}, {"empty.img", 0}, {"header.img", 1},
                        {"foreign.img", 0}, {"trigger.img", 1}, {"roots.img", 1}, {"design.img", 1},
                        {"schema.img", 1},  {"pages.img", 1},  {"index.img", 1}, {"largeindex.img", 1}};
  for (const Case &c : cases)
    for (const char *mode : {"r", "r+"}) {
      EXPECT_EQ(c.isOurs, ehfa_IsHFAFile(Path(c.file).c_str(), nullptr)) << c.file;
      ErrorSlot err;
      EXPECT_EQ(nullptr, ehfa_FileOpen(Path(c.file).c_str(), mode, nullptr, &err)) << c.file << " " << mode;
      EXPECT_STREQ("ehfa_FileOpen", err ? err->reporter : "no report") << c.file << " " << mode;
    }
  Ehfa_File *large = ehfa_FileOpen(Path("large.img").c_str(), "r", nullptr, nullptr);
  EXPECT_NE(nullptr, large) << "a large file whose entries agree with their indexes opens";
  ehfa_FileClose(large, nullptr);
  // Half a file may open; then the walk and reads report instead of crashing.
  Eerr_ErrorReport *err = nullptr;
  if (Ehfa_File *f = ehfa_FileOpen(Path("half.img").c_str(), "r", nullptr, &err)) {
    while (ehfa_EntrySeek(f, 18, nullptr, &err)) {
      Num n{};
      ehfa_ObjectRead(f, nullptr, nullptr, 16, &n, NumDesign(f), nullptr);
    }
    ehfa_FileClose(f, nullptr);
  }
  eerr_DeleteErrorReportEx(&err);
}

TEST_F(EhfaTest, CorruptRecordsAndUnknownDesignsAreReported) {
  ehfa_FileClose(Fixture("records.img"), nullptr);
  Sql(Path("records.img"), "UPDATE entry SET data = x'0102' WHERE name = 'A1';"
                           "UPDATE entry SET type = 'Ghost' WHERE name = 'B';");
  Ehfa_File *f = ehfa_FileOpen(Path("records.img").c_str(), "r+", nullptr, nullptr);
  ASSERT_NE(nullptr, f);
  Num n{5};
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(nullptr, ehfa_ObjectRead(f, ":A", "A1", 12, &n, NumDesign(f), &err));
  ASSERT_NE(nullptr, err);
  EXPECT_EQ(5, n.value);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(nullptr, ehfa_ObjectRead(f, ":A", "A1", 12, nullptr, NumDesign(f), &err));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  // An entry of a design the file does not know, read by a design it has nothing in common with.
  Emif_Design *unrelated = emif_DesignCreate(f->dictionary, "Unrelated", nullptr, 12, "other", 0);
  EXPECT_EQ(nullptr, ehfa_ObjectRead(f, nullptr, ":B", 8, &n, unrelated, &err));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  // No child of an unknown design.
  EXPECT_EQ(nullptr, ehfa_ObjectRead(f, ":", "Ghost2", 14, &n, NumDesign(f), &err));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  EXPECT_EQ(0, ehfa_ObjectReadIfPresent(f, ":", "Ghost2", 14, &n, NumDesign(f), &err));
  EXPECT_EQ(nullptr, err);
  ehfa_FileClose(f, nullptr);
}

TEST_F(EhfaTest, DesignsAddedByCallersAreKeptInTheFile) {
  const std::string name = Path("dict.img");
  Ehfa_File *f = ehfa_FileCreate(name.c_str(), nullptr, nullptr);
  ASSERT_NE(nullptr, emif_DesignCreate(f->dictionary, "Lonely", nullptr, 14, "x", 0));
  ehfa_FileClose(f, nullptr);
  f = ehfa_FileOpen(name.c_str(), "r+b", nullptr, nullptr);
  ASSERT_NE(nullptr, f);
  EXPECT_NE(nullptr, emif_FindDesignByName(f->dictionary, "Lonely", nullptr));
  emif_DesignDelete(f->dictionary, "Lonely", nullptr);
  ehfa_FileClose(f, nullptr);
  f = ehfa_FileOpen(name.c_str(), "r", nullptr, nullptr);
  EXPECT_EQ(nullptr, emif_FindDesignByName(f->dictionary, "Lonely", nullptr));
  ehfa_FileClose(f, nullptr);
}

TEST_F(EhfaTest, SearchListOpensFromTheFirstDirectoryHoldingTheFile) {
  ASSERT_EQ(0, mkdir(Path("one").c_str(), 0700));
  ASSERT_EQ(0, mkdir(Path("two").c_str(), 0700));
  ehfa_FileClose(Fixture("two/styles.img"), nullptr);
  Efio_SearchList *list = efio_CreateSLFromEnv(0, "TAVIRON_EHFA_TEST_UNSET_PATH",
                                               (Path("one") + ":" + Path("two")).c_str(), nullptr);
  ASSERT_NE(nullptr, list);
  Ehfa_File *f = ehfa_SearchListFileOpen(list, "styles.img", "r", nullptr, nullptr);
  ASSERT_NE(nullptr, f);
  EXPECT_EQ(Path("two/styles.img"), f->fileName);
  ehfa_FileClose(f, nullptr);
  Eerr_ErrorReport *err = nullptr;
  EXPECT_EQ(nullptr, ehfa_SearchListFileOpen(list, "absent.img", "r", nullptr, &err));
  EXPECT_NE(nullptr, err);
  eerr_DeleteErrorReportEx(&err);
  efio_FreeSL(list);
}

TEST_F(EhfaTest, AllocationFailuresAreReportedWithoutLeaks) {
  ehfa_FileClose(Fixture("sweep.img"), nullptr);
  const std::string existing = Path("sweep.img");
  const std::string created = Path("created.img");
  for (const char *what : {"create", "create over a file", "open"}) {
    SCOPED_TRACE(what);
    const bool open = what == std::string("open"), over = what == std::string("create over a file");
    taviron::testing::SweepAllocationFailures(
        [&](Eerr_ErrorReport **err) {
          Ehfa_File *f = open ? ehfa_FileOpen(existing.c_str(), "r", nullptr, err)
                              : ehfa_FileCreate(created.c_str(), nullptr, err);
          ehfa_FileClose(f, nullptr);
          return f != nullptr;
        },
        {.limit = 100,
         .prepare = [&] {
           if (over) ehfa_FileClose(ehfa_FileCreate(created.c_str(), nullptr, nullptr), nullptr);
           else std::remove(created.c_str());
         },
         .finish = [&] {
           // A create that failed leaves no temporary file of its own beside the target.
           for (const auto &entry : std::filesystem::directory_iterator(std::filesystem::path(created).parent_path()))
             EXPECT_NE(0u, entry.path().filename().string().rfind(".created.img", 0)) << entry.path();
         }});
  }
}

// Replacing a file with ehfa_FileCreate, killed at random moments, leaves either the old file or
// a complete new one: never an empty one, never a torn one.
TEST_F(EhfaTest, CreatingOverAFileKilledAtRandomLeavesTheOldFileOrACompleteNewOne) {
  constexpr int kTrials = 60;
  const std::string name = Path("replaced.img");
  std::mt19937 random(15);
  int32_t old = 0, replaced = 0, empty = 0;
  for (int trial = 0; trial < kTrials; ++trial) {
    SCOPED_TRACE(trial);
    Ehfa_File *f = ehfa_FileCreate(name.c_str(), nullptr, nullptr);
    ASSERT_NE(nullptr, f);
    Write(f, ":", "old", 3, -1);
    ehfa_FileClose(f, nullptr);
    // Every other writer is killed only once it has replaced the file a first time: then the old
    // file is gone for good, and one of the new ones must be there.
    const bool afterFirst = trial % 2 == 1;
    const std::string said = taviron::testing::RunAndKill(
        [&](const taviron::testing::ChildMessages &messages, auto end) {
          if (!afterFirst) messages.Say("ready");
          Num n{0};
          for (; std::chrono::steady_clock::now() < end; ++n.value) {
            Ehfa_File *g = ehfa_FileCreate(name.c_str(), nullptr, nullptr);
            if (!g) _exit(4);
            const Emif_Design *d = NumDesign(g);
            for (int i = 0; i < 20; ++i)
              ehfa_ObjectWrite(g, ":", ("new" + std::to_string(i)).c_str(), "Num", 3, &n, d, nullptr);
            ehfa_FileClose(g, nullptr);
            if (afterFirst && n.value == 0) messages.Say("ready");
          }
        },
        std::chrono::microseconds(random() % 25000));
    ASSERT_TRUE(said.empty() || said[0] != '!') << said;
    Eerr_ErrorReport *err = nullptr;
    f = ehfa_FileOpen(name.c_str(), "r", nullptr, &err);
    const std::string message = err ? err->message : "";
    eerr_DeleteErrorReportEx(&err);
    ASSERT_NE(nullptr, f) << message;
    const std::vector<std::string> paths = Walk(f);
    if (paths == std::vector<std::string>{":old"}) {
      EXPECT_FALSE(afterFirst);
      EXPECT_EQ(-1, Read(f, nullptr, ":old", 8));
      ++old;
    } else if (paths.empty()) {
      ++empty;
    } else {
      ASSERT_EQ(20u, paths.size());
      const int32_t generation = Read(f, nullptr, ":new0", 8);
      for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(":new" + std::to_string(i), paths[static_cast<std::size_t>(i)]);
        EXPECT_EQ(generation, Read(f, nullptr, (":new" + std::to_string(i)).c_str(), 8));
      }
      ++replaced;
    }
    ehfa_FileClose(f, nullptr);
  }
  EXPECT_EQ(0, empty) << "of " << kTrials << " kills: " << empty << " empty files, " << old << " old, "
                      << replaced << " replaced";
}

// A file made over another replaces it with its first commit (a flush, its close, the end of a
// write bracket): until then readers of the name find the old file, and the new file stays
// beside it under a temporary name.
TEST_F(EhfaTest, AFileMadeOverAnotherReplacesItAtItsFirstCommit) {
  const std::string name = Path("over.img");
  auto seen = [&] {
    Ehfa_File *f = ehfa_FileOpen(name.c_str(), "r", nullptr, nullptr);
    EXPECT_NE(nullptr, f);
    if (!f) return std::vector<std::string>{"(none)"};
    const std::vector<std::string> paths = Walk(f);
    ehfa_FileClose(f, nullptr);
    return paths;
  };
  auto files = [&] { // journals aside
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir_.str()))
      if (!entry.path().filename().string().ends_with("-journal")) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  };
  using Paths = std::vector<std::string>;
  for (const char *commit : {"flush", "close", "bracket", "nothing written"}) {
    SCOPED_TRACE(commit);
    Ehfa_File *f = ehfa_FileCreate(name.c_str(), nullptr, nullptr);
    Write(f, ":", "old", 3, 1);
    ehfa_FileClose(f, nullptr);
    ErrorSlot err;
    f = ehfa_FileCreate(name.c_str(), nullptr, &err);
    ASSERT_NE(nullptr, f) << err.Message();
    const std::string what = commit;
    if (what == "bracket") {
      ASSERT_EQ(0, ehfa_FileChange(f, &err, EHFA_CHANGE_BRACKET, 1, 1, 0, 0, 0)) << err.Message();
    }
    if (what != "nothing written") Write(f, ":", "new", 3, 2);
    EXPECT_EQ(Paths{":old"}, seen());
    EXPECT_EQ(2u, files().size()); // the new file waits beside the old one
    if (what == "flush") ehfa_FileFlush(f, &err);
    else if (what == "bracket") ehfa_FileChange(f, &err, EHFA_CHANGE_BRACKET, 0, 1, 0, 0, 0);
    else ehfa_FileClose(std::exchange(f, nullptr), &err);
    ASSERT_FALSE(err) << err.Message();
    const Paths now = what == "nothing written" ? Paths{} : Paths{":new"};
    EXPECT_EQ(now, seen());
    EXPECT_EQ(std::vector<std::string>{"over.img"}, files());
    if (f) { // the file goes on under its name
      Write(f, ":", "more", 3, 3);
      ehfa_FileClose(f, &err);
      ASSERT_FALSE(err) << err.Message();
      EXPECT_EQ((Paths{":new", ":more"}), seen());
    }
  }
}

// A writer killed while it builds a file under a temporary name leaves that file behind, named
// as this library's with the writer's process id; the next file put in place in that directory
// removes the ones whose writer has ended, never a live writer's nor a file of other names.
TEST_F(EhfaTest, TemporaryFilesOfKilledWritersGoWithTheNextWriteBesideThem) {
  const std::string name = Path("layer.ovr");
  // A layer writer's way: the file is built whole under a temporary name, then renamed over the
  // old one.
  auto writeLayer = [&](int32_t value) {
    char *temporary = efio_TempName(dir_.str().c_str(), "layer.ovr", nullptr);
    Ehfa_File *f = temporary ? ehfa_FileCreate(temporary, nullptr, nullptr) : nullptr;
    emsc_HeapFree(temporary);
    if (!f) return false;
    Num n{value};
    const Emif_Design *d = NumDesign(f);
    for (int i = 0; i < 20; ++i) ehfa_ObjectWrite(f, ":", ("e" + std::to_string(i)).c_str(), "Num", 3, &n, d, nullptr);
    const bool renamed = ehfa_FileChange(f, nullptr, EHFA_CHANGE_RENAME, name.c_str(), 0) == 0;
    ehfa_FileClose(f, nullptr);
    return renamed;
  };
  ASSERT_TRUE(writeLayer(0));
  const std::vector<std::string> others = {"notes.txt", "layer.ovr12_3", ".layer.ovr.taviron-x-1-2"};
  for (const std::string &other : others) WriteAll(Path(other), "x");
  // Every file but the layer and the others.
  auto leftovers = [&] {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir_.str())) {
      const std::string file = entry.path().filename();
      if (file != "layer.ovr" && std::find(others.begin(), others.end(), file) == others.end()) names.push_back(file);
    }
    return names;
  };
  std::mt19937 random(31);
  std::vector<std::string> killed; // "-<pid>-" of each killed writer
  std::size_t most = 0;
  for (int trial = 0; trial < 30; ++trial) {
    const std::string said = taviron::testing::RunAndKill(
        [&](const taviron::testing::ChildMessages &messages, auto end) {
          messages.Say("ready");
          messages.Say(std::to_string(getpid()));
          for (int32_t n = 1; std::chrono::steady_clock::now() < end; ++n)
            if (!writeLayer(n)) _exit(4);
        },
        std::chrono::microseconds(random() % 30000));
    ASSERT_TRUE(said.empty() || said[0] != '!') << said;
    killed.push_back("-" + said.substr(0, said.find('\n')) + "-");
    const std::vector<std::string> left = leftovers();
    most = std::max(most, left.size());
    for (const std::string &file : left)
      EXPECT_TRUE(file.find(".taviron-") != std::string::npos &&
                  std::any_of(killed.begin(), killed.end(), [&](const std::string &pid) { return file.find(pid) != std::string::npos; }))
          << file << " is no temporary file of a killed writer";
  }
  // A live writer's temporary file, made while the next write runs.
  int toLive[2], fromLive[2];
  ASSERT_EQ(0, pipe(toLive));
  ASSERT_EQ(0, pipe(fromLive));
  const pid_t live = fork();
  ASSERT_NE(-1, live);
  if (live == 0) {
    close(toLive[1]);
    close(fromLive[0]);
    char *temporary = efio_TempName(dir_.str().c_str(), "layer.ovr", nullptr);
    WriteAll(temporary, "building");
    char c = 'x';
    if (write(fromLive[1], &c, 1) != 1) _exit(1);
    while (read(toLive[0], &c, 1) > 0) {
    }
    std::remove(temporary);
    _exit(0);
  }
  close(toLive[0]);
  close(fromLive[1]);
  char c;
  ASSERT_EQ(1, read(fromLive[0], &c, 1));
  close(fromLive[0]);
  const bool written = writeLayer(-1);
  const std::vector<std::string> left = leftovers();
  close(toLive[1]);
  ASSERT_EQ(live, waitpid(live, nullptr, 0));
  ASSERT_TRUE(written);
  ASSERT_EQ(1u, left.size()) << "after " << killed.size() << " kills up to " << most << " temporary files stayed; "
                             << left.size() << " after the next write";
  EXPECT_NE(std::string::npos, left[0].find("-" + std::to_string(live) + "-")) << left[0];
  for (const std::string &other : others) EXPECT_TRUE(std::filesystem::exists(Path(other))) << other;
}

// Walking the siblings of an entry, and looking each of them up by name, take time in proportion
// to their number.
// A file whose indexes come to disagree with its entry table while it is open (opening checks them):
// a walk in file order never goes back, round in a circle, or on from a place the index does not
// hold (past the entries between); the step that would fails with a report, and the entry it steps
// from reports that it has a next one or a child (a walk does not take the damage for the end).
TEST_F(EhfaTest, WalksOverIndexesThatDisagreeWithTheirTableEndWithAReport) {
  struct Case {
    const char *what, *sql;
    std::vector<std::string> walked;
    const char *failsFrom; // the entry whose step to its next sibling (or first child) fails
    bool child;
  } cases[] = {
      {"a sibling placed back before the first", "UPDATE entry SET seq = 0 WHERE name = 'C'",
       {":A", ":A:A1", ":A:A2", ":A:A2:A2x", ":A:A3", ":B"}, ":B", false},
      {"a sibling placed beside the one before it", "UPDATE entry SET seq = 1 WHERE name = 'B'",
       {":A", ":A:A1", ":A:A2", ":A:A2:A2x", ":A:A3"}, ":A", false},
      {"a child that the table puts under another parent",
       "UPDATE entry SET parent = (SELECT id FROM entry WHERE name = 'C') WHERE name = 'A1'", {":A"}, ":A", true},
      {"a sibling that the table moves on past the next", "UPDATE entry SET seq = 9 WHERE name = 'A2'",
       {":A", ":A:A1"}, ":A:A1", false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = Path("stale.img");
    std::remove(name.c_str());
    ehfa_FileClose(Fixture("stale.img"), nullptr);
    ErrorSlot err;
    Ehfa_File *f = ehfa_FileOpen(name.c_str(), "r", nullptr, &err);
    ASSERT_NE(nullptr, f) << Chain(err);
    SqlBehindTheIndexes(name, c.sql);
    std::vector<std::string> walked;
    Seek(f, ":");
    while (walked.size() < 20 && ehfa_EntrySeek(f, EHFA_FOLLOWING, nullptr, &err)) walked.push_back(Current(f));
    EXPECT_EQ(c.walked, walked);
    EXPECT_TRUE(Reported(err, "ehfa_EntrySeek", 5));
    EXPECT_NE(nullptr, std::strstr(err.Message().c_str(), "disagrees with their table")) << Chain(err);
    EXPECT_EQ(c.walked.back(), Current(f));
    Seek(f, c.failsFrom);
    EXPECT_EQ(1, c.child ? ehfa_EntryCurrentHasChild(f) : ehfa_EntryCurrentHasNext(f));
    ehfa_FileClose(f, nullptr);
  }
}

// A record whose stored layout is not the reader's is read item by item, by name. How the two
// layouts match is worked out once for the open file, so such records cost about what records of
// the reader's own layout cost (working it out for every record took time by the square of the
// items).
TEST_F(EhfaTest, RecordsOfAnotherLayoutCostTheirComparisonOnce) {
  constexpr int32_t kItems = 3000, kRecords = 40;
  std::vector<std::string> names;
  for (int32_t i = 0; i < kItems; ++i) names.push_back("i" + std::to_string(i));
  // The items in the given order, or reversed.
  auto define = [&](Emif_Dictionary *dictionary, const char *name, bool reversed) {
    std::vector<taviron::emif::ItemDefinition> items(kItems);
    for (int32_t i = 0; i < kItems; ++i) {
      items[static_cast<std::size_t>(i)].type = EMIF_TYPE_S32;
      items[static_cast<std::size_t>(i)].name = names[static_cast<std::size_t>(reversed ? kItems - 1 - i : i)].c_str();
    }
    return taviron::emif::DefineDesign(dictionary, name, items, nullptr);
  };
  const std::string name = Path("wide.img");
  Ehfa_File *f = ehfa_FileCreate(name.c_str(), nullptr, nullptr);
  Emif_Design *wide = define(f->dictionary, "Wide", false);
  ASSERT_NE(nullptr, wide);
  std::vector<int32_t> record(kItems);
  for (int32_t i = 0; i < kItems; ++i) record[static_cast<std::size_t>(i)] = i;
  for (int32_t r = 0; r < kRecords; ++r)
    ASSERT_NE(nullptr, ehfa_ObjectWrite(f, ":", ("r" + std::to_string(r)).c_str(), nullptr, EHFA_CHILD,
                                        record.data(), wide, nullptr));
  ehfa_FileClose(f, nullptr);

  Emif_Dictionary *readers = emif_DictionaryCreate(nullptr);
  Emif_Design *reversed = define(readers, "Reversed", true);
  ASSERT_NE(nullptr, reversed);
  // Best of three reads of every record by the design; the last record read is checked.
  auto seconds = [&](bool byReversed) {
    Ehfa_File *file = ehfa_FileOpen(name.c_str(), "r", nullptr, nullptr);
    const Emif_Design *design = byReversed ? reversed : emif_FindDesignByName(file->dictionary, "Wide", nullptr);
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
      const auto start = std::chrono::steady_clock::now();
      for (int32_t r = 0; r < kRecords; ++r) {
        std::fill(record.begin(), record.end(), -1);
        ErrorSlot err;
        EXPECT_NE(nullptr, ehfa_ObjectRead(file, ":", ("r" + std::to_string(r)).c_str(), EHFA_CHILD_NAMED,
                                           record.data(), design, &err)) << Chain(err);
      }
      best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    for (int32_t i = 0; i < kItems; i += 997)
      EXPECT_EQ(byReversed ? kItems - 1 - i : i, record[static_cast<std::size_t>(i)]);
    ehfa_FileClose(file, nullptr);
    return best;
  };
  const double own = seconds(false), other = seconds(true);
  EXPECT_LT(other, 5 * own + 0.05) << own << " s by the stored layout, " << other << " s by another";
  emif_DictionaryDelete(readers, nullptr);
}

TEST_F(EhfaTest, SiblingWalksAndLookupsByNameTakeLinearTime) {
  // Best of three rounds; a round slower than `limit` ends the rounds.
  auto seconds = [&](int32_t count, double limit) {
    const std::string name = Path("siblings" + std::to_string(count) + ".img");
    Ehfa_File *f = ehfa_FileCreate(name.c_str(), nullptr, nullptr);
    Write(f, ":", "P", 3, 0);
    for (int32_t i = 0; i < count; ++i) Write(f, nullptr, ("s" + std::to_string(i)).c_str(), i ? 1 : 3, i);
    ehfa_FileClose(f, nullptr);
    f = ehfa_FileOpen(name.c_str(), "r", nullptr, nullptr);
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
      const auto start = std::chrono::steady_clock::now();
      Seek(f, ":P");
      int32_t walked = 0, before = 0, found = 0;
      for (Ehfa_Entry *e = ehfa_EntrySeek(f, 5, nullptr, nullptr); e; e = ehfa_EntrySeek(f, 1, nullptr, nullptr)) {
        EXPECT_EQ("s" + std::to_string(walked), e->name);
        before += ehfa_EntryCurrentHasPrev(f);
        ++walked;
      }
      for (int32_t i = 0; i < count; ++i)
        found += ehfa_EntryPeek(f, 7, (":P:s" + std::to_string(i)).c_str(), nullptr) != nullptr;
      best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      EXPECT_EQ(count, walked);
      EXPECT_EQ(count - 1, before);
      EXPECT_EQ(count, found);
      if (best > limit) break;
    }
    ehfa_FileClose(f, nullptr);
    return best;
  };
  // Eight times the siblings: about eight times as long (a scan per step would take 64 times).
  const double small = seconds(400, 1e9);
  const double large = seconds(3200, 20 * small);
  EXPECT_LT(large / small, 20) << small << " s for 400, " << large << " s for 3200";
}

// A file written before the index of sibling names existed reads and takes new entries.
TEST_F(EhfaTest, FilesFromBeforeTheNameIndexStillReadAndGrow) {
  const std::string name = Path("before.img");
  WriteAll(name, ReadText(TAVIRON_TEST_DATA_DIR "/layers_before_sibling_index.img"));
  std::vector<std::string> expected;
  for (int i = 1; i <= 50; ++i) expected.push_back((i < 10 ? "s0" : "s") + std::to_string(i));
  for (const char *mode : {"r", "r+"}) {
    SCOPED_TRACE(mode);
    Ehfa_File *f = ehfa_FileOpen(name.c_str(), mode, nullptr, nullptr);
    ASSERT_NE(nullptr, f);
    std::vector<std::string> names;
    Seek(f, ":Siblings");
    for (Ehfa_Entry *e = ehfa_EntrySeek(f, 5, nullptr, nullptr); e; e = ehfa_EntrySeek(f, 1, nullptr, nullptr))
      names.push_back(e->name);
    EXPECT_EQ(expected, names);
    EXPECT_EQ(25, Read(f, nullptr, ":Siblings:s25", 8));
    Seek(f, ":Siblings:s25");
    EXPECT_NE(nullptr, ehfa_EntrySeek(f, 13, "s40", nullptr)); // next sibling of that name
    EXPECT_EQ(":Siblings:s40", Current(f));
    ehfa_FileClose(f, nullptr);
  }
  Ehfa_File *f = ehfa_FileOpen(name.c_str(), "r+", nullptr, nullptr);
  Seek(f, ":Siblings:s25");
  Write(f, nullptr, "s25b", 1, 251);
  ehfa_FileClose(f, nullptr);
  f = ehfa_FileOpen(name.c_str(), "r", nullptr, nullptr);
  EXPECT_EQ(251, Read(f, nullptr, ":Siblings:s25b", 8));
  Seek(f, ":Siblings:s25b");
  ASSERT_NE(nullptr, ehfa_EntrySeek(f, 1, nullptr, nullptr));
  EXPECT_EQ(":Siblings:s26", Current(f));
  ehfa_FileClose(f, nullptr);
}

} // namespace
