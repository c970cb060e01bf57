// Mutexes of the thread library, over std::mutex.
#include "ethr.h"

#include "guard.h"

#include <mutex>
#include <new>

struct Ethr_Mutex {
  std::mutex mutex;
};

extern "C" {

Ethr_Mutex *ethr_MutexCreate(void) try { return new (std::nothrow) Ethr_Mutex; } TAVIRON_GUARD_QUIET(nullptr)

int ethr_MutexLock(Ethr_Mutex *mutex) try {
  if (!mutex) return -1;
  mutex->mutex.lock();
  return 0;
} TAVIRON_GUARD_QUIET(-1)

int ethr_MutexUnlock(Ethr_Mutex *mutex) try {
  if (!mutex) return -1;
  mutex->mutex.unlock();
  return 0;
} TAVIRON_GUARD_QUIET(-1)

void ethr_MutexDestroy(Ethr_Mutex *mutex) try { delete mutex; } TAVIRON_GUARD_QUIET_VOID

} // extern "C"
