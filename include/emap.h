/* Map compositions: the package's share of the toolkit record. */
#ifndef TAVIRON_EMAP_H
#define TAVIRON_EMAP_H

#include "eerr.h"
#include "eint.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Closes the package's share of the toolkit record: destroys the plot-file-header design its
   slot holds, frees the holder and clears the slot. Nothing happens when the error slot already
   holds a report or the record is null; no report is ever made. */
void emap_ToolkitClose(Eint_InitToolkitData *toolkit, Eerr_ErrorReport **err);

#ifdef __cplusplus
}
#endif

#endif
