#pragma once
// TZentrovia: the service's only way to the platform. Each operation is one request with
// basic authentication; it returns the status and body and never judges them. A status of
// 500 or more, no answer at all, or an answer longer than 32 MiB raises ERESTException.

#include <cstdint>
#include <string>

#include "base/integration_settings.h"
#include "os/http_transport.h"

namespace zv {

struct TZentrovRetornos {
  std::string url;
  std::string code_retorno;
  std::string json_retorno;
};

class TZentrovia {
 public:
  // The client reads the account and addresses from the settings at every call.
  TZentrovia(IHttpTransport& transport, const IntegrationSettings& settings)
      : transport_(transport), settings_(settings) {}

  // The document the next post sends, and the till in its address.
  std::string RequestBody;
  std::string RequestTill;

  TZentrovRetornos postFechaCaixa();
  TZentrovRetornos postEnviarVenda();
  TZentrovRetornos postCancelarVenda();
  TZentrovRetornos getPromoAceitas();
  TZentrovRetornos getPromoRejeitadas();
  TZentrovRetornos getPromoPendentes();
  TZentrovRetornos getSolReenvioMovimientos();
  TZentrovRetornos getSolReenvioCierresDiarios();

  // How many post operations returned an answer since the client was made.
  uint64_t PostCount() const { return post_count_; }

 private:
  TZentrovRetornos Execute(const std::string& method, const std::string& path, bool post);
  std::string TillPath(const std::string& tail) const;
  std::string StorePath(const std::string& prefix, const std::string& tail) const;

  IHttpTransport& transport_;
  const IntegrationSettings& settings_;
  uint64_t post_count_ = 0;
};

}  // namespace zv
