// The hierarchical files' C++ side, for the families of the layer: the saved current entry and
// the raster block table. Not part of the C interface.
#ifndef TAVIRON_LOWER_EHFA_INTERNAL_H
#define TAVIRON_LOWER_EHFA_INTERNAL_H

#include <cstdint>

#include "ehfa.h"
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
   deleted with their entry. Reports name ehfa_BlockRead, ehfa_BlockWrite, ehfa_BlocksDelete. */
namespace taviron::ehfa {
/* The id of the current entry (the entry a layer record was just read from or written to); 0
   for an unusable file. */
int64_t CurrentEntryId(Ehfa_File *file);
/* Copies block (row, col) of the entry into buffer: 1 when it is there, 0 when it was never
   written (buffer untouched), -1 with a report when the stored block is not exactly size bytes
   or the file fails. */
int32_t BlockRead(Ehfa_File *file, int64_t entry, int32_t row, int32_t col, void *buffer,
                  int32_t size, Eerr_ErrorReport **err);
/* Hands every stored block (row, c) of the entry with first <= c <= last to visit(c, bytes,
   size) in column order, with one query: 0, or -1 with a report when the file fails or visit
   returns false (visit leaves its own report in err then). */
int32_t BlockRowRead(Ehfa_File *file, int64_t entry, int32_t row, int32_t first, int32_t last,
                     bool (*visit)(void *context, int32_t col, const uint8_t *bytes, int32_t size,
                                   Eerr_ErrorReport **err),
                     void *context, Eerr_ErrorReport **err);
/* Stores (or replaces) block (row, col) of the entry. 0, or -1 with a report. */
int32_t BlockWrite(Ehfa_File *file, int64_t entry, int32_t row, int32_t col, const void *data,
                   int32_t size, Eerr_ErrorReport **err);
/* Deletes every block of the entry. 0, or -1 with a report. */
int32_t BlocksDelete(Ehfa_File *file, int64_t entry, Eerr_ErrorReport **err);
} // namespace taviron::ehfa
#endif
