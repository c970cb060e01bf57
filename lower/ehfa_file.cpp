// Opening, creating, changing and closing hierarchical files.
#include "ehfa.h"

#include <sys/stat.h>
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
#include "efio.h"
#include "emsc.h"
#include "estr.h"
#include "internal.h"
#include "keywords.h"

namespace lower = taviron::lower;
namespace emif = taviron::emif;

using namespace taviron::ehfa;

namespace {

constexpr int kBusyMilliseconds = 2000;
// Pages of new files: a raster block of a layer is read with one page or a few (blocks of 16 to
// 64 KiB take up to a third more room than with small pages: the price of the speed).
constexpr int kPageSize = 65536;

const char *const kNameIndex = "CREATE INDEX IF NOT EXISTS entry_names ON entry(parent, name, seq)";
const char *const kSchema =
    "CREATE TABLE entry(id INTEGER PRIMARY KEY, parent INTEGER, seq INTEGER NOT NULL, "
    "name TEXT NOT NULL, type TEXT NOT NULL DEFAULT '', mtime REAL NOT NULL, data BLOB);"
    "CREATE INDEX entry_children ON entry(parent, seq);"
    "CREATE INDEX entry_names ON entry(parent, name, seq);"
    "CREATE TABLE design(name TEXT PRIMARY KEY, definition BLOB NOT NULL);"
    "CREATE TABLE block(entry INTEGER NOT NULL, row INTEGER NOT NULL, col INTEGER NOT NULL, "
    "data BLOB, PRIMARY KEY(entry, row, col));";

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
  State *state = lower::HeapNew<State>();
  file->dictionary = emif_DictionaryCreate(nullptr);
  if (!file->fileName || !state || !file->dictionary) {
    emsc_HeapFree(file->fileName);
    lower::HeapDelete(state);
    emif_DictionaryDelete(file->dictionary, nullptr);
    emsc_HeapFree(file);
    return nullptr;
  }
  file->internal = state;
  file->init = init;
  file->changeProcess = static_cast<int32_t>(getpid());
  return file;
}

void FreeFileRecord(Ehfa_File *file) {
  State &state = StateOf(file);
  FinalizeAll(state);
  if (state.db) sqlite3_close(state.db);
  if (!state.pending.empty()) { // never put in place: the old file stays
    std::remove(state.pending.c_str());
    std::remove((state.pending + "-journal").c_str());
  }
  for (auto &entry : state.entries) {
    emsc_HeapFree(entry.second->entry.name);
    emsc_HeapFree(entry.second->entry.type);
    lower::HeapDelete(entry.second);
  }
  lower::HeapDelete(&state);
  emif_DictionaryDelete(file->dictionary, nullptr);
  emsc_HeapFree(file->fileName);
  emsc_HeapFree(file);
}

// An opened file gets the database's integrity check of what reading it trusts: the pages, and
// that both indexes of the entries hold exactly the rows of the entry table (the steps between
// entries go by the indexes, so an index that lost or misplaced an entry would hide it from every
// walk, and the check of each step cannot see an entry it never reaches). A file up to 1 MiB is
// checked whole (about 2 ms at 1 MiB with the 64 KiB pages of this library's files, 9 ms with
// 512-byte pages); a larger file has its entry table and their indexes checked, which takes time
// with the number of entries (some 1 us each, a small part of reading them), not with the raster
// blocks it holds, whose damage is met where they are read.
constexpr off_t kWholeCheckLimit = off_t{1} << 20;

// The check of a file; false with state.error set when it finds damage.
bool IntegrityCheck(State &state, const char *name) {
  struct stat st;
  const bool whole = ::stat(name, &st) == 0 && st.st_size <= kWholeCheckLimit;
  Query q(state, whole ? "PRAGMA integrity_check(1)" : "PRAGMA integrity_check(entry)");
  const bool ran = q.Step();
  const std::string verdict = ran ? q.Text(0) : std::string();
  if (ran && verdict == "ok") return true;
  const std::string problem = ran ? verdict : state.error.empty() ? std::string("the check failed") : state.error;
  state.error = "the database is damaged (" + problem + ")";
  return false;
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
  if (!IntegrityCheck(state, name)) return false;
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
  for (const auto &row : rows) {
    if (!emif::DictionaryAddDefinition(file->dictionary, row.first, row.second, inner)) return false;
    state.storedDesigns.insert(row.first);
  }
  state.savedSerial = emif::DictionarySerial(file->dictionary);
  return true;
}

