// Jobs: a process that reports a state text and a percentage to the session manager while it
// works and says farewell at its end; and the default progress-meter table, which turns the lower
// layer's meters into the same reports.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "efio.h"
#include "emet.h"
#include "eplg.h"
#include "esmg.h"
#include "esmg_session_internal.h"
#include "ethr.h"
#include "internal.h"

namespace lower = taviron::lower;

namespace {

using namespace taviron::session;

// Whether the default meters run in a batch run: tested once, by the first start, under a
// process-wide mutex.
struct DefaultMeters {
  Ethr_Mutex *mutex = ethr_MutexCreate();
  bool tested = false;
  bool batch = false;
};

DefaultMeters &D() {
  static auto *meters = new DefaultMeters; // lives as long as the process
  return *meters;
}

bool BatchMeters() {
  DefaultMeters &d = D();
  ethr_MutexLock(d.mutex);
  const bool batch = d.batch;
  ethr_MutexUnlock(d.mutex);
  return batch;
}

void DefaultStart(void *, void *) {
  DefaultMeters &d = D();
  ethr_MutexLock(d.mutex);
  if (!d.tested) {
    d.tested = true;
    d.batch = esmg_IsBatchRun() != 0;
  }
  ethr_MutexUnlock(d.mutex);
}

void DefaultTaskName(void *, void *, const char *text, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (esmg_SessionIsStarted()) esmg_Broadcast(ESMG_DEST_NONE, 0, 11, text);
}

int32_t DefaultCancelQuery(void *, void *, Eerr_ErrorReport **err) {
  lower::Clear(err);
  return esmg_InterruptQuery();
}

void DefaultClearCancel(void *, void *, Eerr_ErrorReport **err) {
  lower::Clear(err);
  esmg_InterruptClear();
}

constexpr Emet_MeterFuncs kDefaultTable = {
    DefaultStart, DefaultTaskName, DefaultCancelQuery, esmg_defaultmeterinfofunc,
    nullptr,      nullptr,         DefaultClearCancel};

// Rounds half away from zero into the range of a 32-bit value.
int32_t RoundToInt32(double value) {
  if (std::isnan(value)) return 0;
  value = std::round(value);
  if (value >= static_cast<double>(std::numeric_limits<int32_t>::max()))
    return std::numeric_limits<int32_t>::max();
  if (value <= static_cast<double>(std::numeric_limits<int32_t>::min()))
    return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

} // namespace

namespace taviron::session {

void InstallDefaultMeterTable(Eerr_ErrorReport **err) {
  lower::Clear(err);
  lower::CalleeReport inner;
  emet_SetAltMeterFuncs(&kDefaultTable, nullptr, &inner);
  if (inner) {
    lower::ReportCallee(err, inner, "esmg_SessionConnect", 1, "emet_SetAltMeterFuncs");
    return;
  }
  eplg_SetAltMeterFuncs(&kDefaultTable, nullptr, &inner);
  if (inner) lower::ReportCallee(err, inner, "esmg_SessionConnect", 2, "eplg_SetAltMeterFuncs");
}

} // namespace taviron::session

extern "C" {

void esmg_JobInit(const char *name, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (!esmg_IsSessionManager() && !esmg_IsBatchRun() && !esmg_SessionIsStarted() &&
      !esmg_FindSessionManagerWindow())
    setenv("TAVIRON_BATCH_RUN", "1", 1);
  esmg_SessionConnect(name, ESMG_CONNECT_JOB, err);
  efio_SetLogFunction(esmg_DebugOutputLog);
  eplg_SetLogFunction(esmg_LogMessageFunc);
  eplg_SetVODEnvironment();
} TAVIRON_GUARD_VOID(err)

void esmg_JobState(const char *text, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (esmg_SessionIsStarted()) esmg_Broadcast(ESMG_DEST_NONE, 0, 11, text);
} TAVIRON_GUARD_VOID(err)

void esmg_JobProgress(int32_t percent, Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (esmg_SessionIsStarted()) esmg_Broadcast(ESMG_DEST_NONE, 0, 12, percent);
} TAVIRON_GUARD_VOID(err)

void esmg_JobEnd(Eerr_ErrorReport **err) try {
  lower::Clear(err);
  SessionFarewell(13);
} TAVIRON_GUARD_VOID(err)

int32_t esmg_IsJob(void) try { return 0; } TAVIRON_GUARD_QUIET(0)

void esmg_defaultmeterinfofunc(Emet_MeterInfo *meter, void *data, double percent,
                               Eerr_ErrorReport **err) try {
  lower::Clear(err);
  if (BatchMeters()) return;
  lower::CalleeReport cancel;
  if (DefaultCancelQuery(meter, data, &cancel) || cancel) EndProcess(1);
  if (!meter) return;
  const int32_t value = RoundToInt32(meter->start + (meter->end - meter->start) * (percent * 0.01));
  if (value == meter->lastValue) return;
  meter->lastValue = value;
  if (esmg_SessionIsStarted()) esmg_Broadcast(ESMG_DEST_NONE, 0, 12, value);
} TAVIRON_GUARD_VOID(err)

} // extern "C"
