/* Preferences: typed values by (class, category, key), change callbacks, the preference
   implementation hooks that the session services fill, and the in-memory databases that answer
   while no hook is installed. */
#ifndef TAVIRON_EPMG_H
#define TAVIRON_EPMG_H

#include <stdarg.h>
#include <stdint.h>

#include "eerr.h"
#include "estr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* The class that epmg_Get*Preference and epmg_AddPreferenceCallback ask. */
#define EPMG_DEFAULT_CLASS "preferences"

/* Value types of a preference. */
#define EPMG_TYPE_NONE 0 /* not yet known (a value read from a file, or "any" on a get) */
#define EPMG_TYPE_STRING 1
#define EPMG_TYPE_NUMBER 2
#define EPMG_TYPE_BOOLEAN 3
#define EPMG_TYPE_ENUM 4
#define EPMG_TYPE_UNSIGNED 5

typedef union Epmg_PreferenceValue {
  char *string;             /* types 1 and 4: a heap string */
  double number;            /* type 2 */
  int32_t boolean;          /* type 3: 0 or 1 */
  uint32_t unsignedInteger; /* type 5 */
} Epmg_PreferenceValue;

/* A preference. Also used as the key record of the callback hooks (only the names are read). */
typedef struct Epmg_Preference {
  char *className; /* configuration class whose database holds it; null = EPMG_DEFAULT_CLASS */
  char *category;  /* for a configuration class: the instance */
  char *name;      /* the key */
  Epmg_PreferenceValue value;
  int32_t valueType;
  int32_t flags; /* passed on unchanged (the senders of the session services send 3 for 0) */
} Epmg_Preference;

typedef void (*Epmg_PreferenceCallback)(void *userData, Epmg_Preference *preference);

/* A registered callback as the local databases keep it. */
typedef struct Epmg_PreferenceCallbackRecord {
  char *className;
  char *category;
  char *name;
  Epmg_PreferenceCallback callback;
  void *userData;
  int32_t processId; /* 0 = this process */
} Epmg_PreferenceCallbackRecord;

/* The callback half handed to the add-callback hook together with a key record. */
typedef struct Epmg_CallbackInfo {
  int32_t processId; /* 0 = this process */
  void *userData;
  Epmg_PreferenceCallback callback;
} Epmg_CallbackInfo;

/* Node of the list returned by epmg_GetCallbackList. Every node is a heap block of its own. */
typedef struct Epmg_CallbackNode {
  int32_t processId;
  Epmg_PreferenceCallback callback;
  void *userData;
  struct Epmg_CallbackNode *next;
} Epmg_CallbackNode;

/* A preference or configuration database (layer-owned, see epmg_DatabaseCreate). */
typedef struct Epmg_Database Epmg_Database;

/* Preference implementation hooks. Each takes the address of the connection-kind word (keyword
   1) first and an error slot last. */
typedef void (*Epmg_DatabaseInitializeHook)(int32_t *kind, Eerr_ErrorReport **err);
typedef void (*Epmg_DatabaseTerminateHook)(int32_t *kind, Eerr_ErrorReport **err);
typedef void (*Epmg_DatabaseFlushHook)(int32_t *kind, int32_t level, Eerr_ErrorReport **err);
typedef void (*Epmg_AddCallbackHook)(int32_t *kind, Epmg_Preference *key, Epmg_CallbackInfo *callback,
                                     Eerr_ErrorReport **err);
typedef void (*Epmg_RemoveCallbackHook)(int32_t *kind, Epmg_Preference *key, int32_t word,
                                        Eerr_ErrorReport **err);
/* On failure the hook sets *record to null and reports. */
typedef void (*Epmg_GetHook)(int32_t *kind, Epmg_Preference **record, Eerr_ErrorReport **err);
typedef void (*Epmg_PutHook)(int32_t *kind, Epmg_Preference *record, Eerr_ErrorReport **err);

/* Keywords of epmg_PreferenceImplementationMethodsSet. */
#define EPMG_METHOD_KIND_ADDRESS 1
#define EPMG_METHOD_INITIALIZE 2
#define EPMG_METHOD_TERMINATE 3
#define EPMG_METHOD_FLUSH 4
#define EPMG_METHOD_ADD_CALLBACK 5
#define EPMG_METHOD_REMOVE_CALLBACK 6
#define EPMG_METHOD_GET 7
#define EPMG_METHOD_PUT 8

/* Installs hooks: (keyword, value, ..., 0, err). Every keyword takes one pointer; a null
   function puts the local default back. An unknown keyword is reported and nothing changes. */
void epmg_PreferenceImplementationMethodsSet(int32_t keyword, ...);
/* The same from an argument list positioned at the first keyword; reports under `reporter`. */
void epmg_PreferenceImplementationMethodsSetV(const char *reporter, int32_t keyword, va_list ap);

/* Typed reads of the default class, through the get hook when installed, else through
   ecfg_PreferenceGet. A failed read returns the default (a heap copy for enum and string) with a
   report. Enum and string results are heap strings the caller frees with emsc_HeapFree. */
