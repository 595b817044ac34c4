#pragma once
// The HTTP transport under the platform client and the connectivity probe. Production uses
// libcurl on Linux and WinHTTP on Windows; both report a request that got no answer as
// ERESTException("REST request failed: " + message), where a failure while sending reads
// "Error sending data: (N) text" with the WinHTTP error number and text (12007 for a host
// name that does not resolve, 12029 for a refused connection, 12002 for a time-out).
//
// A transport keeps its connection to a server open between requests (one per host and
// port) and opens it again when the server has closed it. The libcurl transport never sends
// a post twice on its own when a kept connection ends after the post went out (a GET may go
// again): whoever sent it hears that it failed. Each request has a receive time-out between bytes and, as a
// whole (connect, send, answer), a deadline of its connect time-out plus its receive
// time-out; either ends it with 12002.

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zv {

struct HttpRequest {
  std::string method;  // "GET", "POST", "HEAD"
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;  // UTF-8, sent as is
  long connect_timeout_ms = 30000;
  long receive_timeout_ms = 30000;
  // The most bytes of an answer's body kept; a longer answer raises ERESTException
  // (AnswerTooLargeMessage). 0: no limit.
  size_t max_body_bytes = 0;
};

struct HttpResponse {
  int status = 0;
  std::string protocol;  // "HTTP/1.0", "HTTP/1.1", "HTTP/2.0"
  std::string reason;    // the reason phrase as the server sent it
  std::string content_type;
  std::string body;  // decoded to UTF-8 by the character set the answer declares
};

class IHttpTransport {
 public:
  virtual ~IHttpTransport() = default;
  // Returns every answer, whatever its status; throws ERESTException when there is none.
  // One request at a time.
  virtual HttpResponse Send(const HttpRequest& request) = 0;
};

// A host the connectivity probe tries: HEAD "/" over HTTP, then over HTTPS.
struct ProbeHost {
  std::string host;
  int http_port = 80;
  int https_port = 443;
};

class IUrlTester {
 public:
  virtual ~IUrlTester() = default;
  // One HEAD "/" request: true when any answer came. Never throws.
  virtual bool TestUrl(const ProbeHost& host, bool use_https) = 0;
};

}  // namespace zv
