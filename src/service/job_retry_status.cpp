#include "service/job_retry_status.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <ostream>
#include <string_view>

#include "os/system.h"
#include "service/sync_cycle.h"

namespace zv {

namespace {

// Enough for days of a busy log; the retry lines of a lasting failure come every 15 minutes.
constexpr std::streamoff kTailBytes = 512 * 1024;

constexpr std::string_view kNoticeHead = "Tarefa ";
constexpr std::string_view kNoticeMiddle = " adiada até ";
constexpr std::string_view kFailureHead = " (falha ";
// Lines after which no retry time of an earlier process holds (their beginnings).
constexpr std::string_view kStartLines[] = {"Serviço iniciado", "DB: desconectado -> IniConn"};

bool Digits(std::string_view s, size_t at, size_t n, int& value) {
  if (at + n > s.size()) return false;
  value = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    value = value * 10 + (s[i] - '0');
  }
  return true;
}

// "dd/mm/yyyy hh:nn:ss" with any one-character separators.
bool ReadStamp(std::string_view s, size_t at, DateTime& out) {
  DateParts p;
  if (!Digits(s, at, 2, p.day) || !Digits(s, at + 3, 2, p.month) || !Digits(s, at + 6, 4, p.year) ||
      !Digits(s, at + 11, 2, p.hour) || !Digits(s, at + 14, 2, p.minute) ||
      !Digits(s, at + 17, 2, p.second)) {
    return false;
  }
  try {
    out = DateTime::FromParts(p);
  } catch (...) {
    return false;
  }
  return true;
}

constexpr size_t kStampChars = 19;
constexpr std::string_view kLineSeparator = " - ";

}  // namespace

std::vector<RetryNotice> ReadRetryNotices(const std::string& log_text) {
  std::vector<RetryNotice> notices;
  std::string_view rest(log_text);
  while (!rest.empty()) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    DateTime logged;
    if (!ReadStamp(line, 0, logged) ||
        line.substr(kStampChars, kLineSeparator.size()) != kLineSeparator)
      continue;
    const std::string_view msg = line.substr(kStampChars + kLineSeparator.size());
    if (std::any_of(std::begin(kStartLines), std::end(kStartLines),
                    [&](std::string_view start) { return msg.substr(0, start.size()) == start; })) {
      notices.clear();
      continue;
    }
    if (msg.substr(0, kNoticeHead.size()) != kNoticeHead) continue;
    const size_t middle = msg.find(kNoticeMiddle);
    if (middle == std::string_view::npos) continue;
    RetryNotice n;
    n.job = std::string(msg.substr(kNoticeHead.size(), middle - kNoticeHead.size()));
    n.logged = logged;
    const size_t at = middle + kNoticeMiddle.size();
    if (!ReadStamp(msg, at, n.until)) continue;
    std::string_view tail = msg.substr(at + kStampChars);
    if (tail.substr(0, kFailureHead.size()) != kFailureHead) continue;
    tail.remove_prefix(kFailureHead.size());
    const size_t close = tail.find("): ");
    if (close == std::string_view::npos || close == 0 || close > 6 ||
        !Digits(tail, 0, close, n.failures)) {
      continue;
    }
    n.error = std::string(tail.substr(close + 3));
    notices.erase(std::remove_if(notices.begin(), notices.end(),
                                 [&](const RetryNotice& old) { return old.job == n.job; }),
                  notices.end());
    notices.push_back(std::move(n));
  }
  return notices;
}

TJobRetryTimes WriteJobRetryStatus(std::ostream& out, const std::string& log_path, DateTime now) {
  TJobRetryTimes retries;
  out << "\nJob retry times (from the tail of Zentrovia.log)\n";
  std::ifstream f(log_path, std::ios::binary);
  if (!f) {
    out << "  (no log)\n";
    return retries;
  }
  f.seekg(0, std::ios::end);
  const std::streamoff size = f.tellg();
  const std::streamoff from = std::max<std::streamoff>(0, size - kTailBytes);
  f.seekg(from);
  std::string raw(static_cast<size_t>(size - from), '\0');
  f.read(raw.data(), static_cast<std::streamsize>(raw.size()));
  raw.resize(static_cast<size_t>(f.gcount()));
  // A cut first line is no line.
  if (from > 0) raw.erase(0, std::min(raw.size(), raw.find('\n') + 1));

  const std::vector<RetryNotice> notices = ReadRetryNotices(AnsiToUtf8(raw));
  if (notices.empty()) {
    out << "  none: no job failed since the service started\n";
    return retries;
  }
  for (const RetryNotice& n : notices) {
    for (ZentroviaJob job : {ZentroviaJob::VerificaReenvio, ZentroviaJob::AtualizaPromo,
                             ZentroviaJob::FechamentoCaixa}) {
      if (n.job == JobName(job)) retries.Set(job, JobRetry{n.until, n.failures, n.error});
    }
    std::string name = n.job;
    name.resize(std::max<size_t>(name.size() + 1, 27), ' ');
    out << "  " << name;
    if (n.until > now) {
      out << "passed over until " << n.until.ToText().substr(0, 19);
    } else {
      // The job ran again after this; a new failure would have written a newer line.
      out << "retry time over since " << n.until.ToText().substr(0, 19);
    }
    out << "; failed " << n.failures << (n.failures == 1 ? " time" : " times")
        << " in a row, last at " << n.logged.ToText().substr(0, 19) << ": " << n.error << "\n";
  }
  return retries;
}

}  // namespace zv
