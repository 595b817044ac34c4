#pragma once
// TSrvZentrovia: the service module. It owns the timer, the retry pause, the store objects,
// the settings and the platform client; every job is one of its methods, defined in the
// folder of its subsystem.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/datetime.h"
#include "platform/http_transport.h"
#include "platform/zentrovia_client.h"
#include "service/activity_log.h"
#include "service/clock.h"
#include "service/zentrovia_timer.h"
#include "store/fb_conn.h"
#include "store/integration_settings.h"
#include "store/store_query.h"

namespace zv {

// The jobs the sync cycle chooses from, in the order of its tests.
enum class ZentroviaJob { VerificaReenvio, AtualizaPromo, FechamentoCaixa, EnviarVendas };
const char* JobName(ZentroviaJob job);

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
  // Stand-ins for the connect step and the jobs, for tests of the cycle alone; empty means
  // the module's own IniConn and jobs.
  std::function<void()> connect_step;
  std::function<void(ZentroviaJob)> job_step;
};

// How a cycle ended (for the foreground run and the tests; the service ignores it).
enum class CycleOutcome {
  Stopped,      // the service is stopping: nothing ran
  Paused,       // a retry pause is in force
  ProbeFailed,  // no internet: 15 minutes pause
  Connected,    // connect step ran (DbConnected tells whether it worked)
  JobDone,      // a job returned without error
  JobFailed,    // an error ended the cycle (logged, pause set)
};

struct MovementDocument;  // movements/movement_document.h

// Runs the settings query on q and reads the row into s (the documented defaults when no
// row qualifies). Changes nothing in the store.
void ReadSettingsRow(TStoreQuery& q, IntegrationSettings& s);

class TSrvZentrovia {
 public:
  // Process start: creates the module (ServiceCreate).
  explicit TSrvZentrovia(ServiceEnvironment env);
  // Process end (ServiceDestroy).
  ~TSrvZentrovia();
  TSrvZentrovia(const TSrvZentrovia&) = delete;
  TSrvZentrovia& operator=(const TSrvZentrovia&) = delete;

  // ---- Lifecycle events (service/service_module.cpp) ----
  void ServiceBeforeInstall();
  void ServiceAfterInstall();
  void ServiceBeforeUninstall();
  void ServiceAfterUninstall();
  void ServiceStart();
  // Steps before the control loop: log, enable the timer, firewall set-up.
  void ServiceExecute();
  // Step after the control loop: disable the timer.
  void ServiceExecuteEnd();
  void ServicePause();
  void ServiceContinue();
  // Waits for a running cycle to end; no cycle starts afterwards.
  void ServiceStop();
  void ServiceShutdown();

  // ---- Activity log ----
  void DoSaveLog(const std::string& Msg);

  // ---- Sync cycle (service/sync_cycle.cpp) ----
  CycleOutcome ZentroviaTimerTimer();
  // The job the next cycle would run with the settings in memory.
  ZentroviaJob NextJob(DateTime now, DateTime today) const;
  void RunJob(ZentroviaJob job);
  bool isInternetOk();
  bool TestUrl(const ProbeHost& Host, bool UseHttps);

  // ---- Store (store/) ----
  void IniConn();
  // The connect steps of IniConn without its log line and settings reload: reads the ini
  // file, creates the store objects, tries both passwords. Returns whether it connected,
  // with the last error's text in *error when it did not.
  bool ConnectStore(std::string* error);
  void GetCredenciaisZentrovia();

  // ---- Platform (platform/) ----
  std::string VerificarErroJSON(const std::string& AJson);
  static std::string DateTimeToISO8601(DateTime ADateTime);

  // ---- Jobs ----
  void VerificaReenvio();           // closings/
  void AtualizaPromo();             // promotions/
  void FechamentoCaixaZentrovia();  // closings/
  void EnviarVendasZentrovia();     // movements/
  void EnviarVendasCanceladas();    // movements/
  // movements/: the movement document of one sale. The preparing statements run unguarded;
  // the build that follows is guarded by the calling job, which posts whatever batch text
  // it got (empty when the build failed).
  void PreparaDocumentoVenda(int64_t Venda, MovementDocument& Doc);
  void MontaDocumentoVenda(MovementDocument& Doc);

  // ---- State, owned here ----
  IZentroviaTimer& ZentroviaTimer;
  DateTime FCooldownUntil;
  bool DbConnected = false;
  std::string StoreServer;
  std::string StoreDatabasePath;
  std::unique_ptr<TFBConn> FBConn;
  std::unique_ptr<TZentrovia> Zentrovia;
  std::unique_ptr<TStoreConnection> StoreConnection;
  std::unique_ptr<TStoreQuery> StoreQuery1;
  std::unique_ptr<TStoreQuery> StoreQuery2;
  std::unique_ptr<TStoreQuery> StoreQuery3;
  std::unique_ptr<TFbDriverLink> StoreDriverLink;
  IntegrationSettings Settings;

  const ServiceEnvironment& env() const { return env_; }
  const IClock& clock() const { return *env_.clock; }

 private:
  void ServiceCreate();
  void ServiceDestroy();
  void ReleaseStoreObjects();

  ServiceEnvironment env_;
  ActivityLog log_;
  // Held by a running cycle and by the stop's release, so the two never overlap.
  std::mutex cycle_mutex_;
  std::atomic<bool> stopping_{false};
};

}  // namespace zv
