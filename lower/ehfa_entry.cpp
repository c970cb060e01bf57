// Entries of hierarchical files: moving, positions, paths, deleting, and writing and reading
// the records they hold.
#include "ehfa.h"

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

using namespace taviron::ehfa;

namespace {

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
    Query q(state, "SELECT seq FROM entry WHERE parent = ?1 ORDER BY seq DESC LIMIT 1");
    q.Bind(1, base);
    seq = q.Step() ? q.Int(0) + 1 : 1;
    if (!state.error.empty()) return std::nullopt;
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
  } else if (stored != design && !state.verdicts.Readable(stored->data, design->data)) {
    lower::Report(err, reporter, 8, "Entry %s holds a record of design %s, not of design %s", name.c_str(),
                  type.c_str(), emif_DesignName(design));
    return nullptr;
  }
  lower::CalleeReport inner;
  void *result = emif::ObjectDecode(stored, design, bytes ? bytes : reinterpret_cast<const uint8_t *>(""), size, record,
                                    state.verdicts, &inner);
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

} // namespace

extern "C" {

Ehfa_Entry *ehfa_EntrySeek(Ehfa_File *file, int32_t code, const char *name, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "ehfa_EntrySeek";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return nullptr;
  ReadScope scope(StateOf(file));
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
} TAVIRON_GUARD(err, nullptr)

Ehfa_Entry *ehfa_EntryPeek(Ehfa_File *file, int32_t code, const char *name, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "ehfa_EntryPeek";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return nullptr;
  ReadScope scope(StateOf(file));
  int64_t target = 0;
  if (LocateForRead(kReporter, file, nullptr, name, code, target, err) != 0) return nullptr;
  Ehfa_Entry *entry = Publish(file, target);
  SqlFailed(file, kReporter, 5, err);
  return entry;
} TAVIRON_GUARD(err, nullptr)

int32_t ehfa_EntryCurrentHasNext(Ehfa_File *file) try {
  if (!Usable(file, "ehfa_EntryCurrentHasNext", nullptr)) return 0;
  ReadScope scope(StateOf(file));
  return NextSibling(StateOf(file), StateOf(file).current) || !StateOf(file).error.empty() ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

int32_t ehfa_EntryCurrentHasPrev(Ehfa_File *file) try {
  if (!Usable(file, "ehfa_EntryCurrentHasPrev", nullptr)) return 0;
  ReadScope scope(StateOf(file));
  return PreviousSibling(StateOf(file), StateOf(file).current) || !StateOf(file).error.empty() ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

int32_t ehfa_EntryCurrentHasChild(Ehfa_File *file) try {
  if (!Usable(file, "ehfa_EntryCurrentHasChild", nullptr)) return 0;
  ReadScope scope(StateOf(file));
  return FirstChild(StateOf(file), StateOf(file).current) || !StateOf(file).error.empty() ? 1 : 0;
} TAVIRON_GUARD_QUIET(0)

struct Ehfa_EntryPosition {
  const Ehfa_File *file;
  int64_t id;
};

Ehfa_EntryPosition *ehfa_EntryPositionGet(Ehfa_File *file, Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, nullptr)

int32_t ehfa_EntryPositionSet(Ehfa_File *file, const Ehfa_EntryPosition *position, Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, -1)

void ehfa_EntryPositionFree(Ehfa_EntryPosition *position) try { emsc_HeapFree(position); } TAVIRON_GUARD_QUIET_VOID

char *ehfa_CurrentEntryPath(Ehfa_File *file, Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, nullptr)

int32_t ehfa_EntryDelete(Ehfa_File *file, Eerr_ErrorReport **err) try {
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
} TAVIRON_GUARD(err, -1)

Ehfa_Entry *ehfa_EntryWrite(Ehfa_File *file, const char *path, const char *name, const char *type,
                            int32_t code, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "ehfa_EntryWrite";
  lower::Clear(err);
  if (!Usable(file, kReporter, err) || !Writable(file, kReporter, 2, err)) return nullptr;
  try {
    return WriteEntry(kReporter, file, path, name, type, code, false, nullptr, 0, err);
  } catch (const std::bad_alloc &) {
    lower::Report(err, kReporter, 8, "Out of memory");
    return nullptr;
  }
} TAVIRON_GUARD(err, nullptr)

Ehfa_Entry *ehfa_ObjectWrite(Ehfa_File *file, const char *path, const char *name, const char *type,
                             int32_t code, const void *record, const Emif_Design *design,
                             Eerr_ErrorReport **err) try {
  static const char *const kReporter = "ehfa_ObjectWrite";
  lower::Clear(err);
  if (!Usable(file, kReporter, err) || !Writable(file, kReporter, 2, err)) return nullptr;
  if (!record || !design) {
    lower::Report(err, kReporter, 9, "Invalid record or design");
    return nullptr;
  }
  try {
    State &state = StateOf(file);
    const std::string entryType = type ? type : emif_DesignName(design);
    // The file declares the layouts its entries are stored in: the design under its own name,
    // and the entry's type, when the file knows it, must agree with the design given, which lays
    // the record out in memory. A file's design that differs from it only in the names of
    // enumeration values (an older design naming fewer) agrees; a record of the entry's type is
    // then written by the file's design, by which it is read back.
    const Emif_Design *writer = design;
    for (const char *declared : {emif_DesignName(design), entryType.c_str()}) {
      const Emif_Design *known = emif_FindDesignByName(file->dictionary, declared, nullptr);
      if (!known) continue;
      const auto by = state.verdicts.WrittenBy(known->data, design->data);
      if (by == emif::LayoutVerdicts::Writer::None) {
        lower::Report(err, kReporter, 10, "Design %s of %s differs from the design %s given", declared,
                      file->fileName, emif_DesignName(design));
        return nullptr;
      }
      if (by == emif::LayoutVerdicts::Writer::Stored && entryType == declared) writer = known;
    }
    if (entryType != emif_DesignName(design) && !emif_FindDesignByName(file->dictionary, entryType.c_str(), nullptr)) {
      lower::Report(err, kReporter, 10, "Entry type %s names no design of %s (the design given is %s)",
                    entryType.c_str(), file->fileName, emif_DesignName(design));
      return nullptr;
    }
    if (!emif_FindDesignByName(file->dictionary, emif_DesignName(design), nullptr)) {
      lower::CalleeReport inner;
      if (!emif_AddDesignToDictionary(file->dictionary, design, &inner)) {
        lower::ReportCallee(err, inner, kReporter, 11, "emif_AddDesignToDictionary");
        return nullptr;
      }
    }
    uint8_t *bytes = nullptr;
    int32_t size = 0;
    lower::CalleeReport inner;
    if (emif_ObjectEncode(writer, record, &bytes, &size, &inner) != 0) {
      lower::ReportCallee(err, inner, kReporter, 12, "emif_ObjectEncode");
      return nullptr;
    }
    const lower::HeapPtr<uint8_t> held(bytes); // writing the entry may throw
    return WriteEntry(kReporter, file, path, name, entryType.c_str(), code, true, bytes, size, err);
  } catch (const std::bad_alloc &) {
    lower::Report(err, kReporter, 8, "Out of memory");
    return nullptr;
  }
} TAVIRON_GUARD(err, nullptr)

void *ehfa_ObjectRead(Ehfa_File *file, const char *path, const char *name, int32_t code, void *record,
                      const Emif_Design *design, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "ehfa_ObjectRead";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return nullptr;
  ReadScope scope(StateOf(file));
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
} TAVIRON_GUARD(err, nullptr)

int32_t ehfa_ObjectReadIfPresent(Ehfa_File *file, const char *path, const char *name, int32_t code,
                                 void *record, const Emif_Design *design, Eerr_ErrorReport **err) try {
  static const char *const kReporter = "ehfa_ObjectReadIfPresent";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return 0;
  ReadScope scope(StateOf(file));
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
} TAVIRON_GUARD(err, 1)

} // extern "C"
