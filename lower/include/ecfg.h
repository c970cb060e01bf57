/* Configuration databases: classes of instances holding keys, read from the files
   "<directory>/<class>.cfg" and "<directory>/<class>.<database>.cfg" for the directories of
   NORIX_CFG_PATH and the databases of NORIX_CFG_DATABASES; and the configuration implementation
   hooks that the session services fill. */
#ifndef TAVIRON_ECFG_H
#define TAVIRON_ECFG_H

#include <stdarg.h>
#include <stdint.h>

#include "eerr.h"
#include "epmg.h"
#include "estr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* Query flags of ecfg_QueryCreateAndExecute. */
#define ECFG_QUERY_INSTANCES 32772      /* the instance names */
#define ECFG_QUERY_KEY_VALUES 32896     /* the key's value over all instances */
#define ECFG_QUERY_INSTANCE_PAIRS 32912 /* the instance's keys and values, alternating */

/* Operations of ecfg_InstallChangeImmediate. */
#define ECFG_CHANGE_CREATE_INSTANCE 2
#define ECFG_CHANGE_SET_KEY 16
/* Value kinds of ecfg_InstallChangeImmediate. */
#define ECFG_VALUE_NONE 0
#define ECFG_VALUE_STRING_LIST 1 /* the value points to an Estr_StringList of one string */

/* Configuration hooks: each takes the arguments of the call it replaces. */
typedef void (*Ecfg_InitHook)(Eerr_ErrorReport **err);
typedef Estr_StringList *(*Ecfg_QueryHook)(const char *className, const char *category,
                                           const char *instance, const char *key, int32_t flags,
                                           Eerr_ErrorReport **err);
typedef char *(*Ecfg_GetClassHook)(const char *className);
typedef Estr_StringList *(*Ecfg_LevelListHook)(const char *className, int32_t *current,
                                               Eerr_ErrorReport **err);
typedef void (*Ecfg_SetDatabaseLevelHook)(const char *className, const char *directory,
                                          const char *database, Eerr_ErrorReport **err);
typedef void (*Ecfg_InstallChangeHook)(const char *className, int32_t operation, int32_t immediate,
                                       const char *name, const char *key, int32_t valueKind,
                                       void *value, Eerr_ErrorReport **err);
/* On failure the hook sets *record to null and reports. */
typedef void (*Ecfg_PreferenceGetHook)(Epmg_Preference **record, Eerr_ErrorReport **err);
typedef void (*Ecfg_PutPreferenceHook)(Epmg_Preference *record, Eerr_ErrorReport **err);
typedef void (*Ecfg_WriteCategoryHook)(const char *className, const char *category,
                                       const char *directory, const char *suffix,
                                       Eerr_ErrorReport **err);

/* Keywords of ecfg_ImplementationMethodsSet. */
#define ECFG_METHOD_QUERY 1
#define ECFG_METHOD_GET_CLASS 2
#define ECFG_METHOD_DATABASE_DIRECTORIES 3
#define ECFG_METHOD_DATABASES 4
#define ECFG_METHOD_SET_DATABASE_LEVEL 5
#define ECFG_METHOD_INSTALL_CHANGE 6
#define ECFG_METHOD_INIT 7
#define ECFG_METHOD_PREFERENCE_GET 8
#define ECFG_METHOD_PUT_PREFERENCE 9
#define ECFG_METHOD_WRITE_CATEGORY 10

/* Installs hooks: (keyword, function, ..., 0, err). A null function puts the local default
   back. An unknown keyword is reported and nothing changes. */
void ecfg_ImplementationMethodsSet(int32_t keyword, ...);
/* The same from an argument list positioned after the first keyword; reports under `reporter`. */
void ecfg_ImplementationMethodsSetV(const char *reporter, int32_t keyword, va_list ap);

/* Re-reads the directories and databases from the environment and every class from its files
   (changes not saved are dropped). */
