#pragma once
// Everything that differs between Windows and Linux. Each function has one definition in
// os/posix and one in os/windows.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/http_transport.h"

namespace zv {

class TSrvZentrovia;

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

// The log's date and time separators from the system's regional settings.
char SystemDateSeparator();
char SystemTimeSeparator();

// Firewall set-up at service start: best effort, errors ignored by the caller.
void OpenDatabasePortInFirewall();
void DesbloqueiaAppFirewall(const std::string& Executavel);

// A lock that keeps a second process off the same installation. Returns false (and leaves
// nothing held) when another process holds it.
class InstanceLock {
 public:
  explicit InstanceLock(const std::string& directory);
  ~InstanceLock();
  bool Acquire();

 private:
  std::string directory_;
  intptr_t handle_ = -1;
};

}  // namespace zv
