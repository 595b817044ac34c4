#include "os/posix/systemd_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zv {

namespace {

// A whole decimal number without sign or trailing text; false for anything else.
bool ParseUnsigned(const char* text, unsigned long long& value) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoull(text, &end, 10);
  return errno == 0 && end != nullptr && *end == '\0';
}

}  // namespace

bool SystemdNotify(std::string_view state) {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (path == nullptr || (path[0] != '/' && path[0] != '@')) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const size_t len = std::strlen(path);
  if (len < 2 || len > sizeof(addr.sun_path)) return false;
  std::memcpy(addr.sun_path, path, len);
  if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';  // the abstract namespace
  const auto addr_len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len);

  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const ssize_t sent = sendto(fd, state.data(), state.size(), MSG_NOSIGNAL,
                              reinterpret_cast<const sockaddr*>(&addr), addr_len);
  close(fd);
  return sent == static_cast<ssize_t>(state.size());
}

std::chrono::microseconds SystemdWatchdogInterval() {
  unsigned long long usec = 0;
  if (!ParseUnsigned(std::getenv("WATCHDOG_USEC"), usec) || usec == 0) return {};
  // Set by systemd for the main process only; a child that inherited it is not watched.
  if (const char* pid_text = std::getenv("WATCHDOG_PID")) {
    unsigned long long pid = 0;
    if (!ParseUnsigned(pid_text, pid) || pid != static_cast<unsigned long long>(getpid()))
      return {};
  }
  return std::chrono::microseconds(usec);
}

}  // namespace zv
