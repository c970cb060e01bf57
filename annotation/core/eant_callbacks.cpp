// Element event callbacks: eight lists of registrations per annotation info, one per event, each
// with the same five operations (add, set do-call, do, remove one, remove all).
//
// A walk over a list (the do operation) may run callbacks that add or remove registrations of
// the same list, clear it, or free it. Removals made while a walk of the list runs only mark the
// registration (`removed`), and a freed list is handed to the walk, so a walk never steps onto a
// freed registration; what was removed is freed when the outermost walk of the list ends.
#include <vector>

#include "eant_internal.h"
#include "ellm.h"
#include "emsc.h"

namespace lower = taviron::lower;

namespace {

// A walk in progress on this thread (callbacks run on the caller's thread).
struct Walk {
  Eant_Callback **slot;            // the list's head slot in its annotation info
  int32_t depth;                   // nested walks of the same list
  Eant_Callback *orphans;          // a list freed while it was walked; freed at the end
};
thread_local std::vector<Walk> walks;

Walk *ActiveWalk(Eant_Callback **slot) {
  for (Walk &walk : walks)
    if (walk.slot == slot) return &walk;
  return nullptr;
}

void FreeChain(Eant_Callback *at) {
  while (at) {
    Eant_Callback *next = at->next;
    emsc_HeapFree(at);
    at = next;
  }
}

void Unlink(Eant_Callback **slot, Eant_Callback *registration) {
  if (*slot == registration) *slot = registration->next;
  ellm_Delete(registration);
  emsc_HeapFree(registration);
}

// Frees the registrations marked removed (only while no walk of the list runs).
void Sweep(Eant_Callback **slot) {
  for (Eant_Callback *at = *slot; at;) {
    Eant_Callback *next = at->next;
    if (at->removed) Unlink(slot, at);
    at = next;
  }
}

Eant_Callback *Find(Eant_Callback *list, Eant_CallbackFunction callback, void *userData) {
  for (Eant_Callback *at = list; at; at = at->next)
    if (!at->removed && at->callback == callback && at->userData == userData) return at;
  return nullptr;
}

// The names of one event's operations and the failure text of its do operation.
struct EventNames {
  const char *add;
  const char *setDocall;
  const char *run;
  const char *removeOne;
  const char *removeAll;
  const char *callbackName;
};

Eant_Callback **Slot(Eant_AnnotationInfo *info, Eant_CallbackEvent event) { return &info->callbacks[event]; }

void Add(const EventNames &names, Eant_CallbackEvent event, Eant_AnnotationInfo *info, Eant_CallbackFunction callback,
         void *userData, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!info) {
    lower::Report(err, names.add, 1, "Invalid input antInfo");
    return;
  }
  Eant_Callback **slot = Slot(info, event);
  if (!ActiveWalk(slot)) Sweep(slot);
  if (Find(*slot, callback, userData)) return;
  lower::CalleeReport inner;
  Eant_Callback *registration = eant_CallbackCreate(&inner);
  if (!registration) {
    lower::ReportCallee(err, inner, names.add, 2, "eant_CallbackCreate");
    return;
  }
  registration->callback = callback;
  registration->userData = userData;
  if (!*slot)
    *slot = registration;
  else
    ellm_Add(*slot, ELLM_APPEND, registration);
}

void SetDocall(const EventNames &names, Eant_CallbackEvent event, Eant_AnnotationInfo *info, int32_t value,
               Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!info) {
    lower::Report(err, names.setDocall, 1, "Invalid input antInfo");
    return;
  }
  for (Eant_Callback *at = *Slot(info, event); at; at = at->next) at->doCall = value;
}

void Run(const EventNames &names, Eant_CallbackEvent event, Eant_AnnotationInfo *info, void *object,
         Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!info) {
    lower::Report(err, names.run, 1, "Invalid input antInfo");
    return;
  }
  Eant_Callback **slot = Slot(info, event);
  if (Walk *walk = ActiveWalk(slot)) {
    ++walk->depth;
  } else {
    Sweep(slot);
    walks.push_back({slot, 1, nullptr});
  }
  // Registrations are only marked while the walk runs, so `at` stays valid after its call.
  for (Eant_Callback *at = *slot; at; at = at->next) {
    if (at->removed || !at->callback || at->doCall != 1) continue;
    lower::CalleeReport inner;
    at->callback(object, at->userData, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, names.run, 2, names.callbackName);
      break;
    }
  }
  Walk *walk = ActiveWalk(slot);
  if (--walk->depth > 0) return;
  Eant_Callback *orphans = walk->orphans;
  const bool freed = orphans != nullptr;
  walks.erase(walks.begin() + (walk - walks.data()));
  FreeChain(orphans);
  if (!freed) Sweep(slot); // a freed list may have gone with its info
}

void RemoveOne(const EventNames &names, Eant_CallbackEvent event, Eant_AnnotationInfo *info,
               Eant_CallbackFunction callback, void *userData, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!info) {
    lower::Report(err, names.removeOne, 1, "Invalid input antInfo");
    return;
  }
  Eant_Callback **slot = Slot(info, event);
  const bool walking = ActiveWalk(slot) != nullptr;
  if (!walking) Sweep(slot);
  Eant_Callback *found = Find(*slot, callback, userData);
  if (!found) {
    lower::Report(err, names.removeOne, 2, "callback not found");
    return;
  }
  if (walking)
    found->removed = 1;
  else
    Unlink(slot, found);
}

void RemoveAll(const EventNames &names, Eant_CallbackEvent event, Eant_AnnotationInfo *info, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!info) {
    lower::Report(err, names.removeAll, 1, "Invalid input antInfo");
    return;
  }
  Eant_Callback **slot = Slot(info, event);
  if (ActiveWalk(slot)) {
    for (Eant_Callback *at = *slot; at; at = at->next) at->removed = 1;
    return;
  }
  eant_CallbackFree(slot);
}

} // namespace

