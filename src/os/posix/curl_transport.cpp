// Platform requests over libcurl. Failures carry the WinHTTP numbers and texts (see
// os/http_support.h), so the log and the sync cycle read the same on every system.

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <mutex>

#include "base/errors.h"
#include "os/http_support.h"
#include "os/posix/curl_common.h"
#include "os/system.h"

namespace zv {

void EnsureCurlGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

int WinHttpCodeForCurl(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return winhttp::kNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return winhttp::kCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return winhttp::kTimeout;
    case CURLE_URL_MALFORMAT:
      return winhttp::kInvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return winhttp::kUnrecognizedScheme;
    case CURLE_TOO_MANY_REDIRECTS:
      return winhttp::kRedirectFailed;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return winhttp::kInvalidServerResponse;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return winhttp::kConnectionError;
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CLIENTCERT:
      return winhttp::kClientAuthCertNeeded;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_SHUTDOWN_FAILED:
      return winhttp::kSecureChannelError;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_USE_SSL_FAILED:
      return winhttp::kSecureFailure;
    case CURLE_ABORTED_BY_CALLBACK:
      return winhttp::kOperationCancelled;
    default:
      return winhttp::kInternalError;
  }
}

namespace {

using Clock = std::chrono::steady_clock;

struct Transfer {
  std::string body;
  std::string content_type;
  StatusLine status;
  bool got_status = false;
  // WinHTTP's receive time-out counts from the last byte that came, not from the start.
  long receive_timeout_ms = 0;
  Clock::time_point last_activity = Clock::now();
  curl_off_t last_down = -1;
  curl_off_t last_up = -1;
  bool receive_timed_out = false;
  size_t max_body_bytes = 0;
  bool too_large = false;
  CURL* handle = nullptr;
};

size_t OnBody(char* data, size_t size, size_t n, void* user) {
  auto* t = static_cast<Transfer*>(user);
  if (t->max_body_bytes != 0 && size * n > t->max_body_bytes - t->body.size()) {
    t->too_large = true;
    return 0;  // ends the transfer
  }
  t->body.append(data, size * n);
  return size * n;
}

bool HeaderNameIs(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':') return false;
  for (size_t i = 0; i < name.size(); ++i) {
    char a = line[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != name[i]) return false;
  }
  return true;
}

// Every answer of a redirection chain (and every interim 100) starts with its status line;
// the last one seen belongs to the answer that is returned.
size_t OnHeader(char* data, size_t size, size_t n, void* user) {
  auto* t = static_cast<Transfer*>(user);
  std::string_view line(data, size * n);
  StatusLine status;
  if (ParseStatusLine(line, status)) {
    t->status = std::move(status);
    t->got_status = true;
    t->content_type.clear();
  } else if (HeaderNameIs(line, "content-type")) {
    std::string_view value = line.substr(13);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
      value.remove_prefix(1);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ' ||
                              value.back() == '\t'))
      value.remove_suffix(1);
    t->content_type = std::string(value);
  }
  return size * n;
}

int OnProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
  auto* t = static_cast<Transfer*>(user);
  const auto now = Clock::now();
  curl_off_t connect_us = 0;
  curl_easy_getinfo(t->handle, CURLINFO_APPCONNECT_TIME_T, &connect_us);
  if (connect_us == 0) curl_easy_getinfo(t->handle, CURLINFO_CONNECT_TIME_T, &connect_us);
  if (connect_us == 0 || dlnow != t->last_down || ulnow != t->last_up) {
    // Still connecting (the connect time-out rules) or bytes moved.
    t->last_down = dlnow;
    t->last_up = ulnow;
    t->last_activity = now;
    return 0;
  }
  const auto idle =
      std::chrono::duration_cast<std::chrono::milliseconds>(now - t->last_activity).count();
  if (idle >= t->receive_timeout_ms) {
    t->receive_timed_out = true;
    return 1;
  }
  return 0;
}

class CurlHttpTransport : public IHttpTransport {
 public:
  CurlHttpTransport() { EnsureCurlGlobalInit(); }

  HttpResponse Send(const HttpRequest& request) override {
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(),
                                                               &curl_easy_cleanup);
    if (!handle)
      throw ERESTException(
          RestFailureMessage("Error sending data: (12004) " + WinHttpErrorText(12004)));
    CURL* h = handle.get();

    struct curl_slist* raw_headers = nullptr;
    for (const auto& [name, value] : request.headers)
      raw_headers = curl_slist_append(raw_headers, (name + ": " + value).c_str());
    // No "Expect: 100-continue" round trip before a larger body.
    raw_headers = curl_slist_append(raw_headers, "Expect:");
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(raw_headers,
                                                                        &curl_slist_free_all);

    Transfer t;
    t.handle = h;
    t.receive_timeout_ms = request.receive_timeout_ms;
    t.max_body_bytes = request.max_body_bytes;
    char error_buffer[CURL_ERROR_SIZE] = "";

    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_buffer);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_USERAGENT, "SrvZentrovia");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");  // cookies kept in memory for this request
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, request.connect_timeout_ms);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);

    if (request.method == "GET") {
      curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else if (request.method == "HEAD") {
      curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else {
      if (request.method == "POST" || !request.body.empty()) {
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
      }
      if (request.method != "POST")
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    const CURLcode rc = curl_easy_perform(h);
    if (t.too_large) throw ERESTException(AnswerTooLargeMessage(request.max_body_bytes));
    if (rc != CURLE_OK) {
      const bool timed_out = t.receive_timed_out || rc == CURLE_OPERATION_TIMEDOUT;
      int code = timed_out ? winhttp::kTimeout : WinHttpCodeForCurl(rc);
      // Once the request went out whole, what is missing is the answer.
      long request_size = 0;
      curl_easy_getinfo(h, CURLINFO_REQUEST_SIZE, &request_size);
      // curl reports a reply without a status line (HTTP/0.9) as an unsupported protocol,
      // after the request went out; WinHTTP calls that an invalid server response.
      if (rc == CURLE_UNSUPPORTED_PROTOCOL && request_size > 0)
        code = winhttp::kInvalidServerResponse;
      const bool while_sending = request_size == 0 && !t.got_status;
      throw ERESTException(RestFailureMessage(TransportFailureMessage(while_sending, code)));
    }
    if (!t.got_status)
      throw ERESTException(
          RestFailureMessage(TransportFailureMessage(false, winhttp::kInvalidServerResponse)));

    HttpResponse response;
    response.status = t.status.status;
    response.protocol = std::move(t.status.protocol);
    response.reason = std::move(t.status.reason);
    response.content_type = t.content_type;
    response.body = DecodeBody(t.content_type, std::move(t.body));
    return response;
  }
};

}  // namespace

std::unique_ptr<IHttpTransport> MakeSystemHttpTransport() {
  return std::make_unique<CurlHttpTransport>();
}

}  // namespace zv
