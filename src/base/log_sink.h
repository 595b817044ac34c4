#pragma once
// Where a piece of the service writes its log lines: one call, one line. The service module
// gives every job the activity log through this; tests may collect the lines instead.

#include <functional>
#include <string>

namespace zv {

using LogSink = std::function<void(const std::string& message)>;

}  // namespace zv
