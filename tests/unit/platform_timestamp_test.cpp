#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "service/srv_zentrovia.h"

namespace zv {
namespace {

TEST(PlatformTimestamp, WritesLocalTimeWithTheFixedZone) {
  struct Case {
    DateTime at;
    const char* text;
  };
  const std::vector<Case> cases = {
      {DateTime::FromParts(2024, 3, 5, 7, 8, 9, 45000), "2024-03-05T07:08:09.045-0300"},
      {DateTime::FromParts(2024, 3, 5), "2024-03-05T00:00:00.000-0300"},
      // 0.4 ms before midnight rounds into the next day (and here the next year).
      {DateTime::FromParts(2024, 12, 31, 23, 59, 59, 999600), "2025-01-01T00:00:00.000-0300"},
      {DateTime::FromParts(2024, 3, 5, 10, 0, 0, 1499), "2024-03-05T10:00:00.001-0300"},
      {DateTime::FromParts(2024, 3, 5, 10, 0, 0, 1500), "2024-03-05T10:00:00.002-0300"},
      {DateTime::FromParts(2024, 2, 29, 23, 59, 59, 999499), "2024-02-29T23:59:59.999-0300"},
      {DateTime::FromParts(987, 6, 5, 4, 3, 2), "0987-06-05T04:03:02.000-0300"},
      {DateTime::FromParts(5, 1, 1), "0005-01-01T00:00:00.000-0300"},
      {DateTime(), "1899-12-30T00:00:00.000-0300"},
      // The text holds four digits of year: the last millisecond of 9999 is the latest.
      {DateTime::FromParts(9999, 12, 31, 23, 59, 59, 999600), "9999-12-31T23:59:59.999-0300"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TSrvZentrovia::DateTimeToISO8601(c.at), c.text) << c.text;
  }
}

#ifndef _WIN32
TEST(PlatformTimestamp, IgnoresTheMachineTimeZone) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  EXPECT_EQ(TSrvZentrovia::DateTimeToISO8601(DateTime::FromParts(2024, 7, 1, 12, 0, 0)),
            "2024-07-01T12:00:00.000-0300");
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}
#endif

}  // namespace
}  // namespace zv
