#include <chrono>
#include <ctime>

#include "os/local_time.h"
#include "os/system.h"

namespace zv {

DateTime SystemClock::Now() const {
  using namespace std::chrono;
  const auto us = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  const std::tm tm = LocalCalendarTime(static_cast<std::time_t>(us / 1'000'000));
  // A leap second reads as the last second of its minute.
  return DateTime::FromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                             tm.tm_sec > 59 ? 59 : tm.tm_sec, static_cast<int>(us % 1'000'000));
}

}  // namespace zv
