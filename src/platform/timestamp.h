#pragma once
// The timestamp text of the movement documents.

#include <string>

#include "base/datetime.h"

namespace zv {

// "yyyy-mm-ddThh:mm:ss.zzz-0300": the local date-time rounded to the millisecond, written
// as it is with the fixed zone text.
std::string DateTimeToISO8601(DateTime ADateTime);

}  // namespace zv
