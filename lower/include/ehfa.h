/* Hierarchical files: a tree of named entries under the root ":", each entry holding at most one
   record stored by its design, kept in one SQLite database per file. */
#ifndef TAVIRON_EHFA_H
#define TAVIRON_EHFA_H

#include <stdint.h>

#include "eerr.h"
#include "efio.h"
#include "eint.h"
#include "emif.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* An entry as the file hands it out. The record belongs to the open file: it stays valid (and is
   refreshed whenever the entry is handed out again) until the file is closed. */
typedef struct {
  char *name;       /* node name; "" for the root */
  char *type;       /* design name of the entry's record; "" when it has none given */
  double modTime;   /* modification time, seconds since 1970 */
  int32_t dataSize; /* bytes of the stored record, 0 without data */
} Ehfa_Entry;

/* The open file. */
typedef struct Ehfa_File {
  char *fileName;                 /* the name the file was opened or created with */
  Emif_Dictionary *dictionary;    /* the file's designs; written into the file with the data */
  Eint_InitToolkitData *init;     /* the toolkit record it was opened with (may be null) */
  Ehfa_Entry *currentEntry;       /* the current entry (the root after opening) */
  int32_t changeSerial;           /* words sent with the file-changed notice: commits that */
  int32_t changeProcess;          /* changed the file since it was opened, and this process id */
  int32_t readOnly;               /* non-zero when opened for reading only */
  void *internal;                 /* private */
} Ehfa_File;

/* A saved current entry (ehfa_EntryPositionGet). */
typedef struct Ehfa_EntryPosition Ehfa_EntryPosition;

/* Relation (position) codes. A path argument, when given, names the entry that the code works
   from (and, for 0, the entry to rewrite); "::" and a leading ":" are the root. */
#define EHFA_OVERWRITE 0     /* write: rewrite the entry (0 with a name renames it) */
#define EHFA_NEXT 1          /* the next sibling; write: new next sibling */
#define EHFA_CHILD 3         /* write: new last child; seek: the current entry */
#define EHFA_LAST_CHILD 4    /* write: new last child; seek: the current entry */
#define EHFA_FIRST_CHILD 5   /* the first child */
#define EHFA_PARENT 6        /* the parent */
#define EHFA_PATH_PEEK 7     /* the entry at a path; never moves the current entry */
#define EHFA_PATH 8          /* the entry at a path */
#define EHFA_NEXT_OF 10      /* the next sibling of the given design (or name; any without) */
#define EHFA_CHILD_NAMED 12  /* the child with the given node name */
#define EHFA_NEXT_NAMED 13   /* the next sibling with the given node name */
#define EHFA_CHILD_OF 14     /* the first child of the given design (or name; any without) */
#define EHFA_BELOW_OF 15     /* the nearest entry below of the given design (breadth first) */
#define EHFA_CURRENT 16      /* the current entry */
#define EHFA_CURRENT_ENTRY 17 /* the current entry */
#define EHFA_FOLLOWING 18    /* the entry that follows in file order (pre-order) */

/* ehfa_FileChange keywords (each followed by its values; the list ends with 0):
   1 (open, write, a, b): open != 0 opens a bracket, 0 closes one; write != 0 makes it a write
     bracket. a and b are accepted and not used.
   2 (a, b, on, c): on != 0 opens a write bracket, 0 closes one; a, b, c not used.
   3 (on): 0 opens a write bracket (around the writing of a list), non-zero closes it.
   4 (name): commits, closes, renames the file to name (replacing it) and reopens it there.
   Writes between the opening of the outermost write bracket and its close are committed
   together when it closes: until then the file on disk keeps its previous content. */
#define EHFA_CHANGE_BRACKET 1
#define EHFA_CHANGE_WRITE_MODE 2
#define EHFA_CHANGE_LIST 3
#define EHFA_CHANGE_RENAME 4

/* Called after a change to a hierarchical file was committed. */
typedef void (*Ehfa_FileChangedCallback)(Ehfa_File *file);
/* Installs the callback (null removes it); returns the one installed before. */
Ehfa_FileChangedCallback ehfa_SetFileChangedCallback(Ehfa_FileChangedCallback callback);

/* Non-zero when the file is a hierarchical file of this system (an SQLite database carrying
   this system's application id). 0 otherwise; a null name or an unreadable existing file also
   gives a report. */
int32_t ehfa_IsHFAFile(const char *name, Eerr_ErrorReport **err);

/* Opens an existing file. Modes: "r" and "rb" read only; "r+", "r+b" and "rb+" read and write;
   modes with "w" or "a" are refused (new files come from ehfa_FileCreate). The file's designs
   fill its dictionary; the current entry is the root. A missing file, a file that is not a
   hierarchical file of this system, or one whose tables or designs are corrupt give a report.
   A tail after err (a keyword list ended by 0) is accepted and not read. */
Ehfa_File *ehfa_FileOpen(const char *name, const char *mode, Eint_InitToolkitData *init,
                         Eerr_ErrorReport **err, ...);
