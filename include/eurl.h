/* Showing a URL or a local file in the web browser. */
#ifndef TAVIRON_EURL_H
#define TAVIRON_EURL_H

#include <stdint.h>

#include "eerr.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* Shows the URL or file (variable references expanded, "\" taken as "/"): 1 when the browser
   was reached, else 0. A file name becomes a "file:///" URL of its absolute path, with " ", "%",
   "\"" and every byte above 0x7E percent-encoded. The browser is the program TAVIRON_BROWSER
   names (with its arguments), else xdg-open, started with the URL as its last argument. While a
   browser this process started still runs, the URL is handed to it (the browser program run
   again with the URL, waited for: "DDE message to IE failed." on failure) when the preference
   "zav"/"use_ie" is set (the default), else opened anew. Reports: "Could not expand URL string."
   (71), "Unable to locate default browser!" (134, a warning: without TAVIRON_BROWSER and with
   "use_ie" clear, xdg-open is used), "DDE message to IE failed." (110). */
int32_t eurl_Browse(const char *text, Eerr_ErrorReport **err);

TAVIRON_END_DECLS

#endif
