#pragma once
// Registration and the run under the system's service manager: the service control manager
// on Windows, systemd on Linux.

#include <string>

#include <asio/io_context.hpp>

namespace zv {

class TSrvZentrovia;

struct ServiceRegistration {
  std::string exe_path;
  // Linux: where the systemd unit goes (tests give a temporary directory).
  std::string unit_directory;
};

// Each returns false with the system's error text when the registration fails.
bool InstallService(const ServiceRegistration& reg, std::string& error);
bool UninstallService(const ServiceRegistration& reg, std::string& error);

// Runs the service: the control events on a service thread, the timer's ticks on this
// thread, until the service is stopped. Returns the process exit code.
int RunServiceHost(TSrvZentrovia& module, asio::io_context& io);

// Shows the result of an install or uninstall to the person who ran it.
void ShowMessage(const std::string& text);

}  // namespace zv
