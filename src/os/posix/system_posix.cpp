// Linux side of the operating-system layer.

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "base/text.h"
#include "os/ini_file.h"
#include "os/local_time.h"
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
  std::ifstream file(path, std::ios::binary);
  if (!file) return def;
  const std::string content((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
  // The file is written in the ANSI code page, as on the store's Windows machine.
  std::string value;
  return FindIniValue(content, section, key, value) ? AnsiToUtf8(value) : def;
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

InstanceLock::Result InstanceLock::Acquire(std::string* error) {
  if (handle_ >= 0) return Result::Acquired;
  std::string path = directory_ + "SrvZentrovia.lock";
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return Result::CannotCreate;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(fd);
    if (err == EWOULDBLOCK) return Result::HeldByAnother;
    if (error) *error = path + ": " + std::strerror(err);
    return Result::CannotCreate;
  }
  handle_ = fd;
  return Result::Acquired;
}

std::string Utf8ToAnsi(std::string_view utf8) {
  return Utf8ToWindows1252(utf8);
}
std::string AnsiToUtf8(std::string_view ansi) {
  return Windows1252ToUtf8(ansi);
}

std::tm LocalCalendarTime(std::time_t secs) {
  std::tm tm{};
  localtime_r(&secs, &tm);
  return tm;
}

int AppendToFile(const std::string& path, std::string_view bytes) {
  // Straight system calls: the log is written a line at a time, opened and closed for each.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  int err = 0;
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  if (::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
  return err;
}

bool StdoutIsTerminal() {
  return isatty(1) != 0;
}

std::string ServiceUnitDirectory() {
  const char* dir = std::getenv("SRVZENTROVIA_UNIT_DIR");
  return dir && *dir ? dir : "/etc/systemd/system";
}

void ReportOutsideLog(const std::string& text) {
  std::cerr << text << std::endl;
}

void* LoadSharedLibrary(const std::string& file_name, std::string* error) {
  void* h = dlopen(file_name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h && error) {
    const char* e = dlerror();
    *error = e ? e : ("cannot load " + file_name);
  }
  return h;
}

void* SharedLibrarySymbol(void* library, const char* name) {
  return dlsym(library, name);
}

const char* FirebirdClientLibraryName() {
  return "libfbclient.so.2";
}

void BlockSignalsInThisThread() {
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);
}

bool UseUtf8CharacterLocale() {
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  if (current && (std::strstr(current, "UTF-8") || std::strstr(current, "utf8"))) return true;
  for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"})
    if (std::setlocale(LC_CTYPE, name)) return true;
  return false;
}

}  // namespace zv
