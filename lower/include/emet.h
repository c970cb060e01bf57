/* Progress meters. The layer shows progress through one alternate meter table of seven slots
   that the session services install; without a table meters print nothing and never cancel. */
#ifndef TAVIRON_EMET_H
#define TAVIRON_EMET_H

#include <stdint.h>

#include "eerr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* A progress meter. The first three fields are what the table's progress slot reads and writes:
   the percent range is mapped onto start .. end, and the slot may remember the last value it
   showed in lastValue. The rest belongs to the layer. A meter starts zero-filled (for instance
   `Emet_MeterInfo meter = {0};` or a block of emsc_HeapMalloc) and is set with
   emet_MeterInfoSet. Calls given a null meter do nothing. */
typedef struct Emet_MeterInfo {
  double start;
  double end;
  int32_t lastValue;
  /* private to the layer */
  int32_t startedWith;  /* the installation the start slot was called for; 0 = not yet */
  double lastPercent;   /* the percent shown last, for emet_MeterUpdate */
} Emet_MeterInfo;

/* The slots of the alternate meter table. `word` is the meter concerned (may be null, as for
   emet_MeterCancelQuery(0, 0)); `data` is the data word given with the table. */
typedef void (*Emet_StartFunc)(void *word, void *data);
typedef void (*Emet_TaskNameFunc)(void *word, void *data, const char *text,
                                  Eerr_ErrorReport **err);
typedef int32_t (*Emet_CancelQueryFunc)(void *word, void *data, Eerr_ErrorReport **err);
typedef void (*Emet_PrintFunc)(Emet_MeterInfo *meter, void *data, double percent,
                               Eerr_ErrorReport **err);
typedef void (*Emet_SpareFunc)(void *word, void *data);
typedef void (*Emet_ClearCancelFunc)(void *word, void *data, Eerr_ErrorReport **err);

/* The table, slots in order 0 to 6. Any slot may be null (that step is skipped). */
typedef struct Emet_MeterFuncs {
  Emet_StartFunc start;             /* 0: a meter is used for the first time under this table */
  Emet_TaskNameFunc taskName;       /* 1 */
  Emet_CancelQueryFunc cancelQuery; /* 2: non-zero when the user asked to stop */
  Emet_PrintFunc print;             /* 3 */
  Emet_SpareFunc spare4;            /* 4: not called by the layer */
  Emet_SpareFunc spare5;            /* 5: not called by the layer */
  Emet_ClearCancelFunc clearCancel; /* 6: not called by the layer */
} Emet_MeterFuncs;

/* Installs a copy of the table with its data word for the whole process; a null table removes
   the one installed. Every meter is started again (slot 0) on its next use. */
void emet_SetAltMeterFuncs(const Emet_MeterFuncs *table, void *data, Eerr_ErrorReport **err);
/* The same; the flag (1 where it is used) is accepted and has no further effect. */
void emet_SetAltMeterFuncsExt(const Emet_MeterFuncs *table, void *data, int32_t flag,
                              Eerr_ErrorReport **err);

/* Sets the range onto which percentages are mapped (usually 0.0, 100.0). Values that are not
   finite are refused. */
void emet_MeterInfoSet(Emet_MeterInfo *meter, double from, double to, Eerr_ErrorReport **err);
/* Names the task the meter follows (slot 1). */
void emet_MeterInfoChangeTaskName(Emet_MeterInfo *meter, const char *text,
                                  Eerr_ErrorReport **err);
/* Shows progress in percent (slot 3). A percent that is not finite is refused. */
void emet_MeterInfoPrint(Emet_MeterInfo *meter, double percent, Eerr_ErrorReport **err);
/* Shows the meter again at the percent printed last (slot 3). */
void emet_MeterUpdate(Emet_MeterInfo *meter, Eerr_ErrorReport **err);
/* Non-zero when the user asked to stop (slot 2); 0 without a table. Both arguments may be null. */
int32_t emet_MeterCancelQuery(Emet_MeterInfo *meter, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif
