// The sync cycle: one tick of ZentroviaTimer runs at most one job.

#include "service/sync_cycle.h"

#include <exception>
#include <optional>

#include "base/errors.h"
#include "base/text.h"
#include "jobs/job_guard.h"
#include "os/system.h"

namespace zv {

namespace {

constexpr uint32_t kIntervalAfterJob = TSyncCycle::kIntervalAfterJob;
constexpr uint32_t kIntervalOtherwise = TSyncCycle::kIntervalOtherwise;
constexpr int64_t kLongPauseSeconds = 900;
constexpr int64_t kShortPauseSeconds = 60;
constexpr int64_t kPromoSpacingMinutes = 60;

}  // namespace

// "12007", or the system's text for it with only the letters A to Z lowered.
bool TSyncCycle::IsNameResolutionFailure(const std::string& text) {
  if (text.find("12007") != std::string::npos) return true;
  return AsciiLower(text).find("não pôde ser resolvido") != std::string::npos;
}

bool JobIsDue(ZentroviaJob job, const IntegrationSettings& settings, DateTime now, DateTime today) {
  switch (job) {
    case ZentroviaJob::VerificaReenvio:
      return today > settings.zentrovia_verificareenvio;
    case ZentroviaJob::AtualizaPromo:
      return now.AddMinutes(-kPromoSpacingMinutes) > settings.zentrovia_verificapromo;
    case ZentroviaJob::FechamentoCaixa:
      return today > settings.zentrovia_ultcaixa;
    case ZentroviaJob::EnviarVendas:
      return true;
  }
  return true;
}

ZentroviaJob ChooseJob(const IntegrationSettings& settings, DateTime now, DateTime today,
                       const TJobRetryTimes& retries) {
  for (ZentroviaJob job : {ZentroviaJob::VerificaReenvio, ZentroviaJob::AtualizaPromo,
                           ZentroviaJob::FechamentoCaixa}) {
    if (JobIsDue(job, settings, now, today) && !retries.InForce(job, now)) return job;
  }
  return ZentroviaJob::EnviarVendas;
}

ZentroviaJob ChooseJob(const IntegrationSettings& settings, DateTime now, DateTime today) {
  return ChooseJob(settings, now, today, TJobRetryTimes());
}

std::optional<JobRetry> TSyncCycle::JobFailed(std::optional<ZentroviaJob> job, DateTime now,
                                              DateTime today, const std::string& error) {
  if (!job || *job == ZentroviaJob::EnviarVendas) return std::nullopt;
  // A job whose own cursor or stamp moved has done its work, even when a log line after it
  // failed; the cycle still pauses for that error.
  if (!JobIsDue(*job, settings_, now, today)) {
    retries_.Clear(*job);
    return std::nullopt;
  }
  return retries_.Fail(*job, now, error);
}

CycleOutcome TSyncCycle::Run() {
  // Every way out leaves the timer running.
  struct RearmGuard {
    IZentroviaTimer& timer;
    ~RearmGuard() {
      if (!timer.Enabled()) timer.Rearm(kIntervalOtherwise);
    }
  } rearm_guard{timer_};

  timer_.Disable();
  const DateTime now = clock_.Now();
  const DateTime today = now.Date();

  if (FCooldownUntil > DateTime() && FCooldownUntil > now) {
    timer_.Rearm(kIntervalOtherwise);
    return CycleOutcome::Paused;
  }

  // The job this cycle runs, once chosen: an error after that is the job's.
  std::optional<ZentroviaJob> running;
  try {
    if (!steps_.isInternetOk()) {
      log_("Falha na conexão de internet.");
      FCooldownUntil = now.AddSeconds(kLongPauseSeconds);
      log_("Entrando em pausa por 15 minutos (internet).");
      timer_.Rearm(kIntervalOtherwise);
      return CycleOutcome::ProbeFailed;
    }
    if (!steps_.DbConnected()) {
      log_("DB: desconectado -> IniConn");
      steps_.IniConn();
      timer_.Rearm(kIntervalOtherwise);
      return CycleOutcome::Connected;
    }
    const ZentroviaJob job = NextJob(now, today);
    running = job;
    RunJobGuarded([&] { steps_.RunJob(job); });
    // The resend poll and the promotion import catch some of their errors themselves and
    // return with their stamp where it was: that is a failure too, or the job would be
    // chosen again at once. (The daily closing raises its errors; it may return with a day
    // still due when the store server has not finished that day.)
    const bool stamped_job =
        job == ZentroviaJob::VerificaReenvio || job == ZentroviaJob::AtualizaPromo;
    if (stamped_job && JobIsDue(job, settings_, now, today) && !steps_.StopRequested()) {
      throw Exception("EJobIncomplete",
                      std::string(JobName(job)) + " terminou sem gravar " +
                          (job == ZentroviaJob::AtualizaPromo ? "zentrovia_verificapromo"
                                                              : "zentrovia_verificareenvio"));
    }
    retries_.Clear(job);
    FCooldownUntil = DateTime();
    timer_.Rearm(kIntervalAfterJob);
    return CycleOutcome::JobDone;
  } catch (const Exception& e) {
    const std::string text = e.kind() + " - " + e.what();
    const std::optional<JobRetry> retry = JobFailed(running, now, today, text);
    // The pause does not depend on the log: a log that cannot be written must not turn a
    // failing job into one retried every 30 seconds.
    const bool name_resolution = IsNameResolutionFailure(text);
    FCooldownUntil = now.AddSeconds(name_resolution ? kLongPauseSeconds : kShortPauseSeconds);
    timer_.Rearm(kIntervalOtherwise);
    try {
      log_("ERRO no Timer: " + text);
      if (name_resolution) log_("Rede/DNS falhou (12007). Pausando por 15 minutos.");
      if (retry) log_(RetryLogLine(*running, *retry, date_separator_, time_separator_));
    } catch (const std::exception& log_failure) {
      // The error and the log's own failure go where the system keeps such reports.
      ReportOutsideLog("SrvZentrovia: ERRO no Timer: " + text +
                       " (the log cannot be written: " + log_failure.what() + ")");
    }
    return CycleOutcome::JobFailed;
  } catch (const std::exception& e) {
    // Not one of the service's own errors: reported outside the log, the cycle goes on.
    JobFailed(running, now, today, e.what());
    ReportOutsideLog(std::string("SrvZentrovia: ") + e.what());
    return CycleOutcome::JobFailed;
  } catch (...) {
    JobFailed(running, now, today, "unknown error");
    ReportOutsideLog("SrvZentrovia: unknown error in the sync cycle");
    return CycleOutcome::JobFailed;
  }
}

}  // namespace zv
