/* Heap of every record, booleans, and the free routine of pointer lists. */
#ifndef TAVIRON_EMSC_H
#define TAVIRON_EMSC_H

#include <stddef.h>
#include <stdint.h>

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

typedef int32_t Emsc_Boolean;
#define EMSC_FALSE 0
#define EMSC_TRUE 1

/* A new block of n bytes, always zero-filled; null when the memory is not to be had. */
void *emsc_HeapMalloc(size_t n);
/* Resizes a block of this heap (null acts as emsc_HeapMalloc); growth is zero-filled.
   On failure the old block is left as it was and null is returned. */
void *emsc_HeapRealloc(void *block, size_t n);
/* Frees a block of this heap; null is accepted. */
void emsc_HeapFree(void *block);
/* Frees the block that *pointerAddress points to and nulls the pointer.
   pointerAddress is the address of any object pointer (char **, Foo **...). */
void emsc_HeapFreeEx(void *pointerAddress);
/* Free routine for lists of heap pointers: given the address of a list slot,
   frees the block the slot points to (see edlm_FreeListAndContents). */
void emsc_FreePtrFunc(void *slotAddress);

TAVIRON_END_DECLS

#endif
