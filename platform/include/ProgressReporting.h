// The progress-reporting library: meters that a task drives, and listeners that follow them.
// A listener registered for an identifier follows every meter created with that identifier from
// then on: Begin when the meter is created, then its task names, progress values and heartbeats,
// End when the meter goes. Meters call listeners on the thread that drives them. The listener
// classes are defined in this header alone, so a listener plug-in needs nothing of the library.
#ifndef TAVIRON_PROGRESSREPORTING_H
#define TAVIRON_PROGRESSREPORTING_H

#include "taviron_export.h"
#include <cstdint>
#include <memory>
#include <string>

#include "PluginManager.h"

namespace ProgressReporting {

// What follows the meters. The identifier is the one the meter was created with.
class TAVIRON_API Listener {
public:
  Listener() = default;
  Listener(const Listener &) = default;
  virtual ~Listener() = default;
  virtual void Begin(int32_t identifier) = 0;
  virtual void CancelQuery(bool &cancel, int32_t identifier) = 0;
  virtual void ReportProgress(double progress, int32_t identifier) = 0;
  virtual void ReportHeartbeat(int32_t identifier) = 0;
  virtual void TaskName(const std::u16string &name, int32_t identifier) = 0;
  virtual void ProgressInterval(double start, double end, int32_t identifier) = 0;
  virtual void End(int32_t identifier) = 0;
  virtual Listener &operator=(const Listener &) { return *this; }
};

// The plug-in type of listener plug-ins, and the plug-in object that makes their listeners.
inline constexpr const char16_t *kListenerPluginType = u"ProgressReportingListener";

class TAVIRON_API IListener : public qorv::plugin::IPlugin {
public:
  // A new listener; the caller owns it.
  virtual Listener *CreateListener() = 0;
};

// A meter: what it is told goes to the listeners of its identifier.
class TAVIRON_API ProgressMeter {
public:
  explicit ProgressMeter(int32_t identifier);
  ProgressMeter(const ProgressMeter &) = delete;
  ProgressMeter &operator=(const ProgressMeter &) = delete;
  ~ProgressMeter();
  void ReportProgress(double value);
  void ReportHeartbeat();
  void SetTaskName(const std::u16string &name);
  int32_t Identifier() const { return identifier_; }

private:
  int32_t identifier_;
};

class TAVIRON_API ProgressMeterFactory {
public:
  // A new meter; its listeners are told Begin.
  static std::shared_ptr<ProgressMeter> Create(int32_t identifier);
  // Registers a listener for the meters of the identifier (a null listener is ignored).
  static void Listen(std::shared_ptr<Listener> listener, int32_t identifier);
};

} // namespace ProgressReporting

#endif
