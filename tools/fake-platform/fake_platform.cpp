#include "fake-platform/fake_platform.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "os/http_support.h"

namespace fake {

namespace {

using ojson = nlohmann::ordered_json;

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string DumpJson(const ojson& j) {
  return j.dump(-1, ' ', false, ojson::error_handler_t::replace);
}

// Whether any object in the document has "codigoBarras" equal to `code` (string or number).
bool HasArticle(const nlohmann::json& j, const std::string& code) {
  if (j.is_object()) {
    for (auto it = j.begin(); it != j.end(); ++it) {
      if (it.key() == "codigoBarras") {
        if (it->is_string() && it->get<std::string>() == code) return true;
        if (it->is_number() && it->dump() == code) return true;
      }
      if (HasArticle(*it, code)) return true;
    }
  } else if (j.is_array()) {
    for (const auto& e : j) {
      if (HasArticle(e, code)) return true;
    }
  }
  return false;
}

const std::regex kTillBatch(
    R"(/api-minoristas/api/v2/minoristas/([^/]*)/locales/([^/]*)/cajas/([^/]*)/(movimientos|cierresDiarios)/lotes$)");
const std::regex kPromotions(
    R"(/pmkt-rest-api/v2/minoristas/([^/]*)/locales/([^/]*)/promociones$)");
const std::regex kResendRequests(
    R"(/api-minoristas/api/v2/minoristas/([^/]*)/locales/([^/]*)/solicitudes/(movimientos|cierresDiarios)$)");

constexpr char kDefaultResend[] = "[]";
constexpr char kDefaultPromotions[] = R"({"results":[],"total":0})";

// The server's task queue: the server hands it each connection it accepts, so that what it
// is handed counts the connections.
class CountingTaskQueue : public httplib::TaskQueue {
 public:
  explicit CountingTaskQueue(std::atomic<int64_t>& connections)
      : connections_(connections), pool_(CPPHTTPLIB_THREAD_POOL_COUNT) {}
  void enqueue(std::function<void()> fn) override {
    ++connections_;
    pool_.enqueue(std::move(fn));
  }
  void shutdown() override { pool_.shutdown(); }

 private:
  std::atomic<int64_t>& connections_;
  httplib::ThreadPool pool_;
};

// Ends, from the server's side, every connection accepted on `port` of 127.0.0.1 in this
// process: a FIN to the client, no answer. The sockets stay open (the server's threads close
// them as they see the end), so no number is shut down after it was handed out again.
void ShutDownConnectionsOnPort(int port) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    int fd = -1;
    try {
      fd = std::stoi(entry.path().filename().string());
    } catch (const std::exception&) {
      continue;
    }
    sockaddr_in local{};
    sockaddr_in peer{};
    socklen_t len = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) != 0 ||
        local.sin_family != AF_INET || ntohs(local.sin_port) != port)
      continue;
    len = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) != 0) continue;  // listener
    ::shutdown(fd, SHUT_RDWR);
  }
}

}  // namespace

std::string RecordedRequest::Header(const std::string& name) const {
  const std::string wanted = Lower(name);
  for (const auto& [n, v] : headers) {
    if (Lower(n) == wanted) return v;
  }
  return std::string();
}

bool RecordedRequest::HasHeader(const std::string& name) const {
  const std::string wanted = Lower(name);
  for (const auto& [n, v] : headers) {
    if (Lower(n) == wanted) return true;
  }
  return false;
}

