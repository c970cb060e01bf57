/* Byte buffers: storage with a read position and a write position. */
#ifndef TAVIRON_EBUF_H
#define TAVIRON_EBUF_H

#include <stdint.h>

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* The unread data lies between readPosition and writePosition, the free space between
   writePosition and size: 0 <= readPosition <= writePosition <= size. Callers may read the
   unread bytes and fill the free space in place (then count the bytes with
   CopyToBuffer(buffer, NULL, n)). Every call checks the record first and refuses one that breaks
   these rules, so a damaged record never leads to access outside the storage. Buffers come
   from NewBuffer only (the record is part of a larger private one). */
typedef struct Ebuf_Buffer {
  uint8_t *data;         /* storage of size bytes (never null in a valid buffer) */
  int32_t size;          /* capacity in bytes */
  int32_t readPosition;  /* offset of the first unread byte */
  int32_t writePosition; /* offset of the first free byte */
} Ebuf_Buffer;

/* A new empty buffer with room for size bytes (zero-filled); null for a negative size or when
   out of memory. */
Ebuf_Buffer *NewBuffer(int32_t size);
/* Frees the buffer and its storage; null is accepted. */
void FreeBuffer(Ebuf_Buffer *buffer);
/* 0 when the buffer record keeps the rules above, -1 otherwise (also for null). */
int32_t ChkBuffer(const Ebuf_Buffer *buffer);

/* Appends n bytes from source into the free space; with a null source only counts n bytes
   already placed there. 0, or -1 (nothing changed) when n is negative or exceeds the free
   space. */
int32_t CopyToBuffer(Ebuf_Buffer *buffer, const void *source, int32_t n);
/* Takes n unread bytes into destination; with a null destination only skips them. 0, or -1
   (nothing changed) when n is negative or exceeds the unread bytes. */
int32_t CopyFromBuffer(Ebuf_Buffer *buffer, void *destination, int32_t n);
/* Moves n unread bytes of from into the free space of to. 0, or -1 (nothing moved) when either
   side has too few bytes or the two are the same buffer. */
int32_t TransferBuffer(Ebuf_Buffer *to, Ebuf_Buffer *from, int32_t n);
/* Keeps the first n unread bytes and drops the rest; n at or above the unread count keeps all.
   0, or -1 for a negative n. */
int32_t TruncateBuffer(Ebuf_Buffer *buffer, int32_t n);
/* Gives back the spare room: the unread bytes move to the start and the storage shrinks to them
   (the size becomes the unread count). When the smaller storage cannot be had the buffer keeps
   its room, compacted; still 0. -1 only for an invalid buffer. */
int32_t ShrinkBuffer(Ebuf_Buffer *buffer);

TAVIRON_END_DECLS

#endif
