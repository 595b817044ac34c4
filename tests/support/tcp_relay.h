#pragma once
// TcpRelay: a TCP relay between the service and the Firebird server that can stop passing
// bytes while keeping every socket open, as a store machine that lost power or a dropped VPN
// looks from the client side (no FIN, no RST, no byte).
//
//   TcpRelay relay("127.0.0.2");   // listens on 127.0.0.2:3050, forwards to 127.0.0.1:3050
//   ... connect the store to 127.0.0.2 ...
//   relay.Freeze();                // both directions hold their bytes; sockets stay open
//   relay.Thaw();                  // bytes flow again, nothing lost
//
// Each test picks its own loopback address so that tests running at once do not share one.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zv::test {

class TcpRelay {
 public:
  explicit TcpRelay(std::string listen_address, int port = 3050,
                    std::string target_address = "127.0.0.1", int target_port = 3050)
      : target_address_(std::move(target_address)), target_port_(target_port) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) throw std::runtime_error("relay: socket failed");
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, listen_address.c_str(), &a.sin_addr);
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listen_fd_, 16) != 0) {
      const std::string why = std::strerror(errno);
      ::close(listen_fd_);
      throw std::runtime_error("relay: cannot listen on " + listen_address + ":" +
                               std::to_string(port) + ": " + why);
    }
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }

  ~TcpRelay() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      frozen_ = false;
    }
    changed_.notify_all();
    acceptor_.join();
    for (auto& t : pumps_) t.join();
    ::close(listen_fd_);
    for (int fd : fds_) ::close(fd);
  }

  TcpRelay(const TcpRelay&) = delete;
  TcpRelay& operator=(const TcpRelay&) = delete;

  void Freeze() {
    std::lock_guard<std::mutex> lock(mutex_);
    frozen_ = true;
  }
  void Thaw() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      frozen_ = false;
    }
    changed_.notify_all();
  }
  // Freezes once `bytes` more bytes went from the client to the server: a stall in the
  // middle of a conversation, after a request left but before its answer came.
  void FreezeAfterClientBytes(long bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    freeze_after_ = client_bytes_ + bytes;
  }
  // Freezes when the client starts its n-th request from now (a request: what the client
  // sends after the server's last answer), holding that request back: n = 1 stalls the very
  // next call that reaches the server.
  void FreezeAtRequest(long n) {
    std::lock_guard<std::mutex> lock(mutex_);
    freeze_at_request_ = requests_ + n;
  }
  bool Frozen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return frozen_;
  }
  // Requests the client started so far.
  long Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  // Bytes passed from the client to the server so far.
  long ClientBytes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return client_bytes_;
  }
  // Connections accepted so far.
  int Accepted() const { return accepted_.load(); }

 private:
  // Waits while frozen; false once the relay stops.
  bool WaitThawed() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !frozen_ || stopping_; });
    return !stopping_;
  }
  bool Stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopping_;
  }

  void AcceptLoop() {
    while (!Stopping()) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int client = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(target_port_));
      ::inet_pton(AF_INET, target_address_.c_str(), &a.sin_addr);
      if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(server);
        ::close(client);
        continue;
      }
      int one = 1;
      ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      ++accepted_;
      std::lock_guard<std::mutex> lock(mutex_);
      fds_.push_back(client);
      fds_.push_back(server);
      pumps_.emplace_back([this, client, server] { Pump(client, server, true); });
      pumps_.emplace_back([this, client, server] { Pump(server, client, false); });
    }
  }

  // Copies from `from` to `to` until either side closes or the relay stops. While frozen it
  // neither reads nor writes, so the bytes wait in the kernel's buffers.
  void Pump(int from, int to, bool from_client) {
    char buf[16384];
    for (;;) {
      if (!WaitThawed()) return;
      pollfd p{from, POLLIN, 0};
      int r = ::poll(&p, 1, 50);
      if (r == 0) continue;
      if (r < 0) return;
      if (!WaitThawed()) return;
      ssize_t n;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        long room = sizeof buf;
        if (from_client && freeze_after_ >= 0) room = std::max(0L, freeze_after_ - client_bytes_);
        if (room == 0) {
          frozen_ = true;
          freeze_after_ = -1;
          continue;
        }
        if (from_client && !last_from_client_ && freeze_at_request_ == requests_ + 1) {
          frozen_ = true;
          freeze_at_request_ = -1;
          continue;
        }
        n = ::recv(from, buf, static_cast<size_t>(std::min<long>(room, sizeof buf)), MSG_DONTWAIT);
        if (n > 0 && from_client) {
          client_bytes_ += n;
          if (!last_from_client_) ++requests_;
        }
        if (n > 0) last_from_client_ = from_client;
      }
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0) {
        ::shutdown(to, SHUT_WR);
        return;
      }
      for (ssize_t done = 0; done < n;) {
        ssize_t w = ::send(to, buf + done, static_cast<size_t>(n - done), MSG_NOSIGNAL);
        if (w <= 0) return;
        done += w;
      }
    }
  }

  std::string target_address_;
  int target_port_;
  int listen_fd_ = -1;
  std::thread acceptor_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool frozen_ = false;
  bool stopping_ = false;
  long client_bytes_ = 0;
  long freeze_after_ = -1;
  long requests_ = 0;
  long freeze_at_request_ = -1;
  bool last_from_client_ = false;
  std::atomic<int> accepted_{0};
  std::vector<std::thread> pumps_;
  std::vector<int> fds_;
};

}  // namespace zv::test
