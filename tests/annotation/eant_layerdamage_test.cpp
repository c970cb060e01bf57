// A damaged annotation layer file: a layer whose element records are damaged (bits flipped in
// them), whose entry table is damaged (the place or name of an entry in its row, in an index of
// the rows, or an index page), or that is cut short opens whole or fails with a report; it never
// opens with elements missing and nothing said, nor reads for ever. Asked for, the elements before
// a damaged one can still be had.
#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>
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

// Where an entry's place (parent, seq) and name lie in the rows of the entry table and of its two
// indexes, (parent, seq) and (parent, name, seq), both ending in the row id. The database stores a
// row as a header of column types and the values after it; the entries chosen have a parent, seq
// and id from 2 to 127, each stored as one byte, so that the values stand together: in the table
// row parent, seq, name, type (the id is the row id); in the names index parent, name, seq, id; in
// the children index, after its header (4, then type 1 for each one-byte value), parent, seq, id.
struct EntryPlaces {
  std::size_t rowParent, rowSeq, rowName, namesParent, namesSeq, childrenParent, childrenSeq, childrenId;
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
  // Where the entry of that name (one of its name in the file) lies in the entry table's rows.
  static EntryPlaces PlacesOf(const std::string &file, const std::string &bytes, const std::string &name) {
    sqlite3 *db = nullptr;
    sqlite3_stmt *q = nullptr;
    int64_t id = 0, parent = 0, seq = 0;
    std::string type;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT id, parent, seq, type FROM entry WHERE name = ?1", -1, &q, nullptr) == SQLITE_OK) {
      sqlite3_bind_text(q, 1, name.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(q) == SQLITE_ROW) {
        id = sqlite3_column_int64(q, 0);
        parent = sqlite3_column_int64(q, 1);
        seq = sqlite3_column_int64(q, 2);
        type = reinterpret_cast<const char *>(sqlite3_column_text(q, 3));
      }
    }
    sqlite3_finalize(q);
    sqlite3_close(db);
    for (const int64_t value : {id, parent, seq}) EXPECT_TRUE(value >= 2 && value <= 127) << name << ": " << value;
    const auto byte = [](int64_t value) { return std::string(1, static_cast<char>(value)); };
    // The one place of a run of bytes in the file.
    const auto find = [&](const std::string &run) {
      const std::size_t at = bytes.find(run);
      EXPECT_TRUE(at != std::string::npos && bytes.find(run, at + 1) == std::string::npos) << name;
      return at == std::string::npos ? 0 : at;
    };
    const std::size_t row = find(byte(parent) + byte(seq) + name + type);
    const std::size_t names = find(byte(parent) + name + byte(seq) + byte(id));
    const std::size_t children = find(std::string("\x04\x01\x01\x01", 4) + byte(parent) + byte(seq) + byte(id));
    return {row, row + 1, row + 2, names, names + 1 + name.size(), children + 4, children + 5, children + 6};
  }
  // Where the first page of an index lies in the file.
  static std::size_t IndexPage(const std::string &file, const char *index) {
    sqlite3 *db = nullptr;
    sqlite3_stmt *q = nullptr;
    std::size_t at = 0;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT rootpage, (SELECT page_size FROM pragma_page_size()) FROM sqlite_master "
                               "WHERE name = ?1", -1, &q, nullptr) == SQLITE_OK) {
      sqlite3_bind_text(q, 1, index, -1, SQLITE_STATIC);
      if (sqlite3_step(q) == SQLITE_ROW)
        at = static_cast<std::size_t>((sqlite3_column_int64(q, 0) - 1) * sqlite3_column_int64(q, 1));
    }
    sqlite3_finalize(q);
    sqlite3_close(db);
    EXPECT_GT(at, 0u) << index;
    return at;
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
    const char *mode = "r";
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
  // In the entry table, opened for reading and for writing: the place and name of the list node, of a
  // middle and the last element, and of a group's child, in their rows and in the rows of the
  // indexes (an index that loses an entry or puts it elsewhere hides it from the walks by the
  // index); and the headers of the indexes' pages.
  for (const char *mode : {"r", "r+"}) {
    for (const char *entry : {"ElementList", "AntElement_5", "AntElement_14", "AntElement_12"}) {
      const EntryPlaces p = PlacesOf(file, bytes, entry);
      const std::string at = std::string(entry) + " (" + mode + "): ";
      for (const auto &[where, place, bits] : std::initializer_list<std::tuple<const char *, std::size_t, uint8_t>>{
               {"row parent", p.rowParent, 0x01}, {"row parent", p.rowParent, 0x80}, {"row seq", p.rowSeq, 0x01},
               {"row seq", p.rowSeq, 0x40}, {"row name", p.rowName, 0x01}, {"names index parent", p.namesParent, 0x04},
               {"names index seq", p.namesSeq, 0x10}, {"children index parent", p.childrenParent, 0x01},
               {"children index seq", p.childrenSeq, 0x08}, {"children index id", p.childrenId, 0x02}})
        damages.push_back({at + where, place, bits, mode});
    }
    for (const char *index : {"entry_children", "entry_names"}) {
      const std::size_t page = IndexPage(file, index);
      for (const auto &[where, offset] : std::initializer_list<std::pair<const char *, std::size_t>>{
               {" page kind", 0}, {" page cells", 4}, {" page first cell", 9}})
        damages.push_back({std::string(index) + where + " (" + mode + ")", page + offset, 0x02, mode});
    }
  }

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
    Eant_Layer *layer = eant_LayerOpen(toolkit_, nullptr, copy.c_str(), d.mode, &err);
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
