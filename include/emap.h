/* Map compositions: the package's share of the toolkit record. */
#ifndef TAVIRON_EMAP_H
#define TAVIRON_EMAP_H

#include "eerr.h"
#include "eint.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* Closes the package's share of the toolkit record: destroys the plot-file-header design its
   slot holds, frees the holder and clears the slot. Nothing happens when the error slot already
   holds a report or the record is null; no report is ever made. */
void emap_ToolkitClose(Eint_InitToolkitData *toolkit, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif
