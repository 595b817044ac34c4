#pragma once
// The part of -STATUS read from the tail of Zentrovia.log: a stale last accepted document
// while work waits, then the most recent distinct problems with what each means.

#include <cstdint>
#include <iosfwd>
#include <string>

#include "base/clock.h"
#include "base/datetime.h"
#include "platform/json_helpers.h"

namespace zv {

// "2026-12-09T14:05:07": ISO 8601, local time.
std::string IsoLocal(DateTime at);

// `pending` documents wait (sales and cancellations; negative: not known, the store could
// not be read). Writes the section to `out`; with `json`, fills its "warnings",
// "last_errors" and "log" members.
void WriteLogSection(const std::string& exe_dir, const IClock& clock, int64_t pending,
                     std::ostream& out, JsonValue* json);

}  // namespace zv
