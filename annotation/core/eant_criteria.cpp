// Named criteria that elements must pass to be drawn or hit: a singly linked list per
// annotation info, at most one criterion of a name.
#include <cstring>

#include "eant_internal.h"
#include "efio.h"
#include "emsc.h"

namespace lower = taviron::lower;

namespace {

bool SameName(const char *a, const char *b) { return a && b ? std::strcmp(a, b) == 0 : a == b; }

void FreeOne(Eant_Criteria *criterion) {
  emsc_HeapFree(criterion->name);
  emsc_HeapFree(criterion);
}

} // namespace

extern "C" {

Eant_Criteria *eant_CriteriaCreate(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  auto *criterion = lower::HeapNew<Eant_Criteria>();
  if (!criterion) lower::Report(err, "eant_CriteriaCreate", 1, "Error allocating Criteria");
  return criterion;
} TAVIRON_GUARD(err, nullptr)

Eant_Criteria *eant_CriteriaAdd(Eant_AnnotationInfo *info, const char *name, Eant_CriteriaFunction check,
                                void *data, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CriteriaAdd";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input annotation info");
    return nullptr;
  }
  lower::CalleeReport inner;
  Eant_Criteria *criterion = eant_CriteriaCreate(&inner);
  if (!criterion) {
    lower::ReportCallee(err, inner, reporter, 2, "eant_CriteriaCreate");
    return nullptr;
  }
  if (!name) {
    lower::Report(err, reporter, 3, "Invalid input criteria name");
    FreeOne(criterion);
    return nullptr;
  }
  criterion->name = estr_Duplicate(name);
  if (!criterion->name) {
    lower::Report(err, reporter, 3, "Error returned from estr_Duplicate");
    FreeOne(criterion);
    return nullptr;
  }
  criterion->check = check;
  criterion->data = data;
  Eant_Criteria *list = eant_CriteriaAddToList(info->criteria, criterion, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, reporter, 4, "eant_CriteriaAddToList");
    FreeOne(criterion);
    return nullptr;
  }
  info->criteria = list;
  return criterion;
} TAVIRON_GUARD(err, nullptr)

Eant_Criteria *eant_CriteriaAddToList(Eant_Criteria *list, Eant_Criteria *criterion, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!list) return criterion;
  if (!criterion) return list;
  Eant_Criteria *last = list;
  for (Eant_Criteria *at = list; at; at = at->next) {
    if (at == criterion || SameName(at->name, criterion->name)) {
      lower::Report(err, "eant_CriteriaAddToList", 1, "Criteria of same name already exists");
      return list;
    }
    last = at;
  }
  criterion->next = nullptr;
  last->next = criterion;
  return list;
} TAVIRON_GUARD(err, list)

Eant_Criteria *eant_CriteriaListLookup(Eant_AnnotationInfo *info, const char *name, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CriteriaListLookup";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input annotation info");
    return nullptr;
  }
  if (!name) {
    lower::Report(err, reporter, 2, "Invalid input criteria name");
    return nullptr;
  }
  for (Eant_Criteria *at = info->criteria; at; at = at->next)
    if (SameName(at->name, name)) return at;
  lower::Report(err, reporter, 3, "Criteria not found");
  return nullptr;
} TAVIRON_GUARD(err, nullptr)

int32_t eant_CriteriaCheck(Eant_Element *element, _exfr_XForm *transform, Eant_Criteria *list,
                           Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CriteriaCheck";
  lower::Clear(err);
  if (!element) {
    lower::Report(err, reporter, 1, "Invalid input element");
    return 0;
  }
  int32_t result = 1;
  for (Eant_Criteria *at = list; at && result == 1; at = at->next) {
    if (!at->check) continue;
    lower::CalleeReport inner;
    result = at->check(element, transform, at->data, &inner);
    if (inner) {
      lower::ReportCallee(err, inner, reporter, 2, "criteria function");
      return 0;
    }
  }
  return result;
} TAVIRON_GUARD(err, 0)

void eant_CriteriaDelete(Eant_AnnotationInfo *info, const char *name, Eerr_ErrorReport **err) try {
  static const char *reporter = "eant_CriteriaDelete";
  lower::Clear(err);
  if (!info) {
    lower::Report(err, reporter, 1, "Invalid input annotation info");
    return;
  }
  if (!name) {
    lower::Report(err, reporter, 2, "Invalid input criteria name");
    return;
  }
  for (Eant_Criteria **link = &info->criteria; *link; link = &(*link)->next) {
    if (!SameName((*link)->name, name)) continue;
    Eant_Criteria *found = *link;
    *link = found->next;
    FreeOne(found);
    return;
  }
  lower::Report(err, reporter, 3, "Criteria not found");
} TAVIRON_GUARD_VOID(err)

void eant_CriteriaPrint(const Eant_Criteria *criterion, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  efio_Printf("Criteria:\n");
  if (!criterion) return;
  if (criterion->name)
    efio_Printf("name - %s\n", criterion->name);
  else
    efio_Printf("name - NULL\n");
} TAVIRON_GUARD_VOID(err)

void eant_CriteriaFree(Eant_Criteria **list) try {
  if (!list) return;
  for (Eant_Criteria *at = *list; at;) {
    Eant_Criteria *next = at->next;
    FreeOne(at);
    at = next;
  }
  *list = nullptr;
} TAVIRON_GUARD_QUIET_VOID

} // extern "C"
