// Mutexes of the thread library, over std::mutex.
#include "ethr.h"

#include <mutex>
#include <new>

struct Ethr_Mutex {
  std::mutex mutex;
};

extern "C" {

Ethr_Mutex *ethr_MutexCreate(void) { return new (std::nothrow) Ethr_Mutex; }

int ethr_MutexLock(Ethr_Mutex *mutex) {
  if (!mutex) return -1;
  mutex->mutex.lock();
  return 0;
}

int ethr_MutexUnlock(Ethr_Mutex *mutex) {
  if (!mutex) return -1;
  mutex->mutex.unlock();
  return 0;
}

void ethr_MutexDestroy(Ethr_Mutex *mutex) { delete mutex; }

} // extern "C"
