#pragma once
// The end of Zentrovia.log, read back for -STATUS: the file grows for years, so only its
// last bytes are read, and a message written over several lines ("Erro: ...", then
// "Mensagem: ...") is put together again.

#include <cstddef>
#include <string>
#include <vector>

#include "base/datetime.h"

namespace zv {

struct LogEntry {
  // When it was written; zero when the line's stamp cannot be read.
  DateTime at;
  // The message in UTF-8, without its stamp; the lines that followed it without a stamp of
  // their own are joined to it with "\n".
  std::string message;
};

inline constexpr size_t kLogTailBytes = 1024 * 1024;

// The messages of the last `max_bytes` of the log at `path`, oldest first (a line cut by the
// start of the tail is left out). A missing log gives none; a log that cannot be read, none
// with the reason in *error.
std::vector<LogEntry> ReadLogTail(const std::string& path, size_t max_bytes, std::string* error);

// The same, from the log's text (Windows-1252, "\r\n" lines).
std::vector<LogEntry> ParseLogText(const std::string& text);

// "DD/MM/YYYY HH:mm:ss - " with any one-character separators: the stamp, or nothing.
bool ParseLogStamp(const std::string& line, DateTime& at, size_t& message_start);

}  // namespace zv
