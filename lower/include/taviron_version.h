/* The version of the library. The numbers below are the one place it is set: the build reads
   them for the shared library's version and soname (libtaviron.so.<major>) and the package
   files. */
#ifndef TAVIRON_VERSION_H
#define TAVIRON_VERSION_H

#include <stdint.h>

#include "taviron_export.h"

#define TAVIRON_VERSION_MAJOR 0
#define TAVIRON_VERSION_MINOR 1
#define TAVIRON_VERSION_PATCH 0
#define TAVIRON_VERSION_STRING "0.1.0"
/* major * 10000 + minor * 100 + patch */
#define TAVIRON_VERSION_NUMBER (TAVIRON_VERSION_MAJOR * 10000 + TAVIRON_VERSION_MINOR * 100 + TAVIRON_VERSION_PATCH)

TAVIRON_BEGIN_DECLS

/* The version of the library loaded at run time, "major.minor.patch"; the macros above give the
   version of the headers a program was built with. */
const char *taviron_Version(void);
/* The same as a number (major * 10000 + minor * 100 + patch). */
int32_t taviron_VersionNumber(void);

TAVIRON_END_DECLS

#endif
