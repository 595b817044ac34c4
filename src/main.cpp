// Process entry: read the switch, build the service module with the system's pieces, and
// run it as the switch says.

#include <asio/io_context.hpp>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "base/version.h"
#include "os/service_host.h"
#include "os/system.h"
#include "service/asio_timer.h"
#include "service/command_line.h"
#include "service/foreground.h"
#include "service/srv_zentrovia.h"

namespace {

const char kInstalled[] = "Serviço instalado com sucesso";
const char kUninstalled[] = "Serviço desinstalado com sucesso";

}  // namespace

int main(int argc, char** argv) {
  using namespace zv;
  const CommandLine cl = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!cl.error.empty()) {
    std::cerr
        << "SrvZentrovia: " << cl.error << "\n"
        << "usage: SrvZentrovia [-INSTALL [-SILENT] | -UNINSTALL [-SILENT] | -STATUS [-JSON] |"
           " -SYNC [-NOPROBE] [-DRAIN] [-MAXCYCLES N] | -VERSION]"
        << std::endl;
    return kExitUsage;
  }

  if (cl.version) {
    std::cout << VersionText() << std::endl;
    return kExitOk;
  }

  const std::string exe_dir = ExecutableDirectory();
  SystemClock clock;
  // Read-only: no lock, no log, no service module.
  if (cl.status) {
    return cl.json ? RunStatusReportJson(exe_dir, clock, std::cout)
                   : RunStatusReport(exe_dir, clock, std::cout);
  }

  // A second process on the same installation would post the same sales at the same time.
  InstanceLock lock(exe_dir);
  const bool needs_lock = !(cl.install || cl.uninstall);
  if (needs_lock) {
    std::string why;
    switch (lock.Acquire(&why)) {
      case InstanceLock::Result::Acquired:
        break;
      case InstanceLock::Result::HeldByAnother:
        std::cerr << "SrvZentrovia: another SrvZentrovia process is already working on this "
                     "installation ("
                  << exe_dir << "); stop it first." << std::endl;
        return kExitLocked;
      case InstanceLock::Result::CannotCreate:
        std::cerr << "SrvZentrovia: the lock file that keeps a second process off this "
                     "installation cannot be created: "
                  << why << std::endl;
        return kExitLocked;
    }
  }

  asio::io_context io;
  ManualTimer manual_timer;
  std::unique_ptr<AsioTimer> asio_timer;
  IZentroviaTimer* timer = &manual_timer;
  if (!cl.sync) {
    asio_timer = std::make_unique<AsioTimer>(io);
    timer = asio_timer.get();
  }
  auto transport = MakeSystemHttpTransport();
  auto url_tester = MakeSystemUrlTester();

  ServiceEnvironment env;
  env.clock = &clock;
  env.timer = timer;
  env.transport = transport.get();
  env.url_tester = url_tester.get();
  env.probe_hosts = DefaultProbeHosts();
  env.exe_dir = exe_dir;
  env.exe_path = ExecutablePath();
  env.date_separator = SystemDateSeparator();
  env.time_separator = SystemTimeSeparator();
  env.skip_probe = cl.no_probe;
  // -SYNC sends one document per cycle unless -DRAIN asks for the service's drain.
  env.drain_backlog = !cl.sync || cl.drain;
  if (cl.sync) {
    // A stuck cycle ends -SYNC as any other stop does, naming what was stuck.
    env.stuck_exit_code = kExitStopped;
    env.stuck_on_terminal = true;
  }

  try {
    TSrvZentrovia module(env);
    if (cl.install || cl.uninstall) {
      ServiceRegistration reg{env.exe_path, ServiceUnitDirectory()};
      try {
        // systemd's watchdog stays behind the process's own cycle ceiling.
        reg.watchdog_s =
            std::max(reg.watchdog_s, LoadServiceOptions(exe_dir).cycle_ceiling_s + 300);
      } catch (const std::exception&) {
        // An unreadable section is reported by the service itself; the unit keeps the default.
      }
      std::string error;
      bool ok;
      if (cl.install) {
        module.ServiceBeforeInstall();
        ok = InstallService(reg, error);
        if (ok) module.ServiceAfterInstall();
      } else {
        module.ServiceBeforeUninstall();
        ok = UninstallService(reg, error);
        if (ok) module.ServiceAfterUninstall();
      }
      if (!cl.silent) {
        ShowMessage(ok ? (cl.install ? kInstalled : kUninstalled)
                       : "Serviço SrvZentrovia: " + error);
      }
      if (!ok && cl.silent) std::cerr << "SrvZentrovia: " << error << std::endl;
      return ok ? kExitOk : kExitFailed;
    }
    if (cl.sync) {
      SyncRunOptions options;
      options.max_cycles = cl.max_cycles;
      options.progress = StdoutIsTerminal();
      return RunSyncForeground(module, manual_timer, options, std::cout);
    }
    return RunServiceHost(module, io);
  } catch (const std::exception& e) {
    // Typically the log file cannot be written beside the executable.
    ReportOutsideLog(std::string("SrvZentrovia: ") + e.what());
    return kExitFailed;
  }
}
