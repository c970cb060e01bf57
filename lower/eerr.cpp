// Error reports. Reports are allocated outside the counted heap so that a report about an
// exhausted heap can still be made.
#include "eerr.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>

#include "internal.h"

namespace {

namespace lower = taviron::lower;

// Handed out when even a report cannot be allocated; never freed.
char kOutOfMemoryReporter[] = "eerr_CreateErrorReport";
char kOutOfMemoryMessage[] = "Out of memory while creating an error report";
Eerr_ErrorReport outOfMemory{nullptr, kOutOfMemoryReporter, 0, EERR_FATAL, kOutOfMemoryMessage};

std::atomic<Eerr_AltErrorFunction> altErrorFunction{nullptr};

char *CopyText(const char *text) {
  if (!text) return nullptr;
  return strdup(text);
}

void FreeOne(Eerr_ErrorReport *report) {
  if (report == &outOfMemory) return;
  std::free(report->reporter);
  std::free(report->message);
  std::free(report);
}

Eerr_ErrorReport *NewReport(const char *reporter, int32_t code, int32_t severity,
                            Eerr_ErrorReport *previous, const char *message) {
  auto *report = static_cast<Eerr_ErrorReport *>(std::calloc(1, sizeof(Eerr_ErrorReport)));
  if (report) {
    report->reporter = CopyText(reporter);
    report->message = CopyText(message);
    if ((reporter && !report->reporter) || (message && !report->message)) {
      FreeOne(report);
      report = nullptr;
    }
  }
  if (!report) return previous ? previous : &outOfMemory;
  report->next = previous;
  report->code = code;
  report->severity = severity;
  return report;
}

const char *SeverityName(int32_t severity) {
  switch (severity) {
  case EERR_WARNING: return "WARNING";
  case EERR_FATAL: return "ERROR";
  default: return "UNKNOWN";
  }
}

// The chain as log lines: severity 0 and -1 give their bare message; others a heading line, then
// the message or, without one, the name of the reporter that failed beneath.
std::string FormatChain(const Eerr_ErrorReport *report) {
  std::string out;
  for (; report; report = report->next) {
    if (report->severity == EERR_MESSAGE || report->severity == EERR_VERBOSE) {
      if (report->message) out.append(report->message).append("\n");
      continue;
    }
    const char *name = SeverityName(report->severity);
    out += lower::Format("%s: #%ld from %s\n", name, static_cast<long>(report->code),
                         report->reporter ? report->reporter : "");
    if (report->message)
      out += lower::Format("%s: %s\n", name, report->message);
    else if (report->next && report->next->reporter)
      out += lower::Format("%s:  %s failed\n", name, report->next->reporter);
  }
  return out;
}

} // namespace

