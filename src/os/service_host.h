#pragma once
// Registration and the run under the system's service manager: the service control manager
// on Windows, systemd on Linux.

#include <string>

#include <asio/io_context.hpp>

namespace zv {

// The service's lifecycle events, as the host delivers them: start, execute (before the
// control loop), execute end (after it), stop, pause, continue and shutdown.
class IServiceEvents {
 public:
  virtual ~IServiceEvents() = default;
  virtual void ServiceStart() = 0;
  virtual void ServiceExecute() = 0;
  virtual void ServiceExecuteEnd() = 0;
  virtual void ServiceStop() = 0;
  virtual void ServicePause() = 0;
  virtual void ServiceContinue() = 0;
  virtual void ServiceShutdown() = 0;
};

struct ServiceRegistration {
  std::string exe_path;
  // Linux: where the systemd unit goes (tests give a temporary directory).
  std::string unit_directory;
  // Linux: systemd's watchdog interval (WatchdogSec=), longer than the cycle ceiling so
  // that a stuck cycle is normally ended, and logged, by the process itself first.
  int watchdog_s = 900;
};

// Each returns false with the system's error text when the registration fails.
bool InstallService(const ServiceRegistration& reg, std::string& error);
bool UninstallService(const ServiceRegistration& reg, std::string& error);

// Runs the service: the control events on a service thread, the timer's ticks on this
// thread, until the service is stopped. Returns the process exit code.
int RunServiceHost(IServiceEvents& module, asio::io_context& io);

// Shows the result of an install or uninstall to the person who ran it.
void ShowMessage(const std::string& text);

}  // namespace zv