// Files made before lookups by name had their index get it when they are opened for writing.
// Without it (a file open for reading only, or a file another process is writing) lookups still
// work, by a scan of the siblings.
void AddNameIndex(State &state) {
  bool present = false;
  {
    Query q(state, "SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = 'entry_names'");
    present = q.Step();
  }
  if (!present && state.error.empty()) {
    const int busy = kBusyMilliseconds / 10;
    sqlite3_busy_timeout(state.db, busy);
    Exec(state, kNameIndex);
    sqlite3_busy_timeout(state.db, kBusyMilliseconds);
  }
  state.error.clear();
}

// Rolls back what a writer killed in the middle of a change left in the journal of a file, so
// that the journal cannot be played into a file put in its place. A journal that belongs to no
// database of ours is removed.
void SettleJournal(const std::string &name) {
  const std::string journal = name + "-journal";
  if (access(journal.c_str(), F_OK) != 0) return;
  if (CheckHeader(name.c_str()) == 1) {
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(name.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
      Configure(db);
      sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
  }
  unlink(journal.c_str());
}

// Reopens the database at path after a rename; false with state.error set.
bool Reconnect(State &state, const std::string &path) {
  if (sqlite3_open_v2(path.c_str(), &state.db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    Configure(state.db);
    return true;
  }
  state.error = "cannot reopen " + path + ": " + (state.db ? sqlite3_errmsg(state.db) : "out of memory");
  sqlite3_close(state.db);
  state.db = nullptr;
  return false;
}

// Puts a file made over an existing one in place, once it holds a commit: its database is
// closed, renamed over the old file and reopened under the file's name. False with state.error
// set; the file then stays where it was, open, for a later commit to try again.
bool Place(Ehfa_File *file) {
  State &state = StateOf(file);
  if (state.pending.empty()) return true;
  const std::string name = file->fileName;
  FinalizeAll(state);
  sqlite3_close(state.db);
  state.db = nullptr;
  SettleJournal(name);
  if (std::rename(state.pending.c_str(), name.c_str()) != 0) {
    state.error = lower::Format("cannot replace %s: %s", name.c_str(), std::strerror(errno));
    const std::string saved = state.error;
    if (Reconnect(state, state.pending)) state.error = saved;
    return false;
  }
  state.pending.clear();
  const bool synced = SyncDirectoryOf(name);
  const int syncErrno = errno;
  if (!Reconnect(state, name)) return false;
  lower::RemoveStaleTemporaries(name);
  if (!synced) {
    state.error = lower::Format("the replacing of %s may not last: %s", name.c_str(), std::strerror(syncErrno));
    return false;
  }
  return true;
}

// Commits the file's changes and, for a new file made over an old one, puts it in place.
bool CommitFile(Ehfa_File *file) { return Commit(file) && Place(file); }

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
    lower::CalleeReport inner;
    if (!LoadDictionary(file, &inner)) {
      if (!state.error.empty()) lower::Report(&inner, "ehfa_FileOpen", 7, "%s", state.error.c_str());
      lower::ReportCallee(err, inner, reporter, 7, "the reading of the file's designs");
      FreeFileRecord(file);
      return nullptr;
    }
    if (!readOnly) AddNameIndex(state);
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

bool Rename(Ehfa_File *file, const char *target, const char *reporter, Eerr_ErrorReport **err) {
  State &state = StateOf(file);
  if (!target || !*target) {
    lower::Report(err, reporter, 5, "Invalid file name to rename to");
    return false;
  }
  if (!Writable(file, reporter, 6, err)) return false;
  if (!CommitFile(file)) {
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
  SettleJournal(target);
  const bool moved = std::rename(file->fileName, target) == 0;
  const int savedErrno = errno;
  const bool synced = moved && SyncDirectoryOf(target) && SyncDirectoryOf(file->fileName);
  const int syncErrno = errno;
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
  if (!synced) {
    lower::Report(err, reporter, 11, "The renaming of %s may not last: %s", file->fileName, std::strerror(syncErrno));
    return false;
  }
  lower::RemoveStaleTemporaries(file->fileName);
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
  if (state.WriteDepth() == 0 && !file->readOnly && !CommitFile(file)) {
    lower::Report(err, reporter, 7, "Changes to %s could not be written: %s", file->fileName, state.error.c_str());
    return false;
  }
  return true;
}

using V = lower::Value;
constexpr lower::Keyword kChangeKeywords[] = {
    {EHFA_CHANGE_BRACKET, {V::Int, V::Int, V::Int, V::Int}},    // open, write, a, b
    {EHFA_CHANGE_WRITE_MODE, {V::Int, V::Int, V::Int, V::Int}}, // a, b, on, c
    {EHFA_CHANGE_LIST, {V::Int}},                               // 0 opens, non-zero closes
    {EHFA_CHANGE_RENAME, {V::Pointer}},                         // the new name
};
constexpr lower::KeywordList kChangeList{{kChangeKeywords}, "Invalid keyword %d"};

int32_t ChangeV(Ehfa_File *file, Eerr_ErrorReport **err, va_list ap, const char *reporter) {
  lower::Clear(err);
  if (!Usable(file, reporter, err)) return -1;
  State &state = StateOf(file);
  const bool ended = lower::ReadKeywords(kChangeList, ap, reporter, 2, err, [&](int32_t keyword, const lower::KeywordValues &v) {
    switch (keyword) {
    case EHFA_CHANGE_BRACKET: {
      const bool write = v.Int(1) != 0;
      int32_t &depth = write ? state.writeBrackets : state.readBrackets;
      return v.Int(0) ? OpenBracket(state, depth) : CloseBracket(file, depth, write ? "write" : "read", reporter, err);
    }
    case EHFA_CHANGE_WRITE_MODE:
      return v.Int(2) ? OpenBracket(state, state.modeBrackets)
                      : CloseBracket(file, state.modeBrackets, "write mode", reporter, err);
    case EHFA_CHANGE_LIST:
      return !v.Int(0) ? OpenBracket(state, state.listBrackets)
                       : CloseBracket(file, state.listBrackets, "list", reporter, err);
    case EHFA_CHANGE_RENAME: return Rename(file, v.Pointer<const char>(0), reporter, err);
    }
    return false;
  });
  return ended ? 0 : -1;
}

} // namespace

extern "C" {

Ehfa_FileChangedCallback ehfa_SetFileChangedCallback(Ehfa_FileChangedCallback callback) try {
  Ehfa_FileChangedCallback previous = changedCallback;
  changedCallback = callback;
  return previous;
} TAVIRON_GUARD_QUIET(nullptr)

int32_t ehfa_IsHFAFile(const char *name, Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, 0)

Ehfa_File *ehfa_FileOpen(const char *name, const char *mode, Eint_InitToolkitData *init,
                         Eerr_ErrorReport **err, ...) try {
  return OpenExisting("ehfa_FileOpen", name, mode, init, err);
} TAVIRON_GUARD(err, nullptr)

Ehfa_File *ehfa_FileCreate(const char *name, Eint_InitToolkitData *init, Eerr_ErrorReport **err, ...) try {
  static const char *const kReporter = "ehfa_FileCreate";
  lower::Clear(err);
  if (!name || !*name) {
    lower::Report(err, kReporter, 1, "Invalid file name");
    return nullptr;
  }
  // Held until it is complete: what follows formats and queries, which may throw.
  lower::Owned<Ehfa_File, FreeFileRecord> file(NewFileRecord(name, init));
  if (!file) {
    lower::Report(err, kReporter, 2, "Error allocating the file record of %s", name);
    return nullptr;
  }
  State &state = StateOf(file.get());
  state.mode = "r+";
  // The new file is made whole under a temporary name beside the old one. A new name gets it at
  // once; an existing file is replaced only by the new file's first commit (flush, close, the
  // end of a write bracket), so that a process killed before that leaves the old file as it was.
  struct stat existing;
  const bool exists = ::lstat(name, &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    lower::Report(err, kReporter, 3, "Unable to replace %s: %s", name, std::strerror(EISDIR));
    return nullptr;
  }
  std::vector<char> directory(std::strlen(name) + 2);
  estr_GetPathPart(name, directory.data(), static_cast<int32_t>(directory.size()));
  if (!directory[0]) std::strcpy(directory.data(), ".");
  std::vector<char> base(std::strlen(name) + 1);
  estr_GetNamePart(name, base.data(), static_cast<int32_t>(base.size()));
  lower::CalleeReport inner;
  lower::HeapPtr<char> temporary(efio_TempName(directory.data(), (std::string(".") + base.data()).c_str(), &inner));
  if (!temporary) {
    lower::ReportCallee(err, inner, kReporter, 3, "efio_TempName");
    return nullptr;
  }
  const std::string made = temporary.get();
  temporary.reset();
  // Until the file record holds it, the temporary file goes on every way out, a failed
  // allocation too.
  struct Scratch {
    const std::string &path;
    bool kept = false;
    ~Scratch() {
      if (kept) return;
      std::remove(path.c_str());
      std::remove((path + "-journal").c_str());
    }
  } scratch{made};
  bool ok = sqlite3_open_v2(made.c_str(), &state.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK;
  if (ok) {
    Configure(state.db);
    ok = Exec(state, lower::Format("PRAGMA page_size = %d", kPageSize).c_str()) && Exec(state, "BEGIN") &&
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
    return nullptr;
  }
  state.pending = made;
  scratch.kept = true;
  if (!exists && !Place(file.get())) {
    lower::Report(err, kReporter, 3, "Unable to create %s: %s", name, state.error.c_str());
    return nullptr;
  }
  state.root = 1;
  MoveTo(file.get(), state.root);
  if (!file->currentEntry) {
    lower::Report(err, kReporter, 5, "Error allocating the root entry of %s", name);
    return nullptr;
  }
  return file.release();
} TAVIRON_GUARD(err, nullptr)

Ehfa_File *ehfa_FileCreateWithOptions(const char *name, Eint_InitToolkitData *init,
                                      Eerr_ErrorReport **err, ...) try {
  lower::CalleeReport inner;
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
} TAVIRON_GUARD(err, nullptr)

Ehfa_File *ehfa_SearchListFileOpen(const Efio_SearchList *list, const char *name, const char *mode,
                                   Eint_InitToolkitData *init, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "ehfa_SearchListFileOpen";
  lower::Clear(err);
  if (!list || !name) {
    lower::Report(err, kReporter, 1, "Invalid search list or file name");
    return nullptr;
  }
  lower::CalleeReport inner;
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
} TAVIRON_GUARD(err, nullptr)

void ehfa_FileClose(Ehfa_File *file, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!file) return;
  // The record goes even when the commit runs out of memory.
  struct Free {
    Ehfa_File *file;
    ~Free() { FreeFileRecord(file); }
  } freed{file};
  if (file->internal && StateOf(file).db) {
    State &state = StateOf(file);
    state.error.clear();
    if (!file->readOnly && !CommitFile(file))
      lower::Report(err, "ehfa_FileClose", 1, "Changes to %s could not be written: %s", file->fileName,
                    state.error.c_str());
  }
} TAVIRON_GUARD_VOID(err)

void ehfa_FileFlush(Ehfa_File *file, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!Usable(file, "ehfa_FileFlush", err)) return;
  State &state = StateOf(file);
  if (file->readOnly || state.WriteDepth() > 0) return;
  if (!CommitFile(file))
    lower::Report(err, "ehfa_FileFlush", 2, "Changes to %s could not be written: %s", file->fileName,
                  state.error.c_str());
} TAVIRON_GUARD_VOID(err)

int32_t ehfa_FileChange(Ehfa_File *file, Eerr_ErrorReport **err, ...) try {
  va_list ap;
  va_start(ap, err);
  const int32_t rc = ChangeV(file, err, ap, "ehfa_FileChange");
  va_end(ap);
  return rc;
} TAVIRON_GUARD(err, -1)

} // extern "C"
