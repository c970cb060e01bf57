/* DLL instances: shared objects loaded by class name and instance name, each with the object
   that the caller's load operation made from it, and entry points looked up by name. */
#ifndef TAVIRON_EDLL_H
#define TAVIRON_EDLL_H

#include <stdint.h>

#include "eerr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* A loaded shared object. */
typedef void *Edll_Handle;

/* The caller's load operation, called once when an instance is opened: the instance name, the
   shared object, its name (the path as given, to pass on to edll_FindIfPresent), the flag given
   to edll_InstanceOpenByClassName, and an error slot. It returns the instance's object; null
   without a report is a valid object (the instance stays open), a report fails the open. */
typedef void *(*Edll_LoadFunc)(const char *instanceName, Edll_Handle handle, const char *dllName,
                               int32_t flag, Eerr_ErrorReport **err);
/* The matching free operation, called with a non-null object when the instance is closed,
   before the shared object is unloaded. */
typedef void (*Edll_FreeFunc)(void *object);

/* Opens the instance of the class with that name, or gives the object of the open one (each such
   call must be matched by one edll_InstanceClose, or left to edll_InstanceCloseAll). A null
   instance name names the instance by the path. An open instance of the same class and name
   loaded from another path is an error. The free operation may be null. */
void *edll_InstanceOpenByClassName(const char *className, const char *path,
                                   const char *instanceName, int32_t flag, Edll_LoadFunc load,
                                   Edll_FreeFunc freeOp, Eerr_ErrorReport **err);
/* Gives up one opening of the instance of that name (the one opened last when several classes
   have an instance of that name); the last one calls the free operation and unloads the shared
   object. 0 when an instance was found, -1 when none was. */
int32_t edll_InstanceClose(const char *instanceName);
/* Closes every instance, the one opened last first, whatever its count of openings. */
void edll_InstanceCloseAll(void);
/* The path of the open instance of the class (a heap copy for the caller to free), or null with a
   report when there is none. */
char *edll_InstanceFind(const char *className, const char *instanceName, Eerr_ErrorReport **err);

/* Loads a shared object (with dlopen: each call counts one more use of it). */
Edll_Handle edll_Open(const char *path, Eerr_ErrorReport **err);
/* The address of an entry point, or null with a report when it is missing. */
void *edll_Find(Edll_Handle handle, const char *name, Eerr_ErrorReport **err);
/* The address of an entry point, or null WITHOUT a report when the shared object lacks it; a null
   handle or name is reported. dllName (may be null) names the object in messages. */
void *edll_FindIfPresent(Edll_Handle handle, const char *name, const char *dllName,
                         Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif
