// Progress metering through the progress-reporting library: the configuration file, the listener
// plug-in it names, and the meter table that drives the library's meter.
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include <xercesc/dom/DOM.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/ErrorHandler.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>

#include "EthrMutex.h"
#include "PluginManager.h"
#include "ProgressReporting.h"
#include "SessionListener.h"
#include "emet.h"
#include "emsc.h"
#include "eplg.h"
#include "esmg.h"
#include "esmg_metering_internal.h"
#include "esmg_session_internal.h"
#include "estr.h"
#include "internal.h"

namespace lower = taviron::lower;
namespace xml = xercesc;

namespace {

using taviron::session::LogCaughtException;
using taviron::session::SessionMeterConfig;

// ---------------------------------------------------------------------------------------------
// Text

std::string Narrow(const std::u16string &text) {
  char *narrow = estr_Unicode2Ascii(text.c_str());
  std::string out = narrow ? narrow : "";
  emsc_HeapFree(narrow);
  return out;
}

std::u16string Widen(const char *text) {
  std::u16string out;
  for (const char *p = text; p && *p; ++p) out += static_cast<char16_t>(static_cast<unsigned char>(*p));
  return out;
}

// The text with its variables expanded; the text itself when the expansion fails.
std::string Expanded(const std::string &text) {
  char *expanded = estr_PathExpand(text.c_str(), nullptr, 0);
  std::string out = expanded ? expanded : text;
  emsc_HeapFree(expanded);
  return out;
}

// ---------------------------------------------------------------------------------------------
// The configuration file

// Notes the first error the parser met; never throws, so the parse ends on its own.
class ParseErrors : public xml::ErrorHandler {
public:
  void warning(const xml::SAXParseException &) override {}
  void error(const xml::SAXParseException &caught) override { Note(caught); }
  void fatalError(const xml::SAXParseException &caught) override { Note(caught); }
  void resetErrors() override { first.clear(); }
  std::string first;

private:
  void Note(const xml::SAXParseException &caught) {
    if (!first.empty()) return;
    char *message = xml::XMLString::transcode(caught.getMessage());
    first = "line " + std::to_string(caught.getLineNumber()) + ": " + (message ? message : "");
    xml::XMLString::release(&message);
  }
};

// The XML library for the extent of a scope.
class XmlLibrary {
public:
  XmlLibrary() { xml::XMLPlatformUtils::Initialize(); }
  ~XmlLibrary() { xml::XMLPlatformUtils::Terminate(); }
  XmlLibrary(const XmlLibrary &) = delete;
  XmlLibrary &operator=(const XmlLibrary &) = delete;
};

constexpr XMLSize_t kEntityExpansionLimit = 1000;
constexpr const char *kReporter = "SetMeteringFromConfigFile";

std::shared_ptr<SessionMeterConfig> ParseConfig(const std::string &file, Eerr_ErrorReport **err) {
  XmlLibrary library;
  std::u16string name, path;
  // The parser's exceptions are caught while the library lives: they need it to be destroyed.
  try {
    xml::XercesDOMParser parser;
    parser.setValidationScheme(xml::XercesDOMParser::Val_Never);
    parser.setDoNamespaces(false);
    parser.setDoSchema(false);
    parser.setLoadExternalDTD(false);
    parser.setDisableDefaultEntityResolution(true);
    xml::SecurityManager security;
    security.setEntityExpansionLimit(kEntityExpansionLimit);
    parser.setSecurityManager(&security);
    ParseErrors errors;
    parser.setErrorHandler(&errors);
    parser.parse(file.c_str());
    if (!errors.first.empty() || parser.getErrorCount() != 0) {
      lower::Report(err, kReporter, 1, "%s is not a progress-reporting configuration (%s)",
                    file.c_str(), errors.first.empty() ? "unreadable" : errors.first.c_str());
      return nullptr;
    }
    xml::DOMDocument *document = parser.getDocument();
    xml::DOMElement *root = document ? document->getDocumentElement() : nullptr;
    if (!root || !root->hasAttribute(u"name") || !root->hasAttribute(u"path")) {
      lower::Report(err, kReporter, 2, "%s names no listener plug-in (\"name\" and \"path\")",
                    file.c_str());
      return nullptr;
    }
    name = root->getAttribute(u"name");
    path = root->getAttribute(u"path");
  } catch (...) {
    lower::Report(err, kReporter, 4, "%s is not a progress-reporting configuration (%s)",
                  file.c_str(), "the parser gave up");
    return nullptr;
  }
  auto config = std::make_shared<SessionMeterConfig>();
  config->name = std::move(name);
  config->path = Widen(Expanded(Narrow(path)).c_str());
  return config;
}

// ---------------------------------------------------------------------------------------------
// The plug-in manager: made on first use, deleted at process exit.

struct ManagerHolder {
  std::mutex mutex;
  qorv::plugin::PluginManager *manager = nullptr;
  bool deleted = false;
};

ManagerHolder &Holder() {
  static auto *holder = new ManagerHolder; // the at-exit handler needs it after static objects
  return *holder;
}

void DeleteManager() {
  ManagerHolder &holder = Holder();
  std::lock_guard lock(holder.mutex);
  delete holder.manager;
  holder.manager = nullptr;
  holder.deleted = true;
}

qorv::plugin::PluginManager &Manager() {
  ManagerHolder &holder = Holder();
  std::lock_guard lock(holder.mutex);
  if (holder.deleted) throw std::logic_error("Dead Reference Detected");
  if (!holder.manager) {
    holder.manager = new qorv::plugin::PluginManager;
    std::atexit(DeleteManager);
  }
  return *holder.manager;
}

// ---------------------------------------------------------------------------------------------
// The progress-reporting meter table. Its slots work on the data under the data's mutex; the
// meter's calls (which reach listeners) are made on a reference taken under it.

std::shared_ptr<ProgressReporting::ProgressMeter> MeterOf(Esmg_ProgressMeterData *data) {
  EthrMutex guard(data->mutex);
  return data->meter;
}

void MeterCreate(void *word, void *data) {
  if (!word || !data) return;
  auto *meterData = static_cast<Esmg_ProgressMeterData *>(data);
  try {
    // The meter followed so far ends before the new one begins.
    std::shared_ptr<ProgressReporting::ProgressMeter> meter;
    {
      EthrMutex guard(meterData->mutex);
      meterData->meter.swap(meter);
    }
    meter.reset();
    meter = ProgressReporting::ProgressMeterFactory::Create(0);
    EthrMutex guard(meterData->mutex);
    meterData->meter = std::move(meter);
    meterData->cancel = false;
  } catch (...) {
    LogCaughtException("esmg", "ProgressReportingMeterMeterCreate", 695);
  }
}

void MeterTaskName(void *word, void *data, const char *text, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!word || !data) return;
  try {
    if (auto meter = MeterOf(static_cast<Esmg_ProgressMeterData *>(data)))
      meter->SetTaskName(Widen(text));
  } catch (...) {
    LogCaughtException("esmg", "ProgressReportingMeterMeterTaskName", 728);
  }
}