std::string RecordedRequest::ToJsonLine() const {
  ojson j;
  j["method"] = method;
  j["path"] = path;
  j["query"] = query;
  ojson h = ojson::object();
  for (const auto& [n, v] : headers) h[n] = v;
  j["headers"] = std::move(h);
  j["body"] = body;
  return DumpJson(j);
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct FakePlatform::Impl {
  Options options;
  httplib::Server server;
  std::atomic<int64_t> connections{0};
  std::thread listener;

  mutable std::mutex mutex;
  std::condition_variable stop_cv;
  bool stopping = false;
  std::vector<RecordedRequest> requests;
  std::ofstream record;
  std::map<std::string, std::string> article_errors;
  struct ActiveFault {
    Fault fault;
    std::string method;
    int skip = 0;
  };
  std::vector<ActiveFault> faults;
  int64_t next_lote = 1;
  std::map<std::string, int64_t> movements_per_till;
  std::map<std::string, int64_t> closings_per_till;
  std::map<std::string, int64_t> sales_per_till;
  std::map<std::string, int64_t> cancellations_per_till;
  std::map<std::string, std::map<std::string, int64_t>> closings_per_day;
  int64_t movement_batches = 0;
  int64_t closing_batches = 0;
  // Promotion GETs answered, by list: "ACEPTADA", "RECHAZADA", "PENDIENTE".
  std::map<std::string, int64_t> promotion_gets;

  void Handle(const httplib::Request& req, httplib::Response& res);
  bool ApplyFault(const std::string& method, const std::string& path, httplib::Response& res);
  void ClearCounts();
  void Answer(const std::string& method, const std::string& path, const std::string& query,
              const std::string& body, httplib::Response& res);
  // A list endpoint's answer: the file when one is set (read now), else the body or the
  // default.
  void AnswerList(const std::string& content, const std::string& file, const char* default_body,
                  httplib::Response& res);
  std::string Summary() const;
};

void FakePlatform::Impl::Handle(const httplib::Request& req, httplib::Response& res) {
  const std::string& target = req.target;
  const size_t q = target.find('?');
  const std::string path = target.substr(0, q);
  const std::string query = q == std::string::npos ? std::string() : target.substr(q + 1);

  if (path.rfind("/_fake/", 0) == 0) {
    if (path == "/_fake/summary") {
      res.set_content(Summary(), "application/json");
    } else if (path == "/_fake/requests") {
      std::lock_guard<std::mutex> lock(mutex);
      std::string lines;
      for (const RecordedRequest& r : requests) lines += r.ToJsonLine() + "\n";
      res.set_content(lines, "application/x-ndjson");
    } else if (path == "/_fake/reset" && req.method == "POST") {
      std::lock_guard<std::mutex> lock(mutex);
      requests.clear();
      ClearCounts();
      res.set_content("{}", "application/json");
    } else {
      res.status = 404;
      res.set_content(R"({"message":"unknown control path"})", "application/json");
    }
    return;
  }

  {
    RecordedRequest r;
    r.method = req.method;
    r.path = path;
    r.query = query;
    for (const auto& [n, v] : req.headers) {
      // Added by the server library itself, not sent by the client.
      if (n == "REMOTE_ADDR" || n == "REMOTE_PORT" || n == "LOCAL_ADDR" || n == "LOCAL_PORT")
        continue;
      r.headers.emplace_back(n, v);
    }
    r.body = req.body;
    std::lock_guard<std::mutex> lock(mutex);
    if (record.is_open()) {
      record << r.ToJsonLine() << '\n';
      record.flush();
    }
    requests.push_back(std::move(r));
  }

  if (ApplyFault(req.method, path, res)) return;

  std::string user, password;
  {
    std::lock_guard<std::mutex> lock(mutex);
    user = options.user;
    password = options.password;
  }
  const std::string expected = "Basic " + zv::Base64Encode(user + ":" + password);
  if (req.get_header_value("Authorization") != expected) {
    res.status = 401;
    res.set_content(R"({"appErrorCode":"ERROR_LOGIN"})", "application/json");
    return;
  }
  Answer(req.method, path, query, req.body, res);
}

void FakePlatform::Impl::ClearCounts() {
  movements_per_till.clear();
  closings_per_till.clear();
  sales_per_till.clear();
  cancellations_per_till.clear();
  closings_per_day.clear();
  movement_batches = closing_batches = 0;
  promotion_gets.clear();
}

bool FakePlatform::Impl::ApplyFault(const std::string& method, const std::string& path,
                                    httplib::Response& res) {
  Fault fault;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = faults.begin();
    for (; it != faults.end(); ++it) {
      const Fault& f = it->fault;
      if (f.times == 0 ||
          !(f.path_contains.empty() || path.find(f.path_contains) != std::string::npos) ||
          !(it->method.empty() || it->method == method))
        continue;
      if (it->skip > 0) {
        --it->skip;
        continue;
      }
      break;
    }
    if (it == faults.end()) return false;
    fault = it->fault;
    if (it->fault.times > 0) --it->fault.times;
  }
  if (fault.delay_ms > 0) {
    std::unique_lock<std::mutex> lock(mutex);
    stop_cv.wait_for(lock, std::chrono::milliseconds(fault.delay_ms), [&] { return stopping; });
  }
  if (fault.status == 0) return false;
  res.status = fault.status;
  res.set_content(fault.body, fault.content_type);
  return true;
}

