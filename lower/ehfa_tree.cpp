// The tree of a hierarchical file: statements, navigation, the published entry records,
// transactions and the checks every call makes.
#include "ehfa.h"

#include <fcntl.h>
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

using namespace taviron::ehfa;

namespace {

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

std::string LastComponent(const std::string &path) {
  const auto parts = SplitPath(path);
  return parts.empty() ? std::string() : parts.back();
}

void SetString(char *&slot, const std::string &value) {
  if (slot && value == slot) return;
  char *copy = lower::HeapCopy(value.data(), value.size());
  if (!copy) return; // keep the old text rather than none
  emsc_HeapFree(slot);
  slot = copy;
}

} // namespace

namespace taviron::ehfa {

Ehfa_FileChangedCallback changedCallback = nullptr;

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

namespace {

// The parent and place among its siblings of an entry that has a parent.
struct Place {
  int64_t parent = 0, seq = 0;
};

std::optional<Place> PlaceOf(State &state, int64_t id) {
  if (id == state.root) return std::nullopt;
  Query q(state, "SELECT parent, seq FROM entry WHERE id = ?1 AND parent IS NOT NULL");
  q.Bind(1, id);
  if (!q.Step()) return std::nullopt;
  return Place{q.Int(0), q.Int(1)};
}

// The steps below find their entry through an index; the table (read by row id) must agree with
// it: the entry found stands, by the table, at the place the index gave it (below `parent`, at
// the index's seq), and that place is below (after, before) the place the step started from. An
// index that disagrees with its table (a damaged file) could otherwise send a walk back to an
// entry it has passed, round for ever, or on from a place the index does not hold, past the
// entries between. A step that does not hold is refused with state.error set, so that every walk
// made of these steps ends.
enum class Side { Below, After, Before };

// An entry a step found: its id and seq as the step's search read them (from the index it went by).
struct Found {
  int64_t id = 0, seq = 0;
};

std::optional<int64_t> Checked(State &state, std::optional<Found> found, int64_t parent, Side side,
                               int64_t seq = 0, int64_t from = 0) {
  if (!found) return std::nullopt;
  const auto place = PlaceOf(state, found->id);
  bool holds = place && place->parent == parent && place->seq == found->seq;
  if (holds && side == Side::After) holds = place->seq > seq || (place->seq == seq && found->id > from);
  if (holds && side == Side::Before) holds = place->seq < seq || (place->seq == seq && found->id < from);
  if (holds) return found->id;
  if (state.error.empty())
    state.error = lower::Format("the index of the entries disagrees with their table at entry %lld (a damaged file)",
                                static_cast<long long>(found->id));
  return std::nullopt;
}

} // namespace

// The siblings are ordered by (seq, id); the indexes on (parent, seq) and (parent, name, seq)
// (both end in the row id) serve every step and lookup below with one range search, which
// reads the seq it returns from the index.
std::optional<int64_t> FirstChild(State &state, int64_t id, Match match,
                                  const std::string &key) {
  const char *sql =
      match == Match::Any
          ? "SELECT id, seq FROM entry WHERE parent = ?1 ORDER BY seq, id LIMIT 1"
          : match == Match::Name
                ? "SELECT id, seq FROM entry WHERE parent = ?1 AND name = ?2 ORDER BY seq, id LIMIT 1"
                : "SELECT id, seq FROM entry WHERE parent = ?1 AND (type = ?2 OR name = ?2) ORDER BY seq, id LIMIT 1";
  std::optional<Found> found;
  {
    Query q(state, sql);
    q.Bind(1, id);
    if (match != Match::Any) q.Bind(2, key);
    if (q.Step()) found = Found{q.Int(0), q.Int(1)};
  }
  return Checked(state, found, id, Side::Below);
}

std::optional<int64_t> NextSibling(State &state, int64_t id, Match match,
                                   const std::string &key) {
  const auto place = PlaceOf(state, id);
  if (!place) return std::nullopt;
  const char *sql =
      match == Match::Any
          ? "SELECT id, seq FROM entry WHERE parent = ?1 AND (seq, id) > (?2, ?3) ORDER BY seq, id LIMIT 1"
          : match == Match::Name
                ? "SELECT id, seq FROM entry WHERE parent = ?1 AND name = ?4 AND (seq, id) > (?2, ?3) "
                  "ORDER BY seq, id LIMIT 1"
                : "SELECT id, seq FROM entry WHERE parent = ?1 AND (seq, id) > (?2, ?3) AND (type = ?4 OR name = ?4) "
                  "ORDER BY seq, id LIMIT 1";
  std::optional<Found> found;
  {
    Query q(state, sql);
    q.Bind(1, place->parent).Bind(2, place->seq).Bind(3, id);
    if (match != Match::Any) q.Bind(4, key);
    if (q.Step()) found = Found{q.Int(0), q.Int(1)};
  }
  return Checked(state, found, place->parent, Side::After, place->seq, id);
}

std::optional<int64_t> PreviousSibling(State &state, int64_t id) {
  const auto place = PlaceOf(state, id);
  if (!place) return std::nullopt;
  std::optional<Found> found;
  {
    Query q(state, "SELECT id, seq FROM entry WHERE parent = ?1 AND (seq, id) < (?2, ?3) "
                   "ORDER BY seq DESC, id DESC LIMIT 1");
    q.Bind(1, place->parent).Bind(2, place->seq).Bind(3, id);
    if (q.Step()) found = Found{q.Int(0), q.Int(1)};
  }
  return Checked(state, found, place->parent, Side::Before, place->seq, id);
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

// The entry the path codes name: an absolute name; the path joined with the name; the path
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
  case EHFA_NEXT: case EHFA_CHILD: case EHFA_LAST_CHILD: case EHFA_FIRST_CHILD: case EHFA_PARENT:
  case EHFA_PATH_PEEK: case EHFA_PATH: case EHFA_NEXT_OF: case EHFA_CHILD_NAMED: case EHFA_NEXT_NAMED:
  case EHFA_CHILD_OF: case EHFA_BELOW_OF: case EHFA_CURRENT: case EHFA_CURRENT_ENTRY: case EHFA_FOLLOWING:
    return true;
  default: return false;
  }
}