extern "C" {

Eant_Callback *eant_CallbackCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *registration = lower::HeapNew<Eant_Callback>();
  if (!registration) {
    lower::Report(err, "eant_CallbackCreate", 1, "Error allocating callback");
    return nullptr;
  }
  registration->doCall = 1;
  return registration;
} TAVIRON_GUARD(err, nullptr)

void eant_CallbackFree(Eant_Callback **list) try {
  if (!list) return;
  if (Walk *walk = ActiveWalk(list)) {
    // The list is being walked: the walk frees it when it ends.
    for (Eant_Callback *at = *list; at; at = at->next) at->removed = 1;
    if (*list) {
      Eant_Callback *last = *list;
      while (last->next) last = last->next;
      last->next = walk->orphans;
      if (walk->orphans) walk->orphans->previous = last;
      walk->orphans = *list;
    }
    *list = nullptr;
    return;
  }
  FreeChain(*list);
  *list = nullptr;
} TAVIRON_GUARD_QUIET_VOID

} // extern "C"

// The names of each event's operations and of its callbacks in the do operation's failure.
#define TAVIRON_EANT_EVENT(Event, RemoveOne, callbackName)                                          \
  constexpr EventNames k##Event{"eant_Add" #Event "Callback", "eant_SetDocallFor" #Event "Callbacks", \
                                "eant_Do" #Event "Callbacks", #RemoveOne, "eant_Remove" #Event "Callback", \
                                callbackName};
namespace {
TAVIRON_EANT_EVENT(ElementCreated, eant_RemoveAnElementCreatedCallback, "elementCreatedCB")
TAVIRON_EANT_EVENT(ElementSelected, eant_RemoveAnElementSelectedCallback, "elementSelectedCB")
TAVIRON_EANT_EVENT(ElementDeselected, eant_RemoveAnElementDeselectedCallback, "elementDeselectedCB")
TAVIRON_EANT_EVENT(ElementMoved, eant_RemoveAnElementMovedCallback, "elementMovedCB")
TAVIRON_EANT_EVENT(ElementModified, eant_RemoveAnElementModifiedCallback, "elementModifiedCB")
TAVIRON_EANT_EVENT(ElementCut, eant_RemoveAnElementCutCallback, "elementCutCB")
TAVIRON_EANT_EVENT(ElementListModified, eant_RemoveAnElementListModifiedCallback, "elementListModifiedCB")
TAVIRON_EANT_EVENT(LayerClosed, eant_RemoveALayerClosedCallback, "layerClosedCB")
} // namespace
#undef TAVIRON_EANT_EVENT

// The five exported operations of one event.
#define TAVIRON_EANT_CALLBACKS(Event, RemoveOneName, code)                                          \
  void eant_Add##Event##Callback(Eant_AnnotationInfo *info, Eant_CallbackFunction callback, void *userData, \
                                 Eerr_ErrorReport **err) try {                                      \
    Add(k##Event, code, info, callback, userData, err);                                             \
  } TAVIRON_GUARD_VOID(err)                                                                         \
  void eant_SetDocallFor##Event##Callbacks(Eant_AnnotationInfo *info, int32_t value,                \
                                           Eerr_ErrorReport **err) try {                            \
    SetDocall(k##Event, code, info, value, err);                                                    \
  } TAVIRON_GUARD_VOID(err)                                                                         \
  void eant_Do##Event##Callbacks(Eant_AnnotationInfo *info, void *object, Eerr_ErrorReport **err) try { \
    Run(k##Event, code, info, object, err);                                                         \
  } TAVIRON_GUARD_VOID(err)                                                                         \
  void RemoveOneName(Eant_AnnotationInfo *info, Eant_CallbackFunction callback, void *userData,     \
                     Eerr_ErrorReport **err) try {                                                  \
    RemoveOne(k##Event, code, info, callback, userData, err);                                       \
  } TAVIRON_GUARD_VOID(err)                                                                         \
  void eant_Remove##Event##Callback(Eant_AnnotationInfo *info, Eerr_ErrorReport **err) try {        \
    RemoveAll(k##Event, code, info, err);                                                           \
  } TAVIRON_GUARD_VOID(err)

extern "C" {
TAVIRON_EANT_CALLBACKS(ElementCreated, eant_RemoveAnElementCreatedCallback, EANT_ELEMENT_CREATED)
TAVIRON_EANT_CALLBACKS(ElementSelected, eant_RemoveAnElementSelectedCallback, EANT_ELEMENT_SELECTED)
TAVIRON_EANT_CALLBACKS(ElementDeselected, eant_RemoveAnElementDeselectedCallback, EANT_ELEMENT_DESELECTED)
TAVIRON_EANT_CALLBACKS(ElementMoved, eant_RemoveAnElementMovedCallback, EANT_ELEMENT_MOVED)
TAVIRON_EANT_CALLBACKS(ElementModified, eant_RemoveAnElementModifiedCallback, EANT_ELEMENT_MODIFIED)
TAVIRON_EANT_CALLBACKS(ElementCut, eant_RemoveAnElementCutCallback, EANT_ELEMENT_CUT)
TAVIRON_EANT_CALLBACKS(ElementListModified, eant_RemoveAnElementListModifiedCallback, EANT_ELEMENT_LIST_MODIFIED)
TAVIRON_EANT_CALLBACKS(LayerClosed, eant_RemoveALayerClosedCallback, EANT_LAYER_CLOSED)
} // extern "C"
#undef TAVIRON_EANT_CALLBACKS
