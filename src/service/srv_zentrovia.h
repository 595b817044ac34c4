#pragma once
// TSrvZentrovia: the service module. It owns the timer's use, the sync cycle, the store
// session, the settings, the platform client and the log, and hands the jobs what they use
// (jobs/job_context.h). Its methods keep the service's names; each job is a one-line call
// into the folder of its subsystem.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/datetime.h"
#include "base/integration_settings.h"
#include "base/zentrovia_timer.h"
#include "jobs/job_context.h"
#include "os/http_transport.h"
#include "os/service_host.h"
#include "platform/zentrovia_client.h"
#include "promotions/promotion_import.h"
#include "service/activity_log.h"
#include "service/cycle_ceiling.h"
#include "service/sync_cycle.h"
#include "store/store_session.h"

namespace zv {

// The outside world of the service, one seam each. Production fills them with the system's
// pieces (os/system.h); tests with their own.
struct ServiceEnvironment {
  IClock* clock = nullptr;
  IZentroviaTimer* timer = nullptr;
  IHttpTransport* transport = nullptr;
  IUrlTester* url_tester = nullptr;
  std::vector<ProbeHost> probe_hosts;
  // Directory of the executable, with a trailing separator: the log and the ini live here.
  std::string exe_dir;
  // Full path of the executable (firewall set-up, service registration).
  std::string exe_path;
  char date_separator = '/';
  char time_separator = ':';
  // The foreground run on a machine without internet skips the connectivity probe.
  bool skip_probe = false;
  // The firewall set-up at ServiceExecute (off where a test runs the service).
  bool firewall_setup = true;
  // The uploads go on with the next waiting document within a cycle, for the ini's
  // DrainSeconds (off for -SYNC, whose cycles run back to back: one document per cycle).
  bool drain_backlog = true;
  // A cycle past its ceiling ends the process with this exit code, its line also written
  // to the terminal when asked (-SYNC).
  int stuck_exit_code = 1;
  bool stuck_on_terminal = false;
};

struct MovementDocument;  // movements/movement_document.h

class TSrvZentrovia : public IServiceEvents, private ISyncSteps {
 public:
  // Process start: creates the module (ServiceCreate).
  explicit TSrvZentrovia(ServiceEnvironment env);
  // Process end (ServiceDestroy).
  ~TSrvZentrovia() override;
  TSrvZentrovia(const TSrvZentrovia&) = delete;
  TSrvZentrovia& operator=(const TSrvZentrovia&) = delete;

  // ---- Lifecycle events ----
  void ServiceBeforeInstall();
  void ServiceAfterInstall();
  void ServiceBeforeUninstall();
  void ServiceAfterUninstall();
  void ServiceStart() override;
  // Steps before the control loop: log, enable the timer, firewall set-up.
  void ServiceExecute() override;
  // Step after the control loop: disable the timer.
  void ServiceExecuteEnd() override;
  void ServicePause() override;
  void ServiceContinue() override;
  // Waits for a running cycle to end; no cycle starts afterwards.
  void ServiceStop() override;
  void ServiceShutdown() override;

  // ---- Activity log ----
  void DoSaveLog(const std::string& Msg);

  // ---- Sync cycle ----
  CycleOutcome ZentroviaTimerTimer();
  // The job the next cycle would run with the settings in memory.
  ZentroviaJob NextJob(DateTime now, DateTime today) const { return cycle_.NextJob(now, today); }
  void RunJob(ZentroviaJob job) override;
  bool isInternetOk() override;
  bool TestUrl(const ProbeHost& Host, bool UseHttps);
  bool StopRequested() const override { return stopping_.load(); }

  // ---- Store ----
  void IniConn() override;
  // The connect steps of IniConn without its log line and settings reload. Returns whether
  // it connected, with the first attempt's error in *error when it did not.
  bool ConnectStore(std::string* error) { return store_.Connect(env_.exe_dir, error); }
  void GetCredenciaisZentrovia() { context_.ReloadSettings(); }

  // ---- Platform ----
  std::string VerificarErroJSON(const std::string& AJson);
  static std::string DateTimeToISO8601(DateTime ADateTime);

  // ---- Jobs ----
  void VerificaReenvio();
  void AtualizaPromo();
  void FechamentoCaixaZentrovia();
  void EnviarVendasZentrovia();
  void EnviarVendasCanceladas();
  void ReenviaVendaZentrovia(int64_t Venda);
  void CarregaVendasReenvioZentrovia(DateTime DataVenda, const std::string& Terminal);
  void ReenviaCaixaZentrovia(DateTime DataCaixa, const std::string& Terminal);
  void PrepareSaleDocument(int64_t Venda, MovementDocument& Doc);
  void BuildSaleDocument(MovementDocument& Doc);

  // ---- What the foreground modes and the tests read ----
  bool DbConnected() const override { return db_connected_; }
  DateTime FCooldownUntil() const { return cycle_.FCooldownUntil; }
  TSyncCycle& Cycle() { return cycle_; }
  IntegrationSettings& Settings() { return settings_; }
  TStoreSession& Store() { return store_; }
  TZentrovia& Zentrovia() { return zentrovia_; }
  JobContext& Context() { return context_; }
  // The service's own settings as last read (defaults until the first connect step).
  const ServiceOptions& Options() const { return context_.options; }
  // What the promotion passes of this process wrote, refused and marked, added up.
  const PromotionPassCounts& PromotionCounts() const { return promotion_counts_; }
  const ServiceEnvironment& env() const { return env_; }
  const IClock& clock() const { return *env_.clock; }

 private:
  void ServiceCreate();
  void ServiceDestroy();

  ServiceEnvironment env_;
  IZentroviaTimer& ZentroviaTimer;
  ActivityLog log_;
  IntegrationSettings settings_;
  TStoreSession store_;
  TZentrovia zentrovia_;
  JobContext context_;
  TSyncCycle cycle_;
  bool db_connected_ = false;
  PromotionPassCounts promotion_counts_;
  // Held by a running cycle and by the stop's release, so the two never overlap.
  std::mutex cycle_mutex_;
  std::atomic<bool> stopping_{false};
  // Between a pause and a continue: a backlog drain ends after its current document.
  std::atomic<bool> paused_{false};
  // Logs a cycle stuck past its ceiling and ends the process.
  void CycleStuck(const std::string& what, int ceiling_s);
  // Last, so that its thread ends before anything it reports through.
  CycleCeiling ceiling_{[this](const std::string& what, int s) { CycleStuck(what, s); }};
};

}  // namespace zv
