#include "platform/zentrovia_client.h"

#include "base/errors.h"
#include "os/http_support.h"

namespace zv {

namespace {
constexpr long kConnectTimeoutMs = 30000;
constexpr long kReceiveTimeoutMs = 30000;
constexpr char kPdvVersion[] = "9.0.0";
constexpr char kBackendVersion[] = "1.0.0";
// No answer of the platform comes near this; a longer one (a runaway list, a wrong address
// serving a file) would otherwise be held whole in memory.
constexpr size_t kMaxAnswerBytes = 32u << 20;
}  // namespace

TZentrovRetornos TZentrovia::Execute(const std::string& method, const std::string& path,
                                     bool post) {
  TZentrovRetornos result;
  result.url = settings_.zentrovia_url1 + path;

  HttpRequest request;
  request.method = method;
  request.url = result.url;
  request.connect_timeout_ms = kConnectTimeoutMs;
  request.receive_timeout_ms = kReceiveTimeoutMs;
  request.max_body_bytes = kMaxAnswerBytes;
  request.headers.emplace_back(
      "Authorization",
      "Basic " + Base64Encode(settings_.zentrovia_usuario + ":" + settings_.zentrovia_senha));
  request.headers.emplace_back("pdv-version", kPdvVersion);
  request.headers.emplace_back("backend-version", kBackendVersion);
  if (post) {
    request.headers.emplace_back("Content-Type", "application/json");
    request.body = RequestBody;
  }
  request.headers.emplace_back("Accept", "application/json, text/plain; q=0.9, text/html;q=0.8,");
  request.headers.emplace_back("Accept-Charset", "utf-8, *;q=0.8");

  HttpResponse response = transport_.Send(request);
  if (response.status >= 500)
    throw ERESTException(
        HttpStatusErrorMessage(response.protocol, response.status, response.reason));

  result.code_retorno = std::to_string(response.status);
  result.json_retorno = std::move(response.body);
  if (post) ++post_count_;
  return result;
}

std::string TZentrovia::TillPath(const std::string& tail) const {
  return "/api-minoristas/api/v2/minoristas/" + settings_.zentrovia_idempresa + "/locales/" +
         settings_.zentrovia_idlocal + "/cajas/" + RequestTill + tail;
}

std::string TZentrovia::StorePath(const std::string& prefix, const std::string& tail) const {
  return prefix + settings_.zentrovia_idempresa + "/locales/" + settings_.zentrovia_idlocal + tail;
}

TZentrovRetornos TZentrovia::postFechaCaixa() {
  return Execute("POST", TillPath("/cierresDiarios/lotes"), true);
}

TZentrovRetornos TZentrovia::postEnviarVenda() {
  return Execute("POST", TillPath("/movimientos/lotes"), true);
}

TZentrovRetornos TZentrovia::postCancelarVenda() {
  return Execute("POST", TillPath("/movimientos/lotes"), true);
}

TZentrovRetornos TZentrovia::getPromoAceitas() {
  return Execute("GET", StorePath("/pmkt-rest-api/v2/minoristas/", "/promociones?estado=ACEPTADA"),
                 false);
}

TZentrovRetornos TZentrovia::getPromoRejeitadas() {
  return Execute("GET", StorePath("/pmkt-rest-api/v2/minoristas/", "/promociones?estado=RECHAZADA"),
                 false);
}

TZentrovRetornos TZentrovia::getPromoPendentes() {
  return Execute("GET", StorePath("/pmkt-rest-api/v2/minoristas/", "/promociones"), false);
}

TZentrovRetornos TZentrovia::getSolReenvioMovimientos() {
  return Execute("GET", StorePath("/api-minoristas/api/v2/minoristas/", "/solicitudes/movimientos"),
                 false);
}

TZentrovRetornos TZentrovia::getSolReenvioCierresDiarios() {
  return Execute(
      "GET", StorePath("/api-minoristas/api/v2/minoristas/", "/solicitudes/cierresDiarios"), false);
}

}  // namespace zv
