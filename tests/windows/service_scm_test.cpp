// SrvZentrovia.exe under the service control manager: registration, the lifecycle through
// control requests, removal, and a start outside the service control manager.

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "base/version.h"
#include "os/system.h"
#include "windows_test_support.h"

namespace {

using zvtest::Widen;

const wchar_t kService[] = L"SrvZentrovia";
const std::wstring kFirewallList =
    L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\"
    L"StandardProfile\\AuthorizedApplications\\List";

std::wstring BuiltServiceExe() {
  std::wstring path = zvtest::TestProgramDirectory() + Widen(ZV_SERVICE_EXE_RELATIVE);
  for (auto& ch : path)
    if (ch == L'/') ch = L'\\';
  wchar_t full[MAX_PATH * 2];
  GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
  return full;
}

std::string SystemText(DWORD code) {
  wchar_t buf[512] = {};
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buf, 512, nullptr);
  std::wstring text(buf, n);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
    text.pop_back();
  return zvtest::Narrow(text);
}

// The log's messages in order; each line must carry the "dd/mm/yyyy hh:mm:ss - " stamp.
std::vector<std::string> LogMessages(const std::wstring& log_path) {
  const std::string text = zv::AnsiToUtf8(zvtest::ReadFileBytes(log_path));
  const std::regex stamp(R"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d - )");
  std::vector<std::string> messages;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      ADD_FAILURE() << "log line without CR LF: " << text.substr(pos);
      break;
    }
    std::string line = text.substr(pos, end - pos);
    EXPECT_TRUE(std::regex_search(line, stamp)) << line;
    messages.push_back(line.size() >= 22 ? line.substr(22) : line);
    pos = end + 2;
  }
  return messages;
}

class ServiceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scm_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(scm_, nullptr) << GetLastError();
    RemoveLeftoverService();
    // An accent in the installation's path: the registration, the log, the lock and the
    // firewall value all take it.
    dir_ = zvtest::MakeScratchDirectory(L"zv-servi\u00e7o-");
    exe_ = dir_ + L"SrvZentrovia.exe";
    ASSERT_TRUE(CopyFileW(BuiltServiceExe().c_str(), exe_.c_str(), FALSE))
        << "cannot copy " << zvtest::Narrow(BuiltServiceExe());
  }

  void TearDown() override {
    RemoveLeftoverService();
    if (scm_) CloseServiceHandle(scm_);
    if (!dir_.empty()) zvtest::RemoveScratchDirectory(dir_);
  }

  void RemoveLeftoverService() {
    SC_HANDLE s = OpenServiceW(scm_, kService, SERVICE_ALL_ACCESS);
    if (!s) return;
    SERVICE_STATUS status{};
    if (ControlService(s, SERVICE_CONTROL_STOP, &status)) WaitForState(s, SERVICE_STOPPED);
    DeleteService(s);
    CloseServiceHandle(s);
  }

  zvtest::ProcessResult RunExe(const std::wstring& args, DWORD timeout_ms = 30000) {
    return zvtest::RunProcess(L"\"" + exe_ + L"\" " + args, timeout_ms);
  }

  static bool WaitForState(SC_HANDLE s, DWORD state, SERVICE_STATUS_PROCESS* out = nullptr,
                           int tenths = 300) {
    SERVICE_STATUS_PROCESS status{};
    for (int i = 0; i < tenths; ++i) {
      DWORD needed = 0;
      if (QueryServiceStatusEx(s, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                               sizeof status, &needed) &&
          status.dwCurrentState == state) {
        if (out) *out = status;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (out) *out = status;
    return false;
  }

  SC_HANDLE scm_ = nullptr;
  std::wstring dir_;
  std::wstring exe_;
};

TEST_F(ServiceManagerTest, InstallRunPauseContinueStopUninstall) {
  zvtest::EnsuredRegistryKey firewall_list(HKEY_LOCAL_MACHINE, kFirewallList);

  // Registration, with the values the service is registered with.
  auto install = RunExe(L"/INSTALL /SILENT");
  ASSERT_EQ(install.exit_code, 0u) << install.output;
  SC_HANDLE s = OpenServiceW(scm_, kService, SERVICE_ALL_ACCESS);
  ASSERT_NE(s, nullptr) << "service not registered: " << GetLastError();
  {
    std::vector<BYTE> buf(8192);
    DWORD needed = 0;
    ASSERT_TRUE(QueryServiceConfigW(s, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf.data()),
                                    static_cast<DWORD>(buf.size()), &needed));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buf.data());
    EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(std::wstring(config->lpBinaryPathName), L"\"" + exe_ + L"\"");
    EXPECT_EQ(std::wstring(config->lpDisplayName), L"SrvZentrovia");
    EXPECT_TRUE(config->lpDependencies == nullptr || config->lpDependencies[0] == L'\0');
  }
  // A second registration fails and says why; the first stays.
  auto again = RunExe(L"-install -silent");
  EXPECT_NE(again.exit_code, 0u);
  EXPECT_NE(again.output.find("SrvZentrovia: " + SystemText(ERROR_SERVICE_EXISTS)),
            std::string::npos)
      << again.output;

  // Start, pause, continue, stop through the service control manager.
  ASSERT_TRUE(StartServiceW(s, 0, nullptr)) << GetLastError();
  SERVICE_STATUS_PROCESS running{};
  ASSERT_TRUE(WaitForState(s, SERVICE_RUNNING, &running));
  EXPECT_EQ(running.dwControlsAccepted &
                (SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN),
            static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE |
                               SERVICE_ACCEPT_SHUTDOWN));
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, running.dwProcessId);
  SERVICE_STATUS status{};
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_PAUSE, &status)) << GetLastError();
  ASSERT_TRUE(WaitForState(s, SERVICE_PAUSED));
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_CONTINUE, &status)) << GetLastError();
  ASSERT_TRUE(WaitForState(s, SERVICE_RUNNING));
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &status)) << GetLastError();
  ASSERT_TRUE(WaitForState(s, SERVICE_STOPPED));
  // The process ends after the stop, writing its last line on the way out.
  if (process) {
    EXPECT_EQ(WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
    CloseHandle(process);
  }
  CloseServiceHandle(s);

  // The firewall set-up ran at the start with the service's own path, and its failure at the
  // missing second key did not keep the service from running.
  EXPECT_EQ(zvtest::ReadRegistryString(HKEY_LOCAL_MACHINE, kFirewallList, exe_), exe_);
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kFirewallList.c_str(), exe_.c_str());

  auto uninstall = RunExe(L"/UNINSTALL /SILENT");
  ASSERT_EQ(uninstall.exit_code, 0u) << uninstall.output;
  SC_HANDLE gone = OpenServiceW(scm_, kService, SERVICE_QUERY_STATUS);
  EXPECT_EQ(gone, nullptr);
  if (gone)
    CloseServiceHandle(gone);
  else
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

  const std::vector<std::string> expected = {
      "Servi\xC3\xA7o criado",
      "Iniciando instala\xC3\xA7\xC3\xA3o do servi\xC3\xA7o",
      "Servi\xC3\xA7o instalado com sucesso",
      "Servi\xC3\xA7o encerrado",
      // the failed second registration
      "Servi\xC3\xA7o criado",
      "Iniciando instala\xC3\xA7\xC3\xA3o do servi\xC3\xA7o",
      "Servi\xC3\xA7o encerrado",
      // the run under the service control manager
      "Servi\xC3\xA7o criado",
      "Servi\xC3\xA7o iniciado. Primeiro ciclo do Zentrovia em 3 minutos. " + zv::VersionText(),
      "Servi\xC3\xA7o executado",
      "Servi\xC3\xA7o pausado",
      "Servi\xC3\xA7o despausado",
      "Servi\xC3\xA7o parado",
      "Servi\xC3\xA7o encerrado",
      // the removal
      "Servi\xC3\xA7o criado",
      "Iniciando desinstala\xC3\xA7\xC3\xA3o do servi\xC3\xA7o",
      "Servi\xC3\xA7o desinstalado com sucesso",
      "Servi\xC3\xA7o encerrado",
  };
  EXPECT_EQ(LogMessages(dir_ + L"Zentrovia.log"), expected);
}

