// The scoped lock guard over a thread-library mutex.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "EthrMutex.h"

namespace {

TEST(EthrMutex, HoldsTheLockForItsScope) {
  Ethr_Mutex *mutex = ethr_MutexCreate();
  ASSERT_NE(mutex, nullptr);
  std::atomic<bool> entered{false};
  std::thread other;
  {
    EthrMutex guard(mutex);
    EXPECT_TRUE(guard.IsLocked());
    other = std::thread([&] {
      EthrMutex inner(mutex);
      entered = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered.load());
  }
  other.join();
  EXPECT_TRUE(entered.load());
  ethr_MutexDestroy(mutex);
}

TEST(EthrMutex, OwningGuardDestroysItsMutexAndNullIsNoLock) {
  { EthrMutex owner(ethr_MutexCreate(), true); } // the mutex is destroyed (no leak)
  EthrMutex none(nullptr);
  EXPECT_FALSE(none.IsLocked());
}

} // namespace
