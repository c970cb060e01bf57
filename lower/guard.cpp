// The handler of the guarded C boundary.
#include "guard.h"

#include <exception>
#include <new>

#include "internal.h"

namespace taviron::lower {

void ReportException(Eerr_ErrorReport **err, const char *function) noexcept {
  if (!err) return;
  // Each branch only calls the report constructor, which never throws: it falls back on the
  // chain it was given, or on the static out-of-memory report.
  try {
    throw;
  } catch (const std::bad_alloc &) {
    *err = eerr_CreateErrorReport(function, kGuardCode, EERR_FATAL, *err, "Out of memory");
  } catch (EerrException &e) {
    // The thrown chain goes above what the slot holds, the function's report above both.
    *err = eerr_CreateErrorReport(function, kGuardCode, EERR_FATAL, JoinChains(e.Release(), *err), nullptr);
  } catch (const std::exception &e) {
    *err = eerr_CreateErrorReport(function, kGuardCode, EERR_FATAL, *err, "Unexpected failure: %s", e.what());
  } catch (...) {
    *err = eerr_CreateErrorReport(function, kGuardCode, EERR_FATAL, *err, "Unexpected failure");
  }
}

} // namespace taviron::lower
