// The hierarchical files' C++ side, for the families of the layer: the saved current entry, the
// raster block table, and what the units of the family share. Not part of the C interface.
//
// A file is one SQLite database. Schema (application_id 0x54564846, "TVHF"):
//   entry(id INTEGER PRIMARY KEY, parent INTEGER, seq INTEGER, name TEXT, type TEXT,
//         mtime REAL, data BLOB)   -- the root has parent NULL; siblings are ordered by seq, id;
//                                     indexed on (parent, seq) and (parent, name, seq)
//   design(name TEXT PRIMARY KEY, definition BLOB)   -- the file's dictionary, in adding order
//   block(entry INTEGER, row INTEGER, col INTEGER, data BLOB)   -- raster blocks of an entry
// A record is kept in `data` in its design's external form (emif_codec.cpp); `type` names the
// design.
#ifndef TAVIRON_LOWER_EHFA_INTERNAL_H
#define TAVIRON_LOWER_EHFA_INTERNAL_H

#include <sqlite3.h>
#include <sys/time.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "ehfa.h"
#include "emif_internal.h"
#include "ownership.h"

/* Saves the current entry of a file and puts it back when it goes out of scope, unless the
   operation keeps its move (restore = false). */
class EhfaSavedEntry {
public:
  explicit EhfaSavedEntry(Ehfa_File *file) : file_(file) {
    position_ = ehfa_EntryPositionGet(file, &problem);
  }
  ~EhfaSavedEntry() {
    if (restore && position_) ehfa_EntryPositionSet(file_, position_, nullptr);
    ehfa_EntryPositionFree(position_);
  }
  EhfaSavedEntry(const EhfaSavedEntry &) = delete;
  EhfaSavedEntry &operator=(const EhfaSavedEntry &) = delete;

  bool Saved() const { return position_ != nullptr; }
  const Ehfa_EntryPosition *Position() const { return position_; }
  /* The report of a failed save: the caller hands it on. */
  taviron::lower::CalleeReport problem;
  bool restore = true;

private:
  Ehfa_File *file_;
  Ehfa_EntryPosition *position_ = nullptr;
};

/* Raster blocks: the block table of a file keeps blocks of bytes under (entry, row, column).
   The raster layers (eimg) reach it through these calls.
   Blocks are written inside the file's lazy transaction (committed with the other changes) and
   deleted with their entry; stored blocks are read straight into the caller's memory. Reports
   name ehfa_BlockRead, ehfa_BlockWrite, ehfa_BlocksDelete. */
