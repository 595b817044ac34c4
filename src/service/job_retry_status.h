#pragma once
// -STATUS: the jobs' retry times, read back from the lines the sync cycle writes when it
// sets one ("Tarefa <job> adiada até <time> (falha N): <error>"). The retry times live in
// the service's memory only; the log is where another process can see them.

#include <iosfwd>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "service/job_retry.h"

namespace zv {

struct RetryNotice {
  std::string job;
  DateTime logged;  // when the line was written
  DateTime until;
  int failures = 0;
  std::string error;
};

// The last notice of each job in the log's tail (UTF-8 text, CRLF or LF lines), in the order
// of the jobs' last notices. A service start (or a -SYNC run's connect) after a notice voids
// it: the retry times do not outlive the process that set them.
std::vector<RetryNotice> ReadRetryNotices(const std::string& log_text);

// The section of the status report; reads the log's last few hundred kilobytes. Returns the
// retry times it found, for the report's choice of the next job.
TJobRetryTimes WriteJobRetryStatus(std::ostream& out, const std::string& log_path, DateTime now);

}  // namespace zv