// The entry at the code's place relative to `from` (the path codes use path and name).
std::optional<int64_t> Locate(State &state, int32_t code, int64_t from, const char *path, const char *name) {
  const std::string key = name ? name : "";
  switch (code) {
  case EHFA_NEXT: return NextSibling(state, from);
  case EHFA_CHILD: case EHFA_LAST_CHILD: case EHFA_CURRENT: case EHFA_CURRENT_ENTRY: return from;
  case EHFA_FIRST_CHILD: return FirstChild(state, from);
  case EHFA_PARENT: return Parent(state, from);
  case EHFA_PATH_PEEK: case EHFA_PATH: return ResolveNamed(state, path, name);
  case EHFA_NEXT_OF: return NextSibling(state, from, name ? Match::TypeOrName : Match::Any, key);
  case EHFA_CHILD_NAMED: return name ? Resolve(state, from, key, false) : std::nullopt;
  case EHFA_NEXT_NAMED: return name ? NextSibling(state, from, Match::Name, key) : std::nullopt;
  case EHFA_CHILD_OF: return FirstChild(state, from, name ? Match::TypeOrName : Match::Any, key);
  case EHFA_BELOW_OF: return name ? BelowOf(state, from, key) : std::nullopt;
  case EHFA_FOLLOWING: return Following(state, from);
  default: return std::nullopt;
  }
}

// The entry record of id, refreshed from the file; null when there is no such entry.
Ehfa_Entry *Publish(Ehfa_File *file, int64_t id) {
  State &state = StateOf(file);
  auto row = LoadRow(state, id);
  if (!row) return nullptr;
  EntryHolder *&holder = state.entries[id];
  if (!holder) {
    holder = lower::HeapNew<EntryHolder>();
    if (!holder) {
      state.entries.erase(id);
      if (state.error.empty()) state.error = "out of memory";
      return nullptr;
    }
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

// Writes the dictionary: the designs of this handle, added or changed, and those it dropped
// taken out; designs of the file that this handle never knew (another handle added them) stay.
static bool SaveDictionary(Ehfa_File *file) {
  State &state = StateOf(file);
  std::set<std::string> names;
  for (const Emif_Design *design : emif::DictionaryDesigns(file->dictionary)) {
    const std::string name = emif_DesignName(design);
    names.insert(name);
    const std::string definition = emif::DesignDefinition(design);
    Query q(state, "INSERT INTO design(name, definition) VALUES(?1, ?2) "
                   "ON CONFLICT(name) DO UPDATE SET definition = excluded.definition "
                   "WHERE definition IS NOT excluded.definition");
    q.Bind(1, name);
    q.BindBlob(2, definition.data(), static_cast<int32_t>(definition.size()));
    if (!q.Run()) return false;
  }
  for (const std::string &name : state.storedDesigns) {
    if (names.count(name)) continue;
    Query q(state, "DELETE FROM design WHERE name = ?1");
    q.Bind(1, name);
    if (!q.Run()) return false;
  }
  state.savedSerial = emif::DictionarySerial(file->dictionary);
  state.designsSaved = true;
  state.changed = true;
  return true;
}

void Rollback(Ehfa_File *file) {
  State &state = StateOf(file);
  if (!state.transaction) return;
  const std::string saved = state.error;
  Exec(state, "ROLLBACK");
  state.error = saved;
  state.transaction = false;
  state.changed = false;
  state.designsSaved = false;
  state.savedSerial = ~uint64_t{0}; // the dictionary is written again with the next commit
  if (!Exists(state, state.current)) state.current = state.root;
  MoveTo(file, state.current);
  state.error = saved;
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
      Rollback(file);
      return false;
    }
  }
  if (!state.transaction) return true;
  const bool changed = state.changed;
  if (!Exec(state, "COMMIT")) {
    Rollback(file);
    return false;
  }
  state.transaction = false;
  state.changed = false;
  if (state.designsSaved) {
    state.storedDesigns.clear();
    for (const Emif_Design *design : emif::DictionaryDesigns(file->dictionary))
      state.storedDesigns.insert(emif_DesignName(design));
    state.designsSaved = false;
  }
  if (changed) {
    ++file->changeSerial;
    if (Ehfa_FileChangedCallback callback = changedCallback) callback(file);
  }
  return true;
}

bool SyncDirectoryOf(const std::string &path) {
  const std::size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // A file system that cannot sync directories (EINVAL) keeps renames by itself.
  const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return synced;
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

} // namespace taviron::ehfa
