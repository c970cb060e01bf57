/* 8-bit strings, string lists, environment, formatting and UTF-16 text. */
#ifndef TAVIRON_ESTR_H
#define TAVIRON_ESTR_H

#include <stdint.h>

#include "eerr.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A list of count heap strings (a slot may be null). */
typedef struct {
  int32_t count;
  char **strings;
} Estr_StringList;

/* A heap copy of the text, or null for null (or when out of memory). */
char *estr_Duplicate(const char *text);
/* Non-zero when a and b are equal ignoring case (two nulls are equal, null and text are not). */
int estr_Eqic(const char *a, const char *b);

/* A list of count empty (null) slots; count 0 gives an empty list. Negative counts are refused. */
Estr_StringList *estr_StringListCreate(int32_t count, Eerr_ErrorReport **err);
/* Frees the strings and the list; null is accepted. */
void estr_StringListDelete(Estr_StringList *list, Eerr_ErrorReport **err);
/* A deep copy of list, into destination when given (its old strings are freed) or a new list;
   null list gives null. */
Estr_StringList *estr_StringListCopy(const Estr_StringList *list, Estr_StringList *destination,
                                     Eerr_ErrorReport **err);
/* Appends a copy of text (null appends an empty slot) and returns the list; a null list starts
   a new one. On failure the list is returned unchanged with a report. */
Estr_StringList *estr_StringListAppend(Estr_StringList *list, const char *text,
                                       Eerr_ErrorReport **err);
/* The count; 0 for null. */
int32_t estr_StringListCount(const Estr_StringList *list);
/* A new list holding copies of count strings. */
Estr_StringList *estr_StringToStringList(int32_t count, const char *const *strings,
                                         Eerr_ErrorReport **err);

#ifdef __cplusplus
}
#endif

#endif
