// The scoped lock guard over a thread-library mutex.
#include "EthrMutex.h"

EthrMutex::EthrMutex(Ethr_Mutex *mutex, bool owns)
    : mutex_(mutex), owns_(owns), locked_(false), unlockOnDestroy_(true) {
  if (mutex_ && ethr_MutexLock(mutex_) == 0) locked_ = true;
}

EthrMutex::~EthrMutex() {
  if (owns_ && mutex_) {
    if (locked_) {
      ethr_MutexUnlock(mutex_);
      locked_ = false;
    }
    ethr_MutexDestroy(mutex_);
    mutex_ = nullptr;
  }
  if (unlockOnDestroy_ && locked_) {
    ethr_MutexUnlock(mutex_);
    locked_ = false;
  }
}
