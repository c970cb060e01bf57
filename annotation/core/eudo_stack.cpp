// The undo stack: transactions of undo items, undone newest first with their damaged areas
// united into one box.
//
// Callbacks run while the stack is in a consistent state: a transaction is taken off the stack
// (and an item off its transaction) before anything of it is undone or freed, so a callback that
// pushes onto the stack, undoes or purges it never meets a transaction half freed.
#include <algorithm>
#include <memory>

#include "eant_internal.h"
#include "edlm.h"
#include "egda_pixel.h"
#include "emsc.h"
#include "estr.h"
#include "eudo.h"

namespace lower = taviron::lower;

namespace {

// Lists of pointers: one pointer per item, grown one item at a time.
constexpr int32_t kPointerSize = static_cast<int32_t>(sizeof(void *));
constexpr int32_t kItemsPerBlock = 1;

// The pointer at index of a list of pointers, or null (a failure of the list reads as none).
template <class T> T *PointerAt(Edlm_List *list, int32_t index) {
  if (!list || index < 0) return nullptr;
  lower::CalleeReport inner;
  auto *slot = static_cast<T **>(edlm_GetAddr(list, index, &inner));
  return slot ? *slot : nullptr;
}

int32_t CountOf(const Edlm_List *list) {
  if (!list) return 0;
  lower::CalleeReport inner;
  return std::max(edlm_CountList(list, &inner), 0);
}

// Removes the last pointer of the list and returns it, or null.
template <class T> T *PopPointer(Edlm_List *list) {
  if (!list || CountOf(list) == 0) return nullptr;
  T *value = nullptr;
  lower::CalleeReport inner;
  return edlm_Pop(list, &value, &inner) ? value : nullptr;
}

// Removes the pointer at index and returns it, or null.
template <class T> T *RemovePointer(Edlm_List *list, int32_t index) {
  T *value = PointerAt<T>(list, index);
  if (!value) return nullptr;
  lower::CalleeReport inner;
  return edlm_Delete(list, index, &inner) ? value : nullptr;
}

// The contents function of an item list: the whole item, its undo data first.
void FreeItemSlot(void *slot) { eudo_UndoItemFree(static_cast<Eudo_UndoItem **>(slot)); }

// Merges box into the union: the first corner takes the smaller x and y of both first corners,
// the second corner the larger x and y of both second corners.
void Unite(Evec_Bbox &into, const Evec_Bbox &box) {
  using lower::At;
  At<double>(into, 0, 0) = std::min(At<double>(into, 0, 0), At<double>(box, 0, 0));
  At<double>(into, 1, 0) = std::min(At<double>(into, 1, 0), At<double>(box, 1, 0));
  At<double>(into, 0, 1) = std::max(At<double>(into, 0, 1), At<double>(box, 0, 1));
  At<double>(into, 1, 1) = std::max(At<double>(into, 1, 1), At<double>(box, 1, 1));
}

} // namespace

