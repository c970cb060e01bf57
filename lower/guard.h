// The guarded C boundary: no exception leaves an exported function.
//
// Every exported function with a C++ body is a function-try-block whose handler is one of these
// macros, so the body keeps its indentation:
//
//   extern "C" int32_t ehfa_Something(Ehfa_File *file, Eerr_ErrorReport **err) try {
//     ...
//   } TAVIRON_GUARD(err, -1)
//
//   void ehfa_Other(Ehfa_File *file, Eerr_ErrorReport **err) try {
//     ...
//   } TAVIRON_GUARD_VOID(err)
//
// The handler turns the exception in flight into a report of the function (its name comes from
// __func__) in the error slot, chained above whatever the slot already holds, and returns the
// function's failure value. A function without an error slot uses the quiet forms, which only
// return the failure value (they need nothing but this header, so the platform stand-ins use
// them too):
//
//   int32_t ewin_Something(...) try { ... } TAVIRON_GUARD_QUIET(0)
//
// Reports: std::bad_alloc gives "Out of memory"; an EerrException hands its own chain on beneath
// the function's report; anything else gives "Unexpected failure" with the exception's text. The handler never throws.
#ifndef TAVIRON_LOWER_GUARD_H
#define TAVIRON_LOWER_GUARD_H

#include <cstdint>

#include "eerr.h"

namespace taviron::lower {

// The code of the reports the guard makes (the checks of a function count from 1).
inline constexpr int32_t kGuardCode = 0;

// Reports the exception in flight (call only inside a handler) as a failure of `function`.
void ReportException(Eerr_ErrorReport **err, const char *function) noexcept;

} // namespace taviron::lower

#define TAVIRON_GUARD(err, failure)                                                                \
  catch (...) {                                                                                    \
    ::taviron::lower::ReportException((err), __func__);                                            \
    return failure;                                                                                \
  }

#define TAVIRON_GUARD_VOID(err)                                                                    \
  catch (...) {                                                                                    \
    ::taviron::lower::ReportException((err), __func__);                                            \
    return;                                                                                        \
  }

#define TAVIRON_GUARD_QUIET(failure)                                                               \
  catch (...) {                                                                                    \
    return failure;                                                                                \
  }

#define TAVIRON_GUARD_QUIET_VOID                                                                   \
  catch (...) {                                                                                    \
    return;                                                                                        \
  }

#endif
