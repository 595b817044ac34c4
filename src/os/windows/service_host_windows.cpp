// Windows service host: registration with the service control manager, and the run under
// it. The dispatcher runs on a framework thread, the lifecycle events on the service thread
// that the dispatcher starts, and the timer's ticks on the main thread's io_context.

#include <windows.h>

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

#include "os/control_queue.h"
#include "os/service_host.h"
#include "os/system.h"
#include "os/windows/win_text.h"

namespace zv {

namespace {

wchar_t kServiceName[] = L"SrvZentrovia";
const wchar_t kDisplayName[] = L"SrvZentrovia";
constexpr DWORD kWaitHint = 5000;

// An error the service framework catches is written to the Windows event log.
void ReportToEventLog(const std::string& text) {
  ReportOutsideLog(text);
}

template <typename F>
bool RunEvent(const char* name, F&& event) {
  try {
    event();
    return true;
  } catch (const Exception& e) {
    ReportToEventLog(std::string("SrvZentrovia: ") + name + ": " + e.kind() + ": " + e.what());
  } catch (const std::exception& e) {
    ReportToEventLog(std::string("SrvZentrovia: ") + name + ": " + e.what());
  }
  return false;
}

struct Host {
  Host(IServiceEvents& m, asio::io_context& i) : module(m), io(i), work(asio::make_work_guard(i)) {}

  IServiceEvents& module;
  asio::io_context& io;
  asio::executor_work_guard<asio::io_context::executor_type> work;
  ControlQueue<DWORD> controls;
  SERVICE_STATUS_HANDLE status_handle = nullptr;
  std::mutex status_mutex;
  SERVICE_STATUS status{};
  int exit_code = 0;

  // The service thread reports states; while a stop waits for a running cycle, a second
  // thread repeats the pending state.
  void Report(DWORD state, DWORD win32_exit = NO_ERROR) {
    std::lock_guard<std::mutex> lock(status_mutex);
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
                         state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
    status.dwControlsAccepted =
        state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING || state == SERVICE_STOPPED
            ? 0
            : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
    status.dwWin32ExitCode = win32_exit;
    status.dwServiceSpecificExitCode = win32_exit == ERROR_SERVICE_SPECIFIC_ERROR ? 1 : 0;
    status.dwCheckPoint = pending ? status.dwCheckPoint + 1 : 0;
    status.dwWaitHint = pending ? kWaitHint : 0;
    SetServiceStatus(status_handle, &status);
  }

  DWORD State() {
    std::lock_guard<std::mutex> lock(status_mutex);
    return status.dwCurrentState;
  }

