// The session listener: progress of the progress-reporting library's meters, forwarded to the
// session manager as job reports; and the plug-in object and exports that offer it.
#include "SessionListener.h"

#include <cmath>
#include <locale>
#include <string>

#include "eerr.h"
#include "emsc.h"
#include "esmg.h"
#include "esmg_session_internal.h"
#include "estr.h"
#include "guard.h"

namespace {

constexpr const char16_t *kPluginName = u"SessionListenerPlugin";

// 8-bit text of a UTF-16 name (units above 255 become '?').
std::string Narrow(const std::u16string &text) {
  char *narrow = estr_Unicode2Ascii(text.c_str());
  std::string out = narrow ? narrow : "";
  emsc_HeapFree(narrow);
  return out;
}

// UTF-16 of 8-bit text, each character widened through the classic locale.
std::u16string WidenClassic(const std::string &text) {
  const auto &facet = std::use_facet<std::ctype<wchar_t>>(std::locale::classic());
  std::u16string out;
  for (char c : text) out += static_cast<char16_t>(static_cast<unsigned char>(facet.widen(c)));
  return out;
}

} // namespace

namespace Esmg {

SessionListener::SessionListener() = default;

SessionListener::SessionListener(const std::u16string &name) : name_(name) {}

SessionListener::SessionListener(const SessionListener &other)
    : ProgressReporting::Listener(other), name_(other.name_), start_(other.start_),
      end_(other.end_) {}

SessionListener &SessionListener::operator=(const SessionListener &other) {
  if (this == &other) return *this;
  name_ = other.name_;
  start_ = other.start_;
  end_ = other.end_;
  return *this;
}

SessionListener::~SessionListener() = default;

void SessionListener::Begin(int32_t) {
  batchRun_ = esmg_IsBatchRun() != 0;
  start_ = 0.0;
  end_ = 100.0;
  last_ = 0.0;
}

void SessionListener::CancelQuery(bool &cancel, int32_t) {
  if (esmg_InterruptQuery()) {
    cancel = true;
    esmg_InterruptClear();
  }
}

void SessionListener::ReportProgress(double progress, int32_t identifier) {
  if (batchRun_) return;
  bool cancel = false;
  CancelQuery(cancel, identifier);
  if (cancel) taviron::session::EndProcess(1);
  const double value =
      std::trunc(std::trunc(std::round((end_ - start_) * (progress * 0.01))) + start_);
  if (value == last_) return;
  last_ = value;
  EerrException exception("esmg", "SessionListener::ReportProgress");
  esmg_JobProgress(static_cast<int32_t>(progress), exception.Err());
  exception.Check(1);
}

void SessionListener::ReportHeartbeat(int32_t) {
  EerrException exception("esmg", "SessionListener::ReportHeartbeat");
  esmg_JobProgress(0, exception.Err());
  exception.Check(1);
}

void SessionListener::TaskName(const std::u16string &name, int32_t) {
  EerrException exception("esmg", "SessionListener::TaskName");
  esmg_JobState(Narrow(name).c_str(), exception.Err());
  exception.Check(1);
}

void SessionListener::ProgressInterval(double start, double end, int32_t) {
  start_ = start;
  end_ = end;
  last_ = start;
}

void SessionListener::End(int32_t) {
  EerrException exception("esmg", "SessionListener::End");
  esmg_JobProgress(static_cast<int32_t>(end_), exception.Err());
  exception.Check(1);
}

std::u16string ISessionListener::Name() const { return u"SessionListener"; }

std::u16string ISessionListener::Description() const {
  return u"Provides Metering with the TAVIRON Session Manager";
}

std::u16string ISessionListener::Vendor() const { return u"NORIX"; }

std::u16string ISessionListener::Version() const { return u"9.4.0"; }

ProgressReporting::Listener *ISessionListener::CreateListener() {
  return new SessionListener(WidenClassic("SessionMeter"));
}

} // namespace Esmg

extern "C" qorv::plugin::IPlugin *SessionListenerPluginGet() try {
  return new Esmg::ISessionListener;
} TAVIRON_GUARD_QUIET(nullptr)

extern "C" void GetAvailablePluginsOfType(const std::u16string &type,
                                          std::vector<std::u16string> &names) try {
  if (type == ProgressReporting::kListenerPluginType) names.emplace_back(kPluginName);
} TAVIRON_GUARD_QUIET_VOID
