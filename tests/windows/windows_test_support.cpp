#include "windows_test_support.h"

#include <stdexcept>

namespace zvtest {

namespace {
struct WinsockInit {
  WinsockInit() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
  }
};
void EnsureWinsock() {
  static WinsockInit init;
}
}  // namespace

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring TestProgramDirectory() {
  wchar_t buf[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH * 4);
  std::wstring path(buf, n);
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring MakeScratchDirectory(const std::wstring& prefix) {
  wchar_t temp[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, temp);
  for (int i = 0;; ++i) {
    std::wstring dir = std::wstring(temp) + prefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
                       std::to_wstring(i);
    if (CreateDirectoryW(dir.c_str(), nullptr)) return dir + L"\\";
    if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("CreateDirectory failed");
  }
}

void RemoveScratchDirectory(const std::wstring& dir) {
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileW((dir + L"*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        DeleteFileW((dir + found.cFileName).c_str());
    } while (FindNextFileW(h, &found));
    FindClose(h);
  }
  RemoveDirectoryW(dir.c_str());
}

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  std::string out;
  char buf[4096];
  DWORD read = 0;
  while (ReadFile(h, buf, sizeof buf, &read, nullptr) && read > 0) out.append(buf, read);
  CloseHandle(h);
  return out;
}

ProcessResult RunProcess(const std::wstring& command_line, DWORD timeout_ms) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &sa, 0)) throw std::runtime_error("CreatePipe failed");
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = write_end;
  si.hStdError = write_end;
  PROCESS_INFORMATION pi{};
  std::wstring cmd = command_line;
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(read_end);
    CloseHandle(write_end);
    throw std::runtime_error("CreateProcess failed: " + Narrow(command_line));
  }
  CloseHandle(write_end);
  ProcessResult result;
  std::thread reader([&] {
    char buf[1024];
    DWORD n = 0;
    while (ReadFile(read_end, buf, sizeof buf, &n, nullptr) && n > 0) result.output.append(buf, n);
  });
  if (WaitForSingleObject(pi.hProcess, timeout_ms) != WAIT_OBJECT_0) {
    result.timed_out = true;
    TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 5000);
  }
  GetExitCodeProcess(pi.hProcess, &result.exit_code);
  reader.join();
  CloseHandle(read_end);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return result;
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
  EnsureWinsock();
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (listener_ == INVALID_SOCKET ||
      bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listener_, 8) != 0) {
    throw std::runtime_error("loopback server: cannot listen");
  }
  int len = sizeof addr;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
  closesocket(listener_);  // ends the accept loop
  thread_.join();
}

std::vector<std::string> LoopbackHttpServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void LoopbackHttpServer::Serve() {
  for (;;) {
    SOCKET client = accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) return;
    std::string request;
    char buf[4096];
    size_t header_end = std::string::npos;
    size_t wanted = 0;
    for (;;) {
      if (header_end != std::string::npos && request.size() >= wanted) break;
      int n = recv(client, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, static_cast<size_t>(n));
      if (header_end == std::string::npos) {
        header_end = request.find("\r\n\r\n");
        if (header_end != std::string::npos) {
          size_t length = 0;
          // Header names arrive in the case the client wrote them.
          for (const char* name : {"\r\nContent-Length:", "\r\ncontent-length:"}) {
            size_t at = request.find(name);
            if (at != std::string::npos && at < header_end)
              length = std::stoul(request.substr(at + std::string(name).size()));
          }
          wanted = header_end + 4 + length;
        }
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    const std::string answer = handler_(request);
    send(client, answer.data(), static_cast<int>(answer.size()), 0);
    shutdown(client, SD_SEND);
    closesocket(client);
  }
}

std::string HttpAnswer(const std::string& status_line, const std::string& content_type,
                       const std::string& body, const std::string& extra_headers) {
  std::string answer = status_line + "\r\n";
  if (!content_type.empty()) answer += "Content-Type: " + content_type + "\r\n";
  answer += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  answer += extra_headers;
  answer += "Connection: close\r\n\r\n";
  return answer + body;
}

bool RegistryKeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& path,
                                               const std::wstring& name) {
  wchar_t buf[2048];
  DWORD bytes = sizeof buf;
  DWORD type = 0;
  if (RegGetValueW(root, path.c_str(), name.c_str(), RRF_RT_ANY, &type, buf, &bytes) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  return std::wstring(buf);
}

EnsuredRegistryKey::EnsuredRegistryKey(HKEY root, const std::wstring& path) : root_(root) {
  size_t pos = 0;
  for (;;) {
    size_t next = path.find(L'\\', pos);
    std::wstring prefix = path.substr(0, next);
    if (!RegistryKeyExists(root, prefix)) {
      created_top_ = prefix;
      break;
    }
    if (next == std::wstring::npos) break;
    pos = next + 1;
  }
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    throw std::runtime_error("cannot create registry key " + Narrow(path));
  }
  RegCloseKey(key);
}

EnsuredRegistryKey::~EnsuredRegistryKey() {
  if (!created_top_.empty()) {
    RegDeleteTreeW(root_, created_top_.c_str());
    RegDeleteKeyW(root_, created_top_.c_str());
  }
}

int UnusedLoopbackPort() {
  EnsureWinsock();
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  int len = sizeof addr;
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  closesocket(s);
  return ntohs(addr.sin_port);
}

}  // namespace zvtest
