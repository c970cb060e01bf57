// The progress-reporting library: meters forward to the listeners of their identifier.
#include "ProgressReporting.h"

#include <map>
#include <mutex>
#include <vector>

namespace ProgressReporting {

namespace {

using Listeners = std::vector<std::shared_ptr<Listener>>;

struct Registry {
  std::mutex mutex;
  std::map<int32_t, Listeners> listeners;
};

// Lives as long as the process: meters and listeners may outlive the static objects.
Registry &R() {
  static Registry *registry = new Registry;
  return *registry;
}

// The listeners of the identifier now; called without the lock held.
Listeners Of(int32_t identifier) {
  std::lock_guard lock(R().mutex);
  auto it = R().listeners.find(identifier);
  return it == R().listeners.end() ? Listeners{} : it->second;
}

} // namespace

ProgressMeter::ProgressMeter(int32_t identifier) : identifier_(identifier) {}

ProgressMeter::~ProgressMeter() {
  for (const auto &listener : Of(identifier_)) listener->End(identifier_);
}

void ProgressMeter::ReportProgress(double value) {
  for (const auto &listener : Of(identifier_)) listener->ReportProgress(value, identifier_);
}

void ProgressMeter::ReportHeartbeat() {
  for (const auto &listener : Of(identifier_)) listener->ReportHeartbeat(identifier_);
}

void ProgressMeter::SetTaskName(const std::u16string &name) {
  for (const auto &listener : Of(identifier_)) listener->TaskName(name, identifier_);
}

std::shared_ptr<ProgressMeter> ProgressMeterFactory::Create(int32_t identifier) {
  auto meter = std::make_shared<ProgressMeter>(identifier);
  for (const auto &listener : Of(identifier)) listener->Begin(identifier);
  return meter;
}

void ProgressMeterFactory::Listen(std::shared_ptr<Listener> listener, int32_t identifier) {
  if (!listener) return;
  std::lock_guard lock(R().mutex);
  R().listeners[identifier].push_back(std::move(listener));
}

} // namespace ProgressReporting
