#pragma once
// A stand-in for the retail platform's REST API on 127.0.0.1: it answers every endpoint the
// service calls with the shapes the service reads, checks basic authentication, and records
// every request it receives (in memory and, when asked, as one JSON line each in a file).
//
// Endpoints are recognised by their path under any base, so a service whose base address is
// http://127.0.0.1:PORT or http://127.0.0.1:PORT/some/prefix/ reaches the same handlers.
// Paths under /_fake/ are the fake's own (no authentication, not recorded):
//   GET  /_fake/summary   counts: movement and closing batches per till, sales and
//                         cancellations per till, closings per day and till, requests,
//                         connections accepted
//   GET  /_fake/requests  the recorded requests, one JSON line each
//   POST /_fake/reset     forget the recorded requests and the counts

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fake {

struct RecordedRequest {
  std::string method;
  std::string path;   // as sent, before any decoding
  std::string query;  // the text after '?', as sent
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The value of a header (name without regard to case), "" when absent.
  std::string Header(const std::string& name) const;
  bool HasHeader(const std::string& name) const;
  // One JSON object on one line.
  std::string ToJsonLine() const;
};

struct Options {
  std::string user = "zentrovia";
  std::string password = "zentrovia";
  std::string record_file;  // empty: record in memory only
  // Bodies of the GET endpoints; empty means the built-in default ("[]" for the resend
  // requests, {"results":[],"total":0} for promotions).
  std::string resend_movements;
  std::string resend_closings;
  std::string promotions_accepted;
  std::string promotions_rejected;
  std::string promotions_pending;
  // Files that answer the same GET endpoints, read again at every request, so that a list
  // can change while the fake runs. An empty file answers an empty body (not "[]"); a file
  // that cannot be read answers 500. A file set here wins over the body above.
  std::string resend_movements_file;
  std::string resend_closings_file;
  std::string promotions_accepted_file;
  std::string promotions_rejected_file;
  std::string promotions_pending_file;
};

// An answer the fake gives in place of its normal one.
struct Fault {
  std::string path_contains;  // empty: every endpoint
  int status = 0;             // 0: the normal answer (after the delay)
  std::string body;
  std::string content_type = "application/json";
  int delay_ms = 0;
  int times = -1;  // how many requests it applies to; -1: until cleared
};

class FakePlatform {
 public:
  explicit FakePlatform(Options options = Options());
  ~FakePlatform();
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  // Starts listening on 127.0.0.1 (port 0: any free port) and returns the port. Throws
  // std::runtime_error when the port cannot be bound.
  int Start(int port = 0);
  // Stops listening; waits for the running answers. Called by the destructor.
  void Stop();
  int port() const { return port_; }
  // "http://127.0.0.1:PORT"
  std::string BaseUrl() const;

  std::vector<RecordedRequest> Requests() const;
  void ClearRequests();

  // Behaviour, changeable while running.
  void SetCredentials(const std::string& user, const std::string& password);
  // A posted movement whose detail has this "codigoBarras" gets an error list with `message`.
  void SetArticleError(const std::string& codigo_barras,
                       const std::string& message = "ARTICULO_NO_ENCONTRADO");
  void ClearArticleErrors();
  void AddFault(const Fault& fault);
  // The same, for requests with this method only ("" every method), and only after the first
  // `skip` matching requests, which get the normal answer. "The second closing post answers
  // 503": AddFault({"/cierresDiarios/", 503, "busy", "text/plain", 0, 1}, "POST", 1).
  void AddFault(const Fault& fault, const std::string& method, int skip);
  void ClearFaults();
  void SetResendMovements(const std::string& body);
  void SetResendClosings(const std::string& body);
  // The file that answers the list from now on (read at every GET); "" goes back to the body.
  void SetResendMovementsFile(const std::string& path);
  void SetResendClosingsFile(const std::string& path);
  void SetPromotionsAccepted(const std::string& body);
  void SetPromotionsRejected(const std::string& body);

  // Movement and closing batches accepted so far, per till.
  std::map<std::string, int64_t> MovementsPerTill() const;
  std::map<std::string, int64_t> ClosingsPerTill() const;
  // Of the accepted movements: sales ("cancelacion" not true) and cancellations, per till.
  std::map<std::string, int64_t> SalesPerTill() const;
  std::map<std::string, int64_t> CancellationsPerTill() const;
  // Accepted closings per day ("fechaVentas") and till.
  std::map<std::string, std::map<std::string, int64_t>> ClosingsPerDayAndTill() const;
  // Promotion GETs answered, per list: "ACEPTADA", "RECHAZADA", "PENDIENTE".
  std::map<std::string, int64_t> PromotionGets() const;
  // Connections accepted since the fake started (the ones of /_fake/ requests too).
  int64_t Connections() const;
  // Ends every open connection from the fake's side without an answer, as a server does that
  // closes a kept-alive connection after a while idle.
  void CloseConnections();
  // The summary that GET /_fake/summary returns.
  std::string SummaryJson() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int port_ = 0;
};

// Reads a whole file; throws std::runtime_error when it cannot.
std::string ReadFileText(const std::string& path);

}  // namespace fake
