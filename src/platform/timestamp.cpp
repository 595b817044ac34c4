#include <cstdio>

#include "service/srv_zentrovia.h"

namespace zv {

// The platform reads every timestamp as Brazilian local time: the zone is a fixed text and
// the value is written as it is, whatever zone the machine runs in.
std::string TSrvZentrovia::DateTimeToISO8601(DateTime ADateTime) {
  constexpr int64_t kMicrosPerMilli = 1000;
  int64_t us = ADateTime.micros() + kMicrosPerMilli / 2;
  us -= ((us % kMicrosPerMilli) + kMicrosPerMilli) % kMicrosPerMilli;
  const DateParts p = DateTime::FromMicros(us).Parts();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3d-0300", p.year, p.month, p.day,
                p.hour, p.minute, p.second, p.microsecond / 1000);
  return buf;
}

}  // namespace zv