namespace taviron::ehfa {
/* The id of the current entry (the entry a layer record was just read from or written to); 0
   for an unusable file. */
int64_t CurrentEntryId(Ehfa_File *file);
/* Reads block (row, col) of the entry into buffer: 1 when it is there, 0 when it was never
   written (buffer untouched), -1 with a report when the stored block is not exactly size bytes
   or the file fails. */
int32_t BlockRead(Ehfa_File *file, int64_t entry, int32_t row, int32_t col, void *buffer,
                  int32_t size, Eerr_ErrorReport **err);
/* Reads every stored block (r, c) of the entry with firstRow <= r <= lastRow and firstCol <= c
   <= lastCol, in row then column order, with one query (and so under one read lock of the file):
   target(context, r, c, size, &into, err) tells where its size bytes go (into left null: the
   block is skipped) or fails with its own report in err (false). 0, or -1 with a report. */
int32_t BlockRangeRead(Ehfa_File *file, int64_t entry, int32_t firstRow, int32_t lastRow, int32_t firstCol,
                       int32_t lastCol,
                       bool (*target)(void *context, int32_t row, int32_t col, int32_t size, uint8_t **into,
                                      Eerr_ErrorReport **err),
                       void *context, Eerr_ErrorReport **err);
/* Stores (or replaces) block (row, col) of the entry. 0, or -1 with a report. */
int32_t BlockWrite(Ehfa_File *file, int64_t entry, int32_t row, int32_t col, const void *data,
                   int32_t size, Eerr_ErrorReport **err);
/* Deletes every block of the entry. 0, or -1 with a report. */
int32_t BlocksDelete(Ehfa_File *file, int64_t entry, Eerr_ErrorReport **err);
/* Drops the changes of the open transaction (the blocks written since the last commit
   included). */
void Rollback(Ehfa_File *file);
} // namespace taviron::ehfa
// ---- Between the units of the family ----
// The tree of entries, its statements and transactions, shared by the units that open files,
// walk and write entries, and keep raster blocks.
namespace taviron::ehfa {

// The application id that marks a database as a hierarchical file of this system ("TVHF").
inline constexpr int32_t kApplicationId = 0x54564846;
// Entries on one path at most (guards a walk up a corrupt tree).
inline constexpr std::size_t kMaxDepth = 1u << 20;

// Called after a commit that changed a file (ehfa_SetFileChangedCallback).
extern Ehfa_FileChangedCallback changedCallback;

inline double Now() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

struct Row {
  int64_t id = 0;
  std::optional<int64_t> parent;
  std::string name;
  std::string type;
  double mtime = 0;
  int64_t dataSize = 0;
};

struct EntryHolder {
  Ehfa_Entry entry{};
};

// The private part of an open file.
struct State {
  sqlite3 *db = nullptr;
  std::string mode;
  int64_t root = 0;
  int64_t current = 0;
  bool transaction = false; // an SQL transaction is open
  bool changed = false;     // the open transaction changed something
  uint64_t savedSerial = 0; // dictionary serial last written to the file
  // The designs of the file this handle has read or written; designs other handles add are kept
  // when this one writes its dictionary.
  std::set<std::string> storedDesigns;
  bool designsSaved = false; // the open transaction writes the dictionary
  int32_t readBrackets = 0, writeBrackets = 0, modeBrackets = 0, listBrackets = 0;
  std::map<const char *, sqlite3_stmt *> statements;
  std::map<int64_t, EntryHolder *> entries;
  // Each stored design is compared with the design a reader gives once for the open file.
  emif::LayoutVerdicts verdicts;
  std::string error; // the SQL failure of the operation in progress
  // A file made by ehfa_FileCreate over an existing one lives under this temporary name beside
  // it until its first commit puts it in place; empty once it is in place.
  std::string pending;

