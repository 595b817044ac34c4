// WinHTTP under the platform client and the connectivity probe.

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "os/http_support.h"
#include "os/system.h"
#include "os/windows/win_text.h"

namespace zv {

namespace {

// The probe's request, connection and session, closed in this order whichever way the call
// ends.
struct WinHttpHandles {
  HINTERNET session = nullptr;
  HINTERNET connection = nullptr;
  HINTERNET request = nullptr;
  WinHttpHandles() = default;
  WinHttpHandles(const WinHttpHandles&) = delete;
  WinHttpHandles& operator=(const WinHttpHandles&) = delete;
  ~WinHttpHandles() {
    if (request) WinHttpCloseHandle(request);
    if (connection) WinHttpCloseHandle(connection);
    if (session) WinHttpCloseHandle(session);
  }
};

// The texts the service reports are WinHTTP's; a number the shared table lacks is looked up
// in winhttp.dll's own message table.
std::string ErrorText(DWORD code) {
  std::string text = WinHttpErrorText(static_cast<int>(code));
  if (!text.empty()) return text;
  return SystemErrorText(code, GetModuleHandleW(L"winhttp.dll"));
}

[[noreturn]] void Fail(bool while_sending, DWORD code) {
  std::string message =
      std::string(while_sending ? "Error sending data: (" : "Error receiving data: (") +
      std::to_string(code) + ") " + ErrorText(code);
  throw ERESTException(RestFailureMessage(message));
}

std::wstring QueryHeaderText(HINTERNET request, DWORD info) {
  DWORD bytes = 0;
  WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &bytes,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return std::wstring();
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &bytes,
                           WINHTTP_NO_HEADER_INDEX)) {
    return std::wstring();
  }
  value.resize(bytes / sizeof(wchar_t));
  return value;
}

// Whether the bytes fall into UTF-8 sequences (lead and continuation bytes; overlong forms are
// not looked for): enough to tell UTF-8 from ISO-8859-1 text.
bool HasUtf8Shape(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const size_t len = b < 0x80         ? 1
                       : (b >> 5) == 6  ? 2
                       : (b >> 4) == 14 ? 3
                       : (b >> 3) == 30 ? 4
                                        : 0;
    if (len == 0 || i + len > bytes.size()) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

// WinHTTP widens header bytes one to one. The bytes are taken back, so that a reason phrase
// reads as the server sent it: UTF-8 stays UTF-8, anything else is read as ISO-8859-1.
std::string HeaderTextToUtf8(const std::wstring& wide) {
  std::string bytes;
  bytes.reserve(wide.size());
  for (wchar_t ch : wide) {
    if (ch > 0xFF) return WideToUtf8(wide);
    bytes += static_cast<char>(ch);
  }
  return HasUtf8Shape(bytes) ? bytes : Latin1ToUtf8(bytes);
}

using Clock = std::chrono::steady_clock;

// A request handle, closed whichever way the call ends.
struct RequestHandle {
  HINTERNET handle = nullptr;
  RequestHandle() = default;
  RequestHandle(const RequestHandle&) = delete;
  RequestHandle& operator=(const RequestHandle&) = delete;
  ~RequestHandle() {
    if (handle) WinHttpCloseHandle(handle);
  }
};

// The whole-request deadline over WinHTTP's time-outs, which count each wait on its own:
// before every call that waits, the request's time-outs are cut to what is left of the
// deadline, and after it the deadline is checked, so that an answer trickling in a byte at
// a time ends as a time-out too.
class Deadline {
 public:
  explicit Deadline(const HttpRequest& request)
      : request_(request),
        whole_ms_(WholeRequestDeadlineMs(request)),
        end_(Clock::now() + std::chrono::milliseconds(whole_ms_)) {}

  // Sets the time-outs of the next wait; fails with a time-out once the deadline has passed.
  void Arm(HINTERNET request, bool while_sending) const {
    int connect_ms = static_cast<int>(request_.connect_timeout_ms);
    int receive_ms = static_cast<int>(request_.receive_timeout_ms);
    if (whole_ms_ > 0) {
      const int left = LeftMs();
      if (left <= 0) Fail(while_sending, ERROR_WINHTTP_TIMEOUT);
      connect_ms = std::min(connect_ms, left);
      receive_ms = std::min(receive_ms, left);
    }
    WinHttpSetTimeouts(request, connect_ms, connect_ms, receive_ms, receive_ms);
    // The wait for the answer's head, which some WinHTTP builds (Wine's) time by this option
    // alone rather than by the receive time-out.
    DWORD head_ms = static_cast<DWORD>(receive_ms);
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &head_ms, sizeof head_ms);
  }
  // A wait that failed: past the deadline, or ended by a socket's own time-out (which Wine's
  // WinHTTP passes on as it is), it is a time-out.
  [[noreturn]] void Failed(bool while_sending, DWORD code) const {
    constexpr DWORD kSocketTimedOut = 10060;  // WSAETIMEDOUT
    if (code == kSocketTimedOut || (whole_ms_ > 0 && LeftMs() <= 0)) code = ERROR_WINHTTP_TIMEOUT;
    Fail(while_sending, code);
  }
  // After a wait that ended well: a time-out if the deadline passed meanwhile.
  void Check(bool while_sending) const {
    if (whole_ms_ > 0 && LeftMs() <= 0) Fail(while_sending, ERROR_WINHTTP_TIMEOUT);
  }

 private:
  int LeftMs() const {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end_ - Clock::now()).count();
    return static_cast<int>(std::max<long long>(0, left));
  }

  const HttpRequest& request_;
  long whole_ms_;
  Clock::time_point end_;
};

// One session for the life of the transport, and one connection handle per host and port,
// so that WinHTTP keeps the connection to the platform open between requests (and opens it
// again when the server has closed it). Each request gets its own request handle, its own
// time-outs and no cookies: nothing of one request reaches the next. Requests come one at a
// time from the thread that runs the cycles.
class WinHttpTransport : public IHttpTransport {
 public:
  WinHttpTransport() = default;
  WinHttpTransport(const WinHttpTransport&) = delete;
  WinHttpTransport& operator=(const WinHttpTransport&) = delete;
  ~WinHttpTransport() override {
    for (auto& [key, connection] : connections_) WinHttpCloseHandle(connection);
    if (session_) WinHttpCloseHandle(session_);
  }

  HttpResponse Send(const HttpRequest& request) override {
    const Deadline deadline(request);
    const std::wstring url = Utf8ToWide(request.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
      Fail(true, GetLastError());
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    HINTERNET connection = Connection(host, parts.nPort);
    const std::wstring method = Utf8ToWide(request.method);
    RequestHandle h;
    h.handle =
        WinHttpOpenRequest(connection, method.c_str(), path.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0);
    if (!h.handle) Fail(true, GetLastError());
    // Redirections are followed by WinHTTP's default policy, which never leaves HTTPS for
    // plain HTTP: the basic authentication would go out in clear text. The session's cookie
    // store would carry one request's cookies into the next: it is not used.
    DWORD no_cookies = WINHTTP_DISABLE_COOKIES;
    WinHttpSetOption(h.handle, WINHTTP_OPTION_DISABLE_FEATURE, &no_cookies, sizeof no_cookies);

    std::wstring headers;
    for (const auto& [name, value] : request.headers) {
      headers += Utf8ToWide(name) + L": " + Utf8ToWide(value) + L"\r\n";
    }
    if (!headers.empty() &&
        !WinHttpAddRequestHeaders(h.handle, headers.c_str(), static_cast<DWORD>(headers.size()),
                                  WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
      Fail(true, GetLastError());
    }
    const DWORD body_size = static_cast<DWORD>(request.body.size());
    LPVOID body = body_size ? const_cast<char*>(request.body.data()) : WINHTTP_NO_REQUEST_DATA;
    deadline.Arm(h.handle, true);
    if (!WinHttpSendRequest(h.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, body_size, body_size,
                            0)) {
      deadline.Failed(true, GetLastError());
    }
    deadline.Arm(h.handle, false);
    if (!WinHttpReceiveResponse(h.handle, nullptr)) deadline.Failed(false, GetLastError());
    deadline.Check(false);

    HttpResponse response;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(h.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
      Fail(false, GetLastError());
    }
    response.status = static_cast<int>(status);
    response.protocol = WideToUtf8(QueryHeaderText(h.handle, WINHTTP_QUERY_VERSION));
    if (response.protocol == "HTTP/2") response.protocol = "HTTP/2.0";
    response.reason = HeaderTextToUtf8(QueryHeaderText(h.handle, WINHTTP_QUERY_STATUS_TEXT));
    if (response.reason.empty()) response.reason = StandardReasonPhrase(response.status);
    response.content_type = WideToUtf8(QueryHeaderText(h.handle, WINHTTP_QUERY_CONTENT_TYPE));

    std::string body_bytes;
    std::vector<char> chunk(16384);
    for (;;) {
      // Waits for the next bytes, then takes what came.
      deadline.Arm(h.handle, false);
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(h.handle, &available)) deadline.Failed(false, GetLastError());
      deadline.Check(false);
      if (available == 0) break;
      DWORD read = 0;
      const DWORD want = std::min<DWORD>(available, static_cast<DWORD>(chunk.size()));
      if (!WinHttpReadData(h.handle, chunk.data(), want, &read))
        deadline.Failed(false, GetLastError());
      if (read == 0) break;
      if (request.max_body_bytes != 0 && read > request.max_body_bytes - body_bytes.size())
        throw ERESTException(AnswerTooLargeMessage(request.max_body_bytes));
      body_bytes.append(chunk.data(), read);
    }
    response.body = DecodeBody(response.content_type, std::move(body_bytes));
    return response;
  }

 private:
  HINTERNET Connection(const std::wstring& host, INTERNET_PORT port) {
    if (!session_) {
      // The platform is reached the way the system reaches the web: its proxy settings apply.
      session_ = WinHttpOpen(L"SrvZentrovia", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
      if (!session_) Fail(true, GetLastError());
    }
    const auto key = std::make_pair(host, port);
    const auto found = connections_.find(key);
    if (found != connections_.end()) return found->second;
    HINTERNET connection = WinHttpConnect(session_, host.c_str(), port, 0);
    if (!connection) Fail(true, GetLastError());
    connections_.emplace(key, connection);
    return connection;
  }

  HINTERNET session_ = nullptr;
  std::map<std::pair<std::wstring, INTERNET_PORT>, HINTERNET> connections_;
};

class WinHttpUrlTester : public IUrlTester {
 public:
  bool TestUrl(const ProbeHost& host, bool use_https) override {
    WinHttpHandles h;
    h.session = WinHttpOpen(L"Orbelune", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                            WINHTTP_NO_PROXY_BYPASS, 0);
    if (!h.session) return false;
    WinHttpSetTimeouts(h.session, 2000, 2000, 2000, 2000);
    const std::wstring name = Utf8ToWide(host.host);
    const auto port = static_cast<INTERNET_PORT>(use_https ? host.https_port : host.http_port);
    h.connection = WinHttpConnect(h.session, name.c_str(), port, 0);
    if (!h.connection) return false;
    h.request =
        WinHttpOpenRequest(h.connection, L"HEAD", L"/", nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES, use_https ? WINHTTP_FLAG_SECURE : 0);
    if (!h.request) return false;
    if (use_https) {
      // Any answer proves the way out is open, whatever certificate the host shows.
      DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                    SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
      WinHttpSetOption(h.request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
    }
    return WinHttpSendRequest(h.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                              0, 0, 0) &&
           WinHttpReceiveResponse(h.request, nullptr);
  }
};

}  // namespace

std::unique_ptr<IHttpTransport> MakeSystemHttpTransport() {
  return std::make_unique<WinHttpTransport>();
}
std::unique_ptr<IUrlTester> MakeSystemUrlTester() {
  return std::make_unique<WinHttpUrlTester>();
}

}  // namespace zv
