// The plug-in layer's installers: they install into the tables and routes of the layer itself.
#include "eplg.h"

#include "ecfg.h"
#include "epmg.h"
#include "internal.h"

extern "C" {

void eplg_PreferenceImplementationMethodsSet(int32_t keyword, ...) try {
  va_list ap;
  va_start(ap, keyword);
  epmg_PreferenceImplementationMethodsSetV("eplg_PreferenceImplementationMethodsSet", keyword, ap);
  va_end(ap);
} TAVIRON_GUARD_QUIET_VOID

void eplg_ConfigurationImplementationMethodsSet(int32_t keyword, ...) try {
  va_list ap;
  va_start(ap, keyword);
  ecfg_ImplementationMethodsSetV("eplg_ConfigurationImplementationMethodsSet", keyword, ap);
  va_end(ap);
} TAVIRON_GUARD_QUIET_VOID

void eplg_SetLogFunction(Eplg_LogFunction function) try {
  taviron::lower::SetMessageLogFunction(function);
} TAVIRON_GUARD_QUIET_VOID

Eerr_AltErrorFunction eplg_SetAltErrorFunction(Eerr_AltErrorFunction function) try {
  return eerr_SetAltErrorFunction(function);
} TAVIRON_GUARD_QUIET(nullptr)

Efio_QueryFunction eplg_SetQueryFunction(Efio_QueryFunction function) try {
  return efio_SetQueryFunction(function);
} TAVIRON_GUARD_QUIET(nullptr)

void eplg_SetAltMeterFuncs(const Emet_MeterFuncs *table, void *data, Eerr_ErrorReport **err) try {
  emet_SetAltMeterFuncs(table, data, err);
} TAVIRON_GUARD_VOID(err)

void eplg_SetVODEnvironment(void) try {} TAVIRON_GUARD_QUIET_VOID

} // extern "C"
