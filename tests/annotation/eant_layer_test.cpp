// Annotation layer files: new and opened layers, writing a layer alone in its file and beside
// others, closing, renaming, deleting and moving a layer, and a writer killed mid-way.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "annotation_testing.h"
#include "efga.h"
#include "egda.h"
#include "emsc.h"

namespace {

using namespace taviron::annotation::testing;

std::string Bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string Text(const Eant_CharStr &s) { return s.count > 0 && s.data ? s.data : ""; }

void CountClosed(void *, void *userData, Eerr_ErrorReport **) { ++*static_cast<int *>(userData); }

class LayerTest : public PackageTest {
protected:
  void SetUp() override {
    unsetenv("PERSONAL");
    PackageTest::SetUp();
  }
  // A new layer whose header is named `name`, written once; closed unless kept.
  Eant_Layer *Made(const std::string &layerName, const char *name, bool keep = false) {
    ErrorSlot err;
    Eant_Layer *layer = eant_LayerNew(toolkit_, nullptr, layerName.c_str(), nullptr, nullptr, &err);
    EXPECT_NE(nullptr, layer) << Chain(err);
    if (!layer) return nullptr;
    EXPECT_EQ(1, layer->isNew);
    eant_CharStrCreate(name, &layer->antInfo->antHead->name, &err);
    eant_AnnotationWrite(layer, &err);
    EXPECT_FALSE(err) << Chain(err);
    EXPECT_EQ(0, layer->isNew);
    if (keep) return layer;
    eant_LayerClose(layer, &err);
    EXPECT_FALSE(err) << Chain(err);
    return nullptr;
  }
  // The header name of a layer read afresh ("" when it cannot be read).
  std::string NameOf(const std::string &layerName) {
    ErrorSlot err;
    Eant_Layer *layer = eant_LayerOpen(toolkit_, nullptr, layerName.c_str(), "r", &err);
    if (!layer) return "";
    std::string name = Text(layer->antInfo->antHead->name);
    eant_LayerClose(layer, &err);
    return name;
  }
  // The children of a node of the file, in order.
  std::string Children(const std::string &file, const char *path) {
    Ehfa_File *f = ehfa_FileOpen(file.c_str(), "r", toolkit_, nullptr);
    if (!f) return "?";
    std::string names;
    if (ehfa_EntrySeek(f, EHFA_PATH, path, nullptr) && ehfa_EntrySeek(f, EHFA_FIRST_CHILD, nullptr, nullptr)) {
      do names += std::string(f->currentEntry->name) + " ";
      while (ehfa_EntrySeek(f, EHFA_NEXT, nullptr, nullptr));
    }
    ehfa_FileClose(f, nullptr);
    return names;
  }
};

TEST_F(LayerTest, NewLayersAreRefusedWhereTheyCannotBe) {
  const std::string file = Path("roads.ovr");
  Made(file, "roads");
  const std::string before = Bytes(file);
  const std::string nested = Path("new.ovr") + "(:a:b)";
  struct Case {
    std::string name;
    const char *message;
  } cases[] = {
      {file, "Layer already exists"},
      {file + "(:Annotation)", "Layer already exists"},
      {file + "(:missing:layer)", "Error returned from ehfa_EntrySeek for parent"},
      {nested, "Nodepath is not valid for new file"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    ErrorSlot err;
    EXPECT_EQ(nullptr, eant_LayerNew(toolkit_, nullptr, c.name.c_str(), nullptr, nullptr, &err));
    EXPECT_TRUE(Reported(err, "eant_LayerNew", err ? err->code : 0, c.message)) << Chain(err);
  }
  EXPECT_TRUE(before == Bytes(file)) << "the file is unchanged";
  EXPECT_FALSE(std::filesystem::exists(Path("new.ovr")));
  ErrorSlot err;
  EXPECT_EQ(nullptr, eant_LayerNew(toolkit_, nullptr, nullptr, nullptr, nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_LayerNew", 1, "Invalid input layer name"));
  EXPECT_EQ(nullptr, eant_LayerOpen(toolkit_, nullptr, file.c_str(), "w", &err));
  EXPECT_TRUE(Reported(err, "eant_LayerOpen", 4, "Invalid input mode"));
  // Bytes that are no layer file, and a layer file cut short.
  std::ofstream(Path("random.ovr"), std::ios::binary) << "SQLite format 3 and then nothing of the kind";
  std::ofstream(Path("cut.ovr"), std::ios::binary) << before.substr(0, before.size() / 3);
  for (const char *name : {"random.ovr", "cut.ovr", "none.ovr"}) {
    EXPECT_EQ(nullptr, eant_LayerOpen(toolkit_, nullptr, Path(name).c_str(), "r+b", &err));
    EXPECT_TRUE(Reported(err, "eant_LayerOpen", 5, "Error returned from ehfa_FileOpen")) << Chain(err);
  }

  // An info given by the caller outlives a refused layer, which leaves nothing behind.
  Eant_AnnotationInfo *info = eant_AnnotationInfoCreate(toolkit_, &err);
  const int64_t live = emsc_TestLiveBlocks();
  EXPECT_EQ(nullptr, eant_LayerNew(toolkit_, nullptr, file.c_str(), info, nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_LayerNew", 6, "Layer already exists"));
  err.Reset();
  EXPECT_EQ(live, emsc_TestLiveBlocks());
  eant_AnnotationInfoFree(&info);
}

TEST_F(LayerTest, ALayerAloneIsRewrittenWholeAndReadBack) {
  const std::string file = Path("alone.ovr");
  Eant_Layer *layer = Made(file, "first", true);
  ASSERT_NE(nullptr, layer);
  EXPECT_EQ("AnnotationVersion AnnotationVersionFlags StyleLibrary SelectedStyles ",
            Children(file, ":Annotation"));
  eant_CharStrCreate("second", &layer->antInfo->antHead->name, nullptr);
  layer->antInfo->modified = 1;
  int closed = 0;
  ErrorSlot err;
  eant_AddLayerClosedCallback(layer->antInfo, &CountClosed, &closed, &err);
  eant_LayerClose(layer, &err); // a modified layer is written as it closes
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ(1, closed);
  EXPECT_EQ("second", NameOf(file));
  EXPECT_EQ("Annotation ", Children(file, ":"));

  // Read only: no file to write to, and closing writes nothing.
  layer = eant_LayerOpen(nullptr, nullptr, file.c_str(), "r", &err);
  ASSERT_NE(nullptr, layer) << Chain(err);
  EXPECT_EQ(nullptr, layer->file);
  EXPECT_GT(eant_LayerGetModTime(layer, &err), 0);
  eant_AnnotationWrite(layer, &err);
  EXPECT_TRUE(Reported(err, "eant_AnnotationWriteNewFile", 2, "Input annotation layer is not open for writing"));
  layer->antInfo->modified = 1;
  const std::string before = Bytes(file);
  eant_LayerClose(layer, &err);
  EXPECT_FALSE(err) << Chain(err);
  EXPECT_TRUE(before == Bytes(file));

  EXPECT_EQ(0, eant_LayerGetModTime(nullptr, &err));
  EXPECT_TRUE(Reported(err, "eant_LayerGetModTime", 1, "Invalid input annotation layer"));
}

TEST_F(LayerTest, ALayerBesideOthersKeepsThemAndLeavesNoTemporaryNode) {
  const std::string file = Path("shared.ovr");
  // The user's own layer "OldRoads" holds the name the swap would take first.
  Made(file + "(:OldRoads)", "user's");
  Made(file + "(:Roads)", "roads 1");
  EXPECT_EQ("OldRoads Roads ", Children(file, ":"));
  ErrorSlot err;
  Eant_Layer *layer = eant_LayerOpen(toolkit_, nullptr, (file + "(:Roads)").c_str(), "r+b", &err);
  ASSERT_NE(nullptr, layer) << Chain(err);
  eant_CharStrCreate("roads 2", &layer->antInfo->antHead->name, nullptr);
  eant_AnnotationWrite(layer, &err);
  ASSERT_FALSE(err) << Chain(err);
  eant_LayerClose(layer, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ("OldRoads Roads ", Children(file, ":"));
  EXPECT_EQ("user's", NameOf(file + "(:OldRoads)"));
  EXPECT_EQ("roads 2", NameOf(file + "(:Roads)"));
  EXPECT_EQ("AnnotationVersion StyleLibrary SelectedStyles ", Children(file, ":Roads"));

  // A layer below another node is never alone; rename and delete of what is not there do nothing.
  Made(file + "(:OldRoads:Sub)", "nested");
  EXPECT_EQ("nested", NameOf(file + "(:OldRoads:Sub)"));
  Ehfa_File *f = ehfa_FileOpen(file.c_str(), "r+b", toolkit_, &err);
  ASSERT_NE(nullptr, f) << Chain(err);
  eant_LayerRename(f, ":", "Nothing", "Else", &err);
  EXPECT_FALSE(err);
  eant_LayerDelete(f, ":", "Nothing", &err);
  EXPECT_FALSE(err);
  eant_LayerRename(f, ":", "Roads", "Streets", &err);
  EXPECT_FALSE(err) << Chain(err);
  eant_LayerDelete(f, ":", "OldRoads", &err);
  EXPECT_FALSE(err) << Chain(err);
  struct Refused {
    const char *path, *first, *second, *reporter;
    int32_t code;
    const char *message;
  } refused[] = {{nullptr, "a", "b", "eant_LayerRename", 1, "Invalid input nodepath"},
                 {":", nullptr, "b", "eant_LayerRename", 2, "Invalid input oldLayername"},
                 {":", "a", nullptr, "eant_LayerRename", 3, "Invalid input newLayername"},
                 {nullptr, "a", nullptr, "eant_LayerDelete", 1, "Invalid input nodepath"},
                 {":", nullptr, nullptr, "eant_LayerDelete", 2, "Invalid input nodename"}};
  for (const Refused &r : refused) {
    if (std::string(r.reporter) == "eant_LayerRename")
      eant_LayerRename(f, r.path, r.first, r.second, &err);
    else
      eant_LayerDelete(f, r.path, r.first, &err);
    EXPECT_TRUE(Reported(err, r.reporter, r.code, r.message)) << Chain(err);
  }
  ehfa_FileClose(f, &err);
  EXPECT_EQ("Streets ", Children(file, ":"));
  EXPECT_EQ("roads 2", NameOf(file + "(:Streets)"));
}

TEST_F(LayerTest, AFailedWriteBesideOthersLeavesTheOldLayer) {
  const std::string file = Path("shared.ovr");
  Made(file + "(:Other)", "other");
  Made(file + "(:Roads)", "roads 1");
  ErrorSlot err;
  Eant_Layer *layer = eant_LayerOpen(toolkit_, nullptr, (file + "(:Roads)").c_str(), "r+b", &err);
  ASSERT_NE(nullptr, layer) << Chain(err);
  taviron::testing::SweepOptions options;
  options.steadyHeap = false;
  options.newStride = 5;
  options.prepare = [&] { // the old layer back in the file, the new one in memory
    eant_CharStrCreate("roads 1", &layer->antInfo->antHead->name, nullptr);
    ErrorSlot e;
    eant_AnnotationWrite(layer, &e);
    ASSERT_FALSE(e) << Chain(e);
    eant_CharStrCreate("roads 2", &layer->antInfo->antHead->name, nullptr);
  };
  taviron::testing::SweepAllocationFailures(
      [&](Eerr_ErrorReport **e) {
        eant_AnnotationWrite(layer, e);
        if (*e) {
          EXPECT_EQ("Other Roads ", Children(file, ":")) << Chain(*e);
          EXPECT_EQ("roads 1", NameOf(file + "(:Roads)")) << Chain(*e);
        }
        return *e == nullptr;
      },
      options);
  EXPECT_EQ("roads 2", NameOf(file + "(:Roads)"));
  eant_LayerClose(layer, &err);
  EXPECT_FALSE(err) << Chain(err);
}

// A file beside whose layers another program stored a design under the name of one of a layer's
// records: with another layout (or a damaged copy), a layer written into it is refused with a
// report naming the design, instead of having its record in memory read by the file's layout, and
// the file keeps what it held; differing only in the names of enumeration values (an older design
// naming fewer), the layer is written by it and reads back.
TEST_F(LayerTest, AWriteIntoAFileWhoseDesignOfARecordDiffersIsRefused) {
  const struct Case {
    const char *name;
    bool written;
  } cases[] = {{"AntHeader_Eant", false}, {"Element_2_Eant", false}, {"ElementNode_Eant", true}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = Path(std::string(c.name) + ".ovr");
    ErrorSlot err;
    int32_t values[64] = {0, 0, 3};
    {
      Ehfa_File *f = ehfa_FileCreate(file.c_str(), toolkit_, &err);
      ASSERT_NE(nullptr, f) << Chain(err);
      Emif_Design *other = c.written ? emif_DesignCreate(f->dictionary, c.name, &err, EMIF_TYPE_ENUM, "nodeType",
                                                         "EANT_ELEMENTLIST", nullptr, 0)
                                     : emif_DesignCreate(f->dictionary, c.name, &err, EMIF_FIXED_ARRAY + EMIF_TYPE_S32,
                                                         "values", 64, 0);
      ASSERT_NE(nullptr, ehfa_ObjectWrite(f, ":", "Other", nullptr, EHFA_CHILD, values, other, &err)) << Chain(err);
      ehfa_FileClose(f, &err);
      ASSERT_FALSE(err) << Chain(err);
    }
    const std::string layerName = file + "(:Roads)";
    Eant_Layer *layer = eant_LayerNew(toolkit_, nullptr, layerName.c_str(), nullptr, nullptr, &err);
    ASSERT_NE(nullptr, layer) << Chain(err);
    Efga_CoordinateBlock *block = efga_CoordBlockPtrCreate(1, nullptr);
    block->parts[0] = egda_BaseDataCreate(2, 1, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
    Eant_CoordSysConversion *conversion =
        eant_CoordSysConversionSetValues(nullptr, 1, 1, 1, 1, 0, 0, "meters", "meters", &err);
    layer->antInfo->elements =
        eant_PointElementSetValues(layer->antInfo, nullptr, conversion, &err, EANT_ELEMKEY_POINTCOORD, EANT_LOCAL, block,
                                   EANT_ELEMKEY_LINESTYLE, 0, EANT_ELEMKEY_END);
    efga_CoordBlockDelete(block, nullptr);
    eant_CoordSysConversionFree(&conversion);
    ASSERT_NE(nullptr, layer->antInfo->elements) << Chain(err);
    eant_AnnotationWrite(layer, &err);
    if (c.written) {
      EXPECT_FALSE(err) << Chain(err);
    } else {
      const std::string differs = "Design " + std::string(c.name) + " of " + file + " differs";
      EXPECT_NE(std::string::npos, Chain(err).find(differs)) << Chain(err);
      layer->antInfo->modified = 0;
    }
    eant_LayerClose(layer, &err);
    EXPECT_FALSE(err) << Chain(err);
    EXPECT_EQ(c.written ? "Other Roads " : "Other ", Children(file, ":"));
    if (c.written) {
      layer = eant_LayerOpen(toolkit_, nullptr, layerName.c_str(), "r", &err);
      ASSERT_NE(nullptr, layer) << Chain(err);
      EXPECT_EQ(1, eant_ElementListCount(layer->antInfo->elements, nullptr));
      eant_LayerClose(layer, nullptr);
    }
    Ehfa_File *f = ehfa_FileOpen(file.c_str(), "r", toolkit_, &err);
    ASSERT_NE(nullptr, f) << Chain(err);
    int32_t read[64] = {};
    EXPECT_NE(nullptr, ehfa_ObjectRead(f, ":", "Other", EHFA_CHILD_NAMED, read,
                                       emif_FindDesignByName(f->dictionary, c.name, nullptr), &err)) << Chain(err);
    EXPECT_EQ(c.written ? 0 : 3, read[2]);
    ehfa_FileClose(f, nullptr);
  }
}

TEST_F(LayerTest, AWriterKilledMidwayLeavesAReadableLayer) {
  for (const std::string &layerName : {Path("alone.ovr"), Path("shared.ovr") + "(:Roads)"}) {
    SCOPED_TRACE(layerName);
    if (layerName.find("shared") != std::string::npos) Made(Path("shared.ovr") + "(:Other)", "other");
    Made(layerName, "written");
    for (int delay : {5, 40, 120}) {
      const pid_t child = fork();
      ASSERT_NE(-1, child);
      if (child == 0) {
        Eant_Layer *layer = eant_LayerOpen(toolkit_, nullptr, layerName.c_str(), "r+b", nullptr);
        if (!layer) _exit(1);
        for (int i = 0; i < 20; ++i) // a layer large enough for a write to take a while
          eant_ColorAddToLibrary(eant_ColorSetValues(nullptr, nullptr, nullptr, nullptr, EANT_KEY_STYLENAME,
                                                     ("c" + std::to_string(i)).c_str(), EANT_KEY_RGB, i, 0, 0, 0),
                                 layer->antInfo->styleLib, 0, nullptr);
        for (;;) eant_AnnotationWrite(layer, nullptr);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
      kill(child, SIGKILL);
      int status = 0;
      ASSERT_EQ(child, waitpid(child, &status, 0));
      EXPECT_EQ("written", NameOf(layerName));
    }
  }
  EXPECT_EQ("other", NameOf(Path("shared.ovr") + "(:Other)"));
  EXPECT_EQ("Other Roads ", Children(Path("shared.ovr"), ":"));
}

TEST_F(LayerTest, AReplacedLayerIsWrittenWholeAtItsNewNode) {
  ErrorSlot err;
  Eant_Layer *layer = Made(Path("old.ovr"), "moved", true);
  ASSERT_NE(nullptr, layer);
  Eant_AnnotationInfo *info = layer->antInfo;
  eant_LayerReplaceWithNew(toolkit_, nullptr, (Path("new.ovr") + "(:Moved)").c_str(), layer, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ(info, layer->antInfo);
  EXPECT_STREQ(":Moved", layer->layerName);
  EXPECT_EQ(1, info->modified);
  eant_LayerClose(layer, &err);
  ASSERT_FALSE(err) << Chain(err);
  EXPECT_EQ("moved", NameOf(Path("new.ovr") + "(:Moved)"));
  EXPECT_EQ("moved", NameOf(Path("old.ovr")));
  eant_LayerReplaceWithNew(toolkit_, nullptr, "x.ovr", nullptr, &err);
  EXPECT_TRUE(Reported(err, "eant_LayerReplaceWithNew", 1, "Invalid input layer"));
}

} // namespace
