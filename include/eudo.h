/* The eudo package: a general undo stack of transactions.

   A transaction is one user-level edit: a name, a data word of the caller's, an optional finished
   callback and a list of undo items. An item is an opaque record (its undo data) with the
   callback that undoes it and the callback that frees it. Undoing the last transaction runs the
   undo callbacks of its items newest first, unites the areas they report damaged into one box,
   hands that box to the transaction's finished callback and frees everything. There is no redo.

   The stack is a dynamic list of the lower layer (edlm) holding transaction pointers: index 0 is
   the oldest transaction, the last index the top. It is made by the first
   eudo_UndoStackStartNewTransaction given a null stack and owns its transactions; its owner
   frees it with eudo_UndoStackPurgeAll followed by edlm_FreeList. A transaction owns its items
   and an item its undo data. Every free callback runs exactly once for each item that is freed,
   undone or not.

   Only the first three operations take an error slot (set to null first; a null slot is
   accepted). The lookups, counts, pops and purges report nothing: a failure inside them reads as
   "none" (null, 0 or no action). Records and their names come from the lower layer's heap. The
   stack is not safe for concurrent use. */
#ifndef TAVIRON_EUDO_H
#define TAVIRON_EUDO_H

#include <stdint.h>

#include "edlm.h"
#include "eerr.h"
#include "evec.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* Undoes one item: called with the transaction's data word and the item's undo data. Returns the
   damaged area as a new box that the caller owns from then on, or null when nothing was damaged.
   A report left in err is a failure. */
typedef Evec_Bbox *(*Eudo_UndoFunction)(int32_t data, void *undoData, Eerr_ErrorReport **err);
/* Frees an item's undo data. */
typedef void (*Eudo_FreeFunction)(void *undoData);
/* Called once a transaction has been undone, with its data word and the union of the damaged
   areas (null when no item reported one). The box stays the stack's and is deleted after the
   call. A report left in err is a failure. */
typedef void (*Eudo_FinishedFunction)(int32_t data, Evec_Bbox *box, Eerr_ErrorReport **err);

typedef struct {
  Eudo_UndoFunction undoCallback; /* null: the item has nothing to undo */
  void *undoData;                 /* owned by the item */
  Eudo_FreeFunction freeCallback; /* null: the undo data needs no freeing */
} Eudo_UndoItem;

typedef struct {
  char *name;                             /* a heap copy of the caller's text (null for null) */
  int32_t data;                           /* handed to every callback; the key of the purge */
  Eudo_FinishedFunction finishedCallback; /* or null */
  Edlm_List *items;                       /* Eudo_UndoItem pointers; the last is the newest */
} Eudo_UndoTransaction;

/* The stack: an edlm list of Eudo_UndoTransaction pointers (index 0 the oldest). */
typedef Edlm_List Eudo_UndoStack;

/* Pushes a new empty transaction on top of the stack (made when null) and returns the stack, the
   one made or given, in every case (null only when none could be made). Reports: 1 "Error
   initializing stack", 2 "Error allocating undoTransaction", 3 "Error initializing item stack in
   transaction", 4 "Error pushing new transaction on stack"; the transaction is not pushed then. */
Eudo_UndoStack *eudo_UndoStackStartNewTransaction(Eudo_UndoStack *stack, const char *name, int32_t data,
                                                  Eudo_FinishedFunction finishedCallback, Eerr_ErrorReport **err);
/* Appends an item to the top transaction. Reports: 1 "Invalid input undoStack", 2 "No
   transactions on stack", 3 "Error allocating undoItem", 4 "Error pushing item on current
   transaction"; after a failure the undo data is still the caller's. */
void eudo_UndoStackPush(Eudo_UndoStack *stack, Eudo_UndoFunction undoCallback, void *undoData,
                        Eudo_FreeFunction freeCallback, Eerr_ErrorReport **err);
/* Pops the top transaction and undoes its items, newest first, uniting their boxes; then calls
   its finished callback with the union (or null) and frees the transaction. A null or empty
   stack does nothing and reports nothing. An item whose undo fails stops the undo (1 "Error
   undoing item", above the item's report): the items not yet undone are freed without being
   undone and the finished callback is not called. A failing finished callback is reported as
   2 "Error returned from finishedUndoCallback". The transaction is gone from the stack in every
   case. A box an undo callback returns that is not a 2 x 2 f64 box is deleted unread. */
void eudo_UndoStackUndoLastTransaction(Eudo_UndoStack *stack, Eerr_ErrorReport **err);

/* Removes the top transaction and returns it (the caller owns it: eudo_UndoTransactionFree), or
   null. */
Eudo_UndoTransaction *eudo_UndoStackPop(Eudo_UndoStack *stack);
/* The top transaction, left on the stack, or null. */
Eudo_UndoTransaction *eudo_UndoStackTop(Eudo_UndoStack *stack);
/* The number of transactions; 0 for null. */
int32_t eudo_UndoStackCount(Eudo_UndoStack *stack);
/* The transaction at index (0 the oldest), or null out of range. */
Eudo_UndoTransaction *eudo_UndoStackTransaction(Eudo_UndoStack *stack, int32_t index);
/* Removes the transaction at index from the stack and frees it; nothing out of range. */
void eudo_UndoStackDeleteTransaction(Eudo_UndoStack *stack, int32_t index);
/* Removes and frees every transaction whose data word is data, from the top down. */
void eudo_UndoStackPurge(Eudo_UndoStack *stack, int32_t data);
/* Removes and frees every transaction, top first; the empty stack remains. */
void eudo_UndoStackPurgeAll(Eudo_UndoStack *stack);

/* Removes the newest item of the transaction and returns it (the caller owns it:
   eudo_UndoItemFree), or null. */
Eudo_UndoItem *eudo_UndoTransactionPop(Eudo_UndoTransaction *transaction);
/* The number of items; 0 for null. */
int32_t eudo_UndoTransactionCount(Eudo_UndoTransaction *transaction);
/* The item at index (0 the oldest), or null out of range. */
Eudo_UndoItem *eudo_UndoTransactionItem(Eudo_UndoTransaction *transaction, int32_t index);
/* Removes the item at index and frees it (its free callback first); nothing out of range. */
void eudo_UndoTransactionDeleteItem(Eudo_UndoTransaction *transaction, int32_t index);
/* Frees the name, every item (its free callback first), the item list and the transaction, and
   sets *transaction to null; null and a null pointer are accepted. */
void eudo_UndoTransactionFree(Eudo_UndoTransaction **transaction);
/* Calls the free callback with the undo data, frees the item and sets *item to null; null and a
   null pointer are accepted. */
void eudo_UndoItemFree(Eudo_UndoItem **item);
/* Calls the free callback with the undo data only, leaving the item (now without undo data or
   free callback, so that its data is never freed twice) to the caller. */
void eudo_UndoItemDeleteContents(Eudo_UndoItem **item);

TAVIRON_END_DECLS

#endif
