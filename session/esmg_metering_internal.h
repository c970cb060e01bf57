// Progress metering through the progress-reporting library; not installed.
#ifndef TAVIRON_SESSION_ESMG_METERING_INTERNAL_H
#define TAVIRON_SESSION_ESMG_METERING_INTERNAL_H

#include <memory>
#include <string>

#include "ProgressReporting.h"
#include "esmg.h"
#include "ethr.h"

// The data of the progress-reporting meter table: the meter, the cancel flag, and the mutex that
// guards both.
struct Esmg_ProgressMeterData {
  std::shared_ptr<ProgressReporting::ProgressMeter> meter;
  bool cancel = false;
  Ethr_Mutex *mutex = nullptr;
};

namespace taviron::session {

// What "ProgressReportingConfig.xml" says: the listener plug-in's name and the search path of
// listener plug-ins.
struct SessionMeterConfig {
  std::u16string name;
  std::u16string path;
};

// Reads a configuration file (its path's variables expanded). Null when there is no such file,
// and null with a report when it is not a file, not XML, or its root element lacks "name" or
// "path".
std::shared_ptr<SessionMeterConfig> ReadMeteringConfig(const std::u16string &file,
                                                       Eerr_ErrorReport **err);

} // namespace taviron::session

#endif
