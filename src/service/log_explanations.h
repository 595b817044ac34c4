#pragma once
// What the lines of Zentrovia.log mean, for -STATUS: one table, which also holds the line
// column of the README's "Reading the log" table (a test keeps the two in step).

#include <cstddef>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "service/log_tail.h"

namespace zv {

// A message with its neighbours in the log: some lines mean something only together.
struct LogLineContext {
  const std::string& previous;
  const std::string& message;
  const std::string& next;
};

struct LogExplanation {
  const char* id;
  // The "line" cell of the README row that describes it, exactly as written there.
  const char* readme;
  // A message it explains, and the message after it where that decides.
  const char* example;
  const char* example_next;
  // Something went wrong (shown by -STATUS), or the line only reports progress.
  bool problem;
  // What it means and what to do, in one sentence.
  const char* meaning;
  bool (*matches)(const LogLineContext& line);
};

// Every explanation, the first that matches a line wins.
const std::vector<LogExplanation>& LogExplanations();

// The explanation of one message, or nullptr when the table has none.
const LogExplanation* ExplainLogLine(const LogLineContext& line);

struct LogProblem {
  const LogExplanation* explanation = nullptr;
  DateTime last_at;
  // The last line of that problem, its continuation lines joined with " / ", cut to a
  // readable length.
  std::string line;
  int count = 0;
};

struct LogDigest {
  // The distinct problems of the tail, the most recent first.
  std::vector<LogProblem> problems;
  // The last document the platform accepted (a sale, a cancellation, a closing or a
  // resend); zero when the tail holds none.
  DateTime last_accepted;
  size_t messages = 0;
  DateTime first_at;  // the oldest stamp of the tail
};

LogDigest DigestLog(const std::vector<LogEntry>& entries);

// Minutes without an accepted document, while work waits, before -STATUS says so first.
inline constexpr int kStaleAcceptedMinutes = 30;

}  // namespace zv
