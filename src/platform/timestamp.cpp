#include "platform/timestamp.h"

#include <cstdio>

namespace zv {

// The platform reads every timestamp as Brazilian local time: the zone is a fixed text and
// the value is written as it is, whatever zone the machine runs in.
std::string DateTimeToISO8601(DateTime ADateTime) {
  constexpr int64_t kMicrosPerMilli = 1000;
  int64_t us = ADateTime.micros() + kMicrosPerMilli / 2;
  us -= ((us % kMicrosPerMilli) + kMicrosPerMilli) % kMicrosPerMilli;
  // The text has four digits for the year: the last millisecond of 9999 is the latest
  // value it can hold.
  static const int64_t kLatest = DateTime::FromParts(9999, 12, 31, 23, 59, 59, 999000).micros();
  if (us > kLatest) us = kLatest;
  const DateParts p = DateTime::FromMicros(us).Parts();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3d-0300", p.year, p.month, p.day,
                p.hour, p.minute, p.second, p.microsecond / 1000);
  return buf;
}

}  // namespace zv