void ecfg_Init(Eerr_ErrorReport **err);

/* The class's preference database (eprf, the template level) / its configuration database.
   Both are owned by the layer. */
Epmg_Database *ecfg_GetTemplateDB(const char *className, Eerr_ErrorReport **err);
Epmg_Database *ecfg_GetClassDB(const char *className, Eerr_ErrorReport **err);

/* flags ECFG_QUERY_INSTANCES: the instance names; ECFG_QUERY_KEY_VALUES with a key: its value in
   each instance that has it; ECFG_QUERY_INSTANCE_PAIRS with an instance: its keys and values,
   alternating. The category is not used by the local databases. */
Estr_StringList *ecfg_QueryCreateAndExecute(const char *className, const char *category,
                                            const char *instance, const char *key, int32_t flags,
                                            Eerr_ErrorReport **err);
/* The class handle: a heap copy of the class name (freed with emsc_HeapFree), null for an
   invalid name. Every valid name is a class; it has no instances until some are created. */
char *ecfg_GetClass(const char *className);
/* The directories / databases of the class's levels, with the index of the current one in
   *current (-1 when the list is empty). */
Estr_StringList *ecfg_GetDatabaseDirectories(const char *className, int32_t *current,
                                             Eerr_ErrorReport **err);
Estr_StringList *ecfg_GetDatabases(const char *className, int32_t *current, Eerr_ErrorReport **err);
/* Selects the level that changes go to (null keeps that part of the current level). */
void ecfg_SetDatabaseLevel(const char *className, const char *directory, const char *database,
                           Eerr_ErrorReport **err);
/* ECFG_CHANGE_CREATE_INSTANCE (class, 2, 1, category, instance, 0, 0, err) creates an instance in
   the current level; ECFG_CHANGE_SET_KEY (class, 16, 1, instance, key, 1, list, err) sets a key of
   an existing instance. The change is made at once and written by ecfg_SaveChangeList. */
void ecfg_InstallChangeImmediate(const char *className, int32_t operation, int32_t immediate,
                                 const char *name, const char *key, int32_t valueKind, void *value,
                                 Eerr_ErrorReport **err);
/* Writes the levels of the class changed since they were read. */
void ecfg_SaveChangeList(const char *className, int32_t flags, Eerr_ErrorReport **err);
/* Writes the class's values (all levels merged; one instance when category is not null) to
   "<directory>/<class>.cfg", or "<directory>/<class>.<suffix>.cfg" with a suffix. The class
   "printers" is never written. */
void ecfg_WriteCategory(const char *className, const char *category, const char *directory,
                        const char *suffix, Eerr_ErrorReport **err);

/* A preference read: through the preference-get hook when installed; else the class's template
   database and, when that has no value, its configuration database (whose report is kept). The
   record's valueType asks for a type (0 = as stored). On failure *record is set to null. */
void ecfg_PreferenceGet(Epmg_Preference **record, Eerr_ErrorReport **err);
/* A preference write: through the put hook when installed; else into the user level of the
   class's template database, and when that changes the value, the callbacks this process
   registered for it are called with (user data, record). */
void ecfg_PutPreference(Epmg_Preference *record, Eerr_ErrorReport **err);

/* Typed reads of a key of an instance of a configuration class (through ecfg_PreferenceGet). A
   failed read returns the default (a heap copy for enum and string) with a report. */
double ecfg_GetNumberPreference(const char *className, const char *instance, const char *key,
                                double defaultValue, Eerr_ErrorReport **err);
int32_t ecfg_GetBooleanPreference(const char *className, const char *instance, const char *key,
                                  int32_t defaultValue, Eerr_ErrorReport **err);
char *ecfg_GetEnumPreference(const char *className, const char *instance, const char *key,
                             const char *defaultValue, Eerr_ErrorReport **err);
char *ecfg_GetStringPreference(const char *className, const char *instance, const char *key,
                               const char *defaultValue, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif
