// Progress meters over the alternate meter table.
#include "emet.h"

#include <cmath>

#include "ethr.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

// The installed table. It is copied out under the lock and its slots are called without it, so
// that a slot may use meters itself or install another table.
struct Installed {
  Emet_MeterFuncs table{};
  void *data = nullptr;
  bool present = false;
  int32_t generation = 0; // changes with every installation; 0 is never used once installed
};

Installed installed;

Ethr_Mutex *Lock() {
  static Ethr_Mutex *const mutex = ethr_MutexCreate();
  return mutex;
}

struct Guard {
  Guard() { ethr_MutexLock(Lock()); }
  ~Guard() { ethr_MutexUnlock(Lock()); }
  Guard(const Guard &) = delete;
  Guard &operator=(const Guard &) = delete;
};

Installed Current() {
  Guard guard;
  return installed;
}

void Install(const Emet_MeterFuncs *table, void *data) {
  Guard guard;
  installed.table = table ? *table : Emet_MeterFuncs{};
  installed.data = table ? data : nullptr;
  installed.present = table != nullptr;
  if (++installed.generation <= 0) installed.generation = 1;
}

// The table for a meter, calling the start slot when the meter is used for the first time under
// the table installed now. False without a table.
bool Begin(Emet_MeterInfo *meter, Installed &current) {
  current = Current();
  if (!current.present) return false;
  if (meter->startedWith != current.generation) {
    meter->startedWith = current.generation;
    if (current.table.start) current.table.start(meter, current.data);
  }
  return true;
}

// Hands a slot's report on to the caller, chained under the function's own report.
void HandOn(lower::CalleeReport &local, Eerr_ErrorReport **err, const char *reporter, int32_t code,
            const char *what) {
  if (local) lower::ReportChained(err, local, reporter, code, "Error returned from the %s", what);
}

} // namespace

extern "C" {

void emet_SetAltMeterFuncs(const Emet_MeterFuncs *table, void *data, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!Lock()) {
    lower::Report(err, "emet_SetAltMeterFuncs", 1, "Unable to create the meter table lock");
    return;
  }
  Install(table, data);
} TAVIRON_GUARD_VOID(err)

void emet_SetAltMeterFuncsExt(const Emet_MeterFuncs *table, void *data, int32_t /*flag*/,
                              Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!Lock()) {
    lower::Report(err, "emet_SetAltMeterFuncsExt", 1, "Unable to create the meter table lock");
    return;
  }
  Install(table, data);
} TAVIRON_GUARD_VOID(err)

void emet_MeterInfoSet(Emet_MeterInfo *meter, double from, double to, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!meter) return;
  if (!std::isfinite(from) || !std::isfinite(to)) {
    lower::Report(err, "emet_MeterInfoSet", 1, "Invalid meter range %g to %g", from, to);
    return;
  }
  meter->start = from;
  meter->end = to;
} TAVIRON_GUARD_VOID(err)

void emet_MeterInfoChangeTaskName(Emet_MeterInfo *meter, const char *text,
                                  Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!meter) return;
  Installed current;
  if (!Begin(meter, current) || !current.table.taskName) return;
  lower::CalleeReport local;
  current.table.taskName(meter, current.data, text ? text : "", &local);
  HandOn(local, err, "emet_MeterInfoChangeTaskName", 1, "task name function");
} TAVIRON_GUARD_VOID(err)

void emet_MeterInfoPrint(Emet_MeterInfo *meter, double percent, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!meter) return;
  if (!std::isfinite(percent)) {
    lower::Report(err, "emet_MeterInfoPrint", 1, "Invalid percentage %g", percent);
    return;
  }
  Installed current;
  if (!Begin(meter, current)) return;
  meter->lastPercent = percent;
  if (!current.table.print) return;
  lower::CalleeReport local;
  current.table.print(meter, current.data, percent, &local);
  HandOn(local, err, "emet_MeterInfoPrint", 2, "progress function");
} TAVIRON_GUARD_VOID(err)

void emet_MeterUpdate(Emet_MeterInfo *meter, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!meter) return;
  Installed current;
  if (!Begin(meter, current) || !current.table.print) return;
  lower::CalleeReport local;
  current.table.print(meter, current.data, meter->lastPercent, &local);
  HandOn(local, err, "emet_MeterUpdate", 1, "progress function");
} TAVIRON_GUARD_VOID(err)

int32_t emet_MeterCancelQuery(Emet_MeterInfo *meter, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  Installed current;
  if (meter) {
    if (!Begin(meter, current)) return 0;
  } else if (!(current = Current()).present) {
    return 0;
  }
  if (!current.table.cancelQuery) return 0;
  lower::CalleeReport local;
  const int32_t answer = current.table.cancelQuery(meter, current.data, &local);
  HandOn(local, err, "emet_MeterCancelQuery", 1, "cancel query function");
  return answer;
} TAVIRON_GUARD(err, 0)

} // extern "C"