  int32_t WriteDepth() const { return writeBrackets + modeBrackets + listBrackets; }
};

inline State &StateOf(Ehfa_File *file) { return *static_cast<State *>(file->internal); }

// A cached statement of the file, reset when the query ends.
class Query {
public:
  Query(State &state, const char *sql) : state_(state) {
    auto it = state.statements.find(sql);
    if (it != state.statements.end()) {
      stmt_ = it->second;
    } else if (state.db && sqlite3_prepare_v2(state.db, sql, -1, &stmt_, nullptr) == SQLITE_OK) {
      try {
        state.statements[sql] = stmt_;
      } catch (...) { // a statement left out of the cache would keep the connection from closing
        sqlite3_finalize(stmt_);
        throw;
      }
    } else {
      if (state.db) Fail();
      else state.error = "the file is not open";
      stmt_ = nullptr;
    }
  }
  ~Query() {
    if (stmt_) {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
  }
  Query(const Query &) = delete;
  Query &operator=(const Query &) = delete;

  bool Ok() const { return stmt_ != nullptr; }
  Query &Bind(int i, int64_t v) {
    if (stmt_) sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Query &Bind(int i, double v) {
    if (stmt_) sqlite3_bind_double(stmt_, i, v);
    return *this;
  }
  Query &Bind(int i, const std::string &v) {
    if (stmt_) sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Query &BindBlob(int i, const void *data, int32_t size) {
    if (stmt_) {
      if (data) sqlite3_bind_blob(stmt_, i, data, size, SQLITE_TRANSIENT);
      else sqlite3_bind_null(stmt_, i);
    }
    return *this;
  }
  // Binds the caller's bytes without a copy: they must stay as they are until the query ends.
  Query &BindStaticBlob(int i, const void *data, int32_t size) {
    if (stmt_) sqlite3_bind_blob(stmt_, i, data, size, SQLITE_STATIC);
    return *this;
  }
  // True for a row; false at the end or on failure (then state.error is set).
  bool Step() {
    if (!stmt_) return false;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) Fail();
    return false;
  }
  // Runs a statement that returns no rows.
  bool Run() {
    Step();
    return state_.error.empty();
  }
  int64_t Int(int c) const { return sqlite3_column_int64(stmt_, c); }
  double Real(int c) const { return sqlite3_column_double(stmt_, c); }
  bool Null(int c) const { return sqlite3_column_type(stmt_, c) == SQLITE_NULL; }
  std::string Text(int c) const {
    const unsigned char *text = sqlite3_column_text(stmt_, c);
    const int n = sqlite3_column_bytes(stmt_, c);
    return text ? std::string(reinterpret_cast<const char *>(text), static_cast<std::size_t>(n)) : std::string();
  }
  const uint8_t *Blob(int c, int32_t &size) const {
    const void *blob = sqlite3_column_blob(stmt_, c);
    size = sqlite3_column_bytes(stmt_, c);
    return static_cast<const uint8_t *>(blob);
  }

private:
  void Fail() {
    if (state_.error.empty()) state_.error = state_.db ? sqlite3_errmsg(state_.db) : "the file is not open";
  }
  State &state_;
  sqlite3_stmt *stmt_ = nullptr;
};

// Holds one read transaction over the statements of a call that only reads, so that the file is
// locked and checked once for the call instead of once for every statement. Nothing is done
// while a write transaction is open (its statements read under it).
class ReadScope {
public:
  explicit ReadScope(State &state) : state_(state) {
    open_ = state.db && !state.transaction && sqlite3_get_autocommit(state.db) &&
            sqlite3_exec(state.db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~ReadScope() {
    if (open_ && sqlite3_exec(state_.db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
      sqlite3_exec(state_.db, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  ReadScope(const ReadScope &) = delete;
  ReadScope &operator=(const ReadScope &) = delete;

private:
  State &state_;
  bool open_ = false;
};

// Runs SQL without results; false with state.error set.
bool Exec(State &state, const char *sql);
// Finalises the cached statements.
void FinalizeAll(State &state);

enum class Match { Any, Name, TypeOrName };

std::optional<Row> LoadRow(State &state, int64_t id);
bool Exists(State &state, int64_t id);
std::optional<int64_t> Parent(State &state, int64_t id);
std::optional<int64_t> FirstChild(State &state, int64_t id, Match match = Match::Any, const std::string &key = {});
std::optional<int64_t> NextSibling(State &state, int64_t id, Match match = Match::Any, const std::string &key = {});
std::optional<int64_t> PreviousSibling(State &state, int64_t id);
// The entry after id in file order (pre-order).
std::optional<int64_t> Following(State &state, int64_t id);
// The nearest entry below id (breadth first) whose type is `type`.
std::optional<int64_t> BelowOf(State &state, int64_t id, const std::string &type);
// The entry at a path: from the root when it begins with ":" or `absolute` is set, else from
// `from`.
std::optional<int64_t> Resolve(State &state, int64_t from, const std::string &path, bool absolute);
// The entry that the path codes (EHFA_PATH, EHFA_PATH_PEEK) name.
std::optional<int64_t> ResolveNamed(State &state, const char *path, const char *name);
// True for a relation code a seek or a read knows.
bool KnownCode(int32_t code);
// The entry at the code's place relative to `from`.
std::optional<int64_t> Locate(State &state, int32_t code, int64_t from, const char *path, const char *name);
// The entry record of id, refreshed from the file; null when there is no such entry.
Ehfa_Entry *Publish(Ehfa_File *file, int64_t id);
// Makes id the current entry (it stays where it was when the record cannot be published).
void MoveTo(Ehfa_File *file, int64_t id);

// Opens the file's write transaction when none is open.
bool Begin(Ehfa_File *file);
// Commits the open transaction (writing the dictionary when it changed); false, rolled back, on
// failure.
bool Commit(Ehfa_File *file);

// Checks every call starts with: an open file (code 1).
bool Usable(Ehfa_File *file, const char *reporter, Eerr_ErrorReport **err);
// A file open for writing.
bool Writable(Ehfa_File *file, const char *reporter, int32_t code, Eerr_ErrorReport **err);
// Reports an SQL failure of the operation, if there was one.
bool SqlFailed(Ehfa_File *file, const char *reporter, int32_t code, Eerr_ErrorReport **err);

// Syncs the directory of a path, so that a rename into it lasts; false with errno set.
bool SyncDirectoryOf(const std::string &path);

} // namespace taviron::ehfa

#endif
