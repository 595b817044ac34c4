// Process entry: read the switch, build the service module with the system's pieces, and
// run it as the switch says.

#include <asio/io_context.hpp>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define ZV_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define ZV_ISATTY(fd) isatty(fd)
#endif

#include "os/service_host.h"
#include "os/system.h"
#include "service/asio_timer.h"
#include "service/command_line.h"
#include "service/foreground.h"
#include "service/srv_zentrovia.h"

namespace {

const char kInstalled[] = "Servi\xC3\xA7o instalado com sucesso";
const char kUninstalled[] = "Servi\xC3\xA7o desinstalado com sucesso";

std::string UnitDirectory() {
  const char* dir = std::getenv("SRVZENTROVIA_UNIT_DIR");
  return dir && *dir ? dir : "/etc/systemd/system";
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zv;
  const CommandLine cl = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!cl.error.empty()) {
    std::cerr << "SrvZentrovia: " << cl.error << "\n"
              << "usage: SrvZentrovia [-INSTALL [-SILENT] | -UNINSTALL [-SILENT] | -STATUS |"
                 " -SYNC [-NOPROBE] [-MAXCYCLES N]]"
              << std::endl;
    return 64;
  }

  const std::string exe_dir = ExecutableDirectory();
  // A second process on the same installation would post the same sales at the same time.
  InstanceLock lock(exe_dir);
  const bool needs_lock = !(cl.install || cl.uninstall || cl.status);
  if (needs_lock && !lock.Acquire()) {
    std::cerr << "SrvZentrovia: another SrvZentrovia process is already working on this "
                 "installation ("
              << exe_dir << "); stop it first." << std::endl;
    return 3;
  }

  asio::io_context io;
  SystemClock clock;
  ManualTimer manual_timer;
  std::unique_ptr<AsioTimer> asio_timer;
  IZentroviaTimer* timer = &manual_timer;
  if (!(cl.sync || cl.status)) {
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

  try {
    TSrvZentrovia module(env);
    if (cl.install || cl.uninstall) {
      ServiceRegistration reg{env.exe_path, UnitDirectory()};
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
                       : "Servi\xC3\xA7o SrvZentrovia: " + error);
      }
      if (!ok && cl.silent) std::cerr << "SrvZentrovia: " << error << std::endl;
      return ok ? 0 : 1;
    }
    if (cl.status) return RunStatusReport(module, std::cout);
    if (cl.sync) {
      SyncRunOptions options;
      options.max_cycles = cl.max_cycles;
      options.progress = ZV_ISATTY(1);
      return RunSyncForeground(module, manual_timer, options, std::cout);
    }
    return RunServiceHost(module, io);
  } catch (const std::exception& e) {
    // Typically the log file cannot be written beside the executable.
    std::cerr << "SrvZentrovia: " << e.what() << std::endl;
    return 1;
  }
}
