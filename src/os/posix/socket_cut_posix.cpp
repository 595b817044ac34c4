#include "os/socket_cut.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace zv {

namespace {

// Each open socket as "fd socket:[inode]", so that a descriptor number reused by another
// socket counts as a new one.
std::vector<std::pair<int, std::string>> ListSockets() {
  std::vector<std::pair<int, std::string>> out;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code link_ec;
    const std::string target = std::filesystem::read_symlink(entry.path(), link_ec).string();
    if (link_ec || target.rfind("socket:", 0) != 0) continue;
    const int fd = std::atoi(entry.path().filename().c_str());
    out.emplace_back(fd, std::to_string(fd) + " " + target);
  }
  return out;
}

}  // namespace

std::vector<std::string> OpenSocketIds() {
  std::vector<std::string> ids;
  for (auto& s : ListSockets()) ids.push_back(std::move(s.second));
  std::sort(ids.begin(), ids.end());
  return ids;
}

int ShutdownSocketsOpenedSince(const std::vector<std::string>& before) {
  int cut = 0;
  for (const auto& [fd, id] : ListSockets()) {
    if (std::binary_search(before.begin(), before.end(), id)) continue;
    if (::shutdown(fd, SHUT_RDWR) == 0) ++cut;
  }
  return cut;
}

}  // namespace zv
