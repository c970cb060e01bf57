// The plug-in layer's installers: they install into the tables and routes of the layer itself.
#include "eplg.h"

#include "ecfg.h"
#include "epmg.h"
#include "internal.h"

extern "C" {

void eplg_PreferenceImplementationMethodsSet(int32_t keyword, ...) {
  va_list ap;
  va_start(ap, keyword);
  epmg_PreferenceImplementationMethodsSetV("eplg_PreferenceImplementationMethodsSet", keyword, ap);
  va_end(ap);
}

void eplg_ConfigurationImplementationMethodsSet(int32_t keyword, ...) {
  va_list ap;
  va_start(ap, keyword);
  ecfg_ImplementationMethodsSetV("eplg_ConfigurationImplementationMethodsSet", keyword, ap);
  va_end(ap);
}

void eplg_SetLogFunction(Eplg_LogFunction function) {
  taviron::lower::SetMessageLogFunction(function);
}

Eerr_AltErrorFunction eplg_SetAltErrorFunction(Eerr_AltErrorFunction function) {
  return eerr_SetAltErrorFunction(function);
}

Efio_QueryFunction eplg_SetQueryFunction(Efio_QueryFunction function) {
  return efio_SetQueryFunction(function);
}

void eplg_SetAltMeterFuncs(const Emet_MeterFuncs *table, void *data, Eerr_ErrorReport **err) {
  emet_SetAltMeterFuncs(table, data, err);
}

void eplg_SetVODEnvironment(void) {}

} // extern "C"
