// The sync cycle: one tick of ZentroviaTimer runs at most one job.

#include "service/sync_cycle.h"

#include <exception>

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

// "12007", or the system's text for it with only the letters A to Z lowered.
bool TSyncCycle::IsNameResolutionFailure(const std::string& text) {
  if (text.find("12007") != std::string::npos) return true;
  return AsciiLower(text).find("não pôde ser resolvido") != std::string::npos;
}

ZentroviaJob ChooseJob(const IntegrationSettings& settings, DateTime now, DateTime today) {
  if (today > settings.zentrovia_verificareenvio) return ZentroviaJob::VerificaReenvio;
  if (now.AddMinutes(-kPromoSpacingMinutes) > settings.zentrovia_verificapromo)
    return ZentroviaJob::AtualizaPromo;
  if (today > settings.zentrovia_ultcaixa) return ZentroviaJob::FechamentoCaixa;
  return ZentroviaJob::EnviarVendas;
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
    RunJobGuarded([&] { steps_.RunJob(job); });
    FCooldownUntil = DateTime();
    timer_.Rearm(kIntervalAfterJob);
    return CycleOutcome::JobDone;
  } catch (const Exception& e) {
    const std::string text = e.kind() + " - " + e.what();
    // The pause does not depend on the log: a log that cannot be written must not turn a
    // failing job into one retried every 30 seconds.
    const bool name_resolution = IsNameResolutionFailure(text);
    FCooldownUntil = now.AddSeconds(name_resolution ? kLongPauseSeconds : kShortPauseSeconds);
    timer_.Rearm(kIntervalOtherwise);
    try {
      log_("ERRO no Timer: " + text);
      if (name_resolution) log_("Rede/DNS falhou (12007). Pausando por 15 minutos.");
    } catch (const std::exception& log_failure) {
      // The error and the log's own failure go where the system keeps such reports.
      ReportOutsideLog("SrvZentrovia: ERRO no Timer: " + text +
                       " (the log cannot be written: " + log_failure.what() + ")");
    }
    return CycleOutcome::JobFailed;
  } catch (const std::exception& e) {
    // Not one of the service's own errors: reported outside the log, the cycle goes on.
    ReportOutsideLog(std::string("SrvZentrovia: ") + e.what());
    return CycleOutcome::JobFailed;
  } catch (...) {
    ReportOutsideLog("SrvZentrovia: unknown error in the sync cycle");
    return CycleOutcome::JobFailed;
  }
}

}  // namespace zv
