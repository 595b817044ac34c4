// The platform transport keeps one connection open between requests: what happens to it when
// the server ends it, when a request times out on it, and when an answer never ends.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "fake-platform/fake_platform.h"
#include "os/system.h"
#include "platform/zentrovia_client.h"

namespace zv {
namespace {

std::string RestErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const ERESTException& e) {
    return e.what();
  }
  return "(no error)";
}

class KeptConnectionTest : public ::testing::Test {
 protected:
  KeptConnectionTest() : transport(MakeSystemHttpTransport()), client(*transport, settings) {
    platform.Start();
    settings.zentrovia_usuario = "zentrovia";
    settings.zentrovia_senha = "zentrovia";
    settings.zentrovia_url1 = platform.BaseUrl() + "/";
    settings.zentrovia_idempresa = "88";
    settings.zentrovia_idlocal = "1";
    client.RequestTill = "3";
    client.RequestBody = R"([{"numero":"1"}])";
  }

  fake::FakePlatform platform;
  IntegrationSettings settings;
  std::unique_ptr<IHttpTransport> transport;
  TZentrovia client;
};

TEST_F(KeptConnectionTest, PostsAndPollsShareOneConnection) {
  EXPECT_EQ(client.postEnviarVenda().json_retorno, R"({"idLote":1})");
  EXPECT_EQ(client.postEnviarVenda().json_retorno, R"({"idLote":2})");
  EXPECT_EQ(client.getSolReenvioMovimientos().code_retorno, "200");
  EXPECT_EQ(platform.Requests().size(), 3u);
  EXPECT_EQ(platform.Connections(), 1);
}

TEST_F(KeptConnectionTest, AConnectionTheServerClosedIsOpenedAgainWithoutAnError) {
  EXPECT_EQ(client.postEnviarVenda().code_retorno, "200");
  platform.CloseConnections();
  EXPECT_EQ(client.postEnviarVenda().code_retorno, "200");
  EXPECT_EQ(platform.MovementsPerTill().at("3"), 2);
  EXPECT_EQ(platform.Requests().size(), 2u);
  EXPECT_EQ(platform.Connections(), 2);
}

TEST_F(KeptConnectionTest, ATimeOutOnTheKeptConnectionIsFollowedByAGoodRequest) {
  EXPECT_EQ(client.postEnviarVenda().code_retorno, "200");
  fake::Fault slow;
  slow.delay_ms = 3000;
  slow.times = 1;
  platform.AddFault(slow);
  HttpRequest request;
  request.method = "GET";
  request.url = platform.BaseUrl() + "/anything";
  request.receive_timeout_ms = 300;
  EXPECT_EQ(RestErrorOf([&] { transport->Send(request); }),
            "REST request failed: Error receiving data: (12002) The operation timed out");
  EXPECT_EQ(client.postEnviarVenda().json_retorno, R"({"idLote":2})");
  // The connection of the request that timed out is not used again.
  EXPECT_EQ(platform.Connections(), 2);
}

TEST(PlatformTransportState, NoCookieOrHeaderOfOneRequestReachesTheNext) {
  httplib::Server server;
  std::mutex mutex;
  std::vector<httplib::Headers> seen;
  auto record = [&](const httplib::Request& req) {
    std::lock_guard<std::mutex> lock(mutex);
    seen.push_back(req.headers);
  };
  server.Post("/old", [&](const httplib::Request& req, httplib::Response& res) {
    record(req);
    res.set_header("Set-Cookie", "sessao=abc; Path=/");
    res.set_redirect("/new", 303);
  });
  server.Get("/new", [&](const httplib::Request& req, httplib::Response& res) {
    record(req);
    res.set_content("cookie=" + req.get_header_value("Cookie"), "text/plain");
  });
  const int port = server.bind_to_any_port("127.0.0.1");
  std::thread t([&] { server.listen_after_bind(); });
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  auto transport = MakeSystemHttpTransport();

  HttpRequest post;
  post.method = "POST";
  post.url = base + "/old";
  post.headers = {{"Content-Type", "application/json"}, {"X-Only-Once", "1"}};
  post.body = "{}";
  const HttpResponse redirected = transport->Send(post);
  HttpRequest get;
  get.method = "GET";
  get.url = base + "/new";
  const HttpResponse alone = transport->Send(get);
  transport.reset();  // the kept connection would hold the server's stop

  while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  server.stop();
  t.join();
  // Within one request the redirection carries its cookie; the next request starts clean.
  EXPECT_EQ(redirected.body, "cookie=sessao=abc");
  EXPECT_EQ(alone.body, "cookie=");
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[2].count("X-Only-Once"), 0u);
  EXPECT_EQ(seen[2].count("Content-Type"), 0u);
  EXPECT_EQ(seen[2].count("Content-Length"), 0u);
}

