// Hierarchical files kept in SQLite databases.
//
// Schema (application_id 0x54564846, "TVHF"):
//   entry(id INTEGER PRIMARY KEY, parent INTEGER, seq INTEGER, name TEXT, type TEXT,
//         mtime REAL, data BLOB)   -- the root has parent NULL; siblings are ordered by seq, id
//   design(name TEXT PRIMARY KEY, definition BLOB)   -- the file's dictionary, in adding order
//   block(entry INTEGER, row INTEGER, col INTEGER, data BLOB)   -- raster blocks of an entry
// A record is kept in `data` in its design's external form (emif.cpp); `type` names the design.
#include "ehfa.h"

#include <sqlite3.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ehfa_internal.h"
#include "emif_internal.h"
#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;
namespace emif = taviron::emif;

namespace {

constexpr int32_t kApplicationId = 0x54564846;
constexpr int kBusyMilliseconds = 2000;
constexpr std::size_t kMaxDepth = 1u << 20; // entries on one path (guards a corrupt tree)

const char *const kSchema =
    "CREATE TABLE entry(id INTEGER PRIMARY KEY, parent INTEGER, seq INTEGER NOT NULL, "
    "name TEXT NOT NULL, type TEXT NOT NULL DEFAULT '', mtime REAL NOT NULL, data BLOB);"
    "CREATE INDEX entry_children ON entry(parent, seq);"
    "CREATE TABLE design(name TEXT PRIMARY KEY, definition BLOB NOT NULL);"
    "CREATE TABLE block(entry INTEGER NOT NULL, row INTEGER NOT NULL, col INTEGER NOT NULL, "
    "data BLOB, PRIMARY KEY(entry, row, col));";

Ehfa_FileChangedCallback changedCallback = nullptr;

double Now() {
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
  int32_t readBrackets = 0, writeBrackets = 0, modeBrackets = 0, listBrackets = 0;
  std::map<const char *, sqlite3_stmt *> statements;
  std::map<int64_t, EntryHolder *> entries;
  std::string error; // the SQL failure of the operation in progress

  int32_t WriteDepth() const { return writeBrackets + modeBrackets + listBrackets; }
};

State &StateOf(Ehfa_File *file) { return *static_cast<State *>(file->internal); }

// ---- Statements ----

class Query {
public:
  Query(State &state, const char *sql) : state_(state) {
    auto it = state.statements.find(sql);
    if (it != state.statements.end()) {
      stmt_ = it->second;
    } else if (state.db && sqlite3_prepare_v2(state.db, sql, -1, &stmt_, nullptr) == SQLITE_OK) {
      state.statements[sql] = stmt_;
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

bool Exec(State &state, const char *sql) {
  char *message = nullptr;
  if (sqlite3_exec(state.db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    if (state.error.empty()) state.error = message ? message : sqlite3_errmsg(state.db);
    sqlite3_free(message);
    return false;
  }
  return true;
}

void FinalizeAll(State &state) {
  for (auto &entry : state.statements) sqlite3_finalize(entry.second);
  state.statements.clear();
}

// ---- The tree ----

std::optional<Row> LoadRow(State &state, int64_t id) {
  Query q(state, "SELECT id, parent, name, type, mtime, length(data) FROM entry WHERE id = ?1");
  q.Bind(1, id);
  if (!q.Step()) return std::nullopt;
  Row row;
  row.id = q.Int(0);
  if (!q.Null(1)) row.parent = q.Int(1);
  row.name = q.Text(2);
  row.type = q.Text(3);
  row.mtime = q.Real(4);
  row.dataSize = q.Null(5) ? 0 : q.Int(5);
  return row;
}

bool Exists(State &state, int64_t id) {
  Query q(state, "SELECT 1 FROM entry WHERE id = ?1");
  q.Bind(1, id);
  return q.Step();
}

std::optional<int64_t> Parent(State &state, int64_t id) {
  if (id == state.root) return std::nullopt;
  Query q(state, "SELECT parent FROM entry WHERE id = ?1 AND parent IS NOT NULL");
  q.Bind(1, id);
  if (!q.Step()) return std::nullopt;
  return q.Int(0);
}

enum class Match { Any, Name, TypeOrName };

std::optional<int64_t> FirstChild(State &state, int64_t id, Match match = Match::Any,
                                  const std::string &key = {}) {
  const char *sql =
      match == Match::Any
          ? "SELECT id FROM entry WHERE parent = ?1 ORDER BY seq, id LIMIT 1"
          : match == Match::Name
                ? "SELECT id FROM entry WHERE parent = ?1 AND name = ?2 ORDER BY seq, id LIMIT 1"
                : "SELECT id FROM entry WHERE parent = ?1 AND (type = ?2 OR name = ?2) ORDER BY seq, id LIMIT 1";
  Query q(state, sql);
  q.Bind(1, id);
  if (match != Match::Any) q.Bind(2, key);
  if (!q.Step()) return std::nullopt;
  return q.Int(0);
}

std::optional<int64_t> NextSibling(State &state, int64_t id, Match match = Match::Any,
                                   const std::string &key = {}) {
  if (id == state.root) return std::nullopt;
  const char *sql =
      match == Match::Any
          ? "SELECT e.id FROM entry e, entry c WHERE c.id = ?1 AND e.parent = c.parent AND "
            "(e.seq > c.seq OR (e.seq = c.seq AND e.id > c.id)) ORDER BY e.seq, e.id LIMIT 1"
          : match == Match::Name
                ? "SELECT e.id FROM entry e, entry c WHERE c.id = ?1 AND e.parent = c.parent AND "
                  "(e.seq > c.seq OR (e.seq = c.seq AND e.id > c.id)) AND e.name = ?2 "
                  "ORDER BY e.seq, e.id LIMIT 1"
                : "SELECT e.id FROM entry e, entry c WHERE c.id = ?1 AND e.parent = c.parent AND "
                  "(e.seq > c.seq OR (e.seq = c.seq AND e.id > c.id)) AND (e.type = ?2 OR e.name = ?2) "
                  "ORDER BY e.seq, e.id LIMIT 1";
  Query q(state, sql);
  q.Bind(1, id);
  if (match != Match::Any) q.Bind(2, key);
  if (!q.Step()) return std::nullopt;
  return q.Int(0);
}

std::optional<int64_t> PreviousSibling(State &state, int64_t id) {
  if (id == state.root) return std::nullopt;
  Query q(state, "SELECT e.id FROM entry e, entry c WHERE c.id = ?1 AND e.parent = c.parent AND "
                 "(e.seq < c.seq OR (e.seq = c.seq AND e.id < c.id)) ORDER BY e.seq DESC, e.id DESC LIMIT 1");
  q.Bind(1, id);
  if (!q.Step()) return std::nullopt;
  return q.Int(0);
}

// The entry after id in file order (pre-order: first child, else the next sibling of the
// entry or of its nearest ancestor that has one).
std::optional<int64_t> Following(State &state, int64_t id) {
  if (auto child = FirstChild(state, id)) return child;
  int64_t at = id;
  for (std::size_t steps = 0; steps < kMaxDepth && state.error.empty(); ++steps) {
    if (auto next = NextSibling(state, at)) return next;
    auto parent = Parent(state, at);
    if (!parent) return std::nullopt;
    at = *parent;
  }
  return std::nullopt;
}

// The nearest entry below id (breadth first, siblings in order) whose type is `type`.
std::optional<int64_t> BelowOf(State &state, int64_t id, const std::string &type) {
  std::deque<int64_t> queue{id};
  std::set<int64_t> seen{id};
  while (!queue.empty() && state.error.empty()) {
    const int64_t at = queue.front();
    queue.pop_front();
    std::vector<std::pair<int64_t, std::string>> children;
    {
      Query q(state, "SELECT id, type FROM entry WHERE parent = ?1 ORDER BY seq, id");
      q.Bind(1, at);
      while (q.Step()) children.emplace_back(q.Int(0), q.Text(1));
    }
    for (const auto &child : children) {
      if (child.second == type) return child.first;
      if (seen.insert(child.first).second) queue.push_back(child.first);
    }
  }
  return std::nullopt;
}

std::vector<std::string> SplitPath(const std::string &path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = path.find(':', start);
    const std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!part.empty()) parts.push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

// The entry at a path: from the root when it begins with ":" or `absolute` is set, else from
// `from`.
std::optional<int64_t> Resolve(State &state, int64_t from, const std::string &path, bool absolute) {
  int64_t at = (absolute || (!path.empty() && path[0] == ':')) ? state.root : from;
  for (const std::string &part : SplitPath(path)) {
    auto child = FirstChild(state, at, Match::Name, part);
    if (!child) return std::nullopt;
    at = *child;
  }
  return at;
}

std::string LastComponent(const std::string &path) {
  const auto parts = SplitPath(path);
  return parts.empty() ? std::string() : parts.back();
}

// The entry that codes 7 and 8 name: an absolute name; the path joined with the name; the path
// itself when it already ends in that name (or no name is given).
std::optional<int64_t> ResolveNamed(State &state, const char *path, const char *name) {
  if (name && *name == ':') return Resolve(state, state.root, name, true);
  if (path && name) {
    if (auto joined = Resolve(state, state.root, std::string(path) + ":" + name, true)) return joined;
    if (LastComponent(path) == name) return Resolve(state, state.root, path, true);
    return std::nullopt;
  }
  if (path) return Resolve(state, state.root, path, true);
  if (name) return Resolve(state, state.root, name, true);
  return std::nullopt;
}

bool KnownCode(int32_t code) {
  switch (code) {
  case 1: case 3: case 4: case 5: case 6: case 7: case 8: case 10: case 12: case 13: case 14:
  case 15: case 16: case 17: case 18: return true;
  default: return false;
  }
}

// The entry at the code's place relative to `from` (codes 7 and 8 use path and name).
std::optional<int64_t> Locate(State &state, int32_t code, int64_t from, const char *path, const char *name) {
  const std::string key = name ? name : "";
  switch (code) {
  case 1: return NextSibling(state, from);
  case 3: case 4: case 16: case 17: return from;
  case 5: return FirstChild(state, from);
  case 6: return Parent(state, from);
  case 7: case 8: return ResolveNamed(state, path, name);
  case 10: return NextSibling(state, from, name ? Match::TypeOrName : Match::Any, key);
  case 12: return name ? Resolve(state, from, key, false) : std::nullopt;
  case 13: return name ? NextSibling(state, from, Match::Name, key) : std::nullopt;
  case 14: return FirstChild(state, from, name ? Match::TypeOrName : Match::Any, key);
  case 15: return name ? BelowOf(state, from, key) : std::nullopt;
  case 18: return Following(state, from);
  default: return std::nullopt;
  }
}

void SetString(char *&slot, const std::string &value) {
  if (slot && value == slot) return;
  char *copy = lower::HeapCopy(value.data(), value.size());
  if (!copy) return; // keep the old text rather than none
  emsc_HeapFree(slot);
  slot = copy;
}

// The entry record of id, refreshed from the file; null when there is no such entry.
Ehfa_Entry *Publish(Ehfa_File *file, int64_t id) {
  State &state = StateOf(file);
  auto row = LoadRow(state, id);
  if (!row) return nullptr;
  EntryHolder *&holder = state.entries[id];
  if (!holder) {
    void *block = emsc_HeapMalloc(sizeof(EntryHolder));
    if (!block) {
      state.entries.erase(id);
      if (state.error.empty()) state.error = "out of memory";
      return nullptr;
    }
    holder = new (block) EntryHolder;
  }
  SetString(holder->entry.name, row->name);
  SetString(holder->entry.type, row->type);
  if (!holder->entry.name || !holder->entry.type) {
    if (state.error.empty()) state.error = "out of memory";
    return nullptr;
  }
  holder->entry.modTime = row->mtime;
  holder->entry.dataSize = row->dataSize > INT32_MAX ? INT32_MAX : static_cast<int32_t>(row->dataSize);
  return &holder->entry;
}

// Makes id the current entry. When its record cannot be published (the state's error tells
// why), the current entry stays where it was, so the file record and the state always agree.
void MoveTo(Ehfa_File *file, int64_t id) {
  if (Ehfa_Entry *entry = Publish(file, id)) {
    StateOf(file).current = id;
    file->currentEntry = entry;
  }
}

// ---- Transactions and the dictionary ----

bool Begin(Ehfa_File *file) {
  State &state = StateOf(file);
  if (state.transaction) return true;
  if (!Exec(state, "BEGIN IMMEDIATE")) return false;
  state.transaction = true;
  state.changed = false;
  return true;
}

bool SaveDictionary(Ehfa_File *file) {
  State &state = StateOf(file);
  if (!Query(state, "DELETE FROM design").Run()) return false;
  for (const Emif_Design *design : emif::DictionaryDesigns(file->dictionary)) {
    const std::string definition = emif::DesignDefinition(design);
    Query q(state, "INSERT OR REPLACE INTO design(name, definition) VALUES(?1, ?2)");
    q.Bind(1, std::string(emif_DesignName(design)));
    q.BindBlob(2, definition.data(), static_cast<int32_t>(definition.size()));
    if (!q.Run()) return false;
  }
  state.savedSerial = emif::DictionarySerial(file->dictionary);
  state.changed = true;
  return true;
}

// Commits the open transaction (writing the dictionary when it changed); on failure the
// transaction is rolled back and false returned.
bool Commit(Ehfa_File *file) {
  State &state = StateOf(file);
  if (!state.db) {
    state.error = "the file is not open";
    return false;
  }
  if (state.mode == "r") return true;
  if (emif::DictionarySerial(file->dictionary) != state.savedSerial) {
    if (!Begin(file) || !SaveDictionary(file)) {
      if (state.transaction) Exec(state, "ROLLBACK");
      state.transaction = false;
      return false;
    }
  }
  if (!state.transaction) return true;
  const bool changed = state.changed;
  if (!Exec(state, "COMMIT")) {
    std::string saved = state.error;
    Exec(state, "ROLLBACK");
    state.error = saved;
    state.transaction = false;
    state.savedSerial = ~uint64_t{0};
    if (!Exists(state, state.current)) state.current = state.root;
    MoveTo(file, state.current);
    return false;
  }
  state.transaction = false;
  state.changed = false;
  if (changed) {
    ++file->changeSerial;
    if (Ehfa_FileChangedCallback callback = changedCallback) callback(file);
  }
  return true;
}

// ---- Opening ----

bool IsOurHeader(const uint8_t (&header)[100]) {
  static const char kMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f', 'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
  if (std::memcmp(header, kMagic, sizeof kMagic) != 0) return false;
  const uint32_t id = (uint32_t{header[68]} << 24) | (uint32_t{header[69]} << 16) |
                      (uint32_t{header[70]} << 8) | uint32_t{header[71]};
  return id == static_cast<uint32_t>(kApplicationId);
}

// 1 ours, 0 not ours, -1 unreadable (errno set).
int CheckHeader(const char *name) {
  FILE *f = std::fopen(name, "rb");
  if (!f) return -1;
  uint8_t header[100] = {};
  const std::size_t n = std::fread(header, 1, sizeof header, f);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return -1;
  return n == sizeof header && IsOurHeader(header) ? 1 : 0;
}

bool ValidMode(const char *mode, bool &readOnly) {
  static const char *const kRead[] = {"r", "rb"};
  static const char *const kUpdate[] = {"r+", "r+b", "rb+"};
  for (const char *m : kRead)
    if (std::strcmp(mode, m) == 0) {
      readOnly = true;
      return true;
    }
  for (const char *m : kUpdate)
    if (std::strcmp(mode, m) == 0) {
      readOnly = false;
      return true;
    }
  return false;
}

void Configure(sqlite3 *db) {
  sqlite3_busy_timeout(db, kBusyMilliseconds);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
  sqlite3_extended_result_codes(db, 1);
}

Ehfa_File *NewFileRecord(const char *name, Eint_InitToolkitData *init) {
  auto *file = static_cast<Ehfa_File *>(emsc_HeapMalloc(sizeof(Ehfa_File)));
  if (!file) return nullptr;
  file->fileName = lower::HeapCopy(name, std::strlen(name));
  void *block = emsc_HeapMalloc(sizeof(State));
  Eerr_ErrorReport *ignored = nullptr;
  file->dictionary = emif_DictionaryCreate(&ignored);
  eerr_DeleteErrorReportEx(&ignored);
  if (!file->fileName || !block || !file->dictionary) {
    emsc_HeapFree(file->fileName);
    emsc_HeapFree(block);
    emif_DictionaryDelete(file->dictionary, nullptr);
    emsc_HeapFree(file);
    return nullptr;
  }
  file->internal = new (block) State;
  file->init = init;
  file->changeProcess = static_cast<int32_t>(getpid());
  return file;
}

void FreeFileRecord(Ehfa_File *file) {
  State &state = StateOf(file);
  FinalizeAll(state);
  if (state.db) sqlite3_close(state.db);
  for (auto &entry : state.entries) {
    emsc_HeapFree(entry.second->entry.name);
    emsc_HeapFree(entry.second->entry.type);
    entry.second->~EntryHolder();
    emsc_HeapFree(entry.second);
  }
  state.~State();
  emsc_HeapFree(file->internal);
  emif_DictionaryDelete(file->dictionary, nullptr);
  emsc_HeapFree(file->fileName);
  emsc_HeapFree(file);
}

// Opens the database of an existing file and checks that it is one of ours; false with
// state.error set.
bool Connect(State &state, const char *name, bool readOnly) {
  const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
  if (sqlite3_open_v2(name, &state.db, flags, nullptr) != SQLITE_OK) {
    state.error = state.db ? sqlite3_errmsg(state.db) : "cannot open the database";
    return false;
  }
  Configure(state.db);
  {
    Query q(state, "SELECT count(*) FROM sqlite_master WHERE type IN ('trigger', 'view')");
    if (!q.Step() || q.Int(0) != 0) {
      if (state.error.empty()) state.error = "the database holds triggers or views";
      return false;
    }
  }
  {
    Query q(state, "PRAGMA application_id");
    if (!q.Step() || q.Int(0) != kApplicationId) {
      if (state.error.empty()) state.error = "the database is not a hierarchical file";
      return false;
    }
  }
  for (const char *sql : {"SELECT id, parent, seq, name, type, mtime, data FROM entry LIMIT 0",
                          "SELECT name, definition FROM design LIMIT 0",
                          "SELECT entry, row, col, data FROM block LIMIT 0"}) {
    Query q(state, sql);
    if (!q.Ok()) return false;
    q.Step();
    if (!state.error.empty()) return false;
  }
  Query q(state, "SELECT id FROM entry WHERE parent IS NULL ORDER BY id LIMIT 2");
  if (!q.Step()) {
    if (state.error.empty()) state.error = "the file has no root entry";
    return false;
  }
  state.root = q.Int(0);
  if (q.Step()) {
    state.error = "the file has more than one root entry";
    return false;
  }
  if (!state.error.empty()) return false;
  state.current = state.root;
  return true;
}

bool LoadDictionary(Ehfa_File *file, Eerr_ErrorReport **inner) {
  State &state = StateOf(file);
  std::vector<std::pair<std::string, std::string>> rows;
  {
    Query q(state, "SELECT name, definition FROM design ORDER BY rowid");
    while (q.Step()) {
      int32_t size = 0;
      const uint8_t *blob = q.Blob(1, size);
      rows.emplace_back(q.Text(0), blob ? std::string(reinterpret_cast<const char *>(blob), static_cast<std::size_t>(size)) : std::string());
    }
  }
  if (!state.error.empty()) return false;
  for (const auto &row : rows)
    if (!emif::DictionaryAddDefinition(file->dictionary, row.first, row.second, inner)) return false;
  state.savedSerial = emif::DictionarySerial(file->dictionary);
  return true;
}

Ehfa_File *OpenExisting(const char *reporter, const char *name, const char *mode,
                        Eint_InitToolkitData *init, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!name || !*name) {
    lower::Report(err, reporter, 1, "Invalid file name");
    return nullptr;
  }
  bool readOnly = false;
  if (!mode || !ValidMode(mode, readOnly)) {
    lower::Report(err, reporter, 2, "Invalid mode %s for hierarchical file %s", mode ? mode : "(null)", name);
    return nullptr;
  }
  const int header = CheckHeader(name);
  if (header < 0) {
    lower::Report(err, reporter, 3, "Unable to open %s: %s", name, std::strerror(errno));
    return nullptr;
  }
  if (header == 0) {
    lower::Report(err, reporter, 4, "%s is not a hierarchical file", name);
    return nullptr;
  }
  Ehfa_File *file = NewFileRecord(name, init);
  if (!file) {
    lower::Report(err, reporter, 5, "Error allocating the file record of %s", name);
    return nullptr;
  }
  State &state = StateOf(file);
  file->readOnly = readOnly ? 1 : 0;
  try {
    state.mode = readOnly ? "r" : "r+";
    bool connected = Connect(state, name, readOnly);
    if (!connected && readOnly && state.db &&
        sqlite3_extended_errcode(state.db) == SQLITE_READONLY_ROLLBACK) {
      // A writer died in the middle of a change: let a writable connection roll it back first.
      FinalizeAll(state);
      sqlite3_close(state.db);
      state.db = nullptr;
      state.error.clear();
      if (Connect(state, name, false)) {
        FinalizeAll(state);
        sqlite3_close(state.db);
        state.db = nullptr;
        connected = Connect(state, name, true);
      }
    }
    if (!connected) {
      lower::Report(err, reporter, 6, "%s is not a readable hierarchical file: %s", name, state.error.c_str());
      FreeFileRecord(file);
      return nullptr;
    }
    Eerr_ErrorReport *inner = nullptr;
    if (!LoadDictionary(file, &inner)) {
      if (!state.error.empty()) inner = eerr_CreateErrorReport("ehfa_FileOpen", 7, EERR_FATAL, inner, "%s", state.error.c_str());
      lower::ReportCallee(err, inner, reporter, 7, "the reading of the file's designs");
      FreeFileRecord(file);
      return nullptr;
    }
    MoveTo(file, state.root);
    if (!file->currentEntry) {
      lower::Report(err, reporter, 6, "%s is not a readable hierarchical file: %s", name, state.error.c_str());
      FreeFileRecord(file);
      return nullptr;
    }
  } catch (const std::bad_alloc &) {
    lower::Report(err, reporter, 5, "Out of memory opening %s", name);
    FreeFileRecord(file);
    return nullptr;
  }
  return file;
}

// ---- Common checks ----

bool Usable(Ehfa_File *file, const char *reporter, Eerr_ErrorReport **err) {
  if (!file || !file->internal) {
    lower::Report(err, reporter, 1, "Invalid hierarchical file");
    return false;
  }
  State &state = StateOf(file);
  state.error.clear();
  if (!state.db) {
    lower::Report(err, reporter, 1, "Hierarchical file %s is not open", file->fileName);
    return false;
  }
  return true;
}

bool Writable(Ehfa_File *file, const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  if (file->readOnly) {
    lower::Report(err, reporter, code, "Hierarchical file %s is open for reading only", file->fileName);
    return false;
  }
  return true;
}

// Reports an SQL failure of the operation, if there was one.
bool SqlFailed(Ehfa_File *file, const char *reporter, int32_t code, Eerr_ErrorReport **err) {
  State &state = StateOf(file);
  if (state.error.empty()) return false;
  lower::Report(err, reporter, code, "Error in hierarchical file %s: %s", file->fileName, state.error.c_str());
  state.error.clear();
  return true;
}

bool ValidNodeName(const char *name) { return name && *name && !std::strchr(name, ':'); }

// The entry a path argument names (null path: the current entry).
std::optional<int64_t> Base(Ehfa_File *file, const char *path) {
  State &state = StateOf(file);
  if (!path) return state.current;
  return Resolve(state, state.current, path, false);
}

// Inserts a new entry at the code's place relative to base; returns its id.
std::optional<int64_t> Insert(Ehfa_File *file, int32_t code, int64_t base, const std::string &name,
                              const std::string &type, const void *data, int32_t size) {
  State &state = StateOf(file);
  int64_t parent = base;
  int64_t seq = 0;
  if (code == EHFA_NEXT) {
    Query q(state, "SELECT parent, seq FROM entry WHERE id = ?1 AND parent IS NOT NULL");
    q.Bind(1, base);
    if (!q.Step()) return std::nullopt;
    parent = q.Int(0);
    seq = q.Int(1) + 1;
    Query shift(state, "UPDATE entry SET seq = seq + 1 WHERE parent = ?1 AND seq >= ?2");
    shift.Bind(1, parent).Bind(2, seq);
    if (!shift.Run()) return std::nullopt;
  } else {
    Query q(state, "SELECT COALESCE(MAX(seq), 0) + 1 FROM entry WHERE parent = ?1");
    q.Bind(1, base);
    if (!q.Step()) return std::nullopt;
    seq = q.Int(0);
  }
  Query q(state, "INSERT INTO entry(parent, seq, name, type, mtime, data) VALUES(?1, ?2, ?3, ?4, ?5, ?6)");
  q.Bind(1, parent).Bind(2, seq).Bind(3, name).Bind(4, type).Bind(5, Now()).BindBlob(6, data, size);
  if (!q.Run()) return std::nullopt;
  state.changed = true;
  return sqlite3_last_insert_rowid(state.db);
}

// Shared by ehfa_EntryWrite and ehfa_ObjectWrite: places (or rewrites) the entry and makes it
// current. data null: no data (for a rewrite: keep it unless the type changes).
Ehfa_Entry *WriteEntry(const char *reporter, Ehfa_File *file, const char *path, const char *name,
                       const char *type, int32_t code, bool withData, const uint8_t *data,
                       int32_t size, Eerr_ErrorReport **err) {
  State &state = StateOf(file);
  if (code != EHFA_OVERWRITE && code != EHFA_NEXT && code != EHFA_CHILD && code != EHFA_LAST_CHILD) {
    lower::Report(err, reporter, 3, "Invalid relation code %d for writing", code);
    return nullptr;
  }
  if (code != EHFA_OVERWRITE && !ValidNodeName(name)) {
    lower::Report(err, reporter, 4, "Invalid node name %s", name ? name : "(null)");
    return nullptr;
  }
  std::optional<int64_t> base;
  if (code == EHFA_OVERWRITE && !path && name && std::strchr(name, ':'))
    base = Resolve(state, state.root, name, true);
  else
    base = Base(file, path);
  if (SqlFailed(file, reporter, 5, err)) return nullptr;
  if (!base) {
    lower::Report(err, reporter, 6, "No entry %s in %s", path ? path : name, file->fileName);
    return nullptr;
  }
  if (code == EHFA_NEXT && *base == state.root) {
    lower::Report(err, reporter, 7, "The root entry has no siblings");
    return nullptr;
  }
  if (!Begin(file)) {
    SqlFailed(file, reporter, 5, err);
    return nullptr;
  }
  int64_t target = *base;
  if (code == EHFA_OVERWRITE) {
    auto row = LoadRow(state, target);
    if (!row) {
      if (!SqlFailed(file, reporter, 5, err)) lower::Report(err, reporter, 6, "No entry to rewrite");
      return nullptr;
    }
    const std::string newName = ValidNodeName(name) ? std::string(name) : row->name;
    const std::string newType = type ? std::string(type) : row->type;
    if (withData) {
      Query q(state, "UPDATE entry SET name = ?2, type = ?3, mtime = ?4, data = ?5 WHERE id = ?1");
      q.Bind(1, target).Bind(2, newName).Bind(3, newType).Bind(4, Now()).BindBlob(5, data ? data : reinterpret_cast<const uint8_t *>(""), size);
      q.Run();
    } else if (newType != row->type) {
      Query q(state, "UPDATE entry SET name = ?2, type = ?3, mtime = ?4, data = NULL WHERE id = ?1");
      q.Bind(1, target).Bind(2, newName).Bind(3, newType).Bind(4, Now());
      q.Run();
    } else {
      Query q(state, "UPDATE entry SET name = ?2, mtime = ?3 WHERE id = ?1");
      q.Bind(1, target).Bind(2, newName).Bind(3, Now());
      q.Run();
    }
    if (SqlFailed(file, reporter, 5, err)) return nullptr;
    state.changed = true;
  } else {
    auto id = Insert(file, code, target, name, type ? type : "", withData ? (data ? data : reinterpret_cast<const uint8_t *>("")) : nullptr, size);
    if (!id) {
      if (!SqlFailed(file, reporter, 5, err)) lower::Report(err, reporter, 6, "No entry to place the new entry by");
      return nullptr;
    }
    target = *id;
  }
  MoveTo(file, target);
  if (SqlFailed(file, reporter, 5, err)) return nullptr;
  return file->currentEntry;
}

// Reads the entry's record (shared by ehfa_ObjectRead and ehfa_ObjectReadIfPresent).
void *ReadRecord(const char *reporter, Ehfa_File *file, int64_t id, void *record,
                 const Emif_Design *design, Eerr_ErrorReport **err) {
  State &state = StateOf(file);
  Query q(state, "SELECT name, type, data FROM entry WHERE id = ?1");
  q.Bind(1, id);
  if (!q.Step()) {
    if (!SqlFailed(file, reporter, 5, err)) lower::Report(err, reporter, 6, "The entry vanished");
    return nullptr;
  }
  const std::string name = q.Text(0);
  const std::string type = q.Text(1);
  int32_t size = 0;
  const uint8_t *bytes = q.Null(2) ? nullptr : q.Blob(2, size);
  if (q.Null(2)) {
    lower::Report(err, reporter, 7, "Entry %s of %s holds no record", name.c_str(), file->fileName);
    return nullptr;
  }
  // The bytes are laid out by the file's design of the entry's type; an entry whose type the file
  // does not define is read only by a design of that name.
  const Emif_Design *stored = type.empty() ? nullptr : emif_FindDesignByName(file->dictionary, type.c_str(), nullptr);
  if (!stored) {
    if (type != emif_DesignName(design)) {
      lower::Report(err, reporter, 8, "Entry %s holds a record of design %s, which %s does not define", name.c_str(),
                    type.c_str(), file->fileName);
      return nullptr;
    }
    stored = design;
  } else if (stored != design && !emif::LayoutsEqual(stored, design) && !emif::DesignsShareItems(stored, design)) {
    lower::Report(err, reporter, 8, "Entry %s holds a record of design %s, not of design %s", name.c_str(),
                  type.c_str(), emif_DesignName(design));
    return nullptr;
  }
  Eerr_ErrorReport *inner = nullptr;
  void *result = emif_ObjectDecode(stored, design, bytes ? bytes : reinterpret_cast<const uint8_t *>(""), size, record, &inner);
  if (!result) {
    lower::ReportCallee(err, inner, reporter, 9, "emif_ObjectDecode");
    lower::Report(err, reporter, 9, "Corrupt record in entry %s of %s", name.c_str(), file->fileName);
  }
  return result;
}

// Locates the entry of a read: 0 found, 1 absent, -1 failed (reported).
int LocateForRead(const char *reporter, Ehfa_File *file, const char *path, const char *name,
                  int32_t code, int64_t &target, Eerr_ErrorReport **err) {
  State &state = StateOf(file);
  if (!KnownCode(code)) {
    lower::Report(err, reporter, 3, "Invalid relation code %d", code);
    return -1;
  }
  std::optional<int64_t> found;
  if (code == EHFA_PATH || code == EHFA_PATH_PEEK) {
    found = ResolveNamed(state, path, name);
  } else {
    auto base = Base(file, path);
    if (base) found = Locate(state, code, *base, path, name);
  }
  if (SqlFailed(file, reporter, 5, err)) return -1;
  if (!found) return 1;
  target = *found;
  return 0;
}

int32_t ChangeV(Ehfa_File *file, Eerr_ErrorReport **err, va_list ap, const char *reporter);

} // namespace

extern "C" {

Ehfa_FileChangedCallback ehfa_SetFileChangedCallback(Ehfa_FileChangedCallback callback) {
  Ehfa_FileChangedCallback previous = changedCallback;
  changedCallback = callback;
  return previous;
}

int32_t ehfa_IsHFAFile(const char *name, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!name) {
    lower::Report(err, "ehfa_IsHFAFile", 1, "Invalid file name");
    return 0;
  }
  if (access(name, F_OK) != 0) return 0;
  const int header = CheckHeader(name);
  if (header < 0) {
    lower::Report(err, "ehfa_IsHFAFile", 2, "Unable to read %s: %s", name, std::strerror(errno));
    return 0;
  }
  return header;
}

Ehfa_File *ehfa_FileOpen(const char *name, const char *mode, Eint_InitToolkitData *init,
                         Eerr_ErrorReport **err, ...) {
  return OpenExisting("ehfa_FileOpen", name, mode, init, err);
}

Ehfa_File *ehfa_FileCreate(const char *name, Eint_InitToolkitData *init, Eerr_ErrorReport **err, ...) {
  static const char *const kReporter = "ehfa_FileCreate";
  lower::Clear(err);
  if (!name || !*name) {
    lower::Report(err, kReporter, 1, "Invalid file name");
    return nullptr;
  }
  Ehfa_File *file = NewFileRecord(name, init);
  if (!file) {
    lower::Report(err, kReporter, 2, "Error allocating the file record of %s", name);
    return nullptr;
  }
  State &state = StateOf(file);
  state.mode = "r+";
  // A stale journal of a file of that name would be played back into the new one.
  const std::string journal = std::string(name) + "-journal";
  if ((unlink(name) != 0 && errno != ENOENT) || (unlink(journal.c_str()) != 0 && errno != ENOENT)) {
    lower::Report(err, kReporter, 3, "Unable to replace %s: %s", name, std::strerror(errno));
    FreeFileRecord(file);
    return nullptr;
  }
  bool ok = sqlite3_open_v2(name, &state.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK;
  if (ok) {
    Configure(state.db);
    ok = Exec(state, "BEGIN") &&
         Exec(state, lower::Format("PRAGMA application_id = %d", kApplicationId).c_str()) &&
         Exec(state, kSchema);
    if (ok) {
      Query q(state, "INSERT INTO entry(id, parent, seq, name, type, mtime, data) VALUES(1, NULL, 0, '', '', ?1, NULL)");
      q.Bind(1, Now());
      ok = q.Run() && Exec(state, "COMMIT");
    }
  }
  if (!ok) {
    lower::Report(err, kReporter, 4, "Unable to create %s: %s", name,
                  !state.error.empty() ? state.error.c_str() : state.db ? sqlite3_errmsg(state.db) : "cannot open");
    FreeFileRecord(file);
    std::remove(name);
    return nullptr;
  }
  state.root = 1;
  MoveTo(file, state.root);
  if (!file->currentEntry) {
    lower::Report(err, kReporter, 5, "Error allocating the root entry of %s", name);
    FreeFileRecord(file);
    std::remove(name);
    return nullptr;
  }
  return file;
}

Ehfa_File *ehfa_FileCreateWithOptions(const char *name, Eint_InitToolkitData *init,
                                      Eerr_ErrorReport **err, ...) {
  Eerr_ErrorReport *inner = nullptr;
  Ehfa_File *file = ehfa_FileCreate(name, init, &inner);
  lower::Clear(err);
  if (!file) {
    lower::ReportCallee(err, inner, "ehfa_FileCreateWithOptions", 1, "ehfa_FileCreate");
    return nullptr;
  }
  va_list ap;
  va_start(ap, err);
  const int32_t rc = ChangeV(file, &inner, ap, "ehfa_FileCreateWithOptions");
  va_end(ap);
  if (rc != 0) {
    lower::ReportCallee(err, inner, "ehfa_FileCreateWithOptions", 2, "ehfa_FileChange");
    ehfa_FileClose(file, nullptr);
    return nullptr;
  }
  return file;
}

Ehfa_File *ehfa_SearchListFileOpen(const Efio_SearchList *list, const char *name, const char *mode,
                                   Eint_InitToolkitData *init, Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_SearchListFileOpen";
  lower::Clear(err);
  if (!list || !name) {
    lower::Report(err, kReporter, 1, "Invalid search list or file name");
    return nullptr;
  }
  Eerr_ErrorReport *inner = nullptr;
  char *path = efio_Which(list, name, &inner);
  if (!path) {
    if (inner) lower::ReportCallee(err, inner, kReporter, 2, "efio_Which");
    else lower::Report(err, kReporter, 2, "%s is not in any directory of the search list", name);
    return nullptr;
  }
  Ehfa_File *file = OpenExisting("ehfa_FileOpen", path, mode, init, &inner);
  emsc_HeapFree(path);
  if (!file) lower::ReportCallee(err, inner, kReporter, 3, "ehfa_FileOpen");
  return file;
}

void ehfa_FileClose(Ehfa_File *file, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!file) return;
  if (file->internal && StateOf(file).db) {
    State &state = StateOf(file);
    state.error.clear();
    if (!file->readOnly && !Commit(file))
      lower::Report(err, "ehfa_FileClose", 1, "Changes to %s could not be written: %s", file->fileName,
                    state.error.c_str());
  }
  FreeFileRecord(file);
}

void ehfa_FileFlush(Ehfa_File *file, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!Usable(file, "ehfa_FileFlush", err)) return;
  State &state = StateOf(file);
  if (file->readOnly || state.WriteDepth() > 0) return;
  if (!Commit(file))
    lower::Report(err, "ehfa_FileFlush", 2, "Changes to %s could not be written: %s", file->fileName,
                  state.error.c_str());
}

} // extern "C"

namespace {

bool Rename(Ehfa_File *file, const char *target, const char *reporter, Eerr_ErrorReport **err) {
  State &state = StateOf(file);
  if (!target || !*target) {
    lower::Report(err, reporter, 5, "Invalid file name to rename to");
    return false;
  }
  if (!Writable(file, reporter, 6, err)) return false;
  if (!Commit(file)) {
    lower::Report(err, reporter, 7, "Changes to %s could not be written: %s", file->fileName, state.error.c_str());
    return false;
  }
  char *newName = lower::HeapCopy(target, std::strlen(target));
  if (!newName) {
    lower::Report(err, reporter, 8, "Error allocating the file name");
    return false;
  }
  FinalizeAll(state);
  sqlite3_close(state.db);
  state.db = nullptr;
  const std::string journal = std::string(target) + "-journal";
  const bool moved = (unlink(journal.c_str()) == 0 || errno == ENOENT) && std::rename(file->fileName, target) == 0;
  const int savedErrno = errno;
  const char *reopen = moved ? newName : file->fileName;
  bool reopened = sqlite3_open_v2(reopen, &state.db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
  if (reopened) Configure(state.db);
  else if (state.db) {
    sqlite3_close(state.db);
    state.db = nullptr;
  }
  if (moved) {
    emsc_HeapFree(file->fileName);
    file->fileName = newName;
  } else {
    emsc_HeapFree(newName);
  }
  if (!moved) {
    lower::Report(err, reporter, 9, "Unable to rename %s to %s: %s", file->fileName, target, std::strerror(savedErrno));
    return false;
  }
  if (!reopened) {
    lower::Report(err, reporter, 10, "Unable to reopen %s after renaming it", file->fileName);
    return false;
  }
  return true;
}

bool OpenBracket(State &state, int32_t &depth) {
  (void)state;
  ++depth;
  return true;
}

bool CloseBracket(Ehfa_File *file, int32_t &depth, const char *what, const char *reporter,
                  Eerr_ErrorReport **err) {
  State &state = StateOf(file);
  if (depth <= 0) {
    lower::Report(err, reporter, 4, "No %s bracket is open on %s", what, file->fileName);
    return false;
  }
  --depth;
  if (state.WriteDepth() == 0 && !file->readOnly && !Commit(file)) {
    lower::Report(err, reporter, 7, "Changes to %s could not be written: %s", file->fileName, state.error.c_str());
    return false;
  }
  return true;
}

int32_t ChangeV(Ehfa_File *file, Eerr_ErrorReport **err, va_list ap, const char *reporter) {
  lower::Clear(err);
  if (!Usable(file, reporter, err)) return -1;
  State &state = StateOf(file);
  for (;;) {
    const int32_t keyword = va_arg(ap, int);
    switch (keyword) {
    case 0: return 0;
    case EHFA_CHANGE_BRACKET: {
      const int32_t open = va_arg(ap, int);
      const int32_t write = va_arg(ap, int);
      (void)va_arg(ap, int);
      (void)va_arg(ap, int);
      int32_t &depth = write ? state.writeBrackets : state.readBrackets;
      if (open ? !OpenBracket(state, depth) : !CloseBracket(file, depth, write ? "write" : "read", reporter, err))
        return -1;
      break;
    }
    case EHFA_CHANGE_WRITE_MODE: {
      (void)va_arg(ap, int);
      (void)va_arg(ap, int);
      const int32_t on = va_arg(ap, int);
      (void)va_arg(ap, int);
      if (on ? !OpenBracket(state, state.modeBrackets) : !CloseBracket(file, state.modeBrackets, "write mode", reporter, err))
        return -1;
      break;
    }
    case EHFA_CHANGE_LIST: {
      const int32_t on = va_arg(ap, int);
      if (!on ? !OpenBracket(state, state.listBrackets) : !CloseBracket(file, state.listBrackets, "list", reporter, err))
        return -1;
      break;
    }
    case EHFA_CHANGE_RENAME: {
      const char *target = va_arg(ap, const char *);
      if (!Rename(file, target, reporter, err)) return -1;
      break;
    }
    default:
      lower::Report(err, reporter, 2, "Invalid keyword %d", keyword);
      return -1;
    }
  }
}

} // namespace

extern "C" {

int32_t ehfa_FileChange(Ehfa_File *file, Eerr_ErrorReport **err, ...) {
  va_list ap;
  va_start(ap, err);
  const int32_t rc = ChangeV(file, err, ap, "ehfa_FileChange");
  va_end(ap);
  return rc;
}

Ehfa_Entry *ehfa_EntrySeek(Ehfa_File *file, int32_t code, const char *name, Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_EntrySeek";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return nullptr;
  int64_t target = 0;
  const int rc = LocateForRead(kReporter, file, nullptr, name, code, target, err);
  if (rc != 0) return nullptr;
  if (code == EHFA_PATH_PEEK) {
    Ehfa_Entry *entry = Publish(file, target);
    SqlFailed(file, kReporter, 5, err);
    return entry;
  }
  MoveTo(file, target);
  if (SqlFailed(file, kReporter, 5, err)) return nullptr;
  return file->currentEntry;
}

Ehfa_Entry *ehfa_EntryPeek(Ehfa_File *file, int32_t code, const char *name, Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_EntryPeek";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return nullptr;
  int64_t target = 0;
  if (LocateForRead(kReporter, file, nullptr, name, code, target, err) != 0) return nullptr;
  Ehfa_Entry *entry = Publish(file, target);
  SqlFailed(file, kReporter, 5, err);
  return entry;
}

int32_t ehfa_EntryCurrentHasNext(Ehfa_File *file) {
  if (!Usable(file, "ehfa_EntryCurrentHasNext", nullptr)) return 0;
  return NextSibling(StateOf(file), StateOf(file).current) ? 1 : 0;
}

int32_t ehfa_EntryCurrentHasPrev(Ehfa_File *file) {
  if (!Usable(file, "ehfa_EntryCurrentHasPrev", nullptr)) return 0;
  return PreviousSibling(StateOf(file), StateOf(file).current) ? 1 : 0;
}

int32_t ehfa_EntryCurrentHasChild(Ehfa_File *file) {
  if (!Usable(file, "ehfa_EntryCurrentHasChild", nullptr)) return 0;
  return FirstChild(StateOf(file), StateOf(file).current) ? 1 : 0;
}

struct Ehfa_EntryPosition {
  const Ehfa_File *file;
  int64_t id;
};

Ehfa_EntryPosition *ehfa_EntryPositionGet(Ehfa_File *file, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!Usable(file, "ehfa_EntryPositionGet", err)) return nullptr;
  auto *position = static_cast<Ehfa_EntryPosition *>(emsc_HeapMalloc(sizeof(Ehfa_EntryPosition)));
  if (!position) {
    lower::Report(err, "ehfa_EntryPositionGet", 2, "Error allocating the position");
    return nullptr;
  }
  position->file = file;
  position->id = StateOf(file).current;
  return position;
}

int32_t ehfa_EntryPositionSet(Ehfa_File *file, const Ehfa_EntryPosition *position, Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_EntryPositionSet";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return -1;
  if (!position || position->file != file) {
    lower::Report(err, kReporter, 2, "Invalid position for %s", file->fileName);
    return -1;
  }
  State &state = StateOf(file);
  if (!Exists(state, position->id)) {
    if (!SqlFailed(file, kReporter, 5, err))
      lower::Report(err, kReporter, 3, "The saved entry of %s no longer exists", file->fileName);
    return -1;
  }
  MoveTo(file, position->id);
  return SqlFailed(file, kReporter, 5, err) ? -1 : 0;
}

void ehfa_EntryPositionFree(Ehfa_EntryPosition *position) { emsc_HeapFree(position); }

char *ehfa_CurrentEntryPath(Ehfa_File *file, Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_CurrentEntryPath";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return nullptr;
  State &state = StateOf(file);
  try {
    std::vector<std::string> names;
    int64_t at = state.current;
    for (std::size_t steps = 0; at != state.root; ++steps) {
      auto row = LoadRow(state, at);
      if (!row || !row->parent || steps > kMaxDepth) {
        if (!SqlFailed(file, kReporter, 5, err)) lower::Report(err, kReporter, 2, "The current entry of %s is not in its tree", file->fileName);
        return nullptr;
      }
      names.push_back(row->name);
      at = *row->parent;
    }
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) path += ":" + *it;
    if (path.empty()) path = ":";
    char *copy = lower::HeapCopy(path.data(), path.size());
    if (!copy) lower::Report(err, kReporter, 3, "Error allocating the path");
    return copy;
  } catch (const std::bad_alloc &) {
    lower::Report(err, kReporter, 3, "Error allocating the path");
    return nullptr;
  }
}

int32_t ehfa_EntryDelete(Ehfa_File *file, Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_EntryDelete";
  lower::Clear(err);
  if (!Usable(file, kReporter, err) || !Writable(file, kReporter, 2, err)) return -1;
  State &state = StateOf(file);
  if (state.current == state.root) {
    lower::Report(err, kReporter, 3, "The root entry of %s cannot be deleted", file->fileName);
    return -1;
  }
  auto parent = Parent(state, state.current);
  if (!parent || !Begin(file)) {
    if (!SqlFailed(file, kReporter, 5, err)) lower::Report(err, kReporter, 4, "The current entry has no parent");
    return -1;
  }
  {
    Query blocks(state, "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION SELECT e.id FROM entry e JOIN sub ON e.parent = sub.id) "
                        "DELETE FROM block WHERE entry IN sub");
    blocks.Bind(1, state.current);
    blocks.Run();
  }
  {
    Query entries(state, "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION SELECT e.id FROM entry e JOIN sub ON e.parent = sub.id) "
                         "DELETE FROM entry WHERE id IN sub");
    entries.Bind(1, state.current);
    entries.Run();
  }
  if (SqlFailed(file, kReporter, 5, err)) return -1;
  state.changed = true;
  MoveTo(file, *parent);
  return SqlFailed(file, kReporter, 5, err) ? -1 : 0;
}

Ehfa_Entry *ehfa_EntryWrite(Ehfa_File *file, const char *path, const char *name, const char *type,
                            int32_t code, Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_EntryWrite";
  lower::Clear(err);
  if (!Usable(file, kReporter, err) || !Writable(file, kReporter, 2, err)) return nullptr;
  try {
    return WriteEntry(kReporter, file, path, name, type, code, false, nullptr, 0, err);
  } catch (const std::bad_alloc &) {
    lower::Report(err, kReporter, 8, "Out of memory");
    return nullptr;
  }
}

Ehfa_Entry *ehfa_ObjectWrite(Ehfa_File *file, const char *path, const char *name, const char *type,
                             int32_t code, const void *record, const Emif_Design *design,
                             Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_ObjectWrite";
  lower::Clear(err);
  if (!Usable(file, kReporter, err) || !Writable(file, kReporter, 2, err)) return nullptr;
  if (!record || !design) {
    lower::Report(err, kReporter, 9, "Invalid record or design");
    return nullptr;
  }
  try {
    const std::string entryType = type ? type : emif_DesignName(design);
    // The file declares the layouts its entries are stored in: the design under its own name,
    // and the entry's type, when the file knows it, must agree with it.
    for (const char *declared : {emif_DesignName(design), entryType.c_str()}) {
      const Emif_Design *known = emif_FindDesignByName(file->dictionary, declared, nullptr);
      if (known && !emif::LayoutsEqual(known, design)) {
        lower::Report(err, kReporter, 10, "Design %s of %s differs from the design %s given", declared,
                      file->fileName, emif_DesignName(design));
        return nullptr;
      }
    }
    if (entryType != emif_DesignName(design) && !emif_FindDesignByName(file->dictionary, entryType.c_str(), nullptr)) {
      lower::Report(err, kReporter, 10, "Entry type %s names no design of %s (the design given is %s)",
                    entryType.c_str(), file->fileName, emif_DesignName(design));
      return nullptr;
    }
    if (!emif_FindDesignByName(file->dictionary, emif_DesignName(design), nullptr)) {
      Eerr_ErrorReport *inner = nullptr;
      if (!emif_AddDesignToDictionary(file->dictionary, design, &inner)) {
        lower::ReportCallee(err, inner, kReporter, 11, "emif_AddDesignToDictionary");
        return nullptr;
      }
    }
    uint8_t *bytes = nullptr;
    int32_t size = 0;
    Eerr_ErrorReport *inner = nullptr;
    if (emif_ObjectEncode(design, record, &bytes, &size, &inner) != 0) {
      lower::ReportCallee(err, inner, kReporter, 12, "emif_ObjectEncode");
      return nullptr;
    }
    Ehfa_Entry *entry = WriteEntry(kReporter, file, path, name, entryType.c_str(), code, true, bytes, size, err);
    emsc_HeapFree(bytes);
    return entry;
  } catch (const std::bad_alloc &) {
    lower::Report(err, kReporter, 8, "Out of memory");
    return nullptr;
  }
}

void *ehfa_ObjectRead(Ehfa_File *file, const char *path, const char *name, int32_t code, void *record,
                      const Emif_Design *design, Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_ObjectRead";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return nullptr;
  if (!design) {
    lower::Report(err, kReporter, 2, "Invalid design");
    return nullptr;
  }
  try {
    int64_t target = 0;
    const int rc = LocateForRead(kReporter, file, path, name, code, target, err);
    if (rc < 0) return nullptr;
    if (rc > 0) {
      lower::Report(err, kReporter, 4, "No entry %s%s%s at relation %d in %s", path ? path : "", path && name ? ":" : "",
                    name ? name : "", code, file->fileName);
      return nullptr;
    }
    void *result = ReadRecord(kReporter, file, target, record, design, err);
    if (result && code != EHFA_PATH_PEEK) {
      MoveTo(file, target);
      SqlFailed(file, kReporter, 5, err);
    }
    return result;
  } catch (const std::bad_alloc &) {
    lower::Report(err, kReporter, 10, "Out of memory");
    return nullptr;
  }
}

int32_t ehfa_ObjectReadIfPresent(Ehfa_File *file, const char *path, const char *name, int32_t code,
                                 void *record, const Emif_Design *design, Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_ObjectReadIfPresent";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return 0;
  if (!design || !record) {
    lower::Report(err, kReporter, 2, "Invalid record or design");
    return 0;
  }
  try {
    int64_t target = 0;
    const int rc = LocateForRead(kReporter, file, path, name, code, target, err);
    if (rc != 0) return rc < 0 ? 1 : 0;
    if (ReadRecord(kReporter, file, target, record, design, err) && code != EHFA_PATH_PEEK) {
      MoveTo(file, target);
      SqlFailed(file, kReporter, 5, err);
    }
    return 1;
  } catch (const std::bad_alloc &) {
    lower::Report(err, kReporter, 10, "Out of memory");
    return 1;
  }
}

} // extern "C"

