// Time of day, time texts and the precise timer.
#include "etim.h"
#include "guard.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

thread_local char timeText[64];

const char *Text(const Etim_Time *time) {
  static const char *const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm parts{};
  const std::time_t value = time ? static_cast<std::time_t>(*time) : 0;
  if (!time || static_cast<Etim_Time>(value) != *time || !localtime_r(&value, &parts) ||
      parts.tm_wday < 0 || parts.tm_wday > 6 || parts.tm_mon < 0 || parts.tm_mon > 11) {
    std::snprintf(timeText, sizeof timeText, "(invalid time)\n");
    return timeText;
  }
  std::snprintf(timeText, sizeof timeText, "%s %s %2d %02d:%02d:%02d %lld\n", days[parts.tm_wday],
                months[parts.tm_mon], parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<long long>(parts.tm_year) + 1900);
  return timeText;
}

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

} // namespace

extern "C" {

Etim_Time etim_Time(void) try { return static_cast<Etim_Time>(std::time(nullptr)); } TAVIRON_GUARD_QUIET(0)

const char *etim_Ctime(Etim_Time time) try { return Text(&time); } TAVIRON_GUARD_QUIET(nullptr)

const char *etim_TimeConvert(const Etim_Time *time) try { return Text(time); } TAVIRON_GUARD_QUIET(nullptr)

void etim_initPreciseTimer(Etim_PreciseTimer *timer) try {
  if (timer) timer->startNanoseconds = Now();
} TAVIRON_GUARD_QUIET_VOID

double etim_lapPreciseTimer(const Etim_PreciseTimer *timer) try {
  if (!timer) return 0.0;
  return static_cast<double>(Now() - timer->startNanoseconds) * 1e-9;
} TAVIRON_GUARD_QUIET(0.0)

} // extern "C"
