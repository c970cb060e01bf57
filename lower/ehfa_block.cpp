// The raster block table of hierarchical files, for the raster layers.
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
// row to row). A block's size comes from the handle: a query asking for it (length(data)) would
// copy every block that fits in its page.
class BlobReader {
public:
  explicit BlobReader(State &state) : state_(state) {}
  ~BlobReader() { Close(); }
  BlobReader(const BlobReader &) = delete;
  BlobReader &operator=(const BlobReader &) = delete;

  // Moves to the block of that row: true with its size (-1 when it holds no bytes: a null or a
  // number), false when the file fails (state.error set).
  bool Open(int64_t rowid, int32_t &size) {
    const int rc = blob_ ? sqlite3_blob_reopen(blob_, rowid)
                         : sqlite3_blob_open(state_.db, "main", "block", "data", rowid, 0, &blob_);
    if (rc == SQLITE_OK) {
      size = sqlite3_blob_bytes(blob_);
      return true;
    }
    if (rc == SQLITE_ERROR) { // a value of another type: the handle cannot move on from it
      Close();
      size = -1;
      return true;
    }
    Close();
    Fail();
    return false;
  }
  // Reads the size bytes of the block it is on.
  bool Read(void *buffer, int32_t size) {
    const int rc = size > 0 ? sqlite3_blob_read(blob_, buffer, size, 0) : SQLITE_OK;
    if (rc != SQLITE_OK) Fail();
    return rc == SQLITE_OK;
  }

private:
  void Close() {
    if (blob_) sqlite3_blob_close(blob_);
    blob_ = nullptr;
  }
  void Fail() {
    if (state_.error.empty()) state_.error = sqlite3_errmsg(state_.db);
  }
  State &state_;
  sqlite3_blob *blob_ = nullptr;
};

} // namespace

int32_t BlockRead(Ehfa_File *file, int64_t entry, int32_t row, int32_t col, void *buffer, int32_t size,
                  Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_BlockRead";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return -1;
  State &state = StateOf(file);
  Query q(state, "SELECT rowid FROM block WHERE entry = ?1 AND row = ?2 AND col = ?3");
  q.Bind(1, entry).Bind(2, int64_t{row}).Bind(3, int64_t{col});
  if (!q.Step()) return SqlFailed(file, kReporter, 2, err) ? -1 : 0;
  BlobReader reader(state);
  int32_t stored = 0;
  if (!reader.Open(q.Int(0), stored)) return SqlFailed(file, kReporter, 2, err), -1;
  if (stored != size) {
    lower::Report(err, kReporter, 3, "Block (%d, %d) of entry %lld in %s holds %d bytes instead of %d", row, col,
                  static_cast<long long>(entry), file->fileName, stored, size);
    return -1;
  }
  if (!reader.Read(buffer, size)) return SqlFailed(file, kReporter, 2, err), -1;
  return 1;
}

int32_t BlockRangeRead(Ehfa_File *file, int64_t entry, int32_t firstRow, int32_t lastRow, int32_t firstCol,
                       int32_t lastCol,
                       bool (*target)(void *context, int32_t row, int32_t col, int32_t size, uint8_t **into,
                                      Eerr_ErrorReport **err),
                       void *context, Eerr_ErrorReport **err) {
  static const char *const kReporter = "ehfa_BlockRead";
  lower::Clear(err);
  if (!Usable(file, kReporter, err)) return -1;
  State &state = StateOf(file);
  Query q(state, "SELECT row, col, rowid FROM block WHERE entry = ?1 AND row BETWEEN ?2 AND ?3 "
                 "AND col BETWEEN ?4 AND ?5 ORDER BY row, col");
  q.Bind(1, entry).Bind(2, int64_t{firstRow}).Bind(3, int64_t{lastRow});
  q.Bind(4, int64_t{firstCol}).Bind(5, int64_t{lastCol});
  BlobReader reader(state);
  while (q.Step()) {
    int32_t size = 0;
    if (!reader.Open(q.Int(2), size)) break;
    uint8_t *into = nullptr;
    if (!target(context, static_cast<int32_t>(q.Int(0)), static_cast<int32_t>(q.Int(1)), size, &into, err))
      return -1;
    if (into && !reader.Read(into, size)) break;
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
