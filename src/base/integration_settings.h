#pragma once
// The platform account and every cursor of the service, read from the store's `padrao` row.
// Each member is named after its column alias in the settings query.

#include <cstdint>
#include <string>

#include "base/datetime.h"

namespace zv {

struct IntegrationSettings {
  std::string zentrovia_usuario;
  std::string zentrovia_senha;
  std::string zentrovia_url1;
  std::string zentrovia_url2;
  std::string zentrovia_url3;
  std::string zentrovia_idempresa;
  int64_t zentrovia_intervalo = 0;
  std::string zentrovia_idlocal;
  DateTime zentrovia_datainicio;
  int64_t zentrovia_ultvenda = 0;
  int64_t zentrovia_ultcancelamento = 0;
  DateTime zentrovia_ultcaixa;
  DateTime zentrovia_verificapromo;
  DateTime zentrovia_verificareenvio;
  std::string cnpj;
};

}  // namespace zv