double epmg_GetNumberPreference(const char *category, const char *key, double defaultValue,
                                Eerr_ErrorReport **err);
int32_t epmg_GetBooleanPreference(const char *category, const char *key, int32_t defaultValue,
                                  Eerr_ErrorReport **err);
char *epmg_GetEnumPreference(const char *category, const char *key, const char *defaultValue,
                             Eerr_ErrorReport **err);
char *epmg_GetStringPreference(const char *category, const char *key, const char *defaultValue,
                               Eerr_ErrorReport **err);
/* Registers a change callback on (default class, category, key): through the add-callback hook
   when installed, else in the default preference database. */
void epmg_AddPreferenceCallback(const char *category, const char *key,
                                Epmg_PreferenceCallback callback, void *userData,
                                Eerr_ErrorReport **err);
/* Writes the user / global level of the preference database: through the flush hook (level 1 /
   2) when installed, else eprf_DefaultDatabaseFlush. */
void epmg_SaveUserPreference(Eerr_ErrorReport **err);
void epmg_SaveGlobalPreference(Eerr_ErrorReport **err);

/* Converts the record's value in place to `type` (1 to 5; 0 changes nothing). Text converts to number when it is a whole finite
   number, to boolean from true/yes/on, false/no/off or a number truncated (above 0 = 1), to
   unsigned from a number in 0..4294967295 (truncated). On failure the record is unchanged. */
void epmg_PreferenceConvert(Epmg_Preference *record, int32_t type, Eerr_ErrorReport **err);
/* Frees the record's string value (types 1 and 4) and clears value and type. */
void epmg_PreferenceValueClear(Epmg_Preference *record);

/* --- Local databases --------------------------------------------------------------------- */

/* File formats of a database's levels. */
#define EPMG_FORMAT_PREFERENCES 1 /* lines "category/key = value" */
#define EPMG_FORMAT_CONFIGURATION 2 /* "[instance]" sections of "key = value" lines */

/* The value of the record's (category, name), from the most specific level that has it,
   converted to the record's valueType when that is 1 to 5. A string value is a heap copy. */
void epmg_GetPreference(Epmg_Database *database, Epmg_Preference *record, Eerr_ErrorReport **err);
/* Stores the record's value (types 1 to 5) in the current level. Calls no callbacks. Returns 1
   when the stored value changed, else 0. */
int32_t epmg_PutPreference(Epmg_Database *database, const Epmg_Preference *record,
                           Eerr_ErrorReport **err);
/* Registers a callback (a copy of the record; the same callback, user data and process twice
   count once) / removes the callbacks of the key registered by the record's process (only those
   of its callback when that is not null). */
void epmg_AddCallback(Epmg_Database *database, const Epmg_PreferenceCallbackRecord *record,
                      Eerr_ErrorReport **err);
void epmg_RemoveCallback(Epmg_Database *database, const Epmg_PreferenceCallbackRecord *record,
                         Eerr_ErrorReport **err);
/* The callbacks registered for the record's (category, name), in registration order, or null. */
Epmg_CallbackNode *epmg_GetCallbackList(Epmg_Database *database, const Epmg_Preference *record);
/* Frees a list returned by epmg_GetCallbackList. */
void epmg_FreeCallbackList(Epmg_CallbackNode *list);

/* Building blocks of the default preference database and the configuration databases. */
Epmg_Database *epmg_DatabaseCreate(const char *className, int32_t format, Eerr_ErrorReport **err);
void epmg_DatabaseDelete(Epmg_Database **database);
/* (Re)reads the levels from the files, most general first, and makes `current` the level that
   changes go to. A missing file is an empty level; a corrupt one is reported and left empty.
   Registered callbacks are kept. */
void epmg_DatabaseSetLevels(Epmg_Database *database, const Estr_StringList *files, int32_t current,
                            Eerr_ErrorReport **err);
void epmg_DatabaseSetCurrentLevel(Epmg_Database *database, int32_t current, Eerr_ErrorReport **err);
/* Adds an empty category (instance) to the current level unless it exists there. */
void epmg_DatabaseAddCategory(Epmg_Database *database, const char *category,
                              Eerr_ErrorReport **err);
/* The categories of all levels, most general level first, each once. */
Estr_StringList *epmg_DatabaseCategories(Epmg_Database *database, Eerr_ErrorReport **err);
/* The keys and values of a category over all levels, alternating key and value; null with a
   report when no level has the category. */
Estr_StringList *epmg_DatabaseKeys(Epmg_Database *database, const char *category,
                                   Eerr_ErrorReport **err);
/* Writes every level changed since it was read to its file. */
void epmg_DatabaseSave(Epmg_Database *database, Eerr_ErrorReport **err);
/* Writes one level (or, for level -1, the values of all levels merged) to a file, only the given
   category when it is not null. The file is replaced as a whole. */
void epmg_DatabaseWrite(Epmg_Database *database, int32_t level, const char *category,
                        const char *file, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif
