// The service binary as a process: the lifecycle lines of a foreground run stopped by a
// signal, and the systemd unit written and removed by -INSTALL and -UNINSTALL.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
