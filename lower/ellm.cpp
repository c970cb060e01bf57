// Linked lists through the leading next/previous fields of the records.
#include "ellm.h"
#include "guard.h"

namespace {

Ellm_Link *Link(void *element) { return static_cast<Ellm_Link *>(element); }

void *First(void *element) {
  while (Link(element)->previous) element = Link(element)->previous;
  return element;
}

void *Last(void *element) {
  while (Link(element)->next) element = Link(element)->next;
  return element;
}

} // namespace

extern "C" {

void *ellm_Add(void *reference, int32_t position, void *element) try {
  if (!element || Link(element)->previous) return nullptr;
  if (position != ELLM_BEFORE && position != ELLM_AFTER && position != ELLM_APPEND) return nullptr;
  if (!reference) return element;
  // The element heads its own chain; if it also heads the reference's list, linking it would
  // close a loop.
  void *head = First(reference);
  if (head == element) return nullptr;
  void *tail = Last(element);
  switch (position) {
  case ELLM_BEFORE: {
    void *before = Link(reference)->previous;
    Link(element)->previous = before;
    Link(tail)->next = reference;
    Link(reference)->previous = tail;
    if (before) Link(before)->next = element;
    return before ? head : element;
  }
  case ELLM_AFTER: {
    void *after = Link(reference)->next;
    Link(reference)->next = element;
    Link(element)->previous = reference;
    Link(tail)->next = after;
    if (after) Link(after)->previous = tail;
    return head;
  }
  default: {
    void *last = Last(reference);
    Link(last)->next = element;
    Link(element)->previous = last;
    return head;
  }
  }
} TAVIRON_GUARD_QUIET(nullptr)

Emsc_Boolean ellm_AddToList(void *listHeadAddress, void *element, int32_t position) try {
  if (!listHeadAddress || position != ELLM_APPEND) return EMSC_FALSE;
  void **head = static_cast<void **>(listHeadAddress);
  void *first = ellm_Add(*head, position, element);
  if (!first) return EMSC_FALSE;
  *head = first;
  return EMSC_TRUE;
} TAVIRON_GUARD_QUIET(EMSC_FALSE)

void ellm_Delete(void *element) try {
  if (!element) return;
  void *previous = Link(element)->previous;
  void *next = Link(element)->next;
  if (previous) Link(previous)->next = next;
  if (next) Link(next)->previous = previous;
} TAVIRON_GUARD_QUIET_VOID

} // extern "C"
