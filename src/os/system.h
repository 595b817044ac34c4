#pragma once
// Everything that differs between Windows and Linux. Each function has one definition in
// os/posix and one in os/windows.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/service_options.h"
#include "os/http_transport.h"

namespace zv {

// Full path of the running executable, and its directory with a trailing separator.
std::string ExecutablePath();
std::string ExecutableDirectory();

// The system's HTTP stack for platform requests, and the probe's request.
std::unique_ptr<IHttpTransport> MakeSystemHttpTransport();
std::unique_ptr<IUrlTester> MakeSystemUrlTester();

// The four fixed probe hosts.
std::vector<ProbeHost> DefaultProbeHosts();

// An ini value (section, key), or def when the file, section or key is missing.
std::string ReadIniString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& def);

// The [SrvZentrovia] section of "Dorvali.ini" in exe_dir (a missing file or section gives the
// defaults). Raises EConversionError naming a key whose value cannot be read.
ServiceOptions LoadServiceOptions(const std::string& exe_dir);

// UTF-8 to the system's ANSI code page and back (the store database and the log file use
// it). Linux has none: Windows-1252 stands for it. A character the code page lacks becomes
// '?'.
std::string Utf8ToAnsi(std::string_view utf8);
std::string AnsiToUtf8(std::string_view ansi);

// The local wall clock.
class SystemClock : public IClock {
 public:
  DateTime Now() const override;
};

// Appends bytes to the end of a file by its UTF-8 path, creating it if need be, and closes it
// again. Returns 0, or the errno value of what failed (opening, writing or closing).
int AppendToFile(const std::string& path, std::string_view bytes);

// Whether standard output is a terminal (progress lines are drawn only there).
bool StdoutIsTerminal();

// Where -INSTALL puts the service unit on Linux (SRVZENTROVIA_UNIT_DIR overrides it for
// tests); empty on Windows, where the service control manager keeps the registration.
std::string ServiceUnitDirectory();

// Reports an error that the log could not take: the event log on Windows (a service has no
// console; standard error too, for the foreground modes), standard error on Linux (the
// journal under systemd). The text is written as given.
void ReportOutsideLog(const std::string& text);

// A shared library loaded at run time. Load returns nullptr with the system's reason in
// *error; Symbol returns nullptr when the library lacks the name.
void* LoadSharedLibrary(const std::string& file_name, std::string* error);
void* SharedLibrarySymbol(void* library, const char* name);
// The file name of the Firebird client library on this system.
const char* FirebirdClientLibraryName();
// Gives the process a UTF-8 character locale (LC_CTYPE only: numbers keep the C format), as
// the Linux Firebird client converts a UTF-8 database path with it and fails in the C locale
// on any accented letter. Nothing to do on Windows. Returns whether it took effect.
bool UseUtf8CharacterLocale();
// For a helper thread of our own: the process's signals are never delivered to it (on Linux
// the service host takes its control signals with sigwait, which needs them blocked in
// every thread). Nothing to do on Windows.
void BlockSignalsInThisThread();

// The log's date and time separators from the system's regional settings.
char SystemDateSeparator();
char SystemTimeSeparator();

// Firewall set-up at service start: best effort, errors ignored by the caller.
void OpenDatabasePortInFirewall();
void DesbloqueiaAppFirewall(const std::string& Executavel);

// A lock that keeps a second process off the same installation.
class InstanceLock {
 public:
  enum class Result { Acquired, HeldByAnother, CannotCreate };
  explicit InstanceLock(const std::string& directory);
  ~InstanceLock();
  // CannotCreate: the lock file cannot be made or opened (a read-only folder, say); *error
  // then holds the system's reason. Nothing is left held unless Acquired.
  Result Acquire(std::string* error = nullptr);

 private:
  std::string directory_;
  intptr_t handle_ = -1;
};

}  // namespace zv
