#include "service/job_retry.h"

#include <algorithm>
#include <cstdio>

namespace zv {

const char* JobName(ZentroviaJob job) {
  switch (job) {
    case ZentroviaJob::VerificaReenvio:
      return "VerificaReenvio";
    case ZentroviaJob::AtualizaPromo:
      return "AtualizaPromo";
    case ZentroviaJob::FechamentoCaixa:
      return "FechamentoCaixaZentrovia";
    case ZentroviaJob::EnviarVendas:
      return "EnviarVendasZentrovia";
  }
  return "?";
}

bool TJobRetryTimes::InForce(ZentroviaJob job, DateTime now) const {
  const std::optional<JobRetry>& r = Of(job);
  return r && r->until > now;
}

const JobRetry& TJobRetryTimes::Fail(ZentroviaJob job, DateTime now, const std::string& error) {
  std::optional<JobRetry>& r = retries_[static_cast<size_t>(job)];
  const int failures = r ? r->failures + 1 : 1;
  const size_t step = std::min<size_t>(static_cast<size_t>(failures - 1), kWaitSeconds.size() - 1);
  r = JobRetry{now.AddSeconds(kWaitSeconds[step]), failures, error};
  return *r;
}

void TJobRetryTimes::Clear(ZentroviaJob job) {
  retries_[static_cast<size_t>(job)].reset();
}

void TJobRetryTimes::Set(ZentroviaJob job, JobRetry retry) {
  retries_[static_cast<size_t>(job)] = std::move(retry);
}

const std::optional<JobRetry>& TJobRetryTimes::Of(ZentroviaJob job) const {
  return retries_[static_cast<size_t>(job)];
}

std::string RetryLogLine(ZentroviaJob job, const JobRetry& retry, char date_separator,
                         char time_separator) {
  const DateParts p = retry.until.Parts();
  char when[40];
  std::snprintf(when, sizeof when, "%02d%c%02d%c%04d %02d%c%02d%c%02d", p.day, date_separator,
                p.month, date_separator, p.year, p.hour, time_separator, p.minute, time_separator,
                p.second);
  return std::string("Tarefa ") + JobName(job) + " adiada até " + when + " (falha " +
         std::to_string(retry.failures) + "): " + retry.error;
}

}  // namespace zv
