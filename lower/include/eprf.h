/* The default preference database: the preferences of each class, read from the files
   "<class>.prf" in the directories of NORIX_PREFERENCES_PATH. The first directory holds the
   global (template) level, the last the user level that changes go to. */
#ifndef TAVIRON_EPRF_H
#define TAVIRON_EPRF_H

#include <stdint.h>

#include "eerr.h"
#include "epmg.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* Flush levels. */
#define EPRF_LEVEL_USER 1
#define EPRF_LEVEL_GLOBAL 2

/* (Re)reads the files of the default class and of every class read so far. Changes not yet
   flushed are dropped; registered callbacks stay. */
void eprf_DefaultDatabaseInitialize(Eerr_ErrorReport **err);
/* Forgets every class, its values and its callbacks. */
void eprf_DefaultDatabaseTerminate(void);
/* Writes the user level (1: the changes into the last directory's files), the global level (2:
   the values of all levels merged into the first directory's files), or both (3). */
void eprf_DefaultDatabaseFlush(int32_t level, Eerr_ErrorReport **err);
/* Registers the callback for the key record's (class, category, name). */
void eprf_DefaultPreferenceAddCB(Epmg_Preference *key, Epmg_CallbackInfo *callback,
                                 Eerr_ErrorReport **err);
/* Removes the callbacks of the key registered by the process `processId`. */
void eprf_DefaultPreferenceRemCB(Epmg_Preference *key, int32_t processId, Eerr_ErrorReport **err);
/* The database of a class (null = the default class), read on first use. Owned by the layer. */
Epmg_Database *eprf_DefaultDatabaseGet(const char *className, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif
