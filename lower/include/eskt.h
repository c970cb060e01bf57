/* Network services: the host name. */
#ifndef TAVIRON_ESKT_H
#define TAVIRON_ESKT_H

#include <stdint.h>

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* Copies this machine's host name into buffer, never more than size bytes, always terminated
   (when size is at least 1). 0 when the whole name fitted; -1 when there is no buffer, the name
   cannot be read (buffer holds "") or it was cut to fit. */
int32_t eskt_GetHostname(char *buffer, int32_t size);

TAVIRON_END_DECLS

#endif
