#pragma once
// Retry times of the jobs the sync cycle chooses by a due test (the resend poll, the
// promotion import, the daily closing). A job that fails steps aside until its retry time,
// so one lasting failure never holds back the jobs after it in the cycle's order; the time
// grows while the failure lasts and a success clears it. Kept in memory only: a restarted
// service tries every due job at once.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "base/datetime.h"

namespace zv {

// The jobs the sync cycle chooses from, in the order of its tests.
enum class ZentroviaJob { VerificaReenvio, AtualizaPromo, FechamentoCaixa, EnviarVendas };
const char* JobName(ZentroviaJob job);

struct JobRetry {
  DateTime until;     // the job is passed over before this time
  int failures = 0;   // failed runs in a row
  std::string error;  // what ended the last run ("kind - message")
};

class TJobRetryTimes {
 public:
  // The wait after the 1st, 2nd ... failure in a row; the last value repeats. Short at first,
  // so a blip (a platform restarting, a store backup's lock) costs a minute; then growing
  // to the cycle's long pause, so a failure that lasts costs the sales upload one minute's
  // pause in fifteen and the failing endpoint four calls an hour, and a mended one is used
  // again within 15 minutes without anyone restarting the service.
  static constexpr std::array<int64_t, 5> kWaitSeconds = {60, 120, 300, 600, 900};

  // Whether the job is to be passed over at `now`.
  bool InForce(ZentroviaJob job, DateTime now) const;
  // Records a failed run that started at `now`; returns the retry it set.
  const JobRetry& Fail(ZentroviaJob job, DateTime now, const std::string& error);
  void Clear(ZentroviaJob job);
  // Puts back a retry read elsewhere (the status report reads them from the log).
  void Set(ZentroviaJob job, JobRetry retry);
  // The job's retry, if it failed last time it ran.
  const std::optional<JobRetry>& Of(ZentroviaJob job) const;

 private:
  std::array<std::optional<JobRetry>, 4> retries_;
};

// The log line that announces a retry time (read back by -STATUS from the log's tail):
// "Tarefa <job> adiada até dd/mm/yyyy hh:nn:ss (falha N): <error>".
std::string RetryLogLine(ZentroviaJob job, const JobRetry& retry, char date_separator = '/',
                         char time_separator = ':');

}  // namespace zv