void FakePlatform::Impl::Answer(const std::string& method, const std::string& path,
                                const std::string& query, const std::string& body,
                                httplib::Response& res) {
  std::smatch m;
  if (method == "POST" && std::regex_search(path, m, kTillBatch)) {
    const std::string till = m[3];
    const bool movement = m[4] == "movimientos";
    nlohmann::json doc = nlohmann::json::parse(body, nullptr, false);
    if (doc.is_discarded() || !doc.is_array()) {
      res.status = 400;
      res.set_content(R"({"errores":[{"error":{"message":"LOTE_INVALIDO"}}]})", "application/json");
      return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (movement) {
      for (const auto& [code, message] : article_errors) {
        if (HasArticle(doc, code)) {
          ojson e = {{"errores", ojson::array({{{"error", {{"message", message}}}}})}};
          res.status = 400;
          res.set_content(DumpJson(e), "application/json");
          return;
        }
      }
      movements_per_till[till] += static_cast<int64_t>(doc.size());
      ++movement_batches;
      for (const auto& movement : doc) {
        const bool cancellation = movement.is_object() && movement.contains("cancelacion") &&
                                  movement["cancelacion"].is_boolean() &&
                                  movement["cancelacion"].get<bool>();
        ++(cancellation ? cancellations_per_till : sales_per_till)[till];
      }
    } else {
      closings_per_till[till] += static_cast<int64_t>(doc.size());
      ++closing_batches;
      for (const auto& closing : doc) {
        const bool dated = closing.is_object() && closing.contains("fechaVentas") &&
                           closing["fechaVentas"].is_string();
        ++closings_per_day[dated ? closing["fechaVentas"].get<std::string>() : "?"][till];
      }
    }
    ojson answer = {{"idLote", next_lote++}};
    res.status = 200;
    res.set_content(DumpJson(answer), "application/json");
    return;
  }
  if (method == "GET" && std::regex_search(path, m, kPromotions)) {
    std::unique_lock<std::mutex> lock(mutex);
    std::string content, file;
    if (query == "estado=ACEPTADA") {
      content = options.promotions_accepted;
      file = options.promotions_accepted_file;
      ++promotion_gets["ACEPTADA"];
    } else if (query == "estado=RECHAZADA") {
      content = options.promotions_rejected;
      file = options.promotions_rejected_file;
      ++promotion_gets["RECHAZADA"];
    } else if (query.empty()) {
      content = options.promotions_pending;
      file = options.promotions_pending_file;
      ++promotion_gets["PENDIENTE"];
    } else {
      res.status = 400;
      res.set_content(R"({"message":"estado desconocido"})", "application/json");
      return;
    }
    lock.unlock();
    AnswerList(content, file, kDefaultPromotions, res);
    return;
  }
  if (method == "GET" && std::regex_search(path, m, kResendRequests)) {
    std::unique_lock<std::mutex> lock(mutex);
    const bool movements = m[3] == "movimientos";
    const std::string content = movements ? options.resend_movements : options.resend_closings;
    const std::string file =
        movements ? options.resend_movements_file : options.resend_closings_file;
    lock.unlock();
    AnswerList(content, file, kDefaultResend, res);
    return;
  }
  res.status = 404;
  res.set_content(R"({"message":"Not Found"})", "application/json");
}

void FakePlatform::Impl::AnswerList(const std::string& content, const std::string& file,
                                    const char* default_body, httplib::Response& res) {
  if (file.empty()) {
    res.set_content(content.empty() ? default_body : content, "application/json");
    return;
  }
  try {
    res.set_content(ReadFileText(file), "application/json");
  } catch (const std::exception& e) {
    res.status = 500;
    res.set_content(DumpJson({{"message", e.what()}}), "application/json");
  }
}

std::string FakePlatform::Impl::Summary() const {
  std::lock_guard<std::mutex> lock(mutex);
  ojson j;
  j["movimientos"] = ojson::object();
  for (const auto& [till, n] : movements_per_till) j["movimientos"][till] = n;
  j["cierresDiarios"] = ojson::object();
  for (const auto& [till, n] : closings_per_till) j["cierresDiarios"][till] = n;
  j["ventas"] = ojson::object();
  for (const auto& [till, n] : sales_per_till) j["ventas"][till] = n;
  j["cancelaciones"] = ojson::object();
  for (const auto& [till, n] : cancellations_per_till) j["cancelaciones"][till] = n;
  j["cierresPorDia"] = ojson::object();
  for (const auto& [day, tills] : closings_per_day) {
    for (const auto& [till, n] : tills) j["cierresPorDia"][day][till] = n;
  }
  j["lotesMovimientos"] = movement_batches;
  j["lotesCierresDiarios"] = closing_batches;
  j["promociones"] = ojson::object();
  for (const auto& [list, n] : promotion_gets) j["promociones"][list] = n;
  j["requests"] = requests.size();
  j["connections"] = connections.load();
  return DumpJson(j);
}

FakePlatform::FakePlatform(Options options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  impl_->server.new_task_queue = [this] { return new CountingTaskQueue(impl_->connections); };
  // An answer's header and body are written apart; without this the body would wait for the
  // acknowledgement of the header on a kept-alive connection, which a client may delay by up
  // to 40 ms.
  impl_->server.set_tcp_nodelay(true);
  // A kept-alive connection serves a whole catch-up, as a production server's does (the
  // server library's own default ends it after five requests).
  impl_->server.set_keep_alive_max_count(100000);
  auto handler = [this](const httplib::Request& req, httplib::Response& res) {
    impl_->Handle(req, res);
  };
  impl_->server.Get(".*", handler);
  impl_->server.Post(".*", handler);
  impl_->server.Put(".*", handler);
  impl_->server.Delete(".*", handler);
  impl_->server.Patch(".*", handler);
  impl_->server.Options(".*", handler);
}

FakePlatform::~FakePlatform() {
  Stop();
}

int FakePlatform::Start(int port) {
  if (!impl_->options.record_file.empty()) {
    impl_->record.open(impl_->options.record_file, std::ios::binary | std::ios::app);
    if (!impl_->record) throw std::runtime_error("cannot open " + impl_->options.record_file);
  }
  if (port == 0) {
    port = impl_->server.bind_to_any_port("127.0.0.1");
    if (port <= 0) throw std::runtime_error("cannot listen on 127.0.0.1");
  } else if (!impl_->server.bind_to_port("127.0.0.1", port)) {
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
  }
  port_ = port;
  // The socket listens from here on: connections wait in its queue until the loop runs.
  impl_->listener = std::thread([this] { impl_->server.listen_after_bind(); });
  return port_;
}

void FakePlatform::Stop() {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->stop_cv.notify_all();
  if (impl_->listener.joinable()) {
    // The loop may not have started yet; stop() takes effect only once it has.
    while (!impl_->server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    impl_->server.stop();
    // A kept-alive connection would hold its worker (and so this join) until the server's
    // keep-alive time-out; ending the connections lets the workers go at once.
    ShutDownConnectionsOnPort(port_);
    impl_->listener.join();
  }
}

std::string FakePlatform::BaseUrl() const {
  return "http://127.0.0.1:" + std::to_string(port_);
}

std::vector<RecordedRequest> FakePlatform::Requests() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->requests;
}

void FakePlatform::ClearRequests() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->requests.clear();
}

