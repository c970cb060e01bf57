// The growth routine of the ownership kit and the report helpers that take a callee's chain.
#include "ownership.h"

#include <algorithm>

#include "internal.h"

namespace taviron::lower {

bool GrowBlock(void *&array, int32_t &capacity, int64_t wanted, std::size_t elementSize,
               const Growth &growth) noexcept {
  if (wanted <= capacity) return wanted >= 0;
  if (elementSize == 0) return false;
  const int64_t most = std::min<int64_t>(growth.limit, static_cast<int64_t>(kMaxBlockBytes / elementSize));
  if (wanted > most) return false;
  int64_t next = wanted;
  if (!growth.exact)
    next = std::min(most, std::max({wanted, int64_t{growth.first}, int64_t{capacity} + capacity / 2}));
  void *grown = emsc_HeapRealloc(array, static_cast<std::size_t>(next) * elementSize);
  if (!grown) return false;
  array = grown;
  capacity = static_cast<int32_t>(next);
  return true;
}

void ReportChained(Eerr_ErrorReport **err, CalleeReport &inner, const char *reporter, int32_t code,
                   const char *format, ...) {
  if (!err) {
    inner.Drop();
    return;
  }
  va_list ap;
  va_start(ap, format);
  *err = eerr_CreateErrorReportV(reporter, code, EERR_FATAL, JoinChains(inner.Release(), *err), format, ap);
  va_end(ap);
}

void ReportCallee(Eerr_ErrorReport **err, CalleeReport &inner, const char *reporter, int32_t code,
                  const char *callee) {
  ReportChained(err, inner, reporter, code, "Error returned from %s", callee);
}

void PassOn(Eerr_ErrorReport **err, CalleeReport &inner) {
  if (!err) {
    inner.Drop();
    return;
  }
  *err = JoinChains(inner.Release(), *err);
}

} // namespace taviron::lower
