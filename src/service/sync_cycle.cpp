// The sync cycle: one tick of ZentroviaTimer runs at most one job.

#include <exception>
#include <iostream>

#include "platform/errors.h"
#include "service/srv_zentrovia.h"

namespace zv {

namespace {

constexpr uint32_t kIntervalAfterJob = 10000;
constexpr uint32_t kIntervalOtherwise = 30000;
constexpr int64_t kLongPauseSeconds = 900;
constexpr int64_t kShortPauseSeconds = 60;
constexpr int64_t kPromoSpacingMinutes = 60;

// "12007", or the system's text for it with only the letters A to Z lowered.
bool IsNameResolutionFailure(const std::string& text) {
  if (text.find("12007") != std::string::npos) return true;
  std::string lowered = text;
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lowered.find(
             "n\xC3\xA3o p\xC3\xB4"
             "de ser resolvido") != std::string::npos;
}

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

ZentroviaJob TSrvZentrovia::NextJob(DateTime now, DateTime today) const {
  if (today > Settings.zentrovia_verificareenvio) return ZentroviaJob::VerificaReenvio;
  if (now.AddMinutes(-kPromoSpacingMinutes) > Settings.zentrovia_verificapromo)
    return ZentroviaJob::AtualizaPromo;
  if (today > Settings.zentrovia_ultcaixa) return ZentroviaJob::FechamentoCaixa;
  return ZentroviaJob::EnviarVendas;
}

CycleOutcome TSrvZentrovia::ZentroviaTimerTimer() {
  std::lock_guard<std::mutex> cycle_lock(cycle_mutex_);
  if (stopping_) return CycleOutcome::Stopped;

  // Every way out leaves the timer running.
  struct RearmGuard {
    IZentroviaTimer& timer;
    ~RearmGuard() {
      if (!timer.Enabled()) timer.Rearm(kIntervalOtherwise);
    }
  } rearm_guard{ZentroviaTimer};

  ZentroviaTimer.Disable();
  const DateTime now = clock().Now();
  const DateTime today = now.Date();

  if (FCooldownUntil > DateTime() && FCooldownUntil > now) {
    ZentroviaTimer.Rearm(kIntervalOtherwise);
    return CycleOutcome::Paused;
  }

  try {
    if (!env_.skip_probe && !isInternetOk()) {
      DoSaveLog("Falha na conex\xC3\xA3o de internet.");
      FCooldownUntil = now.AddSeconds(kLongPauseSeconds);
      DoSaveLog("Entrando em pausa por 15 minutos (internet).");
      ZentroviaTimer.Rearm(kIntervalOtherwise);
      return CycleOutcome::ProbeFailed;
    }
    if (!DbConnected) {
      DoSaveLog("DB: desconectado -> IniConn");
      if (env_.connect_step) {
        env_.connect_step();
      } else {
        IniConn();
      }
      ZentroviaTimer.Rearm(kIntervalOtherwise);
      return CycleOutcome::Connected;
    }
    const ZentroviaJob job = NextJob(now, today);
    if (env_.job_step) {
      env_.job_step(job);
    } else {
      RunJob(job);
    }
    FCooldownUntil = DateTime();
    ZentroviaTimer.Rearm(kIntervalAfterJob);
    return CycleOutcome::JobDone;
  } catch (const Exception& e) {
    const std::string text = e.kind() + " - " + e.what();
    try {
      DoSaveLog("ERRO no Timer: " + text);
      if (IsNameResolutionFailure(text)) {
        FCooldownUntil = now.AddSeconds(kLongPauseSeconds);
        DoSaveLog("Rede/DNS falhou (12007). Pausando por 15 minutos.");
      } else {
        FCooldownUntil = now.AddSeconds(kShortPauseSeconds);
      }
      ZentroviaTimer.Rearm(kIntervalOtherwise);
    } catch (const std::exception& log_failure) {
      // The log itself failed: the main loop reports it; the guard keeps the timer going.
      std::cerr << "SrvZentrovia: " << log_failure.what() << std::endl;
    }
    return CycleOutcome::JobFailed;
  } catch (const std::exception& e) {
    // Not one of the service's own errors: reported outside the log, the cycle goes on.
    std::cerr << "SrvZentrovia: " << e.what() << std::endl;
    return CycleOutcome::JobFailed;
  } catch (...) {
    std::cerr << "SrvZentrovia: unknown error in the sync cycle" << std::endl;
    return CycleOutcome::JobFailed;
  }
}

void TSrvZentrovia::RunJob(ZentroviaJob job) {
  switch (job) {
    case ZentroviaJob::VerificaReenvio:
      VerificaReenvio();
      break;
    case ZentroviaJob::AtualizaPromo:
      AtualizaPromo();
      break;
    case ZentroviaJob::FechamentoCaixa:
      FechamentoCaixaZentrovia();
      break;
    case ZentroviaJob::EnviarVendas:
      EnviarVendasZentrovia();
      break;
  }
}

bool TSrvZentrovia::isInternetOk() {
  for (const ProbeHost& host : env_.probe_hosts) {
    if (TestUrl(host, false)) return true;
    if (TestUrl(host, true)) return true;
  }
  return false;
}

bool TSrvZentrovia::TestUrl(const ProbeHost& Host, bool UseHttps) {
  if (!env_.url_tester) return false;
  try {
    return env_.url_tester->TestUrl(Host, UseHttps);
  } catch (...) {
    return false;
  }
}

}  // namespace zv
