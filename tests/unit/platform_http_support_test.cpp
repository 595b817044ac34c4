#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os/http_support.h"

namespace zv {
namespace {

TEST(PlatformHttpSupport, StatusLineKeepsProtocolAndReasonAsSent) {
  struct Case {
    const char* line;
    const char* protocol;
    int status;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"HTTP/1.1 503 Service Unavailable\r\n", "HTTP/1.1", 503, "Service Unavailable"},
      {"HTTP/1.0 500 Kaput  total\r\n", "HTTP/1.0", 500, "Kaput  total"},
      {"HTTP/1.1 200 OK", "HTTP/1.1", 200, "OK"},
      {"HTTP/1.1 599\r\n", "HTTP/1.1", 599, ""},
      {"HTTP/2 503 \r\n", "HTTP/2.0", 503, "Service Unavailable"},
      {"HTTP/2 200\r\n", "HTTP/2.0", 200, "OK"},
  };
  for (const Case& c : cases) {
    StatusLine s;
    ASSERT_TRUE(ParseStatusLine(c.line, s)) << c.line;
    EXPECT_EQ(s.protocol, c.protocol);
    EXPECT_EQ(s.status, c.status);
    EXPECT_EQ(s.reason, c.reason);
  }
  StatusLine s;
  for (const char* bad :
       {"Content-Type: text/plain\r\n", "\r\n", "HTTP/1.1 20 OK", "HTTP/1.1 2000 OK"}) {
    EXPECT_FALSE(ParseStatusLine(bad, s)) << bad;
  }
  EXPECT_EQ(HttpStatusErrorMessage("HTTP/1.1", 503, "Service Unavailable"),
            "HTTP/1.1 503 Service Unavailable");
}

TEST(PlatformHttpSupport, FailureMessagesCarryTheWinHttpNumberAndText) {
  EXPECT_EQ(RestFailureMessage(TransportFailureMessage(true, winhttp::kNameNotResolved)),
            "REST request failed: Error sending data: (12007) The server name or address could "
            "not be resolved");
  EXPECT_EQ(TransportFailureMessage(true, winhttp::kCannotConnect),
            "Error sending data: (12029) A connection with the server could not be established");
  EXPECT_EQ(TransportFailureMessage(false, winhttp::kTimeout),
            "Error receiving data: (12002) The operation timed out");
  EXPECT_EQ(TransportFailureMessage(true, winhttp::kSecureFailure),
            "Error sending data: (12175) A security error occurred");
}

TEST(PlatformHttpSupport, BodyIsDecodedByItsDeclaredCharset) {
  const std::string latin1 = "a\xE7\xE3o \x80";
  EXPECT_EQ(DecodeBody("application/json; charset=ISO-8859-1", latin1),
            "a\xC3\xA7\xC3\xA3o \xC2\x80");
  EXPECT_EQ(DecodeBody("text/plain;charset=\"latin1\"", latin1), "a\xC3\xA7\xC3\xA3o \xC2\x80");
  EXPECT_EQ(DecodeBody("application/json; Charset=windows-1252", latin1),
            "a\xC3\xA7\xC3\xA3o \xE2\x82\xAC");
  EXPECT_EQ(DecodeBody("text/plain; charset=windows-1252", "plain"), "plain");
  EXPECT_EQ(DecodeBody("text/plain; charset=windows-1252", "\x80 ok"), "\xE2\x82\xAC ok");
  const std::string utf8 = "a\xC3\xA7\xC3\xA3o";
  EXPECT_EQ(DecodeBody("application/json", utf8), utf8);
  EXPECT_EQ(DecodeBody("", "\xEF\xBB\xBF" + utf8), utf8);
  EXPECT_EQ(DecodeBody("application/json; charset=utf-8", utf8), utf8);
}

TEST(PlatformHttpSupport, Base64WithPadding) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("f"), "Zg==");
  EXPECT_EQ(Base64Encode("fo"), "Zm8=");
  EXPECT_EQ(Base64Encode("foo"), "Zm9v");
  EXPECT_EQ(Base64Encode("usu\xC3\xA1rio:s\xC3\xA9nha"), "dXN1w6FyaW86c8Opbmhh");
  EXPECT_EQ(Base64Encode(std::string("\xFF\xFE\x00", 3)), "//4A");
}

}  // namespace
}  // namespace zv
