#pragma once
// Pieces every HTTP transport shares, whatever the system's HTTP stack: the error numbers and
// texts the service reports (those of WinHTTP, on every system, so that one rule in the sync
// cycle recognises a name that does not resolve), the status line, the answer's character
// set, and the Base64 of the basic authentication.

#include <cstddef>
#include <string>
#include <string_view>

namespace zv {

// WinHTTP error numbers the transports report.
namespace winhttp {
constexpr int kTimeout = 12002;                // ERROR_WINHTTP_TIMEOUT
constexpr int kInternalError = 12004;          // ERROR_WINHTTP_INTERNAL_ERROR
constexpr int kInvalidUrl = 12005;             // ERROR_WINHTTP_INVALID_URL
constexpr int kUnrecognizedScheme = 12006;     // ERROR_WINHTTP_UNRECOGNIZED_SCHEME
constexpr int kNameNotResolved = 12007;        // ERROR_WINHTTP_NAME_NOT_RESOLVED
constexpr int kOperationCancelled = 12017;     // ERROR_WINHTTP_OPERATION_CANCELLED
constexpr int kCannotConnect = 12029;          // ERROR_WINHTTP_CANNOT_CONNECT
constexpr int kConnectionError = 12030;        // ERROR_WINHTTP_CONNECTION_ERROR
constexpr int kCertDateInvalid = 12037;        // ERROR_WINHTTP_SECURE_CERT_DATE_INVALID
constexpr int kCertCnInvalid = 12038;          // ERROR_WINHTTP_SECURE_CERT_CN_INVALID
constexpr int kClientAuthCertNeeded = 12044;   // ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED
constexpr int kInvalidCa = 12045;              // ERROR_WINHTTP_SECURE_INVALID_CA
constexpr int kInvalidServerResponse = 12152;  // ERROR_WINHTTP_INVALID_SERVER_RESPONSE
constexpr int kRedirectFailed = 12156;         // ERROR_WINHTTP_REDIRECT_FAILED
constexpr int kSecureChannelError = 12157;     // ERROR_WINHTTP_SECURE_CHANNEL_ERROR
constexpr int kSecureFailure = 12175;          // ERROR_WINHTTP_SECURE_FAILURE
}  // namespace winhttp

// The system's English text for a WinHTTP error number ("" for a number not listed).
std::string WinHttpErrorText(int code);

// "Error sending data: (N) text" for a request that failed before it was fully sent,
// "Error receiving data: (N) text" for one whose answer never came.
std::string TransportFailureMessage(bool while_sending, int code);

struct HttpRequest;

// The time a request may take as a whole (connect, send, answer): its connect time-out plus
// its receive time-out, so that an answer that trickles in a byte at a time, each byte within
// the receive time-out, still ends. 0 when either time-out is 0 or less (no deadline).
long WholeRequestDeadlineMs(const HttpRequest& request);

// The ERESTException message of a request without answer.
std::string RestFailureMessage(const std::string& transport_message);

// The ERESTException message of an answer whose body is longer than `limit` bytes.
std::string AnswerTooLargeMessage(size_t limit);

// The ERESTException message of a status of 500 or more: "HTTP/1.1 503 Service Unavailable".
std::string HttpStatusErrorMessage(const std::string& protocol, int status,
                                   const std::string& reason);

struct StatusLine {
  std::string protocol;  // "HTTP/1.0", "HTTP/1.1", "HTTP/2.0"
  int status = 0;
  std::string reason;
};

// Parses "HTTP/1.1 200 OK" (line break optional). "HTTP/2" and "HTTP/3" come out as
// "HTTP/2.0" and "HTTP/3.0"; those versions carry no reason phrase, so the standard text of
// the status stands in for it. False when the line is no status line.
bool ParseStatusLine(std::string_view line, StatusLine& out);

// The standard reason phrase of a status ("" when unknown).
std::string StandardReasonPhrase(int status);

// Decodes an answer body by the charset parameter of its Content-Type: ISO-8859-1 (and its
// aliases) and Windows-1252 are converted to UTF-8; UTF-8, no charset and any other charset
// are taken as UTF-8. A leading UTF-8 byte order mark is dropped.
std::string DecodeBody(std::string_view content_type, std::string body);

// Base64, standard alphabet, with padding, no line breaks.
std::string Base64Encode(std::string_view bytes);

}  // namespace zv
