// A damaged annotation layer file: a layer whose element records are damaged (bits flipped in
// them) or that is cut short opens whole or fails with a report; it never opens with elements
// missing and nothing said. Asked for, the elements before a damaged one can still be had.
#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "annotation_testing.h"
#include "efga.h"
#include "egda.h"
#include "ellm.h"

namespace {

using namespace taviron::annotation::testing;

std::string Bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Where a stored record lies in the file's bytes.
struct Record {
  std::string entry;
  std::size_t at, size;
};

class LayerDamageTest : public PackageTest {
protected:
  void SetUp() override {
    unsetenv("PERSONAL");
    PackageTest::SetUp();
  }
  // A block of one part of n points from (x, y).
  static Efga_CoordinateBlock *Points(double x, double y, int n) {
    Efga_CoordinateBlock *block = efga_CoordBlockPtrCreate(1, nullptr);
    Egda_BaseData *part = egda_BaseDataCreate(2, n, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
    for (int i = 0; i < n; ++i) {
      auto *c = reinterpret_cast<double *>(part->origin + static_cast<std::size_t>(i) * part->pitch);
      c[0] = x + 10 * i;
      c[1] = y + 3 * (i % 2);
    }
    block->parts[0] = part;
    return block;
  }
  // Twelve polygons, polylines and points, the last a group of three of them, written to a layer
  // alone in its file. Returns the number of elements, children included.
  int32_t Written(const std::string &file) {
    ErrorSlot err;
    Eant_Layer *layer = eant_LayerNew(toolkit_, nullptr, file.c_str(), nullptr, nullptr, &err);
    EXPECT_NE(nullptr, layer) << Chain(err);
    if (!layer) return 0;
    Eant_AnnotationInfo *info = layer->antInfo;
    Eant_CoordSysConversion *conversion =
        eant_CoordSysConversionSetValues(nullptr, 1, 1, 1, 1, 0, 0, "meters", "meters", &err);
    Eant_Element *children = nullptr;
    for (int i = 0; i < 14; ++i) {
      Efga_CoordinateBlock *block = Points(i * 5, i * 7, 2 + i % 4);
      const std::string name = "element " + std::to_string(i);
      Eant_Element *e =
          i % 3 == 0 ? eant_PolygonElementSetValues(info, nullptr, conversion, &err, EANT_ELEMKEY_NAME, name.c_str(),
                                                    EANT_ELEMKEY_POLYGONCOORDS, EANT_LOCAL, block,
                                                    EANT_ELEMKEY_FILLSTYLE, 0, EANT_ELEMKEY_END)
          : i % 3 == 1 ? eant_PolylineElementSetValues(info, nullptr, conversion, &err, EANT_ELEMKEY_NAME,
                                                       name.c_str(), EANT_ELEMKEY_POLYLINECOORDS, EANT_LOCAL, block,
                                                       EANT_ELEMKEY_LINESTYLE, 0, EANT_ELEMKEY_END)
                       : eant_PointElementSetValues(info, nullptr, conversion, &err, EANT_ELEMKEY_NAME, name.c_str(),
                                                    EANT_ELEMKEY_POINTCOORD, EANT_LOCAL, block,
                                                    EANT_ELEMKEY_LINESTYLE, 0, EANT_ELEMKEY_END);
      efga_CoordBlockDelete(block, nullptr);
      EXPECT_NE(nullptr, e) << Chain(err);
      Eant_Element *&list = i < 11 ? info->elements : children;
      list = static_cast<Eant_Element *>(ellm_Add(list, ELLM_APPEND, e));
    }
    Eant_Element *group = eant_GroupElementSetValues(info, nullptr, conversion, &err, EANT_ELEMKEY_NAME, "group",
                                                     EANT_ELEMKEY_CHILDREN, children, EANT_ELEMKEY_END);
    EXPECT_NE(nullptr, group) << Chain(err);
    info->elements = static_cast<Eant_Element *>(ellm_Add(info->elements, ELLM_APPEND, group));
    const int32_t count = eant_ElementListCount(info->elements, &err);
    eant_AnnotationWrite(layer, &err);
    EXPECT_FALSE(err) << Chain(err);
    eant_LayerClose(layer, &err);
    eant_CoordSysConversionFree(&conversion);
    return count;
  }
  // The records of the element entries (common parts, the types' records, the group's) and
  // where they lie in the bytes of the file.
  static std::vector<Record> ElementRecords(const std::string &file, const std::string &bytes) {
    std::vector<Record> records;
    sqlite3 *db = nullptr;
    sqlite3_stmt *q = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db,
                           "SELECT name, data FROM entry WHERE data IS NOT NULL AND name NOT IN "
                           "('Annotation', 'AnnotationVersion', 'StyleLibrary', 'SelectedStyles', 'ElementList')",
                           -1, &q, nullptr) == SQLITE_OK) {
      while (sqlite3_step(q) == SQLITE_ROW) {
        const auto *data = static_cast<const char *>(sqlite3_column_blob(q, 1));
        const std::string record(data, static_cast<std::size_t>(sqlite3_column_bytes(q, 1)));
        const std::size_t at = bytes.find(record);
        if (at != std::string::npos && bytes.find(record, at + 1) == std::string::npos)
          records.push_back({reinterpret_cast<const char *>(sqlite3_column_text(q, 0)), at, record.size()});
      }
    }
    sqlite3_finalize(q);
    sqlite3_close(db);
    return records;
  }
};

