#include "ethr.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(EthrMutex, SerialisesThreadsAndRejectsNull) {
  Ethr_Mutex *mutex = ethr_MutexCreate();
  ASSERT_NE(mutex, nullptr);
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        ASSERT_EQ(ethr_MutexLock(mutex), 0);
        ++counter;
        ASSERT_EQ(ethr_MutexUnlock(mutex), 0);
      }
    });
  for (auto &t : threads) t.join();
  EXPECT_EQ(counter, 40000);
  ethr_MutexDestroy(mutex);

  EXPECT_EQ(ethr_MutexLock(nullptr), -1);
  EXPECT_EQ(ethr_MutexUnlock(nullptr), -1);
  ethr_MutexDestroy(nullptr);
}
