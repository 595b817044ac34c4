#include "service/log_tail.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "os/system.h"

namespace zv {

namespace {

bool Digits(const std::string& s, size_t at, size_t n, int& value) {
  if (at + n > s.size()) return false;
  value = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    value = value * 10 + (s[i] - '0');
  }
  return true;
}

}  // namespace

bool ParseLogStamp(const std::string& line, DateTime& at, size_t& message_start) {
  // 0123456789012345678901
  // DD/MM/YYYY HH:mm:ss -
  if (line.size() < 22 || line[10] != ' ' || line.compare(19, 3, " - ") != 0) return false;
  int d, mo, y, h, mi, s;
  if (!Digits(line, 0, 2, d) || !Digits(line, 3, 2, mo) || !Digits(line, 6, 4, y) ||
      !Digits(line, 11, 2, h) || !Digits(line, 14, 2, mi) || !Digits(line, 17, 2, s)) {
    return false;
  }
  if (mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 || mi > 59 || s > 59)
    return false;
  at = DateTime::FromParts(y, mo, d, h, mi, s);
  message_start = 22;
  return true;
}

std::vector<LogEntry> ParseLogText(const std::string& text) {
  std::vector<LogEntry> entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    DateTime at;
    size_t message_start = 0;
    if (ParseLogStamp(line, at, message_start)) {
      entries.push_back({at, AnsiToUtf8(line.substr(message_start))});
    } else if (!entries.empty()) {
      entries.back().message += "\n" + AnsiToUtf8(line);
    }
    // A line without a stamp before the first stamped one belongs to a message whose start
    // lies before the tail: left out.
  }
  return entries;
}

std::vector<LogEntry> ReadLogTail(const std::string& path, size_t max_bytes, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return {};
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = std::string("it cannot be opened for reading: ") + std::strerror(errno);
    return {};
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  const std::streamoff from = size > static_cast<std::streamoff>(max_bytes)
                                  ? size - static_cast<std::streamoff>(max_bytes)
                                  : 0;
  in.seekg(from);
  std::string text(static_cast<size_t>(size - from), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  if (from > 0) {
    // The first line is most likely cut: start after it.
    const size_t first = text.find('\n');
    text.erase(0, first == std::string::npos ? text.size() : first + 1);
  }
  return ParseLogText(text);
}

}  // namespace zv
