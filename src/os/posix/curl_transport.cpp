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
  // Status lines seen (every answer of a redirection chain has one), requests started, and
  // the status lines seen when the last one started.
  int status_lines = 0;
  int attempts = 0;
  int status_lines_at_attempt = 0;
  bool may_resend = false;
  // Set once a connection is ready for the request; until then the connect time-out rules.
  bool connected = false;
  bool resend_refused = false;
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
    ++t->status_lines;
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
  if (!t->connected || dlnow != t->last_down || ulnow != t->last_up) {
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

// Called before each request goes out on a connection: once, then again for every
// redirection followed and for every time libcurl sends the request again on a new
// connection because the kept one ended without a byte of answer. That last one is only
// allowed for a request without effect on the server (GET, HEAD): the server may have taken
// a post before the connection ended, and a post sent twice is a sale posted twice. The
// caller decides what to do with a post whose answer never came.
int OnPrerequest(void* user, char*, char*, int, int) {
  auto* t = static_cast<Transfer*>(user);
  const bool resend = t->attempts > 0 && t->status_lines == t->status_lines_at_attempt;
  if (resend && !t->may_resend) {
    t->resend_refused = true;
    return CURL_PREREQFUNC_ABORT;
  }
  ++t->attempts;
  t->status_lines_at_attempt = t->status_lines;
  // The connection is ready (new or kept): from here the receive time-out counts.
  t->connected = true;
  t->last_activity = Clock::now();
  return CURL_PREREQFUNC_OK;
}

// One easy handle for the life of the transport: its connection cache keeps the connection
// to the platform open between requests (libcurl checks a kept connection before it uses it
// and opens a new one when the server has closed it). Every option is set again for each
// request after a reset, and the cookies are dropped, so nothing of one request reaches the
// next. Requests come one at a time from the thread that runs the cycles.
class CurlHttpTransport : public IHttpTransport {
 public:
  CurlHttpTransport() {
    EnsureCurlGlobalInit();
    handle_ = curl_easy_init();
  }
  ~CurlHttpTransport() override {
    if (handle_) curl_easy_cleanup(handle_);
  }
  CurlHttpTransport(const CurlHttpTransport&) = delete;
  CurlHttpTransport& operator=(const CurlHttpTransport&) = delete;

  HttpResponse Send(const HttpRequest& request) override {
    if (!handle_)
      throw ERESTException(
          RestFailureMessage("Error sending data: (12004) " + WinHttpErrorText(12004)));
    CURL* h = handle_;
    curl_easy_reset(h);
    // The options point into this call's buffers: none is left set once it returns.
    struct ResetOnReturn {
      CURL* h;
      ~ResetOnReturn() { curl_easy_reset(h); }
    } reset_on_return{h};

    struct curl_slist* raw_headers = nullptr;
    for (const auto& [name, value] : request.headers)
      raw_headers = curl_slist_append(raw_headers, (name + ": " + value).c_str());
    // No "Expect: 100-continue" round trip before a larger body.
    raw_headers = curl_slist_append(raw_headers, "Expect:");
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headers(raw_headers,
                                                                        &curl_slist_free_all);

    Transfer t;
    t.receive_timeout_ms = request.receive_timeout_ms;
    t.max_body_bytes = request.max_body_bytes;
    t.may_resend = request.method == "GET" || request.method == "HEAD";
    char error_buffer[CURL_ERROR_SIZE] = "";

    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_buffer);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_USERAGENT, "SrvZentrovia");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    // Cookies live for one request (its redirections): the ones an earlier request was given
    // are dropped.
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(h, CURLOPT_COOKIELIST, "ALL");
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, request.connect_timeout_ms);
    // The whole request (connect, send, answer) ends by the connect time-out plus the
    // receive time-out, whatever pace the answer comes at.
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, WholeRequestDeadlineMs(request));
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &OnPrerequest);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, &t);

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
    if (t.resend_refused)
      throw ERESTException(
          RestFailureMessage(TransportFailureMessage(false, winhttp::kConnectionError)));
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

 private:
  CURL* handle_ = nullptr;
};

}  // namespace

std::unique_ptr<IHttpTransport> MakeSystemHttpTransport() {
  return std::make_unique<CurlHttpTransport>();
}

}  // namespace zv
