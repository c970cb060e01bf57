// A scoped lock guard over a mutex of the thread library. Built over a borrowed mutex it locks
// it (when the pointer is not null) and unlocks it when it goes out of scope; a guard that owns
// its mutex also destroys it then.
#ifndef TAVIRON_ETHRMUTEX_H
#define TAVIRON_ETHRMUTEX_H

#include "taviron_export.h"

#ifdef __cplusplus

#include "ethr.h"

class TAVIRON_API EthrMutex {
public:
  // Locks the mutex (null: nothing). owns: destroy the mutex with the guard.
  explicit EthrMutex(Ethr_Mutex *mutex, bool owns = false);
  virtual ~EthrMutex();
  EthrMutex(const EthrMutex &) = delete;
  EthrMutex &operator=(const EthrMutex &) = delete;

  bool IsLocked() const { return locked_; }

private:
  Ethr_Mutex *mutex_;
  bool owns_;
  bool locked_;
  bool unlockOnDestroy_;
};

#endif

#endif
