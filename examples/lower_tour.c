/* A short tour of the lower layer from plain C: heap strings, string lists and error reports. */
#include <stdio.h>

#include "eerr.h"
#include "emsc.h"
#include "estr.h"

int main(void) {
  Eerr_ErrorReport *err = NULL;
  Estr_StringList *names = NULL;
  const char *layers[] = {"Layer_1", "Layer_2", "Layer_3"};
  int i;

  for (i = 0; i < 3; ++i) {
    names = estr_StringListAppend(names, layers[i], &err);
    if (err) break;
  }
  if (!err) {
    for (i = 0; i < estr_StringListCount(names); ++i) printf("layer %d: %s\n", i, names->strings[i]);
  }
  estr_StringListDelete(names, NULL);

  /* A failing call leaves a report in the slot; the caller prints it and drops it. The call
     below fails on purpose (a list of -1 strings), so the report it prints is expected. */
  printf("Now a call that fails on purpose, to show how an error report looks:\n");
  fflush(stdout);
  names = estr_StringListCreate(-1, &err);
  if (err) {
    err = eerr_CreateErrorReport("lower_tour", 1, EERR_WARNING, err, "Could not make the list (a deliberate demonstration)");
    eerr_PrintErrorReport(err, 1, NULL);
    eerr_DeleteErrorReportEx(&err);
  }
  return names == NULL ? 0 : 1;
}
