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
