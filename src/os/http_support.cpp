#include "os/http_support.h"

#include <cstdint>
#include <cstdio>

#include "base/text.h"
#include "os/http_transport.h"

namespace zv {

std::string WinHttpErrorText(int code) {
  switch (code) {
    case winhttp::kTimeout:
      return "The operation timed out";
    case winhttp::kInternalError:
      return "An internal error occurred in the Microsoft Windows HTTP Services";
    case winhttp::kInvalidUrl:
      return "The URL is invalid";
    case winhttp::kUnrecognizedScheme:
      return "The URL does not use a recognized protocol";
    case winhttp::kNameNotResolved:
      return "The server name or address could not be resolved";
    case winhttp::kOperationCancelled:
      return "The operation was canceled";
    case winhttp::kCannotConnect:
      return "A connection with the server could not be established";
    case winhttp::kConnectionError:
      return "The connection with the server was terminated abnormally";
    case winhttp::kCertDateInvalid:
      return "The date in the certificate is invalid or has expired";
    case winhttp::kCertCnInvalid:
      return "The host name in the certificate is invalid or does not match";
    case winhttp::kClientAuthCertNeeded:
      return "A certificate is required to complete client authentication";
    case winhttp::kInvalidCa:
      return "The certificate authority is invalid or incorrect";
    case winhttp::kInvalidServerResponse:
      return "The server returned an invalid or unrecognized response";
    case winhttp::kRedirectFailed:
      return "The redirection failed because either the scheme changed or all attempts made to "
             "redirect failed";
    case winhttp::kSecureChannelError:
      return "An error occurred in the secure channel support";
    case winhttp::kSecureFailure:
      return "A security error occurred";
  }
  return std::string();
}

std::string TransportFailureMessage(bool while_sending, int code) {
  return std::string(while_sending ? "Error sending data: (" : "Error receiving data: (") +
         std::to_string(code) + ") " + WinHttpErrorText(code);
}

long WholeRequestDeadlineMs(const HttpRequest& request) {
  if (request.connect_timeout_ms <= 0 || request.receive_timeout_ms <= 0) return 0;
  return request.connect_timeout_ms + request.receive_timeout_ms;
}

std::string RestFailureMessage(const std::string& transport_message) {
  return "REST request failed: " + transport_message;
}

std::string AnswerTooLargeMessage(size_t limit) {
  return RestFailureMessage("the answer is longer than " + std::to_string(limit) + " bytes");
}

std::string HttpStatusErrorMessage(const std::string& protocol, int status,
                                   const std::string& reason) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d ", status);
  return protocol + " " + buf + reason;
}

std::string StandardReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 201:
      return "Created";
    case 202:
      return "Accepted";
    case 204:
      return "No Content";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 304:
      return "Not Modified";
    case 307:
      return "Temporary Redirect";
    case 308:
      return "Permanent Redirect";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 413:
      return "Payload Too Large";
    case 415:
      return "Unsupported Media Type";
    case 422:
      return "Unprocessable Entity";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    case 505:
      return "HTTP Version Not Supported";
  }
  return std::string();
}

bool ParseStatusLine(std::string_view line, StatusLine& out) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (line.substr(0, 5) != "HTTP/") return false;
  size_t sp = line.find(' ');
  if (sp == std::string_view::npos) return false;
  std::string protocol(line.substr(0, sp));
  std::string_view rest = line.substr(sp + 1);
  if (rest.size() < 3) return false;
  int status = 0;
  for (int i = 0; i < 3; ++i) {
    char c = rest[static_cast<size_t>(i)];
    if (c < '0' || c > '9') return false;
    status = status * 10 + (c - '0');
  }
  if (rest.size() > 3 && rest[3] != ' ') return false;
  std::string reason(rest.size() > 4 ? rest.substr(4) : std::string_view());
  if (protocol == "HTTP/2" || protocol == "HTTP/3") {
    protocol += ".0";
    if (reason.empty()) reason = StandardReasonPhrase(status);
  }
  out.protocol = std::move(protocol);
  out.status = status;
  out.reason = std::move(reason);
  return true;
}

namespace {

std::string CharsetOf(std::string_view content_type) {
  size_t pos = 0;
  while ((pos = content_type.find(';', pos)) != std::string_view::npos) {
    ++pos;
    size_t end = content_type.find(';', pos);
    std::string_view param = content_type.substr(
        pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    size_t eq = param.find('=');
    if (eq != std::string_view::npos && AsciiLower(TrimBlanks(param.substr(0, eq))) == "charset") {
      std::string value(TrimBlanks(param.substr(eq + 1)));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
      return AsciiLower(value);
    }
  }
  return std::string();
}

}  // namespace

std::string DecodeBody(std::string_view content_type, std::string body) {
  const std::string charset = CharsetOf(content_type);
  if (charset == "iso-8859-1" || charset == "iso8859-1" || charset == "latin1" ||
      charset == "latin-1" || charset == "l1" || charset == "iso_8859-1" ||
      charset == "iso-latin-1") {
    return Latin1ToUtf8(body);
  }
  if (charset == "windows-1252" || charset == "cp1252" || charset == "x-cp1252") {
    return Windows1252ToUtf8(body);
  }
  if (body.compare(0, 3, "\xEF\xBB\xBF") == 0) body.erase(0, 3);
  return body;
}

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t n = (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16) |
                 (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8) |
                 static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t n = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (rest == 2) n |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace zv