// A control whose event fails (here: the log is held open by another process) is reported to
// the event log; a pause leaves the service running, a stop still stops it.
TEST_F(ServiceManagerTest, EventsThatFailLeaveThePauseUndoneButStopAllTheSame) {
  ASSERT_EQ(RunExe(L"/INSTALL /SILENT").exit_code, 0u);
  SC_HANDLE s = OpenServiceW(scm_, kService, SERVICE_ALL_ACCESS);
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(StartServiceW(s, 0, nullptr)) << GetLastError();
  SERVICE_STATUS_PROCESS running{};
  ASSERT_TRUE(WaitForState(s, SERVICE_RUNNING, &running));
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, running.dwProcessId);

  const std::wstring log = dir_ + L"Zentrovia.log";
  HANDLE held = CreateFileW(log.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  SERVICE_STATUS status{};
  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_PAUSE, &status)) << GetLastError();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  SERVICE_STATUS_PROCESS after{};
  EXPECT_FALSE(WaitForState(s, SERVICE_PAUSED, &after, 10));
  EXPECT_EQ(after.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));

  ASSERT_TRUE(ControlService(s, SERVICE_CONTROL_STOP, &status)) << GetLastError();
  EXPECT_TRUE(WaitForState(s, SERVICE_STOPPED));
  if (process) {
    EXPECT_EQ(WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
    CloseHandle(process);
  }
  CloseHandle(held);
  CloseServiceHandle(s);

  const std::vector<std::string> expected = {
      "Servi\xC3\xA7o criado",
      "Iniciando instala\xC3\xA7\xC3\xA3o do servi\xC3\xA7o",
      "Servi\xC3\xA7o instalado com sucesso",
      "Servi\xC3\xA7o encerrado",
      "Servi\xC3\xA7o criado",
      "Servi\xC3\xA7o iniciado. Primeiro ciclo do Zentrovia em 3 minutos. " + zv::VersionText(),
      "Servi\xC3\xA7o executado",
  };
  EXPECT_EQ(LogMessages(log), expected);
}

TEST_F(ServiceManagerTest, UninstallOfAnUnregisteredServiceFailsAndSaysWhy) {
  auto result = RunExe(L"-UNINSTALL -SILENT");
  EXPECT_NE(result.exit_code, 0u);
  EXPECT_NE(result.output.find("SrvZentrovia: " + SystemText(ERROR_SERVICE_DOES_NOT_EXIST)),
            std::string::npos)
      << result.output;
  const std::vector<std::string> expected = {
      "Servi\xC3\xA7o criado",
      "Iniciando desinstala\xC3\xA7\xC3\xA3o do servi\xC3\xA7o",
      "Servi\xC3\xA7o encerrado",
  };
  EXPECT_EQ(LogMessages(dir_ + L"Zentrovia.log"), expected);
}

TEST_F(ServiceManagerTest, StartedByHandItSaysSoAndEnds) {
  auto result = RunExe(L"", 60000);
  EXPECT_FALSE(result.timed_out) << "the exe waited instead of ending";
  EXPECT_NE(result.exit_code, 0u);
  EXPECT_NE(result.output.find("outside the service control manager"), std::string::npos)
      << result.output;
}

}  // namespace
