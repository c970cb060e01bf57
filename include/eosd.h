/* Operating-system services: user and group names, the system's name, running a command. */
#ifndef TAVIRON_EOSD_H
#define TAVIRON_EOSD_H

#include <stdint.h>

#include "eerr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* A new empty string for every id: the system keeps no such names for the library. The slot is
   cleared. */
char *eosd_UserName(int32_t userId, int32_t ignored, Eerr_ErrorReport **err);
char *eosd_GroupName(int32_t groupId, int32_t ignored, Eerr_ErrorReport **err);
/* A new string naming the system: "Linux <major>.<minor> Build <patch> " from the kernel's
   release, "Unknown OS " when it cannot be read. The slot is cleared. */
char *eosd_OSVersionName(Eerr_ErrorReport **err);
/* Runs the command line and waits for its end: 1 when it ran and ended with exit code 0, else 0
   (also when it could not be started). The line is split into words as command lines are
   (blanks separate, double quotes group, a backslash before a quote escapes it); the first word
   is the program, searched on PATH when it names no folder. The process gets no descriptor of
   this one but the standard three; there are no windows to show or hide. The slot is cleared and
   never filled. */
int32_t eosd_Execute(const char *commandLine, int32_t show, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif
