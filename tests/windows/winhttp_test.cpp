// The platform client and the connectivity probe over WinHTTP, against a server on loopback.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/integration_settings.h"
#include "os/system.h"
#include "platform/zentrovia_client.h"
#include "windows_test_support.h"

namespace {

using zvtest::HttpAnswer;
using zvtest::LoopbackHttpServer;

// The request's header lines, without the request line and the blank line.
std::vector<std::string> HeaderLines(const std::string& request) {
  std::vector<std::string> lines;
  size_t end = request.find("\r\n\r\n");
  size_t pos = request.find("\r\n") + 2;
  while (pos < end) {
    size_t next = request.find("\r\n", pos);
    lines.push_back(request.substr(pos, next - pos));
    pos = next + 2;
  }
  return lines;
}

std::string RequestLine(const std::string& request) {
  return request.substr(0, request.find("\r\n"));
}

std::string Body(const std::string& request) {
  return request.substr(request.find("\r\n\r\n") + 4);
}

bool HasHeaderNamed(const std::vector<std::string>& lines, const std::string& name) {
  for (const auto& line : lines) {
    if (_strnicmp(line.c_str(), (name + ":").c_str(), name.size() + 1) == 0) return true;
  }
  return false;
}

class WinHttpClientTest : public ::testing::Test {
 protected:
  WinHttpClientTest() : transport_(zv::MakeSystemHttpTransport()), client_(*transport_, settings_) {
    settings_.zentrovia_usuario = "loja\xC3\xA9";  // "lojaé"
    settings_.zentrovia_senha = "s3nh@";
    settings_.zentrovia_idempresa = "77";
    settings_.zentrovia_idlocal = "1";
  }

  std::unique_ptr<zv::IHttpTransport> transport_;
  zv::IntegrationSettings settings_;
  zv::TZentrovia client_;
};

TEST_F(WinHttpClientTest, PostSendsTheHeadersAndTheBodyByteForByte) {
  const std::string answer = "{\"loteId\":\"L-1\",\"mensagem\":\"Recebido cart\xC3\xA3o\"}";
  LoopbackHttpServer server([&](const std::string&) {
    return HttpAnswer("HTTP/1.1 200 OK", "application/json", answer);
  });
  settings_.zentrovia_url1 = server.base_url();
  client_.RequestTill = "3";
  client_.RequestBody =
      "{\"codigoTipoPago\":\"D\xC3\x89"
      "BITO\",\"monto\":2.5}";

  zv::TZentrovRetornos r = client_.postEnviarVenda();

  EXPECT_EQ(r.url, server.base_url() +
                       "/api-minoristas/api/v2/minoristas/77/locales/1/cajas/3/movimientos/lotes");
  EXPECT_EQ(r.code_retorno, "200");
  EXPECT_EQ(r.json_retorno, answer);  // no charset declared: UTF-8
  ASSERT_EQ(server.requests().size(), 1u);
  const std::string request = server.requests()[0];
  EXPECT_EQ(
      RequestLine(request),
      "POST /api-minoristas/api/v2/minoristas/77/locales/1/cajas/3/movimientos/lotes HTTP/1.1");
  const auto headers = HeaderLines(request);
  for (const char* expected : {"Authorization: Basic bG9qYcOpOnMzbmhA", "pdv-version: 9.0.0",
                               "backend-version: 1.0.0", "Content-Type: application/json",
                               "Accept: application/json, text/plain; q=0.9, text/html;q=0.8,",
                               "Accept-Charset: utf-8, *;q=0.8"}) {
    EXPECT_NE(std::find(headers.begin(), headers.end(), expected), headers.end())
        << "missing header line: " << expected << "\nrequest:\n"
        << request;
  }
  EXPECT_EQ(Body(request), client_.RequestBody);
}

TEST_F(WinHttpClientTest, GetSendsNoBodyAndNoContentType) {
  LoopbackHttpServer server(
      [](const std::string&) { return HttpAnswer("HTTP/1.1 200 OK", "application/json", "[]"); });
  settings_.zentrovia_url1 = server.base_url();

  zv::TZentrovRetornos r = client_.getPromoAceitas();

  EXPECT_EQ(r.json_retorno, "[]");
  ASSERT_EQ(server.requests().size(), 1u);
  const std::string request = server.requests()[0];
  EXPECT_EQ(RequestLine(request),
            "GET /pmkt-rest-api/v2/minoristas/77/locales/1/promociones?estado=ACEPTADA HTTP/1.1");
  EXPECT_FALSE(HasHeaderNamed(HeaderLines(request), "Content-Type")) << request;
  EXPECT_EQ(Body(request), "");
}

TEST_F(WinHttpClientTest, StatusesBelow500AreReturnedWithTheirBody) {
  for (const char* status : {"401 Unauthorized", "404 Not Found", "400 Bad Request"}) {
    const std::string body = std::string("{\"erro\":\"") + status + "\"}";
    LoopbackHttpServer server([&](const std::string&) {
      return HttpAnswer(std::string("HTTP/1.1 ") + status, "application/json", body);
    });
    settings_.zentrovia_url1 = server.base_url();
    zv::TZentrovRetornos r = client_.getSolReenvioMovimientos();
    EXPECT_EQ(r.code_retorno, std::string(status).substr(0, 3));
    EXPECT_EQ(r.json_retorno, body);
  }
}

TEST_F(WinHttpClientTest, StatusesFrom500RaiseWithTheStatusLine) {
  struct Case {
    const char* status_line;
    const char* message;
  };
  for (const Case& c :
       {Case{"HTTP/1.1 503 Service Unavailable", "HTTP/1.1 503 Service Unavailable"},
        Case{"HTTP/1.0 500 Internal Server Error", "HTTP/1.0 500 Internal Server Error"},
        Case{"HTTP/1.1 502 Gateway em manuten\xC3\xA7\xC3\xA3o",
             "HTTP/1.1 502 Gateway em manuten\xC3\xA7\xC3\xA3o"}}) {
    LoopbackHttpServer server(
        [&](const std::string&) { return HttpAnswer(c.status_line, "text/plain", "fora do ar"); });
    settings_.zentrovia_url1 = server.base_url();
    try {
      client_.postFechaCaixa();
      ADD_FAILURE() << "no error for " << c.status_line;
    } catch (const zv::ERESTException& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

TEST_F(WinHttpClientTest, RequestsWithoutAnswerRaiseWithTheWinHttpNumberAndText) {
  struct Case {
    std::string url;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"http://zentrovia-host-que-nao-existe.invalid",
       "REST request failed: Error sending data: (12007) The server name or address could not "
       "be resolved"},
      {"http://127.0.0.1:" + std::to_string(zvtest::UnusedLoopbackPort()),
       "REST request failed: Error sending data: (12029) A connection with the server could not "
       "be established"},
  };
  for (const Case& c : cases) {
    settings_.zentrovia_url1 = c.url;
    try {
      client_.getSolReenvioCierresDiarios();
      ADD_FAILURE() << "no error for " << c.url;
    } catch (const zv::ERESTException& e) {
      EXPECT_EQ(std::string(e.what()), c.message) << c.url;
    }
  }
}

TEST(WinHttpTransport, DecodesTheBodyByTheDeclaredCharacterSet) {
  struct Case {
    const char* content_type;
    std::string body;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"text/plain; charset=ISO-8859-1", "caf\xE9", "caf\xC3\xA9"},
      {"text/plain; charset=windows-1252", "\x80 5", "\xE2\x82\xAC 5"},
      {"application/json; charset=utf-8", "caf\xC3\xA9", "caf\xC3\xA9"},
      {"application/json", "caf\xC3\xA9", "caf\xC3\xA9"},
  };
  auto transport = zv::MakeSystemHttpTransport();
  for (const Case& c : cases) {
    LoopbackHttpServer server(
        [&](const std::string&) { return HttpAnswer("HTTP/1.1 200 OK", c.content_type, c.body); });
    zv::HttpRequest request;
    request.method = "GET";
    request.url = server.base_url() + "/x";
    zv::HttpResponse response = transport->Send(request);
    EXPECT_EQ(response.body, c.expected) << c.content_type;
    EXPECT_EQ(response.protocol, "HTTP/1.1");
    EXPECT_EQ(response.reason, "OK");
  }
}

TEST(WinHttpTransport, FollowsRedirections) {
  LoopbackHttpServer server([](const std::string& request) {
    if (RequestLine(request).rfind("GET /start ", 0) == 0)
      return HttpAnswer("HTTP/1.1 302 Found", "", "", "Location: /final\r\n");
    return HttpAnswer("HTTP/1.1 200 OK", "text/plain", "chegou");
  });
  auto transport = zv::MakeSystemHttpTransport();
  zv::HttpRequest request;
  request.method = "GET";
  request.url = server.base_url() + "/start";
  zv::HttpResponse response = transport->Send(request);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "chegou");
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(RequestLine(server.requests()[1]), "GET /final HTTP/1.1");
}

TEST(WinHttpProbe, AnyAnswerOfAHeadRequestCountsAsReachable) {
  for (const char* status : {"HTTP/1.1 200 OK", "HTTP/1.1 404 Not Found", "HTTP/1.1 500 Oops"}) {
    LoopbackHttpServer server([&](const std::string&) { return HttpAnswer(status, "", ""); });
    auto tester = zv::MakeSystemUrlTester();
    EXPECT_TRUE(tester->TestUrl({"127.0.0.1", server.port(), server.port()}, false)) << status;
    ASSERT_EQ(server.requests().size(), 1u);
    const std::string request = server.requests()[0];
    EXPECT_EQ(RequestLine(request), "HEAD / HTTP/1.1");
    const auto headers = HeaderLines(request);
    EXPECT_NE(std::find(headers.begin(), headers.end(), "User-Agent: Orbelune"), headers.end())
        << request;
  }
}

TEST(WinHttpProbe, NoAnswerIsFalse) {
  auto tester = zv::MakeSystemUrlTester();
  const int closed = zvtest::UnusedLoopbackPort();
  EXPECT_FALSE(tester->TestUrl({"127.0.0.1", closed, closed}, false));
  EXPECT_FALSE(tester->TestUrl({"127.0.0.1", closed, closed}, true));
  EXPECT_FALSE(tester->TestUrl({"zentrovia-host-que-nao-existe.invalid"}, false));
}

// A one-thread server on 127.0.0.1 that keeps its connections alive and does with each
// request what its script says (requests past the script are answered): answer; answer and
// then end the connection without a word, as a server ends an idle one; hold the request
// without answering until the client gives up; answer a byte at a time.
class ScriptedServer {
 public:
  enum class Step { kAnswer, kAnswerThenClose, kHold, kTrickle };

  explicit ScriptedServer(std::vector<Step> script) : script_(std::move(script)) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener_, 8);
    int len = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    stopping_ = true;
    closesocket(listener_);
    const SOCKET client = client_.load();
    if (client != INVALID_SOCKET) shutdown(client, SD_BOTH);
    thread_.join();
    WSACleanup();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/x"; }
  int Requests() const { return requests_; }
  int Connections() const { return connections_; }

 private:
  void Serve() {
    while (!stopping_) {
      SOCKET c = accept(listener_, nullptr, nullptr);
      if (c == INVALID_SOCKET) return;
      ++connections_;
      client_ = c;
      // A connection idle for 3 s is ended, as servers end idle ones: the client's pool may
      // keep it open after the client is gone.
      DWORD idle_ms = 3000;
      setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&idle_ms),
                 sizeof idle_ms);
      ServeConnection(c);
      client_ = INVALID_SOCKET;
      closesocket(c);
    }
  }

  void ServeConnection(SOCKET c) {
    std::string in;
    for (;;) {
      size_t head_end;
      while ((head_end = in.find("\r\n\r\n")) == std::string::npos) {
        if (!Receive(c, in)) return;
      }
      size_t length = 0;
      for (const char* name : {"\r\nContent-Length:", "\r\ncontent-length:"}) {
        const size_t at = in.find(name);
        if (at != std::string::npos && at < head_end)
          length = std::stoul(in.substr(at + std::string(name).size()));
      }
      while (in.size() < head_end + 4 + length) {
        if (!Receive(c, in)) return;
      }
      in.erase(0, head_end + 4 + length);
      const auto index = static_cast<size_t>(requests_++);
      const Step step = index < script_.size() ? script_[index] : Step::kAnswer;
      if (step == Step::kHold) {
        // Until the client ends the connection, or for 5 s.
        DWORD hold_ms = 5000;
        setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&hold_ms),
                   sizeof hold_ms);
        while (Receive(c, in)) {
        }
        return;
      }
      if (step == Step::kTrickle) {
        // 300 bytes, one every 100 ms: half a minute for the whole answer.
        if (!Send(c, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 300\r\n\r\n"))
          return;
        for (int i = 0; i < 300 && !stopping_; ++i) {
          Sleep(100);
          if (!Send(c, "x")) return;
        }
        continue;
      }
      if (!Send(c, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok"))
        return;
      if (step == Step::kAnswerThenClose) {
        shutdown(c, SD_SEND);
        return;
      }
    }
  }

  static bool Receive(SOCKET c, std::string& in) {
    char buf[4096];
    const int n = recv(c, buf, sizeof buf, 0);
    if (n <= 0) return false;
    in.append(buf, static_cast<size_t>(n));
    return true;
  }
  static bool Send(SOCKET c, const std::string& bytes) {
    return send(c, bytes.data(), static_cast<int>(bytes.size()), 0) ==
           static_cast<int>(bytes.size());
  }

  std::vector<Step> script_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::atomic<SOCKET> client_{INVALID_SOCKET};
  std::atomic<bool> stopping_{false};
  std::atomic<int> requests_{0};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

using Step = ScriptedServer::Step;

std::string RestErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const zv::ERESTException& e) {
    return e.what();
  }
  return "(no error)";
}

zv::HttpRequest Post(const std::string& url) {
  zv::HttpRequest request;
  request.method = "POST";
  request.url = url;
  request.body = R"([{"numero":"1"}])";
  return request;
}

TEST(WinHttpKeptConnection, RequestsShareOneConnectionAndAClosedOneIsOpenedAgain) {
  ScriptedServer server({Step::kAnswer, Step::kAnswerThenClose, Step::kAnswer});
  auto transport = zv::MakeSystemHttpTransport();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(transport->Send(Post(server.Url())).body, "ok") << i;
  EXPECT_EQ(server.Requests(), 3);
  // The first two over the first connection; the server ended it after the second.
  EXPECT_EQ(server.Connections(), 2);
}

TEST(WinHttpKeptConnection, ATimeOutOnTheKeptConnectionIsFollowedByAGoodRequest) {
  ScriptedServer server({Step::kAnswer, Step::kHold, Step::kAnswer});
  auto transport = zv::MakeSystemHttpTransport();
  EXPECT_EQ(transport->Send(Post(server.Url())).body, "ok");
  zv::HttpRequest slow = Post(server.Url());
  slow.receive_timeout_ms = 300;
  EXPECT_EQ(RestErrorOf([&] { transport->Send(slow); }),
            "REST request failed: Error receiving data: (12002) The operation timed out");
  EXPECT_EQ(transport->Send(Post(server.Url())).body, "ok");
  EXPECT_EQ(server.Requests(), 3);
}

// Each byte comes well within the receive time-out; the whole request still ends at the
// connect time-out plus the receive time-out, long before the answer would be complete.
TEST(WinHttpDeadline, AnAnswerThatTricklesInEndsAsATimeOut) {
  ScriptedServer server({Step::kTrickle});
  auto transport = zv::MakeSystemHttpTransport();
  zv::HttpRequest request = Post(server.Url());
  request.connect_timeout_ms = 1000;
  request.receive_timeout_ms = 1000;
  EXPECT_EQ(RestErrorOf([&] { transport->Send(request); }),
            "REST request failed: Error receiving data: (12002) The operation timed out");
  EXPECT_EQ(server.Requests(), 1);
}

}  // namespace
