// The service binary as a process: the lifecycle lines of a foreground run stopped by a
// signal, and the systemd unit written and removed by -INSTALL and -UNINSTALL.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "base/version.h"
#include "support/log_messages.h"

namespace zv {
namespace {

namespace fs = std::filesystem;

using test::LogMessages;

// A copy of the service binary in its own directory, as an installation would have it.
class Installation {
 public:
  Installation() { fs::copy_file(ZV_SERVICE_BINARY, exe()); }
  fs::path exe() const { return dir_.path() / "SrvZentrovia"; }
  fs::path log() const { return dir_.path() / "Zentrovia.log"; }
  const test::TempDir& dir() const { return dir_; }

  pid_t Start(const std::vector<std::string>& args = {}, const std::vector<std::string>& env = {}) {
    pid_t pid = fork();
    if (pid == 0) {
      // The service's firewall set-up runs the machine's firewall tools when it finds them:
      // never on the machine that runs the tests.
      static char no_tools[] = "PATH=/nonexistent-zentrovia-test-path";
      putenv(no_tools);
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> argv;
      std::string path = exe().string();
      argv.push_back(path.data());
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      // The test's stdout stays clean.
      if (!freopen("/dev/null", "w", stdout)) _exit(126);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
    return pid;
  }
  int Run(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    int status = 0;
    waitpid(Start(args, env), &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  test::TempDir dir_;
};

void WaitForLines(const fs::path& log, size_t n) {
  for (int i = 0; i < 100 && (!fs::exists(log) || LogMessages(log).size() < n); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

TEST(ServiceProcess, AForegroundRunStoppedBySigtermLogsItsLifecycleInOrder) {
  Installation inst;
  pid_t pid = inst.Start();
  WaitForLines(inst.log(), 3);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(LogMessages(inst.log()),
            (std::vector<std::string>{
                "Serviço criado",
                "Serviço iniciado. Primeiro ciclo do Zentrovia em 3 minutos. " + VersionText(),
                "Serviço executado", "Serviço parado", "Serviço encerrado"}));
}

// systemd's end of the notification protocol: an abstract datagram socket that collects
// what the service says.
class NotifySocket {
 public:
  NotifySocket() : name_("@zv-notify-test-" + std::to_string(getpid())) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::copy(name_.begin(), name_.end(), addr.sun_path);
    addr.sun_path[0] = '\0';
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr),
                  static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name_.size())) == 0;
    timeval tv{0, 100000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~NotifySocket() { close(fd_); }
  bool bound() const { return bound_; }
  std::string env() const { return "NOTIFY_SOCKET=" + name_; }
  // Every message until `last` arrives or ten seconds pass.
  std::vector<std::string> ReadUntil(const std::string& last) {
    std::vector<std::string> got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      char buf[256];
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) continue;
      got.emplace_back(buf, static_cast<size_t>(n));
      if (got.back() == last) break;
    }
    return got;
  }

 private:
  std::string name_;
  int fd_ = -1;
  bool bound_ = false;
};

// Under systemd (Type=notify, WatchdogSec=): ready once started, watchdog pings from the
// running service, stopping when asked to stop; a watchdog meant for another process is not
// answered.
TEST(ServiceProcess, SaysReadyPingsTheWatchdogAndSaysStoppingToSystemd) {
  struct Case {
    std::string watchdog_pid;  // "" : not set
    bool pings;
  };
  for (const Case& c : {Case{"", true}, Case{"1", false}}) {
    SCOPED_TRACE("WATCHDOG_PID=" + c.watchdog_pid);
    NotifySocket notify;
    ASSERT_TRUE(notify.bound());
    Installation inst;
    std::vector<std::string> env = {notify.env(), "WATCHDOG_USEC=200000"};
    if (!c.watchdog_pid.empty()) env.push_back("WATCHDOG_PID=" + c.watchdog_pid);
    pid_t pid = inst.Start({}, env);
    WaitForLines(inst.log(), 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    kill(pid, SIGTERM);
    std::vector<std::string> got = notify.ReadUntil("STOPPING=1");
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), "STOPPING=1");
    EXPECT_EQ(std::count(got.begin(), got.end(), "READY=1"), 1);
    const auto pings = std::count(got.begin(), got.end(), "WATCHDOG=1");
    if (c.pings) {
      EXPECT_GE(pings, 2);
    } else {
      EXPECT_EQ(pings, 0);
    }
  }
}

TEST(ServiceProcess, PauseAndContinueComeFromSigtstpAndSigcont) {
  Installation inst;
  pid_t pid = inst.Start();
  WaitForLines(inst.log(), 3);
  kill(pid, SIGTSTP);
  WaitForLines(inst.log(), 4);
  kill(pid, SIGCONT);
  WaitForLines(inst.log(), 5);
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(LogMessages(inst.log()),
            (std::vector<std::string>{
                "Serviço criado",
                "Serviço iniciado. Primeiro ciclo do Zentrovia em 3 minutos. " + VersionText(),
                "Serviço executado", "Serviço pausado", "Serviço despausado", "Serviço parado",
                "Serviço encerrado"}));
}

TEST(ServiceProcess, ASecondProcessOnTheSameInstallationIsRefused) {
  Installation inst;
  pid_t pid = inst.Start();
  WaitForLines(inst.log(), 3);
  EXPECT_EQ(inst.Run({"-SYNC", "-NOPROBE"}), 3);
  kill(pid, SIGTERM);
  int status = 0;
  waitpid(pid, &status, 0);
}

TEST(ServiceProcess, AFolderWhereTheLockCannotBeMadeIsSaidPlainly) {
  Installation inst;
  // The lock file's name is taken by a directory, which cannot be opened as one (a read-only
  // folder does the same, but not for root, who runs the tests).
  fs::create_directory(inst.dir().path() / "SrvZentrovia.lock");
  const std::string err = inst.dir().dir() + "stderr.txt";
  int status = 0;
  pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(err.c_str(), "w", stderr)) _exit(126);
    std::string path = inst.exe().string();
    char* argv[] = {path.data(), const_cast<char*>("-SYNC"), nullptr};
    execv(path.c_str(), argv);
    _exit(127);
  }
  waitpid(pid, &status, 0);
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 3);
  const std::string text = test::ReadFile(err);
  EXPECT_NE(text.find("the lock file that keeps a second process off this installation cannot "
                      "be created"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("another SrvZentrovia process"), std::string::npos) << text;
}

