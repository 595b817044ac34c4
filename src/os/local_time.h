#pragma once
// The system's conversion of a moment to the local calendar (localtime_r, localtime_s), for
// the one wall clock of os/system_clock.cpp.

#include <ctime>

namespace zv {

std::tm LocalCalendarTime(std::time_t secs);

}  // namespace zv
