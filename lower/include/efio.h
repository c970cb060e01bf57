/* Files and printing, file-system services, search lists, temporary names, file-name
   verification, descriptor sets and the file layer's hooks. */
#ifndef TAVIRON_EFIO_H
#define TAVIRON_EFIO_H

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/time.h>

#include "eerr.h"
#include "estr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* ---- Files and streams ------------------------------------------------------------------
   A file is a stdio stream (FILE *), so stdout and stderr may be passed wherever a file is
   expected. Printing to stdout or stderr (efio_Printf, efio_Fprintf, efio_Flush) goes through
   the layer's print sink. File positions and sizes are 64-bit. */

/* Opens path with an fopen mode ("r", "w", "a", each optionally with "+" and "b" in either
   order). Null with a report when the mode is invalid or the open fails. */
FILE *efio_Open(const char *path, const char *mode, Eerr_ErrorReport **err);
/* Closes the file: 0, or -1 with a report on failure. A null file is refused. */
int32_t efio_Close(FILE *file, Eerr_ErrorReport **err);
/* Creates an empty file with the permission bits mode (less the umask) when it does not
   exist; an existing file is left as it is. 0, or -1 with a report. */
int32_t efio_Create(const char *path, int32_t mode, Eerr_ErrorReport **err);

/* Reads / writes count bytes at the current position: the number of bytes moved (a short read
   only at end of file), or -1 with a report. */
int32_t efio_ReadSeq(FILE *file, void *buffer, int32_t count, Eerr_ErrorReport **err);
int32_t efio_WriteSeq(FILE *file, const void *buffer, int32_t count, Eerr_ErrorReport **err);
/* The same at an absolute position from the start of the file. */
int32_t efio_ReadDirect(FILE *file, int64_t position, void *buffer, int32_t count,
                        Eerr_ErrorReport **err);
int32_t efio_WriteDirect(FILE *file, int64_t position, const void *buffer, int32_t count,
                         Eerr_ErrorReport **err);
/* Sequential write of packed lines: the same as efio_WriteSeq. */
int32_t efio_FileWriteSequential(FILE *file, const void *buffer, int32_t count,
                                 Eerr_ErrorReport **err);
/* Moves to offset from the start (whence 0), the current position (1) or the end (2): the new
   position, or -1 with a report. */
int64_t efio_Seek(FILE *file, int64_t offset, int32_t whence, Eerr_ErrorReport **err);
/* The current position, or -1. */
int64_t efio_Tell(FILE *file);
/* Flushes the file or stream: 0, or non-zero with a report. */
int32_t efio_Flush(FILE *file, Eerr_ErrorReport **err);

/* fgets: the buffer, or null at end of file (no report) or on a read error (report). */
char *efio_Fgets(char *buffer, int32_t size, FILE *file, Eerr_ErrorReport **err);
/* The next byte, or EOF (also for a null file). */
int32_t efio_Fgetc(FILE *file);
/* Non-zero at end of file (and for a null file). */
int32_t efio_Feof(FILE *file);
/* fscanf / sscanf: the number of items read, EOF (-1) on failure or null input. */
int32_t efio_Fscanf(FILE *file, const char *format, ...);
int32_t efio_Sscanf(const char *text, const char *format, ...);

/* Formatted output: the number of bytes written, or -1. efio_Printf writes to standard output,
   efio_Fprintf to the stream (through the print sink for stdout and stderr). efio_Sprintf is
   sprintf: the buffer must be large enough for the result. */
int32_t efio_Printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
int32_t efio_Fprintf(FILE *stream, const char *format, ...) __attribute__((format(printf, 2, 3)));
int32_t efio_Sprintf(char *buffer, const char *format, ...) __attribute__((format(printf, 2, 3)));

/* Non-zero when the open file holds text: its first 4096 bytes contain no control byte other
   than tab, line feed, vertical tab, form feed, carriage return and 0x1A (bytes from 0x80 on are
   Latin-1 text). An empty file counts as text. The position is restored; a stream that cannot
   be repositioned gives 0. */
int32_t efio_IsFileAscii(FILE *file);

