/* Exports kept for compatibility with programs linked against older builds of the library:
   magic-number file typing and two further entry points. None of them is supported; each does
   nothing and reports "not supported" through its error slot or its result. */
#ifndef TAVIRON_EMGC_H
#define TAVIRON_EMGC_H

#include <stdint.h>

#include "eerr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* A table of magic-number entries; never made by this build. */
typedef struct Emgc_Magic Emgc_Magic;
/* Shows one matched entry; never called by this build. */
typedef void (*Emgc_MagicDisplayFunction)(void *data, const char *text);

/* Null with a report. */
Emgc_Magic *emgc_MagicAllocate(Eerr_ErrorReport **err);
/* -1 with a report; nothing is added. */
int32_t emgc_MagicAppend(Emgc_Magic *magic, const char *entry, Eerr_ErrorReport **err);
/* -1; nothing is installed. */
int32_t emgc_MagicDisplayFuncSet(Emgc_Magic *magic, Emgc_MagicDisplayFunction function, void *data);
/* Null with a report. */
void *emgc_MagicEntryData(Emgc_Magic *magic, int32_t index, Eerr_ErrorReport **err);
/* Does nothing (no table is ever made); null is accepted. */
void emgc_MagicFree(Emgc_Magic *magic);
/* -1 (no match) with a report; the bytes are not read. */
int32_t emgc_MagicMatch(Emgc_Magic *magic, const void *bytes, int32_t count, Eerr_ErrorReport **err);
/* 0: no bytes are ever needed. */
int32_t emgc_MagicMaxBytes(const Emgc_Magic *magic);

/* Stores -1 (not supported) in *status when status is not null. */
void clminf_(int32_t *status);
/* -1 (not supported). */
int32_t hex908798435(void);

TAVIRON_END_DECLS

#endif
