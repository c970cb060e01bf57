/* Temporary files reached through mapped views, as the overflow store of the spatial cache uses
   them, on Linux.

   A temporary file is created in a folder of the temporary directory under a unique name with a
   given prefix, and is removed from the folder at once: it lives only as long as its handle (the
   system frees it when the handle closes, also when the process ends). A mapping of a file
   covers a number of bytes from its start and grows the file to that size, with its blocks
   reserved, so that writing through a view never meets a full disk. The mapping maps those bytes
   into the address space once; a view is the address of a range of it, at an offset that is a
   multiple of the allocation granularity, and mapping or unmapping a view makes no system call
   (unmapping only gives the range up). Views must be given up before their mapping's handle
   closes, which releases the address range. The calls may be used from any thread. Handles are
   descriptors (0 is "none"). */
#ifndef TAVIRON_EFMP_H
#define TAVIRON_EFMP_H

#include <stddef.h>
#include <stdint.h>

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

typedef intptr_t Efmp_Handle;

/* The temporary directory with a trailing "/": TMPDIR, TMP or TEMP (the first set and non-empty),
   else "/tmp/". Returns its length when it fits in size bytes with its terminator, else the size
   it needs (terminator included) and writes nothing. */
uint32_t efmp_GetTempPath(uint32_t size, char *buffer);
/* The granularity of view offsets and sizes in bytes (65536). */
uint32_t efmp_GetAllocationGranularity(void);
/* Creates a folder only its owner may enter. Non-zero on success and for an existing directory,
   0 otherwise. */
int32_t efmp_CreateDirectory(const char *path);
/* Creates a new empty file "<folder><prefix>XXXXXX" (unique, made anew and readable by this user
   only), opened for reading and writing and already removed from the folder; its name goes into name (size bytes, cut when longer). The
   handle, or 0 on failure. */
Efmp_Handle efmp_CreateTemporaryFile(const char *folder, const char *prefix, char *name,
                                     uint32_t size);
/* A read-write mapping of the first bytes of the file, growing the file to that size; 0 on
   failure (a file that could not be grown keeps its size, or the address space is short). */
Efmp_Handle efmp_CreateFileMapping(Efmp_Handle file, uint64_t bytes);
/* The view of bytes of the mapping from offset (a multiple of the granularity); null when the
   handle is not a mapping or the range lies beyond it. */
void *efmp_MapViewOfFile(Efmp_Handle mapping, uint64_t offset, size_t bytes);
/* Gives up a view of efmp_MapViewOfFile; non-zero for a view. */
int32_t efmp_UnmapViewOfFile(void *view, size_t bytes);
/* Closes a file or mapping handle (a mapping's address range with it); non-zero on success. */
int32_t efmp_CloseHandle(Efmp_Handle handle);

TAVIRON_END_DECLS

#endif