/* The value of key in a tag file, as a new heap string; null without a report when the key is
   absent. Tag file syntax: one "key: value" per line; the key (matched without regard to case)
   and the value are trimmed of blanks; blank lines and lines whose first non-blank character is
   "#" are ignored; the first line of a key wins. A missing or unreadable file, a file holding a
   NUL byte, a file above 1 MiB or any other line without a ":" after a non-empty key is
   rejected with a report. reserved: pass 0. */
char *efio_GetTaggedData(const char *tagFile, const char *key, int32_t reserved,
                         Eerr_ErrorReport **err);

/* ---- File system ------------------------------------------------------------------------- */

/* 1 when the path exists, 0 when it does not; 0 with a report when it cannot be examined. */
int32_t efio_FileExists(const char *path, Eerr_ErrorReport **err);
/* 0 when the access mode (bits 4 read, 2 write, 1 execute; 0 existence) is granted, else -1
   with a report. */
int32_t efio_Access(const char *path, int32_t mode, Eerr_ErrorReport **err);
/* 1 for a directory, 0 otherwise; 0 with a report when the path cannot be examined (also when
   it does not exist). */
int32_t efio_IsDirectory(const char *path, Eerr_ErrorReport **err);
/* Creates a directory with the permission bits mode: 0; 17 (EEXIST) without a report when the
   directory exists (with a report when something else is at the path); another errno value
   with a report on failure. */
int32_t efio_MakeDir(const char *path, int32_t mode, Eerr_ErrorReport **err);
/* Creates the directory (mode 0777) when it is missing: 0, or -1 with a report (also when the
   path exists and is not a directory). Parents are not created. */
int32_t efio_MaybeMakeDir(const char *path, Eerr_ErrorReport **err);
/* Deletes a file: 0, or -1 with a report (also when it does not exist). */
int32_t efio_FileUnlink(const char *path, Eerr_ErrorReport **err);
/* Renames a file: 0, or -1 with a report. reserved: pass 0. */
int32_t efio_FileNameChange(const char *oldPath, const char *newPath, int32_t reserved,
                            Eerr_ErrorReport **err);
/* The size in bytes, or -1 with a report. */
int64_t efio_FileSizeGet(const char *path, Eerr_ErrorReport **err);
/* Fills the permission and type bits (st_mode), owner, group, size and modification time
   (seconds since 1970) of path; every out pointer may be null. 0, or -1 with a report. */
int32_t efio_Stat(const char *path, int32_t *mode, int32_t *userId, int32_t *groupId,
                  int64_t *size, int64_t *modificationTime, Eerr_ErrorReport **err);
/* Sets the permission bits: 0, or -1 with a report. */
int32_t efio_Chmod(const char *path, int32_t mode, Eerr_ErrorReport **err);
/* Sets the access and modification times (seconds since 1970): 0, or -1 with a report. */
int32_t efio_SetModTime(const char *path, int64_t accessTime, int64_t modificationTime,
                        Eerr_ErrorReport **err);
/* The current directory into buffer (size bytes): the buffer, or null with a report. */
char *efio_CurrentDirName(char *buffer, int32_t size, Eerr_ErrorReport **err);

/* One step of a directory listing. pattern is "directory/name-pattern" (a pattern without "/"
   lists the current directory); the name pattern takes the shell wild cards "*", "?" and
   "[...]" and matches every entry, "." and ".." included. Start with a null handle; each call
   stores the next matching entry name (name only, a new heap string the caller frees) in *name
   and returns the handle to pass to the next call. Names come in byte order. When no name is
   left the listing is freed, *name is set to null and 0 is returned. A caller that stops early
   ends the listing by passing its handle with a null pattern (returns 0). A directory that does
   not exist lists nothing without a report; one that cannot be read gives 0 with a report. */
typedef struct Efio_Listing Efio_Listing;
Efio_Listing *efio_NextFilename(const char *pattern, char **name, Efio_Listing *handle,
                                Eerr_ErrorReport **err);