TEST(ServiceProcess, InstallAndUninstallWriteAndRemoveTheSystemdUnit) {
  Installation inst;
  test::TempDir units;
  const std::string unit_env = "SRVZENTROVIA_UNIT_DIR=" + units.path().string();
  const fs::path unit = units.path() / "srvzentrovia.service";

  ASSERT_EQ(inst.Run({"-install", "-silent"}, {unit_env}), 0);
  std::string text = test::ReadFile(unit);
  EXPECT_NE(text.find("\nExecStart=" + inst.exe().string() + "\n"), std::string::npos) << text;
  EXPECT_NE(text.find("WantedBy=multi-user.target"), std::string::npos);
  // Restarted when it dies, and when its cycles' thread stops pinging systemd's watchdog.
  for (const char* line : {"\nType=notify\n", "\nWatchdogSec=900\n", "\nRestart=always\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  EXPECT_EQ(LogMessages(inst.log()),
            (std::vector<std::string>{"Serviço criado", "Iniciando instalação do serviço",
                                      "Serviço instalado com sucesso", "Serviço encerrado"}));

  // A second install fails and says so; the unit stays as it was.
  EXPECT_NE(inst.Run({"/INSTALL", "/SILENT"}, {unit_env}), 0);
  EXPECT_EQ(test::ReadFile(unit), text);

  fs::remove(inst.log());
  ASSERT_EQ(inst.Run({"/UNINSTALL", "/SILENT"}, {unit_env}), 0);
  EXPECT_FALSE(fs::exists(unit));
  EXPECT_EQ(LogMessages(inst.log()),
            (std::vector<std::string>{"Serviço criado", "Iniciando desinstalação do serviço",
                                      "Serviço desinstalado com sucesso", "Serviço encerrado"}));
}

}  // namespace
}  // namespace zv
