#include "service/activity_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/errors.h"
#include "os/system.h"

namespace zv {

namespace {
// The main thread and the service thread both write; one line at a time, whole.
std::mutex g_log_mutex;
}  // namespace

std::string ActivityLog::FormatLine(const std::string& msg) const {
  DateParts p = clock_.Now().Parts();
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%02d%c%02d%c%04d %02d%c%02d%c%02d", p.day, date_separator_,
                p.month, date_separator_, p.year, p.hour, time_separator_, p.minute,
                time_separator_, p.second);
  return std::string(stamp) + " - " + msg;
}

void ActivityLog::Write(const std::string& msg) const {
  std::string line = Utf8ToAnsi(FormatLine(msg));
  line += "\r\n";
  std::lock_guard<std::mutex> lock(g_log_mutex);
  if (const int err = AppendToFile(path_, line); err != 0) {
    throw EInOutError("I/O error " + std::to_string(err) + ": " + std::strerror(err) + " (" +
                      path_ + ")");
  }
}

}  // namespace zv
