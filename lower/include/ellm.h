/* Linked lists: doubly linked chains through the first two fields of the linked records. */
#ifndef TAVIRON_ELLM_H
#define TAVIRON_ELLM_H

#include <stdint.h>

#include "emsc.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* Every linked record starts with these two fields (next, then previous; null at the ends).
   There is no head record: a list is held by its first element, whose previous is null. */
typedef struct Ellm_Link {
  void *next;
  void *previous;
} Ellm_Link;

/* Position codes of ellm_Add. */
#define ELLM_BEFORE 0 /* insert before the reference */
#define ELLM_AFTER 1  /* insert after the reference */
#define ELLM_APPEND 3 /* append after the last element of the reference's list */

/* Links element (the first of a chain: its previous must be null) and every element that
   follows it into the list of reference, at the position code's place. reference is an element
   (not the address of a list head; see ellm_AddToList for that form); a null reference makes
   the element's chain a list of its own. Returns the first element of the list that now holds
   the element, so `list = ellm_Add(list, ELLM_APPEND, element)` also starts a list. Returns null
   and links nothing for a null element, an element whose previous is set, an element whose chain
   already holds the reference, or an unknown position code. */
void *ellm_Add(void *reference, int32_t position, void *element);

/* Appends element (and whatever follows it) to the list whose first element is stored at
   listHeadAddress (the address of the list pointer, or of any record whose first word holds
   it); when that list is empty the element becomes its first element. position must be
   ELLM_APPEND. EMSC_FALSE (nothing linked) when ellm_Add would refuse or the address is null. */
Emsc_Boolean ellm_AddToList(void *listHeadAddress, void *element, int32_t position);

/* Unlinks element from its neighbours, joining them to each other. The element's own links are
   left as they were (callers clear them); when it was a list's first element the caller moves
   the list to its next. Null is accepted. */
void ellm_Delete(void *element);

TAVIRON_END_DECLS

#endif