/* Marker files of the vector formats' directory stores. */
#define EFIO_ARC_COVER_MARKER "arc.cov"
#define EFIO_VPF_COVERAGE_MARKER "coverage.vpf"
/* 1 when path is a directory holding the regular file EFIO_ARC_COVER_MARKER (a polygon
   coverage); 0 otherwise (no report when the path does not exist); 0 with a report for a null
   path or one that cannot be examined. */
int32_t efio_FileIsArcCover(const char *path, Eerr_ErrorReport **err);
/* The same for EFIO_VPF_COVERAGE_MARKER. */
int32_t efio_FileIsVpfCoverage(const char *path, Eerr_ErrorReport **err);

/* ---- Search lists -----------------------------------------------------------------------
   A search list is the directories of a list text, in order. The text is expanded first
   ("$NAME" and "${NAME}"; unset variables give ""), then split on ";" and on ":"; a ":" right
   after a single letter that starts an entry and before "/", "\", ";" or the end is a drive
   letter's and does not split. Empty entries are dropped. */
typedef struct {
  int32_t count;       /* number of directories */
  char **directories;  /* count heap strings, as written in the list */
} Efio_SearchList;

/* The search list of the environment variable, or of defaultList when the variable is unset
   (a variable set to "" gives an empty list; so does a null default). Null with a report when
   the expansion fails (a variable that refers to itself) or memory runs out. reserved: pass 0. */
Efio_SearchList *efio_CreateSLFromEnv(int32_t reserved, const char *variable,
                                      const char *defaultList, Eerr_ErrorReport **err);
/* Frees a search list; null is accepted. */
void efio_FreeSL(Efio_SearchList *list);
/* Opens name from the first directory of the list that holds it (an absolute name is opened
   as it stands). Null with a report when no directory holds it (code 2, "not found") or when
   the file found cannot be opened (code 3, "open failed", chaining efio_Open's report); code 1
   for bad arguments. reserved: pass 0. */
FILE *efio_SearchListOpen(const Efio_SearchList *list, const char *name, const char *mode,
                          int32_t reserved, Eerr_ErrorReport **err);
/* The path "directory/name" of the first directory that holds name (an absolute name: itself
   when it exists), as a new heap string; null without a report when none does; null with a
   report for bad arguments. */
char *efio_Which(const Efio_SearchList *list, const char *name, Eerr_ErrorReport **err);
/* Every file (not directory) matching pattern in the directories of the list text, as paths
   "directory/name": directories in list order, names in byte order within one directory. The
   pattern takes "*", "?" and "[...]", case-sensitively; a pattern ending in ".dll" also matches
   the names where ".so" stands for that ".dll" (our plug-ins are shared objects), so "*.dll"
   finds "x.so". Null when nothing matches or the text cannot be expanded. */
Estr_StringList *efio_SearchListGenerateAndIdentifyFiles(const char *listText,
                                                         const char *pattern);

/* ---- Temporary names ---------------------------------------------------------------------
   A temporary name is "<directory>/<prefix><pid>_<counter>" with a process-wide counter,
   checked for absence (nothing is created). The temporary directory is the one set with
   efio_DirectorySetTemporary, else the default: $TMPDIR, $TMP, $TEMP (the first set and
   non-empty), else "/tmp". */

/* A fresh name in directory (null: the temporary directory), as a new heap string; null with a
   report on failure. A null prefix is "". The name is the prefix followed by a mark of this
   library, the machine and this process's id: once the process has ended, such a file (and what
   follows its name, a journal) is removed when a writer of the library next puts a file in
   place in that directory. */
char *efio_TempName(const char *directory, const char *prefix, Eerr_ErrorReport **err);
/* A fresh name in the temporary directory, or null. */
char *efio_TempNameInTmpdir(const char *prefix);
/* Sets the temporary directory; null or "" returns to the default. Returns the temporary
   directory in effect before the call; the text stays valid for the life of the process. */
const char *efio_DirectorySetTemporary(const char *directory);

/* ---- File-name verification (relocating the files a composition names) -----------------
   The locate callback is called by efio_FileNameCorrect for a file that is not where its name
   says and not in any default directory. It gets the user data, the file's base name and the
   context (composition) of the correction, and answers with efio_FileNameVerify of the path it
   proposes: non-zero when that path exists. The verified path becomes the corrected name. */