  void EndMainLoop() {
    asio::post(io, [this] {
      work.reset();
      io.stop();
    });
  }
};

Host* g_host = nullptr;

DWORD WINAPI ControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_SHUTDOWN:
      g_host->controls.Push(control);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// Runs a stop or shutdown event in the stop-pending state. The stop waits for a running
// cycle, which may wait up to a minute on the platform: meanwhile the service control manager
// sees the checkpoint advance and does not take the service for hung.
template <typename F>
bool RunStopping(Host& host, const char* name, F&& event) {
  host.Report(SERVICE_STOP_PENDING);
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  std::thread heartbeat([&] {
    std::unique_lock<std::mutex> lock(mutex);
    while (!cv.wait_for(lock, std::chrono::milliseconds(kWaitHint / 2), [&] { return done; })) {
      host.Report(SERVICE_STOP_PENDING);
    }
  });
  const bool ok = RunEvent(name, std::forward<F>(event));
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  cv.notify_one();
  heartbeat.join();
  return ok;
}

void ServiceLoop(Host& host) {
  IServiceEvents& module = host.module;
  if (!RunEvent("ServiceStart", [&] { module.ServiceStart(); })) {
    host.exit_code = 1;
    host.EndMainLoop();
    host.Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
    return;
  }
  host.Report(SERVICE_RUNNING);
  RunEvent("ServiceExecute", [&] { module.ServiceExecute(); });
  for (bool done = false; !done;) {
    const DWORD state = host.State();
    switch (host.controls.Pop()) {
      case SERVICE_CONTROL_STOP:
        // A failed stop event is reported; the service stops all the same, since the stop
        // has already released what the cycles need and no cycle starts after it.
        RunStopping(host, "ServiceStop", [&] { module.ServiceStop(); });
        done = true;
        break;
      case SERVICE_CONTROL_SHUTDOWN:
        RunStopping(host, "ServiceShutdown", [&] { module.ServiceShutdown(); });
        done = true;
        break;
      case SERVICE_CONTROL_PAUSE:
        if (state != SERVICE_RUNNING) {
          host.Report(state);
          break;
        }
        host.Report(SERVICE_PAUSE_PENDING);
        host.Report(RunEvent("ServicePause", [&] { module.ServicePause(); }) ? SERVICE_PAUSED
                                                                             : SERVICE_RUNNING);
        break;
      case SERVICE_CONTROL_CONTINUE:
        if (state != SERVICE_PAUSED) {
          host.Report(state);
          break;
        }
        host.Report(SERVICE_CONTINUE_PENDING);
        host.Report(RunEvent("ServiceContinue", [&] { module.ServiceContinue(); })
                        ? SERVICE_RUNNING
                        : SERVICE_PAUSED);
        break;
    }
  }
  RunEvent("ServiceExecuteEnd", [&] { module.ServiceExecuteEnd(); });
  // The main loop ends before the stopped state is reported: once it is, the dispatcher
  // returns and the process goes on to its end.
  host.EndMainLoop();
  host.Report(SERVICE_STOPPED);
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  Host& host = *g_host;
  host.status_handle = RegisterServiceCtrlHandlerExW(kServiceName, ControlHandler, nullptr);
  if (!host.status_handle) {
    ReportToEventLog("SrvZentrovia: RegisterServiceCtrlHandlerEx: " +
                     SystemErrorText(GetLastError()));
    host.exit_code = 1;
    host.EndMainLoop();
    return;
  }
  host.Report(SERVICE_START_PENDING);
  ServiceLoop(host);
}

class ServiceManager {
 public:
  explicit ServiceManager(DWORD access) : handle_(OpenSCManagerW(nullptr, nullptr, access)) {}
  ~ServiceManager() {
    if (handle_) CloseServiceHandle(handle_);
  }
  ServiceManager(const ServiceManager&) = delete;
  ServiceManager& operator=(const ServiceManager&) = delete;
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

}  // namespace

void ShowMessage(const std::string& text) {
  const std::wstring wide = Utf8ToWide(text);
  MessageBoxW(nullptr, wide.c_str(), kDisplayName, MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND);
}

bool InstallService(const ServiceRegistration& reg, std::string& error) {
  ServiceManager scm(SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
  if (!scm.get()) {
    error = SystemErrorText(GetLastError());
    return false;
  }
  // Quoted, so that a path with blanks cannot be read as a shorter program path.
  const std::wstring binary = L"\"" + Utf8ToWide(reg.exe_path) + L"\"";
  SC_HANDLE service =
      CreateServiceW(scm.get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                     SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                     binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (!service) {
    error = SystemErrorText(GetLastError());
    return false;
  }
  // A process that ends without reporting a stop (the cycle ceiling ends it so) is started
  // again a minute later, up to three times a day.
  SC_ACTION actions[3] = {
      {SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000}};
  SERVICE_FAILURE_ACTIONSW failure{};
  failure.dwResetPeriod = 24 * 60 * 60;
  failure.cActions = 3;
  failure.lpsaActions = actions;
  if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) {
    error = SystemErrorText(GetLastError());
    // Not left registered without them.
    DeleteService(service);
    CloseServiceHandle(service);
    return false;
  }
  CloseServiceHandle(service);
  return true;
}

bool UninstallService(const ServiceRegistration&, std::string& error) {
  ServiceManager scm(SC_MANAGER_CONNECT);
  if (!scm.get()) {
    error = SystemErrorText(GetLastError());
    return false;
  }
  SC_HANDLE service = OpenServiceW(scm.get(), kServiceName, DELETE);
  if (!service) {
    error = SystemErrorText(GetLastError());
    return false;
  }
  const bool ok = DeleteService(service) != 0;
  if (!ok) error = SystemErrorText(GetLastError());
  CloseServiceHandle(service);
  return ok;
}

int RunServiceHost(IServiceEvents& module, asio::io_context& io) {
  Host host(module, io);
  g_host = &host;
  DWORD dispatcher_error = 0;

  std::thread framework([&] {
    SERVICE_TABLE_ENTRYW table[] = {{kServiceName, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
      dispatcher_error = GetLastError();
      host.EndMainLoop();
    }
  });
  io.run();
  framework.join();
  g_host = nullptr;

  if (dispatcher_error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
    std::cerr << "SrvZentrovia: this program runs as the Windows service SrvZentrovia and "
                 "was started outside the service control manager.\n"
                 "Register it with SrvZentrovia -INSTALL and start it with \"sc start "
                 "SrvZentrovia\", or run the sync in the foreground with SrvZentrovia -SYNC."
              << std::endl;
    return 2;
  }
  if (dispatcher_error != 0) {
    std::cerr << "SrvZentrovia: StartServiceCtrlDispatcher: " << SystemErrorText(dispatcher_error)
              << std::endl;
    return 2;
  }
  return host.exit_code;
}

}  // namespace zv
