// Hierarchical files whose stored designs, entries and tree rows were edited behind the file's
// back, read into the harness's own designs: designs of the same names with other layouts
// (items reordered, added, dropped, of other types, shorter and longer arrays, fewer enumeration
// names, nested designs that differ in turn), so that every record goes through the decoding of
// a stored record into a different caller design.
//
// A file of a few entries is made once; each input edits a copy of it at the SQL level and then
// walks it. Input: edits, each an operation byte and its values (see Edit), up to a byte 0xFF;
// the bytes after it steer the walk (see Walk). A read that fails must leave the record it was
// given as it was.
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "eerr.h"
#include "egda.h"
#include "ehfa.h"
#include "emif.h"
#include "emsc.h"
#include "fuzz_support.h"

namespace {

using taviron::fuzz::Reader;

// ---- The designs --------------------------------------------------------------------------

// The file's designs, as the writer stores them.
struct Stored {
  Emif_Dictionary *dictionary = emif_DictionaryCreate(nullptr);
  const Emif_Design *inner = emif_DesignCreate(dictionary, "Inner", nullptr, 12, "id", 520, "label", 0);
  const Emif_Design *shape = emif_DesignCreate(
      dictionary, "Shape", nullptr, 3, "kind", "A", "B", "C", nullptr, 14, "x", 14, "y", 520, "name",
      1, "inner", "Inner", 269, "weights", 3, 521, "codes", 1026, "link", "Inner", 514, "list", "Inner",
      1041, "matrix", 17, "grid", 0);
  const Emif_Design *legacy = emif_DesignCreate(dictionary, "Legacy", nullptr, 264, "magic", 6, 10,
                                                "value", 7, "flag", 0);
};

// The harness's designs of the same names, and one of another name that shares items.
struct Own {
  Emif_Dictionary *dictionary = emif_DictionaryCreate(nullptr);
  const Emif_Design *inner = emif_DesignCreate(dictionary, "Inner", nullptr, 520, "label", 14, "extra",
                                               12, "id", 0);
  const Emif_Design *shape = emif_DesignCreate(
      dictionary, "Shape", nullptr, 14, "y", 520, "name", 12, "x", 1, "inner", "Inner", 269, "weights", 2,
      521, "codes", 1026, "link", "Inner", 514, "list", "Inner", 3, "kind", "A", "B", nullptr, 7,
      "added", 1041, "matrix", 1041, "grid", 0);
  const Emif_Design *legacy = emif_DesignCreate(dictionary, "Legacy", nullptr, 264, "magic", 10, 12,
                                                "value", 7, "flag", 1026, "inner", "Inner", 0);
  const Emif_Design *other = emif_DesignCreate(dictionary, "Other", nullptr, 520, "name", 12, "id", 521,
                                               "codes", 0);
  const Emif_Design *list[4] = {inner, shape, legacy, other};
};

template <class T> void Put(void *record, const Emif_Design *design, const char *item, const T &value) {
  std::memcpy(static_cast<char *>(record) + emif_DesignItemOffset(design, item), &value, sizeof value);
}

Emif_String *StringAt(void *record, const Emif_Design *design, const char *item) {
  return reinterpret_cast<Emif_String *>(static_cast<char *>(record) + emif_DesignItemOffset(design, item));
}

// A counted array item {int32 count; T *elements}: its elements, zero-filled.
void *CountedAt(void *record, const Emif_Design *design, const char *item, int32_t count, size_t each) {
  char *at = static_cast<char *>(record) + emif_DesignItemOffset(design, item);
  void *elements = emsc_HeapMalloc(each * static_cast<size_t>(count));
  std::memcpy(at, &count, sizeof count);
  std::memcpy(at + 8, &elements, sizeof elements);
  return elements;
}

void *NewInner(const Stored &s, int32_t id, const char *label) {
  void *record = emif_NewObject(s.inner, nullptr);
  Put(record, s.inner, "id", id);
  emif_EmifStringFromString(StringAt(record, s.inner, "label"), label);
  return record;
}

// The base file must be made whole.
void Written(const void *made, Eerr_ErrorReport *err) {
  if (made && !err) return;
  eerr_PrintErrorReportNoZAV(err);
  std::abort();
}

// The bytes of the file as written: two shapes (one with a child), an inner record, a legacy
// record, and an entry without data.
std::string BaseFile(const std::string &path) {
  const Stored s;
  Eerr_ErrorReport *err = nullptr;
  Ehfa_File *f = ehfa_FileCreate(path.c_str(), nullptr, &err);
  Written(f, err);
  for (int n = 0; n < 2; ++n) {
    void *shape = emif_NewObject(s.shape, nullptr);
    Put(shape, s.shape, "kind", int32_t{n + 1});
    Put(shape, s.shape, "x", 1.5 * n);
    Put(shape, s.shape, "y", -2.25);
    emif_EmifStringFromString(StringAt(shape, s.shape, "name"), n ? "second" : "first");
    void *inner = NewInner(s, 7, "nested");
    std::memcpy(static_cast<char *>(shape) + emif_DesignItemOffset(s.shape, "inner"), inner,
                static_cast<size_t>(emif_DesignSize(s.inner)));
    emsc_HeapFree(inner); // its label now belongs to the shape
    const float weights[3] = {0.5f, 1.0f, 2.0f};
    std::memcpy(static_cast<char *>(shape) + emif_DesignItemOffset(s.shape, "weights"), weights, sizeof weights);
    auto *codes = static_cast<uint16_t *>(CountedAt(shape, s.shape, "codes", 3, sizeof(uint16_t)));
    codes[0] = 1, codes[1] = 500, codes[2] = 65535;
    if (n == 0) Put(shape, s.shape, "link", NewInner(s, 9, "linked"));
    const auto innerSize = static_cast<size_t>(emif_DesignSize(s.inner));
    auto *list = static_cast<char *>(CountedAt(shape, s.shape, "list", 2, innerSize));
    for (size_t i = 0; i < 2; ++i) {
      void *each = NewInner(s, 20 + static_cast<int32_t>(i), i ? "b" : "a");
      std::memcpy(list + i * innerSize, each, innerSize);
      emsc_HeapFree(each); // its label now belongs to the list
    }
    Egda_BaseData *matrix = egda_BaseDataCreate(2, 3, EGDA_TYPE_F64, EGDA_MATRIX, nullptr, nullptr);
    Put(shape, s.shape, "matrix", matrix);
    Written(ehfa_ObjectWrite(f, ":", n ? "second" : "first", nullptr, EHFA_CHILD, shape, s.shape, &err), err);
    emif_ObjectFree(s.shape, shape);
  }
  void *inner = NewInner(s, 3, "child");
  Written(ehfa_ObjectWrite(f, ":first", "child", nullptr, EHFA_CHILD, inner, s.inner, &err), err);
  emif_ObjectFree(s.inner, inner);
  void *legacy = emif_NewObject(s.legacy, nullptr);
  std::memcpy(static_cast<char *>(legacy) + emif_DesignItemOffset(s.legacy, "magic"), "EHFA_", 6);
  Put(legacy, s.legacy, "value", int16_t{-300});
  Put(legacy, s.legacy, "flag", uint8_t{1});
  Written(ehfa_ObjectWrite(f, ":", "legacy", nullptr, EHFA_CHILD, legacy, s.legacy, &err), err);
  emif_ObjectFree(s.legacy, legacy);
  Written(ehfa_EntryWrite(f, ":", "empty", "Shape", EHFA_CHILD, &err), err);
  ehfa_FileClose(f, nullptr);
  emif_DictionaryDelete(s.dictionary, nullptr);
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---- Edits --------------------------------------------------------------------------------

std::vector<std::string> Column(sqlite3 *db, const char *sql) {
  std::vector<std::string> values;
  sqlite3_stmt *q = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &q, nullptr) == SQLITE_OK)
    while (sqlite3_step(q) == SQLITE_ROW)
      values.emplace_back(reinterpret_cast<const char *>(sqlite3_column_text(q, 0)));
  sqlite3_finalize(q);
  return values;
}