// A server that serves one connection at a time and does with each request what its script
// says (requests past the script are answered): answer and keep the connection, end the
// connection without answering, or answer a byte at a time.
class ScriptedServer {
 public:
  enum class Step { kAnswer, kEndWithoutAnswer, kTrickle };

  explicit ScriptedServer(std::vector<Step> script) : script_(std::move(script)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listener_, 4);
    socklen_t len = sizeof a;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    stopping_ = true;
    shutdown(listener_, SHUT_RDWR);
    const int client = client_.load();
    if (client >= 0) shutdown(client, SHUT_RDWR);
    thread_.join();
    close(listener_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/x"; }
  int Requests() const { return requests_; }
  int Connections() const { return connections_; }

 private:
  void Serve() {
    while (!stopping_) {
      const int c = accept(listener_, nullptr, nullptr);
      if (c < 0) return;
      ++connections_;
      client_ = c;
      ServeConnection(c);
      client_ = -1;
      close(c);
    }
  }

  void ServeConnection(int c) {
    std::string in;
    for (;;) {
      // One whole request: the head, then as many body bytes as it announces.
      size_t head_end;
      while ((head_end = in.find("\r\n\r\n")) == std::string::npos) {
        if (!Receive(c, in)) return;
      }
      size_t length = 0;
      const size_t at = in.find("Content-Length: ");
      if (at != std::string::npos && at < head_end) length = std::stoul(in.substr(at + 16));
      while (in.size() < head_end + 4 + length) {
        if (!Receive(c, in)) return;
      }
      in.erase(0, head_end + 4 + length);
      const auto index = static_cast<size_t>(requests_++);
      const Step step = index < script_.size() ? script_[index] : Step::kAnswer;
      if (step == Step::kEndWithoutAnswer) return;
      if (step == Step::kTrickle) {
        // 300 bytes, one every 100 ms: half a minute for the whole answer.
        if (!Send(c, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 300\r\n\r\n"))
          return;
        for (int i = 0; i < 300 && !stopping_; ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          if (!Send(c, "x")) return;
        }
        continue;
      }
      if (!Send(c, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n\r\nok"))
        return;
    }
  }

  static bool Receive(int c, std::string& in) {
    char buf[4096];
    const ssize_t n = recv(c, buf, sizeof buf, 0);
    if (n <= 0) return false;
    in.append(buf, static_cast<size_t>(n));
    return true;
  }
  static bool Send(int c, const std::string& bytes) {
    return send(c, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }

  std::vector<Step> script_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<int> client_{-1};
  std::atomic<bool> stopping_{false};
  std::atomic<int> requests_{0};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

using Step = ScriptedServer::Step;

// The kept connection ends after the server read the request: it may have acted on it. A post
// is never sent twice by the transport (the caller hears the request failed and decides); a
// GET, which changes nothing, goes again on a new connection.
TEST(PlatformTransportResend, ARequestWhoseKeptConnectionEndsWithoutAnswer) {
  struct Case {
    const char* method;
    const char* error;  // "" when the request is answered
    int requests;       // as the server saw them
  };
  const Case cases[] = {
      {"POST",
       "REST request failed: Error receiving data: (12030) The connection with the server was "
       "terminated abnormally",
       2},
      {"GET", "", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    ScriptedServer server({Step::kAnswer, Step::kEndWithoutAnswer});
    auto transport = MakeSystemHttpTransport();
    HttpRequest request;
    request.method = c.method;
    request.url = server.Url();
    if (request.method == "POST") request.body = R"([{"numero":"1"}])";
    EXPECT_EQ(transport->Send(request).body, "ok");
    HttpResponse second;
    const std::string error = RestErrorOf([&] { second = transport->Send(request); });
    if (*c.error) {
      EXPECT_EQ(error, c.error);
    } else {
      EXPECT_EQ(error, "(no error)");
      EXPECT_EQ(second.body, "ok");
    }
    EXPECT_EQ(server.Requests(), c.requests);
  }
}

// Each byte comes well within the receive time-out; the whole request still ends at the
// connect time-out plus the receive time-out, long before the answer would be complete.
TEST(PlatformTransportDeadline, AnAnswerThatTricklesInEndsAsATimeOut) {
  ScriptedServer server({Step::kTrickle});
  auto transport = MakeSystemHttpTransport();
  HttpRequest request;
  request.method = "POST";
  request.url = server.Url();
  request.body = "{}";
  request.connect_timeout_ms = 1000;
  request.receive_timeout_ms = 1000;
  EXPECT_EQ(RestErrorOf([&] { transport->Send(request); }),
            "REST request failed: Error receiving data: (12002) The operation timed out");
  EXPECT_EQ(server.Requests(), 1);
}

}  // namespace
}  // namespace zv
