// The service module's lifecycle events. Each writes exactly one log line.

#include "os/system.h"
#include "platform/errors.h"
#include "service/srv_zentrovia.h"

namespace zv {

namespace {
constexpr uint32_t kFirstInterval = 180000;
}

TSrvZentrovia::TSrvZentrovia(ServiceEnvironment env)
    : ZentroviaTimer(*env.timer),
      env_(std::move(env)),
      log_(env_.exe_dir + "Zentrovia.log", *env_.clock, env_.date_separator, env_.time_separator) {
  ZentroviaTimer.Disable();
  ZentroviaTimer.SetOnTimer([this] { ZentroviaTimerTimer(); });
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
  if (!FBConn) FBConn = std::make_unique<TFBConn>();
  if (!Zentrovia) Zentrovia = std::make_unique<TZentrovia>(*env_.transport, Settings);
  DoSaveLog("Servi\xC3\xA7o criado");
}

void TSrvZentrovia::ServiceDestroy() {
  DoSaveLog("Servi\xC3\xA7o encerrado");
}

void TSrvZentrovia::ServiceBeforeInstall() {
  DoSaveLog("Iniciando instala\xC3\xA7\xC3\xA3o do servi\xC3\xA7o");
}
void TSrvZentrovia::ServiceAfterInstall() {
  DoSaveLog("Servi\xC3\xA7o instalado com sucesso");
}
void TSrvZentrovia::ServiceBeforeUninstall() {
  DoSaveLog("Iniciando desinstala\xC3\xA7\xC3\xA3o do servi\xC3\xA7o");
}
void TSrvZentrovia::ServiceAfterUninstall() {
  DoSaveLog("Servi\xC3\xA7o desinstalado com sucesso");
}

void TSrvZentrovia::ServiceStart() {
  FCooldownUntil = DateTime();
  ZentroviaTimer.Disable();
  ZentroviaTimer.SetInterval(kFirstInterval);
  DbConnected = false;
  ZentroviaTimer.Enable();
  DoSaveLog("Servi\xC3\xA7o iniciado. Primeiro ciclo do Zentrovia em 3 minutos.");
}

void TSrvZentrovia::ServiceExecute() {
  DoSaveLog("Servi\xC3\xA7o executado");
  ZentroviaTimer.Enable();
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
  DoSaveLog("Servi\xC3\xA7o pausado");
}
void TSrvZentrovia::ServiceContinue() {
  DoSaveLog("Servi\xC3\xA7o despausado");
}
void TSrvZentrovia::ServiceShutdown() {
  DoSaveLog("Servi\xC3\xA7o finalizado");
}

void TSrvZentrovia::ReleaseStoreObjects() {
  if (StoreConnection) {
    StoreConnection->Close();
  }
  // The queries and the connection hold handles of the client library: they go before the
  // driver link that unloads it.
  StoreQuery1.reset();
  StoreQuery2.reset();
  StoreQuery3.reset();
  StoreConnection.reset();
  StoreDriverLink.reset();
}

void TSrvZentrovia::ServiceStop() {
  // No cycle starts after this point, and a running one is waited for.
  stopping_ = true;
  std::lock_guard<std::mutex> cycle_lock(cycle_mutex_);
  ReleaseStoreObjects();
  if (ZentroviaTimer.Enabled()) ZentroviaTimer.Disable();
  DoSaveLog("Servi\xC3\xA7o parado");
}

}  // namespace zv