std::string BlobOf(sqlite3 *db, const char *sql, const std::string &key, bool keyText = false) {
  std::string blob;
  sqlite3_stmt *q = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &q, nullptr) == SQLITE_OK) {
    if (keyText) sqlite3_bind_text(q, 1, key.c_str(), -1, SQLITE_TRANSIENT);
    else sqlite3_bind_int64(q, 1, std::strtoll(key.c_str(), nullptr, 10));
    if (sqlite3_step(q) == SQLITE_ROW)
      if (const void *bytes = sqlite3_column_blob(q, 0))
        blob.assign(static_cast<const char *>(bytes), static_cast<size_t>(sqlite3_column_bytes(q, 0)));
  }
  sqlite3_finalize(q);
  return blob;
}

// Runs a statement: ?1 the value (of kind 't' text, 'b' blob, 'i' integer, else null), ?2 the
// key (an entry's id, or with keyText a design's name).
void Run(sqlite3 *db, const char *sql, const std::string &value, char kind, const std::string &key,
         bool keyText = false) {
  sqlite3_stmt *q = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &q, nullptr) == SQLITE_OK) {
    switch (kind) {
    case 't': sqlite3_bind_text(q, 1, value.c_str(), static_cast<int>(value.size()), SQLITE_TRANSIENT); break;
    case 'b': sqlite3_bind_blob(q, 1, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT); break;
    case 'i': sqlite3_bind_int64(q, 1, std::strtoll(value.c_str(), nullptr, 10)); break;
    default: sqlite3_bind_null(q, 1); break;
    }
    if (keyText) sqlite3_bind_text(q, 2, key.c_str(), -1, SQLITE_TRANSIENT);
    else sqlite3_bind_int64(q, 2, std::strtoll(key.c_str(), nullptr, 10));
    sqlite3_step(q);
  }
  sqlite3_finalize(q);
}

