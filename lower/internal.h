// Plumbing shared by the families of the lower layer; not installed.
#ifndef TAVIRON_LOWER_INTERNAL_H
#define TAVIRON_LOWER_INTERNAL_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "eerr.h"
#include "guard.h"
#include "ownership.h"

namespace taviron::lower {

enum class Stream { Out = 1, Err = 2 };

// Writes through the replaceable print sink (standard output / standard error by default).
void Write(Stream stream, const char *text, std::size_t length);
void Write(Stream stream, const std::string &text);

// printf-style formatting into a std::string / a new heap string (emsc heap); null format gives
// an empty string / null.
std::string VFormat(const char *format, va_list ap);
std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
char *HeapVFormat(const char *format, va_list ap);

// A heap copy (emsc heap) of n bytes of text, terminated; null when out of memory.
char *HeapCopy(const char *text, std::size_t n);

// Stores a new report in *err (when err is not null), chaining what the slot held.
void Report(Eerr_ErrorReport **err, const char *reporter, int32_t code, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
// Hands a callee's report `inner` to the slot (dropping it when err is null) and chains the
// caller's own report above it.
void ReportChained(Eerr_ErrorReport **err, Eerr_ErrorReport *inner, const char *reporter,
                   int32_t code, const char *format, ...) __attribute__((format(printf, 5, 6)));
// Hands a callee's report `inner` to the slot (dropping it when err is null) and chains
// "Error returned from <callee>" of the reporter above it.
void ReportCallee(Eerr_ErrorReport **err, Eerr_ErrorReport *inner, const char *reporter,
                  int32_t code, const char *callee);
// The same, taking the chain from a callee's slot (above what err already holds).
void ReportChained(Eerr_ErrorReport **err, CalleeReport &inner, const char *reporter, int32_t code,
                   const char *format, ...) __attribute__((format(printf, 5, 6)));
void ReportCallee(Eerr_ErrorReport **err, CalleeReport &inner, const char *reporter, int32_t code,
                  const char *callee);
// Hands a callee's chain on to the slot unchanged (above what it holds; dropped when err is null).
void PassOn(Eerr_ErrorReport **err, CalleeReport &inner);
// The chain `newer` with `older` beneath it (either may be null); never allocates.
Eerr_ErrorReport *JoinChains(Eerr_ErrorReport *newer, Eerr_ErrorReport *older) noexcept;
// Sets the slot to null (when given) at the start of a call.
inline void Clear(Eerr_ErrorReport **err) {
  if (err) *err = nullptr;
}

// Expands "$NAME" and "${NAME}" references from the environment; values are expanded in turn.
// An unset variable expands to "". Each variable is expanded once per call and later references
// reuse its text, so the work follows the length of the result, not the number of paths through
// the references. A variable that refers to itself, directly or through others, an unterminated
// "${", or a result past 1 MiB gives a report from `reporter` and false.
bool ExpandVariables(const char *text, std::string &out, Eerr_ErrorReport **err,
                     const char *reporter);

// Splits an expanded list text on ";" and ":". For a list of paths a ":" right after a
// one-letter entry and before "/", "\\", ";" or the end is a drive letter's and does not split,
// and empty entries are dropped; other lists keep their first empty entry ("job:" gives "job"
// and "").
std::vector<std::string> SplitList(const std::string &expanded, bool paths);
// ExpandVariables, then SplitList.
bool ExpandList(const char *text, bool paths, std::vector<std::string> &out,
                Eerr_ErrorReport **err, const char *reporter);

// Message-log route of eerr_MessageLog (installed by the plug-in layer's log hook).
using MessageLogFunction = int32_t (*)(int32_t level, Eerr_ErrorReport **err, const char *format,
                                       va_list ap);
void SetMessageLogFunction(MessageLogFunction function);
MessageLogFunction GetMessageLogFunction();

// Temporary files. The names efio_TempName makes hold a mark of this library, the machine and
// the maker's process id ("<prefix>.taviron-<8 hex digits>-<pid>-<n>"): every writer that builds
// a file under such a name and then renames it into place (or removes it) leaves it behind only
// when it is killed. After a writer has put the file `placed` in place it calls this, which
// removes from placed's directory the marked files of this machine and user whose maker has
// ended (with what follows their name: a journal), never those of a live process. Failures are
// ignored: what stays is removed by a later write.
void RemoveStaleTemporaries(const std::string &placed);

} // namespace taviron::lower

#endif