extern "C" {

Eudo_UndoStack *eudo_UndoStackStartNewTransaction(Eudo_UndoStack *stack, const char *name, int32_t data,
                                                  Eudo_FinishedFunction finishedCallback, Eerr_ErrorReport **err) try {
  static const char *reporter = "eudo_UndoStackStartNewTransaction";
  lower::Clear(err);
  lower::CalleeReport inner;
  if (!stack) {
    stack = edlm_InitList(kPointerSize, kItemsPerBlock, &inner);
    if (!stack) {
      lower::ReportChained(err, inner, reporter, 1, "Error initializing stack");
      return nullptr;
    }
  }
  auto *transaction = static_cast<Eudo_UndoTransaction *>(emsc_HeapMalloc(sizeof(Eudo_UndoTransaction)));
  if (transaction && name) {
    transaction->name = estr_Duplicate(name);
    if (!transaction->name) eudo_UndoTransactionFree(&transaction);
  }
  if (!transaction) {
    lower::Report(err, reporter, 2, "Error allocating undoTransaction");
    return stack;
  }
  transaction->data = data;
  transaction->finishedCallback = finishedCallback;
  transaction->items = edlm_InitList(kPointerSize, kItemsPerBlock, &inner);
  if (!transaction->items) {
    eudo_UndoTransactionFree(&transaction);
    lower::ReportChained(err, inner, reporter, 3, "Error initializing item stack in transaction");
    return stack;
  }
  if (edlm_Add(stack, &transaction, &inner) < 0) {
    eudo_UndoTransactionFree(&transaction);
    lower::ReportChained(err, inner, reporter, 4, "Error pushing new transaction on stack");
  }
  return stack;
} TAVIRON_GUARD(err, stack)

void eudo_UndoStackPush(Eudo_UndoStack *stack, Eudo_UndoFunction undoCallback, void *undoData,
                        Eudo_FreeFunction freeCallback, Eerr_ErrorReport **err) try {
  static const char *reporter = "eudo_UndoStackPush";
  lower::Clear(err);
  if (!stack) {
    lower::Report(err, reporter, 1, "Invalid input undoStack");
    return;
  }
  Eudo_UndoTransaction *top = eudo_UndoStackTop(stack);
  if (!top) {
    lower::Report(err, reporter, 2, "No transactions on stack");
    return;
  }
  auto *item = static_cast<Eudo_UndoItem *>(emsc_HeapMalloc(sizeof(Eudo_UndoItem)));
  if (!item) {
    lower::Report(err, reporter, 3, "Error allocating undoItem");
    return;
  }
  *item = {undoCallback, undoData, freeCallback};
  lower::CalleeReport inner;
  if (edlm_Add(top->items, &item, &inner) < 0) {
    emsc_HeapFree(item); // the undo data stays the caller's
    lower::ReportChained(err, inner, reporter, 4, "Error pushing item on current transaction");
  }
} TAVIRON_GUARD_VOID(err)

void eudo_UndoStackUndoLastTransaction(Eudo_UndoStack *stack, Eerr_ErrorReport **err) try {
  static const char *reporter = "eudo_UndoStackUndoLastTransaction";
  lower::Clear(err);
  Eudo_UndoTransaction *transaction = eudo_UndoStackPop(stack);
  if (!transaction) return;
  // The transaction is off the stack from here on: whatever happens, it is freed at the end, and
  // each item once it is off the transaction.
  struct Owner {
    Eudo_UndoTransaction *&transaction;
    Evec_Bbox *damage = nullptr;
    ~Owner() {
      evec_BboxDelete(damage, nullptr);
      eudo_UndoTransactionFree(&transaction);
    }
  } owner{transaction};
  struct ItemFree {
    void operator()(Eudo_UndoItem *item) const noexcept { eudo_UndoItemFree(&item); }
  };
  while (std::unique_ptr<Eudo_UndoItem, ItemFree> item{eudo_UndoTransactionPop(transaction)}) {
    if (!item->undoCallback) continue;
    lower::CalleeReport inner;
    taviron::eant::BoxPtr box{item->undoCallback(transaction->data, item->undoData, &inner)};
    if (inner) {
      lower::ReportChained(err, inner, reporter, 1, "Error undoing item");
      return;
    }
    if (!box || !taviron::eant::IsBox(box.get())) continue; // nothing that can be read as an area
    if (!owner.damage)
      owner.damage = box.release();
    else
      Unite(*owner.damage, *box);
  }
  if (transaction->finishedCallback) {
    lower::CalleeReport inner;
    transaction->finishedCallback(transaction->data, owner.damage, &inner);
    if (inner) lower::ReportCallee(err, inner, reporter, 2, "finishedUndoCallback");
  }
} TAVIRON_GUARD_VOID(err)

Eudo_UndoTransaction *eudo_UndoStackPop(Eudo_UndoStack *stack) try {
  return PopPointer<Eudo_UndoTransaction>(stack);
} TAVIRON_GUARD_QUIET(nullptr)

Eudo_UndoTransaction *eudo_UndoStackTop(Eudo_UndoStack *stack) try {
  return PointerAt<Eudo_UndoTransaction>(stack, CountOf(stack) - 1);
} TAVIRON_GUARD_QUIET(nullptr)

int32_t eudo_UndoStackCount(Eudo_UndoStack *stack) try {
  return CountOf(stack);
} TAVIRON_GUARD_QUIET(0)

Eudo_UndoTransaction *eudo_UndoStackTransaction(Eudo_UndoStack *stack, int32_t index) try {
  return PointerAt<Eudo_UndoTransaction>(stack, index);
} TAVIRON_GUARD_QUIET(nullptr)

void eudo_UndoStackDeleteTransaction(Eudo_UndoStack *stack, int32_t index) try {
  Eudo_UndoTransaction *transaction = RemovePointer<Eudo_UndoTransaction>(stack, index);
  eudo_UndoTransactionFree(&transaction);
} TAVIRON_GUARD_QUIET_VOID

void eudo_UndoStackPurge(Eudo_UndoStack *stack, int32_t data) try {
  // From the top down, so that removing one never skips another; the count is read again at each
  // step because a free callback may change the stack.
  for (int32_t index = CountOf(stack) - 1; index >= 0; --index) {
    index = std::min(index, CountOf(stack) - 1);
    if (index < 0) break;
    Eudo_UndoTransaction *transaction = PointerAt<Eudo_UndoTransaction>(stack, index);
    if (transaction && transaction->data == data) eudo_UndoStackDeleteTransaction(stack, index);
  }
} TAVIRON_GUARD_QUIET_VOID

void eudo_UndoStackPurgeAll(Eudo_UndoStack *stack) try {
  while (Eudo_UndoTransaction *transaction = eudo_UndoStackPop(stack)) eudo_UndoTransactionFree(&transaction);
} TAVIRON_GUARD_QUIET_VOID

Eudo_UndoItem *eudo_UndoTransactionPop(Eudo_UndoTransaction *transaction) try {
  return transaction ? PopPointer<Eudo_UndoItem>(transaction->items) : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)

int32_t eudo_UndoTransactionCount(Eudo_UndoTransaction *transaction) try {
  return transaction ? CountOf(transaction->items) : 0;
} TAVIRON_GUARD_QUIET(0)

Eudo_UndoItem *eudo_UndoTransactionItem(Eudo_UndoTransaction *transaction, int32_t index) try {
  return transaction ? PointerAt<Eudo_UndoItem>(transaction->items, index) : nullptr;
} TAVIRON_GUARD_QUIET(nullptr)

void eudo_UndoTransactionDeleteItem(Eudo_UndoTransaction *transaction, int32_t index) try {
  if (!transaction) return;
  Eudo_UndoItem *item = RemovePointer<Eudo_UndoItem>(transaction->items, index);
  eudo_UndoItemFree(&item);
} TAVIRON_GUARD_QUIET_VOID

void eudo_UndoTransactionFree(Eudo_UndoTransaction **transaction) try {
  if (!transaction || !*transaction) return;
  Eudo_UndoTransaction *freed = *transaction;
  *transaction = nullptr;
  emsc_HeapFree(freed->name);
  edlm_FreeListAndContents(freed->items, &FreeItemSlot);
  emsc_HeapFree(freed);
} TAVIRON_GUARD_QUIET_VOID

void eudo_UndoItemFree(Eudo_UndoItem **item) try {
  if (!item || !*item) return;
  Eudo_UndoItem *freed = *item;
  *item = nullptr;
  eudo_UndoItemDeleteContents(&freed);
  emsc_HeapFree(freed);
} TAVIRON_GUARD_QUIET_VOID

void eudo_UndoItemDeleteContents(Eudo_UndoItem **item) try {
  if (!item || !*item) return;
  Eudo_UndoItem &contents = **item;
  Eudo_FreeFunction freeCallback = contents.freeCallback;
  void *undoData = contents.undoData;
  contents.freeCallback = nullptr;
  contents.undoData = nullptr;
  if (freeCallback) freeCallback(undoData);
} TAVIRON_GUARD_QUIET_VOID

} // extern "C"
