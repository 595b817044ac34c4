#include "service/status_log.h"

#include <cstdio>
#include <ostream>

#include "service/log_explanations.h"
#include "service/log_tail.h"

namespace zv {

namespace {

constexpr size_t kProblemsShown = 8;

std::string Shown(DateTime at) {
  return at.IsZero() ? "(no time)" : at.ToText().substr(0, 19);
}

}  // namespace

std::string IsoLocal(DateTime at) {
  const DateParts p = at.Parts();
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return text;
}

void WriteLogSection(const std::string& exe_dir, const IClock& clock, int64_t pending,
                     std::ostream& out, JsonValue* json) {
  const std::string path = exe_dir + "Zentrovia.log";
  std::string error;
  const LogDigest digest = DigestLog(ReadLogTail(path, kLogTailBytes, &error));

  out << "\nThe log (" << path << ")\n";
  JsonValue warnings = JsonValue::Array();
  JsonValue last_errors = JsonValue::Array();
  if (!error.empty()) {
    out << "  " << error << "\n";
  } else if (digest.messages == 0) {
    out << "  empty or not written yet\n";
  } else {
    out << "  " << digest.messages << " messages read back to " << Shown(digest.first_at) << "\n";
  }

  const DateTime now = clock.Now();
  if (pending > 0 && (digest.last_accepted.IsZero() ||
                      digest.last_accepted.AddMinutes(kStaleAcceptedMinutes) < now)) {
    std::string warning = digest.last_accepted.IsZero()
                              ? "No document accepted by the platform in the log's last " +
                                    std::to_string(digest.messages) + " messages"
                              : "The last document the platform accepted was at " +
                                    Shown(digest.last_accepted) + ", more than " +
                                    std::to_string(kStaleAcceptedMinutes) + " minutes ago";
    warning += ", while " + std::to_string(pending) + " sales and cancellations wait.";
    out << "  ATTENTION: " << warning << " The problems below say why.\n";
    warnings.Append(JsonValue::String(warning));
  }

  if (digest.problems.empty()) {
    if (digest.messages > 0) out << "  no problem in these messages\n";
  } else {
    out << "  Last problems, the most recent first:\n";
  }
  for (size_t i = 0; i < digest.problems.size() && i < kProblemsShown; ++i) {
    const LogProblem& p = digest.problems[i];
    out << "  " << Shown(p.last_at) << "  " << p.count << (p.count == 1 ? " time  " : " times  ")
        << p.line << "\n"
        << "      " << p.explanation->meaning << "\n";
    JsonValue& e = last_errors.Append(JsonValue::Object());
    e.Add("at", JsonValue::String(p.last_at.IsZero() ? "" : IsoLocal(p.last_at)));
    e.Add("line", JsonValue::String(p.line));
    e.Add("meaning", JsonValue::String(p.explanation->meaning));
    e.Add("count", JsonValue::Integer(p.count));
    e.Add("kind", JsonValue::String(p.explanation->id));
  }

  if (json) {
    (*json)["warnings"] = std::move(warnings);
    (*json)["last_errors"] = std::move(last_errors);
    JsonValue& log = (*json)["log"];
    log["path"] = JsonValue::String(path);
    log["messages_read"] = JsonValue::Integer(static_cast<int64_t>(digest.messages));
    log["last_accepted"] = digest.last_accepted.IsZero()
                               ? JsonValue::Null()
                               : JsonValue::String(IsoLocal(digest.last_accepted));
    if (!error.empty()) log["error"] = JsonValue::String(error);
  }
}

}  // namespace zv
