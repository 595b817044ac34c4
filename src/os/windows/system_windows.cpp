// Windows side of the operating-system layer.

#include <io.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "os/local_time.h"
#include "os/system.h"
#include "os/windows/firewall_windows.h"
#include "os/windows/win_text.h"

namespace zv {

std::string ExecutablePath() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return "";
    if (n < buf.size()) {
      buf.resize(n);
      return WideToUtf8(buf);
    }
    buf.resize(buf.size() * 2);  // truncated: long path
  }
}

std::string ExecutableDirectory() {
  std::string path = ExecutablePath();
  auto sep = path.find_last_of("\\/");
  return sep == std::string::npos ? ".\\" : path.substr(0, sep + 1);
}

std::vector<ProbeHost> DefaultProbeHosts() {
  return {{"google.com"}, {"www.cloudflare.com"}, {"www.microsoft.com"}, {"example.com"}};
}

std::string ReadIniString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& def) {
  const std::wstring wpath = Utf8ToWide(path);
  const std::wstring wsection = Utf8ToWide(section);
  const std::wstring wkey = Utf8ToWide(key);
  const std::wstring wdef = Utf8ToWide(def);
  std::wstring buf(256, L'\0');
  for (;;) {
    DWORD n = GetPrivateProfileStringW(wsection.c_str(), wkey.c_str(), wdef.c_str(), buf.data(),
                                       static_cast<DWORD>(buf.size()), wpath.c_str());
    // n == size - 1 means the value was cut to fit.
    if (n + 1 < buf.size()) {
      buf.resize(n);
      return WideToUtf8(buf);
    }
    buf.resize(buf.size() * 4);
  }
}

namespace {
// The log writes each separator as one byte; a separator outside ASCII (or none) falls back
// to the pattern's own.
char LocaleSeparator(LCTYPE type, char fallback) {
  wchar_t buf[8] = {};
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buf, 8) <= 0) return fallback;
  return buf[0] > 0 && buf[0] < 0x80 ? static_cast<char>(buf[0]) : fallback;
}
}  // namespace

char SystemDateSeparator() {
  return LocaleSeparator(LOCALE_SDATE, '/');
}
char SystemTimeSeparator() {
  return LocaleSeparator(LOCALE_STIME, ':');
}

void OpenDatabasePortInFirewall() {
  const std::string command =
      Utf8ToAcp("netsh firewall add portopening protocol = TCP port = 3050");
  // Not waited for: netsh's own result is of no interest to the service.
  UINT rc = WinExec(command.c_str(), SW_SHOWNORMAL);
  if (rc <= 31) {
    throw EOSError("WinExec failed (" + std::to_string(rc) + "): " + SystemErrorText(rc));
  }
}

const std::vector<std::string>& AuthorizedApplicationKeys() {
  static const std::vector<std::string> keys = {
      "SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\"
      "StandardProfile\\AuthorizedApplications\\List",
      "SYSTEM\\ControlSet001\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\"
      "StandardProfile\\AuthorizedApplications\\List",
      "SYSTEM\\ControlSet002\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\"
      "StandardProfile\\AuthorizedApplications\\List"};
  return keys;
}

void AuthorizeApplicationInKeys(HKEY root, const std::vector<std::string>& keys,
                                const std::string& Executavel) {
  const std::wstring value = Utf8ToWide(Executavel);
  const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  for (const std::string& key : keys) {
    HKEY handle = nullptr;
    LONG rc = RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS, &handle);
    if (rc != ERROR_SUCCESS) {
      throw EOSError("Cannot open registry key \\" + key + ": " +
                     SystemErrorText(static_cast<DWORD>(rc)));
    }
    rc = RegSetValueExW(handle, value.c_str(), 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS) {
      throw EOSError("Cannot write registry value " + Executavel + " in \\" + key + ": " +
                     SystemErrorText(static_cast<DWORD>(rc)));
    }
  }
}

void DesbloqueiaAppFirewall(const std::string& Executavel) {
  AuthorizeApplicationInKeys(HKEY_LOCAL_MACHINE, AuthorizedApplicationKeys(), Executavel);
}

InstanceLock::InstanceLock(const std::string& directory) : directory_(directory) {}

InstanceLock::~InstanceLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

InstanceLock::Result InstanceLock::Acquire(std::string* error) {
  if (handle_ != -1) return Result::Acquired;
  // Opened without sharing: a second process (in any session) cannot open it while this one
  // lives, and the system closes it when the process ends however it ends.
  const std::string path = directory_ + "SrvZentrovia.lock";
  HANDLE h = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_SHARING_VIOLATION) return Result::HeldByAnother;
    if (error) *error = path + ": " + SystemErrorText(code);
    return Result::CannotCreate;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return Result::Acquired;
}

// Windows has a real ANSI code page: the system's own conversion, so the log and the store
// database match what the point-of-sale system writes on the same machine. No best-fit
// mapping: a character the code page lacks becomes its replacement character instead of
// some look-alike.
std::string Utf8ToAnsi(std::string_view utf8) {
  const std::wstring wide = Utf8ToWide(utf8);
  if (wide.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                    static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                      out.data(), n, nullptr, nullptr);
  return out;
}

std::string AnsiToUtf8(std::string_view ansi) {
  if (ansi.empty()) return std::string();
  int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
  return WideToUtf8(wide);
}

std::tm LocalCalendarTime(std::time_t secs) {
  std::tm tm{};
  localtime_s(&tm, &secs);
  return tm;
}

int AppendToFile(const std::string& path, std::string_view bytes) {
  // The narrow fopen would read the UTF-8 path in the ANSI code page, and an installation in
  // a folder with an accent in its name would have no log.
  std::FILE* f = _wfopen(Utf8ToWide(path).c_str(), L"ab");
  if (!f) return errno ? errno : EIO;
  const size_t written = std::fwrite(bytes.data(), 1, bytes.size(), f);
  int err = written == bytes.size() ? 0 : (errno ? errno : EIO);
  if (std::fclose(f) != 0 && err == 0) err = errno ? errno : EIO;
  return err;
}

bool StdoutIsTerminal() {
  return _isatty(1) != 0;
}

std::string ServiceUnitDirectory() {
  return "";
}

void ReportOutsideLog(const std::string& text) {
  static wchar_t source_name[] = L"SrvZentrovia";
  if (HANDLE source = RegisterEventSourceW(nullptr, source_name)) {
    const std::wstring wide = Utf8ToWide(text);
    const wchar_t* strings[] = {wide.c_str()};
    ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
  }
  std::cerr << text << std::endl;
}

void* LoadSharedLibrary(const std::string& file_name, std::string* error) {
  HMODULE h = LoadLibraryW(Utf8ToWide(file_name).c_str());
  if (!h && error) {
    const DWORD code = GetLastError();
    *error = "cannot load " + file_name + " (error " + std::to_string(code) + ": " +
             SystemErrorText(code) + ")";
  }
  return reinterpret_cast<void*>(h);
}

void* SharedLibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

const char* FirebirdClientLibraryName() {
  return "fbclient.dll";
}

void BlockSignalsInThisThread() {}

bool UseUtf8CharacterLocale() {
  // The client takes the path as UTF-8 through isc_dpb_utf8_filename.
  return true;
}

}  // namespace zv
