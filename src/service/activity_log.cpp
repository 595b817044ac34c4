#include "service/activity_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/encoding.h"
#include "platform/errors.h"

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
#ifdef _WIN32
  // The path is UTF-8; the narrow fopen would read it in the ANSI code page, and an
  // installation in a folder with an accent in its name would have no log.
  std::wstring wide_path(path_.size(), L'\0');
  wide_path.resize(static_cast<size_t>(
      MultiByteToWideChar(CP_UTF8, 0, path_.data(), static_cast<int>(path_.size()),
                          wide_path.data(), static_cast<int>(wide_path.size()))));
  std::FILE* f = _wfopen(wide_path.c_str(), L"ab");
#else
  std::FILE* f = std::fopen(path_.c_str(), "ab");
#endif
  if (!f) {
    int err = errno;
    throw EInOutError("I/O error " + std::to_string(err) + ": " + std::strerror(err) + " (" +
                      path_ + ")");
  }
  size_t written = std::fwrite(line.data(), 1, line.size(), f);
  int write_err = written == line.size() ? 0 : (errno ? errno : EIO);
  if (std::fclose(f) != 0 && write_err == 0) write_err = errno ? errno : EIO;
  if (write_err != 0) {
    throw EInOutError("I/O error " + std::to_string(write_err) + ": " + std::strerror(write_err) +
                      " (" + path_ + ")");
  }
}

}  // namespace zv