// Overwrites n bytes at offset (growing the blob when needed).
std::string Patch(std::string blob, Reader &in) {
  const size_t offset = in.Word(2) % (blob.size() + 1);
  const std::string bytes = in.Bytes(in.Byte() % 16);
  if (blob.size() < offset + bytes.size()) blob.resize(offset + bytes.size());
  blob.replace(offset, bytes.size(), bytes);
  return blob;
}

// One edit of the copy. Entries and designs are chosen by their index (modulo their count).
void Edit(sqlite3 *db, Reader &in, uint8_t op) {
  static const char *const kTypes[] = {"Shape", "Inner", "Legacy", "Other", "", "Missing"};
  const std::vector<std::string> ids = Column(db, "SELECT id FROM entry ORDER BY id");
  const std::vector<std::string> designs = Column(db, "SELECT name FROM design ORDER BY rowid");
  if (ids.empty()) return;
  const std::string &id = ids[in.Byte() % ids.size()];
  switch (op % 10) {
  case 0: // patch an entry's record
    Run(db, "UPDATE entry SET data = ?1 WHERE id = ?2",
        Patch(BlobOf(db, "SELECT data FROM entry WHERE id = ?1", id), in), 'b', id);
    break;
  case 1: // cut an entry's record
    Run(db, "UPDATE entry SET data = substr(data, 1, ?1) WHERE id = ?2", std::to_string(in.Word(2)), 'i', id);
    break;
  case 2: { // another type
    const uint8_t choice = in.Byte();
    Run(db, "UPDATE entry SET type = ?1 WHERE id = ?2",
        choice < 200 ? std::string(kTypes[choice % std::size(kTypes)]) : in.Bytes(choice % 8), 't', id);
    break;
  }
  case 3: { // another parent: an entry, none, or one that does not exist
    const uint8_t choice = in.Byte();
    if (choice < 16) Run(db, "UPDATE entry SET parent = ?1 WHERE id = ?2", "", 'n', id);
    else
      Run(db, "UPDATE entry SET parent = ?1 WHERE id = ?2",
          choice < 240 ? ids[choice % ids.size()] : std::to_string(choice), 'i', id);
    break;
  }
  case 4: // another place among the siblings
    Run(db, "UPDATE entry SET seq = ?1 WHERE id = ?2",
        std::to_string(static_cast<int32_t>(in.Word(4))), 'i', id);
    break;
  case 5: // another name
    Run(db, "UPDATE entry SET name = ?1 WHERE id = ?2", in.Bytes(in.Byte() % 8), 't', id);
    break;
  case 6: // patch a design's definition
    if (!designs.empty()) {
      const std::string &name = designs[in.Byte() % designs.size()];
      Run(db, "UPDATE design SET definition = ?1 WHERE name = ?2",
          Patch(BlobOf(db, "SELECT definition FROM design WHERE name = ?1", name, true), in), 'b', name, true);
    }
    break;
  case 7: // a design under another name, or none
    if (!designs.empty()) {
      const std::string &name = designs[in.Byte() % designs.size()];
      const uint8_t choice = in.Byte();
      if (choice < 64) Run(db, "DELETE FROM design WHERE name = ?2", "", 'n', name, true);
      else
        Run(db, "UPDATE OR IGNORE design SET name = ?1 WHERE name = ?2",
            choice < 200 ? std::string(kTypes[choice % std::size(kTypes)]) : in.Bytes(choice % 8), 't', name,
            true);
    }
    break;
  case 8: // a new entry below another one, its record taken from the input
    Run(db, "INSERT INTO entry(parent, seq, name, type, mtime, data) VALUES (?2, 100, 'added', 'Shape', 0, ?1)",
        in.Bytes(in.Byte()), 'b', id);
    break;
  default: // an entry less
    Run(db, "DELETE FROM entry WHERE id = ?2", "", 'n', id);
    break;
  }
}

