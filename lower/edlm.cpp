// Dynamic lists: items live in blocks of a fixed number of items, never moved by growth, so item
// addresses stay valid while the list only grows. The table of block pointers is what grows.
#include "edlm.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "internal.h"

namespace lower = taviron::lower;

struct Edlm_List {
  std::size_t itemSize;
  int32_t perBlock;
  int32_t count;
  int32_t blockCount;    // blocks allocated
  int32_t blockCapacity; // room in the table of blocks
  unsigned char **blocks;
};

namespace {

constexpr int32_t kStackItemsPerBlock = 16;

unsigned char *Slot(const Edlm_List *list, int32_t index) {
  return list->blocks[index / list->perBlock] +
         static_cast<std::size_t>(index % list->perBlock) * list->itemSize;
}

Edlm_List *Create(const char *who, int32_t itemSize, int32_t itemsPerBlock, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (itemSize < 1) {
    lower::Report(err, who, 1, "Invalid item size %d", itemSize);
    return nullptr;
  }
  if (itemsPerBlock < 0) {
    lower::Report(err, who, 2, "Invalid number of items per block %d", itemsPerBlock);
    return nullptr;
  }
  auto *list = static_cast<Edlm_List *>(emsc_HeapMalloc(sizeof(Edlm_List)));
  if (!list) {
    lower::Report(err, who, 3, "Error allocating list");
    return nullptr;
  }
  list->itemSize = static_cast<std::size_t>(itemSize);
  list->perBlock = itemsPerBlock == 0 ? 1 : itemsPerBlock;
  return list;
}

// Makes room for one more item; false when the memory is not to be had.
bool Reserve(Edlm_List *list) {
  if (list->count < list->blockCount * static_cast<int64_t>(list->perBlock)) return true;
  if (list->blockCount == list->blockCapacity) {
    const int64_t doubled = list->blockCapacity == 0 ? 4 : int64_t{list->blockCapacity} * 2;
    const auto capacity = static_cast<int32_t>(
        doubled < std::numeric_limits<int32_t>::max() ? doubled : std::numeric_limits<int32_t>::max());
    auto *blocks = static_cast<unsigned char **>(
        emsc_HeapRealloc(list->blocks, sizeof(unsigned char *) * static_cast<std::size_t>(capacity)));
    if (!blocks) return false;
    list->blocks = blocks;
    list->blockCapacity = capacity;
  }
  auto *block = static_cast<unsigned char *>(
      emsc_HeapMalloc(list->itemSize * static_cast<std::size_t>(list->perBlock)));
  if (!block) return false;
  list->blocks[list->blockCount++] = block;
  return true;
}

int32_t Append(const char *who, Edlm_List *list, const void *item, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!list) {
    lower::Report(err, who, 1, "Invalid input list");
    return -1;
  }
  if (!item) {
    lower::Report(err, who, 2, "Invalid input item");
    return -1;
  }
  if (list->count == std::numeric_limits<int32_t>::max()) {
    lower::Report(err, who, 3, "List is full");
    return -1;
  }
  if (!Reserve(list)) {
    lower::Report(err, who, 4, "Error allocating list storage");
    return -1;
  }
  // A source inside this list stays valid: growth never moves items.
  std::memcpy(Slot(list, list->count), item, list->itemSize);
  return list->count++;
}

// Checks the list and the index; reports code 1 / 2 under `who`.
bool CheckIndex(const char *who, const Edlm_List *list, int32_t index, Eerr_ErrorReport **err) {
  if (!list) {
    lower::Report(err, who, 1, "Invalid input list");
    return false;
  }
  if (index < 0 || index >= list->count) {
    lower::Report(err, who, 2, "Invalid index %d (the list holds %d items)", index, list->count);
    return false;
  }
  return true;
}

// Removes item index, moving the items after it down one place.
void Remove(Edlm_List *list, int32_t index) {
  const int32_t last = list->count - 1;
  int32_t i = index;
  while (i < last) {
    const int32_t blockEnd = (i / list->perBlock + 1) * list->perBlock - 1;
    const int32_t lastHere = blockEnd < last ? blockEnd : last;
    if (lastHere > i)
      std::memmove(Slot(list, i), Slot(list, i + 1), static_cast<std::size_t>(lastHere - i) * list->itemSize);
    if (lastHere == last) break;
    std::memcpy(Slot(list, blockEnd), Slot(list, blockEnd + 1), list->itemSize);
    i = blockEnd + 1;
  }
  std::memset(Slot(list, last), 0, list->itemSize);
  list->count = last;
}

} // namespace