/* Creates a new empty file (replacing any file of that name) open for update. The new file is
   made under a temporary name in the same directory. A file of that name stays in place, and is
   what readers of the name find, until the new file's first commit (ehfa_FileFlush,
   ehfa_FileClose, the end of a write bracket, a rename) renames the new file over it: a process
   killed before that leaves the old file as it was. A tail after err is accepted and not read. */
Ehfa_File *ehfa_FileCreate(const char *name, Eint_InitToolkitData *init, Eerr_ErrorReport **err,
                           ...);
/* ehfa_FileCreate, then the ehfa_FileChange keyword list that follows err (ended by 0). */
Ehfa_File *ehfa_FileCreateWithOptions(const char *name, Eint_InitToolkitData *init,
                                      Eerr_ErrorReport **err, ...);
/* Opens name from the first directory of the search list that holds it (an absolute name as it
   stands). */
Ehfa_File *ehfa_SearchListFileOpen(const Efio_SearchList *list, const char *name,
                                   const char *mode, Eint_InitToolkitData *init,
                                   Eerr_ErrorReport **err);
/* Commits pending changes (open brackets included) and closes the file; the record is freed
   even when the commit fails (the changes are then lost and reported). Null accepted. */
void ehfa_FileClose(Ehfa_File *file, Eerr_ErrorReport **err);
/* Commits pending changes; inside a write bracket the commit waits for the bracket's close. */
void ehfa_FileFlush(Ehfa_File *file, Eerr_ErrorReport **err);
/* Applies the keyword list (see above). 0 on success, -1 with a report. */
int32_t ehfa_FileChange(Ehfa_File *file, Eerr_ErrorReport **err, ...);

/* Moves the current entry by the relation code and returns it; null when there is no such entry
   (the current entry then stays; a report only for real errors). name: a node name (12, 13), a
   path (7, 8), a design name (10, 14, 15), or null. */
Ehfa_Entry *ehfa_EntrySeek(Ehfa_File *file, int32_t code, const char *name,
                           Eerr_ErrorReport **err);
/* The entry at that position, without moving. */
Ehfa_Entry *ehfa_EntryPeek(Ehfa_File *file, int32_t code, const char *name,
                           Eerr_ErrorReport **err);
/* Non-zero when the current entry has a next sibling / a previous sibling / a child. Also
   non-zero when the step cannot be made (the file fails, or its index disagrees with its table):
   the seek that moves there reports why, so a walk never takes a damaged file for its end. */
int32_t ehfa_EntryCurrentHasNext(Ehfa_File *file);
int32_t ehfa_EntryCurrentHasPrev(Ehfa_File *file);
int32_t ehfa_EntryCurrentHasChild(Ehfa_File *file);
/* Saves the current entry; restores it (a deleted entry is reported); frees a saved position
   (null accepted). */
Ehfa_EntryPosition *ehfa_EntryPositionGet(Ehfa_File *file, Eerr_ErrorReport **err);
int32_t ehfa_EntryPositionSet(Ehfa_File *file, const Ehfa_EntryPosition *position,
                              Eerr_ErrorReport **err);
void ehfa_EntryPositionFree(Ehfa_EntryPosition *position);
/* The full path of the current entry (":" for the root) as a new heap string. */
char *ehfa_CurrentEntryPath(Ehfa_File *file, Eerr_ErrorReport **err);
/* Deletes the current entry with everything below it; its parent becomes current. The root
   cannot be deleted. 0 on success, -1 with a report. */
int32_t ehfa_EntryDelete(Ehfa_File *file, Eerr_ErrorReport **err);
/* Writes an entry without data at the code's place (1, 3, 4: a new entry named name of type
   type; 0: rewrites the entry at path or the current one: a non-null name renames it, a non-null
   type changes its type, which drops data stored under another type). The entry becomes current
   and is returned. */
Ehfa_Entry *ehfa_EntryWrite(Ehfa_File *file, const char *path, const char *name,
                            const char *type, int32_t code, Eerr_ErrorReport **err);
/* Writes the record as an entry at the code's place (0, 1, 3, 4 as ehfa_EntryWrite; for 0 the
   name may be null and the type defaults to the design's name). The design (and the designs it
   nests) are added to the file's dictionary when missing; a design of that name with another
   layout in the dictionary is refused. The written entry becomes current and is returned. */
Ehfa_Entry *ehfa_ObjectWrite(Ehfa_File *file, const char *path, const char *name,
                             const char *type, int32_t code, const void *record,
                             const Emif_Design *design, Eerr_ErrorReport **err);
/* Reads the record of the entry at the code's place into record (new when null) by the design
   and returns it; the entry becomes current (except for code 7). The stored bytes are decoded by
   the file's design of the entry's type (items matched by name, so items the stored design
   lacks keep their values). A missing entry, an entry without data or a corrupt record give a
   report; a record made by the call is then freed. */
void *ehfa_ObjectRead(Ehfa_File *file, const char *path, const char *name, int32_t code,
                      void *record, const Emif_Design *design, Eerr_ErrorReport **err);
/* 0 without a report when there is no entry at the code's place; otherwise reads it as
   ehfa_ObjectRead and returns 1 (a failed read leaves its report). */
int32_t ehfa_ObjectReadIfPresent(Ehfa_File *file, const char *path, const char *name,
                                 int32_t code, void *record, const Emif_Design *design,
                                 Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif
