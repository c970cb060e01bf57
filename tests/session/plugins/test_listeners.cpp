// Two listener plug-ins, "FirstListener" and "SecondListener", whose listeners append what they
// follow to the file TAVIRON_TEST_LISTENER_RECORD names ("<plug-in> <call> <value>" a line); and a
// function for the session manager to call, which appends "<data> <count>" to the file
// TAVIRON_TEST_INVOCATION_RECORD names.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "PluginManager.h"
#include "ProgressReporting.h"

namespace {

void Append(const char *variable, const std::string &line) {
  const char *file = std::getenv(variable);
  if (!file) return;
  if (FILE *out = std::fopen(file, "a")) {
    std::fprintf(out, "%s\n", line.c_str());
    std::fclose(out);
  }
}

std::string Narrow(const std::u16string &text) {
  std::string out;
  for (char16_t unit : text) out += static_cast<char>(unit);
  return out;
}

class RecordingListener : public ProgressReporting::Listener {
public:
  explicit RecordingListener(std::string name) : name_(std::move(name)) {}
  void Begin(int32_t) override { Record("Begin", ""); }
  void CancelQuery(bool &cancel, int32_t) override { cancel = false; }
  void ReportProgress(double progress, int32_t) override {
    char value[32];
    std::snprintf(value, sizeof value, "%g", progress);
    Record("Progress", value);
  }
  void ReportHeartbeat(int32_t) override { Record("Heartbeat", ""); }
  void TaskName(const std::u16string &name, int32_t) override { Record("Task", Narrow(name)); }
  void ProgressInterval(double, double, int32_t) override {}
  void End(int32_t) override { Record("End", ""); }

private:
  void Record(const char *call, const std::string &value) {
    Append("TAVIRON_TEST_LISTENER_RECORD", name_ + " " + call + (value.empty() ? "" : " " + value));
  }
  std::string name_;
};

class RecordingPlugin : public ProgressReporting::IListener {
public:
  explicit RecordingPlugin(std::string name) : name_(std::move(name)) {}
  std::u16string Name() const override { return std::u16string(name_.begin(), name_.end()); }
  std::u16string Description() const override { return u"Records what it follows"; }
  std::u16string Vendor() const override { return u"tests"; }
  std::u16string Version() const override { return u"1"; }
  ProgressReporting::Listener *CreateListener() override { return new RecordingListener(name_); }

private:
  std::string name_;
};

} // namespace

extern "C" void GetAvailablePluginsOfType(const std::u16string &type,
                                          std::vector<std::u16string> &names) {
  if (type != ProgressReporting::kListenerPluginType) return;
  names.emplace_back(u"FirstListener");
  names.emplace_back(u"SecondListener");
}

extern "C" qorv::plugin::IPlugin *FirstListenerGet() { return new RecordingPlugin("FirstListener"); }
extern "C" qorv::plugin::IPlugin *SecondListenerGet() { return new RecordingPlugin("SecondListener"); }

extern "C" void RecordInvocation(const char *data, int32_t count) {
  Append("TAVIRON_TEST_INVOCATION_RECORD", std::string(data ? data : "(null)") + " " + std::to_string(count));
}
