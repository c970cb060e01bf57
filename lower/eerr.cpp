// Error reports. Reports are allocated outside the counted heap so that a report about an
// exhausted heap can still be made.
#include "eerr.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
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

// The formatted text in a block of the C heap (outside the counted heap, like the reports), or
// null when it cannot be had. Never throws.
char *FormatRaw(const char *format, va_list ap) noexcept {
  va_list copy;
  va_copy(copy, ap);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n < 0) return CopyText(""); // a format the C library refuses gives an empty message
  auto *text = static_cast<char *>(std::malloc(static_cast<std::size_t>(n) + 1));
  if (text) std::vsnprintf(text, static_cast<std::size_t>(n) + 1, format, ap);
  return text;
}

void FreeOne(Eerr_ErrorReport *report) {
  if (report == &outOfMemory) return;
  std::free(report->reporter);
  std::free(report->message);
  std::free(report);
}

// A report taking over `message` (a C-heap block, or null for none); `lost` tells that a message
// was wanted and could not be made.
Eerr_ErrorReport *NewReport(const char *reporter, int32_t code, int32_t severity,
                            Eerr_ErrorReport *previous, char *message, bool lost) noexcept {
  auto *report = static_cast<Eerr_ErrorReport *>(std::calloc(1, sizeof(Eerr_ErrorReport)));
  if (report) {
    report->reporter = CopyText(reporter);
    report->message = message;
    message = nullptr;
    if ((reporter && !report->reporter) || lost) {
      FreeOne(report);
      report = nullptr;
    }
  }
  std::free(message);
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

// Text gathered in a block of the C heap; a failed growth is remembered and the text is then
// written piece by piece instead, so that printing a report never throws.
class Lines {
public:
  Lines() = default;
  Lines(const Lines &) = delete;
  Lines &operator=(const Lines &) = delete;
  ~Lines() { std::free(text_); }

  void Add(const char *piece) noexcept {
    const std::size_t n = std::strlen(piece);
    if (!failed_ && size_ + n + 1 > capacity_) {
      const std::size_t capacity = std::max(2 * capacity_, size_ + n + 1);
      char *grown = static_cast<char *>(std::realloc(text_, capacity));
      if (grown) {
        text_ = grown;
        capacity_ = capacity;
      } else {
        Flush();
        failed_ = true;
      }
    }
    if (failed_) {
      lower::Write(lower::Stream::Err, piece, n);
      return;
    }
    std::memcpy(text_ + size_, piece, n);
    size_ += n;
  }
  void Flush() noexcept {
    lower::Write(lower::Stream::Err, text_, size_);
    size_ = 0;
  }

private:
  char *text_ = nullptr;
  std::size_t size_ = 0, capacity_ = 0;
  bool failed_ = false;
};

// Writes the chain as log lines: severity 0 and -1 give their bare message; others a heading
// line, then the message or, without one, the name of the reporter that failed beneath.
void PrintChain(const Eerr_ErrorReport *report) noexcept {
  Lines out;
  char number[16];
  for (; report; report = report->next) {
    if (report->severity == EERR_MESSAGE || report->severity == EERR_VERBOSE) {
      if (report->message) {
        out.Add(report->message);
        out.Add("\n");
      }
      continue;
    }
    const char *name = SeverityName(report->severity);
    std::snprintf(number, sizeof number, "%ld", static_cast<long>(report->code));
    for (const char *piece : {name, ": #", static_cast<const char *>(number), " from ",
                              report->reporter ? static_cast<const char *>(report->reporter) : "", "\n"})
      out.Add(piece);
    if (report->message) {
      for (const char *piece : {name, ": ", static_cast<const char *>(report->message), "\n"}) out.Add(piece);
    } else if (report->next && report->next->reporter) {
      for (const char *piece : {name, ":  ", static_cast<const char *>(report->next->reporter), " failed\n"})
        out.Add(piece);
    }
  }
  out.Flush();
}

} // namespace

namespace taviron::lower {

Eerr_ErrorReport *JoinChains(Eerr_ErrorReport *newer, Eerr_ErrorReport *older) noexcept {
  if (!newer) return older;
  if (!older || older == newer) return newer;
  Eerr_ErrorReport *last = newer;
  while (last->next) last = last->next;
  if (last == &outOfMemory) {
    // The static report takes no successor: the older chain is given up.
    eerr_DeleteErrorReportEx(&older);
    return newer;
  }
  last->next = older;
  return newer;
}

} // namespace taviron::lower

extern "C" {

Eerr_ErrorReport *eerr_CreateErrorReportV(const char *reporter, int32_t code, int32_t severity,
                                          Eerr_ErrorReport *previous, const char *format,
                                          va_list ap) try {
  if (!format) return NewReport(reporter, code, severity, previous, nullptr, false);
  char *message = FormatRaw(format, ap);
  return NewReport(reporter, code, severity, previous, message, message == nullptr);
} TAVIRON_GUARD_QUIET(nullptr)

Eerr_ErrorReport *eerr_CreateErrorReport(const char *reporter, int32_t code, int32_t severity,
                                         Eerr_ErrorReport *previous, const char *format, ...) try {
  va_list ap;
  va_start(ap, format);
  Eerr_ErrorReport *report = eerr_CreateErrorReportV(reporter, code, severity, previous, format, ap);
  va_end(ap);
  return report;
} TAVIRON_GUARD_QUIET(nullptr)

void eerr_DeleteErrorReportEx(Eerr_ErrorReport **report) try {
  if (!report) return;
  Eerr_ErrorReport *current = *report;
  *report = nullptr;
  while (current) {
    Eerr_ErrorReport *next = current->next;
    FreeOne(current);
    current = next;
  }
} TAVIRON_GUARD_VOID(report)

Eerr_ErrorReport *eerr_ErrorReportDuplicate(const Eerr_ErrorReport *report) try {
  Eerr_ErrorReport *head = nullptr;
  Eerr_ErrorReport **tail = &head;
  for (; report; report = report->next) {
    char *message = CopyText(report->message);
    Eerr_ErrorReport *copy = NewReport(report->reporter, report->code, report->severity, nullptr,
                                       message, report->message && !message);
    if (copy == &outOfMemory) {
      eerr_DeleteErrorReportEx(&head);
      return &outOfMemory;
    }
    *tail = copy;
    tail = &copy->next;
  }
  return head;
} TAVIRON_GUARD_QUIET(nullptr)

Eerr_AltErrorFunction eerr_SetAltErrorFunction(Eerr_AltErrorFunction function) try {
  return altErrorFunction.exchange(function);
} TAVIRON_GUARD_QUIET(nullptr)

Eerr_AltErrorFunction eerr_GetAltErrorFunction(void) try { return altErrorFunction.load(); } TAVIRON_GUARD_QUIET(nullptr)

void eerr_PrintErrorReportNoZAV(Eerr_ErrorReport *report) try {
  if (report) PrintChain(report);
} TAVIRON_GUARD_QUIET_VOID

void eerr_PrintErrorReport(Eerr_ErrorReport *report, int32_t /*level*/, void *printArgument) try {
  if (!report) return;
  if (Eerr_AltErrorFunction alt = altErrorFunction.load()) {
    Eerr_ErrorReport *err = nullptr;
    alt(printArgument, report, nullptr, &err);
    eerr_DeleteErrorReportEx(&err);
    return;
  }
  eerr_PrintErrorReportNoZAV(report);
} TAVIRON_GUARD_QUIET_VOID

void eerr_MessageLog(int32_t level, const char *format, ...) try {
  if (!format) return;
  va_list ap;
  va_start(ap, format);
  if (lower::MessageLogFunction log = lower::GetMessageLogFunction()) {
    Eerr_ErrorReport *err = nullptr;
    log(level, &err, format, ap);
    eerr_DeleteErrorReportEx(&err);
  } else if (level >= 0 || std::getenv("TAVIRON_VERBOSE_LOG")) {
    if (char *line = FormatRaw(format, ap)) {
      std::size_t n = std::strlen(line);
      if (n == 0 || line[n - 1] != '\n') {
        if (char *longer = static_cast<char *>(std::realloc(line, n + 2))) {
          line = longer;
          line[n++] = '\n';
        } else {
          lower::Write(lower::Stream::Err, line, n);
          n = 0;
          line[n++] = '\n';
        }
      }
      lower::Write(lower::Stream::Err, line, n);
      std::free(line);
    }
  }
  va_end(ap);
} TAVIRON_GUARD_QUIET_VOID

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
