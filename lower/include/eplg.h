/* The plug-in layer's installers: the same preference and configuration hooks, log and error
   routes as the rest of the layer. Plug-ins run in the same process and share the layer, so each
   installer puts its function where the layer's own installer does. */
#ifndef TAVIRON_EPLG_H
#define TAVIRON_EPLG_H

#include <stdarg.h>
#include <stdint.h>

#include "eerr.h"
#include "efio.h"
#include "emet.h"

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* (keyword, function, ..., 0, err): the keywords of epmg_PreferenceImplementationMethodsSet /
   ecfg_ImplementationMethodsSet, installed into the same tables. */
void eplg_PreferenceImplementationMethodsSet(int32_t keyword, ...);
void eplg_ConfigurationImplementationMethodsSet(int32_t keyword, ...);

/* The log function through which eerr_MessageLog writes (null puts the local log back). */
typedef int32_t (*Eplg_LogFunction)(int32_t level, Eerr_ErrorReport **err, const char *format,
                                    va_list ap);
void eplg_SetLogFunction(Eplg_LogFunction function);
/* eerr_SetAltErrorFunction; returns the function installed before. */
Eerr_AltErrorFunction eplg_SetAltErrorFunction(Eerr_AltErrorFunction function);
/* efio_SetQueryFunction; returns the function installed before. */
Efio_QueryFunction eplg_SetQueryFunction(Efio_QueryFunction function);
/* emet_SetAltMeterFuncs. */
void eplg_SetAltMeterFuncs(const Emet_MeterFuncs *table, void *data, Eerr_ErrorReport **err);
/* Refreshes the plug-in layer's view of the environment. Plug-ins read the one environment of the
   process, so there is nothing to refresh: kept for the callers. */
void eplg_SetVODEnvironment(void);

TAVIRON_END_DECLS

#endif
