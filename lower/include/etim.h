/* Time of day, time texts and a precise interval timer. */
#ifndef TAVIRON_ETIM_H
#define TAVIRON_ETIM_H

#include <stdint.h>

#include "taviron_export.h"

TAVIRON_BEGIN_DECLS

/* Seconds since 1970-01-01 00:00:00 UTC. */
typedef int64_t Etim_Time;

/* The current time. */
Etim_Time etim_Time(void);
/* The local time as text in the fixed form "Wed Jun 30 21:49:08 1993\n" (English names, a line
   end at the end). The text lives in a buffer of the calling thread until its next call of
   etim_Ctime or etim_TimeConvert. A time that cannot be shown gives "(invalid time)\n". */
const char *etim_Ctime(Etim_Time time);
/* The same for the time that `time` points to (null gives "(invalid time)\n"). */
const char *etim_TimeConvert(const Etim_Time *time);

/* A timer of elapsed time on a clock that never goes back. */
typedef struct Etim_PreciseTimer {
  int64_t startNanoseconds;
} Etim_PreciseTimer;

/* Starts (or restarts) the timer; null is ignored. */
void etim_initPreciseTimer(Etim_PreciseTimer *timer);
/* Seconds since the timer was started; the timer keeps running. 0 for null. */
double etim_lapPreciseTimer(const Etim_PreciseTimer *timer);

TAVIRON_END_DECLS

#endif
