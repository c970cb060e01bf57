// 8-bit strings and string lists.
#include "estr.h"

#include <cctype>
#include <cstring>

#include "emsc.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

// Frees the strings of a list and its array, leaving an empty list.
void EmptyList(Estr_StringList *list) {
  for (int32_t i = 0; i < list->count; ++i) emsc_HeapFree(list->strings[i]);
  emsc_HeapFree(list->strings);
  list->strings = nullptr;
  list->count = 0;
}

// Fills an empty list with copies of count strings; false (list left empty) when out of memory.
bool FillList(Estr_StringList *list, int32_t count, const char *const *strings) {
  if (count == 0) return true;
  list->strings = static_cast<char **>(emsc_HeapMalloc(sizeof(char *) * static_cast<size_t>(count)));
  if (!list->strings) return false;
  list->count = count;
  for (int32_t i = 0; i < count; ++i) {
    if (strings[i] && !(list->strings[i] = estr_Duplicate(strings[i]))) {
      EmptyList(list);
      return false;
    }
  }
  return true;
}

} // namespace

extern "C" {

char *estr_Duplicate(const char *text) {
  if (!text) return nullptr;
  return lower::HeapCopy(text, std::strlen(text));
}

int estr_Eqic(const char *a, const char *b) {
  if (!a || !b) return a == b;
  for (; *a && *b; ++a, ++b)
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
      return 0;
  return *a == *b;
}

Estr_StringList *estr_StringListCreate(int32_t count, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (count < 0) {
    lower::Report(err, "estr_StringListCreate", 1, "Invalid string count %d", count);
    return nullptr;
  }
  auto *list = static_cast<Estr_StringList *>(emsc_HeapMalloc(sizeof(Estr_StringList)));
  if (list && count > 0) {
    list->strings = static_cast<char **>(emsc_HeapMalloc(sizeof(char *) * static_cast<size_t>(count)));
    if (!list->strings) emsc_HeapFreeEx(&list);
  }
  if (!list) {
    lower::Report(err, "estr_StringListCreate", 2, "Error allocating string list");
    return nullptr;
  }
  list->count = count;
  return list;
}

void estr_StringListDelete(Estr_StringList *list, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!list) return;
  EmptyList(list);
  emsc_HeapFree(list);
}

Estr_StringList *estr_StringListCopy(const Estr_StringList *list, Estr_StringList *destination,
                                     Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!list) return nullptr;
  if (list == destination) return destination;
  Estr_StringList *target = destination;
  if (!target) target = static_cast<Estr_StringList *>(emsc_HeapMalloc(sizeof(Estr_StringList)));
  else EmptyList(target);
  if (!target || !FillList(target, list->count, list->strings)) {
    if (target != destination) emsc_HeapFree(target);
    lower::Report(err, "estr_StringListCopy", 1, "Error allocating string list");
    return nullptr;
  }
  return target;
}

Estr_StringList *estr_StringListAppend(Estr_StringList *list, const char *text,
                                       Eerr_ErrorReport **err) {
  lower::Clear(err);
  Estr_StringList *target = list;
  if (!target) {
    target = estr_StringListCreate(0, err);
    if (!target) {
      lower::Report(err, "estr_StringListAppend", 1, "Error returned from estr_StringListCreate");
      return nullptr;
    }
  }
  char *copy = estr_Duplicate(text);
  char **grown = (text && !copy) ? nullptr
                                 : static_cast<char **>(emsc_HeapRealloc(
                                       target->strings, sizeof(char *) * (static_cast<size_t>(target->count) + 1)));
  if (!grown) {
    emsc_HeapFree(copy);
    if (!list) estr_StringListDelete(target, nullptr);
    lower::Report(err, "estr_StringListAppend", 2, "Error allocating string list entry");
    return list;
  }
  target->strings = grown;
  target->strings[target->count++] = copy;
  return target;
}

int32_t estr_StringListCount(const Estr_StringList *list) { return list ? list->count : 0; }

Estr_StringList *estr_StringToStringList(int32_t count, const char *const *strings,
                                         Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (count < 0 || (count > 0 && !strings)) {
    lower::Report(err, "estr_StringToStringList", 1, "Invalid string array");
    return nullptr;
  }
  auto *list = static_cast<Estr_StringList *>(emsc_HeapMalloc(sizeof(Estr_StringList)));
  if (!list || !FillList(list, count, strings)) {
    emsc_HeapFree(list);
    lower::Report(err, "estr_StringToStringList", 2, "Error allocating string list");
    return nullptr;
  }
  return list;
}

} // extern "C"
