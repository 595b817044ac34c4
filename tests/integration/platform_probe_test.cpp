// The connectivity probe's request, and TLS as the platform client sees it, on loopback.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/errors.h"
#include "os/system.h"
#include "service/srv_zentrovia.h"
#include "support/loopback.h"
#include "support/temp_dir.h"

namespace zv {
namespace {

using test::ClosedPort;

// An httplib server on 127.0.0.1 that answers 404 to everything and notes what it saw.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::unique_ptr<httplib::Server> server) : server_(std::move(server)) {
    // Noted before the answer goes out, so the client never sees an answer not yet counted.
    server_->Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(mutex_);
      ++requests_;
      method_ = req.method;
      path_ = req.path;
      user_agent_ = req.get_header_value("User-Agent");
      res.status = 404;
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
  }
  ~LoopbackServer() {
    while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server_->stop();
    thread_.join();
  }
  int port() const { return port_; }
  int requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  std::string method() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return method_;
  }
  std::string path() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
  }
  std::string user_agent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return user_agent_;
  }

 private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
  mutable std::mutex mutex_;
  int requests_ = 0;
  std::string method_, path_, user_agent_;
};

// A throwaway self-signed certificate for a name that is not the one the client asks for.
class SelfSignedCert {
 public:
  SelfSignedCert() {
    const std::string cmd =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=elsewhere.example -keyout '" +
        key() + "' -out '" + cert() + "' >/dev/null 2>&1";
    ok_ = std::system(cmd.c_str()) == 0;
  }
  bool ok() const { return ok_; }
  std::string cert() const { return (dir_.path() / "cert.pem").string(); }
  std::string key() const { return (dir_.path() / "key.pem").string(); }

 private:
  test::TempDir dir_;
  bool ok_ = false;
};

class ProxyEnvironment {
 public:
  // Every proxy variable points at a port where nothing listens.
  explicit ProxyEnvironment(int dead_port) {
    const std::string proxy = "http://127.0.0.1:" + std::to_string(dead_port);
    for (const char* name : kNames) setenv(name, proxy.c_str(), 1);
  }
  ~ProxyEnvironment() {
    for (const char* name : kNames) unsetenv(name);
  }

 private:
  static constexpr const char* kNames[] = {"http_proxy", "https_proxy", "HTTPS_PROXY", "ALL_PROXY",
                                           "all_proxy"};
};

TEST(PlatformProbe, AnyAnswerOverHttpCounts) {
  LoopbackServer server(std::make_unique<httplib::Server>());
  auto tester = MakeSystemUrlTester();
  EXPECT_TRUE(tester->TestUrl(ProbeHost{"127.0.0.1", server.port(), ClosedPort()}, false));
  EXPECT_EQ(server.requests(), 1);
  EXPECT_EQ(server.method(), "HEAD");
  EXPECT_EQ(server.path(), "/");
  EXPECT_EQ(server.user_agent(), "Orbelune");
}

TEST(PlatformProbe, ClosedPortsAndUnknownNamesDoNotCount) {
  auto tester = MakeSystemUrlTester();
  const ProbeHost closed{"127.0.0.1", ClosedPort(), ClosedPort()};
  EXPECT_FALSE(tester->TestUrl(closed, false));
  EXPECT_FALSE(tester->TestUrl(closed, true));
  EXPECT_FALSE(tester->TestUrl(ProbeHost{"probe-host.invalid", 80, 443}, false));
}

TEST(PlatformProbe, GoesDirectWhateverTheProxySettings) {
  LoopbackServer server(std::make_unique<httplib::Server>());
  ProxyEnvironment proxies(ClosedPort());
  EXPECT_TRUE(MakeSystemUrlTester()->TestUrl(ProbeHost{"127.0.0.1", server.port(), 443}, false));
}

TEST(PlatformProbe, ASelfSignedCertificateForAnotherNameStillCounts) {
  SelfSignedCert cert;
  ASSERT_TRUE(cert.ok()) << "openssl could not make a certificate";
  LoopbackServer server(
      std::make_unique<httplib::SSLServer>(cert.cert().c_str(), cert.key().c_str()));
  auto tester = MakeSystemUrlTester();
  const ProbeHost host{"127.0.0.1", ClosedPort(), server.port()};
  EXPECT_FALSE(tester->TestUrl(host, false));
  EXPECT_TRUE(tester->TestUrl(host, true));
  EXPECT_EQ(server.method(), "HEAD");
}

TEST(PlatformProbe, TheServiceTriesHostsUntilOneAnswers) {
  LoopbackServer server(std::make_unique<httplib::Server>());
  auto tester = MakeSystemUrlTester();
  struct NoTransport : IHttpTransport {
    HttpResponse Send(const HttpRequest&) override { throw ERESTException("unused"); }
  } transport;
  test::TempDir dir;
  ManualClock clock;
  ManualTimer timer;
  ServiceEnvironment env;
  env.clock = &clock;
  env.timer = &timer;
  env.transport = &transport;
  env.url_tester = tester.get();
  env.exe_dir = dir.dir();
  env.probe_hosts = {{"127.0.0.1", ClosedPort(), ClosedPort()},
                     {"127.0.0.1", server.port(), ClosedPort()}};
  TSrvZentrovia module(env);
  EXPECT_TRUE(module.isInternetOk());
  EXPECT_EQ(server.requests(), 1);
}

TEST(PlatformTls, TheClientChecksCertificates) {
  SelfSignedCert cert;
  ASSERT_TRUE(cert.ok()) << "openssl could not make a certificate";
  LoopbackServer server(
      std::make_unique<httplib::SSLServer>(cert.cert().c_str(), cert.key().c_str()));
  HttpRequest request;
  request.method = "GET";
  request.url = "https://127.0.0.1:" + std::to_string(server.port()) + "/";
  try {
    MakeSystemHttpTransport()->Send(request);
    FAIL() << "an unknown certificate was accepted";
  } catch (const ERESTException& e) {
    EXPECT_STREQ(e.what(),
                 "REST request failed: Error sending data: (12175) A security error occurred");
  }
  EXPECT_EQ(server.requests(), 0);
}

}  // namespace
}  // namespace zv
