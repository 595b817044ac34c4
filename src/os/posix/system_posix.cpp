// Linux side of the operating-system layer.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <INIReader.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "os/system.h"

namespace zv {

std::string ExecutablePath() {
  std::vector<char> buf(4096);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return "";
  return std::string(buf.data(), static_cast<size_t>(n));
}

std::string ExecutableDirectory() {
  std::string path = ExecutablePath();
  auto slash = path.rfind('/');
  return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

std::vector<ProbeHost> DefaultProbeHosts() {
  return {{"google.com"}, {"www.cloudflare.com"}, {"www.microsoft.com"}, {"example.com"}};
}

std::string ReadIniString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& def) {
  INIReader reader(path);
  if (reader.ParseError() < 0) return def;  // no file, or it cannot be opened
  if (!reader.HasValue(section, key)) return def;
  return reader.Get(section, key, def);
}

// Linux has no regional separators for the log; the Brazilian defaults stand for them.
char SystemDateSeparator() {
  return '/';
}
char SystemTimeSeparator() {
  return ':';
}

void OpenDatabasePortInFirewall() {
  // Best effort, and only where a firewall front end is installed.
  if (std::system("command -v ufw >/dev/null 2>&1") == 0) {
    [[maybe_unused]] int rc = std::system("ufw allow 3050/tcp >/dev/null 2>&1");
  } else if (std::system("command -v firewall-cmd >/dev/null 2>&1") == 0) {
    [[maybe_unused]] int rc = std::system(
        "firewall-cmd --add-port=3050/tcp --permanent >/dev/null 2>&1 && "
        "firewall-cmd --reload >/dev/null 2>&1");
  }
}

// Linux firewalls authorise ports, not programs: nothing to write.
void DesbloqueiaAppFirewall(const std::string&) {}

InstanceLock::InstanceLock(const std::string& directory) : directory_(directory) {}

InstanceLock::~InstanceLock() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool InstanceLock::Acquire() {
  if (handle_ >= 0) return true;
  std::string path = directory_ + "SrvZentrovia.lock";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

}  // namespace zv
