// Linux service host: a systemd unit for registration, and a foreground run in which
// signals play the part of the service manager's control requests.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <mutex>
#include <thread>

#include "os/control_queue.h"
#include "os/posix/systemd_notify.h"
#include "os/service_host.h"

namespace zv {

namespace {

const char kUnitName[] = "srvzentrovia.service";
const char kDefaultUnitDirectory[] = "/etc/systemd/system";

bool SystemdRunning() {
  struct stat st {};
  return stat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

// systemctl is run only for the real unit directory of a running systemd.
bool ManagesSystemd(const ServiceRegistration& reg) {
  return reg.unit_directory == kDefaultUnitDirectory && SystemdRunning();
}

std::string UnitPath(const ServiceRegistration& reg) {
  std::string dir = reg.unit_directory;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + kUnitName;
}

std::string QuoteForSystemd(const std::string& path) {
  if (path.find_first_of(" \t\"\\") == std::string::npos) return path;
  std::string out = "\"";
  for (char c : path) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

enum class Control { Stop, Pause, Continue };

// systemd's watchdog (WatchdogSec= in the unit): pinged from the thread that runs the
// cycles, at half the interval systemd asks for, so that a cycle stuck on that thread stops
// the pings and systemd restarts the process. Outside systemd nothing is armed.
class WatchdogPings {
 public:
  explicit WatchdogPings(asio::io_context& io) : timer_(io) {
    const std::chrono::microseconds asked = SystemdWatchdogInterval();
    if (asked.count() == 0) return;
    interval_ = asked / 2;
    Schedule();
  }
  void Cancel() { timer_.cancel(); }

 private:
  void Schedule() {
    SystemdNotify("WATCHDOG=1");
    timer_.expires_after(interval_);
    timer_.async_wait([this](const std::error_code& ec) {
      if (!ec) Schedule();
    });
  }
  asio::steady_timer timer_;
  std::chrono::microseconds interval_{0};
};

// An error inside a control event goes where the service framework would send it.
template <typename F>
bool RunEvent(const char* name, F&& event) {
  try {
    event();
    return true;
  } catch (const std::exception& e) {
    std::cerr << "SrvZentrovia: " << name << ": " << e.what() << std::endl;
    return false;
  }
}

}  // namespace

void ShowMessage(const std::string& text) {
  std::cout << text << std::endl;
}

bool InstallService(const ServiceRegistration& reg, std::string& error) {
  const std::string path = UnitPath(reg);
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) {
    error = "The specified service already exists. (" + path + ")";
    return false;
  }
  std::string dir = reg.exe_path.substr(0, reg.exe_path.rfind('/') + 1);
  std::ofstream unit(path, std::ios::binary | std::ios::trunc);
  if (!unit) {
    error = std::string(std::strerror(errno)) + " (" + path + ")";
    return false;
  }
  unit << "[Unit]\n"
          "Description=SrvZentrovia\n"
          "Wants=network-online.target\n"
          "After=network-online.target\n"
          "\n"
          "[Service]\n"
          // Ready once started; pings from the cycles' thread while it is not stuck.
          "Type=notify\n"
          "NotifyAccess=main\n"
          "WatchdogSec="
       << reg.watchdog_s
       << "\n"
          "ExecStart="
       << QuoteForSystemd(reg.exe_path)
       << "\n"
          "WorkingDirectory="
       << QuoteForSystemd(dir)
       << "\n"
          // The service never stops by itself; if it dies, it comes back.
          "Restart=always\n"
          "RestartSec=10\n"
          // A stop waits for a running cycle, which may wait on the network.
          "TimeoutStopSec=150\n"
          "\n"
          "[Install]\n"
          "WantedBy=multi-user.target\n";
  unit.close();
  if (!unit) {
    error = "could not write " + path;
    return false;
  }
  if (ManagesSystemd(reg)) {
    if (std::system("systemctl daemon-reload") != 0 ||
        std::system("systemctl enable srvzentrovia >/dev/null 2>&1") != 0) {
      error = "systemctl could not enable srvzentrovia";
      return false;
    }
  }
  return true;
}

bool UninstallService(const ServiceRegistration& reg, std::string& error) {
  const std::string path = UnitPath(reg);
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    error = "The specified service does not exist as an installed service. (" + path + ")";
    return false;
  }
  if (ManagesSystemd(reg)) {
    [[maybe_unused]] int rc = std::system("systemctl disable srvzentrovia >/dev/null 2>&1");
  }
  if (std::remove(path.c_str()) != 0) {
    error = std::string(std::strerror(errno)) + " (" + path + ")";
    return false;
  }
  if (ManagesSystemd(reg)) {
    [[maybe_unused]] int rc = std::system("systemctl daemon-reload");
  }
  return true;
}

int RunServiceHost(IServiceEvents& module, asio::io_context& io) {
  // The control signals are taken by the framework thread alone.
  sigset_t control_signals;
  sigemptyset(&control_signals);
  for (int s : {SIGTERM, SIGINT, SIGTSTP, SIGCONT, SIGHUP}) sigaddset(&control_signals, s);
  pthread_sigmask(SIG_BLOCK, &control_signals, nullptr);

  ControlQueue<Control> controls;
  auto work = asio::make_work_guard(io);
  int exit_code = 0;
  WatchdogPings pings(io);

  std::thread framework([&] {
    for (;;) {
      int sig = 0;
      if (sigwait(&control_signals, &sig) != 0) continue;
      if (sig == SIGTERM || sig == SIGINT || sig == SIGHUP) {
        controls.Push(Control::Stop);
        return;
      }
      controls.Push(sig == SIGTSTP ? Control::Pause : Control::Continue);
    }
  });

  std::thread service([&] {
    if (!RunEvent("ServiceStart", [&] { module.ServiceStart(); })) {
      exit_code = 1;
      kill(getpid(), SIGTERM);  // ends the framework thread
      controls.Pop();
    } else {
      SystemdNotify("READY=1");
      RunEvent("ServiceExecute", [&] { module.ServiceExecute(); });
      bool paused = false;
      for (;;) {
        Control c = controls.Pop();
        if (c == Control::Stop) {
          SystemdNotify("STOPPING=1");
          // A failed stop event is reported; the process stops all the same, since the
          // stop has already released what the cycles need.
          RunEvent("ServiceStop", [&] { module.ServiceStop(); });
          break;
        }
        if (c == Control::Pause && !paused) {
          paused = RunEvent("ServicePause", [&] { module.ServicePause(); });
        } else if (c == Control::Continue && paused) {
          paused = !RunEvent("ServiceContinue", [&] { module.ServiceContinue(); });
        }
      }
      module.ServiceExecuteEnd();
    }
    asio::post(io, [&] {
      pings.Cancel();
      work.reset();
      io.stop();
    });
  });

  io.run();
  service.join();
  framework.join();
  return exit_code;
}

}  // namespace zv
