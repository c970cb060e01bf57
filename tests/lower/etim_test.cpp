#include "etim.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace {

// Sets the time zone for the life of a test.
class TimeZone {
public:
  explicit TimeZone(const char *zone) {
    if (const char *old = std::getenv("TZ")) saved_ = old, had_ = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TimeZone() {
    if (had_) setenv("TZ", saved_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

private:
  std::string saved_;
  bool had_ = false;
};

} // namespace

TEST(EtimTime, IsTheClockInSeconds) {
  const auto before = static_cast<Etim_Time>(std::time(nullptr));
  const Etim_Time now = etim_Time();
  EXPECT_GE(now, before);
  EXPECT_LE(now, before + 2);
}

TEST(EtimText, FixedFormWithLineEndInLocalTime) {
  TimeZone utc("UTC");
  const struct {
    Etim_Time time;
    const char *text;
  } cases[] = {
      {0, "Thu Jan  1 00:00:00 1970\n"},
      {1000000000, "Sun Sep  9 01:46:40 2001\n"},
      {-1, "Wed Dec 31 23:59:59 1969\n"},
      {4102444800LL, "Fri Jan  1 00:00:00 2100\n"}, // past 32-bit seconds
      {253402300800LL, "Sat Jan  1 00:00:00 10000\n"}, // five-digit years are not cut
      {INT64_MAX, "(invalid time)\n"},
      {INT64_MIN, "(invalid time)\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.time);
    EXPECT_STREQ(etim_Ctime(c.time), c.text);
    EXPECT_STREQ(etim_TimeConvert(&c.time), c.text);
  }
  EXPECT_STREQ(etim_TimeConvert(nullptr), "(invalid time)\n");

  TimeZone east("XYZ-2"); // two hours ahead of UTC
  EXPECT_STREQ(etim_Ctime(0), "Thu Jan  1 02:00:00 1970\n");
}

TEST(EtimText, EveryThreadHasItsOwnText) {
  TimeZone utc("UTC");
  std::vector<std::thread> threads;
  std::vector<int> wrong(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &wrong] {
      const Etim_Time time = 86400LL * t; // Jan 1 .. Jan 4 1970
      const std::string expected = etim_Ctime(time);
      for (int i = 0; i < 2000; ++i) {
        const char *text = etim_Ctime(time);
        std::this_thread::yield();
        if (expected != text) ++wrong[t];
      }
    });
  }
  for (auto &thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(EtimPreciseTimer, MeasuresSinceTheLastResetAndKeepsRunning) {
  Etim_PreciseTimer timer{};
  etim_initPreciseTimer(&timer);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const double first = etim_lapPreciseTimer(&timer);
  EXPECT_GE(first, 0.03);
  EXPECT_LT(first, 5.0);
  EXPECT_GE(etim_lapPreciseTimer(&timer), first);
  etim_initPreciseTimer(&timer);
  EXPECT_LT(etim_lapPreciseTimer(&timer), first);
  etim_initPreciseTimer(nullptr);
  EXPECT_EQ(etim_lapPreciseTimer(nullptr), 0.0);
}