void FakePlatform::SetCredentials(const std::string& user, const std::string& password) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->options.user = user;
  impl_->options.password = password;
}

void FakePlatform::SetArticleError(const std::string& codigo_barras, const std::string& message) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->article_errors[codigo_barras] = message;
}

void FakePlatform::ClearArticleErrors() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->article_errors.clear();
}

void FakePlatform::AddFault(const Fault& fault) {
  AddFault(fault, std::string(), 0);
}

void FakePlatform::AddFault(const Fault& fault, const std::string& method, int skip) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->faults.push_back(Impl::ActiveFault{fault, method, skip});
}

void FakePlatform::ClearFaults() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->faults.clear();
}

void FakePlatform::SetResendMovements(const std::string& body) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->options.resend_movements = body;
}

void FakePlatform::SetResendClosings(const std::string& body) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->options.resend_closings = body;
}

void FakePlatform::SetResendMovementsFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->options.resend_movements_file = path;
}

void FakePlatform::SetResendClosingsFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->options.resend_closings_file = path;
}

void FakePlatform::SetPromotionsAccepted(const std::string& body) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->options.promotions_accepted = body;
}

void FakePlatform::SetPromotionsRejected(const std::string& body) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->options.promotions_rejected = body;
}

std::map<std::string, int64_t> FakePlatform::MovementsPerTill() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->movements_per_till;
}

std::map<std::string, int64_t> FakePlatform::ClosingsPerTill() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->closings_per_till;
}

std::map<std::string, int64_t> FakePlatform::SalesPerTill() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->sales_per_till;
}

std::map<std::string, int64_t> FakePlatform::CancellationsPerTill() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->cancellations_per_till;
}

std::map<std::string, std::map<std::string, int64_t>> FakePlatform::ClosingsPerDayAndTill() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->closings_per_day;
}

std::map<std::string, int64_t> FakePlatform::PromotionGets() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->promotion_gets;
}

int64_t FakePlatform::Connections() const {
  return impl_->connections.load();
}

void FakePlatform::CloseConnections() {
  ShutDownConnectionsOnPort(port_);
}

std::string FakePlatform::SummaryJson() const {
  return impl_->Summary();
}

}  // namespace fake
