/* The toolkit initialisation record: one per process, holding the packages' shared data. */
#ifndef TAVIRON_EINT_H
#define TAVIRON_EINT_H

#include "eerr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* Frees the data a package keeps in one of the record's slots. */
typedef void (*Eint_SlotFreeFunction)(void *data);

/* The record. Every open hierarchical file keeps a pointer to the record it was opened with.
   The first four words are fixed: the library's annotation package owns word 0 and the
   map-composition package word 3; both free their data before eint_DeInit. The projection and
   statistics packages of this layer keep their data in words 1 and 2 and register a free
   function with it, which eint_DeInit calls. */
typedef struct Eint_InitToolkitData {
  void *annotationData;  /* word 0: the annotation package data (its first word is the design
                            dictionary); null until that package is initialised */
  void *projectionData;  /* word 1: the projection package data (its design dictionary);
                            null until that package is initialised */
  void *statisticsData;  /* word 2: the statistics package data; non-null once initialised */
  void **plotFileHeader; /* word 3: a heap block of one pointer holding the plot-file-header
                            design; null while none */
  Eint_SlotFreeFunction projectionDataFree; /* frees projectionData (or null) */
  Eint_SlotFreeFunction statisticsDataFree; /* frees statisticsData (or null) */
} Eint_InitToolkitData;

/* The record, made (zero-filled) on the first call; later calls return the same record. */
Eint_InitToolkitData *eint_InitToolkit(Eerr_ErrorReport **err);
/* The record, or null before eint_InitToolkit (and after eint_DeInit). */
Eint_InitToolkitData *eint_GetInit(void);
/* Ends the record at application end: frees the projection and statistics data through their
   free functions and the record; eint_GetInit then gives null. Data still left in words 0 and 3
   belongs to the library and is not touched. Nothing happens when there is no record. */
void eint_DeInit(void);

TAVIRON_END_DECLS

#endif