extern "C" {

Eerr_ErrorReport *eerr_CreateErrorReportV(const char *reporter, int32_t code, int32_t severity,
                                          Eerr_ErrorReport *previous, const char *format,
                                          va_list ap) {
  if (!format) return NewReport(reporter, code, severity, previous, nullptr);
  const std::string message = lower::VFormat(format, ap);
  return NewReport(reporter, code, severity, previous, message.c_str());
}

Eerr_ErrorReport *eerr_CreateErrorReport(const char *reporter, int32_t code, int32_t severity,
                                         Eerr_ErrorReport *previous, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  Eerr_ErrorReport *report = eerr_CreateErrorReportV(reporter, code, severity, previous, format, ap);
  va_end(ap);
  return report;
}

void eerr_DeleteErrorReportEx(Eerr_ErrorReport **report) {
  if (!report) return;
  Eerr_ErrorReport *current = *report;
  *report = nullptr;
  while (current) {
    Eerr_ErrorReport *next = current->next;
    FreeOne(current);
    current = next;
  }
}

Eerr_ErrorReport *eerr_ErrorReportDuplicate(const Eerr_ErrorReport *report) {
  Eerr_ErrorReport *head = nullptr;
  Eerr_ErrorReport **tail = &head;
  for (; report; report = report->next) {
    Eerr_ErrorReport *copy = NewReport(report->reporter, report->code, report->severity, nullptr,
                                       report->message);
    if (copy == &outOfMemory) {
      eerr_DeleteErrorReportEx(&head);
      return &outOfMemory;
    }
    *tail = copy;
    tail = &copy->next;
  }
  return head;
}

Eerr_AltErrorFunction eerr_SetAltErrorFunction(Eerr_AltErrorFunction function) {
  return altErrorFunction.exchange(function);
}

Eerr_AltErrorFunction eerr_GetAltErrorFunction(void) { return altErrorFunction.load(); }

void eerr_PrintErrorReportNoZAV(Eerr_ErrorReport *report) {
  if (report) lower::Write(lower::Stream::Err, FormatChain(report));
}

void eerr_PrintErrorReport(Eerr_ErrorReport *report, int32_t /*level*/, void *printArgument) {
  if (!report) return;
  if (Eerr_AltErrorFunction alt = altErrorFunction.load()) {
    Eerr_ErrorReport *err = nullptr;
    alt(printArgument, report, nullptr, &err);
    eerr_DeleteErrorReportEx(&err);
    return;
  }
  eerr_PrintErrorReportNoZAV(report);
}

void eerr_MessageLog(int32_t level, const char *format, ...) {
  if (!format) return;
  va_list ap;
  va_start(ap, format);
  if (lower::MessageLogFunction log = lower::GetMessageLogFunction()) {
    Eerr_ErrorReport *err = nullptr;
    log(level, &err, format, ap);
    eerr_DeleteErrorReportEx(&err);
  } else if (level >= 0 || std::getenv("TAVIRON_VERBOSE_LOG")) {
    std::string line = lower::VFormat(format, ap);
    if (line.empty() || line.back() != '\n') line += '\n';
    lower::Write(lower::Stream::Err, line);
  }
  va_end(ap);
}

} // extern "C"

// ---------------------------------------------------------------------------------------------
// EerrException

EerrException::EerrException(const char *source, const char *function)
    : source_(source ? source : ""), function_(function ? function : "") {}

EerrException::EerrException(const EerrException &other)
    : std::exception(other), source_(other.source_), function_(other.function_),
      report_(eerr_ErrorReportDuplicate(other.report_)) {}

EerrException::EerrException(EerrException &&other) noexcept
    : std::exception(other), source_(std::move(other.source_)),
      function_(std::move(other.function_)), report_(other.report_) {
  other.report_ = nullptr;
}

EerrException &EerrException::operator=(const EerrException &other) {
  if (this != &other) {
    Assign(eerr_ErrorReportDuplicate(other.report_));
    source_ = other.source_;
    function_ = other.function_;
  }
  return *this;
}

EerrException &EerrException::operator=(EerrException &&other) noexcept {
  if (this != &other) {
    eerr_DeleteErrorReportEx(&report_);
    report_ = other.report_;
    other.report_ = nullptr;
    source_ = std::move(other.source_);
    function_ = std::move(other.function_);
  }
  return *this;
}

EerrException::~EerrException() { eerr_DeleteErrorReportEx(&report_); }

void EerrException::Check(int32_t code) {
  if (!report_) return;
  report_ = eerr_CreateErrorReport(function_.c_str(), code, EERR_FATAL, report_, nullptr);
  throw EerrException(std::move(*this));
}

void EerrException::Throw(int32_t code, const char *message) {
  report_ = eerr_CreateErrorReport(function_.c_str(), code, EERR_FATAL, report_,
                                   message ? "%s" : nullptr, message);
  throw EerrException(std::move(*this));
}

void EerrException::Log() {
  if (!report_) return;
  eerr_PrintErrorReport(report_, 1, nullptr);
  eerr_DeleteErrorReportEx(&report_);
}

void EerrException::Assign(Eerr_ErrorReport *chain) {
  if (chain == report_) return;
  eerr_DeleteErrorReportEx(&report_);
  report_ = chain;
}

Eerr_ErrorReport *EerrException::Release() {
  Eerr_ErrorReport *chain = report_;
  report_ = nullptr;
  return chain;
}

const char *EerrException::what() const noexcept {
  for (const Eerr_ErrorReport *r = report_; r; r = r->next)
    if (r->message) return r->message;
  return "error report";
}