extern "C" {

Edlm_List *edlm_InitList(int32_t itemSize, int32_t itemsPerBlock, Eerr_ErrorReport **err) try {
  return Create("edlm_InitList", itemSize, itemsPerBlock, err);
} TAVIRON_GUARD(err, nullptr)

Edlm_List *edlm_NewList(int32_t itemSize, int32_t itemsPerBlock, Eerr_ErrorReport **err) try {
  return Create("edlm_NewList", itemSize, itemsPerBlock, err);
} TAVIRON_GUARD(err, nullptr)

int32_t edlm_Add(Edlm_List *list, const void *item, Eerr_ErrorReport **err) try {
  return Append("edlm_Add", list, item, err);
} TAVIRON_GUARD(err, -1)

int32_t edlm_AddIfUnique(Edlm_List *list, const void *item, Edlm_EqualFunction equal,
                         Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!list || !item || !equal) {
    lower::Report(err, "edlm_AddIfUnique", 1, "Invalid input %s",
                  !list ? "list" : !item ? "item" : "equality function");
    return -1;
  }
  for (int32_t i = 0; i < list->count; ++i)
    if (equal(Slot(list, i), item)) return i;
  lower::CalleeReport added;
  const int32_t index = Append("edlm_Add", list, item, &added);
  if (index < 0) {
    lower::ReportChained(err, added, "edlm_AddIfUnique", 2, "Error returned from edlm_Add");
  }
  return index;
} TAVIRON_GUARD(err, -1)

int32_t edlm_CountList(const Edlm_List *list, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!list) {
    lower::Report(err, "edlm_CountList", 1, "Invalid input list");
    return -1;
  }
  return list->count;
} TAVIRON_GUARD(err, -1)

void *edlm_GetAddr(Edlm_List *list, int32_t index, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!CheckIndex("edlm_GetAddr", list, index, err)) return nullptr;
  return Slot(list, index);
} TAVIRON_GUARD(err, nullptr)

Emsc_Boolean edlm_Element(const Edlm_List *list, int32_t index, void *item, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!CheckIndex("edlm_Element", list, index, err)) return EMSC_FALSE;
  if (!item) {
    lower::Report(err, "edlm_Element", 3, "Invalid output item");
    return EMSC_FALSE;
  }
  std::memmove(item, Slot(list, index), list->itemSize);
  return EMSC_TRUE;
} TAVIRON_GUARD(err, EMSC_FALSE)

Emsc_Boolean edlm_Replace(Edlm_List *list, int32_t index, const void *item, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!CheckIndex("edlm_Replace", list, index, err)) return EMSC_FALSE;
  if (!item) {
    lower::Report(err, "edlm_Replace", 3, "Invalid input item");
    return EMSC_FALSE;
  }
  std::memmove(Slot(list, index), item, list->itemSize);
  return EMSC_TRUE;
} TAVIRON_GUARD(err, EMSC_FALSE)

Emsc_Boolean edlm_Delete(Edlm_List *list, int32_t index, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!CheckIndex("edlm_Delete", list, index, err)) return EMSC_FALSE;
  Remove(list, index);
  return EMSC_TRUE;
} TAVIRON_GUARD(err, EMSC_FALSE)

void *edlm_Consolidate(const Edlm_List *list, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!list) {
    lower::Report(err, "edlm_Consolidate", 1, "Invalid input list");
    return nullptr;
  }
  const std::size_t total = list->itemSize * static_cast<std::size_t>(list->count);
  auto *array = static_cast<unsigned char *>(emsc_HeapMalloc(total > 0 ? total : list->itemSize));
  if (!array) {
    lower::Report(err, "edlm_Consolidate", 2, "Error allocating array of %d items", list->count);
    return nullptr;
  }
  const std::size_t blockBytes = list->itemSize * static_cast<std::size_t>(list->perBlock);
  for (std::size_t done = 0, block = 0; done < total; done += blockBytes, ++block)
    std::memcpy(array + done, list->blocks[block], total - done < blockBytes ? total - done : blockBytes);
  return array;
} TAVIRON_GUARD(err, nullptr)

void edlm_FreeList(Edlm_List *list) try { edlm_FreeListAndContents(list, nullptr); } TAVIRON_GUARD_QUIET_VOID

void edlm_FreeListAndContents(Edlm_List *list, Edlm_FreeFunction freeContents) try {
  if (!list) return;
  if (freeContents)
    for (int32_t i = 0; i < list->count; ++i) freeContents(Slot(list, i));
  for (int32_t b = 0; b < list->blockCount; ++b) emsc_HeapFree(list->blocks[b]);
  emsc_HeapFree(list->blocks);
  emsc_HeapFree(list);
} TAVIRON_GUARD_QUIET_VOID

Edlm_List *edlm_NewStack(int32_t itemSize, Eerr_ErrorReport **err) try {
  return Create("edlm_NewStack", itemSize, kStackItemsPerBlock, err);
} TAVIRON_GUARD(err, nullptr)

int32_t edlm_Push(Edlm_List *stack, const void *item, Eerr_ErrorReport **err) try {
  return Append("edlm_Push", stack, item, err);
} TAVIRON_GUARD(err, -1)

Emsc_Boolean edlm_Pop(Edlm_List *stack, void *item, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!stack) {
    lower::Report(err, "edlm_Pop", 1, "Invalid input stack");
    return EMSC_FALSE;
  }
  if (stack->count == 0) {
    lower::Report(err, "edlm_Pop", 2, "Stack is empty");
    return EMSC_FALSE;
  }
  if (item) std::memmove(item, Slot(stack, stack->count - 1), stack->itemSize);
  Remove(stack, stack->count - 1);
  return EMSC_TRUE;
} TAVIRON_GUARD(err, EMSC_FALSE)

} // extern "C"