TEST_F(LayerDamageTest, ADamagedLayerOpensWholeOrFailsWithAReport) {
  const std::string file = Path("layer.ovr"), copy = Path("damaged.ovr");
  const int32_t count = Written(file);
  ASSERT_EQ(15, count);
  const std::string bytes = Bytes(file);
  const std::vector<Record> records = ElementRecords(file, bytes);
  ASSERT_GE(records.size(), 20u) << "the element records are found in the file";

  // The damaged copies: in the records of the first, a middle and the last element of the list (the
  // group), of a group's child, and of a type's own record, bits flipped at places through each
  // record; and the file cut at places through it.
  struct Damage {
    std::string where;
    std::size_t at;
    uint8_t bits; // 0: the file is cut at `at`
  };
  std::vector<Damage> damages;
  for (const char *entry : {"AntElement_0", "AntElement_5", "AntElement_14", "AntElement_12", "Polyline Info"}) {
    const auto record = std::find_if(records.begin(), records.end(), [&](const Record &r) { return r.entry == entry; });
    ASSERT_NE(records.end(), record) << entry;
    for (const double place : {0.0, 0.1, 0.25, 0.4, 0.55, 0.7, 0.85, 1.0})
      for (const uint8_t bits : {0x01, 0x80})
        damages.push_back({entry, record->at + static_cast<std::size_t>(place * double(record->size - 1)), bits});
  }
  for (const double place : {0.02, 0.1, 0.2, 0.25, 0.3, 0.5, 0.75})
    damages.push_back({"the file cut", static_cast<std::size_t>(place * double(bytes.size())), 0});

  int failed = 0;
  for (const Damage &d : damages) {
    SCOPED_TRACE(d.where + " at " + std::to_string(d.at) + " bits " + std::to_string(d.bits));
    std::string damaged = bytes;
    if (d.bits)
      damaged[d.at] = static_cast<char>(damaged[d.at] ^ d.bits);
    else
      damaged.resize(d.at);
    taviron::testing::WriteText(copy, damaged);
    ErrorSlot err;
    Eant_Layer *layer = eant_LayerOpen(toolkit_, nullptr, copy.c_str(), "r", &err);
    if (!layer) {
      EXPECT_TRUE(err) << "a layer that does not open says why";
      ++failed;
      continue;
    }
    EXPECT_FALSE(err) << Chain(err);
    EXPECT_EQ(count, eant_ElementListCount(layer->antInfo->elements, &err)) << "no element is lost";
    eant_LayerClose(layer, &err);
  }
  EXPECT_GT(failed, 0) << "some damage is found";
}

TEST_F(LayerDamageTest, AReaderThatAsksForWhatCanBeReadGetsTheElementsBeforeADamagedOne) {
  const std::string file = Path("layer.ovr");
  ASSERT_EQ(15, Written(file));
  std::string bytes = Bytes(file);
  const std::vector<Record> records = ElementRecords(file, bytes);
  const auto record =
      std::find_if(records.begin(), records.end(), [](const Record &r) { return r.entry == "AntElement_4"; });
  ASSERT_NE(records.end(), record);
  bytes[record->at + 7] = static_cast<char>(bytes[record->at + 7] ^ 0x40); // the length of its name
  taviron::testing::WriteText(file, bytes);

  ErrorSlot err;
  EXPECT_EQ(nullptr, eant_LayerOpen(toolkit_, nullptr, file.c_str(), "r", &err));
  EXPECT_TRUE(Reported(err, "eant_LayerOpen", 8, "Error returned from eant_AnnotationRead"));
  EXPECT_NE(std::string::npos, Chain(err).find("Element 5 of the list (AntElement_4) could not be read")) << Chain(err);

  Ehfa_File *opened = ehfa_FileOpen(file.c_str(), "r", toolkit_, &err);
  ASSERT_NE(nullptr, opened) << Chain(err);
  Eant_AnnotationInfo *info = eant_AnnotationInfoReadWithOptions(
      opened, ":Annotation", nullptr, &err, EANT_OPTION_KEEP_READ_ELEMENTS, 1, EANT_OPTION_END);
  ASSERT_NE(nullptr, info) << Chain(err);
  ASSERT_TRUE(err) << "the cut is told";
  EXPECT_EQ(1, err->severity);
  EXPECT_NE(std::string::npos,
            Chain(err).find("Element 5 of the list (AntElement_4) could not be read: the list ends before it"))
      << Chain(err);
  EXPECT_EQ(4, eant_ElementListCount(info->elements, nullptr));
  eant_AnnotationInfoFree(&info);
  // The option belongs to the reader: the writer refuses it.
  eant_AnnotationInfoWriteWithOptions(opened, ":", "Other", nullptr, &err, EANT_OPTION_KEEP_READ_ELEMENTS, 1,
                                      EANT_OPTION_END);
  EXPECT_TRUE(Reported(err, "eant_AnnotationInfoWriteWithOptions", 1, "Invalid option 2"));
  ehfa_FileClose(opened, &err);
}

} // namespace