int32_t MeterCancelQuery(void *, void *data, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!data) return 0;
  auto *meterData = static_cast<Esmg_ProgressMeterData *>(data);
  EthrMutex guard(meterData->mutex);
  return meterData->cancel ? 1 : 0;
}

void MeterPrint(Emet_MeterInfo *info, void *data, double percent, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!info || !data) return;
  try {
    auto meter = MeterOf(static_cast<Esmg_ProgressMeterData *>(data));
    if (!meter) return;
    if (info->start == 0.0 && info->end == 0.0)
      meter->ReportHeartbeat();
    else
      meter->ReportProgress(info->start + (info->end - info->start) * percent / 100.0);
  } catch (...) {
    LogCaughtException("esmg", "ProgressReportingMeterMeterPrint", 766);
  }
}

void MeterClearCancel(void *word, void *data, Eerr_ErrorReport **err) {
  lower::Clear(err);
  if (!word || !data) return;
  auto *meterData = static_cast<Esmg_ProgressMeterData *>(data);
  EthrMutex guard(meterData->mutex);
  meterData->cancel = false;
}

constexpr Emet_MeterFuncs kProgressReportingTable = {
    MeterCreate, MeterTaskName, MeterCancelQuery, MeterPrint, nullptr, nullptr, MeterClearCancel};

} // namespace

namespace taviron::session {

std::shared_ptr<SessionMeterConfig> ReadMeteringConfig(const std::u16string &file,
                                                       Eerr_ErrorReport **err) {
  lower::Clear(err);
  try {
    const std::string path = Expanded(Narrow(file));
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) return nullptr; // no configuration
    // Only a file: a device or a pipe would hold the parse for ever.
    if (!S_ISREG(st.st_mode)) {
      lower::Report(err, kReporter, 3, "%s is not a file", path.c_str());
      return nullptr;
    }
    return ParseConfig(path, err);
  } catch (...) {
    lower::ReportException(err, kReporter);
    return nullptr;
  }
}

bool SetUpMetering(const char *configurationFile) {
  return SetMeteringFromConfigFile(Widen(configurationFile));
}

} // namespace taviron::session

bool SetMeteringFromConfigFile(const std::u16string &path) {
  try {
    // A configuration that cannot be read is told as a warning; the meters stay as they are.
    lower::CalleeReport unreadable;
    std::shared_ptr<SessionMeterConfig> config =
        taviron::session::ReadMeteringConfig(path, &unreadable);
    if (unreadable) {
      unreadable->severity = EERR_WARNING;
      eerr_PrintErrorReport(unreadable.Get(), 1, nullptr);
    }
    if (!config) return false;
    qorv::plugin::PluginList plugins = Manager().LoadPluginsOfType(
        ProgressReporting::kListenerPluginType, {u"Get"}, config->path, 1);
    for (const auto &[name, factory] : plugins) {
      if (name != config->name) continue;
      std::unique_ptr<qorv::plugin::IPlugin> plugin(factory());
      if (!plugin) return false;
      std::shared_ptr<ProgressReporting::Listener> listener(
          static_cast<ProgressReporting::IListener *>(plugin.get())->CreateListener());
      if (!listener) return false;
      ProgressReporting::ProgressMeterFactory::Listen(listener, 0);
      lower::CalleeReport inner;
      emet_SetAltMeterFuncsExt(ProgressReportingMeterFuncs(), ProgressReportingMeterData(), 1,
                               &inner);
      inner.Drop();
      eplg_SetAltMeterFuncs(ProgressReportingMeterFuncs(), ProgressReportingMeterData(), &inner);
      return true;
    }
    return false;
  } catch (...) {
    return false;
  }
}

extern "C" {

const Emet_MeterFuncs *ProgressReportingMeterFuncs(void) try { return &kProgressReportingTable; } TAVIRON_GUARD_QUIET(nullptr)

Esmg_ProgressMeterData *ProgressReportingMeterData(void) try {
  static Esmg_ProgressMeterData *data = [] {
    auto *made = new Esmg_ProgressMeterData; // lives as long as the process
    made->mutex = ethr_MutexCreate();
    return made;
  }();
  return data;
} TAVIRON_GUARD_QUIET(nullptr)

} // extern "C"
