#include "eskt.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

TEST(EsktHostname, IsTheMachinesName) {
  char expected[256] = {};
  ASSERT_EQ(gethostname(expected, sizeof expected - 1), 0);
  char buffer[256];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(eskt_GetHostname(buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, expected);
}

TEST(EsktHostname, NeverOverflowsAndAlwaysTerminates) {
  char full[256] = {};
  ASSERT_EQ(eskt_GetHostname(full, sizeof full), 0);
  const auto length = static_cast<int32_t>(std::strlen(full));
  ASSERT_GT(length, 0);
  const struct {
    int32_t size;
    int32_t result;
  } cases[] = {{length + 1, 0}, {length + 10, 0}, {length, -1}, {2, length > 1 ? -1 : 0}, {1, -1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.size);
    std::vector<char> buffer(static_cast<size_t>(c.size) + 1, '#'); // one guard byte
    EXPECT_EQ(eskt_GetHostname(buffer.data(), c.size), c.result);
    EXPECT_EQ(buffer.back(), '#');
    const std::string got = buffer.data();
    EXPECT_LT(got.size(), static_cast<size_t>(c.size));
    EXPECT_EQ(got, std::string(full).substr(0, static_cast<size_t>(c.size) - 1));
  }
  char one = 'x';
  EXPECT_EQ(eskt_GetHostname(&one, 0), -1);
  EXPECT_EQ(one, 'x');
  EXPECT_EQ(eskt_GetHostname(&one, -5), -1);
  EXPECT_EQ(eskt_GetHostname(nullptr, 16), -1);
}