// ---- Raster blocks (for the raster layers) ----

namespace taviron::ehfa {

int64_t CurrentEntryId(Ehfa_File *file) {
  if (!file || !file->internal || !StateOf(file).db) return 0;
  return StateOf(file).current;
}

int32_t BlockRead(Ehfa_File *file, int64_t entry, int32_t row, int32_t col, void *buffer, int32_t size,
                  Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_BlockRead";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return -1;
  State &state = StateOf(file);
  Query q(state, "SELECT data FROM block WHERE entry = ?1 AND row = ?2 AND col = ?3");
  q.Bind(1, entry).Bind(2, int64_t{row}).Bind(3, int64_t{col});
  if (!q.Step()) return SqlFailed(file, kReporter, 2, err) ? -1 : 0;
  int32_t stored = 0;
  const uint8_t *bytes = q.Blob(0, stored);
  if (stored != size || (size > 0 && !bytes)) {
    lower::Report(err, kReporter, 3, "Block (%d, %d) of entry %lld in %s holds %d bytes instead of %d", row, col,
                  static_cast<long long>(entry), file->fileName, stored, size);
    return -1;
  }
  if (size > 0) std::memcpy(buffer, bytes, static_cast<std::size_t>(size));
  return 1;
}

int32_t BlockRowRead(Ehfa_File *file, int64_t entry, int32_t row, int32_t first, int32_t last,
                     bool (*visit)(void *context, int32_t col, const uint8_t *bytes, int32_t size,
                                   Eerr_ErrorReport **err),
                     void *context, Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_BlockRead";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return -1;
  State &state = StateOf(file);
  Query q(state, "SELECT col, data FROM block WHERE entry = ?1 AND row = ?2 AND col BETWEEN ?3 AND ?4 ORDER BY col");
  q.Bind(1, entry).Bind(2, int64_t{row}).Bind(3, int64_t{first}).Bind(4, int64_t{last});
  while (q.Step()) {
    int32_t size = 0;
    const uint8_t *bytes = q.Blob(1, size);
    if (!visit(context, static_cast<int32_t>(q.Int(0)), bytes, size, err)) return -1;
  }
  return SqlFailed(file, kReporter, 2, err) ? -1 : 0;
}

int32_t BlockWrite(Ehfa_File *file, int64_t entry, int32_t row, int32_t col, const void *data, int32_t size,
                   Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_BlockWrite";
  lower::Clear(err);
  if (!Usable(file, kReporter, err) || !Writable(file, kReporter, 2, err)) return -1;
  State &state = StateOf(file);
  if (!Begin(file)) return SqlFailed(file, kReporter, 3, err), -1;
  Query q(state, "INSERT OR REPLACE INTO block(entry, row, col, data) VALUES(?1, ?2, ?3, ?4)");
  static const uint8_t kEmpty = 0;
  q.Bind(1, entry).Bind(2, int64_t{row}).Bind(3, int64_t{col}).BindBlob(4, size > 0 ? data : &kEmpty, size);
  if (!q.Run()) return SqlFailed(file, kReporter, 3, err), -1;
  state.changed = true;
  return 0;
}

int32_t BlocksDelete(Ehfa_File *file, int64_t entry, Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_BlocksDelete";
  lower::Clear(err);
  if (!Usable(file, kReporter, err) || !Writable(file, kReporter, 2, err)) return -1;
  State &state = StateOf(file);
  if (!Begin(file)) return SqlFailed(file, kReporter, 3, err), -1;
  Query q(state, "DELETE FROM block WHERE entry = ?1");
  q.Bind(1, entry);
  if (!q.Run()) return SqlFailed(file, kReporter, 3, err), -1;
  state.changed = true;
  return 0;
}

} // namespace taviron::ehfa