// ---- Reading ------------------------------------------------------------------------------

// The record's external form, or "" when it has none (an encoding refused).
std::string Encoded(const Emif_Design *design, const void *record) {
  uint8_t *bytes = nullptr;
  int32_t size = 0;
  Eerr_ErrorReport *err = nullptr;
  std::string text = "\xff";
  if (emif_ObjectEncode(design, record, &bytes, &size, &err) == 0) {
    text.assign(reinterpret_cast<char *>(bytes), static_cast<size_t>(size));
    emsc_HeapFree(bytes);
  }
  eerr_DeleteErrorReportEx(&err);
  return text;
}

// Reads the current entry (or the one the code and name give) into the record of a design;
// a failed read must leave the record as it was.
void ReadInto(Ehfa_File *file, int32_t code, const char *name, const Emif_Design *design, void *&record) {
  const std::string before = record ? Encoded(design, record) : std::string();
  Eerr_ErrorReport *err = nullptr;
  void *result = ehfa_ObjectRead(file, nullptr, name, code, record, design, &err);
  if (!result) {
    if (!err) __builtin_trap(); // a failure is reported
    eerr_DeleteErrorReportEx(&err);
    if (record && Encoded(design, record) != before) __builtin_trap();
    return;
  }
  if (record && result != record) __builtin_trap(); // read into the record given
  eerr_DeleteErrorReportEx(&err);
  record = result;
}

// Walks the file: each step a seek (mostly the next entry in file order) and reads of the entry
// into the harness's design of its type and into the one the input chooses.
void Walk(const std::string &path, Reader &in, const Own &own) {
  Eerr_ErrorReport *err = nullptr;
  Ehfa_File *file = ehfa_FileOpen(path.c_str(), "r", nullptr, &err);
  eerr_DeleteErrorReportEx(&err);
  if (!file) return;
  void *records[4] = {};
  static const char *const kNames[] = {"Shape", "Inner", "Legacy", "child", "first", nullptr};
  for (int steps = 0; steps < 64; ++steps) {
    const uint8_t how = in.More() ? in.Byte() : 0;
    int32_t code = EHFA_FOLLOWING;
    const char *name = nullptr;
    if (how >= 128) {
      static const int32_t kCodes[] = {EHFA_FIRST_CHILD, EHFA_NEXT, EHFA_PARENT, EHFA_NEXT_OF,
                                       EHFA_CHILD_OF, EHFA_BELOW_OF, EHFA_CHILD_NAMED, EHFA_PATH};
      code = kCodes[how % std::size(kCodes)];
      name = kNames[(how >> 3) % std::size(kNames)];
      if (code == EHFA_PATH) name = ":first:child";
    }
    Ehfa_Entry *entry = ehfa_EntrySeek(file, code, name, &err);
    eerr_DeleteErrorReportEx(&err);
    if (!entry) {
      if (code == EHFA_FOLLOWING) break;
      continue;
    }
    if (char *at = ehfa_CurrentEntryPath(file, &err)) emsc_HeapFree(at);
    eerr_DeleteErrorReportEx(&err);
    const std::string type = entry->type ? entry->type : "";
    for (int d = 0; d < 4; ++d)
      if (type == emif_DesignName(own.list[d]) || (how & 3) == d)
        ReadInto(file, EHFA_CURRENT, nullptr, own.list[d], records[d]);
    if (how & 4) { // the child named "child", into a new record
      void *child = nullptr;
      ReadInto(file, EHFA_CHILD_NAMED, "child", own.inner, child);
      emif_ObjectFree(own.inner, child);
    }
  }
  for (int d = 0; d < 4; ++d) emif_ObjectFree(own.list[d], records[d]);
  ehfa_FileClose(file, &err);
  eerr_DeleteErrorReportEx(&err);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::string path = taviron::fuzz::ScratchFile("designs.img");
  static const std::string base = BaseFile(path);
  static const Own own;
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << base;
  }
  Reader in{data, size};
  sqlite3 *db = nullptr;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK) {
    // The copy needs no durability: no journal file, no waiting for the disk.
    sqlite3_exec(db, "PRAGMA journal_mode = MEMORY; PRAGMA synchronous = OFF; BEGIN", nullptr, nullptr, nullptr);
    for (int edits = 0; edits < 16 && in.More();) {
      const uint8_t op = in.Byte();
      if (op == 0xFF) break;
      Edit(db, in, op);
      ++edits;
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
  Walk(path, in, own);
  std::remove(path.c_str());
  return 0;
}
