/* Dynamic lists: growable, index-stable arrays of fixed-size items, also used as stacks. */
#ifndef TAVIRON_EDLM_H
#define TAVIRON_EDLM_H

#include <stdint.h>

#include "eerr.h"
#include "emsc.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* A list of items of one size, indexed from 0. Storage grows by whole blocks of "items per
   block" items, so the address of an item (edlm_GetAddr) stays valid while items are only
   appended or replaced; deleting or popping moves the items after it down one place.
   The item size is taken literally: a list of pointers is made with sizeof(void *).
   The list copies items in and out; it never frees what an item points to (except through
   edlm_FreeListAndContents). A null list is not an empty list: most calls report it.
   Lists are not safe for concurrent use. */
typedef struct Edlm_List Edlm_List;

/* Called with the ADDRESS of an item slot (for a pointer list, the address of the pointer). */
typedef void (*Edlm_FreeFunction)(void *itemAddress);
/* Called with the addresses of two items; non-zero when they are equal. */
typedef int32_t (*Edlm_EqualFunction)(const void *itemAddressA, const void *itemAddressB);

/* A new empty list of items of itemSize bytes (at least 1) grown itemsPerBlock items at a
   time; itemsPerBlock 0 is taken as 1. */
Edlm_List *edlm_InitList(int32_t itemSize, int32_t itemsPerBlock, Eerr_ErrorReport **err);
/* The same as edlm_InitList (the name some callers use in their messages). */
Edlm_List *edlm_NewList(int32_t itemSize, int32_t itemsPerBlock, Eerr_ErrorReport **err);

/* Appends a copy of the itemSize bytes at item; returns the new item's index, -1 on failure. */
int32_t edlm_Add(Edlm_List *list, const void *item, Eerr_ErrorReport **err);
/* Returns the index of the first item that equal() finds equal to *item; when there is none,
   appends a copy and returns its index, which is the item count before the call. -1 on failure. */
int32_t edlm_AddIfUnique(Edlm_List *list, const void *item, Edlm_EqualFunction equal,
                         Eerr_ErrorReport **err);
/* The item count; -1 with a report for a null list. */
int32_t edlm_CountList(const Edlm_List *list, Eerr_ErrorReport **err);
/* The address of item index (for a pointer list, the address of the pointer); null with a report
   for an index outside 0 .. count - 1. */
void *edlm_GetAddr(Edlm_List *list, int32_t index, Eerr_ErrorReport **err);
/* Copies item index into the itemSize bytes at item; EMSC_FALSE with a report on failure. */
Emsc_Boolean edlm_Element(const Edlm_List *list, int32_t index, void *item,
                          Eerr_ErrorReport **err);
/* Overwrites item index with a copy of the bytes at item (the old item is not freed). */
Emsc_Boolean edlm_Replace(Edlm_List *list, int32_t index, const void *item,
                          Eerr_ErrorReport **err);
/* Removes item index (not freeing what it points to); the items after it move down one. */
Emsc_Boolean edlm_Delete(Edlm_List *list, int32_t index, Eerr_ErrorReport **err);
/* A new heap block (emsc_HeapFree) holding all items one after another, in index order.
   An empty list gives a zero-filled block of one item. The list is left as it was. */
void *edlm_Consolidate(const Edlm_List *list, Eerr_ErrorReport **err);
/* Frees the list only; null is accepted. */
void edlm_FreeList(Edlm_List *list);
/* Calls freeContents with the address of every item slot, in index order, then frees the list;
   a null function frees the list only; null list is accepted. */
void edlm_FreeListAndContents(Edlm_List *list, Edlm_FreeFunction freeContents);

/* Stack form: a list whose last item is the top. The top is read with
   edlm_Element(stack, count - 1, ...). */
Edlm_List *edlm_NewStack(int32_t itemSize, Eerr_ErrorReport **err);
/* Pushes a copy of the item; returns its index (-1 on failure). */
int32_t edlm_Push(Edlm_List *stack, const void *item, Eerr_ErrorReport **err);
/* Removes the top item, first copying it into item when item is not null. An empty stack gives
   EMSC_FALSE with a report. */
Emsc_Boolean edlm_Pop(Edlm_List *stack, void *item, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif
