/* Error reports: a chain of reports, newest first, each naming its reporter, code and severity. */
#ifndef TAVIRON_EERR_H
#define TAVIRON_EERR_H

#include <stdarg.h>
#include <stdint.h>

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* Severities. Severity 0 passes on a plain message, -1 a verbose one. */
#define EERR_VERBOSE (-1)
#define EERR_MESSAGE 0
#define EERR_WARNING 1
#define EERR_FATAL 2

typedef struct Eerr_ErrorReport Eerr_ErrorReport;
struct Eerr_ErrorReport {
  Eerr_ErrorReport *next; /* the previous, deeper report this one chains, or null */
  char *reporter;         /* name of the reporting function */
  int32_t code;           /* check ordinal or source line */
  int32_t severity;
  char *message;          /* may be null */
};

/* A new report chaining `previous` (which it takes over); the message is formatted from the
   printf format and the arguments (a closing 0 after them is allowed and ignored). A null format
   gives a report without message. */
Eerr_ErrorReport *eerr_CreateErrorReport(const char *reporter, int32_t code, int32_t severity,
                                         Eerr_ErrorReport *previous, const char *format, ...);
Eerr_ErrorReport *eerr_CreateErrorReportV(const char *reporter, int32_t code, int32_t severity,
                                          Eerr_ErrorReport *previous, const char *format,
                                          va_list ap);
/* Frees the whole chain *report and nulls the pointer; null and *null are accepted. */
void eerr_DeleteErrorReportEx(Eerr_ErrorReport **report);
/* A deep copy of the chain, or null for null. */
Eerr_ErrorReport *eerr_ErrorReportDuplicate(const Eerr_ErrorReport *report);

/* The alternate error function, installed by the session services: it receives every chain
   printed with eerr_PrintErrorReport (context word = the print argument). */
typedef void (*Eerr_AltErrorFunction)(void *context, Eerr_ErrorReport *chain, void *ignored,
                                      Eerr_ErrorReport **err);
/* Installs the function (null removes it); returns the one installed before. */
Eerr_AltErrorFunction eerr_SetAltErrorFunction(Eerr_AltErrorFunction function);
Eerr_AltErrorFunction eerr_GetAltErrorFunction(void);

/* Shows the chain to the user: through the alternate error function when one is installed, else
   on standard error, as lines "SEVERITY: #code from reporter" and "SEVERITY: message". level 0 is
   for minor reports, 1 for warnings that matter. Never deletes the chain. */
void eerr_PrintErrorReport(Eerr_ErrorReport *report, int32_t level, void *printArgument);
/* The same, always local: never through the alternate error function. */
void eerr_PrintErrorReportNoZAV(Eerr_ErrorReport *report);
/* Writes one log line: through the installed log function when there is one, else on standard
   error (level -1, diagnostics, only when TAVIRON_VERBOSE_LOG is set). */
void eerr_MessageLog(int32_t level, const char *format, ...);

TAVIRON_END_DECLS

#ifdef __cplusplus

#include <exception>
#include <string>

/* The exception of the class layer. It owns an error slot that C calls fill; Check and Throw
   turn a held report into a thrown exception. */
class TAVIRON_API EerrException : public std::exception {
public:
  EerrException(const char *source, const char *function);
  EerrException(const EerrException &other);
  EerrException(EerrException &&other) noexcept;
  EerrException &operator=(const EerrException &other);
  EerrException &operator=(EerrException &&other) noexcept;
  ~EerrException() override;

  /* The error slot for C calls. */
  Eerr_ErrorReport **Err() { return &report_; }
  operator Eerr_ErrorReport **() { return &report_; }
  Eerr_ErrorReport *Report() const { return report_; }
  const char *Source() const { return source_.c_str(); }
  const char *Function() const { return function_.c_str(); }

  /* Throws when the slot holds a report: a report of the function with this code chains it. */
  void Check(int32_t code);
  /* Throws a new report (code, message) that chains whatever the slot holds. */
  [[noreturn]] void Throw(int32_t code, const char *message);
  /* Writes the held chain through the print path and drops it (for destructors that must not
     throw). */
  void Log();
  /* Takes over a chain, dropping the one held. */
  void Assign(Eerr_ErrorReport *chain);
  /* Gives up the held chain to the caller. */
  Eerr_ErrorReport *Release();

  const char *what() const noexcept override;

private:
  std::string source_;
  std::string function_;
  Eerr_ErrorReport *report_ = nullptr;
};
#endif

#endif
