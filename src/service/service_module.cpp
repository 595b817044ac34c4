// The service module's lifecycle events. Each writes exactly one log line.

#include <chrono>
#include <cstdlib>
#include <future>
#include <iostream>
#include <memory>
#include <thread>

#include "base/errors.h"
#include "base/version.h"
#include "closings/closing_resend.h"
#include "closings/daily_closing.h"
#include "closings/resend_requests.h"
#include "movements/cancellation_upload.h"
#include "movements/movement_resend.h"
#include "movements/sales_upload.h"
#include "os/system.h"
#include "platform/timestamp.h"
#include "promotions/promotion_import.h"
#include "service/srv_zentrovia.h"

namespace zv {

namespace {
constexpr uint32_t kFirstInterval = 180000;
}

namespace {
constexpr const char* kConnectionFailed = "Falha na conexão com o banco de dados do Quelmara";
}  // namespace

TSrvZentrovia::TSrvZentrovia(ServiceEnvironment env)
    : env_(std::move(env)),
      ZentroviaTimer(*env_.timer),
      log_(env_.exe_dir + "Zentrovia.log", *env_.clock, env_.date_separator, env_.time_separator),
      zentrovia_(*env_.transport, settings_),
      context_{store_,
               zentrovia_,
               settings_,
               ZentroviaTimer,
               *env_.clock,
               [this](const std::string& msg) { DoSaveLog(msg); },
               [this] { return stopping_.load(); },
               env_.date_separator,
               ServiceOptions{},
               ResendProgress{},
               [this] { return paused_.load(); }},
      cycle_(
          ZentroviaTimer, *env_.clock, [this](const std::string& msg) { DoSaveLog(msg); },
          settings_, *this) {
  ZentroviaTimer.Disable();
  ZentroviaTimer.SetOnTimer([this] { ZentroviaTimerTimer(); });
  context_.resend_closing = [this](DateTime DataCaixa, const std::string& Terminal) {
    ReenviaCaixaZentrovia(DataCaixa, Terminal);
  };
  cycle_.SetSeparators(env_.date_separator, env_.time_separator);
  ServiceCreate();
}

TSrvZentrovia::~TSrvZentrovia() {
  ZentroviaTimer.Disable();
  ZentroviaTimer.SetOnTimer(nullptr);
  try {
    ServiceDestroy();
  } catch (...) {
    // The process is ending; a log that cannot be written has nowhere else to go.
  }
}

void TSrvZentrovia::DoSaveLog(const std::string& Msg) {
  log_.Write(Msg);
}

void TSrvZentrovia::ServiceCreate() {
  DoSaveLog("Serviço criado");
}

void TSrvZentrovia::ServiceDestroy() {
  DoSaveLog("Serviço encerrado");
}

void TSrvZentrovia::ServiceBeforeInstall() {
  DoSaveLog("Iniciando instalação do serviço");
}
void TSrvZentrovia::ServiceAfterInstall() {
  DoSaveLog("Serviço instalado com sucesso");
}
void TSrvZentrovia::ServiceBeforeUninstall() {
  DoSaveLog("Iniciando desinstalação do serviço");
}
void TSrvZentrovia::ServiceAfterUninstall() {
  DoSaveLog("Serviço desinstalado com sucesso");
}

void TSrvZentrovia::ServiceStart() {
  cycle_.FCooldownUntil = DateTime();
  ZentroviaTimer.Disable();
  ZentroviaTimer.SetInterval(kFirstInterval);
  db_connected_ = false;
  ZentroviaTimer.Enable();
  DoSaveLog("Serviço iniciado. Primeiro ciclo do Zentrovia em 3 minutos. " + VersionText());
}

void TSrvZentrovia::ServiceExecute() {
  DoSaveLog("Serviço executado");
  ZentroviaTimer.Enable();
  if (!env_.firewall_setup) return;
  // Best effort: nothing depends on the firewall, and nothing is logged about it.
  try {
    OpenDatabasePortInFirewall();
  } catch (...) {
  }
  try {
    DesbloqueiaAppFirewall(env_.exe_path);
  } catch (...) {
  }
}

void TSrvZentrovia::ServiceExecuteEnd() {
  ZentroviaTimer.Disable();
}

void TSrvZentrovia::ServicePause() {
  paused_ = true;
  DoSaveLog("Serviço pausado");
}
void TSrvZentrovia::ServiceContinue() {
  paused_ = false;
  DoSaveLog("Serviço despausado");
}
void TSrvZentrovia::ServiceShutdown() {
  DoSaveLog("Serviço finalizado");
}

void TSrvZentrovia::ServiceStop() {
  // No cycle starts after this point, and a running one is waited for.
  stopping_ = true;
  std::lock_guard<std::mutex> cycle_lock(cycle_mutex_);
  store_.Release();
  if (ZentroviaTimer.Enabled()) ZentroviaTimer.Disable();
  DoSaveLog("Serviço parado");
}

// ---- Sync cycle ----

CycleOutcome TSrvZentrovia::ZentroviaTimerTimer() {
  std::lock_guard<std::mutex> cycle_lock(cycle_mutex_);
  if (stopping_) return CycleOutcome::Stopped;
  CycleCeilingScope ceiling(ceiling_, context_.options.cycle_ceiling_s);
  return cycle_.Run();
}

void TSrvZentrovia::CycleStuck(const std::string& what, int ceiling_s) {
  const std::string text = "Ciclo travado há mais de " + std::to_string(ceiling_s) + " s em " +
                           what + ": o processo será encerrado para ser reiniciado";
  if (env_.stuck_on_terminal) std::cerr << "SrvZentrovia: " << text << std::endl;
  // The log is written from a thread of its own: the stuck cycle may be the one holding it
  // (a log file on a share that stopped answering).
  auto written = std::make_shared<std::promise<bool>>();
  std::future<bool> done = written->get_future();
  std::thread([this, text, written] {
    try {
      DoSaveLog(text);
      written->set_value(true);
    } catch (...) {
      written->set_value(false);
    }
  }).detach();
  if (done.wait_for(std::chrono::seconds(10)) != std::future_status::ready || !done.get())
    ReportOutsideLog("SrvZentrovia: " + text);
  std::_Exit(env_.stuck_exit_code);
}

void TSrvZentrovia::RunJob(ZentroviaJob job) {
  ceiling_.Doing(JobName(job));
  context_.report = JobReport();
  switch (job) {
    case ZentroviaJob::VerificaReenvio:
      return VerificaReenvio();
    case ZentroviaJob::AtualizaPromo:
      return AtualizaPromo();
    case ZentroviaJob::FechamentoCaixa:
      return FechamentoCaixaZentrovia();
    case ZentroviaJob::EnviarVendas:
      return EnviarVendasZentrovia();
  }
}

bool TSrvZentrovia::isInternetOk() {
  if (env_.skip_probe) return true;
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

// ---- Store and platform ----

void TSrvZentrovia::IniConn() {
  // Read at every connect step, so an edited ini file takes effect without a restart; a
  // value that cannot be read ends the step with an error naming the key.
  ceiling_.Doing("IniConn");
  context_.options = LoadServiceOptions(env_.exe_dir);
  if (!env_.drain_backlog) context_.options.drain_s = 0;
  store_.CallDeadline = std::chrono::seconds(context_.options.store_call_deadline_s);
  ceiling_.Adjust(context_.options.cycle_ceiling_s);
  db_connected_ = ConnectStore(nullptr);
  if (!db_connected_) DoSaveLog(kConnectionFailed);
  GetCredenciaisZentrovia();
}

std::string TSrvZentrovia::VerificarErroJSON(const std::string& AJson) {
  return zv::VerificarErroJSON(context_, AJson);
}

std::string TSrvZentrovia::DateTimeToISO8601(DateTime ADateTime) {
  return zv::DateTimeToISO8601(ADateTime);
}

// ---- Jobs ----

void TSrvZentrovia::VerificaReenvio() {
  zv::VerificaReenvio(context_);
}
void TSrvZentrovia::AtualizaPromo() {
  zv::AtualizaPromo(context_, &promotion_counts_);
}
void TSrvZentrovia::FechamentoCaixaZentrovia() {
  zv::FechamentoCaixaZentrovia(context_);
}
void TSrvZentrovia::EnviarVendasZentrovia() {
  zv::EnviarVendasZentrovia(context_);
}
void TSrvZentrovia::EnviarVendasCanceladas() {
  zv::EnviarVendasCanceladas(context_);
}
void TSrvZentrovia::ReenviaVendaZentrovia(int64_t Venda) {
  zv::ReenviaVendaZentrovia(context_, Venda);
}
void TSrvZentrovia::CarregaVendasReenvioZentrovia(DateTime DataVenda, const std::string& Terminal) {
  zv::CarregaVendasReenvioZentrovia(context_, DataVenda, Terminal);
}
void TSrvZentrovia::ReenviaCaixaZentrovia(DateTime DataCaixa, const std::string& Terminal) {
  zv::ReenviaCaixaZentrovia(context_, DataCaixa, Terminal);
}
void TSrvZentrovia::PrepareSaleDocument(int64_t Venda, MovementDocument& Doc) {
  zv::PrepareSaleDocument(context_, Venda, Doc);
}
void TSrvZentrovia::BuildSaleDocument(MovementDocument& Doc) {
  zv::BuildSaleDocument(context_, Doc);
}

}  // namespace zv
