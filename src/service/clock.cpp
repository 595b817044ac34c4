#include "service/clock.h"

#include <chrono>
#include <ctime>

namespace zv {

DateTime SystemClock::Now() const {
  using namespace std::chrono;
  auto now = system_clock::now();
  auto us = duration_cast<microseconds>(now.time_since_epoch()).count();
  std::time_t secs = static_cast<std::time_t>(us / 1'000'000);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &secs);
#else
  localtime_r(&secs, &tm);
#endif
  return DateTime::FromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                             tm.tm_sec > 59 ? 59 : tm.tm_sec, static_cast<int>(us % 1'000'000));
}

}  // namespace zv
