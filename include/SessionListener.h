// The progress listener of the session services: a listener of the progress-reporting library that
// forwards progress to the session manager as job reports, the plug-in object that offers it, and
// the set-up of metering from "ProgressReportingConfig.xml". The library itself is the listener
// plug-in: it offers the plug-in "SessionListenerPlugin" of the type "ProgressReportingListener".
#ifndef TAVIRON_SESSIONLISTENER_H
#define TAVIRON_SESSIONLISTENER_H

#include <cstdint>
#include <string>
#include <vector>

#include "PluginManager.h"
#include "taviron_export.h"
#include "ProgressReporting.h"

namespace Esmg {

class TAVIRON_API SessionListener : public ProgressReporting::Listener {
public:
  // Named; the progress interval is 0 to 100.
  explicit SessionListener(const std::u16string &name);
  ~SessionListener() override;

  // Reads whether this is a batch run; the interval is 0 to 100 again.
  void Begin(int32_t identifier) override;
  // True when the user interrupted (the interrupt is then cleared).
  void CancelQuery(bool &cancel, int32_t identifier) override;
  // Progress in percent of the interval: reported (as the percent) when the whole value in the
  // interval changed; a user interrupt ends the process with exit code 1. Nothing in a batch run.
  void ReportProgress(double progress, int32_t identifier) override;
  void ReportHeartbeat(int32_t identifier) override;
  void TaskName(const std::u16string &name, int32_t identifier) override;
  void ProgressInterval(double start, double end, int32_t identifier) override;
  void End(int32_t identifier) override;
  using ProgressReporting::Listener::operator=;

  const std::u16string &Name() const { return name_; }

protected:
  SessionListener();

private:
  SessionListener(const SessionListener &other);
  SessionListener &operator=(const SessionListener &other);

  std::u16string name_;
  double start_ = 0.0;
  double end_ = 100.0;
  double last_ = 0.0;
  bool batchRun_ = false;
};

// The plug-in object: "SessionListener", and its listener "SessionMeter".
class TAVIRON_API ISessionListener : public ProgressReporting::IListener {
public:
  std::u16string Name() const override;
  std::u16string Description() const override;
  std::u16string Vendor() const override;
  std::u16string Version() const override;
  ProgressReporting::Listener *CreateListener() override;
};

} // namespace Esmg

// The plug-in exports.
extern "C" TAVIRON_API qorv::plugin::IPlugin *SessionListenerPluginGet();
extern "C" TAVIRON_API void GetAvailablePluginsOfType(const std::u16string &type,
                                          std::vector<std::u16string> &names);

// Reads the configuration file (its root element's "name" and "path": the listener plug-in and
// the search path of listener plug-ins), loads the plug-in of that name and makes its listener
// follow the lower layer's progress meters. False, with nothing changed, when the file or the
// plug-in is missing or unreadable.
bool SetMeteringFromConfigFile(const std::u16string &path);

#endif