typedef int32_t (*Efio_LocateFunction)(void *userData, const char *fileName, void *context,
                                       Eerr_ErrorReport **err);

/* With a null path: installs the user data and callback that efio_FileNameCorrect uses when it
   is given no callback; returns 0. With a path: 1 when the path exists (it is then remembered
   as the located name of the correction in progress), else 0; userData and callback are then
   not used. reserved: pass 0. */
int32_t efio_FileNameVerify(const char *path, void *userData, Efio_LocateFunction callback,
                            int32_t reserved, Eerr_ErrorReport **err);
/* A null directory clears the default search path; a directory is appended to it ("" is ".")
   unless it is there already. 0, or -1 with a report. */
int32_t efio_FileNameVerifyAddDefaultPath(const char *directory, Eerr_ErrorReport **err);
/* Corrects the heap file name *name (freed and replaced by a new heap string): 1 when it was
   replaced, else 0. A name that exists, is empty or is the skip marker is left alone. Otherwise
   it is looked for, by base name, in the default search path, then through the callback
   (the installed one, with its user data, when callback is null). A name corrected earlier in
   the same run gets the same correction without a search. A null name pointer starts a new run:
   it forgets the run's corrections and remembers context for the calls that pass none; it
   returns 0. A file not found is left unchanged, without a report; a report of the callback is
   chained and gives 0. */
int32_t efio_FileNameCorrect(char **name, void *userData, Efio_LocateFunction callback,
                             void *context, Eerr_ErrorReport **err);
#define EFIO_FILE_SKIPPED "FILE_SKIPPED_AT_USER_REQUEST"

/* Parts of a file name for efio_FileNameParse; a mask of several gives them joined in this
   order. The directory keeps its closing "/", the extension its ".", so 8|16|32 gives back the
   name and 8|16 the name without extension. */
#define EFIO_PART_DIRECTORY 8
#define EFIO_PART_STEM 16
#define EFIO_PART_EXTENSION 32
#define EFIO_PATH_BUFFER_SIZE 256
/* Writes the parts of name given by the mask into out, which holds size bytes (0 means
   EFIO_PATH_BUFFER_SIZE): 0, or -1 with a report (out then holds "") for a mask without parts
   or a result that does not fit. */
int32_t efio_FileNameParse(const char *name, Eerr_ErrorReport **err, int32_t parts, char *out,
                           int32_t size);

/* ---- Descriptor sets --------------------------------------------------------------------- */
typedef struct Efio_FdSet Efio_FdSet;
/* A new empty set, freed with emsc_HeapFree; null when out of memory. */
Efio_FdSet *efio_NewFdSet(void);
void efio_FD_ZERO(Efio_FdSet *set);
/* Adds fd: 0, or -1 (set unchanged) for a null set or fd outside 0 .. FD_SETSIZE - 1. */
int32_t efio_FD_SET(int32_t fd, Efio_FdSet *set);
/* Non-zero when fd is in the set; 0 for a null set or fd outside the range. */
int32_t efio_FD_ISSET(int32_t fd, const Efio_FdSet *set);
/* select(2) over the sets (each may be null); a null time-out waits without end. -1 with errno
   EINVAL for a count outside 0 .. FD_SETSIZE. */
int32_t efio_Select(int32_t count, Efio_FdSet *readSet, Efio_FdSet *writeSet,
                    Efio_FdSet *errorSet, struct timeval *timeout);

/* ---- Hooks ------------------------------------------------------------------------------- */
/* The file layer's log function (level, error slot, printf format, argument list). */
typedef int32_t (*Efio_LogFunction)(int32_t level, Eerr_ErrorReport **err, const char *format,
                                    va_list ap);
/* The question hook: shows message in a message box of the given style (the hook supplies the
   application's title as caption) and returns the answer. */
typedef int32_t (*Efio_QueryFunction)(const char *message, int32_t style);
/* Install a hook (null removes it); each returns the one installed before. */
Efio_LogFunction efio_SetLogFunction(Efio_LogFunction function);
Efio_QueryFunction efio_SetQueryFunction(Efio_QueryFunction function);

TAVIRON_END_DECLS

#endif
