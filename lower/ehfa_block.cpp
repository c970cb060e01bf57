// The raster block table of hierarchical files, for the raster layers.
#include <climits>
#include <cstring>
#include <string>

#include "ehfa_internal.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace taviron::ehfa {

int64_t CurrentEntryId(Ehfa_File *file) {
  if (!file || !file->internal || !StateOf(file).db) return 0;
  return StateOf(file).current;
}

namespace {

// Reads stored blocks from their rows straight into the caller's memory (one handle moved from
// row to row).
class BlobReader {
public:
  explicit BlobReader(State &state) : state_(state) {}
  ~BlobReader() {
    if (blob_) sqlite3_blob_close(blob_);
  }
  BlobReader(const BlobReader &) = delete;
  BlobReader &operator=(const BlobReader &) = delete;

  bool Read(int64_t rowid, void *buffer, int32_t size) {
    int rc = blob_ ? sqlite3_blob_reopen(blob_, rowid)
                   : sqlite3_blob_open(state_.db, "main", "block", "data", rowid, 0, &blob_);
    if (rc == SQLITE_OK && size > 0) rc = sqlite3_blob_read(blob_, buffer, size, 0);
    if (rc != SQLITE_OK && state_.error.empty()) state_.error = sqlite3_errmsg(state_.db);
    return rc == SQLITE_OK;
  }

private:
  State &state_;
  sqlite3_blob *blob_ = nullptr;
};

// The size of a stored block; -1 when it holds no bytes (a null or a text).
constexpr const char *kStoredSize = "CASE WHEN typeof(data) = 'blob' THEN length(data) ELSE -1 END";

} // namespace

int32_t BlockRead(Ehfa_File *file, int64_t entry, int32_t row, int32_t col, void *buffer, int32_t size,
                  Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_BlockRead";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return -1;
  State &state = StateOf(file);
  static const std::string sql = std::string("SELECT rowid, ") + kStoredSize +
                                 " FROM block WHERE entry = ?1 AND row = ?2 AND col = ?3";
  Query q(state, sql.c_str());
  q.Bind(1, entry).Bind(2, int64_t{row}).Bind(3, int64_t{col});
  if (!q.Step()) return SqlFailed(file, kReporter, 2, err) ? -1 : 0;
  const int64_t stored = q.Int(1);
  if (stored != size) {
    lower::Report(err, kReporter, 3, "Block (%d, %d) of entry %lld in %s holds %lld bytes instead of %d", row, col,
                  static_cast<long long>(entry), file->fileName, static_cast<long long>(stored), size);
    return -1;
  }
  BlobReader reader(state);
  if (!reader.Read(q.Int(0), buffer, size)) return SqlFailed(file, kReporter, 2, err), -1;
  return 1;
}

int32_t BlockRowRead(Ehfa_File *file, int64_t entry, int32_t row, int32_t first, int32_t last,
                     bool (*target)(void *context, int32_t col, int32_t size, uint8_t **into,
                                    Eerr_ErrorReport **err),
                     void *context, Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_BlockRead";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return -1;
  State &state = StateOf(file);
  static const std::string sql = std::string("SELECT col, rowid, ") + kStoredSize +
                                 " FROM block WHERE entry = ?1 AND row = ?2 AND col BETWEEN ?3 AND ?4 ORDER BY col";
  Query q(state, sql.c_str());
  q.Bind(1, entry).Bind(2, int64_t{row}).Bind(3, int64_t{first}).Bind(4, int64_t{last});
  BlobReader reader(state);
  while (q.Step()) {
    const int64_t stored = q.Int(2);
    const int32_t size = stored < 0 || stored > INT32_MAX ? -1 : static_cast<int32_t>(stored);
    uint8_t *into = nullptr;
    if (!target(context, static_cast<int32_t>(q.Int(0)), size, &into, err)) return -1;
    if (into && !reader.Read(q.Int(1), into, size)) break;
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
  q.Bind(1, entry).Bind(2, int64_t{row}).Bind(3, int64_t{col});
  q.BindStaticBlob(4, size > 0 ? data : &kEmpty, size); // stepped before the caller's bytes change
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
