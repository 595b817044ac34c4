#pragma once
// Helpers for the Windows-only tests: processes, files, and a loopback HTTP server.

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zvtest {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

// Directory of the running test program, with a trailing backslash.
std::wstring TestProgramDirectory();
// A fresh, empty directory under the system's temporary directory (trailing backslash).
std::wstring MakeScratchDirectory(const std::wstring& prefix);
// Removes the directory and the files in it (not recursive).
void RemoveScratchDirectory(const std::wstring& dir);

std::string ReadFileBytes(const std::wstring& path);

struct ProcessResult {
  DWORD exit_code = 0;
  bool timed_out = false;
  std::string output;  // stdout and stderr together
};
ProcessResult RunProcess(const std::wstring& command_line, DWORD timeout_ms);

// A one-thread HTTP/1.1 server on 127.0.0.1: every request is recorded as it arrived (request
// line, headers and body, byte for byte) and answered with what the handler returns, after
// which the connection is closed.
class LoopbackHttpServer {
 public:
  using Handler = std::function<std::string(const std::string& request)>;
  explicit LoopbackHttpServer(Handler handler);
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  int port() const { return port_; }
  std::string base_url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> requests() const;

 private:
  void Serve();

  Handler handler_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A full answer with Content-Length and "Connection: close".
std::string HttpAnswer(const std::string& status_line, const std::string& content_type,
                       const std::string& body, const std::string& extra_headers = "");

bool RegistryKeyExists(HKEY root, const std::wstring& path);
std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& path,
                                               const std::wstring& name);

// Makes sure a registry key exists; removes the keys it had to create when it goes.
class EnsuredRegistryKey {
 public:
  EnsuredRegistryKey(HKEY root, const std::wstring& path);
  ~EnsuredRegistryKey();
  EnsuredRegistryKey(const EnsuredRegistryKey&) = delete;
  EnsuredRegistryKey& operator=(const EnsuredRegistryKey&) = delete;

 private:
  HKEY root_;
  std::wstring created_top_;  // the highest key created here; empty when all existed
};

// A loopback port on which nothing listens.
int UnusedLoopbackPort();

}  // namespace zvtest
